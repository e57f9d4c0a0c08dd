// Macro definition and expansion on request, the place-expander table,
// the place-expansion engine behind SETF and GET-SETF-EXPANSION, and
// VALUES.
//
// The engine's five parts (temporaries, their value forms, store
// variables, store form, access form) travel in a Place record whose
// fields are rooted for as long as it lives.
#include <cstring>

#include "builtins/table.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/hooks.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace {

// Documentation goes to the store when there is one.
void record_doc(Value key, uint32_t kind, Value text) {
  if (zv_hooks.doc_record) zv_hooks.doc_record(key, kind, text);
}

enum : uint32_t {
  E_NO_EXPANSION = 0x1040,  // a place nothing expands (4160)
};

inline Value sym(uint32_t i) { return make_symbol(i); }
inline bool is_sym(Value v, uint32_t i) { return symbol_normal(v) == make_symbol(i); }
inline bool head_is(Value form, uint32_t i) { return cons_p(form) && is_sym(car(form), i); }
inline Value second(Value l) { return cons_p(cdr(l)) ? car(cdr(l)) : NIL; }

Value list2(Value a, Value b) {
  root_push(&a);
  Value l = cons(b, NIL);
  root_pop();
  return cons(a, l);
}
Value list3(Value a, Value b, Value c) {
  root_push(&a);
  root_push(&b);
  Value l = cons(c, NIL);
  root_pop(2);
  return cons(a, cons(b, l));
}

// ---------------------------------------------------------------------------
// Macros

// A symbol's macro definition: a kind-1 built-in or (MACRO ll . body).
Value macro_definition(Value s) {
  Value f = sym_function(symbol_index(s));
  if (tag_of(f) == TAG_BUILTIN + KIND_MACRO) return f;
  return head_is(f, FS_MACRO) ? f : NIL;
}

bool is_macro_call(Value form) {
  if (!cons_p(form)) return false;
  Value op = symbol_normal(car(form));
  return tag_of(op) == TAG_SYMBOL && macro_definition(op) != NIL;
}

Value expand_once(Value form, Value env) {
  Value def = macro_definition(symbol_normal(car(form)));
  if (tag_of(def) == TAG_BUILTIN + KIND_MACRO) {
    uint32_t n = builtin_number(def);
    uint16_t saved = zvts->current_builtin;
    zvts->current_builtin = static_cast<uint16_t>(n);
    Value e = zv_builtins[n].fn(form, NIL);
    zvts->current_builtin = saved;
    return e;
  }
  return expand_macro(cdr(def), form, env);
}

// MACROEXPAND and MACROEXPAND-1 over (form [environment]).
Value macroexpand(bool repeat) {
  check_max_args(2);
  Value env = NIL;
  if (arg_count() > 1) {
    env = arg(2);
    lexenv_from_entry(arg_index(2));
  }
  Value form = arg(1);
  root_push(&form);
  root_push(&env);
  bool expanded = false;
  while (is_macro_call(form)) {
    form = expand_once(form, env);
    expanded = true;
    if (!repeat) break;
  }
  root_pop(2);
  Value v[2] = {form, bool_value(expanded)};
  return set_values(2, v);
}

}  // namespace

// (DEFMACRO name lambda-list . body)
Value sf_defmacro(Value args, Value) {
  if (!cons_p(args) || symbol_arg_index(car(args)) <= 0) return lisp_error(E_WRONG_TYPE, args);
  if (!cons_p(cdr(args))) return lisp_error(E_WRONG_TYPE, cdr(args));
  Value name = symbol_normal(car(args));
  Value def = cdr(args);
  root_push(&name);
  root_push(&def);
  Value doc = body_doc_string(cdr(def));
  if (doc != NIL) {
    root_push(&doc);
    def = cons(car(def), cdr(cdr(def)));
    record_doc(name, DOC_FUNCTION, doc);
    root_pop();
  }
  def = cons(sym(FS_MACRO), def);
  uint32_t i = symbol_index(name);
  if ((hdr_u8(HDR_SWITCHES) & SW_WARN_REDEFINE) && sym_function(i) != NIL) {
    Value objs[2] = {make_fixnum(1), name};
    lisp_warn(W_REDEFINED, objs);
  }
  sym_set_function(symbol_index(name), def);
  root_pop(2);
  zvts->mv_count = 1;
  return name;
}

namespace {

// ---------------------------------------------------------------------------
// Place-expander definitions

Value expander_name(Value args) {
  if (!cons_p(args) || symbol_arg_index(car(args)) <= 0 || !is_list(cdr(args))) return NO_VALUE;
  return symbol_normal(car(args));
}

// DEFSETF and DEFINE-SETF-EXPANDER: the name alone removes its expander; a
// symbol after it goes to `by_symbol`, a definition to `by_body`.  Both get
// the name and what follows it, rooted.
using ExpanderStep = void (*)(const Value* name, const Value* rest);
Value define_place_expander(Value args, ExpanderStep by_symbol, ExpanderStep by_body) {
  Value name = expander_name(args);
  if (name == NO_VALUE) return lisp_error(E_WRONG_TYPE, args);
  Value rest = cdr(args);
  root_push(&name);
  root_push(&rest);
  if (!cons_p(rest))
    root_table_remove(ROOT_PLACE_EXPANDERS, name);
  else if (tag_of(symbol_normal(car(rest))) == TAG_SYMBOL)
    by_symbol(&name, &rest);
  else
    by_body(&name, &rest);
  root_pop(2);
  zvts->mv_count = 1;
  return name;
}

// DEFINE-SETF-EXPANDER's x: share x's expander, or have none.
void share_expander(const Value* name, const Value* rest) {
  Value e = root_table_get(ROOT_PLACE_EXPANDERS, car(*rest));
  if (e == NO_VALUE)
    root_table_remove(ROOT_PLACE_EXPANDERS, *name);
  else
    root_table_put(ROOT_PLACE_EXPANDERS, *name, e);
}

// DEFINE-SETF-EXPANDER's (MACRO x . body), without its documentation.
void expander_macro(const Value* name, const Value* rest) {
  Value def = *rest;
  root_push(&def);
  Value doc = body_doc_string(cdr(def));
  if (doc != NIL) {
    record_doc(*name, DOC_SETF, doc);
    def = cons(car(def), cdr(cdr(def)));
  }
  def = cons(sym(FS_MACRO), def);
  root_table_put(ROOT_PLACE_EXPANDERS, *name, def);
  root_pop();
}

// DEFSETF's updater symbol, with its documentation.
void setf_updater(const Value* name, const Value* rest) {
  Value doc = second(*rest);
  if (is_string(doc)) record_doc(*name, DOC_SETF, doc);
  root_table_put(ROOT_PLACE_EXPANDERS, *name, symbol_normal(car(*rest)));
}

// DEFSETF's (lambda-list stores . forms), without its documentation.
void setf_lambda(const Value* name, const Value* rest) {
  Value def = *rest;
  root_push(&def);
  Value after = cdr(def);
  if (cons_p(after) && body_doc_string(cdr(after)) != NIL) {
    record_doc(*name, DOC_SETF, car(cdr(after)));
    Value tail = cons(car(cdr(def)), cdr(cdr(cdr(def))));
    def = cons(car(def), tail);
  }
  root_table_put(ROOT_PLACE_EXPANDERS, *name, def);
  root_pop();
}

}  // namespace

// (DEFINE-SETF-EXPANDER name [x . body]): x a symbol shares x's expander,
// otherwise (MACRO x . body); no x removes name's expander.
Value sf_define_setf_expander(Value args, Value) {
  return define_place_expander(args, share_expander, expander_macro);
}

// (DEFSETF name updater [doc]) or (DEFSETF name lambda-list stores [doc]
// . forms): the updater symbol itself, or (lambda-list stores . forms).
Value sf_defsetf(Value args, Value) { return define_place_expander(args, setf_updater, setf_lambda); }

// (%MARK-SUBSTITUTABLE symbol ...)
Value sf_mark_substitutable(Value args, Value) {
  for (; cons_p(args); args = cdr(args)) {
    int32_t i = symbol_arg_index(car(args));
    if (i <= 0) return lisp_error(E_WRONG_TYPE, car(args));
    sym_set_flags(i, sym_flags(i) | SYMF_BIT4);
  }
  return T;
}

namespace {

// ---------------------------------------------------------------------------
// The place-expansion engine

struct Place {
  Value temps, vals, stores, store, access;
};

void place_root(Place* p) {
  *p = Place{NIL, NIL, NIL, NIL, NIL};
  root_push(&p->temps);
  root_push(&p->vals);
  root_push(&p->stores);
  root_push(&p->store);
  root_push(&p->access);
}

// An argument that may be evaluated more than once, or out of order.
bool is_simple(Value a) {
  a = symbol_normal(a);
  if (a == NIL) return true;
  if (cons_p(a)) return is_sym(car(a), FS_QUOTE);
  if (tag_of(a) == TAG_KEYWORD) return true;
  if (tag_of(a) != TAG_SYMBOL) return true;
  return sym_is_constant(symbol_index(a));
}

// The safe form of argument a: itself, or a new temporary that the
// expansion binds to it.  The temporaries are collected in reverse.
Value make_safe(Value a, Value param, int mode, Place* p) {
  if (is_simple(a)) return a;
  int32_t pi = symbol_arg_index(param);
  if (mode == 0 && pi > 0 && (sym_flags(pi) & SYMF_BIT4)) return a;
  root_push(&a);
  Value t = sym_gensym();
  root_push(&t);
  p->temps = cons(t, p->temps);
  p->vals = cons(a, p->vals);
  root_pop(2);
  return t;
}

// (op x ... S) for the arguments xs (a list) and the store variable.
Value call_with_store(Value op, Value xs) {
  Value l = NIL;
  root_push(&op);
  root_push(&xs);
  root_push(&l);
  l = cons(sym(FS_STORE), NIL);
  for (Value r = nreverse_list(xs); cons_p(r);) {
    Value next = cdr(r);
    set_cdr(r, l);
    l = r;
    r = next;
  }
  l = cons(op, l);
  root_pop(3);
  return l;
}

// Safe forms of every argument of the place, in order (a fresh list).
Value safe_arguments(Value place, int mode, Place* p) {
  Value args = cdr(place), out = NIL;
  root_push(&args);
  root_push(&out);
  for (; cons_p(args); args = cdr(args)) {
    Value s = make_safe(car(args), NIL, mode, p);
    out = cons(s, out);
  }
  root_pop(2);
  return nreverse_list(out);
}

Value copy_list(Value l) {
  Value out = NIL;
  root_push(&l);
  root_push(&out);
  for (; cons_p(l); l = cdr(l)) out = cons(car(l), out);
  root_pop(2);
  return nreverse_list(out);
}

// The short form: the updater u called with the arguments and S.
void short_form(Value u, Value place, int mode, Place* p) {
  root_push(&u);
  root_push(&place);
  // Each allocation is its own statement: an argument read before
  // another one allocates could be stale.
  if (mode == 0) {
    Value args = copy_list(cdr(place));
    p->store = call_with_store(u, args);
  } else {
    Value safe = safe_arguments(place, mode, p);
    root_push(&safe);
    Value copy = copy_list(safe);
    p->access = cons(car(place), copy);
    p->store = call_with_store(u, safe);
    root_pop();
  }
  root_pop(2);
}

bool is_symbol_list(Value l) {
  for (; cons_p(l); l = cdr(l))
    if (tag_of(symbol_normal(car(l))) != TAG_SYMBOL) return false;
  return l == NIL;
}

// A parameter of the long form's lambda list: a symbol, or after
// &OPTIONAL (var [default [supplied-p]]).
Value param_var(Value param, bool optional) {
  return symbol_normal(optional && cons_p(param) ? car(param) : param);
}
Value param_default(Value param) { return cons_p(param) ? second(param) : NIL; }
Value param_svar(Value param) {
  return cons_p(param) && cons_p(cdr(param)) ? symbol_normal(second(cdr(param))) : NIL;
}

// Binds &REST's variable to the safe forms of all remaining arguments.
void bind_place_rest(Value var, Value* args, int mode, Place* p, Value* safe) {
  Value rest = NIL;
  root_push(&var);
  root_push(&rest);
  for (; cons_p(*args); *args = cdr(*args)) {
    Value s = make_safe(car(*args), NIL, mode, p);
    *safe = cons(s, *safe);
    rest = cons(car(*safe), rest);
  }
  rest = nreverse_list(rest);
  if (tag_of(var) == TAG_SYMBOL) bind_variable(var, rest);
  root_pop(2);
}

// Binds the parameters of the long form's lambda list to the safe forms
// of the place's arguments (pushed bindings; the caller undoes them).  The
// safe forms are collected, in reverse, in *safe.  False after an error.
bool bind_place_parameters(Value ll, Value place, int mode, Place* p, Value* safe) {
  Value args = cdr(place), value = NIL;
  root_push(&ll);
  root_push(&args);
  root_push(&value);
  bool optional = false, ok = true;
  for (; cons_p(ll); ll = cdr(ll)) {
    int32_t pi = symbol_arg_index(car(ll));
    if (pi == int32_t(FS_LK_OPTIONAL)) {
      optional = true;
      continue;
    }
    if (pi == int32_t(FS_LK_REST) || pi == int32_t(FS_LK_BODY)) {
      Value var = cons_p(cdr(ll)) ? symbol_normal(car(cdr(ll))) : NIL;
      bind_place_rest(var, &args, mode, p, safe);
      break;
    }
    if (pi >= int32_t(FS_LK_ALLOW_OTHER_KEYS) && pi <= int32_t(FS_LK_WHOLE)) break;
    if (tag_of(param_var(car(ll), optional)) != TAG_SYMBOL) {
      lisp_error(E_LAMBDA_LIST, car(ll));
      ok = false;
      break;
    }
    bool present = cons_p(args);
    if (present) {
      value = make_safe(car(args), param_var(car(ll), optional), mode, p);
      *safe = cons(value, *safe);
      args = cdr(args);
    } else if (optional) {
      value = eval_form(param_default(car(ll)));
    } else {
      lisp_error(E_FEW_ARGS_CALL);
      ok = false;
      break;
    }
    bind_variable(param_var(car(ll), optional), value);
    if (optional && param_svar(car(ll)) != NIL)
      bind_variable(param_svar(car(ll)), bool_value(present));
  }
  if (ok && cons_p(args)) lisp_cerror(MSG_CONT_IGNORE_ARG, E_MANY_ARGS, car(args));
  root_pop(3);
  return ok;
}

// The long form (lambda-list stores . forms): the forms run with the
// parameters bound to the safe arguments and every store variable bound
// to S; their value is the store form.  A body of one form has no store
// list.
bool long_form(Value entry, Value place, int mode, Place* p) {
  Value safe = NIL;
  root_push(&entry);
  root_push(&place);
  root_push(&safe);
  LexState ls = lexenv_save();
  uint16_t mark = zvts->septr;
  lexenv_enter(0, 0);
  bool ok = bind_place_parameters(car(entry), place, mode, p, &safe);
  if (ok) {
    Value body = cdr(entry);
    if (cons_p(body) && cons_p(cdr(body)) && is_symbol_list(car(body))) {
      for (Value s = car(body); cons_p(s); s = cdr(s)) {
        root_push(&s);
        bind_variable(symbol_normal(car(s)), sym(FS_STORE));
        root_pop();
      }
      body = cdr(cdr(entry));
    }
    p->store = progn(body);
  }
  unbind_to(mark);
  pop_to(mark);
  lexenv_restore(ls);
  if (ok && mode == 1) {
    safe = nreverse_list(safe);
    p->access = cons(car(place), safe);
  }
  root_pop(3);
  return ok;
}

// (MACRO lambda-list . body): applied to the place like a macro; it must
// deliver the five parts as five values.
bool apply_expander(Value entry, Value place, Place* p) {
  Value first = expand_macro(cdr(entry), place, NO_VALUE);
  if (mv_count() != 5) return false;
  p->temps = first;
  p->vals = mv_value(first, 1);
  p->stores = mv_value(first, 2);
  p->store = mv_value(first, 3);
  p->access = mv_value(first, 4);
  return true;
}

// The engine: false when it refuses the place.  Mode 1 also builds the
// access form and makes every argument safe.
bool expand_place(Value place, int mode, Place* p) {
  place = symbol_normal(place);
  root_push(&place);
  bool ok = false;
  if (tag_of(place) == TAG_SYMBOL) {
    p->stores = cons(sym(FS_STORE), NIL);
    p->store = list3(sym(FS_SETQ), place, sym(FS_STORE));
    p->access = mode ? place : NIL;
    ok = true;
  } else if (cons_p(place) && tag_of(symbol_normal(car(place))) == TAG_SYMBOL) {
    Value entry = root_table_get(ROOT_PLACE_EXPANDERS, car(place));
    root_push(&entry);
    bool own_lists = !head_is(entry, FS_MACRO);  // the engine made temps and vals
    if (!own_lists) {
      ok = apply_expander(entry, place, p);
    } else if (tag_of(symbol_normal(entry)) == TAG_SYMBOL) {
      p->stores = cons(sym(FS_STORE), NIL);
      short_form(symbol_normal(entry), place, mode, p);
      ok = true;
    } else if (cons_p(entry)) {
      p->stores = cons(sym(FS_STORE), NIL);
      ok = long_form(entry, place, mode, p);
    }
    root_pop();
    if (ok && own_lists) {
      p->temps = nreverse_list(p->temps);
      p->vals = nreverse_list(p->vals);
    }
  }
  root_pop();
  return ok;
}

// Expand, replacing a refused place by its MACROEXPAND-1 expansion until
// the engine takes it; error 4160 when the place cannot be expanded.
bool expand_place_fully(Value* place, int mode, Place* p) {
  while (!expand_place(*place, mode, p)) {
    *p = Place{NIL, NIL, NIL, NIL, NIL};
    Value e = call_function1(sym(FS_MACROEXPAND_1), *place);
    if (mv_value(e, 1) == NIL) {
      lisp_error(E_NO_EXPANSION, *place);
      return false;
    }
    *place = e;
  }
  return true;
}

}  // namespace

// (GET-SETF-EXPANSION place)
Value bi_get_setf_expansion(Value place, Value) {
  Place p;
  place_root(&p);
  root_push(&place);
  bool ok = expand_place_fully(&place, 1, &p);
  root_pop(6);
  if (!ok) return NIL;
  Value v[5] = {p.temps, p.vals, p.stores, p.store, p.access};
  return set_values(5, v);
}

namespace {

// ---------------------------------------------------------------------------
// SETF

// The (temporary value-form) pairs of an expansion, in order.
Value binding_pairs(Place* p) {
  Value out = NIL, t = p->temps, v = p->vals;
  root_push(&out);
  root_push(&t);
  root_push(&v);
  for (; cons_p(t) && cons_p(v); t = cdr(t), v = cdr(v)) {
    Value pair = list2(car(t), car(v));
    out = cons(pair, out);
  }
  root_pop(3);
  return nreverse_list(out);
}

Value first_store(const Place* p) {
  return cons_p(p->stores) ? symbol_normal(car(p->stores)) : sym(FS_STORE);
}

// What the pairs of one SETF have produced so far.  Pieces are kept in
// reverse; last_setq is the piece the previous pair added when that was
// a plain assignment, so the next one can join it.
struct SetfState {
  Value pieces, last_setq;
  bool last_fresh;  // last_setq was copied here and may be extended
};

void add_piece(SetfState* st, Value piece) { st->pieces = cons(piece, st->pieces); }

// Joins (SETQ place value) to the previous assignment.  The previous one
// may be a store form an expander still holds, so it is copied first.
void join_assignment(SetfState* st, Value store) {
  root_push(&store);
  if (!st->last_fresh) {
    Value c = copy_list(st->last_setq);
    set_car(st->pieces, c);
    st->last_setq = c;
    st->last_fresh = true;
  }
  Value tail = copy_list(cdr(store));
  Value l = st->last_setq;
  while (cons_p(cdr(l))) l = cdr(l);
  set_cdr(l, tail);
  root_pop();
}

void add_store_pieces(SetfState* st, Value bindings, Value store) {
  root_push(&bindings);
  root_push(&store);
  if (bindings != NIL) {
    Value forms = head_is(store, FS_PROGN) ? cdr(store) : cons(store, NIL);
    forms = cons(bindings, forms);
    add_piece(st, cons(sym(FS_LET_STAR), forms));
    st->last_setq = NIL;
  } else if (head_is(store, FS_SETQ)) {
    if (st->last_setq != NIL) {
      join_assignment(st, store);
    } else {
      add_piece(st, store);
      st->last_setq = store;
      st->last_fresh = false;
    }
  } else {
    if (head_is(store, FS_PROGN)) {
      for (Value f = cdr(store); cons_p(f); f = cdr(f)) {
        root_push(&f);
        add_piece(st, car(f));
        root_pop();
      }
    } else {
      add_piece(st, store);
    }
    st->last_setq = NIL;
  }
  root_pop(2);
}

// One place/value pair of SETF.
bool setf_pair(Value place, Value value, SetfState* st) {
  Place p;
  place_root(&p);
  root_push(&place);
  root_push(&value);
  bool ok = expand_place_fully(&place, 0, &p);
  if (ok) {
    Value bindings = binding_pairs(&p);
    root_push(&bindings);
    Value s = first_store(&p);
    if (is_simple(value) || (sym_flags(symbol_index(s)) & SYMF_BIT4)) {
      p.store = call_function3(bi_value(BI_SUBST), value, s, p.store);
    } else {
      Value b = list2(first_store(&p), value);
      b = cons(b, NIL);
      if (bindings == NIL) {
        bindings = b;
      } else {
        Value l = bindings;
        while (cons_p(cdr(l))) l = cdr(l);
        set_cdr(l, b);
      }
    }
    add_store_pieces(st, bindings, p.store);
    root_pop();
  }
  root_pop(7);
  return ok;
}

}  // namespace

// (SETF place value ...): a kind-1 built-in, so the form is the argument
// and the expansion the result.
Value bi_setf(Value form, Value) {
  SetfState st{NIL, NIL, false};
  Value pairs = cdr(form);
  root_push(&st.pieces);
  root_push(&st.last_setq);
  root_push(&pairs);
  while (cons_p(pairs)) {
    if (!cons_p(cdr(pairs))) {
      lisp_error(E_FEW_ARGS_CALL);
      break;
    }
    if (!setf_pair(car(pairs), car(cdr(pairs)), &st)) break;
    pairs = cdr(cdr(pairs));
  }
  Value pieces = nreverse_list(st.pieces);
  root_pop(3);
  if (cons_p(pieces) && cdr(pieces) == NIL) return car(pieces);
  return cons(sym(FS_PROGN), pieces);
}

// ---------------------------------------------------------------------------
// Multiple values

Value bi_values(Value, Value) { return values_from_frame(); }

Value bi_values_list(Value list, Value) {
  if (!is_list(list)) return lisp_error(E_WRONG_TYPE, list);
  pop_to(zvts->zvform);
  spread_list(list);
  return values_from_frame();
}

Value bi_macro_function(Value s, Value) {
  int32_t i = symbol_arg_index(s);
  if (i < 0) return lisp_error(E_WRONG_TYPE, s);
  return macro_definition(make_symbol(i));
}

Value bi_macroexpand(Value, Value) { return macroexpand(true); }
Value bi_macroexpand_1(Value, Value) { return macroexpand(false); }
