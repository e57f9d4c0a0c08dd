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
  (cond ((%composite-kind stream) t)
        ((%open-file-stream-p stream) t)
        ((eq (stream-external-format stream) :cp866)
         ;; A window, or a closed file kept in the console code page.
         (%window-stream-p stream))
        ((%window-stream-p stream) t)
        ;; A file stream that no longer answers its position is closed.
        ((search "file-stream" (write-to-string stream :escape nil)) nil)
        (t t)))

(defun interactive-stream-p (stream)
  "True for the streams of the console windows, which a person types to,
and for composite streams that read from one."
  (unless (streamp stream) (error "~S is not a stream" stream))
  (case (%composite-kind stream)
    ((nil) (%window-stream-p stream))
    (1 (let ((target (symbol-value (synonym-stream-symbol stream))))
         (and (streamp target) (interactive-stream-p target))))
    ((4 5) (interactive-stream-p (%object-part stream 1)))
    (t nil)))

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

;;; ------------------------------------------------------------------
;;; Composite streams: the kernel passes each character on to their
;;; component streams, so every reading and printing function takes them.

(defun make-synonym-stream (symbol)
  "A stream that is, each time it is used, the stream SYMBOL's value is."
  (%make-composite-stream 1 symbol nil))

(defun make-broadcast-stream (&rest streams)
  "An output stream that writes to each of STREAMS; with none, output goes
nowhere."
  (%make-composite-stream 2 streams nil))

(defun make-concatenated-stream (&rest streams)
  "An input stream that reads STREAMS one after the other."
  (%make-composite-stream 3 streams nil))

(defun make-two-way-stream (input-stream output-stream)
  "A stream that reads from INPUT-STREAM and writes to OUTPUT-STREAM."
  (%make-composite-stream 4 input-stream output-stream))

(defun make-echo-stream (input-stream output-stream)
  "A two-way stream that also writes to OUTPUT-STREAM each character it
reads from INPUT-STREAM."
  (%make-composite-stream 5 input-stream output-stream))

(defun %composite-kind (object)
  (and (eql (%object-part object nil) 2) (%object-part object 0)))

(defun %composite-part (stream kind field what)
  (unless (eql (%composite-kind stream) kind)
    (error "~S is not ~A" stream what))
  (%object-part stream field))

(defun synonym-stream-symbol (synonym-stream)
  "The symbol whose value SYNONYM-STREAM stands for."
  (%composite-part synonym-stream 1 1 "a synonym stream"))

(defun broadcast-stream-streams (broadcast-stream)
  "The streams BROADCAST-STREAM writes to."
  (copy-list (%composite-part broadcast-stream 2 1 "a broadcast stream")))

(defun concatenated-stream-streams (concatenated-stream)
  "The streams CONCATENATED-STREAM has yet to read, the current one first."
  (copy-list (%composite-part concatenated-stream 3 1 "a concatenated stream")))

(defun two-way-stream-input-stream (two-way-stream)
  "The stream TWO-WAY-STREAM reads from."
  (%composite-part two-way-stream 4 1 "a two-way stream"))

(defun two-way-stream-output-stream (two-way-stream)
  "The stream TWO-WAY-STREAM writes to."
  (%composite-part two-way-stream 4 2 "a two-way stream"))

(defun echo-stream-input-stream (echo-stream)
  "The stream ECHO-STREAM reads from."
  (%composite-part echo-stream 5 1 "an echo stream"))

(defun echo-stream-output-stream (echo-stream)
  "The stream ECHO-STREAM writes to and echoes to."
  (%composite-part echo-stream 5 2 "an echo stream"))

(defun %synonym-stream-p (object) (eql (%composite-kind object) 1))
(defun %broadcast-stream-p (object) (eql (%composite-kind object) 2))
(defun %concatenated-stream-p (object) (eql (%composite-kind object) 3))
(defun %two-way-stream-p (object) (eql (%composite-kind object) 4))
(defun %echo-stream-p (object) (eql (%composite-kind object) 5))

(deftype synonym-stream () '(satisfies %synonym-stream-p))
(deftype broadcast-stream () '(satisfies %broadcast-stream-p))
(deftype concatenated-stream () '(satisfies %concatenated-stream-p))
(deftype two-way-stream () '(satisfies %two-way-stream-p))
(deftype echo-stream () '(satisfies %echo-stream-p))
