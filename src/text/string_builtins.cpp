// String built-ins (292-314).
//
// Arguments may be string designators (a symbol stands for its name, a
// plain character for a one-character string).  Ranges follow the
// sequence functions: start 0..length, end NIL or start..length.
#include <cstring>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/arrays.h"
#include "object/chartab.h"
#include "object/memory.h"
#include "text/strings.h"

namespace {

constexpr uint32_t ERR_TOO_LONG = 0x144B;  // 5195: size of a string

struct Range {
  uint32_t start, end;
};

Range take_range(Value start, Value end, uint32_t len) {
  Range r;
  check_bounds(start, end, len, &r.start, &r.end);
  return r;
}

// The string a designator argument stands for; anything else is 5170.
Value string_arg(Value x) {
  Value s;
  while (is_no_value(s = str_designated(x))) x = wrong_type(x);
  return s;
}

}  // namespace

// 292: (size &key initial-element).  Without an initial element the string
// is filled with spaces.
Value bi_make_string(Value size, Value) {
  static const uint8_t keys[] = {FS_INITIAL_ELEMENT, FS_ELEMENT_TYPE, 0};
  kw_parse(1, 1, 0, keys);
  Value fill = kw_value(FS_INITIAL_ELEMENT, make_char(' '));
  kw_clear();
  if (!is_fixnum(size) || fixnum_value(size) < 0) return wrong_type(size);
  if (uint32_t(fixnum_value(size)) >= STR_MAX_LENGTH) return lisp_error(ERR_TOO_LONG, size);
  if (!is_string_char(fill)) return wrong_type(fill);
  uint32_t n = uint32_t(fixnum_value(size));
  Value s = str_make(n);
  std::memset(string_bytes(s), int(char_code(fill)), n);
  return s;
}

// 293-295: a copy of the designated string with a range converted.
using CaseFn = void (*)(uint8_t*, uint32_t);

static Value convert_case_copy(Value x, CaseFn convert) {
  kw_parse(1, FS_START, FS_END);
  Value start = kw_value(FS_START), end = kw_value(FS_END);
  kw_clear();
  Value s = string_arg(x);
  Range r = take_range(start, end, string_length(s));
  Value copy = str_substring(s, 0, string_length(s));
  convert(string_bytes(copy) + r.start, r.end - r.start);
  return copy;
}

Value bi_string_capitalize(Value x, Value) { return convert_case_copy(x, str_capitalize_bytes); }
Value bi_string_downcase(Value x, Value) { return convert_case_copy(x, str_downcase_bytes); }
Value bi_string_upcase(Value x, Value) { return convert_case_copy(x, str_upcase_bytes); }

// 296, 297: element access of a simple string; a bad index is 5170.
static bool valid_index(Value s, Value i) {
  return is_fixnum(i) && fixnum_value(i) >= 0 && uint32_t(fixnum_value(i)) < string_length(s);
}

// A string with a fill pointer, adjustable or displaced: through its
// header, up to its fill pointer.
static bool header_string(Value s) {
  return arr_is_header(s) && arr_rank(s) == 1 && arr_holds_characters(s);
}

static bool valid_header_index(Value s, Value i) {
  return is_fixnum(i) && fixnum_value(i) >= 0 && uint32_t(fixnum_value(i)) < arr_vector_length(s);
}

Value bi_char(Value s, Value i) {
  if (header_string(s)) {
    if (!valid_header_index(s, i)) return wrong_type(i);
    return arr_ref(s, uint32_t(fixnum_value(i)));
  }
  if (!is_string(s)) return wrong_type(s);
  if (!valid_index(s, i)) return wrong_type(i);
  return make_char(string_bytes(s)[fixnum_value(i)]);
}

Value bi_set_char(Value, Value) {
  Value s = arg(1), i = arg(2), c = arg(3);
  if (header_string(s)) {
    if (!valid_header_index(s, i)) return wrong_type(i);
    if (!arr_set(s, uint32_t(fixnum_value(i)), c)) return wrong_type(c);
    return c;
  }
  if (!is_string(s)) return wrong_type(s);
  if (!valid_index(s, i)) return wrong_type(i);
  if (!is_string_char(c)) return wrong_type(c);
  string_bytes(s)[fixnum_value(i)] = static_cast<uint8_t>(char_code(c));
  return c;
}

// 298
Value bi_string(Value x, Value) { return str_coerce(x, make_symbol(FS_STRING)); }

// 299-310: comparisons over two ranges.  The answer is the index in the
// first string where the two first differ (its end when it ran out).
enum class Test { EQ, LT, GT, LE, GE, NE };

static Value compare_strings(Value a, Value b, Test test, bool fold) {
  kw_parse(2, FS_START1, FS_END2);
  Value start1 = kw_value(FS_START1), end1 = kw_value(FS_END1);
  Value start2 = kw_value(FS_START2), end2 = kw_value(FS_END2);
  kw_clear();
  root_push(&a);
  root_push(&b);
  a = string_arg(a);
  b = string_arg(b);
  root_pop(2);
  Range r1 = take_range(start1, end1, string_length(a));
  Range r2 = take_range(start2, end2, string_length(b));
  const uint8_t* p = string_bytes(a);
  const uint8_t* q = string_bytes(b);
  uint32_t i = r1.start, j = r2.start;
  int order = 0;
  for (; i < r1.end && j < r2.end; i++, j++) {
    uint32_t c = p[i], d = q[j];
    if (fold) c = char_upcase(uint8_t(c)), d = char_upcase(uint8_t(d));
    if (c != d) {
      order = c < d ? -1 : 1;
      break;
    }
  }
  if (order == 0 && (i < r1.end || j < r2.end)) order = i < r1.end ? 1 : -1;
  bool yes = false;
  switch (test) {
    case Test::EQ:
      return bool_value(order == 0);
    case Test::LT:
      yes = order < 0;
      break;
    case Test::GT:
      yes = order > 0;
      break;
    case Test::LE:
      yes = order <= 0;
      break;
    case Test::GE:
      yes = order >= 0;
      break;
    case Test::NE:
      yes = order != 0;
      break;
  }
  return yes ? make_fixnum(int32_t(i)) : NIL;
}

Value bi_string_eq(Value a, Value b) { return compare_strings(a, b, Test::EQ, false); }
Value bi_string_lt(Value a, Value b) { return compare_strings(a, b, Test::LT, false); }
Value bi_string_gt(Value a, Value b) { return compare_strings(a, b, Test::GT, false); }
Value bi_string_le(Value a, Value b) { return compare_strings(a, b, Test::LE, false); }
Value bi_string_ge(Value a, Value b) { return compare_strings(a, b, Test::GE, false); }
Value bi_string_ne(Value a, Value b) { return compare_strings(a, b, Test::NE, false); }
Value bi_string_equal(Value a, Value b) { return compare_strings(a, b, Test::EQ, true); }
Value bi_string_lessp(Value a, Value b) { return compare_strings(a, b, Test::LT, true); }
Value bi_string_greaterp(Value a, Value b) { return compare_strings(a, b, Test::GT, true); }
Value bi_string_not_greaterp(Value a, Value b) { return compare_strings(a, b, Test::LE, true); }
Value bi_string_not_lessp(Value a, Value b) { return compare_strings(a, b, Test::GE, true); }
Value bi_string_not_equal(Value a, Value b) { return compare_strings(a, b, Test::NE, true); }

Value bi_stringp(Value x, Value) { return bool_value(is_string(x) || header_string(x)); }
// 506: a string that is no header.
Value bi_simple_string_p(Value x, Value) { return bool_value(is_string(x)); }

// 312-314: trimming.  Flag 2 trims the front, flag 1 the back.  When
// nothing goes, the string itself is the answer.
static Value trim(Value bag, Value x, int flags) {
  root_push(&bag);
  root_push(&x);
  bag = string_arg(bag);
  x = string_arg(x);
  root_pop(2);
  const uint8_t* set = string_bytes(bag);
  uint32_t nset = string_length(bag);
  const uint8_t* p = string_bytes(x);
  uint32_t start = 0, end = string_length(x);
  auto in_bag = [&](uint8_t c) { return std::memchr(set, c, nset) != nullptr; };
  if (flags & 2)
    while (start < end && in_bag(p[start])) start++;
  if (flags & 1)
    while (end > start && in_bag(p[end - 1])) end--;
  if (start == 0 && end == string_length(x)) return x;
  return str_substring(x, start, end);
}

Value bi_string_left_trim(Value bag, Value x) { return trim(bag, x, 2); }
Value bi_string_right_trim(Value bag, Value x) { return trim(bag, x, 1); }
Value bi_string_trim(Value bag, Value x) { return trim(bag, x, 3); }
