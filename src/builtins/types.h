// Type tests: TYPE-OF, TYPEP, SUBTYPEP, COERCE, DEFTYPE, THE and the basic
// predicates, over the type table of root word 130.
//
// Also the access to the kernel's two symbol-keyed root tables (types and
// place expanders), which goes through the hash-table built-ins so that
// both follow the one hashing rule saved with images.
#pragma once

#include "object/value.h"

// Fixed symbols of the type system.
enum : uint32_t {
  TS_STREAM = 0x18,
  TS_ARRAY = 0x19,
  TS_BIGNUM = 0x69,
  TS_CHARACTER = 0x6C,
  TS_COMPILED_FUNCTION = 0x6D,
  TS_CONS = 0x6E,
  TS_FIXNUM = 0x6F,
  TS_FLOAT = 0x70,
  TS_HASH_TABLE = 0x72,
  TS_INTEGER = 0x73,
  TS_LIST = 0x75,
  TS_NULL = 0x76,
  TS_COMPLEX = 0x78,
  TS_STRING = 0x7C,
  TS_STRING_CHAR = 0x7D,
  TS_SYMBOL = 0x7F,
  TS_VECTOR = 0x82,
  TS_AND = 0x87,
  TS_EQL = 0x8C,
  TS_MEMBER = 0x99,
  TS_NOT = 0x9B,
  TS_OR = 0x9D,
  TS_SATISFIES = 0xA6,
  TS_TYPE_DOC = 0xAF,  // documentation kind of DEFTYPE
};

// Error codes of the type system.
enum : uint32_t {
  E_TYPE_MISMATCH = 0x104F,    // cerror: THE (4175)
  E_BAD_TYPE_SPEC = 0x1050,    // invalid type specifier (4176)
  E_PREDEFINED_TYPE = 0x1051,  // a predefined type may not be redefined (4177)
  W_REDEFINED = 0x201A,        // warning: redefinition (8218)
  MSG_CONT_TYPE = 84,          // continuation of 4175
};

// The type of a Value as TYPE-OF names it.
Value lisp_type_of(Value x);
// The type test of TYPEP; error 4176 on an invalid specifier.  May call
// Lisp (SATISFIES, DEFTYPE expanders).
bool lisp_typep(Value obj, Value type);

// Class objects (heap type 88): word 1 the name, word 2 the precedence
// list, word 3 the membership built-in of a built-in class.
inline bool is_class_object(Value v) { return tag_of(v) == TAG_OBJECT && heap_type(v) == HT_CLASS; }

// Entries of the root tables by symbol key: lookup gives NO_VALUE for an
// absent key.
Value root_table_get(uint32_t root, Value key);
void root_table_put(uint32_t root, Value key, Value value);
void root_table_remove(uint32_t root, Value key);
