// The console device: a screen buffer of cells (a code page 1251
// character and a 16-bit console attribute), a viewport, a cursor with a
// shape and a visibility, and a queue of key events.  Windows, the line
// editor and the keyboard code are written against these operations only.
//
// The buffer semantics live here once; a back end decides how the buffer
// reaches a screen and where keys come from:
//   memory    no screen; tests read cells and feed key events
//   terminal  a VT/xterm terminal on its alternate screen (io/terminal.h)
//   line      standard input and output as plain lines (io/line_mode.h)
// A back end for the Windows console would present the same buffer with
// its cell-output calls and fill the queue from its input events.
//
// Device operations do not evaluate Lisp, allocate Lisp memory or signal
// errors, so they run to completion and may use the standard library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The console lock, held by each operation on the device, so that the
// device's state (viewport, attribute, cursor, the key queue) belongs to
// one thread at a time.  It nests.  Nothing that may run Lisp, throw or
// wait for input runs under it.
void console_lock();
void console_unlock();
struct ConsoleLocked {
  ConsoleLocked() { console_lock(); }
  ~ConsoleLocked() { console_unlock(); }
  ConsoleLocked(const ConsoleLocked&) = delete;
  ConsoleLocked& operator=(const ConsoleLocked&) = delete;
};

struct Cell {
  uint8_t ch;
  uint16_t attr;
  bool operator==(const Cell& o) const { return ch == o.ch && attr == o.attr; }
  bool operator!=(const Cell& o) const { return !(*this == o); }
};

// Modifier state of a key event.
enum : uint16_t {
  KM_SHIFT = 0x01,
  KM_CONTROL = 0x02,
  KM_META = 0x04,
  KM_NUM_LOCK = 0x08,
  KM_SCROLL_LOCK = 0x10,
  KM_CAPS_LOCK = 0x20,
  KM_PASTED = 0x100,  // part of a bracketed paste: taken as text, never as a command
};

// A key as a PC keyboard reports it: the virtual scan code (the index of
// the key code table, io/keyboard.h), the character the key typed (0 for
// none) and the modifier state.
struct KeyEvent {
  uint16_t scan;
  uint8_t ch;
  uint16_t mods;
};

// Why a wait for a key ended.
enum WaitResult : uint8_t {
  WAIT_KEY,        // *key holds an event
  WAIT_INTERRUPT,  // Control-C: the interrupt flag is set
  WAIT_RESIZE,     // the screen changed size; windows must be laid out again
  WAIT_TIMEOUT,    // nothing within the time asked for
  WAIT_CLOSED,     // the input is gone (end of file, hang-up)
};

struct Rect {
  int top, left, bottom, right;  // inclusive
  int rows() const { return bottom - top + 1; }
  int cols() const { return right - left + 1; }
};

class ConsoleDevice {
 public:
  enum Kind : uint8_t { MEMORY, TERMINAL, LINE };

  ConsoleDevice(Kind kind, int rows, int cols);
  virtual ~ConsoleDevice() = default;
  ConsoleDevice(const ConsoleDevice&) = delete;
  ConsoleDevice& operator=(const ConsoleDevice&) = delete;

  Kind kind() const { return kind_; }
  // Whether cells are ever seen.  In line mode only plain text is.
  bool is_screen() const { return kind_ != LINE; }
  int rows() const { return rows_; }
  int cols() const { return cols_; }

  // Attribute, viewport and cursor.  The cursor is kept relative to the
  // viewport; it may stand one row below or one column right of it, where
  // the next write scrolls or wraps first.
  uint16_t attribute() const { return attr_; }
  void set_attribute(uint16_t a) { attr_ = a; }
  // Also puts the cursor at 0,0.
  void set_viewport(int top, int left, int bottom, int right);
  const Rect& viewport() const { return view_; }
  void set_cursor(int row, int col);
  void set_cursor_absolute(int row, int col);
  int cursor_row() const { return cur_row_ - view_.top; }
  int cursor_col() const { return cur_col_ - view_.left; }
  int cursor_abs_row() const { return cur_row_; }
  int cursor_abs_col() const { return cur_col_; }
  // Both return the previous state.
  bool set_cursor_visible(bool on);
  int set_cursor_size(int percent);
  bool cursor_visible() const { return cursor_visible_; }
  int cursor_size() const { return cursor_size_; }

  // Spaces in the current attribute over the whole viewport.
  void clear_viewport();
  // n < 0 scrolls the viewport up by -n lines, n > 0 down; the vacated
  // lines are spaces in the current attribute.
  void scroll_viewport(int n);
  // Write n characters (n < 0: up to a zero byte) at the cursor with the
  // current attribute, wrapping at the viewport's right edge (cutting in a
  // one-row viewport) and scrolling at its bottom.  Returns the number of
  // line advances.
  uint32_t write_text(const uint8_t* p, int64_t n);

  // Cells by screen coordinates; outside the screen reads as a blank and
  // writes are dropped.
  Cell cell(int row, int col) const;
  void put_cell(int row, int col, Cell c);
  void fill(const Rect& r, Cell c);
  // A rectangle of cells, row by row, to or from `cells` (rows*cols of
  // them).  Parts outside the screen read as blanks and are not written.
  void read_cells(const Rect& r, Cell* cells) const;
  void write_cells(const Rect& r, const Cell* cells);
  // New dimensions: the cells keep their coordinates, what falls outside
  // is dropped and new cells are spaces in the current attribute.
  void resize(int rows, int cols);

  // Keys.  Events queued by push_key come out first, in order.  Only the
  // thread that may take keys (console_keyboard_try, eval/io_locks.h)
  // calls these: the wait reads the input outside the console lock.
  void push_key(const KeyEvent& k);
  bool key_pending();
  bool get_key(KeyEvent* k);  // without waiting
  // Take out the first queued event that `pick` chooses (after reading
  // what input there is, without waiting); false when none.
  bool take_key_if(bool (*pick)(const KeyEvent&), KeyEvent* k);
  // Waits up to timeout_ms (negative: without limit).  The wait itself is
  // not under the console lock, so that a thread waiting for a key does
  // not keep others from writing.
  WaitResult wait_key(KeyEvent* k, int timeout_ms = -1);
  void flush_keys();

  // Back-end services.
  virtual void present() {}  // make the screen show the buffer (takes the console lock)
  virtual void beep() {}
  virtual void clipboard_copy(const uint8_t* text, uint32_t n) {}  // also to the host
  virtual void redraw() {}   // everything, not only what changed
  // Called once after each operation that changed cells; the terminal
  // uses it to show long output while it is being written.
  virtual void changed() {}
  // While on, changes are only noted, and told once it is turned off: the
  // screen never shows the steps of a change made in several (under the
  // console lock).
  void hold_changes(bool on);

 protected:
  // Move input into the queue, waiting up to timeout_ms.  The default has
  // no input: the queue is all there is.
  virtual WaitResult read_input(int timeout_ms);

  // The whole buffer, row-major; back ends compare it with what they have
  // shown.
  const std::vector<Cell>& cells() const { return cells_; }
  Cell blank() const { return Cell{' ', attr_}; }

 private:
  bool on_screen(int row, int col) const {
    return row >= 0 && row < rows_ && col >= 0 && col < cols_;
  }
  void scroll_rect(const Rect& r, int n);
  void fill_cells(const Rect& r, Cell c);
  void set(int row, int col, Cell c);
  void copy_row(const Rect& r, int from, int to);
  void note_change();

  Kind kind_;
  int rows_, cols_;
  std::vector<Cell> cells_;
  Rect view_;
  uint16_t attr_ = 0x07;
  int cur_row_ = 0, cur_col_ = 0;
  bool cursor_visible_ = true;
  int cursor_size_ = 25;
  std::vector<KeyEvent> queue_;
  size_t queue_head_ = 0;
  bool held_ = false, held_changes_ = false;
};

// The memory back end: a screen of the given size that nobody sees.
class MemoryDevice : public ConsoleDevice {
 public:
  MemoryDevice(int rows, int cols) : ConsoleDevice(MEMORY, rows, cols) {}
};
