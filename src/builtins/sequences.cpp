// Sequence built-ins (126-132, 134-144) over lists, general vectors and
// strings.
//
// Functions that call out to Lisp (tests, keys, predicates) never trust a
// vector's length across a call: the called function may have shortened
// it in place.  Those that filter first mark the elements to drop in a
// byte string, calling out once per element, and build their result
// afterwards without calling out at all.
//
// Built-in 144 is the mismatch search: the first index at which two ranges
// differ.  The subsequence search is written on top of it in Lisp.
#include <cstring>

#include "builtins/table.h"
#include "builtins/test_key.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/arrays.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/strings.h"

namespace {

constexpr uint32_t E_TOO_LONG = 0x104B;  // 4171
constexpr uint32_t NO_LIMIT = 0xFFFFFFFFu;

[[noreturn]] void fail(uint32_t code, Value x) { lisp_fatal_error(code, x); }

// ---------------------------------------------------------------------------
// Kinds of sequence and their elements

enum Kind { LIST, VECTOR, STRING, NONE };

Kind kind_of(Value s) {
  uint32_t t = tag_of(value_check(s));
  if (t == TAG_CONS) return LIST;
  if (t != TAG_VECTOR || !heap_is_one_dim(s)) return NONE;
  if (heap_type(s) == HT_ARRAY) return VECTOR;
  return heap_type(s) == HT_BYTES ? STRING : NONE;
}

Kind seq_arg(Value s) {
  Kind k = kind_of(s);
  if (k == NONE) fail(E_WRONG_TYPE, s);
  return k;
}

// Vectors and strings.
inline Value vref(Value v, Kind k, uint32_t i) {
  return k == VECTOR ? heap_word(v, i) : make_char(string_bytes(v)[i]);
}
inline void vset(Value v, Kind k, uint32_t i, Value x) {
  if (k == VECTOR) return heap_set_word(v, i, x);
  if (!is_string_char(x)) fail(E_WRONG_TYPE, x);
  string_bytes(v)[i] = static_cast<uint8_t>(char_code(x));
}
// A new empty vector or string of n elements (a vector holds NIL).
Value vmake(Kind k, uint32_t n) {
  if (k == STRING) return str_make(n);
  Value v = mem_alloc_vector(n);
  for (uint32_t i = 0; i < n; i++) heap_set_word(v, i, NIL);
  return v;
}

// The length of a sequence whose range is taken: a list must be proper.
uint32_t seq_length(Value s, Kind k) {
  if (k != LIST) return heap_length(s);
  Value end;
  int64_t n = list_conses(s, &end);
  if (n < 0) fail(E_WRONG_TYPE, s);
  if (!nil_p(end)) fail(E_BAD_TYPE, s);
  return uint32_t(n);
}

Value nthcdr(Value list, uint32_t n) {
  for (; n && cons_p(list); n--) list = cdr(list);
  return list;
}

// Positions: a fixnum, or a 64-bit integer clamped to 32 bits so that a
// huge position lies beyond every list.
bool position_arg(Value v, int64_t* out) {
  if (is_fixnum(value_check(v))) {
    *out = fixnum_value(v);
    return true;
  }
  if (tag_of(v) != TAG_INT64) return false;
  int64_t x = int64_value(v);
  *out = x > INT32_MAX ? INT32_MAX : x < INT32_MIN ? INT32_MIN : x;
  return true;
}

// A vector index: a fixnum below the current length.
uint32_t index_arg(Value v, Value i) {
  if (!is_fixnum(value_check(i)) || fixnum_value(i) < 0 ||
      uint32_t(fixnum_value(i)) >= heap_length(v))
    fail(E_WRONG_TYPE, i);
  return uint32_t(fixnum_value(i));
}

// A fresh vector (lists, vectors) or string holding elements [s, e);
// *out receives its kind.  Allocates; calls nothing.
Value range_copy(Value seq, Kind k, uint32_t s, uint32_t e, Kind* out) {
  *out = k == STRING ? STRING : VECTOR;
  if (k == STRING) return str_substring(seq, s, e);
  root_push(&seq);
  Value v = mem_alloc_vector(e - s);
  if (k == VECTOR) {
    std::memcpy(heap_data(v), heap_data(seq) + 4 * s, 4 * (e - s));
  } else {
    Value x = nthcdr(seq, s);
    for (uint32_t i = 0; i < e - s; i++) {
      heap_set_word(v, i, cons_p(x) ? car(x) : NIL);
      if (cons_p(x)) x = cdr(x);
    }
  }
  root_pop();
  return v;
}

// ---------------------------------------------------------------------------
// Walking a range of elements, forwards or backwards.  A list walked
// backwards is walked through a vector copy of the range.  The walker's
// object is a root from open to close.

struct Walker {
  Value obj;       // the vector or string, its copy, or the next list cell
  Kind kind;       // of obj
  uint32_t i;      // next index (forwards), one past it (backwards)
  uint32_t s, e;   // the range
  uint32_t shift;  // index in obj = index - shift
  bool back;
};

void walker_open(Walker* w, Value seq, Kind k, uint32_t s, uint32_t e, bool back) {
  *w = Walker{seq, k, back ? e : s, s, e, 0, back};
  root_push(&w->obj);
  if (k != LIST) return;
  if (!back) {
    w->obj = nthcdr(seq, s);
    return;
  }
  w->obj = range_copy(seq, k, s, e, &w->kind);
  w->shift = s;
}

// The next element and its index; false at the end of the range, or when
// the vector has become shorter than the range.
bool walker_next(Walker* w, Value* x, uint32_t* index) {
  if (w->kind == LIST) {
    if (w->i >= w->e || !cons_p(w->obj)) return false;
    *x = car(w->obj);
    w->obj = cdr(w->obj);
    *index = w->i++;
    return true;
  }
  uint32_t len = heap_length(w->obj) + w->shift;
  if (!w->back) {
    if (w->i >= w->e || w->i >= len) return false;
    *index = w->i++;
  } else {
    if (w->i > len) w->i = len;
    if (w->i <= w->s) return false;
    *index = --w->i;
  }
  *x = vref(w->obj, w->kind, *index - w->shift);
  return true;
}

inline void walker_close() { root_pop(); }

// ---------------------------------------------------------------------------
// Keywords

struct Options {
  TestKey tk;
  bool from_end;
  Value start, end, count;  // as given (NIL when absent)
};

// Reads the keyword slots of the call after kw_parse, and clears them all.
Options take_options() {
  Options o;
  o.tk = tk_take();
  o.from_end = !nil_p(kw_value(FS_FROM_END));
  o.start = kw_value(FS_START);
  o.end = kw_value(FS_END);
  o.count = kw_value(FS_COUNT);
  kw_clear();
  return o;
}

struct Range {
  uint32_t s, e;
};

Range take_range(Value start, Value end, uint32_t len) {
  Range r;
  check_bounds(start, end, len, &r.s, &r.e);
  return r;
}

uint32_t count_limit(Value c) {
  if (nil_p(c)) return NO_LIMIT;
  if (!is_fixnum(value_check(c))) fail(E_BAD_TYPE, c);
  return fixnum_value(c) < 0 ? 0 : uint32_t(fixnum_value(c));
}

// The test protocol against the item in argument 1, or the predicate in
// argument 1 (REMOVE-IF).  The element need not be rooted.
struct Match {
  TestKey tk;
  bool predicate;
};

bool matches(const Match& m, Value x) {
  Value y = tk_key(m.tk, x);
  if (m.predicate) return tk_satisfies(arg(1), y);
  return tk_match(m.tk, arg(1), y);
}

Value call2(Value fn, Value a, Value b) {
  Value r = call_function2(fn, a, b);
  zvts->mv_count = 1;
  return r;
}

// Vectors with a fill pointer, adjustable or displaced (array headers):
// the functions that only read a sequence take a simple copy of its active
// elements in its place (arr_simplify_arg); those that change it run on
// such a copy and write it back.  `body` reads its arguments from the
// stack.  A body that shortens its sequence (DELETE) returns the shorter
// copy: its elements go back, the fill pointer follows, and without a fill
// pointer the copy itself is the answer.
using Body = Value (*)(Value, Value);

Value on_copy(uint32_t k, Body body, bool shortens) {
  Value h = arg(k);
  root_push(&h);
  arr_simplify_arg(k);
  Value r = body(arg(1), arg(2));
  Value done = shortens ? r : arg(k);
  uint32_t n = arr_vector_length(done);
  arr_write_back(h, done, n);
  Value result = h;
  if (shortens) {
    if (arr_fill_pointer(h) >= 0)
      heap_set_word(h, AH_FILL, make_fixnum(int32_t(n)));
    else
      result = done;
  }
  root_pop();
  return result;
}

inline bool header_vector(Value v) { return arr_is_header(v) && arr_rank(v) == 1; }


}  // namespace

// ---------------------------------------------------------------------------
// LENGTH, ELT and its store

// 132
Value bi_length(Value s, Value) {
  if (header_vector(s)) return make_fixnum(int32_t(arr_vector_length(s)));
  Kind k = seq_arg(s);
  if (k != LIST) return make_fixnum(int32_t(heap_length(s)));
  return mem_make_integer(list_walk_length(s));
}

// 129 (sequence index): a list as NTH does.
Value bi_elt(Value s, Value i) {
  if (header_vector(s)) {
    if (!is_fixnum(i) || fixnum_value(i) < 0 || uint32_t(fixnum_value(i)) >= arr_vector_length(s))
      fail(E_WRONG_TYPE, i);
    return arr_ref(s, uint32_t(fixnum_value(i)));
  }
  Kind k = seq_arg(s);
  if (k != LIST) return vref(s, k, index_arg(s, i));
  int64_t n = 0;
  if (!position_arg(i, &n)) fail(E_WRONG_TYPE, i);
  Value x = nthcdr(s, n < 0 ? 0 : uint32_t(n));
  return cons_p(x) ? car(x) : NIL;
}

// 140 (sequence index value)
Value bi_setelt(Value, Value) {
  Value s = arg(1), i = arg(2), x = arg(3);
  if (header_vector(s)) {
    if (!is_fixnum(i) || fixnum_value(i) < 0 || uint32_t(fixnum_value(i)) >= arr_vector_length(s))
      fail(E_WRONG_TYPE, i);
    if (!arr_set(s, uint32_t(fixnum_value(i)), x)) fail(E_WRONG_TYPE, x);
    return x;
  }
  Kind k = seq_arg(s);
  if (k != LIST) {
    vset(s, k, index_arg(s, i), x);
    return x;
  }
  int64_t n = 0;
  if (!position_arg(i, &n)) fail(E_WRONG_TYPE, i);
  Value cell = nthcdr(s, n < 0 ? 0 : uint32_t(n));
  if (!cons_p(cell)) fail(E_WRONG_TYPE, i);
  set_car(cell, x);
  return x;
}

// ---------------------------------------------------------------------------
// Copies and reversals

// 127
Value bi_copy_seq(Value s, Value) {
  if (header_vector(s)) return arr_active_copy(s);
  Kind k = seq_arg(s);
  if (k == STRING) return str_substring(s, 0, string_length(s));
  if (k == VECTOR) {
    Kind out;
    return range_copy(s, k, 0, heap_length(s), &out);
  }
  // A list's dotted tail becomes the copy's tail.
  Value acc = NIL;
  root_push(&s);
  root_push(&acc);
  for (; cons_p(s); s = cdr(s)) acc = cons(car(s), acc);
  Value first = nreverse_list(acc);
  if (cons_p(acc)) set_cdr(acc, s);  // acc is the copy's last cell now
  root_pop(2);
  return cons_p(first) ? first : s;
}

// 139
Value bi_reverse(Value s, Value) {
  s = arr_simplify_arg(1);
  Kind k = seq_arg(s);
  root_push(&s);
  Value r = NIL;
  if (k == LIST) {
    list_walk_length(s);
    root_push(&r);
    for (; cons_p(s); s = cdr(s)) r = cons(car(s), r);
    root_pop();
  } else {
    uint32_t n = heap_length(s);
    r = vmake(k, n);
    for (uint32_t i = 0; i < n; i++) vset(r, k, i, vref(s, k, n - 1 - i));
  }
  root_pop();
  return r;
}

// 134
Value bi_nreverse(Value s, Value) {
  if (header_vector(s)) return on_copy(1, bi_nreverse, false);
  Kind k = seq_arg(s);
  if (k == LIST) return nreverse_list(s);
  for (uint32_t i = 0, n = heap_length(s); i < n / 2; i++) {
    Value a = vref(s, k, i);
    vset(s, k, i, vref(s, k, n - 1 - i));
    vset(s, k, n - 1 - i, a);
  }
  return s;
}

// 142 (sequence start [end])
Value bi_subseq(Value, Value) {
  check_max_args(3);
  Value s = arr_simplify_arg(1);
  Kind k = seq_arg(s);
  Range r = take_range(arg(2), arg_count() >= 3 ? arg(3) : NIL, seq_length(s, k));
  if (k != LIST) {
    Kind out;
    return range_copy(s, k, r.s, r.e, &out);
  }
  Value acc = NIL;
  root_push(&s);
  root_push(&acc);
  s = nthcdr(s, r.s);
  for (uint32_t i = r.s; i < r.e && cons_p(s); i++, s = cdr(s)) acc = cons(car(s), acc);
  root_pop(2);
  return nreverse_list(acc);
}

namespace {

// ---------------------------------------------------------------------------
// CONCATENATE (result-type sequences...)

Kind result_kind(Value type) {
  if (type == make_symbol(FS_LIST)) return LIST;
  if (type == make_symbol(FS_STRING)) return STRING;
  if (type == make_symbol(FS_VECTOR)) return VECTOR;
  fail(E_WRONG_TYPE, type);
}

// Every element of every argument must be able to go into the result.
uint32_t concatenated_length(Kind result, uint32_t nargs) {
  uint64_t total = 0;
  for (uint32_t a = 2; a <= nargs; a++) {
    Value s = arg(a);
    Kind k = seq_arg(s);
    uint32_t n = seq_length(s, k);
    total += n;
    if (result != STRING || k == STRING) continue;
    for (uint32_t i = 0; i < n; i++, s = k == LIST ? cdr(s) : s) {
      Value x = k == LIST ? car(s) : heap_word(s, i);
      if (!is_string_char(x)) fail(E_WRONG_TYPE, x);
    }
  }
  if (result != LIST && total >= ARR_MAX_TOTAL) fail(E_TOO_LONG, mem_make_integer(int64_t(total)));
  return uint32_t(total);
}

Value concatenate_list(uint32_t nargs) {
  Value acc = NIL, s = NIL;
  root_push(&acc);
  root_push(&s);
  for (uint32_t a = 2; a <= nargs; a++) {
    s = arg(a);
    Kind k = kind_of(s);
    if (k == LIST) {
      for (; cons_p(s); s = cdr(s)) acc = cons(car(s), acc);
    } else {
      for (uint32_t i = 0; i < heap_length(s); i++) acc = cons(vref(s, k, i), acc);
    }
  }
  root_pop(2);
  return nreverse_list(acc);
}

// Nothing is called and nothing allocated while the result is filled.
Value concatenate_vector(Kind result, uint32_t nargs, uint32_t total) {
  Value r = result == STRING ? str_make(total) : mem_alloc_vector(total);
  uint32_t j = 0;
  for (uint32_t a = 2; a <= nargs; a++) {
    Value s = arg(a);
    Kind k = kind_of(s);
    if (k == LIST) {
      for (; cons_p(s); s = cdr(s)) vset(r, result, j++, car(s));
    } else if (k == result) {
      uint32_t n = heap_length(s), unit = k == STRING ? 1 : 4;
      std::memcpy(heap_data(r) + unit * j, heap_data(s), unit * n);
      j += n;
    } else {
      for (uint32_t i = 0; i < heap_length(s); i++) vset(r, result, j++, vref(s, k, i));
    }
  }
  return r;
}

}  // namespace

Value bi_concatenate(Value type, Value) {
  Kind result = result_kind(type);
  uint32_t nargs = arg_count();
  for (uint32_t a = 2; a <= nargs; a++) arr_simplify_arg(a);
  uint32_t total = concatenated_length(result, nargs);
  if (result == LIST) return concatenate_list(nargs);
  return concatenate_vector(result, nargs, total);
}

// ---------------------------------------------------------------------------
// FILL (sequence item &key start end)

Value bi_fill(Value, Value) {
  if (header_vector(arg(1))) return on_copy(1, bi_fill, false);
  kw_parse(2, FS_START, FS_END);
  Options o = take_options();
  Value s = arg(1), item = arg(2);
  Kind k = seq_arg(s);
  Range r = take_range(o.start, o.end, seq_length(s, k));
  if (k == STRING && !is_string_char(item)) fail(E_WRONG_TYPE, item);
  if (k != LIST) {
    for (uint32_t i = r.s; i < r.e; i++) vset(s, k, i, item);
    return s;
  }
  Value x = nthcdr(s, r.s);
  for (uint32_t i = r.s; i < r.e && cons_p(x); i++, x = cdr(x)) set_car(x, item);
  return s;
}

namespace {

// ---------------------------------------------------------------------------
// FIND and POSITION (item sequence &key test test-not key from-end start end)

Value find_or_position(bool position) {
  kw_parse(2, FS_TEST, FS_END);
  Options o = take_options();
  Match m{o.tk, false};
  Value s = arg(2);
  Kind k = seq_arg(s);
  Range r = take_range(o.start, o.end, seq_length(s, k));
  Walker w;
  walker_open(&w, s, k, r.s, r.e, o.from_end);
  Value x = NIL, found = NIL;
  root_push(&x);
  uint32_t i = 0;
  while (walker_next(&w, &x, &i)) {
    if (!matches(m, x)) continue;
    found = position ? make_fixnum(int32_t(i)) : x;
    break;
  }
  root_pop();
  walker_close();
  return found;
}

}  // namespace


Value bi_find(Value, Value) {
  arr_simplify_arg(2);
  return find_or_position(false);
}
Value bi_position(Value, Value) {
  arr_simplify_arg(2);
  return find_or_position(true);
}

namespace {

// ---------------------------------------------------------------------------
// REMOVE, DELETE and REMOVE-IF (item-or-predicate sequence &key ... count)

// Marks (bytes of `marks`, one per element of the range) the elements
// that match; returns how many.
uint32_t mark_matches(const Match& m, Value s, Kind k, Range r, Value* marks) {
  Walker w;
  walker_open(&w, s, k, r.s, r.e, false);
  Value x = NIL;
  root_push(&x);
  uint32_t i = 0, found = 0;
  while (walker_next(&w, &x, &i)) {
    if (!matches(m, x)) continue;
    string_bytes(*marks)[i - r.s] = 1;
    found++;
  }
  root_pop();
  walker_close();
  return found;
}

// Keep only `limit` marks: the last ones with :FROM-END, else the first.
void limit_marks(Value marks, uint32_t found, uint32_t limit, bool from_end) {
  if (found <= limit) return;
  uint8_t* p = string_bytes(marks);
  uint32_t n = string_length(marks);
  uint32_t drop = found - limit;
  for (uint32_t j = 0; j < n && drop; j++) {
    uint32_t i = from_end ? j : n - 1 - j;
    if (!p[i]) continue;
    p[i] = 0;
    drop--;
  }
}

inline bool marked(Value marks, uint32_t start, uint32_t i) {
  return i >= start && i - start < string_length(marks) && string_bytes(marks)[i - start];
}

// A new sequence of the unmarked elements.
Value copy_unmarked(Value s, Kind k, uint32_t start, Value marks) {
  root_push(&s);
  root_push(&marks);
  Value r = NIL;
  if (k == LIST) {
    root_push(&r);
    for (uint32_t i = 0; cons_p(s); s = cdr(s), i++)
      if (!marked(marks, start, i)) r = cons(car(s), r);
    root_pop();
    r = nreverse_list(r);
  } else {
    uint32_t n = heap_length(s), kept = 0;
    for (uint32_t i = 0; i < n; i++) kept += !marked(marks, start, i);
    r = vmake(k, kept);
    for (uint32_t i = 0, j = 0; i < n; i++)
      if (!marked(marks, start, i)) vset(r, k, j++, vref(s, k, i));
  }
  root_pop(2);
  return r;
}

// The same sequence without the marked elements: list cells are unlinked,
// a vector or string is compacted and shortened.
Value delete_marked(Value s, Kind k, uint32_t start, Value marks) {
  if (k == LIST) {
    Value head = s, prev = NIL;
    for (uint32_t i = 0; cons_p(s); s = cdr(s), i++) {
      if (!marked(marks, start, i))
        prev = s;
      else if (nil_p(prev))
        head = cdr(s);
      else
        set_cdr(prev, cdr(s));
    }
    return head;
  }
  uint32_t n = heap_length(s), j = 0;
  for (uint32_t i = 0; i < n; i++)
    if (!marked(marks, start, i)) vset(s, k, j++, vref(s, k, i));
  return k == STRING ? str_resize(s, j) : mem_resize_vector(s, j);
}

Value remove_common(bool predicate, bool destructive) {
  kw_parse(2, predicate ? FS_KEY : FS_TEST, FS_COUNT);
  Options o = take_options();
  Match m{o.tk, predicate};
  Value s = arg(2);
  Kind k = seq_arg(s);
  Range r = take_range(o.start, o.end, seq_length(s, k));
  uint32_t limit = count_limit(o.count);
  Value marks = str_make(r.e - r.s);
  std::memset(string_bytes(marks), 0, r.e - r.s);
  root_push(&marks);
  uint32_t found = mark_matches(m, arg(2), k, r, &marks);
  limit_marks(marks, found, limit, o.from_end);
  s = arg(2);
  Value result = destructive ? delete_marked(s, k, r.s, marks) : copy_unmarked(s, k, r.s, marks);
  root_pop();
  return result;
}

}  // namespace


Value bi_remove(Value, Value) {
  arr_simplify_arg(2);
  return remove_common(false, false);
}
Value bi_delete(Value, Value) {
  if (header_vector(arg(2))) return on_copy(2, bi_delete, true);
  return remove_common(false, true);
}
Value bi_remove_if(Value, Value) {
  arr_simplify_arg(2);
  return remove_common(true, false);
}

// ---------------------------------------------------------------------------
// REPLACE (sequence1 sequence2 &key start1 end1 start2 end2)

Value bi_replace(Value, Value) {
  arr_simplify_arg(2);
  if (header_vector(arg(1))) return on_copy(1, bi_replace, false);
  kw_parse(2, FS_START1, FS_END2);
  Value start1 = kw_value(FS_START1), end1 = kw_value(FS_END1);
  Value start2 = kw_value(FS_START2), end2 = kw_value(FS_END2);
  kw_clear();
  Value a = arg(1), b = arg(2);
  Kind ka = seq_arg(a), kb = seq_arg(b);
  Range ra = take_range(start1, end1, seq_length(a, ka));
  Range rb = take_range(start2, end2, seq_length(b, kb));
  uint32_t n = ra.e - ra.s < rb.e - rb.s ? ra.e - ra.s : rb.e - rb.s;
  if (n == 0) return a;
  // The source is copied first: it may be the target itself, and every
  // element is checked before the target changes.
  Value src = range_copy(b, kb, rb.s, rb.s + n, &kb);
  a = arg(1);
  if (ka == STRING && kb != STRING)
    for (uint32_t i = 0; i < n; i++)
      if (!is_string_char(heap_word(src, i))) fail(E_WRONG_TYPE, heap_word(src, i));
  if (ka != LIST) {
    for (uint32_t i = 0; i < n; i++) vset(a, ka, ra.s + i, vref(src, kb, i));
    return a;
  }
  Value x = nthcdr(a, ra.s);
  for (uint32_t i = 0; i < n && cons_p(x); i++, x = cdr(x)) set_car(x, vref(src, kb, i));
  return a;
}

// ---------------------------------------------------------------------------
// REDUCE (function sequence &key key from-end start end initial-value)

Value bi_reduce(Value, Value) {
  arr_simplify_arg(2);
  static const uint8_t initial_value[] = {FS_INITIAL_VALUE, 0};
  kw_parse(2, FS_KEY, FS_END, initial_value);
  uint16_t initial = zvts->kwslots[FS_INITIAL_VALUE];
  Options o = take_options();
  Value s = arg(2);
  Kind k = seq_arg(s);
  Range r = take_range(o.start, o.end, seq_length(s, k));
  bool has_acc = initial != 0;
  Value acc = has_acc ? zvts->stack[initial].arg : NIL, x = NIL;
  root_push(&acc);
  root_push(&x);
  Walker w;
  walker_open(&w, s, k, r.s, r.e, o.from_end);
  uint32_t i = 0;
  while (walker_next(&w, &x, &i)) {
    x = tk_key(o.tk, x);
    if (!has_acc)
      acc = x;
    else
      acc = o.from_end ? call2(arg(1), x, acc) : call2(arg(1), acc, x);
    has_acc = true;
  }
  walker_close();
  if (!has_acc) {
    acc = call_function0(arg(1));
    zvts->mv_count = 1;
  }
  root_pop(2);
  return acc;
}

namespace {

// ---------------------------------------------------------------------------
// SORT (sequence predicate &key key): selection sort in place, n(n-1)/2
// calls of the predicate on the keys of a scanned element and the choice.

bool before(const TestKey& tk, Value e, Value choice) {
  root_push(&choice);
  Value ke = tk_key(tk, e);
  root_push(&ke);
  Value kc = tk_key(tk, choice);
  bool r = !nil_p(call2(arg(2), ke, kc));
  root_pop(2);
  return r;
}

void sort_list(const TestKey& tk) {
  Value pos = arg(1), scan = NIL, choice = NIL;
  root_push(&pos);
  root_push(&scan);
  root_push(&choice);
  for (; cons_p(pos) && cons_p(cdr(pos)); pos = cdr(pos)) {
    choice = pos;
    for (scan = cdr(pos); cons_p(scan); scan = cdr(scan))
      if (before(tk, car(scan), car(choice))) choice = scan;
    Value x = car(pos);
    set_car(pos, car(choice));
    set_car(choice, x);
  }
  root_pop(3);
}

// The vector is read again after every call: it may have been shortened.
void sort_vector(const TestKey& tk, Kind k) {
  for (uint32_t pos = 0; pos + 1 < heap_length(arg(1)); pos++) {
    uint32_t choice = pos;
    for (uint32_t j = pos + 1; j < heap_length(arg(1)); j++) {
      Value v = arg(1);
      if (choice >= heap_length(v)) return;
      if (before(tk, vref(v, k, j), vref(v, k, choice))) choice = j;
    }
    Value v = arg(1);
    if (choice >= heap_length(v)) return;
    Value x = vref(v, k, pos);
    vset(v, k, pos, vref(v, k, choice));
    vset(v, k, choice, x);
  }
}

}  // namespace

Value bi_sort(Value, Value) {
  if (header_vector(arg(1))) return on_copy(1, bi_sort, false);
  kw_parse(2, FS_KEY, FS_KEY);
  TestKey tk = tk_take();
  kw_clear();
  Value s = arg(1);
  Kind k = seq_arg(s);
  seq_length(s, k);
  if (k == LIST)
    sort_list(tk);
  else
    sort_vector(tk, k);
  return arg(1);
}

// ---------------------------------------------------------------------------
// MISMATCH (sequence1 sequence2 &key start1 end1 start2 end2 test test-not
// key from-end): the index in sequence1 of the first pair that fails the
// test (with :FROM-END, one past the last such pair), or where the shorter
// range ran out; NIL when the ranges agree element for element.

Value bi_mismatch(Value, Value) {
  arr_simplify_arg(1);
  arr_simplify_arg(2);
  kw_parse(2, FS_START1, FS_FROM_END);
  TestKey tk = tk_take();
  bool from_end = !nil_p(kw_value(FS_FROM_END));
  Value start1 = kw_value(FS_START1), end1 = kw_value(FS_END1);
  Value start2 = kw_value(FS_START2), end2 = kw_value(FS_END2);
  kw_clear();
  Kind ka = seq_arg(arg(1)), kb = seq_arg(arg(2));
  Range ra = take_range(start1, end1, seq_length(arg(1), ka));
  Range rb = take_range(start2, end2, seq_length(arg(2), kb));
  Walker wa, wb;
  walker_open(&wa, arg(1), ka, ra.s, ra.e, from_end);
  walker_open(&wb, arg(2), kb, rb.s, rb.e, from_end);
  Value x = NIL, y = NIL;
  root_push(&x);
  root_push(&y);
  uint32_t i = 0, j = 0, same = 0;
  Value result = NIL;
  for (;;) {
    if (!walker_next(&wa, &x, &i) || !walker_next(&wb, &y, &j)) break;
    x = tk_key(tk, x);
    y = tk_key(tk, y);
    if (!tk_match(tk, x, y)) {
      result = make_fixnum(int32_t(from_end ? i + 1 : i));
      break;
    }
    same++;
  }
  root_pop(2);
  walker_close();
  walker_close();
  if (!nil_p(result) || (same == ra.e - ra.s && same == rb.e - rb.s)) return result;
  return make_fixnum(int32_t(from_end ? ra.e - same : ra.s + same));
}
