;;;; The object system, part 2: generic functions and methods.
;;;;
;;;; A generic function is a callable instance: word 2 holds its dispatch
;;;; cache, a vector the kernel looks the effective method up in by the
;;;; classes of the leading arguments (and by the arguments themselves
;;;; where EQL specialisers name them), then calls it on the arguments.
;;;; When the cache has no entry the kernel calls the miss function, which
;;;; computes the effective method, stores it and calls it.  So the
;;;; applicable methods of a combination of classes are computed once, until
;;;; a method or a class changes and the cache is emptied.
;;;;
;;;; An effective method is a function of the generic function's
;;;; arguments.  The method function of a method that calls no next method
;;;; is called as it is; one that does is made from a maker, a function of
;;;; the next method and the method itself that returns the method function
;;;; for that place in the chain.  Combinations of several methods are
;;;; functions written for the purpose and evaluated once.

;;; ------------------------------------------------------------------
;;; Words of generic functions (from 3) and methods (from 2)

(defmacro %gf-name (g) (list '%instance-ref g 3))
(defmacro %gf-lambda-list (g) (list '%instance-ref g 4))
(defmacro %gf-methods (g) (list '%instance-ref g 5))
(defmacro %gf-method-combination (g) (list '%instance-ref g 6))
(defmacro %gf-precedence (g) (list '%instance-ref g 7))
(defmacro %gf-documentation (g) (list '%instance-ref g 8))
(defmacro %gf-method-class (g) (list '%instance-ref g 9))
(defmacro %gf-miss-function (g) (list '%instance-ref g 10))
(defmacro %gf-required-count (g) (list '%instance-ref g 11))
(defmacro %gf-fixed-arity (g) (list '%instance-ref g 12))
(defmacro %gf-initial-methods (g) (list '%instance-ref g 14))

(defmacro %method-gf (m) (list '%instance-ref m 2))
(defmacro %method-specializers (m) (list '%instance-ref m 3))
(defmacro %method-qualifiers (m) (list '%instance-ref m 4))
(defmacro %method-lambda-list (m) (list '%instance-ref m 5))
(defmacro %method-function (m) (list '%instance-ref m 6))
(defmacro %method-next-p (m) (list '%instance-ref m 7))
(defmacro %method-documentation (m) (list '%instance-ref m 8))
(defmacro %method-slot-name (m) (list '%instance-ref m 9))

(defvar %generic-function-class (find-class 'generic-function))
(defvar %standard-generic-function-class (find-class 'standard-generic-function))
(defvar %standard-method-class (find-class 'standard-method))
(defvar %method-class (find-class 'method))
(defvar %t-class (find-class t))

(defun %generic-function-p (x)
  (and (%standard-object-p x) (%typep x %generic-function-class)))

(defun %method-p (x)
  (and (%standard-object-p x) (%typep x %method-class)))

(defun generic-function-name (gf) (%gf-name gf))
(defun generic-function-lambda-list (gf) (%gf-lambda-list gf))
(defun generic-function-methods (gf) (copy-list (%gf-methods gf)))
(defun generic-function-method-combination (gf) (%gf-method-combination gf))
(defun generic-function-method-class (gf) (%gf-method-class gf))
(defun generic-function-argument-precedence-order (gf)
  (let ((required (car (%parse-lambda-list (%gf-lambda-list gf)))))
    (mapcar (lambda (i) (nth i required)) (%gf-precedence gf))))

(defun method-generic-function (method) (%method-gf method))
(defun method-specializers (method) (copy-list (%method-specializers method)))
(defun method-qualifiers (method) (copy-list (%method-qualifiers method)))
(defun method-lambda-list (method) (%method-lambda-list method))
(defun accessor-method-slot-name (method) (%method-slot-name method))

;;; ------------------------------------------------------------------
;;; Names: a generic function named (SETF name) is kept where
;;; lisp/22-evaluation.lsp keeps functions of such names.

(defun %function-name-p (name)
  (or (and name (symbolp name)) (%setf-name-p name)))

;; The function NAME names now, or NIL.  A generic function TRACE wraps
;; (lisp/75-debugging.lsp) is still the one its methods go to.
(defun %named-function (name)
  (cond ((symbolp name)
         (let ((f (and (fboundp name) (symbol-function name))))
           (if (and f (not (%generic-function-p f)) (boundp '%traced))
               (let ((entry (assoc name (symbol-value '%traced))))
                 (if (and entry (eq (caddr entry) f) (%generic-function-p (cadr entry)))
                     (cadr entry)
                     f))
               f)))
        ((%setf-name-p name) (get (cadr name) '%setf-function))
        (t (error "~S is not a function name" name))))

(defun %set-named-function (name function)
  (if (symbolp name)
      (%set-symbol-function name function)
      (progn
        (%install-setf-function (cadr name) function)
        ;; SETF of (name args...) calls the function found under the
        ;; name at that moment, without going through a function of
        ;; &REST arguments.
        (eval (list 'define-setf-expander (cadr name) '(&rest arguments)
                    (list '%simple-place (list 'quote (cadr name)) 'arguments
                          (list '%setf-function-caller (list 'quote (cadr name)))))))))

(defun %setf-function-caller (name)
  (lambda (&rest forms)
    (let ((l (last forms)))
      (list* 'funcall (list 'get (list 'quote name) ''%setf-function) (car l) (butlast forms)))))

;;; ------------------------------------------------------------------
;;; Lambda lists

;; (required optional rest keyp keys allow-other-keys): optional and keys
;; as the names of their variables (keys as keywords).
(defun %parse-lambda-list (lambda-list)
  (let ((required nil) (optional nil) (rest nil) (keyp nil) (keys nil) (allow nil)
        (mode :required))
    (dolist (p lambda-list)
      (cond ((eq p '&optional) (setq mode :optional))
            ((or (eq p '&rest) (eq p '&body)) (setq mode :rest))
            ((eq p '&key) (setq mode :key keyp t))
            ((eq p '&allow-other-keys) (setq allow t))
            ((eq p '&aux) (setq mode :aux))
            ((member p '(&whole &environment))
             (error "~S is not allowed in the lambda list ~S" p lambda-list))
            (t (case mode
                 (:required (setq required (cons (if (consp p) (car p) p) required)))
                 (:optional (setq optional (cons (if (consp p) (car p) p) optional)))
                 (:rest (setq rest p))
                 (:key (setq keys (cons (%key-spec-keyword p) keys)))
                 (t nil)))))
    (list (nreverse required) (nreverse optional) rest keyp (nreverse keys) allow)))

;; A method's lambda list accepts the generic function's.
(defun %check-congruence (gf lambda-list)
  (let ((g (%parse-lambda-list (%gf-lambda-list gf)))
        (m (%parse-lambda-list lambda-list)))
    (unless (and (= (length (car g)) (length (car m)))
                 (= (length (cadr g)) (length (cadr m)))
                 (eq (not (or (caddr g) (nth 3 g))) (not (or (caddr m) (nth 3 m))))
                 ;; The method takes every keyword the generic function names.
                 (or (not (nth 3 g))
                     (nth 5 m)
                     (and (caddr m) (not (nth 3 m)))
                     (dolist (k (nth 4 g) t)
                       (unless (member k (nth 4 m)) (return nil)))))
      (error "The lambda list ~S of a method is not congruent with the lambda list ~S of the generic function ~S"
             lambda-list (%gf-lambda-list gf) (%gf-name gf)))))

;; The lambda list a generic function gets from its first method.
(defun %generic-lambda-list (lambda-list)
  (let* ((p (%parse-lambda-list lambda-list))
         (out (copy-list (car p))))
    (when (cadr p) (setq out (append out (cons '&optional (cadr p)))))
    (when (caddr p) (setq out (append out (list '&rest (caddr p)))))
    (when (nth 3 p) (setq out (append out (list '&key))))
    out))

;;; ------------------------------------------------------------------
;;; Making generic functions

(defvar %caching-generic-functions nil)

;; Dispatch caches: the miss function, the number of key arguments, the
;; EQL lists, the number of entries, then 8 empty entries.
(defun %make-dispatch-cache (miss n eqls)
  (let ((v (make-array (+ 4 (* 8 (+ n 1))) :initial-element nil)))
    (setf (svref v 0) miss (svref v 1) n (svref v 2) eqls (svref v 3) 0)
    v))

;; How many leading arguments decide which methods apply, and the objects
;; EQL specialisers name at each of them.
(defun %dispatch-shape (gf)
  (let ((n 0) (eqls nil))
    (dolist (m (%gf-methods gf))
      (let ((i 0))
        (dolist (s (%method-specializers m))
          (unless (eq s %t-class)
            (when (>= i n) (setq n (+ i 1))))
          (when (consp s)
            (let ((entry (assoc i eqls)))
              (if entry
                  (unless (member (cadr s) (cdr entry)) (setf (cdr entry) (cons (cadr s) (cdr entry))))
                  (setq eqls (cons (list i (cadr s)) eqls)))))
          (setq i (+ i 1)))))
    (values n (and eqls
                   (let ((v (make-array n :initial-element nil)))
                     (dolist (e eqls v) (setf (svref v (car e)) (cdr e))))))))

;; Forget every effective method: the cache starts empty.
(defun %reset-dispatch (gf)
  (multiple-value-bind (n eqls) (%dispatch-shape gf)
    (%instance-set gf 2 (if (> n 16)
                            (%gf-miss-function gf)
                            (%make-dispatch-cache (%gf-miss-function gf) n eqls)))))

(defun %flush-all-dispatch ()
  (let ((gfs %caching-generic-functions))
    (setq %caching-generic-functions nil)
    (dolist (gf gfs) (%reset-dispatch gf))))

(defun %gf-miss (gf args)
  (let ((em (%effective-method-function gf args))
        (cache (%instance-ref gf 2)))
    (when (simple-vector-p cache)
      (when (eql (svref cache 3) 0)
        (setq %caching-generic-functions (cons gf %caching-generic-functions)))
      (%instance-set gf 2 (%dispatch-cache-add cache args em)))
    (apply em args)))

(defun %make-generic-function (name lambda-list class)
  (let* ((gf (%allocate-standard-instance class))
         (p (%parse-lambda-list lambda-list)))
    (%instance-set gf 3 name)
    (%instance-set gf 4 lambda-list)
    (%instance-set gf 5 nil)
    (%instance-set gf 6 '(standard))
    (%instance-set gf 7 (%precedence-indices (car p) nil name))
    (%instance-set gf 8 nil)
    (%instance-set gf 9 %standard-method-class)
    (%instance-set gf 10 (lambda (&rest args) (%gf-miss gf args)))
    (%instance-set gf 11 (length (car p)))
    (%instance-set gf 12 (and (null (cadr p)) (null (caddr p)) (null (nth 3 p))))
    (%instance-set gf 13 nil)
    (%instance-set gf 14 nil)
    (%instance-set gf 15 nil)
    (%reset-dispatch gf)
    gf))

(defun %set-gf-lambda-list (gf lambda-list)
  (let ((p (%parse-lambda-list lambda-list)))
    (%instance-set gf 4 lambda-list)
    (%instance-set gf 7 (%precedence-indices (car p) nil (%gf-name gf)))
    (%instance-set gf 11 (length (car p)))
    (%instance-set gf 12 (and (null (cadr p)) (null (caddr p)) (null (nth 3 p))))))

;; The argument precedence order as positions of required arguments.
(defun %precedence-indices (required order name)
  (if (null order)
      (let ((out nil))
        (dotimes (i (length required) (nreverse out)) (setq out (cons i out))))
      (progn
        (unless (and (= (length order) (length required))
                     (every (lambda (v) (member v required)) order))
          (error "The argument precedence order ~S of ~S does not name each required parameter of ~S once"
                 order name required))
        (mapcar (lambda (v) (position v required)) order))))

(defun ensure-generic-function (name &key (lambda-list nil lambda-list-p) documentation
                                     method-combination argument-precedence-order
                                     (generic-function-class %standard-generic-function-class)
                                     method-class declare environment)
  "The generic function named NAME, made (or made from what was a plain
function of that name) when there is none; the options given replace
its own."
  (let* ((symbol (if (consp name) (cadr name) name))
         (old (%named-function name))
         (class (if (symbolp generic-function-class)
                    (find-class generic-function-class)
                    generic-function-class))
         (gf (cond ((%generic-function-p old) old)
                   ((and (symbolp name) (or (special-operator-p name) (macro-function name)))
                    (error "~S names a ~:[macro~;special operator~], not a function: it cannot become a generic function"
                           name (special-operator-p symbol)))
                   ((compiled-function-p old)
                    (error "~S names a function of the kernel; it cannot become a generic function"
                           name))
                   (t (let ((g (%make-generic-function name lambda-list class)))
                        (%set-named-function name g)
                        g)))))
    (when (and lambda-list-p (not (equal lambda-list (%gf-lambda-list gf))))
      (dolist (m (%gf-methods gf))
        (%check-congruence-of gf lambda-list (%method-lambda-list m)))
      (%set-gf-lambda-list gf lambda-list))
    (when argument-precedence-order
      (%instance-set gf 7 (%precedence-indices (car (%parse-lambda-list (%gf-lambda-list gf)))
                                               argument-precedence-order name)))
    (when documentation
      (%instance-set gf 8 documentation)
      (%doc-store symbol (if (consp name) 'setf 'function) documentation))
    (when method-combination
      (%instance-set gf 6 (%check-method-combination method-combination)))
    (when method-class
      (%instance-set gf 9 (if (symbolp method-class) (find-class method-class) method-class)))
    (when declare (%instance-set gf 13 declare))
    (%gf-changed gf)
    gf))

(defun %check-congruence-of (gf lambda-list method-lambda-list)
  (let ((saved (%gf-lambda-list gf)))
    (%instance-set gf 4 lambda-list)
    (multiple-value-bind (v failure) (%catch-error (%check-congruence gf method-lambda-list))
      (%instance-set gf 4 saved)
      (when failure
        (error "The lambda list ~S of ~S is not congruent with its method of lambda list ~S"
               lambda-list (%gf-name gf) method-lambda-list)))))

;;; ------------------------------------------------------------------
;;; Methods

(defun %make-method (class specializers qualifiers lambda-list function next-p documentation)
  (let ((m (%allocate-standard-instance class)))
    (%instance-set m 2 nil)
    (%instance-set m 3 specializers)
    (%instance-set m 4 qualifiers)
    (%instance-set m 5 lambda-list)
    (%instance-set m 6 function)
    (%instance-set m 7 next-p)
    (%instance-set m 8 documentation)
    (%instance-set m 9 nil)
    (%instance-set m 10 nil)
    m))

;; The built-in classes CLASS-OF gives or that precede them: a method can
;; be specialised on these.  The others (FIXNUM, KEYWORD, SIMPLE-STRING,
;; ...) are types no object's class descends from, so a method on one
;; would never run.
(defvar %dispatch-classes
  (let ((out nil))
    (dolist (x (list 0 1.5 (complex 1 2) (code-char 65) 'a nil '(1) "s" (vector 1) (make-array '(2 2))
                     (make-hash-table) *standard-output* (symbol-function 'car)) out)
      (dolist (c (%class-cpl (class-of x)))
        (unless (member c out) (setq out (cons c out)))))))

(defun %specializer-class (c)
  (if (and (eq (%class-metaclass c) (find-class 'built-in-class))
           (not (member c %dispatch-classes)))
      (error "No object has ~S as its class: methods cannot be specialised on it" (class-name c))
      c))

;; A specializer as a method holds it: a class, or (EQL object).
(defun %specializer (s)
  (cond ((%class-object-p s) (%specializer-class s))
        ((and (consp s) (eq (car s) 'eql) (consp (cdr s)) (null (cddr s))) s)
        ((and s (symbolp s))
         (let ((c (find-class s nil)))
           (if c
               (%specializer-class c)
               (error "~S is not a class: a method cannot be specialised on it" s))))
        (t (error "~S is not a specializer" s))))

(defun %same-specializer-p (a b)
  (if (consp a)
      (and (consp b) (eql (cadr a) (cadr b)))
      (eq a b)))

(defun %same-specializers-p (a b)
  (loop
    (cond ((and (null a) (null b)) (return t))
          ((or (null a) (null b) (not (%same-specializer-p (car a) (car b)))) (return nil)))
    (setq a (cdr a) b (cdr b))))

(defun %find-method (gf qualifiers specializers)
  (dolist (m (%gf-methods gf) nil)
    (when (and (equal (%method-qualifiers m) qualifiers)
               (%same-specializers-p (%method-specializers m) specializers))
      (return m))))

(defvar %gf-changed-hooks nil)

;; Whatever changed in the generic function, its effective methods go.
(defun %gf-changed (gf)
  (%reset-dispatch gf)
  (dolist (hook %gf-changed-hooks) (funcall hook gf)))

(defun add-method (generic-function method)
  "Add METHOD to GENERIC-FUNCTION, replacing the method with the same
qualifiers and specializers; returns the generic function."
  (let ((gf generic-function))
    (when (and (%method-gf method) (not (eq (%method-gf method) gf)))
      (error "~S is already a method of ~S" method (%method-gf method)))
    (%check-congruence gf (%method-lambda-list method))
    (unless (= (length (%method-specializers method)) (%gf-required-count gf))
      (error "~S has ~D specializers; ~S takes ~D required arguments"
             method (length (%method-specializers method)) (%gf-name gf) (%gf-required-count gf)))
    (let ((old (%find-method gf (%method-qualifiers method) (%method-specializers method))))
      (when old
        (%instance-set gf 5 (remove old (%gf-methods gf)))
        (%instance-set old 2 nil)))
    (%instance-set method 2 gf)
    (%instance-set gf 5 (cons method (%gf-methods gf)))
    (%gf-changed gf)
    gf))

(defun remove-method (generic-function method)
  "Remove METHOD from GENERIC-FUNCTION; returns the generic function."
  (when (member method (%gf-methods generic-function))
    (%instance-set generic-function 5 (remove method (%gf-methods generic-function)))
    (%instance-set method 2 nil)
    (%gf-changed generic-function))
  generic-function)

(defun find-method (generic-function qualifiers specializers &optional (errorp t))
  "The method of GENERIC-FUNCTION with these qualifiers and specializers
(classes, class names or (EQL object) lists); NIL or an error when there
is none."
  (let ((specs (mapcar (function %specializer) specializers)))
    (unless (= (length specs) (%gf-required-count generic-function))
      (error "~S takes ~D required arguments; ~S are ~D specializers"
             (%gf-name generic-function) (%gf-required-count generic-function)
             specializers (length specs)))
    (or (%find-method generic-function qualifiers specs)
        (and errorp
             (error "~S has no method with the qualifiers ~S and the specializers ~S"
                    (%gf-name generic-function) qualifiers specializers)))))

;;; ------------------------------------------------------------------
;;; Applicable methods

(defun %specializer-applies-p (s arg)
  (cond ((eq s %t-class) t)
        ((consp s) (eql arg (cadr s)))
        (t (member s (%class-cpl (class-of arg))))))

(defun %method-applies-p (m args)
  (let ((a args))
    (dolist (s (%method-specializers m) t)
      (unless (and (consp a) (%specializer-applies-p s (car a))) (return nil))
      (setq a (cdr a)))))

;; Whether method 1 comes before method 2 for these arguments.
(defun %more-specific-p (m1 m2 args order)
  (let ((s1 (%method-specializers m1)) (s2 (%method-specializers m2)))
    (dolist (i order nil)
      (let ((a (nth i s1)) (b (nth i s2)))
        (unless (%same-specializer-p a b)
          (return (cond ((consp a) t)
                        ((consp b) nil)
                        (t (and (member b (cdr (member a (%class-cpl (class-of (nth i args))))))
                                t)))))))))

(defun %applicable-methods (gf args)
  (let ((found nil) (order (%gf-precedence gf)))
    (dolist (m (%gf-methods gf))
      (when (%method-applies-p m args) (setq found (cons m found))))
    (sort found (lambda (a b) (%more-specific-p a b args order)))))

(defun compute-applicable-methods (generic-function arguments)
  "The methods of GENERIC-FUNCTION that apply to ARGUMENTS, the most
specific first."
  (%applicable-methods generic-function arguments))

;;; ------------------------------------------------------------------
;;; Effective methods

(defun %closure-p (f) (and (consp f) (eq (car f) 'lexical-closure)))

;; The function a method is at a place in a chain, NEXT the function of
;; the rest of the chain (NIL at its end).
(defun %method-callable (m next)
  (if (%method-next-p m)
      (funcall (%method-function m) next m)
      (%method-function m)))

(defun %chain (methods tail)
  (let ((next tail))
    (dolist (m (reverse methods) next)
      (setq next (%method-callable m next)))))

;; A function of the generic function's arguments whose body BODY-FN
;; writes, given the maker of call forms: (funcall call f) is the form
;; that calls f on the arguments.
(defun %em-function (gf body-fn)
  (let* ((fixed (%gf-fixed-arity gf))
         (params (if fixed
                     (let ((out nil))
                       (dotimes (i (%gf-required-count gf) (nreverse out))
                         (setq out (cons (make-symbol "ARG") out))))
                     (list '&rest (make-symbol "ARGS"))))
         (call (if fixed
                   (lambda (f) (if (%closure-p f)
                                   (cons f params)
                                   (list* 'funcall (list 'quote f) params)))
                   (lambda (f) (list 'apply (list 'quote f) (cadr params))))))
    (eval (list 'function (list* 'lambda params (funcall body-fn call))))))

(defun %invalid-qualifiers (gf m combination)
  (error "The qualifiers ~S of ~S are not valid under the ~S method combination of ~S"
         (%method-qualifiers m) m combination (%gf-name gf)))

(defun %no-primary-method-function (gf)
  (lambda (&rest args) (%no-primary-method-error gf args)))

(defun %no-primary-method-error (gf arguments)
  (error "No primary method of the generic function ~S is applicable to the arguments ~S"
         (%gf-name gf) arguments))

(defun %standard-effective-method (gf methods)
  (let ((around nil) (before nil) (primary nil) (after nil))
    (dolist (m methods)
      (let ((q (%method-qualifiers m)))
        (cond ((null q) (setq primary (cons m primary)))
              ((cdr q) (%invalid-qualifiers gf m 'standard))
              ((eq (car q) :around) (setq around (cons m around)))
              ((eq (car q) :before) (setq before (cons m before)))
              ((eq (car q) :after) (setq after (cons m after)))
              (t (%invalid-qualifiers gf m 'standard)))))
    ;; AFTER stays least specific first, the order they run in.
    (setq around (nreverse around) before (nreverse before) primary (nreverse primary))
    (if (null primary)
        (%no-primary-method-function gf)
        (let* ((chain (%chain primary nil))
               (main (if (or before after)
                         (%em-function
                          gf (lambda (call)
                               (append (mapcar call (mapcar (lambda (m) (%method-function m)) before))
                                       (list (if after
                                                 (list* 'multiple-value-prog1 (funcall call chain)
                                                        (mapcar call (mapcar (lambda (m) (%method-function m))
                                                                     after)))
                                                 (funcall call chain))))))
                         chain)))
          (if around (%chain around main) main)))))

;; Short method combinations: NAME -> #(operator identity-with-one-argument
;; documentation).
(defvar %method-combinations nil)

(defun %check-method-combination (spec)
  (let* ((spec (if (consp spec) spec (list spec)))
         (name (car spec)))
    (unless (or (eq name 'standard) (assoc name %method-combinations))
      (error "~S is not a method combination" name))
    (unless (or (null (cdr spec))
                (and (not (eq name 'standard)) (null (cddr spec))
                     (member (cadr spec) '(:most-specific-first :most-specific-last))))
      (error "~S are not options of the ~S method combination" (cdr spec) name))
    spec))

(defun %short-effective-method (gf methods spec)
  (let* ((name (car spec))
         (entry (cdr (assoc name %method-combinations)))
         (operator (svref entry 0))
         (around nil) (primary nil))
    (dolist (m methods)
      (let ((q (%method-qualifiers m)))
        (cond ((equal q '(:around)) (setq around (cons m around)))
              ((and (consp q) (null (cdr q)) (eq (car q) name)) (setq primary (cons m primary)))
              (t (%invalid-qualifiers gf m name)))))
    (setq around (nreverse around))
    ;; PRIMARY is now least specific first.
    (unless (eq (cadr spec) :most-specific-last) (setq primary (nreverse primary)))
    (if (null primary)
        (%no-primary-method-function gf)
        (let ((main (if (and (svref entry 1) (null (cdr primary)))
                        (%method-callable (car primary) nil)
                        (let ((fns (mapcar (lambda (m) (%method-callable m nil)) primary)))
                          (%em-function gf (lambda (call)
                                             (list (cons operator (mapcar call fns)))))))))
          (if around (%chain around main) main)))))

;; A reader or writer method alone reads or writes its slot by location
;; when the class keeps it in the instance.
(defun %accessor-effective-method (gf m args)
  (let* ((reader (eq (%class-of-object m) (find-class 'standard-reader-method)))
         (object (if reader (car args) (cadr args)))
         (class (class-of object))
         (slot (and (%standard-object-p object)
                    (not (%class-object-p object))
                    (%find-slot-definition (%method-slot-name m) class))))
    (if (and slot (eq (%sdef-allocation slot) :instance) (%clos-slot-p slot))
        (eval (if reader
                  (list 'function (list 'lambda '(object) (list 'slot-value 'object (%sdef-location slot))))
                  (list 'function (list 'lambda '(value object)
                                        (list '%set-slot-value 'object (%sdef-location slot) 'value)))))
        (%method-function m))))

(defun %class-of-object (x) (%instance-ref x 0))

(defun %effective-method-function (gf args)
  (let ((methods (%applicable-methods gf args))
        (spec (%gf-method-combination gf)))
    (cond ((< (length args) (%gf-required-count gf))
           (lambda (&rest args) (%too-few-arguments-error gf args)))
          ((null methods)
           (lambda (&rest args) (apply (function no-applicable-method) gf args)))
          ((and (null (cdr methods)) (null (%method-qualifiers (car methods)))
                (%method-slot-name (car methods)))
           (%accessor-effective-method gf (car methods) args))
          (t (%checking-keywords gf methods
                                 (if (eq (car spec) 'standard)
                                     (%standard-effective-method gf methods)
                                     (%short-effective-method gf methods spec)))))))

(defun %too-few-arguments-error (gf args)
  (error "~S takes at least ~D arguments, not ~D: ~S"
         (%gf-name gf) (%gf-required-count gf) (length args) args))

;; A call of a generic function with &KEY may give only the keywords the
;; generic function or an applicable method names, unless one of them
;; allows other keys or the call gives :ALLOW-OTHER-KEYS true.
(defun %checking-keywords (gf methods em)
  (let ((g (%parse-lambda-list (%gf-lambda-list gf))))
    (if (or (not (nth 3 g)) (nth 5 g))
        em
        (let ((allowed (copy-list (nth 4 g))) (skip (+ (length (car g)) (length (cadr g)))))
          (dolist (m methods)
            (let ((p (%parse-lambda-list (%method-lambda-list m))))
              (when (nth 5 p) (return-from %checking-keywords em))
              (dolist (k (nth 4 p)) (unless (member k allowed) (setq allowed (cons k allowed))))))
          (lambda (&rest args)
            (let ((keys (nthcdr skip args)))
              (unless (getf keys :allow-other-keys)
                (do ((l keys (cddr l)))
                    ((null l))
                  (unless (or (member (car l) allowed) (eq (car l) :allow-other-keys))
                    (error 4150 (car l))))))
            (apply em args))))))

;;; ------------------------------------------------------------------
;;; Next methods

(defun %call-next-method (next method args)
  (if next
      (apply next args)
      (apply (function no-next-method) (%method-gf method) method args)))

(defun call-next-method (&rest arguments)
  "Call the next method: only within the body of a method."
  (error "CALL-NEXT-METHOD was called outside the body of a method"))

(defun next-method-p ()
  "Whether a next method exists: only within the body of a method."
  (error "NEXT-METHOD-P was called outside the body of a method"))

;; Does the tree mention the symbol?
(defun %tree-mentions-p (tree symbol)
  (loop
    (cond ((consp tree)
           (when (%tree-mentions-p (car tree) symbol) (return t))
           (setq tree (cdr tree)))
          (t (return (eq tree symbol))))))

;; Might the body assign one of the variables?  Every appearance of one
;; in an assigning form counts.
(defun %assigns-any-p (tree variables)
  (cond ((atom tree) nil)
        ((and (member (car tree) '(setq setf psetq psetf incf decf push pop pushnew
                                   multiple-value-setq rotatef shiftf))
              (dolist (v variables nil) (when (member v (cdr tree)) (return t))))
         t)
        (t (do ((x tree (cdr x)))
               ((atom x) nil)
             (when (%assigns-any-p (car x) variables) (return t))))))

;; A local macro for the method body: an uninterned symbol whose function
;; cell holds the macro.
(defun %local-macro (name lambda-list body)
  (let ((expander (make-symbol (symbol-name name))))
    (%set-symbol-function expander (list* 'macro lambda-list body))
    (cons name expander)))

;; The function form of a method: (values form next-p).  LAMBDA-LIST is
;; unspecialized; BODY the declarations and forms after the
;; documentation.
(defun %method-function-form (name lambda-list body)
  (multiple-value-bind (declarations forms) (%parse-body body)
    (let* ((block-name (if (consp name) (cadr name) name))
           (forms (if (%mentions-return-from block-name forms)
                      (list (list* 'block block-name forms))
                      forms))
           (lambda-list (if (and (member '&key lambda-list)
                                 (not (member '&allow-other-keys lambda-list)))
                            (%add-allow-other-keys lambda-list)
                            lambda-list)))
      (if (not (or (%tree-mentions-p forms 'call-next-method)
                   (%tree-mentions-p forms 'next-method-p)))
          (values (list 'function (list* 'lambda lambda-list (append declarations forms))) nil)
          (let* ((next (make-symbol "NEXT"))
                 (method (make-symbol "METHOD"))
                 (p (%parse-lambda-list lambda-list))
                 (plain (and (null (cadr p)) (null (caddr p)) (null (nth 3 p))
                             (not (member '&aux lambda-list))
                             (not (%assigns-any-p forms (car p)))))
                 (all (make-symbol "ARGUMENTS"))
                 (original (if plain (cons 'list (car p)) all))
                 (env (%make-walk-env
                       nil
                       (list (%local-macro 'call-next-method '(&rest arguments)
                                           (list (list 'list ''%call-next-method
                                                       (list 'quote next) (list 'quote method)
                                                       (list 'if 'arguments
                                                             '(cons 'list arguments)
                                                             (list 'quote original)))))
                             (%local-macro 'next-method-p nil
                                           (list (list 'quote
                                                       (list 'if next t nil)))))
                       nil))
                 (inner (list* 'lambda lambda-list
                               (append declarations (%walk-list forms env)))))
            (values (list 'function
                          (list 'lambda (list next method)
                                (if plain
                                    (list 'function inner)
                                    (list 'function
                                          (list 'lambda (list '&rest all)
                                                (list 'apply (list 'function inner) all))))))
                    t))))))

(defun %add-allow-other-keys (lambda-list)
  (let ((aux (member '&aux lambda-list)))
    (append (ldiff lambda-list aux) (list '&allow-other-keys) aux)))

;; (values lambda-list specializer-forms) of a specialized lambda list.
(defun %split-specialized (specialized)
  (let ((plain nil) (specs nil) (rest specialized))
    (loop
      (when (or (atom rest) (member (car rest) '(&optional &rest &body &key &aux &allow-other-keys)))
        (return nil))
      (let ((p (car rest)))
        (cond ((symbolp p) (setq plain (cons p plain) specs (cons ''t specs)))
              ((and (consp p) (symbolp (car p)) (consp (cdr p)) (null (cddr p)))
               (setq plain (cons (car p) plain))
               (let ((s (cadr p)))
                 (setq specs (cons (if (and (consp s) (eq (car s) 'eql))
                                       (list 'list ''eql (cadr s))
                                       (list 'quote s))
                                   specs))))
              (t (error "~S is not a parameter of a specialized lambda list" p))))
      (setq rest (cdr rest)))
    (values (append (nreverse plain) rest) (cons 'list (nreverse specs)))))

;;; ------------------------------------------------------------------
;;; DEFMETHOD and DEFGENERIC

;; The form that makes (but does not add) a method.
(defun %method-form (name qualifiers specialized body)
  (multiple-value-bind (lambda-list specializers) (%split-specialized specialized)
    (multiple-value-bind (declarations forms documentation) (%parse-body body t)
      (multiple-value-bind (function next-p)
          (%method-function-form name lambda-list (append declarations forms))
        (list '%make-method-for (list 'quote name) (list 'quote qualifiers) specializers
              (list 'quote lambda-list) function next-p documentation)))))

(defun %make-method-for (name qualifiers specializers lambda-list function next-p documentation)
  (let* ((old (%named-function name))
         (class (if (%generic-function-p old) (%gf-method-class old) %standard-method-class)))
    (%make-method class (mapcar (function %specializer) specializers)
                  qualifiers lambda-list function next-p documentation)))

(defun %defmethod (name method)
  (let* ((old (%named-function name))
         (gf (if (%generic-function-p old)
                 old
                 (ensure-generic-function name :lambda-list (%generic-lambda-list
                                                             (%method-lambda-list method))))))
    (add-method gf method)
    method))

;; (defmethod name qualifier* specialized-lambda-list . body)
(defmacro defmethod (name &rest rest)
  "Define a method of the generic function NAME (made when there is
none): qualifiers, a lambda list whose required parameters may be
(variable class-name) or (variable (EQL form)), and a body in which
CALL-NEXT-METHOD and NEXT-METHOD-P are defined."
  (unless (%function-name-p name) (error "~S is not a function name" name))
  (let ((qualifiers nil))
    (loop
      (when (or (null rest) (listp (car rest))) (return nil))
      (setq qualifiers (cons (car rest) qualifiers) rest (cdr rest)))
    (when (null rest) (error "DEFMETHOD ~S has no lambda list" name))
    (list '%defmethod (list 'quote name)
          (%method-form name (nreverse qualifiers) (car rest) (cdr rest)))))

(defmacro defgeneric (name lambda-list &rest options)
  "Define the generic function NAME with LAMBDA-LIST.  Options:
(:documentation string), (:method-combination name . arguments),
(:argument-precedence-order . parameters), (:generic-function-class c),
(:method-class c), (declare ...), and (:method ...) forms that define
methods along with it."
  (unless (%function-name-p name) (error "~S is not a function name" name))
  (let ((plain nil) (methods nil))
    (dolist (o options)
      (unless (consp o) (error "~S is not an option of DEFGENERIC" o))
      (case (car o)
        (:method
         (let ((qualifiers nil) (rest (cdr o)))
           (loop
             (when (or (null rest) (listp (car rest))) (return nil))
             (setq qualifiers (cons (car rest) qualifiers) rest (cdr rest)))
           (setq methods (cons (%method-form name (nreverse qualifiers) (car rest) (cdr rest))
                               methods))))
        ((:documentation :method-combination :argument-precedence-order
          :generic-function-class :method-class declare)
         (when (assoc (car o) plain) (error "The option ~S is given twice" (car o)))
         (setq plain (cons o plain)))
        (t (error "~S is not an option of DEFGENERIC" o))))
    (list '%defgeneric (list 'quote name) (list 'quote lambda-list) (list 'quote plain)
          (cons 'list (nreverse methods)))))

(defun %defgeneric (name lambda-list options methods)
  (let* ((old (%named-function name))
         (o (lambda (key) (cdr (assoc key options))))
         (gf (ensure-generic-function
              name :lambda-list lambda-list
                   :documentation (car (funcall o :documentation))
                   :method-combination (funcall o :method-combination)
                   :argument-precedence-order (funcall o :argument-precedence-order)
                   :generic-function-class (or (car (funcall o :generic-function-class))
                                               (if (%generic-function-p old)
                                                   (%class-of-object old)
                                                   %standard-generic-function-class))
                   :method-class (car (funcall o :method-class))
                   :declare (funcall o 'declare))))
    (unless (funcall o :method-combination) (%instance-set gf 6 '(standard)))
    (unless (funcall o :argument-precedence-order)
      (%instance-set gf 7 (%precedence-indices (car (%parse-lambda-list lambda-list)) nil name)))
    ;; Methods an earlier DEFGENERIC of the name defined go.
    (dolist (m (%gf-initial-methods gf)) (remove-method gf m))
    (dolist (m methods) (add-method gf m))
    (%instance-set gf 14 methods)
    gf))

;;; ------------------------------------------------------------------
;;; Method combinations

(defmacro define-method-combination (name &rest options)
  "Define the method combination NAME in the short form: the primary
methods (qualified by NAME) are combined by the :OPERATOR (NAME when not
given) around which :AROUND methods run."
  (when (and options (listp (car options)))
    (error "Only the short form of DEFINE-METHOD-COMBINATION is available"))
  (let ((operator name) (identity nil) (documentation nil))
    (do ((o options (cddr o)))
        ((null o))
      (case (car o)
        (:operator (setq operator (cadr o)))
        (:identity-with-one-argument (setq identity (cadr o)))
        (:documentation (setq documentation (cadr o)))
        (t (error "~S is not an option of DEFINE-METHOD-COMBINATION" (car o)))))
    (list '%define-method-combination (list 'quote name) (list 'quote operator)
          (list 'quote identity) documentation)))

(defun %define-method-combination (name operator identity documentation)
  (setq %method-combinations
        (cons (cons name (vector operator identity documentation))
              (remove name %method-combinations :key (function car))))
  (when documentation (%doc-store name 'method-combination documentation))
  ;; Generic functions combining methods this way must combine them anew.
  (%flush-all-dispatch)
  name)

(define-method-combination + :identity-with-one-argument t)
(define-method-combination and :identity-with-one-argument t)
(define-method-combination or :identity-with-one-argument t)
(define-method-combination progn :identity-with-one-argument t)
(define-method-combination list)
(define-method-combination append :identity-with-one-argument t)
(define-method-combination nconc :identity-with-one-argument t)
(define-method-combination max :identity-with-one-argument t)
(define-method-combination min :identity-with-one-argument t)

;;; ------------------------------------------------------------------
;;; The protocol's own generic functions

(defun %gf-label (gf)
  (if (%generic-function-p gf) (%gf-name gf) gf))

(defun %no-applicable-method-error (gf arguments)
  (error "No method of the generic function ~S is applicable to the arguments ~S"
         (%gf-label gf) arguments))

(defun %no-next-method-error (gf method arguments)
  (error "~S has no next method after ~S for the arguments ~S"
         (%gf-label gf) method arguments))

(defgeneric no-applicable-method (generic-function &rest arguments)
  (:documentation "Called when no method of GENERIC-FUNCTION applies to ARGUMENTS.")
  (:method ((generic-function t) &rest arguments)
    (%no-applicable-method-error generic-function arguments)))

(defgeneric no-next-method (generic-function method &rest arguments)
  (:documentation "Called by CALL-NEXT-METHOD when METHOD is the last of its chain.")
  (:method ((generic-function t) (method t) &rest arguments)
    (%no-next-method-error generic-function method arguments)))

;;; ------------------------------------------------------------------
;;; The rest of the interface of methods

(defun function-keywords (method)
  "Two values: the keywords METHOD's lambda list names after &KEY, and
whether it allows other keys."
  (let ((p (%parse-lambda-list (%method-lambda-list method))))
    (values (nth 4 p) (nth 5 p))))

(defun invalid-method-error (method format-control &rest arguments)
  "Signal that METHOD does not suit the method combination, with the
message FORMAT-CONTROL makes of ARGUMENTS."
  (error "Invalid method ~S: ~?" method format-control arguments))

(defun method-combination-error (format-control &rest arguments)
  "Signal an error of a method combination, with the message
FORMAT-CONTROL makes of ARGUMENTS."
  (error "Method combination error: ~?" format-control arguments))
