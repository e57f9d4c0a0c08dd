// The printer over objects read from the input.  The first byte chooses
// the printer variables (escape, pretty, circle, radix, case, readably,
// length and level), the second the base; the objects of the rest are
// printed one by one to string streams.
#include "eval/stack.h"
#include "io/stream.h"
#include "object/symbols.h"
#include "tests/fuzz/common.h"
#include "tests/fuzz/harness.h"
#include "text/printer.h"

namespace {

uint8_t settings = 0;

void print_one(Value obj) {
  root_push(&obj);
  Value out = make_string_output_stream();
  root_push(&out);
  print_object(obj, out, (settings & 1) ? PRINT_ESCAPE : PRINT_NO_ESCAPE);
  root_pop(2);
}

Value flag(uint8_t bits, uint8_t bit) { return (bits & bit) ? T : NIL; }

void print_all(const uint8_t* data, size_t size) {
  if (size < 2) return;
  settings = data[0];
  uint32_t base = 2 + data[1] % 35;
  ThreadState* ts = zvts;
  uint32_t limit = ts->septr;
  static const uint32_t cases[] = {FS_UPCASE, FS_DOWNCASE, FS_CAPITALIZE, FS_UPCASE};
  bind_special(FS_PRINT_PRETTY, flag(settings, 2));
  bind_special(FS_PRINT_CIRCLE, (settings & 4) || labels_objects(data, size) ? T : NIL);
  bind_special(FS_PRINT_RADIX, flag(settings, 8));
  bind_special(FS_PRINT_CASE, make_keyword(cases[(settings >> 4) & 3]));
  bind_special(FS_PRINT_READABLY, flag(settings, 0x40));
  bind_special(FS_PRINT_LENGTH, (settings & 0x80) ? make_fixnum(data[1] % 7) : NIL);
  bind_special(FS_PRINT_LEVEL, (settings & 0x80) ? make_fixnum(data[1] % 5) : NIL);
  bind_special(FS_PRINT_BASE, make_fixnum(int32_t(base)));
  fuzz_read_each(data + 2, size - 2, 100, print_one);
  unbind_to(limit);
  ts->septr = uint16_t(limit);
}

}  // namespace

int main(int argc, char** argv) { return fuzz_main(argc, argv, print_all); }
