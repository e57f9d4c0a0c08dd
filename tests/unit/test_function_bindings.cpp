// Function bindings per thread: once bindings are deep, the kernel's
// LABELS binds in the thread's function slots and the symbol entry keeps
// the global definition, which a thread with no binding (here a second
// thread state without slots) calls; the slots follow compaction, survive
// the switch between the two ways, and image saving writes the global
// definitions.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "bindings_fixture.h"
#include "builtins/numbers.h"
#include "eval/stack.h"
#include "image/image_file.h"
#include "test_eval_fixture.h"
#include "threads/safepoint.h"
#include "threads/table.h"
#include "world_fixture.h"

using namespace evaltest;
using namespace bindingtest;

namespace {

using Probe = bindingtest::Probe<BindingCell::FUNCTION>;

bool no_function_bindings() {
  const Value* t = cell_slots(zvts, BindingCell::FUNCTION);
  for (uint32_t i = 0; t && i < zvm.sym_count; i++)
    if (t[i] != NO_BINDING) return false;
  return true;
}

class FunctionBindings : public ProbingTest<BindingCell::FUNCTION> {
 protected:
  void SetUp() override {
    ProbingTest::SetUp();
    defun("(helper () 'global)");
    defun("(call-helper () (helper))");
  }
};

TEST_F(FunctionBindings, LabelsBindsInTheThreadsSlotAndUnwindsByThrowAndError) {
  EXPECT_EQ(show(ev("(labels ((helper () 'local)) (t-probe 'helper) (call-helper))")), "LOCAL");
  EXPECT_EQ(show(Probe::global), "(LAMBDA NIL (QUOTE GLOBAL))");
  EXPECT_EQ(show(Probe::slot), "(LAMBDA NIL (QUOTE LOCAL))");
  EXPECT_EQ(Probe::other, Probe::global);  // invisible elsewhere
  EXPECT_TRUE(no_function_bindings());

  // An assignment under the binding changes the binding only.
  EXPECT_EQ(show(ev("(labels ((helper () 'local))"
                    "  (%set-symbol-function 'helper (t-car '((lambda () 'set))))"
                    "  (t-probe 'helper) (call-helper))")),
            "SET");
  EXPECT_EQ(Probe::other, Probe::global);
  EXPECT_EQ(show(ev("(call-helper)")), "GLOBAL");

  // Nested bindings, left by a throw and by an error.
  EXPECT_EQ(show(ev("(labels ((helper () 'outer))"
                    "  (catch 'out (labels ((helper () 'inner)) (throw 'out (call-helper))))"
                    "  (t-probe 'helper))")),
            "(LAMBDA NIL (QUOTE OUTER))");
  EXPECT_EQ(catching("(labels ((helper () 'err)) (t-error (call-helper)))"), E_WRONG_TYPE);
  EXPECT_TRUE(no_function_bindings());
  EXPECT_EQ(show(ev("(call-helper)")), "GLOBAL");
}

// A symbol bound by LABELS alone (no global definition) moves down the
// table when older ones die; its slot goes with it and the binding's
// function, held by nothing else, survives the collections.
TEST_F(FunctionBindings, CompactionMovesBoundSymbolsWithTheirSlots) {
  doomed(T);
  uint32_t before = idx("ONLY-BOUND");
  sym_set_value(before, T);  // kept while the doomed die
  doomed(NO_VALUE);
  EXPECT_EQ(show(ev("(labels ((only-bound () (t-cons 'kept 'alive)))"
                    "  (t-collect) (t-probe 'only-bound) (only-bound))")),
            "(KEPT . ALIVE)");
  uint32_t after = idx("ONLY-BOUND");
  EXPECT_LT(after, before);
  EXPECT_EQ(Probe::global, NIL);
  EXPECT_EQ(sym_global_function(after), NIL);
  EXPECT_TRUE(no_function_bindings());
}

// Function bindings made shallow keep their functions when they become
// deep in the middle of their extent, and again on the way back.
TEST_F(FunctionBindings, BindingsKeepTheirFunctionsAcrossTheSwitch) {
  specials_make_shallow(zvts);
  uint32_t h = idx("helper");
  Value global = sym_function(h);
  uint16_t mark = zvts->septr;
  bind_function(h, make_fixnum(1));
  uint16_t inner = zvts->septr;
  bind_function(h, make_fixnum(2));
  specials_make_deep(zvts);
  EXPECT_EQ(sym_global_function(h), global);
  EXPECT_EQ(sym_function(h), make_fixnum(2));
  unbind_functions_to(inner);
  EXPECT_EQ(sym_function(h), make_fixnum(1));
  specials_make_shallow(zvts);
  EXPECT_EQ(sym_global_function(h), make_fixnum(1));
  unbind_functions_to(mark);
  pop_to(mark);
  EXPECT_EQ(sym_function(h), global);
}

// A world saved from inside a LABELS (deep) gets the global definition in
// the file's symbol record, not the binding nor the binding entry's
// NO_BINDING.
TEST_F(FunctionBindings, ImageSavedInsideABindingHasTheGlobalDefinition) {
  std::string path = testing::TempDir() + "function-bindings.ROL";
  uint32_t h = idx("helper");
  uint16_t mark = zvts->septr;
  bind_function(h, make_fixnum(7));
  ASSERT_EQ(img_write_file(path.c_str()), 0);
  unbind_functions_to(mark);
  pop_to(mark);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> b(1 << 20);
  b.resize(std::fread(b.data(), 1, b.size(), f));
  std::fclose(f);
  std::remove(path.c_str());
  uint32_t symbols = IMG_FIXED + 6 * load_u32(zvm.memblock + MB_BUILTIN_COUNT) + 4 * ROOT_COUNT;
  ASSERT_LE(symbols + IMG_SYM_RECORD * (h + 1), b.size());
  EXPECT_EQ(load_u32(b.data() + symbols + IMG_SYM_RECORD * h + IMG_SYM_FUNCTION),
            sym_global_function(h));
  EXPECT_EQ(show(sym_function(h)), "(LAMBDA NIL (QUOTE GLOBAL))");
}

// ---------------------------------------------------------------------------
// Threads started from C++ bind one symbol's function cell each to lists of
// their own, held by nothing but their slots, while the first thread
// collects.

uint32_t shared_index() { return symbol_index(sym_intern_cstr("SHARED-FN")); }

void bind_apart(void* p) {
  Apart* a = static_cast<Apart*>(p);
  uint32_t me = a->next.fetch_add(1);
  for (uint32_t r = 0; r < a->rounds; r++) {
    uint16_t mark = zvts->septr;
    bind_function(shared_index(), tagged_list(me, r));
    for (int k = 0; k < 40; k++) tagged_list(0, 0);  // garbage: collections
    if (!is_tagged_list(sym_function(shared_index()), me, r)) a->bad.fetch_add(1);
    unbind_functions_to(mark);
    pop_to(mark);
    if (!is_tagged_list(sym_function(shared_index()), 0, 1)) a->bad.fetch_add(1);
  }
  bind_function(shared_index(), T);  // dropped with the thread
  a->done.fetch_add(1);
}

class FunctionBindingsInThreads : public BindingThreads {};

TEST_F(FunctionBindingsInThreads, EachThreadCallsOnlyItsOwnBinding) {
  sym_set_function(shared_index(), tagged_list(0, 1));
  uint16_t mark = zvts->septr;
  bind_function(shared_index(), tagged_list(9, 9));  // shallow, deep from the start on
  Apart a;
  a.rounds = 40;
  const uint32_t threads = 2;
  start_lisp_threads(threads, bind_apart, &a);
  work_until_done(a.done, threads, [&] {
    gc_full_collection();
    EXPECT_TRUE(is_tagged_list(sym_function(shared_index()), 9, 9));
  });
  EXPECT_EQ(a.bad.load(), 0u);
  EXPECT_TRUE(is_tagged_list(sym_global_function(shared_index()), 0, 1));
  unbind_functions_to(mark);
  pop_to(mark);
  EXPECT_TRUE(is_tagged_list(sym_function(shared_index()), 0, 1));
}

// The generator's steps from two threads are successive states: the two
// draw together exactly what one draws alone.
TEST(RandomInThreads, TwoThreadsDrawSuccessiveStates) {
  constexpr int N = 200000;
  num_random_seed(99);
  std::vector<uint32_t> alone(2 * N), both;
  for (uint32_t& x : alone) x = num_random_draw();
  num_random_seed(99);
  std::vector<uint32_t> a(N), b(N);
  std::thread t([&] {
    for (uint32_t& x : b) x = num_random_draw();
  });
  for (uint32_t& x : a) x = num_random_draw();
  t.join();
  both = a;
  both.insert(both.end(), b.begin(), b.end());
  std::sort(alone.begin(), alone.end());
  std::sort(both.begin(), both.end());
  EXPECT_TRUE(alone == both);
}

}  // namespace
