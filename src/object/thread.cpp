// The first thread's state and the stack reset shared by start-up, image
// loading and saving.
#include "object/thread.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "object/error_hook.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "threads/safepoint.h"
#include "threads/table.h"

// A thread's scratch cons lies below the cons area whatever its number.
static_assert(THREAD_RECORDS <= MAX_THREADS);

ThreadState zv_first_thread;
thread_local ThreadState* zvts = &zv_first_thread;

// Reached only by native code that goes down without checking the
// reserves (the evaluator, the reader and the printer do): the session
// goes on at its top level, where there is one.
void root_overflow() {
  zv_error(ERR_STACK_NO_ROOM);
  fatal_prepare();
  std::printf("Error: root-pointer stack overflow in thread zv%u\n", zvts->thread_number);
  std::fflush(stdout);
  _exit(1);
}

// Context records (and the environments of eval frames) are found by the
// stack index of their entry, so the tables follow the capacity of the stack.
static void size_context_table(ThreadState* ts) {
  uint32_t need = ts->stack ? uint32_t(ts->stack_top) + 2 : 0;
  if (ts->cx_cap == need) return;
  std::free(ts->cx_records);
  std::free(ts->frame_env);
  ts->cx_records = nullptr;
  ts->frame_env = nullptr;
  ts->cx_cap = 0;
  if (!need) return;
  ts->cx_records = static_cast<Context**>(std::calloc(need, sizeof(Context*)));
  ts->frame_env = static_cast<uint32_t*>(std::calloc(need, sizeof(uint32_t)));
  if (!ts->cx_records || !ts->frame_env) {
    fatal_prepare();
    std::printf("Error: no memory for the context table of thread zv%u\n", ts->thread_number);
    std::fflush(stdout);
    _exit(1);
  }
  ts->cx_cap = need;
}

void (*zv_stacks_reset_hook)() = nullptr;

void thread_reset_stacks(ThreadState* ts) {
  uint16_t top = ts->stack_top;
  ts->septr = top;
  ts->zvdinenv = ts->zvfdinenv = ts->zvunwindcxt = top;
  ts->zvdincxt = ts->zvform = ts->zvlexenv = 0;
  ts->lexframe = 0;
  ts->gltagcxt = 0;
  ts->throw_code = 0;
  ts->glvalue = NIL;
  ts->mv_base = 0;
  ts->mv_count = 1;
  ts->root_count = 0;
  ts->break_level = 0;
  ts->listener_flag = 0;
  ts->evalhook_skip = 0;
  for (uint16_t& k : ts->kwslots) k = 0;
  // The reserves start at a quarter of N (the stack holds 2N entries).
  ts->stack_reserve = top / 8;
  ts->root_reserve = ts->root_cap / 4;
  ts->eval_slot = scratch_cons_of(ts->thread_number);
  // The collector walks the scratch cons with the stacks: nothing left by
  // an earlier thread of the same number.
  if (zv_window) {
    set_car(ts->eval_slot, NIL);
    set_cdr(ts->eval_slot, NIL);
  }
  // One tag for entry 0 after every reset: a context tag, so that no walk
  // and no collector pass ever takes it for a binding or a frame.
  if (ts->stack) ts->stack[0] = StackEntry{NIL, 0x8000, 0xFFFF};
  size_context_table(ts);
  // No binding survives, and the symbol table may have another capacity.
  specials_release(ts);
  if (ts == zvts && zv_stacks_reset_hook) zv_stacks_reset_hook();
}

void world_lock_keeping(Value* a, Value* b) {
  Value none = NIL;
  root_push(a);
  root_push(b ? b : &none);
  world_lock();
  root_pop(2);
}

// ---------------------------------------------------------------------------
// Lisp threads

namespace {

struct StartCall {
  void (*body)(void*);
  void* arg;
  uint32_t number;
};

void state_free(ThreadState* ts) {
  mem_free_thread_stacks(ts);
  specials_release(ts);
  std::free(ts->cx_records);
  std::free(ts->frame_env);
  delete ts;
}

void* thread_main(void* p) {
  StartCall call = *static_cast<StartCall*>(p);
  delete static_cast<StartCall*>(p);
  ThreadRecord* r = thread_record(call.number);
  // Published before the thread was started.
  ThreadState* ts = static_cast<ThreadState*>(r->state);
  zvts = ts;
  world_set_current_member(&r->member);
  world_member_join(&r->member, ts);
  mem_post_load(0, 1);  // the stacks, not the free list
  call.body(call.arg);
  mem_return_run();
  // Nothing left for the collector to walk until the record is gone.
  ts->septr = ts->stack_top;
  ts->root_count = 0;
  ts->glvalue = NIL;
  world_member_leave(&r->member);
  world_set_current_member(nullptr);
  thread_record_release(call.number);
  state_free(ts);
  return nullptr;
}

}  // namespace

bool threads_init_first() {
  if (!thread_table_init()) return false;
  ThreadRecord* r = thread_record(0);
  thread_record_set_state(0, &zv_first_thread);
  world_member_join(&r->member, &zv_first_thread);
  world_set_current_member(&r->member);
  return true;
}

void threads_end_first() {
  WorldMember* m = world_current_member();
  if (!m) return;
  world_member_leave(m);
  world_set_current_member(nullptr);
  thread_record_set_state(0, nullptr);
}

uint32_t thread_start(void (*body)(void*), void* arg, size_t native_bytes, Value object,
                      ThreadStamp stamp, uint32_t* serial) {
  uint32_t n = thread_record_take(serial);
  if (!n) return 0;
  if (stamp) stamp(object, n, *serial);
  ThreadState* ts = new (std::nothrow) ThreadState();
  StartCall* call = new (std::nothrow) StartCall{body, arg, n};
  bool ok = ts && call;
  if (ok) {
    ts->thread_number = n;
    ts->spare = object;
    ok = mem_allocate_thread_stacks(ts);
  }
  if (ok) {
    thread_record_set_state(n, ts);
    // With a second thread, bindings become per thread: the caller's move
    // out of the symbol entries while it is still the only one.
    specials_make_deep(zvts);
    NativeThread t;
    ok = native_thread_start(&t, thread_main, call, native_bytes);
    if (ok) native_thread_detach(&t);
  }
  if (ok) return n;
  thread_record_release(n);
  if (ts) state_free(ts);
  delete call;
  return 0;
}

Value thread_object_of(uint32_t number, uint32_t serial) {
  Value v = NIL;
  thread_table_lock();
  ThreadRecord* r = thread_record(number);
  if (r && r->live && r->serial == serial && r->state) v = static_cast<ThreadState*>(r->state)->spare;
  thread_table_unlock();
  return v;
}

void thread_set_own_object(Value object) {
  thread_table_lock();
  zvts->spare = object;
  thread_table_unlock();
}
