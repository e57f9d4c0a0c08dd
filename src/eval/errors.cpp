// The error signaller and message printing.  The break loop is in
// eval/listener.cpp.
//
// Kernel code signals through the object layer's hooks (error_hook.h), so
// that unit tests can intercept errors; eval_init installs the routines
// here as those hooks.
#include "eval/errors.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "builtins/table.h"
#include "eval/conditions.h"
#include "eval/eval.h"
#include "eval/hooks.h"
#include "eval/stack.h"
#include "object/error_hook.h"
#include "object/symbols.h"
#include "threads/safepoint.h"

KernelHooks zv_hooks = {};

namespace {

// Colours: console attributes of the image header (see the genesis table).
enum : uint32_t { HDR_COLOUR_ERROR = 24, HDR_COLOUR_WARNING = 26 };

// Room the signaller needs on the Lisp stack: its pushes and a break loop's
// first steps.  With less, error 38 takes the fatal path.
constexpr uint32_t SIGNAL_ROOM = 24;

constexpr uint32_t MSG_STACK = 38;

Value colour(uint32_t off) { return make_fixnum(hdr_u16(off)); }

bool is_header_message(Value v) {
  return !nil_p(v) && (v == message_text(MSG_ERROR) || v == message_text(MSG_CONTINUE) ||
                       v == message_text(MSG_WARNING) || v == message_text(MSG_BREAK));
}

// The continuation message the next cerror hook call shows; set by
// lisp_cerror, which knows it, for the hook, which only gets the code.
thread_local uint32_t pending_continuation = 0;
// The next warning runs a break loop whatever symbol 0xB8 says.
thread_local bool warning_breaks = false;

void clear_keyword_slots() {
  for (uint16_t& k : zvts->kwslots) k = 0;
}

// Copy entries hi-1 down to lo into v (at most cap); returns how many.
uint32_t entries_to_array(uint32_t lo, uint32_t hi, Value* v, uint32_t cap) {
  uint32_t n = 0;
  for (uint32_t i = hi; i-- > lo && n < cap;) v[n++] = stack_entry(i).arg;
  return n;
}

// Bind a printer limit to the one messages print with, unless the limit
// in force is already as tight.
void bind_message_limit(uint32_t sym, uint32_t message_sym) {
  Value limit = sym_value(message_sym), now = sym_value(sym);
  if (!is_fixnum(limit) || (is_fixnum(now) && fixnum_value(now) <= fixnum_value(limit))) return;
  bind_special(sym, limit);
}

// Print the entries from hi - 1 down to lo: the first is the control
// string, the rest its arguments, which print within the message limits
// of level and length, so that circular or very deep data in an error
// ends.
void print_entries(Value stream, uint32_t lo, uint32_t hi) {
  if (hi <= lo) return;
  Value v[16];
  uint32_t n = entries_to_array(lo, hi, v, 16);
  ThreadState* ts = zvts;
  uint32_t limit = ts->septr;
  bind_message_limit(FS_PRINT_LEVEL, FS_MESSAGE_PRINT_LEVEL);
  bind_message_limit(FS_PRINT_LENGTH, FS_MESSAGE_PRINT_LENGTH);
  emit_formatted(stream, v[0], n - 1, v + 1);
  unbind_to(limit);
  ts->septr = static_cast<uint16_t>(limit);
}

Value error_stream() { return sym_value(FS_ERROR_OUTPUT); }

// After a warning that breaks nothing: a hidden window that warnings are
// written to comes up, when the image's pop-up switch is on.
void pop_up_warnings() {
  if ((hdr_u8(HDR_SWITCHES) & SW_POPUP) && zv_hooks.pop_up) zv_hooks.pop_up(error_stream());
}

// The name shown for the failing function and the kind of its function.
struct FunctionName {
  Value name;
  int kind;  // 0 special form, 1 macro, 2 function
};

int function_kind(Value name) {
  Value fn = is_symbol(name) ? sym_function(symbol_index(name)) : name;
  if (is_builtin(fn)) return int(tag_of(fn)) - 5;
  if (cons_p(fn) && car(fn) == make_symbol(FS_MACRO)) return 1;
  return 2;
}

// The function of a frame: for an eval frame, the car of its form.
Value frame_function(const StackEntry& e) {
  return is_eval_frame_tag(e.tag) ? (cons_p(e.arg) ? car(e.arg) : e.arg) : e.arg;
}

Value innermost_function() {
  uint16_t f = zvts->zvform;
  return f ? frame_function(stack_entry(f)) : NIL;
}

// The system's own functions (built-ins reached without a name, and
// symbols whose names begin with %) are how the library implements the
// standard ones; an error inside one is reported in the nearest caller the
// user knows by name, when there is one below the listener.
bool internal_name(Value fn) {
  if (is_builtin(fn)) return true;
  if (!is_symbol(fn)) return false;
  // APPLY and FUNCALL only pass the call on.
  Value def = sym_function(symbol_index(fn));
  if (def == bi_value(BI_APPLY) || def == bi_value(BI_FUNCALL)) return true;
  Value s = sym_name(symbol_index(fn));
  return is_string_raw(s) && string_length(s) > 1 && string_bytes(s)[0] == '%';
}

// A function the user knows by name: not a special form, not a macro.
bool public_name(Value fn) {
  return is_symbol(fn) && !internal_name(fn) && function_kind(fn) >= 2;
}

// A built-in reached without its name (through FUNCALL of the function
// object, say) is shown under a symbol that holds it, preferring a public
// one.
Value builtin_symbol(Value fn) {
  Value found = fn;
  for (uint32_t i = 0; i < zvm.sym_count; i++) {
    if (sym_function(i) != fn) continue;
    found = make_symbol(i);
    if (!internal_name(found)) break;
  }
  return found;
}

Value public_caller(Value name, uint16_t from) {
  if (is_builtin(name)) name = builtin_symbol(name);
  if (!internal_name(name)) return name;
  ThreadState* ts = zvts;
  uint16_t stop = find_context(CX_LISTENER);
  for (uint16_t f = from; f && (!stop || f < stop); f = stack_entry(f).link) {
    Value fn = frame_function(ts->stack[f]);
    if (public_name(fn)) return fn;
  }
  return name;
}

FunctionName failing_function(uint32_t code, Value object) {
  Value name = innermost_function();
  if (zvts->zvform) name = public_caller(name, zvts->zvform);
  uint32_t msg = code & 0xFF;
  if (msg == 48 && nil_p(name)) name = make_symbol(FS_EVAL);
  if (msg == 49 && (nil_p(name) || name == object)) name = make_symbol(FS_APPLY);
  if ((msg == 68 || msg == 69) && nil_p(name)) name = make_symbol(FS_READ);
  return FunctionName{name, function_kind(name)};
}

// ERROR from Lisp: the innermost interpreted function, skipping built-in
// frames and stopping at a listener.
Value interpreted_function_name() {
  ThreadState* ts = zvts;
  uint16_t stop = find_context(CX_LISTENER);
  for (uint16_t f = ts->zvform; f && (!stop || f < stop); f = stack_entry(f).link) {
    Value fn = frame_function(ts->stack[f]);
    Value def = is_symbol(fn) ? sym_function(symbol_index(fn)) : fn;
    if (!is_builtin(def)) return public_caller(fn, stack_entry(f).link);
  }
  return make_symbol(FS_EVAL);
}

void print_name_line(Value name, int kind) {
  Value args[3] = {colour(HDR_COLOUR_ERROR), make_fixnum(kind), name};
  root_push(&args[2]);
  emit_formatted(error_stream(), message_text(MSG_NAME_LINE), 3, args);
  root_pop();
}

// Error 38 with no room left: nothing can be pushed, so the message and
// the name go straight to the console and control returns to the
// outermost listener with no values.
[[noreturn]] void fatal_stack_error() {
  ThreadState* ts = zvts;
  if (ts->septr == 0) ts->septr = 1;
  Value name = innermost_function();
  std::fflush(stdout);
  std::printf("\n*** %s", "Lisp stack overflow");
  if (tag_of(name) == TAG_SYMBOL && is_string_raw(sym_name(symbol_index(name)))) {
    Value s = sym_name(symbol_index(name));
    std::printf(" in %.*s", int(string_length(s)), reinterpret_cast<char*>(string_bytes(s)));
  }
  std::printf("\n");
  std::fflush(stdout);
  ts->mv_count = 0;
  ts->glvalue = NIL;
  uint16_t outer = find_outermost_context(CX_LISTENER);
  if (!outer) {
    fatal_prepare();
    _exit(1);
  }
  throw_to(TC_LISTENER, outer);
}

// Push message header, colour, the text of the code and its objects;
// returns the index above them.  The text is looked up after the objects
// are on the stack, because a documentation lookup may allocate.
uint32_t push_message(uint32_t header, uint32_t colour_off, uint32_t code, const Value* objects) {
  ThreadState* ts = zvts;
  uint32_t top = ts->septr;
  push_anon(message_text(header));
  push_anon(colour(colour_off));
  uint16_t text = push_anon(NIL);
  uint32_t n = err_object_count(code);
  for (uint32_t k = 0; k < n && k < 4; k++) push_arg(objects[k]);
  Value t = message_text(code & 0xFF);
  stack_entry(text).arg = t;
  return top;
}

// A restart of the condition system resolved the error: the signaller
// returns value at once, as a break loop would have.
Value resolved(uint32_t top, Value value) {
  ThreadState* ts = zvts;
  ts->septr = static_cast<uint16_t>(top);
  ts->glvalue = value;
  ts->mv_count = 1;
  return value;
}

// The first object of the message pushed below top: read from the stack,
// not from the caller's array, which no collection updates.
Value first_object(uint32_t code, uint32_t top) {
  return err_object_count(code) ? stack_entry(top - 4).arg : NIL;
}

// The message of error `code` pushed below top and the function it
// happened in, on the error stream.
void print_kernel_error(uint32_t code, uint32_t top) {
  print_entries(error_stream(), zvts->septr, top);
  FunctionName fn = failing_function(code, first_object(code, top));
  root_push(&fn.name);
  print_name_line(fn.name, fn.kind);
  root_pop();
}

// What the error system's hooks do.

Value signal_error(uint32_t code, const Value* objects) {
  ThreadState* ts = zvts;
  clear_keyword_slots();
  ts->error_flag = 1;
  if ((code & 0xFF) == MSG_STACK && ts->septr < SIGNAL_ROOM) fatal_stack_error();
  if (code == ERR_STACK_NO_ROOM) fatal_stack_error();
  uint32_t top = push_message(MSG_ERROR, HDR_COLOUR_ERROR, code, objects);
  Value condition = condition_signal(COND_ERROR, make_fixnum(int32_t(code)), top, NIL);
  if (cons_p(condition)) return resolved(top, car(condition));
  root_push(&condition);
  return_to_error_context(top);
  print_kernel_error(code, top);
  alert_pause(300);
  Value v = break_loop((code & 0x400) ? (BRK_VALUE | BRK_NOT_CONTINUABLE) : BRK_NOT_CONTINUABLE,
                       condition);
  root_pop();
  ts->glvalue = v;
  ts->septr = static_cast<uint16_t>(top);
  return v;
}

void signal_cerror(uint32_t code, const Value* objects) {
  ThreadState* ts = zvts;
  uint32_t cont = pending_continuation ? pending_continuation : default_continuation(code);
  pending_continuation = 0;
  clear_keyword_slots();
  ts->error_flag = 1;
  if (ts->septr < SIGNAL_ROOM) fatal_stack_error();
  uint32_t top = push_message(MSG_ERROR, HDR_COLOUR_ERROR, code, objects);
  Value condition =
      condition_signal(COND_CERROR, make_fixnum(int32_t(code)), top, message_text(cont));
  if (cons_p(condition)) {
    resolved(top, NIL);
    return;
  }
  root_push(&condition);
  return_to_error_context(top);
  print_kernel_error(code, top);
  // The continuation text, formatted with the same objects.
  uint32_t mid = ts->septr;
  push_anon(message_text(MSG_CONTINUE));
  uint16_t text = push_anon(NIL);
  for (uint32_t k = 0, n = err_object_count(code); k < n && k < 4; k++)
    push_arg(stack_entry(top - 4 - k).arg);
  stack_entry(text).arg = message_text(cont);
  print_entries(error_stream(), ts->septr, mid);
  alert_pause(300);
  break_loop(0, condition);
  root_pop();
  ts->septr = static_cast<uint16_t>(top);
  ts->glvalue = NIL;
  ts->mv_count = 1;
}

void signal_warning(uint32_t code, const Value* objects) {
  ThreadState* ts = zvts;
  bool must_break = warning_breaks;
  warning_breaks = false;
  clear_keyword_slots();
  if (ts->septr < SIGNAL_ROOM) {
    if ((code & 0xFF) == MSG_STACK) fatal_stack_error();
    return;  // no room to report a notice; it is only a notice
  }
  uint32_t top = push_message(MSG_WARNING, HDR_COLOUR_WARNING, code, objects);
  Value condition = condition_signal(COND_WARNING, make_fixnum(int32_t(code)), top, NIL);
  if (cons_p(condition)) {  // muffled
    ts->septr = static_cast<uint16_t>(top);
    return;
  }
  root_push(&condition);
  print_entries(error_stream(), ts->septr, top);
  if (must_break || !nil_p(sym_value(FS_BREAK_ON_WARNINGS))) {
    alert_pause(100);
    break_loop(0, condition);
  } else {
    pop_up_warnings();
  }
  root_pop();
  ts->septr = static_cast<uint16_t>(top);
}

}  // namespace

// ---------------------------------------------------------------------------
// Public signallers

Value lisp_error(uint32_t code, const Value* objects) {
  Value v[4] = {NIL, NIL, NIL, NIL};
  for (uint32_t k = 0; k < err_object_count(code) && k < 4; k++) v[k] = objects[k];
  return zv_error_fn(code, v);
}
Value lisp_error(uint32_t code) { return zv_error(code); }
Value lisp_error(uint32_t code, Value a) { return zv_error(code, a); }
Value lisp_error(uint32_t code, Value a, Value b) { return zv_error(code, a, b); }

void lisp_fatal_error(uint32_t code, Value a) {
  zv_error(code, a);
  // Only an error with bit 0x400 returns from its break loop; this one was
  // given a value anyway (a test hook, or a confused caller).
  throw_to_listener();
}

void lisp_cerror(uint32_t cont, uint32_t code, const Value* objects) {
  Value v[4] = {NIL, NIL, NIL, NIL};
  for (uint32_t k = 0; k < err_object_count(code) && k < 4; k++) v[k] = objects[k];
  pending_continuation = cont;
  zv_cerror_fn(code, v);
  pending_continuation = 0;
}
void lisp_cerror(uint32_t cont, uint32_t code, Value a) {
  Value v[4] = {a, NIL, NIL, NIL};
  lisp_cerror(cont, code, v);
}

uint32_t default_continuation(uint32_t code) {
  switch (code) {
    case E_MANY_ARGS:
      return MSG_CONT_IGNORE_ARG;
    case E_BAD_KEYWORD:
    case E_KEY_NO_VALUE:
    case E_KEY_PAIR:
      return MSG_CONT_IGNORE_KEY;
    case 0x201F:
      return 32;
    case 0x4048:
      return 73;
    case 0x104F:
      return 84;
    default:
      return MSG_CONT_UNCHANGED;
  }
}

void lisp_warn(uint32_t code, const Value* objects) {
  Value v[4] = {NIL, NIL, NIL, NIL};
  for (uint32_t k = 0; k < err_object_count(code) && k < 4; k++) v[k] = objects[k];
  zv_warn_fn(code, v);
}
void lisp_warn(uint32_t code, Value a) {
  Value v[4] = {a, NIL, NIL, NIL};
  zv_warn_fn(code, v);
}
void lisp_warn_with_break(uint32_t code) {
  Value v[4] = {NIL, NIL, NIL, NIL};
  warning_breaks = true;
  zv_warn_fn(code, v);
  warning_breaks = false;
}

// ---------------------------------------------------------------------------
// Messages

Value message_text(uint32_t n) {
  if (n >= 40) {
    Value t = zv_hooks.message_text ? zv_hooks.message_text(n) : NIL;
    return nil_p(t) ? message_text(MSG_MISSING) : t;
  }
  if (zvm.msg_area == 0 || !zvm.heap_base) return NIL;
  // Other threads move the fill pointer as they allocate: one atomic read.
  uint32_t fill = __atomic_load_n(&zvm.heap_fill, __ATOMIC_RELAXED);
  uint32_t off = zvm.msg_area + 8;
  for (uint32_t k = 0; k < n && off < fill; k++) off += object_size_at(zvm.heap_base + off);
  if (off + 8 > fill) return NIL;
  return (TAG_VECTOR << 24) | off;
}

void print_message(uint32_t sym, uint32_t code, const Value* objects) {
  ThreadState* ts = zvts;
  uint32_t limit = ts->septr;
  if (code & 0x100) {
    bind_message_limit(FS_PRINT_LEVEL, FS_MESSAGE_PRINT_LEVEL);
    bind_message_limit(FS_PRINT_LENGTH, FS_MESSAGE_PRINT_LENGTH);
  }
  Value stream = sym_value(sym ? sym : FS_STANDARD_OUTPUT);
  uint32_t n = err_object_count(code);
  Value v[4] = {NIL, NIL, NIL, NIL};
  for (uint32_t k = 0; k < n && k < 4; k++) v[k] = objects[k];
  for (uint32_t k = 0; k < 4; k++) root_push(&v[k]);
  root_push(&stream);
  Value text = message_text(code & 0xFF);
  emit_formatted(stream, text, n, v);
  root_pop(5);
  unbind_to(limit);
  ts->septr = static_cast<uint16_t>(limit);
}

void print_message(uint32_t sym, uint32_t code, Value a, Value b, Value c) {
  Value v[4] = {a, b, c, NIL};
  print_message(sym, code, v);
}

// The one place that turns a message into text.  Without the format
// engine, or when the stream is not a stream yet, it writes the control
// string as it stands and the objects in hexadecimal to standard output,
// which is enough to see what went wrong.
void emit_formatted(Value stream, Value control, uint32_t nargs, const Value* args) {
  if (zv_hooks.format && is_string(control) && is_stream(stream)) {
    zv_hooks.format(stream, control, nargs, args);
    return;
  }
  std::fflush(stdout);
  if (is_string(control))
    std::printf("\n%.*s", int(string_length(control)),
                reinterpret_cast<char*>(string_bytes(control)));
  else
    std::printf("\n(message)");
  for (uint32_t k = 0; k < nargs; k++) {
    Value v = args[k];
    if (is_string(v))
      std::printf(" \"%.*s\"", int(string_length(v)), reinterpret_cast<char*>(string_bytes(v)));
    else if (is_fixnum(v))
      std::printf(" %d", fixnum_value(v));
    else
      std::printf(" %08X", v);
  }
  std::fflush(stdout);
}

void alert_pause(unsigned ms) {
  if (hdr_u8(HDR_SWITCHES) & SW_ALERTS) host_sleep_ms(ms);
}

// The headers the signallers pushed lie above the context, before any
// frame.
void show_break_message(uint16_t cx) {
  ThreadState* ts = zvts;
  uint32_t first = 0;
  for (uint32_t i = cx + 1u; i < ts->stack_top; i++) {
    uint16_t tag = ts->stack[i].tag;
    if (tag >= 0x8000) break;
    if (is_header_message(ts->stack[i].arg)) first = i;
  }
  if (!first) return;
  // From the outermost header inward, each header with its arguments.
  uint32_t hi = first + 1;
  for (uint32_t i = first; i-- > cx;) {
    if (i == cx || is_header_message(ts->stack[i].arg)) {
      print_entries(error_stream(), i + 1, hi);
      hi = i + 1;
    }
  }
}

// ---------------------------------------------------------------------------
// Built-ins 405-408, 413

namespace {

// A fixnum datum names a documented error text.
Value datum_text(Value d) {
  if (is_fixnum(d) && zv_hooks.error_text) {
    Value t = zv_hooks.error_text(d);
    if (!nil_p(t)) return t;
  }
  return d;
}

// Push header, colour and the frame's arguments from argument `first` on
// (the datum replaced by its text); returns the index above them.
uint32_t push_lisp_message(uint32_t header, uint32_t colour_off, uint32_t first) {
  ThreadState* ts = zvts;
  uint32_t top = ts->septr;
  uint32_t n = arg_count();
  push_anon(message_text(header));
  push_anon(colour(colour_off));
  for (uint32_t k = first; k <= n; k++) push_arg(arg(k));
  if (first <= n) {
    Value t = datum_text(stack_entry(top - 3).arg);
    stack_entry(top - 3).arg = t;
  }
  return top;
}

}  // namespace

Value bi_break(Value, Value) {
  ThreadState* ts = zvts;
  uint32_t top = push_lisp_message(MSG_BREAK, HDR_COLOUR_ERROR, 1);
  print_entries(error_stream(), ts->septr, top);
  alert_pause(200);
  break_loop(0);
  return NIL;
}

// Offer an error of ERROR, CERROR or WARN to the condition system; a
// datum that is no format control prints as the condition's report.
Value signal_lisp_message(uint32_t kind, uint32_t top, Value continuation) {
  Value condition = condition_signal(kind, NIL, top, continuation);
  if (!nil_p(condition) && !cons_p(condition) && !is_string(stack_entry(top - 3).arg))
    condition_as_message(top, condition);
  return condition;
}

namespace {

// The start of ERROR and CERROR: the error flag set and the message pushed
// from argument `first` on; returns the index above it.
uint32_t start_lisp_error(uint32_t first) {
  clear_keyword_slots();
  zvts->error_flag = 1;
  return push_lisp_message(MSG_ERROR, HDR_COLOUR_ERROR, first);
}

// The pushed message of ERROR or CERROR and the function it happened in,
// on the error stream.
void print_lisp_error(uint32_t top) {
  print_entries(error_stream(), zvts->septr, top);
  Value name = interpreted_function_name();
  root_push(&name);
  print_name_line(name, function_kind(name));
  root_pop();
}

}  // namespace

Value bi_cerror(Value, Value) {
  ThreadState* ts = zvts;
  uint32_t top = start_lisp_error(2);
  Value condition = signal_lisp_message(COND_CERROR, top, datum_text(arg(1)));
  if (cons_p(condition)) {
    resolved(top, NIL);
    return NIL;
  }
  root_push(&condition);
  return_to_error_context(top);
  alert_pause(300);
  print_lisp_error(top);
  uint32_t mid = ts->septr;
  uint32_t n = arg_count() - (top - mid);  // the frame's own arguments
  push_anon(message_text(MSG_CONTINUE));
  uint16_t text = push_anon(NIL);
  for (uint32_t k = 3; k <= n; k++) push_arg(arg(k));
  Value t = datum_text(arg(1));
  stack_entry(text).arg = t;
  print_entries(error_stream(), ts->septr, mid);
  break_loop(0, condition);
  root_pop();
  return NIL;
}

Value bi_error(Value, Value) {
  uint32_t top = start_lisp_error(1);
  Value condition = signal_lisp_message(COND_ERROR, top, NIL);
  if (cons_p(condition)) return resolved(top, car(condition));
  root_push(&condition);
  return_to_error_context(top);
  print_lisp_error(top);
  alert_pause(300);
  break_loop(BRK_NOT_CONTINUABLE, condition);
  root_pop();
  return NIL;
}

Value bi_warn(Value, Value) {
  ThreadState* ts = zvts;
  clear_keyword_slots();
  uint32_t top = push_lisp_message(MSG_WARNING, HDR_COLOUR_WARNING, 1);
  Value condition = signal_lisp_message(COND_WARNING, top, NIL);
  if (cons_p(condition)) return resolved(top, NIL);  // muffled
  root_push(&condition);
  print_entries(error_stream(), ts->septr, top);
  if (!nil_p(sym_value(FS_BREAK_ON_WARNINGS))) {
    alert_pause(100);
    break_loop(0, condition);
  } else {
    pop_up_warnings();
  }
  root_pop();
  return NIL;
}

void on_interrupt(int) { interrupt_request(PENDING_KEYBOARD); }

// Control-C: a continuable break that says what happened, so that the
// user knows where the break loop came from (F5 goes on with the
// interrupted computation).
Value bi_keyboard_interrupt(Value, Value) {
  ThreadState* ts = zvts;
  keyboard_interrupt_arm();
  uint32_t top = ts->septr;
  push_anon(message_text(MSG_BREAK));
  push_anon(colour(HDR_COLOUR_ERROR));
  uint16_t text = push_anon(NIL);
  Value t = message_text(MSG_INTERRUPTED);
  stack_entry(text).arg = t;
  print_entries(error_stream(), ts->septr, top);
  break_loop(0);
  ts->septr = static_cast<uint16_t>(top);
  return NIL;
}

void keyboard_interrupt_arm() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_interrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
}

void eval_init() {
  zv_error_fn = signal_error;
  zv_cerror_fn = signal_cerror;
  zv_warn_fn = signal_warning;
  zv_listener_io = zv_default_listener_io;
  if (zvts && !zvts->native_floor) native_stack_note_current();
}
