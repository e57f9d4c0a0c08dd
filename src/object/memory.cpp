// Memory areas and allocation.
//
// The cons area is a range of the cons window; the vector heap, the symbol
// table and the hash array are ordinary blocks of the process heap.  Conses
// come from a free list threaded through cdr words, heap objects from a bump
// pointer; both fall back to the collector.
#include "object/memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "object/error_hook.h"
#include "object/gc.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "threads/safepoint.h"

// ---------------------------------------------------------------------------
// The cons window

namespace {

struct WindowRange {
  uint32_t start, end;
};
constexpr int MAX_RANGES = 8;
WindowRange ranges[MAX_RANGES];
int range_count = 0;
constexpr uint32_t PAGE = 4096;

uint32_t round_up(uint32_t x, uint32_t to) { return (x + to - 1) / to * to; }

}  // namespace

void window_init() {
  if (zv_window) return;
  void* p = mmap(nullptr, WINDOW_SIZE, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) {
    std::perror("cons window");
    std::exit(1);
  }
  zv_window = static_cast<uint8_t*>(p);
  // Words below 0x10000 are NIL, never conses: touching them is a kernel
  // fault, so make it trap.
  mprotect(zv_window, SCRATCH_BASE, PROT_NONE);
}

uint32_t window_take(uint32_t bytes) {
  if (bytes == 0 || range_count == MAX_RANGES) return 0;
  uint32_t need = round_up(bytes, PAGE);
  uint32_t at = round_up(CONS_AREA_FLOOR, PAGE);
  // Ranges are kept sorted by start; take the lowest gap that fits.
  for (int i = 0; i <= range_count; i++) {
    uint32_t gap_end = i < range_count ? ranges[i].start : WINDOW_SIZE;
    if (gap_end >= at && gap_end - at >= need) {
      for (int j = range_count; j > i; j--) ranges[j] = ranges[j - 1];
      ranges[i] = WindowRange{at, at + need};
      range_count++;
      return at;
    }
    if (i < range_count && ranges[i].end > at) at = ranges[i].end;
  }
  return 0;
}

uint32_t window_span(uint32_t offset) {
  for (int i = 0; i < range_count; i++) {
    if (ranges[i].start != offset) continue;
    return (i + 1 < range_count ? ranges[i + 1].start : WINDOW_SIZE) - offset;
  }
  return 0;
}

bool window_extend(uint32_t offset, uint32_t bytes) {
  uint32_t need = round_up(bytes, PAGE);
  if (need == 0 || need > window_span(offset)) return false;
  for (int i = 0; i < range_count; i++)
    if (ranges[i].start == offset && ranges[i].end - offset < need) ranges[i].end = offset + need;
  return true;
}

void window_release(uint32_t offset, uint32_t bytes) {
  for (int i = 0; i < range_count; i++) {
    if (ranges[i].start != offset) continue;
    madvise(zv_window + ranges[i].start, ranges[i].end - ranges[i].start, MADV_DONTNEED);
    for (int j = i; j + 1 < range_count; j++) ranges[j] = ranges[j + 1];
    range_count--;
    return;
  }
}

// ---------------------------------------------------------------------------
// The kernel's own header, used until an image replaces it

void mem_default_header() {
  uint8_t* h = zvm.header;
  std::memset(h, 0, sizeof zvm.header);
  store_u32(h + HDR_STACK_N, 1024);
  store_u32(h + HDR_CONS_CAP, 0);
  store_u16(h + HDR_SYM_CAP, 16000);
  store_u16(h + HDR_RESERVED10, 32);
  store_u32(h + HDR_HEAP_CAP, 262144);
  store_u32(h + HDR_INIT_CONS, 262144);
  store_u16(h + HDR_ATTR_TERMINAL, 0x70);
  store_u16(h + HDR_ATTR_STATUS, 0x17);
  store_u16(h + HDR_ATTR_24, 0x74);
  store_u16(h + HDR_ATTR_26, 0x71);
  store_u16(h + HDR_ATTR_INDICATOR, 0x17);
  store_u16(h + HDR_ATTR_30, 0x1E);
  store_u16(h + HDR_ATTR_32, 0x1D);
  store_u16(h + HDR_ATTR_34, 0x17);
  store_u16(h + HDR_HASH_SIZE, static_cast<uint16_t>(sym_hash_size_for(16000)));
  std::memset(zvm.memblock, 0, sizeof zvm.memblock);
  std::memcpy(zvm.memblock + MB_GENSYM_PREFIX, "G", 2);
  std::memcpy(zvm.memblock + MB_GENTEMP_PREFIX, "T", 2);
}

// ---------------------------------------------------------------------------
// Areas

static int out_of_memory(uint32_t cells) {
  std::printf("\n%s for %u cons cells", std::strerror(ENOMEM), cells);
  std::fflush(stdout);
  return 1;
}

static bool allocate_stacks(ThreadState* ts) {
  uint32_t n = hdr_u32(HDR_STACK_N);
  if (n == 0 || n > 32767) return false;
  if (!ts->root_base) {
    // Native code keeps a few roots for each level of the reader's and the
    // printer's descent, so that the Lisp stack, not this one, decides
    // how deep they go.
    uint32_t cap = ROOTS_PER_STACK_N * n;
    ts->root_base = static_cast<Value**>(std::calloc(cap, sizeof(Value*)));
    if (!ts->root_base) return false;
    ts->root_cap = cap;
    ts->root_count = 0;
  }
  if (!ts->stack) {
    ts->stack = static_cast<StackEntry*>(std::calloc(2 * n + 2, sizeof(StackEntry)));
    if (!ts->stack) return false;
    ts->stack_top = static_cast<uint16_t>(2 * n);
  }
  ts->septr = ts->stack_top;
  return true;
}

// Place the cons area in the window: from `start` cells down to `needed`,
// 256 at a time, until a range is free.
static bool place_cons_area(uint32_t start, uint32_t needed) {
  for (uint32_t cells = start;; cells -= 256) {
    if (cells < needed || cells == 0) return false;
    uint32_t off = cells <= (WINDOW_SIZE / 8) ? window_take(cells * 8) : 0;
    if (off) {
      zvm.cons_first = off;
      zvm.cons_end = off + 8 * cells;
      zvm.cons_cap = cells;
      store_u32(zvm.header + HDR_CONS_CAP, cells);
      return true;
    }
    if (cells <= 256) return false;
  }
}

int mem_allocate_areas(uint32_t needed_cells, bool full, uint32_t start_cells) {
  ThreadState* ts = zvts;
  ts->spare = NIL;
  if (!allocate_stacks(ts)) return out_of_memory(needed_cells);
  if (!full) return 0;

  uint32_t cap = hdr_u16(HDR_SYM_CAP);
  uint32_t p = sym_hash_size_for(cap);
  uint32_t heap_cap = hdr_u32(HDR_HEAP_CAP);
  zvm.hash = static_cast<uint16_t*>(std::malloc(2 * p + 32));
  zvm.symtab = static_cast<uint8_t*>(std::calloc(cap + 4, SYM_ENTRY));
  // The 8 bytes before the data base belong to the block, so heap_base is
  // a real pointer into it.
  zvm.heap_block = static_cast<uint8_t*>(std::malloc(size_t(heap_cap) + 128 + 8));
  if (!zvm.hash || !zvm.symtab || !zvm.heap_block) {
    mem_free_areas(true, true);
    return out_of_memory(needed_cells);
  }
  zvm.hash_size = p;
  zvm.sym_cap = cap;
  store_u16(zvm.header + HDR_HASH_SIZE, static_cast<uint16_t>(p));

  uint32_t init = hdr_u32(HDR_INIT_CONS);
  uint32_t start = init > needed_cells ? init : needed_cells;
  if (start_cells > start) start = start_cells;
  if (!place_cons_area(start, needed_cells)) {
    mem_free_areas(true, true);
    return out_of_memory(needed_cells);
  }

  zvm.heap_base = zvm.heap_block;
  zvm.heap_fill = 8;
  zvm.heap_limit = heap_cap;
  zvm.free_head = NIL;
  zvm.free_count = 0;
  ts->eval_slot = scratch_cons_of(ts->thread_number);
  return 0;
}

void mem_free_areas(bool keep_stacks, bool free_world) {
  if (free_world) {
    if (zvm.cons_end) window_release(zvm.cons_first, zvm.cons_end - zvm.cons_first);
    std::free(zvm.heap_block);
    std::free(zvm.symtab);
    std::free(zvm.hash);
    zvm.heap_block = zvm.heap_base = nullptr;
    zvm.symtab = nullptr;
    zvm.hash = nullptr;
    zvm.cons_first = zvm.cons_end = zvm.cons_cap = 0;
    mem_drop_run(zvts);
    zvm.free_head = NIL;
    zvm.free_count = 0;
    zvm.heap_fill = zvm.heap_limit = 8;
    zvm.sym_count = zvm.sym_cap = zvm.hash_size = 0;
    zvm.cons_held = zvm.heap_held = 0;
    zvm.reserve_armed = false;
  }
  if (!keep_stacks) mem_free_thread_stacks(zvts);
  malloc_trim(0);  // give unused process-heap memory back to the system
}

bool mem_allocate_thread_stacks(ThreadState* ts) { return allocate_stacks(ts); }

void mem_free_thread_stacks(ThreadState* ts) {
  std::free(ts->stack);
  std::free(ts->root_base);
  ts->stack = nullptr;
  ts->root_base = nullptr;
  ts->root_cap = ts->root_count = 0;
  ts->stack_top = ts->septr = 0;
}

void mem_link_free_cells(uint32_t from) {
  // A run of the calling thread belongs to the free list being replaced
  // (the other threads' runs a collection has emptied already).
  mem_drop_run(zvts);
  // Ascending order: the lowest free cell is the head, the highest ends in NIL.
  Value next = NIL;
  for (uint32_t c = zvm.cons_end; c > from;) {
    c -= 8;
    set_cdr(c, next);
    next = c;
  }
  zvm.free_head = next;
  zvm.free_count = (zvm.cons_end - from) / 8;
}

void mem_post_load(uint32_t free_ptr, int mode) {
  if (mode > 2) return;
  if (mode == 0)
    for (uint32_t i = 0; i < zvm.hash_size; i++) zvm.hash[i] = HASH_SLOT_EMPTY;
  if (mode <= 1) thread_reset_stacks(zvts);
  if (free_ptr != 0) {
    zvm.cache_a = 0xFFFF;
    zvm.cache_b = 0;
    zvm.free_ptr = free_ptr;
    mem_link_free_cells(free_ptr);
  }
}

// ---------------------------------------------------------------------------
// Conses

void mem_arm_reserve() {
  zvm.reserve_armed = true;
  zvm.cons_held = RESERVE_CELLS;
  zvm.heap_held = RESERVE_HEAP_BYTES;
}

bool mem_release_cons_reserve() {
  bool had = zvm.cons_held != 0;
  zvm.cons_held = 0;
  return had;
}

bool mem_release_heap_reserve() {
  bool had = zvm.heap_held != 0;
  zvm.heap_held = 0;
  return had;
}

void mem_rearm_reserve() {
  if (!zvm.reserve_armed) return;
  if (!zvm.cons_held && zvm.free_count >= 4 * RESERVE_CELLS) zvm.cons_held = RESERVE_CELLS;
  if (!zvm.heap_held && zvm.heap_limit - zvm.heap_fill >= 4 * RESERVE_HEAP_BYTES)
    zvm.heap_held = RESERVE_HEAP_BYTES;
}

void mem_drop_run(ThreadState* ts) {
  zvm.free_count += ts->run_count;
  ts->run_head = NIL;
  ts->run_count = 0;
}

void mem_return_run() {
  ThreadState* ts = zvts;
  world_lock();
  if (ts->run_count) {
    Value last = ts->run_head;
    for (uint32_t i = 1; i < ts->run_count; i++) last = cdr(last);
    set_cdr(last, zvm.free_head);
    zvm.free_head = ts->run_head;
    mem_drop_run(ts);
  }
  world_unlock();
}

namespace {

// Under the global lock: the thread's run becomes the first cells of the
// free list, as many as the reserve leaves and at most CONS_RUN_CELLS;
// false when there are none.
bool take_run(ThreadState* ts) {
  uint32_t usable = zvm.free_count > zvm.cons_held ? zvm.free_count - zvm.cons_held : 0;
  if (usable == 0 || zvm.free_head == NIL) return false;
  uint32_t n = usable < CONS_RUN_CELLS ? usable : CONS_RUN_CELLS;
  Value last = zvm.free_head;
  for (uint32_t i = 1; i < n; i++) last = cdr(last);
  ts->run_head = zvm.free_head;
  ts->run_count = n;
  zvm.free_head = cdr(last);
  zvm.free_count -= n;
  return true;
}

inline Value pop_run(ThreadState* ts) {
  Value c = ts->run_head;
  ts->run_head = cdr(c);
  ts->run_count--;
  return c;
}

// The run is empty: a new one, or a collection when the free list has
// none to give.  Waiting for the lock may pass a safe point, where another
// thread's collection empties runs, so the run is looked at only once the
// lock is held.
[[gnu::noinline]] Value alloc_cons_slow(ThreadState* ts) {
  world_lock();
  Value c = ts->run_count || take_run(ts) ? pop_run(ts) : gc_cons_collection();
  world_unlock();
  return c;
}

// Stress mode counts every allocation, under the lock like the heap's.
[[gnu::noinline]] void stress_tick_locked() {
  world_lock();
  gc_stress_tick();
  world_unlock();
}

}  // namespace

Value mem_alloc_cons() {
  ThreadState* ts = zvts;
  if (__builtin_expect(zv_gc_stress != 0, 0)) stress_tick_locked();
  if (__builtin_expect(ts->run_count == 0, 0)) return alloc_cons_slow(ts);
  return pop_run(ts);
}

Value cons(Value a, Value d) {
  root_push(&a);
  root_push(&d);
  Value c = mem_alloc_cons();
  root_pop(2);
  set_car(c, a);
  set_cdr(c, d);
  return c;
}

// ---------------------------------------------------------------------------
// The vector heap

Value heap_allocate(uint32_t size, uint32_t hdr1, uint8_t type, uint32_t tag) {
  world_lock();
  gc_stress_tick();
  // The collection signals error 36 when it cannot make room (releasing the
  // lock first); loop in case the error returns.  A Value-holding object
  // may need a filler before it, which depends on the fill after the
  // collection.
  uint32_t pad;
  for (;;) {
    pad = needs_align_filler(type, zvm.heap_fill) ? ALIGN_FILLER : 0;
    if (zvm.heap_limit - zvm.heap_fill >= size + pad + zvm.heap_held) break;
    gc_heap_collection(size + pad);
  }
  if (pad) {
    put_align_filler(zvm.heap_base + zvm.heap_fill);
    heap_set_fill(zvm.heap_fill + pad);
  }
  uint8_t* p = zvm.heap_base + zvm.heap_fill;
  store_u32(p, type);
  store_u32(p + 4, hdr1);
  Value v = (tag << 24) | zvm.heap_fill;
  // Read without the lock by the checks of Values (value_check).
  __atomic_store_n(&zvm.heap_fill, zvm.heap_fill + size, __ATOMIC_RELAXED);
  world_unlock();
  return v;
}

static uint32_t value_object_size(uint32_t words) { return 8 + 4 * words; }
static uint32_t byte_object_size(uint32_t bytes) { return (bytes + 9) & ~1u; }

Value mem_alloc_vector(uint32_t n) {
  return heap_allocate(value_object_size(n), n | HDR_ONE_DIM, HT_ARRAY, TAG_VECTOR);
}

Value mem_alloc_array(uint32_t total, uint32_t rank) {
  // Rank r keeps r - 1 dimensions as trailing raw words; rank 0 has none.
  uint32_t len = rank ? total + rank - 1 : total;
  uint32_t hdr1 = rank ? ((1u + 2u * (rank - 1)) << 24) | len : len;
  return heap_allocate(value_object_size(len), hdr1, HT_ARRAY, TAG_VECTOR);
}

Value mem_alloc_string(uint32_t n) {
  Value s = heap_allocate(byte_object_size(n), n | HDR_ONE_DIM, HT_BYTES, TAG_VECTOR);
  if (n & 1) string_bytes(s)[n] = 0;  // padding: keeps saved images reproducible
  return s;
}

Value mem_alloc_bytes(uint32_t n) {
  return heap_allocate(byte_object_size(n), n, HT_BYTES, TAG_VECTOR);
}

Value mem_alloc_object(uint32_t n, uint8_t type, uint32_t raw_words) {
  return heap_allocate(value_object_size(n), (raw_words << 25) | n, type, TAG_OBJECT);
}

Value mem_make_int64_raw(int64_t x) {
  Value v = heap_allocate(16, 0x01000008, HT_INT64, TAG_INT64);
  std::memcpy(heap_data(v), &x, 8);
  return v;
}

Value mem_make_integer(int64_t x) {
  return fits_fixnum(x) ? make_fixnum(static_cast<int32_t>(x)) : mem_make_int64_raw(x);
}

Value mem_make_double(double d) {
  Value v = heap_allocate(16, 0x01000008, HT_DOUBLE, TAG_DOUBLE);
  std::memcpy(heap_data(v), &d, 8);
  return v;
}

Value mem_make_complex_int(int64_t re, int64_t im) {
  if (im == 0) return mem_make_integer(re);
  Value v = heap_allocate(24, 0x01000010, HT_INT64, TAG_COMPLEX);
  std::memcpy(heap_data(v), &re, 8);
  std::memcpy(heap_data(v) + 8, &im, 8);
  return v;
}

Value mem_make_complex_double(double re, double im) {
  Value v = heap_allocate(24, 0x01000010, HT_DOUBLE, TAG_COMPLEX);
  std::memcpy(heap_data(v), &re, 8);
  std::memcpy(heap_data(v) + 8, &im, 8);
  return v;
}

Value mem_make_string(const char* s, uint32_t n) {
  Value v = mem_alloc_string(n);
  if (n) std::memcpy(string_bytes(v), s, n);
  return v;
}

// ---------------------------------------------------------------------------
// Resizing and conversion

Value mem_resize_vector(Value v, uint32_t m) {
  if (m >= 0x400000) return zv_error(ERR_VECTOR_TOO_LONG, make_fixnum(static_cast<int32_t>(m)));
  uint32_t k = heap_length(v);
  if (m == k) return v;
  uint32_t off = heap_offset(v);
  uint32_t end = off + 8 + 4 * k;
  // The last object of the heap grows or shrinks in place, decided and
  // done under the lock (another thread could allocate behind it), taken
  // only when free at once (waiting could let a collection move v).
  bool locked = world_try_lock();
  bool last = locked && end == zvm.heap_fill && off + 8 + 4ull * m <= zvm.heap_limit;
  if (last) {
    heap_set_fill(off + 8 + 4 * m);
    heap_set_hdr1(v, (heap_hdr1(v) & ~HDR_LEN_MASK) | m);
    for (uint32_t i = k; i < m; i++) heap_set_word(v, i, NIL);
  }
  if (locked) world_unlock();
  if (last) return v;
  // A tail of at least a header's size becomes a filler object.
  if (m < k && (k - m) * 4 >= 8) {
    heap_set_hdr1(v, (heap_hdr1(v) & ~HDR_LEN_MASK) | m);
    uint8_t* filler = heap_data(v) + 4 * m;
    store_u32(filler, HT_BYTES);
    store_u32(filler + 4, (k - m) * 4 - 8);
    return v;
  }
  root_push(&v);
  Value w = mem_alloc_vector(m);
  root_pop();
  uint32_t keep = k < m ? k : m;
  store_u32(heap_addr(w), load_u32(heap_addr(v)));
  heap_set_hdr1(w, (heap_hdr1(v) & ~HDR_LEN_MASK) | m);
  std::memcpy(heap_data(w), heap_data(v), 4 * keep);
  for (uint32_t i = keep; i < m; i++) heap_set_word(w, i, NIL);
  return w;
}

Value mem_vector_to_list(Value v, uint32_t start) {
  Value list = NIL;
  root_push(&v);
  root_push(&list);
  for (uint32_t i = heap_length(v); i > start;) {
    i--;
    list = cons(heap_word(v, i), list);
  }
  root_pop(2);
  return list;
}
