;;; Whole programs written as ordinary portable Common Lisp: a symbolic
;;; differentiator with simplification, and the eight queens.

;; ---------------------------------------------------------------------
;; Symbolic differentiation of prefix expressions in one variable.

(defun deriv (expr var)
  "The derivative of EXPR with respect to VAR, unsimplified."
  (declare (symbol var))
  (cond ((numberp expr) 0)
        ((symbolp expr) (if (eq expr var) 1 0))
        (t
         (let ((op (car expr))
               (u (cadr expr))
               (v (caddr expr)))
           (flet ((d (e) (deriv e var)))
             (case op
               (+ (list '+ (d u) (d v)))
               (- (if (cddr expr)
                      (list '- (d u) (d v))
                      (list '- (d u))))
               (* (list '+ (list '* (d u) v) (list '* u (d v))))
               (/ (list '/
                        (list '- (list '* (d u) v) (list '* u (d v)))
                        (list 'expt v 2)))
               (expt (list '* (list '* v (list 'expt u (- v 1))) (d u)))
               (sin (list '* (list 'cos u) (d u)))
               (cos (list '* (list '- (list 'sin u)) (d u)))
               (exp (list '* expr (d u)))
               (t (error "Cannot differentiate ~S" expr))))))))

(defun simplify (expr)
  "EXPR with constant parts folded and 0 and 1 terms removed."
  (if (atom expr)
      expr
      (simplify-node (car expr) (mapcar #'simplify (cdr expr)))))

(defun simplify-node (op args)
  (let ((a (car args))
        (b (cadr args)))
    (labels ((num (x) (numberp x))
             (is (x n) (and (num x) (= x n)))
             (power (base n)
               (do ((r 1 (* r base)) (i 0 (+ i 1))) ((= i n) r))))
      (case op
        (+ (cond ((and (num a) (num b)) (+ a b))
                 ((is a 0) b)
                 ((is b 0) a)
                 ((equal a b) (simplify-node '* (list 2 a)))
                 (t (list '+ a b))))
        (- (cond ((null (cdr args))
                  (cond ((num a) (- a))
                        ((and (consp a) (eq (car a) '-) (null (cddr a))) (cadr a))
                        (t (list '- a))))
                 ((and (num a) (num b)) (- a b))
                 ((is b 0) a)
                 ((is a 0) (simplify-node '- (list b)))
                 ((equal a b) 0)
                 (t (list '- a b))))
        (* (cond ((and (num a) (num b)) (* a b))
                 ((or (is a 0) (is b 0)) 0)
                 ((is a 1) b)
                 ((is b 1) a)
                 ((num b) (simplify-node '* (list b a)))
                 ((and (num a) (consp b) (eq (car b) '*) (num (cadr b)))
                  (simplify-node '* (list (* a (cadr b)) (caddr b))))
                 ((and (consp a) (eq (car a) '-) (null (cddr a)))
                  (simplify-node '- (list (simplify-node '* (list (cadr a) b)))))
                 (t (list '* a b))))
        (/ (cond ((is a 0) 0)
                 ((is b 1) a)
                 ((equal a b) 1)
                 (t (list '/ a b))))
        (expt (cond ((is b 0) 1)
                    ((is b 1) a)
                    ((and (num a) (num b)) (power a b))
                    (t (list 'expt a b))))
        (t (cons op args))))))

(defun d/dx (expr) (simplify (deriv expr 'x)))

(mapcar #'d/dx
        '(7 x y (+ x 3) (* 3 x) (* x x) (- (* 5 x) 2) (expt x 3) (+ (expt x 2) (* 2 x))))
=> (0 1 0 1 3 (* 2 X) 5 (* 3 (EXPT X 2)) (+ (* 2 X) 2))

(mapcar #'d/dx '((sin x) (cos x) (exp x) (sin (* 2 x)) (exp (* x x)) (/ 1 x) (/ x (+ x 1))))
=> ((COS X) (- (SIN X)) (EXP X) (* 2 (COS (* 2 X))) (* (EXP (* X X)) (* 2 X))
=>  (/ -1 (EXPT X 2)) (/ (- (+ X 1) X) (EXPT (+ X 1) 2)))

;; Second derivative.
(d/dx (d/dx '(expt x 4)))
=> (* 12 (EXPT X 2))

(simplify '(+ (* 0 y) (* 1 (- (- z)))))
=> Z

(handler-case (d/dx '(log x)) (error (e) (format nil "~A" e)))
=> "Cannot differentiate (LOG X)"

;; The derivative agrees with a difference quotient.  The evaluator's
;; local functions close over the variable's value.
(defun value-at (expr x)
  (labels ((ev (e)
             (cond ((numberp e) e)
                   ((eq e 'x) x)
                   (t (let ((args (mapcar #'ev (cdr e))))
                        (ecase (car e)
                          (+ (+ (car args) (cadr args)))
                          (- (if (cdr args) (- (car args) (cadr args)) (- (car args))))
                          (* (* (car args) (cadr args)))
                          (/ (/ (car args) (cadr args)))
                          (expt (expt-n (car args) (cadr args)))
                          (sin (sin (car args)))
                          (cos (cos (car args)))
                          (exp (exp (car args))))))))
           (expt-n (base n)
             (let ((r 1)) (dotimes (i n r) (setq r (* r base))))))
    (ev expr)))

(defun close-enough-p (expr x)
  (let* ((h 1.0e-6)
         (slope (/ (- (value-at expr (+ x h)) (value-at expr (- x h))) (* 2 h)))
         (exact (value-at (d/dx expr) x)))
    (< (abs (- slope exact)) 1.0e-4)))

(let ((expr '(+ (* 3 (expt x 3)) (/ (sin x) (+ (exp x) 1)))))
  (list (close-enough-p expr 0.5) (close-enough-p expr 1.5)))
=> (T T)

;; ---------------------------------------------------------------------
;; The eight queens: count every solution and show the first.

(defun queens (n)
  "The number of ways to place N queens, and the first way found."
  (declare (fixnum n))
  (let ((count 0)
        (first-solution nil))
    (labels ((safe-p (col placed)
               (do ((rest placed (cdr rest))
                    (distance 1 (1+ distance)))
                   ((null rest) t)
                 (let ((other (car rest)))
                   (when (or (= other col) (= (abs (- other col)) distance))
                     (return nil)))))
             (place (row placed)
               (if (= row n)
                   (progn
                     (setq count (1+ count))
                     (unless first-solution
                       (setq first-solution (reverse placed))))
                   (dotimes (col n)
                     (when (safe-p col placed)
                       (place (1+ row) (cons col placed)))))))
      (place 0 '()))
    (values count first-solution)))

(queens 8)
=> 92 (0 4 7 5 2 6 1 3)

(mapcar (lambda (n) (nth-value 0 (queens n))) '(1 2 3 4 5 6))
=> (1 0 0 2 10 4)

(defun print-board (columns)
  (let ((size (length columns)))
    (dolist (col columns)
      (dotimes (c size)
        (format t (if (= c col) "Q " ". ")))
      (format t "~%"))))

(print-board (nth-value 1 (queens 8)))
-> Q . . . . . . .
-> . . . . Q . . .
-> . . . . . . . Q
-> . . . . . Q . .
-> . . Q . . . . .
-> . . . . . . Q .
-> . Q . . . . . .
-> . . . Q . . . .
=> NIL

;; The same search collecting every solution, with PUSH and LOOP.
(defun all-queens (n)
  (let ((solutions '())
        (tried 0))
    (labels ((try (row placed)
               (if (= row n)
                   (push (reverse placed) solutions)
                   (loop for col below n
                         do (incf tried)
                         when (loop for other in placed
                                    for distance from 1
                                    never (or (= other col)
                                              (= (abs (- other col)) distance)))
                           do (try (1+ row) (cons col placed))))))
      (try 0 '()))
    (values (nreverse solutions) tried)))

(multiple-value-bind (solutions tried) (all-queens 8)
  (list (length solutions) (car solutions) (car (last solutions)) tried))
=> (92 (0 4 7 5 2 6 1 3) (7 3 0 2 5 1 6 4) 15720)
