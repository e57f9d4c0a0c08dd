// The kernel's side of the image's condition system.
//
// Fixed symbol 34 belongs to it.  Its function, when the image defines
// one, is what the signallers and the break loop call.  Its value, when it
// is a symbol, names the special variable that holds the handler and
// restart clusters in force, innermost first; Lisp code binds that
// variable, and so does the kernel, so that an error-catching context and
// a break loop each hide the handlers established outside them (a NIL
// element marks an error-catching context, a fixnum a break level).
// Symbol 34 itself is never bound: a binding of it would carry the tag of
// an argument entry.
#pragma once

#include <cstdint>

#include "object/value.h"

// What the function of symbol 34 is asked.  It is called with six
// arguments (kind code datum arguments continuation operator) and is
// turned off (its function cell bound to NIL) while it runs.
enum : uint32_t {
  COND_ERROR = 0,          // an error is about to be offered and printed
  COND_CERROR = 1,         // a continuable error
  COND_WARNING = 2,        // a warning
  COND_BREAK = 3,          // a break loop starts (datum: its condition)
  COND_SHOW_RESTARTS = 4,  // show the restarts of the break loop again
  COND_TAKE_RESTART = 5,   // take restart number `code`
};

// Offer the message a signaller has pushed to the condition system: the
// entries from index top - 1 down to septr are the header, the colour,
// the datum (the message text, or the datum of ERROR, CERROR or WARN) and
// its arguments.  `code` is the error code as a fixnum, or NIL for the
// Lisp signallers.  Returns NIL (no condition system, or nothing to say),
// a condition no handler took, or a cons whose car the signaller returns
// at once: a restart resolved the error.
Value condition_signal(uint32_t kind, Value code, uint32_t top, Value continuation);

// After condition_signal gave a condition for a datum that is no string
// (ERROR called with a condition or a condition type), make the pushed
// message print the condition's report: the datum becomes "~A" and the
// condition its only argument.
void condition_as_message(uint32_t top, Value condition);

// Call the condition system about the break loop (COND_BREAK,
// COND_SHOW_RESTARTS or COND_TAKE_RESTART); `datum` is the condition.
Value condition_call(uint32_t kind, Value code, Value datum);

// Bind the variable of the clusters to a new innermost element NIL, which
// marks an error-catching context.  The caller pushes its context next: the
// binding lies above it, so throws to that context keep it, and the
// caller undoes it after popping the context.
void condition_bind_barrier();
// Bind the variable of the clusters to a new innermost element for the
// break level whose listener context is at index cx (pushed just before):
// a fixnum of cx with the break flags shifted up by 16.  Returns the new
// chain (NIL when the image names no variable); a throw to the context
// undoes the binding, and condition_rebind makes it again.
Value condition_enter_break(uint16_t cx, uint16_t flags);
void condition_rebind(Value chain);
