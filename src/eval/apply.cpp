// Function application: call frames, the kernel-internal call, FUNCALL,
// APPLY, APPLYHOOK, FUNCTION and multiple values.
#include "builtins/table.h"
#include "eval/builtin_call.h"
#include "eval/context.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace {

inline bool symbol_tag(uint32_t t) { return t == TAG_SYMBOL || t == TAG_INDEX || t == TAG_LEXREF; }

// A kind-4 call made through call_frame: the key/value pairs after the
// `required` arguments are compacted into entries tagged with their
// keyword number.
void preprocess_keywords(uint32_t required) {
  ThreadState* ts = zvts;
  uint32_t src = ts->zvform - required - 1;
  uint32_t dst = src;
  while (src >= ts->septr && src > 0) {
    Value key = ts->stack[src].arg;
    if (tag_of(key) != TAG_KEYWORD) {
      lisp_cerror(MSG_CONT_IGNORE_ARG, E_BAD_KEYWORD, key);
      src -= 1;
      continue;
    }
    if (src == ts->septr) {
      lisp_cerror(MSG_CONT_IGNORE_KEY, E_KEY_NO_VALUE, key);
      break;
    }
    if (symbol_index(key) >= KEYWORD_SLOTS) {
      // A keyword no built-in takes: an untagged pair, checked by the
      // built-in's keyword parser (it may be :ALLOW-OTHER-KEYS).
      Value value = ts->stack[src - 1].arg;
      ts->stack[dst] = StackEntry{key, 0, 0};
      ts->stack[dst - 1] = StackEntry{value, 0, 0};
      dst -= 2;
      src -= 2;
      continue;
    }
    ts->stack[dst] =
        StackEntry{ts->stack[src - 1].arg, static_cast<uint16_t>(symbol_index(key)), 0};
    dst -= 1;
    src -= 2;
  }
  ts->septr = static_cast<uint16_t>(dst + 1);
}

// Call an interpreted function or closure `fn` on the frame's arguments.
Value apply_lambda(ThreadState* ts, uint16_t frame, Value fn) {
  root_push(&fn);
  uint32_t lo = ts->septr;
  if (car(fn) == make_symbol(FS_LEXICAL_CLOSURE)) {
    Value env = car(cdr(fn));
    if (!nil_p(env)) lexenv_enter(push_entry(env, ST_CLOSURE_ENV, 0), frame);
  }
  Value v = run_lambda_body(ts, frame, fn, lo);
  root_pop();
  return v;
}

}  // namespace

Value call_builtin_routine(uint32_t n) { return run_builtin(zvts, n, zv_builtins[n].count); }

Value (*zv_instance_function)(Value x) = nullptr;

Value apply_pushed(ThreadState* ts, uint16_t frame, Value fn) {
  // A callable object hands the call on to what it runs; a chain of them
  // that never reaches a function is an undefined function.
  for (uint32_t hops = 0;; hops++) {
    uint32_t t = tag_of(fn);
    if (t >= TAG_BUILTIN + KIND_FIXED && t <= TAG_BUILTIN + KIND_KEYS) {
      uint32_t n = builtin_number(fn);
      uint32_t count = zv_builtins[n].count;
      uint32_t nargs = frame - ts->septr;
      if (nargs < count) return lisp_error(E_FEW_ARGS_CALL);
      if (t == TAG_BUILTIN + KIND_FIXED && nargs > count) {
        lisp_cerror(MSG_CONT_IGNORE_ARG, E_MANY_ARGS, ts->stack[frame - count - 1].arg);
        ts->septr = static_cast<uint16_t>(frame - count);
      } else if (t == TAG_BUILTIN + KIND_KEYS && nargs > count) {
        preprocess_keywords(count);
      }
      return call_builtin_routine(n);
    }
    if (cons_p(fn) && (car(fn) == make_symbol(FS_LAMBDA) || car(fn) == make_symbol(FS_LEXICAL_CLOSURE)))
      return apply_lambda(ts, frame, fn);
    if (t == TAG_OBJECT && zv_instance_function && hops < 16) {
      Value next = zv_instance_function(fn);
      if (!nil_p(next)) {
        fn = next;
        continue;
      }
    }
    return lisp_error(E_UNDEFINED, stack_entry(frame).arg);
  }
}

Value call_frame() {
  ThreadState* ts = zvts;
  LexState saved = lexenv_save();
  ts->mv_count = 1;
  uint16_t frame = ts->zvform;
  Value f = stack_entry(frame).arg;
  Value fn = f;
  if (symbol_tag(tag_of(f))) {
    fn = sym_function(symbol_index(f));
    if (nil_p(fn)) {
      Value v = lisp_error(E_UNDEFINED, f);
      lexenv_restore(saved);
      return v;
    }
  }
  // The callee never sees the caller's lexical variables.
  lexenv_enter(0, frame);
  Value v = apply_pushed(ts, frame, fn);
  lexenv_restore(saved);
  return v;
}

Value call_function(Value fn, uint32_t nargs, const Value* args) {
  push_frame(fn, ST_CALL_FRAME);
  for (uint32_t k = 0; k < nargs; k++) push_arg(args[k]);
  Value v = call_frame();
  pop_frame();
  return v;
}
Value call_function0(Value fn) { return call_function(fn, 0, nullptr); }
Value call_function1(Value fn, Value a) { return call_function(fn, 1, &a); }
Value call_function2(Value fn, Value a, Value b) {
  Value v[2] = {a, b};
  return call_function(fn, 2, v);
}
Value call_function3(Value fn, Value a, Value b, Value c) {
  Value v[3] = {a, b, c};
  return call_function(fn, 3, v);
}

void check_max_args(uint32_t max) {
  ThreadState* ts = zvts;
  if (arg_count() <= max) return;
  lisp_cerror(MSG_CONT_IGNORE_ARG, E_MANY_ARGS, arg(max + 1));
  ts->septr = static_cast<uint16_t>(ts->zvform - max);
}

Value args_to_list(uint32_t lo, uint32_t hi) {
  ThreadState* ts = zvts;
  Value list = NIL;
  root_push(&list);
  for (uint32_t i = lo; i < hi; i++) list = cons(stack_entry(i).arg, list);
  root_pop();
  (void)ts;
  return list;
}

void spread_list(Value list) {
  ThreadState* ts = zvts;
  uint32_t n = list_walk_length(list);
  // Leave the error signaller room to report the overflow.
  if (n + 32 >= ts->septr) lisp_fatal_error(E_STACK);
  for (; cons_p(list); list = cdr(list)) push_arg(car(list));
}

// ---------------------------------------------------------------------------
// Multiple values

Value set_values(uint32_t n, const Value* v) {
  ThreadState* ts = zvts;
  uint16_t base = ts->septr;
  for (uint32_t k = 0; k < n; k++) push_arg(v[k]);
  ts->mv_base = base;
  ts->mv_count = static_cast<uint16_t>(n);
  ts->glvalue = n ? v[0] : NIL;
  return ts->glvalue;
}

Value values_from_frame() {
  ThreadState* ts = zvts;
  uint32_t n = arg_count();
  ts->mv_count = static_cast<uint16_t>(n);
  ts->mv_base = ts->zvform;
  ts->glvalue = n ? arg(1) : NIL;
  return ts->glvalue;
}

// The values lie at or below where they are copied to, so copying the
// first value first never overwrites one still to be read.
uint32_t values_push(Value first) {
  ThreadState* ts = zvts;
  uint32_t n = ts->mv_count;
  if (n == 1) {
    push_arg(first);
    return 1;
  }
  uint16_t base = ts->mv_base;
  for (uint32_t k = 0; k < n; k++) push_arg(ts->stack[base - 1 - k].arg);
  return n;
}

Value values_list(Value first) {
  ThreadState* ts = zvts;
  uint32_t top = ts->septr;
  values_push(first);
  Value list = args_to_list(ts->septr, top);
  ts->septr = static_cast<uint16_t>(top);
  return list;
}

// ---------------------------------------------------------------------------
// Built-ins 16-18, 23-25

namespace {

// The first argument's entry becomes a call frame for the rest, with the
// elements of *spread (APPLY's list) pushed after them when it is given.
Value call_from_first_argument(const Value* spread = nullptr) {
  ThreadState* ts = zvts;
  uint16_t outer = ts->zvform;
  uint16_t f = static_cast<uint16_t>(outer - 1);
  StackEntry& e = stack_entry(f);
  e.tag = ST_FUNCALL_FRAME;
  e.link = outer;
  ts->zvform = f;
  if (spread) spread_list(*spread);
  Value v = call_frame();
  ts->zvform = outer;
  return v;
}

}  // namespace

Value bi_funcall(Value, Value) { return call_from_first_argument(); }

Value bi_apply(Value, Value) {
  ThreadState* ts = zvts;
  Value list = ts->stack[ts->septr].arg;
  ts->septr++;
  // spread_list pushes without allocating; only its error report may, and
  // that leaves here for good.
  if (!is_list(list)) return lisp_error(E_WRONG_TYPE, list);
  return call_from_first_argument(&list);
}

// (APPLYHOOK function args evalhook applyhook [env])
Value bi_applyhook(Value, Value) {
  ThreadState* ts = zvts;
  check_max_args(5);
  uint16_t f = ts->zvform;
  if (arg_count() == 5 && !nil_p(arg(5))) lexenv_from_entry(arg_index(5));
  bind_hook_arguments(static_cast<uint16_t>(f - 3));
  Value v = call_function2(make_symbol(FS_APPLY), arg(1), arg(2));
  unbind_to(f);
  return v;
}

Value bi_compiled_function_p(Value x, Value) { return bool_value(is_builtin(x)); }

Value bi_functionp(Value x, Value) {
  uint32_t t = tag_of(x);
  if (symbol_tag(t)) return bool_value(!nil_p(x));
  if (t >= TAG_BUILTIN + KIND_FIXED && t <= TAG_BUILTIN + KIND_KEYS) return T;
  if (cons_p(x))
    return bool_value(car(x) == make_symbol(FS_LAMBDA) || car(x) == make_symbol(FS_LEXICAL_CLOSURE));
  if (t == TAG_OBJECT && zv_instance_function) return bool_value(!nil_p(zv_instance_function(x)));
  return NIL;
}

namespace {

// #'name naming a built-in: the FUNCTION form in the enclosing form is
// replaced by the built-in itself, so the next evaluation skips the lookup.
void displace_function_form(Value fn) {
  ThreadState* ts = zvts;
  uint16_t own = ts->zvform;
  if (!own) return;
  Value fform = ts->stack[own].arg;
  uint16_t outer = ts->stack[own].link;
  if (!outer || !is_eval_frame_tag(stack_entry(outer).tag)) return;
  for (Value p = ts->stack[outer].arg; cons_p(p); p = cdr(p)) {
    if (car_published(p) == fform) {
      set_car_published(p, fn);
      return;
    }
  }
}

}  // namespace

Value sf_function(Value args, Value) {
  if (!cons_p(args)) return lisp_error(E_FEW_ARGS);
  Value x = car(args);
  uint32_t t = tag_of(x);
  if (symbol_tag(t)) {
    Value fn = sym_function(symbol_index(x));
    if (is_builtin(fn)) displace_function_form(fn);
    return fn;
  }
  if (cons_p(x) && car(x) == make_symbol(FS_LAMBDA)) return make_closure(cdr(x));
  if (is_builtin(x)) return x;
  return lisp_error(E_WRONG_TYPE, x);
}

// ---------------------------------------------------------------------------
// The root tables keyed by symbols (types, place expanders) go through the
// hash-table built-ins, so that both follow the one hashing rule saved with
// images.

// GETHASH's second value must not leak into the caller's values.
Value root_table_get(uint32_t root, Value key) {
  Value args[3] = {symbol_normal(key), zvm.roots[root], NO_VALUE};
  Value v = call_function(bi_value(BI_GETHASH), 3, args);
  zvts->mv_count = 1;
  return v;
}

void root_table_put(uint32_t root, Value key, Value value) {
  Value args[3] = {symbol_normal(key), zvm.roots[root], value};
  call_function(bi_value(BI_PUTHASH), 3, args);
}

void root_table_remove(uint32_t root, Value key) {
  Value args[2] = {symbol_normal(key), zvm.roots[root]};
  call_function(bi_value(BI_REMHASH), 2, args);
}
