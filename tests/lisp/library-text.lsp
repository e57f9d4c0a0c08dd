;;; Characters and strings of the library: digit weights, integer parsing,
;;; reading from strings, case conversion by words, trimming with any bag.

;;! needs: (fboundp 'parse-integer) => T

(defmacro signals (form)
  (list 'multiple-value-call '(lambda (value failure) (if failure 'error value))
        (list '%catch-error form)))

;; DIGIT-CHAR-P gives the weight, in any radix up to 36, either case.
(list (digit-char-p #\0) (digit-char-p #\9) (digit-char-p #\a 16) (digit-char-p #\F 16)
      (digit-char-p #\z 36) (digit-char-p #\8 8) (digit-char-p #\g 16) (digit-char-p #\Space))
=> (0 9 10 15 35 NIL NIL NIL)

(digit-char-p #\1 37)
!! 5170

;; PARSE-INTEGER: white space around, signs, radix, the index returned.
(multiple-value-call #'list
  (parse-integer "  -123  ") (parse-integer "+42") (parse-integer "ff" :radix 16)
  (parse-integer "xx101xx" :start 2 :end 5 :radix 2))
=> (-123 8 42 3 255 2 5 5)

;; With junk allowed parsing stops at the first non-digit; no digits give NIL.
(multiple-value-call #'list
  (parse-integer "12abc" :junk-allowed t) (parse-integer "  " :junk-allowed t)
  (parse-integer "-" :junk-allowed t) (parse-integer " 7 8" :junk-allowed t))
=> (12 2 NIL 2 NIL 1 7 2)

;; Without it, anything but white space around the digits is an error.
(list (signals (parse-integer "12x")) (signals (parse-integer "")) (signals (parse-integer " - "))
      (signals (parse-integer "1 2")) (signals (parse-integer "12" :radix 1))
      (signals (parse-integer "123" :start 2 :end 1)) (signals (parse-integer 'abc)))
=> (ERROR ERROR ERROR ERROR ERROR ERROR ERROR)

;; Integers of any size: both 64-bit ends and beyond them, never a wrap.
(list (parse-integer "9223372036854775807") (parse-integer "-9223372036854775808")
      (parse-integer "9223372036854775808") (parse-integer "-9223372036854775809")
      (parse-integer "99999999999999999999999"))
=> (9223372036854775807 -9223372036854775808 9223372036854775808 -9223372036854775809 99999999999999999999999)

;; READ-FROM-STRING: the object and the index after it (the delimiter
;; after a token is consumed, a closing parenthesis ends the object).
(multiple-value-call #'list
  (read-from-string "abc def") (read-from-string "(a b) c") (read-from-string "  42"))
=> (ABC 4 (A B) 5 42 4)

(multiple-value-call #'list
  (read-from-string "abc def" t nil :start 4) (read-from-string "1 2 3" t nil :end 1)
  (read-from-string "" nil :eof) (read-from-string "   " nil 'none))
=> (DEF 7 1 1 :EOF 0 NONE 3)

(read-from-string "")
!! 4163

(read-from-string "(1 2")
!! 4163

(signals (read-from-string "abc" t nil :start 5))
=> ERROR

;; Reading a string back from its printed form.
(let ((s "a \"quoted\" \\ text"))
  (equal s (read-from-string (prin1-to-string s))))
=> T

(list (princ-to-string "a\"b") (prin1-to-string "a\"b") (princ-to-string '|x y|)
      (prin1-to-string '|x y|) (princ-to-string #\a) (prin1-to-string #\a) (princ-to-string 1.5))
=> ("a\"b" "\"a\\\"b\"" "x y" "|x y|" "a" "#\\a" "1.5")

;; STRING-CAPITALIZE works by words: runs of letters and digits.
(list (string-capitalize "hello wORLD") (string-capitalize "don't stop-me now")
      (string-capitalize "3rd time, 2 LATE") (string-capitalize "one two three" :start 4 :end 7)
      (string-capitalize 'foo-bar))
=> ("Hello World" "Don'T Stop-Me Now" "3rd Time, 2 Late" "one Two three" "Foo-Bar")

;; The destructive versions change the string itself within the range.
(let ((s (copy-seq "abcdef")))
  (list (eq s (nstring-upcase s :start 1 :end 3)) s
        (nstring-downcase (copy-seq "ABCDEF") :start 4)
        (nstring-capitalize (copy-seq "aB cD"))))
=> (T "aBCdef" "ABCDef" "Ab Cd")

(list (signals (nstring-upcase (copy-seq "abc") :end 4))
      (signals (nstring-upcase (copy-seq "abc") :start 2 :end 1)))
=> (ERROR ERROR)

;; The kernel's case conversions keep their ranges.
(list (string-upcase "abcdef" :start 2 :end 4) (string-downcase "ABC" :start 1))
=> ("abCDef" "Abc")

;; Trimming takes any sequence of characters as the bag; NIL is empty.
(list (string-trim '(#\Space #\x) " xaxb x") (string-trim " " "  a b  ")
      (string-left-trim #(#\a) "aab") (string-right-trim "b" "abb")
      (string-trim nil "NIL") (string-trim "" "abc"))
=> ("axb" "a b" "b" "a" "NIL" "abc")

;; Comparisons accept the standard keywords and answer the mismatch index.
(list (string= "xabc" "abc" :start1 1) (string< "abc" "abd") (string< "abd" "abc")
      (string/= "abc" "abd") (string-equal "ABC" "abc") (string-lessp "abc" "ABD")
      (string= "abcde" "cd" :start1 2 :end1 4) (string> "b" "a" :start1 0 :end2 1))
=> (T 2 NIL 2 T 2 T 0)

;; Characters: ordering ignoring case, the standard character set.
(list (char-lessp #\a #\B #\c) (char-lessp #\a #\A) (char-not-greaterp #\a #\A #\b)
      (char-greaterp #\C #\b #\a) (char-not-lessp #\b #\B #\a)
      (char-not-equal #\a #\B #\c) (char-not-equal #\a #\b #\A))
=> (T NIL T T T T NIL)

(list (standard-char-p #\a) (standard-char-p #\~) (standard-char-p #\Newline)
      (standard-char-p #\Tab) (standard-char-p (code-char 200)))
=> (T T T NIL NIL)

(list (stringp "x") (stringp 'x) (stringp #\x) (schar "abc" 2))
=> (T NIL NIL #\c)
