// The first thread's state and the stack reset shared by start-up, image
// loading and saving.
#include "object/thread.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "object/error_hook.h"

ThreadState zv_first_thread;
thread_local ThreadState* zvts = &zv_first_thread;

// Reached only by native code that goes down without checking the
// reserves (the evaluator, the reader and the printer do): the session
// goes on at its top level, where there is one.
void root_overflow() {
  zv_error(ERR_STACK_NO_ROOM);
  fatal_prepare();
  std::printf("Error: root-pointer stack overflow in thread zv%u\n", zvts->thread_number);
  std::fflush(stdout);
  _exit(1);
}

// Context records (and the environments of eval frames) are found by the
// stack index of their entry, so the tables follow the capacity of the stack.
static void size_context_table(ThreadState* ts) {
  uint32_t need = ts->stack ? uint32_t(ts->stack_top) + 2 : 0;
  if (ts->cx_cap == need) return;
  std::free(ts->cx_records);
  std::free(ts->frame_env);
  ts->cx_records = nullptr;
  ts->frame_env = nullptr;
  ts->cx_cap = 0;
  if (!need) return;
  ts->cx_records = static_cast<Context**>(std::calloc(need, sizeof(Context*)));
  ts->frame_env = static_cast<uint32_t*>(std::calloc(need, sizeof(uint32_t)));
  if (!ts->cx_records || !ts->frame_env) {
    fatal_prepare();
    std::printf("Error: no memory for the context table of thread zv%u\n", ts->thread_number);
    std::fflush(stdout);
    _exit(1);
  }
  ts->cx_cap = need;
}

void thread_reset_stacks(ThreadState* ts) {
  uint16_t top = ts->stack_top;
  ts->septr = top;
  ts->zvdinenv = ts->zvfdinenv = ts->zvunwindcxt = top;
  ts->zvdincxt = ts->zvform = ts->zvlexenv = 0;
  ts->lexframe = 0;
  ts->gltagcxt = 0;
  ts->throw_code = 0;
  ts->glvalue = NIL;
  ts->mv_base = 0;
  ts->mv_count = 1;
  ts->root_count = 0;
  ts->break_level = 0;
  ts->listener_flag = 0;
  ts->evalhook_skip = 0;
  for (uint16_t& k : ts->kwslots) k = 0;
  // The reserves start at a quarter of N (the stack holds 2N entries).
  ts->stack_reserve = top / 8;
  ts->root_reserve = ts->root_cap / 4;
  ts->eval_slot = scratch_cons_of(ts->thread_number);
  // One tag for entry 0 after every reset: a context tag, so that no walk
  // and no collector pass ever takes it for a binding or a frame.
  if (ts->stack) ts->stack[0] = StackEntry{NIL, 0x8000, 0xFFFF};
  size_context_table(ts);
}
