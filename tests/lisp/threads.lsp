;;; Threads: values through JOIN-THREAD, names and printing, many threads
;;; working while the collector runs, errors and ends inside threads,
;;; interrupts.  The limit on threads alive at once: thread-limit.lsp.

(defun %wait-until-ended (th)
  (loop while (bt:thread-alive-p th) do (sleep 0.01))
  th)

;; A thread's values come back whole; its object prints how it stands, and
;; outlives it.
(let ((th (bt:make-thread (lambda () (values 1 :two "three")) :name "w")))
  (list (multiple-value-list (bt:join-thread th)) (bt:thread-name th) th
        (bt:thread-alive-p th) (bt:threadp th) (bt:threadp 5)))
=> ((1 :TWO "three") "w" #<THREAD w finished> NIL T NIL)

;; The first thread is first among the live ones; a started thread sees
;; itself running, among them.
(let* ((me (bt:current-thread))
       (th (bt:make-thread (lambda () (list (prin1-to-string (bt:current-thread))
                                             (length (bt:all-threads))
                                             (eq (car (last (bt:all-threads))) (bt:current-thread))))
                           :name "seer")))
  (list me (eq me (car (bt:all-threads))) (bt:join-thread th) (length (bt:all-threads))))
=> (#<THREAD main thread running> T ("#<THREAD seer running>" 2 T) 1)

(bt:join-thread (bt:current-thread))
!! 0x1430

(bt:join-thread 'not-a-thread)
!! 5170 NOT-A-THREAD

;; Four threads each build, check and drop structures (lists, strings,
;; vectors, hash tables) again and again while the collector runs for all
;; of them; every result is checked.
(defun %churn (seed rounds)
  (loop repeat rounds
        always (let ((l nil) (h (make-hash-table)))
                 (dotimes (i 2000)
                   (push (cons i (format nil "~D-~D" seed i)) l)
                   (setf (gethash i h) (vector seed i)))
                 (let ((i 2000))
                   (and (every (lambda (x)
                                 (decf i)
                                 (and (= (car x) i) (string= (cdr x) (format nil "~D-~D" seed i))
                                      (equalp (gethash i h) (vector seed i))))
                               l)
                        (= i 0) (= (hash-table-count h) 2000))))))

(let ((ths (loop for k below 4 collect (let ((k k)) (bt:make-thread (lambda () (%churn k 4)))))))
  (%gc 3)
  (list (mapcar #'bt:join-thread ths) (length (bt:all-threads))))
=> ((T T T T) 1)

;; An error with no handler ends its thread: the message is printed once,
;; naming the thread, and JOIN-THREAD reports it; the process goes on.
(let ((th (bt:make-thread (lambda () (car 5)) :name "bad")))
  (%wait-until-ended th)
  (list th (handler-case (bt:join-thread th) (error (c) (princ-to-string c)))))
-> Error in thread bad: The argument 5 is of the wrong type or out of range
=> (#<THREAD bad aborted> "The thread bad ended by an error: The argument 5 is of the wrong type or out of range")

;; A handler inside the thread is the thread's own.
(bt:join-thread (bt:make-thread (lambda () (handler-case (car 5) (error () :caught)))))
=> :CAUGHT

;; A throw to the thread's listener ends it and frees its record.
(let ((th (bt:make-thread (lambda () (%abort-to-top-level) :not-reached) :name "thrown")))
  (%wait-until-ended th)
  (list th (length (bt:all-threads))
        (handler-case (bt:join-thread th) (error (c) (princ-to-string c)))))
=> (#<THREAD thrown aborted> 1 "The thread thrown was ended before it returned")

;; INTERRUPT-THREAD runs a function in the thread between its evaluations;
;; DESTROY-THREAD ends it, its cleanup forms running.
(defvar *box* nil)

(let ((th (bt:make-thread (lambda () (unwind-protect (loop (sleep 0.01)) (push :cleaned *box*)))
                          :name "sleeper")))
  (bt:interrupt-thread th (lambda (x) (push x *box*)) :poked)
  (loop until *box* do (sleep 0.01))
  (bt:destroy-thread th)
  (%wait-until-ended th)
  (list th (reverse *box*) (bt:interrupt-thread th #'car)))
=> (#<THREAD sleeper aborted> (:POKED :CLEANED) #<THREAD sleeper aborted>)
