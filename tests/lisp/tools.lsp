;;; Tools of the top level: DESCRIBE, APROPOS and TIME print something
;;; sensible and return the right values; generated symbols; the clock.

;;! needs: (fboundp 'describe) => T

(defun lines (text)
  (with-input-from-string (in text)
    (do ((line (read-line in nil nil) (read-line in nil nil))
         (out nil (cons line out)))
        ((null line) (reverse out)))))

(defmacro described (object)
  (list 'lines (list 'with-output-to-string '(s) (list 'describe object 's))))

(defmacro signals (form)
  (list 'multiple-value-call '(lambda (value failure) (if failure 'error value))
        (list '%catch-error form)))

;; DESCRIBE of symbols: value, function, properties.
(defvar *tool-var* 5)
(defun tool-fn (a &optional b) (list a b))
(%putprop 'tool-fn 'color 'red)

(described '*tool-var*)
=> ("*TOOL-VAR* is a symbol." "Its value is 5.")

(described 'tool-fn)
=> ("TOOL-FN is a symbol." "It has no value." "It names a function." "  It is a function with the lambda list (A &OPTIONAL B)." "Its properties:" "  COLOR: RED")

(list (described :kw) (described 'if) (third (described 'when)))
=> (( ":KW is a keyword.") ("IF is a symbol." "It has no value." "It names a special form.") "It names a macro.")

;; Other objects.
(list (described 42) (described 1.5) (described #\a) (described "abc") (described '(1 2 3))
      (described '(1 . 2)) (described (vector 1 2)))
=> (("42 is an integer (a fixnum)." "  In other radixes: #x2a #o52 #b101010") ("1.5 is a double-float.") ("#\\a is a character, code 97.") ("\"abc\" is a string of length 3.") ("(1 2 3) is a list of 3 elements.") ("(1 . 2) is a dotted list.") ("#(1 2) is a vector of length 2."))

(let ((h (make-hash-table)))
  (setf (gethash 'a h) 1)
  (cdr (described h)))
=> ("  A -> 1")

(defstruct tool-point x (y 2))

(described (make-tool-point :x 1))
=> ("#S(TOOL-POINT :X 1 :Y 2) is an instance of the class TOOL-POINT." "  X: 1" "  Y: 2")

;; A circular list is described without looping.
(let ((l (list 1 2 3)))
  (rplacd (cddr l) l)
  (length (described l)))
=> 1

;; DESCRIBE returns no values and writes to *STANDARD-OUTPUT* by default.
(describe :kw)
-> :KW is a keyword.
=>

;; APROPOS lists the matching symbols with what they name.
(defun zq-apropos-fn () nil)
(defvar *zq-apropos-var* 1)

(apropos "zq-apropos")
-> *ZQ-APROPOS-VAR* (value) ZQ-APROPOS-FN (function)
=>

;; TIME reports the elapsed time on *TRACE-OUTPUT* and returns every value.
(let ((*trace-output* (make-string-output-stream)))
  (list (multiple-value-call #'list (time (values 1 2 3)))
        (string= "Elapsed time: " (get-output-stream-string *trace-output*) :end2 14)))
=> ((1 2 3) T)

(let ((*trace-output* (make-string-output-stream)))
  (list (catch 'out (time (throw 'out 'thrown))) (functionp (macro-function 'time))
        (special-operator-p 'time)))
=> (THROWN T NIL)

;; GENSYM: a prefix or number for one call; the counter counts.
(let ((*gensym-counter* 10))
  (list (symbol-name (gensym)) (symbol-name (gensym "X")) (symbol-name (gensym)) (symbol-name (gensym 3))
        *gensym-counter* (eq (gensym) (gensym))))
=> ("G10" "X11" "G12" "G3" 13 NIL)

(signals (gensym 'x))
=> ERROR

(let ((s (gentemp "ZQTEMP")))
  (list (eq s (intern (symbol-name s))) (string= "ZQTEMP" (symbol-name s) :end2 6)
        (eq s (gentemp "ZQTEMP"))))
=> (T T NIL)

;; The clock: universal time from 1900, weekdays from Monday, zones west.
(multiple-value-call #'list (decode-universal-time 0 0))
=> (0 0 0 1 1 1900 0 NIL 0)

(list (encode-universal-time 0 0 0 1 1 2000 0) (encode-universal-time 0 0 0 1 1 2000 -3)
      (encode-universal-time 30 15 12 29 2 2024 0) (encode-universal-time 0 0 0 1 1 2000 5.5))
=> (3155673600 3155662800 3918197730 3155693400)

(multiple-value-call #'list (decode-universal-time 3155673600 -3) (decode-universal-time 3918197730 0))
=> (0 0 3 1 1 2000 5 NIL -3 30 15 12 29 2 2024 3 NIL 0)

;; Local time round trip.
(let ((now (get-universal-time)))
  (list (> now 3900000000)
        (= now (multiple-value-call
                 (lambda (s m h d mo y &rest more) (encode-universal-time s m h d mo y))
                 (decode-universal-time now)))
        (length (multiple-value-call #'list (get-decoded-time)))))
=> (T T 9)

;; Two-digit years are the ones within 50 years of now.
(= (encode-universal-time 0 0 0 1 1 99 0) (encode-universal-time 0 0 0 1 1 1999 0))
=> T

(list (signals (encode-universal-time 0 0 0 30 2 2024 0)) (signals (encode-universal-time 0 0 0 29 2 2023 0))
      (signals (encode-universal-time 0 0 24 1 1 2000 0)) (signals (encode-universal-time 0 0 0 1 13 2000 0))
      (signals (decode-universal-time 'now)))
=> (ERROR ERROR ERROR ERROR ERROR)

(list internal-time-units-per-second (integerp (get-internal-real-time))
      (integerp (get-internal-run-time)) (sleep 0.05) (lisp-implementation-type)
      (stringp (lisp-implementation-version)))
=> (1000 T T NIL "Zorva" T)
