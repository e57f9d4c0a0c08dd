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

(list (get-dispatch-macro-character #\# #\') (get-dispatch-macro-character #\# #\a)
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
