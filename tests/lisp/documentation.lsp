;;; Documentation strings: what the defining forms record, DOCUMENTATION and
;;; (SETF DOCUMENTATION) over the store, the store's built-ins, and the
;;; message texts from 40 up that errors print.  Every run starts in an
;;; empty directory, so the user's documentation files start empty.
;;! needs: (fboundp 'documentation) => T

;; Comparisons of printed values ignore how blanks are laid out, so texts
;; with blank runs are compared inside the kernel.
(defun same-text (a b) (and (stringp a) (string= a b)))

;; --- what the defining forms record

(defun doc-double (x)
  "Doubles   X.
    The result is a number."
  (* 2 x))
=> DOC-DOUBLE

(list (doc-double 4)
      (same-text (documentation 'doc-double 'function)
                 (format nil "Doubles   X.~%    The result is a number.")))
=> (8 T)

;; A lone string is the body, not documentation.
(defun doc-only-string () "just the value")
=> DOC-ONLY-STRING

(list (doc-only-string) (documentation 'doc-only-string 'function))
=> ("just the value" NIL)

(progn
  (defmacro doc-mac (x) "Quotes X." (list 'quote x))
  (defvar *doc-var* 1 "A variable.")
  (defparameter *doc-par* 2 "A parameter.")
  (defconstant +doc-con+ 3 "A constant.")
  (list (documentation 'doc-mac 'function) (documentation '*doc-var* 'variable)
        (documentation '*doc-par* 'variable) (documentation '+doc-con+ 'variable)
        (documentation 'doc-mac 'variable) (doc-mac (a b))))
=> ("Quotes X." "A variable." "A parameter." "A constant." NIL (A B))

;; The library's own documentation is in the system files.
(stringp (documentation 'documentation 'function))
=> T

;; --- SETF of DOCUMENTATION

(list (setf (documentation 'doc-double 'function) "Twice X.")
      (documentation 'doc-double 'function))
=> ("Twice X." "Twice X.")

(progn (setf (documentation 'doc-double 'function) nil)
       (documentation 'doc-double 'function))
=> NIL

;; Both forms of DEFSETF and DEFINE-SETF-EXPANDER record their text under
;; SETF, and the definition without it still expands.
(defun doc-cell-ref (c) (car c))
=> DOC-CELL-REF

(progn (defsetf doc-cell-ref rplaca "Short form.")
       (defsetf doc-cell-long (c) (new) "Long form." (list 'progn (list 'rplaca c new) new))
       (define-setf-expander doc-cell-exp (c)
         "Expander."
         (let ((v (gensym)) (s (gensym)))
           (values (list v) (list c) (list s) (list 'rplaca v s) (list 'car v))))
       (let ((c (list 1)) (d (list 2)) (e (list 3)))
         (setf (doc-cell-ref c) 10 (doc-cell-long d) 20 (doc-cell-exp e) 30)
         (list c d e (documentation 'doc-cell-ref 'setf) (documentation 'doc-cell-long 'setf)
               (documentation 'doc-cell-exp 'setf))))
=> ((10) (20) (30) "Short form." "Long form." "Expander.")

;; A (SETF name) function is documented as the place of name.
(progn (setf (documentation '(setf doc-place) 'function) "Sets the place.")
       (list (documentation 'doc-place 'setf) (documentation '(setf doc-place) 'function)))
=> ("Sets the place." "Sets the place.")

;; Texts the user sets stand in front of the system's.
(let ((old (documentation 'documentation 'function)))
  (setf (documentation 'documentation 'function) "Mine.")
  (prog1 (documentation 'documentation 'function)
    (setf (documentation 'documentation 'function) nil)
    (if (not (equal (documentation 'documentation 'function) old))
        (error "the system text is lost"))))
=> "Mine."

;; Objects that have no documentation of a kind.
(list (documentation "a string" 'function) (documentation '(1 2) 'variable))
=> (NIL NIL)

(defun error-text (form-thunk)
  (multiple-value-bind (v e) (%catch-error (funcall form-thunk))
    (apply #'format nil (third e) (cdddr e))))

(error-text (lambda () (documentation 'doc-double "FUNCTION")))
=> "\"FUNCTION\" is not a documentation type"

(error-text (lambda () (setf (documentation 'doc-double 'function) 42)))
=> "42 is not a documentation string"

;; --- the store's built-ins

(progn (%doc-store 'doc-key 'function "Under FUNCTION")
       (%doc-store 'doc-key 'variable "Under VARIABLE")
       (%doc-store 'doc-key 7 "Under seven")
       (%doc-lookup 'doc-key nil))
=> ((FUNCTION . "Under FUNCTION") (VARIABLE . "Under VARIABLE") (7 . "Under seven"))

(list (%doc-store 'doc-key 'variable nil) (%doc-lookup 'doc-key 'variable)
      (%doc-lookup 'doc-key 7) (%doc-lookup #\x 'function))
=> (NIL NIL "Under seven" NIL)

(%doc-lookup "doc-key" 'function)
!! 4146 "doc-key"

(%doc-store 'doc-key '(a) "text")
!! 4146 (A)

(%doc-store 'doc-key 'function 5)
!! 5170 5

;; Packing in place and back: 26 blanks pack as 25 and one plain blank.
(let* ((text (concatenate 'string "a" (make-string 26 :initial-element #\Space) "b"))
       (packed (%doc-pack (copy-seq text))))
  (list (length text) (length packed) (char-code (char packed 1)) (char-code (char packed 2))
        (same-text (%doc-unpack packed) text)))
=> (28 5 9 25 T)

(let ((s "nothing to unpack")) (eq (%doc-unpack s) s))
=> T

;; --- message texts from 40 up

;; An error prints its own text with its objects, not the stand-in.
(error-text (lambda () (car 5)))
=> "The argument 5 is of the wrong type or out of range"

(error-text (lambda () (doc-no-such-function 1)))
=> "The function DOC-NO-SUCH-FUNCTION is undefined"

(error-text (lambda () (format nil "~D")))
=> "Bad FORMAT control string \"~D\" at position 2: no argument is left for a directive"

;; ERROR with an error code as its datum prints that error's text.
(error-text (lambda () (error #x1430 'doc-var)))
=> "The variable DOC-VAR is unbound"

;; A number documented under ERROR stands for that text, in ERROR and WARN.
(progn (%doc-store 4242 'error "Custom ~A failure")
       (error-text (lambda () (error 4242 'disk))))
=> "Custom DISK failure"

(warn 4242 'disk)
-> Warning: Custom DISK failure
=> NIL

;; Every message the kernel uses exists and formats with as many objects as
;; its codes carry: (message objects...) for each.  Continuation texts get
;; the objects of their error; the reports get their arguments.
(let ((failed nil))
  (dolist (use '((40 . 7) (41 . 4) (43 . 1) (44 . 0) (45 . 0) (46 . 0) (47 . 0)
                 (48 . 1) (49 . 1) (50 . 1) (51 . 0) (51 . 1) (52 . 0) (52 . 1)
                 (53 . 1) (54 . 1) (55 . 1) (56 . 2) (57 . 1) (57 . 2) (58 . 2)
                 (59 . 1) (60 . 1) (60 . 2) (61 . 1) (62 . 1) (63 . 1) (64 . 1)
                 (67 . 1) (68 . 1) (68 . 2) (68 . 4) (69 . 1) (70 . 0) (71 . 1)
                 (72 . 4) (73 . 4) (74 . 2) (75 . 1) (76 . 2) (77 . 1) (78 . 1)
                 (79 . 1) (79 . 2) (80 . 1) (81 . 1) (83 . 2) (84 . 1) (85 . 2)
                 (100 . 1) (134 . 1)))
    (let ((text (%doc-lookup nil (car use)))
          (objects (subseq (list #\( #\x 3 'd 'e 'f 'g) 0 (cdr use))))
      (if (or (not (stringp text))
              (second (multiple-value-list
                       (%catch-error (apply #'format nil text objects)))))
          (setq failed (cons use failed)))))
  failed)
=> NIL

;; FORMAT errors run the text of their sub-code over the control string,
;; the position and the sub-code.
(let ((failed nil))
  (dolist (sub '(50 51 66 71))
    (if (second (multiple-value-list
                 (%catch-error (format nil (%doc-lookup nil 65) (%doc-lookup nil sub) "~D" 2 sub))))
        (setq failed (cons sub failed))))
  failed)
=> NIL
