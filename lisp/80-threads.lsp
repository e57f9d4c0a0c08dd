;;;; Threads: Lisp threads over one shared world, locks and condition
;;;; variables, under the names portable code uses for them.

(defpackage "ZORVA-THREADS"
  (:nicknames "BT" "BORDEAUX-THREADS")
  (:use "COMMON-LISP")
  (:export "MAKE-THREAD" "JOIN-THREAD" "THREAD-ALIVE-P" "CURRENT-THREAD"
           "ALL-THREADS" "THREAD-NAME" "THREAD-YIELD" "THREADP"
           "INTERRUPT-THREAD" "DESTROY-THREAD"
           "MAKE-LOCK" "ACQUIRE-LOCK" "RELEASE-LOCK" "WITH-LOCK-HELD"
           "MAKE-RECURSIVE-LOCK" "ACQUIRE-RECURSIVE-LOCK"
           "RELEASE-RECURSIVE-LOCK" "WITH-RECURSIVE-LOCK-HELD"
           "MAKE-CONDITION-VARIABLE" "CONDITION-WAIT" "CONDITION-NOTIFY"
           "CONDITION-BROADCAST"))

;;; ------------------------------------------------------------------
;;; Threads

;;; ------------------------------------------------------------------
;;; Locks and condition variables
