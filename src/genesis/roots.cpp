// Root words 0..130 of the first image.
//
// The hash tables are built here without the kernel's hash-table code:
// keys are placed exactly where its put would place them (same hash, same
// probe sequence), so the kernel finds them without rehashing.
#include "genesis/roots.h"

#include <initializer_list>

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
    {':', 7},  {'(', 8},  {'+', 9},  {'-', 9},   {'.', 10}, {'\'', 11}, {'B', 12},
    {'O', 12}, {'X', 12}, {'R', 12}, {'\\', 13}, {'|', 14}, {'C', 15},
};

uint32_t string_hash(const uint8_t* bytes, uint32_t n) {
  uint32_t s = 0;
  for (uint32_t i = 0; i < n; i++) s = 4 * s + bytes[i];
  if (n < 6) s *= 12;
  return s & 0x7FFFFF;
}

// A reader macro function: a fixed-argument built-in (tag 7).
bool reader_function(uint32_t n, Value* out) {
  Value f = bi_value(n);
  if (tag_of(f) != TAG_BUILTIN + 2) return gen_fail("reader built-in %u is not of kind 2", n);
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
  } macros[] = {{'`', 0},  {',', 1}, {';', 2}, {'(', 3}, {'{', 3},
                {'\'', 4}, {')', 5}, {'}', 5}, {'"', 6}};
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

uint32_t gen_hash_capacity(uint32_t size) {
  uint32_t m = (size < 5 ? 4 : size) | 1;
  while (!odd_is_prime(m)) m += 2;
  return m;
}

uint32_t gen_hash_of(Value key) {
  uint32_t t = tag_of(key);
  if (t == TAG_SYMBOL || t == TAG_KEYWORD) {
    Value name = sym_name(symbol_index(key));
    return string_hash(string_bytes(name), string_length(name)) + (key >> 16);
  }
  return key;
}

Value gen_make_hash_table(uint32_t size, uint32_t test) {
  uint32_t c = gen_hash_capacity(size);
  // One Value word, then the raw word of test number and count.
  Value table = mem_alloc_object(2, HT_HASH, 1);
  heap_set_word(table, 0, NIL);
  heap_set_word(table, 1, test & 0xFFFF);
  root_push(&table);
  Value slots = mem_alloc_vector(2 * c);
  for (uint32_t i = 0; i < c; i++) heap_set_word(slots, i, HASH_EMPTY);
  for (uint32_t i = c; i < 2 * c; i++) heap_set_word(slots, i, NIL);
  heap_set_word(table, 0, slots);
  root_pop();
  return table;
}

bool gen_hash_put_new(Value table, Value key, Value value) {
  Value slots = heap_word(table, 0);
  uint32_t c = heap_length(slots) / 2;
  uint32_t h = gen_hash_of(key);
  uint32_t i = h % c, step = h % (c - 2) + 1;
  for (uint32_t probes = 0; heap_word(slots, i) != HASH_EMPTY; probes++) {
    if (heap_word(slots, i) == key || probes == c) return gen_fail("hash table key clash");
    i = (i + step) % c;
  }
  heap_set_word(slots, i, key);
  heap_set_word(slots, c + i, value);
  uint32_t word1 = heap_word(table, 1);
  uint32_t count = (word1 >> 16) + 1;
  // The kernel grows a table once at most an eighth of it is free; a
  // table made here must never need that.
  if (c - count <= c / 8) return gen_fail("hash table of capacity %u is too small", c);
  heap_set_word(table, 1, (count << 16) | (word1 & 0xFFFF));
  return true;
}

bool gen_make_root_words() {
  if (!make_macro_table()) return false;
  zvm.roots[ROOT_PLACE_EXPANDERS] = gen_make_hash_table(64, BI_EQL);
  return make_type_table();
}
