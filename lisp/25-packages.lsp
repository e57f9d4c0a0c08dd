;;;; Packages over the one symbol namespace.
;;;;
;;;; The system has a single table of symbols: a name read anywhere is the
;;;; same symbol.  Packages are names recorded on top of it, so that
;;;; portable files load and the package functions answer sensibly:
;;;; DEFPACKAGE and IN-PACKAGE work, *PACKAGE* names the current package,
;;;; the reader takes pkg:name and pkg::name as name when pkg is the name
;;;; of a package, and a package knows the symbols it exports, the ones
;;;; interned or imported into it by the package functions, and the
;;;; packages it uses.  What cannot follow is two symbols of one name:
;;;; SHADOW records the name and nothing more, and INTERN of a name that
;;;; exists gives the one symbol whatever the package.
;;;;
;;;; The home package of a symbol (SYMBOL-PACKAGE) is KEYWORD for a
;;;; keyword, COMMON-LISP for the standard's names, the package a package
;;;; function first placed it in, and otherwise COMMON-LISP-USER.  The
;;;; printer never writes a package prefix.

;;; ------------------------------------------------------------------
;;; Package objects

(defun %print-package (package stream depth)
  (declare (ignore depth))
  ;; One piece, so that the printer does not break the line inside it.
  (write-string (format nil "#<PACKAGE ~S>" (%package-name package)) stream))

(defstruct (package (:constructor %make-package (name nicknames))
                    (:conc-name %package-)
                    (:predicate packagep)
                    (:copier nil)
                    (:print-function %print-package))
  name
  nicknames
  (use-list nil)
  (used-by-list nil)
  (shadowing-symbols nil)
  (externals (make-hash-table :test 'eq))
  (internals (make-hash-table :test 'eq))
  (documentation nil))

(defvar %packages nil "Every package, newest first.")

;; Symbols placed in a package by INTERN, IMPORT or EXPORT there, with
;; that package.
(defvar %symbol-homes (make-hash-table :test 'eq))

;; The names and nicknames of the packages, for the reader's pkg:name: the
;; kernel reads the value of %PACKAGE-NAMES, a list of entries (name .
;; keyword-p), keyword-p true for the names of the package of keywords.
(defvar %package-names nil)

(defun %note-package-names ()
  (setq %package-names
        (mapcan (lambda (p)
                  (let ((keyword-p (string= (%package-name p) "KEYWORD")))
                    (mapcar (lambda (name) (cons name keyword-p))
                            (cons (%package-name p) (%package-nicknames p)))))
                %packages)))

;; The name a string designator stands for.
(defun %designated-string (x)
  (cond ((stringp x) x)
        ((symbolp x) (symbol-name x))
        ((characterp x) (string x))
        (t (error "~S is not a string designator" x))))

(defun find-package (name)
  "The package named NAME (a string designator, or a package itself), by
its name or a nickname; NIL when there is none."
  (if (packagep name)
      name
      (let ((s (%designated-string name)))
        (dolist (p %packages nil)
          (when (or (string= s (%package-name p))
                    (member s (%package-nicknames p) :test (function string=)))
            (return p))))))

(defun %package (designator)
  (or (find-package designator)
      (error "There is no package named ~S" (if (packagep designator)
                                                 (%package-name designator)
                                                 designator))))

;; A list of the objects a designator of several stands for.
(defun %designator-list (x)
  (if (listp x) x (list x)))

(defun make-package (name &key nicknames (use '("COMMON-LISP")))
  "A new package named NAME, with the NICKNAMES, using the packages USE."
  (let ((name (%designated-string name))
        (nicknames (mapcar (function %designated-string) nicknames)))
    (dolist (n (cons name nicknames))
      (when (find-package n)
        (error "A package named ~S exists already" n)))
    (let ((p (%make-package name nicknames)))
      (setq %packages (cons p %packages))
      (%note-package-names)
      (use-package use p)
      p)))

(defun package-name (package)
  "The name of PACKAGE, a package or its designator."
  (%package-name (%package package)))

(defun package-nicknames (package)
  "The nicknames of PACKAGE."
  (copy-list (%package-nicknames (%package package))))

(defun package-use-list (package)
  "The packages PACKAGE uses."
  (copy-list (%package-use-list (%package package))))

(defun package-used-by-list (package)
  "The packages that use PACKAGE."
  (copy-list (%package-used-by-list (%package package))))

(defun package-shadowing-symbols (package)
  "The symbols recorded by SHADOW and SHADOWING-IMPORT in PACKAGE."
  (copy-list (%package-shadowing-symbols (%package package))))

(defun list-all-packages ()
  "A fresh list of every package."
  (copy-list %packages))

(defun rename-package (package new-name &optional new-nicknames)
  "Give PACKAGE the name NEW-NAME and the nicknames NEW-NICKNAMES."
  (let ((p (%package package))
        (name (%designated-string new-name))
        (nicknames (mapcar (function %designated-string) new-nicknames)))
    (dolist (n (cons name nicknames))
      (let ((other (find-package n)))
        (when (and other (not (eq other p)))
          (error "A package named ~S exists already" n))))
    (setf (%package-name p) name
          (%package-nicknames p) nicknames)
    (%note-package-names)
    p))

(defun delete-package (package)
  "Remove PACKAGE from the packages; T, or NIL when it was gone already.
Its symbols stay as they are."
  (let ((p (if (packagep package) package (find-package package))))
    (cond ((or (null p) (not (member p %packages))) nil)
          (t (when (%package-used-by-list p)
               (error "~S is used by ~S" p (%package-used-by-list p)))
             (dolist (used (%package-use-list p))
               (setf (%package-used-by-list used)
                     (remove p (%package-used-by-list used))))
             (setq %packages (remove p %packages))
             (%note-package-names)
             t))))

;;; ------------------------------------------------------------------
;;; The standard packages

(defvar *package* nil "The current package.")

(let ((cl (%make-package "COMMON-LISP" (list "CL")))
      (user (%make-package "COMMON-LISP-USER" (list "CL-USER")))
      (keyword (%make-package "KEYWORD" nil)))
  (setq %packages (list keyword user cl))
  (setf (%package-use-list user) (list cl)
        (%package-used-by-list cl) (list user))
  (setq *package* user)
  (%note-package-names))

(defparameter %common-lisp (find-package "COMMON-LISP"))
(defparameter %common-lisp-user (find-package "COMMON-LISP-USER"))
(defparameter %keyword-package (find-package "KEYWORD"))

;; The names the standard's COMMON-LISP package exports.
(let ((text "
&ALLOW-OTHER-KEYS &AUX &BODY &ENVIRONMENT &KEY &OPTIONAL &REST &WHOLE * **
*** *BREAK-ON-SIGNALS* *COMPILE-FILE-PATHNAME* *COMPILE-FILE-TRUENAME*
*COMPILE-PRINT* *COMPILE-VERBOSE* *DEBUG-IO* *DEBUGGER-HOOK*
*DEFAULT-PATHNAME-DEFAULTS* *ERROR-OUTPUT* *FEATURES* *GENSYM-COUNTER*
*LOAD-PATHNAME* *LOAD-PRINT* *LOAD-TRUENAME* *LOAD-VERBOSE*
*MACROEXPAND-HOOK* *MODULES* *PACKAGE* *PRINT-ARRAY* *PRINT-BASE*
*PRINT-CASE* *PRINT-CIRCLE* *PRINT-ESCAPE* *PRINT-GENSYM* *PRINT-LENGTH*
*PRINT-LEVEL* *PRINT-LINES* *PRINT-MISER-WIDTH* *PRINT-PPRINT-DISPATCH*
*PRINT-PRETTY* *PRINT-RADIX* *PRINT-READABLY* *PRINT-RIGHT-MARGIN*
*QUERY-IO* *RANDOM-STATE* *READ-BASE* *READ-DEFAULT-FLOAT-FORMAT*
*READ-EVAL* *READ-SUPPRESS* *READTABLE* *STANDARD-INPUT* *STANDARD-OUTPUT*
*TERMINAL-IO* *TRACE-OUTPUT* + ++ +++ - / // /// /= 1+ 1- < <= = > >= ABORT
ABS ACONS ACOS ACOSH ADD-METHOD ADJOIN ADJUST-ARRAY ADJUSTABLE-ARRAY-P
ALLOCATE-INSTANCE ALPHA-CHAR-P ALPHANUMERICP AND APPEND APPLY APROPOS
APROPOS-LIST AREF ARITHMETIC-ERROR ARITHMETIC-ERROR-OPERANDS
ARITHMETIC-ERROR-OPERATION ARRAY ARRAY-DIMENSION ARRAY-DIMENSION-LIMIT
ARRAY-DIMENSIONS ARRAY-DISPLACEMENT ARRAY-ELEMENT-TYPE
ARRAY-HAS-FILL-POINTER-P ARRAY-IN-BOUNDS-P ARRAY-RANK ARRAY-RANK-LIMIT
ARRAY-ROW-MAJOR-INDEX ARRAY-TOTAL-SIZE ARRAY-TOTAL-SIZE-LIMIT ARRAYP ASH
ASIN ASINH ASSERT ASSOC ASSOC-IF ASSOC-IF-NOT ATAN ATANH ATOM BASE-CHAR
BASE-STRING BIGNUM BIT BIT-AND BIT-ANDC1 BIT-ANDC2 BIT-EQV BIT-IOR BIT-NAND
BIT-NOR BIT-NOT BIT-ORC1 BIT-ORC2 BIT-VECTOR BIT-VECTOR-P BIT-XOR BLOCK
BOOLE BOOLE-1 BOOLE-2 BOOLE-AND BOOLE-ANDC1 BOOLE-ANDC2 BOOLE-C1 BOOLE-C2
BOOLE-CLR BOOLE-EQV BOOLE-IOR BOOLE-NAND BOOLE-NOR BOOLE-ORC1 BOOLE-ORC2
BOOLE-SET BOOLE-XOR BOOLEAN BOTH-CASE-P BOUNDP BREAK BROADCAST-STREAM
BROADCAST-STREAM-STREAMS BUILT-IN-CLASS BUTLAST BYTE BYTE-POSITION BYTE-SIZE
CAAAAR CAAADR CAAAR CAADAR CAADDR CAADR CAAR CADAAR CADADR CADAR CADDAR
CADDDR CADDR CADR CALL-ARGUMENTS-LIMIT CALL-METHOD CALL-NEXT-METHOD CAR CASE
CATCH CCASE CDAAAR CDAADR CDAAR CDADAR CDADDR CDADR CDAR CDDAAR CDDADR CDDAR
CDDDAR CDDDDR CDDDR CDDR CDR CEILING CELL-ERROR CELL-ERROR-NAME CERROR
CHANGE-CLASS CHAR CHAR-CODE CHAR-CODE-LIMIT CHAR-DOWNCASE CHAR-EQUAL
CHAR-GREATERP CHAR-INT CHAR-LESSP CHAR-NAME CHAR-NOT-EQUAL CHAR-NOT-GREATERP
CHAR-NOT-LESSP CHAR-UPCASE CHAR/= CHAR< CHAR<= CHAR= CHAR> CHAR>= CHARACTER
CHARACTERP CHECK-TYPE CIS CLASS CLASS-NAME CLASS-OF CLEAR-INPUT CLEAR-OUTPUT
CLOSE CLRHASH CODE-CHAR COERCE COMPILATION-SPEED COMPILE COMPILE-FILE
COMPILE-FILE-PATHNAME COMPILED-FUNCTION COMPILED-FUNCTION-P COMPILER-MACRO
COMPILER-MACRO-FUNCTION COMPLEMENT COMPLEX COMPLEXP
COMPUTE-APPLICABLE-METHODS COMPUTE-RESTARTS CONCATENATE CONCATENATED-STREAM
CONCATENATED-STREAM-STREAMS COND CONDITION CONJUGATE CONS CONSP CONSTANTLY
CONSTANTP CONTINUE CONTROL-ERROR COPY-ALIST COPY-LIST COPY-PPRINT-DISPATCH
COPY-READTABLE COPY-SEQ COPY-STRUCTURE COPY-SYMBOL COPY-TREE COS COSH COUNT
COUNT-IF COUNT-IF-NOT CTYPECASE DEBUG DECF DECLAIM DECLARATION DECLARE
DECODE-FLOAT DECODE-UNIVERSAL-TIME DEFCLASS DEFCONSTANT DEFGENERIC
DEFINE-COMPILER-MACRO DEFINE-CONDITION DEFINE-METHOD-COMBINATION
DEFINE-MODIFY-MACRO DEFINE-SETF-EXPANDER DEFINE-SYMBOL-MACRO DEFMACRO
DEFMETHOD DEFPACKAGE DEFPARAMETER DEFSETF DEFSTRUCT DEFTYPE DEFUN DEFVAR
DELETE DELETE-DUPLICATES DELETE-FILE DELETE-IF DELETE-IF-NOT DELETE-PACKAGE
DENOMINATOR DEPOSIT-FIELD DESCRIBE DESCRIBE-OBJECT DESTRUCTURING-BIND
DIGIT-CHAR DIGIT-CHAR-P DIRECTORY DIRECTORY-NAMESTRING DISASSEMBLE
DIVISION-BY-ZERO DO DO* DO-ALL-SYMBOLS DO-EXTERNAL-SYMBOLS DO-SYMBOLS
DOCUMENTATION DOLIST DOTIMES DOUBLE-FLOAT DOUBLE-FLOAT-EPSILON
DOUBLE-FLOAT-NEGATIVE-EPSILON DPB DRIBBLE DYNAMIC-EXTENT ECASE ECHO-STREAM
ECHO-STREAM-INPUT-STREAM ECHO-STREAM-OUTPUT-STREAM ED EIGHTH ELT
ENCODE-UNIVERSAL-TIME END-OF-FILE ENDP ENOUGH-NAMESTRING
ENSURE-DIRECTORIES-EXIST ENSURE-GENERIC-FUNCTION EQ EQL EQUAL EQUALP ERROR
ETYPECASE EVAL EVAL-WHEN EVENP EVERY EXP EXPORT EXPT EXTENDED-CHAR FBOUNDP
FCEILING FDEFINITION FFLOOR FIFTH FILE-AUTHOR FILE-ERROR FILE-ERROR-PATHNAME
FILE-LENGTH FILE-NAMESTRING FILE-POSITION FILE-STREAM FILE-STRING-LENGTH
FILE-WRITE-DATE FILL FILL-POINTER FIND FIND-ALL-SYMBOLS FIND-CLASS FIND-IF
FIND-IF-NOT FIND-METHOD FIND-PACKAGE FIND-RESTART FIND-SYMBOL FINISH-OUTPUT
FIRST FIXNUM FLET FLOAT FLOAT-DIGITS FLOAT-PRECISION FLOAT-RADIX FLOAT-SIGN
FLOATING-POINT-INEXACT FLOATING-POINT-INVALID-OPERATION
FLOATING-POINT-OVERFLOW FLOATING-POINT-UNDERFLOW FLOATP FLOOR FMAKUNBOUND
FORCE-OUTPUT FORMAT FORMATTER FOURTH FRESH-LINE FROUND FTRUNCATE FTYPE
FUNCALL FUNCTION FUNCTION-KEYWORDS FUNCTION-LAMBDA-EXPRESSION FUNCTIONP GCD
GENERIC-FUNCTION GENSYM GENTEMP GET GET-DECODED-TIME
GET-DISPATCH-MACRO-CHARACTER GET-INTERNAL-REAL-TIME GET-INTERNAL-RUN-TIME
GET-MACRO-CHARACTER GET-OUTPUT-STREAM-STRING GET-PROPERTIES
GET-SETF-EXPANSION GET-UNIVERSAL-TIME GETF GETHASH GO GRAPHIC-CHAR-P
HANDLER-BIND HANDLER-CASE HASH-TABLE HASH-TABLE-COUNT HASH-TABLE-P
HASH-TABLE-REHASH-SIZE HASH-TABLE-REHASH-THRESHOLD HASH-TABLE-SIZE
HASH-TABLE-TEST HOST-NAMESTRING IDENTITY IF IGNORABLE IGNORE IGNORE-ERRORS
IMAGPART IMPORT IN-PACKAGE INCF INITIALIZE-INSTANCE INLINE INPUT-STREAM-P
INSPECT INTEGER INTEGER-DECODE-FLOAT INTEGER-LENGTH INTEGERP
INTERACTIVE-STREAM-P INTERN INTERNAL-TIME-UNITS-PER-SECOND INTERSECTION
INVALID-METHOD-ERROR INVOKE-DEBUGGER INVOKE-RESTART
INVOKE-RESTART-INTERACTIVELY ISQRT KEYWORD KEYWORDP LABELS LAMBDA
LAMBDA-LIST-KEYWORDS LAMBDA-PARAMETERS-LIMIT LAST LCM LDB LDB-TEST LDIFF
LEAST-NEGATIVE-DOUBLE-FLOAT LEAST-NEGATIVE-LONG-FLOAT
LEAST-NEGATIVE-NORMALIZED-DOUBLE-FLOAT LEAST-NEGATIVE-NORMALIZED-LONG-FLOAT
LEAST-NEGATIVE-NORMALIZED-SHORT-FLOAT LEAST-NEGATIVE-NORMALIZED-SINGLE-FLOAT
LEAST-NEGATIVE-SHORT-FLOAT LEAST-NEGATIVE-SINGLE-FLOAT
LEAST-POSITIVE-DOUBLE-FLOAT LEAST-POSITIVE-LONG-FLOAT
LEAST-POSITIVE-NORMALIZED-DOUBLE-FLOAT LEAST-POSITIVE-NORMALIZED-LONG-FLOAT
LEAST-POSITIVE-NORMALIZED-SHORT-FLOAT LEAST-POSITIVE-NORMALIZED-SINGLE-FLOAT
LEAST-POSITIVE-SHORT-FLOAT LEAST-POSITIVE-SINGLE-FLOAT LENGTH LET LET*
LISP-IMPLEMENTATION-TYPE LISP-IMPLEMENTATION-VERSION LIST LIST*
LIST-ALL-PACKAGES LIST-LENGTH LISTEN LISTP LOAD
LOAD-LOGICAL-PATHNAME-TRANSLATIONS LOAD-TIME-VALUE LOCALLY LOG LOGAND
LOGANDC1 LOGANDC2 LOGBITP LOGCOUNT LOGEQV LOGICAL-PATHNAME
LOGICAL-PATHNAME-TRANSLATIONS LOGIOR LOGNAND LOGNOR LOGNOT LOGORC1 LOGORC2
LOGTEST LOGXOR LONG-FLOAT LONG-FLOAT-EPSILON LONG-FLOAT-NEGATIVE-EPSILON
LONG-SITE-NAME LOOP LOOP-FINISH LOWER-CASE-P MACHINE-INSTANCE MACHINE-TYPE
MACHINE-VERSION MACRO-FUNCTION MACROEXPAND MACROEXPAND-1 MACROLET MAKE-ARRAY
MAKE-BROADCAST-STREAM MAKE-CONCATENATED-STREAM MAKE-CONDITION
MAKE-DISPATCH-MACRO-CHARACTER MAKE-ECHO-STREAM MAKE-HASH-TABLE MAKE-INSTANCE
MAKE-INSTANCES-OBSOLETE MAKE-LIST MAKE-LOAD-FORM MAKE-LOAD-FORM-SAVING-SLOTS
MAKE-METHOD MAKE-PACKAGE MAKE-PATHNAME MAKE-RANDOM-STATE MAKE-SEQUENCE
MAKE-STRING MAKE-STRING-INPUT-STREAM MAKE-STRING-OUTPUT-STREAM MAKE-SYMBOL
MAKE-SYNONYM-STREAM MAKE-TWO-WAY-STREAM MAKUNBOUND MAP MAP-INTO MAPC MAPCAN
MAPCAR MAPCON MAPHASH MAPL MAPLIST MASK-FIELD MAX MEMBER MEMBER-IF
MEMBER-IF-NOT MERGE MERGE-PATHNAMES METHOD METHOD-COMBINATION
METHOD-COMBINATION-ERROR METHOD-QUALIFIERS MIN MINUSP MISMATCH MOD
MOST-NEGATIVE-DOUBLE-FLOAT MOST-NEGATIVE-FIXNUM MOST-NEGATIVE-LONG-FLOAT
MOST-NEGATIVE-SHORT-FLOAT MOST-NEGATIVE-SINGLE-FLOAT
MOST-POSITIVE-DOUBLE-FLOAT MOST-POSITIVE-FIXNUM MOST-POSITIVE-LONG-FLOAT
MOST-POSITIVE-SHORT-FLOAT MOST-POSITIVE-SINGLE-FLOAT MUFFLE-WARNING
MULTIPLE-VALUE-BIND MULTIPLE-VALUE-CALL MULTIPLE-VALUE-LIST
MULTIPLE-VALUE-PROG1 MULTIPLE-VALUE-SETQ MULTIPLE-VALUES-LIMIT NAME-CHAR
NAMESTRING NBUTLAST NCONC NEXT-METHOD-P NIL NINTERSECTION NINTH
NO-APPLICABLE-METHOD NO-NEXT-METHOD NOT NOTANY NOTEVERY NOTINLINE NRECONC
NREVERSE NSET-DIFFERENCE NSET-EXCLUSIVE-OR NSTRING-CAPITALIZE
NSTRING-DOWNCASE NSTRING-UPCASE NSUBLIS NSUBST NSUBST-IF NSUBST-IF-NOT
NSUBSTITUTE NSUBSTITUTE-IF NSUBSTITUTE-IF-NOT NTH NTH-VALUE NTHCDR NULL
NUMBER NUMBERP NUMERATOR NUNION ODDP OPEN OPEN-STREAM-P OPTIMIZE OR
OTHERWISE OUTPUT-STREAM-P PACKAGE PACKAGE-ERROR PACKAGE-ERROR-PACKAGE
PACKAGE-NAME PACKAGE-NICKNAMES PACKAGE-SHADOWING-SYMBOLS PACKAGE-USE-LIST
PACKAGE-USED-BY-LIST PACKAGEP PAIRLIS PARSE-ERROR PARSE-INTEGER
PARSE-NAMESTRING PATHNAME PATHNAME-DEVICE PATHNAME-DIRECTORY PATHNAME-HOST
PATHNAME-MATCH-P PATHNAME-NAME PATHNAME-TYPE PATHNAME-VERSION PATHNAMEP
PEEK-CHAR PHASE PI PLUSP POP POSITION POSITION-IF POSITION-IF-NOT PPRINT
PPRINT-DISPATCH PPRINT-EXIT-IF-LIST-EXHAUSTED PPRINT-FILL PPRINT-INDENT
PPRINT-LINEAR PPRINT-LOGICAL-BLOCK PPRINT-NEWLINE PPRINT-POP PPRINT-TAB
PPRINT-TABULAR PRIN1 PRIN1-TO-STRING PRINC PRINC-TO-STRING PRINT
PRINT-NOT-READABLE PRINT-NOT-READABLE-OBJECT PRINT-OBJECT
PRINT-UNREADABLE-OBJECT PROBE-FILE PROCLAIM PROG PROG* PROG1 PROG2 PROGN
PROGRAM-ERROR PROGV PROVIDE PSETF PSETQ PUSH PUSHNEW QUOTE RANDOM
RANDOM-STATE RANDOM-STATE-P RASSOC RASSOC-IF RASSOC-IF-NOT RATIO RATIONAL
RATIONALIZE RATIONALP READ READ-BYTE READ-CHAR READ-CHAR-NO-HANG
READ-DELIMITED-LIST READ-FROM-STRING READ-LINE READ-PRESERVING-WHITESPACE
READ-SEQUENCE READER-ERROR READTABLE READTABLE-CASE READTABLEP REAL REALP
REALPART REDUCE REINITIALIZE-INSTANCE REM REMF REMHASH REMOVE
REMOVE-DUPLICATES REMOVE-IF REMOVE-IF-NOT REMOVE-METHOD REMPROP RENAME-FILE
RENAME-PACKAGE REPLACE REQUIRE REST RESTART RESTART-BIND RESTART-CASE
RESTART-NAME RETURN RETURN-FROM REVAPPEND REVERSE ROOM ROTATEF ROUND
ROW-MAJOR-AREF RPLACA RPLACD SAFETY SATISFIES SBIT SCALE-FLOAT SCHAR SEARCH
SECOND SEQUENCE SERIOUS-CONDITION SET SET-DIFFERENCE
SET-DISPATCH-MACRO-CHARACTER SET-EXCLUSIVE-OR SET-MACRO-CHARACTER
SET-PPRINT-DISPATCH SET-SYNTAX-FROM-CHAR SETF SETQ SEVENTH SHADOW
SHADOWING-IMPORT SHARED-INITIALIZE SHIFTF SHORT-FLOAT SHORT-FLOAT-EPSILON
SHORT-FLOAT-NEGATIVE-EPSILON SHORT-SITE-NAME SIGNAL SIGNED-BYTE SIGNUM
SIMPLE-ARRAY SIMPLE-BASE-STRING SIMPLE-BIT-VECTOR SIMPLE-BIT-VECTOR-P
SIMPLE-CONDITION SIMPLE-CONDITION-FORMAT-ARGUMENTS
SIMPLE-CONDITION-FORMAT-CONTROL SIMPLE-ERROR SIMPLE-STRING SIMPLE-STRING-P
SIMPLE-TYPE-ERROR SIMPLE-VECTOR SIMPLE-VECTOR-P SIMPLE-WARNING SIN
SINGLE-FLOAT SINGLE-FLOAT-EPSILON SINGLE-FLOAT-NEGATIVE-EPSILON SINH SIXTH
SLEEP SLOT-BOUNDP SLOT-EXISTS-P SLOT-MAKUNBOUND SLOT-MISSING SLOT-UNBOUND
SLOT-VALUE SOFTWARE-TYPE SOFTWARE-VERSION SOME SORT SPACE SPECIAL
SPECIAL-OPERATOR-P SPEED SQRT STABLE-SORT STANDARD STANDARD-CHAR
STANDARD-CHAR-P STANDARD-CLASS STANDARD-GENERIC-FUNCTION STANDARD-METHOD
STANDARD-OBJECT STEP STORAGE-CONDITION STORE-VALUE STREAM
STREAM-ELEMENT-TYPE STREAM-ERROR STREAM-ERROR-STREAM STREAM-EXTERNAL-FORMAT
STREAMP STRING STRING-CAPITALIZE STRING-DOWNCASE STRING-EQUAL
STRING-GREATERP STRING-LEFT-TRIM STRING-LESSP STRING-NOT-EQUAL
STRING-NOT-GREATERP STRING-NOT-LESSP STRING-RIGHT-TRIM STRING-STREAM
STRING-TRIM STRING-UPCASE STRING/= STRING< STRING<= STRING= STRING> STRING>=
STRINGP STRUCTURE STRUCTURE-CLASS STRUCTURE-OBJECT STYLE-WARNING SUBLIS
SUBSEQ SUBSETP SUBST SUBST-IF SUBST-IF-NOT SUBSTITUTE SUBSTITUTE-IF
SUBSTITUTE-IF-NOT SUBTYPEP SVREF SXHASH SYMBOL SYMBOL-FUNCTION
SYMBOL-MACROLET SYMBOL-NAME SYMBOL-PACKAGE SYMBOL-PLIST SYMBOL-VALUE SYMBOLP
SYNONYM-STREAM SYNONYM-STREAM-SYMBOL T TAGBODY TAILP TAN TANH TENTH TERPRI
THE THIRD THROW TIME TRACE TRANSLATE-LOGICAL-PATHNAME TRANSLATE-PATHNAME
TREE-EQUAL TRUENAME TRUNCATE TWO-WAY-STREAM TWO-WAY-STREAM-INPUT-STREAM
TWO-WAY-STREAM-OUTPUT-STREAM TYPE TYPE-ERROR TYPE-ERROR-DATUM
TYPE-ERROR-EXPECTED-TYPE TYPE-OF TYPECASE TYPEP UNBOUND-SLOT
UNBOUND-SLOT-INSTANCE UNBOUND-VARIABLE UNDEFINED-FUNCTION UNEXPORT UNINTERN
UNION UNLESS UNREAD-CHAR UNSIGNED-BYTE UNTRACE UNUSE-PACKAGE UNWIND-PROTECT
UPDATE-INSTANCE-FOR-DIFFERENT-CLASS UPDATE-INSTANCE-FOR-REDEFINED-CLASS
UPGRADED-ARRAY-ELEMENT-TYPE UPGRADED-COMPLEX-PART-TYPE UPPER-CASE-P
USE-PACKAGE USE-VALUE USER-HOMEDIR-PATHNAME VALUES VALUES-LIST VARIABLE
VECTOR VECTOR-POP VECTOR-PUSH VECTOR-PUSH-EXTEND VECTORP WARN WARNING WHEN
WILD-PATHNAME-P WITH-ACCESSORS WITH-COMPILATION-UNIT WITH-CONDITION-RESTARTS
WITH-HASH-TABLE-ITERATOR WITH-INPUT-FROM-STRING WITH-OPEN-FILE
WITH-OPEN-STREAM WITH-OUTPUT-TO-STRING WITH-PACKAGE-ITERATOR
WITH-SIMPLE-RESTART WITH-SLOTS WITH-STANDARD-IO-SYNTAX WRITE WRITE-BYTE
WRITE-CHAR WRITE-LINE WRITE-SEQUENCE WRITE-STRING WRITE-TO-STRING Y-OR-N-P
YES-OR-NO-P ZEROP
")
      (externals (%package-externals %common-lisp))
      (start nil))
  (dotimes (i (length text))
    (let ((blank (member (char text i) '(#\Space #\Newline))))
      (cond ((and blank start)
             (setf (gethash (intern (subseq text start i)) externals) t)
             (setq start nil))
            ((and (not blank) (null start)) (setq start i))))))

;;; ------------------------------------------------------------------
;;; Symbols and packages

;; Whether SYMBOL is in the symbol table: only the names of uninterned
;; symbols print with #:.
(defun %interned-p (symbol)
  (cond ((null symbol) t)
        ((keywordp symbol) t)
        (t (let ((text (let ((*print-gensym* t) (*print-escape* t))
                         (prin1-to-string symbol))))
             (not (and (> (length text) 1) (char= (char text 0) #\#)
                       (char= (char text 1) #\:)))))))

(defun symbol-package (symbol)
  "The home package of SYMBOL, NIL for an uninterned symbol."
  (unless (symbolp symbol) (error "~S is not a symbol" symbol))
  (cond ((keywordp symbol) %keyword-package)
        ((gethash symbol (%package-externals %common-lisp)) %common-lisp)
        ((not (%interned-p symbol)) nil)
        ((gethash symbol %symbol-homes))
        (t %common-lisp-user)))

;; The symbol named NAME in the table, or NIL and NIL: looked up without
;; making one.
(defun %lookup-symbol (name)
  (if (string= name "NIL")
      (values nil t)
      (dolist (s (apropos-list name) (values nil nil))
        (when (string= (symbol-name s) name) (return (values s t))))))

;; How SYMBOL is accessible in the package P: :EXTERNAL when P exports it,
;; :INTERNAL when it is P's own, :INHERITED when it belongs elsewhere.
(defun %symbol-status (symbol p)
  (cond ((eq p %keyword-package) :external)
        ((gethash symbol (%package-externals p)) :external)
        ((gethash symbol (%package-internals p)) :internal)
        ((eq (symbol-package symbol) p) :internal)
        (t :inherited)))

;; Place SYMBOL in the package P: P becomes its home unless it has one.
;; COMMON-LISP-USER keeps no record: it is the home of every symbol no
;; other package claims.
(defun %place-symbol (symbol p)
  (unless (or (eq p %keyword-package) (eq p %common-lisp-user))
    (unless (%symbol-home-recorded-p symbol)
      (setf (gethash symbol %symbol-homes) p))
    (setf (gethash symbol (%package-internals p)) t)))

(defun %symbol-home-recorded-p (symbol)
  (or (gethash symbol %symbol-homes)
      (gethash symbol (%package-externals %common-lisp))))

(unless (fboundp '%kernel-intern)
  (%set-symbol-function '%kernel-intern (symbol-function 'intern)))

(defun intern (string &optional (package *package*))
  "The symbol named STRING, made when there is none; the second value is
how it is accessible in PACKAGE (:INTERNAL, :EXTERNAL or :INHERITED), or
NIL when it was made now."
  (unless (stringp string) (error "~S is not a string" string))
  (let ((p (%package package)))
    (multiple-value-bind (symbol existed)
        (if (eq p %keyword-package)
            (%kernel-intern string 'keyword)
            (%kernel-intern string))
      (cond (existed (values symbol (%symbol-status symbol p)))
            (t (%place-symbol symbol p)
               (values symbol nil))))))

(defun find-symbol (string &optional (package *package*))
  "The symbol named STRING and how it is accessible in PACKAGE (:INTERNAL,
:EXTERNAL or :INHERITED); NIL and NIL when no symbol has that name."
  (unless (stringp string) (error "~S is not a string" string))
  (let ((p (%package package)))
    (multiple-value-bind (symbol found) (%lookup-symbol string)
      (cond ((not found) (values nil nil))
            ((eq p %keyword-package) (values (%kernel-intern string 'keyword) :external))
            (t (values symbol (%symbol-status symbol p)))))))

(defun find-all-symbols (name)
  "The symbols named NAME: the symbol and the keyword of that name, when
there is one."
  (multiple-value-bind (symbol found) (%lookup-symbol (%designated-string name))
    (if found
        (list symbol (%kernel-intern (symbol-name symbol) 'keyword))
        nil)))

(defun %symbols-of (symbols)
  (dolist (s (%designator-list symbols) (%designator-list symbols))
    (unless (symbolp s) (error "~S is not a symbol" s))))

(defun export (symbols &optional (package *package*))
  "Make the SYMBOLS external in PACKAGE; T."
  (let ((p (%package package)))
    (dolist (s (%symbols-of symbols) t)
      (%place-symbol s p)
      (setf (gethash s (%package-externals p)) t))))

(defun unexport (symbols &optional (package *package*))
  "Make the SYMBOLS internal in PACKAGE again; T."
  (let ((p (%package package)))
    (dolist (s (%symbols-of symbols) t)
      (remhash s (%package-externals p)))))

(defun import (symbols &optional (package *package*))
  "Make the SYMBOLS present in PACKAGE; T."
  (let ((p (%package package)))
    (dolist (s (%symbols-of symbols) t)
      (%place-symbol s p))))

(defun shadowing-import (symbols &optional (package *package*))
  "Import the SYMBOLS into PACKAGE and record them as its shadowing
symbols; T."
  (let ((p (%package package)))
    (dolist (s (%symbols-of symbols) t)
      (%place-symbol s p)
      (pushnew s (%package-shadowing-symbols p)))))

;; With one symbol for each name, shadowing only records the symbol.
(defun shadow (symbol-names &optional (package *package*))
  "Record the symbols of SYMBOL-NAMES as shadowing symbols of PACKAGE; T.
There is one symbol for each name, so nothing is hidden."
  (let ((p (%package package)))
    (dolist (n (%designator-list symbol-names) t)
      (let ((s (intern (%designated-string n) p)))
        (%place-symbol s p)
        (pushnew s (%package-shadowing-symbols p))))))

(unless (fboundp '%kernel-unintern)
  (%set-symbol-function '%kernel-unintern (symbol-function 'unintern)))

(defun unintern (symbol &optional (package *package*))
  "Remove SYMBOL from PACKAGE; when PACKAGE is its home it leaves the
symbol table too.  T when it was there."
  (let ((p (%package package)))
    (remhash symbol (%package-externals p))
    (remhash symbol (%package-internals p))
    (setf (%package-shadowing-symbols p) (remove symbol (%package-shadowing-symbols p)))
    (if (eq (symbol-package symbol) p)
        (progn (remhash symbol %symbol-homes)
               (%kernel-unintern symbol))
        nil)))

(defun use-package (packages-to-use &optional (package *package*))
  "Make PACKAGE use the PACKAGES-TO-USE; T."
  (let ((p (%package package)))
    (dolist (u (%designator-list packages-to-use) t)
      (let ((used (%package u)))
        (when (eq used %keyword-package)
          (error "The package KEYWORD cannot be used"))
        (unless (or (eq used p) (member used (%package-use-list p)))
          (setf (%package-use-list p) (append (%package-use-list p) (list used)))
          (push p (%package-used-by-list used)))))))

(defun unuse-package (packages-to-unuse &optional (package *package*))
  "Make PACKAGE stop using the PACKAGES-TO-UNUSE; T."
  (let ((p (%package package)))
    (dolist (u (%designator-list packages-to-unuse) t)
      (let ((used (%package u)))
        (setf (%package-use-list p) (remove used (%package-use-list p))
              (%package-used-by-list used) (remove p (%package-used-by-list used)))))))

;;; ------------------------------------------------------------------
;;; The symbols of a package

(defun %hash-keys (table)
  (let ((keys nil))
    (maphash (lambda (k v) (declare (ignore v)) (setq keys (cons k keys))) table)
    keys))

;; Every symbol in the table.
(defun %all-symbols ()
  (cons nil (remove nil (apropos-list ""))))

;; The symbols of P of the kinds :EXTERNAL, :INTERNAL and :INHERITED, as
;; a list of (symbol . status).  COMMON-LISP-USER holds, besides what was
;; placed there, every symbol no package has claimed.
(defun %package-entries (p kinds)
  (let ((entries nil)
        (seen (make-hash-table :test 'eq)))
    (flet ((add (symbol status)
             (unless (gethash symbol seen)
               (setf (gethash symbol seen) t)
               (setq entries (cons (cons symbol status) entries)))))
      (cond ((eq p %keyword-package)
             (when (member :external kinds)
               (dolist (s (%all-symbols))
                 (when s (add (%kernel-intern (symbol-name s) 'keyword) :external)))))
            (t
             (when (member :external kinds)
               (dolist (s (%hash-keys (%package-externals p))) (add s :external)))
             (when (member :internal kinds)
               (dolist (s (%hash-keys (%package-internals p)))
                 (unless (gethash s (%package-externals p)) (add s :internal)))
               (when (eq p %common-lisp-user)
                 (dolist (s (%all-symbols))
                   (unless (%symbol-home-recorded-p s) (add s :internal)))))
             (when (member :inherited kinds)
               (dolist (used (%package-use-list p))
                 (dolist (s (%hash-keys (%package-externals used)))
                   (add s :inherited)))))))
    (nreverse entries)))

(defun %package-symbol-list (package kinds)
  (mapcar (function car) (%package-entries (%package package) kinds)))

(defmacro do-symbols ((var &optional (package '*package*) result) &body body)
  "Run BODY with VAR bound to each symbol accessible in PACKAGE, then
return RESULT."
  (list* 'dolist (list var (list '%package-symbol-list package
                                 ''(:external :internal :inherited))
                       result)
         body))

(defmacro do-external-symbols ((var &optional (package '*package*) result) &body body)
  "Run BODY with VAR bound to each external symbol of PACKAGE, then return
RESULT."
  (list* 'dolist (list var (list '%package-symbol-list package ''(:external)) result)
         body))

(defmacro do-all-symbols ((var &optional result) &body body)
  "Run BODY with VAR bound to every symbol, then return RESULT."
  (list* 'dolist (list var '(%all-symbols) result) body))

;; The entries (symbol status package) of WITH-PACKAGE-ITERATOR.
(defun %package-iterator-entries (package-list kinds)
  (let ((out nil))
    (dolist (designator (%designator-list package-list))
      (let ((p (%package designator)))
        (dolist (e (%package-entries p kinds))
          (setq out (cons (list (car e) (cdr e) p) out)))))
    (nreverse out)))

(defmacro with-package-iterator ((name package-list &rest symbol-types) &body body)
  "Run BODY with (NAME) a macro whose each use gives four values: true and
the next symbol of the packages in PACKAGE-LIST of the SYMBOL-TYPES, its
status and its package; NIL when they are all done."
  (let ((entries (gensym)) (entry (gensym)))
    `(let ((,entries (%package-iterator-entries ,package-list ',symbol-types)))
       (macrolet ((,name ()
                    '(let ((,entry (pop ,entries)))
                       (if ,entry
                           (values t (car ,entry) (cadr ,entry) (caddr ,entry))
                           nil))))
         ,@body))))

;;; ------------------------------------------------------------------
;;; DEFPACKAGE and IN-PACKAGE

(defun %define-package (name nicknames use exports imports shadows shadowing-imports interns
                        documentation)
  (let ((p (find-package name)))
    (if p
        (dolist (n nicknames)
          (unless (member n (%package-nicknames p) :test (function string=))
            (when (find-package n)
              (error "A package named ~S exists already" n))
            (setf (%package-nicknames p) (append (%package-nicknames p) (list n)))))
        (setq p (make-package name :nicknames nicknames :use nil)))
    (%note-package-names)
    (when documentation (setf (%package-documentation p) documentation))
    (shadow shadows p)
    (dolist (entry shadowing-imports)
      (let ((from (%package (car entry))))
        (dolist (n (cdr entry))
          (shadowing-import (%existing-symbol n from) p))))
    (use-package use p)
    (dolist (entry imports)
      (let ((from (%package (car entry))))
        (dolist (n (cdr entry))
          (import (%existing-symbol n from) p))))
    (dolist (n interns) (intern n p))
    (dolist (n exports) (export (intern n p) p))
    p))

(defun %existing-symbol (name package)
  (multiple-value-bind (symbol status) (find-symbol name package)
    (unless status
      (error "There is no symbol named ~S in ~S" name package))
    symbol))

(defmacro defpackage (name &rest options)
  "Define the package NAME (or add to it) with the OPTIONS :NICKNAMES,
:USE, :EXPORT, :IMPORT-FROM, :SHADOW, :SHADOWING-IMPORT-FROM, :INTERN,
:DOCUMENTATION and :SIZE."
  (let ((nicknames nil) (use nil) (use-given nil) (exports nil) (imports nil) (shadows nil)
        (shadowing-imports nil) (interns nil) (documentation nil))
    (dolist (option options)
      (unless (and (consp option) (keywordp (car option)))
        (error "~S is not a DEFPACKAGE option" option))
      (let ((names (mapcar (function %designated-string-or-self) (cdr option))))
        (case (car option)
          (:nicknames (setq nicknames (append nicknames names)))
          (:use (setq use (append use names) use-given t))
          (:export (setq exports (append exports names)))
          (:import-from (setq imports (append imports (list names))))
          (:shadow (setq shadows (append shadows names)))
          (:shadowing-import-from
           (setq shadowing-imports (append shadowing-imports (list names))))
          (:intern (setq interns (append interns names)))
          (:documentation (setq documentation (cadr option)))
          ((:size :local-nicknames :lock))
          (t (error "~S is not a DEFPACKAGE option" option)))))
    (list '%define-package (%designated-string name)
          (list 'quote nicknames)
          (list 'quote (if use-given use '("COMMON-LISP")))
          (list 'quote exports) (list 'quote imports) (list 'quote shadows)
          (list 'quote shadowing-imports) (list 'quote interns) documentation)))

(defun %designated-string-or-self (x)
  (if (or (stringp x) (symbolp x) (characterp x)) (%designated-string x) x))

(defmacro in-package (name)
  "Make the package NAME the current package."
  (list 'setq '*package* (list '%package (%designated-string name))))

;;; ------------------------------------------------------------------
;;; Copying symbols

(defun copy-symbol (symbol &optional copy-properties)
  "A new uninterned symbol with the name of SYMBOL; with COPY-PROPERTIES,
also its value, function and a copy of its property list."
  (let ((new (make-symbol (symbol-name symbol))))
    (when copy-properties
      (when (boundp symbol) (set new (symbol-value symbol)))
      (when (fboundp symbol) (%set-symbol-function new (symbol-function symbol)))
      (%set-symbol-plist new (copy-list (symbol-plist symbol))))
    new))
