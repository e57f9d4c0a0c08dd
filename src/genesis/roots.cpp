// Root words 0..130 of the first image.
//
// The hash tables are built here without the kernel's put, which may
// signal: keys are placed with its hash and capacities, on the same probe
// sequence, so the kernel finds them without rehashing.
#include "genesis/roots.h"

#include <initializer_list>

#include "builtins/hash_tables.h"
#include "builtins/table.h"
#include "genesis/static_heap.h"
#include "genesis/world.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"

namespace {

constexpr uint32_t NON_TERMINATING = 0x80000000u;

// Reader syntax classes stored as fixnums.
enum : int32_t {
  SYN_WHITESPACE = 2,
  SYN_SINGLE_ESCAPE = 4,
  SYN_MULTIPLE_ESCAPE = 5,
  SYN_CONSTITUENT = 7
};

// Sub-characters of # and the built-ins that read them.
struct Dispatch {
  char sub;
  uint32_t builtin;
};
const Dispatch sharp_table[] = {
    {':', BI_READ_SHARP_UNINTERNED}, {'(', BI_READ_SHARP_VECTOR},    {'+', BI_READ_SHARP_FEATURE},
    {'-', BI_READ_SHARP_FEATURE},    {'.', BI_READ_SHARP_EVAL},      {'\'', BI_READ_SHARP_FUNCTION},
    {'B', BI_READ_SHARP_RADIX},      {'O', BI_READ_SHARP_RADIX},     {'X', BI_READ_SHARP_RADIX},
    {'R', BI_READ_SHARP_RADIX},      {'\\', BI_READ_SHARP_CHARACTER}, {'|', BI_READ_SHARP_COMMENT},
    {'C', BI_READ_SHARP_COMPLEX},
};

// A reader macro function: a fixed-argument built-in (tag 7).
bool reader_function(uint32_t n, Value* out) {
  Value f = bi_value(n);
  if (builtin_kind(f) != KIND_FIXED) return gen_fail("reader built-in %u takes no fixed arguments", n);
  *out = f;
  return true;
}

bool make_sharp_table(Value* out) {
  Value table = gen_make_hash_table(32, BI_EQL);
  for (const Dispatch& d : sharp_table) {
    Value f = NIL;
    if (!reader_function(d.builtin, &f)) return false;
    if (!gen_hash_put_new(table, make_char(uint8_t(d.sub)), f)) return false;
  }
  *out = table;
  return true;
}

bool make_macro_table() {
  Value* m = zvm.roots;
  for (uint32_t c = 0; c <= 128; c++)
    m[c] = (c >= 33 && c <= 128) ? make_fixnum(SYN_CONSTITUENT) : NIL;
  m[8] = make_fixnum(SYN_CONSTITUENT);
  for (uint32_t c : {9, 10, 11, 12, 13, 32}) m[c] = make_fixnum(SYN_WHITESPACE);
  m['\\'] = make_fixnum(SYN_SINGLE_ESCAPE);
  m['|'] = make_fixnum(SYN_MULTIPLE_ESCAPE);
  const struct {
    char c;
    uint32_t builtin;
  } macros[] = {{'`', BI_READ_BACKQUOTE},  {',', BI_READ_COMMA},       {';', BI_READ_SEMICOLON},
                {'(', BI_READ_LEFT_PAREN}, {'{', BI_READ_LEFT_PAREN},   {'\'', BI_READ_QUOTE},
                {')', BI_READ_RIGHT_PAREN}, {'}', BI_READ_RIGHT_PAREN}, {'"', BI_READ_STRING}};
  for (const auto& mc : macros)
    if (!reader_function(mc.builtin, &m[uint8_t(mc.c)])) return false;
  Value sharp = NIL;
  if (!make_sharp_table(&sharp)) return false;
  m['#'] = sharp | NON_TERMINATING;
  return true;
}

// Every class of the static prefix, under its name.
bool make_type_table() {
  Value table = gen_make_hash_table(64, BI_EQL);
  zvm.roots[ROOT_TYPE_TABLE] = table;
  for (const ClassSpec& spec : zv_static_classes) {
    Value name = sym_intern_cstr(spec.name);  // exists: no allocation
    if (!gen_hash_put_new(zvm.roots[ROOT_TYPE_TABLE], name, fixed_class(spec.offset))) return false;
  }
  return true;
}

}  // namespace

// ht_make signals only for sizes far above the genesis's.
Value gen_make_hash_table(uint32_t size, uint32_t test) { return ht_make(size, test); }

bool gen_hash_put_new(Value table, Value key, Value value) {
  Value slots = ht_slots(table);
  uint32_t c = heap_length(slots) / 2;
  uint32_t h = ht_hash(key, ht_test(table));
  uint32_t i = h % c, step = h % (c - 2) + 1;
  for (uint32_t probes = 0; heap_word(slots, i) != HASH_EMPTY; probes++) {
    if (heap_word(slots, i) == key || probes == c) return gen_fail("hash table key clash");
    i = (i + step) % c;
  }
  heap_set_word(slots, i, key);
  heap_set_word(slots, c + i, value);
  uint32_t count = ht_count(table) + 1;
  // The kernel grows a table once at most an eighth of it is free; a
  // table made here must never need that.
  if (c - count <= c / 8) return gen_fail("hash table of capacity %u is too small", c);
  ht_set_count(table, count);
  return true;
}

bool gen_make_root_words() {
  if (!make_macro_table()) return false;
  zvm.roots[ROOT_PLACE_EXPANDERS] = gen_make_hash_table(64, BI_EQL);
  return make_type_table();
}
