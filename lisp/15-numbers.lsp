;;;; Numbers beyond the built-ins.
;;;;
;;;; The number system has fixnums (24 bits), integers of any size beyond
;;;; them (64-bit integers and bignums, all exact), double floats and
;;;; complex numbers, and no ratios.  A division that does not come out
;;;; even gives a double float, so (expt 2 -1) is 0.5.  RATIONALP is
;;;; INTEGERP, and every float type is the double float: the SHORT-,
;;;; SINGLE- and LONG-FLOAT constants equal the DOUBLE-FLOAT ones.
;;;;
;;;; The kernel's logical operations, with any number of arguments or two,
;;;; see every bit of integers of any size, negative ones as infinite
;;;; two's complement.

;;; ---------------------------------------------------------------------
;;; Constants

(defconstant most-positive-fixnum 8388607)
(defconstant most-negative-fixnum -8388608)

(defconstant pi (* 4 (atan 1.0)))

;; Built from powers of two: the reader does not take denormal numbers.
(defconstant most-positive-double-float
  (* (- 2 (%expt-float 2 -52)) (%expt-float 2 1023)))
(defconstant most-negative-double-float (- most-positive-double-float))
(defconstant least-positive-double-float (%expt-float 2 -1074))
(defconstant least-negative-double-float (- least-positive-double-float))
(defconstant least-positive-normalized-double-float (%expt-float 2 -1022))
(defconstant least-negative-normalized-double-float
  (- least-positive-normalized-double-float))
;; The least e for which (+ 1 e) and (- 1 e) differ from 1.
(defconstant double-float-epsilon
  (* (%expt-float 2 -53) (+ 1 (%expt-float 2 -52))))
(defconstant double-float-negative-epsilon
  (* (%expt-float 2 -54) (+ 1 (%expt-float 2 -52))))

(defconstant most-positive-short-float most-positive-double-float)
(defconstant most-negative-short-float most-negative-double-float)
(defconstant least-positive-short-float least-positive-double-float)
(defconstant least-negative-short-float least-negative-double-float)
(defconstant short-float-epsilon double-float-epsilon)
(defconstant short-float-negative-epsilon double-float-negative-epsilon)
(defconstant most-positive-single-float most-positive-double-float)
(defconstant most-negative-single-float most-negative-double-float)
(defconstant least-positive-single-float least-positive-double-float)
(defconstant least-negative-single-float least-negative-double-float)
(defconstant least-positive-normalized-single-float
  least-positive-normalized-double-float)
(defconstant least-negative-normalized-single-float
  least-negative-normalized-double-float)
(defconstant single-float-epsilon double-float-epsilon)
(defconstant single-float-negative-epsilon double-float-negative-epsilon)
(defconstant most-positive-long-float most-positive-double-float)
(defconstant most-negative-long-float most-negative-double-float)
(defconstant least-positive-long-float least-positive-double-float)
(defconstant least-negative-long-float least-negative-double-float)
(defconstant least-positive-normalized-long-float
  least-positive-normalized-double-float)
(defconstant least-negative-normalized-long-float
  least-negative-normalized-double-float)
(defconstant long-float-epsilon double-float-epsilon)
(defconstant long-float-negative-epsilon double-float-negative-epsilon)

;;; ---------------------------------------------------------------------
;;; Predicates

(defun realp (object)
  (if (or (integerp object) (floatp object)) t nil))

;; Without ratios the rationals are the integers.
(%set-symbol-function 'rationalp (symbol-function 'integerp))

(defun numerator (rational)
  (%seq-check (integerp rational) rational "a rational number")
  rational)

(defun denominator (rational)
  (%seq-check (integerp rational) rational "a rational number")
  1)

;;; ---------------------------------------------------------------------
;;; Parts of numbers: the standard functions take reals as well

(unless (fboundp '%kernel-realpart)
  (%set-symbol-function '%kernel-realpart (symbol-function 'realpart))
  (%set-symbol-function '%kernel-imagpart (symbol-function 'imagpart))
  (%set-symbol-function '%kernel-phase (symbol-function 'phase))
  (%set-symbol-function '%kernel-float (symbol-function 'float)))

(defun realpart (number)
  (cond ((complexp number) (%kernel-realpart number))
        (t (%seq-check (realp number) number "a number")
           number)))

(defun imagpart (number)
  (cond ((complexp number) (%kernel-imagpart number))
        (t (%seq-check (realp number) number "a number")
           (* 0 number))))

;; The angle of a real is that of the point (x, 0): 0.0 or pi (pi for -0.0
;; too).
(defun phase (number)
  (cond ((complexp number) (%kernel-phase number))
        (t (%seq-check (realp number) number "a number")
           (atan 0.0 (%kernel-float number)))))

;; Every float is a double, so the prototype only has to be a float.
(defun float (number &optional (prototype nil prototype-p))
  (when prototype-p
    (%seq-check (floatp prototype) prototype "a float"))
  (%kernel-float number))

;;; ---------------------------------------------------------------------
;;; Divisors and multiples

(defun gcd (&rest integers)
  (let ((g 0))
    (dolist (n integers g)
      (%seq-check (integerp n) n "an integer")
      (let ((a (abs g)) (b (abs n)))
        (do () ((= b 0) (setq g a))
          (psetq a b b (rem a b)))))))

(defun lcm (&rest integers)
  (let ((m 1))
    (dolist (n integers m)
      (%seq-check (integerp n) n "an integer")
      (setq m (if (or (= m 0) (= n 0))
                  0
                  (let ((a (abs m)) (b (abs n)))
                    (* a (truncate b (gcd a b)))))))))

;; The remainder of FLOOR: it has the sign of the divisor.  Built on REM,
;; whose float case has no limit on the size of the quotient.
(defun mod (number divisor)
  (let ((r (rem number divisor)))
    (if (and (/= r 0)
             (if (minusp divisor) (plusp r) (minusp r)))
        (+ r divisor)
        r)))

(defun signum (number)
  (cond ((integerp number)
         (cond ((plusp number) 1) ((minusp number) -1) (t 0)))
        ((floatp number)
         ;; zeros (-0.0 too) and NaN are their own sign
         (cond ((plusp number) 1.0) ((minusp number) -1.0) (t number)))
        (t
         (%seq-check (complexp number) number "a number")
         (if (zerop number) number (/ number (abs number))))))

;;; ---------------------------------------------------------------------
;;; Rounding to floats

;; FLOOR and its kin give an integer quotient, and refuse one beyond 64
;; bits; a double quotient of 2^52 or more is integral already and is kept
;; as it is.  A zero quotient keeps the sign of the true one.
(defun %float-rounding (function number divisor)
  (if (or (floatp number) (floatp divisor))
      (let ((q (/ (%kernel-float number) divisor)))
        (if (not (< (abs q) 4503599627370496.0))
            (values q (- number (* q divisor)))
            (multiple-value-bind (i r) (funcall function number divisor)
              (values (if (and (= i 0) (minusp q)) -0.0 (%kernel-float i))
                      r))))
      (multiple-value-bind (i r) (funcall function number divisor)
        (values (%kernel-float i) r))))

(defun ffloor (number &optional (divisor 1))
  (%float-rounding (function floor) number divisor))

(defun fceiling (number &optional (divisor 1))
  (%float-rounding (function ceiling) number divisor))

(defun ftruncate (number &optional (divisor 1))
  (%float-rounding (function truncate) number divisor))

(defun fround (number &optional (divisor 1))
  (%float-rounding (function round) number divisor))

;;; ---------------------------------------------------------------------
;;; Powers

;; BASE to the power N, an integer of at least 0, by repeated squaring:
;; exact for integers and integer complex numbers.
(defun %expt-integer (base n)
  (let ((result 1))
    (do ()
        ((= n 0) result)
      (when (oddp n) (setq result (* result base)))
      (setq n (ash n -1))
      (when (> n 0) (setq base (* base base))))))

;; An integer power of an integer of more than 8388608 bits is refused
;; before any work, like a shift that long; 0, 1 and -1 have every power.
(defun %check-power-size (base power)
  (when (and (integerp base) (> (abs base) 1)
             (or (> power 8388608)
                 (> (1+ (floor (* power (log (abs base) 2)))) 8388608)))
    (error "EXPT: an integer of ~D bits to the power ~D would have more than 8388608 bits"
           (integer-length base) power)))

(defun %real-part (z) (if (complexp z) (%kernel-realpart z) z))
(defun %imag-part (z) (if (complexp z) (%kernel-imagpart z) 0))

;; e to the power Z and the principal logarithm of Z, for any number Z.
(defun %complex-exp (z)
  (let ((m (exp (%real-part z)))
        (a (%imag-part z)))
    (complex (* m (cos a)) (* m (sin a)))))

(defun %complex-log (z)
  (complex (log (abs z)) (phase z)))

(defun expt (base power)
  (%seq-check (numberp base) base "a number")
  (%seq-check (numberp power) power "a number")
  (cond ((integerp power)
         (cond ((floatp base) (%expt-float base power))
               ((not (minusp power))
                (%check-power-size base power)
                (%expt-integer base power))
               ;; 1/b^n is no integer for |b| > 1: a double, computed as one
               ;; while b is a double too
               ((and (integerp base) (> (abs base) 1) (< (integer-length base) 1000))
                (%expt-float base power))
               (t
                (%check-power-size base (- power))
                (/ 1 (%expt-integer base (- power))))))
        ;; a zero power of another type gives one of the arguments' type
        ((zerop power) (if (and (realp base) (realp power)) 1.0 #C(1.0 0.0)))
        ((zerop base)
         (if (plusp (%real-part power))
             (* base power)
             (error "~S cannot be raised to the power ~S" base power)))
        ((and (realp base) (realp power)
              (or (plusp base) (= power (ffloor power))))
         (%expt-float base power))
        (t (%complex-exp (* power (%complex-log base))))))

;;; ---------------------------------------------------------------------
;;; More functions of reals and complex numbers

(defun cis (radians)
  (%seq-check (realp radians) radians "a real number")
  (complex (cos radians) (sin radians)))

(defun asinh (number)
  (log (+ number (sqrt (+ (* number number) 1)))))

(defun acosh (number)
  (log (+ number (sqrt (- (* number number) 1)))))

(defun atanh (number)
  (* 0.5 (log (/ (+ 1 number) (- 1 number)))))

;;; ---------------------------------------------------------------------
;;; Floats

(defun float-radix (float)
  (%seq-check (floatp float) float "a float")
  2)

(defun float-digits (float)
  (%seq-check (floatp float) float "a float")
  53)

;; The significant bits: 53 for a normal double, fewer for a denormal one.
(defun float-precision (float)
  (%seq-check (floatp float) float "a float")
  (if (= float 0)
      0
      (multiple-value-bind (s e) (%decode-exponent float)
        (if (>= e -1021) 53 (- 53 (- -1021 e))))))

(defun float-sign (float1 &optional (float2 1.0 float2-p))
  (%seq-check (floatp float1) float1 "a float")
  (when float2-p (%seq-check (floatp float2) float2 "a float"))
  (let ((magnitude (abs float2)))
    (if (or (minusp float1)
            (and (= float1 0) (minusp (/ 1 float1))))
        (- magnitude)
        magnitude)))

;; Significand s and exponent e of a finite nonzero double x, with
;; |x| = s * 2^e and 0.5 <= s < 1, corrected by halving or doubling from
;; a first guess.  The guess is kept to -1073 .. 1024, and x is divided by
;; 2^(e-1) and then by 2, so that every power of two used is a finite
;; nonzero double, from the least denormal to the greatest double.
(defun %decode-exponent (x)
  (let* ((a (abs x))
         (e (max -1073 (min 1024 (1+ (floor (log a 2))))))
         (s (/ (/ a (%expt-float 2 (1- e))) 2)))
    (do () ((< s 1.0)) (setq s (/ s 2) e (1+ e)))
    (do () ((>= s 0.5)) (setq s (* s 2) e (1- e)))
    (values s e)))

(defun decode-float (float)
  (%seq-check (floatp float) float "a float")
  (if (= float 0)
      (values 0.0 0 (float-sign float))
      (multiple-value-bind (s e) (%decode-exponent float)
        (values s e (if (minusp float) -1.0 1.0)))))

(defun integer-decode-float (float)
  (%seq-check (floatp float) float "a float")
  (if (= float 0)
      (values 0 0 (if (minusp (float-sign float)) -1 1))
      (multiple-value-bind (s e) (%decode-exponent float)
        (values (truncate (* s 9007199254740992.0)) (- e 53)
                (if (minusp float) -1 1)))))

(defun scale-float (float integer)
  (%seq-check (floatp float) float "a float")
  (%seq-check (integerp integer) integer "an integer")
  (* float (%expt-float 2 integer)))

;;; ---------------------------------------------------------------------
;;; Bits

;; Integers of any size, negative ones as infinite two's complement.
(defun logtest (integer1 integer2)
  (not (zerop (logand integer1 integer2))))

(defconstant boole-clr 0)
(defconstant boole-set 1)
(defconstant boole-1 2)
(defconstant boole-2 3)
(defconstant boole-c1 4)
(defconstant boole-c2 5)
(defconstant boole-and 6)
(defconstant boole-ior 7)
(defconstant boole-xor 8)
(defconstant boole-eqv 9)
(defconstant boole-nand 10)
(defconstant boole-nor 11)
(defconstant boole-andc1 12)
(defconstant boole-andc2 13)
(defconstant boole-orc1 14)
(defconstant boole-orc2 15)

(defun boole (op integer1 integer2)
  (%seq-check (integerp integer1) integer1 "an integer")
  (%seq-check (integerp integer2) integer2 "an integer")
  (let ((a integer1) (b integer2))
    (case op
      (0 0)
      (1 -1)
      (2 a)
      (3 b)
      (4 (lognot a))
      (5 (lognot b))
      (6 (logand a b))
      (7 (logior a b))
      (8 (logxor a b))
      (9 (logeqv a b))
      (10 (lognand a b))
      (11 (lognor a b))
      (12 (logandc1 a b))
      (13 (logandc2 a b))
      (14 (logorc1 a b))
      (15 (logorc2 a b))
      (t (error "~S is not a BOOLE operation" op)))))

;; Byte specifiers are (size . position).
(defun byte (size position)
  (%seq-check (and (integerp size) (>= size 0)) size "a valid byte size")
  (%seq-check (and (integerp position) (>= position 0)) position
              "a valid byte position")
  (cons size position))

(defun byte-size (bytespec) (car bytespec))
(defun byte-position (bytespec) (cdr bytespec))

;; The mask of SIZE low bits.
(defun %byte-mask (size)
  (1- (ash 1 size)))

;; A non-negative integer that has no more bits than the byte is its own
;; field, however wide the byte: no mask is built for it.
(defun ldb (bytespec integer)
  (let ((size (car bytespec))
        (shifted (ash integer (- (cdr bytespec)))))
    (if (and (>= shifted 0) (<= (integer-length shifted) size))
        shifted
        (logand shifted (%byte-mask size)))))

(defun ldb-test (bytespec integer)
  (/= 0 (ldb bytespec integer)))

(defun mask-field (bytespec integer)
  (ash (ldb bytespec integer) (cdr bytespec)))

(defun dpb (newbyte bytespec integer)
  (let ((mask (ash (%byte-mask (car bytespec)) (cdr bytespec))))
    (logior (logandc2 integer mask)
            (logand (ash newbyte (cdr bytespec)) mask))))

(defun deposit-field (newbyte bytespec integer)
  (let ((mask (ash (%byte-mask (car bytespec)) (cdr bytespec))))
    (logior (logandc2 integer mask)
            (logand newbyte mask))))
