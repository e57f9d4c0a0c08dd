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
//
// For the object system's speed and its redefinitions the kernel also
// calls instances of callable classes (generic functions, through their
// dispatch caches), brings instances of a redefined class up to date
// before touching their slots, and reads raw instance words (455-458).
#include "builtins/classes.h"

#include <cstring>

#include "builtins/hash_tables.h"
#include "builtins/list_builder.h"
#include "builtins/table.h"
#include "builtins/types.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/arrays.h"
#include "object/memory.h"

namespace {

// Fixed symbols: the protocol functions and the operation names passed to
// the missing-slot function.

// Symbols compared as symbols, whatever tag they carry.
bool memq_normal(Value x, Value list) {
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

// The class of a standard object, when it is one.
inline Value own_class(Value o) {
  Value c = heap_word(o, IW_CLASS);
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

// An instance whose stamp is not its class's present one was made before
// the class was last redefined.  The object system's function brings it up
// to date before any slot is touched, and returns the object that holds its
// slots from then on: the instance itself, or a larger one it forwards to.
// Until the object system defines that function nothing is stamped.
Value up_to_date(Value o) {
  if (heap_type(o) != HT_INSTANCE) return o;
  Value c = heap_word(o, IW_CLASS);
  if (!is_class(c) || !(class_flags(c) & CF_STAMPED)) return o;
  if (object_value_words(o) > IW_STAMP && heap_word(o, IW_STAMP) == word_or_nil(c, CW_NUMBER))
    return o;
  Value fn = sym_function(FS_UPDATE_OBSOLETE_INSTANCE);
  if (nil_p(fn) || is_no_value(fn)) return o;
  Value v = call_function1(make_symbol(FS_UPDATE_OBSOLETE_INSTANCE), o);
  zvts->mv_count = 1;
  return is_standard_object(v) ? v : o;
}

// (class object name operation [new-value])
Value slot_missing(Value o, Value n, uint32_t operation, Value* new_value = nullptr) {
  Value args[5] = {class_of(o), o, n, make_symbol(operation), new_value ? *new_value : NIL};
  Value v = call_protocol(FS_SLOT_MISSING, new_value ? 5 : 4, args);
  zvts->mv_count = 1;
  return v;
}

// (class object name)
Value slot_unbound(Value o, Value n) {
  Value args[3] = {class_of(o), o, n};
  Value v = call_protocol(FS_SLOT_UNBOUND, 3, args);
  zvts->mv_count = 1;
  return v;
}

// Whether any effective slot of cls takes `name` as an initarg.
bool accepts_initarg(Value cls, Value name) {
  for (Value s = word_or_nil(cls, CW_SLOTS); cons_p(s); s = cdr(s))
    if (memq_normal(name, word_or_nil(car(s), SD_INITARGS))) return true;
  return false;
}

// The initialisation-argument check: the class must be finalized and an
// instance of a metaclass descending from the standard class; initargs no
// slot accepts are reported (continuable) and cut out of the list.
Value check_initargs(Value cls, Value initargs) {
  if (!is_class(cls)) return wrong_type(cls);
  Value meta = word_or_nil(cls, CW_METACLASS);
  if (!finalized(cls) || !memq_normal(fixed_class(FIXED_CLASS_STANDARD), word_or_nil(meta, CW_PRECEDENCE)))
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

}  // namespace

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
  if (!is_class(cls) || !finalized(cls) || is_built_in_class(cls))
    return lisp_error(E_NOT_INSTANTIABLE, cls);
  uint32_t size = meta == fixed_class(FIXED_CLASS_STRUCTURE) ? 0 : class_size_word(cls);
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

namespace {

// The cell of slot n of o, the instance brought up to date first; false
// for a non-standard object or a missing slot.  The update runs Lisp: o and
// n are rooted meanwhile and read back afterwards.
bool slot_of(Value* o, Value* n, Value* holder, uint32_t* loc) {
  if (!is_standard_object(*o)) return false;
  root_push(o);
  root_push(n);
  Value storage = up_to_date(*o);
  bool found = find_cell(storage, *n, holder, loc);
  root_pop(2);
  return found;
}

}  // namespace

// 434 (object name-or-location)
Value bi_slot_value(Value o, Value n) {
  Value holder;
  uint32_t loc;
  if (!slot_of(&o, &n, &holder, &loc)) return slot_missing(o, n, FS_SLOT_VALUE);
  Value v = heap_word(holder, loc);
  return is_no_value(v) ? slot_unbound(o, n) : v;
}

// 435 (object name-or-location value)
Value bi_set_slot_value(Value, Value) {
  Value o = arg(1), n = arg(2), v = arg(3);
  Value holder;
  uint32_t loc;
  root_push(&v);
  bool found = slot_of(&o, &n, &holder, &loc);
  if (!found) slot_missing(o, n, FS_SETF, &v);
  root_pop();
  if (found) heap_set_word(holder, loc, v);
  return v;
}

// 430 (object name)
Value bi_slot_boundp(Value o, Value n) {
  Value holder;
  uint32_t loc;
  if (!slot_of(&o, &n, &holder, &loc))
    return bool_value(!nil_p(slot_missing(o, n, FS_SLOT_BOUNDP)));
  return bool_value(!is_no_value(heap_word(holder, loc)));
}

// 433 (object name)
Value bi_slot_makunbound(Value o, Value n) {
  Value holder;
  uint32_t loc;
  root_push(&o);
  bool found = slot_of(&o, &n, &holder, &loc);
  if (!found) slot_missing(o, n, FS_SLOT_MAKUNBOUND);
  root_pop();
  if (found) heap_set_word(holder, loc, UNBOUND_SLOT);
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
  Value c = NIL, d = NIL, value = NIL;
  bool copied = false;
  root_push(&initargs);
  root_push(&c);
  root_push(&d);
  root_push(&value);
  ListBuilder copy;  // the caller's initargs, then the defaults added
  copy.open();
  for (c = word_or_nil(cls, CW_PRECEDENCE); cons_p(c); c = cdr(c)) {
    for (d = word_or_nil(car(c), CW_DEFAULT_INITARGS); cons_p(d) && cons_p(cdr(d));
         d = cdr(cdr(d))) {
      if (plist_has(copied ? copy.head : initargs, car(d))) continue;
      value = eval(cdr(d));  // the form's own cell, which eval may rewrite
      if (!copied) {
        for (; cons_p(initargs); initargs = cdr(initargs)) copy.add(car(initargs));
        copied = true;
      }
      copy.add(car(d));
      copy.add(value);
    }
  }
  Value result = copy.close();
  if (copied) initargs = result;
  root_pop(5);
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
  o = up_to_date(o);
  for (s = word_or_nil(own_class(o), CW_SLOTS); cons_p(s); s = cdr(s)) {
    def = car(s);
    Value inits = word_or_nil(def, SD_INITARGS);
    bool given = false;
    for (uint32_t k = 3; k + 1 <= nargs && !given; k += 2) {
      if (memq_normal(argument(k), inits)) {
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
      if (!cons_p(form) || !(names == T || memq_normal(word_or_nil(def, SD_NAME), names))) continue;
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

namespace {

// Does the property list give :ALLOW-OTHER-KEYS, which no fixed keyword
// names?
bool allows_other_keys(Value plist) {
  static const char name[] = "ALLOW-OTHER-KEYS";
  for (; cons_p(plist) && cons_p(cdr(plist)); plist = cdr(cdr(plist))) {
    Value k = car(plist);
    if (tag_of(k) != TAG_KEYWORD) continue;
    Value s = sym_name(symbol_index(k));
    if (is_string_raw(s) && string_length(s) == sizeof name - 1 &&
        std::memcmp(string_bytes(s), name, sizeof name - 1) == 0)
      return true;
  }
  return false;
}

}  // namespace

// 459 (class-or-name initargs): MAKE-INSTANCE's quick way, for a class
// whose word 6 holds a stamp (the object system puts one there while only
// its own methods would run): the initargs checked and completed with the
// defaults (425), a new instance with that stamp, its slots filled from
// the initargs and the initforms (428).  NIL, and nothing done, for any
// other class, a name of none, or initargs with :ALLOW-OTHER-KEYS.
Value bi_make_instance_fast(Value cls, Value initargs) {
  if (is_symbol_word(symbol_normal(cls))) cls = ht_get(zvm.roots[ROOT_TYPE_TABLE], cls, NIL);
  if (!is_class(value_check(cls)) || allows_other_keys(initargs)) return NIL;
  Value stamp = word_or_nil(cls, CW_QUICK_STAMP);
  if (!is_fixnum(stamp) || !finalized(cls)) return NIL;
  uint32_t size = class_size_word(cls);
  if (size <= IW_STAMP) return NIL;
  root_push(&cls);
  initargs = bi_default_initargs(cls, initargs);
  root_push(&initargs);
  Value x = mem_alloc_object(size, HT_INSTANCE);
  heap_set_word(x, 0, cls);
  heap_set_word(x, IW_STAMP, word_or_nil(cls, CW_QUICK_STAMP));
  for (uint32_t i = IW_STAMP + 1; i < size; i++) heap_set_word(x, i, UNBOUND_SLOT);
  // The initargs go on the stack as the arguments of %FILL-SLOTS-FROM-INITARGS.
  push_frame(bi_value(BI_FILL_SLOTS_FROM_INITARGS), ST_CALL_FRAME);
  push_arg(x);
  push_arg(T);
  for (Value l = initargs; cons_p(l); l = cdr(l)) push_arg(car(l));
  root_pop(2);
  Value v = call_frame();
  pop_frame();
  zvts->mv_count = 1;
  return v;
}

namespace {

// ---------------------------------------------------------------------------
// Raw words of standard objects, for the object system's own bookkeeping:
// no slot definitions, no unbound-slot or missing-slot calls, and no update
// of an instance whose class has changed (the update itself reads the old
// words this way).

uint32_t checked_index(Value o, Value i) {
  if (!is_standard_object(o)) return wrong_type(o), UINT32_MAX;
  if (!is_fixnum(i) || fixnum_value(i) < 0 || uint32_t(fixnum_value(i)) >= object_value_words(o))
    return wrong_type(i), UINT32_MAX;
  return uint32_t(fixnum_value(i));
}

}  // namespace

// 456 (object index [unbound-value]): an unbound word reads as the third
// argument when one is given, else as the unbound marker itself.
Value bi_instance_ref(Value, Value) {
  check_max_args(3);
  uint32_t i = checked_index(arg(1), arg(2));
  if (i == UINT32_MAX) return NIL;
  Value v = heap_word(arg(1), i);
  return is_no_value(v) && arg_count() > 2 ? arg(3) : v;
}

// 457 (object index [value]): without a value the word becomes unbound.
Value bi_instance_set(Value, Value) {
  check_max_args(3);
  uint32_t i = checked_index(arg(1), arg(2));
  if (i == UINT32_MAX) return NIL;
  Value v = arg_count() > 2 ? arg(3) : UNBOUND_SLOT;
  heap_set_word(arg(1), i, v);
  return arg_count() > 2 ? v : NIL;
}

// 458 (object): where a heap object or a cons lies now, a fixnum that
// tells objects apart in printed text (#<POINT 12AB>); NIL for an
// immediate Value.  A collection may change it.
Value bi_object_address(Value x, Value) {
  uint32_t t = tag_of(value_check(x));
  if (cons_p(x)) return make_fixnum(int32_t(x & 0x7FFFFF));
  if (t & TAG_HEAP_BIT) return make_fixnum(int32_t(heap_offset(x) & 0x7FFFFF));
  return NIL;
}

namespace {

// ---------------------------------------------------------------------------
// Dispatch caches
//
// A funcallable instance whose word 2 is a simple vector is a generic
// function with its cache of effective methods:
//
//   0  the miss function, called with the arguments when no entry fits
//   1  n, a fixnum: how many leading arguments make the key
//   2  NIL, or a simple vector of n lists: the objects EQL specialisers
//      name at each position
//   3  the number of entries, a fixnum
//   4  the table: a power of two of entries of n + 1 words, the n keys and
//      the effective method (NIL in an empty entry)
//
// The key of an argument is the argument itself when an EQL specialiser
// names it at its position, else its class.  A class hashes by its number
// (word 4), which the collector never changes; other keys by the hash of
// EQL hash tables.  The object system empties a cache (it makes a new one)
// whenever a method or a class changes, so an entry never outlives what it
// was computed from.

enum : uint32_t { DC_MISS = 0, DC_KEYS = 1, DC_EQLS = 2, DC_COUNT = 3, DC_TABLE = 4 };
constexpr uint32_t DC_MAX_KEYS = 16;

inline uint32_t dc_keys(Value cache) { return uint32_t(fixnum_value(heap_word(cache, DC_KEYS))); }
inline uint32_t dc_capacity(Value cache, uint32_t n) {
  return (heap_length(cache) - DC_TABLE) / (n + 1);
}

bool usable_cache(Value cache) {
  if (!is_simple_vector(cache) || heap_length(cache) <= DC_TABLE) return false;
  Value n = heap_word(cache, DC_KEYS);
  if (!is_fixnum(n) || fixnum_value(n) < 0 || uint32_t(fixnum_value(n)) > DC_MAX_KEYS) return false;
  uint32_t c = dc_capacity(cache, uint32_t(fixnum_value(n)));
  return c > 0 && (c & (c - 1)) == 0 && is_fixnum(heap_word(cache, DC_COUNT));
}

// False when the argument cannot key an entry: an EQL specialiser names a
// class, which would be taken for the class of other arguments.
bool dispatch_key(Value eqls, uint32_t i, Value a, Value* key) {
  if (!nil_p(eqls)) {
    for (Value l = word_or_nil(eqls, i); cons_p(l); l = cdr(l)) {
      if (lisp_eql(car(l), a)) {
        *key = a;
        return !is_class(a);
      }
    }
  }
  *key = class_of(a);
  return true;
}

uint32_t key_hash(Value k) {
  if (is_class(k)) {
    Value n = word_or_nil(k, CW_NUMBER);
    if (is_fixnum(n)) return uint32_t(fixnum_value(n));
    // The fixed classes never move.
    return heap_offset(k) < 8 + zvm.heap_static ? heap_offset(k) : 0;
  }
  return ht_hash(k, HT_TEST_EQL);
}

uint32_t keys_hash(const Value* keys, uint32_t n) {
  uint32_t h = 0;
  for (uint32_t i = 0; i < n; i++) h = h * 31 + key_hash(keys[i]);
  return h ^ (h >> 11);
}

// Classes are compared by identity, EQL keys (a big integer, a float) by
// EQL.
inline bool same_key(Value a, Value b) { return a == b || (!is_class(a) && lisp_eql(a, b)); }

// The entry index for the keys: the one holding them, or the empty one
// where they belong.  The table is never full.
uint32_t probe(Value cache, const Value* keys, uint32_t n) {
  uint32_t cap = dc_capacity(cache, n);
  uint32_t e = keys_hash(keys, n) & (cap - 1);
  for (;; e = (e + 1) & (cap - 1)) {
    uint32_t w = DC_TABLE + e * (n + 1);
    if (nil_p(heap_word(cache, w + n))) return e;
    uint32_t i = 0;
    while (i < n && same_key(heap_word(cache, w + i), keys[i])) i++;
    if (i == n) return e;
  }
}

// The keys of the arguments from arg(1) on (a list when args is one).
bool arguments_keys(Value cache, Value args, Value* keys) {
  uint32_t n = dc_keys(cache);
  Value eqls = heap_word(cache, DC_EQLS);
  for (uint32_t i = 0; i < n; i++) {
    Value a;
    if (args == NO_VALUE) {
      if (i >= arg_count()) return false;
      a = arg(i + 1);
    } else {
      if (!cons_p(args)) return false;
      a = car(args);
      args = cdr(args);
    }
    if (!dispatch_key(eqls, i, a, &keys[i])) return false;
  }
  return true;
}

// The effective method for the arguments of the current frame, or the
// miss function.  Allocates nothing and calls nothing.
Value dispatch(Value cache) {
  if (!usable_cache(cache)) return NIL;
  Value keys[DC_MAX_KEYS];
  uint32_t n = dc_keys(cache);
  if (arguments_keys(cache, NO_VALUE, keys)) {
    Value em = heap_word(cache, DC_TABLE + probe(cache, keys, n) * (n + 1) + n);
    if (!nil_p(em)) return em;
  }
  return heap_word(cache, DC_MISS);
}

void cache_insert(Value cache, const Value* keys, uint32_t n, Value em) {
  uint32_t w = DC_TABLE + probe(cache, keys, n) * (n + 1);
  if (nil_p(heap_word(cache, w + n)))
    heap_set_word(cache, DC_COUNT, make_fixnum(fixnum_value(heap_word(cache, DC_COUNT)) + 1));
  for (uint32_t i = 0; i < n; i++) heap_set_word(cache, w + i, keys[i]);
  heap_set_word(cache, w + n, em);
}

}  // namespace

// 455 (cache arguments method): the cache with method stored under the
// keys of the argument list; a full cache is replaced by one of twice the
// size, which is returned.  Arguments that cannot key an entry leave the
// cache as it is.
Value bi_dispatch_cache_add(Value, Value) {
  Value cache = arg(1), args = arg(2), em = arg(3);
  if (!usable_cache(cache)) return wrong_type(cache);
  if (nil_p(em)) return cache;
  uint32_t n = dc_keys(cache);
  uint32_t cap = dc_capacity(cache, n);
  Value keys[DC_MAX_KEYS];
  if (!arguments_keys(cache, args, keys)) return cache;
  if (2 * uint32_t(fixnum_value(heap_word(cache, DC_COUNT)) + 1) > cap) {
    uint32_t words = DC_TABLE + 2 * cap * (n + 1);
    if (words >= HT_MAX_SLOTS) return cache;
    // Keys are Values the collector may move: they are computed again
    // after the allocation.
    Value fresh = mem_alloc_vector(words);
    cache = arg(1);
    for (uint32_t i = 0; i < words; i++) heap_set_word(fresh, i, NIL);
    for (uint32_t i = 0; i < DC_TABLE; i++) heap_set_word(fresh, i, heap_word(cache, i));
    heap_set_word(fresh, DC_COUNT, make_fixnum(0));
    Value old_keys[DC_MAX_KEYS];
    for (uint32_t e = 0; e < cap; e++) {
      uint32_t w = DC_TABLE + e * (n + 1);
      if (nil_p(heap_word(cache, w + n))) continue;
      for (uint32_t i = 0; i < n; i++) old_keys[i] = heap_word(cache, w + i);
      cache_insert(fresh, old_keys, n, heap_word(cache, w + n));
    }
    cache = fresh;
    arguments_keys(cache, arg(2), keys);
    em = arg(3);
  }
  cache_insert(cache, keys, n, em);
  return cache;
}

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
    case TAG_BUILTIN + KIND_FIXED:  // functions of every calling kind
    case TAG_BUILTIN + KIND_OPTREST:
    case TAG_BUILTIN + KIND_KEYS:
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
      if (ht == HT_INSTANCE || ht == HT_CLASS) return heap_word(x, IW_CLASS);
      // Hash tables and streams have the classes the library registers
      // under their type names, so methods can be specialised on them.
      if (t == TAG_OBJECT && (ht == HT_HASH || ((ht & 63) >= HT_FILE && (ht & 63) <= HT_STRING_STREAM))) {
        Value name = make_symbol(ht == HT_HASH ? FS_HASH_TABLE : FS_STREAM);
        Value c = ht_get(zvm.roots[ROOT_TYPE_TABLE], name, NIL);
        if (is_class(c)) return c;
      }
      if (t == TAG_VECTOR && ht == HT_BYTES && (heap_hdr1(x) & HDR_ONE_DIM))
        c = FIXED_CLASS_STRING;
      else if (t == TAG_VECTOR && ht == HT_ARRAY)
        c = heap_is_one_dim(x) ? FIXED_CLASS_VECTOR : FIXED_CLASS_ARRAY;
      else if (arr_is_header(x))
        c = arr_rank(x) != 1          ? FIXED_CLASS_ARRAY
            : arr_holds_characters(x) ? FIXED_CLASS_STRING
                                      : FIXED_CLASS_VECTOR;
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

// What a call of the standard object x runs on the arguments of the
// current frame: for an instance of a funcallable class its word 2, a
// function or, for a generic function, the effective method its dispatch
// cache holds for the arguments (the cache's miss function when it holds
// none).  NIL when x cannot be called.
Value instance_function(Value x) {
  if (tag_of(x) != TAG_OBJECT || heap_type(x) != HT_INSTANCE) return NIL;
  if (!(class_flags(heap_word(x, IW_CLASS)) & CF_FUNCALLABLE)) return NIL;
  Value f = word_or_nil(x, IW_FUNCTION);
  return is_simple_vector(f) ? dispatch(f) : f;
}
