// The console input history: a ring of 20 lines in the history block that
// the image file saves and reloads (a u16 index of the newest line, then
// 20 slots of 256 bytes, each zero-terminated).
//
// A slot holds at most 255 bytes.  A longer line keeps its first 255
// bytes in the slot, with no zero among them, and its whole text in the
// value of the fixed symbol %CONSOLE-HISTORY: a simple vector of 20
// elements, the string of each long line at its slot's position.  The
// vector is in the heap, so it is saved with the image like the block;
// a kernel that does not know it still sees the line's beginning.
#pragma once

#include <cstdint>
#include <vector>

constexpr int HISTORY_LINES = 20;
constexpr uint32_t HISTORY_SLOT_BYTES = 256;

// The newest line's slot.
int history_index();
// The entry before slot i (older): (i + 1) mod 20; after it (newer):
// (i + 19) mod 20.
inline int history_older(int i) { return (i + 1) % HISTORY_LINES; }
inline int history_newer(int i) { return (i + HISTORY_LINES - 1) % HISTORY_LINES; }

// The line in slot i into *out; false when the slot is empty.
bool history_entry(int slot, std::vector<uint8_t>* out);
// Store a line typed at the console: an empty line and a line equal to the
// newest entry are not stored; otherwise it goes to slot (index + 19) mod
// 20, which becomes the newest.  May allocate (a long line's string).
void history_add(const uint8_t* p, uint32_t n);
