// Streams: objects, the per-kind character operations, code pages and the
// end-of-file protocol.
#include "io/stream.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/stack.h"
#include "io/console.h"
#include "eval/io_locks.h"
#include "object/arrays.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/reader.h"
#include "text/strings.h"

thread_local uint32_t zv_printer_column = 0;

namespace {

constexpr uint32_t E_NOT_STREAM = 0x1021;  // 4129
constexpr uint32_t E_IO = 0x201F;          // 8223, continuable
constexpr uint32_t E_STREAM_DEADLOCK = 0x1065;  // 4197: message 101
constexpr uint32_t MSG_CONT_RETRY = 32;
constexpr uint16_t COLUMN_MAX = 0xFFFF;

// ---------------------------------------------------------------------------
// Native handles.  Slot 0 stays empty so that 0 means "closed".

// Each slot keeps the lock of the file streams over it for good: a
// thread may still be waiting for it when the file is closed, and a slot
// used again hands the same lock on.
enum HandleKind : uint8_t { H_FREE, H_FILE, H_WINDOW };
struct Handle {
  HandleKind kind;
  void* p;
  StreamLock* lock;
};
std::mutex handles_mutex;
// Never destroyed: the slots' locks stay reachable, and a thread still
// running at exit finds the table.
std::vector<Handle>& handles = *new std::vector<Handle>(1, Handle{H_FREE, nullptr, nullptr});

// The locks of the first slots are also kept where a stream operation finds
// them without the table's mutex: a slot's lock never changes once made.
constexpr uint32_t QUICK_LOCKS = 1024;
std::atomic<StreamLock*> quick_locks[QUICK_LOCKS];

uint32_t handle_add(HandleKind kind, void* p) {
  std::lock_guard<std::mutex> g(handles_mutex);
  for (uint32_t i = 1; i < handles.size(); i++)
    if (handles[i].kind == H_FREE) {
      handles[i].kind = kind;
      handles[i].p = p;
      return i;
    }
  StreamLock* lock = new StreamLock;
  stream_lock_init(lock);
  handles.push_back(Handle{kind, p, lock});
  uint32_t i = uint32_t(handles.size() - 1);
  if (i < QUICK_LOCKS) quick_locks[i].store(lock, std::memory_order_release);
  return i;
}

// The lock of a file stream's slot (the stream may have been closed
// meanwhile: then its operation reports that, under the slot's lock).
StreamLock* handle_lock(uint32_t i) {
  if (i < QUICK_LOCKS) return quick_locks[i].load(std::memory_order_acquire);
  std::lock_guard<std::mutex> g(handles_mutex);
  return i < handles.size() ? handles[i].lock : nullptr;
}

void* handle_get(uint32_t i, HandleKind kind) {
  std::lock_guard<std::mutex> g(handles_mutex);
  return i < handles.size() && handles[i].kind == kind ? handles[i].p : nullptr;
}

// ---------------------------------------------------------------------------
// Code pages.  The printed tables send 1251 codes 0xB0 and 0xB1 onto the
// images of 0xA8 and 0xB8; here they take 866 codes 0xF8 and 0xD8, which
// nothing else produces (0xF8 is the degree sign in both pages), so the
// two conversions are inverse permutations.

struct CodePages {
  uint8_t to866[256];
  uint8_t to1251[256];
  CodePages() {
    for (int c = 0; c < 256; c++) {
      int o = c;
      if (c >= 0xC0 && c <= 0xEF)
        o = c - 64;
      else if (c >= 0xF0)
        o = c - 16;
      else if (c == 0xA8)
        o = 0xF0;
      else if (c == 0xB8)
        o = 0xF1;
      else if (c == 0xB0)
        o = 0xF8;
      else if (c == 0xB1)
        o = 0xD8;
      else if (c >= 0x80 && c <= 0xAF)
        o = c + 48;
      else if (c >= 0xB0 && c <= 0xBF)
        o = c + 64;
      to866[c] = uint8_t(o);
    }
    for (int c = 0; c < 256; c++) to1251[to866[c]] = uint8_t(c);
  }
};
const CodePages code_pages;

// ---------------------------------------------------------------------------
// Helpers

// The last character a file stream handed out, for the reader's echo; 0
// after a put-back so that a character read again is not shown twice.
thread_local int last_read = -1;

[[noreturn]] void closed_stream(Value s) {
  lisp_error(E_WRONG_TYPE, s);
  lisp_fatal_error(E_WRONG_TYPE, s);
}

FILE* open_file(Value s) {
  FILE* f = stream_file(s);
  if (!f) closed_stream(s);
  return f;
}

Window* open_window(Value s) {
  Window* w = stream_window(s);
  if (!w) closed_stream(s);
  return w;
}

bool oem(Value s) { return stream_hi(s) & FSF_OEM; }

// An I/O error on a file: continuable; continuing clears it and retries.
void file_error(Value s, FILE* f) {
  int err = errno;
  Value name = stream_name(s);
  root_push(&name);
  Value text = str_from_cstr(std::strerror(err));
  root_pop();
  Value objects[2] = {name, text};
  lisp_cerror(MSG_CONT_RETRY, E_IO, objects);
  std::clearerr(f);
}

void advance_column(Value s, int c) {
  uint32_t col = stream_lo(s);
  stream_set_lo(s, (c & 0xFF) == '\n' ? 0 : col < COLUMN_MAX ? col + 1 : col);
}

// Input string streams keep the read index and the end in the two halves
// of word 1, and their bits above 16 in word 2, so strings longer than
// 64K characters read correctly.
uint32_t string_index(Value s) { return stream_lo(s) | ((heap_word(s, 2) & 0xFFFF) << 16); }
uint32_t string_end(Value s) { return stream_hi(s) | ((heap_word(s, 2) >> 16) << 16); }
void string_set_index(Value s, uint32_t i) {
  stream_set_lo(s, i);
  heap_set_word(s, 2, (heap_word(s, 2) & 0xFFFF0000u) | (i >> 16));
}

int file_read_char(Value s) {
  FILE* f = open_file(s);
  for (;;) {
    int c = std::getc(f);
    if (c != EOF) {
      if (c >= 128 && oem(s)) c = code_pages.to1251[c];
      if ((hdr_u8(HDR_SWITCHES) & SW_READER) && last_read != 0)
        stream_write_char(sym_value(FS_TERMINAL_IO), c);
      last_read = c;
      return c;
    }
    if (!std::ferror(f)) return -1;
    root_push(&s);
    file_error(s, f);
    root_pop();
    f = open_file(s);
  }
}

int string_read_char(Value s) {
  uint32_t i = string_index(s), end = string_end(s);
  if (i < end) {
    string_set_index(s, i + 1);
    return string_bytes(heap_word(s, 0))[i];
  }
  // One step past the end, so that a put-back after the end of file
  // leaves the stream at its end.
  if (i == end) string_set_index(s, i + 1);
  return -1;
}

void file_write_char(Value s, int c) {
  uint8_t b = uint8_t(c);
  if (b >= 128 && oem(s)) b = code_pages.to866[b];
  for (;;) {
    FILE* f = open_file(s);
    if (std::putc(b, f) != EOF || !std::ferror(f)) break;
    root_push(&s);
    file_error(s, f);
    root_pop();
  }
  advance_column(s, c);
}

void string_write_char(Value s, int c) {
  root_push(&s);
  Value str = str_append_char(heap_word(s, 0), uint8_t(c));
  root_pop();
  heap_set_word(s, 0, str);
  advance_column(s, c);
}

// ---------------------------------------------------------------------------
// Composite streams.  Each character operation is passed on to the
// component streams; the stream itself is rooted across every call, and
// its words are read again after each, since a component may allocate.

void raw_write_char(Value s, int c);
Value check_stream(Value s, bool input);

// The stream a synonym stream stands for now: the value of its symbol,
// which must be a stream of the direction needed.  Chains of synonyms are
// followed, a loop of them is an error.
Value synonym_target(Value s, bool input) {
  for (uint32_t depth = 0; is_composite_stream(s) && composite_kind(s) == COMPOSITE_SYNONYM;
       depth++) {
    Value v = sym_value(symbol_index(heap_word(s, 1)));
    if (depth > 64 || is_no_value(v)) return lisp_error(E_WRONG_TYPE, heap_word(s, 1));
    s = v;
  }
  return check_stream(s, input);
}

int composite_read_char(Value s) {
  root_push(&s);
  int c = -1;
  switch (composite_kind(s)) {
    case COMPOSITE_SYNONYM:
      c = stream_read_char(synonym_target(s, true));
      break;
    case COMPOSITE_TWO_WAY:
      c = stream_read_char(heap_word(s, 1));
      break;
    case COMPOSITE_ECHO: {
      c = stream_read_char(heap_word(s, 1));
      if (c < 0) break;
      int32_t back = fixnum_value(heap_word(s, 3));
      if (back > 0)
        heap_set_word(s, 3, make_fixnum(back - 1));
      else
        raw_write_char(heap_word(s, 2), c);
      break;
    }
    case COMPOSITE_CONCATENATED:
      // A stream read to its end is dropped; the next one goes on.
      while (cons_p(heap_word(s, 1))) {
        c = stream_read_char(car(heap_word(s, 1)));
        if (c >= 0) break;
        heap_set_word(s, 1, cdr(heap_word(s, 1)));
      }
      break;
  }
  root_pop();
  return c;
}

void composite_unread_char(Value s, int c) {
  root_push(&s);
  switch (composite_kind(s)) {
    case COMPOSITE_SYNONYM:
      stream_unread_char(synonym_target(s, true), c);
      break;
    case COMPOSITE_TWO_WAY:
      stream_unread_char(heap_word(s, 1), c);
      break;
    case COMPOSITE_ECHO:
      stream_unread_char(heap_word(s, 1), c);
      heap_set_word(s, 3, make_fixnum(fixnum_value(heap_word(s, 3)) + 1));
      break;
    case COMPOSITE_CONCATENATED:
      if (cons_p(heap_word(s, 1))) stream_unread_char(car(heap_word(s, 1)), c);
      break;
  }
  root_pop();
}

void composite_write_char(Value s, int c) {
  root_push(&s);
  switch (composite_kind(s)) {
    case COMPOSITE_SYNONYM:
      raw_write_char(synonym_target(s, false), c);
      break;
    case COMPOSITE_BROADCAST: {
      Value l = heap_word(s, 1);
      root_push(&l);
      for (; cons_p(l); l = cdr(l)) raw_write_char(car(l), c);
      root_pop();
      break;
    }
    case COMPOSITE_TWO_WAY:
    case COMPOSITE_ECHO:
      raw_write_char(heap_word(s, 2), c);
      break;
  }
  root_pop();
}

// The stream an input operation of a composite stream reads from, or NIL.
Value stream_input_target(Value s) {
  while (is_composite_stream(s)) {
    switch (composite_kind(s)) {
      case COMPOSITE_SYNONYM:
        s = synonym_target(s, true);
        break;
      case COMPOSITE_TWO_WAY:
      case COMPOSITE_ECHO:
        s = heap_word(s, 1);
        break;
      case COMPOSITE_CONCATENATED:
        s = cons_p(heap_word(s, 1)) ? car(heap_word(s, 1)) : NIL;
        break;
      default:
        return NIL;
    }
  }
  return s;
}

// A replacement value from the error is checked again.
Value check_stream(Value s, bool input) {
  while (!is_stream(s) || !(input ? stream_is_input(s) : stream_is_output(s)))
    s = lisp_error(E_WRONG_TYPE, s);
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// Handles

uint32_t handle_add_file(FILE* f) { return handle_add(H_FILE, f); }
uint32_t handle_add_window(Window* w) { return handle_add(H_WINDOW, w); }
FILE* handle_file(uint32_t i) { return static_cast<FILE*>(handle_get(i, H_FILE)); }
Window* handle_window(uint32_t i) { return static_cast<Window*>(handle_get(i, H_WINDOW)); }

void handle_release_files() {
  std::lock_guard<std::mutex> g(handles_mutex);
  for (Handle& h : handles)
    if (h.kind == H_FILE) {
      h.kind = H_FREE;
      h.p = nullptr;
    }
}

void handle_release(uint32_t i) {
  std::lock_guard<std::mutex> g(handles_mutex);
  if (i > 0 && i < handles.size()) {
    handles[i].kind = H_FREE;
    handles[i].p = nullptr;
  }
}

// ---------------------------------------------------------------------------
// Stream locks of whole operations

namespace {

// The locks one operation takes, each once, in a fixed order: the console
// locks (keys 1 and 2) before the stream locks (by address), so that two
// operations needing the same locks never wait for each other.
constexpr uintptr_t KEY_CONSOLE_INPUT = 1, KEY_CONSOLE_OUTPUT = 2;
struct LockSet {
  uint32_t n = 0;
  uintptr_t key[16];
  void add(uintptr_t k) {
    for (uint32_t i = 0; i < n; i++)
      if (key[i] == k) return;
    if (n == 16) return;  // a broadcast this wide passes on unlocked beyond here
    uint32_t i = n++;
    for (; i > 0 && key[i - 1] > k; i--) key[i] = key[i - 1];
    key[i] = k;
  }
  void add(StreamLock* l) {
    if (l) add(reinterpret_cast<uintptr_t>(l));
  }
};

// What an operation of the given direction on s reaches, without signalling
// anything: a component that is no stream is the operation's own error.
// Composite streams reach their components; the echo and concatenated
// kinds also change words of their own, which the shared lock covers.
void collect_locks(Value s, bool output, LockSet* set, uint32_t depth) {
  if (!is_stream(s) || depth > 64) return;
  switch (stream_kind(s)) {
    case HT_FILE:
      set->add(handle_lock(stream_handle_index(s)));
      return;
    case HT_WINDOW:
      set->add(output ? KEY_CONSOLE_OUTPUT : KEY_CONSOLE_INPUT);
      return;
    case HT_COMPOSITE_STREAM:
      break;
    default:
      set->add(stream_lock_shared());
      return;
  }
  Value a = heap_word(s, 1), b = heap_word(s, 2);
  switch (composite_kind(s)) {
    case COMPOSITE_SYNONYM:
      collect_locks(sym_value(symbol_index(a)), output, set, depth + 1);
      break;
    case COMPOSITE_BROADCAST:
      for (uint32_t k = 0; cons_p(a) && k < 16; a = cdr(a), k++)
        collect_locks(car(a), true, set, depth + 1);
      break;
    case COMPOSITE_CONCATENATED:
      set->add(stream_lock_shared());
      if (cons_p(a)) collect_locks(car(a), false, set, depth + 1);
      break;
    case COMPOSITE_TWO_WAY:
      collect_locks(output ? b : a, output, set, depth + 1);
      break;
    case COMPOSITE_ECHO:
      set->add(stream_lock_shared());
      if (!output) collect_locks(a, false, set, depth + 1);
      collect_locks(b, true, set, depth + 1);
      break;
  }
}

}  // namespace

uint32_t stream_hold(Value s, bool output) {
  uint32_t mark = io_holds_mark();
  LockSet set;
  collect_locks(s, output, &set, 0);
  root_push(&s);
  for (uint32_t i = 0; i < set.n; i++) {
    if (set.key[i] == KEY_CONSOLE_INPUT) {
      hold_console_input();
    } else if (set.key[i] == KEY_CONSOLE_OUTPUT) {
      hold_console_output();
    } else if (!hold_stream_lock(reinterpret_cast<StreamLock*>(set.key[i]))) {
      // Waiting would never end: give up what this operation took, and
      // say so; the operation that holds the other lock goes on.
      root_pop();
      stream_unhold(mark);
      lisp_error(E_STREAM_DEADLOCK, s);
      return mark;
    }
  }
  root_pop();
  return mark;
}

void stream_unhold(uint32_t mark) { io_holds_release(mark); }

// ---------------------------------------------------------------------------
// Making streams

Value make_stream(uint8_t type, Value name, uint32_t word1, uint32_t handle) {
  root_push(&name);
  Value s = mem_alloc_object(3, type, 2);
  root_pop();
  heap_set_word(s, 0, name);
  heap_set_word(s, 1, word1);
  heap_set_word(s, 2, handle);
  return s;
}

Value make_file_stream(uint8_t type, Value name, FILE* f, uint16_t flags) {
  uint32_t h = handle_add_file(f);
  return make_stream(type, name, uint32_t(flags) << 16, h);
}

Value make_window_stream(Value name, Window* w) {
  return make_stream(STREAM_WINDOW, name, 0, handle_add_window(w));
}

Value make_string_input_stream(Value str, uint32_t start, uint32_t end) {
  Value s = make_stream(STREAM_STRING_IN, str, 0, 0);
  heap_set_word(s, 1, (start & 0xFFFF) | (end << 16));
  heap_set_word(s, 2, (start >> 16) | (end >> 16 << 16));
  return s;
}

Value make_string_output_stream() {
  Value str = str_make(0);
  return make_stream(STREAM_STRING_OUT, str, 0, 0);
}

Value make_composite_stream(uint32_t kind, Value a, Value b) {
  root_push(&a);
  root_push(&b);
  uint8_t direction = 0xC0;
  switch (kind) {
    case COMPOSITE_SYNONYM:
      while (!is_symbol(a) || nil_p(a)) a = lisp_error(E_WRONG_TYPE, a);
      a = make_symbol(symbol_index(a));
      b = NIL;
      break;
    case COMPOSITE_BROADCAST:
    case COMPOSITE_CONCATENATED: {
      bool input = kind == COMPOSITE_CONCATENATED;
      direction = input ? 0x40 : 0x80;
      Value l = a;
      root_push(&l);
      for (; cons_p(l); l = cdr(l)) check_stream(car(l), input);
      root_pop();
      while (!is_list(a)) a = lisp_error(E_WRONG_TYPE, a);
      b = NIL;
      break;
    }
    default:  // two-way, echo
      a = check_stream(a, true);
      b = check_stream(b, false);
      break;
  }
  Value s = mem_alloc_object(4, uint8_t(HT_COMPOSITE_STREAM | direction));
  heap_set_word(s, 0, make_fixnum(int32_t(kind)));
  heap_set_word(s, 1, a);
  heap_set_word(s, 2, b);
  heap_set_word(s, 3, make_fixnum(0));
  root_pop(2);
  return s;
}

Value string_output_contents(Value s) {
  Value text = heap_word(s, 0);
  root_push(&s);
  root_push(&text);
  Value fresh = str_make(0);
  root_pop(2);
  heap_set_word(s, 0, fresh);
  stream_set_lo(s, 0);
  return text;
}

// ---------------------------------------------------------------------------
// Designators

Value input_stream(Value d) {
  if (nil_p(d))
    d = sym_value(FS_STANDARD_INPUT);
  else if (d == T)
    d = sym_value(FS_TERMINAL_IO);
  return check_stream(d, true);
}

Value output_stream(Value d) {
  if (nil_p(d))
    d = sym_value(FS_STANDARD_OUTPUT);
  else if (d == T)
    d = sym_value(FS_TERMINAL_IO);
  return check_stream(d, false);
}

// ---------------------------------------------------------------------------
// Character operations

int stream_read_char(Value s) {
  switch (stream_kind(s)) {
    case HT_FILE:
      return file_read_char(s);
    case HT_WINDOW:
      return window_read_char(open_window(s));
    case HT_COMPOSITE_STREAM:
      return composite_read_char(s);
    default:
      return string_read_char(s);
  }
}

void stream_unread_char(Value s, int c) {
  last_read = 0;
  switch (stream_kind(s)) {
    case HT_COMPOSITE_STREAM:
      composite_unread_char(s, c);
      break;
    case HT_FILE:
      if (c >= 0) {
        uint8_t b = uint8_t(c);
        if (b >= 128 && oem(s)) b = code_pages.to866[b];
        std::ungetc(b, open_file(s));
      }
      break;
    case HT_WINDOW:
      window_unread_char(open_window(s), c);
      break;
    default: {
      uint32_t i = string_index(s);
      if (i > 0) string_set_index(s, i - 1);
    }
  }
}

void stream_write_char(Value s, int c) {
  zv_printer_column = (c & 0xFF) == '\n' ? 0 : zv_printer_column + 1;
  raw_write_char(s, c);
}

namespace {
// Writing without the thread's printer column, which follows the
// outermost stream only.
void raw_write_char(Value s, int c) {
  switch (stream_kind(s)) {
    case HT_FILE:
      file_write_char(s, c);
      break;
    case HT_WINDOW:
      window_write_char(open_window(s), c);
      break;
    case HT_COMPOSITE_STREAM:
      composite_write_char(s, c);
      break;
    default:
      string_write_char(s, c);
  }
}
}  // namespace

void stream_write_bytes(Value s, const char* p, uint32_t n) {
  root_push(&s);
  for (uint32_t i = 0; i < n; i++) stream_write_char(s, uint8_t(p[i]));
  root_pop();
}

void stream_write_string(Value s, Value str, uint32_t start, uint32_t end) {
  root_push(&s);
  root_push(&str);
  for (uint32_t i = start; i < end; i++) stream_write_char(s, string_bytes(str)[i]);
  root_pop(2);
}

void stream_write_cstr(Value s, const char* p) {
  stream_write_bytes(s, p, uint32_t(std::strlen(p)));
}

Value stream_output_target(Value s) {
  for (uint32_t depth = 0; is_composite_stream(s); depth++) {
    if (depth > 64) return NIL;
    switch (composite_kind(s)) {
      case COMPOSITE_SYNONYM: {
        Value v = sym_value(symbol_index(heap_word(s, 1)));
        s = is_stream(v) ? v : NIL;
        break;
      }
      case COMPOSITE_BROADCAST: {
        Value l = heap_word(s, 1);
        while (cons_p(l) && cons_p(cdr(l))) l = cdr(l);
        s = cons_p(l) ? car(l) : NIL;
        break;
      }
      case COMPOSITE_TWO_WAY:
      case COMPOSITE_ECHO:
        s = heap_word(s, 2);
        break;
      default:
        return NIL;
    }
  }
  return s;
}

uint32_t stream_column(Value s) {
  s = stream_output_target(s);
  if (nil_p(s)) return 0;
  if (stream_kind(s) == HT_WINDOW) return window_column(open_window(s));
  return stream_lo(s);
}

bool stream_breaks_lines(Value s) {
  s = stream_output_target(s);
  return !nil_p(s) && stream_kind(s) == HT_WINDOW && console_is_screen();
}

uint32_t stream_window_attribute(Value s) {
  s = stream_output_target(s);
  Window* w = stream_kind(s) == HT_WINDOW ? stream_window(s) : nullptr;
  return w ? w->attribute : 0;
}

void stream_set_window_attribute(Value s, uint32_t attribute) {
  s = stream_output_target(s);
  Window* w = stream_kind(s) == HT_WINDOW ? stream_window(s) : nullptr;
  if (!w) return;
  w->attribute = attribute;
  window_forget_current();
}

uint32_t stream_right_margin(Value s) {
  if (stream_breaks_lines(s)) return window_width(open_window(stream_output_target(s)));
  Value m = sym_value(FS_PRINT_RIGHT_MARGIN);
  return is_fixnum(m) && fixnum_value(m) > 0 ? uint32_t(fixnum_value(m)) : 78;
}

uint8_t cp1251_to_866(uint8_t c) { return code_pages.to866[c]; }
uint8_t cp866_to_1251(uint8_t c) { return code_pages.to1251[c]; }

// ---------------------------------------------------------------------------
// The input entry wrapper and the end-of-file protocol

Value stream_read_with(ReaderFn fn, Value stream, uint32_t flags, Value eof_value) {
  if (!is_stream(stream) || !stream_is_input(stream)) return lisp_error(E_NOT_STREAM, stream);
  if (flags == 0) {
    root_push(&stream);
    uint32_t mark = stream_hold(stream, false);
    root_pop();
    Value v = fn(stream, 0);
    stream_unhold(mark);
    return v;
  }
  // A top-level read starts with no list open; the counters of an outer
  // read (a macro function reading on its own) come back afterwards.
  ReaderCounters saved = reader_save_counters();
  if (flags & RD_TOP_LEVEL) reader_restore_counters(ReaderCounters{});
  Context cx;
  // A top-level read is the reader's descent guard.
  uint16_t guard = (flags & RD_TOP_LEVEL) ? CX_DESCENT : 0;
  context_push(&cx, uint16_t(CX_BLOCKLIKE | guard | flags));
  // The guarded stream lies just below the context, the eof value below
  // it: the stack keeps both where the collector sees them, and they are
  // read back from there after a throw instead of from locals.
  push_anon(stream);
  push_anon(eof_value);
  int code = setjmp(cx.resume);
  if (code == 0) {
    // Taken after the context, so a throw to it gives the locks up.
    uint32_t mark = stream_hold(zvts->stack[cx.index - 1].arg, false);
    Value v = fn(zvts->stack[cx.index - 1].arg, flags & ~RD_EOF_VALUE);
    stream_unhold(mark);
    context_pop(&cx);
    reader_restore_counters(saved);
    return v;
  }
  Value eof = zvts->stack[cx.index - 2].arg;
  context_pop(&cx);
  reader_restore_counters(saved);
  if (code == TC_DESCENT) lisp_fatal_error(E_STACK);
  if (code == TC_CONSOLE) {
    uint16_t next = find_context(CX_LISTENER_DEBUG);
    if (!next) throw_to_listener();
    throw_to(TC_CONSOLE, next);
  }
  zvts->mv_count = 1;
  zvts->glvalue = eof;
  return eof;
}

void stream_end_of_file(Value stream, uint32_t flags) {
  end_of_file(stream, !(flags & RD_TOP_LEVEL));
}

// ---------------------------------------------------------------------------
// Built-ins

namespace {

// What to skip before PEEK-CHAR stops: per thread, like the reader scratch.
enum : int { PEEK_NONE = -1, PEEK_WHITESPACE = -2 };
thread_local int peek_type = PEEK_NONE;
// READ-LINE's second value: the line ended at the end of the file.
thread_local bool line_at_eof = false;

// The optional (stream eof-error-p eof-value recursive-p) arguments from
// position `first`, as the input built-ins take them.
struct InputCall {
  Value stream;
  uint32_t flags;
  Value eof_value;
};

InputCall input_args(uint32_t first) {
  uint32_t n = arg_count();
  if (n >= first + 4) lisp_cerror(MSG_CONT_IGNORE_ARG, E_MANY_ARGS, arg(first + 4));
  n = arg_count();
  InputCall c;
  c.flags = RD_TOP_LEVEL;
  if (n >= first + 3 && !nil_p(arg(first + 3))) c.flags = 0;
  if (n >= first + 1 && nil_p(arg(first + 1))) c.flags |= RD_EOF_VALUE;
  c.eof_value = n >= first + 2 ? arg(first + 2) : NIL;
  c.stream = input_stream(n >= first ? arg(first) : NIL);
  return c;
}

Value run_input(ReaderFn fn, uint32_t first) {
  InputCall c = input_args(first);
  return stream_read_with(fn, c.stream, c.flags, c.eof_value);
}

// A read may wait where another thread's collection moves the stream.
Value reader_read_char(Value s, uint32_t flags) {
  root_push(&s);
  int c = stream_read_char(s);
  root_pop();
  if (c < 0) {
    stream_end_of_file(s, flags);
    return NIL;
  }
  return make_char(uint32_t(c));
}

bool peek_stops(int c) {
  if (peek_type == PEEK_NONE) return true;
  if (peek_type == PEEK_WHITESPACE) return reader_syntax_class(c) != 2;
  return c == peek_type;
}

Value reader_peek_char(Value s, uint32_t flags) {
  root_push(&s);
  for (;;) {
    int c = stream_read_char(s);
    if (c < 0) {
      root_pop();
      stream_end_of_file(s, flags);
      return NIL;
    }
    if (peek_stops(c)) {
      stream_unread_char(s, c);
      root_pop();
      return make_char(uint32_t(c));
    }
  }
}

Value reader_read_line(Value s, uint32_t flags) {
  Value line = NIL;
  root_push(&s);
  root_push(&line);
  uint8_t chunk[128];
  uint32_t n = 0, total = 0;
  int c;
  while ((c = stream_read_char(s)) >= 0 && c != '\n') {
    chunk[n++] = uint8_t(c);
    if (n == sizeof chunk) {
      line = nil_p(line) ? str_from_bytes(chunk, n) : str_resize(line, total + n);
      if (total) std::memcpy(string_bytes(line) + total, chunk, n);
      total += n;
      n = 0;
    }
  }
  if (c < 0 && total + n == 0) {
    root_pop(2);
    stream_end_of_file(s, flags);
    return NIL;
  }
  if (nil_p(line)) {
    line = str_from_bytes(chunk, n);
  } else if (n) {
    line = str_resize(line, total + n);
    std::memcpy(string_bytes(line) + total, chunk, n);
  }
  line_at_eof = c < 0;
  root_pop(2);
  return line;
}

Value reader_read_char_no_hang(Value s, uint32_t flags) {
  if (stream_kind(s) != HT_WINDOW) return reader_read_char(s, flags);
  int c = window_read_char_no_hang(open_window(s));
  if (c == -1) {
    stream_end_of_file(s, flags);
    return NIL;
  }
  return c < 0 ? NIL : make_char(uint32_t(c));
}

// Element size in bytes of a binary file stream, 0 for a character one.
uint32_t element_bytes(Value s) {
  uint32_t code = (stream_hi(s) & FSF_SIZE_MASK) >> 1;
  return code ? 1u << (code - 1) : 0;
}

Value binary_file(Value s, bool input) {
  while (!is_file_stream(s) || element_bytes(s) == 0 ||
         !(input ? stream_is_input(s) : stream_is_output(s)))
    s = lisp_error(E_WRONG_TYPE, s);
  return s;
}

uint32_t index_arg(Value v, uint32_t dflt, uint32_t max) {
  if (nil_p(v)) return dflt;
  while (!is_fixnum(v) || fixnum_value(v) < 0 || uint32_t(fixnum_value(v)) > max)
    v = lisp_error(E_WRONG_TYPE, v);
  return uint32_t(fixnum_value(v));
}

Value stream_arg(Value s) {
  while (!is_stream(s)) s = lisp_error(E_WRONG_TYPE, s);
  return s;
}

}  // namespace

// 322 CLEAR-INPUT.  A file keeps its buffered input: dropping it would
// lose data of a disk file, and a file has no type-ahead to discard.
Value bi_clear_input(Value, Value) {
  check_max_args(1);
  Value s = stream_input_target(input_stream(arg_count() ? arg(1) : NIL));
  if (!nil_p(s) && stream_kind(s) == HT_WINDOW) window_clear_input(open_window(s));
  return NIL;
}

// 324 LISTEN
Value bi_listen(Value, Value) {
  check_max_args(1);
  Value s = stream_input_target(input_stream(arg_count() ? arg(1) : NIL));
  if (nil_p(s)) return NIL;
  switch (stream_kind(s)) {
    case HT_FILE:
      return bool_value(!std::feof(open_file(s)));
    case HT_WINDOW:
      return bool_value(window_listen(open_window(s)));
    default:
      return bool_value(string_index(s) < string_end(s));
  }
}

// 325 PEEK-CHAR (&optional peek-type stream eof-error-p eof-value recursive-p)
Value bi_peek_char(Value, Value) {
  Value type = arg_count() ? arg(1) : NIL;
  int saved = peek_type;
  peek_type = nil_p(type)                ? PEEK_NONE
              : tag_of(type) == TAG_CHAR ? int(type & 0xFF)
                                         : PEEK_WHITESPACE;
  Value v = run_input(reader_peek_char, 2);
  peek_type = saved;
  return v;
}

Value bi_read(Value, Value) { return run_input(read_object, 1); }
// 469 %READ-SUPPRESSED (&optional stream eof-error-p eof-value recursive-p):
// READ under *READ-SUPPRESS*: NIL, or the eof value at the end.
Value bi_read_suppressed(Value, Value) {
  InputCall c = input_args(1);
  Value eof = c.eof_value;
  root_push(&eof);
  Value x = stream_read_with(read_suppressed_object, c.stream, c.flags, c.eof_value);
  root_pop();
  return (c.flags & RD_EOF_VALUE) && x == eof ? x : NIL;
}
// READ-CHAR and READ-CHAR-NO-HANG take a window's keys one at a time, not
// edited lines.
Value bi_read_char(Value, Value) {
  bool was = console_set_char_mode(true);
  Value v = run_input(reader_read_char, 1);
  console_set_char_mode(was);
  return v;
}
Value bi_read_char_no_hang(Value, Value) {
  bool was = console_set_char_mode(true);
  Value v = run_input(reader_read_char_no_hang, 1);
  console_set_char_mode(was);
  return v;
}

// 329 READ-LINE: the line and whether it ended at the end of the file.
Value bi_read_line(Value, Value) {
  line_at_eof = true;  // stays so when the end of file returns the eof value
  Value v = run_input(reader_read_line, 1);
  Value values[2] = {v, bool_value(line_at_eof)};
  return set_values(2, values);
}

// 332 UNREAD-CHAR (char &optional stream)
Value bi_unread_char(Value, Value) {
  check_max_args(2);
  Value ch = arg(1);
  while (tag_of(ch) != TAG_CHAR) ch = lisp_error(E_WRONG_TYPE, ch);
  root_push(&ch);
  Value s = input_stream(arg_count() >= 2 ? arg(2) : NIL);
  root_push(&s);
  uint32_t mark = stream_hold(s, false);
  stream_unread_char(s, int(ch & 0xFF));
  stream_unhold(mark);
  root_pop(2);
  return NIL;
}

// 333 READ-BYTE (stream &optional eof-error-p eof-value): unsigned,
// little-endian elements of 1, 2 or 4 bytes.
Value bi_read_byte(Value, Value) {
  check_max_args(3);
  uint32_t n = arg_count();
  Value s = binary_file(arg(1), true);
  root_push(&s);
  uint32_t mark = stream_hold(s, false);
  uint32_t size = element_bytes(s), x = 0;
  FILE* f = open_file(s);
  bool eof = false;
  for (uint32_t i = 0; i < size && !eof; i++) {
    int b = std::getc(f);
    eof = b == EOF;
    x |= uint32_t(b & 0xFF) << (8 * i);
  }
  stream_unhold(mark);
  root_pop();
  if (eof) {
    if (n >= 2 && nil_p(arg(2))) return n >= 3 ? arg(3) : NIL;
    return lisp_error(E_EOF, s);
  }
  return mem_make_integer(int64_t(x));
}

// 342 WRITE-BYTE (integer stream)
Value bi_write_byte(Value x, Value s) {
  root_push(&x);
  s = binary_file(s, false);
  while (!is_fixnum(x) && tag_of(x) != TAG_INT64) x = lisp_error(E_WRONG_TYPE, x);
  root_pop();
  int64_t v = is_fixnum(x) ? fixnum_value(x) : int64_value(x);
  uint32_t size = element_bytes(s);
  root_push(&x);
  root_push(&s);
  uint32_t mark = stream_hold(s, true);
  root_pop(2);
  for (uint32_t i = 0; i < size; i++) {
    for (;;) {
      FILE* f = open_file(s);
      if (std::putc(int((uint64_t(v) >> (8 * i)) & 0xFF), f) != EOF || !std::ferror(f)) break;
      root_push(&x);
      root_push(&s);
      file_error(s, f);
      root_pop(2);
    }
  }
  stream_unhold(mark);
  return x;
}

// 359 GET-OUTPUT-STREAM-STRING
Value bi_get_output_stream_string(Value s, Value) {
  while (!is_stream(s) || heap_type(s) != STREAM_STRING_OUT) s = lisp_error(E_WRONG_TYPE, s);
  return string_output_contents(s);
}

// 361 MAKE-STRING-INPUT-STREAM (string &optional start end)
Value bi_make_string_input_stream(Value, Value) {
  check_max_args(3);
  uint32_t n = arg_count();
  Value str = arr_simplify_arg(1);
  while (!is_string(str)) str = lisp_error(E_WRONG_TYPE, str);
  root_push(&str);
  uint32_t len = string_length(str);
  uint32_t end = index_arg(n >= 3 ? arg(3) : NIL, len, len);
  uint32_t start = index_arg(n >= 2 ? arg(2) : NIL, 0, end);
  root_pop();
  return make_string_input_stream(str, start, end);
}

Value bi_make_string_output_stream(Value, Value) { return make_string_output_stream(); }

// 365 position: the read index of an input string stream, else the column.
Value bi_stream_position(Value s, Value) {
  s = stream_arg(s);
  if (heap_type(s) == STREAM_STRING_IN) {
    uint32_t i = string_index(s), end = string_end(s);
    return make_fixnum(int32_t(i < end ? i : end));
  }
  return make_fixnum(int32_t(stream_column(s)));
}

Value bi_streamp(Value s, Value) { return bool_value(is_stream(s)); }

// 367 external format
Value bi_stream_external_format(Value s, Value) {
  s = stream_arg(s);
  if (stream_kind(s) == HT_FILE && element_bytes(s)) return NIL;
  if (stream_kind(s) == HT_WINDOW || (stream_kind(s) == HT_FILE && oem(s)))
    return make_keyword(FS_CP866);
  return make_keyword(FS_CP1251);
}

// 368 STREAM-ELEMENT-TYPE
Value bi_stream_element_type(Value s, Value) {
  s = stream_arg(s);
  uint32_t size = stream_kind(s) == HT_FILE ? element_bytes(s) : 0;
  if (size == 0) return make_symbol(FS_CHARACTER);
  if (size == 1) return make_symbol(FS_UNSIGNED_BYTE);
  Value bits = cons(make_fixnum(int32_t(8 * size)), NIL);
  return cons(make_symbol(FS_UNSIGNED_BYTE), bits);
}

// 468 %MAKE-COMPOSITE-STREAM (kind a b): kind 1 synonym (a the symbol), 2
// broadcast (a the output streams), 3 concatenated (a the input streams),
// 4 two-way and 5 echo (a the input stream, b the output stream).
Value bi_make_composite_stream(Value, Value) {
  Value kind = arg(1);
  while (!is_fixnum(kind) || fixnum_value(kind) < int32_t(COMPOSITE_SYNONYM) ||
         fixnum_value(kind) > int32_t(COMPOSITE_ECHO))
    kind = lisp_error(E_WRONG_TYPE, kind);
  return make_composite_stream(uint32_t(fixnum_value(kind)), arg(2), arg(3));
}

// 520 %CALL-WITH-STREAM-HELD (stream output-p function): calls the function
// with no arguments holding the locks of the stream (a designator of the
// direction output-p says) throughout, so that output functions written in
// Lisp (WRITE-LINE, PPRINT) are whole operations too; the function's values.
Value bi_call_with_stream_held(Value, Value) {
  bool output = !nil_p(arg(2));
  Value s = output ? output_stream(arg(1)) : input_stream(arg(1));
  uint32_t mark = stream_hold(s, output);
  Value v = call_function0(arg(3));
  stream_unhold(mark);
  return v;
}
