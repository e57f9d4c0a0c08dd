;;; Inputs that once ended the session or ran for ever: arrays of rank 2 to
;;; 4 filled from nested contents, and the walks over circular lists.

;; Initial contents of every rank from 2 to 4, nested as lists and as
;; vectors, each element in its row-major place.
(let ((a (make-array '(2 3) :initial-contents '((1 2 3) (4 5 6)))))
  (list (aref a 0 0) (aref a 0 2) (aref a 1 0) (aref a 1 2) (array-dimensions a)))
=> (1 3 4 6 (2 3))

(let ((a (make-array '(2 2 3) :initial-contents
                     '(((a b c) (d e f)) ((g h i) (j k l))))))
  (list (aref a 0 1 2) (aref a 1 0 0) (aref a 1 1 1) (row-major-aref a 11)))
=> (F G K L)

(let ((a (make-array '(2 2 2 2) :initial-contents
                     '((((1 2) (3 4)) ((5 6) (7 8))) (((9 10) (11 12)) ((13 14) (15 16)))))))
  (list (aref a 0 0 0 0) (aref a 0 1 1 0) (aref a 1 0 1 1) (aref a 1 1 1 1)
        (loop for i below 16 collect (row-major-aref a i))))
=> (1 7 12 16 (1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16))

(let ((a (make-array '(2 2 2) :initial-contents (vector #((1 2) #(3 4)) '(#(5 6) (7 8))))))
  (list (aref a 0 1 0) (aref a 1 0 1) (aref a 1 1 1)))
=> (3 6 8)

(make-array '(2 3) :initial-contents '((1 2 3) (4 5 6)))
=> #2A((1 2 3) (4 5 6))

(make-array '(1 1 1 2) :initial-contents '((((x y)))))
=> #4A((((X Y))))

;; Strings are sequences of characters at the last level.
(let ((a (make-array '(2 3) :initial-contents '("abc" "def"))))
  (list (aref a 0 2) (aref a 1 0)))
=> (#\c #\d)

;; Contents that do not match the dimensions are refused, at any level.
(list (ignore-errors (make-array '(2 3) :initial-contents '((1 2 3) (4 5))))
      (ignore-errors (make-array '(2 2 2) :initial-contents '(((1 2) (3 4)) ((5 6)))))
      (ignore-errors (make-array '(2 2 2 2) :initial-contents '(1 2)))
      (ignore-errors (make-array '(2 2) :initial-contents 5)))
=> (NIL NIL NIL NIL)

;; Zero in a dimension: no elements, and the empty contents fit.
(array-total-size (make-array '(0 3) :initial-contents '()))
=> 0
(array-total-size (make-array '(2 0 2) :initial-contents '(() ())))
=> 0
