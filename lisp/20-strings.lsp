;;;; Characters and strings beyond the built-ins: digit weights, integer
;;;; parsing, case conversion by words and in place, reading from and
;;;; printing to strings.
;;;;
;;;; Written with the kernel's special forms and built-ins only, so that it
;;;; does not depend on the order of the library files before it.

;;; ------------------------------------------------------------------
;;; Characters

(%set-symbol-function 'schar (symbol-function 'char))

(defun digit-char-p (char &optional (radix 10))
  "The weight of CHAR as a digit in RADIX, or NIL when it is not one."
  (when (%digit-char-p char radix)
    (let ((code (char-code char)))
      (cond ((<= 48 code 57) (- code 48))
            ((<= 65 code 90) (- code 55))
            (t (- code 87))))))

(defun standard-char-p (char)
  "True for the 96 standard characters: the printing ASCII ones and newline."
  (let ((code (char-code char)))
    (and (%string-char-type-p char)
         (or (= code 10) (<= 32 code 126)))))

;; Ordering ignoring case: every neighbouring pair must pass TEST on the
;; upcased codes.
(defun %char-order-ignoring-case (test chars)
  (do ((rest chars (cdr rest)))
      ((null (cdr rest)) t)
    (unless (funcall test (char-code (char-upcase (car rest)))
                     (char-code (char-upcase (cadr rest))))
      (return nil))))

(defun char-lessp (char &rest more)
  (%char-order-ignoring-case #'< (cons char more)))
(defun char-greaterp (char &rest more)
  (%char-order-ignoring-case #'> (cons char more)))
(defun char-not-greaterp (char &rest more)
  (%char-order-ignoring-case #'<= (cons char more)))
(defun char-not-lessp (char &rest more)
  (%char-order-ignoring-case #'>= (cons char more)))

(defun char-not-equal (char &rest more)
  "True when no two of the characters are equal ignoring case."
  (block check
    (do ((rest (cons char more) (cdr rest)))
        ((null rest) t)
      (dolist (other (cdr rest))
        (when (char-equal (car rest) other)
          (return-from check nil))))))

;;; ------------------------------------------------------------------
;;; Making strings: the element type must be a type of characters.

(unless (fboundp '%kernel-make-string)
  (%set-symbol-function '%kernel-make-string (symbol-function 'make-string)))

(defun make-string (size &key (initial-element #\Space) (element-type 'character))
  "A new string of SIZE characters, each INITIAL-ELEMENT (a space when
none is given).  ELEMENT-TYPE must be a type of characters."
  (unless (%character-type-p element-type)
    (error "~S is not a type of characters" element-type))
  (%kernel-make-string size :initial-element initial-element))

;;; ------------------------------------------------------------------
;;; Ranges of a string

;; The end of the range START..END of STRING (END NIL meaning its
;; length), after checking both bounds.
(defun %string-range-end (string start end)
  (let ((length (length string)))
    (unless (and (integerp start) (<= 0 start length))
      (error "The start index ~S is not within the string ~S" start string))
    (cond ((null end) length)
          ((not (and (integerp end) (<= end length)))
           (error "The end index ~S is not within the string ~S" end string))
          ((< end start)
           (error "The end index ~S is below the start index ~S" end start))
          (t end))))

;;; ------------------------------------------------------------------
;;; Case conversion
;;;
;;; The kernel's STRING-CAPITALIZE treats its whole range as one word; the
;;; standard one starts every word with a capital.  A word is a run of
;;; letters and digits.

(unless (fboundp '%string-capitalize-range)
  (%set-symbol-function '%string-capitalize-range (symbol-function 'string-capitalize)))

(defun nstring-upcase (string &key (start 0) end)
  "Upcase the characters of STRING between START and END in place."
  (let ((end (%string-range-end string start end)))
    (do ((i start (1+ i)))
        ((>= i end) string)
      (%set-char string i (char-upcase (char string i))))))

(defun nstring-downcase (string &key (start 0) end)
  "Downcase the characters of STRING between START and END in place."
  (let ((end (%string-range-end string start end)))
    (do ((i start (1+ i)))
        ((>= i end) string)
      (%set-char string i (char-downcase (char string i))))))

(defun nstring-capitalize (string &key (start 0) end)
  "Capitalize every word of STRING between START and END in place."
  (let ((end (%string-range-end string start end))
        (in-word nil))
    (do ((i start (1+ i)))
        ((>= i end) string)
      (let ((c (char string i)))
        (cond ((not (alphanumericp c)) (setq in-word nil))
              (in-word (%set-char string i (char-downcase c)))
              (t (%set-char string i (char-upcase c))
                 (setq in-word t)))))))

(defun string-capitalize (string &key (start 0) end)
  "A copy of the string designated by STRING with every word between START
and END capitalized: its first character upcased, the rest downcased."
  (nstring-capitalize (copy-seq (string string)) :start start :end end))

;;; ------------------------------------------------------------------
;;; Trimming: the bag may be any sequence of characters.

(unless (fboundp '%string-trim)
  (%set-symbol-function '%string-trim (symbol-function 'string-trim)))
(unless (fboundp '%string-left-trim)
  (%set-symbol-function '%string-left-trim (symbol-function 'string-left-trim)))
(unless (fboundp '%string-right-trim)
  (%set-symbol-function '%string-right-trim (symbol-function 'string-right-trim)))

;; NIL as a bag is the empty sequence, not the name "NIL".
(defun %bag-string (bag)
  (if (or (listp bag) (and (vectorp bag) (not (stringp bag))))
      (coerce bag 'string)
      bag))

(defun string-trim (bag string)
  "STRING without the characters of BAG at either end."
  (%string-trim (%bag-string bag) string))
(defun string-left-trim (bag string)
  "STRING without the characters of BAG at its start."
  (%string-left-trim (%bag-string bag) string))
(defun string-right-trim (bag string)
  "STRING without the characters of BAG at its end."
  (%string-right-trim (%bag-string bag) string))

;;; ------------------------------------------------------------------
;;; Parsing integers

(defun %whitespace-char-p (char)
  (let ((code (char-code char)))
    (or (= code 32) (<= 9 code 13))))

(defun parse-integer (string &key (start 0) end (radix 10) junk-allowed)
  "Read an integer in RADIX from STRING between START and END.  Returns the
integer (NIL when JUNK-ALLOWED and there is none) and the index where
parsing stopped.  Without JUNK-ALLOWED only white space may surround it."
  (unless (stringp string)
    (error "PARSE-INTEGER needs a string, not ~S" string))
  (unless (and (integerp radix) (<= 2 radix 36))
    (error "The radix ~S is not an integer from 2 to 36" radix))
  (let* ((end (%string-range-end string start end))
         (i start)
         (negative nil)
         ;; Integers have any size: the digits are collected in chunks
         ;; that stay fixnums, folded into the value a chunk at a time.
         (value 0)
         (digits 0))
    (do () ((or (>= i end) (not (%whitespace-char-p (char string i)))))
      (setq i (1+ i)))
    (when (< i end)
      (let ((c (char string i)))
        (cond ((char= c #\-) (setq negative t i (1+ i)))
              ((char= c #\+) (setq i (1+ i))))))
    (do ((weight nil) (chunk 0) (scale 1))
        (nil)
      (setq weight (if (< i end) (digit-char-p (char string i) radix) nil))
      (when (or (null weight) (> (* scale radix) 4194304))
        (setq value (+ (* value scale) chunk) chunk 0 scale 1))
      (unless weight (return))
      (setq chunk (+ (* chunk radix) weight)
            scale (* scale radix)
            digits (1+ digits)
            i (1+ i)))
    (when negative (setq value (- value)))
    (cond (junk-allowed
           (values (if (> digits 0) value nil) i))
          (t
           (do () ((or (>= i end) (not (%whitespace-char-p (char string i)))))
             (setq i (1+ i)))
           (when (or (= digits 0) (< i end))
             (error "~S is not an integer in radix ~D"
                    (subseq string start end) radix))
           (values value i)))))

;;; ------------------------------------------------------------------
;;; Reading from and printing to strings

(defun read-from-string (string &optional (eof-error-p t) eof-value
                                &key (start 0) end preserve-whitespace)
  "Read one object from STRING between START and END.  Returns the object
(EOF-VALUE at the end when EOF-ERROR-P is NIL) and the index of the first
character not read."
  (let ((stream (make-string-input-stream string start
                                          (%string-range-end string start end))))
    (values (if preserve-whitespace
                (read-preserving-whitespace stream eof-error-p eof-value)
                (read stream eof-error-p eof-value))
            (%stream-position stream))))

(defun princ-to-string (object)
  "The text PRINC would write for OBJECT."
  (write-to-string object :escape nil))

(defun prin1-to-string (object)
  "The text PRIN1 would write for OBJECT."
  (write-to-string object :escape t))
