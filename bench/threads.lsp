;;;; Independent work on one thread and on two: a loop that allocates
;;;; nothing (FIB) and one that builds lists and drops them.  Each job runs
;;;; twice, first one after the other on one thread, then on two threads at
;;;; once; the figures are wall-clock seconds, since the point is how much
;;;; sooner two processors finish.

(defun fib (n)
  (if (< n 2) n (+ (fib (- n 1)) (fib (- n 2)))))

(defun churn (rounds)
  ;; Build a 10 000-element list, check its length, drop it.
  (let ((total 0))
    (dotimes (i rounds total)
      (let ((l nil))
        (dotimes (j 10000) (push j l))
        (setq total (+ total (length l)))))))

(defun wall-seconds (thunk)
  (let ((t0 (get-internal-real-time)))
    (funcall thunk)
    (/ (- (get-internal-real-time) t0) (float internal-time-units-per-second))))

(defun one-thread (job)
  (wall-seconds (lambda () (funcall job) (funcall job))))

(defun two-threads (job)
  (wall-seconds
   (lambda ()
     (let ((a (bt:make-thread job :name "bench a"))
           (b (bt:make-thread job :name "bench b")))
       (bt:join-thread a)
       (bt:join-thread b)))))

(defun bench-row (name job)
  (let* ((one (one-thread job))
         (two (two-threads job)))
    (format t "~&~28A ~8,3F s ~8,3F s   x~5,2F~%" name one two (/ one (max two 0.001)))))

(defun run-bench (fib-n churn-rounds)
  (format t "~&~28A ~10A ~10A   ~A~%" "job (run twice)" "1 thread" "2 threads" "speed-up")
  (bench-row (format nil "fib ~D" fib-n) (lambda () (fib fib-n)))
  (bench-row (format nil "lists x~D" churn-rounds) (lambda () (churn churn-rounds))))
