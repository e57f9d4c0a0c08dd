// The image file: loader, section reader, relocation and writer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "object/value.h"

constexpr uint32_t IMG_HEADER = 42;
constexpr uint32_t IMG_MEMBLOCK = 80;
constexpr uint32_t IMG_HISTORY = 5122;
constexpr uint32_t IMG_FIXED = IMG_HEADER + IMG_MEMBLOCK + IMG_HISTORY;  // 5244

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

// Check a world just read, every cell below the free pointer in use: the
// heap walkable to the fill pointer, the static prefix and the 40 message
// texts on object boundaries, every Value well formed, conses inside
// [cons_lo, cons_hi).  False with img_error_text() set when it is not.
bool img_check_world(uint32_t cons_lo, uint32_t cons_hi);
// Text for "\nFatal I/O error: %s." after a result 3.
const char* img_error_text();
