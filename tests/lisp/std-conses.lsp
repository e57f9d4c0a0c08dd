;;; Conses: the four-letter accessors CAAAAR to CDDDDR and their places.

;; Each reads its letters from the right: CADDDR is the fourth element.
(let ((tree '((((1 . 2) . (3 . 4)) . ((5 . 6) . (7 . 8)))
              . (((9 . 10) . (11 . 12)) . ((13 . 14) . (15 . 16))))))
  (list (caaaar tree) (cdaaar tree) (cadaar tree) (cddaar tree)
        (caadar tree) (cdadar tree) (caddar tree) (cdddar tree)
        (caaadr tree) (cdaadr tree) (cadadr tree) (cddadr tree)
        (caaddr tree) (cdaddr tree) (cadddr tree) (cddddr tree)))
=> (1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16)

(list (cadddr '(a b c d e)) (cddddr '(a b c d e)) (cadadr '(a (b c) d)) (cddddr '(a b)))
=> (D (E) C NIL)

(caaaar '(a))
!! 5170 A

;; SETF of each changes the cons its last three letters reach; the
;; subforms are evaluated once, left to right.
(let ((l (list 1 2 3 4 5)) (m (list (list (list (list 'x))))))
  (setf (cadddr l) 'four (cddddr l) '(end) (caaaar m) 'y)
  (list l m))
=> ((1 2 3 FOUR END) ((((Y)))))

(let* ((cells (list (list 1 (list 2 3)) (list 4 (list 5 6))))
       (tree (list (list 'a (list 'b 'c))))
       (i -1))
  (incf (cadadr (nth (incf i) cells)) 10)
  (push 'p (cdadar tree))
  (list i cells tree))
=> (0 ((1 (2 13)) (4 (5 6))) ((A (B P C))))
