// The global lock and the world phases while the first thread is the only
// Lisp thread.  The lock is a per-thread nesting count; a non-local exit
// that passes an allocation leaves the count as the collector left it (the
// collector gives the lock up entirely before it signals).
#include "threads/safepoint.h"

#include <time.h>

#include <cerrno>

namespace {
thread_local uint32_t lock_depth = 0;
}

void world_lock() { lock_depth++; }

void world_unlock() {
  if (lock_depth) lock_depth--;
}

uint32_t world_lock_depth() { return lock_depth; }

uint32_t world_lock_release_all() {
  uint32_t d = lock_depth;
  while (lock_depth) world_unlock();
  return d;
}

void world_lock_reacquire(uint32_t depth) {
  while (depth--) world_lock();
}

uint32_t world_thread_count() { return 1; }
// With one Lisp thread nobody waits on these locks: the depths are only
// counted, and the context restores them.
void thread_release_locks_to(const uint32_t*) {}

void host_sleep_ms(unsigned ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = (long)(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void world_stop() {}
void world_run_mark_phase() {}
void world_run_update_phase() {}
void world_resume() {}
void safe_point() {}
void safe_region_enter() {}
void safe_region_leave() {}
