// The console history ring in the image's history block, with the long
// lines in %CONSOLE-HISTORY.
#include "io/history.h"

#include <cstring>

#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "object/value.h"

namespace {

uint8_t* slot_bytes(int slot) { return zvm.history + 2 + HISTORY_SLOT_BYTES * uint32_t(slot); }

// The vector of long lines, or NIL when there is none (or the value is
// something else).
Value long_lines() {
  Value v = sym_value(FS_CONSOLE_HISTORY);
  if (is_simple_vector(v) && heap_length(v) == HISTORY_LINES) return v;
  return NIL;
}

// A slot whose first 255 bytes hold no zero continues in the vector.
bool continued(int slot) {
  return std::memchr(slot_bytes(slot), 0, HISTORY_SLOT_BYTES - 1) == nullptr;
}

}  // namespace

int history_index() {
  int i = load_u16(zvm.history);
  return i < HISTORY_LINES ? i : 0;
}

bool history_entry(int slot, std::vector<uint8_t>* out) {
  out->clear();
  if (slot < 0 || slot >= HISTORY_LINES) return false;
  const uint8_t* p = slot_bytes(slot);
  if (continued(slot)) {
    Value v = long_lines();
    Value s = nil_p(v) ? NIL : heap_word(v, uint32_t(slot));
    // The string must still begin as the slot does: otherwise the slot was
    // written by something that did not know the vector.
    if (is_string(s) && string_length(s) >= HISTORY_SLOT_BYTES - 1 &&
        std::memcmp(string_bytes(s), p, HISTORY_SLOT_BYTES - 1) == 0) {
      out->assign(string_bytes(s), string_bytes(s) + string_length(s));
      return true;
    }
    out->assign(p, p + HISTORY_SLOT_BYTES - 1);
    return true;
  }
  out->assign(p, p + std::strlen(reinterpret_cast<const char*>(p)));
  return !out->empty();
}

void history_add(const uint8_t* p, uint32_t n) {
  if (n == 0) return;
  int newest = history_index();
  std::vector<uint8_t> current;
  if (history_entry(newest, &current) && current.size() == n && std::memcmp(current.data(), p, n) == 0)
    return;
  int slot = history_newer(newest);
  uint8_t* dst = slot_bytes(slot);
  std::memset(dst, 0, HISTORY_SLOT_BYTES);
  uint32_t keep = n < HISTORY_SLOT_BYTES - 1 ? n : HISTORY_SLOT_BYTES - 1;
  std::memcpy(dst, p, keep);
  store_u16(zvm.history, uint16_t(slot));
  Value v = long_lines();
  if (n < HISTORY_SLOT_BYTES - 1) {
    if (!nil_p(v)) heap_set_word(v, uint32_t(slot), NIL);
    return;
  }
  // The whole line goes to the vector; p may not point into the heap.
  Value s = mem_make_string(reinterpret_cast<const char*>(p), n);
  if (nil_p(v)) {
    root_push(&s);
    v = mem_alloc_vector(HISTORY_LINES);
    root_pop();
    for (uint32_t i = 0; i < HISTORY_LINES; i++) heap_set_word(v, i, NIL);
    sym_set_value(FS_CONSOLE_HISTORY, v);
  }
  heap_set_word(v, uint32_t(slot), s);
}
