;;; The raw description of objects, and the clocks: what SLEEP and TIME
;;; measure and the resolution of the internal clocks.

;; --- DESCRIBE-RAW: the Value word, then what kind of object it is

;; The words after the header of a description, as strings.
(defun raw-words (object)
  (let* ((text (with-output-to-string (s) (describe-raw object s)))
         (start (+ (search "LEN" text) 3))
         (words '()) (i start))
    (loop
      (let ((from (position #\Space text :start i :test-not #'char=)))
        (unless from (return (nreverse words)))
        (let ((to (or (position #\Space text :start from) (length text))))
          (push (subseq text from to) words)
          (setq i to))))))

(let ((text (with-output-to-string (s) (describe-raw 'car s))))
  (list (char= (char text 0) #\Newline) (subseq text 9)))
=> (T ": SYMBOL CAR")

(list (subseq (with-output-to-string (s) (describe-raw nil s)) 1)
      (subseq (with-output-to-string (s) (describe-raw "two words" s)) 9))
=> ("       0: SYMBOL NIL" ": STRING two words")

;; A vector: its length in hexadecimal, then its words; past 64 of them
;; only "..." follows.
(let ((short (raw-words (vector 1 2 3)))
      (exact (raw-words (make-array 64 :initial-element 0)))
      (long (raw-words (make-array 100 :initial-element 7))))
  (list short (length exact) (car exact) (last exact)
        (length long) (car long) (nth 64 long)))
=> (("3" "B000001" "B000002" "B000003") 65 "40" ("B000000") 65 "64" "B000007...")

;; NIL is standard output; a stream must take output.
(subseq (with-output-to-string (*standard-output*) (describe-raw 12 nil)) 1)
=> " B00000C"

(describe-raw 'car 5)
!! 5170 5

(describe-raw 'car nil 3)
!! 4148 3

(describe-raw 'car (make-string-input-stream "x"))
!! 5170

;; --- Clocks

;; SLEEP waits by the wall clock without spending processor time, and the
;; internal clocks count in milliseconds.
(let ((real (get-internal-real-time)) (run (get-internal-run-time)))
  (sleep 0.3)
  (let ((slept (- (get-internal-real-time) real)) (spent (- (get-internal-run-time) run)))
    (list internal-time-units-per-second (<= 290 slept 20000) (< spent 150))))
=> (1000 T T)

;; TIME reports the time that passed, waiting included.
(let ((report (with-output-to-string (*trace-output*) (time (sleep 0.2)))))
  (let ((seconds (read-from-string report t nil :start (length "Elapsed time: "))))
    (list (floatp seconds) (<= 0.19 seconds 20.0))))
=> (T T)
