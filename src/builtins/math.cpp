// Mathematical functions, complex numbers and the random generator.
//
// The mathematical functions take their argument as a double and answer
// what the runtime library answers: a NaN for sqrt of a negative number,
// minus infinity for log of 0, never an error.
#include <atomic>
#include <cmath>
#include <ctime>

#include "builtins/numbers.h"
#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/bignum.h"
#include "object/memory.h"

namespace {

void check_surplus(uint32_t max) {
  if (arg_count() > max) lisp_cerror(MSG_CONT_IGNORE_ARG, E_MANY_ARGS, arg(max + 1));
}

}  // namespace

// ---------------------------------------------------------------------------
// Complex numbers

Value bi_complex(Value, Value) {
  check_surplus(2);
  Value re = arg(1);
  Value im = arg_count() >= 2 ? arg(2) : make_fixnum(0);
  if (!num_is_real(re)) return wrong_type(re);
  if (!num_is_real(im)) return wrong_type(im);
  if (num_is_integer(re) && num_is_integer(im)) return int_make_complex(re, im);
  double x = num_double(re), y = num_double(im);  // neither allocates
  return mem_make_complex_double(x, y);
}

Value bi_complexp(Value a, Value) { return bool_value(num_is_complex(a)); }
Value bi_double_complexp(Value a, Value) { return bool_value(num_is_double_complex(a)); }

namespace {

Value complex_part(Value a, int imag) {
  if (!num_is_complex(a)) return wrong_type(a);
  if (heap_type(a) == HT_DOUBLE) return mem_make_double(complex_double_part(a, imag));
  return int_complex_part(a, imag);
}

}  // namespace

Value bi_realpart(Value a, Value) { return complex_part(a, 0); }
Value bi_imagpart(Value a, Value) { return complex_part(a, 1); }

Value bi_phase(Value a, Value) {
  if (!num_is_complex(a)) return wrong_type(a);
  double re, im;
  num_parts_double(a, &re, &im);
  return mem_make_double(std::atan2(im, re));
}

Value bi_conjugate(Value a, Value) {
  if (!num_is_number(a)) return wrong_type(a);
  if (!num_is_complex(a)) return a;
  if (heap_type(a) == HT_DOUBLE)
    return mem_make_complex_double(complex_double_part(a, 0), -complex_double_part(a, 1));
  root_push(&a);
  Value im = int_complex_part(a, 1);
  im = int_negate(im);
  root_push(&im);
  Value re = int_complex_part(a, 0);
  root_pop(2);
  return int_make_complex(re, im);
}

namespace {

// ---------------------------------------------------------------------------
// Functions of a real argument taken as a double

Value real_function(Value a, double (*f)(double)) {
  if (!num_is_real(a)) return wrong_type(a);
  return mem_make_double(f(num_double(a)));
}

double lib_acos(double x) { return std::acos(x); }
double lib_asin(double x) { return std::asin(x); }
double lib_cos(double x) { return std::cos(x); }
double lib_cosh(double x) { return std::cosh(x); }
double lib_exp(double x) { return std::exp(x); }
double lib_sin(double x) { return std::sin(x); }
double lib_sinh(double x) { return std::sinh(x); }
double lib_sqrt(double x) { return std::sqrt(x); }
double lib_tan(double x) { return std::tan(x); }
double lib_tanh(double x) { return std::tanh(x); }

}  // namespace

Value bi_acos(Value a, Value) { return real_function(a, lib_acos); }
Value bi_asin(Value a, Value) { return real_function(a, lib_asin); }
Value bi_cos(Value a, Value) { return real_function(a, lib_cos); }
Value bi_cosh(Value a, Value) { return real_function(a, lib_cosh); }
Value bi_exp(Value a, Value) { return real_function(a, lib_exp); }
Value bi_sin(Value a, Value) { return real_function(a, lib_sin); }
Value bi_sinh(Value a, Value) { return real_function(a, lib_sinh); }
Value bi_sqrt(Value a, Value) { return real_function(a, lib_sqrt); }
Value bi_tan(Value a, Value) { return real_function(a, lib_tan); }
Value bi_tanh(Value a, Value) { return real_function(a, lib_tanh); }

// (ATAN y [x]): with x, atan2(y, x).
Value bi_atan(Value, Value) {
  check_surplus(2);
  Value y = arg(1);
  if (!num_is_real(y)) return wrong_type(y);
  if (arg_count() < 2) return mem_make_double(std::atan(num_double(y)));
  Value x = arg(2);
  if (!num_is_real(x)) return wrong_type(x);
  return mem_make_double(std::atan2(num_double(y), num_double(x)));
}

// The natural logarithm of a real; a bignum beyond the double range has
// one all the same, from its leading bits and its length.
double real_log(Value x) {
  if (!is_bignum(x)) return std::log(num_double(x));
  bool overflow;
  double d = int_to_double(x, &overflow);
  if (!overflow) return std::log(d);
  if (int_minusp(x)) return std::nan("");
  int64_t e;
  double lead = int_leading_double(x, &e);
  return std::log(lead) + double(e) * std::log(2.0);
}

// (LOG x [base]): with a base, log(x) / log(base).
Value bi_log(Value, Value) {
  check_surplus(2);
  Value x = arg(1);
  if (!num_is_real(x)) return wrong_type(x);
  if (arg_count() < 2) return mem_make_double(real_log(x));
  Value base = arg(2);
  if (!num_is_real(base)) return wrong_type(base);
  return mem_make_double(real_log(x) / real_log(base));
}

Value bi_expt_float(Value a, Value b) {
  if (!num_is_real(a)) return wrong_type(a);
  if (!num_is_real(b)) return wrong_type(b);
  return mem_make_double(std::pow(num_double(a), num_double(b)));
}

// Below 2^63 the square root of the double is only a first guess: above
// 2^52 the conversion rounds, and the truncated root can be one too large.
// The guess is corrected so the result is the greatest r with r * r <= n.
// Larger integers take GMP's exact root.
Value bi_isqrt(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  if (int_minusp(a)) return wrong_type(a);
  if (is_bignum(a)) return int_isqrt(a);
  uint64_t u = static_cast<uint64_t>(num_int64(a));
  uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(u)));
  while (r * r > u) r--;
  while ((r + 1) * (r + 1) <= u) r++;
  return mem_make_integer(static_cast<int64_t>(r));
}

namespace {

// ---------------------------------------------------------------------------
// The random generator.  The state is shared by all threads; each step is
// one compare-and-swap, so two threads drawing at once take two successive
// states, never the same one twice.

std::atomic<uint32_t> random_state{1};

}  // namespace

Value bi_random(Value limit, Value) {
  switch (tag_of(limit)) {
    case TAG_FIXNUM: {
      int32_t m = fixnum_value(limit);
      if (m == 0) return wrong_type(limit);
      return make_fixnum(static_cast<int32_t>(num_random_draw()) % m);
    }
    case TAG_INT64:  // never 0 or -1 after normalisation, so % is safe
      // A limit beyond 64 bits gets a number spread over its whole range.
      if (is_bignum(limit)) return int_random_below(limit, num_random_draw);
      return mem_make_integer(static_cast<int64_t>(num_random_draw()) % int64_value(limit));
    case TAG_DOUBLE:
      return mem_make_double(
          std::fmod(static_cast<double>(num_random_draw()), double_value(limit)));
    default:
      return wrong_type(limit);
  }
}

// ([seed]): NIL or nothing gives 1, T the time, an integer its low 32 bits,
// a double its truncation.  A double no int64 can hold is refused rather
// than converted.
Value bi_seed_random(Value, Value) {
  check_surplus(1);
  Value s = arg_count() >= 1 ? arg(1) : NIL;
  uint32_t seed;
  if (s == NIL) {
    seed = 1;
  } else if (s == T) {
    seed = static_cast<uint32_t>(std::time(nullptr));
  } else if (num_is_integer(s)) {
    seed = static_cast<uint32_t>(int_limb(s, 0));
  } else if (num_is_double(s) && num_double_fits_int64(double_value(s))) {
    seed = static_cast<uint32_t>(static_cast<int64_t>(double_value(s)));
  } else {
    return wrong_type(s);
  }
  num_random_seed(seed);
  return make_fixnum(static_cast<int32_t>(seed & 0xFFFFFF));
}

uint32_t num_random_draw() {
  uint32_t old = random_state.load(std::memory_order_relaxed), s;
  do s = old * 214013u + 2531011u;
  while (!random_state.compare_exchange_weak(old, s, std::memory_order_relaxed));
  return (s >> 16) & 0x7FFF;
}

void num_random_seed(uint32_t seed) { random_state.store(seed, std::memory_order_relaxed); }
uint32_t num_random_state() { return random_state.load(std::memory_order_relaxed); }
