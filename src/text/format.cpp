// FORMAT.
//
// The arguments lie on the Lisp stack in reverse order (the first at the
// highest index), so a window of three indices walks them: first, end (one
// below the last) and next.  Nested argument lists (~?, ~{) are pushed as
// new windows below septr and popped afterwards.
//
// Groups (~[ ~( ~{) find their closing directive before they run, so a ~^
// that ends a group early leaves the text after the group well placed.
// Handlers return 0, a sub-code to report, -1 or -2 for ~^ and ~:^, or
// ABORTED once an error has been signalled.
#include "text/format.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "builtins/numbers.h"
#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/context.h"
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
#include "text/printer.h"
#include "text/strings.h"

namespace {

constexpr int ABORTED = -3;
constexpr uint32_t MAX_PARAMS = 7;

// The directive characters in table order; the line feed is index 15.
// The directives that take an argument come first, up to ~?; the group
// separators and closers last.
constexpr char DIRECTIVES[] = "ASBDOXCFER?%|~&\nT*^[({;])}";
constexpr uint16_t MASKS[26] = {0xC095, 0xC095, 0xC069, 0xC069, 0xC069, 0xC069, 0xC000,
                                0xC295, 0xEA55, 0xC1A5, 0x8000, 0x0001, 0x0001, 0x0001,
                                0x0001, 0xC000, 0xC005, 0xC001, 0x4015, 0xC001, 0xC003,
                                0xC001, 0x4005, 0x0000, 0x0000, 0x4000};
enum : uint32_t {
  D_A,
  D_S,
  D_B,
  D_D,
  D_O,
  D_X,
  D_C,
  D_F,
  D_E,
  D_R,
  D_QUERY,
  D_PERCENT,
  D_BAR,
  D_TILDE,
  D_AMP,
  D_NEWLINE,
  D_T,
  D_STAR,
  D_CARET,
  D_LBRACKET,
  D_LPAREN,
  D_LBRACE,
  D_SEMI,
  D_RBRACKET,
  D_RPAREN,
  D_RBRACE
};
constexpr uint32_t F_COLON = 0x4000, F_AT = 0x8000;

struct Directive {
  int32_t p[MAX_PARAMS];
  uint32_t flags;  // bit 2i: number i given, bit 2i+1: character i given
  uint32_t index;
};
inline bool given(const Directive& d, uint32_t i) { return d.flags & (3u << (2 * i)); }
inline int32_t param(const Directive& d, uint32_t i, int32_t dflt) {
  return given(d, i) ? d.p[i] : dflt;
}
inline bool colon(const Directive& d) { return d.flags & F_COLON; }
inline bool atsign(const Directive& d) { return d.flags & F_AT; }

// One interpretation level.  stream and control are rooted by whoever
// makes the record.
struct Fmt {
  Value stream;
  Value control;
  uint32_t pos, len;
  uint32_t first, end, next;  // argument window: next > end means arguments left
  int32_t outer_left;         // sublists left in an enclosing ~:{, -1 outside
};

inline uint8_t ctl(const Fmt* F, uint32_t i) { return string_bytes(F->control)[i]; }
inline uint32_t args_left(const Fmt* F) { return F->next - F->end; }
inline Value take(Fmt* F) { return zvts->stack[F->next--].arg; }

// Root the two Values of a record for its lifetime (pop 2 afterwards).
inline void fmt_root(Fmt* F) {
  root_push(&F->stream);
  root_push(&F->control);
}

// A window over the elements of a list pushed onto the Lisp stack; the
// caller pops to F->first + 1 afterwards.
void push_window(Fmt* F, Value list) {
  uint32_t base = zvts->septr;
  for (uint32_t n = 0; cons_p(list); list = cdr(list), n++) push_arg(car(list));
  F->first = F->next = base - 1;
  F->end = zvts->septr - 1u;
}

int fail(Fmt* F, uint32_t sub) {
  Value objects[4] = {message_text(sub), F->control, make_fixnum(int32_t(F->pos)),
                      make_fixnum(int32_t(sub))};
  zv_error_fn(ERR_FORMAT, objects);
  return ABORTED;
}

inline bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

int syntax_class(uint8_t c) { return syntax_class_of(c); }

// ---------------------------------------------------------------------------
// Parsing a directive (F->pos just after the tilde).  When exec is false
// (skipping text), V and # take nothing and check nothing.

int parse_param(Fmt* F, Directive* d, uint32_t i, bool exec) {
  uint8_t c = ctl(F, F->pos);
  if (c == '+' || c == '-' || is_digit(c)) {
    uint32_t p = F->pos + (c == '+' || c == '-');
    if (p >= F->len || !is_digit(ctl(F, p))) return FMT_SYNTAX;
    int64_t v = 0;
    for (; p < F->len && is_digit(ctl(F, p)); p++)
      if (v < 0x7FFFFFFF) v = v * 10 + (ctl(F, p) - '0');
    if (v > 0x7FFFFFFF) v = 0x7FFFFFFF;
    d->p[i] = int32_t(c == '-' ? -v : v);
    d->flags |= 1u << (2 * i);
    F->pos = p;
  } else if (c == '\'') {
    if (F->pos + 1 >= F->len) return FMT_SYNTAX;
    d->p[i] = ctl(F, F->pos + 1);
    d->flags |= 2u << (2 * i);
    F->pos += 2;
  } else if (c == 'V' || c == 'v') {
    F->pos++;
    if (!exec) return 0;
    if (!args_left(F)) return FMT_NO_ARG;
    Value a = take(F);
    if (is_fixnum(a)) {
      d->p[i] = fixnum_value(a);
      d->flags |= 1u << (2 * i);
    } else if ((a & 0xFFFF0000u) == 0x0A000000u && !(a & 0xFF00)) {
      d->p[i] = int32_t(a & 0xFF);
      d->flags |= 2u << (2 * i);
    } else if (!nil_p(a)) {
      return FMT_BAD_ARG;
    }
  } else if (c == '#') {
    F->pos++;
    if (!exec) return 0;
    d->p[i] = int32_t(args_left(F));
    d->flags |= 1u << (2 * i);
  }
  return 0;
}

int parse_directive(Fmt* F, Directive* d, bool exec) {
  *d = Directive{};
  for (uint32_t i = 0;; i++) {
    if (F->pos >= F->len) return FMT_SYNTAX;
    if (int r = parse_param(F, d, i, exec)) return r;
    if (F->pos >= F->len) return FMT_SYNTAX;
    if (ctl(F, F->pos) != ',') break;
    if (i + 1 >= MAX_PARAMS) return FMT_SYNTAX;
    F->pos++;
  }
  // Modifiers, in either order.
  for (;;) {
    uint8_t c = ctl(F, F->pos);
    if (c == ':' && !colon(*d))
      d->flags |= F_COLON;
    else if (c == '@' && !atsign(*d))
      d->flags |= F_AT;
    else
      break;
    if (++F->pos >= F->len) return FMT_SYNTAX;
  }
  uint8_t c = char_upcase(ctl(F, F->pos++));
  const char* hit = c ? std::strchr(DIRECTIVES, c) : nullptr;
  if (!hit) return FMT_SYNTAX;
  d->index = uint32_t(hit - DIRECTIVES);
  if (d->flags & ~uint32_t(MASKS[d->index])) return FMT_SYNTAX;
  return 0;
}

// The next directive at this nesting level that separates or closes a
// group (~; ~] ~) ~}), skipping the text and whole groups before it.  On
// success *at is the position of its tilde and F->pos is past it.
int scan(Fmt* F, uint32_t* at, Directive* d) {
  check_native_stack();
  for (;;) {
    while (F->pos < F->len && ctl(F, F->pos) != '~') F->pos++;
    if (F->pos >= F->len) return FMT_BRACKET;
    uint32_t tilde = F->pos++;
    if (int r = parse_directive(F, d, false)) return r;
    if (d->index >= D_SEMI) {
      *at = tilde;
      return 0;
    }
    if (d->index < D_LBRACKET || d->index > D_LBRACE) continue;
    uint32_t closer = d->index + (D_RBRACKET - D_LBRACKET);
    for (;;) {
      uint32_t t;
      Directive e;
      if (int r = scan(F, &t, &e)) return r;
      if (e.index == closer) break;
      if (e.index != D_SEMI) return FMT_BRACKET;
      if (closer != D_RBRACKET) return FMT_SYNTAX;
    }
  }
}

// The directive loop over [F->pos, stop).
int interpret(Fmt* F, uint32_t stop);

// ---------------------------------------------------------------------------
// Output helpers

void write_repeat(Fmt* F, int c, int64_t n) {
  for (int64_t i = 0; i < n; i++) stream_write_char(F->stream, c);
}

// Printed text of x as a fresh string, for padding.
void print_padded(Fmt* F, Value x, uint32_t flags, const Directive& d) {
  int64_t mincol = param(d, 0, 0), colinc = param(d, 1, 1), minpad = param(d, 2, 0);
  int pad = param(d, 3, ' ');
  Value s = print_to_string(x, flags);
  root_push(&s);
  int64_t n = string_length(s);
  int64_t padn = minpad > 0 ? minpad : 0;
  if (colinc < 1) colinc = 1;
  if (n + padn < mincol) padn += (mincol - n - padn + colinc - 1) / colinc * colinc;
  if (atsign(d)) write_repeat(F, pad, padn);
  char chunk[128];
  for (uint32_t i = 0; i < n;) {
    uint32_t m = n - i < int64_t(sizeof chunk) ? uint32_t(n - i) : uint32_t(sizeof chunk);
    std::memcpy(chunk, string_bytes(s) + i, m);
    stream_write_bytes(F->stream, chunk, m);
    i += m;
  }
  if (!atsign(d)) write_repeat(F, pad, padn);
  root_pop();
}

// ~A ~S ~E: the printer, escaping off or on; the colon prints NIL as ().
// The column parameters pad as Common Lisp has them.
int fmt_print(Fmt* F, const Directive& d, bool escape) {
  Value x = take(F);
  uint32_t flags =
      (escape ? PRINT_ESCAPE : PRINT_NO_ESCAPE) | (colon(d) ? uint32_t(PRINT_NIL_AS_LIST) : 0u);
  if (d.flags & 0xFF)
    print_padded(F, x, flags, d);
  else
    print_object(x, F->stream, flags);
  return 0;
}

// The text of ~D and its kin: sign, digits in the radix with the comma
// character between groups (colon modifier), padded on the left.  The
// parameters start at p0: minimum column, pad character, comma character,
// comma interval (0 turns the grouping off).
void write_integer(Fmt* F, const Directive& d, Value x, uint32_t radix, uint32_t p0) {
  int64_t mincol = param(d, p0, 0);
  int pad = param(d, p0 + 1, ' '), comma = param(d, p0 + 2, ','), interval = param(d, p0 + 3, 3);
  bool group = colon(d) && interval > 0;
  int64_t n;
  if (int_get_int64(x, &n)) {
    char digits[72];
    uint32_t nd = printer_integer_digits(n, radix, digits);
    const char* dp = digits + (n < 0);
    nd -= (n < 0);
    // Sign, digits and commas: at most 1 + 64 + 63 characters.
    char text[160];
    uint32_t len = 0;
    if (n < 0)
      text[len++] = '-';
    else if (atsign(d))
      text[len++] = '+';
    for (uint32_t i = 0; i < nd; i++) {
      if (group && i > 0 && (nd - i) % uint32_t(interval) == 0) text[len++] = char(comma);
      text[len++] = dp[i];
    }
    if (mincol > len) write_repeat(F, pad, mincol - len);
    stream_write_bytes(F->stream, text, len);
    return;
  }
  // A bignum: its digits become a string, so that nothing the stream does
  // while they are written can disturb them.
  bool negative = int_minusp(x);
  uint32_t nd;
  const char* digits = int_digits(x, radix, &nd);
  Value s = mem_make_string(digits, nd);
  root_push(&s);
  int64_t len = nd + (negative || atsign(d)) + (group ? (nd - 1) / uint32_t(interval) : 0);
  if (mincol > len) write_repeat(F, pad, mincol - len);
  if (negative || atsign(d)) stream_write_char(F->stream, negative ? '-' : '+');
  char chunk[256];
  uint32_t m = 0;
  for (uint32_t i = 0; i < nd; i++) {
    if (group && i > 0 && (nd - i) % uint32_t(interval) == 0) chunk[m++] = char(comma);
    chunk[m++] = char(string_bytes(s)[i]);
    if (m >= sizeof chunk - 2 || i + 1 == nd) {
      stream_write_bytes(F->stream, chunk, m);
      m = 0;
    }
  }
  root_pop();
}

// ~B ~D ~O ~X
int fmt_integer(Fmt* F, const Directive& d, uint32_t radix) {
  Value x = take(F);
  if (!num_is_integer(x)) {
    print_object(x, F->stream, PRINT_NO_ESCAPE);
    return 0;
  }
  write_integer(F, d, x, radix, 0);
  return 0;
}

// ---------------------------------------------------------------------------
// ~R: with a radix as its first parameter, ~D in that radix; without one,
// the number in English words (the colon: as an ordinal) or, with the at
// sign, in Roman numerals (both modifiers: the old ones, without
// subtraction).  Numbers English or Roman numerals have no words for are
// written in decimal.

const char* const ONES[20] = {"",        "one",     "two",       "three",    "four",
                              "five",    "six",     "seven",     "eight",    "nine",
                              "ten",     "eleven",  "twelve",    "thirteen", "fourteen",
                              "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"};
const char* const TENS[10] = {"",      "",      "twenty",  "thirty", "forty",
                              "fifty", "sixty", "seventy", "eighty", "ninety"};
const char* const SCALES[22] = {"",
                                " thousand",
                                " million",
                                " billion",
                                " trillion",
                                " quadrillion",
                                " quintillion",
                                " sextillion",
                                " septillion",
                                " octillion",
                                " nonillion",
                                " decillion",
                                " undecillion",
                                " duodecillion",
                                " tredecillion",
                                " quattuordecillion",
                                " quindecillion",
                                " sexdecillion",
                                " septendecillion",
                                " octodecillion",
                                " novemdecillion",
                                " vigintillion"};
constexpr uint32_t ENGLISH_DIGITS = 66;  // up to 10^66 - 1

struct Words {
  char text[2048];
  uint32_t len = 0;
  void add(const char* s) {
    while (*s && len < sizeof text) text[len++] = *s++;
  }
};

// 1 .. 999
void english_group(Words* w, uint32_t n) {
  uint32_t h = n / 100, r = n % 100;
  if (h) {
    w->add(ONES[h]);
    w->add(" hundred");
    if (r) w->add(" ");
  }
  if (r >= 20) {
    w->add(TENS[r / 10]);
    if (r % 10) {
      w->add("-");
      w->add(ONES[r % 10]);
    }
  } else if (r) {
    w->add(ONES[r]);
  }
}

// The ordinal of the last word: first, second, ... twelfth, twentieth.
void make_ordinal(Words* w) {
  uint32_t start = w->len;
  while (start > 0 && w->text[start - 1] != ' ' && w->text[start - 1] != '-') start--;
  const char* last = w->text + start;
  uint32_t n = w->len - start;
  static const char* const IRREGULAR[][2] = {{"one", "first"},   {"two", "second"},
                                             {"three", "third"}, {"five", "fifth"},
                                             {"eight", "eighth"}, {"nine", "ninth"},
                                             {"twelve", "twelfth"}};
  for (const auto& pair : IRREGULAR) {
    if (std::strlen(pair[0]) == n && std::memcmp(last, pair[0], n) == 0) {
      w->len = start;
      w->add(pair[1]);
      return;
    }
  }
  if (n && last[n - 1] == 'y') {
    w->len--;
    w->add("ieth");
  } else {
    w->add("th");
  }
}

// decimal: the digits of |x| (at most ENGLISH_DIGITS of them).
void english(Words* w, const char* decimal, uint32_t nd, bool negative, bool ordinal) {
  if (nd == 1 && decimal[0] == '0') {
    w->add(ordinal ? "zeroth" : "zero");
    return;
  }
  if (negative) w->add("negative ");
  uint32_t groups = (nd + 2) / 3, at = 0;
  bool first = true;
  for (uint32_t g = groups; g-- > 0;) {
    uint32_t width = nd - at - 3 * g;  // 1..3 digits in the top group, then 3
    uint32_t v = 0;
    for (uint32_t k = 0; k < width; k++) v = v * 10 + uint32_t(decimal[at + k] - '0');
    at += width;
    if (!v) continue;
    if (!first) w->add(" ");
    first = false;
    english_group(w, v);
    w->add(SCALES[g]);
  }
  if (ordinal) make_ordinal(w);
}

void roman(Words* w, uint32_t n, bool old) {
  static const uint32_t VALUES[13] = {1000, 900, 500, 400, 100, 90, 50, 40, 10, 9, 5, 4, 1};
  static const char* const LETTERS[13] = {"M",  "CM", "D",  "CD", "C",  "XC", "L",
                                          "XL", "X",  "IX", "V",  "IV", "I"};
  for (uint32_t i = 0; i < 13; i++) {
    if (old && (i & 1)) continue;  // no subtractive pairs
    while (n >= VALUES[i]) {
      w->add(LETTERS[i]);
      n -= VALUES[i];
    }
  }
}

int fmt_radix(Fmt* F, const Directive& d) {
  Value x = take(F);
  if (given(d, 0) && (param(d, 0, 10) < 2 || param(d, 0, 10) > 36)) return FMT_SYNTAX;
  if (!num_is_integer(x)) {
    print_object(x, F->stream, PRINT_NO_ESCAPE);
    return 0;
  }
  if (given(d, 0)) {
    write_integer(F, d, x, uint32_t(param(d, 0, 10)), 1);
    return 0;
  }
  Words w;
  int64_t n;
  if (atsign(d)) {
    bool old = colon(d);
    if (!int_get_int64(x, &n) || n < 1 || n >= (old ? 5000 : 4000)) {
      write_integer(F, Directive{}, x, 10, 0);
      return 0;
    }
    roman(&w, uint32_t(n), old);
  } else {
    char small[72];
    const char* digits = small;
    uint32_t nd;
    bool negative = int_minusp(x);
    if (int_get_int64(x, &n)) {
      nd = printer_integer_digits(n, 10, small);
      if (negative) {
        digits++;
        nd--;
      }
    } else {
      digits = int_digits(x, 10, &nd);
    }
    if (nd > ENGLISH_DIGITS) {
      write_integer(F, Directive{}, x, 10, 0);
      return 0;
    }
    char copy[ENGLISH_DIGITS];
    std::memcpy(copy, digits, nd);
    english(&w, copy, nd, negative, colon(d));
  }
  stream_write_bytes(F->stream, w.text, w.len);
  return 0;
}

// ~F: fixed point.  Integers are shown as floats; other non-floats as ~A.
int fmt_fixed(Fmt* F, const Directive& d) {
  Value a = take(F);
  double x;
  if (num_is_double(a))
    x = double_value(a);
  else if (num_is_integer(a)) {
    bool overflow;  // an integer beyond the double range prints as ~A
    x = int_to_double(a, &overflow);
    if (overflow) x = NAN;
  } else {
    x = NAN;
  }
  if (given(d, 2) && std::isfinite(x)) x *= std::pow(10.0, param(d, 2, 0));
  if (!std::isfinite(x)) {
    print_object(a, F->stream, PRINT_NO_ESCAPE);
    return 0;
  }
  bool neg = std::signbit(x);
  double ax = std::fabs(x);
  // A double has at most 1074 digits after the point that are not zero,
  // so more digits than that are zeros written one by one.
  constexpr int MAX_DIGITS = 1080;
  char buf[1500];
  int len;
  int64_t zeros = 0;
  int64_t width = given(d, 0) ? param(d, 0, 0) : -1;
  uint32_t signw = neg || atsign(d);
  if (given(d, 1)) {
    int64_t want = param(d, 1, 0) < 0 ? 0 : param(d, 1, 0);
    int use = want > MAX_DIGITS ? MAX_DIGITS : int(want);
    zeros = want - use;
    len = std::snprintf(buf, sizeof buf, "%.*f", use, ax);
  } else {
    // As many digits as 15 significant ones need, trailing zeros dropped;
    // with a width, fewer when they would not fit.
    int e = ax == 0 ? 0 : int(std::floor(std::log10(ax)));
    int use = 14 - e;
    use = use < 1 ? 1 : use > MAX_DIGITS ? MAX_DIGITS : use;
    len = std::snprintf(buf, sizeof buf, "%.*f", use, ax);
    while (len > 0 && buf[len - 1] == '0' && buf[len - 2] != '.') len--;
    const char* point = std::strchr(buf, '.');
    int intlen = int(point - buf), fraction = len - intlen - 1;
    if (width >= 0 && signw + len > width) {
      int64_t room = width - signw - intlen - 1;
      if (room < fraction) {
        int r = room < 0 ? 0 : int(room);
        len = std::snprintf(buf, sizeof buf, "%.*f", r, ax);
        if (r == 0) buf[len++] = '.';
      }
    }
  }
  const char* text = buf;
  int64_t total = signw + len + zeros;
  if (width >= 0 && total > width && len > 1 && buf[0] == '0' && buf[1] == '.') {
    text++;
    len--;
    total--;
  }
  if (width >= 0 && total > width && given(d, 3)) {
    write_repeat(F, param(d, 3, '*'), width);
    return 0;
  }
  if (width > total) write_repeat(F, param(d, 4, ' '), width - total);
  if (neg)
    stream_write_char(F->stream, '-');
  else if (atsign(d))
    stream_write_char(F->stream, '+');
  stream_write_bytes(F->stream, text, uint32_t(len));
  write_repeat(F, '0', zeros);
  return 0;
}

// ~? and ~@?: a control string from the arguments.
int fmt_indirect(Fmt* F, const Directive& d) {
  Value control = take(F);
  if (!is_string(control)) return FMT_BAD_ARG;
  Fmt sub = *F;
  sub.control = control;
  sub.pos = 0;
  sub.len = string_length(control);
  sub.outer_left = -1;
  fmt_root(&sub);
  uint16_t base = zvts->septr;
  if (!atsign(d)) {
    if (!args_left(F)) {
      root_pop(2);
      return FMT_NO_ARG;
    }
    Value list = take(F);
    if (!is_list(list)) {
      root_pop(2);
      return FMT_BAD_ARG;
    }
    push_window(&sub, list);
  }
  int r = interpret(&sub, sub.len);
  if (atsign(d)) F->next = sub.next;
  pop_to(base);
  root_pop(2);
  return r == ABORTED ? ABORTED : 0;
}

// ~T
int fmt_tab(Fmt* F, const Directive& d) {
  int64_t col = stream_column(F->stream);
  if (atsign(d)) {
    int64_t rel = param(d, 0, 1), inc = param(d, 1, 8);
    if (inc == 0) return FMT_SYNTAX;
    write_repeat(F, ' ', rel);
    col += rel > 0 ? rel : 0;
    if (inc > 0 && col % inc) write_repeat(F, ' ', inc - col % inc);
    return 0;
  }
  int64_t c = param(d, 0, 1), inc = param(d, 1, 1);
  if (colon(d)) {
    if (col + inc > c - 1)
      stream_write_char(F->stream, '\n');
    else
      write_repeat(F, ' ', c - 1 - col);
    return 0;
  }
  if (col < c)
    write_repeat(F, ' ', c - col);
  else if (inc >= 1)
    write_repeat(F, ' ', inc - (col - c) % inc);
  return 0;
}

// ~*: skip, back up, or go to an argument, never leaving the window.
int fmt_goto(Fmt* F, const Directive& d) {
  int64_t n = param(d, 0, atsign(d) ? 0 : 1);
  if (n < 0) n = 0;
  int64_t next = F->next;
  if (atsign(d))
    next = int64_t(F->first) - n;
  else if (colon(d))
    next += n;
  else
    next -= n;
  if (next > int64_t(F->first)) next = F->first;
  if (next < int64_t(F->end)) next = F->end;
  F->next = uint32_t(next);
  return 0;
}

// ~^
int fmt_escape(Fmt* F, const Directive& d) {
  uint32_t n = 0;
  int32_t p[3];
  for (uint32_t i = 0; i < 3; i++)
    if (given(d, i)) p[n++] = d.p[i];
  bool stop;
  if (n == 0)
    stop = colon(d) && F->outer_left >= 0 ? F->outer_left == 0 : args_left(F) == 0;
  else if (n == 1)
    stop = p[0] == 0;
  else if (n == 2)
    stop = p[0] == p[1];
  else
    stop = p[0] <= p[1] && p[1] <= p[2];
  if (!stop) return 0;
  return colon(d) ? -2 : -1;
}

// Runs the clause at F->pos up to its ~; or ~], then skips to after ~].
int run_clause(Fmt* F) {
  uint32_t start = F->pos, t;
  Directive e;
  if (int r = scan(F, &t, &e)) return r;
  if (e.index != D_SEMI && e.index != D_RBRACKET) return FMT_BRACKET;
  uint32_t after = F->pos;
  F->pos = start;
  int r = interpret(F, t);
  if (r) return r;
  F->pos = after;
  while (e.index == D_SEMI) {
    if (int r2 = scan(F, &t, &e)) return r2;
    if (e.index != D_SEMI && e.index != D_RBRACKET) return FMT_BRACKET;
  }
  return 0;
}

// ~[
int fmt_conditional(Fmt* F, const Directive& d) {
  if (colon(d) && atsign(d)) return FMT_SYNTAX;
  if (atsign(d)) {
    if (!args_left(F)) return FMT_NO_ARG;
    if (nil_p(take(F))) {
      uint32_t t;
      Directive e;
      do {
        if (int r = scan(F, &t, &e)) return r;
        if (e.index != D_SEMI && e.index != D_RBRACKET) return FMT_BRACKET;
      } while (e.index != D_RBRACKET);
      return 0;
    }
    F->next++;  // the clause takes the argument again
    return run_clause(F);
  }
  int64_t n = 0;
  bool by_default = false;
  if (colon(d)) {
    if (!args_left(F)) return FMT_NO_ARG;
    n = nil_p(take(F)) ? 0 : 1;
  } else if (given(d, 0)) {
    n = d.p[0];
    by_default = n < 0;
  } else {
    if (!args_left(F)) return FMT_NO_ARG;
    Value a = take(F);
    if (is_fixnum(a) && fixnum_value(a) >= 0)
      n = fixnum_value(a);
    else
      by_default = true;
  }
  while (by_default || n > 0) {
    uint32_t t;
    Directive e;
    if (int r = scan(F, &t, &e)) return r;
    if (e.index == D_RBRACKET) return 0;
    if (e.index != D_SEMI) return FMT_BRACKET;
    if (colon(e)) break;  // the default clause follows
    n--;
  }
  return run_clause(F);
}

// A colour parameter of ~( on a window: the nested text in that console
// attribute, the window's own put back however the text is left.
struct Coloured {
  Fmt* F;
  uint32_t stop;
  uint32_t attribute;
  int result;
};

Value coloured_body(void* p) {
  Coloured* c = static_cast<Coloured*>(p);
  c->result = interpret(c->F, c->stop);
  return NIL;
}

void coloured_cleanup(int, void* p) {
  Coloured* c = static_cast<Coloured*>(p);
  stream_set_window_attribute(c->F->stream, c->attribute);
}

// ~(: the print case bound for the nested text; with a parameter on a
// window stream, the text in that attribute as well.
int fmt_case(Fmt* F, const Directive& d) {
  uint32_t start = F->pos, t;
  Directive e;
  if (int r = scan(F, &t, &e)) return r;
  if (e.index == D_SEMI) return FMT_SYNTAX;
  if (e.index != D_RPAREN) return FMT_BRACKET;
  uint32_t after = F->pos;
  F->pos = start;
  Value pcase = colon(d) && atsign(d) ? make_keyword(FS_UPCASE)
                : colon(d)            ? make_keyword(FS_CAPITALIZE)
                : atsign(d)           ? sym_value(FS_PRINT_CASE)
                                      : make_keyword(FS_DOWNCASE);
  uint16_t mark = zvts->septr;
  bind_special(FS_PRINT_CASE, pcase);
  int r;
  if (given(d, 0) && stream_breaks_lines(F->stream)) {
    Coloured c{F, t, stream_window_attribute(F->stream), 0};
    stream_set_window_attribute(F->stream, uint32_t(param(d, 0, 0)));
    establish_cleanup(coloured_body, coloured_cleanup, 0, &c);
    r = c.result;
  } else {
    r = interpret(F, t);
  }
  unbind_to(mark);
  pop_to(mark);
  if (r) return r;
  F->pos = after;
  return 0;
}

// ~{: iteration over a list, sublists, or the remaining arguments.
int iterate(Fmt* F, const Directive& d, Fmt* body, uint32_t stop, bool once) {
  uint32_t start = body->pos;
  int64_t max = given(d, 0) ? param(d, 0, 0) : -1;
  uint16_t base = zvts->septr;
  if (!colon(d)) {
    if (!atsign(d)) {
      if (!args_left(F)) return FMT_NO_ARG;
      Value list = take(F);
      if (!is_list(list)) return FMT_BAD_ARG;
      push_window(body, list);
    }
    for (int64_t count = 0; max < 0 || count < max; count++) {
      if (!args_left(body) && !(count == 0 && once)) break;
      uint32_t before = body->next;
      body->pos = start;
      int r = interpret(body, stop);
      if (r == ABORTED) {
        pop_to(base);
        return r;
      }
      if (r < 0) break;
      // A body that takes nothing would repeat for ever.
      if (body->next == before && max < 0) break;
    }
    if (atsign(d)) F->next = body->next;
    pop_to(base);
    return 0;
  }
  Value lists = NIL;
  root_push(&lists);
  int64_t left;
  if (atsign(d)) {
    left = args_left(F);
  } else {
    if (!args_left(F)) {
      root_pop();
      return FMT_NO_ARG;
    }
    lists = take(F);
    if (!is_list(lists)) {
      root_pop();
      return FMT_BAD_ARG;
    }
    // No list of the cons window is longer than its cells: a longer walk
    // has met a cycle.
    left = 0;
    for (Value l = lists; cons_p(l); l = cdr(l))
      if (++left > int64_t(WINDOW_SIZE / 8)) {
        root_pop();
        return FMT_BAD_ARG;
      }
  }
  int result = 0;
  for (int64_t count = 0; max < 0 || count < max; count++) {
    if (left == 0 && !(count == 0 && once)) break;
    Value sub = NIL;
    if (left > 0) {
      if (atsign(d)) {
        sub = take(F);
      } else {
        sub = car(lists);
        lists = cdr(lists);
      }
      left--;
    }
    if (!is_list(sub)) {
      result = FMT_BAD_ARG;
      break;
    }
    push_window(body, sub);
    body->outer_left = int32_t(left < 0x7FFFFFFF ? left : 0x7FFFFFFF);
    body->pos = start;
    int r = interpret(body, stop);
    pop_to(base);
    if (r == ABORTED || r == -2) {
      result = r == ABORTED ? r : 0;
      break;
    }
  }
  pop_to(base);
  root_pop();
  return result;
}

int fmt_iteration(Fmt* F, const Directive& d) {
  uint32_t start = F->pos, t;
  Directive e;
  if (int r = scan(F, &t, &e)) return r;
  if (e.index == D_SEMI) return FMT_SYNTAX;
  if (e.index != D_RBRACE) return FMT_BRACKET;
  uint32_t after = F->pos;
  Fmt body = *F;
  body.pos = start;
  body.outer_left = -1;
  fmt_root(&body);
  uint32_t stop = t;
  if (t == start) {
    // Empty text: the control string is the next argument.
    if (!args_left(F)) {
      root_pop(2);
      return FMT_NO_ARG;
    }
    Value control = take(F);
    if (!is_string(control)) {
      root_pop(2);
      return FMT_BAD_ARG;
    }
    body.control = control;
    body.pos = 0;
    body.len = stop = string_length(control);
  }
  int r = iterate(F, d, &body, stop, colon(e));
  root_pop(2);
  if (r) return r;
  F->pos = after;
  return 0;
}

// ~& and ~%, ~|, ~~
int fmt_fresh_line(Fmt* F, const Directive& d) {
  int64_t n = param(d, 0, 1);
  if (n <= 0) return 0;
  if (stream_column(F->stream) != 0) stream_write_char(F->stream, '\n');
  write_repeat(F, '\n', n - 1);
  return 0;
}

int fmt_newline_directive(Fmt* F, const Directive& d) {
  if (atsign(d)) stream_write_char(F->stream, '\n');
  if (colon(d)) return 0;
  while (F->pos < F->len && syntax_class(ctl(F, F->pos)) == 2) F->pos++;
  return 0;
}

int dispatch(Fmt* F, const Directive& d) {
  switch (d.index) {
    case D_A:
    case D_E:
      return fmt_print(F, d, false);
    case D_S:
      return fmt_print(F, d, true);
    case D_B:
      return fmt_integer(F, d, 2);
    case D_D:
      return fmt_integer(F, d, 10);
    case D_O:
      return fmt_integer(F, d, 8);
    case D_X:
      return fmt_integer(F, d, 16);
    case D_C:
      return fmt_print(F, d, atsign(d) && !colon(d));
    case D_F:
      return fmt_fixed(F, d);
    case D_R:
      return fmt_radix(F, d);
    case D_QUERY:
      return fmt_indirect(F, d);
    case D_PERCENT:
      write_repeat(F, '\n', param(d, 0, 1));
      return 0;
    case D_BAR:
      write_repeat(F, '\f', param(d, 0, 1));
      return 0;
    case D_TILDE:
      write_repeat(F, '~', param(d, 0, 1));
      return 0;
    case D_AMP:
      return fmt_fresh_line(F, d);
    case D_NEWLINE:
      return fmt_newline_directive(F, d);
    case D_T:
      return fmt_tab(F, d);
    case D_STAR:
      return fmt_goto(F, d);
    case D_CARET:
      return fmt_escape(F, d);
    case D_LBRACKET:
      return fmt_conditional(F, d);
    case D_LPAREN:
      return fmt_case(F, d);
    case D_LBRACE:
      return fmt_iteration(F, d);
    case D_SEMI:
      return FMT_SYNTAX;
    default:
      return FMT_BRACKET;
  }
}

int interpret(Fmt* F, uint32_t stop) {
  check_native_stack();
  while (F->pos < stop) {
    // A run of plain text, copied out of the string before it is written.
    char chunk[128];
    uint32_t m = 0;
    while (F->pos < stop && m < sizeof chunk && ctl(F, F->pos) != '~')
      chunk[m++] = char(ctl(F, F->pos++));
    if (m) {
      stream_write_bytes(F->stream, chunk, m);
      continue;
    }
    F->pos++;
    Directive d;
    if (int r = parse_directive(F, &d, true)) return fail(F, uint32_t(r));
    if (d.index <= D_QUERY && !args_left(F)) return fail(F, FMT_NO_ARG);
    int r = dispatch(F, d);
    if (r > 0) return fail(F, uint32_t(r));
    if (r < 0) return r;
  }
  return 0;
}

// Runs a whole control string over the window already set in F.
void run(Fmt* F) {
  F->pos = 0;
  F->len = string_length(F->control);
  F->outer_left = -1;
  interpret(F, F->len);
}

}  // namespace

// FORMAT (destination control-string &rest arguments)
Value bi_format(Value dest, Value control) {
  root_push(&dest);
  root_push(&control);
  Value stream = NIL;
  root_push(&stream);
  if (nil_p(dest))
    stream = make_string_output_stream();
  else
    stream = output_stream(dest == T ? NIL : dest);
  if (arr_is_header(control)) control = arr_active_copy(control);
  while (!is_string(control)) control = zv_error(E_WRONG_TYPE, control);
  Fmt F{};
  F.stream = stream;
  F.control = control;
  fmt_root(&F);
  F.first = F.next = zvts->zvform - 3u;
  F.end = zvts->septr - 1u;
  // A string made for this call is nobody else's.
  uint32_t mark = nil_p(dest) ? 0 : stream_hold(stream, true);
  run(&F);
  if (!nil_p(dest)) stream_unhold(mark);
  Value result = nil_p(dest) ? string_output_contents(stream) : NIL;
  root_pop(5);
  return result;
}

Value format_to_stream(Value stream, Value control, uint32_t nargs, const Value* args) {
  root_push(&control);
  Fmt F{};
  F.stream = output_stream(stream);
  F.control = control;
  fmt_root(&F);
  while (!is_string(F.control)) F.control = zv_error(E_WRONG_TYPE, F.control);
  uint16_t base = zvts->septr;
  for (uint32_t i = 0; i < nargs; i++) push_arg(args[i]);
  F.first = F.next = base - 1u;
  F.end = zvts->septr - 1u;
  uint32_t mark = stream_hold(F.stream, true);
  run(&F);
  stream_unhold(mark);
  pop_to(base);
  root_pop(3);
  return NIL;
}
