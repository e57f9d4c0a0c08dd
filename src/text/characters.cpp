// Character built-ins (161-190).
//
// Characters compare as whole Values (font, then bits, then code).  Case
// comes from the attribute table; characters of special keys never change
// case and are neither letters nor digits, whatever their low byte.
#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/chartab.h"
#include "object/memory.h"
#include "text/reader.h"
#include "text/strings.h"

namespace {

constexpr uint32_t ERR_NOT_A_CHARACTER = 0x2453;  // 9299: object, type symbol
constexpr Value TYPE_CHARACTER = 0x0100006C;

bool special_key(Value c) { return c & CHAR_SPECIAL_KEY; }

// Special keys are no letters, whatever their low byte.
bool letter(Value c) { return !special_key(c) && char_is_letter(char_code(c)); }

Value upcase(Value c) {
  if (special_key(c)) return c;
  return (c & ~0xFFu) | char_upcase(static_cast<uint8_t>(char_code(c)));
}
Value downcase(Value c) {
  if (special_key(c)) return c;
  return (c & ~0xFFu) | char_downcase(static_cast<uint8_t>(char_code(c)));
}

// A fixnum argument that must not be negative.
bool natural(Value x) { return is_fixnum(x) && fixnum_value(x) >= 0; }

// Every stack argument must be a character.
void check_all_chars() {
  for (uint32_t k = 1, n = arg_count(); k <= n; k++)
    if (!is_char(arg(k))) wrong_type(arg(k));
}

}  // namespace

// 161: a character from a character, a one-character string or a symbol
// whose name has one character.
Value bi_character(Value x, Value) {
  for (;;) {
    if (is_char(x)) return x;
    Value s = str_designated(x);
    if (!is_no_value(s) && string_length(s) == 1) return make_char(string_bytes(s)[0]);
    x = lisp_error(ERR_NOT_A_CHARACTER, x, TYPE_CHARACTER);
  }
}

Value bi_characterp(Value x, Value) { return bool_value(is_char(x)); }

// 163
Value bi_char_equal(Value, Value) {
  check_all_chars();
  Value first = upcase(arg(1));
  for (uint32_t k = 2, n = arg_count(); k <= n; k++)
    if (upcase(arg(k)) != first) return NIL;
  return T;
}

// 164: the name as a fresh string, so that changing it cannot rename the
// symbol that holds it.
Value bi_char_name(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  if (c & 0xFFFE00u) return NIL;  // modifiers or a font
  char name[32];
  uint32_t n = char_name_copy(c, name, sizeof name);
  return n ? str_from_bytes(reinterpret_cast<const uint8_t*>(name), n) : NIL;
}

// 165: (char &optional bits font)
Value bi_make_char(Value c, Value) {
  check_max_args(3);
  uint32_t n = arg_count();
  Value bits = n >= 2 ? arg(2) : make_fixnum(0);
  Value font = n >= 3 ? arg(3) : make_fixnum(0);
  if (!is_char(c)) return wrong_type(c);
  if (!is_fixnum(bits)) return wrong_type(bits);
  if (!is_fixnum(font)) return wrong_type(font);
  uint32_t b = uint32_t(fixnum_value(bits)) & CHAR_MODIFIER_MASK;
  uint32_t f = uint32_t(fixnum_value(font)) & 0xFF;
  return make_char((c & 0x1FF) | (b << CHAR_MODIFIER_SHIFT) | (f << 16));
}

// 166: the character a name denotes, or NIL.
Value bi_name_char(Value x, Value) {
  if (is_char(x)) return wrong_type(x);
  Value s = str_designated(x);
  if (is_no_value(s)) return wrong_type(x);
  Value c = char_from_name(string_bytes(s), string_length(s));
  return is_no_value(c) ? NIL : c;
}

Value bi_string_char_type_p(Value x, Value) { return bool_value(is_string_char(x)); }

Value bi_string_char_p(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return bool_value(is_string_char(c));
}

Value bi_graphic_char_p(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return bool_value(char_bits(c) == 0 && char_code(c) >= 32);
}

Value bi_alpha_char_p(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return bool_value(letter(c));
}

Value bi_upper_case_p(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return bool_value(!special_key(c) && char_is_upper(char_code(c)));
}

Value bi_lower_case_p(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return bool_value(!special_key(c) && char_is_lower(char_code(c)));
}

// 174: (char &optional radix); answers T, not the digit's weight.
Value bi_digit_char_p(Value c, Value) {
  check_max_args(2);
  Value radix = arg_count() >= 2 ? arg(2) : make_fixnum(10);
  if (!is_char(c)) return wrong_type(c);
  if (!is_fixnum(radix) || fixnum_value(radix) < 2 || fixnum_value(radix) > 36)
    return wrong_type(radix);
  if (special_key(c)) return NIL;
  int w = char_digit_weight(static_cast<uint8_t>(char_code(c)));
  return bool_value(w >= 0 && w < fixnum_value(radix));
}

Value bi_alphanumericp(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  uint32_t code = char_code(c);
  return bool_value(letter(c) || (!special_key(c) && code >= '0' && code <= '9'));
}

// 176-181: comparisons of whole Values; only the low 24 bits differ.
enum class Order { EQ, NE, LT, GT, LE, GE };

static bool ordered(Value a, Value b, Order o) {
  switch (o) {
    case Order::EQ:
      return a == b;
    case Order::NE:
      return a != b;
    case Order::LT:
      return a < b;
    case Order::GT:
      return a > b;
    case Order::LE:
      return a <= b;
    case Order::GE:
      return a >= b;
  }
  return false;
}

static Value compare_chars(Order o) {
  check_all_chars();
  uint32_t n = arg_count();
  if (o == Order::NE) {  // every pair, not just neighbours
    for (uint32_t i = 1; i <= n; i++)
      for (uint32_t j = i + 1; j <= n; j++)
        if (arg(i) == arg(j)) return NIL;
    return T;
  }
  for (uint32_t k = 1; k < n; k++)
    if (!ordered(arg(k), arg(k + 1), o)) return NIL;
  return T;
}

Value bi_char_eq(Value, Value) { return compare_chars(Order::EQ); }
Value bi_char_ne(Value, Value) { return compare_chars(Order::NE); }
Value bi_char_lt(Value, Value) { return compare_chars(Order::LT); }
Value bi_char_gt(Value, Value) { return compare_chars(Order::GT); }
Value bi_char_le(Value, Value) { return compare_chars(Order::LE); }
Value bi_char_ge(Value, Value) { return compare_chars(Order::GE); }

Value bi_char_code(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return make_fixnum(int32_t(char_code(c)));
}

Value bi_char_bits(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return make_fixnum(int32_t(char_bits(c)));
}

Value bi_char_font(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return make_fixnum(int32_t(char_font(c)));
}

// 185: (code &optional bits font).  The code keeps its low 12 bits (the
// byte, the special-key bit and modifiers); bit 12 and up are the reader's
// own markers and no character made here may carry them.
Value bi_code_char(Value code, Value) {
  check_max_args(3);
  uint32_t n = arg_count();
  Value bits = n >= 2 ? arg(2) : make_fixnum(0);
  Value font = n >= 3 ? arg(3) : make_fixnum(0);
  if (!is_fixnum(code)) return wrong_type(code);
  if (!is_fixnum(bits)) return wrong_type(bits);
  if (!is_fixnum(font)) return wrong_type(font);
  uint32_t c = uint32_t(fixnum_value(code)) & 0xFFF;
  uint32_t b = uint32_t(fixnum_value(bits)) & CHAR_MODIFIER_MASK;
  uint32_t f = uint32_t(fixnum_value(font)) & 0xFF;
  return make_char(c | (b << CHAR_MODIFIER_SHIFT) | (f << 16));
}

Value bi_char_upcase(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return upcase(c);
}

Value bi_char_downcase(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return downcase(c);
}

// 188: (weight &optional radix font)
Value bi_digit_char(Value weight, Value) {
  check_max_args(3);
  uint32_t n = arg_count();
  Value radix = n >= 2 ? arg(2) : make_fixnum(10);
  Value font = n >= 3 ? arg(3) : make_fixnum(0);
  if (!natural(weight)) return wrong_type(weight);
  if (!natural(radix)) return wrong_type(radix);
  if (!natural(font) || fixnum_value(font) > 0xFF) return wrong_type(font);
  int32_t w = fixnum_value(weight), r = fixnum_value(radix);
  if (w >= r || r > 36) return NIL;
  uint32_t code = w < 10 ? '0' + w : 'A' + (w - 10);
  return make_char(code | uint32_t(fixnum_value(font)) << 16);
}

// 189: the low 24 bits; a font of 0x80 or more makes it a boxed integer.
Value bi_char_int(Value c, Value) {
  if (!is_char(c)) return wrong_type(c);
  return mem_make_integer(c & 0xFFFFFF);
}

// 190: the inverse of 189.  It takes back the boxed integers 189 makes,
// and gives NIL for the reader's marker bits as for any other top byte.
Value bi_int_char(Value x, Value) {
  int64_t n;
  if (is_fixnum(x))
    n = fixnum_value(x);
  else if (tag_of(x) == TAG_INT64)
    n = int64_value(x);
  else
    return wrong_type(x);
  if (n < 0 || n > 0xFFFFFF || (n & 0xF000)) return NIL;
  return make_char(uint32_t(n));
}
