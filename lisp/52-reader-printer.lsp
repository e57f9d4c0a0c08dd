;;;; The reader and printer beyond the kernel: their control variables,
;;;; #. under *READ-EVAL*, *READ-SUPPRESS* for the reading functions,
;;;; READ-PRESERVING-WHITESPACE and READ-DELIMITED-LIST, the dispatch
;;;; tables of macro characters, #S for structures, and
;;;; WITH-STANDARD-IO-SYNTAX.

;;; ------------------------------------------------------------------
;;; Control variables

(defvar *read-eval* t
  "When NIL, #. signals an error instead of evaluating its form.")

(defvar *read-suppress* nil
  "When true, the reading functions read past an object and return NIL.")

;; Every float is a double, so every float format is that one type.
(defvar *read-default-float-format* 'single-float
  "The float format of a float written without an exponent marker.")

(defvar *print-circle* nil
  "When true, shared and circular structure prints with #n= and #n#.")

(defvar *print-readably* nil
  "When true, objects print so that READ gives them back, or not at all.")

(defvar *print-lines* nil
  "The most lines a pretty-printed object may take; NIL for no limit.")

(defvar *print-miser-width* nil
  "The width below which the pretty printer saves space; NIL for never.")

;;; ------------------------------------------------------------------
;;; Dispatching macro characters.  A dispatching character's entry in
;;; the macro-character table is a hash table from the (upper-case)
;;; sub-character to its function.

(defun get-dispatch-macro-character (disp-char sub-char &optional readtable)
  "The function of the dispatching macro character DISP-CHAR for
SUB-CHAR, or NIL."
  (let ((table (get-macro-character disp-char)))
    (unless (hash-table-p table)
      (error "~S is not a dispatching macro character" disp-char))
    (if (digit-char-p sub-char)
        nil
        (values (gethash (char-upcase sub-char) table)))))

;; #. is refused when *READ-EVAL* is NIL; under *READ-SUPPRESS* the form
;; is read and not evaluated.
(defun %read-sharp-dot (stream char argument)
  (cond (*read-suppress* (read stream t nil t) nil)
        (*read-eval* (%read-sharp-eval stream char argument))
        (t (error "#. is not allowed while *READ-EVAL* is NIL"))))

(set-dispatch-macro-character #\# #\. (function %read-sharp-dot))

;; #S(name :slot value ...) makes a structure: the slots not named get
;; their initial values.
(defun %read-sharp-structure (stream char argument)
  (let ((spec (read stream t nil t)))
    (cond (*read-suppress* nil)
          ((not (and (consp spec) (symbolp (car spec))))
           (error "#S needs a list beginning with a structure name, not ~S" spec))
          (t
           (let ((d (%structure-description (car spec))))
             (unless (and d (%sd-class d))
               (error "~S is not the name of a structure" (car spec)))
             (let ((values nil))
               (dolist (s (slot-value (%sd-class d) 7))
                 (let ((given (member (symbol-name (%slot-name s)) (cdr spec)
                                      :test (lambda (name key)
                                              (and (symbolp key) (string= name (symbol-name key)))))))
                   (setq values (cons (if given (cadr given) (eval (%slot-initform s)))
                                      values))))
               (apply (function allocate-instance) (%sd-class d) (nreverse values))))))))

(set-dispatch-macro-character #\# #\S (function %read-sharp-structure))

;; #n=object labels an object, #n# stands for it, also inside itself.
;; While the labelled object is read its label stands for a placeholder,
;; which is replaced by the object once it is complete.  Labels hold for
;; the outermost READ of the library's reading functions; for the reads
;; of the kernel (LOAD, the top level) they hold until redefined.
(defvar %read-labels nil "Entries (label placeholder . object) of #n= labels.")

(defun %read-label-number (char argument)
  (unless (and (integerp argument) (>= argument 0))
    (error "#~A needs a label number" char))
  argument)

(defun %read-sharp-equal (stream char argument)
  (if *read-suppress*
      (progn (read stream t nil t) nil)
      (let* ((n (%read-label-number char argument))
             (placeholder (list '%read-label n))
             (entry (list n placeholder)))
        (when (assoc n %read-labels)
          (setq %read-labels (remove n %read-labels :key (function car))))
        (setq %read-labels (cons entry %read-labels))
        (let ((object (read stream t nil t)))
          (when (eq object placeholder)
            (error "#~D= cannot label only itself" n))
          (setf (cddr entry) object)
          (%replace-placeholder object placeholder object)
          object))))

(defun %read-sharp-sharp (stream char argument)
  (if *read-suppress*
      nil
      (let ((entry (assoc (%read-label-number char argument) %read-labels)))
        (unless entry (error "#~D# refers to no label" argument))
        (if (cddr entry) (cddr entry) (cadr entry)))))

;; Replace PLACEHOLDER by OBJECT throughout TREE: conses, arrays and
;; structures, each visited once.
(defun %replace-placeholder (tree placeholder object)
  (let ((seen (make-hash-table :test 'eq))
        (stack (list tree)))
    (loop
      (when (null stack) (return nil))
      (let ((x (pop stack)))
        (unless (or (%atom-without-parts-p x) (gethash x seen))
          (setf (gethash x seen) t)
          (cond ((consp x)
                 (if (eq (car x) placeholder) (rplaca x object) (push (car x) stack))
                 (if (eq (cdr x) placeholder) (rplacd x object) (push (cdr x) stack)))
                ((and (arrayp x) (not (stringp x)))
                 (dotimes (i (array-total-size x))
                   (let ((e (row-major-aref x i)))
                     (if (eq e placeholder)
                         (%set-row-major-aref x i object)
                         (push e stack)))))
                ((%structure-instance-p x)
                 (dolist (slot (slot-value (class-of x) 7))
                   (let ((location (%slot-location slot)))
                     (when (slot-boundp x location)
                       (let ((e (slot-value x location)))
                         (if (eq e placeholder)
                             (%set-slot-value x location object)
                             (push e stack)))))))))))))

(defun %atom-without-parts-p (x)
  (not (or (consp x) (and (arrayp x) (not (stringp x))) (%structure-instance-p x))))

(set-dispatch-macro-character #\# #\= (function %read-sharp-equal))

;; #nAcontents: an array of rank n, its dimensions those of the nested
;; sequences of contents, n levels deep.
(defun %read-sharp-array (stream char rank)
  (let ((contents (read stream t nil t)))
    (cond (*read-suppress* nil)
          ((not (and (integerp rank) (>= rank 0)))
           (error "#~A needs the rank of the array" char))
          ((= rank 0) (make-array nil :initial-element contents))
          (t (let ((dimensions '()) (level contents))
               (dotimes (i rank)
                 (unless (typep level 'sequence)
                   (error "#~DA contents ~S do not have ~D levels" rank contents rank))
                 (push (length level) dimensions)
                 (setq level (if (zerop (length level)) nil (elt level 0))))
               (make-array (nreverse dimensions) :initial-contents contents))))))

(set-dispatch-macro-character #\# #\A (function %read-sharp-array))
(set-dispatch-macro-character #\# #\# (function %read-sharp-sharp))

;;; ------------------------------------------------------------------
;;; Reading functions.  *READ-SUPPRESS* makes them read past an object
;;; and return NIL.

(unless (fboundp '%kernel-read)
  (%set-symbol-function '%kernel-read (symbol-function 'read)))

(defun read (&optional stream (eof-error-p t) eof-value recursive-p)
  "Read the next object from STREAM.  At the end of the stream: an error,
or EOF-VALUE when EOF-ERROR-P is NIL."
  (if *read-suppress*
      (%read-suppressed stream eof-error-p eof-value recursive-p)
      (let ((%read-labels (if recursive-p %read-labels nil)))
        (%kernel-read stream eof-error-p eof-value recursive-p))))

(defun read-preserving-whitespace (&optional stream (eof-error-p t) eof-value recursive-p)
  "Read the next object from STREAM as READ does, but leave the whitespace
that ends a token in the stream."
  (let ((marker '%no-character))
    (if (eq (peek-char t stream nil marker recursive-p) marker)
        ;; At the end: READ reports it, or gives the EOF value.
        (read stream eof-error-p eof-value recursive-p)
        ;; A read inside an object leaves the whitespace after a token.
        (if *read-suppress*
            (%read-suppressed stream t nil t)
            (%kernel-read stream t nil t)))))

(defun read-delimited-list (char &optional stream recursive-p)
  "Read objects from STREAM up to the character CHAR, and return them as a
list.  CHAR is usually a macro character, so that it ends a token."
  (let ((objects nil))
    (loop
      (let ((c (peek-char t stream t nil t)))
        (when (char= c char)
          (read-char stream)
          (return (if *read-suppress* nil (nreverse objects))))
        (setq objects (cons (if *read-suppress*
                                (%read-suppressed stream t nil t)
                                (%kernel-read stream t nil t))
                            objects))))))

;;; ------------------------------------------------------------------
;;; Standard syntax

(defmacro with-standard-io-syntax (&body body)
  "Run BODY with the reader and printer variables at their standard
values."
  (list* 'let '((*package* (find-package "COMMON-LISP-USER"))
                (*print-array* t) (*print-base* 10) (*print-case* :upcase)
                (*print-circle* nil) (*print-escape* t) (*print-gensym* t)
                (*print-length* nil) (*print-level* nil) (*print-lines* nil)
                (*print-miser-width* nil) (*print-pretty* nil) (*print-radix* nil)
                (*print-readably* t) (*read-base* 10)
                (*read-default-float-format* 'single-float) (*read-eval* t)
                (*read-suppress* nil) (*readtable* %standard-readtable))
         body))

;;; ------------------------------------------------------------------
;;; FORMATTER, and FORMAT with a function as its control

(unless (fboundp '%kernel-format)
  (%set-symbol-function '%kernel-format (symbol-function 'format)))

(defun format (destination control &rest arguments)
  "Write ARGUMENTS under the control string CONTROL (or a function made by
FORMATTER) to DESTINATION: NIL for a new string, T for *STANDARD-OUTPUT*,
a stream, or a string with a fill pointer."
  (if (and (stringp destination) (not (simple-string-p destination)))
      (with-output-to-string (stream destination)
        (apply (function format) stream control arguments)
        nil)
  (if (or (stringp control) (not (functionp control)))
      (apply (function %kernel-format) destination control arguments)
      (if (null destination)
          (let ((stream (make-string-output-stream)))
            (apply control stream arguments)
            (get-output-stream-string stream))
          (progn (apply control (if (eq destination t) *standard-output* destination)
                        arguments)
                 nil)))))

(defmacro formatter (control-string)
  "A function of a stream and arguments that writes the arguments under
CONTROL-STRING to the stream.  It returns NIL: which arguments the string
used is not known to it."
  (unless (stringp control-string)
    (error "FORMATTER takes a control string, not ~S" control-string))
  (let ((stream (gensym)) (arguments (gensym)))
    (list 'function
          (list 'lambda (list stream '&rest arguments)
                (list 'apply '(function %kernel-format) stream control-string arguments)
                nil))))

;;; ------------------------------------------------------------------
;;; Readtables.  A readtable holds a syntax vector: for each of the 128
;;; characters and one shared entry for all others, the syntax class (a
;;; fixnum) or the macro function (a dispatching character's is a hash
;;; table from sub-character to function), then whether each macro
;;; character is non-terminating; and its case.  The reader and the macro
;;; character functions use the readtable in *READTABLE*.  The standard
;;; readtable is built from the macro-character table the library set up.

(defun %print-readtable (readtable stream depth)
  (declare (ignore depth))
  (write-string (format nil "#<READTABLE ~:@(~A~)>" (readtable-case readtable)) stream))

;; The kernel reads the syntax vector and the case number by their
;; places: the first and second slot.
(defstruct (readtable (:constructor %make-readtable (syntax case-number))
                      (:conc-name %readtable-)
                      (:predicate readtablep)
                      (:copier nil)
                      (:print-function %print-readtable))
  syntax
  (case-number 0))

(defparameter %readtable-cases '(:upcase :downcase :preserve :invert))

(defun readtable-case (readtable)
  "The case the reader gives the letters of symbols: :UPCASE, :DOWNCASE,
:PRESERVE or :INVERT."
  (unless (readtablep readtable) (error "~S is not a readtable" readtable))
  (nth (%readtable-case-number readtable) %readtable-cases))

(defun %set-readtable-case (readtable mode)
  (%check-standard-readtable readtable)
  (let ((n (position mode %readtable-cases)))
    (unless n (error "~S is not a readtable case" mode))
    (setf (%readtable-case-number readtable) n)
    mode))

(defsetf readtable-case %set-readtable-case)

;; The syntax classes of the characters that are not macro characters in
;; the kernel's table: backspace is a constituent, tab, newline, vertical
;; tab, page, return and space are whitespace, backslash and bar escapes,
;; the other control characters illegal, everything else a constituent.
(defun %standard-syntax-class (code)
  (cond ((member code '(9 10 11 12 13 32)) 2)
        ((= code 92) 4)
        ((= code 124) 5)
        ((or (= code 8) (>= code 33)) 7)
        (t nil)))

;; A fresh syntax vector with the entries of the current readtable; the
;; dispatch tables are copied, so changing one table leaves the other.
(defun %current-syntax ()
  (let ((v (make-array 258 :initial-element nil)))
    (dotimes (code 129 v)
      (multiple-value-bind (function non-terminating) (get-macro-character (code-char code))
        (cond ((null function)
               (setf (svref v code) (%syntax-class-of code)))
              ((hash-table-p function)
               (let ((copy (make-hash-table :test 'eql)))
                 (maphash (lambda (k f) (setf (gethash k copy) f)) function)
                 (setf (svref v code) copy)))
              (t (setf (svref v code) function)))
        (setf (svref v (+ 129 code)) (if (and function non-terminating) t nil))))))

;; The syntax class of a character that is no macro character: the
;; current readtable's when it has one, else the kernel's standard one.
(defun %syntax-class-of (code)
  (let ((rt *readtable*))
    (if (and (readtablep rt) (%readtable-syntax rt))
        (let ((e (svref (%readtable-syntax rt) code)))
          (if (integerp e) e nil))
        (%standard-syntax-class code))))

(defparameter %standard-readtable (%make-readtable nil 0))
(setf (%readtable-syntax %standard-readtable) (%current-syntax))

(defun copy-readtable (&optional (from-readtable *readtable*) to-readtable)
  "A copy of FROM-READTABLE (the standard readtable for NIL), made in
TO-READTABLE when one is given."
  (let ((from (if (null from-readtable) %standard-readtable from-readtable)))
    (unless (readtablep from) (error "~S is not a readtable" from))
    (unless (or (null to-readtable) (readtablep to-readtable))
      (error "~S is not a readtable" to-readtable))
    (let ((syntax (let ((*readtable* from)) (%current-syntax)))
          (to (or to-readtable (%make-readtable nil 0))))
      (setf (%readtable-syntax to) syntax
            (%readtable-case-number to) (%readtable-case-number from))
      to)))

(defvar *readtable* nil "The readtable the reader uses.")
(setq *readtable* (copy-readtable nil))

(defun %with-readtable (readtable function)
  (let ((*readtable* (or readtable *readtable*)))
    (unless (readtablep *readtable*) (error "~S is not a readtable" *readtable*))
    (funcall function)))

(unless (fboundp '%kernel-set-macro-character)
  (%set-symbol-function '%kernel-set-macro-character (symbol-function 'set-macro-character))
  (%set-symbol-function '%kernel-get-macro-character (symbol-function 'get-macro-character))
  (%set-symbol-function '%kernel-set-dispatch-macro-character
                        (symbol-function 'set-dispatch-macro-character)))

(defun set-macro-character (char new-function &optional non-terminating-p
                                 (readtable *readtable*))
  "Make CHAR a macro character of READTABLE whose reader is NEW-FUNCTION,
non-terminating when NON-TERMINATING-P."
  (when (readtablep readtable)
    (%check-standard-readtable readtable))
  (%with-readtable readtable
    (lambda () (%kernel-set-macro-character char new-function non-terminating-p))))

(defun get-macro-character (char &optional (readtable *readtable*))
  "The reader function of CHAR in READTABLE and whether it is
non-terminating; NIL when CHAR is no macro character."
  (%with-readtable readtable (lambda () (%kernel-get-macro-character char))))

(defun set-dispatch-macro-character (disp-char sub-char new-function
                                               &optional (readtable *readtable*))
  "Make NEW-FUNCTION the reader of SUB-CHAR after the dispatching macro
character DISP-CHAR in READTABLE."
  (when (readtablep readtable)
    (%check-standard-readtable readtable))
  (%with-readtable readtable
    (lambda () (%kernel-set-dispatch-macro-character disp-char sub-char new-function))))

(defun get-dispatch-macro-character (disp-char sub-char &optional (readtable *readtable*))
  "The function of the dispatching macro character DISP-CHAR for
SUB-CHAR, or NIL."
  (%with-readtable
   readtable
   (lambda ()
     (let ((table (get-macro-character disp-char)))
       (unless (hash-table-p table)
         (error "~S is not a dispatching macro character" disp-char))
       (if (digit-char-p sub-char)
           nil
           (values (gethash (char-upcase sub-char) table)))))))

(defun make-dispatch-macro-character (char &optional non-terminating-p
                                           (readtable *readtable*))
  "Make CHAR a dispatching macro character of READTABLE, with no
sub-characters yet."
  (%check-standard-readtable readtable)
  (let ((syntax (%readtable-syntax readtable))
        (code (char-code char)))
    (unless (and syntax (< code 128)) (error "~S cannot be a dispatching macro character" char))
    (setf (svref syntax code) (make-hash-table :test 'eql)
          (svref syntax (+ 129 code)) (if non-terminating-p t nil))
    t))

(defun set-syntax-from-char (to-char from-char &optional (to-readtable *readtable*)
                                     (from-readtable %standard-readtable))
  "Give TO-CHAR in TO-READTABLE the syntax FROM-CHAR has in FROM-READTABLE
(the standard readtable when NIL)."
  (let ((from (or from-readtable %standard-readtable)))
    (%check-standard-readtable to-readtable)
    (unless (readtablep from) (error "~S is not a readtable" from))
    (let ((to-code (char-code to-char)) (from-code (char-code from-char))
          (source (let ((*readtable* from)) (%current-syntax))))
      (when (or (> to-code 127) (> from-code 127))
        (error "~S or ~S lies outside the readtable's characters" to-char from-char))
      (setf (svref (%readtable-syntax to-readtable) to-code) (svref source from-code)
            (svref (%readtable-syntax to-readtable) (+ 129 to-code)) (svref source (+ 129 from-code)))
      t)))

;; The standard readtable is never changed.
(defun %check-standard-readtable (readtable)
  (unless (readtablep readtable) (error "~S is not a readtable" readtable))
  (when (eq readtable %standard-readtable)
    (error "The standard readtable cannot be changed")))
