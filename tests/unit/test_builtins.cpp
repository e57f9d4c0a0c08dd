// The built-in function table and the names the genesis gives it.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "builtins/table.h"
#include "world_fixture.h"

#include "genesis/builtin_names.h"

namespace {

int count_kind(uint8_t kind) {
  int n = 0;
  for (uint32_t i = 0; i < BI_COUNT; i++) n += zv_builtins[i].kind == kind;
  return n;
}

}  // namespace

// The image loader compares every record's kind and count, so these totals
// are the table's fingerprint: any slip in one line changes them.
TEST(BuiltinTable, KindTotals) {
  EXPECT_EQ(count_kind(0), 48);
  EXPECT_EQ(count_kind(1), 1);
  EXPECT_EQ(count_kind(2), 250);
  EXPECT_EQ(count_kind(3), 105);
  EXPECT_EQ(count_kind(4), 51);
}

TEST(BuiltinTable, KindCountCombinations) {
  std::map<std::pair<int, int>, int> seen;
  for (uint32_t i = 0; i < BI_COUNT; i++) seen[{zv_builtins[i].kind, zv_builtins[i].count}]++;
  const std::map<std::pair<int, int>, int> expected = {
      {{0, 0}, 48}, {{1, 0}, 1},  {{2, 0}, 8},  {{2, 1}, 153}, {{2, 2}, 69}, {{2, 3}, 20},
      {{3, 0}, 28}, {{3, 1}, 57}, {{3, 2}, 16}, {{3, 3}, 2},   {{3, 4}, 1},  {{3, 6}, 1},
      {{4, 0}, 1},  {{4, 1}, 10}, {{4, 2}, 39}, {{4, 3}, 1}};
  EXPECT_EQ(seen, expected);
}

// Records whose kind and count are stated outright where they are used;
// a line moved by one position shows up here by name.
TEST(BuiltinTable, RecordsNamedElsewhere) {
  struct Row {
    uint32_t n;
    uint8_t kind, count;
  };
  const Row rows[] = {{0, 2, 2},   {7, 2, 3},   {15, 2, 3},  {16, 3, 2},  {17, 3, 4},  {20, 2, 1},
                      {21, 3, 3},  {26, 0, 0},  {69, 1, 0},  {73, 0, 0},  {93, 2, 1},  {123, 4, 3},
                      {133, 3, 3}, {191, 0, 0}, {206, 3, 2}, {268, 4, 0}, {275, 4, 1}, {335, 3, 2},
                      {370, 3, 6}, {375, 0, 0}, {409, 0, 0}, {410, 0, 0}, {411, 0, 0}, {412, 2, 2},
                      {414, 3, 1}, {438, 3, 0}, {454, 2, 1}};
  for (const Row& r : rows) {
    EXPECT_EQ(zv_builtins[r.n].kind, r.kind) << "built-in " << r.n;
    EXPECT_EQ(zv_builtins[r.n].count, r.count) << "built-in " << r.n;
  }
  EXPECT_EQ(zv_builtins[438].fn, &bi_gc);
}

TEST(BuiltinTable, EveryBuiltinHasARoutineAndSparesHaveNone) {
  for (uint32_t i = 0; i < BI_COUNT; i++) EXPECT_NE(zv_builtins[i].fn, nullptr) << i;
  // Later built-ins take spare records from 455 on; the rest stay empty.
  for (uint32_t i = BI_COUNT; i < BI_CAPACITY; i++) {
    if (zv_builtins[i].fn) continue;
    EXPECT_EQ(zv_builtins[i].kind, 2) << i;
    EXPECT_EQ(zv_builtins[i].count, 0) << i;
  }
}

TEST(BuiltinTable, InitCountsTrimsSparesAndIsRepeatable) {
  zv_bi_live = zv_bi_saved = BI_CAPACITY;
  bi_init_counts();
  uint16_t live = zv_bi_live;
  EXPECT_GE(live, BI_COUNT);
  EXPECT_EQ(zv_bi_saved, live);
  EXPECT_NE(zv_builtins[live - 1].fn, nullptr);
  for (uint32_t i = live; i < BI_CAPACITY; i++) EXPECT_EQ(zv_builtins[i].fn, nullptr) << i;
  bi_init_counts();
  EXPECT_EQ(zv_bi_live, live);
  EXPECT_EQ(zv_bi_saved, live);

  // A built-in in a spare record past the last one in use makes it live.
  if (live < BI_CAPACITY) {
    zv_builtins[BI_CAPACITY - 1].fn = bi_not_implemented;
    bi_init_counts();
    EXPECT_EQ(zv_bi_live, BI_CAPACITY);
    EXPECT_EQ(zv_bi_saved, BI_CAPACITY);
    zv_builtins[BI_CAPACITY - 1].fn = nullptr;
    bi_init_counts();
    EXPECT_EQ(zv_bi_live, live);
  }
}

TEST(BuiltinTable, ValueEncoding) {
  Value car = bi_value(93);
  EXPECT_EQ(tag_of(car), 7u);
  EXPECT_EQ(car & 0xFFFF, 93u);
  EXPECT_EQ(car & 0x00FF0000, 0u);
  EXPECT_EQ(car, 0x0700005Du);

  Value and_form = bi_value(191);
  EXPECT_EQ(tag_of(and_form), 5u);
  EXPECT_EQ(and_form & 0xFFFF, 191u);

  EXPECT_EQ(tag_of(bi_value(69)), 6u);    // the one macro
  EXPECT_EQ(tag_of(bi_value(16)), 8u);    // optional/rest
  EXPECT_EQ(tag_of(bi_value(89)), 9u);    // keywords
  EXPECT_EQ(bi_value(454), 0x070001C6u);  // the highest number fits the low half
  for (uint32_t i = 0; i < BI_COUNT; i++) ASSERT_TRUE(is_builtin(bi_value(i))) << i;
}

// Calling a placeholder must be a loud error that names the built-in, for
// every record that still has one.
TEST(BuiltinTable, PlaceholderSignalsNotImplementedWithItsNumber) {
  ErrorFn saved_error = zv_error_fn;
  WarnFn saved_warn = zv_warn_fn, saved_cerror = zv_cerror_fn;
  uint16_t saved_current = zvts->current_builtin;
  int placeholders = 0;
  for (uint32_t i = 0; i < BI_COUNT; i++) {
    if (zv_builtins[i].fn != bi_not_implemented) continue;
    placeholders++;
    zvts->current_builtin = static_cast<uint16_t>(i);
    uint32_t code = TRAP_ERROR(zv_builtins[i].fn(NIL, NIL));
    ASSERT_EQ(code, ERR_NOT_IMPLEMENTED) << "built-in " << i;
    ASSERT_EQ(ErrorTrap::object, make_fixnum(static_cast<int32_t>(i))) << "built-in " << i;
  }
  EXPECT_GT(placeholders, 0);
  EXPECT_EQ(err_object_count(ERR_NOT_IMPLEMENTED), 1u);
  zvts->current_builtin = saved_current;
  zv_error_fn = saved_error;
  zv_warn_fn = saved_warn;
  zv_cerror_fn = saved_cerror;
}

// Each name becomes one symbol, so names must be distinct, and they must
// read back as themselves: upper case, no character the reader treats
// specially.
TEST(BuiltinNames, DistinctAndReadable) {
  std::set<std::string> names;
  for (uint32_t i = 0; i < BI_COUNT; i++) {
    const char* s = zv_builtin_names[i];
    ASSERT_NE(s, nullptr) << i;
    ASSERT_GT(std::strlen(s), 0u) << i;
    EXPECT_TRUE(names.insert(s).second) << "duplicate name " << s << " at " << i;
    for (const char* p = s; *p; p++) {
      EXPECT_FALSE(*p >= 'a' && *p <= 'z') << s;
      EXPECT_EQ(std::strchr(" \t\n()'\"`,;|\\#", *p), nullptr) << s;
    }
  }
}

// Built-ins whose symbol is also a fixed symbol the kernel names by index
// must carry that symbol's name, or the genesis would make a second symbol
// of the same role and the kernel would call the wrong (empty) one.
TEST(BuiltinNames, FixedSymbolRolesKeepStandardNames) {
  struct Row {
    uint32_t n;
    const char* name;
  };
  const Row rows[] = {{16, "APPLY"},
                      {20, "EVAL"},
                      {24, "FUNCTION"},
                      {26, "PROGN"},
                      {27, "QUOTE"},
                      {53, "SETQ"},
                      {68, "MACROEXPAND-1"},
                      {69, "SETF"},
                      {75, "EQL"},
                      {81, "NULL"},
                      {107, "CONS"},
                      {112, "LIST"},
                      {148, "MEMBER"},
                      {161, "CHARACTER"},
                      {191, "AND"},
                      {204, "LET*"},
                      {210, "OR"},
                      {229, "FLOAT"},
                      {280, "VECTOR"},
                      {298, "STRING"},
                      {356, "CLOSE"},
                      {360, "LOAD"},
                      {364, "OPEN"},
                      {377, "COMPLEX"},
                      {407, "%KEYBOARD-INTERRUPT"},
                      {412, "%STEP-HOOK"},
                      {434, "SLOT-VALUE"}};
  for (const Row& r : rows) EXPECT_STREQ(zv_builtin_names[r.n], r.name) << r.n;
}
