;;; Classes from the kernel's primitives alone: a class object made from an
;;; instance of STANDARD-CLASS, its slot definitions, instances, slot access
;;; by name and by location, initargs, and the protocols for missing and
;;; unbound slots.

;; Every Value has a class; a fixnum and a big integer share theirs.
(list (class-name (class-of 5)) (class-name (class-of 8388608)) (class-name (class-of nil))
      (class-name (class-of '(1))) (class-name (class-of "s")) (class-name (class-of 'a))
      (class-name (class-of (symbol-function 'car))) (class-name (class-of (symbol-function 'if))))
=> (INTEGER INTEGER NULL CONS STRING SYMBOL FUNCTION T)

(eq (class-of (class-of 5)) (find-class 'built-in-class))
=> T

;; POINT: an instance of STANDARD-CLASS whose words are filled by location
;; (1 name, 2 precedence list, 3 instance size, 7 slot definitions, 8 default
;; initargs), then made into a class and registered under its name.
(defvar *point* (allocate-instance (find-class 'standard-class)))

(%object-length *point*)
=> 10

(progn
  (%set-slot-value *point* 1 'point)
  (%set-slot-value *point* 2 (list *point* (find-class 'standard-object) (find-class 't)))
  (%set-slot-value *point* 3 3)
  (%set-slot-value *point* 7 (list (vector 'x 1 nil '(:x) nil 'integer)
                                   (vector 'y 2 nil '(:y) '((+ 40 2)))))
  (%set-slot-value *point* 8 '(:y (* 2 5)))
  (list (eq (%make-into-class *point*) *point*) (eq (%set-find-class 'point *point*) *point*)
        (%class-finalized-p *point*)))
=> (T T T)

(list (eq (find-class 'point) *point*) (class-name *point*) (%standard-object-p *point*))
=> (T POINT T)

(defvar *p* (allocate-instance (find-class 'point) 1))

(list (slot-value *p* 'x) (slot-value *p* 1) (slot-boundp *p* 'x) (slot-boundp *p* 'y)
      (slot-exists-p *p* 'y) (slot-exists-p *p* 'z) (slot-exists-p 5 'x) (%object-length *p*))
=> (1 1 T NIL T NIL NIL 3)

(list (%set-slot-value *p* 'y 'why) (slot-value *p* 2) (%set-slot-value *p* 2 'two)
      (slot-value *p* 'y))
=> (WHY WHY TWO TWO)

(list (type-of *p*) (typep *p* 'point) (typep *p* 'standard-object) (typep 5 'point)
      (eq (class-of *p*) *point*))
=> (POINT T T NIL T)

;; Instances of one class are EQUAL when their slots are.
(list (equal (allocate-instance *point* 1 '(2)) (allocate-instance *point* 1 '(2)))
      (equal (allocate-instance *point* 1 2) (allocate-instance *point* 1 3)))
=> (T NIL)

;; Without SLOT-UNBOUND and SLOT-MISSING, reading an unbound or missing slot
;; is the undefined-function error naming them.
(progn (fmakunbound 'slot-unbound) (fmakunbound 'slot-missing) (eq (slot-makunbound *p* 'y) *p*))
=> T

(slot-value *p* 'y)
!! 5169 SLOT-UNBOUND

(slot-value *p* 'z)
!! 5169 SLOT-MISSING

(defun slot-unbound (class object name)
  (list 'unbound (class-name class) name))

(defun slot-missing (class object name operation &optional new-value)
  (list 'missing (class-name class) name operation new-value))

(list (slot-value *p* 'y) (slot-value *p* 2) (slot-value *p* 'z))
=> ((UNBOUND POINT Y) (UNBOUND POINT 2) (MISSING POINT Z SLOT-VALUE NIL))

;; Location 0 is the class, never a slot.
(list (slot-value *p* 0) (slot-value *p* 3) (slot-value 'a 'x))
=> ((MISSING POINT 0 SLOT-VALUE NIL) (MISSING POINT 3 SLOT-VALUE NIL) (MISSING SYMBOL X SLOT-VALUE NIL))

(list (%set-slot-value *p* 'z 5) (slot-boundp *p* 'z) (eq (slot-makunbound *p* 'z) *p*))
=> (5 T T)

;; Initialisation arguments: checked against the slots, completed with the
;; defaults, and stored by the initarg each slot accepts.
(%check-initargs *point* '(:x 1 :y 2))
=> (:X 1 :Y 2)

(%default-initargs *point* '(:x 1))
=> (:X 1 :Y 10)

(let ((p (allocate-instance *point*)))
  (%fill-slots-from-initargs p t :x 4)
  (list (slot-value p 'x) (slot-value p 'y)))
=> (4 42)

(let ((p (allocate-instance *point*)))
  (%fill-slots-from-initargs p nil :y 5 :x 6 :y 7)
  (list (slot-value p 'x) (slot-value p 'y)))
=> (6 5)

;; A structure class takes its size from the values given; the genesis's
;; DIRECTORY-ENTRY has named slots at locations 1 to 6.
(let ((e (allocate-instance (find-class 'directory-entry) "a.lsp" 32 100 1 2 3)))
  (list (%object-length e) (slot-value e 'name) (slot-value e 'size) (slot-value e 6)))
=> (7 "a.lsp" 100 3)

;; Refusals.
(allocate-instance (find-class 'cons))
!! 5200

(find-class 'no-such-class)
!! 4176 NO-SUCH-CLASS

(find-class 'no-such-class nil)
=> NIL
