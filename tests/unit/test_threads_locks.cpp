// Locks and condition variables: from one thread, taking and trying, the
// owner checks, recursive depth, a lock whose owner has ended, and waits
// that run out (another owner is played by borrowing a thread record and
// its number for a moment); then from Lisp threads contending for a lock
// and passing items through a condition variable while collections move
// the objects they wait on.
#include <chrono>
#include <string>

#include "test_eval_fixture.h"
#include "object/gc.h"
#include "object/thread.h"
#include "threads/safepoint.h"
#include "threads/table.h"

using namespace evaltest;

namespace {

constexpr uint32_t NOT_HELD = 0x105C;
constexpr uint32_t HELD_AGAIN = 0x105D;

class Locks : public EvalTest {
 protected:
  void SetUp() override {
    EvalTest::SetUp();
    ASSERT_TRUE(thread_table_init());
    defspecial("L", ev("(%make-lock (class-of 1) \"l\" nil)"));
    defspecial("R", ev("(%make-lock (class-of 1) nil t)"));
    defspecial("CV", ev("(%make-condition-variable (class-of 1) \"cv\")"));
  }
  void TearDown() override {
    zvts->thread_number = 0;
    EvalTest::TearDown();
  }

  // The values of text, or "error N".
  std::string run(const char* text) {
    Value v = NIL;
    uint32_t code = catching(text, &v);
    return code ? "error " + std::to_string(code) : show(v);
  }

  // Runs text as the thread with that number for the moment.
  std::string as_thread(uint32_t number, const char* text) {
    zvts->thread_number = number;
    std::string s = run(text);
    zvts->thread_number = 0;
    return s;
  }

  // Milliseconds text takes.
  int64_t timed(const char* text, std::string* result) {
    auto start = std::chrono::steady_clock::now();
    *result = run(text);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
  }
};

TEST_F(Locks, OnlyTheOwnerReleasesAndAPlainLockIsTakenOnce) {
  const std::string not_held = "error " + std::to_string(NOT_HELD);
  EXPECT_EQ(run("(list (%lock-operation l 0) (%lock-operation l 4) (%lock-operation l 5))"), "(T 0 1)");
  // Taking it again would wait for ever on itself.
  EXPECT_EQ(run("(%lock-operation l 1 10)"), "error " + std::to_string(HELD_AGAIN));
  EXPECT_EQ(run("(%lock-operation l 6 2)"), not_held);
  EXPECT_EQ(run("(list (%lock-operation l 2) (%lock-operation l 4) (%lock-operation l 3))"), "(T NIL NIL)");
  EXPECT_EQ(run("(%lock-operation l 2)"), not_held);
  // A recursive lock counts its depth, and is free after as many releases.
  EXPECT_EQ(run("(list (%lock-operation r 0) (%lock-operation r 1 10) (%lock-operation r 5)"
                " (%lock-operation r 6 3) (%lock-operation r 2) (%lock-operation r 5))"),
            "(T T 2 3 T 2)");
  EXPECT_EQ(run("(%lock-operation r 6 0)"), "error 5170");
  EXPECT_EQ(run("(list (%lock-operation r 2) (%lock-operation r 3) (%lock-operation r 4))"), "(T T NIL)");
  EXPECT_EQ(run("(%lock-operation r 2)"), not_held);
}

TEST_F(Locks, AnotherOwnerKeepsTheLockUntilItsThreadEnds) {
  const std::string not_held = "error " + std::to_string(NOT_HELD);
  uint32_t serial = 0;
  uint32_t other = thread_record_take(&serial);
  ASSERT_NE(other, 0u);
  EXPECT_EQ(as_thread(other, "(%lock-operation l 0)"), "T");
  EXPECT_EQ(run("(list (%lock-operation l 0) (%lock-operation l 3) (%lock-operation l 5))"), "(NIL NIL 0)");
  EXPECT_EQ(run("(%lock-operation l 2)"), not_held);
  EXPECT_EQ(run("(%lock-operation l 4)"), std::to_string(other));
  // A waiting take gives up after its slice.
  std::string r;
  EXPECT_GE(timed("(%lock-operation l 1 30)", &r), 29);
  EXPECT_EQ(r, "NIL");
  // The owner ends; its number goes to a new thread with another serial,
  // which does not inherit the lock.
  thread_record_release(other);
  ASSERT_EQ(thread_record_take(&serial), other);
  EXPECT_EQ(as_thread(other, "(%lock-operation l 2)"), not_held);
  EXPECT_EQ(run("(list (%lock-operation l 4) (%lock-operation l 0) (%lock-operation l 4))"), "(NIL T 0)");
  thread_record_release(other);
  // The first thread's stamp differs from one process to the next: a lock
  // whose words say thread 0 with another stamp was held in the process
  // that saved an image, not in this one.
  Value l = sym_value(idx("L"));
  heap_set_word(l, 3, make_fixnum(fixnum_value(heap_word(l, 3)) ^ 1));
  EXPECT_EQ(run("(list (%lock-operation l 4) (%lock-operation l 0) (%lock-operation l 2))"), "(NIL T T)");
}

TEST_F(Locks, ConditionWaitsTakeOnlyTheWakeUpsGranted) {
  // Waiting needs the lock; registering gives it up whole.
  EXPECT_EQ(run("(%condition-operation cv 0 l)"), "error " + std::to_string(NOT_HELD));
  EXPECT_EQ(run("(list (%lock-operation r 0) (%lock-operation r 0) (%condition-operation cv 0 r)"
                " (%lock-operation r 4) (%condition-operation cv 5))"),
            "(T T 2 NIL 1)");
  // No wake-up yet: a wait runs out, at once or after its time.
  std::string r;
  EXPECT_GE(timed("(list (%condition-operation cv 1 0) (%condition-operation cv 1 30))", &r), 29);
  EXPECT_EQ(r, "(NIL NIL)");
  EXPECT_EQ(run("(list (%condition-operation cv 3) (%condition-operation cv 5)"
                " (%condition-operation cv 1 0) (%condition-operation cv 1 0))"),
            "(NIL 0 T NIL)");
  // A notify with nobody waiting is not kept for a later waiter.
  const char* wait_again = "(progn (%condition-operation cv 3) (%lock-operation l 0) (%condition-operation cv 0 l)"
                           " (%condition-operation cv 1 0))";
  EXPECT_EQ(run(wait_again), "NIL");
  // Two more waiters: a notify wakes one, a broadcast the rest.
  EXPECT_EQ(run("(progn (%lock-operation l 0) (%condition-operation cv 0 l)"
                " (%lock-operation l 0) (%condition-operation cv 0 l) (%condition-operation cv 5))"),
            "3");
  EXPECT_EQ(run("(list (%condition-operation cv 3) (%condition-operation cv 5) (%condition-operation cv 4)"
                " (%condition-operation cv 5) (%condition-operation cv 1 0) (%condition-operation cv 1 0))"),
            "(NIL 2 NIL 0 T T)");
  // A waiter that gives up while a wake-up is granted leaves it to the one
  // still waiting, and none beyond the waiters.
  EXPECT_EQ(run("(list (%condition-operation cv 2) (%condition-operation cv 1 0) (%condition-operation cv 4)"
                " (%condition-operation cv 2) (%condition-operation cv 5) (%condition-operation cv 1 0))"),
            "(NIL NIL NIL NIL 0 NIL)");
}

TEST_F(Locks, ArgumentsOfTheWrongKindAreRefused) {
  for (const char* text : {"(%lock-operation cv 0)", "(%lock-operation 5 0)", "(%condition-operation l 3)",
                           "(%condition-operation cv 0 cv)", "(%lock-operation l 7)", "(%lock-operation l 1)",
                           "(%lock-operation l 1 -1)", "(%condition-operation cv 1 'x)",
                           "(%make-lock 'lock nil nil)"})
    EXPECT_EQ(run(text), "error 5170") << text;
  EXPECT_EQ(run("(%lock-operation l 0 1 2)"), "error 4148");
}

// Lisp threads that take turns on a lock and pass items through a
// condition variable, as the library's functions do (a loop over waits of
// one slice each), while the first thread collects again and again, so
// that the objects they wait on move under them.  Each thread runs code of
// its own: the interpreter's rewrites of shared code are not at issue here.
struct Job {
  std::string call;
  std::string result;
};

// The thread's form comes as its object (read by the first thread: the
// threads here only evaluate).
void run_job(void* p) { static_cast<Job*>(p)->result = show(eval_form(zvts->spare)); }

[[noreturn]] Value die_on_error(uint32_t code, const Value*) {
  std::fprintf(stderr, "error %u in thread %u\n", code, zvts->thread_number);
  std::abort();
}

class LocksShared : public Locks {
 protected:
  void SetUp() override {
    Locks::SetUp();
    saved_error_ = zv_error_fn;
    zv_error_fn = die_on_error;
    ASSERT_TRUE(threads_init_first());
    defspecial("Q", NIL);
  }
  void TearDown() override {
    EXPECT_EQ(thread_active_count(), 1u);
    threads_end_first();
    zv_error_fn = saved_error_;
    Locks::TearDown();
  }
  // Defines the function (NAME ...) of text, to be called as (NAME n) by
  // a thread of its own.
  void start(const char* text, uint32_t n) {
    defun(text);
    std::string t(text);
    jobs_[started_++].call = t.substr(0, t.find(' ')) + " " + std::to_string(n) + ")";
  }
  // Runs the threads started, collecting until they have all ended.
  void run_threads() {
    run_threads_until([] {
      gc_full_collection();
      return false;
    });
  }
  // The same, calling step between waits until it says it is done.
  template <class F>
  void run_threads_until(F step) {
    uint32_t serial = 0;
    for (int i = 0; i < started_; i++) {
      Value f = form(jobs_[i].call.c_str());
      root_push(&f);
      uint32_t n = thread_start(run_job, &jobs_[i], 1 << 20, f, &serial);
      root_pop();
      ASSERT_NE(n, 0u);
    }
    bool stepping = true;
    for (;;) {
      if (stepping) stepping = !step();
      safe_region_enter();
      bool ended = thread_wait_active_at_most(1, 5);
      safe_region_leave();
      if (ended) break;
    }
  }
  // Fewer rounds when the collector runs every few allocations.
  uint32_t rounds(uint32_t n) { return zv_gc_stress ? n / 20 : n; }

  Value (*saved_error_)(uint32_t, const Value*) = nullptr;
  Job jobs_[2];
  int started_ = 0;
};

// Taking the lock: at once, else one slice at a time.
#define TAKE "(if (%lock-operation l 0) t (loop (if (%lock-operation l 1 100) (return t))))"

TEST_F(LocksShared, ItemsPassThroughAConditionVariableOnceEach) {
  // The consumer takes all that is queued at once; the count and two sums
  // (kept as fixnums: the threads allocate no heap objects, which the
  // value checks of other threads would race with) show no loss and no
  // duplicate.
  uint32_t n = rounds(20000);
  start("(produce (n) (dotimes (i n) " TAKE
        " (setq q (cons (+ i 1) q)) (%condition-operation cv 3) (%lock-operation l 2)))",
        n);
  start("(consume (n) (let ((count 0) (sum 0) (squares 0) (items nil))"
        " (loop (if (= count n) (return (list count sum squares))) " TAKE
        "  (loop (if q (return))"
        "   (%condition-operation cv 0 l)"
        "   (loop (if (%condition-operation cv 1 100) (return)))"
        "   " TAKE ")"
        "  (setq items q q nil) (%lock-operation l 2)"
        "  (dolist (x items) (setq count (+ count 1) sum (rem (+ sum x) 1000003)"
        "                          squares (rem (+ squares (* (rem x 1000) (rem x 1000))) 1000003))))))",
        n);
  run_threads();
  uint64_t sum = 0, squares = 0;
  for (uint64_t x = 1; x <= n; x++) {
    sum = (sum + x) % 1000003;
    squares = (squares + (x % 1000) * (x % 1000)) % 1000003;
  }
  EXPECT_EQ(jobs_[1].result, "(" + std::to_string(n) + " " + std::to_string(sum) + " " + std::to_string(squares) + ")");
  EXPECT_EQ(run("(%condition-operation cv 5)"), "0");
  EXPECT_EQ(show(sym_value(idx("Q"))), "NIL");
}

TEST_F(LocksShared, AWaiterFindsItsConditionVariableWhereTheCollectorMovedIt) {
  // A thread sleeps one slice on a condition variable; meanwhile dead
  // objects below it are collected, so that it moves, and it is notified.
  // The wake-up is taken in that same slice, on the moved object.  When the
  // machine is too slow for the notify to come within the slice, again.
  defspecial("JUNK", NIL);
  std::string result;
  for (int attempt = 0; attempt < 5 && result != "T"; attempt++) {
    ev("(dotimes (i 200) (setq junk (cons (%make-lock (class-of 1) i nil) junk)))");
    defspecial("CV", ev("(%make-condition-variable (class-of 1) nil)"));
    started_ = 0;
    jobs_[started_++].call = "(progn " TAKE " (%condition-operation cv 0 l) (%condition-operation cv 1 100))";
    run_threads_until([&] {
      if (run("(%condition-operation cv 5)") != "1") return false;
      host_sleep_ms(10);  // the waiter is in its slice by now
      Value before = sym_value(idx("CV"));
      ev("(setq junk nil)");
      gc_full_collection();
      EXPECT_NE(sym_value(idx("CV")), before);
      ev("(%condition-operation cv 3)");
      return true;
    });
    result = jobs_[0].result;
  }
  EXPECT_EQ(result, "T");
}

}  // namespace
