// Integers of any size: their representation and the limb layer.
//
// An integer is a fixnum (24 bits, immediate) or a boxed integer: a byte
// object of heap type 3 under tag 0x4C whose data are n 64-bit limbs of
// two's complement, least significant first.  n is always the least that
// holds the value, so a boxed integer of one limb is the 64-bit integer
// (never in fixnum range) and one of two or more limbs, a bignum, is
// always beyond 64 bits.  Every integer thus has exactly one
// representation, and EQL of two integers compares their limbs.
//
// Heap objects are only 2-byte aligned and move at every allocation, so
// the routines here never compute on limbs in the heap.  They copy their
// arguments into the calling thread's scratch limbs, let GMP's mpn
// functions work there, and allocate the result last, copying the limbs
// in.  So no pointer into the heap, and no buffer GMP works on, is held
// across an allocation, and the arguments need no roots.  Each routine
// takes its scratch once, at the start; none calls another that takes it.
//
// The callers handle the fixnum cases first; these routines accept any
// integer Value (fixnum, 64-bit or bignum) on either side.
#pragma once

#include <cstdint>
#include <cstring>

#include "object/value.h"

using Limb = uint64_t;

// A shift or power whose result needs more bits than this is refused
// before any work is done.
constexpr uint64_t INT_MAX_BITS = 8388608;
// The length field of a byte object holds at most 0xFFFFFF bytes.
constexpr uint32_t INT_MAX_LIMBS = 0xFFFFFF / 8;

// Error codes of the integer routines: a float overflow (sub-code 3 of
// the floating-point error) and a shift or power beyond INT_MAX_BITS.
constexpr uint32_t ERR_FLOAT_EXCEPTION = 0x104E;  // 4174 with a fixnum sub-code
constexpr int32_t FLOAT_OVERFLOW = 3;
constexpr uint32_t ERR_INT_TOO_LARGE = 0x1056;    // 4182: the count or power

// ---------------------------------------------------------------------------
// Representation

inline bool int_p(Value v) { return tag_of(v) == TAG_FIXNUM || tag_of(v) == TAG_INT64; }
// Limbs of an integer: 1 for a fixnum.
inline uint32_t int_size(Value v) { return is_fixnum(v) ? 1 : heap_length(v) >> 3; }
inline bool is_bignum(Value v) { return tag_of(v) == TAG_INT64 && heap_length(v) > 8; }
// Limb i of the two's complement form, sign-extended past the top.
inline Limb int_limb(Value v, uint32_t i) {
  if (is_fixnum(v)) return i == 0 ? Limb(int64_t(fixnum_value(v))) : fixnum_value(v) < 0 ? ~Limb(0) : 0;
  uint32_t n = heap_length(v) >> 3;
  Limb x;
  std::memcpy(&x, heap_data(v) + 8 * (i < n ? i : n - 1), 8);
  if (i < n) return x;
  return int64_t(x) < 0 ? ~Limb(0) : 0;
}
inline bool int_minusp(Value v) {
  if (is_fixnum(v)) return fixnum_value(v) < 0;
  return int64_t(int_limb(v, int_size(v) - 1)) < 0;
}
// The value as an int64 when it fits (fixnums and 64-bit integers).
inline bool int_get_int64(Value v, int64_t* out) {
  if (is_fixnum(v)) {
    *out = fixnum_value(v);
    return true;
  }
  if (heap_length(v) != 8) return false;
  *out = int64_t(int_limb(v, 0));
  return true;
}

// The normalising constructors.  From n limbs of two's complement, and
// from a magnitude of n limbs with a sign; both accept high limbs that
// turn out redundant (zeros, sign extension) and both allocate at most
// once.  A result too long for any object is error 36, as when the heap
// cannot hold it.
Value int_from_twos(const Limb* p, uint32_t n);
Value int_from_magnitude(const Limb* p, uint32_t n, bool negative);
// A magnitude and sign left in the scratch limbs by a routine below.
struct IntNative {
  const Limb* p;
  uint32_t n;
  bool negative;
};
inline Value int_from_native(const IntNative& x) { return int_from_magnitude(x.p, x.n, x.negative); }

// ---------------------------------------------------------------------------
// Arithmetic and comparison

Value int_add(Value a, Value b);
Value int_sub(Value a, Value b);
Value int_mul(Value a, Value b);
Value int_negate(Value a);
Value int_abs(Value a);
// -1, 0 or 1; no allocation.
int int_compare(Value a, Value b);
// The same integer (equal limbs); no allocation.
bool int_same(Value a, Value b);

// Division of a by b (b not zero) rounded by `rounding`: 0 toward zero,
// 1 toward minus infinity, 2 toward plus infinity, 3 to the nearest (ties
// to even).  Quotient and remainder are left in the scratch limbs, valid
// until the next routine here runs: allocating them with int_from_native
// does not disturb them.
void int_divide(Value a, Value b, int rounding, IntNative* q, IntNative* r);

// ---------------------------------------------------------------------------
// Bits

// A two-argument logical operation given by its truth table: bit k of
// `table` is the result for the bit pair (a, b) = (k >> 1, k & 1).  So
// and is 8, inclusive or 14, exclusive or 6, equivalence 9.
Value int_logical(Value a, Value b, uint32_t table);
Value int_lognot(Value a);
// Shift left by count (right when negative).  The caller has checked that
// a left shift stays within INT_MAX_BITS.
Value int_shift(Value a, int64_t count);
bool int_logbitp(Value a, uint64_t index);
uint64_t int_logcount(Value a);
// Bits needed without the sign bit (INTEGER-LENGTH).
uint64_t int_length(Value a);

// ---------------------------------------------------------------------------
// Roots, powers, random numbers

// The greatest r with r * r <= a, for a >= 0.
Value int_isqrt(Value a);
// base to the power e >= 1; the caller has checked the size of the result.
Value int_power(Value base, uint64_t e);
// A number from 0 to |limit| - 1 built from enough draws of `draw` (each
// giving 15 random bits) to cover the limit's bits and 64 more.
Value int_random_below(Value limit, uint32_t (*draw)());

// ---------------------------------------------------------------------------
// Doubles

// The nearest double (ties to even).  Beyond the double range the result is
// an infinity and *overflow is set.
double int_to_double(Value a, bool* overflow);
// a / b as the nearest double that the operands' leading 64 bits give,
// without converting either operand alone (they may be beyond the double
// range when their quotient is not); b is not zero.
double int_ratio_double(Value a, Value b, bool* overflow);
// |a| as lead x 2^*exponent, lead the double of its leading 64 bits (for
// logarithms of integers beyond the double range); a is not zero.
double int_leading_double(Value a, int64_t* exponent);
// The integer of a finite double that has no fractional part.
Value int_from_double(double d);
// Exact comparison of an integer with a double: -1, 0, 1, or 2 when the
// double is a NaN.
int int_compare_double(Value a, double d);

// ---------------------------------------------------------------------------
// Text and hashing

// The digits of |a| in radix 2..36 (small letters above 9), in the
// thread's scratch characters: valid until the next call.  Sets *len.
const char* int_digits(Value a, uint32_t radix, uint32_t* len);
// The integer of n digit weights (each below radix, most significant
// first, n >= 1) with a sign.
Value int_from_digits(const uint8_t* weights, uint32_t n, uint32_t radix, bool negative);
// The sum of the integer's 32-bit words: for a 64-bit integer, its two
// words, so that both representations hash alike wherever they meet.
uint32_t int_hash(Value a);

// ---------------------------------------------------------------------------
// Complex numbers with integer parts
//
// Parts that both fit 64 bits are two int64 (16 data bytes, as always).
// Otherwise the data are one limb holding nr, the real part's limb count,
// then the real part's nr limbs and the imaginary part's limbs, each in the
// form of a boxed integer: 24 data bytes or more, so the layouts never
// meet.

// The normalising constructor: a zero imaginary part gives the real part.
Value int_make_complex(Value re, Value im);
// A part as an integer Value (allocates).
Value int_complex_part(Value c, int imag);
// The lowest limb of a part (no allocation).
Limb int_complex_low_limb(Value c, int imag);
inline bool int_complex_is_wide(Value c) { return heap_length(c) > 16; }
// The digits of a part's magnitude, as int_digits, and its sign.
const char* int_complex_part_digits(Value c, int imag, uint32_t radix, uint32_t* len,
                                    bool* negative);

// Scratch storage of the calling thread, for the numeric built-ins that
// combine the routines above with their own native work.
Limb* int_scratch(uint64_t limbs);
