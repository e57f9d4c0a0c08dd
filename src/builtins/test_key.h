// The :TEST / :TEST-NOT / :KEY protocol of the list, set and sequence
// built-ins.
//
// A kind-4 built-in validates its keyword entries, then takes the three
// with tk_take: the record keeps the stack indices of their values, not
// the Values, so it stays right across collections (the stack entries are
// roots) and calls out to Lisp.  Everything here may call Lisp, allocate
// and leave non-locally: callers root what they hold across it.
#pragma once

#include <cstdint>

#include "object/value.h"

struct TestKey {
  uint16_t test;      // stack index of the :TEST value, 0 when absent
  uint16_t test_not;  // of :TEST-NOT
  uint16_t key;       // of :KEY; a :KEY of NIL counts as absent
};

// Reads keyword slots 5, 6 and 7 of the current call and clears them.  The
// caller has validated its keywords (and so reported :TEST with
// :TEST-NOT) already.
TestKey tk_take();
// Validation and collection for the list and set built-ins with
// `required` arguments before the keywords: accepts :TEST, :TEST-NOT and
// :KEY (or :KEY alone when key_only), reports anything else, then tk_take.
TestKey tk_collect(uint32_t required, bool key_only);

inline bool tk_plain(const TestKey& tk) { return (tk.test | tk.test_not | tk.key) == 0; }

// key(x) when :KEY is given, else x.
Value tk_key(const TestKey& tk, Value x);
// The match of two already-keyed values, called in the order given:
// test(a, b) non-NIL, else test-not(a, b) NIL, else EQL(a, b).  Each
// member decides which value goes first.
bool tk_match(const TestKey& tk, Value a, Value b);

// The first tail of `list` whose car y gives tk_match(item, key(y)), or
// NIL; the walk ends at the first non-cons.  This is MEMBER's search and
// the inner search of every set operation.
Value tk_member(const TestKey& tk, Value item, Value list);
// The same with EQL and no key, calling nothing: built-in 151.
Value member_eql(Value item, Value list);

// predicate(x) through the kernel-internal call, as a truth value.
bool tk_satisfies(Value predicate, Value x);
