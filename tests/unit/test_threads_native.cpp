// The thread layer's native primitives: mutual exclusion, recursive
// locking, waiting with and without a time limit, and threads started on
// stacks of a given size.
#include <gtest/gtest.h>

#include <time.h>

#include <csignal>
#include <cstdint>
#include <vector>

#include "threads/native.h"

namespace {

uint64_t now_ms() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

struct Counter {
  NativeMutex lock;
  uint64_t value = 0;
  int rounds = 0;
};

void* count_up(void* p) {
  Counter* c = static_cast<Counter*>(p);
  for (int i = 0; i < c->rounds; i++) {
    native_mutex_lock(&c->lock);
    c->value++;
    native_mutex_unlock(&c->lock);
  }
  return nullptr;
}

TEST(NativeThreads, MutexKeepsEveryIncrement) {
  Counter c;
  ASSERT_TRUE(native_mutex_init(&c.lock, false));
  c.rounds = 20000;
  NativeThread t[4];
  for (auto& th : t) ASSERT_TRUE(native_thread_start(&th, count_up, &c, 0));
  for (auto& th : t) native_thread_join(&th);
  EXPECT_EQ(c.value, 4u * 20000u);
  native_mutex_destroy(&c.lock);
}

void* try_from_other(void* p) {
  NativeMutex* m = static_cast<NativeMutex*>(p);
  if (!native_mutex_try_lock(m)) return reinterpret_cast<void*>(1);
  native_mutex_unlock(m);
  return reinterpret_cast<void*>(2);
}

// 1 when another thread could not take m, 2 when it could.
intptr_t other_thread_tries(NativeMutex* m) {
  NativeThread t;
  EXPECT_TRUE(native_thread_start(&t, try_from_other, m, 0));
  return reinterpret_cast<intptr_t>(native_thread_join(&t));
}

TEST(NativeThreads, TryLockNeverWaitsAndRecursiveLocksNest) {
  NativeMutex plain;
  ASSERT_TRUE(native_mutex_init(&plain, false));
  native_mutex_lock(&plain);
  EXPECT_EQ(other_thread_tries(&plain), 1);
  native_mutex_unlock(&plain);
  EXPECT_EQ(other_thread_tries(&plain), 2);
  native_mutex_destroy(&plain);

  // Held twice by its owner: one release still keeps it.
  NativeMutex rec;
  ASSERT_TRUE(native_mutex_init(&rec, true));
  native_mutex_lock(&rec);
  EXPECT_TRUE(native_mutex_try_lock(&rec));
  EXPECT_EQ(other_thread_tries(&rec), 1);
  native_mutex_unlock(&rec);
  EXPECT_EQ(other_thread_tries(&rec), 1);
  native_mutex_unlock(&rec);
  EXPECT_EQ(other_thread_tries(&rec), 2);
  native_mutex_destroy(&rec);
}

// A bounded queue over one mutex and two conditions, the shape of the
// Lisp-level producer and consumer.
struct Queue {
  NativeMutex lock;
  NativeCondition not_empty, not_full;
  uint32_t items[64];
  uint32_t head = 0, count = 0;
  uint32_t per_producer = 0;
  uint32_t next_producer = 0;  // under lock: hands out producer numbers
  std::vector<uint8_t> seen;   // under lock: how often each item came out
  uint32_t taken = 0, total = 0;
};

void* produce(void* p) {
  Queue* q = static_cast<Queue*>(p);
  native_mutex_lock(&q->lock);
  uint32_t base = q->next_producer++ * q->per_producer;
  native_mutex_unlock(&q->lock);
  for (uint32_t i = 0; i < q->per_producer; i++) {
    native_mutex_lock(&q->lock);
    while (q->count == 64) native_condition_wait(&q->not_full, &q->lock);
    q->items[(q->head + q->count) % 64] = base + i;
    q->count++;
    native_condition_notify_one(&q->not_empty);
    native_mutex_unlock(&q->lock);
  }
  return nullptr;
}

void* consume(void* p) {
  Queue* q = static_cast<Queue*>(p);
  for (;;) {
    native_mutex_lock(&q->lock);
    while (q->count == 0 && q->taken < q->total) native_condition_wait(&q->not_empty, &q->lock);
    if (q->taken == q->total) {
      native_mutex_unlock(&q->lock);
      return nullptr;
    }
    uint32_t item = q->items[q->head];
    q->head = (q->head + 1) % 64;
    q->count--;
    q->taken++;
    q->seen[item]++;
    // The last item wakes every consumer still waiting, so they can end.
    if (q->taken == q->total) native_condition_notify_all(&q->not_empty);
    native_condition_notify_one(&q->not_full);
    native_mutex_unlock(&q->lock);
  }
}

TEST(NativeThreads, QueueMovesEveryItemExactlyOnce) {
  Queue q;
  ASSERT_TRUE(native_mutex_init(&q.lock, false));
  ASSERT_TRUE(native_condition_init(&q.not_empty));
  ASSERT_TRUE(native_condition_init(&q.not_full));
  q.per_producer = 50000;
  q.total = 2 * q.per_producer;
  q.seen.assign(q.total, 0);
  NativeThread producers[2], consumers[3];
  for (auto& t : consumers) ASSERT_TRUE(native_thread_start(&t, consume, &q, 0));
  for (auto& t : producers) ASSERT_TRUE(native_thread_start(&t, produce, &q, 0));
  for (auto& t : producers) native_thread_join(&t);
  for (auto& t : consumers) native_thread_join(&t);
  EXPECT_EQ(q.taken, q.total);
  EXPECT_EQ(q.count, 0u);
  uint32_t wrong = 0;
  for (uint8_t s : q.seen) wrong += s != 1;
  EXPECT_EQ(wrong, 0u);
  native_condition_destroy(&q.not_full);
  native_condition_destroy(&q.not_empty);
  native_mutex_destroy(&q.lock);
}

struct Flag {
  NativeMutex lock;
  NativeCondition changed;
  bool set = false;
};

void* set_flag(void* p) {
  Flag* f = static_cast<Flag*>(p);
  native_mutex_lock(&f->lock);
  f->set = true;
  native_condition_notify_all(&f->changed);
  native_mutex_unlock(&f->lock);
  return nullptr;
}

TEST(NativeThreads, TimedWaitEndsByTimeOrByNotification) {
  Flag f;
  ASSERT_TRUE(native_mutex_init(&f.lock, false));
  ASSERT_TRUE(native_condition_init(&f.changed));
  // Nobody notifies: the wait ends when its time is up, not before.
  native_mutex_lock(&f.lock);
  uint64_t start = now_ms();
  bool notified = false;
  while (!f.set) {
    uint64_t spent = now_ms() - start;
    if (spent >= 60) break;
    notified = native_condition_wait_ms(&f.changed, &f.lock, 60 - spent);
  }
  EXPECT_FALSE(notified);
  EXPECT_GE(now_ms() - start, 60u);
  native_mutex_unlock(&f.lock);

  // Notified: the flag is seen well before a long limit.
  NativeThread t;
  ASSERT_TRUE(native_thread_start(&t, set_flag, &f, 0));
  native_mutex_lock(&f.lock);
  start = now_ms();
  while (!f.set && now_ms() - start < 60000) native_condition_wait_ms(&f.changed, &f.lock, 60000);
  EXPECT_TRUE(f.set);
  native_mutex_unlock(&f.lock);
  native_thread_join(&t);
  native_condition_destroy(&f.changed);
  native_mutex_destroy(&f.lock);
}

struct StackProbe {
  size_t bytes = 0;
  bool sigint_blocked = false;
};

void* probe_stack(void* p) {
  StackProbe* s = static_cast<StackProbe*>(p);
  s->bytes = native_thread_stack_bytes();
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  s->sigint_blocked = sigismember(&mask, SIGINT) == 1;
  // Use the depth that was asked for, so that a short stack would fault.
  volatile char deep[3 * 1024 * 1024];
  deep[0] = 1;
  deep[sizeof deep - 1] = 2;
  return reinterpret_cast<void*>(intptr_t(deep[0] + deep[sizeof deep - 1]));
}

TEST(NativeThreads, ThreadsGetTheStackAskedForAndLeaveSignalsToTheFirst) {
  // An odd size is rounded up to whole pages, never down.
  size_t asked = 8 * 1024 * 1024 + 123;
  StackProbe s;
  NativeThread t;
  ASSERT_TRUE(native_thread_start(&t, probe_stack, &s, asked));
  EXPECT_EQ(reinterpret_cast<intptr_t>(native_thread_join(&t)), 3);
  EXPECT_GE(s.bytes, asked);
  EXPECT_TRUE(s.sigint_blocked);

  // The caller's own mask is as it was.
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  EXPECT_FALSE(sigismember(&mask, SIGINT) == 1);

  // A stack no system can give is refused; nothing runs.
  StackProbe none;
  NativeThread u;
  EXPECT_FALSE(native_thread_start(&u, probe_stack, &none, SIZE_MAX - 16));
  EXPECT_EQ(none.bytes, 0u);
}

}  // namespace
