;;; Call-heavy programs for bench/run.sh, written in the subset every
;;; system measured understands; run.sh calls each and times the run.

(defun tak (x y z)
  (if (< y x)
      (tak (tak (1- x) y z)
           (tak (1- y) z x)
           (tak (1- z) x y))
      z))

(defun fib (n)
  (if (< n 2)
      n
      (+ (fib (- n 1)) (fib (- n 2)))))

;; Takeuchi with every return going through a THROW to its own CATCH.
(defun ctak (x y z)
  (catch 'ctak (ctak-aux x y z)))

(defun ctak-aux (x y z)
  (if (< y x)
      (ctak-aux
       (catch 'ctak (ctak-aux (1- x) y z))
       (catch 'ctak (ctak-aux (1- y) z x))
       (catch 'ctak (ctak-aux (1- z) x y)))
      (throw 'ctak z)))

;; Takeuchi on special variables.
(defvar *x* 0)
(defvar *y* 0)
(defvar *z* 0)

(defun stak (x y z)
  (let ((*x* x) (*y* y) (*z* z))
    (stak-aux)))

(defun stak-aux ()
  (if (< *y* *x*)
      (let ((x (let ((*x* (1- *x*)) (*y* *y*) (*z* *z*)) (stak-aux)))
            (y (let ((*x* (1- *y*)) (*y* *z*) (*z* *x*)) (stak-aux)))
            (z (let ((*x* (1- *z*)) (*y* *x*) (*z* *y*)) (stak-aux))))
        (let ((*x* x) (*y* y) (*z* z))
          (stak-aux)))
      *z*))

;; LOOP over a list, a vector and a range: destructuring, conditionals,
;; collecting, summing and counting.  About 3500 passes per call.
(defun loops (n)
  (let* ((l (loop for i below n collect i))
         (v (coerce l 'vector)))
    (+ (loop for (a b) on l by #'cddr when (evenp a) sum (+ a b))
       (loop for x across v count (oddp x))
       (length (loop for x in l when (zerop (mod x 3)) collect x)))))
