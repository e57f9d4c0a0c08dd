;;;; Independent work on one thread and on two: a loop that allocates
;;;; nothing (FIB) and one that builds lists and drops them.  Each round runs
;;;; the job twice on one started thread, one run after the other, then once
;;;; on each of two started threads at once; the speed-up is the first
;;;; wall-clock time over the second.  The rounds alternate, so that a burst
;;;; of other work on the machine spoils both sides of a round alike, and
;;;; the best and the median speed-up of the rounds are printed.  Processor
;;;; time (the whole process's) shows what the second thread costs: equal on
;;;; both sides when nothing is shared.

(defun fib (n)
  (if (< n 2) n (+ (fib (- n 1)) (fib (- n 2)))))

(defun churn (rounds)
  ;; Build a 10 000-element list, check its length, drop it.
  (let ((total 0))
    (dotimes (i rounds total)
      (let ((l nil))
        (dotimes (j 10000) (push j l))
        (setq total (+ total (length l)))))))

(defun seconds (units)
  (/ units (float internal-time-units-per-second)))

;; Wall-clock and processor seconds of running each function of THUNKS on
;; a thread of its own, all at once.
(defun timed-threads (thunks)
  (let ((t0 (get-internal-real-time))
        (c0 (get-internal-run-time)))
    (let ((threads (mapcar (lambda (f) (bt:make-thread f :name "bench")) thunks)))
      (mapc #'bt:join-thread threads))
    (values (seconds (- (get-internal-real-time) t0))
            (seconds (- (get-internal-run-time) c0)))))

(defun median (numbers)
  (let ((sorted (sort (copy-list numbers) #'<)))
    (nth (floor (length sorted) 2) sorted)))

(defun bench-row (name job rounds)
  (let ((ones nil) (twos nil) (ups nil) (cpu-ones nil) (cpu-twos nil))
    (dotimes (r rounds)
      (multiple-value-bind (one cpu-one)
          (timed-threads (list (lambda () (funcall job) (funcall job))))
        (multiple-value-bind (two cpu-two) (timed-threads (list job job))
          (push one ones)
          (push two twos)
          (push cpu-one cpu-ones)
          (push cpu-two cpu-twos)
          (push (/ one (max two 0.001)) ups))))
    (format t "~&~18A ~7,2F s ~7,2F s ~7,2F s ~7,2F s   x~4,2F  x~4,2F~%"
            name (median ones) (median twos) (median cpu-ones) (median cpu-twos)
            (reduce #'max ups) (median ups))))

(defun run-bench (fib-n churn-rounds rounds)
  (format t "~&~D rounds; medians of wall-clock and processor seconds~%" rounds)
  (format t "~&~18A ~9@A ~9@A ~9@A ~9@A   ~5@A  ~6@A~%"
          "job (twice)" "1 thread" "2 threads" "cpu 1" "cpu 2" "best" "median")
  (bench-row (format nil "fib ~D" fib-n) (lambda () (fib fib-n)) rounds)
  (bench-row (format nil "lists x~D" churn-rounds) (lambda () (churn churn-rounds)) rounds))
