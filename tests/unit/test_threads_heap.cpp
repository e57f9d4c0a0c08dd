// The vector heap's top shared by threads: an object grown or shrunk in
// place at the top of the heap while another thread allocates behind it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "object/memory.h"
#include "text/strings.h"
#include "world_fixture.h"

namespace {

class ThreadsHeap : public ThreadWorld {};

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
  auto letter = [mark](uint32_t i) { return uint8_t('a' + (uint32_t(mark) / 1000 + i) % 26); };
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
    for (uint32_t i = 0; i < 30; i++) v = str_append_char(v, letter(i));
    v = str_resize(v, 5);
    for (uint32_t i = 0; i < 5; i++)
      if (string_bytes(v)[i] != letter(i)) r->bad.fetch_add(1);
  }
  root_pop();
  r->done.fetch_add(1);
}

TEST_F(ThreadsHeap, ObjectsResizedAtTheTopKeepTheirContentsWhileAnotherThreadAllocates) {
  Resizer r;
  start_lisp_threads(2, resize_and_check, &r);
  wait_for_the_others();
  EXPECT_EQ(r.done.load(), 2u);
  EXPECT_EQ(r.bad.load(), 0u);
  gc_full_collection();  // the heap still walks from end to end
}

}  // namespace
