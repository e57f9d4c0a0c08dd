// Symbol cells, definitions and assignment: what the other defining forms
// share with them.
#pragma once

#include "object/symbols.h"
#include "object/value.h"

// Documentation kinds (second keys of the documentation store).
constexpr uint32_t DOC_FUNCTION = FS_FUNCTION;  // functions and macros
constexpr uint32_t DOC_SETF = FS_SETF;          // place expanders
constexpr uint32_t DOC_VARIABLE = FS_VARIABLE;  // variables and constants

// Record `text` as the documentation of (key, kind) in the documentation
// store.  Quietly: a definition never fails because its documentation
// could not be written.
void doc_record(Value key, uint32_t kind, Value text);

// A body that starts with a string followed by at least one more form
// carries that string as its documentation: returns it, or NIL.
inline Value body_doc_string(Value body) {
  if (!cons_p(body) || !cons_p(cdr(body))) return NIL;
  return is_string(car(body)) ? car(body) : NIL;
}

// Symbol arguments: a tag-1 symbol, a keyword, a lambda-list mark or a
// cached lexical reference, or NIL (symbol 0).  The symbol index, or -1.
inline int32_t symbol_arg_index(Value v) {
  uint32_t t = tag_of(v);
  if (v == NIL) return 0;
  if (t >= TAG_SYMBOL && t <= TAG_LEXREF) return static_cast<int32_t>(v & 0xFFFF);
  return -1;
}
