// The image file: loader, section reader, relocation and writer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "object/value.h"

constexpr uint32_t IMG_HEADER = 42;
constexpr uint32_t IMG_MEMBLOCK = 80;
constexpr uint32_t IMG_HISTORY = 5122;
constexpr uint32_t IMG_FIXED = IMG_HEADER + IMG_MEMBLOCK + IMG_HISTORY;  // 5244

// A symbol in the file: a packed 18-byte record {u16 flags, name, value,
// function, plist}.  The reader turns each into an entry of the in-memory
// layout (value.h) and the writer back; nothing else knows this one.
constexpr uint32_t IMG_SYM_RECORD = 18;
enum : uint32_t {
  IMG_SYM_FLAGS = 0,
  IMG_SYM_NAME = 2,
  IMG_SYM_VALUE = 6,
  IMG_SYM_FUNCTION = 10,
  IMG_SYM_PLIST = 14,
};

// The smallest stack size (N) an image may have: start-up, an error and
// its break loop need room on both stacks beyond the reserve the
// evaluator keeps for errors.
constexpr uint32_t IMG_MIN_STACK = 256;

// Results.
enum : int { IMG_OK = 0, IMG_BUILTINS = 1, IMG_CAPACITY = 2, IMG_IO = 3 };

// Start-up load (mode 1) or load with stack relocation (mode 2): 0..3.
int img_load(const char* path, int mode);
// Read from the built-in records to the end, check and install them.
// `memblock` is the file's memory block; mode 0 skips the hash array.
int img_read_sections(FILE* f, const uint8_t* memblock, int mode);
// Add 8 x delta to every raw cons address.
void img_relocate(int32_t delta_cells, bool with_stacks);
// Write the world (after a full collection): 0 on success, 1 on failure.
int img_write(FILE* f);
// Convenience for the genesis and tests: write to a path.
int img_write_file(const char* path);

// The sections of a world as the check reads them, wherever they lie.
struct WorldView {
  uint8_t* heap_base;     // 8 bytes before the first heap byte: heap Values count from here
  uint32_t heap_bytes;    // H
  const uint8_t* symtab;  // Y entries, in the in-memory layout
  uint32_t symbols;       // Y
  const uint8_t* cons;    // C cells, car then cdr
  uint32_t cells;         // C
  const Value* roots;     // the 131 root words
  uint32_t builtins;      // S: built-in numbers below it exist
  uint32_t heap_static, msg_area;
  uint32_t cons_lo, cons_hi;     // the range the cons Values must lie in
};
bool img_check_view(const WorldView& view);

// Check a world just read, every cell below the free pointer in use: the
// heap walkable to the fill pointer, the static prefix and the 40 message
// texts on object boundaries, every Value well formed, conses inside
// [cons_lo, cons_hi).  False with img_error_text() set when it is not.
bool img_check_world(uint32_t cons_lo, uint32_t cons_hi);
// Text for "\nFatal I/O error: %s." after a result 3.
const char* img_error_text();

// The value word of symbol `index` in the image file at path, read without
// loading it (and so without any check: a hint, not a Value); false when
// the file cannot be read that far.
bool img_peek_symbol_value(const char* path, uint32_t index, Value* out);

// ---------------------------------------------------------------------------
// Loading an image into the running world
//
// The whole file is read into buffers of its own and checked there first;
// only a world that passed is copied over the running one, by a step that
// cannot fail.  So a bad file never leaves a half-replaced world.

struct StagedImage;

// Read and check the whole image from f (at its start): IMG_OK with *out
// set, IMG_BUILTINS for another built-in table, IMG_IO with
// img_error_text() for a file that cannot be read or is not a sound
// image.  Nothing of the running world is touched.
int img_stage(FILE* f, StagedImage** out);
// Whether the staged world fits the running areas; otherwise its needs.
bool img_staged_fits(const StagedImage* st);
void img_staged_needs(const StagedImage* st, uint32_t* heap_bytes, uint32_t* cells,
                      uint32_t* symbols);
void img_discard(StagedImage* st);
// Replace the running world by the staged one (which must fit) and free
// the stage.  The running header, switches and history stay; the thread's
// stacks are left as they are, so the caller must hold no Value of the old
// world on them.  Streams of the new world are closed (word 2 cleared).
void img_install(StagedImage* st);
