// The interface through which the object layer reports Lisp errors and
// warnings.  The error signaller installs its routines here; until then a
// minimal default prints the code and ends the process.
#pragma once

#include <cstdint>

#include "object/value.h"

// Error codes used by the object layer.
constexpr uint32_t ERR_HEAP_FULL = 36;
constexpr uint32_t ERR_SYMTAB_FULL = 37;
constexpr uint32_t ERR_STACK_OVERFLOW = 38;
constexpr uint32_t ERR_CONS_FULL = 39;
constexpr uint32_t ERR_TOO_MANY_ARGS = 4148;
constexpr uint32_t ERR_BAD_GC_ARG = 4146;
constexpr uint32_t ERR_VECTOR_TOO_LONG = 4171;
constexpr uint32_t ERR_WRONG_TYPE = 5170;
// Kernel-internal: a stack with no room left even for the error's message;
// the signaller reports the overflow and goes back to the top level.
constexpr uint32_t ERR_STACK_NO_ROOM = 0x800;
// Kernel-internal: a built-in whose routine is not in this kernel yet.
constexpr uint32_t ERR_NOT_IMPLEMENTED = 0x1000 | 24;

inline uint32_t err_object_count(uint32_t code) { return (code >> 12) & 15; }

// error: may return a replacement value when the user supplies one.
using ErrorFn = Value (*)(uint32_t code, const Value* objects);
// warn / cerror: return when the user continues.
using WarnFn = void (*)(uint32_t code, const Value* objects);

// Runs before the kernel prints a fatal message and ends the process
// without exit handlers: the console gives the terminal back here, so that
// the message is seen.  It must be async-signal-safe.
extern void (*zv_fatal_hook)();
inline void fatal_prepare() {
  if (zv_fatal_hook) zv_fatal_hook();
}

extern ErrorFn zv_error_fn;
extern WarnFn zv_warn_fn;
extern WarnFn zv_cerror_fn;

Value zv_error(uint32_t code);
Value zv_error(uint32_t code, Value a);
Value zv_error(uint32_t code, Value a, Value b);
void zv_warn(uint32_t code, Value a = NIL);
void zv_cerror(uint32_t code, Value a = NIL);
