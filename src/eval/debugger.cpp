// The debugger: a browser over the frames of the Lisp stack.
//
// Selecting frame O outward of the selected frame S makes O the head of
// the frame chain: S's link is pointed at the reverse chain (the frames
// passed, innermost last) and S becomes its head.  Moving inward is the
// exact reverse, so the chain as it was is rebuilt link for link.  The
// dynamic bindings whose entries lie between S and O are swapped with
// their symbols' cells on the way out and swapped back on the way in.
//
// The debugger pushes a cleanup context and then its own context.  Every
// throw that leaves it passes the cleanup context first, which puts the
// chain, the cells and the marks back before the throw goes on; its own
// context takes what the forms typed at its prompt throw at it (RETURN,
// a return from a nested break loop, the console's interruptions).
#include "eval/debugger.h"

#include <unistd.h>

#include <csetjmp>
#include <cstdio>

#include "builtins/table.h"
#include "eval/conditions.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/stack.h"
#include "eval/listener.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "threads/safepoint.h"

namespace {

// Messages of the debugger.
enum : uint32_t {
  MSG_OUTERMOST = 4,
  MSG_DEBUG_PROMPT = 13,
  MSG_VARIABLE = 14,
  MSG_FRAME = 15,
  MSG_INPUT_INTERRUPTED = 18,
  MSG_INNERMOST = 19,
  MSG_END_OF_LIST = 20,
  MSG_VARIABLE_MODE = 43,
  MSG_ALL_VARIABLES = 44,
  MSG_NO_RESTART = 46,
  MSG_NO_FORM = 47,
  MSG_BACKTRACE_LINE = 130,
  MSG_NO_SUCH_FRAME = 131,
};
// Bit 0x100 of a message code binds the printer's limits while it prints.
constexpr uint32_t MSG_LIMITED = 0x100;
inline uint32_t msg_code(uint32_t msg, uint32_t objects) { return msg | objects << 12; }

// Colours of the image header.
enum : uint32_t {
  HDR_COLOUR_NORMAL = HDR_ATTR_TERMINAL,
  HDR_COLOUR_BREAK = HDR_ATTR_24,
  HDR_COLOUR_DEBUGGER = HDR_ATTR_30,
  HDR_COLOUR_SELECTED = HDR_ATTR_34,
};
// The second switch byte: the variable-display mode (bits 0-1) and
// whether the stepping hook's frames are shown (bit 2).
enum : uint8_t { SW2_VARIABLE_MODE = 3, SW2_SHOW_HOOK_FRAMES = 4 };

Value colour(uint32_t off) { return make_fixnum(hdr_u16(off)); }
inline Value debug_io() { return sym_value(FS_DEBUG_IO); }

// One run of the debugger.  It lives in debugger()'s native frame and is
// reached through `session`, so nothing read after a throw comes back
// there is held in a register.
struct Session {
  uint16_t start;     // the innermost frame when the debugger began
  uint16_t selected;  // the selected frame (0: there is none)
  uint16_t reverse;   // reverse chain: the frames inward of the selected one
  uint16_t floor;     // the innermost frame's own entries lie above this
  uint16_t own;       // the debugger's context
  uint16_t cleanup;   // its cleanup context
  uint16_t marked;    // the frame carrying our selection mark, 0 for none
  bool had_mark;      // whether that frame carried the mark before us
  Context* own_record;
  Session* outer;
};
thread_local Session* session = nullptr;

// ---------------------------------------------------------------------------
// Requests of command functions

thread_local int request_op = REQ_NONE;
thread_local int32_t request_arg = 0;

}  // namespace

void debug_request_clear() { request_op = REQ_NONE; }

int debug_request_take(int32_t* arg) {
  int op = request_op;
  request_op = REQ_NONE;
  *arg = request_arg;
  return op;
}

namespace {

// ---------------------------------------------------------------------------
// Frames

inline StackEntry& entry(uint32_t i) { return stack_entry(i); }

bool frame_hidden(uint16_t f) {
  return !(hdr_u8(HDR_SWITCHES2) & SW2_SHOW_HOOK_FRAMES) && stepper_frame(f);
}

// A binding's entry trades places with this thread's cell (so the undoing
// is never seen by another thread).
void swap_binding(StackEntry& e, bool functions) {
  e.arg = cell_exchange(e.tag, functions ? BindingCell::FUNCTION : BindingCell::VALUE, e.arg);
}

// Swap each dynamic binding on `chain` whose entry lies strictly between
// lo and hi with its symbol's cell: innermost first when undoing,
// outermost first when redoing (the pushes keep the order to reverse).
void swap_range(uint16_t chain, uint16_t lo, uint16_t hi, bool functions, bool redo) {
  ThreadState* ts = zvts;
  uint32_t top = ts->septr;
  for (uint16_t i = chain; i < ts->stack_top; i = entry(i).link) {
    if (i <= lo) continue;
    if (i >= hi) break;
    if (redo) {
      push_anon(make_fixnum(i));
      continue;
    }
    swap_binding(ts->stack[i], functions);
  }
  for (uint32_t k = ts->septr; k < top; k++)
    swap_binding(ts->stack[fixnum_value(ts->stack[k].arg)], functions);
  ts->septr = static_cast<uint16_t>(top);
}

void swap_bindings(uint16_t lo, uint16_t hi, bool redo) {
  ThreadState* ts = zvts;
  if (redo) {
    swap_range(ts->zvdinenv, lo, hi, false, true);
    swap_range(ts->zvfdinenv, lo, hi, true, true);
  } else {
    swap_range(ts->zvfdinenv, lo, hi, true, false);
    swap_range(ts->zvdinenv, lo, hi, false, false);
  }
}

void set_selected(Session* s, uint16_t f) {
  s->selected = f;
  zvts->zvform = f;
  // A throw back to the debugger's context finds the selection there.
  s->own_record->zvform = f;
}

// One frame outward / inward, hidden frames included.
bool step_out(Session* s) {
  uint16_t sel = s->selected;
  uint16_t outer = sel ? entry(sel).link : 0;
  if (!outer) return false;
  swap_bindings(sel, outer, false);
  entry(sel).link = s->reverse;
  s->reverse = sel;
  set_selected(s, outer);
  return true;
}

bool step_in(Session* s) {
  uint16_t inner = s->reverse;
  if (!inner) return false;
  s->reverse = entry(inner).link;
  entry(inner).link = s->selected;
  swap_bindings(inner, s->selected, true);
  set_selected(s, inner);
  return true;
}

bool move_out(Session* s) {
  uint16_t from = s->selected;
  do {
    if (!step_out(s)) {
      while (s->selected != from) step_in(s);
      return false;
    }
  } while (frame_hidden(s->selected));
  return true;
}

bool move_in(Session* s) {
  uint16_t from = s->selected;
  do {
    if (!step_in(s)) {
      while (s->selected != from) step_out(s);
      return false;
    }
  } while (frame_hidden(s->selected));
  return true;
}

void unmark(Session* s) {
  if (!s->marked) return;
  StackEntry& e = entry(s->marked);
  if (!s->had_mark) e.tag = uint16_t(e.tag & ~MARK_SELECTED);
  s->marked = 0;
}

void mark_selected(Session* s) {
  if (s->marked == s->selected) return;
  unmark(s);
  if (!s->selected) return;
  StackEntry& e = entry(s->selected);
  s->had_mark = e.tag & MARK_SELECTED;
  e.tag |= MARK_SELECTED;
  s->marked = s->selected;
}

// Back to the frame the debugger started from: every binding redone, the
// chain as it was, our mark gone.
void restore(Session* s) {
  unmark(s);
  while (step_in(s)) {
  }
  zvts->zvform = s->start;
}

// The frame inward of f, or 0 when f is the innermost.
uint16_t inner_neighbour(Session* s, uint16_t f) {
  if (f == s->selected) return s->reverse;
  for (uint16_t r = s->reverse; r; r = entry(r).link)
    if (r == f) return entry(r).link;
  uint16_t prev = s->selected;
  for (uint16_t g = s->selected ? entry(s->selected).link : 0; g; g = entry(g).link) {
    if (g == f) return prev;
    prev = g;
  }
  return 0;
}

// The environment a stepping-hook frame was called with: its second
// argument, made a lexical-environment entry by the hook.
LexState hook_environment(uint16_t f) {
  if (entry(f - 2).tag == ST_CLOSURE_ENV) return LexState{uint16_t(f - 2), uint16_t(f - 1)};
  return LexState{0, 0};
}

LexState eval_frame_environment(uint16_t f) {
  uint32_t env = zvts->frame_env[f];
  return LexState{uint16_t(env & 0xFFFF), uint16_t(env >> 16)};
}

// The lexical environment forms of frame f are evaluated in: the one the
// next inner frame began in, or else f's own.
LexState frame_environment(uint16_t f, uint16_t inner) {
  if (inner && is_eval_frame_tag(entry(inner).tag)) return eval_frame_environment(inner);
  if (inner && step_hook_frame(inner)) return hook_environment(inner);
  if (!f) return LexState{0, 0};
  if (is_eval_frame_tag(entry(f).tag)) return eval_frame_environment(f);
  if (step_hook_frame(f)) return hook_environment(f);
  return LexState{0, 0};
}

// ---------------------------------------------------------------------------
// Display

Value frame_shown(uint16_t f) {
  const StackEntry& e = entry(f);
  return e.arg;
}

// The marker characters are printable: a control character would reach
// a terminal as a control code.
Value frame_marker(uint16_t tag) {
  if (tag & MARK_SPECIAL) return make_char('!');
  if (tag & MARK_STEPPING) return make_char('*');
  return make_char(' ');
}

Value frame_colour(uint16_t tag) {
  if (tag & MARK_BREAK) return colour(HDR_COLOUR_BREAK);
  if (tag & MARK_SELECTED) return colour(HDR_COLOUR_SELECTED);
  return colour(HDR_COLOUR_NORMAL);
}

void show_variable(uint32_t kind, Value name, Value value) {
  Value v[3] = {make_fixnum(int32_t(kind)), name, value};
  print_message(FS_DEBUG_IO, msg_code(MSG_VARIABLE, 3) | MSG_LIMITED, v);
}

// The variables of frame f whose inner neighbour is `inner` (0 for the
// innermost frame), as the variable-display mode asks.
void show_variables(Session* s, uint16_t f, uint16_t inner) {
  ThreadState* ts = zvts;
  uint32_t mode = hdr_u8(HDR_SWITCHES2) & SW2_VARIABLE_MODE;
  LexState env = frame_environment(f, inner);
  for (uint16_t i = env.zvlexenv; i;) {
    const StackEntry& e = entry(i);
    if (e.tag == ST_CLOSURE_ENV) {
      if (mode & 2) {
        Value pairs = e.arg;
        root_push(&pairs);
        for (; cons_p(pairs); pairs = cdr(pairs))
          if (cons_p(car(pairs))) show_variable(1, car(car(pairs)), cdr(car(pairs)));
        root_pop();
      }
      break;
    }
    if (e.tag & 0x8000) break;
    uint16_t next = e.link;
    show_variable(0, make_symbol(e.tag), e.arg);
    i = next;
  }
  if (!(mode & 1)) return;
  // Special and function bindings made within the frame, or with mode 3
  // also those of the frames outward.
  uint16_t lo = inner ? inner : s->floor;
  uint16_t hi = (mode & 2) ? ts->stack_top : f;
  for (int functions = 0; functions < 2; functions++) {
    uint16_t chain = functions ? ts->zvfdinenv : ts->zvdinenv;
    for (uint16_t i = chain; i < ts->stack_top; i = entry(i).link) {
      if (i <= lo) continue;
      if (i >= hi) break;
      uint16_t sym = entry(i).tag;
      Value v = functions ? sym_function(sym) : sym_value(sym);
      if (is_no_value(v)) continue;
      show_variable(functions ? 3 : 2, make_symbol(sym), v);
    }
  }
}

void show_frame_line(uint16_t f) {
  uint16_t tag = entry(f).tag;
  Value v[4] = {frame_marker(tag), frame_colour(tag), frame_shown(f),
                bool_value(is_eval_frame_tag(tag))};
  print_message(FS_DEBUG_IO, msg_code(MSG_FRAME, 4) | MSG_LIMITED, v);
}

void show_frame(Session* s, uint16_t f) {
  show_frame_line(f);
  show_variables(s, f, inner_neighbour(s, f));
}

void notice(uint32_t msg) { print_message(FS_DEBUG_IO, msg_code(msg, 1), colour(HDR_COLOUR_DEBUGGER)); }

void refuse(uint32_t msg) {
  print_message(FS_DEBUG_IO, msg);
  host_sleep_ms(75);
}

// Message msg with n arguments (more than a message code can carry), the
// printer's limits bound as for the messages of the frames.
void say_limited(uint32_t msg, uint32_t n, Value* args) {
  ThreadState* ts = zvts;
  uint32_t limit = ts->septr;
  for (uint32_t k = 0; k < n; k++) root_push(&args[k]);
  bind_special(FS_PRINT_LEVEL, sym_value(FS_MESSAGE_PRINT_LEVEL));
  bind_special(FS_PRINT_LENGTH, sym_value(FS_MESSAGE_PRINT_LENGTH));
  Value text = message_text(msg);
  emit_formatted(debug_io(), text, n, args);
  unbind_to(limit);
  ts->septr = static_cast<uint16_t>(limit);
  root_pop(n);
}

// The frames innermost first, pushed as fixnums; returns how many.  The
// caller pops them.
uint32_t push_frames(Session* s) {
  ThreadState* ts = zvts;
  uint32_t top = ts->septr;
  for (uint16_t r = s->reverse; r; r = entry(r).link) push_anon(make_fixnum(r));
  // Those of the reverse chain lie in reverse: turn them round.
  for (uint32_t a = ts->septr, b = top - 1; a < b; a++, b--) {
    Value t = ts->stack[a].arg;
    ts->stack[a].arg = ts->stack[b].arg;
    ts->stack[b].arg = t;
  }
  for (uint16_t f = s->selected; f; f = entry(f).link) push_anon(make_fixnum(f));
  return top - ts->septr;
}

inline uint16_t pushed_frame(uint32_t top, uint32_t k) {
  return uint16_t(fixnum_value(zvts->stack[top - 1 - k].arg));
}

// Every frame, one line each, innermost first, numbered.
void backtrace(Session* s) {
  ThreadState* ts = zvts;
  uint32_t top = ts->septr;
  uint32_t n = push_frames(s);
  int32_t number = 0;
  for (uint32_t k = 0; k < n; k++) {
    uint16_t f = pushed_frame(top, k);
    if (frame_hidden(f)) continue;
    uint16_t tag = entry(f).tag;
    Value v[6] = {make_fixnum(number++), bool_value(f == s->selected), frame_marker(tag),
                  frame_colour(tag), frame_shown(f), bool_value(is_eval_frame_tag(tag))};
    say_limited(MSG_BACKTRACE_LINE, 6, v);
  }
  ts->septr = static_cast<uint16_t>(top);
}

// 0x13F: the variables of every frame.
void show_all_variables(Session* s) {
  ThreadState* ts = zvts;
  print_message(FS_DEBUG_IO, MSG_ALL_VARIABLES);
  uint32_t top = ts->septr;
  uint32_t n = push_frames(s);
  for (uint32_t k = 0; k < n; k++) {
    uint16_t f = pushed_frame(top, k);
    if (frame_hidden(f)) continue;
    show_frame_line(f);
    show_variables(s, f, k ? pushed_frame(top, k - 1) : 0);
  }
  ts->septr = static_cast<uint16_t>(top);
  print_message(FS_DEBUG_IO, MSG_END_OF_LIST);
}

int32_t selected_number(Session* s) {
  int32_t n = 0;
  for (uint16_t r = s->reverse; r; r = entry(r).link)
    if (!frame_hidden(r)) n++;
  return n;
}

void select_number(Session* s, int32_t n) {
  int32_t now = selected_number(s);
  while (now < n && move_out(s)) now++;
  while (now > n && move_in(s)) now--;
  if (now != n) print_message(FS_DEBUG_IO, msg_code(MSG_NO_SUCH_FRAME, 1), make_fixnum(n));
}

// ---------------------------------------------------------------------------
// Commands

int read_key() { return listener_read_key(message_text(MSG_DEBUG_PROMPT)); }

Value find_command(int c) { return listener_command(FS_DEBUG_COMMANDS, c); }

// Evaluate a form typed at the prompt in the selected frame's lexical
// environment, or call a command function, with RETURN aimed at the
// debugger's context and the eval hook off; the values are shown.
void evaluate(Session* s, Value command) {
  LexState env = frame_environment(s->selected, s->reverse);
  listener_evaluate(s->own, command, &env, true);
}

// The form a frame would evaluate again: an eval frame's form, the form
// a stepping-hook frame was called with.  NO_VALUE when there is none.
Value frame_form(uint16_t f) {
  if (!f) return NO_VALUE;
  const StackEntry& e = entry(f);
  if (is_eval_frame_tag(e.tag)) return e.arg;
  if (step_hook_frame(f)) return entry(f - 1).arg;
  return NO_VALUE;
}

}  // namespace

Value edit_form(Value form) {
  root_push(&form);
  Value edited = call_function1(bi_value(BI_EDIT_OBJECT), form);
  root_pop();
  if (cons_p(form) && cons_p(edited)) {
    // Two stores: another thread evaluating the form sees it before or
    // after, never half edited.
    world_lock();
    world_stop();
    set_car(form, car(edited));
    set_cdr(form, cdr(edited));
    world_resume();
    world_unlock();
    return form;
  }
  return edited;
}

namespace {

// 0x13C / 0x33C: edit a frame's form; what is not a list is replaced in
// the frame.
void edit_frame(uint16_t f) {
  Value old = frame_form(f);
  if (is_no_value(old)) {
    refuse(MSG_NO_FORM);
    return;
  }
  root_push(&old);
  Value edited = edit_form(old);
  root_pop();
  if (edited != old) entry(step_hook_frame(f) ? f - 1 : f).arg = edited;
}

// 0x140 / 0x142: evaluate the selected frame's form again, where it was
// evaluated first.
void evaluate_again(Session* s, bool stepping) {
  ThreadState* ts = zvts;
  uint16_t f = s->selected;
  Value form = frame_form(f);
  if (is_no_value(form)) {
    refuse(MSG_NO_FORM);
    return;
  }
  uint32_t limit = ts->septr;
  root_push(&form);
  LexState saved = lexenv_save();
  lexenv_restore(step_hook_frame(f) ? hook_environment(f) : eval_frame_environment(f));
  bind_special(FS_EVALHOOK, NIL);
  Value v = stepping ? step_evaluate(form) : eval_form(form);
  lexenv_restore(saved);
  ts->glvalue = v;
  unbind_to(limit);
  root_pop();
  root_push(&v);
  zv_listener_io.print_values(debug_io());
  root_pop();
  ts->septr = static_cast<uint16_t>(limit);
}

// 0x13D: restart the computation of the selected frame.
void restart(Session* s) {
  ThreadState* ts = zvts;
  uint16_t restartable = 0, listener = 0;
  for (uint16_t i = ts->stack[s->own].link; i && i < s->selected; i = entry(i).link) {
    uint16_t flags = context_flags(i);
    if (flags & CX_RESTART) restartable = i;
    if ((flags & CX_LISTENER) && !listener) listener = i;
  }
  if (restartable) {
    ts->glvalue = entry(s->selected).arg;
    ts->mv_count = 1;
    throw_to(TC_RESTART, restartable);
  }
  if (listener) {
    ts->glvalue = NIL;
    ts->mv_count = 0;
    throw_to(TC_LISTENER, listener);
  }
  refuse(MSG_NO_RESTART);
}

// Where a RETURN typed in the debugger goes: the innermost block-like
// context outward of the selected frame, or, at the innermost frame, the
// break loop that entered the debugger when it takes a value.
uint16_t return_target(Session* s) {
  ThreadState* ts = zvts;
  for (uint16_t i = ts->stack[s->own].link; i; i = entry(i).link) {
    uint16_t flags = context_flags(i);
    if (!(flags & CX_BLOCKLIKE)) continue;
    if (i > s->selected || s->selected == s->start) return i;
  }
  return 0;
}

enum Outcome { GO_ON, LEAVE };

// The action of a key; LEAVE when it leaves the debugger.
Outcome key_action(Session* s, int key) {
  switch (key) {
    case DK_OUTER:
      if (!move_out(s)) notice(MSG_OUTERMOST);
      break;
    case DK_SHOW_OUTWARD: {
      uint16_t from = s->selected;
      while (move_out(s)) {
      }
      notice(MSG_OUTERMOST);
      while (s->selected != from) {
        show_frame(s, s->selected);
        if (!move_in(s)) break;
      }
      break;
    }
    case DK_INNER:
      if (!move_in(s)) notice(MSG_INNERMOST);
      break;
    case DK_OUTERMOST:
      while (move_out(s)) {
      }
      notice(MSG_OUTERMOST);
      break;
    case DK_INNERMOST:
      while (move_in(s)) {
      }
      notice(MSG_INNERMOST);
      break;
    case DK_MARKED_OUTER:
    case DK_MARKED_INNER: {
      bool out = key == DK_MARKED_OUTER;
      for (;;) {
        if (!(out ? move_out(s) : move_in(s))) {
          notice(out ? MSG_OUTERMOST : MSG_INNERMOST);
          break;
        }
        if (entry(s->selected).tag & (MARK_BREAK | MARK_SELECTED)) break;
      }
      break;
    }
    case DK_VARIABLE_MODE: {
      uint8_t& sw = zvm.header[HDR_SWITCHES2];
      sw = uint8_t((sw & ~SW2_VARIABLE_MODE) | ((sw + 1) & SW2_VARIABLE_MODE));
      print_message(FS_DEBUG_IO, msg_code(MSG_VARIABLE_MODE, 1), make_fixnum(sw & SW2_VARIABLE_MODE));
      break;
    }
    case DK_SHOW_INWARD: {
      uint16_t from = s->selected;
      do show_frame(s, s->selected);
      while (move_in(s));
      notice(MSG_INNERMOST);
      while (s->selected != from && move_out(s)) {
      }
      break;
    }
    case DK_ALL_VARIABLES:
      show_all_variables(s);
      break;
    case DK_EDIT:
      if (s->selected) edit_frame(s->selected);
      break;
    case DK_EDIT_CALLER: {
      uint16_t caller = s->selected ? entry(s->selected).link : 0;
      if (caller)
        edit_frame(caller);
      else
        refuse(MSG_NO_FORM);
      break;
    }
    case DK_STEP:
    case DK_EVAL:
      evaluate_again(s, key == DK_STEP);
      break;
    case DK_RESTART:
      restart(s);
      break;
    case DK_LEAVE:
      return LEAVE;
    default:
      break;
  }
  return GO_ON;
}

// After a command function: what it asked for.
Outcome act_on_request(Session* s) {
  int32_t arg;
  switch (debug_request_take(&arg)) {
    case REQ_BACKTRACE:
      backtrace(s);
      break;
    case REQ_FRAME:
      select_number(s, arg);
      break;
    case REQ_KEY:
      return key_action(s, arg);
    default:
      break;
  }
  return GO_ON;
}

// The cleanup context's part: a throw is leaving the debugger.  Restore,
// drop both contexts and let the throw go on.
[[noreturn]] void leave_by_throw() {
  ThreadState* ts = zvts;
  Session* s = session;
  restore(s);
  session = s->outer;
  ts->zvunwindcxt = ts->stack[s->cleanup].link;
  ts->cx_records[s->cleanup] = nullptr;
  ts->cx_records[s->own] = nullptr;
  throw_to(ts->throw_code, ts->gltagcxt);
}

// Leave normally with `value` (NO_VALUE: none).
Value leave(Context* own, Context* cleanup, Value value) {
  ThreadState* ts = zvts;
  Session* s = session;
  restore(s);
  session = s->outer;
  ts->listener_flag = own->listener_flag;
  context_pop(own);
  ts->zvunwindcxt = ts->stack[cleanup->index].link;
  ts->cx_records[cleanup->index] = nullptr;
  ts->septr = static_cast<uint16_t>(cleanup->index + 1);
  // The break loop goes on with glvalue: never the end marker.
  ts->glvalue = is_no_value(value) ? NIL : value;
  ts->mv_count = 1;
  return value;
}

}  // namespace

Value debugger(uint32_t) {
  ThreadState* ts = zvts;
  Session s;
  s.start = ts->zvform;
  s.selected = ts->zvform;
  s.reverse = 0;
  s.marked = 0;
  s.had_mark = false;
  s.outer = session;
  // The innermost frame's own entries end where the break loop that
  // called the debugger begins.
  uint16_t listener = find_context(CX_LISTENER | CX_DEBUGGER);
  s.floor = listener && listener < s.start ? listener : ts->septr;
  Context cleanup;
  context_push(&cleanup, CX_CLEANUP);
  s.cleanup = cleanup.index;
  if (setjmp(cleanup.resume)) leave_by_throw();
  Context own;
  context_push(&own, CX_LISTENER | CX_DEBUGGER | CX_LISTENER_DEBUG);
  s.own = own.index;
  s.own_record = &own;
  session = &s;
  ts->listener_flag = 1;
  if (!s.start) notice(MSG_OUTERMOST);
  condition_call(COND_SHOW_RESTARTS, NIL, NIL);
  Value result = NO_VALUE;
  for (;;) {
    int code = setjmp(own.resume);
    ts = zvts;
    Session* sp = session;
    if (code == TC_RETURN) {
      uint16_t target = return_target(sp);
      if (target) throw_to(TC_RETURN, target);
      refuse(MSG_RETURN_REFUSED);
    } else if (code == TC_CONSOLE) {
      print_message(FS_DEBUG_IO, MSG_INPUT_INTERRUPTED);
    }
    ts->listener_flag = 1;
    mark_selected(sp);
    if (sp->selected) show_frame(sp, sp->selected);
    int c = read_key();
    if (c < 0) {
      // End of input in the debugger: like a break loop, a failure.
      std::fflush(stdout);
      _exit(1);
    }
    Outcome o = GO_ON;
    Value command = find_command(c);
    if (!nil_p(command)) {
      debug_request_clear();
      evaluate(sp, command);
      o = act_on_request(sp);
    } else if (c >= 0x100) {
      o = key_action(sp, c);
    } else {
      zv_listener_io.unread_key(debug_io(), c);
      evaluate(sp, NIL);
    }
    if (o == LEAVE) break;
  }
  return leave(&own, &cleanup, result);
}

// ---------------------------------------------------------------------------
// %DEBUG-REQUEST

// (%DEBUG-REQUEST op [n]): op a key code acts as that key; 1 lists the
// frames; 2 selects frame n.
Value bi_debug_request(Value, Value) {
  uint32_t n = arg_count();
  Value op = arg(1);
  if (!is_fixnum(op)) return lisp_error(E_WRONG_TYPE, op);
  int32_t k = fixnum_value(op);
  if (k >= 0x100) {
    request_op = REQ_KEY;
    request_arg = k;
  } else if (k == REQ_BACKTRACE) {
    request_op = REQ_BACKTRACE;
  } else if (k == REQ_FRAME) {
    Value which = n >= 2 ? arg(2) : NIL;
    if (!is_fixnum(which)) return lisp_error(E_WRONG_TYPE, which);
    request_op = REQ_FRAME;
    request_arg = fixnum_value(which);
  } else {
    return lisp_error(E_WRONG_TYPE, op);
  }
  zvts->mv_count = 0;
  return NIL;
}
