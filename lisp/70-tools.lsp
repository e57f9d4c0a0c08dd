;;;; Tools of the top level: DESCRIBE, APROPOS, TIME, generated symbols,
;;;; the clock, and what the system says about itself.

;;; ------------------------------------------------------------------
;;; The system

(defun lisp-implementation-type () "Zorva")
(defun lisp-implementation-version () "3.7")
(defun software-type () "POSIX")
(defun software-version () nil)
;; The kernel has no way to ask the host about its hardware.
(defun machine-type () nil)
(defun machine-version () nil)
(defun machine-instance () nil)
;; Nor about the site it runs at.
(defun short-site-name () nil)
(defun long-site-name () nil)

;;; ------------------------------------------------------------------
;;; Generated symbols
;;;
;;; The standard GENSYM takes its prefix or number for one call only and
;;; counts in *GENSYM-COUNTER*; the kernel's would keep a prefix for all
;;; later calls.

(defvar *gensym-counter* 1
  "The number the next symbol made by GENSYM gets.")

(defun gensym (&optional (x nil given))
  "A fresh uninterned symbol named by a prefix (\"G\", or the string X)
and *GENSYM-COUNTER*, which goes up by one; an integer X is the number
instead, and the counter stays."
  (let ((prefix "G")
        (n *gensym-counter*))
    (cond ((not given) nil)
          ((stringp x) (setq prefix x))
          ((and (integerp x) (>= x 0)) (setq n x))
          (t (error "GENSYM takes a string or a non-negative integer, not ~S" x)))
    (unless (integerp x)
      (setq *gensym-counter* (1+ n)))
    (make-symbol (format nil "~A~D" prefix n))))

(unless (fboundp '%gentemp)
  (%set-symbol-function '%gentemp (symbol-function 'gentemp)))

(defun gentemp (&optional (prefix "T") package)
  "A new interned symbol whose name is PREFIX followed by a number, one
that no symbol has yet."
  (unless (stringp prefix)
    (error "GENTEMP takes a string as its prefix, not ~S" prefix))
  (%gentemp prefix))

;;; ------------------------------------------------------------------
;;; Time
;;;
;;; The host counts seconds from 1970, universal time from 1900.  Time
;;; zones are hours west of Greenwich.

(defparameter %unix-epoch 2208988800)

(unless (boundp 'internal-time-units-per-second)
  (defconstant internal-time-units-per-second 1000
    "Units of GET-INTERNAL-REAL-TIME and GET-INTERNAL-RUN-TIME in a second."))

(defun get-universal-time ()
  "The current time as seconds since the beginning of 1900 in Greenwich."
  (+ (%get-time) %unix-epoch))

;; Milliseconds of the host's clocks: real time since the kernel started,
;; and the processor time of the process.
(defun get-internal-real-time ()
  "The real time in units of INTERNAL-TIME-UNITS-PER-SECOND, counted from
when the kernel started."
  (%internal-time))

(defun get-internal-run-time ()
  "The processor time used so far, in units of INTERNAL-TIME-UNITS-PER-SECOND."
  (%internal-time t))

;; The standard numbers the days of the week from Monday, the host from
;; Sunday; the standard counts years from 0, the host from 1900.
(defun %standard-decoded (second minute hour date month year day dst zone)
  (values second minute hour date month (+ year 1900) (mod (+ day 6) 7) dst zone))

(defun decode-universal-time (universal-time &optional time-zone)
  "Nine values: second, minute, hour, date, month, year, day of the week
(0 is Monday), whether summer time applies, and the time zone.  Without
TIME-ZONE the time is decoded in the local zone."
  (unless (integerp universal-time)
    (error "~S is not a universal time" universal-time))
  (let ((time (- universal-time %unix-epoch)))
    (cond ((or (null time-zone) (integerp time-zone))
           (multiple-value-call #'%standard-decoded (%decode-time time time-zone)))
          ((realp time-zone)
           ;; A zone in fractions of an hour: decode the shifted time in
           ;; Greenwich and report the zone given.
           (multiple-value-call
             (lambda (s m h d mo y day dst zone)
               (%standard-decoded s m h d mo y day nil time-zone))
             (%decode-time (- time (round (* time-zone 3600))) 0)))
          (t (error "~S is not a time zone" time-zone)))))

(defun get-decoded-time ()
  "The current time decoded in the local zone, as DECODE-UNIVERSAL-TIME."
  (decode-universal-time (get-universal-time)))

(defun %days-in-month (month year)
  (cond ((/= month 2) (if (member month '(4 6 9 11)) 30 31))
        ((and (= (mod year 4) 0) (or (/= (mod year 100) 0) (= (mod year 400) 0))) 29)
        (t 28)))

(defun encode-universal-time (second minute hour date month year &optional time-zone)
  "The universal time of the given moment in TIME-ZONE (the local zone
when absent).  A YEAR from 0 to 99 is the one within 50 years of now."
  (when (and (integerp year) (<= 0 year 99))
    (let* ((now (multiple-value-call (lambda (&rest v) (nth 5 v)) (get-decoded-time)))
           (century (* 100 (floor now 100))))
      (setq year (+ century year))
      (cond ((> (- year now) 50) (setq year (- year 100)))
            ((> (- now year) 50) (setq year (+ year 100))))))
  (unless (and (integerp year) (<= 1900 year 9999))
    (error "~S is not a year from 1900 to 9999" year))
  (unless (and (integerp month) (<= 1 month 12)
               (integerp date) (<= 1 date (%days-in-month month year)))
    (error "~S/~S/~S is not a date" year month date))
  (+ %unix-epoch
     (cond ((or (null time-zone) (integerp time-zone))
            (if time-zone
                (%encode-time second minute hour date month (- year 1900) time-zone)
                (%encode-time second minute hour date month (- year 1900))))
           ((realp time-zone)
            (+ (%encode-time second minute hour date month (- year 1900) 0)
               (round (* time-zone 3600))))
           (t (error "~S is not a time zone" time-zone)))))

;;; TIME: the kernel's timing form reports the elapsed real time on
;;; *TRACE-OUTPUT*; the standard operator is a macro.

(unless (fboundp '%time)
  (%set-symbol-function '%time (symbol-function 'time)))

(defmacro time (form)
  "Evaluate FORM, report the real time it took on *TRACE-OUTPUT*, and
return its values."
  (list '%time form))

;;; ------------------------------------------------------------------
;;; APROPOS

(defun apropos (string &optional package)
  "List the symbols whose names contain STRING (in any case), with what
they name."
  (let ((symbols (sort (copy-list (apropos-list string))
                       (lambda (a b) (string< (symbol-name a) (symbol-name b))))))
    (dolist (s symbols)
      (fresh-line)
      (prin1 s)
      (cond ((special-operator-p s) (write-string " (special form)"))
            ((macro-function s) (write-string " (macro)"))
            ((fboundp s) (write-string " (function)")))
      (when (boundp s)
        (write-string (if (constantp s) " (constant)" " (value)"))))
    (fresh-line)
    (values)))

;;; ------------------------------------------------------------------
;;; DESCRIBE

;; A documentation string when the documentation store has one.
(defun %doc-of (x kind)
  (and (fboundp 'documentation)
       (multiple-value-call
         (lambda (doc failure) (and (null failure) (stringp doc) doc))
         (%catch-error (documentation x kind)))))

(defun %describe-function (fn stream)
  (cond ((and (consp fn) (eq (car fn) 'macro))
         (format stream "~&  It is a macro with the lambda list ~S.~%" (cadr fn)))
        ((and (consp fn) (eq (car fn) 'lambda))
         (format stream "~&  It is a function with the lambda list ~S.~%" (cadr fn)))
        ((and (consp fn) (eq (car fn) 'lexical-closure))
         (format stream "~&  It is a closure.~%"))
        (t (format stream "~&  It is ~S.~%" fn))))

(defun %describe-symbol (s stream)
  (format stream "~&~S is a ~:[symbol~;keyword~].~%" s (keywordp s))
  (cond ((keywordp s))
        ((boundp s)
         (format stream "~&Its value~:[~; (a constant)~] is ~S.~%"
                 (constantp s) (symbol-value s)))
        (t (format stream "~&It has no value.~%")))
  (cond ((special-operator-p s)
         (format stream "~&It names a special form.~%"))
        ((fboundp s)
         (format stream "~&It names a ~:[function~;macro~].~%" (macro-function s))
         (%describe-function (symbol-function s) stream)))
  (when (find-class s nil)
    (format stream "~&It names the class ~S.~%" (find-class s)))
  (when (symbol-plist s)
    (format stream "~&Its properties:~%")
    (do ((p (symbol-plist s) (cddr p)))
        ((atom p))
      (format stream "~&  ~S: ~S~%" (car p) (if (consp (cdr p)) (cadr p) nil))))
  (dolist (kind '(function variable type))
    (let ((doc (%doc-of s kind)))
      (when doc
        (format stream "~&Documentation (~(~A~)):~%  ~A~%" kind doc)))))

(defun %describe-number (x stream)
  (cond ((integerp x)
         (format stream "~&~S is an integer (~:[a bignum~;a fixnum~]).~%"
                 x (typep x 'fixnum))
         (format stream "~&  In other radixes: #x~X #o~O #b~B~%" x x x))
        ((floatp x)
         (format stream "~&~S is a double-float.~%" x))
        (t
         (format stream "~&~S is a complex number: real part ~S, imaginary part ~S.~%"
                 x (realpart x) (imagpart x)))))

;; The number of conses of a list and whether it ends in NIL; NIL for a
;; circular one.
(defun %list-shape (x)
  (do ((fast x (cddr fast))
       (slow x (cdr slow))
       (n 0 (+ n 2)))
      (nil)
    (cond ((atom fast) (return (values n (null fast))))
          ((atom (cdr fast)) (return (values (1+ n) (null (cdr fast)))))
          ((and (> n 0) (eq fast slow)) (return nil)))))

(defun %describe-list (x stream)
  (multiple-value-bind (n proper) (%list-shape x)
    (cond ((null n) (format stream "~&It is a circular list.~%"))
          ((not proper) (format stream "~&~S is a dotted list.~%" x))
          (t (format stream "~&~S is a list of ~D element~A.~%" x n (if (= n 1) "" "s"))))
    (when (member (car x) '(lambda lexical-closure))
      (format stream "~&It can be called as a function.~%"))))

(defun %describe-hash-table (x stream)
  (format stream "~&~S is a hash table with ~D entr~A, test ~S.~%"
          x (hash-table-count x) (if (= (hash-table-count x) 1) "y" "ies")
          (hash-table-test x))
  (let ((shown 0))
    (block entries
      (maphash (lambda (k v)
                 (when (>= shown 20)
                   (format stream "~&  ...~%")
                   (return-from entries))
                 (setq shown (1+ shown))
                 (format stream "~&  ~S -> ~S~%" k v))
               x))))

;; The slots of an instance, from the slot definitions #(name location ...)
;; of its class.
(defun %describe-instance (x stream)
  (let* ((class (class-of x))
         (slots (multiple-value-call
                  (lambda (v failure) (if failure nil v))
                  (%catch-error (slot-value class 7)))))
    (format stream "~&~S is an instance of the class ~S.~%" x (class-name class))
    (dolist (d (if (listp slots) slots nil))
      (when (and (simple-vector-p d) (> (length d) 1) (integerp (svref d 1)))
        (if (slot-boundp x (svref d 0))
            (format stream "~&  ~S: ~S~%" (svref d 0) (slot-value x (svref d 1)))
            (format stream "~&  ~S: unbound~%" (svref d 0)))))))

(defun describe (object &optional stream)
  "Print a description of OBJECT on STREAM, by DESCRIBE-OBJECT."
  (let ((stream (cond ((null stream) *standard-output*)
                      ((eq stream t) *terminal-io*)
                      (t stream))))
    (if (fboundp 'describe-object)
        (describe-object object stream)
        (%describe-plain object stream))
    (values)))

;; The descriptions of the objects that are not instances; the default
;; method of DESCRIBE-OBJECT.
(defun %describe-plain (object stream)
  (progn
    (cond ((symbolp object) (%describe-symbol object stream))
          ((numberp object) (%describe-number object stream))
          ((characterp object)
           (format stream "~&~S is a character, code ~D~@[, named ~A~].~%"
                   object (char-code object) (char-name object)))
          ((stringp object)
           (format stream "~&~S is a string of length ~D.~%" object (length object)))
          ((consp object) (%describe-list object stream))
          ((simple-vector-p object)
           (format stream "~&~S is a vector of length ~D.~%" object (length object)))
          ((arrayp object)
           (format stream "~&~S is an array of dimensions ~S.~%"
                   object (array-dimensions object)))
          ((hash-table-p object) (%describe-hash-table object stream))
          ((streamp object)
           (format stream "~&~S is an ~A stream.~%" object
                   (cond ((and (input-stream-p object) (output-stream-p object)) "input and output")
                         ((input-stream-p object) "input")
                         (t "output"))))
          ((%standard-object-p object) (%describe-instance object stream))
          ((functionp object) (format stream "~&~S is a built-in function.~%" object))
          (t (format stream "~&~S is an object of the type ~S.~%" object (type-of object))))
    (values)))
