// Stream locks, the console's locks and the holds of each thread.
#include "eval/io_locks.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>

#include "eval/eval.h"
#include "object/thread.h"
#include "threads/safepoint.h"

namespace {

// The tag that marks a stream lock as the calling thread's.
thread_local char self_tag;

enum HoldKind : uint8_t { H_STREAM, H_INPUT, H_OUTPUT, H_INTERPRETER };
struct Hold {
  StreamLock* lock;  // H_STREAM only
  uint32_t position;  // the Lisp stack pointer when it was taken
  HoldKind kind;
};
// The holds of a thread.  Reached through a plain pointer (a thread-local
// object with a destructor would cost a call on every access); the list
// goes when its thread ends.
struct HoldList {
  Hold* items = nullptr;
  uint32_t count = 0, capacity = 0;
};
thread_local HoldList* holds = nullptr;

pthread_key_t holds_key;
void free_holds(void* p) {
  HoldList* l = static_cast<HoldList*>(p);
  std::free(l->items);
  delete l;
}
HoldList* make_holds() {
  static bool keyed = pthread_key_create(&holds_key, free_holds) == 0;
  holds = new HoldList;
  if (keyed) pthread_setspecific(holds_key, holds);
  return holds;
}

[[gnu::noinline]] void grow(HoldList* l) {
  uint32_t capacity = l->capacity ? 2 * l->capacity : 64;
  Hold* items = static_cast<Hold*>(std::realloc(l->items, capacity * sizeof(Hold)));
  if (!items) {
    std::fputs("Error: no memory for the stream locks held\n", stderr);
    std::abort();
  }
  l->items = items;
  l->capacity = capacity;
}

void record(HoldKind kind, StreamLock* l) {
  HoldList* h = holds ? holds : make_holds();
  if (h->count == h->capacity) grow(h);
  h->items[h->count++] = Hold{l, zvts->septr, kind};
}

// ---------------------------------------------------------------------------
// Console locks.  The owner words change under the guard only; they are
// atomics so that the Control-C test may read them without it.  A thread
// that cannot have a lock waits on `changed` in a safe region; the waits
// are timed, so that a thread asked to stop (a collection, the end of the
// process) finds its safe point soon.

enum { L_INPUT, L_OUTPUT, L_INTERPRETER, L_KEYBOARD };
constexpr int32_t FREE = -1;
constexpr uint64_t WAIT_SLICE_MS = 50;

struct ConsoleLocks {
  NativeMutex guard;
  NativeCondition changed;
  std::atomic<int32_t> owner[4];
  int32_t last_keyboard = FREE;  // who took keys last
  ConsoleLocks() {
    native_mutex_init(&guard, false);
    native_condition_init(&changed);
    for (auto& o : owner) o.store(FREE, std::memory_order_relaxed);
  }
};
ConsoleLocks& console_locks() {
  static ConsoleLocks c;
  return c;
}

int32_t me() { return int32_t(zvts->thread_number); }

int32_t owner_of(int which) { return console_locks().owner[which].load(std::memory_order_relaxed); }
bool free_or_mine(int which) {
  int32_t o = owner_of(which);
  return o == FREE || o == me();
}
void set_owner(int which, int32_t who) {
  console_locks().owner[which].store(who, std::memory_order_relaxed);
}

// Take a console lock when `grant` (called under the guard) says so;
// otherwise wait for a change and try again.
template <typename Grant>
void console_acquire(Grant grant) {
  ConsoleLocks& c = console_locks();
  for (;;) {
    safe_point();
    native_mutex_lock(&c.guard);
    bool done = grant();
    native_mutex_unlock(&c.guard);
    if (done) return;
    SafeRegion region;
    native_mutex_lock(&c.guard);
    native_condition_wait_ms(&c.changed, &c.guard, WAIT_SLICE_MS);
    native_mutex_unlock(&c.guard);
  }
}

// One level of a console lock given up; at the last one the owner word is
// freed and the waiters told.
void console_release(int which) {
  ConsoleLocks& c = console_locks();
  uint32_t& depth = zvts->lock_depth[which];
  if (depth) depth--;
  if (depth) return;
  native_mutex_lock(&c.guard);
  if (owner_of(which) == me()) {
    set_owner(which, FREE);
    native_condition_notify_all(&c.changed);
  }
  native_mutex_unlock(&c.guard);
}

void release(const Hold& h) {
  switch (h.kind) {
    case H_STREAM:
      if (--h.lock->depth == 0) {
        h.lock->owner.store(nullptr, std::memory_order_relaxed);
        h.lock->holder.store(FREE, std::memory_order_relaxed);
        native_mutex_unlock(&h.lock->mutex);
      }
      break;
    case H_INPUT:
      console_release(L_INPUT);
      break;
    case H_OUTPUT:
      console_release(L_OUTPUT);
      break;
    case H_INTERPRETER:
      console_release(L_INTERPRETER);
      break;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Stream locks

bool stream_lock_init(StreamLock* l) {
  l->owner.store(nullptr, std::memory_order_relaxed);
  l->holder.store(FREE, std::memory_order_relaxed);
  l->depth = 0;
  return native_mutex_init(&l->mutex, false);
}

void stream_lock_destroy(StreamLock* l) { native_mutex_destroy(&l->mutex); }

StreamLock* stream_lock_shared() {
  static StreamLock* shared = [] {
    StreamLock* l = new StreamLock;
    stream_lock_init(l);
    return l;
  }();
  return shared;
}

bool stream_lock_held(const StreamLock* l) {
  return l->owner.load(std::memory_order_relaxed) == &self_tag;
}

namespace {

// The stream lock each thread waits for, by thread number (null while it
// waits for none).  Stream locks are never destroyed, so following these
// is always safe, though what it finds may be out of date by the time it
// looks.
std::atomic<StreamLock*> stream_waits[MAX_THREADS];

// Whether the wait of the calling thread for l closes a circle of waits:
// l's holder waits for a lock whose holder waits ... for a lock this
// thread holds.  Only the highest-numbered thread of the circle answers
// yes, so one thread of a deadlock gives way and the others go on.
bool closes_circle(const StreamLock* l) {
  int32_t self = me(), highest = self;
  for (uint32_t steps = 0; steps < MAX_THREADS; steps++) {
    int32_t h = l->holder.load(std::memory_order_relaxed);
    if (h == self) return highest == self;
    if (h < 0 || uint32_t(h) >= MAX_THREADS) return false;
    if (h > highest) highest = h;
    l = stream_waits[h].load(std::memory_order_relaxed);
    if (!l) return false;
  }
  return false;
}

// Waits for a lock another thread holds, in slices.  A circle is believed
// only when it is still there a slice later: the waits and holders read
// while they change could show one that never was.
bool wait_for_stream_lock(StreamLock* l) {
  constexpr uint64_t SLICE_MS = 50;
  std::atomic<StreamLock*>& mine = stream_waits[me()];
  mine.store(l, std::memory_order_relaxed);
  bool taken = false;
  for (uint32_t circles = 0; circles < 2;) {
    {
      SafeRegion region;
      taken = native_mutex_lock_ms(&l->mutex, SLICE_MS);
    }
    if (taken) break;
    circles = closes_circle(l) ? circles + 1 : 0;
    // Only a thread with Lisp stacks runs interrupts: a native thread
    // that locks streams (a device's, a test's) leaves them to the others.
    if (zvts->root_cap && zvts->stack) {
      mine.store(nullptr, std::memory_order_relaxed);
      interrupt_poll();
      mine.store(l, std::memory_order_relaxed);
    }
  }
  mine.store(nullptr, std::memory_order_relaxed);
  return taken;
}

}  // namespace

bool hold_stream_lock(StreamLock* l) {
  if (stream_lock_held(l)) {
    l->depth++;
  } else {
    if (!native_mutex_try_lock(&l->mutex) && !wait_for_stream_lock(l)) return false;
    l->owner.store(&self_tag, std::memory_order_relaxed);
    l->holder.store(me(), std::memory_order_relaxed);
    l->depth = 1;
  }
  record(H_STREAM, l);
  return true;
}

// ---------------------------------------------------------------------------
// Console locks.  A thread already holding the input or output lock always
// gets another level: refusing it because another thread has meanwhile
// entered a break loop would leave both waiting for each other.  Giving
// up the input lock at its last level frees it even when the thread owns
// the interpreter lock (a break loop entered during a read would otherwise
// keep the input for good).

void hold_console_input() {
  uint32_t& depth = zvts->lock_depth[L_INPUT];
  console_acquire([&] {
    int32_t interp = owner_of(L_INTERPRETER);
    if (depth || interp == me()) {
      depth++;
      return true;
    }
    if (interp != FREE || !free_or_mine(L_INPUT)) return false;
    set_owner(L_INPUT, me());
    depth++;
    return true;
  });
  record(H_INPUT, nullptr);
}

void hold_console_output() {
  uint32_t& depth = zvts->lock_depth[L_OUTPUT];
  console_acquire([&] {
    if (!depth && (!free_or_mine(L_INTERPRETER) || !free_or_mine(L_OUTPUT))) return false;
    set_owner(L_OUTPUT, me());
    depth++;
    return true;
  });
  record(H_OUTPUT, nullptr);
}

void hold_interpreter() {
  console_acquire([&] {
    if (!free_or_mine(L_INTERPRETER)) return false;
    set_owner(L_INTERPRETER, me());
    zvts->lock_depth[L_INTERPRETER]++;
    return true;
  });
  record(H_INTERPRETER, nullptr);
}

bool console_keyboard_try(bool* handed_over) {
  ConsoleLocks& c = console_locks();
  native_mutex_lock(&c.guard);
  int32_t interp = owner_of(L_INTERPRETER);
  bool ok = free_or_mine(L_KEYBOARD) && (interp == FREE ? free_or_mine(L_INPUT) : interp == me());
  if (ok) {
    set_owner(L_KEYBOARD, me());
    if (handed_over) *handed_over = c.last_keyboard != FREE && c.last_keyboard != me();
    c.last_keyboard = me();
  }
  native_mutex_unlock(&c.guard);
  return ok;
}

void console_keyboard_release() {
  ConsoleLocks& c = console_locks();
  native_mutex_lock(&c.guard);
  if (owner_of(L_KEYBOARD) == me()) set_owner(L_KEYBOARD, FREE);
  native_mutex_unlock(&c.guard);
}

bool console_takes_keyboard_interrupt() {
  int32_t o = owner_of(L_INTERPRETER);
  if (o == FREE) o = owner_of(L_INPUT);
  if (o == FREE) o = 0;
  return o == me();
}

int32_t console_lock_owner(int which) { return owner_of(which); }

// ---------------------------------------------------------------------------
// Holds

uint32_t io_holds_mark() { return holds ? holds->count : 0; }

void io_holds_release(uint32_t mark) {
  HoldList* h = holds;
  while (h && h->count > mark) release(h->items[--h->count]);
}

void io_holds_forget() { io_holds_release(0); }

void io_locks_release_to(uint32_t target) {
  HoldList* h = holds;
  while (h && h->count && h->items[h->count - 1].position <= target)
    release(h->items[--h->count]);
}
