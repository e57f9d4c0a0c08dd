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

;; A circular list given to a walk over the whole list is the wrong type of
;; argument, not a walk for ever; what lies before the ring is still found.
(defvar *ring* (let ((l (list 1 2 3 (cons 4 40) 5))) (setf (cdr (last l)) l) l))
=> *RING*

(mapcar (lambda (f) (handler-case (progn (funcall f) :ended) (type-error () :type-error)))
        (list (lambda () (length *ring*))
              (lambda () (apply #'+ *ring*))
              (lambda () (coerce *ring* 'vector))
              (lambda () (reverse *ring*))
              (lambda () (copy-list *ring*))
              (lambda () (last *ring*))
              (lambda () (butlast *ring*))
              (lambda () (append *ring* nil))
              (lambda () (nconc (list 0) *ring* (list 1)))
              (lambda () (member 9 *ring*))
              (lambda () (member 9 *ring* :test #'equal))
              (lambda () (assoc 9 (cdddr *ring*)))
              (lambda () (assoc 9 *ring* :test #'equal))
              (lambda () (%assq 9 *ring*))
              (lambda () (subseq *ring* 0 2))
              (lambda () (concatenate 'list *ring* nil))
              (lambda () (values-list *ring*))
              (lambda () (read-from-string *ring*))))
=> (:TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR)

(list (list-length *ring*) (car (member 5 *ring*)) (assoc 4 (cdddr *ring*))
      (car (member 3 *ring* :test #'=)) (nth 7 *ring*) (elt *ring* 6))
=> (NIL 5 (4 . 40) 3 3 2)

;; Lists of odd and even lengths, and dotted ones, walk as before.
(list (length '(a)) (length '(a b)) (length '(a b c)) (length '()) (list-length '(1 2 3 4 5))
      (last '(1 2 3 . 4)) (reverse '(1 2 3)) (copy-list '(1 2 . 3)) (append '(1) '(2 3) 4)
      (nconc (list 1 2) (list 3) nil (list 4 5)) (member 3 '(1 2 3 4)) (assoc 2 '((1 . a) (2 . b))))
=> (1 2 3 0 5 (3 . 4) (3 2 1) (1 2 . 3) (1 2 3 . 4) (1 2 3 4 5) (3 4) (2 . B))

;; Backquoted circular data is an error as it is read, not a walk that
;; conses until no cell is left: through a tail or an element, with
;; unquotes or backquotes inside, in a vector; shared parts are no circle.
(list (handler-case (read-from-string "`#1=(a . #1#)") (type-error () :type-error))
      (handler-case (read-from-string "`(x #1=(,y . #1#))") (type-error () :type-error))
      (handler-case (read-from-string "`#1=(````b #1#)") (type-error () :type-error))
      (handler-case (read-from-string "`#1=#(a #1#)") (type-error () :type-error))
      (eval (read-from-string "(let ((y 2)) `(1 ,y #1=(c) #1#))")))
=> (:TYPE-ERROR :TYPE-ERROR :TYPE-ERROR :TYPE-ERROR (1 2 (C) (C)))
