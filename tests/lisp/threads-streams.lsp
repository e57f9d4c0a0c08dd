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
