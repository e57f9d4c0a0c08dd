;;;; Sequence functions beyond the built-ins, and the standard face of hash
;;;; tables.
;;;;
;;;; A sequence is a list, a simple vector or a string.  Every function here
;;;; takes the standard keywords and checks its arguments as the sequence
;;;; built-ins do: a range must lie within the sequence, a list whose range
;;;; is taken must be proper.  Where a built-in already runs the loop, the
;;;; function is written as a call of it: the -IF forms pass the predicate
;;;; as the item and FUNCALL as the test, which the built-ins call as
;;;; test(item, element).

;;; ---------------------------------------------------------------------
;;; Argument checks (macros, so that an error names the function called)

;; The length of SEQ, a variable: a list must be proper.
(defmacro %seq-length (seq)
  (let ((n (gensym)) (l (gensym)))
    `(cond ((listp ,seq)
            (do ((,n 0 (1+ ,n))
                 (,l ,seq (cdr ,l)))
                ((atom ,l)
                 (%seq-check (null ,l) ,seq "a proper list")
                 ,n)))
           (t
            (%seq-check (%sequencep ,seq) ,seq "a sequence")
            (length ,seq)))))

;; START and END (variables) against a sequence of LENGTH elements; an END
;; of NIL becomes LENGTH.
(defmacro %seq-range (start end length)
  `(progn
     (%seq-check (and (integerp ,start) (<= 0 ,start ,length)) ,start
                 "a valid start index")
     (cond ((null ,end) (setq ,end ,length))
           ((and (integerp ,end) (< ,end ,start))
            (error "The start index ~S is greater than the end index ~S"
                   ,start ,end))
           (t (%seq-check (and (integerp ,end) (<= ,end ,length)) ,end
                          "a valid end index")))))

(defmacro %seq-check-count (count)
  `(%seq-check (or (null ,count) (integerp ,count)) ,count "a valid count"))

;; Whether element X (an expression) matches ITEM under the test protocol,
;; the key applied to X.
(defmacro %seq-match (item test test-not key x)
  (let ((y (gensym)))
    `(let ((,y ,x))
       (%seq-test ,test ,test-not ,item (if ,key (funcall ,key ,y) ,y)))))

;; A fresh list of the elements of SEQ from START below END (valid).
(defun %seq-range-list (seq start end)
  (if (listp seq)
      (subseq seq start end)
      (do ((i (1- end) (1- i))
           (l nil (cons (elt seq i) l)))
          ((< i start) l))))

;; A fresh simple vector of the elements of SEQ from START below END.
(defun %seq-range-vector (seq start end)
  (let ((v (make-array (- end start))))
    (if (listp seq)
        (do ((l (nthcdr start seq) (cdr l))
             (i 0 (1+ i)))
            ((>= i (- end start)))
          (%set-svref v i (car l)))
        (do ((i start (1+ i)))
            ((>= i end))
          (%set-svref v (- i start) (elt seq i))))
    v))

;; A result type of the sequence functions, taken apart: three values,
;; the kind of sequence it names (LIST, STRING or VECTOR, the kinds the
;; kernel makes; NIL for a type that is no sequence type), the length it
;; demands (an integer, or NIL for any), and the element type (T for
;; lists).  NULL demands length 0; CONS is given the length :NONEMPTY.
(defun %sequence-type (type)
  (cond
    ((symbolp type)
     (case type
       ((list sequence) (values 'list nil t))
       (null (values 'list 0 t))
       (cons (values 'list :nonempty t))
       ((string simple-string base-string simple-base-string)
        (values 'string nil 'character))
       ((vector simple-vector array simple-array) (values 'vector nil t))
       ((bit-vector simple-bit-vector) (values 'vector nil 'bit))
       (t (%expanded-sequence-type type nil))))
    ((consp type)
     (let ((head (car type))
           (args (cdr type)))
       (case head
         (cons (values 'list :nonempty t))
         ((string simple-string base-string simple-base-string)
          (values 'string (%sequence-type-size (car args)) 'character))
         (simple-vector (values 'vector (%sequence-type-size (car args)) t))
         ((bit-vector simple-bit-vector)
          (values 'vector (%sequence-type-size (car args)) 'bit))
         (vector
          (let ((element-type (if args (car args) '*)))
            (values (if (and (not (eq element-type '*))
                             (eq (upgraded-array-element-type element-type) 'character))
                        'string
                        'vector)
                    (%sequence-type-size (cadr args))
                    (if (eq element-type '*) t element-type))))
         ((array simple-array)
          (let ((element-type (if args (car args) '*))
                (dims (if (cdr args) (cadr args) '*)))
            (cond ((not (or (eq dims '*) (eql dims 1)
                            (and (consp dims) (null (cdr dims)))))
                   nil)
                  (t (values (if (and (not (eq element-type '*))
                                      (eq (upgraded-array-element-type element-type)
                                          'character))
                                 'string
                                 'vector)
                             (if (consp dims) (%sequence-type-size (car dims)) nil)
                             (if (eq element-type '*) t element-type))))))
         (t (%expanded-sequence-type head args)))))
    ((typep type 'class) (%sequence-type (class-name type)))
    (t nil)))

(defun %sequence-type-size (size)
  (cond ((or (null size) (eq size '*)) nil)
        ((and (integerp size) (>= size 0)) size)
        (t (error "~S is not a length in a sequence type" size))))

;; A type defined with DEFTYPE (whose expander lisp/30-types.lsp keeps
;; on the name) is what it expands to.
(defun %expanded-sequence-type (name args)
  (let ((expander (and name (symbolp name) (get name '%type-expander))))
    (when expander
      (multiple-value-bind (expansion failure)
          (%catch-error (apply expander args))
        (if failure nil (%sequence-type expansion))))))

;; The kind alone, or NIL.
(defun %seq-result-kind (type)
  (values (%sequence-type type)))

;; The sequence RESULT made for TYPE, after checking that its length is
;; the one TYPE demands (LENGTH, from %SEQUENCE-TYPE).
(defun %seq-fit (result type length)
  (cond ((null length) result)
        ((eq length :nonempty)
         (%seq-check (consp result) type "a type that an empty sequence has")
         result)
        ((= (length result) length) result)
        (t (error "A sequence of length ~D is not of the type ~S" (length result) type))))

;; A sequence of KIND (as above) holding the elements of LIST.
(defun %seq-from-list (kind list)
  (cond ((eq kind 'list) list)
        ((eq kind 'string) (coerce list 'string))
        (t (coerce list 'vector))))

;; The result types the kernel's CONCATENATE and MAP know are the three
;; kinds; the standard functions take every sequence type.  (%SEQ-CHECK
;; is not used in CONCATENATE: its expansion calls CONCATENATE.)
(unless (fboundp '%kernel-concatenate)
  (%set-symbol-function '%kernel-concatenate (symbol-function 'concatenate))
  (%set-symbol-function '%kernel-map (symbol-function 'map)))

(defun concatenate (result-type &rest sequences)
  "A new sequence of RESULT-TYPE holding the elements of all SEQUENCES in
order."
  (if (member result-type '(string list vector))
      (apply (function %kernel-concatenate) result-type sequences)
      (%concatenate-typed result-type sequences)))

(defun %concatenate-typed (result-type sequences)
  (multiple-value-bind (kind length) (%sequence-type result-type)
    (unless kind (error "~S is not a sequence type" result-type))
    (%seq-fit (apply (function %kernel-concatenate) kind sequences) result-type length)))

(defun map (result-type function sequence &rest more-sequences)
  "Call FUNCTION on the elements of the sequences taken in step, as long
as the shortest lasts; the results as a sequence of RESULT-TYPE, or NIL
when RESULT-TYPE is NIL."
  (if (null result-type)
      (apply (function %kernel-map) nil function sequence more-sequences)
      (multiple-value-bind (kind length) (%sequence-type result-type)
        (%seq-check kind result-type "a sequence type")
        (%seq-fit (apply (function %kernel-map) kind function sequence more-sequences)
                  result-type length))))

;;; ---------------------------------------------------------------------
;;; Hash tables

;; The built-in wants the test as a function; the standard function takes
;; the name as well.  The four tests are the built-ins as they are now,
;; whatever becomes of the names later.
(unless (fboundp '%kernel-make-hash-table)
  (%set-symbol-function '%kernel-make-hash-table
                        (symbol-function 'make-hash-table)))

(defparameter %hash-table-tests
  (list (cons 'eq (function eq)) (cons 'eql (function eql))
        (cons 'equal (function equal)) (cons 'equalp (function equalp))))

(defun %hash-table-test-function (test)
  (cdr (if (symbolp test)
           (assoc test %hash-table-tests)
           (rassoc test %hash-table-tests))))

(defun make-hash-table (&key (test 'eql) (size 12) rehash-size
                             rehash-threshold)
  (let ((fn (%hash-table-test-function test)))
    (%seq-check fn test "a hash-table test: EQ, EQL, EQUAL or EQUALP")
    (%seq-check (and (integerp size) (>= size 0)) size
                "a valid hash-table size")
    (%seq-check (or (null rehash-size) (numberp rehash-size)) rehash-size
                "a valid rehash size")
    (%seq-check (or (null rehash-threshold) (numberp rehash-threshold))
                rehash-threshold "a valid rehash threshold")
    (%kernel-make-hash-table :test fn :size size)))

;; Whether K2 finds the entry stored under K1.  The table keeps its
;; entries: an entry K1 found is given its value back, one added is
;; removed again.
(defun %hash-probe (table k1 k2)
  (multiple-value-bind (old present) (gethash k1 table)
    (%puthash k1 table table)
    (unwind-protect
         (multiple-value-bind (value found) (gethash k2 table)
           found)
      (if present
          (%puthash k1 table old)
          (remhash k1 table)))))

;; No built-in tells a table's test, so it is found by how the table treats
;; keys that are alike but not identical: two equal doubles (EQ tells them
;; apart), two equal strings (EQL does) and two strings that differ in case
;; (EQUAL does).
(defun hash-table-test (table)
  (%seq-check (hash-table-p table) table "a hash table")
  (let ((name "%hash-table-test"))
    (cond ((not (%hash-probe table (/ 1.0 7340033) (/ 1.0 7340033))) 'eq)
          ((not (%hash-probe table (copy-seq name) (copy-seq name))) 'eql)
          ((%hash-probe table (copy-seq name) (string-upcase name)) 'equalp)
          (t 'equal))))

;; The capacity: the number of key slots, as the printer shows it after
;; the count ("#<Hash-table count/capacity>").
(defun hash-table-size (table)
  (%seq-check (hash-table-p table) table "a hash table")
  (let* ((text (write-to-string table))
         (n 0))
    (do ((i (1+ (position #\/ text)) (1+ i)))
        ((not (%digit-char-p (char text i))) n)
      (setq n (+ (* n 10) (- (char-code (char text i)) 48))))))

;; A table grows by a quarter when no more than an eighth of its slots is
;; free.
(defun hash-table-rehash-size (table)
  (%seq-check (hash-table-p table) table "a hash table")
  1.25)

(defun hash-table-rehash-threshold (table)
  (%seq-check (hash-table-p table) table "a hash table")
  0.875)

;; The entries of TABLE as a list of (key . value).
(defun %hash-table-entries (table)
  (%seq-check (hash-table-p table) table "a hash table")
  (let ((entries nil))
    (maphash (function (lambda (k v) (setq entries (cons (cons k v) entries))))
             table)
    entries))

;; A closure that gives T, a key and its value for each entry of TABLE in
;; turn, then NIL.  The entries are taken when it is made.
(defun %hash-table-iterator (table)
  (let ((entries (%hash-table-entries table)))
    (function
     (lambda ()
       (if entries
           (let ((e (car entries)))
             (setq entries (cdr entries))
             (values t (car e) (cdr e)))
           nil)))))

;; (NAME) inside the body steps through the entries.  NAME is given the
;; iterator as its function for the extent of the body and has its former
;; definition back afterwards, as with LABELS.
(defmacro with-hash-table-iterator (spec &rest body)
  (let ((name (car spec))
        (old (gensym)))
    `(let ((,old (if (fboundp ',name) (symbol-function ',name))))
       (unwind-protect
            (progn
              (%set-symbol-function ',name (%hash-table-iterator ,(cadr spec)))
              ,@body)
         (if ,old
             (%set-symbol-function ',name ,old)
             (fmakunbound ',name))))))

;;; ---------------------------------------------------------------------
;;; Searching

(defun find-if (predicate sequence &key from-end (start 0) end key)
  (find predicate sequence :test (function funcall) :from-end from-end
        :start start :end end :key key))

(defun find-if-not (predicate sequence &key from-end (start 0) end key)
  (find predicate sequence :test-not (function funcall) :from-end from-end
        :start start :end end :key key))

(defun position-if (predicate sequence &key from-end (start 0) end key)
  (position predicate sequence :test (function funcall) :from-end from-end
            :start start :end end :key key))

(defun position-if-not (predicate sequence &key from-end (start 0) end key)
  (position predicate sequence :test-not (function funcall)
            :from-end from-end :start start :end end :key key))

(defun count (item sequence &key from-end (start 0) end key test test-not)
  (%seq-check-tests test test-not)
  (let ((n (%seq-length sequence))
        (c 0))
    (%seq-range start end n)
    (if (listp sequence)
        (do ((l (nthcdr start sequence) (cdr l))
             (i start (1+ i)))
            ((>= i end))
          (when (%seq-match item test test-not key (car l))
            (setq c (1+ c))))
        (do ((i start (1+ i)))
            ((>= i end))
          (when (%seq-match item test test-not key (elt sequence i))
            (setq c (1+ c)))))
    c))

(defun count-if (predicate sequence &key from-end (start 0) end key)
  (count predicate sequence :test (function funcall) :from-end from-end
         :start start :end end :key key))

(defun count-if-not (predicate sequence &key from-end (start 0) end key)
  (count predicate sequence :test-not (function funcall) :from-end from-end
         :start start :end end :key key))

;; The position in SEQUENCE2 of the first (with :FROM-END the last) range
;; that matches SEQUENCE1's range element for element.  Each candidate is
;; compared by MISMATCH; a list is searched through a vector of its range,
;; since MISMATCH would walk the list afresh for every candidate.
(defun search (sequence1 sequence2 &key from-end test test-not key
                                       (start1 0) end1 (start2 0) end2)
  (%seq-check-tests test test-not)
  (let ((n1 (%seq-length sequence1))
        (n2 (%seq-length sequence2))
        (offset 0))
    (%seq-range start1 end1 n1)
    (%seq-range start2 end2 n2)
    (when (listp sequence1)
      (setq sequence1 (%seq-range-vector sequence1 start1 end1)
            end1 (- end1 start1)
            start1 0))
    (when (listp sequence2)
      (setq sequence2 (%seq-range-vector sequence2 start2 end2)
            offset start2
            end2 (- end2 start2)
            start2 0))
    (let* ((len (- end1 start1))
           (match-at
            (function
             (lambda (p)
               (null
                (cond (test
                       (mismatch sequence1 sequence2 :test test :key key
                                 :start1 start1 :end1 end1
                                 :start2 p :end2 (+ p len)))
                      (test-not
                       (mismatch sequence1 sequence2 :test-not test-not
                                 :key key :start1 start1 :end1 end1
                                 :start2 p :end2 (+ p len)))
                      (t
                       (mismatch sequence1 sequence2 :key key
                                 :start1 start1 :end1 end1
                                 :start2 p :end2 (+ p len)))))))))
      (if from-end
          (do ((p (- end2 len) (1- p)))
              ((< p start2) nil)
            (when (funcall match-at p) (return (+ p offset))))
          (do ((p start2 (1+ p)))
              ((> p (- end2 len)) nil)
            (when (funcall match-at p) (return (+ p offset))))))))

;;; ---------------------------------------------------------------------
;;; Removing

(defun remove-if-not (predicate sequence &key from-end (start 0) end count
                                             key)
  (remove predicate sequence :test-not (function funcall)
          :from-end from-end :start start :end end :count count :key key))

(defun delete-if (predicate sequence &key from-end (start 0) end count key)
  (delete predicate sequence :test (function funcall)
          :from-end from-end :start start :end end :count count :key key))

(defun delete-if-not (predicate sequence &key from-end (start 0) end count
                                             key)
  (delete predicate sequence :test-not (function funcall)
          :from-end from-end :start start :end end :count count :key key))

;; The hash-table test that decides duplicates as TEST does, or NIL when
;; only pairwise comparison will do.
(defun %dup-hash-test (test test-not)
  (cond (test-not nil)
        ((null test) (function eql))
        (t (%hash-table-test-function test))))

;; For the elements of ELEMS (a list), T for each that is kept and NIL for
;; each that matches another: of two matching elements the later one is
;; kept, the earlier one with FROM-END.  Standard tests go through hash
;; tables (a new one whenever the last is near the entry limit of a table);
;; since they are equivalences, only the elements kept need entering.
;; Other tests need not be: each element is compared with every element
;; on its kept side, as test(earlier, later).
(defun %dup-flags (elems from-end test test-not key)
  (let* ((keys (if key (mapcar key elems) elems))
         (order (if from-end keys (reverse keys)))
         (flags nil)
         (hash-test (%dup-hash-test test test-not)))
    (if hash-test
        (let ((tables nil))
          (dolist (k order)
            (if (dolist (h tables nil)
                  (multiple-value-bind (v found) (gethash k h)
                    (when found (return t))))
                (setq flags (cons nil flags))
                (progn
                  (when (or (null tables)
                            (>= (hash-table-count (car tables)) 50000))
                    (setq tables (cons (%kernel-make-hash-table
                                        :test hash-test :size 100)
                                       tables)))
                  (%puthash k (car tables) t)
                  (setq flags (cons t flags))))))
        (let ((seen nil))
          (dolist (k order)
            (if (do ((s seen (cdr s)))
                    ((null s) nil)
                  (when (if from-end
                            (%seq-test test test-not (car s) k)
                            (%seq-test test test-not k (car s)))
                    (return t)))
                (setq flags (cons nil flags))
                (setq flags (cons t flags)))
            (setq seen (cons k seen)))))
    (if from-end (nreverse flags) flags)))

;; The elements of ELEMS whose flag is T; ELEMS is reused.
(defun %keep-flagged (elems flags)
  (let* ((head (list nil))
         (tail head))
    (do ((l elems (cdr l))
         (f flags (cdr f)))
        ((null l) (rplacd tail nil) (cdr head))
      (when (car f)
        (rplacd tail l)
        (setq tail l)))))

(defun remove-duplicates (sequence &key from-end test test-not (start 0) end
                                        key)
  (%seq-check-tests test test-not)
  (let ((n (%seq-length sequence)))
    (%seq-range start end n)
    (let* ((elems (%seq-range-list sequence start end))
           (kept (%keep-flagged elems
                                (%dup-flags elems from-end test test-not key))))
      (if (listp sequence)
          (nconc (subseq sequence 0 start) kept (nthcdr end sequence))
          (concatenate (if (stringp sequence) 'string 'vector)
                       (subseq sequence 0 start) kept (subseq sequence end))))))

;; A list loses its duplicate cells in place; a vector or string gives a
;; new one, as REMOVE-DUPLICATES.
(defun delete-duplicates (sequence &key from-end test test-not (start 0) end
                                        key)
  (%seq-check-tests test test-not)
  (let ((n (%seq-length sequence)))
    (%seq-range start end n)
    (if (listp sequence)
        (let* ((head (cons nil sequence))
               (before (if (= start 0) head (nthcdr (1- start) sequence))))
          (dolist (keep (%dup-flags (subseq sequence start end) from-end
                                    test test-not key))
            (if keep
                (setq before (cdr before))
                (rplacd before (cddr before))))
          (cdr head))
        (remove-duplicates sequence :from-end from-end :test test
                           :test-not test-not :start start :end end
                           :key key))))

;;; ---------------------------------------------------------------------
;;; Substituting

;; Stores NEW in place of the matching elements of SEQUENCE in the range
;; (already checked), at most COUNT of them, the last ones with FROM-END.
(defun %nsubstitute (new item sequence start end count from-end test test-not
                     key)
  (if (listp sequence)
      (let ((skip 0))
        ;; From the end on a list: count the matches, then pass over all
        ;; but the last COUNT of them.
        (when (and count from-end)
          (let ((m 0))
            (do ((l (nthcdr start sequence) (cdr l))
                 (i start (1+ i)))
                ((>= i end))
              (when (%seq-match item test test-not key (car l))
                (setq m (1+ m))))
            (setq skip (max 0 (- m count)))))
        (do ((l (nthcdr start sequence) (cdr l))
             (i start (1+ i)))
            ((or (>= i end) (and count (<= count 0))))
          (when (%seq-match item test test-not key (car l))
            (if (> skip 0)
                (setq skip (1- skip))
                (progn
                  (rplaca l new)
                  (when count (setq count (1- count))))))))
      (if from-end
          (do ((i (1- end) (1- i)))
              ((or (< i start) (and count (<= count 0))))
            (when (%seq-match item test test-not key (elt sequence i))
              (%setelt sequence i new)
              (when count (setq count (1- count)))))
          (do ((i start (1+ i)))
              ((or (>= i end) (and count (<= count 0))))
            (when (%seq-match item test test-not key (elt sequence i))
              (%setelt sequence i new)
              (when count (setq count (1- count)))))))
  sequence)

(defun nsubstitute (new old sequence &key from-end test test-not (start 0)
                                          end count key)
  (%seq-check-tests test test-not)
  (%seq-check-count count)
  (let ((n (%seq-length sequence)))
    (%seq-range start end n)
    (%nsubstitute new old sequence start end count from-end test test-not
                  key)))

(defun substitute (new old sequence &key from-end test test-not (start 0)
                                         end count key)
  (%seq-check-tests test test-not)
  (%seq-check-count count)
  (let ((n (%seq-length sequence)))
    (%seq-range start end n)
    (%nsubstitute new old (copy-seq sequence) start end count from-end test
                  test-not key)))

(defun substitute-if (new predicate sequence &key from-end (start 0) end
                                                  count key)
  (substitute new predicate sequence :test (function funcall)
              :from-end from-end :start start :end end :count count
              :key key))

(defun substitute-if-not (new predicate sequence &key from-end (start 0) end
                                                      count key)
  (substitute new predicate sequence :test-not (function funcall)
              :from-end from-end :start start :end end :count count
              :key key))

(defun nsubstitute-if (new predicate sequence &key from-end (start 0) end
                                                   count key)
  (nsubstitute new predicate sequence :test (function funcall)
               :from-end from-end :start start :end end :count count
               :key key))

(defun nsubstitute-if-not (new predicate sequence &key from-end (start 0) end
                                                       count key)
  (nsubstitute new predicate sequence :test-not (function funcall)
               :from-end from-end :start start :end end :count count
               :key key))

;;; ---------------------------------------------------------------------
;;; Sorting and merging

;; Merges two sorted lists by relinking their cells.  On a tie the element
;; of A comes first, which keeps a merge sort stable.
(defun %merge-lists (a b predicate key)
  (let* ((head (list nil))
         (tail head))
    (do ()
        ((or (null a) (null b))
         (rplacd tail (if a a b))
         (cdr head))
      (if (if key
              (funcall predicate (funcall key (car b)) (funcall key (car a)))
              (funcall predicate (car b) (car a)))
          (progn (rplacd tail b) (setq tail b b (cdr b)))
          (progn (rplacd tail a) (setq tail a a (cdr a)))))))

;; Bottom-up merge sort of a proper list.  Bin i holds a sorted run of
;; 2^i cells or nothing; each cell is carried in as a run of one, like a
;; binary counter.  A higher bin always holds earlier elements, so merging
;; it in front keeps equal elements in their order.
(defun %sort-list (list predicate key)
  (let ((bins (make-array 32 :initial-element nil))
        (top 0))
    (do ((l list))
        ((atom l))
      (let ((run l)
            (i 0))
        (setq l (cdr l))
        (rplacd run nil)
        (do ()
            ((null (svref bins i)))
          (setq run (%merge-lists (svref bins i) run predicate key))
          (%set-svref bins i nil)
          (setq i (1+ i)))
        (%set-svref bins i run)
        (when (> i top) (setq top i))))
    (let ((result nil))
      (do ((i 0 (1+ i)))
          ((> i top) result)
        (when (svref bins i)
          (setq result (%merge-lists (svref bins i) result predicate key)))))))

(defun stable-sort (sequence predicate &key key)
  (%seq-length sequence)
  (if (listp sequence)
      (%sort-list sequence predicate key)
      (let ((sorted (%sort-list (coerce sequence 'list) predicate key)))
        (do ((l sorted (cdr l))
             (i 0 (1+ i)))
            ((null l) sequence)
          (%setelt sequence i (car l))))))

;; The kernel's SORT picks each place's element by scanning the rest, which
;; is quick for a few elements and quadratic for many; longer sequences
;; take the merge sort above.
(%set-symbol-function '%kernel-sort (symbol-function 'sort))

(defun sort (sequence predicate &key key)
  (if (< (length sequence) 24)
      (if key
          (%kernel-sort sequence predicate :key key)
          (%kernel-sort sequence predicate))
      (stable-sort sequence predicate :key key)))

(defun merge (result-type sequence1 sequence2 predicate &key key)
  "Merge two sequences sorted by PREDICATE into one of RESULT-TYPE; of two
equal elements the one of SEQUENCE1 comes first."
  (multiple-value-bind (kind length) (%sequence-type result-type)
    (%seq-check kind result-type "a sequence type")
    (%seq-length sequence1)
    (%seq-length sequence2)
    (%seq-fit (%seq-from-list kind
                              (%merge-lists (if (listp sequence1)
                                                sequence1
                                                (coerce sequence1 'list))
                                            (if (listp sequence2)
                                                sequence2
                                                (coerce sequence2 'list))
                                            predicate key))
              result-type length)))

;;; ---------------------------------------------------------------------
;;; Making and filling

(defun make-sequence (type size &key (initial-element nil initial-p))
  "A new sequence of TYPE and length SIZE, every element INITIAL-ELEMENT."
  (multiple-value-bind (kind length element-type) (%sequence-type type)
    (%seq-check kind type "a sequence type")
    (%seq-check (and (integerp size) (>= size 0)) size "a valid length")
    (cond ((null length))
          ((eq length :nonempty)
           (%seq-check (> size 0) size "a length a CONS type allows"))
          (t (%seq-check (= size length) size "the length the type demands")))
    (cond ((eq kind 'list) (make-list size :initial-element initial-element))
          ((eq kind 'string)
           (make-string size :initial-element (if initial-p initial-element #\Space)))
          (initial-p (make-array size :initial-element initial-element))
          (t (make-array size :element-type element-type)))))

;; Stores FUNCTION of the elements of SEQUENCES, taken in step, into
;; RESULT-SEQUENCE, until the result or one of the sequences is exhausted.
(defun map-into (result-sequence function &rest sequences)
  (%seq-check (%sequencep result-sequence) result-sequence "a sequence")
  (dolist (s sequences)
    (%seq-check (%sequencep s) s "a sequence"))
  (let ((states (copy-list sequences))
        (n (if (listp result-sequence) nil (length result-sequence))))
    (do ((i 0 (1+ i))
         (cell result-sequence))
        ((if n (>= i n) (atom cell)) result-sequence)
      (let ((args nil))
        (when (do ((s states (cdr s)))
                  ((null s) nil)
                (let ((x (car s)))
                  (cond ((consp x)
                         (setq args (cons (car x) args))
                         (rplaca s (cdr x)))
                        ((listp x) (return t))
                        ((< i (length x)) (setq args (cons (elt x i) args)))
                        (t (return t)))))
          (return result-sequence))
        (let ((v (apply function (nreverse args))))
          (if n
              (%setelt result-sequence i v)
              (progn (rplaca cell v) (setq cell (cdr cell)))))))))

;;; ---------------------------------------------------------------------
;;; Quantifiers beyond SOME and EVERY

(defun notany (predicate sequence &rest more-sequences)
  "True when PREDICATE is false for every set of elements of the sequences
taken in step."
  (not (apply (function some) predicate sequence more-sequences)))

(defun notevery (predicate sequence &rest more-sequences)
  "True when PREDICATE is false for at least one set of elements of the
sequences taken in step."
  (not (apply (function every) predicate sequence more-sequences)))
