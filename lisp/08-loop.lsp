;;;; The extended LOOP.
;;;;
;;;; (loop form...) whose forms are all compound stays the kernel's simple
;;;; loop.  Anything else is read as loop clauses and expanded, once per
;;;; call site, into
;;;;
;;;;   (block NAME
;;;;     (let* (variables...)
;;;;       initially-forms
;;;;       first-pass tests and assignments
;;;;       (%simple-loop body-clauses... stepping and tests)))
;;;;
;;;; The simple loop walks its body natively, with no throw per pass, so a
;;;; pass costs only its own forms: SETQ and the tests, no closures, and no
;;;; consing except what COLLECT and friends keep (a tail pointer makes
;;;; each COLLECT one cons).  A test that ends the loop leaves with RETURN;
;;;; when FINALLY forms or LOOP-FINISH need an epilogue, the LET* body
;;;; becomes a TAGBODY and the tests GO to its tag %LOOP-END.  When the only
;;;; iteration is a single FOR ... IN or FOR ... ACROSS, DOLIST or DOTIMES
;;;; does the stepping instead, which costs far less per pass.
;;;;
;;;; The simple loop, DOLIST and DOTIMES are blocks named NIL.  For an
;;;; unnamed loop that is the loop's own block.  Where it is not (a named
;;;; loop, or the epilogue layout), the value they return is handed on with
;;;; RETURN, so a RETURN in the body still leaves the innermost NIL block
;;;; around it, as it must.
;;;;
;;;; LOOP-FINISH is found by looking for it in the clauses; a LOOP-FINISH
;;;; that only appears when a macro of the body is expanded is not seen.
;;;;
;;;; Hash-table iteration (BEING THE HASH-KEYS / HASH-VALUES) first collects
;;;; the keys and values into a fresh list with MAPHASH, and then walks that
;;;; list; changing the table inside the loop does not disturb it.
;;;;
;;;; Written on the kernel's special forms and built-ins and 00-base alone:
;;;; the files loaded before this one are not used.

(unless (fboundp '%simple-loop)
  (%set-symbol-function '%simple-loop (symbol-function 'loop)))

;;; The parser's state, bound afresh for every expansion.
(defvar %loop-tokens nil)     ; the clauses not read yet
(defvar %loop-clause nil)     ; where the current clause began, for errors
(defvar %loop-name nil)       ; the block name
(defvar %loop-bindings nil)   ; (variable init) for the LET*, reversed
(defvar %loop-vars nil)       ; the user's variables, to catch duplicates
(defvar %loop-prologue nil)   ; INITIALLY forms, reversed
(defvar %loop-first nil)      ; first-pass iteration code, reversed
(defvar %loop-steps nil)      ; later-pass iteration code, reversed
(defvar %loop-body nil)       ; main-clause code, reversed
(defvar %loop-epilogue nil)   ; FINALLY forms, reversed
(defvar %loop-exits nil)      ; exit forms, completed once the layout is known
(defvar %loop-accums nil)     ; (variable class tail) of each INTO variable
(defvar %loop-default nil)    ; (variable class tail) of the loop's own value
(defvar %loop-result nil)     ; the value at the end when nothing accumulates
(defvar %loop-tmp nil)        ; a scratch variable, made when needed
(defvar %loop-it nil)         ; in a conditional: a cell holding its IT variable
(defvar %loop-groups nil)     ; the iteration clause records, grouped by AND
(defvar %loop-body-exit nil)  ; non-NIL when WHILE or UNTIL may end the loop

;;; ------------------------------------------------------------------
;;; Tokens.  Loop keywords are recognised by name, so FOR, :FOR and a FOR
;;; read elsewhere all work.

(defun %loop-token-name (x)
  (if (and x (symbolp x)) (symbol-name x) nil))

(defun %loop-keyword-p (x name)
  (and x (symbolp x) (string= (symbol-name x) name)))

(defun %loop-name-in (name names)
  (if name
      (dolist (n names nil)
        (if (string= name n) (return t)))
      nil))

(defun %loop-at (name)
  (and %loop-tokens (%loop-keyword-p (car %loop-tokens) name)))

(defun %loop-next ()
  (if (consp %loop-tokens)
      (let ((x (car %loop-tokens)))
        (setq %loop-tokens (cdr %loop-tokens))
        x)
      (%loop-error "the clause ends too early")))

;; The clause being read, up to and including the next token: what an
;; error message shows.
(defun %loop-excerpt ()
  (let ((stop (cdr %loop-tokens)) (tail %loop-clause) (out nil) (n 0))
    (do () ((or (atom tail) (eq tail stop) (= n 12)) (nreverse out))
      (setq out (cons (car tail) out) tail (cdr tail) n (1+ n)))))

(defun %loop-error (message &rest args)
  (error "LOOP: ~A in ~S" (apply (function format) nil message args)
         (%loop-excerpt)))

;; Compound forms up to the next atom (DO, INITIALLY, FINALLY).
(defun %loop-compound-forms (what)
  (let ((forms nil))
    (do () ((not (and %loop-tokens (consp (car %loop-tokens)))))
      (setq forms (cons (%loop-next) forms)))
    (if (null forms) (%loop-error "~A needs at least one compound form" what))
    (nreverse forms)))

;; A form of an accumulation or RETURN clause; inside a conditional, IT
;; stands for the value of the test.
(defun %loop-form ()
  (let ((x (%loop-next)))
    (if (and %loop-it (%loop-keyword-p x "IT"))
        (or (car %loop-it)
            (let ((v (make-symbol "LOOP-IT")))
              (%loop-bind v nil)
              (rplaca %loop-it v)
              v))
        x)))

(defun %loop-exit ()
  ;; Becomes (return-from NAME result) unless the loop has an epilogue.
  (let ((e (list 'go '%loop-end)))
    (setq %loop-exits (cons e %loop-exits))
    e))

(defun %loop-bind (var init)
  (setq %loop-bindings (cons (list var init) %loop-bindings)))

(defun %loop-scratch ()
  (or %loop-tmp
      (progn (setq %loop-tmp (make-symbol "LOOP-TMP"))
             (%loop-bind %loop-tmp nil)
             %loop-tmp)))

(defun %loop-progn (forms)
  (if (cdr forms) (cons 'progn forms) (car forms)))

;;; ------------------------------------------------------------------
;;; Variables, types and destructuring.

(defun %loop-type-p (x)
  (%loop-name-in (%loop-token-name x)
                 '("FIXNUM" "FLOAT" "INTEGER" "NUMBER" "T" "DOUBLE-FLOAT"
                   "SINGLE-FLOAT" "SHORT-FLOAT" "LONG-FLOAT")))

;; Skips a type after a variable (ignored); returns it.
(defun %loop-skip-type (pattern)
  (cond ((%loop-at "OF-TYPE") (%loop-next) (%loop-next))
        ((null %loop-tokens) nil)
        ((%loop-type-p (car %loop-tokens)) (%loop-next))
        ((and (consp pattern) (consp (car %loop-tokens))) (%loop-next))
        (t nil)))

(defun %loop-type-default (type)
  (let ((n (%loop-token-name type)))
    (cond ((%loop-name-in n '("FIXNUM" "INTEGER" "NUMBER")) 0)
          ((%loop-name-in n '("FLOAT" "DOUBLE-FLOAT" "SINGLE-FLOAT"
                              "SHORT-FLOAT" "LONG-FLOAT"))
           0.0)
          (t nil))))

(defun %loop-accum-var-p (var)
  (dolist (a %loop-accums nil)
    (if (eq (car a) var) (return t))))

;; Records the user's variables of a pattern; each may be bound once.
(defun %loop-declare (pattern)
  (cond ((null pattern) nil)
        ((consp pattern)
         (%loop-declare (car pattern))
         (%loop-declare (cdr pattern)))
        ((or (not (symbolp pattern)) (constantp pattern))
         (%loop-error "~S cannot be a loop variable" pattern))
        ((or (member pattern %loop-vars) (%loop-accum-var-p pattern))
         (%loop-error "the variable ~S is bound twice" pattern))
        (t (setq %loop-vars (cons pattern %loop-vars)))))

;; (var NIL NIL) bindings for every variable of a pattern.
(defun %loop-pattern-bindings (pattern)
  (cond ((null pattern) nil)
        ((consp pattern)
         (nconc (%loop-pattern-bindings (car pattern))
                (%loop-pattern-bindings (cdr pattern))))
        (t (list (list pattern nil nil)))))

;; Forms made of CAR and CDR applied to a variable: cheap, and free of
;; side effects, so they may be written more than once.
(defun %loop-path-p (x)
  (cond ((symbolp x) t)
        ((and (consp x) (consp (cdr x)) (null (cddr x))
              (member (car x) '(car cdr caar cadr cdar cddr caddr cdddr
                                cadar cdadr)))
         (%loop-path-p (cadr x)))
        (t nil)))

(defun %loop-car-of (x)
  (let ((op (if (consp x) (car x) nil)))
    (cond ((eq op 'car) (list 'caar (cadr x)))
          ((eq op 'cdr) (list 'cadr (cadr x)))
          ((eq op 'cdar) (list 'cadar (cadr x)))
          ((eq op 'cddr) (list 'caddr (cadr x)))
          (t (list 'car x)))))

(defun %loop-cdr-of (x)
  (let ((op (if (consp x) (car x) nil)))
    (cond ((eq op 'car) (list 'cdar (cadr x)))
          ((eq op 'cdr) (list 'cddr (cadr x)))
          ((eq op 'cddr) (list 'cdddr (cadr x)))
          ((eq op 'cadr) (list 'cdadr (cadr x)))
          (t (list 'cdr x)))))

;; (variable form) pairs that take the value of the path ACCESS apart.
(defun %loop-destructure (pattern access)
  (cond ((null pattern) nil)
        ((symbolp pattern) (list (list pattern access)))
        (t (nconc (%loop-destructure (car pattern) (%loop-car-of access))
                  (%loop-destructure (cdr pattern) (%loop-cdr-of access))))))

;; (mid . pairs): forms to run first and the (variable form) pairs that
;; give PATTERN the value of VALUE.  A pattern taken apart from a computed
;; value needs TEMP to hold it.
(defun %loop-setter (pattern value temp)
  (cond ((null pattern)
         (cons (if (%loop-path-p value) nil (list value)) nil))
        ((symbolp pattern) (cons nil (list (list pattern value))))
        (temp (cons (list (list 'setq temp value))
                    (%loop-destructure pattern temp)))
        (t (cons nil (%loop-destructure pattern value)))))

(defun %loop-temp-for (pattern value)
  (if (and (consp pattern) (not (%loop-path-p value)))
      (make-symbol "LOOP-DESTRUCTURE")
      nil))

;;; ------------------------------------------------------------------
;;; Iteration clauses.  Each FOR/AS or REPEAT clause gives a record
;;;
;;;   (bindings first-pass later-pass [native])
;;;
;;; bindings: (variable init hidden-p) in order; a pass:
;;;
;;;   (pre test mid pairs post)
;;;
;;; pre: forms run first (they touch only hidden variables); test: the loop
;;; ends when it is true; mid: more forms on hidden variables; pairs: the
;;; (variable form) assignments, made in parallel across clauses joined by
;;; AND; post: a test made after the assignment.  native: how DOLIST or
;;; DOTIMES can do the clause's work when it is the loop's only iteration
;;; (they step natively, which saves most of the cost of a pass).

(defun %loop-pass (pre test setter post)
  (list pre test (car setter) (cdr setter) post))

(defun %loop-for-in (pattern on)
  (let* ((form (%loop-next))
         (l (make-symbol "LOOP-LIST"))
         (bindings (list (list l form t)))
         (step (list 'cdr l))
         (native (if on nil (list 'dolist l pattern))))
    (if (%loop-at "BY")
        (let ((by (progn (%loop-next) (%loop-next))))
          (setq native nil)
          (if (and (consp by) (member (car by) '(function quote))
                   (consp (cdr by)) (symbolp (cadr by)) (cadr by))
              (setq step (list (cadr by) l))
              (let ((f (make-symbol "LOOP-BY")))
                (setq bindings (nconc bindings (list (list f by t))))
                (setq step (list 'funcall f l))))))
    (list (nconc bindings (%loop-pattern-bindings pattern))
          (%loop-pass nil
                      (list (if on 'atom 'endp) l)
                      (%loop-setter pattern (if on l (list 'car l)) nil)
                      nil)
          (%loop-pass (list (list 'setq l step))
                      (list (if on 'atom 'endp) l)
                      (%loop-setter pattern (if on l (list 'car l)) nil)
                      nil)
          native)))

(defun %loop-for-= (pattern)
  (let* ((init (%loop-next))
         (then (if (%loop-at "THEN") (progn (%loop-next) (%loop-next)) init))
         (temp (if (consp pattern) (make-symbol "LOOP-DESTRUCTURE") nil)))
    (list (nconc (if temp (list (list temp nil t)) nil)
                 (%loop-pattern-bindings pattern))
          (%loop-pass nil nil (%loop-setter pattern init temp) nil)
          (%loop-pass nil nil (%loop-setter pattern then temp) nil))))

(defun %loop-for-across (pattern)
  (let* ((form (%loop-next))
         (v (make-symbol "LOOP-VECTOR"))
         (i (make-symbol "LOOP-INDEX"))
         (n (make-symbol "LOOP-LENGTH"))
         (temp (%loop-temp-for pattern (list 'aref v i))))
    (list (nconc (list (list v form t) (list i 0 t) (list n (list 'length v) t))
                 (if temp (list (list temp nil t)) nil)
                 (%loop-pattern-bindings pattern))
          (%loop-pass nil (list '>= i n)
                      (%loop-setter pattern (list 'aref v i) temp) nil)
          (%loop-pass (list (list 'setq i (list '1+ i))) (list '>= i n)
                      (%loop-setter pattern (list 'aref v i) temp) nil)
          (list 'dotimes i n (list 'aref v i) pattern temp))))

;; BEING THE ELEMENTS OF a list or a vector.
(defun %loop-for-elements (pattern form)
  (let* ((s (make-symbol "LOOP-SEQUENCE"))
         (i (make-symbol "LOOP-INDEX"))
         (n (make-symbol "LOOP-LENGTH"))
         (temp (if (consp pattern) (make-symbol "LOOP-DESTRUCTURE") nil)))
    (list (nconc (list (list s form t) (list i 0 t)
                       (list n (list 'if (list 'listp s) 0 (list 'length s)) t))
                 (if temp (list (list temp nil t)) nil)
                 (%loop-pattern-bindings pattern))
          (%loop-pass nil (%loop-elements-test s i n)
                      (%loop-setter pattern (%loop-elements-value s i) temp) nil)
          (%loop-pass (list (list 'if (list 'listp s)
                                  (list 'setq s (list 'cdr s))
                                  (list 'setq i (list '1+ i))))
                      (%loop-elements-test s i n)
                      (%loop-setter pattern (%loop-elements-value s i) temp) nil))))

(defun %loop-elements-test (s i n)
  (list 'if (list 'listp s) (list 'endp s) (list '>= i n)))

(defun %loop-elements-value (s i)
  (list 'if (list 'listp s) (list 'car s) (list 'aref s i)))

;; The entries of a hash table as a fresh list: keys (0), values (1), or
;; key and value alternately (2).
(defun %loop-hash-list (table mode)
  (let ((acc nil))
    (cond ((eql mode 0) (maphash (lambda (k v) (setq acc (cons k acc))) table))
          ((eql mode 1) (maphash (lambda (k v) (setq acc (cons v acc))) table))
          (t (maphash (lambda (k v) (setq acc (cons k (cons v acc)))) table)))
    acc))

(defun %loop-for-hash (pattern keys)
  (let* ((form (progn
                 (if (not (or (%loop-at "OF") (%loop-at "IN")))
                     (%loop-error "OF or IN must follow ~A"
                                  (if keys "HASH-KEYS" "HASH-VALUES")))
                 (%loop-next)
                 (%loop-next)))
         (other nil)
         (l (make-symbol "LOOP-LIST")))
    (if (%loop-at "USING")
        (let ((spec (progn (%loop-next) (%loop-next))))
          (if (not (and (consp spec) (consp (cdr spec)) (null (cddr spec))
                        (%loop-keyword-p (car spec)
                                         (if keys "HASH-VALUE" "HASH-KEY"))))
              (%loop-error "USING needs (~A variable), not ~S"
                           (if keys "HASH-VALUE" "HASH-KEY") spec))
          (setq other (cadr spec))
          (%loop-declare other)))
    (let* ((mode (if other 2 (if keys 0 1)))
           (step (if other (list 'cddr l) (list 'cdr l))))
      (list (nconc (list (list l (list '%loop-hash-list form mode) t))
                   (%loop-pattern-bindings pattern)
                   (%loop-pattern-bindings other))
            (%loop-pass nil (list 'endp l) (%loop-hash-setter pattern other keys l) nil)
            (%loop-pass (list (list 'setq l step)) (list 'endp l)
                        (%loop-hash-setter pattern other keys l) nil)))))

(defun %loop-hash-setter (pattern other keys l)
  (if other
      (let ((a (%loop-setter pattern (list (if keys 'car 'cadr) l) nil))
            (b (%loop-setter other (list (if keys 'cadr 'car) l) nil)))
        (cons (nconc (car a) (car b)) (nconc (cdr a) (cdr b))))
      (%loop-setter pattern (list 'car l) nil)))

(defun %loop-for-being (pattern)
  (if (or (%loop-at "EACH") (%loop-at "THE"))
      (%loop-next)
      (%loop-error "EACH or THE must follow BEING"))
  (let* ((what (%loop-next))
         (n (%loop-token-name what)))
    (cond ((%loop-name-in n '("HASH-KEY" "HASH-KEYS")) (%loop-for-hash pattern t))
          ((%loop-name-in n '("HASH-VALUE" "HASH-VALUES")) (%loop-for-hash pattern nil))
          ((%loop-name-in n '("SYMBOL" "SYMBOLS" "PRESENT-SYMBOL" "PRESENT-SYMBOLS"
                              "EXTERNAL-SYMBOL" "EXTERNAL-SYMBOLS"))
           ;; The symbols of a package (lisp/25-packages.lsp), of *PACKAGE*
           ;; when no package is named.
           (let ((package (if (or (%loop-at "OF") (%loop-at "IN"))
                              (progn (%loop-next) (%loop-next))
                              '*package*))
                 (kinds (cond ((%loop-name-in n '("SYMBOL" "SYMBOLS"))
                               '(:external :internal :inherited))
                              ((%loop-name-in n '("PRESENT-SYMBOL" "PRESENT-SYMBOLS"))
                               '(:external :internal))
                              (t '(:external)))))
             (%loop-for-elements pattern
                                 (list '%package-symbol-list package (list 'quote kinds)))))
          ((%loop-name-in n '("ELEMENT" "ELEMENTS"))
           (if (not (or (%loop-at "OF") (%loop-at "IN")))
               (%loop-error "OF or IN must follow ELEMENTS"))
           (%loop-next)
           (%loop-for-elements pattern (%loop-next)))
          (t (%loop-error "cannot iterate over ~S" what)))))

(defun %loop-range-word-p (x)
  (%loop-name-in (%loop-token-name x)
                 '("FROM" "UPFROM" "DOWNFROM" "TO" "UPTO" "BELOW" "DOWNTO"
                   "ABOVE" "BY")))

(defun %loop-range-test (word down v lim)
  (cond ((null word) nil)
        ((string= word "BELOW") (list '>= v lim))
        ((string= word "ABOVE") (list '<= v lim))
        ((or down (string= word "DOWNTO")) (list '< v lim))
        (t (list '> v lim))))

(defun %loop-for-range (var)
  (let ((from 0) (from-p nil) (limit nil) (word nil) (by 1) (by-p nil)
        (up nil) (down nil))
    (do () ((not (and %loop-tokens (%loop-range-word-p (car %loop-tokens)))))
      (let* ((w (symbol-name (%loop-next)))
             (value (%loop-next)))
        (cond ((%loop-name-in w '("FROM" "UPFROM" "DOWNFROM"))
               (if from-p (%loop-error "the range has two starts"))
               (setq from value from-p t)
               (if (string= w "UPFROM") (setq up t))
               (if (string= w "DOWNFROM") (setq down t)))
              ((string= w "BY")
               (if by-p (%loop-error "the range has two BY steps"))
               (if (and (numberp value) (not (plusp value)))
                   (%loop-error "the BY step ~S is not positive" value))
               (setq by value by-p t))
              (t
               (if word (%loop-error "the range has two limits"))
               (setq limit value word w)
               (if (%loop-name-in w '("UPTO" "BELOW")) (setq up t))
               (if (%loop-name-in w '("DOWNTO" "ABOVE")) (setq down t))))))
    (if (and up down) (%loop-error "the range goes both up and down"))
    (if (and down (not from-p))
        (%loop-error "a decreasing range needs a start (FROM or DOWNFROM)"))
    (if (consp var) (%loop-error "a range variable cannot be destructured"))
    (let* ((hidden (null var))
           (v (if hidden (make-symbol "LOOP-INDEX") var))
           (bindings (list (list v from hidden)))
           (lim limit)
           (step by))
      (if (and word (not (constantp limit)))
          (progn (setq lim (make-symbol "LOOP-LIMIT"))
                 (setq bindings (nconc bindings (list (list lim limit t))))))
      (if (not (constantp by))
          (progn (setq step (make-symbol "LOOP-STEP"))
                 (setq bindings (nconc bindings (list (list step by t))))))
      (list bindings
            (%loop-pass nil nil (cons nil nil) (%loop-range-test word down v lim))
            (%loop-pass nil nil
                        (cons nil (list (list v (if (eql step 1)
                                                    (list (if down '1- '1+) v)
                                                    (list (if down '- '+) v step)))))
                        (%loop-range-test word down v lim))))))

;; One variable of a FOR/AS clause and what follows it.
(defun %loop-for-one ()
  (let ((pattern (%loop-next)))
    (%loop-skip-type pattern)
    (%loop-declare pattern)
    (let* ((tok (%loop-next))
           (n (%loop-token-name tok)))
      (cond ((null n) (%loop-error "~S is not a FOR preposition" tok))
            ((string= n "IN") (%loop-for-in pattern nil))
            ((string= n "ON") (%loop-for-in pattern t))
            ((string= n "=") (%loop-for-= pattern))
            ((string= n "ACROSS") (%loop-for-across pattern))
            ((string= n "BEING") (%loop-for-being pattern))
            ((%loop-range-word-p tok)
             (setq %loop-tokens (cons tok %loop-tokens))
             (%loop-for-range pattern))
            (t (%loop-error "~S is not a FOR preposition" tok))))))

;; Clauses joined by AND evaluate their forms before any of their variables
;; changes: the hidden variables are bound first, the user's variables
;; after them (through a temporary when their init is not a constant).
(defun %loop-bind-group (group)
  (if (cdr group)
      (let ((late nil))
        (dolist (rec group)
          (dolist (b (car rec))
            (cond ((caddr b) (%loop-bind (car b) (cadr b)))
                  ((constantp (cadr b)) (setq late (cons b late)))
                  (t (let ((tmp (make-symbol "LOOP-INIT")))
                       (%loop-bind tmp (cadr b))
                       (setq late (cons (list (car b) tmp) late)))))))
        (dolist (b (nreverse late)) (%loop-bind (car b) (cadr b))))
      (dolist (b (car (car group))) (%loop-bind (car b) (cadr b)))))

(defun %loop-pass-forms (group first)
  (let ((forms nil) (pairs nil) (posts nil))
    (dolist (rec group)
      (let ((pass (if first (cadr rec) (caddr rec))))
        (dolist (f (car pass)) (setq forms (cons f forms)))
        (if (cadr pass)
            (setq forms (cons (list 'if (cadr pass) (%loop-exit)) forms)))
        (dolist (f (caddr pass)) (setq forms (cons f forms)))
        (dolist (p (nth 3 pass))
          (setq pairs (cons (cadr p) (cons (car p) pairs))))
        (if (nth 4 pass)
            (setq posts (cons (list 'if (nth 4 pass) (%loop-exit)) posts)))))
    (if pairs
        (setq forms (cons (cons (if (cddr pairs) (if (cdr group) 'psetq 'setq) 'setq)
                                (nreverse pairs))
                          forms)))
    (nconc (nreverse forms) (nreverse posts))))

(defun %loop-add-iteration (group)
  (setq %loop-groups (cons group %loop-groups))
  (%loop-bind-group group)
  (setq %loop-first (revappend (%loop-pass-forms group t) %loop-first))
  (setq %loop-steps (revappend (%loop-pass-forms group nil) %loop-steps)))

(defun %loop-for-clause ()
  (let ((group (list (%loop-for-one))))
    (do () ((not (%loop-at "AND")))
      (%loop-next)
      (setq group (cons (%loop-for-one) group)))
    (%loop-add-iteration (nreverse group))))

(defun %loop-repeat-clause ()
  (let ((c (make-symbol "LOOP-REPEAT")))
    (%loop-add-iteration
     (list (list (list (list c (%loop-next) t))
                 (%loop-pass nil (list '<= c 0) (cons nil nil) nil)
                 (%loop-pass (list (list 'setq c (list '1- c))) (list '<= c 0)
                             (cons nil nil) nil))))))

;;; ------------------------------------------------------------------
;;; WITH

(defun %loop-bind-pattern (pattern init)
  (cond ((null pattern)
         (if (not (constantp init)) (%loop-bind (make-symbol "LOOP-IGNORE") init)))
        ((symbolp pattern) (%loop-bind pattern init))
        (t (let ((d (if (%loop-path-p init) init (make-symbol "LOOP-DESTRUCTURE"))))
             (if (not (eq d init)) (%loop-bind d init))
             (dolist (p (%loop-destructure pattern d))
               (%loop-bind (car p) (cadr p)))))))

(defun %loop-with-clause ()
  (let ((specs nil))
    (do ((more t)) ((not more))
      (let* ((pattern (%loop-next))
             (type (%loop-skip-type pattern))
             (init (if (%loop-at "=")
                       (progn (%loop-next) (%loop-next))
                       (%loop-type-default type))))
        (%loop-declare pattern)
        (setq specs (cons (list pattern init) specs))
        (if (%loop-at "AND") (%loop-next) (setq more nil))))
    (setq specs (nreverse specs))
    (if (cdr specs)
        ;; In parallel: every init form first, then the variables.
        (let ((inits nil))
          (dolist (s specs)
            (if (constantp (cadr s))
                (setq inits (cons (cadr s) inits))
                (let ((tmp (make-symbol "LOOP-INIT")))
                  (%loop-bind tmp (cadr s))
                  (setq inits (cons tmp inits)))))
          (setq inits (nreverse inits))
          (dolist (s specs)
            (%loop-bind-pattern (car s) (car inits))
            (setq inits (cdr inits))))
        (%loop-bind-pattern (car (car specs)) (cadr (car specs))))))

;;; ------------------------------------------------------------------
;;; Accumulation.  The classes: LIST (collect, append, nconc), SUM (sum,
;;; count) and MAX (maximize, minimize).  Clauses without INTO share the
;;; loop's own accumulator; for lists it starts with a dummy head cell, so
;;; adding is one RPLACD on the tail.

(defun %loop-class-text (class)
  (cond ((eq class 'list) "a list")
        ((eq class 'sum) "a sum")
        (t "a maximum")))

(defun %loop-accumulator (into class)
  (if into
      (let ((a (dolist (a %loop-accums nil) (if (eq (car a) into) (return a)))))
        (cond (a (if (not (eq (cadr a) class))
                     (%loop-error "~S accumulates both ~A and ~A" into
                                  (%loop-class-text (cadr a)) (%loop-class-text class)))
                 a)
              (t (if (member into %loop-vars)
                     (%loop-error "the variable ~S is bound twice" into))
                 (let ((tail (if (eq class 'list) (make-symbol "LOOP-TAIL") nil)))
                   (%loop-bind into (if (eq class 'sum) 0 nil))
                   (if tail (%loop-bind tail nil))
                   (setq a (list into class tail))
                   (setq %loop-accums (cons a %loop-accums))
                   a))))
      (cond (%loop-default
             (if (not (eq (cadr %loop-default) class))
                 (%loop-error "the loop's value would be both ~A and ~A"
                              (%loop-class-text (cadr %loop-default))
                              (%loop-class-text class)))
             %loop-default)
            ((eq class 'list)
             (let ((head (make-symbol "LOOP-HEAD")) (tail (make-symbol "LOOP-TAIL")))
               (%loop-bind head (list 'cons nil nil))
               (%loop-bind tail head)
               (setq %loop-default (list head class tail))))
            (t (let ((v (make-symbol "LOOP-VALUE")))
                 (%loop-bind v (if (eq class 'sum) 0 nil))
                 (setq %loop-default (list v class nil)))))))

(defun %loop-into-var ()
  (let ((var (%loop-next)))
    (if (or (null var) (not (symbolp var)) (constantp var))
        (%loop-error "~S cannot be an INTO variable" var))
    var))

(defun %loop-accumulation (n)
  (let ((kind (cond ((%loop-name-in n '("COLLECT" "COLLECTING")) 'collect)
                    ((%loop-name-in n '("APPEND" "APPENDING")) 'append)
                    ((%loop-name-in n '("NCONC" "NCONCING")) 'nconc)
                    ((%loop-name-in n '("SUM" "SUMMING")) 'sum)
                    ((%loop-name-in n '("COUNT" "COUNTING")) 'count)
                    ((%loop-name-in n '("MAXIMIZE" "MAXIMIZING")) 'max)
                    ((%loop-name-in n '("MINIMIZE" "MINIMIZING")) 'min)
                    (t nil))))
    (if kind
        (let* ((form (%loop-form))
               (into (if (%loop-at "INTO") (progn (%loop-next) (%loop-into-var)) nil))
               (a (progn
                    (%loop-skip-type nil)
                    (%loop-accumulator into
                                       (cond ((member kind '(collect append nconc)) 'list)
                                             ((member kind '(sum count)) 'sum)
                                             (t 'max))))))
          (%loop-accumulate kind form (car a) (caddr a) (null into)))
        nil)))

(defun %loop-accumulate (kind form v tail dummy)
  (cond ((eq kind 'collect)
         (if dummy
             (list 'rplacd tail (list 'setq tail (list 'cons form nil)))
             (list 'if v
                   (list 'rplacd tail (list 'setq tail (list 'cons form nil)))
                   (list 'setq v (list 'setq tail (list 'cons form nil))))))
        ((or (eq kind 'append) (eq kind 'nconc))
         (let ((new (if (eq kind 'append) (list 'copy-list form) form)))
           (if dummy
               (list 'setq tail (list 'last (list 'rplacd tail new)))
               (let ((tmp (%loop-scratch)))
                 (list 'if (list 'setq tmp new)
                       (list 'setq tail
                             (list 'last (list 'if v
                                               (list 'rplacd tail tmp)
                                               (list 'setq v tmp)))))))))
        ((eq kind 'sum) (list 'setq v (list '+ v form)))
        ((eq kind 'count) (list 'if form (list 'setq v (list '1+ v))))
        (t (let ((tmp (%loop-scratch)))
             (list 'progn
                   (list 'setq tmp form)
                   (list 'setq v (list 'if v (list (if (eq kind 'max) 'max 'min) v tmp)
                                       tmp)))))))

;;; ------------------------------------------------------------------
;;; Conditionals and the other body clauses.

(defun %loop-selectable-or-error (after)
  (let* ((tok (%loop-next))
         (form (%loop-selectable tok)))
    (if (null form) (%loop-error "~S cannot follow ~A" tok after))
    form))

(defun %loop-and-clauses (after)
  (let ((forms (list (%loop-selectable-or-error after))))
    (do () ((not (%loop-at "AND")) (nreverse forms))
      (%loop-next)
      (setq forms (cons (%loop-selectable-or-error "AND") forms)))))

(defun %loop-conditional (word negate)
  (let* ((test (%loop-next))
         (%loop-it (list nil))
         (then (%loop-progn (%loop-and-clauses word)))
         (else (if (%loop-at "ELSE")
                   (progn (%loop-next) (%loop-progn (%loop-and-clauses "ELSE")))
                   nil)))
    (if (%loop-at "END") (%loop-next))
    (if (car %loop-it) (setq test (list 'setq (car %loop-it) test)))
    (cond (negate (list 'if test else then))
          (else (list 'if test then else))
          (t (list 'if test then)))))

;; The code of a clause that may stand after WHEN, or NIL when TOK does not
;; begin one.
(defun %loop-selectable (tok)
  (let ((n (%loop-token-name tok)))
    (cond ((null n) nil)
          ((%loop-name-in n '("DO" "DOING")) (%loop-progn (%loop-compound-forms n)))
          ((string= n "RETURN")
           (if %loop-name
               (list 'return-from %loop-name (%loop-form))
               (list 'return (%loop-form))))
          ((%loop-name-in n '("WHEN" "IF")) (%loop-conditional n nil))
          ((string= n "UNLESS") (%loop-conditional n t))
          (t (%loop-accumulation n)))))

(defun %loop-add-body (form)
  (setq %loop-body (cons form %loop-body)))

(defun %loop-leave (value)
  (if %loop-name (list 'return-from %loop-name value) (list 'return value)))

(defun %loop-main-clause ()
  (setq %loop-clause %loop-tokens)
  (let* ((tok (%loop-next))
         (n (%loop-token-name tok)))
    (cond ((null n) (%loop-error "~S is not a loop keyword" tok))
          ((%loop-name-in n '("FOR" "AS")) (%loop-for-clause))
          ((string= n "WITH") (%loop-with-clause))
          ((string= n "REPEAT") (%loop-repeat-clause))
          ((string= n "INITIALLY")
           (setq %loop-prologue (revappend (%loop-compound-forms n) %loop-prologue)))
          ((string= n "FINALLY")
           (setq %loop-epilogue (revappend (%loop-compound-forms n) %loop-epilogue)))
          ((string= n "WHILE")
           (setq %loop-body-exit t)
           (%loop-add-body (list 'if (%loop-next) nil (%loop-exit))))
          ((string= n "UNTIL")
           (setq %loop-body-exit t)
           (%loop-add-body (list 'if (%loop-next) (%loop-exit))))
          ((string= n "ALWAYS")
           (setq %loop-result t)
           (%loop-add-body (list 'if (%loop-next) nil (%loop-leave nil))))
          ((string= n "NEVER")
           (setq %loop-result t)
           (%loop-add-body (list 'if (%loop-next) (%loop-leave nil))))
          ((string= n "THEREIS")
           (let ((tmp (%loop-scratch)))
             (%loop-add-body (list 'if (list 'setq tmp (%loop-next)) (%loop-leave tmp)))))
          ((string= n "NAMED") (%loop-error "NAMED must be the first clause"))
          (t (let ((form (%loop-selectable tok)))
               (if form
                   (%loop-add-body form)
                   (%loop-error "~S is not a loop keyword" tok)))))))

;;; ------------------------------------------------------------------
;;; Putting the expansion together.

(defun %loop-mentions-p (tree sym)
  (do () ((atom tree) (eq tree sym))
    (if (%loop-mentions-p (car tree) sym) (return t))
    (setq tree (cdr tree))))

;; Whether FORMS mention a variable of the (var init hidden-p) BINDINGS.
(defun %loop-mentions-vars-p (forms bindings)
  (dolist (b bindings nil)
    (if (%loop-mentions-p forms (car b)) (return t))))

(defun %loop-result-form ()
  (cond ((null %loop-default) %loop-result)
        ((eq (cadr %loop-default) 'list) (list 'cdr (car %loop-default)))
        (t (car %loop-default))))

(defun %loop-expand (clauses)
  (let ((%loop-tokens clauses) (%loop-clause clauses) (%loop-name nil)
        (%loop-bindings nil) (%loop-vars nil) (%loop-prologue nil)
        (%loop-first nil) (%loop-steps nil) (%loop-body nil)
        (%loop-epilogue nil) (%loop-exits nil) (%loop-accums nil)
        (%loop-default nil) (%loop-result nil) (%loop-tmp nil) (%loop-it nil)
        (%loop-groups nil) (%loop-body-exit nil))
    (if (%loop-at "NAMED")
        (progn (%loop-next)
               (setq %loop-name (%loop-next))
               (if (not (symbolp %loop-name))
                   (%loop-error "~S cannot name a loop" %loop-name))))
    (do () ((null %loop-tokens)) (%loop-main-clause))
    (let* ((name %loop-name)
           (result (%loop-result-form))
           (finish (%loop-mentions-p clauses 'loop-finish))
           (epilogue (or %loop-epilogue finish))
           (native (if (and %loop-groups (null (cdr %loop-groups))
                            (null (cdr (car %loop-groups)))
                            (not finish)
                            (or (null %loop-epilogue)
                                (not (or %loop-body-exit
                                         (%loop-mentions-vars-p
                                          %loop-epilogue (car (car (car %loop-groups))))))))
                       (nth 3 (car (car %loop-groups)))
                       nil))
           (body (nreverse %loop-body))
           (forms nil))
      (if (or native (not epilogue))
          (dolist (e %loop-exits)
            (let ((leave (%loop-leave (if (consp result) (copy-list result) result))))
              (rplaca e (car leave))
              (rplacd e (cdr leave)))))
      (cond (native
             ;; The only iteration is one FOR ... IN or ACROSS.
             (let ((inner (%loop-native native
                                        (if %loop-epilogue
                                            (cons 'progn (nreverse (cons result %loop-epilogue)))
                                            result)
                                        body)))
               (setq forms (nconc (nreverse %loop-prologue)
                                  (list (if name (list 'return inner) inner))))))
            (epilogue
             (setq forms
                   (list (cons 'tagbody
                               (nconc (nreverse %loop-prologue)
                                      (nreverse %loop-first)
                                      (list (list 'return
                                                  (cons '%simple-loop
                                                        (nconc body (nreverse %loop-steps))))
                                            '%loop-end)
                                      (nreverse %loop-epilogue)
                                      (list (%loop-leave result)))))))
            (t
             (let ((inner (cons '%simple-loop (nconc body (nreverse %loop-steps)))))
               (setq forms (nconc (nreverse %loop-prologue)
                                  (nreverse %loop-first)
                                  (list (if name (list 'return inner) inner)))))))
      (let ((bindings (nreverse %loop-bindings)))
        (list* 'block name
               (if bindings (list (cons 'let* (cons bindings forms))) forms))))))

;; DOLIST or DOTIMES doing the work of the single iteration clause.  Its
;; variable shadows the LET* binding of the same name, which then only
;; serves the INITIALLY forms.  DOLIST leaves its variable NIL at the end,
;; so a FINALLY that looks at the variables keeps the general layout.
(defun %loop-native (native result body)
  (if (eq (car native) 'dolist)
      (let ((pattern (caddr native)))
        (if (and pattern (symbolp pattern))
            (list* 'dolist (list pattern (cadr native) result) body)
            (let* ((e (make-symbol "LOOP-ELEMENT"))
                   (setter (%loop-setter pattern e nil)))
              (list* 'dolist (list e (cadr native) result)
                     (%loop-setter-forms setter body)))))
      (let ((setter (%loop-setter (nth 4 native) (nth 3 native) (nth 5 native))))
        (list* 'dotimes (list (cadr native) (caddr native) result)
               (%loop-setter-forms setter body)))))

(defun %loop-setter-forms (setter body)
  (let ((pairs nil))
    (dolist (p (cdr setter)) (setq pairs (cons (cadr p) (cons (car p) pairs))))
    (append (car setter)
            (if pairs (list (cons 'setq (nreverse pairs))) nil)
            body)))

(defmacro loop (&rest forms)
  (if (dolist (f forms t) (if (atom f) (return nil)))
      (cons '%simple-loop forms)
      (%loop-expand forms)))

(defmacro loop-finish ()
  '(go %loop-end))
