// Streams: file, window and string stream objects and the character
// interface that the reader, the printer and formatted output share.
//
// A stream is a three-word heap object under tag 0x60.  Its type byte holds
// the kind in the low six bits and the direction in the top two:
//   word 0  name (file, window) or the string (string streams)
//   word 1  low half: column, or the read index of an input string stream;
//           high half: file flags, or the end index of an input string stream
//   word 2  index into the native handle table (FILE* or window record),
//           0 once closed; never a host pointer, so images stay portable
#pragma once

#include <cstdint>
#include <cstdio>

#include "object/value.h"

// Type bytes in use.
enum : uint8_t {
  STREAM_FILE_IN = 0x51,
  STREAM_FILE_OUT = 0x91,
  STREAM_FILE_IO = 0xD1,
  STREAM_WINDOW = 0xD2,
  STREAM_STRING_IN = 0x53,
  STREAM_STRING_OUT = 0x93,
};

// File stream flags (high half of word 1).
enum : uint16_t {
  FSF_BACKUP = 0x01,     // a .BAK copy was made at open
  FSF_SIZE_MASK = 0x06,  // element size code s: 0 characters, else 1 << (s-1) bytes
  FSF_OEM = 0x08,        // 1251 in memory, 866 in the file
};

// ---------------------------------------------------------------------------
// Object tests and fields

inline uint8_t stream_kind(Value s) { return heap_type(s) & STREAM_KIND_MASK; }
inline bool stream_is_input(Value s) { return heap_type(s) & 0x40; }
inline bool stream_is_output(Value s) { return heap_type(s) & 0x80; }
inline Value stream_name(Value s) { return heap_word(s, 0); }
inline uint32_t stream_handle_index(Value s) { return heap_word(s, 2); }
inline uint16_t stream_lo(Value s) { return heap_word(s, 1) & 0xFFFF; }
inline uint16_t stream_hi(Value s) { return heap_word(s, 1) >> 16; }
inline void stream_set_lo(Value s, uint32_t x) {
  heap_set_word(s, 1, (heap_word(s, 1) & 0xFFFF0000u) | (x & 0xFFFF));
}
inline void stream_set_hi(Value s, uint32_t x) {
  heap_set_word(s, 1, (heap_word(s, 1) & 0xFFFF) | (x << 16));
}
// A file stream is one of kind 17 that is still open.
inline bool is_file_stream(Value s) {
  return is_stream(s) && stream_kind(s) == 17 && stream_handle_index(s) != 0;
}
inline bool is_window_stream(Value s) { return is_stream(s) && stream_kind(s) == 18; }
inline bool is_string_stream(Value s) { return is_stream(s) && stream_kind(s) == 19; }

// Composite streams (kind 21) pass their characters on to other streams.
// They hold Values only:
//   word 0  the kind, a fixnum (below)
//   word 1  synonym: the symbol whose value is the stream; broadcast: the
//           list of output streams; concatenated: the list of input
//           streams not yet read to their end; two-way and echo: the input
//           stream
//   word 2  two-way and echo: the output stream; otherwise NIL
//   word 3  echo: how many characters were put back, which are not echoed
//           again when read; otherwise 0
enum : uint32_t {
  COMPOSITE_SYNONYM = 1,
  COMPOSITE_BROADCAST = 2,
  COMPOSITE_CONCATENATED = 3,
  COMPOSITE_TWO_WAY = 4,
  COMPOSITE_ECHO = 5,
};
inline bool is_composite_stream(Value v) {
  return is_stream(v) && stream_kind(v) == HT_COMPOSITE_STREAM;
}
inline uint32_t composite_kind(Value s) { return uint32_t(fixnum_value(heap_word(s, 0))); }

// ---------------------------------------------------------------------------
// Native handles: the table that word 2 of file and window streams indexes.
// Index 0 means "none".

struct Window;  // console window record (io/console.h)

uint32_t handle_add_file(FILE* f);
uint32_t handle_add_window(Window* w);
FILE* handle_file(uint32_t index);      // null unless a file handle
Window* handle_window(uint32_t index);  // null unless a window handle
void handle_release(uint32_t index);    // the slot only; the owner closes
// Every file slot, once their files are closed (the world that owned them
// has been replaced).
void handle_release_files();

inline FILE* stream_file(Value s) { return handle_file(stream_handle_index(s)); }
inline Window* stream_window(Value s) { return handle_window(stream_handle_index(s)); }

// ---------------------------------------------------------------------------
// Making streams

// A stream object of the given type byte; word 2 receives the handle index.
Value make_stream(uint8_t type, Value name, uint32_t word1, uint32_t handle);
// File stream over an open FILE*; flags as FSF_*.
Value make_file_stream(uint8_t type, Value name, FILE* f, uint16_t flags);
Value make_window_stream(Value name, Window* w);
Value make_string_input_stream(Value str, uint32_t start, uint32_t end);
Value make_string_output_stream();
// GET-OUTPUT-STREAM-STRING: the text so far; the stream starts afresh.
Value string_output_contents(Value s);
// A composite stream of the kind over a and b (word 1 and word 2); the
// components are checked.
Value make_composite_stream(uint32_t kind, Value a, Value b);
// The stream a composite stream writes to when it is one stream (synonym,
// two-way, echo; the last of a broadcast), NIL when there is none; any
// other stream is its own.  Columns and margins are those of this stream.
Value stream_output_target(Value s);

// ---------------------------------------------------------------------------
// Designators: NIL and T resolved through symbols 0xCE/0xCF and 0xD2; the
// result must be a stream of the right direction, else error 5170.

Value input_stream(Value designator);
Value output_stream(Value designator);

// ---------------------------------------------------------------------------
// Whole operations

// The entry points of stream operations (a PRINT, a READ-LINE, a FORMAT,
// a WRITE-STRING) hold the locks of their stream from start to end, so
// that two threads using one stream interleave whole operations:
//
//   uint32_t mark = stream_hold(s, true);
//   ... write ...
//   stream_unhold(mark);
//
// The locks are recursive (Lisp code run inside may use the stream again),
// and a non-local exit out of the operation gives them up.  Waiting for a
// lock may let a collection run: every Value the caller goes on with must
// be rooted.  A stream made for this one operation needs no lock.
uint32_t stream_hold(Value s, bool output);
void stream_unhold(uint32_t mark);

// ---------------------------------------------------------------------------
// Character operations

// Reading may leave through a throw (end of file, errors) and a window read
// may print the prompt; writing to a string stream allocates.  A window
// read can also return a key code (0x100 and up).
int stream_read_char(Value s);  // 0..255, or -1 at end of file
void stream_unread_char(Value s, int c);
// c: the code in bits 0-7; a window uses a font in bits 16-23 for it.
void stream_write_char(Value s, int c);
// p must not point into the heap: writing may move it.  For the text of a
// Lisp string use stream_write_string.
void stream_write_bytes(Value s, const char* p, uint32_t n);
void stream_write_cstr(Value s, const char* p);
void stream_write_string(Value s, Value str, uint32_t start, uint32_t end);
uint32_t stream_column(Value s);
uint32_t stream_right_margin(Value s);
// Whether printing breaks lines at the stream's width: a window shown on
// a screen.  In line mode a window prints as a string stream does.
bool stream_breaks_lines(Value s);
// The console attribute a window stream writes its text in (0 for other
// streams, where setting it does nothing).
uint32_t stream_window_attribute(Value s);
void stream_set_window_attribute(Value s, uint32_t attribute);

// The thread's printer column follows every character written.
extern thread_local uint32_t zv_printer_column;

// ---------------------------------------------------------------------------
// Code pages: 1251 in memory, 866 in OEM files and on the console.

uint8_t cp1251_to_866(uint8_t c);
uint8_t cp866_to_1251(uint8_t c);

// ---------------------------------------------------------------------------
// Reading entry points used by the stream built-ins and the top level.

// Caller flags of reader functions.
enum : uint32_t {
  RD_PRESERVE_WHITESPACE = 0x01,
  RD_IN_LIST = 0x02,
  RD_TOP_LEVEL = 0x80,
  RD_EOF_VALUE = 0x100,  // end of file returns the eof value
};

using ReaderFn = Value (*)(Value stream, uint32_t flags);

// The input entry wrapper: checks the stream (4129), and when `flags` has
// RD_EOF_VALUE turns an end of file met at top level into `eof_value`.
Value stream_read_with(ReaderFn fn, Value stream, uint32_t flags, Value eof_value);

// End of file met by a reader function: returns to the wrapper with the eof
// value when the flags allow, else signals 4163.
void stream_end_of_file(Value stream, uint32_t flags);
