// The collector: identity and contents of reachable structure across every
// kind of collection, growth and shrinking of the areas, pointer reversal,
// the free list, errors and the stress mode.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "object/thread.h"
#include "world_fixture.h"

namespace {

class GcTest : public ::testing::Test {
 protected:
  void SetUp() override { init(WorldParams()); }
  void init(const WorldParams& p) {
    test_world_init(p);
    zvm.cons_reserve = 0;
    zvm.header[HDR_SWITCHES] = 0;
    zv_gc = GcCounters();
    zv_gc_stress = 0;
    ErrorTrap::install();
  }
  void TearDown() override { zv_gc_stress = 0; }
};

Value fixnum_list(uint32_t n, int32_t base) {
  Value list = NIL;
  root_push(&list);
  for (uint32_t i = n; i-- > 0;) list = cons(make_fixnum(base + int32_t(i)), list);
  root_pop();
  return list;
}

bool is_fixnum_list(Value l, uint32_t n, int32_t base) {
  for (uint32_t i = 0; i < n; i++, l = cdr(l))
    if (!cons_p(l) || car(l) != make_fixnum(base + int32_t(i))) return false;
  return l == NIL;
}

bool string_is(Value s, const char* text) {
  uint32_t n = uint32_t(std::strlen(text));
  return is_string(s) && string_length(s) == n && std::memcmp(string_bytes(s), text, n) == 0;
}

bool symbol_named(Value s, const char* text) {
  return tag_of(s) == TAG_SYMBOL && string_is(sym_name(symbol_index(s)), text);
}

// No marks or forwarding are left anywhere, and the heap walk ends exactly
// at the fill pointer.
void expect_clean_world() {
  uint32_t at = 8;
  while (at < zvm.heap_fill) {
    const uint8_t* p = zvm.heap_base + at;
    ASSERT_EQ(load_u32(p) & 0xFFFFFF00, 0u) << "heap mark at " << at;
    at += object_size_at(p);
  }
  EXPECT_EQ(at, zvm.heap_fill);
  for (uint32_t i = 0; i < zvm.sym_count; i++) ASSERT_EQ(sym_flags(i) & SYMF_MARK, 0) << i;
  for (uint32_t c = zvm.cons_first; c < zvm.cons_end; c += 8)
    ASSERT_EQ(cdr(c) & MARK_BIT, 0u) << "cons mark at " << c;
}

// The free list ascends inside the area, ends in NIL and has free_count cells.
void expect_free_list_ok() {
  uint32_t n = 0;
  Value prev = 0;
  for (Value c = zvm.free_head; c != NIL; c = cdr(c), n++) {
    ASSERT_TRUE(in_cons_area(c) && (c & 7) == 0);
    ASSERT_GT(c, prev);
    prev = c;
  }
  EXPECT_EQ(n, zvm.free_count);
}

// Returns the cell of a cons collection to the free list, as (GC 0) does.
void cons_gc() {
  Value c = gc_cons_collection();
  set_cdr(c, zvm.free_head);
  zvm.free_head = c;
  zvm.free_count++;
}

void each_collection(void (*check)()) {
  cons_gc();
  check();
  gc_heap_collection(0);
  check();
  gc_symbol_collection(0);
  check();
  gc_full_collection();
  check();
}

// --- conses --------------------------------------------------------------

TEST_F(GcTest, GrowingTheConsAreaMovesEveryReference) {
  Value list = fixnum_list(3500, 0);
  root_push(&list);
  uint32_t holder = symbol_index(sym_intern_cstr("HOLDER"));  // cons collections keep indices
  sym_set_value(holder, list);
  Value vec = mem_alloc_vector(1);
  heap_set_word(vec, 0, cdr(list));
  root_push(&vec);
  zvm.roots[5] = list | MARK_BIT;  // a non-terminating macro character
  ThreadState* ts = zvts;
  ts->stack[--ts->septr] = StackEntry{cdr(cdr(list)), ST_ANON, 0};
  uint32_t old_first = zvm.cons_first, old_cap = zvm.cons_cap;
  // A range right above the area: it cannot grow in place and moves.
  uint32_t above = window_take(4096);
  ASSERT_EQ(above, (zvm.cons_end + 4095) / 4096 * 4096);

  cons_gc();
  window_release(above, 4096);
  EXPECT_EQ(zvm.cons_cap, old_cap + old_cap / 4);
  EXPECT_EQ(hdr_u32(HDR_CONS_CAP), zvm.cons_cap);
  EXPECT_NE(zvm.cons_first, old_first);
  ASSERT_TRUE(in_cons_area(list));
  EXPECT_TRUE(is_fixnum_list(list, 3500, 0));
  EXPECT_EQ(sym_value(holder), list);
  EXPECT_EQ(heap_word(vec, 0), cdr(list));
  EXPECT_EQ(zvm.roots[5], list | MARK_BIT);
  EXPECT_EQ(ts->stack[ts->septr].arg, cdr(cdr(list)));
  EXPECT_EQ(zvm.free_count, zvm.cons_cap - 3500);
  expect_free_list_ok();
  expect_clean_world();
  ts->septr++;
  root_pop(2);
}

TEST_F(GcTest, TheConsAreaGrowsInPlaceWhereTheWindowAboveIsFree) {
  Value list = fixnum_list(3500, 0);
  root_push(&list);
  Value first = list;
  uint32_t old_first = zvm.cons_first, old_cap = zvm.cons_cap;
  uint64_t freed = zv_gc.freed_cells;
  cons_gc();
  EXPECT_EQ(zvm.cons_first, old_first);
  EXPECT_EQ(zvm.cons_cap, old_cap + old_cap / 4);
  EXPECT_EQ(hdr_u32(HDR_CONS_CAP), zvm.cons_cap);
  EXPECT_EQ(zvm.cons_end, old_first + 8 * zvm.cons_cap);
  EXPECT_EQ(list, first);  // nothing moved
  EXPECT_TRUE(is_fixnum_list(list, 3500, 0));
  EXPECT_EQ(zvm.free_count, zvm.cons_cap - 3500);
  // The new cells were never in use: only the area's own garbage counts.
  EXPECT_LE(zv_gc.freed_cells - freed, uint64_t(old_cap - 3500 + 1));
  expect_free_list_ok();
  expect_clean_world();
  // Every new cell can be used.
  Value more = fixnum_list(zvm.free_count - 10, 1);
  EXPECT_EQ(zvm.cons_first, old_first);
  EXPECT_TRUE(is_fixnum_list(list, 3500, 0));
  EXPECT_TRUE(in_cons_area(more));
  root_pop();
}

TEST_F(GcTest, WithNoRoomToMoveTheAreaTakesWhatRoomIsAbove) {
  Value list = fixnum_list(3500, 0);
  root_push(&list);
  uint32_t old_first = zvm.cons_first, old_cap = zvm.cons_cap;
  // One free page above the area (a quarter more would take two and a
  // half) and nothing free beyond it.
  uint32_t end = (zvm.cons_end + 4095) / 4096 * 4096;
  uint32_t gap = window_take(4096);
  ASSERT_EQ(gap, end);
  uint32_t rest = window_take(WINDOW_SIZE - end - 4096);
  ASSERT_EQ(rest, end + 4096);
  window_release(gap, 4096);
  cons_gc();
  window_release(rest, WINDOW_SIZE - end - 4096);
  EXPECT_EQ(zvm.cons_first, old_first);
  EXPECT_EQ(zvm.cons_end, end + 4096);
  EXPECT_EQ(zvm.cons_cap, old_cap + 512);
  EXPECT_TRUE(is_fixnum_list(list, 3500, 0));
  expect_free_list_ok();
  root_pop();
}

TEST_F(GcTest, ConsAreaShrinksBackToItsInitialSize) {
  WorldParams p;
  p.cons_cells = 1024;
  init(p);
  fixnum_list(3000, 0);  // grows the area several times, then is garbage
  EXPECT_GT(zvm.cons_cap, 3000u);
  EXPECT_GT(zv_gc.cons, 0u);
  Value small = fixnum_list(10, 7);
  root_push(&small);
  cons_gc();
  EXPECT_EQ(zvm.cons_cap, 1024u);
  EXPECT_TRUE(is_fixnum_list(small, 10, 7));
  expect_free_list_ok();
  root_pop();
}

TEST_F(GcTest, ConsExhaustionWarnsAtTheReserveAndFailsBelowTenCells) {
  Value list = fixnum_list(3000, 0);
  root_push(&list);
  zvm.cons_reserve = 2000;
  cons_gc();  // 1096 free: no growth, but below the reserve
  EXPECT_EQ(ErrorTrap::warnings, 1);
  EXPECT_EQ(ErrorTrap::warning_code, ERR_CONS_FULL);
  EXPECT_EQ(zvm.cons_reserve, 1000u);

  // Fill the rest of the window so that the area cannot grow.
  std::vector<std::pair<uint32_t, uint32_t>> taken;
  for (uint32_t size = WINDOW_SIZE; size >= 4096; size /= 2)
    for (uint32_t off; (off = window_take(size)) != 0;) taken.push_back({off, size});
  Value more = fixnum_list(zvm.free_count - 5, 0);
  root_push(&more);
  uint32_t cap = zvm.cons_cap;
  EXPECT_EQ(TRAP_ERROR(gc_cons_collection()), ERR_CONS_FULL);
  EXPECT_EQ(zvm.cons_cap, cap);
  EXPECT_TRUE(is_fixnum_list(list, 3000, 0));
  for (auto& t : taken) window_release(t.first, t.second);
  root_pop(2);
}

// Conses onto *list until an error ends it.
void push_until_error(Value* list) {
  for (;;) *list = cons(make_fixnum(1), *list);
}

TEST_F(GcTest, TheEmergencyReserveGoesToTheErrorAndComesBackWithRoom) {
  WorldParams p;
  p.cons_cells = 32768;
  init(p);
  mem_arm_reserve();
  EXPECT_EQ(zvm.cons_held, RESERVE_CELLS);
  EXPECT_EQ(zvm.heap_held, RESERVE_HEAP_BYTES);
  std::vector<std::pair<uint32_t, uint32_t>> taken;
  for (uint32_t size = WINDOW_SIZE; size >= 4096; size /= 2)
    for (uint32_t off; (off = window_take(size)) != 0;) taken.push_back({off, size});
  Value list = NIL;
  root_push(&list);
  EXPECT_EQ(TRAP_ERROR(push_until_error(&list)), ERR_CONS_FULL);
  // Signalled before the reserve was touched, which is now free to use.
  EXPECT_EQ(zvm.cons_held, 0u);
  EXPECT_GE(zvm.free_count, RESERVE_CELLS);
  Value after = NIL;
  root_push(&after);
  for (uint32_t i = 0; i < RESERVE_CELLS - 16; i++) after = cons(NIL, after);
  EXPECT_EQ(ErrorTrap::code, ERR_CONS_FULL);  // no second error on the way
  // The next shortage with no reserve left fails at once.
  ErrorTrap::code = 0;
  EXPECT_EQ(TRAP_ERROR(push_until_error(&after)), ERR_CONS_FULL);
  // Room again: the reserve is kept back once more.
  list = after = NIL;
  cons_gc();
  EXPECT_EQ(zvm.cons_held, RESERVE_CELLS);
  root_pop(2);
  for (auto& t : taken) window_release(t.first, t.second);
  mem_free_areas(false, true);
  EXPECT_FALSE(zvm.reserve_armed);
  EXPECT_EQ(zvm.cons_held, 0u);
}

TEST_F(GcTest, TheHeapKeepsItsReserveUntilExhaustionIsSignalled) {
  mem_arm_reserve();
  uint32_t room = zvm.heap_limit - zvm.heap_fill;
  ASSERT_GT(room, RESERVE_HEAP_BYTES + 64);
  // A request that fits only by using the reserve collects first, and the
  // collection makes room for it and for the reserve.
  uint32_t before = zv_gc.heap;
  mem_alloc_string(room - RESERVE_HEAP_BYTES / 2);
  EXPECT_GT(zv_gc.heap, before);
  EXPECT_EQ(zvm.heap_held, RESERVE_HEAP_BYTES);
  EXPECT_GE(zvm.heap_limit - zvm.heap_fill, RESERVE_HEAP_BYTES);
}

// --- the heap ------------------------------------------------------------

TEST_F(GcTest, HeapCollectionSlidesLiveObjectsDownInOrder) {
  Value a = mem_make_string("first", 5);
  root_push(&a);
  mem_alloc_vector(100);  // garbage between the survivors
  Value b = mem_alloc_vector(3);
  heap_set_word(b, 0, a);
  heap_set_word(b, 1, make_fixnum(42));
  heap_set_word(b, 2, NIL);
  root_push(&b);
  mem_make_string("garbage", 7);
  Value c = cons(b, NIL);  // held by a cons only
  root_push(&c);
  uint32_t a_off = heap_offset(a);

  gc_heap_collection(0);
  EXPECT_EQ(heap_offset(a), a_off);  // nothing dead below it
  EXPECT_LT(heap_offset(b), heap_offset(a) + 100 * 4);
  EXPECT_GT(heap_offset(b), heap_offset(a));
  EXPECT_TRUE(string_is(a, "first"));
  EXPECT_EQ(heap_word(b, 0), a);
  EXPECT_EQ(heap_word(b, 1), make_fixnum(42));
  EXPECT_EQ(car(c), b);
  EXPECT_EQ(zvm.heap_fill, heap_offset(b) + 8 + 12);
  expect_clean_world();
  root_pop(3);
}

TEST_F(GcTest, TrailingRawWordsAreNeitherTracedNorRewritten) {
  Value garbage = mem_make_string("dead", 4);
  Value slots = mem_alloc_vector(2);
  heap_set_word(slots, 0, NIL);
  heap_set_word(slots, 1, NIL);
  root_push(&slots);
  Value table = mem_alloc_object(2, HT_HASH, 1);
  heap_set_word(table, 0, slots);
  heap_set_word(table, 1, garbage);  // raw: looks like a Value, is not one
  root_push(&table);
  Value stream = mem_alloc_object(3, HT_FILE | HT_STREAM_INPUT, 2);
  heap_set_word(stream, 0, NIL);
  heap_set_word(stream, 1, garbage);
  heap_set_word(stream, 2, slots);
  root_push(&stream);
  EXPECT_EQ(heap_hdr1(stream), 0x04000003u);
  const Value old_slots = slots;

  gc_heap_collection(0);
  EXPECT_EQ(heap_word(table, 1), garbage);
  EXPECT_EQ(heap_word(stream, 1), garbage);
  EXPECT_EQ(heap_word(stream, 2), old_slots);
  EXPECT_EQ(heap_word(table, 0), slots);
  EXPECT_EQ(heap_offset(slots), heap_offset(garbage));  // the string was reclaimed
  root_pop(3);
}

TEST_F(GcTest, StaticPrefixAndMessageAreaKeepTheirOffsets) {
  // The static prefix: NIL's name, a message text and a vector that is
  // referred to by nothing but is traced as a root.
  Value msg = mem_make_string("message zero", 12);
  Value stat = mem_alloc_vector(2);
  heap_set_word(stat, 0, NIL);
  heap_set_word(stat, 1, NIL);
  zvm.heap_static = zvm.heap_fill - 8;
  zvm.msg_area = heap_offset(msg) - 8;
  mem_make_string("dead", 4);
  Value s = mem_make_string("dynamic", 7);
  heap_set_word(stat, 0, s);
  Value c = cons(make_fixnum(9), NIL);
  heap_set_word(stat, 1, c);
  static Value st, ms;
  static uint32_t msg_off;
  st = stat;
  ms = msg;
  msg_off = zvm.msg_area;
  // Static objects never move, so their Values may be held unrooted.
  each_collection([] {
    EXPECT_EQ(zvm.msg_area, msg_off);
    EXPECT_TRUE(string_is(ms, "message zero"));
    EXPECT_TRUE(string_is(heap_word(st, 0), "dynamic"));
    Value c = heap_word(st, 1);
    ASSERT_TRUE(cons_p(c));
    EXPECT_EQ(car(c), make_fixnum(9));
    expect_clean_world();
  });
  EXPECT_EQ(heap_offset(heap_word(st, 0)), heap_offset(st) + 16);  // slid over "dead"
}

TEST_F(GcTest, HeapGrowsIntoANewBlockAndShrinksAgain) {
  Value nil_name = sym_name(0);
  zvm.heap_static = zvm.heap_fill - 8;  // NIL's name is static
  Value keep = NIL;
  root_push(&keep);
  for (int i = 0; i < 50; i++) {
    Value s = mem_alloc_string(1000);
    std::memset(string_bytes(s), 'a' + i % 26, 1000);
    keep = cons(s, keep);
  }
  uint32_t old_limit = zvm.heap_limit;
  Value big = mem_alloc_string(30000);  // needs a collection that grows the heap
  EXPECT_GT(zvm.heap_limit, old_limit);
  EXPECT_EQ(hdr_u32(HDR_HEAP_CAP), zvm.heap_limit);
  EXPECT_GE(zv_gc.heap, 1u);
  EXPECT_EQ(sym_name(0), nil_name);
  EXPECT_TRUE(string_is(nil_name, "NIL"));
  int i = 49;
  for (Value l = keep; l != NIL; l = cdr(l), i--)
    ASSERT_EQ(string_bytes(car(l))[999], 'a' + i % 26);
  (void)big;

  keep = NIL;
  gc_heap_collection(0);
  EXPECT_EQ(zvm.heap_limit, 40960u);
  EXPECT_TRUE(string_is(sym_name(0), "NIL"));
  expect_clean_world();
  root_pop();
}

// A program that makes heap garbage quickly gets room beyond what its data
// needs, so that it is not collected over and over; the header, which a
// saved image states, keeps saying only what the data needs.  Data that
// stays gives the room back; the block never passes 24-bit offsets.
TEST_F(GcTest, GarbageMadeQuicklyGivesTheHeapRoomThatImagesDoNotCarry) {
  Value kept = mem_make_string("kept", 4);
  root_push(&kept);
  for (int i = 0; i < 4000; i++) mem_alloc_string(1000);
  uint32_t need = hdr_u32(HDR_HEAP_CAP);
  EXPECT_LE(need, 65536u);
  // Four times the bytes a collection walks: the cons area is most of it.
  EXPECT_GE(zvm.heap_limit - need, 4u * 4096 * 8);
  // 4 MB through a 64 KB heap would take some 70 collections.
  EXPECT_LT(zv_gc.heap, 30u);

  // What a save does first: the room stays with the running world.
  uint32_t limit = zvm.heap_limit;
  gc_full_collection();
  gc_heap_collection(0);
  EXPECT_EQ(zvm.heap_limit, limit);
  EXPECT_LE(hdr_u32(HDR_HEAP_CAP), 65536u);
  EXPECT_LE(zvm.heap_fill, hdr_u32(HDR_HEAP_CAP));
  EXPECT_TRUE(string_is(kept, "kept"));

  // Strings that stay: collections free nothing, and the room halves.
  Value list = NIL;
  root_push(&list);
  for (int i = 0; i < 400; i++) {
    Value s = mem_alloc_string(1000);
    std::memset(string_bytes(s), 'a' + i % 26, 1000);
    list = cons(s, list);
  }
  EXPECT_LT(zvm.heap_limit - hdr_u32(HDR_HEAP_CAP), limit - need);
  gc_full_collection();
  EXPECT_GE(hdr_u32(HDR_HEAP_CAP), 400u * 1000);
  int i = 399;
  for (Value l = list; l != NIL; l = cdr(l), i--)
    ASSERT_EQ(string_bytes(car(l))[999], 'a' + i % 26);

  // Near the offset limit the room gives way to what is asked.
  list = NIL;
  for (int j = 0; j < 4000; j++) mem_alloc_string(1000);
  Value big = mem_alloc_string(0xF00000);
  EXPECT_EQ(string_length(big), 0xF00000u);
  EXPECT_LE(zvm.heap_limit, 0xFFFFF0u);
  EXPECT_TRUE(string_is(kept, "kept"));
  root_pop(2);
  expect_clean_world();
}

TEST_F(GcTest, Error36WhenTheHeapCannotGrowEnough) {
  Value s = mem_make_string("kept", 4);
  root_push(&s);
  EXPECT_EQ(TRAP_ERROR(mem_alloc_string(0xFFFFF0)), ERR_HEAP_FULL);
  EXPECT_EQ(TRAP_ERROR(gc_heap_collection(0x1000000)), ERR_HEAP_FULL);
  EXPECT_TRUE(string_is(s, "kept"));
  gc_full_collection();  // the world is still sound
  EXPECT_TRUE(string_is(s, "kept"));
  root_pop();
}

// --- symbols -------------------------------------------------------------

uint32_t index_of(const char* name) {
  SymSearch s = sym_search(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
  return s.found ? s.index : 0;
}

TEST_F(GcTest, SymbolCollectionCompactsTheTableAndRenumbersReferences) {
  sym_intern_cstr("GONE-1");                                // empty, unreferenced
  sym_make(reinterpret_cast<const uint8_t*>("GONE-2"), 6);  // uninterned, unreferenced
  static Value alpha, cell, unint;
  alpha = sym_intern_cstr("ALPHA");
  root_push(&alpha);
  root_push(&cell);
  root_push(&unint);
  sym_set_value(symbol_index(alpha), make_fixnum(1));
  cell = NIL;
  cell = cons(sym_intern_cstr("REFERRED"), NIL);  // only the cons keeps it
  // Empty and held by nothing, but their flags say they matter.
  uint32_t special = symbol_index(sym_intern_cstr("SPECIAL"));
  sym_set_flags(special, sym_flags(special) | 2);
  uint32_t layout = symbol_index(sym_intern_cstr("LAYOUT"));
  sym_set_flags(layout, sym_flags(layout) | 0x0300);
  uint32_t bit4 = symbol_index(sym_intern_cstr("BIT4"));
  sym_set_flags(bit4, sym_flags(bit4) | SYMF_BIT4);
  // Named only by a binding entry on the Lisp stack.
  uint32_t bound = symbol_index(sym_intern_cstr("BOUND"));
  ThreadState* ts = zvts;
  ts->stack[--ts->septr] = StackEntry{make_fixnum(5), uint16_t(bound), 0};
  unint = sym_make(reinterpret_cast<const uint8_t*>("UNINTERNED"), 10);
  uint32_t count = zvm.sym_count;

  gc_symbol_collection(0);
  EXPECT_EQ(zvm.sym_count, count - 2);
  EXPECT_EQ(index_of("GONE-1"), 0u);
  // The two newest entries filled the two holes, newest first.
  EXPECT_EQ(symbol_index(unint), 1u);
  EXPECT_TRUE(symbol_named(unint, "UNINTERNED"));
  EXPECT_EQ(index_of("BOUND"), 2u);
  EXPECT_EQ(ts->stack[ts->septr].tag, 2u);
  EXPECT_EQ(sym_value(symbol_index(alpha)), make_fixnum(1));
  EXPECT_EQ(sym_intern_cstr("ALPHA"), alpha);
  EXPECT_EQ(make_symbol(index_of("REFERRED")), car(cell));
  EXPECT_EQ(sym_flags(index_of("SPECIAL")), SYMF_INTERNED | 2);
  EXPECT_EQ(sym_flags(index_of("LAYOUT")), SYMF_INTERNED | 0x0300);
  EXPECT_EQ(sym_flags(index_of("BIT4")), SYMF_INTERNED | SYMF_BIT4);
  expect_clean_world();

  cell = NIL;  // now nothing refers to REFERRED
  ts->septr++;
  gc_symbol_collection(0);
  EXPECT_EQ(index_of("REFERRED"), 0u);
  EXPECT_EQ(index_of("BOUND"), 0u);
  EXPECT_NE(index_of("SPECIAL"), 0u);
  root_pop(3);
}

TEST_F(GcTest, Error37WhenTheSymbolTableStaysFull) {
  WorldParams p;
  p.symbol_capacity = 40;
  init(p);
  char name[16];
  for (int i = 0; zvm.sym_count < zvm.sym_cap; i++) {
    std::snprintf(name, sizeof name, "S%d", i);
    sym_set_value(symbol_index(sym_intern_cstr(name)), make_fixnum(i));
  }
  EXPECT_EQ(TRAP_ERROR(gc_symbol_collection(0)), ERR_SYMTAB_FULL);
  EXPECT_EQ(TRAP_ERROR(sym_intern_cstr("ONE-MORE")), ERR_SYMTAB_FULL);
}

// --- full collection -----------------------------------------------------

TEST_F(GcTest, FullCollectionLeavesOneContiguousFreeRun) {
  static Value keep;
  keep = NIL;
  root_push(&keep);
  for (int i = 0; i < 300; i++) {
    fixnum_list(3, 0);  // garbage between the survivors
    Value s = mem_make_string("x", 1);
    keep = cons(s, keep);
    sym_intern_cstr(i % 2 ? "ODD" : "EVEN");
  }
  uint64_t result = gc_full_collection();
  uint32_t free_ptr = zvm.cons_end - 8 * zvm.free_count;
  EXPECT_EQ(zvm.free_count, zvm.cons_cap - 300);
  EXPECT_EQ(zvm.free_head, free_ptr);
  uint32_t expect = free_ptr;
  for (Value c = zvm.free_head; c != NIL; c = cdr(c), expect += 8) ASSERT_EQ(c, expect);
  EXPECT_EQ(expect, zvm.cons_end);
  EXPECT_EQ(zvm.sym_count, 1u);  // ODD and EVEN had nothing in them
  EXPECT_EQ(result, 18ull * zvm.sym_count + 8ull * zvm.free_count + heap_used());
  uint32_t n = 0;
  for (Value l = keep; l != NIL; l = cdr(l), n++) {
    ASSERT_LT(l, free_ptr);
    ASSERT_TRUE(string_is(car(l), "x"));
  }
  EXPECT_EQ(n, 300u);
  expect_clean_world();
  root_pop();
}

// --- pointer reversal ----------------------------------------------------

// Deeper than the free part of a small Lisp stack.  The spine is nested
// through cars and each level's cdr waits on the mark stack, so from about
// the 64th level on the cdrs are marked by pointer reversal.  Every 100th
// cdr starts with an uninterned symbol (reachable from nowhere else, with a
// list as its value) followed by a chain 150 deep that alternates conses
// and vectors.  A chain of vectors nested through word 0 holds a small list
// in word 1, which the mark stack cannot keep once it is full.
struct Deep {
  static constexpr int DEPTH = 3000, MIX = 150;
  static inline Value tree, chain;

  static Value mixed_chain() {
    Value m = make_fixnum(-7), s = NIL;
    root_push(&m);
    root_push(&s);
    for (int j = 0; j < MIX; j++) {
      if (j % 2 == 0) {
        m = cons(m, make_fixnum(j));
        continue;
      }
      s = mem_make_string("s", 1);
      Value v = mem_alloc_vector(3);
      heap_set_word(v, 0, make_fixnum(j));
      heap_set_word(v, 1, m);
      heap_set_word(v, 2, s);
      m = v;
    }
    root_pop(2);
    return m;
  }

  static void check_mixed(Value m) {
    for (int j = MIX; j-- > 0;) {
      if (j % 2 == 0) {
        ASSERT_TRUE(cons_p(m)) << j;
        ASSERT_EQ(cdr(m), make_fixnum(j));
        m = car(m);
      } else {
        ASSERT_EQ(heap_word(m, 0), make_fixnum(j));
        ASSERT_TRUE(string_is(heap_word(m, 2), "s"));
        m = heap_word(m, 1);
      }
    }
    ASSERT_EQ(m, make_fixnum(-7));
  }

  static void build() {
    tree = make_fixnum(-1);
    chain = NIL;
    Value tail = NIL, sym = NIL, v = NIL;
    root_push(&tree);
    root_push(&chain);
    root_push(&tail);
    root_push(&sym);
    root_push(&v);
    char name[16];
    for (int k = DEPTH; k-- > 0;) {
      if (k % 100 == 0) {
        std::snprintf(name, sizeof name, "U%d", k);
        sym = sym_make(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
        Value val = fixnum_list(2, k);
        sym_set_value(symbol_index(sym), val);
        tail = mixed_chain();
        tail = cons(tail, NIL);
        tail = cons(sym, tail);
      } else {
        tail = cons(make_fixnum(k), NIL);
      }
      tree = cons(tree, tail);
      tail = fixnum_list(1, k);
      v = mem_alloc_vector(2);
      heap_set_word(v, 0, chain);
      heap_set_word(v, 1, tail);
      chain = v;
    }
    root_pop(3);
  }

  static void check() {
    Value t = tree, c = chain;
    char name[16];
    for (int k = 0; k < DEPTH; k++) {
      ASSERT_TRUE(cons_p(t)) << k;
      Value tail = cdr(t);
      ASSERT_TRUE(cons_p(tail)) << k;
      if (k % 100 == 0) {
        std::snprintf(name, sizeof name, "U%d", k);
        ASSERT_TRUE(symbol_named(car(tail), name)) << k;
        ASSERT_TRUE(is_fixnum_list(sym_value(symbol_index(car(tail))), 2, k)) << k;
        check_mixed(car(cdr(tail)));
      } else {
        ASSERT_EQ(car(tail), make_fixnum(k));
      }
      t = car(t);
      ASSERT_TRUE(is_fixnum_list(heap_word(c, 1), 1, k)) << k;
      c = heap_word(c, 0);
    }
    EXPECT_EQ(t, make_fixnum(-1));
    EXPECT_EQ(c, NIL);
  }
};

TEST_F(GcTest, DeepStructuresAreMarkedByPointerReversal) {
  WorldParams p;
  p.stack_n = 32;
  p.cons_cells = 16384;
  p.heap_bytes = 1 << 20;
  init(p);
  Deep::build();
  each_collection([] {
    EXPECT_GT(zv_gc.fallbacks, 0u);
    Deep::check();
    expect_clean_world();
  });
  gc_status_line(0, 0);
  EXPECT_EQ(uint8_t(gc_status_text()[0]), 0x81);
  root_pop(2);
}

TEST_F(GcTest, ShallowStructuresNeedNoFallback) {
  Value l = fixnum_list(500, 0);
  root_push(&l);
  gc_full_collection();
  EXPECT_EQ(zv_gc.fallbacks, 0u);
  zvm.header[HDR_SWITCHES] = SW_MEMORY_STATS;
  gc_heap_collection(0);
  EXPECT_STREQ(gc_status_text(), "H");
  gc_status_line(0, 0);
  char expect[64];
  std::snprintf(expect, sizeof expect, "%c C%-6xH%-8xS%-4x", 0x83, zvm.cons_cap - zvm.free_count,
                heap_used(), zvm.sym_cap - zvm.sym_count);
  EXPECT_STREQ(gc_status_text(), expect);
  root_pop();
}

// --- the Lisp stack ------------------------------------------------------

TEST_F(GcTest, ContextEntriesAreSkippedAndOtherEntriesAreRoots) {
  ThreadState* ts = zvts;
  mem_make_string("dead", 4);
  Value s = mem_make_string("live", 4);
  Value fake = mem_make_string("also dead", 9);
  uint16_t base = ts->septr;
  ts->stack[--ts->septr] = StackEntry{fake, 0x8000 | 0x2000, 0};  // a context record number
  ts->stack[--ts->septr] = StackEntry{s, ST_ARG, 0};
  gc_heap_collection(0);
  EXPECT_EQ(ts->stack[base - 1].arg, fake);
  EXPECT_TRUE(string_is(ts->stack[base - 2].arg, "live"));
  EXPECT_EQ(zvm.heap_fill, heap_offset(ts->stack[base - 2].arg) + 12);
  ts->septr = base;
}

// --- built-in 438 and stress mode ----------------------------------------

Value call_gc(std::initializer_list<Value> args) {
  ThreadState* ts = zvts;
  uint16_t frame = --ts->septr;
  ts->stack[frame] = StackEntry{NIL, ST_CALL_FRAME, ts->zvform};
  uint16_t outer = ts->zvform;
  ts->zvform = frame;
  for (Value a : args) ts->stack[--ts->septr] = StackEntry{a, ST_ARG, 0};
  Value r = bi_gc(NIL, NIL);
  ts->septr = frame + 1;
  ts->zvform = outer;
  return r;
}

TEST_F(GcTest, BuiltinGcRunsTheCollectionItIsAskedFor) {
  Value l = fixnum_list(100, 0);
  root_push(&l);
  Value r = call_gc({});
  EXPECT_EQ(r, make_fixnum(int32_t(zvm.free_count)));
  EXPECT_EQ(zvm.free_count, zvm.cons_cap - 100);
  expect_free_list_ok();
  r = call_gc({make_fixnum(1)});
  EXPECT_EQ(r, make_fixnum(int32_t(zvm.heap_limit - zvm.heap_fill)));
  r = call_gc({make_fixnum(2)});
  EXPECT_EQ(r, make_fixnum(int32_t(zvm.sym_cap - zvm.sym_count)));
  Value full = call_gc({make_fixnum(3)});
  EXPECT_EQ(full, make_fixnum(int32_t(18 * zvm.sym_count + 8 * zvm.free_count + heap_used())));
  EXPECT_EQ(zv_gc.cons, 1u);
  EXPECT_EQ(zv_gc.heap, 1u);
  EXPECT_EQ(zv_gc.symbol, 1u);
  EXPECT_EQ(zv_gc.full, 1u);

  ThreadState* ts = zvts;
  uint16_t septr = ts->septr, zvform = ts->zvform;
  EXPECT_EQ(TRAP_ERROR(call_gc({NIL})), ERR_BAD_GC_ARG);
  EXPECT_EQ(ErrorTrap::object, NIL);
  ts->septr = septr;  // as the non-local exit would
  ts->zvform = zvform;
  EXPECT_EQ(TRAP_ERROR(call_gc({make_fixnum(4)})), ERR_BAD_GC_ARG);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(4));
  ts->septr = septr;
  ts->zvform = zvform;
  // A surplus argument is a continuable error; continuing ignores it.
  EXPECT_EQ(TRAP_ERROR(call_gc({make_fixnum(1), make_fixnum(7)})), 0u);
  EXPECT_EQ(ErrorTrap::warning_code, ERR_TOO_MANY_ARGS);
  EXPECT_EQ(zv_gc.heap, 2u);
  EXPECT_TRUE(is_fixnum_list(l, 100, 0));
  root_pop();
}

TEST_F(GcTest, StressModeRotatesThroughEveryCollection) {
  setenv("ZORVA_GC_STRESS", "3", 1);
  gc_stress_init_from_env();
  unsetenv("ZORVA_GC_STRESS");
  EXPECT_EQ(zv_gc_stress, 3u);
  static Value keep;
  keep = NIL;
  root_push(&keep);
  char name[16];
  for (int i = 0; i < 200; i++) {
    std::snprintf(name, sizeof name, "K%d", i);
    Value sym = sym_intern_cstr(name);
    sym_set_value(symbol_index(sym), make_fixnum(i));
    keep = cons(sym, keep);
    Value s = mem_make_string(name, uint32_t(std::strlen(name)));
    keep = cons(s, keep);
  }
  zv_gc_stress = 0;
  EXPECT_GT(zv_gc.cons, 0u);
  EXPECT_GT(zv_gc.heap, 0u);
  EXPECT_GT(zv_gc.symbol, 0u);
  EXPECT_GT(zv_gc.full, 0u);
  Value l = keep;
  for (int i = 199; i >= 0; i--) {
    std::snprintf(name, sizeof name, "K%d", i);
    ASSERT_TRUE(string_is(car(l), name));
    l = cdr(l);
    ASSERT_TRUE(symbol_named(car(l), name));
    ASSERT_EQ(sym_value(symbol_index(car(l))), make_fixnum(i));
    l = cdr(l);
  }
  expect_clean_world();
  expect_free_list_ok();
  root_pop();
  gc_stress_init_from_env();
  EXPECT_EQ(zv_gc_stress, 0u);
}

}  // namespace
