// Names of the built-ins: what the genesis binds each built-in number to.
#pragma once

#include <array>

#include "builtins/table.h"

// zv_builtin_names[n] is the print name of the symbol whose function cell
// receives built-in n, null for a spare record.  All names are distinct and
// in upper case.
extern const std::array<const char*, BI_CAPACITY> zv_builtin_names;
