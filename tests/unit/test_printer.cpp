// The printer: atoms, lists and layouts, limits, line breaking, and the
// printer built-ins (334, 336-341, 446).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "genesis/world.h"
#include "io/stream.h"
#include "list_fixture.h"
#include "text/printer.h"

namespace {

using listfx::Call;
using listfx::hold;
using listfx::push_datum;
using listfx::Ref;

constexpr uint32_t E_NOT_OUTPUT = 4129, E_BASE = 4173, E_WRONG_TYPE = 5170;

std::string text(Value s) {
  EXPECT_TRUE(is_string(s));
  return std::string(reinterpret_cast<const char*>(string_bytes(s)), string_length(s));
}

void set(uint32_t sym, Value v) { sym_set_value(sym, v); }
Value fx(int32_t n) { return make_fixnum(n); }
Value kw(uint32_t i) { return make_keyword(i); }
Value sym(const char* name) { return sym_intern_cstr(name); }

// The printed form of a datum written in the list fixture's notation.
std::string pr(const char* datum, uint32_t flags = PRINT_ESCAPE) {
  uint16_t mark = zvts->septr;
  Ref r = push_datum(datum);
  std::string s = text(print_to_string(r, flags));
  pop_to(mark);
  return s;
}
// Calls the special form %SET-PRINT-LAYOUT with an argument list.
Value set_layout(const char* args) {
  uint16_t mark = zvts->septr;
  Ref r = push_datum(args);
  Value v = zv_builtins[BI_SET_PRINT_LAYOUT].fn(r, NIL);
  pop_to(mark);
  return v;
}

std::string pr(Value v, uint32_t flags = PRINT_ESCAPE) {
  uint16_t mark = zvts->septr;
  Ref r = hold(v);
  std::string s = text(print_to_string(r, flags));
  pop_to(mark);
  return s;
}

// A symbol with an arbitrary name (the fixture's reader upcases nothing
// but stops at blanks and parentheses).
Value named(const std::string& name) {
  return sym_intern(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()));
}

class PrinterTest : public ::testing::Test {
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
// Symbols

TEST_F(PrinterTest, SymbolEscapesAndBars) {
  EXPECT_EQ(pr("FOO"), "FOO");
  EXPECT_EQ(pr(named("foo")), "|foo|");  // three escapes out of three
  EXPECT_EQ(pr(named("foo"), PRINT_NO_ESCAPE), "foo");
  EXPECT_EQ(pr(named("Abc")), "|Abc|");
  EXPECT_EQ(pr(named("ABc")), "AB\\c");  // one escape in three: backslash
  EXPECT_EQ(pr(named("A B")), "A\\ B");
  EXPECT_EQ(pr(named("A(B")), "A\\(B");
  EXPECT_EQ(pr(named("P:Q")), "P\\:Q");
  EXPECT_EQ(pr(named("a|b")), "|a\\|b|");  // a bar inside bars keeps its escape
  EXPECT_EQ(pr(named("")), "||");
  set(FS_PRINT_CASE, kw(FS_DOWNCASE));
  EXPECT_EQ(pr(named("foo")), "\\f\\o\\o");
}

TEST_F(PrinterTest, SymbolsThatWouldReadAsNumbers) {
  EXPECT_EQ(pr("1+"), "\\1+");
  EXPECT_EQ(pr(named(".5X")), "\\.5X");
  EXPECT_EQ(pr(named("+5")), "\\+5");
  EXPECT_EQ(pr(named("1E5")), "\\1E5");
  EXPECT_EQ(pr(named("+")), "+");
  EXPECT_EQ(pr(named("-")), "-");
  EXPECT_EQ(pr(named("A1")), "A1");
  set(FS_PRINT_BASE, fx(2));
  EXPECT_EQ(pr(named("2X")), "2X");
  EXPECT_EQ(pr(named("1X")), "\\1X");
  set(FS_PRINT_BASE, fx(16));
  EXPECT_EQ(pr(named("FACE")), "\\FACE");
  EXPECT_EQ(pr(named("GATE")), "GATE");
}

TEST_F(PrinterTest, PrintCaseLeavesEscapedCharactersAlone) {
  set(FS_PRINT_CASE, kw(FS_DOWNCASE));
  EXPECT_EQ(pr("FOO-BAR"), "foo-bar");
  EXPECT_EQ(pr(named("ABc")), "ab\\c");
  set(FS_PRINT_BASE, fx(16));
  EXPECT_EQ(pr(named("FACE")), "\\Face");  // reads back as FACE
  set(FS_PRINT_CASE, kw(FS_CAPITALIZE));
  EXPECT_EQ(pr("HELLO-WORLD"), "Hello-world");
}

TEST_F(PrinterTest, KeywordsUninternedAndSpecialTags) {
  EXPECT_EQ(pr(kw(5)), ":TEST");
  EXPECT_EQ(pr(kw(5), PRINT_NO_ESCAPE), ":TEST");
  Value g = sym_make(reinterpret_cast<const uint8_t*>("G12"), 3);
  EXPECT_EQ(pr(g), "#:G12");
  EXPECT_EQ(pr(g, PRINT_NO_ESCAPE), "G12");
  set(FS_PRINT_GENSYM, NIL);
  EXPECT_EQ(pr(g), "G12");
  EXPECT_EQ(pr(0x02000000 | 0x91), "LAMBDA");  // annotated lambda-list keyword
  EXPECT_EQ(pr(0x04000000 | 0x91), "LAMBDA");  // cached lexical reference
  EXPECT_EQ(pr(NIL), "NIL");
  EXPECT_EQ(pr(NIL, PRINT_NIL_AS_LIST), "()");
}

TEST_F(PrinterTest, LongNamesDoNotOverflow) {
  std::string lower(300, 'x'), upper(500, 'Q');
  EXPECT_EQ(pr(named(lower)), "|" + lower + "|");
  EXPECT_EQ(pr(named(upper)), upper);
  std::string mixed;
  for (int i = 0; i < 200; i++) mixed += "A(";
  std::string want;
  for (int i = 0; i < 200; i++) want += "A\\(";
  set(FS_PRINT_RIGHT_MARGIN, fx(1000000));
  EXPECT_EQ(pr(named(mixed)), want);
}

// ---------------------------------------------------------------------------
// Numbers

TEST_F(PrinterTest, IntegersInBasesWithRadixMarks) {
  EXPECT_EQ(pr("42"), "42");
  EXPECT_EQ(pr("-8388608"), "-8388608");
  EXPECT_EQ(pr("123456789012"), "123456789012");
  EXPECT_EQ(pr(mem_make_int64_raw(INT64_MIN)), "-9223372036854775808");
  set(FS_PRINT_BASE, fx(16));
  EXPECT_EQ(pr("255"), "ff");
  EXPECT_EQ(pr("-255"), "-ff");
  set(FS_PRINT_RADIX, T);
  EXPECT_EQ(pr("16"), "#x10");
  set(FS_PRINT_BASE, fx(10));
  EXPECT_EQ(pr("10"), "10.");
  set(FS_PRINT_BASE, fx(3));
  EXPECT_EQ(pr("10"), "#3r101");
  set(FS_PRINT_BASE, fx(2));
  EXPECT_EQ(pr("5"), "#b101");
  set(FS_PRINT_BASE, fx(8));
  EXPECT_EQ(pr("8"), "#o10");
  set(FS_PRINT_BASE, fx(36));
  EXPECT_EQ(pr("35"), "#36rz");
}

TEST_F(PrinterTest, BadPrintBaseIsReportedWithBaseTenMeanwhile) {
  set(FS_PRINT_BASE, fx(1));
  uint16_t sp = zvts->septr;
  Value seen = NIL;
  ErrorTrap::install();
  // The handler continues; the base is bound to 10 while it runs.
  zv_error_fn = [](uint32_t code, const Value* o) -> Value {
    ErrorTrap::code = code;
    ErrorTrap::object = o[0];
    ErrorTrap::warnings = fixnum_value(sym_value(FS_PRINT_BASE));
    return NIL;
  };
  std::string s = pr("12");
  EXPECT_EQ(ErrorTrap::code, E_BASE);
  EXPECT_EQ(ErrorTrap::object, make_symbol(FS_PRINT_BASE));
  EXPECT_EQ(ErrorTrap::warnings, 10);
  EXPECT_EQ(s, "12");
  EXPECT_EQ(sym_value(FS_PRINT_BASE), fx(1));
  EXPECT_EQ(zvts->septr, sp);
  (void)seen;
  // Symbols never need the base to be right.
  ErrorTrap::install();
  EXPECT_EQ(pr("FOO"), "FOO");
  EXPECT_EQ(ErrorTrap::code, 0u);
}

TEST_F(PrinterTest, FloatsReadBackAsFloats) {
  EXPECT_EQ(pr(mem_make_double(1.0)), "1.0");
  EXPECT_EQ(pr(mem_make_double(1.5)), "1.5");
  EXPECT_EQ(pr(mem_make_double(-2.0)), "-2.0");
  EXPECT_EQ(pr(mem_make_double(0.1)), "0.1");
  EXPECT_EQ(pr(mem_make_double(-0.0)), "-0.0");
  EXPECT_EQ(pr(mem_make_double(1e20)), "1e+20");
  EXPECT_EQ(pr(mem_make_double(1e308)), "1e+308");
  EXPECT_EQ(pr(mem_make_double(123456789012345.0)), "123456789012345.0");
  EXPECT_EQ(pr(mem_make_double(1.0 / 3)), "0.3333333333333333");  // every digit that reads back
  EXPECT_EQ(pr(mem_make_double(HUGE_VAL)), "#<Float +Infinity>");
  EXPECT_EQ(pr(mem_make_double(-HUGE_VAL)), "#<Float -Infinity>");
  EXPECT_EQ(pr(mem_make_double(NAN)), "#<Float NaN>");
  // Floats do not take the print base.
  set(FS_PRINT_BASE, fx(16));
  EXPECT_EQ(pr(mem_make_double(10.5)), "10.5");
}

TEST_F(PrinterTest, ComplexNumbers) {
  EXPECT_EQ(pr(mem_make_complex_int(1, -2)), "#C(1 -2)");
  EXPECT_EQ(pr(mem_make_complex_double(1.5, 2.0)), "#C(1.5 2.0)");
}

// ---------------------------------------------------------------------------
// Characters and strings

TEST_F(PrinterTest, CharactersWithFontsAndModifiers) {
  EXPECT_EQ(pr(make_char('A')), "#\\A");
  EXPECT_EQ(pr(make_char('A'), PRINT_NO_ESCAPE), "A");
  EXPECT_EQ(pr(make_char('A' | 0x30000)), "#3\\A");
  EXPECT_EQ(pr(make_char('(')), "#\\(");
  Value control_a = make_char('A' | (1 << 9));
  EXPECT_EQ(pr(control_a), "#\\CONTROL-A");
  EXPECT_EQ(pr(control_a, PRINT_NO_ESCAPE), "CONTROL-A");
  EXPECT_EQ(pr(make_char('a' | (3 << 9))), "#\\CONTROL-META-\\a");
  EXPECT_EQ(pr(make_char('1' | (4 << 9))), "#\\SHIFT-\\1");
  EXPECT_EQ(pr(make_char('\n')), "#\\NEWLINE");
  EXPECT_EQ(pr(make_char(0)), "#\\NUL");
  EXPECT_EQ(pr(make_char(0x100 | 57)), "#\\F1");  // special key
  set(FS_PRINT_CASE, kw(FS_DOWNCASE));
  EXPECT_EQ(pr(make_char('\t')), "#\\tab");
}

TEST_F(PrinterTest, Strings) {
  EXPECT_EQ(pr("\"abc\""), "\"abc\"");
  EXPECT_EQ(pr(mem_make_string("a\"b\\c", 5)), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(pr(mem_make_string("a\"b\\c", 5), PRINT_NO_ESCAPE), "a\"b\\c");
  EXPECT_EQ(pr(mem_make_string("", 0)), "\"\"");
  std::string big(5000, 'z');
  EXPECT_EQ(pr(mem_make_string(big.data(), 5000), PRINT_NO_ESCAPE), big);
}

// ---------------------------------------------------------------------------
// Other atoms

TEST_F(PrinterTest, BuiltInForms) {
  EXPECT_EQ(pr(bi_value(BI_NULL)), "#<Compiled function NULL (1) 81>");
  EXPECT_EQ(pr(bi_value(BI_BLOCK)), "#<Special form 192 BLOCK>");
  EXPECT_EQ(pr(bi_value(BI_FUNCALL)), "#<Compiled function FUNCALL (1&o&r) 23>");
  EXPECT_EQ(pr(bi_value(BI_MAKE_HASH_TABLE)), "#<Compiled function MAKE-HASH-TABLE (0&k) 268>");
  // A function cell that is no built-in never names one.
  sym_set_function(symbol_index(sym("DECOY")), 0x07000000 | BORROWED_A);
  sym_set_function(symbol_index(sym("DECOY")), NIL);
  EXPECT_EQ(pr(make_builtin(2, BORROWED_A)),
            "#<Compiled function (0) " + std::to_string(BORROWED_A) + ">");
}

TEST_F(PrinterTest, StreamsHashTablesAndMarkers) {
  Value out = make_string_output_stream();
  EXPECT_EQ(pr(out), "#<Output-string-stream \"\">");
  EXPECT_EQ(pr(sym_value(FS_TERMINAL_IO)), "#<IO-window-stream NIL>");
  Value in = make_string_input_stream(mem_make_string("xy", 2), 0, 2);
  EXPECT_EQ(pr(in, PRINT_NO_ESCAPE), "#<Input-string-stream xy>");
  EXPECT_EQ(pr(zvm.roots[ROOT_TYPE_TABLE]).rfind("#<Hash-table ", 0), 0u);
  uint16_t mark = zvts->septr;
  Ref t = hold(zvm.roots[ROOT_TYPE_TABLE]);
  Value slots = heap_word(t, 0);
  std::string want = "#<Hash-table " + std::to_string(heap_word(t, 1) >> 16) + "/" +
                     std::to_string(heap_length(slots) / 2) + ">";
  EXPECT_EQ(pr(t), want);
  pop_to(mark);
  EXPECT_EQ(pr(NO_VALUE), "#<UNBOUND 13>");
  EXPECT_EQ(pr(HASH_EMPTY), "#<UNBOUND-VALUE 13>");
  EXPECT_EQ(pr(HASH_DELETED), "#<UNBOUND-UNKNOWN 13>");
}

// Instances print through the function of symbol 0xB4 when the image
// defines one; the text it writes sticks to what follows.
TEST_F(PrinterTest, InstancesUseTheImagesPrintFunction) {
  uint16_t mark = zvts->septr;
  Ref obj = hold(mem_alloc_object(2, HT_INSTANCE));
  heap_set_word(obj, 0, NIL);
  heap_set_word(obj, 1, NIL);
  Ref list = hold(NIL);
  zvts->stack[list.i].arg = cons(obj, NIL);
  EXPECT_EQ(pr(list), "(#<Unprintable>)");
  Ref fn = push_datum("(LAMBDA (X S) (WRITE-STRING \"#S(THING)\" S))");
  sym_set_function(FS_PRINT_INSTANCE, fn);
  EXPECT_EQ(pr(list), "(#S(THING))");
  sym_set_function(FS_PRINT_INSTANCE, NIL);
  pop_to(mark);
}

// ---------------------------------------------------------------------------
// Lists, vectors, arrays and limits

TEST_F(PrinterTest, PlainLists) {
  EXPECT_EQ(pr("(1 2 3)"), "(1 2 3)");
  EXPECT_EQ(pr("(A . B)"), "(A . B)");
  EXPECT_EQ(pr("(1 (2 (3)) . 4)"), "(1 (2 (3)) . 4)");
  EXPECT_EQ(pr("((A) (B \"s\"))"), "((A) (B \"s\"))");
  EXPECT_EQ(pr("(NIL)"), "(NIL)");
}

TEST_F(PrinterTest, PrintLengthAndLevel) {
  set(FS_PRINT_LENGTH, fx(2));
  EXPECT_EQ(pr("(1 2 3)"), "(1 2 ...)");
  EXPECT_EQ(pr("(1 2)"), "(1 2)");
  EXPECT_EQ(pr("#(1 2 3)"), "#(1 2 ...)");
  set(FS_PRINT_LENGTH, fx(0));
  EXPECT_EQ(pr("(1 2 3)"), "(...)");
  set(FS_PRINT_LENGTH, mem_make_int64_raw(1));  // a one-word integer object
  EXPECT_EQ(pr("(1 2 3)"), "(1 ...)");
  set(FS_PRINT_LENGTH, NIL);
  set(FS_PRINT_LEVEL, fx(1));
  EXPECT_EQ(pr("(1 (2) 3)"), "(1 # 3)");
  EXPECT_EQ(pr("(1 #(2) 3)"), "(1 # 3)");
  set(FS_PRINT_LEVEL, fx(0));
  EXPECT_EQ(pr("(1)"), "#");
  EXPECT_EQ(pr("\"s\""), "\"s\"");  // strings have no components
  set(FS_PRINT_LEVEL, fx(2));
  EXPECT_EQ(pr("(1 (2 (3)))"), "(1 (2 #))");
}

TEST_F(PrinterTest, VectorsAndArrays) {
  EXPECT_EQ(pr("#(1 A \"s\")"), "#(1 A \"s\")");
  EXPECT_EQ(pr("#()"), "#()");
  uint16_t mark = zvts->septr;
  Ref a = hold(mem_alloc_array(6, 2));
  for (uint32_t i = 0; i < 6; i++) heap_set_word(a, i, fx(int32_t(i + 1)));
  heap_set_word(a, 6, 2);  // dimension 1
  EXPECT_EQ(pr(a), "#2A((1 2 3) (4 5 6))");
  set(FS_PRINT_LENGTH, fx(2));
  EXPECT_EQ(pr(a), "#2A((1 2 ...) (4 5 ...))");
  set(FS_PRINT_LENGTH, NIL);
  set(FS_PRINT_ARRAY, NIL);
  EXPECT_EQ(pr(a), "#<General simple array of 2 dimensions>");
  EXPECT_EQ(pr("#(1 2 3)"), "#<General simple vector, size 3>");
  pop_to(mark);
}

TEST_F(PrinterTest, BracesCloseDeepLastElements) {
  zvm.header[HDR_SWITCHES] |= SW_PRINTER;
  EXPECT_EQ(pr("(A (B (C (D (E)))))"), "{A (B (C (D (E}");
  EXPECT_EQ(pr("(A (B (C (D))))"), "(A (B (C (D))))");  // depth 3
  EXPECT_EQ(pr("(X (A (B (C (D (E))))) Y)"), "(X {A (B (C (D (E} Y)");
  zvm.header[HDR_SWITCHES] &= uint8_t(~SW_PRINTER);
  EXPECT_EQ(pr("(A (B (C (D (E)))))"), "(A (B (C (D (E)))))");
}

// ---------------------------------------------------------------------------
// Lines and layouts

// Lines of a printed text, for layout checks.
std::vector<std::string> lines_of(const std::string& s) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i <= s.size(); i++)
    if (i == s.size() || s[i] == '\n') {
      out.push_back(s.substr(start, i - start));
      start = i + 1;
    }
  return out;
}

TEST_F(PrinterTest, PiecesBreakAtTheRightMargin) {
  set(FS_PRINT_PRETTY, T);
  set(FS_PRINT_RIGHT_MARGIN, fx(20));
  std::string s = pr("(AAAA BBBB CCCC DDDD EEEE FFFF GGGG HHHH)");
  std::string joined;
  for (const std::string& l : lines_of(s)) {
    EXPECT_LE(l.size(), 20u) << s;
    EXPECT_NE(l.back(), ' ') << s;
    joined += (joined.empty() ? "" : " ") + l.substr(l.find_first_not_of(' '));
  }
  EXPECT_GT(lines_of(s).size(), 1u);
  EXPECT_EQ(joined, "(AAAA BBBB CCCC DDDD EEEE FFFF GGGG HHHH)");
  // A margin that is no fixnum falls back to 79.
  set(FS_PRINT_RIGHT_MARGIN, T);
  std::string row;
  for (int i = 0; i < 30; i++) row += "ABC ";
  s = pr(("(" + row + ")").c_str());
  EXPECT_LE(lines_of(s)[0].size(), 79u);
  EXPECT_GE(lines_of(s)[0].size(), 70u);
}

// Printed plainly to a string (or a file), data keeps its own lines.
TEST_F(PrinterTest, PlainOutputIsNotBroken) {
  set(FS_PRINT_RIGHT_MARGIN, fx(20));
  std::string s = pr("(AAAA BBBB CCCC DDDD EEEE FFFF GGGG HHHH \"a long string here\")");
  EXPECT_EQ(s, "(AAAA BBBB CCCC DDDD EEEE FFFF GGGG HHHH \"a long string here\")");
}

TEST_F(PrinterTest, LongStringStartsOnItsOwnLine) {
  set(FS_PRINT_PRETTY, T);
  set(FS_PRINT_RIGHT_MARGIN, fx(20));
  std::string s = pr("(A \"a string that is far too long for the line\")");
  EXPECT_EQ(s, "(A\n   \"a string that is far too long for the line\")");
}

TEST_F(PrinterTest, PrettyDefunLayout) {
  // Layout bytes as a library would set them with %SET-PRINT-LAYOUT.
  set_layout("(DEFUN 148)");
  set_layout("(IF 134)");
  set_layout("(LET 68)");
  set(FS_PRINT_PRETTY, T);
  EXPECT_EQ(pr("(DEFUN FACT (N) (IF (= N 0) 1 (* N (FACT (- N 1)))))"),
            "(DEFUN FACT (N)\n"
            "  (IF (= N 0)\n"
            "      1\n"
            "      (* N (FACT (- N 1)))))");
  EXPECT_EQ(pr("(LET ((X 1) (Y 2)) (F X) (G Y))"),
            "(LET ((X 1)\n"
            "      (Y 2))\n"
            "  (F X)\n"
            "  (G Y))");
  // Without a layout byte a list that fits stays on one line.
  EXPECT_EQ(pr("(F (G 1) 2)"), "(F (G 1) 2)");
  // The print length applies in the code layout too.
  set(FS_PRINT_LENGTH, fx(3));
  EXPECT_EQ(pr("(DEFUN F (X) A B)"), "(DEFUN F (X) ...)");
}

TEST_F(PrinterTest, PrettyListThatDoesNotFit) {
  set(FS_PRINT_PRETTY, T);
  set(FS_PRINT_RIGHT_MARGIN, fx(40));
  std::string s = pr("(FOO (BAR 1 2 3) (BAZ 4 5 6) (QUUX 7 8 9))");
  EXPECT_EQ(s,
            "(FOO (BAR 1 2 3)\n"
            "     (BAZ 4 5 6)\n"
            "     (QUUX 7 8 9))");
}

TEST_F(PrinterTest, SetPrintLayoutChecksItsForm) {
  Value s = set_layout("(FROB 7)");
  EXPECT_EQ(s, sym("FROB"));
  uint16_t flags = sym_flags(symbol_index(s));
  EXPECT_EQ(flags >> 8, 7u);
  set_layout("(FROB 263)");  // the low byte only; the flags below stay
  EXPECT_EQ(sym_flags(symbol_index(s)), uint16_t((flags & 0xFF) | 0x700));
  EXPECT_EQ(LIST_ERROR(set_layout("(FROB)")), 5171u);
  EXPECT_EQ(LIST_ERROR(set_layout("(FROB 1 2)")), 5171u);
  EXPECT_EQ(LIST_ERROR(set_layout("(3 1)")), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(set_layout("(FROB X)")), E_WRONG_TYPE);
}

// ---------------------------------------------------------------------------
// The print entry and the built-ins

TEST_F(PrinterTest, PrintEntryWantsAnOutputStream) {
  Value in = make_string_input_stream(mem_make_string("x", 1), 0, 1);
  EXPECT_EQ(TRAP_ERROR(print_object(fx(1), in, 0)), E_NOT_OUTPUT);
  EXPECT_EQ(TRAP_ERROR(print_object(fx(1), fx(3), 0)), E_NOT_OUTPUT);
  // A failed print leaves the next one unharmed.
  set(FS_PRINT_BASE, fx(99));
  EXPECT_EQ(TRAP_ERROR(pr("(A 1)")), E_BASE);
  set(FS_PRINT_BASE, fx(10));
  EXPECT_EQ(pr("(A 1)"), "(A 1)");
}

TEST_F(PrinterTest, EscapeFlagsBindAndRestore) {
  EXPECT_EQ(pr("\"s\"", 0), "\"s\"");  // *PRINT-ESCAPE* is T in the world
  set(FS_PRINT_ESCAPE, NIL);
  EXPECT_EQ(pr("\"s\"", 0), "s");
  EXPECT_EQ(pr("\"s\"", PRINT_ESCAPE | PRINT_NO_ESCAPE), "\"s\"");
  EXPECT_EQ(sym_value(FS_PRINT_ESCAPE), NIL);
}

TEST_F(PrinterTest, FreshLinePrintWriteCharAndString) {
  uint16_t mark = zvts->septr;
  Ref out = hold(make_string_output_stream());
  EXPECT_EQ(Call(BI_FRESH_LINE).a(out).run(), NIL);
  Call(BI_PRINT).a("FOO").a(out).run();
  EXPECT_EQ(Call(BI_FRESH_LINE).a(out).run(), T);
  EXPECT_EQ(Call(BI_WRITE_CHAR).a(make_char('z')).a(out).run(), make_char('z'));
  Call(BI_WRITE_STRING).a("\"abcdef\"").a(out).a(kw(9)).a(fx(1)).a(kw(10)).a(fx(4)).run();
  EXPECT_EQ(text(string_output_contents(out)), "\nFOO \nzbcd");
  EXPECT_EQ(LIST_ERROR(Call(BI_WRITE_CHAR).a("1").a(out).run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_WRITE_STRING).a("\"abc\"").a(out).a(kw(9)).a(fx(5)).run()), 4146u);
  EXPECT_EQ(LIST_ERROR(Call(BI_PRINT).a("1").a(fx(2)).run()), E_WRONG_TYPE);
  // A surplus argument is a continuable complaint.
  ErrorTrap::install();
  Call(BI_WRITE_CHAR).a(make_char('q')).a(out).a(fx(1)).run();
  EXPECT_EQ(ErrorTrap::warnings, 1);
  EXPECT_EQ(text(string_output_contents(out)), "q");
  pop_to(mark);
}

TEST_F(PrinterTest, WriteAndWriteToStringBindTheVariables) {
  uint16_t mark = zvts->septr;
  Ref out = hold(make_string_output_stream());
  Call(BI_WRITE).a(fx(255)).kw(24, out).kw(26, fx(16)).kw(33, T).run();
  EXPECT_EQ(text(string_output_contents(out)), "#xff");
  EXPECT_EQ(sym_value(FS_PRINT_BASE), fx(10));
  EXPECT_EQ(text(Call(BI_WRITE_TO_STRING).a("(1 2 3)").kw(30, fx(1)).run()), "(1 ...)");
  EXPECT_EQ(text(Call(BI_WRITE_TO_STRING).a("\"s\"").kw(28, NIL).run()), "s");
  EXPECT_EQ(text(Call(BI_WRITE_TO_STRING).a("FOO").kw(27, kw(FS_DOWNCASE)).run()), "foo");
  EXPECT_EQ(sym_value(FS_PRINT_LENGTH), NIL);
  for (uint32_t k = 0; k < KEYWORD_SLOTS; k++) EXPECT_EQ(zvts->kwslots[k], 0) << k;
  // WRITE-TO-STRING has no destination: keyword 24 is refused.
  ErrorTrap::install();
  EXPECT_EQ(text(Call(BI_WRITE_TO_STRING).a("X").kw(24, out).run()), "X");
  EXPECT_EQ(ErrorTrap::warnings, 1);
  pop_to(mark);
}

TEST_F(PrinterTest, MachineInteger) {
  EXPECT_EQ(Call(BI_MACHINE_INTEGER).a(fx(-5)).run(), fx(-5));
  uint16_t mark = zvts->septr;
  Ref small = hold(mem_make_int64_raw(7));
  EXPECT_EQ(Call(BI_MACHINE_INTEGER).a(small).run(), fx(7));
  Ref big = hold(mem_make_int64_raw(int64_t(1) << 40));
  Value r = Call(BI_MACHINE_INTEGER).a(big).run();
  ASSERT_EQ(tag_of(r), TAG_INT64);
  EXPECT_EQ(int64_value(r), int64_t(1) << 40);
  EXPECT_EQ(Call(BI_MACHINE_INTEGER).a(T).run(), T);
  pop_to(mark);
}

// Printing allocates nothing of its own, but a string stream does: a big
// structure of boxed numbers printed under collections stays right.
TEST_F(PrinterTest, SurvivesCollectionsWhilePrinting) {
  uint32_t saved = zv_gc_stress;
  zv_gc_stress = 3;
  std::string want = "(";
  uint16_t mark = zvts->septr;
  Ref acc = hold(NIL);
  for (int i = 0; i < 40; i++) {
    Value d = mem_make_double(i + 0.5);
    zvts->stack[acc.i].arg = cons(d, acc);
  }
  for (int i = 39; i >= 0; i--) want += std::to_string(i) + ".5" + (i ? " " : ")");
  set(FS_PRINT_RIGHT_MARGIN, fx(100000));
  EXPECT_EQ(pr(acc), want);
  pop_to(mark);
  zv_gc_stress = saved;
}

}  // namespace
