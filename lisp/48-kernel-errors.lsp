;;;; The kernel's side of the condition system: the conditions its errors
;;;; and warnings become, the function it calls when it signals, and the
;;;; restarts of its break loops.
;;;;
;;;; The kernel calls the function of %SIGNAL-HOOK, when it has one, with six
;;;; arguments (KIND CODE DATUM ARGUMENTS CONTINUATION OPERATOR), and turns
;;;; that function off while it runs; it binds the variable the value of
;;;; %SIGNAL-HOOK names (%CLUSTERS) around its error-catching contexts and
;;;; break loops.  The function is asked:
;;;;
;;;;   KIND 0, 1, 2  an error, a continuable error or a warning is about to
;;;;                 be offered to the error-catching contexts and printed.
;;;;                 CODE is the kernel's error code, or NIL for ERROR,
;;;;                 CERROR and WARN called from Lisp; DATUM the message
;;;;                 text (or the datum those were given), ARGUMENTS its
;;;;                 objects; CONTINUATION the continuation text of a
;;;;                 continuable error; OPERATOR the function of the
;;;;                 innermost frame.  The value: NIL or the condition made
;;;;                 when no handler took it (the kernel goes on as always,
;;;;                 printing the condition's report when DATUM is no
;;;;                 string), or a list (VALUE) when a restart resolved the
;;;;                 error: the signaller returns VALUE.
;;;;   KIND 3        a break loop starts; DATUM is the condition (or NIL).
;;;;                 Its restarts are made and shown.
;;;;   KIND 4        show the restarts again.
;;;;   KIND 5        take restart number CODE of that list, asking for its
;;;;                 arguments; NIL when there is no such restart.

;;; ------------------------------------------------------------------
;;; Kernel error codes and their condition types
;;;
;;; Each entry: code, type, then initargs whose values are the error's
;;; objects by position (a number) or constants.  The code is looked up as
;;; it is, then without its replaceable bit (#x400); a code not listed
;;; becomes a SIMPLE-ERROR (a SIMPLE-WARNING when it is a warning).

(defvar %kernel-error-types (make-hash-table))

(dolist (entry
         '((#x0024 storage-condition)          ; vector heap exhausted
           (#x0025 storage-condition)          ; symbol table full
           (#x0026 storage-condition)          ; Lisp or root-pointer stack overflow
           (#x0027 storage-condition)          ; cons cells exhausted
           (#x0033 program-error)              ; too few arguments (FUNCALL, APPLY)
           (#x0433 program-error)              ; a form or argument is missing
           (#x0434 program-error)              ; IF with several else forms
           (#x0046 reader-error)               ; braces nested too deep
           (#x1018 simple-error)               ; built-in not in this kernel
           (#x1021 type-error :datum 0 :expected-type stream)
           (#x1022 file-error :pathname 0)     ; the file exists
           (#x1023 file-error :pathname 0)     ; the file does not exist
           (#x1032 type-error :datum 0)        ; wrong type, not replaceable
           (#x1033 program-error)              ; a place without its value form
           (#x1034 program-error)              ; too many arguments
           (#x1036 program-error)              ; not a keyword accepted here
           (#x1037 program-error)              ; a keyword without a value
           (#x103B program-error)              ; binding or assigning a constant
           (#x103F program-error)              ; malformed lambda list
           (#x1040 program-error)              ; not a place
           (#x1043 end-of-file :stream 0)
           (#x1044 reader-error)               ; illegal character
           (#x1045 reader-error)               ; malformed token
           (#x1047 reader-error)               ; unmatched closing bracket
           (#x104B storage-condition)          ; the size is too large
           (#x1064 print-not-readable :object 0)
           (#x1065 stream-error :stream 0)     ; waiting for it would deadlock
           (#x104D simple-error)               ; a radix or prompt variable is invalid
           (#x104E arithmetic-error)           ; floating-point exception (by sub-code)
           (#x104F type-error :datum 0)        ; THE
           (#x1050 simple-error)               ; not a type specifier
           (#x1051 simple-error)               ; a predefined type
           (#x1422 file-error :pathname 0)
           (#x1423 file-error :pathname 0)
           (#x1430 unbound-variable :name 0)
           (#x1431 undefined-function :name 0)
           (#x1432 type-error :datum 0)
           (#x1433 program-error)              ; too few subscripts, malformed form
           (#x1434 program-error)              ; too many subscripts
           (#x143D control-error)              ; GO or THROW without a target
           (#x143E control-error)              ; RETURN-FROM without a block
           (#x143F program-error)
           (#x144B storage-condition)
           (#x144F type-error :datum 0 :expected-type fixnum) ; DOTIMES count
           (#x1450 simple-error)               ; no class to instantiate
           (#x201A style-warning)              ; a definition replaced
           (#x201F file-error :pathname 0)     ; I/O error
           (#x2038 program-error)              ; keywords that exclude each other
           (#x203A type-error :datum 0)        ; index out of range
           (#x2044 reader-error)               ; no reader macro
           (#x2055 type-error :datum 1)        ; a slot value of the wrong type
           (#x241F file-error :pathname 0)     ; an image that cannot be read
           (#x244A file-error :pathname 0)     ; an image of another kernel
           (#x244C file-error :pathname 0)     ; a host operation failed
           (#x244F type-error :datum 1 :expected-type 0) ; MAP into a string
           (#x2453 type-error :datum 0 :expected-type 1) ; cannot be converted
           (#x4041 simple-error)               ; bad FORMAT control string
           (#x4044 reader-error)               ; malformed # syntax
           (#x4048 storage-condition)))        ; the image does not fit
  (setf (gethash (car entry) %kernel-error-types) (cdr entry)))

;; Operators whose arguments are all of one type, for the expected type
;; of their type errors.
(defvar %operand-types
  '((number + - * / 1+ 1- = /= abs zerop exp expt sqrt log sin cos tan)
    (real < > <= >= min max plusp minusp floor ceiling truncate round mod rem)
    (integer evenp oddp gcd lcm logand logior logxor lognot ash)
    (list car cdr caar cadr cdar cddr first second third rest endp)
    (character char-code char-upcase char-downcase alpha-char-p digit-char-p)
    (symbol symbol-name symbol-plist symbol-package)))

(defun %operand-type (operator)
  (dolist (entry %operand-types t)
    (when (member operator (cdr entry) :test (function eq))
      (return (car entry)))))

(defvar %dividing-operators '(/ floor ceiling truncate round mod rem ffloor fceiling ftruncate fround))

;; The floating-point exceptions by the sub-code the kernel gives.
(defvar %float-exception-types
  #(floating-point-invalid-operation arithmetic-error division-by-zero
    floating-point-overflow floating-point-underflow floating-point-inexact))

(defun %subtype-p (type super)
  (member (find-class super) (class-precedence-list (find-class type))))

(defun %kernel-condition (kind code text objects operator)
  (let* ((entry (or (gethash code %kernel-error-types)
                    (gethash (logand code (lognot #x400)) %kernel-error-types)))
         (type (if entry (car entry) 'simple-error))
         (initargs nil))
    (do ((spec (cdr entry) (cddr spec)))
        ((null spec))
      (let ((v (cadr spec)))
        (setq initargs (list* (car spec) (if (integerp v) (nth v objects) v) initargs))))
    (cond ((and (eq type 'type-error) (not (getf initargs :expected-type)))
           (let ((datum (car objects)))
             (if (and (member operator %dividing-operators :test (function eq))
                      (numberp datum) (zerop datum))
                 (setq type 'division-by-zero initargs (list :operation operator))
                 (setq initargs (list* :expected-type (%operand-type operator) initargs)))))
          ((eq type 'arithmetic-error)
           (let ((k (car objects)))
             (when (and (integerp k) (< -1 k 6))
               (setq type (svref %float-exception-types k)))
             (setq initargs (list :operation operator)))))
    (when (and (= kind 2) (not (%subtype-p type 'warning))
               (not (%subtype-p type 'storage-condition)))
      (setq type 'simple-warning initargs nil))
    (when (%subtype-p type 'simple-condition)
      (setq initargs (list* :format-control text :format-arguments objects initargs)))
    (apply (function make-instance) type '%report (cons text objects) initargs)))

;;; ------------------------------------------------------------------
;;; Signalling for the kernel

;; (condition . report) of the last continuable error no handler took:
;; the CONTINUE restart of its break loop is reported so.
(defvar %pending-continuation nil)

;; True when an error signalled here that no handler takes goes to a
;; break loop, not to an error-catching context.
(defun %reaches-break-p ()
  (do ((chain %clusters (cdr chain)))
      ((atom chain) t)
    (let ((e (car chain)))
      (cond ((null e) (return nil))
            ((or (integerp e) (eq (cdr e) t)) (return t))))))

;; True when an error-catching context takes an error signalled here
;; before any handler could see it.
(defun %caught-unseen-p ()
  (do ((chain %clusters (cdr chain)))
      ((atom chain) nil)
    (let ((e (car chain)))
      (cond ((null e) (return t))
            ((integerp e) (return nil))
            ((consp (car (car e))) (return nil))
            ((eq (cdr e) t) (return nil))))))

(defun %use-value-report (c)
  (cond ((typep c 'unbound-variable)
         (list "use a value in place of the variable ~S" (cell-error-name c)))
        ((typep c 'undefined-function)
         (list "return a value in place of the call of ~S" (cell-error-name c)))
        (t "return a value in place of the failed operation")))

;; Offer c to the handlers; an error none takes, on its way to a break
;; loop, goes to *DEBUGGER-HOOK* next (with the restarts of the signal
;; still in force).
(defun %offer (c kind)
  (%signal c)
  (when (and (< kind 2) *debugger-hook* (%reaches-break-p))
    (%call-debugger-hook c))
  c)

(defun %signal-kernel-error (kind code datum arguments continuation operator)
  ;; The condition of a kernel error is made with the hook off; handlers,
  ;; and the making of a condition a program asked for, run with it on
  ;; again: their own errors are signalled as any other.
  (let ((c (if code
               (%kernel-condition kind code datum arguments operator)
               (progn
                 (%set-symbol-function '%signal-hook (function %kernel-hook))
                 (apply (function %coerce-to-condition)
                        (if (= kind 2) 'simple-warning 'simple-error) datum arguments)))))
    (when code (%set-symbol-function '%signal-hook (function %kernel-hook)))
    (cond ((= kind 0)
           (if (and code (logtest code #x400))
               (restart-case (%offer c kind)
                 (use-value (value)
                   :report (lambda (stream) (%print-report (%use-value-report c) stream))
                   :interactive %read-value
                   (list value))
                 (store-value (value)
                   :test (lambda (x) (declare (ignore x)) (typep c 'unbound-variable))
                   :report (lambda (stream)
                             (format stream "give ~S a value and use it" (cell-error-name c)))
                   :interactive %read-value
                   (set (cell-error-name c) value)
                   (list value)))
               (%offer c kind)))
          ((= kind 1)
           (let ((report (cons continuation arguments)))
             (restart-case (progn (%offer c kind)
                                  (setq %pending-continuation (cons c report))
                                  c)
               (continue ()
                 :report (lambda (stream) (apply (function format) stream report))
                 (list nil)))))
          (t
           (unless (or (typep c 'warning) (typep c 'storage-condition))
             (error 'simple-type-error :datum c :expected-type 'warning
                    :format-control "~S is not a warning" :format-arguments (list c)))
           (restart-case (%offer c kind)
             (muffle-warning ()
               :report "do not print the warning"
               (list nil)))))))

(defun %print-report (report stream)
  (if (consp report)
      (apply (function format) stream (car report) (cdr report))
      (write-string report stream)))

;;; ------------------------------------------------------------------
;;; Break levels

;; The restarts of the break level whose listener context lies at stack
;; index INDEX; ACTION 0 continues, 1 returns VALUE, 2 goes back to the
;; level above.
(defun %leave-break-level-function (index action)
  (case action
    (0 (lambda () (%leave-break-level index 0)))
    (1 (lambda (value) (%leave-break-level index 1 value)))
    (t (lambda () (%leave-break-level index 2)))))

;; The number of the break level of the cluster at the head of chain.
(defun %break-level-number (chain)
  (let ((n 1))
    (dolist (e (cdr chain) n)
      (when (or (integerp e) (and (consp e) (eq (cdr e) t)))
        (setq n (+ n 1))))))

;; Make the break level at the head of chain (a fixnum as the kernel
;; pushed it) a restart cluster; returns the cluster.
(defun %break-level-cluster (chain &optional condition)
  (let* ((m (car chain))
         (index (logand m 65535))
         (level (%break-level-number chain))
         (restarts nil))
    (when (< 1 level)
      (setq restarts
            (list (%make-restart 'abort (%leave-break-level-function index 2)
                                 (list "return to break level ~D" (- level 1))))))
    (when (logtest m 2097152)
      (when (typep condition 'unbound-variable)
        (let ((name (cell-error-name condition)))
          (setq restarts
                (cons (%make-restart 'store-value
                                     (lambda (value)
                                       (set name value)
                                       (%leave-break-level index 1 value))
                                     (list "give ~S a value and use it" name)
                                     (function %read-value))
                      restarts))))
      (setq restarts
            (cons (%make-restart 'use-value (%leave-break-level-function index 1)
                                 (%use-value-report condition) (function %read-value))
                  restarts)))
    (unless (logtest m 524288)
      (setq restarts
            (cons (%make-restart 'continue (%leave-break-level-function index 0)
                                 (cond ((null condition) "return from the break")
                                       ((eq (car %pending-continuation) condition)
                                        (cdr %pending-continuation))
                                       ((typep condition 'warning) "go on after the warning")
                                       (t "continue")))
                  restarts)))
    (setq %pending-continuation nil)
    (rplaca chain (cons restarts t))
    (car chain)))

(defun %show-restarts ()
  (when (eq *debug-io* *terminal-io*)
    ;; Reports print within the message limits, as the message above them
    ;; does: a circular or very deep object in one must end.
    (let ((restarts (compute-restarts)) (n 0)
          (*print-level* (if (and (integerp *print-level*) (<= *print-level* %message-print-level))
                             *print-level* %message-print-level))
          (*print-length* (if (and (integerp *print-length*)
                                   (<= *print-length* %message-print-length))
                              *print-length* %message-print-length)))
      (when restarts
        (format *error-output* "~&Restarts:")
        (dolist (r restarts)
          (format *error-output* "~& ,~D ~@[~S: ~]~A" n
                  (and (%restart-report r) (%restart-name r)) r)
          (setq n (+ n 1)))))))

(defun %break-level-starts (condition)
  (when (integerp (car %clusters))
    (%break-level-cluster %clusters condition))
  (%show-restarts))

;; The break-loop command: , then a restart's number or name, then forms
;; whose values are its arguments.
(defun %restart-command ()
  "The break-loop command ,N takes restart number N of the list the break
loop shows; ,NAME takes the innermost restart named NAME.  Forms after it
on the line are evaluated for the restart's arguments; without them it
asks for what it needs.  A , alone shows the restarts again."
  (let* ((line (read-line *debug-io* nil ""))
         (position 0)
         (which (multiple-value-bind (x end)
                    (read-from-string line nil '%none)
                  (setq position end)
                  x))
         (arguments nil))
    (if (eq which '%none)
        (let ((*debug-io* *terminal-io*)) (%show-restarts))
        (let ((r (if (integerp which)
                     (and (<= 0 which) (nth which (compute-restarts)))
                     (and (symbolp which) (find-restart which)))))
          (if (null r)
              (format *error-output* "~&No restart ~S is in force" which)
              (progn
                (loop
                  (multiple-value-bind (form end) (read-from-string line nil '%none :start position)
                    (when (eq form '%none) (return))
                    (setq arguments (cons (eval form) arguments) position end)))
                (if arguments
                    (apply (function invoke-restart) r (nreverse arguments))
                    (invoke-restart-interactively r)))))))
  (values))

(setq %break-commands
      (cons (cons #\, (function %restart-command))
            (remove #\, %break-commands :key (function car))))

(%doc-store 'break 'function
            "(BREAK [format-control argument...]) prints the message and enters a
break loop, a read-eval-print loop inside the computation, as an error no
handler takes does.  The break loop lists the restarts in force, numbered:
,N takes restart N (,NAME the innermost one of that name; forms after it on
the line are its arguments, else it asks for them; , alone lists them
again).  Every level offers ABORT, back to the level above; F5 continues
when the break allows it (the CONTINUE restart), F3 enters the debugger,
F7 shows the message again, and any other input is a form to evaluate.")

;; The restart every level ends with: back to top level.
(setq %top-level-restarts
      (list (%make-restart 'abort (lambda () (%abort-to-top-level)) "return to top level")))

;;; ------------------------------------------------------------------
;;; The kernel's entry

(defun %kernel-hook (kind code datum arguments continuation operator)
  (cond ((< kind 3)
         (cond ((eq datum %entering-debugger) datum)
               ;; Quickly when an error-catching context is to take the
               ;; error before any handler could see it.
               ((and (< kind 2) (or code (stringp datum)) (null *break-on-signals*)
                     (%caught-unseen-p))
                nil)
               (t (%signal-kernel-error kind code datum arguments continuation operator))))
        (t
         (%set-symbol-function '%signal-hook (function %kernel-hook))
         (case kind
           (3 (%break-level-starts datum))
           (4 (%show-restarts))
           (5 (let ((r (and (integerp code) (<= 0 code) (nth code (compute-restarts)))))
                (if r (invoke-restart-interactively r) nil)))))))

(%set-symbol-function '%signal-hook (function %kernel-hook))
(setq %signal-hook '%clusters)

;; The slot errors of the object system, as conditions.
(defun %slot-unbound-error (instance name)
  (error 'unbound-slot :name name :instance instance))
