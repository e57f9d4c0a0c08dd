// Runs of free cons cells: each thread conses from a run of its own
// without the global lock.  No cell may reach two threads, and a
// collection must take back the unused cells of every run, whichever
// thread collects and wherever the others stand.
#include <gtest/gtest.h>

#include <atomic>
#include <set>

#include "object/gc.h"
#include "object/memory.h"
#include "threads/native.h"
#include "world_fixture.h"

namespace {

class AllocRuns : public ThreadWorld {};

// Each element names its thread and position, so a cell that reached two
// threads shows up in the list of one of them.
Value element(uint32_t who, uint32_t i) { return make_fixnum(int32_t(who * 100000 + i)); }

struct Consers {
  uint32_t length = 0, rounds = 0;
  std::atomic<uint32_t> next_id{1}, bad{0}, done{0};
};

// Two lists at once, built a cell of each in turn, checked and dropped,
// again and again.
void cons_two_lists(void* p) {
  Consers* c = static_cast<Consers*>(p);
  uint32_t who = c->next_id.fetch_add(1);
  Value a = NIL, b = NIL;
  root_push(&a);
  root_push(&b);
  for (uint32_t r = 0; r < c->rounds; r++) {
    a = b = NIL;
    for (uint32_t i = 0; i < c->length; i++) {
      // The evaluator's poll: a collection may find the run half used.
      if (world_stop_requested()) safe_point();
      a = cons(element(who, i), a);
      b = cons(element(who, i), b);
    }
    for (Value l : {a, b}) {
      uint32_t i = c->length;
      for (; cons_p(l) && i > 0; l = cdr(l))
        if (car(l) != element(who, --i)) c->bad.fetch_add(1);
      if (i != 0 || l != NIL) c->bad.fetch_add(1);
    }
  }
  root_pop(2);
  c->done.fetch_add(1);
}

void run_consers(uint32_t threads, uint32_t length, uint32_t rounds) {
  Consers c;
  c.length = length;
  c.rounds = rounds;
  start_lisp_threads(threads, cons_two_lists, &c);
  uint32_t before = zv_gc.cons + zv_gc.heap + zv_gc.symbol + zv_gc.full;
  // The first thread collects now and then, with the others' runs in any
  // state.
  uint32_t k = 0;
  work_until_done(c.done, threads, [&] {
    if (k++ % 2)
      gc_full_collection();
    else
      gc_heap_collection(0);
  });
  EXPECT_EQ(c.bad.load(), 0u);
  EXPECT_GT(zv_gc.cons + zv_gc.heap + zv_gc.symbol + zv_gc.full - before, 3u);
}

TEST_F(AllocRuns, ThreadsConsingAtOnceNeverShareACell) { run_consers(4, 12000, 25); }

TEST_F(AllocRuns, UnderStressEveryFewConsesCollect) {
  zv_gc_stress = 7;
  run_consers(3, 1500, 3);
}

// The free list: its cells, each once, ending in NIL; how many.
uint32_t free_cells(std::set<Value>* cells) {
  for (Value c = zvm.free_head; c != NIL; c = cdr(c))
    if (!cells->insert(c).second || !in_cons_area(c)) return 0;
  return uint32_t(cells->size());
}

// A thread conses a short list (part of a run), then waits in a region,
// keeping the list, until it may check it and end.
struct Holder {
  uint32_t length = 0;
  NativeMutex lock;
  NativeCondition cond;
  uint32_t holding = 0;  // under lock
  bool go = false;       // under lock
  std::atomic<uint32_t> whole{0};
  std::atomic<uint32_t> next_id{1};
  Value lists[4] = {NIL, NIL, NIL, NIL};  // written before the wait, read by the first thread
};

void cons_and_hold(void* p) {
  Holder* h = static_cast<Holder*>(p);
  uint32_t who = h->next_id.fetch_add(1);
  Value list = NIL;
  root_push(&list);
  for (uint32_t i = 0; i < h->length; i++) list = cons(element(who, i), list);
  safe_region_enter();
  native_mutex_lock(&h->lock);
  h->lists[who] = list;
  h->holding++;
  native_condition_notify_all(&h->cond);
  while (!h->go) native_condition_wait(&h->cond, &h->lock);
  native_mutex_unlock(&h->lock);
  safe_region_leave();
  uint32_t i = h->length;
  for (Value l = list; cons_p(l) && i > 0; l = cdr(l)) i -= car(l) == element(who, i - 1);
  if (i == 0) h->whole.fetch_add(1);
  // One more cons from a new run, given back as the thread ends.
  list = cons(NIL, list);
  root_pop();
}

TEST_F(AllocRuns, ACollectionTakesBackTheUnusedCellsOfEveryRun) {
  Holder h;
  h.length = 100;  // less than a run
  ASSERT_TRUE(native_mutex_init(&h.lock, false));
  ASSERT_TRUE(native_condition_init(&h.cond));
  Value mine = NIL;
  root_push(&mine);
  for (int i = 0; i < 10; i++) mine = cons(make_fixnum(i), mine);
  ASSERT_EQ(zvts->run_count, CONS_RUN_CELLS - 10);
  start_lisp_threads(2, cons_and_hold, &h);
  safe_region_enter();
  native_mutex_lock(&h.lock);
  while (h.holding < 2) native_condition_wait(&h.cond, &h.lock);
  native_mutex_unlock(&h.lock);
  safe_region_leave();

  // Three partly used runs are out of the free list.
  uint32_t live = 10 + 2 * h.length;
  EXPECT_EQ(zvm.free_count, zvm.cons_cap - 3 * CONS_RUN_CELLS);
  gc_heap_collection(0);  // sweeps the cons area without moving cells
  EXPECT_EQ(zvts->run_count, 0u);
  EXPECT_EQ(zvm.free_count, zvm.cons_cap - live);
  std::set<Value> cells;
  EXPECT_EQ(free_cells(&cells), zvm.free_count);
  // No free cell is one of a list in use.
  for (Value l : {mine, h.lists[1], h.lists[2]})
    for (; cons_p(l); l = cdr(l)) EXPECT_EQ(cells.count(l), 0u) << l;

  native_mutex_lock(&h.lock);
  h.go = true;
  native_condition_notify_all(&h.cond);
  native_mutex_unlock(&h.lock);
  wait_for_the_others();
  EXPECT_EQ(h.whole.load(), 2u);
  // Each ended thread gave back what its last run had left: only the two
  // cells they took after the collection are missing.
  cells.clear();
  EXPECT_EQ(zvm.free_count, zvm.cons_cap - live - 2);
  EXPECT_EQ(free_cells(&cells), zvm.free_count);
  root_pop();
  native_condition_destroy(&h.cond);
  native_mutex_destroy(&h.lock);
}

}  // namespace
