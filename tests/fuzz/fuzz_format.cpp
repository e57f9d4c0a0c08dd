// FORMAT: the input up to its first NUL byte is the control string; the
// objects read from the rest are its arguments.  FORMAT is called as Lisp
// code calls it, with NIL as the destination.
#include <cstring>

#include "eval/eval.h"
#include "eval/stack.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "tests/fuzz/common.h"
#include "tests/fuzz/harness.h"

namespace {

constexpr uint32_t kMaxArgs = 16;
Value args_list = NIL;

// Each argument goes in quoted: FORMAT is called through EVAL.
void collect(Value obj) {
  Value q = cons(obj, NIL);
  root_push(&q);
  q = cons(make_symbol(FS_QUOTE), q);
  args_list = cons(q, args_list);
  root_pop();
}

void format_input(const uint8_t* data, size_t size) {
  const uint8_t* nul = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  size_t n = nul ? size_t(nul - data) : size;
  Value control = fuzz_string(data, n);
  root_push(&control);
  args_list = NIL;
  root_push(&args_list);
  if (nul) fuzz_read_each(nul + 1, size - n - 1, kMaxArgs, collect);
  args_list = nreverse_list(args_list);
  ThreadState* ts = zvts;
  uint32_t limit = ts->septr;
  if (labels_objects(data, size)) bind_special(FS_PRINT_CIRCLE, T);
  Value fn = sym_intern_cstr("FORMAT");
  Value call = cons(control, args_list);
  root_push(&call);
  call = cons(NIL, call);
  call = cons(fn, call);
  eval_form(call);
  root_pop();
  unbind_to(limit);
  ts->septr = uint16_t(limit);
  args_list = NIL;
  root_pop(2);
}

}  // namespace

int main(int argc, char** argv) { return fuzz_main(argc, argv, format_input); }
