// Leaving the current computation for the top level, and leaving the
// system.  Both clear the values and throw to the outermost listener
// context, which belongs to the top-level driver: kind 2 resumes its loop,
// any other kind ends the driver and so the process (with the exit code
// the world left in %EXIT-CODE).
#include "builtins/table.h"
#include "eval/context.h"
#include "eval/thread.h"

namespace {

constexpr uint16_t TC_EXIT = 6;

// Returns only when no listener exists (a world driven from C++).
void throw_to_outermost(uint16_t code) {
  ThreadState* ts = zvts;
  ts->mv_count = 0;
  ts->glvalue = NIL;
  uint16_t outer = find_outermost_context(CX_LISTENER);
  if (outer) throw_to(code, outer);
}

// 439: abort to top level.
Value bi_abort_to_top_level(Value, Value) {
  throw_to_outermost(TC_LISTENER);
  return NIL;
}

// 450: leave the system.
Value bi_exit(Value, Value) {
  throw_to_outermost(TC_EXIT);
  return NIL;
}

}  // namespace

void bi_install_image() {
  bi_install(439, bi_abort_to_top_level);
  bi_install(450, bi_exit);
}
