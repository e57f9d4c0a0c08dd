;;; Arrays as portable code uses them: element types on MAKE-ARRAY, bit
;;; arrays with BIT, SBIT and the BIT-AND family, initial contents of any
;;; rank, and ADJUST-ARRAY.  Every element type upgrades to the kernel's
;;; two kinds: strings of characters, general arrays of anything.

;; Character element types make strings; the others general arrays,
;; filled with zeros when they are numeric.
(list (make-array 3 :element-type 'character :initial-element #\a)
      (make-array 2 :element-type 'base-char :initial-element #\b)
      (make-array 2 :element-type 'standard-char :initial-contents "xy")
      (make-array 4 :element-type 'bit)
      (make-array 2 :element-type 'fixnum)
      (make-array 2 :element-type '(unsigned-byte 8))
      (make-array 2 :element-type '(integer 5 9))
      (make-array 2 :element-type 'double-float)
      (make-array 2 :element-type 'single-float :initial-element 1.5)
      (make-array 2 :element-type t)
      (make-array 2))
=> ("aaa" "bb" "xy" #(0 0 0 0) #(0 0) #(0 0) #(5 5) #(0.0 0.0) #(1.5 1.5) #(NIL NIL) #(NIL NIL))

(list (array-element-type (make-array 2 :element-type 'character))
      (array-element-type (make-array 2 :element-type 'bit))
      (array-element-type "abc")
      (array-element-type (make-array '(2 2) :element-type 'character :initial-element #\q))
      (stringp (make-array 3 :element-type '(member #\a #\b) :initial-element #\a)))
=> (CHARACTER T CHARACTER T T)

(list (upgraded-array-element-type 'standard-char) (upgraded-array-element-type 'bit)
      (upgraded-array-element-type '(eql #\x)) (upgraded-array-element-type 'fixnum)
      (upgraded-array-element-type t))
=> (CHARACTER T CHARACTER T T)

(make-array 2 :initial-element 0 :initial-contents '(1 2))
!! 8248 :INITIAL-ELEMENT :INITIAL-CONTENTS

(make-array 2 :element-type 'bit :initial-element 0 :initial-contents '(1 0))
!! 50

(make-array -1)
!! 5170 -1

;; Initial contents nest one level per dimension, as lists or vectors.
(list (make-array '(2 3) :initial-contents '((1 2 3) (4 5 6)))
      (make-array '(2 2) :initial-contents #(#(a b) (c d)))
      (aref (make-array '(2 2 2) :initial-contents '(((1 2) (3 4)) ((5 6) (7 8)))) 1 0 1)
      (make-array '() :initial-contents 'x))
=> (#2A((1 2 3) (4 5 6)) #2A((A B) (C D)) 6 #0AX)

(make-array '(2 2) :initial-contents '((1 2) (3)))
!! 8242

;; Bit vectors: read with #*, made by MAKE-ARRAY, typed by BIT-VECTOR-P.
(list #*10110 #*  #3*1 (bit-vector-p #*101) (bit-vector-p (make-array 3 :element-type 'bit))
      (typep #*01 'simple-bit-vector) (bit #*0100 1) (sbit #*0100 0))
=> (#(1 0 1 1 0) #() #(1 1 1) T T T 1 0)

(read-from-string "#*102")
!! 5170 #\2

(let ((b (make-array 4 :element-type 'bit)))
  (setf (bit b 1) 1 (sbit b 3) 1)
  b)
=> #(0 1 0 1)

;; The logical operations, into a new array, into the first (T) or into
;; a given one; two dimensions as well.
(list (bit-and #*1100 #*1010) (bit-ior #*1100 #*1010) (bit-xor #*1100 #*1010)
      (bit-eqv #*1100 #*1010) (bit-nand #*1100 #*1010) (bit-nor #*1100 #*1010)
      (bit-andc1 #*1100 #*1010) (bit-andc2 #*1100 #*1010) (bit-orc1 #*1100 #*1010)
      (bit-orc2 #*1100 #*1010) (bit-not #*1100))
=> (#(1 0 0 0) #(1 1 1 0) #(0 1 1 0) #(1 0 0 1) #(0 1 1 1) #(0 0 0 1) #(0 0 1 0) #(0 1 0 0) #(1 0 1 1) #(1 1 0 1) #(0 0 1 1))

(let ((a (copy-seq #*1100)) (r (make-array 4 :element-type 'bit)))
  (list (eq (bit-and a #*1010 t) a) (copy-seq a) (eq (bit-ior #*1100 #*0011 r) r) r
        (eq (bit-not a t) a) a
        (bit-xor (make-array '(2 2) :initial-contents '((1 0) (0 1)))
                 (make-array '(2 2) :initial-contents '((1 1) (0 0))))))
=> (T #(1 0 0 0) T #(1 1 1 1) T #(0 1 1 1) #2A((0 1) (0 1)))

(bit-and #*11 #*111)
!! 5170 #(1 1 1)

;; ADJUST-ARRAY of an array that is not adjustable makes a new one; the
;; elements whose subscripts are in both keep their values.
(let* ((v (vector 1 2 3))
       (w (adjust-array v 5 :initial-element 0)))
  (list w v (eq v w) (adjust-array v 2)
        (adjust-array (make-array '(2 2) :initial-contents '((1 2) (3 4))) '(3 1)
                      :initial-element 'z)
        (adjust-array "abc" 5 :initial-element #\-)
        (adjust-array #(1 2) 3 :initial-contents '(a b c))))
=> (#(1 2 3 0 0) #(1 2 3) NIL #(1 2) #2A((1) (3) (Z)) "abc--" #(A B C))

(adjust-array #(1 2) '(2 2))
!! 5170 (2 2)

;; Simple arrays have no fill pointer and are displaced to nothing.
(list (array-has-fill-pointer-p #(1 2)) (multiple-value-list (array-displacement "ab"))
      (adjustable-array-p #(1)))
=> (NIL (NIL 0) NIL)

(vector-push 1 (vector 1 2))
!! 5170 #(1 2)

(fill-pointer "abc")
!! 5170 "abc"
