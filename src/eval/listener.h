// The listener: the break loop that errors, warnings and breaks enter,
// and the one place that decides what the end of input means.
#pragma once

#include <cstdint>

#include "eval/eval.h"
#include "object/value.h"

// Break loop flags.
enum : uint16_t {
  BRK_NOT_CONTINUABLE = 0x08,
  BRK_VALUE = 0x20,
};
// Run a break loop; returns the value to go on with.  `condition` is the
// condition of the error that entered it, or NIL.
Value break_loop(uint16_t flags, Value condition = NIL);

// How a listener talks to the terminal.  The default uses the terminal
// stream (symbol 0xB9) through the reader and printer; tests and the
// console may replace it.  read_key returns a character code, a key code
// (0x100 and up), or -1 at the end of input.
struct ListenerIo {
  int (*read_key)(Value stream);
  void (*unread_key)(Value stream, int c);
  Value (*read_form)(Value stream);
  void (*print_values)(Value stream);  // the current multiple values
};
extern ListenerIo zv_listener_io;
extern const ListenerIo zv_default_listener_io;

// Read a key (a character or a key code, -1 at the end of input) from the
// terminal stream as the listeners do: the prompt variable bound to
// `prompt`, newlines and spaces skipped.
int listener_read_key(Value prompt);
// The function bound to character or key c in the command table held by
// symbol `table` (an association list), or NIL.
Value listener_command(uint32_t table, int c);

// Evaluate a form read from the terminal stream, in lexical environment
// *env when one is given, or call the command function `command`; context
// cx accepts RETURN meanwhile, what is typed is not skipped as by #+ or #-
// (*READ-SUPPRESS* is NIL) and nothing is stepped (the eval hook is off).
// The values are printed, but a command's answer of Escape only sets the
// listener flag when escape_asks_again (the debugger then shows its frame
// again).
void listener_evaluate(uint16_t cx, Value command, const LexState* env, bool escape_asks_again);

// Keys of the break loop.
enum : int {
  KEY_DEBUG = 0x13B,
  KEY_CONTINUE = 0x13D,
  KEY_SHOW_AGAIN = 0x13F,
  KEY_LEAVE_LEVEL = 0x347,
};

// The end of input where the terminal is read.  At top level it returns,
// the read reports the end, and the top level ends the session with exit
// code 0; inside a break loop it ends the session here with exit code 1,
// so scripts see the failure.
void listener_end_of_input();

// How the session ends: program entry replaces the hook to shut the world
// down first; the default flushes standard output and exits.
extern void (*listener_exit_hook)(int code);
[[noreturn]] void listener_exit(int code);
