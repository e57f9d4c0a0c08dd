// The operating system's threads, mutexes and condition variables, as the
// thread layer uses them.
//
// Plain records with explicit init and destroy, and no destructors: code
// through which a Lisp throw can pass keeps these in process-wide tables or
// heap blocks, never as guards on its own frame.  Nothing here allocates
// Lisp objects, signals an error or knows the thread state; the safe points
// and the collector's protocol are built on top of these in safepoint.cpp.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <cstdint>

// A mutex.  A recursive one may be taken again by its owner and must be
// released as often as it was taken.
struct NativeMutex {
  pthread_mutex_t m;
};
bool native_mutex_init(NativeMutex* m, bool recursive);
void native_mutex_destroy(NativeMutex* m);
void native_mutex_lock(NativeMutex* m);
// Takes the mutex only when nobody holds it (or, for a recursive mutex,
// when the caller already does); never waits.
bool native_mutex_try_lock(NativeMutex* m);
// Takes the mutex, waiting at most ms milliseconds; whether it was taken.
bool native_mutex_lock_ms(NativeMutex* m, uint64_t ms);
void native_mutex_unlock(NativeMutex* m);

// A condition variable, waited on with a mutex held.  Waits may wake
// without a notification: callers test their condition in a loop.
struct NativeCondition {
  pthread_cond_t c;
};
bool native_condition_init(NativeCondition* c);
void native_condition_destroy(NativeCondition* c);
void native_condition_wait(NativeCondition* c, NativeMutex* m);
// Waits at most ms milliseconds (measured on the monotonic clock, so that
// setting the wall clock neither shortens nor stretches the wait).  False
// when the time ran out.
bool native_condition_wait_ms(NativeCondition* c, NativeMutex* m, uint64_t ms);
void native_condition_notify_one(NativeCondition* c);
void native_condition_notify_all(NativeCondition* c);

// A thread of the operating system.  It starts with every asynchronous
// signal of the terminal blocked, so that Control-C, window size changes
// and the rest keep going to the first Lisp thread, which answers them.
struct NativeThread {
  pthread_t id;
};
// Starts fn(arg) on a native stack of at least stack_bytes bytes (rounded
// up to whole pages; 0 takes the system's default).  False, with nothing
// started, when the system refuses the thread or the stack.
bool native_thread_start(NativeThread* t, void* (*fn)(void*), void* arg, size_t stack_bytes);
// Waits for the thread to end and returns what its function returned.
void* native_thread_join(NativeThread* t);
// Nobody will wait for the thread: what it holds goes when it ends.
void native_thread_detach(NativeThread* t);
// Gives the processor to another runnable thread.
void native_thread_yield();
// The bytes of native stack the calling thread was given (0 when the
// system does not say).
size_t native_thread_stack_bytes();
