// Memory areas and allocators.
#include <gtest/gtest.h>

#include "world_fixture.h"

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override { test_world_init(); }
};

TEST_F(MemoryTest, StringSizes) {
  uint32_t before = zvm.heap_fill;
  mem_alloc_string(0);
  EXPECT_EQ(zvm.heap_fill - before, 8u);
  before = zvm.heap_fill;
  mem_alloc_string(1);
  EXPECT_EQ(zvm.heap_fill - before, 10u);
  before = zvm.heap_fill;
  mem_alloc_string(2);
  EXPECT_EQ(zvm.heap_fill - before, 10u);
  Value s = mem_make_string("hello", 5);
  EXPECT_EQ(heap_hdr1(s), 5u | HDR_ONE_DIM);
  EXPECT_EQ(std::memcmp(string_bytes(s), "hello", 5), 0);
}

TEST_F(MemoryTest, HeapOffsetsStartAtEight) {
  Value v = mem_alloc_vector(2);
  EXPECT_GE(heap_offset(v), 8u);
  EXPECT_EQ(tag_of(v), TAG_VECTOR);
  EXPECT_EQ(heap_hdr1(v), 2u | HDR_ONE_DIM);
  Value o = mem_alloc_object(3, HT_FILE | 0xC0, 2);
  EXPECT_EQ(heap_hdr1(o), 0x04000003u);
  EXPECT_EQ(tag_of(o), TAG_OBJECT);
}

static Value filled_vector(uint32_t n) {
  Value v = mem_alloc_vector(n);
  for (uint32_t i = 0; i < n; i++) heap_set_word(v, i, make_fixnum(int32_t(i)));
  return v;
}

TEST_F(MemoryTest, GrowingTheLastVectorStaysInPlace) {
  Value v = filled_vector(4);
  Value w = mem_resize_vector(v, 8);
  EXPECT_EQ(w, v);
  EXPECT_EQ(heap_length(w), 8u);
  EXPECT_EQ(heap_word(w, 3), make_fixnum(3));
  EXPECT_EQ(heap_word(w, 7), NIL);
  EXPECT_EQ(zvm.heap_fill, heap_offset(w) + 8 + 32);
}

TEST_F(MemoryTest, GrowingAnOtherVectorCopies) {
  Value v = filled_vector(4);
  root_push(&v);
  mem_alloc_string(3);
  Value w = mem_resize_vector(v, 6);
  root_pop();
  EXPECT_NE(w, v);
  EXPECT_EQ(heap_length(w), 6u);
  for (int i = 0; i < 4; i++) EXPECT_EQ(heap_word(w, i), make_fixnum(i));
  EXPECT_EQ(heap_word(w, 5), NIL);
}

// Strings of every length leave the fill pointer at 0 and 2 mod 4; each
// Value-holding object still starts 4-aligned, and stays so when the
// collector slides the survivors over the dead strings.
TEST_F(MemoryTest, ValueHoldingObjectsStayAlignedThroughAllocationAndCompaction) {
  Value keep = mem_alloc_vector(60);
  root_push(&keep);
  for (uint32_t i = 0; i < 60; i++) heap_set_word(keep, i, NIL);
  for (uint32_t i = 0; i < 60; i++) {
    Value s = mem_make_string("abcdefg", i % 7);
    if (i % 3 == 0) heap_set_word(keep, i, s);  // some strings survive, some die
    Value v = i % 3 == 0   ? filled_vector(i % 5)
              : i % 3 == 1 ? mem_alloc_object(2, HT_INSTANCE)
                           : mem_alloc_array(4, 2);
    EXPECT_EQ(heap_offset(v) % 4, 0u) << i;
    if (i % 3 == 1) {
      heap_set_word(v, 0, make_fixnum(int32_t(i)));
      heap_set_word(v, 1, NIL);
    } else if (i % 3 == 2) {
      for (uint32_t k = 0; k < 4; k++) heap_set_word(v, k, make_fixnum(int32_t(k)));
      heap_set_word(v, 4, 2);
    }
    if (i % 3 != 0) heap_set_word(keep, i, v);
  }
  EXPECT_EQ(unaligned_value_objects(), 0u);
  gc_full_collection();
  EXPECT_EQ(unaligned_value_objects(), 0u);
  for (uint32_t i = 0; i < 60; i++) {
    Value x = heap_word(keep, i);
    if (i % 3 == 0)
      EXPECT_EQ(std::string(reinterpret_cast<char*>(string_bytes(x)), string_length(x)),
                std::string("abcdefg", i % 7));
    else if (i % 3 == 1)
      EXPECT_EQ(heap_word(x, 0), make_fixnum(int32_t(i)));
    else
      EXPECT_EQ(heap_word(x, 3), make_fixnum(3));
  }
  root_pop();
}

TEST_F(MemoryTest, ShrinkingLeavesAFillerOnlyWhenThereIsRoom) {
  Value v = filled_vector(4);
  root_push(&v);
  mem_alloc_string(3);  // v is no longer the last object
  Value three = mem_resize_vector(v, 3);
  EXPECT_NE(three, v);  // 4 freed bytes: too few for a filler
  EXPECT_EQ(heap_length(three), 3u);
  Value two = mem_resize_vector(v, 2);
  root_pop();
  EXPECT_EQ(two, v);
  EXPECT_EQ(heap_length(v), 2u);
  const uint8_t* filler = heap_data(v) + 8;
  EXPECT_EQ(filler[0], HT_BYTES);
  EXPECT_EQ(load_u32(filler + 4), 0u);  // a filler of 0 data bytes
  EXPECT_EQ(object_size_at(filler), 8u);
}

TEST_F(MemoryTest, ResizeRefusesHugeLengths) {
  Value v = filled_vector(1);
  EXPECT_EQ(TRAP_ERROR(mem_resize_vector(v, 0x400000)), ERR_VECTOR_TOO_LONG);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(0x400000 & 0xFFFFFF));
}

TEST_F(MemoryTest, VectorToList) {
  Value v = filled_vector(5);
  Value l = mem_vector_to_list(v, 2);
  for (int i = 2; i < 5; i++) {
    ASSERT_TRUE(is_cons(l));
    EXPECT_EQ(car(l), make_fixnum(i));
    l = cdr(l);
  }
  EXPECT_EQ(l, NIL);
  EXPECT_EQ(mem_vector_to_list(v, 5), NIL);
}

TEST_F(MemoryTest, PostLoadFreeListAscendsFromTheFreePointer) {
  uint32_t from = zvm.cons_first + 8 * 10;
  mem_post_load(from, 1);
  EXPECT_EQ(zvm.free_head, from);
  EXPECT_EQ(zvm.free_count, (zvm.cons_end - from) / 8);
  Value c = zvm.free_head;
  uint32_t n = 0;
  while (c != NIL) {
    Value next = cdr(c);
    if (next != NIL) {
      ASSERT_EQ(next, c + 8);
    }
    c = next;
    n++;
  }
  EXPECT_EQ(n, zvm.free_count);
  Value a = mem_alloc_cons();
  EXPECT_EQ(a, from);
  EXPECT_EQ(zvm.free_count + zvts->run_count, n - 1);  // the rest of the run is the thread's
}

TEST_F(MemoryTest, PostLoadResetsTheStacks) {
  zvts->septr = 5;
  zvts->zvform = 7;
  mem_post_load(0, 1);
  EXPECT_EQ(zvts->septr, zvts->stack_top);
  EXPECT_EQ(zvts->zvdinenv, zvts->stack_top);
  EXPECT_EQ(zvts->zvform, 0);
  EXPECT_EQ(zvts->stack[0].tag, 0x8000);
  EXPECT_EQ(zvts->stack[0].link, 0xFFFF);
  EXPECT_EQ(zvts->stack_top, 2 * 1024);
}

TEST_F(MemoryTest, ConsAreaLiesInTheWindowAboveTheScratchConses) {
  EXPECT_GE(zvm.cons_first, CONS_AREA_FLOOR);
  EXPECT_LE(zvm.cons_end, WINDOW_SIZE);
  EXPECT_EQ(zvm.cons_first % 8, 0u);
  EXPECT_EQ(zvm.cons_cap, 4096u);
  EXPECT_EQ(hdr_u32(HDR_CONS_CAP), 4096u);
}

TEST(WindowTest, RangesAreDisjointAndReused) {
  window_init();
  uint32_t a = window_take(3 * 4096);
  uint32_t b = window_take(5000);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_TRUE(b >= a + 3 * 4096 || b + 8192 <= a);
  window_release(a, 3 * 4096);
  uint32_t c = window_take(4096);
  EXPECT_EQ(c, a);  // the lowest free gap is taken first
  EXPECT_EQ(window_take(WINDOW_SIZE), 0u);
  window_release(b, 5000);
  window_release(c, 4096);
}

TEST(WindowTest, ARangeGrowsInPlaceUpToTheNextRange) {
  window_init();
  uint32_t a = window_take(2 * 4096);
  uint32_t b = window_take(4096);
  ASSERT_EQ(b, a + 2 * 4096);  // the lowest gap: right above a
  EXPECT_EQ(window_span(a), 2 * 4096u);
  EXPECT_FALSE(window_extend(a, 2 * 4096 + 8));
  window_release(b, 4096);
  EXPECT_EQ(window_span(a), WINDOW_SIZE - a);
  EXPECT_TRUE(window_extend(a, 5 * 4096 - 8));  // rounded up to whole pages
  EXPECT_EQ(window_take(4096), a + 5 * 4096);   // the grown range is in use
  EXPECT_EQ(window_span(a), 5 * 4096u);
  EXPECT_EQ(window_span(a + 8), 0u);  // no range starts there
  window_release(a + 5 * 4096, 4096);
  window_release(a, 5 * 4096);
}

TEST(AreasTest, DefaultHeaderHashSize) {
  window_init();
  mem_free_areas(false, true);
  mem_default_header();
  EXPECT_EQ(hdr_u16(HDR_HASH_SIZE), 17011);
  EXPECT_EQ(hdr_u32(HDR_STACK_N), 1024u);
}

TEST(AreasTest, ConsAreaTooLargeForTheWindowFails) {
  window_init();
  mem_free_areas(false, true);
  mem_default_header();
  store_u16(zvm.header + HDR_SYM_CAP, 100);
  store_u32(zvm.header + HDR_INIT_CONS, 4096);
  testing::internal::CaptureStdout();
  EXPECT_EQ(mem_allocate_areas(3000000, true), 1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("for 3000000 cons cells"), std::string::npos);
  EXPECT_EQ(zvm.heap_block, nullptr);
}
