;;; Function bindings and threads: the kernel's %LABELS (which binds
;;; function cells dynamically) and the condition system's binding of its
;;; hook belong to the thread that makes them; global definitions are
;;; shared.

(defun fb-name () :global)

(defun fb-call () (fb-name))

;; The first thread is started from inside a %LABELS: the binding moves
;; into this thread's own cells, the started one calls the global
;; definition, and this one its binding until the end of the form.
(%labels ((fb-name () :main))
  (list (fb-call) (bt:join-thread (bt:make-thread (lambda () (fb-call)))) (fb-call)))
=> (:MAIN :GLOBAL :MAIN)

(fb-call)
=> :GLOBAL

;; While a thread is inside a %LABELS, another calls the global definition
;; (by name, through FUNCALL, and through SYMBOL-FUNCTION); a SETF of
;; SYMBOL-FUNCTION inside the binding changes the binding only.
(defvar *fb-stage* 0)

(let ((th (bt:make-thread
           (lambda ()
             (%labels ((fb-name () :local))
               (setq *fb-stage* 1)
               (loop until (= *fb-stage* 2) do (sleep 0.01))
               (let ((before (fb-call)))
                 (setf (symbol-function 'fb-name) (lambda () :set))
                 (list before (fb-call))))))))
  (loop until (= *fb-stage* 1) do (sleep 0.01))
  (let ((seen (list (fb-call) (funcall 'fb-name) (funcall (symbol-function 'fb-name)))))
    (setq *fb-stage* 2)
    (list seen (bt:join-thread th) (fb-call))))
=> ((:GLOBAL :GLOBAL :GLOBAL) (:LOCAL :SET) :GLOBAL)

;; Leaving a %LABELS by a throw or by an error gives the cell back, in the
;; first thread and in a started one.
(defun fb-unwind ()
  (list (catch 'fb-out (%labels ((fb-name () :thrown)) (throw 'fb-out (fb-call))))
        (fb-call)
        (handler-case (%labels ((fb-name () :err)) (%labels ((fb-name () :inner)) (car (fb-call))))
          (error () (fb-call)))
        (fb-call)))

(list (fb-unwind) (bt:join-thread (bt:make-thread #'fb-unwind)))
=> ((:THROWN :GLOBAL :GLOBAL :GLOBAL) (:THROWN :GLOBAL :GLOBAL :GLOBAL))

;; A thread that ends inside a %LABELS, by an error with no handler or by a
;; throw to its listener, takes the binding with it.
(let ((a (bt:make-thread (lambda () (%labels ((fb-name () :dying)) (car (fb-call))))))
      (b (bt:make-thread (lambda () (%labels ((fb-name () :dying)) (%abort-to-top-level))))))
  (loop while (or (bt:thread-alive-p a) (bt:thread-alive-p b)) do (sleep 0.01))
  (list (fb-call) (bt:join-thread (bt:make-thread #'fb-call))))
=> (:GLOBAL :GLOBAL)

;; Errors handled in three threads at once, many times over: each handler
;; runs inside the condition system's hook, which turns itself off for its
;; own thread only, so every signal in every thread reaches both handlers.
(defun fb-errors (rounds)
  (let ((bound 0) (caught 0))
    (dotimes (i rounds (list bound caught))
      (handler-case
          (handler-bind ((error (lambda (c) (declare (ignore c)) (bt:thread-yield) (incf bound))))
            (car i))
        (error () (incf caught))))))

(let ((threads (list (bt:make-thread (lambda () (fb-errors 1000)))
                     (bt:make-thread (lambda () (fb-errors 1000))))))
  (list (fb-errors 1000) (mapcar #'bt:join-thread threads) (fb-errors 1)))
=> ((1000 1000) ((1000 1000) (1000 1000)) (1 1))

;; Three threads bind one name to functions of their own, held by nothing
;; but the binding, while they allocate and collect; each checks at every
;; step that it calls its own.
(defun fb-churn (tag rounds)
  (dotimes (i rounds t)
    (unless (eval `(%labels ((fb-mine () (list ',tag ,i)))
                     (let ((junk (make-list 30 :initial-element ',tag)))
                       (when (zerop (mod ,i 40)) (%gc 3))
                       (bt:thread-yield)
                       (and (equal (fb-mine) (list ',tag ,i)) (eq (car (last junk)) ',tag)))))
      (return (list :saw tag i)))))

(let ((threads (list (bt:make-thread (lambda () (fb-churn :a 200)))
                     (bt:make-thread (lambda () (fb-churn :b 200))))))
  (list (fb-churn :main 200) (mapcar #'bt:join-thread threads) (fboundp 'fb-mine)))
=> (T (T T) NIL)
