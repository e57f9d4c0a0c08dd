// Stopping the world: members running between safe points, members
// blocked in safe regions, members coming and going, against a stopper
// that rewrites shared state the way a collection moves objects.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "threads/native.h"
#include "threads/world.h"

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

}  // namespace
