// Built-ins of the console: window cursor, attribute, size and origin,
// clearing, window streams, the saved screen under a window, the cursor's
// shape, and the clipboard.
//
// A window's record is read and changed under the console lock, as the
// writes to the window read it: another thread's write in progress then
// sees a window moved or resized whole, never between two fields, and the
// saved screen and a hidden window's cells are never dropped under it.
// The lock is taken after the arguments are checked and given up before
// the result is allocated: it is never held across an error or Lisp.
#include <cstdlib>
#include <cstring>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "io/console.h"
#include "io/stream.h"
#include "object/memory.h"
#include "text/strings.h"

namespace {

constexpr int kMaxCoordinate = 32767;  // window records keep 16-bit coordinates

// An open window stream's record; anything else is error 5170 with it.
Window* window_arg(Value s) {
  for (;;) {
    if (is_window_stream(s))
      if (Window* w = stream_window(s)) return w;
    s = lisp_error(E_WRONG_TYPE, s);
  }
}

// A simple vector of n fixnums into out; false when v is not one.
bool fixnums(Value v, uint32_t n, int32_t* out) {
  if (!is_simple_vector(v) || heap_length(v) != n) return false;
  for (uint32_t i = 0; i < n; i++) {
    Value x = heap_word(v, i);
    if (!is_fixnum(x)) return false;
    out[i] = fixnum_value(x);
  }
  return true;
}

Value pair(int32_t a, int32_t b) {
  Value v = mem_alloc_vector(2);
  heap_set_word(v, 0, make_fixnum(a));
  heap_set_word(v, 1, make_fixnum(b));
  return v;
}

}  // namespace

// 343 (window-stream position): the cursor moves only to a position
// inside the window or on its bottom or right border; the console cursor
// follows the window's cursor either way.
Value bi_set_window_cursor(Value s, Value pos) {
  Window* w = window_arg(s);
  int32_t rc[2];
  while (!fixnums(pos, 2, rc)) pos = lisp_error(E_WRONG_TYPE, pos);
  int32_t old_row, old_col;
  {
    ConsoleLocked lock;
    old_row = w->cursor_row;
    old_col = w->cursor_column;
    if (rc[0] >= 0 && rc[0] <= w->rows && rc[1] >= 0 && rc[1] <= w->columns) {
      w->cursor_row = int16_t(rc[0]);
      w->cursor_column = int16_t(rc[1]);
    }
    window_place_cursor(w);
  }
  return pair(old_row, old_col);
}

// 344 (window-stream)
Value bi_window_cursor(Value s, Value) {
  Window* w = window_arg(s);
  int32_t row, col;
  {
    ConsoleLocked lock;
    row = w->cursor_row;
    col = w->cursor_column;
  }
  return pair(row, col);
}

// 345 (x): NIL hides the cursor, a fixnum sets its size in percent (the
// previous size is the result), anything else shows it.
Value bi_cursor_shape(Value x, Value) {
  ConsoleDevice* d = console_device();
  ConsoleLocked lock;
  if (is_fixnum(x)) return make_fixnum(d->set_cursor_size(fixnum_value(x)));
  bool was = d->set_cursor_visible(!nil_p(x));
  d->present();
  return bool_value(was);
}

// 346 (window-stream attribute)
Value bi_set_window_attribute(Value s, Value attr) {
  Window* w = window_arg(s);
  while (!is_fixnum(attr)) attr = lisp_error(E_WRONG_TYPE, attr);
  ConsoleLocked lock;
  int32_t old = int32_t(w->attribute << 8) >> 8;
  w->attribute = uint32_t(fixnum_value(attr));
  window_forget_current();
  return make_fixnum(old);
}

// 347 (window-stream)
Value bi_window_attribute(Value s, Value) {
  Window* w = window_arg(s);
  ConsoleLocked lock;
  return make_fixnum(int32_t(w->attribute << 8) >> 8);
}

// 348 (window-stream)
Value bi_clear_window(Value s, Value) {
  window_clear(window_arg(s));
  console_device()->present();
  return NIL;
}

// 349 (window-stream size): at most the console's size; the saved screen
// is dropped and the cursor kept inside.
Value bi_resize_window(Value s, Value size) {
  Window* w = window_arg(s);
  ConsoleDevice* d = console_device();
  int32_t rc[2];
  while (!fixnums(size, 2, rc) || rc[0] < 0 || rc[1] < 0 || rc[0] > d->rows() ||
         rc[1] > d->cols())
    size = lisp_error(E_WRONG_TYPE, size);
  int32_t old_rows, old_cols;
  {
    ConsoleLocked lock;
    old_rows = w->rows;
    old_cols = w->columns;
    delete[] w->saved_screen;
    w->saved_screen = nullptr;
    w->rows = int16_t(rc[0]);
    w->columns = int16_t(rc[1]);
    if (w->cursor_row > w->rows) w->cursor_row = w->rows;
    if (w->cursor_column >= w->columns) w->cursor_column = int16_t(w->columns > 0 ? w->columns - 1 : 0);
    window_resized(w);
    window_place_cursor(w);
  }
  return pair(old_rows, old_cols);
}

// 350 (window-stream or NIL): NIL is the whole console.
Value bi_window_size(Value s, Value) {
  if (nil_p(s)) {
    ConsoleDevice* d = console_device();
    return pair(d->rows(), d->cols());
  }
  Window* w = window_arg(s);
  int32_t rows, cols;
  {
    ConsoleLocked lock;
    rows = w->rows;
    cols = w->columns;
  }
  return pair(rows, cols);
}

// 351 (window-stream origin): anywhere right of and below the top left
// corner, on the screen or not.
Value bi_move_window(Value s, Value origin) {
  Window* w = window_arg(s);
  int32_t rc[2];
  while (!fixnums(origin, 2, rc) || rc[0] < 0 || rc[1] < 0 || rc[0] > kMaxCoordinate ||
         rc[1] > kMaxCoordinate)
    origin = lisp_error(E_WRONG_TYPE, origin);
  int32_t old_row, old_col;
  {
    ConsoleLocked lock;
    old_row = w->row;
    old_col = w->column;
    w->row = int16_t(rc[0]);
    w->column = int16_t(rc[1]);
    window_place_cursor(w);
  }
  return pair(old_row, old_col);
}

// 352 (window-stream)
Value bi_window_origin(Value s, Value) {
  Window* w = window_arg(s);
  int32_t row, col;
  {
    ConsoleLocked lock;
    row = w->row;
    col = w->column;
  }
  return pair(row, col);
}

// 353 (rectangle attribute): the rectangle is #(top left bottom right).
Value bi_make_window_stream(Value rect, Value attr) {
  ConsoleDevice* d = console_device();
  int32_t r[4];
  auto bad = [&](const int32_t* x) {
    int32_t rows = x[2] - x[0] + 1, cols = x[3] - x[1] + 1;
    return x[0] < 0 || x[1] < 0 || rows <= 0 || cols <= 0 || rows > d->rows() ||
           cols > d->cols() || x[2] > kMaxCoordinate || x[3] > kMaxCoordinate;
  };
  while (!fixnums(rect, 4, r) || bad(r)) rect = lisp_error(E_WRONG_TYPE, rect);
  while (!is_fixnum(attr)) attr = lisp_error(E_WRONG_TYPE, attr);
  Window* w = window_new(r[0], r[1], r[2] - r[0] + 1, r[3] - r[1] + 1, uint32_t(fixnum_value(attr)));
  return make_window_stream(NIL, w);
}

// 354 (window-stream): the cells under the window, kept for 355.
Value bi_save_window_screen(Value s, Value) {
  for (;;) {
    Window* w = window_arg(s);
    if (window_save_screen(w)) return NIL;
    s = lisp_error(E_WRONG_TYPE, s);
  }
}

// 355 (window-stream)
Value bi_restore_window_screen(Value s, Value) {
  for (;;) {
    Window* w = window_arg(s);
    if (window_restore_screen(w)) {
      console_device()->present();
      return NIL;
    }
    s = lisp_error(E_WRONG_TYPE, s);
  }
}

// 448 (string): onto the clipboard, and to the terminal's.
Value bi_clipboard_copy(Value s, Value) {
  while (!is_string(s)) s = lisp_error(E_WRONG_TYPE, s);
  uint32_t n = string_length(s);
  // Copied first: the clipboard must not point into the heap.
  uint8_t* text = static_cast<uint8_t*>(std::malloc(n ? n : 1));
  if (!text) return NIL;
  std::memcpy(text, string_bytes(s), n);
  clipboard_set(text, n);
  std::free(text);
  return T;
}

// 449 (): the clipboard's text without carriage returns; the empty string
// when it holds nothing.
Value bi_clipboard_text(Value, Value) {
  uint32_t n;
  uint32_t kept = 0;
  const uint8_t* p = clipboard_text(&n);
  for (uint32_t i = 0; i < n; i++) kept += p[i] != '\r';
  Value str = str_make(kept);
  p = clipboard_text(&n);  // not moved by the allocation, but read afresh all the same
  uint8_t* out = string_bytes(str);
  for (uint32_t i = 0; i < n; i++)
    if (p[i] != '\r') *out++ = p[i];
  return str;
}

// 470 (window-stream &optional visible): whether the window is shown; with
// a second argument it is hidden (NIL) or shown.  The standard windows are
// always shown: hiding one is error 5170 with the stream.
Value bi_window_visible(Value, Value) {
  check_max_args(2);
  Value s = arg(1);
  Window* w = window_arg(s);
  Value was = bool_value(!w->hidden);
  if (arg_count() < 2) return was;
  bool show = !nil_p(arg(2));
  while (!window_set_visible(w, show)) {
    s = lisp_error(E_WRONG_TYPE, s);
    w = window_arg(s);
    was = bool_value(!w->hidden);
  }
  return was;
}

// 471 (&optional which value): switch byte `which` of the image header (0
// the first, 1 the second); with a value, a fixnum 0-255, it becomes that.
// Returns the byte as it was.
Value bi_system_switches(Value, Value) {
  check_max_args(2);
  uint32_t n = arg_count();
  Value which = n >= 1 ? arg(1) : make_fixnum(0);
  while (!is_fixnum(which) || fixnum_value(which) < 0 || fixnum_value(which) > 1)
    which = lisp_error(E_WRONG_TYPE, which);
  uint32_t offset = fixnum_value(which) == 0 ? HDR_SWITCHES : HDR_SWITCHES2;
  Value was = make_fixnum(hdr_u8(offset));
  if (n < 2) return was;
  Value v = arg(2);
  while (!is_fixnum(v) || fixnum_value(v) < 0 || fixnum_value(v) > 255) v = lisp_error(E_WRONG_TYPE, v);
  zvm.header[offset] = uint8_t(fixnum_value(v));
  return was;
}
