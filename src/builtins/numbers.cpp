// Numbers and arithmetic: the numeric core, arithmetic with any number of
// arguments, comparison, predicates, FLOAT, the bit operations and the
// four rounding divisions.
//
// Every operation takes its arguments apart into native integers or
// doubles, works there, and allocates only its result: fixnum work
// allocates nothing, and no Value is held across an allocation except the
// arguments, which the Lisp stack roots.
#include "builtins/numbers.h"

#include <bit>
#include <cmath>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace {

constexpr uint32_t ERR_NOT_REAL_FOR_FLOAT = 0x2453;  // 9299: object and type

// A routine that takes at most `max` arguments reports the first surplus
// one as continuable; continuing ignores the rest.  Arguments must be read
// from the frame afterwards, since the break loop may have moved them.
void check_surplus(uint32_t max) {
  if (arg_count() > max) lisp_cerror(MSG_CONT_IGNORE_ARG, E_MANY_ARGS, arg(max + 1));
}

// ---------------------------------------------------------------------------
// Numbers taken apart

// Both parts as integers or both as doubles.  A real has a zero imaginary
// part that multiplication and division leave alone while no complex number
// takes part, so an infinity in the real part never turns it into a NaN.
struct Parts {
  bool dbl;   // parts are doubles
  bool cplx;  // a complex number took part
  int64_t ire, iim;
  double dre, dim;
};

constexpr Parts INT_ZERO = {false, false, 0, 0, 0.0, 0.0};
constexpr Parts INT_ONE = {false, false, 1, 0, 0.0, 0.0};

bool take_apart(Value x, Parts* p) {
  switch (tag_of(x)) {
    case TAG_FIXNUM:
      *p = {false, false, fixnum_value(x), 0, 0.0, 0.0};
      return true;
    case TAG_INT64:
      *p = {false, false, int64_value(x), 0, 0.0, 0.0};
      return true;
    case TAG_DOUBLE:
      *p = {true, false, 0, 0, double_value(x), 0.0};
      return true;
    case TAG_COMPLEX:
      if (heap_type(x) == HT_DOUBLE)
        *p = {true, true, 0, 0, complex_double_part(x, 0), complex_double_part(x, 1)};
      else
        *p = {false, true, complex_int_part(x, 0), complex_int_part(x, 1), 0.0, 0.0};
      return true;
    default:
      return false;
  }
}

void to_double(Parts* p) {
  if (p->dbl) return;
  p->dre = static_cast<double>(p->ire);
  p->dim = static_cast<double>(p->iim);
  p->dbl = true;
}

// Integer results are normalised (a zero imaginary part gives the real
// part); a double result is complex when a complex number took part.
Value make_number(const Parts& p) {
  if (!p.dbl) return mem_make_complex_int(p.ire, p.iim);
  return p.cplx ? mem_make_complex_double(p.dre, p.dim) : mem_make_double(p.dre);
}

enum Op { ADD, SUB, MUL, DIV };

void combine_double(Parts* acc, const Parts& x, Op op) {
  double a = acc->dre, b = acc->dim, c = x.dre, d = x.dim;
  bool both_real = !acc->cplx && !x.cplx;
  acc->cplx = acc->cplx || x.cplx;
  switch (op) {
    case ADD:
      acc->dre = a + c;
      acc->dim = b + d;
      return;
    case SUB:
      acc->dre = a - c;
      acc->dim = b - d;
      return;
    case MUL:
      if (both_real) {
        acc->dre = a * c;
      } else if (!x.cplx) {
        acc->dre = a * c;
        acc->dim = b * c;
      } else {
        acc->dre = a * c - b * d;
        acc->dim = a * d + b * c;
      }
      return;
    case DIV:
      if (both_real) {
        acc->dre = a / c;
      } else if (!x.cplx) {
        acc->dre = a / c;
        acc->dim = b / c;
      } else {
        double den = c * c + d * d;
        acc->dre = (a * c + b * d) / den;
        acc->dim = (b * c - a * d) / den;
      }
      return;
  }
}

inline bool fits_int32(int64_t x) { return x >= INT32_MIN && x <= INT32_MAX; }

// Integer division step: exact 64-bit division when it divides, else the
// rest of the computation goes on in doubles.  The divisor is never the
// integer zero (callers signal that first).
void divide_int(Parts* acc, const Parts& x) {
  int64_t a = acc->ire, b = acc->iim, c = x.ire, d = x.iim;
  if (!x.cplx) {
    if (c == -1) {  // the one division that traps on the most negative value
      acc->ire = num_neg64(a);
      acc->iim = num_neg64(b);
      return;
    }
    if (a % c == 0 && b % c == 0) {
      acc->ire = a / c;
      acc->iim = b / c;
      return;
    }
  } else if (fits_int32(a) && fits_int32(b) && fits_int32(c) && fits_int32(d)) {
    // Gaussian division, exact when c^2 + d^2 divides both numerators; with
    // 32-bit parts nothing here can overflow.
    int64_t den = c * c + d * d;
    int64_t re = a * c + b * d, im = b * c - a * d;
    if (re % den == 0 && im % den == 0) {
      acc->ire = re / den;
      acc->iim = im / den;
      acc->cplx = true;
      return;
    }
  }
  Parts y = x;
  to_double(acc);
  to_double(&y);
  combine_double(acc, y, DIV);
}

void combine_int(Parts* acc, const Parts& x, Op op) {
  int64_t a = acc->ire, b = acc->iim, c = x.ire, d = x.iim;
  switch (op) {
    case ADD:
      acc->ire = num_add64(a, c);
      acc->iim = num_add64(b, d);
      break;
    case SUB:
      acc->ire = num_sub64(a, c);
      acc->iim = num_sub64(b, d);
      break;
    case MUL:
      acc->ire = num_sub64(num_mul64(a, c), num_mul64(b, d));
      acc->iim = num_add64(num_mul64(a, d), num_mul64(b, c));
      break;
    case DIV:
      divide_int(acc, x);
      return;
  }
  acc->cplx = acc->cplx || x.cplx;
}

// One step of contagion: a double on either side turns both into doubles.
void combine(Parts* acc, Parts x, Op op) {
  if (acc->dbl || x.dbl) {
    to_double(acc);
    to_double(&x);
    combine_double(acc, x, op);
  } else {
    combine_int(acc, x, op);
  }
}

inline bool is_int_zero(Value x) { return x == make_fixnum(0); }

// Folds the arguments from `from` on into acc, left to right.
Value fold_args(Parts acc, Op op, uint32_t from) {
  uint32_t n = arg_count();
  for (uint32_t k = from; k <= n; k++) {
    Value x = arg(k);
    Parts p;
    if (!take_apart(x, &p)) return wrong_type(x);
    // An integer zero divisor is an error even once the running quotient
    // is a double.
    if (op == DIV && is_int_zero(x)) return wrong_type(x);
    combine(&acc, p, op);
  }
  return make_number(acc);
}

Value binary(Value a, Value b, Op op) {
  Parts p, q;
  if (!take_apart(a, &p)) return wrong_type(a);
  if (!take_apart(b, &q)) return wrong_type(b);
  if (op == DIV && is_int_zero(b)) return wrong_type(b);
  combine(&p, q, op);
  return make_number(p);
}

Value reciprocal(Value x) {
  if (num_is_integer(x)) {
    int64_t n = num_int64(x);
    if (n == 0) return wrong_type(x);
    if (n == 1 || n == -1) return x;
    return mem_make_double(1.0 / static_cast<double>(n));
  }
  Parts p;
  if (!take_apart(x, &p)) return wrong_type(x);
  Parts acc = INT_ONE;
  combine(&acc, p, DIV);
  return make_number(acc);
}

}  // namespace

// ---------------------------------------------------------------------------
// Arithmetic built-ins

Value bi_plus(Value, Value) { return fold_args(INT_ZERO, ADD, 1); }
Value bi_times(Value, Value) { return fold_args(INT_ONE, MUL, 1); }

Value bi_minus(Value, Value) {
  Value first = arg(1);
  if (arg_count() == 1) return num_negate(first);
  Parts acc;
  if (!take_apart(first, &acc)) return wrong_type(first);
  return fold_args(acc, SUB, 2);
}

Value bi_divide(Value, Value) {
  Value first = arg(1);
  if (arg_count() == 1) return reciprocal(first);
  Parts acc;
  if (!take_apart(first, &acc)) return wrong_type(first);
  return fold_args(acc, DIV, 2);
}

namespace {

// 1+ and 1-: a complex number changes its real part only.
Value add_small(Value a, int64_t d) {
  switch (tag_of(a)) {
    case TAG_FIXNUM:
      return mem_make_integer(fixnum_value(a) + d);
    case TAG_INT64:
      return mem_make_integer(num_add64(int64_value(a), d));
    case TAG_DOUBLE:
      return mem_make_double(double_value(a) + static_cast<double>(d));
    case TAG_COMPLEX:
      if (heap_type(a) == HT_DOUBLE)
        return mem_make_complex_double(complex_double_part(a, 0) + static_cast<double>(d),
                                       complex_double_part(a, 1));
      return mem_make_complex_int(num_add64(complex_int_part(a, 0), d), complex_int_part(a, 1));
    default:
      return wrong_type(a);
  }
}

}  // namespace

Value bi_one_plus(Value a, Value) { return add_small(a, 1); }
Value bi_one_minus(Value a, Value) { return add_small(a, -1); }

// ABS of the most negative 64-bit integer wraps to itself.  The magnitude
// of a complex number uses hypot, so large parts do not overflow to an
// infinity when the magnitude itself is finite.
Value bi_abs(Value a, Value) {
  switch (tag_of(a)) {
    case TAG_FIXNUM: {
      int32_t n = fixnum_value(a);
      return n >= 0 ? a : mem_make_integer(-static_cast<int64_t>(n));
    }
    case TAG_INT64: {
      int64_t n = int64_value(a);
      return n >= 0 ? a : mem_make_integer(num_neg64(n));
    }
    case TAG_DOUBLE: {
      double d = double_value(a);
      return std::signbit(d) ? mem_make_double(std::fabs(d)) : a;
    }
    case TAG_COMPLEX: {
      Parts p;
      take_apart(a, &p);
      to_double(&p);
      return mem_make_double(std::hypot(p.dre, p.dim));
    }
    default:
      return wrong_type(a);
  }
}

Value bi_rem(Value a, Value b) {
  if (!num_is_real(a)) return wrong_type(a);
  if (!num_is_real(b)) return wrong_type(b);
  if (num_is_integer(a) && num_is_integer(b)) {
    int64_t x = num_int64(a), y = num_int64(b);
    if (y == 0) return wrong_type(b);
    if (y == -1) return make_fixnum(0);  // x % -1 traps on the most negative x
    return mem_make_integer(x % y);
  }
  return mem_make_double(std::fmod(num_double(a), num_double(b)));
}

namespace {

// ---------------------------------------------------------------------------
// Comparison

enum Order { LESS, LESS_EQ, GREATER, GREATER_EQ };

bool order_holds(int c, Order how) {
  if (c == NUM_UNORDERED) return false;
  switch (how) {
    case LESS:
      return c < 0;
    case LESS_EQ:
      return c <= 0;
    case GREATER:
      return c > 0;
    default:
      return c >= 0;
  }
}

// The first failing pair ends the walk; later arguments are not examined.
Value compare_chain(Order how) {
  uint32_t n = arg_count();
  Value prev = arg(1);
  if (!num_is_real(prev)) return wrong_type(prev);
  for (uint32_t k = 2; k <= n; k++) {
    Value x = arg(k);
    if (!num_is_real(x)) return wrong_type(x);
    if (!order_holds(num_compare(prev, x), how)) return NIL;
    prev = x;
  }
  return T;
}

}  // namespace

Value bi_less(Value, Value) { return compare_chain(LESS); }
Value bi_less_eq(Value, Value) { return compare_chain(LESS_EQ); }
Value bi_greater(Value, Value) { return compare_chain(GREATER); }
Value bi_greater_eq(Value, Value) { return compare_chain(GREATER_EQ); }

Value bi_num_eq(Value, Value) {
  uint32_t n = arg_count();
  Value first = arg(1);
  if (!num_is_number(first)) return wrong_type(first);
  for (uint32_t k = 2; k <= n; k++) {
    Value x = arg(k);
    if (!num_is_number(x)) return wrong_type(x);
    if (!num_equal(first, x)) return NIL;
  }
  return T;
}

// Every pair is compared.
Value bi_num_ne(Value, Value) {
  uint32_t n = arg_count();
  for (uint32_t i = 1; i <= n; i++) {
    Value a = arg(i);
    if (!num_is_number(a)) return wrong_type(a);
    for (uint32_t j = i + 1; j <= n; j++) {
      Value b = arg(j);
      if (!num_is_number(b)) return wrong_type(b);
      if (num_equal(a, b)) return NIL;
    }
  }
  return T;
}

namespace {

// MAX and MIN keep the winning argument itself; once a double has taken
// part the result is a double.
Value extreme(int wanted) {
  uint32_t n = arg_count();
  Value best = arg(1);
  if (!num_is_real(best)) return wrong_type(best);
  bool any_double = num_is_double(best);
  for (uint32_t k = 2; k <= n; k++) {
    Value x = arg(k);
    if (!num_is_real(x)) return wrong_type(x);
    any_double = any_double || num_is_double(x);
    if (num_compare(x, best) == wanted) best = x;
  }
  if (any_double && !num_is_double(best)) return mem_make_double(num_double(best));
  return best;
}

}  // namespace

Value bi_max(Value, Value) { return extreme(1); }
Value bi_min(Value, Value) { return extreme(-1); }

// ---------------------------------------------------------------------------
// Predicates

Value bi_numberp(Value a, Value) { return bool_value(num_is_number(a)); }
Value bi_integerp(Value a, Value) { return bool_value(num_is_integer(a)); }
Value bi_floatp(Value a, Value) { return bool_value(num_is_double(a)); }

// A boxed integer is never zero (normalisation), nor is an integer complex.
Value bi_zerop(Value a, Value) {
  switch (tag_of(a)) {
    case TAG_FIXNUM:
      return bool_value(fixnum_value(a) == 0);
    case TAG_INT64:
      return NIL;
    case TAG_DOUBLE:
      return bool_value(double_value(a) == 0.0);
    case TAG_COMPLEX:
      return bool_value(heap_type(a) == HT_DOUBLE && complex_double_part(a, 0) == 0.0 &&
                        complex_double_part(a, 1) == 0.0);
    default:
      return wrong_type(a);
  }
}

namespace {

Value sign_test(Value a, int wanted) {
  if (!num_is_real(a)) return wrong_type(a);
  if (num_is_integer(a)) {
    int64_t n = num_int64(a);
    return bool_value(wanted > 0 ? n > 0 : n < 0);
  }
  double d = double_value(a);  // a NaN is neither
  return bool_value(wanted > 0 ? d > 0.0 : d < 0.0);
}

}  // namespace

Value bi_plusp(Value a, Value) { return sign_test(a, 1); }
Value bi_minusp(Value a, Value) { return sign_test(a, -1); }

Value bi_evenp(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  return bool_value((num_int64(a) & 1) == 0);
}
Value bi_oddp(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  return bool_value((num_int64(a) & 1) != 0);
}

Value bi_float(Value a, Value) {
  if (num_is_double(a)) return a;
  if (num_is_integer(a)) return mem_make_double(static_cast<double>(num_int64(a)));
  return lisp_error(ERR_NOT_REAL_FOR_FLOAT, a, make_symbol(FS_FLOAT));
}

namespace {

// ---------------------------------------------------------------------------
// Bit operations

enum LogOp { IOR, XOR, AND, EQV };

// The operations with any number of arguments work on the full 64-bit
// values, as the two-argument ones do.  (Folding only the low 32 bits of
// each argument gave wrong answers for every integer beyond 32 bits; for
// arguments within 32 bits the results are the same either way.)
Value log_fold(LogOp op) {
  uint64_t acc = (op == AND || op == EQV) ? ~uint64_t(0) : 0;
  uint32_t n = arg_count();
  for (uint32_t k = 1; k <= n; k++) {
    Value x = arg(k);
    if (!num_is_integer(x)) return wrong_type(x);
    uint64_t w = static_cast<uint64_t>(num_int64(x));
    switch (op) {
      case IOR:
        acc |= w;
        break;
      case XOR:
        acc ^= w;
        break;
      case AND:
        acc &= w;
        break;
      case EQV:
        acc = ~(acc ^ w);
        break;
    }
  }
  return mem_make_integer(num_wrap(acc));
}

}  // namespace

Value bi_logior(Value, Value) { return log_fold(IOR); }
Value bi_logxor(Value, Value) { return log_fold(XOR); }
Value bi_logand(Value, Value) { return log_fold(AND); }
Value bi_logeqv(Value, Value) { return log_fold(EQV); }

namespace {

// The two-argument operations work on the full 64 bits.
enum Log2 { NAND, NOR, ANDC1, ANDC2, ORC1, ORC2, SUBSET };

Value logical2(Value a, Value b, Log2 op) {
  if (!num_is_integer(a)) return wrong_type(a);
  if (!num_is_integer(b)) return wrong_type(b);
  uint64_t x = static_cast<uint64_t>(num_int64(a)), y = static_cast<uint64_t>(num_int64(b));
  uint64_t r = 0;
  switch (op) {
    case NAND:
      r = ~(x & y);
      break;
    case NOR:
      r = ~(x | y);
      break;
    case ANDC1:
      r = ~x & y;
      break;
    case ANDC2:
      r = x & ~y;
      break;
    case ORC1:
      r = ~x | y;
      break;
    case ORC2:
      r = x | ~y;
      break;
    case SUBSET:
      return bool_value((x & y) == x);
  }
  return mem_make_integer(num_wrap(r));
}

}  // namespace

Value bi_lognand(Value a, Value b) { return logical2(a, b, NAND); }
Value bi_lognor(Value a, Value b) { return logical2(a, b, NOR); }
Value bi_logandc1(Value a, Value b) { return logical2(a, b, ANDC1); }
Value bi_logandc2(Value a, Value b) { return logical2(a, b, ANDC2); }
Value bi_logorc1(Value a, Value b) { return logical2(a, b, ORC1); }
Value bi_logorc2(Value a, Value b) { return logical2(a, b, ORC2); }
Value bi_logsubsetp(Value a, Value b) { return logical2(a, b, SUBSET); }

Value bi_lognot(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  return mem_make_integer(~num_int64(a));
}

// A count of 64 or more shifts every bit out; so does a right shift of 64
// or more, leaving the sign.
Value bi_ash(Value a, Value b) {
  if (!num_is_integer(a)) return wrong_type(a);
  if (!num_is_integer(b)) return wrong_type(b);
  int64_t x = num_int64(a), count = num_int64(b);
  if (count >= 64) return make_fixnum(0);
  if (count <= -64) return make_fixnum(x < 0 ? -1 : 0);
  if (count >= 0) return mem_make_integer(num_wrap(static_cast<uint64_t>(x) << count));
  return mem_make_integer(x >> -count);
}

// Bit 63 and every index above it read the sign.
Value bi_logbitp(Value index, Value integer) {
  if (!is_fixnum(index) || fixnum_value(index) < 0) return wrong_type(index);
  if (!num_is_integer(integer)) return wrong_type(integer);
  int bit = fixnum_value(index) > 63 ? 63 : fixnum_value(index);
  return bool_value((static_cast<uint64_t>(num_int64(integer)) >> bit) & 1);
}

namespace {

// Counts the bits that differ from the sign.
inline uint64_t magnitude_bits(int64_t x) {
  uint64_t u = static_cast<uint64_t>(x);
  return x < 0 ? ~u : u;
}

}  // namespace

Value bi_logcount(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  return make_fixnum(std::popcount(magnitude_bits(num_int64(a))));
}

Value bi_integer_length(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  return make_fixnum(64 - std::countl_zero(magnitude_bits(num_int64(a))));
}

namespace {

// ---------------------------------------------------------------------------
// Rounding divisions: TRUNCATE, FLOOR, CEILING, ROUND, with two values

enum Rounding { TRUNC = 0, FLOOR = 1, CEIL = 2, ROUND = 3 };

// Two values: the first just below the multiple-value base, the second
// below it; the first is also returned.  They are written below septr,
// where nothing lives while the caller collects them.
Value two_values(Value first, Value second) {
  ThreadState* ts = zvts;
  if (ts->septr < 3) return lisp_error(E_STACK);
  ts->stack[ts->septr - 1] = StackEntry{first, ST_ANON, 0};
  ts->stack[ts->septr - 2] = StackEntry{second, ST_ANON, 0};
  ts->mv_base = ts->septr;
  ts->mv_count = 2;
  return first;
}

// The quotient is boxed first and kept rooted while the remainder is.
Value integer_values(int64_t q, int64_t r) {
  Value qv = mem_make_integer(q);
  root_push(&qv);
  Value rv = mem_make_integer(r);
  root_pop(1);
  return two_values(qv, rv);
}

Value double_values(int64_t q, double r) {
  Value qv = mem_make_integer(q);
  root_push(&qv);
  Value rv = mem_make_double(r);
  root_pop(1);
  return two_values(qv, rv);
}

// Exact 64-bit division corrected by the rounding rule.  The fractional
// part of the true quotient is r / y; it is negative when r and y differ
// in sign.
Value divide_integers(int64_t x, int64_t y, Rounding how) {
  int64_t q, r;
  if (y == -1) {
    q = num_neg64(x);
    r = 0;
  } else {
    q = x / y;
    r = x % y;
  }
  if (r != 0) {
    bool negative = (r < 0) != (y < 0);
    bool away = false;
    if (how == FLOOR) away = negative;
    if (how == CEIL) away = !negative;
    if (how == ROUND) {
      // Compare |r| with |y| - |r| in unsigned words: 2|r| may not fit.
      uint64_t ar = r < 0 ? 0 - static_cast<uint64_t>(r) : static_cast<uint64_t>(r);
      uint64_t ay = y < 0 ? 0 - static_cast<uint64_t>(y) : static_cast<uint64_t>(y);
      away = ar > ay - ar || (ar == ay - ar && (q & 1));
    }
    if (away && negative) {
      q = num_sub64(q, 1);
      r = num_add64(r, y);
    } else if (away) {
      q = num_add64(q, 1);
      r = num_sub64(r, y);
    }
  }
  return integer_values(q, r);
}

// With a double on either side the quotient is taken in double precision,
// truncated and corrected.  A quotient no int64 can hold (a NaN, an
// infinity from a zero divisor, 1.0e30) is an error, never a conversion.
Value divide_doubles(Value a, double x, double y, Rounding how) {
  double qd = x / y;
  if (!num_double_fits_int64(qd)) return wrong_type(a);
  double t = std::trunc(qd);
  int64_t q = static_cast<int64_t>(t);
  double frac = qd - t;  // nonzero only when |qd| < 2^52, so q +- 1 fits
  if (how == FLOOR && frac < 0) q -= 1;
  if (how == CEIL && frac > 0) q += 1;
  if (how == ROUND) {
    double f = std::fabs(frac);
    if (f > 0.5 || (f == 0.5 && (q & 1))) q += frac > 0 ? 1 : -1;
  }
  double r = x - static_cast<double>(q) * y;
  return double_values(q, r);
}

Value rounding_division(Rounding how) {
  check_surplus(2);
  Value a = arg(1);
  Value b = arg_count() >= 2 ? arg(2) : make_fixnum(1);
  if (!num_is_real(a)) return wrong_type(a);
  if (!num_is_real(b)) return wrong_type(b);
  if (num_is_integer(a) && num_is_integer(b)) {
    if (is_int_zero(b)) return wrong_type(b);
    return divide_integers(num_int64(a), num_int64(b), how);
  }
  double y = num_double(b);
  if (y == 0.0) return wrong_type(b);
  return divide_doubles(a, num_double(a), y, how);
}

}  // namespace

Value bi_truncate(Value, Value) { return rounding_division(TRUNC); }
Value bi_floor(Value, Value) { return rounding_division(FLOOR); }
Value bi_ceiling(Value, Value) { return rounding_division(CEIL); }
Value bi_round(Value, Value) { return rounding_division(ROUND); }

// ---------------------------------------------------------------------------
// The numeric core

Value num_add(Value a, Value b) {
  if (is_fixnum(a) && is_fixnum(b))
    return mem_make_integer(static_cast<int64_t>(fixnum_value(a)) + fixnum_value(b));
  return binary(a, b, ADD);
}

Value num_sub(Value a, Value b) {
  if (is_fixnum(a) && is_fixnum(b))
    return mem_make_integer(static_cast<int64_t>(fixnum_value(a)) - fixnum_value(b));
  return binary(a, b, SUB);
}

Value num_mul(Value a, Value b) {
  if (is_fixnum(a) && is_fixnum(b))
    return mem_make_integer(static_cast<int64_t>(fixnum_value(a)) * fixnum_value(b));
  return binary(a, b, MUL);
}

Value num_div(Value a, Value b) { return binary(a, b, DIV); }

// Negation keeps the sign of a double zero: (- 0.0) is -0.0.
Value num_negate(Value a) {
  Parts p;
  if (!take_apart(a, &p)) return wrong_type(a);
  if (p.dbl) {
    p.dre = -p.dre;
    p.dim = -p.dim;
  } else {
    p.ire = num_neg64(p.ire);
    p.iim = num_neg64(p.iim);
  }
  return make_number(p);
}

int num_compare(Value a, Value b) {
  if (num_is_integer(a) && num_is_integer(b)) {
    int64_t x = num_int64(a), y = num_int64(b);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  double x = num_double(a), y = num_double(b);
  if (x < y) return -1;
  if (x > y) return 1;
  return x == y ? 0 : NUM_UNORDERED;
}

bool num_equal(Value a, Value b) {
  if (is_fixnum(a) && is_fixnum(b)) return a == b;
  Parts p, q;
  if (!take_apart(a, &p) || !take_apart(b, &q)) return false;
  if (!p.dbl && !q.dbl) return p.ire == q.ire && p.iim == q.iim;
  to_double(&p);
  to_double(&q);
  return p.dre == q.dre && p.dim == q.dim;
}

// ---------------------------------------------------------------------------
// Installation
