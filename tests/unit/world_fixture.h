// A fresh, empty world for unit tests: default header with small areas,
// symbol 0 (NIL) as the only symbol, an empty static prefix.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <csetjmp>
#include <cstring>

#include "builtins/table.h"
#include "image/startup.h"
#include "object/error_hook.h"
#include "object/gc.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "threads/safepoint.h"
#include "threads/table.h"

// Records at the top of the built-in table that tests borrow for routines
// of their own, clear of the built-ins that take the spare records from
// the bottom.  A test saves what it borrows and puts it back.
constexpr uint32_t BORROWED_A = BI_CAPACITY - 1;
constexpr uint32_t BORROWED_B = BI_CAPACITY - 2;
constexpr uint32_t BORROWED_C = BI_CAPACITY - 3;

struct WorldParams {
  uint32_t cons_cells = 4096;
  uint32_t heap_bytes = 65536;
  uint16_t symbol_capacity = 1000;
  uint32_t stack_n = 1024;
};

// Frees any world left by an earlier test and builds a new one.
inline void test_world_init(const WorldParams& p = WorldParams()) {
  zorva_register_hooks();
  window_init();
  mem_free_areas(false, true);
  mem_default_header();
  store_u32(zvm.header + HDR_STACK_N, p.stack_n);
  store_u16(zvm.header + HDR_SYM_CAP, p.symbol_capacity);
  store_u32(zvm.header + HDR_HEAP_CAP, p.heap_bytes);
  store_u32(zvm.header + HDR_INIT_CONS, p.cons_cells);
  ASSERT_EQ(mem_allocate_areas(0, true), 0);
  bi_init_counts();
  mem_post_load(zvm.cons_first, 1);
  zvm.heap_static = 0;
  zvm.msg_area = 0;
  for (uint32_t i = 0; i < ROOT_COUNT; i++) zvm.roots[i] = NIL;
  for (uint32_t i = 0; i < zvm.hash_size; i++) zvm.hash[i] = HASH_SLOT_EMPTY;

  // Entry 0 is NIL and the template every new symbol is copied from.
  zvm.sym_count = 1;
  zvm.first_collectable = 1;
  store_u16(zvm.memblock + MB_FIRST_COLLECTABLE, 1);
  Value name = mem_make_string("NIL", 3);
  sym_set_flags(0, SYMF_INTERNED);
  sym_set_name(0, name);
  sym_set_value(0, NO_VALUE);
  sym_set_function(0, NIL);
  sym_set_plist(0, NIL);
  sym_rehash();
}

// A world with room for a few Lisp threads, the first thread's record
// made; every thread a test starts has ended by its end.
class ThreadWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    WorldParams p;
    p.cons_cells = 60000;
    p.heap_bytes = 1 << 20;
    test_world_init(p);
    ASSERT_TRUE(threads_init_first());
  }
  void TearDown() override {
    EXPECT_EQ(thread_active_count(), 1u);
    threads_end_first();
    zv_gc_stress = 0;
  }
};

// The first thread waits for the others as a Lisp thread must: in a
// region, so that their collections need not wait for it.
inline void wait_for_the_others() {
  safe_region_enter();
  while (!thread_wait_active_at_most(1, 50)) {
  }
  safe_region_leave();
}

// Starts n Lisp threads running body(data).
inline void start_lisp_threads(uint32_t n, void (*body)(void*), void* data) {
  for (uint32_t t = 0; t < n; t++) {
    uint32_t serial = 0;
    ASSERT_NE(thread_start(body, data, 256 * 1024, NIL, nullptr, &serial), 0u);
  }
}

// Until `done` counts n, the first thread calls `meanwhile` (collections
// of its own) between short waits; then it waits for the threads to end.
template <typename Meanwhile>
void work_until_done(const std::atomic<uint32_t>& done, uint32_t n, Meanwhile meanwhile) {
  while (done.load() < n) {
    meanwhile();
    safe_region_enter();
    thread_wait_active_at_most(1, 2);
    safe_region_leave();
  }
  wait_for_the_others();
}

// Walks the heap object by object: the number of Value-holding objects
// that do not start 4-aligned (or 1000000 when the walk misses the fill).
inline uint32_t unaligned_value_objects() {
  uint32_t at = 8, bad = 0;
  for (; at < zvm.heap_fill; at += object_size_at(zvm.heap_base + at))
    if ((zvm.heap_base[at] & HT_HOLDS_VALUES) && at % 4) bad++;
  return at == zvm.heap_fill ? bad : 1000000;
}

// Catches errors signalled through the error hooks: the code and first
// object are recorded and control returns to the TRAP_ERROR point.
struct ErrorTrap {
  static inline std::jmp_buf* target = nullptr;
  static inline uint32_t code = 0;
  static inline Value object = NIL;
  static inline int warnings = 0;
  static inline uint32_t warning_code = 0;

  static Value on_error(uint32_t c, const Value* objs) {
    code = c;
    object = err_object_count(c) ? objs[0] : NIL;
    if (target) std::longjmp(*target, 1);
    ADD_FAILURE() << "unexpected error " << c;
    return NIL;
  }
  static void on_warn(uint32_t c, const Value*) {
    warnings++;
    warning_code = c;
  }
  static void install() {
    code = 0;
    object = NIL;
    warnings = 0;
    warning_code = 0;
    zv_error_fn = on_error;
    zv_warn_fn = on_warn;
    zv_cerror_fn = on_warn;
  }
};

// Runs `body`; evaluates to the error code it signalled, or 0.  The root
// stack is restored as a non-local exit would.
#define TRAP_ERROR(body)                                  \
  ([&]() -> uint32_t {                                    \
    std::jmp_buf jb;                                      \
    uint32_t roots = zvts->root_count;                    \
    ErrorTrap::install();                                 \
    ErrorTrap::target = &jb;                              \
    if (setjmp(jb) == 0) {                                \
      body;                                               \
      ErrorTrap::target = nullptr;                        \
      return 0;                                           \
    }                                                     \
    ErrorTrap::target = nullptr;                          \
    zvts->root_count = roots;                             \
    return ErrorTrap::code;                               \
  }())
