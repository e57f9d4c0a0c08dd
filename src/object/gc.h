// The garbage collector: marking with an explicit stack in the free part of
// the Lisp stack (pointer reversal when that runs out) and four reclaiming
// strategies chosen by what ran out.
#pragma once

#include <cstdint>

#include "object/value.h"

struct GcCounters {
  uint32_t cons = 0, heap = 0, symbol = 0, full = 0;
  uint64_t freed_cells = 0;  // running total of freed cons cells
  uint32_t fallbacks = 0;    // marking steps that needed pointer reversal
};
extern GcCounters zv_gc;

// Cons collection: sweeps (and grows or shrinks) the cons area and returns
// one free cell, already unlinked from the free list.
Value gc_cons_collection();
// Heap collection: compacts the heap (and may resize it); error 36 when
// fewer than n bytes are free afterwards.
void gc_heap_collection(uint32_t n);
// Symbol-table collection: compacts symbols and the heap; error 37 when the
// table is still full, error 36 when the heap lacks n + 8 bytes.
void gc_symbol_collection(uint32_t n);
// Full collection: compacts everything.  Returns
// symbol count x 18 + free cells x 8 + heap bytes in use.
uint64_t gc_full_collection();

// Memory status line: column 2/9/18 with letter C/H/S during a collection,
// column 0 for the full line "%c C%-6xH%-8xS%-4x".
void gc_status_line(int column, char letter);
// The text of the status line last formatted (for tests and the console).
const char* gc_status_text();
// Shows the status text (the console's indicator window registers itself
// here).  It runs inside collections: it must not allocate.
extern void (*gc_status_hook)(int column);

// Stress mode: ZORVA_GC_STRESS=N runs a collection before every N-th
// allocation, rotating through the four kinds.  0 disables it.
extern uint32_t zv_gc_stress;
void gc_stress_init_from_env();
// Called by every allocator under the global lock, before it allocates
// (the counters are shared by all threads).
void gc_stress_tick();

// Built-in 438.
Value bi_gc(Value a, Value b);
