// The break loop: errors, warnings and breaks run one, nested one level
// per break, until the user continues, returns a value or leaves the
// level.  It reads keys and forms from the terminal stream through
// zv_listener_io, and it is the one place where the end of that input is
// decided.
#include "eval/listener.h"

#include <cstdio>
#include <cstdlib>

#include "eval/conditions.h"
#include "eval/context.h"
#include "eval/debugger.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/hooks.h"
#include "eval/lisp_thread.h"
#include "eval/io_locks.h"
#include "eval/stack.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "threads/safepoint.h"

namespace {

constexpr uint32_t PRINT_NEWLINE_ESCAPE = 0x03;  // printer flags: fresh line, escaped

void default_exit(int code) {
  std::fflush(stdout);
  std::exit(code);
}

}  // namespace

void (*listener_exit_hook)(int code) = default_exit;

void listener_exit(int code) {
  listener_exit_hook(code);
  std::exit(code);  // a hook that returns must not resume the read
}

void listener_end_of_input() {
  if (zvts && zvts->break_level > 0) listener_exit(1);
}

namespace {

int default_read_key(Value stream) {
  if (zv_hooks.read_char && is_stream(stream)) {
    if (zv_hooks.arm_prompt) zv_hooks.arm_prompt();
    return zv_hooks.read_char(stream);
  }
  int c = std::getchar();
  return c == EOF ? -1 : c;
}

void default_unread_key(Value stream, int c) {
  if (zv_hooks.unread_char && is_stream(stream))
    zv_hooks.unread_char(stream, c);
  else if (c >= 0 && c < 256)
    std::ungetc(c, stdin);
}

Value default_read_form(Value stream) {
  if (zv_hooks.read_form && is_stream(stream)) return zv_hooks.read_form(stream);
  std::printf("\nNo reader in this kernel\n");
  return NIL;
}

void default_print_values(Value stream) {
  ThreadState* ts = zvts;
  root_push(&stream);
  uint32_t before = ts->septr;
  uint32_t n = values_push(ts->glvalue);
  for (uint32_t k = 0; k < n; k++) {
    Value v = stack_entry(before - 1 - k).arg;
    if (zv_hooks.print && is_stream(stream))
      zv_hooks.print(v, stream, PRINT_NEWLINE_ESCAPE);
    else
      emit_formatted(stream, NIL, 1, &v);
  }
  ts->septr = static_cast<uint16_t>(before);
  root_pop();
}

void show_banner(uint16_t flags) {
  Value args[2] = {make_fixnum(zvts->break_level), bool_value(!(flags & BRK_NOT_CONTINUABLE))};
  // Without a status window the banner goes where the user is looking:
  // the terminal, when a window is attached to its stream.
  Value stream = sym_value(FS_STATUS_STREAM);
  Value terminal = sym_value(FS_TERMINAL_IO);
  // (Only when the break loop reads from the terminal: a program that reads
  // its break commands elsewhere is not watched from the terminal.)
  bool status_visible = zv_hooks.status_visible && zv_hooks.status_visible();
  if (!status_visible && sym_value(FS_DEBUG_IO) == terminal && tag_of(terminal) == TAG_OBJECT &&
      heap_type(terminal) == (HT_WINDOW | HT_STREAM_INPUT | HT_STREAM_OUTPUT) &&
      heap_word(terminal, 2) != 0)
    stream = terminal;
  emit_formatted(stream, message_text(MSG_BREAK_BANNER), 2, args);
  // With several threads a break loop may be any thread's: a started
  // one's says whose it is where the user answers it.
  if (zvts->thread_number != 0) print_message(FS_DEBUG_IO, 0x1000 | MSG_THREAD_LINE, thread_own_name());
}

// The terminal stream, read afresh at each use: reading may move it.
inline Value debug_io() { return sym_value(FS_DEBUG_IO); }

int read_key() { return listener_read_key(message_text(MSG_BREAK_PROMPT)); }

Value find_command(int c) { return listener_command(FS_BREAK_COMMANDS, c); }

void refused(uint32_t msg) {
  print_message(FS_ERROR_OUTPUT, msg);
  host_sleep_ms(75);
}

}  // namespace

void listener_evaluate(uint16_t cx, Value command, const LexState* env, bool escape_asks_again) {
  ThreadState* ts = zvts;
  uint16_t tag = ts->stack[cx].tag;
  ts->stack[cx].tag = static_cast<uint16_t>(tag | CX_NIL_BLOCK);
  uint32_t limit = ts->septr;
  // A break inside a form skipped by #+ or #- must not read or evaluate
  // what is typed here as skipped too.
  SymSearch suppress = sym_search_cstr("*READ-SUPPRESS*");
  if (suppress.found) bind_special(suppress.index, NIL);
  Value v;
  if (!nil_p(command)) {
    // Commands are never stepped, even in a break inside stepped code.
    bind_special(FS_EVALHOOK, NIL);
    v = call_function0(command);
  } else {
    Value form = zv_listener_io.read_form(debug_io());
    root_push(&form);
    bind_special(FS_EVALHOOK, NIL);
    LexState saved = lexenv_save();
    if (env) lexenv_restore(*env);
    v = eval_form(form);
    lexenv_restore(saved);
    root_pop();
  }
  ts->glvalue = v;
  unbind_to(limit);
  ts->stack[cx].tag = tag;
  if (escape_asks_again && tag_of(v) == TAG_CHAR && (v & 0xFFFF) == 0x1B) {  // Escape
    ts->listener_flag = 1;
  } else {
    // The values stay where the printer finds them until printed.
    root_push(&v);
    zv_listener_io.print_values(debug_io());
    root_pop();
  }
  ts->septr = static_cast<uint16_t>(limit);
}

int listener_read_key(Value prompt) {
  ThreadState* ts = zvts;
  uint32_t limit = ts->septr;
  bind_special(FS_PROMPT, prompt);
  // Read as a listener: the console then hands over the keys that move
  // through frames.
  uint16_t listening = ts->listener_flag;
  ts->listener_flag = 1;
  int c;
  do c = zv_listener_io.read_key(debug_io());
  while (c == '\n' || c == ' ' || c == '\r');
  ts->listener_flag = listening;
  unbind_to(limit);
  ts->septr = static_cast<uint16_t>(limit);
  return c;
}

Value listener_command(uint32_t table, int c) {
  for (Value l = sym_value(table); cons_p(l); l = cdr(l)) {
    Value pair = car(l);
    if (cons_p(pair) && tag_of(car(pair)) == TAG_CHAR && int(car(pair) & 0xFFFF) == c)
      return cdr(pair);
  }
  return NIL;
}

const ListenerIo zv_default_listener_io = {default_read_key, default_unread_key, default_read_form,
                                           default_print_values};
ListenerIo zv_listener_io = zv_default_listener_io;

Value break_loop(uint16_t flags, Value condition) {
  ThreadState* ts = zvts;
  // A started thread breaks only at an interactive console; elsewhere the
  // error ends it, recorded for JOIN-THREAD.
  if (ts->thread_number != 0) thread_refuse_break(condition);
  ts->break_level++;
  // What else was typed on the line that led here is not run: the user
  // answers the break first, as after an error in the middle of a line.
  if (zv_hooks.drop_line) zv_hooks.drop_line();
  uint16_t frame = ts->zvform;
  uint16_t old_mark = frame ? uint16_t(ts->stack[frame].tag & 2) : 0;
  if (frame) ts->stack[frame].tag |= 2;
  uint16_t old_listener = ts->listener_flag;
  // What the user types here is read from the reader's state between
  // reads; a read this break interrupted gets its own state back when the
  // level returns to it.
  alignas(8) unsigned char held_read[READER_HOLD_BYTES];
  if (zv_hooks.reader_hold) zv_hooks.reader_hold(held_read);
  // The level's element of the condition system's clusters hides the
  // handlers outside and carries the restarts of this level.  It is bound
  // below the context, clear of the message the signaller pushed above
  // it, so a throw to the context undoes the binding: it is made again.
  root_push(&condition);
  Value chain = NIL;
  uint32_t chain_root = ts->root_count;
  root_push(&chain);
  // One break loop at a time owns the console: the other threads stop at
  // their next console input or output until it ends.  Taken outside the
  // context, so only leaving the level gives it up.
  uint32_t console_mark = io_holds_mark();
  hold_interpreter();
  Context cx;
  context_push(&cx, uint16_t(CX_LISTENER | CX_LISTENER_DEBUG | flags));
  chain = condition_enter_break(cx.index, flags);
  ts->listener_flag = 1;
  condition_call(COND_BREAK, NIL, condition);
  show_banner(flags);
  volatile Value result = NIL;
  for (;;) {
    int code = setjmp(cx.resume);
    ts = zvts;
    if (code) condition_rebind(*ts->root_base[chain_root]);
    if (code == TC_RETURN) {
      if (flags & BRK_VALUE) {
        result = ts->glvalue;
        break;
      }
      refused(MSG_RETURN_REFUSED);
    } else if (code == TC_CONTINUE) {
      // The CONTINUE restart of this level: what the continue key does.
      result = NIL;
      break;
    } else if (code == TC_LISTENER) {
      show_break_message(cx.index);
      condition_call(COND_SHOW_RESTARTS, NIL, NIL);
      show_banner(flags);
    } else if (code == TC_CONSOLE) {
      ts->listener_flag = 0;
    } else if (code == TC_ERROR || code == TC_RESTART) {
      // Not aimed at a listener; treat as a return to this level.
      show_banner(flags);
    }
    int c = read_key();
    if (c < 0) listener_end_of_input();
    if (c != KEY_CONTINUE && c != KEY_SHOW_AGAIN && c != KEY_LEAVE_LEVEL && c != KEY_DEBUG) {
      Value command = find_command(c);
      if (nil_p(command) && c >= 0x100) continue;  // a key nothing is bound to
      if (nil_p(command)) zv_listener_io.unread_key(debug_io(), c);
      debug_request_clear();
      listener_evaluate(cx.index, command, nullptr, false);
      // A command may stand for one of the keys (typed where there are no
      // function keys).
      int32_t key;
      if (debug_request_take(&key) != REQ_KEY) continue;
      c = key;
    }
    if (c == KEY_CONTINUE) {
      if (!(flags & BRK_NOT_CONTINUABLE)) {
        result = ts->glvalue;
        break;
      }
      refused(MSG_CONTINUE_REFUSED);
      continue;
    }
    if (c == KEY_SHOW_AGAIN) {
      show_break_message(cx.index);
      condition_call(COND_SHOW_RESTARTS, NIL, NIL);
      show_banner(flags);
      continue;
    }
    if (c == KEY_LEAVE_LEVEL) {
      if (frame) ts->stack[frame].tag = uint16_t((ts->stack[frame].tag & ~2) | old_mark);
      context_pop(&cx);
      ts->break_level--;
      ts->listener_flag = old_listener;
      throw_to_listener();
    }
    if (c == KEY_DEBUG) debugger(0);
  }
  Value r = result;
  if (frame) ts->stack[frame].tag = uint16_t((ts->stack[frame].tag & ~2) | old_mark);
  unbind_to(cx.index);
  context_pop(&cx);
  io_holds_release(console_mark);
  root_pop(2);
  if (zv_hooks.reader_give_back) zv_hooks.reader_give_back(held_read);
  ts->break_level--;
  ts->listener_flag = old_listener;
  ts->glvalue = r;
  return r;
}
