// The built-in function table.  A built-in's number, kind and count are a
// contract with every image ever saved: an image whose records differ is
// refused at load.  So the table only ever grows at the end, into the spare
// records, and no line here may be reordered.
//
// Each family of built-ins replaces the placeholder routine of its records
// as it is implemented.
#include "builtins/table.h"

#include "eval/thread.h"
#include "object/error_hook.h"
#include "object/gc.h"

namespace {

// Calling kinds, as the evaluator dispatches on them.
enum : uint8_t { SPECIAL = 0, MACRO = 1, FIXED = 2, OPTREST = 3, KEYS = 4 };

constexpr BuiltinFn NI = bi_not_implemented;

}  // namespace

BuiltinRecord zv_builtins[BI_CAPACITY] = {
    // Reader macro functions (stream, character)
    {NI, FIXED, 2}, /* 0 %READ-BACKQUOTE */
    {NI, FIXED, 2}, /* 1 %READ-COMMA */
    {NI, FIXED, 2}, /* 2 %READ-SEMICOLON */
    {NI, FIXED, 2}, /* 3 %READ-LEFT-PAREN */
    {NI, FIXED, 2}, /* 4 %READ-QUOTE */
    {NI, FIXED, 2}, /* 5 %READ-RIGHT-PAREN */
    {NI, FIXED, 2}, /* 6 %READ-STRING */

    // Dispatching reader macro functions (stream, sub-character, argument)
    {NI, FIXED, 3}, /* 7 %READ-SHARP-UNINTERNED */
    {NI, FIXED, 3}, /* 8 %READ-SHARP-VECTOR */
    {NI, FIXED, 3}, /* 9 %READ-SHARP-FEATURE */
    {NI, FIXED, 3}, /* 10 %READ-SHARP-EVAL */
    {NI, FIXED, 3}, /* 11 %READ-SHARP-FUNCTION */
    {NI, FIXED, 3}, /* 12 %READ-SHARP-RADIX */
    {NI, FIXED, 3}, /* 13 %READ-SHARP-CHARACTER */
    {NI, FIXED, 3}, /* 14 %READ-SHARP-COMMENT */
    {NI, FIXED, 3}, /* 15 %READ-SHARP-COMPLEX */

    // Calling and evaluation
    {NI, OPTREST, 2}, /* 16 APPLY */
    {NI, OPTREST, 4}, /* 17 APPLYHOOK */
    {NI, FIXED, 1},   /* 18 COMPILED-FUNCTION-P */
    {NI, FIXED, 1},   /* 19 CONSTANTP */
    {NI, FIXED, 1},   /* 20 EVAL */
    {NI, OPTREST, 3}, /* 21 EVALHOOK */
    {NI, FIXED, 1},   /* 22 %EVAL-LIST */
    {NI, OPTREST, 1}, /* 23 FUNCALL */
    {NI, SPECIAL, 0}, /* 24 FUNCTION */
    {NI, FIXED, 1},   /* 25 FUNCTIONP */
    {NI, SPECIAL, 0}, /* 26 PROGN */
    {NI, SPECIAL, 0}, /* 27 QUOTE */

    // Symbols, definitions and assignment
    {NI, OPTREST, 1}, /* 28 APROPOS-LIST */
    {NI, FIXED, 1},   /* 29 BOUNDP */
    {NI, SPECIAL, 0}, /* 30 DEFCONSTANT */
    {NI, SPECIAL, 0}, /* 31 DEFPARAMETER */
    {NI, SPECIAL, 0}, /* 32 DEFUN */
    {NI, SPECIAL, 0}, /* 33 DEFVAR */
    {NI, FIXED, 1},   /* 34 FBOUNDP */
    {NI, FIXED, 1},   /* 35 FMAKUNBOUND */
    {NI, OPTREST, 0}, /* 36 GENSYM */
    {NI, OPTREST, 0}, /* 37 GENTEMP */
    {NI, OPTREST, 2}, /* 38 GET */
    {NI, OPTREST, 2}, /* 39 GETF */
    {NI, OPTREST, 1}, /* 40 INTERN */
    {NI, FIXED, 1},   /* 41 KEYWORDP */
    {NI, FIXED, 1},   /* 42 MAKE-SYMBOL */
    {NI, FIXED, 1},   /* 43 MAKUNBOUND */
    {NI, SPECIAL, 0}, /* 44 PROGV */
    {NI, SPECIAL, 0}, /* 45 PSETQ */
    {NI, FIXED, 3},   /* 46 %PUTF */
    {NI, FIXED, 3},   /* 47 %PUTPROP */
    {NI, FIXED, 2},   /* 48 REMPROP */
    {NI, FIXED, 2},   /* 49 SET */
    {NI, FIXED, 2},   /* 50 %SET-SYMBOL-FUNCTION */
    {NI, FIXED, 2},   /* 51 %SET-SYMBOL-PLIST */
    {NI, FIXED, 2},   /* 52 %REMF */
    {NI, SPECIAL, 0}, /* 53 SETQ */
    {NI, FIXED, 1},   /* 54 SPECIAL-OPERATOR-P */
    {NI, FIXED, 1},   /* 55 SYMBOL-FUNCTION */
    {NI, FIXED, 1},   /* 56 SYMBOL-NAME */
    {NI, FIXED, 1},   /* 57 SYMBOL-PLIST */
    {NI, FIXED, 1},   /* 58 SYMBOL-VALUE */
    {NI, FIXED, 1},   /* 59 SYMBOLP */
    {NI, OPTREST, 1}, /* 60 UNINTERN */

    // Macros, places and their expansion
    {NI, SPECIAL, 0}, /* 61 DEFINE-SETF-EXPANDER */
    {NI, SPECIAL, 0}, /* 62 DEFMACRO */
    {NI, SPECIAL, 0}, /* 63 DEFSETF */
    {NI, SPECIAL, 0}, /* 64 %MARK-SUBSTITUTABLE */
    {NI, FIXED, 1},   /* 65 GET-SETF-EXPANSION */
    {NI, FIXED, 1},   /* 66 MACRO-FUNCTION */
    {NI, OPTREST, 1}, /* 67 MACROEXPAND */
    {NI, OPTREST, 1}, /* 68 MACROEXPAND-1 */
    {NI, MACRO, 0},   /* 69 SETF */

    // Type tests and equality
    {NI, FIXED, 1},   /* 70 ATOM */
    {NI, FIXED, 2},   /* 71 COERCE */
    {NI, FIXED, 1},   /* 72 CONSP */
    {NI, SPECIAL, 0}, /* 73 DEFTYPE */
    {NI, FIXED, 2},   /* 74 EQ */
    {NI, FIXED, 2},   /* 75 EQL */
    {NI, FIXED, 2},   /* 76 EQUAL */
    {NI, FIXED, 2},   /* 77 EQUALP */
    {NI, FIXED, 1},   /* 78 LISTP */
    {NI, FIXED, 2},   /* 79 %NEQ */
    {NI, FIXED, 1},   /* 80 %NLISTP */
    {NI, FIXED, 1},   /* 81 NULL */
    {NI, FIXED, 2},   /* 82 %CHECK-TYPE-REDEFINITION */
    {NI, FIXED, 2},   /* 83 SUBTYPEP */
    {NI, SPECIAL, 0}, /* 84 THE */
    {NI, FIXED, 1},   /* 85 TYPE-OF */
    {NI, FIXED, 2},   /* 86 TYPEP */

    // Lists
    {NI, FIXED, 3},   /* 87 ACONS */
    {NI, OPTREST, 0}, /* 88 APPEND */
    {NI, KEYS, 2},    /* 89 ASSOC */
    {NI, KEYS, 2},    /* 90 ASSOC-IF */
    {NI, KEYS, 2},    /* 91 ASSOC-IF-NOT */
    {NI, FIXED, 2},   /* 92 %ASSQ */
    {NI, FIXED, 1},   /* 93 CAR */
    {NI, FIXED, 1},   /* 94 CAAR */
    {NI, FIXED, 1},   /* 95 CADR */
    {NI, FIXED, 1},   /* 96 CDR */
    {NI, FIXED, 1},   /* 97 CDAR */
    {NI, FIXED, 1},   /* 98 CDDR */
    {NI, FIXED, 1},   /* 99 CAAAR */
    {NI, FIXED, 1},   /* 100 CAADR */
    {NI, FIXED, 1},   /* 101 CADAR */
    {NI, FIXED, 1},   /* 102 CADDR */
    {NI, FIXED, 1},   /* 103 CDAAR */
    {NI, FIXED, 1},   /* 104 CDADR */
    {NI, FIXED, 1},   /* 105 CDDAR */
    {NI, FIXED, 1},   /* 106 CDDDR */
    {NI, FIXED, 2},   /* 107 CONS */
    {NI, FIXED, 1},   /* 108 COPY-LIST */
    {NI, FIXED, 1},   /* 109 COPY-TREE */
    {NI, FIXED, 1},   /* 110 ENDP */
    {NI, OPTREST, 1}, /* 111 LAST */
    {NI, OPTREST, 0}, /* 112 LIST */
    {NI, OPTREST, 1}, /* 113 LIST* */
    {NI, FIXED, 1},   /* 114 %LIST-LENGTH */
    {NI, OPTREST, 0}, /* 115 NCONC */
    {NI, FIXED, 2},   /* 116 NRECONC */
    {NI, FIXED, 2},   /* 117 NTH */
    {NI, FIXED, 2},   /* 118 NTHCDR */
    {NI, FIXED, 2},   /* 119 REVAPPEND */
    {NI, FIXED, 2},   /* 120 RPLACA */
    {NI, FIXED, 2},   /* 121 RPLACD */
    {NI, KEYS, 2},    /* 122 SUBLIS */
    {NI, KEYS, 3},    /* 123 SUBST */
    {NI, OPTREST, 1}, /* 124 BUTLAST */
    {NI, OPTREST, 1}, /* 125 NBUTLAST */

    // Sequences
    {NI, OPTREST, 1}, /* 126 CONCATENATE */
    {NI, FIXED, 1},   /* 127 COPY-SEQ */
    {NI, KEYS, 2},    /* 128 DELETE */
    {NI, FIXED, 2},   /* 129 ELT */
    {NI, KEYS, 2},    /* 130 FILL */
    {NI, KEYS, 2},    /* 131 FIND */
    {NI, FIXED, 1},   /* 132 LENGTH */
    {NI, OPTREST, 3}, /* 133 MAP */
    {NI, FIXED, 1},   /* 134 NREVERSE */
    {NI, KEYS, 2},    /* 135 POSITION */
    {NI, KEYS, 2},    /* 136 REMOVE */
    {NI, KEYS, 2},    /* 137 REMOVE-IF */
    {NI, KEYS, 2},    /* 138 REPLACE */
    {NI, FIXED, 1},   /* 139 REVERSE */
    {NI, FIXED, 3},   /* 140 %SETELT */
    {NI, KEYS, 2},    /* 141 SORT */
    {NI, OPTREST, 2}, /* 142 SUBSEQ */
    {NI, KEYS, 2},    /* 143 REDUCE */
    {NI, KEYS, 2},    /* 144 MISMATCH */

    // Membership, sets and quantifiers
    {NI, KEYS, 2},    /* 145 ADJOIN */
    {NI, OPTREST, 2}, /* 146 EVERY */
    {NI, KEYS, 2},    /* 147 INTERSECTION */
    {NI, KEYS, 2},    /* 148 MEMBER */
    {NI, KEYS, 2},    /* 149 MEMBER-IF */
    {NI, KEYS, 2},    /* 150 MEMBER-IF-NOT */
    {NI, FIXED, 2},   /* 151 %MEMBER-EQL */
    {NI, KEYS, 2},    /* 152 NINTERSECTION */
    {NI, KEYS, 2},    /* 153 NSET-DIFFERENCE */
    {NI, KEYS, 2},    /* 154 NSET-EXCLUSIVE-OR */
    {NI, KEYS, 2},    /* 155 NUNION */
    {NI, KEYS, 2},    /* 156 SET-DIFFERENCE */
    {NI, KEYS, 2},    /* 157 SET-EXCLUSIVE-OR */
    {NI, OPTREST, 2}, /* 158 SOME */
    {NI, KEYS, 2},    /* 159 SUBSETP */
    {NI, KEYS, 2},    /* 160 UNION */

    // Characters
    {NI, FIXED, 1},   /* 161 CHARACTER */
    {NI, FIXED, 1},   /* 162 CHARACTERP */
    {NI, OPTREST, 1}, /* 163 CHAR-EQUAL */
    {NI, FIXED, 1},   /* 164 CHAR-NAME */
    {NI, OPTREST, 1}, /* 165 MAKE-CHAR */
    {NI, FIXED, 1},   /* 166 NAME-CHAR */
    {NI, FIXED, 1},   /* 167 %STRING-CHAR-TYPE-P */
    {NI, FIXED, 1},   /* 168 STRING-CHAR-P */
    {NI, FIXED, 1},   /* 169 GRAPHIC-CHAR-P */
    {NI, FIXED, 1},   /* 170 ALPHA-CHAR-P */
    {NI, FIXED, 1},   /* 171 UPPER-CASE-P */
    {NI, FIXED, 1},   /* 172 LOWER-CASE-P */
    {NI, FIXED, 1},   /* 173 BOTH-CASE-P */
    {NI, OPTREST, 1}, /* 174 %DIGIT-CHAR-P */
    {NI, FIXED, 1},   /* 175 ALPHANUMERICP */
    {NI, OPTREST, 1}, /* 176 CHAR= */
    {NI, OPTREST, 1}, /* 177 CHAR/= */
    {NI, OPTREST, 1}, /* 178 CHAR< */
    {NI, OPTREST, 1}, /* 179 CHAR> */
    {NI, OPTREST, 1}, /* 180 CHAR<= */
    {NI, OPTREST, 1}, /* 181 CHAR>= */
    {NI, FIXED, 1},   /* 182 CHAR-CODE */
    {NI, FIXED, 1},   /* 183 CHAR-BITS */
    {NI, FIXED, 1},   /* 184 CHAR-FONT */
    {NI, OPTREST, 1}, /* 185 CODE-CHAR */
    {NI, FIXED, 1},   /* 186 CHAR-UPCASE */
    {NI, FIXED, 1},   /* 187 CHAR-DOWNCASE */
    {NI, OPTREST, 1}, /* 188 DIGIT-CHAR */
    {NI, FIXED, 1},   /* 189 CHAR-INT */
    {NI, FIXED, 1},   /* 190 INT-CHAR */

    // Special forms, control and mapping
    {NI, SPECIAL, 0}, /* 191 AND */
    {NI, SPECIAL, 0}, /* 192 BLOCK */
    {NI, SPECIAL, 0}, /* 193 CASE */
    {NI, SPECIAL, 0}, /* 194 CATCH */
    {NI, SPECIAL, 0}, /* 195 COND */
    {NI, SPECIAL, 0}, /* 196 DO */
    {NI, SPECIAL, 0}, /* 197 DO* */
    {NI, SPECIAL, 0}, /* 198 DOLIST */
    {NI, SPECIAL, 0}, /* 199 DOTIMES */
    {NI, SPECIAL, 0}, /* 200 GO */
    {NI, SPECIAL, 0}, /* 201 IF */
    {NI, SPECIAL, 0}, /* 202 LABELS */
    {NI, SPECIAL, 0}, /* 203 LET */
    {NI, SPECIAL, 0}, /* 204 LET* */
    {NI, SPECIAL, 0}, /* 205 LOOP */
    {NI, OPTREST, 2}, /* 206 MAPC */
    {NI, OPTREST, 2}, /* 207 MAPCAR */
    {NI, OPTREST, 2}, /* 208 MAPL */
    {NI, OPTREST, 2}, /* 209 MAPLIST */
    {NI, SPECIAL, 0}, /* 210 OR */
    {NI, SPECIAL, 0}, /* 211 PROG1 */
    {NI, SPECIAL, 0}, /* 212 PROG2 */
    {NI, SPECIAL, 0}, /* 213 RETURN */
    {NI, SPECIAL, 0}, /* 214 RETURN-FROM */
    {NI, SPECIAL, 0}, /* 215 TAGBODY */
    {NI, SPECIAL, 0}, /* 216 THROW */
    {NI, SPECIAL, 0}, /* 217 UNWIND-PROTECT */
    {NI, SPECIAL, 0}, /* 218 MULTIPLE-VALUE-BIND */
    {NI, SPECIAL, 0}, /* 219 MULTIPLE-VALUE-CALL */
    {NI, SPECIAL, 0}, /* 220 MULTIPLE-VALUE-PROG1 */
    {NI, SPECIAL, 0}, /* 221 MULTIPLE-VALUE-SETQ */

    // Multiple values
    {NI, OPTREST, 0}, /* 222 VALUES */
    {NI, FIXED, 1},   /* 223 VALUES-LIST */

    // Numbers
    {NI, FIXED, 1},   /* 224 1- */
    {NI, FIXED, 1},   /* 225 1+ */
    {NI, FIXED, 1},   /* 226 ABS */
    {NI, OPTREST, 1}, /* 227 = */
    {NI, FIXED, 1},   /* 228 EVENP */
    {NI, FIXED, 1},   /* 229 FLOAT */
    {NI, FIXED, 1},   /* 230 FLOATP */
    {NI, OPTREST, 1}, /* 231 >= */
    {NI, OPTREST, 1}, /* 232 > */
    {NI, FIXED, 1},   /* 233 INTEGERP */
    {NI, OPTREST, 1}, /* 234 <= */
    {NI, OPTREST, 1}, /* 235 < */
    {NI, OPTREST, 1}, /* 236 MAX */
    {NI, OPTREST, 1}, /* 237 MIN */
    {NI, OPTREST, 1}, /* 238 - */
    {NI, FIXED, 1},   /* 239 MINUSP */
    {NI, OPTREST, 1}, /* 240 /= */
    {NI, FIXED, 1},   /* 241 NUMBERP */
    {NI, FIXED, 1},   /* 242 ODDP */
    {NI, OPTREST, 0}, /* 243 + */
    {NI, FIXED, 1},   /* 244 PLUSP */
    {NI, OPTREST, 1}, /* 245 / */
    {NI, OPTREST, 0}, /* 246 * */
    {NI, FIXED, 1},   /* 247 ZEROP */
    {NI, OPTREST, 0}, /* 248 LOGIOR */
    {NI, OPTREST, 0}, /* 249 LOGXOR */
    {NI, OPTREST, 0}, /* 250 LOGAND */
    {NI, OPTREST, 0}, /* 251 LOGEQV */
    {NI, FIXED, 2},   /* 252 ASH */
    {NI, FIXED, 2},   /* 253 %LOGSUBSETP */
    {NI, FIXED, 2},   /* 254 LOGBITP */
    {NI, FIXED, 1},   /* 255 LOGNOT */
    {NI, FIXED, 1},   /* 256 LOGCOUNT */
    {NI, FIXED, 1},   /* 257 INTEGER-LENGTH */
    {NI, FIXED, 2},   /* 258 LOGNAND */
    {NI, FIXED, 2},   /* 259 LOGNOR */
    {NI, FIXED, 2},   /* 260 LOGANDC1 */
    {NI, FIXED, 2},   /* 261 LOGANDC2 */
    {NI, FIXED, 2},   /* 262 LOGORC1 */
    {NI, FIXED, 2},   /* 263 LOGORC2 */

    // Hash tables
    {NI, FIXED, 1},   /* 264 CLRHASH */
    {NI, OPTREST, 2}, /* 265 GETHASH */
    {NI, FIXED, 1},   /* 266 HASH-TABLE-COUNT */
    {NI, FIXED, 1},   /* 267 HASH-TABLE-P */
    {NI, KEYS, 0},    /* 268 MAKE-HASH-TABLE */
    {NI, FIXED, 2},   /* 269 MAPHASH */
    {NI, FIXED, 2},   /* 270 REMHASH */
    {NI, FIXED, 3},   /* 271 %PUTHASH */
    {NI, FIXED, 1},   /* 272 SXHASH */

    // Arrays and vectors
    {NI, FIXED, 1},   /* 273 ARRAY-ELEMENT-TYPE */
    {NI, FIXED, 1},   /* 274 ARRAY-TOTAL-SIZE */
    {NI, KEYS, 1},    /* 275 MAKE-ARRAY */
    {NI, FIXED, 3},   /* 276 %SET-ROW-MAJOR-AREF */
    {NI, FIXED, 2},   /* 277 ROW-MAJOR-AREF */
    {NI, OPTREST, 2}, /* 278 %ASET */
    {NI, OPTREST, 1}, /* 279 AREF */
    {NI, OPTREST, 0}, /* 280 VECTOR */
    {NI, FIXED, 2},   /* 281 %VECTOR-APPEND */
    {NI, FIXED, 1},   /* 282 VECTORP */
    {NI, FIXED, 3},   /* 283 %SET-SVREF */
    {NI, FIXED, 2},   /* 284 SVREF */
    {NI, OPTREST, 1}, /* 285 ARRAY-ROW-MAJOR-INDEX */
    {NI, OPTREST, 1}, /* 286 ARRAY-IN-BOUNDS-P */
    {NI, FIXED, 1},   /* 287 ARRAY-DIMENSIONS */
    {NI, FIXED, 2},   /* 288 ARRAY-DIMENSION */
    {NI, FIXED, 1},   /* 289 ARRAY-RANK */
    {NI, FIXED, 1},   /* 290 ARRAYP */
    {NI, FIXED, 1},   /* 291 ADJUSTABLE-ARRAY-P */

    // Strings
    {NI, KEYS, 1},  /* 292 MAKE-STRING */
    {NI, KEYS, 1},  /* 293 STRING-CAPITALIZE */
    {NI, KEYS, 1},  /* 294 STRING-DOWNCASE */
    {NI, KEYS, 1},  /* 295 STRING-UPCASE */
    {NI, FIXED, 2}, /* 296 CHAR */
    {NI, FIXED, 3}, /* 297 %SET-CHAR */
    {NI, FIXED, 1}, /* 298 STRING */
    {NI, KEYS, 2},  /* 299 STRING= */
    {NI, KEYS, 2},  /* 300 STRING< */
    {NI, KEYS, 2},  /* 301 STRING> */
    {NI, KEYS, 2},  /* 302 STRING<= */
    {NI, KEYS, 2},  /* 303 STRING>= */
    {NI, KEYS, 2},  /* 304 STRING/= */
    {NI, KEYS, 2},  /* 305 STRING-EQUAL */
    {NI, KEYS, 2},  /* 306 STRING-LESSP */
    {NI, KEYS, 2},  /* 307 STRING-GREATERP */
    {NI, KEYS, 2},  /* 308 STRING-NOT-GREATERP */
    {NI, KEYS, 2},  /* 309 STRING-NOT-LESSP */
    {NI, KEYS, 2},  /* 310 STRING-NOT-EQUAL */
    {NI, FIXED, 1}, /* 311 STRINGP */
    {NI, FIXED, 2}, /* 312 STRING-LEFT-TRIM */
    {NI, FIXED, 2}, /* 313 STRING-RIGHT-TRIM */
    {NI, FIXED, 2}, /* 314 STRING-TRIM */

    // Pathnames, input streams, macro characters and the printer
    {NI, FIXED, 1},   /* 315 PATHNAME-HOST */
    {NI, FIXED, 1},   /* 316 PATHNAME-DEVICE */
    {NI, FIXED, 1},   /* 317 PATHNAME-DIRECTORY */
    {NI, FIXED, 1},   /* 318 PATHNAME-NAME */
    {NI, FIXED, 1},   /* 319 PATHNAME-TYPE */
    {NI, FIXED, 1},   /* 320 PATHNAME-VERSION */
    {NI, FIXED, 1},   /* 321 PATHNAMEP */
    {NI, OPTREST, 0}, /* 322 CLEAR-INPUT */
    {NI, FIXED, 1},   /* 323 GET-MACRO-CHARACTER */
    {NI, OPTREST, 0}, /* 324 LISTEN */
    {NI, OPTREST, 0}, /* 325 PEEK-CHAR */
    {NI, OPTREST, 0}, /* 326 READ */
    {NI, OPTREST, 0}, /* 327 READ-CHAR */
    {NI, OPTREST, 0}, /* 328 READ-CHAR-NO-HANG */
    {NI, OPTREST, 0}, /* 329 READ-LINE */
    {NI, FIXED, 3},   /* 330 SET-DISPATCH-MACRO-CHARACTER */
    {NI, OPTREST, 2}, /* 331 SET-MACRO-CHARACTER */
    {NI, OPTREST, 1}, /* 332 UNREAD-CHAR */
    {NI, OPTREST, 1}, /* 333 READ-BYTE */
    {NI, SPECIAL, 0}, /* 334 %SET-PRINT-LAYOUT */
    {NI, OPTREST, 2}, /* 335 FORMAT */
    {NI, OPTREST, 0}, /* 336 FRESH-LINE */
    {NI, OPTREST, 1}, /* 337 PRINT */
    {NI, KEYS, 1},    /* 338 WRITE */
    {NI, OPTREST, 1}, /* 339 WRITE-CHAR */
    {NI, OPTREST, 1}, /* 340 WRITE-STRING */
    {NI, KEYS, 1},    /* 341 WRITE-TO-STRING */
    {NI, FIXED, 2},   /* 342 WRITE-BYTE */

    // Console windows
    {NI, FIXED, 2}, /* 343 %SET-WINDOW-CURSOR */
    {NI, FIXED, 1}, /* 344 %WINDOW-CURSOR */
    {NI, FIXED, 1}, /* 345 %CURSOR-SHAPE */
    {NI, FIXED, 2}, /* 346 %SET-WINDOW-ATTRIBUTE */
    {NI, FIXED, 1}, /* 347 %WINDOW-ATTRIBUTE */
    {NI, FIXED, 1}, /* 348 %CLEAR-WINDOW */
    {NI, FIXED, 2}, /* 349 %RESIZE-WINDOW */
    {NI, FIXED, 1}, /* 350 %WINDOW-SIZE */
    {NI, FIXED, 2}, /* 351 %MOVE-WINDOW */
    {NI, FIXED, 1}, /* 352 %WINDOW-ORIGIN */
    {NI, FIXED, 2}, /* 353 %MAKE-WINDOW-STREAM */
    {NI, FIXED, 1}, /* 354 %SAVE-WINDOW-SCREEN */
    {NI, FIXED, 1}, /* 355 %RESTORE-WINDOW-SCREEN */

    // Files, streams and time
    {NI, KEYS, 1},    /* 356 CLOSE */
    {NI, OPTREST, 1}, /* 357 FILE-POSITION */
    {NI, FIXED, 1},   /* 358 %FILE-SIZE */
    {NI, FIXED, 1},   /* 359 GET-OUTPUT-STREAM-STRING */
    {NI, KEYS, 1},    /* 360 LOAD */
    {NI, OPTREST, 1}, /* 361 MAKE-STRING-INPUT-STREAM */
    {NI, FIXED, 0},   /* 362 MAKE-STRING-OUTPUT-STREAM */
    {NI, OPTREST, 1}, /* 363 MERGE-PATHNAMES */
    {NI, KEYS, 1},    /* 364 OPEN */
    {NI, FIXED, 1},   /* 365 %STREAM-POSITION */
    {NI, FIXED, 1},   /* 366 STREAMP */
    {NI, FIXED, 1},   /* 367 STREAM-EXTERNAL-FORMAT */
    {NI, FIXED, 1},   /* 368 STREAM-ELEMENT-TYPE */
    {NI, OPTREST, 1}, /* 369 %DECODE-TIME */
    {NI, OPTREST, 6}, /* 370 %ENCODE-TIME */
    {NI, FIXED, 0},   /* 371 %GET-DECODED-TIME */
    {NI, FIXED, 0},   /* 372 %GET-TIME */

    // Random numbers, complex numbers and mathematical functions
    {NI, OPTREST, 0}, /* 373 %SEED-RANDOM-ALIAS */
    {NI, FIXED, 1},   /* 374 %RANDOM-ALIAS */
    {NI, SPECIAL, 0}, /* 375 TIME */
    {NI, FIXED, 1},   /* 376 SLEEP */
    {NI, OPTREST, 1}, /* 377 COMPLEX */
    {NI, FIXED, 1},   /* 378 COMPLEXP */
    {NI, FIXED, 1},   /* 379 %DOUBLE-COMPLEX-P */
    {NI, FIXED, 1},   /* 380 REALPART */
    {NI, FIXED, 1},   /* 381 IMAGPART */
    {NI, FIXED, 1},   /* 382 PHASE */
    {NI, FIXED, 1},   /* 383 CONJUGATE */
    {NI, FIXED, 1},   /* 384 ACOS */
    {NI, FIXED, 1},   /* 385 ASIN */
    {NI, OPTREST, 1}, /* 386 ATAN */
    {NI, FIXED, 1},   /* 387 COS */
    {NI, FIXED, 1},   /* 388 COSH */
    {NI, FIXED, 1},   /* 389 EXP */
    {NI, FIXED, 2},   /* 390 %EXPT-FLOAT */
    {NI, FIXED, 1},   /* 391 ISQRT */
    {NI, OPTREST, 1}, /* 392 LOG */
    {NI, OPTREST, 0}, /* 393 %SEED-RANDOM */
    {NI, FIXED, 1},   /* 394 RANDOM */
    {NI, FIXED, 2},   /* 395 REM */
    {NI, FIXED, 1},   /* 396 SIN */
    {NI, FIXED, 1},   /* 397 SINH */
    {NI, FIXED, 1},   /* 398 SQRT */
    {NI, FIXED, 1},   /* 399 TAN */
    {NI, FIXED, 1},   /* 400 TANH */
    {NI, OPTREST, 1}, /* 401 TRUNCATE */
    {NI, OPTREST, 1}, /* 402 ROUND */
    {NI, OPTREST, 1}, /* 403 FLOOR */
    {NI, OPTREST, 1}, /* 404 CEILING */

    // Errors, debugger, stepper and threads
    {NI, OPTREST, 0}, /* 405 BREAK */
    {NI, OPTREST, 2}, /* 406 CERROR */
    {NI, FIXED, 0},   /* 407 %KEYBOARD-INTERRUPT */
    {NI, OPTREST, 1}, /* 408 ERROR */
    {NI, SPECIAL, 0}, /* 409 %CATCH-ERROR */
    {NI, SPECIAL, 0}, /* 410 %RETRY-ON-ERROR */
    {NI, SPECIAL, 0}, /* 411 STEP */
    {NI, FIXED, 2},   /* 412 %STEP-HOOK */
    {NI, OPTREST, 1}, /* 413 WARN */
    {NI, OPTREST, 1}, /* 414 %START-THREAD */

    // Documentation store
    {NI, FIXED, 2}, /* 415 %DOC-LOOKUP */
    {NI, FIXED, 1}, /* 416 %DOC-PACK */
    {NI, FIXED, 3}, /* 417 %DOC-STORE */
    {NI, FIXED, 1}, /* 418 %DOC-UNPACK */

    // Classes, instances and slots
    {NI, OPTREST, 1}, /* 419 ALLOCATE-INSTANCE */
    {NI, FIXED, 2},   /* 420 %CHECK-INITARGS */
    {NI, FIXED, 1},   /* 421 CLASS-NAME */
    {NI, FIXED, 2},   /* 422 %SET-CLASS-NAME */
    {NI, FIXED, 1},   /* 423 CLASS-OF */
    {NI, FIXED, 1},   /* 424 %CLASS-FINALIZED-P */
    {NI, FIXED, 2},   /* 425 %DEFAULT-INITARGS */
    {NI, OPTREST, 1}, /* 426 FIND-CLASS */
    {NI, FIXED, 2},   /* 427 %SET-FIND-CLASS */
    {NI, OPTREST, 2}, /* 428 %FILL-SLOTS-FROM-INITARGS */
    {NI, FIXED, 1},   /* 429 %OBJECT-LENGTH */
    {NI, FIXED, 2},   /* 430 SLOT-BOUNDP */
    {NI, FIXED, 2},   /* 431 %FIND-SLOT-DEFINITION */
    {NI, FIXED, 2},   /* 432 SLOT-EXISTS-P */
    {NI, FIXED, 2},   /* 433 SLOT-MAKUNBOUND */
    {NI, FIXED, 2},   /* 434 SLOT-VALUE */
    {NI, FIXED, 3},   /* 435 %SET-SLOT-VALUE */
    {NI, FIXED, 1},   /* 436 %STANDARD-OBJECT-P */
    {NI, FIXED, 1},   /* 437 %MAKE-INTO-CLASS */

    // System: collector, images, host, console
    {bi_gc, OPTREST, 0}, /* 438 %GC */
    {NI, FIXED, 0},      /* 439 %ABORT-TO-TOP-LEVEL */
    {NI, OPTREST, 0},    /* 440 %LOAD-IMAGE */
    {NI, OPTREST, 0},    /* 441 %SAVE-IMAGE */
    {NI, OPTREST, 0},    /* 442 %RUN-PROGRAM */
    {NI, FIXED, 1},      /* 443 %EDIT-OBJECT */
    {NI, FIXED, 0},      /* 444 %CURRENT-DIRECTORY */
    {NI, FIXED, 1},      /* 445 %DIRECTORY */
    {NI, FIXED, 1},      /* 446 %MACHINE-INTEGER */
    {NI, OPTREST, 1},    /* 447 %DESCRIBE-RAW */
    {NI, FIXED, 1},      /* 448 %CLIPBOARD-COPY */
    {NI, FIXED, 0},      /* 449 %CLIPBOARD-TEXT */
    {NI, FIXED, 0},      /* 450 %EXIT */

    // Type-table predicates
    {NI, FIXED, 1}, /* 451 %ALWAYS-T */
    {NI, FIXED, 1}, /* 452 %SEQUENCEP */
    {NI, FIXED, 1}, /* 453 %BIGNUMP */
    {NI, FIXED, 1}, /* 454 %FIXNUMP */

    // Spare records: later built-ins take these numbers.
    {NI, FIXED, 3},      /* 455 %DISPATCH-CACHE-ADD */
    {NI, OPTREST, 2},    /* 456 %INSTANCE-REF */
    {NI, OPTREST, 2},    /* 457 %INSTANCE-SET */
    {NI, FIXED, 1},      /* 458 %OBJECT-ADDRESS */
    {NI, FIXED, 2},      /* 459 %MAKE-INSTANCE-FAST */
    {nullptr, FIXED, 0}, /* 460 spare */
    {nullptr, FIXED, 0}, /* 461 spare */
    {nullptr, FIXED, 0}, /* 462 spare */
    {nullptr, FIXED, 0}, /* 463 spare */
    {nullptr, FIXED, 0}, /* 464 spare */
    {NI, FIXED, 5},      /* 465 %MAKE-ARRAY-HEADER */
    {NI, OPTREST, 2},    /* 466 %OBJECT-PART */
    {NI, OPTREST, 2},    /* 467 VECTOR-PUSH-EXTEND */
    {NI, FIXED, 3},      /* 468 %MAKE-COMPOSITE-STREAM */
    {NI, OPTREST, 0},    /* 469 %READ-SUPPRESSED */
    {nullptr, FIXED, 0}, /* 470 spare */
    {nullptr, FIXED, 0}, /* 471 spare */
    {NI, OPTREST, 0},    /* 472 %INTERNAL-TIME */
    {NI, OPTREST, 1},    /* 473 %HOST-OPERATION */
    {NI, OPTREST, 1},    /* 474 %PROGRAM-OUTPUT */
    {nullptr, FIXED, 0}, /* 475 spare */
    {nullptr, FIXED, 0}, /* 476 spare */
    {nullptr, FIXED, 0}, /* 477 spare */
    {nullptr, FIXED, 0}, /* 478 spare */
    {nullptr, FIXED, 0}, /* 479 spare */
    {nullptr, FIXED, 0}, /* 480 spare */
    {nullptr, FIXED, 0}, /* 481 spare */
    {nullptr, FIXED, 0}, /* 482 spare */
    {nullptr, FIXED, 0}, /* 483 spare */
    {nullptr, FIXED, 0}, /* 484 spare */
    {nullptr, FIXED, 0}, /* 485 spare */
    {nullptr, FIXED, 0}, /* 486 spare */
    {nullptr, FIXED, 0}, /* 487 spare */
    {nullptr, FIXED, 0}, /* 488 spare */
    {nullptr, FIXED, 0}, /* 489 spare */
    {nullptr, FIXED, 0}, /* 490 spare */
    {nullptr, FIXED, 0}, /* 491 spare */
    {nullptr, FIXED, 0}, /* 492 spare */
    {nullptr, FIXED, 0}, /* 493 spare */
    {nullptr, FIXED, 0}, /* 494 spare */
    {nullptr, FIXED, 0}, /* 495 spare */
    {nullptr, FIXED, 0}, /* 496 spare */
    {nullptr, FIXED, 0}, /* 497 spare */
    {nullptr, FIXED, 0}, /* 498 spare */
    {nullptr, FIXED, 0}, /* 499 spare */
    {nullptr, FIXED, 0}, /* 500 spare */
    {nullptr, FIXED, 0}, /* 501 spare */
    {nullptr, FIXED, 0}, /* 502 spare */
    {nullptr, FIXED, 0}, /* 503 spare */
    {nullptr, FIXED, 0}, /* 504 spare */
    {NI, FIXED, 1},      /* 505 %SIMPLE-ARRAY-P */
    {NI, FIXED, 1},      /* 506 SIMPLE-STRING-P */
    {nullptr, FIXED, 0}, /* 507 spare */
    {nullptr, FIXED, 0}, /* 508 spare */
    {nullptr, FIXED, 0}, /* 509 spare */
    {nullptr, FIXED, 0}, /* 510 spare */
    {nullptr, FIXED, 0}, /* 511 spare */
};

uint16_t zv_bi_live = BI_CAPACITY;
uint16_t zv_bi_saved = BI_CAPACITY;

// Every family of built-ins lives in a file of its own and installs its
// routines here.  The references are weak so that the table links before a
// family exists; its built-ins then stay placeholders.
#define ZV_FAMILY_DECLARE(f) void bi_install_##f() __attribute__((weak));
ZV_BUILTIN_FAMILIES(ZV_FAMILY_DECLARE)
#undef ZV_FAMILY_DECLARE

void bi_install_all() {
#define ZV_FAMILY_CALL(f) \
  if (bi_install_##f) bi_install_##f();
  ZV_BUILTIN_FAMILIES(ZV_FAMILY_CALL)
#undef ZV_FAMILY_CALL
}

// Counted from the full capacity each time, so a second call (a restart)
// gives the same result, and a built-in added in a spare record is counted.
void bi_init_counts() {
  bi_install_all();
  uint16_t live = BI_CAPACITY;
  while (live > 0 && zv_builtins[live - 1].fn == nullptr) live--;
  zv_bi_live = live;
  zv_bi_saved = live;
}

// A loud placeholder: calling a built-in whose family is not in this kernel
// yet is an error naming its number, never a silent NIL.
Value bi_not_implemented(Value a, Value b) {
  return zv_error(ERR_NOT_IMPLEMENTED, make_fixnum(zvts->current_builtin));
}
