;;; Integer-heavy programs for bench/bignum.sh, in the subset every system
;;; measured understands.

;; The factorial by a loop: one product of a growing integer and a small
;; one per step.
(defun fact (n)
  (let ((r 1))
    (do ((i 2 (1+ i)))
        ((> i n) r)
      (setq r (* r i)))))

;; The first COUNT digits of pi by Gibbons' unbounded spigot: four
;; integers that grow without bound, multiplied and divided by each other.
;; The result is the sum of the digits and the last five of them, so the
;; systems can be checked against each other.
(defun pi-digits (count)
  (let ((q 1) (r 0) (tt 1) (k 1) (n 3) (l 3) (got 0) (sum 0) (last 0))
    (do ()
        ((>= got count) (list sum last))
      (if (< (- (+ (* 4 q) r) tt) (* n tt))
          (let ((nr (* 10 (- r (* n tt)))))
            (setq got (1+ got)
                  sum (+ sum n)
                  last (mod (+ (* last 10) n) 100000))
            (setq n (- (floor (* 10 (+ (* 3 q) r)) tt) (* 10 n)))
            (setq q (* q 10)
                  r nr))
          (let ((nr (* (+ (* 2 q) r) l))
                (nn (floor (+ (* q (+ (* 7 k) 2)) (* r l)) (* tt l))))
            (setq q (* q k)
                  tt (* tt l)
                  l (+ l 2)
                  k (1+ k)
                  n nn
                  r nr))))))

;; Decimal text of a large integer: the printer's conversion.
(defun decimal-length (n)
  (length (prin1-to-string n)))
