;;; Streams: whole sequences read and written, and what a stream can be
;;; asked.

;; WRITE-SEQUENCE writes a range of characters, from a string or any
;; sequence, and returns the sequence.
(let* ((v (vector #\x #\y #\z))
       (text (with-output-to-string (s)
               (write-sequence "hello" s :start 1 :end 3)
               (write-sequence v s :start 1)
               (write-sequence '(#\! #\?) s :end 1))))
  (list text (eq (write-sequence v (make-string-output-stream)) v)))
=> ("elyz!" T)

(write-sequence "abc" (make-string-output-stream) :end 4)
!! 8242 4 "abc"

;; READ-SEQUENCE fills a range and returns where it stopped: the end of
;; the range, or where the stream ran out.
(let ((s (make-string-input-stream "abcdefg"))
      (a (make-string 3 :initial-element #\-))
      (b (make-array 6 :initial-element nil)))
  (list (read-sequence a s) (copy-seq a) (read-sequence b s :start 1) b
        (read-sequence b s) (read-sequence a (make-string-input-stream "z") :start 2) a))
=> (3 "abc" 5 #(NIL #\d #\e #\f #\g NIL) 0 3 "abz")

;; Binary files take integers.
(progn
  (with-open-file (out "bytes.bin" :direction :output :element-type '(unsigned-byte 8))
    (write-sequence '(1 2 250 4) out :start 1))
  (with-open-file (in "bytes.bin" :element-type '(unsigned-byte 8))
    (let ((v (make-array 5 :initial-element 0)))
      (list (read-sequence v in) v))))
=> (3 #(2 250 4 0 0))

;; Open and closed streams; the console is interactive.
(let ((file (open "bytes.bin")))
  (list (open-stream-p file) (progn (close file) (open-stream-p file))
        (open-stream-p (make-string-input-stream "x")) (open-stream-p *terminal-io*)
        (interactive-stream-p *terminal-io*) (interactive-stream-p (make-string-output-stream))))
=> (T NIL T T T NIL)

(open-stream-p 'not-a-stream)
!! 5170 NOT-A-STREAM

;; One byte for each character in a file.
(with-open-file (out "text.txt" :direction :output)
  (list (file-string-length out #\a) (file-string-length out "hello")))
=> (1 5)

(list (typep (make-string-input-stream "a") 'string-stream)
      (typep (make-string-output-stream) 'file-stream)
      (with-open-file (in "text.txt") (list (typep in 'file-stream) (typep in 'string-stream))))
=> (T NIL (T NIL))
