// Value encoding and the value check.
#include <gtest/gtest.h>
#include <unistd.h>

#include "world_fixture.h"

class ValueTest : public ::testing::Test {
 protected:
  void SetUp() override { test_world_init(); }
};

TEST_F(ValueTest, FixnumBoundsAndNormalisation) {
  EXPECT_EQ(fixnum_value(make_fixnum(FIXNUM_MAX)), FIXNUM_MAX);
  EXPECT_EQ(fixnum_value(make_fixnum(FIXNUM_MIN)), FIXNUM_MIN);
  EXPECT_EQ(fixnum_value(make_fixnum(-1)), -1);
  EXPECT_EQ(make_fixnum(-1), 0x0BFFFFFFu);
  EXPECT_EQ(tag_of(mem_make_integer(8388607)), TAG_FIXNUM);
  EXPECT_EQ(tag_of(mem_make_integer(-8388608)), TAG_FIXNUM);
  Value big = mem_make_integer(8388608);
  Value small = mem_make_integer(-8388609);
  EXPECT_EQ(tag_of(big), TAG_INT64);
  EXPECT_EQ(int64_value(big), 8388608);
  EXPECT_EQ(int64_value(small), -8388609);
  EXPECT_EQ(heap_hdr1(big), 0x01000008u);
  EXPECT_EQ(heap_type(big), HT_INT64);
}

TEST_F(ValueTest, ComplexWithZeroImaginaryPartIsItsRealPart) {
  EXPECT_EQ(mem_make_complex_int(5, 0), make_fixnum(5));
  Value c = mem_make_complex_int(1, 2);
  EXPECT_EQ(tag_of(c), TAG_COMPLEX);
  EXPECT_EQ(heap_hdr1(c), 0x01000010u);
  Value d = mem_make_complex_double(1.5, 0.0);
  EXPECT_EQ(tag_of(d), TAG_COMPLEX);  // only integer parts collapse
}

TEST_F(ValueTest, BasicTests) {
  Value c = cons(NIL, NIL);
  EXPECT_TRUE(is_nil(NIL));
  EXPECT_TRUE(is_list(NIL));
  EXPECT_TRUE(is_list(c));
  EXPECT_FALSE(is_nil(c));
  EXPECT_TRUE(is_cons(c));
  EXPECT_TRUE(is_symbol(T));
  EXPECT_TRUE(is_symbol(make_keyword(5)));
  EXPECT_FALSE(is_symbol(make_fixnum(1)));
  Value s = mem_make_string("abc", 3);
  EXPECT_EQ(heap_type_of(s), HT_BYTES);
  EXPECT_EQ(heap_type_of(make_fixnum(3)), 0);
  EXPECT_TRUE(is_string(s));
  EXPECT_TRUE(is_simple_vector(mem_alloc_vector(0)));
}

TEST_F(ValueTest, ScratchConsPassesTheCheck) {
  Value scratch = zvts->eval_slot;
  EXPECT_LT(scratch, zvm.cons_first);
  EXPECT_EQ(value_check(scratch), scratch);
  EXPECT_FALSE(is_nil(scratch));
}

TEST_F(ValueTest, StreamAndInstanceTypesPassTheCheck) {
  for (uint8_t base : {HT_FILE, HT_WINDOW, HT_STRING_STREAM}) {
    for (uint8_t dir : {0, 0x40, 0x80, 0xC0}) {
      Value s = mem_alloc_object(3, base | dir, 2);
      EXPECT_EQ(value_check(s), s);
    }
  }
  Value inst = mem_alloc_object(2, HT_INSTANCE);
  EXPECT_EQ(value_check(inst), inst);
  Value as_vector = (inst & 0xFFFFFF) | (TAG_VECTOR << 24);
  EXPECT_EQ(value_check(as_vector), as_vector);
}

using ValueDeathTest = ValueTest;

// The message goes to standard output; death tests read standard error.
#define EXPECT_BAD_VALUE(expr, text) \
  EXPECT_EXIT((dup2(2, 1), (void)(expr)), ::testing::ExitedWithCode(1), text)

TEST_F(ValueDeathTest, MalformedWordsEndTheProcess) {
  // Below 0x10000 but not 0: not NIL in practice, and outside the cons area.
  EXPECT_BAD_VALUE(is_nil(0x00001234), "Got a bad cons ptr 0x1234");
  EXPECT_BAD_VALUE(value_check(zvm.cons_end), "Got a bad cons ptr");
  EXPECT_BAD_VALUE(value_check(zvm.cons_first + 4), "Got a bad cons ptr");
  EXPECT_BAD_VALUE(value_check(0x01008000), "bad cons ptr");
  EXPECT_BAD_VALUE(value_check(0x50000000 | (heap_used() + 2)), "bad cons ptr");
  Value s = mem_make_string("x", 1);
  Value as_object = (s & 0xFFFFFF) | (TAG_OBJECT << 24);  // a string under tag 0x60
  EXPECT_BAD_VALUE(value_check(as_object), "bad cons ptr");
  EXPECT_BAD_VALUE(value_check(0x10000000), "bad cons ptr");
}

TEST_F(ValueTest, ArrayLayout) {
  // 2 x 3: six elements and one trailing raw word holding dimension 1.
  Value a = mem_alloc_array(6, 2);
  heap_set_word(a, 6, 2);
  EXPECT_EQ(heap_length(a), 7u);
  EXPECT_EQ(heap_raw_words(a), 1u);
  uint32_t rank = (heap_hdr1(a) >> 25) + ((heap_hdr1(a) >> 24) & 1);
  EXPECT_EQ(rank, 2u);
  EXPECT_EQ(heap_length(a) - heap_raw_words(a), 6u);
  Value v = mem_alloc_array(4, 1);
  EXPECT_EQ(heap_hdr1(v) >> 24, 1u);  // a simple vector
  Value z = mem_alloc_array(1, 0);
  EXPECT_EQ(heap_hdr1(z) >> 24, 0u);
}
