// Symbol cells, definitions and assignment: what the other defining forms
// share with them.
#pragma once

#include "eval/hooks.h"
#include "object/value.h"

// Record `text` as the documentation of (key, kind) in the documentation
// store.  Quietly: a definition never fails because its documentation
// could not be written.
void doc_record(Value key, uint32_t kind, Value text);
