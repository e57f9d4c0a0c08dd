;;;; The pretty printer's programmable interface: logical blocks with
;;;; their prefixes and suffixes, conditional newlines, indentation and
;;;; tabulation, the list printers PPRINT-FILL, PPRINT-LINEAR and
;;;; PPRINT-TABULAR, and dispatch tables.
;;;;
;;;; The printer lays code out by the layout of each operator, and knows
;;;; nothing of logical blocks; these functions write through it.  A
;;;; conditional newline cannot look ahead, so :LINEAR, :FILL and :MISER
;;;; newlines break the line only when it has already reached the right
;;;; margin; :MANDATORY ones always do.  Lines broken inside a block start
;;;; at its indentation, after its per-line prefix.
;;;;
;;;; A dispatch table is consulted by WRITE, PRIN1, PRINC and PPRINT for
;;;; the object they are given, while *PRINT-PRETTY* is true; objects
;;;; inside it are printed by the printer itself.

;;; ------------------------------------------------------------------
;;; Logical blocks
;;;
;;; The blocks being printed, innermost first, as vectors #(stream
;;; start-column indentation per-line-prefix).

(defvar %pprint-blocks nil)

(defun %pprint-stream (stream)
  (cond ((null stream) *standard-output*)
        ((eq stream t) *terminal-io*)
        (t stream)))

(defun %pprint-column (stream)
  (%stream-position stream))

(defun %pprint-block (stream)
  (let ((b (car %pprint-blocks)))
    (and b (eq (svref b 0) stream) b)))

;; *PRINT-LINES* in logical blocks: the outermost block counts the lines
;; its breaks start; the break that would start one past the limit writes
;; " .." instead and leaves for the outermost block, which still writes its
;; suffix.
(defvar %pprint-lines-left nil)

(defun %pprint-fresh-line (stream block)
  (when (and %pprint-lines-left
             (<= (setq %pprint-lines-left (1- %pprint-lines-left)) 0))
    (write-string " .." stream)
    (throw '%pprint-lines-out nil))
  (terpri stream)
  (let ((prefix (svref block 3)))
    (when prefix
      (dotimes (i (- (svref block 1) (length prefix))) (write-char #\Space stream))
      (write-string prefix stream)))
  (dotimes (i (- (svref block 2) (%pprint-column stream)))
    (write-char #\Space stream)))

;; Prints OBJECT in a logical block: BODY is called with the stream, and
;; writes the elements; a non-list OBJECT is simply written.
(defun %pprint-logical-block (stream object prefix per-line-prefix suffix body)
  (let ((stream (%pprint-stream stream)))
    (cond ((not (listp object)) (write object :stream stream))
          ((and *print-level* (<= *print-level* (length %pprint-blocks)))
           (write-char #\# stream))
          (t
           (when (and prefix per-line-prefix)
             (error "A logical block takes :PREFIX or :PER-LINE-PREFIX, not both"))
           (write-string (or per-line-prefix prefix "") stream)
           (let* ((column (%pprint-column stream))
                  (outermost (null %pprint-blocks))
                  (%pprint-blocks (cons (vector stream column column per-line-prefix)
                                        %pprint-blocks)))
             (if outermost
                 (let ((%pprint-lines-left (and *print-pretty* (integerp *print-lines*)
                                                (> *print-lines* 0) *print-lines*)))
                   (catch '%pprint-lines-out (funcall body stream object)))
                 (funcall body stream object)))
           (write-string (or suffix "") stream)))
    nil))

(defmacro pprint-logical-block ((stream-symbol object &key (prefix nil prefix-p)
                                               per-line-prefix (suffix "")) &body body)
  "Print the list OBJECT in a logical block on the stream STREAM-SYMBOL
names (NIL standard output, T the terminal): PREFIX, the BODY, which takes
the elements with PPRINT-POP, then SUFFIX.  A non-list OBJECT is written
as it is."
  (let ((var (cond ((null stream-symbol) '*standard-output*)
                   ((eq stream-symbol t) '*terminal-io*)
                   (t stream-symbol)))
        (list (gensym)) (count (gensym)) (done (gensym)))
    (list '%pprint-logical-block var object
          (if prefix-p prefix (if per-line-prefix nil "")) per-line-prefix suffix
          (list 'function
                (list 'lambda (list var list)
                      (list 'let (list (list count 0))
                            (list* 'block done
                                   (list (list* 'macrolet
                                                (list (list 'pprint-exit-if-list-exhausted nil
                                                            (list 'quote (list 'when (list 'null list)
                                                                               (list 'return-from done nil))))
                                                      (list 'pprint-pop nil
                                                            (list 'quote (list '%pprint-pop var list count done))))
                                                body)))))))))

(defmacro %pprint-pop (stream list count done)
  (list 'progn
        (list 'when (list 'and '*print-length* (list '>= count '*print-length*))
              (list 'write-string "..." stream)
              (list 'return-from done nil))
        (list 'when (list 'and list (list 'atom list))
              (list 'write-string ". " stream)
              (list 'write list :stream stream)
              (list 'return-from done nil))
        (list 'setq count (list '1+ count))
        (list 'pop list)))

(defmacro pprint-pop ()
  "The next element of the list of the innermost PPRINT-LOGICAL-BLOCK."
  (error "PPRINT-POP is used outside PPRINT-LOGICAL-BLOCK"))

(defmacro pprint-exit-if-list-exhausted ()
  "Leave the innermost PPRINT-LOGICAL-BLOCK when its list has no elements left."
  (error "PPRINT-EXIT-IF-LIST-EXHAUSTED is used outside PPRINT-LOGICAL-BLOCK"))

(defun pprint-newline (kind &optional stream)
  "A conditional newline of KIND (:LINEAR, :FILL, :MISER or :MANDATORY) in
the current logical block."
  (unless (member kind '(:linear :fill :miser :mandatory))
    (error "~S is not a kind of conditional newline" kind))
  (let* ((stream (%pprint-stream stream))
         (block (%pprint-block stream)))
    (when (and block *print-pretty*
               (or (eq kind :mandatory)
                   (>= (%pprint-column stream) *print-right-margin*)))
      (%pprint-fresh-line stream block))
    nil))

(defun pprint-indent (relative-to n &optional stream)
  "Set the indentation of the current logical block: N columns from its
start (:BLOCK) or from the current column (:CURRENT)."
  (let* ((stream (%pprint-stream stream))
         (block (%pprint-block stream)))
    (when (and block *print-pretty*)
      (setf (svref block 2)
            (max 0 (+ n (ecase relative-to
                          (:block (svref block 1))
                          (:current (%pprint-column stream)))))))
    nil))

(defun pprint-tab (kind colnum colinc &optional stream)
  "Move to a column: COLNUM, or the next one COLINC further (:LINE,
:SECTION); COLNUM columns on, then to a multiple of COLINC (the -RELATIVE
kinds).  Sections are counted from the start of the current block."
  (let* ((stream (%pprint-stream stream))
         (block (%pprint-block stream))
         (origin (if (and block (member kind '(:section :section-relative))) (svref block 1) 0))
         (column (- (%pprint-column stream) origin))
         (target (ecase kind
                   ((:line :section)
                    (cond ((< column colnum) colnum)
                          ((> colinc 0) (+ colnum (* colinc (ceiling (- column colnum) colinc))))
                          (t column)))
                   ((:line-relative :section-relative)
                    (let ((to (+ column colnum)))
                      (if (> colinc 0) (* colinc (ceiling to colinc)) to))))))
    (when *print-pretty*
      (dotimes (i (- target column)) (write-char #\Space stream)))
    nil))

;;; ------------------------------------------------------------------
;;; The list printers, in the shape FORMAT's ~/.../ calls them.

;; The list printers know their elements, so they look ahead: a :FILL
;; line breaks before an element that would pass the right margin, a
;; :LINEAR list breaks between all its elements when the whole does not
;; fit.  A line is broken instead of the space between two elements.
(defun %pprint-list (stream list colon-p kind &optional tabsize)
  (let* ((margin *print-right-margin*)
         (break-all (and *print-pretty* (eq kind :linear)
                         (> (+ (%pprint-column stream)
                               (length (write-to-string list :pretty nil)))
                            margin))))
    (%pprint-logical-block
     stream list (if colon-p "(" "") nil (if colon-p ")" "")
     (lambda (stream list)
       (let ((count 0))
         (loop
           (when (null list) (return))
           (when (and *print-length* (>= count *print-length*))
             (write-string "..." stream)
             (return))
           (when (atom list)
             (write-string ". " stream)
             (write list :stream stream)
             (return))
           (write (car list) :stream stream)
           (setq list (cdr list) count (1+ count))
           (when (null list) (return))
           (let ((block (%pprint-block stream)))
             (cond ((and *print-pretty* block
                         (or break-all
                             (and (not (eq kind :linear)) (consp list)
                                  (> (+ (%pprint-column stream) 1
                                        (length (write-to-string (car list) :pretty nil)))
                                     margin))))
                    (%pprint-fresh-line stream block))
                   (t (write-char #\Space stream)
                      (when tabsize (pprint-tab :section-relative 0 tabsize stream)))))))))))

(defun pprint-fill (stream object &optional (colon-p t) at-sign-p)
  "Print the list OBJECT with as many elements on each line as fit, in
parentheses when COLON-P."
  (%pprint-list (%pprint-stream stream) object colon-p :fill))

(defun pprint-linear (stream object &optional (colon-p t) at-sign-p)
  "Print the list OBJECT on one line, or one element to a line."
  (%pprint-list (%pprint-stream stream) object colon-p :linear))

(defun pprint-tabular (stream object &optional (colon-p t) at-sign-p (tabsize 16))
  "Print the list OBJECT like PPRINT-FILL, each element starting in a
column that is a multiple of TABSIZE."
  (%pprint-list (%pprint-stream stream) object colon-p :fill tabsize))

;;; ------------------------------------------------------------------
;;; Dispatch tables: entries (type function priority).

(defstruct (pprint-dispatch-table (:constructor %make-pprint-dispatch-table (entries))
                                  (:copier nil))
  entries)

(defparameter %initial-pprint-dispatch (%make-pprint-dispatch-table nil))

(defvar *print-pprint-dispatch* (%make-pprint-dispatch-table nil)
  "The table PPRINT-DISPATCH consults.")

(defun copy-pprint-dispatch (&optional (table *print-pprint-dispatch*))
  "A copy of TABLE, or of the initial table for NIL."
  (%make-pprint-dispatch-table
   (copy-list (pprint-dispatch-table-entries (or table %initial-pprint-dispatch)))))

(defun set-pprint-dispatch (type-specifier function &optional (priority 0)
                                           (table *print-pprint-dispatch*))
  "Make FUNCTION (of a stream and an object) print the objects of
TYPE-SPECIFIER, before entries of lower PRIORITY; NIL removes the entry."
  (unless (realp priority) (error "~S is not a priority" priority))
  (when (eq table %initial-pprint-dispatch)
    (error "The initial pprint dispatch table cannot be changed"))
  (let ((others (remove type-specifier (pprint-dispatch-table-entries table)
                        :key (function car) :test (function equal))))
    (setf (pprint-dispatch-table-entries table)
          (if function
              (merge 'list (list (list type-specifier function priority)) others
                     (function >) :key (function caddr))
              others))
    nil))

(defun %pprint-default (stream object)
  (write object :stream stream :pretty nil))

(defun pprint-dispatch (object &optional (table *print-pprint-dispatch*))
  "The function that prints OBJECT under TABLE, and whether an entry of
TABLE gave it (else the printer's own)."
  (dolist (e (pprint-dispatch-table-entries (or table %initial-pprint-dispatch))
             (values (function %pprint-default) nil))
    (when (typep object (car e))
      (return (values (cadr e) t)))))

;;; ------------------------------------------------------------------
;;; WRITE and WRITE-TO-STRING take every printer variable as a keyword;
;;; the kernel's take those it reads itself, and the others are bound
;;; around the call.  WRITE goes through the dispatch table while
;;; *PRINT-PRETTY* is true and the table has an entry for the object.

(unless (fboundp '%kernel-write)
  (%set-symbol-function '%kernel-write (symbol-function 'write))
  (%set-symbol-function '%kernel-write-to-string (symbol-function 'write-to-string)))

(defparameter %kernel-write-keys
  '(:stream :array :base :case :escape :gensym :length :level :pretty :radix))

(defparameter %other-write-keys
  '((:circle . *print-circle*) (:lines . *print-lines*) (:miser-width . *print-miser-width*)
    (:pprint-dispatch . *print-pprint-dispatch*) (:readably . *print-readably*)
    (:right-margin . *print-right-margin*)))

;; OPTIONS split into those the kernel takes, and the variables and values
;; of the others.
(defun %split-write-options (options)
  (let ((kernel nil) (variables nil) (values nil)
        (allowed (getf options :allow-other-keys)))
    (do ((o options (cddr o)))
        ((null o))
      (cond ((member (car o) %kernel-write-keys)
             (setq kernel (list* (cadr o) (car o) kernel)))
            ((assoc (car o) %other-write-keys)
             (setq variables (cons (cdr (assoc (car o) %other-write-keys)) variables)
                   values (cons (cadr o) values)))
            ((or allowed (eq (car o) :allow-other-keys)))
            (t (error "~S is not a keyword WRITE takes" (car o)))))
    (values (nreverse kernel) variables values)))

;; Whether every option is one the kernel takes, and no dispatch table
;; entry can apply: then the kernel prints alone.
(defun %kernel-write-options-p (options)
  (and (null (pprint-dispatch-table-entries *print-pprint-dispatch*))
       (do ((o options (cddr o)))
           ((null o) t)
         (unless (member (car o) %kernel-write-keys) (return nil)))))

(defun write (object &rest options &key (stream *standard-output*) (pretty *print-pretty*)
                     &allow-other-keys)
  "Print OBJECT on STREAM under the printer variables, each of which may
be given as a keyword argument (:ESCAPE, :PRETTY, :BASE, :CIRCLE, ...).
Returns OBJECT."
  (if (%kernel-write-options-p options)
      (apply (function %kernel-write) object options)
      (%write-with-options object options stream pretty)))

(defun %write-with-options (object options stream pretty)
  (multiple-value-bind (kernel variables values) (%split-write-options options)
    (progv variables values
      (if (and pretty (pprint-dispatch-table-entries *print-pprint-dispatch*))
          (multiple-value-bind (function found) (pprint-dispatch object)
            (if found
                (let ((*print-pretty* t))
                  (progv (%write-option-variables kernel) (%write-option-values kernel)
                    (funcall function (%pprint-stream stream) object))
                  object)
                (apply (function %kernel-write) object kernel)))
          (apply (function %kernel-write) object kernel)))))

(defun write-to-string (object &rest options)
  "The text WRITE would print for OBJECT with the OPTIONS."
  (if (%kernel-write-options-p options)
      (apply (function %kernel-write-to-string) object options)
      (%write-to-string-with-options object options)))

(defun %write-to-string-with-options (object options)
  (multiple-value-bind (kernel variables values) (%split-write-options options)
    (when (getf kernel :stream)
      (error ":STREAM is not a keyword WRITE-TO-STRING takes"))
    (if (or variables (pprint-dispatch-table-entries *print-pprint-dispatch*))
        (let ((stream (make-string-output-stream)))
          (apply (function write) object :stream stream options)
          (get-output-stream-string stream))
        (apply (function %kernel-write-to-string) object kernel))))

(defparameter %kernel-write-variables
  '((:array . *print-array*) (:base . *print-base*) (:case . *print-case*)
    (:escape . *print-escape*) (:gensym . *print-gensym*) (:length . *print-length*)
    (:level . *print-level*) (:pretty . *print-pretty*) (:radix . *print-radix*)))

(defun %write-option-variables (options)
  (do ((o options (cddr o)) (out nil))
      ((null o) (nreverse out))
    (let ((v (cdr (assoc (car o) %kernel-write-variables))))
      (when v (setq out (cons v out))))))

(defun %write-option-values (options)
  (do ((o options (cddr o)) (out nil))
      ((null o) (nreverse out))
    (when (assoc (car o) %kernel-write-variables) (setq out (cons (cadr o) out)))))

;; The library's own printing functions, on the kernel's directly when no
;; dispatch table entry can apply.
(defun princ-to-string (object)
  "The text PRINC would write for OBJECT."
  (if (pprint-dispatch-table-entries *print-pprint-dispatch*)
      (write-to-string object :escape nil)
      (%kernel-write-to-string object :escape nil)))

(defun prin1-to-string (object)
  "The text PRIN1 would write for OBJECT."
  (if (pprint-dispatch-table-entries *print-pprint-dispatch*)
      (write-to-string object :escape t)
      (%kernel-write-to-string object :escape t)))
