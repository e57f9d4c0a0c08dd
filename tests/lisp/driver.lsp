;;; The top-level driver: values, histories and the standard streams.
;;; Each check is one pass of the top-level loop, and a marker string is
;;; evaluated between two checks (see README.md), so the histories hold
;;; markers and the wrapped value lists.

;; Values of every count come back in order.
(+ 1 2)
=> 3

(values 1 "two" #\3)
=> 1 "two" #\3

(values)
=>

;; ** is the primary value two passes ago: the wrapped value list of the
;; check before the marker.
(values 'a 'b)
=> A B

**
=> (A B)

;; // is the list of all values of that pass: the check's value list and
;; the NIL of the error catcher.
(values 'c 'd)
=> C D

//
=> ((C D) NIL)

;; + is the last form read (the marker), ++ the wrapped check before it,
;; - the form being evaluated: this check's own wrapper.
(values 1 2)
=> 1 2

(list (simple-string-p +) (car ++) (car -))
=> (T %CATCH-ERROR %CATCH-ERROR)

;; The one-time initialisation points the standard streams at the
;; terminal stream, and clears the hooks.
(list (eq *standard-input* *terminal-io*)
      (eq *standard-output* *terminal-io*)
      (eq *error-output* *terminal-io*)
      (eq *debug-io* *terminal-io*)
      (eq *query-io* *terminal-io*)
      (eq *trace-output* *terminal-io*))
=> (T T T T T T)

(list *evalhook* *applyhook*)
=> (NIL NIL)

;; The command line: the program path first, then the arguments.
(simple-string-p (car %command-line))
=> T

(simple-string-p %image-name)
=> T

;; Output of a form comes before its values, which start on a fresh line.
(write-string "hello")
-> hello
=> "hello"
