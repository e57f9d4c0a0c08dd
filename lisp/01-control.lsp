;;;; Control and declaration operators: proclamations and declarations,
;;;; EVAL-WHEN and COMPILE, local functions, macros and symbol macros,
;;;; PROG, the type and key dispatches, multiple values, destructuring,
;;;; catching errors, assertions, DEFPARAMETER, and the function makers.
;;;; Written on the kernel's built-ins and 00-base only.

;;; ------------------------------------------------------------------
;;; Functions of functions

(defun identity (object) object)

(defun constantly (value)
  (function (lambda (&rest arguments) (declare (ignore arguments)) value)))

(defun complement (function)
  (function (lambda (&rest arguments) (not (apply function arguments)))))

;;; ------------------------------------------------------------------
;;; Bodies

;; A body's leading declarations and, where one is allowed, its
;; documentation string: (values declarations forms documentation).  A
;; string is documentation only when forms follow it.
(defun %parse-body (body &optional documentation-allowed)
  (let ((declarations nil) (documentation nil))
    (loop
      (cond ((and documentation-allowed (null documentation) (cdr body)
                  (typep (car body) 'string))
             (setq documentation (car body) body (cdr body)))
            ((and (consp (car body)) (eq (car (car body)) 'declare))
             (setq declarations (cons (car body) declarations) body (cdr body)))
            (t (return nil))))
    (values (nreverse declarations) body documentation)))

;;; ------------------------------------------------------------------
;;; Proclamations and declarations.  A SPECIAL proclamation makes the
;;; variables special everywhere, as DEFVAR does.  A SPECIAL declaration
;;; at the head of a body is the evaluator's business: the form that binds
;;; a declared variable binds it dynamically, while other bindings of the
;;; name stay lexical.  (A free SPECIAL declaration does not hide an
;;; enclosing lexical binding of the same name.)  Other declarations are
;;; accepted and ignored.

(defun proclaim (declaration-specifier)
  (when (and (consp declaration-specifier) (eq (car declaration-specifier) 'special))
    (dolist (variable (cdr declaration-specifier))
      ;; DEFVAR without a value form only gives the variable its class.
      (eval (list 'defvar variable))))
  nil)

(defmacro declaim (&rest declaration-specifiers)
  (cons 'progn
        (mapcar (function (lambda (specifier) (list 'proclaim (list 'quote specifier))))
                declaration-specifiers)))

(defmacro locally (&body body)
  (list* 'let nil body))

;; Source files are read and evaluated form by form, so only the
;; situations in which a form is evaluated at load time or by EVAL count.
(defmacro eval-when (situations &body body)
  (when (or (member :execute situations) (member 'eval situations)
            (member :load-toplevel situations) (member 'load situations))
    (cons 'progn body)))

;;; ------------------------------------------------------------------
;;; Compilation.  Code runs interpreted (and improves itself as it runs),
;;; so compiling makes the function and installs it.

(defun compile (name &optional (definition nil definition-given))
  (let ((function
         (cond (definition-given
                (if (and (consp definition) (eq (car definition) 'lambda))
                    (eval (list 'function definition))
                    definition))
               ((null name) (error "COMPILE needs a definition when the name is NIL"))
               ((fboundp name) (symbol-function name))
               (t (error "COMPILE: ~S has no function definition" name)))))
    (cond ((null name) (values function nil nil))
          (t (when definition-given (%set-symbol-function name function))
             (values name nil nil)))))

;; The interpretive equivalent of compiling a file is the source file
;; itself: COMPILE-FILE checks that it exists and returns its name, so
;; that (load (compile-file name)) loads it once.  The name gets the
;; default type .LSP, as LOAD gives it.
(defun compile-file (input-file &rest options)
  (declare (ignore options))
  (let ((name (merge-pathnames input-file "*.LSP")))
    (when (nth-value 1 (%catch-error (open name :direction :probe :if-does-not-exist :error)))
      (error "COMPILE-FILE: the file ~A does not exist" name))
    (values name nil nil)))

;;; ------------------------------------------------------------------
;;; Multiple values

(defmacro multiple-value-list (form)
  (list 'multiple-value-call '(function list) form))

(defmacro nth-value (n form)
  (list 'nth n (list 'multiple-value-list form)))

;;; ------------------------------------------------------------------
;;; The code walker of the local binding forms.
;;;
;;; FLET, LABELS, MACROLET and SYMBOL-MACROLET rewrite their bodies once,
;;; when they are expanded: a call of a local function becomes a FUNCALL
;;; of the variable holding its closure, a local macro call is expanded,
;;; a symbol macro is replaced by its expansion.  An environment is
;;; (functions macros symbol-macros names): three association lists from
;;; names to the variable, the expander symbol or the expansion, and the
;;; list of all those names.  A form that mentions none of the names is
;;; left as it stands, so the rest of the body is not touched; other
;;; macro calls that do are expanded so that their expansions can be
;;; walked.  Nested local binding forms are macros too: they rewrite
;;; their own bodies first, which gives inner bindings precedence.  (So a
;;; global macro whose expansion names a local function or symbol macro
;;; that its arguments do not mention gets the global meaning.)

(defun %make-walk-env (functions macros symbol-macros)
  (list functions macros symbol-macros
        (nconc (mapcar (function car) functions) (mapcar (function car) macros)
               (mapcar (function car) symbol-macros))))

;; Does the tree hold one of the symbols?
(defun %mentions-p (tree names)
  (loop
    (cond ((consp tree)
           (when (%mentions-p (car tree) names) (return t))
           (setq tree (cdr tree)))
          (t (return (if (and tree (symbolp tree) (member tree names)) t nil))))))

;; The environment inside a binding of variables: symbol macros of those
;; names are shadowed.
(defun %walk-shadow (env variables)
  (let ((symbol-macros (car (cddr env))) (kept nil))
    (if (not (%mentions-p variables (mapcar (function car) symbol-macros)))
        env
        (progn
          (dolist (entry symbol-macros)
            (unless (member (car entry) variables) (setq kept (cons entry kept))))
          (%make-walk-env (car env) (cadr env) (nreverse kept))))))

(defun %walk (form env)
  (cond ((symbolp form)
         (let ((expansion (and form (assoc form (car (cddr env))))))
           (if expansion (%walk (cdr expansion) env) form)))
        ((atom form) form)
        ((not (%mentions-p form (cadr (cddr env)))) form)
        (t (%walk-compound form env))))

;; The forms of a list, walked; the list is copied only where it changes.
(defun %walk-list (forms env)
  (if (not (%mentions-p forms (cadr (cddr env))))
      forms
      (let ((out nil))
        (loop
          (when (atom forms) (return (nreconc out forms)))
          (setq out (cons (%walk (car forms) env) out) forms (cdr forms))))))

;; A tag body: its atoms are tags.
(defun %walk-tags (forms env)
  (if (not (%mentions-p forms (cadr (cddr env))))
      forms
      (let ((out nil))
        (loop
          (when (atom forms) (return (nreconc out forms)))
          (setq out (cons (if (consp (car forms)) (%walk (car forms) env) (car forms)) out)
                forms (cdr forms))))))

;; The variables a lambda list binds.
(defun %lambda-list-variables (lambda-list)
  (let ((variables nil))
    (loop
      (cond ((null lambda-list) (return variables))
            ((atom lambda-list) (return (cons lambda-list variables))))
      (let ((p (car lambda-list)))
        (cond ((member p '(&optional &rest &body &key &aux &whole &environment
                           &allow-other-keys)))
              ((symbolp p) (setq variables (cons p variables)))
              ((symbolp (car p))
               (setq variables (cons (car p) variables))
               (when (cddr p) (setq variables (cons (car (cddr p)) variables))))
              ((and (consp (car p)) (consp (cdr (car p))))
               (setq variables (cons (cadr (car p)) variables))
               (when (cddr p) (setq variables (cons (car (cddr p)) variables))))))
      (setq lambda-list (cdr lambda-list)))))

;; The init forms of a lambda list, walked.
(defun %walk-lambda-list (lambda-list env)
  (if (not (%mentions-p lambda-list (cadr (cddr env))))
      lambda-list
      (let ((out nil) (defaults nil))
        (loop
          (when (atom lambda-list) (return (nreconc out lambda-list)))
          (let ((p (car lambda-list)))
            (cond ((member p '(&optional &key &aux)) (setq defaults t))
                  ((and defaults (consp p) (consp (cdr p)))
                   (setq p (list* (car p) (%walk (cadr p) env) (cddr p)))))
            (setq out (cons p out) lambda-list (cdr lambda-list)))))))

;; (LAMBDA lambda-list . body), or (name lambda-list . body) of DEFUN.
(defun %walk-lambda (lambda env)
  (let ((inner (%walk-shadow env (%lambda-list-variables (cadr lambda)))))
    (list* (car lambda) (%walk-lambda-list (cadr lambda) inner)
           (%walk-list (cddr lambda) inner))))

(defun %walk-let (form env)
  (let ((sequential (eq (car form) 'let*)) (inner env) (specs nil))
    (dolist (spec (cadr form))
      (let ((variable (if (consp spec) (car spec) spec)))
        (setq specs (cons (if (and (consp spec) (consp (cdr spec)))
                              (list variable (%walk (cadr spec) (if sequential inner env)))
                              spec)
                          specs))
        (setq inner (%walk-shadow inner (list variable)))))
    (list* (car form) (nreverse specs) (%walk-list (cddr form) inner))))

;; (DO specs (end-test . results) . body), and DO*, whose init forms are
;; taken to see all its variables.
(defun %walk-do (form env)
  (let ((inner (%walk-shadow env (mapcar (function (lambda (spec)
                                                     (if (consp spec) (car spec) spec)))
                                         (cadr form))))
        (specs nil))
    (dolist (spec (cadr form))
      (setq specs
            (cons (if (and (consp spec) (consp (cdr spec)))
                      (list* (car spec)
                             (%walk (cadr spec) (if (eq (car form) 'do*) inner env))
                             (%walk-list (cddr spec) inner))
                      spec)
                  specs)))
    (list* (car form) (nreverse specs) (%walk-list (car (cddr form)) inner)
           (%walk-tags (cdr (cddr form)) inner))))

;; (DOLIST (var form [result]) . body), and DOTIMES.
(defun %walk-dolist (form env)
  (let* ((spec (cadr form))
         (inner (%walk-shadow env (list (car spec)))))
    (list* (car form)
           (list* (car spec) (%walk (cadr spec) env) (%walk-list (cddr spec) inner))
           (%walk-tags (cddr form) inner))))

;; SETQ of a symbol macro is SETF of its expansion.
(defun %walk-setq (form env)
  (let ((symbol-macros (car (cddr env))) (pairs (cdr form)) (found nil))
    (loop
      (when (atom pairs) (return nil))
      (when (assoc (car pairs) symbol-macros) (setq found t))
      (setq pairs (cddr pairs)))
    (if found
        (%walk (cons (if (eq (car form) 'psetq) 'psetf 'setf) (cdr form)) env)
        (let ((out nil))
          (setq pairs (cdr form))
          (loop
            (when (atom pairs) (return nil))
            (setq out (list* (%walk (cadr pairs) env) (car pairs) out) pairs (cddr pairs)))
          (cons (car form) (nreverse out))))))

;; A place that is a symbol macro is its expansion; of the other places
;; only the arguments are forms.
(defun %walk-setf (form env)
  (let ((out nil) (pairs (cdr form)))
    (loop
      (when (atom pairs) (return (cons (car form) (nreverse out))))
      (let ((place (car pairs)))
        (setq out (list* (%walk (cadr pairs) env)
                         (if (consp place)
                             (cons (car place) (%walk-list (cdr place) env))
                             (%walk place env))
                         out)
              pairs (cddr pairs))))))

(defun %walk-compound (form env)
  (let ((operator (car form)))
    (cond
      ((consp operator)
       (if (eq (car operator) 'lambda)
           (cons (%walk-lambda operator env) (%walk-list (cdr form) env))
           form))
      ((not (symbolp operator)) form)
      ((assoc operator (car env))
       (list* 'funcall (cdr (assoc operator (car env))) (%walk-list (cdr form) env)))
      ((assoc operator (cadr env))
       (%walk (macroexpand-1 (cons (cdr (assoc operator (cadr env))) (cdr form))) env))
      ((eq operator 'declare) form)
      ((eq operator 'setf) (%walk-setf form env))
      ((special-operator-p operator) (%walk-special form env))
      ((macro-function operator) (%walk (macroexpand-1 form) env))
      (t (cons operator (%walk-list (cdr form) env))))))

;; The kernel's special forms.
(defun %walk-special (form env)
  (let ((operator (car form)) (arguments (cdr form)))
    (case operator
      ((quote go defmacro deftype defsetf define-setf-expander %mark-substitutable
        %set-print-layout)
       form)
      (function
       (let ((name (car arguments)))
         (cond ((and (symbolp name) (assoc name (car env)))
                (cdr (assoc name (car env))))
               ((and (consp name) (eq (car name) 'lambda))
                (list operator (%walk-lambda name env)))
               (t form))))
      ((setq psetq) (%walk-setq form env))
      ((let let*) (%walk-let form env))
      ((do do*) (%walk-do form env))
      ((dolist dotimes) (%walk-dolist form env))
      (multiple-value-bind
       (list* operator (car arguments) (%walk (cadr arguments) env)
              (%walk-list (cddr arguments) (%walk-shadow env (car arguments)))))
      (multiple-value-setq
       (list operator (car arguments) (%walk (cadr arguments) env)))
      ((block return-from)
       (list* operator (car arguments) (%walk-list (cdr arguments) env)))
      ((tagbody loop) (cons operator (%walk-tags arguments env)))
      (cond
       (cons operator (mapcar (function (lambda (clause) (%walk-list clause env)))
                              arguments)))
      (case
       (list* operator (%walk (car arguments) env)
              (mapcar (function (lambda (clause)
                                  (cons (car clause) (%walk-list (cdr clause) env))))
                      (cdr arguments))))
      (the (list operator (car arguments) (%walk (cadr arguments) env)))
      (defun (cons operator (%walk-lambda arguments env)))
      ((defvar defconstant %defparameter)
       (list* operator (car arguments) (%walk-list (cdr arguments) env)))
      (%labels
       ;; The kernel's LABELS binds function cells: its names shadow.
       (let ((inner (%make-walk-env
                     (let ((kept nil))
                       (dolist (entry (car env) (nreverse kept))
                         (unless (assoc (car entry) (car arguments))
                           (setq kept (cons entry kept)))))
                     (cadr env) (car (cddr env)))))
         (list* operator
                (mapcar (function (lambda (definition) (%walk-lambda definition inner)))
                        (car arguments))
                (%walk-list (cdr arguments) inner))))
      ;; The others evaluate all their arguments.
      (t (cons operator (%walk-list arguments env))))))

;;; ------------------------------------------------------------------
;;; Local functions.  Each local function is a closure held in a fresh
;;; variable, so it sees the lexical variables around it and can be
;;; returned; calls of it in the body call that variable's value.  The
;;; kernel's LABELS, which binds function cells dynamically and makes no
;;; closures, stays reachable as %LABELS.

(%set-symbol-function '%labels (symbol-function 'labels))

;; (name lambda-list . body): the closure-making form.
(defun %local-function (definition)
  (multiple-value-bind (declarations forms documentation) (%parse-body (cddr definition) t)
    (list 'function
          (list* 'lambda (cadr definition)
                 (append (if documentation (list documentation))
                         declarations
                         (list (list* 'block (car definition) forms)))))))

(defun %local-variable (name)
  (make-symbol (symbol-name name)))

;; The definitions do not see their own names.
(defmacro flet (definitions &body body)
  (let ((functions nil) (bindings nil))
    (dolist (definition definitions)
      (let ((variable (%local-variable (car definition))))
        (setq functions (cons (cons (car definition) variable) functions)
              bindings (cons (list variable (%local-function definition)) bindings))))
    (multiple-value-bind (declarations forms) (%parse-body body)
      (list* 'let (nreverse bindings)
             (append declarations
                     (%walk-list forms (%make-walk-env functions nil nil)))))))

;; The definitions see each other and themselves: the variables are bound
;; first and assigned the closures.
(defmacro labels (definitions &body body)
  (let ((functions nil) (variables nil) (assignments nil))
    (dolist (definition definitions)
      (let ((variable (%local-variable (car definition))))
        (setq functions (cons (cons (car definition) variable) functions)
              variables (cons variable variables))))
    (let ((env (%make-walk-env functions nil nil)))
      (dolist (definition definitions)
        (setq assignments
              (list* (%walk (%local-function definition) env)
                     (cdr (assoc (car definition) functions))
                     assignments)))
      (multiple-value-bind (declarations forms) (%parse-body body)
        (list* 'let (nreverse variables)
               (append declarations
                       (if assignments (list (cons 'setq (nreverse assignments))))
                       (or (%walk-list forms env) '(nil))))))))

;;; ------------------------------------------------------------------
;;; Local macros.  A local macro's expander is an uninterned symbol whose
;;; function cell holds the macro, so the kernel destructures its lambda
;;; list as for DEFMACRO.  Its calls are expanded when the body is walked.

(defun %walk-body-form (body env)
  (multiple-value-bind (declarations forms) (%parse-body body)
    (if declarations
        (list* 'let nil (append declarations (%walk-list forms env)))
        (cons 'progn (%walk-list forms env)))))

(defmacro macrolet (definitions &body body)
  (let ((macros nil))
    (dolist (definition definitions)
      (let ((expander (%local-variable (car definition))))
        (multiple-value-bind (declarations forms) (%parse-body (cddr definition) t)
          (%set-symbol-function
           expander
           (list* 'macro (cadr definition)
                  (append declarations (list (list* 'block (car definition) forms))))))
        (setq macros (cons (cons (car definition) expander) macros))))
    (%walk-body-form body (%make-walk-env nil macros nil))))

;; A symbol macro is replaced wherever the symbol is evaluated as a
;; variable and not bound by an inner form; SETQ of it becomes SETF of
;; the expansion.
(defmacro symbol-macrolet (definitions &body body)
  (%walk-body-form body
                   (%make-walk-env nil nil
                                   (mapcar (function (lambda (d) (cons (car d) (cadr d))))
                                           definitions))))

;;; ------------------------------------------------------------------
;;; PROG

(defun %expand-prog (let-operator variables body)
  (multiple-value-bind (declarations forms) (%parse-body body)
    (list 'block nil
          (list* let-operator variables
                 (append declarations (list (cons 'tagbody forms)))))))

(defmacro prog (variables &body body)
  (%expand-prog 'let variables body))

(defmacro prog* (variables &body body)
  (%expand-prog 'let* variables body))

;;; ------------------------------------------------------------------
;;; Dispatch on types and keys

;; The key's value, held in a variable unless the key form is one.
(defun %key-variable (keyform)
  (if (and keyform (symbolp keyform) (not (keywordp keyform)) (not (eq keyform t)))
      keyform
      (gensym)))

(defun %with-key (variable keyform form)
  (if (eq variable keyform)
      form
      (list 'let (list (list variable keyform)) form)))

(defun %fell-through (variable operator expected)
  (list 'error "~S fell through ~S expression; wanted one of ~S"
        variable (list 'quote operator) (list 'quote expected)))

(defun %expand-typecase (operator keyform clauses exhaustive)
  (let* ((key (%key-variable keyform))
         (cond-clauses
          (mapcar (function
                   (lambda (clause)
                     (cons (if (or (eq (car clause) t) (eq (car clause) 'otherwise))
                               t
                               (list 'typep key (list 'quote (car clause))))
                           (or (cdr clause) '(nil)))))
                  clauses)))
    (when exhaustive
      (setq cond-clauses
            (append cond-clauses
                    (list (list t (%fell-through key operator
                                                 (mapcar (function car) clauses)))))))
    (%with-key key keyform (cons 'cond cond-clauses))))

(defmacro typecase (keyform &rest clauses)
  (%expand-typecase 'typecase keyform clauses nil))

(defmacro etypecase (keyform &rest clauses)
  (%expand-typecase 'etypecase keyform clauses t))

;; Continuing is not offered: the error is that of ETYPECASE.
(defmacro ctypecase (keyform &rest clauses)
  (%expand-typecase 'ctypecase keyform clauses t))

;; Every key designator becomes a list, so T and OTHERWISE are keys; NIL
;; is the empty list of keys and matches nothing.
(defun %expand-ecase (operator keyform clauses)
  (let ((key (%key-variable keyform)) (keys nil) (case-clauses nil))
    (dolist (clause clauses)
      (let ((designator (car clause)))
        (when designator
          (unless (listp designator) (setq designator (list designator)))
          (setq keys (append keys designator)
                case-clauses (cons (cons designator (cdr clause)) case-clauses)))))
    (%with-key key keyform
               (list* 'case key
                      (nreverse (cons (list 'otherwise (%fell-through key operator keys))
                                      case-clauses))))))

(defmacro ecase (keyform &rest clauses)
  (%expand-ecase 'ecase keyform clauses))

(defmacro ccase (keyform &rest clauses)
  (%expand-ecase 'ccase keyform clauses))

;;; ------------------------------------------------------------------
;;; DESTRUCTURING-BIND: the lambda list is compiled into LET* bindings,
;;; with fresh variables walking the list.

(defvar %destructuring-missing (make-symbol "MISSING"))

(defun %destructuring-error (problem lambda-list whole &optional key)
  (error "DESTRUCTURING-BIND: ~S does not match ~S: ~A~@[ ~S~]"
         whole lambda-list problem key))

;; Keys must come in pairs, and only those named may be given unless
;; other keys are allowed.
(defun %check-keys (list keys allow lambda-list whole)
  (let ((rest list))
    (loop
      (cond ((null rest) (return nil))
            ((or (atom rest) (atom (cdr rest)))
             (%destructuring-error "odd number of keyword arguments" lambda-list whole)))
      (setq rest (cddr rest)))
    (unless (or allow (getf list :allow-other-keys))
      (setq rest list)
      (loop
        (when (null rest) (return nil))
        (unless (or (member (car rest) keys) (eq (car rest) :allow-other-keys))
          (%destructuring-error "unknown keyword" lambda-list whole (car rest)))
        (setq rest (cddr rest))))))

(defun %destructure (lambda-list list top whole)
  (let ((bindings nil) (state 'required) (rest nil) (keys nil) (key-specs nil) (allow nil)
        (done nil))
    (when (and (consp lambda-list) (eq (car lambda-list) '&whole))
      (setq bindings (%destructure-into (cadr lambda-list) list bindings top whole)
            lambda-list (cddr lambda-list)))
    (loop
      (when (atom lambda-list)
        (when lambda-list               ; a dotted tail takes the rest
          (setq bindings (cons (list lambda-list list) bindings) rest t))
        (return nil))
      (let ((p (car lambda-list)))
        (setq lambda-list (cdr lambda-list))
        (cond
          ((eq p '&optional) (setq state 'optional))
          ((or (eq p '&rest) (eq p '&body))
           (setq bindings (%destructure-into (car lambda-list) list bindings top whole)
                 lambda-list (cdr lambda-list) rest t))
          ((eq p '&key) (setq state 'key keys t))
          ((eq p '&allow-other-keys) (setq allow t))
          ((eq p '&aux) (setq state 'aux))
          ((eq p '&environment) (setq lambda-list (cdr lambda-list)))
          ((eq state 'required)
           (let ((next (gensym)))
             (setq bindings
                   (%destructure-into p (list 'if (list 'consp list) (list 'car list)
                                              (list '%destructuring-error "too few elements"
                                                    (list 'quote top) whole))
                                      bindings top whole))
             (setq bindings (cons (list next (list 'cdr list)) bindings) list next)))
          ((eq state 'optional)
           (let ((next (gensym)) (variable (if (consp p) (car p) p)))
             (setq bindings
                   (%destructure-into variable
                                      (list 'if list (list 'car list) (if (consp p) (cadr p)))
                                      bindings top whole))
             (when (and (consp p) (cddr p))
               (setq bindings (cons (list (car (cddr p)) (list 'if list t nil)) bindings)))
             (setq bindings (cons (list next (list 'cdr list)) bindings) list next)))
          ((eq state 'key) (setq key-specs (cons p key-specs)))
          ((eq state 'aux)
           (unless done
             (setq bindings (%destructure-keys list keys key-specs allow rest bindings top whole)
                   done t))
           (setq bindings (cons (if (consp p) (list (car p) (cadr p)) (list p nil)) bindings))))))
    (if done
        bindings
        (%destructure-keys list keys key-specs allow rest bindings top whole))))

;; The &key part (when there is one), then the check for surplus elements.
(defun %destructure-keys (list keys key-specs allow rest bindings top whole)
  (cond (keys
         (setq bindings (cons (list (gensym)
                                    (list '%check-keys list
                                          (list 'quote
                                                (mapcar (function %key-spec-keyword)
                                                        key-specs))
                                          allow (list 'quote top) whole))
                              bindings))
         (dolist (spec (reverse key-specs))
           (let* ((value (gensym))
                  (variable (if (consp spec)
                                (if (consp (car spec)) (cadr (car spec)) (car spec))
                                spec)))
             (setq bindings
                   (cons (list value (list 'getf list (list 'quote (%key-spec-keyword spec))
                                           (list 'quote %destructuring-missing)))
                         bindings))
             (setq bindings
                   (%destructure-into variable
                                      (list 'if (list 'eq value
                                                      (list 'quote %destructuring-missing))
                                            (if (consp spec) (cadr spec))
                                            value)
                                      bindings top whole))
             (when (and (consp spec) (cddr spec))
               (setq bindings
                     (cons (list (car (cddr spec))
                                 (list 'not (list 'eq value
                                                  (list 'quote %destructuring-missing))))
                           bindings))))))
        ((not rest)
         (setq bindings
               (cons (list (gensym)
                           (list 'if list
                                 (list '%destructuring-error "too many elements"
                                       (list 'quote top) whole)))
                     bindings))))
  bindings)

(defun %key-spec-keyword (spec)
  (cond ((atom spec) (intern (symbol-name spec) 'keyword))
        ((consp (car spec)) (car (car spec)))
        (t (intern (symbol-name (car spec)) 'keyword))))

;; Bind a variable, or destructure a nested lambda list, to the value of
;; a form.  The bindings are collected in reverse.
(defun %destructure-into (pattern form bindings top whole)
  (if (listp pattern)
      (if (null pattern)
          (cons (list (gensym) (list 'if form
                                     (list '%destructuring-error "too many elements"
                                           (list 'quote top) whole)))
                bindings)
          (let ((variable (gensym)))
            (nreconc (nreverse (%destructure pattern variable top whole))
                     (cons (list variable form) bindings))))
      (cons (list pattern form) bindings)))

(defmacro destructuring-bind (lambda-list expression &body body)
  (let ((whole (gensym)))
    (multiple-value-bind (declarations forms) (%parse-body body)
      (list* 'let*
             (cons (list whole expression)
                   (nreverse (%destructure lambda-list whole lambda-list whole)))
             (append declarations forms)))))

;;; ------------------------------------------------------------------
;;; Catching errors while the library loads.  The condition system
;;; (lisp/45-48) defines IGNORE-ERRORS and HANDLER-CASE again on handlers
;;; and condition objects; until then, these catch whole errors with the
;;; kernel's error catching, so that the files before it may use them.
;;; An error caught so comes as the list (header colour message-text
;;; objects...); the "condition" handed to a clause is the error's message
;;; formatted with its objects, a string.  Every caught error counts as an
;;; ERROR, a SIMPLE-ERROR and so as a CONDITION; clauses for other types
;;; never apply, and an error no clause takes is signalled again with the
;;; same text and objects.

(defun %condition-object (caught)
  (let ((text (car (cddr caught))) (objects (cdr (cddr caught))))
    (or (and (typep text 'string)
             (%catch-error (apply (function format) nil text objects)))
        (format nil "~A~{ ~S~}" text objects))))

(defun %error-type-p (type)
  (cond ((member type '(t condition serious-condition error simple-condition simple-error)) t)
        ((and (consp type) (eq (car type) 'or))
         (dolist (each (cdr type) nil) (when (%error-type-p each) (return t))))
        ((and (consp type) (eq (car type) 'and))
         (dolist (each (cdr type) t) (unless (%error-type-p each) (return nil))))
        (t nil)))

(defmacro ignore-errors (&body forms)
  (let ((values (gensym)) (caught (gensym)))
    (list 'multiple-value-bind (list values caught)
          (list '%catch-error (list 'multiple-value-list (cons 'progn forms)))
          (list 'if caught
                (list 'values nil (list '%condition-object caught))
                (list 'values-list values)))))

(defmacro handler-case (form &rest clauses)
  (let ((values (gensym)) (caught (gensym)) (handler nil) (no-error nil))
    (dolist (clause clauses)
      (cond ((eq (car clause) :no-error) (setq no-error clause))
            ((and (null handler) (%error-type-p (car clause))) (setq handler clause))))
    (list 'multiple-value-bind (list values caught)
          (list '%catch-error (list 'multiple-value-list form))
          (list 'if caught
                (cond ((null handler) (list 'apply '(function error) (list 'cddr caught)))
                      ((car (cadr handler))
                       (list* 'let (list (list (car (cadr handler))
                                               (list '%condition-object caught)))
                              (cddr handler)))
                      (t (list* 'let nil (cddr handler))))
                (if no-error
                    (list 'apply (list 'function (list* 'lambda (cadr no-error) (cddr no-error)))
                          values)
                    (list 'values-list values))))))

;;; ------------------------------------------------------------------
;;; Assertions.  ASSERT signals a continuable error: assign the place in
;;; the break loop and continue, and the test is made again.  CHECK-TYPE
;;; does the same until the condition system defines it again with its
;;; STORE-VALUE restart (lisp/47-signals.lsp).

(defmacro assert (test &optional places datum &rest arguments)
  (declare (ignore places))
  (let ((again (gensym)))
    (list 'tagbody again
          (list 'unless test
                (list* 'cerror "Test the assertion again."
                       (if datum
                           (cons datum arguments)
                           (list "The assertion ~S failed." (list 'quote test))))
                (list 'go again)))))

(defmacro check-type (place type &optional type-string)
  (let ((again (gensym)))
    (list 'tagbody again
          (list 'unless (list 'typep place (list 'quote type))
                (list 'cerror "Check the type again."
                      (if type-string
                          "The value of ~S is ~S, which is not ~A."
                          "The value of ~S is ~S, which is not of type ~S.")
                      (list 'quote place) place (or type-string (list 'quote type)))
                (list 'go again)))))

;;; ------------------------------------------------------------------
;;; DEFPARAMETER makes the variable special.  The kernel's form, which
;;; leaves it an ordinary global variable, stays as %DEFPARAMETER.

(%set-symbol-function '%defparameter (symbol-function 'defparameter))

(defmacro defparameter (name value &optional documentation)
  (list 'progn
        (list* '%defparameter name value (if documentation (list documentation)))
        (list 'defvar name)))
