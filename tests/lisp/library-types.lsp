;;; Types of the library: TYPEP over the standard type names and the
;;; compound specifiers, SUBTYPEP over the lattice, DEFTYPE, TYPE-OF and
;;; COERCE.

;;! needs: (typep 5 '(integer 0 *)) => T

;; Each row: an object and the standard types it must and must not be of.
(defun type-row-failures (object yes no)
  (let ((bad nil))
    (dolist (type yes) (unless (typep object type) (setq bad (cons (list 'not type) bad))))
    (dolist (type no) (when (typep object type) (setq bad (cons type bad))))
    (reverse bad)))

(list
 (type-row-failures 5 '(fixnum integer rational real number atom t (integer 0 5) (mod 6)
                        (unsigned-byte 3) (signed-byte 4) (member 4 5) (eql 5) (or null fixnum))
                    '(bignum float complex symbol list (integer 6 *) (mod 5) (unsigned-byte 2)
                      (signed-byte 3) nil (not integer) (and integer (not fixnum))))
 (type-row-failures 10000000000 '(bignum integer (integer 0 *) (signed-byte 64) (unsigned-byte 63))
                    '(fixnum (signed-byte 32) (integer * 0)))
 (type-row-failures -1 '(fixnum (integer * -1) (integer (-2) (0)) (signed-byte 1))
                    '(unsigned-byte bit (integer 0) (integer (-1) 0)))
 (type-row-failures 1.5 '(float double-float single-float short-float long-float real number
                          (float 1.5 1.5) (float 0 *) (real 1 2) (double-float (1.0) (2.0)))
                    '(integer rational complex (float (1.5)) (float * (1.5)) (real 2) fixnum))
 (type-row-failures #C(1 2) '(complex number (complex integer) (complex *) (complex rational))
                    '(real (complex float) float))
 (type-row-failures #C(1.0 2.0) '(complex (complex float) (complex double-float))
                    '((complex integer))))
=> (NIL NIL NIL NIL NIL NIL)

(list
 (type-row-failures nil '(null symbol list boolean atom sequence (member nil) t)
                    '(cons keyword nil))
 (type-row-failures t '(symbol boolean atom (eql t)) '(null keyword list))
 (type-row-failures :key '(keyword symbol atom) '(null boolean cons))
 (type-row-failures 'foo '(symbol (and symbol (not keyword))) '(keyword boolean))
 (type-row-failures '(1 2) '(cons list sequence (cons integer) (cons t (cons integer null)))
                    '(atom null vector (cons symbol) (cons t (cons symbol))))
 (type-row-failures #\a '(character base-char standard-char string-char)
                    '(extended-char string symbol))
 (type-row-failures (code-char 200) '(character base-char) '(standard-char))
 (type-row-failures (make-char #\a 1) '(character extended-char) '(base-char standard-char)))
=> (NIL NIL NIL NIL NIL NIL NIL NIL)

(list
 (type-row-failures "abc" '(string simple-string base-string simple-base-string vector sequence
                            array simple-array (string 3) (simple-string 3) (vector character)
                            (vector character 3) (array character (3)) (array * 1) pathname)
                    '(simple-vector (string 2) (vector t) list bit-vector (array * 2)))
 (type-row-failures (vector 1 2) '(vector simple-vector sequence array simple-array (vector t)
                                   (vector * 2) (simple-vector 2) (array t (*)) (array * (2)))
                    '(string bit-vector (vector t 3) (vector character) (array * 2)))
 (type-row-failures (vector 0 1 1) '(bit-vector simple-bit-vector (bit-vector 3)) '((bit-vector 2)))
 (type-row-failures (make-array '(2 3)) '(array simple-array (array t (2 3)) (array * 2) (array t (* 3)))
                    '(vector sequence (array t (3 2)) (array * 1) (array character)))
 (type-row-failures (make-hash-table) '(hash-table atom) '(sequence stream))
 (type-row-failures *standard-output* '(stream atom) '(hash-table string))
 (type-row-failures #'car '(function compiled-function atom) '(cons symbol)))
=> (NIL NIL NIL NIL NIL NIL NIL)

;; NIL is the empty type, T the universal one.
(list (typep nil nil) (typep 5 nil) (typep 5 '(or)) (typep 5 '(and)) (typep 5 t)
      (typep 5 '(satisfies oddp)) (typep 4 '(satisfies oddp)))
=> (NIL NIL NIL T T T NIL)

(typep 5 'no-such-type)
!! 4176

;; SUBTYPEP: each row is type1, type2, and the two values expected.
(defun subtype-failures (rows)
  (let ((bad nil))
    (dolist (row rows)
      (multiple-value-call
        (lambda (is sure)
          (unless (and (eq is (nth 2 row)) (eq sure (nth 3 row)))
            (setq bad (cons (list (car row) (cadr row) is sure) bad))))
        (subtypep (car row) (cadr row))))
    (reverse bad)))

(subtype-failures
 '((fixnum integer t t) (bignum integer t t) (integer fixnum nil t) (integer (or fixnum bignum) t t)
   (fixnum real t t) (fixnum number t t) (integer rational t t) (rational integer t t)
   (float real t t) (real float nil t) (double-float single-float t t) (complex real nil t)
   (bit (unsigned-byte 1) t t) ((unsigned-byte 8) (unsigned-byte 16) t t)
   ((unsigned-byte 16) (unsigned-byte 8) nil t) ((unsigned-byte 8) (signed-byte 9) t t)
   ((unsigned-byte 8) fixnum t t) ((mod 256) (unsigned-byte 8) t t) ((integer 0 10) (mod 10) nil t)
   ((integer 1 5) (or (integer 1 2) (integer 3 5)) t t) ((integer 1 5) (or (integer 1 2) (integer 4 5)) nil t)
   ((float 0 1) (real 0 1) t t) ((float 0 1) (float (0) 1) nil t) ((float (0) 1) (float 0 1) t t)
   ((real 0 10) (or (integer 0 10) (float 0 10)) t t) ((member 1 2 3) (integer 0 3) t t)
   ((member 1 a) integer nil t) ((eql a) symbol t t) (null list t t) (null symbol t t)
   (list sequence t t) (string vector t t) (vector string nil t) (simple-string string t t)
   (string simple-string nil t) (vector array t t) (array vector nil t) (keyword symbol t t)
   (symbol keyword nil t) (boolean symbol t t) (standard-char character t t) (character base-char nil t)
   (cons atom nil t) (atom (not cons) t t) ((not cons) atom t t) (hash-table atom t t)
   ((and integer (not fixnum)) bignum t t) ((or fixnum bignum) integer t t) (nil integer t t)
   (integer t t t) (t integer nil t) (bit-vector vector t t) ((vector t) simple-vector nil t)
   ((satisfies evenp) integer nil nil) (integer (satisfies evenp) nil nil)
   (standard-class class t t) (class standard-object t t) (standard-object class nil t)))
=> NIL

;; DEFTYPE: optional parameters default to *, and expansions may use any
;; specifier; SUBTYPEP looks through them.
(deftype small-count () '(integer 0 *))
(deftype pair (&optional (element '*)) (list 'cons element (list 'cons element 'null)))
(deftype vec (&optional length) (list 'vector t length))

(list (typep 5 'small-count) (typep -5 'small-count) (typep '(1 2) '(pair integer))
      (typep '(1 a) '(pair integer)) (typep '(1 a) 'pair) (typep (vector 1 2) '(vec 2))
      (typep (vector 1 2) 'vec) (typep (vector 1 2) '(vec 3)))
=> (T NIL T NIL T T T NIL)

(multiple-value-call #'list (subtypep 'small-count 'unsigned-byte) (subtypep 'small-count 'fixnum)
                     (subtypep '(vec 2) 'vector))
=> (T T NIL T T T)

;; Structures keep their place: instances are atoms and structure objects.
(defstruct shape name)
(defstruct (circle (:include shape)) radius)

(list (typep (make-circle) 'shape) (typep (make-shape) 'circle) (typep (make-circle) 'atom)
      (typep (make-circle) 'structure-object) (typep (make-circle) '(or null shape)))
=> (T NIL T T T)

(multiple-value-call #'list (subtypep 'circle 'shape) (subtypep 'shape 'circle)
                     (subtypep 'circle 'structure-object) (subtypep 'circle 'atom)
                     (subtypep 'circle 'integer))
=> (T T NIL T T T T T NIL T)

;; TYPE-OF answers standard names (plain characters included).
(list (type-of 1) (type-of 10000000000) (type-of 1.5) (type-of #\a) (type-of "x")
      (type-of (vector 1)) (type-of :k) (type-of t) (type-of nil) (type-of 'x)
      (type-of (make-hash-table)) (type-of #'car) (type-of '(1)) (type-of (make-circle))
      (type-of #C(1 2)))
=> (FIXNUM BIGNUM FLOAT CHARACTER STRING VECTOR SYMBOL SYMBOL NULL SYMBOL HASH-TABLE COMPILED-FUNCTION CONS CIRCLE COMPLEX)

;; Every object is of the type TYPE-OF names.
(let ((objects (list 1 10000000000 1.5 #\a "x" (vector 1) :k t nil 'x (make-hash-table)
                     #'car '(1) (make-circle) #C(1 2) *standard-output*)))
  (remove-if (lambda (x) (typep x (type-of x))) objects))
=> NIL

;; COERCE: numbers, sequences, characters, functions.
(list (coerce 1 'float) (coerce 2 'double-float) (coerce 5 'real) (coerce '(1 2) 'vector)
      (coerce '(1 2) '(vector t)) (coerce '(1 2) 'simple-vector) (coerce "ab" 'list)
      (coerce #(#\a #\b) 'string) (coerce '(#\a) 'simple-string) (coerce "a" 'character)
      (coerce 'x 'symbol) (coerce '(1) 'sequence) (coerce 3 t))
=> (1.0 2.0 5 #(1 2) #(1 2) #(1 2) (#\a #\b) "ab" "a" #\a X (1) 3)

(list (funcall (coerce 'car 'function) '(1 2)) (funcall (coerce '(lambda (x) (* x 2)) 'function) 4))
=> (1 8)

(coerce '(1 2) 'string)
!! 5170

(list (upgraded-array-element-type 'standard-char) (upgraded-array-element-type 'fixnum))
=> (CHARACTER T)
