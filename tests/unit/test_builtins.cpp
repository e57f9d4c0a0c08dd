// The built-in function table and the names the genesis gives it.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "builtins/table.h"
#include "genesis/builtin_names.h"
#include "world_fixture.h"

namespace {

// The built-ins of the first table, 0..454, whose records every image made
// so far carries.
constexpr uint32_t FIRST_TABLE = 455;

int count_kind(uint8_t kind) {
  int n = 0;
  for (uint32_t i = 0; i < FIRST_TABLE; i++) n += zv_builtins[i].kind == kind;
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
  for (uint32_t i = 0; i < FIRST_TABLE; i++) seen[{zv_builtins[i].kind, zv_builtins[i].count}]++;
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
  EXPECT_EQ(zv_builtins[BI_GC].fn, &bi_gc);
}

TEST(BuiltinTable, EveryBuiltinHasARoutineAndSparesHaveNone) {
  // The first table's built-ins are all listed; above them a record is
  // a built-in exactly when the list names it.
  for (uint32_t i = 0; i < FIRST_TABLE; i++) EXPECT_NE(zv_builtin_names[i], nullptr) << i;
  for (uint32_t i = 0; i < BI_CAPACITY; i++) {
    bool listed = zv_builtin_names[i] != nullptr;
    EXPECT_EQ(zv_builtins[i].fn != nullptr, listed) << i;
    if (listed) continue;
    EXPECT_EQ(zv_builtins[i].kind, KIND_FIXED) << i;
    EXPECT_EQ(zv_builtins[i].count, 0) << i;
  }
  EXPECT_NE(zv_builtin_names[BI_COUNT - 1], nullptr);
}

TEST(BuiltinTable, InitCountsTrimsSparesAndIsRepeatable) {
  zv_bi_live = zv_bi_saved = BI_CAPACITY;
  bi_init_counts();
  EXPECT_EQ(zv_bi_live, BI_COUNT);
  EXPECT_EQ(zv_bi_saved, BI_COUNT);
  bi_init_counts();
  EXPECT_EQ(zv_bi_live, BI_COUNT);
  EXPECT_EQ(zv_bi_saved, BI_COUNT);

  // A built-in added in a spare record above the others is counted.
  BuiltinRecord saved = zv_builtins[BORROWED_A];
  zv_builtins[BORROWED_A].fn = bi_not_implemented;
  bi_init_counts();
  EXPECT_EQ(zv_bi_live, BORROWED_A + 1);
  EXPECT_EQ(zv_bi_saved, BORROWED_A + 1);
  zv_builtins[BORROWED_A] = saved;
  bi_init_counts();
  EXPECT_EQ(zv_bi_live, BI_COUNT);
}

TEST(BuiltinTable, ValueEncoding) {
  Value car = bi_value(BI_CAR);
  EXPECT_EQ(tag_of(car), 7u);
  EXPECT_EQ(car & 0xFFFF, 93u);
  EXPECT_EQ(car & 0x00FF0000, 0u);
  EXPECT_EQ(car, 0x0700005Du);

  Value and_form = bi_value(BI_AND);
  EXPECT_EQ(tag_of(and_form), 5u);
  EXPECT_EQ(and_form & 0xFFFF, 191u);

  EXPECT_EQ(tag_of(bi_value(BI_SETF)), 6u);      // the one macro
  EXPECT_EQ(tag_of(bi_value(BI_APPLY)), 8u);     // optional/rest
  EXPECT_EQ(tag_of(bi_value(BI_ASSOC)), 9u);     // keywords
  EXPECT_EQ(bi_value(BI_FIXNUMP), 0x070001C6u);  // the highest number fits the low half
  for (uint32_t i = 0; i < BI_CAPACITY; i++) ASSERT_TRUE(is_builtin(bi_value(i))) << i;
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
  // With no placeholder left, the routine itself still names its number.
  if (placeholders == 0) {
    zvts->current_builtin = static_cast<uint16_t>(BI_COUNT - 1);
    EXPECT_EQ(TRAP_ERROR(bi_not_implemented(NIL, NIL)), ERR_NOT_IMPLEMENTED);
    EXPECT_EQ(ErrorTrap::object, make_fixnum(static_cast<int32_t>(BI_COUNT - 1)));
  }
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
  for (uint32_t i = 0; i < BI_CAPACITY; i++) {
    const char* s = zv_builtin_names[i];
    if (!s) continue;  // a spare record
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
