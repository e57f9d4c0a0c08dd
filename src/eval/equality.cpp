// The equality predicates.
//
// EQUAL and EQUALP share one walker.  Conses push their cdrs as pending
// comparisons and go on with their cars, so a long list keeps one pending
// pair at a time; vectors and instances push one record that hands out
// their element pairs from the last one down.  Nothing here allocates, so
// heap objects stay put for the whole walk and the pending entries below
// septr are never seen by anyone else.
#include "eval/equality.h"

#include <cstring>
#include <utility>

#include "builtins/table.h"
#include "object/arrays.h"
#include "object/bignum.h"
#include "object/chartab.h"
#include "object/error_hook.h"
#include "object/thread.h"

namespace {

// Lower-entry tags of a pending record.  A pair of Values has tag 0; an
// element record keeps the number of elements left in the upper entry
// (tag: low half, link: high half), because vectors may be longer than a
// 16-bit tag could count.
enum : uint16_t {
  PENDING_PAIR = 0,
  PENDING_FROM_1 = 1,  // elements 1..k remain (instances: word 0 is done)
  PENDING_FROM_0 = 2,  // elements 0..k-1 remain (arrays)
  PENDING_ARRAY = 3,   // elements 0..k-1 remain, taken with arr_ref
};

// The outcome of comparing two atoms.
enum AtomResult { DIFFERENT, SAME, BY_ELEMENTS };

struct Walk {
  StackEntry* st;
  uint32_t bottom;  // septr: the walk never touches entries at or above it
  uint32_t cur;     // lowest entry in use; == bottom when nothing is pending
  bool fold;        // EQUALP
  // Set by compare_atoms for BY_ELEMENTS.
  uint16_t style;
  uint32_t count;
};

// Both entries of a record are written before the cursor moves, and the
// cursor keeps entry 0 and two more free for the error signaller's needs.
bool push(Walk& w, Value a, Value b, uint16_t style, uint32_t count) {
  if (w.cur < 4) {
    zv_error(ERR_STACK_OVERFLOW);
    return false;
  }
  w.st[w.cur - 1] =
      StackEntry{a, static_cast<uint16_t>(count & 0xFFFF), static_cast<uint16_t>(count >> 16)};
  w.st[w.cur - 2] = StackEntry{b, style, 0};
  w.cur -= 2;
  return true;
}

// Take the next pending comparison into *a, *b; false when none is left.
bool pop(Walk& w, Value* a, Value* b) {
  while (w.cur < w.bottom) {
    StackEntry& lo = w.st[w.cur];
    StackEntry& hi = w.st[w.cur + 1];
    if (lo.tag == PENDING_PAIR) {
      *a = hi.arg;
      *b = lo.arg;
      w.cur += 2;
      return true;
    }
    uint32_t k = hi.tag | (uint32_t(hi.link) << 16);
    if (k == 0) {
      w.cur += 2;
      continue;
    }
    uint32_t i = lo.tag == PENDING_FROM_1 ? k : k - 1;
    k--;
    hi.tag = static_cast<uint16_t>(k & 0xFFFF);
    hi.link = static_cast<uint16_t>(k >> 16);
    if (lo.tag == PENDING_ARRAY) {
      *a = arr_ref(hi.arg, i);
      *b = arr_ref(lo.arg, i);
      return true;
    }
    *a = heap_word(hi.arg, i);
    *b = heap_word(lo.arg, i);
    return true;
  }
  return false;
}

// Characters under EQUALP: a named special key by its low nine bits,
// anything else with its code upcased.
uint32_t char_key(Value c) {
  if (c & 0x100) return c & 0x1FF;
  return (c & 0xFFFFFF00u) | char_upcase(static_cast<uint8_t>(c & 0xFF));
}

bool same_bytes(Value a, Value b, bool fold) {
  uint32_t n = string_length(a);
  if (string_length(b) != n) return false;
  const uint8_t* p = string_bytes(a);
  const uint8_t* q = string_bytes(b);
  if (!fold) return std::memcmp(p, q, n) == 0;
  for (uint32_t i = 0; i < n; i++)
    if (char_upcase(p[i]) != char_upcase(q[i])) return false;
  return true;
}

uint32_t value_words(Value v) { return object_value_words_at(heap_addr(v)); }

// EQUALP's numbers of different representation: by value.
bool mixed_numbers_equal(Value a, Value b) {
  uint32_t ta = tag_of(a), tb = tag_of(b);
  if (ta == TAG_DOUBLE) {
    std::swap(a, b);
    std::swap(ta, tb);
  }
  if (tb != TAG_DOUBLE) return false;
  if (ta == TAG_FIXNUM) return double(fixnum_value(a)) == double_value(b);
  if (ta == TAG_INT64) {
    // A bignum may lie beyond the double range: compared exactly.
    if (is_bignum(a)) return int_compare_double(a, double_value(b)) == 0;
    return double(int64_value(a)) == double_value(b);
  }
  return false;
}

AtomResult compare_heap(Walk& w, Value a, Value b) {
  uint8_t type = heap_type(a);
  if (heap_type(b) != type) return DIFFERENT;
  if (type == HT_BYTES) {
    bool sa = heap_hdr1(a) & HDR_ONE_DIM, sb = heap_hdr1(b) & HDR_ONE_DIM;
    return sa && sb && same_bytes(a, b, w.fold) ? SAME : DIFFERENT;
  }
  bool instance = type == HT_INSTANCE || (w.fold && type == HT_CLASS);
  if (instance) {
    uint32_t n = value_words(a);
    if (value_words(b) != n || n == 0 || heap_word(a, 0) != heap_word(b, 0)) return DIFFERENT;
    w.style = PENDING_FROM_1;
    w.count = n - 1;
    return BY_ELEMENTS;
  }
  if (w.fold && tag_of(a) == TAG_VECTOR && type == HT_ARRAY) {
    // Same shape: the length, rank and dimension words must agree.
    if (heap_hdr1(a) != heap_hdr1(b)) return DIFFERENT;
    uint32_t len = heap_length(a), n = value_words(a);
    for (uint32_t i = n; i < len; i++)
      if (heap_word(a, i) != heap_word(b, i)) return DIFFERENT;
    w.style = PENDING_FROM_0;
    w.count = n;
    return BY_ELEMENTS;
  }
  return DIFFERENT;
}

// Arrays one of which is a header (a fill pointer, adjustable or
// displaced).  EQUAL looks into strings only, by their active characters;
// EQUALP into every array of the same dimensions (vectors: the same active
// length), element by element.
AtomResult compare_headed_arrays(Walk& w, Value a, Value b) {
  if (!arr_is_array(a) || !arr_is_array(b)) return DIFFERENT;
  bool va = arr_is_any_vector(a), vb = arr_is_any_vector(b);
  if (!w.fold) {
    if (!va || !vb || !arr_holds_characters(a) || !arr_holds_characters(b)) return DIFFERENT;
    uint32_t n = arr_vector_length(a);
    if (arr_vector_length(b) != n) return DIFFERENT;
    for (uint32_t i = 0; i < n; i++)
      if (arr_ref(a, i) != arr_ref(b, i)) return DIFFERENT;
    return SAME;
  }
  uint32_t n;
  if (va || vb) {
    if (!va || !vb) return DIFFERENT;
    n = arr_vector_length(a);
    if (arr_vector_length(b) != n) return DIFFERENT;
  } else {
    uint32_t rank = arr_rank(a);
    if (arr_rank(b) != rank) return DIFFERENT;
    for (uint32_t k = 0; k < rank; k++)
      if (arr_dimension(a, k) != arr_dimension(b, k)) return DIFFERENT;
    n = arr_total_size(a);
  }
  w.style = PENDING_ARRAY;
  w.count = n;
  return BY_ELEMENTS;
}

// a and b are different words and a is not a cons.
AtomResult compare_atoms(Walk& w, Value a, Value b) {
  if (arr_is_header(a) || arr_is_header(b)) return compare_headed_arrays(w, a, b);
  uint32_t t = tag_of(a);
  if (tag_of(b) != t) return w.fold && mixed_numbers_equal(a, b) ? SAME : DIFFERENT;
  switch (t) {
    case TAG_CHAR:
      return w.fold && char_key(a) == char_key(b) ? SAME : DIFFERENT;
    case TAG_DOUBLE:
      return double_value(a) == double_value(b) ? SAME : DIFFERENT;
    case TAG_INT64:
      return int_same(a, b) ? SAME : DIFFERENT;
    case TAG_VECTOR:
    case TAG_OBJECT:
      return compare_heap(w, a, b);
    default:
      return DIFFERENT;
  }
}

bool walk(Value a, Value b, bool fold) {
  ThreadState* ts = zvts;
  Walk w{ts->stack, ts->septr, ts->septr, fold, 0, 0};
  for (;;) {
    a = symbol_normal(value_check(a));
    b = symbol_normal(value_check(b));
    if (a != b) {
      if (is_cons(a)) {
        if (!is_cons(b)) return false;
        if (!push(w, cdr(a), cdr(b), PENDING_PAIR, 0)) return false;
        a = car(a);
        b = car(b);
        continue;
      }
      AtomResult r = compare_atoms(w, a, b);
      if (r == DIFFERENT) return false;
      if (r == BY_ELEMENTS && !push(w, a, b, w.style, w.count)) return false;
    }
    if (!pop(w, &a, &b)) return true;
  }
}

}  // namespace

Value bi_eq(Value a, Value b) { return bool_value(lisp_eq(a, b)); }
Value bi_eql(Value a, Value b) { return bool_value(lisp_eql(a, b)); }
Value bi_equal(Value a, Value b) { return bool_value(lisp_equal(a, b)); }
Value bi_equalp(Value a, Value b) { return bool_value(lisp_equalp(a, b)); }
Value bi_neq(Value a, Value b) { return bool_value(!lisp_eq(a, b)); }

bool lisp_eql(Value a, Value b) {
  a = symbol_normal(value_check(a));
  b = symbol_normal(value_check(b));
  if (a == b) return true;
  uint32_t t = tag_of(a);
  if (tag_of(b) != t) return false;
  if (t == TAG_DOUBLE) return double_value(a) == double_value(b);
  if (t == TAG_INT64) return int_same(a, b);
  return false;
}

bool lisp_equal(Value a, Value b) { return walk(a, b, false); }
bool lisp_equalp(Value a, Value b) { return walk(a, b, true); }
