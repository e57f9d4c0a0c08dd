// Type tests: TYPE-OF, TYPEP, SUBTYPEP, COERCE, DEFTYPE, THE and the basic
// predicates, over the type table of root word 130.
//
// Also the access to the kernel's two symbol-keyed root tables (types and
// place expanders), which goes through the hash-table built-ins so that
// both follow the one hashing rule saved with images.
#pragma once

#include "object/value.h"

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
