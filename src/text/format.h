// FORMAT: tilde directives over arguments, written to a stream.
//
// The 26 directives are the characters of "ASBDOXCFER?%|~&\nT*^[({;])}".
// Failures are error 16449 with four objects: the message text of the
// sub-code, the control string, the position reached in it and the
// sub-code itself.  Sub-codes: 50 wrong argument type for V, ~? or ~{, 51
// no argument left, 66 bad directive syntax, 71 unmatched or missing
// closing bracket.
#pragma once

#include <cstdint>

#include "object/value.h"

constexpr uint32_t ERR_FORMAT = 16449;
enum : uint32_t {
  FMT_BAD_ARG = 50,
  FMT_NO_ARG = 51,
  FMT_SYNTAX = 66,
  FMT_BRACKET = 71,
};

// Interpret control (a simple string) over args[0..nargs) on an output
// stream designator; returns NIL.  Used by the error signaller for
// messages.  The arguments are copied onto the Lisp stack first, so the
// caller's array need not be rooted.
Value format_to_stream(Value stream, Value control, uint32_t nargs, const Value* args);
