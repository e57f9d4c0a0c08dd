// Form evaluation: the self-optimising interpreter's main loop.
//
// Source lists are rewritten as they run: a variable found on the lexical
// chain becomes a lexical reference carrying its distance from zvlexenv,
// and a macro call is replaced by its expansion.  Everything the evaluator
// keeps between steps lives on the Lisp stack: the eval frame holds the
// form, so the form survives a collection without a native root.
#include "eval/eval.h"

#include "builtins/table.h"
#include "eval/builtin_call.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/lisp_thread.h"
#include "eval/io_locks.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "threads/safepoint.h"

void (*zv_console_refresh)() = nullptr;

namespace {

inline bool symbol_tag(uint32_t t) { return t == TAG_SYMBOL || t == TAG_INDEX || t == TAG_LEXREF; }

// A hook variable counts as set when it holds anything but NIL or the
// unbound marker.
inline bool hook_set(uint32_t sym) {
  Value v = sym_value(sym);
  return !nil_p(v) && !is_no_value(v);
}

// The pair for symbol s in a closure environment (an association list),
// or NIL.  Keys are compared by symbol index only.
Value env_pair(Value env, uint32_t s) {
  for (; cons_p(env); env = cdr(env)) {
    Value pair = car(env);
    if (cons_p(pair) && symbol_index(car(pair)) == s) return pair;
  }
  return NIL;
}

// A global symbol macro (DEFINE-SYMBOL-MACRO) is a symbol without a value
// whose property MACRO holds its expansion; the expansion is evaluated,
// or assigned with SETF, where the symbol is used as a variable that no
// binding covers.  NO_VALUE when s is not one.
Value symbol_macro_expansion(uint32_t s) {
  for (Value p = sym_plist(s); cons_p(p) && cons_p(cdr(p)); p = cdr(cdr(p)))
    if (tag_of(car(p)) == TAG_SYMBOL && symbol_index(car(p)) == FS_MACRO) return car(cdr(p));
  return NO_VALUE;
}

Value unbound(uint32_t s) {
  Value expansion = symbol_macro_expansion(s);
  if (!is_no_value(expansion)) return eval(cons(expansion, NIL));
  return lisp_error(E_UNBOUND, make_symbol(s));
}

// Where the lexical binding of s (no special variable) keeps its value: a
// stack entry's argument or, past the function's own bindings, the cdr of
// a closure environment's pair; nullptr when s has none.  *distance gets
// the stack entry's distance above the environment, or a number above
// LEXREF_MAX_DISTANCE when the binding cannot be cached.  The pointer is
// good until the next allocation.
inline Value* lexical_binding(ThreadState* ts, uint32_t s, uint32_t* distance) {
  uint32_t i = ts->zvlexenv;
  *distance = LEXREF_MAX_DISTANCE + 1;
  while (i) {
    StackEntry& e = stack_entry(i);
    if (e.tag & ST_CONTEXT) break;
    if (e.tag == s) {
      *distance = i - ts->zvlexenv;
      return &e.arg;
    }
    i = e.link;
  }
  if (i && ts->stack[i].tag == ST_CLOSURE_ENV) {
    Value pair = env_pair(ts->stack[i].arg, s);
    if (!nil_p(pair)) return &cons_cell(pair)[1];
  }
  return nullptr;
}

// The binding a cached lexical reference leads to, or nullptr.  It is
// trusted only inside the current lexical environment: its distance was
// measured in some earlier call, and the same distance may now lead out of
// this function's frame, onto a binding of the same symbol in a caller.
inline Value* lexref_binding(ThreadState* ts, Value ref) {
  uint32_t s = symbol_index(ref);
  uint32_t i = ts->zvlexenv + lexref_distance(ref);
  if (ts->zvlexenv && i < ts->lexframe) {
    StackEntry& e = ts->stack[i];
    if (e.tag == s) return &e.arg;
    if (e.tag == ST_CLOSURE_ENV) {
      Value pair = env_pair(e.arg, s);
      if (!nil_p(pair)) return &cons_cell(pair)[1];
    }
  }
  return nullptr;
}

// Full lookup of symbol s for the form in `cell` (rewritten into a lexical
// reference when the binding lies within reach of one).
Value lookup_symbol(ThreadState* ts, Value cell, uint32_t s) {
  if (!sym_is_special(s)) {
    uint32_t d;
    if (const Value* p = lexical_binding(ts, s, &d)) {
      if (d <= LEXREF_MAX_DISTANCE) set_car_published(cell, make_lexref(d, s));
      return *p;
    }
  }
  Value v = sym_value(s);
  return is_no_value(v) ? unbound(s) : v;
}

inline Value lookup_lexref(ThreadState* ts, Value cell, Value ref) {
  if (const Value* p = lexref_binding(ts, ref)) return *p;
  return lookup_symbol(ts, cell, symbol_index(ref));
}

Value eval_atom(ThreadState* ts, Value cell, Value form) {
  uint32_t t = tag_of(form);
  if (t == TAG_LEXREF) return lookup_lexref(ts, cell, form);
  if (t == TAG_SYMBOL || t == TAG_INDEX) return lookup_symbol(ts, cell, symbol_index(form));
  return form;
}

// Control-C belongs to the thread that answers the console; the others
// leave the bit for it.
bool takes_keyboard(const ThreadState*) { return console_takes_keyboard_interrupt(); }

// Each bit is cleared by the thread that acts on it, and only then: the
// stop request stays up until the stopper lowers it.  Returns the cell,
// which a collection meanwhile (another thread's, or the handler's) may
// have moved.
Value poll_interrupt(Value cell) {
  int pending = interrupt_pending_bits();
  root_push(&cell);
  if (pending & PENDING_SAFEPOINT) safe_point();
  if ((pending & PENDING_CONSOLE) && interrupt_take(PENDING_CONSOLE) && zv_console_refresh)
    zv_console_refresh();
  if ((pending & PENDING_KEYBOARD) && takes_keyboard(zvts) && interrupt_take(PENDING_KEYBOARD))
    call_function0(make_symbol(FS_KEYBOARD_INTERRUPT));
  if (pending & PENDING_THREAD) thread_interrupts_run();
  root_pop();
  return cell;
}

}  // namespace

void interrupt_poll() {
  if (interrupt_pending_bits()) poll_interrupt(NIL);
}

void walk_poll_slow(Value* a, Value* b) {
  Value none = NIL;
  root_push(a ? a : &none);
  root_push(b ? b : &none);
  poll_interrupt(NIL);
  root_pop(2);
}

namespace {

// Call a hook function h with the hook variables bound to NIL; args are
// the hook's arguments.
Value call_hook(Value h, uint32_t nargs, const Value* args) {
  ThreadState* ts = zvts;
  ts->evalhook_skip = 0;
  uint32_t limit = ts->septr;
  bind_special(FS_EVALHOOK, NIL);
  bind_special(FS_APPLYHOOK, NIL);
  Value v = call_function(h, nargs, args);
  unbind_to(limit);
  ts->septr = static_cast<uint16_t>(limit);
  return v;
}

Value call_eval_hook(Value cell) {
  Value args[2] = {car(cell), NIL};
  root_push(&args[0]);
  args[1] = capture_environment();
  root_pop();
  return call_hook(sym_value(FS_EVALHOOK), 2, args);
}

// The values of the forms, pushed as arguments in order.
inline void push_values_of(Value forms) {
  root_push(&forms);
  for (; cons_p(forms); forms = cdr(forms)) {
    Value v = eval(forms);
    push_arg(v);
  }
  root_pop();
}

// A fresh list of the values of the forms.
Value eval_each_to_list(ThreadState* ts, Value forms) {
  uint32_t top = ts->septr;
  push_values_of(forms);
  Value list = args_to_list(ts->septr, top);
  ts->septr = static_cast<uint16_t>(top);
  return list;
}

// Built-in 22 on the argument forms of the current eval frame's form.
Value eval_args_to_list(ThreadState* ts, uint16_t frame) {
  return eval_each_to_list(ts, cdr(ts->stack[frame].arg));
}

Value call_apply_hook(ThreadState* ts, uint16_t frame) {
  Value args[3] = {car(ts->stack[frame].arg), NIL, NIL};
  root_push(&args[0]);
  root_push(&args[1]);
  args[1] = eval_args_to_list(ts, frame);
  args[2] = capture_environment();
  root_pop(2);
  return call_hook(sym_value(FS_APPLYHOOK), 3, args);
}

// Evaluate the argument forms of a built-in call of kind 2..4 onto the
// stack.  Returns false when the error for too few forms was answered with
// a value, which is then the call's value (*v).
bool eval_builtin_args(ThreadState* ts, uint16_t frame, uint32_t kind, uint32_t count, Value* v) {
  Value rest = cdr(ts->stack[frame].arg);
  root_push(&rest);
  for (uint32_t k = 0; k < count; k++, rest = cdr(rest)) {
    if (!cons_p(rest)) {
      root_pop();
      *v = lisp_error(E_FEW_ARGS);
      return false;
    }
    Value a = eval(rest);
    push_arg(a);
  }
  if (kind == KIND_OPTREST) {
    for (; cons_p(rest); rest = cdr(rest)) {
      Value a = eval(rest);
      push_arg(a);
    }
  } else if (kind == KIND_KEYS) {
    while (cons_p(rest)) {
      Value key = eval(rest);
      rest = cdr(rest);
      if (tag_of(key) != TAG_KEYWORD) {
        lisp_cerror(MSG_CONT_IGNORE_ARG, E_BAD_KEYWORD, key);
        continue;
      }
      if (!cons_p(rest)) {
        lisp_cerror(MSG_CONT_IGNORE_KEY, E_KEY_NO_VALUE, key);
        break;
      }
      root_push(&key);
      Value a = eval(rest);
      root_pop();
      if (symbol_index(key) >= KEYWORD_SLOTS) {
        // A keyword no built-in takes (:ALLOW-OTHER-KEYS among them):
        // kept as an untagged pair for the built-in's own check.
        push_entry(key, 0);
        push_entry(a, 0);
      } else {
        push_entry(a, static_cast<uint16_t>(symbol_index(key)));
      }
      rest = cdr(rest);
    }
  } else if (cons_p(rest)) {
    // The extra forms are never evaluated.
    lisp_cerror(MSG_CONT_IGNORE_ARG, E_MANY_ARGS, car(rest));
  }
  root_pop();
  return true;
}

// Apply an interpreted function or closure `fn` to argument forms of the
// current eval frame.  `inherit`: the callee continues the caller's
// lexical environment (a lambda expression written as the operator).
Value eval_lambda_call(ThreadState* ts, uint16_t frame, Value fn, bool inherit) {
  root_push(&fn);
  push_values_of(cdr(ts->stack[frame].arg));
  uint32_t lo = ts->septr;
  if (car(fn) == make_symbol(FS_LEXICAL_CLOSURE)) {
    Value env = car(cdr(fn));
    if (!nil_p(env)) {
      uint16_t e = push_entry(env, ST_CLOSURE_ENV, 0);
      lexenv_enter(e, frame);
    } else {
      lexenv_enter(0, frame);
    }
  } else if (!inherit) {
    ts->zvlexenv = 0;
    ts->lexframe = frame;
  }
  Value v = run_lambda_body(ts, frame, fn, lo);
  root_pop();
  return v;
}

// Apply a callable object to the argument forms of the current eval frame.
Value eval_object_call(ThreadState* ts, uint16_t frame, Value fn) {
  root_push(&fn);
  push_values_of(cdr(ts->stack[frame].arg));
  root_pop();
  lexenv_enter(0, frame);
  return apply_pushed(ts, frame, fn);
}

// Does the tree hold the cons x?  The free part of the Lisp stack is the
// work stack, so nothing is allocated; a walk that runs out of room or
// steps (a circular expansion) answers yes, the safe answer.
bool tree_contains(ThreadState* ts, Value tree, Value x) {
  uint32_t sp = ts->septr, limit = 8, steps = 1u << 20;
  for (;;) {
    while (cons_p(tree)) {
      if (tree == x || --steps == 0) return true;
      if (cons_p(cdr(tree))) {
        if (sp <= limit) return true;
        ts->stack[--sp].arg = cdr(tree);
      }
      tree = car(tree);
    }
    if (sp == ts->septr) return false;
    tree = ts->stack[sp++].arg;
  }
}

// What to do with the expansion of a macro call held in `cell`: returns
// true when evaluation continues in the same frame with the form now in
// it, false when the expansion is an atom (its value is then in *v).
bool displace(ThreadState* ts, uint16_t frame, Value cell, Value expansion, LexState saved,
              Value* v) {
  ts->septr = frame;
  ts->mv_count = 1;
  lexenv_restore(saved);
  Value form = ts->stack[frame].arg;
  if (cell != ts->eval_slot) {
    set_car_published(cell, expansion);
    if (cons_p(expansion)) {
      ts->stack[frame].arg = expansion;
      return true;
    }
  } else if (cons_p(expansion)) {
    // No source cell: the form itself takes the expansion's place, unless
    // the expansion holds the form (a &WHOLE argument), which would then
    // become circular, or another thread may be evaluating the form too:
    // that takes two stores, and it could see the one without the other.
    if (world_thread_count() > 1 || tree_contains(ts, expansion, form)) {
      ts->stack[frame].arg = expansion;
    } else {
      set_car(form, car(expansion));
      set_cdr(form, cdr(expansion));
    }
    return true;
  } else {
    set_car_published(cell, expansion);
  }
  *v = eval_atom(ts, cell, expansion);
  return false;
}

Value eval_compound(ThreadState* ts, Value cell, Value form) {
  check_native_stack();
  uint16_t frame = push_frame(form, ST_EVAL_FRAME);
  check_reserves();
  LexState saved = lexenv_save();
  ts->frame_env[frame] = saved.zvlexenv | uint32_t(saved.lexframe) << 16;
  Value v;
  for (;;) {
    form = ts->stack[frame].arg;
    Value op = car_published(form);
    Value fn;
    bool inherit = false;
    if (symbol_tag(tag_of(op))) {
      fn = sym_function(symbol_index(op));
      if (nil_p(fn)) {
        v = lisp_error(E_UNDEFINED, op);
        break;
      }
    } else {
      fn = op;
      inherit = true;
    }
    uint32_t t = tag_of(fn);
    if (t == TAG_BUILTIN) {  // special form
      uint32_t n = builtin_number(fn);
      ts->current_builtin = static_cast<uint16_t>(n);
      v = zv_builtins[n].fn(cdr(form), NIL);
      break;
    }
    if (t == TAG_BUILTIN + KIND_MACRO) {  // macro built-in: the whole form
      uint32_t n = builtin_number(fn);
      ts->current_builtin = static_cast<uint16_t>(n);
      root_push(&cell);  // displacement stores into it
      Value e = zv_builtins[n].fn(form, NIL);
      root_pop();
      if (displace(ts, frame, cell, e, saved, &v)) continue;
      break;
    }
    if (t >= TAG_BUILTIN + KIND_FIXED && t <= TAG_BUILTIN + KIND_KEYS) {
      if (hook_set(FS_APPLYHOOK)) {
        v = call_apply_hook(ts, frame);
        break;
      }
      uint32_t n = builtin_number(fn);
      uint32_t count = zv_builtins[n].count;
      if (eval_builtin_args(ts, frame, t - TAG_BUILTIN, count, &v)) v = run_builtin(ts, n, count);
      break;
    }
    if (cons_p(fn)) {
      Value head = car(fn);
      if (head == make_symbol(FS_LAMBDA) || head == make_symbol(FS_LEXICAL_CLOSURE)) {
        v = hook_set(FS_APPLYHOOK) ? call_apply_hook(ts, frame)
                                   : eval_lambda_call(ts, frame, fn, inherit);
        break;
      }
      if (head == make_symbol(FS_MACRO) && !inherit) {
        root_push(&cell);
        Value e = expand_macro(cdr(fn), form, NO_VALUE);
        root_pop();
        if (displace(ts, frame, cell, e, saved, &v)) continue;
        break;
      }
    }
    if (t == TAG_OBJECT && zv_instance_function) {  // a generic function, say
      v = hook_set(FS_APPLYHOOK) ? call_apply_hook(ts, frame) : eval_object_call(ts, frame, fn);
      break;
    }
    v = lisp_error(E_UNDEFINED, car(ts->stack[frame].arg));
    break;
  }
  // A displaced atom expansion has popped nothing yet: the frame is still
  // the innermost one either way.
  ts->zvform = ts->stack[frame].link;
  ts->septr = static_cast<uint16_t>(frame + 1);
  lexenv_restore(saved);
  ts->glvalue = v;
  return v;
}

}  // namespace

Value run_lambda_body(ThreadState* ts, uint16_t frame, Value fn, uint32_t lo) {
  Value lambda = cdr(fn);
  if (car(fn) == make_symbol(FS_LEXICAL_CLOSURE)) lambda = cdr(lambda);
  Value v;
  if (!cons_p(lambda)) {
    v = lambda;
  } else {
    note_function_declarations(cdr(lambda), car(lambda), false);
    // Binding allocates (a &REST list, defaults): this copy of fn must be
    // rooted too, or the body would be read from where the function was.
    root_push(&fn);
    bool failed = bind_lambda_list(car(lambda), lo);
    root_pop();
    lambda = cdr(fn);
    if (car(fn) == make_symbol(FS_LEXICAL_CLOSURE)) lambda = cdr(lambda);
    v = failed ? ts->glvalue : progn(cdr(lambda));
  }
  unbind_to(frame);
  return v;
}

Value eval(Value cell) {
  ThreadState* ts = zvts;
  if (interrupt_pending_bits()) cell = poll_interrupt(cell);
  if (hook_set(FS_EVALHOOK)) {
    if (!ts->evalhook_skip) return call_eval_hook(cell);
    ts->evalhook_skip = 0;
  }
  ts->mv_count = 1;
  Value form = car_published(cell);
  if (tag_of(form) == TAG_CONS) {
    if (nil_p(form)) return NIL;
    return eval_compound(ts, cell, form);
  }
  return eval_atom(ts, cell, form);
}

Value eval_form(Value form) {
  Value cell = zvts->eval_slot;
  set_car(cell, form);
  set_cdr(cell, NIL);
  return eval(cell);
}

Value progn(Value body) {
  ThreadState* ts = zvts;
  ts->mv_count = 1;
  ts->glvalue = NIL;
  if (!cons_p(body)) return NIL;
  if (!cons_p(cdr(body))) return ts->glvalue = eval(body);  // nothing to keep
  root_push(&body);
  for (; cons_p(body); body = cdr(body)) ts->glvalue = eval(body);
  root_pop();
  return ts->glvalue;
}

void lexenv_from_entry(uint16_t i) {
  StackEntry& e = stack_entry(i);
  e.tag = ST_CLOSURE_ENV;
  e.link = 0;
  lexenv_enter(i, static_cast<uint16_t>(i + 1));
}

Value variable_value(uint32_t s) {
  ThreadState* ts = zvts;
  uint32_t d;
  if (!sym_is_special(s))
    if (const Value* p = lexical_binding(ts, s, &d)) return *p;
  return sym_value(s);
}

void assign_variable(Value place, Value value, Value cell) {
  ThreadState* ts = zvts;
  uint32_t s = symbol_index(place);
  if (tag_of(place) == TAG_LEXREF) {
    if (Value* p = lexref_binding(ts, place)) {
      *p = value;
      return;
    }
  }
  if (sym_is_constant(s)) {
    lisp_cerror(MSG_CONT_UNCHANGED, E_BIND_CONSTANT, make_symbol(s));
    return;
  }
  if (!sym_is_special(s)) {
    uint32_t d;
    if (Value* p = lexical_binding(ts, s, &d)) {
      *p = value;
      if (d <= LEXREF_MAX_DISTANCE && cons_p(cell) && symbol_index(car_published(cell)) == s)
        set_car_published(cell, make_lexref(d, s));
      return;
    }
  }
  if (is_no_value(sym_value(s))) {
    Value expansion = symbol_macro_expansion(s);
    if (!is_no_value(expansion)) {
      // (SETF expansion 'value)
      Value form = NIL;
      root_push(&expansion);
      root_push(&form);
      form = cons(value, NIL);
      form = cons(make_symbol(FS_QUOTE), form);
      form = cons(form, NIL);
      form = cons(expansion, form);
      form = cons(make_symbol(FS_SETF), form);
      form = cons(form, NIL);
      eval(form);
      root_pop(2);
      return;
    }
  }
  sym_set_value(s, value);
}

// ---------------------------------------------------------------------------
// Built-ins 19-22, 26, 27

Value bi_constantp(Value x, Value) {
  if (nil_p(x)) return T;
  uint32_t t = tag_of(x);
  if (t == TAG_CONS) return bool_value(car(x) == make_symbol(FS_QUOTE));
  if (symbol_tag(t)) return bool_value(sym_is_constant(symbol_index(x)));
  return T;
}

Value bi_eval(Value x, Value) { return eval_form(x); }

void bind_hook_arguments(uint16_t first) {
  ThreadState* ts = zvts;
  uint32_t hooks[2] = {FS_EVALHOOK, FS_APPLYHOOK};
  for (uint16_t k = 0; k < 2; k++) {
    uint16_t i = static_cast<uint16_t>(first - k);
    StackEntry& e = stack_entry(i);
    e.arg = special_exchange(hooks[k], e.arg);
    e.tag = static_cast<uint16_t>(hooks[k]);
    e.link = ts->zvdinenv;
    ts->zvdinenv = i;
  }
}

// (EVALHOOK form evalhook applyhook [env])
Value bi_evalhook(Value, Value) {
  ThreadState* ts = zvts;
  check_max_args(4);
  uint16_t f = ts->zvform;
  if (arg_count() == 4 && !nil_p(arg(4))) lexenv_from_entry(arg_index(4));
  bind_hook_arguments(static_cast<uint16_t>(f - 2));
  ts->evalhook_skip = 1;
  Value v = eval_form(arg(1));
  ts->evalhook_skip = 0;
  unbind_to(f);
  return v;
}

Value bi_eval_list(Value list, Value) {
  ThreadState* ts = zvts;
  Value r = eval_each_to_list(ts, list);
  ts->mv_count = 1;
  return r;
}

Value sf_progn(Value body, Value) { return progn(body); }

Value sf_quote(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  return car(args);
}
