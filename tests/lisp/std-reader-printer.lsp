;;; The reader and printer as portable code uses them: *READ-EVAL*,
;;; *READ-SUPPRESS*, whitespace after a token, delimited lists, #S,
;;; dispatch tables, FORMATTER and WITH-STANDARD-IO-SYNTAX.

(list *read-eval* *read-suppress* *read-default-float-format* *print-circle*
      *print-readably* *print-lines* *print-miser-width*)
=> (T NIL SINGLE-FLOAT NIL NIL NIL NIL)

;; #. evaluates only while *READ-EVAL* is true.
(list (read-from-string "#.(+ 1 2)")
      (nth-value 1 (%catch-error (let ((*read-eval* nil)) (read-from-string "#.(+ 1 2)")))))
=> (3 ("~&~V@(Error: ~@?~)" 116 "#. is not allowed while *READ-EVAL* is NIL"))

;; *READ-SUPPRESS* reads past an object without evaluating or building it.
(let ((*read-suppress* t))
  (let ((s (make-string-input-stream "(a #.(error \"no\") b) #S(nothing :x 1) next")))
    (list (read s) (read s) (read s) (read s nil :eof))))
=> (NIL NIL NIL :EOF)

;; READ-PRESERVING-WHITESPACE leaves the character that ends a token;
;; READ takes it.
(let ((a (make-string-input-stream "abc def"))
      (b (make-string-input-stream "abc def")))
  (list (read-preserving-whitespace a) (read-char a) (read b) (read-char b)
        (read-preserving-whitespace (make-string-input-stream "  ") nil :none)
        (multiple-value-list (read-from-string "xy z" t nil :preserve-whitespace t))))
=> (ABC #\SPACE ABC #\d :NONE (XY 2))

(read-preserving-whitespace (make-string-input-stream ""))
!! 4163

;; READ-DELIMITED-LIST, and a reader macro written with it.
(progn
  (set-macro-character #\] (get-macro-character #\)))
  (set-macro-character #\[ (lambda (stream char) (coerce (read-delimited-list #\] stream t) 'vector)))
  (list (read-delimited-list #\) (make-string-input-stream "1 (2 3) \"x\" )"))
        (read-from-string "[1 2 [3]]")))
=> ((1 (2 3) "x") #(1 2 #(3)))

;; #S reads a structure; slots not given take their initial values.
(progn
  (defstruct std-point x (y 10) (tag 'none))
  (let ((p (read-from-string "#S(std-point :x 1 :tag :here)")))
    (list (std-point-p p) (std-point-x p) (std-point-y p) (std-point-tag p)
          (equalp p (read-from-string (prin1-to-string p))))))
=> (T 1 10 :HERE T)

(read-from-string "#S(no-such-structure :a 1)")
!! 5170 NO-SUCH-STRUCTURE

(list (get-dispatch-macro-character #\# #\') (get-dispatch-macro-character #\# #\z)
      (get-dispatch-macro-character #\# #\!))
=> (#<Compiled function %READ-SHARP-FUNCTION (3) 11> NIL NIL)

(get-dispatch-macro-character #\a #\b)
!! 5170 #\a

;; FORMATTER makes a function FORMAT takes as its control.
(let ((f (formatter "~A-~A")))
  (list (format nil f 1 2) (with-output-to-string (s) (format s f 'x 'y))
        (funcall f (make-string-output-stream) 3 4)))
=> ("1-2" "X-Y" NIL)

(formatter 42)
!! 5170 42

;; WITH-STANDARD-IO-SYNTAX binds the reader and printer variables.
(let ((*print-base* 16) (*read-base* 2) (*print-length* 2))
  (with-standard-io-syntax
    (list *print-base* *read-base* *print-length* *print-readably* (package-name *package*)
          (read-from-string "10") (prin1-to-string '(1 2 3)))))
=> (10 10 NIL T "COMMON-LISP-USER" 10 "(1 2 3)")

;; The list printers of the pretty printer, with a right margin to break
;; at: FILL fills each line, LINEAR breaks between all elements when the
;; whole does not fit, TABULAR puts elements in columns.
(let ((*print-pretty* t) (*print-right-margin* 20))
  (list (with-output-to-string (s) (pprint-fill s '(a b c)))
        (with-output-to-string (s) (pprint-fill s '(a b c) nil))
        (string= (with-output-to-string (s) (pprint-fill s (loop for i below 16 collect i)))
                 "(0 1 2 3 4 5 6 7 8 9
 10 11 12 13 14 15)")
        (string= (with-output-to-string (s) (pprint-linear s '(aaaa bbbb cccc dddd eeee)))
                 "(AAAA
 BBBB
 CCCC
 DDDD
 EEEE)")
        (with-output-to-string (s) (pprint-linear s '(a b)))
        (let ((*print-right-margin* 40))
          (with-output-to-string (s) (pprint-tabular s '(a bb ccc d) t nil 5)))))
=> ("(A B C)" "A B C" T T "(A B)" "(A    BB   CCC  D)")

;; A logical block with its prefix and suffix, PPRINT-POP under
;; *PRINT-LENGTH*, a dotted tail, per-line prefixes, indentation.
(flet ((show (list &optional (length nil))
         (with-output-to-string (s)
           (let ((*print-length* length))
             (pprint-logical-block (s list :prefix "[" :suffix "]")
               (loop (pprint-exit-if-list-exhausted)
                     (write (pprint-pop) :stream s)
                     (pprint-exit-if-list-exhausted)
                     (write-string ", " s)))))))
  (list (show '(1 2 3)) (show '(1 2 3 4 5) 2) (show '(1 2 . 3)) (show '()) (show 'atom)
        (let ((*print-pretty* t))
          (string= (with-output-to-string (s)
                     (write-string "x" s)
                     (pprint-logical-block (s '(a b c) :per-line-prefix "| ")
                       (pprint-indent :block 2 s)
                       (loop (write (pprint-pop) :stream s)
                             (pprint-exit-if-list-exhausted)
                             (pprint-newline :mandatory s))))
                   "x| A
 |   B
 |   C"))))
=> ("[1, 2, 3]" "[1, 2, ...]" "[1, 2, . 3]" "[]" "ATOM" T)

(pprint-newline :sometimes)
!! 5170 :SOMETIMES

;; Dispatch tables: an entry prints the objects of its type while
;; *PRINT-PRETTY* is true; the highest priority wins.
(let ((*print-pprint-dispatch* (copy-pprint-dispatch nil)))
  (set-pprint-dispatch 'integer (lambda (s n) (format s "#~D#" n)))
  (set-pprint-dispatch '(integer 0 9) (lambda (s n) (format s "digit ~D" n)) 1)
  (list (write-to-string 42 :pretty t) (write-to-string 7 :pretty t)
        (write-to-string 42 :pretty nil) (write-to-string 'a :pretty t)
        (nth-value 1 (pprint-dispatch 42)) (nth-value 1 (pprint-dispatch "x"))
        (progn (set-pprint-dispatch 'integer nil) (write-to-string 42 :pretty t))
        (nth-value 1 (pprint-dispatch 42 (copy-pprint-dispatch nil)))))
=> ("#42#" "digit 7" "42" "A" T NIL "42" NIL)

(set-pprint-dispatch 'integer #'identity 0 (copy-pprint-dispatch nil))
=> NIL

;; WRITE and WRITE-TO-STRING take every printer variable.
(list (write-to-string '(1 2) :circle nil :readably nil :lines 3 :right-margin 70 :miser-width nil)
      (with-output-to-string (s) (write 'x :stream s :escape t :readably nil)))
=> ("(1 2)" "X")

(write-to-string 1 :colour 'red)
!! 5170 :COLOUR

;; *PRINT-LINES* cuts a pretty print after that many lines with " ..",
;; also in a logical block, whose suffix still follows; a plain print and
;; a print that fits are whole.  (Line breaks shown as |.)
(let ((long '(aaaaaaa bbbbbbb ccccccc ddddddd eeeeeeee fffffff gggggg)))
  (mapcar (lambda (s) (substitute #\| #\Newline s))
          (list (write-to-string long :pretty t :right-margin 20 :lines 1)
                (write-to-string long :pretty t :right-margin 20 :lines 2)
                (write-to-string long :pretty nil :right-margin 20 :lines 1)
                (write-to-string '(a b) :pretty t :right-margin 20 :lines 1)
                (let ((*print-right-margin* 20) (*print-lines* 2) (*print-pretty* t))
                  (with-output-to-string (s)
                    (pprint-logical-block (s long :prefix "<" :suffix ">")
                      (loop (pprint-exit-if-list-exhausted)
                            (write (pprint-pop) :stream s)
                            (pprint-newline :mandatory s))))))))
=> ("(AAAAAAA BBBBBBB .." "(AAAAAAA BBBBBBB| CCCCCCC DDDDDDD .." "(AAAAAAA BBBBBBB CCCCCCC DDDDDDD EEEEEEEE FFFFFFF GGGGGG)" "(A B)" "<AAAAAAA| BBBBBBB ..>")

;; #n= labels an object and #n# refers to it, also inside it: shared and
;; circular structure reads back as it was.
(let ((circle (read-from-string "#1=(a b . #1#)"))
      (shared (read-from-string "(#1=(1 2) #1# #2=#(x #2#) #3=\"s\" #3#)")))
  (list (car circle) (cadr circle) (eq (cddr circle) circle)
        (eq (first shared) (second shared)) (eq (svref (third shared) 1) (third shared))
        (eq (fourth shared) (fifth shared)) (read-from-string "(#1=a #1# #2=#1# #2#)")))
=> (A B T T T T (A A A A))

(progn
  (defstruct std-node value next)
  (let ((n (read-from-string "#1=#S(std-node :value 1 :next #1#)")))
    (list (std-node-value n) (eq (std-node-next n) n))))
=> (1 T)

(read-from-string "#7#")
!! 5170 7

(read-from-string "#=(a)")
!! 5170 #\=

;; *PRINT-CIRCLE*: shared and circular structure prints with #n= and #n#,
;; finitely, and reads back the same; without it, nothing is labelled.
(let ((circle (list 1 2 3))
      (shared (list 'a))
      (v (vector 1 2)))
  (setf (cdr (last circle)) circle)
  (setf (svref v 1) v)
  (let ((*print-circle* t))
    (list (prin1-to-string circle) (prin1-to-string (list shared shared))
          (prin1-to-string v) (prin1-to-string '(1 (2) "x" "x"))
          (prin1-to-string (let ((x (list 1 2))) (list x (cons 0 x))))
          (format nil "~S" (list shared shared))
          (let ((back (read-from-string (prin1-to-string circle))))
            (list (car back) (caddr back) (eq (cdddr back) back))))))
=> ("#1=(1 2 3 . #1#)" "(#1=(A) #1#)" "#1=#(1 #1#)" "(1 (2) \"x\" \"x\")" "(#1=(1 2) (0 . #1#))" "(#1=(A) #1#)" (1 3 T))

(let ((*print-circle* nil) (x (list 'a)))
  (prin1-to-string (list x x)))
=> "((A) (A))"

;; Structures print their shared slots with labels too, through their
;; print function's nested prints.
(progn
  (defstruct std-link value next)
  (let ((n (make-std-link :value 1)))
    (setf (std-link-next n) n)
    (let ((*print-circle* t)) (prin1-to-string n))))
=> "#1=#S(STD-LINK :VALUE 1 :NEXT #1#)"

;; *PRINT-READABLY*: what would not read back is an error; lengths and
;; levels do not cut, escapes are on.
(let ((*print-readably* t) (*print-length* 2) (*print-level* 1) (*print-escape* nil))
  (list (prin1-to-string '(1 (2 (3)) 4 5)) (princ-to-string "a b") (princ-to-string #\x)))
=> ("(1 (2 (3)) 4 5)" "\"a b\"" "#\\x")

(let ((*print-readably* t)) (prin1-to-string #'car))
!! 4196

(let ((*print-readably* t)) (prin1-to-string (make-hash-table)))
!! 4196

;; What prints as #<...>, from the kernel or through PRINT-UNREADABLE-OBJECT
;; (a structure's print function, a thread, a lock), is a PRINT-NOT-READABLE
;; that names the object, and its report prints.
(defstruct (opaque (:print-object (lambda (o s) (print-unreadable-object (o s :type t) (princ 1 s))))) a)

(let ((objects (list (make-hash-table) (make-opaque) (bt:make-lock "l") (bt:current-thread))))
  (mapcar (lambda (x)
            (handler-case (let ((*print-readably* t)) (prin1-to-string x))
              (print-not-readable (c)
                (and (eq (print-not-readable-object c) x)
                     (search "cannot be printed" (princ-to-string c))
                     t))))
          objects))
=> (T T T T)

(prin1-to-string (make-opaque))
=> "#<OPAQUE 1>"

;; The report, made while *PRINT-READABLY* is still true.
(block b
  (handler-bind ((print-not-readable (lambda (c) (return-from b (princ-to-string c)))))
    (let ((*print-readably* t)) (print (make-opaque)))))
=> "#<OPAQUE 1> cannot be printed readably"

;; Readtables: a copy takes changes of its own; the standard readtable
;; stays as it is.
(list (readtablep *readtable*) (readtable-case *readtable*) (readtablep 'x)
      (let ((*readtable* (copy-readtable nil)))
        (set-macro-character #\! (lambda (stream char) (list 'bang (read stream t nil t))))
        (read-from-string "(!x y)"))
      (read-from-string "!x")
      (let ((copy (copy-readtable)))
        (set-syntax-from-char #\< #\( copy)
        (set-syntax-from-char #\> #\) copy)
        (list (let ((*readtable* copy)) (read-from-string "<1 <2>>"))
              (symbol-name (read-from-string "<1")))))
=> (T :UPCASE NIL ((BANG X) Y) !X ((1 (2)) "<1"))

;; A dispatching character of one's own, and a copy made into a given
;; readtable, dispatch tables included.
(let ((rt (copy-readtable)))
  (make-dispatch-macro-character #\$ nil rt)
  (set-dispatch-macro-character #\$ #\v (lambda (stream sub n) (list 'version n)) rt)
  (let ((other (copy-readtable rt (copy-readtable nil))))
    (set-dispatch-macro-character #\$ #\v (lambda (stream sub n) 'changed) other)
    (list (let ((*readtable* rt)) (read-from-string "$2v"))
          (let ((*readtable* other)) (read-from-string "$v"))
          (functionp (get-dispatch-macro-character #\$ #\V rt))
          (get-macro-character #\$))))
=> ((VERSION 2) CHANGED T NIL)

;; The readtable case: how the reader changes the letters of symbols.
(let ((rt (copy-readtable)))
  (flet ((read-with (mode text)
           (setf (readtable-case rt) mode)
           (let ((*readtable* rt)) (symbol-name (read-from-string text)))))
    (list (read-with :upcase "Abc") (read-with :downcase "AbC") (read-with :preserve "AbC")
          (read-with :invert "abc") (read-with :invert "ABC") (read-with :invert "AbC")
          (read-with :invert "ab\\C") (read-with :preserve "x1e2")
          (readtable-case rt))))
=> ("ABC" "abc" "AbC" "ABC" "abc" "AbC" "ABC" "x1e2" :PRESERVE)

(setf (readtable-case (copy-readtable)) :sideways)
!! 5170 :SIDEWAYS

(set-macro-character #\! #'identity nil (copy-readtable nil))
=> T

(with-standard-io-syntax (set-macro-character #\! (lambda (s c) 1)))
!! 50

;; LOAD keeps the readtable around a file that changes it.
(progn
  (with-open-file (out "syntax.lsp" :direction :output)
    (write-string "(setq *readtable* (copy-readtable))
(set-macro-character #\\% (lambda (stream char) (list 'percent (read stream t nil t))))
(defparameter *std-percent* '%x)
" out))
  (load "syntax.lsp")
  (list *std-percent* (symbol-name (read-from-string "%x"))))
=> ((PERCENT X) "%X")

;; #nA reads an array of rank n from nested sequences, and reads back
;; what the printer writes.
(let ((a (read-from-string "#2A((1 2 3) (4 5 6))")))
  (list a (array-dimensions a) (aref a 1 2) (read-from-string "#0Ax") (read-from-string "#1a\"ab\"")
        (array-dimensions (read-from-string "#3A(((1)) ((2)))")) (array-dimensions (read-from-string "#2A(() ())"))
        (equalp (read-from-string (prin1-to-string a)) a)))
=> (#2A((1 2 3) (4 5 6)) (2 3) 6 #0AX #(#\a #\b) (2 1 1) (2 0) T)

(read-from-string "#2A(1 2)")
!! 12338

;; A form skipped by #+ or #- reads whatever it holds: symbols of
;; packages that do not exist here, tokens no number or symbol has,
;; character names and # syntax of other systems; the library's macro
;; characters see *READ-SUPPRESS* true meanwhile.
(list 1 #+(or) (other-system::frob 1.2.3:x #\no-such-char #xzz #3(1 2 3 4) #c(a b) #s(no-structure))
      #-(and) (#2A(1 2) #:123) 2)
=> (1 2)

;; READ under *READ-SUPPRESS*: NIL for each object, the end of file as
;; always; READ-DELIMITED-LIST gives NIL too.
(let ((*read-suppress* t))
  (with-input-from-string (in "(pkg::x #\\bogus) 1.2.3 #.(error \"no\") [a b]")
    (list (read in) (read in) (read in) (read in nil :end) (read in nil :end)
          (read-delimited-list #\] (make-string-input-stream "x y]")))))
=> (NIL NIL NIL NIL :END NIL)

;; An error while a skipped form is read leaves the break level's reader
;; interning symbols as ever.
(read-from-string "#+(or) (a #<) 5")
!! 8260
(eq 'car (intern "CAR"))
=> T
