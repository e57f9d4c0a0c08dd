// The top-level driver.
//
// One listener context holds the whole session: errors, aborts and the
// console's interruptions come back to it and the loop starts a fresh
// pass.  The loop itself runs on a native stack big enough that the Lisp
// stack always runs out first.
#include "image/driver.h"

#include <cfenv>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/stack.h"
#include "image/startup.h"
#include "image/system_builtins.h"
#include "io/console.h"
#include "io/files.h"
#include "io/host.h"
#include "io/stream.h"
#include "object/gc.h"
#include "object/memory.h"
#include "text/printer.h"
#include "text/reader.h"
#include "text/strings.h"

namespace {

constexpr uint32_t kMsgValues = 0x2001;     // message 1: NIL, the number of values
constexpr uint32_t kMsgBanner = 0x1004;     // message 4: the status colour
constexpr uint32_t kErrBadPrompt = 0x104D;  // 4173: the prompt symbol
constexpr uint32_t kErrFloat = 0x104E;      // floating-point exception

constexpr uint16_t kRestart = 10;  // throw code asking for a restart
constexpr int kEsc = 27;

// End of input while reading a form: a character no user character equals.
constexpr Value kEofMark = 0x0A00101A;

// ---------------------------------------------------------------------------
// Signals

// Floating-point exceptions arrive as sub-codes 0..5 (invalid, denormal,
// division by zero, overflow, underflow, inexact), as the error text
// expects them.
int float_subcode(int si_code) {
  switch (si_code) {
    case FPE_INTDIV:
    case FPE_FLTDIV:
      return 2;
    case FPE_INTOVF:
    case FPE_FLTOVF:
      return 3;
    case FPE_FLTUND:
      return 4;
    case FPE_FLTRES:
      return 5;
  }
  return 0;
}

// Runs on the thread that faulted.  Returning would run the faulting
// instruction again, so after the error the thread goes back to its
// listener whatever the break loop decided.
void on_float_exception(int, siginfo_t* info, void*) {
  std::feclearexcept(FE_ALL_EXCEPT);
  lisp_error(kErrFloat, make_fixnum(float_subcode(info->si_code)));
  throw_to_listener();
}

void install_signal_handlers() {
  keyboard_interrupt_arm();
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_sigaction = on_float_exception;
  // The handler leaves by a non-local jump, which does not restore the
  // signal mask: the signal must not stay blocked behind it.
  sa.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  if (sigaction(SIGFPE, &sa, nullptr) != 0) {
    std::fputs("Couldn't set SIGFPE\n", stdout);
    std::fflush(stdout);
    std::abort();
  }
}

// ---------------------------------------------------------------------------
// One-time initialisation

bool has_function(uint32_t sym) {
  Value f = sym_function(sym);
  return !nil_p(f) && !is_no_value(f);
}

// The start-up action of the image: the function of the start-up symbol,
// or else the file named after it in the working directory.
void run_startup_action() {
  if (!memq(make_symbol(FS_STARTUP), sym_value(FS_FEATURES))) return;
  if (has_function(FS_STARTUP)) {
    call_function0(make_symbol(FS_STARTUP));
    return;
  }
  Value name = sym_name(FS_STARTUP);
  char file[ZV_PATH_SIZE];
  uint32_t n = is_string(name) ? string_length(name) : 0;
  if (n + 5 > sizeof file) return;
  std::memcpy(file, string_bytes(name), n);
  std::memcpy(file + n, ".LSP", 5);
  // Only the part the system spells is upper-cased; the directory is the
  // host's, and host names are matched without regard to case anyway.
  str_upcase_bytes(reinterpret_cast<uint8_t*>(file), n);
  char path[3 * ZV_PATH_SIZE];
  std::snprintf(path, sizeof path, "%s%s%s", zv_current_drive, zv_current_dir, file);
  Value p = str_from_cstr(path);
  call_function3(make_symbol(FS_LOAD), p, make_keyword(FS_IF_DOES_NOT_EXIST), NIL);
}

// ---------------------------------------------------------------------------
// The pieces of a pass

// Back to a clean state at the listener: nothing of an abandoned pass
// stays on the stack or bound.
void reset_to_listener(const Context* cx) {
  ThreadState* ts = zvts;
  unbind_functions_to(cx->index);
  unbind_to(cx->index);
  ts->septr = cx->index;
  ts->zvform = cx->zvform;
  ts->zvlexenv = cx->zvlexenv;
  ts->lexframe = cx->lexframe;
  ts->glvalue = NIL;
  ts->mv_count = 1;
  ts->break_level = 0;
  ts->listener_flag = 0;
  ts->evalhook_skip = 0;
  ts->root_count = cx->root_count;
  kw_clear();
}

Value output() { return output_stream(sym_value(FS_STANDARD_OUTPUT)); }

// The prompt written by the driver itself, for input that is not a window
// (a window writes it when it next needs a line).  NIL shows nothing, as
// in a window.
void write_prompt(Value out) {
  Value p = sym_value(FS_PROMPT);
  if (nil_p(p) || is_no_value(p)) return;
  root_push(&out);
  if (tag_of(p) == TAG_CHAR) {
    if (stream_column(out) != 0) stream_write_char(out, '\n');
    stream_write_char(out, int(char_code(p)));
  } else {
    if (is_symbol(p)) p = sym_name(symbol_index(p));
    if (!is_string(p)) {
      lisp_error(kErrBadPrompt, make_symbol(FS_PROMPT));
    } else {
      root_push(&p);
      if (stream_column(out) != 0) stream_write_char(out, '\n');
      // Re-read the bytes each time: writing may move the string.
      for (uint32_t i = 0; i < string_length(p); i++) stream_write_char(out, string_bytes(p)[i]);
      root_pop();
    }
  }
  root_pop();
}

void arm_prompt(Value in) {
  if (is_window_stream(in))
    console_arm_prompt();
  else
    write_prompt(output());
}

void print_banner() {
  print_message(FS_STATUS_STREAM, kMsgBanner, make_fixnum(hdr_u16(HDR_ATTR_STATUS)));
}

// First character of the next form, past line ends and blanks; -1 at the
// end of the input.
int next_char(Value in) {
  int c;
  do c = stream_read_char(in);
  while (c == '\n' || c == ' ');
  return c;
}

bool is_function(Value f) {
  if (is_builtin(f) && builtin_kind(f) >= KIND_FIXED) return true;
  if (cons_p(f)) return car(f) == make_symbol(FS_LAMBDA) || car(f) == make_symbol(FS_LEXICAL_CLOSURE);
  return tag_of(f) == TAG_SYMBOL && has_function(symbol_index(f));
}

// The function of command character c, or NIL.
Value find_command(int c) {
  for (Value l = sym_value(FS_TOP_LEVEL_COMMANDS); cons_p(l); l = cdr(l)) {
    Value e = car(l);
    if (!cons_p(e) || tag_of(car(e)) != TAG_CHAR) continue;
    if ((car(e) & 0xFFFF) == uint32_t(c) && is_function(cdr(e))) return cdr(e);
  }
  return NIL;
}

void shift(uint32_t first, Value newest) {
  sym_set_value(first + 2, sym_value(first + 1));
  sym_set_value(first + 1, sym_value(first));
  sym_set_value(first, newest);
}

// After an evaluation or a command with values: keep them, record the
// histories and print them.
void finish_pass(Value first) {
  ThreadState* ts = zvts;
  uint16_t top = ts->septr;
  uint32_t n = values_push(first);
  if (hdr_u8(HDR_SWITCHES) & SW_ALERTS) host_sleep_ms(75);
  Value values = args_to_list(ts->septr, top);
  root_push(&values);
  shift(FS_HISTORY_FORM, sym_value(FS_CURRENT_FORM));
  shift(FS_HISTORY_VALUE, cons_p(values) ? car(values) : NIL);
  shift(FS_HISTORY_VALUES, values);
  Value out = output();
  root_push(&out);
  driver_print_values(values, out);
  print_message(FS_STATUS_STREAM, kMsgValues, NIL, make_fixnum(int32_t(n)));
  root_pop(2);
  pop_to(top);
  if (hdr_u8(HDR_SWITCHES) & SW_MEMORY_STATS) gc_status_line(0, ' ');
}

// The passes of the loop; returns at the end of the input.  A throw to the
// listener abandons this frame, and the driver calls it again.
void run_passes(const Context* cx) {
  bool armed = true;  // the first pass arms the prompt
  for (;;) {
    reset_to_listener(cx);
    Value in = input_stream(sym_value(FS_STANDARD_INPUT));
    root_push(&in);
    if (armed) arm_prompt(in);
    int c = next_char(in);
    if (c < 0) return;
    Value first;
    Value command = find_command(c);
    if (!nil_p(command)) {
      first = call_function0(command);
      if (mv_count() == 0) {
        armed = false;
        continue;
      }
      if (first == make_char(kEsc)) {
        // Cancelled: the banner again and a fresh prompt.
        print_banner();
        armed = true;
        continue;
      }
    } else if (c >= 0x100) {
      // A key no command is bound to (a function key ends the line editor
      // on an empty line): nothing to read, the same prompt again.
      armed = false;
      continue;
    } else {
      stream_unread_char(in, c);
      Value form = read_from(in, false, kEofMark, false);
      if (form == kEofMark) return;
      sym_set_value(FS_CURRENT_FORM, form);
      set_car(zvts->eval_slot, form);
      first = eval(zvts->eval_slot);
    }
    root_pop();
    finish_pass(first);
    armed = true;
  }
}

struct DriverRun {
  int first_time;
};

// The standard streams of a world: each names the terminal window, as at
// start-up, whatever the world was bound to when it was saved.
void set_standard_streams() {
  console_attach_standard_windows();
  Value terminal = sym_value(FS_TERMINAL_IO);
  const uint32_t standard[] = {FS_STANDARD_OUTPUT,      FS_STANDARD_INPUT,   FS_QUERY_IO,
                               FS_ERROR_OUTPUT, FS_DEBUG_IO, FS_TRACE_OUTPUT};
  for (uint32_t s : standard) sym_set_value(s, terminal);
}

bool initialised = false;

bool driver_initialised() { return initialised; }


// Back at the listener with nothing of the old world on the stack: a
// world loaded by 440 replaces it here.
void install_staged_world() {
  if (!image_has_pending()) return;
  // The old world's files go with it; their buffered output is written.
  files_close_all();
  handle_release_files();
  image_install_pending();
  driver_setup_world();
}

int driver_body(void* data) {
  DriverRun* run = static_cast<DriverRun*>(data);
  Context cx;
  // Listener, and the flags every listener carries: the console's
  // interruptions (0x80) are rethrown to the nearest such context.
  context_push(&cx, CX_LISTENER | CX_BLOCKLIKE | CX_LISTENER_DEBUG);
  int code = setjmp(cx.resume);
  if (code == TC_INSTALL_WORLD) {
    install_staged_world();
    code = TC_LISTENER;
  } else {
    // A throw that was to install a world and went elsewhere.
    image_discard_pending();
  }
  if (code != 0 && code != TC_LISTENER && code != TC_CONSOLE) {
    context_pop(&cx);
    return code == kRestart ? 1 : 0;
  }
  if (code == TC_LISTENER) std::feclearexcept(FE_ALL_EXCEPT);
  if (code != TC_CONSOLE && run->first_time) {
    // A kernel restarted on another image runs its driver afresh: the new
    // world needs what the one-time initialisation gave the first.
    if (code == 0 && driver_initialised()) driver_setup_world();
    driver_init_once();
  }
  print_banner();
  run_passes(&cx);
  zvts->root_count = cx.root_count;
  context_pop(&cx);
  return 0;
}

}  // namespace

void driver_setup_world() {
  sym_set_value(FS_APPLYHOOK, NIL);
  sym_set_value(FS_EVALHOOK, NIL);
  driver_set_reserves();
  console_window(WIN_TERMINAL)->attribute = hdr_u16(HDR_ATTR_TERMINAL);
  console_window(WIN_STATUS)->attribute = hdr_u16(HDR_ATTR_STATUS);
  set_standard_streams();
}

void driver_set_reserves() {
  uint32_t n = hdr_u32(HDR_STACK_N);
  zvm.cons_reserve = zvm.cons_cap / 16;
  mem_arm_reserve();
  zvts->stack_reserve = n / 4;
  zvts->root_reserve = zvts->root_cap / 4;
}

void driver_init_once() {
  if (initialised) return;
  initialised = true;
  install_signal_handlers();
  driver_setup_world();
  run_startup_action();
}

void driver_print_values(Value values, Value stream) {
  root_push(&values);
  root_push(&stream);
  if (nil_p(values)) print_object(NIL, stream, PRINT_NEWLINE | PRINT_ESCAPE);
  for (; cons_p(values); values = cdr(values))
    print_object(car(values), stream, PRINT_NEWLINE | PRINT_ESCAPE);
  root_pop(2);
}

int driver_top_level(int first_time) {
  DriverRun run{first_time};
  return run_on_big_stack(driver_body, &run, native_stack_bytes(zvts->stack_top));
}
