;;; Packages over the one symbol namespace: the standard packages, the
;;; package functions, DEFPACKAGE and IN-PACKAGE in a loaded file, and the
;;; iteration over the symbols of a package.

(list (find-package "COMMON-LISP") (find-package :cl) (find-package 'cl-user)
      (find-package "KEYWORD") (find-package "NO-SUCH-PACKAGE")
      (package-name *package*) (package-nicknames :cl)
      (mapcar #'package-name (package-use-list "CL-USER")))
=> (#<PACKAGE "COMMON-LISP"> #<PACKAGE "COMMON-LISP"> #<PACKAGE "COMMON-LISP-USER"> #<PACKAGE "KEYWORD"> NIL "COMMON-LISP-USER" ("CL") ("COMMON-LISP"))

;; The home packages of symbols.
(list (package-name (symbol-package 'car)) (package-name (symbol-package :test))
      (package-name (symbol-package 'std-some-symbol)) (symbol-package (make-symbol "X"))
      (symbol-package (gensym)) (eq (symbol-package 'nil) (find-package :cl)))
=> ("COMMON-LISP" "KEYWORD" "COMMON-LISP-USER" NIL NIL T)

;; COMMON-LISP exports the 978 standard names, and nothing else.
(let ((n 0) (all t))
  (do-external-symbols (s :cl) (incf n) (unless (eq (symbol-package s) (find-package :cl)) (setq all nil)))
  (list n all (multiple-value-list (find-symbol "CAR" :cl))
        (multiple-value-list (find-symbol "CAR" :cl-user))
        (multiple-value-list (find-symbol "STD-NEVER-READ-ANYWHERE" :cl-user))
        (multiple-value-list (find-symbol "NIL" :cl))
        (multiple-value-list (find-symbol "TEST" :keyword))))
=> (978 T (CAR :EXTERNAL) (CAR :INHERITED) (NIL NIL) (NIL :EXTERNAL) (:TEST :EXTERNAL))

;; DEFPACKAGE with the usual options; a package is found by a nickname.
(progn
  (defpackage :std-geometry
    (:use :common-lisp)
    (:nicknames "GEO")
    (:export #:area #:perimeter)
    (:import-from :cl #:car)
    (:shadow #:length)
    (:intern "STD-HELPER")
    (:documentation "Shapes."))
  (list (find-package "GEO")
        (multiple-value-list (find-symbol "AREA" "GEO"))
        (multiple-value-list (find-symbol "STD-HELPER" :std-geometry))
        (package-name (symbol-package 'perimeter))
        (mapcar #'symbol-name (package-shadowing-symbols :geo))
        (remove-if-not (lambda (n) (member n '("STD-GEOMETRY" "COMMON-LISP-USER") :test #'string=))
                                 (mapcar #'package-name (package-used-by-list :cl)))))
=> (#<PACKAGE "STD-GEOMETRY"> (AREA :EXTERNAL) (STD-HELPER :INTERNAL) "STD-GEOMETRY" ("LENGTH") ("STD-GEOMETRY" "COMMON-LISP-USER"))

(defpackage :std-bad (:frobnicate t))
!! 5170 (:FROBNICATE T)

(make-package "GEO")
!! 5170 "GEO"

;; A file that starts with DEFPACKAGE and IN-PACKAGE; LOAD keeps the
;; current package around the file.
(progn
  (with-open-file (out "shapes.lsp" :direction :output)
    (write-string "(defpackage :std-shapes (:use :cl) (:export #:std-square-area))
(in-package :std-shapes)
(defun std-square-area (side) (* side side))
(defvar *std-loaded-in* (package-name *package*))
" out))
  (load "shapes.lsp")
  (list (package-name *package*) *std-loaded-in* (std-square-area 3)
        (multiple-value-list (find-symbol "STD-SQUARE-AREA" :std-shapes))))
=> ("COMMON-LISP-USER" "STD-SHAPES" 9 (STD-SQUARE-AREA :EXTERNAL))

;; IN-PACKAGE at the top level changes *PACKAGE* until the next one.
(in-package "GEO")
=> #<PACKAGE "STD-GEOMETRY">

(package-name *package*)
=> "STD-GEOMETRY"

(in-package :cl-user)
=> #<PACKAGE "COMMON-LISP-USER">

(in-package :std-no-such-package)
!! 5170

;; INTERN places a new symbol in the package; the status tells where an
;; old one is.  (The name is not written as a symbol in the form: reading
;; it would make the symbol before INTERN runs.)
(list (multiple-value-list (intern "STD-FRESH-NAME" :geo))
      (multiple-value-list (intern "STD-FRESH-NAME" :geo))
      (package-name (symbol-package (intern "STD-FRESH-NAME")))
      (multiple-value-list (intern "AREA" :geo))
      (multiple-value-list (intern "CAR" :geo))
      (multiple-value-list (intern "CDR" :geo))
      (multiple-value-list (intern "STD-NEW-KEY" :keyword))
      (find-all-symbols "AREA"))
=> ((STD-FRESH-NAME NIL) (STD-FRESH-NAME :INTERNAL) "STD-GEOMETRY" (AREA :EXTERNAL) (CAR :INTERNAL) (CDR :INHERITED) (:STD-NEW-KEY NIL) (AREA :AREA))

;; EXPORT, UNEXPORT, IMPORT, USE-PACKAGE and UNUSE-PACKAGE.
(let ((p (make-package "STD-TOOLS" :nicknames '("STT") :use nil)))
  (export (intern "STD-HAMMER" p) p)
  (import 'std-fresh-name p)
  (use-package :geo p)
  (list (packagep p) (package-use-list p)
        (multiple-value-list (find-symbol "STD-HAMMER" p))
        (multiple-value-list (find-symbol "AREA" p))
        (multiple-value-list (find-symbol "STD-FRESH-NAME" p))
        (progn (unexport 'std-hammer p) (nth-value 1 (find-symbol "STD-HAMMER" p)))
        (progn (unuse-package :geo p) (package-use-list p))
        (package-used-by-list :geo)))
=> (T (#<PACKAGE "STD-GEOMETRY">) (STD-HAMMER :EXTERNAL) (AREA :INHERITED) (STD-FRESH-NAME :INTERNAL) :INTERNAL NIL NIL)

(list (rename-package "STT" "STD-TOOLBOX" '("STB")) (find-package "STD-TOOLS")
      (delete-package "STB") (find-package "STD-TOOLBOX") (delete-package "STB"))
=> (#<PACKAGE "STD-TOOLBOX"> NIL T NIL NIL)

(delete-package :cl)
!! 8242

;; Iterating: DO-SYMBOLS sees the inherited symbols too, LOOP and
;; WITH-PACKAGE-ITERATOR the kinds asked for.
(let ((own nil) (all 0))
  (do-symbols (s :geo) (incf all) (when (eq (symbol-package s) (find-package :geo)) (push s own)))
  (list (>= all 978) (sort (mapcar #'symbol-name own) #'string<)
        (sort (loop for s being the external-symbols of "GEO" collect (symbol-name s)) #'string<)
        (length (loop for s being each present-symbol in :geo collect s))
        (let ((got nil))
          (with-package-iterator (next :geo :external)
            (loop (multiple-value-bind (more symbol status package) (next)
                    (unless more (return))
                    (push (list symbol status (package-name package)) got))))
          (sort got #'string< :key (lambda (e) (symbol-name (car e)))))))
=> (T ("AREA" "PERIMETER" "STD-FRESH-NAME" "STD-HELPER") ("AREA" "PERIMETER") 6 ((AREA :EXTERNAL "STD-GEOMETRY") (PERIMETER :EXTERNAL "STD-GEOMETRY")))

(let ((n 0)) (do-all-symbols (s) (incf n)) (> n 2000))
=> T

;; COPY-SYMBOL: a fresh uninterned symbol, with the cells when asked.
(progn
  (defvar *std-original* 5)
  (setf (get '*std-original* 'color) 'red)
  (let ((plain (copy-symbol '*std-original*)) (full (copy-symbol '*std-original* t)))
    (list (symbol-name plain) (boundp plain) (symbol-package plain)
          (symbol-value full) (get full 'color) (eq full '*std-original*))))
=> ("*STD-ORIGINAL*" NIL NIL 5 RED NIL)

;; The reader takes pkg:name and pkg::name as the symbol name when pkg is
;; the name or a nickname of a package (KEYWORD: makes keywords);
;; otherwise the token is read whole, as any other symbol.
(list 'cl:car 'common-lisp:cons 'cl-user::std-x 'keyword:std-y 'geo:area 'std-geometry::std-helper
      (symbol-name 'std-unknown-package:std-z) (eq 'cl:car 'car) (cl:car '(1 2)))
=> (CAR CONS STD-X :STD-Y AREA STD-HELPER "STD-UNKNOWN-PACKAGE:STD-Z" T 1)

(read-from-string "std-unknown-package::std-z")
!! 5170 "STD-UNKNOWN-PACKAGE::STD-Z"

(read-from-string "cl:::car")
!! 5170 "CL::"

(read-from-string "cl:")
!! 5170 "CL:"

;; A portable source file: its own package, symbols written with their
;; packages, loaded with LOAD.
(progn
  (with-open-file (out "portable.lsp" :direction :output)
    (write-string "(cl:defpackage #:std-portable
  (:use #:common-lisp)
  (:export #:std-sum-squares))
(cl:in-package #:std-portable)
(cl:defun std-sum-squares (list)
  (cl:reduce #'cl:+ (cl:mapcar (cl:lambda (x) (cl:* x x)) list)))
(defparameter *std-portable-package* (cl:package-name cl:*package*))
(cl-user::defvar cl-user::*std-seen-keyword* keyword:done)
" out))
  (load "portable.lsp")
  (list *std-portable-package* *std-seen-keyword* (package-name *package*)))
=> ("STD-PORTABLE" :DONE "COMMON-LISP-USER")

;; Read after the file made the package: the prefix names it now.
(std-portable:std-sum-squares '(1 2 3))
=> 14
