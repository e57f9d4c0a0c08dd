;;; Integers beyond 64 bits: factorials, printing and reading in every base,
;;; both 64-bit boundaries, the signs of the divisions, bit operations
;;; against their identities, square roots, contagion with doubles, hash
;;; tables, types, FORMAT and the limits.

(defmacro signals (form)
  (list 'multiple-value-call '(lambda (value failure) (if failure 'error value))
        (list '%catch-error form)))

(defun fact (n)
  (let ((r 1))
    (dotimes (i n r) (setq r (* r (1+ i))))))

;; Digits, trailing zeros, and the last digit before them.
(defun digits-profile (n)
  (let ((z (do ((k 0 (1+ k)) (m n (truncate m 10))) ((/= 0 (rem m 10)) k))))
    (list (length (prin1-to-string n)) z (rem (truncate n (expt 10 z)) 10))))

;; ---------------------------------------------------------------------
;; Factorials

(list (fact 20) (fact 21) (fact 25))
=> (2432902008176640000 51090942171709440000 15511210043330985984000000)

(list (digits-profile (fact 100)) (digits-profile (fact 1000)) (digits-profile (fact 3000)))
=> ((158 24 4) (2568 249 2) (9131 748 6))

;; Dividing back down ends in the fixnum 1.
(let ((f (fact 200)))
  (dotimes (i 200) (setq f (/ f (- 200 i))))
  (list f (type-of f)))
=> (1 FIXNUM)

;; ---------------------------------------------------------------------
;; Printing in bases 2, 10 and 16, and reading back

(expt 2 200)
=> 1606938044258990275541962092341162602522202993782792835301376

(let ((*print-base* 2)) (prin1-to-string (expt 2 200)))
=> "100000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"

(let ((*print-base* 16)) (prin1-to-string (expt 2 200)))
=> "100000000000000000000000000000000000000000000000000"

(let ((*print-base* 16) (*print-radix* t))
  (list (prin1-to-string (- (expt 2 100))) (prin1-to-string (1- (expt 16 20)))))
=> ("#x-10000000000000000000000000" "#xffffffffffffffffffff")

(let ((*print-radix* t))
  (list (prin1-to-string (expt 7 50))
        (let ((*print-base* 36)) (prin1-to-string (expt 7 50)))
        (let ((*print-base* 8)) (prin1-to-string (- (expt 2 66))))))
=> ("1798465042647412146620280340569649349251249." "#36r1pt1quqk9sm1xdxy18bb47frnkxd" "#o-10000000000000000000000")

;; Round trips in every base, for numbers on both sides of both 64-bit
;; boundaries (the 132-character token limit bounds them in base 2).
(let ((numbers (list (expt 2 63) (1- (expt 2 63)) (- (expt 2 63)) (- -1 (expt 2 63))
                     (expt 2 64) (1- (expt 2 64)) (- (expt 3 80)) (expt 3 80))))
  (dotimes (b 35 t)
    (dolist (x numbers)
      (let ((*print-base* (+ b 2)) (*print-radix* t))
        (unless (eql x (read-from-string (prin1-to-string x)))
          (return-from nil (list (+ b 2) x)))))))
=> T

(let ((x (- (fact 70))))
  (list (= x (read-from-string (prin1-to-string x)))
        (= x (read-from-string (princ-to-string x)))))
=> (T T)

;; The reader: tokens of any length up to the token limit, radix syntax.
(list #x10000000000000000 #b-10000000000000000000000000000000000000000000000000000000000000000
      #o2000000000000000000000 #36rZZZZZZZZZZZZZZ #3r-1000000000000000000000000000000000000000000
      +18446744073709551616. -000000000000000000000000000000000000000000009223372036854775809)
=> (18446744073709551616 -18446744073709551616 18446744073709551616 6140942214464815497215 -109418989131512359209 18446744073709551616 -9223372036854775809)

(length (prin1-to-string (read-from-string (make-string 130 :initial-element #\9))))
=> 130

(type-of (read-from-string (make-string 99 :initial-element #\1)))
=> BIGNUM

;; Longer numbers come from arithmetic or PARSE-INTEGER, in any radix.
(let ((s (prin1-to-string (fact 500))))
  (list (length s) (= (parse-integer s) (fact 500))
        (parse-integer "  -ffffffffffffffffffff  " :radix 16)
        (multiple-value-list (parse-integer "123456789012345678901234567890xyz" :junk-allowed t))))
=> (1135 T -1208925819614629174706175 (123456789012345678901234567890 30))

;; ---------------------------------------------------------------------
;; The 64-bit boundaries: every operation across them in both directions,
;; and back to fixnums.

(list (+ 9223372036854775807 1) (- 9223372036854775808 1) (- -9223372036854775808 1)
      (+ -9223372036854775809 1) (1+ 9223372036854775807) (1- 9223372036854775808)
      (1- -9223372036854775808) (1+ -9223372036854775809))
=> (9223372036854775808 9223372036854775807 -9223372036854775809 -9223372036854775808 9223372036854775808 9223372036854775807 -9223372036854775809 -9223372036854775808)

(list (- (expt 2 63)) (- (- (expt 2 63))) (abs (- (expt 2 63))) (* -1 (- (expt 2 63)))
      (* 4611686018427387904 2) (/ 9223372036854775808 2) (* 4294967296 4294967296)
      (/ 18446744073709551616 4294967296) (ash 4611686018427387904 1) (ash 9223372036854775808 -1)
      (ash -9223372036854775808 1) (ash -18446744073709551616 -1))
=> (-9223372036854775808 9223372036854775808 9223372036854775808 9223372036854775808 9223372036854775808 4611686018427387904 18446744073709551616 4294967296 9223372036854775808 4611686018427387904 -18446744073709551616 -9223372036854775808)

(mapcar (function type-of)
        (list (- (expt 2 64) (expt 2 64)) (- (+ (expt 2 70) 5) (expt 2 70)) (truncate (expt 2 80) (expt 2 70))
              (logand (expt 2 100) 7) (ash (expt 2 100) -90) (isqrt (expt 2 40)) (gcd (expt 2 100) (expt 6 10))))
=> (FIXNUM FIXNUM FIXNUM FIXNUM FIXNUM FIXNUM FIXNUM)

(list (eql (- (+ (expt 2 70) 9223372036854775807) (expt 2 70)) 9223372036854775807)
      (eql (+ (expt 2 64) -9223372036854775808 (- (expt 2 64))) -9223372036854775808)
      (eql (expt 2 100) (* (expt 2 50) (expt 2 50))) (eql (expt 2 100) (expt 2.0 100)))
=> (T T T NIL)

;; ---------------------------------------------------------------------
;; Divisions: signs of quotients and remainders

(let ((a (expt 10 25)) (b 7))
  (list (multiple-value-list (floor a b)) (multiple-value-list (floor (- a) b))
        (multiple-value-list (ceiling a (- b))) (multiple-value-list (truncate (- a) (- b)))
        (multiple-value-list (round (- a) b))
        (mod a b) (rem a b) (mod (- a) b) (rem (- a) b)
        (mod a (- b)) (rem a (- b)) (mod (- a) (- b)) (rem (- a) (- b))))
=> ((1428571428571428571428571 3) (-1428571428571428571428572 4) (-1428571428571428571428571 3) (1428571428571428571428571 -3) (-1428571428571428571428571 -3) 3 3 4 -3 -4 3 -3 -3)

(let ((a (expt 10 25)) (b (- (expt 3 40))))
  (list (mod a b) (rem a b) (mod (- a) b) (rem (- a) b)
        (multiple-value-list (floor a b)) (multiple-value-list (round a b))))
=> (-8097041718475900127 4060623740581028674 -4060623740581028674 -4060623740581028674 (-822527 -8097041718475900127) (-822526 4060623740581028674))

;; ROUND goes to the even neighbour on a tie.
(list (round (1+ (expt 10 30)) 2) (round (+ 3 (expt 10 30)) 2) (round (- -1 (expt 10 30)) 2))
=> (500000000000000000000000000000 500000000000000000000000000002 -500000000000000000000000000000)

;; An exact quotient is an integer; any other a double, or a float overflow.
(list (/ (expt 10 30) (expt 10 28)) (/ (expt 10 30) 4) (/ (expt 10 30) 3) (/ 1 (expt 10 30))
      (/ (expt 10 400) (1+ (expt 10 399))) (/ (fact 30) (fact 28) 870))
=> (100 250000000000000000000000000000 3.333333333333333e+29 1e-30 10.0 1)

(/ (expt 10 400) 3)
!! 4174 3

(list (floor (expt 2 70) 2.0) (ffloor (expt 10 20) 3) (fround (expt 10 20) 1.0e10))
=> (590295810358705651712 3.333333333333333e+19 10000000000.0)

;; GCD and LCM of large numbers
(list (gcd (* (fact 50) (expt 7 30)) (* (fact 40) (expt 11 20))) (gcd (expt 2 100) (1+ (expt 2 100)))
      (gcd (- (expt 6 50)) (expt 4 40)) (lcm (expt 6 20) (expt 10 15)))
=> (8975068115726875077801723965557274836992000000000 1 1125899906842624 111577100832000000000000000)

;; ---------------------------------------------------------------------
;; Bit operations on negative bignums, against identities

(let ((a (- (expt 3 90))) (b (- (expt 5 50))) (c (expt 7 40)))
  (list (logxor a (lognot a)) (logand a (lognot a)) (logior a (lognot a))
        (= (ash (ash a 100) -100) a) (= (ash (ash c 1000) -1000) c)
        (= (lognot (lognot a)) a)
        (= (logand a b) (lognot (logior (lognot a) (lognot b))))
        (= (logxor a b c) (logxor c (logxor b a)))
        (= (logeqv a b) (lognot (logxor a b)))
        (= (+ (logand a c) (logior a c)) (+ a c))
        (= (logandc1 a c) (logand (lognot a) c))
        (= (logorc2 b c) (logior b (lognot c)))
        (= (logcount a) (logcount (lognot a)))
        (= (ash a -300) -1) (= (ash c -300) 0)
        (logtest a (expt 2 200)) (logbitp 1000 a) (logbitp 1000 c)))
=> (-1 0 -1 T T T T T T T T T T T T T T NIL)

(let ((x (- (expt 2 100))))
  (list (integer-length x) (integer-length (1- x)) (integer-length (expt 2 100))
        (logcount (expt 2 100)) (logcount x) (logcount (1- (expt 2 100)))
        (logbitp 100 (expt 2 100)) (logbitp 99 x) (logbitp 100 x)
        (logand x (1- (expt 2 120))) (logior x (expt 2 50))))
=> (100 101 101 1 100 100 T NIL T 1329226728134315644674405563577139200 -1267650600228228275596796362752)

(let ((x (- (expt 3 60))))
  (list (ldb (byte 70 10) x) (mask-field (byte 70 10) x) (dpb (expt 2 70) (byte 80 5) x)
        (deposit-field (- (expt 7 40)) (byte 90 3) (expt 3 60)) (ldb (byte 64 0) -1)
        (let ((y (expt 3 60))) (setf (ldb (byte 8 64) y) 255) y)))
=> (1010268935921021437826 1034515390383125952333824 -42399408566592411458133295089 48606899768447613350253727289 18446744073709551615 42391158588810852767356810673)

(list (boole boole-and (- (expt 3 60)) (expt 5 40)) (boole boole-xor (- (expt 3 60)) (expt 5 40))
      (boole boole-nor (- (expt 3 60)) (expt 5 40)))
=> (6501645872857031980088819777 -46299503003200985095321682130 39797857130343953115232862352)

;; ISQRT of squares and their neighbours
(let ((x (fact 30)))
  (list (= (isqrt (* x x)) x) (= (isqrt (1- (* x x))) (1- x)) (= (isqrt (1+ (* x x))) x)
        (isqrt (expt 10 41)) (isqrt (1- (expt 2 128)))))
=> (T T T 316227766016837933199 18446744073709551615)

(isqrt (- (expt 2 100)))
!! 5170

;; ---------------------------------------------------------------------
;; Predicates, comparison, doubles and complex numbers

(let ((x (expt 2 100)))
  (list (evenp x) (oddp (1+ x)) (plusp x) (minusp (- x)) (zerop x) (integerp x) (numberp x)
        (< (- x) -1 1 x) (> x 1.0e30 (- x)) (= x (* 1.0 x)) (/= x (1+ x) x)
        (max (- x) 3 x) (min 3 (- x) x) (max x 1.0)))
=> (T T T T NIL T T T T T NIL 1267650600228229401496703205376 -1267650600228229401496703205376 1.2676506002282294e+30)

;; Beyond the double range a comparison is still exact; a conversion is
;; the float overflow error.
(list (< (expt 10 400) 1.0e308) (> (expt 10 400) 1.0e308) (< (- (expt 10 400)) -1.0e308)
      (= (expt 2 64) 18446744073709551616.0) (= (1+ (expt 2 64)) 18446744073709551616.0)
      (< (1- (expt 2 64)) 18446744073709551616.0))
=> (NIL T T T NIL T)

(list (float (expt 2 100)) (float (- (expt 10 300))) (+ (expt 2 100) 0.5) (* (expt 10 20) 1.5)
      (float (1+ (expt 2 64))) (float (+ (expt 2 64) 4097)) (sqrt (expt 10 40))
      (log (expt 10 400)) (log (expt 2 100) 2))
=> (1.2676506002282294e+30 -1e+300 1.2676506002282294e+30 1.5e+20 1.8446744073709552e+19 1.8446744073709556e+19 1e+20 921.0340371976182 100.0)

(float (expt 10 400))
!! 4174 3

(+ 1.0 (- (expt 10 400)))
!! 4174 3

(list (complex (expt 2 70) -3) (* (complex 1 2) (expt 10 20))
      (* (complex (expt 2 40) (expt 2 40)) (complex (expt 2 40) (- (expt 2 40))))
      (realpart (complex (expt 2 70) 5)) (imagpart (complex 5 (- (expt 2 70))))
      (conjugate (complex 1 (expt 2 64))) (- (complex (expt 2 64) 1) (complex (expt 2 64) 1))
      (= (complex (expt 2 70) 1) (complex (expt 2 70) 1)) #C(18446744073709551616 -1))
=> (#C(1180591620717411303424 -3) #C(100000000000000000000 200000000000000000000) 2417851639229258349412352 1180591620717411303424 -1180591620717411303424 #C(1 -18446744073709551616) 0 T #C(18446744073709551616 -1))

;; The kernel's generator and the library's RANDOM both spread a draw over
;; the whole of a bignum limit.
(let ((limit (expt 10 30)))
  (let ((draws (list (%random-alias limit) (%random-alias limit) (random limit) (random limit))))
    (list (every (function (lambda (r) (and (integerp r) (<= 0 r) (< r limit)))) draws)
          (some (function (lambda (r) (> r (expt 10 20)))) draws))))
=> (T T)

;; ---------------------------------------------------------------------
;; Equality and hash tables

(list (eql (expt 2 100) (expt 2 100)) (eql (expt 2 100) (- (expt 2 100)))
      (equal (list 1 (expt 2 100)) (list 1 (expt 2 100)))
      (equalp (expt 2 70) (float (expt 2 70))) (equalp (1+ (expt 2 70)) (float (expt 2 70)))
      (= (sxhash (expt 3 90)) (sxhash (* (expt 3 45) (expt 3 45))))
      (= (sxhash (1- (expt 2 63))) (sxhash (- (expt 2 64) (expt 2 63) 1))))
=> (T NIL T T NIL T T)

(let ((eql-table (make-hash-table :test (function eql)))
      (equal-table (make-hash-table :test (function equal)))
      (equalp-table (make-hash-table :test (function equalp))))
  (dotimes (i 200)
    (setf (gethash (expt 3 (+ 40 i)) eql-table) i)
    (setf (gethash (list 'k (- (expt 5 (+ 30 i)))) equal-table) i))
  (setf (gethash (expt 2 100) equalp-table) 'two)
  (list (gethash (* (expt 3 100) (expt 3 39)) eql-table)
        (gethash (list 'k (- (* (expt 5 100) (expt 5 99)))) equal-table)
        (gethash (1+ (expt 3 60)) eql-table)
        (hash-table-count eql-table)
        (gethash (expt 2.0 100) equalp-table)))
=> (99 169 NIL 200 TWO)

;; ---------------------------------------------------------------------
;; Types

(list (typep (expt 2 100) '(integer 0 *)) (typep (- (expt 2 100)) '(integer 0 *))
      (typep (expt 2 100) '(integer * 0)) (typep (- (expt 2 100)) '(integer * (0)))
      (typep (expt 2 63) '(signed-byte 64)) (typep (1- (expt 2 63)) '(signed-byte 64))
      (typep (- (expt 2 63)) '(signed-byte 64)) (typep (- -1 (expt 2 63)) '(signed-byte 64))
      (typep (expt 2 64) '(unsigned-byte 64)) (typep (1- (expt 2 64)) '(unsigned-byte 64))
      (typep (expt 2 100) 'unsigned-byte) (typep (- (expt 2 100)) 'unsigned-byte)
      (typep (expt 2 100) 'fixnum) (typep (expt 2 100) 'bignum) (typep (expt 2 100) 'integer)
      (typep (expt 2 100) '(mod 1267650600228229401496703205377))
      (typep (expt 2 100) '(integer (1267650600228229401496703205376) *))
      (typep (expt 2 100) '(integer 0 1267650600228229401496703205376)))
=> (T NIL NIL T NIL T T NIL NIL T T NIL NIL T T T NIL T)

(list (type-of (expt 2 100)) (type-of (expt 2 40)) (type-of 5) (class-of (expt 2 100))
      (multiple-value-list (subtypep '(unsigned-byte 64) '(signed-byte 65)))
      (multiple-value-list (subtypep '(integer 0 *) 'fixnum)))
=> (BIGNUM BIGNUM FIXNUM #<BUILT-IN-CLASS INTEGER> (T T) (NIL T))

;; ---------------------------------------------------------------------
;; FORMAT

(list (format nil "~D" (expt 10 25)) (format nil "~:D" (- (expt 10 25)))
      (format nil "~40,'*D" (expt 10 25)) (format nil "~@D" (expt 10 25))
      (format nil "~B" (expt 2 70)) (format nil "~O" (expt 2 70)) (format nil "~X" (- (expt 2 70)))
      (format nil "~,,' ,4:B" (expt 2 70)) (format nil "~36R" (expt 2 70)) (format nil "~10,8R" 100)
      (format nil "~:@D" (expt 10 20)) (format nil "~F" (expt 2 70)))
=> ("10000000000000000000000000" "-10,000,000,000,000,000,000,000,000" "**************10000000000000000000000000" "+10000000000000000000000000" "10000000000000000000000000000000000000000000000000000000000000000000000" "200000000000000000000000" "-400000000000000000" "100 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000" "6x5kxtvuwilukg" "     100" "+100,000,000,000,000,000,000" "1180591620717411303424.0")

(list (format nil "~R" 0) (format nil "~R" 13) (format nil "~R" -45) (format nil "~R" 123456789)
      (format nil "~R" (expt 10 21)) (format nil "~R" (1- (expt 10 66)))
      (format nil "~:R" 1) (format nil "~:R" 22) (format nil "~:R" 40) (format nil "~:R" 1000000)
      (format nil "~:R" 112))
=> ("zero" "thirteen" "negative forty-five" "one hundred twenty-three million four hundred fifty-six thousand seven hundred eighty-nine" "one sextillion" "nine hundred ninety-nine vigintillion nine hundred ninety-nine novemdecillion nine hundred ninety-nine octodecillion nine hundred ninety-nine septendecillion nine hundred ninety-nine sexdecillion nine hundred ninety-nine quindecillion nine hundred ninety-nine quattuordecillion nine hundred ninety-nine tredecillion nine hundred ninety-nine duodecillion nine hundred ninety-nine undecillion nine hundred ninety-nine decillion nine hundred ninety-nine nonillion nine hundred ninety-nine octillion nine hundred ninety-nine septillion nine hundred ninety-nine sextillion nine hundred ninety-nine quintillion nine hundred ninety-nine quadrillion nine hundred ninety-nine trillion nine hundred ninety-nine billion nine hundred ninety-nine million nine hundred ninety-nine thousand nine hundred ninety-nine" "first" "twenty-second" "fortieth" "one millionth" "one hundred twelfth")

;; Beyond the names of English and Roman numerals: decimal digits.
(list (format nil "~@R" 1994) (format nil "~:@R" 1994) (format nil "~@R" 4000) (format nil "~R" (expt 10 66)))
=> ("MCMXCIV" "MDCCCCLXXXXIIII" "4000" "1000000000000000000000000000000000000000000000000000000000000000000")

(format nil "~1R" 5)
!! 16449

;; ---------------------------------------------------------------------
;; Limits

(let ((*print-base* 16)) (length (prin1-to-string (ash 1 8388607))))
=> 2097152

(ash 1 8388608)
!! 4182 8388608

(ash -1 (expt 2 64))
!! 4182

(list (ash 0 (expt 2 64)) (ash 5 (- (expt 2 64))) (ash -5 (- (expt 2 64)))
      (expt 1 (expt 10 30)) (expt -1 (1+ (expt 10 30))) (expt 0 (expt 10 30)))
=> (0 0 -1 1 -1 0)

(list (signals (expt 2 8388608)) (integer-length (expt 2 8388607)) (signals (expt 2 8388609)))
=> (ERROR 8388608 ERROR)

(signals (expt 3 (expt 10 30)))
=> ERROR

;; DOTIMES counts past the fixnums, and takes a count of any size.
(let ((n 0)) (dotimes (i 8388610 (list n i (typep i 'fixnum))) (setq n i)))
=> (8388609 8388610 NIL)

(list (dotimes (i (expt 2 70) :none) (when (= i 5) (return (list :early i))))
      (dotimes (i (- (expt 2 70)) :none))
      (signals (dotimes (i 2.5))))
=> ((:EARLY 5) :NONE ERROR)
