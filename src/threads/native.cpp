// POSIX back end of the thread layer's primitives.
#include "threads/native.h"

#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <csignal>

bool native_mutex_init(NativeMutex* m, bool recursive) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = pthread_mutexattr_settype(&attr, recursive ? PTHREAD_MUTEX_RECURSIVE : PTHREAD_MUTEX_NORMAL) == 0 &&
            pthread_mutex_init(&m->m, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return ok;
}

void native_mutex_destroy(NativeMutex* m) { pthread_mutex_destroy(&m->m); }
void native_mutex_lock(NativeMutex* m) { pthread_mutex_lock(&m->m); }
namespace {
// ms milliseconds from now on the given clock.
struct timespec deadline_after(clockid_t clock, uint64_t ms) {
  struct timespec until;
  clock_gettime(clock, &until);
  until.tv_sec += time_t(ms / 1000);
  until.tv_nsec += long(ms % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec++;
    until.tv_nsec -= 1000000000L;
  }
  return until;
}
}  // namespace

bool native_mutex_try_lock(NativeMutex* m) { return pthread_mutex_trylock(&m->m) == 0; }
// (The deadline is of the real-time clock, which the timed lock takes: a
// clock set meanwhile only makes this one wait longer or shorter.)
bool native_mutex_lock_ms(NativeMutex* m, uint64_t ms) {
  struct timespec until = deadline_after(CLOCK_REALTIME, ms);
  return pthread_mutex_timedlock(&m->m, &until) == 0;
}
void native_mutex_unlock(NativeMutex* m) { pthread_mutex_unlock(&m->m); }

bool native_condition_init(NativeCondition* c) {
  pthread_condattr_t attr;
  if (pthread_condattr_init(&attr) != 0) return false;
  bool ok = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC) == 0 && pthread_cond_init(&c->c, &attr) == 0;
  pthread_condattr_destroy(&attr);
  return ok;
}

void native_condition_destroy(NativeCondition* c) { pthread_cond_destroy(&c->c); }
void native_condition_wait(NativeCondition* c, NativeMutex* m) { pthread_cond_wait(&c->c, &m->m); }

bool native_condition_wait_ms(NativeCondition* c, NativeMutex* m, uint64_t ms) {
  struct timespec until = deadline_after(CLOCK_MONOTONIC, ms);
  return pthread_cond_timedwait(&c->c, &m->m, &until) == 0;
}

void native_condition_notify_one(NativeCondition* c) { pthread_cond_signal(&c->c); }
void native_condition_notify_all(NativeCondition* c) { pthread_cond_broadcast(&c->c); }

bool native_thread_start(NativeThread* t, void* (*fn)(void*), void* arg, size_t stack_bytes) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  bool ok = true;
  if (stack_bytes) {
    size_t page = size_t(sysconf(_SC_PAGESIZE));
    if (stack_bytes < size_t(PTHREAD_STACK_MIN)) stack_bytes = PTHREAD_STACK_MIN;
    // Rounding up must not wrap: a size near the top of the address space
    // is simply refused.
    if (stack_bytes > SIZE_MAX - page)
      ok = false;
    else
      ok = pthread_attr_setstacksize(&attr, (stack_bytes + page - 1) / page * page) == 0;
  }
  // The new thread inherits the mask in force at pthread_create.
  sigset_t terminal, old;
  sigemptyset(&terminal);
  const int terminal_signals[] = {SIGINT, SIGWINCH, SIGTSTP, SIGCONT, SIGQUIT, SIGHUP, SIGTERM, SIGALRM};
  for (int sig : terminal_signals) sigaddset(&terminal, sig);
  pthread_sigmask(SIG_BLOCK, &terminal, &old);
  if (ok) ok = pthread_create(&t->id, &attr, fn, arg) == 0;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  pthread_attr_destroy(&attr);
  return ok;
}

void* native_thread_join(NativeThread* t) {
  void* result = nullptr;
  pthread_join(t->id, &result);
  return result;
}

void native_thread_detach(NativeThread* t) { pthread_detach(t->id); }

void native_thread_yield() { sched_yield(); }

size_t native_thread_stack_bytes() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  void* addr = nullptr;
  size_t size = 0;
  pthread_attr_getstack(&attr, &addr, &size);
  pthread_attr_destroy(&attr);
  return size;
}
