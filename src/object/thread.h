// Thread state, the Lisp stack and the root-pointer stack.
//
// Every Lisp thread owns one ThreadState reached through `zvts`.  The Lisp
// stack grows toward index 0; chains through it are 16-bit indices kept in
// the entries themselves.  The root-pointer stack lists native variables
// that hold Values across an allocation, so the collector can see and
// update them.
#pragma once

#include <cstdint>

#include "object/value.h"

struct Context;  // eval/context.h: the evaluator's context records

struct StackEntry {
  Value arg;      // a Value, or for a context the context record's number
  uint16_t tag;   // see the TAG_ constants below
  uint16_t link;  // next entry of the chain this entry is on
};
static_assert(sizeof(StackEntry) == 8);

// Entry tags.
constexpr uint16_t ST_ANON = 0x0000;
constexpr uint16_t ST_ARG = 0x0022;      // positional argument
constexpr uint16_t ST_CONTEXT = 0x8000;  // 0x8000 set, 0x4000 clear
constexpr uint16_t ST_FUNCALL_FRAME = 0xC000;
constexpr uint16_t ST_EVAL_FRAME = 0xD000;
constexpr uint16_t ST_CALL_FRAME = 0xE000;
constexpr uint16_t ST_CLOSURE_ENV = 0xF000;

inline bool is_context_tag(uint16_t tag) { return (tag & 0xC000) == 0x8000; }
// Frames: 0xC000, 0xD000, 0xE000 with mark bits in the low byte; 0xF000
// is a lexical-environment entry, not a frame.
inline bool is_frame_tag(uint16_t tag) { return tag >= 0xC000 && tag < 0xF000; }
inline bool is_eval_frame_tag(uint16_t tag) { return (tag & 0xF000) == ST_EVAL_FRAME; }

constexpr uint32_t KEYWORD_SLOTS = 34;

// Each state has cache lines of its own: the fields a thread writes all the
// time (stack indices, its run of free cells) must not share a line with
// another thread's state or with words every thread reads.
struct alignas(64) ThreadState {
  StackEntry* stack = nullptr;  // 2N + 2 entries
  uint16_t kwslots[KEYWORD_SLOTS] = {};
  uint16_t stack_top = 0;  // capacity 2N
  uint16_t septr = 0;
  uint16_t zvdinenv = 0;
  uint16_t zvfdinenv = 0;
  uint16_t zvdincxt = 0;
  uint16_t zvunwindcxt = 0;
  uint16_t gltagcxt = 0;
  uint16_t throw_code = 0;
  uint16_t zvform = 0;
  uint16_t zvlexenv = 0;
  uint32_t lock_depth[3] = {};

  // Root-pointer stack: root_base[0..root_count) are live slots.
  Value** root_base = nullptr;
  uint32_t root_count = 0;
  uint32_t root_cap = 0;

  Value eval_slot = 0;  // window offset of this thread's scratch cons
  Value glvalue = NIL;
  uint16_t mv_base = 0;
  uint16_t mv_count = 1;
  uint16_t break_level = 0;
  uint16_t error_flag = 1;
  uint16_t listener_flag = 0;
  uint16_t current_builtin = 0;  // number of the built-in being called
  Value spare = NIL;             // spare value word: the thread's Lisp object, once made
  uint32_t thread_number = 0;

  // Stack reserves (entries / free root slots), see the evaluator.
  uint32_t stack_reserve = 0;
  uint32_t root_reserve = 0;
  // Where the reader and the printer stop going down when their guard
  // started short of room (eval/stack.h: check_descent), 0 for the usual
  // limits: the stack entry, free root slots and native address.
  uint32_t descent_septr = 0;
  uint32_t descent_roots = 0;
  uintptr_t descent_native = 0;

  // One above the oldest entry of the current lexical environment: the
  // frame of the function whose bindings zvlexenv reaches, 0 when the
  // environment is empty.  A cached lexical reference is trusted only
  // inside [zvlexenv, lexframe), so a stale distance can never reach a
  // caller's binding of the same symbol.
  uint16_t lexframe = 0;
  // Set by EVALHOOK and the stepper: the next evaluation skips the hook.
  uint16_t evalhook_skip = 0;

  // Context records of the live contexts, indexed by the stack index of
  // their entry (the entry's argument holds that index: records live in
  // native frames and their addresses do not fit a 32-bit word).
  Context** cx_records = nullptr;
  uint32_t cx_cap = 0;
  // The lexical environment each eval frame began in (zvlexenv in the low
  // half, lexframe in the high), indexed like cx_records: the debugger
  // evaluates forms in a frame's environment, which no stack entry keeps.
  uint32_t* frame_env = nullptr;
  // This thread's dynamic bindings of special variables, indexed by symbol
  // index: NO_BINDING (object/symbols.h) where it has none, so the symbol's
  // global value shows.  Allocated on the first binding, specials_cap slots.
  Value* specials = nullptr;
  uint32_t specials_cap = 0;

  // Lowest native stack address the evaluator may reach before it reports
  // a stack overflow instead of crashing; 0 until known.
  uintptr_t native_floor = 0;

  // This thread's run of free cons cells (object/memory.cpp): run_count
  // cells chained through their cdrs from run_head, taken from the free
  // list under the global lock and handed out without it.  Every
  // collection empties it.
  Value run_head = NIL;
  uint32_t run_count = 0;
};

extern thread_local ThreadState* zvts;
extern ThreadState zv_first_thread;

// Fatal root-stack overflow; kept out of line.
[[noreturn]] void root_overflow();

// Register a native variable as a root.  Pops are strictly last in,
// first out; a non-local exit restores root_count from its context.
inline void root_push(Value* p) {
  ThreadState* ts = zvts;
  if (ts->root_count >= ts->root_cap) root_overflow();
  ts->root_base[ts->root_count++] = p;
}
inline void root_pop(uint32_t n = 1) { zvts->root_count -= n; }

// Takes the global lock (threads/safepoint.h) where the caller goes on
// with Values it has not rooted: waiting for the lock may pass a safe
// point, where a collection moves objects; a and b are kept up to date
// meanwhile.  Once the lock is held nothing moves until it is given up.
void world_lock_keeping(Value* a, Value* b = nullptr);

// Reset the thread's stacks to empty (image load, save, start-up).  For
// the calling thread's own stacks it also calls zv_stacks_reset_hook: the
// stream and console locks it held were recorded against positions of the
// old stacks, and go with them.
void thread_reset_stacks(ThreadState* ts);
extern void (*zv_stacks_reset_hook)();

// ---------------------------------------------------------------------------
// Lisp threads
//
// Each Lisp thread has a record of the thread table (threads/table.h) whose
// state is its ThreadState, and a place in the world.  The collector walks
// the roots of every live record's state but its own while the world is
// stopped: a new thread's state is complete before it is published in the
// record, and a thread that ends leaves the world before it drops it.

// The first thread: the table rebuilt with zv_first_thread as record 0,
// a member of the world from the calling thread.  False when the system
// refused what the table needs.
bool threads_init_first();
// The first thread leaves the world (the end of the process).
void threads_end_first();

// Starts a Lisp thread running body(arg) on a native stack of
// native_bytes, with a fresh ThreadState (stacks sized like the first
// thread's) whose spare word holds `object` (the caller keeps it rooted
// until the call returns).  stamp (when given) writes the number and serial
// into the object before the thread can see it; it must not allocate.  The
// body runs as a member of the world, with zvts and the thread number set
// and its stacks reset.  Returns the thread number and its serial in
// *serial; 0 when THREAD_LIMIT threads are alive or the system refused the
// memory or the thread (nothing is left behind).
using ThreadStamp = void (*)(Value object, uint32_t number, uint32_t serial);
uint32_t thread_start(void (*body)(void*), void* arg, size_t native_bytes, Value object,
                      ThreadStamp stamp, uint32_t* serial);
inline uint32_t thread_start(void (*body)(void*), void* arg, size_t native_bytes, Value object,
                             uint32_t* serial) {
  return thread_start(body, arg, native_bytes, object, nullptr, serial);
}

// The Lisp object of the live thread with that number and serial (its
// spare word), NIL when that thread has ended.
Value thread_object_of(uint32_t number, uint32_t serial);
// Sets the calling thread's object.
void thread_set_own_object(Value object);
