;;; Word frequencies: a small program in plain Common Lisp.  It writes a
;;; text file, reads it back line by line, counts the words in an EQUAL
;;; hash table and prints the most frequent ones -- with LOOP throughout.
;;;
;;; The program needs SETF of GETHASH and INCF from the library.

;;! needs: (let ((h (make-hash-table))) (incf (gethash 'k h 0) 2) (gethash 'k h)) => 2 T

(defparameter *lines*
  '("The quick brown fox jumps over the lazy dog."
    "The dog barks; the fox runs away."
    ""
    "A fox, a dog -- and THE end of the story."))

(defun write-lines (file lines)
  (let ((out (open file :direction :output)))
    (loop for line in lines
          do (write-string line out)
             (write-char #\Newline out))
    (close out)
    (length lines)))

(defun read-lines (file)
  (let ((in (open file)))
    (prog1 (loop for line = (read-line in nil nil)
                 while line
                 collect line)
      (close in))))

;; The runs of letters of LINE, in lower case.
(defun split-words (line)
  (loop with start = nil
        for i from 0 to (length line)
        for c = (if (< i (length line)) (char line i) nil)
        if (and c (alpha-char-p c))
          do (unless start (setq start i))
        else when start
          collect (string-downcase (subseq line start i))
          and do (setq start nil)))

(defun count-words (lines)
  (let ((table (make-hash-table :test #'equal)))
    (loop for line in lines
          do (loop for word in (split-words line)
                   do (incf (gethash word table 0))))
    table))

;; (word . count) pairs, most frequent first, ties in alphabetical order.
(defun ranked (table)
  (sort (loop for word being the hash-keys of table using (hash-value n)
              collect (cons word n))
        (lambda (a b)
          (or (> (cdr a) (cdr b))
              (and (= (cdr a) (cdr b)) (string< (car a) (car b)))))))

(defun print-report (table top)
  (loop for (word . n) in (ranked table)
        for rank from 1 to top
        do (format t "~D. ~A ~D~%" rank word n))
  (format t "~D words, ~D different~%"
          (loop for n being the hash-values of table sum n)
          (hash-table-count table)))

(write-lines "words.txt" *lines*)
=> 4

(read-lines "words.txt")
=> ("The quick brown fox jumps over the lazy dog." "The dog barks; the fox runs away."
=>  "" "A fox, a dog -- and THE end of the story.")

(split-words "A fox, a dog -- and THE end.")
=> ("a" "fox" "a" "dog" "and" "the" "end")

(split-words "")
=> NIL

(defparameter *table* (count-words (read-lines "words.txt")))

(print-report *table* 5)
-> 1. the 6
-> 2. dog 3
-> 3. fox 3
-> 4. a 2
-> 5. and 1
-> 26 words, 16 different
=> NIL

;; Every word the table counted appears in the text.
(loop for word being the hash-keys of *table*
      always (loop for line in *lines*
                   thereis (search word (string-downcase line))))
=> T
