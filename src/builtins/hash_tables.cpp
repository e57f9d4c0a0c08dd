// Hash tables (264-272) and the operations the rest of the kernel uses.
//
// The probe sequence, the prime capacities and the growth rule are those
// every image relies on.  The hash follows the table's test: identity
// tests (EQ, EQL) see strings, vectors and instances only by their shape,
// since their elements may change while they sit in a table; EQUAL sees
// string contents; EQUALP folds case and compares numbers by value.
#include "builtins/hash_tables.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "builtins/table.h"
#include "builtins/test_key.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/arrays.h"
#include "object/bignum.h"
#include "object/chartab.h"
#include "object/memory.h"
#include "object/error_hook.h"
#include "object/symbols.h"

namespace {

constexpr uint32_t E_TOO_LARGE = 0x144B;     // 5195: slot vector too large
constexpr uint32_t E_CANNOT_GROW = 0x104B;   // 4171: table cannot grow
constexpr uint32_t MAX_COUNT = 0xFFFF;       // the count is 16 bits
constexpr uint32_t DEFAULT_SIZE = 12;

inline bool live_key(Value k) { return tag_of(k) != TAG_MARKER; }

// ---------------------------------------------------------------------------
// The hash

enum Flavour { IDENTITY, EQUAL, EQUALP, OPAQUE };

Flavour flavour_of(uint32_t test) {
  switch (test) {
    case HT_TEST_EQ:
    case HT_TEST_EQL:
      return IDENTITY;
    case HT_TEST_EQUAL:
      return EQUAL;
    case HT_TEST_EQUALP:
      return EQUALP;
    default:
      return OPAQUE;
  }
}

uint32_t bytes_hash(const uint8_t* p, uint32_t n, bool fold) {
  uint32_t s = 0;
  for (uint32_t i = 0; i < n; i++) s = s * 4 + (fold ? char_upcase(p[i]) : p[i]);
  if (n < 6) s *= 12;
  return s & 0x7FFFFF;
}

uint32_t symbol_hash(Value sym) {
  Value name = sym_name(symbol_index(sym));
  uint32_t h = is_string_raw(name) ? bytes_hash(string_bytes(name), string_length(name), false) : 0;
  return h + (sym >> 16);  // 256 for symbols, 768 for keywords
}

uint32_t int64_hash(int64_t x) {
  uint64_t u = static_cast<uint64_t>(x);
  return static_cast<uint32_t>(u) + static_cast<uint32_t>(u >> 32);
}

// The double rule reads the sign-extended 16-bit field at byte 2 and the
// word at byte 4.  Zero of either sign hashes as +0.0: EQL holds between
// them, so they must land on the same probe sequence.
uint32_t double_hash(double d) {
  if (d == 0) return 0;
  uint8_t b[8];
  std::memcpy(b, &d, 8);
  int32_t mid = static_cast<int16_t>(load_u16(b + 2));
  return static_cast<uint32_t>(mid) ^ load_u32(b + 4);
}

// EQUALP equates a fixnum or 64-bit integer with a double of the same value
// (compared as doubles), so every real number hashes through its double:
// integral values as the integer they name, others by the double rule.
uint32_t number_value_hash(double d) {
  if (d == 0) return 0;
  if (std::trunc(d) == d && d >= -9.2233720368547758e18 && d < 9.2233720368547758e18) {
    int64_t i = static_cast<int64_t>(d);
    return fits_fixnum(i) ? static_cast<uint32_t>(i) : int64_hash(i);
  }
  return double_hash(d);
}

// Tag, type and size: what an object keeps while its contents change.
uint32_t shape_hash(Value v) {
  const uint8_t* p = heap_addr(v);
  uint32_t size = (p[0] & HT_HOLDS_VALUES) ? object_value_words_at(p) : heap_length(v);
  return (tag_of(v) << ((p[0] + 8u) & 31)) + size;
}

// Integer parts: the low words of both, wherever the parts' limbs lie.
uint32_t complex_hash(Value v) {
  const uint8_t* p = heap_data(v);
  if (heap_type(v) == HT_INT64)
    return uint32_t(int_complex_low_limb(v, 0)) + uint32_t(int_complex_low_limb(v, 1));
  double re, im;
  std::memcpy(&re, p, 8);
  std::memcpy(&im, p + 8, 8);
  return double_hash(re) + double_hash(im);
}

uint32_t header_hash(Value h, Flavour f);

// An atom, or an element of a list or vector key.  Lists are handled by the
// caller; here a nested list contributes nothing.
uint32_t atom_hash(Value v, Flavour f) {
  switch (tag_of(v)) {
    case TAG_CONS:
      return 0;
    case TAG_SYMBOL:
    case TAG_KEYWORD:
      return symbol_hash(v);
    case TAG_CHAR:
      if (f != EQUALP) return v;
      if (v & 0x100) return v & 0x1FF;  // a named key character: its low nine bits
      return (v & 0xFFFFFF00u) | char_upcase(static_cast<uint8_t>(v));
    case TAG_FIXNUM:
      return f == EQUALP ? number_value_hash(fixnum_value(v))
                         : static_cast<uint32_t>(fixnum_value(v));
    case TAG_INT64:
      if (is_bignum(v)) {
        // EQUALP: through the nearest double, which is the value itself
        // whenever a double equals the bignum.
        bool overflow;
        return f == EQUALP ? number_value_hash(int_to_double(v, &overflow)) : int_hash(v);
      }
      return f == EQUALP ? number_value_hash(double(int64_value(v))) : int64_hash(int64_value(v));
    case TAG_DOUBLE:
      return f == EQUALP ? number_value_hash(double_value(v)) : double_hash(double_value(v));
    case TAG_COMPLEX:
      return complex_hash(v);
    case TAG_VECTOR:
    case TAG_OBJECT:
      if (f != IDENTITY && is_string_raw(v))
        return bytes_hash(string_bytes(v), string_length(v), f == EQUALP);
      if (f != IDENTITY && arr_is_header(v)) return header_hash(v, f);
      return shape_hash(v);
    default:
      return v;
  }
}

// At most 7 elements, h times 4 before each after the first; a dotted tail
// met within them doubles h and adds its own hash.
uint32_t list_hash(Value list, Flavour f) {
  uint32_t h = 0;
  Value x = list;
  for (int n = 0; n < 7 && cons_p(x); n++, x = cdr(x)) {
    if (n) h *= 4;
    h += atom_hash(symbol_normal(car(x)), f);
  }
  if (!cons_p(x) && !nil_p(x)) h = h * 2 + atom_hash(symbol_normal(x), f);
  return h;
}

// EQUALP compares general arrays element by element: the shape, then up to
// eight elements from the last one backwards.
uint32_t array_hash(Value v) {
  uint32_t h = shape_hash(v);
  uint32_t n = object_value_words_at(heap_addr(v));
  for (uint32_t k = 0; k < 8 && k < n; k++)
    h = h * 4 + atom_hash(symbol_normal(heap_word(v, n - 1 - k)), EQUALP);
  return h;
}

// An array with a fill pointer, adjustable or displaced hashes as the
// simple array or string of its active elements would, so that it finds
// what it is EQUAL or EQUALP to.
uint32_t header_hash(Value h, Flavour f) {
  bool vector = arr_is_any_vector(h);
  uint32_t n = vector ? arr_vector_length(h) : arr_total_size(h);
  Value storage = arr_storage(h);
  if (storage == NIL) return shape_hash(h);
  Value at = NIL;
  uint32_t i = 0;
  if (vector && is_string(storage)) {
    if (n == 0) return bytes_hash(nullptr, 0, f == EQUALP);
    if (!arr_locate(h, 0, &at, &i)) return 0;
    return bytes_hash(string_bytes(at) + i, n, f == EQUALP);
  }
  if (f != EQUALP) return shape_hash(h);
  uint32_t hash = (tag_of(storage) << ((heap_addr(storage)[0] + 8u) & 31)) + n;
  for (uint32_t k = 0; k < 8 && k < n; k++) {
    if (!arr_locate(h, n - 1 - k, &at, &i)) return 0;
    hash = hash * 4 + atom_hash(symbol_normal(arr_ref(at, i)), EQUALP);
  }
  return hash;
}

uint32_t hash_in(Value key, Flavour f) {
  if (f == OPAQUE) return 0;
  key = symbol_normal(value_check(key));
  if (tag_of(key) == TAG_CONS) return list_hash(key, f);
  if (f == EQUALP && tag_of(key) == TAG_VECTOR && heap_type(key) == HT_ARRAY)
    return array_hash(key);
  return atom_hash(key, f);
}

// ---------------------------------------------------------------------------
// Slots

// A slot vector the probe sequence can run on: a simple vector whose key
// half has a prime number of slots, at least 5.
bool usable_slots(Value slots) {
  if (tag_of(slots) != TAG_VECTOR || heap_type(slots) != HT_ARRAY || !heap_is_one_dim(slots))
    return false;
  uint32_t c = heap_length(slots) / 2;
  return c >= 5 && (c & 1) && odd_is_prime(c);
}

void clear_slots(Value slots, uint32_t c) {
  for (uint32_t i = 2 * c; i > c;) ht_set_word(slots, --i, NIL);
  for (uint32_t i = c; i > 0;) ht_set_word(slots, --i, HASH_EMPTY);
}

Value fresh_slots(uint32_t c) {
  Value slots = mem_alloc_vector(2 * c);
  clear_slots(slots, c);
  return slots;
}

// Place a key known to be absent (no test is called) and its value.
void place(Value slots, uint32_t c, uint32_t h, Value key, Value value) {
  uint32_t i = h % c, step = h % (c - 2) + 1;
  while (ht_word(slots, i) != HASH_EMPTY) i = (i + step) % c;
  ht_set_word(slots, i, key);
  ht_set_word(slots, c + i, value);
}


// The table's slot vector, which every operation can trust: a table whose
// vector is unusable (only a damaged image can make one) is rebuilt first.
Value checked_slots(Value* table) {
  Value slots = ht_slots(*table);
  if (!usable_slots(slots)) {
    ht_rehash(*table);
    slots = ht_slots(*table);
  }
  return slots;
}

// ---------------------------------------------------------------------------
// Search

bool keys_match(uint32_t test, Value* table, Value key, Value stored) {
  switch (test) {
    case HT_TEST_EQ:
      return lisp_eq(key, stored);
    case HT_TEST_EQL:
      return lisp_eql(key, stored);
    case HT_TEST_EQUAL:
      return lisp_equal(key, stored);
    case HT_TEST_EQUALP:
      return lisp_equalp(key, stored);
  }
  const BuiltinRecord& r = zv_builtins[test];
  if (!r.fn || r.kind != KIND_FIXED || r.count != 2) {
    lisp_error(E_WRONG_TYPE, *table);
    return false;
  }
  uint16_t caller = zvts->current_builtin;
  zvts->current_builtin = static_cast<uint16_t>(test);
  Value result = r.fn(key, stored);
  zvts->current_builtin = caller;
  zvts->mv_count = 1;
  return !nil_p(result);
}

inline bool calls_out(uint32_t test) { return test < HT_TEST_EQ || test > HT_TEST_EQUALP; }

// Look for *key in *table (both rooted by the caller), in the slot vector
// it puts in *slots (rooted by the caller too): FOUND with the key's slot,
// ABSENT with the slot where it would be inserted, or FULL when the probe
// sequence has neither the key nor a free slot.  A test other than the
// four equality predicates may allocate or even change the table, so the
// slot vector is looked at again after every such call.
//
// Tables are shared by threads without a lock: whatever another thread
// does meanwhile, the search indexes only the vector in *slots, with that
// vector's own length.  A FULL table comes only from puts racing past the
// growth check.
enum Search { FOUND, ABSENT, FULL };

Search search(Value* table, Value* key, Value* slots, uint32_t* slot) {
  uint32_t test = ht_test(*table);
  uint32_t h = ht_hash(*key, test);
  *slots = checked_slots(table);
  for (;;) {
    uint32_t c = heap_length(*slots) / 2;
    uint32_t i0 = h % c, step = h % (c - 2) + 1, i = i0;
    uint32_t deleted = c;  // none yet
    bool restart = false;
    for (;;) {
      Value k = ht_word(*slots, i);
      if (k == HASH_EMPTY) {
        *slot = deleted < c ? deleted : i;
        return ABSENT;
      }
      if (!live_key(k)) {
        if (deleted == c) deleted = i;
      } else if (keys_match(test, table, *key, k)) {
        if (!calls_out(test) || ht_slots(*table) == *slots) {
          *slot = i;
          return FOUND;
        }
        restart = true;
      } else if (calls_out(test) && ht_slots(*table) != *slots) {
        restart = true;
      }
      if (restart) break;
      i = (i + step) % c;
      if (i == i0) {
        *slot = deleted;
        return deleted == c ? FULL : ABSENT;
      }
    }
    *slots = checked_slots(table);
  }
}

// ---------------------------------------------------------------------------
// Growth

// Grow when at most an eighth of the slots is free (or always, when
// `full`).  Returns 0, or the slot count the table would have needed when
// that is too many.  The new vector is built from the old one alone (the
// copies fit: it has more slots than the old one) and published by one
// store; what other threads put into the old one meanwhile may be lost.
uint32_t grow(Value* table, bool full) {
  Value slots = ht_slots(*table);
  uint32_t c = heap_length(slots) / 2, count = ht_count(*table);
  if (!full && count < c && c - count > c / 8) return 0;
  uint32_t c2 = ht_prime_capacity(c + c / 4);
  if (2 * c2 >= HT_MAX_SLOTS) return 2 * c2;
  root_push(&slots);
  Value fresh = fresh_slots(c2);
  root_pop();
  uint32_t test = ht_test(*table), n = 0;
  for (uint32_t i = c; i > 0;) {
    Value k = ht_word(slots, --i);
    if (!live_key(k)) continue;
    place(fresh, c2, ht_hash(k, test), k, ht_word(slots, c + i));
    n++;
  }
  ht_set_slots(*table, fresh);
  ht_set_count(*table, n);
  return 0;
}

// The entry at `slot` of the table's vector `slots` goes.
void withdraw(Value table, Value slots, uint32_t slot) {
  uint32_t c = heap_length(slots) / 2;
  ht_set_word(slots, slot, HASH_DELETED);
  ht_set_word(slots, c + slot, NIL);
  uint32_t n = ht_count(table);
  if (n) ht_set_count(table, n - 1);  // racing removals must not wrap it
}

// ---------------------------------------------------------------------------
// Rehashing

// Re-place every live entry of a table whose slot vector is usable, without
// allocating (the heap may be being walked).  Leaf code: nothing here
// signals or calls Lisp.
void rehash_in_place(Value table) {
  Value slots = ht_slots(table);
  uint32_t c = heap_length(slots) / 2, test = ht_test(table);
  std::vector<Value> live;
  for (uint32_t i = 0; i < c; i++) {
    Value k = ht_word(slots, i);
    if (!live_key(k)) continue;
    live.push_back(k);
    live.push_back(ht_word(slots, c + i));
  }
  clear_slots(slots, c);
  // A count beyond 16 bits only comes from a damaged table: keep what fits.
  size_t n = live.size() / 2 < MAX_COUNT ? live.size() / 2 : MAX_COUNT;
  for (size_t j = 0; j < n; j++)
    place(slots, c, ht_hash(live[2 * j], test), live[2 * j], live[2 * j + 1]);
  ht_set_count(table, static_cast<uint32_t>(n));
}

// Its second word is raw: saved tables that did not say so are told.
void mark_raw_word(Value table) {
  if (heap_length(table) == 2) heap_set_hdr1(table, (1u << 25) | 2);
}

// Whether every live key lies on its own probe sequence before the first
// empty slot, where a search by an equal key (same hash) reaches it.  The
// count is put right on the way.
bool keys_in_place(Value table) {
  Value slots = ht_slots(table);
  uint32_t c = heap_length(slots) / 2, test = ht_test(table), n = 0;
  for (uint32_t k = 0; k < c; k++) {
    Value key = ht_word(slots, k);
    if (!live_key(key)) continue;
    uint32_t h = ht_hash(key, test), i = h % c, step = h % (c - 2) + 1;
    while (i != k && ht_word(slots, i) != HASH_EMPTY) i = (i + step) % c;
    if (i != k || ++n > MAX_COUNT) return false;
  }
  if (n != ht_count(table)) ht_set_count(table, n);
  return true;
}

// ---------------------------------------------------------------------------
// Argument checks of the built-ins

// A kind-2 built-in that takes exactly two arguments.
bool valid_test(Value fn) {
  if (!is_builtin(fn) || builtin_kind(fn) != KIND_FIXED) return false;
  uint32_t n = builtin_number(fn);
  return n < zv_bi_live && zv_builtins[n].fn && zv_builtins[n].kind == KIND_FIXED &&
         zv_builtins[n].count == 2;
}

}  // namespace

// ---------------------------------------------------------------------------
// The operations

uint32_t ht_prime_capacity(uint32_t n) {
  uint32_t m = (n < 5 ? 4 : n) | 1;
  if (m >= HT_MAX_SLOTS) return m;  // refused by the caller anyway
  while (!odd_is_prime(m)) m += 2;
  return m;
}

uint32_t ht_hash(Value key, uint32_t test) { return hash_in(key, flavour_of(test)); }

uint32_t ht_sxhash(Value x) { return hash_in(x, EQUAL) & 0x7FFFFF; }

Value ht_make(uint32_t size, uint32_t test) {
  uint32_t c = ht_prime_capacity(size);
  if (c >= HT_MAX_SLOTS / 2) return lisp_error(E_TOO_LARGE, mem_make_integer(2 * int64_t(c)));
  Value table = mem_alloc_object(2, HT_HASH, 1);
  ht_set_slots(table, NIL);
  ht_set_word(table, HTW_TEST_COUNT, ht_test_count_word(test, 0));
  root_push(&table);
  Value slots = fresh_slots(c);
  ht_set_slots(table, slots);
  root_pop();
  return table;
}

void ht_clear(Value table) {
  root_push(&table);
  Value slots = checked_slots(&table);
  root_pop();
  clear_slots(slots, heap_length(slots) / 2);
  ht_set_count(table, 0);
}

Value ht_get(Value table, Value key, Value dflt, bool* found) {
  Value slots = NIL;
  root_push(&table);
  root_push(&key);
  root_push(&dflt);
  root_push(&slots);
  uint32_t slot;
  bool hit = search(&table, &key, &slots, &slot) == FOUND;
  if (hit) dflt = ht_word(slots, heap_length(slots) / 2 + slot);
  root_pop(4);
  if (found) *found = hit;
  return dflt;
}

Value ht_put(Value table, Value key, Value value) {
  Value slots = NIL;
  root_push(&table);
  root_push(&key);
  root_push(&value);
  root_push(&slots);
  uint32_t slot;
  for (;;) {
    Search found = search(&table, &key, &slots, &slot);
    if (found == FOUND) {
      ht_set_word(slots, heap_length(slots) / 2 + slot, value);
    } else if (ht_count(table) >= MAX_COUNT) {
      lisp_error(E_CANNOT_GROW, mem_make_integer(MAX_COUNT + 1));
    } else if (found == FULL) {
      uint32_t needed = grow(&table, true);
      if (!needed) continue;
      lisp_error(E_CANNOT_GROW, mem_make_integer(needed));
    } else {
      ht_set_word(slots, slot, key);
      ht_set_word(slots, heap_length(slots) / 2 + slot, value);
      ht_set_count(table, ht_count(table) + 1);
      if (uint32_t needed = grow(&table, false)) {
        withdraw(table, slots, slot);
        lisp_error(E_CANNOT_GROW, mem_make_integer(needed));
      }
    }
    break;
  }
  root_pop(4);
  return value;
}

bool ht_remove(Value table, Value key) {
  Value slots = NIL;
  root_push(&table);
  root_push(&key);
  root_push(&slots);
  uint32_t slot;
  bool hit = search(&table, &key, &slots, &slot) == FOUND;
  if (hit) withdraw(table, slots, slot);
  root_pop(3);
  return hit;
}

void ht_rehash(Value table) {
  mark_raw_word(table);
  if (usable_slots(ht_slots(table))) return rehash_in_place(table);
  // A new vector with a prime capacity that leaves room for every entry.
  Value old = ht_slots(table);
  bool vector = tag_of(old) == TAG_VECTOR && heap_type(old) == HT_ARRAY;
  uint32_t c_old = vector ? heap_length(old) / 2 : 0;
  root_push(&table);
  root_push(&old);
  uint32_t c = ht_prime_capacity(c_old + c_old / 4);
  if (c >= HT_MAX_SLOTS / 2) c = ht_prime_capacity(HT_MAX_SLOTS / 2 - 2 * MAX_COUNT);
  Value fresh = fresh_slots(c);
  uint32_t test = ht_test(table), n = 0;
  for (uint32_t i = 0; i < c_old && n < MAX_COUNT; i++) {
    Value k = ht_word(old, i);
    if (!live_key(k)) continue;
    place(fresh, c, ht_hash(k, test), k, ht_word(old, c_old + i));
    n++;
  }
  ht_set_slots(table, fresh);
  ht_set_count(table, n);
  root_pop(2);
}

void hash_tables_rehash_all() {
  // Only tables with a key off its probe sequence are touched, so a world
  // saved by this kernel loads unchanged.  A table whose slot vector is
  // unusable is rebuilt when it is first used; nothing here allocates.
  for (uint32_t off = 8; off < zvm.heap_fill;) {
    const uint8_t* p = zvm.heap_base + off;
    if (p[0] == HT_HASH && (load_u32(p + 4) & HDR_LEN_MASK) >= 2) {
      Value t = (TAG_OBJECT << 24) | off;
      mark_raw_word(t);
      if (usable_slots(ht_slots(t)) && !keys_in_place(t)) rehash_in_place(t);
    }
    off += object_size_at(p);
  }
}

// ---------------------------------------------------------------------------
// The built-ins

// 268 (&key test size)
Value bi_make_hash_table(Value, Value) {
  static const uint8_t keys[] = {FS_TEST, FS_SIZE, 0};
  kw_parse(0, 1, 0, keys);
  Value test = kw_value(FS_TEST, sym_function(FS_EQL));
  Value size = kw_value(FS_SIZE, make_fixnum(DEFAULT_SIZE));
  kw_clear();
  if (!valid_test(test)) return wrong_type(test);
  if (!is_fixnum(size)) return wrong_type(size);
  int32_t n = fixnum_value(size);
  return ht_make(n < 0 ? 0 : static_cast<uint32_t>(n), builtin_number(test));
}

// 265 (key table [default]): the value and whether it was there.
Value bi_gethash(Value, Value) {
  check_max_args(3);
  if (!ht_is_table(arg(2))) return wrong_type(arg(2));
  bool found = false;
  Value v[2];
  v[0] = ht_get(arg(2), arg(1), arg_count() >= 3 ? arg(3) : NIL, &found);
  v[1] = bool_value(found);
  return set_values(2, v);
}

// 271 (key table value)
Value bi_puthash(Value, Value) {
  if (!ht_is_table(arg(2))) return wrong_type(arg(2));
  return ht_put(arg(2), arg(1), arg(3));
}

// 270 (key table)
Value bi_remhash(Value key, Value table) {
  if (!ht_is_table(table)) return wrong_type(table);
  return bool_value(ht_remove(table, key));
}

// 264
Value bi_clrhash(Value table, Value) {
  if (!ht_is_table(table)) return wrong_type(table);
  root_push(&table);
  ht_clear(table);
  root_pop();
  return table;
}

// 266
Value bi_hash_table_count(Value table, Value) {
  if (!ht_is_table(table)) return wrong_type(table);
  return make_fixnum(static_cast<int32_t>(ht_count(table)));
}

// 267
Value bi_hash_table_p(Value x, Value) { return bool_value(ht_is_table(x)); }

// 269 (function table): every entry, from the last slot down, of the slot
// vector the table had when the walk began; the function may change the
// table meanwhile.
Value bi_maphash(Value fn, Value table) {
  if (!ht_is_table(table)) return wrong_type(table);
  root_push(&fn);
  root_push(&table);
  Value slots = checked_slots(&table);
  root_push(&slots);
  uint32_t c = heap_length(slots) / 2;
  for (uint32_t i = c; i > 0;) {
    --i;
    Value k = ht_word(slots, i);
    if (!live_key(k)) continue;
    call_function2(fn, k, ht_word(slots, c + i));
    zvts->mv_count = 1;
  }
  root_pop(3);
  return NIL;
}

// 272
Value bi_sxhash(Value x, Value) { return make_fixnum(static_cast<int32_t>(ht_sxhash(x))); }
