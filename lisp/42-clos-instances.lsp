;;;; The object system, part 3: instances and DEFCLASS.
;;;;
;;;; MAKE-INSTANCE follows a plan kept in the class (word 6): the
;;;; initargs the methods of INITIALIZE-INSTANCE and SHARED-INITIALIZE
;;;; accept beside the slots', and whether only the system's own methods
;;;; would run, in which case the kernel fills the slots at once.  A plan
;;;; holds while no class is redefined and no method of those generic
;;;; functions changes; %PLAN-EPOCH counts such changes.
;;;;
;;;; Instances of a redefined class are brought up to date when the kernel
;;;; next touches their slots (%UPDATE-OBSOLETE-INSTANCE): in place when
;;;; the object is large enough, otherwise the instance forwards to a new
;;;; object that holds its slots from then on (word 1 points to it).

(defvar %plan-epoch 0)

;; The classes whose word 6 holds a stamp: the kernel's quick way
;; (%MAKE-INSTANCE-FAST) takes it until the plans are invalidated.
(defvar %quick-classes nil)

(defun %invalidate-plans ()
  (setq %plan-epoch (+ %plan-epoch 1))
  (let ((classes %quick-classes))
    (setq %quick-classes nil)
    (dolist (c classes) (%instance-set c 6 nil))))

;; An unbound word, read raw.
(defvar %unbound (make-symbol "UNBOUND"))

;;; ------------------------------------------------------------------
;;; Slot access errors

;; A slot named by its location (the accessors' fast path): its name.
(defun %slot-name-at (class location)
  (if (integerp location)
      (dolist (s (%class-effective-slots class) location)
        (when (and (eql (%sdef-location s) location) (eq (%sdef-allocation s) :instance))
          (return (%sdef-name s))))
      location))

(defun %slot-missing-error (object name)
  (error "The object ~S has no slot named ~S" object name))

(defun %slot-unbound-error (instance name)
  (error "The slot ~S of ~S is unbound" name instance))

(defgeneric slot-missing (class object slot-name operation &optional new-value)
  (:documentation "Called when OBJECT, of CLASS, has no slot SLOT-NAME;
OPERATION is SLOT-VALUE, SETF, SLOT-BOUNDP or SLOT-MAKUNBOUND.")
  (:method ((class t) object slot-name operation &optional new-value)
    (%slot-missing-error object slot-name)))

(defgeneric slot-unbound (class instance slot-name)
  (:documentation "Called when the slot SLOT-NAME of INSTANCE is read unbound.")
  (:method ((class t) instance slot-name)
    (%slot-unbound-error instance (%slot-name-at class slot-name)))
  ;; The kernel names a slot read by location (the accessors' fast path)
  ;; by its location; methods are called with its name.
  (:method :around ((class t) instance (slot-name integer))
    (let ((name (%slot-name-at class slot-name)))
      (if (integerp name)
          (call-next-method)
          (slot-unbound class instance name)))))

;;; ------------------------------------------------------------------
;;; Instances of redefined classes

(defun %current-layout-p (x)
  (eql (%instance-ref x 1 nil) (%class-number (%class-of-object x))))

(defun %update-obsolete-instance (x)
  (let ((w (%instance-ref x 1 %unbound)))
    (cond ((eq w %unbound)
           ;; Fresh from ALLOCATE-INSTANCE, which knows no stamps: the size
           ;; is the class's present one.
           (%instance-set x 1 (%class-number (%class-of-object x)))
           x)
          ((%standard-object-p w)
           ;; Forwarded; what it forwards to may be obsolete in turn.
           (let ((target (if (%current-layout-p w) w (%update-obsolete-instance w))))
             (unless (eq target w) (%instance-set x 1 target))
             target))
          (t (%update-layout x w)))))

(defun %raw-slot (object location)
  (if (< location (%object-length object))
      (%instance-ref object location %unbound)
      %unbound))

(defun %set-raw-slot (object location value)
  (if (eq value %unbound)
      (%instance-set object location)
      (%instance-set object location value)))

;; Store VALUES (an alist from names) into a fresh layout of CLASS in
;; STORAGE, whose stamp is set; other words become unbound.
(defun %fill-layout (storage class names values)
  (%instance-set storage 1 (%class-number class))
  (let ((n (%object-length storage)) (base (%slot-base (%class-cpl class))))
    (do ((loc base (+ loc 1)))
        ((>= loc n))
      (let* ((name (and (< loc (length names)) (svref names loc)))
             (entry (and name (assoc name values))))
        (%set-raw-slot storage loc (if entry (cdr entry) %unbound))))))

;; The object to hold a layout of CLASS for instance X: X itself when it
;; is large enough, else a new one X forwards to.
(defun %layout-storage (x class size)
  (if (>= (%object-length x) size)
      x
      (let ((new (allocate-instance class (%class-number class))))
        (%instance-set x 1 new)
        new)))

(defun %update-layout (x stamp)
  (let* ((class (%class-of-object x))
         (d (%description class))
         (old (assoc stamp (%d-layouts d)))
         (new (car (%d-layouts d)))
         (old-names (if old (cadr old) (vector)))
         (new-names (cadr new))
         (values nil) (added nil) (discarded nil) (plist nil))
    ;; The old values by name: local slots from the object, shared ones
    ;; from their holders.
    (dotimes (loc (length old-names))
      (let ((name (svref old-names loc)))
        (when name (setq values (cons (cons name (%raw-slot x loc)) values)))))
    (dolist (s (caddr old))
      (unless (assoc (car s) values)
        (setq values (cons (cons (car s) (%instance-ref (cdr s) 1 %unbound)) values))))
    (dotimes (loc (length new-names))
      (let ((name (svref new-names loc)))
        (when (and name (not (find name old-names)))
          (setq added (cons name added)))))
    (dotimes (loc (length old-names))
      (let ((name (svref old-names loc)))
        (when (and name (not (find name new-names)))
          (setq discarded (cons name discarded))
          (let ((v (cdr (assoc name values))))
            (unless (eq v %unbound) (setq plist (list* name v plist)))))))
    ;; Values survive in slots local in the new layout.
    (let ((storage (%layout-storage x class (length new-names))))
      (%fill-layout storage class new-names values)
      (update-instance-for-redefined-class x (nreverse added) (nreverse discarded) plist)
      storage)))

(defun make-instances-obsolete (class)
  "Give CLASS a new layout stamp: its instances are brought up to date when
next touched."
  (let* ((class (if (symbolp class) (find-class class) class))
         (d (%description class))
         (layout (car (%d-layouts d)))
         (number (%new-class-number)))
    (%instance-set class 4 number)
    (setf (%d-layouts d) (cons (list* number (cdr layout)) (%d-layouts d)))
    (%flush-all-dispatch)
    (%invalidate-plans)
    class))

;;; ------------------------------------------------------------------
;;; Initialization

(defgeneric shared-initialize (instance slot-names &rest initargs &key &allow-other-keys)
  (:documentation "Fill the slots of INSTANCE from INITARGS, then the
unbound slots named by SLOT-NAMES (T: all) from their initforms."))

(defmethod shared-initialize ((instance standard-object) slot-names &rest initargs)
  (apply (function %fill-slots-from-initargs) instance slot-names initargs)
  instance)

(defgeneric initialize-instance (instance &rest initargs &key &allow-other-keys)
  (:documentation "Called by MAKE-INSTANCE on the new instance."))

(defmethod initialize-instance ((instance standard-object) &rest initargs)
  (apply (function shared-initialize) instance t initargs))

(defgeneric reinitialize-instance (instance &rest initargs &key &allow-other-keys)
  (:documentation "Store INITARGS into the slots of INSTANCE again."))

(defmethod reinitialize-instance ((instance standard-object) &rest initargs)
  (%check-initargs-for (%class-of-object instance) initargs
                       (list (function reinitialize-instance) (list instance)
                             (function shared-initialize) (list instance nil)))
  (apply (function shared-initialize) instance nil initargs))

(defgeneric update-instance-for-redefined-class
    (instance added-slots discarded-slots property-list &rest initargs &key &allow-other-keys)
  (:documentation "Called when INSTANCE is brought up to date with its
redefined class; PROPERTY-LIST holds the values of the discarded slots."))

(defmethod update-instance-for-redefined-class ((instance standard-object) added-slots
                                                discarded-slots property-list &rest initargs)
  (apply (function shared-initialize) instance added-slots initargs))

(defgeneric update-instance-for-different-class (previous current &rest initargs
                                                 &key &allow-other-keys)
  (:documentation "Called by CHANGE-CLASS with a copy of the instance as it
was and the instance as it now is."))

(defmethod update-instance-for-different-class ((previous standard-object)
                                                (current standard-object) &rest initargs)
  (let ((old (%class-of-object previous)) (added nil))
    (dolist (s (%class-effective-slots (%class-of-object current)))
      (when (eq (%sdef-allocation s) :instance)
        (let ((o (%find-slot-definition (%sdef-name s) old)))
          (unless (and o (eq (%sdef-allocation o) :instance))
            (setq added (cons (%sdef-name s) added))))))
    (apply (function shared-initialize) current (nreverse added) initargs)))

;;; ------------------------------------------------------------------
;;; Initargs

;; The keys methods of the generic functions accept for these arguments:
;; a list, or T when one of them takes any.  FUNCTIONS-AND-ARGUMENTS
;; alternates generic functions and argument lists.
(defun %method-keys (functions-and-arguments)
  (let ((keys nil))
    (do ((l functions-and-arguments (cddr l)))
        ((null l) keys)
      (dolist (m (%applicable-methods (car l) (cadr l)))
        (let ((p (%parse-lambda-list (%method-lambda-list m))))
          (when (nth 5 p) (return-from %method-keys t))
          (dolist (k (nth 4 p))
            (unless (member k keys) (setq keys (cons k keys)))))))))

(defun %slot-initargs (class)
  (let ((keys nil))
    (dolist (s (%class-effective-slots class) keys)
      (dolist (k (%sdef-initargs s)) (setq keys (cons k keys))))))

;; Initargs no slot and no method takes are errors, unless
;; :ALLOW-OTHER-KEYS is given true.
(defun %check-initargs-for (class initargs functions-and-arguments)
  (unless (getf initargs :allow-other-keys)
    (let ((method-keys (%method-keys functions-and-arguments)))
      (unless (eq method-keys t)
        (let ((slot-keys (%slot-initargs class)))
          (do ((l initargs (cddr l)))
              ((null l))
            (unless (consp (cdr l))
              (error "The initargs ~S have no value for ~S" initargs (car l)))
            (unless (or (member (car l) slot-keys) (member (car l) method-keys)
                        (eq (car l) :allow-other-keys))
              (error 4150 (car l)))))))))

;; The initargs completed with the default initargs of the classes.
(defun %defaulted-initargs (class initargs)
  (let ((out (reverse initargs)))
    (dolist (c (%class-cpl class))
      (when (> (%object-length c) 8)
        (do ((l (%instance-ref c 8) (cddr l)))
            ((null l))
          (unless (%plist-has-p initargs (car l))
            (unless (%plist-has-p (reverse out) (car l))
              (setq out (list* (eval (cadr l)) (car l) out)))))))
    (nreverse out)))

(defun %plist-has-p (plist key)
  (do ((l plist (cddr l)))
      ((null l) nil)
    (when (eq (car l) key) (return t))))

;;; ------------------------------------------------------------------
;;; MAKE-INSTANCE

;; #(epoch method-keys fast stamp): METHOD-KEYS the keys methods accept
;; beyond the slots' (T: any), FAST whether only the system's methods run.
(defvar %system-init-methods nil)

(defun %make-plan (class)
  (unless (%class-finalized-p class)
    (if (%finalizable-p class)
        (%finalize-class class)
        (error "The class ~S cannot have instances: a superclass of it is not defined yet"
               (class-name class))))
  (let* ((proto (class-prototype class))
         (inits (list (function initialize-instance) (list proto)
                      (function shared-initialize) (list proto t)))
         (keys (%method-keys inits))
         (methods (append (%applicable-methods (function initialize-instance) (list proto))
                          (%applicable-methods (function shared-initialize) (list proto t))))
         (plan (vector %plan-epoch keys
                       (and %make-instance-plain (null keys) (= (length methods) 2)
                            (every (lambda (m) (member m %system-init-methods)) methods))
                       (%class-number class))))
    (if (svref plan 2)
        (progn (%instance-set class 6 (svref plan 3))
               (setq %quick-classes (cons class %quick-classes)))
        (%instance-set class 6 plan))
    plan))

(defun %make-standard-instance (class initargs)
  (or (%make-instance-fast class initargs)
      (let* ((word (%instance-ref class 6 nil))
             (plan (if (and (simple-vector-p word) (eq (svref word 0) %plan-epoch))
                       word
                       (%make-plan class)))
             (keys (svref plan 1)))
        (setq initargs
              (cond ((and (null keys) (not (member :allow-other-keys initargs)))
                     ;; The kernel checks them against the slots and adds
                     ;; the defaults.
                     (%default-initargs class initargs))
                    (t
                     (unless (eq keys t)
                       (%check-initargs-for class initargs
                                            (list (function initialize-instance)
                                                  (list (class-prototype class))
                                                  (function shared-initialize)
                                                  (list (class-prototype class) t))))
                     (%defaulted-initargs class initargs))))
        (let ((instance (allocate-instance class (svref plan 3))))
          (if (svref plan 2)
              (apply (function %fill-slots-from-initargs) instance t initargs)
              (apply (function initialize-instance) instance initargs))
          instance))))

(defgeneric make-instance (class &rest initargs)
  (:documentation "A new instance of CLASS (a class or its name),
initialized from INITARGS."))

(defvar %standard-class-class (find-class 'standard-class))

;; True while MAKE-INSTANCE has only the two methods here: a class name
;; then goes straight to the standard class's way, and plans may send the
;; kernel's quick way.
(defvar %make-instance-plain t)

(defmethod make-instance ((class symbol) &rest initargs)
  (or (%make-instance-fast class initargs)
      (let ((c (find-class class)))
        (if (and %make-instance-plain (%typep c %standard-class-class))
            (%make-standard-instance c initargs)
            (apply (function make-instance) c initargs)))))

(defmethod make-instance ((class standard-class) &rest initargs)
  (%make-standard-instance class initargs))

(setq %system-init-methods
      (list (find-method (function initialize-instance) nil (list (find-class 'standard-object)))
            (find-method (function shared-initialize) nil
                         (list (find-class 'standard-object) (find-class t)))))

(push (lambda (gf)
        (when (eq (%gf-name gf) 'make-instance)
          (setq %make-instance-plain (= (length (%gf-methods gf)) 2)))
        (when (member (%gf-name gf) '(initialize-instance shared-initialize make-instance))
          (%invalidate-plans)))
      %gf-changed-hooks)

(push (lambda (class redefined)
        (when redefined
          (%flush-all-dispatch)
          (%invalidate-plans)))
      %class-changed-hooks)

;;; ------------------------------------------------------------------
;;; CHANGE-CLASS

(defgeneric change-class (instance new-class &rest initargs &key &allow-other-keys)
  (:documentation "Make INSTANCE an instance of NEW-CLASS, keeping the values
of the local slots both classes have."))

(defmethod change-class ((instance standard-object) (new-class symbol) &rest initargs)
  (apply (function change-class) instance (find-class new-class) initargs))

(defmethod change-class ((instance standard-object) (new-class standard-class) &rest initargs)
  (unless (%class-finalized-p new-class)
    (%make-plan new-class))
  (let* ((storage (if (%current-layout-p instance)
                      instance
                      (%update-obsolete-instance instance)))
         (old-class (%class-of-object instance))
         (previous (allocate-instance old-class (%class-number old-class)))
         (values nil))
    ;; The copy holds what the instance held.
    (dolist (s (%class-effective-slots old-class))
      (when (eq (%sdef-allocation s) :instance)
        (let ((v (%raw-slot storage (%sdef-location s))))
          (%set-raw-slot previous (%sdef-location s) v)
          (setq values (cons (cons (%sdef-name s) v) values)))))
    ;; Local slots of both classes keep their values.
    (let* ((new-names (cadr (car (%d-layouts (%description new-class)))))
           (target (if (>= (%object-length instance) (length new-names))
                       instance
                       (allocate-instance new-class (%class-number new-class)))))
      (%instance-set instance 0 new-class)
      (%fill-layout target new-class new-names values)
      (unless (eq target instance)
        (%instance-set instance 1 target)))
    (apply (function update-instance-for-different-class) previous instance initargs)
    instance))

;;; ------------------------------------------------------------------
;;; Slots by name

(defmacro with-slots (slots instance &body body)
  "Evaluate BODY with each slot name (or (variable slot-name)) standing for
the slot of INSTANCE, which SETF and SETQ can assign."
  (let ((object (make-symbol "INSTANCE")))
    (list 'let (list (list object instance))
          (list* 'symbol-macrolet
                 (mapcar (lambda (s)
                           (let ((variable (if (consp s) (car s) s))
                                 (name (if (consp s) (cadr s) s)))
                             (list variable (list 'slot-value object (list 'quote name)))))
                         slots)
                 body))))

(defmacro with-accessors (accessors instance &body body)
  "Evaluate BODY with each (variable accessor) standing for the accessor
called on INSTANCE, which SETF and SETQ can assign."
  (let ((object (make-symbol "INSTANCE")))
    (list 'let (list (list object instance))
          (list* 'symbol-macrolet
                 (mapcar (lambda (a) (list (car a) (list (cadr a) object))) accessors)
                 body))))

;;; ------------------------------------------------------------------
;;; Accessor methods

(defun %accessor-generic-function (name lambda-list)
  (let ((old (%named-function name)))
    (if (%generic-function-p old)
        old
        (ensure-generic-function name :lambda-list lambda-list))))

(defun %add-accessor-method (name class slot-name reader)
  (let* ((gf (%accessor-generic-function name (if reader '(object) '(new-value object))))
         (m (%make-method (find-class (if reader 'standard-reader-method 'standard-writer-method))
                          (if reader (list class) (list %t-class class))
                          nil
                          (if reader '(object) '(new-value object))
                          (eval (if reader
                                    (list 'function
                                          (list 'lambda '(object)
                                                (list 'slot-value 'object (list 'quote slot-name))))
                                    (list 'function
                                          (list 'lambda '(new-value object)
                                                (list '%set-slot-value 'object
                                                      (list 'quote slot-name) 'new-value)))))
                          nil nil)))
    (%instance-set m 9 slot-name)
    (add-method gf m)
    m))

;; The accessor methods DEFCLASS made: gone when the class is defined
;; again, then made anew.
(defun %define-accessors (class)
  (let ((d (%description class)))
    (dolist (m (getf (%d-plist d) :accessor-methods))
      (when (%method-gf m) (remove-method (%method-gf m) m)))
    (let ((made nil))
      (dolist (s (%d-direct-slots d))
        (dolist (r (%sdef-readers s))
          (setq made (cons (%add-accessor-method r class (%sdef-name s) t) made)))
        (dolist (w (%sdef-writers s))
          (setq made (cons (%add-accessor-method w class (%sdef-name s) nil) made))))
      (setf (getf (%d-plist d) :accessor-methods) made))))

;;; ------------------------------------------------------------------
;;; DEFCLASS

(defun %direct-slot (name initargs initform initfunction allocation type readers writers
                     documentation)
  (let ((s (%make-slot-definition name)))
    (setf (%sdef-initargs s) initargs
          (%sdef-initform s) initform
          (%sdef-initfunction s) initfunction
          (%sdef-initform-cell s) (%initform-cell initform initfunction)
          (%sdef-allocation s) allocation
          (%sdef-type s) type
          (%sdef-readers s) readers
          (%sdef-writers s) writers
          (%sdef-documentation s) documentation)
    s))

;; The form that makes the direct slot definition of a DEFCLASS slot.
(defun %slot-form (spec class-name)
  (let ((name (if (consp spec) (car spec) spec))
        (options (if (consp spec) (cdr spec) nil))
        (initargs nil) (initform nil) (initform-p nil) (allocation nil) (type nil)
        (readers nil) (writers nil) (documentation nil))
    (unless (and name (symbolp name) (not (keywordp name)) (not (constantp name)))
      (error "~S is not a slot name (in the class ~S)" name class-name))
    (do ((o options (cddr o)))
        ((null o))
      (unless (consp (cdr o))
        (error "The slot option ~S of ~S has no value" (car o) name))
      (let ((value (cadr o)))
        (case (car o)
          (:initarg (setq initargs (append initargs (list value))))
          (:initform
           (when initform-p (error "The slot ~S has two :INITFORM options" name))
           (setq initform value initform-p t))
          (:reader (setq readers (append readers (list value))))
          (:writer (setq writers (append writers (list value))))
          (:accessor (setq readers (append readers (list value))
                           writers (append writers (list (list 'setf value)))))
          (:allocation
           (when allocation (error "The slot ~S has two :ALLOCATION options" name))
           (unless (member value '(:instance :class))
             (error "~S is not an allocation of the slot ~S" value name))
           (setq allocation value))
          (:type
           (when type (error "The slot ~S has two :TYPE options" name))
           (setq type value))
          (:documentation
           (when documentation (error "The slot ~S has two :DOCUMENTATION options" name))
           (setq documentation value))
          (t (error "~S is not a slot option (slot ~S of ~S)" (car o) name class-name)))))
    (dolist (f (append readers writers))
      (unless (%function-name-p f)
        (error "~S is not a function name (slot ~S of ~S)" f name class-name)))
    (list '%direct-slot (list 'quote name) (list 'quote initargs) (list 'quote initform)
          (if initform-p (list 'function (list 'lambda nil initform)) nil)
          (list 'quote (or allocation :instance)) (list 'quote (or type t))
          (list 'quote readers) (list 'quote writers) documentation)))

(defmacro defclass (name superclasses slots &rest options)
  "Define the class NAME on SUPERCLASSES with SLOTS (each a name or (name
option...): :initarg, :initform, :reader, :writer, :accessor, :allocation,
:type, :documentation) and the class options :default-initargs,
:documentation and :metaclass.  Redefining a class updates its existing
instances when they are next touched."
  (unless (and name (symbolp name))
    (error "~S is not a class name" name))
  (unless (listp superclasses)
    (error "The superclasses of ~S are not a list: ~S" name superclasses))
  (let ((metaclass nil) (documentation nil) (defaults nil) (defaults-p nil) (names nil))
    (dolist (s slots)
      (let ((n (if (consp s) (car s) s)))
        (when (member n names) (error "The class ~S has two slots named ~S" name n))
        (setq names (cons n names))))
    (dolist (o options)
      (unless (consp o) (error "~S is not a class option of ~S" o name))
      (case (car o)
        (:metaclass
         (when metaclass (error "The class ~S has two :METACLASS options" name))
         (setq metaclass (cadr o)))
        (:documentation
         (when documentation (error "The class ~S has two :DOCUMENTATION options" name))
         (setq documentation (cadr o)))
        (:default-initargs
         (when defaults-p (error "The class ~S has two :DEFAULT-INITARGS options" name))
         (setq defaults-p t)
         (do ((l (cdr o) (cddr l)))
             ((null l))
           (unless (consp (cdr l))
             (error "The default initarg ~S of ~S has no value" (car l) name))
           (setq defaults (cons (list 'list (list 'quote (car l)) (list 'quote (cadr l))
                                      (list 'function (list 'lambda nil (cadr l))))
                                defaults))))
        (t (error "~S is not a class option of ~S" (car o) name))))
    (list '%defclass (list 'quote name) (list 'quote superclasses)
          (cons 'list (mapcar (lambda (s) (%slot-form s name)) slots))
          (cons 'list (nreverse defaults))
          (list 'quote (or metaclass 'standard-class))
          documentation)))

(defun %defclass (name superclasses slots defaults metaclass documentation)
  (let ((class (%ensure-class name :metaclass metaclass :direct-superclasses superclasses
                                   :direct-slots slots :direct-default-initargs defaults
                                   :documentation documentation)))
    (%define-accessors class)
    (when documentation (%doc-store name 'type documentation))
    class))

;;; ------------------------------------------------------------------
;;; Load forms

(defgeneric make-load-form (object &optional environment)
  (:documentation "Forms that make OBJECT again where a file is loaded: a
creation form and an initialization form."))

(defmethod make-load-form ((object t) &optional environment)
  (error "~S has no load form: MAKE-LOAD-FORM has no method for it" object))

(defun make-load-form-saving-slots (object &key slot-names environment)
  "Two forms that make an object of OBJECT's class and give the slots
named (all bound ones, by default) the values they have now."
  (let ((class (class-of object)) (settings nil))
    (dolist (s (class-slots class))
      (let ((name (slot-definition-name s)))
        (when (and (or (null slot-names) (member name slot-names)) (slot-boundp object name))
          (setq settings (cons (list 'setf (list 'slot-value object (list 'quote name))
                                     (list 'quote (slot-value object name)))
                               settings)))))
    (values (list 'allocate-instance (list 'find-class (list 'quote (class-name class))))
            (cons 'progn (nreverse settings)))))
