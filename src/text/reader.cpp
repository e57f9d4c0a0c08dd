// The reader: the outer loop, tokens and their state machine, the seven
// standard macro functions, backquote, and the macro-table built-ins.
#include "text/reader.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "builtins/hash_tables.h"
#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/hooks.h"
#include "eval/stack.h"
#include "object/bignum.h"
#include "object/chartab.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/strings.h"

namespace {

// Fixed symbols the reader builds forms with.
enum : uint32_t {
  FS_APPEND = 0x62,
  SYM_FUNCTION = 0x71,
  FS_LIST = 0x75,
  FS_VECTOR = 0x82,
  FS_APPLY = 0x88,
  FS_LIST_STAR = 0x95,
  FS_NCONC = 0x9A,
  FS_QUOTE = 0xA3,
  FS_READ_BASE = 0xCA,
  FS_PACKAGE_NAMES = 0xEC,
  FS_READTABLE = 0xED,
};

constexpr uint32_t MAX_BRACES = 16;
constexpr uint32_t LONG_TOKEN = 100;   // floats this long read as symbols
constexpr uint8_t ESCAPED = CA_PUNCT;  // the attribute of an escaped character
constexpr Value NON_TERMINATING_BIT = 0x80000000u;

struct ReaderState {
  uint8_t token[TOKEN_MAX + 2];
  uint32_t len = 0;
  uint16_t brace_level = 0;
  uint16_t parens[MAX_BRACES + 1] = {};
  uint16_t backquote = 0;
  bool intern = true;
  uint32_t skipping = 0;
  uint32_t radix = 0;  // set by #B #O #X #R for the token they read
  // The token being read.
  int state = 0;
  int largest = 0;  // largest digit weight seen
  int marker = -1;  // position of the exponent or package marker
  bool double_marker = false;  // pkg::name
  // The readtable case, and for :INVERT the cases met and which
  // characters were escaped.
  uint32_t case_mode = 0;
  bool saw_lower = false, saw_upper = false;
  bool escaped[TOKEN_MAX + 2] = {};
  uint32_t base = 10;
  // The character just read.
  int cls = 0;
  uint8_t attr = 0;
  Value entry = NIL;
};
thread_local ReaderState rd;
static_assert(sizeof(ReaderState) <= READER_HOLD_BYTES, "the break loop's buffer is too small");
static_assert(std::is_trivially_copyable_v<ReaderState>);

// ---------------------------------------------------------------------------
// Characters and their classes

Value table_entry(int c) { return syntax_entry(c); }

int class_of_entry(Value e) {
  if (is_fixnum(e)) {
    int32_t k = fixnum_value(e);
    return k >= SC_SELF && k <= SC_CONSTITUENT ? k : SC_ILLEGAL;
  }
  if (nil_p(e)) return SC_ILLEGAL;
  return (e & NON_TERMINATING_BIT) ? SC_NON_TERMINATING : SC_TERMINATING;
}

// Read a character and classify it; at the end of file the attribute is
// that of the previous character.
int next_char(Value s) {
  int c = stream_read_char(s);
  if (c < 0) {
    rd.cls = SC_EOF;
    return -1;
  }
  rd.entry = table_entry(c);
  rd.cls = class_of_entry(rd.entry);
  rd.attr = char_attr(uint32_t(c));
  return c;
}

Value list2(uint32_t sym, Value x) {
  root_push(&x);
  Value tail = cons(x, NIL);
  root_pop();
  return cons(make_symbol(sym), tail);
}

Value list3(uint32_t sym, Value x, Value y) {
  root_push(&x);
  Value tail = cons(y, NIL);
  tail = cons(x, tail);
  root_pop();
  return cons(make_symbol(sym), tail);
}

[[noreturn]] void fail(uint32_t code, Value a = NIL) {
  lisp_error(code, a);
  lisp_fatal_error(code, a);
}

[[noreturn]] void bad_char(int c) { fail(E_READ_CHAR, make_char(uint32_t(c & 0xFF))); }

[[noreturn]] void bad_token() {
  rd.token[rd.len] = 0;
  fail(E_READ_TOKEN, str_from_bytes(rd.token, rd.len));
}

// The end of file inside an object is always an error; at top level an
// end-of-file frame may take it.
Value at_end_of_file(Value s, uint32_t flags) {
  stream_unread_char(s, -1);
  stream_end_of_file(s, (flags & RD_IN_LIST) ? 0 : flags);
  return NIL;
}

// ---------------------------------------------------------------------------
// Tokens

uint32_t current_read_base() {
  Value b = sym_value(FS_READ_BASE);
  return is_fixnum(b) ? uint32_t(fixnum_value(b)) : 0;
}

// A token starts: the read base of this read decides the exponent rule.
void token_start() {
  rd.base = rd.radix ? rd.radix : current_read_base();
  if (rd.base < 2 || rd.base > 36) rd.base = 10;
  rd.len = 0;
  rd.state = 0;
  rd.largest = 0;
  rd.marker = -1;
  rd.double_marker = false;
  rd.case_mode = readtable_case();
  rd.saw_lower = rd.saw_upper = false;
}

bool is_digit(int c, uint8_t a) { return a != ESCAPED && c >= '0' && c <= '9'; }
bool is_radix_digit(uint8_t a) { return a != ESCAPED && (a & CA_DIGIT); }
uint8_t role(uint8_t a) { return a == ESCAPED ? 0 : (a & CA_ROLE_MASK); }
int weight(int c) { return char_digit_weight(uint8_t(c)); }

// The symbol states: 11 plain, 12 after the package marker, which may be
// doubled (pkg::name).
int symbol_step(int state, uint8_t a) {
  bool package = role(a) == CA_PACKAGE;
  if (state == 12) {
    if (package && !rd.double_marker && rd.marker > 0 && rd.marker == int(rd.len) - 1) {
      rd.double_marker = true;
      return 12;
    }
    if (package || !(a & 0x79)) bad_token();
    return 12;
  }
  if (package) {
    rd.marker = int(rd.len);
    return 12;
  }
  if (!(a & 0x79)) bad_token();
  return 11;
}

// One step of the token state machine for character c with attribute a;
// the combinations not listed make the token a symbol.
int token_step(int c, uint8_t a) {
  uint8_t r = role(a);
  bool digit = is_digit(c, a);
  bool exponent = r == CA_EXPONENT;
  switch (rd.state) {
    case 0:
      if (r == CA_SIGN) return 1;
      if (r == CA_DOT) return 2;
      if (is_radix_digit(a)) {
        rd.largest = weight(c);
        return 3;
      }
      break;
    case 1:
      if (is_radix_digit(a)) {
        rd.largest = weight(c);
        return 3;
      }
      if (r == CA_DOT) return 4;
      break;
    case 2:
      if (digit) return 6;
      if (r == CA_DOT) return 10;
      break;
    case 3:
      if (exponent && rd.base < 11) {
        rd.marker = int(rd.len);
        return 7;
      }
      if (is_radix_digit(a)) {
        if (weight(c) > rd.largest) rd.largest = weight(c);
        return 3;
      }
      if (r == CA_DOT) return 5;
      break;
    case 4:
      if (digit) return 6;
      break;
    case 5:
      if (digit && rd.largest < 10) return 6;
      if (exponent && rd.largest < 10) {
        rd.marker = int(rd.len);
        return 7;
      }
      break;
    case 6:
      if (digit) return 6;
      if (exponent) {
        rd.marker = int(rd.len);
        return 7;
      }
      break;
    case 7:
      if (r == CA_SIGN) return 8;
      if (digit) return 9;
      break;
    case 8:
    case 9:
      if (digit) return 9;
      break;
    case 10:
      if (r == CA_DOT) return 10;
      break;
    default:
      return symbol_step(rd.state, a);
  }
  return symbol_step(11, a);
}

void token_add(int c, uint8_t a) {
  if (rd.skipping) {
    // In a skipped form every token reads, as a symbol (a lone dot still
    // marks a dotted list); what it says is never looked at.
    if (rd.len >= TOKEN_MAX) return;
    rd.state = rd.len == 0 && a != ESCAPED && role(a) == CA_DOT ? 2 : 11;
    rd.escaped[rd.len] = a == ESCAPED;
    rd.token[rd.len++] = uint8_t(c);
    return;
  }
  if (rd.len >= TOKEN_MAX) bad_token();
  rd.state = token_step(c, a);
  rd.escaped[rd.len] = a == ESCAPED;
  rd.token[rd.len++] = uint8_t(c);
}

// An unescaped constituent, its case changed as the readtable says.
void token_add_folded(int c, uint8_t a) {
  uint8_t b = uint8_t(c);
  switch (rd.case_mode) {
    case 0:
      if (char_is_lower(b)) b = char_upcase(b);
      break;
    case 1:
      if (char_is_upper(b)) b = char_downcase(b);
      break;
    case 3:
      rd.saw_lower |= char_is_lower(b);
      rd.saw_upper |= char_is_upper(b);
      break;
  }
  token_add(b, a);
}

// :INVERT: a token whose unescaped letters are all of one case has them
// changed to the other.
void invert_token_case() {
  if (rd.case_mode != 3 || rd.saw_lower == rd.saw_upper) return;
  for (uint32_t i = 0; i < rd.len; i++)
    if (!rd.escaped[i])
      rd.token[i] = rd.saw_lower ? char_upcase(rd.token[i]) : char_downcase(rd.token[i]);
}

Value make_symbol_from_token(const uint8_t* p, uint32_t n, uint32_t tag) {
  if (!rd.intern) return sym_make(p, n);
  return sym_intern(p, n, tag);
}

// Convert [p, p + n) as an integer in base b (sign, digits, optional
// trailing dot); false when it is not one or does not fit 64 bits.
bool parse_integer(const uint8_t* p, uint32_t n, uint32_t b, int64_t* out) {
  uint32_t i = 0;
  bool negative = false;
  if (i < n && (p[i] == '+' || p[i] == '-')) negative = p[i++] == '-';
  if (n > i && p[n - 1] == '.') n--;
  if (i >= n) return false;
  uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  uint64_t m = 0;
  for (; i < n; i++) {
    int w = char_digit_weight(p[i]);
    if (w < 0 || uint32_t(w) >= b) return false;
    if (m > (limit - uint64_t(w)) / b) return false;
    m = m * b + uint64_t(w);
  }
  *out = negative ? int64_t(0 - m) : int64_t(m);
  return true;
}

// An integer of any length: the digit weights go to the integer routines.
// NO_VALUE when the token is no integer in base b.
Value parse_big_integer(const uint8_t* p, uint32_t n, uint32_t b) {
  uint32_t i = 0;
  bool negative = false;
  if (i < n && (p[i] == '+' || p[i] == '-')) negative = p[i++] == '-';
  if (n > i && p[n - 1] == '.') n--;
  if (i >= n) return NO_VALUE;
  uint8_t weights[TOKEN_MAX + 2];
  uint32_t k = 0;
  for (; i < n; i++) {
    int w = char_digit_weight(p[i]);
    if (w < 0 || uint32_t(w) >= b) return NO_VALUE;
    weights[k++] = uint8_t(w);
  }
  return int_from_digits(weights, k, b, negative);
}

// Integer tokens are limited only by the token length: beyond 64 bits
// they read as bignums.
Value token_integer(uint32_t base) {
  int64_t x;
  if (parse_integer(rd.token, rd.len, base, &x)) return mem_make_integer(x);
  Value big = parse_big_integer(rd.token, rd.len, base);
  if (big != NO_VALUE) return big;
  return make_symbol_from_token(rd.token, rd.len, TAG_SYMBOL);
}

Value token_float() {
  if (rd.len >= LONG_TOKEN) return make_symbol_from_token(rd.token, rd.len, TAG_SYMBOL);
  char text[TOKEN_MAX + 2];
  std::memcpy(text, rd.token, rd.len);
  text[rd.len] = 0;
  if (rd.state == 9 && rd.marker >= 0) text[rd.marker] = 'E';
  errno = 0;
  char* end = nullptr;
  double d = std::strtod(text, &end);
  // Too large is no number; too small reads as the nearest double (the
  // denormals the printer writes must read back).
  if (end != text + rd.len || (errno == ERANGE && std::isinf(d)))
    return make_symbol_from_token(rd.token, rd.len, TAG_SYMBOL);
  return mem_make_double(d);
}

// The package whose name or nickname the first n bytes of the token are:
// 0 none, 1 an ordinary package, 2 the package of keywords.  The names are
// those of the value of %PACKAGE-NAMES, a list of (name . keyword-p).
int known_package(const uint8_t* p, uint32_t n) {
  for (Value l = sym_value(FS_PACKAGE_NAMES); cons_p(l); l = cdr(l)) {
    Value e = car(l);
    if (!cons_p(e) || !is_string(car(e))) continue;
    Value name = car(e);
    if (string_length(name) == n && std::memcmp(string_bytes(name), p, n) == 0)
      return nil_p(cdr(e)) ? 1 : 2;
  }
  return 0;
}

// A token with a package marker: a keyword when the marker comes first;
// the symbol after the marker when what comes before it names a package
// (the one symbol namespace holds every name); otherwise the whole token
// is the name, as it is when no package has that name.
Value token_qualified() {
  uint32_t name_at = uint32_t(rd.marker) + (rd.double_marker ? 2 : 1);
  if (name_at >= rd.len) bad_token();  // ends with the marker
  if (rd.marker == 0)
    return rd.intern ? make_symbol_from_token(rd.token + 1, rd.len - 1, TAG_KEYWORD)
                     : make_symbol_from_token(rd.token, rd.len, TAG_SYMBOL);
  int package = known_package(rd.token, uint32_t(rd.marker));
  if (package == 0) {
    if (rd.double_marker) bad_token();
    return make_symbol_from_token(rd.token, rd.len, TAG_SYMBOL);
  }
  return make_symbol_from_token(rd.token + name_at, rd.len - name_at,
                                package == 2 && rd.intern ? TAG_KEYWORD : TAG_SYMBOL);
}

Value finish_token() {
  invert_token_case();
  switch (rd.state) {
    case 2:
      return MARK_DOT;
    case 3: {
      uint32_t base = rd.radix ? rd.radix : current_read_base();
      while (base < 2 || base > 36) {
        lisp_error(E_READ_BASE, make_symbol(FS_READ_BASE));
        base = current_read_base();
      }
      if (uint32_t(rd.largest) >= base) return make_symbol_from_token(rd.token, rd.len, TAG_SYMBOL);
      return token_integer(base);
    }
    case 5:
      return token_integer(10);
    case 6:
    case 9:
      return token_float();
    case 10:
      bad_token();
    case 12:
      return token_qualified();
    default:
      return make_symbol_from_token(rd.token, rd.len, TAG_SYMBOL);
  }
}

// Reading a character may wait (a console line, another thread's hold of
// the stream) where another thread's collection moves the stream object:
// every function here that uses its stream after a read keeps it rooted.

// Multiple-escape mode, after the opening bar: every character up to the
// closing bar is taken as escaped.
void read_escaped_run(Value s) {
  root_push(&s);
  for (bool more = true; more;) {
    int c = next_char(s);
    switch (rd.cls) {
      case SC_EOF:
        stream_end_of_file(s, 0);
        more = false;
        break;
      case SC_ILLEGAL:
      case SC_SELF:
        bad_char(c);
      case SC_SINGLE_ESCAPE:
        c = stream_read_char(s);
        if (c < 0) {
          stream_end_of_file(s, 0);
          more = false;
        } else {
          token_add(c, ESCAPED);
        }
        break;
      case SC_MULTIPLE_ESCAPE:
        more = false;
        break;
      default:
        token_add(c, ESCAPED);
    }
  }
  root_pop();
}

void add_single_escape(Value s) {
  root_push(&s);
  int c = stream_read_char(s);
  if (c < 0)
    stream_end_of_file(s, 0);
  else
    token_add(c, ESCAPED);
  root_pop();
}

// Accumulate the rest of a token whose first character was handled by the
// caller, then interpret it.
Value read_token(Value s, uint32_t flags) {
  root_push(&s);
  for (bool more = true; more;) {
    int c = next_char(s);
    switch (rd.cls) {
      case SC_EOF:
        stream_unread_char(s, -1);
        more = false;
        break;
      case SC_WHITESPACE:
        if (!(flags & RD_TOP_LEVEL) || (flags & RD_PRESERVE_WHITESPACE)) stream_unread_char(s, c);
        more = false;
        break;
      case SC_TERMINATING:
        stream_unread_char(s, c);
        more = false;
        break;
      case SC_SINGLE_ESCAPE:
        add_single_escape(s);
        break;
      case SC_MULTIPLE_ESCAPE:
        read_escaped_run(s);
        break;
      case SC_NON_TERMINATING:
      case SC_CONSTITUENT: {
        uint8_t a = rd.attr;
        token_add_folded(c, a);
        break;
      }
      default:
        bad_char(c);
    }
  }
  root_pop();
  return finish_token();
}

// ---------------------------------------------------------------------------
// Calling macro functions

bool is_hash_table(Value v) { return tag_of(v) == TAG_OBJECT && heap_type(v) == HT_HASH; }

bool is_reader_builtin(Value f, uint32_t lo, uint32_t hi) {
  return tag_of(f) == TAG_BUILTIN + 2 && builtin_number(f) >= lo && builtin_number(f) <= hi;
}

bool call_standard_macro(uint32_t n, Value s, Value ch, Value* out);

// Call a macro function: the kernel's own directly, others through the
// general call; false when it read nothing.
bool call_macro(Value fn, Value s, Value ch, Value arg, bool dispatch, Value* out) {
  if (!dispatch && is_reader_builtin(fn, 0, 6)) return call_standard_macro(builtin_number(fn), s, ch, out);
  if (dispatch && is_reader_builtin(fn, 7, 15)) return sharp_call(builtin_number(fn), s, ch, arg, out);
  Value args[3] = {s, ch, arg};
  *out = call_function(fn, dispatch ? 3 : 2, args);
  return zvts->mv_count != 0;
}

// The numeric argument and sub-character of a dispatching character.  The
// table is fetched again after reading: a stream error may have moved it.
bool call_dispatch(Value s, int c, Value* out) {
  root_push(&s);
  int64_t n = -1;
  int d;
  while ((d = stream_read_char(s)) >= '0' && d <= '9') {
    n = (n < 0 ? 0 : n) * 10 + (d - '0');
    if (n > FIXNUM_MAX) bad_char(c);
  }
  if (d < 0) {
    root_pop();
    stream_end_of_file(s, 0);
    return false;
  }
  uint8_t sub = uint8_t(d);
  if (char_is_lower(sub)) sub = char_upcase(sub);
  Value table = table_entry(c) & ~NON_TERMINATING_BIT;
  Value subch = make_char(sub),
        fn = is_hash_table(table) ? ht_get(table, subch, NO_VALUE) : NO_VALUE;
  if (fn == NO_VALUE || nil_p(fn)) {
    Value objects[2] = {make_char(uint32_t(c)), subch};
    lisp_error(E_READ_DISPATCH, objects);
    lisp_fatal_error(E_READ_DISPATCH);
  }
  root_pop();
  return call_macro(fn, s, subch, n < 0 ? NIL : make_fixnum(int32_t(n)), true, out);
}

bool call_macro_char(Value s, int c, Value* out) {
  Value e = rd.entry & ~NON_TERMINATING_BIT;
  if (is_hash_table(e)) return call_dispatch(s, c, out);
  return call_macro(e, s, make_char(uint32_t(c)), NIL, false, out);
}

}  // namespace

// ---------------------------------------------------------------------------
// Read object

Value read_object(Value s, uint32_t flags) {
  check_descent();
  root_push(&s);
  Value result = NIL;
  for (;;) {
    int c = next_char(s);
    switch (rd.cls) {
      case SC_EOF:
        result = at_end_of_file(s, flags);
        goto done;
      case SC_ILLEGAL:
        bad_char(c);
      case SC_SELF:
        result = make_char(uint32_t(c));
        goto done;
      case SC_WHITESPACE:
        continue;
      case SC_TERMINATING:
      case SC_NON_TERMINATING:
        if (!call_macro_char(s, c, &result)) continue;
        if (result == MARK_CLOSE && !(flags & RD_IN_LIST)) bad_char(c);
        goto done;
      case SC_SINGLE_ESCAPE:
        token_start();
        add_single_escape(s);
        break;
      case SC_MULTIPLE_ESCAPE:
        token_start();
        read_escaped_run(s);
        break;
      default: {
        token_start();
        uint8_t a = rd.attr;
        token_add_folded(c, a);
      }
    }
    result = read_token(s, flags);
    if (result == MARK_DOT && !(flags & RD_IN_LIST)) bad_char('.');
    goto done;
  }
done:
  root_pop();
  return result;
}

Value read_suppressed_object(Value s, uint32_t flags) {
  bool interning = rd.intern;
  uint32_t skipping = rd.skipping;
  rd.intern = false;
  rd.skipping = skipping + 1;
  Value x = read_object(s, flags);
  rd.intern = interning;
  rd.skipping = skipping;
  return x;
}

Value read_from(Value s, bool eof_error_p, Value eof_value, bool recursive_p) {
  uint32_t flags = recursive_p ? 0u : uint32_t(RD_TOP_LEVEL);
  if (!eof_error_p) flags |= RD_EOF_VALUE;
  return stream_read_with(read_object, s, flags, eof_value);
}

Value read_integer_token(Value s, uint32_t radix) {
  uint32_t saved = rd.radix;
  rd.radix = radix;
  Value x = read_object(s, 0);
  rd.radix = saved;
  return x;
}

// ---------------------------------------------------------------------------
// Counters and flags

ReaderCounters reader_save_counters() {
  ReaderCounters c;
  c.brace_level = rd.brace_level;
  c.parens = rd.parens[rd.brace_level];
  c.backquote = rd.backquote;
  c.skipping = uint16_t(rd.skipping);
  c.radix = uint16_t(rd.radix);
  c.intern = rd.intern;
  return c;
}

void reader_restore_counters(const ReaderCounters& c) {
  rd.brace_level = c.brace_level <= MAX_BRACES ? c.brace_level : 0;
  rd.parens[rd.brace_level] = c.parens;
  rd.backquote = c.backquote;
  rd.skipping = c.skipping;
  rd.radix = c.radix;
  rd.intern = c.intern;
}

void reader_hold(void* buffer) {
  std::memcpy(buffer, &rd, sizeof rd);
  rd = ReaderState{};
}

void reader_give_back(const void* buffer) {
  std::memcpy(&rd, buffer, sizeof rd);
  rd.entry = NIL;  // read afresh with the next character
}

// A form for the listener starts with the reader's counters afresh: a
// break level may have been entered from within a read, say one skipping
// a form after #+, whose state must not carry over to what is typed.
struct ListenerRead {
  Value stream, form;
};

void listener_read(void* data) {
  ListenerRead* r = static_cast<ListenerRead*>(data);
  r->form = read_object(r->stream, RD_TOP_LEVEL);
}

Value read_listener_form(Value stream) {
  ReaderCounters outer = reader_save_counters();
  reader_restore_counters(ReaderCounters{});
  ListenerRead r{stream, NIL};
  bool read = run_descent_guarded(listener_read, &r);
  reader_restore_counters(outer);
  if (!read) lisp_fatal_error(E_STACK);
  return r.form;
}

int reader_syntax_class(int c) { return c < 0 ? SC_EOF : class_of_entry(table_entry(c)); }
uint32_t reader_open_parens() { return rd.parens[rd.brace_level]; }
bool reader_interning() { return rd.intern; }
void reader_set_interning(bool on) { rd.intern = on; }
uint32_t reader_skipping() { return rd.skipping; }
void reader_set_skipping(uint32_t depth) { rd.skipping = depth; }
void reader_open_list() { rd.parens[rd.brace_level]++; }

void reader_recover() {
  rd.brace_level = 0;
  rd.parens[0] = 0;
  rd.backquote = 0;
  rd.intern = true;
  rd.skipping = 0;
  rd.radix = 0;
}

void reader_default_table() {
  Value* m = zvm.roots;
  for (int c = 0; c <= 128; c++) m[c] = c >= 33 ? make_fixnum(SC_CONSTITUENT) : NIL;
  m[8] = make_fixnum(SC_CONSTITUENT);
  for (int c : {9, 10, 11, 12, 13, 32}) m[c] = make_fixnum(SC_WHITESPACE);
  m['\\'] = make_fixnum(SC_SINGLE_ESCAPE);
  m['|'] = make_fixnum(SC_MULTIPLE_ESCAPE);
  m['#'] = NIL;
  const struct {
    char c;
    uint32_t builtin;
  } macros[] = {{'`', 0},  {',', 1}, {';', 2}, {'(', 3}, {'{', 3},
                {'\'', 4}, {')', 5}, {'}', 5}, {'"', 6}};
  for (const auto& mc : macros) m[uint8_t(mc.c)] = make_builtin(2, mc.builtin);
}

// ---------------------------------------------------------------------------
// Character names

namespace {

const uint8_t named_codes[6] = {8, 9, 10, 12, 13, 27};
constexpr uint32_t NAME_FIRST = FS_BACKSPACE, NAME_NUL = FS_NUL;
constexpr uint32_t KEY_FIRST = FS_F1, KEY_LAST = FS_KEY_53, KEY_END = FS_END;
constexpr uint32_t MODIFIER_FIRST = FS_CONTROL;

// Names of characters that have no fixed symbol.
const struct {
  const char* name;
  uint8_t code;
} extra_names[] = {{"SPACE", 32}, {"RUBOUT", 127}};

// Upcased copy of a name of at most 9 characters; false when longer.
bool upcase_name(const uint8_t* name, uint32_t n, uint8_t* out) {
  if (n == 0 || n > 9) return false;
  for (uint32_t i = 0; i < n; i++) out[i] = char_upcase(name[i]);
  return true;
}

}  // namespace

Value char_from_name(const uint8_t* name, uint32_t n) {
  uint8_t up[9];
  if (!upcase_name(name, n, up)) return NO_VALUE;
  for (const auto& e : extra_names)
    if (std::strlen(e.name) == n && std::memcmp(e.name, up, n) == 0) return make_char(e.code);
  SymSearch r = sym_search(up, n);
  if (!r.found) return NO_VALUE;
  uint32_t i = r.index;
  if (i >= NAME_FIRST && i < NAME_NUL) return make_char(named_codes[i - NAME_FIRST]);
  if (i == NAME_NUL) return make_char(0);
  if (i == KEY_END || (i >= KEY_FIRST && i <= KEY_LAST)) return make_char(i | 0x100);
  return NO_VALUE;
}

uint32_t modifier_from_name(const uint8_t* name, uint32_t n) {
  uint8_t up[9];
  if (!upcase_name(name, n, up)) return 0;
  SymSearch r = sym_search(up, n);
  if (!r.found || r.index < MODIFIER_FIRST || r.index > MODIFIER_FIRST + 2) return 0;
  return 1u << (r.index - MODIFIER_FIRST);
}

uint32_t char_name_index(Value ch) {
  uint32_t code = ch & 0xFFFF;
  if (code & 0x100) return code & 0xFF;
  if (code > 0xFF) return 0;
  if (code == 0) return NAME_NUL;
  if (char_attr(code) & CA_NAMED)
    for (uint32_t k = 0; k < 6; k++)
      if (named_codes[k] == code) return NAME_FIRST + k;
  return 0;
}

uint32_t char_name_copy(Value ch, char* out, uint32_t cap) {
  const uint8_t* p = nullptr;
  uint32_t n = 0;
  if (uint32_t i = char_name_index(ch); i && i < sym_count_now()) {
    Value name = sym_name(i);
    p = string_bytes(name);
    n = string_length(name);
  } else if ((ch & 0xFFFF) < 0x100) {
    for (const auto& e : extra_names)
      if (e.code == (ch & 0xFFFF)) {
        p = reinterpret_cast<const uint8_t*>(e.name);
        n = uint32_t(std::strlen(e.name));
      }
  }
  if (n > cap) n = cap;
  if (n) std::memcpy(out, p, n);
  return n;
}

// ---------------------------------------------------------------------------
// The standard macro functions

namespace {

// The reader's list builder keeps head and tail on the Lisp stack, not
// as roots: nested lists take the reader as deep as that stack allows.
struct DeepListBuilder {
  uint16_t at = 0;  // the head's entry; the tail's is the next one pushed
  void open() {
    at = push_anon(NIL);
    push_anon(NIL);
  }
  Value head() const { return stack_entry(at).arg; }
  Value tail() const { return stack_entry(at - 1u).arg; }
  void add(Value x) {
    Value cell = cons(x, NIL);
    if (nil_p(head()))
      stack_entry(at).arg = cell;
    else
      set_cdr(tail(), cell);
    stack_entry(at - 1u).arg = cell;
  }
  void close() { pop_to(uint16_t(at + 1)); }
};

// ( and {: the elements up to the closing marker; a dot before the last.
Value read_list(Value s, Value ch) {
  if ((ch & 0xFF) == '{') {
    if (rd.brace_level >= MAX_BRACES) fail(E_READ_BRACES);
    rd.parens[++rd.brace_level] = 0;
  } else {
    rd.parens[rd.brace_level]++;
  }
  root_push(&s);
  DeepListBuilder b;
  b.open();
  for (;;) {
    Value x = read_object(s, RD_IN_LIST);
    if (x == MARK_CLOSE) break;
    if (x != MARK_DOT) {
      b.add(x);
      continue;
    }
    if (nil_p(b.head())) bad_char('.');
    Value rest = read_object(s, 0);
    set_cdr(b.tail(), rest);
    if (read_object(s, RD_IN_LIST) != MARK_CLOSE) bad_char('.');
    break;
  }
  Value list = b.head();
  b.close();
  root_pop();
  return list;
}

// ) and }: a right brace closes every list opened since its left brace.
Value read_close(Value s, Value ch) {
  uint16_t& open = rd.parens[rd.brace_level];
  if ((ch & 0xFF) == ')') {
    if (open == 0) fail(E_READ_CLOSE, ch);
    open--;
    return MARK_CLOSE;
  }
  if (open > 0) {
    open--;
    stream_unread_char(s, int(ch & 0xFF));
    return MARK_CLOSE;
  }
  if (rd.brace_level == 0) fail(E_READ_CLOSE, ch);
  rd.brace_level--;
  return MARK_CLOSE;
}

Value read_quote(Value s) { return list2(FS_QUOTE, read_object(s, 0)); }

// "...": a backslash takes the next character; backslash zero is NUL.
Value read_string(Value s, Value ch) {
  root_push(&s);
  Value str = NIL;
  root_push(&str);
  uint8_t chunk[128];
  uint32_t n = 0, total = 0;
  for (;;) {
    int c = stream_read_char(s);
    if (c == int(ch & 0xFF)) break;
    if (c == '\\') {
      c = stream_read_char(s);
      if (c == '0') c = 0;
    }
    if (c < 0) {
      stream_end_of_file(s, 0);
      break;
    }
    chunk[n++] = uint8_t(c);
    if (n == sizeof chunk) {
      str = nil_p(str) ? str_from_bytes(chunk, n) : str_resize(str, total + n);
      if (total) std::memcpy(string_bytes(str) + total, chunk, n);
      total += n;
      n = 0;
    }
  }
  if (nil_p(str)) {
    str = str_from_bytes(chunk, n);
  } else if (n) {
    str = str_resize(str, total + n);
    std::memcpy(string_bytes(str) + total, chunk, n);
  }
  root_pop(2);
  return str;
}

// ; to the end of the line, which is left for the token it may end.
void skip_comment(Value s) {
  root_push(&s);
  int c;
  while ((c = stream_read_char(s)) >= 0 && c != '\n') {
  }
  stream_unread_char(s, c);
  root_pop();
}

Value backquote_expand(Value x);

// Whether x holds itself (through #n= labels): its conses and simple
// vectors walked depth first, with those on the current path marked.
// Nothing is allocated in the walk, so nothing moves.
bool holds_itself(Value x) {
  std::unordered_map<Value, bool> on_path;  // false once all below is seen
  std::vector<std::pair<Value, uint32_t>> path;  // an object, its next part
  auto enter = [&](Value v) {
    if (!cons_p(v) && !(tag_of(v) == TAG_VECTOR && is_simple_vector(v))) return false;
    auto [it, fresh] = on_path.emplace(v, true);
    if (!fresh) return it->second;
    path.emplace_back(v, 0);
    return false;
  };
  if (enter(x)) return true;
  while (!path.empty()) {
    auto& [v, next] = path.back();
    uint32_t parts = cons_p(v) ? 2 : heap_length(v);
    if (next == parts) {
      on_path[v] = false;
      path.pop_back();
      continue;
    }
    uint32_t k = next++;
    Value part = cons_p(v) ? (k == 0 ? car(v) : cdr(v)) : heap_word(v, k);
    if (enter(part)) return true;
  }
  return false;
}

Value read_backquote(Value s) {
  rd.backquote++;
  Value x = read_object(s, 0);
  rd.backquote--;
  // Circular data has no expansion: its walk would go on until no cell
  // is left.
  if (holds_itself(x)) fail_circular(x);
  return backquote_expand(x);
}

Value read_comma(Value s, Value ch) {
  if (rd.backquote < 1) bad_char(int(ch & 0xFF));
  rd.backquote--;
  root_push(&s);
  int c = stream_read_char(s);
  Value marker = MARK_COMMA;
  if (c == '.')
    marker = MARK_COMMA_DOT;
  else if (c == '@')
    marker = MARK_COMMA_AT;
  else
    stream_unread_char(s, c);
  Value x = read_object(s, 0);
  root_pop();
  rd.backquote++;
  root_push(&x);
  Value tail = cons(x, NIL);
  root_pop();
  return cons(marker, tail);
}

bool is_splice(Value e) {
  return cons_p(e) && (car(e) == MARK_COMMA_AT || car(e) == MARK_COMMA_DOT);
}

Value second(Value list) { return cons_p(cdr(list)) ? car(cdr(list)) : NIL; }

// Expand a backquoted list: its elements one by one, until the end, a
// dotted tail, a dotted unquote or a splice ends the walk.
Value backquote_list(Value x) {
  root_push(&x);
  DeepListBuilder b;
  b.open();
  uint32_t op = FS_LIST;
  Value last = NO_VALUE;
  root_push(&last);
  for (;; x = cdr(x)) {
    if (nil_p(x)) break;
    op = FS_LIST_STAR;
    if (!cons_p(x)) {
      last = list2(FS_QUOTE, x);
      break;
    }
    Value e = car(x);
    if (e == MARK_COMMA) {
      last = second(x);
      break;
    }
    if (e == MARK_COMMA_AT || e == MARK_COMMA_DOT) bad_char(',');
    if (is_splice(e)) {
      last = second(e);
      if (!nil_p(cdr(x))) {
        uint32_t join = car(e) == MARK_COMMA_AT ? FS_APPEND : FS_NCONC;
        Value rest = backquote_expand(cdr(x));
        last = list3(join, last, rest);
      }
      break;
    }
    op = FS_LIST;
    b.add(backquote_expand(e));
  }
  Value result;
  if (last != NO_VALUE && nil_p(b.head())) {
    result = last;  // a splice or unquote first: it is the whole form
  } else {
    if (last != NO_VALUE) b.add(last);
    result = cons(make_symbol(op), b.head());
  }
  root_pop();
  b.close();
  root_pop();
  return result;
}

Value backquote_expand(Value x) {
  check_descent();
  if (tag_of(x) == TAG_VECTOR && is_simple_vector(x)) {
    Value e = backquote_list(mem_vector_to_list(x, 0));
    root_push(&e);
    Value fn = list2(FS_FUNCTION, make_symbol(FS_VECTOR));
    root_pop();
    return list3(FS_APPLY, fn, e);
  }
  if (!cons_p(x)) return list2(FS_QUOTE, x);
  if (car(x) == MARK_COMMA) return second(x);
  return backquote_list(x);
}

bool call_standard_macro(uint32_t n, Value s, Value ch, Value* out) {
  switch (n) {
    case 0:
      *out = read_backquote(s);
      return true;
    case 1:
      *out = read_comma(s, ch);
      return true;
    case 2:
      skip_comment(s);
      return false;
    case 3:
      *out = read_list(s, ch);
      return true;
    case 4:
      *out = read_quote(s);
      return true;
    case 5:
      *out = read_close(s, ch);
      return true;
    default:
      *out = read_string(s, ch);
      return true;
  }
}

// ---------------------------------------------------------------------------
// Built-ins

// Built-ins 0..6 called as functions: (stream character).
Value standard_macro_routine(uint32_t n, Value s, Value ch) {
  Value x = NIL;
  if (!call_standard_macro(n, s, ch, &x)) return set_values(0, nullptr);
  return x;
}

}  // namespace

Value bi_read_backquote(Value s, Value ch) { return standard_macro_routine(0, s, ch); }
Value bi_read_comma(Value s, Value ch) { return standard_macro_routine(1, s, ch); }
Value bi_read_semicolon(Value s, Value ch) { return standard_macro_routine(2, s, ch); }
Value bi_read_left_paren(Value s, Value ch) { return standard_macro_routine(3, s, ch); }
Value bi_read_quote(Value s, Value ch) { return standard_macro_routine(4, s, ch); }
Value bi_read_right_paren(Value s, Value ch) { return standard_macro_routine(5, s, ch); }
Value bi_read_string(Value s, Value ch) { return standard_macro_routine(6, s, ch); }

namespace {

// What the macro table may hold as a function: a built-in, an interpreted
// function or closure, or a symbol that names a function.
bool is_function_value(Value f) {
  if (is_builtin(f)) return true;
  if (cons_p(f)) return true;
  if (tag_of(f) == TAG_SYMBOL && !nil_p(f)) return !nil_p(sym_function(symbol_index(f)));
  return false;
}

bool table_char(Value ch) { return tag_of(ch) == TAG_CHAR && (ch & 0xFFFF) < 129; }

}  // namespace

// ---------------------------------------------------------------------------
// The current readtable

namespace {

// The syntax vector of the readtable in *READTABLE*, or NIL for the root
// words.
Value current_syntax(Value* rt_out = nullptr) {
  Value rt = sym_value(FS_READTABLE);
  if (tag_of(rt) != TAG_OBJECT || heap_type(rt) != HT_INSTANCE ||
      object_value_words_at(heap_addr(rt)) < 3)
    return NIL;
  Value v = heap_word(rt, 1);
  if (!is_simple_vector(v) || heap_length(v) < SYNTAX_VECTOR_LENGTH) return NIL;
  if (rt_out) *rt_out = rt;
  return v;
}

inline uint32_t entry_index(int c) { return (c < 0 || c > 127) ? 128 : uint32_t(c); }

}  // namespace

Value syntax_entry(int c) {
  uint32_t k = entry_index(c);
  Value v = current_syntax();
  if (nil_p(v)) return zvm.roots[k];
  Value e = heap_word(v, k);
  return nil_p(heap_word(v, SYNTAX_ENTRIES + k)) ? e : e | NON_TERMINATING_BIT;
}

void set_syntax_entry(int c, Value entry) {
  uint32_t k = entry_index(c);
  Value v = current_syntax();
  if (nil_p(v)) {
    zvm.roots[k] = entry;
    return;
  }
  bool non_terminating = !is_fixnum(entry) && !nil_p(entry) && (entry & NON_TERMINATING_BIT);
  heap_set_word(v, k, entry & ~NON_TERMINATING_BIT);
  heap_set_word(v, SYNTAX_ENTRIES + k, bool_value(non_terminating));
}

uint32_t readtable_case() {
  Value rt = NIL;
  if (nil_p(current_syntax(&rt))) return 0;
  Value mode = heap_word(rt, 2);
  return is_fixnum(mode) && fixnum_value(mode) >= 0 && fixnum_value(mode) <= 3
             ? uint32_t(fixnum_value(mode))
             : 0;
}

int syntax_class_of(int c) {
  Value e = syntax_entry(c);
  if (nil_p(e)) return SC_ILLEGAL;
  if (((e >> 24) & 0x7F) == TAG_FIXNUM) return fixnum_value(e & ~NON_TERMINATING_BIT);
  return (e & NON_TERMINATING_BIT) ? SC_NON_TERMINATING : SC_TERMINATING;
}

// 323 GET-MACRO-CHARACTER (char): the function and whether it is
// non-terminating.
Value bi_get_macro_character(Value ch, Value) {
  while (!table_char(ch)) ch = lisp_error(E_WRONG_TYPE, ch);
  Value e = syntax_entry(int(ch & 0xFFFF));
  Value fn = e & ~NON_TERMINATING_BIT;
  if (is_fixnum(e) || nil_p(e) || !(is_function_value(fn) || is_hash_table(fn))) fn = NIL;
  Value values[2] = {fn, bool_value(!is_fixnum(e) && (e & NON_TERMINATING_BIT))};
  return set_values(2, values);
}

// 331 SET-MACRO-CHARACTER (char function &optional non-terminating)
Value bi_set_macro_character(Value, Value) {
  check_max_args(3);
  Value ch = arg(1), fn = arg(2);
  if (!table_char(ch) || !is_function_value(fn)) return lisp_error(E_WRONG_TYPE, ch);
  bool non_terminating = arg_count() >= 3 && !nil_p(arg(3));
  set_syntax_entry(int(ch & 0xFFFF), fn | (non_terminating ? NON_TERMINATING_BIT : 0));
  return T;
}

// 330 SET-DISPATCH-MACRO-CHARACTER (dispatch-char sub-char function)
Value bi_set_dispatch_macro_character(Value, Value) {
  Value ch = arg(1), sub = arg(2), fn = arg(3);
  Value table = table_char(ch) ? syntax_entry(int(ch & 0xFFFF)) & ~NON_TERMINATING_BIT : NIL;
  if (!is_hash_table(table)) return lisp_error(E_WRONG_TYPE, ch);
  if (tag_of(sub) != TAG_CHAR || ((sub & 0xFF) >= '0' && (sub & 0xFF) <= '9'))
    return lisp_error(E_WRONG_TYPE, sub);
  if (!is_function_value(fn)) return lisp_error(E_WRONG_TYPE, fn);
  ht_put(table, make_char(char_upcase(uint8_t(sub & 0xFF))), fn);
  return T;
}

namespace {

// Built-ins 7..15 called as functions: (stream sub-character argument).
Value sharp_routine(uint32_t n) {
  Value x = NIL;
  if (!sharp_call(n, arg(1), arg(2), arg(3), &x)) return set_values(0, nullptr);
  return x;
}

}  // namespace

Value bi_sharp_7(Value, Value) { return sharp_routine(7); }
Value bi_sharp_8(Value, Value) { return sharp_routine(8); }
Value bi_sharp_9(Value, Value) { return sharp_routine(9); }
Value bi_sharp_10(Value, Value) { return sharp_routine(10); }
Value bi_sharp_11(Value, Value) { return sharp_routine(11); }
Value bi_sharp_12(Value, Value) { return sharp_routine(12); }
Value bi_sharp_13(Value, Value) { return sharp_routine(13); }
Value bi_sharp_14(Value, Value) { return sharp_routine(14); }
Value bi_sharp_15(Value, Value) { return sharp_routine(15); }
