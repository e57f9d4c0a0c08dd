;;;; Conditions: the classes of the standard hierarchy, DEFINE-CONDITION,
;;;; MAKE-CONDITION and how conditions print.
;;;;
;;;; Conditions are instances of standard classes under CONDITION.  Each
;;;; carries, in the slot %REPORT, either NIL or a format control and its
;;;; arguments (control . arguments): the conditions the kernel's errors
;;;; become keep the kernel's own message there, so that they report
;;;; exactly what the kernel would have printed.  Otherwise the report
;;;; comes from %REPORT-CONDITION, whose methods DEFINE-CONDITION's
;;;; :REPORT option adds.
;;;;
;;;; Signalling, handlers and restarts are in 46-restarts.lsp and
;;;; 47-signals.lsp.

(defclass condition ()
  ((%report :initarg %report :initform nil :reader %condition-report))
  (:documentation "The class of every condition."))

(defgeneric %report-condition (condition stream)
  (:documentation "Print CONDITION's report on STREAM."))

(defmethod %report-condition ((c condition) stream)
  (format stream "A condition of type ~S was signalled" (class-name (class-of c))))

;; PRINC and ~A show the report, PRIN1 and ~S an unreadable object.
(defmethod print-object ((c condition) stream)
  (if *print-escape*
      (print-unreadable-object (c stream :type t :identity t))
      (let ((report (%condition-report c)))
        (if (consp report)
            (apply (function format) stream (car report) (cdr report))
            (%report-condition c stream))))
  c)

;;; ------------------------------------------------------------------
;;; DEFINE-CONDITION

(defun %report-method (name report)
  (list 'defmethod '%report-condition (list (list 'condition name) 'stream)
        (if (stringp report)
            (list 'write-string report 'stream)
            (list 'funcall (list 'function report) 'condition 'stream))))

(defmacro define-condition (name parent-types slot-specs &rest options)
  "Define the condition type NAME, a subtype of PARENT-TYPES (CONDITION
when none is given), with SLOT-SPECS as DEFCLASS takes them.  OPTIONS are
(:report string-or-function), (:default-initargs initarg form ...) and
(:documentation string).  A :REPORT function is called with the condition
and a stream; a string is printed as it stands."
  (unless (and name (symbolp name))
    (error "~S is not a name for a condition type" name))
  (let ((class-options nil) (report nil) (report-p nil))
    (dolist (o options)
      (unless (consp o) (error "~S is not an option of DEFINE-CONDITION ~S" o name))
      (case (car o)
        (:report
         (when report-p (error "The condition type ~S has two :REPORT options" name))
         (setq report (cadr o) report-p t))
        ((:default-initargs :documentation) (setq class-options (cons o class-options)))
        (t (error "~S is not an option of DEFINE-CONDITION ~S" o name))))
    (list 'progn
          (list* 'defclass name (or parent-types '(condition)) slot-specs
                 (nreverse class-options))
          (if report-p (%report-method name report))
          (list 'quote name))))

(defun %condition-class (type)
  (let ((class (if (symbolp type) (find-class type nil) type)))
    (if (and class (%typep class (find-class 'class))
             (member (find-class 'condition) (class-precedence-list class)))
        class
        nil)))

(defun make-condition (type &rest initargs)
  "A new condition of TYPE (the name of a condition type) with INITARGS."
  (let ((class (%condition-class type)))
    (unless class
      (error 'type-error :datum type :expected-type '(satisfies %condition-class)))
    (apply (function make-instance) class initargs)))

;;; ------------------------------------------------------------------
;;; The standard hierarchy

(define-condition serious-condition (condition) ())
(define-condition error (serious-condition) ())
(define-condition warning (condition) ())
(define-condition style-warning (warning) ())
(define-condition storage-condition (serious-condition) ())

(define-condition simple-condition (condition)
  ((format-control :initarg :format-control :initform nil
                   :reader simple-condition-format-control)
   (format-arguments :initarg :format-arguments :initform nil
                     :reader simple-condition-format-arguments))
  (:report (lambda (c stream)
             (let ((control (simple-condition-format-control c)))
               (if control
                   (apply (function format) stream control (simple-condition-format-arguments c))
                   (format stream "A condition of type ~S was signalled"
                           (class-name (class-of c))))))))

(define-condition simple-error (simple-condition error) ())
(define-condition simple-warning (simple-condition warning) ())

(define-condition type-error (error)
  ((datum :initarg :datum :initform nil :reader type-error-datum)
   (expected-type :initarg :expected-type :initform t :reader type-error-expected-type))
  (:report (lambda (c stream)
             (format stream "~S is not of the type ~S"
                     (type-error-datum c) (type-error-expected-type c)))))

(define-condition simple-type-error (simple-condition type-error) ())

(define-condition program-error (error) ()
  (:report "A program is malformed"))
(define-condition control-error (error) ()
  (:report "There is no place control could go to"))

(define-condition cell-error (error)
  ((name :initarg :name :initform nil :reader cell-error-name))
  (:report (lambda (c stream)
             (format stream "The cell ~S cannot be read" (cell-error-name c)))))

(define-condition unbound-variable (cell-error) ()
  (:report (lambda (c stream)
             (format stream "The variable ~S is unbound" (cell-error-name c)))))

(define-condition undefined-function (cell-error) ()
  (:report (lambda (c stream)
             (format stream "The function ~S is undefined" (cell-error-name c)))))

(define-condition unbound-slot (cell-error)
  ((instance :initarg :instance :initform nil :reader unbound-slot-instance))
  (:report (lambda (c stream)
             (format stream "The slot ~S of ~S is unbound"
                     (cell-error-name c) (unbound-slot-instance c)))))

(define-condition arithmetic-error (error)
  ((operation :initarg :operation :initform nil :reader arithmetic-error-operation)
   (operands :initarg :operands :initform nil :reader arithmetic-error-operands))
  (:report (lambda (c stream)
             (format stream "Arithmetic error in ~S~@[ of ~{~S~^, ~}~]"
                     (arithmetic-error-operation c) (arithmetic-error-operands c)))))

(define-condition division-by-zero (arithmetic-error) ()
  (:report (lambda (c stream)
             (format stream "Division by zero~@[ in ~S~]~@[ of ~{~S~^ by ~}~]"
                     (arithmetic-error-operation c) (arithmetic-error-operands c)))))

(define-condition floating-point-overflow (arithmetic-error) ()
  (:report "Floating-point overflow"))
(define-condition floating-point-underflow (arithmetic-error) ()
  (:report "Floating-point underflow"))
(define-condition floating-point-invalid-operation (arithmetic-error) ()
  (:report "Invalid floating-point operation"))
(define-condition floating-point-inexact (arithmetic-error) ()
  (:report "Inexact floating-point result"))

(define-condition stream-error (error)
  ((stream :initarg :stream :initform nil :reader stream-error-stream))
  (:report (lambda (c stream)
             (format stream "Error on the stream ~S" (stream-error-stream c)))))

(define-condition end-of-file (stream-error) ()
  (:report (lambda (c stream)
             (format stream "Unexpected end of file on ~S" (stream-error-stream c)))))

(define-condition file-error (error)
  ((pathname :initarg :pathname :initform nil :reader file-error-pathname))
  (:report (lambda (c stream)
             (format stream "Error on the file ~A" (file-error-pathname c)))))

(define-condition package-error (error)
  ((package :initarg :package :initform nil :reader package-error-package))
  (:report (lambda (c stream)
             (format stream "Error in the package ~A" (package-error-package c)))))

(define-condition parse-error (error) ()
  (:report "The text cannot be parsed"))

(define-condition reader-error (parse-error stream-error) ()
  (:report (lambda (c stream)
             (format stream "The reader failed~@[ on ~S~]" (stream-error-stream c)))))

(define-condition print-not-readable (error)
  ((object :initarg :object :initform nil :reader print-not-readable-object))
  (:report (lambda (c stream)
             ;; Signalled while *PRINT-READABLY* is true: the report
             ;; itself is no readable print.
             (let ((*print-readably* nil))
               (format stream "~S cannot be printed readably"
                       (print-not-readable-object c))))))
