;;;; Tools for looking at a running program: TRACE and UNTRACE, INSPECT,
;;;; ROOM and DISASSEMBLE; and modules: PROVIDE, REQUIRE and *MODULES*.

;;; ------------------------------------------------------------------
;;; TRACE
;;;
;;; Tracing a function puts a closure in its function cell that reports
;;; each call on *TRACE-OUTPUT*, indented by the depth of traced calls,
;;; and each return with its values:
;;;
;;;  1> (FACT 2)
;;;    2> (FACT 1)
;;;    2< FACT returned 1
;;;  1< FACT returned 2
;;;
;;; Recursive calls go through the function cell, so they are reported
;;; too.  While a report is printed, traced functions run untraced, so
;;; that tracing a function the printer itself uses does not loop.
;;; Redefining a traced function ends its tracing.

(defvar %traced nil "Entries (name original wrapper) of the traced functions.")
(defvar %trace-depth 0)
(defvar %trace-suspended nil)

(defun %trace-report (depth text)
  (let ((%trace-suspended t)
        (stream *trace-output*))
    (fresh-line stream)
    (dotimes (i (* 2 (1- depth))) (write-char #\Space stream))
    (write-string text stream)
    (terpri stream)))

(defun %trace-wrapper (name original)
  (lambda (&rest arguments)
    (if %trace-suspended
        (apply original arguments)
        (let ((depth (1+ %trace-depth)))
          (%trace-report depth (let ((%trace-suspended t))
                                 (format nil "~D> ~S" depth (cons name arguments))))
          (let ((values (let ((%trace-depth depth))
                          (multiple-value-list (apply original arguments)))))
            (%trace-report depth (let ((%trace-suspended t))
                                   (format nil "~D< ~S returned~{ ~S~}" depth name values)))
            (values-list values))))))

(defun %trace-entry (name)
  (assoc name %traced))

;; The function cell still holds the wrapper: not redefined since.
(defun %still-traced-p (entry)
  (and (fboundp (car entry)) (eq (symbol-function (car entry)) (caddr entry))))

(defun %trace-one (name)
  (cond ((not (and name (symbolp name)))
         (warn "~S is not a function name that can be traced" name) nil)
        ((not (fboundp name)) (warn "~S has no function definition to trace" name) nil)
        ((or (special-operator-p name) (macro-function name))
         (warn "~S is a macro or special form, which TRACE does not follow" name) nil)
        (t
         (let ((entry (%trace-entry name)))
           (when (and entry (%still-traced-p entry))
             (%set-symbol-function name (cadr entry))))
         (setq %traced (remove name %traced :key (function car)))
         (let* ((original (symbol-function name))
                (wrapper (%trace-wrapper name original)))
           (%set-symbol-function name wrapper)
           (setq %traced (cons (list name original wrapper) %traced))
           name))))

(defun %untrace-one (name)
  (let ((entry (%trace-entry name)))
    (when entry
      (when (%still-traced-p entry)
        (%set-symbol-function name (cadr entry)))
      (setq %traced (remove name %traced :key (function car)))
      name)))

;; The traced functions, dropping those redefined since.
(defun %traced-names ()
  (setq %traced (remove-if-not (function %still-traced-p) %traced))
  (reverse (mapcar (function car) %traced)))

(defmacro trace (&rest names)
  "Report every call of the functions NAMES and what it returns on
*TRACE-OUTPUT*.  Without names, the list of traced functions."
  (if names
      (list 'remove nil (list 'mapcar '(function %trace-one) (list 'quote names)))
      '(%traced-names)))

(defmacro untrace (&rest names)
  "Stop tracing the functions NAMES, or every traced function."
  (list 'remove nil (list 'mapcar '(function %untrace-one)
                          (if names (list 'quote names) '(%traced-names)))))

;;; ------------------------------------------------------------------
;;; INSPECT: a browser of the parts of an object, in lines.  Each part
;;; has a number; typing it looks at that part, U goes back to where it
;;; came from, Q leaves.

;; The parts of X: a description and a list of (label . value).
(defun %inspect-parts (x)
  (cond ((consp x)
         (multiple-value-bind (n proper) (%list-shape x)
           (if (and n proper)
               (values (format nil "a list of ~D element~A" n (if (= n 1) "" "s"))
                       (let ((i -1)) (mapcar (lambda (e) (cons (incf i) e)) x)))
               (values (if n "a dotted list" "a circular list")
                       (list (cons "car" (car x)) (cons "cdr" (cdr x)))))))
        ((stringp x) (values (format nil "a string of length ~D" (length x)) nil))
        ((and (arrayp x) (= (array-rank x) 1))
         (values (format nil "a vector of length ~D" (length x))
                 (let ((parts nil))
                   (dotimes (i (length x) (nreverse parts))
                     (setq parts (cons (cons i (aref x i)) parts))))))
        ((arrayp x)
         (values (format nil "an array of dimensions ~S" (array-dimensions x))
                 (let ((parts nil))
                   (dotimes (i (array-total-size x) (nreverse parts))
                     (setq parts (cons (cons i (row-major-aref x i)) parts))))))
        ((and x (symbolp x))
         (values (if (keywordp x) "a keyword" "a symbol")
                 (append (list (cons "name" (symbol-name x)))
                         (if (and (not (keywordp x)) (boundp x)) (list (cons "value" (symbol-value x))))
                         (if (and (fboundp x) (not (special-operator-p x)))
                             (list (cons "function" (symbol-function x))))
                         (if (symbol-plist x) (list (cons "plist" (symbol-plist x))))
                         (list (cons "package" (symbol-package x))))))
        ((hash-table-p x)
         (values (format nil "a hash table of ~D entr~A, test ~S" (hash-table-count x)
                         (if (= (hash-table-count x) 1) "y" "ies") (hash-table-test x))
                 (let ((parts nil))
                   (maphash (lambda (k v) (setq parts (cons (cons k v) parts))) x)
                   (nreverse parts))))
        ((%standard-object-p x)
         (let ((class (class-of x))
               (parts nil))
           (dolist (d (multiple-value-call (lambda (v failure) (if failure nil v))
                        (%catch-error (slot-value class 7))))
             (when (and (simple-vector-p d) (> (length d) 1) (integerp (svref d 1)))
               (setq parts (cons (cons (svref d 0)
                                       (if (slot-boundp x (svref d 1))
                                           (slot-value x (svref d 1))
                                           '%unbound))
                                 parts))))
           (values (format nil "an instance of ~S" (class-name class)) (nreverse parts))))
        ((complexp x)
         (values "a complex number" (list (cons "real" (realpart x)) (cons "imaginary" (imagpart x)))))
        ((numberp x) (values (format nil "a number of type ~S" (type-of x)) nil))
        ((characterp x) (values (format nil "a character, code ~D" (char-code x)) nil))
        ((streamp x) (values "a stream" nil))
        (t (values (format nil "an object of type ~S" (type-of x)) nil))))

(defun %inspect-show (x stream)
  (multiple-value-bind (description parts) (%inspect-parts x)
    (let ((*print-length* 8) (*print-level* 3))
      (format stream "~&~S~%  is ~A.~%" x description)
      (let ((n 0))
        (dolist (p parts)
          (when (>= n 100)
            (format stream "  ... and ~D more~%" (- (length parts) n))
            (return))
          (if (eql (car p) n)
              (format stream "  ~D: ~S~%" n (cdr p))
              (format stream "  ~D. ~A: ~S~%" n (car p) (cdr p)))
          (setq n (1+ n)))))
    parts))

(defun inspect (object)
  "Browse OBJECT and its parts: a number looks at that part, U goes back,
Q (or the end of input) leaves."
  (let ((stream *query-io*)
        (path nil)
        (x object)
        (parts nil))
    (setq parts (%inspect-show x stream))
    (loop
      (format stream "~&Inspect (number, U, Q, ?): ")
      (let ((line (read-line stream nil nil)))
        (when (null line) (return))
        (setq line (string-trim '(#\Space #\Tab) line))
        (let ((n (and (> (length line) 0) (every (function digit-char-p) line)
                      (parse-integer line))))
          (cond ((string= line ""))
                ((string-equal line "q") (return))
                ((string-equal line "u")
                 (if path
                     (setq x (pop path) parts (%inspect-show x stream))
                     (format stream "~&At the object inspected first.~%")))
                ((string= line "?")
                 (format stream "~&A number looks at that part; U goes back up; ~
                                 Q leaves; an empty line does nothing.~%"))
                ((and n (< n (length parts)))
                 (push x path)
                 (setq x (cdr (nth n parts)) parts (%inspect-show x stream)))
                (t (format stream "~&~A is not a part number or a command.~%" line))))))
    (values)))

;;; ------------------------------------------------------------------
;;; ROOM and DISASSEMBLE

(defun room (&optional (detail :default))
  "Report the free memory of each area after collecting garbage."
  (let ((conses (%gc 0))
        (heap (%gc 1))
        (symbols (%gc 2)))
    (format t "~&Free after a collection: ~D cons cells, ~D heap bytes, ~D symbols.~%"
            conses heap symbols)
    (when (eq detail t)
      (format t "~&A cons cell takes 8 bytes; heap objects 8 bytes of header and ~
                 their data; a symbol 18 bytes of the symbol table and its name.~%"))
    (values)))

(defun disassemble (function)
  "Show what FUNCTION (a function or a function name) runs: the definition
of an interpreted function, which is the code the evaluator runs and
rewrites as it goes; built-ins are machine code of the kernel."
  (let* ((f (cond ((and function (symbolp function)) (symbol-function function))
                  ((%setf-name-p function) (fdefinition function))
                  (t function)))
         (name (if (symbolp function) function nil)))
    (cond ((and (consp f) (member (car f) '(lambda lexical-closure macro)))
           (format t "~&~@[~S ~]is interpreted; there is no machine code. Its definition:~%"
                   name)
           (write (if (eq (car f) 'lexical-closure) (cons 'lambda (cddr f)) f)
                  :pretty t :escape t)
           (terpri))
          ((functionp f)
           (format t "~&~S is built into the kernel; its machine code is not shown.~%" f))
          (t (error "~S is not a function" function)))
    nil))

;;; ------------------------------------------------------------------
;;; Modules

(defvar *modules* nil "The names of the modules loaded, as strings.")

(defun provide (module-name)
  "Record the module MODULE-NAME as loaded."
  (let ((name (string module-name)))
    (pushnew name *modules* :test (function string=))
    t))

(defun require (module-name &optional pathnames)
  "Load the module MODULE-NAME unless it is loaded: from the files
PATHNAMES, or else from the file named after the module in the working
directory."
  (let ((name (string module-name)))
    (unless (member name *modules* :test (function string=))
      (let ((files (cond ((null pathnames) (list (string-downcase name)))
                         ((listp pathnames) pathnames)
                         (t (list pathnames)))))
        (dolist (file files)
          (unless (%file-exists-p (merge-pathnames file "*.LSP"))
            (error "REQUIRE: no file ~A for the module ~A" file name))
          (load file))))
    t))

;;; ------------------------------------------------------------------
;;; DRIBBLE: a transcript of the session in a file.  While it runs, the
;;; standard output and error output also go to the file, and what is read
;;; from the standard input is echoed there.

(defvar %dribble nil "While a transcript runs: (file input output error-output).")

(defun dribble (&optional pathname)
  "Start writing a transcript of the session to the file PATHNAME; without
one, end the transcript."
  (when %dribble
    (destructuring-bind (file input output error-output) %dribble
      (setq *standard-input* input *standard-output* output *error-output* error-output
            %dribble nil)
      (close file)))
  (when pathname
    (let ((file (open pathname :direction :output :if-exists :supersede)))
      (setq %dribble (list file *standard-input* *standard-output* *error-output*)
            *standard-output* (make-broadcast-stream *standard-output* file)
            *error-output* (make-broadcast-stream *error-output* file)
            *standard-input* (make-echo-stream *standard-input* file))))
  (values))
