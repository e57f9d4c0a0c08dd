// The Lisp stack: checked entry access, pushes and pops, frames, dynamic
// binding and its undoing, the stack reserves, and the native stack the
// evaluator recurses on.
//
// Indices are 16 bits and the stack grows toward 0, so an entry pushed
// later always has the smaller index: "made after point L" is "index < L".
#pragma once

#include <cstddef>
#include <cstdint>

#include "object/symbols.h"
#include "object/thread.h"
#include "object/value.h"

// ---------------------------------------------------------------------------
// Index check

// A corrupt index ends the process: "Error: septr = %x in thread zv%d! ",
// the stack dump, exit status 1.
[[noreturn]] void stack_index_fault(uint32_t i);

inline uint32_t stack_check(uint32_t i) {
  if (i > zvts->stack_top) stack_index_fault(i);
  return i;
}
inline StackEntry& stack_entry(uint32_t i) { return zvts->stack[stack_check(i)]; }

// ---------------------------------------------------------------------------
// Pushes.  A push that would reach index 0 signals error 38 instead.

[[noreturn]] void stack_exhausted();

inline uint16_t push_entry(Value arg, uint16_t tag, uint16_t link = 0) {
  ThreadState* ts = zvts;
  if (ts->septr <= 1) stack_exhausted();
  uint16_t i = --ts->septr;
  ts->stack[i] = StackEntry{arg, tag, link};
  return i;
}
inline uint16_t push_arg(Value v) { return push_entry(v, ST_ARG); }
inline uint16_t push_anon(Value v) { return push_entry(v, ST_ANON); }

// Pop to index: entries below it are discarded unread.
inline void pop_to(uint16_t i) { zvts->septr = static_cast<uint16_t>(stack_check(i)); }

// Frames: the entry is linked into zvform.  push_frame returns its index.
inline uint16_t push_frame(Value fn, uint16_t tag) {
  ThreadState* ts = zvts;
  uint16_t i = push_entry(fn, tag, ts->zvform);
  ts->zvform = i;
  return i;
}
// septr returns to the innermost frame, zvform to its link, and the frame
// entry itself is discarded.
inline void pop_frame() {
  ThreadState* ts = zvts;
  uint16_t f = ts->zvform;
  ts->zvform = stack_entry(f).link;
  ts->septr = static_cast<uint16_t>(f + 1);
}

// ---------------------------------------------------------------------------
// Dynamic bindings

// Bind symbol `sym` (index) dynamically: the entry joins zvdinenv and
// saves what the thread's binding cell held, the cell receives `value`
// (object/symbols.h: special_exchange).
inline void bind_special(uint32_t sym, Value value) {
  ThreadState* ts = zvts;
  uint16_t i = push_entry(value, static_cast<uint16_t>(sym), ts->zvdinenv);
  ts->zvdinenv = i;
  ts->stack[i].arg = special_exchange(sym, value);
}
// The same on the function cell, through zvfdinenv: per thread as well.
inline void bind_function(uint32_t sym, Value fn) {
  ThreadState* ts = zvts;
  uint16_t i = push_entry(fn, static_cast<uint16_t>(sym), ts->zvfdinenv);
  ts->zvfdinenv = i;
  ts->stack[i].arg = function_exchange(sym, fn);
}

// Undo the value (function) bindings made after `limit`: while the chain
// head lies below it.  Never consults septr.
void unbind_to(uint32_t limit);
void unbind_functions_to(uint32_t limit);

// ---------------------------------------------------------------------------
// Reserves and the native stack

// Called by the evaluator after every eval-frame push: error 38 as a
// warning that halves the crossed reserve, or as a hard error below the
// floor (128 entries, 16 root slots).  The fast test is inline.
void stack_reserve_crossed();
inline void check_reserves() {
  ThreadState* ts = zvts;
  if (ts->septr <= ts->stack_reserve || ts->root_cap - ts->root_count <= ts->root_reserve)
    stack_reserve_crossed();
}

// The evaluator's guard against the native stack: beyond the floor the
// hard error 38 is signalled.  The floor is chosen so that the Lisp stack
// runs out first on a stack sized by native_stack_bytes.
[[noreturn]] void native_stack_exhausted();
inline void check_native_stack() {
  char probe;
  if (reinterpret_cast<uintptr_t>(&probe) < zvts->native_floor) native_stack_exhausted();
}

// The check of the reader and the printer at each level they go down:
// they stop while an eighth of either stack is still free above its
// reserve, and short of the native floor, and leave to their descent
// guard (eval/context.h), which signals error 38.  A guard that starts
// with less room than twice that (a read or print in the break loop of a
// stack overflow) sets limits of its own, halfway down what is left
// (descent_limits_set); 0 stands for the usual limit.
constexpr uintptr_t DESCENT_NATIVE_MARGIN = 64 * 1024;
[[noreturn]] void descent_exhausted();  // eval/context.h
inline void check_descent() {
  ThreadState* ts = zvts;
  uint32_t septr_limit = ts->descent_septr ? ts->descent_septr : ts->stack_reserve + ts->stack_top / 8u;
  uint32_t roots_limit = ts->descent_roots ? ts->descent_roots : ts->root_reserve + ts->root_cap / 8u;
  uintptr_t native_limit =
      ts->descent_native ? ts->descent_native : ts->native_floor + DESCENT_NATIVE_MARGIN;
  char probe;
  if (ts->septr <= septr_limit || ts->root_cap - ts->root_count <= roots_limit ||
      reinterpret_cast<uintptr_t>(&probe) < native_limit)
    descent_exhausted();
}
void descent_limits_set();

// Native stack needed for a Lisp stack of `entries` entries.
size_t native_stack_bytes(uint32_t entries);
// Run fn(data) on a fresh native thread with a stack of `bytes` bytes (0:
// enough for the largest Lisp stack an image may ask for), sharing this
// thread's state; returns fn's result.  The caller waits.
int run_on_big_stack(int (*fn)(void*), void* data, size_t bytes = 0);
// Record the current native stack's floor for check_native_stack (the
// calling thread's stack as the system reports it).
void native_stack_note_current();
