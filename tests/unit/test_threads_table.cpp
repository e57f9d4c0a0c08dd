// The thread table: numbers, serials, the limit, and the lists under
// concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "threads/native.h"
#include "threads/table.h"

namespace {

uint32_t live_count() {
  uint32_t n = 0;
  thread_for_each_live([](uint32_t, void* d) { ++*static_cast<uint32_t*>(d); }, &n);
  return n;
}

TEST(ThreadTable, NumbersSerialsAndTheLimit) {
  ASSERT_TRUE(thread_table_init());
  EXPECT_EQ(thread_active_count(), 1u);
  EXPECT_EQ(thread_record(0)->serial, 256u);
  EXPECT_EQ(thread_number_of_serial(256), 0u);

  uint32_t serial = 0;
  EXPECT_EQ(thread_record_take(&serial), 1u);
  EXPECT_EQ(serial, 257u);
  EXPECT_EQ(thread_record_take(&serial), 2u);
  EXPECT_EQ(serial, 258u);

  // The first thread and 2046 others; the next is refused, and only that.
  uint32_t taken = 2;
  while (thread_record_take(&serial)) taken++;
  EXPECT_EQ(taken, 2046u);
  EXPECT_EQ(thread_active_count(), THREAD_LIMIT);
  EXPECT_EQ(live_count(), THREAD_LIMIT);
  EXPECT_EQ(thread_record_take(&serial), 0u);

  // A freed number is used again; serials never are.
  thread_record_release(5);
  EXPECT_EQ(thread_number_of_serial(257 + 4), THREAD_RECORDS);
  EXPECT_EQ(thread_record_take(&serial), 5u);
  EXPECT_EQ(serial, 257u + 2046u);
  EXPECT_EQ(thread_number_of_serial(serial), 5u);
  EXPECT_EQ(thread_number_of_serial(258), 2u);
}

TEST(ThreadTable, ReleasingTwiceOrTheFirstThreadChangesNothing) {
  ASSERT_TRUE(thread_table_init());
  uint32_t serial;
  uint32_t a = thread_record_take(&serial);
  thread_record_release(a);
  thread_record_release(a);
  thread_record_release(0);
  EXPECT_EQ(thread_active_count(), 1u);
  EXPECT_TRUE(thread_record(0)->live);
  // Were the free list corrupted, the same number would come out twice.
  uint32_t b = thread_record_take(&serial), c = thread_record_take(&serial);
  EXPECT_NE(b, c);
  EXPECT_NE(b, 0u);
  EXPECT_NE(c, 0u);
  EXPECT_EQ(live_count(), 3u);
}

// Threads starting and ending at once: no number is handed to two live
// threads, and the table comes back to the first thread alone.
struct Churn {
  std::atomic<int>* owner;  // per number: who holds it now (0 = nobody)
  int id;
  uint32_t clashes = 0;
};

void* take_and_release(void* p) {
  Churn* c = static_cast<Churn*>(p);
  for (int i = 0; i < 5000; i++) {
    uint32_t serial;
    uint32_t n = thread_record_take(&serial);
    if (!n) continue;
    int none = 0;
    if (!c->owner[n].compare_exchange_strong(none, c->id)) c->clashes++;
    if (thread_number_of_serial(serial) != n) c->clashes++;
    c->owner[n].store(0);
    thread_record_release(n);
  }
  return nullptr;
}

TEST(ThreadTable, ConcurrentStartsAndEndsKeepTheListsWhole) {
  ASSERT_TRUE(thread_table_init());
  std::vector<std::atomic<int>> owner(THREAD_RECORDS);
  for (auto& o : owner) o.store(0);
  Churn churn[4];
  NativeThread t[4];
  for (int i = 0; i < 4; i++) {
    churn[i].owner = owner.data();
    churn[i].id = i + 1;
    ASSERT_TRUE(native_thread_start(&t[i], take_and_release, &churn[i], 0));
  }
  for (auto& th : t) native_thread_join(&th);
  for (auto& c : churn) EXPECT_EQ(c.clashes, 0u);
  EXPECT_EQ(thread_active_count(), 1u);
  EXPECT_EQ(live_count(), 1u);
}

}  // namespace
