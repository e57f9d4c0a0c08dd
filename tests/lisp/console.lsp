;; The console's library: window functions with readable names, completion
;; and the text of help.  In line mode the screen is in memory, 25 rows of
;; 80 columns, and only what is written to windows reaches the output.

(window-size)
=> 25 80

(defvar *w* (make-window-stream 2 10 5 29 #x1F))

(list (multiple-value-list (window-size *w*))
      (multiple-value-list (window-origin *w*))
      (multiple-value-list (window-cursor *w*))
      (window-attribute *w*))
=> ((4 20) (2 10) (0 0) 31)

;; The cursor moves inside the window and onto its bottom and right
;; borders, no further.
(list (multiple-value-list (set-window-cursor *w* 4 20))
      (multiple-value-list (set-window-cursor *w* 5 0))
      (multiple-value-list (window-cursor *w*)))
=> ((0 0) (4 20) (4 20))

(progn (clear-window *w*) (princ "abc" *w*) (multiple-value-list (window-cursor *w*)))
-> abc
=> (0 3)

(list (setf (window-attribute *w*) #x4E) (set-window-attribute *w* 7) (window-attribute *w*))
=> (78 78 7)

;; Resizing keeps the cursor inside; moving has no upper bound.
(progn (set-window-cursor *w* 3 15)
       (list (multiple-value-list (resize-window *w* 2 5))
             (multiple-value-list (window-cursor *w*))
             (multiple-value-list (move-window *w* 100 100))
             (multiple-value-list (window-origin *w*))))
=> ((4 20) (2 4) (2 10) (100 100))

(resize-window *w* 30 5)
!! 5170 #(30 5)

(move-window *w* -1 0)
!! 5170 #(-1 0)

(make-window-stream 0 0 30 10)
!! 5170 #(0 0 30 10)

;; One saved screen at a time.
(list (save-window-screen *w*) (restore-window-screen *w*))
=> (NIL NIL)

(restore-window-screen *w*)
!! 5170

(with-window (w 0 0 3 3 #x70) (princ "in" w) (multiple-value-list (window-cursor w)))
-> in
=> (0 2)

;; Hidden windows: in line mode the flag alone is kept; the standard
;; windows are always shown.
(let ((w (make-window-stream 0 0 1 9)))
  (list (window-visible-p w) (hide-window w) (window-visible-p w) (show-window w)
        (window-visible-p w) (close w)))
=> (T T NIL NIL T T)

(hide-window *terminal-io*)
!! 5170

(list (show-window *terminal-io*) (window-visible-p %status-stream))
=> (T T)

(let ((was (warnings-pop-up t)))
  (list (warnings-pop-up) (warnings-pop-up nil) (warnings-pop-up) (progn (warnings-pop-up was) t)))
=> (T T NIL T)

(close *terminal-io*)
!! 5170

(close *w*)
=> T

(list (copy-to-clipboard "one") (clipboard-text))
=> (T "one")

(list (cursor-shape 40) (cursor-shape 25))
=> (25 40)

;; Completion: the whole name, the shared part, the typed case kept.
(list (%complete "make-hash-t") (%complete "MAKE-HASH-T") (%complete "save-window-s")
      (%complete "zzzz-no-such-prefix"))
=> ("make-hash-table" "MAKE-HASH-TABLE" "save-window-screen" NIL)

(%complete "window-")
=> "window-"

(%complete ":initial-con")
=> ":initial-contents"

;; Help's text: what a symbol names, the lambda list, its documentation.
(subseq (%help-text 'window-cursor) 0 3)
=> ("WINDOW-CURSOR" "" "WINDOW-CURSOR is a function with the lambda list (WINDOW).")

(nth 2 (%help-text 'if))
=> "IF is a special form."

(nth 2 (%help-text 'car))
=> "CAR is a function built into the kernel."

(nth 2 (%help-text '*print-base*))
=> "*PRINT-BASE* is a variable; its value is 10."

(nth 2 (%help-text 'zzzz-nothing))
=> "Nothing is known about ZZZZ-NOTHING."

(%wrap-lines '("one two three four" "" "abcdefghij") 8)
=> ("one two" "three" "four" "" "abcdefgh" "ij")
