// Helpers of the tests of dynamic bindings (test_specials.cpp,
// test_function_bindings.cpp): a probe of what a thread and another see,
// collections on demand, symbols that die to make the compaction move
// newer ones, lists to bind that tell whose they are, and a world with the
// thread table for threads started from C++.
#pragma once

#include <atomic>
#include <cstdio>

#include "object/gc.h"
#include "object/symbols.h"
#include "test_eval_fixture.h"
#include "threads/table.h"
#include "world_fixture.h"

namespace bindingtest {

// What (T-PROBE 'sym) saw of the cell C: the global word, this thread's
// slot, and the content another thread (a state without slots) would see.
template <BindingCell C>
struct Probe {
  static inline Value global = NIL, slot = NIL, other = NIL;
  static Value fn(Value s, Value) {
    uint32_t i = symbol_index(s);
    global = sym_global_cell(i, C);
    slot = zvts->specials ? cell_slots(zvts, C)[i] : NO_BINDING;
    ThreadState elsewhere;
    ThreadState* me = zvts;
    zvts = &elsewhere;
    other = sym_cell(i, C);
    zvts = me;
    return sym_cell(i, C);
  }
};

// As a built-in of two arguments: a symbol-table collection, then a full one.
inline Value collect(Value, Value) {
  gc_symbol_collection(0);
  gc_full_collection();
  return NIL;
}

// Thirty symbols named DOOMED-n get the value v: T keeps them, NO_VALUE
// lets the next symbol-table collection drop them and move newer ones down.
inline void doomed(Value v) {
  for (int k = 0; k < 30; k++) {
    char name[16];
    std::snprintf(name, sizeof name, "DOOMED-%d", k);
    sym_set_value(symbol_index(sym_intern_cstr(name)), v);
  }
}

// The evaluator's test world with T-PROBE (of cell C) and T-COLLECT, and
// bindings deep.
template <BindingCell C>
class ProbingTest : public evaltest::EvalTest {
 protected:
  BuiltinRecord saved_a_, saved_b_;
  void SetUp() override {
    EvalTest::SetUp();
    saved_a_ = zv_builtins[BORROWED_A];
    saved_b_ = zv_builtins[BORROWED_B];
    zv_builtins[BORROWED_A] = BuiltinRecord{Probe<C>::fn, 2, 1};
    zv_builtins[BORROWED_B] = BuiltinRecord{collect, 2, 0};
    sym_set_function(evaltest::idx("T-PROBE"), make_builtin(2, BORROWED_A));
    sym_set_function(evaltest::idx("T-COLLECT"), make_builtin(2, BORROWED_B));
    specials_make_deep(zvts);
  }
  void TearDown() override {
    specials_make_shallow(zvts);
    zv_builtins[BORROWED_A] = saved_a_;
    zv_builtins[BORROWED_B] = saved_b_;
    EvalTest::TearDown();
  }
};

// (tag round 0 1 ... 19)
inline Value tagged_list(uint32_t tag, uint32_t round) {
  Value l = NIL;
  root_push(&l);
  for (int i = 20; i-- > 0;) l = cons(make_fixnum(i), l);
  l = cons(make_fixnum(int32_t(round)), l);
  l = cons(make_fixnum(int32_t(tag)), l);
  root_pop();
  return l;
}

inline bool is_tagged_list(Value l, uint32_t tag, uint32_t round) {
  if (!cons_p(l) || car(l) != make_fixnum(int32_t(tag))) return false;
  l = cdr(l);
  if (!cons_p(l) || car(l) != make_fixnum(int32_t(round))) return false;
  l = cdr(l);
  for (int i = 0; i < 20; i++, l = cdr(l))
    if (!cons_p(l) || car(l) != make_fixnum(i)) return false;
  return l == NIL;
}

// What threads started from C++ share: the rounds each makes, the next
// thread's tag, and counts of faults seen and threads done.
struct Apart {
  uint32_t rounds = 0;
  std::atomic<uint32_t> next{1}, bad{0}, done{0};
};

// The thread world, the stress mode as the environment asks, and bindings
// back to shallow at the end.
class BindingThreads : public ThreadWorld {
 protected:
  void SetUp() override {
    ThreadWorld::SetUp();
    gc_stress_init_from_env();
  }
  void TearDown() override {
    ThreadWorld::TearDown();
    specials_make_shallow(zvts);
  }
};

}  // namespace bindingtest
