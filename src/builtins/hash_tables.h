// Hash tables: open addressing with double hashing in the vector heap.
//
// A table is a type-20 object of two data words: the slot vector (keys in
// its first half, values in its second) and a raw word holding the test's
// built-in number (low 16 bits) and the live count (high 16 bits).  The
// capacity C is a prime; the probe for hash h starts at h mod C and steps
// by (h mod (C - 2)) + 1, so it visits every slot.
//
// The hash of a key depends on the table's test, so that keys equal under
// the test always hash alike.  No hash depends on where an object lies in
// memory, so collections never disturb a table.
//
// Everything that searches may call the test built-in, which may allocate
// or signal: callers root the Values they hold across these calls.
//
// Threads share tables without a lock.  Each operation reads the slot
// vector once and indexes only that vector, with its own length; a put
// writes into the vector its search used, and growth publishes a new
// vector with one store.  So a table two threads change at once may give
// wrong answers, as in other Lisps, but never breaks the heap.
#pragma once

#include <cstdint>

#include "object/value.h"

// Built-in numbers of the tests the hash knows by name.
enum : uint32_t { HT_TEST_EQ = 74, HT_TEST_EQL = 75, HT_TEST_EQUAL = 76, HT_TEST_EQUALP = 77 };

// Slot vectors stay below this many Values (2C < 0x400000).
constexpr uint32_t HT_MAX_SLOTS = 0x400000;

inline bool ht_is_table(Value v) {
  return tag_of(v) == TAG_OBJECT && heap_type(value_check(v)) == HT_HASH;
}
// The table's two words: the slot vector, and the raw word of the test's
// built-in number (low half) and the count (high half).
enum : uint32_t { HTW_SLOTS = 0, HTW_TEST_COUNT = 1 };
inline uint32_t ht_test_count_word(uint32_t test, uint32_t count) {
  return (count << 16) | (test & 0xFFFF);
}
// The words of a table and of its slot vector, which threads share without
// a lock: acquire loads and release stores (plain moves on x86), so a slot
// vector or key another thread stored is complete when it is read.
inline Value* ht_word_at(Value v, uint32_t i) {
  return reinterpret_cast<Value*>(heap_data(v) + 4 * i);  // Value-holding objects are 4-aligned
}
inline Value ht_word(Value v, uint32_t i) {
  return __atomic_load_n(ht_word_at(v, i), __ATOMIC_ACQUIRE);
}
inline void ht_set_word(Value v, uint32_t i, Value x) {
  __atomic_store_n(ht_word_at(v, i), x, __ATOMIC_RELEASE);
}
inline Value ht_slots(Value table) { return ht_word(table, HTW_SLOTS); }
inline uint32_t ht_test(Value table) { return ht_word(table, HTW_TEST_COUNT) & 0xFFFF; }
inline uint32_t ht_count(Value table) { return ht_word(table, HTW_TEST_COUNT) >> 16; }
inline void ht_set_slots(Value table, Value slots) { ht_set_word(table, HTW_SLOTS, slots); }
inline void ht_set_count(Value table, uint32_t n) {
  ht_set_word(table, HTW_TEST_COUNT, ht_test_count_word(ht_test(table), n));
}
inline uint32_t ht_capacity(Value table) { return heap_length(ht_slots(table)) / 2; }

// The smallest prime at or above n (n < 5 counts as 4), odd and at least 5.
uint32_t ht_prime_capacity(uint32_t n);

// The full 32-bit hash of key under the test with the given built-in
// number.  A test the hash does not know gives every key the same hash,
// which keeps such tables correct (every search sees every key) at the
// price of speed.
uint32_t ht_hash(Value key, uint32_t test);
// SXHASH: consistent with EQUAL, 23 bits.
uint32_t ht_sxhash(Value x);

// A new empty table for `size` entries; error 5195 when it would need
// 0x400000 slots or more.  The test is not checked here.
Value ht_make(uint32_t size, uint32_t test);
// Empty the table, keeping its capacity.
void ht_clear(Value table);

// The value stored under key, or dflt; *found (when given) says which.
Value ht_get(Value table, Value key, Value dflt, bool* found = nullptr);
// Store value under key; grows the table as needed.  Error 4171 (with the
// entry withdrawn) when the table cannot grow or its count would reach
// 65536.  Returns value.
Value ht_put(Value table, Value key, Value value);
// Remove key; true when it was present.
bool ht_remove(Value table, Value key);

// Re-place every entry of one table by the present hash and recount them.
// The slot vector is kept when its capacity is a usable prime; otherwise
// (a damaged table) a new one is allocated.
void ht_rehash(Value table);
// Rehash, in place, every table of the heap that has a key off its probe
// sequence.  Run after an image is loaded and relocated, once symbol names
// are readable: a table saved by another kernel may have placed its keys
// by another hash.  Allocates nothing, calls nothing, signals nothing.
void hash_tables_rehash_all();
