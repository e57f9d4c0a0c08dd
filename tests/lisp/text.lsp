;;; Text in and out: the reader's token rules, the printer's forms, FORMAT
;;; and string streams.

;; Numbers and symbols from tokens; in base 16, 1e5 is an integer.
(list 1e3 .5 -.5 (type-of '1e) 12345678901 -8388609)
=> (1000.0 0.5 -0.5 SYMBOL 12345678901 -8388609)

(let ((*read-base* 16)) (read (make-string-input-stream "(ff 1e5 10)")))
=> (255 485 16)

(type-of (read (make-string-input-stream "1234567890123456789012345678901234567890")))
=> BIGNUM

(read (make-string-input-stream "(a . b)"))
=> (A . B)

(read (make-string-input-stream "(a ; comment
  b #| block |# c)"))
=> (A B C)

(read (make-string-input-stream "\"a\\\"b\""))
=> "a\"b"

(list #\a #\Space #\Newline (char-code #\Tab))
=> (#\a #\SPACE #\NEWLINE 9)

;; Tokens hold 132 characters; the 133rd is an error.
(length (symbol-name (read (make-string-input-stream (make-string 132 :initial-element #\a)))))
=> 132

(read (make-string-input-stream (make-string 133 :initial-element #\a)))
!! 4165

;; The printer: escapes and bars, radix forms, floats that read back.
(list (write-to-string '|a b|) (write-to-string '\1+) (write-to-string 1.0) (write-to-string 1.5e20))
=> ("|a b|" "\\1+" "1.0" "1.5e+20")

(write-to-string 255 :base 16 :radix t)
=> "#xff"

(write-to-string '(1 2 3 4 5) :length 3)
=> "(1 2 3 ...)"

(write-to-string '(1 (2 (3 (4)))) :level 2)
=> "(1 (2 #))"

(write-to-string "a\"b")
=> "\"a\\\"b\""

(write-to-string 'abc :case :downcase)
=> "abc"

;; FORMAT: the common directives, iteration, conditionals and case (case
;; conversion applies to printed symbols, not to literal text).
(format nil "~A ~S ~D ~B ~O ~X" "a" "a" 42 5 8 255)
=> "a \"a\" 42 101 10 ff"

(format nil "~5D|~5,'0D|~,2F" 42 42 3.14159)
=> "   42|00042|3.14"

(format nil "~{~A~^, ~}" '(1 2 3))
=> "1, 2, 3"

(format nil "~[zero~;one~:;many~] ~:[no~;yes~]" 1 t)
=> "one yes"

(format nil "~(~A~) ~:@(~A~) ~(ABC~)" 'abc 'abc)
=> "abc ABC ABC"

(format nil "~? ~@?" "~A-~A" '(1 2) "~A" 3)
=> "1-2 3"

(length (format nil "a~%b"))
=> 3

;; String streams: end of file, put-back, the second value of READ-LINE.
(let ((s (make-string-input-stream "ab")))
  (list (read-char s) (progn (unread-char #\a s) (read-char s)) (read-char s) (read-char s nil 'eof)))
=> (#\a #\a #\b EOF)

(multiple-value-call (function list) (read-line (make-string-input-stream "one
two")))
=> ("one" NIL)

(let ((s (make-string-output-stream)))
  (write-string "hello" s)
  (write-char #\! s)
  (get-output-stream-string s))
=> "hello!"

;; A symbol is escaped only where it would read as a number.
(list 'end1 'ad1 'abe2 'start1 '|1E5| '|12|)
=> (END1 AD1 ABE2 START1 \1E5 \12)

;; Floats print with the digits that read back as the same float.
(list 0.30000000000000004 0.1 (/ 1.0 3) 1.5)
=> (0.30000000000000004 0.1 0.3333333333333333 1.5)

(let ((x (/ 2.0 7))) (= x (read-from-string (prin1-to-string x))))
=> T

;; The smallest floats read back as they print; too large is no number.
(list (> 4.9406564584124654e-324 0) (= (read-from-string (prin1-to-string 4.9406564584124654e-324)) 4.9406564584124654e-324) (symbolp (read-from-string "1e999")))
=> (T T T)
