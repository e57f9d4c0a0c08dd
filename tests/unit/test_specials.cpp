// Deep binding of special variables: bindings live in the binding thread's
// own slots, and the symbol entry keeps the global value, which a thread
// with no binding (here a second thread state without slots) reads and
// assigns.  And the switch from shallow binding to deep and back.
#include "test_eval_fixture.h"

#include <atomic>

#include "bindings_fixture.h"
#include "threads/safepoint.h"
#include "threads/table.h"
#include "world_fixture.h"

using namespace evaltest;
using namespace bindingtest;

namespace {

using Probe = bindingtest::Probe<BindingCell::VALUE>;

class Specials : public ProbingTest<BindingCell::VALUE> {
 protected:
  Value slot(const char* name) { return zvts->specials[idx(name)]; }
};

TEST_F(Specials, LetBindsInTheThreadsSlotAndLeavesTheGlobalValue) {
  defspecial("*a*", make_fixnum(1));
  EXPECT_EQ(show(ev("(let ((*a* 2)) (t-probe '*a*))")), "2");
  EXPECT_EQ(Probe::global, make_fixnum(1));
  EXPECT_EQ(Probe::slot, make_fixnum(2));
  EXPECT_EQ(Probe::other, make_fixnum(1));  // invisible elsewhere
  EXPECT_EQ(slot("*a*"), NO_BINDING);

  // SETQ and SET under a binding change the binding only; outside any
  // binding they change the global value, which every thread sees.
  EXPECT_EQ(show(ev("(let ((*a* 2)) (setq *a* 3) (set '*a* (t+ *a* 1)) (t-probe '*a*))")), "4");
  EXPECT_EQ(Probe::global, make_fixnum(1));
  ev("(setq *a* 7)");
  EXPECT_EQ(sym_global_value(idx("*a*")), make_fixnum(7));
  EXPECT_EQ(show(ev("(t-probe '*a*)")), "7");
  EXPECT_EQ(Probe::other, make_fixnum(7));

  // A special parameter of a function binds the same way.
  ev("(defun with-a (*a*) (t-probe '*a*))");
  EXPECT_EQ(show(ev("(with-a 9)")), "9");
  EXPECT_EQ(Probe::global, make_fixnum(7));
  EXPECT_EQ(Probe::other, make_fixnum(7));
  EXPECT_EQ(slot("*a*"), NO_BINDING);
}

TEST_F(Specials, NestedBindingsUnwindByThrowToTheOuterSlotContents) {
  defspecial("*n*", make_fixnum(0));
  EXPECT_EQ(show(ev("(catch 'out (let ((*n* 1)) (let ((*n* 2)) (throw 'out (t-probe '*n*)))))")),
            "2");
  EXPECT_EQ(Probe::global, make_fixnum(0));
  EXPECT_EQ(slot("*n*"), NO_BINDING);
  // Back to the outer binding, not to the global value, after the inner one.
  EXPECT_EQ(show(ev("(let ((*n* 1)) (catch 'in (let ((*n* 2)) (throw 'in nil))) (t-probe '*n*))")),
            "1");
  EXPECT_EQ(Probe::slot, make_fixnum(1));
  EXPECT_EQ(sym_value(idx("*n*")), make_fixnum(0));
}

TEST_F(Specials, ProgvAndMakunboundStayInTheBinding) {
  defspecial("*p*", make_fixnum(0));
  // Unbinding inside a binding leaves the global value bound.
  EXPECT_EQ(show(ev("(progv '(*p* fresh-p) '(5 6)"
                    "  (makunbound '*p*)"
                    "  (t-list (boundp '*p*) (t-probe 'fresh-p)))")),
            "(NIL 6)");
  EXPECT_TRUE(is_no_value(Probe::global));
  EXPECT_EQ(Probe::slot, make_fixnum(6));
  EXPECT_TRUE(is_no_value(Probe::other));
  EXPECT_EQ(sym_value(idx("*p*")), make_fixnum(0));
  EXPECT_EQ(ev("(boundp 'fresh-p)"), NIL);
  EXPECT_EQ(slot("*p*"), NO_BINDING);
  EXPECT_EQ(slot("fresh-p"), NO_BINDING);
}

// Symbols that die before a bound one let the compaction move it down: its
// slot goes with it, the binding's value and the global one (both moved by
// the collections too) stay intact, and the binding undoes into the right
// slot afterwards.
TEST_F(Specials, CompactionMovesBoundSymbolsWithTheirSlots) {
  // Kept alive by a value (a collection may come at any allocation) until
  // the symbol to move has its index.
  doomed(T);
  ev("(defun build (n acc) (t-if (t< n 1) acc (build (t- n 1) (t-cons n acc))))");
  // The global value is held by the symbol entry alone.
  defspecial("*moved*", NIL);
  ev("(setq *moved* (t-cons \"global\" (build 2 nil)))");
  doomed(NO_VALUE);
  uint32_t before = idx("*moved*");
  EXPECT_EQ(show(ev("(let ((*moved* (build 5 nil)))"
                    "  (t-collect)"
                    "  (let ((*moved* (t-cons 0 *moved*))) (t-collect) (t-probe '*moved*)))")),
            "(0 1 2 3 4 5)");
  uint32_t after = idx("*moved*");
  EXPECT_LT(after, before);
  EXPECT_EQ(show(Probe::global), "(\"global\" 1 2)");
  for (uint32_t i = 0; i < zvm.sym_cap + 4; i++) ASSERT_EQ(zvts->specials[i], NO_BINDING) << i;
  EXPECT_EQ(show(sym_value(after)), "(\"global\" 1 2)");
}

// A new world may have a larger symbol table than the one the thread's
// slots were made for; a reset drops them, and the next binding makes them
// anew at the new size.
TEST_F(Specials, SlotsFollowTheCapacityOfANewWorld) {
  WorldParams small;
  small.symbol_capacity = 40;
  test_world_init(small);
  bind_special(symbol_index(sym_intern_cstr("X")), make_fixnum(1));
  EXPECT_EQ(zvts->specials_cap, 44u);
  test_world_init(WorldParams());
  EXPECT_EQ(zvts->specials, nullptr);
  for (int k = 0; k < 100; k++) {
    char name[16];
    std::snprintf(name, sizeof name, "S%d", k);
    sym_set_value(symbol_index(sym_intern_cstr(name)), make_fixnum(k));
  }
  uint32_t far = symbol_index(sym_intern_cstr("FAR"));
  ASSERT_GT(far, 44u);
  uint16_t mark = zvts->zvdinenv;
  bind_special(far, make_fixnum(2));
  EXPECT_EQ(sym_value(far), make_fixnum(2));
  unbind_to(mark);
  EXPECT_TRUE(is_no_value(sym_value(far)));
}

// Bindings made shallow keep their values when they become deep in the
// middle of their extent, and again on the way back; each unbinding then
// restores what it should.
TEST_F(Specials, BindingsKeepTheirValuesAcrossTheSwitch) {
  specials_make_shallow(zvts);
  defspecial("*c*", make_fixnum(0));
  uint32_t c = idx("*c*"), d = idx("fresh-d");
  uint16_t mark = zvts->zvdinenv;
  bind_special(c, make_fixnum(1));
  bind_special(d, make_fixnum(5));
  uint16_t inner = zvts->zvdinenv;
  bind_special(c, make_fixnum(2));
  EXPECT_EQ(sym_global_value(c), make_fixnum(2));

  specials_make_deep(zvts);
  EXPECT_EQ(sym_global_value(c), make_fixnum(0));
  EXPECT_TRUE(is_no_value(sym_global_value(d)));
  EXPECT_EQ(sym_value(c), make_fixnum(2));
  EXPECT_EQ(sym_value(d), make_fixnum(5));
  unbind_to(inner);
  EXPECT_EQ(sym_value(c), make_fixnum(1));
  EXPECT_EQ(sym_global_value(c), make_fixnum(0));
  bind_special(c, make_fixnum(3));  // made deep

  specials_make_shallow(zvts);
  EXPECT_EQ(zvts->specials, nullptr);
  EXPECT_EQ(sym_global_value(c), make_fixnum(3));
  unbind_to(inner);
  EXPECT_EQ(sym_value(c), make_fixnum(1));
  EXPECT_EQ(sym_value(d), make_fixnum(5));
  unbind_to(mark);
  EXPECT_EQ(sym_value(c), make_fixnum(0));
  EXPECT_TRUE(is_no_value(sym_value(d)));
}

// ---------------------------------------------------------------------------
// Threads started from C++ bind one symbol each to lists of their own, held
// by nothing but their slots, while the first thread, bound too, keeps
// collecting and the symbol moves down the table.

constexpr uint32_t GLOBAL_TAG = 1000, MAIN_TAG = 2000;

uint32_t shared_index() { return symbol_index(sym_intern_cstr("*SHARED*")); }

void bind_apart(void* p) {
  Apart* a = static_cast<Apart*>(p);
  uint32_t me = a->next.fetch_add(1);
  auto expect = [a](bool ok) {
    if (!ok) a->bad.fetch_add(1);
  };
  for (uint32_t r = 0; r < a->rounds; r++) {
    uint16_t mark = zvts->zvdinenv;
    Value mine = tagged_list(me, r);
    bind_special(shared_index(), mine);
    for (int k = 0; k < 50; k++) tagged_list(0, 0);  // garbage: collections
    expect(is_tagged_list(sym_value(shared_index()), me, r));
    bind_special(shared_index(), NIL);
    sym_set_value(shared_index(), T);  // the inner binding only
    expect(sym_value(shared_index()) == T);
    unbind_to(zvts->zvdinenv + 1u);
    expect(is_tagged_list(sym_value(shared_index()), me, r));
    unbind_to(mark);
    expect(is_tagged_list(sym_value(shared_index()), GLOBAL_TAG, 0));
  }
  // Unbound here, so global (one thread: not a race); and a binding the
  // end of the thread drops.
  if (me == 2) sym_set_value(symbol_index(sym_intern_cstr("*LAST*")), make_fixnum(int32_t(me)));
  bind_special(shared_index(), make_fixnum(-1));
  a->done.fetch_add(1);
}

class SpecialsInThreads : public BindingThreads {};

TEST_F(SpecialsInThreads, EachThreadSeesOnlyItsOwnBindings) {
  doomed(T);
  uint32_t s = shared_index();
  sym_set_flags(s, sym_flags(s) | 2);
  sym_set_value(s, tagged_list(GLOBAL_TAG, 0));
  sym_set_value(symbol_index(sym_intern_cstr("*LAST*")), NIL);
  uint16_t mark = zvts->zvdinenv;
  // Bound shallow; deep from the first start on.
  bind_special(shared_index(), tagged_list(MAIN_TAG, 0));
  uint32_t before = shared_index();

  Apart a;
  a.rounds = 30;
  const uint32_t threads = 3;
  start_lisp_threads(threads, bind_apart, &a);
  EXPECT_TRUE(zv_specials_deep);
  doomed(NO_VALUE);
  work_until_done(a.done, threads, [&] {
    gc_symbol_collection(0);
    gc_full_collection();
    EXPECT_TRUE(is_tagged_list(sym_value(shared_index()), MAIN_TAG, 0));
  });
  EXPECT_EQ(a.bad.load(), 0u);
  EXPECT_LT(shared_index(), before);
  EXPECT_TRUE(is_tagged_list(sym_value(shared_index()), MAIN_TAG, 0));
  EXPECT_TRUE(is_tagged_list(sym_global_value(shared_index()), GLOBAL_TAG, 0));
  EXPECT_EQ(sym_value(symbol_index(sym_intern_cstr("*LAST*"))), make_fixnum(2));
  unbind_to(mark);
  EXPECT_TRUE(is_tagged_list(sym_value(shared_index()), GLOBAL_TAG, 0));
}

}  // namespace
