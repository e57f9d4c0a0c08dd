;;; Files: OPEN by the rows of its mode table, CLOSE committing and rolling
;;; back backups, FILE-POSITION, the file size, MERGE-PATHNAMES and LOAD.
;;; Every run starts in an empty directory.

;; Helpers: a new file holding a text; a file's first line (:EOF when it
;; is empty); whether a file exists, without the warnings of OPEN.
(defun put-file (name text)
  (let ((s (open name :direction :output)))
    (write-string text s)
    (close s)))

(defun first-line (name)
  (let ((s (open name)))
    (unwind-protect (values (read-line s nil :eof)) (close s))))

(defun exists (name)
  (values (%catch-error (open name :direction :probe :if-does-not-exist :error))))

(put-file "old.txt" "alpha")

;; --- :input

(first-line "old.txt")
=> "alpha"

;; Names match the file on disk whatever their case.
(first-line "OLD.TXT")
=> "alpha"

(open "none.txt")
!! 5155 "none.txt"

(open "none.txt" :if-does-not-exist nil)
-> Warning: File none.txt does not exist
=> NIL

;; :create makes the file first, then reads it.
(let ((s (open "made.txt" :if-does-not-exist :create)))
  (list (read-line s nil :eof) (close s) (%file-size "made.txt")))
=> (:EOF T 0)

;; --- :output

(progn (put-file "new.txt" "fresh") (first-line "new.txt"))
=> "fresh"

(open "old.txt" :direction :output)
!! 5154 "old.txt"

(open "old.txt" :direction :output :if-exists nil)
-> Warning: File old.txt already exists
=> NIL

;; :overwrite writes over the old bytes and keeps the rest.
(progn (put-file "ow.txt" "alpha")
       (let ((s (open "ow.txt" :direction :output :if-exists :overwrite)))
         (write-string "AB" s)
         (close s))
       (first-line "ow.txt"))
=> "ABpha"

(progn (put-file "ap.txt" "alpha")
       (let ((s (open "ap.txt" :direction :output :if-exists :append)))
         (write-string "++" s)
         (close s))
       (first-line "ap.txt"))
=> "alpha++"

;; Appending or overwriting needs the file.
(open "none.txt" :direction :output :if-exists :append)
!! 5155 "none.txt"

(open "none.txt" :direction :output :if-exists :overwrite)
!! 5155 "none.txt"

;; --- Backups

;; :RENAME keeps the old content under the type BAK after a normal close.
(progn (put-file "ren.txt" "old")
       (let ((s (open "ren.txt" :direction :output :if-exists :rename)))
         (write-string "new" s)
         (list (first-line "ren.BAK") (close s) (first-line "ren.txt") (first-line "ren.bak"))))
=> ("old" T "new" "old")

;; :RENAME-AND-DELETE drops the backup when the stream closes normally.
(progn (put-file "rd.txt" "old")
       (let ((s (open "rd.txt" :direction :output :if-exists :rename-and-delete)))
         (write-string "new" s)
         (list (exists "rd.bak") (close s) (exists "rd.bak") (first-line "rd.txt"))))
=> (T T NIL "new")

;; Closing with :ABORT puts the old file back, for both kinds of backup.
(progn (put-file "ab1.txt" "old")
       (let ((s (open "ab1.txt" :direction :output :if-exists :rename-and-delete)))
         (write-string "new" s)
         (list (close s :abort t) (first-line "ab1.txt") (exists "ab1.bak"))))
=> (T "old" NIL)

(progn (put-file "ab2.txt" "old")
       (let ((s (open "ab2.txt" :direction :output :if-exists :rename)))
         (write-string "new" s)
         (list (close s :abort t) (first-line "ab2.txt") (exists "ab2.bak"))))
=> (T "old" NIL)

;; An older backup is replaced, whatever the case of its name.
(progn (put-file "rep.txt" "v2")
       (put-file "REP.bak" "v1")
       (close (open "rep.txt" :direction :output :if-exists :rename))
       (list (first-line "rep.bak") (first-line "rep.txt")))
=> ("v2" :EOF)

;; A file of type BAK gets a backup of its own rather than being its own
;; backup.
(progn (put-file "x.bak" "keep")
       (let ((s (open "x.bak" :direction :output :if-exists :rename-and-delete)))
         (write-string "new" s)
         (close s :abort t)
         (first-line "x.bak")))
=> "keep"

;; Abort removes a file this open created, and never one that existed.
(let ((s (open "gone.txt" :direction :output)))
  (write-string "x" s)
  (list (close s :abort t) (exists "gone.txt")))
=> (T NIL)

(progn (put-file "stays.txt" "old")
       (let ((s (open "stays.txt" :direction :output :if-exists :append)))
         (write-string "+" s)
         (list (close s :abort t) (first-line "stays.txt"))))
=> (T "old+")

;; --- :io

(progn (put-file "io.txt" "abc")
       (let ((s (open "io.txt" :direction :io :if-exists :overwrite)))
         (list (read-line s) (close s))))
=> ("abc" T)

(let ((s (open "io-new.txt" :direction :io)))
  (write-string "xyz" s)
  (file-position s 0)
  (list (read-line s nil :eof) (close s)))
=> ("xyz" T)

;; --- :probe

(open "old.txt" :direction :probe)
=> T

(open "none.txt" :direction :probe)
-> Warning: File none.txt does not exist
=> NIL

(open "none.txt" :direction :probe :if-does-not-exist :error)
!! 5155 "none.txt"

(list (open "probed.txt" :direction :probe :if-does-not-exist :create) (%file-size "probed.txt"))
=> (T 0)

;; --- Argument checks

(open "old.txt" :direction :sideways)
!! 5170 :SIDEWAYS

(open "old.txt" :if-exists :maybe)
!! 5170 :MAYBE

(open "old.txt" :element-type 'float)
!! 5170 FLOAT

(open "old.txt" :external-format :latin)
!! 5170 :LATIN

(open 42)
!! 5170 42

;; --- Element types and external formats

(let ((s (open "old.txt" :element-type 'character)))
  (list (stream-element-type s) (read-line s) (close s)))
=> (CHARACTER "alpha" T)

(progn (let ((s (open "w16.bin" :direction :output :element-type '(unsigned-byte 16))))
         (write-byte 4660 s)
         (close s))
       (let ((s (open "w16.bin" :element-type '(unsigned-byte 8))))
         (list (read-byte s) (read-byte s) (read-byte s nil :eof) (close s))))
=> (52 18 :EOF T)

;; Code page 866 in the file: 1251 code 224 is written as byte 160.
(progn (let ((s (open "oem.txt" :direction :output :external-format :cp866)))
         (write-char (code-char 224) s)
         (close s))
       (let ((s (open "oem.txt" :element-type 'unsigned-byte)))
         (list (read-byte s) (close s))))
=> (160 T)

;; --- FILE-POSITION

(let ((s (open "old.txt")))
  (list (file-position s)
        (read-char s) (read-char s)
        (file-position s)
        (file-position s 0) (read-char s)
        (file-position s :end) (file-position s)
        (file-position s :start) (read-char s)
        (close s)))
=> (0 #\a #\l 2 T #\a T 5 T #\a T)

(file-position (make-string-input-stream "abc"))
!! 5170

(let ((s (open "old.txt")))
  (unwind-protect (file-position s 'middle) (close s)))
!! 5170 MIDDLE

;; --- File size

(%file-size "old.txt")
=> 5

(%file-size "none.txt")
-> Warning: File none.txt does not exist
=> NIL

(%file-size 3.5)
!! 5170 3.5

;; --- The kernel's MERGE-PATHNAMES (the library's, with relative
;; directories and the defaults variable, is checked with the pathnames)

(%merge-pathnames "foo" "/a/b/x.lsp")
=> "/a/b/foo.lsp"

(%merge-pathnames "foo.txt" "/a/b/x.lsp")
=> "/a/b/foo.txt"

(%merge-pathnames "/c/foo" "/a/b/x.lsp")
=> "/c/foo.lsp"

(%merge-pathnames "sub\\foo" "x.lsp")
=> "sub\\foo.lsp"

(%merge-pathnames nil "/a/x.lsp")
=> "/a/x.lsp"

(%merge-pathnames 'foo "x.lsp")
=> "FOO.lsp"

(%merge-pathnames 42 "x.lsp")
=> 42

;; --- CLOSE (the built-in; the library's CLOSE accepts both, as the
;; standard wants)

(%close (make-string-input-stream "x"))
!! 5170

(let ((s (open "old.txt")))
  (%close s)
  (%close s))
!! 5170

(let ((s (open "old.txt")))
  (list (close s) (close s) (close (make-string-input-stream "x"))))
=> (T T T)

(close *terminal-io*)
!! 5170

;; --- LOAD

(put-file "Prog.lsp" (format nil "(setq *loaded* 41)~%(+ *loaded* 1)~%"))

;; A name without a type finds the .LSP file, in whatever case it is.
(list (load "prog" :verbose nil) *loaded*)
=> (42 41)

(load "prog" :print t :verbose nil)
-> 41 42
=> 42

;; Verbose loading reports the file, and echoes the text it reads.
(load "prog" :verbose t)
-> setq *loaded* 41) (+ *loaded* 1)
-> ; Loaded prog.LSP
=> 42

;; Without :VERBOSE, *LOAD-VERBOSE* decides.
(let ((*load-verbose* nil)) (load "prog"))
=> 42

(load "absent")
!! 5155 "absent.LSP"

(load "absent" :if-does-not-exist nil)
-> Warning: File absent.LSP does not exist
=> NIL

;; A stream is read as it is and stays open: it belongs to the caller.
(let ((s (make-string-input-stream "(+ 1 2) (* 2 3)")))
  (list (load s) (read-char s nil :eof)))
=> (6 :EOF)

;; An error inside the file leaves through LOAD, which closes the file.
(progn (put-file "bad.lsp" (format nil "(setq *loaded* 1)~%(open \"none.txt\")~%(setq *loaded* 3)~%"))
       (list (values (%catch-error (load "bad"))) *loaded*))
=> (NIL 1)
