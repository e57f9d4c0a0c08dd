// The cell buffer, the viewport and cursor rules and the key queue that
// every back end shares.
#include "io/console_device.h"

#include <algorithm>

#include "threads/native.h"

namespace {
NativeMutex& device_mutex() {
  static NativeMutex* m = [] {
    NativeMutex* n = new NativeMutex;
    native_mutex_init(n, true);
    return n;
  }();
  return *m;
}
}  // namespace

void console_lock() { native_mutex_lock(&device_mutex()); }
void console_unlock() { native_mutex_unlock(&device_mutex()); }

ConsoleDevice::ConsoleDevice(Kind kind, int rows, int cols)
    : kind_(kind), rows_(rows > 0 ? rows : 25), cols_(cols > 0 ? cols : 80) {
  cells_.assign(size_t(rows_) * size_t(cols_), Cell{' ', attr_});
  view_ = Rect{0, 0, rows_ - 1, cols_ - 1};
}

void ConsoleDevice::note_change() {
  if (held_)
    held_changes_ = true;
  else
    changed();
}

void ConsoleDevice::hold_changes(bool on) {
  held_ = on;
  if (!on && held_changes_) {
    held_changes_ = false;
    changed();
  }
}

// ---------------------------------------------------------------------------
// Viewport and cursor

void ConsoleDevice::set_viewport(int top, int left, int bottom, int right) {
  view_ = Rect{top, left, std::max(bottom, top), std::max(right, left)};
  cur_row_ = top;
  cur_col_ = left;
}

void ConsoleDevice::set_cursor(int row, int col) {
  cur_row_ = view_.top + row;
  cur_col_ = view_.left + col;
}

void ConsoleDevice::set_cursor_absolute(int row, int col) {
  cur_row_ = row;
  cur_col_ = col;
}

bool ConsoleDevice::set_cursor_visible(bool on) {
  bool was = cursor_visible_;
  cursor_visible_ = on;
  return was;
}

int ConsoleDevice::set_cursor_size(int percent) {
  int was = cursor_size_;
  cursor_size_ = std::clamp(percent, 1, 100);
  return was;
}

// ---------------------------------------------------------------------------
// Cells

Cell ConsoleDevice::cell(int row, int col) const {
  if (!on_screen(row, col)) return Cell{' ', attr_};
  return cells_[size_t(row) * size_t(cols_) + size_t(col)];
}

void ConsoleDevice::set(int row, int col, Cell c) {
  if (on_screen(row, col)) cells_[size_t(row) * size_t(cols_) + size_t(col)] = c;
}

void ConsoleDevice::put_cell(int row, int col, Cell c) {
  set(row, col, c);
  note_change();
}

void ConsoleDevice::fill(const Rect& r, Cell c) {
  fill_cells(r, c);
  note_change();
}

void ConsoleDevice::fill_cells(const Rect& r, Cell c) {
  int top = std::max(r.top, 0), bottom = std::min(r.bottom, rows_ - 1);
  int left = std::max(r.left, 0), right = std::min(r.right, cols_ - 1);
  for (int row = top; row <= bottom; row++)
    for (int col = left; col <= right; col++) cells_[size_t(row) * size_t(cols_) + size_t(col)] = c;
}

void ConsoleDevice::read_cells(const Rect& r, Cell* out) const {
  size_t i = 0;
  for (int row = r.top; row <= r.bottom; row++)
    for (int col = r.left; col <= r.right; col++) out[i++] = cell(row, col);
}

void ConsoleDevice::write_cells(const Rect& r, const Cell* in) {
  size_t i = 0;
  for (int row = r.top; row <= r.bottom; row++)
    for (int col = r.left; col <= r.right; col++) set(row, col, in[i++]);
  note_change();
}

void ConsoleDevice::resize(int rows, int cols) {
  if (rows <= 0 || cols <= 0) return;
  std::vector<Cell> fresh(size_t(rows) * size_t(cols), Cell{' ', attr_});
  for (int row = 0; row < std::min(rows, rows_); row++)
    for (int col = 0; col < std::min(cols, cols_); col++)
      fresh[size_t(row) * size_t(cols) + size_t(col)] =
          cells_[size_t(row) * size_t(cols_) + size_t(col)];
  cells_.swap(fresh);
  rows_ = rows;
  cols_ = cols;
  note_change();
}

// ---------------------------------------------------------------------------
// Clearing, scrolling, writing

void ConsoleDevice::clear_viewport() { fill(view_, blank()); }

// Row `from` of r onto row `to`, within r's columns.
void ConsoleDevice::copy_row(const Rect& r, int from, int to) {
  if (from < 0 || from >= rows_ || to < 0 || to >= rows_) {
    fill_cells(Rect{to, r.left, to, r.right}, blank());
    return;
  }
  int left = std::max(r.left, 0), right = std::min(r.right, cols_ - 1);
  for (int col = left; col <= right; col++)
    cells_[size_t(to) * size_t(cols_) + size_t(col)] = cells_[size_t(from) * size_t(cols_) + size_t(col)];
}

// Rows of r move by n (up when negative); the rows left behind are blank.
void ConsoleDevice::scroll_rect(const Rect& r, int n) {
  int height = r.rows();
  if (n == 0) return;
  if (n >= height || -n >= height) {
    fill_cells(r, blank());
    return;
  }
  if (n < 0) {
    for (int row = r.top; row <= r.bottom + n; row++) copy_row(r, row - n, row);
    fill_cells(Rect{r.bottom + n + 1, r.left, r.bottom, r.right}, blank());
  } else {
    for (int row = r.bottom; row >= r.top + n; row--) copy_row(r, row - n, row);
    fill_cells(Rect{r.top, r.left, r.top + n - 1, r.right}, blank());
  }
}

void ConsoleDevice::scroll_viewport(int n) {
  scroll_rect(view_, n);
  note_change();
}

uint32_t ConsoleDevice::write_text(const uint8_t* p, int64_t n) {
  uint32_t advances = 0;
  bool one_row = view_.rows() == 1;
  bool cut = false;  // in a one-row viewport: the rest of the line is dropped
  for (int64_t i = 0; n < 0 ? p[i] != 0 : i < n; i++) {
    uint8_t c = p[i];
    if (c == '\n') {
      cur_row_++;
      cur_col_ = view_.left;
      advances++;
      cut = false;
      continue;
    }
    if (c == '\r') {
      cur_col_ = view_.left;
      cut = false;
      continue;
    }
    if (c == 7) {
      beep();
      continue;
    }
    if (cut) continue;
    if (cur_col_ > view_.right) {
      // Left one column beyond the edge (a cursor placed there).
      if (one_row) {
        cut = true;
        continue;
      }
      cur_row_++;
      cur_col_ = view_.left;
      advances++;
    }
    if (cur_row_ > view_.bottom) {
      scroll_rect(view_, -1);
      cur_row_ = view_.bottom;
    }
    // A tab is spaces up to the next multiple of eight within the line.
    int repeat = 1;
    if (c == '\t') {
      int col = cur_col_ - view_.left;
      repeat = 8 - col % 8;
      repeat = std::min(repeat, view_.right - cur_col_ + 1);
      c = ' ';
    }
    for (int k = 0; k < repeat; k++) set(cur_row_, cur_col_++, Cell{c, attr_});
    if (cur_col_ > view_.right) {
      if (one_row)
        cut = true;
      else {
        cur_row_++;
        cur_col_ = view_.left;
        advances++;
      }
    }
  }
  note_change();
  return advances;
}

// ---------------------------------------------------------------------------
// Keys

void ConsoleDevice::push_key(const KeyEvent& k) { queue_.push_back(k); }

bool ConsoleDevice::key_pending() {
  if (queue_head_ < queue_.size()) return true;
  read_input(0);
  return queue_head_ < queue_.size();
}

bool ConsoleDevice::get_key(KeyEvent* k) {
  if (!key_pending()) return false;
  *k = queue_[queue_head_++];
  if (queue_head_ == queue_.size()) {
    queue_.clear();
    queue_head_ = 0;
  }
  return true;
}

bool ConsoleDevice::take_key_if(bool (*pick)(const KeyEvent&), KeyEvent* k) {
  read_input(0);
  for (size_t i = queue_head_; i < queue_.size(); i++) {
    if (!pick(queue_[i])) continue;
    *k = queue_[i];
    queue_.erase(queue_.begin() + long(i));
    return true;
  }
  return false;
}

WaitResult ConsoleDevice::wait_key(KeyEvent* k, int timeout_ms) {
  console_lock();
  bool queued = get_key(k);
  if (!queued) present();
  console_unlock();
  if (queued) return WAIT_KEY;
  WaitResult r = read_input(timeout_ms);
  if (r != WAIT_KEY) return r;
  console_lock();
  queued = get_key(k);
  console_unlock();
  return queued ? WAIT_KEY : WAIT_TIMEOUT;
}

void ConsoleDevice::flush_keys() {
  while (read_input(0) == WAIT_KEY && queue_head_ < queue_.size()) {
    queue_.clear();
    queue_head_ = 0;
  }
  queue_.clear();
  queue_head_ = 0;
}

WaitResult ConsoleDevice::read_input(int) { return WAIT_CLOSED; }
