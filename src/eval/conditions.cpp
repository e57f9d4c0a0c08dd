// The kernel's side of the image's condition system: the call through
// fixed symbol 34, the barriers bound in error-catching contexts and break
// loops, and built-in 460, which leaves a break level as its keys do.
#include "eval/conditions.h"

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/stack.h"
#include "object/error_hook.h"
#include "object/gc.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace {

// Lisp code needs room to run: with less on either stack (an overflow
// being reported), the signallers go on without the condition system.
constexpr uint32_t LISP_ROOM_ENTRIES = 1024;
constexpr uintptr_t LISP_ROOM_BYTES = 256 * 1024;

bool room_for_lisp() {
  ThreadState* ts = zvts;
  char probe;
  return ts->septr > LISP_ROOM_ENTRIES &&
         reinterpret_cast<uintptr_t>(&probe) > ts->native_floor + LISP_ROOM_BYTES;
}

// Memory exhaustion is reported just after a collection, so what is free
// then is all the handlers would have.  Too little, and running them
// would only exhaust it again inside the hook, error upon error: the
// kernel reports it its own way instead.
constexpr uint32_t LISP_ROOM_CELLS = 4096;
constexpr uint32_t LISP_ROOM_HEAP = 64 * 1024;

bool memory_room() {
  return zvm.free_count >= LISP_ROOM_CELLS && zvm.heap_limit - zvm.heap_fill >= LISP_ROOM_HEAP;
}

bool room_after_exhaustion(Value code) {
  if (!is_fixnum(code)) return true;
  switch (fixnum_value(code) & 0xFF) {
    case ERR_HEAP_FULL:
    case ERR_SYMTAB_FULL:
    case ERR_CONS_FULL:
      return memory_room();
    default:
      return true;
  }
}

// A break loop may start on exhausted memory (whatever its error, the
// listing of its restarts needs cells): with little free, one collection
// tells whether that is so.
bool room_in_break() {
  if (memory_room()) return true;
  gc_full_collection();
  return memory_room();
}

// The function of the innermost frame: for an eval frame, the car of its
// form.
Value innermost_operator() {
  uint16_t f = zvts->zvform;
  if (!f) return NIL;
  const StackEntry& e = stack_entry(f);
  if (is_eval_frame_tag(e.tag)) return cons_p(e.arg) ? car(e.arg) : e.arg;
  return e.arg;
}

// Call the function of symbol 34 with its function cell bound to NIL, so
// that an error inside it takes the kernel's own way, and with the eval
// and apply hooks off: the stepper stops in the program, not in the
// condition system's own code.
Value call_hook(Value* args) {
  ThreadState* ts = zvts;
  Value fn = sym_function(FS_SIGNAL_HOOK);
  uint32_t limit = ts->septr;
  bind_function(FS_SIGNAL_HOOK, NIL);
  bind_special(FS_EVALHOOK, NIL);
  bind_special(FS_APPLYHOOK, NIL);
  Value r = call_function(fn, 6, args);
  unbind_to(limit);
  unbind_functions_to(limit);
  ts->septr = static_cast<uint16_t>(limit);
  return r;
}

bool hook_defined() { return !nil_p(sym_function(FS_SIGNAL_HOOK)); }

}  // namespace

Value condition_signal(uint32_t kind, Value code, uint32_t top, Value continuation) {
  ThreadState* ts = zvts;
  if (!hook_defined() || !room_for_lisp() || !room_after_exhaustion(code)) return NIL;
  Value args[6] = {make_fixnum(kind), code, stack_entry(top - 3).arg, NIL, continuation,
                   innermost_operator()};
  for (Value& a : args) root_push(&a);
  args[3] = args_to_list(ts->septr, top - 3);
  Value r = call_hook(args);
  root_pop(6);
  return r;
}

void condition_as_message(uint32_t top, Value condition) {
  ThreadState* ts = zvts;
  root_push(&condition);
  Value control = mem_make_string("~A", 2);
  stack_entry(top - 3).arg = control;
  ts->septr = static_cast<uint16_t>(top - 3);
  push_arg(condition);
  root_pop();
}

Value condition_call(uint32_t kind, Value code, Value datum) {
  if (!hook_defined() || !room_for_lisp()) return NIL;
  root_push(&datum);
  bool room = room_in_break();
  root_pop();
  if (!room) return NIL;
  Value args[6] = {make_fixnum(kind), code, datum, NIL, NIL, NIL};
  for (Value& a : args) root_push(&a);
  Value r = call_hook(args);
  root_pop(6);
  return r;
}

// The variable of the clusters (its symbol index), or 0 when the image
// names none.
static uint32_t clusters_variable() {
  Value v = sym_value(FS_SIGNAL_HOOK);
  if (tag_of(v) != TAG_SYMBOL || nil_p(v)) return 0;
  uint32_t s = symbol_index(v);
  return s == FS_SIGNAL_HOOK ? 0 : s;
}

void condition_bind_barrier() {
  uint32_t var = clusters_variable();
  if (!var) return;
  Value chain = cons(NIL, sym_value(var));
  bind_special(var, chain);
}

Value condition_enter_break(uint16_t cx, uint16_t flags) {
  uint32_t var = clusters_variable();
  // On exhausted memory the level goes without its element: making it
  // would fail again, each failure entering another break loop.
  if (!var || !room_in_break()) return NIL;
  Value chain = cons(make_fixnum(int32_t(cx | uint32_t(flags) << 16)), sym_value(var));
  bind_special(var, chain);
  return chain;
}

void condition_rebind(Value chain) {
  uint32_t var = clusters_variable();
  if (var && cons_p(chain)) bind_special(var, chain);
}

// ---------------------------------------------------------------------------
// 460: (%LEAVE-BREAK-LEVEL index action [value]) leaves the break loop
// whose listener context lies at stack index `index`, as its keys do:
// action 0 continues (F5), 1 returns value from it (RETURN), 2 goes back to
// the level above it.  An index that is no break loop of this thread, or
// an action that loop refuses, is a wrong-type error.

Value bi_leave_break_level(Value, Value) {
  ThreadState* ts = zvts;
  Value index = arg(1), action = arg(2);
  Value value = arg_count() >= 3 ? arg(3) : NIL;
  uint16_t cx = 0;
  if (is_fixnum(index) && fixnum_value(index) > 0) {
    for (uint16_t i = ts->zvdincxt; i; i = stack_entry(i).link)
      if (i == fixnum_value(index) &&
          (ts->stack[i].tag & (CX_LISTENER | CX_LISTENER_DEBUG)) ==
              (CX_LISTENER | CX_LISTENER_DEBUG)) {
        cx = i;
        break;
      }
  }
  if (!cx) return lisp_error(E_BAD_TYPE, index);
  uint16_t flags = context_flags(cx);
  if (action == make_fixnum(0) && !(flags & BRK_NOT_CONTINUABLE)) throw_to(TC_CONTINUE, cx);
  if (action == make_fixnum(1) && (flags & BRK_VALUE)) {
    ts->glvalue = value;
    ts->mv_count = 1;
    throw_to(TC_RETURN, cx);
  }
  if (action == make_fixnum(2)) {
    for (uint16_t i = stack_entry(cx).link; i; i = stack_entry(i).link)
      if (ts->stack[i].tag & CX_LISTENER) {
        ts->mv_count = 0;
        ts->glvalue = NIL;
        throw_to(TC_LISTENER, i);
      }
  }
  return lisp_error(E_BAD_TYPE, action);
}
