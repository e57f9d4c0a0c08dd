// Contexts and non-local exits, the error signaller, the break loop and
// the stack limits.
#include <unistd.h>

#include "test_eval_fixture.h"

using namespace evaltest;

namespace {

TEST_F(EvalTest, BlocksAndReturns) {
  EXPECT_EQ(show(ev("(block b 1 (return-from b 2) 3)")), "2");
  EXPECT_EQ(show(ev("(block nil 1 (return 2) 3)")), "2");
  EXPECT_EQ(show(ev("(block nil (return-from nil 5))")), "5");
  EXPECT_EQ(show(ev("(block nil (return))")), "NIL");
  EXPECT_EQ(show(ev("(block outer (block inner (return-from outer 'o)) 'after)")), "O");
  // The block is found dynamically, through a function call.
  defun("(leave () (return-from b 'left))");
  EXPECT_EQ(show(ev("(block b (leave) 'not-here)")), "LEFT");
  EXPECT_EQ(catching("(return-from nowhere 1)"), E_NO_BLOCK);
  EXPECT_EQ(catching("(return 1)"), E_NO_BLOCK);
  EXPECT_EQ(catching("(block)"), E_FEW_ARGS);
}

TEST_F(EvalTest, CatchAndThrow) {
  EXPECT_EQ(show(ev("(catch 'a (throw 'a 1) 2)")), "1");
  EXPECT_EQ(show(ev("(catch 'a 2)")), "2");
  // The innermost of two catches for the same tag.
  EXPECT_EQ(show(ev("(catch 'a (t-list 'outer (catch 'a (throw 'a 'inner))))")), "(OUTER INNER)");
  EXPECT_EQ(show(ev("(catch 'a (catch 'b (throw 'a 'past-b)) 'not-here)")), "PAST-B");
  // A failing THROW reports before anything is unwound.
  defspecial("*mark*", make_fixnum(1));
  defun("(rebind (*mark*) (throw 'missing *mark*))");
  uint16_t septr = zvts->septr;
  EXPECT_EQ(catching("(rebind 2)"), E_NO_TAG);
  EXPECT_EQ(zvts->septr, septr);
  EXPECT_EQ(sym_value(idx("*mark*")), make_fixnum(1));
}

TEST_F(EvalTest, TagbodyAndGo) {
  defspecial("*n*", make_fixnum(0));
  defspecial("*trace*", NIL);
  ev("(tagbody top (t-setq *trace* (t-cons *n* *trace*)) (t-setq *n* (t+ *n* 1)) "
     "(t-if (t< *n* 3) (go top)) end)");
  EXPECT_EQ(show(sym_value(idx("*trace*"))), "(2 1 0)");
  EXPECT_EQ(ev("(tagbody 1 2)"), NIL);
  // GO out of a nested tag body to an outer one.
  EXPECT_EQ(show(ev("(block b (tagbody (tagbody (go out)) (return-from b 'missed) out) 'done)")),
            "DONE");
  EXPECT_EQ(catching("(go nowhere)"), E_NO_TAG);
}

TEST_F(EvalTest, CleanupRunsOnceAndKeepsValues) {
  defspecial("*cleanups*", make_fixnum(0));
  const char* count = "(t-setq *cleanups* (t+ *cleanups* 1))";
  std::string normal = std::string("(unwind-protect (t-values 1 2) ") + count + ")";
  EXPECT_EQ(show(ev(("(t-mvlist " + normal + ")").c_str())), "(1 2)");
  EXPECT_EQ(sym_value(idx("*cleanups*")), make_fixnum(1));
  // A throw through the cleanup: runs it once, the thrown values survive.
  std::string thrown = std::string("(catch 'x (unwind-protect (throw 'x (t-values 'a 'b)) ") +
                       count + " (t-values 'wrong 'values)))";
  EXPECT_EQ(show(ev(("(t-mvlist " + thrown + ")").c_str())), "(A B)");
  EXPECT_EQ(sym_value(idx("*cleanups*")), make_fixnum(2));
  // Nested cleanups run innermost first, each once.
  defspecial("*order*", NIL);
  ev("(catch 'x (unwind-protect (unwind-protect (throw 'x 1) (t-setq *order* (t-cons 'inner "
     "*order*))) "
     "(t-setq *order* (t-cons 'outer *order*))))");
  EXPECT_EQ(show(sym_value(idx("*order*"))), "(OUTER INNER)");
  // A throw from a cleanup replaces the pending one, and the cleanup is
  // not run a second time.
  std::string replaced =
      std::string("(catch 'a (catch 'b (unwind-protect (throw 'a 1) ") + count + " (throw 'b 2))))";
  EXPECT_EQ(show(ev(replaced.c_str())), "2");
  EXPECT_EQ(sym_value(idx("*cleanups*")), make_fixnum(3));
  // An error unwinding through the cleanup to an error-catching context.
  EXPECT_EQ(catching("(unwind-protect (t-error 1) (t-setq *cleanups* (t+ *cleanups* 1)))"),
            E_WRONG_TYPE);
  EXPECT_EQ(sym_value(idx("*cleanups*")), make_fixnum(4));
  EXPECT_EQ(zvts->zvunwindcxt, zvts->stack_top);
}

TEST_F(EvalTest, ErrorCatchingForm) {
  // Without an error: the value and NIL.
  EXPECT_EQ(show_values(ev("(%catch-error (t+ 1 2))")), "3 NIL");
  // With one: NIL and the error's values: header, colour, text, objects.
  Value v = ev("(%catch-error (t-error 'bad))");
  EXPECT_EQ(mv_count(), 2u);
  EXPECT_EQ(v, NIL);
  Value list = mv_value(v, 1);
  ASSERT_TRUE(cons_p(list));
  EXPECT_EQ(car(list), message_text(27));
  EXPECT_TRUE(is_fixnum(car(cdr(list))));
  EXPECT_EQ(car(cdr(cdr(list))), message_text(50));
  EXPECT_EQ(show(cdr(cdr(cdr(list)))), "(BAD)");
  // The error unwound the dynamic bindings made inside.
  defspecial("*d*", make_fixnum(1));
  defun("(fail (*d*) (t-error *d*))");
  ev("(%catch-error (fail 2))");
  EXPECT_EQ(sym_value(idx("*d*")), make_fixnum(1));
  // ERROR from Lisp is caught the same way.
  EXPECT_EQ(show(cdr(cdr(mv_value(ev("(%catch-error (error \"oops ~A\" 1))"), 1)))),
            "(\"oops ~A\" 1)");
}

TEST_F(EvalTest, RetryOnError) {
  defspecial("*tries*", make_fixnum(0));
  defun("(flaky () (t-setq *tries* (t+ *tries* 1)) (t-if (t< *tries* 3) (t-error *tries*) 'ok))");
  EXPECT_EQ(show(ev("(%retry-on-error (flaky) t)")), "OK");
  EXPECT_EQ(sym_value(idx("*tries*")), make_fixnum(3));
  EXPECT_EQ(show(ev("(%retry-on-error (t-error 1) nil)")), "NIL");
  // An error while deciding is not retried forever.
  EXPECT_EQ(catching("(%retry-on-error (t-error 1) (t-error 2))"), E_WRONG_TYPE);
}

TEST_F(EvalTest, BreakLoopContinueAndReturn) {
  // A continuable error continues as its message says.
  defun("(two (a b) (t-list a b))");
  Script::set({KEY_CONTINUE});
  EXPECT_EQ(show(ev("(two 1 2 3)")), "(1 2)");
  std::string out = error_output();
  EXPECT_NE(out.find("Error"), std::string::npos) << out;
  EXPECT_NE(out.find("To continue"), std::string::npos) << out;
  // An error with bit 0x400: a RETURN typed in the break loop gives the
  // failing operation its value.
  Script::set({0});
  Script::forms[0] = "(return 'replacement)";
  EXPECT_EQ(show(ev("(t-list (t-unbound 'x))")), "(REPLACEMENT)");
  // Continuing a non-continuable error is refused; so is returning a
  // value from an error without bit 0x400.  The listener key then leaves.
  Script::set({KEY_CONTINUE, 0, KEY_LEAVE_LEVEL});
  Script::forms[0] = "(return 1)";
  Context cx;
  context_push(&cx, CX_LISTENER);
  int code = setjmp(cx.resume);
  if (code == 0) {
    ev("(t-hard-error 1)");
    ADD_FAILURE() << "the error returned";
  }
  context_pop(&cx);
  EXPECT_EQ(code, TC_LISTENER);
  EXPECT_EQ(zvts->break_level, 0);
}

TEST_F(EvalTest, ErrorInsideBreakLoopIsNotCaughtOutside) {
  // The break loop's form fails again: the listener context of the break
  // loop ends the search, so the outer error-catching context is not
  // reached; the inner break loop is left with its key and the outer one
  // continues the cerror.
  Script::set({0, KEY_LEAVE_LEVEL, KEY_CONTINUE});
  Script::forms[0] = "(t-error 2)";
  defun("(two (a b) (t-list a b))");
  Value v = NIL;
  EXPECT_EQ(catching("(two 1 2 3)", &v), E_MANY_ARGS);  // offered first: caught
  Script::set({0, KEY_LEAVE_LEVEL, KEY_CONTINUE});
  Context cx;
  context_push(&cx, CX_ERRCATCH);
  int code = setjmp(cx.resume);
  if (code == 0) {
    // Inside a break loop of its own, an error offered from the loop stops
    // at the loop's listener context.
    break_loop(0);
  }
  context_pop(&cx);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Signals::last, E_WRONG_TYPE);
  EXPECT_EQ(zvts->break_level, 0);
}

TEST_F(EvalTest, SignallingFromLisp) {
  // CERROR continues with NIL; WARN prints and goes on; BREAK runs a
  // break loop that continues.
  Script::set({KEY_CONTINUE});
  EXPECT_EQ(show(ev("(t-list (cerror \"use ~A\" \"bad ~A\" 1))")), "(NIL)");
  std::string out = error_output();
  EXPECT_NE(out.find("bad 1"), std::string::npos) << out;
  EXPECT_NE(out.find("use 1"), std::string::npos) << out;
  EXPECT_EQ(ev("(warn \"careful ~A\" 2)"), NIL);
  out = error_output();
  EXPECT_NE(out.find("careful 2"), std::string::npos) << out;
  int loops = Script::loops;
  EXPECT_EQ(ev("(break \"pause ~A\" 3)"), NIL);
  EXPECT_EQ(Script::loops, loops + 1);
  EXPECT_NE(error_output().find("pause 3"), std::string::npos);
  // The name line names the innermost interpreted function.
  defun("(culprit () (error \"from ~A\" 'lisp))");
  Context cx;
  context_push(&cx, CX_LISTENER);
  Script::set({KEY_LEAVE_LEVEL});
  if (setjmp(cx.resume) == 0) ev("(culprit)");
  context_pop(&cx);
  out = error_output();
  EXPECT_NE(out.find("from LISP"), std::string::npos) << out;
  EXPECT_NE(out.find("CULPRIT"), std::string::npos) << out;
}

TEST_F(EvalTest, KeyboardInterruptIsPolled) {
  defspecial("*interrupted*", NIL);
  defun("(on-interrupt () (t-setq *interrupted* t))");
  sym_set_function(FS_KEYBOARD_INTERRUPT, sym_function(idx("on-interrupt")));
  // Another thread than the one answering the console leaves Control-C.
  zvts->thread_number = 1;
  interrupt_request(PENDING_KEYBOARD);
  EXPECT_EQ(ev("(t+ 1 2)"), make_fixnum(3));
  zvts->thread_number = 0;
  EXPECT_EQ(sym_value(idx("*interrupted*")), NIL);
  EXPECT_EQ(interrupt_pending_bits(), PENDING_KEYBOARD);
  EXPECT_EQ(ev("(t+ 1 2)"), make_fixnum(3));
  EXPECT_EQ(sym_value(idx("*interrupted*")), T);
  EXPECT_EQ(interrupt_pending_bits(), 0);
}

TEST_F(EvalTest, WarningsBreakOnlyWhenAsked) {
  Value objects[2] = {make_fixnum(0), sym("x")};
  lisp_warn(0x201A, objects);
  EXPECT_EQ(Script::loops, 0);
  sym_set_value(FS_BREAK_ON_WARNINGS, T);
  lisp_warn(0x201A, make_fixnum(0));
  EXPECT_EQ(Script::loops, 1);
  EXPECT_NE(error_output().find("Warning"), std::string::npos);
}

// Error 38: a runaway recursion meets the reserves (warnings that halve
// them) and then the hard error, with the native stack to spare.  With
// five arguments a level the Lisp stack runs out first; with one, the
// root-pointer stack, after the deepest native recursion per entry.
struct DeepRun {
  const char* call;
  uint32_t code = 0;
  int warnings = 0;
};

int deep_recursion(void* p) {
  DeepRun* run = static_cast<DeepRun*>(p);
  defun("(down (n a b c d) (t+ 1 (down (t+ n 1) a b c d)))");
  defun("(down1 (n) (t+ 1 (down1 (t+ n 1))))");
  run->code = catching(run->call);
  run->warnings = Signals::warnings;
  return 0;
}

class EvalDeepTest : public EvalTest {
 protected:
  void SetUp() override {
    EvalTest::SetUp();
    mem_free_areas(false, false);
    store_u32(zvm.header + HDR_STACK_N, 32767);
    ASSERT_EQ(mem_allocate_areas(0, false), 0);
    thread_reset_stacks(zvts);
    ASSERT_EQ(zvts->stack_top, 65534);
    lowest_septr = 0xFFFF;
  }
};

TEST_F(EvalDeepTest, LispStackRunsOutFirst) {
  DeepRun run{"(down 0 1 2 3 4)"};
  run_on_big_stack(deep_recursion, &run);
  EXPECT_EQ(run.code, E_STACK);
  EXPECT_EQ(run.warnings, 6);  // 8191 entries halved down to 127
  EXPECT_LT(lowest_septr, 200u);
  EXPECT_EQ(zvts->septr, zvts->stack_top);
  EXPECT_EQ(zvts->zvform, 0);
  EXPECT_EQ(zvts->root_count, 0u);
}

TEST_F(EvalDeepTest, RootStackRunsOutFirst) {
  DeepRun run{"(down1 0)"};
  run_on_big_stack(deep_recursion, &run);
  EXPECT_EQ(run.code, E_STACK);
  EXPECT_GE(run.warnings, 6);
  EXPECT_EQ(zvts->septr, zvts->stack_top);
}

TEST_F(EvalTest, IndexCheckEndsTheProcess) {
  EXPECT_EXIT(stack_entry(zvts->stack_top + 1u), ::testing::ExitedWithCode(1), "");
}

// Allocation-heavy paths with a collection before every allocation.
TEST_F(EvalTest, StressedCollections) {
  defun("(counter (n) #'(lambda () (t-setq n (t+ n 1))))");
  defun("(rest-list (&rest r) r)");
  defmacro("(swap-args (f a b) (t-list f b a))");
  defun("(tree (n) (t-if (t< n 1) nil (t-cons (tree (t- n 1)) (tree (t- n 2)))))");
  for (uint32_t stress : {1u, 7u}) {
    zv_gc_stress = stress;
    Value c = ev("(counter 0)");
    root_push(&c);
    for (int k = 1; k <= 20; k++) EXPECT_EQ(call_function0(c), make_fixnum(k));
    root_pop();
    EXPECT_EQ(show(ev("(rest-list 1 'a \"s\" '(x y))")), "(1 A \"s\" (X Y))");
    EXPECT_EQ(show(ev("(swap-args t-list 1 2)")), "(2 1)");
    EXPECT_EQ(show(ev("(%catch-error (t-error '(some list)))")), "NIL");
    EXPECT_EQ(show(ev("(tree 4)")), "((((NIL)) NIL) (NIL))");
    EXPECT_EQ(
        show(ev("(t-mvlist (catch 'x (unwind-protect (throw 'x (t-values 1 2 3)) (tree 3))))")),
        "(1 2 3)");
  }
  zv_gc_stress = 0;
}

}  // namespace
