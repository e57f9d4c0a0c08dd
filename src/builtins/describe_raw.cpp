// The raw description of an object: its Value word and, for a heap object,
// the header fields and the first 64 words as they lie in memory, for
// looking at objects the printer cannot show (or shows too kindly).
#include <cstdio>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "io/stream.h"
#include "object/symbols.h"
#include "object/value.h"

namespace {

constexpr uint32_t kShownWords = 64;
constexpr uint32_t kSymbolNameMax = 126;

// NIL: standard output; T: the terminal; otherwise an output stream.
Value target_stream(Value designator) {
  if (nil_p(designator)) return output_stream(NIL);
  if (designator == T) return output_stream(sym_value(FS_TERMINAL_IO));
  if (!is_stream(designator) || !stream_is_output(designator))
    return lisp_error(E_WRONG_TYPE, designator);
  return designator;
}

void put(Value s, const char* text) { stream_write_cstr(s, text); }

}  // namespace

// 447 (object &optional stream)
Value bi_describe_raw(Value obj, Value) {
  check_max_args(2);
  Value s = target_stream(arg_count() >= 2 ? arg(2) : NIL);
  root_push(&obj);
  root_push(&s);
  char buf[64];
  std::snprintf(buf, sizeof buf, "\n%8X", obj);
  put(s, buf);
  uint32_t t = tag_of(obj);
  if ((t >= TAG_SYMBOL && t <= 4) || obj == NIL) {
    put(s, ": SYMBOL ");
    Value name = sym_name(symbol_index(obj));
    uint32_t n = string_length(name);
    stream_write_string(s, name, 0, n < kSymbolNameMax ? n : kSymbolNameMax);
  } else if (is_string(obj)) {
    put(s, ": STRING ");
    stream_write_string(s, obj, 0, string_length(obj));
  } else if (t & TAG_HEAP_BIT) {
    uint32_t len = heap_length(obj);
    std::snprintf(buf, sizeof buf, ": TAG_C %02X TAG_D %02X LEN %6X", t, heap_type(obj), len);
    put(s, buf);
    // Byte objects count bytes; their words are the bytes four at a time.
    uint32_t words = (heap_type(obj) & HT_HOLDS_VALUES) ? len : (len + 3) / 4;
    for (uint32_t i = 0; i < words && i < kShownWords; i++) {
      // Re-read every time: writing may move the object.
      uint32_t w = 0;
      const uint8_t* p = heap_data(obj) + 4 * i;
      uint32_t avail = (heap_type(obj) & HT_HOLDS_VALUES) ? 4 : (len - 4 * i < 4 ? len - 4 * i : 4);
      for (uint32_t b = 0; b < avail; b++) w |= uint32_t(p[b]) << (8 * b);
      std::snprintf(buf, sizeof buf, "%8X", w);
      put(s, buf);
    }
    if (words > kShownWords) put(s, "...");
  }
  root_pop(2);
  return NIL;
}
