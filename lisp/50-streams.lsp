;;;; Streams: printing functions, the WITH- macros that open and close
;;;; streams, OPEN and CLOSE under their standard contracts, and queries.
;;;;
;;;; Stream designators follow the kernel: for output NIL is
;;;; *STANDARD-OUTPUT* and T is *TERMINAL-IO*; for input NIL is
;;;; *STANDARD-INPUT* and T is *TERMINAL-IO*.

;;; ------------------------------------------------------------------
;;; Printing

(defun princ (object &optional stream)
  "Print OBJECT without escapes (as for a person to read); returns OBJECT."
  (write object :stream stream :escape nil))

(defun prin1 (object &optional stream)
  "Print OBJECT with escapes (so that READ can read it back); returns OBJECT."
  (write object :stream stream :escape t))

(defun pprint (object &optional stream)
  "Start a new line and print OBJECT with escapes, laid out as code."
  (%call-with-stream-held stream t
    (lambda ()
      (write-char #\Newline stream)
      (write object :stream stream :escape t :pretty t)))
  (values))

(defun terpri (&optional stream)
  "Write a newline."
  (write-char #\Newline stream)
  nil)

(defun write-line (string &optional stream &key (start 0) end)
  "Write STRING between START and END, then a newline; returns STRING."
  (%call-with-stream-held stream t
    (lambda ()
      (write-string string stream :start start :end end)
      (write-char #\Newline stream)))
  string)

;; A file stream's buffer goes to the host when the stream seeks, so
;; seeking to where it stands is the flush.  Other streams hold nothing
;; back from their destination.
(defun finish-output (&optional stream)
  "Hand everything written to STREAM so far to its destination."
  (let ((stream (cond ((null stream) *standard-output*)
                      ((eq stream t) *terminal-io*)
                      (t stream))))
    (when (and (%open-file-stream-p stream) (output-stream-p stream))
      (file-position stream (file-position stream)))
    nil))

(defun force-output (&optional stream)
  "Start handing everything written to STREAM to its destination."
  (finish-output stream))

(defun clear-output (&optional stream)
  "Drop output still waiting to go out; nothing is held back to drop."
  nil)

;;; ------------------------------------------------------------------
;;; Questions

(defun %ask (control args choices)
  (let ((io *query-io*)
        (asked nil))
    (loop
      (unless asked
        (fresh-line io)
        (when control
          (apply #'format io control args)
          (write-char #\Space io))
        (format io "(~A or ~A) " (car choices) (cadr choices))
        (setq asked t))
      (let ((line (read-line io nil nil)))
        (when (null line) (return nil))
        (setq line (string-trim '(#\Space #\Tab) line))
        ;; An empty line is the rest of the line the question was asked
        ;; on, or a stray Return: ask for the answer again.
        (cond ((string= line ""))
              ((string-equal line (car choices)) (return t))
              ((string-equal line (cadr choices)) (return nil))
              (t (format io "~&Please answer ~A or ~A.~%" (car choices) (cadr choices))
                 (setq asked nil)))))))

(defun y-or-n-p (&optional control &rest args)
  "Ask a question on *QUERY-IO*: T for an answer y, NIL for n."
  (%ask control args '("y" "n")))

(defun yes-or-no-p (&optional control &rest args)
  "Ask a question on *QUERY-IO*: T for an answer yes, NIL for no."
  (%ask control args '("yes" "no")))

;;; ------------------------------------------------------------------
;;; OPEN and CLOSE
;;;
;;; OPEN takes the standard :IF-EXISTS values :SUPERSEDE and :NEW-VERSION
;;; as a new file that replaces the old one when the stream is closed, and
;;; the standard character element types.  CLOSE accepts every stream: a
;;; string stream, or a file stream already closed, is closed at once.

(unless (fboundp '%open)
  (%set-symbol-function '%open (symbol-function 'open)))
(unless (fboundp '%close)
  (%set-symbol-function '%close (symbol-function 'close)))

(defun %open-option (key value)
  (cond ((and (eq key :if-exists) (member value '(:supersede :new-version)))
         :rename-and-delete)
        ((and (eq key :element-type) (member value '(base-char standard-char)))
         'character)
        (t value)))

(defun open (filename &rest options)
  "Open the file FILENAME and return a stream on it.  The options are
:DIRECTION (:INPUT, :OUTPUT, :IO or :PROBE), :ELEMENT-TYPE, :IF-EXISTS,
:IF-DOES-NOT-EXIST and :EXTERNAL-FORMAT."
  (do ((rest options (cddr rest))
       (args nil))
      ((null rest) (apply #'%open filename (nreverse args)))
    (setq args (cons (%open-option (car rest) (cadr rest))
                     (cons (car rest) args)))))

;; A file stream that is open answers FILE-POSITION; every other stream
;; signals.
(defun %open-file-stream-p (stream)
  (multiple-value-call
    (lambda (value failure) (null failure))
    (%catch-error (file-position stream))))

(defun close (stream &key abort)
  "Close STREAM.  With ABORT true, a file made by OPEN is removed again and
a file it replaced is put back.  Returns T."
  (cond ((not (streamp stream)) (%close stream :abort abort))
        ((%open-file-stream-p stream) (%close stream :abort abort))
        ;; Windows (and files kept in the console code page) go to the
        ;; kernel, which knows them.
        ((eq (stream-external-format stream) :cp866) (%close stream :abort abort))
        (t t)))

;;; ------------------------------------------------------------------
;;; Queries

;; The direction shows in the printed form: #<Input-..., #<Output-...,
;; #<IO-...
(defun %stream-direction (stream)
  (let ((text (write-to-string stream :escape nil)))
    (cond ((string= text "#<Input-" :end1 8) :input)
          ((string= text "#<Output-" :end1 9) :output)
          ((string= text "#<IO-" :end1 5) :io)
          (t nil))))

(defun input-stream-p (stream)
  "True when STREAM can be read from."
  (unless (streamp stream) (error "~S is not a stream" stream))
  (if (member (%stream-direction stream) '(:input :io)) t nil))

(defun output-stream-p (stream)
  "True when STREAM can be written to."
  (unless (streamp stream) (error "~S is not a stream" stream))
  (if (member (%stream-direction stream) '(:output :io)) t nil))

(defun file-length (stream)
  "The length of the file under the open file STREAM, in its elements."
  (let ((here (file-position stream)))
    (file-position stream :end)
    (let ((bytes (file-position stream))
          (type (stream-element-type stream)))
      (file-position stream here)
      (if (consp type) (floor bytes (floor (cadr type) 8)) bytes))))

;;; ------------------------------------------------------------------
;;; The WITH- macros

;; The leading declarations of a body, and the forms after them.
(defun %split-body (body)
  (do ((decls nil (cons (car forms) decls))
       (forms body (cdr forms)))
      ((not (and (consp forms) (consp (car forms)) (eq (car (car forms)) 'declare)))
       (values (nreverse decls) forms))))

(defmacro with-open-file ((var filename &rest options) &rest body)
  "Open FILENAME with OPTIONS as for OPEN, bind VAR to the stream, run BODY
and close the stream, also when BODY is left by a non-local exit; in that
case the stream is closed with :ABORT T."
  (let ((done (gensym)))
    (multiple-value-call
      (lambda (decls forms)
        `(let ((,var (open ,filename ,@options))
               (,done nil))
           ,@decls
           (unwind-protect
                (multiple-value-prog1 (progn ,@forms) (setq ,done t))
             (when (streamp ,var) (close ,var :abort (not ,done))))))
      (%split-body body))))

(defmacro with-open-stream ((var stream) &rest body)
  "Bind VAR to the value of STREAM, run BODY and close the stream, also when
BODY is left by a non-local exit."
  (multiple-value-call
    (lambda (decls forms)
      `(let ((,var ,stream))
         ,@decls
         (unwind-protect (progn ,@forms)
           (when (streamp ,var) (close ,var)))))
    (%split-body body)))

(defmacro with-output-to-string ((var &optional string &key element-type) &rest body)
  "Run BODY with VAR bound to a string output stream.  Without STRING,
returns the string written; with STRING, a string with a fill pointer, the
text goes onto its end and the values of BODY are returned."
  (multiple-value-call
    (lambda (decls forms)
      (if string
          (let ((target (gensym)))
            `(let ((,target ,string)
                   (,var (make-string-output-stream)))
               ,@decls
               (unwind-protect (progn ,@forms)
                 (%append-to-string ,target (get-output-stream-string ,var)))))
          `(let ((,var (make-string-output-stream)))
             ,@decls
             ,@forms
             (get-output-stream-string ,var))))
    (%split-body body)))

;; The characters of TEXT onto the end of STRING, at its fill pointer.
(defun %append-to-string (string text)
  (unless (array-has-fill-pointer-p string)
    (error "~S is not a string with a fill pointer" string))
  (dotimes (i (length text) string)
    (vector-push-extend (char text i) string)))

(defmacro with-input-from-string ((var string &key index (start 0) end) &rest body)
  "Run BODY with VAR bound to a stream reading STRING from START to END;
returns the values of BODY.  INDEX, a place, then receives the index of the
first character not read."
  (multiple-value-call
    (lambda (decls forms)
      `(let ((,var (make-string-input-stream ,string ,start ,end)))
         ,@decls
         ,(if index
              `(multiple-value-prog1 (progn ,@forms)
                 (setf ,index (%stream-position ,var)))
              `(progn ,@forms))))
    (%split-body body)))
