// The symbol name each built-in is bound to in the first image.
//
// Standard Common Lisp names wherever the built-in plays that role; names
// that begin with % are the system's own.  Where a built-in departs from
// the standard operator in a way portable code would notice (DIGIT-CHAR-P
// answering T instead of the weight, time counted from 1970), it keeps a %
// name and the Lisp library defines the standard one on top of it.  Two
// numbers that share one routine (RANDOM and its seed) give the second
// number an -ALIAS name.
//
// Several of these names are also the names of fixed symbols (LIST, APPLY,
// EVAL, LOAD, OPEN, CLOSE, AND, OR, SETQ, ...): the genesis interns by
// name, so each lands on the fixed symbol itself.
#include "genesis/builtin_names.h"

const char* const zv_builtin_names[BI_CAPACITY] = {
    // Reader macro functions
    "%READ-BACKQUOTE",    // 0
    "%READ-COMMA",        // 1
    "%READ-SEMICOLON",    // 2
    "%READ-LEFT-PAREN",   // 3
    "%READ-QUOTE",        // 4
    "%READ-RIGHT-PAREN",  // 5
    "%READ-STRING",       // 6

    // Dispatching reader macro functions (under #)
    "%READ-SHARP-UNINTERNED",  // 7
    "%READ-SHARP-VECTOR",      // 8
    "%READ-SHARP-FEATURE",     // 9
    "%READ-SHARP-EVAL",        // 10
    "%READ-SHARP-FUNCTION",    // 11
    "%READ-SHARP-RADIX",       // 12
    "%READ-SHARP-CHARACTER",   // 13
    "%READ-SHARP-COMMENT",     // 14
    "%READ-SHARP-COMPLEX",     // 15

    // Calling and evaluation
    "APPLY",                // 16
    "APPLYHOOK",            // 17
    "COMPILED-FUNCTION-P",  // 18
    "CONSTANTP",            // 19
    "EVAL",                 // 20
    "EVALHOOK",             // 21
    "%EVAL-LIST",           // 22
    "FUNCALL",              // 23
    "FUNCTION",             // 24
    "FUNCTIONP",            // 25
    "PROGN",                // 26
    "QUOTE",                // 27

    // Symbols, definitions and assignment
    "APROPOS-LIST",          // 28
    "BOUNDP",                // 29
    "DEFCONSTANT",           // 30
    "DEFPARAMETER",          // 31
    "DEFUN",                 // 32
    "DEFVAR",                // 33
    "FBOUNDP",               // 34
    "FMAKUNBOUND",           // 35
    "GENSYM",                // 36
    "GENTEMP",               // 37
    "GET",                   // 38
    "GETF",                  // 39
    "INTERN",                // 40
    "KEYWORDP",              // 41
    "MAKE-SYMBOL",           // 42
    "MAKUNBOUND",            // 43
    "PROGV",                 // 44
    "PSETQ",                 // 45
    "%PUTF",                 // 46
    "%PUTPROP",              // 47
    "REMPROP",               // 48
    "SET",                   // 49
    "%SET-SYMBOL-FUNCTION",  // 50
    "%SET-SYMBOL-PLIST",     // 51
    "%REMF",                 // 52
    "SETQ",                  // 53
    "SPECIAL-OPERATOR-P",    // 54
    "SYMBOL-FUNCTION",       // 55
    "SYMBOL-NAME",           // 56
    "SYMBOL-PLIST",          // 57
    "SYMBOL-VALUE",          // 58
    "SYMBOLP",               // 59
    "UNINTERN",              // 60

    // Macros, places and their expansion
    "DEFINE-SETF-EXPANDER",  // 61
    "DEFMACRO",              // 62
    "DEFSETF",               // 63
    "%MARK-SUBSTITUTABLE",   // 64
    "GET-SETF-EXPANSION",    // 65
    "MACRO-FUNCTION",        // 66
    "MACROEXPAND",           // 67
    "MACROEXPAND-1",         // 68
    "SETF",                  // 69

    // Type tests and equality
    "ATOM",                      // 70
    "COERCE",                    // 71
    "CONSP",                     // 72
    "DEFTYPE",                   // 73
    "EQ",                        // 74
    "EQL",                       // 75
    "EQUAL",                     // 76
    "EQUALP",                    // 77
    "LISTP",                     // 78
    "%NEQ",                      // 79
    "%NLISTP",                   // 80
    "NULL",                      // 81
    "%CHECK-TYPE-REDEFINITION",  // 82
    "SUBTYPEP",                  // 83
    "THE",                       // 84
    "TYPE-OF",                   // 85
    "TYPEP",                     // 86

    // Lists
    "ACONS",         // 87
    "APPEND",        // 88
    "ASSOC",         // 89
    "ASSOC-IF",      // 90
    "ASSOC-IF-NOT",  // 91
    "%ASSQ",         // 92
    "CAR",           // 93
    "CAAR",          // 94
    "CADR",          // 95
    "CDR",           // 96
    "CDAR",          // 97
    "CDDR",          // 98
    "CAAAR",         // 99
    "CAADR",         // 100
    "CADAR",         // 101
    "CADDR",         // 102
    "CDAAR",         // 103
    "CDADR",         // 104
    "CDDAR",         // 105
    "CDDDR",         // 106
    "CONS",          // 107
    "COPY-LIST",     // 108
    "COPY-TREE",     // 109
    "ENDP",          // 110
    "LAST",          // 111
    "LIST",          // 112
    "LIST*",         // 113
    "%LIST-LENGTH",  // 114
    "NCONC",         // 115
    "NRECONC",       // 116
    "NTH",           // 117
    "NTHCDR",        // 118
    "REVAPPEND",     // 119
    "RPLACA",        // 120
    "RPLACD",        // 121
    "SUBLIS",        // 122
    "SUBST",         // 123
    "BUTLAST",       // 124
    "NBUTLAST",      // 125

    // Sequences
    "CONCATENATE",  // 126
    "COPY-SEQ",     // 127
    "DELETE",       // 128
    "ELT",          // 129
    "FILL",         // 130
    "FIND",         // 131
    "LENGTH",       // 132
    "MAP",          // 133
    "NREVERSE",     // 134
    "POSITION",     // 135
    "REMOVE",       // 136
    "REMOVE-IF",    // 137
    "REPLACE",      // 138
    "REVERSE",      // 139
    "%SETELT",      // 140
    "SORT",         // 141
    "SUBSEQ",       // 142
    "REDUCE",       // 143
    "MISMATCH",     // 144: the library writes SEARCH on top of it

    // Membership, sets and quantifiers
    "ADJOIN",             // 145
    "EVERY",              // 146
    "INTERSECTION",       // 147
    "MEMBER",             // 148
    "MEMBER-IF",          // 149
    "MEMBER-IF-NOT",      // 150
    "%MEMBER-EQL",        // 151
    "NINTERSECTION",      // 152
    "NSET-DIFFERENCE",    // 153
    "NSET-EXCLUSIVE-OR",  // 154
    "NUNION",             // 155
    "SET-DIFFERENCE",     // 156
    "SET-EXCLUSIVE-OR",   // 157
    "SOME",               // 158
    "SUBSETP",            // 159
    "UNION",              // 160

    // Characters
    "CHARACTER",            // 161
    "CHARACTERP",           // 162
    "CHAR-EQUAL",           // 163
    "CHAR-NAME",            // 164
    "MAKE-CHAR",            // 165
    "NAME-CHAR",            // 166
    "%STRING-CHAR-TYPE-P",  // 167: the STRING-CHAR type test: any object
    "STRING-CHAR-P",        // 168
    "GRAPHIC-CHAR-P",       // 169
    "ALPHA-CHAR-P",         // 170
    "UPPER-CASE-P",         // 171
    "LOWER-CASE-P",         // 172
    "BOTH-CASE-P",          // 173
    "%DIGIT-CHAR-P",        // 174: answers T, not the weight
    "ALPHANUMERICP",        // 175
    "CHAR=",                // 176
    "CHAR/=",               // 177
    "CHAR<",                // 178
    "CHAR>",                // 179
    "CHAR<=",               // 180
    "CHAR>=",               // 181
    "CHAR-CODE",            // 182
    "CHAR-BITS",            // 183
    "CHAR-FONT",            // 184
    "CODE-CHAR",            // 185
    "CHAR-UPCASE",          // 186
    "CHAR-DOWNCASE",        // 187
    "DIGIT-CHAR",           // 188
    "CHAR-INT",             // 189
    "INT-CHAR",             // 190

    // Special forms, control and mapping
    "AND",                   // 191
    "BLOCK",                 // 192
    "CASE",                  // 193
    "CATCH",                 // 194
    "COND",                  // 195
    "DO",                    // 196
    "DO*",                   // 197
    "DOLIST",                // 198
    "DOTIMES",               // 199
    "GO",                    // 200
    "IF",                    // 201
    "LABELS",                // 202
    "LET",                   // 203
    "LET*",                  // 204
    "LOOP",                  // 205
    "MAPC",                  // 206
    "MAPCAR",                // 207
    "MAPL",                  // 208
    "MAPLIST",               // 209
    "OR",                    // 210
    "PROG1",                 // 211
    "PROG2",                 // 212
    "RETURN",                // 213
    "RETURN-FROM",           // 214
    "TAGBODY",               // 215
    "THROW",                 // 216
    "UNWIND-PROTECT",        // 217
    "MULTIPLE-VALUE-BIND",   // 218
    "MULTIPLE-VALUE-CALL",   // 219
    "MULTIPLE-VALUE-PROG1",  // 220
    "MULTIPLE-VALUE-SETQ",   // 221

    // Multiple values
    "VALUES",       // 222
    "VALUES-LIST",  // 223

    // Numbers
    "1-",              // 224
    "1+",              // 225
    "ABS",             // 226
    "=",               // 227
    "EVENP",           // 228
    "FLOAT",           // 229
    "FLOATP",          // 230
    ">=",              // 231
    ">",               // 232
    "INTEGERP",        // 233
    "<=",              // 234
    "<",               // 235
    "MAX",             // 236
    "MIN",             // 237
    "-",               // 238
    "MINUSP",          // 239
    "/=",              // 240
    "NUMBERP",         // 241
    "ODDP",            // 242
    "+",               // 243
    "PLUSP",           // 244
    "/",               // 245
    "*",               // 246
    "ZEROP",           // 247
    "LOGIOR",          // 248
    "LOGXOR",          // 249
    "LOGAND",          // 250
    "LOGEQV",          // 251
    "ASH",             // 252
    "%LOGSUBSETP",     // 253
    "LOGBITP",         // 254
    "LOGNOT",          // 255
    "LOGCOUNT",        // 256
    "INTEGER-LENGTH",  // 257
    "LOGNAND",         // 258
    "LOGNOR",          // 259
    "LOGANDC1",        // 260
    "LOGANDC2",        // 261
    "LOGORC1",         // 262
    "LOGORC2",         // 263

    // Hash tables
    "CLRHASH",           // 264
    "GETHASH",           // 265
    "HASH-TABLE-COUNT",  // 266
    "HASH-TABLE-P",      // 267
    "MAKE-HASH-TABLE",   // 268
    "MAPHASH",           // 269
    "REMHASH",           // 270
    "%PUTHASH",          // 271
    "SXHASH",            // 272

    // Arrays and vectors
    "ARRAY-ELEMENT-TYPE",     // 273
    "ARRAY-TOTAL-SIZE",       // 274
    "MAKE-ARRAY",             // 275
    "%SET-ROW-MAJOR-AREF",    // 276
    "ROW-MAJOR-AREF",         // 277
    "%ASET",                  // 278
    "AREF",                   // 279
    "VECTOR",                 // 280
    "%VECTOR-APPEND",         // 281
    "VECTORP",                // 282
    "%SET-SVREF",             // 283
    "SVREF",                  // 284: row-major access, index checked
    "ARRAY-ROW-MAJOR-INDEX",  // 285
    "ARRAY-IN-BOUNDS-P",      // 286
    "ARRAY-DIMENSIONS",       // 287
    "ARRAY-DIMENSION",        // 288
    "ARRAY-RANK",             // 289
    "ARRAYP",                 // 290
    "ADJUSTABLE-ARRAY-P",     // 291

    // Strings
    "MAKE-STRING",          // 292
    "STRING-CAPITALIZE",    // 293
    "STRING-DOWNCASE",      // 294
    "STRING-UPCASE",        // 295
    "CHAR",                 // 296
    "%SET-CHAR",            // 297
    "STRING",               // 298
    "STRING=",              // 299
    "STRING<",              // 300: 300-304 in the order < > <= >= /=
    "STRING>",              // 301
    "STRING<=",             // 302
    "STRING>=",             // 303
    "STRING/=",             // 304
    "STRING-EQUAL",         // 305
    "STRING-LESSP",         // 306: 306-310 likewise, ignoring case
    "STRING-GREATERP",      // 307
    "STRING-NOT-GREATERP",  // 308
    "STRING-NOT-LESSP",     // 309
    "STRING-NOT-EQUAL",     // 310
    "STRINGP",              // 311
    "STRING-LEFT-TRIM",     // 312
    "STRING-RIGHT-TRIM",    // 313
    "STRING-TRIM",          // 314

    // Pathnames, input streams, macro characters and the printer
    "PATHNAME-HOST",                 // 315
    "PATHNAME-DEVICE",               // 316
    "PATHNAME-DIRECTORY",            // 317
    "PATHNAME-NAME",                 // 318
    "PATHNAME-TYPE",                 // 319
    "PATHNAME-VERSION",              // 320
    "PATHNAMEP",                     // 321
    "CLEAR-INPUT",                   // 322
    "GET-MACRO-CHARACTER",           // 323
    "LISTEN",                        // 324
    "PEEK-CHAR",                     // 325
    "READ",                          // 326
    "READ-CHAR",                     // 327
    "READ-CHAR-NO-HANG",             // 328
    "READ-LINE",                     // 329
    "SET-DISPATCH-MACRO-CHARACTER",  // 330
    "SET-MACRO-CHARACTER",           // 331
    "UNREAD-CHAR",                   // 332
    "READ-BYTE",                     // 333
    "%SET-PRINT-LAYOUT",             // 334
    "FORMAT",                        // 335
    "FRESH-LINE",                    // 336
    "PRINT",                         // 337
    "WRITE",                         // 338
    "WRITE-CHAR",                    // 339
    "WRITE-STRING",                  // 340
    "WRITE-TO-STRING",               // 341
    "WRITE-BYTE",                    // 342

    // Console windows
    "%SET-WINDOW-CURSOR",      // 343
    "%WINDOW-CURSOR",          // 344
    "%CURSOR-SHAPE",           // 345
    "%SET-WINDOW-ATTRIBUTE",   // 346
    "%WINDOW-ATTRIBUTE",       // 347
    "%CLEAR-WINDOW",           // 348
    "%RESIZE-WINDOW",          // 349
    "%WINDOW-SIZE",            // 350
    "%MOVE-WINDOW",            // 351
    "%WINDOW-ORIGIN",          // 352
    "%MAKE-WINDOW-STREAM",     // 353
    "%SAVE-WINDOW-SCREEN",     // 354
    "%RESTORE-WINDOW-SCREEN",  // 355

    // Files, streams and time
    "CLOSE",                      // 356
    "FILE-POSITION",              // 357
    "%FILE-SIZE",                 // 358
    "GET-OUTPUT-STREAM-STRING",   // 359
    "LOAD",                       // 360
    "MAKE-STRING-INPUT-STREAM",   // 361
    "MAKE-STRING-OUTPUT-STREAM",  // 362
    "MERGE-PATHNAMES",            // 363
    "OPEN",                       // 364
    "%STREAM-POSITION",           // 365
    "STREAMP",                    // 366
    "STREAM-EXTERNAL-FORMAT",     // 367
    "STREAM-ELEMENT-TYPE",        // 368
    "%DECODE-TIME",               // 369
    "%ENCODE-TIME",               // 370
    "%GET-DECODED-TIME",          // 371
    "%GET-TIME",                  // 372

    // Random numbers, complex numbers and mathematical functions
    "%SEED-RANDOM-ALIAS",  // 373: same routine as 393
    "%RANDOM-ALIAS",       // 374: same routine as 394
    "TIME",                // 375
    "SLEEP",               // 376
    "COMPLEX",             // 377
    "COMPLEXP",            // 378
    "%DOUBLE-COMPLEX-P",   // 379
    "REALPART",            // 380
    "IMAGPART",            // 381
    "PHASE",               // 382
    "CONJUGATE",           // 383
    "ACOS",                // 384
    "ASIN",                // 385
    "ATAN",                // 386
    "COS",                 // 387
    "COSH",                // 388
    "EXP",                 // 389
    "%EXPT-FLOAT",         // 390
    "ISQRT",               // 391
    "LOG",                 // 392
    "%SEED-RANDOM",        // 393
    "RANDOM",              // 394
    "REM",                 // 395
    "SIN",                 // 396
    "SINH",                // 397
    "SQRT",                // 398
    "TAN",                 // 399
    "TANH",                // 400
    "TRUNCATE",            // 401
    "ROUND",               // 402
    "FLOOR",               // 403
    "CEILING",             // 404

    // Errors, debugger, stepper and threads
    "BREAK",                // 405
    "CERROR",               // 406
    "%KEYBOARD-INTERRUPT",  // 407
    "ERROR",                // 408
    "%CATCH-ERROR",         // 409
    "%RETRY-ON-ERROR",      // 410
    "STEP",                 // 411
    "%STEP-HOOK",           // 412
    "WARN",                 // 413
    "%START-THREAD",        // 414

    // Documentation store
    "%DOC-LOOKUP",  // 415
    "%DOC-PACK",    // 416
    "%DOC-STORE",   // 417
    "%DOC-UNPACK",  // 418

    // Classes, instances and slots
    "ALLOCATE-INSTANCE",          // 419
    "%CHECK-INITARGS",            // 420
    "CLASS-NAME",                 // 421
    "%SET-CLASS-NAME",            // 422
    "CLASS-OF",                   // 423
    "%CLASS-FINALIZED-P",         // 424
    "%DEFAULT-INITARGS",          // 425
    "FIND-CLASS",                 // 426
    "%SET-FIND-CLASS",            // 427
    "%FILL-SLOTS-FROM-INITARGS",  // 428
    "%OBJECT-LENGTH",             // 429
    "SLOT-BOUNDP",                // 430
    "%FIND-SLOT-DEFINITION",      // 431
    "SLOT-EXISTS-P",              // 432
    "SLOT-MAKUNBOUND",            // 433
    "SLOT-VALUE",                 // 434
    "%SET-SLOT-VALUE",            // 435
    "%STANDARD-OBJECT-P",         // 436
    "%MAKE-INTO-CLASS",           // 437

    // System: collector, images, host, console
    "%GC",                  // 438
    "%ABORT-TO-TOP-LEVEL",  // 439
    "%LOAD-IMAGE",          // 440
    "%SAVE-IMAGE",          // 441
    "%RUN-PROGRAM",         // 442
    "%EDIT-OBJECT",         // 443
    "%CURRENT-DIRECTORY",   // 444
    "%DIRECTORY",           // 445
    "%MACHINE-INTEGER",     // 446
    "%DESCRIBE-RAW",        // 447
    "%CLIPBOARD-COPY",      // 448
    "%CLIPBOARD-TEXT",      // 449
    "%EXIT",                // 450

    // Type-table predicates
    "%ALWAYS-T",   // 451
    "%SEQUENCEP",  // 452
    "%BIGNUMP",    // 453
    "%FIXNUMP",    // 454

    // Spare records taken by later built-ins (doc/builtins-extra.md)
    "%DISPATCH-CACHE-ADD",  // 455
    "%INSTANCE-REF",        // 456
    "%INSTANCE-SET",        // 457
    "%OBJECT-ADDRESS",      // 458
    "%MAKE-INSTANCE-FAST",  // 459
    nullptr, nullptr, nullptr, nullptr, nullptr,  // 460-464
    "%MAKE-ARRAY-HEADER",      // 465
    "%OBJECT-PART",            // 466
    "VECTOR-PUSH-EXTEND",      // 467
    "%MAKE-COMPOSITE-STREAM",  // 468
    "%READ-SUPPRESSED",     // 469
    nullptr, nullptr,          // 470-471
    "%INTERNAL-TIME",          // 472
    "%HOST-OPERATION",         // 473
    "%PROGRAM-OUTPUT",         // 474
    nullptr,                // 475
    nullptr,                // 476
    nullptr,                // 477
    nullptr,                // 478
    nullptr,                // 479
    nullptr,                // 480
    nullptr,                // 481
    nullptr,                // 482
    nullptr,                // 483
    nullptr,                // 484
    nullptr,                // 485
    nullptr,                // 486
    nullptr,                // 487
    nullptr,                // 488
    nullptr,                // 489
    nullptr,                // 490
    nullptr,                // 491
    nullptr,                // 492
    nullptr,                // 493
    nullptr,                // 494
    nullptr,                // 495
    nullptr,                // 496
    nullptr,                // 497
    nullptr,                // 498
    nullptr,                // 499
    nullptr,                // 500
    nullptr,                // 501
    nullptr,                // 502
    nullptr,                // 503
    nullptr,                // 504
    "%SIMPLE-ARRAY-P",      // 505
    "SIMPLE-STRING-P",      // 506
};
