;;; Locks and condition variables: printing, the owner's rules, recursive
;;; nesting, release on a throw, a wait that runs out; then with threads: a
;;; producer and a consumer moving 100 000 items, two threads counting under
;;; a lock, a lock handed over, a broadcast, a lock left by an ended thread.

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

;;; With several threads.  The counts are the full ones normally, smaller
;;; when the collector runs every few allocations.

(defvar *items* (if (getenv "ZORVA_GC_STRESS") 3000 100000))

(defvar *rounds* (if (getenv "ZORVA_GC_STRESS") 500 20000))

;; A bounded queue: a ring of 64 places under one lock, with a condition
;; variable for each direction.
(defstruct (ring (:constructor make-ring ()))
  (lock (bt:make-lock "ring")) (not-empty (bt:make-condition-variable))
  (not-full (bt:make-condition-variable)) (places (make-array 64)) (head 0) (count 0))

(defun ring-put (r x)
  (bt:with-lock-held ((ring-lock r))
    (loop while (= (ring-count r) 64) do (bt:condition-wait (ring-not-full r) (ring-lock r)))
    (setf (svref (ring-places r) (mod (+ (ring-head r) (ring-count r)) 64)) x)
    (incf (ring-count r))
    (bt:condition-notify (ring-not-empty r))))

(defun ring-take (r)
  (bt:with-lock-held ((ring-lock r))
    (loop while (= (ring-count r) 0) do (bt:condition-wait (ring-not-empty r) (ring-lock r)))
    (prog1 (svref (ring-places r) (ring-head r))
      (setf (ring-head r) (mod (+ (ring-head r) 1) 64))
      (decf (ring-count r))
      (bt:condition-notify (ring-not-full r)))))

;; A producer and a consumer move every item once, in order: the count, the
;; sum and the order all come out right, and the queue ends empty.
(let* ((r (make-ring))
       (consumer (bt:make-thread
                  (lambda ()
                    (let ((sum 0) (n 0) (in-order t))
                      (dotimes (i *items*)
                        (let ((x (ring-take r)))
                          (unless (eql x (+ i 1)) (setq in-order nil))
                          (setq sum (+ sum x) n (+ n 1))))
                      (list n sum in-order)))
                  :name "consumer"))
       (producer (bt:make-thread
                  (lambda () (dotimes (i *items*) (ring-put r (+ i 1))) :done)
                  :name "producer")))
  (list (bt:join-thread producer)
        (equal (bt:join-thread consumer) (list *items* (/ (* *items* (+ *items* 1)) 2) t))
        (ring-count r)))
=> (:DONE T 0)

;; Two threads counting under one lock lose no increment.
(let* ((l (bt:make-lock "counter")) (n 0)
       (work (lambda () (dotimes (i *rounds*) (bt:with-lock-held (l) (setq n (+ n 1)))) :done))
       (a (bt:make-thread work)) (b (bt:make-thread work)))
  (list (bt:join-thread a) (bt:join-thread b) (= n (* 2 *rounds*)) l))
=> (:DONE :DONE T #<LOCK "counter" free>)

;; A thread waiting for a recursive lock gets it when its owner has given
;; up every level.
(let* ((l (bt:make-recursive-lock "r")) (got nil) (th nil) (before nil))
  (bt:with-recursive-lock-held (l)
    (bt:with-recursive-lock-held (l)
      (setq th (bt:make-thread (lambda () (bt:with-recursive-lock-held (l) (setq got t)) :done))))
    (sleep 0.05)
    (setq before got))
  (list before (bt:join-thread th) got))
=> (NIL :DONE T)

;; A broadcast wakes every waiter; a notify wakes one.
(let* ((l (bt:make-lock)) (c (bt:make-condition-variable)) (ready nil) (woken 0)
       (threads (loop for i below 3
                      collect (bt:make-thread
                               (lambda ()
                                 (bt:with-lock-held (l)
                                   (loop until ready do (bt:condition-wait c l))
                                   (setq woken (+ woken 1)))
                                 :woken)))))
  (loop until (= (%condition-operation c 5) 3) do (sleep 0.01))
  (bt:with-lock-held (l) (setq ready t) (bt:condition-broadcast c))
  (list (mapcar (function bt:join-thread) threads) woken))
=> ((:WOKEN :WOKEN :WOKEN) 3)

;; A lock its owner thread still held when it ended is free.
(let ((l (bt:make-lock "left")))
  (bt:join-thread (bt:make-thread (lambda () (bt:acquire-lock l))))
  (list (bt:acquire-lock l nil) (bt:release-lock l)))
=> (T #<LOCK "left" free>)

;; A wait that runs out in another thread is false there too, and the
;; thread holds the lock again afterwards.
(let* ((l (bt:make-lock)) (c (bt:make-condition-variable)))
  (bt:join-thread
   (bt:make-thread (lambda () (bt:with-lock-held (l) (list (bt:condition-wait c l :timeout 0.05)
                                                           (%lock-operation l 5)))))))
=> (NIL 1)

;; A thread ended by DESTROY-THREAD while it waits on a condition
;; variable, or for a lock another thread holds, leaves: the lock is free
;; afterwards, its cleanup forms ran, and JOIN-THREAD says it was ended.
(let* ((l (bt:make-lock)) (c (bt:make-condition-variable)) (cleaned 0)
       (waiter (bt:make-thread
                (lambda ()
                  (unwind-protect (bt:with-lock-held (l) (loop (bt:condition-wait c l)))
                    (setq cleaned (+ cleaned 1)))))))
  (loop until (= (%condition-operation c 5) 1) do (sleep 0.01))
  (bt:destroy-thread waiter)
  (list (handler-case (bt:join-thread waiter) (error () :ended))
        cleaned (bt:acquire-lock l nil) (bt:release-lock l) (%condition-operation c 5)))
=> (:ENDED 1 T #<LOCK free> 0)

(let* ((l (bt:make-lock)) (cleaned nil) blocked)
  (bt:acquire-lock l)
  (setq blocked (bt:make-thread (lambda () (unwind-protect (bt:acquire-lock l) (setq cleaned t)))))
  (sleep 0.05)
  (bt:destroy-thread blocked)
  (list (handler-case (bt:join-thread blocked) (error () :ended)) cleaned
        (bt:thread-alive-p blocked) (progn (bt:release-lock l) (bt:acquire-lock l nil))))
=> (:ENDED T NIL T)

;; Threads drawing from one random state at once take turns: together
;; they draw the numbers one thread would have drawn, each once.  (A draw
;; below 2^32 takes one step of the state.)  A copy made meanwhile is of
;; a whole state: it replays a stretch of the same numbers.
(defun rl-draws (state n) (loop repeat n collect (random 4294967296 state)))
(defvar *rl-go* nil)

(let* ((shared (make-random-state t))
       (replay (make-random-state shared))
       (threads (loop repeat 3
                      collect (bt:make-thread
                               (lambda ()
                                 (loop until *rl-go* do (bt:thread-yield))
                                 (let ((copy (make-random-state shared)))
                                   (list copy (rl-draws shared 1000)))))))
       (results (progn (setq *rl-go* t) (mapcar #'bt:join-thread threads)))
       (drawn (reduce #'append (mapcar #'second results)))
       (expected (rl-draws replay 3000)))
  (list (equal (sort drawn #'<) (sort (copy-list expected) #'<))
        (every (lambda (result) (search (rl-draws (first result) 3) expected)) results)))
=> (T T)
