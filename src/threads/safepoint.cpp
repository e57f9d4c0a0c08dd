// The global lock, the safe point, safe regions and the collector's stop.
//
// A non-local exit that passes an allocation leaves the lock's count as
// the collector left it (the collector gives the lock up entirely before
// it signals).
#include "threads/safepoint.h"

#include <time.h>

#include <cerrno>

#include "threads/native.h"
#include "threads/table.h"

namespace {

NativeMutex global_mutex{PTHREAD_MUTEX_INITIALIZER};
thread_local uint32_t lock_depth = 0;
thread_local WorldMember* current_member = nullptr;

// Every live record's state but the caller's: its own roots the collector
// walks first.  A record's state is complete before it is published and
// its thread runs only as a member, so a state seen here holds still.
void for_each_other_state(void (*fn)(ThreadState*)) {
  struct Walk {
    void* self;
    void (*fn)(ThreadState*);
  } walk{current_member ? current_member->owner : nullptr, fn};
  thread_for_each_live(
      [](uint32_t n, void* data) {
        Walk* w = static_cast<Walk*>(data);
        void* state = thread_record(n)->state;
        if (state && state != w->self) w->fn(static_cast<ThreadState*>(state));
      },
      &walk);
}

}  // namespace

WorldMember* world_current_member() { return current_member; }
void world_set_current_member(WorldMember* m) { current_member = m; }

void world_lock() {
  if (lock_depth == 0) {
    while (!native_mutex_try_lock(&global_mutex)) {
      safe_point();
      native_thread_yield();
    }
  }
  lock_depth++;
}

bool world_try_lock() {
  if (lock_depth == 0 && !native_mutex_try_lock(&global_mutex)) return false;
  lock_depth++;
  return true;
}

void world_unlock() {
  if (lock_depth && --lock_depth == 0) native_mutex_unlock(&global_mutex);
}

uint32_t world_lock_depth() { return lock_depth; }

uint32_t world_lock_release_all() {
  uint32_t d = lock_depth;
  if (d) {
    lock_depth = 0;
    native_mutex_unlock(&global_mutex);
  }
  return d;
}

void world_lock_reacquire(uint32_t depth) {
  if (depth == 0) return;
  world_lock();
  lock_depth += depth - 1;
}

uint32_t world_thread_count() {
  uint32_t n = thread_active_count();
  return n ? n : 1;
}

// The console locks belong to the streams; with none taken there is
// nothing to give up.
void thread_release_locks_to(const uint32_t*) {}

void host_sleep_ms(unsigned ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = (long)(ms % 1000) * 1000000L;
  safe_region_enter();
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
  safe_region_leave();
}

void world_stop() { world_stop_others(current_member); }
void world_run_mark_phase() { for_each_other_state(gc_mark_thread_roots); }
void world_run_update_phase() { for_each_other_state(gc_update_thread_roots); }
void world_resume() { world_resume_others(); }

void safe_point() {
  if (current_member && lock_depth == 0) world_park(current_member);
}

void safe_region_enter() {
  if (current_member && lock_depth == 0) world_region_enter(current_member);
}

void safe_region_leave() {
  if (current_member && lock_depth == 0) world_region_leave(current_member);
}
