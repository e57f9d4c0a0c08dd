// The first thread's state and the stack reset shared by start-up, image
// loading and saving.
#include <cstdio>
#include <unistd.h>

#include "eval/thread.h"

ThreadState zv_first_thread;
thread_local ThreadState* zvts = &zv_first_thread;

void root_overflow() {
  std::printf("Error: root-pointer stack overflow in thread zv%u\n", zvts->thread_number);
  std::fflush(stdout);
  _exit(1);
}

void thread_reset_stacks(ThreadState* ts) {
  uint16_t top = ts->stack_top;
  ts->septr = top;
  ts->zvdinenv = ts->zvfdinenv = ts->zvunwindcxt = top;
  ts->zvdincxt = ts->zvform = ts->zvlexenv = 0;
  ts->gltagcxt = 0;
  ts->throw_code = 0;
  ts->glvalue = NIL;
  ts->mv_base = 0;
  ts->mv_count = 1;
  ts->root_count = 0;
  ts->eval_slot = scratch_cons_of(ts->thread_number);
  if (ts->stack) ts->stack[0] = StackEntry{NIL, 0x8000, 0xFFFF};
}
