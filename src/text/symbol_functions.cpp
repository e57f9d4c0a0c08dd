// Symbol cells, generated symbols, property lists, and the defining and
// assigning special forms.
//
// Symbol 0 is NIL and also the template every new symbol is copied from,
// so its value, function and property cells are never written here: a
// value stored there would reappear in every symbol made afterwards.
#include "text/symbol_functions.h"

#include <cstdio>
#include <cstring>

#include "builtins/table.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "io/docstore.h"
#include "object/arrays.h"
#include "object/chartab.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "threads/safepoint.h"

namespace {

enum : uint32_t {
  E_NO_VALUE_FORM = 0x1033,  // cerror 4147: a place without its form
  INTERN_MAX = 132,          // longest name INTERN accepts
};

inline Value sym(uint32_t i) { return make_symbol(i); }

// A symbol whose cells may be written: not the template.
inline bool writable(int32_t i) { return i > 0; }

inline void set_variable_class(uint32_t i, uint16_t cls) {
  sym_set_flags(i, static_cast<uint16_t>((sym_flags(i) & ~SYMF_CLASS_MASK) | cls));
}

// The third element of (name form [documentation]).
Value third_doc(Value args) {
  Value rest = cdr(cdr(args));
  return cons_p(rest) && is_string(car(rest)) ? car(rest) : NIL;
}

// ---------------------------------------------------------------------------
// Property lists.  Indicators compare as EQ does, so an annotated symbol
// finds the plain one.

Value plist_find(Value list, Value indicator) {
  while (cons_p(list) && cons_p(cdr(list))) {
    if (lisp_eq(car(list), indicator)) return cdr(list);
    list = cdr(cdr(list));
  }
  return NIL;
}

// Removes the first pair with the indicator; *found says whether there
// was one.  The list is changed in place except when the pair is first.
Value plist_without(Value list, Value indicator, bool* found) {
  *found = false;
  Value before = NIL;  // value cell of the previous pair
  for (Value l = list; cons_p(l) && cons_p(cdr(l)); l = cdr(cdr(l))) {
    if (lisp_eq(car(l), indicator)) {
      *found = true;
      if (before == NIL) return cdr(cdr(l));
      set_cdr(before, cdr(cdr(l)));
      return list;
    }
    before = cdr(l);
  }
  return list;
}

// Sets the property, adding the pair in front when it is new; returns the
// list to keep.
Value plist_set(Value list, Value indicator, Value value) {
  Value cell = plist_find(list, indicator);
  if (cell != NIL) {
    set_car(cell, value);
    return list;
  }
  root_push(&indicator);
  Value l = cons(value, list);
  root_pop();
  return cons(symbol_normal(indicator), l);
}

// ---------------------------------------------------------------------------
// Generated names

// Argument of GENSYM and GENTEMP: NIL keeps the counter, a non-negative
// fixnum n makes n the next number, a string replaces the prefix.
bool generator_argument(Value x, uint32_t counter_at, uint32_t prefix_at) {
  if (x == NIL) return true;
  if (is_fixnum(x) && fixnum_value(x) >= 0) {
    store_u32(zvm.memblock + counter_at, static_cast<uint32_t>(fixnum_value(x) - 1));
    return true;
  }
  if (!is_string(x)) return false;
  uint32_t n = string_length(x);
  if (n > 19) n = 19;
  std::memset(zvm.memblock + prefix_at, 0, 20);
  std::memcpy(zvm.memblock + prefix_at, string_bytes(x), n);
  return true;
}

// The next name no symbol has yet, in buf.
uint32_t next_free_name(char* buf, size_t size, uint32_t counter_at, uint32_t prefix_at) {
  const char* prefix = reinterpret_cast<const char*>(zvm.memblock + prefix_at);
  int plen = static_cast<int>(strnlen(prefix, 20));
  for (;;) {
    world_lock();
    uint32_t count = load_u32(zvm.memblock + counter_at) + 1;
    store_u32(zvm.memblock + counter_at, count);
    world_unlock();
    int n = std::snprintf(buf, size, "%.*s%u", plen, prefix, count);
    if (!sym_search(reinterpret_cast<const uint8_t*>(buf), static_cast<uint32_t>(n)).found)
      return static_cast<uint32_t>(n);
  }
}

Value generate(bool interned, uint32_t counter_at, uint32_t prefix_at) {
  check_max_args(1);
  Value x = arg_count() ? arg(1) : NIL;
  if (!generator_argument(x, counter_at, prefix_at)) return lisp_error(E_WRONG_TYPE, x);
  char buf[20 + 12];
  uint32_t n = next_free_name(buf, sizeof buf, counter_at, prefix_at);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(buf);
  return interned ? sym_intern(p, n) : sym_make(p, n);
}

// ---------------------------------------------------------------------------
// Apropos

bool contains_folded(Value hay, Value needle) {
  uint32_t h = string_length(hay), n = string_length(needle);
  const uint8_t* hp = string_bytes(hay);
  const uint8_t* np = string_bytes(needle);
  for (uint32_t i = 0; i + n <= h; i++) {
    uint32_t k = 0;
    while (k < n && char_upcase(hp[i + k]) == char_upcase(np[k])) k++;
    if (k == n) return true;
  }
  return false;
}

bool apropos_match(uint32_t i, Value needle) {
  return (sym_flags(i) & SYMF_INTERNED) && contains_folded(sym_name(i), needle);
}

// Two passes over the table: the first counts, the list is made, the
// second fills it without allocating.  A collection in between may have
// dropped symbols, so the list is cut where the matches ran out.
Value apropos(Value needle) {
  uint32_t count = 0;
  for (uint32_t i = 0, n = sym_count_now(); i < n; i++) count += apropos_match(i, needle);
  Value list = NIL;
  root_push(&needle);
  root_push(&list);
  for (uint32_t k = 0; k < count; k++) list = cons(NIL, list);
  root_pop(2);
  Value cell = list, last = NIL;
  for (uint32_t i = 0, n = sym_count_now(); i < n && cons_p(cell); i++) {
    if (!apropos_match(i, needle)) continue;
    set_car(cell, sym(i));
    last = cell;
    cell = cdr(cell);
  }
  if (last == NIL) return NIL;
  set_cdr(last, NIL);
  return list;
}

// ---------------------------------------------------------------------------
// Built-ins on symbol cells

#define SYMBOL_ARG(i, v)           \
  int32_t i = symbol_arg_index(v); \
  if (i < 0) return lisp_error(E_WRONG_TYPE, v)

}  // namespace

Value bi_apropos_list(Value a, Value) {
  check_max_args(2);
  Value needle = arr_simplify_arg(1);
  if (!is_string(needle)) {
    SYMBOL_ARG(i, a);
    needle = sym_name(i);
  }
  return apropos(needle);
}

Value bi_boundp(Value a, Value) {
  SYMBOL_ARG(i, a);
  if (i == 0 || tag_of(a) == TAG_KEYWORD) return T;  // NIL and keywords are themselves
  return bool_value(!is_no_value(sym_value(i)));
}

Value bi_fboundp(Value a, Value) {
  SYMBOL_ARG(i, a);
  return bool_value(sym_function(i) != NIL);
}

Value bi_fmakunbound(Value a, Value) {
  SYMBOL_ARG(i, a);
  if (writable(i)) sym_set_function(i, NIL);
  return a;
}

Value bi_gensym(Value, Value) { return generate(false, MB_GENSYM_COUNTER, MB_GENSYM_PREFIX); }
Value bi_gentemp(Value, Value) { return generate(true, MB_GENTEMP_COUNTER, MB_GENTEMP_PREFIX); }

Value bi_get(Value, Value) {
  check_max_args(3);
  Value s = arg(1);
  SYMBOL_ARG(i, s);
  Value cell = plist_find(sym_plist(i), arg(2));
  return cell != NIL ? car(cell) : (arg_count() > 2 ? arg(3) : NIL);
}

Value bi_getf(Value, Value) {
  check_max_args(3);
  Value cell = plist_find(arg(1), arg(2));
  return cell != NIL ? car(cell) : (arg_count() > 2 ? arg(3) : NIL);
}

namespace {

// A new interned symbol named by the string object itself.
Value intern_sharing(Value name) {
  Value s = sym_make_from_string(name);  // may collect: the hash is searched after
  name = sym_name(symbol_index(s));
  world_lock_keeping(&s, &name);
  SymSearch found = sym_search(string_bytes(name), string_length(name));
  if (found.found) {
    world_unlock();
    return sym(found.index);
  }
  // Published last: searches run without the lock (symbols.cpp: take_index).
  sym_set_flags(symbol_index(s), sym_flags(symbol_index(s)) | SYMF_INTERNED);
  __atomic_store_n(&zvm.hash[found.slot], static_cast<uint16_t>(symbol_index(s)), __ATOMIC_RELEASE);
  world_unlock();
  return s;
}

}  // namespace

Value bi_intern(Value name, Value) {
  check_max_args(2);
  name = arr_simplify_arg(1);
  if (!is_string(name) || string_length(name) < 1 || string_length(name) > INTERN_MAX)
    return lisp_error(E_WRONG_TYPE, name);
  bool keyword = arg_count() > 1 && symbol_arg_index(arg(2)) == FS_KEYWORD;
  SymSearch s = sym_search(string_bytes(name), string_length(name));
  Value v[2] = {NIL, T};
  if (s.found) {
    v[0] = sym(s.index);
  } else {
    v[0] = intern_sharing(name);
    v[1] = NIL;
  }
  if (keyword) v[0] = make_keyword(symbol_index(v[0]));
  return set_values(2, v);
}

Value bi_keywordp(Value a, Value) { return bool_value(tag_of(value_check(a)) == TAG_KEYWORD); }

Value bi_make_symbol(Value a, Value) {
  a = arr_simplify_arg(1);
  if (!is_string(a)) return lisp_error(E_WRONG_TYPE, a);
  return sym_make_from_string(a);
}

Value bi_makunbound(Value a, Value) {
  SYMBOL_ARG(i, a);
  if (writable(i)) sym_set_value(i, NO_VALUE);
  return a;
}

Value bi_putf(Value, Value) { return plist_set(arg(1), arg(2), arg(3)); }

Value bi_putprop(Value, Value) {
  Value s = arg(1);
  SYMBOL_ARG(i, s);
  if (!writable(i)) return lisp_error(E_WRONG_TYPE, s);
  Value list = plist_set(sym_plist(i), arg(2), arg(3));
  // The symbol may have moved during the allocation.
  sym_set_plist(symbol_index(arg(1)), list);
  return arg(3);
}

Value bi_remprop(Value s, Value indicator) {
  SYMBOL_ARG(i, s);
  bool found;
  Value list = plist_without(sym_plist(i), indicator, &found);
  if (writable(i)) sym_set_plist(i, list);
  return bool_value(found);
}

Value bi_set(Value s, Value v) {
  int32_t i = symbol_arg_index(s);
  if (i < 0 || tag_of(s) == TAG_KEYWORD) return lisp_error(E_WRONG_TYPE, s);
  if (!writable(i) || sym_is_constant(i)) {
    lisp_cerror(MSG_CONT_UNCHANGED, E_BIND_CONSTANT, s);
    return v;
  }
  sym_set_value(i, v);
  return v;
}

Value bi_set_symbol_function(Value s, Value f) {
  SYMBOL_ARG(i, s);
  if (!writable(i)) return lisp_error(E_WRONG_TYPE, s);
  sym_set_function(i, f);
  return f;
}

Value bi_set_symbol_plist(Value s, Value p) {
  SYMBOL_ARG(i, s);
  if (!writable(i)) return lisp_error(E_WRONG_TYPE, s);
  sym_set_plist(i, p);
  return p;
}

Value bi_remf(Value list, Value indicator) {
  bool found;
  Value v[2] = {plist_without(list, indicator, &found), NIL};
  v[1] = bool_value(found);
  return set_values(2, v);
}

Value bi_special_operator_p(Value a, Value) {
  SYMBOL_ARG(i, a);
  return bool_value(tag_of(sym_function(i)) == TAG_BUILTIN);
}

Value bi_symbol_function(Value a, Value) {
  SYMBOL_ARG(i, a);
  Value f = sym_function(i);
  return f != NIL ? f : lisp_error(E_UNDEFINED, a);
}

Value bi_symbol_name(Value a, Value) {
  SYMBOL_ARG(i, a);
  return sym_name(i);
}

Value bi_symbol_plist(Value a, Value) {
  SYMBOL_ARG(i, a);
  return sym_plist(i);
}

Value bi_symbol_value(Value a, Value) {
  SYMBOL_ARG(i, a);
  if (tag_of(a) == TAG_KEYWORD) return a;
  if (i == 0) return NIL;
  Value v = sym_value(i);
  return is_no_value(v) ? lisp_error(E_UNBOUND, sym(i)) : v;
}

Value bi_symbolp(Value a, Value) { return bool_value(a == NIL || is_symbol(a)); }

// The name leaves the hash too, so a later INTERN makes a new symbol.
Value bi_unintern(Value a, Value) {
  check_max_args(2);
  SYMBOL_ARG(i, a);
  uint16_t f = sym_flags(i);
  if (!(f & SYMF_INTERNED) || i == 0) return NIL;
  world_lock_keeping(&a);
  i = symbol_arg_index(a);  // a symbol collection may have renumbered it
  sym_replace_slot(sym_name(i), static_cast<uint16_t>(i), HASH_SLOT_DELETED);
  sym_set_flags(i, static_cast<uint16_t>(f & ~SYMF_INTERNED));
  world_unlock();
  return T;
}

namespace {

// ---------------------------------------------------------------------------
// Defining forms

// The name of a defining form: a symbol other than NIL.
int32_t definition_name(Value args) {
  if (!cons_p(args)) return -1;
  int32_t i = symbol_arg_index(car(args));
  return i > 0 && tag_of(car(args)) != TAG_KEYWORD ? i : -1;
}

// The common part of DEFCONSTANT and DEFPARAMETER: evaluate the form,
// store its value, give the variable its class and record the
// documentation string.
Value define_global(Value args, Value name, uint16_t variable_class) {
  root_push(&args);
  root_push(&name);
  Value v = eval(cdr(args));
  uint32_t i = symbol_index(name);
  sym_set_value(i, v);
  set_variable_class(i, variable_class);
  Value doc = third_doc(args);
  if (doc != NIL) doc_record(name, DOC_VARIABLE, doc);
  root_pop(2);
  zvts->mv_count = 1;
  return name;
}

}  // namespace

// (DEFCONSTANT name form [documentation])
Value sf_defconstant(Value args, Value) {
  int32_t i = definition_name(args);
  if (i < 0 || !cons_p(cdr(args))) return lisp_error(E_WRONG_TYPE, args);
  Value name = sym(i);
  if (!is_no_value(sym_value(i))) {
    lisp_cerror(MSG_CONT_UNCHANGED, E_BIND_CONSTANT, name);
    return name;
  }
  return define_global(args, name, SYMF_CONSTANT);
}

// (DEFPARAMETER name form [documentation]): the value is always stored;
// the variable is an ordinary global one.
Value sf_defparameter(Value args, Value) {
  int32_t i = definition_name(args);
  if (i < 0 || !cons_p(cdr(args))) return lisp_error(E_WRONG_TYPE, args);
  Value name = sym(i);
  if (sym_is_constant(i)) {
    lisp_cerror(MSG_CONT_UNCHANGED, E_BIND_CONSTANT, name);
    return name;
  }
  return define_global(args, name, 0);
}

// (DEFVAR name [form [documentation]]): the form runs only for an unbound
// variable; the variable becomes special in any case.
Value sf_defvar(Value args, Value) {
  int32_t i = definition_name(args);
  if (i < 0) return lisp_error(E_WRONG_TYPE, args);
  Value name = sym(i);
  root_push(&args);
  root_push(&name);
  if (cons_p(cdr(args)) && is_no_value(sym_value(i))) {
    Value v = eval(cdr(args));
    sym_set_value(symbol_index(name), v);
  }
  i = symbol_index(name);
  if (!sym_is_constant(i)) set_variable_class(i, 2);
  if (cons_p(cdr(args))) {
    Value doc = third_doc(args);
    if (doc != NIL) doc_record(name, DOC_VARIABLE, doc);
  }
  root_pop(2);
  zvts->mv_count = 1;
  return name;
}

// (DEFUN name lambda-list [documentation] . body)
Value sf_defun(Value args, Value) {
  int32_t i = definition_name(args);
  if (i < 0 || !cons_p(cdr(args))) return lisp_error(E_WRONG_TYPE, args);
  Value name = sym(i);
  Value lambda = cdr(args);  // (lambda-list . body), shared with the source
  root_push(&name);
  root_push(&lambda);
  Value doc = body_doc_string(cdr(lambda));
  if (doc != NIL) {
    root_push(&doc);
    lambda = cons(car(lambda), cdr(cdr(lambda)));
    doc_record(name, DOC_FUNCTION, doc);
    root_pop();
  }
  Value fn = zvts->zvlexenv ? make_closure(lambda) : cons(sym(FS_LAMBDA), lambda);
  root_push(&fn);
  i = symbol_index(name);
  if ((hdr_u8(HDR_SWITCHES) & SW_WARN_REDEFINE) && sym_function(i) != NIL) {
    Value objs[2] = {make_fixnum(0), name};
    lisp_warn(W_REDEFINED, objs);
  }
  sym_set_function(symbol_index(name), fn);
  root_pop(3);
  zvts->mv_count = 1;
  return name;
}

// ---------------------------------------------------------------------------
// Assignment

// (SETQ place form ...)
Value sf_setq(Value args, Value) {
  Value v = NIL;
  root_push(&args);
  root_push(&v);
  for (; cons_p(args); args = cdr(cdr(args))) {
    if (!cons_p(cdr(args))) {
      lisp_cerror(MSG_CONT_UNCHANGED, E_NO_VALUE_FORM, car(args));
      break;
    }
    v = eval(cdr(args));
    Value place = car(args);
    uint32_t t = tag_of(place);
    if (t != TAG_SYMBOL && t != TAG_LEXREF) {
      v = lisp_error(E_WRONG_TYPE, place);
      break;
    }
    assign_variable(place, v, args);
  }
  root_pop(2);
  zvts->mv_count = 1;
  return v;
}

// (PSETQ place form ...): every form first, then every assignment.
Value sf_psetq(Value args, Value) {
  uint16_t base = zvts->septr;
  root_push(&args);
  for (; cons_p(args); args = cdr(cdr(args))) {
    Value place = symbol_normal(car(args));
    if (tag_of(place) != TAG_SYMBOL) {
      lisp_error(E_WRONG_TYPE, place);
      root_pop();
      zvts->mv_count = 1;
      return NIL;
    }
    if (!cons_p(cdr(args))) {
      lisp_cerror(MSG_CONT_UNCHANGED, E_NO_VALUE_FORM, place);
      break;
    }
    Value v = eval(cdr(args));
    push_entry(v, static_cast<uint16_t>(symbol_index(symbol_normal(car(args)))));
  }
  root_pop();
  // The entries are roots, so each is read afresh after every assignment.
  for (uint32_t k = base; k-- > zvts->septr;) {
    StackEntry e = zvts->stack[k];
    assign_variable(sym(e.tag), e.arg, NIL);
  }
  zvts->mv_count = 1;
  return NIL;
}

// (PROGV symbols-form values-form . body)
Value sf_progv(Value args, Value) {
  if (!cons_p(args) || !cons_p(cdr(args))) return lisp_error(E_FEW_ARGS);
  Value syms = NIL, vals = NIL;
  root_push(&args);
  root_push(&syms);
  root_push(&vals);
  syms = eval(args);
  vals = eval(cdr(args));
  for (; cons_p(syms) && cons_p(vals); syms = cdr(syms), vals = cdr(vals)) {
    Value s = symbol_normal(car(syms));
    if (tag_of(s) != TAG_SYMBOL || sym_is_constant(symbol_index(s))) {
      lisp_cerror(MSG_CONT_UNCHANGED, E_BIND_CONSTANT, s);
      continue;
    }
    if (zvts->septr <= 2) lisp_fatal_error(E_STACK | 0x400);
    bind_special(symbol_index(s), car(vals));
  }
  Value v = progn(cdr(cdr(args)));
  root_pop(3);
  zvts->glvalue = v;
  unbind_to(zvts->zvform);
  return v;
}

// Quietly: a definition does not fail because its documentation cannot be
// written.
void doc_record(Value key, uint32_t kind, Value text) { doc_store_quietly(key, sym(kind), text); }
