;;;; DEFSTRUCT, and the printing of structures and other instances.
;;;;
;;;; A structure type is a class whose metaclass is STRUCTURE-CLASS,
;;;; registered under its name in the type table, so TYPEP, TYPE-OF and
;;;; CLASS-OF know it.  An instance holds its class in word 0 and its slots
;;;; at locations 1, 2, ... in the order of the slot descriptions, the
;;;; slots of an included structure first; accessors reach a slot by its
;;;; location, never by a name lookup.  Structures of :TYPE LIST or VECTOR
;;;; are plain lists and vectors and have no class.
;;;;
;;;; The class's slot definitions (word 7) are simple vectors
;;;;   #(name location NIL initargs initform type read-only)
;;;; and the whole description of a structure is kept under the property
;;;; %STRUCTURE of its name:
;;;;   #(name class slots type named offset include conc-name
;;;;     print-function print-object size name-positions)
;;;;
;;;; Written on the kernel, 00-base and 02-places.

;; The kernel's TYPEP, which takes a class as the type: the accessors test
;; their object with it (the library's TYPEP is defined over it later).
(unless (fboundp '%typep)
  (%set-symbol-function '%typep (symbol-function 'typep)))

;;; ---------------------------------------------------------------------------
;;; Descriptions

(defun %sd-class (d) (svref d 1))
(defun %sd-slots (d) (svref d 2))
(defun %sd-type (d) (svref d 3))
(defun %sd-named (d) (svref d 4))
(defun %sd-print-function (d) (svref d 8))
(defun %sd-print-object (d) (svref d 9))
(defun %sd-size (d) (svref d 10))
(defun %sd-name-positions (d) (svref d 11))

(defun %slot-name (s) (svref s 0))
(defun %slot-location (s) (svref s 1))
(defun %slot-initform (s) (svref s 4))
(defun %slot-read-only (s) (svref s 6))

;; The description of the structure NAME, or NIL.
(defun %structure-description (name)
  (and (symbolp name) (get name '%structure)))

(defun %symbol-concat (&rest parts)
  (intern (apply (function concatenate) 'string
                 (mapcar (function (lambda (p) (if (symbolp p) (symbol-name p) p))) parts))))

(defun %keyword (symbol)
  (intern (symbol-name symbol) 'keyword))

;; A slot description, symbol or (name [initform] [:type type] [:read-only flag]),
;; as #(name location NIL (:name) initform type read-only).
(defun %parse-slot (spec location)
  (let ((name spec) (initform nil) (type t) (read-only nil))
    (when (consp spec)
      (setq name (car spec) initform (cadr spec))
      (do ((l (cddr spec) (cddr l)))
          ((null l))
        (cond ((eq (car l) :type) (setq type (cadr l)))
              ((eq (car l) :read-only) (setq read-only (cadr l)))
              (t (error 5170 (car l))))))
    (unless (and name (symbolp name))
      (error 5170 spec))
    (vector name location nil (list (%keyword name)) initform type read-only)))

;; The parent's slots as this structure includes them: copies, with the
;; overrides of the :INCLUDE option applied.
(defun %included-slots (parent overrides)
  (let ((slots (mapcar (function copy-seq) (%sd-slots parent))))
    (dolist (o overrides)
      (let* ((new (%parse-slot o 0))
             (old (dolist (s slots nil)
                    (when (eq (%slot-name s) (%slot-name new)) (return s)))))
        (unless old
          (error 5170 o))
        (when (consp o)
          (setf (svref old 4) (%slot-initform new))
          (unless (eq (svref new 5) t) (setf (svref old 5) (svref new 5)))
          (when (%slot-read-only new) (setf (svref old 6) t)))))
    slots))

;; Refuses a name that already names a type other than a structure.
(defun %check-structure-name (name)
  (unless (and name (symbolp name) (not (keywordp name)))
    (error 5170 name))
  (let ((c (find-class name nil)))
    (cond ((null c))
          ((eq (class-of c) (find-class 'structure-class)))
          ((eq (class-of c) (find-class 'built-in-class)) (error 4177 name))
          (t (%check-type-redefinition name c)))
    (cond (c)
          ((null (cadr (multiple-value-call (function list) (%catch-error (typep nil name)))))
           (error 4177 name)))))

;; Class numbers (class word 4): the object system's dispatch caches hash
;; classes by them, and a redefined class gets a new one.  Never reused.
(defvar %class-counter 0)

(defun %new-class-number ()
  (setq %class-counter (+ %class-counter 1)))

;; A class of metaclass STRUCTURE-CLASS; its precedence list starts with
;; itself.
(defun %make-structure-class (name slots parent-class)
  (let ((c (allocate-instance (find-class 'structure-class))))
    (dotimes (i 9) (%set-slot-value c (+ i 1) nil))
    (%set-slot-value c 1 name)
    (%set-slot-value c 4 (%new-class-number))
    (%set-slot-value c 2 (cons c (if parent-class
                                      (slot-value parent-class 2)
                                      (list (find-class 'structure-object) (find-class t)))))
    (%set-slot-value c 3 (+ (length slots) 1))
    (%set-slot-value c 7 slots)
    (%make-into-class c)))

(defun %same-slot-names (a b)
  (loop
    (cond ((and (null a) (null b)) (return t))
          ((or (null a) (null b) (not (eq (%slot-name (car a)) (%slot-name (car b)))))
           (return nil)))
    (setq a (cdr a) b (cdr b))))

;; Makes or updates the structure NAME.  A class redefined with the same
;; slots and parent keeps its class object, so existing instances stay
;; of the type.
(defun %define-structure (name include overrides slot-specs type named offset
                          conc-name print-function print-object)
  (%check-structure-name name)
  (let* ((parent (and include (%structure-description include)))
         (slots (and parent (%included-slots parent overrides)))
         (positions (and parent (%sd-name-positions parent)))
         (old (%structure-description name))
         (class nil)
         (i (cond ((null type) (if parent (%sd-size parent) 1))
                  (t (+ (if parent (%sd-size parent) 0) offset)))))
    (when (and include (null parent))
      (error 4176 include))
    ;; Without printing options of its own, a structure prints as its
    ;; parent does.
    (when (and parent (null print-function) (null print-object))
      (setq print-function (%sd-print-function parent)
            print-object (%sd-print-object parent)))
    (when (and parent (not (eq (%sd-type parent) type)))
      (error 5170 include))
    (when (and type named)
      (setq positions (append positions (list (cons i name))) i (+ i 1)))
    (let ((own nil))
      (dolist (spec slot-specs)
        (setq own (cons (%parse-slot spec i) own) i (+ i 1)))
      (setq slots (append slots (nreverse own))))
    (dolist (s slots)
      (when (> (%occurrences (%slot-name s) (mapcar (function %slot-name) slots)) 1)
        (error 5170 (%slot-name s))))
    (if type
        (when (find-class name nil) (%set-find-class name nil))
        (let ((old-class (and old (%sd-class old)))
              (parent-class (and parent (%sd-class parent))))
          (if (and old-class
                   (eq (find-class name nil) old-class)
                   (eq (cadr (slot-value old-class 2))
                       (or parent-class (find-class 'structure-object)))
                   (%same-slot-names slots (slot-value old-class 7)))
              (progn (%set-slot-value old-class 7 slots)
                     (setq class old-class))
              (setq class (%make-structure-class name slots parent-class)))
          (%set-find-class name class)))
    (%putprop name '%structure
              (vector name class slots type named offset include conc-name
                      print-function print-object i positions))
    name))

;;; ---------------------------------------------------------------------------
;;; The functions of a structure

;; The keyword constructor: every slot is a keyword argument whose default
;; is the slot's initform, evaluated at each call.  Its variables are
;; fresh, so an initform cannot see another slot's argument.
(defun %keyword-constructor (cname class slots)
  (let ((params nil) (values nil))
    (dolist (s slots)
      (let ((g (gensym)))
        (setq params (cons (list (list (%keyword (%slot-name s)) g)
                                 (copy-tree (%slot-initform s)))
                           params)
              values (cons g values))))
    (list 'defun cname (cons '&key (nreverse params))
          (cons 'allocate-instance (cons (list 'quote class) (nreverse values))))))

;; A BOA lambda list with the slot initforms as the defaults of optional
;; and key parameters that have none; the second value is the list of the
;; variables it binds.
(defun %boa-lambda-list (lambda-list slots)
  (let ((mode nil) (out nil) (vars nil))
    (dolist (p lambda-list)
      (cond ((member p '(&optional &rest &key &aux &allow-other-keys &body))
             (setq mode p)
             (setq out (cons p out)))
            (t
             (let* ((var (cond ((atom p) p) ((consp (car p)) (cadr (car p))) (t (car p))))
                    (slot (dolist (s slots nil) (when (eq (%slot-name s) var) (return s)))))
               (setq vars (cons var vars))
               (setq out
                     (cons (if (and slot (member mode '(&optional &key))
                                    (or (atom p) (null (cdr p))))
                               (list (if (atom p) p (car p)) (copy-tree (%slot-initform slot)))
                               p)
                           out))))))
    (values (nreverse out) vars)))

(defun %boa-constructor (cname lambda-list description)
  (let ((slots (%sd-slots description)))
    (multiple-value-bind (ll vars) (%boa-lambda-list (copy-tree lambda-list) slots)
      (list 'defun cname ll
            (%construction-form description
                                (mapcar (function (lambda (s)
                                                    (if (member (%slot-name s) vars)
                                                        (%slot-name s)
                                                        (copy-tree (%slot-initform s)))))
                                        slots))))))

;; The form that makes an instance with these slot values (forms).
(defun %construction-form (description values)
  (let ((type (%sd-type description)))
    (if (null type)
        (cons 'allocate-instance (cons (list 'quote (%sd-class description)) values))
        (let ((items nil) (slots (%sd-slots description)))
          (dotimes (i (%sd-size description))
            (let ((pos (assoc i (%sd-name-positions description))))
              (cond (pos (setq items (cons (list 'quote (cdr pos)) items)))
                    ((and slots (= (%slot-location (car slots)) i))
                     (setq items (cons (car values) items)
                           slots (cdr slots) values (cdr values)))
                    (t (setq items (cons nil items))))))
          (cons (if (eq type 'list) 'list 'vector) (nreverse items))))))

(defun %keyword-constructor-form (cname description)
  (if (null (%sd-type description))
      (%keyword-constructor cname (%sd-class description) (%sd-slots description))
      (let ((ll nil))
        (dolist (s (%sd-slots description))
          (setq ll (cons (%slot-name s) ll)))
        (%boa-constructor cname (cons '&key (nreverse ll)) description))))

;; The reader of a slot, the test that the object is of the type first.
(defun %accessor-form (aname slot description)
  (let ((type (%sd-type description)) (loc (%slot-location slot)))
    (cond ((null type)
           (list 'defun aname '(object)
                 (list 'if (list '%typep 'object (list 'quote (%sd-class description)))
                       (list 'slot-value 'object loc)
                       '(error 5170 object))))
          ((eq type 'list)
           (list 'defun aname '(object) (list 'nth loc 'object)))
          (t (list 'defun aname '(object) (list 'svref 'object loc))))))

;; SETF of an accessor: the same test, then the store by location.
(defun %structure-place (accessor object class location)
  (%simple-place accessor (list object)
                 (function (lambda (o s)
                             (list 'if (list '%typep o (list 'quote class))
                                   (list '%set-slot-value o location s)
                                   (list 'error 5170 o))))))

(defun %typed-structure-place (accessor object type location)
  (%simple-place accessor (list object)
                 (function (lambda (o s)
                             (if (eq type 'list)
                                 (list 'car (list 'rplaca (list 'nthcdr location o) s))
                                 (list '%set-svref o location s))))))

(defun %writer-form (aname slot description)
  (cond ((%slot-read-only slot) (list 'define-setf-expander aname))
        ((null (%sd-type description))
         (list 'define-setf-expander aname '(object)
               (list '%structure-place (list 'quote aname) 'object
                     (list 'quote (%sd-class description)) (%slot-location slot))))
        (t (list 'define-setf-expander aname '(object)
                 (list '%typed-structure-place (list 'quote aname) 'object
                       (list 'quote (%sd-type description)) (%slot-location slot))))))

(defun %predicate-form (pname description)
  (let ((type (%sd-type description)))
    (if (null type)
        (list 'defun pname '(object)
              (list '%typep 'object (list 'quote (%sd-class description))))
        (let ((pos (car (last (%sd-name-positions description)))))
          (list 'defun pname '(object)
                (if (eq type 'list)
                    (list 'and '(consp object)
                          (list 'eq (list 'nth (car pos) 'object) (list 'quote (cdr pos))))
                    (list 'and '(%typep object 'vector)
                          (list '> '(length object) (car pos))
                          (list 'eq (list 'svref 'object (car pos)) (list 'quote (cdr pos))))))))))

(defun %copier-form (cname description)
  (let ((type (%sd-type description)))
    (list 'defun cname '(object)
          (cond ((eq type 'list) '(copy-list object))
                (type '(copy-seq object))
                (t (list 'if (list '%typep 'object (list 'quote (%sd-class description)))
                         '(%copy-instance object)
                         '(error 5170 object)))))))

;; The definitions of a structure whose description is in place: a macro,
;; so that it expands after %DEFINE-STRUCTURE has run, in the lexical
;; environment of the DEFSTRUCT form.
(defmacro %defstruct-functions (name constructors copier predicate)
  (let* ((d (%structure-description name))
         (conc (svref d 7))
         (forms nil))
    (dolist (c constructors)
      (setq forms (cons (if (eq (cdr c) :keyword)
                            (%keyword-constructor-form (car c) d)
                            (%boa-constructor (car c) (cdr c) d))
                        forms)))
    (dolist (s (%sd-slots d))
      (let ((aname (if conc (%symbol-concat conc (%slot-name s)) (%slot-name s))))
        (setq forms (cons (%writer-form aname s d) (cons (%accessor-form aname s d) forms)))))
    (when predicate (setq forms (cons (%predicate-form predicate d) forms)))
    (when copier (setq forms (cons (%copier-form copier d) forms)))
    (cons 'progn (nreverse forms))))

;; A fresh instance of the object's class with the same slot values.
(defun %copy-instance (object)
  (let ((values nil))
    (do ((i (- (%object-length object) 1) (- i 1)))
        ((< i 1))
      (setq values (cons (slot-value object i) values)))
    (apply (function allocate-instance) (class-of object) values)))

(defun copy-structure (structure)
  "A copy of STRUCTURE: a new instance whose slots hold the same values."
  (if (%structure-instance-p structure)
      (%copy-instance structure)
      (error 5170 structure)))

(defun %structure-instance-p (object)
  (and (%standard-object-p object)
       (eq (class-of (class-of object)) (find-class 'structure-class))))

;;; ---------------------------------------------------------------------------
;;; DEFSTRUCT

;; An option as (keyword . arguments); a bare keyword has no arguments.
(defun %option-form (option)
  (if (consp option) option (list option)))

(defmacro defstruct (name-and-options &rest slot-descriptions)
  "Defines a structure type: its constructors, slot accessors (usable
with SETF), predicate and copier."
  (let* ((name (if (consp name-and-options) (car name-and-options) name-and-options))
         (options (if (consp name-and-options) (cdr name-and-options)))
         (conc-name (concatenate 'string (symbol-name name) "-"))
         (constructors nil) (no-constructor nil)
         (copier (%symbol-concat "COPY-" name))
         (predicate (%symbol-concat name "-P")) (predicate-given nil)
         (include nil) (overrides nil)
         (print-function nil) (print-object nil)
         (type nil) (named nil) (offset 0))
    (when (typep (car slot-descriptions) 'string)
      (setq slot-descriptions (cdr slot-descriptions)))
    (dolist (o options)
      (let* ((o (%option-form o)) (key (car o)) (args (cdr o)))
        (cond ((eq key :conc-name)
               (setq conc-name (if (car args) (string (car args)) nil)))
              ((eq key :constructor)
               (cond ((null args)
                      (setq constructors (cons (cons (%symbol-concat "MAKE-" name) :keyword)
                                               constructors)))
                     ((null (car args)) (setq no-constructor t))
                     ((null (cdr args))
                      (setq constructors (cons (cons (car args) :keyword) constructors)))
                     (t (setq constructors (cons (cons (car args) (cadr args)) constructors)))))
              ((eq key :copier)
               (setq copier (if args (car args) copier)))
              ((eq key :predicate)
               (setq predicate (if args (car args) predicate) predicate-given t))
              ((eq key :include)
               (setq include (car args) overrides (cdr args)))
              ((eq key :print-function)
               (setq print-function (car args)))
              ((eq key :print-object)
               (setq print-object (car args)))
              ((eq key :type)
               (setq type (cond ((eq (car args) 'list) 'list)
                                ((or (eq (car args) 'vector)
                                     (and (consp (car args)) (eq (caar args) 'vector)))
                                 'vector)
                                (t (error 5170 (car args))))))
              ((eq key :named) (setq named t))
              ((eq key :initial-offset) (setq offset (car args)))
              (t (error 5170 o)))))
    (unless type (setq named t))
    (when (and type (not named))
      (when (and predicate-given predicate)
        (error 5170 predicate))
      (setq predicate nil))
    (when (and (null constructors) (not no-constructor))
      (setq constructors (list (cons (%symbol-concat "MAKE-" name) :keyword))))
    (list 'progn
          (list '%define-structure (list 'quote name) (list 'quote include)
                (list 'quote overrides) (list 'quote slot-descriptions)
                (list 'quote type) (list 'quote (and type named)) offset (list 'quote conc-name)
                (if print-function (list 'function print-function))
                (if print-object (list 'function print-object)))
          (list '%defstruct-functions name (reverse constructors) copier predicate)
          (list 'quote name))))

;;; ---------------------------------------------------------------------------
;;; Printing instances
;;;
;;; The printer hands every instance and class to %PRINT-INSTANCE.
;;; Structures print as #S(NAME :SLOT value ...) unless their DEFSTRUCT
;;; gave a print function; everything else goes to
;;; %PRINT-STANDARD-OBJECT, which the object system replaces with its
;;; PRINT-OBJECT dispatch.

(defun %print-structure (object stream)
  (let* ((class (class-of object))
         (d (%structure-description (class-name class))))
    (cond ((and d (eq (%sd-class d) class) (%sd-print-function d))
           (funcall (%sd-print-function d) object stream 0))
          ((and d (eq (%sd-class d) class) (%sd-print-object d))
           (funcall (%sd-print-object d) object stream))
          ((and *print-level* (<= *print-level* 0))
           (write-char #\# stream))
          (t
           (let ((*print-level* (and *print-level* (- *print-level* 1)))
                 (n 0))
             (write-string "#S(" stream)
             (write (class-name class) :stream stream)
             (dolist (s (slot-value class 7))
               (when (and *print-length* (>= n *print-length*))
                 (write-string " ..." stream)
                 (return))
               (write-char #\space stream)
               (write (%keyword (%slot-name s)) :stream stream)
               (write-char #\space stream)
               (if (slot-boundp object (%slot-location s))
                   (write (slot-value object (%slot-location s)) :stream stream)
                   (write-string "#<unbound>" stream))
               (setq n (+ n 1)))
             (write-char #\) stream))))
    object))

(defun %print-standard-object (object stream)
  (let ((class (class-of object)))
    (write-string "#<" stream)
    (if (%typep object 'class)
        (progn (write (class-name class) :stream stream)
               (write-char #\space stream)
               (write (class-name object) :stream stream))
        (write (class-name class) :stream stream))
    (write-char #\> stream)
    object))

(defun %print-instance (object stream)
  (if (%structure-instance-p object)
      (%print-structure object stream)
      (%print-standard-object object stream)))
