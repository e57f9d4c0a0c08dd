// The line editor.
#include "io/line_editor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "object/thread.h"
#include "io/history.h"
#include "object/chartab.h"

bool window_line_reserve(Window* w, uint32_t n) {
  if (n <= w->line_capacity) return true;
  uint32_t cap = std::max(n, w->line_capacity * 2 + 64);
  void* p = std::realloc(w->line, cap);
  if (!p) return false;
  w->line = static_cast<uint8_t*>(p);
  w->line_capacity = cap;
  return true;
}

namespace {

constexpr uint16_t kSelectionAttr = 0x17;
constexpr int kInsertCursor = 10, kOverwriteCursor = 40;
constexpr uint32_t kIndent = 2;  // one level of indentation for shift-Tab

// The state of the one line being edited.  Only one window reads from the
// keyboard at a time.
struct EditState {
  int row = 0, col = 0, width = 1;  // the field, in screen cells
  uint32_t pos = 0;                 // cursor index in the line
  uint32_t scroll = 0;              // first index shown
  int64_t anchor = -1;              // selection anchor, -1 for none
  int hist = -1;                    // history slot shown, -1 when not browsing
  std::vector<uint8_t> typed;       // the line as typed before browsing
  std::vector<uint8_t> scratch;
  bool overwrite = false;
};
EditState es;

ConsoleDevice* dev() { return console_device(); }

bool delimiter(uint8_t c) { return char_role(c) == CA_DELIMITER; }

bool has_selection() { return es.anchor >= 0 && uint32_t(es.anchor) != es.pos; }
uint32_t sel_start() { return std::min(uint32_t(es.anchor), es.pos); }
uint32_t sel_end() { return std::max(uint32_t(es.anchor), es.pos); }

// Keep the cursor inside the field, moving by a quarter of it at a time
// so that a few more keys do not scroll again.
void keep_cursor_visible() {
  uint32_t width = uint32_t(es.width);
  uint32_t step = std::max<uint32_t>(1, width / 4);
  if (es.pos < es.scroll) es.scroll = es.pos > step ? es.pos - step : 0;
  if (es.pos >= es.scroll + width) es.scroll = es.pos - width + std::min(step, width - 1) + 1;
  if (es.pos < es.scroll) es.scroll = es.pos;
}

void draw(Window* w) {
  keep_cursor_visible();
  std::vector<Cell> cells(size_t(es.width));
  bool sel = has_selection();
  for (int i = 0; i < es.width; i++) {
    uint32_t at = es.scroll + uint32_t(i);
    uint8_t c = at < w->line_length ? w->line[at] : ' ';
    if (c < 32) c = ' ';  // tabs and line feeds of a paste show as blanks
    uint16_t attr = sel && at >= sel_start() && at < sel_end() ? kSelectionAttr : uint16_t(w->attribute);
    cells[size_t(i)] = Cell{c, attr};
  }
  dev()->write_cells(Rect{es.row, es.col, es.row, es.col + es.width - 1}, cells.data());
  dev()->set_cursor_absolute(es.row, es.col + int(es.pos - es.scroll));
  dev()->set_cursor_size(es.overwrite ? kOverwriteCursor : kInsertCursor);
  dev()->set_cursor_visible(true);
}

void remove_range(Window* w, uint32_t start, uint32_t end) {
  if (end > w->line_length) end = w->line_length;
  if (start >= end) return;
  std::memmove(w->line + start, w->line + end, w->line_length - end);
  w->line_length -= end - start;
  if (es.pos >= end)
    es.pos -= end - start;
  else if (es.pos > start)
    es.pos = start;
  es.anchor = -1;
}

bool delete_selection(Window* w) {
  if (!has_selection()) {
    es.anchor = -1;
    return false;
  }
  remove_range(w, sel_start(), sel_end());
  return true;
}

void insert_bytes(Window* w, const uint8_t* p, uint32_t n) {
  if (n == 0) return;
  if (!window_line_reserve(w, w->line_length + n)) {
    dev()->beep();
    return;
  }
  std::memmove(w->line + es.pos + n, w->line + es.pos, w->line_length - es.pos);
  std::memcpy(w->line + es.pos, p, n);
  w->line_length += n;
  es.pos += n;
}

void type_char(Window* w, uint8_t c) {
  delete_selection(w);
  if (es.overwrite && es.pos < w->line_length) {
    w->line[es.pos++] = c;
    return;
  }
  insert_bytes(w, &c, 1);
}

void set_line(Window* w, const std::vector<uint8_t>& text) {
  w->line_length = 0;
  if (!window_line_reserve(w, uint32_t(text.size()))) return;
  if (!text.empty()) std::memcpy(w->line, text.data(), text.size());
  w->line_length = uint32_t(text.size());
  es.pos = w->line_length;
  es.anchor = -1;
  es.scroll = 0;
}

void history_up(Window* w) {
  int slot = es.hist < 0 ? history_index() : history_older(es.hist);
  if (es.hist >= 0 && slot == history_index()) {  // the ring is done
    dev()->beep();
    return;
  }
  if (!history_entry(slot, &es.scratch)) {
    dev()->beep();
    return;
  }
  if (es.hist < 0) es.typed.assign(w->line, w->line + w->line_length);
  es.hist = slot;
  set_line(w, es.scratch);
}

void history_down(Window* w) {
  if (es.hist < 0) {
    dev()->beep();
    return;
  }
  if (es.hist == history_index()) {
    es.hist = -1;
    set_line(w, es.typed);
    return;
  }
  es.hist = history_newer(es.hist);
  history_entry(es.hist, &es.scratch);
  set_line(w, es.scratch);
}

uint32_t word_left(Window* w, uint32_t j) {
  while (j > 0 && delimiter(w->line[j - 1])) j--;
  while (j > 0 && !delimiter(w->line[j - 1])) j--;
  return j;
}

uint32_t word_right(Window* w, uint32_t j) {
  while (j < w->line_length && !delimiter(w->line[j])) j++;
  while (j < w->line_length && delimiter(w->line[j])) j++;
  return j;
}

// Move the cursor; with `extend` the selection grows from where it was.
void move_to(uint32_t to, bool extend) {
  if (extend) {
    if (es.anchor < 0) es.anchor = es.pos;
  } else {
    es.anchor = -1;
  }
  es.pos = to;
}

void copy_selection(Window* w) {
  if (!has_selection()) {
    dev()->beep();
    return;
  }
  clipboard_set(w->line + sel_start(), sel_end() - sel_start());
}

void paste(Window* w) {
  uint32_t n;
  const uint8_t* p = clipboard_text(&n);
  delete_selection(w);
  // Copied: the clipboard is not touched while inserting, but keep the
  // editor independent of where it lives.
  std::vector<uint8_t> text;
  for (uint32_t i = 0; i < n; i++)
    if (p[i] >= 32 || p[i] == '\t' || p[i] == '\n') text.push_back(p[i]);
  if (!text.empty()) insert_bytes(w, text.data(), uint32_t(text.size()));
}

void unindent(Window* w) {
  uint32_t k = 0;
  while (k < es.pos && k < kIndent && w->line[es.pos - 1 - k] == ' ') k++;
  if (k == 0) {
    dev()->beep();
    return;
  }
  es.anchor = -1;
  remove_range(w, es.pos - k, es.pos);
}

bool function_key(uint16_t key) {
  uint16_t base = key & KC_CHAR_MASK;
  return (base >= KC_F1 && base <= 0x144) || key == (KC_CONTROL | KC_PGUP) ||
         key == (KC_CONTROL | KC_PGDN);
}

// While a break loop, the debugger or the stepper reads (the listener
// flag is set), the keys that move through the frames end an empty line
// too, and are read as they are.
bool frame_key(uint16_t key) {
  switch (key) {
    case KC_PGUP:
    case KC_PGDN:
    case KC_HOME:
    case KC_END:
    case KC_CONTROL | KC_HOME:
    case KC_CONTROL | KC_END:
    case KC_CONTROL | 'W':
      return zvts && zvts->listener_flag;
    default:
      return false;
  }
}

}  // namespace

bool edit_overwrite() { return es.overwrite; }

void edit_begin(Window* w) {
  window_activate(w);
  ConsoleDevice* d = dev();
  const Rect& v = d->viewport();
  // A cursor left below the window (after a line feed on its last row)
  // takes the last row, scrolling; too little room after the prompt starts
  // the field on a line of its own.
  if (d->cursor_abs_col() > v.right - 7 && v.rows() > 1) window_write_char(w, '\n');
  window_activate(w);
  if (d->cursor_abs_row() > v.bottom) {
    d->scroll_viewport(-1);
    d->set_cursor_absolute(v.bottom, d->cursor_abs_col());
  }
  es.row = d->cursor_abs_row();
  es.col = std::min(d->cursor_abs_col(), v.right);
  es.width = std::max(1, v.right - es.col + 1);
  es.pos = es.scroll = 0;
  es.anchor = -1;
  es.hist = -1;
  es.typed.clear();
  w->line_length = 0;
  w->read_index = 0;
  draw(w);
}

void edit_redraw(Window* w, int shift) {
  es.row -= shift;
  window_activate(w);
  const Rect& v = dev()->viewport();
  if (es.row < v.top) es.row = v.top;
  if (es.row > v.bottom) es.row = v.bottom;
  if (es.col > v.right) es.col = v.right;
  es.width = std::max(1, v.right - es.col + 1);
  draw(w);
}

void edit_clear(Window* w) {
  w->line_length = 0;
  es.pos = es.scroll = 0;
  es.anchor = -1;
  es.hist = -1;
  draw(w);
}

bool edit_word(Window* w, uint32_t* start, uint32_t* end) {
  uint32_t s = es.pos, e = es.pos;
  while (s > 0 && !delimiter(w->line[s - 1])) s--;
  while (e < w->line_length && !delimiter(w->line[e])) e++;
  *start = s;
  *end = e;
  return s < e;
}

void edit_replace(Window* w, uint32_t start, uint32_t end, const uint8_t* p, uint32_t n) {
  es.anchor = -1;
  es.pos = std::min(end, w->line_length);
  remove_range(w, start, end);
  es.pos = start;
  insert_bytes(w, p, n);
  draw(w);
}

void edit_finish(Window* w) {
  es.anchor = -1;
  es.scroll = 0;
  window_activate(w);
  dev()->set_cursor_absolute(es.row, es.col);
  dev()->set_cursor_visible(false);
  w->cursor_row = int16_t(es.row - w->row);
  w->cursor_column = int16_t(es.col - w->column);
}

EditResult edit_key(Window* w, uint16_t key, bool pasted, uint16_t* end) {
  *end = key;
  bool shift = key & KC_SHIFT;
  uint16_t plain = key & uint16_t(~KC_SHIFT);
  if (pasted && key == KC_TAB) {
    type_char(w, '\t');
  } else if (key < 0x100 && key >= 32 && key != 127) {
    type_char(w, uint8_t(key));
  } else {
    switch (key) {
      case KC_ENTER:
      case KC_TAB:
      case KC_F1:
        draw(w);
        return EDIT_END;
      case KC_ESC:
        edit_clear(w);
        return EDIT_CANCEL;
      case KC_BACKSPACE:
        if (!delete_selection(w)) {
          if (es.pos > 0)
            remove_range(w, es.pos - 1, es.pos);
          else
            dev()->beep();
        }
        break;
      case KC_DEL:
        if (!delete_selection(w)) {
          if (es.pos < w->line_length)
            remove_range(w, es.pos, es.pos + 1);
          else
            dev()->beep();
        }
        break;
      case KC_CONTROL | KC_BACKSPACE:
      case KC_META | KC_BACKSPACE:
        if (!delete_selection(w)) remove_range(w, word_left(w, es.pos), es.pos);
        break;
      case KC_UP:
        history_up(w);
        break;
      case KC_DOWN:
        history_down(w);
        break;
      case KC_INS:
        es.overwrite = !es.overwrite;
        break;
      case KC_CONTROL | KC_LEFT:
        move_to(word_left(w, es.pos), false);
        break;
      case KC_CONTROL | KC_RIGHT:
        move_to(word_right(w, es.pos), false);
        break;
      case KC_CONTROL | KC_INS:
        copy_selection(w);
        break;
      case KC_SHIFT | KC_INS:
        paste(w);
        break;
      case KC_SHIFT | KC_DEL:
        if (has_selection()) {
          copy_selection(w);
          delete_selection(w);
        } else {
          dev()->beep();
        }
        break;
      case KC_SHIFT_TAB:
        unindent(w);
        break;
      case KC_META | KC_F4:
        return EDIT_LEAVE;
      case KC_CONTROL | KC_META | KC_HOME:
        return EDIT_ABORT;
      default:
        if (w->line_length == 0 && frame_key(key)) return EDIT_END;
        switch (plain) {
          case KC_LEFT:
            move_to(es.pos > 0 ? es.pos - 1 : 0, shift);
            break;
          case KC_RIGHT:
            move_to(es.pos < w->line_length ? es.pos + 1 : es.pos, shift);
            break;
          case KC_HOME:
            move_to(0, shift);
            break;
          case KC_END:
            move_to(w->line_length, shift);
            break;
          default:
            if (function_key(key) && w->line_length == 0) return EDIT_END;
            dev()->beep();
        }
    }
  }
  draw(w);
  return EDIT_CONTINUE;
}
