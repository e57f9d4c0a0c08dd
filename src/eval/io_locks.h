// Locks of streams and of the console, and the holds a thread has on them.
//
// A stream operation (a PRINT, a READ-LINE, a FORMAT) holds the locks of
// its stream from start to end, so that operations of two threads on one
// stream interleave whole.  Every stream lock is recursive: Lisp code run
// inside an operation (a print method, a FORMAT ~/ function) may use the
// same stream again.
//
// Window streams are locked with the console's input and output locks,
// which also yield to the interpreter lock: while one thread runs a break
// loop (holding the interpreter lock) the others stop at their next console
// input or output.  The keyboard lock says which thread may take keys from
// the device.
//
// Each lock a thread takes is recorded as a hold, together with the Lisp
// stack position at that moment.  An operation ends by releasing back to the
// mark it started from; a non-local exit releases every hold taken after
// its target context was established (io_locks_release_to), so a throw out
// of a print never leaves the stream locked.
//
// Waiting for a lock is a safe region: the collector does not wait for a
// blocked thread.  So taking a lock may let a collection run, as an
// allocation may: the caller keeps every Value it needs rooted.
#pragma once

#include <atomic>
#include <cstdint>

#include "threads/native.h"

// A recursive lock.  The owner is a tag of the holding thread (null when
// free) and only the owner touches the depth, so taking a lock the caller
// already holds costs a load and two stores.  The holder's thread number
// (-1 when free) is for the deadlock test of the waits.
struct StreamLock {
  NativeMutex mutex;
  std::atomic<const void*> owner;
  std::atomic<int32_t> holder;
  uint32_t depth;
};
bool stream_lock_init(StreamLock* l);
void stream_lock_destroy(StreamLock* l);
// The one lock of every string and composite stream.
StreamLock* stream_lock_shared();

// Take a stream lock for the calling thread and record the hold.  The
// wait for a lock another thread holds is one of slices, between which the
// thread answers interrupts and stops for collections.  False, with nothing
// taken, when the wait would never end: the holder waits, directly or
// through other threads, for a lock the caller holds (a print to one
// stream whose print method writes to a second, while another thread's
// print to the second writes to the first).  Of the threads in such a
// circle, the one with the highest number is refused, the others wait on.
bool hold_stream_lock(StreamLock* l);
// Whether the calling thread holds l.
bool stream_lock_held(const StreamLock* l);

// The console's locks.  Owners are thread numbers (zvts->thread_number),
// -1 when free; the depths of the input, output and interpreter locks are
// in the thread state (lock_depth[0..2]).
void hold_console_input();
void hold_console_output();
// Around the break loop.
void hold_interpreter();
// Try only: whether the calling thread may take keys from the device now.
// Refused while another thread has the keyboard, or runs a break loop, or
// (with nobody in a break loop) holds the console input.  When granted,
// *handed_over says whether another thread took keys since this one last
// did (a line it was editing meanwhile belongs to nobody any more).
bool console_keyboard_try(bool* handed_over = nullptr);
void console_keyboard_release();
// Whether the calling thread answers Control-C: the thread in a break loop,
// else the one that holds the console input, else thread 0.
bool console_takes_keyboard_interrupt();
// Owner words, for tests and diagnostics: 0 input, 1 output, 2
// interpreter, 3 keyboard.
int32_t console_lock_owner(int which);

// How many holds the calling thread has: the mark an operation releases
// back to when it ends.
uint32_t io_holds_mark();
void io_holds_release(uint32_t mark);
// The thread's stacks were emptied (a world built or loaded anew): every
// hold was taken at a position that is gone, and is given up.
void io_holds_forget();
// A non-local exit to the context at Lisp stack index `target`: give up
// every hold taken after that context was established.
void io_locks_release_to(uint32_t target);

// An operation's holds on one frame.  Only for code no Lisp throw passes
// through (a throw skips the destructor; the release by stack position
// covers Lisp code).
struct IoHoldScope {
  uint32_t mark = io_holds_mark();
  ~IoHoldScope() { io_holds_release(mark); }
};
