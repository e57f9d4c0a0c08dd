;;;; Streams beyond lisp/50-streams.lsp: reading and writing whole
;;;; sequences, and the questions OPEN-STREAM-P, INTERACTIVE-STREAM-P and
;;;; FILE-STRING-LENGTH.

;; Whether STREAM carries characters (else integers).
(defun %character-stream-p (stream)
  (let ((type (stream-element-type stream)))
    (or (eq type 'character) (eq type 'string-char) (eq type 'base-char)
        (eq type :default))))

(defun %output-designator (stream)
  (cond ((null stream) *standard-output*)
        ((eq stream t) *terminal-io*)
        (t stream)))

(defun %input-designator (stream)
  (cond ((null stream) *standard-input*)
        ((eq stream t) *terminal-io*)
        (t stream)))

(defun write-sequence (sequence stream &key (start 0) end)
  "Write the elements of SEQUENCE from START to END to STREAM: characters
to a character stream, integers to a binary one.  Returns SEQUENCE."
  (let* ((stream (%output-designator stream))
         (end (%sequence-end sequence start end)))
    (cond ((and (stringp sequence) (%character-stream-p stream))
           (write-string sequence stream :start start :end end))
          ((%character-stream-p stream)
           (do ((i start (1+ i))) ((>= i end)) (write-char (elt sequence i) stream)))
          (t (do ((i start (1+ i))) ((>= i end)) (write-byte (elt sequence i) stream))))
    sequence))

(defun read-sequence (sequence stream &key (start 0) end)
  "Fill SEQUENCE from START to END with elements read from STREAM, up to
its end.  Returns the index of the first element not filled."
  (let* ((stream (%input-designator stream))
         (end (%sequence-end sequence start end))
         (characters (%character-stream-p stream)))
    (do ((i start (1+ i)))
        ((>= i end) end)
      (let ((x (if characters
                   (read-char stream nil nil)
                   (read-byte stream nil nil))))
        (when (null x) (return i))
        (%setelt sequence i x)))))

;; END of a START..END range of SEQUENCE, checked.
(defun %sequence-end (sequence start end)
  (let ((n (length sequence)))
    (unless (and (integerp start) (<= 0 start n))
      (error "~S is not a valid start index for ~S" start sequence))
    (cond ((null end) n)
          ((and (integerp end) (<= start end n)) end)
          (t (error "~S is not a valid end index for ~S" end sequence)))))

;;; ------------------------------------------------------------------
;;; Questions

(defun %window-stream-p (stream)
  (let ((text (write-to-string stream :escape nil)))
    (and (> (length text) 13) (search "window-stream" text) t)))

(defun open-stream-p (stream)
  "True when STREAM is open.  String and window streams are always open;
a file stream until it is closed."
  (unless (streamp stream) (error "~S is not a stream" stream))
  (cond ((%open-file-stream-p stream) t)
        ((eq (stream-external-format stream) :cp866)
         ;; A window, or a closed file kept in the console code page.
         (%window-stream-p stream))
        ((%window-stream-p stream) t)
        ;; A file stream that no longer answers its position is closed.
        ((search "file-stream" (write-to-string stream :escape nil)) nil)
        (t t)))

(defun interactive-stream-p (stream)
  "True for the streams of the console windows, which a person types to."
  (unless (streamp stream) (error "~S is not a stream" stream))
  (%window-stream-p stream))

(defun file-string-length (stream object)
  "The number of file elements writing OBJECT, a character or a string,
to STREAM would take: one byte for each character."
  (unless (streamp stream) (error "~S is not a stream" stream))
  (cond ((characterp object) 1)
        ((stringp object) (length object))
        (t (error "~S is not a character or a string" object))))

;;; ------------------------------------------------------------------
;;; Kinds of streams as types

(defun %stream-kind-p (object kind)
  (and (streamp object)
       (search kind (write-to-string object :escape nil))
       t))

(deftype file-stream () '(satisfies %file-stream-p))
(deftype string-stream () '(satisfies %string-stream-p))
(defun %file-stream-p (object) (%stream-kind-p object "-file-stream"))
(defun %string-stream-p (object) (%stream-kind-p object "-string-stream"))
