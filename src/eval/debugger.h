// The debugger and the stepper.
//
// The debugger browses the frames of the thread's Lisp stack.  It selects
// a frame by making it the head of the frame chain (zvform), keeping the
// frames passed on a private reverse chain, and it undoes the dynamic
// bindings made inward of the selected frame so that everything evaluated
// there sees the values of that frame's time.  However it is left, the
// chain, the symbol cells and the frame marks are put back first.
//
// The stepper is the eval hook function of symbol 0xDF (built-in 412):
// STEP (built-in 411) evaluates a form with it installed.
#pragma once

#include <cstdint>

#include "object/value.h"

// Frame marks (bits of a frame entry's tag) while a break loop or the
// debugger runs.
enum : uint16_t {
  MARK_BREAK = 0x0002,     // a break loop stopped here
  MARK_SELECTED = 0x0004,  // the debugger's selected frame
  MARK_STEPPING = 0x0020,  // the stepper entered the debugger here
  MARK_SPECIAL = 0x0040,   // shown with the other marker character
};

// Run the debugger; returns the value it is left with, or NO_VALUE when
// it is quit without one.
Value debugger(uint32_t flag);

// Keys of the debugger and the stepper (key codes of the console).
enum : int {
  DK_OUTER = 0x147,           // PgUp
  DK_SHOW_OUTWARD = 0x145,    // Home
  DK_INNER = 0x14C,           // PgDn
  DK_OUTERMOST = 0x345,       // Ctrl-Home
  DK_INNERMOST = 0x30A,       // Ctrl-End
  DK_MARKED_OUTER = 0x347,    // Ctrl-PgUp
  DK_MARKED_INNER = 0x34C,    // Ctrl-PgDn
  DK_VARIABLE_MODE = 0x257,   // Ctrl-W
  DK_SHOW_INWARD = 0x10A,     // End
  DK_ALL_VARIABLES = 0x13F,   // F7
  DK_EDIT = 0x13C,            // F4
  DK_EDIT_CALLER = 0x33C,     // Ctrl-F4
  DK_STEP = 0x140,            // F8
  DK_EVAL = 0x142,            // F10
  DK_RESTART = 0x13D,         // F5
  DK_LEAVE = 0x13B,           // F3
  SK_OUT = 0x342,             // Ctrl-F10
  SK_TO_BREAKPOINT = 0x340,   // Ctrl-F8
  SK_VALUES = 0x141,          // F9
  SK_NIL = 0x542,             // Ctrl-Alt-F10
  SK_TOP_LEVEL = 0x745,       // Ctrl-Alt-Home
};

// What a command function of a listener's table may ask of the loop that
// called it, through %DEBUG-REQUEST: act as if a key had been typed, list
// the frames, or select a frame by its number.
enum : int { REQ_NONE = 0, REQ_BACKTRACE = 1, REQ_FRAME = 2, REQ_KEY = 3 };
void debug_request_clear();
// The pending request (REQ_NONE when there is none); *arg receives its
// key or frame number.  Taking it clears it.
int debug_request_take(int32_t* arg);

// A call frame of the stepping hook.
bool step_hook_frame(uint16_t f);
// A frame of the stepper's own: the hook's, or STEP's (hidden from the
// debugger unless switch bit 2 of the second switch byte is set).
bool stepper_frame(uint16_t f);
// The stepper's breakpoint operators (value of symbol 0xDF) are non-empty.
bool step_breakpoints_set();
// Edit `form` with the structure editor (built-in 443).  A list is changed
// in place, so code holding it sees the edit, and comes back itself;
// anything else comes back as the edited object, for the caller to put
// where the form was.
Value edit_form(Value form);
// Evaluate `form` in the current lexical environment with the stepping
// hook installed, stopping at the form itself first.  Used by STEP and by
// the debugger's re-evaluation with stepping.
Value step_evaluate(Value form);
