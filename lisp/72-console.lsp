;;;; The console: window functions with readable names over the window
;;;; built-ins, and the completion (Tab) and help (F1) that the line
;;;; editor calls through %COMPLETE and HELP.
;;;;
;;;; Positions are rows and columns from 0.  A console attribute holds the
;;;; background colour in bits 4-7 and the text colour in bits 0-3 (1 blue,
;;;; 2 green, 4 red, 8 bright): #x70 is black on grey, #x1F bright white on
;;;; blue.

;;; ------------------------------------------------------------------
;;; Windows

(defun make-window-stream (top left bottom right &optional (attribute #x70))
  "A window stream over the screen rectangle from row TOP, column LEFT to
row BOTTOM, column RIGHT (both corners included), its text in the console
ATTRIBUTE.  It is at most as large as the screen; its cursor starts at 0,0."
  (%make-window-stream (vector top left bottom right) attribute))

(defun window-cursor (window)
  "The cursor of WINDOW relative to its top left corner: the row and the
column, as two values."
  (let ((v (%window-cursor window)))
    (values (aref v 0) (aref v 1))))

(defun set-window-cursor (window row column)
  "Put the cursor of WINDOW at ROW and COLUMN.  A position outside the
window (one row below it and one column right of it still count as inside)
leaves the cursor where it was.  Returns the previous row and column."
  (let ((v (%set-window-cursor window (vector row column))))
    (values (aref v 0) (aref v 1))))

(defun window-attribute (window)
  "The console attribute WINDOW writes its text in."
  (%window-attribute window))

(defun set-window-attribute (window attribute)
  "Write the text of WINDOW in ATTRIBUTE from now on; returns the previous one."
  (%set-window-attribute window attribute))

(defsetf window-attribute (window) (attribute)
  `(progn (%set-window-attribute ,window ,attribute) ,attribute))

(defun clear-window (window)
  "Fill WINDOW with blanks in its attribute and put its cursor at 0,0."
  (%clear-window window))

(defun window-size (&optional window)
  "The rows and the columns of WINDOW, or of the whole screen when WINDOW is
NIL or not given, as two values."
  (let ((v (%window-size window)))
    (values (aref v 0) (aref v 1))))

(defun resize-window (window rows columns)
  "Give WINDOW this many ROWS and COLUMNS (at most the screen's), keeping its
cursor inside; a saved screen under it is dropped.  Returns the previous
rows and columns."
  (let ((v (%resize-window window (vector rows columns))))
    (values (aref v 0) (aref v 1))))

(defun window-origin (window)
  "The screen row and column of the top left corner of WINDOW, as two values."
  (let ((v (%window-origin window)))
    (values (aref v 0) (aref v 1))))

(defun move-window (window row column)
  "Move the top left corner of WINDOW to screen ROW and COLUMN (a window may
lie partly or wholly off the screen).  Returns the previous row and column."
  (let ((v (%move-window window (vector row column))))
    (values (aref v 0) (aref v 1))))

(defun save-window-screen (window)
  "Keep the screen under WINDOW, to be put back by RESTORE-WINDOW-SCREEN.
A window keeps one saved screen at a time."
  (%save-window-screen window))

(defun restore-window-screen (window)
  "Put back the screen saved under WINDOW."
  (%restore-window-screen window))

;; Hidden windows: kept off the screen, shown when read or, with the
;; pop-up switch, when a warning is written to one.
(defun window-visible-p (window)
  "True when WINDOW is shown, NIL when it is hidden."
  (%window-visible window))

(defun show-window (window)
  "Show WINDOW over the screen (what it covers comes back when it is hidden
again).  Returns whether it was shown already."
  (%window-visible window t))

(defun hide-window (window)
  "Hide WINDOW: its text is kept and written to off the screen, and the
screen it covered since it was last shown comes back.  Returns whether it
was shown.  The standard windows cannot be hidden."
  (%window-visible window nil))

(defun warnings-pop-up (&optional (on t on-p))
  "Whether a warning written to a hidden window shows that window.  With
an argument, turns this on or off; returns the previous setting."
  (let ((was (logtest 16 (%system-switches 0))))
    (when on-p
      (%system-switches 0 (if on
                              (logior (%system-switches 0) 16)
                              (logandc2 (%system-switches 0) 16))))
    was))

(defun cursor-shape (shape)
  "NIL hides the screen's cursor and T shows it; both return whether it was
shown.  A number sets its size in percent of a character cell (up to 25 a
bar, above it a block) and returns the previous size."
  (%cursor-shape shape))

(defun copy-to-clipboard (string)
  "Put STRING on the clipboard that the line editor's copy and paste keys
share; the terminal is asked to put it on the desktop's clipboard too."
  (%clipboard-copy string))

(defun clipboard-text ()
  "The text on the clipboard (the empty string when it is empty)."
  (%clipboard-text))

(defmacro with-window ((var top left bottom right &optional (attribute #x70)) &body body)
  "Run BODY with VAR bound to a new window stream over the rectangle, the
screen under it saved first and put back afterwards, however BODY is left;
the window is closed then."
  `(let ((,var (make-window-stream ,top ,left ,bottom ,right ,attribute)))
     (save-window-screen ,var)
     (unwind-protect (progn (clear-window ,var) ,@body)
       (restore-window-screen ,var)
       (close ,var))))

;;; ------------------------------------------------------------------
;;; The status line

(defun %status (text)
  "Show TEXT in the status line, in place of what it showed."
  (clear-window %status-stream)
  (write-string text %status-stream))

;;; ------------------------------------------------------------------
;;; Completion (Tab)

;; Symbols worth offering: what names something.
(defun %completion-p (s)
  (or (fboundp s) (boundp s) (keywordp s) (symbol-plist s) (find-class s nil)))

(defun %common-prefix (names)
  (let ((prefix (car names)))
    (dolist (name (cdr names) prefix)
      (let ((m (mismatch prefix name)))
        (when m (setq prefix (subseq prefix 0 m)))))))

(defun %complete (word)
  "The completion of WORD, the symbol name typed before the cursor: the
whole name when one symbol fits, else the part that all of them share, the
names themselves shown in the status line.  A word typed in lower case is
completed in lower case.  NIL when no symbol fits."
  (let* ((keyword (and (> (length word) 0) (char= (char word 0) #\:)))
         (prefix (string-upcase (if keyword (subseq word 1) word)))
         (names nil))
    (dolist (s (apropos-list prefix))
      (let ((name (symbol-name s)))
        ;; A keyword and the plain symbol of its name are one entry.
        (when (and (<= (length prefix) (length name))
                   (string= prefix name :end2 (length prefix))
                   (or keyword (%completion-p s)))
          (pushnew name names :test #'string=))))
    (when names
      (setq names (sort names #'string<))
      (when (cdr names)
        (let ((text (format nil "~{~A~^ ~}" names))
              (width (nth-value 1 (window-size %status-stream))))
          (%status (if (<= (length text) width)
                       text
                       (concatenate 'string (subseq text 0 (max 0 (- width 4))) " ...")))))
      (let ((done (%common-prefix names)))
        (when keyword (setq done (concatenate 'string ":" done)))
        (if (some #'upper-case-p word) done (string-downcase done))))))

;;; ------------------------------------------------------------------
;;; Help (F1)

(defparameter %help-keys
  '("The keys of the line editor"
    ""
    "  Enter            read the line (a form may go on over several lines)"
    "  Left, Right, Home, End   move; with Control: Left and Right by words"
    "  Backspace, Del   delete a character; Control-Backspace: the word before"
    "  Ins              insert or overwrite (a bar or a block cursor)"
    "  Up, Down         older and newer lines of the history"
    "  Shift with Left, Right, Home, End   select"
    "  Control-Ins, Shift-Del, Shift-Ins   copy, cut, paste"
    "  Shift-Tab        take back one level of indentation"
    "  Tab              complete the symbol before the cursor"
    "  F1               help on the symbol at the cursor"
    "  Esc              clear the line"
    "  Control-C        interrupt an evaluation (at the prompt: clear the line)"
    "  Control-S        paging on or off: output waits after each screenful"
    "  Control-Meta-Home  back to the top level"
    "  Meta-F4          leave the system (Meta is Alt, or Esc before the key)"
    ""
    "In a break loop: F5 goes on, F3 starts the debugger, F7 shows the error"
    "again and Control-PgUp leaves the break level.  ,N takes restart N of the"
    "list under the error (,NAME the one of that name; , alone lists them)."
    ""
    "Leave with (exit).  More with (describe 'name), (apropos \"text\"),"
    "(documentation 'name 'function) and the files README.md and"
    "doc/console.md.")
  "The text F1 shows on an empty line.")

(defun %help-kind (s)
  (cond ((special-operator-p s) "a special form")
        ((macro-function s) "a macro")
        ((fboundp s) "a function")))

(defun %help-text (topic)
  "The lines of help on TOPIC."
  (let ((out (make-string-output-stream)))
    (cond ((symbolp topic)
           (format out "~S~%" topic)
           (let ((kind (%help-kind topic))
                 (fn (and (fboundp topic) (symbol-function topic))))
             (when kind
               (format out "~%~S is ~A~:[~; built into the kernel~]" topic kind
                       (and fn (not (consp fn)) (not (special-operator-p topic)))))
             (when (and (consp fn) (member (car fn) '(lambda macro)))
               (format out " with the lambda list ~S" (cadr fn)))
             (when kind (format out ".~%"))
             (when (and (boundp topic) (not (keywordp topic)))
               (let ((*print-length* 8) (*print-level* 3))
                 (format out "~%~S is a ~:[variable~;constant~]; its value is ~S.~%"
                         topic (constantp topic) (symbol-value topic))))
             (when (find-class topic nil)
               (format out "~%~S names a class.~%" topic))
             (let ((any nil))
               (dolist (kind '(function variable type))
                 (let ((doc (%doc-of topic kind)))
                   (when doc
                     (setq any t)
                     (format out "~%~A~%" doc))))
               (unless (or any kind (boundp topic))
                 (format out "~%Nothing is known about ~S.~%" topic)))))
          (t (let ((*print-length* 8) (*print-level* 3))
               (format out "~S~%~%An object of type ~S.~%" topic (type-of topic)))))
    (%split-lines (get-output-stream-string out))))

(defun %split-lines (text)
  (let ((lines nil) (start 0))
    (loop
      (let ((end (position #\Newline text :start start)))
        (push (subseq text start end) lines)
        (if end (setq start (1+ end)) (return))))
    (nreverse lines)))

;; Lines of at most WIDTH characters, broken at blanks where there are some.
(defun %wrap-lines (lines width)
  (let ((out nil))
    (dolist (line lines (nreverse out))
      (loop
        (when (<= (length line) width)
          (push line out)
          (return))
        (let ((cut (or (position #\Space line :end (1+ width) :from-end t) width)))
          (when (zerop cut) (setq cut width))
          (push (subseq line 0 cut) out)
          (setq line (string-left-trim " " (subseq line cut))))))))

(defun %show-help (lines)
  "Show LINES in a window over the middle of the screen until Esc; the
cursor keys and the page keys scroll them.  Returns the key that closed it."
  (multiple-value-bind (rows columns) (window-size)
    (let* ((width (min 76 (- columns 4)))
           (lines (%wrap-lines lines (- width 2)))
           (height (min (+ (length lines) 3) (- rows 3)))
           (top (max 0 (floor (- rows 1 height) 2)))
           (left (max 0 (floor (- columns width) 2)))
           (shown (- height 2))
           (first 0))
      (when (< shown 1)
        ;; No room for a window: the text goes on the terminal.
        (format *terminal-io* "~&~{~A~%~}" lines)
        (return-from %show-help #\Esc))
      (with-window (w top left (+ top height -1) (+ left width -1) #x1F)
        (loop
          (clear-window w)
          (let ((end (min (length lines) (+ first shown))))
            (do ((i first (1+ i))) ((>= i end))
              (set-window-cursor w (- i first) 1)
              (write-string (nth i lines) w))
            (set-window-cursor w (1- height) 1)
            (write-string (if (< shown (length lines))
                              "Esc closes; Up, Down, PgUp, PgDn scroll"
                              "Esc closes")
                          w))
          (let ((key (read-char w)))
            (cond ((eql key #\Esc) (return key))
                  ((eql key #\Down) (setq first (min (1+ first) (max 0 (- (length lines) shown)))))
                  ((eql key #\Up) (setq first (max 0 (1- first))))
                  ((or (eql key #\PageDown) (eql key #\Space))
                   (setq first (min (+ first shown) (max 0 (- (length lines) shown)))))
                  ((eql key #\PageUp) (setq first (max 0 (- first shown)))))))))))

(defun help (&optional (topic nil topic-p))
  "Show the documentation of TOPIC, usually a symbol: what it names, the
lambda list of a function, its documentation strings.  Without TOPIC, the
keys of the line editor and where to read more.  F1 calls it with the
symbol at the cursor, or with nothing on an empty line."
  (%show-help (if topic-p (%help-text topic) %help-keys)))
