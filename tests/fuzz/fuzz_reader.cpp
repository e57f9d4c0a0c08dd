// The reader over arbitrary text: every object of the input is read, and
// nothing else is done with it.
#include "tests/fuzz/harness.h"

namespace {

void ignore(Value) {}

void read_all(const uint8_t* data, size_t size) { fuzz_read_each(data, size, 1000, ignore); }

}  // namespace

int main(int argc, char** argv) { return fuzz_main(argc, argv, read_all); }
