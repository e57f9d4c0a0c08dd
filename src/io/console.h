// The console: window records and the device they are drawn on.
//
// Window streams hand every character operation to the window record they
// own.  This back end is the line mode: the terminal window reads lines
// from standard input and writes plain text to standard output, other
// windows write there too, and the status and indicator windows stay
// silent.  Text is code page 1251 inside the system and UTF-8 outside.
// A screen back end implements the same operations.
#pragma once

#include <cstdint>

#include "object/value.h"

constexpr uint32_t WINDOW_LINE_BYTES = 256;

// Which of the standard windows a record is; user windows are WIN_USER.
enum WindowRole : uint8_t { WIN_USER, WIN_TERMINAL, WIN_STATUS, WIN_INDICATOR };

struct Window {
  int16_t row, column;  // top left screen cell
  int16_t rows, columns;
  uint32_t attribute;  // console attribute of the window's text
  int16_t cursor_row, cursor_column;
  int16_t read_index;               // next character of `line` to hand out
  int16_t pushed_back;              // 0 when none; else the code + 1 (NUL can be pushed)
  uint8_t line[WINDOW_LINE_BYTES];  // the current input line, zero-terminated
  uint8_t* saved_screen;
  int16_t paging;
  WindowRole role;
  uint16_t line_length;  // bytes in `line` (it may hold NUL characters)
};

// Start the console (idempotent).  Chooses the back end; only the line
// mode exists so far.
void console_init();

// Whether the status window is shown.  In line mode it is silent, so the
// notices meant for it (the break banner) go to the terminal instead.
bool console_status_visible();

// The standard windows and their streams.
Window* console_window(WindowRole role);
// Store the terminal, status and indicator windows into the stream objects
// held by symbols 210, 208 and 209 (word 2 of each).  Called after every
// image load: the loader clears that word.
void console_attach_standard_windows();

// Window character operations (window streams call these).
int window_read_char(Window* w);  // 0..255, or -1 at end of input
void window_unread_char(Window* w, int c);
void window_write_char(Window* w, int c);
uint32_t window_column(Window* w);
uint32_t window_width(Window* w);
bool window_listen(Window* w);            // a character is pending
int window_read_char_no_hang(Window* w);  // -2 when nothing is pending
void window_clear_input(Window* w);

// Single-character mode: READ-CHAR takes one key at a time.  The line
// mode has no keys, so it only matters to a screen back end.
void console_set_char_mode(bool on);

// The prompt (symbol 0xCB) is printed once, by the next window read that
// needs a new line, after the driver has armed it.
void console_arm_prompt();

// End of standard input.  At break level 0 a read just returns -1 (the
// top level ends the session when it sees that); inside a break loop the
// session ends here with exit code 1, so scripts see the failure.  The
// exit goes through this hook, which program entry may replace to shut
// the world down first; the default flushes and exits.
extern void (*console_exit_hook)(int code);
[[noreturn]] void console_end_of_input(int code);

// Code page 1251 to and from UTF-8, for the text that leaves the system.
// utf8_from_1251 writes 1 to 3 bytes and returns how many; 1251 has no
// character for most code points, and those read as '?'.
uint32_t utf8_from_1251(uint8_t c, char* out);
uint32_t unicode_of_1251(uint8_t c);
int cp1251_of_unicode(uint32_t u);  // -1 when 1251 has no such character
