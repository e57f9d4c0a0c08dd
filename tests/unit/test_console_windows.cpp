// Windows, their built-ins, the line editor and the history, on a console
// in memory: keys are queued on the device and cells read back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "genesis/world.h"
#include "image/image_file.h"
#include "io/console.h"
#include "io/history.h"
#include "io/stream.h"
#include "object/memory.h"
#include "text/printer.h"
#include "text/reader.h"
#include "text/strings.h"
#include "threads/safepoint.h"
#include "threads/table.h"
#include "world_fixture.h"

namespace {

constexpr uint32_t E_TYPE = 5170;
constexpr int ROWS = 12, COLS = 40;

std::string text_of(Value s) {
  EXPECT_TRUE(is_string(s));
  return std::string(reinterpret_cast<const char*>(string_bytes(s)), string_length(s));
}

Value lisp_string(const std::string& t) {
  return str_from_bytes(reinterpret_cast<const uint8_t*>(t.data()), uint32_t(t.size()));
}

// A built-in called as the evaluator calls it.
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

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gen_build_world("ZORVA.ROL")) << gen_error();
    roots_at_start_ = zvts->root_count;
    ErrorTrap::install();
    zvm.header[HDR_SWITCHES] |= SW_STATUS_WINDOW;
    console_restart(CONSOLE_MEMORY, ROWS, COLS);
    console_attach_standard_windows();
    std::memset(zvm.history, 0, sizeof zvm.history);
    sym_set_value(FS_CONSOLE_HISTORY, NIL);
    term_ = &keep(sym_value(FS_TERMINAL_IO));
    sym_set_value(FS_PROMPT, lisp_string("> "));
    gc_stress_init_from_env();
  }
  void TearDown() override {
    zv_gc_stress = 0;
    zvts->root_count = roots_at_start_;
    console_restart(CONSOLE_LINE);
  }
  Value& keep(Value v) {
    if (nheld_ == 0) roots_at_start_ = zvts->root_count;
    held_[nheld_] = v;
    root_push(&held_[nheld_]);
    return held_[nheld_++];
  }
  ConsoleDevice* dev() { return console_device(); }
  Value term() { return *term_; }
  Window* window(Value s) { return stream_window(s); }

  std::string row(int r) {
    std::string s;
    for (int c = 0; c < dev()->cols(); c++) s += char(dev()->cell(r, c).ch);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  // Keys for the line editor.
  void type(const std::string& t) {
    for (unsigned char c : t) dev()->push_key(KeyEvent{scan_of_char(c), c, 0});
  }
  void press(uint16_t scan, uint16_t mods = 0, uint8_t ch = 0) {
    dev()->push_key(KeyEvent{scan, ch, mods});
  }
  void enter() { press(SC_ENTER, 0, 13); }
  // The rest of the current line from the terminal window.
  std::string read_line() {
    std::string s;
    for (int c; (c = stream_read_char(term())) >= 0 && c != '\n';) s += char(c);
    return s;
  }
  Value vec(std::initializer_list<int32_t> xs) {
    Value v = mem_alloc_vector(uint32_t(xs.size()));
    uint32_t i = 0;
    for (int32_t x : xs) heap_set_word(v, i++, make_fixnum(x));
    return v;
  }
  std::pair<int, int> pair_of(Value v) {
    EXPECT_TRUE(is_simple_vector(v));
    return {fixnum_value(heap_word(v, 0)), fixnum_value(heap_word(v, 1))};
  }
  Value* term_ = nullptr;

 private:
  Value held_[64] = {};
  uint32_t nheld_ = 0, roots_at_start_ = 0;
};

using P = std::pair<int, int>;

// ---------------------------------------------------------------------------
// The standard windows

TEST_F(Console, StandardWindowsAreLaidOutOnTheScreen) {
  Window* t = console_window(WIN_TERMINAL);
  Window* s = console_window(WIN_STATUS);
  Window* i = console_window(WIN_INDICATOR);
  EXPECT_EQ(t->rows, ROWS - 1);
  EXPECT_EQ(t->columns, COLS);
  EXPECT_EQ(s->row, ROWS - 1);
  EXPECT_EQ(i->row, ROWS - 1);
  EXPECT_EQ(s->columns + i->columns, COLS);
  EXPECT_EQ(i->column, s->columns);
  EXPECT_EQ(dev()->cell(ROWS - 1, 0).attr, 0x17);
  console_layout_standard_windows(25, 80);
  EXPECT_EQ(s->columns, 54);
  EXPECT_EQ(i->columns, 26);
}

TEST_F(Console, TheTerminalWindowScrollsAndTheStatusWindowKeepsItsRow) {
  for (int k = 0; k < ROWS + 3; k++) stream_write_cstr(term(), ("line " + std::to_string(k) + "\n").c_str());
  stream_write_cstr(sym_value(FS_STATUS_STREAM), "status");
  EXPECT_EQ(row(0), "line 4");
  EXPECT_EQ(row(ROWS - 2), "line 14");
  EXPECT_EQ(row(ROWS - 1).substr(0, 6), "status");
  EXPECT_EQ(stream_column(term()), 0u);
  EXPECT_TRUE(stream_breaks_lines(term()));
  EXPECT_EQ(stream_right_margin(term()), uint32_t(COLS - 1));
}

TEST_F(Console, AFontIsTheAttributeOfOneCharacter) {
  stream_write_char(term(), 'a' | (0x4E << 16));
  stream_write_char(term(), 'b');
  EXPECT_EQ(dev()->cell(0, 0).attr, 0x4E);
  EXPECT_EQ(dev()->cell(0, 1).attr, console_window(WIN_TERMINAL)->attribute);
  // Printed without escapes, and by WRITE-CHAR: in the font; with escapes
  // the font is part of the text.
  Value c = make_char('c') | (0x1E << 16);
  print_object(c, term(), PRINT_NO_ESCAPE);
  call(BI_WRITE_CHAR, {make_char('d') | (0x2F << 16), term()});
  print_object(c, term(), PRINT_ESCAPE);
  EXPECT_EQ(row(0), "abcd#30\\c");
  EXPECT_EQ(dev()->cell(0, 2).attr, 0x1E);
  EXPECT_EQ(dev()->cell(0, 3).attr, 0x2F);
  EXPECT_EQ(dev()->cell(0, 4).attr, console_window(WIN_TERMINAL)->attribute);
}

// ---------------------------------------------------------------------------
// Window built-ins

TEST_F(Console, MakeWindowStreamChecksItsRectangle) {
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({2, 3, 4, 12}), make_fixnum(0x1E)}));
  ASSERT_TRUE(is_window_stream(w));
  EXPECT_EQ(pair_of(call(BI_WINDOW_SIZE, {w})), P(3, 10));
  EXPECT_EQ(pair_of(call(BI_WINDOW_ORIGIN, {w})), P(2, 3));
  EXPECT_EQ(pair_of(call(BI_WINDOW_CURSOR, {w})), P(0, 0));
  EXPECT_EQ(pair_of(call(BI_WINDOW_SIZE, {NIL})), P(ROWS, COLS));
  EXPECT_EQ(call(BI_WINDOW_ATTRIBUTE, {w}), make_fixnum(0x1E));
  EXPECT_EQ(TRAP(call(BI_MAKE_WINDOW_STREAM, {vec({-1, 0, 3, 3}), make_fixnum(7)})), E_TYPE);
  EXPECT_EQ(TRAP(call(BI_MAKE_WINDOW_STREAM, {vec({3, 0, 2, 3}), make_fixnum(7)})), E_TYPE);      // no rows
  EXPECT_EQ(TRAP(call(BI_MAKE_WINDOW_STREAM, {vec({0, 0, ROWS, 3}), make_fixnum(7)})), E_TYPE);  // too tall
  EXPECT_EQ(TRAP(call(BI_MAKE_WINDOW_STREAM, {vec({0, 0, 1}), make_fixnum(7)})), E_TYPE);
  EXPECT_EQ(TRAP(call(BI_MAKE_WINDOW_STREAM, {vec({0, 0, 1, 1}), NIL})), E_TYPE);
  EXPECT_EQ(TRAP(call(BI_WINDOW_CURSOR, {make_fixnum(1)})), E_TYPE);
  EXPECT_EQ(call(BI_CLOSE, {w}), T);  // closed: its record is gone
  EXPECT_EQ(TRAP(call(BI_WINDOW_CURSOR, {w})), E_TYPE);
}

TEST_F(Console, TextInAWindowWrapsScrollsAndIsCutOnOneRow) {
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({1, 2, 2, 6}), make_fixnum(0x1E)}));
  stream_write_cstr(w, "abcdefgh\nij");
  EXPECT_EQ(row(1), "  fgh");
  EXPECT_EQ(row(2), "  ij");
  EXPECT_EQ(dev()->cell(1, 2).attr, 0x1E);
  EXPECT_EQ(row(3), "");
  Value& one = keep(call(BI_MAKE_WINDOW_STREAM, {vec({5, 0, 5, 3}), make_fixnum(7)}));
  stream_write_cstr(one, "abcdefg");
  EXPECT_EQ(row(5), "abcd");
  EXPECT_EQ(pair_of(call(BI_WINDOW_CURSOR, {one})), P(0, 4));
  // Clearing fills the rectangle with the window's attribute.
  EXPECT_EQ(call(BI_CLEAR_WINDOW, {w}), NIL);
  EXPECT_EQ(row(1), "");
  EXPECT_EQ(dev()->cell(2, 6).attr, 0x1E);
  EXPECT_EQ(dev()->cell(2, 7).attr, console_window(WIN_TERMINAL)->attribute);
}

TEST_F(Console, TheCursorMovesOnlyInsideOrOntoTheBorder) {
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({0, 0, 3, 9}), make_fixnum(7)}));  // 4 rows, 10 columns
  EXPECT_EQ(pair_of(call(BI_SET_WINDOW_CURSOR, {w, vec({4, 10})})), P(0, 0));  // both bounds inclusive
  EXPECT_EQ(pair_of(call(BI_WINDOW_CURSOR, {w})), P(4, 10));
  EXPECT_EQ(pair_of(call(BI_SET_WINDOW_CURSOR, {w, vec({5, 0})})), P(4, 10));  // refused: unchanged
  EXPECT_EQ(pair_of(call(BI_SET_WINDOW_CURSOR, {w, vec({0, -1})})), P(4, 10));
  EXPECT_EQ(pair_of(call(BI_WINDOW_CURSOR, {w})), P(4, 10));
  call(BI_SET_WINDOW_CURSOR, {w, vec({1, 2})});
  EXPECT_EQ(dev()->cursor_abs_row(), 1);
  EXPECT_EQ(dev()->cursor_abs_col(), 2);
  EXPECT_EQ(TRAP(call(BI_SET_WINDOW_CURSOR, {w, vec({1})})), E_TYPE);
  EXPECT_EQ(TRAP(call(BI_SET_WINDOW_CURSOR, {w, NIL})), E_TYPE);
}

TEST_F(Console, ResizingClampsTheCursorAndDropsTheSavedScreen) {
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({0, 0, 5, 9}), make_fixnum(7)}));
  call(BI_SET_WINDOW_CURSOR, {w, vec({6, 10})});
  call(BI_SAVE_WINDOW_SCREEN, {w});
  EXPECT_EQ(pair_of(call(BI_RESIZE_WINDOW, {w, vec({3, 4})})), P(6, 10));
  EXPECT_EQ(pair_of(call(BI_WINDOW_CURSOR, {w})), P(3, 3));  // row at most the rows, column inside
  EXPECT_EQ(TRAP(call(BI_RESTORE_WINDOW_SCREEN, {w})), E_TYPE);     // the saved screen is gone
  EXPECT_EQ(pair_of(call(BI_RESIZE_WINDOW, {w, vec({ROWS, COLS})})), P(3, 4));
  EXPECT_EQ(TRAP(call(BI_RESIZE_WINDOW, {w, vec({ROWS + 1, 1})})), E_TYPE);
  EXPECT_EQ(TRAP(call(BI_RESIZE_WINDOW, {w, vec({1, -1})})), E_TYPE);
}

TEST_F(Console, MovingHasNoUpperBoundButNoNegativeOrigin) {
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({0, 0, 1, 1}), make_fixnum(7)}));
  EXPECT_EQ(pair_of(call(BI_MOVE_WINDOW, {w, vec({100, 200})})), P(0, 0));
  EXPECT_EQ(pair_of(call(BI_WINDOW_ORIGIN, {w})), P(100, 200));
  stream_write_cstr(w, "off the screen");  // nothing to see, nothing overrun
  EXPECT_EQ(TRAP(call(BI_MOVE_WINDOW, {w, vec({-1, 0})})), E_TYPE);
}

TEST_F(Console, SaveAndRestoreTheScreenUnderAWindow) {
  stream_write_cstr(term(), "under\nneath");
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({0, 1, 1, 3}), make_fixnum(0x4F)}));
  EXPECT_EQ(call(BI_SAVE_WINDOW_SCREEN, {w}), NIL);
  EXPECT_EQ(TRAP(call(BI_SAVE_WINDOW_SCREEN, {w})), E_TYPE);  // one saved screen at a time
  call(BI_CLEAR_WINDOW, {w});
  stream_write_cstr(w, "XYZ");
  EXPECT_EQ(row(0), "uXYZr");
  EXPECT_EQ(call(BI_RESTORE_WINDOW_SCREEN, {w}), NIL);
  EXPECT_EQ(row(0), "under");
  EXPECT_EQ(row(1), "neath");
  EXPECT_EQ(dev()->cell(0, 1).attr, console_window(WIN_TERMINAL)->attribute);
  EXPECT_EQ(TRAP(call(BI_RESTORE_WINDOW_SCREEN, {w})), E_TYPE);
}

TEST_F(Console, AHiddenWindowIsWrittenOffTheScreenAndCoversItWhenShown) {
  stream_write_cstr(term(), "under\nneath");
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({0, 1, 1, 3}), make_fixnum(0x4F)}));
  EXPECT_EQ(call(BI_WINDOW_VISIBLE, {w}), T);
  EXPECT_EQ(call(BI_WINDOW_VISIBLE, {w, NIL}), T);  // the previous state
  EXPECT_EQ(call(BI_WINDOW_VISIBLE, {w}), NIL);
  stream_write_cstr(w, "XYZ");
  EXPECT_EQ(row(0), "under");
  EXPECT_EQ(pair_of(call(BI_WINDOW_CURSOR, {w})), P(1, 0));  // wrapped, as on the screen
  // Shown: its cells (blank where nothing was written) over the screen.
  EXPECT_EQ(call(BI_WINDOW_VISIBLE, {w, T}), NIL);
  EXPECT_EQ(row(0), "uXYZr");
  EXPECT_EQ(row(1), "n   h");
  EXPECT_EQ(dev()->cell(1, 2).attr, 0x4F);
  // Hidden again: what it covered comes back, its text goes with it.
  call(BI_WINDOW_VISIBLE, {w, NIL});
  EXPECT_EQ(row(0), "under");
  EXPECT_EQ(row(1), "neath");
  stream_write_cstr(w, "ab");
  call(BI_CLEAR_WINDOW, {term()});
  stream_write_cstr(term(), "12345\n67890");
  call(BI_WINDOW_VISIBLE, {w, T});
  EXPECT_EQ(row(0), "1XYZ5");
  EXPECT_EQ(row(1), "6ab 0");
  // A size change while hidden: the cells follow, nothing overruns.
  call(BI_WINDOW_VISIBLE, {w, NIL});
  call(BI_RESIZE_WINDOW, {w, vec({3, 5})});
  call(BI_CLEAR_WINDOW, {w});
  stream_write_cstr(w, "abcdefghij");
  call(BI_WINDOW_VISIBLE, {w, T});
  EXPECT_EQ(row(0), "1abcde");
  EXPECT_EQ(row(1), "6fghij");
  // Showing twice keeps the first cover; the standard windows are always shown.
  EXPECT_EQ(call(BI_WINDOW_VISIBLE, {w, T}), T);
  EXPECT_EQ(call(BI_WINDOW_VISIBLE, {term(), T}), T);
  EXPECT_EQ(TRAP(call(BI_WINDOW_VISIBLE, {term(), NIL})), E_TYPE);
  EXPECT_EQ(call(BI_WINDOW_VISIBLE, {term()}), T);
  EXPECT_EQ(TRAP(call(BI_WINDOW_VISIBLE, {NIL})), E_TYPE);
  call(BI_WINDOW_VISIBLE, {w, NIL});
  EXPECT_EQ(call(BI_CLOSE, {w}), T);  // closed while hidden: its cells go with it
}

// Two threads at one window: a started thread hides and shows it, resizes
// and moves it and saves and restores the screen under it, while the
// first writes into it, places its cursor, reads its size and saves and
// restores too.  The record's fields, its saved screen and a hidden
// window's own cells change under the console lock only, so nothing is
// used after it was dropped or freed twice (the sanitizer builds watch
// this), and the window works as before afterwards.
struct Reshaper {
  uint32_t rounds = 0;
  std::atomic<bool> done{false};
};

Value fixnum_pair(int32_t a, int32_t b) {
  Value v = mem_alloc_vector(2);
  heap_set_word(v, 0, make_fixnum(a));
  heap_set_word(v, 1, make_fixnum(b));
  return v;
}

// The window stream is the thread's spare word, read afresh after each
// allocation.
void reshape_window(void* p) {
  Reshaper* r = static_cast<Reshaper*>(p);
  for (uint32_t i = 0; i < r->rounds; i++) {
    window_set_visible(stream_window(zvts->spare), i % 3 != 0);
    Value size = fixnum_pair(2 + int32_t(i % 3), 4 + int32_t(i % 5));
    call(BI_RESIZE_WINDOW, {zvts->spare, size});
    Value origin = fixnum_pair(int32_t(i % 4), int32_t(i % 6));
    call(BI_MOVE_WINDOW, {zvts->spare, origin});
    Window* w = stream_window(zvts->spare);
    if (i % 2)
      window_save_screen(w);
    else
      window_restore_screen(w);
  }
  r->done = true;
}

TEST_F(Console, TwoThreadsReshapingAndWritingOneWindowLeaveItWhole) {
  ASSERT_TRUE(threads_init_first());
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({0, 0, 3, 9}), make_fixnum(0x1E)}));
  Reshaper r;
  r.rounds = 5000;
  uint32_t serial = 0;
  ASSERT_NE(thread_start(reshape_window, &r, 512 * 1024, w, &serial), 0u);
  for (uint32_t i = 0; !r.done; i++) {
    stream_write_cstr(w, "text ");
    if (i % 2)
      window_restore_screen(window(w));
    else
      window_save_screen(window(w));
    Value place = vec({1, 1});  // before w is read: the other thread's collections move it
    call(BI_SET_WINDOW_CURSOR, {w, place});
    auto size = pair_of(call(BI_WINDOW_SIZE, {w}));
    EXPECT_TRUE(size.first >= 2 && size.first <= 4 && size.second >= 4 && size.second <= 10) << i;
    safe_point();
  }
  safe_region_enter();
  while (!thread_wait_active_at_most(1, 50)) {
  }
  safe_region_leave();
  threads_end_first();
  call(BI_WINDOW_VISIBLE, {w, T});
  call(BI_MOVE_WINDOW, {w, vec({0, 0})});
  call(BI_RESIZE_WINDOW, {w, vec({2, 6})});
  call(BI_CLEAR_WINDOW, {w});
  stream_write_cstr(w, "whole!");
  EXPECT_EQ(row(0).substr(0, 6), "whole!");
  EXPECT_EQ(pair_of(call(BI_WINDOW_CURSOR, {w})), P(1, 0));
}

TEST_F(Console, ReadingAHiddenWindowShowsIt) {
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({4, 0, 5, 20}), make_fixnum(0x1E)}));
  call(BI_WINDOW_VISIBLE, {w, NIL});
  type("ok");
  enter();
  EXPECT_EQ(stream_read_char(w), 'o');
  EXPECT_EQ(call(BI_WINDOW_VISIBLE, {w}), T);
  EXPECT_EQ(row(4).substr(0, 2), "ok");
}

// WARN shows a hidden window that warnings go to, when the image's pop-up
// switch (bit 16 of the first switch byte, read and set by 471) is on.
TEST_F(Console, WarningsPopUpAHiddenWindowWithTheSwitchOn) {
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({6, 0, 8, 39}), make_fixnum(0x1E)}));
  call(BI_WINDOW_VISIBLE, {w, NIL});
  sym_set_value(FS_ERROR_OUTPUT, w);
  sym_set_value(FS_BREAK_ON_WARNINGS, NIL);
  Value switches = call(BI_SYSTEM_SWITCHES, {});
  ASSERT_TRUE(is_fixnum(switches));
  int32_t first = fixnum_value(switches);
  EXPECT_EQ(call(BI_SYSTEM_SWITCHES, {make_fixnum(0), make_fixnum(first & ~SW_POPUP)}), switches);
  call(BI_WARN, {lisp_string("quietly")});
  EXPECT_EQ(call(BI_WINDOW_VISIBLE, {w}), NIL);
  EXPECT_EQ(row(6).find("quietly"), std::string::npos);
  call(BI_SYSTEM_SWITCHES, {make_fixnum(0), make_fixnum(first | SW_POPUP)});
  call(BI_WARN, {lisp_string("loudly")});
  EXPECT_EQ(call(BI_WINDOW_VISIBLE, {w}), T);
  std::string shown = row(6) + row(7) + row(8);
  EXPECT_NE(shown.find("quietly"), std::string::npos);
  EXPECT_NE(shown.find("loudly"), std::string::npos);
  // Switch bytes: the second one too; anything but 0-255 is refused.
  Value second = call(BI_SYSTEM_SWITCHES, {make_fixnum(1)});
  EXPECT_EQ(call(BI_SYSTEM_SWITCHES, {make_fixnum(1), make_fixnum(0x55)}), second);
  EXPECT_EQ(call(BI_SYSTEM_SWITCHES, {make_fixnum(1), second}), make_fixnum(0x55));
  EXPECT_EQ(TRAP(call(BI_SYSTEM_SWITCHES, {make_fixnum(0), make_fixnum(256)})), E_TYPE);
  EXPECT_EQ(TRAP(call(BI_SYSTEM_SWITCHES, {make_fixnum(2)})), E_TYPE);
  call(BI_SYSTEM_SWITCHES, {make_fixnum(0), make_fixnum(first)});
  sym_set_value(FS_ERROR_OUTPUT, term());
}

TEST_F(Console, AttributesAndTheCursorShape) {
  Value& w = keep(call(BI_MAKE_WINDOW_STREAM, {vec({0, 0, 1, 1}), make_fixnum(7)}));
  EXPECT_EQ(call(BI_SET_WINDOW_ATTRIBUTE, {w, make_fixnum(-2)}), make_fixnum(7));
  EXPECT_EQ(call(BI_WINDOW_ATTRIBUTE, {w}), make_fixnum(-2));  // sign-extended from 24 bits
  EXPECT_EQ(TRAP(call(BI_SET_WINDOW_ATTRIBUTE, {w, NIL})), E_TYPE);
  dev()->set_cursor_visible(true);
  EXPECT_EQ(call(BI_CURSOR_SHAPE, {NIL}), T);
  EXPECT_FALSE(dev()->cursor_visible());
  EXPECT_EQ(call(BI_CURSOR_SHAPE, {T}), NIL);
  EXPECT_TRUE(dev()->cursor_visible());
  int was = dev()->cursor_size();
  EXPECT_EQ(call(BI_CURSOR_SHAPE, {make_fixnum(40)}), make_fixnum(was));
  EXPECT_EQ(dev()->cursor_size(), 40);
}

TEST_F(Console, TheClipboardHoldsTextWithoutReturns) {
  EXPECT_EQ(text_of(call(BI_CLIPBOARD_TEXT, {})), "");
  EXPECT_EQ(call(BI_CLIPBOARD_COPY, {lisp_string("a\r\nb")}), T);
  EXPECT_EQ(text_of(call(BI_CLIPBOARD_TEXT, {})), "a\nb");
  EXPECT_EQ(TRAP(call(BI_CLIPBOARD_COPY, {make_fixnum(3)})), E_TYPE);
}

// ---------------------------------------------------------------------------
// The line editor

TEST_F(Console, TypingAndEditingALine) {
  console_arm_prompt();
  type("(+ 1 3)");
  press(SC_LEFT);
  press(SC_BACKSPACE, 0, 8);
  type("2");
  press(SC_HOME);
  press(SC_DEL);
  type("(");
  press(SC_END);
  enter();
  EXPECT_EQ(read_line(), "(+ 1 2)");
  EXPECT_EQ(row(0), "> (+ 1 2)");
  EXPECT_EQ(stream_column(term()), 0u);  // the line and its line feed are on the window
}

TEST_F(Console, InsertAndOverwriteShowInTheCursor) {
  type("abc");
  press(SC_HOME);
  press(SC_INS);
  type("X");
  enter();
  EXPECT_EQ(read_line(), "Xbc");
  EXPECT_EQ(dev()->cursor_size(), 40);  // overwrite mode stays until Ins again
  press(SC_INS);
  type("q");
  enter();
  EXPECT_EQ(read_line(), "q");
  EXPECT_EQ(dev()->cursor_size(), 10);
}

TEST_F(Console, WordsSelectionAndTheClipboard) {
  type("(foo bar-baz qux)");
  press(SC_LEFT, KM_CONTROL);            // to qux
  press(SC_LEFT, KM_CONTROL);            // to bar-baz
  press(SC_END, KM_SHIFT);               // select to the end
  press(SC_INS, KM_CONTROL);             // copy
  press(SC_DEL, KM_SHIFT);               // cut
  press(SC_LEFT, KM_CONTROL);            // to foo
  press(SC_INS, KM_SHIFT);               // paste
  enter();
  EXPECT_EQ(read_line(), "(bar-baz qux)foo ");
  uint32_t n;
  const uint8_t* p = clipboard_text(&n);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), n), "bar-baz qux)");
  type("(a bc");
  press(SC_BACKSPACE, KM_CONTROL, 8);  // the word before the cursor
  type("d)");
  enter();
  EXPECT_EQ(read_line(), "(a d)");
}

TEST_F(Console, TheSelectionIsShownInItsOwnAttribute) {
  type("abcd");
  press(SC_LEFT, KM_SHIFT);
  press(SC_LEFT, KM_SHIFT);
  // The keys run out with the line still being edited: the field is left
  // as the editor drew it.
  EXPECT_EQ(stream_read_char(term()), -1);
  EXPECT_EQ(row(0), "abcd");
  EXPECT_EQ(dev()->cell(0, 1).attr, console_window(WIN_TERMINAL)->attribute);
  EXPECT_EQ(dev()->cell(0, 2).attr, 0x17);
  EXPECT_EQ(dev()->cell(0, 3).attr, 0x17);
}

TEST_F(Console, EscClearsTheFieldAndThrowsToTheListener) {
  type("abcd");
  dev()->push_key(KeyEvent{SC_ESC, 27, 0});
  Context cx;
  context_push(&cx, CX_LISTENER_DEBUG);
  volatile int code = setjmp(cx.resume);
  if (code == 0) stream_read_char(term());
  context_pop(&cx);
  EXPECT_EQ(code, TC_CONSOLE);
  EXPECT_EQ(row(0), "");
  type("x");  // the next read starts a fresh line
  enter();
  EXPECT_EQ(read_line(), "x");
}

TEST_F(Console, ShiftTabRemovesOneLevelOfIndentation) {
  type("(let      ");
  press(SC_TAB, KM_SHIFT, 9);
  type("x");
  press(SC_TAB, KM_SHIFT, 9);  // nothing to remove right after a word: refused
  enter();
  EXPECT_EQ(read_line(), "(let    x");
}

TEST_F(Console, ALongLineScrollsInsideItsField) {
  std::string longer(COLS * 3, 'a');
  longer[0] = '(';
  longer.back() = ')';
  type(longer);
  // While editing the field shows the end of the line on one row.
  enter();
  EXPECT_EQ(read_line(), longer);
  EXPECT_EQ(row(0), longer.substr(0, COLS));  // entered, it wraps like any text
  EXPECT_EQ(row(2), longer.substr(2 * COLS));
}

TEST_F(Console, AnEmptyLineIsALineFeed) {
  enter();
  EXPECT_EQ(stream_read_char(term()), '\n');
}

TEST_F(Console, FunctionKeysEndAnEmptyLineAsTheirKeyCodes) {
  press(SC_F1 + 4);  // F5
  EXPECT_EQ(stream_read_char(term()), 0x13D);
  type("x");
  press(SC_F1 + 4);  // refused inside a line
  enter();
  EXPECT_EQ(read_line(), "x");
}

TEST_F(Console, ReadCharTakesKeysOneAtATime) {
  type("q");
  press(SC_UP);
  EXPECT_EQ(call(BI_READ_CHAR, {term()}), make_char('q'));
  Value up = call(BI_READ_CHAR, {term()});
  EXPECT_EQ(char_code(up), 0x46u);
  EXPECT_EQ((up >> 8) & 0xFF, 1u);  // a special key
}

TEST_F(Console, PagingWaitsAfterAScreenfulWhenScrollLockIsOn) {
  type("x");
  enter();
  read_line();
  EXPECT_EQ(console_window(WIN_TERMINAL)->paging, 0);
  type("y");
  press(31, KM_CONTROL, 0x13);  // control-S stands in for Scroll Lock
  enter();
  read_line();
  EXPECT_EQ(console_window(WIN_TERMINAL)->paging, 1);  // counting from the next line
  type("k");  // the key that ends the pause
  for (int k = 0; k < ROWS - 3; k++) stream_write_cstr(term(), "text\n");
  KeyEvent ev;
  EXPECT_TRUE(dev()->key_pending());  // not a screenful yet
  stream_write_cstr(term(), "text\n");
  EXPECT_FALSE(dev()->get_key(&ev));  // the pause took the key
  EXPECT_EQ(console_window(WIN_TERMINAL)->paging, 2);
}

// ---------------------------------------------------------------------------
// History

TEST_F(Console, HistoryRingOlderAndNewerLines) {
  for (const char* l : {"one", "two", "two", "", "three"}) {
    type(l);
    enter();
    read_line();
  }
  // Up: three, two, one (the repeated line and the empty one were not kept).
  press(SC_UP);
  press(SC_UP);
  press(SC_UP);
  press(SC_UP);  // no older line: refused
  press(SC_DOWN);
  enter();
  EXPECT_EQ(read_line(), "two");
  type("typed");
  press(SC_UP);
  press(SC_DOWN);  // back to what was typed
  enter();
  EXPECT_EQ(read_line(), "typed");
  std::vector<uint8_t> e;
  int newest = history_index();
  ASSERT_TRUE(history_entry(newest, &e));
  EXPECT_EQ(std::string(e.begin(), e.end()), "typed");
  ASSERT_TRUE(history_entry(history_older(newest), &e));
  EXPECT_EQ(std::string(e.begin(), e.end()), "two");
  EXPECT_EQ(history_newer(newest), (newest + 19) % 20);
}

TEST_F(Console, HistoryKeepsLinesLongerThanItsSlots) {
  std::string longer(600, 'x');
  history_add(reinterpret_cast<const uint8_t*>(longer.data()), uint32_t(longer.size()));
  int slot = history_index();
  EXPECT_EQ(slot, 19);  // (0 + 19) mod 20
  const uint8_t* bytes = zvm.history + 2 + 256 * slot;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), 255), longer.substr(0, 255));
  EXPECT_EQ(bytes[255], 0);
  std::vector<uint8_t> e;
  ASSERT_TRUE(history_entry(slot, &e));
  EXPECT_EQ(e.size(), 600u);
  // Its slot reused by a short line: the long text goes too.
  for (int i = 0; i < 20; i++) {
    std::string s = "l" + std::to_string(i);
    history_add(reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()));
  }
  Value v = sym_value(FS_CONSOLE_HISTORY);
  ASSERT_TRUE(is_simple_vector(v));
  EXPECT_EQ(heap_word(v, uint32_t(slot)), NIL);
  ASSERT_TRUE(history_entry(slot, &e));
  EXPECT_EQ(std::string(e.begin(), e.end()), "l19");
}

TEST_F(Console, HistoryTravelsWithTheImage) {
  std::string longer(400, 'y');
  history_add(reinterpret_cast<const uint8_t*>("(short)"), 7);
  history_add(reinterpret_cast<const uint8_t*>(longer.data()), uint32_t(longer.size()));
  std::string path = testing::TempDir() + "zorva_history_" + std::to_string(getpid()) + ".ROL";
  ASSERT_EQ(img_write_file(path.c_str()), 0);
  std::memset(zvm.history, 0, sizeof zvm.history);
  mem_free_areas(true, true);
  testing::internal::CaptureStdout();
  int loaded = img_load(path.c_str(), 1);
  testing::internal::GetCapturedStdout();
  std::remove(path.c_str());
  ASSERT_EQ(loaded, IMG_OK);
  std::vector<uint8_t> e;
  int newest = history_index();
  ASSERT_TRUE(history_entry(newest, &e));
  EXPECT_EQ(std::string(e.begin(), e.end()), longer);
  ASSERT_TRUE(history_entry(history_older(newest), &e));
  EXPECT_EQ(std::string(e.begin(), e.end()), "(short)");
}

// ---------------------------------------------------------------------------
// Completion and help through the functions of symbols 0x90 and 0x8F

Value read_string(const std::string& s) {
  Value str = lisp_string(s);
  root_push(&str);
  Value in = make_string_input_stream(str, 0, uint32_t(s.size()));
  root_pop();
  return read_from(in, true, NIL, false);
}

TEST_F(Console, TabReplacesTheWordByWhatTheCompletionReturns) {
  sym_set_function(0x90, bi_value(BI_STRING_UPCASE));  // STRING-UPCASE stands in for completion
  type("(car abc)");
  press(SC_LEFT);
  press(SC_LEFT);
  press(SC_TAB, 0, 9);
  type("d");
  enter();
  EXPECT_EQ(read_line(), "(car ABCd)");
}

TEST_F(Console, F1CallsHelpWithTheSymbolAtTheCursorAndRestoresTheStatusLine) {
  Value f = read_string("(lambda (&optional (x 'none)) (setq zz-help x))");
  sym_set_function(0x8F, f);
  stream_write_cstr(sym_value(FS_STATUS_STREAM), "before");
  type("(car xyz)");
  press(SC_LEFT, KM_CONTROL);
  press(SC_F1);
  enter();
  EXPECT_EQ(read_line(), "(car xyz)");
  Value zz = read_string("zz-help");
  Value got = sym_value(symbol_index(zz));
  ASSERT_TRUE(is_symbol(got));
  EXPECT_EQ(text_of(sym_name(symbol_index(got))), "XYZ");
  EXPECT_EQ(row(ROWS - 1).substr(0, 6), "before");
  // On an empty line: the general help, with no argument.
  press(SC_F1);
  enter();
  read_line();
  got = sym_value(symbol_index(zz));
  EXPECT_EQ(text_of(sym_name(symbol_index(got))), "NONE");
}

}  // namespace
