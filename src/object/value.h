// Values and heap object layouts: the one header of accessors that all
// kernel code uses.
//
// A Value is a 32-bit word with the tag in the top byte.  Conses are
// offsets into a private 16 MiB window, heap objects are 24-bit offsets
// from the heap base, symbols are indices into the symbol table.  Byte
// objects are only 2-byte aligned, so every multi-byte field goes through
// the load/store helpers; Value words (of conses, symbol entries and
// Value-holding heap objects) are 4-aligned, so that a word one thread
// stores is never seen half-written by another.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "the image format and the heap layouts are little-endian");

using Value = uint32_t;

// ---------------------------------------------------------------------------
// Unaligned access

inline uint32_t load_u32(const void* p) {
  uint32_t x;
  std::memcpy(&x, p, 4);
  return x;
}
inline void store_u32(void* p, uint32_t x) { std::memcpy(p, &x, 4); }
inline uint16_t load_u16(const void* p) {
  uint16_t x;
  std::memcpy(&x, p, 2);
  return x;
}
inline void store_u16(void* p, uint16_t x) { std::memcpy(p, &x, 2); }

// ---------------------------------------------------------------------------
// Tags and fixed words

enum : uint32_t {
  TAG_CONS = 0x00,     // NIL (word 0) or a cons window offset
  TAG_SYMBOL = 0x01,   // symbol index in the low 16 bits
  TAG_INDEX = 0x02,    // index-carrying immediate (accepted, never built)
  TAG_KEYWORD = 0x03,  // keyword Value: symbol index
  TAG_LEXREF = 0x04,   // evaluator's cached lexical reference
  TAG_BUILTIN = 0x05,  // 0x05..0x09: built-in of kind tag - 5
  TAG_CHAR = 0x0A,
  TAG_FIXNUM = 0x0B,
  TAG_MARKER = 0x0F,
  TAG_INT64 = 0x4C,
  TAG_DOUBLE = 0x4D,
  TAG_COMPLEX = 0x4E,
  TAG_VECTOR = 0x50,  // strings, arrays, raw byte blocks
  TAG_OBJECT = 0x60,  // streams, hash tables, instances, classes
};

constexpr uint32_t TAG_HEAP_BIT = 0x40;  // datum is a heap offset
constexpr uint32_t MARK_BIT = 0x80000000u;

constexpr Value NIL = 0;
constexpr Value T = 0x01000080;             // symbol 0x80
constexpr Value NO_VALUE = 0x0FFF0013;      // argument end marker, unbound
constexpr Value HASH_EMPTY = 0x0F000013;    // empty hash-table slot
constexpr Value HASH_DELETED = 0x0F010013;  // deleted hash-table slot

inline uint32_t tag_of(Value v) { return v >> 24; }
inline bool is_no_value(Value v) { return (v >> 16) == 0x0FFF; }
inline Value bool_value(bool b) { return b ? T : NIL; }

// ---------------------------------------------------------------------------
// Heap types (type byte of header word 0)

enum : uint8_t {
  HT_BYTES = 1,     // string (one-dimensional flag) or raw byte block
  HT_DOUBLE = 2,    // double float, complex of doubles
  HT_INT64 = 3,     // 64-bit integer, complex of 64-bit integers
  HT_OBJECT16 = 16, // accepted by the value check, built by later code
  HT_FILE = 17,     // streams: low six bits 17..19
  HT_WINDOW = 18,
  HT_STRING_STREAM = 19,
  HT_COMPOSITE_STREAM = 21,  // streams made of other streams
  HT_ARRAY = 18,    // under tag 0x50: array or simple vector
  HT_HASH = 20,
  HT_INSTANCE = 24,
  HT_CLASS = 88,
};
constexpr uint8_t HT_HOLDS_VALUES = 16;  // type-byte bit: data are Values
constexpr uint8_t HT_STREAM_INPUT = 0x40;
constexpr uint8_t HT_STREAM_OUTPUT = 0x80;

constexpr uint32_t HDR_ONE_DIM = 0x01000000;  // header word 1, bit 24
constexpr uint32_t HDR_LEN_MASK = 0x00FFFFFF;

// ---------------------------------------------------------------------------
// Fixnums

constexpr int32_t FIXNUM_MIN = -8388608;
constexpr int32_t FIXNUM_MAX = 8388607;

inline Value make_fixnum(int32_t n) {
  return (static_cast<uint32_t>(n) & 0xFFFFFF) | 0x0B000000u;
}
inline int32_t fixnum_value(Value v) {
  return static_cast<int32_t>(v << 8) >> 8;  // sign-extend bit 23
}
inline bool fits_fixnum(int64_t n) { return n >= FIXNUM_MIN && n <= FIXNUM_MAX; }
inline bool is_fixnum(Value v) { return tag_of(v) == TAG_FIXNUM; }

// ---------------------------------------------------------------------------
// Characters, keywords, built-ins, symbols as Values

inline Value make_char(uint32_t code) { return 0x0A000000u | (code & 0xFFFFFF); }

// Character Values: code, bits byte (special key, modifiers) and font.
constexpr uint32_t CHAR_SPECIAL_KEY = 0x100;  // bit 0 of the bits byte
constexpr uint32_t CHAR_MODIFIER_SHIFT = 9;   // modifiers 1, 2, 4 at bits 9-11
constexpr uint32_t CHAR_MODIFIER_MASK = 7;

inline bool is_char(Value v) { return tag_of(v) == TAG_CHAR; }
inline uint32_t char_code(Value c) { return c & 0xFF; }
inline uint32_t char_bits(Value c) { return (c >> 8) & 0xFF; }
inline uint32_t char_font(Value c) { return (c >> 16) & 0xFF; }
inline uint32_t char_modifiers(Value c) { return (c >> CHAR_MODIFIER_SHIFT) & CHAR_MODIFIER_MASK; }
// A plain character: no bits and no font, so it can stand in a string.
inline bool is_string_char(Value v) { return (v & 0xFFFFFF00u) == 0x0A000000u; }

inline Value make_symbol(uint32_t index) { return index == 0 ? NIL : (0x01000000u | index); }
inline Value make_keyword(uint32_t index) { return 0x03000000u | index; }
inline uint32_t symbol_index(Value v) { return v & 0xFFFF; }
// Symbol arguments: a tag-1 symbol, a keyword, a lambda-list mark or a
// cached lexical reference, or NIL (symbol 0).  The symbol index, or -1.
inline int32_t symbol_arg_index(Value v) {
  uint32_t t = tag_of(v);
  if (v == NIL) return 0;
  if (t >= TAG_SYMBOL && t <= TAG_LEXREF) return static_cast<int32_t>(v & 0xFFFF);
  return -1;
}
// A lexical reference caches where a variable's binding was found: the
// symbol index, and the binding's distance above the lexical environment.
constexpr uint32_t LEXREF_MAX_DISTANCE = 255;
inline Value make_lexref(uint32_t distance, uint32_t s) {
  return (uint32_t(TAG_LEXREF) << 24) | (distance << 16) | s;
}
inline uint32_t lexref_distance(Value ref) { return (ref >> 16) & 0xFF; }

inline Value make_builtin(uint32_t kind, uint32_t number) {
  return ((TAG_BUILTIN + kind) << 24) | (number & 0xFFFF);
}
inline bool is_builtin(Value v) { return tag_of(v) >= 5 && tag_of(v) <= 9; }
// The number and the calling kind of a built-in Value.
inline uint32_t builtin_number(Value v) { return v & 0xFFFF; }
inline uint32_t builtin_kind(Value v) { return tag_of(v) - TAG_BUILTIN; }

// ---------------------------------------------------------------------------
// The world: process-wide memory descriptors

struct Memory {
  // Cons area, as offsets into the cons window.
  uint32_t cons_first = 0;   // first cell
  uint32_t cons_end = 0;     // one past the last cell
  uint32_t cons_cap = 0;     // cells
  Value free_head = NIL;     // free list through cdr words, ascending
  uint32_t free_count = 0;
  uint32_t cons_reserve = 0; // low-water mark of free cells
  // The emergency reserve: free cells and heap bytes the allocators keep
  // back so that the break loop of an exhaustion can still read and
  // print.  Given back (set to 0) when the exhaustion is signalled, kept
  // again once a collection leaves room (see mem_arm_reserve).
  uint32_t cons_held = 0;
  uint32_t heap_held = 0;
  bool reserve_armed = false;  // whether the world keeps the reserve at all
  uint32_t free_ptr = 0;     // cells below it were in use at load / full gc

  // Vector heap.  All positions are byte offsets from the heap base
  // (data base - 8), so they survive a move of the block.
  uint8_t* heap_block = nullptr;  // as allocated
  uint8_t* heap_base = nullptr;   // data base - 8
  uint32_t heap_fill = 8;         // fill pointer
  uint32_t heap_limit = 8;        // base + capacity
  uint32_t heap_static = 0;       // static prefix size (from the data base)
  uint32_t msg_area = 0;          // message area (from the data base)

  // Symbol table and its hash array.
  uint8_t* symtab = nullptr;  // (capacity + 4) entries of SYM_ENTRY bytes
  uint16_t* hash = nullptr;   // hash_size slots
  uint32_t sym_count = 0;
  uint32_t sym_cap = 0;
  uint32_t hash_size = 0;
  uint32_t first_collectable = 0;

  // Root words: 0..128 macro-character table (bit 31: non-terminating),
  // 129 place-expander table, 130 type table.
  Value roots[131] = {};

  // Lookup caches, reset whenever objects may have moved.
  uint16_t cache_a = 0xFFFF;
  uint32_t cache_b = 0;

  uint8_t header[42] = {};    // image header (the kernel's own until a load)
  uint8_t memblock[80] = {};  // counters, prefixes, counts
  uint8_t history[5122] = {}; // console history block
};

extern Memory zvm;
extern uint8_t* zv_window;  // base of the 16 MiB cons window

constexpr uint32_t ROOT_COUNT = 131;
constexpr uint32_t ROOT_PLACE_EXPANDERS = 129;
constexpr uint32_t ROOT_TYPE_TABLE = 130;

// Image header offsets.
enum : uint32_t {
  HDR_STACK_N = 0,
  HDR_CONS_CAP = 4,
  HDR_SYM_CAP = 8,
  HDR_RESERVED10 = 10,
  HDR_HEAP_CAP = 12,
  HDR_INIT_CONS = 16,
  HDR_ATTR_TERMINAL = 20,
  HDR_ATTR_STATUS = 22,
  HDR_ATTR_24 = 24,
  HDR_ATTR_26 = 26,
  HDR_ATTR_INDICATOR = 28,
  HDR_ATTR_30 = 30,
  HDR_ATTR_32 = 32,
  HDR_ATTR_34 = 34,
  HDR_HASH_SIZE = 36,
  HDR_SWITCHES = 38,
  HDR_SWITCHES2 = 39,
  HDR_RESERVED40 = 40,
};
// Switch bits of HDR_SWITCHES.
enum : uint8_t {
  SW_STATUS_WINDOW = 1,
  SW_MEMORY_STATS = 2,
  SW_READER = 4,
  SW_ALERTS = 8,
  SW_POPUP = 16,
  SW_PRINTER = 32,
  SW_PRINTER_BREAK_ALL = 64,  // pretty lists without a layout never fit flat
  SW_WARN_REDEFINE = 128,
};

// Memory block offsets.
enum : uint32_t {
  MB_CONS_BASE = 0,
  MB_GENSYM_COUNTER = 4,
  MB_GENTEMP_COUNTER = 8,
  MB_GENSYM_PREFIX = 12,
  MB_GENTEMP_PREFIX = 32,
  MB_SYM_COUNT = 52,
  MB_FIRST_COLLECTABLE = 54,
  MB_STATIC_HEAP = 56,
  MB_CONS_USED = 60,
  MB_HEAP_USED = 64,
  MB_MSG_AREA = 68,
  MB_RESERVED72 = 72,
  MB_BUILTIN_COUNT = 76,
};

inline uint32_t hdr_u32(uint32_t off) { return load_u32(zvm.header + off); }
inline uint16_t hdr_u16(uint32_t off) { return load_u16(zvm.header + off); }
inline uint8_t hdr_u8(uint32_t off) { return zvm.header[off]; }
inline uint32_t mb_u32(uint32_t off) { return load_u32(zvm.memblock + off); }
inline uint16_t mb_u16(uint32_t off) { return load_u16(zvm.memblock + off); }

// ---------------------------------------------------------------------------
// Conses

inline uint32_t* cons_cell(Value c) {
  return reinterpret_cast<uint32_t*>(zv_window + c);  // cells are 8-aligned
}
// Any list may be code that the interpreter rewrites in place while another
// thread runs it (set_car_published), and every walker of code reads cars
// (bodies, lambda lists, declarations, and the Lisp code that looks at
// forms): each read of a car is an acquire load, which meets the rewrite's
// release store.  A plain move on x86 all the same.
inline Value car(Value c) { return __atomic_load_n(&cons_cell(c)[0], __ATOMIC_ACQUIRE); }
inline Value cdr(Value c) { return cons_cell(c)[1]; }
inline void set_car(Value c, Value x) { cons_cell(c)[0] = x; }
inline void set_cdr(Value c, Value x) { cons_cell(c)[1] = x; }
// The interpreter's rewrites of code in place, which another thread may be
// evaluating: one store of a Value that is complete and valid for every
// thread (release), met by the acquire load of every read of a car.
// Plain moves on x86; they keep the order, and tell the thread sanitizer.
inline Value car_published(Value c) { return car(c); }
inline void set_car_published(Value c, Value x) {
  __atomic_store_n(&cons_cell(c)[0], x, __ATOMIC_RELEASE);
}

// The first pages of the window hold the per-thread scratch conses, one
// for every record of the thread table.
constexpr uint32_t WINDOW_SIZE = 0x1000000;
constexpr uint32_t SCRATCH_BASE = 0x10000;
constexpr uint32_t MAX_THREADS = 2048;
constexpr uint32_t CONS_AREA_FLOOR = SCRATCH_BASE + 8 * MAX_THREADS;
inline Value scratch_cons_of(uint32_t thread_number) {
  return SCRATCH_BASE + 8 * thread_number;
}

// ---------------------------------------------------------------------------
// Heap objects

inline uint32_t heap_offset(Value v) { return v & 0xFFFFFF; }
inline uint8_t* heap_addr(Value v) { return zvm.heap_base + heap_offset(v); }
inline uint8_t heap_type(Value v) { return heap_addr(v)[0]; }
inline uint32_t heap_hdr1(Value v) { return load_u32(heap_addr(v) + 4); }
inline void heap_set_hdr1(Value v, uint32_t h) { store_u32(heap_addr(v) + 4, h); }
inline uint32_t heap_length(Value v) { return heap_hdr1(v) & HDR_LEN_MASK; }
inline uint32_t heap_raw_words(Value v) { return heap_hdr1(v) >> 25; }
// One-dimensional and no trailing raw words: a string or a simple vector
// (header word 1, top byte 1).
inline bool heap_is_one_dim(Value v) { return (heap_hdr1(v) >> 24) == 1; }
// Rank of a general array (HT_ARRAY, not one-dimensional): its stored
// dimension words count in the raw-word bits.
inline uint32_t heap_array_rank(Value v) {
  uint32_t h = heap_hdr1(v);
  return (h >> 25) + ((h >> 24) & 1);
}
inline uint8_t* heap_data(Value v) { return heap_addr(v) + 8; }
// The Value words of an object are Lisp data that threads share: a vector,
// an instance or a structure another thread fills (the object system's
// caches of classes and generic functions fill lazily, from whichever
// thread gets there first).  Like a car, each word is read with an acquire
// load and stored with a release store, so an object reached through a word
// is complete for the reader; plain moves on x86.  Only Value-holding
// objects are read this way, and their words are 4-aligned.
inline Value* heap_word_ptr(Value v, uint32_t i) {
  uint8_t* p = heap_data(v) + 4 * i;
  assert((reinterpret_cast<uintptr_t>(p) & 3) == 0);
  return reinterpret_cast<Value*>(p);
}
inline Value heap_word(Value v, uint32_t i) {
  return __atomic_load_n(heap_word_ptr(v, i), __ATOMIC_ACQUIRE);
}
inline void heap_set_word(Value v, uint32_t i, Value x) {
  __atomic_store_n(heap_word_ptr(v, i), x, __ATOMIC_RELEASE);
}

// Streams: objects whose type byte has 17..19 in its low six bits (the
// high bits say input and output).
constexpr uint8_t STREAM_KIND_MASK = 0x3F;
inline bool is_stream(Value v) {
  if (tag_of(v) != TAG_OBJECT) return false;
  uint8_t k = heap_type(v) & STREAM_KIND_MASK;
  return (k >= HT_FILE && k <= HT_STRING_STREAM) || k == HT_COMPOSITE_STREAM;
}

// Size in bytes of the object whose header is at p (header included).
inline uint32_t object_size_at(const uint8_t* p) {
  uint32_t len = load_u32(p + 4) & HDR_LEN_MASK;
  return (p[0] & HT_HOLDS_VALUES) ? 8 + 4 * len : (len + 9) & ~1u;
}
// Value-holding objects start on offsets of 0 mod 4 (so do their words:
// the heap base is 8-aligned).  One that would start at 2 mod 4 gets this
// filler before it: a raw byte block of 2 bytes, the smallest object whose
// size is 2 mod 4.
constexpr uint32_t ALIGN_FILLER = 10;
inline bool needs_align_filler(uint8_t type, uint32_t offset) {
  return (type & HT_HOLDS_VALUES) && (offset & 2);
}
inline void put_align_filler(uint8_t* p) {
  store_u32(p, HT_BYTES);
  store_u32(p + 4, ALIGN_FILLER - 8);
  store_u16(p + 8, 0);
}
// Number of traced Value words of the object at p (0 for byte objects).
inline uint32_t object_value_words_at(const uint8_t* p) {
  if (!(p[0] & HT_HOLDS_VALUES)) return 0;
  uint32_t h = load_u32(p + 4);
  uint32_t len = h & HDR_LEN_MASK, raw = h >> 25;
  return raw < len ? len - raw : 0;
}

// Heap bytes in use (fill pointer - data base).
inline uint32_t heap_used() { return zvm.heap_fill - 8; }
// The fill pointer moves under the global lock (or with the world stopped),
// and the checks of Values read it without the lock: one atomic store.
inline void heap_set_fill(uint32_t fill) {
  __atomic_store_n(&zvm.heap_fill, fill, __ATOMIC_RELAXED);
}

// Strings: type 1 with the one-dimensional flag.
inline uint32_t string_length(Value s) { return heap_length(s); }
inline uint8_t* string_bytes(Value s) { return heap_data(s); }
inline bool is_string_raw(Value v) {
  return tag_of(v) == TAG_VECTOR && heap_type(v) == HT_BYTES && (heap_hdr1(v) & HDR_ONE_DIM);
}

// Numbers boxed in the heap.  A boxed integer of more than 8 data bytes is
// a bignum (object/bignum.h); read as a machine integer it gives the
// nearest 64-bit value, so code that wants one clamps instead of wrapping.
inline int64_t int64_value(Value v) {
  int64_t x;
  uint32_t n = heap_length(v);
  std::memcpy(&x, heap_data(v) + (n > 8 ? n - 8 : 0), 8);
  if (n > 8) return x < 0 ? INT64_MIN : INT64_MAX;
  return x;
}
inline double double_value(Value v) {
  double d;
  std::memcpy(&d, heap_data(v), 8);
  return d;
}

// ---------------------------------------------------------------------------
// Symbol entries: 20 bytes {name, value, function, plist, u16 flags, u16 0},
// each Value word 4-aligned.  Image files keep packed 18-byte records; the
// image reader and writer convert (image/image_file.h).

constexpr uint32_t SYM_ENTRY = 20;
enum : uint32_t { SYM_NAME = 0, SYM_VALUE = 4, SYM_FUNCTION = 8, SYM_PLIST = 12, SYM_FLAGS = 16 };
constexpr uint16_t SYMF_CLASS_MASK = 0x0007;  // variable class
constexpr uint16_t SYMF_INTERNED = 0x0008;
constexpr uint16_t SYMF_BIT4 = 0x0010;        // named by built-in 64
constexpr uint16_t SYMF_MARK = 0x0080;        // collector mark

inline uint8_t* sym_entry(uint32_t i) { return zvm.symtab + SYM_ENTRY * i; }
inline uint16_t sym_flags(uint32_t i) { return load_u16(sym_entry(i) + SYM_FLAGS); }
inline Value sym_name(uint32_t i) { return load_u32(sym_entry(i) + SYM_NAME); }
// The value and function words: the global value and definition (while
// bindings are shallow, the only thread's current ones); object/symbols.h
// has them as a thread sees them.  They are read by every thread while one
// stores (SETQ of a global, DEFUN): acquire loads met by release stores, so what
// the stored Value points to is complete for the reader; plain moves on x86.
inline Value* sym_word(uint32_t i, uint32_t w) {
  return reinterpret_cast<Value*>(sym_entry(i) + w);  // entries keep Values 4-aligned
}
inline Value sym_global_value(uint32_t i) {
  return __atomic_load_n(sym_word(i, SYM_VALUE), __ATOMIC_ACQUIRE);
}
inline Value sym_global_function(uint32_t i) {
  return __atomic_load_n(sym_word(i, SYM_FUNCTION), __ATOMIC_ACQUIRE);
}
// The property list: the object system files a class's description there
// at its first use, from whichever thread gets there first.
inline Value sym_plist(uint32_t i) {
  return __atomic_load_n(sym_word(i, SYM_PLIST), __ATOMIC_ACQUIRE);
}
inline void sym_set_flags(uint32_t i, uint16_t f) { store_u16(sym_entry(i) + SYM_FLAGS, f); }
inline void sym_set_name(uint32_t i, Value v) { store_u32(sym_entry(i) + SYM_NAME, v); }
inline void sym_set_global_value(uint32_t i, Value v) {
  __atomic_store_n(sym_word(i, SYM_VALUE), v, __ATOMIC_RELEASE);
}
inline void sym_set_global_function(uint32_t i, Value v) {
  __atomic_store_n(sym_word(i, SYM_FUNCTION), v, __ATOMIC_RELEASE);
}
inline void sym_set_plist(uint32_t i, Value v) {
  __atomic_store_n(sym_word(i, SYM_PLIST), v, __ATOMIC_RELEASE);
}

// ---------------------------------------------------------------------------
// The value check and the basic tests

// Ends the process with "Got a bad cons ptr %p\n" and exit code 1 when the
// word is malformed; returns it otherwise.  The common cases are decided
// inline; the rest (scratch conses, heap objects) out of line.
Value value_check_slow(Value v);
[[noreturn]] void bad_value(Value v);

inline Value value_check(Value v) {
  uint32_t t = v >> 24;
  if (t == TAG_CONS) {
    if (v == 0 || (v >= zvm.cons_first && v < zvm.cons_end && (v & 7) == 0)) return v;
  } else if (t == TAG_SYMBOL) {
    if ((v & 0xFFFF) <= 32767) return v;
  } else if (t == TAG_FIXNUM || t == TAG_CHAR) {
    return v;
  }
  return value_check_slow(v);
}

inline bool is_nil(Value v) { return value_check(v) < 0x10000; }
inline bool is_list(Value v) { return tag_of(value_check(v)) == TAG_CONS; }
inline bool is_cons(Value v) { return tag_of(value_check(v)) == TAG_CONS && v >= 0x10000; }
inline bool is_symbol(Value v) {
  uint32_t t = tag_of(value_check(v));
  return t >= 1 && t <= 4;
}
// Heap type of a Value: the type byte when tag bit 0x40 is set, else 0.
inline uint8_t heap_type_of(Value v) {
  return (tag_of(v) & TAG_HEAP_BIT) ? heap_type(v) : 0;
}
inline bool is_string(Value v) { return tag_of(value_check(v)) == TAG_VECTOR && is_string_raw(v); }
inline bool is_simple_vector(Value v) {
  return tag_of(value_check(v)) == TAG_VECTOR && heap_type(v) == HT_ARRAY && heap_is_one_dim(v);
}

// Unchecked variants for hot paths that have already classified the word.
inline bool nil_p(Value v) { return v < 0x10000; }
inline bool cons_p(Value v) { return v >= 0x10000 && tag_of(v) == TAG_CONS; }
