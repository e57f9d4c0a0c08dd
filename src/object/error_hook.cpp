// Error and warning hooks.  The object layer signals through these so that
// it does not depend on the evaluator; the error signaller replaces the
// defaults when it starts.  The defaults only make a failure visible.
#include "object/error_hook.h"

#include <cstdio>
#include <cstdlib>

static void describe(const char* kind, uint32_t code, const Value* objects) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s %u (message %u)", kind, code, code & 0xFF);
  uint32_t n = err_object_count(code);
  if (n > 4) n = 4;  // a malformed code must not read past the objects
  for (uint32_t i = 0; i < n; i++) std::fprintf(stderr, " %08X", objects[i]);
  std::fputc('\n', stderr);
}

static Value default_error(uint32_t code, const Value* objects) {
  describe("Error", code, objects);
  std::exit(1);
}

static void default_warn(uint32_t code, const Value* objects) {
  describe("Warning", code, objects);
}

static void default_cerror(uint32_t code, const Value* objects) {
  describe("Continuable error", code, objects);
}

void (*zv_fatal_hook)() = nullptr;
ErrorFn zv_error_fn = default_error;
WarnFn zv_warn_fn = default_warn;
WarnFn zv_cerror_fn = default_cerror;

// The object array always has room for the four objects a code can name,
// so a code whose count disagrees with the call reads NILs, never past the
// end.
Value zv_error(uint32_t code) {
  Value objects[4] = {NIL, NIL, NIL, NIL};
  return zv_error_fn(code, objects);
}

Value zv_error(uint32_t code, Value a) {
  Value objects[4] = {a, NIL, NIL, NIL};
  return zv_error_fn(code, objects);
}

Value zv_error(uint32_t code, Value a, Value b) {
  Value objects[4] = {a, b, NIL, NIL};
  return zv_error_fn(code, objects);
}

void zv_warn(uint32_t code, Value a) {
  Value objects[4] = {a, NIL, NIL, NIL};
  zv_warn_fn(code, objects);
}

void zv_cerror(uint32_t code, Value a) {
  Value objects[4] = {a, NIL, NIL, NIL};
  zv_cerror_fn(code, objects);
}
