// Contexts and non-local exits.
//
// A context is a stack entry (tag 0x8000 | flags) whose record lives in the
// native frame of the code that established it.  Leaving to it restores the
// thread state saved in the record and resumes at its setjmp with a
// nonzero throw code.  No C++ exceptions: code that a throw can pass keeps
// no objects with destructors on its frames.
//
//   Context cx;
//   context_push(&cx, CX_BLOCK | CX_NAMED);
//   switch (setjmp(cx.resume)) { case 0: ...; case TC_RETURN: ...; }
//   context_pop(&cx);
//
// Locals changed after setjmp and read after a throw returns there must be
// volatile (or re-read from the Lisp stack).
#pragma once

#include <csetjmp>
#include <cstdint>

#include "object/thread.h"
#include "object/value.h"

// Context flags (low bits of the tag; the tag is 0x8000 | flags).
enum : uint16_t {
  CX_LISTENER = 0x0002,
  CX_DEBUGGER = 0x0004,
  CX_DESCENT = 0x0008,  // the outermost entry of a read or a print
  CX_ERRCATCH = 0x0010,
  CX_BLOCKLIKE = 0x0020,
  CX_RESTART = 0x0040,
  CX_LISTENER_DEBUG = 0x0080,
  CX_EOF = 0x0100,
  CX_NAMED = 0x0200,
  CX_NIL_BLOCK = 0x0400,
  CX_CLEANUP = 0x0800,
  CX_TAGBODY = 0x1000,
  CX_CATCH = 0x2000,
};

// Throw codes delivered to a context's resume point.
enum : uint16_t {
  TC_LISTENER = 0x0002,
  TC_ERROR = 0x0010,
  TC_CONTINUE = 0x0020,  // leave a break loop as its continue key does
  TC_RESTART = 0x0040,
  TC_CONSOLE = 0x0080,
  TC_EOF = 0x0100,
  TC_RETURN = 0x0400,
  TC_CLEANUP = 0x0800,
  TC_GO = 0x1000,
  TC_THROW = 0x2000,
  TC_DESCENT = 0x4000,  // a read or print went as deep as the stacks allow
};

// The context record.  Field order follows the saved thread state: frame
// and environment, lock depths, root top, resume point.
struct Context {
  uint16_t index;  // stack index of the context entry
  uint16_t zvform;
  uint16_t zvlexenv;
  uint16_t lexframe;
  uint32_t lock_depth[3];
  uint32_t root_count;
  // Break loops left by a throw: their level and listener flag return to
  // what they were here, as does a native-stack floor lowered to report
  // an overflow.
  uint16_t break_level;
  uint16_t listener_flag;
  uintptr_t native_floor;
  // A descent guard (CX_DESCENT) keeps the limits of the guard outside it
  // (eval/stack.h: check_descent) and sets its own from where it starts.
  uint32_t outer_descent_septr, outer_descent_roots;
  uintptr_t outer_descent_native;
  std::jmp_buf resume;
};

// Push a context entry with tag 0x8000 | flags onto zvdincxt (cleanup
// contexts, flag 0x800, go onto zvunwindcxt) and fill the record; the
// caller calls setjmp(cx->resume) next, in its own frame.
void context_push(Context* cx, uint16_t flags);
// Leave a context normally: unlink it from zvdincxt (it must be the head)
// and discard its entry and everything pushed after it.
void context_pop(Context* cx);

inline Context* context_at(uint32_t i) { return zvts->cx_records[i]; }
inline uint16_t context_flags(uint32_t i) { return zvts->stack[i].tag & 0x3FFF; }
inline void context_set_flags(uint32_t i, uint16_t flags) {
  zvts->stack[i].tag = static_cast<uint16_t>(0x8000 | flags);
}

// Leave to the context at stack index `target` with `code` (never
// returns): runs the cleanup contexts on the way, undoes dynamic value and
// function bindings, releases locks taken since, restores the record.
[[noreturn]] void throw_to(uint16_t code, uint16_t target);
// Throw code 2 to the nearest listener context, with no values.
[[noreturn]] void throw_to_listener();

// Offer the values between septr and `index` to the nearest
// error-catching context (a listener or debugger context ends the
// search); returns when there is none.
void return_to_error_context(uint32_t index);

// Run body(data) under a cleanup context of the given kind (low flag bits);
// cleanup(flag, data) then runs exactly once, with flag 0 after normal
// completion and 1 when a throw passes, the values of the body or of the
// throw preserved across it.  Returns 0, or TC_RESTART when a restart was
// aimed at this context.
using CleanupBody = Value (*)(void* data);
using CleanupFn = void (*)(int flag, void* data);
uint16_t establish_cleanup(CleanupBody body, CleanupFn cleanup, uint16_t kind, void* data);

// The reader and the printer go down one native call per level of the
// data.  Their outermost entries run under a descent guard: where the
// stacks run short (check_descent), the whole read or print is left to its
// guard, and error 38 is signalled there, with the room it had on entry
// for the handlers and a break loop.  run_descent_guarded runs body(data)
// under a guard and returns false when it was left so; the caller puts
// back what the body left undone and signals the error.  Guards are looked
// for out to the nearest listener.
bool run_descent_guarded(void (*body)(void* data), void* data);
[[noreturn]] void descent_exhausted();

// Guarded entries: a named block keeps its name, a catch its tag and a
// tag body (flag 0x1000, loops included) its body list in the entry just
// below the context, pushed right after it.  GO, RETURN-FROM and THROW
// look there.

// Innermost context on zvdincxt whose flags include any of `mask`, or 0.
uint16_t find_context(uint16_t mask);
// Outermost context on zvdincxt whose flags include any of `mask`, or 0.
uint16_t find_outermost_context(uint16_t mask);

// End of file in a stream read: with error_p false and no object partly
// read, throw 0x100 to the nearest end-of-file context guarding the stream
// (the entry just below it); otherwise error 0x1043 with the stream.
void end_of_file(Value stream, bool error_p);
