;;;; DOCUMENTATION and (SETF DOCUMENTATION) over the documentation store.
;;;;
;;;; The store keeps a text under two keys: the documented name and the
;;;; kind of documentation, a symbol.  Defining forms record their
;;;; documentation strings under FUNCTION (functions and macros), VARIABLE
;;;; (variables and constants), SETF (place expanders) and TYPE (DEFTYPE);
;;;; structures and classes use STRUCTURE and TYPE.  Texts the user sets
;;;; here go to the user's documentation files and stand in front of the
;;;; system's own.  A generic function is documented under its name; a
;;;; method keeps its documentation itself.

;; The pair of keys for (DOCUMENTATION x doc-type), or NIL and NIL when x
;; can have no documentation of that kind.  A function name (SETF name)
;; is documented as the place expander of name; a class by its name.
(defun %documentation-keys (x doc-type)
  (if (or (null doc-type) (not (symbolp doc-type)))
      (error "~S is not a documentation type" doc-type))
  (cond ((and (consp x) (eq (car x) 'setf) (consp (cdr x)) (null (cddr x))
              (symbolp (cadr x)) (member doc-type '(function t)))
         (values (cadr x) 'setf))
        ;; A generic function by its name, a method by itself.
        ((and (%generic-function-p x) (member doc-type '(function t)))
         (let ((name (%gf-name x)))
           (if (consp name) (values (cadr name) 'setf) (values name 'function))))
        ((%method-p x) (values nil nil))
        ((and (typep x 'class) (member doc-type '(t type structure)))
         (values (class-name x) 'type))
        ((or (symbolp x) (characterp x) (typep x 'fixnum))
         (values x doc-type))
        (t (values nil nil))))

(defun documentation (x doc-type)
  "The documentation string of X of the kind DOC-TYPE (FUNCTION, VARIABLE,
TYPE, STRUCTURE, SETF, T or another symbol), or NIL when there is none."
  (multiple-value-bind (name kind) (%documentation-keys x doc-type)
    (cond ((%method-p x) (%method-documentation x))
          ((null kind) nil)
          ((%doc-lookup name kind))
          ;; A structure is also a type, and the other way round.
          ((eq kind 'type) (%doc-lookup name 'structure))
          ((eq kind 'structure) (%doc-lookup name 'type)))))

(defun %set-documentation (x doc-type new-value)
  "Store NEW-VALUE, a string, as the documentation of X of the kind
DOC-TYPE in the user's documentation files; NIL removes it."
  (if (not (or (null new-value) (stringp new-value)))
      (error "~S is not a documentation string" new-value))
  (when (%method-p x)
    (%instance-set x 8 new-value)
    (return-from %set-documentation new-value))
  (multiple-value-bind (name kind) (%documentation-keys x doc-type)
    (if (null kind)
        (error "~S cannot be documented as ~S" x doc-type))
    (%doc-store name kind new-value)
    new-value))

(defsetf documentation %set-documentation)
