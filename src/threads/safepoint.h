// The global lock and the stop-the-world protocol of the collector.
//
// With one Lisp thread the protocol has nobody to wait for: the lock only
// counts how deeply this thread holds it, and the world phases return at
// once.  The thread layer gives them their real bodies; the collector and
// the allocators already call them at the right places.
#pragma once

#include <cstdint>

// Global lock: allocation, the symbol table and the collector.  It nests.
void world_lock();
void world_unlock();
// How deeply the calling thread holds the global lock.
uint32_t world_lock_depth();
// Give up every level the calling thread holds and say how many there were;
// used before signalling an error that may leave by a non-local exit.
uint32_t world_lock_release_all();
// Take the lock again `depth` times after such an error returned.
void world_lock_reacquire(uint32_t depth);

// Lisp threads alive, the caller included.  Saving or loading the world and
// handing the console to a host program need the caller to be the only
// one.
uint32_t world_thread_count();
// The input, output and interpreter locks a non-local exit leaves behind:
// give up the levels taken after the context whose depths are given.
void thread_release_locks_to(const uint32_t* depths);

// A pause of ms milliseconds of the calling thread (signals do not cut it
// short).
void host_sleep_ms(unsigned ms);

// Collector side, called with the global lock held.
void world_stop();              // park every other Lisp thread
void world_run_mark_phase();    // each parked thread marks its own roots
void world_run_update_phase();  // each parked thread updates its own roots
void world_resume();            // let the parked threads run again

// Thread side: a thread that cannot take the global lock at once passes
// here, and parks when a collection is in progress.
void safe_point();

// A safe region of the calling thread around a blocking wait (console
// input, a sleep, a lock, another thread, a host program).  Inside it the
// thread touches no Lisp object and holds no raw pointer into the world,
// so the collector does not wait for it.  Regions nest.
void safe_region_enter();
void safe_region_leave();
struct SafeRegion {
  SafeRegion() { safe_region_enter(); }
  ~SafeRegion() { safe_region_leave(); }
  SafeRegion(const SafeRegion&) = delete;
  SafeRegion& operator=(const SafeRegion&) = delete;
};

// What the collector offers a parked thread (they live in the collector):
// mark the calling thread's roots, and apply the forwarding of the
// collection in progress to them.
void gc_mark_own_roots();
void gc_update_own_roots();
