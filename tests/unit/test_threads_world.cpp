// Stopping the world: members running between safe points, members
// blocked in safe regions, members coming and going, against a stopper
// that rewrites shared state the way a collection moves objects.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include <cstdlib>
#include <cstring>

#include "object/memory.h"
#include "object/thread.h"
#include "threads/native.h"
#include "threads/safepoint.h"
#include "threads/table.h"
#include "threads/world.h"
#include "world_fixture.h"

namespace {

// The "world": two words a stopper always changes together, as a moving
// collection changes every reference to an object.  Plain words: only the
// protocol keeps readers and the stopper apart.
struct Shared {
  uint64_t a = 0, b = 0;
  std::atomic<bool> done{false};
  std::atomic<uint32_t> ready{0};
};

// A member's own words, which the stopper reads and rewrites while the
// member is stopped (its "roots").
struct Worker {
  Shared* world = nullptr;
  WorldMember member;
  uint64_t root = 0;      // the last pair value the worker saw
  uint64_t rounds = 0;    // rounds done, for the stopper to watch
  uint64_t mismatches = 0;
  uint64_t moved = 0;     // how often the stopper rewrote root
  bool use_regions = false;
  NativeMutex* wait_lock = nullptr;
  NativeCondition* wait_cond = nullptr;
};

void* run_worker(void* p) {
  Worker* w = static_cast<Worker*>(p);
  world_member_join(&w->member, w);
  w->world->ready.fetch_add(1);
  while (!w->world->done.load(std::memory_order_relaxed)) {
    world_park(&w->member);
    // Between safe points the world holds still.
    uint64_t a = w->world->a;
    uint64_t b = w->world->b;
    if (a != b) w->mismatches++;
    if (w->root > a) w->mismatches++;  // the stopper only moves forward
    w->root = a;
    w->rounds++;
    if (w->use_regions && w->rounds % 64 == 0) {
      // A short blocking wait, as for a lock or a key.
      world_region_enter(&w->member);
      native_mutex_lock(w->wait_lock);
      native_condition_wait_ms(w->wait_cond, w->wait_lock, 1);
      native_mutex_unlock(w->wait_lock);
      world_region_leave(&w->member);
    }
  }
  world_member_leave(&w->member);
  return nullptr;
}

void move_roots(WorldMember* m, void* data) {
  Worker* w = static_cast<Worker*>(m->owner);
  uint64_t to = *static_cast<uint64_t*>(data);
  if (w->root != to) w->moved++;
  w->root = to;
}

// The stopper: stop, check that nobody moves, rewrite the world and every
// member's roots, resume.
void stop_and_move(Shared* world, Worker* workers, int n, uint64_t to) {
  world_stop_others(nullptr);
  uint64_t before[8];
  for (int i = 0; i < n; i++) before[i] = workers[i].rounds;
  world->a = to;
  native_thread_yield();
  world->b = to;
  world_for_each_other(nullptr, move_roots, &to);
  for (int i = 0; i < n; i++) EXPECT_EQ(workers[i].rounds, before[i]);
  world_resume_others();
}

void run_world(bool use_regions) {
  ASSERT_TRUE(world_members_init());
  Shared world;
  NativeMutex lock;
  NativeCondition cond;
  ASSERT_TRUE(native_mutex_init(&lock, false));
  ASSERT_TRUE(native_condition_init(&cond));
  constexpr int N = 3;
  Worker workers[N];
  NativeThread threads[N];
  for (int i = 0; i < N; i++) {
    workers[i].world = &world;
    workers[i].use_regions = use_regions;
    workers[i].wait_lock = &lock;
    workers[i].wait_cond = &cond;
    ASSERT_TRUE(native_thread_start(&threads[i], run_worker, &workers[i], 0));
  }
  while (world.ready.load() < N) native_thread_yield();
  for (uint64_t k = 1; k <= 300; k++) stop_and_move(&world, workers, N, k);
  world.done.store(true);
  for (auto& t : threads) native_thread_join(&t);
  for (auto& w : workers) {
    EXPECT_EQ(w.mismatches, 0u);
    EXPECT_GT(w.rounds, 0u);
  }
  EXPECT_EQ(world_member_count(), 0u);
  native_condition_destroy(&cond);
  native_mutex_destroy(&lock);
}

TEST(WorldStop, RunningMembersHoldStillWhileStopped) { run_world(false); }

TEST(WorldStop, MembersInRegionsNeitherBlockTheStopNorRunDuringIt) { run_world(true); }

// A member blocked for good (waiting for a key that never comes) must not
// keep a stop from completing; when it wakes during a stop it waits for
// the resume before it touches anything.
struct Sleeper {
  WorldMember member;
  NativeMutex lock;
  NativeCondition wake;
  bool woken = false;              // under lock
  std::atomic<bool> in_region{false};
  std::atomic<bool> touched{false};  // set once it runs again
};

void* sleep_in_region(void* p) {
  Sleeper* s = static_cast<Sleeper*>(p);
  world_member_join(&s->member, s);
  world_region_enter(&s->member);
  s->in_region.store(true);
  native_mutex_lock(&s->lock);
  while (!s->woken) native_condition_wait(&s->wake, &s->lock);
  native_mutex_unlock(&s->lock);
  world_region_leave(&s->member);
  s->touched.store(true);
  world_member_leave(&s->member);
  return nullptr;
}

TEST(WorldStop, BlockedMemberDoesNotHoldUpTheStopper) {
  ASSERT_TRUE(world_members_init());
  Sleeper s;
  ASSERT_TRUE(native_mutex_init(&s.lock, false));
  ASSERT_TRUE(native_condition_init(&s.wake));
  NativeThread t;
  ASSERT_TRUE(native_thread_start(&t, sleep_in_region, &s, 0));
  while (!s.in_region.load()) native_thread_yield();

  world_stop_others(nullptr);  // returns although the sleeper never parks
  native_mutex_lock(&s.lock);
  s.woken = true;
  native_condition_notify_all(&s.wake);
  native_mutex_unlock(&s.lock);
  for (int i = 0; i < 50; i++) native_thread_yield();
  EXPECT_FALSE(s.touched.load());  // still held at the region's end
  world_resume_others();
  native_thread_join(&t);
  EXPECT_TRUE(s.touched.load());
  native_condition_destroy(&s.wake);
  native_mutex_destroy(&s.lock);
}

// Threads that join, work a little and leave, many times over, while two
// members take turns stopping the world: no deadlock, nobody runs during a
// stop, and the count of members comes back to zero.
struct Churn {
  Shared* world;
  std::atomic<uint32_t>* mismatches;
};

void* short_life(void* p) {
  Churn* c = static_cast<Churn*>(p);
  WorldMember m;
  world_member_join(&m, nullptr);
  for (int i = 0; i < 200; i++) {
    world_park(&m);
    if (c->world->a != c->world->b) c->mismatches->fetch_add(1);
  }
  world_member_leave(&m);
  return nullptr;
}

struct Stopper {
  Shared* world;
  WorldMember member;
  uint64_t next;
  std::atomic<bool>* done;
};

void* keep_stopping(void* p) {
  Stopper* s = static_cast<Stopper*>(p);
  world_member_join(&s->member, nullptr);
  while (!s->done->load()) {
    world_stop_others(&s->member);
    uint64_t v = s->world->a + 1;
    s->world->a = v;
    s->world->b = v;
    world_resume_others();
    world_park(&s->member);
  }
  world_member_leave(&s->member);
  return nullptr;
}

TEST(WorldStop, MembersComeAndGoWhileTwoStoppersTakeTurns) {
  ASSERT_TRUE(world_members_init());
  Shared world;
  std::atomic<uint32_t> mismatches{0};
  std::atomic<bool> done{false};
  Stopper stoppers[2] = {{&world, {}, 0, &done}, {&world, {}, 0, &done}};
  NativeThread st[2];
  for (int i = 0; i < 2; i++) ASSERT_TRUE(native_thread_start(&st[i], keep_stopping, &stoppers[i], 0));
  Churn c{&world, &mismatches};
  for (int round = 0; round < 40; round++) {
    NativeThread t[3];
    for (auto& th : t) ASSERT_TRUE(native_thread_start(&th, short_life, &c, 0));
    for (auto& th : t) native_thread_join(&th);
  }
  done.store(true);
  for (auto& th : st) native_thread_join(&th);
  EXPECT_EQ(mismatches.load(), 0u);
  EXPECT_EQ(world_member_count(), 0u);
}

// ---------------------------------------------------------------------------
// Lisp threads started from C++ over a real world: their roots are walked
// and forwarded by whichever thread collects, while they run, park or
// wait in a region.

[[noreturn]] Value die_on_error(uint32_t code, const Value*) {
  std::fprintf(stderr, "error %u in thread %u\n", code, zvts->thread_number);
  std::abort();
}

class LispThreads : public ThreadWorld {
 protected:
  void SetUp() override {
    ThreadWorld::SetUp();
    saved_error_ = zv_error_fn;
    zv_error_fn = die_on_error;
  }
  void TearDown() override {
    ThreadWorld::TearDown();
    zv_error_fn = saved_error_;
  }
  Value (*saved_error_)(uint32_t, const Value*) = nullptr;
};

struct Builder {
  uint32_t length = 0, rounds = 0;
  std::atomic<uint32_t> bad{0};
  std::atomic<uint32_t> done{0};
};

// A list of `length` elements, fixnums and every 97th a string naming its
// position, built, checked and dropped again and again.
void build_check_drop(void* p) {
  Builder* b = static_cast<Builder*>(p);
  Value list = NIL;
  root_push(&list);
  for (uint32_t r = 0; r < b->rounds; r++) {
    list = NIL;
    for (uint32_t i = 0; i < b->length; i++) {
      Value x = make_fixnum(int32_t(i));
      if (i % 97 == 0) {
        char text[16];
        int n = std::snprintf(text, sizeof text, "n%u", i);
        x = mem_make_string(text, uint32_t(n));
      }
      list = cons(x, list);
    }
    uint32_t i = b->length;
    for (Value l = list; cons_p(l); l = cdr(l)) {
      i--;
      Value x = car(l);
      char text[16];
      int n = std::snprintf(text, sizeof text, "n%u", i);
      bool ok = i % 97 ? x == make_fixnum(int32_t(i))
                       : is_string(x) && string_length(x) == uint32_t(n) &&
                             std::memcmp(string_bytes(x), text, size_t(n)) == 0;
      if (!ok) b->bad.fetch_add(1);
    }
    if (i != 0) b->bad.fetch_add(1);
  }
  root_pop();
  b->done.fetch_add(1);
}

void run_builders(uint32_t threads, uint32_t length, uint32_t rounds) {
  Builder b;
  b.length = length;
  b.rounds = rounds;
  start_lisp_threads(threads, build_check_drop, &b);
  uint32_t collections = zv_gc.cons + zv_gc.heap + zv_gc.full;
  // The first thread collects too, between waits.
  work_until_done(b.done, threads, [] {
    gc_full_collection();
    gc_heap_collection(0);
  });
  EXPECT_EQ(b.bad.load(), 0u);
  // Collections ran while the builders worked (theirs and the first
  // thread's).
  EXPECT_GT(zv_gc.cons + zv_gc.heap + zv_gc.full - collections, 3u);
}

TEST_F(LispThreads, EachBuildsChecksAndDropsListsWhileOthersCollect) {
  run_builders(4, 10000, 12);
}

TEST_F(LispThreads, UnderStressEveryFewAllocationsCollect) {
  zv_gc_stress = 7;
  run_builders(3, 1500, 3);
}

// A thread waiting in a region keeps its roots: the collector forwards
// them without waiting for it, and it finds its list moved and whole.
struct Waiter {
  NativeMutex lock;
  NativeCondition cond;
  bool in_region = false, go = false;  // under lock
  Value before = NIL;                  // the list's address before the wait
  bool moved = false, whole = false;
};

void wait_holding_a_list(void* p) {
  Waiter* w = static_cast<Waiter*>(p);
  Value list = NIL;
  root_push(&list);
  for (int i = 0; i < 1000; i++) list = cons(make_fixnum(i), list);
  Value before = list;
  safe_region_enter();
  native_mutex_lock(&w->lock);
  w->in_region = true;
  native_condition_notify_all(&w->cond);
  while (!w->go) native_condition_wait(&w->cond, &w->lock);
  native_mutex_unlock(&w->lock);
  safe_region_leave();
  w->moved = list != before;
  int i = 1000;
  for (Value l = list; cons_p(l); l = cdr(l)) i -= car(l) == make_fixnum(i - 1);
  w->whole = i == 0;
  root_pop();
}

TEST_F(LispThreads, ABlockedThreadNeitherHoldsUpNorLosesACollection) {
  Waiter w;
  ASSERT_TRUE(native_mutex_init(&w.lock, false));
  ASSERT_TRUE(native_condition_init(&w.cond));
  // Garbage below the waiter's cells, so that compaction moves them.
  Value junk = NIL;
  root_push(&junk);
  for (int i = 0; i < 5000; i++) junk = cons(NIL, junk);
  uint32_t serial;
  ASSERT_NE(thread_start(wait_holding_a_list, &w, 256 * 1024, NIL, nullptr, &serial), 0u);
  safe_region_enter();
  native_mutex_lock(&w.lock);
  while (!w.in_region) native_condition_wait(&w.cond, &w.lock);
  native_mutex_unlock(&w.lock);
  safe_region_leave();
  junk = NIL;
  gc_full_collection();  // returns although the waiter never parks
  native_mutex_lock(&w.lock);
  w.go = true;
  native_condition_notify_all(&w.cond);
  native_mutex_unlock(&w.lock);
  root_pop();
  wait_for_the_others();
  EXPECT_TRUE(w.moved);
  EXPECT_TRUE(w.whole);
}

// Numbers, serials and the limit: the first started thread is number 1,
// serial 257; 2046 may live beside the first, the next is refused.
struct Gate {
  NativeMutex lock;
  NativeCondition cond;
  bool open = false;
  std::atomic<uint32_t> numbers_ok{0};
};

void wait_at_gate(void* p) {
  Gate* g = static_cast<Gate*>(p);
  safe_region_enter();
  native_mutex_lock(&g->lock);
  while (!g->open) native_condition_wait(&g->cond, &g->lock);
  native_mutex_unlock(&g->lock);
  safe_region_leave();
}

void note_number(void* p) {
  Gate* g = static_cast<Gate*>(p);
  if (zvts->thread_number == 1 && zvts->eval_slot == scratch_cons_of(1)) g->numbers_ok++;
  wait_at_gate(p);
}

TEST_F(LispThreads, TheFirstStartedIsSerial257AndTheLimitIs2047) {
  Gate g;
  ASSERT_TRUE(native_mutex_init(&g.lock, false));
  ASSERT_TRUE(native_condition_init(&g.cond));
  uint32_t serial = 0;
  EXPECT_EQ(thread_start(note_number, &g, 64 * 1024, NIL, nullptr, &serial), 1u);
  EXPECT_EQ(serial, 257u);
  uint32_t started = 1;
  while (thread_start(wait_at_gate, &g, 64 * 1024, NIL, nullptr, &serial)) started++;
  EXPECT_EQ(started, THREAD_LIMIT - 1);
  EXPECT_EQ(world_thread_count(), THREAD_LIMIT);
  native_mutex_lock(&g.lock);
  g.open = true;
  native_condition_notify_all(&g.cond);
  native_mutex_unlock(&g.lock);
  wait_for_the_others();
  EXPECT_EQ(g.numbers_ok.load(), 1u);
  // Records come back: a thread can be started again.
  EXPECT_NE(thread_start(wait_at_gate, &g, 64 * 1024, NIL, nullptr, &serial), 0u);
  EXPECT_EQ(serial, 257u + THREAD_LIMIT - 1);
  wait_for_the_others();
}

}  // namespace
