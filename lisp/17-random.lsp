;;;; Random states, and the last of the number functions: RATIONAL,
;;;; RATIONALIZE, UPGRADED-COMPLEX-PART-TYPE and the float limits still
;;;; missing under the short-float name.
;;;;
;;;; The kernel's generator is one process-wide 32-bit state giving 15 bits
;;;; a draw; nothing can copy or replay it, and (random 100000) never
;;;; passes 32767.  RANDOM here draws from a random state object instead:
;;;; four 32-bit words of Marsaglia's xorshift generator (period 2^128 - 1),
;;;; which can be copied, printed, read back and replayed.  Every
;;;; intermediate value stays below 2^44, so the arithmetic is exact
;;;; whatever the size of the machine's integers.

;;; ------------------------------------------------------------------
;;; Random states

(defstruct (random-state (:constructor %make-random-state (words))
                         (:copier nil))
  words)

(defparameter %word-mask 4294967295)    ; 2^32 - 1

;; The next 32-bit draw of STATE, which advances.
(defun %random-word (state)
  (let* ((w (random-state-words state))
         (x (svref w 0))
         (s (logand (logxor x (ash x 11)) %word-mask))
         (last (svref w 3)))
    (%set-svref w 0 (svref w 1))
    (%set-svref w 1 (svref w 2))
    (%set-svref w 2 last)
    (%set-svref w 3 (logxor last (ash last -19) s (ash s -8)))))

;; Four words from a seed: a linear congruential mix of it, never all
;; zero (the one state xorshift cannot leave).
(defun %seed-words (seed)
  (let ((w (make-array 4))
        (x (logand (abs seed) %word-mask)))
    (dotimes (i 4)
      (setq x (logand (+ (* (logand x 65535) 69069) (* (ash x -16) 3533) 1 i) %word-mask))
      (%set-svref w i x))
    (when (every (function zerop) w) (%set-svref w 0 1))
    w))

(defvar *random-state* (%make-random-state (%seed-words 2026))
  "The random state RANDOM draws from when it is given none.")

(defvar %random-states-made 0)

;; Threads share random states: the default one above all.  A draw reads
;; and rewrites all four words, so two threads drawing from one state at
;; once could both get the same number, or leave words of different steps
;; behind.  Once the thread library is loaded it puts a recursive lock
;; here, and every draw and every copy of a state holds it.
(defvar %random-lock nil)

(defmacro %with-random-lock (&body body)
  (let ((taken (gensym "TAKEN")))
    `(let ((,taken nil))
       (unwind-protect
            (progn
              (when %random-lock
                (loop (when (%lock-operation %random-lock 1 100) (return)))
                (setq ,taken t))
              ,@body)
         (when ,taken (%lock-operation %random-lock 2))))))

(defun make-random-state (&optional state)
  "A new random state: a copy of *RANDOM-STATE* for NIL, of STATE for a
random state, or one seeded from the clock for T."
  (cond ((null state) (make-random-state *random-state*))
        ((eq state t)
         (setq %random-states-made (1+ %random-states-made))
         (%make-random-state (%seed-words (+ (get-universal-time)
                                             (* 7919 %random-states-made)
                                             (%random-alias 32768)))))
        ((random-state-p state)
         (%make-random-state (%with-random-lock (copy-seq (random-state-words state)))))
        (t (error "~S is not a random state, T or NIL" state))))

;; Exact integers of any size are there when 2^64 does not wrap to 0.
(defparameter %integers-unbounded (/= (ash 1 64) 0))

;; A random integer 0 <= r < LIMIT.  Up to 2^32 a draw is taken anew while
;; it falls in the incomplete last block of LIMIT, so every result is
;; equally likely.  Beyond, draws are put together to 32 bits more than
;; LIMIT has, which leaves a bias below 2^-32; with 64-bit integers, to
;; 62 bits, which is as far as they go.
(defun %random-integer (limit state)
  (cond ((<= limit 4294967296)
         (let ((ceiling (- 4294967296 (rem 4294967296 limit))))
           (loop
             (let ((r (%random-word state)))
               (when (< r ceiling) (return (rem r limit)))))))
        (%integers-unbounded
         (let ((r 0))
           (dotimes (i (1+ (ceiling (integer-length limit) 32)))
             (setq r (+ (ash r 32) (%random-word state))))
           (mod r limit)))
        ((< limit 4611686018427387904)
         (mod (+ (ash (ash (%random-word state) -2) 32) (%random-word state)) limit))
        (t (error "RANDOM cannot draw below ~S with 64-bit integers" limit))))

(defparameter %two-to-53 9007199254740992.0)

(defun random (limit &optional (state *random-state*))
  "A random number of the type of LIMIT, a positive integer or float, from
0 up to but not including LIMIT, drawn from STATE."
  (unless (random-state-p state)
    (error "~S is not a random state" state))
  (cond ((and (integerp limit) (> limit 0))
         (%with-random-lock (%random-integer limit state)))
        ((and (floatp limit) (> limit 0.0))
         ;; 53 random bits make a double in [0, 1); rounding may reach
         ;; LIMIT itself, which is drawn again.
         (%with-random-lock
           (loop
             (let* ((bits (+ (* (ash (%random-word state) -11) 4294967296.0)
                             (%random-word state)))
                    (r (* limit (/ bits %two-to-53))))
               (when (< r limit) (return r))))))
        (t (error "~S is not a positive integer or float" limit))))

;;; ------------------------------------------------------------------
;;; Rationals.  Without ratios the rationals are the integers: a float
;;; with no fractional part has one equal to it, any other float none.

(defun rational (number)
  "The rational number equal to the real NUMBER: NUMBER itself for an
integer, the integer equal to a float without a fractional part."
  (cond ((integerp number) number)
        ((floatp number)
         (multiple-value-bind (whole fraction) (ftruncate number)
           (unless (zerop fraction)
             (error "~S has no rational equal to it: there are no ratios" number))
           (truncate whole)))
        (t (error "~S is not a real number" number))))

(defun rationalize (number)
  "A rational number that is as near NUMBER as the float's precision can
tell: the same as RATIONAL, as the rationals are the integers."
  (rational number))

;; Complex numbers have integer parts or double parts.
(defun upgraded-complex-part-type (typespec &optional environment)
  "The type of the parts of the complex numbers made for parts of
TYPESPEC: INTEGER, FLOAT, or REAL when both kinds may occur."
  (cond ((subtypep typespec 'integer) 'integer)
        ((subtypep typespec 'float) 'float)
        ((subtypep typespec 'real) 'real)
        (t (error "~S is not a type of real numbers" typespec))))

;;; ------------------------------------------------------------------
;;; Float limits: every float name is the one double type.

(defconstant least-positive-normalized-short-float least-positive-normalized-double-float)
(defconstant least-negative-normalized-short-float least-negative-normalized-double-float)
