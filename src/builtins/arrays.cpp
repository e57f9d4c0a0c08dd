// Array and vector built-ins (273-291, 465, 467, 505).
//
// Subscripts are checked each against its own dimension, the last one
// included, so no index ever reaches another row or a dimension word.
// MAKE-ARRAY checks everything before it allocates: nothing has to be
// taken back when an argument is refused, and no error is signalled and no
// Lisp function called while the global lock is held.
#include "object/arrays.h"

#include <cstring>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/error_hook.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/strings.h"
#include "threads/safepoint.h"

namespace {

constexpr uint32_t E_FEW_SUBSCRIPTS = 0x1433;   // 5171
constexpr uint32_t E_MANY_SUBSCRIPTS = 0x1434;  // 5172
constexpr uint32_t E_TOO_LARGE = 0x144B;        // 5195
constexpr uint32_t E_TOO_LONG = 0x104B;         // 4171

// ---------------------------------------------------------------------------
// Subscripts

enum class Sub { OK, BAD, OUT };

// Check one subscript against its dimension: OUT for an integer outside
// it, BAD for anything that is no integer.
Sub check_subscript(Value s, uint32_t dim, uint32_t* out) {
  if (is_fixnum(value_check(s))) {
    int32_t x = fixnum_value(s);
    if (x < 0 || uint32_t(x) >= dim) return Sub::OUT;
    *out = uint32_t(x);
    return Sub::OK;
  }
  return tag_of(s) == TAG_INT64 ? Sub::OUT : Sub::BAD;
}

// The subscripts are arguments first .. first + n - 1 of the current
// call.  Returns OK with the row-major index, or the verdict on the first
// faulty subscript (*bad).  The count must already match the rank.
Sub row_major(Value a, uint32_t first, uint32_t n, uint32_t* index, Value* bad) {
  uint64_t p = 0;
  for (uint32_t k = 0; k < n; k++) {
    uint32_t s = 0;
    Sub r = check_subscript(arg(first + k), arr_dimension(a, k), &s);
    if (r != Sub::OK) {
      *bad = arg(first + k);
      return r;
    }
    p = p * arr_dimension(a, k) + s;
  }
  // Dimension words from an image are not trusted to multiply up.
  if (p >= arr_total_size(a)) {
    *bad = n ? arg(first + n - 1) : a;
    return Sub::OUT;
  }
  *index = static_cast<uint32_t>(p);
  return Sub::OK;
}

// The number of subscripts against the rank: 5171 or 5172 with the last
// argument of the call.  Returns false after reporting.
bool subscript_count_ok(Value a, uint32_t n) {
  uint32_t r = arr_rank(a);
  if (n == r) return true;
  lisp_error(n < r ? E_FEW_SUBSCRIPTS : E_MANY_SUBSCRIPTS, arg(arg_count()));
  return false;
}

// Element index of AREF and its store: subscripts from argument `first`.
bool subscript_index(Value a, uint32_t first, uint32_t* index) {
  uint32_t n = arg_count() >= first ? arg_count() - first + 1 : 0;
  if (!subscript_count_ok(a, n)) return false;
  Value bad = NIL;
  if (row_major(a, first, n, index, &bad) == Sub::OK) return true;
  wrong_type(bad);
  return false;
}

// ---------------------------------------------------------------------------
// Element access by row-major index

inline bool index_ok(Value a, Value i) {
  return is_fixnum(i) && fixnum_value(i) >= 0 && uint32_t(fixnum_value(i)) < arr_total_size(a);
}

// A string stores plain characters only.
bool store(Value a, uint32_t i, Value x) { return arr_set(a, i, x); }

// ---------------------------------------------------------------------------
// MAKE-ARRAY

struct Shape {
  uint32_t rank;
  uint32_t total;
  uint32_t dims[ARR_MAX_RANK];
};

bool refuse(uint32_t code, Value x) {
  lisp_error(code, x);
  return false;
}

// Dimensions: a fixnum, or a proper list of fixnums.  False after an error.
bool take_dimensions(Value spec, Shape* s) {
  if (is_fixnum(value_check(spec))) {
    if (fixnum_value(spec) < 0) return refuse(E_WRONG_TYPE, spec);
    s->rank = 1;
    s->total = s->dims[0] = uint32_t(fixnum_value(spec));
    if (s->total >= ARR_MAX_TOTAL) return refuse(E_TOO_LARGE, spec);
    return true;
  }
  if (!is_list(spec)) return refuse(E_WRONG_TYPE, spec);
  // The product saturates at 2^32, so it cannot overflow; a zero dimension
  // anywhere makes the total 0.
  uint64_t product = 1;
  bool zero = false;
  uint32_t rank = 0;
  Value x = spec;
  for (; cons_p(x); x = cdr(x), rank++) {
    Value d = car(x);
    if (!is_fixnum(value_check(d)) || fixnum_value(d) < 0) return refuse(E_WRONG_TYPE, d);
    uint32_t n = uint32_t(fixnum_value(d));
    if (n == 0)
      zero = true;
    else if ((product *= n) > (uint64_t(1) << 32))
      product = uint64_t(1) << 32;
    if (rank < ARR_MAX_RANK) s->dims[rank] = n;
  }
  if (!nil_p(x)) return refuse(E_WRONG_TYPE, spec);
  uint64_t total = zero ? 0 : product;
  if (total >= ARR_MAX_TOTAL || rank > ARR_MAX_RANK)
    return refuse(E_TOO_LARGE, mem_make_integer(int64_t(total)));
  s->rank = rank;
  s->total = uint32_t(total);
  return true;
}

// Number of conses of a proper list; -1 for a dotted or circular one.
int64_t proper_length(Value list) {
  Value end;
  int64_t n = list_conses(list, &end);
  return nil_p(end) ? n : -1;
}

// Initial contents of a string of n characters: a string of that length,
// or a simple vector or proper list of that many plain characters.
bool string_contents_ok(Value c, uint32_t n) {
  if (is_string(c)) return string_length(c) == n;
  if (arr_is_vector(c)) {
    if (heap_length(c) != n) return false;
    for (uint32_t i = 0; i < n; i++)
      if (!is_string_char(heap_word(c, i))) return false;
    return true;
  }
  if (!is_list(c) || proper_length(c) != n) return false;
  for (; cons_p(c); c = cdr(c))
    if (!is_string_char(car(c))) return false;
  return true;
}

void copy_string_contents(Value s, Value c) {
  uint8_t* p = string_bytes(s);
  uint32_t n = string_length(s);
  if (is_string(c)) {
    std::memmove(p, string_bytes(c), n);
  } else if (arr_is_vector(c)) {
    for (uint32_t i = 0; i < n; i++) p[i] = static_cast<uint8_t>(char_code(heap_word(c, i)));
  } else {
    for (uint32_t i = 0; cons_p(c); c = cdr(c)) p[i++] = static_cast<uint8_t>(char_code(car(c)));
  }
}

Value make_string_array(uint32_t n, bool has_elem, Value elem, bool has_contents, Value contents) {
  if (has_elem && !is_string_char(elem)) return wrong_type(elem);
  if (has_contents && !string_contents_ok(contents, n)) return wrong_type(contents);
  root_push(&contents);
  Value s = str_make(n);
  root_pop();
  if (has_contents)
    copy_string_contents(s, contents);
  else
    std::memset(string_bytes(s), has_elem ? int(char_code(elem)) : 0, n);
  return s;
}

// Initial contents of a rank-1 general array: a general array of the same
// total size, a string of that length, or a proper list of that many.
bool vector_contents_ok(Value c, uint32_t n) {
  if (arr_is_header(c) && arr_rank(c) == 1) return arr_vector_length(c) == n;
  if (arr_is_array(c)) return arr_total_size(c) == n;
  return is_list(c) && proper_length(c) == n;
}

void copy_vector_contents(Value a, Value c) {
  uint32_t n = arr_total_size(a);
  if (arr_is_array(c)) {
    for (uint32_t i = 0; i < n; i++) heap_set_word(a, i, arr_ref(c, i));
  } else {
    for (uint32_t i = 0; cons_p(c); c = cdr(c)) heap_set_word(a, i++, car(c));
  }
}

bool has_function(uint32_t sym) {
  Value f = sym_function(sym);
  return !nil_p(f) && !is_no_value(f);
}

Value make_general_array(const Shape& s, Value elem, bool has_contents, Value contents) {
  // Rank 0 takes its one element as its contents.
  if (has_contents && s.rank == 1 && !vector_contents_ok(contents, s.total))
    return wrong_type(contents);
  if (has_contents && s.rank > 1 && !has_function(FS_FILL_ARRAY)) return wrong_type(contents);
  root_push(&elem);
  root_push(&contents);
  Value a = mem_alloc_array(s.total, s.rank);
  uint32_t len = heap_length(a);
  for (uint32_t k = 0; k + 1 < s.rank; k++) heap_set_word(a, len - 1 - k, s.dims[k]);
  Value fill = has_contents ? (s.rank == 0 ? contents : NIL) : elem;
  for (uint32_t i = 0; i < s.total; i++) heap_set_word(a, i, fill);
  if (has_contents && s.rank == 1) copy_vector_contents(a, contents);
  if (has_contents && s.rank > 1) {
    root_push(&a);
    call_function3(make_symbol(FS_FILL_ARRAY), make_fixnum(int32_t(s.rank)), contents, a);
    zvts->mv_count = 1;
    root_pop();
  }
  root_pop(2);
  return a;
}

}  // namespace

// ---------------------------------------------------------------------------
// The built-ins

// 273
Value bi_array_element_type(Value a, Value) {
  if (arr_is_general(a)) return T;
  if (is_string(a)) return make_symbol(FS_STRING_CHAR);
  if (arr_is_header(a)) return arr_holds_characters(a) ? make_symbol(FS_STRING_CHAR) : T;
  return wrong_type(a);
}

// 274
Value bi_array_total_size(Value a, Value) {
  if (!arr_is_array(a)) return wrong_type(a);
  return make_fixnum(int32_t(arr_total_size(a)));
}

// 275 (dimensions &key initial-element initial-contents element-type)
Value bi_make_array(Value, Value) {
  kw_parse(1, FS_INITIAL_ELEMENT, FS_ELEMENT_TYPE);
  kw_exclusive(FS_INITIAL_ELEMENT, FS_INITIAL_CONTENTS);
  bool has_elem = kw_given(FS_INITIAL_ELEMENT), has_contents = kw_given(FS_INITIAL_CONTENTS);
  bool has_type = kw_given(FS_ELEMENT_TYPE);
  Value elem = kw_value(FS_INITIAL_ELEMENT), contents = kw_value(FS_INITIAL_CONTENTS);
  Value type = kw_value(FS_ELEMENT_TYPE);
  kw_clear();
  Shape s;
  if (!take_dimensions(arg(1), &s)) return NIL;
  if (has_type && type == make_symbol(FS_STRING_CHAR) && s.rank == 1)
    return make_string_array(s.total, has_elem, elem, has_contents, contents);
  if (has_type && type != T) return wrong_type(type);
  return make_general_array(s, elem, has_contents, contents);
}

// 276 (array index value), 277 (array index): by row-major index.
Value bi_set_row_major_aref(Value, Value) {
  Value a = arg(1), i = arg(2), x = arg(3);
  if (!arr_is_array(a)) return wrong_type(a);
  if (!index_ok(a, i)) return wrong_type(i);
  if (!store(a, uint32_t(fixnum_value(i)), x)) return wrong_type(x);
  return x;
}

Value bi_row_major_aref(Value a, Value i) {
  if (!arr_is_array(a)) return wrong_type(a);
  if (!index_ok(a, i)) return wrong_type(i);
  return arr_ref(a, uint32_t(fixnum_value(i)));
}

// 278 (array value subscripts...)
Value bi_aset(Value a, Value x) {
  if (!arr_is_array(a)) return wrong_type(a);
  uint32_t i = 0;
  if (!subscript_index(a, 3, &i)) return NIL;
  if (!store(a, i, x)) return wrong_type(x);
  return x;
}

// 279 (array subscripts...)
Value bi_aref(Value a, Value) {
  if (!arr_is_array(a)) return wrong_type(a);
  uint32_t i = 0;
  if (!subscript_index(a, 2, &i)) return NIL;
  return arr_ref(a, i);
}

// 280 (elements...)
Value bi_vector(Value, Value) {
  uint32_t n = arg_count();
  Value v = mem_alloc_vector(n);
  for (uint32_t k = 0; k < n; k++) heap_set_word(v, k, arg(k + 1));
  return v;
}

// 281 (value vector)
Value bi_vector_append(Value x, Value vec) {
  if (!arr_is_vector(vec)) return wrong_type(vec);
  return arr_vector_append(vec, x);
}

// 282
Value bi_vectorp(Value x, Value) { return bool_value(arr_is_any_vector(x)); }

// 283 (array index value), 284 (array index): faults are reported by the
// position of the faulty argument.
Value bi_set_svref(Value, Value) {
  Value a = arg(1), i = arg(2), x = arg(3);
  if (!arr_is_array(a)) return wrong_type(make_fixnum(1));
  if (!index_ok(a, i)) return wrong_type(make_fixnum(2));
  if (!store(a, uint32_t(fixnum_value(i)), x)) return wrong_type(make_fixnum(3));
  return x;
}

Value bi_svref(Value a, Value i) {
  if (!arr_is_array(a)) return wrong_type(make_fixnum(1));
  if (!index_ok(a, i)) return wrong_type(make_fixnum(2));
  return arr_ref(a, uint32_t(fixnum_value(i)));
}

// 285 (array subscripts...)
Value bi_array_row_major_index(Value a, Value) {
  if (!arr_is_array(a)) return wrong_type(a);
  uint32_t i = 0;
  if (!subscript_index(a, 2, &i)) return NIL;
  return make_fixnum(int32_t(i));
}

// 286 (array subscripts...): NIL for integers outside their dimensions.
Value bi_array_in_bounds_p(Value a, Value) {
  if (!arr_is_array(a)) return wrong_type(a);
  uint32_t n = arg_count() - 1, i = 0;
  if (!subscript_count_ok(a, n)) return NIL;
  Value bad = NIL;
  Sub r = row_major(a, 2, n, &i, &bad);
  if (r == Sub::BAD) return wrong_type(bad);
  return bool_value(r == Sub::OK);
}

// 287
Value bi_array_dimensions(Value a, Value) {
  if (!arr_is_array(a)) return wrong_type(a);
  root_push(&a);
  Value list = NIL;
  root_push(&list);
  for (uint32_t k = arr_rank(a); k > 0;) {
    --k;
    list = cons(make_fixnum(int32_t(arr_dimension(a, k))), list);
  }
  root_pop(2);
  return list;
}

// 288 (array axis)
Value bi_array_dimension(Value a, Value axis) {
  if (!arr_is_array(a)) return wrong_type(a);
  if (!is_fixnum(axis) || fixnum_value(axis) < 0 || uint32_t(fixnum_value(axis)) >= arr_rank(a))
    return wrong_type(axis);
  return make_fixnum(int32_t(arr_dimension(a, uint32_t(fixnum_value(axis)))));
}

// 289
Value bi_array_rank(Value a, Value) {
  if (!arr_is_array(a)) return wrong_type(a);
  return make_fixnum(int32_t(arr_rank(a)));
}

// 290, 291: every tag-0x50 object counts as an array, none is adjustable.
Value bi_arrayp(Value x, Value) {
  return bool_value(tag_of(value_check(x)) == TAG_VECTOR || arr_is_header(x));
}

// 505 %SIMPLE-ARRAY-P: an array that is no header.
Value bi_simple_array_p(Value x, Value) {
  return bool_value(tag_of(value_check(x)) == TAG_VECTOR);
}

// Every header is adjustable (ADJUST-ARRAY changes it in place); the
// simple arrays are not.
Value bi_adjustable_array_p(Value x, Value) {
  if (arr_is_header(x)) return T;
  if (tag_of(value_check(x)) != TAG_VECTOR) return wrong_type(x);
  return NIL;
}

// ---------------------------------------------------------------------------
// Array headers (object/arrays.h): arrays with a fill pointer, adjustable
// and displaced arrays.

// The parts of a header, checked against each other before anything is
// stored: the dimensions fit in the data array after the offset, the fill
// pointer (rank 1 only) within the first dimension.
struct HeaderParts {
  Value data, fill;
  uint32_t offset, flags, rank;
  uint32_t dims[ARR_MAX_RANK];
};

bool take_header_parts(Value data, Value dims, Value fill, Value offset, Value flags,
                       HeaderParts* p) {
  if (!arr_is_array(data)) return refuse(E_WRONG_TYPE, data);
  Shape s;
  if (!take_dimensions(dims, &s)) return false;
  if (!is_fixnum(offset) || fixnum_value(offset) < 0) return refuse(E_WRONG_TYPE, offset);
  if (!is_fixnum(flags)) return refuse(E_WRONG_TYPE, flags);
  uint64_t end = uint64_t(s.total) + uint32_t(fixnum_value(offset));
  if (end > arr_total_size(data)) return refuse(E_WRONG_TYPE, dims);
  if (!nil_p(fill) &&
      (s.rank != 1 || !is_fixnum(fill) || fixnum_value(fill) < 0 || uint32_t(fixnum_value(fill)) > s.total))
    return refuse(E_WRONG_TYPE, fill);
  p->data = data;
  p->fill = fill;
  p->offset = uint32_t(fixnum_value(offset));
  p->flags = uint32_t(fixnum_value(flags));
  p->rank = s.rank;
  for (uint32_t k = 0; k < s.rank; k++) p->dims[k] = s.dims[k];
  return true;
}

// Whether storing data into header h would make it part of its own chain.
bool makes_loop(Value h, Value data) {
  for (uint32_t depth = 0; depth < 64 && arr_is_header(data); depth++) {
    if (data == h) return true;
    data = heap_word(data, AH_DATA);
  }
  return data == h;
}

// 465 %MAKE-ARRAY-HEADER (data dimensions fill-pointer offset flags)
Value bi_make_array_header(Value, Value) {
  HeaderParts p;
  if (!take_header_parts(arg(1), arg(2), arg(3), arg(4), arg(5), &p)) return NIL;
  return arr_make_header(p.data, p.rank, p.dims, p.fill, p.offset, p.flags);
}

// 467 VECTOR-PUSH-EXTEND (new-element vector &optional extension): the
// element goes in at the fill pointer, which advances; a full vector gets
// new storage of its own, at least twice as long.  Returns the index.
Value bi_vector_push_extend(Value x, Value v) {
  check_max_args(3);
  while (!arr_is_header(v) || arr_rank(v) != 1 || arr_fill_pointer(v) < 0) v = wrong_type(v);
  uint32_t extension = 0;
  if (arg_count() >= 3) {
    Value e = arg(3);
    while (!is_fixnum(e) || fixnum_value(e) < 1) e = wrong_type(e);
    extension = uint32_t(fixnum_value(e));
  }
  uint32_t fill = uint32_t(arr_fill_pointer(v)), size = arr_dimension(v, 0);
  if (fill >= size) {
    uint64_t grown = uint64_t(size) + (extension > size ? extension : size);
    if (grown < 16) grown = 16;
    if (grown >= ARR_MAX_TOTAL) grown = ARR_MAX_TOTAL - 1;
    if (grown <= size) return lisp_error(E_TOO_LARGE, make_fixnum(int32_t(size)));
    root_push(&x);
    root_push(&v);
    bool chars = arr_holds_characters(v);
    Value data = chars ? mem_alloc_string(uint32_t(grown)) : mem_alloc_vector(uint32_t(grown));
    for (uint32_t i = 0; i < grown; i++) {
      Value e = i < size ? arr_ref(v, i) : (chars ? make_char(' ') : NIL);
      if (chars)
        string_bytes(data)[i] = static_cast<uint8_t>(e & 0xFF);
      else
        heap_set_word(data, i, e);
    }
    heap_set_word(v, AH_DATA, data);
    heap_set_word(v, AH_OFFSET, make_fixnum(0));
    heap_set_word(v, AH_FLAGS, make_fixnum(fixnum_value(heap_word(v, AH_FLAGS)) & ~int32_t(ARR_DISPLACED)));
    heap_set_word(v, ARR_HEADER_WORDS, make_fixnum(int32_t(grown)));
    root_pop(2);
  }
  if (!arr_set(v, fill, x)) return wrong_type(x);
  heap_set_word(v, AH_FILL, make_fixnum(int32_t(fill + 1)));
  return make_fixnum(int32_t(fill));
}


// The header fields of %OBJECT-PART (builtins/object_parts.cpp): 1 the
// data array, 2 the fill pointer, 3 the offset, 4 the flags, 5 the list of
// dimensions.  Only the fill pointer is set alone; field 6 sets them all
// from a list (data dimensions fill-pointer offset flags), the rank kept.
Value array_header_part(Value h, uint32_t field, bool set, Value value) {
  if (!set) {
    if (field >= AH_DATA && field <= AH_FLAGS) return heap_word(h, field);
    if (field == 5) {
      root_push(&h);
      Value list = NIL;
      root_push(&list);
      for (uint32_t k = arr_rank(h); k > 0;) {
        --k;
        list = cons(heap_word(h, ARR_HEADER_WORDS + k), list);
      }
      root_pop(2);
      return list;
    }
    return wrong_type(make_fixnum(int32_t(field)));
  }
  if (field == AH_FILL) {
    int32_t old = arr_fill_pointer(h);
    if (old < 0 || !is_fixnum(value) || fixnum_value(value) < 0 ||
        uint32_t(fixnum_value(value)) > arr_dimension(h, 0))
      return wrong_type(value);
    heap_set_word(h, AH_FILL, value);
    return value;
  }
  if (field != 6) return wrong_type(make_fixnum(int32_t(field)));
  Value parts[5];
  Value l = value;
  for (Value& part : parts) {
    if (!cons_p(l)) return wrong_type(value);
    part = car(l);
    l = cdr(l);
  }
  HeaderParts p;
  if (!take_header_parts(parts[0], parts[1], parts[2], parts[3], parts[4], &p)) return NIL;
  if (p.rank != arr_rank(h)) return wrong_type(parts[1]);
  if (makes_loop(h, p.data)) return wrong_type(p.data);
  heap_set_word(h, AH_DATA, p.data);
  heap_set_word(h, AH_FILL, p.fill);
  heap_set_word(h, AH_OFFSET, make_fixnum(int32_t(p.offset)));
  heap_set_word(h, AH_FLAGS, make_fixnum(int32_t(p.flags)));
  for (uint32_t k = 0; k < p.rank; k++)
    heap_set_word(h, ARR_HEADER_WORDS + k, make_fixnum(int32_t(p.dims[k])));
  return h;
}

// The argument k of the current built-in, an array header replaced in its
// stack slot by a simple copy of its active elements.
Value arr_simplify_arg(uint32_t k) {
  ThreadState* ts = zvts;
  Value v = ts->stack[ts->zvform - k].arg;
  if (!arr_is_header(v)) return v;
  v = arr_active_copy(v);
  ts->stack[ts->zvform - k].arg = v;
  return v;
}
