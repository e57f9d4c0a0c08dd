// Streams: string, file and window streams, their character operations,
// the code pages, the end-of-file protocol and the stream built-ins.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "genesis/world.h"
#include "io/console.h"
#include "io/stream.h"
#include "text/reader.h"
#include "text/strings.h"
#include "world_fixture.h"

namespace {

constexpr uint32_t E_EOF = 4163, E_NOT_STREAM = 4129, E_TYPE = 5170, E_MANY = 4148;

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

std::string text_of(Value s) {
  EXPECT_TRUE(is_string(s));
  return std::string(reinterpret_cast<const char*>(string_bytes(s)), string_length(s));
}

Value lisp_string(const std::string& t) {
  return str_from_bytes(reinterpret_cast<const uint8_t*>(t.data()), uint32_t(t.size()));
}

// A built-in called with its arguments in a call frame, as the evaluator
// lays them out.
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

class Streams : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gen_build_world("ZORVA.ROL")) << gen_error();
    roots_at_start_ = zvts->root_count;
    ErrorTrap::install();
    gc_stress_init_from_env();  // ZORVA_GC_STRESS=N checks the roots here
  }
  void TearDown() override {
    zv_gc_stress = 0;
    zvts->root_count = roots_at_start_;
  }
  // Streams the test holds on to: rooted, so collections update them.
  Value& keep(Value v) {
    if (nheld_ == 0) roots_at_start_ = zvts->root_count;
    held_[nheld_] = v;
    root_push(&held_[nheld_]);
    return held_[nheld_++];
  }
  Value& input(const std::string& t) {
    Value s = lisp_string(t);
    return keep(make_string_input_stream(s, 0, uint32_t(t.size())));
  }

 private:
  Value held_[64] = {};
  uint32_t nheld_ = 0, roots_at_start_ = 0;
};

TEST_F(Streams, StringInputEndAndPutBack) {
  Value& s = input("ab");
  EXPECT_EQ(stream_read_char(s), 'a');
  stream_unread_char(s, 'a');
  EXPECT_EQ(stream_read_char(s), 'a');
  EXPECT_EQ(stream_read_char(s), 'b');
  EXPECT_EQ(stream_read_char(s), -1);
  EXPECT_EQ(stream_read_char(s), -1);
  stream_unread_char(s, -1);  // after the end: still at the end
  EXPECT_EQ(stream_read_char(s), -1);
  EXPECT_EQ(call(BI_STREAM_POSITION, {s}), make_fixnum(2));
  EXPECT_EQ(call(BI_LISTEN, {s}), NIL);

  // Start and end select a part; the position counts from the string.
  Value& part = keep(
      call(BI_MAKE_STRING_INPUT_STREAM, {lisp_string("hello"), make_fixnum(1), make_fixnum(3)}));
  EXPECT_EQ(call(BI_STREAM_POSITION, {part}), make_fixnum(1));
  EXPECT_EQ(call(BI_LISTEN, {part}), T);
  EXPECT_EQ(stream_read_char(part), 'e');
  EXPECT_EQ(stream_read_char(part), 'l');
  EXPECT_EQ(stream_read_char(part), -1);
  EXPECT_EQ(
      TRAP(call(BI_MAKE_STRING_INPUT_STREAM, {lisp_string("abc"), make_fixnum(2), make_fixnum(1)})),
      E_TYPE);
  EXPECT_EQ(
      TRAP(call(BI_MAKE_STRING_INPUT_STREAM, {lisp_string("abc"), make_fixnum(0), make_fixnum(4)})),
      E_TYPE);
  EXPECT_EQ(TRAP(call(BI_MAKE_STRING_INPUT_STREAM, {make_fixnum(1)})), E_TYPE);
}

TEST_F(Streams, StringInputBeyondSixteenBits) {
  std::string t(70000, 'x');
  t[65535] = 'A';
  t[69999] = 'Z';
  Value& s = input(t);
  int n = 0, c, last = 0;
  while ((c = stream_read_char(s)) >= 0) {
    if (n == 65535) EXPECT_EQ(c, 'A');
    last = c;
    n++;
  }
  EXPECT_EQ(n, 70000);
  EXPECT_EQ(last, 'Z');
  EXPECT_EQ(call(BI_STREAM_POSITION, {s}), make_fixnum(70000));
  stream_unread_char(s, -1);
  stream_unread_char(s, 'Z');
  EXPECT_EQ(stream_read_char(s), 'Z');
}

TEST_F(Streams, StringOutputAndColumns) {
  Value& s = keep(make_string_output_stream());
  stream_write_cstr(s, "ab\nc");
  EXPECT_EQ(stream_column(s), 1u);
  EXPECT_EQ(call(BI_STREAM_POSITION, {s}), make_fixnum(1));
  EXPECT_EQ(text_of(call(BI_GET_OUTPUT_STREAM_STRING, {s})), "ab\nc");
  EXPECT_EQ(stream_column(s), 0u);
  EXPECT_EQ(text_of(call(BI_GET_OUTPUT_STREAM_STRING, {s})), "");
  // Growing across other allocations keeps every character.
  for (int i = 0; i < 3000; i++) {
    stream_write_char(s, 'a' + i % 26);
    if (i % 100 == 0) cons(NIL, NIL);
  }
  std::string got = text_of(string_output_contents(s));
  ASSERT_EQ(got.size(), 3000u);
  for (int i = 0; i < 3000; i++) ASSERT_EQ(got[i], 'a' + i % 26);
  EXPECT_EQ(TRAP(call(BI_GET_OUTPUT_STREAM_STRING, {input("x")})), E_TYPE);
}

TEST_F(Streams, CodePagesAreInverse) {
  for (int c = 0; c < 256; c++) {
    EXPECT_EQ(cp866_to_1251(cp1251_to_866(uint8_t(c))), c) << c;
    EXPECT_EQ(cp1251_to_866(cp866_to_1251(uint8_t(c))), c) << c;
  }
  for (int c = 0; c < 128; c++) EXPECT_EQ(cp1251_to_866(uint8_t(c)), c);
  EXPECT_EQ(cp866_to_1251(0x80), 0xC0);  // А
  EXPECT_EQ(cp1251_to_866(0xE0), 0xA0);  // а
  EXPECT_EQ(cp1251_to_866(0xFF), 0xEF);  // я
  EXPECT_EQ(cp1251_to_866(0xA8), 0xF0);  // Ё
  EXPECT_EQ(cp1251_to_866(0xB8), 0xF1);  // ё
  EXPECT_EQ(cp1251_to_866(0xB0), 0xF8);  // degree sign in both
}

TEST_F(Streams, Utf8OfCp1251) {
  for (int c = 0; c < 256; c++) {
    char buf[4];
    uint32_t n = utf8_from_1251(uint8_t(c), buf);
    ASSERT_GE(n, 1u);
    EXPECT_EQ(cp1251_of_unicode(unicode_of_1251(uint8_t(c))), c) << c;
  }
  char buf[4];
  EXPECT_EQ(std::string(buf, utf8_from_1251(0xC0, buf)), "\xD0\x90");
  EXPECT_EQ(std::string(buf, utf8_from_1251(0xB9, buf)), "\xE2\x84\x96");  // numero sign
  EXPECT_EQ(cp1251_of_unicode(0x4E00), -1);
}

// A file stream over a temporary file holding the given bytes.
struct TempFile {
  FILE* f = std::tmpfile();
  explicit TempFile(const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
  }
  std::string contents() {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    int c;
    while ((c = std::getc(f)) != EOF) s += char(c);
    return s;
  }
};

TEST_F(Streams, FilesWithOemConversion) {
  TempFile t("\x80\xA0z");
  Value& s = keep(make_file_stream(STREAM_FILE_IO, NIL, t.f, FSF_OEM));
  EXPECT_TRUE(is_file_stream(s));
  EXPECT_EQ(stream_read_char(s), 0xC0);
  EXPECT_EQ(stream_read_char(s), 0xE0);
  stream_unread_char(s, 0xE0);  // goes back converted
  EXPECT_EQ(stream_read_char(s), 0xE0);
  EXPECT_EQ(stream_read_char(s), 'z');
  EXPECT_EQ(stream_read_char(s), -1);
  EXPECT_EQ(call(BI_LISTEN, {s}), NIL);
  stream_write_char(s, 0xE0);
  stream_write_cstr(s, "\nab");
  EXPECT_EQ(stream_column(s), 2u);
  EXPECT_EQ(t.contents(), "\x80\xA0z\xA0\nab");
  EXPECT_EQ(call(BI_STREAM_EXTERNAL_FORMAT, {s}), make_keyword(FS_CP866));
  EXPECT_EQ(call(BI_STREAM_ELEMENT_TYPE, {s}), make_symbol(FS_CHARACTER));
  handle_release(stream_handle_index(s));
}

TEST_F(Streams, BinaryFiles) {
  TempFile t(std::string("\x34\x12\x00\x00\x80\x00\x01", 7));
  Value& s2 = keep(make_file_stream(STREAM_FILE_IN, NIL, t.f, 2 << 1));  // 2-byte elements
  EXPECT_EQ(call(BI_READ_BYTE, {s2}), make_fixnum(0x1234));
  Value type = call(BI_STREAM_ELEMENT_TYPE, {s2});
  ASSERT_TRUE(cons_p(type));
  EXPECT_EQ(car(type), make_symbol(FS_UNSIGNED_BYTE));
  EXPECT_EQ(car(cdr(type)), make_fixnum(16));
  EXPECT_EQ(call(BI_STREAM_EXTERNAL_FORMAT, {s2}), NIL);
  handle_release(stream_handle_index(s2));

  std::rewind(t.f);
  Value& s4 = keep(make_file_stream(STREAM_FILE_IN, NIL, t.f, 3 << 1));  // 4-byte elements
  EXPECT_EQ(call(BI_READ_BYTE, {s4}), make_fixnum(0x1234));
  Value big = call(BI_READ_BYTE, {s4, NIL, make_fixnum(-1)});  // three bytes left: the end
  EXPECT_EQ(big, make_fixnum(-1));
  EXPECT_EQ(TRAP(call(BI_READ_BYTE, {s4})), E_EOF);
  EXPECT_EQ(TRAP(call(BI_READ_BYTE, {input("x")})), E_TYPE);
  handle_release(stream_handle_index(s4));

  TempFile out("");
  Value& w = keep(make_file_stream(STREAM_FILE_OUT, NIL, out.f, 3 << 1));
  EXPECT_EQ(call(BI_WRITE_BYTE, {make_fixnum(0x1234), w}), make_fixnum(0x1234));
  call(BI_WRITE_BYTE, {mem_make_integer(0x89ABCDEF), w});
  EXPECT_EQ(out.contents(), std::string("\x34\x12\x00\x00\xEF\xCD\xAB\x89", 8));
  std::rewind(out.f);
  Value& r = keep(make_file_stream(STREAM_FILE_IN, NIL, out.f, 3 << 1));
  call(BI_READ_BYTE, {r});
  Value x = call(BI_READ_BYTE, {r});
  EXPECT_EQ(tag_of(x), TAG_INT64);  // 0x800000 and above are boxed
  EXPECT_EQ(int64_value(x), 0x89ABCDEF);
  EXPECT_EQ(TRAP(call(BI_WRITE_BYTE, {make_fixnum(1), r})), E_TYPE);  // not an output stream
  handle_release(stream_handle_index(w));
  handle_release(stream_handle_index(r));
}

TEST_F(Streams, ReadLineAndReadChar) {
  Value& s = input("ab\ncd");
  Value line = call(BI_READ_LINE, {s});
  EXPECT_EQ(text_of(line), "ab");
  EXPECT_EQ(mv_value(line, 1), NIL);
  line = call(BI_READ_LINE, {s});
  EXPECT_EQ(text_of(line), "cd");
  EXPECT_EQ(mv_value(line, 1), T);
  EXPECT_EQ(TRAP(call(BI_READ_LINE, {s})), E_EOF);
  Value eof = call(BI_READ_LINE, {s, NIL, make_fixnum(7)});
  EXPECT_EQ(eof, make_fixnum(7));
  EXPECT_EQ(mv_count(), 2u);

  std::string long_line(1000, 'w');
  Value l = call(BI_READ_LINE, {input(long_line + "\nnext")});
  EXPECT_EQ(text_of(l), long_line);
  EXPECT_EQ(text_of(call(BI_READ_LINE, {input("\n")})), "");

  Value& c = input("xy");
  EXPECT_EQ(call(BI_READ_CHAR, {c}), make_char('x'));
  EXPECT_EQ(call(BI_UNREAD_CHAR, {make_char('x'), c}), NIL);
  EXPECT_EQ(call(BI_READ_CHAR, {c}), make_char('x'));
  EXPECT_EQ(call(BI_READ_CHAR_NO_HANG, {c}), make_char('y'));
  EXPECT_EQ(call(BI_READ_CHAR, {c, NIL, T}), T);
  EXPECT_EQ(TRAP(call(BI_READ_CHAR, {c})), E_EOF);
  EXPECT_EQ(TRAP(call(BI_UNREAD_CHAR, {make_fixnum(1), c})), E_TYPE);

  // A fifth argument is reported and then ignored.
  EXPECT_EQ(call(BI_READ_CHAR, {input("q"), T, NIL, NIL, T}), make_char('q'));
  EXPECT_EQ(ErrorTrap::warning_code, E_MANY);
}

TEST_F(Streams, PeekChar) {
  Value& s = input("  x;y");
  EXPECT_EQ(call(BI_PEEK_CHAR, {NIL, s}), make_char(' '));
  EXPECT_EQ(call(BI_PEEK_CHAR, {T, s}), make_char('x'));
  EXPECT_EQ(stream_read_char(s), 'x');
  EXPECT_EQ(call(BI_PEEK_CHAR, {make_char('y'), s}), make_char('y'));
  EXPECT_EQ(stream_read_char(s), 'y');
  EXPECT_EQ(call(BI_PEEK_CHAR, {T, s, NIL, make_fixnum(0)}), make_fixnum(0));
  EXPECT_EQ(TRAP(call(BI_PEEK_CHAR, {make_char('q'), input("abc")})), E_EOF);
}

TEST_F(Streams, DesignatorsAndWrapper) {
  EXPECT_EQ(input_stream(NIL), sym_value(FS_STANDARD_INPUT));
  EXPECT_EQ(output_stream(T), sym_value(FS_TERMINAL_IO));
  EXPECT_TRUE(is_window_stream(output_stream(NIL)));
  EXPECT_EQ(TRAP(input_stream(make_fixnum(3))), E_TYPE);
  EXPECT_EQ(TRAP(output_stream(input("x"))), E_TYPE);
  EXPECT_EQ(TRAP(input_stream(keep(make_string_output_stream()))), E_TYPE);
  EXPECT_EQ(TRAP(stream_read_with(read_object, make_fixnum(1), RD_TOP_LEVEL, NIL)), E_NOT_STREAM);
  EXPECT_EQ(call(BI_STREAMP, {input("")}), T);
  EXPECT_EQ(call(BI_STREAMP, {make_fixnum(1)}), NIL);
  EXPECT_EQ(call(BI_STREAM_EXTERNAL_FORMAT, {input("")}), make_keyword(FS_CP1251));
  EXPECT_EQ(TRAP(call(BI_STREAM_ELEMENT_TYPE, {NIL})), E_TYPE);

  // An end of file met at top level returns the eof value and leaves the
  // stack, the contexts and the reader counters as they were.
  Value& s = input("");
  uint16_t sp = zvts->septr, cx = zvts->zvdincxt;
  uint32_t roots = zvts->root_count;
  reader_open_list();
  EXPECT_EQ(stream_read_with(read_object, s, RD_TOP_LEVEL | RD_EOF_VALUE, make_fixnum(9)),
            make_fixnum(9));
  EXPECT_EQ(zvts->septr, sp);
  EXPECT_EQ(zvts->zvdincxt, cx);
  EXPECT_EQ(zvts->root_count, roots);
  EXPECT_EQ(reader_open_parens(), 1u);
  reader_recover();
}

TEST_F(Streams, RightMarginAndColumns) {
  Value& s = keep(make_string_output_stream());
  sym_set_value(FS_PRINT_RIGHT_MARGIN, make_fixnum(60));
  EXPECT_EQ(stream_right_margin(s), 60u);
  sym_set_value(FS_PRINT_RIGHT_MARGIN, NIL);
  EXPECT_EQ(stream_right_margin(s), 78u);
  zv_printer_column = 5;
  stream_write_cstr(s, "x\nyz");
  EXPECT_EQ(zv_printer_column, 2u);
}

// The terminal window in line mode, fed from a file as standard input.
class LineMode : public Streams {
 protected:
  void feed(const std::string& text) {
    FILE* f = std::fopen(path().c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    ASSERT_NE(std::freopen(path().c_str(), "rb", stdin), nullptr);
  }
  static std::string path() {
    return testing::TempDir() + "zorva_line_mode_" + std::to_string(getpid());
  }
  void TearDown() override {
    std::remove(path().c_str());
    Streams::TearDown();
  }
};

TEST_F(LineMode, TerminalReadsLinesAndPrompts) {
  console_attach_standard_windows();
  Value& term = keep(sym_value(FS_TERMINAL_IO));
  ASSERT_TRUE(stream_window(term) != nullptr);
  window_clear_input(stream_window(term));
  sym_set_value(FS_PROMPT, lisp_string("> "));
  feed("(a\n b) \xD0\x90\xD1\x8F\r\nlast");
  testing::internal::CaptureStdout();
  console_arm_prompt();
  Value& form = keep(read_from(term, true, NIL, false));
  Value& word = keep(read_from(term, true, NIL, false));
  Value& last = keep(call(BI_READ_LINE, {term}));
  Value at_end = call(BI_READ_CHAR, {term, NIL, make_fixnum(-1)});
  std::fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(cons_p(form));
  EXPECT_EQ(text_of(sym_name(symbol_index(car(form)))), "A");
  EXPECT_EQ(text_of(sym_name(symbol_index(word))), "\xC0\xDF");  // UTF-8 in, 1251 inside, upcased
  EXPECT_EQ(text_of(last), "last");
  EXPECT_EQ(at_end, make_fixnum(-1));
  EXPECT_EQ(out, "> \n1>");  // the prompt once, then the continuation prompt
}

TEST_F(LineMode, EndOfInputInABreakLoopEndsTheSession) {
  console_attach_standard_windows();
  Value& term = keep(sym_value(FS_TERMINAL_IO));
  window_clear_input(stream_window(term));
  feed("");
  EXPECT_EXIT(
      {
        zvts->break_level = 1;
        stream_read_char(term);
      },
      testing::ExitedWithCode(1), "");
}

TEST_F(LineMode, TerminalWritesUtf8) {
  console_attach_standard_windows();
  Value& term = keep(sym_value(FS_TERMINAL_IO));
  Value& status = keep(sym_value(FS_STATUS_STREAM));
  testing::internal::CaptureStdout();
  stream_write_cstr(term, "x\xC0\n");
  stream_write_cstr(status, "silent");
  std::fflush(stdout);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "x\xD0\x90\n");
  EXPECT_EQ(stream_column(term), 0u);
  EXPECT_FALSE(stream_breaks_lines(term));  // printed as into a string: no width
  EXPECT_EQ(call(BI_STREAM_EXTERNAL_FORMAT, {term}), make_keyword(FS_CP866));
}

}  // namespace
