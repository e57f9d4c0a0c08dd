;;; The sequence library on lists, vectors and strings, and the standard
;;; face of hash tables.  Errors the library signals itself are checked by
;;; their objects, under the codes of the sequence built-ins: 5170 for a
;;; wrong type, 4146 for a bad index or count, 8250 for an end before the
;;; start.

;; The -IF forms run through the built-ins with the predicate as the item.
(list (find-if #'evenp '(1 2 3 4)) (find-if #'evenp '(1 2 3 4) :from-end t)
      (find-if-not #'evenp #(2 4 5 6)) (find-if #'upper-case-p "abCdE" :start 3)
      (position-if #'evenp '(1 3 4)) (position-if-not #'evenp '(2 4 5 7) :from-end t)
      (position-if #'evenp #(1 2 3 4) :end 1) (find-if #'evenp '((1) (2)) :key #'car)
      (find-if #'evenp '()))
=> (2 4 5 #\E 2 3 NIL (2) NIL)

(find-if #'evenp 7)
!! 5170 7

(list (count 1 '(1 2 1 3)) (count #\a "banana") (count 'a #())
      (count 1 '(1 1 1) :start 1 :end 2) (count 3 '(1 2 3 4) :test #'<)
      (count 3 '(1 2 3 4) :test-not #'<) (count 2 '((1) (2) (2)) :key #'car)
      (count-if #'evenp #(1 2 4) :start 1) (count-if-not #'evenp '(1 2 3) :key #'1+)
      (count-if #'upper-case-p "AbC" :from-end t))
=> (2 3 0 1 1 3 2 2 1 2)

(count 1 '(1 2 . 3))
!! 5170 (1 2 . 3)

(count 1 '(1 2) :end 3)
!! 4146 3

(count 1 "abc" :start 2 :end 1)
!! 8250 2 1

(count 1 #(1) :start -1)
!! 4146 -1

(count 1 '(1) :test #'eql :test-not #'eql)
!! 8242

;; SEARCH tries each position through MISMATCH; lists go through vectors.
(list (search "lo" "hello world") (search "o" "hello world" :from-end t)
      (search '(2 3) '(1 2 3 2 3)) (search '(2 3) '(1 2 3 2 3) :from-end t)
      (search "" "abc") (search "" "abc" :from-end t) (search "x" "abc")
      (search "AB" "xab" :test #'char-equal) (search "ab" "xxabxab" :start2 3)
      (search '(a b) '(x a b) :start1 1) (search #(1 2) '(3 1 2))
      (search '((a) (b)) '((x) (a) (b)) :key #'car) (search "abcd" "abc"))
=> (3 7 1 3 0 3 NIL 1 5 2 1 1 NIL)

(let ((l (make-list 100000 :initial-element 0)))
  (rplaca (last l) 1)
  (list (search '(0 1) l) (search '(1 0) l) (search '(0 0) l :from-end t)))
=> (99998 NIL 99997)

(search "a" "abc" :start2 4)
!! 4146 4

;; Removing: the -IF-NOT and DELETE-IF forms, then duplicates.
(list (remove-if-not #'evenp '(1 2 3 4)) (remove-if-not #'evenp #(1 2 3 4) :count 1)
      (remove-if-not #'alpha-char-p "a1b2") (delete-if #'evenp (list 1 2 3 4))
      (delete-if-not #'evenp (vector 1 2 3 4)) (delete-if #'evenp (list 2 2 2) :from-end t :count 2))
=> ((2 4) #(2 3 4) "ab" (1 3) #(2 4) (2))

;; The later of two duplicates stays, the earlier with :FROM-END; outside
;; the range nothing is touched.
(list (remove-duplicates '(a b a c b)) (remove-duplicates '(a b a c b) :from-end t)
      (remove-duplicates "abracadabra") (remove-duplicates "abracadabra" :from-end t)
      (remove-duplicates #(1 2 1 3) :start 1) (remove-duplicates '(1 2 1 2 1) :start 1 :end 4)
      (remove-duplicates '((a 1) (b 2) (a 3)) :key #'car)
      (remove-duplicates '("a" "A" "a") :test #'equal) (remove-duplicates '("a" "A" "a") :test 'equalp)
      (remove-duplicates '(1 1.0 2)) (remove-duplicates '(1 1.0 2) :test #'=) (remove-duplicates '()))
=> ((A C B) (A B C) "cdbra" "abrcd" #(1 2 1 3) (1 1 2 1) ((B 2) (A 3)) ("A" "a") ("a")
=> (1 1.0 2) (1.0 2) NIL)

;; A test that is not an equivalence: every pair counts, kept or not.
(list (remove-duplicates '(1 2 3 4 5) :test-not #'(lambda (a b) (= (mod a 2) (mod b 2))))
      (remove-duplicates '(1 2 3 4 5) :test #'(lambda (a b) (= (mod a 2) (mod b 2))) :from-end t)
      (remove-duplicates '(3 1 2) :test #'<) (remove-duplicates '(3 1 2) :test #'< :from-end t))
=> ((5) (1 2) (3 2) (3 1))

;; DELETE-DUPLICATES reuses the cells of a list.
(let* ((l (list 1 2 1 3 2))
       (r (delete-duplicates l)))
  (list r (eq r (cddr l)) (delete-duplicates (list 1 2 1 3 2) :from-end t)
        (delete-duplicates (list 1 1 1) :start 1) (delete-duplicates (vector 1 1 2))
        (delete-duplicates "aabbc")))
=> ((1 3 2) T (1 2 3) (1 1) #(1 2) "abc")

;; 100000 elements with one hash table per 50000 distinct keys.
(let ((l nil))
  (dotimes (i 100000) (setq l (cons (rem i 60000) l)))
  (let ((r (remove-duplicates l)))
    (list (length r) (car r) (car (last r)) (length (delete-duplicates l :from-end t)))))
=> (60000 59999 0 60000)

;; Substituting: the range, :COUNT from either end, and the -IF forms.
(list (substitute 9 1 '(1 2 1 3 1)) (substitute 9 1 '(1 2 1 3 1) :count 2 :from-end t)
      (substitute 9 1 '(1 2 1 3 1) :count 0) (substitute 9 1 '(1 2 1 3 1) :start 1 :end 4)
      (substitute #\x #\a "banana" :count 2) (substitute #\x #\a "banana" :count 2 :from-end t)
      (substitute 0 2 #(1 2 3 2) :test #'<) (substitute 0 2 '(1 2 3) :test-not #'eql)
      (substitute 'x 2 '((1) (2)) :key #'car) (substitute-if 0 #'oddp #(1 2 3))
      (substitute-if-not 0 #'oddp '(1 2 3)) (substitute-if 'x #'symbolp '(1 a 2 b) :count 1 :from-end t))
=> ((9 2 9 3 9) (1 2 9 3 9) (1 2 1 3 1) (1 2 9 3 1) "bxnxna" "banxnx" #(1 2 0 2) (0 2 0)
=> ((1) X) #(0 2 0) (1 0 3) (1 A 2 X))

;; SUBSTITUTE copies; the N forms change the sequence itself.
(let ((l (list 1 2 1)) (v (vector 1 2 1)) (s (copy-seq "aba")))
  (list (substitute 0 1 l) (copy-list l) (eq (nsubstitute 0 1 l) l) l
        (eq (nsubstitute 0 1 v :from-end t :count 1) v) v
        (nsubstitute-if #\z #'(lambda (c) (char= c #\b)) s) s
        (nsubstitute-if-not 0 #'evenp (list 1 2 3 4) :end 2)))
=> ((0 2 0) (1 2 1) T (0 2 0) T #(1 2 0) "aza" "aza" (0 2 3 4))

(substitute 0 1 '(1 2) :count 'all)
!! 4146 ALL

(substitute #\a #\b (copy-seq "abc") :count nil)
=> "aac"

(nsubstitute 5 #\a (copy-seq "abc"))
!! 5170 5

;; STABLE-SORT keeps equal keys in their order, on lists and vectors.
(list (stable-sort (list 3 1 2) #'<) (stable-sort (vector 3 1 2) #'>)
      (stable-sort (copy-seq "hello") #'char<) (stable-sort nil #'<)
      (stable-sort (list '(b 1) '(a 2) '(b 3) '(a 4) '(a 5)) #'string< :key #'car)
      (stable-sort (vector '(1 a) '(0 b) '(1 c) '(0 d)) #'< :key #'car))
=> ((1 2 3) #(3 2 1) "ehllo" NIL ((A 2) (A 4) (A 5) (B 1) (B 3)) #((0 B) (0 D) (1 A) (1 C)))

(let ((v (vector 2 1)))
  (list (eq (stable-sort v #'<) v) v))
=> (T #(1 2))

(let ((l nil))
  (dotimes (i 20000) (setq l (cons (cons (rem (* i 7919) 1000) i) l)))
  (let ((s (stable-sort l #'< :key #'car))
        (ok t))
    (do ((x s (cdr x)))
        ((null (cdr x)))
      (when (or (> (caar x) (caadr x))
                (and (= (caar x) (caadr x)) (< (cdar x) (cdadr x))))
        (setq ok nil)))
    (list (length s) ok)))
=> (20000 T)

(stable-sort '(1 2 . 3) #'<)
!! 5170 (1 2 . 3)

(list (merge 'list (list 1 3 5) (list 2 3 4) #'<) (merge 'vector #(1 3) '(2) #'<)
      (merge 'string "ace" "bd" #'char<) (merge 'list nil (list 1) #'<)
      (merge 'list (list '(1 a) '(2 a)) (list '(1 b) '(2 b)) #'< :key #'car))
=> ((1 2 3 3 4 5) #(1 2 3) "abcde" (1) ((1 A) (1 B) (2 A) (2 B)))

(merge 'hash-table '(1) '(2) #'<)
!! 5170 HASH-TABLE

(list (make-sequence 'list 2 :initial-element 0) (make-sequence 'string 3 :initial-element #\z)
      (make-sequence 'vector 2) (make-sequence '(vector t) 1 :initial-element 'a)
      (make-sequence 'simple-string 0))
=> ((0 0) "zzz" #(NIL NIL) #(A) "")

;; MAP-INTO stops at the shortest of the result and the sequences.
(list (map-into (list 1 2 3 4) #'+ '(1 2) '(10 20 30)) (map-into (vector 0 0) #'list '(a b c))
      (map-into (make-string 3) #'char-upcase "abc") (map-into (vector 1 2 3) #'(lambda () 7))
      (map-into nil #'+ '(1)) (map-into (list 0 0 0) #'list #(1 2) "abc"))
=> ((11 22 3 4) #((A) (B)) "ABC" #(7 7 7) NIL ((1 #\a) (2 #\b) 0))

(map-into (vector 1) #'+ 5)
!! 5170 5

(map-into (copy-seq "ab") #'+ '(1 2))
!! 5170 1

;; Hash tables: the test given by name or as a function, and read back.
(let ((h (make-hash-table :test 'equal)))
  (%puthash "k" h 1)
  (list (gethash (copy-seq "k") h) (hash-table-test h)
        (hash-table-test (make-hash-table)) (hash-table-test (make-hash-table :test #'eq))
        (hash-table-test (make-hash-table :test 'equalp)) (hash-table-test h)
        (hash-table-count h) (gethash "k" h)))
=> (1 EQUAL EQL EQ EQUALP EQUAL 1 1)

;; Reading the test leaves the entries as they were, also an entry whose
;; key looks like what the test is probed with.
(let ((h (make-hash-table :test 'equalp)))
  (%puthash "%HASH-TABLE-TEST" h 'mine)
  (%puthash (/ 1.0 7340033) h 'double)
  (list (hash-table-test h) (hash-table-count h) (gethash "%hash-table-test" h)
        (gethash (/ 1.0 7340033) h)))
=> (EQUALP 2 MINE DOUBLE)

(list (hash-table-size (make-hash-table)) (hash-table-size (make-hash-table :size 100))
      (hash-table-size (make-hash-table :size 0)))
=> (13 101 5)

(make-hash-table :test 'string=)
!! 5170 STRING=

(make-hash-table :test #'(lambda (a b) (eql a b)))
!! 5170

(make-hash-table :size -1)
!! 5170 -1

(hash-table-test 'h)
!! 5170 H

(let ((h (make-hash-table)) (seen nil))
  (%puthash 'a h 1)
  (%puthash 'b h 2)
  (with-hash-table-iterator (next-entry h)
    (do () (nil)
      (multiple-value-bind (more k v) (next-entry)
        (if more (setq seen (cons (list k v) seen)) (return)))))
  (list (length seen) (assoc 'a seen) (assoc 'b seen) (fboundp 'next-entry)))
=> (2 (A 1) (B 2) NIL)

;; SORT of long sequences: every element kept, in order, quickly.
(let ((l nil)) (dotimes (i 20000) (setq l (cons (mod (* i 7919) 20011) l)))
  (let ((s (sort l #'<))) (list (length s) (car s) (car (last s)) (every #'<= s (cdr s)))))
=> (20000 0 20010 T)

(sort (vector 5 3 9 1) #'>)
=> #(9 5 3 1)

(sort (list "b" "A" "c") #'string< :key #'string-downcase)
=> ("A" "b" "c")
