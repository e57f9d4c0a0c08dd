;;;; Evaluation and compilation beyond the kernel: function names
;;;; (FDEFINITION, functions named (SETF name)), FUNCTION-LAMBDA-EXPRESSION,
;;;; macro functions as functions, *MACROEXPAND-HOOK*, compiler macros,
;;;; LOAD-TIME-VALUE, WITH-COMPILATION-UNIT, and the limits of calls and
;;;; lambda lists.
;;;;
;;;; An interpreted function is the list (LAMBDA lambda-list . body), a
;;;; closure (LEXICAL-CLOSURE environment lambda-list . body); a macro's
;;;; function cell holds (MACRO lambda-list . body).

;;; ------------------------------------------------------------------
;;; Function names.  A function named (SETF name) is kept under the
;;; property %SETF-FUNCTION of name, and SETF of (name args...) calls it
;;; through an expander made when the function is defined: (setf (name a
;;; b) v) evaluates a and b, then v, and calls the function with v, a and
;;; b.  A place expander of name made by DEFSETF or DEFINE-SETF-EXPANDER
;;; after the function comes first, as it would anyway.

(defun %setf-name-p (name)
  (and (consp name) (eq (car name) 'setf) (consp (cdr name)) (null (cddr name))
       (cadr name) (symbolp (cadr name))))

(defun %check-function-name (name)
  (unless (or (and name (symbolp name)) (%setf-name-p name))
    (error "~S is not a function name" name)))

(defun %call-setf-function (name new-value &rest arguments)
  (let ((function (get name '%setf-function)))
    (unless function
      (error "The function ~S is undefined" (list 'setf name)))
    (apply function new-value arguments)))

(defun %install-setf-function (name function)
  (%putprop name '%setf-function function)
  (eval (list 'define-setf-expander name '(&rest arguments)
              (list '%simple-place (list 'quote name) 'arguments
                    (list 'function
                          (list 'lambda '(&rest safe)
                                (list 'list* ''%call-setf-function (list 'quote (list 'quote name))
                                      '(car (last safe)) '(butlast safe)))))))
  function)

(defun fdefinition (function-name)
  "The function named FUNCTION-NAME, a symbol or a list (SETF symbol)."
  (%check-function-name function-name)
  (cond ((symbolp function-name) (symbol-function function-name))
        ((get (cadr function-name) '%setf-function))
        (t (error "The function ~S is undefined" function-name))))

(defun %set-fdefinition (function-name new-definition)
  (%check-function-name function-name)
  (if (symbolp function-name)
      (%set-symbol-function function-name new-definition)
      (%install-setf-function (cadr function-name) new-definition))
  new-definition)

(defsetf fdefinition %set-fdefinition)

;; FBOUNDP and FMAKUNBOUND take (SETF name) as well.
(unless (fboundp '%kernel-fboundp)
  (%set-symbol-function '%kernel-fboundp (symbol-function 'fboundp))
  (%set-symbol-function '%kernel-fmakunbound (symbol-function 'fmakunbound)))

(defun fboundp (name)
  "True when NAME, a symbol or (SETF symbol), names a function, macro or
special operator."
  (if (consp name)
      (progn (%check-function-name name)
             (if (get (cadr name) '%setf-function) t nil))
      (%kernel-fboundp name)))

(defun fmakunbound (name)
  "Remove the function definition of NAME; returns NAME."
  (if (consp name)
      (progn (%check-function-name name)
             (remprop (cadr name) '%setf-function)
             name)
      (%kernel-fmakunbound name)))

;; DEFUN of (SETF name): the body is a block named name.
(unless (fboundp '%defun-symbol)
  (%set-symbol-function '%defun-symbol (symbol-function 'defun)))

(defmacro defun (name lambda-list &rest body)
  (if (consp name)
      (progn
        (%check-function-name name)
        (multiple-value-bind (declarations forms documentation) (%parse-body body t)
          (list 'progn
                (list '%set-fdefinition (list 'quote name)
                      (list 'function
                            (list* 'lambda lambda-list
                                   (append declarations
                                           (list (list* 'block (cadr name) forms))))))
                (if documentation
                    (list '%doc-store (list 'quote (cadr name)) ''setf documentation)
                    nil)
                (list 'quote name))))
      (list* '%defun-symbol name lambda-list body)))

(defun function-lambda-expression (function)
  "Three values: the lambda expression of FUNCTION when it is interpreted
(NIL for a built-in), whether it closes over lexical variables, and its
name when it has one that is known (NIL here)."
  (let ((f (if (and function (symbolp function)) (symbol-function function) function)))
    (cond ((and (consp f) (eq (car f) 'lambda)) (values f nil nil))
          ((and (consp f) (eq (car f) 'lexical-closure))
           (values (cons 'lambda (cddr f)) (if (cadr f) t nil) nil))
          ((functionp f) (values nil t nil))
          (t (error "~S is not a function" function)))))

;;; ------------------------------------------------------------------
;;; Macro functions.  The standard macro function of a macro is a
;;; function of the form and the environment; the kernel keeps (MACRO
;;; lambda-list . body), which MACRO-FUNCTION wraps (the same wrapper each
;;; time), and (SETF MACRO-FUNCTION) turns a function back into a macro.

(unless (fboundp '%kernel-macro-function)
  (%set-symbol-function '%kernel-macro-function (symbol-function 'macro-function))
  (%set-symbol-function '%kernel-macroexpand-1 (symbol-function 'macroexpand-1)))

(defvar %macro-function-wrappers (make-hash-table :test 'eq))

(defun macro-function (symbol &optional environment)
  "The expander of the macro SYMBOL, a function of a form and an
environment; NIL when SYMBOL names no macro."
  (let ((definition (%kernel-macro-function symbol)))
    (cond ((null definition) nil)
          ((not (consp definition)) definition)
          ((gethash definition %macro-function-wrappers))
          (t (setf (gethash definition %macro-function-wrappers)
                   (lambda (form env)
                     (declare (ignore env))
                     (%kernel-macroexpand-1 (cons symbol (cdr form)))))))))

(defun %set-macro-function (symbol function &optional environment)
  (unless (functionp function)
    (error "~S is not a function" function))
  (%set-symbol-function symbol
                        (list 'macro '(&whole form &environment env &rest arguments)
                              '(declare (ignore arguments))
                              (list 'funcall (list 'quote function) 'form 'env)))
  function)

(defsetf macro-function %set-macro-function)

(defvar *macroexpand-hook* 'funcall
  "The function MACROEXPAND-1 calls with a macro's expander, the form and
the environment to expand a macro call.")

(defun macroexpand-1 (form &optional environment)
  "Expand FORM once when it is a macro call or a global symbol macro: the
expansion and T, else FORM and NIL."
  (if (and form (symbolp form) (%symbol-macro-p form))
      (values (get form 'macro) t)
  (if (or (eq *macroexpand-hook* 'funcall) (eq *macroexpand-hook* (function funcall))
          (not (and (consp form) (symbolp (car form)) (macro-function (car form)))))
      (%kernel-macroexpand-1 form environment)
      (values (funcall *macroexpand-hook* (macro-function (car form)) form environment) t))))

;;; ------------------------------------------------------------------
;;; Global symbol macros.  The symbol has no value and keeps its
;;; expansion as its property MACRO; the evaluator evaluates the
;;; expansion where the symbol is used as a variable no binding covers,
;;; and SETQ of it becomes SETF of the expansion.

(defun %symbol-macro-p (symbol)
  (and (not (boundp symbol))
       (do ((p (symbol-plist symbol) (cddr p)))
           ((null p) nil)
         (when (eq (car p) 'macro) (return t)))))

(defun %define-symbol-macro (symbol expansion)
  (when (or (null symbol) (not (symbolp symbol)) (keywordp symbol) (constantp symbol))
    (error "~S cannot be a symbol macro" symbol))
  (when (boundp symbol)
    (error "~S cannot be a symbol macro: it is a variable" symbol))
  (setf (get symbol 'macro) expansion)
  symbol)

(defmacro define-symbol-macro (symbol expansion)
  "Make SYMBOL stand for the form EXPANSION wherever it is used as a
variable that no binding covers; SETQ and SETF of it assign the place
EXPANSION names."
  (list '%define-symbol-macro (list 'quote symbol) (list 'quote expansion)))

(defun macroexpand (form &optional environment)
  "Expand FORM until it is no macro call: the expansion, and T when FORM
was a macro call."
  (let ((expanded nil))
    (loop
      (multiple-value-bind (expansion again) (macroexpand-1 form environment)
        (unless again (return (values form expanded)))
        (setq form expansion expanded t)))))

;;; ------------------------------------------------------------------
;;; Compiler macros.  Code is interpreted, so a compiler macro is
;;; recorded and can be asked for, but nothing calls it by itself.

(defmacro define-compiler-macro (name lambda-list &body body)
  "Record a compiler macro for NAME: a function of a call form and an
environment giving a form to use instead, or the form itself."
  (%check-function-name name)
  (let ((form (gensym)) (env (gensym)) (whole nil))
    (when (and (consp lambda-list) (eq (car lambda-list) '&whole))
      (setq whole (cadr lambda-list) lambda-list (cddr lambda-list)))
    (multiple-value-bind (declarations forms documentation) (%parse-body body t)
      (declare (ignore documentation))
      (list 'progn
            (list '%set-compiler-macro-function (list 'quote name)
                  (list 'function
                        (list 'lambda (list form env)
                              (list 'declare (list 'ignorable env))
                              (list* 'let (if whole (list (list whole form)) nil)
                                     (list (list* 'destructuring-bind lambda-list
                                                  ;; (FUNCALL name . args) is a call too.
                                                  (list 'if (list 'eq (list 'car form) ''funcall)
                                                        (list 'cddr form)
                                                        (list 'cdr form))
                                                  (append declarations
                                                          (list (list* 'block
                                                                       (if (consp name) (cadr name) name)
                                                                       forms)))))))))
            (list 'quote name)))))

(defun %compiler-macro-key (name)
  (%check-function-name name)
  (if (consp name) (values (cadr name) '%setf-compiler-macro) (values name '%compiler-macro)))

(defun compiler-macro-function (name &optional environment)
  "The compiler macro recorded for NAME, or NIL."
  (multiple-value-bind (symbol key) (%compiler-macro-key name)
    (get symbol key)))

(defun %set-compiler-macro-function (name function &optional environment)
  (multiple-value-bind (symbol key) (%compiler-macro-key name)
    (if function
        (%putprop symbol key function)
        (remprop symbol key))
    function))

(defsetf compiler-macro-function %set-compiler-macro-function)

;;; ------------------------------------------------------------------
;;; Compiling files: a source file is its own compiled form
;;; (COMPILE-FILE, lisp/01-control.lsp).

(defvar *compile-print* nil "The default of COMPILE-FILE's :PRINT.")
(defvar *compile-verbose* nil "The default of COMPILE-FILE's :VERBOSE.")
(defvar *compile-file-pathname* nil "The file COMPILE-FILE is working on, or NIL.")
(defvar *compile-file-truename* nil "The file COMPILE-FILE is working on, or NIL.")

(defun compile-file-pathname (input-file &key output-file &allow-other-keys)
  "The file COMPILE-FILE would give for INPUT-FILE: the source file itself."
  (or output-file (merge-pathnames input-file "*.LSP")))

;;; ------------------------------------------------------------------
;;; LOAD-TIME-VALUE: the form is evaluated when the macro call is
;;; expanded, which the evaluator does once for each place in the code,
;;; and the value stands in its place from then on.

(defmacro load-time-value (form &optional read-only-p)
  "The value of FORM, evaluated once, in the global environment."
  (list 'quote (eval form)))

(defmacro with-compilation-unit (options &body body)
  "Run BODY; warnings are not deferred, as nothing is compiled."
  (cons 'progn body))

;;; ------------------------------------------------------------------
;;; Limits.  Arguments, parameters and multiple values all live on the
;;; Lisp stack; the limits are what fits on it when a call starts from
;;; the top level, measured once when the library is loaded.

(defconstant lambda-list-keywords
  '(&allow-other-keys &aux &body &environment &key &optional &rest &whole)
  "The lambda-list keywords the evaluator knows.")

;; The largest N for which (TEST N) succeeds, between LOW (which does)
;; and HIGH (which does not).
(defun %largest-passing (test low high)
  (loop
    (when (<= (- high low) 1) (return low))
    (let ((middle (floor (+ low high) 2)))
      (if (null (nth-value 1 (%catch-error (funcall test middle))))
          (setq low middle)
          (setq high middle)))))

(defconstant call-arguments-limit
  (1+ (%largest-passing (lambda (n) (apply (function list) (make-list n))) 50 70000))
  "One more than the largest number of arguments a call can take here.")

(defconstant lambda-parameters-limit call-arguments-limit
  "One more than the largest number of parameters a lambda list can have.")

(defconstant multiple-values-limit
  (1+ (%largest-passing (lambda (n) (multiple-value-list (values-list (make-list n))))
                        20 70000))
  "One more than the largest number of values a form can return here.")

(defconstant char-code-limit 256
  "Character codes are 0 to 255, the code page of the system's text.")

(defconstant array-rank-limit 129 "Arrays have fewer than 129 dimensions.")
(defconstant array-dimension-limit 4194304
  "Every dimension of an array is below 2^22.")
(defconstant array-total-size-limit 4194304
  "An array holds fewer than 2^22 elements.")
