// The console in line mode: standard input and output stand in for the
// keyboard and the screen.
#include "io/console.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "eval/errors.h"
#include "eval/thread.h"
#include "io/stream.h"
#include "text/reader.h"

namespace {

constexpr uint32_t SYM_PROMPT = 0xCB;
constexpr uint32_t E_BAD_PROMPT = 0x104D;  // 4173

// Code points of 1251 codes 0x80-0xFF (0x98 has none and keeps its code).
const uint16_t high_1251[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  //
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  //
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  //
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  //
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  //
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  //
};

struct Console {
  bool started = false;
  bool input_echoed = false;  // a terminal echoes what is typed
  Window windows[4] = {};
  uint32_t handles[4] = {};
  int lookahead[4] = {};  // raw input bytes given back by the decoder
  int nlookahead = 0;
};
Console con;

thread_local bool prompt_armed = false;

void init_window(Window* w, WindowRole role, int row, int col, int rows, int cols, uint32_t attr) {
  *w = Window{};
  w->role = role;
  w->row = int16_t(row);
  w->column = int16_t(col);
  w->rows = int16_t(rows);
  w->columns = int16_t(cols);
  w->attribute = attr;
}

bool silent(const Window* w) { return w->role == WIN_STATUS || w->role == WIN_INDICATOR; }

// ---------------------------------------------------------------------------
// Input: UTF-8 from standard input, decoded to 1251

int raw_byte() {
  if (con.nlookahead) return con.lookahead[--con.nlookahead];
  return std::getchar();
}
void raw_unget(int b) {
  if (b != EOF && con.nlookahead < 4) con.lookahead[con.nlookahead++] = b;
}

// One character of input, or -1 at the end.  A byte that does not start
// a well-formed UTF-8 sequence is taken as a 1251 code, so input already
// in 1251 passes unchanged.
int input_char() {
  int b = raw_byte();
  if (b == EOF) return -1;
  if (b < 0x80) return b;
  int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : 0;
  if (more == 0 || b > 0xF4) return b;
  uint32_t u = uint32_t(b) & (0x3F >> more);
  int taken[3];
  for (int i = 0; i < more; i++) {
    taken[i] = raw_byte();
    if (taken[i] == EOF || (taken[i] & 0xC0) != 0x80) {
      for (int j = i; j >= 0; j--) raw_unget(taken[j]);
      return b;
    }
    u = (u << 6) | (uint32_t(taken[i]) & 0x3F);
  }
  int c = cp1251_of_unicode(u);
  return c < 0 ? '?' : c;
}

// Fill w->line with the next input line (line feed included when there is
// one).  False at the end of input with nothing read.
bool read_line(Window* w) {
  std::fflush(stdout);
  uint32_t n = 0;
  int c = 0;
  while (n < WINDOW_LINE_BYTES - 1 && (c = input_char()) >= 0) {
    if (c == '\n' && n > 0 && w->line[n - 1] == '\r') n--;  // CR LF counts as one line end
    w->line[n++] = uint8_t(c);
    if (c == '\n') break;
  }
  w->line[n] = 0;
  w->line_length = uint16_t(n);
  w->read_index = 0;
  if (n == 0) return false;
  if (con.input_echoed && w->line[n - 1] == '\n') w->cursor_column = 0;
  return true;
}

// ---------------------------------------------------------------------------
// Output

void put_utf8(uint8_t c) {
  char buf[4];
  uint32_t n = utf8_from_1251(c, buf);
  std::fwrite(buf, 1, n, stdout);
}

void write_text(Window* w, const uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) window_write_char(w, p[i]);
}

void fresh_line(Window* w) {
  if (w->cursor_column != 0) window_write_char(w, '\n');
}

// The prompt value: a character, a string or a symbol's name.
void show_prompt(Window* w) {
  Value p = sym_value(SYM_PROMPT);
  if (nil_p(p) || is_no_value(p)) return;
  if (tag_of(p) == TAG_CHAR) {
    fresh_line(w);
    window_write_char(w, int(p & 0xFF));
    return;
  }
  if (tag_of(p) >= TAG_SYMBOL && tag_of(p) <= TAG_LEXREF) p = sym_name(symbol_index(p));
  if (!is_string(p)) {
    lisp_error(E_BAD_PROMPT, make_symbol(SYM_PROMPT));
    return;
  }
  fresh_line(w);
  // Write from a copy: the string may move while the window writes.
  uint8_t text[WINDOW_LINE_BYTES];
  uint32_t n = string_length(p);
  if (n > sizeof text) n = sizeof text;
  std::memcpy(text, string_bytes(p), n);
  write_text(w, text, n);
}

void show_continuation_prompt(Window* w, uint32_t open) {
  char text[16];
  int n = std::snprintf(text, sizeof text, "%u>", open);
  fresh_line(w);
  write_text(w, reinterpret_cast<const uint8_t*>(text), uint32_t(n));
}

void default_exit(int code) {
  std::fflush(stdout);
  std::exit(code);
}

}  // namespace

void (*console_exit_hook)(int code) = default_exit;

void console_end_of_input(int code) {
  console_exit_hook(code);
  std::exit(code);  // a hook that returns must not resume the read
}

// ---------------------------------------------------------------------------

bool console_status_visible() { return false; }

void console_init() {
  if (con.started) return;
  con.started = true;
  con.input_echoed = isatty(0) && isatty(1);
  uint16_t terminal_attr = hdr_u16(HDR_ATTR_TERMINAL), status_attr = hdr_u16(HDR_ATTR_STATUS);
  init_window(&con.windows[WIN_TERMINAL], WIN_TERMINAL, 0, 0, 24, 80, terminal_attr);
  init_window(&con.windows[WIN_STATUS], WIN_STATUS, 24, 0, 1, 54, status_attr);
  init_window(&con.windows[WIN_INDICATOR], WIN_INDICATOR, 24, 54, 1, 26,
              hdr_u16(HDR_ATTR_INDICATOR));
  for (int r = WIN_TERMINAL; r <= WIN_INDICATOR; r++)
    con.handles[r] = handle_add_window(&con.windows[r]);
}

Window* console_window(WindowRole role) {
  console_init();
  return role == WIN_USER ? nullptr : &con.windows[role];
}

void console_attach_standard_windows() {
  console_init();
  const struct {
    uint32_t sym;
    WindowRole role;
  } standard[] = {{STREAM_SYM_TERMINAL, WIN_TERMINAL},
                  {STREAM_SYM_STATUS_WINDOW, WIN_STATUS},
                  {STREAM_SYM_INDICATOR_WINDOW, WIN_INDICATOR}};
  for (const auto& s : standard) {
    Value stream = sym_value(s.sym);
    if (is_window_stream(stream)) heap_set_word(stream, 2, con.handles[s.role]);
  }
}

void console_set_char_mode(bool) {}

void console_arm_prompt() { prompt_armed = true; }

// ---------------------------------------------------------------------------
// Window operations

int window_read_char(Window* w) {
  if (w->pushed_back) {
    int c = w->pushed_back - 1;
    w->pushed_back = 0;
    return c;
  }
  if (w->read_index < w->line_length) return w->line[w->read_index++];
  if (prompt_armed) {
    prompt_armed = false;
    show_prompt(w);
  } else if (uint32_t open = reader_open_parens()) {
    show_continuation_prompt(w, open);
  }
  if (!read_line(w)) {
    if (zvts && zvts->break_level > 0) console_end_of_input(1);
    return -1;
  }
  return w->line[w->read_index++];
}

void window_unread_char(Window* w, int c) {
  if (c < 0) return;
  // Stepping back over the line keeps a second put-back possible.
  if (!w->pushed_back && w->read_index > 0 && w->line[w->read_index - 1] == c)
    w->read_index--;
  else
    w->pushed_back = int16_t(c + 1);
}

void window_write_char(Window* w, int c) {
  uint8_t b = uint8_t(c);
  if (b == '\n')
    w->cursor_column = 0;
  else if (w->cursor_column < INT16_MAX)
    w->cursor_column++;
  if (silent(w)) return;
  put_utf8(b);
}

uint32_t window_column(Window* w) { return uint32_t(w->cursor_column); }

uint32_t window_width(Window* w) { return w->columns > 0 ? uint32_t(w->columns) : 80; }

bool window_listen(Window* w) { return w->pushed_back || w->read_index < w->line_length; }

int window_read_char_no_hang(Window* w) { return window_listen(w) ? window_read_char(w) : -2; }

void window_clear_input(Window* w) {
  w->pushed_back = 0;
  w->read_index = w->line_length;
}

// ---------------------------------------------------------------------------
// Code page 1251 and Unicode

uint32_t unicode_of_1251(uint8_t c) {
  if (c < 0x80) return c;
  return c >= 0xC0 ? 0x410 + (c - 0xC0) : high_1251[c - 0x80];
}

int cp1251_of_unicode(uint32_t u) {
  if (u < 0x80) return int(u);
  if (u >= 0x410 && u <= 0x44F) return int(u - 0x410 + 0xC0);
  for (int i = 0; i < 64; i++)
    if (high_1251[i] == u) return 0x80 + i;
  return -1;
}

uint32_t utf8_from_1251(uint8_t c, char* out) {
  uint32_t u = unicode_of_1251(c);
  if (u < 0x80) {
    out[0] = char(u);
    return 1;
  }
  if (u < 0x800) {
    out[0] = char(0xC0 | (u >> 6));
    out[1] = char(0x80 | (u & 0x3F));
    return 2;
  }
  out[0] = char(0xE0 | (u >> 12));
  out[1] = char(0x80 | ((u >> 6) & 0x3F));
  out[2] = char(0x80 | (u & 0x3F));
  return 3;
}
