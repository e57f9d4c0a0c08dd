// The fixed symbols as the genesis makes them, from object/symbols.def:
// every symbol index the kernel names directly, with the name the first
// image gives it.
//
// Colours.  Where the error system and the debugger print "in a colour",
// the colour is one of the console attributes of the image header.  The
// first image maps them like this (offset: default, use):
//
//   20: 0x70  terminal window; frames shown normally in the debugger
//   22: 0x17  status window; the listener banner (message 4 at top level)
//   24: 0x74  error colour: errors, continuable errors, ERROR and CERROR,
//             and the break colour: BREAK and the frame where a break loop
//             stopped; message boxes
//   26: 0x71  warning colour: warnings and WARN
//   28: 0x17  indicator window
//   30: 0x1E  debugger colour: debugger notices (messages 4 and 19) and the
//             stepper prompt (message 16)
//   32: 0x1D  status prompts; the stepper prompt while the value display is on
//   34: 0x17  selection colour: the frame selected in the debugger (the line
//             editor shows its selection in the same 0x17)
#pragma once

#include <array>
#include <cstdint>

#include "object/symbols.h"

// Variable class bits of the symbol flags (low three bits).
enum : uint8_t { VAR_ORDINARY = 0, VAR_CONSTANT = 1, VAR_SPECIAL = 2 };

struct FixedSymbol {
  const char* name;
  uint8_t var_class;  // VAR_ORDINARY, VAR_CONSTANT or VAR_SPECIAL
  const char* role;   // what the kernel does with it; "" for a reserved index
};

// zv_fixed_symbols[i] describes symbol index i.
extern const std::array<FixedSymbol, FIXED_SYMBOL_COUNT> zv_fixed_symbols;

// Creates symbol 0 (NIL, the template every new symbol is copied from)
// and symbols 1..FIXED_SYMBOL_COUNT-1 at their indices, interned, with their variable
// classes.  Expects an empty symbol table.  False, with gen_error() set,
// when a name does not land on its index.
bool gen_make_fixed_symbols();
