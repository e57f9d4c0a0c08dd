;;; Streams of the library: the printing functions, string streams and
;;; their macros, files opened with WITH-OPEN-FILE (closed also when the
;;; body is left by a throw or an error), and a report built the way a
;;; user program would build it.

;;! needs: (fboundp 'with-open-file) => T

(defmacro signals (form)
  (list 'multiple-value-call '(lambda (value failure) (if failure 'error value))
        (list '%catch-error form)))

;; The lines of a text, so that the checks stay on one line each.
(defun lines (text)
  (with-input-from-string (in text)
    (do ((line (read-line in nil nil) (read-line in nil nil))
         (out nil (cons line out)))
        ((null line) (reverse out)))))

;; PRINC, PRIN1, PRINT, TERPRI, WRITE-LINE and their values.
(lines (with-output-to-string (s)
         (princ "a\"b" s) (prin1 "a\"b" s) (terpri s) (write-line "xyz" s :start 1)
         (princ 'sym s) (prin1 #\c s) (print 42 s) (write-string "tail" s :end 2)))
=> ("a\"b\"a\\\"b\"" "yz" "SYM#\\c" "42 ta")

(list (princ 1 (make-string-output-stream)) (prin1 "x" (make-string-output-stream))
      (terpri (make-string-output-stream))
      (write-line "ab" (make-string-output-stream)))
=> (1 "x" NIL "ab")

;; NIL names *STANDARD-OUTPUT* as the stream.
(princ "to standard output" nil)
-> to standard output
=> "to standard output"

(let ((*standard-output* (make-string-output-stream)))
  (prin1 'q) (terpri) (fresh-line) (princ 7)
  (lines (get-output-stream-string *standard-output*)))
=> ("Q" "7")

;; PPRINT starts a new line and returns no values.
(multiple-value-call #'list (pprint '(a b) (make-string-output-stream)))
=> NIL

(list (force-output) (finish-output t) (clear-output))
=> (NIL NIL NIL)

;; FINISH-OUTPUT hands a file's buffered text to the host while the stream
;; stays open.
(with-open-file (out "flushed.txt" :direction :output :if-exists :supersede)
  (write-string "early" out)
  (finish-output out)
  (write-string " late" out)
  (with-open-file (in "flushed.txt") (read-line in nil :empty)))
=> "early" T

;; WITH-OUTPUT-TO-STRING gives the text, not the body's value; declarations
;; may head the body.
(with-output-to-string (out)
  (declare (ignorable out))
  (format out "~D-~D" 1 2)
  'ignored)
=> "1-2"

;; WITH-INPUT-FROM-STRING: the body's values, :START/:END and :INDEX.
(with-input-from-string (in "alpha beta gamma" :start 6)
  (list (read in) (read in)))
=> (BETA GAMMA)

(let ((where nil))
  (list (with-input-from-string (in "12 34 56" :index where :end 5)
          (list (read in) (read in) (read in nil :end)))
        where))
=> ((12 34 :END) 5)

(multiple-value-call #'list (with-input-from-string (in "x") (values (read-char in) 2)))
=> (#\x 2)

;; READ-LINE: the second value says the line ended at the end of the input.
(with-input-from-string (in "one
two")
  (multiple-value-call #'list (read-line in) (read-line in) (read-line in nil :done)))
=> ("one" NIL "two" T :DONE T)

;; WITH-OPEN-STREAM closes any stream, string streams included.
(with-open-stream (s (make-string-input-stream "(1 2) 3"))
  (list (read s) (read s)))
=> ((1 2) 3)

(list (close (make-string-output-stream)) (input-stream-p (make-string-input-stream "a"))
      (output-stream-p (make-string-input-stream "a")) (output-stream-p (make-string-output-stream)))
=> (T T NIL T)

;; Files: write, append, read back line by line and as Lisp data.
(with-open-file (out "report.txt" :direction :output :if-exists :supersede)
  (write-line "first" out)
  (format out "~S ~D~%" '(data "text") 42)
  'written)
=> WRITTEN

(with-open-file (out "report.txt" :direction :output :if-exists :append)
  (write-string "last" out))
=> "last"

(with-open-file (in "report.txt")
  (list (read-line in) (read in) (read in) (read-line in) (read-line in nil :eof)))
=> ("first" (DATA "text") 42 "last" :EOF)

(with-open-file (in "report.txt") (file-length in))
=> 27

;; :SUPERSEDE replaces the contents.
(progn
  (with-open-file (out "report.txt" :direction :output :if-exists :supersede)
    (write-string "new" out))
  (with-open-file (in "report.txt") (read-line in)))
=> "new" T

;; A throw out of the body closes the file; so does an error, and then a
;; file the body was writing anew is removed and a replaced one restored.
(let ((kept nil))
  (list (catch 'out
          (with-open-file (in "report.txt")
            (setq kept in)
            (throw 'out 'thrown)))
        (signals (read-char kept))
        (close kept)))
=> (THROWN ERROR T)

(progn
  (signals (with-open-file (out "scratch.txt" :direction :output)
             (write-string "partial" out)
             (error "failed while writing")))
  (with-open-file (in "scratch.txt" :if-does-not-exist nil) in))
-> Warning: File scratch.txt does not exist
=> NIL

(progn
  (signals (with-open-file (out "report.txt" :direction :output :if-exists :supersede)
             (write-string "broken" out)
             (error "failed while writing")))
  (with-open-file (in "report.txt") (read-line in)))
=> "new" T

(with-open-file (in "no-such-file.txt") in)
!! 5155

(with-open-file (out "report.txt" :direction :output) out)
!! 5154

(open "report.txt" :direction :sideways)
!! 5170

;; A user program: a report built with FORMAT on a string stream.
(defun inventory-report (items)
  (with-output-to-string (out)
    (format out "~A~%" "Inventory")
    (let ((total 0))
      (dolist (item items)
        (let ((name (first item)) (count (second item)) (price (third item)))
          (format out "~A: ~D at ~5,2F = ~S~%" name count price (* count price))
          (setq total (+ total (* count price)))))
      (format out "Total: ~,2F~%" total)
      (format out "Names: ~{~A~^, ~}~%" (mapcar #'first items))
      (format out "~{~A=~D~^; ~}" (mapcan (lambda (i) (list (first i) (second i))) items)))))

(lines (inventory-report '(("bolt" 10 0.25) ("nut" 4 1.5))))
=> ("Inventory" "bolt: 10 at  0.25 = 2.5" "nut: 4 at  1.50 = 6.0" "Total: 8.50" "Names: bolt, nut" "bolt=10; nut=4")

;; The fixed-format field keeps its width.
(substitute #\_ #\Space (second (lines (inventory-report '(("bolt" 10 0.25))))))
=> "bolt:_10_at__0.25_=_2.5"

;; The same report written to a file and read back whole.
(progn
  (with-open-file (out "inventory.txt" :direction :output :if-exists :supersede)
    (write-string (inventory-report '(("gear" 2 3.0))) out))
  (with-open-file (in "inventory.txt")
    (let ((text nil))
      (do ((line (read-line in nil nil) (read-line in nil nil)))
          ((null line) (reverse text))
        (setq text (cons line text))))))
=> ("Inventory" "gear: 2 at  3.00 = 6.0" "Total: 6.00" "Names: gear" "gear=2")
