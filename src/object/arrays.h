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
inline bool arr_is_vector(Value v) { return arr_is_general(v) && heap_is_one_dim(v); }

// ---------------------------------------------------------------------------
// Array headers: arrays with a fill pointer, adjustable arrays and
// displaced arrays.  Such an array is a header object (heap type 16 under
// tag 0x60, Values only) standing for elements held in another array:
//   word 0  ARR_HEADER_MARK: which kind of type-16 object this is
//   word 1  the array holding the elements: one of its own (a simple
//           vector or string), or the array it is displaced to (any array)
//   word 2  the fill pointer (a fixnum), or NIL
//   word 3  the index in word 1's array of element 0 (a fixnum)
//   word 4  flags (a fixnum): ARR_DISPLACED when word 1 is displaced to
//   word 5  dimension 0, up to word 4 + rank: dimension rank - 1
// Every header counts as adjustable: ADJUST-ARRAY changes it in place.  The
// elements are looked up through word 1 at each access, bounds checked
// there, so a displaced-to array that shrinks later is never read past.
constexpr Value ARR_HEADER_MARK = 0x0B000001u;  // the fixnum 1
constexpr uint32_t ARR_HEADER_WORDS = 5;         // before the dimensions
constexpr uint32_t ARR_DISPLACED = 1;
enum : uint32_t { AH_DATA = 1, AH_FILL = 2, AH_OFFSET = 3, AH_FLAGS = 4 };

inline bool arr_is_header(Value v) {
  return tag_of(value_check(v)) == TAG_OBJECT && heap_type(v) == HT_OBJECT16 &&
         heap_length(v) >= ARR_HEADER_WORDS && heap_word(v, 0) == ARR_HEADER_MARK;
}
// Anything the array built-ins accept: a general array, a string, a header.
inline bool arr_is_array(Value v) { return arr_is_general(v) || is_string(v) || arr_is_header(v); }
// A vector of any kind: rank 1.
inline bool arr_is_any_vector(Value v) {
  return (tag_of(value_check(v)) == TAG_VECTOR && heap_is_one_dim(v) &&
          (heap_type(v) == HT_ARRAY || heap_type(v) == HT_BYTES)) ||
         (arr_is_header(v) && heap_length(v) == ARR_HEADER_WORDS + 1);
}
// The simple array at the end of a header's chain of arrays (a simple
// vector, general array or string), NIL when the chain runs too long.
Value arr_storage(Value header);
// Where element i of header h lies: the simple array holding it and its
// index there; false (after an error) when it lies beyond that array.
bool arr_locate(Value h, uint32_t i, Value* array, uint32_t* index);
// Whether the elements of an array are characters only.
bool arr_holds_characters(Value a);
// A header's fill pointer, or -1 when it has none.
inline int32_t arr_fill_pointer(Value h) {
  Value f = heap_word(h, AH_FILL);
  return is_fixnum(f) ? fixnum_value(f) : -1;
}
// The length of a vector: its fill pointer when it has one.
uint32_t arr_vector_length(Value v);
// Store x as element i (row major, below the total size) of an array;
// false when a string refuses it (not a plain character).
bool arr_set(Value a, uint32_t i, Value x);
// A fresh simple vector or string of the active elements of a vector
// (up to its fill pointer).
Value arr_active_copy(Value v);
// Store the n elements of a simple vector or string into the first n
// places of an array (a header's active elements).
void arr_write_back(Value a, Value from, uint32_t n);
// Argument k of the current built-in, a header vector, replaced on the
// stack by a simple copy of its active elements (arr_active_copy), which
// is returned; any other argument is returned as it is.  Allocates.
Value arr_simplify_arg(uint32_t k);
// A new header; its parts must already agree (builtins/arrays.cpp checks).
Value arr_make_header(Value data, uint32_t rank, const uint32_t* dims, Value fill, uint32_t offset,
                      uint32_t flags);

// Stored dimension of axis k of a general array (k < rank - 1).
inline uint32_t arr_stored_dim(Value a, uint32_t k) { return heap_word(a, heap_length(a) - 1 - k); }

// For a general array or a string.
uint32_t arr_rank(Value a);
uint32_t arr_total_size(Value a);
// Dimension of axis 0..rank-1.  When a stored dimension is 0 the last one
// cannot be recovered from the total and reads as 0.
uint32_t arr_dimension(Value a, uint32_t axis);

// Element i (row major, i below the total size) of an array: a character
// Value for a string.
Value arr_header_ref(Value h, uint32_t i);
inline Value arr_ref(Value a, uint32_t i) {
  if (tag_of(a) == TAG_OBJECT) return arr_header_ref(a, i);
  return heap_type(a) == HT_ARRAY ? heap_word(a, i) : make_char(string_bytes(a)[i]);
}

// Append x to a simple vector: the same vector when it is the last object
// of the heap and there is room behind it, else a copy one longer.  Error
// 4171 when it already holds 0x3FFFFF elements or more.
Value arr_vector_append(Value vec, Value x);
