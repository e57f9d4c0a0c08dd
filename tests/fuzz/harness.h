// The common part of the fuzz targets: the kernel started the way
// `zorva -ROL image` starts it, with libFuzzer's driver in place of the
// top-level loop, each input run under a listener context of its own and
// checked afterwards for a session that still works.
#pragma once

#include <cstddef>
#include <cstdint>

#include "object/value.h"

// What a target does with one input.  It runs under a listener context:
// a Lisp error goes through the real signaller and break loop (which the
// harness answers) and comes back here as a throw.
using FuzzBody = void (*)(const uint8_t* data, size_t size);

// Optional set-up once the world is running (before the first input).
using FuzzSetup = void (*)();

// The whole fuzzer: starts the kernel on the default image (beside the
// executable, or $ZORVA_FUZZ_IMAGE) and hands argv to libFuzzer.
int fuzz_main(int argc, char** argv, FuzzBody body, FuzzSetup setup = nullptr);

// Objects read one after the other from the bytes [data, data + size)
// with the kernel's reader, each handed to fn until the end of the text
// (or `limit` objects).  The bytes become a Lisp string first.
void fuzz_read_each(const uint8_t* data, size_t size, uint32_t limit, void (*fn)(Value obj));

// A Lisp string of the bytes.
Value fuzz_string(const uint8_t* data, size_t size);

// A failed check: the message on standard error, then abort (libFuzzer
// keeps the input that caused it).
[[noreturn]] void fuzz_fail(const char* what);

// The image the kernel started on, as a path.
const char* fuzz_image_path();

// Run fn(data) under a listener context of its own: true when it
// returned, false when an error (or anything else) threw to the context.
bool fuzz_guarded(void (*fn)(void* data), void* data);

// Whether break loops get (+ 1 2) typed at them (the default), or are
// left at once (a world that is not the default one is never evaluated).
void fuzz_answer_breaks(bool on);

// After a target has put another world in place: the world set up as
// the driver sets up a world it installs, and the harness's settings.
void fuzz_settle_world();
