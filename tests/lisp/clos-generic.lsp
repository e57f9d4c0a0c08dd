;;; Generic functions and methods: dispatch on classes, EQL specialisers
;;; and built-in classes, standard and simple method combination,
;;; CALL-NEXT-METHOD, the protocol functions and their errors.

(defun error-text (thunk)
  (handler-case (progn (funcall thunk) :no-error)
    (error (c) (format nil "~A" c))))

;; Shapes: AREA on each class, PRINT-OBJECT for all of them.
(progn
  (defclass shape () ((name :initarg :name :initform "shape" :reader shape-name)))
  (defclass circle (shape) ((radius :initarg :radius :reader radius)))
  (defclass rectangle (shape) ((width :initarg :width :reader width)
                               (height :initarg :height :reader height)))
  (defclass square (rectangle) ()
    (:default-initargs :name "square"))
  (defmethod initialize-instance :after ((s square) &key side)
    (when side (setf (slot-value s 'width) side (slot-value s 'height) side)))
  (defgeneric area (shape) (:documentation "The area of SHAPE."))
  (defmethod area ((c circle)) (* 3 (radius c) (radius c)))
  (defmethod area ((r rectangle)) (* (width r) (height r)))
  (defmethod print-object ((s shape) stream)
    (print-unreadable-object (s stream :type t)
      (format stream "~A, area ~A" (shape-name s) (area s))))
  (let ((shapes (list (make-instance 'circle :radius 2 :name "wheel")
                      (make-instance 'rectangle :width 2 :height 5)
                      (make-instance 'square :side 3))))
    (list (mapcar #'area shapes)
          (format nil "~A" (car shapes))
          (prin1-to-string (caddr shapes))
          (reduce #'+ shapes :key #'area))))
=> ((12 10 9) "#<CIRCLE wheel, area 12>" "#<SQUARE square, area 9>" 31)

;; A bank account: :BEFORE, :AFTER and :AROUND methods run in the standard
;; order around the primary methods.
(progn
  (defvar *trace* nil)
  (defclass account () ((balance :initarg :balance :initform 0 :accessor balance)))
  (defclass savings-account (account) ((rate :initform 1 :reader rate)))
  (defgeneric withdraw (account amount))
  (defmethod withdraw ((a account) amount)
    (push (list 'account amount) *trace*)
    (decf (balance a) amount))
  (defmethod withdraw ((a savings-account) amount)
    (push (list 'savings amount) *trace*)
    (call-next-method))
  (defmethod withdraw :before ((a account) amount) (push 'before-account *trace*))
  (defmethod withdraw :before ((a savings-account) amount) (push 'before-savings *trace*))
  (defmethod withdraw :after ((a account) amount) (push 'after-account *trace*))
  (defmethod withdraw :after ((a savings-account) amount) (push 'after-savings *trace*))
  (defmethod withdraw :around ((a account) amount)
    (push 'around-account *trace*)
    (if (> amount (balance a))
        :refused
        (call-next-method)))
  (defmethod withdraw :around ((a savings-account) amount)
    (push 'around-savings *trace*)
    (list :left (call-next-method)))
  (let ((a (make-instance 'savings-account :balance 100)))
    (list (withdraw a 30) (reverse *trace*)
          (progn (setq *trace* nil) (withdraw a 500)) (reverse *trace*))))
=> ((:LEFT 70)
=>  (AROUND-SAVINGS AROUND-ACCOUNT BEFORE-SAVINGS BEFORE-ACCOUNT (SAVINGS 30) (ACCOUNT 30)
=>   AFTER-ACCOUNT AFTER-SAVINGS)
=>  (:LEFT :REFUSED) (AROUND-SAVINGS AROUND-ACCOUNT))

;; CALL-NEXT-METHOD with new arguments, NEXT-METHOD-P, and the original
;; arguments even when the method assigned its parameter.
(progn
  (defgeneric describe-number (x &optional tag))
  (defmethod describe-number ((x number) &optional tag) (list :number x tag))
  (defmethod describe-number ((x integer) &optional tag)
    (list :integer (next-method-p) (call-next-method (* x 10) :scaled)))
  (defmethod describe-number ((x float) &optional tag)
    (setq x 0)
    (list :float (call-next-method)))
  (defgeneric lonely (x))
  (defmethod lonely ((x t)) (next-method-p))
  (list (describe-number 4) (describe-number 2.5 :given) (describe-number #c(1 2)) (lonely 1)))
=> ((:INTEGER T (:NUMBER 40 :SCALED)) (:FLOAT (:NUMBER 2.5 :GIVEN)) (:NUMBER #C(1 2) NIL) NIL)

;; EQL specialisers on keywords and numbers come before class methods.
(progn
  (defgeneric speak (animal))
  (defmethod speak ((a symbol)) (list 'some a))
  (defmethod speak ((a (eql :dog))) 'woof)
  (defmethod speak ((a (eql :cat))) (list 'meow (call-next-method)))
  (defgeneric fact (n))
  (defmethod fact ((n (eql 0))) 1)
  (defmethod fact ((n integer)) (* n (fact (- n 1))))
  (defmethod fact ((n (eql 100000000000))) :huge)
  (list (speak :dog) (speak :cat) (speak :cow) (speak 'dog) (fact 10)
        (fact 100000000000) (fact 1)))
=> (WOOF (MEOW (SOME :CAT)) (SOME :COW) (SOME DOG) 3628800 :HUGE 1)

;; Methods on the built-in classes of every kind of object, and on
;; structures.
(progn
  (defstruct ship name (crew 0))
  (defstruct (tanker (:include ship)) cargo)
  (defgeneric kind (x))
  (defmethod kind ((x t)) 't)
  (defmethod kind ((x number)) 'number)
  (defmethod kind ((x integer)) (list 'integer (call-next-method)))
  (defmethod kind ((x float)) 'float)
  (defmethod kind ((x complex)) 'complex)
  (defmethod kind ((x character)) 'character)
  (defmethod kind ((x symbol)) 'symbol)
  (defmethod kind ((x null)) (list 'null (call-next-method)))
  (defmethod kind ((x cons)) 'cons)
  (defmethod kind ((x list)) 'list)
  (defmethod kind ((x string)) (list 'string (call-next-method)))
  (defmethod kind ((x vector)) 'vector)
  (defmethod kind ((x array)) 'array)
  (defmethod kind ((x hash-table)) 'hash-table)
  (defmethod kind ((x function)) 'function)
  (defmethod kind ((x stream)) 'stream)
  (defmethod kind ((x ship)) (list 'ship (ship-name x)))
  (defmethod kind ((x tanker)) (list 'tanker (call-next-method)))
  (mapcar #'kind (list 1 100000000000 1.5 #c(1 2) #\a 'a nil '(1) "s" #(1) (make-array '(2 2))
                       (make-hash-table) #'car #'kind *standard-output*
                       (make-ship :name "Ark") (make-tanker :name "Oil"))))
=> ((INTEGER NUMBER) (INTEGER NUMBER) FLOAT COMPLEX CHARACTER SYMBOL (NULL SYMBOL) CONS
=>  (STRING VECTOR) VECTOR ARRAY HASH-TABLE FUNCTION FUNCTION STREAM (SHIP "Ark") (TANKER (SHIP "Oil")))

;; Dispatch on more than one argument, and the argument precedence order.
(progn
  (defgeneric collide (a b))
  (defmethod collide ((a integer) (b t)) 'integer-any)
  (defmethod collide ((a t) (b integer)) 'any-integer)
  (defmethod collide ((a t) (b t)) 'any-any)
  (defgeneric collide-backwards (a b) (:argument-precedence-order b a))
  (defmethod collide-backwards ((a integer) (b t)) 'integer-any)
  (defmethod collide-backwards ((a t) (b integer)) 'any-integer)
  (list (collide 1 2) (collide 'x 2) (collide 1 'x) (collide 'x 'y)
        (collide-backwards 1 2)))
=> (INTEGER-ANY ANY-INTEGER INTEGER-ANY ANY-ANY ANY-INTEGER)

;; Each simple method combination, with :AROUND methods, and a short
;; DEFINE-METHOD-COMBINATION.
(progn
  (defclass base () ()) (defclass middle (base) ()) (defclass top (middle) ())
  (defmacro define-combined (name combination &rest values)
    `(progn (defgeneric ,name (x) (:method-combination ,combination))
            (defmethod ,name ,combination ((x base)) ,(first values))
            (defmethod ,name ,combination ((x middle)) ,(second values))
            (defmethod ,name ,combination ((x top)) ,(third values))))
  (define-combined c+ + 1 10 100)
  (define-combined c-and and 1 2 3)
  (define-combined c-or or nil :middle :top)
  (define-combined c-progn progn 'base 'middle 'top)
  (define-combined c-list list 'base 'middle 'top)
  (define-combined c-append append '(base) '(middle) '(top))
  (define-combined c-nconc nconc (list 'base) (list 'middle) (list 'top))
  (define-combined c-max max 3 7 5)
  (define-combined c-min min 3 7 5)
  (defgeneric c-list-last (x) (:method-combination list :most-specific-last))
  (defmethod c-list-last list ((x base)) 'base)
  (defmethod c-list-last list ((x top)) 'top)
  (defmethod c-list-last :around ((x middle)) (cons 'around (call-next-method)))
  (define-method-combination lines :operator list :identity-with-one-argument nil)
  (defgeneric c-lines (x) (:method-combination lines))
  (defmethod c-lines lines ((x base)) 'only)
  (let ((x (make-instance 'top)))
    (list (c+ x) (c-and x) (c-or x) (c-progn x) (c-list x) (c-append x) (c-nconc x) (c-max x)
          (c-min x) (c+ (make-instance 'base)) (c-list-last x) (c-lines x))))
=> (111 1 :TOP BASE (TOP MIDDLE BASE) (TOP MIDDLE BASE) (TOP MIDDLE BASE) 7 3 1
=>  (AROUND BASE TOP) (ONLY))

;; A method whose qualifier the combination does not know is an error
;; when it would run.
(progn
  (defgeneric strict (x) (:method-combination +))
  (defmethod strict + ((x integer)) 1)
  (defmethod strict :before ((x number)) 0)
  (error-text (lambda () (strict 1))))
=> "The qualifiers (:BEFORE) of #<STANDARD-METHOD STRICT :BEFORE (NUMBER)> are not valid under the + method combination of STRICT"

;; The errors of dispatch name the generic function and the arguments.
(list (error-text (lambda () (area 42)))
      (error-text (lambda () (describe-number "s" :tag)))
      (progn (defgeneric early-end (x))
             (defmethod early-end ((x integer)) (call-next-method))
             (error-text (lambda () (early-end 5))))
      (progn (defgeneric only-before (x))
             (defmethod only-before :before ((x integer)) nil)
             (error-text (lambda () (only-before 5)))))
=> ("No method of the generic function AREA is applicable to the arguments (42)"
=>  "No method of the generic function DESCRIBE-NUMBER is applicable to the arguments (\"s\" :TAG)"
=>  "EARLY-END has no next method after #<STANDARD-METHOD EARLY-END (INTEGER)> for the arguments (5)"
=>  "No primary method of the generic function ONLY-BEFORE is applicable to the arguments (5)")

;; The protocol functions are generic: programs may define methods on them.
(progn
  (defgeneric picky (x))
  (defmethod picky ((x string)) x)
  (defmethod no-applicable-method ((gf (eql #'picky)) &rest args) (list :fallback args))
  (defgeneric ends (x))
  (defmethod ends ((x t)) (call-next-method))
  (defmethod no-next-method ((gf (eql #'ends)) method &rest args) (list :no-next args))
  (list (picky "s") (picky 3) (ends 4)))
=> ("s" (:FALLBACK (3)) (:NO-NEXT (4)))

;; Lambda lists must be congruent.
(progn
  (defgeneric two-args (a b))
  (defgeneric with-keys (a &key size))
  (list (error-text (lambda () (defmethod two-args ((a integer)) a)))
        (error-text (lambda () (defmethod two-args ((a integer) b &optional c) a)))
        (error-text (lambda () (defmethod with-keys ((a integer)) a)))
        (error-text (lambda () (defmethod with-keys ((a integer) &key colour) a)))
        (progn (defmethod with-keys ((a integer) &rest r) (list a r)) (with-keys 1 :size 2))
        (progn (defmethod with-keys ((a string) &key size weight) (list a size weight))
               (with-keys "s" :size 2 :weight 3))))
=> ("The lambda list (A) of a method is not congruent with the lambda list (A B) of the generic function TWO-ARGS"
=>  "The lambda list (A B &OPTIONAL C) of a method is not congruent with the lambda list (A B) of the generic function TWO-ARGS"
=>  "The lambda list (A) of a method is not congruent with the lambda list (A &KEY SIZE) of the generic function WITH-KEYS"
=>  "The lambda list (A &KEY COLOUR) of a method is not congruent with the lambda list (A &KEY SIZE) of the generic function WITH-KEYS"
=>  (1 (:SIZE 2)) ("s" 2 3))

;; Redefining a method with the same qualifiers and specializers replaces
;; it; FIND-METHOD, REMOVE-METHOD, ADD-METHOD and the introspection of
;; methods.
(progn
  (defgeneric greet (x))
  (defmethod greet ((x string)) 'first)
  (defmethod greet ((x string)) 'second)
  (defmethod greet :before ((x string)) nil)
  (let* ((gf #'greet)
         (m (find-method gf '() (list (find-class 'string))))
         (before (find-method gf '(:before) '(string))))
    (list (greet "x") (length (generic-function-methods gf))
          (eq (method-generic-function m) gf) (method-qualifiers before)
          (mapcar #'class-name (method-specializers m))
          (generic-function-name gf) (generic-function-lambda-list gf)
          (progn (remove-method gf m) (error-text (lambda () (greet "x"))))
          (progn (add-method gf m) (greet "x"))
          (find-method gf '(:after) '(string) nil)
          (error-text (lambda () (find-method gf '(:after) '(string)))))))
=> (SECOND 2 T (:BEFORE) (STRING) GREET (X)
=>  "No primary method of the generic function GREET is applicable to the arguments (\"x\")"
=>  SECOND NIL "GREET has no method with the qualifiers (:AFTER) and the specializers (STRING)")

(let ((m (find-method #'speak '() (list '(eql :dog)))))
  (list (method-specializers m) (compute-applicable-methods #'speak '(:dog))
        (mapcar #'method-specializers (compute-applicable-methods #'speak '(:cow)))))
=> (((EQL :DOG)) (#<STANDARD-METHOD SPEAK ((EQL :DOG))> #<STANDARD-METHOD SPEAK (SYMBOL)>)
=>  ((#<BUILT-IN-CLASS SYMBOL>)))

;; A generic function is a function everywhere.
(progn
  (defgeneric twice (x))
  (defmethod twice ((x number)) (* 2 x))
  (defmethod twice ((x string)) (concatenate 'string x x))
  (list (functionp #'twice) (typep #'twice 'function) (typep #'twice 'generic-function)
        (funcall #'twice 3) (funcall 'twice "ab") (apply #'twice '(4)) (mapcar #'twice '(1 "c"))
        (sort (list 3 1 2) #'< :key #'twice) (remove-if-not #'twice '(1))
        (class-name (class-of #'twice)) (eq (symbol-function 'twice) #'twice)))
=> (T T T 6 "abab" 8 (2 "cc") (1 2 3) (1) STANDARD-GENERIC-FUNCTION T)

;; DEFUN replaces a generic function, and DEFMETHOD or DEFGENERIC replaces
;; a plain function.
(progn
  (defun shifty (x) (list :function x))
  (defmethod shifty ((x integer)) (list :method x))
  (let ((r1 (shifty 1)) (r2 (error-text (lambda () (shifty "s")))))
    (defun shifty (x) (list :function-again x))
    (list r1 r2 (shifty "s") (typep #'shifty 'generic-function)
          (progn (defgeneric shifty (x) (:method ((x t)) :generic)) (shifty 2)))))
=> ((:METHOD 1) "No method of the generic function SHIFTY is applicable to the arguments (\"s\")"
=>  (:FUNCTION-AGAIN "s") NIL :GENERIC)

;; Names that cannot become generic functions.
(list (error-text (lambda () (defmethod car ((x integer)) x)))
      (error-text (lambda () (defmethod when ((x integer)) x)))
      (error-text (lambda () (defgeneric if (x)))))
=> ("CAR names a function of the kernel; it cannot become a generic function"
=>  "WHEN names a macro, not a function: it cannot become a generic function"
=>  "IF names a special operator, not a function: it cannot become a generic function")

;; (SETF name) generic functions, and SETF of a call of one.
(progn
  (defclass box () ((content :initform nil :reader content)))
  (defgeneric (setf content) (new box))
  (defmethod (setf content) (new (b box)) (setf (slot-value b 'content) (list :boxed new)))
  (defmethod (setf content) :after (new (b box)) (push :after (slot-value b 'content)))
  (let ((b (make-instance 'box)))
    (list (setf (content b) 5) (content b))))
=> ((:BOXED 5) (:AFTER :BOXED 5))

;; TRACE wraps a generic function; methods defined meanwhile still go to it.
(progn
  (defgeneric traced-area (x))
  (defmethod traced-area ((x integer)) (* x x))
  (trace traced-area)
  (defmethod traced-area ((x string)) (length x))
  (let ((s (with-output-to-string (*trace-output*) (traced-area "abc"))))
    (untrace traced-area)
    (list (traced-area 3) (traced-area "ab") (> (length s) 0) (typep #'traced-area 'generic-function))))
=> (9 2 T T)

;; Calls give the keywords the generic function or an applicable method
;; names, and enough arguments; multiple values pass through every kind of
;; method.
(progn
  (defgeneric sized (x &key))
  (defmethod sized ((x integer) &key (scale 1)) (* x scale))
  (defmethod sized ((x string) &key &allow-other-keys) (length x))
  (defgeneric several (x))
  (defmethod several ((x t)) (values 1 2 3))
  (defmethod several :after ((x integer)) 'ignored)
  (defmethod several :around ((x number)) (call-next-method))
  (list (sized 2 :scale 3) (error-text (lambda () (sized 2 :size 3)))
        (sized 2 :size 3 :allow-other-keys t) (sized "abc" :anything 1)
        (error-text (lambda () (several)))
        (multiple-value-list (several 'a)) (multiple-value-list (several 1))))
=> (6 ":SIZE is not a keyword accepted here" 2 3 "SEVERAL takes at least 1 arguments, not 0: NIL"
=>  (1 2 3) (1 2 3))
