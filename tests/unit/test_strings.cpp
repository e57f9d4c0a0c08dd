// Characters and strings: the string primitives, the character built-ins
// (161-190) and the string built-ins (292-314).
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "builtins/table.h"
#include "text/strings.h"
#include "world_fixture.h"

namespace {

constexpr uint32_t E_WRONG_TYPE = 5170, E_BAD_INDEX = 4146, E_END_BELOW_START = 8250;
constexpr uint32_t E_DESIGNATOR = 9299, E_TOO_LONG = 5195;

struct Arg {
  Value v;
  uint16_t tag = ST_ARG;
};
Arg kw(uint16_t number, Value v) { return Arg{v, number}; }

// Lays the arguments out as the evaluator does (the call frame, then the
// arguments toward index 0, keyword entries tagged with their number) and
// calls the built-in by its count.
Value call(uint32_t n, std::initializer_list<Arg> args) {
  ThreadState* ts = zvts;
  uint16_t saved_septr = ts->septr, saved_form = ts->zvform;
  ts->stack[--ts->septr] = StackEntry{bi_value(n), ST_CALL_FRAME, ts->zvform};
  ts->zvform = ts->septr;
  for (const Arg& a : args) ts->stack[--ts->septr] = StackEntry{a.v, a.tag, 0};
  Value a1 = args.size() > 0 ? args.begin()[0].v : NIL;
  Value a2 = args.size() > 1 ? args.begin()[1].v : NIL;
  uint8_t count = zv_builtins[n].count;
  Value r = zv_builtins[n].fn(count >= 1 && count <= 2 ? a1 : NIL, count == 2 ? a2 : NIL);
  ts->septr = saved_septr;
  ts->zvform = saved_form;
  return r;
}

Value ch(uint32_t code) { return make_char(code); }
Value fx(int32_t n) { return make_fixnum(n); }

std::string text(Value s) {
  EXPECT_TRUE(is_string(s));
  return std::string(reinterpret_cast<const char*>(string_bytes(s)), string_length(s));
}

// The error a call signals, restoring the stack as a throw would.
#define CALL_ERROR(...)                                \
  ([&]() {                                             \
    uint16_t septr = zvts->septr, form = zvts->zvform; \
    uint32_t code = TRAP_ERROR(call(__VA_ARGS__));     \
    zvts->septr = septr;                               \
    zvts->zvform = form;                               \
    return code;                                       \
  }())

class Strings : public ::testing::Test {
 protected:
  void SetUp() override {
    test_world_init();
    ErrorTrap::install();
    saved_stress_ = zv_gc_stress;
    gc_stress_init_from_env();  // ZORVA_GC_STRESS=N exercises the roots here
  }
  void TearDown() override {
    zv_gc_stress = saved_stress_;
    root_pop(nheld_);
    for (uint32_t k = 0; k < KEYWORD_SLOTS; k++) EXPECT_EQ(zvts->kwslots[k], 0) << k;
  }
  // Rooted strings and symbols, released in TearDown.
  Value& str(const char* s) {
    held_[nheld_] = str_from_cstr(s);
    root_push(&held_[nheld_]);
    return held_[nheld_++];
  }
  Value& sym(const char* s) {
    held_[nheld_] = sym_intern_cstr(s);
    root_push(&held_[nheld_]);
    return held_[nheld_++];
  }

 private:
  uint32_t saved_stress_ = 0;
  Value held_[128] = {};
  uint32_t nheld_ = 0;
};

// Every heap object must start where the previous one ends.
void expect_heap_walkable() {
  uint32_t at = 8 + zvm.heap_static;
  while (at < zvm.heap_fill) at += object_size_at(zvm.heap_base + at);
  EXPECT_EQ(at, zvm.heap_fill);
}

}  // namespace

// --- case in code page 1251 -------------------------------------------------

TEST_F(Strings, CaseConversionCoversLatinCyrillicAndTheIoPair) {
  uint8_t up[256], down[256];
  for (int c = 0; c < 256; c++) up[c] = down[c] = uint8_t(c);
  str_upcase_bytes(up, 256);
  str_downcase_bytes(down, 256);
  for (int c = 0; c < 256; c++) {
    bool small = (c >= 'a' && c <= 'z') || c >= 0xE0 || c == 0xB8;
    bool capital = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDF) || c == 0xA8;
    int expect_up = c == 0xB8 ? 0xA8 : small ? c - 32 : c;
    int expect_down = c == 0xA8 ? 0xB8 : capital ? c + 32 : c;
    EXPECT_EQ(up[c], expect_up) << c;
    EXPECT_EQ(down[c], expect_down) << c;
  }
}

TEST_F(Strings, CapitalizingTreatsTheRangeAsOneWord) {
  char a[] = "hello world";
  str_capitalize_bytes(reinterpret_cast<uint8_t*>(a), 11);
  EXPECT_STREQ(a, "Hello world");
  uint8_t b[] = {0xB8, 0xC6, 0xC8, 0x4B};  // small IO, two capitals, K
  str_capitalize_bytes(b, 4);
  EXPECT_EQ(b[0], 0xA8);
  EXPECT_EQ(b[1], 0xE6);
  EXPECT_EQ(b[2], 0xE8);
  EXPECT_EQ(b[3], 'k');
  str_capitalize_bytes(b, 0);  // an empty range touches nothing
  EXPECT_EQ(b[0], 0xA8);
}

TEST_F(Strings, SearchExactAndIgnoringCase) {
  auto find = [](const char* needle, const char* hay, bool fold) {
    return str_search(reinterpret_cast<const uint8_t*>(needle), uint32_t(strlen(needle)),
                      reinterpret_cast<const uint8_t*>(hay), uint32_t(strlen(hay)), fold);
  };
  EXPECT_EQ(find("lo", "hello", false), 3);
  EXPECT_EQ(find("LO", "hello", false), -1);
  EXPECT_EQ(find("LO", "hello", true), 3);
  EXPECT_EQ(find("", "abc", false), 0);
  EXPECT_EQ(find("abcd", "abc", false), -1);
  EXPECT_EQ(find("c", "abc", false), 2);  // a match at the very end
  EXPECT_EQ(find("\xB8\xE6", "x\xA8\xC6", true), 1);
  EXPECT_EQ(find("\xB8\xE6", "x\xA8\xC6", false), -1);
}

// --- growing and shrinking ----------------------------------------------------

TEST_F(Strings, AppendGrowsTheLastObjectInPlaceAndCopiesOtherwise) {
  zv_gc_stress = 0;  // object identity is the point here
  Value& s = str("ab");
  Value before = s;
  s = str_append_char(s, 'c');
  EXPECT_EQ(s, before);
  s = str_append_char(s, 'd');
  EXPECT_EQ(s, before);
  EXPECT_EQ(text(s), "abcd");

  str("x");  // no longer the last object
  s = str_append_char(s, 'e');
  EXPECT_NE(s, before);
  EXPECT_EQ(text(s), "abcde");
  EXPECT_EQ(text(before), "abcd");  // the old object is left as it was
  Value copy = s;
  s = str_append_char(s, 'f');  // the copy is on top: in place again
  EXPECT_EQ(s, copy);
  EXPECT_EQ(text(s), "abcdef");
  expect_heap_walkable();
}

TEST_F(Strings, AppendingManyCharactersKeepsEveryOne) {
  Value& s = str("");
  for (int i = 0; i < 3000; i++) {
    s = str_append_char(s, 'a' + i % 26);
    if (i % 100 == 0) str_from_cstr("interleaved");  // forces copies now and then
  }
  ASSERT_EQ(string_length(s), 3000u);
  for (int i = 0; i < 3000; i++) ASSERT_EQ(string_bytes(s)[i], 'a' + i % 26) << i;
  expect_heap_walkable();
}

TEST_F(Strings, ResizeKeepsTheHeapWalkable) {
  zv_gc_stress = 0;
  Value& last = str("0123456789abcdefghij");
  uint32_t fill = zvm.heap_fill;
  last = str_resize(last, 5);  // last object: the fill pointer comes down
  EXPECT_EQ(text(last), "01234");
  EXPECT_EQ(zvm.heap_fill, fill - 14);

  Value& middle = str("0123456789abcdefghij");
  str("after");
  Value m = middle;
  middle = str_resize(middle, 4);  // a 16-byte tail becomes a filler
  EXPECT_EQ(middle, m);
  EXPECT_EQ(text(middle), "0123");
  expect_heap_walkable();

  Value& small = str("abcdef");
  str("after");
  Value before = small;
  small = str_resize(small, 3);  // a 2-byte tail cannot hold a filler
  EXPECT_NE(small, before);
  EXPECT_EQ(text(small), "abc");
  expect_heap_walkable();

  small = str_resize(small, 2);
  str("after");
  before = small;
  small = str_resize(small, 1);  // same size: only the length changes
  EXPECT_EQ(small, before);
  EXPECT_EQ(text(small), "a");
  small = str_resize(small, 6);  // longer: a copy padded with zeros
  EXPECT_EQ(text(small), std::string("a\0\0\0\0\0", 6));
  expect_heap_walkable();
}

TEST_F(Strings, ResizedStringsSurviveCollections) {
  Value& s = str("the quick brown fox jumps");
  s = str_resize(s, 9);
  str("padding");
  gc_full_collection();
  EXPECT_EQ(text(s), "the quick");
  expect_heap_walkable();
}

// --- designators ---------------------------------------------------------------

TEST_F(Strings, DesignatorsGiveTheirStrings) {
  Value& s = str("abc");
  EXPECT_EQ(str_designated(s), s);
  Value& foo = sym("FOO");
  EXPECT_EQ(str_designated(foo), sym_name(symbol_index(foo)));
  EXPECT_EQ(text(str_designated(make_keyword(symbol_index(foo)))), "FOO");
  EXPECT_EQ(text(str_designated(NIL)), "NIL");
  EXPECT_EQ(text(str_designated(ch(0xE9))), "\xE9");
  EXPECT_TRUE(is_no_value(str_designated(ch(0x10061))));  // a font
  EXPECT_TRUE(is_no_value(str_designated(ch(0x261))));    // a modifier
  EXPECT_TRUE(is_no_value(str_designated(fx(3))));

  // STRING (298) is this conversion, with 9299 for the rest.
  EXPECT_EQ(call(BI_STRING, {{foo}}), sym_name(symbol_index(foo)));
  EXPECT_EQ(text(call(BI_STRING, {{ch(0xC9)}})), "\xC9");
  EXPECT_EQ(CALL_ERROR(BI_STRING, {{fx(3)}}), E_DESIGNATOR);
  EXPECT_EQ(ErrorTrap::object, fx(3));
  EXPECT_EQ(call(BI_SIMPLE_STRING_P, {{s}}), T);
  EXPECT_EQ(call(BI_SIMPLE_STRING_P, {{foo}}), NIL);
}

// --- character built-ins -------------------------------------------------------

TEST_F(Strings, UpcaseAndDowncaseKeepBitsFontAndSpecialKeys) {
  EXPECT_EQ(call(BI_CHAR_UPCASE, {{ch(0xB8)}}), ch(0xA8));
  EXPECT_EQ(call(BI_CHAR_DOWNCASE, {{ch(0xA8)}}), ch(0xB8));
  EXPECT_EQ(call(BI_CHAR_UPCASE, {{ch(0xE0)}}), ch(0xC0));
  EXPECT_EQ(call(BI_CHAR_DOWNCASE, {{ch('Q')}}), ch('q'));
  EXPECT_EQ(call(BI_CHAR_UPCASE, {{ch(0x30261)}}), ch(0x30241));  // font 3, modifier 1
  Value f1 = ch(0x13B);                                // a special key
  EXPECT_EQ(call(BI_CHAR_UPCASE, {{f1}}), f1);
  EXPECT_EQ(call(BI_CHAR_DOWNCASE, {{ch(0x141)}}), ch(0x141));
  EXPECT_EQ(CALL_ERROR(BI_CHAR_UPCASE, {{fx(65)}}), E_WRONG_TYPE);
}

TEST_F(Strings, ClassPredicatesFollowTheAttributeTable) {
  struct Row {
    uint32_t code;
    bool alpha, upper, lower, alnum, graphic;
  };
  const Row rows[] = {{'A', 1, 1, 0, 1, 1},  {'z', 1, 0, 1, 1, 1},  {'5', 0, 0, 0, 1, 1},
                      {0xC0, 1, 1, 0, 1, 1}, {0xFF, 1, 0, 1, 1, 1}, {0xA8, 1, 1, 0, 1, 1},
                      {0xB8, 1, 0, 1, 1, 1}, {0xB9, 0, 0, 0, 0, 1}, {' ', 0, 0, 0, 0, 1},
                      {10, 0, 0, 0, 0, 0},   {0x141, 0, 0, 0, 0, 0}};
  for (const Row& r : rows) {
    Value c = ch(r.code);
    EXPECT_EQ(call(BI_ALPHA_CHAR_P, {{c}}), bool_value(r.alpha)) << r.code;
    EXPECT_EQ(call(BI_BOTH_CASE_P, {{c}}), bool_value(r.alpha)) << r.code;
    EXPECT_EQ(call(BI_UPPER_CASE_P, {{c}}), bool_value(r.upper)) << r.code;
    EXPECT_EQ(call(BI_LOWER_CASE_P, {{c}}), bool_value(r.lower)) << r.code;
    EXPECT_EQ(call(BI_ALPHANUMERICP, {{c}}), bool_value(r.alnum)) << r.code;
    EXPECT_EQ(call(BI_GRAPHIC_CHAR_P, {{c}}), bool_value(r.graphic)) << r.code;
  }
  EXPECT_EQ(call(BI_GRAPHIC_CHAR_P, {{ch(0x241)}}), NIL);  // modifier bits: not graphic
  EXPECT_EQ(call(BI_CHARACTERP, {{ch('a')}}), T);
  EXPECT_EQ(call(BI_CHARACTERP, {{fx(97)}}), NIL);
  EXPECT_EQ(call(BI_STRING_CHAR_TYPE_P, {{ch(0x10061)}}), NIL);
  EXPECT_EQ(call(BI_STRING_CHAR_TYPE_P, {{fx(1)}}), NIL);
  EXPECT_EQ(call(BI_STRING_CHAR_P, {{ch('a')}}), T);
  EXPECT_EQ(CALL_ERROR(BI_STRING_CHAR_P, {{fx(1)}}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_ALPHA_CHAR_P, {{NIL}}), E_WRONG_TYPE);
}

TEST_F(Strings, DigitPredicateAnswersTAndChecksTheRadix) {
  EXPECT_EQ(call(BI_DIGIT_CHAR_P, {{ch('7')}}), T);
  EXPECT_EQ(call(BI_DIGIT_CHAR_P, {{ch('a')}}), NIL);
  EXPECT_EQ(call(BI_DIGIT_CHAR_P, {{ch('f')}, {fx(16)}}), T);
  EXPECT_EQ(call(BI_DIGIT_CHAR_P, {{ch('G')}, {fx(16)}}), NIL);
  EXPECT_EQ(call(BI_DIGIT_CHAR_P, {{ch('2')}, {fx(2)}}), NIL);
  EXPECT_EQ(call(BI_DIGIT_CHAR_P, {{ch(0xC0)}, {fx(36)}}), NIL);  // Cyrillic letters are no digits
  EXPECT_EQ(CALL_ERROR(BI_DIGIT_CHAR_P, {{ch('1')}, {fx(1)}}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_DIGIT_CHAR_P, {{ch('1')}, {ch('a')}}), E_WRONG_TYPE);
}

TEST_F(Strings, DigitCharMakesDigitsAndLetters) {
  EXPECT_EQ(call(BI_DIGIT_CHAR, {{fx(11)}, {fx(16)}}), ch('B'));
  EXPECT_EQ(call(BI_DIGIT_CHAR, {{fx(7)}}), ch('7'));
  EXPECT_EQ(call(BI_DIGIT_CHAR, {{fx(10)}}), NIL);  // weight not below the radix
  EXPECT_EQ(call(BI_DIGIT_CHAR, {{fx(3)}, {fx(37)}}), NIL);
  EXPECT_EQ(call(BI_DIGIT_CHAR, {{fx(3)}, {fx(10)}, {fx(2)}}), ch(0x20033));
  EXPECT_EQ(CALL_ERROR(BI_DIGIT_CHAR, {{fx(-1)}}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_DIGIT_CHAR, {{fx(1)}, {ch('a')}}), E_WRONG_TYPE);

  ErrorTrap::install();
  EXPECT_EQ(call(BI_DIGIT_CHAR, {{fx(1)}, {fx(10)}, {fx(0)}, {fx(9)}}), ch('1'));
  EXPECT_EQ(ErrorTrap::warnings, 1);
  EXPECT_EQ(ErrorTrap::warning_code, ERR_TOO_MANY_ARGS);
}

TEST_F(Strings, MadeCharactersNeverCarryTheReaderMarkerBits) {
  EXPECT_EQ(call(BI_CODE_CHAR, {{fx(0x41)}}), ch(0x41));
  EXPECT_EQ(call(BI_CODE_CHAR, {{fx(0x41)}, {fx(5)}, {fx(2)}}), ch(0x20A41));
  EXPECT_EQ(call(BI_CODE_CHAR, {{fx(0x29)}, {fx(0x7F)}}), ch(0xE29));  // only 3 modifier bits
  EXPECT_EQ(call(BI_CODE_CHAR, {{fx(0x13B)}}), ch(0x13B));             // a special key
  for (int32_t code : {0x1029, 0x102E, 0x102C, 0x1040, 0x1060}) {
    Value c = call(BI_CODE_CHAR, {{fx(code)}, {fx(0xFF)}});
    EXPECT_EQ(c & 0xF000, 0u) << code;
    EXPECT_EQ(call(BI_INT_CHAR, {{fx(code)}}), NIL) << code;
  }
  EXPECT_EQ(CALL_ERROR(BI_CODE_CHAR, {{ch('a')}}), E_WRONG_TYPE);

  Value c = call(BI_MAKE_CHAR, {{ch(0x30141)}, {fx(0xFF)}, {fx(0x105)}});
  EXPECT_EQ(c, ch(0x50F41));  // special-key bit kept, modifiers and font replaced
  EXPECT_EQ(call(BI_MAKE_CHAR, {{ch(0x30E41)}}), ch(0x41));
  EXPECT_EQ(CALL_ERROR(BI_MAKE_CHAR, {{fx(1)}}), E_WRONG_TYPE);
}

TEST_F(Strings, CodeBitsFontAndIntegerConversions) {
  Value c = ch(0x800E41);
  EXPECT_EQ(call(BI_CHAR_CODE, {{c}}), fx(0x41));
  EXPECT_EQ(call(BI_CHAR_BITS, {{c}}), fx(0x0E));
  EXPECT_EQ(call(BI_CHAR_FONT, {{c}}), fx(0x80));
  Value n = call(BI_CHAR_INT, {{c}});  // beyond the fixnums: a boxed integer
  ASSERT_EQ(tag_of(n), TAG_INT64);
  EXPECT_EQ(int64_value(n), 0x800E41);
  EXPECT_EQ(call(BI_INT_CHAR, {{n}}), c);
  EXPECT_EQ(call(BI_INT_CHAR, {{call(BI_CHAR_INT, {{ch('x')}})}}), ch('x'));
  EXPECT_EQ(call(BI_INT_CHAR, {{fx(-1)}}), NIL);
  EXPECT_EQ(CALL_ERROR(BI_INT_CHAR, {{ch('x')}}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_CHAR_CODE, {{fx(1)}}), E_WRONG_TYPE);
}

TEST_F(Strings, ComparisonsUseWholeValues) {
  EXPECT_EQ(call(BI_CHAR_EQ, {{ch('a')}, {ch('a')}, {ch('a')}}), T);
  EXPECT_EQ(call(BI_CHAR_EQ, {{ch('a')}, {ch(0x10061)}}), NIL);         // fonts differ
  EXPECT_EQ(call(BI_CHAR_NE, {{ch('a')}, {ch('b')}, {ch('a')}}), NIL);  // not only neighbours
  EXPECT_EQ(call(BI_CHAR_NE, {{ch('a')}, {ch('b')}, {ch('c')}}), T);
  EXPECT_EQ(call(BI_CHAR_LT, {{ch('a')}, {ch('b')}, {ch('c')}}), T);
  EXPECT_EQ(call(BI_CHAR_LT, {{ch('a')}, {ch('b')}, {ch('b')}}), NIL);
  EXPECT_EQ(call(BI_CHAR_GT, {{ch('c')}, {ch('b')}, {ch('a')}}), T);
  EXPECT_EQ(call(BI_CHAR_GE, {{ch('c')}, {ch('c')}, {ch('a')}}), T);
  EXPECT_EQ(call(BI_CHAR_LT, {{ch(0xFF)}, {ch(0x10000)}}), T);  // the font counts first
  EXPECT_EQ(call(BI_CHAR_LT, {{ch('a')}}), T);
  EXPECT_EQ(CALL_ERROR(BI_CHAR_LT, {{ch('a')}, {fx(98)}}), E_WRONG_TYPE);

  EXPECT_EQ(call(BI_CHAR_EQUAL, {{ch('a')}, {ch('A')}, {ch('a')}}), T);
  EXPECT_EQ(call(BI_CHAR_EQUAL, {{ch(0xB8)}, {ch(0xA8)}}), T);
  EXPECT_EQ(call(BI_CHAR_EQUAL, {{ch(0xE0)}, {ch(0xC0)}, {ch(0xC1)}}), NIL);
  EXPECT_EQ(CALL_ERROR(BI_CHAR_EQUAL, {{ch('a')}, {NIL}}), E_WRONG_TYPE);
}

TEST_F(Strings, CharacterFromDesignators) {
  EXPECT_EQ(call(BI_CHARACTER, {{ch(0x20041)}}), ch(0x20041));
  Value& one = str("q");
  EXPECT_EQ(call(BI_CHARACTER, {{one}}), ch('q'));
  Value& x = sym("X");
  EXPECT_EQ(call(BI_CHARACTER, {{x}}), ch('X'));
  Value& two = str("ab");
  EXPECT_EQ(CALL_ERROR(BI_CHARACTER, {{two}}), E_DESIGNATOR);
  EXPECT_EQ(ErrorTrap::object, two);
  EXPECT_EQ(CALL_ERROR(BI_CHARACTER, {{NIL}}), E_DESIGNATOR);  // "NIL" has three
  EXPECT_EQ(CALL_ERROR(BI_CHARACTER, {{fx(65)}}), E_DESIGNATOR);
}

TEST_F(Strings, CharNamesBothWays) {
  EXPECT_EQ(text(call(BI_CHAR_NAME, {{ch(' ')}})), "SPACE");
  EXPECT_EQ(call(BI_CHAR_NAME, {{ch('a')}}), NIL);
  Value& rubout = str("Rubout");
  EXPECT_EQ(call(BI_NAME_CHAR, {{rubout}}), ch(127));
  Value& none = str("NoSuchName");
  EXPECT_EQ(call(BI_NAME_CHAR, {{none}}), NIL);
  EXPECT_EQ(call(BI_CHAR_NAME, {{ch(0x220)}}), NIL);  // a modifier: no name
  EXPECT_EQ(call(BI_CHAR_NAME, {{ch(0x241)}}), NIL);
  EXPECT_EQ(call(BI_CHAR_NAME, {{ch(0x1000A)}}), NIL);
  EXPECT_EQ(CALL_ERROR(BI_CHAR_NAME, {{fx(10)}}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_NAME_CHAR, {{fx(10)}}), E_WRONG_TYPE);
}

// --- string built-ins -----------------------------------------------------------

TEST_F(Strings, OrderingAnswersTheMismatchIndex) {
  struct Row {
    uint32_t n;
    const char *a, *b;
    int32_t expect;  // -1: NIL
  };
  const Row rows[] = {
      {300, "abc", "abd", 2},
      {300, "abd", "abc", -1},
      {300, "ab", "abc", 2},
      {300, "abc", "ab", -1},
      {300, "abc", "abc", -1},
      {301, "abd", "abc", 2},
      {301, "abc", "ab", 2},
      {301, "ab", "abc", -1},
      {302, "abc", "abc", 3},
      {302, "abd", "abc", -1},
      {303, "abc", "abc", 3},
      {303, "ab", "abc", -1},
      {304, "abc", "abc", -1},
      {304, "abc", "abx", 2},
      {304, "", "a", 0},
      {306, "ABC", "abd", 2},
      {307, "abd", "ABC", 2},
      {308, "ABC", "abc", 3},
      {309, "abc", "ABD", -1},
      {310, "ABC", "abc", -1},
      {310, "ABC", "abx", 2},
      // Cyrillic order is byte order; case is ignored with the IO pair.
      {300, "\xC0", "\xC1", 0},
      {306, "\xB8\xE0", "\xA8\xC1", 1},
      {300, "\xA8", "\xC0", 0},
  };
  for (const Row& r : rows) {
    Value& a = str(r.a);
    Value& b = str(r.b);
    Value v = call(r.n, {{a}, {b}});
    EXPECT_EQ(v, r.expect < 0 ? NIL : fx(r.expect)) << r.n << " " << r.a << " " << r.b;
    a = b = NIL;
  }
}

TEST_F(Strings, EqualityWithRangesAndDesignators) {
  Value& a = str("xxhello");
  Value& b = str("HELLOyy");
  EXPECT_EQ(call(BI_STRING_EQ, {{a}, {b}}), NIL);
  EXPECT_EQ(call(BI_STRING_EQUAL, {{a}, {b}, kw(1, fx(2)), kw(4, fx(5))}), T);
  EXPECT_EQ(call(BI_STRING_EQ, {{a}, {b}, kw(1, fx(2)), kw(4, fx(5))}), NIL);
  EXPECT_EQ(call(BI_STRING_EQ, {{a}, {b}, kw(1, fx(7)), kw(4, fx(0))}), T);  // two empty ranges
  EXPECT_EQ(call(BI_STRING_EQ, {{a}, {b}, kw(1, fx(2)), kw(2, NIL), kw(4, fx(5))}), NIL);
  Value& foo = sym("FOO");
  Value& name = str("FOO");
  EXPECT_EQ(call(BI_STRING_EQ, {{foo}, {name}}), T);
  EXPECT_EQ(call(BI_STRING_EQ, {{ch('N')}, {NIL}, kw(3, fx(0)), kw(4, fx(1))}), T);
  EXPECT_EQ(call(BI_STRING_EQUAL, {{ch(0xB8)}, {ch(0xA8)}}), T);
  // A character converted first must not lose the string beside it,
  // which the collection it may start can move.
  str_from_cstr("garbage");
  Value& x = str("x");
  EXPECT_EQ(call(BI_STRING_EQ, {{ch('x')}, {x}}), T);
  EXPECT_EQ(call(BI_STRING_EQUAL, {{x}, {ch('X')}}), T);
  // The first string's start goes into the answer.
  EXPECT_EQ(call(BI_STRING_LT, {{a}, {b}, kw(1, fx(2)), kw(3, fx(5))}), fx(2));
  EXPECT_EQ(CALL_ERROR(BI_STRING_EQ, {{a}, {fx(1)}}), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, fx(1));
}

TEST_F(Strings, RangeErrorsOfTheStringBuiltins) {
  Value& a = str("abcde");
  Value& b = str("abcde");
  EXPECT_EQ(CALL_ERROR(BI_STRING_EQ, {{a}, {b}, kw(1, fx(6))}), E_BAD_INDEX);
  EXPECT_EQ(ErrorTrap::object, fx(6));
  EXPECT_EQ(CALL_ERROR(BI_STRING_EQ, {{a}, {b}, kw(1, fx(-1))}), E_BAD_INDEX);
  EXPECT_EQ(CALL_ERROR(BI_STRING_EQ, {{a}, {b}, kw(3, ch('a'))}), E_BAD_INDEX);
  EXPECT_EQ(CALL_ERROR(BI_STRING_EQ, {{a}, {b}, kw(4, fx(9))}), E_BAD_INDEX);
  EXPECT_EQ(ErrorTrap::object, fx(9));
  EXPECT_EQ(CALL_ERROR(BI_STRING_EQ, {{a}, {b}, kw(2, T)}), E_BAD_INDEX);
  EXPECT_EQ(CALL_ERROR(BI_STRING_EQ, {{a}, {b}, kw(1, fx(3)), kw(2, fx(2))}), E_END_BELOW_START);
  EXPECT_EQ(ErrorTrap::object, fx(3));
  EXPECT_EQ(CALL_ERROR(BI_STRING_UPCASE, {{a}, kw(9, fx(4)), kw(10, fx(1))}), E_END_BELOW_START);
  EXPECT_EQ(CALL_ERROR(BI_STRING_UPCASE, {{a}, kw(10, fx(6))}), E_BAD_INDEX);
  EXPECT_EQ(call(BI_CHAR, {{a}, {fx(4)}}), ch('e'));
  EXPECT_EQ(call(BI_SET_CHAR, {{a}, {fx(0)}, {ch(0xE9)}}), ch(0xE9));
  EXPECT_EQ(text(a),
            "\xE9"
            "bcde");
  EXPECT_EQ(CALL_ERROR(BI_CHAR, {{a}, {fx(5)}}), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, fx(5));
  EXPECT_EQ(CALL_ERROR(BI_CHAR, {{a}, {fx(-1)}}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_CHAR, {{fx(1)}, {fx(0)}}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_SET_CHAR, {{a}, {fx(5)}, {ch('z')}}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_SET_CHAR, {{a}, {fx(0)}, {ch(0x241)}}), E_WRONG_TYPE);
  EXPECT_EQ(text(a),
            "\xE9"
            "bcde");
}

TEST_F(Strings, KeywordsLeftmostWinsAndStrangersAreIgnored) {
  Value& a = str("abcdef");
  Value& b = str("cdef");
  EXPECT_EQ(call(BI_STRING_EQ, {{a}, {b}, kw(1, fx(2)), kw(1, fx(0))}), T);
  ErrorTrap::install();
  EXPECT_EQ(call(BI_STRING_EQ, {{a}, {b}, kw(9, fx(0)), kw(1, fx(2))}), T);
  EXPECT_EQ(ErrorTrap::warnings, 1);
  EXPECT_EQ(ErrorTrap::warning_code, 0x1036u);
}

TEST_F(Strings, CaseBuiltinsReturnConvertedCopies) {
  Value& s = str("hello world");
  Value up = call(BI_STRING_UPCASE, {{s}});
  EXPECT_EQ(text(up), "HELLO WORLD");
  EXPECT_NE(up, s);
  EXPECT_EQ(text(s), "hello world");
  EXPECT_EQ(text(call(BI_STRING_CAPITALIZE, {{s}})), "Hello world");
  EXPECT_EQ(text(call(BI_STRING_UPCASE, {{s}, kw(9, fx(6)), kw(10, fx(8))})), "hello WOrld");
  EXPECT_EQ(text(call(BI_STRING_CAPITALIZE, {{s}, kw(9, fx(6))})), "hello World");
  EXPECT_EQ(
      text(call(BI_STRING_DOWNCASE, {{call(BI_STRING_UPCASE, {{s}})}, kw(10, NIL), kw(9, fx(1))})),
      "Hello world");
  Value& cyr = str("\xA8\xCB\xCA\xC0");
  EXPECT_EQ(text(call(BI_STRING_DOWNCASE, {{cyr}})), "\xB8\xEB\xEA\xE0");
  EXPECT_EQ(text(call(BI_STRING_CAPITALIZE, {{cyr}})), "\xA8\xEB\xEA\xE0");
  // A symbol's name is never changed in place.
  Value& foo = sym("FOO");
  EXPECT_EQ(text(call(BI_STRING_DOWNCASE, {{foo}})), "foo");
  EXPECT_EQ(text(sym_name(symbol_index(foo))), "FOO");
  EXPECT_EQ(text(call(BI_STRING_UPCASE, {{ch('q')}})), "Q");
}

TEST_F(Strings, MakeStringFillsAndChecks) {
  EXPECT_EQ(text(call(BI_MAKE_STRING, {{fx(3)}})), "   ");
  EXPECT_EQ(text(call(BI_MAKE_STRING, {{fx(4)}, kw(13, ch(0xE0))})), "\xE0\xE0\xE0\xE0");
  EXPECT_EQ(text(call(BI_MAKE_STRING, {{fx(0)}})), "");
  EXPECT_EQ(CALL_ERROR(BI_MAKE_STRING, {{fx(2)}, kw(13, fx(1))}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_MAKE_STRING, {{fx(2)}, kw(13, ch(0x10041))}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_MAKE_STRING, {{fx(-1)}}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_MAKE_STRING, {{fx(int32_t(STR_MAX_LENGTH))}}), E_TOO_LONG);
}

TEST_F(Strings, TrimmingFromEitherEnd) {
  Value& bag = str(" *");
  Value& s = str("** a b *");
  EXPECT_EQ(text(call(BI_STRING_LEFT_TRIM, {{bag}, {s}})), "a b *");
  EXPECT_EQ(text(call(BI_STRING_RIGHT_TRIM, {{bag}, {s}})), "** a b");
  EXPECT_EQ(text(call(BI_STRING_TRIM, {{bag}, {s}})), "a b");
  EXPECT_EQ(call(BI_STRING_TRIM, {{ch('q')}, {s}}), s);  // nothing removed: the same object
  for (int i = 0; i < 4; i++) {               // in stress mode, each kind of collection in turn
    for (int j = 0; j <= i; j++) str_from_cstr("garbage");
    Value spaced = str_from_cstr(" x ");
    root_push(&spaced);
    EXPECT_EQ(text(call(BI_STRING_TRIM, {{ch(' ')}, {spaced}})), "x");
    root_pop();
  }
  Value& stars = str("***");
  EXPECT_EQ(text(call(BI_STRING_TRIM, {{bag}, {stars}})), "");
  EXPECT_EQ(text(call(BI_STRING_LEFT_TRIM, {{ch('F')}, {sym("FFOO")}})), "OO");
  EXPECT_EQ(CALL_ERROR(BI_STRING_TRIM, {{fx(1)}, {s}}), E_WRONG_TYPE);
  EXPECT_EQ(CALL_ERROR(BI_STRING_TRIM, {{bag}, {fx(1)}}), E_WRONG_TYPE);
}
