;;; Instances: MAKE-INSTANCE and the initialization protocol, initarg
;;; checking, slot access, redefinition of classes with live instances,
;;; CHANGE-CLASS, printing and describing.

(defun error-text (thunk)
  (handler-case (progn (funcall thunk) :no-error)
    (error (c) (format nil "~A" c))))

(defun slots-of (object)
  (mapcar (lambda (s)
            (let ((name (slot-definition-name s)))
              (if (slot-boundp object name) (list name (slot-value object name)) (list name :unbound))))
          (class-slots (class-of object))))

;; Initforms, initargs, default initargs and the &KEY parameters of
;; INITIALIZE-INSTANCE methods; initforms are evaluated for each instance,
;; where DEFCLASS stood.
(progn
  (defvar *serial* 0)
  (let ((prefix "P"))
    (defclass person ()
      ((name :initarg :name :reader name)
       (id :initform (format nil "~A~D" prefix (incf *serial*)) :reader id)
       (age :initarg :age :initarg :years :initform 0 :accessor age)
       (tags :initarg :tags :accessor tags))
      (:default-initargs :name "anonymous" :tags (list 'new))))
  (defclass employee (person)
    ((salary :accessor salary))
    (:default-initargs :name "staff"))
  (defmethod initialize-instance :after ((e employee) &key (pay 100))
    (setf (salary e) pay))
  (let ((a (make-instance 'person)) (b (make-instance 'person :name "Bo" :years 7))
        (c (make-instance 'employee :age 30 :pay 250)))
    (list (slots-of a) (slots-of b) (slots-of c)
          (eq (tags a) (tags (make-instance 'person))))))
=> (((NAME "anonymous") (ID "P1") (AGE 0) (TAGS (NEW))) ((NAME "Bo") (ID "P2") (AGE 7) (TAGS (NEW)))
=>  ((NAME "staff") (ID "P3") (AGE 30) (TAGS (NEW)) (SALARY 250)) NIL)

;; An initarg no slot and no method takes is refused, unless
;; :ALLOW-OTHER-KEYS says otherwise.
(list (error-text (lambda () (make-instance 'person :colour 'red)))
      (error-text (lambda () (make-instance 'employee :colour 'red)))
      (name (make-instance 'person :colour 'red :allow-other-keys t))
      (salary (make-instance 'employee :pay 5 :bonus 1 :allow-other-keys t)))
=> (":COLOUR is not a keyword accepted here" ":COLOUR is not a keyword accepted here" "anonymous" 5)

;; The slot types are checked against the initargs.
(progn
  (defclass typed () ((n :initarg :n :type integer :reader n)))
  (list (n (make-instance 'typed :n 3))
        (error-text (lambda () (make-instance 'typed :n "three")))))
=> (3 "The slot N cannot hold \"three\": it is not of the slot's type")

;; The protocol in order, with methods on each generic function, and
;; MAKE-INSTANCE of a class object.
(progn
  (defvar *calls* nil)
  (defclass traced () ((a :initarg :a :initform 1 :accessor a)))
  (defmethod initialize-instance :before ((x traced) &rest args) (push (list :initialize args) *calls*))
  (defmethod shared-initialize :after ((x traced) slots &rest args)
    (push (list :shared slots args) *calls*))
  (defmethod reinitialize-instance :after ((x traced) &rest args) (push (list :reinitialize args) *calls*))
  (let ((x (make-instance (find-class 'traced) :a 5)))
    (setf (a x) 9)
    (reinitialize-instance x :a 7)
    (list (a x) (reverse *calls*)
          (error-text (lambda () (reinitialize-instance x :b 1)))
          (progn (slot-makunbound x 'a) (shared-initialize x '(a)) (a x)))))
=> (7 ((:INITIALIZE (:A 5)) (:SHARED T (:A 5)) (:SHARED NIL (:A 7)) (:REINITIALIZE (:A 7)))
=>  ":B is not a keyword accepted here" 1)

;; Slot access by name, the errors naming the slot and the object, and
;; SLOT-MISSING and SLOT-UNBOUND as generic functions.
(progn
  (defclass cell () ((value :initarg :value) (other :reader other)))
  (defmethod print-object ((c cell) s) (write-string "#<cell>" s))
  (let ((c (make-instance 'cell :value 1)))
    (list (slot-value c 'value) (slot-boundp c 'other) (slot-exists-p c 'value) (slot-exists-p c 'nope)
          (progn (setf (slot-value c 'other) 2) (other c))
          (progn (slot-makunbound c 'other) (slot-boundp c 'other))
          (error-text (lambda () (other c)))
          (error-text (lambda () (slot-value c 'nope)))
          (error-text (lambda () (setf (slot-value c 'nope) 3)))
          (error-text (lambda () (slot-value 5 'value))))))
=> (1 NIL T NIL 2 NIL "The slot OTHER of #<cell> is unbound" "The object #<cell> has no slot named NOPE"
=>  "The object #<cell> has no slot named NOPE" "The object 5 has no slot named VALUE")

(progn
  (defclass lenient () ((x :reader x)))
  (defmethod slot-unbound ((class t) (o lenient) name) (list :default-for name))
  (defmethod slot-missing ((class t) (o lenient) name operation &optional value)
    (list :missing name operation value))
  (let ((o (make-instance 'lenient)))
    (list (x o) (slot-value o 'x) (slot-value o 'y) (setf (slot-value o 'y) 5) (slot-boundp o 'y))))
=> ((:DEFAULT-FOR X) (:DEFAULT-FOR X) (:MISSING Y SLOT-VALUE NIL) 5 T)

;; WITH-SLOTS and WITH-ACCESSORS read and write through the instance.
(progn
  (defclass vec () ((x :initarg :x :accessor vx) (y :initarg :y :accessor vy)))
  (let ((v (make-instance 'vec :x 1 :y 2)))
    (list (with-slots (x (why y)) v
            (setq x (+ x 10))
            (incf why 20)
            (list x why))
          (with-accessors ((a vx) (b vy)) v
            (setf a (* a 2))
            (list a b))
          (slots-of v))))
=> ((11 22) (22 22) ((X 22) (Y 22)))

;; Redefinition with live instances: a slot added gets its initform, a
;; removed slot goes (its value reaches UPDATE-INSTANCE-FOR-REDEFINED-CLASS),
;; the others keep their values; accessors follow; a new superclass brings
;; its slots.
(progn
  (defclass gadget () ((name :initarg :name :accessor gadget-name)
                       (weight :initarg :weight :accessor weight)))
  (defvar *g1* (make-instance 'gadget :name "saw" :weight 3))
  (defvar *g2* (make-instance 'gadget :name "drill"))
  (defvar *updates* nil)
  (defmethod print-object ((g gadget) s) (format s "#<GADGET ~A>" (gadget-name g)))
  (defmethod update-instance-for-redefined-class :after ((g gadget) added discarded plist &rest initargs)
    (push (list (gadget-name g) added discarded plist) *updates*))
  (defclass gadget () ((name :initarg :name :accessor gadget-name)
                       (price :initform 10 :accessor price)))
  (list (slots-of *g1*) (slots-of *g2*) (reverse *updates*)
        (error-text (lambda () (weight *g1*)))
        (slots-of (make-instance 'gadget :name "new"))))
=> (((NAME "saw") (PRICE 10)) ((NAME "drill") (PRICE 10))
=>  (("saw" (PRICE) (WEIGHT) (WEIGHT 3)) ("drill" (PRICE) (WEIGHT) NIL))
=>  "No method of the generic function WEIGHT is applicable to the arguments (#<GADGET saw>)"
=>  ((NAME "new") (PRICE 10)))

(progn
  (defclass tool () ((owner :initform "shop" :accessor owner) (serial :initarg :serial)))
  (defclass gadget (tool) ((name :initarg :name :accessor gadget-name)
                           (price :initform 10 :accessor price)
                           (colour :initform 'grey)))
  (setf (price *g1*) 99)
  (list (slots-of *g1*) (owner *g2*) (typep *g1* 'tool) (eq (class-of *g1*) (find-class 'gadget))
        (length *updates*)))
=> (((OWNER "shop") (SERIAL :UNBOUND) (NAME "saw") (PRICE 99) (COLOUR GREY)) "shop" T T 4)

;; Reordering and removing slots keeps every value that remains; an
;; instance touched only after several redefinitions is updated once.
(progn
  (defclass rec () ((a :initarg :a) (b :initarg :b) (c :initarg :c)))
  (defvar *r* (make-instance 'rec :a 1 :b 2 :c 3))
  (defclass rec () ((c :initarg :c) (a :initarg :a) (b :initarg :b)))
  (defclass rec () ((c :initarg :c) (b :initarg :b) (d :initform 4)))
  (slots-of *r*))
=> ((C 3) (B 2) (D 4))

;; MAKE-INSTANCES-OBSOLETE: the next touch runs the update.
(progn
  (setq *updates* nil)
  (make-instances-obsolete 'gadget)
  (list (gadget-name *g2*) (length *updates*)))
=> ("drill" 1)

;; CHANGE-CLASS keeps the values of the local slots both classes have, and
;; calls UPDATE-INSTANCE-FOR-DIFFERENT-CLASS with a copy of the old state.
(progn
  (defclass caterpillar () ((name :initarg :name :accessor name-of) (legs :initform 16)))
  (defclass butterfly () ((name :accessor name-of) (wings :initform 2) (colour :initarg :colour)))
  (defvar *seen* nil)
  (defmethod update-instance-for-different-class :before ((old caterpillar) (new butterfly) &key colour)
    (push (list (class-name (class-of old)) (slot-value old 'legs) colour) *seen*))
  (let* ((c (make-instance 'caterpillar :name "Vanessa"))
         (same c))
    (change-class c 'butterfly :colour 'red)
    (list (eq c same) (class-name (class-of c)) (slots-of c) *seen* (name-of c)
          (typep c 'butterfly) (typep c 'caterpillar))))
=> (T BUTTERFLY ((NAME "Vanessa") (WINGS 2) (COLOUR RED)) ((CATERPILLAR 16 RED)) "Vanessa" T NIL)

;; An instance keeps its identity through a change to a larger class, and
;; its class's later redefinitions.
(progn
  (defclass small () ((x :initarg :x :accessor x-of)))
  (defclass large () ((x :accessor x-of) (y :initform 2) (z :initform 3) (w :initform 4)))
  (let* ((s (make-instance 'small :x 1)) (table (list s)))
    (change-class s 'large)
    (defclass large () ((w :initform 4) (x :accessor x-of) (v :initform 5)))
    (list (eq (car table) s) (slots-of s) (x-of s) (setf (x-of s) 10) (slots-of (car table)))))
=> (T ((W 4) (X 1) (V 5)) 1 10 ((W 4) (X 10) (V 5)))

;; Instances print with their class's name, by PRINT-OBJECT everywhere the
;; printer goes, and PRINT-UNREADABLE-OBJECT with and without identity.
(progn
  (defclass plain () ())
  (defclass pretty () ((n :initarg :n)))
  (defmethod print-object ((p pretty) stream)
    (print-unreadable-object (p stream :type t)
      (format stream "n=~A" (slot-value p 'n))))
  (let ((p (make-instance 'plain)) (q (make-instance 'pretty :n 4)))
    (list (subseq (prin1-to-string p) 0 8)
          (= (length (prin1-to-string p)) (length (princ-to-string p)))
          (prin1-to-string q) (format nil "~A ~S" q (list q q))
          (with-output-to-string (s) (print-unreadable-object (p s) (write-string "body" s)))
          (with-output-to-string (s) (print-unreadable-object (p s :type t)))
          (subseq (with-output-to-string (s) (print-unreadable-object (p s :identity t))) 0 2)
          (prin1-to-string (find-class 'pretty)) (prin1-to-string #'print-object))))
=> ("#<PLAIN " T "#<PRETTY n=4>" "#<PRETTY n=4> (#<PRETTY n=4> #<PRETTY n=4>)" "#<body>" "#<PLAIN>" "#<"
=>  "#<STANDARD-CLASS PRETTY>" "#<STANDARD-GENERIC-FUNCTION PRINT-OBJECT>")

;; DESCRIBE lists the class and every slot, bound or not.
(progn
  (defclass described () ((a :initform 1) (b) (c :allocation :class :initform 'shared)))
  (defmethod print-object ((d described) s) (write-string "#<described>" s))
  (with-output-to-string (s) (describe (make-instance 'described) s)))
-> 
=> "#<described> is an instance of the class DESCRIBED.
=>   A: 1
=>   B: unbound
=>   C: SHARED
=> "

;; DESCRIBE-OBJECT is generic.
(progn
  (defmethod describe-object ((d described) stream) (format stream "just a described thing"))
  (with-output-to-string (s) (describe (make-instance 'described) s)))
=> "just a described thing"

;; Documentation of classes, generic functions and methods.
(progn
  (defclass documented () () (:documentation "A class with words."))
  (defgeneric explained (x) (:documentation "A generic function with words."))
  (defmethod explained ((x integer)) "A method with words." x)
  (let ((m (find-method #'explained nil '(integer))))
    (list (documentation 'documented 'type) (documentation (find-class 'documented) t)
          (documentation 'explained 'function) (documentation #'explained t)
          (documentation m t)
          (progn (setf (documentation m t) "new words") (documentation m t))
          (explained 3))))
=> ("A class with words." "A class with words." "A generic function with words."
=>  "A generic function with words." "A method with words." "new words" 3)

;; A superclass redefined: the instances of its subclasses are updated too.
(progn
  (defclass upper () ((a :initform 1 :accessor a)))
  (defclass lower (upper) ((b :initform 2 :accessor b)))
  (let ((x (make-instance 'lower)))
    (setf (a x) 10 (b x) 20)
    (defclass upper () ((z :initform 0 :accessor z) (a :initform 1 :accessor a)))
    (list (z x) (a x) (b x) (mapcar #'slot-definition-name (class-slots (find-class 'lower))))))
=> (0 10 20 (Z A B))

;; Initargs that SHARED-INITIALIZE methods take are valid.
(progn
  (defclass configured () ((size :accessor size)))
  (defmethod shared-initialize :after ((c configured) slots &key (dimension 3))
    (setf (size c) (* dimension dimension)))
  (list (size (make-instance 'configured)) (size (make-instance 'configured :dimension 4))
        (error-text (lambda () (make-instance 'configured :dimensions 4)))))
=> (9 16 ":DIMENSIONS is not a keyword accepted here")
