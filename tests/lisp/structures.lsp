;;; DEFSTRUCT: constructors, accessors as places, inclusion, predicates,
;;; copiers, printing and typed structures; then a FIFO queue as a
;;; structure, used for a breadth-first search.

(defvar *count* 0)

(defstruct point x (y 0) (tag (setq *count* (+ *count* 1))))

;; Initforms run at each construction, and only for slots not given.  The
;; type is known to TYPEP, TYPE-OF, CLASS-OF and FIND-CLASS.
(let ((a (make-point :x 1)) (b (make-point :x 2 :tag 'given)) (c (make-point)))
  (list (point-x a) (point-y a) (point-tag a) (point-tag b) (point-tag c) (point-x c)
        (point-p a) (point-p 'point) (point-p (list 1)) (typep a 'point)
        (typep a 'structure-object) (typep 5 'point) (type-of a)
        (eq (class-of a) (find-class 'point))))
=> (1 0 1 GIVEN 2 NIL T NIL NIL T T NIL POINT T)

;; Accessors are places; their object is evaluated once.
(let ((p (make-point :x 1 :y (list 'a))) (n 0))
  (list (setf (point-x p) 10) (incf (point-x (progn (setq n (+ n 1)) p)) 5) n
        (push 'b (point-y p)) (pop (point-y p)) (rotatef (point-x p) (point-y p)) p))
=> (10 15 1 (B A) B NIL #S(POINT :X (A) :Y 15 :TAG 3))

;; An accessor, its SETF or a copier applied to anything else is an error.
(point-x 5)
!! 5170 5

(setf (point-y (list 1)) 2)
!! 5170 (1)

(copy-structure 'point)
!! 5170 POINT

;; The copier makes a new instance sharing the slot values.
(let* ((p (make-point :x 1 :y (list 2))) (q (copy-point p)))
  (setf (point-x q) 'changed)
  (list p q (eq p q) (eq (point-y p) (point-y q))))
=> (#S(POINT :X 1 :Y (2) :TAG 4) #S(POINT :X CHANGED :Y (2) :TAG 4) NIL T)

;; :INCLUDE puts the parent's slots first, with overridden defaults; the
;; parent's accessors and predicate accept the child.
(defstruct (point3 (:include point (y 7) (tag 'three))) (z (list 1 2)))

(let ((q (make-point3 :x 1 :z 'zz)))
  (list (copy-point3 q) (point-p q) (point3-p q) (point-x q) (point3-y q)
        (point3-p (make-point)) (subtypep 'point3 'point) (subtypep 'point 'point3)
        (progn (setf (point-x q) 'via-parent) (point3-x q))
        (eq (class-of (copy-structure q)) (find-class 'point3))))
=> (#S(POINT3 :X 1 :Y 7 :TAG THREE :Z ZZ) T T 1 7 NIL T NIL VIA-PARENT T)

;; Options: conc-name, a BOA constructor with every kind of parameter, a
;; second constructor, predicate and copier names, read-only slots.
(defstruct (kid (:constructor new-kid (name &optional (age 3) &rest toys
                                       &aux (count (length toys))))
                (:constructor make-kid)
                (:conc-name k-) (:predicate kiddo?) (:copier clone-kid))
  name age toys count (note "n" :read-only t))

(list (new-kid "ann") (new-kid "bob" 7 'car 'ball) (make-kid :age 1)
      (kiddo? (new-kid "x")) (k-note (clone-kid (new-kid "x"))))
=> (#S(KID :NAME "ann" :AGE 3 :TOYS NIL :COUNT 0 :NOTE "n")
=>  #S(KID :NAME "bob" :AGE 7 :TOYS (CAR BALL) :COUNT 2 :NOTE "n")
=>  #S(KID :NAME NIL :AGE 1 :TOYS NIL :COUNT NIL :NOTE "n") T "n")

(setf (k-note (new-kid "x")) 3)
!! 4160 (K-NOTE (NEW-KID "x"))

(defstruct (pair (:constructor pair (left right &key (weight (+ left right)))))
  left right weight)

(defstruct (node (:conc-name nil) (:constructor make-node (label &optional next)))
  label next)

(let ((n (make-node 'a (make-node 'b))))
  (setf (label (next n)) 'c)
  (list (pair 1 2) (pair 1 2 :weight 0) (label n) (label (next n))))
=> (#S(PAIR :LEFT 1 :RIGHT 2 :WEIGHT 3) #S(PAIR :LEFT 1 :RIGHT 2 :WEIGHT 0) A C)

;; Printing follows the escaping, *PRINT-LENGTH* and *PRINT-LEVEL* (which
;; also stops a circular structure); a print function replaces it.
(let ((p (make-point :x "s" :y #\c :tag 'tg)) (c (make-node 1)))
  (setf (next c) c)
  (list (write-to-string p) (write-to-string p :escape nil) (write-to-string p :length 2)
        (write-to-string (list (list p)) :level 1) (write-to-string c :level 2)))
=> ("#S(POINT :X \"s\" :Y #\\c :TAG TG)" "#S(POINT :X s :Y c :TAG TG)"
=>  "#S(POINT :X \"s\" :Y #\\c ...)" "(#)" "#S(NODE :LABEL 1 :NEXT #S(NODE :LABEL 1 :NEXT #))")

(defstruct (money (:print-function (lambda (m stream depth) (format stream "$~D" (money-cents m)))))
  cents)

(defstruct (tagged (:print-object (lambda (x stream) (format stream "<~A>" (tagged-name x)))))
  name)

(list (make-money :cents 5) (write-to-string (make-tagged :name (make-money :cents 7)))
      (find-class 'point))
=> ($5 "<$7>" #<STRUCTURE-CLASS POINT>)

;; Typed structures are lists and vectors; only named ones have a predicate.
(defstruct (lpoint (:type list) :named) a (b 2))

(defstruct (vpoint (:type vector) (:initial-offset 1)) a b)

(defstruct (lpoint3 (:type list) (:include lpoint) :named) c)

(let ((l (make-lpoint :a 1)) (v (make-vpoint :a 1 :b 2)) (l3 (make-lpoint3 :c 3)))
  (setf (lpoint-b l) 'bb (vpoint-a v) 'aa)
  (incf (lpoint3-c l3))
  (list l v l3 (lpoint-p l3) (lpoint3-p l) (copy-lpoint l) (fboundp 'vpoint-p)))
=> ((LPOINT 1 BB) #(NIL AA 2) (LPOINT NIL 2 LPOINT3 4) T NIL (LPOINT 1 BB) NIL)

;; Redefinition with the same slots keeps existing instances of the type.
(let ((p (make-point :x 1)))
  (defstruct point x (y 0) (tag (setq *count* (+ *count* 1))))
  (list (point-p p) (point-x p)))
=> (T 1)

;; Other type names, bad options and bad slots are refused.
(defstruct cons a)
!! 4177 CONS

(defstruct (bad (:no-such-option 1)) a)
!! 5170 (:NO-SUCH-OPTION 1)

(defstruct (bad (:include no-such-structure)) a)
!! 4176 NO-SUCH-STRUCTURE

(defstruct (bad (:include point (w 1))) a)
!! 5170 (W 1)

(defstruct twice a b a)
!! 5170 A

;;; A FIFO queue with head and tail pointers, and a breadth-first search.

(defstruct (queue (:constructor make-queue ())) (head nil) (tail nil))

(defun queue-empty-p (q) (null (queue-head q)))

(defun enqueue (q item)
  (let ((cell (list item)))
    (if (queue-head q)
        (setf (cdr (queue-tail q)) cell)
        (setf (queue-head q) cell))
    (setf (queue-tail q) cell)
    item))

(defun dequeue (q)
  (let ((item (pop (queue-head q))))
    (when (null (queue-head q)) (setf (queue-tail q) nil))
    item))

(defparameter *graph*
  '((a b c) (b d) (c d e) (d f) (e f) (f) (g a)))

;; The shortest path from START to GOAL along the edges of *GRAPH*.
(defun bfs (start goal)
  (let ((q (make-queue)) (parent (make-hash-table)))
    (setf (gethash start parent) start)
    (enqueue q start)
    (loop
      (when (queue-empty-p q) (return nil))
      (let ((node (dequeue q)))
        (when (eq node goal)
          (return (let ((path (list goal)))
                    (loop (when (eq (car path) start) (return path))
                          (push (gethash (car path) parent) path)))))
        (dolist (next (cdr (assoc node *graph*)))
          (unless (gethash next parent)
            (setf (gethash next parent) node)
            (enqueue q next)))))))

(list (bfs 'a 'f) (bfs 'c 'f) (bfs 'g 'e) (bfs 'f 'a) (bfs 'a 'a))
=> ((A B D F) (C D F) (G A C E) NIL (A))

(let ((q (make-queue)) (out nil))
  (dotimes (i 3) (enqueue q i))
  (push (dequeue q) out)
  (enqueue q 'x)
  (loop (when (queue-empty-p q) (return)) (push (dequeue q) out))
  (list (reverse out) q))
=> ((0 1 2 X) #S(QUEUE :HEAD NIL :TAIL NIL))

(let ((q (make-queue)) (sum 0))
  (dotimes (i 20000) (enqueue q (make-point :x i)))
  (loop (when (queue-empty-p q) (return sum))
        (incf sum (point-x (dequeue q)))))
=> 199990000
