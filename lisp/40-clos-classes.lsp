;;;; The object system, part 1: classes.
;;;;
;;;; Classes are the kernel's class objects.  Besides the words the kernel
;;;; reads (0 metaclass, 1 name, 2 precedence list, 3 instance size and
;;;; flags, 4 number, 6 MAKE-INSTANCE's quick stamp, 7 effective slots,
;;;; 8 default initargs) a class made here uses word 5 for its description
;;;; vector and word 6 for the plan MAKE-INSTANCE follows
;;;; (42-clos-instances.lsp).  The built-in classes
;;;; have only words 0-3; their descriptions hang on their names.
;;;;
;;;; An instance of a standard class holds in word 1 the stamp of the
;;;; layout it was made with, the number its class had then; its slots
;;;; start at location 2.  An instance of a funcallable class (a generic
;;;; function) holds what a call of it runs in word 2, its slots start at
;;;; 3.  Class objects keep words 0-9 for themselves; the slots a metaclass
;;;; adds start at 10.  Redefining a class gives it a new number, so the
;;;; kernel hands every instance with an older stamp to
;;;; %UPDATE-OBSOLETE-INSTANCE before touching its slots.
;;;;
;;;; Slot definitions are simple vectors, as the kernel wants them:
;;;;   0 name, 1 location (NIL in a direct definition), 2 NIL or the object
;;;;   whose word 1 holds a shared slot's value, 3 initargs, 4 NIL or
;;;;   (initform-form), 5 type the kernel checks (NIL: none), 6 allocation,
;;;;   7 initform as written, 8 initfunction, 9 readers, 10 writers,
;;;;   11 documentation, 12 type as written.
;;;; The same vectors describe direct and effective slots.

;;; ------------------------------------------------------------------
;;; Words

(defmacro %class-metaclass (c) (list '%instance-ref c 0))
(defmacro %class-cpl (c) (list '%instance-ref c 2))
(defmacro %class-number (c) (list '%instance-ref c 4))
(defmacro %class-effective-slots (c) (list '%instance-ref c 7))

;; The instance size and the flags of word 3.
(defconstant %funcallable-flag 65536)
(defconstant %stamped-flag 131072)

(defvar %class-class nil)              ; CLASS
(defvar %funcallable-object-class nil) ; FUNCALLABLE-STANDARD-OBJECT
(defvar %standard-object-class nil)    ; STANDARD-OBJECT

(defun %class-object-p (x)
  (and (%standard-object-p x) (%typep x %class-class)))

;;; ------------------------------------------------------------------
;;; Descriptions
;;;
;;; #(direct-superclasses direct-subclasses direct-slots
;;;   direct-default-initargs documentation layouts prototype plist)
;;; direct-default-initargs: ((initarg form function) ...).
;;; layouts: ((stamp names shared) ...), the instance layouts the class
;;; has had: names a vector of slot names by location, shared an alist of
;;; shared slot names and the objects holding their values.

(defun %make-description () (make-array 8 :initial-element nil))

(defun %description (c)
  (if (> (%object-length c) 5)
      (let ((d (%instance-ref c 5 nil)))
        (if (simple-vector-p d)
            d
            (%instance-set c 5 (%default-description c))))
      (let ((name (class-name c)))
        (or (get name '%class-description)
            (%putprop name '%class-description (%default-description c))))))

;; A class the object system did not make (the kernel's built-in classes,
;; structures): its direct superclass is the next in its precedence list.
(defun %default-description (c)
  (let ((d (%make-description))
        (cpl (%class-cpl c)))
    (setf (svref d 0) (if (consp (cdr cpl)) (list (cadr cpl)) nil))
    d))

(defmacro %d-direct-superclasses (d) (list 'svref d 0))
(defmacro %d-direct-subclasses (d) (list 'svref d 1))
(defmacro %d-direct-slots (d) (list 'svref d 2))
(defmacro %d-default-initargs (d) (list 'svref d 3))
(defmacro %d-documentation (d) (list 'svref d 4))
(defmacro %d-layouts (d) (list 'svref d 5))
(defmacro %d-prototype (d) (list 'svref d 6))
(defmacro %d-plist (d) (list 'svref d 7))

;;; ------------------------------------------------------------------
;;; Slot definitions

(defun %make-slot-definition (name)
  (let ((s (make-array 13 :initial-element nil)))
    (setf (svref s 0) name (svref s 6) :instance (svref s 12) t)
    s))

(defmacro %sdef-name (s) (list 'svref s 0))
(defmacro %sdef-location (s) (list 'svref s 1))
(defmacro %sdef-storage (s) (list 'svref s 2))
(defmacro %sdef-initargs (s) (list 'svref s 3))
(defmacro %sdef-initform-cell (s) (list 'svref s 4))
(defmacro %sdef-checked-type (s) (list 'svref s 5))
(defmacro %sdef-allocation (s) (list 'svref s 6))
(defmacro %sdef-initform (s) (list 'svref s 7))
(defmacro %sdef-initfunction (s) (list 'svref s 8))
(defmacro %sdef-readers (s) (list 'svref s 9))
(defmacro %sdef-writers (s) (list 'svref s 10))
(defmacro %sdef-documentation (s) (list 'svref s 11))
(defmacro %sdef-type (s) (list 'svref s 12))

;; Structure slots are #(name location NIL initargs initform type
;; read-only): shorter, with the initform as written in word 4.
(defun %clos-slot-p (s) (= (length s) 13))

(defun slot-definition-name (slot) (svref slot 0))
(defun slot-definition-location (slot) (svref slot 1))
(defun slot-definition-initargs (slot) (svref slot 3))
(defun slot-definition-initform (slot)
  (if (%clos-slot-p slot) (%sdef-initform slot) (svref slot 4)))
(defun slot-definition-initfunction (slot)
  (if (%clos-slot-p slot)
      (%sdef-initfunction slot)
      (let ((form (svref slot 4))) (lambda () (eval form)))))
(defun slot-definition-allocation (slot)
  (if (%clos-slot-p slot) (%sdef-allocation slot) :instance))
(defun slot-definition-type (slot)
  (if (%clos-slot-p slot) (%sdef-type slot) (or (svref slot 5) t)))
(defun slot-definition-readers (slot) (and (%clos-slot-p slot) (%sdef-readers slot)))
(defun slot-definition-writers (slot) (and (%clos-slot-p slot) (%sdef-writers slot)))
(defun slot-definition-documentation (slot) (and (%clos-slot-p slot) (%sdef-documentation slot)))

;; A slot's initial form for the kernel, which evaluates it in no lexical
;; environment: a constant as it stands, anything else as a call of the
;; function DEFCLASS made of it where it stood.
(defun %initform-cell (initform initfunction)
  (cond ((null initfunction) nil)
        ((or (and (atom initform) (or (not (symbolp initform)) (constantp initform)))
             (and (consp initform) (eq (car initform) 'quote)))
         (list initform))
        (t (list (list 'funcall (list 'quote initfunction))))))

;;; ------------------------------------------------------------------
;;; Class precedence lists
;;;
;;; Every class comes after its own direct subclasses and in the order of
;;; its direct superclasses; among the classes free to come next, the one
;;; with a direct subclass nearest the end of the list so far is taken.

(defun %all-superclasses (class)
  (let ((seen (list class)) (todo (list class)))
    (loop
      (when (null todo) (return (nreverse seen)))
      (let ((c (car todo)))
        (setq todo (cdr todo))
        (dolist (s (%d-direct-superclasses (%description c)))
          (unless (member s seen)
            (setq seen (cons s seen) todo (append todo (list s)))))))))

(defun %compute-class-precedence-list (class)
  (let* ((classes (%all-superclasses class))
         (pairs nil)
         (result nil))
    ;; Each class precedes its first direct superclass, which precedes the
    ;; second, and so on.
    (dolist (c classes)
      (let ((prev c))
        (dolist (s (%d-direct-superclasses (%description c)))
          (setq pairs (cons (cons prev s) pairs) prev s))))
    (loop
      (when (null classes) (return (nreverse result)))
      (let ((free (remove-if (lambda (c)
                               (dolist (p pairs nil)
                                 (when (and (eq (cdr p) c) (member (car p) classes))
                                   (return t))))
                             classes)))
        (when (null free)
          (error "The classes ~S have no precedence order consistent with their definitions; ~S cannot be built on them"
                 (mapcar (function class-name) classes) (class-name class)))
        (let ((next (if (null (cdr free))
                        (car free)
                        ;; The tie-break: the free class that is a direct
                        ;; superclass of the rightmost class taken so far.
                        (dolist (c result (car free))
                          (let ((hit (dolist (f free nil)
                                       (when (member f (%d-direct-superclasses (%description c)))
                                         (return f)))))
                            (when hit (return hit)))))))
          (setq result (cons next result)
                classes (remove next classes)))))))

;;; ------------------------------------------------------------------
;;; The kinds of instances a class has

;; Where the slots of an instance start: after the words the kernel and
;; this system keep.
(defun %slot-base (cpl)
  (cond ((member %class-class cpl) 10)
        ((member %funcallable-object-class cpl) 3)
        (t 2)))

;;; ------------------------------------------------------------------
;;; Effective slots

(defun %effective-slot (name directs base)
  ;; DIRECTS: the direct definitions of NAME, most specific first.
  (let ((s (%make-slot-definition name))
        (first (car directs)))
    (setf (%sdef-allocation s) (%sdef-allocation first)
          (%sdef-documentation s) (dolist (d directs nil)
                                  (when (%sdef-documentation d) (return (%sdef-documentation d)))))
    (let ((initargs nil))
      (dolist (d directs)
        (dolist (i (%sdef-initargs d))
          (unless (member i initargs) (setq initargs (cons i initargs)))))
      (setf (%sdef-initargs s) (nreverse initargs)))
    (dolist (d directs)
      (when (%sdef-initfunction d)
        (setf (%sdef-initform s) (%sdef-initform d)
              (%sdef-initfunction s) (%sdef-initfunction d)
              (%sdef-initform-cell s) (%sdef-initform-cell d))
        (return nil)))
    (let ((types (remove t (mapcar (lambda (d) (%sdef-type d)) directs))))
      (setf (%sdef-type s) (cond ((null types) t)
                               ((null (cdr types)) (car types))
                               (t (cons 'and types)))))
    (setf (%sdef-checked-type s) (%checkable-type (%sdef-type s)))
    (when (eq (%sdef-allocation s) :class)
      ;; The class that defines the shared slot holds its value.
      (setf (%sdef-storage s) (%sdef-storage (dolist (d directs first)
                                            (when (eq (%sdef-allocation d) :class) (return d))))
            (%sdef-location s) 1))
    s))

;; The type the kernel tests a slot's initarg against: a type it can
;; test now, put in the kernel's forms, or NIL.
(defun %checkable-type (type)
  (cond ((eq type t) nil)
        ((nth-value 1 (%catch-error (typep nil type))) nil)
        ((consp type) (%canonical-type type))
        (t type)))

(defun %compute-slots (class cpl base)
  (let ((names nil))
    (dolist (c (reverse cpl))
      (dolist (d (%d-direct-slots (%description c)))
        (unless (member (%sdef-name d) names)
          (setq names (cons (%sdef-name d) names)))))
    (let ((location base) (slots nil))
      (dolist (name (nreverse names))
        (let ((directs nil))
          (dolist (c cpl)
            (dolist (d (%d-direct-slots (%description c)))
              (when (eq (%sdef-name d) name) (setq directs (cons d directs)))))
          (let ((s (%effective-slot name (nreverse directs) base)))
            (when (eq (%sdef-allocation s) :instance)
              (setf (%sdef-location s) location)
              (setq location (+ location 1)))
            (setq slots (cons s slots)))))
      (values (nreverse slots) location))))

;; The layout of the instances: the names of the local slots by location,
;; and the shared slots with the objects holding their values.
(defun %layout-names (slots size)
  (let ((v (make-array size :initial-element nil)))
    (dolist (s slots v)
      (when (eq (%sdef-allocation s) :instance)
        (setf (svref v (%sdef-location s)) (%sdef-name s))))))

(defun %layout-shared (slots)
  (let ((shared nil))
    (dolist (s slots (nreverse shared))
      (unless (eq (%sdef-allocation s) :instance)
        (setq shared (cons (cons (%sdef-name s) (%sdef-storage s)) shared))))))

;;; ------------------------------------------------------------------
;;; Finalizing
;;;
;;; A class is finalized when every superclass is: its precedence list,
;;; slots, size and number are computed.  A class whose superclasses are
;;; not all defined yet waits (its precedence list stays NIL) and is
;;; finalized when the last of them is defined.

(defun %forward-referenced-p (c)
  (eq (%class-metaclass c) (find-class 'forward-referenced-class nil)))

(defun %finalizable-p (c)
  (and (not (%forward-referenced-p c))
       (dolist (s (%d-direct-superclasses (%description c)) t)
         (unless (and (%class-finalized-p s) (not (%forward-referenced-p s)))
           (return nil)))))

(defun %finalize-class (class)
  (let* ((cpl (%compute-class-precedence-list class))
         (base (%slot-base cpl))
         (d (%description class))
         (old-layout (car (%d-layouts d))))
    (multiple-value-bind (slots size) (%compute-slots class cpl base)
      (let* ((names (%layout-names slots size))
             (shared (%layout-shared slots))
             (flags (cond ((= base 10) 0)
                          ((= base 3) (+ %funcallable-flag %stamped-flag))
                          (t %stamped-flag)))
             (changed (and old-layout
                           (not (and (equalp (cadr old-layout) names)
                                     (equal (mapcar (function car) (caddr old-layout))
                                            (mapcar (function car) shared)))))))
        (%instance-set class 2 cpl)
        (%instance-set class 7 slots)
        (%instance-set class 3 (+ size flags))
        (%instance-set class 6 nil)
        (when (or (null old-layout) changed)
          (let ((number (%new-class-number)))
            (%instance-set class 4 number)
            (setf (%d-layouts d) (cons (list number names shared) (%d-layouts d)))))
        class))))

;; Finalize the class if it can be, then the subclasses that waited for it.
(defun %update-class (class)
  (when (%finalizable-p class)
    (%finalize-class class)
    (dolist (sub (%d-direct-subclasses (%description class)))
      (%update-class sub))))

;;; ------------------------------------------------------------------
;;; Making and changing classes

;; Functions of (class redefined-p) called when DEFCLASS has made or
;; changed a class.
(defvar %class-changed-hooks nil)

;; The class object of a new class of METACLASS named NAME, not finalized.
(defun %allocate-class (metaclass name)
  (let ((c (allocate-instance metaclass)))
    (dotimes (i 9) (%instance-set c (+ i 1) nil))
    (%instance-set c 1 name)
    (%instance-set c 3 0)
    (%instance-set c 4 (%new-class-number))
    (%instance-set c 5 (%make-description))
    (%make-into-class c)
    ;; The slots a metaclass of the program's adds, from 10 on.
    (when (> (%object-length c) 10)
      (%fill-slots-from-initargs c t))
    c))

(defun %set-direct-superclasses (class supers)
  (let ((d (%description class)))
    (dolist (old (%d-direct-superclasses d))
      (let ((od (%description old)))
        (setf (%d-direct-subclasses od) (remove class (%d-direct-subclasses od)))))
    (setf (%d-direct-superclasses d) supers)
    (dolist (s supers)
      (let ((sd (%description s)))
        (unless (member class (%d-direct-subclasses sd))
          (setf (%d-direct-subclasses sd) (append (%d-direct-subclasses sd) (list class))))))))

;; A class named by a superclass list that is not defined yet.
(defun %forward-class (name)
  (or (find-class name nil)
      (let ((c (%allocate-class (find-class 'forward-referenced-class) name)))
        (%set-find-class name c)
        c)))

(defun %superclass (s)
  (cond ((symbolp s) (%forward-class s))
        ((%class-object-p s) s)
        (t (error "~S is neither a class nor the name of one" s))))

;; A class that DEFCLASS may not change: built-in classes and structures,
;; and the classes the kernel knows by place.
(defun %fixed-class-p (c)
  (or (eq (%class-metaclass c) (find-class 'built-in-class))
      (eq (%class-metaclass c) (find-class 'structure-class))))

;; DIRECT-SLOTS: slot definitions as DEFCLASS canonicalizes them;
;; DEFAULT-INITARGS: ((initarg form function) ...).
(defun %ensure-class (name &key (metaclass (find-class 'standard-class))
                                direct-superclasses direct-slots
                                direct-default-initargs documentation)
  (when (and name (member name direct-superclasses))
    (error "The class ~S cannot be its own superclass" name))
  (let* ((metaclass (if (symbolp metaclass) (find-class metaclass) metaclass))
         (old (and name (find-class name nil)))
         (supers (mapcar (function %superclass) direct-superclasses)))
    (when (and old (%fixed-class-p old))
      (error "~S names a ~(~A~) that cannot be redefined as a class"
             name (class-name (%class-metaclass old))))
    (when (member old supers)
      (error "The class ~S cannot be its own superclass" name))
    (let ((redefined (and old (not (%forward-referenced-p old))))
          (class (cond ((null old) (%allocate-class metaclass name))
                       ((%forward-referenced-p old)
                        (%instance-set old 0 metaclass)
                        old)
                       (t old))))
      (when (and redefined (not (eq (%class-metaclass old) metaclass)))
        (error "The class ~S cannot change its metaclass from ~S to ~S"
               name (class-name (%class-metaclass old)) (class-name metaclass)))
      (%define-class-body class name metaclass supers direct-slots direct-default-initargs
                          documentation redefined (and old (not redefined)))
      (dolist (hook %class-changed-hooks) (funcall hook class redefined))
      class)))

;; A definition that cannot be finalized (its precedence order is
;; inconsistent) leaves the class as it was: a new class is forgotten, a
;; redefined one keeps its old definition.
(defun %define-class-body (class name metaclass supers direct-slots direct-default-initargs
                           documentation redefined forward)
  (let* ((d (%description class))
         (saved (list (%d-direct-superclasses d) (%d-direct-slots d) (%d-default-initargs d)
                      (%d-documentation d) (%instance-ref class 8))))
    (%install-definition class name metaclass supers direct-slots direct-default-initargs
                         documentation)
    (multiple-value-bind (value failure) (%catch-error (%update-class class))
      (when failure
        (cond (redefined
               (%set-direct-superclasses class (car saved))
               (setf (%d-direct-slots d) (cadr saved)
                     (%d-default-initargs d) (caddr saved)
                     (%d-documentation d) (nth 3 saved))
               (%instance-set class 8 (nth 4 saved))
               (%update-class class))
              (t
               (%set-direct-superclasses class nil)
               (if forward
                   (%instance-set class 0 (find-class 'forward-referenced-class))
                   (%set-find-class name nil))))
        (apply (function error) (cddr failure))))))

(defun %install-definition (class name metaclass supers direct-slots direct-default-initargs
                            documentation)
  (%set-direct-superclasses
   class (or supers
             (list (if (%subclass-of-p metaclass (find-class 'funcallable-standard-class nil))
                       %funcallable-object-class
                       %standard-object-class))))
  (let ((d (%description class)))
    ;; A shared slot keeps the object holding its value through a redefinition.
    (dolist (s direct-slots)
      (when (eq (%sdef-allocation s) :class)
        (let ((previous (dolist (p (%d-direct-slots d) nil)
                          (when (and (eq (%sdef-name p) (%sdef-name s))
                                     (eq (%sdef-allocation p) :class))
                            (return p)))))
          (setf (%sdef-storage s)
                (if previous
                    (%sdef-storage previous)
                    (let ((cell (%unbound-cell)))
                      (when (%sdef-initfunction s)
                        (%instance-set cell 1 (funcall (%sdef-initfunction s))))
                      cell))))))
    (setf (%d-direct-slots d) direct-slots
          (%d-default-initargs d) direct-default-initargs
          (%d-documentation d) documentation)
    (%instance-set class 8 (%kernel-default-initargs direct-default-initargs)))
  (when (and name (not (eq (find-class name nil) class)))
    (%set-find-class name class)))

;; Default initargs as the kernel reads them: initarg, form, ...
(defun %kernel-default-initargs (specs)
  (let ((out nil))
    (dolist (s specs (nreverse out))
      (setq out (list* (car (%initform-cell (cadr s) (caddr s))) (car s) out)))))

;; The holder of a shared slot's value: an instance of a class of size 2
;; whose word 1 is the value, unbound at first.
(defvar %unbound-cell-class nil)

(defun %unbound-cell ()
  (allocate-instance %unbound-cell-class))

(defun %subclass-of-p (c1 c2)
  (and c2 (%class-finalized-p c1) (member c2 (%class-cpl c1)) t))

;;; ------------------------------------------------------------------
;;; The classes of the object system
;;;
;;; The kernel's classes get descriptions; the rest are made here without
;;; DEFCLASS, which needs generic functions.

(defun %adopt-class (name)
  (let ((c (find-class name)))
    (when (> (%object-length c) 5)
      (%instance-set c 4 (%new-class-number))
      (%instance-set c 5 (%make-description))
      (%instance-set c 6 nil))
    c))

;; Direct superclasses of the kernel's classes, and of the built-in classes
;; the type file made.
(defparameter %kernel-class-supers
  '((t) (standard-object t) (class standard-object)
    (standard-class class) (structure-class class) (built-in-class class)
    (structure-object t)
    (character t) (number t) (integer rational) (float number) (complex number)
    (sequence t) (list sequence) (cons list) (null symbol list) (symbol t)
    (array t) (vector array sequence) (string vector) (function t)
    (directory-entry structure-object)
    (keyword symbol) (fixnum integer) (bignum integer) (rational number)
    (double-float float) (single-float float) (short-float float) (long-float float)
    (base-char character) (string-char character) (simple-string string)
    (base-string string) (simple-base-string simple-string) (simple-array array)
    (hash-table t) (stream t) (pathname t) (compiled-function function)))

(dolist (spec %kernel-class-supers)
  (%adopt-class (car spec)))

(dolist (spec %kernel-class-supers)
  (%set-direct-superclasses (find-class (car spec)) (mapcar (function find-class) (cdr spec))))

;; Integers are rationals: methods on RATIONAL apply to them.
(%instance-set (find-class 'integer) 2
               (mapcar (function find-class) '(integer rational number t)))

(setq %class-class (find-class 'class))
(setq %standard-object-class (find-class 'standard-object))

;; The standard object's own layout: no slots, stamped.
(%instance-set %standard-object-class 3 (+ 2 %stamped-flag))
(setf (%d-layouts (%description %standard-object-class))
      (list (list (%class-number %standard-object-class) (make-array 2 :initial-element nil) nil)))

;; Classes of the object system itself, in the order they build on each
;; other.  SLOTS are (name) lists; these classes are never redefined.
(defun %boot-class (name metaclass supers slots)
  (%ensure-class name :metaclass metaclass :direct-superclasses supers
                      :direct-slots (mapcar (function %make-slot-definition) slots)))

(%boot-class 'forward-referenced-class 'standard-class '(class) nil)
(%boot-class 'funcallable-standard-class 'standard-class '(standard-class) nil)
(%boot-class 'funcallable-standard-object 'standard-class '(standard-object function) nil)
(setq %funcallable-object-class (find-class 'funcallable-standard-object))
;; FUNCALLABLE-STANDARD-OBJECT was made before its instances were known to
;; be callable.
(%update-class %funcallable-object-class)
(%boot-class '%unbound-cell 'standard-class '(standard-object) nil)
(%instance-set (find-class '%unbound-cell) 3 2)
(setq %unbound-cell-class (find-class '%unbound-cell))

(%boot-class 'metaobject 'standard-class '(standard-object) nil)
(%boot-class 'generic-function 'funcallable-standard-class
             '(metaobject funcallable-standard-object) nil)
;; The words of a generic function, in this order (41-clos-generic.lsp
;; reads them by location, from 3).
(%boot-class 'standard-generic-function 'funcallable-standard-class '(generic-function)
             '(name lambda-list methods method-combination argument-precedence-order
               documentation method-class miss-function required-count fixed-arity
               declarations initial-methods plist))
(%boot-class 'method 'standard-class '(metaobject) nil)
;; The words of a method, from 2.
(%boot-class 'standard-method 'standard-class '(method)
             '(generic-function specializers qualifiers lambda-list function
               next-method-p documentation slot-name plist))
(%boot-class 'standard-accessor-method 'standard-class '(standard-method) nil)
(%boot-class 'standard-reader-method 'standard-class '(standard-accessor-method) nil)
(%boot-class 'standard-writer-method 'standard-class '(standard-accessor-method) nil)
(%boot-class 'method-combination 'standard-class '(metaobject) nil)

;;; ------------------------------------------------------------------
;;; What programs ask of classes

(defun class-precedence-list (class)
  "The classes CLASS inherits from, CLASS first and T last."
  (%class-cpl class))

(defun class-direct-superclasses (class)
  "The classes CLASS was defined on, in order."
  (copy-list (%d-direct-superclasses (%description class))))

(defun class-direct-subclasses (class)
  "The classes defined directly on CLASS."
  (copy-list (%d-direct-subclasses (%description class))))

(defun class-slots (class)
  "The effective slot definitions of CLASS."
  (if (> (%object-length class) 7) (copy-list (%class-effective-slots class)) nil))

(defun class-direct-slots (class)
  "The slot definitions the definition of CLASS gave."
  (copy-list (%d-direct-slots (%description class))))

(defun class-direct-default-initargs (class)
  "The default initargs the definition of CLASS gave: (initarg form function) lists."
  (copy-list (%d-default-initargs (%description class))))

(defun class-default-initargs (class)
  "The default initargs of CLASS and its superclasses, the nearest first."
  (let ((out nil))
    (dolist (c (%class-cpl class) (nreverse out))
      (dolist (spec (%d-default-initargs (%description c)))
        (unless (assoc (car spec) out) (setq out (cons spec out)))))))

(defun class-finalized-p (class)
  "True when the precedence list and slots of CLASS are known."
  (%class-finalized-p class))

(defun finalize-inheritance (class)
  "Compute the precedence list and slots of CLASS, which must be defined
on classes that are."
  (unless (%finalizable-p class)
    (error "The class ~S cannot be finalized: a superclass of it is not defined yet"
           (class-name class)))
  (%finalize-class class))

(defun class-prototype (class)
  "An instance of CLASS whose slots need not be set."
  (let ((d (%description class)))
    (or (%d-prototype d)
        (setf (%d-prototype d) (%allocate-standard-instance class)))))

;; An instance of a finalized standard class with every slot unbound.
(defun %allocate-standard-instance (class)
  (if (logtest (%instance-ref class 3) %stamped-flag)
      (allocate-instance class (%class-number class))
      (allocate-instance class)))

(defun %set-class-name-and-table (new-name class)
  (%set-class-name class new-name)
  new-name)

(define-setf-expander class-name (class)
  (%simple-place 'class-name (list class)
                 (lambda (c new-name) (list '%set-class-name-and-table new-name c))))

(defun %setf-find-class (new-class name &optional errorp environment)
  (cond ((null new-class) (%set-find-class name nil))
        ((%class-object-p new-class) (%set-find-class name new-class))
        (t (error "~S is not a class" new-class)))
  new-class)

(define-setf-expander find-class (name &optional errorp environment)
  (%simple-place 'find-class (list name)
                 (lambda (n new-class) (list '%setf-find-class new-class n))))
