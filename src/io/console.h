// The console: window records on the console device, the three standard
// windows, and what window streams do with characters.
//
// Window streams hand every character operation to the window record they
// own.  The device behind the windows is chosen at start-up
// (console_choose): a terminal, the line mode, or memory for tests.  On a
// terminal, reading a window runs the line editor (io/line_editor.h); in
// line mode the terminal window reads lines from standard input and writes
// plain text to standard output, other windows write there too, and the
// status and indicator windows stay silent.  Text is code page 1251
// inside the system and UTF-8 outside.
#pragma once

#include <cstdint>

#include "io/console_device.h"
#include "io/keyboard.h"
#include "object/value.h"

// Which of the standard windows a record is; user windows are WIN_USER.
enum WindowRole : uint8_t { WIN_USER, WIN_TERMINAL, WIN_STATUS, WIN_INDICATOR };

// A window record.  The input line grows as needed (the status window
// keeps its message text there); the saved screen holds the cells under
// the window between a save and a restore.
struct Window {
  int16_t row, column;  // top left screen cell
  int16_t rows, columns;
  uint32_t attribute;  // console attribute of the window's text
  int16_t cursor_row, cursor_column;
  uint32_t read_index;  // next character of `line` to hand out
  int32_t pushed_back;  // 0 when none; else the code + 1 (NUL and key codes can be pushed)
  uint8_t* line;        // the current input line (not terminated: it may hold NULs)
  uint32_t line_length, line_capacity;
  Cell* saved_screen;
  int16_t saved_rows, saved_columns;
  int16_t paging;  // lines written since the last pause; 0: no paging
  WindowRole role;
  // A hidden window keeps its cells off the screen, in a device of its own
  // size, and is written there (on a screen only: in line mode the flag
  // alone is kept).  Shown again it covers the screen, and keeps what it
  // covers in `beneath` to put back when it hides.
  bool hidden;
  bool drawn;  // written or cleared since it was made: hiding keeps its cells
  ConsoleDevice* hidden_cells;
  Cell* beneath;
  Rect beneath_rect;
};

// Room for n bytes in w->line (the buffer at least doubles when it grows);
// false when memory runs out.
bool window_line_reserve(Window* w, uint32_t n);

// Which back end console_init makes.
enum ConsoleChoice : uint8_t {
  CONSOLE_AUTO,    // terminal when standard input and output are one, else line mode
  CONSOLE_LINE,    // line mode whatever standard input and output are
  CONSOLE_MEMORY,  // a screen in memory (tests)
};

// The environment variable that forces line mode at a terminal.
constexpr const char* CONSOLE_LINE_MODE_ENV = "ZORVA_LINE_MODE";

// Choose the back end before console_init; later calls change nothing.
// CONSOLE_AUTO takes the terminal when standard input and output are both
// terminals, TERM is set and not "dumb", and ZORVA_LINE_MODE is unset or
// empty.
void console_choose(ConsoleChoice c);
// Start the console (idempotent): the device, and the standard windows laid
// out on it.  A terminal goes to its private screen here.
void console_init();
// Give the terminal back as it was found (idempotent).  Exit paths call it;
// it is also registered to run at exit.
void console_shutdown();

// Around a program that runs with the terminal (442 and the editor of
// 443): the terminal's own screen and modes while it runs, the console's
// screen redrawn afterwards.  Nothing in line mode or in memory.
void console_hand_over();
void console_take_back();

// Tests: start again on another back end (a memory screen of the given
// size, or line mode), with the standard windows fresh.
void console_restart(ConsoleChoice c, int rows = 25, int cols = 80);

ConsoleDevice* console_device();

// The console lock (console_lock, console_unlock: io/console_device.h)
// is held by each operation on the device.
bool console_is_screen();  // cells are seen: a terminal or memory

// Whether the status window is shown: on a screen, with the status-window
// switch of the image header on.  Without it, the notices meant for the
// status window (the break banner, status prompts) go to the terminal.
bool console_status_visible();

// The standard windows and their streams.
Window* console_window(WindowRole role);
// Store the terminal, status and indicator windows into the stream objects
// held by symbols 210, 208 and 209 (word 2 of each).  Called after every
// image load: the loader clears that word.
void console_attach_standard_windows();
// Lay the standard windows out for a screen of this size: the terminal
// window all rows but the last, the status and indicator windows on the
// last row, the indicator the last 26 columns.
void console_layout_standard_windows(int rows, int cols);

// Window records of window streams made from Lisp.  window_new returns a
// record with its cursor at 0,0; window_free releases it and its saved
// screen.
Window* window_new(int row, int col, int rows, int cols, uint32_t attribute);
void window_free(Window* w);

// Window character operations (window streams call these).
int window_read_char(Window* w);  // a character, a key code (0x100 up), or -1 at end of input
void window_unread_char(Window* w, int c);
// c: the character in bits 0-7; a non-zero font in bits 16-23 is the
// attribute of that one character.
void window_write_char(Window* w, int c);
void window_write_text(Window* w, const uint8_t* p, uint32_t n);
// Without paging pauses (nothing waits): for what the console writes of
// its own, such as prompts and the echo of a line, possibly under the
// console lock.
void window_write_unpaged(Window* w, const uint8_t* p, uint32_t n);
uint32_t window_column(Window* w);
// The right margin the printer uses on the window: none in line mode,
// where values print exactly as into a string.
uint32_t window_width(Window* w);
bool window_listen(Window* w);            // a character is pending
int window_read_char_no_hang(Window* w);  // -2 when nothing is pending
void window_clear_input(Window* w);
// Drop what is left of the line typed at the terminal window (the keys
// typed ahead stay): after an error, the rest of the line that caused it.
void console_drop_line();

// The window operations of the window built-ins.
void window_activate(Window* w);   // viewport, attribute, cursor of w on the device
void window_forget_current();      // the next write re-activates its window
void window_clear(Window* w);      // spaces in its attribute; cursor to 0,0
void window_place_cursor(Window* w);  // the device cursor at the window's cursor
// Hide a user window, or show a hidden one; false for hiding a standard
// window, which is always shown.  Reading a hidden window shows it.
bool window_set_visible(Window* w, bool visible);
// After a change of a window's size: a hidden window's cells follow it,
// and what a shown one covers is forgotten (as a saved screen is).
void window_resized(Window* w);
// WARN's pop-up: shows the stream's window when it is a hidden window
// stream; false for anything else.
bool console_pop_up(Value stream);
bool window_save_screen(Window* w);   // false when there already is one
bool window_restore_screen(Window* w);  // false when there is none

// Single-character mode: READ-CHAR takes one key at a time, without line
// editing.  Returns the previous state.
bool console_set_char_mode(bool on);

// The prompt (symbol 0xCB) is printed once, by the next window read that
// needs a new line, after the driver has armed it.
void console_arm_prompt();

// Show status message n (formatted with its arguments) in the status
// window, replacing what it showed; with the status window hidden, in the
// terminal window.  status_save/status_restore keep what it showed around
// a message.
void console_status_message(uint32_t code, Value a = NIL);
void console_status_save();
void console_status_restore();

// The internal clipboard, shared by the line editor and built-ins 448 and
// 449.  A copy also goes to the terminal (OSC 52).
void clipboard_set(const uint8_t* p, uint32_t n);
const uint8_t* clipboard_text(uint32_t* n);
