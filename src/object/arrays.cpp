// Arrays and vectors as data: rank, size and dimensions, appending to a
// simple vector, and the array headers (fill pointers, adjustable and
// displaced arrays).  The array built-ins are in builtins/arrays.cpp.
#include "object/arrays.h"

#include <cstring>

#include "object/error_hook.h"
#include "object/memory.h"
#include "object/thread.h"
#include "threads/safepoint.h"

// ---------------------------------------------------------------------------

uint32_t arr_rank(Value a) {
  if (tag_of(a) == TAG_OBJECT) return heap_length(a) - ARR_HEADER_WORDS;
  if (heap_type(a) != HT_ARRAY) return 1;
  return heap_array_rank(a);
}

// A header's dimension k, and the product of them all (saturating).
inline uint32_t header_dim(Value h, uint32_t k) {
  Value d = heap_word(h, ARR_HEADER_WORDS + k);
  return is_fixnum(d) && fixnum_value(d) > 0 ? uint32_t(fixnum_value(d)) : 0;
}

uint32_t arr_total_size(Value a) {
  if (tag_of(a) == TAG_OBJECT) {
    uint64_t total = 1;
    for (uint32_t k = 0, r = arr_rank(a); k < r; k++) {
      total *= header_dim(a, k);
      if (total > 0xFFFFFFFFu) total = 0xFFFFFFFFu;
    }
    return uint32_t(total);
  }
  uint32_t len = heap_length(a), raw = heap_raw_words(a);
  if (heap_type(a) != HT_ARRAY || heap_is_one_dim(a)) return len;
  return raw < len ? len - raw : 0;
}

uint32_t arr_dimension(Value a, uint32_t axis) {
  if (tag_of(a) == TAG_OBJECT) return header_dim(a, axis);
  uint32_t rank = arr_rank(a);
  if (axis + 1 < rank) return arr_stored_dim(a, axis);
  uint64_t product = 1;
  for (uint32_t k = 0; k + 1 < rank && product; k++) {
    product *= arr_stored_dim(a, k);
    if (product > 0xFFFFFFFFu) return 0;  // only damaged dimension words do this
  }
  return product ? static_cast<uint32_t>(arr_total_size(a) / product) : 0;
}

Value arr_vector_append(Value vec, Value x) {
  uint32_t n = heap_length(vec);
  if (n >= ARR_MAX_APPEND_FROM) return zv_error(ERR_VECTOR_TOO_LONG, make_fixnum(int32_t(n + 1)));
  // In place when nothing lies behind the vector: decided and done under
  // the lock, so no other thread allocates in between; taken only when
  // that needs no wait, since waiting could let a collection move vec.
  bool locked = world_try_lock();
  bool last = locked && heap_offset(vec) + 8 + 4 * n == zvm.heap_fill && zvm.heap_limit - zvm.heap_fill >= 4;
  if (last) {
    heap_set_fill(zvm.heap_fill + 4);
    heap_set_hdr1(vec, heap_hdr1(vec) + 1);
    heap_set_word(vec, n, x);
  }
  if (locked) world_unlock();
  if (last) return vec;
  root_push(&vec);
  root_push(&x);
  Value w = mem_alloc_vector(n + 1);
  std::memcpy(heap_data(w), heap_data(vec), 4 * n);
  heap_set_word(w, n, x);
  root_pop(2);
  return w;
}

// ---------------------------------------------------------------------------
// Array headers

namespace {

// Headers displaced to headers make a chain; a chain longer than this is a
// loop of displacements.
constexpr uint32_t MAX_CHAIN = 64;

// Where element i of header h lies: the simple array and the index in it.
// An index beyond that array (it was made smaller after h was displaced
// to it) is an error.
bool locate(Value h, uint32_t i, Value* array, uint32_t* index) {
  for (uint32_t depth = 0; depth < MAX_CHAIN; depth++) {
    Value data = heap_word(h, AH_DATA);
    Value off = heap_word(h, AH_OFFSET);
    uint64_t j = uint64_t(i) + (is_fixnum(off) && fixnum_value(off) > 0 ? fixnum_value(off) : 0);
    if (!arr_is_array(data) || j >= arr_total_size(data)) break;
    if (!arr_is_header(data)) {
      *array = data;
      *index = uint32_t(j);
      return true;
    }
    h = data;
    i = uint32_t(j);
  }
  zv_error(ERR_WRONG_TYPE, h);
  return false;
}

}  // namespace

bool arr_locate(Value h, uint32_t i, Value* array, uint32_t* index) { return locate(h, i, array, index); }

Value arr_storage(Value h) {
  for (uint32_t depth = 0; depth < MAX_CHAIN && arr_is_header(h); depth++) h = heap_word(h, AH_DATA);
  return arr_is_header(h) ? NIL : h;
}

bool arr_holds_characters(Value a) {
  if (arr_is_header(a)) a = arr_storage(a);
  return is_string(a);
}

Value arr_header_ref(Value h, uint32_t i) {
  Value a = NIL;
  uint32_t j = 0;
  if (!locate(h, i, &a, &j)) return NIL;
  return arr_ref(a, j);
}

bool arr_set(Value a, uint32_t i, Value x) {
  if (arr_is_header(a) && !locate(a, i, &a, &i)) return true;
  if (heap_type(a) == HT_ARRAY) {
    heap_set_word(a, i, x);
    return true;
  }
  if (!is_string_char(x)) return false;
  string_bytes(a)[i] = static_cast<uint8_t>(char_code(x));
  return true;
}

uint32_t arr_vector_length(Value v) {
  if (!arr_is_header(v)) return heap_length(v);
  int32_t f = arr_fill_pointer(v);
  return f >= 0 ? uint32_t(f) : header_dim(v, 0);
}

Value arr_active_copy(Value v) {
  uint32_t n = arr_vector_length(v);
  bool chars = arr_holds_characters(v);
  root_push(&v);
  Value c = chars ? mem_alloc_string(n) : mem_alloc_vector(n);
  for (uint32_t i = 0; i < n; i++) {
    Value x = arr_ref(v, i);
    if (chars)
      string_bytes(c)[i] = static_cast<uint8_t>(x & 0xFF);
    else
      heap_set_word(c, i, x);
  }
  root_pop();
  return c;
}

Value arr_make_header(Value data, uint32_t rank, const uint32_t* dims, Value fill, uint32_t offset,
                      uint32_t flags) {
  root_push(&data);
  root_push(&fill);
  Value h = mem_alloc_object(ARR_HEADER_WORDS + rank, HT_OBJECT16);
  heap_set_word(h, 0, ARR_HEADER_MARK);
  heap_set_word(h, AH_DATA, data);
  heap_set_word(h, AH_FILL, fill);
  heap_set_word(h, AH_OFFSET, make_fixnum(int32_t(offset)));
  heap_set_word(h, AH_FLAGS, make_fixnum(int32_t(flags)));
  for (uint32_t k = 0; k < rank; k++)
    heap_set_word(h, ARR_HEADER_WORDS + k, make_fixnum(int32_t(dims[k])));
  root_pop(2);
  return h;
}

void arr_write_back(Value a, Value from, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) arr_set(a, i, arr_ref(from, i));
}
