;;; The limit on threads alive at once.  Kept apart from the other thread
;;; checks, which the thread-sanitizer build also runs: under the sanitizer
;;; each of two thousand threads makes every synchronisation of the others
;;; dearer, and this check alone outlasts the time a file is given.

;; 2046 threads may run beside the first; one more is refused with error
;; 8223 "NEWTHREAD", and the records come back when they end.
(defvar *go* nil)

(defvar *many* nil)

(handler-case (loop (push (bt:make-thread (lambda () (loop until *go* do (sleep 0.02)) t)) *many*))
  (error (c) (list (length *many*) (length (bt:all-threads)) (princ-to-string c))))
=> (2046 2047 "I/O error on NEWTHREAD: too many threads")

(progn (setq *go* t)
       (list (every #'bt:join-thread *many*) (length (bt:all-threads))
             (bt:join-thread (bt:make-thread (lambda () :again)))))
=> (T 1 :AGAIN)
