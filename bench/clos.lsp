;;; Object-system programs for bench/clos.sh, in portable Common Lisp: each
;;; run-... function makes N calls of the kind its row measures.

(defclass point ()
  ((x :initarg :x :accessor point-x)
   (y :initarg :y :accessor point-y)))

(defclass point3 (point)
  ((z :initarg :z :initform 0 :accessor point-z)))

(defun plain-function (p) p)

(defgeneric one-method (p))
(defmethod one-method ((p point)) p)

;; An :AROUND and a :BEFORE method, and a primary method calling the next.
(defgeneric chained (p))
(defmethod chained ((p point)) p)
(defmethod chained ((p point3)) (call-next-method))
(defmethod chained :before ((p point)) nil)
(defmethod chained :around ((p point3)) (call-next-method))

(defvar *p* (make-instance 'point3 :x 1 :y 2 :z 3))

(defun run-plain (n) (let ((p *p*)) (dotimes (i n) (plain-function p))))
(defun run-one-method (n) (let ((p *p*)) (dotimes (i n) (one-method p))))
(defun run-chained (n) (let ((p *p*)) (dotimes (i n) (chained p))))
(defun run-reader (n) (let ((p *p*)) (dotimes (i n) (point-x p))))
(defun run-writer (n) (let ((p *p*)) (dotimes (i n) (setf (point-y p) i))))
(defun run-make-instance (n) (dotimes (i n) (make-instance 'point :x i :y 2)))
