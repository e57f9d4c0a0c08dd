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

;; Composite streams take every reading and printing function.
(let* ((a (make-string-output-stream)) (b (make-string-output-stream))
       (both (make-broadcast-stream a b)))
  (format both "x=~A" 1)
  (print 'p both)
  (write-line "end" both)
  (list (string= (get-output-stream-string a) "x=1
P end
")
        (string= (get-output-stream-string b) (format nil "x=1~%P end~%"))
        (broadcast-stream-streams (make-broadcast-stream)) (eq (car (broadcast-stream-streams both)) a)
        (with-output-to-string (s) (write-string "gone" (make-broadcast-stream)) (write-string "ok" s))))
=> (T T NIL T "ok")

(let ((c (make-concatenated-stream (make-string-input-stream "ab") (make-string-input-stream "c d")
                                   (make-string-input-stream "(1 2)"))))
  (list (read-char c) (read c) (read c) (length (concatenated-stream-streams c)) (read c)
        (read c nil :eof) (concatenated-stream-streams c) (read-char (make-concatenated-stream) nil :none)))
=> (#\a BC D 1 (1 2) :EOF NIL :NONE)

;; An echo stream writes what is read from it; a character put back is
;; not echoed twice.
(let* ((out (make-string-output-stream))
       (e (make-echo-stream (make-string-input-stream "(1 2) xy") out)))
  (list (read e) (read-char e) (progn (unread-char (read-char e) e) (read-char e)) (read-line e)
        (get-output-stream-string out) (eq (echo-stream-input-stream e) (echo-stream-output-stream e))))
=> ((1 2) #\SPACE #\x "y" "(1 2) xy" NIL)

(let* ((out (make-string-output-stream))
       (two (make-two-way-stream (make-string-input-stream "42 rest") out)))
  (list (read two) (progn (princ "done" two) (fresh-line two)
                          (string= (get-output-stream-string out) (format nil "done~%")))
        (input-stream-p two) (output-stream-p two) (typep two 'two-way-stream) (typep two 'echo-stream)
        (eq (two-way-stream-output-stream two) out) (read-line two)))
=> (42 T T T T NIL T "rest")

;; A synonym stream is the stream its symbol holds at each use.
(progn
  (defvar *std-target* (make-string-output-stream))
  (let ((syn (make-synonym-stream '*std-target*))
        (first *std-target*))
    (write-string "one" syn)
    (setq *std-target* (make-string-output-stream))
    (write-string "two" syn)
    (list (get-output-stream-string first) (get-output-stream-string *std-target*)
          (synonym-stream-symbol syn) (prin1-to-string syn) (typep syn 'synonym-stream))))
=> ("one" "two" *STD-TARGET* "#<IO-synonym-stream *STD-TARGET*>" T)

(make-two-way-stream (make-string-output-stream) *standard-output*)
!! 5170

(make-broadcast-stream (make-string-input-stream "x"))
!! 5170

(synonym-stream-symbol (make-broadcast-stream))
!! 8242
