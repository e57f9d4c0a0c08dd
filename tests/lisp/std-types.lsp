;;; Types: the standard type specifiers, simple and compound, as TYPEP
;;; and SUBTYPEP take them.

(list (typep "abc" '(simple-string 3)) (typep "abc" '(simple-string 4))
      (typep #(1 2 3) '(vector t 3)) (typep "ab" '(string *)) (typep 5 '(mod 8))
      (typep 8 '(mod 8)) (typep 1.0 'long-float) (typep 1.0 'short-float)
      (typep #*101 'simple-bit-vector) (typep #(1 2) 'bit-vector)
      (typep 255 '(unsigned-byte 8)) (typep 256 '(unsigned-byte 8))
      (typep -128 '(signed-byte 8)) (typep -129 '(signed-byte 8))
      (typep 3 '(integer 1 3)) (typep 3 '(integer (1) (3))) (typep #\a 'standard-char)
      (typep #\a 'base-char) (typep "x" 'simple-base-string)
      (typep (make-array '(2 2)) '(array t (2 2))) (typep (make-array '(2 2)) '(simple-array * (2 *)))
      (typep (make-array '(2 2)) '(array * 1)) (typep nil 'null) (typep '(1) '(cons integer))
      (typep 2.5 '(float 2.0 3.0)) (typep 2 '(real (2))))
=> (T NIL T T T NIL T T T NIL T NIL T NIL T NIL T T T T T NIL T T T NIL)

(list (subtypep 'bit 'fixnum) (subtypep '(simple-string 5) 'string)
      (subtypep 'simple-bit-vector 'vector) (subtypep 'single-float 'double-float)
      (subtypep '(unsigned-byte 8) '(integer 0 255)) (subtypep 'standard-char 'character)
      (subtypep 'null 'list) (subtypep '(mod 10) '(mod 5))
      (subtypep 'fixnum 'bignum))
=> (T T T T T T T NIL NIL)
