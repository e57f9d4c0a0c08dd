;;;; The first definitions: what every later library file is written with.
;;;; Only the kernel's special forms and built-ins may be used here.

;; (lambda ...) as a form stands for the function it names.
(defmacro lambda (&rest rest)
  (list 'function (cons 'lambda rest)))

(defmacro when (test &rest body)
  (list 'if test (cons 'progn body)))

(defmacro unless (test &rest body)
  (list 'if test nil (cons 'progn body)))

;; NOT and NULL are the same test.
(%set-symbol-function 'not (symbol-function 'null))

;; Declarations at the head of a body: the evaluator binds the variables of
;; a SPECIAL declaration dynamically in the form that declares them (the
;; symbols themselves stay as they are); as a form of its own a declaration
;; does nothing.
(defmacro declare (&rest specs)
  nil)

;; DEFUN: the body is a block named after the function when it returns
;; from it by name.  Only then: a block costs a context on every call.
(%set-symbol-function '%defun (symbol-function 'defun))

(defun %mentions-return-from (name tree)
  (do ((x tree (cdr x)))
      ((atom x) nil)
    (if (consp (car x))
        (if (and (eq (caar x) 'return-from) (consp (cdar x)) (eq (cadar x) name))
            (return t)
            (if (%mentions-return-from name (car x)) (return t))))))

(defmacro defun (name lambda-list &rest body)
  (if (%mentions-return-from name body)
      (let ((head nil))
        ;; The documentation string and the declarations stay in front.
        (do ()
            ((not (and (consp body)
                       (or (and (stringp (car body)) (consp (cdr body)))
                           (and (consp (car body)) (eq (caar body) 'declare))))))
          (setq head (cons (car body) head)
                body (cdr body)))
        (cons '%defun
              (cons name
                    (cons lambda-list
                          (append (nreverse head)
                                  (list (cons 'block (cons name body))))))))
      (cons '%defun (cons name (cons lambda-list body)))))
