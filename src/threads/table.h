// The thread table: one record per Lisp thread, indexed by thread number.
//
// Record 0 is the first thread.  The others come from a free list and go
// back to it when their thread has ended; while in use a record is on the
// live list, which record 0 heads.  Every thread also has a serial number
// that is never reused: 256 for the first thread, then 257, 258, ...
//
// The table knows nothing of Lisp: it hands out numbers and serials and
// keeps the lists under its own lock, which is never held across Lisp
// code, an allocation or a wait.
#pragma once

#include <cstdint>

#include "threads/native.h"
#include "threads/world.h"

constexpr uint32_t THREAD_RECORDS = 2048;
// Lisp threads alive at once, the first one included.
constexpr uint32_t THREAD_LIMIT = THREAD_RECORDS - 1;
constexpr uint32_t FIRST_SERIAL = 256;

struct ThreadRecord {
  bool live = false;
  uint32_t serial = 0;
  uint32_t next = 0;          // free list, or live list; 0 ends either
  NativeThread native{};      // set by whoever starts the thread
  void* state = nullptr;      // the thread's state, once it has one
  WorldMember member;         // its place in the world
  uint32_t start_vector = 0;  // a Value: the function and arguments until taken
};

// Builds the table with the calling thread as record 0 (serial 256).  Safe
// to call again: the table is then rebuilt from scratch, which only start-up
// and the tests do, with no other thread alive.
bool thread_table_init();

// Takes a free record for a new thread: its number, with a fresh serial in
// *serial.  0 when THREAD_LIMIT threads are alive already.
uint32_t thread_record_take(uint32_t* serial);
// Gives the record of an ended thread back.
void thread_record_release(uint32_t number);

ThreadRecord* thread_record(uint32_t number);
uint32_t thread_active_count();
// The table's lock, for reading records consistently (a record's state is
// set and cleared under it).  Never held across Lisp code, an allocation
// or a wait.
void thread_table_lock();
void thread_table_unlock();
// Sets the state of a live record.
void thread_record_set_state(uint32_t number, void* state);
// Waits until no live thread has the serial, at most ms milliseconds
// (the end of any thread may cut the wait short: callers loop, polling
// what else they must answer); true when none has.
bool thread_wait_serial_ended(uint32_t serial, uint64_t ms);
// The same until at most n threads are active.
bool thread_wait_active_at_most(uint32_t n, uint64_t ms);
// The number of the live thread with that serial, or THREAD_RECORDS when
// there is none.
uint32_t thread_number_of_serial(uint32_t serial);
// Calls fn with each live thread's number, record 0 first, under the
// table's lock: fn must not start, end or wait for threads.
void thread_for_each_live(void (*fn)(uint32_t number, void* data), void* data);
