;;; Lists, membership and sets: accessors, destructive operations,
;;; substitution and the accumulation order of the set operations.

;; A composed accessor reports the whole argument it was given.
(caddr '(1 . 2))
!! 5170 (1 . 2)

(list (caddr '(1 2 3)) (nth 1 '(a b c)) (nthcdr 2 '(a b c)) (last '(1 2 3)))
=> (3 B (C) (3))

;; NCONC keeps the first argument's cell.
(let* ((a (list 1 2)) (b (nconc a (list 3))))
  (list b (eq a b)))
=> ((1 2 3) T)

;; SUBST builds fresh cells where it substitutes and leaves the source alone.
(let* ((tree (list 1 (list 2 1) 3)) (new (subst 9 1 tree)))
  (list new tree (eq new tree)))
=> ((9 (2 9) 3) (1 (2 1) 3) NIL)

(sublis '((a . 1) (b . 2)) '(a (b c) . a))
=> (1 (2 C) . 1)

(list (assoc 'b '((a 1) (b 2))) (assoc 2 '((1 . a) (3 . b)) :test (function <))
      (member 3 '(1 2 3 4)) (member 2 '(1 2 3) :test-not (function eql)))
=> ((B 2) (3 . B) (3 4) (1 2 3))

(member 1 '(1) :test (function eql) :test-not (function eql))
!! 8248

;; The set operations put what they find in front of what they keep.
(union '(1 2 3) '(2 4))
=> (3 1 2 4)

(set-exclusive-or '(1 2 3) '(2 4))
=> (4 3 1)

(list (intersection '(1 2 3) '(3 2 5)) (set-difference '(1 2 3) '(2)) (subsetp '(1 2) '(2 1 3)))
=> ((3 2) (3 1) T)

(nset-exclusive-or (list 1 2 3) (list 2 4))
=> (4 3 1)

;; EVERY stops at the shortest sequence, a list and a string here.
(list (every (function characterp) "abc") (every (function eql) '(#\a #\b #\c) "ab")
      (some (function numberp) '(a 2 b)))
=> (T T T)

;; Long lists go through the tree walks without native recursion.
(let ((l nil))
  (dotimes (i 100000) (setq l (cons i l)))
  (let ((c (copy-tree l)))
    (list (equal c l) (eq c l) (length (subst 'x 5 l)))))
=> (T NIL 100000)
