// The reader: characters from an input stream to Lisp objects.
//
// Table driven: the macro-character table (root words 0..128) gives each
// character's syntax class or macro function, the attribute table
// (object/chartab.h) the finer token roles.  Tokens collect in a per-thread
// buffer and a small state machine tells numbers from symbols.
#pragma once

#include <cstdint>

#include "io/stream.h"
#include "object/value.h"

// Longest token; the next character raises 4165.
constexpr uint32_t TOKEN_MAX = 132;

// Reader markers: character Values with bit 0x1000 that never reach user
// code.
constexpr Value MARK_CLOSE = 0x0A001029;
constexpr Value MARK_DOT = 0x0A00102E;
constexpr Value MARK_COMMA = 0x0A00102C;
constexpr Value MARK_COMMA_AT = 0x0A001040;
constexpr Value MARK_COMMA_DOT = 0x0A001060;

// Syntax classes of the macro-character table.
enum : int {
  SC_EOF = -1,
  SC_ILLEGAL = 0,
  SC_SELF = 1,
  SC_WHITESPACE = 2,
  SC_TERMINATING = 3,
  SC_SINGLE_ESCAPE = 4,
  SC_MULTIPLE_ESCAPE = 5,
  SC_NON_TERMINATING = 6,
  SC_CONSTITUENT = 7,
};

// Reader error codes.
enum : uint32_t {
  E_READ_BRACES = 0x0046,    // 70: more than 16 brace levels
  E_READ_CHAR = 0x1044,      // 4164: illegal or misplaced character
  E_READ_TOKEN = 0x1045,     // 4165: malformed token (the text)
  E_READ_CLOSE = 0x1047,     // 4167: closing with no list open
  E_READ_BASE = 0x104D,      // 4173: *READ-BASE* outside 2..36
  E_READ_DISPATCH = 0x2044,  // 8260: no function for a sub-character
  E_READ_SHARP = 0x4044,     // 16452: malformed # syntax
};

// The current readtable.  *READTABLE* holds a readtable (an instance whose
// word 1 is its syntax vector and word 2 its case), or anything else for
// the macro-character table of the root words.  A syntax vector holds the
// 129 entries of the table without bit 31, then at 129 + k T for each
// non-terminating entry k.
constexpr uint32_t SYNTAX_ENTRIES = 129;
constexpr uint32_t SYNTAX_VECTOR_LENGTH = 2 * SYNTAX_ENTRIES;
// The entry of character code c (bit 31 set for a non-terminating macro
// character), and its replacement.
Value syntax_entry(int c);
void set_syntax_entry(int c, Value entry);
// The readtable case: 0 :UPCASE, 1 :DOWNCASE, 2 :PRESERVE, 3 :INVERT.
uint32_t readtable_case();
// The syntax class of code c in the current readtable.
int syntax_class_of(int c);

// Read one object.  Flags are the RD_* bits of io/stream.h: preserve
// whitespace, inside a list (a closing parenthesis returns MARK_CLOSE),
// top level (end of file may become the eof value of the enclosing
// stream_read_with).
Value read_object(Value stream, uint32_t flags);

// READ as the built-ins and the top level call it: end of file gives
// eof_value when eof_error_p is false, else error 4163.  A recursive read
// is one made from inside a reader macro function.
Value read_from(Value stream, bool eof_error_p, Value eof_value, bool recursive_p);
// Read an object as #+ skips one whose feature is absent: nothing is
// interned, #. evaluates nothing, tokens and # syntax are not checked.
// The object means nothing; the end of file counts as it does for READ.
Value read_suppressed_object(Value stream, uint32_t flags);

// Read one token in the given radix and return the object it denotes
// (used by #B #O #X #R).
Value read_integer_token(Value stream, uint32_t radix);

// Reader counters and flags of this thread, saved and restored around
// top-level reads; a top-level read starts from the defaults.
struct ReaderCounters {
  uint16_t brace_level = 0;
  uint16_t parens = 0;  // open parentheses at the current brace level
  uint16_t backquote = 0;
  uint16_t skipping = 0;
  uint16_t radix = 0;  // of the token #B #O #X #R read
  bool intern = true;
};
ReaderCounters reader_save_counters();
void reader_restore_counters(const ReaderCounters& c);
// A top-level form for the listener, read with fresh counters; the
// counters of a read in progress (a break level inside it) come back after.
Value read_listener_form(Value stream);

// The whole state of a read under way set aside for a break loop opened
// inside it, and given back when the read goes on (see eval/hooks.h).
void reader_hold(void* buffer);
void reader_give_back(const void* buffer);

// Syntax class of a character code (-1 for the end of file).
int reader_syntax_class(int c);

// Open parentheses at the current brace level (the continuation prompt).
uint32_t reader_open_parens();

// The macro-character table the kernel uses until an image brings its own.
void reader_default_table();

// Character names.  char_from_name: the character a name denotes (the
// name as typed, compared without case), NO_VALUE when none.
// char_name_index: the symbol index naming a character, 0 when none.
// char_name_copy: the name of a character into out (at most cap bytes),
// returning its length, 0 when the character has no name; it also names
// the space and rubout characters, which have no fixed symbol.
// modifier_from_name: the modifier bit (1, 2, 4) a name denotes, or 0.
Value char_from_name(const uint8_t* name, uint32_t n);
uint32_t char_name_index(Value ch);
uint32_t char_name_copy(Value ch, char* out, uint32_t cap);
uint32_t modifier_from_name(const uint8_t* name, uint32_t n);

// ---------------------------------------------------------------------------
// For the dispatching macro functions (text/sharp.cpp)

// The intern flag: cleared while #: reads its symbol and while a form is
// skipped by #+ or #-.
bool reader_interning();
void reader_set_interning(bool on);
// Depth of forms being skipped by #+ and #-: #. evaluates nothing there.
uint32_t reader_skipping();
void reader_set_skipping(uint32_t depth);
// A list opened by a macro function that read the parenthesis itself.
void reader_open_list();
// Reset the counters and flags after malformed input, before the error.
void reader_recover();

// Built-ins 7..15 as the reader calls them: sets *out and returns true, or
// returns false when nothing was read.
bool sharp_call(uint32_t builtin, Value stream, Value sub, Value arg, Value* out);
