;;; Condition-system programs for bench/conditions.sh, in portable Common
;;; Lisp: each run-... function goes N times through what its row measures.

(define-condition bench-error (error) ((n :initarg :n :reader bench-error-n)))

;; HANDLER-CASE entered and left with nothing signalled.
(defun run-handler-case (n)
  (let ((s 0))
    (dotimes (i n s)
      (setq s (+ s (handler-case i (error () 0)))))))

;; A SIMPLE-ERROR signalled by ERROR and handled by HANDLER-CASE.
(defun run-signal (n)
  (let ((s 0))
    (dotimes (i n s)
      (handler-case (error "Bad item ~D" i)
        (simple-error (c) c (setq s (+ s 1)))))))

;; A condition of the program's own type, declined by a HANDLER-BIND
;; handler and taken by the HANDLER-CASE outside it.
(defun run-own-condition (n)
  (let ((s 0))
    (dotimes (i n s)
      (handler-case
          (handler-bind ((bench-error (lambda (c) c nil)))
            (error 'bench-error :n i))
        (bench-error (c) (setq s (+ s (bench-error-n c))))))))

;; RESTART-CASE entered with no restart taken.
(defun run-restart-case (n)
  (let ((s 0))
    (dotimes (i n s)
      (setq s (+ s (restart-case i (use-value (v) v)))))))

;; A restart taken from a handler further out.
(defun run-invoke-restart (n)
  (let ((s 0))
    (handler-bind ((bench-error (lambda (c) (invoke-restart 'use-value (bench-error-n c)))))
      (dotimes (i n s)
        (setq s (+ s (restart-case (error 'bench-error :n i) (use-value (v) v))))))))

;; An error of the system's own, (CAR 5), caught by IGNORE-ERRORS.
(defun run-system-error (n)
  (let ((s 0) (x 5))
    (dotimes (i n s)
      (unless (ignore-errors (car x)) (setq s (+ s 1))))))
