;;; Whole-list walks for bench/lists.sh, in portable Common Lisp: each
;;; run-... function walks a list of 10 000 elements N times.

(defvar *walked* (let ((l nil)) (dotimes (i 10000 l) (push i l))))
(defvar *alist* (mapcar (lambda (i) (cons i i)) *walked*))

;; LENGTH of the whole list.
(defun run-length (n)
  (let ((s 0))
    (dotimes (i n s) (setq s (+ s (length *walked*))))))

;; MEMBER and ASSOC of an element that is not there: the whole list.
(defun run-member (n)
  (dotimes (i n) (member -1 *walked*)))
(defun run-assoc (n)
  (dotimes (i n) (assoc -1 *alist*)))

;; LAST of the whole list.
(defun run-last (n)
  (dotimes (i n) (last *walked*)))
