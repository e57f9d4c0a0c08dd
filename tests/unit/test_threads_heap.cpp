// The vector heap's top shared by threads: an object grown or shrunk in
// place at the top of the heap while another thread allocates behind it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "object/memory.h"
#include "object/thread.h"
#include "text/strings.h"
#include "threads/safepoint.h"
#include "threads/table.h"
#include "world_fixture.h"

namespace {

[[noreturn]] Value die_on_error(uint32_t code, const Value*) {
  std::fprintf(stderr, "error %u in thread %u\n", code, zvts->thread_number);
  std::abort();
}

struct Resizer {
  std::atomic<uint32_t> ready{0}, bad{0}, done{0};
};

// A vector of this thread's own fixnums resized up and down (in place
// whenever it is the heap's last object), then a string grown by appends
// and cut back: each keeps its contents whatever the other thread
// allocates meanwhile.
void resize_and_check(void* p) {
  Resizer* r = static_cast<Resizer*>(p);
  r->ready.fetch_add(1);
  while (r->ready.load() < 2) safe_point();  // both start together
  int32_t mark = int32_t(zvts->thread_number) * 1000;
  Value v = NIL;
  root_push(&v);
  for (int round = 0; round < 2000; round++) {
    v = mem_alloc_vector(2);
    heap_set_word(v, 0, make_fixnum(mark));
    heap_set_word(v, 1, make_fixnum(mark + 1));
    for (uint32_t n : {8u, 40u, 3u, 24u, 2u}) {
      uint32_t k = heap_length(v);
      v = mem_resize_vector(v, n);
      for (uint32_t i = k; i < n; i++) heap_set_word(v, i, make_fixnum(mark + int32_t(i)));
      for (uint32_t i = 0; i < n; i++)
        if (heap_word(v, i) != make_fixnum(mark + int32_t(i))) r->bad.fetch_add(1);
    }
    v = str_make(0);
    for (uint32_t i = 0; i < 30; i++) v = str_append_char(v, 'a' + (mark / 1000 + i) % 26);
    v = str_resize(v, 5);
    for (uint32_t i = 0; i < 5; i++)
      if (string_bytes(v)[i] != 'a' + (mark / 1000 + i) % 26) r->bad.fetch_add(1);
  }
  root_pop();
  r->done.fetch_add(1);
}

TEST(ThreadsHeap, ObjectsResizedAtTheTopKeepTheirContentsWhileAnotherThreadAllocates) {
  WorldParams p;
  p.cons_cells = 20000;
  p.heap_bytes = 1 << 20;
  test_world_init(p);
  Value (*saved_error)(uint32_t, const Value*) = zv_error_fn;
  zv_error_fn = die_on_error;
  ASSERT_TRUE(threads_init_first());
  Resizer r;
  for (int k = 0; k < 2; k++) {
    uint32_t serial = 0;
    ASSERT_NE(thread_start(resize_and_check, &r, 256 * 1024, NIL, nullptr, &serial), 0u);
  }
  safe_region_enter();
  while (!thread_wait_active_at_most(1, 50)) {
  }
  safe_region_leave();
  threads_end_first();
  zv_error_fn = saved_error;
  EXPECT_EQ(r.done.load(), 2u);
  EXPECT_EQ(r.bad.load(), 0u);
  // The heap still walks from end to end.
  gc_full_collection();
}

}  // namespace
