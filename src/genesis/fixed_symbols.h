// The fixed symbols: every symbol index the kernel names directly, with
// the name the first image gives it.
//
// Indices 0..230 form one unbroken run; the kernel uses many of them by
// number (keyword numbers, lambda-list keywords, character and key names,
// type names, printer and stream variables, hooks), and the indices with no
// kernel role are still given names so that no later symbol can drift into
// the run.  A keyword Value (tag 3) and the plain symbol share their index,
// so one name stands for both: :END and END are entry 10.
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

#include <cstdint>

constexpr uint32_t FIXED_SYMBOL_COUNT = 241;  // indices 0..240

// Variable class bits of the symbol flags (low three bits).
enum : uint8_t { VAR_ORDINARY = 0, VAR_CONSTANT = 1, VAR_SPECIAL = 2 };

struct FixedSymbol {
  const char* name;
  uint8_t var_class;  // VAR_ORDINARY, VAR_CONSTANT or VAR_SPECIAL
  const char* role;   // what the kernel does with it; "" for a reserved index
};

// zv_fixed_symbols[i] describes symbol index i.
extern const FixedSymbol zv_fixed_symbols[FIXED_SYMBOL_COUNT];

// Indices the genesis itself fills with values or functions.
enum : uint16_t {
  FS_NIL = 0,
  FS_KEY_ELEMENT_TYPE = 15,
  FS_KEY_DIRECTION = 16,
  FS_KEY_IF_DOES_NOT_EXIST = 18,
  FS_STORE = 0x29,
  FS_CHAR_BACKSPACE = 50,
  FS_CHAR_NUL = 56,
  FS_KEY_F1 = 57,
  FS_KEY_LAST = 83,
  FS_MOD_CONTROL = 84,
  FS_UPCASE = 0x59,
  FS_CP866 = 0x66,
  FS_T = 0x80,
  FS_APPLY = 0x88,
  FS_CLOSE = 0x89,
  FS_KEYBOARD_INTERRUPT = 0x8A,
  FS_EQL = 0x8C,
  FS_EVAL = 0x8D,
  FS_LOAD = 0x96,
  FS_MACRO = 0x97,
  FS_MACROEXPAND_1 = 0x98,
  FS_OPEN = 0x9C,
  FS_RUSSIAN = 0xA5,
  FS_STARTUP = 0xAE,
  FS_BREAK_COMMANDS = 0xB7,
  FS_BREAK_ON_WARNINGS = 0xB8,
  FS_DEBUG_IO = 0xB9,
  FS_ERROR_OUTPUT = 0xBA,
  FS_FEATURES = 0xBB,
  FS_TOP_LEVEL_COMMANDS = 0xBC,
  FS_RIGHT_MARGIN = 0xBD,
  FS_LOAD_PATHNAME = 0xBE,
  FS_LOAD_VERBOSE = 0xBF,
  FS_PRINT_ARRAY = 0xC0,
  FS_PRINT_BASE = 0xC1,
  FS_PRINT_CASE = 0xC2,
  FS_PRINT_ESCAPE = 0xC3,
  FS_PRINT_GENSYM = 0xC4,
  FS_PRINT_LENGTH = 0xC5,
  FS_PRINT_LEVEL = 0xC6,
  FS_PRINT_PRETTY = 0xC7,
  FS_PRINT_RADIX = 0xC8,
  FS_QUERY_IO = 0xC9,
  FS_READ_BASE = 0xCA,
  FS_PROMPT = 0xCB,
  FS_IMAGE_NAME = 0xCC,
  FS_COMMAND_LINE = 0xCD,
  FS_STANDARD_INPUT = 0xCE,
  FS_STANDARD_OUTPUT = 0xCF,
  FS_STATUS_STREAM = 0xD0,
  FS_INDICATOR_STREAM = 0xD1,
  FS_TERMINAL_IO = 0xD2,
  FS_TRACE_OUTPUT = 0xD3,
  FS_STEP_HOOK = 0xDF,
  FS_APPLYHOOK = 0xE0,
  FS_DEBUG_COMMANDS = 0xE1,
  FS_EVALHOOK = 0xE3,
  FS_STEP_COMMANDS = 0xE4,
  FS_MESSAGE_PRINT_LENGTH = 0xE5,
  FS_MESSAGE_PRINT_LEVEL = 0xE6,
  FS_PACKAGE_NAMES = 0xEC,
  FS_READTABLE = 0xED,
  FS_PRINT_CIRCLE = 0xEE,
  FS_PRINT_READABLY = 0xEF,
  FS_PRINT_CIRCLE_TABLE = 0xF0,
};

// Creates symbol 0 (NIL, the template every new symbol is copied from)
// and symbols 1..FIXED_SYMBOL_COUNT-1 at their indices, interned, with their variable
// classes.  Expects an empty symbol table.  False, with gen_error() set,
// when a name does not land on its index.
bool gen_make_fixed_symbols();
