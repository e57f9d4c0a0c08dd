;;; Classes: DEFCLASS and its options, inheritance and precedence lists,
;;; shared slots, and what programs ask of classes.

(defun error-text (thunk)
  (handler-case (progn (funcall thunk) :no-error)
    (error (c) (format nil "~A" c))))

(defun names (classes) (mapcar #'class-name classes))

;; A diamond and a longer ladder: the precedence lists the standard's
;; algorithm gives.
(progn
  (defclass animal () ())
  (defclass mammal (animal) ())
  (defclass winged (animal) ())
  (defclass bat (mammal winged) ())
  (defclass pie () ()) (defclass apple () ()) (defclass cinnamon () ())
  (defclass apple-pie (apple pie) ()) (defclass cinnamon-pie (cinnamon pie) ())
  (defclass apple-cinnamon-pie (apple-pie cinnamon-pie) ())
  (list (names (class-precedence-list (find-class 'bat)))
        (names (class-precedence-list (find-class 'apple-cinnamon-pie)))))
=> ((BAT MAMMAL WINGED ANIMAL STANDARD-OBJECT T)
=>  (APPLE-CINNAMON-PIE APPLE-PIE APPLE CINNAMON-PIE CINNAMON PIE STANDARD-OBJECT T))

;; The pedal boat of the literature on linearization: where several
;; classes may come next, the one with a direct subclass nearest the end of
;; the list so far wins (WHEEL-BOAT, for PEDAL-WHEEL-BOAT).
(progn
  (defclass boat () ()) (defclass day-boat (boat) ()) (defclass wheel-boat (boat) ())
  (defclass engine-less (day-boat) ()) (defclass small-multihull (day-boat) ())
  (defclass pedal-wheel-boat (engine-less wheel-boat) ())
  (defclass small-catamaran (small-multihull) ())
  (defclass pedalo (pedal-wheel-boat small-catamaran) ())
  (names (class-precedence-list (find-class 'pedalo))))
=> (PEDALO PEDAL-WHEEL-BOAT ENGINE-LESS WHEEL-BOAT SMALL-CATAMARAN SMALL-MULTIHULL DAY-BOAT BOAT
=>  STANDARD-OBJECT T)

;; Two classes that order the same superclasses both ways cannot have a
;; common subclass; the refusal names the classes and defines nothing.
(progn (defclass fruit () ()) (defclass sweet () ())
       (defclass candied (fruit sweet) ()) (defclass sugared (sweet fruit) ())
       (list (error-text (lambda () (defclass confused (candied sugared) ())))
             (find-class 'confused nil)
             (names (class-direct-subclasses (find-class 'candied)))))
=> ("The classes (FRUIT SWEET STANDARD-OBJECT T) have no precedence order consistent with their definitions; CONFUSED cannot be built on them"
=>  NIL NIL)

(error-text (lambda () (defclass selfish (selfish) ())))
=> "The class SELFISH cannot be its own superclass"

;; Inherited slots merge by name: initargs are united, the nearest initform
;; wins, the nearest allocation decides.
(progn
  (defclass named () ((name :initarg :name :initform "nobody" :reader name)))
  (defclass titled (named) ((name :initarg :title :initform "sir")
                            (rank :initarg :rank :initform 1)))
  (list (name (make-instance 'titled))
        (name (make-instance 'titled :name "Ann"))
        (name (make-instance 'titled :title "Bo"))
        (name (make-instance 'named))
        (mapcar #'slot-definition-name (class-slots (find-class 'titled)))
        (sort (copy-list (slot-definition-initargs (car (class-slots (find-class 'titled)))))
              #'string< :key #'symbol-name)
        (slot-definition-initform (car (class-slots (find-class 'titled))))))
=> ("sir" "Ann" "Bo" "nobody" (NAME RANK) (:NAME :TITLE) "sir")

;; Shared slots: one value for every instance, subclasses included, until
;; a subclass defines the slot anew.
(progn
  (defclass tally () ((count :allocation :class :initform 0 :accessor tally-count)
                      (own :initform 0 :accessor own-count)))
  (defclass sub-tally (tally) ())
  (defclass own-tally (tally) ((count :allocation :class :initform 100)))
  (let ((a (make-instance 'tally)) (b (make-instance 'sub-tally)) (c (make-instance 'own-tally)))
    (incf (tally-count a))
    (incf (tally-count b))
    (incf (own-count a))
    (list (tally-count a) (tally-count b) (tally-count (make-instance 'tally))
          (tally-count c) (own-count b)
          (slot-definition-allocation (car (class-slots (find-class 'sub-tally)))))))
=> (2 2 2 100 0 :CLASS)

;; A shared slot without an initform is unbound, for all instances alike.
(progn
  (defclass registry () ((entries :allocation :class :accessor entries)))
  (let ((r (make-instance 'registry)))
    (list (slot-boundp r 'entries)
          (progn (setf (entries (make-instance 'registry)) '(x)) (entries r)))))
=> (NIL (X))

;; Introspection.
(progn
  (defclass shape () ((label :initarg :label :type string :documentation "what it is called"))
    (:documentation "Anything with an area.")
    (:default-initargs :label "shape"))
  (defclass rect (shape) ((w :initarg :w :initform 1) (h :initarg :h :initform 1)))
  (let ((c (find-class 'rect)))
    (list (names (class-direct-superclasses c))
          (names (class-direct-subclasses (find-class 'shape)))
          (mapcar #'slot-definition-name (class-direct-slots c))
          (mapcar #'slot-definition-name (class-slots c))
          (slot-definition-type (car (class-slots c)))
          (slot-definition-allocation (cadr (class-slots c)))
          (class-finalized-p c)
          (eq (class-of c) (find-class 'standard-class))
          (documentation 'shape 'type)
          (documentation (find-class 'shape) t))))
=> ((SHAPE) (RECT) (W H) (LABEL W H) STRING :INSTANCE T T "Anything with an area." "Anything with an area.")

;; Types: class names and class objects are types; TYPEP, SUBTYPEP,
;; TYPE-OF and TYPECASE know them.
(let ((r (make-instance 'rect)))
  (list (typep r 'rect) (typep r 'shape) (typep r (find-class 'shape)) (typep r 'standard-object)
        (typep 5 'shape) (type-of r)
        (multiple-value-list (subtypep 'rect 'shape))
        (multiple-value-list (subtypep (find-class 'shape) (find-class 'rect)))
        (multiple-value-list (subtypep 'rect 'standard-object))
        (typecase r (integer :int) (shape :shape) (t :other))
        (typecase 3 (shape :shape) (integer :int))))
=> (T T T T NIL RECT (T T) (NIL T) (T T) :SHAPE :INT)

;; The standard classes.
(list (names (class-precedence-list (find-class 'standard-generic-function)))
      (names (class-precedence-list (find-class 'standard-method)))
      (class-name (class-of (find-class 'integer)))
      (class-name (class-of (find-class 'standard-class)))
      (names (class-precedence-list (class-of 5)))
      (names (class-precedence-list (class-of nil)))
      (names (class-precedence-list (class-of "s")))
      (mapcar (lambda (x) (class-name (class-of x)))
              (list 1.5 #\a 'sym '(1) #(1) (make-hash-table) *standard-output* #'car #c(1 2))))
=> ((STANDARD-GENERIC-FUNCTION GENERIC-FUNCTION METAOBJECT FUNCALLABLE-STANDARD-OBJECT
=>   STANDARD-OBJECT FUNCTION T)
=>  (STANDARD-METHOD METHOD METAOBJECT STANDARD-OBJECT T)
=>  BUILT-IN-CLASS STANDARD-CLASS (INTEGER RATIONAL NUMBER T) (NULL SYMBOL LIST SEQUENCE T)
=>  (STRING VECTOR ARRAY SEQUENCE T)
=>  (FLOAT CHARACTER SYMBOL CONS VECTOR HASH-TABLE STREAM FUNCTION COMPLEX))

;; FIND-CLASS with SETF, CLASS-NAME with SETF.
(progn
  (defclass original () ())
  (setf (find-class 'alias) (find-class 'original))
  (let ((c (find-class 'original)))
    (setf (class-name c) 'renamed)
    (prog1 (list (eq (find-class 'alias) c) (class-name c) (eq (find-class 'original) c)
                 (progn (setf (find-class 'alias) nil) (find-class 'alias nil)))
      (setf (class-name c) 'original))))
=> (T RENAMED T NIL)

;; Superclasses may be defined after their subclasses; instances wait.
(progn
  (defclass early-child (late-parent) ((a :initform 1 :reader a-of)))
  (list (class-finalized-p (find-class 'early-child))
        (error-text (lambda () (make-instance 'early-child)))
        (progn (defclass late-parent () ((b :initform 2 :reader b-of)))
               (let ((x (make-instance 'early-child))) (list (a-of x) (b-of x))))))
=> (NIL "The class EARLY-CHILD cannot have instances: a superclass of it is not defined yet" (1 2))

;; Refusals.
(list (error-text (lambda () (defclass bad-slot () ((x :initform 1 :initform 2)))))
      (error-text (lambda () (defclass bad-option () () (:colour :red))))
      (error-text (lambda () (defclass bad-slot-option () ((x :color red)))))
      (error-text (lambda () (defclass integer () ())))
      (error-text (lambda () (defclass twice () (x (x :initarg :x))))))
=> ("The slot X has two :INITFORM options" ":COLOUR is not a class option of BAD-OPTION"
=>  ":COLOR is not a slot option (slot X of BAD-SLOT-OPTION)"
=>  "INTEGER names a built-in-class that cannot be redefined as a class"
=>  "The class TWICE has two slots named X")

;; A metaclass of the program's, with a slot of its own in each class.
(progn
  (defclass counted-class (standard-class) ((made :initform 0 :accessor made)))
  (defclass widget () ((n :initarg :n :reader n)) (:metaclass counted-class))
  (defmethod make-instance :after ((c counted-class) &rest initargs) (incf (made c)))
  (make-instance 'widget :n 1)
  (list (n (make-instance 'widget :n 2)) (made (find-class 'widget))
        (class-name (class-of (find-class 'widget)))
        (error-text (lambda () (defclass widget () ())))))
=> (2 2 COUNTED-CLASS "The class WIDGET cannot change its metaclass from COUNTED-CLASS to STANDARD-CLASS")

;; Types that no object has as its class cannot specialise methods.
(list (error-text (lambda () (defmethod on-keyword ((x keyword)) x)))
      (error-text (lambda () (defmethod on-fixnum ((x fixnum)) x)))
      (error-text (lambda () (defmethod on-nothing ((x no-such-class)) x))))
=> ("No object has KEYWORD as its class: methods cannot be specialised on it"
=>  "No object has FIXNUM as its class: methods cannot be specialised on it"
=>  "NO-SUCH-CLASS is not a class: a method cannot be specialised on it")
