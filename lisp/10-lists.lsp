;;;; List functions beyond the built-ins: mapping that splices, list
;;;; construction and access, association lists, property lists and
;;;; destructive tree substitution.
;;;;
;;;; Everything here walks lists with DO loops and tail pointers rather than
;;;; recursion, so lists of any length the cons area holds work; nested
;;;; structure is walked with an explicit stack kept in a list.

;; Argument checks.  A macro, so that ERROR is called from the function
;; being checked and the error names that function.  WHAT completes the
;; sentence "X is not ...".
(defmacro %seq-check (test object what)
  `(unless ,test
     (error ,(concatenate 'string "~S is not " what) ,object)))

;; The :TEST / :TEST-NOT protocol of the list built-ins as one call:
;; test(a, b), the negation of test-not(a, b), or EQL.
(defmacro %seq-test (test test-not a b)
  `(cond (,test (funcall ,test ,a ,b))
         (,test-not (not (funcall ,test-not ,a ,b)))
         (t (eql ,a ,b))))

;; Both :TEST and :TEST-NOT given is an error, as for the built-ins.
(defmacro %seq-check-tests (test test-not)
  `(when (and ,test ,test-not)
     (error "~S and ~S given together as :TEST and :TEST-NOT"
            ,test ,test-not)))

;;; ---------------------------------------------------------------------
;;; Accessors

(%set-symbol-function 'first (symbol-function 'car))
(%set-symbol-function 'second (symbol-function 'cadr))
(%set-symbol-function 'third (symbol-function 'caddr))
(%set-symbol-function 'rest (symbol-function 'cdr))

(defun fourth (list) (nth 3 list))
(defun fifth (list) (nth 4 list))
(defun sixth (list) (nth 5 list))
(defun seventh (list) (nth 6 list))
(defun eighth (list) (nth 7 list))
(defun ninth (list) (nth 8 list))
(defun tenth (list) (nth 9 list))

;; The length of a proper list, NIL for a circular one.  The fast pointer
;; moves two cells for each of the slow one; they meet only on a cycle.
(defun list-length (list)
  (do ((n 0 (+ n 2))
       (fast list (cddr fast))
       (slow list (cdr slow)))
      (nil)
    (cond ((null fast) (return n))
          ((atom fast) (error "~S is not a proper list" list))
          ((null (cdr fast)) (return (+ n 1)))
          ((atom (cdr fast)) (error "~S is not a proper list" list))
          ((and (eq fast slow) (> n 0)) (return nil)))))

;;; ---------------------------------------------------------------------
;;; Construction

(defun make-list (size &key initial-element)
  (%seq-check (and (integerp size) (>= size 0)) size "a valid list length")
  (do ((i 0 (1+ i))
       (l nil (cons initial-element l)))
      ((>= i size) l)))

;; Joins the lists of a list as NCONC would, without spreading them as
;; arguments (a long list of results would not fit on the stack).
(defun %nconc-list (lists)
  (let* ((head (list nil))
         (tail head))
    (do ((l lists (cdr l)))
        ((atom l) (cdr head))
      (let ((x (car l)))
        (cond ((consp x)
               (rplacd tail x)
               (setq tail (last x)))
              ((null x))
              ((consp (cdr l))
               (error "~S is not a list" x))
              (t (rplacd tail x)))))))

(defun mapcan (function list &rest more-lists)
  (%nconc-list (apply (function mapcar) function list more-lists)))

(defun mapcon (function list &rest more-lists)
  (%nconc-list (apply (function maplist) function list more-lists)))

;;; ---------------------------------------------------------------------
;;; Tails

;; A copy of LIST up to the tail OBJECT (a cons of LIST, or the atom that
;; ends it); all of LIST when OBJECT is no tail of it.
(defun ldiff (list object)
  (%seq-check (listp list) list "a list")
  (let* ((head (list nil))
         (tail head))
    (do ((l list (cdr l)))
        ((or (atom l) (eql l object))
         (unless (eql l object) (rplacd tail l))
         (cdr head))
      (rplacd tail (list (car l)))
      (setq tail (cdr tail)))))

(defun tailp (object list)
  (%seq-check (listp list) list "a list")
  (do ((l list (cdr l)))
      ((atom l) (eql l object))
    (when (eq l object) (return t))))

;;; ---------------------------------------------------------------------
;;; Association and property lists

(defun copy-alist (alist)
  (%seq-check (listp alist) alist "a list")
  (let* ((head (list nil))
         (tail head))
    (do ((l alist (cdr l)))
        ((atom l) (rplacd tail l) (cdr head))
      (let ((x (car l)))
        (rplacd tail (list (if (consp x) (cons (car x) (cdr x)) x)))
        (setq tail (cdr tail))))))

(defun pairlis (keys data &optional alist)
  (do ((k keys (cdr k))
       (d data (cdr d))
       (result alist (cons (cons (car k) (car d)) result)))
      ((or (atom k) (atom d))
       (unless (and (null k) (null d))
         (error "Lists of keys and data of different lengths: ~S and ~S"
                keys data))
       result)))

(defun rassoc (item alist &key test test-not key)
  (%seq-check-tests test test-not)
  (do ((l alist (cdr l)))
      ((atom l) nil)
    (let ((x (car l)))
      (when (and (consp x)
                 (let ((y (if key (funcall key (cdr x)) (cdr x))))
                   (%seq-test test test-not item y)))
        (return x)))))

(defun rassoc-if (predicate alist &key key)
  (do ((l alist (cdr l)))
      ((atom l) nil)
    (let ((x (car l)))
      (when (and (consp x)
                 (funcall predicate (if key (funcall key (cdr x)) (cdr x))))
        (return x)))))

(defun rassoc-if-not (predicate alist &key key)
  (do ((l alist (cdr l)))
      ((atom l) nil)
    (let ((x (car l)))
      (when (and (consp x)
                 (not (funcall predicate
                               (if key (funcall key (cdr x)) (cdr x)))))
        (return x)))))

;; Three values: the first indicator of PLIST that is one of INDICATORS,
;; its value and the tail of PLIST it starts; NIL three times if none.
(defun get-properties (plist indicators)
  (do ((l plist (cddr l)))
      ((atom l) (values nil nil nil))
    (%seq-check (consp (cdr l)) plist "a property list")
    (when (member (car l) indicators :test (function eq))
      (return (values (car l) (cadr l) l)))))

;;; ---------------------------------------------------------------------
;;; Trees

(defun tree-equal (x y &key test test-not)
  (%seq-check-tests test test-not)
  ;; Car subtrees that are themselves conses wait on STACK as pairs of
  ;; their cdrs while the cars are compared; cdr chains are followed in
  ;; the loop itself.
  (let ((stack nil))
    (do () (nil)
      (cond ((and (consp x) (consp y))
             (let ((a (car x)) (b (car y)))
               (cond ((or (consp a) (consp b))
                      (setq stack (cons (cons (cdr x) (cdr y)) stack))
                      (setq x a y b))
                     ((%seq-test test test-not a b)
                      (setq x (cdr x) y (cdr y)))
                     (t (return nil)))))
            ((or (consp x) (consp y)) (return nil))
            ((not (%seq-test test test-not x y)) (return nil))
            ((null stack) (return t))
            (t (setq x (caar stack) y (cdar stack) stack (cdr stack)))))))

;; Destructive substitution: FIND is called on every subtree from the root
;; down and gives NIL, or a cons whose cdr replaces that subtree.  A
;; replaced subtree is not walked into.
(defun %nsubst-walk (find tree)
  (let ((hit (funcall find tree)))
    (cond (hit (cdr hit))
          ((atom tree) tree)
          (t
           (let ((stack (list tree)))
             (do () ((null stack) tree)
               (let ((node (car stack)))
                 (setq stack (cdr stack))
                 (do () (nil)
                   (let* ((a (car node))
                          (h (funcall find a)))
                     (cond (h (rplaca node (cdr h)))
                           ((consp a) (setq stack (cons a stack)))))
                   (let* ((d (cdr node))
                          (h (funcall find d)))
                     (cond (h (rplacd node (cdr h)) (return))
                           ((consp d) (setq node d))
                           (t (return))))))))))))

(defun nsubst (new old tree &key test test-not key)
  (%seq-check-tests test test-not)
  (let ((hit (cons nil new)))
    (%nsubst-walk
     (function
      (lambda (x)
        (let ((y (if key (funcall key x) x)))
          (when (%seq-test test test-not old y) hit))))
     tree)))

(defun nsubst-if (new predicate tree &key key)
  (let ((hit (cons nil new)))
    (%nsubst-walk
     (function
      (lambda (x)
        (when (funcall predicate (if key (funcall key x) x)) hit)))
     tree)))

(defun nsubst-if-not (new predicate tree &key key)
  (let ((hit (cons nil new)))
    (%nsubst-walk
     (function
      (lambda (x)
        (unless (funcall predicate (if key (funcall key x) x)) hit)))
     tree)))

;; SUBST calls its test as test(old, subtree), so the predicate in OLD's
;; place makes FUNCALL the test.
(defun subst-if (new predicate tree &key key)
  (subst new predicate tree :test (function funcall) :key key))

(defun subst-if-not (new predicate tree &key key)
  (subst new predicate tree :test-not (function funcall) :key key))

(defun nsublis (alist tree &key test test-not key)
  (%seq-check-tests test test-not)
  (%nsubst-walk
   (function
    (lambda (x)
      (let ((y (if key (funcall key x) x)))
        (do ((l alist (cdr l)))
            ((atom l) nil)
          (let ((e (car l)))
            (when (and (consp e) (%seq-test test test-not y (car e)))
              (return e)))))))
   tree))

;;; ---------------------------------------------------------------------
;;; The four-letter accessors, CAAAAR to CDDDDR, and their places.  Each
;;; is the kernel's three-letter accessor applied to CAR or CDR, so
;;; (cadadr x) is (cadr (cadr x)) with the first letter's operation on
;;; the outside: the letters read from the left are applied from the
;;; right.

(let ((letters '("AAAA" "AAAD" "AADA" "AADD" "ADAA" "ADAD" "ADDA" "ADDD"
                 "DAAA" "DAAD" "DADA" "DADD" "DDAA" "DDAD" "DDDA" "DDDD")))
  (dolist (l letters)
    (let ((name (intern (concatenate 'string "C" l "R")))
          (outer (intern (concatenate 'string "C" (subseq l 0 3) "R")))
          (inner (if (char= (char l 3) #\A) 'car 'cdr)))
      (eval (list 'defun name '(list) (list outer (list inner 'list))))
      (%putprop name '%reads-only t)
      ;; The cons changed is the one the last three letters reach.
      (%define-cons-place name (if (char= (char l 0) #\A) 'rplaca 'rplacd)
                          (list (intern (concatenate 'string "C" (subseq l 1) "R")))))))
