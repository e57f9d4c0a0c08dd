// What the evaluator asks of the layers above it: the format engine, the
// printer and the reader for messages and the break loop, the terminal's
// characters and prompt, and the documentation store.  The evaluator may
// not include those layers, so program entry registers them here at
// start-up (zorva_register_hooks); until then each caller falls back on
// plain output on the process's standard streams, which is enough to see
// what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>

#include "object/symbols.h"
#include "object/value.h"

struct KernelHooks {
  // A control string and its arguments onto a stream.
  Value (*format)(Value stream, Value control, uint32_t nargs, const Value* args);
  // One object onto a stream, with the printer's flags.
  void (*print)(Value obj, Value stream, uint32_t flags);
  // One form from a stream, read as the top level reads it.
  Value (*read_form)(Value stream);
  // A character from a stream (0..255, or -1 at its end), and one back.
  int (*read_char)(Value stream);
  void (*unread_char)(Value stream, int c);
  // The prompt is shown by the next read that needs a new line.
  void (*arm_prompt)();
  // Drop the rest of the line typed at the terminal.
  void (*drop_line)();
  // Whether the status window is on the screen.
  bool (*status_visible)();
  // Show the stream's window when it is a hidden console window (WARN's
  // pop-up); false for any other stream.
  bool (*pop_up)(Value stream);
  // Message texts from 40 up, and the texts of documented error numbers;
  // NIL when the documentation has none.
  Value (*message_text)(uint32_t n);
  Value (*error_text)(Value datum);
  // Documentation of (key, kind) into the store, quietly.
  void (*doc_record)(Value key, uint32_t kind, Value text);
  // A break loop may open in the middle of a read.  reader_hold sets the
  // state of the read under way aside into a buffer of READER_HOLD_BYTES,
  // and leaves the reader in its state between reads; reader_give_back
  // restores the state when the read goes on.
  void (*reader_hold)(void* buffer);
  void (*reader_give_back)(const void* buffer);
};

constexpr size_t READER_HOLD_BYTES = 512;

extern KernelHooks zv_hooks;

// Documentation kinds (second keys of the documentation store).
constexpr uint32_t DOC_FUNCTION = FS_FUNCTION;  // functions and macros
constexpr uint32_t DOC_SETF = FS_SETF;          // place expanders
constexpr uint32_t DOC_VARIABLE = FS_VARIABLE;  // variables and constants
