;;;; Signalling: HANDLER-BIND, HANDLER-CASE, IGNORE-ERRORS, SIGNAL,
;;;; INVOKE-DEBUGGER, CHECK-TYPE.
;;;;
;;;; ERROR, CERROR and WARN stay the kernel's: the kernel hands their
;;;; datum and arguments to the condition system (48-kernel-errors.lsp),
;;;; which makes the condition, offers it to the handlers here and, when
;;;; none takes it, lets the kernel report it and run its break loop as it
;;;; always has.  The handler clusters are elements of %CLUSTERS
;;;; (46-restarts.lsp).

(defvar *break-on-signals* nil
  "A type: signalling a condition of this type enters a break loop first.")

(defvar *debugger-hook* nil
  "NIL, or a function of a condition and the hook itself, called (with
*DEBUGGER-HOOK* bound to NIL) before an error enters a break loop.")

;;; ------------------------------------------------------------------
;;; Conditions from the arguments of SIGNAL, ERROR, CERROR and WARN

(defvar %condition-class (find-class 'condition))

;; A condition of the simple type `type` with a format control and its
;; arguments, made the kernel's quick way when the type's plan allows.
(defun %simple-condition (type control arguments)
  (let ((initargs (list :format-control control :format-arguments arguments)))
    (or (%make-instance-fast type initargs)
        (apply (function make-instance) type initargs))))

(defun %coerce-to-condition (default datum &rest arguments)
  (cond ((%typep datum %condition-class) datum)
        ((stringp datum) (%simple-condition default datum arguments))
        ((and datum (symbolp datum)) (apply (function make-condition) datum arguments))
        ((functionp datum) (%simple-condition default datum arguments))
        (t (error 'simple-type-error
                  :datum datum :expected-type '(or condition symbol string function)
                  :format-control "~S designates no condition"
                  :format-arguments (list datum)))))

;; TYPEP for the types of handler clauses, quick for the usual class name.
(defun %condition-typep (c type)
  (let ((class (and (symbolp type) (find-class type nil))))
    (if class (%typep c class) (typep c type))))

;;; ------------------------------------------------------------------
;;; Handlers

(defmacro handler-bind (bindings &body forms)
  "Evaluate FORMS with the handlers of BINDINGS in force, each (type
handler): a condition of the type signalled inside FORMS is given to the
handler function, which may decline by returning."
  (list* 'let
         (list (list '%clusters
                     (list 'cons
                           (list 'cons
                                 (cons 'list (mapcar (lambda (b)
                                                       (list 'cons (list 'quote (car b)) (cadr b)))
                                                     bindings))
                                 nil)
                           '%clusters)))
         forms))

;; The clusters a handler of the cluster at the head of POSITION sees:
;; those outside it, and the restart clusters inside it (the restarts of
;; the signalling form stay in force).
(defun %outside-handlers (position)
  (let ((kept nil))
    (do ((chain %clusters (cdr chain)))
        ((or (atom chain) (eq chain position)))
      (let ((e (car chain)))
        (unless (and (consp e) (consp (car (car e))))
          (setq kept (cons e kept)))))
    (nreconc kept (cdr position))))

;; Offer condition c to the handlers in force, innermost first, up to an
;; error-catching context or a break level.  A HANDLER-CASE clause (its
;; handler a number) throws to its cluster with the condition in the
;; cluster's cdr.  The walk establishes no block NIL: a RETURN in a
;; handler must reach the program's own.
(defun %signal (c)
  (when (and *break-on-signals* (typep c *break-on-signals*))
    (break "~S signalled: ~A" (class-name (class-of c)) c))
  (let ((chain %clusters) (e nil) (bindings nil))
    (tagbody
     next-cluster
       (when (atom chain) (go done))
       (setq e (car chain))
       (when (or (null e) (integerp e)) (go done))
       (unless (consp (car (car e)))
         (when (eq (cdr e) t) (go done))
         (go outward))
       (setq bindings (car e))
     next-binding
       (when (null bindings) (go outward))
       (when (%condition-typep c (car (car bindings)))
         (let ((handler (cdr (car bindings))))
           (if (integerp handler)
               (progn (rplacd e c) (throw e handler))
               (let ((%clusters (%outside-handlers chain)))
                 (funcall handler c)))))
       (setq bindings (cdr bindings))
       (go next-binding)
     outward
       (setq chain (cdr chain))
       (go next-cluster)
     done))
  nil)

(defun signal (datum &rest arguments)
  "Signal the condition DATUM designates (a condition, a condition type and
initargs, or a format control and arguments for a SIMPLE-CONDITION); NIL
when no handler takes it."
  (%signal (apply (function %coerce-to-condition) 'simple-condition datum arguments))
  nil)

(defmacro handler-case (form &rest clauses)
  "Evaluate FORM; when a condition of the type of a clause (type
([variable]) body...) is signalled, leave FORM and evaluate that clause's
body with the variable bound to the condition.  A clause (:no-error
lambda-list body...) takes FORM's values when no condition left it."
  (let ((cluster (gensym)) (exit (gensym)) (taken (gensym)) (no-error nil)
        (bindings nil) (bodies nil) (n -1))
    (dolist (clause clauses)
      (if (eq (car clause) :no-error)
          (setq no-error clause)
          (progn
            (setq n (+ n 1))
            (setq bindings (cons (cons (car clause) n) bindings))
            (setq bodies
                  (cons (list n
                              (if (cadr clause)
                                  (list* 'let (list (list (car (cadr clause))
                                                          (list 'cdr cluster)))
                                         (cddr clause))
                                  (cons 'progn (cddr clause))))
                        bodies)))))
    (let ((protected (list 'let (list (list '%clusters (list 'cons cluster '%clusters)))
                           form)))
      (list 'let (list (list cluster (list 'cons (list 'quote (nreverse bindings)) nil)))
            (list 'block exit
                  (list 'let
                        (list (list taken
                                    (list 'catch cluster
                                          (list 'return-from exit
                                                (if no-error
                                                    (list 'multiple-value-call
                                                          (list 'function
                                                                (list* 'lambda (cadr no-error)
                                                                       (cddr no-error)))
                                                          protected)
                                                    protected)))))
                        (list* 'case taken (nreverse bodies))))))))

(defmacro ignore-errors (&body forms)
  "The values of FORMS, or NIL and the condition when an error is
signalled inside them."
  (list 'handler-case (cons 'progn forms)
        '(error (condition) (values nil condition))))

;;; ------------------------------------------------------------------
;;; The debugger

;; The condition INVOKE-DEBUGGER hands to the kernel's break loop, whose
;; hook has already run.
(defvar %entering-debugger nil)

(defun %call-debugger-hook (condition)
  (let ((hook *debugger-hook*))
    (when hook
      (let ((*debugger-hook* nil))
        (funcall hook condition hook)))))

(defun invoke-debugger (condition)
  "Enter the break loop for CONDITION, after calling *DEBUGGER-HOOK*."
  (%call-debugger-hook condition)
  (let ((%entering-debugger condition))
    (error condition)))

;;; ------------------------------------------------------------------
;;; CHECK-TYPE

;; The error of a failed CHECK-TYPE; STORE-VALUE returns the new value.
(defun %check-type-error (place value type type-string)
  (restart-case
      (error 'simple-type-error
             :datum value :expected-type type
             :format-control (if type-string
                                 "The value of ~S is ~S, which is not ~A."
                                 "The value of ~S is ~S, which is not of type ~S.")
             :format-arguments (list place value (or type-string type)))
    (store-value (new)
      :report (lambda (stream) (format stream "supply a new value for ~S" place))
      :interactive %read-value
      new)))

(defmacro check-type (place type &optional type-string)
  "Signal a correctable TYPE-ERROR unless the value of PLACE is of TYPE;
the STORE-VALUE restart puts a new value there, which is checked again."
  (let ((again (gensym)))
    (list 'tagbody again
          (list 'unless (list 'typep place (list 'quote type))
                (list 'setf place (list '%check-type-error (list 'quote place) place
                                        (list 'quote type) type-string))
                (list 'go again)))))
