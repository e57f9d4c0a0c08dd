// Names of the built-ins: what the genesis binds each built-in number to.
#pragma once

#include "builtins/table.h"

// zv_builtin_names[n] is the print name of the symbol whose function cell
// receives built-in n.  All names are distinct and in upper case.  A spare
// record has no name until a built-in takes it.
extern const char* const zv_builtin_names[BI_CAPACITY];
