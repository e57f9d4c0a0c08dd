;;; The list library: splicing maps, access, tails, association and
;;; property lists, tree comparison and destructive substitution.
;;; Errors the library signals itself are checked by their objects, under
;;; the wrong-type code 5170 for one object and 8242 for two.

(list (first '(1 2 3)) (second '(1 2 3)) (third '(1 2 3)) (rest '(1 2 3))
      (fourth '(1 2 3 4)) (tenth '(1 2 3 4 5 6 7 8 9 10)) (fifth '(1 2)))
=> (1 2 3 (2 3) 4 10 NIL)

(fourth 'a)
!! 5170 A

;; A circular list has no length; a dotted one is an error.
(let ((l (list 1 2 3)))
  (list (list-length '(a b c d)) (list-length nil) (list-length '(a))
        (progn (rplacd (cddr l) l) (list-length l))
        (progn (rplacd l l) (list-length l))))
=> (4 0 1 NIL NIL)

(list-length '(1 2 . 3))
!! 5170 (1 2 . 3)

(list (make-list 3 :initial-element 'x) (make-list 0) (length (make-list 100000)))
=> ((X X X) NIL 100000)

(make-list -1)
!! 5170 -1

;; MAPCAN and MAPCON splice the results in place, stopping at the shortest
;; list; NIL results drop out.
(list (mapcan #'(lambda (x) (if (oddp x) (list x x))) '(1 2 3))
      (mapcan #'list '(1 2 3) '(a b))
      (mapcon #'copy-list '(1 2 3))
      (mapcan #'(lambda (x) nil) '(1 2)))
=> ((1 1 3 3) (1 A 2 B) (1 2 3 2 3 3) NIL)

(let ((parts (list (list 1) (list 2))))
  (let ((r (mapcan #'(lambda (x) x) parts)))
    (list r (eq r (car parts)))))
=> ((1 2) T)

(length (mapcan #'list (make-list 100000 :initial-element 7)))
=> 100000

;; LDIFF copies up to a tail, which may be the atom ending a dotted list.
(let ((l (list 1 2 3)))
  (list (ldiff l (cddr l)) (ldiff l nil) (ldiff l '(3)) (ldiff '(1 2 . 3) 3)
        (ldiff '(1 2 . 3) 4) (eq (ldiff l nil) l)))
=> ((1 2) (1 2 3) (1 2 3) (1 2) (1 2 . 3) NIL)

(let ((l (list 1 2)))
  (list (tailp (cdr l) l) (tailp nil l) (tailp (list 2) l) (tailp 3 '(1 . 3))
        (tailp l l)))
=> (T T NIL T T)

(ldiff 'a nil)
!! 5170 A

;; Association lists.
(let* ((a (list (cons 'a 1) 'b (list 'c 2)))
       (c (copy-alist a)))
  (list c (eq (car c) (car a)) (eq (caddr c) (caddr a)) (equal c a)))
=> (((A . 1) B (C 2)) NIL NIL T)

(list (pairlis '(a b) '(1 2)) (pairlis '(a) '(1) '((z . 0))))
=> (((B . 2) (A . 1)) ((A . 1) (Z . 0)))

(pairlis '(a b) '(1))
!! 8242 (A B) (1)

(list (rassoc 2 '((a . 1) nil (b . 2) (c . 2)))
      (rassoc 2 '((a . 1) (b . 3)) :test #'<)
      (rassoc 1 '((a . 1) (b . 3)) :test-not #'eql)
      (rassoc 4 '((a . 1) (b . 3)) :key #'1+)
      (rassoc-if #'evenp '((a . 1) (b . 2)))
      (rassoc-if-not #'oddp '((a . 1) (b . 2)) :key #'1+))
=> ((B . 2) (B . 3) (B . 3) (B . 3) (B . 2) (A . 1))

(multiple-value-call #'list
  (get-properties '(a 1 b 2 c 3) '(x c b))
  (get-properties '(a 1) '(x)))
=> (B 2 (B 2 C 3) NIL NIL NIL)

(get-properties '(a 1 b) '(x))
!! 5170 (A 1 B)

;; TREE-EQUAL applies the test to atoms only, dotted tails included.
(list (tree-equal '(1 (2 (3)) . 4) '(1 (2 (3)) . 4))
      (tree-equal '(1 (2)) '(1 (3)))
      (tree-equal '(a b) '(a b . c))
      (tree-equal '("a" ("b")) '("a" ("b")))
      (tree-equal '("a" ("b")) '("a" ("b")) :test #'equal)
      (tree-equal '(1 . 2) '(2 . 3) :test-not #'eql)
      (tree-equal 5 5))
=> (T NIL NIL NIL T T T)

(let ((a (make-list 100000 :initial-element '(x)))
      (b (make-list 100000 :initial-element '(x))))
  (list (tree-equal a b) (progn (rplaca (last b) 'y) (tree-equal a b))))
=> (T NIL)

;; A deep car chain goes through the explicit stack.
(let ((a nil) (b nil))
  (dotimes (i 20000) (setq a (list a 1) b (list b 1)))
  (tree-equal a b))
=> T

;; Substitution: the -IF forms, and the destructive forms working in place.
(list (subst-if 0 #'numberp '(1 (2 a) . 3))
      (subst-if-not 0 #'listp '(1 (2 a) b))
      (subst-if 'x #'(lambda (k) (eq k 'a)) '((a 1) (b 2)) :key #'(lambda (k) (if (consp k) (car k)))))
=> ((0 (0 A) . 0) (0 (0 0) 0) (X (B 2)))

(let* ((tree (list 'a (list 'b 'a) 'c 'a))
       (new (nsubst 'x 'a tree)))
  (list new (eq new tree)))
=> ((X (B X) C X) T)

(list (nsubst 'x '(a) (list '(a) (list 'b '(a)) 'a) :test #'equal)
      (nsubst 'x 'a 'a)
      (nsubst 0 2 (list 1 2 3) :test #'(lambda (old y) (and (numberp y) (< old y))))
      (nsubst 'x 3 (list 1 (list 2)) :key #'(lambda (k) (if (numberp k) (1+ k)))))
=> ((X (B X) . X) X (1 2 0) (1 (X)))

(list (nsubst-if 0 #'numberp (list 1 (list 2 'a) 'b))
      (nsubst-if-not 0 #'listp (list 1 (list 2 'a) 'b))
      (nsublis '((a . 1) (b . 2)) (list 'a (list 'b 'c) 'a))
      (nsublis '(((b) . 2)) (list 'a (list 'b)) :test #'equal))
=> ((0 (0 A) B) (0 (0 0) 0) (1 (2 C) 1) (A 2))

(let ((l (make-list 100000 :initial-element 'a)))
  (nsubst 'b 'a l)
  (list (length l) (count 'b l)))
=> (100000 100000)
