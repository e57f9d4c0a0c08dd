;;; The kernel's help for the object system, driven by hand: callable
;;; instances, dispatch caches, raw instance words, and instances brought up
;;; to date when their class has changed.

;; A class made by hand whose instances are callable (flag 0x10000 in
;; word 3) and stamped (flag 0x20000): word 1 of an instance is its stamp,
;; word 2 what a call of it runs.
(defun make-test-class (name size flags number slots)
  (let ((c (allocate-instance (find-class 'standard-class))))
    (dotimes (i 9) (%set-slot-value c (+ i 1) nil))
    (%set-slot-value c 1 name)
    (%set-slot-value c 2 (list c (find-class 'function) (find-class t)))
    (%set-slot-value c 3 (+ size flags))
    (%set-slot-value c 4 number)
    (%set-slot-value c 7 slots)
    (%make-into-class c)))

(defvar *fc* (make-test-class 'callable 4 196608 9001 (list (vector 'label 3 nil nil))))

(defvar *f* (allocate-instance *fc* 9001 (lambda (x) (list 'called x)) 'my-label))

;; Called everywhere a function is.
(setf (symbol-function 'call-me) *f*)

(list (funcall *f* 1) (apply *f* '(2)) (mapcar *f* '(3 4)) (call-me 5) (funcall 'call-me 6)
      (functionp *f*) (functionp (allocate-instance (find-class 'directory-entry))))
=> ((CALLED 1) (CALLED 2) ((CALLED 3) (CALLED 4)) (CALLED 5) (CALLED 6) T NIL)

;; What it runs may be another callable object; a word 2 that is no
;; function makes it an undefined function.
(list (funcall (allocate-instance *fc* 9001 *f*) 7) (slot-value *f* 'label))
=> ((CALLED 7) MY-LABEL)

(funcall (allocate-instance *fc* 9001 42) 1)
!! 5169

;; A dispatch cache: miss function, key count, EQL lists, entry count, then
;; 8 entries of 2 words.
(defun make-cache (keys eqls)
  (let ((v (make-array (+ 4 (* 8 (+ keys 1))) :initial-element nil)))
    (setf (svref v 0) (lambda (&rest args) (cons 'miss args))
          (svref v 1) keys (svref v 2) eqls (svref v 3) 0)
    v))

(progn (%instance-set *f* 2 (make-cache 1 nil)) (list (call-me 1) (call-me "s")))
=> ((MISS 1) (MISS "s"))

;; Entries are keyed by the class of the argument; full caches are
;; replaced by larger ones.
(let ((cache (%instance-ref *f* 2)))
  (setq cache (%dispatch-cache-add cache '(1) (lambda (x) (list 'integer x))))
  (setq cache (%dispatch-cache-add cache '("s") (lambda (x) (list 'string x))))
  (%instance-set *f* 2 cache)
  (list (call-me 8) (call-me 80000000000) (call-me "t") (call-me 'sym) (svref cache 3)))
=> ((INTEGER 8) (INTEGER 80000000000) (STRING "t") (MISS SYM) 2)

(let ((cache (%instance-ref *f* 2)) (classes nil))
  (dotimes (i 40)
    (let ((c (make-test-class 'many 2 0 (+ 100 i) nil)))
      (setq classes (cons c classes))
      (setq cache (%dispatch-cache-add cache (list (allocate-instance c)) (let ((k i)) (lambda (x) k))))))
  (%instance-set *f* 2 cache)
  (list (svref cache 3) (> (length cache) 100)
        (mapcar (lambda (c) (call-me (allocate-instance c))) (list (car classes) (car (last classes))))
        (call-me 8)))
=> (42 T (39 0) (INTEGER 8))

;; Two keys, and EQL lists: an argument an EQL specialiser names keys by
;; itself; any other by its class.
(let ((cache (make-cache 2 (vector nil (list :a 300000000000)))))
  (setq cache (%dispatch-cache-add cache '(1 :a) (lambda (x y) 'one-a)))
  (setq cache (%dispatch-cache-add cache '(1 :b) (lambda (x y) 'one-keyword)))
  (setq cache (%dispatch-cache-add cache '(1 300000000000) (lambda (x y) 'one-big)))
  (%instance-set *f* 2 cache)
  (list (call-me 2 :a) (call-me 2 :c) (call-me 2 300000000000) (call-me 2 300000000001)
        (call-me "x" :a) (call-me 1)))
=> (ONE-A ONE-KEYWORD ONE-BIG (MISS 2 300000000001) (MISS "x" :A) (MISS 1))

;; Raw words: no slot definitions, no unbound-slot call; a missing value
;; makes the word unbound.
(let ((x (allocate-instance *fc* 1 2)))
  (list (%instance-ref x 1) (%instance-ref x 3 'unbound) (%instance-set x 3 'v)
        (%instance-ref x 3) (%instance-set x 3) (%instance-ref x 3 'gone)
        (eq (%instance-ref x 0) *fc*)))
=> (1 UNBOUND V V NIL GONE T)

(%instance-ref *f* 4)
!! 5170 4

(%instance-ref 'symbol 0)
!! 5170 SYMBOL

;; An instance whose stamp is not its class's number is handed to
;; %UPDATE-OBSOLETE-INSTANCE before any slot of it is touched; what that
;; returns holds the slots from then on.
(defvar *old* (allocate-instance *fc* 9000 nil 'old-label))

(defvar *replacement* (allocate-instance *fc* 9001 nil 'new-label))

(defvar *updates* nil)

(defun %update-obsolete-instance (x)
  (setq *updates* (cons (%instance-ref x 3) *updates*))
  (if (eq (%instance-ref x 3) 'old-label) *replacement* x))

(list (slot-value *old* 'label) (slot-value *f* 'label) *updates*
      (progn (setf (slot-value *old* 'label) 'set) (slot-value *replacement* 'label))
      (slot-boundp *old* 'label) (progn (slot-makunbound *old* 'label) (slot-boundp *replacement* 'label))
      (%instance-ref *old* 3) (length *updates*))
=> (NEW-LABEL MY-LABEL (OLD-LABEL) SET T NIL OLD-LABEL 4)

;; Hash tables and streams have the classes registered under their names.
(list (class-name (class-of (make-hash-table))) (class-name (class-of *standard-output*))
      (class-name (class-of (make-string-output-stream))))
=> (HASH-TABLE STREAM STREAM)

;; Where objects lie: a number for heap objects and conses, NIL otherwise.
(let ((x (list 1)) (v (vector 1)))
  (list (integerp (%object-address x)) (integerp (%object-address v))
        (= (%object-address v) (%object-address v)) (%object-address 5) (%object-address 'a)))
=> (T T T NIL NIL)
