// The interpreter rewrites code in place as it runs it (cached lexical
// references, displaced macro calls, lambda-list marks, built-ins for
// #'name).  Two threads running a function neither has run before must
// each see every rewrite whole, and valid for itself.
#include <atomic>

#include "object/thread.h"
#include "test_eval_fixture.h"
#include "threads/safepoint.h"
#include "threads/table.h"

using namespace evaltest;

namespace {

class Rewrites : public EvalTest {
 protected:
  void SetUp() override {
    EvalTest::SetUp();
    ASSERT_TRUE(threads_init_first());
  }
  void TearDown() override {
    EXPECT_EQ(thread_active_count(), 1u);
    threads_end_first();
    EvalTest::TearDown();
  }
};

struct Runner {
  uint32_t calls = 0;
  std::atomic<uint32_t> wrong{0}, ready{0};
  std::atomic<bool> go{false};
};

// Once both threads are there, evaluates the form in *CALL* again and
// again; its value must be 25.
void run_calls(void* p) {
  Runner* r = static_cast<Runner*>(p);
  r->ready.fetch_add(1);
  while (!r->go.load()) safe_point();
  for (uint32_t i = 0; i < r->calls; i++)
    if (eval_form(sym_value(idx("*CALL*"))) != make_fixnum(25)) r->wrong.fetch_add(1);
}

// Every round defines the functions anew, so both threads meet code that
// has never run; the call form is a macro call shared by both, evaluated
// outside any source cell.
TEST_F(Rewrites, TwoThreadsRunTheSameNewFunction) {
  Runner r;
  r.calls = 40;
  for (int round = 0; round < 30; round++) {
    defmacro("(twice (x) (t-list 't+ x x))");
    defun(
        "(f (a &optional (b 2) &key (k 3) ((:z zz) 4))"
        "  (let ((c (twice a)) (d b))"
        "    (t-setq d (funcall #'t+ d k))"
        "    (funcall #'(lambda (y) (t+ y (t+ c (t+ d zz)))) a)))");
    defmacro("(call-f (x) (t-list 'f x 2 :k 7 :z 1))");
    Value call = form("(call-f 5)");
    root_push(&call);
    sym_set_value(idx("*CALL*"), call);  // interning may collect
    root_pop();
    r.ready = 0;
    r.go = false;
    for (int t = 0; t < 2; t++) {
      uint32_t serial = 0;
      ASSERT_NE(thread_start(run_calls, &r, 4 << 20, NIL, &serial), 0u);
    }
    // Waiting in a region, so that their collections need not wait for it.
    safe_region_enter();
    while (r.ready.load() < 2) {
    }
    r.go = true;
    while (!thread_wait_active_at_most(1, 50)) {
    }
    safe_region_leave();
  }
  EXPECT_EQ(r.wrong.load(), 0u);
  // With threads about, the shared call form kept its macro call.
  EXPECT_EQ(show(sym_value(idx("*CALL*"))), "(CALL-F 5)");
}

}  // namespace
