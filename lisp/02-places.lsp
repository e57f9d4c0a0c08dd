;;;; Places: the expanders SETF uses for the standard accessors, and the
;;;; macros that read and write a place (PUSH, POP, INCF, ROTATEF, ...).
;;;;
;;;; SETF itself, DEFSETF, DEFINE-SETF-EXPANDER and GET-SETF-EXPANSION are
;;;; the kernel's.  An expansion is five values: temporaries, their value
;;;; forms, store variables, store form and access form; the kernel names
;;;; the store variable of every expansion %STORE.
;;;;
;;;; The accessors here are defined with DEFINE-SETF-EXPANDER so that an
;;;; argument that is a call gets a temporary bound before the new value is
;;;; computed: (setf (gethash (read s) table) (read s)) reads the key first.
;;;; Variables and constants are used as they stand when SETF asks; when
;;;; GET-SETF-EXPANSION asks (the update macros below, or user code), every
;;;; argument that is not a constant gets a temporary, and the update macros
;;;; put variables back in wherever nothing evaluated later could change
;;;; them.  (incf x) is (setq x (+ x 1)); (incf (aref v i)) is
;;;; (%aset v (+ (aref v i) 1) i).
;;;;
;;;; Only the kernel's special forms and built-ins and 00-base are used.

;; True while GET-SETF-EXPANSION runs: every non-constant argument of a
;; place gets a temporary.
(defvar %safe-place-arguments nil)

;; The kernel's expansion, kept once (loading this file again must not
;; make the new definition its own kernel).
(unless (fboundp '%kernel-get-setf-expansion)
  (%set-symbol-function '%kernel-get-setf-expansion (symbol-function 'get-setf-expansion)))

(defun get-setf-expansion (place &optional environment)
  "The five values that describe how to read and write PLACE: temporaries,
their value forms, store variables, store form and access form."
  (let ((%safe-place-arguments t))
    (%kernel-get-setf-expansion place)))

;; A variable or a constant: the same value wherever it is read, as long
;; as nothing assigns the variable in between.
(defun %inert-p (form)
  (or (symbolp form) (constantp form)))

;; A form that cannot assign a variable: an inert form, or a call of a
;; reader (a function marked %READS-ONLY) on such forms.
(defun %harmless-p (form)
  (cond ((atom form) t)
        ((eq (car form) 'quote) t)
        ((and (symbolp (car form)) (get (car form) '%reads-only))
         (%all-harmless-p (cdr form)))))

(defun %all-harmless-p (forms)
  (dolist (f forms t)
    (unless (%harmless-p f) (return nil))))

(dolist (f '(car cdr caar cadr cdar cddr caaar caadr cadar caddr cdaar cdadr cddar cdddr
             first second third fourth fifth sixth seventh eighth ninth tenth rest
             nth nthcdr elt aref row-major-aref svref char schar gethash get getf
             symbol-value symbol-function symbol-plist slot-value length
             + - * 1+ 1- = /= < > <= >= eq eql equal not null atom consp
             ldb mask-field byte logand logior logxor ash))
  (%putprop f '%reads-only t))

;; How many times X occurs in the tree FORM.
(defun %occurrences (x form)
  (let ((n 0))
    (loop
      (cond ((eq form x) (return (+ n 1)))
            ((atom form) (return n)))
      (setq n (+ n (%occurrences x (car form))))
      (setq form (cdr form)))))

;; The arguments of a place, made safe: (values safe-forms temps vals).
(defun %place-arguments (args)
  (let ((safe nil) (temps nil) (vals nil))
    (dolist (a args)
      (if (or (constantp a) (and (symbolp a) (not %safe-place-arguments)))
          (setq safe (cons a safe))
          (let ((g (gensym)))
            (setq temps (cons g temps) vals (cons a vals) safe (cons g safe)))))
    (values (nreverse safe) (nreverse temps) (nreverse vals))))

;; The expansion of a place (ACCESSOR . ARGS) whose store form BUILD makes
;; from the safe arguments and the store variable.
(defun %simple-place (accessor args build)
  (multiple-value-bind (safe temps vals) (%place-arguments args)
    (values temps vals (list '%store)
            (apply build (append safe (list '%store)))
            (cons accessor safe))))

;; A store variable marked with this property stands for a form that
;; delivers several values; it is always replaced by the form itself.
(%putprop '%values-store '%substitute t)
(%mark-substitutable %values-store)

;; A store form that is a function call whose arguments are atoms,
;; quoted constants and such calls, VAR among them once: the form of the
;; new value can take VAR's place without changing what is evaluated when.
(defun %plain-call-p (form var)
  (and (= (%occurrences var form) 1)
       (%plain-call-form-p form var)))

(defun %plain-call-form-p (form var)
  (and (consp form)
       (symbolp (car form))
       (not (special-operator-p (car form)))
       (not (macro-function (car form)))
       (dolist (a (cdr form) t)
         (unless (or (atom a) (eq (car a) 'quote) (%plain-call-form-p a var))
           (return nil)))))

;; A form that stores the value of NEW through STORE (a store form over the
;; store variables STORES) and returns it.  Store variables are renamed, so
;; the result can be nested in another store form that uses %STORE.
(defun %store-with (stores store new)
  (cond ((and (consp stores) (null (cdr stores)))
         (let ((s (car stores)))
           (if (or (get s '%substitute) (%inert-p new) (%plain-call-p store s)
                   (and (consp store) (eq (car store) 'setq) (null (cdddr store))
                        (eq (caddr store) s)))
               (subst new s store)
               (let ((g (gensym)))
                 (list 'let (list (list g new)) (subst g s store))))))
        (t
         (let ((alist nil))
           (dolist (s stores)
             (setq alist (cons (cons s (gensym)) alist)))
           (setq alist (nreverse alist))
           (list 'multiple-value-bind (mapcar (function cdr) alist) new
                 (sublis alist store))))))

;; Drops the temporaries whose value form is a constant, or a variable
;; that nothing evaluated after it (the later value forms and the forms
;; LATER) could assign.  Returns the bindings kept and the substitution to
;; apply to the forms that use the temporaries.
(defun %fold-temporaries (temps vals later)
  (let ((kept nil) (alist nil) (later-harmless (%all-harmless-p later)))
    (do ((ts temps (cdr ts))
         (vs vals (cdr vs)))
        ((null ts))
      (let ((v (if alist (sublis alist (car vs)) (car vs))))
        (if (or (constantp v)
                (and (symbolp v) later-harmless (%all-harmless-p (cdr vs))))
            (setq alist (cons (cons (car ts) v) alist))
            (setq kept (cons (list (car ts) v) kept)))))
    (values (nreverse kept) alist)))

;; (progn . FORMS), the forms of inner PROGNs spliced in.
(defun %progn-form (forms)
  (let ((out nil))
    (dolist (f forms)
      (if (and (consp f) (eq (car f) 'progn))
          (dolist (g (cdr f)) (setq out (cons g out)))
          (setq out (cons f out))))
    (cons 'progn (nreverse out))))

(defun %let*-form (bindings body)
  (if bindings (list 'let* bindings body) body))

;; The expansion of an update of PLACE: PRE are forms evaluated before the
;; place's subforms, LATER forms the new value uses after reading the
;; place.  BUILD receives the access form and the forms standing for PRE
;; and returns the form of the new value; the expansion stores it and
;; returns it.
(defun %update-expansion (place pre later build)
  (if (and (symbolp place) (not (constantp place)))
      (list 'setq place (apply build place pre))
      (multiple-value-bind (temps vals stores store access) (get-setf-expansion place)
        (let ((pre-temps (mapcar (function (lambda (f) (gensym))) pre)))
          (multiple-value-bind (bindings alist)
              (%fold-temporaries (append pre-temps temps) (append pre vals) later)
            (%let*-form bindings
                        (%store-with stores (sublis alist store)
                                     (apply build (sublis alist access)
                                            (sublis alist pre-temps)))))))))

;;; ---------------------------------------------------------------------------
;;; The expanders of the standard accessors

;; Conses: (setf (cadr x) v) is (car (rplaca (cdr x) v)), which returns v.
(defun %cons-place-store (setter path)
  (function (lambda (c s)
              (let ((inner c))
                (dolist (op path) (setq inner (list op inner)))
                (list (if (eq setter 'rplaca) 'car 'cdr) (list setter inner s))))))

(defun %define-cons-place (name setter path)
  (eval (list 'define-setf-expander name '(c)
              (list '%simple-place (list 'quote name) '(list c)
                    (list '%cons-place-store (list 'quote setter) (list 'quote path))))))

;; (name setter [accessor of the cons to change])
(dolist (spec '((car rplaca) (cdr rplacd)
                (caar rplaca car) (cadr rplaca cdr) (cdar rplacd car) (cddr rplacd cdr)
                (caaar rplaca caar) (caadr rplaca cadr) (cadar rplaca cdar) (caddr rplaca cddr)
                (cdaar rplacd caar) (cdadr rplacd cadr) (cddar rplacd cdar) (cdddr rplacd cddr)
                (first rplaca) (second rplaca cdr) (third rplaca cddr) (rest rplacd)))
  (%define-cons-place (car spec) (cadr spec) (cddr spec)))

;; FOURTH .. TENTH: (setf (fifth x) v) is (car (rplaca (nthcdr 4 x) v)).
(let ((n 3))
  (dolist (name '(fourth fifth sixth seventh eighth ninth tenth))
    (eval (list 'define-setf-expander name '(c)
                (list '%simple-place (list 'quote name) '(list c)
                      (list 'function
                            (list 'lambda '(c s)
                                  (list 'list ''car
                                        (list 'list ''rplaca (list 'list ''nthcdr n 'c) 's)))))))
    (setq n (+ n 1))))

(define-setf-expander nth (n list)
  (%simple-place 'nth (list n list)
                 (function (lambda (n l s) (list 'car (list 'rplaca (list 'nthcdr n l) s))))))

(defun %set-nthcdr (n list new)
  (unless (and (integerp n) (> n 0)) (error 5170 n))
  (rplacd (nthcdr (- n 1) list) new)
  new)

(define-setf-expander nthcdr (n list)
  (%simple-place 'nthcdr (list n list)
                 (function (lambda (n l s) (list '%set-nthcdr n l s)))))

(define-setf-expander elt (sequence index)
  (%simple-place 'elt (list sequence index)
                 (function (lambda (q i s) (list '%setelt q i s)))))

(define-setf-expander aref (array &rest subscripts)
  (%simple-place 'aref (cons array subscripts)
                 (function (lambda (a &rest r)
                             (let ((subs (butlast r)))
                               (cons '%aset (cons a (cons (car (last r)) subs))))))))

(define-setf-expander row-major-aref (array index)
  (%simple-place 'row-major-aref (list array index)
                 (function (lambda (a i s) (list '%set-row-major-aref a i s)))))

(define-setf-expander svref (vector index)
  (%simple-place 'svref (list vector index)
                 (function (lambda (v i s) (list '%set-svref v i s)))))

(define-setf-expander char (string index)
  (%simple-place 'char (list string index)
                 (function (lambda (v i s) (list '%set-char v i s)))))

(define-setf-expander schar (string index)
  (%simple-place 'schar (list string index)
                 (function (lambda (v i s) (list '%set-char v i s)))))

;; The default of GETHASH, GET and GETF is evaluated (for its effects)
;; when the place is, and plays no part in the store.
(define-setf-expander gethash (key table &optional (default nil default-p))
  (%simple-place 'gethash (if default-p (list key table default) (list key table))
                 (function (lambda (k h &rest r) (list '%puthash k h (car (last r)))))))

(define-setf-expander get (symbol indicator &optional (default nil default-p))
  (%simple-place 'get (if default-p (list symbol indicator default) (list symbol indicator))
                 (function (lambda (y i &rest r) (list '%putprop y i (car (last r)))))))

(define-setf-expander symbol-value (symbol)
  (%simple-place 'symbol-value (list symbol)
                 (function (lambda (y s) (list 'set y s)))))

(define-setf-expander symbol-function (symbol)
  (%simple-place 'symbol-function (list symbol)
                 (function (lambda (y s) (list '%set-symbol-function y s)))))

(define-setf-expander symbol-plist (symbol)
  (%simple-place 'symbol-plist (list symbol)
                 (function (lambda (y s) (list '%set-symbol-plist y s)))))

(define-setf-expander slot-value (object slot)
  (%simple-place 'slot-value (list object slot)
                 (function (lambda (o n s) (list '%set-slot-value o n s)))))

(define-setf-expander subseq (sequence start &optional (end nil end-p))
  (%simple-place 'subseq (if end-p (list sequence start end) (list sequence start))
                 (function (lambda (q b &rest r)
                             (list 'progn
                                   (list 'replace q (car (last r)) :start1 b
                                         :end1 (if (cdr r) (car r) nil))
                                   (car (last r)))))))

;;; Places inside places: the outer store computes a new value for the
;;; inner place and stores it there.

;; The expansion of a place whose value is kept in the place INNER: the
;; outer place's extra arguments EXTRA are made safe; READ makes the
;; access form from the inner access form and the safe extra arguments,
;; WRITE the inner place's new value from the inner access form, the new
;; outer value (%STORE) and the safe extra arguments.
(defun %nested-place (inner extra read write)
  (multiple-value-bind (itemps ivals istores istore iaccess)
      (if %safe-place-arguments
          (get-setf-expansion inner)
          (%kernel-get-setf-expansion inner))
    (multiple-value-bind (safe temps vals) (%place-arguments extra)
      (values (append itemps temps) (append ivals vals) (list '%store)
              (list 'progn
                    (%store-with istores istore (apply write iaccess '%store safe))
                    '%store)
              (apply read iaccess safe)))))

(define-setf-expander getf (place indicator &optional (default nil default-p))
  (%nested-place place (if default-p (list indicator default) (list indicator))
                 (function (lambda (a i &rest d) (cons 'getf (cons a (cons i d)))))
                 (function (lambda (a new i &rest d) (list '%putf a i new)))))

(define-setf-expander the (type place)
  (multiple-value-bind (temps vals stores store access) (get-setf-expansion place)
    (values temps vals stores
            (subst (list 'the type (car stores)) (car stores) store)
            (list 'the type access))))

;;; Bytes of integers: LDB and MASK-FIELD store through DPB and
;;; DEPOSIT-FIELD (defined with the other integer functions).

(define-setf-expander ldb (bytespec place)
  (%nested-place place (list bytespec)
                 (function (lambda (a b) (list 'ldb b a)))
                 (function (lambda (a new b) (list 'dpb new b a)))))

(define-setf-expander mask-field (bytespec place)
  (%nested-place place (list bytespec)
                 (function (lambda (a b) (list 'mask-field b a)))
                 (function (lambda (a new b) (list 'deposit-field new b a)))))

;; (setf (values a (car x)) form) stores each value of form into its place.
(define-setf-expander values (&rest places)
  (let ((temps nil) (vals nil) (news nil) (stores nil) (accesses nil))
    (dolist (p places)
      (multiple-value-bind (pt pv ps pstore paccess)
          (if %safe-place-arguments
              (get-setf-expansion p)
              (%kernel-get-setf-expansion p))
        (let ((new (gensym)))
          (setq temps (append temps pt) vals (append vals pv)
                news (cons new news)
                stores (cons (%store-with ps pstore new) stores)
                accesses (cons paccess accesses)))))
    (setq news (nreverse news))
    (values temps vals (list '%values-store)
            (cons 'multiple-value-bind
                  (cons news (cons '%values-store
                                   (append (nreverse stores) (list (cons 'values news))))))
            (cons 'values (nreverse accesses)))))

;;; ---------------------------------------------------------------------------
;;; Update macros

(defmacro incf (place &optional (delta 1))
  (%update-expansion place nil (list delta)
                     (function (lambda (a) (list '+ a delta)))))

(defmacro decf (place &optional (delta 1))
  (%update-expansion place nil (list delta)
                     (function (lambda (a) (list '- a delta)))))

(defmacro push (item place)
  (%update-expansion place (list item) nil
                     (function (lambda (a i) (list 'cons i a)))))

(defmacro pushnew (item place &rest keys)
  (%update-expansion place (list item) keys
                     (function (lambda (a i) (cons 'adjoin (cons i (cons a keys)))))))

(defmacro pop (place)
  (if (and (symbolp place) (not (constantp place)))
      (list 'prog1 (list 'car place) (list 'setq place (list 'cdr place)))
      (multiple-value-bind (temps vals stores store access) (get-setf-expansion place)
        (multiple-value-bind (bindings alist) (%fold-temporaries temps vals nil)
          (let ((l (gensym)))
            (list 'let* (append bindings (list (list l (sublis alist access))))
                  (list 'prog1 (list 'car l)
                        (%store-with stores (sublis alist store) (list 'cdr l)))))))))

;; REMF: removes the property from the property list in PLACE; T when it
;; was there.
(defmacro remf (place indicator)
  (multiple-value-bind (temps vals stores store access)
      (if (and (symbolp place) (not (constantp place)))
          (values nil nil (list '%store) (list 'setq place '%store) place)
          (get-setf-expansion place))
    (let ((i (gensym)) (new (gensym)) (found (gensym)))
      (multiple-value-bind (bindings alist)
          (%fold-temporaries (append temps (list i)) (append vals (list indicator)) nil)
        (%let*-form bindings
                    (list 'multiple-value-bind (list new found)
                          (list '%remf (sublis alist access) (sublis alist i))
                          (%store-with stores (sublis alist store) new)
                          found))))))

(defmacro define-modify-macro (name lambda-list function &optional documentation)
  "Defines NAME as a macro (NAME place . LAMBDA-LIST) that stores into
place the value of (FUNCTION place-value . arguments)."
  (let ((place (gensym)) (access (gensym)) (vars nil) (rest nil))
    (do ((l lambda-list (cdr l)))
        ((null l))
      (cond ((eq (car l) '&optional))
            ((eq (car l) '&rest) (setq rest (cadr l) l (cdr l)))
            ((consp (car l)) (setq vars (cons (caar l) vars)))
            (t (setq vars (cons (car l) vars)))))
    (let ((args (cons 'list* (append (reverse vars) (list rest)))))
      (append (list 'defmacro name (cons place lambda-list))
              (if documentation (list documentation))
              (list (list '%update-expansion place nil args
                          (list 'function
                                (list 'lambda (list access)
                                      (list 'list* (list 'quote function) access args)))))))))

;;; Several places at once.  The places' subforms are evaluated left to
;;; right and all values read before anything is stored.

(defun %all-variables-p (places)
  (dolist (p places t)
    (unless (and (symbolp p) (not (constantp p))) (return nil))))

;; Expansions of PLACES as a list of (stores store access), the bindings
;; of all their temporaries and of VALUES (forms paired with the
;; variables NEWS, each after its place), and the substitution to apply.
;; LATER are forms evaluated after the bindings.  Storing into a variable
;; place may change a variable another place uses, so with any variable
;; place the temporaries are all kept.
(defun %expand-places (places news values later)
  (let ((temps nil) (vals nil) (expansions nil))
    (dolist (p places)
      (multiple-value-bind (pt pv ps pstore paccess) (get-setf-expansion p)
        (setq temps (append temps pt (if news (list (car news))))
              vals (append vals pv (if news (list (car values))))
              expansions (cons (list ps pstore paccess) expansions)
              news (cdr news) values (cdr values))))
    (multiple-value-bind (bindings alist)
        (%fold-temporaries temps vals
                           (if (dolist (p places nil) (if (symbolp p) (return t)))
                               (cons '(progn) later)
                               later))
      (values (nreverse expansions) bindings alist))))

(defmacro psetf (&rest pairs)
  (let ((places nil) (values nil) (news nil))
    (do ((l pairs (cddr l)))
        ((null l))
      (setq places (cons (car l) places)
            values (cons (cadr l) values)
            news (cons (gensym) news)))
    (setq places (nreverse places) values (nreverse values))
    (if (%all-variables-p places)
        (list 'progn (cons 'psetq pairs) nil)
        (multiple-value-bind (expansions bindings alist) (%expand-places places news values nil)
          (let ((stores nil))
            (dolist (e expansions)
              (setq stores (cons (%store-with (car e) (sublis alist (cadr e))
                                              (sublis alist (car news)))
                                 stores)
                    news (cdr news)))
            (%let*-form bindings (%progn-form (append (nreverse stores) (list nil)))))))))

;; The stores of ROTATEF and SHIFTF: place k receives the old value of
;; place k+1; the last place receives the value of NEW when SHIFT is
;; true (SHIFTF, which returns the first place's old value), else the
;; first place's old value.
(defun %shift-places (places shift new)
  (multiple-value-bind (expansions bindings alist)
      (%expand-places places nil nil (if shift (list new)))
    (let ((olds nil) (stores nil))
      (dolist (e expansions)
        (let ((g (gensym)))
          (setq olds (cons g olds)
                bindings (append bindings (list (list g (sublis alist (caddr e))))))))
      (setq olds (nreverse olds))
      (when (and shift (not (constantp new)))
        (let ((g (gensym)))
          (setq bindings (append bindings (list (list g new))) new g)))
      (do ((es expansions (cdr es))
           (next (cdr olds) (cdr next)))
          ((null es))
        (setq stores (cons (%store-with (car (car es)) (sublis alist (cadr (car es)))
                                        (cond (next (car next)) (shift new) (t (car olds))))
                           stores)))
      (list 'let* bindings
            (%progn-form (append (nreverse stores) (list (if shift (car olds) nil))))))))

(defmacro rotatef (&rest places)
  (cond ((null (cdr places)) nil)
        ((%all-variables-p places)
         (let ((pairs nil))
           (do ((l places (cdr l)))
               ((null l))
             (setq pairs (cons (if (cdr l) (cadr l) (car places)) (cons (car l) pairs))))
           (list 'progn (cons 'psetq (nreverse pairs)) nil)))
        (t (%shift-places places nil nil))))

(defmacro shiftf (&rest places-and-value)
  (let ((places (butlast places-and-value))
        (new (car (last places-and-value))))
    (if (%all-variables-p places)
        (let ((pairs nil))
          (do ((l places (cdr l)))
              ((null l))
            (setq pairs (cons (if (cdr l) (cadr l) new) (cons (car l) pairs))))
          (list 'prog1 (car places) (cons 'psetq (nreverse pairs))))
        (%shift-places places t new))))
