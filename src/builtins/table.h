// The built-in function table: 512 records, 455 of them built-ins.  The
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

constexpr uint32_t BI_CAPACITY = 512;
constexpr uint32_t BI_COUNT = 455;

extern BuiltinRecord zv_builtins[BI_CAPACITY];
extern uint16_t zv_bi_live;   // records in use
extern uint16_t zv_bi_saved;  // records written to / expected in an image

// Install every family's routines, then trim the live count while the last
// record has no function; the saved count follows it.
void bi_init_counts();

// The families of built-ins.  A family file defines `void bi_install_NAME()`
// that stores its routines with bi_install(); a family not written yet
// leaves its built-ins as placeholders.
#define ZV_BUILTIN_FAMILIES(X)                                                 \
  X(types) X(eval) X(apply) X(special_forms) X(control) X(errors)             \
  X(equality) X(definitions) X(macros) X(lists) X(numbers) X(sets)           \
  X(sequences) X(hash_tables) X(arrays) X(characters) X(strings)             \
  X(symbols) X(streams) X(reader) X(printer) X(format) X(files) X(console)   \
  X(threads) X(documentation) X(classes) X(debugger) X(image) X(diag) X(gc)   \
  X(host_time) X(pathnames) X(file_system) X(programs) X(object_parts)
void bi_install_all();

inline void bi_install(uint32_t n, BuiltinFn fn) { zv_builtins[n].fn = fn; }

inline Value bi_value(uint32_t n) { return make_builtin(zv_builtins[n].kind, n); }

// The routine of every built-in that belongs to a later part of the kernel:
// signals "not implemented" naming the built-in's number (taken from the
// thread state's current built-in).
Value bi_not_implemented(Value a, Value b);
