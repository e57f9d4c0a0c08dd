;;; Sequences as portable code uses them: every standard result type for
;;; MAKE-SEQUENCE, COERCE, CONCATENATE, MAP and MERGE, lengths in the
;;; type checked, and the quantifiers NOTANY and NOTEVERY.  Errors the
;;; library signals are checked by their objects, under the codes 5170 for
;;; one object and 8242 for two.

;; Each result type gives its kind of sequence.
(list (make-sequence 'list 2 :initial-element 'a)
      (make-sequence 'vector 2 :initial-element 0)
      (make-sequence 'simple-vector 1)
      (make-sequence 'string 3 :initial-element #\z)
      (make-sequence 'simple-string 2 :initial-element #\y)
      (make-sequence 'base-string 1 :initial-element #\x)
      (make-sequence '(vector t 2) 2 :initial-element 1)
      (make-sequence '(vector character) 2 :initial-element #\c)
      (make-sequence '(simple-array t (3)) 3 :initial-element 7)
      (make-sequence 'bit-vector 4)
      (make-sequence '(simple-bit-vector 2) 2 :initial-element 1)
      (make-sequence 'null 0)
      (make-sequence 'cons 1))
=> ((A A) #(0 0) #(NIL) "zzz" "yy" "x" #(1 1) "cc" #(7 7 7) #(0 0 0 0) #(1 1) NIL (NIL))

;; A string made without an initial element holds spaces.
(make-sequence 'string 2)
=> "  "

(make-sequence '(vector t 3) 2)
!! 5170 2

(make-sequence 'null 1)
!! 5170 1

(make-sequence 'cons 0)
!! 5170 0

(make-sequence 'integer 2)
!! 5170 INTEGER

;; A type defined with DEFTYPE is what it expands to.
(progn (deftype three-vector () '(vector t 3))
       (list (make-sequence 'three-vector 3 :initial-element 'q)
             (coerce '(1 2 3) 'three-vector)))
=> (#(Q Q Q) #(1 2 3))

(coerce '(1 2) 'three-vector)
!! 8242 2 THREE-VECTOR

;; CONCATENATE to every kind, with the length checked where one is given.
(list (concatenate 'simple-string "ab" "cd")
      (concatenate '(string 4) "ab" '(#\c #\d))
      (concatenate 'base-string "a" #(#\b))
      (concatenate 'simple-vector '(1) #(2) "c")
      (concatenate '(vector t) '(1 2))
      (concatenate 'list "ab" #(1))
      (concatenate 'cons '(1) '(2))
      (concatenate 'bit-vector #(1 0) '(1)))
=> ("abcd" "abcd" "ab" #(1 2 #\c) #(1 2) (#\a #\b 1) (1 2) #(1 0 1))

(concatenate '(string 3) "a" "b")
!! 8242 2 (STRING 3)

(concatenate 'hash-table '(1))
!! 5170 HASH-TABLE

;; MAP to every kind; NIL maps for effect.
(let ((seen nil))
  (list (map 'simple-vector #'identity '(1 2))
        (map '(vector t 2) #'+ '(1 2) #(10 20 30))
        (map 'string #'char-upcase "abc")
        (map '(simple-string 2) #'char-downcase '(#\A #\B))
        (map 'list #'cons '(a b) "xy")
        (map nil #'(lambda (x) (push x seen)) '(1 2 3))
        seen))
=> (#(1 2) #(11 22) "ABC" "ab" ((A . #\x) (B . #\y)) NIL (3 2 1))

(map '(vector t 3) #'identity '(1 2))
!! 8242 2 (VECTOR T 3)

;; MERGE keeps the elements of the first sequence first among equals.
(list (merge 'list '(1 3 5) '(2 3 6) #'<)
      (merge 'simple-vector #(1 4) '(2 3) #'<)
      (merge '(vector t 4) '(1 4) '(2 3) #'<)
      (merge 'string "adg" "bce" #'char<)
      (merge 'list '((1 . a) (2 . a)) '((1 . b) (2 . b)) #'< :key #'car))
=> ((1 2 3 3 5 6) #(1 2 3 4) #(1 2 3 4) "abcdeg" ((1 . A) (1 . B) (2 . A) (2 . B)))

;; COERCE between the kinds of sequences.
(list (coerce '(#\a #\b) 'simple-string) (coerce "ab" 'list) (coerce #(1 2) 'list)
      (coerce '(1 2) '(simple-vector 2)) (coerce "ab" '(vector character))
      (coerce '(1 0 1) 'simple-bit-vector) (coerce #(1 2) 'vector))
=> ("ab" (#\a #\b) (1 2) #(1 2) "ab" #(1 0 1) #(1 2))

;; NOTANY and NOTEVERY over one sequence or several in step.
(list (notany #'oddp '(2 4 6)) (notany #'oddp '(2 3)) (notany #'> '(1 2) '(3 4))
      (notevery #'oddp '(1 3)) (notevery #'oddp #(1 2)) (notevery #'< '(1 5) '(2 3))
      (notany #'identity '()) (notevery #'identity ""))
=> (T NIL T NIL T T T NIL)

;; MAKE-STRING takes the character types as its element type.
(list (make-string 2 :element-type 'base-char :initial-element #\b)
      (make-string 1 :element-type 'standard-char) (make-string 0))
=> ("bb" " " "")

(make-string 2 :element-type 'fixnum)
!! 5170 FIXNUM
