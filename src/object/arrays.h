// Arrays and vectors: general arrays of Values (heap type 18 under tag
// 0x50) of rank 0 to 128, and strings, which answer the same element
// operations as rank-1 arrays of characters.
//
// A type-18 array keeps rank - 1 dimensions as trailing raw words, counted
// from its last word backwards; the last dimension is the total size
// divided by the stored ones.  Elements are in row-major order.
#pragma once

#include <cstdint>

#include "object/value.h"

constexpr uint32_t ARR_MAX_RANK = 128;
constexpr uint32_t ARR_MAX_TOTAL = 0x400000;        // make-array refuses this many
constexpr uint32_t ARR_MAX_APPEND_FROM = 0x3FFFFF;  // append needs fewer elements

inline bool arr_is_general(Value v) {
  return tag_of(value_check(v)) == TAG_VECTOR && heap_type(v) == HT_ARRAY;
}
// A general vector: rank 1 (header byte 3 is 1).  Strings are not.
inline bool arr_is_vector(Value v) { return arr_is_general(v) && (heap_hdr1(v) >> 24) == 1; }
// Anything the array built-ins accept: a general array or a string.
inline bool arr_is_array(Value v) { return arr_is_general(v) || is_string(v); }

// For a general array or a string.
uint32_t arr_rank(Value a);
uint32_t arr_total_size(Value a);
// Dimension of axis 0..rank-1.  When a stored dimension is 0 the last one
// cannot be recovered from the total and reads as 0.
uint32_t arr_dimension(Value a, uint32_t axis);

// Element i (row major, i below the total size) of a general array or a
// string (a character Value).
inline Value arr_ref(Value a, uint32_t i) {
  return heap_type(a) == HT_ARRAY ? heap_word(a, i) : make_char(string_bytes(a)[i]);
}

// A new simple vector holding the n Values at p (p must not point into the
// heap).
Value arr_vector_from(const Value* p, uint32_t n);
// Append x to a simple vector: the same vector when it is the last object
// of the heap and there is room behind it, else a copy one longer.  Error
// 4171 when it already holds 0x3FFFFF elements or more.
Value arr_vector_append(Value vec, Value x);
