// The printer: the text form of any Value on an output stream.
//
// Atoms are built as pieces in a per-thread buffer.  On window streams,
// and on any stream while *PRINT-PRETTY* is on, a piece that would pass the
// right margin starts a new line at the current indentation; plain output
// to files and strings keeps its lines.  Lists are laid out plainly or,
// with *PRINT-PRETTY*, by the layout byte of their operator symbol (high
// byte of the symbol's flags, set by built-in 334).  The printer control
// variables are the fixed symbols 0xC0..0xC8.
#pragma once

#include <cstdint>

#include "object/value.h"

// Flags of the print entry.
enum : uint32_t {
  PRINT_NEWLINE = 0x01,       // start with a line break to column 0
  PRINT_ESCAPE = 0x02,        // bind *PRINT-ESCAPE* to T
  PRINT_NO_ESCAPE = 0x04,     // bind *PRINT-ESCAPE* to NIL (0x02 wins)
  PRINT_NIL_AS_LIST = 0x4000  // NIL prints as ()
};

// Print obj on an output stream (a stream object, not a designator; error
// 4129 otherwise).
void print_object(Value obj, Value stream, uint32_t flags);

// The printed text of obj as a fresh string.
Value print_to_string(Value obj, uint32_t flags);

// Digits of an integer Value (fixnum or 64-bit) in a radix 2..36, small
// letters above 9, leading minus: into buf (at least 66 bytes), returns the
// length.
uint32_t printer_integer_digits(int64_t n, uint32_t radix, char* buf);
