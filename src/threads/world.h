// Stopping the world: how the collector gets every other Lisp thread out
// of the way, and how a thread that waits for something outside Lisp lets
// the collector go on without it.
//
// Each Lisp thread is a member of the world.  A member is running, parked
// at a safe point, or inside a safe region (blocked in a wait that touches
// no Lisp object).  A stopper (the collector, holding the global lock)
// raises the stop request and waits until every other member is parked or
// in a region; it then has the world to itself until it resumes it.  A
// member that leaves a region, joins or leaves the world while a stop is
// in progress waits for the resume first, so nobody touches the world
// while the stopper works on it.
//
// The check at a safe point is one relaxed load; everything else takes
// the world's mutex, and only at waits, stops and thread starts and ends.
#pragma once

#include <atomic>
#include <cstdint>

enum : uint8_t { MEMBER_RUNNING = 0, MEMBER_PARKED = 1, MEMBER_IN_REGION = 2 };

struct WorldMember {
  std::atomic<uint8_t> state{MEMBER_RUNNING};
  uint32_t region_depth = 0;  // regions nest; only the owner touches this
  void* owner = nullptr;      // the member's thread state, for the stopper's walks
  WorldMember* next = nullptr;
};

// The world's mutex and conditions are built statically: always true.
bool world_members_init();

// The calling thread becomes a member, running (after any stop in
// progress has ended); and stops being one.
void world_member_join(WorldMember* m, void* owner);
void world_member_leave(WorldMember* m);
uint32_t world_member_count();

// Work for the next poll of every Lisp thread, one word so that the
// evaluator's check before each form stays one load.  Signal handlers and
// timers set bits (async-signal-safe: the word is lock-free); a poll
// clears only the bits it takes.
//   KEYBOARD  Control-C, taken by the thread that answers the console
//   CONSOLE   console output to be shown
//   SAFEPOINT a stop of the world is asked for: pass world_park soon
//             (raised and lowered by the stopper only)
//   THREAD    work for particular threads: interrupts queued for one,
//             the end of the process (each looks for its own)
enum : int { PENDING_KEYBOARD = 1, PENDING_CONSOLE = 2, PENDING_SAFEPOINT = 4, PENDING_THREAD = 8 };
extern std::atomic<int> zv_interrupt_pending;
inline int interrupt_pending_bits() { return zv_interrupt_pending.load(std::memory_order_relaxed); }
inline void interrupt_request(int bits) { zv_interrupt_pending.fetch_or(bits); }
// Clears the bits and says which of them were set.
inline int interrupt_take(int bits) { return zv_interrupt_pending.fetch_and(~bits) & bits; }

// A stop has been asked for: the member should pass world_park soon.
inline bool world_stop_requested() { return interrupt_pending_bits() & PENDING_SAFEPOINT; }

// Safe point: when a stop is in progress, park until the world resumes.
// The caller holds no raw pointer into the world and keeps every Value it
// needs where the stopper can see it.
void world_park(WorldMember* m);

// Safe region around a blocking wait.  Leaving waits for a stop in
// progress to end.
void world_region_enter(WorldMember* m);
void world_region_leave(WorldMember* m);

// Stopper side.  world_stop_others returns when every member but `self`
// is parked or in a region (self may be null: a thread that is no member,
// such as a test's driver).  Only one stop at a time: a second stopper
// waits for the first to resume.
void world_stop_others(WorldMember* self);
// Calls fn for each member but self; only while the world is stopped.
void world_for_each_other(WorldMember* self, void (*fn)(WorldMember*, void*), void* data);
void world_resume_others();
