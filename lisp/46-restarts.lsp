;;;; Restarts: RESTART-CASE, RESTART-BIND and their relatives, the
;;;; restart functions of the standard, and the restarts of break levels.
;;;;
;;;; The handlers and restarts in force are one list, the value of
;;;; %CLUSTERS, innermost first; the value of %SIGNAL-HOOK names this
;;;; variable for the kernel (48-kernel-errors.lsp).  Its elements:
;;;;
;;;;   (bindings . x)   a handler cluster (47-signals.lsp): bindings is a
;;;;                    list of (type . handler)
;;;;   (restarts . b)   a restart cluster: restarts is a list of restart
;;;;                    objects; b is T for the restarts of a break level
;;;;   NIL              an error-catching context: no handler beyond it
;;;;                    sees an error signalled inside it
;;;;   a fixnum         a break level, as the kernel pushed it: the stack
;;;;                    index of its listener context, 524288 when it
;;;;                    cannot be continued, 2097152 when it may return a
;;;;                    value.  It becomes a restart cluster (with b T)
;;;;                    the first time the restarts are looked at.
;;;;
;;;; HANDLER-BIND, HANDLER-CASE, RESTART-BIND and RESTART-CASE bind
;;;; %CLUSTERS around their forms; the kernel binds it around each
;;;; error-catching context and each break loop.  A handler cluster is a
;;;; fresh cons, and so is a restart cluster made by RESTART-CASE: a
;;;; clause that is taken throws to it.  The restarts of top level, in
;;;; %TOP-LEVEL-RESTARTS, come after all of them.

(defvar %clusters nil
  "The handler and restart clusters in force, innermost first.")

;;; ------------------------------------------------------------------
;;; Restart objects

;; FUNCTION is what INVOKE-RESTART calls with the arguments; for a clause
;; of RESTART-CASE it is the clause's number and TAG is the cluster, to
;; which the number and the arguments are thrown.  REPORT is NIL (the
;; name is shown), a string, (control . arguments) or a function of a
;; stream.
(defstruct (restart (:constructor %make-restart
                        (name function &optional report interactive test tag))
                    (:conc-name %restart-)
                    (:copier nil)
                    (:predicate %restart-p))
  name function report interactive test tag conditions)

(defun restart-name (restart)
  "The name of RESTART, a symbol or NIL."
  (%restart-name restart))

(defun %report-restart (r stream)
  (let ((report (%restart-report r)))
    (cond ((null report) (prin1 (%restart-name r) stream))
          ((stringp report) (write-string report stream))
          ((and (consp report) (stringp (car report)))
           (apply (function format) stream (car report) (cdr report)))
          (t (funcall report stream)))))

(defmethod print-object ((r restart) stream)
  (if *print-escape*
      (print-unreadable-object (r stream :type t :identity t)
        (prin1 (%restart-name r) stream))
      (%report-restart r stream))
  r)

;;; ------------------------------------------------------------------
;;; Finding restarts

;; Whether restart r is visible for condition c (NIL: for any).
(defun %restart-visible-p (r c)
  (and (or (null c)
           (null (%restart-conditions r))
           (member c (%restart-conditions r) :test (function eq)))
       (let ((test (%restart-test r)))
         (or (null test) (funcall test c)))))

;; The restarts of the cluster at the head of chain (NIL for a handler
;; cluster or an error-catching context).
(defun %cluster-restarts (chain)
  (let ((e (car chain)))
    (cond ((integerp e) (car (%break-level-cluster chain)))
          ((and (consp e) (not (consp (car (car e))))) (car e))
          (t nil))))

(defvar %top-level-restarts nil
  "The restarts in force outside every cluster.")

(defun compute-restarts (&optional condition)
  "The restarts in force, innermost first; with CONDITION, those that are
associated with it or with no condition."
  (let ((found nil))
    (do ((chain %clusters (cdr chain)))
        ((atom chain))
      (dolist (r (%cluster-restarts chain))
        (when (%restart-visible-p r condition)
          (setq found (cons r found)))))
    (dolist (r %top-level-restarts)
      (when (%restart-visible-p r condition)
        (setq found (cons r found))))
    (nreverse found)))

(defun %restart-named-p (r identifier condition)
  (and (if (%restart-p identifier)
           (eq r identifier)
           (eq (%restart-name r) identifier))
       (%restart-visible-p r condition)))

(defun find-restart (identifier &optional condition)
  "The innermost restart in force named IDENTIFIER (or IDENTIFIER itself,
a restart, when it is in force), visible for CONDITION; NIL when none is."
  (do ((chain %clusters (cdr chain)))
      ((atom chain))
    (dolist (r (%cluster-restarts chain))
      (when (%restart-named-p r identifier condition)
        (return-from find-restart r))))
  (dolist (r %top-level-restarts nil)
    (when (%restart-named-p r identifier condition)
      (return r))))

(defun %control-error (control &rest arguments)
  (error (make-condition 'control-error '%report (cons control arguments))))

(defun %active-restart (identifier condition)
  (or (find-restart identifier condition)
      (if (%restart-p identifier)
          (%control-error "The restart ~S is not in force" identifier)
          (%control-error "No restart named ~S is in force" identifier))))

(defun invoke-restart (restart &rest arguments)
  "Transfer control to RESTART (a restart or the name of one in force),
giving it ARGUMENTS."
  (let* ((r (%active-restart restart nil))
         (tag (%restart-tag r)))
    (if tag
        (throw tag (cons (%restart-function r) arguments))
        (apply (%restart-function r) arguments))))

(defun invoke-restart-interactively (restart)
  "Transfer control to RESTART, with the arguments its interactive function
asks for (none when it has none)."
  (let* ((r (%active-restart restart nil))
         (interactive (%restart-interactive r)))
    (apply (function invoke-restart) r (if interactive (funcall interactive) nil))))

;;; ------------------------------------------------------------------
;;; Establishing restarts

(defmacro restart-bind (bindings &body forms)
  "Evaluate FORMS with the restarts of BINDINGS in force: each is (name
function {:interactive-function f | :report-function f | :test-function f}*)."
  (list* 'let
         (list (list '%clusters
                     (list 'cons
                           (list 'cons
                                 (cons 'list
                                       (mapcar (lambda (b)
                                                 (destructuring-bind
                                                     (name function &key interactive-function
                                                                         report-function
                                                                         test-function)
                                                     b
                                                   (list '%make-restart (list 'quote name)
                                                         function report-function
                                                         interactive-function test-function)))
                                               bindings))
                                 nil)
                           '%clusters)))
         forms))

;; A function designator written in a restart clause: a symbol or a
;; lambda expression names a function; anything else is evaluated.
(defun %function-form (x)
  (if (or (symbolp x) (and (consp x) (eq (car x) 'lambda)))
      (list 'function x)
      x))

;; The parts of a RESTART-CASE clause: name, lambda list, report,
;; interactive and test forms, body.
(defun %parse-restart-clause (clause)
  (let ((name (car clause)) (lambda-list (cadr clause)) (rest (cddr clause))
        (report nil) (interactive nil) (test nil))
    (loop
      (cond ((and (eq (car rest) :report) (cdr rest))
             (setq report (if (stringp (cadr rest))
                              (cadr rest)
                              (%function-form (cadr rest)))
                   rest (cddr rest)))
            ((and (eq (car rest) :interactive) (cdr rest))
             (setq interactive (%function-form (cadr rest)) rest (cddr rest)))
            ((and (eq (car rest) :test) (cdr rest))
             (setq test (%function-form (cadr rest)) rest (cddr rest)))
            (t (return))))
    (list name lambda-list report interactive test rest)))

;; (SIGNAL ...), (ERROR ...), (CERROR ...) or (WARN ...) as the form of
;; RESTART-CASE: the restarts are associated with the condition.
(defun %signalling-form (form restarts)
  (let ((operator (and (consp form) (car form)))
        (c (gensym)))
    (case operator
      ((signal error warn)
       (list 'let (list (list c (list* '%coerce-to-condition
                                       (list 'quote (case operator
                                                      (signal 'simple-condition)
                                                      (warn 'simple-warning)
                                                      (t 'simple-error)))
                                       (cadr form) (cddr form))))
             (list 'with-condition-restarts c restarts (list operator c))))
      (cerror
       (list 'let (list (list c (list* '%coerce-to-condition ''simple-error
                                       (caddr form) (cdddr form))))
             (list 'with-condition-restarts c restarts
                   (list* 'cerror (cadr form) c (cdddr form)))))
      (t form))))

(defmacro restart-case (form &rest clauses)
  "Evaluate FORM with a restart in force for each clause (name
lambda-list [:report r] [:interactive f] [:test f] body...); a restart
taken leaves FORM and evaluates its clause's body with its arguments,
whose values RESTART-CASE returns."
  (let ((cluster (gensym)) (exit (gensym)) (taken (gensym))
        (parsed (mapcar (function %parse-restart-clause) clauses)) (n -1))
    (list 'let (list (list cluster (list 'cons nil nil)))
          (list 'block exit
                (list 'let
                      (list (list taken
                                  (list 'catch cluster
                                        (list 'return-from exit
                                              (list 'let
                                                    (list (list '%clusters
                                                                (list 'cons cluster '%clusters)))
                                                    (list 'rplaca cluster
                                                          (cons 'list
                                                                (mapcar
                                                                 (lambda (p)
                                                                   (setq n (+ n 1))
                                                                   (list '%make-restart
                                                                         (list 'quote (car p))
                                                                         n (nth 2 p) (nth 3 p)
                                                                         (nth 4 p) cluster))
                                                                 parsed)))
                                                    (%signalling-form form
                                                                      (list 'car cluster)))))))
                      (let ((k -1))
                        (cons 'case
                              (cons (list 'car taken)
                                    (mapcar (lambda (p)
                                              (setq k (+ k 1))
                                              (list k (list 'apply
                                                            (list 'function
                                                                  (list* 'lambda (nth 1 p)
                                                                         (nth 5 p)))
                                                            (list 'cdr taken))))
                                            parsed)))))))))

(defmacro with-simple-restart ((name format-control &rest format-arguments) &body forms)
  "Evaluate FORMS with a restart NAME in force, reported by FORMAT-CONTROL
and FORMAT-ARGUMENTS; taking it returns NIL and T."
  (list 'restart-case (cons 'progn forms)
        (list name nil
              :report (list 'lambda '(stream)
                            (list* 'format 'stream format-control format-arguments))
              '(values nil t))))

(defmacro with-condition-restarts (condition-form restarts-form &body forms)
  "Evaluate FORMS with the restarts of RESTARTS-FORM associated with the
condition of CONDITION-FORM."
  (let ((c (gensym)) (rs (gensym)))
    (list 'let (list (list c condition-form) (list rs restarts-form))
          (list 'unwind-protect
                (list* 'progn (list '%associate c rs) forms)
                (list '%dissociate c rs)))))

(defun %associate (c restarts)
  (dolist (r restarts)
    (setf (%restart-conditions r) (cons c (%restart-conditions r)))))

(defun %dissociate (c restarts)
  (dolist (r restarts)
    (setf (%restart-conditions r) (remove c (%restart-conditions r) :count 1))))

;;; ------------------------------------------------------------------
;;; The restart functions of the standard

(defun abort (&optional condition)
  "Take the innermost ABORT restart: back to the break level above, or to
top level."
  (invoke-restart (%active-restart 'abort condition)))

(defun continue (&optional condition)
  "Take the innermost CONTINUE restart, when there is one; else NIL."
  (let ((r (find-restart 'continue condition)))
    (if r (invoke-restart r) nil)))

(defun muffle-warning (&optional condition)
  "Take the innermost MUFFLE-WARNING restart: the warning is not printed."
  (invoke-restart (%active-restart 'muffle-warning condition)))

(defun use-value (value &optional condition)
  "Take the innermost USE-VALUE restart with VALUE, when there is one."
  (let ((r (find-restart 'use-value condition)))
    (if r (invoke-restart r value) nil)))

(defun store-value (value &optional condition)
  "Take the innermost STORE-VALUE restart with VALUE, when there is one."
  (let ((r (find-restart 'store-value condition)))
    (if r (invoke-restart r value) nil)))

;; The interactive function of USE-VALUE and STORE-VALUE restarts: a form
;; read from *QUERY-IO* and evaluated.
(defun %read-value ()
  (format *query-io* "~&Value (a form to evaluate): ")
  (force-output *query-io*)
  (list (eval (read *query-io*))))
