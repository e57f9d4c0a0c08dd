// Contexts, the throw primitive and cleanup contexts.
#include "eval/context.h"

#include <unistd.h>

#include <cstdio>

#include "eval/errors.h"
#include "eval/stack.h"
#include "eval/io_locks.h"
#include "object/error_hook.h"
#include "threads/safepoint.h"

void context_push(Context* cx, uint16_t flags) {
  ThreadState* ts = zvts;
  bool cleanup = flags & CX_CLEANUP;
  uint16_t& chain = cleanup ? ts->zvunwindcxt : ts->zvdincxt;
  uint16_t i = push_entry(0, static_cast<uint16_t>(0x8000 | flags), chain);
  ts->stack[i].arg = i;  // the record's number, for the dumps
  chain = i;
  ts->cx_records[i] = cx;
  cx->index = i;
  cx->zvform = ts->zvform;
  cx->zvlexenv = ts->zvlexenv;
  cx->lexframe = ts->lexframe;
  for (int k = 0; k < 3; k++) cx->lock_depth[k] = ts->lock_depth[k];
  cx->root_count = ts->root_count;
  cx->break_level = ts->break_level;
  cx->listener_flag = ts->listener_flag;
  cx->native_floor = ts->native_floor;
  if (flags & CX_DESCENT) {
    cx->outer_descent_septr = ts->descent_septr;
    cx->outer_descent_roots = ts->descent_roots;
    cx->outer_descent_native = ts->descent_native;
    descent_limits_set();
  }
}

void context_pop(Context* cx) {
  ThreadState* ts = zvts;
  uint16_t i = cx->index;
  if (ts->zvdincxt == i) ts->zvdincxt = ts->stack[i].link;
  if (ts->stack[i].tag & CX_DESCENT) {
    ts->descent_septr = cx->outer_descent_septr;
    ts->descent_roots = cx->outer_descent_roots;
    ts->descent_native = cx->outer_descent_native;
  }
  ts->cx_records[i] = nullptr;
  ts->septr = static_cast<uint16_t>(i + 1);
}

uint16_t find_context(uint16_t mask) {
  ThreadState* ts = zvts;
  for (uint16_t i = ts->zvdincxt; i; i = stack_entry(i).link)
    if (ts->stack[i].tag & mask) return i;
  return 0;
}

uint16_t find_outermost_context(uint16_t mask) {
  ThreadState* ts = zvts;
  uint16_t found = 0;
  for (uint16_t i = ts->zvdincxt; i; i = stack_entry(i).link)
    if (ts->stack[i].tag & mask) found = i;
  return found;
}

[[noreturn]] void throw_to(uint16_t code, uint16_t target) {
  ThreadState* ts = zvts;
  uint16_t dest = target;
  if (target < ts->zvunwindcxt) {
    ts->zvdincxt = target;
  } else {
    // A cleanup context lies between: it runs first and then continues
    // this throw from the recorded target and code.
    while (ts->zvdincxt && ts->zvdincxt < ts->zvunwindcxt)
      ts->zvdincxt = stack_entry(ts->zvdincxt).link;
    ts->gltagcxt = target;
    ts->throw_code = code;
    dest = ts->zvunwindcxt;
    code = TC_CLEANUP;
  }
  Context* cx = ts->cx_records[stack_check(dest)];
  if (!cx) stack_index_fault(dest);  // a context entry without a live record
  thread_release_locks_to(cx->lock_depth);
  io_locks_release_to(dest);
  for (int k = 0; k < 3; k++) ts->lock_depth[k] = cx->lock_depth[k];
  ts->zvform = cx->zvform;
  ts->zvlexenv = cx->zvlexenv;
  ts->lexframe = cx->lexframe;
  ts->root_count = cx->root_count;
  ts->break_level = cx->break_level;
  ts->listener_flag = cx->listener_flag;
  ts->native_floor = cx->native_floor;
  ts->septr = dest;
  unbind_functions_to(dest);
  unbind_to(dest);
  std::longjmp(cx->resume, code);
}

[[noreturn]] void throw_to_listener() {
  ThreadState* ts = zvts;
  uint16_t l = find_context(CX_LISTENER);
  ts->mv_count = 0;
  ts->glvalue = NIL;
  if (!l) {
    // No top level to go back to (a thread or a test without one).
    fatal_prepare();
    std::fflush(stdout);
    _exit(1);
  }
  throw_to(TC_LISTENER, l);
}

void return_to_error_context(uint32_t index) {
  ThreadState* ts = zvts;
  for (uint16_t i = ts->zvdincxt; i; i = stack_entry(i).link) {
    uint16_t flags = ts->stack[i].tag;
    if (flags & (CX_LISTENER | CX_DEBUGGER)) return;
    if (!(flags & CX_ERRCATCH)) continue;
    ts->mv_count = static_cast<uint16_t>(index - ts->septr);
    ts->mv_base = static_cast<uint16_t>(index);
    ts->glvalue = index > ts->septr ? stack_entry(index - 1).arg : NIL;
    throw_to((flags & CX_RESTART) ? TC_RESTART : TC_ERROR, i);
  }
}

// ---------------------------------------------------------------------------
// Cleanup contexts

namespace {

// Copy the current values to the stack just after the context.  The
// values lie below the context already, at or below where they are copied
// to, so copying first to last never overwrites one not yet read.
void save_values(uint16_t cx) {
  ThreadState* ts = zvts;
  Value first = ts->glvalue;
  uint32_t n = ts->mv_count;
  if (n == 1) {
    push_arg(first);
  } else {
    uint16_t base = ts->mv_base;
    for (uint32_t k = 0; k < n; k++) push_arg(ts->stack[base - 1 - k].arg);
  }
  (void)cx;
}

void restore_values(uint16_t cx) {
  ThreadState* ts = zvts;
  ts->mv_count = static_cast<uint16_t>(cx - ts->septr);
  ts->mv_base = cx;
  ts->glvalue = ts->mv_count ? ts->stack[cx - 1].arg : NIL;
}

// The context leaves zvunwindcxt for zvdincxt while its cleanup runs, so
// a throw from the cleanup replaces the pending one instead of running the
// cleanup again.
void move_to_dincxt(uint16_t cx) {
  ThreadState* ts = zvts;
  ts->zvunwindcxt = ts->stack[cx].link;
  ts->stack[cx].link = ts->zvdincxt;
  ts->zvdincxt = cx;
}

}  // namespace

uint16_t establish_cleanup(CleanupBody body, CleanupFn cleanup, uint16_t kind, void* data) {
  Context cx;
  context_push(&cx, static_cast<uint16_t>(CX_CLEANUP | kind));
  int code = setjmp(cx.resume);
  ThreadState* ts = zvts;
  uint16_t i = cx.index;
  if (code == 0) {
    ts->glvalue = body(data);
    save_values(i);
    move_to_dincxt(i);
    cleanup(0, data);
    restore_values(i);
  } else if (code == TC_CLEANUP) {
    uint16_t target = ts->gltagcxt;
    uint16_t pending = ts->throw_code;
    save_values(i);
    move_to_dincxt(i);
    if (!(target == i && pending == TC_RESTART)) cleanup(1, data);
    restore_values(i);
    // The throw goes on; a restart aimed here comes back with 0x40.
    throw_to(pending, target);
  }
  // Normal completion, or a restart aimed at this context.
  uint32_t n = ts->mv_count;
  uint16_t base = ts->mv_base;
  Value first = ts->glvalue;
  context_pop(&cx);
  ts->mv_count = static_cast<uint16_t>(n);
  ts->mv_base = base;
  ts->glvalue = first;
  return static_cast<uint16_t>(code);
}

void end_of_file(Value stream, bool error_p) {
  ThreadState* ts = zvts;
  if (!error_p) {
    for (uint16_t i = ts->zvdincxt; i; i = stack_entry(i).link) {
      if ((ts->stack[i].tag & CX_EOF) && stack_entry(i - 1).arg == stream) {
        ts->mv_count = 0;
        ts->glvalue = NIL;
        throw_to(TC_EOF, i);
      }
    }
  }
  lisp_error(E_EOF, stream);
}

// ---------------------------------------------------------------------------
// Descent guards

bool run_descent_guarded(void (*body)(void* data), void* data) {
  Context cx;
  context_push(&cx, CX_DESCENT);
  if (setjmp(cx.resume) == 0) {
    body(data);
    context_pop(&cx);
    return true;
  }
  context_pop(&cx);
  return false;
}

void descent_exhausted() {
  ThreadState* ts = zvts;
  uint16_t guard = 0;
  for (uint16_t i = ts->zvdincxt; i; i = stack_entry(i).link) {
    uint16_t flags = context_flags(i);
    if (flags & CX_LISTENER) break;
    if (flags & CX_DESCENT) guard = i;
  }
  if (guard) throw_to(TC_DESCENT, guard);
  stack_exhausted();
}
