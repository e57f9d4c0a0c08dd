// The value check: the last line of defence against a corrupted word.  A
// malformed Value ends the process at once; it is never a Lisp error.
#include "object/value.h"

#include <unistd.h>

#include <cstdio>

#include "object/error_hook.h"
#include "object/thread.h"

Memory zvm;
uint8_t* zv_window = nullptr;

void bad_value(Value v) {
  fatal_prepare();
  std::printf("Got a bad cons ptr %p\n", reinterpret_cast<void*>(static_cast<uintptr_t>(v)));
  std::fflush(stdout);
  _exit(1);  // no exit handlers, no Lisp streams
}

static bool heap_type_ok(uint32_t t7, Value v) {
  uint8_t type = heap_type(v);
  if (t7 == TAG_VECTOR) return type == HT_BYTES || type == HT_ARRAY || type == HT_INSTANCE;
  uint8_t low = type & 63;
  return type == HT_OBJECT16 || type == HT_HASH || type == HT_INSTANCE || type == HT_CLASS ||
         low == HT_FILE || low == HT_WINDOW || low == HT_STRING_STREAM ||
         low == HT_COMPOSITE_STREAM;
}

Value value_check_slow(Value v) {
  uint32_t t = v >> 24;
  if (t == 0) {
    if (v == 0) return v;
    bool inside = v >= zvm.cons_first && v < zvm.cons_end && (v & 7) == 0;
    if (!inside && !(zvts && v == zvts->eval_slot)) bad_value(v);
    return v;
  }
  // Other threads move the fill pointer as they allocate: one atomic read.
  uint32_t used = __atomic_load_n(&zvm.heap_fill, __ATOMIC_RELAXED) - 8;
  if ((t & TAG_HEAP_BIT) && heap_offset(v) > used) bad_value(v);
  if (t >= 1 && t <= 4 && (v & 0xFFFF) > 32767) bad_value(v);
  uint32_t t7 = t & 0x7F;
  if ((t7 >= 1 && t7 <= 11) || t7 == TAG_MARKER || t7 == TAG_INT64 || t7 == TAG_DOUBLE ||
      t7 == TAG_COMPLEX)
    return v;
  // Offset 0 and offsets inside the first header are never objects.
  if ((t7 == TAG_VECTOR || t7 == TAG_OBJECT) && heap_offset(v) >= 8 && heap_type_ok(t7, v))
    return v;
  bad_value(v);
}
