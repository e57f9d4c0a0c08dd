// Type tests: TYPE-OF, TYPEP, SUBTYPEP, COERCE, DEFTYPE, THE and the basic
// predicates, over the type table of root word 130.
#pragma once

#include "object/value.h"

// Error codes of the type system.
enum : uint32_t {
  E_TYPE_MISMATCH = 0x104F,    // cerror: THE (4175)
  E_BAD_TYPE_SPEC = 0x1050,    // invalid type specifier (4176)
  E_PREDEFINED_TYPE = 0x1051,  // a predefined type may not be redefined (4177)
  MSG_CONT_TYPE = 84,          // continuation of 4175
};

// The type of a Value as TYPE-OF names it.
Value lisp_type_of(Value x);
// The type test of TYPEP; error 4176 on an invalid specifier.  May call
// Lisp (SATISFIES, DEFTYPE expanders).
bool lisp_typep(Value obj, Value type);
