// The genesis: builds the first Lisp world in memory, ready for the image
// writer.  Each step module (fixed symbols, static heap, messages, root
// words) reports failure through gen_fail and returns false.
#pragma once

#include <cstdint>

// Records a failure message (printf-style) and returns false, so a step can
// end with `return gen_fail(...)`.
bool gen_fail(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The last failure message, or "" when there was none.
const char* gen_error();

// Frees any world in memory and builds the first one: header and memory
// block defaults, areas, the static heap prefix with the fixed classes and
// the message area, the fixed symbols, the values the kernel relies on, the
// root words and every built-in bound to its symbol.  `image_name` becomes
// the value of the image-name symbol.
// `stack_n` (0: the header's default) is the stack-size parameter the
// world is built with and that its image keeps.
bool gen_build_world(const char* image_name, uint32_t stack_n = 0);

// Loads the Lisp library from `dir` in its fixed order (lisp/README.md).
bool gen_load_library(const char* dir);
