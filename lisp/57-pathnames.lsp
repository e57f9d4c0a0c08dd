;;;; Pathnames, files and directories.
;;;;
;;;; A pathname is its namestring: a simple string such as "/home/me/x.lsp"
;;;; or "src\\y.lsp".  The kernel parses the parts out of the string each
;;;; time they are asked for (host, device, directory, name, type), so the
;;;; functions here take and return strings, and #P"..." reads as the
;;;; string itself.  Names are resolved on the file system without regard
;;;; to case, as everywhere in the system.  A directory is written with a
;;;; separator at its end ("lib/"), a file without.

;; The kernel's parsers work on strings only; the standard functions below
;; accept any pathname designator.
(dolist (pair '((pathname-host . %pathname-host) (pathname-device . %pathname-device)
                (pathname-directory . %pathname-directory) (pathname-name . %pathname-name)
                (pathname-type . %pathname-type) (merge-pathnames . %merge-pathnames)))
  (unless (fboundp (cdr pair))
    (%set-symbol-function (cdr pair) (symbol-function (car pair)))))

(defvar *default-pathname-defaults* ""
  "The pathname whose parts MERGE-PATHNAMES supplies.  The empty name stands
for the working directory.")

(defvar *load-pathname* nil
  "The name of the file LOAD is loading (with its type), NIL outside LOAD.")

(defvar *load-truename* nil
  "The true name of the file LOAD is loading, NIL outside LOAD.")

;;; ------------------------------------------------------------------
;;; Designators

;; The name a file stream was opened with, or NIL for other streams: the
;; kernel's merge takes a file stream's name as the defaults, and NIL
;; merged with them is just that name.
(defun %stream-file-name (stream)
  (let ((name (%merge-pathnames nil stream)))
    (if (equal name "") nil name)))

(defun pathname (pathspec)
  "The pathname of PATHSPEC: a string is itself, a file stream gives the
name it was opened with, and a symbol (as everywhere files are named) its
name."
  (cond ((simple-string-p pathspec) pathspec)
        ((stringp pathspec) (coerce pathspec 'simple-string))
        ((and pathspec (symbolp pathspec)) (symbol-name pathspec))
        ((and (streamp pathspec) (%stream-file-name pathspec)))
        (t (error "~S is not a pathname designator" pathspec))))

(defun namestring (pathname)
  "The namestring of PATHNAME."
  (pathname pathname))

(defun pathname-host (pathname &key case)
  "The host part of PATHNAME (the name after two leading backslashes), or NIL."
  (%pathname-host (pathname pathname)))

(defun pathname-device (pathname &key case)
  "The device of PATHNAME (a drive letter before a colon), or NIL."
  (%pathname-device (pathname pathname)))

(defun pathname-directory (pathname &key case)
  "The directory of PATHNAME as (:ABSOLUTE dir ...) or (:RELATIVE dir ...);
NIL when it has none."
  (%pathname-directory (pathname pathname)))

(defun pathname-name (pathname &key case)
  "The name of PATHNAME's file part, or NIL."
  (%pathname-name (pathname pathname)))

(defun pathname-type (pathname &key case)
  "The type of PATHNAME (after the last dot of its file part), or NIL."
  (%pathname-type (pathname pathname)))

(deftype pathname () '(satisfies pathnamep))

;;; ------------------------------------------------------------------
;;; Building names

(defun %component-string (x)
  (cond ((member x '(:wild :wild-inferiors)) "*")
        ((member x '(:up :back)) "..")
        ((null x) "")
        ((stringp x) x)
        (t (error "~S is not a pathname component" x))))

(defun %directory-string (directory)
  (cond ((null directory) "")
        ((stringp directory) (%directory-string (list :absolute directory)))
        ((eq directory :wild) "**/")
        ((not (and (consp directory) (member (car directory) '(:absolute :relative))))
         (error "~S is not a pathname directory" directory))
        (t (let ((text (if (eq (car directory) :absolute) "/" "")))
             (dolist (component (cdr directory) text)
               (setq text (concatenate 'string text (%component-string component) "/")))))))

(defun %file-string (name type)
  (let ((name (%component-string name)))
    (if (or (null type) (equal type ""))
        name
        (concatenate 'string name "." (%component-string type)))))

(defun make-pathname (&key (host nil host-p) (device nil device-p) (directory nil directory-p)
                           (name nil name-p) (type nil type-p) version defaults case)
  "The namestring of the parts given; those not given come from DEFAULTS."
  (when defaults
    (let ((d (pathname defaults)))
      (unless host-p (setq host (pathname-host d)))
      (unless device-p (setq device (pathname-device d)))
      (unless directory-p (setq directory (pathname-directory d)))
      (unless name-p (setq name (pathname-name d)))
      (unless type-p (setq type (pathname-type d)))))
  (when (and (or host device) (consp directory) (eq (car directory) :relative)
             (null (cdr directory)))
    (setq directory nil))
  (concatenate 'string
               (if host (concatenate 'string "\\\\" host) "")
               (if device (concatenate 'string device ":") "")
               (if (and host (null directory)) "/" "")
               (%directory-string directory)
               (%file-string name type)))

(defun %merge-directories (directory defaults)
  (cond ((null directory) defaults)
        ((and (eq (car directory) :relative) (consp defaults))
         (append defaults (cdr directory)))
        (t directory)))

(defun merge-pathnames (pathname &optional (defaults *default-pathname-defaults*) default-version)
  "PATHNAME with each part it lacks taken from DEFAULTS; a relative
directory goes on from the directory of DEFAULTS."
  (let ((p (pathname pathname))
        (d (pathname defaults)))
    (make-pathname :host (or (pathname-host p) (pathname-host d))
                   :device (or (pathname-device p) (pathname-device d))
                   :directory (%merge-directories (pathname-directory p) (pathname-directory d))
                   :name (or (pathname-name p) (pathname-name d))
                   :type (or (pathname-type p) (pathname-type d)))))

(defun parse-namestring (thing &optional host (defaults *default-pathname-defaults*)
                               &key (start 0) end junk-allowed)
  "The pathname of THING and the position where parsing stopped."
  (if (stringp thing)
      (let* ((end (or end (length thing)))
             (name (subseq thing start end)))
        ;; The kernel's parser refuses names it cannot take apart.
        (%pathname-name name)
        (values name end))
      (values (pathname thing) start)))

(defun file-namestring (pathname)
  "The file part of PATHNAME: name and type."
  (let ((p (pathname pathname)))
    (%file-string (pathname-name p) (pathname-type p))))

(defun directory-namestring (pathname)
  "The directory part of PATHNAME, ending in a separator."
  (%directory-string (pathname-directory pathname)))

(defun host-namestring (pathname)
  "The host part of PATHNAME, or the empty string."
  (or (pathname-host pathname) ""))

(defun enough-namestring (pathname &optional (defaults *default-pathname-defaults*))
  "A name that gives PATHNAME again when merged with DEFAULTS: relative to
the directory of DEFAULTS when PATHNAME lies in it."
  (let* ((p (pathname pathname))
         (d (pathname defaults))
         (dir (pathname-directory d))
         (prefix (make-pathname :host (pathname-host d) :device (pathname-device d)
                                :directory dir)))
    (if (and (consp dir) (eq (car dir) :absolute)
             (> (length p) (length prefix))
             (string= p prefix :end1 (length prefix)))
        (subseq p (length prefix))
        p)))

;;; ------------------------------------------------------------------
;;; Wildcards: * for any run of characters, ? for one, in any component

(defun %wild-string-p (s)
  (and (stringp s) (or (find #\* s) (find #\? s)) t))

(defun wild-pathname-p (pathname &optional field-key)
  "True when PATHNAME (or the part FIELD-KEY names: :HOST, :DEVICE,
:DIRECTORY, :NAME, :TYPE, :VERSION) holds a wildcard."
  (let ((p (pathname pathname)))
    (case field-key
      ((nil) (%wild-string-p p))
      (:host (%wild-string-p (pathname-host p)))
      (:device (%wild-string-p (pathname-device p)))
      (:directory (some #'%wild-string-p (cdr (pathname-directory p))))
      (:name (%wild-string-p (pathname-name p)))
      (:type (%wild-string-p (pathname-type p)))
      (:version nil)
      (t (error "~S is not a pathname field" field-key)))))

;; The same matching as the kernel's directory listing, letters compared
;; without regard to case.
(defun %wild-match (pattern string &optional (p 0) (s 0))
  (cond ((= p (length pattern)) (= s (length string)))
        ((char= (char pattern p) #\*)
         (do ((k s (1+ k)))
             ((> k (length string)) nil)
           (when (%wild-match pattern string (1+ p) k) (return t))))
        ((= s (length string)) nil)
        ((or (char= (char pattern p) #\?) (char-equal (char pattern p) (char string s)))
         (%wild-match pattern string (1+ p) (1+ s)))
        (t nil)))

(defun %component-match-p (pattern component)
  (or (null pattern)
      (and component (%wild-match pattern component))))

(defun pathname-match-p (pathname wildcard)
  "True when PATHNAME matches WILDCARD part by part; a part WILDCARD lacks
matches anything."
  (let ((p (pathname pathname))
        (w (pathname wildcard)))
    (and (%component-match-p (pathname-host w) (pathname-host p))
         (%component-match-p (pathname-device w) (pathname-device p))
         (let ((wd (pathname-directory w))
               (pd (pathname-directory p)))
           (or (null wd)
               (and (eq (car wd) (car pd))
                    (= (length wd) (length pd))
                    (every #'%wild-match (cdr wd) (cdr pd)))))
         (%component-match-p (pathname-name w) (pathname-name p))
         (%component-match-p (pathname-type w) (pathname-type p)))))

;;; ------------------------------------------------------------------
;;; The file system

;; Operations of built-in %HOST-OPERATION.
(defconstant %op-delete-file 0)
(defconstant %op-rename-file 1)
(defconstant %op-make-directory 2)
(defconstant %op-delete-directory 3)
(defconstant %op-truename 4)
(defconstant %op-getenv 5)
(defconstant %op-change-directory 6)

;; Directory entries, as %DIRECTORY makes them: an instance of the
;; structure class DIRECTORY-ENTRY with its slots at locations 1 to 6.
(defun directory-entry-name (entry) "The file's name." (slot-value entry 1))
(defun directory-entry-attributes (entry)
  "Attribute bits: 1 read-only, 2 hidden (a dot file), #x10 directory,
#x20 ordinary file, #x400 symbolic link."
  (slot-value entry 2))
(defun directory-entry-size (entry) "The size in bytes." (slot-value entry 3))
(defun directory-entry-write-time (entry)
  "When the file was last written, in seconds from 1970."
  (slot-value entry 4))
(defun directory-entry-access-time (entry)
  "When the file was last read, in seconds from 1970."
  (slot-value entry 5))
(defun directory-entry-creation-time (entry)
  "When the file was made (or its status last changed, where the file
system does not keep that), in seconds from 1970."
  (slot-value entry 6))
(defun directory-entry-directory-p (entry)
  "True when the entry is a directory."
  (logtest #x10 (directory-entry-attributes entry)))

(defun %full-name (pathname)
  (namestring (merge-pathnames pathname)))

(defun probe-file (pathspec)
  "The true name (absolute, links followed) of the file or directory
PATHSPEC names, or NIL when there is none."
  (%host-operation %op-truename (%full-name pathspec)))

(defun truename (pathspec)
  "The true name of the file or directory PATHSPEC names; an error when
there is none."
  (or (probe-file pathspec)
      (error "The file ~A does not exist" (namestring pathspec))))

(defun %directory-of (pathname)
  (make-pathname :host (pathname-host pathname) :device (pathname-device pathname)
                 :directory (pathname-directory pathname)))

(defun directory (pathspec &key (resolve-symlinks t))
  "The true names of the files matching PATHSPEC, sorted.  Wildcards * and
? work in the name and type; a name such as \"dir/\" names the directory
itself, \"dir/*\" everything in it."
  (let* ((p (%full-name pathspec))
         (name (pathname-name p))
         (type (pathname-type p)))
    (if (and (null name) (null type))
        (let ((true (probe-file p)))
          (if true (list true) nil))
        (let* ((dir (%directory-of p))
               (true-dir (probe-file (if (equal dir "") "./" dir)))
               ;; "*.*" means every file, with a type or without.
               (pattern (if (and (equal name "*") (equal type "*"))
                            "*"
                            (%file-string name type))))
          (when true-dir
            (mapcar (lambda (entry)
                      (concatenate 'string true-dir (directory-entry-name entry)
                                   (if (directory-entry-directory-p entry) "/" "")))
                    (%directory (concatenate 'string dir pattern))))))))

(defun delete-file (filespec)
  "Remove the file FILESPEC names.  Returns T."
  (%host-operation %op-delete-file (%full-name filespec)))

(defun rename-file (filespec new-name)
  "Give the file FILESPEC the name NEW-NAME (its missing parts taken from
FILESPEC).  Three values: the new name, the old true name, the new true name."
  (let* ((old (%full-name filespec))
         (new (merge-pathnames new-name old))
         (old-true (truename old)))
    (%host-operation %op-rename-file old new)
    (values new old-true (truename new))))

(defun ensure-directories-exist (pathspec &key verbose)
  "Make every directory of PATHSPEC's directory part that does not exist.
Two values: PATHSPEC, and true when a directory was made."
  (let* ((p (%full-name pathspec))
         (dir (pathname-directory p))
         (made nil))
    (when (consp dir)
      (do ((k 2 (1+ k)))
          ((> k (length dir)))
        (let ((step (make-pathname :host (pathname-host p) :device (pathname-device p)
                                   :directory (subseq dir 0 k))))
          (when (%host-operation %op-make-directory step)
            (when verbose (format t "~&Created directory ~A~%" step))
            (setq made t)))))
    (values pathspec made)))

(defun %entry-of (pathspec)
  (car (%directory (%full-name pathspec))))

(defun file-write-date (pathspec)
  "When the file was last written, as a universal time; NIL when it does
not exist."
  (let ((entry (%entry-of pathspec)))
    (and entry (+ (directory-entry-write-time entry) %unix-epoch))))

(defun file-author (pathspec)
  "The author of the file: not known on this system, so NIL."
  (truename pathspec)
  nil)

(defun user-homedir-pathname (&optional host)
  "The user's home directory (from HOME), ending in a separator."
  (let ((home (or (%host-operation %op-getenv "HOME") "/")))
    (if (and (plusp (length home)) (find (char home (1- (length home))) "/\\"))
        home
        (concatenate 'string home "/"))))

(defun getenv (name)
  "The value of the environment variable NAME as a string, or NIL."
  (%host-operation %op-getenv (string name)))

(defun current-directory ()
  "The working directory, ending in a separator."
  (%current-directory))

(defun change-directory (pathspec)
  "Make PATHSPEC's directory the working directory.  Returns its true name."
  (let ((p (%full-name pathspec)))
    (%host-operation %op-change-directory (if (equal p "") "." p))
    (%current-directory)))

;;; #P"name" reads as the name itself.
(set-dispatch-macro-character #\# #\P
  (lambda (stream char arg)
    (let ((name (read stream t nil t)))
      (unless (stringp name)
        (error "#P must be followed by a string, not ~S" name))
      name)))
