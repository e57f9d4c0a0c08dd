// Memory areas and allocation: the cons window and cons area, the vector
// heap, the symbol table blocks and the first thread's stacks.
//
// Allocators never initialise the data of Value-holding objects; the caller
// fills every Value word before the next allocation can start a collection.
// Every Value a caller holds across an allocation must be rooted first.
#pragma once

#include <cstdint>

#include "object/value.h"

struct ThreadState;  // object/thread.h

// The kernel's default image header and memory block (before any load).
void mem_default_header();

// The cons window: reserved once per process, never moved.
void window_init();
// Place a range of `bytes` (multiple of 8) in a free part of the window
// above the scratch conses and disjoint from every range in use; returns its
// offset, or 0 when no such range exists.
uint32_t window_take(uint32_t bytes);
// Give a range back (its pages are released to the system).
void window_release(uint32_t offset, uint32_t bytes);
// The bytes from the range at `offset` up to the next range in use (or the
// end of the window): how far that range can grow where it lies; 0 when no
// range starts at offset.
uint32_t window_span(uint32_t offset);
// Grow the range at `offset` in place to `bytes` (rounded up to whole
// pages); false, and nothing changed, when that passes window_span.
bool window_extend(uint32_t offset, uint32_t bytes);

// Allocate the world's areas from the header (zvm.header).  Returns 0, or 1
// after printing "\n%s for %u cons cells".  With full == false only the
// calling thread's stacks are allocated.  The cons area starts at the
// largest of the initial capacity, start_cells and needed_cells cells and
// shrinks 256 cells at a time to needed_cells until the window has room.
int mem_allocate_areas(uint32_t needed_cells, bool full, uint32_t start_cells = 0);
// The root-pointer stack has this many slots for each unit of the stack
// size N (the Lisp stack has two entries).
constexpr uint32_t ROOTS_PER_STACK_N = 4;
// Free the world (free_world) and, unless keep_stacks, the calling thread's
// Lisp stack and root-pointer stack.
void mem_free_areas(bool keep_stacks, bool free_world);
// The Lisp stack and root-pointer stack of another thread's state, sized
// from the header's N like the first thread's (false when the system has
// no memory for them); and freeing them when that thread has ended.
bool mem_allocate_thread_stacks(ThreadState* ts);
void mem_free_thread_stacks(ThreadState* ts);
// After a load: mode 0 empties the hash array, modes 0 and 1 reset the
// thread's stacks, a nonzero free pointer (window offset) rebuilds the free
// list from it to the end of the cons area.
void mem_post_load(uint32_t free_ptr, int mode);

// Link every cell from `from` (window offset) to the end of the cons area
// into the free list, ascending, and recount the free cells.
void mem_link_free_cells(uint32_t from);

// The emergency reserve of a running world: cells and heap bytes that no
// allocation takes until exhaustion is signalled, when the collector gives
// them back for the break loop; it keeps them again once a collection
// leaves four times as much room.
constexpr uint32_t RESERVE_CELLS = 4096;
constexpr uint32_t RESERVE_HEAP_BYTES = 16 * 1024;
void mem_arm_reserve();
// Give the reserve back (exhaustion is being signalled); true when there
// was one to give.
bool mem_release_cons_reserve();
bool mem_release_heap_reserve();
// Keep the reserve again when the free cells or heap bytes allow it.
void mem_rearm_reserve();

// Cons cells.  Each thread takes up to CONS_RUN_CELLS cells from the free
// list at a time under the global lock (its run, in its ThreadState) and
// hands them out one by one without the lock; zvm.free_count counts only
// the cells on the free list.
constexpr uint32_t CONS_RUN_CELLS = 256;
Value mem_alloc_cons();             // raw cell: caller stores car and cdr
Value cons(Value a, Value d);       // roots a and d across the allocation
// The collector, with the world stopped, before it rebuilds the free
// list: the thread's run is emptied and its cells count as free again
// (they are unmarked, so the sweep relinks them).
void mem_drop_run(ThreadState* ts);
// A thread about to leave the world puts its run back on the free list.
void mem_return_run();

// Whether x is an element of list, compared with EQ.
inline bool memq(Value x, Value list) {
  for (; cons_p(list); list = cdr(list))
    if (car(list) == x) return true;
  return false;
}

// The number of conses of a list, or -1 when it is circular: a second
// walk takes one cell for each two of the first, and they meet only on a
// ring.  *end (when given) receives what follows the last cons: NIL for a
// proper list.
inline int64_t list_conses(Value list, Value* end = nullptr) {
  int64_t n = 0;
  Value slow = list;
  for (;;) {
    if (!cons_p(list)) break;
    list = cdr(list);
    n++;
    if (!cons_p(list)) break;
    list = cdr(list);
    n++;
    slow = cdr(slow);
    if (list == slow) return -1;
  }
  if (end) *end = list;
  return n;
}

// A walk down a list that notices coming round a ring: a second pointer
// follows at half its speed and meets it only on a circular list.  A walk
// that may collect on the way keeps `slow` rooted.
struct RingWatch {
  Value slow;
  bool odd = false;
  explicit RingWatch(Value list) : slow(list) {}
  // After the walk's step to `now`: true when it has come round.
  bool round(Value now) {
    odd = !odd;
    if (odd) return false;
    slow = cdr(slow);
    return now == slow;
  }
};

// Reverses a proper list in place (its own cells, relinked); allocates
// nothing.
inline Value nreverse_list(Value list) {
  Value done = NIL;
  while (cons_p(list)) {
    Value next = cdr(list);
    set_cdr(list, done);
    done = list;
    list = next;
  }
  return done;
}

// Vector heap.  heap_block == heap_base: the 8 bytes before the data base
// belong to the block.  Sizes: 8 + 4n for Value-holding objects, (n + 9) & ~1 for
// byte objects.
Value mem_alloc_vector(uint32_t n);                  // simple vector
Value mem_alloc_array(uint32_t total, uint32_t rank);
Value mem_alloc_string(uint32_t n);                  // bytes not cleared
Value mem_alloc_object(uint32_t n, uint8_t type, uint32_t raw_words = 0);
Value mem_alloc_bytes(uint32_t n);                   // raw type-1 block
Value mem_make_int64_raw(int64_t x);                 // always boxed
Value mem_make_integer(int64_t x);                   // fixnum when it fits
Value mem_make_double(double d);
Value mem_make_complex_int(int64_t re, int64_t im);  // im == 0: integer re
Value mem_make_complex_double(double re, double im);
Value mem_make_string(const char* s, uint32_t n);

// Resize a simple vector (elements added are NIL); error 4171 for m of
// 0x400000 or more.
Value mem_resize_vector(Value v, uint32_t m);
// List of the elements of a vector from index start to its end.
Value mem_vector_to_list(Value v, uint32_t start);

// Lower-level heap bump allocation used by the typed allocators: returns the
// Value with tag, header words written, data untouched.
Value heap_allocate(uint32_t size, uint32_t hdr1, uint8_t type, uint32_t tag);

// Built-in table: trim the live count while its last record is empty.
void mem_trim_builtins();

// Cons area bounds for the value check.
inline bool in_cons_area(Value v) { return v >= zvm.cons_first && v < zvm.cons_end; }
