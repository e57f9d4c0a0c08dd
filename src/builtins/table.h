// The built-in function table: 475 records, 455 of them built-ins.  The
// numbering, kinds and counts are a contract with every image.
#pragma once

#include <cstdint>

#include "object/value.h"

// Every routine takes two parameters: count-1 routines use the first,
// count-2 routines both, all others read the Lisp stack frame and ignore
// them.
using BuiltinFn = Value (*)(Value a, Value b);

struct BuiltinRecord {
  BuiltinFn fn;   // null in a spare record
  uint8_t kind;   // 0 special form, 1 macro, 2 fixed, 3 optional/rest, 4 keywords
  uint8_t count;  // required arguments
};

constexpr uint32_t BI_CAPACITY = 475;
constexpr uint32_t BI_COUNT = 455;

extern BuiltinRecord zv_builtins[BI_CAPACITY];
extern uint16_t zv_bi_live;   // records in use
extern uint16_t zv_bi_saved;  // records written to / expected in an image

// Trim the live count while the last record has no function; the saved
// count follows it.
void bi_init_counts();

inline Value bi_value(uint32_t n) { return make_builtin(zv_builtins[n].kind, n); }

// The routine of every built-in that belongs to a later part of the kernel:
// signals "not implemented" naming the built-in's number (taken from the
// thread state's current built-in).
Value bi_not_implemented(Value a, Value b);
