;;; The object system under threads: classes finalized, generic functions
;;; dispatched and instances made for the first time by several threads at
;;; once.  The object system fills its caches (a class's description and
;;; layout, a generic function's dispatch) from whichever thread gets there
;;; first, while the others read them.

(defvar *to-go* nil)
(defvar *to-lock* (bt:make-lock))

;; Run FUNCTION in three threads started together, and in this one.
(defun to-together (function)
  (setq *to-go* nil)
  (let ((threads (loop repeat 3
                       collect (bt:make-thread
                                (lambda ()
                                  (loop until *to-go* do (bt:thread-yield))
                                  (funcall function))))))
    (setq *to-go* t)
    (cons (funcall function) (mapcar #'bt:join-thread threads))))

;; A class used for the first time by four threads at once: each makes
;; instances, writes and reads their slots and calls a generic function
;; whose methods run through :around and call-next-method.
(defclass to-point () ((x :initarg :x :accessor to-x) (y :initarg :y :initform 0 :accessor to-y)))
(defclass to-point3 (to-point) ((z :initarg :z :initform 5 :accessor to-z)))
(defgeneric to-sum (p))
(defmethod to-sum ((p to-point)) (+ (to-x p) (to-y p)))
(defmethod to-sum ((p to-point3)) (+ (call-next-method) (to-z p)))
(defmethod to-sum :around ((p to-point)) (* 2 (call-next-method)))

(defun to-work (n)
  (let ((s 0))
    (dotimes (i n s)
      (let ((p (make-instance (if (evenp i) 'to-point 'to-point3) :x i)))
        (setf (to-y p) 1)
        (incf s (to-sum p))))))

(to-together (lambda () (to-work 200)))
=> (41200 41200 41200 41200)

(list (length (class-slots (find-class 'to-point3)))
      (to-sum (make-instance 'to-point3 :x 1 :y 2 :z 3)))
=> (3 12)

;; A method added while the other threads dispatch: each call sees the
;; generic function before or after, never a half-changed one.
(defgeneric to-kind (x))
(defmethod to-kind ((x t)) :other)

(let ((threads (loop repeat 2
                     collect (bt:make-thread
                              (lambda ()
                                (loop repeat 3000
                                      for k = (to-kind 7)
                                      unless (member k '(:other :number)) return k
                                      finally (return :ok)))))))
  (defmethod to-kind ((x number)) :number)
  (list (mapcar #'bt:join-thread threads) (to-kind 7) (to-kind "7")))
=> ((:OK :OK) :NUMBER :OTHER)

;; Structures and vectors filled by several threads, each its own part.
(defstruct to-cell (count 0) (items nil))

(let* ((cells (coerce (loop repeat 4 collect (make-to-cell)) 'vector))
       (counter 0))
  (to-together (lambda ()
                 (let ((me (bt:with-lock-held (*to-lock*) (prog1 counter (incf counter)))))
                   (dotimes (i 500) (let ((c (svref cells me)))
                                      (incf (to-cell-count c))
                                      (push i (to-cell-items c)))))))
  (list (map 'list #'to-cell-count cells)
        (every (lambda (c) (equal (to-cell-items c) (loop for i from 499 downto 0 collect i)))
               cells)))
=> ((500 500 500 500) T)
