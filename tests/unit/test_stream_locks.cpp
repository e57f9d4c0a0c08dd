// Stream and console locks: whole operations of two threads never mix,
// holds nest, the console's locks yield to a break loop, and a throw gives
// up what was taken after its target.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "eval/context.h"
#include "eval/io_locks.h"
#include "eval/stack.h"
#include "genesis/world.h"
#include "io/console.h"
#include "io/stream.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/printer.h"
#include "threads/safepoint.h"
#include "threads/table.h"
#include "world_fixture.h"

namespace {

enum { INPUT, OUTPUT, INTERPRETER, KEYBOARD };

// A native thread with a thread state of its own (thread number n), as
// the console's locks tell threads apart by number.
struct Actor {
  ThreadState state;
  std::atomic<bool> done{false};
  std::thread thread;
  Actor(uint32_t n, std::function<void()> body) {
    state.thread_number = n;
    thread = std::thread([this, body] {
      zvts = &state;
      body();
      done = true;
    });
  }
  // Whether the body ends within ms milliseconds.
  bool ends_within(int ms) {
    for (int i = 0; i < ms && !done; i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done;
  }
  ~Actor() { thread.join(); }
};

TEST(StreamLocks, LinesOfTwoThreadsNeverMix) {
  StreamLock lock;
  ASSERT_TRUE(stream_lock_init(&lock));
  std::string text;  // written only under the lock
  auto writer = [&](char c) {
    return [&, c] {
      for (int line = 0; line < 400; line++) {
        uint32_t mark = io_holds_mark();
        hold_stream_lock(&lock);
        for (int i = 0; i < 30; i++) {
          text += c;
          if (i % 7 == 0) std::this_thread::yield();
        }
        hold_stream_lock(&lock);  // a nested operation on the same stream
        text += '\n';
        io_holds_release(mark);
        EXPECT_FALSE(stream_lock_held(&lock));
      }
    };
  };
  {
    Actor a(1, writer('a')), b(2, writer('b'));
  }
  size_t lines = 0, start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1, lines++) {
    std::string line = text.substr(start, nl - start);
    ASSERT_EQ(line, std::string(30, line[0])) << "line " << lines;
  }
  EXPECT_EQ(lines, 800u);
  EXPECT_EQ(lock.owner.load(), nullptr);
  stream_lock_destroy(&lock);
}

// A native thread with a thread state but no Lisp stacks waits longer
// than a slice for a stream lock while an interrupt is pending: it waits
// on, and leaves the interrupt to a Lisp thread (running it would push a
// root on a stack it does not have).
TEST(StreamLocks, AWaiterWithoutLispStacksLeavesInterruptsAlone) {
  StreamLock lock;
  ASSERT_TRUE(stream_lock_init(&lock));
  std::atomic<int> step{0};
  Actor holder(1, [&] {
    uint32_t mark = io_holds_mark();
    hold_stream_lock(&lock);
    step = 1;
    while (step < 2) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    io_holds_release(mark);
  });
  while (step < 1) std::this_thread::yield();
  interrupt_request(PENDING_CONSOLE);
  {
    Actor waiter(2, [&] {
      uint32_t mark = io_holds_mark();
      step = 2;
      EXPECT_TRUE(hold_stream_lock(&lock));
      io_holds_release(mark);
    });
  }
  EXPECT_TRUE(interrupt_take(PENDING_CONSOLE));
  EXPECT_EQ(lock.owner.load(), nullptr);
  stream_lock_destroy(&lock);
}

TEST(StreamLocks, ConsoleLocksYieldToABreakLoop) {
  // Thread 1 enters a break loop while thread 2 is in the middle of an
  // output operation; thread 3 then wants output.
  std::atomic<int> step{0};
  auto wait_step = [&](int s) {
    while (step < s) std::this_thread::yield();
  };
  Actor two(2, [&] {
    uint32_t mark = io_holds_mark();
    hold_console_output();
    hold_console_input();
    step = 1;
    wait_step(2);
    // Further levels of what it holds are never refused: the break loop
    // may be waiting for this very operation to end.
    hold_console_output();
    EXPECT_FALSE(console_keyboard_try());
    EXPECT_FALSE(console_takes_keyboard_interrupt());
    io_holds_release(mark);
    step = 3;
  });
  wait_step(1);
  EXPECT_EQ(console_lock_owner(INPUT), 2);
  Actor one(1, [&] {
    uint32_t mark = io_holds_mark();
    hold_interpreter();
    EXPECT_TRUE(console_takes_keyboard_interrupt());
    EXPECT_TRUE(console_keyboard_try());
    console_keyboard_release();
    hold_console_input();  // the break loop reads although thread 2 holds the input
    step = 2;
    wait_step(3);
    hold_console_output();
    wait_step(4);
    io_holds_release(mark);
    EXPECT_EQ(zvts->lock_depth[INPUT] + zvts->lock_depth[OUTPUT] + zvts->lock_depth[INTERPRETER], 0u);
  });
  EXPECT_TRUE(two.ends_within(2000));
  EXPECT_EQ(console_lock_owner(INTERPRETER), 1);
  std::atomic<bool> three_printed{false};
  Actor three(3, [&] {
    uint32_t mark = io_holds_mark();
    hold_console_output();
    three_printed = true;
    EXPECT_EQ(console_lock_owner(INTERPRETER), -1);
    io_holds_release(mark);
  });
  EXPECT_FALSE(three.ends_within(150));  // blocked while the break loop runs
  EXPECT_FALSE(three_printed);
  step = 4;
  EXPECT_TRUE(three.ends_within(2000));
  EXPECT_TRUE(one.ends_within(2000));
  for (int which = INPUT; which <= KEYBOARD; which++) EXPECT_EQ(console_lock_owner(which), -1);
}

class StreamLocksInWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gen_build_world("ZORVA.ROL")) << gen_error();
    roots_ = zvts->root_count;
    gc_stress_init_from_env();
  }
  void TearDown() override {
    zv_gc_stress = 0;
    zvts->root_count = roots_;
  }
  uint32_t roots_ = 0;
};

TEST_F(StreamLocksInWorld, EachKindOfStreamTakesItsLocks) {
  Value out = make_string_output_stream(), in = NIL, syn = NIL, echo = NIL;
  root_push(&out);
  root_push(&in);
  root_push(&syn);
  root_push(&echo);
  in = make_string_input_stream(out, 0, 0);
  Value sym = sym_intern_cstr("LOCKED-OUT");
  sym_set_value(symbol_index(sym), out);
  syn = make_composite_stream(COMPOSITE_SYNONYM, sym, NIL);
  echo = make_composite_stream(COMPOSITE_ECHO, in, syn);
  // A synonym reaches the string stream's lock; an echo stream of two
  // string streams takes the shared lock once.
  uint32_t mark = stream_hold(syn, true);
  EXPECT_TRUE(stream_lock_held(stream_lock_shared()));
  EXPECT_EQ(io_holds_mark(), mark + 1);
  stream_hold(echo, false);
  EXPECT_EQ(io_holds_mark(), mark + 2);
  stream_unhold(mark);
  EXPECT_FALSE(stream_lock_held(stream_lock_shared()));
  // A window stream takes the console's output lock for output.
  console_restart(CONSOLE_MEMORY);
  Value win = make_window_stream(NIL, console_window(WIN_TERMINAL));
  mark = stream_hold(win, true);
  EXPECT_EQ(console_lock_owner(OUTPUT), int32_t(zvts->thread_number));
  EXPECT_EQ(console_lock_owner(INPUT), -1);
  stream_unhold(mark);
  EXPECT_EQ(console_lock_owner(OUTPUT), -1);
  root_pop(4);
}

TEST_F(StreamLocksInWorld, AThrowGivesUpWhatWasTakenAfterItsTarget) {
  StreamLock* shared = stream_lock_shared();
  uint32_t outer = io_holds_mark();
  hold_stream_lock(shared);  // an operation under way outside the context
  Context cx;
  context_push(&cx, CX_ERRCATCH);
  int code = setjmp(cx.resume);
  if (code == 0) {
    hold_stream_lock(shared);
    hold_console_output();
    hold_interpreter();
    push_anon(NIL);  // deeper on the stack
    hold_stream_lock(shared);
    EXPECT_EQ(shared->depth, 3u);
    throw_to(TC_THROW, cx.index);
  }
  context_pop(&cx);
  EXPECT_EQ(code, TC_THROW);
  EXPECT_EQ(io_holds_mark(), outer + 1);
  EXPECT_TRUE(stream_lock_held(shared));
  EXPECT_EQ(shared->depth, 1u);
  EXPECT_EQ(console_lock_owner(OUTPUT), -1);
  EXPECT_EQ(console_lock_owner(INTERPRETER), -1);
  EXPECT_EQ(zvts->lock_depth[OUTPUT] + zvts->lock_depth[INTERPRETER], 0u);
  io_holds_release(outer);
  EXPECT_FALSE(stream_lock_held(shared));
}

// The device's keys are looked at only by the thread that may take keys:
// the one waiting for a key reads the terminal outside the console lock,
// so LISTEN and CLEAR-INPUT of another thread see no key meanwhile.
TEST_F(StreamLocksInWorld, OnlyTheThreadWithTheKeyboardLooksAtKeys) {
  console_restart(CONSOLE_MEMORY);
  Window* t = console_window(WIN_TERMINAL);
  console_device()->push_key(KeyEvent{0x1E, 'a', 0});
  std::atomic<int> step{0};
  Actor waiter(5, [&] {
    ASSERT_TRUE(console_keyboard_try());
    step = 1;
    while (step < 2) std::this_thread::yield();
    console_keyboard_release();
  });
  while (step < 1) std::this_thread::yield();
  EXPECT_FALSE(window_listen(t));
  window_clear_input(t);  // leaves the key to the thread that has the keyboard
  step = 2;
  EXPECT_TRUE(waiter.ends_within(2000));
  EXPECT_TRUE(window_listen(t));
  window_clear_input(t);
  EXPECT_FALSE(window_listen(t));
}

// Emptying the stacks (a world built or loaded anew) gives up every hold:
// they were taken at positions that are gone.
TEST_F(StreamLocksInWorld, EmptiedStacksTakeTheHoldsWithThem) {
  StreamLock* shared = stream_lock_shared();
  hold_stream_lock(shared);
  hold_console_output();
  push_anon(NIL);
  hold_interpreter();
  hold_stream_lock(shared);
  thread_reset_stacks(zvts);
  EXPECT_EQ(io_holds_mark(), 0u);
  EXPECT_FALSE(stream_lock_held(shared));
  for (int which = INPUT; which <= KEYBOARD; which++) EXPECT_EQ(console_lock_owner(which), -1);
  EXPECT_EQ(zvts->lock_depth[OUTPUT] + zvts->lock_depth[INTERPRETER], 0u);
}

// Lisp threads printing lines into one string stream, a character at a
// time (each an allocation, where the threads take turns), through the
// printer's entry point.

struct LineWriter {
  uint32_t lines = 0;
  std::atomic<uint32_t> done{0};
};

void write_lines(void* p) {
  LineWriter* w = static_cast<LineWriter*>(p);
  Value stream = zvts->spare;
  root_push(&stream);
  char text[41];
  std::memset(text, 'a' + int(zvts->thread_number % 26), 40);
  text[40] = '\n';
  for (uint32_t i = 0; i < w->lines; i++) {
    Value line = mem_make_string(text, 41);  // before the stream is read: it may move
    print_object(line, stream, PRINT_NO_ESCAPE);
  }
  root_pop();
  w->done.fetch_add(1);
}

TEST_F(StreamLocksInWorld, LispThreadsPrintingToOneStreamNeverMixALine) {
  ASSERT_TRUE(threads_init_first());
  Value stream = make_string_output_stream();
  root_push(&stream);
  LineWriter w;
  w.lines = 1500;
  uint32_t serial = 0;
  for (int t = 0; t < 2; t++)
    ASSERT_NE(thread_start(write_lines, &w, 512 * 1024, stream, &serial), 0u);
  safe_region_enter();
  while (!thread_wait_active_at_most(1, 50)) {
  }
  safe_region_leave();
  ASSERT_EQ(w.done.load(), 2u);
  Value text = string_output_contents(stream);
  std::string all(reinterpret_cast<const char*>(string_bytes(text)), string_length(text));
  root_pop();
  threads_end_first();
  size_t lines = 0, start = 0;
  for (size_t nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1, lines++)
    ASSERT_EQ(all.substr(start, nl - start), std::string(40, all[start])) << "line " << lines;
  EXPECT_EQ(lines, 3000u);
  EXPECT_EQ(start, all.size());
}

}  // namespace
