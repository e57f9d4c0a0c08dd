;;; LOOP: the simple form, the clauses of the extended form and their
;;; combinations, and the errors for malformed loops.

;; The text of the error a form signals when it is evaluated.
(defun loop-error (form)
  (multiple-value-bind (value err) (%catch-error (eval form))
    (if err (apply #'format nil (caddr err) (cdddr err)) (list :no-error value))))

;; ---------------------------------------------------------------------
;; The simple loop: compound forms only, left by RETURN with its values.

(list (let ((i 0)) (loop (setq i (+ i 1)) (if (= i 5) (return (* i 10)))))
      (car (macroexpand-1 '(loop (foo) (bar)))))
=> (50 %SIMPLE-LOOP)

(multiple-value-call #'list (loop (return (values 1 2))))
=> (1 2)

;; ---------------------------------------------------------------------
;; FOR ... IN / ON, with BY and destructuring; NIL ignores a part.

(list (loop for x in '(1 2 3) collect (* x x))
      (loop for x in '() collect x)
      (loop for x in '(1 2 3 4 5) by #'cddr collect x)
      (let ((step (lambda (l) (cdddr l)))) (loop for x in '(1 2 3 4 5) by step collect x))
      (loop for tail on '(1 2 3) collect tail))
=> ((1 4 9) NIL (1 3 5) (1 4) ((1 2 3) (2 3) (3)))

(list (loop for (a b) on '(1 2 3 4) by #'cddr collect (+ a b))
      (loop for (key . value) in '((a . 1) (b . 2)) collect key collect value)
      (loop for (a nil (b . c)) in '((1 2 (3 4 5)) (6 7 (8))) collect (list a b c))
      (loop for nil in '(1 2 3) count t))
=> ((3 7) (A 1 B 2) ((1 3 (4 5)) (6 8 NIL)) 3)

;; The list form sees a variable of the same name from outside.
(let ((x '(1 2))) (loop for x in x collect (+ x 1)))
=> (2 3)

;; ---------------------------------------------------------------------
;; FOR = [THEN], ACROSS, BEING ... ELEMENTS.

(list (loop for x = 1 then (* x 2) repeat 5 collect x)
      (loop for x in '(1 2 3) for y = (* x 10) collect y)
      (loop for (a b) = '(1 2) then (list b (+ a b)) repeat 5 collect a))
=> ((1 2 4 8 16) (10 20 30) (1 2 3 5 8))

(list (loop for c across "abc" collect (char-upcase c))
      (loop for x across (vector 1 2 3) sum x)
      (loop for c across "" collect c)
      (loop for (a b) across (vector '(1 2) '(3 4)) collect (* a b)))
=> ((#\A #\B #\C) 6 NIL (2 12))

(list (loop for x being the elements of '(a b) collect x)
      (loop for x being each element of "ab" collect x))
=> ((A B) (#\a #\b))

;; ---------------------------------------------------------------------
;; Ranges: every preposition, in any order, with BY.

(list (loop for i from 1 to 10 by 3 sum i)
      (loop for i to 3 from 1 collect i)
      (loop for i below 4 collect i)
      (loop for i upfrom 5 upto 7 collect i)
      (loop for i by 2 below 7 collect i))
=> (22 (1 2 3) (0 1 2 3) (5 6 7) (0 2 4 6))

(list (loop for i from 10 downto 1 by 4 collect i)
      (loop for i downfrom 3 above 0 collect i)
      (loop for i downfrom 2 to 0 collect i)
      (loop for i from 5 to 1 collect i)
      (loop for x from 0.5 to 2 by 0.5 collect x))
=> ((10 6 2) (3 2 1) (2 1 0) NIL (0.5 1.0 1.5 2.0))

;; The limit is evaluated once; a range without one runs until another
;; clause ends the loop.
(let ((calls 0))
  (list (loop for i from 0 below (progn (setq calls (+ calls 1)) 3) collect i) calls
        (loop for i from 0 for x in '(a b c) collect (cons i x))))
=> ((0 1 2) 1 ((0 . A) (1 . B) (2 . C)))

;; ---------------------------------------------------------------------
;; Sequential and parallel stepping.

;; Sequential: each FOR sees the new value of the one before it.
(loop for x from 1 to 3 for y = x then (+ y x) collect (list x y))
=> ((1 1) (2 3) (3 6))

;; Parallel with AND: every step sees the old values.
(list (loop for x = 1 then y and y = 2 then x repeat 4 collect (list x y))
      (loop for i from 1 to 4 and j = 0 then i collect (list i j))
      (loop for x in '(1 2 3) and y in '(a b) collect (list x y))
      (loop for x across "ab" and i from 0 collect (list i x)))
=> (((1 2) (2 1) (1 2) (2 1)) ((1 0) (2 1) (3 2) (4 3)) ((1 A) (2 B)) ((0 #\a) (1 #\b)))

;; The once-evaluated forms of a parallel group see the outer variables.
(list (let ((x '(1 2))) (loop for x in '(a b) and y in x collect (list x y)))
      (let ((x 5)) (loop for x from 1 to 2 and y from x to 7 collect (list x y))))
=> (((A 1) (B 2)) ((1 5) (2 6)))

;; ---------------------------------------------------------------------
;; WITH, REPEAT, INITIALLY, FINALLY, and type specs (ignored).

(list (loop with a = 1 with b = (+ a 1) return (list a b))
      (let ((a 10)) (loop with a = 1 and b = a return (list a b)))
      (loop with (a (b) . c) = '(1 (2) 3 4) return (list a b c))
      (loop with x fixnum with y float with z of-type list return (list x y z)))
=> ((1 2) (1 10) (1 2 (3 4)) (0 0.0 NIL))

(loop for x of-type fixnum in '(1 2) for (a b) of-type (fixnum fixnum) = '(3 4)
      for c t across "yz" sum (+ x a b) into s fixnum finally (return (list s c)))
=> (17 #\z)

(list (loop repeat 3 collect 'x) (loop repeat 0 collect 'x) (loop repeat -2 collect 'x))
=> ((X X X) NIL NIL)

(let ((log nil))
  (list (loop for x in '(1 2) initially (setq log (cons 'start log))
              do (setq log (cons x log)) finally (setq log (cons 'end log)))
        (reverse log)))
=> (NIL (START 1 2 END))

;; INITIALLY and FINALLY run even when the loop makes no pass.
(loop for x in nil initially (write-string "in ") finally (write-string "out") (return 'done))
-> in out
=> DONE

;; FINALLY sees the last values the variables took.
(list (loop for x in '(1 2 3) finally (return x))
      (loop for i from 1 to 3 finally (return i))
      (loop for i from 1 for x in '(a b) finally (return i)))
=> (3 4 3)

;; ---------------------------------------------------------------------
;; Accumulation, with and without INTO.

;; APPEND copies what it appends; NCONC does not.
(let* ((a (list 1 2)) (b (list 3)) (r (loop for l in (list a) append l)))
  (list r (eq r a) (loop for l in (list a nil b) nconc l) a))
=> ((1 2) NIL (1 2 3) (1 2 3))

(list (loop for x in '(1 (2 3) 4) if (listp x) append x else collect x)
      (loop for x in '(a nil b nil c) count x)
      (loop for x in '(3 1 4 1 5) maximize x)
      (loop for x in '(3 1 4 1 5) minimize x)
      (loop for x in '() sum x)
      (loop for x in '(1.5 2) summing x))
=> ((1 2 3 4) 3 5 1 0 3.5)

(loop for x in '(1 2 3 4 5)
      if (oddp x) collect x into odds else collect x into evens end
      maximize x into top count (evenp x) into n
      finally (return (list odds evens top n)))
=> ((1 3 5) (2 4) 5 2)

(loop for x in '(1 2 3) collect x into r nconc (list (- x)) into r finally (return r))
=> (1 -1 2 -2 3 -3)

;; An INTO variable holds the list so far while the loop runs.
(loop for x in '(a b c) collect x into seen collect (length seen))
=> (1 2 3)

;; Collecting keeps a tail: long lists cost no deep recursion.
(loop for x in (loop for i below 100000 collect i) count (zerop (mod x 1000)))
=> 100

;; ---------------------------------------------------------------------
;; Conditionals: WHEN/IF/UNLESS, AND, ELSE, END, nesting, IT.

(list (loop for x in '(1 2 3 4) when (evenp x) collect x and collect (- x) else collect 0)
      (loop for x in '(1 2 3 4 5 6)
            when (evenp x) if (> x 3) collect x else collect (- x) end else collect 0)
      (loop for x in '(1 2 3 4) unless (evenp x) collect x else collect 'even))
=> ((0 2 -2 0 4 -4) (0 -2 0 4 0 6) (1 EVEN 3 EVEN))

;; END closes the inner conditional, so the ELSE belongs to the outer one.
(loop for x in '(1 2 3 4) when (> x 1) when (evenp x) collect x end else collect 'small)
=> (SMALL 2 4)

;; IT is the value of the test; elsewhere it is an ordinary variable.
(list (loop for x in '((a . 1) (b . nil) (c . 3)) when (cdr x) collect it)
      (loop for x in '(1 2 3) when (member x '(0 2 5)) return it)
      (loop for it in '(1 2) collect it))
=> ((1 3) (2 5) (1 2))

(loop for x in '(1 2 3 4) if (oddp x) do (write x) and collect x)
-> 13
=> (1 3)

;; ---------------------------------------------------------------------
;; Termination: WHILE, UNTIL, ALWAYS, NEVER, THEREIS, RETURN.

(list (loop for x in '(1 2 3 4) while (< x 3) collect x)
      (loop for x in '(1 2 3 4) until (= x 3) collect x into r finally (return (cons 'done r)))
      (let ((i 0)) (loop while (< i 3) do (setq i (+ i 1))) i))
=> ((1 2) (DONE 1 2) 3)

(list (loop for x in '(1 2 3) always (numberp x))
      (loop for x in '(1 a 3) always (numberp x))
      (loop for x in '() always nil)
      (loop for x in '(1 2 3) never (> x 5))
      (loop for x in '(1 9 3) never (> x 5))
      (loop for x in '(1 2 3) thereis (and (> x 1) (* x 10)))
      (loop for x in '(1 2 3) thereis (> x 5)))
=> (T NIL T T NIL 20 NIL)

;; ALWAYS, NEVER and THEREIS leave without running FINALLY; WHILE runs it.
(list (loop for x in '(1 2) always (< x 2) finally (write-string "a"))
      (loop for x in '(1 2) thereis (> x 1) finally (write-string "b"))
      (loop for x in '(1 2) while (< x 2) finally (write-string "c")))
-> c
=> (NIL T NIL)

(list (loop for x in '(1 2 3) when (= x 2) return (* x 100) collect x)
      (multiple-value-call #'list (loop for x in '(1 2) do (return (values x 'a)))))
=> (200 (1 A))

;; ---------------------------------------------------------------------
;; Named loops, RETURN-FROM, RETURN, LOOP-FINISH.

(loop named outer for x in '(1 2 3)
      do (loop for y in '(a b c) do (if (and (= x 2) (eq y 'b)) (return-from outer (list x y)))))
=> (2 B)

;; RETURN inside a named loop leaves the NIL block around it.
(list (block nil (loop named inner for x in '(1 2) do (return 'outer)) 'not-here)
      (block nil (loop for x in '(1 2) do (return 'inner)) 'after))
=> (OUTER AFTER)

(list (loop for x in '(1 2 3 4 5) when (= x 3) do (loop-finish) collect x
            finally (return (list 'finished x)))
      (loop for x in '(1 2 3) do (if (= x 2) (loop-finish)) collect x)
      (loop for x in '(1 2) collect x finally (return 'replaced)))
=> ((FINISHED 3) (1) REPLACED)

;; LOOP-FINISH ends the innermost loop only.
(loop for x in '(1 2) collect (loop for y from 1 do (if (> y x) (loop-finish)) collect y))
=> ((1) (1 2))

;; ---------------------------------------------------------------------
;; Hash tables.

(defparameter *loop-table*
  (let ((h (make-hash-table :test #'equal)))
    (%puthash "one" h 1) (%puthash "two" h 2) (%puthash "three" h 3)
    h))

(list (sort (loop for k being the hash-keys of *loop-table* collect k) #'string<)
      (loop for v being each hash-value in *loop-table* sum v)
      (loop for k being the hash-keys of (make-hash-table) collect k))
=> (("one" "three" "two") 6 NIL)

(list (sort (loop for k being the hash-keys of *loop-table* using (hash-value v)
                  collect (cons k v))
            #'< :key #'cdr)
      (sort (loop for v being the hash-values of *loop-table* using (hash-key k)
                  when (oddp v) collect k)
            #'string<))
=> ((("one" . 1) ("two" . 2) ("three" . 3)) ("one" "three"))

;; The keys are taken before the first pass: removing entries is safe.
(let ((h (make-hash-table)))
  (%puthash 1 h 'a) (%puthash 2 h 'b)
  (list (loop for k being the hash-keys of h do (remhash k h) count t)
        (hash-table-count h)))
=> (2 0)

;; ---------------------------------------------------------------------
;; A call site is expanded once and its expansion reused; loops nest;
;; keywords may be written as keywords.

(defun loop-twice (l) (loop for x in l when (oddp x) collect x))

(list (loop-twice '(1 2 3)) (loop-twice '(5 6 7))
      (loop for x in '(1 2) collect (loop for y in '(a b) collect (list x y)))
      (loop :for x :in '(1 2 3) :when (oddp x) :collect x))
=> ((1 3) (5 7) (((1 A) (1 B)) ((2 A) (2 B))) (1 3))

;; ---------------------------------------------------------------------
;; Malformed loops: an error naming the clause.

(loop-error '(loop for x in '(1 2) colect x))
=> "LOOP: COLECT is not a loop keyword in (COLECT X)"

(loop-error '(loop for x im items collect x))
=> "LOOP: IM is not a FOR preposition in (FOR X IM ITEMS)"

(loop-error '(loop for x in))
=> "LOOP: the clause ends too early in (FOR X IN)"

(list (loop-error '(loop for i from 1 from 2))
      (loop-error '(loop for i from 1 to 3 upto 4))
      (loop-error '(loop for i upfrom 1 downto 0))
      (loop-error '(loop for i downto 0))
      (loop-error '(loop for i from 1 to 5 by 0))
      (loop-error '(loop for (a b) from 1 to 3)))
=> ("LOOP: the range has two starts in (FOR I FROM 1 FROM 2)"
=>  "LOOP: the range has two limits in (FOR I FROM 1 TO 3 UPTO 4)"
=>  "LOOP: the range goes both up and down in (FOR I UPFROM 1 DOWNTO 0)"
=>  "LOOP: a decreasing range needs a start (FROM or DOWNFROM) in (FOR I DOWNTO 0)"
=>  "LOOP: the BY step 0 is not positive in (FOR I FROM 1 TO 5 BY 0)"
=>  "LOOP: a range variable cannot be destructured in (FOR (A B) FROM 1 TO 3)")

(list (loop-error '(loop for x in a for x in b))
      (loop-error '(loop for 3 in a))
      (loop-error '(loop for x in a collect x sum x))
      (loop-error '(loop for x in a collect x into y sum x into y))
      (loop-error '(loop for x in a collect x into nil)))
=> ("LOOP: the variable X is bound twice in (FOR X IN)"
=>  "LOOP: 3 cannot be a loop variable in (FOR 3 IN)"
=>  "LOOP: the loop's value would be both a list and a sum in (SUM X)"
=>  "LOOP: Y accumulates both a list and a sum in (SUM X INTO Y)"
=>  "LOOP: NIL cannot be an INTO variable in (COLLECT X INTO NIL)")

(list (loop-error '(loop for x in a when x while x))
      (loop-error '(loop for x in a do))
      (loop-error '(loop for x in a named foo))
      (loop-error '(loop "text" (print 1))))
=> ("LOOP: WHILE cannot follow WHEN in (WHEN X WHILE X)"
=>  "LOOP: DO needs at least one compound form in (DO)"
=>  "LOOP: NAMED must be the first clause in (NAMED FOO)"
=>  "LOOP: \"text\" is not a loop keyword in (\"text\" (PRINT 1))")

(list (loop-error '(loop for k being the hash-keys h))
      (loop-error '(loop for k being the hash-keys of h using (hash-key v)))
      (loop-error '(loop for x being the atoms of y)))
=> ("LOOP: OF or IN must follow HASH-KEYS in (FOR K BEING THE HASH-KEYS H)"
=>  "LOOP: USING needs (HASH-VALUE variable), not (HASH-KEY V) in (FOR K BEING THE HASH-KEYS OF H USING (HASH-KEY V))"
=>  "LOOP: cannot iterate over ATOMS in (FOR X BEING THE ATOMS OF)")
