;;; Numbers: random states that are copied and replayed, RATIONAL and
;;; RATIONALIZE as far as the integers go, the part types of complex
;;; numbers and the float limits under every float name.

;; A copy of a random state gives the same numbers as the original.
(let* ((a (make-random-state t))
       (b (make-random-state a))
       (*random-state* (make-random-state a)))
  (let ((xs (loop repeat 20 collect (random 1000 a)))
        (ys (loop repeat 20 collect (random 1000 b)))
        (zs (loop repeat 20 collect (random 1000))))
    (list (equal xs ys) (equal xs zs) (every (lambda (x) (<= 0 x 999)) xs)
          (random-state-p a) (random-state-p 3) (typep b 'random-state))))
=> (T T T T NIL T)

;; MAKE-RANDOM-STATE with NIL copies *RANDOM-STATE*; with T it starts
;; afresh.
(let ((copy (make-random-state nil)))
  (list (= (random 1000000 copy) (random 1000000)) (random-state-p (make-random-state t))))
=> (T T)

;; A state prints readably and reads back as the same generator.
(let* ((s (make-random-state t))
       (r (read-from-string (prin1-to-string s))))
  (list (random-state-p r) (= (random 100000 s) (random 100000 r))))
=> (T T)

;; Integers and floats in range, every value reachable; large limits.
(let ((seen (make-array 10 :initial-element nil)) (ok t))
  (dotimes (i 2000)
    (let ((n (random 10)) (f (random 2.5)) (big (random 100000000000)))
      (setf (svref seen n) t)
      (unless (and (< -1 n 10) (floatp f) (<= 0.0 f) (< f 2.5) (<= 0 big 99999999999))
        (setq ok nil))))
  (list ok (every #'identity seen)))
=> (T T)

(let ((over nil))
  (dotimes (i 200) (when (> (random 100000) 32767) (setq over t)))
  over)
=> T

(random 0)
!! 5170 0

(random -1.0)
!! 5170 -1.0

(random 10 'not-a-state)
!! 5170 NOT-A-STATE

;; Without ratios the rationals are the integers.
(list (rational 3) (rational 4.0) (rational -2.0) (rationalize 7.0) (rationalize 5))
=> (3 4 -2 7 5)

(rational 0.5)
!! 5170 0.5

(list (upgraded-complex-part-type 'fixnum) (upgraded-complex-part-type '(integer 0 5))
      (upgraded-complex-part-type 'single-float) (upgraded-complex-part-type 'real))
=> (INTEGER INTEGER FLOAT REAL)

;; The float names are one type: the limits agree.
(list (= least-positive-normalized-short-float least-positive-normalized-double-float)
      (= least-negative-normalized-short-float (- least-positive-normalized-double-float))
      (= most-positive-short-float most-positive-long-float)
      (= single-float-epsilon double-float-epsilon))
=> (T T T T)
