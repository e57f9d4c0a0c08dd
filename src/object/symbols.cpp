// The symbol table.
//
// Entries are 20-byte records (value.h); names are found through an
// open-addressing array of 16-bit indices with double hashing.  The hash
// size is prime, so the probe step (between 1 and P - 2) visits every slot
// before it comes back to the first one.
#include "object/symbols.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "diag/dump.h"
#include "object/error_hook.h"
#include "object/gc.h"
#include "object/memory.h"
#include "object/thread.h"
#include "threads/safepoint.h"

namespace {

// Taking an index (hash store, count increase, entry copy) must not
// interleave with another thread's intern or with a collection.
inline void symtab_lock() { world_lock(); }
inline void symtab_unlock() { world_unlock(); }

constexpr uint32_t NO_SLOT = 0xFFFFFFFF;

inline uint32_t probe_first(uint32_t h) { return h % zvm.hash_size; }
inline uint32_t probe_step(uint32_t h) { return h % (zvm.hash_size - 2) + 1; }
inline uint32_t probe_next(uint32_t slot, uint32_t step) {
  slot += step;
  return slot >= zvm.hash_size ? slot - zvm.hash_size : slot;
}

bool name_is(uint32_t index, const uint8_t* bytes, uint32_t n) {
  Value s = sym_name(index);
  return string_length(s) == n && std::memcmp(string_bytes(s), bytes, n) == 0;
}

[[noreturn]] void hash_array_full() {
  dump_symbol_hash("symsearch");
  std::fputs("Recycling at symsearch\n", stdout);
  std::fflush(stdout);
  std::exit(1);
}

// A name that lies in the vector heap moves when a collection compacts the
// heap, so it is copied out before anything can allocate.  One buffer per
// thread, grown as needed and never freed, so a non-local exit leaks nothing.
thread_local uint8_t* name_copy = nullptr;
thread_local uint32_t name_copy_cap = 0;

const uint8_t* stable_name(const uint8_t* bytes, uint32_t n) {
  uintptr_t p = reinterpret_cast<uintptr_t>(bytes);
  uintptr_t lo = reinterpret_cast<uintptr_t>(zvm.heap_base);
  if (!zvm.heap_base || p < lo || p >= lo + zvm.heap_limit) return bytes;
  if (n > name_copy_cap) {
    uint8_t* grown = static_cast<uint8_t*>(std::realloc(name_copy, n));
    if (!grown) {
      std::fputs("Out of memory for a symbol name\n", stdout);
      std::exit(1);
    }
    name_copy = grown;
    name_copy_cap = n;
  }
  std::memcpy(name_copy, bytes, n);
  return name_copy;
}

Value new_name_string(const uint8_t* bytes, uint32_t n) {
  Value s = mem_alloc_string(n);
  if (n) std::memcpy(string_bytes(s), bytes, n);
  return s;
}

// Under the lock: the next index gets a copy of entry 0 and the name.  An
// interned symbol is entered in the hash array, unless another thread (or
// a collection that ran while the name was allocated) has made the same
// name meanwhile; then that symbol's index is the answer.  False when the
// table is full.
bool take_index(Value name, bool intern, uint32_t* index) {
  world_lock_keeping(&name);
  uint32_t slot = NO_SLOT;
  if (intern) {
    SymSearch s = sym_search(string_bytes(name), string_length(name));
    if (s.found) {
      symtab_unlock();
      *index = s.index;
      return true;
    }
    slot = s.slot;
  }
  if (zvm.sym_count >= zvm.sym_cap) {
    symtab_unlock();
    return false;
  }
  // Searches run without the lock: the entry is complete before its slot
  // is published, and a search reads the slot before the entry.
  uint32_t i = zvm.sym_count;
  std::memcpy(sym_entry(i), sym_entry(0), SYM_ENTRY);
  sym_set_name(i, name);
  sym_set_flags(i, intern ? sym_flags(i) | SYMF_INTERNED : 0);
  __atomic_store_n(&zvm.sym_count, i + 1, __ATOMIC_RELEASE);
  if (intern) __atomic_store_n(&zvm.hash[slot], static_cast<uint16_t>(i), __ATOMIC_RELEASE);
  symtab_unlock();
  *index = i;
  return true;
}

// Intern and make share this: room in the table first (the collection is
// told how many name bytes are coming), then the name string, then the
// index.  `name` is NIL when the string is still to be made from bytes.
uint32_t add_symbol(const uint8_t* bytes, uint32_t n, Value name, bool intern) {
  root_push(&name);
  if (name == NIL) {
    bytes = stable_name(bytes, n);
    // A hint read without the lock (take_index decides under it).
    if (__atomic_load_n(&zvm.sym_count, __ATOMIC_RELAXED) >= zvm.sym_cap) gc_symbol_collection(n);
    name = new_name_string(bytes, n);
  }
  uint32_t index;
  while (!take_index(name, intern, &index)) gc_symbol_collection(0);
  root_pop();
  return index;
}

Value generate(uint32_t counter_at, uint32_t prefix_at) {
  symtab_lock();
  uint32_t count = load_u32(zvm.memblock + counter_at) + 1;
  store_u32(zvm.memblock + counter_at, count);
  symtab_unlock();
  // The prefix field is 20 bytes and need not be terminated.
  const char* prefix = reinterpret_cast<const char*>(zvm.memblock + prefix_at);
  char text[20 + 10 + 1];
  int n = std::snprintf(text, sizeof text, "%.*s%u", static_cast<int>(strnlen(prefix, 20)), prefix,
                        count);
  return sym_make(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(n));
}

}  // namespace

uint32_t sym_hash_size_for(uint32_t capacity) {
  uint32_t p = capacity + capacity / 16;
  if (p < 3) p = 3;  // the probe step divides by P - 2
  p |= 1;
  while (!odd_is_prime(p)) p += 2;
  return p;
}

uint32_t sym_hash(const uint8_t* bytes, uint32_t n) {
  uint32_t h = 0;
  for (uint32_t i = 0; i < n; i++) h = 4 * h + bytes[i];
  if (n < 6) h *= 61;  // spreads short names, whose shifts barely mix
  return h & 0x7FFFFFFF;
}

// Another thread may be taking an index meanwhile (take_index): a slot is
// read before the entry it leads to, with the loads that meet its stores.
SymSearch sym_search(const uint8_t* bytes, uint32_t n) {
  uint32_t h = sym_hash(bytes, n);
  uint32_t slot = probe_first(h), step = probe_step(h);
  uint32_t deleted = NO_SLOT;
  for (uint32_t k = 0; k < zvm.hash_size; k++, slot = probe_next(slot, step)) {
    uint16_t c = __atomic_load_n(&zvm.hash[slot], __ATOMIC_ACQUIRE);
    if (c == HASH_SLOT_EMPTY) return {false, 0, deleted != NO_SLOT ? deleted : slot};
    if (c == HASH_SLOT_DELETED) {
      if (deleted == NO_SLOT) deleted = slot;
    } else if (c < __atomic_load_n(&zvm.sym_count, __ATOMIC_ACQUIRE) && name_is(c, bytes, n)) {
      return {true, c, slot};
    }
  }
  if (deleted != NO_SLOT) return {false, 0, deleted};
  hash_array_full();
}

Value sym_intern(const uint8_t* bytes, uint32_t n, uint32_t tag) {
  SymSearch s = sym_search(bytes, n);
  uint32_t index = s.found ? s.index : add_symbol(bytes, n, NIL, true);
  return index == 0 ? NIL : (tag << 24) | index;
}

Value sym_intern_cstr(const char* name, uint32_t tag) {
  return sym_intern(reinterpret_cast<const uint8_t*>(name),
                    static_cast<uint32_t>(std::strlen(name)), tag);
}

Value sym_make(const uint8_t* bytes, uint32_t n) {
  return 0x01000000u | add_symbol(bytes, n, NIL, false);
}

Value sym_make_from_string(Value name) {
  return 0x01000000u | add_symbol(nullptr, string_length(name), name, false);
}

Value sym_gensym() { return generate(MB_GENSYM_COUNTER, MB_GENSYM_PREFIX); }
Value sym_gentemp() { return generate(MB_GENTEMP_COUNTER, MB_GENTEMP_PREFIX); }

bool zv_specials_deep = false;

Value* specials_allocate(ThreadState* ts) {
  uint32_t cap = zvm.sym_cap + 4;  // as many as the table's entries
  Value* t = static_cast<Value*>(std::malloc(sizeof(Value) * 2 * cap));
  if (!t) {
    fatal_prepare();
    std::printf("Error: no memory for the bindings of thread zv%u\n", ts->thread_number);
    std::fflush(stdout);
    _exit(1);
  }
  for (uint32_t i = 0; i < 2 * cap; i++) t[i] = NO_BINDING;
  ts->specials_cap = cap;
  ts->specials = t;
  return t;
}

void specials_release(ThreadState* ts) {
  std::free(ts->specials);
  ts->specials = nullptr;
  ts->specials_cap = 0;
}

namespace {

// The thread's binding entries on one chain (zvdinenv or zvfdinenv),
// oldest first.
std::vector<uint16_t> binding_entries(ThreadState* ts, uint16_t head) {
  std::vector<uint16_t> chain;
  for (uint32_t i = head; i < ts->stack_top; i = ts->stack[i].link)
    chain.push_back(static_cast<uint16_t>(i));
  return {chain.rbegin(), chain.rend()};
}

// Shallow, a symbol bound n times has its innermost content in the word and
// the content from outside every binding in its oldest entry; deep, that
// content is in the word, the innermost in the slot, and the oldest entry
// holds NO_BINDING.  The entries in between read the same either way.
void chain_make_deep(ThreadState* ts, uint16_t head, BindingCell c) {
  Value* t = cell_slots(ts, c);
  for (uint16_t i : binding_entries(ts, head)) {
    StackEntry& e = ts->stack[i];
    if (t[e.tag] != NO_BINDING) continue;  // not its oldest binding
    t[e.tag] = sym_global_cell(e.tag, c);
    sym_set_global_cell(e.tag, c, e.arg);
    e.arg = NO_BINDING;
  }
}

void chain_make_shallow(ThreadState* ts, uint16_t head, BindingCell c) {
  Value* t = cell_slots(ts, c);
  for (uint16_t i : binding_entries(ts, head)) {
    StackEntry& e = ts->stack[i];
    if (e.arg != NO_BINDING) continue;
    e.arg = sym_global_cell(e.tag, c);
    sym_set_global_cell(e.tag, c, t[e.tag]);
  }
}

}  // namespace

void specials_make_deep(ThreadState* ts) {
  if (zv_specials_deep) return;
  specials_of(ts);
  chain_make_deep(ts, ts->zvdinenv, BindingCell::VALUE);
  chain_make_deep(ts, ts->zvfdinenv, BindingCell::FUNCTION);
  zv_specials_deep = true;
}

void specials_make_shallow(ThreadState* ts) {
  if (!zv_specials_deep) return;
  zv_specials_deep = false;
  if (!ts->specials) return;
  chain_make_shallow(ts, ts->zvdinenv, BindingCell::VALUE);
  chain_make_shallow(ts, ts->zvfdinenv, BindingCell::FUNCTION);
  specials_release(ts);
}

void sym_rehash() {
  for (uint32_t i = 0; i < zvm.hash_size; i++) zvm.hash[i] = HASH_SLOT_EMPTY;
  for (uint32_t i = 0; i < zvm.sym_count; i++) {
    if (!(sym_flags(i) & SYMF_INTERNED)) continue;
    Value name = sym_name(i);
    uint32_t h = sym_hash(string_bytes(name), string_length(name));
    uint32_t slot = probe_first(h), step = probe_step(h);
    for (uint32_t k = 0; k < zvm.hash_size; k++, slot = probe_next(slot, step)) {
      if (zvm.hash[slot] == HASH_SLOT_EMPTY) {
        zvm.hash[slot] = static_cast<uint16_t>(i);
        break;
      }
    }
  }
}

void sym_replace_slot(Value name, uint16_t old_content, uint16_t new_content) {
  uint32_t h = sym_hash(string_bytes(name), string_length(name));
  uint32_t slot = probe_first(h), step = probe_step(h);
  for (uint32_t k = 0; k < zvm.hash_size; k++, slot = probe_next(slot, step)) {
    if (zvm.hash[slot] == old_content) {
      __atomic_store_n(&zvm.hash[slot], new_content, __ATOMIC_RELEASE);  // as take_index
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Property lists: indicators and values alternate.  A list that ends early
// or in a non-cons tail simply has no more properties.

Value plist_get(Value list, Value indicator, Value dflt) {
  while (is_cons(list)) {
    Value rest = cdr(list);
    if (!is_cons(rest)) break;
    if (car(list) == indicator) return car(rest);
    list = cdr(rest);
  }
  return dflt;
}

Value plist_put(Value list, Value indicator, Value value) {
  for (Value l = list; is_cons(l);) {
    Value rest = cdr(l);
    if (!is_cons(rest)) break;
    if (car(l) == indicator) {
      set_car(rest, value);
      return list;
    }
    l = cdr(rest);
  }
  root_push(&indicator);
  Value pair = cons(value, list);
  pair = cons(indicator, pair);
  root_pop();
  return pair;
}

Value plist_remove(Value list, Value indicator) {
  Value before = NIL;  // the value cell of the previous pair
  for (Value l = list; is_cons(l);) {
    Value rest = cdr(l);
    if (!is_cons(rest)) break;
    if (car(l) == indicator) {
      if (before == NIL) return cdr(rest);
      set_cdr(before, cdr(rest));
      return list;
    }
    before = rest;
    l = cdr(rest);
  }
  return list;
}

Value find_by_number(uint32_t n, Value list) {
  for (; is_cons(list); list = cdr(list)) {
    Value e = car(list);
    if (is_cons(e) && (car(e) & 0xFFFF) == n) return e;
  }
  return NIL;
}
