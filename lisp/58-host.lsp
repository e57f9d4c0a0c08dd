;;;; The world and the host: saving the world as an image and loading
;;;; another, delivering a program as a kernel and an image, running host
;;;; programs, editing with the user's editor, and the raw description of
;;;; an object.

;;; ------------------------------------------------------------------
;;; Images

(defvar %program nil
  "In a delivered program image, the function that runs instead of the top
level; NIL in an interactive one.")

(defun save-image (&optional name &key toplevel (if-exists :rename))
  "Save the world as the image file NAME (type .ROL when it has none; by
default the image this world came from).  An existing file is kept as
its .BAK backup unless IF-EXISTS says otherwise.

With TOPLEVEL, a function, the image is a program: `zorva -ROL NAME ARGS'
calls TOPLEVEL with the ARGS as strings instead of starting the top level,
and exits with its value as the exit code (an integer 0..255, else 0; 1
when an error is not handled).  Returns T."
  (let ((before %program))
    ;; Set, not bound: the image keeps the values outside every binding.
    (setq %program toplevel)
    (unwind-protect (%save-image name :if-exists if-exists)
      (setq %program before))))

(defun load-image (&optional name)
  "Replace this world by the one saved in the image file NAME (type .ROL
when it has none; by default the image this world came from), and go on
at its top level.  A file that is not a sound image is an error that
leaves this world as it was."
  (%load-image name))

;; Started by STARTUP when the world is a delivered program.
(defun %run-program-image ()
  (let ((code (let ((*debug-io* (make-string-input-stream "(%script-failed)")))
                (apply %program (cdr %command-line)))))
    (exit (if (and (integerp code) (<= 0 code 255)) code 0))))

;;; ------------------------------------------------------------------
;;; Host programs

(defun run-program (&optional program &rest arguments)
  "Run PROGRAM (searched on PATH) with ARGUMENTS, each printed without
escapes, wait for it, and return its exit code.  Without PROGRAM the
user's shell (SHELL, else /bin/sh) runs with the terminal.  At most ten
in all."
  (if program
      (apply #'%run-program program arguments)
      (%run-program)))

(defun shell (command)
  "Run the shell command line COMMAND with /bin/sh and return its exit code."
  (%run-program "/bin/sh" "-c" command))

(defun program-output (program &rest arguments)
  "Run PROGRAM (searched on PATH) with ARGUMENTS, each printed without
escapes.  Two values: what it wrote to its standard output, as a string,
and its exit code.  It reads nothing from the terminal."
  (apply #'%program-output program arguments))

;;; ------------------------------------------------------------------
;;; The editor

(defvar %editor nil
  "The editor command ED runs, as a shell command line the file name is
added to; NIL for the one in VISUAL, else EDITOR, else vi.")

;; A command line, or NIL for NIL and the empty string.
(defun %command-or-nil (x)
  (and (stringp x) (plusp (length (string-trim " " x))) x))

;; The kernel's editor built-in calls this with %EDITOR and the file.
(defun %run-editor (editor file)
  (let ((command (or (%command-or-nil editor) (%command-or-nil (getenv "VISUAL"))
                     (%command-or-nil (getenv "EDITOR")) "vi")))
    ;; Through the shell, so the command may carry options; the file
    ;; name goes in as an argument and is never parsed by it.
    (if file
        (%run-program "/bin/sh" "-c" (concatenate 'string command " \"$1\"") "zorva-edit" file)
        (%run-program "/bin/sh" "-c" command))))

;; The definition of a function as a form that makes it again.
(defun %definition-of (name)
  (let ((f (symbol-function name)))
    (cond ((and (consp f) (eq (car f) 'lambda))
           (list* 'defun name (cadr f) (cddr f)))
          ((and (consp f) (eq (car f) 'macro) (consp (cdr f)) (consp (cadr f))
                (eq (car (cadr f)) 'lambda))
           (list* 'defmacro name (cadr (cadr f)) (cddr (cadr f))))
          (t nil))))

(defun ed (&optional x)
  "Edit X with the editor.  A symbol: its function definition (a new
DEFUN when it has none), evaluated again afterwards.  A string: that file.
Anything else: the object, printed to a temporary file and read back, and
returned.  Without X, the editor alone."
  (cond ((null x) (%run-editor %editor nil) nil)
        ((stringp x) (%run-editor %editor (namestring (merge-pathnames x))) x)
        ((symbolp x)
         (let ((definition (if (fboundp x)
                               (or (%definition-of x)
                                   (error "The definition of ~S cannot be edited" x))
                               (list 'defun x nil))))
           (eval (%edit-object definition))))
        (t (%edit-object x))))

;;; ------------------------------------------------------------------
;;; Diagnostics

(defun describe-raw (object &optional stream)
  "Write the Value word of OBJECT and, for a heap object, its header and
first 64 words in hexadecimal to STREAM (standard output by default)."
  (%describe-raw object stream)
  (values))
