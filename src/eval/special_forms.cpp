// Conditionals, sequencing, binding, iteration and multiple-value special
// forms, and the mapping functions.
//
// A special form runs inside the eval frame of its form, with septr just
// below that frame.  Nothing is kept in native variables across a point
// a throw can come back to: the loops re-read their form from the eval
// frame and keep their state in Lisp stack entries.
#include <csetjmp>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/error_hook.h"
#include "object/arrays.h"
#include "object/bignum.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace {

enum : uint32_t {
  E_MAP_STRING = 0x244F,  // MAP: a string result given a non-character
};

inline Value sym(uint32_t i) { return make_symbol(i); }
inline bool is_plain_symbol(Value v) { return tag_of(symbol_normal(v)) == TAG_SYMBOL; }

// The form's arguments, read from the eval frame (they may have moved).
inline Value frame_args(uint16_t frame) { return cdr(zvts->stack[frame].arg); }

// Leaving a binding form: dynamic bindings made below its frame are
// undone and the lexical environment is the one it began with.
void leave_bindings(uint16_t frame, LexState ls) {
  unbind_to(frame);
  lexenv_restore(ls);
}

}  // namespace

// ---------------------------------------------------------------------------
// Conditionals and sequencing

Value sf_and(Value args, Value) {
  Value v = T;
  root_push(&args);
  while (cons_p(args)) {
    v = eval(args);
    args = cdr(args);
    if (nil_p(v)) break;
  }
  // Only the last form passes its values through.
  if (cons_p(args)) zvts->mv_count = 1;
  root_pop();
  return v;
}

Value sf_or(Value args, Value) {
  Value v = NIL;
  root_push(&args);
  while (cons_p(args)) {
    v = eval(args);
    args = cdr(args);
    if (!nil_p(v)) break;
  }
  if (cons_p(args)) zvts->mv_count = 1;
  root_pop();
  return v;
}

Value sf_if(Value args, Value) {
  if (!cons_p(args) || !cons_p(cdr(args))) return lisp_error(E_FEW_ARGS);
  root_push(&args);
  Value test = eval(args);
  root_pop();
  Value then = cdr(args);
  if (!nil_p(test)) return eval(then);
  Value rest = cdr(then);
  if (!cons_p(rest)) {
    zvts->mv_count = 1;
    return NIL;
  }
  if (cons_p(cdr(rest))) return lisp_error(E_IF_ELSE);
  return eval(rest);
}

Value sf_cond(Value args, Value) {
  root_push(&args);
  for (; cons_p(args); args = cdr(args)) {
    Value clause = car(args);
    if (!cons_p(clause)) {
      root_pop();
      return lisp_error(E_WRONG_TYPE, clause);
    }
    Value v = eval(clause);
    if (nil_p(v)) continue;
    Value body = cdr(car(args));
    root_pop();
    if (cons_p(body)) return progn(body);
    zvts->mv_count = 1;  // a clause of only a test gives its one value
    return v;
  }
  root_pop();
  zvts->mv_count = 1;
  return NIL;
}

namespace {

bool case_matches(Value key, Value keys) {
  if (cons_p(keys)) {
    for (; cons_p(keys); keys = cdr(keys))
      if (lisp_eql(key, car(keys))) return true;
    return false;
  }
  Value k = symbol_normal(keys);
  return lisp_eql(key, k) || k == sym(FS_T) || k == sym(FS_OTHERWISE);
}

}  // namespace

Value sf_case(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_WRONG_TYPE, args);
  root_push(&args);
  Value key = eval(args);
  root_pop();
  for (Value c = cdr(args); cons_p(c); c = cdr(c)) {
    Value clause = car(c);
    if (!cons_p(clause)) return lisp_error(E_WRONG_TYPE, clause);
    if (case_matches(key, car(clause))) return progn(cdr(clause));
  }
  zvts->mv_count = 1;
  return NIL;
}

Value sf_prog1(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  root_push(&args);
  Value v = eval(args);
  root_push(&v);
  progn(cdr(args));
  root_pop(2);
  zvts->mv_count = 1;
  return v;
}

Value sf_prog2(Value args, Value) {
  if (!cons_p(args) || !cons_p(cdr(args))) return lisp_error(E_FEW_ARGS);
  root_push(&args);
  eval(args);
  Value v = eval(cdr(args));
  root_push(&v);
  progn(cdr(cdr(args)));
  root_pop(2);
  zvts->mv_count = 1;
  return v;
}

namespace {

// ---------------------------------------------------------------------------
// Binding forms

// The variable of a binding specification as it stands (a symbol, or
// the car of a cons), annotations included.
inline Value spec_raw_var(Value spec) { return cons_p(spec) ? car_published(spec) : spec; }

// The variable of a binding entry: a symbol, or the car of a
// cons; NIL for anything else.
Value spec_var(Value spec) {
  Value v = cons_p(spec) ? car_published(spec) : spec;
  v = symbol_normal(v);
  return tag_of(v) == TAG_SYMBOL ? v : NIL;
}

// Pushes one stack entry per binding (tag: the variable, argument: the
// init form's value), evaluating the init forms before any of them is
// bound.  False after error 0x1432 with the value in *err.
bool push_parallel(Value specs, Value* err) {
  root_push(&specs);
  bool ok = true;
  for (; cons_p(specs); specs = cdr(specs)) {
    Value spec = car_published(specs);
    Value var = spec_var(spec);
    if (var == NIL) {
      *err = lisp_error(E_WRONG_TYPE, spec);
      ok = false;
      break;
    }
    Value v = NIL;
    if (cons_p(spec) && cons_p(cdr(spec))) v = eval(cdr(spec));
    spec = car_published(specs);
    push_entry(v, static_cast<uint16_t>(symbol_index(spec_var(spec))),
               tag_of(spec_raw_var(spec)) == TAG_INDEX ? LINK_DYNAMIC : 0);
  }
  root_pop();
  return ok;
}

// Assign a loop variable: one declared special where the loop binds it
// (tag 2) has its binding in the value cell.
void assign_loop_variable(Value var, Value value) {
  if (tag_of(var) == TAG_INDEX)
    sym_set_value(symbol_index(var), value);
  else
    assign_variable(symbol_normal(var), value, NIL);
}

// Binds each (variable init) entry as soon as its init form has a value.
// A lexically bound variable is annotated in its entry.
bool bind_sequential(Value specs, Value* err) {
  root_push(&specs);
  bool ok = true;
  for (; cons_p(specs); specs = cdr(specs)) {
    Value spec = car_published(specs);
    if (spec_var(spec) == NIL) {
      *err = lisp_error(E_WRONG_TYPE, spec);
      ok = false;
      break;
    }
    Value v = NIL;
    if (cons_p(spec) && cons_p(cdr(spec))) v = eval(cdr(spec));
    spec = car_published(specs);
    if (tag_of(spec_raw_var(spec)) == TAG_INDEX) {  // declared special here
      bind_variable(spec_raw_var(spec), v);
      continue;
    }
    bind_variable(spec_var(spec), v);
    spec = car_published(specs);
    Value var = spec_var(spec);
    if (!sym_is_special(symbol_index(var))) {
      Value cell = cons_p(spec) ? spec : specs;
      set_car_published(cell, make_lexref(0, symbol_index(var)));
    }
  }
  root_pop();
  return ok;
}

}  // namespace

Value sf_let(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform, base = ts->septr;
  LexState ls = lexenv_save();
  Value err;
  note_declarations(cdr(args), car(args), DECL_BINDINGS);
  if (!push_parallel(car(frame_args(frame)), &err)) return err;
  bind_pushed(base);
  Value v = progn(cdr(frame_args(frame)));
  leave_bindings(frame, ls);
  return v;
}

Value sf_let_star(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform;
  LexState ls = lexenv_save();
  Value err;
  note_declarations(cdr(args), car(args), DECL_BINDINGS);
  if (!bind_sequential(car(args), &err)) {
    leave_bindings(frame, ls);
    return err;
  }
  Value v = progn(cdr(frame_args(frame)));
  leave_bindings(frame, ls);
  return v;
}

// The functions are dynamic bindings of function cells, so they see
// global and special variables only, and each other.
Value sf_labels(Value args, Value) {
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform;
  Value defs = cons_p(args) ? car(args) : NIL;
  root_push(&defs);
  for (; cons_p(defs); defs = cdr(defs)) {
    Value def = car(defs);
    if (!cons_p(def) || !is_plain_symbol(car(def))) {
      root_pop();
      unbind_functions_to(frame);
      return lisp_error(E_WRONG_TYPE, def);
    }
    Value fn = cons(sym(FS_LAMBDA), cdr(def));
    bind_function(symbol_index(symbol_normal(car(car(defs)))), fn);
  }
  root_pop();
  Value v = progn(cdr(frame_args(frame)));
  unbind_functions_to(frame);
  return v;
}

namespace {

// Copies the values of the last evaluation below the frame and tags the
// k-th with the k-th variable; variables beyond the values get NIL.
// Returns the number of variables, or -1 after error 0x1432.
int32_t tag_values(Value vars, Value first, uint16_t base, Value* err) {
  uint32_t n = values_push(first);
  int32_t k = 0;
  for (Value l = vars; cons_p(l); l = cdr(l), k++) {
    if (!is_plain_symbol(car(l))) {
      *err = lisp_error(E_WRONG_TYPE, vars);
      return -1;
    }
    uint16_t tag = static_cast<uint16_t>(symbol_index(symbol_normal(car(l))));
    uint16_t link = tag_of(car(l)) == TAG_INDEX ? LINK_DYNAMIC : 0;
    if (uint32_t(k) < n) {
      stack_entry(base - 1 - k).tag = tag;
      stack_entry(base - 1 - k).link = link;
    } else {
      push_entry(NIL, tag, link);
    }
  }
  if (uint32_t(k) < n) pop_to(static_cast<uint16_t>(base - k));
  return k;
}

}  // namespace

Value sf_multiple_value_bind(Value args, Value) {
  if (!cons_p(args) || !cons_p(cdr(args))) return lisp_error(E_WRONG_TYPE, args);
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform, base = ts->septr;
  LexState ls = lexenv_save();
  note_declarations(cdr(cdr(args)), car(args), DECL_VARIABLES);
  Value first = eval(cdr(frame_args(frame)));
  Value err;
  if (tag_values(car(frame_args(frame)), first, base, &err) < 0) return err;
  bind_pushed(base);
  Value v = progn(cdr(cdr(frame_args(frame))));
  leave_bindings(frame, ls);
  return v;
}

Value sf_multiple_value_setq(Value args, Value) {
  if (!cons_p(args) || !cons_p(cdr(args))) return lisp_error(E_WRONG_TYPE, args);
  ThreadState* ts = zvts;
  uint16_t frame = ts->zvform, base = ts->septr;
  Value first = eval(cdr(args));
  Value err;
  int32_t n = tag_values(car(frame_args(frame)), first, base, &err);
  if (n < 0) return err;
  Value vars = car(frame_args(frame));
  root_push(&vars);
  for (int32_t k = 0; k < n; k++, vars = cdr(vars))
    assign_variable(car_published(vars), stack_entry(base - 1 - k).arg, vars);
  root_pop();
  Value v = n > 0 ? stack_entry(base - 1).arg : first;
  ts->mv_count = 1;
  return v;
}

// ---------------------------------------------------------------------------
// Multiple-value forms

Value sf_multiple_value_call(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_WRONG_TYPE, args);
  ThreadState* ts = zvts;
  root_push(&args);
  Value fn = eval(args);
  uint16_t fi = push_anon(fn);
  for (Value l = cdr(args); cons_p(l); l = cdr(args)) {
    args = l;
    Value v = eval(args);
    values_push(v);
  }
  root_pop();
  // The function's entry becomes the call frame only now, so that the
  // argument forms ran with the caller's frame innermost.
  ts->stack[fi].tag = ST_CALL_FRAME;
  ts->stack[fi].link = ts->zvform;
  ts->zvform = fi;
  Value v = call_frame();
  pop_frame();
  return v;
}

Value sf_multiple_value_prog1(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  ThreadState* ts = zvts;
  uint16_t base = ts->septr;
  root_push(&args);
  Value first = eval(args);
  uint32_t n = values_push(first);
  progn(cdr(args));
  root_pop();
  ts->septr = static_cast<uint16_t>(base - n);
  ts->mv_count = static_cast<uint16_t>(n);
  ts->mv_base = base;
  return n ? ts->stack[base - 1].arg : NIL;
}

namespace {

// ---------------------------------------------------------------------------
// Loops
//
// DO, DO*, DOLIST, DOTIMES and LOOP share one driver.  Each loop sets up
// its bindings and state entries before the loop context, then the driver
// alternates the loop's `next` step (test, advance, or finish with the
// value in glvalue) with a walk of the body as a tag body.

constexpr uint16_t LOOP_FLAGS = CX_NIL_BLOCK | CX_RESTART | CX_BLOCKLIKE;

struct Loop {
  uint16_t frame;  // the eval frame: the form is re-read from it
  uint16_t base;   // septr when the form began
  uint16_t state;  // index of the loop's first state entry
  LexState lex;
  // Bindings and state before the context; false after an error whose
  // value is in glvalue.
  bool (*setup)(Loop*);
  // Before each pass: true to run the body, false when finished.
  bool (*next)(Loop*);
  // After each pass.
  void (*step)(Loop*);
  Value (*body)(Loop*);
};

void walk_body(uint16_t cx, Value pos) {
  context_set_flags(cx, LOOP_FLAGS | CX_TAGBODY);
  root_push(&pos);
  for (; cons_p(pos); pos = cdr(pos))
    if (cons_p(car(pos))) eval(pos);
  root_pop();
  context_set_flags(cx, LOOP_FLAGS);
}

// The passes; `pos` is where a GO resumed the body, or NO_VALUE.
Value loop_passes(Loop* lp, uint16_t cx, Value pos) {
  for (;;) {
    // A body with nothing to evaluate never reaches eval's own poll; the
    // position a GO resumed at is kept (another thread may collect there).
    walk_poll(&pos);
    if (pos == NO_VALUE) {
      if (!lp->next(lp)) return zvts->glvalue;
      pos = lp->body(lp);
    }
    walk_body(cx, pos);
    pos = NO_VALUE;
    if (lp->step) lp->step(lp);
  }
}

Value run_loop(Loop* lp) {
  ThreadState* ts = zvts;
  lp->frame = ts->zvform;
  lp->base = ts->septr;
  lp->lex = lexenv_save();
  for (;;) {
    if (!lp->setup(lp)) {
      leave_bindings(lp->frame, lp->lex);
      return ts->glvalue;
    }
    Context cx;
    context_push(&cx, LOOP_FLAGS);
    push_anon(lp->body(lp));  // the tag body GO searches
    int code = setjmp(cx.resume);
    ts = zvts;
    if (code == TC_RESTART) {
      // Start over from the form: its bindings are made anew.
      context_pop(&cx);
      unbind_to(lp->frame);
      ts->septr = lp->base;
      lexenv_restore(lp->lex);
      continue;
    }
    Value v;
    if (code == TC_RETURN) {
      v = ts->glvalue;
    } else if (code == TC_GO) {
      // The throw left septr at the context: the body entry is taken back.
      Value pos = ts->glvalue;
      ts->septr = static_cast<uint16_t>(cx.index - 1);
      ts->stack[cx.index - 1].arg = lp->body(lp);
      v = loop_passes(lp, cx.index, pos);
    } else {
      v = loop_passes(lp, cx.index, NO_VALUE);
    }
    uint16_t n = ts->mv_count, mvb = ts->mv_base;
    context_pop(&cx);
    leave_bindings(lp->frame, lp->lex);
    ts->mv_count = n;
    ts->mv_base = mvb;
    ts->glvalue = v;
    return v;
  }
}

inline Value loop_args(Loop* lp) { return frame_args(lp->frame); }
inline Value& state_entry(Loop* lp, uint32_t k) { return zvts->stack[lp->state - k].arg; }

// Fail with error e and object x: the form's value is the error's value.
bool setup_error(uint32_t e, Value x) {
  zvts->glvalue = err_object_count(e) ? lisp_error(e, x) : lisp_error(e);
  return false;
}

// (var form [result]) of DOLIST and DOTIMES.
bool var_spec(Value args, Value* spec) {
  *spec = cons_p(args) ? car(args) : NIL;
  if (!cons_p(*spec) || !is_plain_symbol(car(*spec)) || !cons_p(cdr(*spec)))
    return setup_error(E_WRONG_TYPE, *spec);
  return true;
}
// As it is to be bound: marked when declared special (tag 2).
inline Value spec_binding_variable(Loop* lp) {
  Value spec = car(loop_args(lp));
  note_declarations(cdr(loop_args(lp)), spec, DECL_FIRST);
  Value v = car(spec);
  return tag_of(v) == TAG_INDEX ? v : symbol_normal(v);
}
Value spec_result(Loop* lp) {
  Value r = cdr(cdr(car(loop_args(lp))));
  if (!cons_p(r)) {
    zvts->mv_count = 1;
    return NIL;
  }
  return eval(r);
}
Value body_after_spec(Loop* lp) { return cdr(loop_args(lp)); }

// DOLIST: state 0 holds the rest of the list.
bool dolist_setup(Loop* lp) {
  Value spec;
  if (!var_spec(loop_args(lp), &spec)) return false;
  Value list = eval(cdr(spec));
  lp->state = push_anon(list);
  bind_variable(spec_binding_variable(lp), NIL);
  return true;
}
bool dolist_next(Loop* lp) {
  Value l = state_entry(lp, 0);
  if (!cons_p(l)) {
    assign_loop_variable(car(car(loop_args(lp))), NIL);
    zvts->glvalue = spec_result(lp);
    return false;
  }
  state_entry(lp, 0) = cdr(l);
  assign_loop_variable(car(car(loop_args(lp))), car(l));
  return true;
}

// DOTIMES: state 0 the count, state 1 the passes made.
bool dotimes_setup(Loop* lp) {
  Value spec;
  if (!var_spec(loop_args(lp), &spec)) return false;
  Value count = eval(cdr(spec));
  if (!int_p(count)) return setup_error(E_DOTIMES, count);
  lp->state = push_anon(count);
  push_anon(make_fixnum(0));
  bind_variable(spec_binding_variable(lp), make_fixnum(0));
  return true;
}
// The count and the counter are fixnums but for counts of 2^23 and more,
// where the counter goes on as an integer of any size past the fixnums.
bool dotimes_next(Loop* lp) {
  Value i = state_entry(lp, 1), count = state_entry(lp, 0);
  if (is_fixnum(i) && is_fixnum(count) ? fixnum_value(i) < fixnum_value(count)
                                       : int_compare(i, count) < 0)
    return true;
  zvts->glvalue = spec_result(lp);
  return false;
}
void dotimes_step(Loop* lp) {
  Value i = state_entry(lp, 1);
  i = is_fixnum(i) && fixnum_value(i) < FIXNUM_MAX ? make_fixnum(fixnum_value(i) + 1)
                                                   : int_add(i, make_fixnum(1));
  state_entry(lp, 1) = i;
  assign_loop_variable(car(car(loop_args(lp))), i);
}

// DO and DO*: ((var [init [step]]) ...) (end-test . result-forms) . body
Value do_body(Loop* lp) {
  Value rest = cdr(loop_args(lp));
  return cons_p(rest) ? cdr(rest) : NIL;
}
bool do_check(Loop* lp) {
  Value args = loop_args(lp);
  if (!cons_p(args)) return setup_error(E_FEW_ARGS, NIL);
  if (!is_list(car(args))) return setup_error(E_WRONG_TYPE, car(args));
  if (cons_p(cdr(args)) && !is_list(car(cdr(args))))
    return setup_error(E_WRONG_TYPE, car(cdr(args)));
  return true;
}
bool do_setup(Loop* lp) {
  if (!do_check(lp)) return false;
  Value err;
  note_declarations(do_body(lp), car(loop_args(lp)), DECL_BINDINGS);
  if (!push_parallel(car(loop_args(lp)), &err)) {
    zvts->glvalue = err;
    return false;
  }
  bind_pushed(lp->base);
  return true;
}
bool do_star_setup(Loop* lp) {
  if (!do_check(lp)) return false;
  note_declarations(do_body(lp), car(loop_args(lp)), DECL_BINDINGS);
  Value err;
  if (!bind_sequential(car(loop_args(lp)), &err)) {
    zvts->glvalue = err;
    return false;
  }
  return true;
}
bool do_next(Loop* lp) {
  Value rest = cdr(loop_args(lp));
  if (!cons_p(rest) || !cons_p(car(rest))) return true;  // no end test: run forever
  Value clause = car(rest);
  if (nil_p(eval(clause))) return true;
  zvts->glvalue = progn(cdr(car(cdr(loop_args(lp)))));
  return false;
}
// A spec with a step form: (var init step ...).
inline bool has_step(Value spec) {
  return cons_p(spec) && cons_p(cdr(spec)) && cons_p(cdr(cdr(spec)));
}
// DO steps in parallel: every step value first, then the assignments.
void do_step(Loop* lp) {
  uint16_t top = zvts->septr;
  Value specs = car(loop_args(lp));
  root_push(&specs);
  for (; cons_p(specs); specs = cdr(specs)) {
    if (!has_step(car(specs))) continue;
    Value v = eval(cdr(cdr(car(specs))));
    bool dynamic = tag_of(spec_raw_var(car(specs))) == TAG_INDEX;
    push_entry(v, static_cast<uint16_t>(symbol_index(spec_var(car(specs)))),
               dynamic ? LINK_DYNAMIC : 0);
  }
  root_pop();
  for (uint32_t k = top; k-- > zvts->septr;) {
    StackEntry e = zvts->stack[k];
    assign_loop_variable(e.link == LINK_DYNAMIC ? (TAG_INDEX << 24) | e.tag : sym(e.tag), e.arg);
  }
  pop_to(top);
}
void do_star_step(Loop* lp) {
  Value specs = car(loop_args(lp));
  root_push(&specs);
  for (; cons_p(specs); specs = cdr(specs)) {
    if (!has_step(car(specs))) continue;
    Value v = eval(cdr(cdr(car(specs))));
    assign_loop_variable(spec_raw_var(car(specs)), v);
  }
  root_pop();
}

bool loop_setup(Loop*) { return true; }
bool loop_next(Loop*) { return true; }

}  // namespace

Value sf_dolist(Value, Value) {
  Loop lp{0, 0, 0, {}, dolist_setup, dolist_next, nullptr, body_after_spec};
  return run_loop(&lp);
}
Value sf_dotimes(Value, Value) {
  Loop lp{0, 0, 0, {}, dotimes_setup, dotimes_next, dotimes_step, body_after_spec};
  return run_loop(&lp);
}
Value sf_do(Value, Value) {
  Loop lp{0, 0, 0, {}, do_setup, do_next, do_step, do_body};
  return run_loop(&lp);
}
Value sf_do_star(Value, Value) {
  Loop lp{0, 0, 0, {}, do_star_setup, do_next, do_star_step, do_body};
  return run_loop(&lp);
}
Value sf_loop(Value, Value) {
  Loop lp{0, 0, 0, {}, loop_setup, loop_next, nullptr, loop_args};
  return run_loop(&lp);
}

namespace {

// ---------------------------------------------------------------------------
// Mapping functions: (function list . more-lists)

Value map_lists(bool cars, bool collect) {
  ThreadState* ts = zvts;
  uint16_t f = ts->zvform;
  uint32_t n = arg_count();
  Value first = arg(2), result = NIL;
  root_push(&first);
  root_push(&result);
  uint16_t cf = push_frame(arg(1), ST_CALL_FRAME);
  for (;;) {
    ts->septr = cf;
    bool done = false;
    for (uint32_t k = 2; k <= n; k++) {
      StackEntry& e = ts->stack[f - k];
      if (!cons_p(e.arg)) {
        done = true;
        break;
      }
      Value l = e.arg;
      e.arg = cdr(l);
      push_arg(cars ? car(l) : l);
    }
    if (done) break;
    Value v = call_frame();
    if (collect) result = cons(v, result);
  }
  pop_frame();
  root_pop(2);
  ts->mv_count = 1;
  return collect ? nreverse_list(result) : first;
}

}  // namespace

Value bi_mapc(Value, Value) { return map_lists(true, false); }
Value bi_mapcar(Value, Value) { return map_lists(true, true); }
Value bi_mapl(Value, Value) { return map_lists(false, false); }
Value bi_maplist(Value, Value) { return map_lists(false, true); }

namespace {

// MAP: (result-type function sequence . more)
bool is_general_vector(Value v) { return tag_of(v) == TAG_VECTOR && heap_type(v) == HT_ARRAY; }
uint32_t vector_size(Value v) { return object_value_words_at(heap_addr(v)); }

// Element k of sequence entry e (lists advance in their entry), or
// NO_VALUE when the sequence is exhausted.
Value map_element(StackEntry& e, uint32_t k) {
  Value s = e.arg;
  if (is_list(s)) {
    if (!cons_p(s)) return NO_VALUE;
    e.arg = cdr(s);
    return car(s);
  }
  if (is_string(s)) return k < string_length(s) ? make_char(string_bytes(s)[k]) : NO_VALUE;
  return k < vector_size(s) ? heap_word(s, k) : NO_VALUE;
}

Value list_to_string(Value list) {
  uint32_t n = list_walk_length(list);
  root_push(&list);
  Value s = mem_alloc_string(n);
  root_pop();
  uint8_t* p = string_bytes(s);
  for (Value l = list; cons_p(l); l = cdr(l)) *p++ = static_cast<uint8_t>(char_code(car(l)));
  return s;
}

Value list_to_vector(Value list) {
  uint32_t n = list_walk_length(list);
  root_push(&list);
  Value v = mem_alloc_vector(n);
  root_pop();
  for (uint32_t i = 0; i < n; i++, list = cdr(list)) heap_set_word(v, i, car(list));
  return v;
}

}  // namespace

Value bi_map(Value, Value) {
  ThreadState* ts = zvts;
  uint16_t f = ts->zvform;
  uint32_t n = arg_count();
  Value type = symbol_normal(arg(1));
  if (type != NIL && type != sym(FS_LIST) && type != sym(FS_STRING) && type != sym(FS_VECTOR))
    return lisp_error(E_WRONG_TYPE, arg(1));
  for (uint32_t k = 3; k <= n; k++) arr_simplify_arg(k);
  for (uint32_t k = 3; k <= n; k++) {
    Value s = arg(k);
    if (!is_list(s) && !is_string(s) && !is_general_vector(s)) return lisp_error(E_WRONG_TYPE, s);
  }
  Value result = NIL;
  root_push(&result);
  uint16_t cf = push_frame(arg(2), ST_CALL_FRAME);
  for (uint32_t pass = 0;; pass++) {
    ts->septr = cf;
    bool done = false;
    for (uint32_t k = 3; k <= n && !done; k++) {
      Value x = map_element(ts->stack[f - k], pass);
      if (x == NO_VALUE)
        done = true;
      else
        push_arg(x);
    }
    if (done) break;
    Value v = call_frame();
    // The call frame is innermost now: the arguments are read by index.
    type = symbol_normal(ts->stack[f - 1].arg);
    if (type == NIL) continue;
    if (type == sym(FS_STRING) && !is_string_char(v)) {
      lisp_error(E_MAP_STRING, type, v);
      continue;
    }
    result = cons(v, result);
  }
  pop_frame();
  result = nreverse_list(result);
  type = symbol_normal(arg(1));
  if (type == sym(FS_STRING))
    result = list_to_string(result);
  else if (type == sym(FS_VECTOR))
    result = list_to_vector(result);
  root_pop();
  ts->mv_count = 1;
  return result;
}
