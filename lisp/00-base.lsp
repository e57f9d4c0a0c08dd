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

;; Declarations at the head of a body: the evaluator makes the variables of
;; a SPECIAL declaration special before it binds them; as a form of its
;; own a declaration does nothing.
(defmacro declare (&rest specs)
  nil)
