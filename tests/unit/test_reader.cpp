// The reader: token rules, the standard macro characters, backquote, the
// dispatching functions under #, character names and the macro-table
// built-ins, read from string streams in a world made by the genesis.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "genesis/world.h"
#include "io/stream.h"
#include "object/bignum.h"
#include "object/chartab.h"
#include "text/reader.h"
#include "text/strings.h"
#include "world_fixture.h"

namespace {

// TRAP_ERROR that also leaves the Lisp stack and its context chain as a
// throw to this point would.
#define TRAP(body)                                  \
  ([&]() -> uint32_t {                              \
    uint16_t sp = zvts->septr, cx = zvts->zvdincxt; \
    uint16_t fm = zvts->zvform;                     \
    uint32_t code = TRAP_ERROR(body);               \
    zvts->septr = sp;                               \
    zvts->zvform = fm;                              \
    zvts->zvdincxt = cx;                            \
    return code;                                    \
  }())

constexpr uint32_t E_EOF = 4163, E_CHAR = 4164, E_TOKEN = 4165, E_CLOSE = 4167, E_BASE = 4173;
constexpr uint32_t E_DISPATCH = 8260, E_SHARP = 16452, E_BRACES = 70, E_TYPE = 5170;

std::string name_of(Value sym) {
  Value n = sym_name(symbol_index(sym));
  return std::string(reinterpret_cast<const char*>(string_bytes(n)), string_length(n));
}

// A plain rendering of what was read, enough to compare structures.
std::string show(Value v) {
  char buf[64];
  switch (tag_of(v)) {
    case TAG_FIXNUM:
      return std::to_string(fixnum_value(v));
    case TAG_INT64:
      if (is_bignum(v)) {  // in hexadecimal, from its limbs
        std::string h;
        for (uint32_t i = int_size(v); i-- > 0;) {
          std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(int_limb(v, i)));
          h += buf;
        }
        return "#x" + h;
      }
      return std::to_string(int64_value(v)) + "L";
    case TAG_DOUBLE:
      std::snprintf(buf, sizeof buf, "%gd", double_value(v));
      return buf;
    case TAG_KEYWORD:
      return ":" + name_of(v);
    case TAG_SYMBOL:
      return name_of(v);
    case TAG_CHAR:
      std::snprintf(buf, sizeof buf, "#\\%X", v & 0xFFFFFF);
      return buf;
    case TAG_COMPLEX:
      return "#C";
    case TAG_OBJECT:
      return "#<object>";
    case TAG_VECTOR: {
      if (is_string(v))
        return "\"" +
               std::string(reinterpret_cast<const char*>(string_bytes(v)), string_length(v)) + "\"";
      std::string s = "#(";
      for (uint32_t i = 0; i < heap_length(v); i++) s += (i ? " " : "") + show(heap_word(v, i));
      return s + ")";
    }
    case TAG_CONS: {
      if (nil_p(v)) return "NIL";
      std::string s = "(";
      for (;;) {
        s += show(car(v));
        v = cdr(v);
        if (nil_p(v)) break;
        if (!cons_p(v)) {
          s += " . " + show(v);
          break;
        }
        s += " ";
      }
      return s + ")";
    }
  }
  std::snprintf(buf, sizeof buf, "<%08X>", v);
  return buf;
}

class Reader : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gen_build_world("ZORVA.ROL")) << gen_error();
    ErrorTrap::install();
    gc_stress_init_from_env();  // ZORVA_GC_STRESS=N checks the roots here
  }
  void TearDown() override { zv_gc_stress = 0; }

  // A string input stream over text, kept on the Lisp stack so that it
  // survives collections.
  Value stream(const std::string& text) {
    Value s = str_from_bytes(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    s = make_string_input_stream(s, 0, uint32_t(text.size()));
    push_anon(s);
    return s;
  }
  Value stream_value() { return zvts->stack[zvts->septr].arg; }

  // Reads one object at top level; eof gives :EOF-MARK.
  Value read1(const std::string& text) {
    uint16_t sp = zvts->septr;
    push_anon(make_keyword(symbol_index(sym_intern_cstr("EOF-MARK"))));  // kept from collection
    stream(text);
    Value eof = zvts->stack[sp - 1].arg;
    Value x = read_from(stream_value(), false, eof, false);
    zvts->septr = sp;
    return x;
  }
  std::string r(const std::string& text) { return show(read1(text)); }
  uint32_t err(const std::string& text) { return TRAP(read_from(stream(text), true, NIL, false)); }
};

TEST_F(Reader, SymbolsAndEscapes) {
  EXPECT_EQ(r("abc"), "ABC");
  EXPECT_EQ(r("|abc|"), "abc");
  EXPECT_EQ(r("\\a\\b\\c"), "abc");
  EXPECT_EQ(r("a|b c|d"), "Ab cD");
  EXPECT_EQ(r("1+"), "1+");
  EXPECT_EQ(r("+"), "+");
  EXPECT_EQ(r("-"), "-");
  EXPECT_EQ(r("1e"), "1E");
  EXPECT_EQ(r("\\1"), "1");  // an escaped digit makes a symbol
  EXPECT_EQ(r("||"), "");
  EXPECT_EQ(r("nil"), "NIL");
  EXPECT_EQ(read1("nil"), NIL);
  EXPECT_EQ(read1("t"), T);
  // Case conversion of the Cyrillic letters, 0xB8 to 0xA8 included.
  EXPECT_EQ(r("\xE0\xB8"), "\xC0\xA8");
  EXPECT_EQ(err("\x01"), E_CHAR);
  EXPECT_EQ(err("|abc"), E_EOF);
  EXPECT_EQ(err("ab\\"), E_EOF);
  // A backspace is a constituent without a token role: an illegal one.
  EXPECT_EQ(err("a\bb"), E_TOKEN);
}

TEST_F(Reader, Numbers) {
  EXPECT_EQ(r("1."), "1");
  EXPECT_EQ(r(".5"), "0.5d");
  EXPECT_EQ(r("1.5"), "1.5d");
  EXPECT_EQ(r("1e3"), "1000d");
  EXPECT_EQ(r("1.5d-3"), "0.0015d");
  EXPECT_EQ(r("-.5"), "-0.5d");
  EXPECT_EQ(r("+.5e+1"), "5d");
  EXPECT_EQ(r("1.e2"), "100d");
  EXPECT_EQ(r("8388607"), "8388607");
  EXPECT_EQ(r("8388608"), "8388608L");
  EXPECT_EQ(r("-8388608"), "-8388608");
  EXPECT_EQ(r("-8388609"), "-8388609L");
  EXPECT_EQ(r("9223372036854775807"), "9223372036854775807L");
  EXPECT_EQ(r("-9223372036854775808"), "-9223372036854775808L");
  // Beyond 64 bits: bignums, two's complement limbs of 64 bits.
  EXPECT_EQ(r("9223372036854775808"), "#x00000000000000008000000000000000");
  EXPECT_EQ(r("-9223372036854775809"), "#xffffffffffffffff7fffffffffffffff");
  EXPECT_EQ(r("-18446744073709551616."), "#xffffffffffffffff0000000000000000");
  EXPECT_EQ(r("+340282366920938463463374607431768211456"),
            "#x000000000000000100000000000000000000000000000000");
  // Integer tokens are limited only by the token length.
  EXPECT_EQ(r(std::string(132, '0')), "0");
  EXPECT_EQ(r("-" + std::string(129, '0') + "7."), "-7");
  EXPECT_EQ(tag_of(read1(std::string(132, '9'))), TAG_INT64);
  EXPECT_EQ(err(std::string(133, '9')), E_TOKEN);
  EXPECT_EQ(tag_of(read1("1." + std::string(98, '5'))), TAG_SYMBOL);  // a 100-character float
  EXPECT_EQ(tag_of(read1("1e999")), TAG_SYMBOL);                      // out of range
  EXPECT_EQ(err(".."), E_TOKEN);
  EXPECT_EQ(err("."), E_CHAR);
}

TEST_F(Reader, ReadBase) {
  sym_set_value(FS_READ_BASE, make_fixnum(16));
  EXPECT_EQ(r("ff"), "255");
  EXPECT_EQ(r("1e5"), "485");  // no exponent above base 10
  EXPECT_EQ(r("10."), "10");   // a trailing dot is decimal
  EXPECT_EQ(r("1.5"), "1.5d");
  EXPECT_EQ(r("fg"), "FG");
  EXPECT_EQ(r("-10000000000000000"), "#xffffffffffffffff0000000000000000");
  sym_set_value(FS_READ_BASE, make_fixnum(36));
  EXPECT_EQ(r("zzzzzzzzzzzzzz"), "#x000000000000014ce6b167f30fffffff");
  sym_set_value(FS_READ_BASE, make_fixnum(2));
  EXPECT_EQ(r("1" + std::string(64, '0')), "#x00000000000000010000000000000000");
  EXPECT_EQ(r("101"), "5");
  EXPECT_EQ(r("102"), "102");
  sym_set_value(FS_READ_BASE, make_fixnum(37));
  EXPECT_EQ(err("12"), E_BASE);
  EXPECT_EQ(ErrorTrap::object, make_symbol(FS_READ_BASE));
}

TEST_F(Reader, PackageMarkers) {
  Value k = read1(":foo");
  EXPECT_EQ(tag_of(k), TAG_KEYWORD);
  EXPECT_EQ(symbol_index(k), symbol_index(sym_intern_cstr("FOO")));
  EXPECT_EQ(r("a:b"), "A:B");
  EXPECT_EQ(err("foo:"), E_TOKEN);
  EXPECT_EQ(err("a::b"), E_TOKEN);
  EXPECT_EQ(err("::a"), E_TOKEN);
}

TEST_F(Reader, TokenLength) {
  std::string t132(132, 'x'), t133(133, 'x');
  EXPECT_EQ(r(t132), std::string(132, 'X'));
  EXPECT_EQ(err(t133), E_TOKEN);
  EXPECT_EQ(show(ErrorTrap::object), "\"" + std::string(132, 'X') + "\"");
  EXPECT_EQ(err("|" + t133 + "|"), E_TOKEN);
  EXPECT_EQ(r("|" + t132 + "|"), t132);
}

TEST_F(Reader, Lists) {
  EXPECT_EQ(r("(a b c)"), "(A B C)");
  EXPECT_EQ(r("()"), "NIL");
  EXPECT_EQ(r("(a . b)"), "(A . B)");
  EXPECT_EQ(r("(a b . (c))"), "(A B C)");
  EXPECT_EQ(r("((a) (b (c)))"), "((A) (B (C)))");
  EXPECT_EQ(r("(a ; comment\n b)"), "(A B)");
  EXPECT_EQ(r("; only\n  x"), "X");
  EXPECT_EQ(r("'x"), "(QUOTE X)");
  EXPECT_EQ(symbol_index(car(read1("'x"))), 0xA3u);
  EXPECT_EQ(r("(a'b)"), "(A (QUOTE B))");
  EXPECT_EQ(err("(. a)"), E_CHAR);
  EXPECT_EQ(err("(a . b c)"), E_CHAR);
  EXPECT_EQ(err("(a . )"), E_CHAR);
  EXPECT_EQ(err("(a"), E_EOF);
  EXPECT_EQ(err(")"), E_CLOSE);
  EXPECT_EQ(err("'"), E_EOF);
  EXPECT_EQ(err("')"), E_CLOSE);
}

TEST_F(Reader, Braces) {
  EXPECT_EQ(r("{a b}"), "(A B)");
  EXPECT_EQ(r("{(a (b}"), "((A (B)))");
  EXPECT_EQ(r("({a (b} c)"), "((A (B)) C)");
  EXPECT_EQ(err("}"), E_CLOSE);
  EXPECT_EQ(err("{a)"), E_CLOSE);
  // Sixteen levels; the innermost list is empty.
  EXPECT_EQ(r(std::string(16, '{') + std::string(16, '}')),
            std::string(15, '(') + "NIL" + std::string(15, ')'));
  EXPECT_EQ(err(std::string(17, '{')), E_BRACES);
  // The error left the counters high; the next top-level read starts fresh.
  EXPECT_EQ(r("{x}"), "(X)");
}

TEST_F(Reader, Strings) {
  EXPECT_EQ(r("\"abc\""), "\"abc\"");
  EXPECT_EQ(r("\"a\\\"b\""), "\"a\"b\"");
  EXPECT_EQ(r("\"a\\\\b\""), "\"a\\b\"");
  Value s = read1("\"x\\0y\"");
  ASSERT_TRUE(is_string(s));
  ASSERT_EQ(string_length(s), 3u);
  EXPECT_EQ(string_bytes(s)[1], 0);
  std::string long_text(1000, 'q');
  EXPECT_EQ(r("\"" + long_text + "\""), "\"" + long_text + "\"");
  EXPECT_EQ(err("\"abc"), E_EOF);
}

TEST_F(Reader, EndOfFile) {
  EXPECT_EQ(r(""), ":EOF-MARK");
  EXPECT_EQ(r("   ; nothing\n"), ":EOF-MARK");
  EXPECT_EQ(err(""), E_EOF);
  // Successive reads: the whitespace after a token is consumed at top level.
  stream("a b");
  EXPECT_EQ(show(read_from(stream_value(), true, NIL, false)), "A");
  EXPECT_EQ(stream_read_char(stream_value()), 'b');
  stream_unread_char(stream_value(), 'b');
  EXPECT_EQ(show(read_from(stream_value(), true, NIL, false)), "B");
  EXPECT_EQ(show(read_from(stream_value(), false, T, false)), "T");
  // Inside a list the end of file is an error even with an eof value.
  EXPECT_EQ(TRAP(read_from(stream("(a b"), false, T, false)), E_EOF);
  // A recursive read is inside an object: its end of file is an error.
  EXPECT_EQ(TRAP(read_from(stream(""), true, NIL, true)), E_EOF);
  EXPECT_EQ(TRAP(read_from(stream(""), false, T, true)), E_EOF);
}

TEST_F(Reader, Backquote) {
  EXPECT_EQ(r("`x"), "(QUOTE X)");
  EXPECT_EQ(r("`(a b)"), "(LIST (QUOTE A) (QUOTE B))");
  EXPECT_EQ(r("`(a ,b)"), "(LIST (QUOTE A) B)");
  EXPECT_EQ(r("`,x"), "X");
  EXPECT_EQ(r("`(a ,@b)"), "(LIST* (QUOTE A) B)");
  EXPECT_EQ(r("`(,@b)"), "B");
  EXPECT_EQ(r("`(,@b c)"), "(APPEND B (LIST (QUOTE C)))");
  EXPECT_EQ(r("`(a ,@b c)"), "(LIST* (QUOTE A) (APPEND B (LIST (QUOTE C))))");
  EXPECT_EQ(r("`(a ,.b c)"), "(LIST* (QUOTE A) (NCONC B (LIST (QUOTE C))))");
  EXPECT_EQ(r("`(a . b)"), "(LIST* (QUOTE A) (QUOTE B))");
  EXPECT_EQ(r("`(a . ,b)"), "(LIST* (QUOTE A) B)");
  EXPECT_EQ(r("`(a (b ,c))"), "(LIST (QUOTE A) (LIST (QUOTE B) C))");
  EXPECT_EQ(r("`#(a ,b)"), "(APPLY (FUNCTION VECTOR) (LIST (QUOTE A) B))");
  EXPECT_EQ(err(",x"), E_CHAR);
  EXPECT_EQ(err("`(a . ,@b)"), E_CHAR);
  EXPECT_EQ(r("`(a ,x)"), "(LIST (QUOTE A) X)");  // the depth is back after errors
}

TEST_F(Reader, SharpSymbolsVectorsFunctions) {
  Value u = read1("#:foo");
  EXPECT_EQ(tag_of(u), TAG_SYMBOL);
  EXPECT_EQ(name_of(u), "FOO");
  EXPECT_NE(u, sym_intern_cstr("FOO"));
  EXPECT_EQ(err("#3:foo"), E_SHARP);
  EXPECT_EQ(ErrorTrap::object, make_char('#'));
  EXPECT_EQ(err("#:(a)"), E_SHARP);
  EXPECT_EQ(r("'sym"), "(QUOTE SYM)");  // interning is back on
  EXPECT_EQ(sym_intern_cstr("SYM"), car(cdr(read1("'sym"))));

  EXPECT_EQ(r("#(a b)"), "#(A B)");
  EXPECT_EQ(r("#()"), "#()");
  EXPECT_EQ(r("#3(a)"), "#(A A A)");
  EXPECT_EQ(r("#2()"), "#(NIL NIL)");
  EXPECT_EQ(err("#1(a b)"), E_SHARP);
  EXPECT_EQ(err("#5000000()"), 4171u);
  EXPECT_EQ(err("#(a . b)"), E_SHARP);
  EXPECT_EQ(r("(#(1) 2)"), "(#(1) 2)");
  EXPECT_EQ(r("#'car"), "(FUNCTION CAR)");
  EXPECT_EQ(err("#q"), E_DISPATCH);
  EXPECT_EQ(err("#99999999999(a)"), E_CHAR);
  EXPECT_EQ(err("#"), E_EOF);
}

TEST_F(Reader, SharpRadixAndComplex) {
  EXPECT_EQ(r("#xff"), "255");
  EXPECT_EQ(r("#XFF"), "255");
  EXPECT_EQ(r("#x1e5"), "485");
  EXPECT_EQ(r("#b-101"), "-5");
  EXPECT_EQ(r("#o17"), "15");
  EXPECT_EQ(r("#36rZ"), "35");
  EXPECT_EQ(r("#x7fffffffffffffff"), "9223372036854775807L");
  EXPECT_EQ(err("#b102"), E_SHARP);
  EXPECT_EQ(err("#r11"), E_SHARP);
  EXPECT_EQ(err("#37r1"), E_SHARP);
  EXPECT_EQ(err("#2x1"), E_SHARP);
  EXPECT_EQ(err("#x1.5"), E_SHARP);
  EXPECT_EQ(r("10"), "10");  // the radix applied to that token only

  Value c = read1("#c(1 2)");
  ASSERT_EQ(tag_of(c), TAG_COMPLEX);
  EXPECT_EQ(r("#C(1 0)"), "1");
  EXPECT_EQ(tag_of(read1("#c(1.5 0)")), TAG_COMPLEX);
  EXPECT_EQ(err("#c(1)"), E_SHARP);
  EXPECT_EQ(err("#c(1 2 3)"), E_SHARP);
  EXPECT_EQ(err("#c 1"), E_SHARP);
  EXPECT_EQ(err("#c(a 1)"), E_SHARP);
}

TEST_F(Reader, SharpCharacters) {
  EXPECT_EQ(read1("#\\a"), make_char('a'));
  EXPECT_EQ(read1("#\\A"), make_char('A'));
  EXPECT_EQ(read1("#\\("), make_char('('));
  EXPECT_EQ(read1("#\\ "), make_char(' '));
  EXPECT_EQ(r("(#\\a)"), "(#\\61)");
  EXPECT_EQ(read1("#\\Newline"), make_char(10));
  EXPECT_EQ(read1("#\\nul"), make_char(0));
  EXPECT_EQ(read1("#\\Space"), make_char(32));
  EXPECT_EQ(read1("#\\RUBOUT"), make_char(127));
  EXPECT_EQ(read1("#\\F1"), make_char(0x139));
  EXPECT_EQ(read1("#\\End"), make_char(0x10A));
  EXPECT_EQ(read1("#\\C-a"), make_char('a' | 0x200));
  EXPECT_EQ(read1("#\\control-meta-x"), make_char('x' | 0x600));
  EXPECT_EQ(read1("#\\S-F1"), make_char(0x939));
  EXPECT_EQ(read1("#2\\a"), make_char('a' | 0x20000));
  EXPECT_EQ(err("#\\nosuchname"), E_SHARP);
  EXPECT_EQ(err("#\\Q-a"), E_SHARP);
  EXPECT_EQ(err("#\\"), E_EOF);
}

TEST_F(Reader, CharacterNames) {
  auto from = [](const char* n) {
    return char_from_name(reinterpret_cast<const uint8_t*>(n), uint32_t(std::strlen(n)));
  };
  EXPECT_EQ(from("backspace"), make_char(8));
  EXPECT_EQ(from("ESC"), make_char(27));
  EXPECT_EQ(from("Tab"), make_char(9));
  EXPECT_EQ(from("APPLY"), NO_VALUE);       // a symbol, but no character
  EXPECT_EQ(from("BACKSPACES"), NO_VALUE);  // ten characters
  EXPECT_EQ(char_name_index(make_char(10)), 52u);
  EXPECT_EQ(char_name_index(make_char(0)), 56u);
  EXPECT_EQ(char_name_index(make_char(0x139)), 0x39u);
  EXPECT_EQ(char_name_index(make_char('a')), 0u);
  char buf[16];
  EXPECT_EQ(std::string(buf, char_name_copy(make_char(13), buf, sizeof buf)), "RETURN");
  EXPECT_EQ(std::string(buf, char_name_copy(make_char(32), buf, sizeof buf)), "SPACE");
  EXPECT_EQ(std::string(buf, char_name_copy(make_char(127), buf, sizeof buf)), "RUBOUT");
  EXPECT_EQ(char_name_copy(make_char('x'), buf, sizeof buf), 0u);
  EXPECT_EQ(char_name_copy(make_char(13), buf, 3), 3u);  // cut to the room given
  auto mod = [](const char* n) {
    return modifier_from_name(reinterpret_cast<const uint8_t*>(n), uint32_t(std::strlen(n)));
  };
  EXPECT_EQ(mod("control"), 1u);
  EXPECT_EQ(mod("SHIFT"), 4u);
  EXPECT_EQ(mod("TAB"), 0u);
}

TEST_F(Reader, FeaturesAndComments) {
  Value feature = sym_intern_cstr("ZORVA-TEST");
  sym_set_value(FS_FEATURES, cons(feature, sym_value(FS_FEATURES)));
  EXPECT_EQ(r("#+zorva-test 1 2"), "1");
  EXPECT_EQ(r("#-zorva-test 1 2"), "2");
  EXPECT_EQ(r("#+:zorva-test 1 2"), "1");
  EXPECT_EQ(r("#+(or nope zorva-test) 1 2"), "1");
  EXPECT_EQ(r("#+(and nope zorva-test) 1 2"), "2");
  EXPECT_EQ(r("#+(not nope) 1 2"), "1");
  EXPECT_EQ(r("(a #-zorva-test b c)"), "(A C)");
  EXPECT_EQ(err("#+(xor a) 1"), E_SHARP);
  EXPECT_EQ(err("#+(not a b) 1"), E_SHARP);
  EXPECT_EQ(err("#2+a 1"), E_SHARP);
  // Left-out forms intern nothing and evaluate nothing.
  EXPECT_EQ(r("#-zorva-test (zzq-unique-name #.(zzq-never-called)) 7"), "7");
  SymSearch found = sym_search(reinterpret_cast<const uint8_t*>("ZZQ-UNIQUE-NAME"), 15);
  EXPECT_FALSE(found.found);
  EXPECT_EQ(r("foo"), "FOO");
  EXPECT_EQ(sym_intern_cstr("FOO"), read1("foo"));

  EXPECT_EQ(r("#| a #| nested |# b |# 5"), "5");
  EXPECT_EQ(r("(1 #|x|# 2)"), "(1 2)");
  EXPECT_EQ(err("#| open"), E_EOF);
}

// The built-ins 323, 330, 331 take their arguments from a call frame.
Value call(uint32_t n, std::initializer_list<Value> args) {
  ThreadState* ts = zvts;
  uint16_t saved_septr = ts->septr, saved_form = ts->zvform;
  ts->stack[--ts->septr] = StackEntry{bi_value(n), ST_CALL_FRAME, ts->zvform};
  ts->zvform = ts->septr;
  for (Value a : args) ts->stack[--ts->septr] = StackEntry{a, ST_ARG, 0};
  Value a1 = args.size() > 0 ? args.begin()[0] : NIL, a2 = args.size() > 1 ? args.begin()[1] : NIL;
  uint8_t count = zv_builtins[n].count;
  Value r = zv_builtins[n].fn(count >= 1 && count <= 2 ? a1 : NIL, count == 2 ? a2 : NIL);
  ts->septr = saved_septr;
  ts->zvform = saved_form;
  return r;
}

TEST_F(Reader, MacroTableBuiltins) {
  Value f = call(BI_GET_MACRO_CHARACTER, {make_char('(')});
  EXPECT_EQ(f, make_builtin(2, BI_READ_LEFT_PAREN));
  EXPECT_EQ(mv_value(f, 1), NIL);
  f = call(BI_GET_MACRO_CHARACTER, {make_char('#')});
  EXPECT_EQ(tag_of(f), TAG_OBJECT);
  EXPECT_EQ(mv_value(f, 1), T);
  EXPECT_EQ(call(BI_GET_MACRO_CHARACTER, {make_char('a')}), NIL);
  EXPECT_EQ(TRAP(call(BI_GET_MACRO_CHARACTER, {make_fixnum(1)})), E_TYPE);
  EXPECT_EQ(TRAP(call(BI_GET_MACRO_CHARACTER, {make_char(200)})), E_TYPE);

  // ! as a quote, terminating: it ends the token before it.
  EXPECT_EQ(call(BI_SET_MACRO_CHARACTER, {make_char('!'), make_builtin(2, BI_READ_QUOTE)}), T);
  EXPECT_EQ(r("(a!b)"), "(A (QUOTE B))");
  // $ non-terminating: inside a token it is a constituent.
  call(BI_SET_MACRO_CHARACTER, {make_char('$'), make_builtin(2, BI_READ_QUOTE), T});
  EXPECT_EQ(r("(a$b $c)"), "(A$B (QUOTE C))");
  EXPECT_EQ(mv_value(call(BI_GET_MACRO_CHARACTER, {make_char('$')}), 1), T);
  EXPECT_EQ(TRAP(call(BI_SET_MACRO_CHARACTER, {make_char('!'), make_fixnum(3)})), E_TYPE);

  // A new sub-character of #, given in lower case.
  EXPECT_EQ(call(BI_SET_DISPATCH_MACRO_CHARACTER,
                 {make_char('#'), make_char('y'), make_builtin(2, BI_READ_SHARP_FUNCTION)}),
            T);
  EXPECT_EQ(r("#yfoo"), "(FUNCTION FOO)");
  EXPECT_EQ(r("#Yfoo"), "(FUNCTION FOO)");
  EXPECT_EQ(TRAP(call(BI_SET_DISPATCH_MACRO_CHARACTER,
                      {make_char('#'), make_char('5'), make_builtin(2, BI_READ_SHARP_FUNCTION)})),
            E_TYPE);
  EXPECT_EQ(TRAP(call(BI_SET_DISPATCH_MACRO_CHARACTER,
                      {make_char('a'), make_char('y'), make_builtin(2, BI_READ_SHARP_FUNCTION)})),
            E_TYPE);
  // Enough new entries to make the table grow; every one is still found.
  for (int c = 0xC0; c < 0xE0; c++)
    call(BI_SET_DISPATCH_MACRO_CHARACTER,
         {make_char('#'), make_char(uint32_t(c)), make_builtin(2, BI_READ_SHARP_FUNCTION)});
  for (int c = 0xC0; c < 0xE0; c++) {
    std::string text = "#";
    text += char(c);
    text += "x";
    EXPECT_EQ(r(text), "(FUNCTION X)") << c;
  }
  EXPECT_EQ(r("#xff"), "255");
}

// The attribute table is shared with the printer and the character
// functions; these are the values they rely on.
TEST(CharacterAttributes, TableValues) {
  const struct {
    int c;
    uint8_t a;
  } expected[] = {{0, 0x06},    {8, 0x80},    {27, 0x80},  {32, 0x86},  {127, 0x80},  {1, 0},
                  {'!', 0x08},  {'#', 0x08},  {'|', 0x08}, {'+', 0x09}, {'-', 0x09},  {'.', 0x0A},
                  {':', 0x05},  {'"', 0x0E},  {'(', 0x0E}, {'~', 0x0E}, {'7', 0x10},  {'A', 0x30},
                  {'D', 0x33},  {'S', 0x33},  {'a', 0x50}, {'e', 0x53}, {0xA8, 0x24}, {0xC5, 0x24},
                  {0xB8, 0x44}, {0xFF, 0x44}, {0x98, 0},   {0xB9, 0}};
  for (const auto& e : expected) EXPECT_EQ(char_attr(uint32_t(e.c)), e.a) << e.c;
  EXPECT_EQ(char_upcase(0xB8), 0xA8);
  EXPECT_EQ(char_downcase(0xA8), 0xB8);
  EXPECT_EQ(char_upcase(0xE0), 0xC0);
  EXPECT_EQ(char_upcase('1'), '1');
}

TEST_F(Reader, SyntaxClasses) {
  EXPECT_EQ(reader_syntax_class(' '), SC_WHITESPACE);
  EXPECT_EQ(reader_syntax_class('a'), SC_CONSTITUENT);
  EXPECT_EQ(reader_syntax_class(0xE0), SC_CONSTITUENT);
  EXPECT_EQ(reader_syntax_class('('), SC_TERMINATING);
  EXPECT_EQ(reader_syntax_class('#'), SC_NON_TERMINATING);
  EXPECT_EQ(reader_syntax_class(-1), SC_EOF);
  // The kernel's own table, before an image brings one, has no #.
  reader_default_table();
  EXPECT_EQ(r("(a 'b)"), "(A (QUOTE B))");
  EXPECT_EQ(err("#xff"), E_CHAR);
}

// The same reads give the same structures with a collection before every
// allocation and every seventh.
TEST_F(Reader, UnderCollections) {
  const char* text =
      "(defun f (x &optional (y 2)) \"doc\" `(a ,x ,@y . z) #(1 2.5 \"s\") #c(1 2) #\\Space "
      "{(p (q} 123456789012 -0.25 :key |Mixed Case| #'car #+nope skipped (1 . 2))";
  std::string expected = r(text);
  for (uint32_t stress : {1u, 7u}) {
    zv_gc_stress = stress;
    std::string got = r(text);
    zv_gc_stress = 0;
    EXPECT_EQ(got, expected) << "stress " << stress;
  }
}

}  // namespace
