// Messages 0..39, the texts the image carries itself (the documentation
// files carry the rest).  Most are FORMAT control strings over the objects
// of an error code or the arguments of the message printer; the prompts
// (12, 13) are printed as they stand.
#pragma once

#include <cstdint>

constexpr uint32_t MESSAGE_COUNT = 40;

// The message of the error signalled for a built-in this kernel does not
// implement yet; its one object is the built-in's number.
constexpr uint32_t MSG_NOT_IMPLEMENTED = 24;

extern const char* const zv_message_texts[MESSAGE_COUNT];

// Allocates the 40 texts end to end and points the message area at the
// first.
bool gen_make_message_area();
