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

// The state of the line a thread edits (each thread its own: a break
// loop of another thread may read lines from the same window meanwhile).
struct EditState {
  Window* w = nullptr;              // the window, null when no edit is under way
  int row = 0, col = 0, width = 1;  // the field, in screen cells
  uint32_t pos = 0;                 // cursor index in the line
  uint32_t scroll = 0;              // first index shown
  int64_t anchor = -1;              // selection anchor, -1 for none
  int hist = -1;                    // history slot shown, -1 when not browsing
  std::vector<uint8_t> typed;       // the line as typed before browsing
  std::vector<uint8_t> scratch;
  std::vector<Cell> prompt;         // the row left of the field: the prompt
  std::vector<uint8_t> line;        // the line as last drawn (the window's buffer is shared)
};
thread_local EditState es;
bool overwrite = false;  // the user's mode, whichever thread edits

// The edit line on the screen: one thread's prompt and field, one row of
// its window.  Under the console lock.  Other threads write their output
// where the prompt began: the row is blanked first and drawn again below
// the output after (edit_lift, edit_put_back), so lines printed while the
// user types appear whole above the prompt and nothing is lost.
struct Shown {
  int32_t owner = -1;  // thread number; -1 when no edit line is shown
  Window* w = nullptr;
  int row = 0;
  std::vector<Cell> cells;  // the row from the window's left edge: prompt and field
  int cursor = 0;           // screen column of the cursor
  // Its own thread has set it aside to run interrupts: that thread's
  // output makes way for it too (edit_step_aside).
  bool aside = false;
};
Shown shown;

int32_t me() { return zvts ? int32_t(zvts->thread_number) : 0; }

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

void blank_row(const Window* w, int row) {
  dev()->fill(Rect{row, w->column, row, w->column + std::max<int>(w->columns, 1) - 1},
              Cell{' ', uint16_t(w->attribute)});
}

void show_cursor(int row, int col) {
  dev()->set_cursor_absolute(row, col);
  dev()->set_cursor_size(overwrite ? kOverwriteCursor : kInsertCursor);
  dev()->set_cursor_visible(true);
  window_forget_current();  // the device's cursor is the field's, not the window's
}

// Under the console lock.
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
  shown.owner = me();
  shown.aside = false;
  shown.w = w;
  shown.row = es.row;
  shown.cells = es.prompt;
  shown.cells.insert(shown.cells.end(), cells.begin(), cells.end());
  shown.cursor = es.col + int(es.pos - es.scroll);
  es.line.assign(w->line, w->line + w->line_length);
  show_cursor(es.row, shown.cursor);
}

// The row where an edit line goes below what the window shows: the
// output cursor's, or the next when a line is begun there (scrolling the
// window up when that is below it).  Under the console lock.
int row_below_output(Window* w) {
  window_activate(w);
  ConsoleDevice* d = dev();
  const Rect& v = d->viewport();
  int row = w->row + w->cursor_row + (w->cursor_column != 0 ? 1 : 0);
  if (row > v.bottom) {
    d->scroll_viewport(v.bottom - row);
    w->cursor_row = int16_t(w->cursor_row - (row - v.bottom));
    row = v.bottom;
  }
  return row;
}

// This thread's edit line on the screen again, its line in the window,
// when another thread's took its place (a break loop read lines here) or
// it was set aside.  Under the console lock.
void claim(Window* w) {
  if (shown.owner == me() && shown.w == w) {
    es.row = shown.row;
    return;
  }
  if (shown.owner >= 0) blank_row(shown.w, shown.row);
  shown.owner = -1;
  uint32_t n = uint32_t(es.line.size());
  if (window_line_reserve(w, n)) {
    if (n) std::memcpy(w->line, es.line.data(), n);
    w->line_length = n;
  }
  w->read_index = 0;
  w->pushed_back = 0;
  es.row = row_below_output(w);
  dev()->write_cells(Rect{es.row, w->column, es.row, w->column + int(es.prompt.size()) - 1}, es.prompt.data());
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
  if (overwrite && es.pos < w->line_length) {
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

bool edit_overwrite() { return overwrite; }

void edit_begin(Window* w) {
  ConsoleLocked lock;
  window_activate(w);
  ConsoleDevice* d = dev();
  const Rect& v = d->viewport();
  // A cursor left below the window (after a line feed on its last row)
  // takes the last row, scrolling; too little room after the prompt starts
  // the field on a line of its own.
  if (d->cursor_abs_col() > v.right - 7 && v.rows() > 1) window_write_unpaged(w, reinterpret_cast<const uint8_t*>("\n"), 1);
  window_activate(w);
  if (d->cursor_abs_row() > v.bottom) {
    d->scroll_viewport(-1);
    d->set_cursor_absolute(v.bottom, d->cursor_abs_col());
  }
  // Another thread's edit line makes way: its thread shows it again when
  // it next has the keyboard.  So does this thread's own line set aside
  // (a read inside an interrupt): it comes back when the interrupt ends.
  if (shown.owner >= 0 && (shown.owner != me() || shown.aside)) blank_row(shown.w, shown.row);
  shown.owner = -1;
  es.w = w;
  es.row = d->cursor_abs_row();
  es.col = std::min(d->cursor_abs_col(), v.right);
  es.width = std::max(1, v.right - es.col + 1);
  es.prompt.assign(size_t(std::max(0, es.col - w->column)), Cell{});
  if (!es.prompt.empty()) d->read_cells(Rect{es.row, w->column, es.row, es.col - 1}, es.prompt.data());
  // What other threads write goes where the prompt begins.
  w->cursor_row = int16_t(es.row - w->row);
  w->cursor_column = 0;
  es.pos = es.scroll = 0;
  es.anchor = -1;
  es.hist = -1;
  es.typed.clear();
  w->line_length = 0;
  w->read_index = 0;
  draw(w);
}

bool edit_reclaim(Window* w) {
  ConsoleLocked lock;
  if (es.w != w || (shown.owner == me() && shown.w == w)) return false;
  claim(w);
  draw(w);
  return true;
}

void edit_redraw(Window* w, int shift) {
  ConsoleLocked lock;
  if (shown.owner == me() && shown.w == w) shown.row -= shift;
  claim(w);
  window_activate(w);
  const Rect& v = dev()->viewport();
  if (es.row < v.top) es.row = v.top;
  if (es.row > v.bottom) es.row = v.bottom;
  if (es.col > v.right) es.col = v.right;
  es.width = std::max(1, v.right - es.col + 1);
  draw(w);
}

void edit_clear(Window* w) {
  ConsoleLocked lock;
  claim(w);
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
  ConsoleLocked lock;
  claim(w);
  es.anchor = -1;
  es.pos = std::min(end, w->line_length);
  remove_range(w, start, end);
  es.pos = start;
  insert_bytes(w, p, n);
  draw(w);
}

void edit_finish(Window* w) {
  ConsoleLocked lock;
  if (shown.owner == me() && shown.w == w) es.row = shown.row;
  if (shown.owner == me()) shown.owner = -1;
  es.w = nullptr;
  es.anchor = -1;
  es.scroll = 0;
  window_activate(w);
  dev()->set_cursor_absolute(es.row, es.col);
  dev()->set_cursor_visible(false);
  w->cursor_row = int16_t(es.row - w->row);
  w->cursor_column = int16_t(es.col - w->column);
}

struct EditKept {
  EditState state;
  bool shown = false;  // on the screen when it was kept
};

EditKept* edit_suspend(Window* w) {
  ConsoleLocked lock;
  if (shown.owner == me() && shown.w == w) es.row = shown.row;
  EditKept* k = new EditKept{es};
  edit_finish(w);
  return k;
}

void edit_resume(Window* w, EditKept* k) {
  ConsoleLocked lock;
  es = k->state;
  delete k;
  // On its row again, whatever was written meanwhile.
  w->cursor_row = int16_t(es.row - w->row);
  w->cursor_column = 0;
  if (shown.owner == me()) shown.owner = -1;
  claim(w);
  draw(w);
}

EditKept* edit_step_aside(Window* w) {
  ConsoleLocked lock;
  bool mine = shown.owner == me() && shown.w == w;
  if (mine) {
    es.row = shown.row;
    shown.aside = true;
  }
  return new EditKept{es, mine};
}

bool edit_step_back(Window* w, EditKept* k) {
  ConsoleLocked lock;
  es = k->state;
  bool was_shown = k->shown;
  delete k;
  if (shown.owner == me() && shown.w == w) {
    // Still the kept line (below whatever the interrupt printed).
    shown.aside = false;
    es.row = shown.row;
    return true;
  }
  // Not on the screen when kept (another thread's break loop had the
  // window), or another thread's line is there now: the line comes back
  // when this thread has the keyboard again (edit_reclaim).
  if (!was_shown || shown.owner >= 0) return false;
  // A line read inside the interrupt took the row: below what was written.
  claim(w);
  draw(w);
  return true;
}

void edit_abandon(Window* w, EditKept* k) {
  ConsoleLocked lock;
  es = k->state;
  delete k;
  if (shown.owner == me() && shown.w == w) {
    es.row = shown.row;
    shown.owner = -1;
    shown.aside = false;
    window_activate(w);
    dev()->set_cursor_visible(false);
    // Output goes on at the start of the next row.
    w->cursor_row = int16_t(es.row - w->row + 1);
    w->cursor_column = 0;
    window_forget_current();
  }
  es.w = nullptr;
  es.anchor = -1;
}

bool edit_lift(Window* w) {
  if (shown.owner < 0 || (shown.owner == me() && !shown.aside) || shown.w != w) return false;
  dev()->hold_changes(true);
  blank_row(w, shown.row);
  return true;
}

void edit_put_back(Window* w) {
  shown.row = row_below_output(w);
  int n = int(shown.cells.size());
  dev()->write_cells(Rect{shown.row, w->column, shown.row, w->column + n - 1}, shown.cells.data());
  show_cursor(shown.row, shown.cursor);
  dev()->hold_changes(false);
}

bool edit_busy(Window* w) {
  ConsoleLocked lock;
  return shown.owner >= 0 && (shown.owner != me() || shown.aside) && shown.w == w;
}

void edit_forget_window(Window* w) {
  ConsoleLocked lock;
  if (shown.w == w) shown.owner = -1;
}

EditResult edit_key(Window* w, uint16_t key, bool pasted, uint16_t* end) {
  ConsoleLocked lock;
  claim(w);
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
        overwrite = !overwrite;
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
