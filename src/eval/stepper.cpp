// The stepper: STEP and the stepping hook.
//
// The hook is the eval hook while stepping: the evaluator hands it every
// form.  Two 16-bit counters decide where it stops: the depth of the form
// in hand and the stop depth.  At the stop depth (or at an operator of the
// breakpoint list, the value of symbol 0xDF, while the stop depth lies
// deeper) it shows the form and asks what to do; deeper than the stop
// depth it evaluates without the hook; shallower it evaluates with the
// hook, so that the forms within are handed to it in turn.
//
// The depth of a form is one more than that of the nearest stepping-hook
// frame outward on the frame chain, which keeps its depth in the entry
// after its arguments; so a throw out of stepped code leaves no counter
// behind.  The stop depth is an unsigned 16-bit number: 0xFFFF ("never")
// lies beyond every depth, and 0x7FFF stops at breakpoints only.
#include <unistd.h>

#include <csetjmp>
#include <cstdio>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/debugger.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/stack.h"
#include "eval/listener.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "threads/safepoint.h"

namespace {


enum : uint32_t {
  MSG_STEP_PROMPT = 16,
  MSG_STEP_FORM = 132,
  MSG_STEP_VALUES = 133,
};
constexpr uint32_t MSG_LIMITED = 0x100;

enum : uint16_t { STOP_NEVER = 0xFFFF, STOP_AT_BREAKPOINTS = 0x7FFF };

// The process-wide counters and the value display.
uint16_t step_depth = 0;
uint16_t stop_depth = 0;
bool show_values = false;

enum : uint32_t { HDR_COLOUR_DEBUGGER = HDR_ATTR_30, HDR_COLOUR_VALUES = HDR_ATTR_32 };

inline Value debug_io() { return sym_value(FS_DEBUG_IO); }

bool stepping_frame(const StackEntry& e) {
  uint16_t kind = e.tag & 0xF000;
  if (kind != ST_CALL_FRAME && kind != ST_FUNCALL_FRAME) return false;
  return e.arg == make_symbol(FS_STEP_HOOK) || e.arg == bi_value(BI_STEP_HOOK);
}

// STEP's own frame (and that of the debugger's stepping re-evaluation):
// the depths count from here.
bool step_boundary(const StackEntry& e) { return (e.tag & 0xF000) == ST_CALL_FRAME && e.arg == bi_value(BI_STEP); }

// The depth of the form handed to the hook whose frame is `self`.
uint16_t depth_of(uint16_t self) {
  ThreadState* ts = zvts;
  for (uint16_t g = stack_entry(self).link; g; g = ts->stack[g].link) {
    const StackEntry& e = ts->stack[g];
    if (step_boundary(e)) return 0;
    if (stepping_frame(e)) {
      const StackEntry& d = stack_entry(g - 3u);
      return d.tag == ST_ANON && is_fixnum(d.arg) ? uint16_t(fixnum_value(d.arg) + 1) : 0;
    }
  }
  return 0;
}

bool breakpoint_p(Value form) {
  if (!cons_p(form)) return false;
  Value op = car(form);
  for (Value l = sym_value(FS_STEP_HOOK); cons_p(l); l = cdr(l))
    if (car(l) == op) return true;
  return false;
}

void show_form(Value form, uint16_t depth) {
  Value v[3] = {make_fixnum(2 * depth), make_fixnum(depth), form};
  print_message(FS_DEBUG_IO, 0x3000 | MSG_LIMITED | MSG_STEP_FORM, v);
}

// Show the values of the last evaluation (primary value v) and deliver
// them again: they are copied to the stack first, where the caller finds
// them as the multiple values.
Value show_and_deliver(Value v, uint16_t depth) {
  ThreadState* ts = zvts;
  uint32_t top = ts->septr;
  uint32_t n = values_push(v);
  Value list = args_to_list(ts->septr, top);
  Value args[3] = {make_fixnum(2 * depth), make_fixnum(depth), list};
  root_push(&args[2]);
  print_message(FS_DEBUG_IO, 0x3000 | MSG_LIMITED | MSG_STEP_VALUES, args);
  root_pop();
  ts->mv_count = uint16_t(n);
  ts->mv_base = uint16_t(top);
  ts->glvalue = n ? ts->stack[top - 1].arg : NIL;
  return ts->glvalue;
}

// Evaluate form with the hook installed; the form itself is not handed to
// it again.
Value eval_hooked(Value form) {
  ThreadState* ts = zvts;
  uint32_t limit = ts->septr;
  bind_special(FS_EVALHOOK, make_symbol(FS_STEP_HOOK));
  ts->evalhook_skip = 1;
  Value v = eval_form(form);
  ts->evalhook_skip = 0;
  unbind_to(limit);
  return v;
}

Value eval_plain(Value form) {
  ThreadState* ts = zvts;
  uint32_t limit = ts->septr;
  bind_special(FS_EVALHOOK, NIL);
  Value v = eval_form(form);
  unbind_to(limit);
  return v;
}

Value find_command(int c) { return listener_command(FS_STEP_COMMANDS, c); }

// A key nothing is bound to: a pause, and the rest of a typed line goes.
void unknown_key(int c) {
  host_sleep_ms(75);
  while (c >= 0 && c < 0x100 && c != '\n') c = zv_listener_io.read_key(debug_io());
}

// The debugger from a stop, with the hook's frame marked: a value it is
// left with (by RETURN) becomes the form's value.  Returns false when it
// was quit without one.
bool debug_from_stop(uint16_t self, Value* result) {
  ThreadState* ts = zvts;
  uint16_t old = ts->stack[self].tag & MARK_STEPPING;
  ts->stack[self].tag |= MARK_STEPPING;
  Context cx;
  context_push(&cx, CX_BLOCKLIKE | CX_NIL_BLOCK);
  bool got = false;
  if (setjmp(cx.resume) == 0) {
    debugger(1);
  } else {
    *result = zvts->glvalue;
    got = true;
  }
  ts = zvts;
  context_pop(&cx);
  ts->stack[self].tag = uint16_t((ts->stack[self].tag & ~MARK_STEPPING) | old);
  return got;
}

// The stop: show the form, ask, act.  Returns the form's value.
Value stop(uint16_t self, uint16_t depth) {
  ThreadState* ts = zvts;
  show_form(stack_entry(self - 1u).arg, depth);
  for (;;) {
    Value c_colour = make_fixnum(hdr_u16(show_values ? HDR_COLOUR_VALUES : HDR_COLOUR_DEBUGGER));
    print_message(FS_DEBUG_IO, 0x1000 | MSG_STEP_PROMPT, c_colour);
    int c = listener_read_key(NIL);
    if (c < 0) {
      std::fflush(stdout);
      _exit(1);
    }
    Value command = find_command(c);
    if (!nil_p(command)) {
      debug_request_clear();
      uint32_t limit = ts->septr;
      bind_special(FS_EVALHOOK, NIL);
      call_function0(command);
      unbind_to(limit);
      ts->septr = uint16_t(limit);
      int32_t arg;
      c = debug_request_take(&arg) == REQ_KEY ? arg : 0;
      if (!c) continue;
    }
    // Read afresh: the form may have moved while the key was read.
    Value form = stack_entry(self - 1u).arg;
    Value v;
    switch (c) {
      case DK_STEP:
        stop_depth = uint16_t(depth + 1);
        v = eval_hooked(form);
        break;
      case DK_EVAL:
        return show_and_deliver(eval_plain(form), depth);
      case SK_OUT:
        stop_depth = uint16_t(depth - 1);
        v = eval_plain(form);
        break;
      case SK_TO_BREAKPOINT:
        if (!step_breakpoints_set()) return show_and_deliver(eval_plain(form), depth);
        stop_depth = STOP_AT_BREAKPOINTS;
        v = eval_hooked(form);
        break;
      case DK_RESTART:
        stop_depth = STOP_NEVER;
        v = step_breakpoints_set() ? eval_hooked(form) : eval_plain(form);
        break;
      case DK_ALL_VARIABLES:
        show_form(form, depth);
        continue;
      case SK_VALUES:
        show_values = !show_values;
        continue;
      case DK_EDIT: {
        Value edited = edit_form(form);
        stack_entry(self - 1u).arg = edited;
        show_form(edited, depth);
        continue;
      }
      case DK_LEAVE: {
        Value result = NIL;
        if (debug_from_stop(self, &result)) return result;
        show_form(stack_entry(self - 1u).arg, depth);
        continue;
      }
      case SK_NIL:
        ts->mv_count = 1;
        return NIL;
      case DK_MARKED_OUTER:
        throw_to_listener();
      case SK_TOP_LEVEL: {
        uint16_t outer = find_outermost_context(CX_LISTENER);
        ts->mv_count = 0;
        ts->glvalue = NIL;
        if (outer) throw_to(TC_LISTENER, outer);
        throw_to_listener();
      }
      default:
        unknown_key(c);
        continue;
    }
    // Shown when asked for, or when the stop depth has come back here
    // (a form within was finished with 0x342).
    return show_values || stop_depth <= depth ? show_and_deliver(v, depth) : v;
  }
}

}  // namespace

// Built-in 412, the function of symbol 0xDF: the eval hook while
// stepping, called with a form and its environment.
Value bi_step_hook(Value form, Value env) {
  ThreadState* ts = zvts;
  uint16_t self = ts->zvform;
  // The depth goes into the entry after the two arguments, where the
  // hooks within find it.
  uint16_t depth = depth_of(self);
  if (ts->septr == self - 2u) push_anon(make_fixnum(depth));
  if (!nil_p(env)) lexenv_from_entry(uint16_t(self - 2));
  step_depth = depth;
  uint16_t s = stop_depth;
  if (s == depth) return stop(self, depth);
  if (s < depth) return eval_plain(form);
  if (breakpoint_p(form)) return stop(self, depth);
  Value v = eval_hooked(form);
  step_depth = depth;
  return show_values || stop_depth <= depth ? show_and_deliver(v, depth) : v;
}

// Built-in 411, STEP: (STEP form) evaluates form, stopping at once.
Value sf_step(Value args, Value) {
  Value form = cons_p(args) ? car(args) : NIL;
  return step_evaluate(form);
}


bool step_hook_frame(uint16_t f) { return f && stepping_frame(stack_entry(f)); }

bool stepper_frame(uint16_t f) {
  return f && (stepping_frame(stack_entry(f)) || step_boundary(stack_entry(f)));
}

bool step_breakpoints_set() { return cons_p(sym_value(FS_STEP_HOOK)); }

Value step_evaluate(Value form) {
  ThreadState* ts = zvts;
  root_push(&form);
  // A frame of STEP itself: the depths count from it.
  push_frame(bi_value(BI_STEP), ST_CALL_FRAME);
  uint32_t limit = ts->septr;
  stop_depth = 0;
  bind_special(FS_EVALHOOK, make_symbol(FS_STEP_HOOK));
  Value v = eval_form(form);
  unbind_to(limit);
  pop_frame();
  root_pop();
  return v;
}
