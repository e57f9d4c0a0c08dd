;;;; The commands of the break loop, the debugger and the stepper on
;;;; printable characters.
;;;;
;;;; Each of these loops reads one character first.  Function keys act at
;;;; once, but a pipe, a script or a terminal that keeps the function keys
;;;; to itself cannot type them, so every action is bound to printable
;;;; characters too, through the command tables the loops consult: in the
;;;; break loop and the debugger a colon and a word (":b", ":frame 3"; no
;;;; useful form starts with a colon and a word), in the stepper, where no
;;;; forms are typed, single letters.  ? lists them.  A command asks its
;;;; loop for the action of a key, or for the list of frames or a frame by
;;;; its number, through %DEBUG-REQUEST.

;; Entries (words request help): request is a key code, 1 (list the
;; frames) or 2 (select the frame whose number follows the word).
(defvar %break-words
  '((("d" "debug") #x13B "F3" "start the debugger")
    (("c" "continue") #x13D "F5" "continue, when the break allows it")
    (("m" "message") #x13F "F7" "show the message of the break again")
    (("l" "leave") #x347 "Ctrl-PgUp" "leave this break level for the one above")))

(defvar %debugger-words
  '((("b" "backtrace") 1 "" "list the frames, innermost first, numbered")
    (("f" "frame") 2 "" "select frame number N (:f N)")
    (("u" "up") #x147 "PgUp" "select the next outer frame")
    (("n" "down") #x14C "PgDn" "select the next inner frame")
    (("o" "outermost") #x345 "Ctrl-Home" "select the outermost frame")
    (("i" "innermost") #x30A "Ctrl-End" "select the innermost frame")
    (("mu" "marked-up") #x347 "Ctrl-PgUp" "outward to a frame of a break or debugger")
    (("mn" "marked-down") #x34C "Ctrl-PgDn" "inward to a frame of a break or debugger")
    (("so" "show-outer") #x145 "Home" "show the frames outward of this one")
    (("si" "show-inner") #x10A "End" "show the frames inward of this one")
    (("v" "variables") #x13F "F7" "show the variables of every frame")
    (("vm" "variable-mode") #x257 "Ctrl-W" "show other kinds of variables")
    (("e" "edit") #x13C "F4" "edit the form of this frame")
    (("ec" "edit-caller") #x33C "Ctrl-F4" "edit the form of the frame outward")
    (("x" "again") #x142 "F10" "evaluate the form of this frame again")
    (("s" "step") #x140 "F8" "the same, stepping")
    (("r" "restart") #x13D "F5" "restart this frame's computation; :r N takes restart N")
    (("rs" "restarts") 3 "" "list the restarts in force")
    (("q" "quit") #x13B "F3" "leave the debugger"))
  "The debugger's command words.  Any other input is a form, evaluated in the
lexical environment of the selected frame; (RETURN value) leaves the
debugger with a value.")

(defvar %stepper-letters
  '((#\s #x140 "F8" "step into the form")
    (#\n #x142 "F10" "evaluate the form without stepping")
    (#\o #x342 "Ctrl-F10" "evaluate the form, stop again at the form around it")
    (#\b #x340 "Ctrl-F8" "run to the next operator of the breakpoint list")
    (#\c #x13D "F5" "stop stepping and go on")
    (#\f #x13F "F7" "show the form again")
    (#\v #x141 "F9" "show values as they are returned, or stop showing them")
    (#\e #x13C "F4" "edit the form")
    (#\d #x13B "F3" "start the debugger here")
    (#\r #x542 "Alt-F10" "return NIL without evaluating the form")
    (#\t #x347 "Ctrl-PgUp" "leave to the nearest break level or top level")
    (#\a #x745 "Ctrl-Alt-Home" "leave to top level")))

(defun %command-line-split (line)
  (let* ((line (string-trim '(#\Space #\Tab) line))
         (space (position #\Space line)))
    (values (string-downcase (subseq line 0 space))
            (if space (string-trim '(#\Space #\Tab) (subseq line space)) ""))))

(defun %show-words (words)
  (dolist (e words)
    (format *debug-io* "~&  :~A~22T~@[~A~]~33T~A"
            (format nil "~{~A~^ :~}" (car e))
            (and (plusp (length (caddr e))) (caddr e))
            (cadddr e)))
  (format *debug-io* "~&  ? or :?~33Tthis list")
  (values))

;; The rest of the line after the colon: a word and what follows it.
(defun %run-command-word (words)
  (multiple-value-bind (word rest) (%command-line-split (read-line *debug-io* nil ""))
    (let ((entry (find-if (lambda (e) (member word (car e) :test (function string=))) words)))
      (cond ((member word '("?" "h" "help") :test (function string=)) (%show-words words))
            ((null entry)
             (format *debug-io* "~&There is no command :~A; ? lists them" word))
            ((and (eql (cadr entry) #x13D) (parse-integer rest :junk-allowed t))
             (%take-restart (parse-integer rest :junk-allowed t)))
            ((eql (cadr entry) 3) (%list-restarts))
            ((eql (cadr entry) 2)
             (let ((n (parse-integer rest :junk-allowed t)))
               (if n
                   (%debug-request 2 n)
                   (format *debug-io* "~&:~A needs the number of a frame" word))))
            (t (%debug-request (cadr entry))))))
  (values))

;; The restarts of the condition system, listed and numbered as the break
;; loop lists them.
(defun %list-restarts ()
  (let ((*debug-io* *terminal-io*)) (%show-restarts))
  (values))

(defun %take-restart (n)
  (let ((r (nth n (compute-restarts))))
    (if r
        (invoke-restart-interactively r)
        (format *error-output* "~&No restart ~D is in force" n))))

(defun %break-word () (%run-command-word %break-words))
(defun %debugger-word () (%run-command-word %debugger-words))

(defun %debugger-help ()
  (read-line *debug-io* nil "")
  (%show-words %debugger-words))

(defun %stepper-help ()
  (format *debug-io* "~&The stepper shows each form with its depth and asks what to do:")
  (dolist (e %stepper-letters)
    (format *debug-io* "~&  ~C~6T~A~20T~A" (car e) (caddr e) (cadddr e)))
  (format *debug-io* "~&  ?~20Tthis list")
  (values))

(defun %stepper-letter-command (entry)
  (lambda () (%debug-request (cadr entry))))

;; Install the bindings, keeping whatever else the tables hold.
(defun %bind-commands (table pairs)
  (dolist (p pairs table)
    (setq table (cons p (remove (car p) table :key (function car))))))

(setq %break-commands
      (%bind-commands %break-commands (list (cons #\: (function %break-word)))))

(setq %debug-commands
      (%bind-commands %debug-commands
                      (list (cons #\: (function %debugger-word))
                            (cons #\? (function %debugger-help)))))

;; The break loop's command for restarts (,N) works in the debugger too.
(let ((restart-command (assoc #\, %break-commands)))
  (when restart-command
    (setq %debug-commands (%bind-commands %debug-commands (list restart-command)))))

(setq %step-commands
      (%bind-commands %step-commands
                      (cons (cons #\? (function %stepper-help))
                            (mapcar (lambda (e) (cons (car e) (%stepper-letter-command e)))
                                    %stepper-letters))))

;; The stepper's breakpoints: operators at which it always stops.
(setq %step-hook nil)

