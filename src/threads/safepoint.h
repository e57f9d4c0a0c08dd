// The global lock and the stop-the-world protocol of the collector.
//
// The global lock is a mutex with a per-thread nesting count, taken by
// trying, and on failure passing the safe point and yielding: never by
// blocking, since its holder may be a collector waiting for this very
// thread to stop.  Each Lisp thread is a member of the world (world.h);
// the collector stops the others, marks and forwards their roots itself,
// and lets them go on.
#pragma once

#include <cstdint>

#include "threads/world.h"

struct ThreadState;  // object/thread.h

// The calling thread's place in the world: null for a thread that is no
// Lisp thread (a test's driver, the process's main thread while the first
// Lisp thread runs on a bigger stack).
WorldMember* world_current_member();
void world_set_current_member(WorldMember* m);

// Global lock: allocation, the symbol table and the collector.  It nests.
void world_lock();
void world_unlock();
// Takes the lock only when that needs no wait (and so passes no safe
// point): for code that holds Values it has not rooted and has another way
// when the lock is busy.
bool world_try_lock();
// How deeply the calling thread holds the global lock.
uint32_t world_lock_depth();
// Give up every level the calling thread holds and say how many there were;
// used before signalling an error that may leave by a non-local exit.
uint32_t world_lock_release_all();
// Take the lock again `depth` times after such an error returned.
void world_lock_reacquire(uint32_t depth);

// Lisp threads alive, the caller included (the thread table's count, at
// least 1).  Saving or loading the world and
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
void world_stop();              // every other Lisp thread parked or in a region
void world_run_mark_phase();    // mark the roots of each stopped thread
void world_run_update_phase();  // forward the roots of each stopped thread
void world_resume();            // let them run again

// Thread side: a thread that cannot take the global lock at once passes
// here, and so does every poll of the interrupt word that finds the stop
// bit: it parks while a collection is in progress.  The caller holds no
// raw pointer into the world, and every Value it needs is on its stacks.
// Nothing happens while the caller holds the global lock.
void safe_point();

// A safe region of the calling thread around a blocking wait (console
// input, a sleep, a lock, another thread, a host program).  Inside it the
// thread touches no Lisp object and holds no raw pointer into the world,
// so the collector does not wait for it; every Value the thread needs
// afterwards is on its stacks.  Regions nest; leaving one waits for a
// collection in progress to end.  A thread holding the global lock keeps
// everyone else out of the world anyway, and enters no region.
void safe_region_enter();
void safe_region_leave();
struct SafeRegion {
  SafeRegion() { safe_region_enter(); }
  ~SafeRegion() { safe_region_leave(); }
  SafeRegion(const SafeRegion&) = delete;
  SafeRegion& operator=(const SafeRegion&) = delete;
};

// What the collector does for each stopped thread (they live in the
// collector): mark its roots, and apply the forwarding of the collection
// in progress to them.
void gc_mark_thread_roots(ThreadState* ts);
void gc_update_thread_roots(ThreadState* ts);
