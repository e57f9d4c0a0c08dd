;;;; Start-up: what the kernel does with the command line.
;;;;
;;;;   zorva                      the interactive top level
;;;;   zorva FILE [ARGS...]       load FILE, run it and exit
;;;;   zorva --help | --version   answer and exit
;;;;
;;;; An interactive start also loads STARTUP.LSP from the working directory
;;;; when there is one (the user's own customisations).
;;;;
;;;; The kernel calls STARTUP once, before the first prompt, because the
;;;; feature STARTUP is on *FEATURES*.  %COMMAND-LINE holds the program
;;;; path followed by the arguments (features given as #+NAME / #-NAME
;;;; have already been taken out).

(unless (fboundp '%load)
  (%set-symbol-function '%load (symbol-function 'load)))

(defvar *load-print* nil "The default of LOAD's :PRINT: print each form's values.")

(defun %load-name (file)
  (cond ((streamp file) (%stream-file-name file))
        ((or (stringp file) (symbolp file))
         ;; LOAD's own rule: the type .LSP when the name has none.
         (%merge-pathnames (string file) "X.LSP"))))

(defun load (file &rest options)
  "Load the source FILE: read and evaluate its forms in order.
OPTIONS are :VERBOSE, :PRINT and :IF-DOES-NOT-EXIST."
  ;; Interpreted, so that an error in a form at the top of the file is
  ;; reported as happening in LOAD rather than in the caller of LOAD.
  ;; IN-PACKAGE in the file, and changes of the readtable, hold until its end.
  (let* ((*package* *package*)
         (*readtable* *readtable*)
         (*load-pathname* (%load-name file))
         (*load-truename* (and *load-pathname* (probe-file *load-pathname*))))
    (apply (function %load) file
           (if (and *load-print* (eq (getf options :print '%absent) '%absent))
               (list* :print t options)
               options))))

(defvar *script-arguments* nil
  "The arguments after the file name when a file is run from the command line.")

(defun exit (&optional (code 0))
  "Leave Zorva with the exit code CODE (0..255)."
  (setq %exit-code (if (and (integerp code) (<= 0 code 255)) code 1))
  (%exit))

(%set-symbol-function 'quit (symbol-function 'exit))

(defun %usage ()
  (dolist (line '("Usage: zorva [-ROL image.ROL] [#+FEATURE | #-FEATURE]... [FILE [ARGS...]]"
                  ""
                  "With no FILE, start the interactive top level.  With a FILE, load it,"
                  "run its forms and exit: status 0 when the file ran to its end, 1 when"
                  "an error was not handled.  The ARGS after the file are in"
                  "*SCRIPT-ARGUMENTS*, as strings."
                  ""
                  "  -ROL image.ROL   load the world from this image instead of the default"
                  "  #+NAME, #-NAME   add NAME to *FEATURES*, or take it out"
                  "  --help           show this text and exit"
                  "  --version        show the version and exit"
                  ""
                  "An interactive start first loads STARTUP.LSP from the working directory"
                  "when there is one."
                  ""
                  "At a terminal the top level takes the whole screen, with a line editor,"
                  "history, Tab completion and F1 help (F1 on an empty line lists the keys)."
                  "With ZORVA_LINE_MODE=1 in the environment, or when input or output is"
                  "not a terminal, it reads and prints plain lines instead."))
    (format t "~A~%" line)))

(defun %version ()
  (format t "Zorva 3.7, a Common Lisp with CLOS~%Image: ~A~%" %image-name))

;; An error that reaches a break loop while a file runs from the command
;; line ends the run: the break loop reads its commands from this stream
;; instead of the terminal, and the only command is to give up.
(defun %script-failed ()
  (fresh-line)
  (exit 1))

(defun %run-script (file arguments)
  (setq *script-arguments* arguments)
  (let ((*debug-io* (make-string-input-stream "(%script-failed)"))
        (*load-verbose* nil))
    (load file))
  (exit 0))

(defun %file-exists-p (name)
  ;; Probing a missing file warns; the warning is not news here.
  (let ((*error-output* (make-string-output-stream)))
    (open name :direction :probe :if-does-not-exist nil)))

(defun startup ()
  (let ((arguments (cdr %command-line)))
    (cond (%program (%run-program-image))
          ((null arguments)
           (when (%file-exists-p "STARTUP.LSP")
             (load "STARTUP.LSP")))
          ((equal (car arguments) "--help") (%usage) (exit 0))
          ((equal (car arguments) "--version") (%version) (exit 0))
          (t (%run-script (car arguments) (cdr arguments))))))

(setq *features* (cons 'startup *features*))
