// The functions under the dispatching character #: uninterned symbols,
// vectors, feature conditions, read-time evaluation, function quotation,
// integers in a radix, characters, block comments and complex numbers.
#include "builtins/numbers.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "eval/stack.h"
#include "object/bignum.h"
#include "object/chartab.h"
#include "object/error_hook.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/reader.h"

namespace {

constexpr uint32_t VECTOR_LIMIT = 0x400000;

// Malformed # syntax: the reader state starts afresh, then the error.
[[noreturn]] void malformed(Value sub) {
  reader_recover();
  Value objects[4] = {make_char('#'), sub, NIL, NIL};
  lisp_error(E_READ_SHARP, objects);
  lisp_fatal_error(E_READ_SHARP);
}

void no_argument(Value sub, Value arg) {
  if (!nil_p(arg)) malformed(sub);
}

// #:name
Value read_uninterned(Value s, Value sub, Value arg) {
  no_argument(sub, arg);
  bool saved = reader_interning();
  reader_set_interning(false);
  Value x = read_object(s, 0);
  reader_set_interning(saved);
  if (tag_of(x) != TAG_SYMBOL && !reader_skipping()) malformed(sub);
  return x;
}

// #(a b ...) and #n(a b ...): the elements wait on the Lisp stack; a
// length beyond them repeats the last one.
Value read_vector(Value s, Value sub, Value arg) {
  uint16_t base = zvts->septr;
  root_push(&s);
  reader_open_list();
  uint32_t n = 0;
  for (Value x; (x = read_object(s, RD_IN_LIST)) != MARK_CLOSE; n++) {
    if (x == MARK_DOT) malformed(sub);
    push_arg(x);
  }
  root_pop();
  if (reader_skipping()) {
    pop_to(base);
    return NIL;
  }
  uint32_t len = nil_p(arg) ? n : uint32_t(fixnum_value(arg));
  if (len >= VECTOR_LIMIT) {
    lisp_error(ERR_VECTOR_TOO_LONG, make_fixnum(int32_t(len)));
    lisp_fatal_error(ERR_VECTOR_TOO_LONG);
  }
  if (n > len) malformed(sub);
  Value v = mem_alloc_vector(len);
  const StackEntry* st = zvts->stack;
  for (uint32_t i = 0; i < len; i++)
    heap_set_word(v, i, n == 0 ? NIL : st[base - 1 - (i < n ? i : n - 1)].arg);
  pop_to(base);
  return v;
}

// Feature expressions: a symbol is on the feature list, or AND, OR, NOT
// of expressions.  A keyword stands for the symbol of its name.
bool feature_present(Value name) {
  for (Value l = sym_value(FS_FEATURES); cons_p(l); l = cdr(l)) {
    Value f = car(l);
    if (is_symbol(f) && symbol_index(f) == symbol_index(name)) return true;
  }
  return false;
}

bool feature_true(Value e, Value sub) {
  if (nil_p(e)) return false;
  if (is_symbol(e)) return feature_present(e);
  if (!cons_p(e) || tag_of(car(e)) != TAG_SYMBOL) malformed(sub);
  uint32_t op = symbol_index(car(e));
  Value args = cdr(e);
  if (op == FS_NOT) {
    if (!cons_p(args) || !nil_p(cdr(args))) malformed(sub);
    return !feature_true(car(args), sub);
  }
  if (op != FS_AND && op != FS_OR) malformed(sub);
  for (; cons_p(args); args = cdr(args))
    if (feature_true(car(args), sub) != (op == FS_AND)) return op != FS_AND;
  return op == FS_AND;
}

// #+feature form and #-feature form.  A form left out is read without
// interning its symbols and without evaluating its #. forms.
bool read_feature(Value s, Value sub, Value arg, Value* out) {
  no_argument(sub, arg);
  root_push(&s);
  Value e = read_object(s, 0);
  bool on = feature_true(e, sub) != ((sub & 0xFF) == '-');
  if (on) {
    *out = read_object(s, 0);
    root_pop();
    return true;
  }
  bool interning = reader_interning();
  uint32_t skipping = reader_skipping();
  reader_set_interning(false);
  reader_set_skipping(skipping + 1);
  // The library's macro functions learn of the skipping from
  // *READ-SUPPRESS*, bound to T meanwhile.
  uint32_t limit = zvts->septr;
  SymSearch suppress = sym_search_cstr("*READ-SUPPRESS*");
  if (suppress.found) bind_special(suppress.index, T);
  read_object(s, 0);
  unbind_to(limit);
  zvts->septr = uint16_t(limit);
  reader_set_interning(interning);
  reader_set_skipping(skipping);
  root_pop();
  return false;
}

// #.form
Value read_eval(Value s, Value sub, Value arg) {
  no_argument(sub, arg);
  Value x = read_object(s, 0);
  return reader_skipping() ? NIL : eval_form(x);
}

// #'x
Value read_function(Value s, Value sub, Value arg) {
  no_argument(sub, arg);
  Value x = read_object(s, 0);
  root_push(&x);
  Value tail = cons(x, NIL);
  root_pop();
  return cons(make_symbol(FS_FUNCTION), tail);
}

// #B #O #X #nR
Value read_radix(Value s, Value sub, Value arg) {
  uint32_t radix = 0;
  switch (sub & 0xFF) {
    case 'B':
      radix = 2;
      break;
    case 'O':
      radix = 8;
      break;
    case 'X':
      radix = 16;
      break;
    default:
      if (reader_skipping()) return read_object(s, 0);
      if (!is_fixnum(arg) || fixnum_value(arg) < 2 || fixnum_value(arg) > 36) malformed(sub);
      radix = uint32_t(fixnum_value(arg));
  }
  if (reader_skipping()) return read_object(s, 0);
  if ((sub & 0xFF) != 'R') no_argument(sub, arg);
  Value x = read_integer_token(s, radix);
  if (!num_is_integer(x)) malformed(sub);
  return x;
}

// Modifier prefixes of character names: C- M- S- or the modifier names.
uint32_t modifier_prefix(const uint8_t* p, uint32_t n) {
  if (n == 1) {
    switch (char_upcase(p[0])) {
      case 'C':
        return 1;
      case 'M':
        return 2;
      case 'S':
        return 4;
    }
    return 0;
  }
  return modifier_from_name(p, n);
}

Value char_from_token(const uint8_t* p, uint32_t n, Value sub) {
  uint32_t bits = 0;
  for (;;) {
    uint32_t dash = 1;
    while (dash + 1 < n && p[dash] != '-') dash++;
    if (dash + 1 >= n) break;
    uint32_t bit = modifier_prefix(p, dash);
    if (!bit) break;
    bits |= bit;
    p += dash + 1;
    n -= dash + 1;
  }
  Value ch = n == 1 ? make_char(p[0]) : char_from_name(p, n);
  if (ch == NO_VALUE) malformed(sub);
  return ch | (bits << 9);
}

// #\x and #\name; a numeric argument is the font.
// A read may wait where another thread's collection moves the stream: the
// functions that use it after a read keep it rooted.
Value read_character(Value s, Value sub, Value arg) {
  root_push(&s);
  int c = stream_read_char(s);
  if (c < 0) {
    stream_end_of_file(s, 0);
    root_pop();
    return NIL;
  }
  uint8_t name[TOKEN_MAX];
  uint32_t n = 0;
  name[n++] = uint8_t(c);
  for (;;) {
    int d = stream_read_char(s);
    if (reader_syntax_class(d) != SC_CONSTITUENT) {
      stream_unread_char(s, d);
      break;
    }
    if (n == TOKEN_MAX) {
      if (!reader_skipping()) malformed(sub);
      continue;
    }
    name[n++] = uint8_t(d);
  }
  root_pop();
  if (reader_skipping()) return NIL;
  Value ch = n == 1 ? make_char(name[0]) : char_from_token(name, n, sub);
  if (!nil_p(arg)) {
    if (fixnum_value(arg) > 255) malformed(sub);
    ch |= uint32_t(fixnum_value(arg)) << 16;
  }
  return ch;
}

// #| ... |#, nested.
void skip_block_comment(Value s, Value sub, Value arg) {
  no_argument(sub, arg);
  root_push(&s);
  int depth = 0, prev = 0;
  for (;;) {
    int c = stream_read_char(s);
    if (c < 0) {
      stream_end_of_file(s, 0);
      break;
    }
    if (prev == '#' && c == '|') {
      depth++;
      c = 0;  // the bar cannot also end a comment
    } else if (prev == '|' && c == '#') {
      if (--depth < 0) break;
      c = 0;
    }
    prev = c;
  }
  root_pop();
}

// #C(re im)
Value read_complex(Value s, Value sub, Value arg) {
  no_argument(sub, arg);
  root_push(&s);
  if (stream_read_char(s) != '(') malformed(sub);
  reader_open_list();
  Value re = read_object(s, RD_IN_LIST);
  root_push(&re);
  Value im = re == MARK_CLOSE ? MARK_CLOSE : read_object(s, RD_IN_LIST);
  root_push(&im);
  if (reader_skipping()) {
    while (im != MARK_CLOSE) im = read_object(s, RD_IN_LIST);
    root_pop(3);
    return NIL;
  }
  if (!num_is_real(re) || !num_is_real(im) || read_object(s, RD_IN_LIST) != MARK_CLOSE)
    malformed(sub);
  root_pop(3);
  if (num_is_integer(re) && num_is_integer(im)) return int_make_complex(re, im);
  return mem_make_complex_double(num_double(re), num_double(im));
}

}  // namespace

bool sharp_call(uint32_t builtin, Value s, Value sub, Value arg, Value* out) {
  if (!nil_p(arg) && (!is_fixnum(arg) || fixnum_value(arg) < 0) && !reader_skipping()) malformed(sub);
  switch (builtin) {
    case 7:
      *out = read_uninterned(s, sub, arg);
      return true;
    case 8:
      *out = read_vector(s, sub, arg);
      return true;
    case 9:
      return read_feature(s, sub, arg, out);
    case 10:
      *out = read_eval(s, sub, arg);
      return true;
    case 11:
      *out = read_function(s, sub, arg);
      return true;
    case 12:
      *out = read_radix(s, sub, arg);
      return true;
    case 13:
      *out = read_character(s, sub, arg);
      return true;
    case 14:
      skip_block_comment(s, sub, arg);
      return false;
    default:
      *out = read_complex(s, sub, arg);
      return true;
  }
}
