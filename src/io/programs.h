// Host programs: running one and waiting for it, with the console handed
// over or with its output captured, and editing an object with the user's
// editor through a temporary file.
#pragma once

#include <cstddef>

// How a program run by 442 (the shell, or a program with arguments; the
// editor of 443 runs through it too) gets the terminal.  A console that
// has taken the terminal sets these; the line mode leaves both null, and
// the program then shares the terminal as it is.
//  - release: called just before the program starts (the kernel's buffered
//    output is written after it, ahead of the program's).  It leaves the
//    console's own screen and gives the terminal back the modes it had
//    before the console took it, so the program sees an ordinary terminal.
//  - retake: called once the program has ended or has failed to start;
//    every release is followed by one retake.  It puts the console's modes
//    back and redraws its screen, since the program may have written
//    anywhere.
// Neither may call Lisp, allocate Lisp objects or signal a Lisp error: a
// collection or a throw between the two would leave the terminal released.
// Capturing a program's output (474) calls neither: the program's standard
// input is empty and its output goes to a pipe.
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
