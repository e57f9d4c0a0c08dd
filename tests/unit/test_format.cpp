// FORMAT: every directive with its parameters and modifiers, the groups,
// the error sub-codes, and the entry the error signaller uses.
#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <string>

#include "genesis/world.h"
#include "io/stream.h"
#include "list_fixture.h"
#include "text/format.h"
#include "text/printer.h"

namespace {

using listfx::Call;
using listfx::hold;
using listfx::Ref;

std::string text(Value s) {
  EXPECT_TRUE(is_string(s));
  return std::string(reinterpret_cast<const char*>(string_bytes(s)), string_length(s));
}
Value str(const std::string& s) { return mem_make_string(s.data(), uint32_t(s.size())); }
Value fx(int32_t n) { return make_fixnum(n); }

// (FORMAT NIL control args...), the arguments in the list fixture's
// notation; an immediate Value goes in as it is, a heap object held on
// the Lisp stack (a Ref) is read again when it is pushed.
struct Arg {
  const char* datum = nullptr;
  Value v = NIL;
  int32_t held = -1;
  Arg(const char* d) : datum(d) {}
  Arg(Value x) : v(x) {}
  Arg(Ref r) : held(r.i) {}
};
Value format_call(Value dest, const std::string& control, std::initializer_list<Arg> args) {
  Call c(BI_FORMAT);
  c.a(dest);
  c.a(str(control));
  for (const Arg& a : args) {
    if (a.datum)
      c.a(a.datum);
    else if (a.held >= 0)
      c.a(zvts->stack[a.held].arg);
    else
      c.a(a.v);
  }
  return c.run();
}
std::string fmt(const std::string& control, std::initializer_list<Arg> args = {}) {
  uint16_t mark = zvts->septr;
  std::string s = text(format_call(NIL, control, args));
  pop_to(mark);
  return s;
}

// The error code and the FORMAT sub-code (the fourth object of 16449) a
// call signals, or {0, 0}.
struct FormatError {
  uint32_t code, sub;
};
struct FormatTrap {
  static inline std::jmp_buf* target = nullptr;
  static inline FormatError seen{};
  static Value on_error(uint32_t c, const Value* o) {
    seen.code = c;
    seen.sub = c == ERR_FORMAT ? uint32_t(fixnum_value(o[3])) : 0;
    std::longjmp(*target, 1);
  }
};
FormatError format_error(const std::string& control, std::initializer_list<Arg> args = {}) {
  uint16_t sp = zvts->septr, form = zvts->zvform;
  uint32_t roots = zvts->root_count;
  std::jmp_buf jb;
  FormatTrap::target = &jb;
  FormatTrap::seen = {};
  zv_error_fn = FormatTrap::on_error;
  if (setjmp(jb) == 0) fmt(control, args);
  zvts->septr = sp;
  zvts->zvform = form;
  zvts->root_count = roots;
  ErrorTrap::install();
  return FormatTrap::seen;
}
bool operator==(FormatError a, FormatError b) { return a.code == b.code && a.sub == b.sub; }
std::ostream& operator<<(std::ostream& o, FormatError e) {
  return o << "{" << e.code << ", " << e.sub << "}";
}
FormatError sub(uint32_t s) { return {ERR_FORMAT, s}; }

class FormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gen_build_world("T.ROL")) << gen_error();
    ErrorTrap::install();
    ErrorTrap::target = nullptr;
    gc_stress_init_from_env();
  }
  void TearDown() override {
    zv_gc_stress = 0;
    EXPECT_EQ(zvts->root_count, 0u);
  }
};

// ---------------------------------------------------------------------------
// Printing directives

TEST_F(FormatTest, PlainTextAndLineDirectives) {
  EXPECT_EQ(fmt("x~%y"), "x\ny");
  EXPECT_EQ(fmt("~3%"), "\n\n\n");
  EXPECT_EQ(fmt("~|~2~"), "\f~~");
  EXPECT_EQ(fmt("~0%"), "");
  EXPECT_EQ(fmt("~&a~&b~2&c"), "a\nb\n\nc");
  EXPECT_EQ(fmt("a~\n   b"), "ab");
  EXPECT_EQ(fmt("a~:\n   b"), "a   b");
  EXPECT_EQ(fmt("a~@\n   b"), "a\nb");
}

TEST_F(FormatTest, AestheticAndStandard) {
  EXPECT_EQ(fmt("~A", {"NIL"}), "NIL");
  EXPECT_EQ(fmt("~:A", {"NIL"}), "()");
  EXPECT_EQ(fmt("~A ~S", {"\"a\"", "\"a\""}), "a \"a\"");
  EXPECT_EQ(fmt("~S", {"(1 \"b\" C)"}), "(1 \"b\" C)");
  EXPECT_EQ(fmt("~S", {hold(sym_intern_cstr("lower"))}), "|lower|");
  EXPECT_EQ(fmt("~E", {"1.5"}), fmt("~A", {"1.5"}));
  EXPECT_EQ(fmt("~a", {"X"}), "X");  // directive letters in either case
  // Column parameters pad as Common Lisp programs expect.
  EXPECT_EQ(fmt("~5A|", {"AB"}), "AB   |");
  EXPECT_EQ(fmt("~5@A|", {"AB"}), "   AB|");
  EXPECT_EQ(fmt("~5,3A|", {"AB"}), "AB   |");
  EXPECT_EQ(fmt("~6,4A|", {"AB"}), "AB    |");
  EXPECT_EQ(fmt("~,,2,'*A|", {"AB"}), "AB**|");
}

TEST_F(FormatTest, Characters) {
  EXPECT_EQ(fmt("~C", {make_char('a')}), "a");
  EXPECT_EQ(fmt("~:C", {make_char('a')}), "a");
  EXPECT_EQ(fmt("~@C", {make_char('a')}), "#\\a");
}

TEST_F(FormatTest, IntegersInTheirRadixes) {
  EXPECT_EQ(fmt("~D", {"42"}), "42");
  EXPECT_EQ(fmt("~:D", {"1234567"}), "1,234,567");
  EXPECT_EQ(fmt("~:D", {"-1234"}), "-1,234");
  EXPECT_EQ(fmt("~:D", {"123"}), "123");
  EXPECT_EQ(fmt("~@D", {"5"}), "+5");
  EXPECT_EQ(fmt("~5,'0D", {"42"}), "00042");
  EXPECT_EQ(fmt("~5D", {"-42"}), "  -42");
  EXPECT_EQ(fmt("~,,'.,4:D", {"1234567"}), "123.4567");
  EXPECT_EQ(fmt("~,,,0:D", {"1234567"}), "1234567");  // interval 0: no groups
  EXPECT_EQ(fmt("~B ~O ~X", {"5", "8", "255"}), "101 10 ff");
  EXPECT_EQ(fmt("~:B", {"255"}), "11,111,111");
  EXPECT_EQ(fmt("~D", {"123456789012345"}), "123456789012345");
  EXPECT_EQ(
      fmt("~,,' ,1:B", {hold(mem_make_int64_raw(INT64_MIN))}), "-1 " + [] {
        std::string z;
        for (int i = 0; i < 63; i++) z += i ? " 0" : "0";
        return z;
      }());
  EXPECT_EQ(fmt("~D", {"FOO"}), "FOO");  // not an integer: as ~A
  sym_set_value(FS_PRINT_BASE, fx(16));
  EXPECT_EQ(fmt("~D", {"20"}), "20");  // the directive's radix, not the print base
}

TEST_F(FormatTest, FixedPoint) {
  EXPECT_EQ(fmt("~,2F", {"3.14159"}), "3.14");
  EXPECT_EQ(fmt("~8,3F", {"3.14159"}), "   3.142");
  EXPECT_EQ(fmt("~F", {"1.5"}), "1.5");
  EXPECT_EQ(fmt("~F", {"100.0"}), "100.0");
  EXPECT_EQ(fmt("~,2F", {"10"}), "10.00");
  EXPECT_EQ(fmt("~@F", {"1.5"}), "+1.5");
  EXPECT_EQ(fmt("~,2F", {"-0.5"}), "-0.50");
  EXPECT_EQ(fmt("~,,2F", {"1.5"}), "150.0");
  EXPECT_EQ(fmt("~3,1,,'*F", {"123.45"}), "***");
  EXPECT_EQ(fmt("~10,3,,,'xF", {"3.14159"}), "xxxxx3.142");
  EXPECT_EQ(fmt("~4F", {"3.14159"}), "3.14");
  EXPECT_EQ(fmt("~4,2F", {"0.5"}), "0.50");
  EXPECT_EQ(fmt("~4,3F", {"0.5"}), ".500");  // no room for the leading zero
  EXPECT_EQ(fmt("~F", {"X"}), "X");
  EXPECT_EQ(fmt("~F", {hold(mem_make_double(HUGE_VAL))}), "#<Float +Infinity>");
}

TEST_F(FormatTest, FixedPointOfHugeValuesAndDigitCounts) {
  std::string big = fmt("~,1F", {hold(mem_make_double(1e308))});
  EXPECT_EQ(big.size(), 311u);
  EXPECT_EQ(big.substr(0, 17), "10000000000000000");
  EXPECT_EQ(big.substr(big.size() - 2), ".0");
  EXPECT_EQ(fmt("~F", {hold(mem_make_double(1e308))}).size(), 311u);
  std::string many = fmt("~,3000F", {"0.5"});
  EXPECT_EQ(many.size(), 3002u);
  EXPECT_EQ(many.substr(0, 4), "0.50");
  EXPECT_EQ(many.find_first_not_of('0', 3), std::string::npos);
  // The exact binary expansion is kept as far as it goes.
  std::string tiny = fmt("~,1100F", {hold(mem_make_double(5e-324))});
  EXPECT_EQ(tiny.size(), 1102u);
  EXPECT_EQ(tiny.substr(2, 323), std::string(323, '0'));
  EXPECT_EQ(tiny[325], '4');
  EXPECT_EQ(fmt("~2000,1F", {"1.0"}).size(), 2000u);
}

// ---------------------------------------------------------------------------
// Moving around

TEST_F(FormatTest, Tabulation) {
  EXPECT_EQ(fmt("ab~6Tc"), "ab    c");
  EXPECT_EQ(fmt("abcdefg~6Tc"), "abcdefg c");
  EXPECT_EQ(fmt("abcdefg~6,4Tc"), "abcdefg   c");  // to 10
  EXPECT_EQ(fmt("abcdef~6,0Tc"), "abcdefc");
  EXPECT_EQ(fmt("~3,8@T|"), "        |");
  EXPECT_EQ(fmt("ab~1,4@T|"), "ab  |");
  EXPECT_EQ(fmt("ab~6:T|"), "ab   |");
  EXPECT_EQ(fmt("abcdef~6:T|"), "abcdef\n|");
}

TEST_F(FormatTest, GotoArguments) {
  EXPECT_EQ(fmt("~A ~* ~A", {"1", "2", "3"}), "1  3");
  EXPECT_EQ(fmt("~A ~:*~A", {"1"}), "1 1");
  EXPECT_EQ(fmt("~A ~A ~@*~A", {"1", "2"}), "1 2 1");
  EXPECT_EQ(fmt("~A ~1@*~A", {"1", "2"}), "1 2");
  EXPECT_EQ(fmt("~A~5*~#[none~:;some~]", {"1", "2"}), "1none");  // clamped at the end
  EXPECT_EQ(fmt("~3:*~A", {"1"}), "1");                          // clamped at the start
}

TEST_F(FormatTest, ParametersFromArguments) {
  EXPECT_EQ(fmt("~V,'0D", {"5", "42"}), "00042");
  EXPECT_EQ(fmt("~5,VD", {make_char('*'), "42"}), "***42");
  EXPECT_EQ(fmt("~VD", {"NIL", "42"}), "42");
  EXPECT_EQ(fmt("~#%", {"1", "2"}).size(), 2u);
  EXPECT_EQ(fmt("~+3D|~-0D", {"7", "8"}), "  7|8");
}

// ---------------------------------------------------------------------------
// Groups

TEST_F(FormatTest, Conditionals) {
  EXPECT_EQ(fmt("~[zero~;one~;two~]", {"1"}), "one");
  EXPECT_EQ(fmt("~[zero~;one~;two~]", {"5"}), "");
  EXPECT_EQ(fmt("~[a~;b~:;other~]", {"7"}), "other");
  EXPECT_EQ(fmt("~[a~;b~:;other~]", {"X"}), "other");
  EXPECT_EQ(fmt("~[a~;b~:;other~]", {"0"}), "a");
  EXPECT_EQ(fmt("~1[a~;b~]~A", {"Z"}), "bZ");
  EXPECT_EQ(fmt("~:[no~;yes~]", {"NIL"}), "no");
  EXPECT_EQ(fmt("~:[no~;yes~]", {"T"}), "yes");
  EXPECT_EQ(fmt("~@[x=~A~]|", {"5"}), "x=5|");
  EXPECT_EQ(fmt("~@[x=~A~]|~A", {"NIL", "Q"}), "|Q");
  EXPECT_EQ(fmt("~[~A~;~A ~A~]!", {"1", "P", "Q"}), "P Q!");
  EXPECT_EQ(fmt("~:[~[a~;b~]~;c~]", {"NIL", "1"}), "b");  // nested
}

TEST_F(FormatTest, CaseConversionTouchesPrintedSymbols) {
  EXPECT_EQ(fmt("~(~A~)", {"FOO"}), "foo");
  EXPECT_EQ(fmt("~:(~A~)", {"FOO-BAR"}), "Foo-bar");
  EXPECT_EQ(fmt("~(ABC ~A~)", {"FOO"}), "ABC foo");  // literal text as it is
  EXPECT_EQ(fmt("~@(~A~)", {"FOO"}), "FOO");
  sym_set_value(FS_PRINT_CASE, make_keyword(FS_DOWNCASE));
  EXPECT_EQ(fmt("~:@(~A~) ~A", {"FOO", "BAR"}), "FOO bar");
  EXPECT_EQ(sym_value(FS_PRINT_CASE), make_keyword(FS_DOWNCASE));
  EXPECT_EQ(fmt("~3@(~A~)", {"X"}), "x");  // an attribute only matters on windows
}

TEST_F(FormatTest, Iteration) {
  EXPECT_EQ(fmt("~{~A~^, ~}", {"(1 2 3)"}), "1, 2, 3");
  EXPECT_EQ(fmt("~{~A~}", {"NIL"}), "");
  EXPECT_EQ(fmt("~{x~:}", {"NIL"}), "x");  // at least once
  EXPECT_EQ(fmt("~:{<~A ~A>~}", {"((1 2) (3 4))"}), "<1 2><3 4>");
  EXPECT_EQ(fmt("~:{~A~:^, ~}", {"((1) (2) (3))"}), "1, 2, 3");
  EXPECT_EQ(fmt("~:{~A~^~A~}", {"((1) (2 3))"}), "123");
  EXPECT_EQ(fmt("~@{~A~^ ~}", {"1", "2", "3"}), "1 2 3");
  EXPECT_EQ(fmt("~:@{~A~}!", {"(1)", "(2)"}), "12!");
  EXPECT_EQ(fmt("~2{~A~}", {"(1 2 3)"}), "12");
  EXPECT_EQ(fmt("~{~}", {"\"<~A>\"", "(1 2)"}), "<1><2>");
  EXPECT_EQ(fmt("~{~{~A~}|~}", {"((1 2) (3))"}), "12|3|");
  EXPECT_EQ(fmt("~@{~A~} end", {}), " end");
  EXPECT_EQ(fmt("~{~0^x~}y", {"(1 2)"}), "y");
  // A body that takes no argument stops instead of running for ever.
  EXPECT_EQ(fmt("~{-~}", {"(1 2)"}), "-");
  EXPECT_EQ(fmt("~3{-~}", {"(1 2)"}), "---");
}

TEST_F(FormatTest, Indirection) {
  EXPECT_EQ(fmt("~? ~A", {"\"<~A ~A>\"", "(1 2)", "3"}), "<1 2> 3");
  EXPECT_EQ(fmt("~@? ~A", {"\"<~A>\"", "1", "2"}), "<1> 2");
  EXPECT_EQ(fmt("~?|", {"\"~A~^~A\"", "(1)"}), "1|");
}

TEST_F(FormatTest, CaretEndsTheFormat) {
  EXPECT_EQ(fmt("~A~^ and ~A", {"1"}), "1");
  EXPECT_EQ(fmt("a~1,1^b"), "a");
  EXPECT_EQ(fmt("a~1,2,3^b"), "a");
  EXPECT_EQ(fmt("a~3,2,1^b"), "ab");
  EXPECT_EQ(fmt("~(~A~^~A~) tail", {"X"}), "x");
}

// ---------------------------------------------------------------------------
// Failures

TEST_F(FormatTest, ErrorSubCodes) {
  EXPECT_EQ(format_error("~D"), sub(FMT_NO_ARG));
  EXPECT_EQ(format_error("~A ~A", {"1"}), sub(FMT_NO_ARG));
  EXPECT_EQ(format_error("~:[a~;b~]"), sub(FMT_NO_ARG));
  EXPECT_EQ(format_error("~VD", {"\"x\"", "1"}), sub(FMT_BAD_ARG));
  EXPECT_EQ(format_error("~VD"), sub(FMT_NO_ARG));
  EXPECT_EQ(format_error("~?", {"1", "NIL"}), sub(FMT_BAD_ARG));
  EXPECT_EQ(format_error("~?", {"\"a\"", "5"}), sub(FMT_BAD_ARG));
  EXPECT_EQ(format_error("~?", {"\"a\""}), sub(FMT_NO_ARG));
  EXPECT_EQ(format_error("~{~A~}", {"5"}), sub(FMT_BAD_ARG));
  EXPECT_EQ(format_error("~:{~A~}", {"(1)"}), sub(FMT_BAD_ARG));
  EXPECT_EQ(format_error("~{~}", {"5", "(1)"}), sub(FMT_BAD_ARG));
  EXPECT_EQ(format_error("~Q"), sub(FMT_SYNTAX));
  EXPECT_EQ(format_error("abc~"), sub(FMT_SYNTAX));
  EXPECT_EQ(format_error("~1,2,3,4,5,6,7,8A", {"1"}), sub(FMT_SYNTAX));
  EXPECT_EQ(format_error("~-A", {"1"}), sub(FMT_SYNTAX));
  EXPECT_EQ(format_error("~:%"), sub(FMT_SYNTAX));
  EXPECT_EQ(format_error("~5C", {make_char('a')}), sub(FMT_SYNTAX));
  EXPECT_EQ(format_error("~:@[a~]", {"1"}), sub(FMT_SYNTAX));
  EXPECT_EQ(format_error("a~;b"), sub(FMT_SYNTAX));
  EXPECT_EQ(format_error("~(a~;b~)"), sub(FMT_SYNTAX));
  EXPECT_EQ(format_error("~0,0@T"), sub(FMT_SYNTAX));
  EXPECT_EQ(format_error("~]"), sub(FMT_BRACKET));
  EXPECT_EQ(format_error("~}"), sub(FMT_BRACKET));
  EXPECT_EQ(format_error("~[abc", {"0"}), sub(FMT_BRACKET));
  EXPECT_EQ(format_error("~(abc~]"), sub(FMT_BRACKET));
  EXPECT_EQ(format_error("~{~A", {"(1)"}), sub(FMT_BRACKET));
  // Text before the failure has gone out; nothing after it.
  EXPECT_EQ(format_error("ok ~Q"), sub(FMT_SYNTAX));
}

TEST_F(FormatTest, DestinationsAndControlStrings) {
  uint16_t mark = zvts->septr;
  Ref out = hold(make_string_output_stream());
  EXPECT_EQ(format_call(out, "~A-~A", {"1", "2"}), NIL);
  EXPECT_EQ(text(string_output_contents(out)), "1-2");
  EXPECT_EQ(LIST_ERROR(format_call(fx(3), "x", {})), 5170u);
  EXPECT_EQ(LIST_ERROR(Call(BI_FORMAT).a(NIL).a(fx(3)).run()), 5170u);
  Ref in = hold(make_string_input_stream(str("x"), 0, 1));
  EXPECT_EQ(LIST_ERROR(format_call(in, "x", {})), 5170u);
  pop_to(mark);
}

TEST_F(FormatTest, FormatToStreamTakesANativeArgumentArray) {
  uint16_t mark = zvts->septr;
  Ref out = hold(make_string_output_stream());
  Ref control = hold(str("~A and ~S: ~{~A~^ ~}"));
  Ref list = listfx::push_datum("(1.5 2.5)");
  Ref one = hold(str("one")), two = hold(str("two"));
  Value args[3] = {one, two, list};
  // The array is not rooted: the entry copies it before anything allocates.
  uint16_t sp = zvts->septr;
  EXPECT_EQ(format_to_stream(out, control, 3, args), NIL);
  EXPECT_EQ(text(string_output_contents(out)), "one and \"two\": 1.5 2.5");
  EXPECT_EQ(zvts->septr, sp);
  pop_to(mark);
}

// A long ~{ over boxed numbers under collections: the pushed windows are
// the only references.
TEST_F(FormatTest, SurvivesCollections) {
  uint32_t saved = zv_gc_stress;
  zv_gc_stress = 2;
  uint16_t mark = zvts->septr;
  Ref acc = hold(NIL);
  std::string want;
  for (int i = 0; i < 30; i++) {
    Value d = mem_make_double(i + 0.25);
    zvts->stack[acc.i].arg = cons(d, acc);
    want = std::to_string(i) + ".25" + (i ? "," : "") + want;
  }
  EXPECT_EQ(fmt("~{~A~^,~}", {acc}), want);
  EXPECT_EQ(fmt("~:{~A~}", {listfx::push_datum("((1.5) (2.5))")}), "1.52.5");
  pop_to(mark);
  zv_gc_stress = saved;
}

}  // namespace
