;;; Sequences, hash tables and arrays.

(list (reduce (function -) '(1 2 3 4)) (reduce (function -) '(1 2 3 4) :from-end t)
      (reduce (function +) '() :initial-value 7) (reduce (function list) '(1 2) :initial-value 0))
=> (-8 -2 7 ((0 1) 2))

(list (subseq "hello" 1 3) (subseq '(a b c d) 2) (subseq #(1 2 3) 0 1))
=> ("el" (C D) #(1))

(subseq "abc" 2 1)
!! 8250

(subseq '(1 2) 0 5)
!! 4146

(list (remove 1 '(1 2 1 3)) (remove 1 '(1 2 1 3) :count 1 :from-end t)
      (position #\l "hello") (find 3 '(1 2 3)) (reverse "abc") (length #(1 2)))
=> ((2 3) (1 2 3) 2 3 "cba" 2)

(sort (list 3 1 2) (function <))
=> (1 2 3)

(concatenate 'string "ab" "cd")
=> "abcd"

(let ((h (make-hash-table)))
  (dotimes (i 3000) (%puthash i h (* 2 i)))
  (let ((ok t))
    (dotimes (i 3000) (if (null (eql (gethash i h) (* 2 i))) (setq ok nil)))
    (list ok (hash-table-count h))))
=> (T 3000)

;; A removed key leaves a deleted slot that a later key reuses.
(let ((h (make-hash-table :test (function equal))))
  (%puthash "a" h 1)
  (remhash "a" h)
  (%puthash "b" h 2)
  (list (gethash "a" h) (gethash "b" h) (hash-table-count h)))
=> (NIL 2 1)

;; A 2 x 3 array: row-major index, dimensions, every subscript checked.
(let ((a (make-array '(2 3) :initial-element 0)))
  (%aset a 7 1 2)
  (list (aref a 1 2) (array-row-major-index a 1 2) (array-dimensions a)
        (array-rank a) (array-total-size a) (row-major-aref a 5)))
=> (7 5 (2 3) 2 6 7)

(aref (make-array '(2 3)) 0 5)
!! 5170

(aref (make-array '(2 3)) 0 -1)
!! 5170
