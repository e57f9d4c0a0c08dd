// The root words of the first image: the macro-character table (with the
// dispatching table of #), the place-expander table and the type table
// holding the classes of the static prefix.
#pragma once

#include <cstdint>

#include "object/value.h"

// Hash tables as the kernel lays them out: a type-20 object whose word 0 is
// the slot vector (keys, then values) and whose raw word 1 holds the count
// in its high half and the number of the test built-in in its low half.
uint32_t gen_hash_capacity(uint32_t size);
uint32_t gen_hash_of(Value key);  // symbols and immediates only
Value gen_make_hash_table(uint32_t size, uint32_t test);
// Enters a key the table does not hold yet, as the kernel's put would
// place it; fails instead of growing the table.
bool gen_hash_put_new(Value table, Value key, Value value);

bool gen_make_root_words();
