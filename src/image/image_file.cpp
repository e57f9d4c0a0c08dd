// The image file: a saved world read back into freshly allocated areas.
//
// Loading is a bulk read followed by checks and relocation.  The file comes
// from outside the process, so nothing in it is trusted before it has been
// checked: sizes against the areas, the heap object by object, and every
// Value against the world it was read into.  A world that passes the check
// cannot make the kernel read outside its areas later.
#include "image/image_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "builtins/hash_tables.h"
#include "builtins/table.h"
#include "eval/eval.h"
#include "io/host.h"
#include "object/gc.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"

namespace {

// Text for "\nFatal I/O error: %s." of the last failed load.
char failure[160] = "";
// The last failure was the file's content, not the system's: a damaged
// image gets only the bad-start lines, no I/O error before them.
bool damaged = false;

constexpr const char* INCONSISTENT = "inconsistent image file";
constexpr const char* TRUNCATED = "unexpected end of image file";

void fail_with(const char* text) {
  std::snprintf(failure, sizeof failure, "%s", text);
  damaged = text == INCONSISTENT || text == TRUNCATED;
}

bool read_exact(FILE* f, void* dst, size_t n) {
  if (n == 0 || std::fread(dst, 1, n, f) == n) return true;
  fail_with(std::ferror(f) ? std::strerror(errno) : TRUNCATED);
  return false;
}

bool write_all(FILE* f, const void* src, size_t n) {
  return n == 0 || std::fwrite(src, 1, n, f) == n;
}

void report_fatal() {
  if (damaged) return;
  std::printf("\nFatal I/O error: %s.", failure);
  std::fflush(stdout);
}

bool terminated(const uint8_t* p, size_t cap) { return std::memchr(p, 0, cap) != nullptr; }

// ---------------------------------------------------------------------------
// Symbol records of the file and entries in memory

constexpr uint32_t SYM_WORDS[4][2] = {{SYM_NAME, IMG_SYM_NAME},
                                      {SYM_VALUE, IMG_SYM_VALUE},
                                      {SYM_FUNCTION, IMG_SYM_FUNCTION},
                                      {SYM_PLIST, IMG_SYM_PLIST}};

// The n records read to the start of `table` become entries there: from
// the last one down, each record copied out first, since its entry
// overlaps it and the next record.
void records_to_entries(uint8_t* table, uint32_t n) {
  for (uint32_t i = n; i-- > 0;) {
    uint8_t rec[IMG_SYM_RECORD];
    std::memcpy(rec, table + IMG_SYM_RECORD * i, IMG_SYM_RECORD);
    uint8_t* e = table + SYM_ENTRY * i;
    std::memset(e, 0, SYM_ENTRY);
    store_u16(e + SYM_FLAGS, load_u16(rec + IMG_SYM_FLAGS));
    for (const auto& w : SYM_WORDS) store_u32(e + w[0], load_u32(rec + w[1]));
  }
}

void entries_to_records(const uint8_t* table, uint8_t* records, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    const uint8_t* e = table + SYM_ENTRY * i;
    uint8_t* rec = records + IMG_SYM_RECORD * i;
    store_u16(rec + IMG_SYM_FLAGS, load_u16(e + SYM_FLAGS));
    for (const auto& w : SYM_WORDS) store_u32(rec + w[1], load_u32(e + w[0]));
  }
}

// Read n records into `table` (room for n entries) as entries.
bool read_symbols(FILE* f, uint8_t* table, uint32_t n) {
  if (!read_exact(f, table, size_t(IMG_SYM_RECORD) * n)) return false;
  records_to_entries(table, n);
  return true;
}

// ---------------------------------------------------------------------------
// Checks of the fixed blocks

// Heap offsets are 24 bits wide; the collector never makes a block this large.
constexpr uint32_t HEAP_CAP_MAX = 0xFFFFFF;

bool header_ok(const uint8_t* h) {
  uint32_t n = load_u32(h + HDR_STACK_N);
  uint32_t cap = load_u16(h + HDR_SYM_CAP);
  uint32_t heap = load_u32(h + HDR_HEAP_CAP);
  return n >= IMG_MIN_STACK && n <= 32767 && cap >= 1 && cap <= 32767 &&
         load_u16(h + HDR_HASH_SIZE) == sym_hash_size_for(cap) && heap >= 16 && heap < HEAP_CAP_MAX;
}

bool history_ok(const uint8_t* hist) {
  if (load_u16(hist) > 19) return false;
  for (int i = 0; i < 20; i++)
    if (!terminated(hist + 2 + 256 * i, 256)) return false;
  return true;
}

// What the memory block claims must be consistent in itself before any
// section is read on the strength of it.
bool memblock_ok(const uint8_t* mb) {
  uint32_t y = load_u16(mb + MB_SYM_COUNT);
  uint32_t h = load_u32(mb + MB_HEAP_USED);
  uint32_t c = load_u32(mb + MB_CONS_USED);
  uint64_t base = load_u32(mb + MB_CONS_BASE);
  if (!terminated(mb + MB_GENSYM_PREFIX, 20) || !terminated(mb + MB_GENTEMP_PREFIX, 20))
    return false;
  if (y < 1 || load_u16(mb + MB_FIRST_COLLECTABLE) > y) return false;
  if (load_u32(mb + MB_STATIC_HEAP) > h || load_u32(mb + MB_MSG_AREA) >= h) return false;
  // The saved cons range: 8-aligned cells that were all valid cons Values.
  return c == 0 || (base % 8 == 0 && base >= 0x10000 && base + 8ull * c <= WINDOW_SIZE);
}

// Cells to ask for: room to grow past the saved cells, so an image saved
// after its cons area grew loads again, but never more than the window has.
// ---------------------------------------------------------------------------
// The world check
//
// It reads a world through a view of its sections, so the same check
// serves a world read into the running areas at start-up and one read
// into buffers of its own beside the running world.

struct WorldCheck {
  WorldView v;
  uint8_t* starts;  // one bit per even data position: an object starts here
};

const uint8_t* heap_data_at(const WorldCheck& w, uint32_t pos) { return w.v.heap_base + 8 + pos; }

bool is_start(const WorldCheck& w, uint32_t pos) {
  return pos < w.v.heap_bytes && (w.starts[pos >> 4] >> ((pos >> 1) & 7) & 1);
}

// Walks the heap object by object; it must end exactly at H.
bool walk_heap(WorldCheck& w) {
  uint32_t pos = 0;
  while (pos < w.v.heap_bytes) {
    if (w.v.heap_bytes - pos < 8) return false;
    const uint8_t* p = heap_data_at(w, pos);
    // Bits 8-31 of header word 0 belong to the collector and are clear
    // between collections; a saved mark would hide the object's contents.
    if (load_u32(p) >> 8) return false;
    uint32_t size = object_size_at(p);  // at most 8 + 4 x 0xFFFFFF: no overflow
    if (size > w.v.heap_bytes - pos) return false;
    w.starts[pos >> 4] |= uint8_t(1u << ((pos >> 1) & 7));
    pos += size;
  }
  return true;
}

bool heap_value_ok(const WorldCheck& w, Value v) {
  uint32_t off = heap_offset(v);
  if (off < 8 || !is_start(w, off - 8)) return false;
  const uint8_t* p = w.v.heap_base + off;
  uint8_t type = p[0];
  uint32_t len = load_u32(p + 4) & HDR_LEN_MASK;
  switch (tag_of(v)) {
    case TAG_INT64:
      return type == HT_INT64 && len >= 8;
    case TAG_DOUBLE:
      return type == HT_DOUBLE && len >= 8;
    case TAG_COMPLEX:
      return (type == HT_INT64 || type == HT_DOUBLE) && len >= 16;
    case TAG_VECTOR:
      return type == HT_BYTES || type == HT_ARRAY || type == HT_INSTANCE;
    case TAG_OBJECT: {
      uint8_t low = type & 63;
      // Stream code reads the two raw words behind the first one.
      if (low == HT_FILE || low == HT_WINDOW || low == HT_STRING_STREAM) return len >= 3;
      // Composite streams hold Values only: their kind and components.
      if (low == HT_COMPOSITE_STREAM) return len >= 4;
      // A hash table calls its test through the built-in table.
      if (type == HT_HASH) return len >= 2 && (load_u32(p + 12) & 0xFFFF) < w.v.builtins;
      return type == HT_OBJECT16 || type == HT_INSTANCE || type == HT_CLASS;
    }
    default:
      return false;
  }
}

// The value check's rules, made exact for a world just read: conses inside
// the saved range, symbols below the count, heap Values naming an object
// of a type their tag allows.
bool value_ok(const WorldCheck& w, Value v) {
  uint32_t t = tag_of(v), low = v & 0xFFFF;
  if (t == TAG_CONS) return v == 0 || (v >= w.v.cons_lo && v < w.v.cons_hi && (v & 7) == 0);
  if (t == TAG_SYMBOL || t == TAG_KEYWORD) return low < w.v.symbols;
  if (t == TAG_INDEX || t == TAG_LEXREF) return low <= 32767;
  if (t >= TAG_BUILTIN && t <= TAG_BUILTIN + KIND_KEYS) return low < w.v.builtins;
  if (t == TAG_CHAR || t == TAG_FIXNUM || t == TAG_MARKER) return true;
  if (t & TAG_HEAP_BIT) return heap_value_ok(w, v);
  return false;  // includes every word with bit 31 (a stray collector mark)
}

bool string_at(const WorldCheck& w, uint32_t pos) {
  if (!is_start(w, pos)) return false;
  const uint8_t* p = heap_data_at(w, pos);
  return p[0] == HT_BYTES && (load_u32(p + 4) & HDR_ONE_DIM);
}

bool symbols_ok(const WorldCheck& w) {
  for (uint32_t i = 0; i < w.v.symbols; i++) {
    const uint8_t* e = w.v.symtab + SYM_ENTRY * i;
    Value name = load_u32(e + SYM_NAME);
    if (tag_of(name) != TAG_VECTOR || !heap_value_ok(w, name) ||
        !string_at(w, heap_offset(name) - 8))
      return false;
    if (!value_ok(w, load_u32(e + SYM_VALUE)) || !value_ok(w, load_u32(e + SYM_FUNCTION)) ||
        !value_ok(w, load_u32(e + SYM_PLIST)))
      return false;
  }
  return true;
}

bool conses_ok(const WorldCheck& w) {
  for (uint64_t k = 0; k < 2ull * w.v.cells; k++)
    if (!value_ok(w, load_u32(w.v.cons + 4 * k))) return false;
  return true;
}

bool heap_values_ok(const WorldCheck& w) {
  for (uint32_t pos = 0; pos < w.v.heap_bytes; pos += object_size_at(heap_data_at(w, pos))) {
    const uint8_t* p = heap_data_at(w, pos);
    uint32_t n = object_value_words_at(p);
    for (uint32_t i = 0; i < n; i++)
      if (!value_ok(w, load_u32(p + 8 + 4 * i))) return false;
  }
  return true;
}

// The 40 message texts lie end to end from the message area.
bool messages_ok(const WorldCheck& w) {
  uint32_t pos = w.v.msg_area;
  for (int i = 0; i < 40; i++) {
    if (!string_at(w, pos)) return false;
    pos += object_size_at(heap_data_at(w, pos));
  }
  return true;
}

bool roots_ok(const WorldCheck& w) {
  for (uint32_t i = 0; i < ROOT_COUNT; i++)
    if (!value_ok(w, w.v.roots[i] & ~MARK_BIT)) return false;
  return true;
}

bool check_world(WorldCheck& w) {
  if (!walk_heap(w)) return false;
  // The collector starts its walk at the end of the static prefix.
  if (w.v.heap_static != w.v.heap_bytes && !is_start(w, w.v.heap_static)) return false;
  return messages_ok(w) && roots_ok(w) && symbols_ok(w) && conses_ok(w) && heap_values_ok(w);
}

// ---------------------------------------------------------------------------
// Streams and relocation

// A stream's word 2 indexes this process's table of native handles; the
// index saved by another process means nothing here.  Type 18 is also the
// array type, but arrays never carry stream direction bits, and their
// header byte 3 is 0 or odd where a stream's (two raw words) is 4.
void scrub_stream_handles(uint8_t* data, uint32_t bytes) {
  const uint8_t* end = data + bytes;
  for (uint8_t* p = data; p < end; p += object_size_at(p)) {
    uint8_t type = p[0], low = type & 63;
    uint32_t hdr1 = load_u32(p + 4);
    bool stream = low == HT_FILE || (low == HT_WINDOW && ((type & 0xC0) || (hdr1 >> 24) == 4));
    if (stream && (hdr1 & HDR_LEN_MASK) >= 3) store_u32(p + 8 + 8, 0);
  }
}

struct Shift {
  uint32_t lo, hi;  // the saved cons range
  uint32_t d;       // added to each cons address in it (mod 2^32)
};

inline Value shifted(const Shift& s, Value v) {
  return (tag_of(v) == TAG_CONS && v >= s.lo && v < s.hi) ? v + s.d : v;
}

inline void shift_u32(const Shift& s, uint8_t* p) { store_u32(p, shifted(s, load_u32(p))); }

// Every Value the calling thread's stacks hold, replaced by f(Value).
template <class F>
void map_stack_values(F f) {
  ThreadState* ts = zvts;
  ts->glvalue = f(ts->glvalue);
  if (ts->stack)
    for (uint32_t i = ts->septr; i < ts->stack_top; i++) {
      StackEntry& e = ts->stack[i];
      // A context's argument names its record, not a Value.
      if (i != 0 && !is_context_tag(e.tag)) e.arg = f(e.arg);
    }
  for (uint32_t i = 0; i < ts->root_count; i++) *ts->root_base[i] = f(*ts->root_base[i]);
}

void relocate_stacks(const Shift& s) {
  map_stack_values([&s](Value v) { return shifted(s, v); });
}

// ---------------------------------------------------------------------------
// Aligning a world saved with Value-holding objects at offsets of 2 mod 4
//
// Worlds were once saved so; each such object moves up behind an alignment
// filler, and every object after it with it.  A step says from which old
// offset on objects have moved by how much in all.

struct AlignStep {
  uint32_t from, shift;
};

// The sections a world's heap Values lie in; the heap has room for the
// objects to spread.
struct AlignWorld {
  uint8_t* heap_base;
  uint32_t heap_bytes;
  uint8_t* symtab;
  uint32_t symbols;
  uint8_t* cons;
  uint32_t cells;
  Value* roots;
  uint32_t *heap_static, *msg_area;  // counted from the data base
};

std::vector<AlignStep> align_steps(const uint8_t* base, uint32_t bytes) {
  std::vector<AlignStep> steps;
  uint32_t shift = 0;
  for (uint32_t off = 8; off < 8 + bytes; off += object_size_at(base + off)) {
    if (!needs_align_filler(base[off], off + shift)) continue;
    shift += ALIGN_FILLER;
    steps.push_back({off, shift});
  }
  return steps;
}

uint32_t shift_at(const std::vector<AlignStep>& steps, uint32_t off) {
  uint32_t lo = 0, hi = uint32_t(steps.size());  // the first step above off
  while (lo < hi) {
    uint32_t mid = (lo + hi) / 2;
    if (steps[mid].from <= off)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo ? steps[lo - 1].shift : 0;
}

Value aligned(const std::vector<AlignStep>& steps, Value v) {
  if (!(tag_of(v) & TAG_HEAP_BIT) || (v & MARK_BIT)) return v;
  return v + shift_at(steps, heap_offset(v));
}

void align_word(const std::vector<AlignStep>& steps, uint8_t* p) {
  store_u32(p, aligned(steps, load_u32(p)));
}

// Spread the objects (from the last step down, so nothing is overwritten
// before it has moved) and forward every heap Value of the world.
void apply_align_steps(const AlignWorld& w, const std::vector<AlignStep>& steps) {
  uint8_t* base = w.heap_base;
  uint32_t end = 8 + w.heap_bytes;
  for (size_t k = steps.size(); k-- > 0;) {
    uint32_t from = steps[k].from, to = from + steps[k].shift;
    std::memmove(base + to, base + from, end - from);
    put_align_filler(base + to - ALIGN_FILLER);
    end = from;
  }
  uint32_t bytes = w.heap_bytes + steps.back().shift;
  for (uint32_t off = 8; off < 8 + bytes; off += object_size_at(base + off)) {
    uint32_t n = object_value_words_at(base + off);
    for (uint32_t i = 0; i < n; i++) align_word(steps, base + off + 8 + 4 * i);
  }
  for (uint32_t i = 0; i < w.symbols; i++)
    for (const auto& word : SYM_WORDS) align_word(steps, w.symtab + SYM_ENTRY * i + word[0]);
  for (uint64_t k = 0; k < 2ull * w.cells; k++) align_word(steps, w.cons + 4 * k);
  for (uint32_t i = 0; i < ROOT_COUNT; i++) {
    Value r = w.roots[i];
    w.roots[i] = aligned(steps, r & ~MARK_BIT) | (r & MARK_BIT);
  }
  *w.heap_static += shift_at(steps, 8 + *w.heap_static);
  *w.msg_area += shift_at(steps, 8 + *w.msg_area);
}

// The same for the world just read into the running areas, growing the
// heap block when the fillers do not fit.  False when it cannot.
bool align_running_world(bool with_stacks) {
  std::vector<AlignStep> steps = align_steps(zvm.heap_base, zvm.heap_fill - 8);
  if (steps.empty()) return true;
  uint32_t grow = steps.back().shift;
  if (zvm.heap_limit - zvm.heap_fill < grow) {
    uint32_t limit = zvm.heap_limit + grow;
    uint8_t* block = limit < HEAP_CAP_MAX
                         ? static_cast<uint8_t*>(std::realloc(zvm.heap_block, size_t(limit) + 136))
                         : nullptr;
    if (!block) return false;
    zvm.heap_block = zvm.heap_base = block;
    zvm.heap_limit = limit;
  }
  AlignWorld w{zvm.heap_base, zvm.heap_fill - 8,          zvm.symtab,
               zvm.sym_count, zv_window + zvm.cons_first, (zvm.free_ptr - zvm.cons_first) / 8,
               zvm.roots,     &zvm.heap_static,           &zvm.msg_area};
  apply_align_steps(w, steps);
  zvm.heap_fill += grow;
  if (with_stacks) map_stack_values([&steps](Value v) { return aligned(steps, v); });
  store_u32(zvm.memblock + MB_STATIC_HEAP, zvm.heap_static);
  store_u32(zvm.memblock + MB_MSG_AREA, zvm.msg_area);
  store_u32(zvm.memblock + MB_HEAP_USED, zvm.heap_fill - 8);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public

const char* img_error_text() { return failure; }

bool img_check_view(const WorldView& view) {
  WorldCheck w{view, nullptr};
  w.starts = static_cast<uint8_t*>(std::calloc(view.heap_bytes / 16 + 1, 1));
  if (!w.starts) {
    fail_with(std::strerror(ENOMEM));
    return false;
  }
  bool ok = check_world(w);
  std::free(w.starts);
  if (!ok) fail_with(INCONSISTENT);
  return ok;
}

bool img_check_world(uint32_t cons_lo, uint32_t cons_hi) {
  WorldView v{};
  v.heap_base = zvm.heap_base;
  v.heap_bytes = zvm.heap_fill - 8;
  v.symtab = zvm.symtab;
  v.symbols = zvm.sym_count;
  v.cons = zv_window + zvm.cons_first;
  v.cells = (zvm.free_ptr - zvm.cons_first) / 8;
  v.roots = zvm.roots;
  v.builtins = mb_u32(MB_BUILTIN_COUNT);
  v.heap_static = zvm.heap_static;
  v.msg_area = zvm.msg_area;
  v.cons_lo = cons_lo;
  v.cons_hi = cons_hi;
  return img_check_view(v);
}

void img_relocate(int32_t delta_cells, bool with_stacks) {
  uint32_t used = zvm.free_ptr - zvm.cons_first;
  uint32_t d = static_cast<uint32_t>(delta_cells) * 8;
  uint32_t lo = zvm.cons_first - d;
  Shift s{lo, lo + used, d};

  for (uint32_t i = 0; i < zvm.sym_count; i++) {
    uint8_t* e = sym_entry(i);
    shift_u32(s, e + SYM_VALUE);
    shift_u32(s, e + SYM_FUNCTION);
    shift_u32(s, e + SYM_PLIST);
  }
  for (uint32_t c = zvm.cons_first; c < zvm.free_ptr; c += 8) {
    set_car(c, shifted(s, car(c)));
    set_cdr(c, shifted(s, cdr(c)));
  }
  const uint8_t* end = zvm.heap_base + zvm.heap_fill;
  for (uint8_t* p = zvm.heap_base + 8; p < end; p += object_size_at(p)) {
    uint32_t n = object_value_words_at(p);
    for (uint32_t i = 0; i < n; i++) shift_u32(s, p + 8 + 4 * i);
  }
  // Bit 31 of a macro-character entry marks it non-terminating.
  for (uint32_t i = 0; i < ROOT_COUNT; i++) {
    Value r = zvm.roots[i];
    zvm.roots[i] = shifted(s, r & ~MARK_BIT) | (r & MARK_BIT);
  }
  if (with_stacks) relocate_stacks(s);
}

int img_read_sections(FILE* f, const uint8_t* memblock, int mode) {
  uint32_t s_count = load_u32(memblock + MB_BUILTIN_COUNT);
  if (s_count > zv_bi_live) return IMG_BUILTINS;
  for (uint32_t i = 0; i < s_count; i++) {
    uint8_t rec[6];
    if (!read_exact(f, rec, 6)) return IMG_IO;
    if (rec[4] != zv_builtins[i].kind || rec[5] != zv_builtins[i].count) return IMG_BUILTINS;
  }

  uint32_t y = load_u16(memblock + MB_SYM_COUNT);
  uint32_t h = load_u32(memblock + MB_HEAP_USED);
  uint32_t c = load_u32(memblock + MB_CONS_USED);
  // The fill pointer starts 8 bytes into the block, so H may use at most
  // limit - 8 bytes; more would leave the fill pointer past the limit.
  uint32_t heap_room = zvm.heap_limit >= 8 ? zvm.heap_limit - 8 : 0;
  if (y > zvm.sym_cap || h > heap_room || c > zvm.cons_cap) return IMG_CAPACITY;
  if (!memblock_ok(memblock)) {
    fail_with(INCONSISTENT);
    return IMG_IO;
  }

  // An interrupt in the middle would leave a half-read world.
  struct sigaction ignore = {}, old = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &old);
  int result = IMG_OK;
  uint8_t roots[4 * ROOT_COUNT];
  uint32_t p = hdr_u16(HDR_HASH_SIZE);
  if (!read_exact(f, roots, sizeof roots) || !read_symbols(f, zvm.symtab, y) ||
      !read_exact(f, zvm.heap_base + 8, h) ||
      !read_exact(f, zv_window + zvm.cons_first, size_t(8) * c)) {
    result = IMG_IO;
  } else if (mode != 0) {
    // The saved hash array is read past but not trusted: the caller
    // rebuilds it from the names.
    if (p != zvm.hash_size) {
      fail_with(INCONSISTENT);
      result = IMG_IO;
    } else if (!read_exact(f, zvm.hash, size_t(2) * p)) {
      result = IMG_IO;
    }
  }
  sigaction(SIGINT, &old, nullptr);
  if (result != IMG_OK) return result;

  uint32_t saved_base = load_u32(memblock + MB_CONS_BASE);
  std::memcpy(zvm.memblock, memblock, IMG_MEMBLOCK);
  store_u32(zvm.memblock + MB_CONS_BASE, zvm.cons_first);
  for (uint32_t i = 0; i < ROOT_COUNT; i++) zvm.roots[i] = load_u32(roots + 4 * i);
  zvm.sym_count = y;
  zvm.first_collectable = load_u16(memblock + MB_FIRST_COLLECTABLE);
  zvm.heap_static = load_u32(memblock + MB_STATIC_HEAP);
  zvm.heap_fill = 8 + h;
  zvm.msg_area = load_u32(memblock + MB_MSG_AREA);
  zvm.free_ptr = zvm.cons_first + 8 * c;

  if (!img_check_world(saved_base, saved_base + 8 * c)) return IMG_IO;
  scrub_stream_handles(zvm.heap_base + 8, h);
  if (!align_running_world(mode == 2)) {
    fail_with(std::strerror(ENOMEM));
    return IMG_IO;
  }
  return IMG_OK;
}

int img_load(const char* path, int mode) {
  char resolved[1024];
  if (!host_resolve_path(path, resolved, sizeof resolved) && resolved[0] == 0)
    std::snprintf(resolved, sizeof resolved, "%s", path);
  FILE* f = std::fopen(resolved, "rb");
  if (!f) {
    fail_with(std::strerror(errno));
    report_fatal();
    return IMG_IO;
  }
  static uint8_t fixed[IMG_FIXED];
  const uint8_t* mb = fixed + IMG_HEADER;
  const uint8_t* history = mb + IMG_MEMBLOCK;
  bool read = read_exact(f, fixed, IMG_FIXED);
  if (!read || !header_ok(fixed) || !memblock_ok(mb) || !history_ok(history)) {
    if (read) fail_with(INCONSISTENT);
    std::fclose(f);
    report_fatal();
    return IMG_IO;
  }
  std::memcpy(zvm.header, fixed, IMG_HEADER);
  std::memcpy(zvm.history, history, IMG_HISTORY);

  uint32_t saved_base = load_u32(mb + MB_CONS_BASE);
  // Room to grow: an image saved after its cons area grew loads again.
  uint32_t used = load_u32(mb + MB_CONS_USED);
  if (mem_allocate_areas(used, true, used + used / 4) != 0) {
    std::fclose(f);
    return IMG_IO;
  }
  bi_init_counts();
  int result = img_read_sections(f, mb, mode);
  std::fclose(f);
  if (result == IMG_IO) report_fatal();
  if (result != IMG_OK) return result;

  mem_post_load(zvm.free_ptr, mode);
  if (zvm.cons_first != saved_base)
    img_relocate(static_cast<int32_t>(zvm.cons_first - saved_base) / 8, mode == 2);
  sym_rehash();
  // Tables whose keys hash by content may have been saved by another hash.
  hash_tables_rehash_all();
  if (hdr_u8(HDR_SWITCHES) & SW_MEMORY_STATS) gc_status_line(0, 0);
  return IMG_OK;
}

// ---------------------------------------------------------------------------
// The writer

namespace {

// The symbol entries as a world outside every dynamic binding sees them:
// a symbol the saving thread has bound keeps, in the image, the value (or
// function) it has outside its outermost binding, so that a world saved
// from inside a LET of a special variable (or a file loaded by a script)
// does not start with that binding's value as its global one.  Null when
// nothing is bound, and then the table is written as it is.  Deep
// bindings are in the thread's slots and leave the entries alone.
uint8_t* outer_symbol_entries() {
  ThreadState* ts = zvts;
  uint32_t values = zv_specials_deep ? ts->stack_top : ts->zvdinenv;
  uint32_t functions = zv_specials_deep ? ts->stack_top : ts->zvfdinenv;
  if (!ts->stack || (values >= ts->stack_top && functions >= ts->stack_top)) return nullptr;
  size_t bytes = size_t(SYM_ENTRY) * zvm.sym_count;
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
  if (!copy) return nullptr;
  std::memcpy(copy, zvm.symtab, bytes);
  // From the newest binding to the oldest: the outermost one's saved value
  // is written last.
  const uint32_t chains[2][2] = {{values, SYM_VALUE}, {functions, SYM_FUNCTION}};
  for (const auto& chain : chains) {
    uint32_t i = chain[0];
    for (uint32_t steps = 0; i < ts->stack_top && steps < ts->stack_top; steps++) {
      const StackEntry& e = ts->stack[i];
      if (e.tag < zvm.sym_count) store_u32(copy + SYM_ENTRY * e.tag + chain[1], e.arg);
      i = e.link;
    }
  }
  return copy;
}

// The n entries of `table` as file records.
bool write_symbols(FILE* f, const uint8_t* table, uint32_t n) {
  uint8_t* records = static_cast<uint8_t*>(std::malloc(size_t(IMG_SYM_RECORD) * n + 1));
  if (!records) return false;
  entries_to_records(table, records, n);
  bool ok = write_all(f, records, size_t(IMG_SYM_RECORD) * n);
  std::free(records);
  return ok;
}

}  // namespace

int img_write(FILE* f) {
  gc_full_collection();
  // After a full collection the free cells are exactly the run from the
  // free pointer to the end of the area.
  zvm.free_ptr = zvm.cons_end - 8 * zvm.free_count;
  uint32_t cells = (zvm.free_ptr - zvm.cons_first) / 8;
  uint32_t heap_bytes = zvm.heap_fill - 8;

  uint8_t* mb = zvm.memblock;
  store_u32(mb + MB_CONS_BASE, zvm.cons_first);
  store_u16(mb + MB_SYM_COUNT, static_cast<uint16_t>(zvm.sym_count));
  store_u16(mb + MB_FIRST_COLLECTABLE, static_cast<uint16_t>(zvm.first_collectable));
  store_u32(mb + MB_STATIC_HEAP, zvm.heap_static);
  store_u32(mb + MB_CONS_USED, cells);
  store_u32(mb + MB_HEAP_USED, heap_bytes);
  store_u32(mb + MB_MSG_AREA, zvm.msg_area);
  store_u32(mb + MB_BUILTIN_COUNT, zv_bi_live);
  // The loader refuses unterminated texts, so never write one.
  mb[MB_GENSYM_PREFIX + 19] = mb[MB_GENTEMP_PREFIX + 19] = 0;
  static uint8_t history[IMG_HISTORY];
  std::memcpy(history, zvm.history, IMG_HISTORY);
  if (load_u16(history) > 19) store_u16(history, 0);
  for (int i = 0; i < 20; i++) history[2 + 256 * i + 255] = 0;

  // The file's header states the areas this world needs: the capacity the
  // cons area has now, and a heap capacity that holds what is in use even
  // when the heap grew past the configured one.
  uint8_t header[IMG_HEADER];
  std::memcpy(header, zvm.header, IMG_HEADER);
  store_u32(header + HDR_CONS_CAP, zvm.cons_cap);
  if (load_u32(header + HDR_HEAP_CAP) < zvm.heap_fill)
    store_u32(header + HDR_HEAP_CAP, zvm.heap_limit);
  store_u16(header + HDR_HASH_SIZE, static_cast<uint16_t>(zvm.hash_size));

  bool ok = write_all(f, header, IMG_HEADER) && write_all(f, mb, IMG_MEMBLOCK) &&
            write_all(f, history, IMG_HISTORY);
  // The function word is this process's own; it is meaningless elsewhere.
  for (uint32_t i = 0; ok && i < zv_bi_live; i++) {
    uint8_t rec[6] = {0, 0, 0, 0, zv_builtins[i].kind, zv_builtins[i].count};
    ok = write_all(f, rec, 6);
  }
  uint8_t roots[4 * ROOT_COUNT];
  for (uint32_t i = 0; i < ROOT_COUNT; i++) store_u32(roots + 4 * i, zvm.roots[i]);
  uint8_t* outer = outer_symbol_entries();
  ok = ok && write_all(f, roots, sizeof roots) &&
       write_symbols(f, outer ? outer : zvm.symtab, zvm.sym_count) &&
       write_all(f, zvm.heap_base + 8, heap_bytes) &&
       write_all(f, zv_window + zvm.cons_first, size_t(8) * cells) &&
       write_all(f, zvm.hash, size_t(2) * zvm.hash_size);
  std::free(outer);
  // Buffered data may fail only on the flush (a full disk, say).
  ok = ok && std::fflush(f) == 0;
  return ok ? 0 : 1;
}

int img_write_file(const char* path) {
  char resolved[1024];
  if (!host_resolve_path(path, resolved, sizeof resolved) && resolved[0] == 0)
    std::snprintf(resolved, sizeof resolved, "%s", path);
  FILE* f = std::fopen(resolved, "wb");
  if (!f) return 1;
  int r = img_write(f);
  if (std::fclose(f) != 0) r = 1;
  return r;
}

// ---------------------------------------------------------------------------
// A look at an image before it is loaded

bool img_peek_symbol_value(const char* path, uint32_t index, Value* out) {
  char resolved[1024];
  if (!host_resolve_path(path, resolved, sizeof resolved) && resolved[0] == 0)
    std::snprintf(resolved, sizeof resolved, "%s", path);
  FILE* f = std::fopen(resolved, "rb");
  if (!f) return false;
  uint8_t fixed[IMG_HEADER + IMG_MEMBLOCK];
  uint8_t word[4];
  bool ok = std::fread(fixed, 1, sizeof fixed, f) == sizeof fixed;
  if (ok) {
    const uint8_t* mb = fixed + IMG_HEADER;
    uint64_t at = IMG_FIXED + 6ull * load_u32(mb + MB_BUILTIN_COUNT) + 4 * ROOT_COUNT +
                  uint64_t(IMG_SYM_RECORD) * index + IMG_SYM_VALUE;
    ok = index < load_u16(mb + MB_SYM_COUNT) && at < (1ull << 31) &&
         std::fseek(f, long(at), SEEK_SET) == 0 && std::fread(word, 1, 4, f) == 4;
  }
  std::fclose(f);
  if (ok) *out = load_u32(word);
  return ok;
}

// ---------------------------------------------------------------------------
// Loading into the running world

struct StagedImage {
  uint8_t fixed[IMG_FIXED];  // header, memory block, history
  Value roots[ROOT_COUNT];
  uint8_t* symtab;  // Y entries
  uint8_t* heap;    // 8 bytes standing for the heap's first 8, then H bytes
  uint8_t* cons;    // C cells
  uint32_t symbols, heap_bytes, cells;
};

namespace {

const uint8_t* staged_mb(const StagedImage* st) { return st->fixed + IMG_HEADER; }

bool file_shorter_than(FILE* f, uint64_t bytes) {
  struct stat sb;
  return fstat(fileno(f), &sb) == 0 && S_ISREG(sb.st_mode) && uint64_t(sb.st_size) < bytes;
}

// Align the staged world (see align_running_world); its memory block
// follows.
bool align_staged(StagedImage* st) {
  std::vector<AlignStep> steps = align_steps(st->heap, st->heap_bytes);
  if (steps.empty()) return true;
  uint32_t grow = steps.back().shift;
  if (st->heap_bytes + grow >= HEAP_CAP_MAX) return false;
  uint8_t* heap = static_cast<uint8_t*>(std::realloc(st->heap, size_t(st->heap_bytes) + grow + 8));
  if (!heap) return false;
  st->heap = heap;
  uint8_t* mb = st->fixed + IMG_HEADER;
  uint32_t heap_static = load_u32(mb + MB_STATIC_HEAP), msg_area = load_u32(mb + MB_MSG_AREA);
  AlignWorld w{st->heap,  st->heap_bytes, st->symtab,   st->symbols, st->cons,
               st->cells, st->roots,      &heap_static, &msg_area};
  apply_align_steps(w, steps);
  st->heap_bytes += grow;
  store_u32(mb + MB_STATIC_HEAP, heap_static);
  store_u32(mb + MB_MSG_AREA, msg_area);
  store_u32(mb + MB_HEAP_USED, st->heap_bytes);
  return true;
}

int stage_sections(FILE* f, StagedImage* st) {
  const uint8_t* h = st->fixed;
  const uint8_t* mb = staged_mb(st);
  uint32_t s_count = load_u32(mb + MB_BUILTIN_COUNT);
  if (s_count > zv_bi_live) {
    std::snprintf(failure, sizeof failure, "%u built-ins, this kernel has %u", s_count,
                  unsigned(zv_bi_live));
    return IMG_BUILTINS;
  }
  for (uint32_t i = 0; i < s_count; i++) {
    uint8_t rec[6];
    if (!read_exact(f, rec, 6)) return IMG_IO;
    if (rec[4] != zv_builtins[i].kind || rec[5] != zv_builtins[i].count) {
      std::snprintf(failure, sizeof failure, "built-in %u differs", i);
      return IMG_BUILTINS;
    }
  }
  st->symbols = load_u16(mb + MB_SYM_COUNT);
  st->heap_bytes = load_u32(mb + MB_HEAP_USED);
  st->cells = load_u32(mb + MB_CONS_USED);
  uint32_t p = load_u16(h + HDR_HASH_SIZE);
  // The sizes come from the file: before buffers are made for them, the
  // file must be long enough to hold them.
  uint64_t rest = 4ull * ROOT_COUNT + uint64_t(IMG_SYM_RECORD) * st->symbols + st->heap_bytes +
                  8ull * st->cells + 2ull * p;
  if (file_shorter_than(f, IMG_FIXED + 6ull * s_count + rest)) {
    fail_with(TRUNCATED);
    return IMG_IO;
  }
  st->symtab = static_cast<uint8_t*>(std::malloc(size_t(SYM_ENTRY) * st->symbols + 1));
  st->heap = static_cast<uint8_t*>(std::malloc(size_t(st->heap_bytes) + 8));
  st->cons = static_cast<uint8_t*>(std::malloc(size_t(8) * st->cells + 1));
  uint8_t* hash = static_cast<uint8_t*>(std::malloc(size_t(2) * p + 1));
  if (!st->symtab || !st->heap || !st->cons || !hash) {
    std::free(hash);
    fail_with(std::strerror(ENOMEM));
    return IMG_IO;
  }
  std::memset(st->heap, 0, 8);
  uint8_t roots[4 * ROOT_COUNT];
  // The hash array is read only to know the file is whole; it is rebuilt.
  bool ok = read_exact(f, roots, sizeof roots) && read_symbols(f, st->symtab, st->symbols) &&
            read_exact(f, st->heap + 8, st->heap_bytes) &&
            read_exact(f, st->cons, size_t(8) * st->cells) && read_exact(f, hash, size_t(2) * p);
  std::free(hash);
  if (!ok) return IMG_IO;
  for (uint32_t i = 0; i < ROOT_COUNT; i++) st->roots[i] = load_u32(roots + 4 * i);

  uint32_t base = load_u32(mb + MB_CONS_BASE);
  WorldView v{};
  v.heap_base = st->heap;
  v.heap_bytes = st->heap_bytes;
  v.symtab = st->symtab;
  v.symbols = st->symbols;
  v.cons = st->cons;
  v.cells = st->cells;
  v.roots = st->roots;
  v.builtins = s_count;
  v.heap_static = load_u32(mb + MB_STATIC_HEAP);
  v.msg_area = load_u32(mb + MB_MSG_AREA);
  v.cons_lo = base;
  v.cons_hi = base + 8 * st->cells;
  if (!img_check_view(v)) return IMG_IO;
  scrub_stream_handles(st->heap + 8, st->heap_bytes);
  if (!align_staged(st)) {
    fail_with(std::strerror(ENOMEM));
    return IMG_IO;
  }
  return IMG_OK;
}

}  // namespace

int img_stage(FILE* f, StagedImage** out) {
  *out = nullptr;
  StagedImage* st = static_cast<StagedImage*>(std::calloc(1, sizeof(StagedImage)));
  if (!st) {
    fail_with(std::strerror(ENOMEM));
    return IMG_IO;
  }
  int r = IMG_IO;
  if (read_exact(f, st->fixed, IMG_FIXED)) {
    const uint8_t* mb = staged_mb(st);
    if (!header_ok(st->fixed) || !memblock_ok(mb) || !history_ok(mb + IMG_MEMBLOCK))
      fail_with(INCONSISTENT);
    else
      r = stage_sections(f, st);
  }
  if (r != IMG_OK) {
    img_discard(st);
    return r;
  }
  *out = st;
  return IMG_OK;
}

bool img_staged_fits(const StagedImage* st) {
  uint32_t heap_room = zvm.heap_limit >= 8 ? zvm.heap_limit - 8 : 0;
  return st->symbols <= zvm.sym_cap && st->heap_bytes <= heap_room && st->cells <= zvm.cons_cap;
}

void img_staged_needs(const StagedImage* st, uint32_t* heap_bytes, uint32_t* cells,
                      uint32_t* symbols) {
  *heap_bytes = st->heap_bytes;
  *cells = st->cells;
  *symbols = st->symbols;
}

void img_discard(StagedImage* st) {
  if (!st) return;
  std::free(st->symtab);
  std::free(st->heap);
  std::free(st->cons);
  std::free(st);
}

void img_install(StagedImage* st) {
  const uint8_t* mb = staged_mb(st);
  uint32_t saved_base = load_u32(mb + MB_CONS_BASE);
  // Entries past the count are free slots: nothing of the old world stays.
  std::memset(zvm.symtab, 0, size_t(SYM_ENTRY) * (zvm.sym_cap + 4));
  std::memcpy(zvm.symtab, st->symtab, size_t(SYM_ENTRY) * st->symbols);
  std::memcpy(zvm.heap_base + 8, st->heap + 8, st->heap_bytes);
  std::memcpy(zv_window + zvm.cons_first, st->cons, size_t(8) * st->cells);
  std::memcpy(zvm.memblock, mb, IMG_MEMBLOCK);
  store_u32(zvm.memblock + MB_CONS_BASE, zvm.cons_first);
  std::memcpy(zvm.roots, st->roots, sizeof zvm.roots);
  zvm.sym_count = st->symbols;
  zvm.first_collectable = load_u16(mb + MB_FIRST_COLLECTABLE);
  zvm.heap_static = load_u32(mb + MB_STATIC_HEAP);
  zvm.heap_fill = 8 + st->heap_bytes;
  zvm.msg_area = load_u32(mb + MB_MSG_AREA);
  zvm.free_ptr = zvm.cons_first + 8 * st->cells;
  img_discard(st);

  // The thread keeps its stacks; what it held of the old world goes.
  ThreadState* ts = zvts;
  ts->glvalue = NIL;
  ts->mv_count = 0;
  ts->spare = NIL;
  set_car(ts->eval_slot, NIL);
  set_cdr(ts->eval_slot, NIL);
  kw_clear();

  mem_post_load(zvm.free_ptr, 2);
  if (zvm.cons_first != saved_base)
    img_relocate(static_cast<int32_t>(zvm.cons_first - saved_base) / 8, false);
  sym_rehash();
  hash_tables_rehash_all();
  if (hdr_u8(HDR_SWITCHES) & SW_MEMORY_STATS) gc_status_line(0, 0);
}
