// The built-in function table.  Every built-in is one line of
// builtins/builtins.def; the records, the BI_ numbers, the routines'
// declarations and the genesis's names all come from that list.  The
// numbering, kinds and counts are a contract with every image.
//
// This header and the list are the evaluator's view of the built-ins: they
// belong to the eval layer although they live beside the families.
#pragma once

#include <array>
#include <cstdint>

#include "object/value.h"

// Every routine takes two parameters: count-1 routines use the first,
// count-2 routines both, all others read the Lisp stack frame and ignore
// them.
using BuiltinFn = Value (*)(Value a, Value b);

// Calling kinds; a built-in Value's tag is 5 + kind.
enum BuiltinKind : uint8_t {
  KIND_SPECIAL = 0,  // special form: gets the form's unevaluated cdr
  KIND_MACRO = 1,    // gets the whole form, returns its expansion
  KIND_FIXED = 2,    // exactly count evaluated arguments
  KIND_OPTREST = 3,  // count or more
  KIND_KEYS = 4,     // count, then keyword/value pairs
};

struct BuiltinRecord {
  BuiltinFn fn;   // null in a spare record
  uint8_t kind;   // BuiltinKind
  uint8_t count;  // required arguments
};

// Room for this many records.  An image records its own count and a
// built-in number has 16 bits, so growing the table is this one constant.
constexpr uint32_t BI_CAPACITY = 600;
static_assert(BI_CAPACITY <= 0x10000);

// BI_<ID>: the number of each built-in of the list.
#define BI(n, id, name, kind, count, fn) constexpr uint32_t BI_##id = n;
#include "builtins/builtins.def"
#undef BI

// One past the highest number listed: the records a fresh kernel uses.
constexpr uint32_t BI_COUNT = [] {
  uint32_t top = 0;
#define BI(n, id, name, kind, count, fn) top = n + 1 > top ? n + 1 : top;
#include "builtins/builtins.def"
#undef BI
  return top;
}();
static_assert(BI_COUNT <= BI_CAPACITY, "a built-in number beyond BI_CAPACITY");

// The routines, wherever their family defines them.
#define BI(n, id, name, kind, count, fn) Value fn(Value, Value);
#include "builtins/builtins.def"
#undef BI

extern std::array<BuiltinRecord, BI_CAPACITY> zv_builtins;
extern uint16_t zv_bi_live;   // records in use
extern uint16_t zv_bi_saved;  // records written to / expected in an image

// Trim the live count while the last record has no function; the saved
// count follows it.  Done when the areas of a world are allocated, before
// an image's records are compared with the table.
void bi_init_counts();

inline Value bi_value(uint32_t n) { return make_builtin(zv_builtins[n].kind, n); }

// The routine of every built-in that belongs to a later part of the kernel:
// signals "not implemented" naming the built-in's number (taken from the
// thread state's current built-in).
Value bi_not_implemented(Value a, Value b);
