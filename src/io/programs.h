// Host programs: running one and waiting for it, with the console handed
// over or with its output captured, and editing an object with the user's
// editor through a temporary file.
#pragma once

#include <cstddef>

// A terminal console gives the terminal to a program in these (leaving its
// own screen and modes) and takes it back afterwards; the line mode needs
// neither, so both may stay null.
struct ConsoleHandover {
  void (*release)();
  void (*retake)();
};
extern ConsoleHandover zv_console_handover;

// Run argv[0] (searched on PATH when it has no separator) with argv, a
// null-terminated vector, and wait for it.  With capture non-null its
// standard output is collected there (and its standard input is empty);
// otherwise it shares the kernel's.  Returns 0 with *code set to the exit
// code (128 + the signal for a program a signal ended), or the errno of
// the failure to start it.
struct CapturedOutput {
  char* bytes;  // malloc'd, grown as needed and kept for the next run
  size_t length, capacity;
};
int program_run(char* const argv[], CapturedOutput* capture, int* code);

// The temporary file of an edit: in ZVTMP when that names a directory,
// else in TMPDIR when that does, else in /tmp; made afresh with a name no
// other file has (so two sessions never share one).  Returns false with
// errno set when it cannot be made.
bool program_edit_file(char* out, size_t cap);
