// The equality predicates EQ, EQL, EQUAL, EQUALP and not-EQ.
//
// EQUAL and EQUALP walk structure without native recursion: pending
// comparisons live in the free part of the Lisp stack below septr, which
// never moves, so a comparison allocates nothing and leaves no trace.
#pragma once

#include "object/value.h"

// Lambda-list marks (tag 2) and cached lexical references (tag 4) are the
// plain symbol of the same index wherever a program can look at them.
inline Value symbol_normal(Value v) {
  uint32_t t = tag_of(v);
  if (t != TAG_INDEX && t != TAG_LEXREF) return v;
  return make_symbol(v & 0xFFFF);
}

inline bool lisp_eq(Value a, Value b) { return symbol_normal(a) == symbol_normal(b); }
bool lisp_eql(Value a, Value b);
// Error 38 when the work stack runs out.
bool lisp_equal(Value a, Value b);
bool lisp_equalp(Value a, Value b);
