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

;; Every sequence function treats a vector with a fill pointer as its
;; active elements: each check runs on such a vector (room and junk past
;; the fill pointer) and on a simple vector of the same elements, and
;; names the checks whose results differ.
(defun fill-pointer-differences (checks)
  (let ((failures '()))
    (dolist (check checks (nreverse failures))
      (destructuring-bind (name elements function) check
        (let ((v (make-array (+ 3 (length elements)) :fill-pointer (length elements)
                             :adjustable t :initial-element 99)))
          (replace v elements)
          (unless (equalp (funcall function v) (funcall function (coerce elements 'vector)))
            (push name failures)))))))
=> FILL-POINTER-DIFFERENCES

(fill-pointer-differences
 `((length (3 1 2) ,#'length) (elt (3 1 2) ,(lambda (v) (elt v 2)))
   (subseq (3 1 2) ,(lambda (v) (subseq v 1))) (copy-seq (3 1 2) ,#'copy-seq)
   (fill (3 1 2) ,(lambda (v) (fill v 0 :start 1) (copy-seq v)))
   (replace (3 1 2) ,(lambda (v) (replace v '(7 8 9 10 11)) (copy-seq v)))
   (reverse (3 1 2) ,#'reverse) (nreverse (3 1 2) ,(lambda (v) (nreverse v) (copy-seq v)))
   (sort (3 1 2) ,(lambda (v) (sort v #'<) (copy-seq v)))
   (stable-sort (3 1 2) ,(lambda (v) (stable-sort v #'>) (copy-seq v)))
   (find (3 1 2) ,(lambda (v) (list (find 2 v) (find 99 v) (find-if #'evenp v) (find 3 v :key #'1-))))
   (position (3 1 2 2) ,(lambda (v) (list (position 99 v) (position 2 v :from-end t)
                                          (position-if #'oddp v :start 1))))
   (count (3 2 2) ,(lambda (v) (list (count 2 v) (count-if-not #'oddp v) (count 99 v))))
   (remove (3 2 1 2) ,(lambda (v) (list (remove 2 v) (remove-if #'oddp v) (remove-duplicates v))))
   (delete (3 2 1 2) ,(lambda (v) (copy-seq (delete 2 v))))
   (delete-duplicates (3 2 1 2) ,(lambda (v) (copy-seq (delete-duplicates v))))
   (substitute (3 2 1 2) ,(lambda (v) (substitute 0 2 v)))
   (nsubstitute (3 2 1 2) ,(lambda (v) (nsubstitute 0 2 v) (copy-seq v)))
   (mismatch (3 2 1 2) ,(lambda (v) (list (mismatch v #(3 2 5)) (mismatch v #(3 2 1 2)))))
   (search (3 2 1 2) ,(lambda (v) (list (search #(1 2) v) (search v #(0 3 2 1 2 5)) (search #(99) v))))
   (reduce (3 2 1 2) ,(lambda (v) (list (reduce #'+ v) (reduce #'list v :from-end t))))
   (map (3 2 1 2) ,(lambda (v) (list (map 'list #'1+ v) (map 'vector #'+ v v)
                                     (let (r) (map nil (lambda (x) (push x r)) v) r))))
   (map-into (3 2 1 2) ,(lambda (v) (map-into v #'1+ v) (copy-seq v)))
   (predicates (3 2 1 2) ,(lambda (v) (list (every #'plusp v) (some #'zerop v) (notany #'zerop v)
                                            (notevery #'evenp v))))
   (concatenate (3 2 1 2) ,(lambda (v) (concatenate 'list v v)))
   (merge (1 2 3) ,(lambda (v) (merge 'vector (copy-seq v) (vector 0 5) #'<)))
   (coerce (3 2 1 2) ,(lambda (v) (list (coerce v 'list) (coerce v 'simple-vector))))
   (equalp (3 2 1 2) ,(lambda (v) (equalp v #(3 2 1 2))))
   (loop (3 2 1 2) ,(lambda (v) (loop for x across v collect x)))
   (printing (3 2 1 2) ,(lambda (v) (list (prin1-to-string v) (format nil "~A" v))))))
=> NIL
