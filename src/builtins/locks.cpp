// Locks and condition variables for Lisp programs (512-515).
//
// Both are ordinary instances: the library's structure classes give them
// their type and printing, and the kernel keeps their whole state in their
// words, as fixnums.  So they move with the heap and die with it, and
// nothing native belongs to any one of them.  Instead one process-wide
// native mutex guards every test and change of those words, and one
// process-wide native condition is broadcast whenever a lock becomes free
// or a condition variable is notified; a waiter tests under the mutex and
// sleeps on the condition, so no wake-up is lost between its test and its
// sleep.  The mutex is held only for a few word accesses: never across an
// allocation, Lisp code, a signal or a safe point.
//
// A wait is one slice of at most WAIT_SLICE_MS inside a safe region; the
// library loops over slices, so between two of them the evaluator polls
// for interrupts and safe points, and a waiting thread can be interrupted,
// destroyed or stopped for a collection.  While in the region the waiter
// touches no Lisp object; it finds its object again on the root stack
// afterwards, since a collection may have moved it.
//
// Lock words: 1 name, 2 owner (NIL, or the owner's thread number), 3 a
// stamp of the owner's serial, 4 depth (times taken), 5 kind (0 plain,
// 1 recursive).  A thread number is reused once its thread has ended, the
// serial never; a lock whose owner has ended (number and stamp no longer
// name a live thread of this process) is free, so a thread that ends
// holding a lock does not keep it held for ever, nor does a saved image.
//
// Condition-variable words: 1 name, 2 waiters (registered and not yet
// woken), 3 wake-ups granted and not yet taken (never more than waiters),
// 4 kind (2).  Notify grants one wake-up when there are more waiters than
// wake-ups, broadcast grants one to every waiter; a waiter takes one when
// it finds one.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "builtins/classes.h"
#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/memory.h"
#include "object/thread.h"
#include "threads/native.h"
#include "threads/safepoint.h"
#include "threads/table.h"

namespace {

enum : uint32_t {
  E_LOCK_NOT_HELD = 0x105C,    // 4188: release or wait by a thread that does not hold it
  E_LOCK_HELD_AGAIN = 0x105D,  // 4189: a plain lock taken again by its owner
};

enum : uint32_t { LK_NAME = 1, LK_OWNER, LK_STAMP, LK_DEPTH, LK_KIND, LK_WORDS };
enum : uint32_t { CV_NAME = 1, CV_WAITERS, CV_WAKEUPS, CV_KIND, CV_WORDS };
enum : int32_t { KIND_LOCK = 0, KIND_RECURSIVE = 1, KIND_CONDITION = 2 };

// Lock operations (513) and condition-variable operations (515).
enum : int32_t {
  LOCK_TRY = 0,
  LOCK_WAIT = 1,
  LOCK_RELEASE = 2,
  LOCK_RELEASE_IF_HELD = 3,
  LOCK_OWNER = 4,
  LOCK_DEPTH = 5,
  LOCK_SET_DEPTH = 6,
};
enum : int32_t {
  CV_ENTER = 0,
  CV_WAIT = 1,
  CV_LEAVE = 2,
  CV_NOTIFY = 3,
  CV_BROADCAST = 4,
  CV_WAITING = 5,
};

constexpr uint32_t WAIT_SLICE_MS = 100;
constexpr uint32_t SERIAL_MASK = 0x7FFFFF;

struct Shared {
  NativeMutex mutex;
  NativeCondition changed;
  uint32_t sleepers = 0;  // threads in a wait slice, under the mutex
};

Shared& shared() {
  static Shared* s = [] {
    static Shared made;
    if (!native_mutex_init(&made.mutex, false) || !native_condition_init(&made.changed)) {
      std::printf("Error: the system refuses the mutex of Lisp locks\n");
      std::abort();
    }
    return &made;
  }();
  return *s;
}

// Guards the words of every lock and condition variable.  Nothing in its
// scope can leave by a Lisp throw (no error, no allocation, no Lisp code),
// so the destructor always runs.
struct Guard {
  Shared& s;
  Guard() : s(shared()) { native_mutex_lock(&s.mutex); }
  ~Guard() { native_mutex_unlock(&s.mutex); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;
  void wake_all() {
    if (s.sleepers) native_condition_notify_all(&s.changed);
  }
  // One slice of sleep, in a safe region.  The caller holds nothing but
  // Values it will read again from its roots.
  void sleep(uint32_t ms) {
    s.sleepers++;
    safe_region_enter();
    native_condition_wait_ms(&s.changed, &s.mutex, ms);
    s.sleepers--;
  }
};
// After a sleep: the region is left with the mutex given up, since leaving
// may wait for a collection, and a thread waiting for the mutex would hold
// that collection up.
void after_sleep() { safe_region_leave(); }

inline int32_t word_int(Value o, uint32_t i) { return fixnum_value(heap_word(o, i)); }
inline void set_word_int(Value o, uint32_t i, int32_t n) { heap_set_word(o, i, make_fixnum(n)); }

// An instance the kernel made with `words` words and one of the kinds.
bool has_kind(Value v, uint32_t words, int32_t lo, int32_t hi) {
  if (tag_of(value_check(v)) != TAG_OBJECT || heap_type(v) != HT_INSTANCE) return false;
  if (object_value_words(v) != words) return false;
  Value k = heap_word(v, words - 1);
  return is_fixnum(k) && fixnum_value(k) >= lo && fixnum_value(k) <= hi;
}

Value checked_lock(Value v) {
  while (!has_kind(v, LK_WORDS, KIND_LOCK, KIND_RECURSIVE)) v = wrong_type(v);
  return v;
}

Value checked_condition(Value v) {
  while (!has_kind(v, CV_WORDS, KIND_CONDITION, KIND_CONDITION)) v = wrong_type(v);
  return v;
}

int32_t checked_op(Value op, int32_t last) {
  while (!is_fixnum(op) || fixnum_value(op) < 0 || fixnum_value(op) > last) op = wrong_type(op);
  return fixnum_value(op);
}

// The optional third argument as a wait in milliseconds, at most a slice.
uint32_t slice_arg() {
  Value ms = arg_count() > 2 ? arg(3) : NIL;
  while (!is_fixnum(ms) || fixnum_value(ms) < 0) ms = wrong_type(ms);
  uint32_t n = uint32_t(fixnum_value(ms));
  return n < WAIT_SLICE_MS ? n : WAIT_SLICE_MS;
}

// A thread's serial as a lock keeps it: the low bits, mixed with a tag of
// this process.  Serials start again in every process, so a lock an image
// saved while its first thread held it would otherwise still be held by
// the first thread of every process that loads the image.
uint32_t owner_stamp(uint32_t serial) {
  static const uint32_t tag = [] {
    uint64_t t = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                 (uint64_t(getpid()) << 20);
    return uint32_t(t ^ (t >> 23) ^ (t >> 46));
  }();
  return (serial ^ tag) & SERIAL_MASK;
}

// The calling thread as an owner: its number and the stamp of its serial.
struct Me {
  int32_t number;
  int32_t stamp;
};
Me me() {
  uint32_t n = zvts->thread_number;
  const ThreadRecord* r = thread_record(n);
  return Me{int32_t(n), int32_t(owner_stamp(r ? r->serial : 0))};
}

// Whether the thread that took a lock as (number, stamp) is still alive:
// looked up in the thread table, under its lock.
bool owner_alive(int32_t number, int32_t stamp) {
  struct Probe {
    uint32_t number;
    uint32_t stamp;
    bool found;
  } p{uint32_t(number), uint32_t(stamp), false};
  thread_for_each_live(
      [](uint32_t n, void* data) {
        Probe* q = static_cast<Probe*>(data);
        if (n == q->number && owner_stamp(thread_record(n)->serial) == q->stamp) q->found = true;
      },
      &p);
  return p.found;
}

enum Taken { TAKEN, BUSY, HELD_AGAIN };

// Under the mutex: take the lock for the caller when it can be had.
Taken take(Value lock, Me m) {
  Value owner = heap_word(lock, LK_OWNER);
  if (!nil_p(owner)) {
    int32_t n = fixnum_value(owner), stamp = word_int(lock, LK_STAMP);
    if (n == m.number && stamp == m.stamp) {
      if (word_int(lock, LK_KIND) != KIND_RECURSIVE) return HELD_AGAIN;
      set_word_int(lock, LK_DEPTH, word_int(lock, LK_DEPTH) + 1);
      return TAKEN;
    }
    if (owner_alive(n, stamp)) return BUSY;
  }
  heap_set_word(lock, LK_OWNER, make_fixnum(m.number));
  set_word_int(lock, LK_STAMP, m.stamp);
  set_word_int(lock, LK_DEPTH, 1);
  return TAKEN;
}

// Under the mutex: whether the caller holds the lock.
bool held_by(Value lock, Me m) {
  Value owner = heap_word(lock, LK_OWNER);
  return !nil_p(owner) && fixnum_value(owner) == m.number && word_int(lock, LK_STAMP) == m.stamp;
}

// Under the mutex: give one level up, or all of them; a lock left free
// wakes the waiters.
void give_up(Guard& g, Value lock, bool all) {
  int32_t depth = all ? 0 : word_int(lock, LK_DEPTH) - 1;
  set_word_int(lock, LK_DEPTH, depth > 0 ? depth : 0);
  if (depth > 0) return;
  heap_set_word(lock, LK_OWNER, NIL);
  set_word_int(lock, LK_STAMP, 0);
  g.wake_all();
}

// Runs attempt under the mutex; when it fails and ms is not 0, sleeps one
// slice of ms and runs it once more.  The attempt reads its objects afresh
// from their roots each time.
template <class F>
void attempt_with_sleep(uint32_t ms, F attempt) {
  {
    Guard g;
    if (attempt() || ms == 0) return;
    g.sleep(ms);
    // The mutex is held again, but the world may have moved: nothing is
    // read until the region is left.
  }
  after_sleep();
  Guard g;
  attempt();
}

// Take the lock, waiting at most ms while it is busy.  Errors are signalled
// with the mutex given up.
Value acquire(Value* lock, uint32_t ms) {
  Me m = me();
  Taken t = BUSY;
  attempt_with_sleep(ms, [&]() {
    t = take(*lock, m);
    return t != BUSY;
  });
  if (t == HELD_AGAIN) return lisp_error(E_LOCK_HELD_AGAIN, *lock);
  return bool_value(t == TAKEN);
}

// Under the mutex: end the caller's wait with a wake-up granted to it.
bool take_wakeup(Value cv) {
  int32_t w = word_int(cv, CV_WAKEUPS);
  if (w == 0) return false;
  set_word_int(cv, CV_WAKEUPS, w - 1);
  set_word_int(cv, CV_WAITERS, word_int(cv, CV_WAITERS) - 1);
  return true;
}

}  // namespace

// 512 (class name recursive-p): a new lock, free, an instance of class.
Value bi_make_lock(Value, Value) {
  Value cls = arg(1);
  while (!is_class(value_check(cls))) cls = wrong_type(cls);
  root_push(&cls);
  Value lock = mem_alloc_object(LK_WORDS, HT_INSTANCE);
  root_pop();
  // The name and the flag are read from the frame, which the collector
  // keeps up to date.
  heap_set_word(lock, IW_CLASS, cls);
  heap_set_word(lock, LK_NAME, arg(2));
  heap_set_word(lock, LK_OWNER, NIL);
  set_word_int(lock, LK_STAMP, 0);
  set_word_int(lock, LK_DEPTH, 0);
  set_word_int(lock, LK_KIND, nil_p(arg(3)) ? KIND_LOCK : KIND_RECURSIVE);
  return lock;
}

// 513 (lock op [arg])
Value bi_lock_operation(Value lock, Value op) {
  check_max_args(3);
  // Rooted at once: a complaint about a later argument may collect.
  lock = checked_lock(lock);
  root_push(&lock);
  int32_t o = checked_op(op, LOCK_SET_DEPTH);
  uint32_t ms = o == LOCK_WAIT ? slice_arg() : 0;
  Value depth = o == LOCK_SET_DEPTH && arg_count() > 2 ? arg(3) : NIL;
  while (o == LOCK_SET_DEPTH && (!is_fixnum(depth) || fixnum_value(depth) < 1)) depth = wrong_type(depth);
  Value result = NIL;
  bool refused = false;
  switch (o) {
    case LOCK_TRY:
    case LOCK_WAIT:
      result = acquire(&lock, ms);
      break;
    case LOCK_RELEASE:
    case LOCK_RELEASE_IF_HELD: {
      Guard g;
      if (held_by(lock, me())) {
        give_up(g, lock, false);
        result = T;
      } else {
        refused = o == LOCK_RELEASE;
      }
      break;
    }
    case LOCK_OWNER: {
      Guard g;
      Value owner = heap_word(lock, LK_OWNER);
      result = !nil_p(owner) && owner_alive(fixnum_value(owner), word_int(lock, LK_STAMP)) ? owner : NIL;
      break;
    }
    case LOCK_DEPTH: {
      Guard g;
      result = held_by(lock, me()) ? heap_word(lock, LK_DEPTH) : make_fixnum(0);
      break;
    }
    case LOCK_SET_DEPTH: {
      Guard g;
      if (held_by(lock, me()) && (fixnum_value(depth) == 1 || word_int(lock, LK_KIND) == KIND_RECURSIVE)) {
        heap_set_word(lock, LK_DEPTH, depth);
        result = depth;
      } else {
        refused = true;
      }
      break;
    }
  }
  root_pop();
  if (refused) return lisp_error(E_LOCK_NOT_HELD, lock);
  return result;
}

// 514 (class name): a new condition variable, an instance of class.
Value bi_make_condition_variable(Value cls, Value name) {
  while (!is_class(value_check(cls))) cls = wrong_type(cls);
  root_push(&cls);
  root_push(&name);
  Value cv = mem_alloc_object(CV_WORDS, HT_INSTANCE);
  root_pop(2);
  heap_set_word(cv, IW_CLASS, cls);
  heap_set_word(cv, CV_NAME, name);
  set_word_int(cv, CV_WAITERS, 0);
  set_word_int(cv, CV_WAKEUPS, 0);
  set_word_int(cv, CV_KIND, KIND_CONDITION);
  return cv;
}

// 515 (cv op [arg])
Value bi_condition_operation(Value cv, Value op) {
  check_max_args(3);
  // Rooted at once: a complaint about a later argument may collect.
  cv = checked_condition(cv);
  root_push(&cv);
  Value lock = NIL;
  root_push(&lock);
  int32_t o = checked_op(op, CV_WAITING);
  if (o == CV_ENTER) lock = checked_lock(arg_count() > 2 ? arg(3) : NIL);
  uint32_t ms = o == CV_WAIT ? slice_arg() : 0;
  Value result = NIL;
  bool refused = false;
  switch (o) {
    case CV_ENTER: {
      // Registering and giving the lock up are one step, so a notify made
      // under the lock once it is free finds this waiter registered.
      Guard g;
      if (held_by(lock, me())) {
        result = heap_word(lock, LK_DEPTH);
        set_word_int(cv, CV_WAITERS, word_int(cv, CV_WAITERS) + 1);
        give_up(g, lock, true);
      } else {
        refused = true;
      }
      break;
    }
    case CV_WAIT: {
      bool woken = false;
      attempt_with_sleep(ms, [&]() { return woken = take_wakeup(cv); });
      result = bool_value(woken);
      break;
    }
    case CV_LEAVE: {
      // A waiter that gives up (timed out, or left by a non-local exit):
      // a wake-up granted meanwhile stays for the others, as far as there
      // are others.
      Guard g;
      int32_t n = word_int(cv, CV_WAITERS) - 1;
      if (n < 0) n = 0;
      set_word_int(cv, CV_WAITERS, n);
      if (word_int(cv, CV_WAKEUPS) > n) set_word_int(cv, CV_WAKEUPS, n);
      break;
    }
    case CV_NOTIFY:
    case CV_BROADCAST: {
      Guard g;
      int32_t n = word_int(cv, CV_WAITERS), w = word_int(cv, CV_WAKEUPS);
      if (w < n) {
        set_word_int(cv, CV_WAKEUPS, o == CV_NOTIFY ? w + 1 : n);
        g.wake_all();
      }
      break;
    }
    case CV_WAITING: {
      Guard g;
      result = make_fixnum(word_int(cv, CV_WAITERS) - word_int(cv, CV_WAKEUPS));
      break;
    }
  }
  root_pop(2);
  if (refused) return lisp_error(E_LOCK_NOT_HELD, lock);
  return result;
}
