// Threads reading and evaluating forms no one has run before while
// collections move objects under them: each round interns new names (and
// drops some, so that symbol-table collections renumber the newest
// symbols) and runs a fresh function whose loop allocates nothing, so the
// thread stops for the other's collections at the evaluator's poll rather
// than in an allocation.  The fresh conses are the ones a compaction moves.
#include <atomic>
#include <cstdio>
#include <string>

#include "object/thread.h"
#include "test_eval_fixture.h"
#include "threads/safepoint.h"
#include "threads/table.h"

using namespace evaltest;

namespace {

// The last error of each thread, code and first object, for the report.
thread_local std::string last_error;
ErrorFn next_error_fn = nullptr;
Value note_error(uint32_t code, const Value* objects) {
  last_error = std::to_string(code) + " " + (objects ? show(objects[0]) : std::string());
  return next_error_fn(code, objects);
}

class ThreadsReading : public EvalTest {
 protected:
  void SetUp() override {
    EvalTest::SetUp();
    ASSERT_TRUE(threads_init_first());
    next_error_fn = zv_error_fn;
    zv_error_fn = note_error;  // the fixture's TearDown puts the first one back
  }
  void TearDown() override {
    EXPECT_EQ(thread_active_count(), 1u);
    threads_end_first();
    EvalTest::TearDown();
  }
};

// The value of the form of text, or NO_VALUE when it signalled an error.
// (The fixture's `catching` records codes in words the threads share.)
Value evaluate_caught(const char* text) {
  Context cx;
  context_push(&cx, CX_ERRCATCH);
  Value v = NO_VALUE;
  if (setjmp(cx.resume) == 0) v = ev(text);
  context_pop(&cx);
  return v;
}

// Two readers that start together.
struct Readers {
  static constexpr int ROUNDS = 300;
  std::atomic<int> ready{0}, wrong{0};
};
struct Reader {
  Readers* all;
  int id;
};

// Round r defines (FRESH-id-r x), which counts from x up by r, names two
// more new symbols and is called once; two other new names are read and
// dropped.
void run_reader(void* p) {
  Reader* rd = static_cast<Reader*>(p);
  rd->all->ready.fetch_add(1);
  while (rd->all->ready.load() < 2) safe_point();
  char text[200];
  for (int r = 0; r < Readers::ROUNDS; r++) {
    int id = rd->id;
    std::snprintf(text, sizeof text,
                  "(fresh-%d-%d (x) (let ((n x)) (dotimes (i %d) (setq n (+ n 1)))"
                  " (car (list n 'new-a-%d-%d 'new-b-%d-%d))))",
                  id, r, r, id, r, id, r);
    defun(text);
    std::snprintf(text, sizeof text, "(list 'drop-%d-%d 'drop2-%d-%d)", id, r, id, r);
    form(text);
    std::snprintf(text, sizeof text, "(fresh-%d-%d 1)", id, r);
    Value v = evaluate_caught(text);
    if (v != make_fixnum(r + 1)) {
      std::string got = v == NO_VALUE ? "error " + last_error : show(v);
      std::fprintf(stderr, "thread %d, round %d: %s\n", id, r, got.c_str());
      rd->all->wrong.fetch_add(1);
    }
  }
}

TEST_F(ThreadsReading, TwoThreadsInternAndRunFreshForms) {
  Readers all;
  Reader a{&all, 1}, b{&all, 2};
  uint32_t serial = 0;
  ASSERT_NE(thread_start(run_reader, &b, 4 << 20, NIL, &serial), 0u);
  run_reader(&a);
  // Waiting in a region: the other's collections need not wait for this one.
  safe_region_enter();
  while (!thread_wait_active_at_most(1, 50)) {
  }
  safe_region_leave();
  EXPECT_EQ(all.wrong.load(), 0);
}

// The same in two started threads while the first runs full collections,
// which compact the cons area and the symbol table, one after another.
TEST_F(ThreadsReading, TwoThreadsReadWhileAThirdCompacts) {
  Readers all;
  Reader a{&all, 1}, b{&all, 2};
  uint32_t serial = 0;
  ASSERT_NE(thread_start(run_reader, &a, 4 << 20, NIL, &serial), 0u);
  ASSERT_NE(thread_start(run_reader, &b, 4 << 20, NIL, &serial), 0u);
  for (bool ended = false; !ended;) {
    gc_full_collection();
    safe_region_enter();
    ended = thread_wait_active_at_most(1, 1);
    safe_region_leave();
  }
  EXPECT_EQ(all.wrong.load(), 0);
}

}  // namespace
