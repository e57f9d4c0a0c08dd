;;; Printing programs for bench/printing.sh, in portable Common Lisp: each
;;; run-... function performs N whole output operations.

(defvar *bench-file* "/tmp/zorva-printing-bench.txt")

;; PRINT of a short list into a string stream.
(defun run-print-string (n)
  (let ((s (make-string-output-stream)))
    (dotimes (i n)
      (print '(a 12 "b") s)
      (when (= 0 (mod i 1000)) (get-output-stream-string s)))
    n))

;; WRITE-CHAR of one character into a string stream.
(defun run-write-char-string (n)
  (let ((s (make-string-output-stream)))
    (dotimes (i n)
      (write-char #\x s)
      (when (= 0 (mod i 1000)) (get-output-stream-string s)))
    n))

;; FORMAT of a line with two arguments into a string stream.
(defun run-format-string (n)
  (let ((s (make-string-output-stream)))
    (dotimes (i n)
      (format s "~A ~D~%" 'item i)
      (when (= 0 (mod i 1000)) (get-output-stream-string s)))
    n))

;; PRINT of a short list into a file.
(defun run-print-file (n)
  (with-open-file (f *bench-file* :direction :output :if-exists :supersede)
    (dotimes (i n) (print '(a 12 "b") f)))
  n)

;; WRITE-STRING of a short line into a file.
(defun run-write-string-file (n)
  (with-open-file (f *bench-file* :direction :output :if-exists :supersede)
    (dotimes (i n) (write-string "a short line" f)))
  n)
