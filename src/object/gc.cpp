// The garbage collector.
//
// Every collection marks from the roots, then reclaims by one of four
// strategies.  Marks live in the objects themselves: bit 31 of a cons cell's
// cdr word, bit 7 of a symbol's flags, bits 8-31 of a heap object's header
// word 0.  Compaction leaves forwarding addresses in the same places (the
// cdr of a moved cell, the name field of a moved symbol entry, header word 0
// of a moved heap object), and one forwarding function reads them.
//
// A collection never allocates.  The mark stack is the free part of the
// marking thread's Lisp stack; when that is full the marker walks the rest
// of the structure by pointer reversal.
#include "object/gc.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "object/error_hook.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "threads/safepoint.h"

GcCounters zv_gc;
uint32_t zv_gc_stress = 0;

namespace {

// ---------------------------------------------------------------------------
// Classifying words

constexpr uint32_t HDR_MARKS = 0xFFFFFF00;  // header word 0 bits 8-31

bool in_collection = false;

inline bool heap_tag(uint32_t t) {
  return t == TAG_INT64 || t == TAG_DOUBLE || t == TAG_COMPLEX || t == TAG_VECTOR ||
         t == TAG_OBJECT;
}

// Per-thread scratch conses lie below the cons area, so the area test also
// keeps them out of the collector's way.
inline bool cons_in_area(Value v) {
  return v >= zvm.cons_first && v < zvm.cons_end && (v & 7) == 0;
}
inline uint32_t* cell_at(uint32_t off) { return cons_cell(off); }
inline uint8_t* heap_at(uint32_t off) { return zvm.heap_base + off; }
inline uint32_t hdr0_at(uint32_t off) { return load_u32(heap_at(off)); }
inline bool heap_obj_ok(uint32_t off) { return off >= 8 && off < zvm.heap_fill; }

// True when v names an object that the collector manages and has not
// marked yet.
inline bool unmarked(Value v) {
  v &= ~MARK_BIT;
  uint32_t t = v >> 24;
  if (t == 0) return cons_in_area(v) && !(cell_at(v)[1] & MARK_BIT);
  if (t <= 4) {
    uint32_t i = v & 0xFFFF;
    return i < zvm.sym_count && !(sym_flags(i) & SYMF_MARK);
  }
  if (heap_tag(t)) {
    uint32_t off = v & 0xFFFFFF;
    return heap_obj_ok(off) && !(hdr0_at(off) & HDR_MARKS);
  }
  return false;
}

// ---------------------------------------------------------------------------
// The mark stack: entries 1 .. septr-1 of the marking thread's Lisp stack.
// An entry holds a Value to visit (index 0) or a symbol or heap object
// whose fields from `index` on are still to be visited.

struct MarkStack {
  StackEntry* e;
  uint32_t bottom, top, limit;
};

inline bool ms_push(MarkStack* s, Value v, uint32_t index) {
  if (s->top >= s->limit) return false;
  StackEntry& x = s->e[s->top++];
  x.arg = v;
  x.tag = static_cast<uint16_t>(index);
  x.link = static_cast<uint16_t>(index >> 16);
  return true;
}

MarkStack mark_stack_of(ThreadState* ts) {
  MarkStack s{ts->stack, 1, 1, 1};
  if (ts->stack && ts->septr > 1) s.limit = ts->septr;
  return s;
}

// ---------------------------------------------------------------------------
// Symbols met during pointer reversal are marked and queued here instead of
// being walked through: their fields are visited once the reversal is over.
// 32768 bits, the largest symbol table.

uint64_t pending[32768 / 64];
uint32_t pending_count = 0;

inline void mark_symbol_entry(uint32_t i) { sym_set_flags(i, sym_flags(i) | SYMF_MARK); }

// ---------------------------------------------------------------------------
// Pointer reversal.
//
// While the walk is inside a child, the parent's field that led there holds
// the way back: the grandparent's identity (kind in bits 24-25, offset in
// bits 0-23) and, for a heap parent, the code of the parent's own tag so
// that the word in the grandparent can be rebuilt exactly.  A cons parent
// marks the field with the nibble 0x7, which no Value has, so that the car
// tells whether the walk is in the car or in the cdr.  A heap parent keeps
// the field's index + 1 in header word 0.

enum : uint32_t { BACK_CONS = 0, BACK_HEAP = 1, BACK_NONE = 2 };
constexpr uint32_t BACK_CONS_WORD = 0x70000000;
constexpr uint8_t HEAP_TAGS[5] = {TAG_INT64, TAG_DOUBLE, TAG_COMPLEX, TAG_VECTOR, TAG_OBJECT};

inline uint32_t heap_tag_code(uint32_t t) {
  for (uint32_t k = 0; k < 5; k++)
    if (HEAP_TAGS[k] == t) return k;
  return 3;
}
inline bool is_back_word(uint32_t w) { return ((w >> 28) & 7) == 7; }

// Marks v (known unmarked).  Returns true when v has fields to walk.
bool rev_enter(Value v) {
  uint32_t t = v >> 24;
  if (t == 0) {
    cell_at(v)[1] |= MARK_BIT;
    return true;
  }
  if (t <= 4) {
    uint32_t i = v & 0xFFFF;
    mark_symbol_entry(i);
    pending[i >> 6] |= uint64_t(1) << (i & 63);
    pending_count++;
    return false;
  }
  uint8_t* p = heap_at(v & 0xFFFFFF);
  store_u32(p, p[0] | MARK_BIT);
  return object_value_words_at(p) != 0;
}

inline uint32_t node_fields(Value v) {
  return (v >> 24) == 0 ? 2 : object_value_words_at(heap_at(v & 0xFFFFFF));
}
inline Value node_field(Value v, uint32_t i) {
  if ((v >> 24) == 0) return cell_at(v)[i] & ~MARK_BIT;
  return load_u32(heap_at(v & 0xFFFFFF) + 8 + 4 * i);
}

void rev_mark(Value root) {
  root &= ~MARK_BIT;
  if (!unmarked(root)) return;
  zv_gc.fallbacks++;
  if (!rev_enter(root)) return;
  Value cur = root;
  uint32_t back = BACK_NONE << 24;
  uint32_t i = 0;
  for (;;) {
    uint32_t n = node_fields(cur);
    for (; i < n; i++) {
      Value w = node_field(cur, i);
      if (unmarked(w) && rev_enter(w)) break;
    }
    if (i < n) {  // descend into field i
      Value child = node_field(cur, i);
      if ((cur >> 24) == 0) {
        uint32_t* c = cell_at(cur);
        if (i == 0)
          c[0] = BACK_CONS_WORD | back;
        else
          c[1] = MARK_BIT | BACK_CONS_WORD | back;
        back = (BACK_CONS << 24) | cur;
      } else {
        uint32_t off = cur & 0xFFFFFF;
        uint8_t* p = heap_at(off);
        store_u32(p + 8 + 4 * i, (heap_tag_code(cur >> 24) << 26) | back);
        store_u32(p, p[0] | ((i + 1) << 8));
        back = (BACK_HEAP << 24) | off;
      }
      cur = child;
      i = 0;
      continue;
    }
    // cur is done: climb back to its parent and restore the field.
    uint32_t kind = back >> 24, poff = back & 0xFFFFFF;
    if (kind == BACK_NONE) return;
    if (kind == BACK_CONS) {
      uint32_t* c = cell_at(poff);
      uint32_t word;
      if (is_back_word(c[0])) {
        word = c[0];
        c[0] = cur;
        i = 1;
      } else {
        word = c[1] & ~MARK_BIT;
        c[1] = MARK_BIT | cur;
        i = 2;
      }
      back = word & 0x03FFFFFF;
      cur = poff;
    } else {
      uint8_t* p = heap_at(poff);
      uint32_t j = (load_u32(p) >> 8) - 1;
      uint32_t word = load_u32(p + 8 + 4 * j);
      store_u32(p + 8 + 4 * j, cur);
      store_u32(p, p[0] | MARK_BIT);
      back = word & 0x03FFFFFF;
      cur = (uint32_t(HEAP_TAGS[(word >> 26) & 7]) << 24) | poff;
      i = j + 1;
    }
  }
}

// ---------------------------------------------------------------------------
// Depth-first marking with the explicit stack.  A cons continues with its
// car and keeps its cdr on the stack, so a long list of atoms needs no
// stack at all and a list of lists needs one entry per level.

inline Value sym_field(uint32_t i, uint32_t k) {
  return k == 1 ? sym_global_value(i) : k == 2 ? sym_global_function(i) : sym_plist(i);
}

// Next Value to visit from the stack; false when the stack is empty.
bool ms_next(MarkStack* s, Value* out) {
  while (s->top > s->bottom) {
    StackEntry& x = s->e[s->top - 1];
    uint32_t k = x.tag | (uint32_t(x.link) << 16);
    Value o = x.arg;
    if (k == 0) {
      s->top--;
      *out = o;
      return true;
    }
    Value w;
    uint32_t last;
    if ((o >> 24) == TAG_SYMBOL) {
      w = sym_field(o & 0xFFFF, k);
      last = 3;
    } else {
      uint8_t* p = heap_at(o & 0xFFFFFF);
      w = load_u32(p + 8 + 4 * k);
      last = object_value_words_at(p) - 1;
    }
    if (k >= last) {
      s->top--;
    } else {
      x.tag = static_cast<uint16_t>(k + 1);
      x.link = static_cast<uint16_t>((k + 1) >> 16);
    }
    if (unmarked(w)) {
      *out = w;
      return true;
    }
  }
  return false;
}

void mark_from(MarkStack* s, Value v) {
  for (;;) {
    v &= ~MARK_BIT;
    uint32_t t = v >> 24;
    if (t == 0) {
      if (cons_in_area(v)) {
        uint32_t* c = cell_at(v);
        if (!(c[1] & MARK_BIT)) {
          c[1] |= MARK_BIT;
          Value a = c[0], d = c[1] & ~MARK_BIT;
          if (unmarked(a)) {
            if (unmarked(d) && !ms_push(s, d, 0)) rev_mark(d);
            v = a;
          } else {
            v = d;
          }
          continue;
        }
      }
    } else if (t <= 4) {
      uint32_t i = v & 0xFFFF;
      if (i < zvm.sym_count && !(sym_flags(i) & SYMF_MARK)) {
        mark_symbol_entry(i);
        if (!ms_push(s, TAG_SYMBOL << 24 | i, 1)) {
          rev_mark(sym_global_value(i));
          rev_mark(sym_global_function(i));
          rev_mark(sym_plist(i));
        }
        v = sym_name(i);
        continue;
      }
    } else if (heap_tag(t)) {
      uint32_t off = v & 0xFFFFFF;
      if (heap_obj_ok(off)) {
        uint8_t* p = heap_at(off);
        if (!(load_u32(p) & HDR_MARKS)) {
          store_u32(p, p[0] | MARK_BIT);
          uint32_t n = object_value_words_at(p);
          if (n) {
            if (n > 1 && !ms_push(s, v, 1))
              for (uint32_t j = 1; j < n; j++) rev_mark(load_u32(p + 8 + 4 * j));
            v = load_u32(p + 8);
            continue;
          }
        }
      }
    }
    if (!ms_next(s, &v)) return;
  }
}

void drain_pending(MarkStack* s) {
  while (pending_count) {
    for (uint32_t w = 0; w < 32768 / 64; w++) {
      while (pending[w]) {
        uint32_t b = static_cast<uint32_t>(__builtin_ctzll(pending[w]));
        pending[w] &= pending[w] - 1;
        pending_count--;
        uint32_t i = w * 64 + b;
        mark_from(s, sym_name(i));
        mark_from(s, sym_global_value(i));
        mark_from(s, sym_global_function(i));
        mark_from(s, sym_plist(i));
      }
    }
  }
}

void mark_root(MarkStack* s, Value v) {
  if (!unmarked(v)) return;
  mark_from(s, v);
  if (pending_count) drain_pending(s);
}

inline Value symbol_word(uint32_t i) { return (TAG_SYMBOL << 24) | i; }

// The roots every thread has: last value, spare word, Lisp stack from the
// newest entry to the oldest, and the root-pointer stack.  Every
// collection comes here for every thread first: its run of free cells is
// emptied, to be swept with the rest.
void mark_thread_roots(ThreadState* ts) {
  mem_drop_run(ts);
  MarkStack s = mark_stack_of(ts);
  mark_root(&s, ts->glvalue);
  mark_root(&s, ts->spare);
  // The scratch cons holds the form EVAL was given until the evaluator has
  // it in a frame, which may be after a park at its poll.
  if (ts->eval_slot) {
    mark_root(&s, car(ts->eval_slot));
    mark_root(&s, cdr(ts->eval_slot));
  }
  if (ts->stack) {
    for (uint32_t k = ts->septr; k < ts->stack_top; k++) {
      const StackEntry& x = ts->stack[k];
      if (is_context_tag(x.tag)) continue;  // its argument is not a Value
      mark_root(&s, x.arg);
      if (x.tag != 0 && x.tag < 0x8000) mark_root(&s, symbol_word(x.tag));
    }
  }
  for (uint32_t k = 0; k < ts->root_count; k++) mark_root(&s, *ts->root_base[k]);
  // The values and functions of the thread's bindings (a bound symbol is
  // kept by its binding entry's tag).
  for (BindingCell c : {BindingCell::VALUE, BindingCell::FUNCTION})
    if (const Value* t = cell_slots(ts, c))
      for (uint32_t i = 0; i < zvm.sym_count; i++)
        if (t[i] != NO_BINDING) mark_root(&s, t[i]);
}

// A symbol with nothing in it is kept by a symbol-table collection only
// when something refers to it or its flags say it matters.
bool empty_symbol(uint32_t i, uint16_t flags) {
  return is_no_value(sym_global_value(i)) && sym_global_function(i) == NIL &&
         sym_plist(i) == NIL &&
         !(flags & (SYMF_CLASS_MASK | SYMF_BIT4 | 0xFF00));
}

// Mode 1: symbol-table and full collections; mode 2: cons and heap.
void mark_world(int mode) {
  zv_gc.fallbacks = 0;
  pending_count = 0;
  std::memset(pending, 0, sizeof pending);
  ThreadState* ts = zvts;
  mark_thread_roots(ts);
  MarkStack s = mark_stack_of(ts);
  // The static prefix is never collected: every object in it is a root.
  for (uint32_t at = 8, end = 8 + zvm.heap_static; at < end && at < zvm.heap_fill;) {
    mark_root(&s, (TAG_OBJECT << 24) | at);
    at += object_size_at(heap_at(at));
  }
  uint32_t floor = zvm.first_collectable;
  for (uint32_t i = zvm.sym_count; i-- > floor;) {
    uint16_t f = sym_flags(i);
    if (f == 0 || (mode == 1 && empty_symbol(i, f))) continue;
    mark_root(&s, symbol_word(i));
  }
  for (uint32_t i = 0; i < floor && i < zvm.sym_count; i++) mark_root(&s, symbol_word(i));
  if (zvm.sym_count) mark_root(&s, symbol_word(0));  // NIL's entry, whatever the floor
  for (uint32_t k = 0; k < ROOT_COUNT; k++) mark_root(&s, zvm.roots[k]);
}

// ---------------------------------------------------------------------------
// Forwarding.  One function serves all collections: each kind of object
// has a range of old positions that have moved (empty when it did not).

struct Forwarding {
  uint32_t heap_from = 0xFFFFFFFF, heap_to = 0;  // heap offsets
  uint32_t sym_from = 0, sym_to = 0;             // symbol indices
  uint32_t cons_from = 0, cons_to = 0;           // window offsets
};
Forwarding fwd;
bool fwd_published = false;

Value forward(Value v) {
  Value m = v & MARK_BIT, x = v & ~MARK_BIT;
  uint32_t t = x >> 24;
  if (t == 0) {
    if (x >= fwd.cons_from && x < fwd.cons_to) return m | (cell_at(x)[1] & ~MARK_BIT);
  } else if (t <= 4) {
    uint32_t i = x & 0xFFFF;
    if (i >= fwd.sym_from && i < fwd.sym_to) return m | (x & 0xFFFF0000) | (sym_name(i) & 0xFFFF);
  } else if (heap_tag(t)) {
    uint32_t off = x & 0xFFFFFF;
    if (off >= fwd.heap_from && off < fwd.heap_to)
      return m | (x & 0xFF000000) | (hdr0_at(off) >> 8);
  }
  return v;
}

inline void forward_word(uint8_t* p) { store_u32(p, forward(load_u32(p))); }

// A thread's binding slots follow their symbols as the binding entries'
// tags do: a symbol moved down by the compaction takes its slot along, and
// the slots from the new count up are left empty.  Only a bound symbol has
// a slot in use, and a bound symbol is live, so a moved one's new index is
// in its old name word.
void forward_specials(ThreadState* ts) {
  for (BindingCell c : {BindingCell::VALUE, BindingCell::FUNCTION}) {
    Value* t = cell_slots(ts, c);
    if (!t) return;
    for (uint32_t i = 0; i < fwd.sym_from; i++) t[i] = forward(t[i]);
    for (uint32_t i = fwd.sym_from; i < fwd.sym_to; i++) {
      if (t[i] != NO_BINDING) t[sym_name(i) & 0xFFFF] = forward(t[i]);
      t[i] = NO_BINDING;
    }
    for (uint32_t i = fwd.sym_to; i < zvm.sym_count; i++) t[i] = forward(t[i]);
  }
}

void forward_thread_roots(ThreadState* ts) {
  ts->glvalue = forward(ts->glvalue);
  ts->spare = forward(ts->spare);
  if (ts->eval_slot) {
    uint32_t* w = cell_at(ts->eval_slot);
    w[0] = forward(w[0]);
    w[1] = forward(w[1]);
  }
  if (ts->stack) {
    for (uint32_t k = ts->septr; k < ts->stack_top; k++) {
      StackEntry& x = ts->stack[k];
      if (is_context_tag(x.tag)) continue;
      x.arg = forward(x.arg);
      // A binding entry names its symbol by index in the tag.
      if (x.tag != 0 && x.tag < 0x8000 && x.tag >= fwd.sym_from && x.tag < fwd.sym_to)
        x.tag = static_cast<uint16_t>(sym_name(x.tag) & 0xFFFF);
    }
  }
  for (uint32_t k = 0; k < ts->root_count; k++) *ts->root_base[k] = forward(*ts->root_base[k]);
  forward_specials(ts);
}

void forward_roots() {
  forward_thread_roots(zvts);
  for (uint32_t k = 0; k < ROOT_COUNT; k++) zvm.roots[k] = forward(zvm.roots[k]);
}

// Marked symbols get their fields forwarded and their marks cleared;
// unmarked entries become free (flags 0).
void symbol_pass(bool free_unmarked) {
  for (uint32_t i = 0; i < zvm.sym_count; i++) {
    uint16_t f = sym_flags(i);
    if (f & SYMF_MARK) {
      uint8_t* e = sym_entry(i);
      forward_word(e + SYM_NAME);
      forward_word(e + SYM_VALUE);
      forward_word(e + SYM_FUNCTION);
      forward_word(e + SYM_PLIST);
      sym_set_flags(i, f & ~SYMF_MARK);
    } else if (free_unmarked) {
      sym_set_flags(i, 0);
    }
  }
}

// Value words of every marked heap object below `end` (old positions).
void heap_pass(uint32_t end) {
  for (uint32_t at = 8; at < end;) {
    uint8_t* p = heap_at(at);
    uint32_t size = object_size_at(p);
    if (load_u32(p) & HDR_MARKS) {
      uint32_t n = object_value_words_at(p);
      for (uint32_t j = 0; j < n; j++) forward_word(p + 8 + 4 * j);
    }
    at += size;
  }
}

// The running total counts cells that a collection found free and that were
// not free before it.
void count_freed(uint32_t before, uint32_t now) {
  if (now > before) zv_gc.freed_cells += now - before;
}

// Walk the cons area from the top down: unmarked cells go on the free list
// (which therefore ascends), marked cells lose their mark and, when
// `update`, have car and cdr forwarded.
void cons_sweep(bool update) {
  Value head = NIL;
  uint32_t nfree = 0;
  for (uint32_t c = zvm.cons_end; c > zvm.cons_first;) {
    c -= 8;
    uint32_t* w = cell_at(c);
    if (w[1] & MARK_BIT) {
      w[1] &= ~MARK_BIT;
      if (update) {
        w[0] = forward(w[0]);
        w[1] = forward(w[1]);
      }
    } else {
      w[1] = head;
      head = c;
      nfree++;
    }
  }
  count_freed(zvm.free_count, nfree);
  zvm.free_head = head;
  zvm.free_count = nfree;
}

// ---------------------------------------------------------------------------
// The heap

constexpr uint32_t FILLER_MAX = 0x800000;

// Cover [from, to) with filler objects (raw byte blocks).
void make_fillers(uint32_t from, uint32_t to) {
  while (from < to) {
    uint32_t run = to - from;
    if (run > FILLER_MAX) run = FILLER_MAX / 2;  // the rest stays above 8 bytes
    uint8_t* p = heap_at(from);
    store_u32(p, HT_BYTES);
    store_u32(p + 4, run - 8);
    from += run;
  }
}

// Give every marked object of the dynamic part its new offset (in header
// word 0 bits 8-31; never 0, so it also tells a live object from a filler)
// and turn each run of dead objects into one filler.  A Value-holding
// object that would land at 2 mod 4 lands behind an alignment filler
// (heap_move writes it); it lay 4-aligned before, so the bytes freed below
// it (2 mod 4 of them, at least 8) hold the filler.  Returns the new
// number of heap bytes in use.
uint32_t heap_forwarding() {
  uint32_t at = 8 + zvm.heap_static, to = at, dead = 0;
  bool in_dead = false;
  while (at < zvm.heap_fill) {
    uint8_t* p = heap_at(at);
    uint32_t size = object_size_at(p);
    uint32_t h = load_u32(p);
    if (h & HDR_MARKS) {
      if (in_dead) make_fillers(dead, at);
      in_dead = false;
      if (needs_align_filler(p[0], to)) to += ALIGN_FILLER;
      store_u32(p, (h & 0xFF) | (to << 8));
      to += size;
    } else if (!in_dead) {
      in_dead = true;
      dead = at;
    }
    at += size;
  }
  if (in_dead) make_fillers(dead, zvm.heap_fill);
  fwd.heap_from = 8 + zvm.heap_static;
  fwd.heap_to = zvm.heap_fill;
  return to - 8;
}

void clear_static_marks() {
  for (uint32_t at = 8, end = 8 + zvm.heap_static; at < end && at < zvm.heap_fill;) {
    uint8_t* p = heap_at(at);
    store_u32(p, p[0]);
    at += object_size_at(p);
  }
}

// After a collection that moved nothing in the heap: clear every mark and
// turn the dead runs of the dynamic part into fillers.
void clear_heap_marks() {
  clear_static_marks();
  uint32_t at = 8 + zvm.heap_static, dead = 0;
  bool in_dead = false;
  while (at < zvm.heap_fill) {
    uint8_t* p = heap_at(at);
    uint32_t size = object_size_at(p);
    if (load_u32(p) & HDR_MARKS) {
      if (in_dead) make_fillers(dead, at);
      in_dead = false;
      store_u32(p, p[0]);
    } else if (!in_dead) {
      in_dead = true;
      dead = at;
    }
    at += size;
  }
  if (in_dead) make_fillers(dead, zvm.heap_fill);
}

void reset_caches() {
  zvm.cache_a = 0xFFFF;
  zvm.cache_b = 0;
}

// The heap's size.  The header's capacity is what the data needs: the
// bytes in use and those asked for, and a quarter more (never under 40 KB),
// kept while it stays between an eighth full and three quarters.  Saved
// images state it, so a world started from one gets that much.
//
// A running world may take room on top of it, for programs that make
// garbage quickly (large numbers, say): each heap collection walks the
// whole world, so when one that a shortage started frees much less than
// the world's size, and what it frees is most of what was allocated since
// the last one, the room grows fourfold (a few steps reach the most),
// up to what 24-bit offsets reach.  When the heap fills with data that
// stays, the room halves again.  The room
// is the block's capacity beyond the header's, so it is never saved.
constexpr uint32_t HEAP_CAP_LIMIT = 0xFFFFF0;
constexpr uint32_t ROOM_FIRST = 262144;
// Collections are cheap enough once each frees this many times the bytes
// it walks.
constexpr uint32_t ROOM_RETURN = 4;

// The heap fill after the last collection that compacted the heap.
uint32_t fill_after_collection = 8;

// The capacity for u bytes in use and n needed, or 0 when none can hold
// them.
uint32_t needed_heap_capacity(uint32_t u, uint32_t n) {
  int64_t c = hdr_u32(HDR_HEAP_CAP);
  if (c - int64_t(u) - n >= c / 4 && int64_t(u) + n >= c / 8 && c <= HEAP_CAP_LIMIT)
    return uint32_t(c);
  uint64_t want = uint64_t(u) + n + u / 4;
  if (want < 40960) want = 40960;
  want = (want + 4) & ~uint64_t(15);
  // The first 8 bytes of the block are never an object: make sure the
  // rounding leaves room for what was asked.
  uint64_t least = (uint64_t(u) + n + 8 + 15) & ~uint64_t(15);
  if (want < least) want = least;
  return want > HEAP_CAP_LIMIT ? 0 : static_cast<uint32_t>(want);
}

// The room after a collection that a shortage of n bytes started, with u
// bytes in use afterwards.
uint32_t new_heap_room(uint32_t u, uint32_t n) {
  uint32_t cap = hdr_u32(HDR_HEAP_CAP);
  uint32_t room = zvm.heap_limit > cap ? zvm.heap_limit - cap : 0;
  if (n == 0) return room;
  uint32_t fill = zvm.heap_fill;
  uint64_t freed = fill - 8 - u;
  uint64_t allocated = fill - (fill_after_collection <= fill ? fill_after_collection : 8);
  uint64_t world = uint64_t(zvm.cons_cap) * 8 + u + uint64_t(zvm.sym_count) * SYM_ENTRY;
  if (2 * freed < allocated) return room / 2;
  if (freed < ROOM_RETURN * world) return room < ROOM_FIRST ? ROOM_FIRST : 4 * room;
  return room;
}

// Slide the live objects to their new offsets, into a new block when the
// size policy asks for one and it can be had.  n: the bytes a shortage
// asks for (0 for a collection of another cause).
void heap_move(uint32_t u, uint32_t n, bool shortage) {
  uint32_t need = needed_heap_capacity(u, n);
  uint32_t room = new_heap_room(u, shortage ? n : 0);
  uint32_t cap = 0;
  if (need) {
    if (room > HEAP_CAP_LIMIT - need) room = HEAP_CAP_LIMIT - need;
    cap = need + room;
    // A block with room keeps while its room is within a quarter of what
    // is wanted: the need moves with every collection.
    uint32_t slack = room / 4;
    if (cap == zvm.heap_limit ||
        (room && zvm.heap_limit >= cap - slack && zvm.heap_limit - slack <= cap)) {
      cap = 0;
      store_u32(zvm.header + HDR_HEAP_CAP, need);
    }
  }
  uint8_t* old_base = zvm.heap_base;
  uint8_t* new_base = cap ? static_cast<uint8_t*>(std::malloc(size_t(cap) + 16)) : nullptr;
  uint8_t* dst = new_base ? new_base : old_base;
  if (new_base) std::memcpy(new_base + 8, old_base + 8, zvm.heap_static);
  uint32_t next = 8 + zvm.heap_static;  // where the next object lands unless aligned
  for (uint32_t at = next; at < zvm.heap_fill;) {
    uint8_t* p = old_base + at;
    uint32_t size = object_size_at(p);
    uint32_t h = load_u32(p);
    if (h & HDR_MARKS) {
      if ((h >> 8) != next) put_align_filler(dst + next);
      uint8_t* q = dst + (h >> 8);
      std::memmove(q, p, size);
      store_u32(q, h & 0xFF);
      next = (h >> 8) + size;
    }
    at += size;
  }
  if (new_base) {
    std::free(zvm.heap_block);
    zvm.heap_block = zvm.heap_base = new_base;
    zvm.heap_limit = cap;
    store_u32(zvm.header + HDR_HEAP_CAP, need);
  }
  fill_after_collection = 8 + u;
  reset_caches();
}

// ---------------------------------------------------------------------------
// The symbol table

// Two fingers: the lower finds free entries from the first collectable
// index up, the upper finds marked entries from the newest down; each
// marked entry from the top moves into the free entry below and leaves its
// new index in its old name field.  Returns the new count.
uint32_t compact_symbols() {
  uint32_t lo = zvm.first_collectable ? zvm.first_collectable : 1;
  uint32_t hi = zvm.sym_count;
  if (lo > hi) lo = hi;
  for (;;) {
    while (lo < hi && (sym_flags(lo) & SYMF_MARK)) lo++;
    while (hi > lo && !(sym_flags(hi - 1) & SYMF_MARK)) hi--;
    if (lo >= hi) break;
    std::memcpy(sym_entry(lo), sym_entry(hi - 1), SYM_ENTRY);
    sym_set_name(hi - 1, lo);
    lo++;
    hi--;
  }
  fwd.sym_from = lo;
  fwd.sym_to = zvm.sym_count;
  return lo;
}

// The entries above the new count held only forwarding; make them free.
void clear_moved_symbols(uint32_t old_count) {
  std::memset(sym_entry(zvm.sym_count), 0, SYM_ENTRY * (old_count - zvm.sym_count));
}

// ---------------------------------------------------------------------------
// Sessions: every collection runs under the global lock with the world
// stopped and SIGINT held back.  Errors are signalled only after the session
// ends and the lock is given up entirely, since they may leave by a
// non-local exit.

struct Session {
  sigset_t old_mask;
};

void show_letter(int column, char letter) {
  if (hdr_u8(HDR_SWITCHES) & SW_MEMORY_STATS) gc_status_line(column, letter);
}

void session_begin(Session* s, uint32_t* counter, int column, char letter) {
  world_lock();
  world_stop();
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  pthread_sigmask(SIG_BLOCK, &block, &s->old_mask);
  in_collection = true;
  fwd = Forwarding();
  (*counter)++;
  show_letter(column, letter);
}

void session_end(Session* s) {
  fwd = Forwarding();
  in_collection = false;
  pthread_sigmask(SIG_SETMASK, &s->old_mask, nullptr);
  world_resume();
  world_unlock();
}

// Apply the forwarding of this collection to the other threads' roots.
void others_update() {
  fwd_published = true;
  world_run_update_phase();
  fwd_published = false;
}

Value signal_error(uint32_t code) {
  uint32_t depth = world_lock_release_all();
  Value r = zv_error(code);
  world_lock_reacquire(depth);
  return r;
}

void signal_warning(uint32_t code) {
  uint32_t depth = world_lock_release_all();
  zv_warn(code);
  world_lock_reacquire(depth);
}

// ---------------------------------------------------------------------------
// Cons collection

bool cons_marked(uint32_t c) { return cell_at(c)[1] & MARK_BIT; }

uint32_t count_unmarked_cells() {
  uint32_t r = 0;
  for (uint32_t c = zvm.cons_first; c < zvm.cons_end; c += 8) r += !cons_marked(c);
  return r;
}

// New cons capacity for c cells with r free, or c to keep the area.
uint32_t new_cons_capacity(uint32_t c, uint32_t r) {
  uint32_t init = hdr_u32(HDR_INIT_CONS);
  if (r < c / 4) return c + c / 4;
  uint32_t used = c - r;
  if (used < c / 8 && r > init) {
    uint32_t want = used + used / 4;
    return want > init ? want : init;
  }
  return c;
}

// Copy the live cells to the bottom of a new area, leaving forwarding
// addresses behind, and point everything at the copies.  False when no
// new area could be placed.
bool move_cons_area(uint32_t cap) {
  if (cap == 0 || cap > WINDOW_SIZE / 8) return false;
  uint32_t first = window_take(cap * 8);
  if (!first) return false;
  uint32_t old_first = zvm.cons_first, old_end = zvm.cons_end;
  uint32_t to = first;
  for (uint32_t c = old_first; c < old_end; c += 8) {
    uint32_t* w = cell_at(c);
    if (!(w[1] & MARK_BIT)) continue;
    uint32_t* n = cell_at(to);
    n[0] = w[0];
    n[1] = w[1] & ~MARK_BIT;
    w[1] = to;
    to += 8;
  }
  fwd.cons_from = old_first;
  fwd.cons_to = old_end;
  for (uint32_t c = first; c < to; c += 8) {
    uint32_t* w = cell_at(c);
    w[0] = forward(w[0]);
    w[1] = forward(w[1]);
  }
  symbol_pass(false);
  heap_pass(zvm.heap_fill);
  forward_roots();
  others_update();
  clear_heap_marks();
  window_release(old_first, old_end - old_first);
  zvm.cons_first = first;
  zvm.cons_end = first + cap * 8;
  zvm.cons_cap = cap;
  store_u32(zvm.header + HDR_CONS_CAP, cap);
  zvm.free_ptr = to;
  mem_link_free_cells(to);
  return true;
}

// Grow the area where it lies, into the free part of the window above it:
// to cap cells, or as far as the window allows.  Nothing moves; the new
// cells are empty and the sweep puts them on the free list.  False when
// there is no room above.
bool grow_cons_area_in_place(uint32_t cap) {
  uint32_t room = window_span(zvm.cons_first) / 8;
  if (cap > room) cap = room;
  if (cap <= zvm.cons_cap || !window_extend(zvm.cons_first, cap * 8)) return false;
  uint32_t old_end = zvm.cons_end;
  zvm.cons_end = zvm.cons_first + cap * 8;
  std::memset(zv_window + old_end, 0, zvm.cons_end - old_end);
  // Cells that were never in use are not counted as freed by the sweep.
  zvm.free_count += cap - zvm.cons_cap;
  zvm.cons_cap = cap;
  store_u32(zvm.header + HDR_CONS_CAP, cap);
  return true;
}

void clear_symbol_marks() {
  for (uint32_t i = 0; i < zvm.sym_count; i++) {
    uint16_t f = sym_flags(i);
    if (f & SYMF_MARK) sym_set_flags(i, f & ~SYMF_MARK);
  }
}

// The collection itself, without the reserve policy.
void cons_collect() {
  Session s;
  session_begin(&s, &zv_gc.cons, 2, 'C');
  mark_world(2);
  world_run_mark_phase();
  uint32_t c = zvm.cons_cap, r = count_unmarked_cells();
  uint32_t cap = new_cons_capacity(c, r);
  uint32_t before = zvm.free_count;
  // A larger area grows in place when the window has room above it, else
  // moves to a range of the full size, else takes what room there is
  // above.  Moving needs the old and the new range at once, so in place
  // the area can fill the whole window.
  bool in_place = cap > c && cap * 8 <= window_span(zvm.cons_first) && grow_cons_area_in_place(cap);
  if (!in_place && cap != c && move_cons_area(cap)) {
    count_freed(before, r);  // the cells of a larger area were never in use
  } else {
    if (!in_place && cap > c) grow_cons_area_in_place(cap);
    cons_sweep(false);
    clear_symbol_marks();
    clear_heap_marks();
  }
  reset_caches();
  session_end(&s);
}

// ---------------------------------------------------------------------------
// Heap and symbol-table collections

void heap_collect(uint32_t n) {
  Session s;
  session_begin(&s, &zv_gc.heap, 9, 'H');
  mark_world(2);
  world_run_mark_phase();
  uint32_t u = heap_forwarding();
  cons_sweep(true);
  symbol_pass(true);
  heap_pass(zvm.heap_fill);
  forward_roots();
  others_update();
  heap_move(u, n, true);
  clear_static_marks();
  zvm.heap_fill = 8 + u;
  session_end(&s);
}

void symbol_collect(uint32_t n) {
  Session s;
  session_begin(&s, &zv_gc.symbol, 18, 'S');
  mark_world(1);
  world_run_mark_phase();
  uint32_t u = heap_forwarding();
  uint32_t old_count = zvm.sym_count;
  uint32_t count = compact_symbols();
  zvm.sym_count = count;
  cons_sweep(true);
  symbol_pass(true);
  heap_pass(zvm.heap_fill);
  forward_roots();  // also renumbers the binding entries
  others_update();
  clear_moved_symbols(old_count);
  heap_move(u, n + 8, false);
  clear_static_marks();
  zvm.heap_fill = 8 + u;
  sym_rehash();
  session_end(&s);
}

// ---------------------------------------------------------------------------
// Full collection

// Two fingers again: the lowest free cell receives the highest live cell,
// which keeps the new address in its cdr.  Returns the new free pointer.
uint32_t compact_cons_area() {
  uint32_t live = 0;
  for (uint32_t c = zvm.cons_first; c < zvm.cons_end; c += 8) live += cons_marked(c);
  uint32_t free_ptr = zvm.cons_first + 8 * live;
  uint32_t lo = zvm.cons_first, hi = zvm.cons_end;
  for (;;) {
    while (lo < free_ptr && cons_marked(lo)) lo += 8;
    if (lo >= free_ptr) break;
    do hi -= 8;
    while (!cons_marked(hi));
    uint32_t *from = cell_at(hi), *to = cell_at(lo);
    to[0] = from[0];
    to[1] = from[1];
    from[1] = lo;
    lo += 8;
  }
  fwd.cons_from = free_ptr;
  fwd.cons_to = zvm.cons_end;
  return free_ptr;
}

void clear_dynamic_heap_marks() {
  for (uint32_t at = 8 + zvm.heap_static; at < zvm.heap_fill;) {
    uint8_t* p = heap_at(at);
    store_u32(p, p[0]);
    at += object_size_at(p);
  }
}

uint64_t full_collect() {
  Session s;
  session_begin(&s, &zv_gc.full, 2, 'C');
  show_letter(9, 'H');
  show_letter(18, 'S');
  clear_dynamic_heap_marks();
  mark_world(1);
  world_run_mark_phase();
  zv_gc.freed_cells -= zvm.free_count;  // the runs included
  uint32_t u = heap_forwarding();
  uint32_t old_count = zvm.sym_count;
  zvm.sym_count = compact_symbols();
  uint32_t free_ptr = compact_cons_area();
  for (uint32_t c = zvm.cons_first; c < free_ptr; c += 8) {
    uint32_t* w = cell_at(c);
    w[1] &= ~MARK_BIT;
    w[0] = forward(w[0]);
    w[1] = forward(w[1]);
  }
  symbol_pass(true);
  heap_pass(zvm.heap_fill);
  forward_roots();
  others_update();
  clear_moved_symbols(old_count);
  heap_move(u, 0, false);
  clear_static_marks();
  zvm.free_ptr = free_ptr;
  mem_link_free_cells(free_ptr);
  zv_gc.freed_cells += zvm.free_count;
  zvm.heap_fill = 8 + u;
  sym_rehash();
  // Read under the lock: another thread may allocate once it is given up.
  uint64_t room = uint64_t(zvm.sym_count) * 18 + uint64_t(zvm.free_count) * 8 + heap_used();
  session_end(&s);
  return room;
}

bool world_ready() {
  return zvm.symtab && zvm.heap_base && zvm.cons_end && zvm.sym_count && zvts && zvts->stack;
}

uint32_t stress_calls = 0, stress_turn = 0;
char status_text[64] = "";

}  // namespace

// ---------------------------------------------------------------------------
// Public entry points

Value gc_cons_collection() {
  for (;;) {
    cons_collect();
    mem_rearm_reserve();
    // What the allocator may hand out: the emergency reserve is not.
    uint32_t usable = zvm.free_count > zvm.cons_held ? zvm.free_count - zvm.cons_held : 0;
    if (usable <= zvm.cons_reserve) {
      zvm.cons_reserve /= 2;
      if (usable < 10) {
        // The break loop of the error gets the reserve.
        mem_release_cons_reserve();
        signal_error(ERR_CONS_FULL);
      } else {
        signal_warning(ERR_CONS_FULL);
      }
    }
    // The error or warning may have run Lisp code that used the cells up.
    world_lock();
    Value c = zvm.free_head;
    if (c != NIL && zvm.free_count > zvm.cons_held) {
      zvm.free_head = cdr(c);
      zvm.free_count--;
      world_unlock();
      return c;
    }
    world_unlock();
  }
}

// These two read the room under the global lock: a caller that is no
// allocator (GC from Lisp) does not hold it, and other threads allocate.
void gc_heap_collection(uint32_t n) {
  world_lock();
  heap_collect(n + zvm.heap_held);
  mem_rearm_reserve();
  if (zvm.heap_limit - zvm.heap_fill < n + zvm.heap_held) {
    // The break loop of the error gets the reserve.
    mem_release_heap_reserve();
    signal_error(ERR_HEAP_FULL);
  }
  world_unlock();
}

void gc_symbol_collection(uint32_t n) {
  world_lock();
  symbol_collect(n);
  if (zvm.sym_count >= zvm.sym_cap)
    signal_error(ERR_SYMTAB_FULL);
  else if (zvm.heap_limit - zvm.heap_fill < n + 8)
    signal_error(ERR_HEAP_FULL);
  world_unlock();
}

uint64_t gc_full_collection() { return full_collect(); }

// The other threads are stopped: the collector walks their roots on their
// behalf (a thread blocked in a region could not do it itself).
void gc_mark_thread_roots(ThreadState* ts) { mark_thread_roots(ts); }

void gc_update_thread_roots(ThreadState* ts) {
  if (fwd_published) forward_thread_roots(ts);
}

// ---------------------------------------------------------------------------
// Memory status line

void (*gc_status_hook)(int column) = nullptr;

void gc_status_line(int column, char letter) {
  if (column != 0) {
    if (hdr_u8(HDR_SWITCHES2) & 8) host_sleep_ms(75);
    status_text[0] = letter;
    status_text[1] = 0;
  } else {
    char mark = static_cast<char>(zv_gc.fallbacks ? 0x81 : 0x83);
    std::snprintf(status_text, sizeof status_text, "%c C%-6xH%-8xS%-4x", mark,
                  zvm.cons_cap - zvm.free_count, heap_used(), zvm.sym_cap - zvm.sym_count);
  }
  if (gc_status_hook) gc_status_hook(column);
}

const char* gc_status_text() { return status_text; }

// ---------------------------------------------------------------------------
// Stress mode

void gc_stress_init_from_env() {
  const char* s = std::getenv("ZORVA_GC_STRESS");
  zv_gc_stress = s ? static_cast<uint32_t>(std::strtoul(s, nullptr, 10)) : 0;
  stress_calls = 0;
}

// The stress collections skip the reserve warnings and the "still full"
// errors: those belong to the collection that a real shortage starts.
void gc_stress_tick() {
  if (!zv_gc_stress || in_collection || !world_ready()) return;
  if (++stress_calls < zv_gc_stress) return;
  stress_calls = 0;
  switch (stress_turn++ & 3) {
    case 0:
      cons_collect();
      break;
    case 1:
      heap_collect(0);
      break;
    case 2:
      symbol_collect(0);
      break;
    default:
      full_collect();
      break;
  }
}

// ---------------------------------------------------------------------------
// Built-in 438: (GC [kind]).  Kind 3, count 0: the arguments lie between
// the frame and septr.

Value bi_gc(Value, Value) {
  ThreadState* ts = zvts;
  uint32_t nargs = ts->zvform - ts->septr;
  if (nargs > 1) zv_cerror(ERR_TOO_MANY_ARGS, ts->stack[ts->zvform - 2].arg);
  // Read the argument only now: the break loop of the error may have moved it.
  Value arg = nargs ? ts->stack[ts->zvform - 1].arg : make_fixnum(0);
  if (arg == make_fixnum(0)) {
    Value c = gc_cons_collection();
    world_lock();
    set_cdr(c, zvm.free_head);  // it was the lowest free cell: order holds
    zvm.free_head = c;
    zvm.free_count++;
    world_unlock();
    return mem_make_integer(zvm.free_count);
  }
  if (arg == make_fixnum(1) || arg == make_fixnum(2)) {
    bool heap = arg == make_fixnum(1);
    world_lock();
    if (heap)
      gc_heap_collection(0);
    else
      gc_symbol_collection(0);
    uint32_t room = heap ? zvm.heap_limit - zvm.heap_fill : zvm.sym_cap - zvm.sym_count;
    world_unlock();
    return mem_make_integer(room);
  }
  if (arg == make_fixnum(3)) return mem_make_integer(static_cast<int64_t>(gc_full_collection()));
  return zv_error(ERR_BAD_GC_ARG, arg);
}
