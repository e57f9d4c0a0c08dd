// Locks and condition variables: from one thread, taking and trying, the
// owner checks, recursive depth, a lock whose owner has ended, and waits
// that run out (another owner is played by borrowing a thread record and
// its number for a moment); then from native threads that call the
// operations directly, contending for a lock and passing items through a
// condition variable.
#include <atomic>
#include <chrono>
#include <deque>
#include <string>
#include <thread>

#include "test_eval_fixture.h"
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

TEST_F(Locks, PlainLockIsTakenOnceAndReleasedByItsOwnerOnly) {
  EXPECT_EQ(run("(%lock-operation l 4)"), "NIL");
  EXPECT_EQ(run("(%lock-operation l 0)"), "T");
  EXPECT_EQ(run("(%lock-operation l 4)"), "0");
  EXPECT_EQ(run("(%lock-operation l 5)"), "1");
  // Taking it again would wait for ever on itself.
  EXPECT_EQ(run("(%lock-operation l 0)"), "error " + std::to_string(HELD_AGAIN));
  EXPECT_EQ(run("(%lock-operation l 1 10)"), "error " + std::to_string(HELD_AGAIN));
  EXPECT_EQ(run("(%lock-operation l 6 2)"), "error " + std::to_string(NOT_HELD));
  EXPECT_EQ(run("(%lock-operation l 2)"), "T");
  EXPECT_EQ(run("(%lock-operation l 4)"), "NIL");
  EXPECT_EQ(run("(%lock-operation l 2)"), "error " + std::to_string(NOT_HELD));
  EXPECT_EQ(run("(%lock-operation l 3)"), "NIL");
  // A free lock is taken at once by a waiting take too.
  std::string r;
  EXPECT_LT(timed("(%lock-operation l 1 100)", &r), 90);
  EXPECT_EQ(r, "T");
  EXPECT_EQ(run("(%lock-operation l 3)"), "T");
  EXPECT_EQ(run("(%lock-operation l 5)"), "0");
}

TEST_F(Locks, RecursiveLockCountsItsDepth) {
  for (int i = 0; i < 3; i++) EXPECT_EQ(run("(%lock-operation r 0)"), "T");
  EXPECT_EQ(run("(%lock-operation r 5)"), "3");
  EXPECT_EQ(run("(%lock-operation r 2)"), "T");
  EXPECT_EQ(run("(%lock-operation r 5)"), "2");
  EXPECT_EQ(run("(%lock-operation r 6 5)"), "5");
  EXPECT_EQ(run("(%lock-operation r 6 0)"), "error 5170");
  for (int i = 0; i < 4; i++) EXPECT_EQ(run("(%lock-operation r 2)"), "T");
  EXPECT_EQ(run("(%lock-operation r 4)"), "0");
  EXPECT_EQ(run("(%lock-operation r 3)"), "T");
  EXPECT_EQ(run("(%lock-operation r 4)"), "NIL");
  EXPECT_EQ(run("(%lock-operation r 2)"), "error " + std::to_string(NOT_HELD));
}

TEST_F(Locks, AnotherOwnerKeepsTheLockUntilItsThreadEnds) {
  uint32_t serial = 0;
  uint32_t other = thread_record_take(&serial);
  ASSERT_NE(other, 0u);
  EXPECT_EQ(as_thread(other, "(%lock-operation l 0)"), "T");
  EXPECT_EQ(run("(%lock-operation l 0)"), "NIL");
  EXPECT_EQ(run("(%lock-operation l 2)"), "error " + std::to_string(NOT_HELD));
  EXPECT_EQ(run("(%lock-operation l 3)"), "NIL");
  EXPECT_EQ(run("(%lock-operation l 5)"), "0");
  EXPECT_EQ(run("(%lock-operation l 4)"), std::to_string(other));
  // A waiting take gives up after its slice.
  std::string r;
  EXPECT_GE(timed("(%lock-operation l 1 30)", &r), 29);
  EXPECT_EQ(r, "NIL");
  // The owner ends; its number goes to a new thread with another serial,
  // which does not inherit the lock.
  thread_record_release(other);
  uint32_t again = thread_record_take(&serial);
  ASSERT_EQ(again, other);
  EXPECT_EQ(as_thread(again, "(%lock-operation l 2)"), "error " + std::to_string(NOT_HELD));
  EXPECT_EQ(run("(%lock-operation l 4)"), "NIL");
  EXPECT_EQ(run("(%lock-operation l 0)"), "T");
  EXPECT_EQ(run("(%lock-operation l 4)"), "0");
  thread_record_release(again);
}

TEST_F(Locks, ALockSavedHeldIsFreeInAnotherProcess) {
  // The first thread's stamp differs from one process to the next: a lock
  // whose words say thread 0 with another stamp was held in an image's
  // process, not in this one.
  EXPECT_EQ(run("(%lock-operation l 0)"), "T");
  Value l = sym_value(idx("L"));
  heap_set_word(l, 3, make_fixnum(fixnum_value(heap_word(l, 3)) ^ 1));
  EXPECT_EQ(run("(%lock-operation l 4)"), "NIL");
  EXPECT_EQ(run("(%lock-operation l 5)"), "0");
  EXPECT_EQ(run("(%lock-operation l 0)"), "T");
  EXPECT_EQ(run("(%lock-operation l 2)"), "T");
}

TEST_F(Locks, ConditionWaitsTakeOnlyTheWakeUpsGranted) {
  // Waiting needs the lock; registering gives it up whole.
  EXPECT_EQ(run("(%condition-operation cv 0 l)"), "error " + std::to_string(NOT_HELD));
  EXPECT_EQ(run("(%lock-operation r 0)"), "T");
  EXPECT_EQ(run("(%lock-operation r 0)"), "T");
  EXPECT_EQ(run("(%condition-operation cv 0 r)"), "2");
  EXPECT_EQ(run("(%lock-operation r 4)"), "NIL");
  EXPECT_EQ(run("(%condition-operation cv 5)"), "1");
  // No wake-up yet: a wait runs out, at once or after its time.
  EXPECT_EQ(run("(%condition-operation cv 1 0)"), "NIL");
  std::string r;
  EXPECT_GE(timed("(%condition-operation cv 1 30)", &r), 29);
  EXPECT_EQ(r, "NIL");
  EXPECT_EQ(run("(%condition-operation cv 3)"), "NIL");
  EXPECT_EQ(run("(%condition-operation cv 5)"), "0");
  EXPECT_EQ(run("(%condition-operation cv 1 0)"), "T");
  EXPECT_EQ(run("(%condition-operation cv 1 0)"), "NIL");
  // A notify with nobody waiting is not kept for a later waiter.
  EXPECT_EQ(run("(%condition-operation cv 3)"), "NIL");
  EXPECT_EQ(run("(progn (%lock-operation l 0) (%condition-operation cv 0 l))"), "1");
  EXPECT_EQ(run("(%condition-operation cv 1 0)"), "NIL");
  // Two more waiters: one notify wakes one, a broadcast the rest.
  EXPECT_EQ(run("(progn (%lock-operation l 0) (%condition-operation cv 0 l))"), "1");
  EXPECT_EQ(run("(progn (%lock-operation l 0) (%condition-operation cv 0 l))"), "1");
  EXPECT_EQ(run("(%condition-operation cv 5)"), "3");
  EXPECT_EQ(run("(%condition-operation cv 3)"), "NIL");
  EXPECT_EQ(run("(%condition-operation cv 5)"), "2");
  EXPECT_EQ(run("(%condition-operation cv 4)"), "NIL");
  EXPECT_EQ(run("(%condition-operation cv 5)"), "0");
  EXPECT_EQ(run("(%condition-operation cv 1 0)"), "T");
  EXPECT_EQ(run("(%condition-operation cv 1 0)"), "T");
  // A waiter that gives up while a wake-up is granted leaves it to the one
  // still waiting, and none beyond the waiters.
  EXPECT_EQ(run("(%condition-operation cv 2)"), "NIL");
  EXPECT_EQ(run("(%condition-operation cv 1 0)"), "NIL");
  EXPECT_EQ(run("(%condition-operation cv 4)"), "NIL");
  EXPECT_EQ(run("(%condition-operation cv 2)"), "NIL");
  EXPECT_EQ(run("(%condition-operation cv 5)"), "0");
  EXPECT_EQ(run("(%condition-operation cv 1 0)"), "NIL");
}

TEST_F(Locks, ArgumentsOfTheWrongKindAreRefused) {
  EXPECT_EQ(run("(%lock-operation cv 0)"), "error 5170");
  EXPECT_EQ(run("(%lock-operation 5 0)"), "error 5170");
  EXPECT_EQ(run("(%condition-operation l 3)"), "error 5170");
  EXPECT_EQ(run("(%condition-operation cv 0 cv)"), "error 5170");
  EXPECT_EQ(run("(%lock-operation l 7)"), "error 5170");
  EXPECT_EQ(run("(%lock-operation l 1)"), "error 5170");
  EXPECT_EQ(run("(%lock-operation l 1 -1)"), "error 5170");
  EXPECT_EQ(run("(%condition-operation cv 1 'x)"), "error 5170");
  EXPECT_EQ(run("(%lock-operation l 0 1 2)"), "error 4148");
  EXPECT_EQ(run("(%make-lock 'lock nil nil)"), "error 5170");
}

// A native thread that calls the lock operations as a Lisp thread would:
// a thread state of its own with a small frame and root stack, and a
// thread number.  The operations it calls never allocate, so no
// collection runs while these threads do.
struct Caller {
  ThreadState ts;
  StackEntry stack[4] = {};
  Value* roots[8] = {};
  explicit Caller(uint32_t number) {
    ts.stack = stack;
    ts.root_base = roots;
    ts.root_cap = 8;
    ts.thread_number = number;
  }
  // fn(a b [c]) with the arguments in a frame.
  Value call(uint32_t builtin, Value a, Value b, Value c = NO_VALUE) {
    zvts = &ts;
    uint16_t n = is_no_value(c) ? 2 : 3;
    ts.septr = 0;
    ts.zvform = n;
    stack[n - 1].arg = a;
    stack[n - 2].arg = b;
    if (n == 3) stack[0].arg = c;
    return zv_builtins[builtin].fn(a, b);
  }
  void lock(Value l) {
    if (call(BI_LOCK_OPERATION, l, make_fixnum(0)) == T) return;
    while (call(BI_LOCK_OPERATION, l, make_fixnum(1), make_fixnum(100)) != T) {
    }
  }
  void unlock(Value l) { ASSERT_EQ(call(BI_LOCK_OPERATION, l, make_fixnum(2)), T); }
  // CONDITION-WAIT without a timeout.
  void wait(Value cv, Value l) {
    Value depth = call(BI_CONDITION_OPERATION, cv, make_fixnum(0), l);
    ASSERT_EQ(depth, make_fixnum(1));
    while (call(BI_CONDITION_OPERATION, cv, make_fixnum(1), make_fixnum(100)) != T) {
    }
    lock(l);
  }
};

class LocksShared : public Locks {
 protected:
  uint32_t numbers_[2] = {};
  void SetUp() override {
    Locks::SetUp();
    uint32_t serial = 0;
    for (uint32_t& n : numbers_) ASSERT_NE(n = thread_record_take(&serial), 0u);
  }
  void TearDown() override {
    for (uint32_t n : numbers_) thread_record_release(n);
    Locks::TearDown();
  }
};

TEST_F(LocksShared, ContendingThreadsLoseNoIncrement) {
  constexpr int ROUNDS = 20000;
  Value l = sym_value(idx("L"));
  long counter = 0;  // guarded by the Lisp lock alone
  std::atomic<int> inside{0}, overlaps{0}, ready{0};
  auto work = [&](uint32_t number) {
    Caller c(number);
    ready++;
    while (ready.load() < 2) {
    }
    for (int i = 0; i < ROUNDS; i++) {
      c.lock(l);
      if (inside.fetch_add(1) != 0) overlaps++;
      long v = counter;
      if (i % 64 == 0) std::this_thread::yield();
      counter = v + 1;
      inside.fetch_sub(1);
      c.unlock(l);
    }
  };
  std::thread a(work, numbers_[0]), b(work, numbers_[1]);
  a.join();
  b.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(counter, 2L * ROUNDS);
  EXPECT_EQ(run("(%lock-operation l 4)"), "NIL");
}

TEST_F(LocksShared, ItemsPassThroughAConditionVariableOnceAndInOrder) {
  constexpr long ITEMS = 20000;
  Value l = sym_value(idx("L")), cv = sym_value(idx("CV"));
  std::deque<long> queue;  // guarded by the Lisp lock alone
  long sum = 0, count = 0;
  bool in_order = true;
  std::thread consumer([&] {
    Caller c(numbers_[0]);
    for (long i = 1; i <= ITEMS; i++) {
      c.lock(l);
      while (queue.empty()) c.wait(cv, l);
      long x = queue.front();
      queue.pop_front();
      c.unlock(l);
      in_order = in_order && x == i;
      sum += x;
      count++;
    }
  });
  std::thread producer([&] {
    Caller c(numbers_[1]);
    for (long i = 1; i <= ITEMS; i++) {
      c.lock(l);
      queue.push_back(i);
      c.call(BI_CONDITION_OPERATION, cv, make_fixnum(3));
      c.unlock(l);
    }
  });
  producer.join();
  consumer.join();
  EXPECT_EQ(count, ITEMS);
  EXPECT_EQ(sum, ITEMS * (ITEMS + 1) / 2);
  EXPECT_TRUE(in_order);
  EXPECT_EQ(run("(%condition-operation cv 5)"), "0");
}

}  // namespace
