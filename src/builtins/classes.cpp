// Classes, instances and slots (419-437).
//
// The kernel keeps only the storage model: the class of every Value,
// instance allocation, the registration of classes in the type table and
// slot access by name or location.  A slot that is missing or unbound is
// handed to the functions of SLOT-MISSING and SLOT-UNBOUND, which the
// object system defines in Lisp.
//
// Class objects come in two sizes (the built-in classes have 4 words, all
// others 10 or more), and %MAKE-INTO-CLASS can turn any instance into a
// class, so every class word is read through word_or_nil.
#include "builtins/classes.h"

#include "builtins/table.h"
#include "builtins/types.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/memory.h"

namespace {

// Fixed symbols: the protocol functions and the operation names passed to
// the missing-slot function.
enum : uint32_t {
  SYM_SETF = 0xA7,
  SYM_SLOT_BOUNDP = 0xA9,
  SYM_SLOT_MAKUNBOUND = 0xAA,
  SYM_SLOT_MISSING = 0xAB,
  SYM_SLOT_UNBOUND = 0xAC,
  SYM_SLOT_VALUE = 0xAD,
};

inline Value wrong_type(Value x) { return lisp_error(E_WRONG_TYPE, x); }

bool memq(Value x, Value list) {
  x = symbol_normal(x);
  for (; cons_p(list); list = cdr(list))
    if (symbol_normal(car(list)) == x) return true;
  return false;
}

// Pairwise search of a property list for a name.
bool plist_has(Value plist, Value name) {
  name = symbol_normal(name);
  for (; cons_p(plist); plist = cdr(plist)) {
    if (symbol_normal(car(plist)) == name) return true;
    plist = cdr(plist);
    if (!cons_p(plist)) break;
  }
  return false;
}

// A symbol or a keyword, not NIL (tags 2 and 4 normalised before).
inline bool is_symbol_word(Value v) {
  uint32_t t = tag_of(value_check(v));
  return t == TAG_SYMBOL || t == TAG_KEYWORD;
}

// A precedence list is a list of classes; a class fresh from
// ALLOCATE-INSTANCE holds the unbound marker there, which is no list.
inline bool finalized(Value cls) { return cons_p(word_or_nil(cls, CW_PRECEDENCE)); }

// The instance size of word 3: the low 16 bits of a fixnum, else 0.
uint32_t instance_size(Value cls) {
  Value w = word_or_nil(cls, CW_SIZE);
  return is_fixnum(w) ? (w & 0xFFFF) : 0;
}

// The class of a standard object, when it is one.
inline Value own_class(Value o) {
  Value c = heap_word(o, 0);
  return is_class(c) ? c : NIL;
}

// Where a slot's value lives: word *loc of *holder.  False when the
// definition points outside the storage (an instance made before its class
// grew, a short structure, a damaged definition).
bool slot_cell(Value o, Value def, Value* holder, uint32_t* loc) {
  Value l = word_or_nil(def, SD_LOCATION);
  Value h = word_or_nil(def, SD_STORAGE);
  if (!is_fixnum(l)) return false;
  int32_t n = fixnum_value(l);
  // Word 0 of an instance is its class, never a slot.
  if (n < (nil_p(h) ? 1 : 0)) return false;
  if (nil_p(h)) h = o;
  if (uint32_t(n) >= object_value_words(h)) return false;
  *holder = h;
  *loc = uint32_t(n);
  return true;
}

// The cell of slot `n` (a name or a location) of standard object o.
bool find_cell(Value o, Value n, Value* holder, uint32_t* loc) {
  if (is_fixnum(n)) {
    int32_t i = fixnum_value(n);
    if (i < 1 || uint32_t(i) >= object_value_words(o)) return false;
    *holder = o;
    *loc = uint32_t(i);
    return true;
  }
  Value def = find_slot_definition(own_class(o), n);
  return !nil_p(def) && slot_cell(o, def, holder, loc);
}

// The protocol functions.  Without a definition in the image the call is
// the undefined-function error naming the protocol function, which says
// plainly what is missing.
Value call_protocol(uint32_t sym, uint32_t nargs, const Value* args) {
  Value fn = sym_function(sym);
  if (nil_p(fn) || is_no_value(fn)) return lisp_error(E_UNDEFINED, make_symbol(sym));
  return call_function(make_symbol(sym), nargs, args);
}

// (class object name operation [new-value])
Value slot_missing(Value o, Value n, uint32_t operation, Value* new_value = nullptr) {
  Value args[5] = {class_of(o), o, n, make_symbol(operation), new_value ? *new_value : NIL};
  Value v = call_protocol(SYM_SLOT_MISSING, new_value ? 5 : 4, args);
  zvts->mv_count = 1;
  return v;
}

// (class object name)
Value slot_unbound(Value o, Value n) {
  Value args[3] = {class_of(o), o, n};
  Value v = call_protocol(SYM_SLOT_UNBOUND, 3, args);
  zvts->mv_count = 1;
  return v;
}

// A fresh copy of a list's conses; *last receives its last cons.
Value copy_list(Value list, Value* last) {
  Value head = NIL, tail = NIL;
  root_push(&list);
  root_push(&head);
  root_push(&tail);
  for (; cons_p(list); list = cdr(list)) {
    Value c = cons(car(list), NIL);
    if (nil_p(tail))
      head = c;
    else
      set_cdr(tail, c);
    tail = c;
  }
  root_pop(3);
  *last = tail;
  return head;
}

// Whether any effective slot of cls takes `name` as an initarg.
bool accepts_initarg(Value cls, Value name) {
  for (Value s = word_or_nil(cls, CW_SLOTS); cons_p(s); s = cdr(s))
    if (memq(name, word_or_nil(car(s), SD_INITARGS))) return true;
  return false;
}

// The initialisation-argument check: the class must be finalized and an
// instance of a metaclass descending from the standard class; initargs no
// slot accepts are reported (continuable) and cut out of the list.
Value check_initargs(Value cls, Value initargs) {
  if (!is_class(cls)) return wrong_type(cls);
  Value meta = word_or_nil(cls, CW_METACLASS);
  if (!finalized(cls) || !memq(fixed_class(FIXED_CLASS_STANDARD), word_or_nil(meta, CW_PRECEDENCE)))
    return lisp_error(E_BAD_TYPE_SPEC, word_or_nil(cls, CW_NAME));
  if (!is_list(initargs)) return wrong_type(initargs);
  Value prev = NIL, p = initargs;  // prev: the value cell before p
  root_push(&cls);
  root_push(&initargs);
  root_push(&prev);
  root_push(&p);
  while (cons_p(p)) {
    Value rest = cdr(p);
    if (accepts_initarg(cls, car(p))) {
      if (!cons_p(rest)) break;
      prev = rest;
      p = cdr(rest);
      continue;
    }
    lisp_cerror(MSG_CONT_IGNORE_ARG, E_BAD_KEYWORD, car(p));
    rest = cdr(p);
    Value next = cons_p(rest) ? cdr(rest) : NIL;
    if (nil_p(prev))
      initargs = next;
    else
      set_cdr(prev, next);
    p = next;
  }
  root_pop(4);
  return initargs;
}

// ---------------------------------------------------------------------------
// The built-ins

// 423
Value bi_class_of(Value x, Value) { return class_of(x); }

// 421
Value bi_class_name(Value c, Value) {
  if (!is_class(value_check(c))) return wrong_type(c);
  Value name = word_or_nil(c, CW_NAME);
  return is_no_value(name) ? NIL : name;  // not named yet
}

// 422 (class name)
Value bi_set_class_name(Value c, Value name) {
  if (!is_class(value_check(c)) || object_value_words(c) <= CW_NAME) return wrong_type(c);
  name = symbol_normal(name);
  if (!nil_p(name) && !is_symbol_word(name)) return wrong_type(name);
  heap_set_word(c, CW_NAME, name);
  return name;
}

// 424
Value bi_class_finalized_p(Value c, Value) {
  return bool_value(is_class(value_check(c)) && finalized(c));
}

// 436
Value bi_standard_object_p(Value x, Value) { return bool_value(is_standard_object(x)); }

// 437: an instance becomes a class.  It must have the four words every
// class has, since the type tests read words 0-3 of any class unchecked.
Value bi_make_into_class(Value x, Value) {
  if (tag_of(value_check(x)) != TAG_OBJECT || !is_standard_object(x) ||
      object_value_words(x) <= CW_SIZE)
    return wrong_type(x);
  heap_addr(x)[0] = HT_CLASS;
  return x;
}

// 429: the length field of any vector-heap object (data words of an
// instance, class or vector; bytes of a string).
Value bi_object_length(Value x, Value) {
  uint32_t t = tag_of(value_check(x));
  if (t != TAG_VECTOR && t != TAG_OBJECT) return wrong_type(x);
  return make_fixnum(int32_t(heap_length(x)));
}

// 426 (name [errorp])
Value bi_find_class(Value, Value) {
  check_max_args(2);
  Value name = symbol_normal(arg(1));
  bool errorp = arg_count() < 2 || !nil_p(arg(2));
  if (is_class(value_check(name))) {
    // A class stands for no name: reported by its own.
    name = word_or_nil(name, CW_NAME);
  } else if (!nil_p(name) && !is_symbol(name)) {
    return lisp_error(E_BAD_TYPE, name);
  } else {
    Value entry = root_table_get(ROOT_TYPE_TABLE, name);
    if (is_class(entry)) return entry;
  }
  return errorp ? lisp_error(E_BAD_TYPE_SPEC, name) : NIL;
}

// 427 (name class): NIL as the class removes the name's class entry.
Value bi_set_find_class(Value name, Value cls) {
  name = symbol_normal(name);
  if (!is_symbol_word(name)) return wrong_type(name);
  if (!nil_p(cls) && !is_class(value_check(cls))) return wrong_type(cls);
  root_push(&name);
  root_push(&cls);
  if (!nil_p(cls))
    root_table_put(ROOT_TYPE_TABLE, name, cls);
  else if (is_class(root_table_get(ROOT_TYPE_TABLE, name)))
    root_table_remove(ROOT_TYPE_TABLE, name);
  root_pop(2);
  return cls;
}

// 419 (class &rest values)
Value bi_allocate_instance(Value, Value) {
  Value cls = arg(1);
  Value meta = is_class(value_check(cls)) ? word_or_nil(cls, CW_METACLASS) : NIL;
  if (!is_class(cls) || !finalized(cls) || meta == fixed_class(FIXED_CLASS_BUILT_IN))
    return lisp_error(E_NOT_INSTANTIABLE, cls);
  uint32_t size = meta == fixed_class(FIXED_CLASS_STRUCTURE) ? 0 : instance_size(cls);
  uint32_t n = arg_count();
  uint32_t words = size > n ? size : n;
  Value x = mem_alloc_object(words, HT_INSTANCE);
  // The arguments stay on the Lisp stack, where the collector updates them.
  for (uint32_t i = 0; i < n; i++) heap_set_word(x, i, arg(i + 1));
  for (uint32_t i = n; i < words; i++) heap_set_word(x, i, UNBOUND_SLOT);
  return x;
}

// 431 (name class)
Value bi_find_slot_definition(Value name, Value cls) {
  if (!is_class(value_check(cls))) return wrong_type(cls);
  return find_slot_definition(cls, name);
}

// 432 (object name)
Value bi_slot_exists_p(Value o, Value name) {
  return bool_value(is_standard_object(o) && !nil_p(find_slot_definition(own_class(o), name)));
}

// 434 (object name-or-location)
Value bi_slot_value(Value o, Value n) {
  Value holder;
  uint32_t loc;
  if (!is_standard_object(o) || !find_cell(o, n, &holder, &loc))
    return slot_missing(o, n, SYM_SLOT_VALUE);
  Value v = heap_word(holder, loc);
  return is_no_value(v) ? slot_unbound(o, n) : v;
}

// 435 (object name-or-location value)
Value bi_set_slot_value(Value, Value) {
  Value o = arg(1), n = arg(2), v = arg(3);
  Value holder;
  uint32_t loc;
  if (!is_standard_object(o) || !find_cell(o, n, &holder, &loc)) {
    root_push(&v);
    slot_missing(o, n, SYM_SETF, &v);
    root_pop();
    return v;
  }
  heap_set_word(holder, loc, v);
  return v;
}

// 430 (object name)
Value bi_slot_boundp(Value o, Value n) {
  Value holder;
  uint32_t loc;
  if (!is_standard_object(o) || !find_cell(o, n, &holder, &loc))
    return bool_value(!nil_p(slot_missing(o, n, SYM_SLOT_BOUNDP)));
  return bool_value(!is_no_value(heap_word(holder, loc)));
}

// 433 (object name)
Value bi_slot_makunbound(Value o, Value n) {
  Value holder;
  uint32_t loc;
  if (!is_standard_object(o) || !find_cell(o, n, &holder, &loc)) {
    root_push(&o);
    slot_missing(o, n, SYM_SLOT_MAKUNBOUND);
    root_pop();
    return o;
  }
  heap_set_word(holder, loc, UNBOUND_SLOT);
  return o;
}

// 420 (class initargs)
Value bi_check_initargs(Value cls, Value initargs) { return check_initargs(cls, initargs); }

// 425 (class initargs): the checked initargs completed with the defaults of
// every class of the precedence list, the earlier class winning.  The
// caller's list is copied before anything is added to it.
Value bi_default_initargs(Value cls, Value initargs) {
  root_push(&cls);
  initargs = check_initargs(cls, initargs);
  Value last = NIL, c = NIL, d = NIL, value = NIL;
  bool copied = false;
  root_push(&initargs);
  root_push(&last);
  root_push(&c);
  root_push(&d);
  root_push(&value);
  for (c = word_or_nil(cls, CW_PRECEDENCE); cons_p(c); c = cdr(c)) {
    for (d = word_or_nil(car(c), CW_DEFAULT_INITARGS); cons_p(d) && cons_p(cdr(d));
         d = cdr(cdr(d))) {
      if (plist_has(initargs, car(d))) continue;
      value = eval(cdr(d));  // the form's own cell, which eval may rewrite
      if (!copied) {
        initargs = copy_list(initargs, &last);
        copied = true;
      }
      Value pair = cons(value, NIL);
      pair = cons(car(d), pair);
      if (nil_p(last))
        initargs = pair;
      else
        set_cdr(last, pair);
      last = cdr(pair);
    }
  }
  root_pop(6);
  zvts->mv_count = 1;
  return initargs;
}

// 428 (instance slot-names &rest initargs): for each effective slot, the
// leftmost initarg the slot accepts is type-tested and stored; a slot
// given none that is unbound and named in slot-names (T: every slot) gets
// the value of its initial form.  The result is the instance.
Value bi_fill_slots_from_initargs(Value, Value) {
  Value o = arg(1);
  if (tag_of(value_check(o)) != TAG_OBJECT || !is_standard_object(o)) return wrong_type(o);
  // Arguments are read by stack index: evaluation below moves zvform.
  uint16_t frame = zvts->zvform;
  uint32_t nargs = arg_count();
  auto argument = [frame](uint32_t k) { return zvts->stack[frame - k].arg; };
  Value s = NIL, def = NIL, value = NIL;
  root_push(&o);
  root_push(&s);
  root_push(&def);
  root_push(&value);
  for (s = word_or_nil(own_class(o), CW_SLOTS); cons_p(s); s = cdr(s)) {
    def = car(s);
    Value inits = word_or_nil(def, SD_INITARGS);
    bool given = false;
    for (uint32_t k = 3; k + 1 <= nargs && !given; k += 2) {
      if (memq(argument(k), inits)) {
        value = argument(k + 1);
        given = true;
      }
    }
    Value holder;
    uint32_t loc;
    if (given) {
      Value type = word_or_nil(def, SD_TYPE);
      if (!nil_p(type) && type != T && !lisp_typep(value, type)) {
        Value objs[2] = {word_or_nil(def, SD_NAME), value};
        lisp_cerror(MSG_CONT_UNCHANGED, E_SLOT_TYPE, objs);
      }
    } else {
      Value names = argument(2);
      Value form = word_or_nil(def, SD_INITFORM);
      if (!cons_p(form) || !(names == T || memq(word_or_nil(def, SD_NAME), names))) continue;
      if (!slot_cell(o, def, &holder, &loc)) {
        wrong_type(def);
        continue;
      }
      if (!is_no_value(heap_word(holder, loc))) continue;
      value = eval(form);
    }
    // Looked up again: evaluation and the type test may have moved things.
    if (slot_cell(o, def, &holder, &loc))
      heap_set_word(holder, loc, value);
    else
      wrong_type(def);
  }
  root_pop(4);
  zvts->mv_count = 1;
  return o;
}

}  // namespace

// ---------------------------------------------------------------------------
// The kernel interface

uint32_t object_value_words(Value v) {
  if (!(tag_of(v) & TAG_HEAP_BIT)) return 0;
  return object_value_words_at(heap_addr(v));
}

bool is_standard_object(Value v) {
  uint32_t t = tag_of(value_check(v));
  if (t != TAG_OBJECT && t != TAG_VECTOR) return false;
  uint8_t ht = heap_type(v);
  return ht == HT_INSTANCE || ht == HT_CLASS;
}

Value class_of(Value x) {
  uint32_t t = tag_of(value_check(x));
  uint32_t c = FIXED_CLASS_T;
  switch (t) {
    case TAG_CONS:
      c = nil_p(x) ? FIXED_CLASS_NULL : FIXED_CLASS_CONS;
      break;
    case TAG_SYMBOL:
    case TAG_INDEX:
    case TAG_KEYWORD:
    case TAG_LEXREF:
      c = FIXED_CLASS_SYMBOL;
      break;
    case TAG_BUILTIN + 2:  // functions of every calling kind
    case TAG_BUILTIN + 3:
    case TAG_BUILTIN + 4:
      c = FIXED_CLASS_FUNCTION;
      break;
    case TAG_CHAR:
      c = FIXED_CLASS_CHARACTER;
      break;
    case TAG_FIXNUM:
    case TAG_INT64:
      c = FIXED_CLASS_INTEGER;
      break;
    case TAG_DOUBLE:
      c = FIXED_CLASS_FLOAT;
      break;
    case TAG_COMPLEX:
      c = FIXED_CLASS_COMPLEX;
      break;
    case TAG_VECTOR:
    case TAG_OBJECT: {
      uint8_t ht = heap_type(x);
      if (ht == HT_INSTANCE || ht == HT_CLASS) return heap_word(x, 0);
      if (t == TAG_VECTOR && ht == HT_BYTES && (heap_hdr1(x) & HDR_ONE_DIM))
        c = FIXED_CLASS_STRING;
      else if (t == TAG_VECTOR && ht == HT_ARRAY)
        c = (heap_hdr1(x) >> 24) == 1 ? FIXED_CLASS_VECTOR : FIXED_CLASS_ARRAY;
      break;
    }
    default:
      break;
  }
  return fixed_class(c);
}

Value find_slot_definition(Value cls, Value name) {
  if (!is_class(cls)) return NIL;
  name = symbol_normal(name);
  for (Value s = word_or_nil(cls, CW_SLOTS); cons_p(s); s = cdr(s)) {
    Value def = car(s);
    if (object_value_words(def) > SD_NAME && symbol_normal(heap_word(def, SD_NAME)) == name)
      return def;
  }
  return NIL;
}

void bi_install_classes() {
  bi_install(419, bi_allocate_instance);
  bi_install(420, bi_check_initargs);
  bi_install(421, bi_class_name);
  bi_install(422, bi_set_class_name);
  bi_install(423, bi_class_of);
  bi_install(424, bi_class_finalized_p);
  bi_install(425, bi_default_initargs);
  bi_install(426, bi_find_class);
  bi_install(427, bi_set_find_class);
  bi_install(428, bi_fill_slots_from_initargs);
  bi_install(429, bi_object_length);
  bi_install(430, bi_slot_boundp);
  bi_install(431, bi_find_slot_definition);
  bi_install(432, bi_slot_exists_p);
  bi_install(433, bi_slot_makunbound);
  bi_install(434, bi_slot_value);
  bi_install(435, bi_set_slot_value);
  bi_install(436, bi_standard_object_p);
  bi_install(437, bi_make_into_class);
}
