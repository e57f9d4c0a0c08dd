;;;; Arrays beyond the built-ins: element types, the standard MAKE-ARRAY
;;;; over the kernel's, bit arrays and their logical operations, and the
;;;; functions of fill pointers and adjustment.
;;;;
;;;; The kernel has two kinds of array storage: strings, whose elements
;;;; are characters, and general arrays, whose elements may be anything.
;;;; Every element type upgrades to one of them: the character types to
;;;; CHARACTER (a string when the array has one dimension), every other
;;;; type to T.  So a bit vector is a general vector holding 0s and 1s,
;;;; and an array made for numbers starts out holding zeros.

;;; ------------------------------------------------------------------
;;; Element types

(defparameter %character-type-names
  '(character base-char standard-char string-char extended-char))

;; Whether every object of TYPE is a character.  The type names the
;; library knows are decided here; other specifiers go to SUBTYPEP once
;; the type lattice is loaded (an error there means "no").
(defun %character-type-p (type)
  (cond ((member type %character-type-names) t)
        ((symbolp type) (and (not (member type '(t nil *)))
                             (%subtype-of-character-p type)))
        ((and (consp type) (member (car type) '(member eql)))
         (and (cdr type) (every (function characterp) (cdr type))))
        ((and (consp type) (eq (car type) 'and))
         (some (function %character-type-p) (cdr type)))
        ((and (consp type) (eq (car type) 'or))
         (and (cdr type) (every (function %character-type-p) (cdr type))))
        (t (%subtype-of-character-p type))))

(defun %subtype-of-character-p (type)
  (multiple-value-bind (result failure) (%catch-error (subtypep type 'character))
    (and (null failure) result t)))

(defun upgraded-array-element-type (type &optional environment)
  "The element type of the arrays made for elements of TYPE: CHARACTER for
character types, T for every other type."
  (if (%character-type-p type) 'character 't))

;; The element a fresh array of ELEMENT-TYPE holds when the maker gives
;; none: zero of the right kind for numbers, NIL otherwise.
(defun %default-element (element-type)
  (cond ((member element-type '(t nil *)) nil)
        ((member element-type '(bit fixnum integer unsigned-byte signed-byte
                                bignum number real rational))
         0)
        ((member element-type '(float double-float single-float short-float
                                long-float))
         0.0)
        ((and (consp element-type)
              (member (car element-type) '(integer mod unsigned-byte signed-byte)))
         (if (and (eq (car element-type) 'integer) (integerp (cadr element-type))
                  (> (cadr element-type) 0))
             (cadr element-type)
             0))
        ((and (consp element-type)
              (member (car element-type) '(float double-float single-float short-float
                                           long-float)))
         (if (and (cdr element-type) (floatp (cadr element-type)) (> (cadr element-type) 0.0))
             (cadr element-type)
             0.0))
        (t nil)))

(unless (fboundp '%kernel-array-element-type)
  (%set-symbol-function '%kernel-array-element-type (symbol-function 'array-element-type)))

(defun array-element-type (array)
  "The element type the array ARRAY holds: CHARACTER for a string, else T."
  (let ((type (%kernel-array-element-type array)))
    (if (eq type 'string-char) 'character type)))

;;; ------------------------------------------------------------------
;;; MAKE-ARRAY

(unless (fboundp '%kernel-make-array)
  (%set-symbol-function '%kernel-make-array (symbol-function 'make-array)))

(defun %check-dimensions (dimensions)
  (if (listp dimensions)
      (dolist (d dimensions dimensions)
        (%seq-check (and (integerp d) (>= d 0)) d "a valid array dimension"))
      (progn
        (%seq-check (and (integerp dimensions) (>= dimensions 0)) dimensions
                    "a valid array dimension")
        (list dimensions))))

;; The kernel's MAKE-ARRAY calls this to fill an array of rank 2 or more
;; from nested sequences, one level per dimension.
(defun %fill-array (rank contents array)
  (let ((dims (array-dimensions array))
        (index 0))
    (labels ((fill-level (contents dims)
               (if (null dims)
                   (progn (%set-row-major-aref array index contents)
                          (setq index (1+ index)))
                   (progn
                     (unless (and (%sequencep contents) (= (length contents) (car dims)))
                       (error "~S does not match the array dimensions ~S" contents
                              (array-dimensions array)))
                     (if (listp contents)
                         (dolist (x contents) (fill-level x (cdr dims)))
                         (dotimes (i (length contents))
                           (fill-level (elt contents i) (cdr dims))))))))
      (fill-level contents dims))
    array))

;; Options the kernel's MAKE-ARRAY takes as they are: the initial
;; element or contents, and the element type T.
(defun %kernel-array-options-p (options)
  (do ((o options (cddr o)))
      ((null o) t)
    (unless (or (member (car o) '(:initial-element :initial-contents))
                (and (eq (car o) :element-type) (eq (cadr o) t)))
      (return nil))))

;; A simple array of rank 2 or more keeps every dimension but the last,
;; and finds the last from its total size; with an empty axis before the
;; last the total is 0 and the last dimension would be lost, so such an
;; array is made as a header, which keeps them all.
(defun %empty-axis-before-last-p (dimensions)
  (and (consp dimensions)
       (do ((d dimensions (cdr d)))
           ((not (consp (cdr d))) nil)
         (when (eql (car d) 0) (return t)))))

(defun make-array (dimensions &rest options)
  "A new array of the given DIMENSIONS (a list, or one integer for a
vector) whose elements are of ELEMENT-TYPE, filled with INITIAL-ELEMENT or
from INITIAL-CONTENTS (nested sequences, one level per dimension);
:ADJUSTABLE, :FILL-POINTER, :DISPLACED-TO and :DISPLACED-INDEX-OFFSET make
an array that can change."
  (if (and (%kernel-array-options-p options)
           (not (%empty-axis-before-last-p dimensions)))
      (if (or (integerp dimensions) (listp dimensions))
          (apply (function %kernel-make-array) dimensions options)
          (%check-dimensions dimensions))
      (apply (function %make-array) dimensions options)))

(defun %make-array (dimensions &key (element-type t) (initial-element nil element-p)
                                   (initial-contents nil contents-p)
                                   adjustable fill-pointer displaced-to
                                   displaced-index-offset)
  (let* ((dims (%check-dimensions dimensions))
         (kind (upgraded-array-element-type element-type)))
    (when (and element-p contents-p)
      (error "MAKE-ARRAY takes :INITIAL-ELEMENT or :INITIAL-CONTENTS, not both"))
    (when (and (eq kind 'character) (cdr dims))
      ;; Only vectors of characters are strings.
      (setq kind 't))
    (let ((kernel-type (if (eq kind 'character) 'string-char t)))
      (cond ((or adjustable fill-pointer displaced-to displaced-index-offset
                 (%empty-axis-before-last-p dims))
             (%make-expressly-adjustable-array dims element-type kind initial-element element-p
                                               initial-contents contents-p adjustable
                                               fill-pointer displaced-to
                                               displaced-index-offset))
            (contents-p
             (%kernel-make-array dimensions :element-type kernel-type
                                 :initial-contents initial-contents))
            (element-p
             (%kernel-make-array dimensions :element-type kernel-type
                                 :initial-element initial-element))
            ((eq kind 'character) (%kernel-make-array dimensions :element-type kernel-type))
            (t (%kernel-make-array dimensions
                                   :initial-element (%default-element element-type)))))))

;; An array with a fill pointer, an adjustable or a displaced one is a
;; header of the kernel (%MAKE-ARRAY-HEADER) over an array that holds its
;; elements: a simple one of its own, or the array it is displaced to.
;; Every such array is adjustable in fact.
(defun %make-expressly-adjustable-array (dims element-type kind initial-element element-p
                                          initial-contents contents-p adjustable fill-pointer
                                          displaced-to displaced-index-offset)
  (let ((total (let ((n 1)) (dolist (d dims n) (setq n (* n d)))))
        (fill (cond ((null fill-pointer) nil)
                    ((/= (length dims) 1)
                     (error "Only a vector can have a fill pointer, not an array of dimensions ~S"
                            dims))
                    ((eq fill-pointer t) (car dims))
                    ((and (integerp fill-pointer) (<= 0 fill-pointer (car dims))) fill-pointer)
                    (t (error "~S is not a fill pointer for a vector of length ~S"
                              fill-pointer (car dims)))))
        (chars (and (eq kind 'character) (null (cdr dims)))))
    (cond (displaced-to
           (when (or element-p contents-p)
             (error "A displaced array takes no initial elements or contents"))
           (unless (arrayp displaced-to) (error "~S is not an array to displace to" displaced-to))
           (unless (eq (array-element-type displaced-to) (if chars 'character t))
             (error "An array of element type ~S cannot be displaced to ~S"
                    element-type displaced-to))
           (let ((offset (or displaced-index-offset 0)))
             (unless (and (integerp offset) (>= offset 0)
                          (<= (+ offset total) (array-total-size displaced-to)))
               (error "~S elements from ~S do not fit in ~S" total offset displaced-to))
             (%make-array-header displaced-to dims fill offset 1)))
          (displaced-index-offset
           (error "A displaced index offset needs an array to displace to"))
          (t
           (let* ((storage (apply (function %make-array) total
                                  :element-type (if chars 'character element-type)
                                  (cond (element-p (list :initial-element initial-element))
                                        ((and contents-p chars)
                                         (list :initial-contents initial-contents)))))
                  (header (%make-array-header storage dims fill 0 0)))
             ;; Other contents nest one level per dimension: they are
             ;; filled through the header, row-major.
             (when (and contents-p (not chars))
               (if (cdr dims)
                   (%fill-array (length dims) initial-contents header)
                   (let ((i 0))
                     (unless (= (length initial-contents) total)
                       (error "~S does not have ~D elements" initial-contents total))
                     (map nil (lambda (x) (setf (row-major-aref header i) x) (incf i))
                          initial-contents))))
             header)))))

;;; ------------------------------------------------------------------
;;; Fill pointers, adjustment and displacement.  The fields of an array
;;; header (%OBJECT-PART): 1 the array holding the elements, 2 the fill
;;; pointer, 3 the offset in it, 4 the flags (1 when displaced), 5 the
;;; dimensions; 6 sets them all at once.  A simple array has no fill
;;; pointer, is not adjustable and is displaced to nothing.

(defun %array-header-p (object)
  (eql (%object-part object nil) 1))

(defun array-has-fill-pointer-p (array)
  "True when ARRAY, a vector, has a fill pointer."
  (%seq-check (arrayp array) array "an array")
  (and (%array-header-p array) (%object-part array 2) t))

(defun fill-pointer (vector)
  "The fill pointer of VECTOR."
  (%seq-check (array-has-fill-pointer-p vector) vector "a vector with a fill pointer")
  (%object-part vector 2))

(defun %set-fill-pointer (vector new)
  (%seq-check (array-has-fill-pointer-p vector) vector "a vector with a fill pointer")
  (%seq-check (and (integerp new) (<= 0 new (array-dimension vector 0))) new
              "a fill pointer within the vector")
  (%object-part vector 2 new))

(defsetf fill-pointer %set-fill-pointer)

(defun array-displacement (array)
  "The array ARRAY is displaced to and its offset there: NIL and 0 when it
is not displaced."
  (%seq-check (arrayp array) array "an array")
  (if (and (%array-header-p array) (logtest 1 (%object-part array 4)))
      (values (%object-part array 1) (%object-part array 3))
      (values nil 0)))

(defun vector-push (new-element vector)
  "Store NEW-ELEMENT at the fill pointer of VECTOR and advance it; NIL
when the vector is full.  Returns the index of the new element."
  (let ((fill (fill-pointer vector)))
    (if (>= fill (array-dimension vector 0))
        nil
        (progn (setf (aref vector fill) new-element)
               (%object-part vector 2 (1+ fill))
               fill))))

(defun vector-pop (vector)
  "Step the fill pointer of VECTOR back by one and return the element
there."
  (let ((fill (fill-pointer vector)))
    (%seq-check (> fill 0) vector "a vector with elements to pop")
    (%object-part vector 2 (1- fill))
    (aref vector (1- fill))))

;; The elements of ARRAY whose subscripts are valid in both ARRAY and
;; NEW, the other elements of NEW left as they are.
(defun %copy-overlap (array new)
  (let ((old-dims (array-dimensions array))
        (new-dims (array-dimensions new)))
    (if (null new-dims)
        (setf (row-major-aref new 0) (row-major-aref array 0))
        (let ((common (mapcar (function min) old-dims new-dims)))
          (unless (member 0 common)
            (let ((subscripts (make-list (length common) :initial-element 0)))
              (loop
                (apply (function %aset) new (apply (function aref) array subscripts) subscripts)
                ;; Next subscripts in row-major order within COMMON.
                (let ((done t))
                  (do ((s (reverse subscripts) (cdr s))
                       (c (reverse common) (cdr c))
                       (k (1- (length common)) (1- k)))
                      ((null s))
                    (if (< (1+ (car s)) (car c))
                        (progn (setf (nth k subscripts) (1+ (car s))) (setq done nil) (return))
                        (setf (nth k subscripts) 0)))
                  (when done (return))))))))
    new))

(defun adjust-array (array new-dimensions &key (element-type nil element-type-p)
                                               (initial-element nil element-p)
                                               (initial-contents nil contents-p)
                                               fill-pointer displaced-to displaced-index-offset)
  "ARRAY with the NEW-DIMENSIONS: the elements whose subscripts are valid
in both keep their values, the others are INITIAL-ELEMENT, or all come
from INITIAL-CONTENTS or from the array DISPLACED-TO.  An adjustable array
(one made with a fill pointer, adjustable or displaced) is changed and
returned; a simple array gives a new one."
  (%seq-check (arrayp array) array "an array")
  (let* ((dims (%check-dimensions new-dimensions))
         (type (if element-type-p element-type (array-element-type array)))
         (header (%array-header-p array)))
    (%seq-check (= (length dims) (array-rank array)) new-dimensions
                "a list of dimensions of the array's rank")
    (when (and element-type-p
               (not (eq (upgraded-array-element-type element-type) (array-element-type array))))
      (error "~S cannot hold elements of the type ~S" array element-type))
    (when (and (not header) (or fill-pointer displaced-to))
      (error "~S is not adjustable: it cannot be given a fill pointer or be displaced" array))
    (when (and fill-pointer (not (array-has-fill-pointer-p array)))
      (error "~S has no fill pointer to set" array))
    (let ((new (cond (displaced-to
                      (make-array dims :element-type type :displaced-to displaced-to
                                       :displaced-index-offset (or displaced-index-offset 0)))
                     (contents-p
                      (make-array dims :element-type type :initial-contents initial-contents))
                     (element-p
                      (%copy-overlap array (make-array dims :element-type type
                                                            :initial-element initial-element)))
                     (t (%copy-overlap array (make-array dims :element-type type))))))
      (if (not header)
          new
          ;; The header takes over what the new array has, and stays the
          ;; same object.
          (let ((fill (cond ((eq fill-pointer t) (car dims))
                            (fill-pointer fill-pointer)
                            ((array-has-fill-pointer-p array)
                             (min (fill-pointer array) (car dims)))
                            (t nil))))
            (if (%array-header-p new)
                (%object-part array 6 (list (%object-part new 1) dims fill (%object-part new 3)
                                            (%object-part new 4)))
                (%object-part array 6 (list new dims fill 0 0)))
            array)))))

;;; ------------------------------------------------------------------
;;; Bit arrays: general arrays of 0s and 1s.

(defun %check-bit-array (array)
  (%seq-check (arrayp array) array "a bit array"))

(defun bit (bit-array &rest subscripts)
  "The element of BIT-ARRAY at SUBSCRIPTS."
  (%check-bit-array bit-array)
  (apply (function aref) bit-array subscripts))

(defun sbit (simple-bit-array &rest subscripts)
  "The element of SIMPLE-BIT-ARRAY at SUBSCRIPTS."
  (%check-bit-array simple-bit-array)
  (apply (function aref) simple-bit-array subscripts))

(define-setf-expander bit (array &rest subscripts)
  (%simple-place 'bit (cons array subscripts)
                 (function (lambda (a &rest r)
                             (cons '%aset (cons a (cons (car (last r)) (butlast r))))))))

(define-setf-expander sbit (array &rest subscripts)
  (%simple-place 'sbit (cons array subscripts)
                 (function (lambda (a &rest r)
                             (cons '%aset (cons a (cons (car (last r)) (butlast r))))))))

;; The result array of a bit operation on arrays like ARRAY: a new one
;; for NIL, ARRAY itself for T, else the array given, which must have
;; the same dimensions.
(defun %bit-result (array result)
  (cond ((null result) (make-array (array-dimensions array) :element-type 'bit))
        ((eq result t) array)
        (t (%check-bit-array result)
           (%seq-check (equal (array-dimensions result) (array-dimensions array)) result
                       "a bit array of the dimensions of the arguments")
           result)))

(defun %bit-operation (function array1 array2 result)
  (%check-bit-array array1)
  (%check-bit-array array2)
  (%seq-check (equal (array-dimensions array1) (array-dimensions array2)) array2
              "a bit array of the dimensions of the first")
  (let ((out (%bit-result array1 result)))
    (dotimes (i (array-total-size array1) out)
      (%set-row-major-aref out i
                           (logand 1 (funcall function (row-major-aref array1 i)
                                              (row-major-aref array2 i)))))))

(defun bit-and (bit-array1 bit-array2 &optional result)
  "The elementwise AND of two bit arrays, into RESULT (a new array for
NIL, BIT-ARRAY1 for T)."
  (%bit-operation (function logand) bit-array1 bit-array2 result))
(defun bit-ior (bit-array1 bit-array2 &optional result)
  "The elementwise inclusive OR of two bit arrays."
  (%bit-operation (function logior) bit-array1 bit-array2 result))
(defun bit-xor (bit-array1 bit-array2 &optional result)
  "The elementwise exclusive OR of two bit arrays."
  (%bit-operation (function logxor) bit-array1 bit-array2 result))
(defun bit-eqv (bit-array1 bit-array2 &optional result)
  "The elementwise equivalence of two bit arrays."
  (%bit-operation (function logeqv) bit-array1 bit-array2 result))
(defun bit-nand (bit-array1 bit-array2 &optional result)
  "The elementwise NOT AND of two bit arrays."
  (%bit-operation (function lognand) bit-array1 bit-array2 result))
(defun bit-nor (bit-array1 bit-array2 &optional result)
  "The elementwise NOT OR of two bit arrays."
  (%bit-operation (function lognor) bit-array1 bit-array2 result))
(defun bit-andc1 (bit-array1 bit-array2 &optional result)
  "The elementwise AND of the complement of the first with the second."
  (%bit-operation (function logandc1) bit-array1 bit-array2 result))
(defun bit-andc2 (bit-array1 bit-array2 &optional result)
  "The elementwise AND of the first with the complement of the second."
  (%bit-operation (function logandc2) bit-array1 bit-array2 result))
(defun bit-orc1 (bit-array1 bit-array2 &optional result)
  "The elementwise OR of the complement of the first with the second."
  (%bit-operation (function logorc1) bit-array1 bit-array2 result))
(defun bit-orc2 (bit-array1 bit-array2 &optional result)
  "The elementwise OR of the first with the complement of the second."
  (%bit-operation (function logorc2) bit-array1 bit-array2 result))

(defun bit-not (bit-array &optional result)
  "The elementwise complement of a bit array, into RESULT (a new array for
NIL, BIT-ARRAY for T)."
  (%check-bit-array bit-array)
  (let ((out (%bit-result bit-array result)))
    (dotimes (i (array-total-size bit-array) out)
      (%set-row-major-aref out i (- 1 (row-major-aref bit-array i))))))

;; #*1011 reads as a bit vector; #5*10 is #*10000, the last bit repeated.
(defun %read-sharp-bits (stream char count)
  (let ((bits nil))
    (loop
      (let ((c (peek-char nil stream nil nil)))
        (cond ((and c (or (char= c #\0) (char= c #\1)))
               (read-char stream)
               (setq bits (cons (if (char= c #\0) 0 1) bits)))
              ((and c (not (member c '(#\Space #\Tab #\Newline #\Return #\Page #\( #\) #\"
                                       #\' #\; #\`))))
               (error "~S is not a bit in a bit vector" c))
              (t (return nil)))))
    (setq bits (nreverse bits))
    (cond ((null count) (coerce bits 'vector))
          ((and bits (> (length bits) count))
           (error "#~D* holds more than ~D bits" count count))
          ((and (null bits) (> count 0))
           (error "#~D* needs at least one bit" count))
          (t (let ((v (make-array count :initial-element (car (last bits)))))
               (do ((l bits (cdr l))
                    (i 0 (1+ i)))
                   ((null l) v)
                 (%set-svref v i (car l))))))))

(set-dispatch-macro-character #\# #\* (function %read-sharp-bits))
