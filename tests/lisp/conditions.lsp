;;; Conditions and restarts as programs use them: condition types of their
;;; own, handlers that take or decline, restarts chosen from far above,
;;; and warnings.

(defun report (c) (format nil "~A" c))

;; ---------------------------------------------------------------------
;; DEFINE-CONDITION: slots, readers, accessors, reports, default initargs

(define-condition bad-token (error)
  ((token :initarg :token :reader bad-token-token)
   (line :initarg :line :initform 1 :accessor bad-token-line))
  (:report (lambda (c stream)
             (format stream "Bad token ~S on line ~D" (bad-token-token c) (bad-token-line c)))))

(define-condition odd-token (bad-token) ()
  (:report "An odd token")
  (:default-initargs :token '?))

(let ((c (make-condition 'bad-token :token "&&")))
  (setf (bad-token-line c) 7)
  (list (bad-token-token c) (bad-token-line c) (report c)
        (typep c 'error) (typep c 'serious-condition) (typep c 'warning)))
=> ("&&" 7 "Bad token \"&&\" on line 7" T T NIL)

(let ((c (make-condition 'odd-token)))
  (list (bad-token-token c) (report c) (typep c 'bad-token)
        (subtypep 'odd-token 'condition)))
=> (? "An odd token" T T)

;; PRINC shows the report, PRIN1 an object that cannot be read back.
(let ((c (make-condition 'simple-warning :format-control "~D apples" :format-arguments '(3))))
  (list (princ-to-string c)
        (string= "#<SIMPLE-WARNING" (subseq (prin1-to-string c) 0 16))
        (simple-condition-format-control c) (simple-condition-format-arguments c)))
=> ("3 apples" T "~D apples" (3))

(make-condition 'no-such-condition-type)
!! 0x1432

;; The standard hierarchy and its readers.
(list (subtypep 'simple-error 'simple-condition) (subtypep 'simple-type-error 'type-error)
      (subtypep 'unbound-variable 'cell-error) (subtypep 'unbound-slot 'cell-error)
      (subtypep 'division-by-zero 'arithmetic-error) (subtypep 'end-of-file 'stream-error)
      (subtypep 'reader-error 'parse-error) (subtypep 'reader-error 'stream-error)
      (subtypep 'style-warning 'warning) (subtypep 'storage-condition 'serious-condition)
      (subtypep 'storage-condition 'error) (subtypep 'floating-point-overflow 'arithmetic-error))
=> (T T T T T T T T T T NIL T)

(let ((c (make-condition 'arithmetic-error :operation '/ :operands '(1 0))))
  (list (arithmetic-error-operation c) (arithmetic-error-operands c)))
=> (/ (1 0))

(list (type-error-datum (make-condition 'type-error :datum 3 :expected-type 'string))
      (type-error-expected-type (make-condition 'type-error :datum 3 :expected-type 'string))
      (print-not-readable-object (make-condition 'print-not-readable :object 'x))
      (package-error-package (make-condition 'package-error :package "P"))
      (unbound-slot-instance (make-condition 'unbound-slot :name 'a :instance 5)))
=> (3 STRING X "P" 5)

;; ---------------------------------------------------------------------
;; A parser that signals its own errors and recovers through restarts
;; chosen by a handler further out.

(defun parse-item (x line)
  (restart-case (if (integerp x) x (error 'bad-token :token x :line line))
    (use-value (v) :report "Use another value" v)
    (skip-item () :report "Leave the item out" nil)))

(defun parse-items (items)
  (let ((line 0) (result nil))
    (dolist (x items (nreverse result))
      (let ((v (parse-item x (incf line))))
        (when v (push v result))))))

(defun parse-leniently (items how)
  (handler-bind ((bad-token (lambda (c)
                              (if (eq how :skip)
                                  (invoke-restart 'skip-item)
                                  (invoke-restart 'use-value (- (bad-token-line c)))))))
    (parse-items items)))

(list (parse-leniently '(1 a 3 "b") :skip) (parse-leniently '(1 a 3 "b") :zero))
=> ((1 3) (1 -2 3 -4))

(report (nth-value 1 (ignore-errors (parse-items '(1 2 #\x)))))
=> "Bad token #\\x on line 3"

;; The restarts a handler sees, innermost first, with their reports.
(handler-bind ((bad-token (lambda (c)
                            (return-from nil
                              (mapcar (lambda (r) (list (restart-name r) (report r)))
                                      (subseq (compute-restarts c) 0 2))))))
  (block nil (parse-items '(x))))
=> ((USE-VALUE "Use another value") (SKIP-ITEM "Leave the item out"))

;; ---------------------------------------------------------------------
;; Handlers: declining, ordering, the clusters a handler sees

;; A handler that returns declines; the next one outward runs.
(let ((log nil))
  (list (handler-case
            (handler-bind ((error (lambda (c) (push (list :declined (report c)) log))))
              (error "deep ~D" 1))
          (error (c) (push :outer log) (report c)))
        (reverse log)))
=> ("deep 1" ((:DECLINED "deep 1") :OUTER))

;; Within a cluster the handlers run in order; all applicable ones run.
(let ((log nil))
  (handler-case
      (handler-bind ((warning (lambda (c) c (push 'warning log)))
                     (condition (lambda (c) c (push 'condition log))))
        (signal 'simple-warning :format-control "w"))
    (condition () nil))
  (nreverse log))
=> (WARNING CONDITION)

;; A handler runs where the signal was made, before anything unwinds; a
;; RETURN in it leaves the program's own loop.
(let ((state :inside))
  (block outside
    (handler-bind ((error (lambda (c) c (return-from outside state))))
      (unwind-protect (error "x") (setq state :unwound)))))
=> :INSIDE

(dolist (x '(1 2 three 4))
  (handler-bind ((type-error (lambda (c) c (return (list :stopped-at x)))))
    (1+ x)))
=> (:STOPPED-AT THREE)

;; A signal from inside a handler is seen by the handlers outside its
;; cluster only, not by itself or its neighbours.
(let ((seen nil))
  (handler-bind ((error (lambda (c) c (push :outer seen))))
    (handler-bind ((error (lambda (c)
                            (unless (eq c :again)
                              (push :inner seen)
                              (signal 'simple-error :format-control "again")))))
      (signal 'simple-error :format-control "first")))
  (reverse seen))
=> (:INNER :OUTER :OUTER)

;; An error inside a HANDLER-CASE clause goes to the handlers outside it.
(handler-case (handler-case (error "one") (error () (error "two")))
  (error (c) (report c)))
=> "two"

;; SIGNAL with no handler taking it returns NIL; ERROR never returns.
(list (signal "nobody listens") (handler-case (signal 'bad-token :token 1) (error () :taken)))
=> (NIL :TAKEN)

;; Nested HANDLER-CASE with :NO-ERROR: the clause gets every value, and
;; an error from it is not caught by its own clauses.
(handler-case
    (handler-case (values 1 2)
      (error () :inner-error)
      (:no-error (a b) (if (= a 1) (error "no-error saw ~D ~D" a b) :fine)))
  (error (c) (list :outer (report c))))
=> (:OUTER "no-error saw 1 2")

(handler-case (floor 7 2) (:no-error (q r) (list q r)))
=> (3 1)

;; IGNORE-ERRORS: the values, or NIL and the condition.
(multiple-value-bind (v c) (ignore-errors (error 'odd-token :line 4))
  (list v (type-of c) (bad-token-line c)))
=> (NIL ODD-TOKEN 4)

(ignore-errors (values :a :b))
=> :A :B

;; A warning is no error.
(handler-case (ignore-errors (warn 'simple-warning :format-control "w")) (warning () :warning))
=> :WARNING

;; ---------------------------------------------------------------------
;; ERROR, CERROR, WARN and SIGNAL take a condition, a type and initargs,
;; or a format control and arguments

(list (handler-case (error (make-condition 'odd-token)) (odd-token (c) (report c)))
      (handler-case (error 'bad-token :token 'x) (bad-token (c) (report c)))
      (handler-case (error "~A and ~A" 1 2) (simple-error (c) (report c)))
      (handler-case (signal 'odd-token) (condition (c) (type-of c))))
=> ("An odd token" "Bad token X on line 1" "1 and 2" ODD-TOKEN)

;; A condition type that is not one is itself an error.
(handler-case (error 'no-such-condition-type) (type-error (c) (type-error-datum c)))
=> NO-SUCH-CONDITION-TYPE

;; CERROR offers CONTINUE, reported by its first argument; taking it
;; returns NIL from CERROR.
(handler-bind ((error (lambda (c)
                        (let ((r (find-restart 'continue c)))
                          (push (report r) *features*)
                          (invoke-restart r)))))
  (list (cerror "Go on with ~A" "Stuck at ~A" 'step-3) (pop *features*)))
=> (NIL "Go on with STEP-3")

(handler-bind ((error #'continue))
  (list (cerror "Go on" 'bad-token :token 't) :after))
=> (NIL :AFTER)

;; WARN: printed and going on when no handler takes it; MUFFLE-WARNING
;; silences it; a warning handled as a class.
(progn (warn "Careful with ~S" 'fire) :went-on)
-> Warning: Careful with FIRE
=> :WENT-ON

(handler-bind ((warning #'muffle-warning))
  (warn "Never printed")
  :quiet)
-> 
=> :QUIET

(handler-bind ((style-warning #'muffle-warning))
  (warn 'style-warning)
  (warn "Printed ~D" 1)
  :done)
-> Warning: Printed 1
=> :DONE

(handler-case (warn 'bad-token :token 1) (type-error (c) (typep (type-error-datum c) 'bad-token)))
=> T

;; ---------------------------------------------------------------------
;; Restarts

(restart-case (invoke-restart 'add 1 2) (add (a b) (+ a b)))
=> 3

;; A clause with :TEST is offered only when the test says so; one with
;; :INTERACTIVE asks that function for its arguments.
(restart-case
    (list (mapcar #'restart-name (subseq (compute-restarts) 0 1))
          (invoke-restart-interactively 'asking))
  (hidden () :test (lambda (c) c nil) :hidden)
  (asking (x y) :interactive (lambda () (list 10 20)) (list :asked x y)))
=> (:ASKED 10 20)

(list (find-restart 'nothing-of-the-kind)
      (with-simple-restart (give-up "Give up on ~A" "the loop")
        (let ((r (find-restart 'give-up)))
          (list (restart-name r) (report r) (restart-name (find-restart r))))))
=> (NIL (GIVE-UP "Give up on the loop" GIVE-UP))

(multiple-value-list (with-simple-restart (skip "Skip") (invoke-restart 'skip) :not-here))
=> (NIL T)

(let ((log nil))
  (restart-bind ((note (lambda (x) (push x log) :noted) :report-function
                       (lambda (s) (write-string "Take a note" s))))
    (list (invoke-restart 'note 1) (report (find-restart 'note)) log)))
=> (:NOTED "Take a note" (1))

;; Restarts associated with one condition are hidden from another.
(let ((c1 (make-condition 'simple-error)) (c2 (make-condition 'simple-error)))
  (restart-case
      (with-condition-restarts c1 (list (find-restart 'mine))
        (list (not (null (find-restart 'mine c1))) (null (find-restart 'mine c2))
              (not (null (find-restart 'mine)))))
    (mine () nil)))
=> (T T T)

;; A restart out of force is a control error.
(let ((r (restart-case (find-restart 'gone) (gone () nil))))
  (handler-case (invoke-restart r) (control-error () :control-error)))
=> :CONTROL-ERROR

(handler-case (invoke-restart 'never-established) (control-error (c) (report c)))
=> "No restart named NEVER-ESTABLISHED is in force"

(list (continue) (use-value 1) (store-value 2))
=> (NIL NIL NIL)

;; CHECK-TYPE offers STORE-VALUE; ASSERT offers CONTINUE.
(let ((n "five"))
  (handler-bind ((type-error (lambda (c)
                               (store-value (length (type-error-datum c)) c))))
    (check-type n integer))
  n)
=> 4

(let ((tries 0))
  (handler-bind ((error (lambda (c) c (incf tries) (continue))))
    (assert (> tries 2)))
  tries)
=> 3

;; ---------------------------------------------------------------------
;; INVOKE-DEBUGGER and *DEBUGGER-HOOK*

(catch 'debugged
  (let ((*debugger-hook* (lambda (c hook)
                           (throw 'debugged (list (report c) (functionp hook) *debugger-hook*)))))
    (invoke-debugger (make-condition 'simple-error :format-control "into the debugger"))))
=> ("into the debugger" T NIL)
