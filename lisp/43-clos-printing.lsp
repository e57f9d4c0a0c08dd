;;;; The object system, part 4: printing and describing objects.
;;;;
;;;; The printer hands every instance (structures and classes included) to
;;;; %PRINT-INSTANCE, which calls PRINT-OBJECT.  DESCRIBE calls
;;;; DESCRIBE-OBJECT (lisp/70-tools.lsp).

(defmacro print-unreadable-object ((object stream &key type identity) &body body)
  "Print #<...> on STREAM: the class name of OBJECT when TYPE is true, what
BODY prints, and the place of the object when IDENTITY is true."
  (list '%print-unreadable object stream type identity
        (if body (list* 'lambda nil body) nil)))

(defun %print-unreadable (object stream type identity body)
  (let ((stream (cond ((null stream) *standard-output*)
                      ((eq stream t) *terminal-io*)
                      (t stream))))
    (when *print-readably* (error 'print-not-readable :object object))
    (write-string "#<" stream)
    (when type
      (let ((class (class-of object)))
        (write (or (class-name class) class) :stream stream))
      (when (or body identity) (write-char #\space stream)))
    (when body (funcall body))
    (when identity
      (when body (write-char #\space stream))
      (write (or (%object-address object) 0) :stream stream :base 16 :radix nil))
    (write-char #\> stream)
    nil))

(defgeneric print-object (object stream)
  (:documentation "Print OBJECT on STREAM; the printer calls it for every
instance and structure, and the methods programs define change how their
objects print."))

(defmethod print-object ((object t) stream)
  ;; An instance of a class made by hand, outside STANDARD-OBJECT, must
  ;; not come back here through the printer.
  (if (%standard-object-p object)
      (print-unreadable-object (object stream :type t :identity t))
      (write object :stream stream))
  object)

(defmethod print-object ((object standard-object) stream)
  (print-unreadable-object (object stream :type t :identity t))
  object)

(defmethod print-object ((object structure-object) stream)
  (%print-structure object stream))

(defmethod print-object ((class class) stream)
  (print-unreadable-object (class stream :type t)
    (write (class-name class) :stream stream))
  class)

(defmethod print-object ((gf generic-function) stream)
  (print-unreadable-object (gf stream :type t)
    (write (%gf-name gf) :stream stream))
  gf)

(defmethod print-object ((method method) stream)
  (print-unreadable-object (method stream :type t)
    (let ((gf (%method-gf method)))
      (write (if gf (%gf-name gf) nil) :stream stream)
      (dolist (q (%method-qualifiers method))
        (write-char #\space stream)
        (write q :stream stream))
      (write-char #\space stream)
      (write (mapcar (lambda (s) (if (consp s) s (class-name s)))
                     (%method-specializers method))
             :stream stream)))
  method)

;; The printer's entry for instances.
(defun %print-instance (object stream)
  (print-object object stream)
  object)

;;; ------------------------------------------------------------------
;;; DESCRIBE-OBJECT

(defgeneric describe-object (object stream)
  (:documentation "Print a description of OBJECT on STREAM; DESCRIBE calls
it."))

(defmethod describe-object ((object t) stream)
  (%describe-plain object stream))

(defun %describe-slots (object stream)
  (let ((class (class-of object)))
    (format stream "~&~S is an instance of the class ~S.~%" object (class-name class))
    (dolist (s (%class-effective-slots class))
      (let ((name (svref s 0)))
        (if (slot-boundp object name)
            (format stream "~&  ~S: ~S~%" name (slot-value object name))
            (format stream "~&  ~S: unbound~%" name))))))

(defmethod describe-object ((object standard-object) stream)
  (%describe-slots object stream))

(defmethod describe-object ((object structure-object) stream)
  (%describe-slots object stream))

(defmethod describe-object ((class class) stream)
  (format stream "~&~S is a class of the metaclass ~S.~%" class
          (class-name (class-of class)))
  (format stream "~&Direct superclasses: ~{~S~^ ~}~%"
          (mapcar (function class-name) (class-direct-superclasses class)))
  (when (%class-finalized-p class)
    (format stream "~&Precedence list: ~{~S~^ ~}~%"
            (mapcar (function class-name) (class-precedence-list class)))
    (let ((slots (class-slots class)))
      (when slots
        (format stream "~&Slots: ~{~S~^ ~}~%" (mapcar (function slot-definition-name) slots)))))
  (let ((doc (%d-documentation (%description class))))
    (when doc (format stream "~&Documentation:~%  ~A~%" doc))))

(defmethod describe-object ((gf generic-function) stream)
  (format stream "~&~S is a generic function with the lambda list ~S.~%"
          gf (%gf-lambda-list gf))
  (when (%gf-documentation gf)
    (format stream "~&Documentation:~%  ~A~%" (%gf-documentation gf)))
  (format stream "~&Methods:~%")
  (dolist (m (reverse (%gf-methods gf)))
    (format stream "~&  ~{~S ~}~S~%" (%method-qualifiers m)
            (mapcar (lambda (s) (if (consp s) s (class-name s))) (%method-specializers m)))))
