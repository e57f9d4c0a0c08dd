;;; Numbers: normalisation, contagion, the rounding divisions and the
;;; random generator.  Integers beyond 64 bits: bignums*.lsp.

;; Integers leave the fixnum range as 64-bit integers and come back.
(list (+ 8388607 1) (- (+ 8388607 1) 1) (type-of (+ 8388607 1)) (type-of 8388607))
=> (8388608 8388607 BIGNUM FIXNUM)

(- -8388608 1)
=> -8388609

;; Integer arithmetic never wraps: past 64 bits it goes on in bignums.
(* 4294967296 4294967296)
=> 18446744073709551616

(+ 9223372036854775807 1)
=> 9223372036854775808

;; The most negative integer divided by -1, and its negation.
(list (truncate -9223372036854775808 -1) (rem -9223372036854775808 -1)
      (abs -9223372036854775808) (- -9223372036854775808))
=> (9223372036854775808 0 9223372036854775808 9223372036854775808)

;; Division of integers that does not come out even gives a float.
(list (/ 7 2) (/ 6 2) (/ 1.0 4))
=> (3.5 3 0.25)

(/ 1 2 0)
!! 5170 0

(/ 0)
!! 5170 0

;; The four rounding divisions give both values; ROUND goes to even.
(multiple-value-call (function list) (floor 7 2))
=> (3 1)

(multiple-value-call (function list) (ceiling 7 2))
=> (4 -1)

(multiple-value-call (function list) (truncate -7 2))
=> (-3 -1)

(list (round 5 2) (round 7 2) (round -5 2) (round 2.5))
=> (2 4 -2 2)

;; A double's quotient beyond 64 bits is the exact integer of that double;
;; a NaN or an infinity has none.
(floor 1.0e30)
=> 1000000000000000019884624838656 0.0

(floor (/ 0.0 0.0))
!! 5170

;; Shifts beyond the word make bignums; right shifts past every bit leave
;; the sign; LOGBITP past the top reads the sign.
(list (ash 1 64) (ash -5 -70) (ash 5 -70) (logbitp 100 -1) (logbitp 63 1))
=> (18446744073709551616 -1 0 T NIL)

(isqrt -4)
!! 5170 -4

(list (isqrt 4611686018427387903) (isqrt 16) (isqrt 17))
=> (2147483647 4 4)

;; Contagion: an integer meets a float, a complex loses a zero imaginary part.
(list (+ 1 2.5) (* 2 0.5) (complex 3 0) (type-of (complex 1 2)))
=> (3.5 1.0 3 COMPLEX)

(list (1+ (complex 1 2)) (1- (complex 1 2)))
=> (#C(2 2) #C(0 2))

;; The kernel's generator stays in range (the library's RANDOM draws from
;; random states instead).
(let ((ok t))
  (dotimes (i 2000) (if (> (%random-alias 100000) 32767) (setq ok nil)))
  ok)
=> T

(list (= 1 1.0) (< 1 2 3) (< 1 3 2) (max 1 5 3) (min 4 2 8))
=> (T T NIL 5 2)

;; The logical operations of any number of arguments work on all 64 bits.
(list (logand (ash 1 40) (ash 1 40)) (logior (ash 1 40) 1 2) (logxor -1 (ash 1 40)))
=> (1099511627776 1099511627779 -1099511627777)

(list (logand) (logior) (logxor) (logeqv) (logand 255 15 7) (logeqv 5 5))
=> (-1 0 0 -1 7 -1)
