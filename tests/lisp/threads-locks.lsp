;;; Locks and condition variables: printing, the owner's rules, recursive
;;; nesting, release on a throw, a wait that runs out.

;; Locks print with their name and state; a lock's state is what it is when
;; printed.
(let ((l (bt:make-lock "q")))
  (list l (bt:acquire-lock l) (prin1-to-string l) (bt:release-lock l)
        (bt:make-recursive-lock) (bt:make-condition-variable :name "c")))
=> (#<LOCK "q" free> T "#<LOCK \"q\" held>" #<LOCK "q" free> #<RECURSIVE-LOCK free> #<CONDITION-VARIABLE "c">)

;; Only the owner releases; a plain lock is not taken twice by its owner,
;; whether it would wait or not.
(bt:release-lock (bt:make-lock "a"))
!! 4188 #<LOCK "a" free>

(let ((l (bt:make-lock "b"))) (bt:acquire-lock l) (bt:acquire-lock l nil))
!! 4189 #<LOCK "b" held>

(bt:with-lock-held ('not-a-lock) 1)
!! 5170 NOT-A-LOCK

;; The body's values come back; a throw out of the body releases the lock,
;; and so does an error caught outside it.
(let ((l (bt:make-lock "w")))
  (list (bt:with-lock-held (l) (values 1 2))
        (catch 'out (bt:with-lock-held (l) (throw 'out (prin1-to-string l))))
        (car (multiple-value-list (%catch-error (bt:with-lock-held (l) (car 5)))))
        (prin1-to-string l) (bt:acquire-lock l nil)))
=> (1 "#<LOCK \"w\" held>" NIL "#<LOCK \"w\" free>" T)

;; A recursive lock nests and is free after as many releases as takes;
;; a throw from the inner level gives up that level only.
(let ((r (bt:make-recursive-lock "r")) (depths nil))
  (bt:with-recursive-lock-held (r)
    (bt:with-recursive-lock-held (r)
      (bt:acquire-recursive-lock r)
      (push (%lock-operation r 5) depths)
      (bt:release-recursive-lock r)
      (push (%lock-operation r 5) depths))
    (catch 'out (bt:with-recursive-lock-held (r) (throw 'out nil)))
    (push (%lock-operation r 5) depths))
  (list (reverse depths) r))
=> ((3 2 1) #<RECURSIVE-LOCK "r" free>)

;; A wait that runs out is false and leaves the lock held again; waiting
;; needs the lock.
(let ((l (bt:make-lock)) (c (bt:make-condition-variable :name "t")))
  (bt:with-lock-held (l)
    (list (bt:condition-wait c l :timeout 0.05) (bt:condition-wait c l :timeout 0)
          (prin1-to-string l) c)))
=> (NIL NIL "#<LOCK held>" #<CONDITION-VARIABLE "t">)

(bt:condition-wait (bt:make-condition-variable) (bt:make-lock "n"))
!! 4188 #<LOCK "n" free>

;; A timeout that is no number is refused before the wait gives the lock up.
(let ((l (bt:make-lock "k")) (c (bt:make-condition-variable)))
  (bt:with-lock-held (l)
    (list (not (null (cadr (multiple-value-list (%catch-error (bt:condition-wait c l :timeout 'soon))))))
          (prin1-to-string l) c)))
=> (T "#<LOCK \"k\" held>" #<CONDITION-VARIABLE>)

;; A recursive lock taken twice is given up whole by the wait and taken back
;; to the same depth.
(let ((r (bt:make-recursive-lock)) (c (bt:make-condition-variable)))
  (bt:with-recursive-lock-held (r)
    (bt:with-recursive-lock-held (r)
      (list (bt:condition-wait c r :timeout 0.01) (%lock-operation r 5)))))
=> (NIL 2)

;; Notifying with nobody waiting does nothing.
(let ((c (bt:make-condition-variable)))
  (list (bt:condition-notify c) (bt:condition-broadcast c) c))
=> (NIL NIL #<CONDITION-VARIABLE>)
