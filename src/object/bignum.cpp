// Integers of any size: the limb layer over GMP's mpn functions.
//
// The general pattern: take the thread's scratch limbs once, copy the
// arguments' limbs into it (two's complement for addition and the bit
// operations, sign and magnitude for the rest), compute there, and make
// the result with one of the normalising constructors, which allocate last
// and never touch the scratch.  Sums, differences and products of
// non-negative integers allocate first instead and let GMP work on the
// heap's limbs directly (see "Results made where they are kept").  Either
// way nothing allocates while GMP holds a pointer.
#include "object/bignum.h"

#include <gmp.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

#include "object/error_hook.h"
#include "object/memory.h"
#include "object/thread.h"
#include "threads/safepoint.h"

static_assert(std::is_same_v<Limb, mp_limb_t> && GMP_NUMB_BITS == 64,
              "limbs are GMP's 64-bit limbs without nail bits");

namespace {

// ---------------------------------------------------------------------------
// Scratch storage, one block of limbs and one of characters per thread.  A
// block that grew large for one big number is given back when a much
// smaller one will do.

template <class T>
struct ScratchBlock {
  T* p = nullptr;
  uint64_t cap = 0;
  ~ScratchBlock() { std::free(p); }
  T* take(uint64_t n) {
    if (n <= cap && !(cap > (uint64_t(1) << 17) && n < cap / 8)) return p;
    // Growing doubles, so numbers that grow a limb at a time do not
    // reallocate at every step.
    uint64_t want = n > cap ? std::max(n, 2 * cap) : 2 * n;
    if (want < 256) want = 256;
    std::free(p);
    p = static_cast<T*>(std::malloc(want * sizeof(T)));
    cap = p ? want : 0;
    if (!p) {
      std::fputs("Out of memory for integer arithmetic\n", stderr);
      std::exit(1);
    }
    return p;
  }
};

thread_local ScratchBlock<Limb> limb_scratch;
thread_local ScratchBlock<char> char_scratch;

constexpr Limb ALL_ONES = ~Limb(0);
inline Limb sign_mask(Limb top) { return int64_t(top) < 0 ? ALL_ONES : 0; }

// v's two's complement limbs, sign-extended to n >= int_size(v) limbs.
void load_twos(Value v, Limb* dst, uint32_t n) {
  uint32_t m = int_size(v);
  if (is_fixnum(v))
    dst[0] = Limb(int64_t(fixnum_value(v)));
  else
    std::memcpy(dst, heap_data(v), 8u * m);
  Limb ext = sign_mask(dst[m - 1]);
  for (uint32_t i = m; i < n; i++) dst[i] = ext;
}

// v's magnitude in int_size(v) limbs of dst; returns its length without
// high zero limbs (0 for zero).
uint32_t load_magnitude(Value v, Limb* dst, bool* negative) {
  uint32_t m = int_size(v);
  load_twos(v, dst, m);
  *negative = int64_t(dst[m - 1]) < 0;
  if (*negative) mpn_neg(dst, dst, m);
  while (m && dst[m - 1] == 0) m--;
  return m;
}

inline uint32_t strip(const Limb* p, uint32_t n) {
  while (n && p[n - 1] == 0) n--;
  return n;
}

// A boxed integer of n >= 2 limbs, data not yet written.
Value alloc_limbs(uint32_t n) {
  if (n > INT_MAX_LIMBS) {
    zv_error(ERR_HEAP_FULL);
    return make_fixnum(0);
  }
  return heap_allocate(8 + 8 * n, HDR_ONE_DIM | (8 * n), HT_INT64, TAG_INT64);
}

inline void store_limb(Value v, uint32_t i, Limb x) { std::memcpy(heap_data(v) + 8 * i, &x, 8); }

// The leading 64 bits of a magnitude of mn >= 1 limbs, with the bits
// below folded into a sticky lowest bit so that a conversion to double
// rounds once, correctly; the magnitude is that number times 2^*exponent.
Limb leading_bits(const Limb* s, uint32_t mn, int64_t* exponent) {
  Limb top = s[mn - 1];
  int lz = std::countl_zero(top);
  Limb hi = top << lz;
  bool sticky = false;
  if (mn >= 2) {
    Limb next = s[mn - 2];
    if (lz) {
      hi |= next >> (64 - lz);
      sticky = (next << lz) != 0;
    } else {
      sticky = next != 0;
    }
    for (uint32_t i = 0; !sticky && i + 2 < mn; i++) sticky = s[i] != 0;
  }
  *exponent = int64_t(64) * mn - lz - 64;
  return hi | Limb(sticky);
}

double leading_double(const Limb* s, uint32_t mn, int64_t* exponent) {
  return double(leading_bits(s, mn, exponent));
}

}  // namespace

Limb* int_scratch(uint64_t limbs) { return limb_scratch.take(limbs); }

// ---------------------------------------------------------------------------
// Constructors

Value int_from_twos(const Limb* p, uint32_t n) {
  while (n > 1 && p[n - 1] == sign_mask(p[n - 2])) n--;
  if (n == 1) return mem_make_integer(int64_t(p[0]));
  Value v = alloc_limbs(n);
  std::memcpy(heap_data(v), p, 8u * n);
  return v;
}

Value int_from_magnitude(const Limb* p, uint32_t n, bool negative) {
  n = strip(p, n);
  if (n == 0) return make_fixnum(0);
  Limb top = p[n - 1];
  if (!negative) {
    if (n == 1 && int64_t(top) >= 0) return mem_make_integer(int64_t(top));
    uint32_t m = int64_t(top) < 0 ? n + 1 : n;
    Value v = alloc_limbs(m);
    std::memcpy(heap_data(v), p, 8u * n);
    if (m > n) store_limb(v, n, 0);
    return v;
  }
  // -|x| takes n limbs when |x| <= 2^(64n - 1), else one more.
  bool fits = int64_t(top) >= 0;
  if (!fits && top == (Limb(1) << 63)) {
    fits = true;
    for (uint32_t i = 0; i + 1 < n; i++)
      if (p[i]) fits = false;
  }
  if (n == 1 && fits) return mem_make_integer(int64_t(0 - top));
  uint32_t m = fits ? n : n + 1;
  Value v = alloc_limbs(m);
  Limb carry = 1;
  for (uint32_t i = 0; i < n; i++) {
    Limb x = ~p[i] + carry;
    carry = carry && x == 0;
    store_limb(v, i, x);
  }
  if (m > n) store_limb(v, n, ALL_ONES);
  return v;
}

// ---------------------------------------------------------------------------
// Arithmetic

namespace {
// Sums and differences in two's complement, one limb wider than the wider
// argument, so nothing is lost.
Value add_or_subtract(Value a, Value b, bool subtract) {
  uint32_t n = std::max(int_size(a), int_size(b)) + 1;
  Limb* s = int_scratch(2 * uint64_t(n));
  load_twos(a, s, n);
  load_twos(b, s + n, n);
  if (subtract)
    mpn_sub_n(s, s, s + n, n);
  else
    mpn_add_n(s, s, s + n, n);
  return int_from_twos(s, n);
}

// ---------------------------------------------------------------------------
// Results made where they are kept
//
// Sums, differences and products of non-negative integers, the bulk of the
// work of programs over large numbers, skip the copies: the result is
// allocated first, its limbs on an 8-byte boundary when the heap allows,
// and then GMP reads the arguments' limbs and writes the result's where
// they lie.  Nothing allocates while it runs, so nothing moves.  Limbs off
// such a boundary (an object the collector slid) go through the scratch.

// r (ma + mb limbs) = the product of the magnitudes, both nonzero; a square
// when they are one number.
void multiply_magnitudes(Limb* r, const Limb* xa, uint32_t ma, const Limb* xb, uint32_t mb,
                         bool square) {
  if (square)
    mpn_sqr(r, xa, ma);
  else if (ma >= mb)
    mpn_mul(r, xa, ma, xb, mb);
  else
    mpn_mul(r, xb, mb, xa, ma);
}

inline bool limb_aligned(const uint8_t* p) {
  return reinterpret_cast<uintptr_t>(p) % alignof(Limb) == 0;
}

// A boxed integer of n >= 2 limbs, data not yet written, after a filler
// that puts its limbs on an 8-byte boundary if the fill pointer is off one
// (the lock keeps other allocations from coming between; a collection in
// between may still leave it off, which costs only a copy).  n is within
// INT_MAX_LIMBS, so only the collector signals, and it gives the lock up
// first.
Value alloc_limbs_aligned(uint32_t n) {
  world_lock();
  uint32_t off = uint32_t((reinterpret_cast<uintptr_t>(zvm.heap_base) + zvm.heap_fill + 8) % 8);
  if (off) mem_alloc_bytes(8 - off);  // a dead object of 10, 12 or 14 bytes
  Value v = alloc_limbs(n);
  world_unlock();
  return v;
}

// The limbs of non-negative v for GMP: where they lie when aligned, else
// copied to `spill` (int_size(v) limbs).  *n: the length without high
// zero limbs.
const Limb* nonnegative_limbs(Value v, Limb* spill, uint32_t* n) {
  uint32_t m = int_size(v);
  const Limb* p = spill;
  if (is_fixnum(v))
    spill[0] = Limb(fixnum_value(v));
  else if (limb_aligned(heap_data(v)))
    p = reinterpret_cast<const Limb*>(heap_data(v));
  else
    std::memcpy(spill, heap_data(v), 8u * m);
  *n = strip(p, m);
  return p;
}

// Where a result of v's n limbs is written: v's limbs, or the scratch when
// they are off the boundary.
Limb* result_limbs(Value v, Limb* spill) {
  return limb_aligned(heap_data(v)) ? reinterpret_cast<Limb*>(heap_data(v)) : spill;
}

// Finish v (n limbs, just made) holding the non-negative magnitude r of
// len limbs (r written there or in the scratch): the normalised integer,
// v cut to its length, the limbs cut off made a filler.
Value finish_nonnegative(Value v, uint32_t n, const Limb* r, uint32_t len) {
  len = strip(r, len);
  if (len == 0) return make_fixnum(0);
  if (len == 1 && int64_t(r[0]) >= 0) return mem_make_integer(int64_t(r[0]));  // v is left dead
  if (r != reinterpret_cast<const Limb*>(heap_data(v))) std::memcpy(heap_data(v), r, 8u * len);
  uint32_t m = int64_t(r[len - 1]) < 0 ? len + 1 : len;
  if (m > len) store_limb(v, len, 0);
  if (m < n) {
    heap_set_hdr1(v, HDR_ONE_DIM | (8 * m));
    uint8_t* filler = heap_data(v) + 8 * m;
    store_u32(filler, HT_BYTES);
    store_u32(filler + 4, 8 * (n - m) - 8);
  }
  return v;
}

// The result object of n limbs for an operation on a and b, which stay
// rooted while it is allocated; NO_VALUE when n is beyond the limit (the
// general path reports it).
Value alloc_result(uint64_t n, Value* a, Value* b) {
  if (n > INT_MAX_LIMBS) return NO_VALUE;
  root_push(a);
  root_push(b);
  Value v = alloc_limbs_aligned(uint32_t(n));
  root_pop(2);
  return v;
}

// The bits of non-negative v.
uint64_t nonnegative_bits(Value v) {
  uint32_t m = int_size(v);
  while (m > 1 && int_limb(v, m - 1) == 0) m--;
  return 64 * uint64_t(m - 1) + uint64_t(std::bit_width(int_limb(v, m - 1)));
}

// Limbs for a non-negative result of at most `bits` bits, its sign bit
// included: the exact length unless the result falls short of its bound,
// so that a cut (and a filler) is rare.
uint64_t limbs_for_bits(uint64_t bits) { return std::max<uint64_t>(bits / 64 + 1, 2); }

// a + b, or a - b when a >= b, for non-negative a and b.  GMP writes as
// many limbs as the longer argument has and hands back the carry, which
// the bound leaves room for whenever it is not zero.
Value add_or_subtract_nonnegative(Value a, Value b, bool subtract) {
  uint64_t ba = nonnegative_bits(a), bb = nonnegative_bits(b);
  uint64_t n = limbs_for_bits(subtract ? ba : std::max(ba, bb) + 1);
  uint32_t sa = int_size(a), sb = int_size(b);
  Value v = alloc_result(n, &a, &b);
  if (is_no_value(v)) return add_or_subtract(a, b, subtract);
  Limb* s = int_scratch(uint64_t(sa) + sb + n);
  uint32_t ma, mb;
  const Limb* xa = nonnegative_limbs(a, s, &ma);
  const Limb* xb = nonnegative_limbs(b, s + sa, &mb);
  Limb* r = result_limbs(v, s + sa + sb);
  if (!subtract && ma < mb) {
    std::swap(xa, xb);
    std::swap(ma, mb);
  }
  Limb carry = 0;
  if (mb == 0)
    std::memcpy(r, xa, 8u * ma);
  else if (subtract)
    mpn_sub(r, xa, ma, xb, mb);
  else
    carry = mpn_add(r, xa, ma, xb, mb);
  uint32_t len = ma;
  if (carry) r[len++] = carry;
  return finish_nonnegative(v, uint32_t(n), r, len);
}

Value multiply_nonnegative(Value a, Value b) {
  uint64_t ba = nonnegative_bits(a), bb = nonnegative_bits(b);
  if (ba == 0 || bb == 0) return make_fixnum(0);
  uint64_t n = limbs_for_bits(ba + bb);
  uint32_t sa = int_size(a), sb = int_size(b);
  // A product of two many-limb numbers is written in full, ma + mb limbs.
  uint64_t full = (ba + 63) / 64 + (bb + 63) / 64;
  if (ba > 64 && bb > 64) n = std::max(n, full);
  Value v = alloc_result(n, &a, &b);
  if (is_no_value(v)) return NO_VALUE;
  Limb* s = int_scratch(uint64_t(sa) + sb + n);
  uint32_t ma, mb;
  const Limb* xa = nonnegative_limbs(a, s, &ma);
  const Limb* xb = nonnegative_limbs(b, s + sa, &mb);
  Limb* r = result_limbs(v, s + sa + sb);
  uint32_t len;
  if (ma == 1 || mb == 1) {
    // By one limb: GMP writes the longer one's length and the carry.
    if (ma == 1) {
      std::swap(xa, xb);
      std::swap(ma, mb);
    }
    Limb carry = mpn_mul_1(r, xa, ma, xb[0]);
    len = ma;
    if (carry) r[len++] = carry;
  } else {
    multiply_magnitudes(r, xa, ma, xb, mb, a == b);
    len = ma + mb;
  }
  return finish_nonnegative(v, uint32_t(n), r, len);
}
}  // namespace

Value int_add(Value a, Value b) {
  if (!int_minusp(a) && !int_minusp(b)) return add_or_subtract_nonnegative(a, b, false);
  return add_or_subtract(a, b, false);
}

Value int_sub(Value a, Value b) {
  if (!int_minusp(a) && !int_minusp(b) && int_compare(a, b) >= 0)
    return add_or_subtract_nonnegative(a, b, true);
  return add_or_subtract(a, b, true);
}

Value int_negate(Value a) {
  uint32_t n = int_size(a) + 1;
  Limb* s = int_scratch(n);
  load_twos(a, s, n);
  mpn_neg(s, s, n);
  return int_from_twos(s, n);
}

Value int_abs(Value a) { return int_minusp(a) ? int_negate(a) : a; }

Value int_mul(Value a, Value b) {
  if (!int_minusp(a) && !int_minusp(b)) {
    Value v = multiply_nonnegative(a, b);
    if (!is_no_value(v)) return v;
  }
  uint64_t na = int_size(a), nb = int_size(b);
  if (na + nb > uint64_t(INT_MAX_LIMBS) + 1) {
    zv_error(ERR_HEAP_FULL);
    return make_fixnum(0);
  }
  Limb* s = int_scratch(2 * (na + nb));
  Limb *xa = s, *xb = s + na, *r = s + na + nb;
  bool nega, negb;
  uint32_t ma = load_magnitude(a, xa, &nega);
  uint32_t mb = load_magnitude(b, xb, &negb);
  if (ma == 0 || mb == 0) return make_fixnum(0);
  multiply_magnitudes(r, xa, ma, xb, mb, a == b);
  return int_from_magnitude(r, ma + mb, nega != negb);
}

int int_compare(Value a, Value b) {
  if (a == b) return 0;
  bool na = int_minusp(a), nb = int_minusp(b);
  if (na != nb) return na ? -1 : 1;
  uint32_t sa = int_size(a), sb = int_size(b);
  // Normalised: more limbs means a larger magnitude.
  if (sa != sb) return (sa > sb) != na ? 1 : -1;
  for (uint32_t i = sa; i-- > 0;) {
    Limb x = int_limb(a, i), y = int_limb(b, i);
    if (x != y) return x < y ? -1 : 1;  // same sign: unsigned order is right
  }
  return 0;
}

bool int_same(Value a, Value b) {
  if (a == b) return true;
  if (tag_of(a) != TAG_INT64 || tag_of(b) != TAG_INT64) return false;
  uint32_t n = heap_length(a);
  return heap_length(b) == n && std::memcmp(heap_data(a), heap_data(b), n) == 0;
}

void int_divide(Value a, Value b, int rounding, IntNative* q, IntNative* r) {
  uint64_t na = int_size(a), nb = int_size(b);
  Limb* s = int_scratch(2 * na + 3 * nb + 4);
  Limb *xa = s, *xb = xa + na, *qp = xb + nb, *rp = qp + na + 2, *tp = rp + nb + 1;
  bool nega, negb;
  uint32_t ma = load_magnitude(a, xa, &nega);
  uint32_t mb = load_magnitude(b, xb, &negb);
  uint32_t qn, rn;
  if (ma < mb) {
    qn = 0;
    std::memcpy(rp, xa, 8u * ma);
    rn = ma;
  } else {
    mpn_tdiv_qr(qp, rp, 0, xa, ma, xb, mb);
    qn = strip(qp, ma - mb + 1);
    rn = strip(rp, mb);
  }
  bool qneg = nega != negb, rneg = nega;
  const Limb* rfinal = rp;
  if (rn && rounding) {
    // tp = |b| - |r|, the remainder's magnitude after rounding away from 0.
    mpn_sub(tp, xb, mb, rp, rn);
    uint32_t tn = strip(tp, mb);
    bool away;
    if (rounding == 1) {
      away = qneg;
    } else if (rounding == 2) {
      away = !qneg;
    } else {
      int c = rn != tn ? (rn > tn ? 1 : -1) : mpn_cmp(rp, tp, rn);
      away = c > 0 || (c == 0 && qn && (qp[0] & 1));
    }
    if (away) {
      if (qn == 0) {
        qp[0] = 1;
        qn = 1;
      } else if (mpn_add_1(qp, qp, qn, 1)) {
        qp[qn++] = 1;
      }
      rfinal = tp;
      rn = tn;
      rneg = qneg ? negb : !negb;
    }
  }
  *q = IntNative{qp, qn, qneg};
  *r = IntNative{rfinal, rn, rneg};
}

// ---------------------------------------------------------------------------
// Bits

Value int_logical(Value a, Value b, uint32_t table) {
  uint32_t n = std::max(int_size(a), int_size(b));
  Limb* s = int_scratch(2 * uint64_t(n));
  load_twos(a, s, n);
  load_twos(b, s + n, n);
  Limb t0 = (table & 1) ? ALL_ONES : 0, t1 = (table & 2) ? ALL_ONES : 0;
  Limb t2 = (table & 4) ? ALL_ONES : 0, t3 = (table & 8) ? ALL_ONES : 0;
  for (uint32_t i = 0; i < n; i++) {
    Limb x = s[i], y = s[n + i];
    s[i] = (t0 & ~x & ~y) | (t1 & ~x & y) | (t2 & x & ~y) | (t3 & x & y);
  }
  return int_from_twos(s, n);
}

Value int_lognot(Value a) {
  uint32_t n = int_size(a);
  Limb* s = int_scratch(n);
  load_twos(a, s, n);
  for (uint32_t i = 0; i < n; i++) s[i] = ~s[i];
  return int_from_twos(s, n);
}

Value int_shift(Value a, int64_t count) {
  uint32_t m = int_size(a);
  if (count >= 0) {
    uint64_t w = uint64_t(count) / 64, bits = uint64_t(count) % 64;
    uint64_t n = m + w + 1;
    if (n > uint64_t(INT_MAX_LIMBS) + 1) {
      zv_error(ERR_HEAP_FULL);
      return make_fixnum(0);
    }
    Limb* s = int_scratch(n);
    std::memset(s, 0, 8 * w);
    load_twos(a, s + w, uint32_t(n - w));
    if (bits) mpn_lshift(s + w, s + w, n - w, unsigned(bits));
    return int_from_twos(s, uint32_t(n));
  }
  uint64_t c = 0 - uint64_t(count);
  bool negative = int_minusp(a);
  if (c >= 64 * uint64_t(m)) return make_fixnum(negative ? -1 : 0);
  uint32_t w = uint32_t(c / 64), bits = uint32_t(c % 64), k = m - w;
  Limb* s = int_scratch(m);
  load_twos(a, s, m);
  if (bits) {
    mpn_rshift(s, s + w, k, bits);
    if (negative) s[k - 1] |= ALL_ONES << (64 - bits);
  } else if (w) {
    std::memmove(s, s + w, 8u * k);
  }
  return int_from_twos(s, k);
}

bool int_logbitp(Value a, uint64_t index) {
  uint64_t w = index / 64;
  Limb x = w >= int_size(a) ? sign_mask(int_limb(a, int_size(a) - 1)) : int_limb(a, uint32_t(w));
  return (x >> (index % 64)) & 1;
}

uint64_t int_logcount(Value a) {
  uint32_t n = int_size(a);
  Limb ext = int_minusp(a) ? ALL_ONES : 0;
  uint64_t count = 0;
  for (uint32_t i = 0; i < n; i++) count += std::popcount(int_limb(a, i) ^ ext);
  return count;
}

uint64_t int_length(Value a) {
  uint32_t n = int_size(a);
  Limb ext = int_minusp(a) ? ALL_ONES : 0;
  for (uint32_t i = n; i-- > 0;) {
    Limb x = int_limb(a, i) ^ ext;
    if (x) return 64 * uint64_t(i) + 64 - std::countl_zero(x);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Roots, powers, random numbers

Value int_isqrt(Value a) {
  uint32_t m = int_size(a);
  Limb* s = int_scratch(2 * uint64_t(m) + 2);
  bool negative;
  uint32_t mn = load_magnitude(a, s, &negative);
  if (mn == 0) return make_fixnum(0);
  Limb* root = s + m;
  mpn_sqrtrem(root, nullptr, s, mn);
  return int_from_magnitude(root, (mn + 1) / 2, false);
}

// Right to left: r collects the powers of the base that e's bits select.
// A product of limb counts sums their lengths, and no factor is ever more
// than the result, so every buffer holds base-length x e bits plus three
// limbs.
Value int_power(Value base, uint64_t e) {
  uint32_t m = int_size(base);
  uint64_t bits = int_length(base) + 1;
  uint64_t bound = bits * e / 64 + 3;
  Limb* s = int_scratch(m + 3 * bound);
  bool negative;
  uint32_t mn = load_magnitude(base, s, &negative);
  negative = negative && (e & 1);
  if (mn == 0) return make_fixnum(0);
  Limb *r = s + m, *sq = r + bound, *t = sq + bound;
  r[0] = 1;
  uint64_t rn = 1, sn = mn;
  std::memcpy(sq, s, 8u * mn);
  for (;;) {
    if (e & 1) {
      if (rn >= sn)
        mpn_mul(t, r, rn, sq, sn);
      else
        mpn_mul(t, sq, sn, r, rn);
      rn = strip(t, uint32_t(rn + sn));
      std::swap(r, t);
    }
    e >>= 1;
    if (!e) break;
    mpn_sqr(t, sq, sn);
    sn = strip(t, uint32_t(2 * sn));
    std::swap(sq, t);
  }
  return int_from_magnitude(r, uint32_t(rn), negative);
}

Value int_random_below(Value limit, uint32_t (*draw)()) {
  uint32_t m = int_size(limit);
  Limb* s = int_scratch(4 * uint64_t(m) + 8);
  bool negative;
  uint32_t ln = load_magnitude(limit, s, &negative);
  Limb *x = s + m, *q = x + m + 1, *r = q + m + 3;
  // One limb more than the limit: the remainder's bias is below 2^-64.
  for (uint32_t i = 0; i <= ln; i++) {
    Limb w = 0;
    for (int k = 0; k < 5; k++) w = (w << 15) | draw();
    x[i] = w;
  }
  mpn_tdiv_qr(q, r, 0, x, ln + 1, s, ln);
  return int_from_magnitude(r, ln, false);
}

// ---------------------------------------------------------------------------
// Doubles

double int_to_double(Value a, bool* overflow) {
  *overflow = false;
  int64_t x;
  if (int_get_int64(a, &x)) return double(x);
  Limb* s = int_scratch(int_size(a));
  bool negative;
  uint32_t mn = load_magnitude(a, s, &negative);
  int64_t e;
  double d = leading_double(s, mn, &e);
  d = std::ldexp(d, e > 100000 ? 100000 : int(e));
  if (std::isinf(d)) *overflow = true;
  return negative ? -d : d;
}

double int_leading_double(Value a, int64_t* exponent) {
  Limb* s = int_scratch(int_size(a));
  bool negative;
  uint32_t mn = load_magnitude(a, s, &negative);
  return leading_double(s, mn, exponent);
}

double int_ratio_double(Value a, Value b, bool* overflow) {
  *overflow = false;
  uint32_t na = int_size(a), nb = int_size(b);
  Limb* s = int_scratch(uint64_t(na) + nb);
  bool nega, negb;
  uint32_t ma = load_magnitude(a, s, &nega);
  uint32_t mb = load_magnitude(b, s + na, &negb);
  if (ma == 0) return (nega != negb) ? -0.0 : 0.0;
  // The leading 64 bits of each, with their sticky bits, are exact in a
  // long double; their quotient is rounded once there and once to double.
  int64_t ea, eb;
  long double la = leading_bits(s, ma, &ea), lb = leading_bits(s + na, mb, &eb);
  int64_t e = ea - eb;
  if (e > 100000) e = 100000;
  if (e < -100000) e = -100000;
  double d = double(std::ldexp(la / lb, int(e)));
  if (std::isinf(d)) *overflow = true;
  return nega != negb ? -d : d;
}

Value int_from_double(double d) {
  if (d > -9223372036854775808.0 && d < 9223372036854775808.0) return mem_make_integer(int64_t(d));
  int e;
  double f = std::frexp(std::fabs(d), &e);  // |d| = f x 2^e, 0.5 <= f < 1
  Limb mant = Limb(std::ldexp(f, 53));
  uint32_t shift = uint32_t(e - 53);
  uint32_t n = uint32_t(e) / 64 + 2;
  Limb* s = int_scratch(n);
  std::memset(s, 0, 8u * n);
  uint32_t w = shift / 64, bits = shift % 64;
  s[w] = mant << bits;
  if (bits) s[w + 1] = mant >> (64 - bits);
  return int_from_magnitude(s, n, d < 0);
}

int int_compare_double(Value a, double d) {
  if (std::isnan(d)) return 2;
  if (std::isinf(d)) return d > 0 ? -1 : 1;
  uint32_t m = int_size(a);
  Limb* s = int_scratch(m);
  bool negative;
  uint32_t mn = load_magnitude(a, s, &negative);
  if (mn == 0) return d > 0 ? -1 : d < 0 ? 1 : 0;
  if (d == 0 || negative != (d < 0)) return negative ? -1 : 1;
  // Same sign: compare the magnitudes.
  uint64_t bits = 64 * uint64_t(mn) - std::countl_zero(s[mn - 1]);
  int e;
  double f = std::frexp(std::fabs(d), &e);
  int c;
  if (e <= 0 || bits != uint64_t(e)) {
    c = e <= 0 || bits > uint64_t(e) ? 1 : -1;
  } else if (e <= 53) {
    double x = double(s[0]);  // at most 53 bits: exact
    double y = std::fabs(d);
    c = x < y ? -1 : x > y ? 1 : 0;
  } else {
    // |d| = mant x 2^shift exactly; compare |a| >> shift, then the rest.
    Limb mant = Limb(std::ldexp(f, 53));
    uint32_t shift = uint32_t(e - 53), w = shift / 64, b = shift % 64;
    Limb top = s[w] >> b;
    if (b && w + 1 < mn) top |= s[w + 1] << (64 - b);
    bool rest = b && (s[w] & ((Limb(1) << b) - 1));
    for (uint32_t i = 0; !rest && i < w; i++) rest = s[i] != 0;
    c = top > mant ? 1 : top < mant ? -1 : rest ? 1 : 0;
  }
  return negative ? -c : c;
}

// ---------------------------------------------------------------------------
// Text and hashing

namespace {
// The digits of a magnitude of mn limbs (clobbered); s has mn + 1 limbs.
const char* magnitude_digits(Limb* s, uint32_t mn, uint32_t radix, uint32_t* len) {
  if (mn == 0) {
    *len = 1;
    return "0";
  }
  uint64_t cap = uint64_t(64.0 * mn / std::log2(double(radix))) + 4;
  char* out = char_scratch.take(cap);
  size_t n = mpn_get_str(reinterpret_cast<unsigned char*>(out), int(radix), s, mn);
  size_t i = 0;
  while (i + 1 < n && out[i] == 0) i++;
  for (size_t k = i; k < n; k++) out[k] = char(out[k] < 10 ? '0' + out[k] : 'a' + out[k] - 10);
  *len = uint32_t(n - i);
  return out + i;
}
}  // namespace

const char* int_digits(Value a, uint32_t radix, uint32_t* len) {
  Limb* s = int_scratch(uint64_t(int_size(a)) + 1);
  bool negative;
  uint32_t mn = load_magnitude(a, s, &negative);
  return magnitude_digits(s, mn, radix, len);
}

Value int_from_digits(const uint8_t* weights, uint32_t n, uint32_t radix, bool negative) {
  uint64_t limbs = uint64_t(double(n) * std::log2(double(radix)) / 64) + 2;
  if (limbs > uint64_t(INT_MAX_LIMBS) + 2) {
    zv_error(ERR_HEAP_FULL);
    return make_fixnum(0);
  }
  Limb* s = int_scratch(limbs);
  mp_size_t rn = mpn_set_str(s, weights, n, int(radix));
  return int_from_magnitude(s, uint32_t(rn), negative);
}

uint32_t int_hash(Value a) {
  uint32_t n = int_size(a), h = 0;
  for (uint32_t i = 0; i < n; i++) {
    Limb x = int_limb(a, i);
    h += uint32_t(x) + uint32_t(x >> 32);
  }
  return h;
}

// ---------------------------------------------------------------------------
// Complex numbers with integer parts

Value int_make_complex(Value re, Value im) {
  if (im == make_fixnum(0)) return re;
  int64_t x, y;
  if (int_get_int64(re, &x) && int_get_int64(im, &y)) return mem_make_complex_int(x, y);
  uint32_t nr = int_size(re), ni = int_size(im);
  uint32_t bytes = 8 * (1 + nr + ni);
  Limb* s = int_scratch(uint64_t(nr) + ni);
  load_twos(re, s, nr);
  load_twos(im, s + nr, ni);
  if (bytes > 0xFFFFF0) {
    zv_error(ERR_HEAP_FULL);
    return make_fixnum(0);
  }
  Value v = heap_allocate(8 + bytes, HDR_ONE_DIM | bytes, HT_INT64, TAG_COMPLEX);
  store_limb(v, 0, nr);
  std::memcpy(heap_data(v) + 8, s, 8 * (uint64_t(nr) + ni));
  return v;
}

namespace {
// Where a part of a wide complex lies: its first limb and its limb count.
void wide_part(Value c, int imag, uint32_t* first, uint32_t* n) {
  Limb nr;
  std::memcpy(&nr, heap_data(c), 8);
  uint32_t total = heap_length(c) / 8 - 1;
  *first = imag ? 1 + uint32_t(nr) : 1;
  *n = imag ? total - uint32_t(nr) : uint32_t(nr);
}
}  // namespace

Value int_complex_part(Value c, int imag) {
  if (!int_complex_is_wide(c)) {
    int64_t x;
    std::memcpy(&x, heap_data(c) + 8 * imag, 8);
    return mem_make_integer(x);
  }
  uint32_t first, n;
  wide_part(c, imag, &first, &n);
  Limb* s = int_scratch(n);
  std::memcpy(s, heap_data(c) + 8 * first, 8u * n);
  return int_from_twos(s, n);
}

Limb int_complex_low_limb(Value c, int imag) {
  uint32_t first = uint32_t(imag), n;
  if (int_complex_is_wide(c)) wide_part(c, imag, &first, &n);
  Limb x;
  std::memcpy(&x, heap_data(c) + 8 * first, 8);
  return x;
}

const char* int_complex_part_digits(Value c, int imag, uint32_t radix, uint32_t* len,
                                    bool* negative) {
  uint32_t first = uint32_t(imag), n = 1;
  if (int_complex_is_wide(c)) wide_part(c, imag, &first, &n);
  Limb* s = int_scratch(uint64_t(n) + 1);
  std::memcpy(s, heap_data(c) + 8 * first, 8u * n);
  *negative = int64_t(s[n - 1]) < 0;
  if (*negative) mpn_neg(s, s, n);
  return magnitude_digits(s, strip(s, n), radix, len);
}
