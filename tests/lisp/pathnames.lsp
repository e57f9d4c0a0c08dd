;;; Pathnames as namestrings: the parts of a table of names, building and
;;; merging names, wildcards, and the file system functions in the empty
;;; directory every run starts in.

;; --- The parts of names: host, device, directory, name, type

(mapcar (lambda (name)
          (list (pathname-directory name) (pathname-name name) (pathname-type name)))
        '("/usr/lib/libc.so" "notes.txt" "src/main" "/" "dir/" "a\\b\\c.lsp" "/x/.profile"
          ".emacs.d/init.el" "archive.tar.gz" "trailing." "//doubled//sep/" "../up/x.y"))
=> (((:ABSOLUTE "usr" "lib") "libc" "so")
=>  (NIL "notes" "txt")
=>  ((:RELATIVE "src") "main" NIL)
=>  ((:ABSOLUTE) NIL NIL)
=>  ((:RELATIVE "dir") NIL NIL)
=>  ((:RELATIVE "a" "b") "c" "lsp")
=>  ((:ABSOLUTE "x") ".profile" NIL)
=>  ((:RELATIVE ".emacs.d") "init" "el")
=>  (NIL "archive.tar" "gz")
=>  (NIL "trailing" NIL)
=>  ((:ABSOLUTE "doubled" "sep") NIL NIL)
=>  ((:RELATIVE ".." "up") "x" "y"))

;; Devices and hosts are parsed as the system always wrote them.
(list (pathname-device "C:\\A\\B\\F.TXT") (pathname-directory "C:\\A\\B\\F.TXT")
      (pathname-device "c:rel.txt") (pathname-directory "c:rel.txt")
      (pathname-host "\\\\server\\share\\f") (pathname-directory "\\\\server\\share\\f")
      (pathname-host "/no/host") (pathname-version "/a/b"))
=> ("C" (:ABSOLUTE "A" "B") "c" NIL "server" (:ABSOLUTE "share") NIL NIL)

;; Limits are errors, not silent cuts.
(pathname-name (make-string 260 :initial-element #\a))
!! 5170

(length (pathname-name (make-string 259 :initial-element #\a)))
=> 259

(pathname-directory (let ((s "")) (dotimes (i 129) (setq s (concatenate 'string s "d/"))) s))
!! 5170

(length (pathname-directory (let ((s "")) (dotimes (i 128) (setq s (concatenate 'string s "d/"))) s)))
=> 129

(pathname-name "\\\\server")
!! 5170

(%pathname-name 'symbol)
!! 5170

(list (pathnamep "x") (pathnamep 'x) (typep "a/b" 'pathname) #P"/tmp/x.lsp" (pathname #P"y"))
=> (T NIL T "/tmp/x.lsp" "y")

;; --- Building and merging

(list (make-pathname :directory '(:absolute "usr" "lib") :name "foo" :type "so")
      (make-pathname :directory '(:relative "a" :up) :name "b")
      (make-pathname :name "x" :type "lsp" :defaults "/home/me/old.txt")
      (make-pathname :type nil :defaults "/home/me/old.txt")
      (make-pathname :device "C" :directory '(:absolute "W") :name "f")
      (make-pathname :directory '(:absolute) :name :wild :type :wild))
=> ("/usr/lib/foo.so" "a/../b" "/home/me/x.lsp" "/home/me/old" "C:/W/f" "/*.*")

(list (merge-pathnames "x/y.lsp" "/home/me/")
      (merge-pathnames "/abs/z" "/home/me/q.txt")
      (merge-pathnames "name" "/home/me/q.txt")
      (merge-pathnames "" "/d/e.f")
      (let ((*default-pathname-defaults* "/base/")) (merge-pathnames "rel.lsp")))
=> ("/home/me/x/y.lsp" "/abs/z.txt" "/home/me/name.txt" "/d/e.f" "/base/rel.lsp")

(list (file-namestring "/a/b/c.d") (directory-namestring "/a/b/c.d") (directory-namestring "c.d")
      (namestring "a/b") (host-namestring "/a"))
=> ("c.d" "/a/b/" "" "a/b" "")

(list (enough-namestring "/home/me/x/y.lsp" "/home/me/") (enough-namestring "/other/y" "/home/me/")
      (enough-namestring "rel/y" "/home/me/"))
=> ("x/y.lsp" "/other/y" "rel/y")

(multiple-value-list (parse-namestring "xx/yy.zz!" nil "" :start 3 :end 8))
=> ("yy.zz" 8)

;; --- Wildcards

(list (wild-pathname-p "a/*.lsp") (wild-pathname-p "a/b.lsp") (wild-pathname-p "a?/b" :directory)
      (wild-pathname-p "a?/b" :name))
=> (T NIL T NIL)

(list (pathname-match-p "/src/main.lsp" "/src/*.lsp")
      (pathname-match-p "/src/main.lsp" "/*/m?in.LSP")
      (pathname-match-p "/src/main.lsp" "/src/*.c")
      (pathname-match-p "/src/main.lsp" "*.lsp")
      (pathname-match-p "/src/sub/main.lsp" "/src/*.lsp"))
=> (T T NIL T NIL)

;; --- The file system, in the run's empty directory

(defun touch (name &optional (text ""))
  (with-open-file (s name :direction :output :if-exists :rename-and-delete) (write-string text s))
  name)

(defun here (name) (concatenate 'string (current-directory) name))

(progn (touch "alpha.lsp" "12345") (touch "beta.lsp") (touch "Gamma.LSP") (touch "notes.txt")
       (touch ".hidden") (ensure-directories-exist "sub/deeper/x") (touch "sub/inner.lsp")
       (length (directory "*")))
=> 6

(equal (directory "*.lsp") (mapcar #'here '("Gamma.LSP" "alpha.lsp" "beta.lsp")))
=> T

(list (equal (directory "?e*.*") (mapcar #'here '("beta.lsp")))
      (equal (directory "sub/*") (mapcar #'here '("sub/deeper/" "sub/inner.lsp")))
      (equal (directory "sub/") (list (here "sub/")))
      (directory "nothing*.here") (directory "no-such-dir/*"))
=> (T T T NIL NIL)

;; Entries of the kernel's listing: name, attributes, size, times.
(let ((e (car (%directory "alpha.lsp"))))
  (list (directory-entry-name e) (directory-entry-size e) (directory-entry-directory-p e)
        (logtest #x20 (directory-entry-attributes e))
        (<= (abs (- (directory-entry-write-time e) (%get-time))) 60)
        (typep e 'directory-entry)))
=> ("alpha.lsp" 5 NIL T T T)

(list (logand #x12 (directory-entry-attributes (car (%directory ".hidden"))))
      (logand #x12 (directory-entry-attributes (car (%directory "sub")))))
=> (2 16)

(list (equal (probe-file "ALPHA.LSP") (here "alpha.lsp")) (probe-file "absent")
      (equal (truename "sub") (here "sub/")))
=> (T NIL T)

(multiple-value-bind (value condition) (ignore-errors (truename "absent.txt"))
  (list value (format nil "~A" condition)))
=> (NIL "The file absent.txt does not exist")

(<= (abs (- (file-write-date "alpha.lsp") (get-universal-time))) 60)
=> T

(file-write-date "absent")
=> NIL

(multiple-value-bind (new old true) (rename-file "notes.txt" "renamed")
  (list new (equal old (here "notes.txt")) (equal true (here "renamed.txt"))
        (probe-file "notes.txt")))
=> ("renamed.txt" T T NIL)

(list (delete-file "renamed.txt") (probe-file "renamed.txt"))
=> (T NIL)

(delete-file "renamed.txt")
!! 8223

(multiple-value-list (ensure-directories-exist "sub/deeper/x"))
=> ("sub/deeper/x" NIL)

(list (%host-operation 3 "sub/deeper") (probe-file "sub/deeper/"))
=> (T NIL)

(list (stringp (user-homedir-pathname))
      (char= #\/ (char (user-homedir-pathname) (1- (length (user-homedir-pathname)))))
      (char= #\/ (char (current-directory) (1- (length (current-directory))))))
=> (T T T)

(list (getenv "ZORVA_SURELY_UNSET_VARIABLE") (stringp (getenv "PATH")))
=> (NIL T)

;; LOAD binds *LOAD-PATHNAME* and *LOAD-TRUENAME* while it runs.
(progn (touch "where.lsp" "(setq *seen* (list *load-pathname* *load-truename*))")
       (defvar *seen* nil)
       (load "WHERE")
       (list (car *seen*) (equal (cadr *seen*) (here "where.lsp")) *load-pathname* *load-truename*))
=> ("WHERE.LSP" T NIL NIL)

(with-open-file (s "alpha.lsp") (list (pathname s) (file-length s)))
=> ("alpha.lsp" 5)

(multiple-value-bind (value condition) (ignore-errors (pathname (make-string-input-stream "x")))
  (list value (not (null condition))))
=> (NIL T)
