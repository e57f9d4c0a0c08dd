// The symbol table: 20-byte entries (value.h) found through an open-addressing
// hash array of 16-bit indices with double hashing.
#pragma once

#include <cstdint>

#include "object/thread.h"
#include "object/value.h"

// FS_<ID>: the index of each fixed symbol of object/symbols.def.
#define FS(i, id, name, cls, role) constexpr uint32_t FS_##id = i;
#include "object/symbols.def"
#undef FS

// The fixed symbols are indices 0..FIXED_SYMBOL_COUNT-1, every one listed
// (the genesis refuses a gap).
constexpr uint32_t FIXED_SYMBOL_COUNT = [] {
  uint32_t n = 0;
#define FS(i, id, name, cls, role) n++;
#include "object/symbols.def"
#undef FS
  return n;
}();

constexpr uint16_t HASH_SLOT_EMPTY = 0x8000;
constexpr uint16_t HASH_SLOT_DELETED = 0x8001;

// Smallest odd number at or above cap + cap / 16 with no odd divisor d,
// 3 <= d, d * d <= P.  16000 gives 17011.
uint32_t sym_hash_size_for(uint32_t capacity);

// The number of symbols, read where another thread may be interning
// meanwhile: an acquire load, met by the interning's release store, so
// every entry below it is complete.
inline uint32_t sym_count_now() { return __atomic_load_n(&zvm.sym_count, __ATOMIC_ACQUIRE); }
// Whether the odd number m has no odd divisor d, 3 <= d, d * d <= m: the
// test of the symbol hash sizes and the hash-table capacities.
inline bool odd_is_prime(uint32_t m) {
  for (uint32_t d = 3; d <= m / d; d += 2)
    if (m % d == 0) return false;
  return true;
}

uint32_t sym_hash(const uint8_t* bytes, uint32_t n);

struct SymSearch {
  bool found;
  uint32_t index;  // symbol index when found
  uint32_t slot;   // hash slot of the symbol, or the free slot
};
SymSearch sym_search(const uint8_t* bytes, uint32_t n);
inline SymSearch sym_search_cstr(const char* name) {
  uint32_t n = 0;
  while (name[n]) n++;
  return sym_search(reinterpret_cast<const uint8_t*>(name), n);
}

// Intern: (tag << 24) | index, or 0 for the name of symbol 0.
Value sym_intern(const uint8_t* bytes, uint32_t n, uint32_t tag = TAG_SYMBOL);
Value sym_intern_cstr(const char* name, uint32_t tag = TAG_SYMBOL);
// New uninterned symbols.
Value sym_make(const uint8_t* bytes, uint32_t n);
Value sym_make_from_string(Value name);
Value sym_gensym();   // prefix + counter of memory block offsets 12 / 4
Value sym_gentemp();  // prefix + counter of memory block offsets 32 / 8

// ---------------------------------------------------------------------------
// Dynamic bindings of special variables and of function cells (the kernel's
// LABELS, the condition system's hook).  While one thread runs, a binding
// swaps the value (function) word of the symbol entry and keeps the old
// content in its binding entry (shallow binding: a read is one load).  Once
// another thread starts, bindings are deep: the symbol entry holds the
// global value and definition, shared by every thread, and each thread's
// bindings live in its own slots (ThreadState::specials: the value slots,
// then as many function slots), so a binding made in one thread is never
// seen by another.  A slot holds NO_BINDING where the thread has no
// binding: reads and assignments then reach the global word.  The collector
// takes NO_BINDING for an immediate and leaves it alone.
constexpr Value NO_BINDING = 0x0FFE0013;
extern bool zv_specials_deep;

// Which cell a binding is of: the symbol entry's word, and the first slot
// of the thread's block for it.
enum class BindingCell { VALUE, FUNCTION };
inline Value* cell_slots(const ThreadState* ts, BindingCell c) {
  return c == BindingCell::VALUE || !ts->specials ? ts->specials : ts->specials + ts->specials_cap;
}
inline Value sym_global_cell(uint32_t i, BindingCell c) {
  return c == BindingCell::VALUE ? sym_global_value(i) : sym_global_function(i);
}
inline void sym_set_global_cell(uint32_t i, BindingCell c, Value v) {
  if (c == BindingCell::VALUE)
    sym_set_global_value(i, v);
  else
    sym_set_global_function(i, v);
}

// The cell as the calling thread sees it, and its assignment (SETQ, SET,
// FSET): the thread's binding when it has one, else the global word.
inline Value sym_cell(uint32_t i, BindingCell c) {
  if (zv_specials_deep) {
    const Value* t = cell_slots(zvts, c);
    if (t && t[i] != NO_BINDING) return t[i];
  }
  return sym_global_cell(i, c);
}
inline void sym_set_cell(uint32_t i, BindingCell c, Value v) {
  if (zv_specials_deep) {
    Value* t = cell_slots(zvts, c);
    if (t && t[i] != NO_BINDING) {
      t[i] = v;
      return;
    }
  }
  sym_set_global_cell(i, c, v);
}
inline Value sym_value(uint32_t i) { return sym_cell(i, BindingCell::VALUE); }
inline void sym_set_value(uint32_t i, Value v) { sym_set_cell(i, BindingCell::VALUE, v); }
inline Value sym_function(uint32_t i) { return sym_cell(i, BindingCell::FUNCTION); }
inline void sym_set_function(uint32_t i, Value v) { sym_set_cell(i, BindingCell::FUNCTION, v); }

// The thread's slots, made (every one NO_BINDING, one value and one
// function slot for each entry the symbol table can hold) on its first deep
// binding.
Value* specials_allocate(ThreadState* ts);
inline Value* specials_of(ThreadState* ts) {
  return ts->specials ? ts->specials : specials_allocate(ts);
}
// Exchange the calling thread's binding cell of symbol i (the word when
// shallow, its slot when deep) for v and return what it held (a Value, or
// NO_BINDING when deep): binding keeps that in its entry, unbinding and the
// debugger's temporary undoing give it back the same way.
inline Value cell_exchange(uint32_t i, BindingCell c, Value v) {
  Value old;
  if (!zv_specials_deep) {
    old = sym_global_cell(i, c);
    sym_set_global_cell(i, c, v);
  } else {
    specials_of(zvts);
    Value* t = cell_slots(zvts, c);
    old = t[i];
    t[i] = v;
  }
  return old;
}
inline Value special_exchange(uint32_t i, Value v) {
  return cell_exchange(i, BindingCell::VALUE, v);
}
inline Value function_exchange(uint32_t i, Value v) {
  return cell_exchange(i, BindingCell::FUNCTION, v);
}
// Drop a thread's slots (its stacks were reset, or it ends).
void specials_release(ThreadState* ts);
// Switch between the two ways, with ts the only thread: its bindings (of
// values and of functions) move from the symbol entries into its slots (the
// entries get back the contents from outside every binding) or back.
void specials_make_deep(ThreadState* ts);
void specials_make_shallow(ThreadState* ts);

void sym_rehash();
void sym_replace_slot(Value name, uint16_t old_content, uint16_t new_content);

// Property lists.
Value plist_get(Value list, Value indicator, Value dflt);
Value plist_put(Value list, Value indicator, Value value);
Value plist_remove(Value list, Value indicator);
// First element whose car's low 16 bits equal n, or NIL.
Value find_by_number(uint32_t n, Value list);
