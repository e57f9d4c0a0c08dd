;;; The environment: TRACE and UNTRACE, INSPECT, ROOM, DISASSEMBLE,
;;; modules, and what the system says of its site.

;; TRACE reports each call and its values, indented by depth.
(progn
  (defun std-fact (n) (if (< n 2) 1 (* n (std-fact (- n 1)))))
  (defun std-two (x) (values x (* x 2)))
  (let ((*trace-output* (make-string-output-stream)))
    (trace std-fact std-two)
    (let ((r (list (std-fact 3) (multiple-value-list (std-two 5)))))
      (list r (string= (get-output-stream-string *trace-output*)
                       "1> (STD-FACT 3)
  2> (STD-FACT 2)
    3> (STD-FACT 1)
    3< STD-FACT returned 1
  2< STD-FACT returned 2
1< STD-FACT returned 6
1> (STD-TWO 5)
1< STD-TWO returned 5 10
")))))
=> ((6 (5 10)) T)

(list (trace) (untrace std-two) (trace))
=> ((STD-FACT STD-TWO) (STD-TWO) (STD-FACT))

;; Untraced, and traced no more once redefined.
(let ((*trace-output* (make-string-output-stream)))
  (std-two 1)
  (defun std-fact (n) n)
  (std-fact 4)
  (list (get-output-stream-string *trace-output*) (trace) (untrace)))
=> ("" NIL NIL)

(trace when std-no-such-function)
-> Warning: WHEN is a macro or special form, which TRACE does not follow
-> Warning: STD-NO-SUCH-FUNCTION has no function definition to trace
=> NIL

;; INSPECT's view of an object: its parts, numbered.
(string= (with-output-to-string (s) (%inspect-show (list 1 "two" (vector 'a 'b)) s))
         "(1 \"two\" #(A B))
  is a list of 3 elements.
  0: 1
  1: \"two\"
  2: #(A B)
")
=> T

(list (length (nth-value 1 (%inspect-parts 'car))) (nth-value 1 (%inspect-parts 3))
      (nth-value 0 (%inspect-parts (make-hash-table))))
=> (4 NIL "a hash table of 0 entries, test EQL")

;; ROOM reports the free memory after a collection.
(search "Free after a collection:" (with-output-to-string (*standard-output*) (room)))
=> 0

;; DISASSEMBLE shows an interpreted definition; built-ins are machine code.
(progn
  (defun std-add1 (x) (+ x 1))
  (list (with-output-to-string (*standard-output*) (disassemble 'std-add1))
        (with-output-to-string (*standard-output*) (disassemble #'car))))
=> ("STD-ADD1 is interpreted; there is no machine code. Its definition: (LAMBDA (X) (+ X 1)) " "#<Compiled function CAR (1) 93> is built into the kernel; its machine code is not shown. ")

(disassemble 42)
!! 5170 42

;; Modules: REQUIRE loads a module's file once, PROVIDE records it.
(progn
  (with-open-file (out "std-mod.lsp" :direction :output)
    (write-string "(defvar *std-mod-loads* 0) (incf *std-mod-loads*) (provide \"STD-MOD\")" out))
  (list (require "STD-MOD") (require :std-mod) *std-mod-loads*
        (and (member "STD-MOD" *modules* :test #'string=) t)
        (provide 'other) (and (member "OTHER" *modules* :test #'string=) t)))
=> (T T 1 T T T)

(require "STD-NO-SUCH-MODULE")
!! 8242

(list (short-site-name) (long-site-name))
=> (NIL NIL)

;; INSPECT browses through *QUERY-IO*: a part by its number, U back up,
;; Q to leave.
(let* ((out (make-string-output-stream))
       (*query-io* (make-two-way-stream (make-string-input-stream "2
1
u
x
?
q
") out)))
  (list (inspect (list 1 "two" (vector 'a 'b))) (get-output-stream-string out)))
=> (NIL "(1 \"two\" #(A B)) is a list of 3 elements. 0: 1 1: \"two\" 2: #(A B) Inspect (number, U, Q, ?): #(A B) is a vector of length 2. 0: A 1: B Inspect (number, U, Q, ?): B is a symbol. 0. name: \"B\" 1. package: #<PACKAGE \"COMMON-LISP-USER\"> Inspect (number, U, Q, ?): #(A B) is a vector of length 2. 0: A 1: B Inspect (number, U, Q, ?): x is not a part number or a command. Inspect (number, U, Q, ?): A number looks at that part; U goes back up; Q leaves; an empty line does nothing. Inspect (number, U, Q, ?): ")

;; DRIBBLE copies the session into a file: what is printed, and what is
;; read from the standard input.
(progn
  (let ((*standard-input* (make-string-input-stream "(+ 1 2)")))
    (dribble "session.txt")
    (let ((form (read)))
      (format t "~&value: ~S~%" (eval form)))
    (dribble))
  (with-open-file (in "session.txt")
    (list (read-line in) (read-line in nil :none) (read-line in nil :none))))
-> value: 3
=> ("(+ 1 2)" "value: 3" :NONE)
