// Lisp threads: the body of a started thread, its object, interrupts, and
// the built-ins of threads (414, 507-511, 516, 517).
//
// A thread's object is a structure instance of the library's THREAD class
// whose words the kernel keeps: 1 name, 2 serial, 3 number, 4 state
// (0 running, 1 finished, 2 aborted), 5 result (until the thread takes it,
// the function and its arguments; then the list of the function's values,
// or the condition that ended the thread), 6 interrupts (functions queued
// for the thread, newest first; T asks it to end), 7 kind (3).  The object
// lives in its thread's spare word while the thread runs, so the collector
// keeps it; whoever holds it afterwards reads how the thread ended.
//
// State, result and interrupts change while other threads read them:
// those words are read and written under words_mutex, which is held for a
// few word accesses only (no allocation, Lisp code or safe point).
#include "eval/lisp_thread.h"

#include <atomic>
#include <cfenv>
#include <cstring>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/stack.h"
#include "object/memory.h"
#include "object/thread.h"
#include "threads/native.h"
#include "threads/safepoint.h"
#include "threads/table.h"

bool (*zv_thread_breaks_at_console)() = nullptr;

namespace {

enum : uint32_t { TW_NAME = 1, TW_SERIAL, TW_NUMBER, TW_STATE, TW_RESULT, TW_INTERRUPTS, TW_KIND, TW_WORDS };
constexpr int32_t KIND_THREAD = 3;
enum : int32_t { STATE_RUNNING = 0, STATE_FINISHED = 1, STATE_ABORTED = 2 };

// Fields of 508.
enum : int32_t {
  INFO_NAME = 0,
  INFO_ALIVE = 1,
  INFO_STATE = 2,
  INFO_NUMBER = 3,
  INFO_RESULT = 4,
  INFO_MAY_BREAK = 5,  // an error with no handler may break at the console
  INFO_RECORD = 6,     // (own thread, condition): the error that ends it
};

// The kernel's longest single wait in a join, so that the joiner answers
// interrupts in between.
constexpr uint64_t JOIN_SLICE_MS = 100;

constexpr uint32_t E_NEWTHREAD = 0x201F;  // 8223: "NEWTHREAD", the reason

NativeMutex words_mutex{PTHREAD_MUTEX_INITIALIZER};

// Queued interrupts of all threads not yet taken: while there are any,
// PENDING_THREAD stays up so that every poll looks at its own queue.
std::atomic<int32_t> queued{0};
std::atomic<bool> shutting_down{false};
std::atomic<bool> exit_asked{false};

bool is_thread(Value v) {
  if (tag_of(value_check(v)) != TAG_OBJECT || heap_type(v) != HT_INSTANCE) return false;
  if (object_value_words_at(heap_addr(v)) != TW_WORDS) return false;
  return heap_word(v, TW_KIND) == make_fixnum(KIND_THREAD);
}

Value checked_thread(Value v) {
  while (!is_thread(v)) v = wrong_type(v);
  return v;
}

Value locked_word(Value t, uint32_t i) {
  native_mutex_lock(&words_mutex);
  Value v = heap_word(t, i);
  native_mutex_unlock(&words_mutex);
  return v;
}

void set_locked_word(Value t, uint32_t i, Value v) {
  native_mutex_lock(&words_mutex);
  heap_set_word(t, i, v);
  native_mutex_unlock(&words_mutex);
}

// n interrupts taken, or dropped with their thread.
void unqueue(int32_t n) {
  if (n == 0 || queued.fetch_sub(n) != n) return;
  interrupt_take(PENDING_THREAD);
  // One queued meanwhile raised the bit before it was lowered here.
  if (queued.load() > 0 || shutting_down.load() || exit_asked.load()) interrupt_request(PENDING_THREAD);
}

// The end of a thread as its object says: state and result together.
// Interrupts still queued go with it; none is queued afterwards.
void record_end(Value t, int32_t state, Value result) {
  native_mutex_lock(&words_mutex);
  heap_set_word(t, TW_STATE, make_fixnum(state));
  heap_set_word(t, TW_RESULT, result);
  int32_t dropped = 0;
  for (Value l = heap_word(t, TW_INTERRUPTS); cons_p(l); l = cdr(l)) dropped++;
  heap_set_word(t, TW_INTERRUPTS, NIL);
  native_mutex_unlock(&words_mutex);
  unqueue(dropped);
}

bool alive(Value t) {
  uint32_t serial = uint32_t(fixnum_value(heap_word(t, TW_SERIAL)));
  return thread_number_of_serial(serial) < THREAD_RECORDS;
}

// A new object of class cls for a thread with this serial and number.
// The class and name are read from their roots after the allocation.
Value make_object(Value* cls, Value* name, uint32_t serial, uint32_t number) {
  Value t = mem_alloc_object(TW_WORDS, HT_INSTANCE);
  heap_set_word(t, 0, *cls);
  heap_set_word(t, TW_NAME, *name);
  heap_set_word(t, TW_SERIAL, make_fixnum(int32_t(serial)));
  heap_set_word(t, TW_NUMBER, make_fixnum(int32_t(number)));
  heap_set_word(t, TW_STATE, make_fixnum(STATE_RUNNING));
  heap_set_word(t, TW_RESULT, NIL);
  heap_set_word(t, TW_INTERRUPTS, NIL);
  heap_set_word(t, TW_KIND, make_fixnum(KIND_THREAD));
  return t;
}

// The body of every started thread: a listener context, the call, and
// what it came to in the object.
void thread_body(void*) {
  native_stack_note_current();
  ThreadState* ts = zvts;
  Context cx;
  context_push(&cx, CX_LISTENER | CX_BLOCKLIKE);
  int code = setjmp(cx.resume);
  if (code == 0) {
    Value start = locked_word(ts->spare, TW_RESULT);
    set_locked_word(ts->spare, TW_RESULT, NIL);
    push_frame(car(start), ST_CALL_FRAME);
    spread_list(cdr(start));
    Value v = call_frame();
    pop_frame();
    Value values = values_list(v);
    record_end(ts->spare, STATE_FINISHED, values);
  } else {
    if (code == TC_LISTENER) std::feclearexcept(FE_ALL_EXCEPT);
    // A recorded error stays the result; anything else ended it with none.
    Value t = ts->spare;
    record_end(t, STATE_ABORTED, locked_word(t, TW_STATE) == make_fixnum(STATE_ABORTED)
                                   ? locked_word(t, TW_RESULT)
                                   : NIL);
  }
  ts->root_count = cx.root_count;
  context_pop(&cx);
}

size_t thread_stack_bytes() { return native_stack_bytes(zv_first_thread.stack_top); }

// The calling thread's object; the first thread's is made on first use.
Value own_object(Value cls, Value name) {
  ThreadState* ts = zvts;
  if (!nil_p(ts->spare)) return ts->spare;
  root_push(&cls);
  root_push(&name);
  Value t = make_object(&cls, &name, thread_record(ts->thread_number)->serial, ts->thread_number);
  root_pop(2);
  thread_set_own_object(t);
  return t;
}

// Written into a new thread's object before the thread can run.
void stamp(Value t, uint32_t number, uint32_t serial) {
  heap_set_word(t, TW_SERIAL, make_fixnum(int32_t(serial)));
  heap_set_word(t, TW_NUMBER, make_fixnum(int32_t(number)));
}

void ask_every_poll() {
  queued.fetch_add(1);
  interrupt_request(PENDING_THREAD);
}

// Queue fn (T: end the thread) for the thread t; false when it has
// ended.
bool queue_interrupt(Value* t, Value* fn) {
  Value cell = cons(*fn, NIL);
  native_mutex_lock(&words_mutex);
  bool live = heap_word(*t, TW_STATE) == make_fixnum(STATE_RUNNING) && alive(*t);
  if (live) {
    set_cdr(cell, heap_word(*t, TW_INTERRUPTS));
    heap_set_word(*t, TW_INTERRUPTS, cell);
  }
  native_mutex_unlock(&words_mutex);
  if (live) ask_every_poll();
  return live;
}

// Leave the calling thread's outermost listener: the thread ends.
[[noreturn]] void end_thread() {
  zvts->mv_count = 0;
  throw_to(TC_LISTENER, find_outermost_context(CX_LISTENER));
}

}  // namespace

void thread_interrupts_run() {
  ThreadState* ts = zvts;
  if (ts->thread_number == 0) {
    // EXIT in another thread: the first thread ends the process.
    if (exit_asked.exchange(false)) zv_builtins[BI_EXIT].fn(NIL, NIL);
  } else if (shutting_down.load()) {
    end_thread();
  }
  if (nil_p(ts->spare)) return;
  native_mutex_lock(&words_mutex);
  Value list = heap_word(ts->spare, TW_INTERRUPTS);
  heap_set_word(ts->spare, TW_INTERRUPTS, NIL);
  native_mutex_unlock(&words_mutex);
  if (nil_p(list)) return;
  int32_t n = 0;
  Value oldest_first = NIL;
  while (cons_p(list)) {  // the cells are the queue's own: turned around in place
    Value next = cdr(list);
    set_cdr(list, oldest_first);
    oldest_first = list;
    list = next;
    n++;
  }
  unqueue(n);
  root_push(&oldest_first);
  for (; cons_p(oldest_first); oldest_first = cdr(oldest_first)) {
    Value fn = car(oldest_first);
    if (fn == T) end_thread();
    call_function0(fn);
  }
  root_pop();
}

bool thread_interrupts_queued() {
  ThreadState* ts = zvts;
  if (!(interrupt_pending_bits() & PENDING_THREAD)) return false;
  if (ts->thread_number == 0 ? exit_asked.load() : shutting_down.load()) return true;
  if (nil_p(ts->spare)) return false;
  return !nil_p(locked_word(ts->spare, TW_INTERRUPTS));
}

Value thread_own_name() {
  ThreadState* ts = zvts;
  if (ts->thread_number == 0 || nil_p(ts->spare)) return NIL;
  return heap_word(ts->spare, TW_NAME);
}

void thread_refuse_break(Value condition) {
  if (zv_thread_breaks_at_console && zv_thread_breaks_at_console()) return;
  Value t = zvts->spare;
  if (!nil_p(t)) record_end(t, STATE_ABORTED, condition);
  end_thread();
}

void threads_shutdown(uint32_t wait_ms) {
  if (thread_active_count() <= 1) return;
  shutting_down.store(true);
  interrupt_request(PENDING_THREAD);
  safe_region_enter();
  for (uint32_t waited = 0; waited < wait_ms && !thread_wait_active_at_most(1, 20); waited += 20) {
  }
  safe_region_leave();
}

bool thread_exit_requested() {
  if (zvts->thread_number == 0) return false;
  exit_asked.store(true);
  interrupt_request(PENDING_THREAD);
  return true;
}

// ---------------------------------------------------------------------------
// Built-ins

// 414 (class name function &rest args): a new thread calling function
// with args; its object.  Error 8223 "NEWTHREAD" when THREAD_LIMIT threads
// are alive or the system refuses the thread.
Value bi_start_thread(Value, Value) {
  uint32_t n = arg_count();
  if (n < 3) return lisp_error(E_FEW_ARGS_CALL, make_fixnum(int32_t(n)));
  ThreadState* ts = zvts;
  Value cls = arg(1), name = arg(2);
  while (tag_of(value_check(cls)) != TAG_OBJECT || heap_type(cls) != HT_CLASS) cls = wrong_type(cls);
  root_push(&cls);
  root_push(&name);
  Value start = args_to_list(ts->septr, arg_index(2));
  root_push(&start);
  Value t = make_object(&cls, &name, 0, 0);
  heap_set_word(t, TW_RESULT, start);
  root_push(&t);
  uint32_t serial = 0;
  uint32_t number = thread_start(thread_body, nullptr, thread_stack_bytes(), t, stamp, &serial);
  Value result = t;
  root_pop(4);
  if (!number) {
    const char* why = thread_active_count() >= THREAD_LIMIT ? "too many threads" : "the system refused a thread";
    Value what = mem_make_string("NEWTHREAD", 9);
    root_push(&what);
    Value text = mem_make_string(why, uint32_t(std::strlen(why)));
    root_pop();
    return lisp_error(E_NEWTHREAD, what, text);
  }
  return result;
}

// 507 (thread): waits for the thread to end, in slices between which the
// caller answers its interrupts; the state it ended in.
Value bi_join_thread(Value t, Value) {
  t = checked_thread(t);
  root_push(&t);
  uint32_t serial = uint32_t(fixnum_value(heap_word(t, TW_SERIAL)));
  for (;;) {
    safe_region_enter();
    bool ended = thread_wait_serial_ended(serial, JOIN_SLICE_MS);
    safe_region_leave();
    if (ended) break;
    interrupt_poll();
  }
  root_pop();
  return locked_word(t, TW_STATE);
}

// 508 (thread field &optional value)
Value bi_thread_info(Value t, Value field) {
  check_max_args(3);
  t = checked_thread(t);
  root_push(&t);
  while (!is_fixnum(field) || fixnum_value(field) < INFO_NAME || fixnum_value(field) > INFO_RECORD)
    field = wrong_type(field);
  root_pop();
  switch (fixnum_value(field)) {
    case INFO_NAME:
      return heap_word(t, TW_NAME);
    case INFO_ALIVE:
      return bool_value(alive(t));
    case INFO_STATE:
      return locked_word(t, TW_STATE);
    case INFO_NUMBER:
      return alive(t) ? heap_word(t, TW_NUMBER) : NIL;
    case INFO_RESULT:
      return locked_word(t, TW_RESULT);
    case INFO_MAY_BREAK:
      return bool_value(heap_word(t, TW_NUMBER) == make_fixnum(0) ||
                        (zv_thread_breaks_at_console && zv_thread_breaks_at_console()));
    default:
      // Only the calling thread records the error that ends it.
      if (t != zvts->spare) return NIL;
      set_locked_word(t, TW_STATE, make_fixnum(STATE_ABORTED));
      set_locked_word(t, TW_RESULT, arg_count() > 2 ? arg(3) : NIL);
      return T;
  }
}

// 509 (class name): the calling thread's object (the first thread's is
// made with this class and name on the first call).
Value bi_current_thread(Value cls, Value name) {
  while (tag_of(value_check(cls)) != TAG_OBJECT || heap_type(cls) != HT_CLASS) cls = wrong_type(cls);
  return own_object(cls, name);
}

// 510 (): the objects of the live threads, the first thread first (when it
// has one).
Value bi_all_threads(Value, Value) {
  struct Live {
    uint32_t count = 0;
    uint32_t number[THREAD_RECORDS];
    uint32_t serial[THREAD_RECORDS];
  };
  static thread_local Live live;
  live.count = 0;
  thread_for_each_live(
      [](uint32_t n, void*) {
        live.number[live.count] = n;
        live.serial[live.count++] = thread_record(n)->serial;
      },
      nullptr);
  Value list = NIL;
  root_push(&list);
  for (uint32_t i = live.count; i-- > 0;) {
    // Read each object afresh: the allocation before may have moved it.
    Value t = thread_object_of(live.number[i], live.serial[i]);
    if (!nil_p(t)) list = cons(t, list);
  }
  root_pop();
  return list;
}

// 511 (): a safe point and a yield of the processor.
Value bi_thread_yield(Value, Value) {
  interrupt_poll();
  safe_point();
  native_thread_yield();
  return NIL;
}

// 516 (thread function): function is called by the thread at its next
// poll; NIL when the thread has ended.
Value bi_interrupt_thread(Value t, Value fn) {
  t = checked_thread(t);
  root_push(&t);
  root_push(&fn);
  bool live = queue_interrupt(&t, &fn);
  root_pop(2);
  return bool_value(live);
}

// 517 (thread): the thread ends at its next poll, leaving by its listener
// (cleanup forms run); NIL when it has ended already.
Value bi_destroy_thread(Value t, Value) {
  t = checked_thread(t);
  root_push(&t);
  Value end = T;
  bool live = queue_interrupt(&t, &end);
  root_pop();
  return bool_value(live);
}
