// The printer.
//
// Text goes out in pieces: an atom's text (with any parentheses glued to
// it) collects in a per-thread buffer, and a separator places the pending
// piece on the line: after a space when it fits, otherwise on a new line
// at the indentation.  Strings too long for the line go straight out.
//
// Output to a string stream allocates, so everything that holds a Value
// across a piece placement roots it first.
#include "text/printer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "builtins/classes.h"
#include "builtins/hash_tables.h"
#include "builtins/numbers.h"
#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/stack.h"
#include "io/stream.h"
#include "object/arrays.h"
#include "object/bignum.h"
#include "object/chartab.h"
#include "object/error_hook.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/reader.h"
#include "text/strings.h"

namespace {

constexpr uint32_t E_NOT_OUTPUT = 0x1021;  // 4129
constexpr uint32_t E_NOT_NUMBER = 0x1032;  // 4146
constexpr uint32_t E_PRINT_BASE = 0x104D;  // 4173
constexpr uint32_t E_MALFORMED = 0x1433;   // 5171
constexpr uint32_t E_NOT_READABLE = 0x1064;  // 4196: message 100
constexpr uint32_t DEFAULT_MARGIN = 79;
constexpr uint32_t NO_LIMIT = 0xFFFFFFFFu;
constexpr uint32_t NO_MARGIN = 0x40000000u;
constexpr uint32_t MAX_ARRAY_RANK = 130;

// ---------------------------------------------------------------------------
// The piece buffer.  It grows, so no name, however long, overflows it; a
// print entry owns the part above its base, so a print that starts inside
// another (a print function, a break loop) leaves the outer piece alone.

struct PieceBuffer {
  char* p = nullptr;
  uint32_t len = 0, cap = 0;
  ~PieceBuffer() { std::free(p); }
};
thread_local PieceBuffer pb;

void pc_reserve(uint32_t extra) {
  if (pb.len + extra <= pb.cap) return;
  uint32_t cap = pb.cap ? pb.cap : 256;
  while (cap < pb.len + extra) cap *= 2;
  char* p = static_cast<char*>(std::realloc(pb.p, cap));
  if (!p) {
    std::fputs("Out of memory for the printer\n", stderr);
    std::exit(1);
  }
  pb.p = p;
  pb.cap = cap;
}
inline void pc_add(char c) {
  pc_reserve(1);
  pb.p[pb.len++] = c;
}
void pc_add(const char* s, uint32_t n) {
  pc_reserve(n);
  std::memcpy(pb.p + pb.len, s, n);
  pb.len += n;
}
void pc_add(const char* s) { pc_add(s, uint32_t(std::strlen(s))); }
void pc_addf(const char* fmt, long long a) {
  char buf[96];
  int n = std::snprintf(buf, sizeof buf, fmt, a);
  pc_add(buf, n < 0 ? 0 : n < int(sizeof buf) ? uint32_t(n) : uint32_t(sizeof buf - 1));
}

// ---------------------------------------------------------------------------
// The state of one print entry

struct Printer {
  Value stream;  // rooted; its root slot identifies a live entry
  uint32_t margin;
  uint32_t indent;
  uint32_t depth;
  uint32_t base;     // this entry's part of the piece buffer
  bool force_break;  // the next piece starts on a new line
  bool sep;          // a separator is pending before the next piece
  bool glued;        // text went straight out: what follows sticks to it
  bool calling_out;  // inside a print function: nested entries continue here
  bool measuring;    // atom texts are being measured, not printed
  bool stopped;      // *PRINT-LINES* ran out: nothing more is written
  uint32_t lines_left;  // lines *PRINT-LINES* still allows; 0 for no limit
};

// The innermost print entry, trusted only while its stream is still
// registered at the root slot it took: a non-local exit that left the
// entry has popped that slot.
struct ActiveEntry {
  Printer* p = nullptr;
  uint32_t slot = 0;
};
thread_local ActiveEntry pr_active;

Printer* live_outer_entry() {
  ThreadState* ts = zvts;
  ActiveEntry a = pr_active;
  if (a.p && a.slot < ts->root_count && ts->root_base[a.slot] == &a.p->stream) return a.p;
  return nullptr;
}

inline Value sym_val(uint32_t i) { return sym_value(i); }
// A printer switch: on when its variable is bound to anything but NIL.
inline bool switch_on(uint32_t i) {
  Value v = sym_val(i);
  return !nil_p(v) && !is_no_value(v);
}
// *PRINT-READABLY*: every object prints with escapes, in full, or not at
// all (an error for those that would not read back).
inline bool readably() { return switch_on(FS_PRINT_READABLY); }
inline bool escaping() { return readably() || !nil_p(sym_val(FS_PRINT_ESCAPE)); }
inline bool print_arrays() { return readably() || !nil_p(sym_val(FS_PRINT_ARRAY)); }
// The error is reported (and its break loop runs) with *PRINT-READABLY*
// NIL, so that its message can show the object.
void not_readable(Value x) {
  if (!readably()) return;
  bind_special(FS_PRINT_READABLY, NIL);
  lisp_fatal_error(E_NOT_READABLE, x);
}
inline bool pretty() { return !nil_p(sym_val(FS_PRINT_PRETTY)); }

// A printer limit: a fixnum or a one-word integer, else none.
uint32_t limit_of(Value v) {
  int64_t n;
  if (is_fixnum(v))
    n = fixnum_value(v);
  else if (tag_of(v) == TAG_INT64)
    n = int64_value(v);
  else
    return NO_LIMIT;
  if (n < 0) return 0;
  return n >= NO_LIMIT ? NO_LIMIT - 1 : uint32_t(n);
}
inline uint32_t print_length() {
  return readably() ? NO_LIMIT : limit_of(sym_val(FS_PRINT_LENGTH));
}

// The print base, 2..36.  A bad base is reported once with the base bound
// to 10 meanwhile, so that the message and the break loop can print
// numbers; continuing prints in base 10.
uint32_t print_base() {
  Value b = sym_val(FS_PRINT_BASE);
  if (is_fixnum(b) && fixnum_value(b) >= 2 && fixnum_value(b) <= 36) return fixnum_value(b);
  uint16_t mark = zvts->septr;
  bind_special(FS_PRINT_BASE, make_fixnum(10));
  zv_error(E_PRINT_BASE, make_symbol(FS_PRINT_BASE));
  unbind_to(mark);
  pop_to(mark);
  return 10;
}
// The base as the symbol printer's escape test sees it: never an error.
uint32_t quiet_base() {
  Value b = sym_val(FS_PRINT_BASE);
  return is_fixnum(b) && fixnum_value(b) >= 2 && fixnum_value(b) <= 36 ? fixnum_value(b) : 10;
}

// ---------------------------------------------------------------------------
// Output and line breaking

inline uint32_t column(Printer* P) { return stream_column(P->stream); }
// The printer's own line breaks count against *PRINT-LINES*: the one that
// would start a line past the limit writes " .." instead, and the rest of
// the object is not written.
void out_char(Printer* P, int c) {
  if (P->stopped) return;
  if (c == '\n' && P->lines_left && --P->lines_left == 0) {
    stream_write_bytes(P->stream, " ..", 3);
    P->stopped = true;
    return;
  }
  stream_write_char(P->stream, c);
}
inline void out_bytes(Printer* P, const char* p, uint32_t n) {
  if (!P->stopped) stream_write_bytes(P->stream, p, n);
}

// *PRINT-LINES* (a variable of the library): the number of lines a pretty
// print may take, 0 for no limit.
uint32_t print_lines() {
  static const char kName[] = "*PRINT-LINES*";
  SymSearch s = sym_search(reinterpret_cast<const uint8_t*>(kName), sizeof kName - 1);
  if (!s.found) return 0;
  uint32_t n = limit_of(sym_val(s.index));
  return n == NO_LIMIT ? 0 : n;
}

void move_to_column(Printer* P, uint32_t k) {
  uint32_t col = column(P);
  if (col > k) {
    out_char(P, '\n');
    col = 0;
  }
  for (; col < k; col++) out_char(P, ' ');
}

// Where text of width w goes: after the pending separator when it fits on
// this line, else at the indentation (further left when it would pass
// the margin there) on a new line.
void place(Printer* P, uint32_t w) {
  if (P->glued && !P->sep && !P->force_break) {
    P->glued = false;
    return;
  }
  P->glued = false;
  uint32_t col = column(P);
  uint32_t need = w + (P->sep ? 1 : 0);
  if (!P->force_break && col + need <= P->margin) {
    if (P->sep) out_char(P, ' ');
  } else {
    int64_t k = int64_t(P->margin) - w;
    if (k > int64_t(P->indent)) k = P->indent;
    if (k < 0) k = 0;
    move_to_column(P, uint32_t(k));
  }
  P->sep = P->force_break = false;
}

// Put the pending piece on the line; lookahead widens the fit test so an
// opening parenthesis does not stay behind its first element.
void put_piece(Printer* P, uint32_t lookahead = 0) {
  uint32_t n = pb.len - P->base;
  if (n == 0) return;
  place(P, n + lookahead);
  // The buffer is per thread and nothing prints into it while the stream
  // takes the characters, but the stream may allocate: copy out in chunks.
  char chunk[128];
  for (uint32_t i = 0; i < n;) {
    uint32_t m = n - i < sizeof chunk ? n - i : uint32_t(sizeof chunk);
    std::memcpy(chunk, pb.p + P->base + i, m);
    out_bytes(P, chunk, m);
    i += m;
  }
  pb.len = P->base;
}

// A separator: the pending piece goes out, a space is due before the next.
void separator(Printer* P) {
  put_piece(P);
  P->sep = true;
}

inline uint32_t pending(Printer* P) { return pb.len - P->base; }

// ---------------------------------------------------------------------------
// Symbols

// The syntax class of a character in the current macro-character table.
int syntax_class(uint8_t c) { return syntax_class_of(c); }

// Whether the unescaped name would read as a number or a dot token, in
// which case its first character needs an escape.  A small copy of the
// reader's token states: sign, dot, digits, fraction, exponent.
bool reads_as_number(const uint8_t* s, uint32_t n, uint32_t base) {
  if (n == 0 || n >= 100) return false;
  int state = 0;
  uint32_t largest = 0;
  for (uint32_t i = 0; i < n; i++) {
    uint8_t a = char_attr(s[i]);
    uint8_t role = a & CA_ROLE_MASK;
    bool letter = a & (CA_UPPER | CA_LOWER);
    if (letter && (a & CA_CYRILLIC)) return false;
    int w = (a & CA_DIGIT) ? char_digit_weight(s[i]) : -1;
    bool digit = s[i] >= '0' && s[i] <= '9';
    bool expo = letter && role == CA_EXPONENT;
    int next = -1;
    switch (state) {
      case 0:
        next = role == CA_SIGN ? 1 : role == CA_DOT ? 2 : w >= 0 ? 3 : -1;
        break;
      case 1:
        next = w >= 0 ? 3 : role == CA_DOT ? 4 : -1;
        break;
      case 2:
        next = digit ? 6 : role == CA_DOT ? 10 : -1;
        break;
      case 3:
        // An exponent follows decimal digits only: "END1" is a symbol.
        if (expo && base < 11 && largest < 10)
          next = 7;
        else if (w >= 0)
          next = 3;
        else if (role == CA_DOT)
          next = 5;
        break;
      case 4:
        next = digit ? 6 : -1;
        break;
      case 5:
        next = digit && largest < 10 ? 6 : expo && largest < 10 ? 7 : -1;
        break;
      case 6:
        next = digit ? 6 : expo ? 7 : -1;
        break;
      case 7:
        next = role == CA_SIGN ? 8 : digit ? 9 : -1;
        break;
      case 8:
      case 9:
        next = digit ? 9 : -1;
        break;
      case 10:
        next = role == CA_DOT ? 10 : -1;
        break;
    }
    if (next < 0) return false;
    if (w >= 0 && uint32_t(w) > largest && (state == 0 || state == 1 || state == 3)) largest = w;
    state = next;
  }
  switch (state) {
    case 2:
    case 6:
    case 9:
    case 10:
      return true;
    case 3:
      return largest < base;
    case 5:
      return largest < 10;
    default:
      return false;
  }
}

// Whether character c at position i of a name needs an escape.
bool needs_escape(uint8_t c, uint32_t i, uint32_t base) {
  int cls = syntax_class(c);
  if (cls <= 5) return true;
  if (cls == 6) return i == 0;
  uint8_t a = char_attr(c);
  if (a & CA_LOWER) return true;
  if ((a & CA_ROLE_MASK) == CA_PACKAGE && !(a & (CA_UPPER | CA_LOWER))) return true;
  if (i == 0) {
    if ((a & CA_ROLE_MASK) == CA_DOT && !(a & (CA_UPPER | CA_LOWER))) return true;
    if (c >= '0' && c <= '9') return uint32_t(c - '0') < base;
    if (c >= 'A' && c <= 'Z') return int(c - 'A') < int(base) - 10;
  }
  return false;
}

// Case of the written name: the print case applies to characters written
// without an escape only, so the name reads back as it is.
uint8_t cased(uint8_t c, uint32_t i, Value pcase) {
  if (pcase == make_keyword(FS_DOWNCASE)) return char_downcase(c);
  if (pcase == make_keyword(FS_CAPITALIZE) && i > 0) return char_downcase(c);
  return c;
}

// The text of a name into the piece, with escapes when escape is set.
void pc_name(Value name, bool escape) {
  if (!is_string_raw(name)) {
    pc_add("#<Unprintable>");
    return;
  }
  uint32_t n = string_length(name);
  const uint8_t* s = string_bytes(name);  // nothing allocates below
  Value pcase = sym_val(FS_PRINT_CASE);
  if (!escape) {
    pc_reserve(n);
    for (uint32_t i = 0; i < n; i++) pb.p[pb.len++] = char(cased(s[i], i, pcase));
    return;
  }
  if (n == 0) {
    pc_add("||");
    return;
  }
  uint32_t base = quiet_base();
  uint32_t count = 0;
  for (uint32_t i = 0; i < n; i++) count += needs_escape(s[i], i, base);
  bool first_numeric = !needs_escape(s[0], 0, base) && reads_as_number(s, n, base);
  count += first_numeric;
  if (count && pcase == make_keyword(FS_UPCASE) && 2 * count > n) {
    // Between bars; a bar or backslash inside still needs its escape.
    pc_reserve(2 * n + 2);
    pb.p[pb.len++] = '|';
    for (uint32_t i = 0; i < n; i++) {
      if (s[i] == '|' || s[i] == '\\') pb.p[pb.len++] = '\\';
      pb.p[pb.len++] = char(s[i]);
    }
    pb.p[pb.len++] = '|';
    return;
  }
  pc_reserve(2 * n);
  for (uint32_t i = 0; i < n; i++) {
    if (count && (needs_escape(s[i], i, base) || (i == 0 && first_numeric))) {
      pb.p[pb.len++] = '\\';
      pb.p[pb.len++] = char(s[i]);
    } else {
      pb.p[pb.len++] = char(cased(s[i], i, pcase));
    }
  }
}

// Tags 2 and 4 are the tag-1 symbol of the same index.
void pc_symbol(Value x) {
  uint32_t idx = nil_p(x) ? 0 : symbol_index(x);
  bool escape = escaping();
  if (tag_of(x) == TAG_KEYWORD) {
    pc_add(':');
  } else if (escape && !(sym_flags(idx) & SYMF_INTERNED) &&
             (readably() || !nil_p(sym_val(FS_PRINT_GENSYM)))) {
    pc_add("#:");
  }
  pc_name(sym_name(idx), escape);
}

// ---------------------------------------------------------------------------
// Numbers

// With the radix flag: #b, #o, #x or #Nr before the digits, or a dot after
// them in base 10.
void pc_radix_prefix(uint32_t base) {
  if (base == 2)
    pc_add("#b");
  else if (base == 8)
    pc_add("#o");
  else if (base == 16)
    pc_add("#x");
  else if (base != 10)
    pc_addf("#%lldr", base);
}

void pc_integer(int64_t n) {
  uint32_t base = print_base();
  bool radix = !nil_p(sym_val(FS_PRINT_RADIX));
  if (radix) pc_radix_prefix(base);
  char buf[72];
  pc_add(buf, printer_integer_digits(n, base, buf));
  if (radix && base == 10) pc_add('.');
}

// Digits of any length, from the integer routines' own buffer.
void pc_digits(bool negative, const char* digits, uint32_t len, uint32_t base, bool radix) {
  if (radix) pc_radix_prefix(base);
  if (negative) pc_add('-');
  pc_add(digits, len);
  if (radix && base == 10) pc_add('.');
}

// The print base may be an error whose break loop moves x: x is rooted.
void pc_bignum(Value x) {
  root_push(&x);
  uint32_t base = print_base();
  root_pop();
  bool radix = !nil_p(sym_val(FS_PRINT_RADIX));
  uint32_t len;
  const char* digits = int_digits(x, base, &len);
  pc_digits(int_minusp(x), digits, len, base, radix);
}

// A part of a complex number whose parts do not both fit 64 bits.
void pc_wide_part(Value x, int imag) {
  root_push(&x);
  uint32_t base = print_base();
  root_pop();
  bool radix = !nil_p(sym_val(FS_PRINT_RADIX));
  uint32_t len;
  bool negative;
  const char* digits = int_complex_part_digits(x, imag, base, &len, &negative);
  pc_digits(negative, digits, len, base, radix);
}

// 15 significant digits, or 16 or 17 when fewer would read back as another
// number (printing must not lose a float's value); a result that reads back
// as an integer gets a ".0", and values with no digits to show print in a
// form of their own.
void pc_double(double d) {
  if (std::isnan(d)) {
    pc_add("#<Float NaN>");
    return;
  }
  if (std::isinf(d)) {
    pc_add(d > 0 ? "#<Float +Infinity>" : "#<Float -Infinity>");
    return;
  }
  char buf[40];
  int n = 0;
  for (int digits = 15; digits <= 17; digits++) {
    n = std::snprintf(buf, sizeof buf, "%.*g", digits, d);
    if (std::strtod(buf, nullptr) == d) break;
  }
  pc_add(buf, uint32_t(n));
  if (!std::strpbrk(buf, ".e"))
    pc_add(".0");
  else if (buf[n - 1] == '.')
    pc_add('0');
}

void pc_number(Value x) {
  switch (tag_of(x)) {
    case TAG_FIXNUM:
      pc_integer(fixnum_value(x));
      return;
    case TAG_INT64:
      if (is_bignum(x))
        pc_bignum(x);
      else
        pc_integer(int64_value(x));
      return;
    case TAG_DOUBLE:
      pc_double(double_value(x));
      return;
    case TAG_COMPLEX: {
      uint8_t ht = heap_type(x);
      if (ht != HT_INT64 && ht != HT_DOUBLE) {
        zv_error(E_WRONG_TYPE, x);
        return;
      }
      if (ht == HT_INT64 && int_complex_is_wide(x)) {
        root_push(&x);
        pc_add("#C(");
        pc_wide_part(x, 0);
        pc_add(' ');
        pc_wide_part(x, 1);
        pc_add(')');
        root_pop();
        return;
      }
      for (int part = 0; part < 2; part++) {
        int64_t i;
        double f;
        std::memcpy(ht == HT_INT64 ? static_cast<void*>(&i) : static_cast<void*>(&f),
                    heap_data(x) + 8 * part, 8);
        pc_add(part ? " " : "#C(");
        if (ht == HT_INT64)
          pc_integer(i);
        else
          pc_double(f);
      }
      pc_add(')');
      return;
    }
  }
  zv_error(E_NOT_NUMBER, x);
}

// ---------------------------------------------------------------------------
// Characters

// A character's name (character names are symbols of the image), or 0.
uint32_t char_name_symbol(Value ch) {
  uint32_t i = char_name_index(ch);
  return i && i < sym_count_now() && is_string_raw(sym_name(i)) ? i : 0;
}

void pc_char(Value ch, bool escape) {
  uint32_t code = char_code(ch), bits = char_bits(ch), font = char_font(ch);
  uint32_t mods = (bits >> 1) & 7;
  if (escape) {
    pc_add('#');
    if (font) pc_addf("%lld", font);
    pc_add('\\');
  } else if (!mods) {
    pc_add(char(code));
    return;
  }
  bool named_mod = false;
  for (uint32_t m = 0; m < 3; m++) {
    if (!(mods & (1u << m))) continue;
    pc_name(sym_name(FS_CONTROL + m), false);
    pc_add('-');
    named_mod = true;
  }
  if (uint32_t name = char_name_symbol(ch)) {
    pc_name(sym_name(name), false);
    return;
  }
  // Space and rubout have names without a fixed symbol.
  if (code == ' ' || code == 127) {
    char buf[16];
    if (uint32_t n = char_name_copy(char_code(ch), buf, sizeof buf)) {
      pc_add(buf, n);
      return;
    }
  }
  if (named_mod && needs_escape(uint8_t(code), 0, quiet_base())) pc_add('\\');
  pc_add(char(code));
}

// ---------------------------------------------------------------------------
// Built-ins, streams, hash tables, markers

// " NAME" of the first symbol whose function is this built-in, or nothing.
void pc_builtin_name(uint32_t n) {
  for (uint32_t i = 0, count = sym_count_now(); i < count; i++) {
    Value f = sym_function(i);
    if (!is_builtin(f) || builtin_number(f) != n) continue;
    Value name = sym_name(i);
    if (!is_string_raw(name)) continue;
    pc_add(' ');
    pc_add(reinterpret_cast<const char*>(string_bytes(name)), string_length(name));
    return;
  }
}

void pc_builtin(Value x) {
  uint32_t kind = builtin_kind(x), n = builtin_number(x);
  if (kind == KIND_SPECIAL || kind == KIND_MACRO) {
    pc_add(kind == KIND_SPECIAL ? "#<Special form " : "#<Compiled macro ");
    pc_addf("%lld", n);
    pc_builtin_name(n);
    pc_add('>');
    return;
  }
  pc_add("#<Compiled function");
  pc_builtin_name(n);
  pc_addf(" (%lld", n < BI_CAPACITY ? zv_builtins[n].count : 0);
  pc_add(kind == KIND_OPTREST ? "&o&r) " : kind == KIND_KEYS ? "&k) " : ") ");
  pc_addf("%lld>", n);
}

void pc_marker(Value x) {
  uint32_t hi = x >> 16;
  pc_add(hi == 0x0FFF ? "#<UNBOUND " : hi == 0x0F00 ? "#<UNBOUND-VALUE " : "#<UNBOUND-UNKNOWN ");
  char buf[16];
  pc_add(buf, uint32_t(std::snprintf(buf, sizeof buf, "%X>", x & 0xFFFF)));
}

void pc_hash_table(Value x) {
  Value slots = ht_slots(x);
  uint32_t cap = is_simple_vector(slots) ? heap_length(slots) / 2 : 0;
  pc_addf("#<Hash-table %lld", ht_count(x));
  pc_addf("/%lld>", cap);
}

// ---------------------------------------------------------------------------
// Printing objects

void print_obj(Printer* P, Value x, uint32_t brace, bool nil_as_list);
void print_string(Printer* P, Value s);

void pc_stream(Printer* P, Value x) {
  uint8_t t = heap_type(x);
  bool in = t & HT_STREAM_INPUT, out = t & HT_STREAM_OUTPUT;
  const char* dir = in && out ? "IO" : in ? "Input" : out ? "Output" : "";
  uint8_t k = t & STREAM_KIND_MASK;
  static const char* const composite[] = {"", "synonym", "broadcast", "concatenated",
                                          "two-way", "echo"};
  const char* kind = k == HT_FILE                ? "file"
                     : k == HT_WINDOW            ? "window"
                     : k == HT_COMPOSITE_STREAM ? composite[composite_kind(x) % 6]
                                                 : "string";
  pc_add("#<");
  pc_add(dir);
  pc_add('-');
  pc_add(kind);
  pc_add("-stream");
  if (k == HT_COMPOSITE_STREAM) {
    // A synonym stream shows its symbol; the others show nothing more.
    if (composite_kind(x) == COMPOSITE_SYNONYM) {
      pc_add(' ');
      pc_symbol(heap_word(x, 1));
    }
    pc_add('>');
    return;
  }
  pc_add(' ');
  Value name = heap_word(x, 0);
  if (is_string_raw(name)) {
    root_push(&name);
    print_string(P, name);
    root_pop();
  } else if (is_symbol(name) || nil_p(name)) {
    pc_symbol(name);
  }
  pc_add('>');
}

// Vectors, arrays and lists have components: the print level applies.
bool level_reached(Printer* P) {
  Value lv = sym_val(FS_PRINT_LEVEL);
  if (nil_p(lv) || is_no_value(lv) || readably()) return false;
  return P->depth >= limit_of(lv);
}

bool is_array_object(Value x) { return tag_of(x) == TAG_VECTOR && heap_type(x) == HT_ARRAY; }
bool is_instance(Value x) {
  uint8_t t = (tag_of(x) == TAG_OBJECT || tag_of(x) == TAG_VECTOR) ? heap_type(x) : 0;
  return t == HT_INSTANCE || t == HT_CLASS;
}

// ---------------------------------------------------------------------------
// Shared and circular structure: #n= and #n#
//
// With *PRINT-CIRCLE* true the outermost print entry first walks the
// object and notes in an EQ hash table each cons, array and instance it
// reaches, and which of them it reaches twice.  When there are such, the
// table and the last label given are bound to %PRINT-CIRCLE-TABLE as
// (table . label) for the print, the entries of print functions included.
// An object reached twice is marked -1 until it is printed with #n=, and
// is then marked n, so that later occurrences print as #n#.

constexpr Value CIRCLE_ONCE = 0x0B000000u;     // fixnum 0
constexpr Value CIRCLE_SHARED = 0x0BFFFFFFu;   // fixnum -1

bool circle_candidate(Value x) {
  return cons_p(x) || is_array_object(x) || is_instance(x) || arr_is_header(x);
}

// The (table . label) of the print under way, or NIL.
Value circle_state() {
  Value st = sym_val(FS_PRINT_CIRCLE_TABLE);
  return cons_p(st) ? st : NIL;
}

// The table's mark for x: NIL when x is not shared.
Value circle_mark(Value st, Value x) {
  bool found = false;
  Value m = ht_get(car(st), x, NIL, &found);
  return found && m != CIRCLE_ONCE ? m : NIL;
}

// The walk.  Its work items are pairs of entries on the Lisp stack: an
// object and a fixnum, -1 to visit the object, k to go on with element k
// of an array or slot k of an instance.
Value circle_scan(Value obj) {
  ThreadState* ts = zvts;
  Value table = ht_make(64, HT_TEST_EQ);
  root_push(&table);
  uint16_t mark = ts->septr;
  bool shared = false;
  push_arg(obj);
  push_arg(CIRCLE_SHARED);
  while (ts->septr < mark) {
    int32_t k = fixnum_value(ts->stack[ts->septr].arg);
    Value x = ts->stack[ts->septr + 1].arg;
    ts->septr = uint16_t(ts->septr + 2);
    root_push(&x);
    if (k < 0) {
      if (!circle_candidate(x)) {
        root_pop();
        continue;
      }
      bool found = false;
      Value m = ht_get(table, x, NIL, &found);
      if (found) {
        if (m == CIRCLE_ONCE) {
          ht_put(table, x, CIRCLE_SHARED);
          shared = true;
        }
        root_pop();
        continue;
      }
      ht_put(table, x, CIRCLE_ONCE);
      if (cons_p(x)) {
        push_arg(cdr(x));
        push_arg(CIRCLE_SHARED);
        push_arg(car(x));
        push_arg(CIRCLE_SHARED);
        root_pop();
        continue;
      }
      k = is_instance(x) ? 1 : 0;  // an instance's word 0 is its class
    }
    uint32_t n = object_value_words_at(heap_addr(x));
    if (uint32_t(k) < n) {
      push_arg(x);
      push_arg(make_fixnum(k + 1));
      push_arg(heap_word(x, uint32_t(k)));
      push_arg(CIRCLE_SHARED);
    }
    root_pop();
  }
  pop_to(mark);
  root_pop();
  return shared ? table : NIL;
}

// Before printing x: its label, when it is shared.  True when x has been
// printed before and "#n#" stands for it now.
bool circle_label(Value x) {
  if (!circle_candidate(x)) return false;
  Value st = circle_state();
  if (nil_p(st)) return false;
  Value m = circle_mark(st, x);
  if (nil_p(m)) return false;
  if (m != CIRCLE_SHARED) {
    pc_addf("#%lld#", fixnum_value(m));
    return true;
  }
  int32_t n = fixnum_value(cdr(st)) + 1;
  set_cdr(st, make_fixnum(n));
  root_push(&x);
  ht_put(car(st), x, make_fixnum(n));
  root_pop();
  pc_addf("#%lld=", n);
  return false;
}

// A list's cdr that is shared is printed as its dotted tail.
bool circle_tail(Value rest) {
  Value st = circle_state();
  return !nil_p(st) && cons_p(rest) && !nil_p(circle_mark(st, rest));
}

// Width of the printed string s as print_string writes it.
uint32_t string_width(Value s) {
  uint32_t n = string_length(s);
  if (!escaping()) return n;
  const uint8_t* p = string_bytes(s);
  uint32_t w = n + 2;
  for (uint32_t i = 0; i < n; i++) w += p[i] == '"' || p[i] == '\\';
  return w;
}

// A string fitting on the line joins the pending piece; a longer one goes
// straight out, on a fresh line at the indentation when the line is used.
void print_string(Printer* P, Value s) {
  bool escape = escaping();
  uint32_t n = string_length(s), w = string_width(s);
  // A break due before the pending piece (a list's opening parenthesis)
  // is taken with it first, so that the string can still join it there.
  if (!P->measuring && P->force_break && pending(P) > 0) {
    root_push(&s);
    put_piece(P, w);
    root_pop();
  }
  if (P->measuring ||
      (!P->force_break && column(P) + pending(P) + (P->sep ? 1 : 0) + w <= P->margin)) {
    pc_reserve(w);
    const uint8_t* p = string_bytes(s);
    if (escape) pb.p[pb.len++] = '"';
    for (uint32_t i = 0; i < n; i++) {
      if (escape && (p[i] == '"' || p[i] == '\\')) pb.p[pb.len++] = '\\';
      pb.p[pb.len++] = char(p[i]);
    }
    if (escape) pb.p[pb.len++] = '"';
    return;
  }
  root_push(&s);
  put_piece(P);
  uint32_t col = column(P);
  if (P->force_break || col > P->indent || (P->sep && col > 0)) {
    if (col > 0) out_char(P, '\n');
    move_to_column(P, P->indent);
  }
  P->sep = P->force_break = false;
  if (escape) out_char(P, '"');
  char chunk[128];
  for (uint32_t i = 0; i < n;) {
    uint32_t m = 0;
    const uint8_t* p = string_bytes(s);  // again after every write
    while (i < n && m + 2 <= sizeof chunk) {
      if (escape && (p[i] == '"' || p[i] == '\\')) chunk[m++] = '\\';
      chunk[m++] = char(p[i++]);
    }
    out_bytes(P, chunk, m);
  }
  if (escape) out_char(P, '"');
  P->glued = true;
  root_pop();
}

// The short forms of *PRINT-ARRAY* NIL.
void pc_array_short(Value a) {
  if (heap_is_one_dim(a))
    pc_addf("#<General simple vector, size %lld>", heap_length(a));
  else
    pc_addf("#<General simple array of %lld dimensions>", heap_array_rank(a));
}

// The text of an atom into the pending piece.
void pc_atom(Printer* P, Value x) {
  uint32_t t = tag_of(x);
  switch (t) {
    case TAG_CONS:
      pc_symbol(NIL);
      return;
    case TAG_SYMBOL:
    case TAG_INDEX:
    case TAG_KEYWORD:
    case TAG_LEXREF:
      pc_symbol(x);
      return;
    case TAG_CHAR:
      // A character with a font, printed without escapes on a window on
      // the screen, is written in that font as its attribute.
      if (!escaping() && char_font(x) && !char_modifiers(x) && stream_breaks_lines(P->stream)) {
        put_piece(P);
        if (!P->stopped) stream_write_char(P->stream, int(x & 0x00FF00FF));
        return;
      }
      pc_char(x, escaping());
      return;
    case TAG_FIXNUM:
    case TAG_INT64:
    case TAG_DOUBLE:
    case TAG_COMPLEX:
      pc_number(x);
      return;
    case TAG_MARKER:
      pc_marker(x);
      return;
  }
  if (t == TAG_VECTOR && is_string_raw(x)) return print_string(P, x);
  // Everything below prints as #<...>, which does not read back.
  not_readable(x);
  if (is_builtin(x)) {
    pc_builtin(x);
    return;
  }
  if (t == TAG_VECTOR || t == TAG_OBJECT) {
    uint8_t ht = heap_type(x);
    if (t == TAG_OBJECT && is_stream(x)) return pc_stream(P, x);
    if (ht == HT_HASH) return pc_hash_table(x);
    if (t == TAG_VECTOR && ht == HT_ARRAY) return pc_array_short(x);
  }
  pc_add("#<Unprintable>");
}

// ---------------------------------------------------------------------------
// Widths for the fit tests

uint32_t flat_width(Printer* P, Value x, uint32_t limit, uint32_t depth);

// Width of an atom: its text is made and taken back.
uint32_t atom_width(Printer* P, Value x) {
  if (is_string_raw(x)) return string_width(x);
  if (is_instance(x)) return 16;  // unknown until its print function runs
  uint32_t mark = pb.len;
  bool was = P->measuring;
  P->measuring = true;
  pc_atom(P, x);
  P->measuring = was;
  uint32_t w = pb.len - mark;
  pb.len = mark;
  return w;
}

// Width of x printed flat, or a number above limit once it passes it.
uint32_t flat_width(Printer* P, Value x, uint32_t limit, uint32_t depth) {
  check_native_stack();
  Value lv = sym_val(FS_PRINT_LEVEL);
  bool compound = cons_p(x) || (is_array_object(x) && !nil_p(sym_val(FS_PRINT_ARRAY)));
  if (!compound) return atom_width(P, x);
  if (!nil_p(lv) && !is_no_value(lv) && depth >= limit_of(lv)) return 1;
  if (is_array_object(x)) {
    if (!heap_is_one_dim(x)) return limit + 1;
    uint32_t n = heap_length(x), w = 2, len = print_length();
    for (uint32_t i = 0; i < n && w <= limit; i++) {
      if (i >= len) return w + 4;
      w += flat_width(P, heap_word(x, i), limit - w, depth + 1) + 1;
    }
    return n ? w : w + 1;
  }
  uint32_t w = 1, count = 0, len = print_length();
  for (;;) {
    if (count++ >= len) return w + 4;
    w += flat_width(P, car(x), limit > w ? limit - w : 0, depth + 1);
    if (w > limit) return w;
    x = cdr(x);
    if (nil_p(x)) return w + 1;
    if (!cons_p(x)) return w + 3 + flat_width(P, x, limit > w ? limit - w : 0, depth) + 1;
    w++;
  }
}

// Width of what starts a list: its operator, through nested openings.
uint32_t head_width(Printer* P, Value x) {
  uint32_t w = 0;
  for (int i = 0; i < 16 && cons_p(x); i++, w++) x = car(x);
  if (cons_p(x)) return w;
  uint32_t a = atom_width(P, x);
  return w + (a < 64 ? a : 64);
}

// ---------------------------------------------------------------------------
// Lists

// The layout byte of an operator symbol.  Bits 6-7 say how its first
// argument is laid out, bits 3-4 its second (LAYOUT_ARG_*); the others:
enum : uint8_t {
  LAYOUT_LABELS = 0x01,         // symbols and numbers in the body are labels
  LAYOUT_BODY_PAST_OP = 0x02,   // the body indented past the operator's name
  LAYOUT_BODY_BREAK = 0x04,     // the first body form on a line of its own
  LAYOUT_SECOND_BREAK = 0x20,   // a break before the second argument (or the
                                // body, when there is no second argument)
};
enum : uint32_t {
  LAYOUT_ARG_NONE = 0,
  LAYOUT_ARG_BINDINGS = 1,  // a list of lists, one per line
  LAYOUT_ARG_PLAIN = 2,
  LAYOUT_ARG_REPEATED = 3,  // first: the rest in pairs; second: one per line
};
inline uint32_t layout_first_arg(uint8_t L) { return L >> 6; }
inline uint32_t layout_second_arg(uint8_t L) { return (L >> 3) & 3; }

// The layout byte is the high byte of the symbol's flags.
inline uint8_t symbol_layout(uint32_t i) { return uint8_t(sym_flags(i) >> 8); }
inline void set_symbol_layout(uint32_t i, uint8_t L) {
  sym_set_flags(i, uint16_t((sym_flags(i) & 0xFF) | (L << 8)));
}

inline uint8_t layout_of(Value op) {
  uint32_t t = tag_of(op);
  if (t < TAG_SYMBOL || t > TAG_LEXREF) return 0;
  return symbol_layout(symbol_index(op));
}

// How deep the chain of last elements nests, counted up to `stop`.
uint32_t last_chain_depth(Value x, uint32_t stop) {
  uint32_t d = 0;
  while (d < stop) {
    uint32_t guard = 0;
    while (cons_p(cdr(x)) && ++guard < 100000) x = cdr(x);
    if (!nil_p(cdr(x)) || !cons_p(car(x))) break;
    x = car(x);
    d++;
  }
  return d;
}

// The dotted tail of a list: " . atom".
void print_tail(Printer* P, Value tail) {
  separator(P);
  pc_add('.');
  separator(P);
  print_obj(P, tail, 0, false);
}

// Whether the list goes on after the cons x, whose element is printed: at
// its end, or at a dotted or circular tail (printed), it does not.
bool list_goes_on(Printer* P, Value x) {
  Value rest = cdr(x);
  if (nil_p(rest)) return false;
  if (!cons_p(rest) || circle_tail(rest)) {
    print_tail(P, rest);
    return false;
  }
  return true;
}

// The "..." of *PRINT-LENGTH* when count elements are printed already.
bool length_reached(uint32_t count, uint32_t len) {
  if (count < len) return false;
  pc_add("...");
  return true;
}

void print_list_plain(Printer* P, Value x, uint32_t brace) {
  bool braced = false;
  uint32_t inner = brace;
  if (brace == 0 && (hdr_u8(HDR_SWITCHES) & SW_PRINTER)) {
    uint32_t d = last_chain_depth(x, 4);
    if (d > 3) braced = true, inner = d;
  }
  // The rest of the list is kept on the Lisp stack: nested lists take the
  // printer as deep as that stack allows.
  uint16_t at = push_anon(x);
  pc_add(braced ? '{' : '(');
  P->depth++;
  uint32_t count = 0, len = print_length();
  for (;;) {
    if (length_reached(count++, len)) break;
    x = stack_entry(at).arg;
    print_obj(P, car(x), nil_p(cdr(x)) ? inner : 0, false);
    x = stack_entry(at).arg;
    if (!list_goes_on(P, x)) break;
    separator(P);
    stack_entry(at).arg = cdr(stack_entry(at).arg);
    walk_poll();  // the rest is on the Lisp stack: a circular list prints until Control-C
  }
  P->depth--;
  if (braced)
    pc_add('}');
  else if (brace == 0)
    pc_add(')');
  pop_to(uint16_t(at + 1));
}

// One element per line: the element, then a separator and a forced break.
void break_after(Printer* P) {
  separator(P);
  P->force_break = true;
}

inline uint32_t mod_margin(Printer* P, uint32_t c) { return P->margin ? c % P->margin : c; }

// The opening of a list laid out over lines: the parenthesis, kept on a
// line with the start of the first element; returns the column after it.
uint32_t open_laid_out(Printer* P, Value x) {
  pc_add('(');
  put_piece(P, head_width(P, car(x)));
  P->depth++;
  return mod_margin(P, column(P));
}

// Its closing parenthesis, and the indentation it had before.
void close_laid_out(Printer* P, uint32_t saved_indent) {
  P->depth--;
  pc_add(')');
  P->indent = saved_indent;
}

// List-of-lists layout (binding lists): elements one per line, aligned
// after the opening parenthesis.
void print_list_of_lists(Printer* P, Value x) {
  if (level_reached(P)) {
    pc_add('#');
    return;
  }
  root_push(&x);
  uint32_t saved = P->indent;
  P->indent = open_laid_out(P, x);
  uint32_t count = 0, len = print_length();
  for (;;) {
    if (length_reached(count++, len)) break;
    print_obj(P, car(x), 0, false);
    if (!list_goes_on(P, x)) break;
    break_after(P);
    x = cdr(x);
    walk_poll();
  }
  close_laid_out(P, saved);
  root_pop();
}

// A symbol or number in a body with layout bit 0 (a label) ends just
// before the indentation column, on its own line.
void print_label(Printer* P, Value e) {
  root_push(&e);
  uint32_t w = atom_width(P, e);
  put_piece(P);
  P->sep = P->force_break = false;
  uint32_t col = column(P);
  uint32_t at = P->indent > w ? P->indent - w : 0;
  if (col > 0) out_char(P, '\n');
  for (uint32_t i = 0; i < at; i++) out_char(P, ' ');
  pc_atom(P, e);
  put_piece(P);
  root_pop();
}

// The code layout of a list whose operator has layout byte L; c is the
// column of the opening parenthesis, the operator is already printed.
// x is rooted by the caller and is advanced through the arguments.
void print_code_layout(Printer* P, Value* xp, uint8_t L, uint32_t c, uint32_t n) {
  Value& x = *xp;
  uint32_t count = 1, len = print_length();
  bool next_break = false;  // bit 5 without a second argument: the body's
  // Returns true when the list is finished (end, dotted tail or length cut).
  auto advance = [&]() -> bool {
    if (!list_goes_on(P, x)) return true;
    x = cdr(x);
    return false;
  };
  auto cut = [&]() -> bool {
    if (count++ < len) return false;
    separator(P);
    pc_add("...");
    return true;
  };
  auto plain_or_lol = [&](uint32_t sel) {
    Value e = car(x);
    if (sel == LAYOUT_ARG_BINDINGS && cons_p(e))
      print_list_of_lists(P, e);
    else
      print_obj(P, e, 0, false);
  };
  if (advance()) return;
  uint32_t first = layout_first_arg(L);
  if (first != LAYOUT_ARG_NONE) {
    if (cut()) return;
    separator(P);
    if (first == LAYOUT_ARG_REPEATED) {
      // Pairs, aligned where the first one starts.
      P->indent = mod_margin(P, column(P) + 1);
      for (;;) {
        print_obj(P, car(x), 0, false);
        if (advance()) return;
        if (cut()) return;
        separator(P);
        print_obj(P, car(x), 0, false);
        if (advance()) return;
        if (cut()) return;
        break_after(P);
      }
    }
    plain_or_lol(first);
    if (advance()) return;
    P->indent = mod_margin(P, c + 1 + n);
    uint32_t second = layout_second_arg(L);
    if (second == LAYOUT_ARG_NONE) {
      next_break = L & LAYOUT_SECOND_BREAK;
    } else {
      if (cut()) return;
      separator(P);
      if (L & LAYOUT_SECOND_BREAK) P->force_break = true;
      if (second == LAYOUT_ARG_REPEATED) {
        for (;;) {
          print_obj(P, car(x), 0, false);
          if (advance()) return;
          if (cut()) return;
          break_after(P);
        }
      }
      plain_or_lol(second);
      if (advance()) return;
    }
  }
  // The body, one element per line.
  P->indent = mod_margin(P, c + 1 + ((L & LAYOUT_BODY_PAST_OP) ? n : 0));
  for (bool first_body = true;; first_body = false) {
    if (cut()) return;
    separator(P);
    if (!first_body || (L & LAYOUT_BODY_BREAK) || next_break) P->force_break = true;
    Value e = car(x);
    if ((L & LAYOUT_LABELS) && !first_body && (is_symbol(e) || num_is_number(e)))
      print_label(P, e);
    else
      print_obj(P, e, 0, false);
    if (advance()) return;
  }
}

void print_list_pretty(Printer* P, Value x) {
  root_push(&x);
  uint32_t saved = P->indent;
  uint32_t c = open_laid_out(P, x);
  P->indent = c;
  Value op = car(x);
  uint8_t L = layout_of(op);
  if (L) {
    uint32_t n = atom_width(P, op);
    print_obj(P, op, 0, false);
    print_code_layout(P, &x, L, c, n);
  } else {
    bool fits = !(hdr_u8(HDR_SWITCHES) & SW_PRINTER_BREAK_ALL);
    if (fits) {
      uint32_t room = P->margin > column(P) ? P->margin - column(P) : 0;
      fits = flat_width(P, x, room + 1, P->depth - 1) - 1 <= room;
    }
    uint32_t count = 0, len = print_length();
    for (bool first = true;; first = false) {
      if (length_reached(count++, len)) break;
      Value e = car(x);
      bool compound = cons_p(e) || is_string_raw(e);
      if (!fits && !first && cons_p(e) && column(P) > P->indent) P->force_break = true;
      print_obj(P, e, 0, false);
      if (!list_goes_on(P, x)) break;
      separator(P);
      if (!fits) {
        if (first && !compound) {
          // Align the arguments under the first one when it starts close
          // to the operator, else just inside the parenthesis.
          uint32_t s = column(P) + 1;
          P->indent = mod_margin(P, 8 * (s - c) < P->margin - c ? s : c + 1);
        } else if (first) {
          P->indent = mod_margin(P, c + 1);
        }
        if (compound) P->force_break = true;
      }
      x = cdr(x);
      walk_poll();
    }
  }
  close_laid_out(P, saved);
  root_pop();
}

// ---------------------------------------------------------------------------
// Vectors and arrays

void print_vector(Printer* P, Value v) {
  if (!print_arrays()) return pc_array_short(v);
  root_push(&v);
  uint32_t n = heap_length(v);
  bool pp = pretty(), fits = true;
  if (pp) {
    uint32_t room = P->margin > column(P) ? P->margin - column(P) : 0;
    fits = flat_width(P, v, room, P->depth) <= room;
  }
  pc_add("#(");
  P->depth++;
  uint32_t len = print_length();
  for (uint32_t i = 0; i < n; i++) {
    if (i >= len) {
      pc_add("...");
      break;
    }
    Value e = heap_word(v, i);
    bool compound = cons_p(e) || is_string_raw(e);
    if (!fits && i > 0 && cons_p(e)) P->force_break = true;
    print_obj(P, e, 0, false);
    if (i + 1 < n) separator(P);
    if (!fits && compound) P->force_break = true;
  }
  P->depth--;
  pc_add(')');
  root_pop();
}

// One level of an array: dims[level] elements, each a sub-array of
// `stride` elements starting at `offset`.
void print_array_level(Printer* P, Value* ap, const uint32_t* dims, uint32_t rank, uint32_t level,
                       uint32_t offset) {
  if (level == rank) {
    print_obj(P, heap_word(*ap, offset), 0, false);
    return;
  }
  if (level_reached(P)) {
    pc_add('#');
    return;
  }
  uint32_t stride = 1;
  for (uint32_t k = level + 1; k < rank; k++) stride *= dims[k];
  pc_add('(');
  P->depth++;
  uint32_t len = print_length();
  for (uint32_t i = 0; i < dims[level]; i++) {
    if (i >= len) {
      separator(P);
      pc_add("...");
      break;
    }
    if (i) separator(P);
    print_array_level(P, ap, dims, rank, level + 1, offset + i * stride);
  }
  P->depth--;
  pc_add(')');
}

void print_array(Printer* P, Value a) {
  uint32_t rank = heap_array_rank(a);
  if (!print_arrays()) return pc_array_short(a);
  uint32_t len = heap_length(a), raw = heap_raw_words(a);
  uint32_t dims[MAX_ARRAY_RANK] = {};
  if (rank >= MAX_ARRAY_RANK || raw > len || raw + 1 != (rank ? rank : 1)) {
    pc_add("#<Unprintable>");
    return;
  }
  uint32_t total = len - raw, product = 1;
  for (uint32_t k = 1; k < rank; k++) {
    dims[k - 1] = heap_word(a, len - k);
    product *= dims[k - 1] ? dims[k - 1] : 1;
  }
  if (rank > 0) dims[rank - 1] = total / product;
  bool empty = false;
  for (uint32_t k = 0; k < rank; k++) empty |= dims[k] == 0;
  pc_addf("#%lldA", rank);
  if (rank == 0) {
    if (total) print_obj(P, heap_word(a, 0), 0, false);
    return;
  }
  if (empty) {
    // No elements to stand for the inner dimensions.
    pc_add("()");
    return;
  }
  root_push(&a);
  print_array_level(P, &a, dims, rank, 0, 0);
  root_pop();
}

// ---------------------------------------------------------------------------
// Instances: the print function, when the image supplies one

// Without a print function: the name of the class and where the object
// lies, as #<POINT 12AB>.
void pc_instance(Value x) {
  not_readable(x);
  Value cls = word_or_nil(x, IW_CLASS);
  Value name = is_instance(cls) ? word_or_nil(cls, CW_NAME) : NIL;
  if (tag_of(name) != TAG_SYMBOL && tag_of(name) != TAG_KEYWORD) {
    pc_add("#<Unprintable>");
    return;
  }
  pc_add("#<");
  pc_symbol(name);
  pc_addf(" %llX>", heap_offset(x));
}

void print_instance(Printer* P, Value x) {
  Value fn = sym_count_now() > FS_PRINT_INSTANCE ? sym_function(FS_PRINT_INSTANCE) : NIL;
  if (nil_p(fn) || P->measuring) {
    pc_instance(x);
    return;
  }
  // Writing the pending piece may grow a string stream and collect: the
  // function (an interpreted one is a list) moves like x.
  root_push(&x);
  root_push(&fn);
  put_piece(P);
  if (P->force_break)
    move_to_column(P, P->indent);
  else if (P->sep)
    out_char(P, ' ');
  P->sep = P->force_break = false;
  bool was = P->calling_out;
  P->calling_out = true;
  call_function2(fn, x, P->stream);
  P->calling_out = was;
  P->glued = true;
  root_pop(2);
}

// An array with a fill pointer, adjustable or displaced prints as a
// simple one of its active elements would.
void print_header_array(Printer* P, Value h) {
  bool text = arr_rank(h) == 1 && arr_holds_characters(h);
  if (!text && level_reached(P)) {
    pc_add('#');
    return;
  }
  if (circle_label(h)) return;
  root_push(&h);
  Value copy = NIL;
  root_push(&copy);
  if (arr_rank(h) == 1) {
    copy = arr_active_copy(h);
  } else {
    uint32_t rank = arr_rank(h), total = arr_total_size(h);
    copy = mem_alloc_array(total, rank);
    uint32_t len = heap_length(copy);
    for (uint32_t k = 0; k + 1 < rank; k++) heap_set_word(copy, len - 1 - k, arr_dimension(h, k));
    for (uint32_t i = 0; i < total; i++) heap_set_word(copy, i, arr_ref(h, i));
  }
  if (text)
    print_string(P, copy);
  else if (arr_rank(h) == 1)
    print_vector(P, copy);
  else
    print_array(P, copy);
  root_pop(2);
}

void print_obj(Printer* P, Value x, uint32_t brace, bool nil_as_list) {
  check_descent();
  if (arr_is_header(x)) return print_header_array(P, x);
  if (nil_p(x)) {
    if (nil_as_list)
      pc_add("()");
    else
      pc_symbol(NIL);
    return;
  }
  bool list = cons_p(x), array = is_array_object(x);
  if ((list || array) && level_reached(P)) {
    pc_add('#');
    return;
  }
  if (circle_label(x)) return;
  if (list) {
    if (pretty())
      print_list_pretty(P, x);
    else
      print_list_plain(P, x, brace);
  } else if (array) {
    if (heap_is_one_dim(x))
      print_vector(P, x);
    else
      print_array(P, x);
  } else if (is_instance(x)) {
    print_instance(P, x);
  } else {
    pc_atom(P, x);
  }
}

uint32_t right_margin(Value s) {
  if (stream_breaks_lines(s)) return stream_right_margin(s);
  Value m = sym_val(FS_PRINT_RIGHT_MARGIN);
  return is_fixnum(m) && fixnum_value(m) > 0 ? uint32_t(fixnum_value(m)) : DEFAULT_MARGIN;
}

}  // namespace

// ---------------------------------------------------------------------------
// The print entry

namespace {

void print_entry(Value obj, Value stream, uint32_t flags) {
  if (!is_stream(stream) || !stream_is_output(stream)) {
    zv_error(E_NOT_OUTPUT, stream);
    return;
  }
  Printer pr{};
  pr.stream = stream;
  root_push(&obj);
  uint32_t slot = zvts->root_count;
  root_push(&pr.stream);
  Printer* outer = live_outer_entry();
  ActiveEntry saved = pr_active;
  pr.base = outer ? pb.len : 0;
  pb.len = pr.base;
  if (outer && outer->calling_out && outer->stream == stream) {
    pr.depth = outer->depth;
    pr.indent = outer->indent;
    pr.lines_left = outer->lines_left;
    pr.stopped = outer->stopped;
  } else if (pretty() && !readably()) {
    pr.lines_left = print_lines();
  }
  // Lines break at the margin on windows and when printing pretty; data
  // written plainly to files and strings keeps the lines it was given.
  pr.margin = stream_breaks_lines(stream) || pretty() ? right_margin(stream) : NO_MARGIN;
  uint16_t mark = zvts->septr;
  if (flags & PRINT_ESCAPE)
    bind_special(FS_PRINT_ESCAPE, T);
  else if (flags & PRINT_NO_ESCAPE)
    bind_special(FS_PRINT_ESCAPE, NIL);
  if (switch_on(FS_PRINT_CIRCLE) && nil_p(circle_state()) && circle_candidate(obj)) {
    Value table = circle_scan(obj);
    if (!nil_p(table)) {
      root_push(&table);
      Value st = cons(table, make_fixnum(0));
      root_pop();
      bind_special(FS_PRINT_CIRCLE_TABLE, st);
    }
  }
  pr_active = {&pr, slot};
  if (flags & PRINT_NEWLINE) {
    pr.indent = 0;
    pr.force_break = true;
  }
  print_obj(&pr, obj, 0, flags & PRINT_NIL_AS_LIST);
  put_piece(&pr);
  if (outer && outer->calling_out && outer->stream == stream) {
    outer->lines_left = pr.lines_left;
    outer->stopped = pr.stopped;
  }
  pr_active = saved;
  pb.len = pr.base;
  unbind_to(mark);
  pop_to(mark);
  root_pop(2);
}

struct GuardedPrint {
  Value obj, stream;
  uint32_t flags;
};

void guarded_print(void* data) {
  GuardedPrint* g = static_cast<GuardedPrint*>(data);
  print_entry(g->obj, g->stream, g->flags);
}

// A print inside another (a print function's) runs in the outer one's
// descent guard.
void print_unheld(Value obj, Value stream, uint32_t flags) {
  if (live_outer_entry()) return print_entry(obj, stream, flags);
  // No print is under way outside this one: an entry a throw left behind
  // must not pass for this print's outer one when its frame and root slot
  // come back at the same places.
  pr_active = ActiveEntry{};
  GuardedPrint g{obj, stream, flags};
  if (run_descent_guarded(guarded_print, &g)) return;
  pr_active = ActiveEntry{};
  pb.len = 0;
  lisp_fatal_error(E_STACK);
}

}  // namespace

// Every print is a whole operation on its stream (the listener's values,
// the objects of messages, ~A and ~S as much as PRINT).
void print_object(Value obj, Value stream, uint32_t flags) {
  root_push(&obj);
  root_push(&stream);
  uint32_t mark = stream_hold(stream, true);
  root_pop(2);
  print_unheld(obj, stream, flags);
  stream_unhold(mark);
}

Value print_to_string(Value obj, uint32_t flags) {
  root_push(&obj);
  Value s = make_string_output_stream();
  root_push(&s);
  print_unheld(obj, s, flags);  // a stream of its own
  Value r = string_output_contents(s);
  root_pop(2);
  return r;
}

uint32_t printer_integer_digits(int64_t n, uint32_t radix, char* buf) {
  char tmp[66];
  uint64_t m = n < 0 ? 0 - uint64_t(n) : uint64_t(n);
  uint32_t k = 0;
  do {
    uint32_t d = uint32_t(m % radix);
    tmp[k++] = char(d < 10 ? '0' + d : 'a' + d - 10);
    m /= radix;
  } while (m);
  uint32_t len = 0;
  if (n < 0) buf[len++] = '-';
  while (k) buf[len++] = tmp[--k];
  return len;
}

// ---------------------------------------------------------------------------
// Built-ins

namespace {

// An output stream argument: NIL, T or a stream (5170 otherwise).
Value stream_arg(uint32_t k) { return output_stream(arg_count() >= k ? arg(k) : NIL); }

}  // namespace

// %SET-PRINT-LAYOUT (symbol fixnum), a special form: the layout byte is
// the high byte of the symbol's flags.
Value bi_set_print_layout(Value args, Value) {
  if (!cons_p(args) || !cons_p(cdr(args)) || !nil_p(cdr(cdr(args))))
    return zv_error(E_MALFORMED, args);
  Value s = car(args), n = car(cdr(args));
  if (!is_symbol(s)) return zv_error(E_WRONG_TYPE, s);
  if (!is_fixnum(n)) return zv_error(E_WRONG_TYPE, n);
  uint32_t i = symbol_index(s);
  set_symbol_layout(i, uint8_t(n & 0xFF));
  return make_symbol(i);
}

// FRESH-LINE (&optional stream)
Value bi_fresh_line(Value, Value) {
  check_max_args(1);
  Value s = stream_arg(1);
  root_push(&s);
  uint32_t mark = stream_hold(s, true);
  bool fresh = stream_column(s) != 0;
  if (fresh) stream_write_char(s, '\n');
  stream_unhold(mark);
  root_pop();
  return bool_value(fresh);
}

// PRINT (object &optional stream)
Value bi_print(Value obj, Value) {
  check_max_args(2);
  root_push(&obj);
  Value s = stream_arg(2);
  root_push(&s);
  uint32_t mark = stream_hold(s, true);
  stream_write_char(s, '\n');
  print_object(obj, s, PRINT_ESCAPE);
  stream_write_char(s, ' ');
  stream_unhold(mark);
  root_pop(2);
  return obj;
}

namespace {

// Binds the printer variables given as keywords 25..33 (WRITE and
// WRITE-TO-STRING); the keyword slots are cleared before anything prints.
void bind_print_keywords() {
  for (uint32_t k = 25; k <= 33; k++)
    if (kw_given(k)) bind_special(FS_PRINT_ARRAY + (k - 25), kw_value(k));
}

}  // namespace

// WRITE (object &key stream array base case escape gensym length level
// pretty radix)
Value bi_write(Value obj, Value) {
  root_push(&obj);
  kw_parse(1, 24, 33);
  Value s = output_stream(kw_value(24, NIL));
  root_push(&s);
  uint16_t mark = zvts->septr;
  bind_print_keywords();
  kw_clear();
  uint32_t held = stream_hold(s, true);
  print_object(obj, s, 0);
  stream_unhold(held);
  unbind_to(mark);
  pop_to(mark);
  root_pop(2);
  return obj;
}

// WRITE-TO-STRING (object &key array base case escape gensym length level
// pretty radix): the destination keyword is not among them.
Value bi_write_to_string(Value obj, Value) {
  root_push(&obj);
  kw_parse(1, 25, 33);
  uint16_t mark = zvts->septr;
  bind_print_keywords();
  kw_clear();
  Value r = print_to_string(obj, 0);
  unbind_to(mark);
  pop_to(mark);
  root_pop();
  return r;
}

// WRITE-CHAR (char &optional stream)
Value bi_write_char(Value c, Value) {
  check_max_args(2);
  while (tag_of(c) != TAG_CHAR) c = zv_error(E_WRONG_TYPE, c);
  root_push(&c);
  Value s = stream_arg(2);
  root_push(&s);
  uint32_t mark = stream_hold(s, true);
  stream_write_char(s, int(c & 0xFF00FF));  // the code, and the font a window uses
  stream_unhold(mark);
  root_pop(2);
  return c;
}

// WRITE-STRING (string &optional stream &key start end).  The keywords
// come as plain pairs: the routine reads them itself.
Value bi_write_string(Value str, Value) {
  str = arr_simplify_arg(1);
  while (!is_string(str)) str = zv_error(E_WRONG_TYPE, str);
  root_push(&str);
  Value s = stream_arg(2);
  root_push(&s);
  Value start = NIL, end = NIL;
  uint32_t n = arg_count();
  Value aok = make_keyword(FS_ALLOW_OTHER_KEYS);
  bool allowed = false;
  for (uint32_t k = 3; k < n; k += 2)
    if (arg(k) == aok) {
      allowed = !nil_p(arg(k + 1));
      break;
    }
  for (uint32_t k = 3; k <= n; k += 2) {
    Value key = arg(k);
    if (k == n) {
      lisp_cerror(MSG_CONT_IGNORE_KEY, E_KEY_NO_VALUE, key);
      break;
    }
    if (key == make_keyword(FS_START))
      start = nil_p(start) ? arg(k + 1) : start;
    else if (key == make_keyword(FS_END))
      end = nil_p(end) ? arg(k + 1) : end;
    else if (!allowed && key != aok)
      lisp_cerror(MSG_CONT_IGNORE_KEY, E_BAD_KEYWORD, key);
  }
  uint32_t from, to;
  check_bounds(start, end, string_length(str), &from, &to);
  char chunk[128];
  uint32_t mark = stream_hold(s, true);
  while (from < to) {
    uint32_t m = to - from < sizeof chunk ? to - from : uint32_t(sizeof chunk);
    std::memcpy(chunk, string_bytes(str) + from, m);
    stream_write_bytes(s, chunk, m);
    from += m;
  }
  stream_unhold(mark);
  root_pop(2);
  return str;
}

// %MACHINE-INTEGER: the integer of a fixnum or one-word integer object,
// as a proper integer Value; anything else unchanged.
Value bi_machine_integer(Value x, Value) {
  if (tag_of(x) == TAG_INT64 && !is_bignum(x)) return mem_make_integer(int64_value(x));
  return x;
}
