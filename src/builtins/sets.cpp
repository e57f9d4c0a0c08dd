// Membership, set operations on lists, and the quantifiers EVERY and SOME.
//
// The set operations push what they keep onto the front of an accumulator,
// so results come in the reverse of the order the first list supplies
// them; the destructive forms push the list's own cells.  The destructive
// forms decide every membership on the unmodified lists first and relink
// afterwards, so a list searched is never one already cut up, even when the
// two arguments share cells.
#include <cstring>

#include "builtins/table.h"
#include "object/arrays.h"
#include "builtins/test_key.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/memory.h"

// ---------------------------------------------------------------------------
// Membership

// (MEMBER item list &key test test-not key): item is not keyed.
Value bi_member(Value, Value) {
  TestKey tk = tk_collect(2, false);
  return tk_member(tk, arg(1), arg(2));
}

namespace {

// MEMBER-IF and MEMBER-IF-NOT: the first tail whose keyed car satisfies
// the predicate (or does not).
Value member_if(bool wanted) {
  TestKey tk = tk_collect(2, true);
  Value cur = arg(2);
  root_push(&cur);
  for (; cons_p(cur); cur = cdr(cur)) {
    Value y = tk_key(tk, car(cur));
    if (tk_satisfies(arg(1), y) == wanted) break;
  }
  root_pop(1);
  return cons_p(cur) ? cur : NIL;
}

}  // namespace

Value bi_member_if(Value, Value) { return member_if(true); }
Value bi_member_if_not(Value, Value) { return member_if(false); }

namespace {

// Whether element x of one list is in the list that argument `against`
// holds: the key applies to x and to every member.
bool found_in(const TestKey& tk, Value x, uint32_t against) {
  Value y = tk_key(tk, x);
  return !nil_p(tk_member(tk, y, arg(against)));
}

}  // namespace

// (ADJOIN item list &key ...): the list itself when key(item) is found,
// else a new cons of item (not its key) onto it.
Value bi_adjoin(Value, Value) {
  TestKey tk = tk_collect(2, false);
  if (found_in(tk, arg(1), 2)) return arg(2);
  return cons(arg(1), arg(2));
}

namespace {

// ---------------------------------------------------------------------------
// Consing set operations

// Walks the list of argument `from` and conses each element whose presence
// in argument `against` equals keep_found onto *acc (a root).
void gather(const TestKey& tk, uint32_t from, uint32_t against, bool keep_found, Value* acc) {
  Value cur = arg(from);
  root_push(&cur);
  for (; cons_p(cur); cur = cdr(cur))
    if (found_in(tk, car(cur), against) == keep_found) *acc = cons(car(cur), *acc);
  root_pop(1);
}

enum SetKind { S_INTERSECTION, S_DIFFERENCE, S_UNION, S_XOR };

Value set_consing(SetKind kind) {
  TestKey tk = tk_collect(2, false);
  Value acc = kind == S_UNION ? arg(2) : NIL;
  root_push(&acc);
  gather(tk, 1, 2, kind == S_INTERSECTION, &acc);
  if (kind == S_XOR) gather(tk, 2, 1, false, &acc);
  root_pop(1);
  return acc;
}

}  // namespace

Value bi_intersection(Value, Value) { return set_consing(S_INTERSECTION); }
Value bi_set_difference(Value, Value) { return set_consing(S_DIFFERENCE); }
Value bi_union(Value, Value) { return set_consing(S_UNION); }
Value bi_set_exclusive_or(Value, Value) { return set_consing(S_XOR); }

namespace {

// ---------------------------------------------------------------------------
// Destructive set operations: one bit per cell of the lists, set while the
// lists are still whole, then the kept cells are relinked.

uint32_t cons_count(Value list) { return list_walk_length(list); }

inline bool bit_at(Value bits, uint32_t i) { return heap_data(bits)[i >> 3] >> (i & 7) & 1; }
inline void set_bit(Value bits, uint32_t i) {
  heap_data(bits)[i >> 3] |= static_cast<uint8_t>(1u << (i & 7));
}

// Marks bit first + i for element i (i < n) of the list of argument `from`
// whose presence in argument `against` equals keep_found.  *bits is a root.
void mark(const TestKey& tk, uint32_t from, uint32_t against, bool keep_found, Value* bits,
          uint32_t first, uint32_t n) {
  Value cur = arg(from);
  root_push(&cur);
  for (uint32_t i = 0; i < n && cons_p(cur); i++, cur = cdr(cur))
    if (found_in(tk, car(cur), against) == keep_found) set_bit(*bits, first + i);
  root_pop(1);
}

// Pushes the marked cells of the list of argument `from` onto acc by
// overwriting their cdrs; the walk reads each cdr before it changes it.
// No allocation here: nothing needs rooting.
Value relink(uint32_t from, Value bits, uint32_t first, uint32_t n, Value acc) {
  Value cur = arg(from);
  for (uint32_t i = 0; i < n && cons_p(cur); i++) {
    Value next = cdr(cur);
    if (bit_at(bits, first + i)) {
      set_cdr(cur, acc);
      acc = cur;
    }
    cur = next;
  }
  return acc;
}

Value set_destructive(SetKind kind) {
  TestKey tk = tk_collect(2, false);
  uint32_t n1 = cons_count(arg(1));
  uint32_t n2 = kind == S_XOR ? cons_count(arg(2)) : 0;
  uint32_t bytes = (n1 + n2 + 7) / 8;
  Value bits = mem_alloc_bytes(bytes ? bytes : 1);
  std::memset(heap_data(bits), 0, bytes);
  root_push(&bits);
  mark(tk, 1, 2, kind == S_INTERSECTION, &bits, 0, n1);
  if (kind == S_XOR) mark(tk, 2, 1, false, &bits, n1, n2);
  Value acc = relink(1, bits, 0, n1, kind == S_UNION ? arg(2) : NIL);
  if (kind == S_XOR) acc = relink(2, bits, n1, n2, acc);
  root_pop(1);
  return acc;
}

}  // namespace

Value bi_nintersection(Value, Value) { return set_destructive(S_INTERSECTION); }
Value bi_nset_difference(Value, Value) { return set_destructive(S_DIFFERENCE); }
Value bi_nunion(Value, Value) { return set_destructive(S_UNION); }
Value bi_nset_exclusive_or(Value, Value) { return set_destructive(S_XOR); }

// (SUBSETP list1 list2 &key ...)
Value bi_subsetp(Value, Value) {
  TestKey tk = tk_collect(2, false);
  Value cur = arg(1);
  root_push(&cur);
  for (; cons_p(cur); cur = cdr(cur))
    if (!found_in(tk, car(cur), 2)) break;
  root_pop(1);
  return cons_p(cur) ? NIL : T;
}

namespace {

// ---------------------------------------------------------------------------
// Quantifiers.  Sequences are lists, strings and general vectors of rank 1
// (header byte 3 is 1 exactly then, so no dimension word is ever read as an
// element).  A list argument advances in its own stack slot, which keeps it
// rooted.

// Element k of the sequence in stack slot `slot`, advancing a list; false
// when the sequence is exhausted.
bool take_element(uint16_t slot, uint32_t k, Value* out) {
  Value s = zvts->stack[slot].arg;
  if (tag_of(s) == TAG_CONS) {
    if (!cons_p(s)) return false;
    *out = car(s);
    Value next = cdr(s);
    zvts->stack[slot].arg = cons_p(next) ? next : NIL;  // a dotted tail ends it
    return true;
  }
  if (is_simple_vector(s)) {
    if (k >= heap_length(s)) return false;
    *out = heap_word(s, k);
    return true;
  }
  if (k >= string_length(s)) return false;
  *out = make_char(string_bytes(s)[k]);
  return true;
}

// EVERY (stop_on_nil) and SOME: the predicate applied to the k-th elements
// of all sequences, in argument order, until a sequence runs out.
Value quantify(bool stop_on_nil) {
  uint16_t frame = zvts->zvform;
  uint32_t n = arg_count();
  for (uint32_t i = 2; i <= n; i++) arr_simplify_arg(i);
  for (uint32_t i = 2; i <= n; i++) {
    Value s = value_check(arg(i));
    if (!is_list(s) && !is_simple_vector(s) && !is_string(s)) return lisp_error(E_WRONG_TYPE, s);
  }
  for (uint32_t k = 0;; k++) {
    push_frame(zvts->stack[frame - 1].arg, ST_CALL_FRAME);
    for (uint32_t i = 2; i <= n; i++) {
      Value x;
      if (!take_element(static_cast<uint16_t>(frame - i), k, &x)) {
        pop_frame();
        return stop_on_nil ? T : NIL;
      }
      push_arg(x);
    }
    Value r = call_frame();
    pop_frame();
    zvts->mv_count = 1;  // the predicate's other values are not ours
    if (nil_p(r) == stop_on_nil) return r;
  }
}

}  // namespace

Value bi_every(Value, Value) { return quantify(true); }
Value bi_some(Value, Value) { return quantify(false); }
