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

;; A VECTOR-PUSH-EXTEND buffer: a vector with a fill pointer that grows as
;; elements are pushed; VECTOR-PUSH stops when it is full, VECTOR-POP
;; takes the last one back.
(let ((v (make-array 2 :fill-pointer 0 :adjustable t)))
  (list (loop for i below 10 collect (vector-push-extend (* i i) v))
        (copy-seq v) (length v) (fill-pointer v) (>= (array-dimension v 0) 10)
        (vector-pop v) (length v) (array-has-fill-pointer-p v) (adjustable-array-p v)
        (let ((w (make-array 2 :fill-pointer 0)))
          (list (vector-push 'a w) (vector-push 'b w) (vector-push 'c w) (copy-seq w)))))
=> ((0 1 2 3 4 5 6 7 8 9) #(0 1 4 9 16 25 36 49 64 81) 10 10 T 81 9 T T (0 1 NIL #(A B)))

;; The fill pointer can be set within the vector; the elements past it
;; stay, AREF reaches them, the sequence functions do not.
(let ((v (make-array 5 :initial-contents '(a b c d e) :fill-pointer 2)))
  (list (copy-seq v) (aref v 4) (length v) (setf (fill-pointer v) 4) (copy-seq v)
        (array-total-size v) (array-dimensions v)
        (progn (setf (fill-pointer v) 0) (length v))))
=> (#(A B) E 2 4 #(A B C D) 5 (5) 0)

(setf (fill-pointer (make-array 3 :fill-pointer 0)) 4)
!! 5170 4

(vector-pop (make-array 3 :fill-pointer 0))
!! 5170

(vector-push-extend 1 (vector 1 2))
!! 5170 #(1 2)

(make-array '(2 2) :fill-pointer 0)
!! 5170 (2 2)

;; Displaced arrays share the elements of the array they are displaced
;; to, from an offset; a displaced array may itself be displaced to.
(let* ((base (make-array '(2 3) :initial-contents '((0 1 2) (3 4 5))))
       (row (make-array 3 :displaced-to base :displaced-index-offset 3))
       (middle (make-array 2 :displaced-to row :displaced-index-offset 1)))
  (setf (aref row 0) 'x (aref middle 1) 'y)
  (list base (copy-seq row) (copy-seq middle) (multiple-value-list (array-displacement row))
        (multiple-value-list (array-displacement (vector 1))) (adjustable-array-p middle)
        (array-element-type row)))
=> (#2A((0 1 2) (X 4 Y)) #(X 4 Y) #(4 Y) (#2A((0 1 2) (X 4 Y)) 3) (NIL 0) T T)

(make-array 4 :displaced-to (vector 1 2 3))
!! 12338

(make-array 2 :displaced-to "abc" :element-type t)
!! 8242

;; ADJUST-ARRAY changes an adjustable array in place: the same object,
;; its elements kept where their subscripts still hold.
(let ((a (make-array '(2 3) :adjustable t :initial-contents '((1 2 3) (4 5 6))))
      (v (make-array 3 :fill-pointer 2 :initial-contents '(a b c))))
  (list (eq (adjust-array a '(3 2) :initial-element 0) a) a
        (eq (adjust-array v 6 :initial-element 'z :fill-pointer 5) v) (copy-seq v)
        (let ((target (vector 1 2 3 4)))
          (adjust-array v 2 :displaced-to target :displaced-index-offset 2)
          (list (copy-seq v) (multiple-value-list (array-displacement v))))
        (adjustable-array-p (make-array 2 :adjustable t))))
=> (T #2A((1 2) (4 5) (0 0)) T #(A B C Z Z) (#(3 4) (#(1 2 3 4) 2)) T)

;; Strings with fill pointers: the string functions see their active
;; characters.
(let ((s (make-array 3 :element-type 'character :fill-pointer 0 :adjustable t)))
  (dolist (c (coerce "hello" 'list)) (vector-push-extend c s))
  (setf (char s 0) #\H)
  (list s (length s) (char s 4) (stringp s) (simple-string-p s) (string-upcase s) (string= s "Hello")
        (string< s "Help") (equal s "Hello") (equalp s "HELLO") (string-trim "Ho" s) (search "ll" s)
        (type-of s) (typep s 'string) (typep s 'simple-string) (typep s '(vector character))
        (array-element-type s) (intern (coerce s 'simple-string))
        (with-input-from-string (in s) (read in))))
=> ("Hello" 5 #\o T NIL "HELLO" T 3 T T "ell" 2 STRING T NIL T CHARACTER |Hello| HELLO)

;; More of the functions taking strings, on a string with a fill pointer:
;; symbols, numbers, hashing as the equal simple string, printing.
(let ((s (make-array 10 :element-type 'character :fill-pointer 3 :initial-element #\z)))
  (replace s "car")
  (let ((equal-table (make-hash-table :test 'equal)) (equalp-table (make-hash-table :test 'equalp)))
    (setf (gethash "car" equal-table) 'found (gethash "CAR" equalp-table) 'found)
    (list (intern (string-upcase s)) (find-symbol (string-upcase s)) (symbol-name (make-symbol s))
          (= (sxhash s) (sxhash "car")) (gethash s equal-table) (gethash s equalp-table)
          (gethash (list s 1) (let ((h (make-hash-table :test 'equal)))
                                (setf (gethash (list "car" 1) h) 'in-list) h))
          (progn (setf (fill-pointer s) 2) (gethash s equal-table))
          (prin1-to-string s) (format nil "<~A|~S>" s s) (copy-seq (nstring-upcase s)) (copy-seq s)
          (parse-integer (replace s "42")) (read-from-string (progn (setf (fill-pointer s) 3) (replace s "(x)"))) (format nil s))))
=> (CAR CAR "car" T FOUND FOUND IN-LIST NIL "\"ca\"" "<ca|\"ca\">" "CA" "CA" 42 (X) "(x)")

;; Output into a string with a fill pointer: WITH-OUTPUT-TO-STRING and
;; FORMAT append past the fill pointer, growing an adjustable string.
(let ((s (make-array 4 :element-type 'character :fill-pointer 0 :adjustable t)))
  (with-output-to-string (out s)
    (write-string "abc" out)
    (prin1 '(1 "x") out))
  (format s "~D-~A" 42 'end)
  (list s (length s) (>= (array-total-size s) (length s))))
=> ("abc(1 \"x\")42-END" 16 T)

;; Arrays displaced to others and with fill pointers print their active
;; elements; EQUALP compares them with simple arrays, and an EQUALP table
;; finds them.
(let* ((base (make-array '(2 2) :initial-contents '((1 2) (3 4))))
       (flat (make-array 4 :displaced-to base))
       (square (make-array '(2 2) :displaced-to flat))
       (table (make-hash-table :test 'equalp)))
  (setf (gethash #(1 2 3 4) table) 'vector (gethash #2A((1 2) (3 4)) table) 'square)
  (list flat square (equalp flat #(1 2 3 4)) (equalp square base) (equal flat #(1 2 3 4))
        (gethash flat table) (gethash square table)
        (let ((*print-length* 2)) (prin1-to-string flat))
        (let ((*print-circle* t) (v (make-array 2 :fill-pointer 2)))
          (setf (aref v 0) v (aref v 1) flat)
          (prin1-to-string (list v flat)))))
=> (#(1 2 3 4) #2A((1 2) (3 4)) T T NIL VECTOR SQUARE "#(1 2 ...)" "(#1=#(#1# #2=#(1 2 3 4)) #2#)")

;; An empty axis before the last keeps every dimension, with or without
;; options, and such an array prints, compares and copies like any other.
(let ((a (make-array '(2 0 2)))
      (b (make-array '(0 3) :initial-element 7))
      (c (make-array '(3 0)))
      (d (make-array '(0 4) :initial-contents '())))
  (list (array-dimensions a) (array-total-size a) (array-rank a)
        (array-dimensions b) (array-dimension b 1) (array-dimensions c)
        (array-dimensions d) (array-in-bounds-p b 0 0)
        (prin1-to-string b) (equalp b (make-array '(0 3)))
        (array-dimensions (make-array '(1 0 5 0 2)))))
=> ((2 0 2) 0 3 (0 3) 3 (3 0) (0 4) NIL "#2A()" T (1 0 5 0 2))
