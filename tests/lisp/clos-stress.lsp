;;; Many classes, methods and instances, made and redefined while the
;;; collector runs (CI runs this file under the collector's stress mode):
;;; nothing may be lost or mixed up.

(defun class-symbol (i) (intern (format nil "STRESS-CLASS-~D" i)))

;; 80 classes, each on the one before (every tenth starts afresh), each
;; with a slot of its own holding its number; 400 methods of one generic
;; function, each calling the next.
(progn
  (defgeneric depth (x))
  (defmethod depth ((x t)) 0)
  (dotimes (i 80)
    (let ((name (class-symbol i))
          (slot (intern (format nil "SLOT-~D" i))))
      (eval `(defclass ,name ,(if (zerop (mod i 10)) '() (list (class-symbol (- i 1))))
               ((,slot :initform ,i :accessor ,slot))))
      (eval `(defmethod depth ((x ,name)) (+ 1 (call-next-method))))))
  (list (length (class-precedence-list (find-class (class-symbol 79))))
        (length (class-slots (find-class (class-symbol 79))))))
=> (12 10)

;; 800 instances, of every class; each method chain and every slot read.
(defvar *instances*
  (let ((out nil))
    (dotimes (k 10 out)
      (dotimes (i 80)
        (push (make-instance (class-symbol i)) out)))))

(let ((bad 0))
  (dolist (x *instances*)
    (let* ((i (parse-integer (symbol-name (class-name (class-of x))) :start 13))
           (reader (intern (format nil "SLOT-~D" i))))
      (unless (and (= (depth x) (+ 1 (mod i 10))) (= (funcall reader x) i))
        (incf bad))))
  (list bad (length *instances*)))
=> (0 800)

;; Redefine every class with a slot more; every instance gets it when next
;; touched, and keeps the value it had.
(progn
  (dotimes (i 80)
    (let ((name (class-symbol i))
          (slot (intern (format nil "SLOT-~D" i))))
      (eval `(defclass ,name ,(if (zerop (mod i 10)) '() (list (class-symbol (- i 1))))
               ((extra :initform (list ,i) :reader extra)
                (,slot :initform ,i :accessor ,slot))))))
  (let ((bad 0))
    (dolist (x *instances*)
      (let* ((i (parse-integer (symbol-name (class-name (class-of x))) :start 13))
             (reader (intern (format nil "SLOT-~D" i))))
        (setf (slot-value x reader) (* i 2))
        (unless (and (equal (extra x) (list i)) (= (funcall reader x) (* 2 i))
                     (= (depth x) (+ 1 (mod i 10))))
          (incf bad))))
    bad))
=> 0

;; One generic function over many classes: its cache grows and keeps
;; every entry; methods come and go.
(progn
  (defgeneric which (x))
  (dotimes (i 80)
    (eval `(defmethod which ((x ,(class-symbol i))) ,i)))
  (let ((bad 0))
    (dolist (x *instances*)
      (unless (= (which x) (parse-integer (symbol-name (class-name (class-of x))) :start 13))
        (incf bad)))
    (dotimes (i 80)
      (when (oddp i)
        (remove-method #'which (find-method #'which nil (list (find-class (class-symbol i)))))))
    (dolist (x *instances*)
      (let ((i (parse-integer (symbol-name (class-name (class-of x))) :start 13)))
        (unless (= (which x) (if (oddp i) (- i 1) i))
          (incf bad))))
    bad))
=> 0

;; Instances whose classes change, forwarded to larger objects, survive
;; collections with their identities.
(progn
  (defclass stress-small () ((v :initarg :v :reader v)))
  (defclass stress-big () ((v :initarg :v :reader v) (a :initform 1) (b :initform 2) (c :initform 3)))
  (let ((objects nil) (bad 0))
    (dotimes (i 400) (push (make-instance (quote stress-small) :v i) objects))
    (dolist (o objects) (change-class o 'stress-big))
    (defclass stress-big () ((c :initform 3) (v :initarg :v :reader v) (d :initform 4)))
    (let ((i 399))
      (dolist (o objects)
        (unless (and (= (v o) i) (= (slot-value o 'd) 4) (eq (class-of o) (find-class 'stress-big)))
          (incf bad))
        (decf i)))
    bad))
=> 0
