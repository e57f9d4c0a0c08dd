;;; The number library: constants, predicates, divisors, MOD, rounding to
;;; floats, EXPT, float decoding and bytes.  Errors the library signals
;;; itself are checked by their objects, under the wrong-type code 5170.

(list most-positive-fixnum most-negative-fixnum
      (%fixnump most-positive-fixnum) (%fixnump (1+ most-positive-fixnum))
      (%fixnump most-negative-fixnum) (%fixnump (1- most-negative-fixnum)))
=> (8388607 -8388608 T NIL T NIL)

;; The float limits are those of doubles, whatever the float type.
(list (= pi (* 4 (atan 1))) (> most-positive-double-float 1.7976931348623e308)
      (= (* 2 most-positive-double-float) (* 4 most-positive-double-float))
      (> least-positive-double-float 0) (= (/ least-positive-double-float 2) 0)
      (/= (+ 1 double-float-epsilon) 1) (= (+ 1 (/ double-float-epsilon 2)) 1)
      (/= (- 1 double-float-negative-epsilon) 1)
      (= most-positive-single-float most-positive-double-float)
      (= least-positive-normalized-double-float (%expt-float 2 -1022)))
=> (T T T T T T T T T T)

(list (realp 1) (realp 1.5) (realp (complex 1 2)) (realp 'a) (rationalp 3) (rationalp 3.0)
      (numerator 7) (denominator -7))
=> (T T NIL NIL T NIL 7 1)

(numerator 1.5)
!! 5170 1.5

;; The parts of reals, and FLOAT with a prototype.
(list (realpart 5) (imagpart 5) (imagpart -2.5) (realpart (complex 1 2)) (imagpart (complex 1 2))
      (phase 1) (= (phase -1) pi) (= (phase -0.0) pi) (phase (complex 0 1)) (float 1 1.0) (float 2.5))
=> (5 0 -0.0 1 2 0.0 T T 1.5707963267948966 1.0 2.5)

(realpart 'a)
!! 5170 A

(float 1 2)
!! 5170 2

(list (gcd) (gcd 12) (gcd -12) (gcd -12 18) (gcd 12 18 8) (gcd 0 0) (gcd 0 5)
      (lcm) (lcm 4) (lcm 4 6) (lcm 4 6 10) (lcm 0 5) (lcm -3 4) (lcm 6 -4 10))
=> (0 12 12 6 2 0 5 1 4 12 60 0 12 60)

;; 64-bit integers, and beyond them.
(list (gcd (expt 2 40) (expt 6 20)) (lcm (expt 2 30) (expt 3 20)) (lcm (expt 2 40) (1+ (expt 2 40))))
=> (1048576 3743906242624487424 1208925819615728686333952)

(gcd 4 1.0)
!! 5170 1.0

;; MOD takes the divisor's sign, for floats of any size too.
(list (mod 7 3) (mod -7 3) (mod 7 -3) (mod -7 -3) (mod 6 3) (mod -6 3)
      (mod 5.5 2) (mod -1.0 3) (mod 1e30 7.0) (mod (- (expt 2 40)) 7))
=> (1 2 -2 -1 0 0 1.5 2.0 5.0 5)

(mod 1 0)
!! 5170 0

(list (signum 5) (signum -3) (signum 0) (signum -2.5) (signum 0.0) (signum -0.0)
      (signum (complex 3 4)) (signum (complex 0.0 -2.0)) (signum (expt 2 40)))
=> (1 -1 0 -1.0 0.0 -0.0 #C(0.6 0.8) #C(0.0 -1.0) 1)

(signum 'x)
!! 5170 X

;; The F forms give a float quotient and the remainder of the integer form;
;; a quotient too large for 64 bits is already integral.
(multiple-value-call #'list (ffloor 7 2) (ffloor -7 2) (fceiling 7 2) (fceiling 7.5 2)
  (ftruncate -7.5) (ftruncate 7 -2) (fround 2.5) (fround 7 2) (ffloor 1e30) (ftruncate -0.5))
=> (3.0 1 -4.0 1 4.0 -1 4.0 -0.5 -7.0 -0.5 -3.0 1 2.0 0.5 4.0 -1 1e+30 0.0 -0.0 -0.5)

(ffloor 1 0)
!! 5170

;; EXPT: exact for integer powers of integers, a double for a
;; negative power that does not divide, complex for a negative base and a
;; power that is not whole.
(list (expt 2 10) (expt -3 3) (expt 2 62) (expt 2 64) (expt 10 18) (expt 3 40)
      (expt 2 -2) (expt 1 -5) (expt -1 -3) (expt 0 0) (expt 5 0) (expt 1 (expt 2 40))
      (= (expt 2 -70) (/ 1 (%expt-float 2 70))) (expt (complex 0 1) -1))
=> (1024 -27 4611686018427387904 18446744073709551616 1000000000000000000 12157665459056928801 0.25 1 -1 1 1 1 T #C(0 -1))

(list (expt 2.0 3) (expt 2.5 2) (expt 2 0.5) (expt 4 -0.5) (expt -2 2.0) (expt 0.0 0)
      (expt 0 2.5) (expt 9 0.0) (expt (complex 0 1) 2) (expt (complex 1 1) 3)
      (expt -8 (/ 1 3.0)) (realpart (expt (complex 0 1) (complex 0 1))))
=> (8.0 6.25 1.4142135623730951 0.5 4.0 1.0 0.0 1.0 -1 #C(-2 2) #C(1.0 1.732050807568877) 0.20787957635076193)

(expt 0 -1)
!! 5170 0

(expt 0 -0.5)
!! 8242 0 -0.5

(expt 'a 2)
!! 5170 A

(list (cis 0) (asinh 0) (acosh 1) (atanh 0) (< (abs (- (asinh (sinh 1.5)) 1.5)) 1e-12)
      (< (abs (- (atanh (tanh 0.5)) 0.5)) 1e-12))
=> (#C(1.0 0.0) 0.0 0.0 0.0 T T)

;; Decoding floats, normal and denormal.
(multiple-value-call #'list (decode-float 8.0) (decode-float -0.375) (decode-float 0.0)
  (integer-decode-float 1.0) (integer-decode-float -0.5))
=> (0.5 4 1.0 0.75 -1 -1.0 0.0 0 1.0 4503599627370496 -52 1 4503599627370496 -53 -1)

(multiple-value-bind (s e) (decode-float most-positive-double-float)
  (list (< 0.99 s 1) e (multiple-value-call #'list (decode-float least-positive-double-float))))
=> (T 1024 (0.5 -1073 1.0))

(list (scale-float 1.0 10) (scale-float 3.0 -1) (float-sign -2.0) (float-sign 0.0 -3.0)
      (float-sign -0.0 3.0) (float-radix 1.0) (float-digits 1.0) (float-precision 1.0)
      (float-precision least-positive-double-float) (float-precision 0.0))
=> (1024.0 1.5 -1.0 3.0 -3.0 2 53 53 1 0)

(decode-float 1)
!! 5170 1

;; Bits beyond 32 need the two-argument operations, which see all 64.
(list (logtest 5 2) (logtest (ash 1 40) (ash 1 40)) (boole boole-and (ash 1 40) (1+ (ash 1 40)))
      (boole boole-ior 1 2) (boole boole-xor 3 5) (boole boole-eqv 3 5) (boole boole-andc1 1 3)
      (boole boole-orc2 12 10) (boole boole-nand 12 10) (boole boole-c1 12 10) (boole boole-clr 1 2)
      (boole boole-set 1 2) (boole boole-1 1 2) (boole boole-2 1 2) (boole boole-xor (ash 1 40) 1))
=> (NIL T 1099511627776 3 6 -7 2 -3 -9 -13 0 -1 1 2 1099511627777)

(boole 16 1 2)
!! 5170 16

(list (ldb (byte 8 8) #xABCD) (ldb (byte 4 2) 255) (ldb (byte 8 40) (ash #xAB 40))
      (ldb (byte 64 0) -1) (dpb 15 (byte 4 4) 0) (dpb -1 (byte 3 1) 0)
      (mask-field (byte 4 4) #xFF) (mask-field (byte 3 1) -1) (deposit-field #xF0 (byte 4 4) 0)
      (ldb-test (byte 2 0) 4) (ldb-test (byte 2 1) 4) (byte-size (byte 3 1)) (byte-position (byte 3 1)))
=> (171 15 171 18446744073709551615 240 14 240 14 240 NIL T 3 1)

(byte -1 0)
!! 5170 -1
