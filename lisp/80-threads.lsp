;;;; Threads: Lisp threads over one shared world, locks and condition
;;;; variables, under the names portable code uses for them.

(defpackage "ZORVA-THREADS"
  (:nicknames "BT" "BORDEAUX-THREADS")
  (:use "COMMON-LISP")
  (:export "MAKE-THREAD" "JOIN-THREAD" "THREAD-ALIVE-P" "CURRENT-THREAD"
           "ALL-THREADS" "THREAD-NAME" "THREAD-YIELD" "THREADP"
           "INTERRUPT-THREAD" "DESTROY-THREAD"
           "MAKE-LOCK" "ACQUIRE-LOCK" "RELEASE-LOCK" "WITH-LOCK-HELD"
           "MAKE-RECURSIVE-LOCK" "ACQUIRE-RECURSIVE-LOCK"
           "RELEASE-RECURSIVE-LOCK" "WITH-RECURSIVE-LOCK-HELD"
           "MAKE-CONDITION-VARIABLE" "CONDITION-WAIT" "CONDITION-NOTIFY"
           "CONDITION-BROADCAST"))

;;; ------------------------------------------------------------------
;;; Threads
;;;
;;; A thread is a structure whose slots the kernel keeps (built-ins 414,
;;; 507-511, 516, 517, src/eval/lisp_thread.cpp): its name, serial and
;;; number, whether it runs, finished or was aborted, and what it came to.
;;; The object outlives the thread, so JOIN-THREAD and the printer read
;;; how it ended whenever they are asked.  CL-USER does not use this
;;; package: a program's own MAKE-LOCK or THREAD-NAME is never taken for
;;; the library's; write BT:MAKE-THREAD.

(in-package "ZORVA-THREADS")

(defun %print-thread (thread stream)
  (print-unreadable-object (thread stream)
    (format stream "THREAD ~A ~A" (%thread-info thread 0)
            (case (%thread-info thread 2) (0 "running") (1 "finished") (t "aborted")))))

(defstruct (thread (:constructor nil) (:copier nil) (:predicate threadp)
                   (:conc-name %thread-) (:print-object %print-thread))
  name serial number state result interrupts kind)

(defvar %thread-class (find-class 'thread))

(defun current-thread ()
  "The thread that calls this."
  (%current-thread %thread-class "main thread"))

;; The outermost handler of every started thread.  At an interactive
;; console it declines, and the error breaks into the thread's own break
;; loop; otherwise it leaves at once for where the stack is shallow again:
;; there the message is printed once, the error is recorded for
;; JOIN-THREAD and the thread ends.
(defun %thread-main (function)
  (let* ((breaks (%thread-info (current-thread) 5))
         (c (catch '%thread-error
              ;; Little to do here: the error may be that the stack is full.
              (handler-bind ((error (lambda (c) (unless breaks (throw '%thread-error c)))))
                (return-from %thread-main (funcall function))))))
    (%thread-info (current-thread) 6 c)
    (format *error-output* "~&Error in thread ~A: ~A~%" (thread-name (current-thread)) c)
    (%abort-to-top-level)))

(defun make-thread (function &key (name "Anonymous thread"))
  "Start a thread that calls FUNCTION with no arguments, named NAME; the
thread object."
  (current-thread)                      ; the first thread's object exists first
  (%start-thread %thread-class name #'%thread-main function))

(defun join-thread (thread)
  "Wait for THREAD to end and return the values its function returned.  An
error when an error, or DESTROY-THREAD, ended it."
  (when (eq thread (current-thread))
    (error "The thread ~A cannot wait for itself" (%thread-info thread 0)))
  (if (eql (%join-thread thread) 1)
      (values-list (%thread-info thread 4))
      (let ((c (%thread-info thread 4)))
        (if c
            (error "The thread ~A ended by an error: ~A" (%thread-info thread 0) c)
            (error "The thread ~A was ended before it returned" (%thread-info thread 0))))))

(defun thread-alive-p (thread)
  "True while THREAD runs."
  (%thread-info thread 1))

(defun thread-name (thread)
  "The name THREAD was made with."
  (%thread-info thread 0))

(defun all-threads ()
  "The threads that run, the first thread first."
  (current-thread)
  (%all-threads))

(defun thread-yield ()
  "Let other threads run."
  (%thread-yield))

(defun interrupt-thread (thread function &rest arguments)
  "Make THREAD call FUNCTION with ARGUMENTS at its next chance, between two
of its evaluations; THREAD."
  (%interrupt-thread thread (if arguments
                                (lambda () (apply function arguments))
                                function))
  thread)

(defun destroy-thread (thread)
  "End THREAD at its next chance: it leaves what it was doing as by a
throw, its cleanup forms run; THREAD."
  (%destroy-thread thread)
  thread)

;;; ------------------------------------------------------------------
;;; Locks and condition variables
;;;
;;; Both are structures whose slots the kernel keeps (built-ins 512-515,
;;; src/builtins/locks.cpp): the slots are in the kernel's order, only the
;;; kernel changes them, and what changes is read through it.  A wait is a
;;; loop over kernel waits of at most a tenth of a second, so a waiting
;;; thread answers interrupts and lets the collector run between them.

(in-package "ZORVA-THREADS")

;; The printers come first: DEFSTRUCT takes the function they name as it is.
(defun %print-lock (lock stream)
  (print-unreadable-object (lock stream)
    (write-string (if (%recursive-lock-p lock) "RECURSIVE-LOCK" "LOCK") stream)
    (when (%lock-name lock)
      (write-char #\space stream)
      (prin1 (%lock-name lock) stream))
    (write-string (if (%lock-operation lock 4) " held" " free") stream)))

(defun %print-condition-variable (cv stream)
  (print-unreadable-object (cv stream)
    (write-string "CONDITION-VARIABLE" stream)
    (when (%condition-name cv)
      (write-char #\space stream)
      (prin1 (%condition-name cv) stream))
    (let ((n (%condition-operation cv 5)))
      (when (> n 0) (format stream " ~D waiting" n)))))

(defstruct (lock (:constructor nil) (:copier nil) (:predicate %lockp)
                 (:conc-name %lock-) (:print-object %print-lock))
  name owner serial depth kind)

(defstruct (recursive-lock (:include lock) (:constructor nil) (:copier nil)
                           (:predicate %recursive-lock-p)))

(defstruct (condition-variable (:constructor nil) (:copier nil)
                               (:predicate %condition-variable-p)
                               (:conc-name %condition-)
                               (:print-object %print-condition-variable))
  name waiters wakeups kind)

(defvar %lock-class (find-class 'lock))
(defvar %recursive-lock-class (find-class 'recursive-lock))
(defvar %condition-variable-class (find-class 'condition-variable))

;; The longest single kernel wait, in milliseconds.
(defconstant %wait-slice 100)

(defun make-lock (&optional name)
  "A new lock, free, named NAME."
  (%make-lock %lock-class name nil))

(defun make-recursive-lock (&optional name)
  "A new lock that its owner may take again, and must release as often."
  (%make-lock %recursive-lock-class name t))

;; Every draw from a random state, and every copy of one, holds this lock
;; (see RANDOM).
(setq cl-user::%random-lock (make-recursive-lock "random states"))

(defun acquire-lock (lock &optional (wait-p t))
  "Take LOCK, waiting for it when WAIT-P is true; T when it was taken."
  (cond ((%lock-operation lock 0) t)
        ((not wait-p) nil)
        (t (loop (when (%lock-operation lock 1 %wait-slice) (return t))))))

(defun release-lock (lock)
  "Give LOCK up; an error when this thread does not hold it."
  (%lock-operation lock 2)
  lock)

(defun acquire-recursive-lock (lock &optional (wait-p t))
  "Take the recursive LOCK once more, waiting for it when WAIT-P is true."
  (acquire-lock lock wait-p))

(defun release-recursive-lock (lock)
  "Give up one level of the recursive LOCK."
  (release-lock lock))

;; The body of the WITH- macros: the lock is released on any exit, when it
;; was taken and is still held (a CONDITION-WAIT left by a throw may not
;; have got it back).
(defun %lock-held-form (place body)
  (let ((lock (gensym "LOCK")) (taken (gensym "TAKEN")))
    `(let ((,lock ,place) (,taken nil))
       (unwind-protect
            (progn (setq ,taken (acquire-lock ,lock)) ,@body)
         (when ,taken (%lock-operation ,lock 3))))))

(defmacro with-lock-held ((place) &body body)
  "Evaluate BODY with the lock PLACE evaluates to held, and release it on
any exit."
  (%lock-held-form place body))

(defmacro with-recursive-lock-held ((place) &body body)
  "Evaluate BODY with the recursive lock PLACE evaluates to taken once more,
and give that level up on any exit."
  (%lock-held-form place body))

(defun make-condition-variable (&key name)
  "A new condition variable named NAME."
  (%make-condition-variable %condition-variable-class name))

;; Take LOCK again to the depth it had.
(defun %relock (lock depth)
  (loop (when (%lock-operation lock 1 %wait-slice) (return)))
  (when (> depth 1) (%lock-operation lock 6 depth)))

(defun condition-wait (condition-variable lock &key timeout)
  "Give LOCK up and wait for CONDITION-VARIABLE to be notified, or for
TIMEOUT seconds when given; then take LOCK again.  True unless the time
ran out."
  (let* ((deadline (and timeout
                        (+ (get-internal-real-time)
                           (ceiling (* timeout internal-time-units-per-second)))))
         (depth (%condition-operation condition-variable 0 lock))
         (woken nil))
    (unwind-protect
         (setq woken
               (loop
                 (let ((ms (if deadline
                               (max 0 (min %wait-slice (- deadline (get-internal-real-time))))
                               %wait-slice)))
                   (when (%condition-operation condition-variable 1 ms) (return t))
                   (when (and deadline (<= ms 0)) (return nil)))))
      (unless woken (%condition-operation condition-variable 2))
      (%relock lock depth))
    woken))

(defun condition-notify (condition-variable)
  "Wake one thread waiting on CONDITION-VARIABLE, if any waits."
  (%condition-operation condition-variable 3))

(defun condition-broadcast (condition-variable)
  "Wake every thread waiting on CONDITION-VARIABLE."
  (%condition-operation condition-variable 4))

(in-package "COMMON-LISP-USER")
