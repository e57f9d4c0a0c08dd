;;; Special variables and threads: a binding belongs to the thread that made
;;; it, global values are shared, and a thread's bindings end with it.

(defvar *sv* :global)

;; A thread started inside a LET does not see the binding: it reads the
;; global value.
(let ((*sv* :outer))
  (list *sv* (bt:join-thread (bt:make-thread (lambda () *sv*)))))
=> (:OUTER :GLOBAL)

;; Nor does this thread see the other's binding, PROGV or special
;; parameter, or an assignment made under them.
(defun sv-param (*sv*) (setq *sv* (list *sv* :set)) (sv-read))

(defun sv-read () *sv*)

(list (bt:join-thread
       (bt:make-thread
        (lambda ()
          (list (let ((*sv* :let)) (setq *sv* :let-set) (sv-read))
                (progv '(*sv*) '(:progv) (makunbound '*sv*) (boundp '*sv*))
                (sv-param :param)
                (sv-read)))))
      *sv*)
=> ((:LET-SET NIL (:PARAM :SET) :GLOBAL) :GLOBAL)

;; A SETQ in a thread that has not bound the variable sets the global
;; value, which every thread sees, except where it has a binding of its own.
(let ((*sv* :mine))
  (bt:join-thread (bt:make-thread (lambda () (setq *sv* :from-thread))))
  (list *sv* (symbol-value '*sv*)))
=> (:MINE :MINE)

(list *sv* (bt:join-thread (bt:make-thread (lambda () *sv*))))
=> (:FROM-THREAD :FROM-THREAD)

(setq *sv* :global)
=> :GLOBAL

;; A thread that ends inside its bindings (here by an error) takes them
;; with it.
(car (multiple-value-list
      (%catch-error
       (bt:join-thread (bt:make-thread (lambda () (let ((*sv* :dying)) (car 5))))))))
=> NIL

*sv*
=> :GLOBAL

;; Three threads bind the variable to lists of their own at once, each
;; checking at every step, after letting the others run, that it sees only
;; its own, while they allocate.
(defun sv-loop (tag)
  (dotimes (i 300 t)
    (let ((*sv* (list tag i)))
      (let ((junk (make-list 20 :initial-element tag)))
        (bt:thread-yield)
        (unless (and (equal *sv* (list tag i)) (eq (car (last junk)) tag))
          (return (list :saw *sv*)))))))

(let ((threads (list (bt:make-thread (lambda () (sv-loop :a)))
                     (bt:make-thread (lambda () (sv-loop :b))))))
  (list (let ((*sv* :main)) (sv-loop :main))
        (mapcar #'bt:join-thread threads)
        *sv*))
=> (T (T T) :GLOBAL)
