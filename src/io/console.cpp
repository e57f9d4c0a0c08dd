// The console: the device chosen at start-up, the standard windows, and
// window streams' characters on it.
#include "io/console.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/io_locks.h"
#include "eval/listener.h"
#include "eval/lisp_thread.h"
#include "io/history.h"
#include "io/line_editor.h"
#include "io/line_mode.h"
#include "io/stream.h"
#include "io/terminal.h"
#include "object/error_hook.h"
#include "object/gc.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "text/reader.h"
#include "text/strings.h"
#include "threads/safepoint.h"

namespace {

constexpr uint32_t E_BAD_PROMPT = 0x104D;  // 4173
constexpr uint32_t MSG_MORE = 8;           // status: output paused after a screenful
constexpr uint32_t MSG_LEAVE = 9;          // status: leave the system?
constexpr uint32_t MSG_HELP_ON = 0x1000 | 23;  // status while F1 looks up help: the word
constexpr uint16_t KC_SCROLL_LOCK = KC_CONTROL | 'S';  // control-S stands in for Scroll Lock
constexpr int kIndicatorColumns = 26;

struct Console {
  ConsoleChoice choice = CONSOLE_LINE;
  bool started = false;
  ConsoleDevice* device = nullptr;
  TerminalDevice* terminal = nullptr;  // the device when it is a terminal
  LineDevice* line = nullptr;          // the device in line mode
  bool input_echoed = false;           // line mode at a terminal: it echoes what is typed
  bool scroll_lock = false;
  Window windows[4] = {};
  uint32_t handles[4] = {};
  std::vector<std::vector<Cell>> status_saves;  // status_save's stack
  std::vector<uint8_t> clipboard;
};
Console con;

thread_local bool prompt_armed = false;
thread_local bool char_mode = false;
// The Lisp stack level where single-character mode was set: a throw out
// of the read that set it leaves it behind, and a read further out than
// that level is not in it.
thread_local uint32_t char_mode_level = 0;

bool in_char_mode() {
  if (char_mode && zvts && zvts->septr > char_mode_level) char_mode = false;
  return char_mode;
}
// The window whose viewport, attribute and cursor the device has now.
// Under the console lock: the device is one for every thread.
Window* current_window = nullptr;

bool screen() { return con.device && con.device->is_screen(); }

bool status_enabled() { return hdr_u8(HDR_SWITCHES) & SW_STATUS_WINDOW; }

// Silent windows write nothing anywhere: the status and indicator windows
// in line mode, and the status window when the image turns it off.
bool silent(const Window* w) {
  if (w->role == WIN_STATUS || w->role == WIN_INDICATOR) return !screen() || !status_enabled();
  return false;
}

// Where a window's cells are: on the screen, or in its own device while
// it is hidden (its rectangle there starts at 0,0).
ConsoleDevice* device_of(const Window* w) { return w->hidden_cells ? w->hidden_cells : con.device; }

Rect rect_of(const Window* w) {
  int top = w->hidden_cells ? 0 : w->row, left = w->hidden_cells ? 0 : w->column;
  return Rect{top, left, top + std::max<int>(w->rows, 1) - 1, left + std::max<int>(w->columns, 1) - 1};
}

// The device's cursor back into the window record.
void store_cursor(Window* w) {
  ConsoleDevice* d = device_of(w);
  w->cursor_row = int16_t(std::clamp(d->cursor_row(), -32768, 32767));
  w->cursor_column = int16_t(std::clamp(d->cursor_col(), -32768, 32767));
}

// ---------------------------------------------------------------------------
// Size changes

// The screen has a new size: the standard windows are laid out again and
// the terminal window keeps its text, its last rows when it shrinks below
// the cursor.  Returns how many rows the text moved up.
int apply_resize(int rows, int cols) {
  console_lock();
  ConsoleDevice* d = con.device;
  Window* t = &con.windows[WIN_TERMINAL];
  Rect old = rect_of(t);
  std::vector<Cell> text(size_t(old.rows()) * size_t(old.cols()));
  d->read_cells(old, text.data());
  Window* s = &con.windows[WIN_STATUS];
  Rect old_status = rect_of(s);
  std::vector<Cell> status(size_t(old_status.cols()));
  d->read_cells(old_status, status.data());
  int cursor = t->cursor_row;
  d->resize(rows, cols);
  console_layout_standard_windows(rows, cols);
  int shift = std::max(0, cursor - (t->rows - 1));
  Rect now = rect_of(t);
  Cell blank{' ', uint16_t(t->attribute)};
  std::vector<Cell> row_cells(size_t(now.cols()));
  for (int r = 0; r < now.rows(); r++) {
    int from = r + shift;
    for (int c = 0; c < now.cols(); c++)
      row_cells[size_t(c)] = from < old.rows() && c < old.cols()
                                 ? text[size_t(from) * size_t(old.cols()) + size_t(c)]
                                 : blank;
    d->write_cells(Rect{now.top + r, now.left, now.top + r, now.right}, row_cells.data());
  }
  t->cursor_row = int16_t(std::clamp(cursor - shift, 0, std::max(0, t->rows - 1)));
  if (t->cursor_column >= t->columns) t->cursor_column = int16_t(t->columns - 1);
  Rect st = rect_of(s);
  status.resize(size_t(st.cols()), Cell{' ', uint16_t(s->attribute)});
  if (!silent(s)) d->write_cells(st, status.data());
  Window* ind = &con.windows[WIN_INDICATOR];
  if (!silent(ind)) d->fill(rect_of(ind), Cell{' ', uint16_t(ind->attribute)});
  if (!silent(ind) && (hdr_u8(HDR_SWITCHES) & SW_MEMORY_STATS)) gc_status_line(0, 0);
  window_forget_current();
  d->redraw();
  d->present();
  console_unlock();
  return shift;
}

// A size change signalled since the last look; returns the rows the
// terminal window's text moved up.
int poll_resize() {
  int rows, cols;
  if (con.terminal && con.terminal->size_changed(&rows, &cols)) return apply_resize(rows, cols);
  return 0;
}

// ---------------------------------------------------------------------------
// Keys

// Control-S turns paging on and off, as Scroll Lock does on a PC.
bool scroll_lock_key(uint16_t key) {
  if (key != KC_SCROLL_LOCK) return false;
  con.scroll_lock = !con.scroll_lock;
  return true;
}

// The next key event, for the thread that may take keys now (the one in a
// break loop, else the one that holds the console input, else whoever
// asks).  A thread that may not waits until it may; with several threads
// the waits are slices, so that the keyboard changes hands between keys.
// Every wait is a safe region.  on_granted() runs when this thread has the
// keyboard, before it waits: what it shows (a line another thread's break
// loop took the place of) must be on the screen while the key is awaited,
// which may be for good once the other threads have ended.
//
// The slices also carry the interrupts other threads queue for this one
// (INTERRUPT-THREAD, DESTROY-THREAD, the end of the process): the callers
// run them when a slice ends, so a thread waiting at its prompt answers
// within a slice.  Only another thread can queue one, so while there is
// none the wait need not end by itself; and as a thread may queue and end
// before this wait begins, a pending interrupt is looked at after the
// count, and slices the wait too.  (No wake-up descriptor: the slices are
// there anyway for the keyboard's sake, a tenth of a second is prompt for
// a person watching, and every device's wait would need one.)
template <typename OnGranted>
WaitResult wait_key_event(KeyEvent* ev, OnGranted on_granted) {
  constexpr int SLICE_MS = 100, REFUSED_PAUSE_MS = 20;
  if (!console_keyboard_try()) {
    SafeRegion region;
    host_sleep_ms(REFUSED_PAUSE_MS);
    return WAIT_TIMEOUT;
  }
  on_granted();
  bool sliced = world_thread_count() > 1 || (interrupt_pending_bits() & PENDING_THREAD);
  WaitResult r;
  {
    SafeRegion region;
    r = con.device->wait_key(ev, sliced ? SLICE_MS : -1);
  }
  console_keyboard_release();
  return r;
}

// Wait for a key code.  Control-C breaks into a break loop here (the
// interrupt is answered as the evaluator would), as do the interrupts
// other threads queue for this one; a size change lays the windows out
// again.  -1 when the input has ended.
int wait_key_code() {
  for (;;) {
    KeyEvent ev;
    WaitResult r = wait_key_event(&ev, [] {});
    switch (r) {
      case WAIT_KEY:
        break;
      case WAIT_TIMEOUT:
        if (!thread_interrupts_queued()) continue;
        [[fallthrough]];
      case WAIT_INTERRUPT: {
        // The break loop reads lines, whatever this read was.
        bool was = char_mode;
        char_mode = false;
        interrupt_poll();
        char_mode = was;
        continue;
      }
      case WAIT_RESIZE:
        poll_resize();
        continue;
      case WAIT_CLOSED:
        return -1;
    }
    uint16_t key = key_code(ev);
    if (key == 0 || scroll_lock_key(key)) continue;
    return key;
  }
}

// ---------------------------------------------------------------------------
// Writing

void write_plain(Window* w, const uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    if (p[i] == '\n')
      w->cursor_column = 0;
    else if (w->cursor_column < INT16_MAX)
      w->cursor_column++;
  }
  w->drawn = true;
  if (silent(w)) return;
  console_lock();
  con.line->write_plain(p, n);
  console_unlock();
}

void screen_write(Window* w, const uint8_t* p, uint32_t n, uint32_t font, bool paging = true);

// A status prompt that is plain text (messages 8 and 9): written straight
// to the status window, or on a line of the terminal window when there is
// no status window.  No formatting runs, so it can be shown from inside a
// print to the terminal.
void status_prompt(uint32_t n) {
  Value t = message_text(n);
  std::vector<uint8_t> text;
  if (is_string(t)) text.assign(string_bytes(t), string_bytes(t) + string_length(t));
  Window* s = &con.windows[WIN_STATUS];
  if (silent(s)) {
    Window* term = &con.windows[WIN_TERMINAL];
    if (term->cursor_column != 0) screen_write(term, reinterpret_cast<const uint8_t*>("\n"), 1, 0, false);
    screen_write(term, text.data(), uint32_t(text.size()), 0, false);
  } else {
    window_clear(s);
    window_write_text(s, text.data(), uint32_t(text.size()));
  }
  con.device->present();
}

// A screenful has gone by with paging on: wait for a key with message 8.
void paging_pause() {
  console_status_save();
  status_prompt(MSG_MORE);
  alert_pause(100);
  console_lock();
  con.device->set_cursor_visible(false);
  console_unlock();
  int key = wait_key_code();
  console_status_restore();
  window_forget_current();
  (void)key;
}

bool is_scroll_lock(const KeyEvent& k) { return key_code(k) == KC_SCROLL_LOCK; }

// Control-S typed while output runs turns paging on or off at once: the
// type-ahead is looked at every tenth of a second, at line ends, and the
// other keys stay queued for the next read.  Only by the thread that may
// take keys now: the one that waits for keys reads the terminal.
void scroll_lock_typed_ahead(Window* w) {
  static std::chrono::steady_clock::time_point next_look;
  auto now = std::chrono::steady_clock::now();
  if (now < next_look) return;
  next_look = now + std::chrono::milliseconds(100);
  if (!console_keyboard_try()) return;
  KeyEvent k;
  bool taken = con.device->take_key_if(is_scroll_lock, &k);
  console_keyboard_release();
  if (!taken) return;
  con.scroll_lock = !con.scroll_lock;
  w->paging = con.scroll_lock ? 1 : 0;
}

// Paging: whether a character that starts a new line must first wait for
// a key, a full screen having gone by since the last pause.
bool page_pauses(Window* w, uint8_t c) {
  if (w->role != WIN_TERMINAL || w->rows <= 1) return false;
  bool advances = c == '\n' || w->cursor_column >= w->columns - 1;
  if (advances && con.terminal) scroll_lock_typed_ahead(w);
  return w->paging != 0 && advances && w->paging >= w->rows - 1;
}

// The whole write is one turn of the console lock (but for paging
// pauses, which wait for a key): lines of two threads never mix, and a
// line another thread is editing makes way for the text and is shown
// again below it.
void screen_write(Window* w, const uint8_t* p, uint32_t n, uint32_t font, bool paging) {
  if (silent(w)) return;
  console_lock();
  w->drawn = true;
  bool lifted = edit_lift(w);
  for (uint32_t i = 0; i < n; i++) {
    if (paging && page_pauses(w, p[i])) {
      if (lifted) edit_put_back(w);
      console_unlock();
      paging_pause();
      w->paging = con.scroll_lock ? 1 : 0;
      console_lock();
      lifted = edit_lift(w);
    }
    window_activate(w);
    ConsoleDevice* d = device_of(w);  // the pause above may have shown it
    uint16_t attr = d->attribute();
    if (font) d->set_attribute(uint16_t(font));
    uint32_t advances = d->write_text(p + i, 1);
    if (font) d->set_attribute(attr);
    if (w->paging >= 1) w->paging = int16_t(std::min(w->paging + int(advances), 30000));
    store_cursor(w);
  }
  if (lifted) edit_put_back(w);
  console_unlock();
}

// ---------------------------------------------------------------------------
// Prompts

void fresh_line(Window* w) {
  if (w->cursor_column != 0) window_write_char(w, '\n');
}

// The prompt value's text: a character, a string or a symbol's name.
// False when there is none.
bool prompt_text(std::vector<uint8_t>* text) {
  Value p = sym_value(FS_PROMPT);
  if (nil_p(p) || is_no_value(p)) return false;
  if (tag_of(p) == TAG_CHAR) {
    text->assign(1, uint8_t(p & 0xFF));
    return true;
  }
  if (tag_of(p) >= TAG_SYMBOL && tag_of(p) <= TAG_LEXREF) p = sym_name(symbol_index(p));
  if (!is_string(p)) {
    lisp_error(E_BAD_PROMPT, make_symbol(FS_PROMPT));
    return false;
  }
  // A copy: writing to the window may call Lisp (a paging pause), which
  // may move the string.
  text->assign(string_bytes(p), string_bytes(p) + string_length(p));
  return true;
}

void continuation_prompt_text(uint32_t open, std::vector<uint8_t>* text) {
  char buf[16];
  int n = std::snprintf(buf, sizeof buf, "%u>", open);
  text->assign(buf, buf + n);
}

void show_prompt(Window* w) {
  std::vector<uint8_t> text;
  if (!prompt_text(&text)) return;
  fresh_line(w);
  window_write_text(w, text.data(), uint32_t(text.size()));
}

void show_continuation_prompt(Window* w, uint32_t open) {
  std::vector<uint8_t> text;
  continuation_prompt_text(open, &text);
  fresh_line(w);
  window_write_text(w, text.data(), uint32_t(text.size()));
}

// ---------------------------------------------------------------------------
// Reading in line mode

// Interrupts queued for this thread by others, run while it waits for a
// line: what was read of the line is kept aside (a read of theirs must not
// take it), and is the line's again after them, with the reader's
// counters.  A throw out of them drops it, as Control-C does.
struct LineInterrupts {
  Window* w;
  uint8_t* kept;
  uint32_t length;
  ReaderCounters counters;
};

Value line_interrupts_body(void*) {
  thread_interrupts_run();
  return NIL;
}

void line_interrupts_cleanup(int thrown, void* data) {
  LineInterrupts* l = static_cast<LineInterrupts*>(data);
  Window* w = l->w;
  w->line_length = 0;
  w->read_index = 0;
  if (!thrown && l->length && window_line_reserve(w, l->length)) {
    std::memcpy(w->line, l->kept, l->length);
    w->line_length = l->length;
  }
  if (!thrown) reader_restore_counters(l->counters);
  std::free(l->kept);
}

void run_line_interrupts(Window* w) {
  LineInterrupts l{w, nullptr, w->line_length, reader_save_counters()};
  if (l.length) {
    l.kept = static_cast<uint8_t*>(std::malloc(l.length));
    if (!l.kept) return;  // they run at the next evaluation
    std::memcpy(l.kept, w->line, l.length);
  }
  w->line_length = 0;
  w->read_index = 0;
  reader_restore_counters(ReaderCounters{});
  establish_cleanup(line_interrupts_body, line_interrupts_cleanup, 0, &l);
}

// Fill w->line with the next input line (line feed included when there is
// one).  False at the end of input with nothing read.  Control-C while
// waiting drops what was read of the line and prompts again.  With other
// threads the wait is in slices, as on a screen (wait_key_event), and the
// interrupts they queue for this thread run between them.
bool read_plain_line(Window* w) {
  constexpr int SLICE_MS = 100;
  constexpr int NOTHING_YET = -3;
  std::fflush(stdout);
  w->line_length = 0;
  w->read_index = 0;
  for (;;) {
    bool handed_over = false;
    if (!console_keyboard_try(&handed_over)) {
      SafeRegion region;
      host_sleep_ms(20);
      // The window's line is the reading thread's now: nothing to keep.
      if (thread_interrupts_queued()) thread_interrupts_run();
      continue;
    }
    if (handed_over) w->line_length = 0;  // another thread read lines meanwhile
    bool sliced = world_thread_count() > 1 || (interrupt_pending_bits() & PENDING_THREAD);
    int c;
    {
      SafeRegion region;
      c = !sliced || con.line->input_ready(SLICE_MS) ? con.line->read_char() : NOTHING_YET;
    }
    console_keyboard_release();
    if (c == NOTHING_YET) {
      if (keyboard_interrupt_pending()) {
        c = -2;  // the wait was cut by Control-C
      } else {
        if (thread_interrupts_queued()) run_line_interrupts(w);
        continue;
      }
    }
    if (c == -2) {
      if (!keyboard_interrupt_pending()) continue;
      keyboard_interrupt_clear();
      w->line_length = 0;
      write_plain(w, reinterpret_cast<const uint8_t*>("\n"), 1);
      show_prompt(w);
      std::fflush(stdout);
      continue;
    }
    if (c < 0) break;
    if (!window_line_reserve(w, w->line_length + 1)) break;
    if (c == '\n' && w->line_length > 0 && w->line[w->line_length - 1] == '\r')
      w->line_length--;  // CR LF counts as one line end
    w->line[w->line_length++] = uint8_t(c);
    if (c == '\n') break;
  }
  if (w->line_length == 0) return false;
  if (con.input_echoed && w->line[w->line_length - 1] == '\n') w->cursor_column = 0;
  return true;
}

// ---------------------------------------------------------------------------
// Reading on a screen

Value call_with_reader_saved(Value fn, uint32_t nargs, Value arg) {
  ReaderCounters saved = reader_save_counters();
  reader_restore_counters(ReaderCounters{});
  Value v = nargs ? call_function1(fn, arg) : call_function0(fn);
  reader_restore_counters(saved);
  return v;
}

bool has_function(uint32_t sym) {
  Value f = sym_function(sym);
  return !nil_p(f) && !is_no_value(f);
}

// Tab: the function of symbol 0x90 gets the word at the cursor and may
// return its completion.
void complete(Window* w) {
  uint32_t start, end;
  if (!has_function(FS_COMPLETE) || !edit_word(w, &start, &end)) {
    con.device->beep();
    return;
  }
  Value word = str_from_bytes(w->line + start, end - start);
  EditKept* keep = edit_suspend(w);
  Value r = call_with_reader_saved(make_symbol(FS_COMPLETE), 1, word);
  edit_resume(w, keep);  // Lisp may have read lines of its own into the window
  if (is_string(r)) {
    uint32_t n = string_length(r);
    std::vector<uint8_t> text(string_bytes(r), string_bytes(r) + n);
    edit_replace(w, start, end, text.data(), n);
  } else {
    con.device->beep();
  }
}

// The word read as an object; NO_VALUE when it does not read.
Value read_word(const uint8_t* p, uint32_t n) {
  Value text = str_from_bytes(p, n);
  root_push(&text);
  Value stream = make_string_input_stream(text, 0, n);
  root_push(&stream);
  volatile Value result = NO_VALUE;
  ReaderCounters saved = reader_save_counters();
  Context cx;
  context_push(&cx, CX_ERRCATCH);
  if (setjmp(cx.resume) == 0) result = read_from(stream, false, NO_VALUE, false);
  context_pop(&cx);
  reader_restore_counters(saved);
  root_pop(2);
  return result;
}

// F1: the function of symbol 0x8F shows help on the symbol at the cursor,
// or the general help with no word there.  (It gets no argument then:
// with the default topic in its place, F1 on an empty line could not be
// told from F1 on that symbol.)
void help(Window* w) {
  if (!has_function(FS_HELP)) {
    con.device->beep();
    return;
  }
  uint32_t start, end;
  bool word = edit_word(w, &start, &end);
  EditKept* keep = edit_suspend(w);
  console_status_save();
  if (!word) {
    call_with_reader_saved(make_symbol(FS_HELP), 0, NIL);
  } else {
    Value text = str_from_bytes(w->line + start, end - start);
    root_push(&text);
    console_status_message(MSG_HELP_ON, text);
    Value topic = read_word(w->line + start, end - start);
    if (topic == NO_VALUE) topic = text;
    root_pop();
    call_with_reader_saved(make_symbol(FS_HELP), 1, topic);
  }
  console_status_restore();
  edit_resume(w, keep);
}

// Meta-F4: message 9 in the status window, and Y leaves the system.
bool ask_leave() {
  console_status_save();
  status_prompt(MSG_LEAVE);
  alert_pause(100);
  int key;
  do key = wait_key_code();
  while (key >= 0 && key != 'y' && key != 'Y' && key != 'n' && key != 'N' && key != KC_ESC);
  console_status_restore();
  window_forget_current();
  return key == 'y' || key == 'Y';
}

// The console's interruption (Esc): to the nearest listener or debugger
// context, which shows a fresh prompt.
[[noreturn]] void throw_console_interrupt() {
  zvts->mv_count = 0;
  zvts->glvalue = NIL;
  uint16_t target = find_context(CX_LISTENER_DEBUG);
  if (!target) throw_to_listener();
  throw_to(TC_CONSOLE, target);
}

// Interrupts queued for this thread by others, run while it waits at a
// prompt with a line half typed.  The line stays on the screen and makes
// way for what they print, as for another thread's output; what they
// read is edited below it.  After them the reader's counters and the
// prompt are the read's again; a throw out of them (DESTROY-THREAD, a
// throw to the top level) leaves the line on the screen as it stands.
struct PromptInterrupts {
  Window* w;
  EditKept* keep;
  ReaderCounters counters;
  bool prompt_armed;
  bool shown;  // afterwards: the line is on the screen
};

Value prompt_interrupts_body(void*) {
  thread_interrupts_run();
  return NIL;
}

void prompt_interrupts_cleanup(int thrown, void* data) {
  PromptInterrupts* p = static_cast<PromptInterrupts*>(data);
  if (thrown) {
    edit_abandon(p->w, p->keep);
    return;
  }
  reader_restore_counters(p->counters);
  prompt_armed = p->prompt_armed;
  p->shown = edit_step_back(p->w, p->keep);
}

// Whether the line is on the screen afterwards.
bool run_prompt_interrupts(Window* w) {
  PromptInterrupts p{w, edit_step_aside(w), reader_save_counters(), prompt_armed, false};
  reader_restore_counters(ReaderCounters{});
  prompt_armed = false;
  establish_cleanup(prompt_interrupts_body, prompt_interrupts_cleanup, 0, &p);
  return p.shown;
}

// A new line from the line editor; its first character (or a key code
// that ended editing on an empty line).  -1 when the input has ended.
int screen_read_line(Window* w) {
  bool prompted = prompt_armed;
  std::vector<uint8_t> prompt;
  bool prompting = false;
  if (prompt_armed) {
    prompt_armed = false;
    prompting = prompt_text(&prompt);
  } else if (uint32_t open = reader_open_parens()) {
    continuation_prompt_text(open, &prompt);
    prompting = true;
  }
  // The prompt and the field in one turn of the console lock: another
  // thread's output comes before the prompt or above the edited line.
  console_lock();
  if (prompting) {
    if (w->cursor_column != 0) window_write_unpaged(w, reinterpret_cast<const uint8_t*>("\n"), 1);
    window_write_unpaged(w, prompt.data(), uint32_t(prompt.size()));
  }
  edit_begin(w);
  // What the status window says now, for after another thread's break loop.
  Window* s = &con.windows[WIN_STATUS];
  std::vector<Cell> status(size_t(s->columns));
  if (!silent(s)) con.device->read_cells(rect_of(s), status.data());
  console_unlock();
  auto restore_status = [&] {
    if (silent(s)) return;
    ConsoleLocked lock;
    Rect now = rect_of(s);
    status.resize(size_t(now.cols()), Cell{' ', uint16_t(s->attribute)});
    con.device->write_cells(now, status.data());
  };
  for (;;) {
    KeyEvent ev;
    // Another thread (a break loop) may have edited lines here while this
    // one could not take keys: this line comes back below what it wrote,
    // and the status window as it was.
    WaitResult r = wait_key_event(&ev, [&] {
      if (edit_reclaim(w)) restore_status();
    });
    // Interrupts between two slices of the wait, a key it brought
    // handled after them.  What they showed in the status window (a break
    // loop of theirs) goes with them, unless another thread's break loop
    // has the screen now.
    if (thread_interrupts_queued() && run_prompt_interrupts(w)) restore_status();
    if (r == WAIT_INTERRUPT) {
      keyboard_interrupt_clear();  // at the prompt Control-C clears the line
      edit_clear(w);
      continue;
    }
    if (r == WAIT_RESIZE) {
      edit_redraw(w, poll_resize());
      continue;
    }
    if (r == WAIT_TIMEOUT) continue;
    if (r == WAIT_CLOSED) {
      edit_finish(w);
      w->line_length = 0;
      listener_end_of_input();
      return -1;
    }
    uint16_t key = key_code(ev);
    if (key == 0 || scroll_lock_key(key)) continue;
    uint16_t end;
    switch (edit_key(w, key, ev.mods & KM_PASTED, &end)) {
      case EDIT_CONTINUE:
        continue;
      case EDIT_CANCEL:
        edit_finish(w);
        w->line_length = 0;
        w->read_index = 0;
        throw_console_interrupt();
      case EDIT_ABORT:
        edit_finish(w);
        w->line_length = 0;
        zv_builtins[BI_ABORT_TO_TOP_LEVEL].fn(NIL, NIL);
        continue;
      case EDIT_LEAVE: {
        EditKept* keep = edit_suspend(w);
        bool leave = ask_leave();
        edit_resume(w, keep);
        if (leave) {
          edit_finish(w);
          w->line_length = 0;
          zv_builtins[BI_EXIT].fn(NIL, NIL);
        }
        continue;
      }
      case EDIT_END:
        break;
    }
    if (end == KC_TAB) {
      complete(w);
      continue;
    }
    if (end == KC_F1) {
      help(w);
      continue;
    }
    // The line goes onto the window in the same turn of the console lock
    // as the field ends: no other thread's output comes between the
    // prompt and the line.
    console_lock();
    edit_finish(w);
    if (end != KC_ENTER) {
      // A function key on an empty line: the key itself is read.
      window_write_unpaged(w, reinterpret_cast<const uint8_t*>("\n"), 1);
      console_unlock();
      w->line_length = 0;
      w->read_index = 0;
      return end;
    }
    break;
  }
  // The line is complete: onto the window for good, into the history, and
  // handed out with its line feed.
  uint32_t n = w->line_length;
  window_write_unpaged(w, w->line, n);
  window_write_unpaged(w, reinterpret_cast<const uint8_t*>("\n"), 1);
  console_unlock();
  history_add(w->line, w->line_length);
  // An empty line after the prompt gets the prompt again, as a person
  // pressing Enter expects.
  if (n == 0 && prompted) prompt_armed = true;
  if (window_line_reserve(w, n + 1)) w->line[w->line_length++] = '\n';
  w->read_index = 0;
  Window* t = &con.windows[WIN_TERMINAL];
  t->paging = con.scroll_lock ? 1 : 0;
  return w->line[w->read_index++];
}

// ---------------------------------------------------------------------------
// The indicator window

// The collector's letters and the memory report in the indicator window.
// Runs inside a collection: device operations only.
void show_indicator(int) {
  Window* ind = &con.windows[WIN_INDICATOR];
  if (silent(ind)) return;
  const char* text = gc_status_text();
  window_clear(ind);
  window_write_text(ind, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)));
  con.device->present();
}

// The device by the choice made; line mode when a terminal cannot be set up.
void make_device() {
  if (con.choice == CONSOLE_MEMORY) {
    con.device = new MemoryDevice(25, 80);
    return;
  }
  if (con.choice == CONSOLE_AUTO) {
    const char* term = std::getenv("TERM");
    const char* force = std::getenv(CONSOLE_LINE_MODE_ENV);
    bool terminal = isatty(0) && isatty(1) && term && *term && std::strcmp(term, "dumb") != 0 &&
                    !(force && *force);
    if (terminal) {
      TerminalDevice* t = new TerminalDevice(0, 1);
      if (t->open()) {
        con.terminal = t;
        con.device = t;
        return;
      }
      delete t;
    }
  }
  con.line = new LineDevice();
  con.device = con.line;
  con.input_echoed = isatty(0) && isatty(1);
}

void at_exit() { console_shutdown(); }

// The evaluator's poll: a size change signalled meanwhile, then the output
// held back.
void refresh() {
  poll_resize();
  if (!con.device) return;
  console_lock();
  con.device->present();
  console_unlock();
}

}  // namespace

// ---------------------------------------------------------------------------
// Start and end

void console_choose(ConsoleChoice c) {
  if (!con.started) con.choice = c;
}

namespace {

// The standard windows on a new device: laid out, in the image's colours,
// the screen cleared in the terminal window's.
void setup_windows() {
  uint16_t terminal_attr = hdr_u16(HDR_ATTR_TERMINAL);
  if (terminal_attr == 0) terminal_attr = 0x70;
  uint16_t status_attr = hdr_u16(HDR_ATTR_STATUS), indicator_attr = hdr_u16(HDR_ATTR_INDICATOR);
  for (int r = WIN_TERMINAL; r <= WIN_INDICATOR; r++) {
    Window* w = &con.windows[r];
    std::free(w->line);
    delete[] w->saved_screen;
    *w = Window{};
    w->role = WindowRole(r);
  }
  con.windows[WIN_TERMINAL].attribute = terminal_attr;
  con.windows[WIN_STATUS].attribute = status_attr ? status_attr : 0x17;
  con.windows[WIN_INDICATOR].attribute = indicator_attr ? indicator_attr : 0x17;
  console_layout_standard_windows(con.device->rows(), con.device->cols());
  con.status_saves.clear();
  window_forget_current();
  if (screen()) {
    // Everything in the terminal window's colour, the cursor hidden until
    // a line is edited.
    ConsoleDevice* d = con.device;
    d->set_viewport(0, 0, d->rows() - 1, d->cols() - 1);
    d->set_attribute(uint16_t(terminal_attr));
    d->clear_viewport();
    d->set_cursor_visible(false);
    for (int r = WIN_STATUS; r <= WIN_INDICATOR; r++)
      if (!silent(&con.windows[r])) window_clear(&con.windows[r]);
    window_forget_current();
  }
}

}  // namespace

void console_init() {
  if (con.started) return;
  con.started = true;
  make_device();
  setup_windows();
  for (int r = WIN_TERMINAL; r <= WIN_INDICATOR; r++)
    con.handles[r] = handle_add_window(&con.windows[r]);
  gc_status_hook = show_indicator;
  zv_console_refresh = refresh;
  zv_fatal_hook = terminal_emergency_restore;
  if (con.terminal) std::atexit(at_exit);
}

void console_restart(ConsoleChoice c, int rows, int cols) {
  console_init();
  console_shutdown();
  delete con.device;
  con.device = nullptr;
  con.terminal = nullptr;
  con.line = nullptr;
  con.choice = c;
  if (c == CONSOLE_MEMORY)
    con.device = new MemoryDevice(rows, cols);
  else
    make_device();
  setup_windows();
  con.scroll_lock = false;
  con.clipboard.clear();
  prompt_armed = char_mode = false;
}

// After the terminal is given back, what is still written (the report at
// exit) goes to standard output as in line mode.
void console_shutdown() {
  if (con.terminal) {
    con.terminal->close();
    delete con.terminal;
    con.terminal = nullptr;
    con.line = new LineDevice();
    con.device = con.line;
    window_forget_current();
  } else if (con.line) {
    con.line->flush();
  }
}

void console_hand_over() {
  if (con.terminal) con.terminal->hand_over();
}

// A size change while the program ran is taken by the next read.
void console_take_back() {
  if (!con.terminal) return;
  con.terminal->take_back();
  window_forget_current();
}

ConsoleDevice* console_device() {
  console_init();
  return con.device;
}

bool console_is_screen() {
  console_init();
  return screen();
}

bool console_status_visible() { return con.started && screen() && status_enabled(); }

void console_layout_standard_windows(int rows, int cols) {
  int indicator = std::min(kIndicatorColumns, cols / 3);
  int text_rows = std::max(1, rows - 1);
  auto place = [](Window* w, int row, int col, int rws, int cls) {
    w->row = int16_t(row);
    w->column = int16_t(col);
    w->rows = int16_t(rws);
    w->columns = int16_t(std::max(cls, 1));
    if (w->cursor_row > w->rows) w->cursor_row = w->rows;
    if (w->cursor_column >= w->columns) w->cursor_column = int16_t(w->columns - 1);
  };
  place(&con.windows[WIN_TERMINAL], 0, 0, text_rows, cols);
  place(&con.windows[WIN_STATUS], rows - 1, 0, 1, cols - indicator);
  place(&con.windows[WIN_INDICATOR], rows - 1, cols - indicator, 1, indicator);
  window_forget_current();
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
  } standard[] = {{FS_TERMINAL_IO, WIN_TERMINAL},
                  {FS_STATUS_STREAM, WIN_STATUS},
                  {FS_INDICATOR_STREAM, WIN_INDICATOR}};
  for (const auto& s : standard) {
    Value stream = sym_value(s.sym);
    if (is_window_stream(stream)) heap_set_word(stream, 2, con.handles[s.role]);
  }
  // The image's colours; the bottom row shows the status and indicator
  // windows when the image has them.
  if (uint16_t a = hdr_u16(HDR_ATTR_STATUS)) con.windows[WIN_STATUS].attribute = a;
  if (uint16_t a = hdr_u16(HDR_ATTR_INDICATOR)) con.windows[WIN_INDICATOR].attribute = a;
  for (int r = WIN_STATUS; r <= WIN_INDICATOR; r++)
    if (!silent(&con.windows[r])) window_clear(&con.windows[r]);
}

bool console_set_char_mode(bool on) {
  bool was = in_char_mode();
  char_mode = on;
  if (on && zvts) char_mode_level = zvts->septr;
  return was;
}

void console_arm_prompt() { prompt_armed = true; }

// ---------------------------------------------------------------------------
// Window records

Window* window_new(int row, int col, int rows, int cols, uint32_t attribute) {
  Window* w = new Window{};
  w->row = int16_t(row);
  w->column = int16_t(col);
  w->rows = int16_t(rows);
  w->columns = int16_t(cols);
  w->attribute = attribute;
  w->role = WIN_USER;
  return w;
}

void window_free(Window* w) {
  if (!w || w->role != WIN_USER) return;
  edit_forget_window(w);
  console_lock();
  if (current_window == w) current_window = nullptr;
  console_unlock();
  std::free(w->line);
  delete[] w->saved_screen;
  delete w->hidden_cells;
  delete[] w->beneath;
  delete w;
}

namespace {

Cell* read_rect(ConsoleDevice* d, const Rect& r) {
  Cell* cells = new Cell[size_t(r.rows()) * size_t(r.cols())];
  d->read_cells(r, cells);
  return cells;
}

void forget_beneath(Window* w) {
  delete[] w->beneath;
  w->beneath = nullptr;
}

}  // namespace

// Hiding moves the window's cells into a device of their own (blanks for a
// window never written, whose rectangle shows only what lies under it) and
// puts back what it covered; showing covers the screen again.
// The test and the change in one turn of the console lock: two threads
// showing one window at once would otherwise both take its cells.
bool window_set_visible(Window* w, bool visible) {
  console_init();
  if (!visible && w->role != WIN_USER) return false;
  console_lock();
  if (w->hidden == !visible) {
    console_unlock();
    return true;
  }
  window_forget_current();
  w->hidden = !visible;
  if (!screen()) {
    console_unlock();
    return true;
  }
  Rect on_screen{w->row, w->column, w->row + std::max<int>(w->rows, 1) - 1,
                 w->column + std::max<int>(w->columns, 1) - 1};
  if (!visible) {
    auto* own = new MemoryDevice(on_screen.rows(), on_screen.cols());
    Rect all{0, 0, on_screen.rows() - 1, on_screen.cols() - 1};
    if (w->drawn) {
      Cell* cells = read_rect(con.device, on_screen);
      own->write_cells(all, cells);
      delete[] cells;
    } else {
      own->fill(all, Cell{' ', uint16_t(w->attribute)});
    }
    if (w->beneath) con.device->write_cells(w->beneath_rect, w->beneath);
    forget_beneath(w);
    w->hidden_cells = own;
  } else {
    ConsoleDevice* own = w->hidden_cells;
    Cell* cells = read_rect(own, Rect{0, 0, own->rows() - 1, own->cols() - 1});
    forget_beneath(w);
    w->beneath = read_rect(con.device, on_screen);
    w->beneath_rect = on_screen;
    con.device->write_cells(on_screen, cells);
    delete[] cells;
    delete own;
    w->hidden_cells = nullptr;
  }
  console_unlock();
  con.device->present();
  return true;
}

void window_resized(Window* w) {
  ConsoleLocked lock;
  forget_beneath(w);
  if (!w->hidden_cells) return;
  w->hidden_cells->resize(std::max<int>(w->rows, 1), std::max<int>(w->columns, 1));
  window_forget_current();
}

bool console_pop_up(Value stream) {
  if (!is_window_stream(stream)) return false;
  Window* w = stream_window(stream);
  if (!w || !w->hidden) return false;
  return window_set_visible(w, true);
}

// The caller holds the console lock when it goes on to use the device.
void window_activate(Window* w) {
  console_init();
  console_lock();
  if (current_window != w) {
    ConsoleDevice* d = device_of(w);
    Rect r = rect_of(w);
    d->set_viewport(r.top, r.left, r.bottom, r.right);
    d->set_attribute(uint16_t(w->attribute));
    d->set_cursor(w->cursor_row, w->cursor_column);
    current_window = w;
  }
  console_unlock();
}

void window_forget_current() {
  console_lock();
  current_window = nullptr;
  console_unlock();
}

void window_clear(Window* w) {
  console_init();
  console_lock();
  window_forget_current();
  window_activate(w);
  ConsoleDevice* d = device_of(w);
  d->clear_viewport();
  w->cursor_row = w->cursor_column = 0;
  w->drawn = true;
  d->set_cursor(0, 0);
  console_unlock();
}

void window_place_cursor(Window* w) {
  console_init();
  console_lock();
  window_forget_current();
  window_activate(w);
  console_unlock();
}

// The saved screen is taken and given back under the console lock, as a
// resize drops it: each is one thread's at a time.
bool window_save_screen(Window* w) {
  ConsoleLocked lock;
  if (w->saved_screen) return false;
  Rect r = rect_of(w);
  Cell* cells = new (std::nothrow) Cell[size_t(r.rows()) * size_t(r.cols())];
  if (!cells) return false;
  device_of(w)->read_cells(r, cells);
  w->saved_screen = cells;
  w->saved_rows = int16_t(r.rows());
  w->saved_columns = int16_t(r.cols());
  return true;
}

bool window_restore_screen(Window* w) {
  Cell* cells;
  {
    ConsoleLocked lock;
    cells = w->saved_screen;
    if (!cells) return false;
    w->saved_screen = nullptr;
    Rect r = rect_of(w);
    r.bottom = r.top + w->saved_rows - 1;
    r.right = r.left + w->saved_columns - 1;
    device_of(w)->write_cells(r, cells);
  }
  delete[] cells;
  return true;
}

// ---------------------------------------------------------------------------
// Window character operations

int window_read_char(Window* w) {
  console_init();
  if (w->pushed_back) {
    int c = w->pushed_back - 1;
    w->pushed_back = 0;
    return c;
  }
  if (screen()) {
    if (w->hidden) window_set_visible(w, true);  // what is typed is seen
    poll_resize();
    if (in_char_mode()) {
      window_activate(w);
      con.device->set_cursor_visible(true);
      int key = wait_key_code();
      con.device->set_cursor_visible(false);
      if (key < 0) listener_end_of_input();
      return key;
    }
  }
  // A line another thread is typing here is not input yet.
  if (w->read_index < w->line_length && !edit_busy(w)) return w->line[w->read_index++];
  if (screen()) return screen_read_line(w);
  if (prompt_armed) {
    prompt_armed = false;
    show_prompt(w);
  } else if (uint32_t open = reader_open_parens()) {
    show_continuation_prompt(w, open);
  }
  if (!read_plain_line(w)) {
    listener_end_of_input();
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
    w->pushed_back = c + 1;
}

void window_write_char(Window* w, int c) {
  uint8_t b = uint8_t(c);
  console_init();
  if (!screen()) {
    write_plain(w, &b, 1);
    return;
  }
  screen_write(w, &b, 1, (uint32_t(c) >> 16) & 0xFF);
}

void window_write_text(Window* w, const uint8_t* p, uint32_t n) {
  console_init();
  if (!screen()) {
    write_plain(w, p, n);
    return;
  }
  screen_write(w, p, n, 0);
}

void window_write_unpaged(Window* w, const uint8_t* p, uint32_t n) {
  console_init();
  if (!screen()) {
    write_plain(w, p, n);
    return;
  }
  screen_write(w, p, n, 0, false);
}

uint32_t window_column(Window* w) { return w->cursor_column > 0 ? uint32_t(w->cursor_column) : 0; }

// On a screen the last column is left free: a line that fills the window
// would otherwise wrap before its line feed and leave an empty row.
uint32_t window_width(Window* w) {
  if (!screen()) return 0x40000000u;
  return w->columns > 1 ? uint32_t(w->columns - 1) : 1;
}

// The device's keys are taken only by the thread that may take keys now
// (console_keyboard_try): the one waiting for a key reads the terminal
// outside the console lock.  For another thread no key is pending.
bool window_listen(Window* w) {
  if (w->pushed_back || w->read_index < w->line_length) return true;
  if (!screen() || !console_keyboard_try()) return false;
  bool pending = con.device->key_pending();
  console_keyboard_release();
  return pending;
}

int window_read_char_no_hang(Window* w) {
  if (w->pushed_back || w->read_index < w->line_length) return window_read_char(w);
  if (!screen() || !console_keyboard_try()) return -2;
  KeyEvent ev;
  int key = -2;
  while (key == -2 && con.device->get_key(&ev)) {
    uint16_t k = key_code(ev);
    if (k && !scroll_lock_key(k)) key = k;
  }
  console_keyboard_release();
  return key;
}

void console_drop_line() {
  Window* w = &con.windows[WIN_TERMINAL];
  w->pushed_back = 0;
  w->read_index = w->line_length;
}

void window_clear_input(Window* w) {
  w->pushed_back = 0;
  w->read_index = w->line_length;
  if (con.started && w->role == WIN_TERMINAL && console_keyboard_try()) {
    con.device->flush_keys();
    console_keyboard_release();
  }
}

// ---------------------------------------------------------------------------
// Status messages

void console_status_message(uint32_t code, Value a) {
  console_init();
  Window* s = &con.windows[WIN_STATUS];
  if (silent(s)) {
    Window* t = &con.windows[WIN_TERMINAL];
    fresh_line(t);
    print_message(FS_TERMINAL_IO, code, a);
    return;
  }
  window_clear(s);
  print_message(FS_STATUS_STREAM, code, a);
  con.device->present();
}

void console_status_save() {
  console_init();
  Window* s = &con.windows[WIN_STATUS];
  Rect r = rect_of(s);
  ConsoleLocked lock;
  con.status_saves.emplace_back(size_t(r.rows()) * size_t(r.cols()));
  con.device->read_cells(r, con.status_saves.back().data());
}

void console_status_restore() {
  ConsoleLocked lock;
  if (con.status_saves.empty()) return;
  Window* s = &con.windows[WIN_STATUS];
  Rect r = rect_of(s);
  std::vector<Cell>& saved = con.status_saves.back();
  saved.resize(size_t(r.rows()) * size_t(r.cols()), Cell{' ', uint16_t(s->attribute)});
  if (!silent(s)) con.device->write_cells(r, saved.data());
  con.status_saves.pop_back();
  window_forget_current();
}

// ---------------------------------------------------------------------------
// Clipboard

void clipboard_set(const uint8_t* p, uint32_t n) {
  con.clipboard.assign(p, p + n);
  if (con.started) con.device->clipboard_copy(p, n);
}

const uint8_t* clipboard_text(uint32_t* n) {
  *n = uint32_t(con.clipboard.size());
  return con.clipboard.data();
}
