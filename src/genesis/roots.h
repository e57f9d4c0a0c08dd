// The root words of the first image: the macro-character table (with the
// dispatching table of #), the place-expander table and the type table
// holding the classes of the static prefix.
#pragma once

#include <cstdint>

#include "object/value.h"

// A hash table of the kernel's layout (builtins/hash_tables.h).
Value gen_make_hash_table(uint32_t size, uint32_t test);
// Enters a key the table does not hold yet, as the kernel's put would
// place it; fails instead of growing the table.
bool gen_hash_put_new(Value table, Value key, Value value);

bool gen_make_root_words();
