// String primitives: making, growing and shrinking strings, case
// conversion, searching and string designators.
#include "text/strings.h"

#include <cstring>

#include "object/chartab.h"
#include "object/error_hook.h"
#include "object/arrays.h"
#include "object/memory.h"
#include "object/thread.h"
#include "threads/safepoint.h"

namespace {

constexpr uint32_t ERR_NOT_STRING_DESIGNATOR = 0x2453;  // 9299: object, type

// Heap bytes a string of n characters occupies (8-byte header, the
// characters, room for a terminating zero, rounded down to even).
uint32_t string_size(uint32_t n) { return (n + 9) & ~1u; }

void set_string_length(Value s, uint32_t n) {
  heap_set_hdr1(s, (heap_hdr1(s) & ~HDR_LEN_MASK) | n);
  // An odd length leaves one padding byte: keep it zero, as the allocator
  // does, so saved images stay reproducible.
  if (n & 1) string_bytes(s)[n] = 0;
}

bool is_last_object(Value s, uint32_t size) { return heap_offset(s) + size == zvm.heap_fill; }

}  // namespace

// ---------------------------------------------------------------------------
// Case

void str_upcase_bytes(uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) p[i] = char_upcase(p[i]);
}

void str_downcase_bytes(uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) p[i] = char_downcase(p[i]);
}

void str_capitalize_bytes(uint8_t* p, uint32_t n) {
  if (n == 0) return;
  p[0] = char_upcase(p[0]);
  str_downcase_bytes(p + 1, n - 1);
}

// ---------------------------------------------------------------------------
// Making strings

Value str_make(uint32_t n) { return mem_alloc_string(n); }

Value str_from_bytes(const uint8_t* p, uint32_t n) {
  Value s = mem_alloc_string(n);
  if (n) std::memcpy(string_bytes(s), p, n);
  return s;
}

Value str_from_cstr(const char* s) {
  return str_from_bytes(reinterpret_cast<const uint8_t*>(s), uint32_t(std::strlen(s)));
}

Value str_substring(Value s, uint32_t start, uint32_t end) {
  root_push(&s);
  Value r = mem_alloc_string(end - start);
  root_pop();
  if (end > start) std::memcpy(string_bytes(r), string_bytes(s) + start, end - start);
  return r;
}

// A copy of s with room for n characters; the bytes past s's own are zero.
static Value copy_longer(Value s, uint32_t n) {
  uint32_t k = string_length(s);
  root_push(&s);
  Value r = mem_alloc_string(n);
  root_pop();
  std::memcpy(string_bytes(r), string_bytes(s), k);
  std::memset(string_bytes(r) + k, 0, n - k);
  return r;
}

// Grow the last heap object in place when the heap has room and the lock
// is free at once (waiting could let a collection move s under the
// caller); the new characters are zero.
static bool grow_in_place(Value s, uint32_t n) {
  uint32_t k = string_length(s);
  uint32_t old_size = string_size(k), new_size = string_size(n);
  if (!world_try_lock()) return false;
  bool ok = is_last_object(s, old_size) && zvm.heap_limit - zvm.heap_fill >= new_size - old_size;
  if (ok) {
    heap_set_fill(zvm.heap_fill + new_size - old_size);
    std::memset(string_bytes(s) + k, 0, n - k);
    set_string_length(s, n);
  }
  world_unlock();
  return ok;
}

Value str_resize(Value s, uint32_t n) {
  uint32_t k = string_length(s);
  if (n > k) return grow_in_place(s, n) ? s : copy_longer(s, n);
  uint32_t old_size = string_size(k), new_size = string_size(n);
  uint32_t tail = old_size - new_size;
  if (!world_try_lock()) return str_substring(s, 0, n);
  bool keep = true;
  if (tail == 0) {
    set_string_length(s, n);
  } else if (is_last_object(s, old_size)) {
    heap_set_fill(zvm.heap_fill - tail);
    set_string_length(s, n);
  } else if (tail >= 8) {
    set_string_length(s, n);
    uint8_t* filler = heap_addr(s) + new_size;
    store_u32(filler, HT_BYTES);
    store_u32(filler + 4, tail - 8);
  } else {
    keep = false;  // 2-6 bytes cannot hold a filler's header
  }
  world_unlock();
  return keep ? s : str_substring(s, 0, n);
}

// The copy lands on top of the heap, so the appends that follow it grow in
// place until something else is allocated.
Value str_append_char(Value s, uint32_t code) {
  uint32_t n = string_length(s);
  if (!grow_in_place(s, n + 1)) s = copy_longer(s, n + 1);
  string_bytes(s)[n] = static_cast<uint8_t>(code);
  return s;
}

// ---------------------------------------------------------------------------
// Searching

bool str_equal_bytes(const uint8_t* a, const uint8_t* b, uint32_t n, bool fold) {
  if (!fold) return std::memcmp(a, b, n) == 0;
  for (uint32_t i = 0; i < n; i++)
    if (char_upcase(a[i]) != char_upcase(b[i])) return false;
  return true;
}

int32_t str_search(const uint8_t* needle, uint32_t nlen, const uint8_t* hay, uint32_t hlen,
                   bool fold) {
  if (nlen > hlen) return -1;
  for (uint32_t i = 0; i + nlen <= hlen; i++)
    if (str_equal_bytes(needle, hay + i, nlen, fold)) return static_cast<int32_t>(i);
  return -1;
}

// ---------------------------------------------------------------------------
// Designators

Value str_designated(Value x) {
  if (is_nil(x)) return sym_name(0);
  uint32_t t = tag_of(x);
  if (t >= TAG_SYMBOL && t <= TAG_LEXREF) return sym_name(symbol_index(x));
  if (is_string(x)) return x;
  // A string with a fill pointer, adjustable or displaced: its active
  // characters.
  if (arr_is_header(x) && arr_rank(x) == 1 && arr_holds_characters(x)) return arr_active_copy(x);
  if (is_string_char(x)) {
    uint8_t c = static_cast<uint8_t>(char_code(x));
    return str_from_bytes(&c, 1);
  }
  return NO_VALUE;
}

Value str_coerce(Value x, Value type_symbol) {
  for (;;) {
    Value s = str_designated(x);
    if (!is_no_value(s)) return s;
    x = zv_error(ERR_NOT_STRING_DESIGNATOR, x, type_symbol);
  }
}
