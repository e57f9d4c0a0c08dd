// The error signaller and messages.
//
// An error code carries its message number in bits 0..7, 0x400 when the
// break loop may return a replacement value, and the number of objects
// that follow it in bits 12..15.  The signallers print through the format
// engine on the error output stream, offer the error to the nearest
// error-catching context first, and then run a break loop.
#pragma once

#include <cstdint>

#include "eval/context.h"
#include "eval/listener.h"
#include "object/memory.h"
#include "object/value.h"

// Error codes the evaluator raises itself.
enum : uint32_t {
  E_STACK = 0x0026,          // Lisp or root-pointer stack overflow
  E_FEW_ARGS_CALL = 0x0033,  // through FUNCALL/APPLY or a kernel call
  E_FEW_ARGS = 0x0433,       // evaluated call or special form; replaceable
  E_IF_ELSE = 0x0434,        // IF with several else forms
  E_BAD_TYPE = 0x1032,       // wrong type, not replaceable (4146)
  E_MANY_ARGS = 0x1034,      // cerror: too many arguments (4148)
  E_BAD_KEYWORD = 0x1036,    // cerror: not a keyword / not accepted (4150)
  E_KEY_NO_VALUE = 0x1037,   // cerror: keyword without a value (4151)
  E_BIND_CONSTANT = 0x103B,  // cerror: binding or assigning a constant (4155)
  E_EOF = 0x1043,            // end of file without an end-of-file context
  E_FLOAT = 0x104E,          // floating-point exception
  E_UNBOUND = 0x1430,        // unbound variable (5168)
  E_UNDEFINED = 0x1431,      // undefined function (5169)
  E_WRONG_TYPE = 0x1432,     // wrong type of argument (5170)
  E_NO_TAG = 0x143D,         // GO / THROW without a target
  E_NO_BLOCK = 0x143E,       // RETURN / RETURN-FROM without a block
  E_LAMBDA_LIST = 0x143F,    // malformed lambda list element
  E_DOTIMES = 0x144F,        // DOTIMES count not an integer
  E_KEY_PAIR = 0x2038,       // cerror: exclusive keywords both given (8248)
  E_BOUNDS = 0x203A,         // end below start (8250)
  W_REDEFINED = 0x201A,      // warning: a definition replaced (8218)
};

// Continuation messages of continuable errors.
enum : uint32_t {
  MSG_CONT_IGNORE_ARG = 53,
  MSG_CONT_IGNORE_KEY = 57,
  MSG_CONT_UNCHANGED = 60,
};

// Messages the signaller prints.
enum : uint32_t {
  MSG_MISSING = 20,
  MSG_WARNING = 25,
  MSG_ERROR = 27,
  MSG_NAME_LINE = 28,
  MSG_CONTINUE = 29,
  MSG_BREAK = 30,
  MSG_BREAK_PROMPT = 12,
  MSG_BREAK_BANNER = 17,
  MSG_RETURN_REFUSED = 45,
  MSG_CONTINUE_REFUSED = 46,
  MSG_INTERRUPTED = 42,  // a keyboard interrupt (Control-C)
  MSG_THREAD_LINE = 134,  // under the banner of a started thread's break loop: its name
};

// Signal an error.  `objects` holds exactly as many Values as bits 12..15
// of the code say (missing ones are NIL in the variadic forms).  Returns
// only with a replacement value (codes with bit 0x400) or when continued.
Value lisp_error(uint32_t code, const Value* objects);
Value lisp_error(uint32_t code);
Value lisp_error(uint32_t code, Value a);
Value lisp_error(uint32_t code, Value a, Value b);
// The usual complaint about an argument: error 5170 with it.  The
// signaller returns only with a replacement value for the call.
inline Value wrong_type(Value x) { return lisp_error(E_WRONG_TYPE, x); }
// The hard kind for callers that must not go on: never returns.
[[noreturn]] void lisp_fatal_error(uint32_t code, Value a = NIL);
// The conses of a list walked whole: a circular one is the wrong type of
// argument (it would be walked for ever).
[[noreturn]] inline void fail_circular(Value list) { lisp_fatal_error(E_WRONG_TYPE, list); }
inline uint32_t list_walk_length(Value list) {
  int64_t n = list_conses(list);
  if (n < 0) fail_circular(list);
  return uint32_t(n);
}

// Continuable error: message `code`, continuation message `cont`.  Returns
// when the user continues; glvalue is NIL afterwards.
void lisp_cerror(uint32_t cont, uint32_t code, const Value* objects);
void lisp_cerror(uint32_t cont, uint32_t code, Value a = NIL);
// The continuation message the kernel uses for a continuable code when the
// caller does not say (53 for surplus arguments, 57 for keywords, ...).
uint32_t default_continuation(uint32_t code);

// Warning: printed; a break loop only when symbol 0xB8 is non-NIL.
void lisp_warn(uint32_t code, const Value* objects);
void lisp_warn(uint32_t code, Value a = NIL);
// A warning that always runs a break loop (error 38 with a halved reserve).
void lisp_warn_with_break(uint32_t code);

// The text Value of message n: 0..39 from the image's message area, 40 and
// up from the documentation store (message 20 when it has none).  NIL when
// the world carries no messages at all.
Value message_text(uint32_t n);
// Print message (code & 0xFF) with (code >> 12) objects as format
// arguments to the stream in the value of symbol `sym` (0: standard
// output).  Flag 0x100 binds the printer's length and level limits to
// their message values while it prints.
void print_message(uint32_t sym, uint32_t code, const Value* objects);
void print_message(uint32_t sym, uint32_t code, Value a = NIL, Value b = NIL, Value c = NIL);

// The format engine as the signaller uses it, kept in one place: a
// control string and arguments onto a stream.
void emit_formatted(Value stream, Value control, uint32_t nargs, const Value* args);

// Install the keyboard-interrupt handler: it only sets the pending flag
// that eval polls.
void keyboard_interrupt_arm();

// The alert pause (header switch bit 3).
void alert_pause(unsigned ms);

// Show again the message of the break whose listener context is at cx
// (the headers the signallers pushed lie above it).
void show_break_message(uint16_t cx);

// Installs the signaller into the object layer's error hooks and sets up
// the evaluator's per-process state.  Called by program entry before the
// first image is loaded, by the genesis, and by the unit-test world.
void eval_init();
