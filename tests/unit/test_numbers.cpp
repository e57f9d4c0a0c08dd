// Numbers and arithmetic: normalisation at the fixnum and 64-bit
// boundaries, contagion, the rounding divisions with both values,
// comparison, the bit operations at their extremes, the mathematical
// functions and the random generator's exact sequence.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>

#include "builtins/numbers.h"
#include "builtins/table.h"
#include "object/bignum.h"
#include "world_fixture.h"

namespace {

constexpr int64_t MIN64 = std::numeric_limits<int64_t>::min();
constexpr int64_t MAX64 = std::numeric_limits<int64_t>::max();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

// A number described by value and made only when it is pushed, so every
// heap number already pushed is rooted by the Lisp stack while the next
// one is allocated.  Also the expected result of a case.
struct A {
  enum Kind { VAL, INT, DBL, CINT, CDBL, BIG } kind;
  int64_t i = 0, j = 0;
  double x = 0, y = 0;
  Value v = NIL;
  const char* digits = nullptr;  // BIG: decimal, with an optional sign
};
A I(int64_t n) { return {A::INT, n}; }
A D(double d) { return {A::DBL, 0, 0, d}; }
A CI(int64_t re, int64_t im) { return {A::CINT, re, im}; }
A CD(double re, double im) { return {A::CDBL, 0, 0, re, im}; }
A V(Value v) { return {A::VAL, 0, 0, 0, 0, v}; }
// An integer beyond 64 bits, in decimal.
A B(const char* decimal) { return {A::BIG, 0, 0, 0, 0, NIL, decimal}; }

Value make_big(const char* text) {
  bool negative = *text == '-';
  if (negative) text++;
  uint8_t w[200];
  uint32_t n = 0;
  for (; *text; text++) w[n++] = uint8_t(*text - '0');
  return int_from_digits(w, n, 10, negative);
}

Value make(const A& a) {
  switch (a.kind) {
    case A::INT:
      return mem_make_integer(a.i);
    case A::DBL:
      return mem_make_double(a.x);
    case A::CINT:
      return mem_make_complex_int(a.i, a.j);
    case A::CDBL:
      return mem_make_complex_double(a.x, a.y);
    case A::BIG:
      return make_big(a.digits);
    default:
      return a.v;
  }
}

// The decimal text of an integer Value.
std::string decimal(Value v) {
  uint32_t len;
  const char* d = int_digits(v, 10, &len);
  return (int_minusp(v) ? "-" : "") + std::string(d, len);
}

bool same_double(double a, double b) { return std::isnan(b) ? std::isnan(a) : a == b; }

// Exact representation as well as value: a fixnum where one fits, a boxed
// integer otherwise, a double complex never confused with an integer one.
::testing::AssertionResult Is(Value v, const A& want) {
  bool ok = false;
  switch (want.kind) {
    case A::INT:
      ok = fits_fixnum(want.i) ? is_fixnum(v) && fixnum_value(v) == want.i
                               : tag_of(v) == TAG_INT64 && int64_value(v) == want.i;
      break;
    case A::DBL:
      ok = tag_of(v) == TAG_DOUBLE && same_double(double_value(v), want.x);
      break;
    case A::CINT:
      ok = num_is_complex(v) && heap_type(v) == HT_INT64 && complex_int_part(v, 0) == want.i &&
           complex_int_part(v, 1) == want.j;
      break;
    case A::CDBL:
      ok = num_is_double_complex(v) && same_double(complex_double_part(v, 0), want.x) &&
           same_double(complex_double_part(v, 1), want.y);
      break;
    case A::BIG:
      ok = is_bignum(v) && decimal(v) == want.digits;
      break;
    default:
      ok = v == want.v;
  }
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "got " << std::hex << v << std::dec << " (kind " << int(want.kind) << " " << want.i
         << " " << want.x << " wanted)";
}

// Calls built-in n as the evaluator does: a call frame, the arguments
// after it, count-1 and count-2 routines given theirs as parameters.
Value call(uint32_t n, std::initializer_list<A> args) {
  ThreadState* ts = zvts;
  ts->stack[--ts->septr] = StackEntry{bi_value(n), ST_CALL_FRAME, ts->zvform};
  ts->zvform = ts->septr;
  for (const A& a : args) {
    Value v = make(a);
    ts->stack[--ts->septr] = StackEntry{v, ST_ARG, 0};
  }
  uint32_t count = ts->zvform - ts->septr;
  Value p1 = count > 0 ? ts->stack[ts->zvform - 1].arg : NIL;
  Value p2 = count > 1 ? ts->stack[ts->zvform - 2].arg : NIL;
  const BuiltinRecord& r = zv_builtins[n];
  ts->mv_count = 1;
  Value result = r.count == 1 ? r.fn(p1, NIL) : r.count == 2 ? r.fn(p1, p2) : r.fn(NIL, NIL);
  uint16_t frame = ts->zvform;
  ts->zvform = ts->stack[frame].link;
  ts->septr = frame + 1;
  return result;
}

// The error code a call signals, 0 for none; the stack is put back as the
// throw to a listener would.
uint32_t error_of(uint32_t n, std::initializer_list<A> args) {
  uint16_t form = zvts->zvform, sp = zvts->septr;
  uint32_t code = TRAP_ERROR(call(n, args));
  zvts->zvform = form;
  zvts->septr = sp;
  return code;
}

Value second_value() {
  EXPECT_EQ(zvts->mv_count, 2u);
  return zvts->stack[zvts->mv_base - 2].arg;
}

struct Case {
  uint32_t op;
  std::initializer_list<A> args;
  A want;
};

void check(std::initializer_list<Case> cases) {
  int row = 0;
  for (const Case& c : cases) {
    EXPECT_TRUE(Is(call(c.op, c.args), c.want)) << "row " << row << ", built-in " << c.op;
    row++;
  }
}

// Each row signals 5170 with the argument `bad` (compared when it is an
// immediate; a boxed one is a fresh object).
struct Bad {
  uint32_t op;
  std::initializer_list<A> args;
  A bad;
};

void check_errors(std::initializer_list<Bad> cases) {
  int row = 0;
  for (const Bad& c : cases) {
    EXPECT_EQ(error_of(c.op, c.args), ERR_WRONG_TYPE) << "row " << row << ", built-in " << c.op;
    if (c.bad.kind == A::VAL || (c.bad.kind == A::INT && fits_fixnum(c.bad.i))) {
      EXPECT_EQ(ErrorTrap::object, make(c.bad)) << "row " << row;
    }
    row++;
  }
}

class Numbers : public ::testing::Test {
 protected:
  ErrorFn saved_error = zv_error_fn;
  WarnFn saved_warn = zv_warn_fn, saved_cerror = zv_cerror_fn;

  void SetUp() override {
    test_world_init();
    thread_reset_stacks(zvts);
    ErrorTrap::install();
    gc_stress_init_from_env();
  }
  void TearDown() override {
    zv_gc_stress = 0;
    zv_error_fn = saved_error;
    zv_warn_fn = saved_warn;
    zv_cerror_fn = saved_cerror;
  }
};

// Each operation across a boundary, in both directions: a result that fits
// 24 bits is a fixnum, one that fits 64 bits a 64-bit integer, and nothing
// wraps.
TEST_F(Numbers, NormalisationAtBothBoundaries) {
  // clang-format off
  check({
      {BI_PLUS, {I(8388607), I(1)}, I(8388608)},        {BI_MINUS, {I(-8388608), I(1)}, I(-8388609)},
      {BI_PLUS, {I(8388608), I(-1)}, I(8388607)},       {BI_ONE_PLUS, {I(8388607)}, I(8388608)},
      {BI_ABS, {I(-8388608)}, I(8388608)},              {BI_MINUS, {I(-8388608)}, I(8388608)},
      {BI_PLUS, {}, I(0)},                              {BI_TIMES, {}, I(1)},
      {BI_TIMES, {I(4294967296), I(4294967296)}, B("18446744073709551616")},
      {BI_PLUS, {I(MAX64), I(1)}, B("9223372036854775808")},
      {BI_ONE_MINUS, {I(MIN64)}, B("-9223372036854775809")},
      {BI_MINUS, {I(MIN64)}, B("9223372036854775808")},
      {BI_ABS, {I(MIN64)}, B("9223372036854775808")},
      {BI_TIMES, {I(MIN64), I(-1)}, B("9223372036854775808")},
      {BI_DIVIDE, {I(MIN64), I(-1)}, B("9223372036854775808")},
      {BI_REM, {I(MIN64), I(-1)}, I(0)},
      {BI_MINUS, {B("9223372036854775808"), I(1)}, I(MAX64)},
      {BI_ONE_PLUS, {B("-9223372036854775809")}, I(MIN64)},
      {BI_MINUS, {B("9223372036854775808")}, I(MIN64)},
      {BI_PLUS, {B("18446744073709551616"), B("-18446744073709551615")}, I(1)},
      {BI_TIMES, {B("-18446744073709551616"), I(0)}, I(0)},
      {BI_DIVIDE, {B("18446744073709551616"), I(4294967296)}, I(4294967296)},
      {BI_DIVIDE, {B("36893488147419103232"), B("-18446744073709551616")}, I(-2)},
      {BI_TIMES, {I(3037000500), I(3037000500)}, B("9223372037000250000")},
      {BI_MINUS, {I(MIN64), I(1), I(-1)}, I(MIN64)},
      {BI_PLUS, {I(MAX64), I(MAX64), I(MIN64), I(MIN64)}, I(-2)},
  });
  // clang-format on
}

// Fixnum results, comparisons and rounding divisions of fixnums touch
// neither the heap nor the cons area.
TEST_F(Numbers, FixnumWorkAllocatesNothing) {
  uint32_t fill = zvm.heap_fill, free_cells = zvm.free_count;
  for (int i = 0; i < 100; i++) {
    call(BI_PLUS, {I(i), I(1000), I(-3)});
    call(BI_TIMES, {I(i), I(i)});
    call(BI_MINUS, {I(i)});
    call(BI_DIVIDE, {I(i * 6), I(3)});
    call(BI_NUM_LT, {I(1), I(i + 2)});
    call(BI_MAX, {I(i), I(7)});
    call(BI_ROUND, {I(i), I(-4)});
    call(BI_ASH, {I(i), I(3)});
    call(BI_LOGAND, {I(i), I(0x55)});
  }
  EXPECT_EQ(zvm.heap_fill, fill);
  EXPECT_EQ(zvm.free_count, free_cells);
}

// An infinite real part must not spoil the unused imaginary part.
TEST_F(Numbers, ContagionAndComplexNumbers) {
  // clang-format off
  check({
      {BI_PLUS, {I(1), D(2.0)}, D(3.0)},            {BI_TIMES, {I(3), D(0.5), I(4)}, D(6.0)},
      {BI_PLUS, {CI(1, 2), CI(3, -2)}, I(4)},       {BI_TIMES, {CI(0, 1), CI(0, 1)}, I(-1)},
      {BI_PLUS, {CI(1, 2), D(0.5)}, CD(1.5, 2.0)},  {BI_PLUS, {CD(1, 1), CD(1, -1)}, CD(2, 0)},
      {BI_TIMES, {CD(1, 2), CI(3, 4)}, CD(-5, 10)}, {BI_TIMES, {D(2.0), D(INF)}, D(INF)},
      {BI_ONE_PLUS, {CI(1, 2)}, CI(2, 2)},          {BI_ONE_MINUS, {CD(1.5, -2)}, CD(0.5, -2)},
      {BI_COMPLEX, {I(7), I(0)}, I(7)},             {BI_COMPLEX, {I(1), I(-2)}, CI(1, -2)},
      {BI_COMPLEX, {D(1.5)}, CD(1.5, 0)},           {BI_IMAGPART, {CI(1, 8388608)}, I(8388608)},
      {BI_REALPART, {CD(-1, 5)}, D(-1.0)},          {BI_PHASE, {CI(0, 1)}, D(std::atan2(1, 0))},
      {BI_CONJUGATE, {CI(1, MAX64)}, CI(1, -MAX64)}, {BI_CONJUGATE, {CD(1, 2)}, CD(1, -2)},
      {BI_CONJUGATE, {I(5)}, I(5)},                 {BI_ABS, {CI(3, 4)}, D(5.0)},
      {BI_ABS, {CD(3e300, 4e300)}, D(5e300)},       {BI_COMPLEXP, {CI(1, 1)}, V(T)},
      {BI_DOUBLE_COMPLEX_P, {CI(1, 1)}, V(NIL)},           {BI_DOUBLE_COMPLEX_P, {CD(1, 0)}, V(T)},
  });
  // clang-format on
}

TEST_F(Numbers, DivisionIsExactUntilAStepIsNot) {
  // clang-format off
  check({
      {BI_DIVIDE, {I(6), I(3)}, I(2)},              {BI_DIVIDE, {I(7), I(2)}, D(3.5)},
      {BI_DIVIDE, {I(60), I(2), I(3)}, I(10)},      {BI_DIVIDE, {I(1), I(4), I(2)}, D(0.125)},
      {BI_DIVIDE, {D(1.0), D(0.0)}, D(INF)},        {BI_DIVIDE, {I(2)}, D(0.5)},
      {BI_DIVIDE, {I(-1)}, I(-1)},                  {BI_DIVIDE, {CI(0, 1)}, CI(0, -1)},
      {BI_DIVIDE, {CI(4, 6), I(2)}, CI(2, 3)},      {BI_DIVIDE, {CI(1, 1), I(2)}, CD(0.5, 0.5)},
      {BI_DIVIDE, {CI(5, 5), CI(1, 2)}, CI(3, -1)}, {BI_DIVIDE, {I(1), CI(1, 1)}, CD(0.5, -0.5)},
      {BI_REM, {I(-7), I(2)}, I(-1)},            {BI_REM, {I(7), I(-2)}, I(1)},
      {BI_REM, {D(-5.5), I(2)}, D(-1.5)},
  });
  // clang-format on
}

// Integer rows are exact in 64 bits, even where 2|r| would overflow;
// double rows give the difference as a double.
TEST_F(Numbers, RoundingDivisionsGiveQuotientAndDifference) {
  struct Row {
    uint32_t op;
    A a, b;
    A q, r;
  };
  // clang-format off
  const Row rows[] = {
      {BI_ROUND, D(2.5), I(1), I(2), D(0.5)},               {BI_ROUND, D(3.5), I(1), I(4), D(-0.5)},
      {BI_ROUND, D(-2.5), I(1), I(-2), D(-0.5)},            {BI_FLOOR, D(-1.5), I(1), I(-2), D(0.5)},
      {BI_CEILING, D(1.25), I(1), I(2), D(-0.75)},          {BI_TRUNCATE, D(-1.5), I(1), I(-1), D(-0.5)},
      {BI_FLOOR, I(3), D(4.0), I(0), D(3.0)},               {BI_FLOOR, D(7.0), D(-2.0), I(-4), D(-1.0)},
      {BI_FLOOR, D(-9223372036854775808.0), I(1), I(MIN64), D(0)},
      {BI_FLOOR, I(-7), I(2), I(-4), I(1)},
      {BI_CEILING, I(7), I(2), I(4), I(-1)},                {BI_TRUNCATE, I(-7), I(2), I(-3), I(-1)},
      {BI_ROUND, I(7), I(2), I(4), I(-1)},                  {BI_ROUND, I(-5), I(2), I(-2), I(-1)},
      {BI_ROUND, I(-8), I(3), I(-3), I(1)},
      {BI_TRUNCATE, I(MIN64), I(-1), B("9223372036854775808"), I(0)},
      {BI_ROUND, I(MAX64), I(MIN64), I(-1), I(-1)},
      {BI_FLOOR, I(MIN64), I(MAX64), I(-2), I(MAX64 - 1)},
      // Beyond 64 bits: a double's quotient is the integer of that double.
      {BI_FLOOR, D(1.0e30), I(1), B("1000000000000000019884624838656"), D(0)},
      {BI_CEILING, D(-9223372036854775808.0), D(0.5), B("-18446744073709551616"), D(0)},
      {BI_FLOOR, B("-100000000000000000000"), I(3), B("-33333333333333333334"), I(2)},
      {BI_CEILING, B("100000000000000000000"), I(-3), B("-33333333333333333333"), I(1)},
      {BI_TRUNCATE, B("-100000000000000000000"), I(3), B("-33333333333333333333"), I(-1)},
      {BI_ROUND, B("100000000000000000001"), I(2), B("50000000000000000000"), I(1)},
      {BI_ROUND, B("100000000000000000003"), I(2), B("50000000000000000002"), I(-1)},
      {BI_FLOOR, I(5), B("-100000000000000000000"), I(-1), B("-99999999999999999995")},
      {BI_FLOOR, B("100000000000000000000"), B("30000000000000000000"), I(3),
       B("10000000000000000000")},
      {BI_FLOOR, B("100000000000000000000"), D(1e10), I(10000000000), D(0)},
  };
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_TRUE(Is(call(row.op, {row.a, row.b}), row.q)) << row.op << " " << row.a.x;
    EXPECT_TRUE(Is(second_value(), row.r)) << row.op << " " << row.a.x;
  }
  EXPECT_TRUE(Is(call(BI_ROUND, {D(2.5)}), I(2)));  // the divisor defaults to 1
  EXPECT_TRUE(Is(second_value(), D(0.5)));
}

// No NaN, infinity or double beyond 64 bits reaches an integer conversion.
TEST_F(Numbers, WrongTypesZeroDivisorsAndHugeQuotients) {
  for (uint32_t op : {BI_TRUNCATE, BI_ROUND, BI_FLOOR, BI_CEILING}) {
    check_errors({{op, {D(NaN)}, D(NaN)},
                  {op, {D(INF)}, D(INF)},
                  {op, {D(1.0e300), D(1.0e-300)}, D(1.0e300)},
                  {op, {I(1), I(0)}, I(0)},
                  {op, {D(1.0), D(0.0)}, D(0.0)},
                  {op, {CI(1, 1)}, CI(1, 1)}});
  }
  // clang-format off
  check_errors({
      {BI_DIVIDE, {I(1), I(2), I(0)}, I(0)},           {BI_DIVIDE, {D(1.0), I(0)}, I(0)},
      {BI_DIVIDE, {I(0)}, I(0)},                       {BI_REM, {I(5), I(0)}, I(0)},
      {BI_RANDOM, {I(0)}, I(0)},                    {BI_PLUS, {I(1), V(T)}, V(T)},
      {BI_NUM_LT, {I(1), I(2), V(T)}, V(T)},            {BI_NUM_LT, {CI(1, 2)}, CI(1, 2)},
      {BI_NUM_EQ, {V(T)}, V(T)},                        {BI_MAX, {I(1), CI(1, 1)}, CI(1, 1)},
      {BI_ZEROP, {V(T)}, V(T)},                     {BI_PLUSP, {CI(1, 1)}, CI(1, 1)},
      {BI_EVENP, {D(2.0)}, D(2.0)},                 {BI_LOGIOR, {V(NO_VALUE)}, V(NO_VALUE)},
      {BI_LOGBITP, {I(-1), I(1)}, I(-1)},           {BI_LOGBITP, {B("-18446744073709551616"), I(1)}, B("-18446744073709551616")},
      {BI_ISQRT, {I(-1)}, I(-1)},                   {BI_ISQRT, {D(4.0)}, D(4.0)},
      {BI_SIN, {CD(1, 1)}, CD(1, 1)},               {BI_ATAN, {I(1), V(T)}, V(T)},
      {BI_COMPLEX, {I(1), CI(1, 1)}, CI(1, 1)},     {BI_REALPART, {I(5)}, I(5)},
      {BI_CONJUGATE, {V(T)}, V(T)},
  });
  // clang-format on
  EXPECT_EQ(error_of(BI_FLOAT, {CI(1, 1)}), 0x2453u);  // with the object and FLOAT
  // Arguments after the first failing pair are not examined.
  EXPECT_TRUE(Is(call(BI_NUM_LT, {I(2), I(1), V(T)}), V(NIL)));
}

TEST_F(Numbers, SurplusArgumentIsContinuableAndIgnored) {
  check({{BI_FLOOR, {I(7), I(2), I(99)}, I(3)},
         {BI_COMPLEX, {I(1), I(2), I(3)}, CI(1, 2)},
         {BI_LOG, {D(8.0), I(2), I(3)}, D(3.0)},
         {BI_SEED_RANDOM, {I(5), I(6)}, I(5)}});
  EXPECT_EQ(ErrorTrap::warnings, 4);
  EXPECT_EQ(ErrorTrap::warning_code, ERR_TOO_MANY_ARGS);
}

// The 0x0F markers lie between the fixnum and boxed-integer tags.
TEST_F(Numbers, ComparisonsAndPredicates) {
  // clang-format off
  check({
      {BI_NUM_EQ, {I(1), D(1.0)}, V(T)},                     {BI_NUM_EQ, {CD(1, 0), I(1)}, V(T)},
      {BI_NUM_EQ, {CI(1, 2), CD(1, 2)}, V(T)},               {BI_NUM_EQ, {D(NaN), D(NaN)}, V(NIL)},
      {BI_NUM_NE, {I(1), I(2), I(1)}, V(NIL)},               {BI_NUM_NE, {I(1), I(2), I(3)}, V(T)},
      {BI_NUM_LT, {I(1), I(2), I(2)}, V(NIL)},               {BI_NUM_LT, {I(1), D(1.5), I(8388608)}, V(T)},
      {BI_NUM_GT, {I(MAX64), I(MIN64)}, V(T)},               {BI_NUM_GE, {D(NaN), I(1)}, V(NIL)},
      {BI_NUM_LE, {I(1), I(1), D(1.0)}, V(T)},               {BI_NUM_LT, {I(5)}, V(T)},
      {BI_MAX, {I(3), D(2.0)}, D(3.0)},                  {BI_MIN, {D(2.0), I(1)}, D(1.0)},
      {BI_MAX, {I(3), I(8388608), I(-1)}, I(8388608)},   {BI_NUMBERP, {V(NO_VALUE)}, V(NIL)},
      {BI_NUMBERP, {V(HASH_DELETED)}, V(NIL)},           {BI_INTEGERP, {V(HASH_EMPTY)}, V(NIL)},
      {BI_NUMBERP, {CI(1, 1)}, V(T)},                    {BI_INTEGERP, {I(MIN64)}, V(T)},
      {BI_FLOATP, {I(1)}, V(NIL)},                       {BI_ZEROP, {D(-0.0)}, V(T)},
      {BI_ZEROP, {CD(0, 0)}, V(T)},                      {BI_ZEROP, {CD(0, 1)}, V(NIL)},
      {BI_PLUSP, {D(NaN)}, V(NIL)},                      {BI_MINUSP, {D(-0.0)}, V(NIL)},
      {BI_MINUSP, {I(MIN64)}, V(T)},                     {BI_EVENP, {I(MIN64)}, V(T)},
      {BI_ODDP, {I(-3)}, V(T)},
      {BI_FLOAT, {I(MIN64)}, D(-9223372036854775808.0)},
  });
  // clang-format on
  Value d = call(BI_FLOAT, {D(2.5)});
  EXPECT_EQ(d, zvts->stack[zvts->septr - 2].arg);  // a double is returned itself
}

TEST_F(Numbers, BitOperations) {
  // clang-format off
  check({
      // Any number of arguments: all 64 bits too.
      {BI_LOGAND, {}, I(-1)},                     {BI_LOGIOR, {}, I(0)},
      {BI_LOGEQV, {}, I(-1)},                     {BI_LOGAND, {I(-1), I(5)}, I(5)},
      {BI_LOGEQV, {I(12), I(10)}, I(~6)},         {BI_LOGIOR, {I(0x100000001)}, I(0x100000001)},
      {BI_LOGXOR, {I(0x80000000)}, I(0x80000000)},    {BI_LOGAND, {I(MIN64), I(-1)}, I(MIN64)},
      // Two arguments: all 64 bits.
      {BI_LOGNAND, {I(0), I(0)}, I(-1)},                  {BI_LOGNOR, {I(MIN64), I(0)}, I(MAX64)},
      {BI_LOGANDC1, {I(12), I(10)}, I(2)},                {BI_LOGANDC2, {I(12), I(10)}, I(4)},
      {BI_LOGORC1, {I(-1), I(1LL << 32)}, I(1LL << 32)},  {BI_LOGORC2, {I(0), I(-1)}, I(0)},
      {BI_LOGNOT, {I(MAX64)}, I(MIN64)},
      {BI_LOGSUBSETP, {I(1LL << 32), I(0xFFFFFFFF)}, V(NIL)},
      {BI_ASH, {I(3), I(62)}, B("13835058055282163712")}, {BI_ASH, {I(1), I(64)}, B("18446744073709551616")},
      {BI_ASH, {I(0), I(MAX64)}, I(0)},                   {BI_ASH, {I(-8), I(-1)}, I(-4)},
      {BI_ASH, {B("-18446744073709551616"), I(-64)}, I(-1)}, {BI_ASH, {I(-1), B("-18446744073709551616")}, I(-1)},
      {BI_ASH, {I(MIN64), I(-1)}, I(MIN64 / 2)},          {BI_ASH, {I(MIN64 / 2), I(1)}, I(MIN64)},
      {BI_ASH, {I(MAX64), I(1)}, B("18446744073709551614")}, {BI_LOGBITP, {I(8388608), I(-1)}, V(T)},
      {BI_ASH, {I(-1), I(-64)}, I(-1)},                   {BI_ASH, {I(MAX64), I(-64)}, I(0)},
      {BI_ASH, {I(-5), I(MIN64)}, I(-1)},                 {BI_LOGBITP, {I(40), I(1LL << 40)}, V(T)},
      {BI_LOGBITP, {I(1000), I(-1)}, V(T)},               {BI_LOGBITP, {I(63), I(MAX64)}, V(NIL)},
      {BI_LOGCOUNT, {I(-8)}, I(3)},                       {BI_LOGCOUNT, {I(MIN64)}, I(63)},
      {BI_INTEGER_LENGTH, {I(-256)}, I(8)},               {BI_INTEGER_LENGTH, {I(-1)}, I(0)},
      {BI_INTEGER_LENGTH, {I(MIN64)}, I(63)},
  });
  // clang-format on
  // A shift past the limit is refused before anything but the arguments
  // is allocated.
  uint32_t fill = zvm.heap_fill;
  EXPECT_EQ(error_of(BI_ASH, {I(-1), I(MAX64)}), ERR_INT_TOO_LARGE);
  EXPECT_EQ(error_of(BI_ASH, {I(1), I(INT_MAX_BITS)}), ERR_INT_TOO_LARGE);
  EXPECT_EQ(error_of(BI_ASH, {I(1), B("18446744073709551616")}), ERR_INT_TOO_LARGE);
  EXPECT_LE(zvm.heap_fill, fill + 64);
}

// Above 2^52 the double's square root alone can be one too large.
TEST_F(Numbers, MathematicalFunctions) {
  // clang-format off
  check({
      {BI_SQRT, {I(-1)}, D(NaN)},                         {BI_LOG, {I(0)}, D(-INF)},
      {BI_LOG, {I(8), I(2)}, D(3.0)},
      {BI_ATAN, {I(1), I(1)}, D(std::atan2(1.0, 1.0))},
      {BI_EXPT_FLOAT, {I(2), I(10)}, D(1024)},                  {BI_EXP, {I(1000)}, D(INF)},
      {BI_ISQRT, {I(17)}, I(4)},
      {BI_ISQRT, {I((1LL << 62) - 1)}, I((1LL << 31) - 1)},
      {BI_ISQRT, {I(MAX64)}, I(3037000499)},
      {BI_ISQRT, {I(3037000499LL * 3037000499LL - 1)}, I(3037000498)},
  });
  // clang-format on
}

TEST_F(Numbers, RandomFollowsTheRecurrence) {
  EXPECT_TRUE(Is(call(BI_SEED_RANDOM, {}), I(1)));
  for (int32_t e : {41, 18467, 6334, 26500, 19169, 15724})
    EXPECT_TRUE(Is(call(BI_RANDOM, {I(32768)}), I(e)));
  call(BI_SEED_RANDOM_ALIAS, {V(NIL)});  // both numbers of each pair share one state
  EXPECT_TRUE(Is(call(BI_RANDOM_ALIAS, {I(32768)}), I(41)));
  EXPECT_TRUE(Is(call(BI_RANDOM, {I(100)}), I(18467 % 100)));
  for (int i = 0; i < 200; i++) {
    Value r = call(BI_RANDOM, {I(100000)});
    ASSERT_TRUE(is_fixnum(r) && fixnum_value(r) >= 0 && fixnum_value(r) <= 32767);
    r = call(BI_RANDOM, {D(2.0)});
    ASSERT_TRUE(num_is_double(r) && double_value(r) >= 0.0 && double_value(r) < 2.0);
  }
  check({{BI_SEED_RANDOM, {I(0x12345678)}, I(0x345678)},
         {BI_SEED_RANDOM, {I(MAX64)}, I(-1)},
         {BI_SEED_RANDOM, {D(-3.7)}, I(-3)}});
  EXPECT_EQ(num_random_state(), 0xFFFFFFFDu);
  check_errors({{BI_SEED_RANDOM, {D(NaN)}, D(NaN)},
                {BI_SEED_RANDOM, {D(1.0e30)}, D(1.0e30)},
                {BI_SEED_RANDOM, {V(make_char('a'))}, V(make_char('a'))}});
  EXPECT_EQ(num_random_state(), 0xFFFFFFFDu);
}

// A value returned from the break loop of error 5170 is the result.
TEST_F(Numbers, ReplacementValueIsTheResult) {
  zv_error_fn = [](uint32_t, const Value*) -> Value { return make_fixnum(42); };
  check({{BI_PLUS, {I(1), V(T), I(2)}, I(42)}, {BI_FLOOR, {D(NaN)}, I(42)}});
  EXPECT_EQ(zvts->mv_count, 1u);
}

TEST_F(Numbers, CoreApiForOtherModules) {
  Value big = mem_make_integer(MAX64);
  root_push(&big);
  EXPECT_TRUE(Is(num_add(big, make_fixnum(1)), B("9223372036854775808")));
  EXPECT_TRUE(Is(num_mul(make_fixnum(-1), big), I(-MAX64)));
  EXPECT_TRUE(Is(num_div(make_fixnum(1), make_fixnum(8)), D(0.125)));
  EXPECT_EQ(num_compare(big, make_fixnum(0)), 1);
  root_pop(1);
  EXPECT_EQ(num_compare(mem_make_double(NaN), make_fixnum(0)), NUM_UNORDERED);
  EXPECT_TRUE(num_equal(make_fixnum(2), mem_make_double(2.0)));
  EXPECT_TRUE(num_double_fits_int64(-9223372036854775808.0));
  EXPECT_FALSE(num_double_fits_int64(9223372036854775808.0));
  EXPECT_FALSE(num_double_fits_int64(NaN));
  EXPECT_EQ(TRAP_ERROR(num_sub(make_fixnum(1), T)), ERR_WRONG_TYPE);
}

// Run under ZORVA_GC_STRESS=1 every allocation collects: the quotient must
// stay rooted while the remainder is boxed.
TEST_F(Numbers, BoxedResultsSurviveCollections) {
  for (int i = 0; i < 40; i++) {
    double x = 1.0e12 + i;
    int64_t q = static_cast<int64_t>(std::floor(x / 7.0));
    ASSERT_TRUE(Is(call(BI_FLOOR, {D(x), D(7.0)}), I(q)));
    ASSERT_TRUE(Is(second_value(), D(x - static_cast<double>(q) * 7.0)));
    ASSERT_TRUE(Is(call(BI_PLUS, {CD(1.0, i), D(0.5), CI(1, 1)}), CD(2.5, i + 1.0)));
    ASSERT_TRUE(Is(call(BI_TRUNCATE, {I(1LL << 40), I(3)}), I((1LL << 40) / 3)));
    ASSERT_TRUE(Is(second_value(), I((1LL << 40) % 3)));
  }
}

}  // namespace
