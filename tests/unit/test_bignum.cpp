// The integer routines at the edges of their representations: the
// normalising constructors at the fixnum and 64-bit boundaries, every
// operation checked against 128-bit arithmetic across those boundaries,
// the conversions to and from doubles at their rounding points, text in
// every base and the size limits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "object/bignum.h"
#include "world_fixture.h"

namespace {

using i128 = __int128;
constexpr int64_t MIN64 = INT64_MIN, MAX64 = INT64_MAX;

Value from128(i128 x) {
  Limb p[2] = {Limb(uint64_t(x)), Limb(uint64_t(x >> 64))};
  return int_from_twos(p, 2);
}

// The value of an integer that fits 128 bits.
i128 to128(Value v) {
  EXPECT_LE(int_size(v), 2u);
  return i128(int64_t(int_limb(v, 1))) << 64 | i128(int_limb(v, 0));
}

std::string show128(i128 x) {
  bool negative = x < 0;
  unsigned __int128 m = negative ? 0 - (unsigned __int128)x : (unsigned __int128)x;
  std::string s;
  do {
    s.insert(s.begin(), char('0' + int(m % 10)));
    m /= 10;
  } while (m);
  return (negative ? "-" : "") + s;
}

// Which representation a value has: 0 fixnum, 1 a 64-bit integer, n >= 2
// a bignum of n limbs.
uint32_t form(Value v) { return is_fixnum(v) ? 0 : int_size(v); }

// The representation a value must have.
uint32_t wanted_form(i128 x) {
  if (x >= FIXNUM_MIN && x <= FIXNUM_MAX) return 0;
  return x >= MIN64 && x <= MAX64 ? 1 : 2;
}

::testing::AssertionResult Holds(Value v, i128 x) {
  if (int_size(v) <= 2 && to128(v) == x && form(v) == wanted_form(x))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "wanted " << show128(x) << " in form " << wanted_form(x) << ", got form " << form(v);
}

// Values on both sides of every boundary, and some in between.
std::vector<i128> edge_values() {
  std::vector<i128> v;
  const i128 P64 = i128(1) << 64, P63 = i128(1) << 63;
  for (i128 base : {i128(0), i128(FIXNUM_MAX), i128(FIXNUM_MIN), i128(MAX64), i128(MIN64), P64,
                    -P64, P63 * 3, i128(1) << 100, -(i128(1) << 100)})
    for (int d = -2; d <= 2; d++) v.push_back(base + d);
  v.push_back(i128(0x123456789ABCDEFLL) * 0x1000003);
  v.push_back(-(i128(0x7EDCBA9876543210LL) << 20) - 12345);
  return v;
}

class Bignum : public ::testing::Test {
 protected:
  void SetUp() override {
    WorldParams p;
    p.heap_bytes = 1 << 20;
    test_world_init(p);
    thread_reset_stacks(zvts);
    ErrorTrap::install();
    gc_stress_init_from_env();
  }
  void TearDown() override { zv_gc_stress = 0; }
};

// ---------------------------------------------------------------------------
// Constructors

TEST_F(Bignum, ConstructorsNormalise) {
  auto twos = [](std::initializer_list<Limb> l) {
    std::vector<Limb> v(l);
    return int_from_twos(v.data(), uint32_t(v.size()));
  };
  // Redundant sign limbs fall away, down to the fixnum and the 64-bit forms.
  EXPECT_EQ(twos({~Limb(0), ~Limb(0), ~Limb(0)}), make_fixnum(-1));
  EXPECT_EQ(twos({0x7FFFFF, 0, 0}), make_fixnum(FIXNUM_MAX));
  EXPECT_TRUE(Holds(twos({0x800000, 0}), 0x800000));
  EXPECT_TRUE(Holds(twos({Limb(MAX64), 0}), MAX64));
  EXPECT_TRUE(Holds(twos({Limb(MIN64), ~Limb(0)}), MIN64));
  EXPECT_EQ(form(twos({Limb(MIN64), 0})), 2u);  // 2^63 needs a second limb
  EXPECT_EQ(form(twos({0, 1, 0, 0})), 2u);
  EXPECT_EQ(form(twos({0, Limb(MIN64), 0})), 3u);         // 2^127 needs a third
  EXPECT_EQ(form(twos({0, Limb(MIN64), ~Limb(0)})), 2u);  // -2^127 does not

  auto magnitude = [](std::initializer_list<Limb> l, bool negative) {
    std::vector<Limb> v(l);
    return int_from_magnitude(v.data(), uint32_t(v.size()), negative);
  };
  EXPECT_EQ(magnitude({0, 0}, true), make_fixnum(0));
  EXPECT_TRUE(Holds(magnitude({Limb(1) << 63}, true), MIN64));
  EXPECT_TRUE(Holds(magnitude({Limb(1) << 63, 0}, false), i128(1) << 63));
  EXPECT_EQ(form(magnitude({0, Limb(1) << 63}, true)), 2u);  // exactly -2^127
  EXPECT_EQ(form(magnitude({1, Limb(1) << 63}, true)), 3u);
  EXPECT_EQ(form(magnitude({0, Limb(1) << 63}, false)), 3u);
  EXPECT_TRUE(Holds(magnitude({0x800000}, true), FIXNUM_MIN));
  // The layout: a byte object of type 3, one-dimensional flag, 8n bytes.
  Value v = magnitude({5, 6}, true);
  EXPECT_EQ(tag_of(v), TAG_INT64);
  EXPECT_EQ(heap_type(v), HT_INT64);
  EXPECT_EQ(heap_hdr1(v), HDR_ONE_DIM | 16u);
  EXPECT_EQ(int_limb(v, 0), Limb(-5));
  EXPECT_EQ(int_limb(v, 1), ~Limb(6));
  EXPECT_EQ(int_limb(v, 7), ~Limb(0));
}

// ---------------------------------------------------------------------------
// Every operation on every pair of edge values, against 128-bit arithmetic

TEST_F(Bignum, ArithmeticAcrossTheBoundaries) {
  std::vector<i128> xs = edge_values();
  for (i128 a : xs) {
    for (i128 b : xs) {
      Value va = from128(a);
      root_push(&va);
      Value vb = from128(b);
      root_push(&vb);
      std::string pair = show128(a) + " " + show128(b);
      EXPECT_TRUE(Holds(int_add(va, vb), a + b)) << "+ " << pair;
      EXPECT_TRUE(Holds(int_sub(va, vb), a - b)) << "- " << pair;
      EXPECT_EQ(int_compare(va, vb), a < b ? -1 : a > b ? 1 : 0) << pair;
      EXPECT_EQ(int_same(va, vb), a == b) << pair;
      i128 product;
      if (!__builtin_mul_overflow(a, b, &product)) {
        EXPECT_TRUE(Holds(int_mul(va, vb), product)) << "* " << pair;
      }
      i128 mb = b < 0 ? -b : b;
      if (b != 0) {
        // Truncation as C does it; the other roundings corrected from it.
        i128 q = a / b, r = a % b;
        for (int how = 0; how < 4; how++) {
          i128 qq = q, rr = r;
          if (r != 0) {
            bool negative = (r < 0) != (b < 0);
            bool away = how == 1 ? negative : how == 2 ? !negative : false;
            if (how == 3) {
              i128 ar = r < 0 ? -r : r;
              away = 2 * ar > mb || (2 * ar == mb && (q & 1));
            }
            if (away) {
              qq += negative ? -1 : 1;
              rr -= negative ? -b : b;
            }
          }
          IntNative nq, nr;
          int_divide(va, vb, how, &nq, &nr);
          Value vq = int_from_native(nq);
          root_push(&vq);
          Value vr = int_from_native(nr);
          EXPECT_TRUE(Holds(vq, qq)) << "q" << how << " " << pair;
          EXPECT_TRUE(Holds(vr, rr)) << "r" << how << " " << pair;
          root_pop();
        }
      }
      root_pop(2);
    }
  }
}

// Sums, differences and products of large non-negative numbers are made
// in place, their limbs read where they lie: on an 8-byte boundary or off
// it by 2, 4 or 6 bytes, also after a collection slid them.  Checked
// against the general path through negative numbers and division, and
// the heap walks cleanly over the cut results' fillers.
TEST_F(Bignum, LargeSumsAndProductsWhereverTheLimbsLie) {
  Value a = NIL, b = NIL, x = NIL, y = NIL;
  root_push(&a);
  root_push(&b);
  root_push(&x);
  root_push(&y);
  // An integer copied to a given distance past an 8-byte boundary.
  auto placed = [](Value v, uint32_t off) {
    std::vector<Limb> limbs(int_size(v));
    for (uint32_t i = 0; i < limbs.size(); i++) limbs[i] = int_limb(v, i);
    uint32_t at = uint32_t((reinterpret_cast<uintptr_t>(zvm.heap_base) + zvm.heap_fill + 8) % 8);
    if (uint32_t d = (off + 8 - at) % 8) mem_alloc_bytes(d);  // a dead object of d + 8 bytes
    return int_from_twos(limbs.data(), uint32_t(limbs.size()));
  };
  for (uint32_t off = 0; off < 8; off += 2) {
    for (int slide = 0; slide < 2; slide++) {
      x = int_power(make_fixnum(3), 700 + off);
      a = placed(x, off);
      y = int_power(make_fixnum(7), 300);
      b = placed(y, (off + 2) % 8);
      x = y = NIL;
      if (slide) gc_full_collection();
      x = int_mul(a, b);
      y = int_negate(a);
      y = int_mul(y, b);
      y = int_negate(y);
      EXPECT_EQ(int_compare(y, x), 0) << off;
      IntNative q, r;
      int_divide(x, b, 0, &q, &r);
      EXPECT_EQ(r.n, 0u);
      y = int_from_native(q);
      EXPECT_EQ(int_compare(y, a), 0) << off;
      x = int_add(a, b);
      y = int_sub(x, b);
      EXPECT_EQ(int_compare(y, a), 0) << off;
      y = int_sub(b, a);  // negative: the general path
      y = int_negate(y);
      x = int_sub(a, b);
      EXPECT_EQ(int_compare(y, x), 0) << off;
      x = int_mul(a, a);
      y = int_negate(a);
      y = int_mul(y, a);
      y = int_negate(y);
      EXPECT_EQ(int_compare(y, x), 0) << off;
    }
  }
  // A sum that needs a limb for its sign, a difference that falls to a
  // fixnum and one that falls to 64 bits.
  a = from128(~(i128(1) << 127));
  EXPECT_EQ(form(int_add(a, a)), 3u);
  EXPECT_TRUE(Holds(int_sub(a, a), 0));
  a = from128((i128(1) << 64) - 1);
  b = from128((i128(1) << 64) - 5);
  EXPECT_TRUE(Holds(int_sub(a, b), 4));
  b = from128(i128(1) << 63);
  EXPECT_TRUE(Holds(int_sub(a, b), MAX64));
  uint32_t at = 8;
  while (at < zvm.heap_fill) at += object_size_at(zvm.heap_base + at);
  EXPECT_EQ(at, zvm.heap_fill);
  root_pop(4);
}

TEST_F(Bignum, BitsAcrossTheBoundaries) {
  std::vector<i128> xs = edge_values();
  for (i128 a : xs) {
    Value va = from128(a);
    root_push(&va);
    EXPECT_TRUE(Holds(int_lognot(va), ~a));
    EXPECT_TRUE(Holds(int_negate(va), -a));
    EXPECT_TRUE(Holds(int_abs(va), a < 0 ? -a : a));
    i128 m = a < 0 ? ~a : a;
    uint64_t length = 0, count = 0;
    for (int k = 0; k < 127; k++)
      if ((m >> k) & 1) length = k + 1, count++;
    EXPECT_EQ(int_length(va), length) << show128(a);
    EXPECT_EQ(int_logcount(va), count) << show128(a);
    for (uint64_t k : {0u, 23u, 63u, 64u, 100u, 126u, 127u, 5000u})
      EXPECT_EQ(int_logbitp(va, k), k < 127 ? bool((a >> k) & 1) : a < 0) << show128(a) << " " << k;
    for (int s : {1, 2, 23, 40, 63, 64, 65, 90, 126, 127, 128, 300}) {
      EXPECT_TRUE(Holds(int_shift(va, -s), s >= 127 ? (a < 0 ? -1 : 0) : a >> s))
          << show128(a) << " >> " << s;
      if (length + s < 127) {
        EXPECT_TRUE(Holds(int_shift(va, s), a * (i128(1) << s)));
      }
    }
    for (i128 b : xs) {
      Value vb = from128(b);
      root_push(&vb);
      for (uint32_t table = 0; table < 16; table++) {
        i128 want = 0;
        for (int k = 0; k < 4; k++) {
          if (!((table >> k) & 1)) continue;
          i128 x = (k & 2) ? a : ~a, y = (k & 1) ? b : ~b;
          want |= x & y;
        }
        EXPECT_TRUE(Holds(int_logical(va, vb, table), want)) << table;
      }
      root_pop();
    }
    root_pop();
  }
}

// ---------------------------------------------------------------------------
// Doubles

TEST_F(Bignum, DoublesRoundOnceAndCompareExactly) {
  const i128 P64 = i128(1) << 64;
  struct Row {
    i128 x;
    double d;
  };
  // 2^64 + 2^11 is halfway between two doubles: ties go to the even one; a
  // bit below the halfway point decides.
  for (Row r :
       std::initializer_list<Row>{{P64, 18446744073709551616.0},
                                  {P64 + 2048, 18446744073709551616.0},
                                  {P64 + 2049, 18446744073709555712.0},
                                  {P64 + 6144, 18446744073709559808.0},
                                  {-(P64 + 2049), -18446744073709555712.0},
                                  {(i128(1) << 100) - 1, 1267650600228229401496703205376.0}}) {
    bool overflow = true;
    Value v = from128(r.x);
    EXPECT_EQ(int_to_double(v, &overflow), r.d) << show128(r.x);
    EXPECT_FALSE(overflow);
  }
  Value big = int_shift(make_fixnum(1), 1024);
  root_push(&big);
  bool overflow = false;
  EXPECT_TRUE(std::isinf(int_to_double(big, &overflow)));
  EXPECT_TRUE(overflow);
  EXPECT_EQ(int_compare_double(big, 1.0e308), 1);
  EXPECT_EQ(int_compare_double(big, INFINITY), -1);
  EXPECT_EQ(int_compare_double(big, NAN), 2);
  Value divisor = int_shift(make_fixnum(3), 1020);
  EXPECT_EQ(int_ratio_double(big, divisor, &overflow), 16.0 / 3.0);
  EXPECT_FALSE(overflow);
  EXPECT_EQ(int_ratio_double(make_fixnum(1), big, &overflow), std::ldexp(1.0, -1024));
  root_pop();
  Value x = from128(P64 + 1);
  EXPECT_EQ(int_compare_double(x, 18446744073709551616.0), 1);
  EXPECT_EQ(int_compare_double(from128(P64), 18446744073709551616.0), 0);
  EXPECT_EQ(int_compare_double(from128(-P64 - 1), -18446744073709551616.0), -1);
  EXPECT_EQ(int_compare_double(from128(P64), -1.0), 1);
  EXPECT_EQ(int_compare_double(make_fixnum(3), 3.5), -1);
  // Doubles with no fractional part become exact integers.
  EXPECT_TRUE(Holds(int_from_double(-9223372036854775808.0), MIN64));
  EXPECT_TRUE(Holds(int_from_double(9223372036854775808.0), i128(1) << 63));
  EXPECT_TRUE(Holds(int_from_double(-18446744073709551616.0), -P64));
  EXPECT_TRUE(Holds(int_from_double(1.0e30), i128(1000000000000000019884624838656.0L)));
}

// ---------------------------------------------------------------------------
// Text

TEST_F(Bignum, DigitsInEveryBaseReadBack) {
  std::vector<i128> xs = edge_values();
  for (i128 a : xs) {
    for (uint32_t radix = 2; radix <= 36; radix++) {
      Value v = from128(a);
      uint32_t len;
      const char* text = int_digits(v, radix, &len);
      std::string digits(text, len);
      // The digits by 128-bit division, for comparison.
      unsigned __int128 m = a < 0 ? 0 - (unsigned __int128)a : (unsigned __int128)a;
      std::string want;
      do {
        int d = int(m % radix);
        want.insert(want.begin(), char(d < 10 ? '0' + d : 'a' + d - 10));
        m /= radix;
      } while (m);
      EXPECT_EQ(digits, want) << show128(a) << " in base " << radix;
      std::vector<uint8_t> w;
      for (char c : digits) w.push_back(uint8_t(c <= '9' ? c - '0' : c - 'a' + 10));
      EXPECT_TRUE(Holds(int_from_digits(w.data(), uint32_t(w.size()), radix, a < 0), a));
    }
  }
  // Leading zeros, and a long number through the subquadratic conversion.
  uint8_t zeros[40] = {};
  zeros[39] = 7;
  EXPECT_EQ(int_from_digits(zeros, 40, 10, true), make_fixnum(-7));
  std::vector<uint8_t> nines(20000, 9);
  Value big = int_from_digits(nines.data(), uint32_t(nines.size()), 10, false);
  uint32_t len;
  const char* d = int_digits(big, 10, &len);
  EXPECT_EQ(len, 20000u);
  EXPECT_EQ(std::string(d, len), std::string(20000, '9'));
}

// ---------------------------------------------------------------------------
// Roots, powers, random numbers, hashing

TEST_F(Bignum, RootsPowersAndRandomNumbers) {
  EXPECT_TRUE(Holds(int_isqrt(from128((i128(1) << 126) - 1)), (i128(1) << 63) - 1));
  EXPECT_TRUE(Holds(int_isqrt(from128(i128(1) << 126)), i128(1) << 63));
  EXPECT_TRUE(Holds(int_isqrt(from128(i128(MAX64) * MAX64)), MAX64));
  i128 p = 1;
  for (int e = 1; e < 80; e++) {
    p *= -3;
    EXPECT_TRUE(Holds(int_power(make_fixnum(-3), e), p)) << e;
  }
  EXPECT_TRUE(Holds(int_power(from128(i128(1) << 63), 1), i128(1) << 63));
  // A draw below a bignum limit covers the limit's range.
  Value limit = from128(i128(1) << 100);
  root_push(&limit);
  static uint32_t state = 7;
  auto draw = []() -> uint32_t {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFF;
  };
  bool high = false;
  for (int i = 0; i < 20; i++) {
    Value r = int_random_below(limit, draw);
    EXPECT_FALSE(int_minusp(r));
    EXPECT_LT(int_compare(r, limit), 0);
    high = high || int_length(r) > 90;
  }
  EXPECT_TRUE(high);
  root_pop();
  // Hashing: a 64-bit integer's two words, a bignum's every word.
  EXPECT_EQ(int_hash(from128(MAX64)), 0xFFFFFFFFu + 0x7FFFFFFFu);
  EXPECT_EQ(int_hash(from128(i128(3) << 64 | 5)), 8u);
}

// A result too long for any object is error 36, with nothing allocated.
TEST_F(Bignum, ResultsBeyondAnyObjectAreHeapExhaustion) {
  uint32_t fill = zvm.heap_fill;
  EXPECT_EQ(TRAP_ERROR(int_shift(make_fixnum(1), 64 * uint64_t(INT_MAX_LIMBS))), ERR_HEAP_FULL);
  EXPECT_EQ(TRAP_ERROR(int_shift(make_fixnum(-1), 64 * uint64_t(INT_MAX_LIMBS) + 5)),
            ERR_HEAP_FULL);
  EXPECT_EQ(zvm.heap_fill, fill);
}

// ---------------------------------------------------------------------------
// Complex numbers with wide parts

TEST_F(Bignum, WideComplexParts) {
  Value re = from128(i128(1) << 70), im = make_fixnum(-3);
  root_push(&re);
  Value c = int_make_complex(re, im);
  root_push(&c);
  EXPECT_EQ(tag_of(c), TAG_COMPLEX);
  EXPECT_TRUE(int_complex_is_wide(c));
  EXPECT_TRUE(Holds(int_complex_part(c, 0), i128(1) << 70));
  EXPECT_TRUE(Holds(int_complex_part(c, 1), -3));
  EXPECT_EQ(int_complex_low_limb(c, 1), Limb(-3));
  uint32_t len;
  bool negative;
  const char* d = int_complex_part_digits(c, 0, 16, &len, &negative);
  EXPECT_EQ(std::string(d, len), "400000000000000000");
  EXPECT_FALSE(negative);
  // Parts within 64 bits keep the old layout; a zero imaginary part gives
  // the real part.
  EXPECT_FALSE(int_complex_is_wide(int_make_complex(from128(MIN64), make_fixnum(1))));
  EXPECT_EQ(int_make_complex(re, make_fixnum(0)), re);
  root_pop(2);
}

}  // namespace
