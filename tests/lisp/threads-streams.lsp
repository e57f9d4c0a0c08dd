;;; Streams shared by threads: each output operation comes out whole, on a
;;; string stream and on a file; Lisp code inside an operation uses its
;;; stream again; a throw out of an operation leaves the stream free.

;;! needs: (fboundp 'bt:make-thread) => T

;; Each thread writes n lines of 40 copies of its character, by turns with
;; FORMAT, WRITE-LINE, PRINC of a string ending in a newline, and FORMAT of
;; an instance whose print method writes to the stream again.
(defclass tagged () ((c :initarg :c)))
(defmethod print-object ((x tagged) s)
  (write-string (make-string 20 :initial-element (slot-value x 'c)) s)
  (format s "~A" (make-string 20 :initial-element (slot-value x 'c))))

(defun write-lines (n c s)
  (let ((line (make-string 40 :initial-element c)))
    (dotimes (i n)
      (case (mod i 4)
        (0 (format s "~A~%" line))
        (1 (write-line line s))
        (2 (princ (concatenate 'string line (string #\Newline)) s))
        (3 (format s "~A~%" (make-instance 'tagged :c c)))))))

;; (lines of a, lines of b, lines that are neither)
(defun count-lines (text)
  (let ((a 0) (b 0) (bad 0))
    (with-input-from-string (in text)
      (do ((line (read-line in nil nil) (read-line in nil nil)))
          ((null line) (list a b bad))
        (cond ((string= line "") nil)
              ((string= line (make-string 40 :initial-element #\a)) (incf a))
              ((string= line (make-string 40 :initial-element #\b)) (incf b))
              (t (incf bad)))))))

(defun file-text (name)
  (with-open-file (f name)
    (with-output-to-string (o)
      (do ((line (read-line f nil nil) (read-line f nil nil)))
          ((null line))
        (write-line line o)))))

(defun in-two-threads (fn)
  (mapc #'bt:join-thread
        (list (bt:make-thread (lambda () (funcall fn #\a)))
              (bt:make-thread (lambda () (funcall fn #\b))))))

(let ((s (make-string-output-stream)))
  (in-two-threads (lambda (c) (write-lines 400 c s)))
  (count-lines (get-output-stream-string s)))
=> (400 400 0)

(progn
  (with-open-file (f "threads-streams.tmp" :direction :output :if-exists :supersede)
    (in-two-threads (lambda (c) (write-lines 400 c f))))
  (prog1 (count-lines (file-text "threads-streams.tmp"))
    (delete-file "threads-streams.tmp")))
=> (400 400 0)

;; A print method that throws out of the print: the thread that threw does
;; not keep the stream, and the other thread's lines still come out.
(defclass thrower () ())
(defmethod print-object ((x thrower) s) (write-string "partial" s) (throw 'out :thrown))

(let ((s (make-string-output-stream)))
  (list (bt:join-thread (bt:make-thread (lambda () (catch 'out (print (make-instance 'thrower) s)))))
        (progn (bt:join-thread (bt:make-thread (lambda () (write-lines 8 #\a s))))
               (count-lines (subseq (get-output-stream-string s) 8)))))
=> (:THROWN (8 0 0))

;; Two threads each print to one file an object whose print method writes
;; to the other file: each holds one stream and waits for the other.  One
;; of them is refused with a STREAM-ERROR instead of both waiting for ever;
;; the other's print goes through, and so do all prints afterwards.
(defvar *ts-first* nil)
(defvar *ts-second* nil)
(defvar *ts-in-a* nil)
(defvar *ts-in-b* nil)
(defstruct (ts-to-second (:print-function
                          (lambda (o s d)
                            (declare (ignore o d))
                            (setq *ts-in-a* t)
                            (loop until *ts-in-b* do (sleep 0.01))
                            (write-string "2" *ts-second*)
                            (write-string "a" s)))))
(defstruct (ts-to-first (:print-function
                         (lambda (o s d)
                           (declare (ignore o d))
                           (setq *ts-in-b* t)
                           (loop until *ts-in-a* do (sleep 0.01))
                           (write-string "1" *ts-first*)
                           (write-string "b" s)))))

(progn
  (setq *ts-first* (open "first.txt" :direction :output :if-exists :supersede)
        *ts-second* (open "second.txt" :direction :output :if-exists :supersede))
  (let* ((a (bt:make-thread (lambda () (handler-case (progn (prin1 (make-ts-to-second) *ts-first*) :printed)
                                          (stream-error (c) (stream-error-stream c))))))
         (b (bt:make-thread (lambda () (handler-case (progn (prin1 (make-ts-to-first) *ts-second*) :printed)
                                          (stream-error (c) (stream-error-stream c))))))
         (results (list (bt:join-thread a) (bt:join-thread b))))
    (prin1 (make-ts-to-second) *ts-first*)
    (prin1 (make-ts-to-first) *ts-second*)
    (close *ts-first*)
    (close *ts-second*)
    (list (count :printed results)
          (count-if (lambda (r) (member r (list *ts-first* *ts-second*))) results)
          (length (file-text "first.txt")) (length (file-text "second.txt")))))
=> (1 1 4 4)

;; A thread waiting for a stream that another thread holds can be ended
;; meanwhile: it does not wait for the holder first.
(defvar *ts-go* nil)
(defstruct (ts-slow (:print-function
                     (lambda (o s d)
                       (declare (ignore o d))
                       (loop until *ts-go* do (sleep 0.01))
                       (write-string "slow" s)))))

(let* ((s (open "held.txt" :direction :output :if-exists :supersede))
       (holder (bt:make-thread (lambda () (prin1 (make-ts-slow) s) :held)))
       (waiter (progn (sleep 0.1) (bt:make-thread (lambda () (write-string "waiter" s) :wrote)))))
  (sleep 0.1)
  (bt:destroy-thread waiter)
  (let ((ended (handler-case (bt:join-thread waiter) (error () :ended))))
    (setq *ts-go* t)
    (prog1 (list ended (bt:join-thread holder)) (close s))))
=> (:ENDED :HELD)
