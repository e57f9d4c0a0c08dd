// Numbers: fixnums, integers of 64 bits and beyond, doubles and complex
// numbers.
//
// The numeric core other modules may call (sequences, hash tables, the
// printer and reader, equality): category tests, conversions, 64-bit
// helpers and the two-argument arithmetic.  Integers are exact at any
// size: the arithmetic works in 64 bits while it can and goes on through
// the integer routines of object/bignum.h when it cannot.  Results are
// made with the normalising constructors, so an integer that fits 24 bits
// is a fixnum and one that fits 64 bits a 64-bit integer.  The numeric
// built-ins themselves are reached only through the built-in table.
#pragma once

#include <cstdint>

#include "object/value.h"

// ---------------------------------------------------------------------------
// Categories.  Exact tag sets: a range of tags would let the 0x0F markers
// (and anything later given a tag in between) pass as numbers.

inline bool num_is_integer(Value v) {
  uint32_t t = tag_of(v);
  return t == TAG_FIXNUM || t == TAG_INT64;
}
inline bool num_is_real(Value v) { return num_is_integer(v) || tag_of(v) == TAG_DOUBLE; }
inline bool num_is_number(Value v) { return num_is_real(v) || tag_of(v) == TAG_COMPLEX; }
inline bool num_is_double(Value v) { return tag_of(v) == TAG_DOUBLE; }
inline bool num_is_complex(Value v) { return tag_of(v) == TAG_COMPLEX; }
inline bool num_is_double_complex(Value v) {
  return tag_of(v) == TAG_COMPLEX && heap_type(v) == HT_DOUBLE;
}

// ---------------------------------------------------------------------------
// Conversions (the caller has checked the category)

// An integer that fits 64 bits (a bignum gives the nearest 64-bit value).
inline int64_t num_int64(Value v) { return is_fixnum(v) ? fixnum_value(v) : int64_value(v); }
// A real as a double, the nearest one for an integer; an integer beyond the
// double range is the float overflow error.
double num_double(Value v);
// The parts of any number as doubles (a real's imaginary part is 0.0),
// with the overflow error as num_double.
void num_parts_double(Value x, double* re, double* im);

// Parts of a complex number: 64-bit integers for heap type 3 (when both fit
// 64 bits; object/bignum.h has the wider form), doubles for heap type 2.
inline int64_t complex_int_part(Value c, int imag) {
  int64_t x;
  std::memcpy(&x, heap_data(c) + 8 * imag, 8);
  return x;
}
inline double complex_double_part(Value c, int imag) {
  double x;
  std::memcpy(&x, heap_data(c) + 8 * imag, 8);
  return x;
}

// A double that an int64 can hold after truncation: not a NaN, not an
// infinity, within -2^63 .. 2^63 (exclusive).  Every conversion of a
// user-supplied double to an integer must pass this first.
inline bool num_double_fits_int64(double d) {
  return d >= -9223372036854775808.0 && d < 9223372036854775808.0;
}

// ---------------------------------------------------------------------------
// Arithmetic with contagion.  A non-number argument is error 5170 with it;
// the value the user may return from that error is the result.  `num_div`
// signals 5170 with an integer zero divisor and gives a double when an
// integer quotient is not exact.

Value num_add(Value a, Value b);
Value num_sub(Value a, Value b);
Value num_mul(Value a, Value b);
Value num_div(Value a, Value b);
Value num_negate(Value a);

// Comparison of two reals: -1, 0 or 1, and NUM_UNORDERED when a NaN takes
// part.  Integers compare exactly; a fixnum or 64-bit integer against a
// double as doubles, a bignum against a double exactly.  No allocation.
// The caller has checked that both are reals.
constexpr int NUM_UNORDERED = 2;
int num_compare(Value a, Value b);
// Numeric equality of two numbers as `=` sees it: part by part, an integer
// against a double by value.  The caller has checked both; the arguments
// need not be rooted, but a complex with parts beyond 64 bits against a
// double complex allocates.
bool num_equal(Value a, Value b);

// ---------------------------------------------------------------------------
// The random generator: one process-wide 32-bit state,
// state := state * 214013 + 2531011, a draw being bits 16..30 of the new
// state.  It starts at 1.

uint32_t num_random_draw();
void num_random_seed(uint32_t seed);
uint32_t num_random_state();
