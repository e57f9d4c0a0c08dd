;;;; Types: the standard type names in the type table, TYPEP for the
;;;; compound type specifiers, DEFTYPE with the standard defaults, SUBTYPEP
;;;; over the whole standard type lattice, TYPE-OF and COERCE.
;;;;
;;;; The kernel's TYPEP reads the type table: a class entry tests with the
;;;; class's membership predicate (a built-in) or the class precedence of an
;;;; instance, a DEFTYPE entry is expanded.  So every standard type that a
;;;; built-in predicate decides becomes a built-in class here, and the rest
;;;; are DEFTYPEs.  Compound specifiers are put into the forms the kernel
;;;; understands (integer ranges with both bounds, AND/OR/NOT/MEMBER/EQL/
;;;; SATISFIES) before the kernel sees them.

;;; ------------------------------------------------------------------
;;; Built-in classes for the types a built-in predicate decides
;;;
;;; A class made like the fixed built-in classes: metaclass BUILT-IN-CLASS,
;;; word 3 the number of the predicate built-in, precedence list the class
;;; and its superclasses.  The numbers are those of the built-in table.

(defun %make-builtin-type (name predicate supers)
  (unless (find-class name nil)
    (let ((class (allocate-instance (find-class 'built-in-class) name nil predicate)))
      (%make-into-class class)
      (%set-slot-value class 2 (cons class (mapcar (function find-class) supers)))
      (%set-find-class name class))))

(%make-builtin-type 'keyword 41 '(symbol t))        ; KEYWORDP
(%make-builtin-type 'fixnum 454 '(integer number t))  ; %FIXNUMP
(%make-builtin-type 'bignum 453 '(integer number t))  ; %BIGNUMP
(%make-builtin-type 'rational 233 '(number t))      ; INTEGERP: no ratios
(%make-builtin-type 'double-float 230 '(float number t))  ; FLOATP
(%make-builtin-type 'single-float 230 '(float number t))
(%make-builtin-type 'short-float 230 '(float number t))
(%make-builtin-type 'long-float 230 '(float number t))
(%make-builtin-type 'base-char 167 '(character t))  ; %STRING-CHAR-TYPE-P
(%make-builtin-type 'string-char 167 '(character t))
;; Every string is a base string.  Arrays with a fill pointer, adjustable
;; or displaced ones are strings and arrays too, but not simple.
(%make-builtin-type 'base-string 311 '(string vector array sequence t))  ; STRINGP
(%make-builtin-type 'simple-string 506 '(string vector array sequence t))  ; SIMPLE-STRING-P
(%make-builtin-type 'simple-base-string 506 '(string vector array sequence t))
(%make-builtin-type 'simple-array 505 '(array t))   ; %SIMPLE-ARRAY-P
(%make-builtin-type 'hash-table 267 '(t))           ; HASH-TABLE-P
(%make-builtin-type 'stream 366 '(t))               ; STREAMP
(%make-builtin-type 'pathname 311 '(t))             ; file names are strings
(%make-builtin-type 'compiled-function 18 '(function t))  ; COMPILED-FUNCTION-P

;;; ------------------------------------------------------------------
;;; Predicates the remaining types need

(defun simple-vector-p (object)
  "True for a one-dimensional general vector (not a string) that has no
fill pointer and is neither adjustable nor displaced."
  (and (vectorp object) (not (stringp object)) (not (%array-header-p object))))

(defun bit-vector-p (object)
  "True for a general vector whose elements are all 0 or 1."
  (and (vectorp object) (not (stringp object))
       (dotimes (i (length object) t)
         (unless (member (aref object i) '(0 1))
           (return nil)))))

(defun simple-bit-vector-p (object)
  "True for a bit vector that is a simple vector."
  (and (simple-vector-p object) (bit-vector-p object)))

;;; ------------------------------------------------------------------
;;; Putting compound specifiers into the kernel's forms

;; Integer range bounds: * or absent is unbounded (NIL here), (n) is
;; exclusive.
(defun %integer-bound (bound step)
  (cond ((or (null bound) (eq bound '*)) nil)
        ((integerp bound) bound)
        ((and (consp bound) (integerp (car bound)) (null (cdr bound)))
         (+ (car bound) step))
        (t (error "~S is not a bound of an integer type" bound))))

;; Integers are unbounded, and the kernel's (INTEGER low high) takes two
;; bounds: a range open at one end tests the other bound.
(defun %integer-range (low high)
  (let ((low (%integer-bound low 1))
        (high (%integer-bound high -1)))
    (cond ((and low high) (list 'integer low high))
          (low (list 'and 'integer (list 'satisfies (list 'lambda '(x) (list '>= 'x low)))))
          (high (list 'and 'integer (list 'satisfies (list 'lambda '(x) (list '<= 'x high)))))
          (t 'integer))))

;; The interval of a type %INTEGER-RANGE made, NIL for an open end.
(defun %canonical-interval (c)
  (cond ((atom c) (list nil nil))
        ((eq (car c) 'integer) (list (cadr c) (caddr c)))
        (t (let ((test (caddr (cadr (caddr c)))))  ; (>= x low) or (<= x high)
             (if (eq (car test) '>=) (list (caddr test) nil) (list nil (caddr test)))))))

(defun %byte-range (size signed)
  (cond ((or (null size) (eq size '*))
         (if signed 'integer (%integer-range 0 nil)))
        ((not (and (integerp size) (> size 0)))
         (error "~S is not a byte size" size))
        (signed
         (list 'integer (- (ash 1 (1- size))) (1- (ash 1 (1- size)))))
        (t (list 'integer 0 (1- (ash 1 size))))))

;; A test of a real bound for SATISFIES: (>= x low), (> x low) for (low).
(defun %bound-test (bound inclusive exclusive)
  (cond ((or (null bound) (eq bound '*)) nil)
        ((realp bound) (list (list inclusive 'x bound)))
        ((and (consp bound) (realp (car bound)) (null (cdr bound)))
         (list (list exclusive 'x (car bound))))
        (t (error "~S is not a bound of a real type" bound))))

(defun %real-range (base low high)
  (let ((tests (append (%bound-test low '>= '>) (%bound-test high '<= '<))))
    (if tests
        (list 'and base (list 'satisfies (list 'lambda '(x) (cons 'and tests))))
        base)))

(defun %float-type-name-p (name)
  (member name '(float double-float single-float short-float long-float)))

(defun %integer-type-p (spec)
  (let ((head (if (consp spec) (car spec) spec)))
    (member head '(integer fixnum bignum rational signed-byte unsigned-byte mod bit))))

(defun %complex-type (part)
  (cond ((or (null part) (eq part '*) (member part '(real number))) 'complex)
        ((%integer-type-p part) '(complex integer))
        ((%float-type-name-p (if (consp part) (car part) part)) '(complex float))
        (t (error "~S is not a part type of complex numbers" part))))

;; The element type an array actually holds (UPGRADED-ARRAY-ELEMENT-TYPE,
;; lisp/11-arrays.lsp): strings hold characters, every other array holds
;; anything.
(defun %array-shape-p (object element-type dimensions)
  (and (arrayp object)
       (or (eq element-type '*)
           (if (eq (upgraded-array-element-type element-type) 'character)
               (stringp object)
               (not (stringp object))))
       (cond ((eq dimensions '*) t)
             ((integerp dimensions) (= (array-rank object) dimensions))
             ((listp dimensions)
              (and (= (array-rank object) (length dimensions))
                   (do ((ds dimensions (cdr ds))
                        (k 0 (1+ k)))
                       ((null ds) t)
                     (unless (or (eq (car ds) '*)
                                 (= (car ds) (array-dimension object k)))
                       (return nil)))))
             (t nil))))

;; (VECTOR et size), (ARRAY et dims) and their relatives as the base type
;; plus a shape test.
(defun %array-type (base element-type dimensions)
  (if (and (eq element-type '*) (eq dimensions '*))
      base
      (list 'and base
            (list 'satisfies
                  (list 'lambda '(x)
                        (list '%array-shape-p 'x
                              (list 'quote element-type)
                              (list 'quote dimensions)))))))

(defun %optional-arg (args n)
  (let ((rest (nthcdr n args)))
    (if rest (car rest) '*)))

(defun %vector-dimensions (size)
  (if (eq size '*) '(*) (list size)))

;; The parts of a list of specifiers, the list itself when none changed.
(defun %canonical-list (specs)
  (do ((rest specs (cdr rest))
       (out nil)
       (changed nil))
      ((null rest) (if changed (nreverse out) specs))
    (let ((c (%canonical-type (car rest))))
      (unless (eq c (car rest)) (setq changed t))
      (setq out (cons c out)))))

(defun %canonical-type (spec)
  "SPEC in the forms the kernel's TYPEP understands."
  (cond ((null spec) '(member))
        ((atom spec) spec)
        (t
         (let ((head (car spec))
               (args (cdr spec)))
           (case head
             ((and or)
              (let ((parts (%canonical-list args)))
                (if (eq parts args) spec (cons head parts))))
             (not
              (let ((part (%canonical-type (car args))))
                (if (eq part (car args)) spec (list 'not part))))
             ((member eql satisfies) spec)
             (integer
              (if (and args (integerp (car args)) (cdr args) (integerp (cadr args)))
                  spec
                  (%integer-range (car args) (cadr args))))
             (mod
              (unless (and (integerp (car args)) (> (car args) 0))
                (error "~S is not a type" spec))
              (list 'integer 0 (1- (car args))))
             (unsigned-byte (%byte-range (car args) nil))
             (signed-byte (%byte-range (car args) t))
             ((float double-float single-float short-float long-float)
              (%real-range head (car args) (cadr args)))
             (real (%real-range 'real (car args) (cadr args)))
             (rational (%real-range 'integer (car args) (cadr args)))
             (complex (%complex-type (car args)))
             (cons
              (let ((a (%optional-arg args 0))
                    (d (%optional-arg args 1)))
                (if (and (eq a '*) (eq d '*))
                    'cons
                    (list 'and 'cons
                          (list 'satisfies
                                (list 'lambda '(x)
                                      (list 'and
                                            (if (eq a '*) t (list 'typep '(car x) (list 'quote a)))
                                            (if (eq d '*) t (list 'typep '(cdr x) (list 'quote d))))))))))
             ((array simple-array)
              (%array-type head (%optional-arg args 0) (%optional-arg args 1)))
             (vector
              (%array-type 'vector (%optional-arg args 0)
                           (%vector-dimensions (%optional-arg args 1))))
             (simple-vector
              (%array-type 'simple-vector t (%vector-dimensions (%optional-arg args 0))))
             ((string simple-string base-string simple-base-string)
              (if (eq (%optional-arg args 0) '*)
                  head
                  (%array-type head 'character (%vector-dimensions (%optional-arg args 0)))))
             ((bit-vector simple-bit-vector)
              (if (eq (%optional-arg args 0) '*)
                  head
                  (%array-type head t (%vector-dimensions (%optional-arg args 0)))))
             (function 'function)
             (values (error "~S is not a type for TYPEP" spec))
             (t spec))))))

;;; ------------------------------------------------------------------
;;; DEFTYPE: optional and keyword parameters default to *, and the
;;; expansion is put into the kernel's forms.  The expander is also kept
;;; on the name's property list, for SUBTYPEP.

(unless (fboundp '%deftype)
  (%set-symbol-function '%deftype (symbol-function 'deftype)))

(defun %deftype-lambda-list (lambda-list)
  (do ((rest lambda-list (cdr rest))
       (out nil)
       (defaulting nil))
      ((atom rest) (nreconc out rest))
    (let ((p (car rest)))
      (cond ((member p '(&optional &key)) (setq defaulting t))
            ((member p '(&rest &body &aux &whole &environment &allow-other-keys))
             (setq defaulting nil))
            ((and defaulting (symbolp p)) (setq p (list p ''*)))
            ((and defaulting (consp p) (null (cdr p))) (setq p (list (car p) ''*))))
      (setq out (cons p out)))))

(defmacro deftype (name lambda-list &rest body)
  "Define NAME as a type: (NAME args...) stands for the type specifier the
BODY computes from the arguments, as a macro would."
  (let* ((doc (if (and (stringp (car body)) (cdr body)) (list (car body)) nil))
         (forms (if doc (cdr body) body))
         (lambda-list (%deftype-lambda-list lambda-list)))
    `(progn
       (%deftype ,name ,lambda-list ,@doc (%canonical-type (progn ,@forms)))
       (%putprop ',name '%type-expander '(lambda ,lambda-list ,@forms))
       ',name)))

(deftype real (&optional low high) (%real-range '(or integer float) low high))
(deftype simple-vector (&optional size)
  (if (eq size '*)
      '(satisfies simple-vector-p)
      (%array-type '(satisfies simple-vector-p) t (list size))))
(deftype bit-vector (&optional size)
  (if (eq size '*)
      '(satisfies bit-vector-p)
      (%array-type '(satisfies bit-vector-p) t (list size))))
(deftype simple-bit-vector (&optional size)
  (if (eq size '*)
      '(satisfies simple-bit-vector-p)
      (%array-type '(satisfies simple-bit-vector-p) t (list size))))
(deftype boolean () '(member t nil))
;; Not a class: the instances of every class are atoms too.
(deftype atom () '(not cons))
(deftype standard-char () '(and character (satisfies standard-char-p)))
(deftype extended-char () '(and character (not base-char)))
(deftype bit () '(integer 0 1))
(deftype mod (n) (list 'mod n))
(deftype unsigned-byte (&optional size) (%byte-range size nil))
(deftype signed-byte (&optional size) (%byte-range size t))
(deftype ratio () '(member))

;;; ------------------------------------------------------------------
;;; TYPEP

;; The kernel's TYPEP stays reachable as %TYPEP (lisp/05-defstruct.lsp).

(defun typep (object type &optional environment)
  "True when OBJECT is of the type TYPE."
  (cond ((consp type) (%typep object (%canonical-type type)))
        ((null type) nil)
        (t (%typep object type))))

;;; ------------------------------------------------------------------
;;; SUBTYPEP
;;;
;;; A type is taken apart into pieces whose union it is.  A piece is one
;;; of the disjoint kinds of objects below (a keyword), an interval of
;;; integers (:INT low high) or of floats (:FLOAT low high) with NIL for an
;;; open end and (n) for an exclusive bound, one object (:OBJ x), the
;;; instances of a class (:CLASS c), or a part nothing more is known of
;;; (:OPAQUE spec within), within a union of kinds.  Type 1 is a subtype
;;; of type 2 when each of its pieces is covered by the pieces of type 2.

(defparameter %object-kinds
  '(:null :keyword :symbol :cons :standard-char :base-char :extended-char
    :string :simple-vector :array :complex-string :complex-vector :complex-array
    :hash-table :stream :compiled-function
    :complex-int :complex-float :instance :other))

(defun %universe ()
  (append '((:int nil nil) (:float nil nil)) %object-kinds))

(defun %object-kind (x)
  (cond ((null x) :null)
        ((keywordp x) :keyword)
        ((symbolp x) :symbol)
        ((consp x) :cons)
        ((characterp x)
         (cond ((not (%string-char-type-p x)) :extended-char)
               ((standard-char-p x) :standard-char)
               (t :base-char)))
        ((%array-header-p x)
         (cond ((/= (array-rank x) 1) :complex-array)
               ((stringp x) :complex-string)
               (t :complex-vector)))
        ((stringp x) :string)
        ((integerp x) :int)
        ((floatp x) :float)
        ((complexp x) (if (%double-complex-p x) :complex-float :complex-int))
        ((simple-vector-p x) :simple-vector)
        ((arrayp x) :array)
        ((hash-table-p x) :hash-table)
        ((streamp x) :stream)
        ((compiled-function-p x) :compiled-function)
        ((%standard-object-p x) :instance)
        (t :other)))

(defun %object-piece (x)
  (cond ((null x) :null)
        ((integerp x) (list :int x x))
        ((floatp x) (list :float x x))
        (t (list :obj x))))

;; The standard atomic types.
(defparameter %type-pieces-table
  '((t . :universe)
    (atom . :atom)
    (null :null)
    (symbol :null :keyword :symbol)
    (keyword :keyword)
    (boolean :null (:obj t))
    (list :null :cons)
    (cons :cons)
    (sequence :null :cons :string :simple-vector :complex-string :complex-vector)
    (number (:int nil nil) (:float nil nil) :complex-int :complex-float)
    (real (:int nil nil) (:float nil nil))
    (rational (:int nil nil))
    (integer (:int nil nil))
    (signed-byte (:int nil nil))
    (fixnum (:int -8388608 8388607))
    (bignum (:int nil -8388609) (:int 8388608 nil))
    (unsigned-byte (:int 0 nil))
    (bit (:int 0 1))
    (ratio)
    (float (:float nil nil))
    (double-float (:float nil nil))
    (single-float (:float nil nil))
    (short-float (:float nil nil))
    (long-float (:float nil nil))
    (complex :complex-int :complex-float)
    (character :standard-char :base-char :extended-char)
    (base-char :standard-char :base-char)
    (string-char :standard-char :base-char)
    (standard-char :standard-char)
    (extended-char :extended-char)
    (string :string :complex-string)
    (simple-string :string)
    (base-string :string :complex-string)
    (simple-base-string :string)
    (pathname :string)
    (vector :string :simple-vector :complex-string :complex-vector)
    (simple-vector :simple-vector)
    (bit-vector (:opaque bit-vector (:simple-vector :complex-vector)))
    (simple-bit-vector (:opaque simple-bit-vector (:simple-vector)))
    (array :string :simple-vector :array :complex-string :complex-vector :complex-array)
    (simple-array :string :simple-vector :array)
    (hash-table :hash-table)
    (stream :stream)
    (function :compiled-function (:opaque function (:cons)))
    (compiled-function :compiled-function)))

(defun %union (a b)
  (let ((out (reverse a)))
    (dolist (p b (nreverse out))
      (unless (member p out :test #'equal)
        (setq out (cons p out))))))

;; Real bounds as (value . inclusive), with NIL for an open end.
(defun %low (bound)
  (cond ((null bound) nil)
        ((consp bound) (cons (car bound) nil))
        (t (cons bound t))))

(defun %bound-from (b)
  (cond ((null b) nil)
        ((cdr b) (car b))
        (t (list (car b)))))

;; Is low bound a below (or at) low bound b, as the start of a set?
(defun %low<= (a b)
  (cond ((null a) t)
        ((null b) nil)
        ((< (car a) (car b)) t)
        ((> (car a) (car b)) nil)
        (t (or (cdr a) (not (cdr b))))))

(defun %high>= (a b)
  (cond ((null a) t)
        ((null b) nil)
        ((> (car a) (car b)) t)
        ((< (car a) (car b)) nil)
        (t (or (cdr a) (not (cdr b))))))

(defun %interval-and (kind a b)
  (let ((low (if (%low<= (%low (cadr a)) (%low (cadr b))) (cadr b) (cadr a)))
        (high (if (%high>= (%low (caddr a)) (%low (caddr b))) (caddr b) (caddr a))))
    (if (%interval-empty-p kind low high)
        nil
        (list (list kind low high)))))

(defun %interval-empty-p (kind low high)
  (let ((l (%low low))
        (h (%low high)))
    (and l h
         (or (> (car l) (car h))
             (and (= (car l) (car h)) (not (and (cdr l) (cdr h))))))))

;; The complement of the intervals of one kind, as intervals.
(defun %interval-complement (kind intervals)
  (let ((pieces (list (list kind nil nil))))
    (dolist (i intervals pieces)
      (let ((low (cadr i))
            (high (caddr i))
            (left nil)
            (right nil))
        (when low
          (setq left (list kind nil (if (eq kind :int)
                                        (1- low)
                                        (if (consp low) (car low) (list low))))))
        (when high
          (setq right (list kind (if (eq kind :int)
                                     (1+ high)
                                     (if (consp high) (car high) (list high)))
                            nil)))
        (let ((new nil))
          (dolist (p pieces)
            (dolist (q (append (and left (list left)) (and right (list right))))
              (setq new (%union new (%interval-and kind p q)))))
          (setq pieces new))))))

(defun %piece-kind (p)
  (if (consp p) (car p) p))

;; Does piece p hold object x?
(defun %piece-holds (p x)
  (case (%piece-kind p)
    ((:int :float)
     (and (eq (%object-kind x) (car p))
          (let ((low (%low (cadr p)))
                (high (%low (caddr p))))
            (and (or (null low) (> x (car low)) (and (cdr low) (= x (car low))))
                 (or (null high) (< x (car high)) (and (cdr high) (= x (car high))))))))
    (:obj (eql x (cadr p)))
    (:class (typep x (cadr p)))
    (:opaque (typep x (cadr p)))
    (t (eq (%object-kind x) p))))

(defun %pieces-hold (pieces x)
  (dolist (p pieces nil)
    (when (%piece-holds p x) (return t))))

;; The kinds a non-kind piece lies within.
(defun %piece-within (p)
  (case (%piece-kind p)
    ((:int :float) (list (list (car p) nil nil)))
    (:obj (list (%object-kind (cadr p))))
    (:class '(:instance))
    (:opaque (caddr p))
    (t (list p))))

(defun %kind-piece-p (p)
  (or (keywordp p) (member (car p) '(:int :float))))

(defun %piece-and (a b)
  (let ((ka (%piece-kind a))
        (kb (%piece-kind b)))
    (cond ((and (member ka '(:int :float)) (eq ka kb)) (%interval-and ka a b))
          ((eq ka :obj) (if (%piece-holds b (cadr a)) (list a) nil))
          ((eq kb :obj) (if (%piece-holds a (cadr b)) (list b) nil))
          ((and (eq ka :class) (eq kb :class))
           (cond ((%class-subclass-p (cadr a) (cadr b)) (list a))
                 ((%class-subclass-p (cadr b) (cadr a)) (list b))
                 (t (list (list :opaque (list 'and (cadr a) (cadr b)) '(:instance))))))
          ((and (eq ka :class) (eq b :instance)) (list a))
          ((and (eq kb :class) (eq a :instance)) (list b))
          ((or (eq ka :opaque) (eq kb :opaque))
           (let ((within (%pieces-and (%piece-within a) (%piece-within b))))
             (if within
                 (list (list :opaque (list 'and (%piece-spec a) (%piece-spec b)) within))
                 nil)))
          ((and (keywordp a) (eq a b)) (list a))
          (t nil))))

(defun %pieces-and (a b)
  (let ((out nil))
    (dolist (p a out)
      (dolist (q b)
        (setq out (%union out (%piece-and p q)))))))

(defun %pieces-not (pieces)
  (let ((ints nil) (floats nil) (others nil) (hidden nil))
    (dolist (p pieces)
      (case (%piece-kind p)
        (:int (setq ints (cons p ints)))
        (:float (setq floats (cons p floats)))
        ((:obj :class :opaque)
         (setq others (cons p others))
         (setq hidden (%union hidden (%piece-within p))))
        (t (setq hidden (cons p hidden)))))
    (let ((out (append (%interval-complement :int ints)
                       (%interval-complement :float floats))))
      (dolist (k %object-kinds)
        (unless (member k hidden)
          (setq out (cons k out))))
      (when others
        (let ((spec (list 'not (cons 'or (mapcar #'%piece-spec others))))
              (within nil))
          (dolist (p others)
            (dolist (k (%piece-within p))
              (when (keywordp k) (setq within (%union within (list k))))))
          (setq out (cons (list :opaque spec within) out))))
      out)))

;; A type specifier for a piece, for the opaque parts.
(defun %piece-spec (p)
  (case (%piece-kind p)
    (:int (list 'integer (or (cadr p) '*) (or (caddr p) '*)))
    (:float (list 'float (or (cadr p) '*) (or (caddr p) '*)))
    (:obj (list 'eql (cadr p)))
    ((:class :opaque) (cadr p))
    (t (list 'satisfies (list 'lambda '(x) (list 'eq '(%object-kind x) p))))))

(defun %class-subclass-p (c1 c2)
  (and (member c2 (slot-value c1 2)) t))

(defun %type-expander (name)
  (and (symbolp name) (get name '%type-expander)))

;; The pieces of a type specifier.
(defun %type-pieces (spec)
  (cond ((null spec) nil)
        ((symbolp spec)
         (let ((entry (assoc spec %type-pieces-table)))
           (cond ((null entry) (%other-type-pieces spec spec nil))
                 ((eq (cdr entry) :universe) (%universe))
                 ((eq (cdr entry) :atom) (remove :cons (%universe)))
                 (t (cdr entry)))))
        ((consp spec) (%compound-type-pieces spec))
        ((assoc (class-name spec) %type-pieces-table) (%type-pieces (class-name spec)))
        (t (list (list :class spec)))))

;; A name the table does not hold: a class, a type of DEFTYPE, or a type
;; this file cannot look into.
(defun %other-type-pieces (spec name args)
  (let ((expander (%type-expander name)))
    (cond (expander (%type-pieces (apply expander args)))
          ((and (null args) (find-class name nil)) (list (list :class (find-class name))))
          (t
           ;; The kernel knows the name (a type made by its own DEFTYPE)
           ;; or signals that it is not a type.
           (%subtypep name t)
           (list (list :opaque spec (%universe)))))))

(defun %real-bound-pieces (kind low high)
  (list (list kind (if (eq low '*) nil low) (if (eq high '*) nil high))))

(defun %compound-type-pieces (spec)
  (let ((head (car spec))
        (args (cdr spec)))
    (case head
      (and (let ((out (%universe)))
             (dolist (s args out)
               (setq out (%pieces-and out (%type-pieces s))))))
      (or (let ((out nil))
            (dolist (s args out)
              (setq out (%union out (%type-pieces s))))))
      (not (%pieces-not (%type-pieces (car args))))
      (member (let ((out nil))
                (dolist (x args out)
                  (setq out (%union out (list (%object-piece x)))))))
      (eql (list (%object-piece (car args))))
      (satisfies (list (list :opaque spec (%universe))))
      ((integer mod unsigned-byte signed-byte rational)
       (let ((c (%canonical-type (if (eq head 'rational) (cons 'integer args) spec))))
         (list (cons :int (%canonical-interval c)))))
      ((float double-float single-float short-float long-float)
       (%real-bound-pieces :float (%optional-arg args 0) (%optional-arg args 1)))
      (real
       (let ((low (%optional-arg args 0))
             (high (%optional-arg args 1)))
         (%union (%real-bound-pieces :float low high)
                 (%real-int-pieces low high))))
      (complex
       (let ((c (%complex-type (car args))))
         (cond ((eq c 'complex) '(:complex-int :complex-float))
               ((equal c '(complex integer)) '(:complex-int))
               (t '(:complex-float)))))
      (cons (if (and (eq (%optional-arg args 0) '*) (eq (%optional-arg args 1) '*))
                '(:cons)
                (list (list :opaque spec '(:cons)))))
      ((array simple-array vector simple-vector string simple-string base-string
        simple-base-string bit-vector simple-bit-vector)
       (%array-type-pieces head args spec))
      (function (%type-pieces 'function))
      (values (error "~S is not a type for SUBTYPEP" spec))
      (t (%other-type-pieces spec head args)))))

;; The integers of a real range.
(defun %real-int-pieces (low high)
  (let ((l (%low (if (eq low '*) nil low)))
        (h (%low (if (eq high '*) nil high))))
    (let ((lo (and l (if (cdr l) (ceiling (car l)) (1+ (floor (car l))))))
          (hi (and h (if (cdr h) (floor (car h)) (1- (ceiling (car h)))))))
      (if (and lo hi (> lo hi)) nil (list (list :int lo hi))))))

(defun %array-type-pieces (head args spec)
  (let* ((element-type (case head
                         ((array simple-array vector) (%optional-arg args 0))
                         ((string simple-string base-string simple-base-string) 'character)
                         (t t)))
         (shape (case head
                  ((array simple-array) (%optional-arg args 1))
                  (vector (%optional-arg args 1))
                  (t (%optional-arg args 0))))
         (bits (member head '(bit-vector simple-bit-vector)))
         (vector (member head '(vector simple-vector string simple-string base-string
                                simple-base-string bit-vector simple-bit-vector)))
         (simple (member head '(simple-array simple-vector simple-string simple-base-string
                                simple-bit-vector)))
         (chars (cond ((eq element-type '*) :both)
                      ((eq (upgraded-array-element-type element-type) 'character) :chars)
                      (t :general)))
         ;; Strings are the vectors of characters; arrays of other ranks
         ;; hold anything.
         (rank-1 (append (unless (eq chars :general)
                           (if simple '(:string) '(:string :complex-string)))
                         (unless (eq chars :chars)
                           (if simple '(:simple-vector) '(:simple-vector :complex-vector)))))
         (other-rank (unless (eq chars :chars)
                       (if simple '(:array) '(:array :complex-array))))
         (kinds (if vector rank-1 (append rank-1 other-rank))))
    (cond (bits (list (list :opaque spec kinds)))
          ((eq shape '*) kinds)
          ((and vector (not (member head '(vector)))) (list (list :opaque spec kinds)))
          ((and (not vector) (or (eql shape 1) (and (consp shape) (null (cdr shape)))))
           (if (or (eql shape 1) (eq (car shape) '*))
               rank-1
               (list (list :opaque spec rank-1))))
          ((and (not vector) (or (eql shape 0) (and (listp shape) (not (eql (length shape) 1)))))
           (if (or (integerp shape) (every (lambda (d) (eq d '*)) shape))
               other-rank
               (list (list :opaque spec other-rank))))
          (t (list (list :opaque spec kinds))))))

;; Coverage of the integers lo..hi by integer intervals.
(defun %ints-cover-p (lo hi intervals)
  (let ((sorted (sort (copy-list intervals)
                      (lambda (a b) (%low<= (%low (cadr a)) (%low (cadr b))))))
        (at lo)
        (done nil))
    (dolist (i sorted)
      (unless done
        (let ((l (cadr i)) (h (caddr i)))
          (when (or (null l) (and at (<= l at)))
            (cond ((null h) (setq done t))
                  ((or (null at) (>= h at))
                   (when (null at) (setq at h))
                   (setq at (1+ (max h at)))
                   (when (and hi (> at hi)) (setq done t))))))))
    (or done (and hi at (> at hi)))))

;; Coverage of a float interval by float intervals: a sweep from the low
;; end.  AT is the lowest point not yet known to be covered, as a low
;; bound (value . inclusive); :BELOW stands for minus infinity.
(defun %floats-cover-p (low high intervals)
  (let ((sorted (sort (copy-list intervals)
                      (lambda (a b) (%low<= (%low (cadr a)) (%low (cadr b))))))
        (at (if low (%low low) :below))
        (target (%low high)))
    (block sweep
      (dolist (i sorted nil)
        (let ((l (%low (cadr i)))
              (h (%low (caddr i))))
          (when (or (null l) (and (not (eq at :below)) (%low<= l at)))
            (when (null h) (return-from sweep t))
            ;; Just above h: past w when w was included, from w when not.
            (let ((next (cons (car h) (not (cdr h)))))
              (when (or (eq at :below) (%low<= at next))
                (setq at next)))
            (when (and target
                       (or (> (car at) (car target))
                           (and (= (car at) (car target))
                                (or (not (cdr at)) (not (cdr target))))))
              (return-from sweep t))))))))

(defun %piece-covered (p pieces)
  (let ((kind (%piece-kind p)))
    (case kind
      (:int
       (let ((ints (remove-if-not (lambda (q) (eq (%piece-kind q) :int)) pieces)))
         (cond ((%ints-cover-p (cadr p) (caddr p) ints) :yes)
               ((%pieces-may-hold pieces :int) :unknown)
               (t :no))))
      (:float
       (let ((floats (remove-if-not (lambda (q) (eq (%piece-kind q) :float)) pieces)))
         (cond ((%floats-cover-p (cadr p) (caddr p) floats) :yes)
               ((%pieces-may-hold pieces :float) :unknown)
               (t :no))))
      (:obj (if (%pieces-hold pieces (cadr p)) :yes :no))
      (:class
       (cond ((member :instance pieces) :yes)
             ((dolist (q pieces nil)
                (when (and (eq (%piece-kind q) :class) (%class-subclass-p (cadr p) (cadr q)))
                  (return t)))
              :yes)
             ;; A class has instances of its own, which no other class
             ;; holds; only an opaque part may hold them.
             ((dolist (q pieces nil)
                (when (and (eq (%piece-kind q) :opaque) (member :instance (caddr q)))
                  (return t)))
              :unknown)
             (t :no)))
      (:opaque
       (if (or (member p pieces :test #'equal)
               (every (lambda (w) (eq (%piece-covered w pieces) :yes)) (caddr p)))
           :yes
           :unknown))
      (t
       (cond ((member p pieces) :yes)
             ((%pieces-may-hold pieces p) :unknown)
             (t :no))))))

;; Could some piece hold objects of the kind without holding all of them?
(defun %pieces-may-hold (pieces kind)
  (dolist (q pieces nil)
    (when (and (member (%piece-kind q) '(:obj :class :opaque))
               (member-if (lambda (w) (eq (%piece-kind w) kind)) (%piece-within q)))
      (return t))))

(unless (fboundp '%subtypep)
  (%set-symbol-function '%subtypep (symbol-function 'subtypep)))

(defun subtypep (type1 type2 &optional environment)
  "Two values: whether TYPE1 is a subtype of TYPE2, and whether that answer
is certain."
  (cond ((or (null type1) (eq type2 't) (equal type1 type2)) (values t t))
        (t
         (let ((a (%type-pieces type1))
               (b (%type-pieces type2))
               (answer :yes))
           (dolist (p a)
             (let ((c (%piece-covered p b)))
               (cond ((eq c :no) (setq answer :no) (return))
                     ((eq c :unknown) (setq answer :unknown)))))
           (case answer
             (:yes (values t t))
             (:no (values nil t))
             (t (values nil nil)))))))

;;; ------------------------------------------------------------------
;;; TYPE-OF and COERCE

(unless (fboundp '%type-of)
  (%set-symbol-function '%type-of (symbol-function 'type-of)))

;; The kernel's answers are standard names but for plain characters
;; (STRING-CHAR) and the objects it names by themselves (special forms and
;; macros of the kernel, markers).
(defun type-of (object)
  "A type specifier naming the type of OBJECT."
  (let ((type (%type-of object)))
    (cond ((eq type 'string-char) 'character)
          ((not (eq type object)) type)
          ((functionp object) 'compiled-function)
          (t t))))

(unless (fboundp '%coerce)
  (%set-symbol-function '%coerce (symbol-function 'coerce)))

(defun coerce (object result-type)
  "OBJECT converted to RESULT-TYPE: sequences to other kinds of sequences,
reals to floats or complex numbers, designators to characters or
functions."
  (cond ((null result-type) (error "Nothing can be coerced to the type NIL"))
        ;; Symbols pass FUNCTIONP, but the function is wanted.
        ((eq result-type 'function)
         (cond ((symbolp object) (symbol-function object))
               ((and (consp object) (eq (car object) 'lambda))
                (eval (list 'function object)))
               (t object)))
        ((typep object result-type) object)
        ;; A vector with a fill pointer becomes a simple one first.
        ((and (%array-header-p object) (vectorp object))
         (coerce (copy-seq object) result-type))
        ((eq result-type 'character) (%coerce object 'character))
        ((subtypep result-type 'float) (float object 1.0))
        ((subtypep result-type 'complex) (complex object 0))
        ((%sequence-type result-type)
         (multiple-value-bind (kind length) (%sequence-type result-type)
           (%seq-fit (cond ((eq kind 'string) (%coerce object 'string))
                           ((eq kind 'list) (%coerce object 'list))
                           ((simple-vector-p object) object)
                           (t (%coerce object 'vector)))
                     result-type length)))
        ((subtypep result-type 'string) (%coerce object 'string))
        ((subtypep result-type 'list) (%coerce object 'list))
        ((subtypep result-type 'vector)
         (if (simple-vector-p object) object (%coerce object 'vector)))
        (t (%coerce object result-type))))
