// Numbers and arithmetic: the numeric core, arithmetic with any number of
// arguments, comparison, predicates, FLOAT, the bit operations and the
// four rounding divisions.
//
// Every operation first takes its arguments apart into native integers or
// doubles and works there while the values fit 64 bits: fixnum work
// allocates nothing, and no Value is held across an allocation except the
// arguments, which the Lisp stack roots.  When an argument is a bignum or
// a 64-bit result would overflow, the operation goes on exactly on Values
// through the integer routines of object/bignum.h, keeping its running
// result rooted.
#include "builtins/numbers.h"

#include <bit>
#include <cmath>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/bignum.h"
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

// How an argument came apart: into Parts, not at all (no number), or
// wide: a bignum or a complex number with a part beyond 64 bits, which
// only the exact path takes.
enum Taken { TAKEN, NOT_NUMBER, WIDE };

Taken take_apart(Value x, Parts* p) {
  switch (tag_of(x)) {
    case TAG_FIXNUM:
      *p = {false, false, fixnum_value(x), 0, 0.0, 0.0};
      return TAKEN;
    case TAG_INT64:
      if (is_bignum(x)) return WIDE;
      *p = {false, false, int64_value(x), 0, 0.0, 0.0};
      return TAKEN;
    case TAG_DOUBLE:
      *p = {true, false, 0, 0, double_value(x), 0.0};
      return TAKEN;
    case TAG_COMPLEX:
      if (heap_type(x) == HT_DOUBLE)
        *p = {true, true, 0, 0, complex_double_part(x, 0), complex_double_part(x, 1)};
      else if (int_complex_is_wide(x))
        return WIDE;
      else
        *p = {false, true, complex_int_part(x, 0), complex_int_part(x, 1), 0.0, 0.0};
      return TAKEN;
    default:
      return NOT_NUMBER;
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
// integer zero (callers signal that first).  False when only the exact
// path can answer: the quotient of the most negative value by -1, or a
// complex division with parts beyond 32 bits.
bool divide_int(Parts* acc, const Parts& x) {
  int64_t a = acc->ire, b = acc->iim, c = x.ire, d = x.iim;
  if (!x.cplx) {
    if (c == -1) {
      if (a == INT64_MIN || b == INT64_MIN) return false;
      acc->ire = -a;
      acc->iim = -b;
      return true;
    }
    if (a % c == 0 && b % c == 0) {
      acc->ire = a / c;
      acc->iim = b / c;
      return true;
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
      return true;
    }
  } else {
    return false;
  }
  Parts y = x;
  to_double(acc);
  to_double(&y);
  combine_double(acc, y, DIV);
  return true;
}

// 64-bit integer step; false (acc unchanged) when a result would overflow.
bool combine_int(Parts* acc, const Parts& x, Op op) {
  int64_t a = acc->ire, b = acc->iim, c = x.ire, d = x.iim, re, im;
  switch (op) {
    case ADD:
      if (__builtin_add_overflow(a, c, &re) || __builtin_add_overflow(b, d, &im)) return false;
      break;
    case SUB:
      if (__builtin_sub_overflow(a, c, &re) || __builtin_sub_overflow(b, d, &im)) return false;
      break;
    case MUL:
      if (!acc->cplx && !x.cplx) {
        if (__builtin_mul_overflow(a, c, &re)) return false;
        im = 0;
      } else {
        int64_t ac, bd, ad, bc;
        if (__builtin_mul_overflow(a, c, &ac) || __builtin_mul_overflow(b, d, &bd) ||
            __builtin_mul_overflow(a, d, &ad) || __builtin_mul_overflow(b, c, &bc) ||
            __builtin_sub_overflow(ac, bd, &re) || __builtin_add_overflow(ad, bc, &im))
          return false;
      }
      break;
    case DIV:
      return divide_int(acc, x);
  }
  acc->ire = re;
  acc->iim = im;
  acc->cplx = acc->cplx || x.cplx;
  return true;
}

// One step of contagion: a double on either side turns both into doubles.
// False when the integers need the exact path.
bool combine(Parts* acc, Parts x, Op op) {
  if (acc->dbl || x.dbl) {
    to_double(acc);
    to_double(&x);
    combine_double(acc, x, op);
    return true;
  }
  return combine_int(acc, x, op);
}

inline bool is_int_zero(Value x) { return x == make_fixnum(0); }

// ---------------------------------------------------------------------------
// The exact path: integers of any size, on Values

Value float_overflow() { return lisp_error(E_FLOAT, make_fixnum(FLOAT_OVERFLOW)); }

// A real as a double; an integer beyond the double range is the float
// overflow error.
double real_double(Value x) {
  if (num_is_double(x)) return double_value(x);
  bool overflow;
  double d = int_to_double(x, &overflow);
  if (overflow) float_overflow();
  return d;
}

// Any number as double Parts (the doubles of its parts).
void double_parts(Value x, Parts* p) {
  if (take_apart(x, p) == TAKEN) {
    to_double(p);
    return;
  }
  if (tag_of(x) == TAG_INT64) {
    *p = {true, false, 0, 0, real_double(x), 0.0};
    return;
  }
  // A wide integer complex: each part through its integer.
  root_push(&x);
  Value part = int_complex_part(x, 0);
  double re = real_double(part);
  part = int_complex_part(x, 1);
  double im = real_double(part);
  root_pop();
  *p = {true, true, 0, 0, re, im};
}

// a / b for integers, b not zero: the exact quotient when b divides a, else
// the double nearest the true quotient.
Value int_quotient(Value a, Value b) {
  IntNative q, r;
  int_divide(a, b, 0, &q, &r);
  if (r.n == 0) return int_from_native(q);
  bool overflow;
  double d = int_ratio_double(a, b, &overflow);
  if (overflow) return float_overflow();
  return mem_make_double(d);
}

Value int_step(Value a, Value b, Op op) {
  switch (op) {
    case ADD:
      return int_add(a, b);
    case SUB:
      return int_sub(a, b);
    case MUL:
      return int_mul(a, b);
    default:
      return int_quotient(a, b);
  }
}

// A complex step with integer parts of any size.  Eight rooted slots: the
// four parts, then the results and temporaries.
Value complex_int_step(Value a, Value b, Op op) {
  Value v[8] = {NIL, NIL, NIL, NIL, NIL, NIL, NIL, NIL};
  v[4] = a;
  v[5] = b;
  for (auto& x : v) root_push(&x);
  v[0] = num_is_complex(v[4]) ? int_complex_part(v[4], 0) : v[4];
  v[1] = num_is_complex(v[4]) ? int_complex_part(v[4], 1) : make_fixnum(0);
  v[2] = num_is_complex(v[5]) ? int_complex_part(v[5], 0) : v[5];
  v[3] = num_is_complex(v[5]) ? int_complex_part(v[5], 1) : make_fixnum(0);
  Value& ar = v[0];
  Value& ai = v[1];
  Value& br = v[2];
  Value& bi = v[3];
  Value result;
  switch (op) {
    case ADD:
    case SUB:
      v[4] = op == ADD ? int_add(ar, br) : int_sub(ar, br);
      v[5] = op == ADD ? int_add(ai, bi) : int_sub(ai, bi);
      result = int_make_complex(v[4], v[5]);
      break;
    case MUL:
      v[6] = int_mul(ar, br);
      v[7] = int_mul(ai, bi);
      v[4] = int_sub(v[6], v[7]);
      v[6] = int_mul(ar, bi);
      v[7] = int_mul(ai, br);
      v[5] = int_add(v[6], v[7]);
      result = int_make_complex(v[4], v[5]);
      break;
    default: {
      // (ar + ai i) / (br + bi i) = ((ar br + ai bi) + (ai br - ar bi) i) / den
      v[6] = int_mul(br, br);
      v[7] = int_mul(bi, bi);
      v[6] = int_add(v[6], v[7]);  // den
      v[7] = int_mul(ar, br);
      v[4] = int_mul(ai, bi);
      v[4] = int_add(v[7], v[4]);  // real numerator
      v[7] = int_mul(ai, br);
      v[5] = int_mul(ar, bi);
      v[5] = int_sub(v[7], v[5]);  // imaginary numerator
      IntNative q, r;
      int_divide(v[4], v[6], 0, &q, &r);
      bool exact = r.n == 0;
      if (exact) {
        int_divide(v[5], v[6], 0, &q, &r);
        exact = r.n == 0;
      }
      if (exact) {
        int_divide(v[4], v[6], 0, &q, &r);
        v[4] = int_from_native(q);
        int_divide(v[5], v[6], 0, &q, &r);
        v[5] = int_from_native(q);
        result = int_make_complex(v[4], v[5]);
      } else {
        bool o1, o2;
        double re = int_ratio_double(v[4], v[6], &o1);
        double im = int_ratio_double(v[5], v[6], &o2);
        result = o1 || o2 ? float_overflow() : mem_make_complex_double(re, im);
      }
      break;
    }
  }
  root_pop(8);
  return result;
}

// One exact step on two numbers; b is not the integer zero when dividing.
Value exact_step(Value a, Value b, Op op) {
  bool ia = num_is_integer(a), ib = num_is_integer(b);
  if (ia && ib) return int_step(a, b, op);
  bool da = num_is_double(a) || num_is_double_complex(a);
  bool db = num_is_double(b) || num_is_double_complex(b);
  if (!da && !db) return complex_int_step(a, b, op);
  root_push(&b);
  Parts p, q;
  double_parts(a, &p);
  root_pop();
  double_parts(b, &q);
  combine_double(&p, q, op);
  return make_number(p);
}

// Folds the arguments from `from` on into the Value acc, exactly.
Value fold_exact(Value acc, Op op, uint32_t from) {
  uint32_t n = arg_count();
  root_push(&acc);
  for (uint32_t k = from; k <= n; k++) {
    Value x = arg(k);
    if (!num_is_number(x) || (op == DIV && is_int_zero(x))) {
      root_pop();
      return wrong_type(x);
    }
    acc = exact_step(acc, x, op);
  }
  root_pop();
  return acc;
}

// Folds the arguments from `from` on into acc, left to right, in Parts
// while they fit and exactly from the first step that does not.
Value fold_args(Parts acc, Op op, uint32_t from) {
  uint32_t n = arg_count();
  for (uint32_t k = from; k <= n; k++) {
    Value x = arg(k);
    Parts p;
    Taken t = take_apart(x, &p);
    if (t == NOT_NUMBER) return wrong_type(x);
    // An integer zero divisor is an error even once the running quotient
    // is a double.
    if (op == DIV && is_int_zero(x)) return wrong_type(x);
    if (t == WIDE) {
      // Nothing taken yet but the identity: the argument is the sum or
      // product so far, and no copy of it is made.
      bool identity = !acc.dbl && !acc.cplx && acc.iim == 0 &&
                      ((op == ADD && acc.ire == 0) || (op == MUL && acc.ire == 1));
      if (identity && k == from && from == 1) return fold_exact(x, op, k + 1);
      return fold_exact(make_number(acc), op, k);
    }
    if (!combine(&acc, p, op)) return fold_exact(make_number(acc), op, k);
  }
  return make_number(acc);
}

Value binary(Value a, Value b, Op op) {
  Parts p, q;
  Taken ta = take_apart(a, &p);
  if (ta == NOT_NUMBER) return wrong_type(a);
  Taken tb = take_apart(b, &q);
  if (tb == NOT_NUMBER) return wrong_type(b);
  if (op == DIV && is_int_zero(b)) return wrong_type(b);
  if (ta == WIDE || tb == WIDE || !combine(&p, q, op)) return exact_step(a, b, op);
  return make_number(p);
}

Value reciprocal(Value x) {
  if (num_is_integer(x)) {
    if (is_int_zero(x)) return wrong_type(x);
    if (x == make_fixnum(1) || x == make_fixnum(-1)) return x;
    return int_quotient(make_fixnum(1), x);
  }
  return binary(make_fixnum(1), x, DIV);
}

// Two fixnums, the common case, are decided before anything else: their
// sum, difference or product always fits 64 bits.
inline bool two_fixnums(Value* a, Value* b) {
  if (arg_count() != 2) return false;
  *a = arg(1);
  *b = arg(2);
  return is_fixnum(*a) && is_fixnum(*b);
}

// - and / with two or more arguments fold from the first.
Value fold_from_first(Op op) {
  Value first = arg(1);
  Parts acc;
  Taken t = take_apart(first, &acc);
  if (t == NOT_NUMBER) return wrong_type(first);
  if (t == WIDE) return fold_exact(first, op, 2);
  return fold_args(acc, op, 2);
}

}  // namespace

// ---------------------------------------------------------------------------
// Arithmetic built-ins

Value bi_plus(Value, Value) {
  Value a, b;
  if (two_fixnums(&a, &b)) return mem_make_integer(int64_t(fixnum_value(a)) + fixnum_value(b));
  return fold_args(INT_ZERO, ADD, 1);
}

Value bi_times(Value, Value) {
  Value a, b;
  if (two_fixnums(&a, &b)) return mem_make_integer(int64_t(fixnum_value(a)) * fixnum_value(b));
  return fold_args(INT_ONE, MUL, 1);
}

Value bi_minus(Value, Value) {
  Value a, b;
  if (two_fixnums(&a, &b)) return mem_make_integer(int64_t(fixnum_value(a)) - fixnum_value(b));
  if (arg_count() == 1) return num_negate(arg(1));
  return fold_from_first(SUB);
}

Value bi_divide(Value, Value) {
  if (arg_count() == 1) return reciprocal(arg(1));
  return fold_from_first(DIV);
}

namespace {

// 1+ and 1-: a complex number changes its real part only.
Value add_small(Value a, int32_t d) {
  switch (tag_of(a)) {
    case TAG_FIXNUM:
      return mem_make_integer(int64_t(fixnum_value(a)) + d);
    case TAG_DOUBLE:
      return mem_make_double(double_value(a) + static_cast<double>(d));
    case TAG_INT64:
    case TAG_COMPLEX:
      if (heap_type(a) == HT_DOUBLE)
        return mem_make_complex_double(complex_double_part(a, 0) + static_cast<double>(d),
                                       complex_double_part(a, 1));
      return binary(a, make_fixnum(d), ADD);
    default:
      return wrong_type(a);
  }
}

}  // namespace

Value bi_one_plus(Value a, Value) { return add_small(a, 1); }
Value bi_one_minus(Value a, Value) { return add_small(a, -1); }

// The magnitude of a complex number uses hypot, so large parts do not
// overflow to an infinity when the magnitude itself is finite.
Value bi_abs(Value a, Value) {
  switch (tag_of(a)) {
    case TAG_FIXNUM: {
      int32_t n = fixnum_value(a);
      return n >= 0 ? a : mem_make_integer(-static_cast<int64_t>(n));
    }
    case TAG_INT64:
      return int_abs(a);
    case TAG_DOUBLE: {
      double d = double_value(a);
      return std::signbit(d) ? mem_make_double(std::fabs(d)) : a;
    }
    case TAG_COMPLEX: {
      Parts p;
      double_parts(a, &p);
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
    if (is_int_zero(b)) return wrong_type(b);
    if (is_fixnum(a) && is_fixnum(b)) return make_fixnum(fixnum_value(a) % fixnum_value(b));
    IntNative q, r;
    int_divide(a, b, 0, &q, &r);
    return int_from_native(r);
  }
  root_push(&b);
  double x = real_double(a);
  root_pop();
  return mem_make_double(std::fmod(x, real_double(b)));
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
  if (n == 2 && is_fixnum(prev) && is_fixnum(arg(2))) {
    int32_t x = fixnum_value(prev), y = fixnum_value(arg(2));
    return bool_value(order_holds(x < y ? -1 : x > y ? 1 : 0, how));
  }
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
  if (any_double && !num_is_double(best)) return mem_make_double(real_double(best));
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
    if (is_int_zero(a)) return NIL;
    return bool_value(int_minusp(a) == (wanted < 0));
  }
  double d = double_value(a);  // a NaN is neither
  return bool_value(wanted > 0 ? d > 0.0 : d < 0.0);
}

}  // namespace

Value bi_plusp(Value a, Value) { return sign_test(a, 1); }
Value bi_minusp(Value a, Value) { return sign_test(a, -1); }

Value bi_evenp(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  return bool_value((int_limb(a, 0) & 1) == 0);
}
Value bi_oddp(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  return bool_value((int_limb(a, 0) & 1) != 0);
}

Value bi_float(Value a, Value) {
  if (num_is_double(a)) return a;
  if (num_is_integer(a)) return mem_make_double(real_double(a));
  return lisp_error(ERR_NOT_REAL_FOR_FLOAT, a, make_symbol(FS_FLOAT));
}

namespace {

// ---------------------------------------------------------------------------
// Bit operations
//
// Each operation is a truth table over the bit pair (a, b), bit k giving
// the result for a = k >> 1, b = k & 1, so one routine serves them all on
// integers of any size.

enum : uint32_t {
  LOG_AND = 8,
  LOG_IOR = 14,
  LOG_XOR = 6,
  LOG_EQV = 9,
  LOG_NAND = 7,
  LOG_NOR = 1,
  LOG_ANDC1 = 2,
  LOG_ANDC2 = 4,
  LOG_ORC1 = 11,
  LOG_ORC2 = 13,
};

inline uint64_t apply_table(uint64_t x, uint64_t y, uint32_t table) {
  uint64_t t0 = (table & 1) ? ~uint64_t(0) : 0, t1 = (table & 2) ? ~uint64_t(0) : 0;
  uint64_t t2 = (table & 4) ? ~uint64_t(0) : 0, t3 = (table & 8) ? ~uint64_t(0) : 0;
  return (t0 & ~x & ~y) | (t1 & ~x & y) | (t2 & x & ~y) | (t3 & x & y);
}

Value logical(Value a, Value b, uint32_t table) {
  int64_t x, y;
  if (int_get_int64(a, &x) && int_get_int64(b, &y))
    return mem_make_integer(int64_t(apply_table(uint64_t(x), uint64_t(y), table)));
  return int_logical(a, b, table);
}

// The operations with any number of arguments fold over the arguments'
// full values.  (Folding only the low 32 bits of each argument gave wrong
// answers for every integer beyond 32 bits; for arguments within 32 bits
// the results are the same either way.)
Value log_fold(uint32_t table) {
  Value acc = make_fixnum(table == LOG_AND || table == LOG_EQV ? -1 : 0);
  uint32_t n = arg_count();
  root_push(&acc);
  for (uint32_t k = 1; k <= n; k++) {
    Value x = arg(k);
    if (!num_is_integer(x)) {
      root_pop();
      return wrong_type(x);
    }
    acc = logical(acc, x, table);
  }
  root_pop();
  return acc;
}

}  // namespace

Value bi_logior(Value, Value) { return log_fold(LOG_IOR); }
Value bi_logxor(Value, Value) { return log_fold(LOG_XOR); }
Value bi_logand(Value, Value) { return log_fold(LOG_AND); }
Value bi_logeqv(Value, Value) { return log_fold(LOG_EQV); }

namespace {

Value logical2(Value a, Value b, uint32_t table) {
  if (!num_is_integer(a)) return wrong_type(a);
  if (!num_is_integer(b)) return wrong_type(b);
  return logical(a, b, table);
}

}  // namespace

Value bi_lognand(Value a, Value b) { return logical2(a, b, LOG_NAND); }
Value bi_lognor(Value a, Value b) { return logical2(a, b, LOG_NOR); }
Value bi_logandc1(Value a, Value b) { return logical2(a, b, LOG_ANDC1); }
Value bi_logandc2(Value a, Value b) { return logical2(a, b, LOG_ANDC2); }
Value bi_logorc1(Value a, Value b) { return logical2(a, b, LOG_ORC1); }
Value bi_logorc2(Value a, Value b) { return logical2(a, b, LOG_ORC2); }

// Every bit set in a is set in b: a and (not b) is zero.
Value bi_logsubsetp(Value a, Value b) {
  if (!num_is_integer(a)) return wrong_type(a);
  if (!num_is_integer(b)) return wrong_type(b);
  int64_t x, y;
  if (int_get_int64(a, &x) && int_get_int64(b, &y)) return bool_value((x & ~y) == 0);
  return bool_value(int_logical(a, b, LOG_ANDC2) == make_fixnum(0));
}

Value bi_lognot(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  int64_t x;
  if (int_get_int64(a, &x)) return mem_make_integer(~x);
  return int_lognot(a);
}

// A left shift whose result would need more than INT_MAX_BITS bits is
// refused before any work; a right shift past every bit leaves the sign.
Value bi_ash(Value a, Value b) {
  if (!num_is_integer(a)) return wrong_type(a);
  if (!num_is_integer(b)) return wrong_type(b);
  int64_t x, count;
  bool small_count = int_get_int64(b, &count);
  if (int_get_int64(a, &x) && small_count && count < 64 && count > -64) {
    if (count <= 0) return mem_make_integer(x >> -count);
    int64_t shifted = int64_t(uint64_t(x) << count);
    if ((shifted >> count) == x) return mem_make_integer(shifted);
  }
  if (is_int_zero(a)) return a;
  if (!small_count) {
    if (int_minusp(b)) return make_fixnum(int_minusp(a) ? -1 : 0);
    return lisp_error(ERR_INT_TOO_LARGE, b);
  }
  if (count > 0 && uint64_t(count) > INT_MAX_BITS - int_length(a))
    return lisp_error(ERR_INT_TOO_LARGE, b);
  return int_shift(a, count);
}

// Every index past the top reads the sign; the index may be any
// non-negative integer.
Value bi_logbitp(Value index, Value integer) {
  if (!num_is_integer(index) || int_minusp(index)) return wrong_type(index);
  if (!num_is_integer(integer)) return wrong_type(integer);
  int64_t i;
  if (!int_get_int64(index, &i)) return bool_value(int_minusp(integer));
  return bool_value(int_logbitp(integer, uint64_t(i)));
}

// Counts the bits that differ from the sign.
Value bi_logcount(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  return mem_make_integer(int64_t(int_logcount(a)));
}

Value bi_integer_length(Value a, Value) {
  if (!num_is_integer(a)) return wrong_type(a);
  return mem_make_integer(int64_t(int_length(a)));
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

// Exact 64-bit division corrected by the rounding rule.  The fractional
// part of the true quotient is r / y; it is negative when r and y differ
// in sign.  The one quotient beyond 64 bits (the most negative value by
// -1) is the caller's.
Value divide_integers(int64_t x, int64_t y, Rounding how) {
  int64_t q = x / y, r = x % y;
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
    // |q| grows by one and stays within 64 bits: |q| < 2^63 when r != 0.
    if (away && negative) {
      q -= 1;
      r += y;
    } else if (away) {
      q += 1;
      r -= y;
    }
  }
  return integer_values(q, r);
}

Value divide_any_integers(Value a, Value b, Rounding how) {
  IntNative q, r;
  int_divide(a, b, how, &q, &r);
  Value qv = int_from_native(q);
  root_push(&qv);
  Value rv = int_from_native(r);
  root_pop(1);
  return two_values(qv, rv);
}

// With a double on either side the quotient is taken in double precision,
// truncated and corrected.  A quotient of 2^52 or more is integral already
// and becomes the integer of that double, however large; a NaN or an
// infinity (from a zero divisor) is an error.
Value divide_doubles(Value a, double x, double y, Rounding how) {
  double qd = x / y;
  if (!std::isfinite(qd)) return wrong_type(a);
  double t = std::trunc(qd);
  double frac = qd - t;  // nonzero only when |qd| < 2^52
  if (how == FLOOR && frac < 0) t -= 1;
  if (how == CEIL && frac > 0) t += 1;
  if (how == ROUND) {
    double f = std::fabs(frac);
    if (f > 0.5 || (f == 0.5 && std::fmod(t, 2.0) != 0)) t += frac > 0 ? 1 : -1;
  }
  Value qv = int_from_double(t);
  root_push(&qv);
  Value rv = mem_make_double(x - t * y);
  root_pop(1);
  return two_values(qv, rv);
}

Value rounding_division(Rounding how) {
  check_surplus(2);
  Value a = arg(1);
  Value b = arg_count() >= 2 ? arg(2) : make_fixnum(1);
  if (!num_is_real(a)) return wrong_type(a);
  if (!num_is_real(b)) return wrong_type(b);
  if (num_is_integer(a) && num_is_integer(b)) {
    if (is_int_zero(b)) return wrong_type(b);
    int64_t x, y;
    if (int_get_int64(a, &x) && int_get_int64(b, &y) && !(x == INT64_MIN && y == -1))
      return divide_integers(x, y, how);
    return divide_any_integers(a, b, how);
  }
  double x = real_double(a);
  double y = real_double(b);
  if (y == 0.0) return wrong_type(b);
  return divide_doubles(a, x, y, how);
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
  Taken t = take_apart(a, &p);
  if (t == NOT_NUMBER) return wrong_type(a);
  if (t == WIDE) return exact_step(make_fixnum(0), a, SUB);
  if (p.dbl) {
    p.dre = -p.dre;
    p.dim = -p.dim;
  } else if (p.ire == INT64_MIN || p.iim == INT64_MIN) {
    return exact_step(make_fixnum(0), a, SUB);
  } else {
    p.ire = -p.ire;
    p.iim = -p.iim;
  }
  return make_number(p);
}

double num_double(Value v) { return real_double(v); }

void num_parts_double(Value x, double* re, double* im) {
  Parts p;
  double_parts(x, &p);
  *re = p.dre;
  *im = p.dim;
}

// Integers compare exactly.  An integer against a double: a fixnum or
// 64-bit integer is converted to double, as always; a bignum, which may lie
// beyond the double range, is compared exactly.
int num_compare(Value a, Value b) {
  bool ia = num_is_integer(a), ib = num_is_integer(b);
  if (ia && ib) {
    if (is_fixnum(a) && is_fixnum(b)) {
      int32_t x = fixnum_value(a), y = fixnum_value(b);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    return int_compare(a, b);
  }
  if (ia && is_bignum(a)) return int_compare_double(a, double_value(b));
  if (ib && is_bignum(b)) {
    int c = int_compare_double(b, double_value(a));
    return c == NUM_UNORDERED ? c : -c;
  }
  double x = ia ? double(num_int64(a)) : double_value(a);
  double y = ib ? double(num_int64(b)) : double_value(b);
  if (x < y) return -1;
  if (x > y) return 1;
  return x == y ? 0 : NUM_UNORDERED;
}

namespace {

// A part of a number, without allocating: an int64, a double, or a part
// of a wide complex (or a bignum) still in the heap.
struct PartRef {
  enum { INT, DBL, WIDE_PART } kind;
  int64_t i;
  double d;
  Value v;   // the bignum, or the wide complex
  int imag;  // which part of the wide complex
};

PartRef part_of(Value x, int imag) {
  switch (tag_of(x)) {
    case TAG_FIXNUM:
      return {PartRef::INT, imag ? 0 : fixnum_value(x), 0.0, NIL, 0};
    case TAG_INT64:
      if (imag) return {PartRef::INT, 0, 0.0, NIL, 0};
      if (is_bignum(x)) return {PartRef::WIDE_PART, 0, 0.0, x, -1};
      return {PartRef::INT, int64_value(x), 0.0, NIL, 0};
    case TAG_DOUBLE:
      return {PartRef::DBL, 0, imag ? 0.0 : double_value(x), NIL, 0};
    default:  // complex
      if (heap_type(x) == HT_DOUBLE) return {PartRef::DBL, 0, complex_double_part(x, imag), NIL, 0};
      if (int_complex_is_wide(x)) return {PartRef::WIDE_PART, 0, 0.0, x, imag};
      return {PartRef::INT, complex_int_part(x, imag), 0.0, NIL, 0};
  }
}

// A wide part is beyond 64 bits, or an int64-range part of a wide complex.
bool parts_equal(const PartRef& p, const PartRef& q) {
  if (p.kind == PartRef::WIDE_PART || q.kind == PartRef::WIDE_PART) {
    const PartRef& w = p.kind == PartRef::WIDE_PART ? p : q;
    const PartRef& o = p.kind == PartRef::WIDE_PART ? q : p;
    if (w.imag < 0) {  // a bignum
      if (o.kind == PartRef::WIDE_PART) return false;  // handled by the caller
      if (o.kind == PartRef::INT) return false;         // normalised: never equal
      return int_compare_double(w.v, o.d) == 0;
    }
    return false;  // parts of wide complexes: the caller compares the objects
  }
  if (p.kind == PartRef::INT && q.kind == PartRef::INT) return p.i == q.i;
  double x = p.kind == PartRef::INT ? double(p.i) : p.d;
  double y = q.kind == PartRef::INT ? double(q.i) : q.d;
  return x == y;
}

}  // namespace

bool num_equal(Value a, Value b) {
  if (is_fixnum(a) && is_fixnum(b)) return a == b;
  bool ia = num_is_integer(a), ib = num_is_integer(b);
  if (ia && ib) return int_same(a, b);
  bool wa = num_is_complex(a) && heap_type(a) == HT_INT64 && int_complex_is_wide(a);
  bool wb = num_is_complex(b) && heap_type(b) == HT_INT64 && int_complex_is_wide(b);
  if (wa || wb) {
    // Normalised: a wide complex equals only another with the same limbs,
    // or a double complex whose parts have exactly its values.
    if (wa && wb) return heap_length(a) == heap_length(b) &&
                         std::memcmp(heap_data(a), heap_data(b), heap_length(a)) == 0;
    Value w = wa ? a : b, o = wa ? b : a;
    if (!num_is_double_complex(o)) return false;
    root_push(&w);
    root_push(&o);
    bool same = true;
    for (int part = 0; part < 2 && same; part++) {
      Value x = int_complex_part(w, part);
      same = int_compare_double(x, complex_double_part(o, part)) == 0;
    }
    root_pop(2);
    return same;
  }
  return parts_equal(part_of(a, 0), part_of(b, 0)) && parts_equal(part_of(a, 1), part_of(b, 1));
}

// ---------------------------------------------------------------------------
// Installation
