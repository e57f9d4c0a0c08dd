// List built-ins: accessors, constructors and copiers, queries,
// destructive operations, association and tree substitution.
//
// Lists end at the first cdr that is not a cons: a dotted tail ends every
// walk the way NIL does.  Any cursor into a list is rooted before the
// first allocation, because cons cells move when the area is compacted.
#include <climits>
#include <cstdint>

#include "builtins/list_builder.h"
#include "builtins/table.h"
#include "builtins/test_key.h"
#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/memory.h"
#include "object/thread.h"

namespace {

// ---------------------------------------------------------------------------
// Arguments and errors

// Positions and counts: a fixnum, or a 64-bit integer clamped to 32 bits,
// so that a huge position lies beyond every list instead of wherever its
// low bits would put it.
bool position_arg(Value v, int32_t* out) {
  if (is_fixnum(value_check(v))) {
    *out = fixnum_value(v);
    return true;
  }
  if (tag_of(v) != TAG_INT64) return false;
  int64_t x = int64_value(v);
  *out = x > INT32_MAX ? INT32_MAX : x < INT32_MIN ? INT32_MIN : static_cast<int32_t>(x);
  return true;
}

// The optional count of LAST, BUTLAST and NBUTLAST (default 1).  A third
// argument is reported and, when continued from, ignored.  Returns false
// when the count is not an integer; *bad is then the offending Value.
bool optional_count(int32_t* n, Value* bad) {
  check_max_args(2);
  *n = 1;
  if (arg_count() < 2) return true;
  *bad = arg(2);
  return position_arg(*bad, n);
}

// Copies of the first `limit` top-level cells of a list (all of them when
// limit is negative); *rest receives the first cdr not copied.
Value copy_cells(Value list, int64_t limit, Value* rest) {
  ListBuilder b;
  root_push(&list);
  b.open();
  for (; cons_p(list) && limit != 0; limit--) {
    b.add(car(list));
    list = cdr(list);
  }
  Value r = b.close();
  root_pop(1);
  *rest = list;
  return r;
}

uint32_t cons_count(Value list) { return list_walk_length(list); }

// ---------------------------------------------------------------------------
// Accessors.  The steps of a composed accessor apply right to left, as its
// name reads: CADDR takes cdr, cdr, then car.  A non-list met on the way is
// reported with the argument of the call, which is what the user wrote.

Value cxr(Value x, const char* steps, int n) {
  Value v = value_check(x);
  for (int i = n - 1; i >= 0; i--) {
    if (nil_p(v)) return NIL;
    if (!cons_p(v)) return wrong_type(x);
    v = steps[i] == 'd' ? cdr(v) : car(v);
  }
  return v;
}

}  // namespace

#define ZV_CXR(name, steps) \
  Value bi_##name(Value x, Value) { return cxr(x, steps, sizeof(steps) - 1); }
ZV_CXR(car, "a")
ZV_CXR(cdr, "d")
ZV_CXR(caar, "aa")
ZV_CXR(cadr, "ad")
ZV_CXR(cdar, "da")
ZV_CXR(cddr, "dd")
ZV_CXR(caaar, "aaa")
ZV_CXR(caadr, "aad")
ZV_CXR(cadar, "ada")
ZV_CXR(caddr, "add")
ZV_CXR(cdaar, "daa")
ZV_CXR(cdadr, "dad")
ZV_CXR(cddar, "dda")
ZV_CXR(cdddr, "ddd")
#undef ZV_CXR

// ---------------------------------------------------------------------------
// Constructors and copiers

Value bi_cons(Value a, Value d) { return cons(a, d); }

// (ACONS key datum alist)
Value bi_acons(Value, Value) {
  Value pair = cons(arg(1), arg(2));
  return cons(pair, arg(3));
}

Value bi_list(Value, Value) {
  Value r = NIL;
  root_push(&r);
  for (uint32_t k = arg_count(); k >= 1; k--) r = cons(arg(k), r);
  root_pop(1);
  return r;
}

Value bi_list_star(Value, Value) {
  uint32_t n = arg_count();
  Value r = arg(n);
  root_push(&r);
  for (uint32_t k = n - 1; k >= 1; k--) r = cons(arg(k), r);
  root_pop(1);
  return r;
}

// Every argument but the last is copied; the last is shared.
Value bi_append(Value, Value) {
  uint32_t n = arg_count();
  if (n == 0) return NIL;
  ListBuilder b;
  Value cur = NIL;
  root_push(&cur);
  b.open();
  for (uint32_t k = 1; k < n; k++) {
    cur = arg(k);
    if (is_nil(cur)) continue;
    if (!is_cons(cur)) {
      root_pop(3);
      return wrong_type(cur);
    }
    list_walk_length(cur);
    for (; cons_p(cur); cur = cdr(cur)) b.add(car(cur));
  }
  Value r = b.close(arg(n));
  root_pop(1);
  return r;
}

Value bi_copy_list(Value x, Value) {
  if (!is_cons(x)) return x;
  list_walk_length(x);
  Value rest;
  Value r = copy_cells(x, -1, &rest);
  if (!nil_p(rest)) {  // a dotted tail is the copy's tail
    Value last = r;
    while (cons_p(cdr(last))) last = cdr(last);
    set_cdr(last, rest);
  }
  return r;
}

namespace {

// ---------------------------------------------------------------------------
// Tree walks.  COPY-TREE, SUBST and SUBLIS copy the tree top down on the
// Lisp stack instead of the native one.  A cons to be copied gets its new
// cell at once; the cell carries the source cdr in its own cdr until the
// cdr's turn comes, and one stack entry (tag 34) remembers it while its car
// is walked.  The entry is dropped as the cdr starts, so the stack grows
// with the nesting depth through cars only: a long list costs one entry.

enum WalkKind { WALK_COPY, WALK_SUBST, WALK_SUBLIS };
constexpr uint16_t ST_PENDING_CDR = 34;

struct Walk {
  WalkKind kind;
  TestKey tk;
  uint32_t arg_new, arg_old, arg_alist;  // frame positions of the arguments
};

// The SUBST test of one node: test(old, key(node)).
bool subst_matches(const Walk& w, Value* node) {
  Value y = tk_key(w.tk, *node);
  return tk_match(w.tk, arg(w.arg_old), y);
}

// The SUBLIS test of one node against each alist key in order:
// test(key(node), alist key).  *r receives the datum of the first match.
bool sublis_matches(const Walk& w, Value* node, Value* r) {
  Value y = tk_key(w.tk, *node);
  Value cur = arg(w.arg_alist);
  root_push(&y);
  root_push(&cur);
  for (; cons_p(cur); cur = cdr(cur)) {
    Value e = car(cur);
    if (cons_p(e) && tk_match(w.tk, y, car(e))) break;
  }
  bool hit = cons_p(cur);
  if (hit) *r = cdr(car(cur));
  root_pop(2);
  return hit;
}

// The result of a node that is replaced or is an atom goes to *r (true);
// false means a cons to be copied.  *node is a root: the tests may move it.
bool walk_decide(const Walk& w, Value* node, Value* r) {
  if (w.kind == WALK_SUBST && subst_matches(w, node)) {
    *r = arg(w.arg_new);
    return true;
  }
  if (w.kind == WALK_SUBLIS && sublis_matches(w, node, r)) return true;
  if (cons_p(*node)) return false;
  *r = *node;
  return true;
}

void walk_store(Value dest, bool into_car, Value r, Value* result) {
  if (nil_p(dest))
    *result = r;
  else if (into_car)
    set_car(dest, r);
  else
    set_cdr(dest, r);
}

Value tree_walk(const Walk& w, Value tree) {
  ThreadState* ts = zvts;
  uint16_t base = ts->septr;
  Value node = tree, dest = NIL, result = NIL, r = NIL;
  bool into_car = false;
  root_push(&node);
  root_push(&dest);
  root_push(&result);
  root_push(&r);
  for (;;) {
    if (!walk_decide(w, &node, &r)) {
      if (ts->septr <= 1) {
        // Give the signaller the stack back: the partial copy is garbage.
        ts->septr = base;
        root_pop(4);
        return lisp_error(E_STACK);
      }
      r = cons(NIL, cdr(node));
      walk_store(dest, into_car, r, &result);
      push_entry(r, ST_PENDING_CDR);
      dest = r;
      into_car = true;
      node = car(node);
      continue;
    }
    walk_store(dest, into_car, r, &result);
    if (ts->septr >= base) break;
    dest = ts->stack[ts->septr++].arg;
    node = cdr(dest);
    into_car = false;
  }
  root_pop(4);
  return result;
}

}  // namespace

Value bi_copy_tree(Value x, Value) {
  Walk w{WALK_COPY, {}, 0, 0, 0};
  return tree_walk(w, x);
}

// (SUBST new old tree &key test test-not key)
Value bi_subst(Value, Value) {
  Walk w{WALK_SUBST, tk_collect(3, false), 1, 2, 0};
  return tree_walk(w, arg(3));
}

// (SUBLIS alist tree &key test test-not key)
Value bi_sublis(Value, Value) {
  Walk w{WALK_SUBLIS, tk_collect(2, false), 0, 0, 1};
  return tree_walk(w, arg(2));
}

// (REVAPPEND list tail): new cells only.
Value bi_revappend(Value list, Value tail) {
  if (!is_list(list)) return wrong_type(list);
  root_push(&list);
  root_push(&tail);
  for (; cons_p(list); list = cdr(list)) tail = cons(car(list), tail);
  root_pop(2);
  return tail;
}

// (NRECONC list tail): the list's own cells, their cdrs reversed in place.
Value bi_nreconc(Value list, Value tail) {
  if (!is_list(list)) return wrong_type(list);
  while (cons_p(list)) {
    Value next = cdr(list);
    set_cdr(list, tail);
    tail = list;
    list = next;
  }
  return tail;
}

// ---------------------------------------------------------------------------
// Queries

Value bi_endp(Value x, Value) {
  if (is_nil(x)) return T;
  if (is_cons(x)) return NIL;
  return wrong_type(x);
}

// NIL for a circular list.
Value bi_list_length(Value x, Value) {
  int64_t n = list_conses(value_check(x));
  return n < 0 ? NIL : mem_make_integer(n);
}

namespace {

// The tail after n cdrs (fewer when the list ends first); a negative n
// counts as 0.
Value nthcdr_walk(int32_t n, Value list) {
  for (; n > 0 && cons_p(list); n--) list = cdr(list);
  return list;
}

}  // namespace

Value bi_nthcdr(Value n, Value list) {
  int32_t i;
  if (!position_arg(n, &i)) return wrong_type(n);
  if (!is_list(list)) return wrong_type(list);
  return nthcdr_walk(i, list);
}

Value bi_nth(Value n, Value list) {
  int32_t i;
  if (!position_arg(n, &i)) return wrong_type(n);
  if (!is_list(list)) return wrong_type(list);
  Value tail = nthcdr_walk(i, list);
  return cons_p(tail) ? car(tail) : NIL;
}

// (LAST list [n]): the last n conses.
Value bi_last(Value, Value) {
  int32_t n;
  Value bad = NIL;
  bool ok = optional_count(&n, &bad);
  Value list = arg(1);  // after the cerror: its break loop may move it
  if (!is_list(list)) return lisp_error(E_BAD_TYPE, list);
  if (!ok) return wrong_type(bad);
  if (n <= 0 || nil_p(list)) return NIL;
  Value lead = nthcdr_walk(n, list);
  RingWatch ring(lead);
  root_push(&ring.slow);
  for (; cons_p(lead); lead = cdr(lead)) {
    list = cdr(list);
    if (ring.round(cdr(lead))) fail_circular(arg(1));
    walk_poll(&lead, &list);
  }
  root_pop();
  return list;
}

Value bi_member_eql(Value item, Value list) { return member_eql(item, list); }

// Association by identity: the first cons element whose car is item.
Value bi_assq(Value item, Value alist) {
  RingWatch ring(alist);
  root_push(&ring.slow);
  for (; cons_p(alist); alist = cdr(alist)) {
    Value e = car(alist);
    if (cons_p(e) && lisp_eq(car(e), item)) break;
    if (ring.round(cdr(alist))) fail_circular(alist);
    walk_poll(&item, &alist);
  }
  root_pop();
  return cons_p(alist) ? car(alist) : NIL;
}

// (ASSOC item alist &key test test-not key): test(item, key(car)).
Value bi_assoc(Value, Value) {
  TestKey tk = tk_collect(2, false);
  Value cur = arg(2);
  if (tk_plain(tk)) {
    Value item = arg(1);
    RingWatch ring(cur);
    root_push(&ring.slow);
    for (; cons_p(cur); cur = cdr(cur)) {
      Value e = car(cur);
      if (cons_p(e) && lisp_eql(item, car(e))) break;
      if (ring.round(cdr(cur))) fail_circular(arg(2));
      walk_poll(&item, &cur);
    }
    root_pop();
    return cons_p(cur) ? car(cur) : NIL;
  }
  RingWatch ring(cur);
  root_push(&cur);
  root_push(&ring.slow);
  for (; cons_p(cur); cur = cdr(cur)) {
    Value e = car(cur);
    if (cons_p(e) && tk_match(tk, arg(1), tk_key(tk, car(e)))) break;
    if (ring.round(cdr(cur))) fail_circular(arg(2));
  }
  root_pop(2);
  return cons_p(cur) ? car(cur) : NIL;
}

namespace {

// ASSOC-IF and ASSOC-IF-NOT: predicate(key(car)), negated for the latter.
Value assoc_if(bool wanted) {
  TestKey tk = tk_collect(2, true);
  Value cur = arg(2);
  root_push(&cur);
  for (; cons_p(cur); cur = cdr(cur)) {
    Value e = car(cur);
    if (!cons_p(e)) continue;
    Value y = tk_key(tk, car(e));
    if (tk_satisfies(arg(1), y) == wanted) break;
  }
  root_pop(1);
  return cons_p(cur) ? car(cur) : NIL;
}

}  // namespace

Value bi_assoc_if(Value, Value) { return assoc_if(true); }
Value bi_assoc_if_not(Value, Value) { return assoc_if(false); }

// ---------------------------------------------------------------------------
// Destructive operations

// Each non-NIL argument but the last gets the next non-NIL one (or the
// last argument) into the cdr of its last cons.  A bad argument stops the
// join where it is: the joins made so far stay.
Value bi_nconc(Value, Value) {
  uint32_t n = arg_count();
  if (n == 0) return NIL;
  Value result = NIL, last = NIL;
  for (uint32_t k = 1; k < n; k++) {
    Value x = arg(k);
    if (is_nil(x)) continue;
    if (!is_cons(x)) return wrong_type(x);
    if (nil_p(last))
      result = x;
    else
      set_cdr(last, x);
    last = x;
    for (RingWatch ring(x); cons_p(cdr(last));) {
      last = cdr(last);
      if (ring.round(last)) return wrong_type(x);
    }
  }
  Value end = arg(n);
  if (nil_p(last)) return end;
  set_cdr(last, end);
  return result;
}

Value bi_rplaca(Value c, Value x) {
  if (!is_cons(c)) return wrong_type(c);
  set_car(c, x);
  return c;
}

Value bi_rplacd(Value c, Value x) {
  if (!is_cons(c)) return wrong_type(c);
  set_cdr(c, x);
  return c;
}

namespace {

// The list without its last n conses: a fresh list (BUTLAST), or the list
// itself cut after its (length - n)th cons (NBUTLAST).
Value without_last(bool in_place) {
  int32_t n;
  Value bad = NIL;
  bool ok = optional_count(&n, &bad);
  Value list = arg(1);
  if (!is_list(list)) return wrong_type(list);
  if (!ok) return wrong_type(bad);
  if (n <= 0) return in_place ? list : bi_copy_list(list, NIL);
  uint32_t len = cons_count(list);
  if (len <= static_cast<uint32_t>(n)) return NIL;
  if (!in_place) {
    Value rest;
    return copy_cells(list, len - n, &rest);
  }
  set_cdr(nthcdr_walk(static_cast<int32_t>(len - n - 1), list), NIL);
  return list;
}

}  // namespace

// (BUTLAST list [n])
Value bi_butlast(Value, Value) { return without_last(false); }

// (NBUTLAST list [n])
Value bi_nbutlast(Value, Value) { return without_last(true); }
