// The evaluator and function application: what built-ins and the rest of
// the kernel call to evaluate forms, call functions, read their arguments,
// bind variables, deliver multiple values and process keywords.
//
// Every entry point may allocate, signal an error or leave by a throw:
// callers root the Values they hold across a call (thread.h).
#pragma once

#include <cstdint>

#include "eval/stack.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "object/value.h"
#include "threads/world.h"

// Symbol flag bits: constant, and the two "proclaimed special" bits.
constexpr uint16_t SYMF_CONSTANT = 0x1;
constexpr uint16_t SYMF_SPECIAL = 0x6;

inline bool sym_is_special(uint32_t s) { return sym_flags(s) & (SYMF_CONSTANT | SYMF_SPECIAL); }
inline bool sym_is_constant(uint32_t s) { return sym_flags(s) & SYMF_CONSTANT; }

// ---------------------------------------------------------------------------
// Evaluation

// Evaluate the form in the car of `cell` (a cons of the source, or the
// thread's scratch cons).  The cell may be rewritten: cached lexical
// references, displaced macro calls.
Value eval(Value cell);
// Evaluate a form that no cell holds, through the scratch cons.
Value eval_form(Value form);
// Evaluate the cells of a body in order; the last value (NIL for none).
Value progn(Value body);
// The common tail of every call of an interpreted function or closure fn,
// once its lexical environment is entered: bind its lambda list to the
// arguments from stack index lo, run the body and undo the dynamic bindings
// made within frame.
Value run_lambda_body(ThreadState* ts, uint16_t frame, Value fn, uint32_t lo);

// The lexical environment: zvlexenv and the frame it began at move
// together.  Enter a new one (0, or a lexical-environment entry) with
// lexenv_enter; save and restore both with LexState.
struct LexState {
  uint16_t zvlexenv, lexframe;
};
inline LexState lexenv_save() { return {zvts->zvlexenv, zvts->lexframe}; }
inline void lexenv_restore(LexState s) {
  zvts->zvlexenv = s.zvlexenv;
  zvts->lexframe = s.lexframe;
}
// env: 0 for the empty environment, or the index of the first entry of a
// new one (bindings or a lexical-environment entry) made within `frame`.
inline void lexenv_enter(uint16_t env, uint16_t frame) {
  zvts->zvlexenv = env;
  zvts->lexframe = env ? frame : 0;
}
// Turn the argument entry at `i` (an environment list, NIL allowed) into
// a lexical-environment entry and make it the lexical environment.
void lexenv_from_entry(uint16_t i);

// The value of variable `sym` (symbol index) as the evaluator sees it
// here: lexical binding, closure pair, or value cell; NO_VALUE if unbound.
Value variable_value(uint32_t sym);
// Assign a variable as SETQ does.  `place` is the symbol or a cached
// lexical reference; when `cell` is a cons whose car is the place it is
// rewritten into a lexical reference on a lexical hit.  A constant gives
// the continuable error 0x103B and is left unchanged.
void assign_variable(Value place, Value value, Value cell);

// Declarations at the head of a body.  A variable that a (SPECIAL var
// ...) declaration names is bound dynamically by the form that declares
// it, and by that form only: when the form first runs, its place in the
// lambda list or binding list is marked (tag 2, as lambda-list keywords
// are), and the binders bind a marked variable dynamically whatever the
// symbol's flags say.  The DECLARE macro expands into NIL, so once the
// body has run its first cell holds NIL and the test fails at the first
// compare: the scan is paid once per form.
enum DeclaredVariables : uint8_t {
  DECL_LAMBDA,     // an ordinary lambda list
  DECL_MACRO,      // a macro lambda list: nested lists destructure
  DECL_BINDINGS,   // var or (var ...) elements: LET, LET*, DO, DO*
  DECL_VARIABLES,  // a list of variables: MULTIPLE-VALUE-BIND
  DECL_FIRST,      // (var ...): DOLIST, DOTIMES
};
// A body that starts with a string followed by at least one more form
// carries that string as its documentation: returns it, or NIL.
inline Value body_doc_string(Value body) {
  if (!cons_p(body) || !cons_p(cdr(body))) return NIL;
  return is_string(car(body)) ? car(body) : NIL;
}
inline bool starts_with_declare(Value body) {
  if (!cons_p(body)) return false;
  Value f = car(body);
  return cons_p(f) && car(f) == make_symbol(FS_DECLARE);
}
// `doc`: a function body, where a documentation string may come first.
void mark_declared_specials(Value body, bool doc, Value vars, DeclaredVariables shape);
inline void note_declarations(Value body, Value vars, DeclaredVariables shape) {
  if (starts_with_declare(body)) mark_declared_specials(body, false, vars, shape);
}
// A function body: a leading documentation string is skipped, but only
// bodies that do not start with a form pay for that test.
inline void note_function_declarations(Value body, Value lambda_list, bool macro) {
  if (!cons_p(body)) return;
  Value f = car(body);
  if (cons_p(f) ? car(f) == make_symbol(FS_DECLARE) : tag_of(f) == TAG_VECTOR)
    mark_declared_specials(body, true, lambda_list, macro ? DECL_MACRO : DECL_LAMBDA);
}
// The link of a pushed entry that bind_pushed is to bind dynamically (no
// stack index is 0xFFFF).
constexpr uint16_t LINK_DYNAMIC = 0xFFFF;

// ---------------------------------------------------------------------------
// Calling

// The kernel-internal call: fn is a function designator (symbol, built-in,
// lambda list or closure); the count is explicit, so any Value (the unbound
// marker included) may be an argument.  args need not be rooted.
Value call_function(Value fn, uint32_t nargs, const Value* args);
// Entries of the root tables keyed by symbols (types, place expanders):
// lookup gives NO_VALUE for an absent key.
Value root_table_get(uint32_t root, Value key);
void root_table_put(uint32_t root, Value key, Value value);
void root_table_remove(uint32_t root, Value key);
Value call_function0(Value fn);
Value call_function1(Value fn, Value a);
Value call_function2(Value fn, Value a, Value b);
Value call_function3(Value fn, Value a, Value b, Value c);
// Call the function of the innermost frame with the arguments between
// it and septr.  The caller pushes and pops the frame.
Value call_frame();
// Run the function fn (not a symbol) on the arguments between `frame`, the
// innermost frame, and septr, in the empty lexical environment.
Value apply_pushed(ThreadState* ts, uint16_t frame, Value fn);
// Calling a standard object: program entry registers the hook that
// says what a call of object x runs on the arguments of the innermost frame
// (a function, which may be another callable object), or NIL when x cannot
// be called.  Generic functions are such objects.
extern Value (*zv_instance_function)(Value x);
// EVALHOOK and APPLYHOOK: the argument entries at `first` and first - 1
// become the bindings of *EVALHOOK* and *APPLYHOOK* to their values.
void bind_hook_arguments(uint16_t first);
// Call a built-in by number with the arguments between zvform and septr,
// by the routine entry convention (no count checks).
Value call_builtin_routine(uint32_t n);

// Arguments of a built-in that reads its frame: argument k (from 1) lies
// at zvform - k.
inline uint32_t arg_count() { return zvts->zvform - zvts->septr; }
inline Value arg(uint32_t k) { return zvts->stack[zvts->zvform - k].arg; }
inline uint16_t arg_index(uint32_t k) { return static_cast<uint16_t>(zvts->zvform - k); }
// Surplus optional arguments: the continuable error 0x1034 with the first
// one beyond `max`; continuing drops them.
void check_max_args(uint32_t max);

// Fresh list of the argument entries from index hi - 1 down to lo (first
// argument first).
Value args_to_list(uint32_t lo, uint32_t hi);
// Push the elements of a list as argument entries; error 38 before the
// stack would reach index 0.
void spread_list(Value list);

// ---------------------------------------------------------------------------
// Multiple values.  n >= 2 values lie just below the base: base - 1 holds
// the first.  They sit in the free part of the stack, so copy them
// (values_push) before anything that may allocate or push.

inline uint32_t mv_count() { return zvts->mv_count; }
inline uint16_t mv_base() { return zvts->mv_base; }
// Value k (from 0) of the last evaluation whose primary value was `first`.
inline Value mv_value(Value first, uint32_t k) {
  if (k == 0) return zvts->mv_count ? first : NIL;
  return k < zvts->mv_count ? zvts->stack[zvts->mv_base - 1 - k].arg : NIL;
}
// Deliver the n values v[0..n) (need not be rooted): they are pushed at
// septr and the base set above them; returns the first (NIL for none).
Value set_values(uint32_t n, const Value* v);
// The arguments of the innermost frame become the values (VALUES).
Value values_from_frame();
// Push the values of the last evaluation (primary value `first`) as
// argument entries, first value first; returns how many.
uint32_t values_push(Value first);
// Fresh list of the values of the last evaluation.
Value values_list(Value first);

// ---------------------------------------------------------------------------
// Binding

// Bind the lambda list of an interpreted function to the arguments from
// zvform - 1 down to lo.  Returns false, or true when an error was
// signalled and a value returned for the call (glvalue).
bool bind_lambda_list(Value lambda_list, uint32_t lo);
// Push a new binding: lexical, dynamic for a special symbol, none (with
// the continuable error 0x103B) for a constant.
void bind_variable(Value sym, Value value);
// Turn the argument entry at `index` into the binding of sym; `cell` is the
// lambda-list cell holding sym, annotated in place (NIL: no annotation).
void bind_argument(Value sym, uint32_t index, Value cell);
// Every entry between `index` (exclusive) and septr whose tag is a symbol
// index becomes a binding of that symbol, oldest first.
void bind_pushed(uint32_t index);

// The current lexical environment as an association list, shared with the
// frame from now on (its bindings become lexical-environment entries).
Value capture_environment();
// A closure over the current lexical environment: (closure-marker env .
// lambda) for lambda = (lambda-list . body).
Value make_closure(Value lambda);

// Expand a macro call: definition = (lambda-list . body) without its
// marker, the whole form, and the environment for &ENVIRONMENT (NO_VALUE:
// the current lexical environment, captured on demand).
Value expand_macro(Value definition, Value form, Value env);

// ---------------------------------------------------------------------------
// Keyword arguments of kind-4 built-ins.  Entries after the required ones
// carry their keyword number as the tag.

// Validate the keyword entries below the `required` arguments: a number
// outside [lo, hi] and not in the zero-terminated `accepted` list (either
// may be empty: lo > hi, nullptr) gives the continuable error 0x1036 and is
// ignored; fill the keyword slots (leftmost occurrence wins); the pair
// :TEST/:TEST-NOT may not both be given (0x2038, the later one ignored).
void kw_parse(uint32_t required, uint32_t lo, uint32_t hi, const uint8_t* accepted = nullptr);
inline bool kw_given(uint32_t k) { return zvts->kwslots[k] != 0; }
inline Value kw_value(uint32_t k, Value dflt = NIL) {
  uint16_t i = zvts->kwslots[k];
  return i ? zvts->stack[i].arg : dflt;
}
// Clear the slots (every kind-4 built-in does before it returns).
void kw_clear();
// Another exclusive pair (a, b): when both are given the later one is
// reported with 0x2038 and ignored.
void kw_exclusive(uint32_t a, uint32_t b);
// Bounding indices for a sequence of length len: start (NIL or absent: 0)
// must be a fixnum 0..len, else 0x1032 with it; end NIL or absent is len,
// a fixnum below start gives 0x203A with both, above len or not a fixnum
// 0x1032 with it.
void check_bounds(Value start, Value end, uint32_t len, uint32_t* s, uint32_t* e);

// ---------------------------------------------------------------------------
// Hooks and flags

// Work for the evaluator's next poll (zv_interrupt_pending, threads/world.h),
// set from signal handlers, timers and the collector and polled before
// every evaluation: a keyboard interrupt (Control-C), console output to be
// shown (the console defers showing output that comes thick and fast, and
// asks for it here), and a stop of the world (the poll is a safe point).
// Shows the console's deferred output; set by the console.
extern void (*zv_console_refresh)();
inline bool keyboard_interrupt_pending() { return interrupt_pending_bits() & PENDING_KEYBOARD; }
// Forget a keyboard interrupt (Control-C at the prompt only clears the line).
inline void keyboard_interrupt_clear() { interrupt_take(PENDING_KEYBOARD); }
// Do the pending work now: show the console's output, and answer a
// keyboard interrupt by calling the function of symbol 0x8A (a break
// loop).  Loops that run without evaluating, and waits, call it.
void interrupt_poll();
// For the loops of built-ins that walk lists or print without evaluating
// (LENGTH of a circular list never ends otherwise).  A pending Control-C
// runs its break loop here, and the break loop may collect: a and b, the
// Values the loop goes on with, are kept up to date meanwhile; any other
// Value it holds must be rooted already or read again afterwards.
void walk_poll_slow(Value* a, Value* b);
inline void walk_poll(Value* a = nullptr, Value* b = nullptr) {
  if (interrupt_pending_bits()) walk_poll_slow(a, b);
}
