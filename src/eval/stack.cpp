// The Lisp stack's checks and the native stack under the evaluator.
#include "eval/stack.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "diag/dump.h"
#include "eval/errors.h"
#include "object/error_hook.h"
#include "threads/safepoint.h"

[[noreturn]] void stack_index_fault(uint32_t i) {
  ThreadState* ts = zvts;
  fatal_prepare();
  std::printf("Error: septr = %x in thread zv%u! ", i, ts->thread_number);
  std::fflush(stdout);
  dump_environment(ts, "stack index check");
  _exit(1);
}

[[noreturn]] void stack_exhausted() { lisp_fatal_error(E_STACK); }

namespace {

void unbind_chain(uint16_t* head, uint32_t limit, BindingCell c) {
  while (*head < limit) {
    StackEntry& e = stack_entry(*head);
    cell_exchange(e.tag, c, e.arg);
    *head = e.link;
  }
}

}  // namespace

void unbind_to(uint32_t limit) { unbind_chain(&zvts->zvdinenv, limit, BindingCell::VALUE); }
void unbind_functions_to(uint32_t limit) {
  unbind_chain(&zvts->zvfdinenv, limit, BindingCell::FUNCTION);
}

// ---------------------------------------------------------------------------
// Reserves

namespace {

constexpr uint32_t STACK_FLOOR = 128;
constexpr uint32_t ROOT_FLOOR = 16;

}  // namespace

// A crossed reserve above its floor is halved for good and reported as a
// warning with a break loop, so the user can look at the runaway
// recursion; the halved reserve leaves room for that break loop.  At the
// floor the error is hard.
void stack_reserve_crossed() {
  ThreadState* ts = zvts;
  bool lisp = ts->septr <= ts->stack_reserve;
  uint32_t& reserve = lisp ? ts->stack_reserve : ts->root_reserve;
  if (reserve <= (lisp ? STACK_FLOOR : ROOT_FLOOR)) lisp_fatal_error(E_STACK);
  reserve /= 2;
  lisp_warn_with_break(E_STACK);
}

// ---------------------------------------------------------------------------
// The reader's and the printer's descent

namespace {

// The limit below `now` for a descent that should stop `margin` above
// `reserve`: 0 (the usual limit) when there is room for twice that, else
// halfway down the room left.
template <typename T>
T descent_limit(T now, T reserve, T margin) {
  if (now > reserve && now - reserve >= 2 * margin) return 0;
  return now > reserve ? reserve + (now - reserve) / 2 : now;
}

}  // namespace

void descent_limits_set() {
  ThreadState* ts = zvts;
  char probe;
  ts->descent_septr = descent_limit<uint32_t>(ts->septr, ts->stack_reserve, ts->stack_top / 8u);
  ts->descent_roots =
      descent_limit<uint32_t>(ts->root_cap - ts->root_count, ts->root_reserve, ts->root_cap / 8u);
  ts->descent_native = ts->native_floor == 0
                           ? 0
                           : descent_limit<uintptr_t>(reinterpret_cast<uintptr_t>(&probe),
                                                      ts->native_floor, DESCENT_NATIVE_MARGIN);
}

// ---------------------------------------------------------------------------
// The native stack

[[noreturn]] void native_stack_exhausted() {
  // Give the error signaller and a break loop room to run; the throw that
  // ends them puts the floor back (context records keep it).
  zvts->native_floor -= 64 * 1024;
  lisp_fatal_error(E_STACK);
}

namespace {

// Native bytes per Lisp stack entry.  The evaluator's cycles (eval, a
// special form or call_frame, the binder, progn, eval again) measure
// 80-170 bytes per entry they push in an optimised build; sanitizer and
// unoptimised builds take several times that, hence the margin.
constexpr size_t BYTES_PER_ENTRY = 1536;
// Room below the floor for the error signaller, a break loop and the
// printer after error 38.
constexpr size_t FLOOR_MARGIN = 512 * 1024;
constexpr size_t BASE_BYTES = 2 * 1024 * 1024;

struct BigStackCall {
  int (*fn)(void*);
  void* data;
  ThreadState* ts;
  WorldMember* member;  // the caller's place in the world, which it lends
  size_t bytes;
  int result;
  sigset_t mask;  // the caller's signal mask
};

void* big_stack_main(void* p) {
  BigStackCall* call = static_cast<BigStackCall*>(p);
  pthread_sigmask(SIG_SETMASK, &call->mask, nullptr);
  zvts = call->ts;
  world_set_current_member(call->member);
  uintptr_t saved = zvts->native_floor;
  char probe;
  zvts->native_floor = reinterpret_cast<uintptr_t>(&probe) - call->bytes + FLOOR_MARGIN;
  call->result = call->fn(call->data);
  zvts->native_floor = saved;
  return nullptr;
}

}  // namespace

size_t native_stack_bytes(uint32_t entries) {
  return BASE_BYTES + FLOOR_MARGIN + BYTES_PER_ENTRY * size_t(entries);
}

int run_on_big_stack(int (*fn)(void*), void* data, size_t bytes) {
  if (bytes == 0) bytes = native_stack_bytes(2 * 32767 + 2);
  long page = sysconf(_SC_PAGESIZE);
  bytes = (bytes + size_t(page) - 1) / size_t(page) * size_t(page);
  BigStackCall call{fn, data, zvts, world_current_member(), bytes - BASE_BYTES / 2, 0, {}};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  // The signals of the terminal (Control-C, a size change, suspending)
  // must reach the thread that does the work and waits for keys: the
  // waiting thread blocks them, and the new thread takes the old mask.
  sigset_t async;
  sigemptyset(&async);
  const int terminal_signals[] = {SIGINT, SIGWINCH, SIGTSTP, SIGCONT, SIGQUIT, SIGHUP, SIGTERM};
  for (int sig : terminal_signals) sigaddset(&async, sig);
  pthread_sigmask(SIG_BLOCK, &async, &call.mask);
  pthread_t thread;
  if (pthread_create(&thread, &attr, big_stack_main, &call) != 0) {
    // No thread to be had: run here, guarded by this stack's own floor.
    pthread_attr_destroy(&attr);
    pthread_sigmask(SIG_SETMASK, &call.mask, nullptr);
    native_stack_note_current();
    return fn(data);
  }
  pthread_attr_destroy(&attr);
  pthread_join(thread, nullptr);
  pthread_sigmask(SIG_SETMASK, &call.mask, nullptr);
  return call.result;
}

void native_stack_note_current() {
  pthread_attr_t attr;
  void* addr = nullptr;
  size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
  pthread_attr_getstack(&attr, &addr, &size);
  pthread_attr_destroy(&attr);
  uintptr_t low = reinterpret_cast<uintptr_t>(addr);
  zvts->native_floor = size > 2 * FLOOR_MARGIN ? low + FLOOR_MARGIN : low + size / 2;
}
