// The :TEST / :TEST-NOT / :KEY protocol shared by the list, set and
// sequence built-ins.
#include "builtins/test_key.h"

#include "eval/equality.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace {

// A test or key function's further values are not the built-in's: the
// count goes back to one value after every call.
Value call1(uint16_t fn, Value x) {
  Value r = call_function1(zvts->stack[fn].arg, x);
  zvts->mv_count = 1;
  return r;
}
Value call2(uint16_t fn, Value a, Value b) {
  Value r = call_function2(zvts->stack[fn].arg, a, b);
  zvts->mv_count = 1;
  return r;
}

}  // namespace

TestKey tk_take() {
  uint16_t* slot = zvts->kwslots;
  TestKey tk{slot[FS_TEST], slot[FS_TEST_NOT], slot[FS_KEY]};
  // Cleared now: the test and key functions may call kind-4 built-ins of
  // their own, which start from empty slots.
  slot[FS_TEST] = slot[FS_TEST_NOT] = slot[FS_KEY] = 0;
  if (tk.key && nil_p(zvts->stack[tk.key].arg)) tk.key = 0;
  return tk;
}

TestKey tk_collect(uint32_t required, bool key_only) {
  static const uint8_t key_alone[] = {FS_KEY, 0};
  if (key_only)
    kw_parse(required, 1, 0, key_alone);
  else
    kw_parse(required, FS_TEST, FS_KEY);
  TestKey tk = tk_take();
  kw_clear();  // slot 0 too, where the parser parks rejected keywords
  return tk;
}

Value tk_key(const TestKey& tk, Value x) {
  if (!tk.key) return x;
  return call1(tk.key, x);
}

bool tk_match(const TestKey& tk, Value a, Value b) {
  if (tk.test) return !nil_p(call2(tk.test, a, b));
  if (tk.test_not) return nil_p(call2(tk.test_not, a, b));
  return lisp_eql(a, b);
}

Value tk_member(const TestKey& tk, Value item, Value list) {
  if (tk_plain(tk)) return member_eql(item, list);
  RingWatch ring(list);
  root_push(&item);
  root_push(&list);
  root_push(&ring.slow);
  for (; cons_p(list); list = cdr(list)) {
    Value y = tk_key(tk, car(list));
    if (tk_match(tk, item, y)) break;
    if (ring.round(cdr(list))) fail_circular(list);
    walk_poll();
  }
  root_pop(3);
  return cons_p(list) ? list : NIL;
}

Value member_eql(Value item, Value list) {
  RingWatch ring(list);
  root_push(&ring.slow);
  for (; cons_p(list); list = cdr(list)) {
    if (lisp_eql(item, car(list))) break;
    if (ring.round(cdr(list))) fail_circular(list);
    walk_poll(&item, &list);
  }
  root_pop();
  return cons_p(list) ? list : NIL;
}

bool tk_satisfies(Value predicate, Value x) {
  Value r = call_function1(predicate, x);
  zvts->mv_count = 1;
  return !nil_p(r);
}
