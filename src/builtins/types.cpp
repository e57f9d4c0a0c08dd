// Type predicates and type tests.
//
// The type table (root word 130) maps a type name to a class object, to a
// predefined entry (built-in predicate . supertype) or to a DEFTYPE
// expander (MACRO lambda-list . body).  TYPEP and SUBTYPEP read it; DEFTYPE
// and the redefinition check write it.
#include "builtins/types.h"

#include "builtins/classes.h"
#include "builtins/numbers.h"
#include "builtins/table.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/arrays.h"
#include "object/bignum.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/strings.h"
#include "text/symbol_functions.h"

namespace {

inline Value sym(uint32_t i) { return make_symbol(i); }
inline bool is_sym_index(Value v, uint32_t i) { return symbol_normal(v) == make_symbol(i); }
inline bool is_integer(Value v) { return is_fixnum(v) || tag_of(v) == TAG_INT64; }
inline bool is_instance_like(Value v) {
  return tag_of(v) == TAG_OBJECT && (heap_type(v) == HT_INSTANCE || heap_type(v) == HT_CLASS);
}
// A DEFTYPE entry, and a predefined one.
inline bool is_expander(Value e) { return cons_p(e) && is_sym_index(car(e), FS_MACRO); }
inline bool is_predefined(Value e) {
  return cons_p(e) && is_builtin(car(e)) && builtin_kind(car(e)) == KIND_FIXED;
}

// An invalid specifier is a hard error; nothing satisfies it.
bool bad_spec(Value spec) {
  lisp_error(E_BAD_TYPE_SPEC, spec);
  return false;
}

// A membership predicate: a one-argument built-in is called straight
// through the table, as the hash tables call their tests.
bool call_predicate(uint32_t n, Value obj) {
  const BuiltinRecord& r = zv_builtins[n];
  if (r.kind == KIND_FIXED && r.count == 1) {
    uint16_t saved = zvts->current_builtin;
    zvts->current_builtin = static_cast<uint16_t>(n);
    Value v = r.fn(obj, NIL);
    zvts->current_builtin = saved;
    return v != NIL;
  }
  return call_function1(bi_value(n), obj) != NIL;
}

// A class: an instance must have it in its precedence list, anything
// else must pass a built-in class's membership predicate.
bool class_test(Value obj, Value cls, Value spec) {
  if (nil_p(word_or_nil(cls, CW_PRECEDENCE))) return bad_spec(spec);
  if (is_instance_like(obj)) {
    Value own = heap_word(obj, IW_CLASS);
    return is_instance_like(own) && memq(cls, word_or_nil(own, CW_PRECEDENCE));
  }
  if (is_built_in_class(cls)) return call_predicate(class_size_word(cls), obj);
  return false;
}

// The test of a type-table entry that is not an expander: a class, or a
// predicate built-in with the supertype.
bool entry_test(Value obj, Value entry, Value spec) {
  if (is_class(entry)) return class_test(obj, entry, spec);
  if (is_predefined(entry)) return call_predicate(builtin_number(car(entry)), obj);
  return bad_spec(spec);
}

// A DEFTYPE expansion: the expander is applied like a macro to the
// specifier, a bare name standing for the call without arguments.
Value expand_type(Value entry, Value spec) {
  root_push(&entry);
  if (!cons_p(spec)) spec = cons(spec, NIL);
  root_pop();
  return expand_macro(cdr(entry), spec, NIL);
}

// The arguments of (INTEGER low high), (COMPLEX part) and (STRING size),
// once the object is of the head's type.
bool compound_args(Value obj, uint32_t head, Value spec) {
  Value tail = cdr(spec);
  Value a = cons_p(tail) ? car(tail) : NIL;
  switch (head) {
    case FS_INTEGER: {
      Value b = cons_p(tail) && cons_p(cdr(tail)) ? car(cdr(tail)) : NIL;
      if (!is_integer(a) || !is_integer(b)) return bad_spec(spec);
      if (!is_integer(obj)) return false;
      return int_compare(a, obj) <= 0 && int_compare(obj, b) <= 0;
    }
    case FS_COMPLEX: {
      uint8_t want;
      if (is_sym_index(a, FS_INTEGER))
        want = HT_INT64;
      else if (is_sym_index(a, FS_FLOAT))
        want = HT_DOUBLE;
      else
        return bad_spec(spec);
      return tag_of(obj) == TAG_COMPLEX && heap_type(obj) == want;
    }
    case FS_STRING:
      if (!is_fixnum(a)) return bad_spec(spec);
      return is_string(obj) && int64_t(string_length(obj)) <= fixnum_value(a);
    default:
      return true;
  }
}

bool every_or_any(Value* obj, Value list, bool every) {
  root_push(&list);
  bool r = every;
  for (; cons_p(list); list = cdr(list)) {
    if (lisp_typep(*obj, car(list)) != every) {
      r = !every;
      break;
    }
  }
  root_pop();
  return r;
}

Value second(Value spec) {
  Value tail = cdr(spec);
  return cons_p(tail) ? car(tail) : NIL;
}

bool member_eql(Value obj, Value list) {
  for (; cons_p(list); list = cdr(list))
    if (lisp_eql(obj, car(list))) return true;
  return false;
}

// *obj and *type are rooted by the caller; *type is advanced through
// DEFTYPE expansions.
bool typep_rooted(Value* obj, Value* type) {
  for (;;) {
    Value t = symbol_normal(value_check(*type));
    if (is_class(t)) return class_test(*obj, t, t);
    Value name = t;
    if (cons_p(t)) {
      name = symbol_normal(car(t));
      if (tag_of(name) != TAG_SYMBOL) return bad_spec(t);
      switch (symbol_index(name)) {
        case FS_AND:
          return every_or_any(obj, cdr(t), true);
        case FS_OR:
          return every_or_any(obj, cdr(t), false);
        case FS_NOT:
          return !lisp_typep(*obj, second(t));
        case FS_EQL:
          return lisp_eql(*obj, second(t));
        case FS_MEMBER:
          return member_eql(*obj, cdr(t));
        case FS_SATISFIES:
          return call_function1(second(t), *obj) != NIL;
      }
    } else if (tag_of(t) != TAG_SYMBOL) {
      return bad_spec(t);  // NIL and anything else
    }
    Value entry = root_table_get(ROOT_TYPE_TABLE, name);
    // The lookup may have collected: symbols and conses are read anew.
    if (is_expander(entry)) {
      *type = expand_type(entry, *type);
      continue;
    }
    if (!entry_test(*obj, entry, *type)) return false;
    if (!cons_p(*type)) return true;
    t = symbol_normal(*type);
    return compound_args(*obj, symbol_index(symbol_normal(car(t))), t);
  }
}

// ---------------------------------------------------------------------------
// SUBTYPEP

struct Answer {
  Value sub, sure;
};
constexpr Answer YES = {T, T}, NO = {NIL, T}, UNKNOWN = {NIL, NIL};

Answer subtype_class(Value c1, Value type2) {
  if (heap_word(c1, CW_PRECEDENCE) == NIL) return bad_spec(c1), UNKNOWN;
  Value t2 = symbol_normal(type2);
  Value c2 = t2;
  if (t2 == NIL) return NO;
  if (cons_p(t2)) return UNKNOWN;
  if (tag_of(t2) == TAG_SYMBOL) {
    root_push(&c1);
    root_push(&t2);
    c2 = root_table_get(ROOT_TYPE_TABLE, t2);
    root_pop(2);
    if (c2 == NO_VALUE) return bad_spec(t2), UNKNOWN;
    if (!is_class(c2)) return NO;
  } else if (!is_class(t2)) {
    return bad_spec(t2), UNKNOWN;
  }
  if (heap_word(c2, CW_PRECEDENCE) == NIL) return bad_spec(c2), UNKNOWN;
  return memq(c2, heap_word(c1, CW_PRECEDENCE)) ? YES : NO;
}

// A predefined type's entry names its supertype in its cdr (a symbol, or
// a list whose first element is it).
Value supertype_of(Value entry) {
  Value s = cdr(entry);
  return symbol_normal(cons_p(s) ? car(s) : s);
}

Answer subtype_predefined(Value t1, Value entry, Value type2) {
  Value target = symbol_normal(type2);
  if (is_class(target)) target = word_or_nil(target, CW_NAME);
  if (t1 == target) return YES;
  Value super = NIL;
  root_push(&target);
  root_push(&type2);
  root_push(&super);
  Answer a = UNKNOWN;
  // The chain is image data: a cycle must not hang the kernel.
  for (int steps = 0; steps < 1000; steps++) {
    super = supertype_of(entry);
    if (super == target) {
      a = YES;
      break;
    }
    if (super == NIL) {
      a = NO;
      break;
    }
    entry = root_table_get(ROOT_TYPE_TABLE, super);
    if (is_class(entry)) {
      a = subtype_class(entry, type2);
      break;
    }
    if (!is_predefined(entry)) break;
  }
  root_pop(3);
  return a;
}

Answer subtypep(Value t1, Value t2) {
  t1 = symbol_normal(value_check(t1));
  if (t1 == NIL) return YES;
  if (cons_p(t1)) return UNKNOWN;
  if (is_class(t1)) return subtype_class(t1, t2);
  if (tag_of(t1) != TAG_SYMBOL) return bad_spec(t1), UNKNOWN;
  root_push(&t1);
  root_push(&t2);
  Value entry = root_table_get(ROOT_TYPE_TABLE, t1);
  Answer a = UNKNOWN;
  if (is_class(entry))
    a = subtype_class(entry, t2);
  else if (is_expander(entry))
    a = UNKNOWN;
  else if (is_predefined(entry))
    a = subtype_predefined(t1, entry, t2);
  else
    bad_spec(t1);
  root_pop(2);
  return a;
}

// ---------------------------------------------------------------------------
// COERCE

Value string_to_list(Value s) {
  Value list = NIL;
  root_push(&s);
  root_push(&list);
  for (uint32_t i = string_length(s); i > 0; i--)
    list = cons(make_char(string_bytes(s)[i - 1]), list);
  root_pop(2);
  return list;
}

// A fresh string from a list or simple vector of plain characters;
// NO_VALUE when an element is not one.
Value chars_to_string(Value seq) {
  uint32_t n = 0;
  bool list = is_list(seq);
  if (list) {
    for (Value l = seq; cons_p(l); l = cdr(l), n++)
      if (!is_string_char(car(l))) return NO_VALUE;
  } else {
    n = heap_length(seq);
    for (uint32_t i = 0; i < n; i++)
      if (!is_string_char(heap_word(seq, i))) return NO_VALUE;
  }
  root_push(&seq);
  Value s = mem_alloc_string(n);
  root_pop();
  uint8_t* p = string_bytes(s);
  if (list) {
    for (Value l = seq; cons_p(l); l = cdr(l)) *p++ = static_cast<uint8_t>(car(l) & 0xFF);
  } else {
    for (uint32_t i = 0; i < n; i++) p[i] = static_cast<uint8_t>(heap_word(seq, i) & 0xFF);
  }
  return s;
}

Value to_vector(Value seq) {
  bool str = is_string(seq);
  uint32_t n = 0;
  if (str)
    n = string_length(seq);
  else
    n = list_walk_length(seq);
  root_push(&seq);
  Value v = mem_alloc_vector(n);
  root_pop();
  for (uint32_t i = 0; i < n; i++) {
    if (str) {
      heap_set_word(v, i, make_char(string_bytes(seq)[i]));
    } else {
      heap_set_word(v, i, car(seq));
      seq = cdr(seq);
    }
  }
  return v;
}

// A one-character name or string, or a character code.
Value to_character(Value x) {
  if (is_fixnum(x) && fixnum_value(x) >= 0 && fixnum_value(x) <= 255)
    return make_char(fixnum_value(x));
  int32_t si = symbol_arg_index(x);
  Value s = si >= 0 && x != NIL ? sym_name(si) : x;
  if (is_string(s) && string_length(s) == 1) return make_char(string_bytes(s)[0]);
  return NO_VALUE;
}

Value coerce(Value obj, uint32_t type) {
  switch (type) {
    case FS_CHARACTER:
      return to_character(obj);
    case FS_FLOAT:
      if (is_integer(obj)) return mem_make_double(num_double(obj));
      return NO_VALUE;
    case FS_LIST:
      if (is_simple_vector(obj)) return mem_vector_to_list(obj, 0);
      if (is_string(obj)) return string_to_list(obj);
      return NO_VALUE;
    case FS_STRING:
      if (is_simple_vector(obj) || is_list(obj)) return chars_to_string(obj);
      return NO_VALUE;
    case FS_VECTOR:
      if (is_list(obj) || is_string(obj)) return to_vector(obj);
      return NO_VALUE;
    default:
      return NO_VALUE;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Built-ins

Value bi_atom(Value a, Value) { return bool_value(!is_cons(a)); }
Value bi_consp(Value a, Value) { return bool_value(is_cons(a)); }
Value bi_listp(Value a, Value) { return bool_value(is_list(a)); }
Value bi_nlistp(Value a, Value) { return bool_value(!is_list(a)); }
Value bi_null(Value a, Value) { return bool_value(is_nil(a)); }
Value bi_always_t(Value, Value) { return T; }
Value bi_sequencep(Value a, Value) {
  if (is_list(a)) return T;
  return bool_value(arr_is_any_vector(a));
}
Value bi_int64p(Value a, Value) { return bool_value(tag_of(value_check(a)) == TAG_INT64); }
Value bi_fixnump(Value a, Value) { return bool_value(tag_of(value_check(a)) == TAG_FIXNUM); }

Value bi_type_of(Value a, Value) { return lisp_type_of(a); }

namespace {

// Built-ins that call out to Lisp deliver one value whatever the callees
// left behind.
Value one_value(Value v) {
  zvts->mv_count = 1;
  return v;
}

}  // namespace

Value bi_typep(Value a, Value b) { return one_value(bool_value(lisp_typep(a, b))); }

Value bi_subtypep(Value a, Value b) {
  Answer r = subtypep(a, b);
  Value v[2] = {r.sub, r.sure};
  return set_values(2, v);
}

Value bi_coerce(Value obj, Value type) {
  while (is_class(type)) type = word_or_nil(type, CW_NAME);
  type = symbol_normal(type);
  if (tag_of(type) != TAG_SYMBOL && type != NIL) return bad_spec(type), NIL;
  root_push(&obj);
  root_push(&type);
  Value r = obj;
  if (!lisp_typep(obj, type)) {
    r = coerce(obj, symbol_index(type));
    if (r == NO_VALUE) r = lisp_error(E_WRONG_TYPE, obj);
  }
  root_pop(2);
  return one_value(r);
}

// Built-in 82: the check before a type name gets a new definition.
Value bi_check_type_redefinition(Value name, Value current) {
  uint32_t t = tag_of(current);
  if (t >= TAG_FIXNUM && t <= TAG_INT64) return NIL;  // no definition (or a number)
  int kind;
  if (is_class(current)) {
    if (is_fixed_class(current)) return lisp_error(E_PREDEFINED_TYPE, name), NIL;
    Value meta = word_or_nil(current, CW_METACLASS);
    kind = meta == fixed_class(FIXED_CLASS_STANDARD)    ? 2
           : meta == fixed_class(FIXED_CLASS_STRUCTURE) ? 3
                                                        : 6;
  } else if (is_list(current)) {
    if (is_predefined(current)) return lisp_error(E_PREDEFINED_TYPE, name), NIL;
    kind = is_expander(current) ? 5 : 4;
  } else {
    return NIL;
  }
  root_push(&name);
  if (hdr_u8(HDR_SWITCHES) & SW_WARN_REDEFINE) {
    Value objs[2] = {make_fixnum(kind), name};
    lisp_warn(W_REDEFINED, objs);
  }
  if (kind != 4) root_table_remove(ROOT_TYPE_TABLE, name);
  root_pop();
  return one_value(NIL);
}

// (DEFTYPE name lambda-list . body)
Value sf_deftype(Value args, Value) {
  if (!is_cons(args) || symbol_arg_index(car(args)) < 0 || !cons_p(cdr(args)))
    return lisp_error(E_WRONG_TYPE, args);
  Value name = symbol_normal(car(args));
  Value def = cdr(args);
  root_push(&name);
  root_push(&def);
  Value old = root_table_get(ROOT_TYPE_TABLE, name);
  if (old != NO_VALUE) bi_check_type_redefinition(name, old);
  Value doc = body_doc_string(cdr(def));
  if (doc != NIL) {
    doc_record(name, FS_TYPE, doc);
    def = cons(car(def), cdr(cdr(def)));
  }
  def = cons(sym(FS_MACRO), def);
  root_table_put(ROOT_TYPE_TABLE, name, def);
  root_pop(2);
  return one_value(name);
}

// (THE type form): the values of form, checked on the primary one.
Value sf_the(Value args, Value) {
  if (!is_cons(args) || !cons_p(cdr(args))) return lisp_error(E_FEW_ARGS);
  root_push(&args);
  Value v = eval(cdr(args));
  uint16_t base = zvts->septr;
  uint32_t n = values_push(v);
  Value primary = n ? zvts->stack[base - 1].arg : NIL;
  if (!lisp_typep(primary, car(args))) lisp_cerror(MSG_CONT_TYPE, E_TYPE_MISMATCH, primary);
  root_pop();
  ThreadState* ts = zvts;
  ts->mv_count = static_cast<uint16_t>(n);
  ts->mv_base = base;
  ts->glvalue = n ? ts->stack[base - 1].arg : NIL;
  return ts->glvalue;
}

Value lisp_type_of(Value x) {
  x = symbol_normal(value_check(x));
  switch (tag_of(x)) {
    case TAG_CONS:
      return sym(x == NIL ? FS_NULL : FS_CONS);
    case TAG_SYMBOL:
    case TAG_KEYWORD:
      return sym(FS_SYMBOL);
    case TAG_BUILTIN + KIND_FIXED:
      return sym(FS_COMPILED_FUNCTION);
    case TAG_CHAR:
      return sym((x & 0xFFFF00) ? FS_CHARACTER : FS_STRING_CHAR);
    case TAG_FIXNUM:
      return sym(FS_FIXNUM);
    case TAG_INT64:
      return sym(FS_BIGNUM);
    case TAG_DOUBLE:
      return sym(FS_FLOAT);
    case TAG_COMPLEX:
      return sym(FS_COMPLEX);
    case TAG_VECTOR:
      switch (heap_type(x)) {
        case HT_BYTES:
          return sym(FS_STRING);
        case HT_ARRAY:
          return sym(heap_is_one_dim(x) ? FS_VECTOR : FS_ARRAY);
        case HT_HASH:
          return sym(FS_HASH_TABLE);
        default:
          return x;
      }
    case TAG_OBJECT: {
      uint8_t type = heap_type(x);
      if (type == HT_HASH) return sym(FS_HASH_TABLE);
      // An array with a fill pointer, adjustable or displaced.
      if (arr_is_header(x))
        return sym(arr_rank(x) != 1          ? FS_ARRAY
                   : arr_holds_characters(x) ? FS_STRING
                                             : FS_VECTOR);
      if (type != HT_INSTANCE && type != HT_CLASS) return sym(FS_STREAM);
      // An instance is named by its class, a class by its metaclass.
      Value cls = heap_word(x, IW_CLASS);
      if (!is_instance_like(cls)) return cls;
      // An unnamed class (no symbol in word 1 yet) stands for itself.
      Value name = word_or_nil(cls, CW_NAME);
      uint32_t t = tag_of(name);
      return name != NIL && (t == TAG_SYMBOL || t == TAG_KEYWORD) ? name : cls;
    }
    default:
      return x;
  }
}

bool lisp_typep(Value obj, Value type) {
  root_push(&obj);
  root_push(&type);
  bool r = typep_rooted(&obj, &type);
  root_pop(2);
  return r;
}
