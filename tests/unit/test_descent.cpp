// Running out of stack in the reader's and the printer's descent, and on
// the root-pointer stack: the session goes on with its stacks as they were.
#include "test_eval_fixture.h"

using namespace evaltest;

namespace {

// Goes down one native call per level, each keeping a root and a Lisp
// stack entry, as the reader and printer do, until the check stops it.
uint32_t levels = 0;
void descend(Value x) {
  check_descent();
  root_push(&x);
  push_anon(x);
  levels++;
  descend(cons(x, NIL));
}

void descend_body(void*) { descend(NIL); }

int guarded_descent(void* out) {
  *static_cast<bool*>(out) = run_descent_guarded(descend_body, nullptr);
  return 0;
}

TEST_F(EvalTest, DescentIsLeftToItsGuardWithTheStacksRestored) {
  ThreadState* ts = zvts;
  uint16_t septr = ts->septr;
  uint32_t roots = ts->root_count;
  for (int round = 0; round < 2; round++) {
    levels = 0;
    bool finished = true;
    run_on_big_stack(guarded_descent, &finished);
    EXPECT_FALSE(finished);
    EXPECT_EQ(ts->septr, septr);
    EXPECT_EQ(ts->root_count, roots);
    EXPECT_EQ(ts->zvdincxt, 0);
    // Down to an eighth of the Lisp stack above its reserve.
    EXPECT_GT(levels, ts->stack_top / 2u);
    EXPECT_LT(levels, uint32_t(ts->stack_top - ts->stack_reserve));
  }
}

// A guard outside a break loop is not taken from inside it: the descent
// there signals error 38 itself, and leaving that break loop returns to
// the listener inside the guard.
TEST_F(EvalTest, DescentStopsAtTheNearestListener) {
  Script::set({KEY_LEAVE_LEVEL});
  bool finished = run_descent_guarded(
      [](void*) {
        Context inner;
        context_push(&inner, CX_LISTENER);
        if (setjmp(inner.resume) == 0) descent_exhausted();
        context_pop(&inner);
      },
      nullptr);
  EXPECT_TRUE(finished);
  EXPECT_EQ(Signals::last, uint32_t(E_STACK));
}

// A full root-pointer stack ends the computation at the top level, with
// the stacks as they were there, instead of ending the process.
TEST_F(EvalTest, RootStackOverflowGoesBackToTheListener) {
  ThreadState* ts = zvts;
  uint32_t roots = ts->root_count;
  static Value filler = NIL;
  Context cx;
  context_push(&cx, CX_LISTENER);
  int code = setjmp(cx.resume);
  if (code == 0) {
    for (;;) root_push(&filler);
  }
  context_pop(&cx);
  EXPECT_EQ(code, TC_LISTENER);
  EXPECT_EQ(ts->root_count, roots);
  EXPECT_EQ(Signals::last, ERR_STACK_NO_ROOM);
}

}  // namespace
