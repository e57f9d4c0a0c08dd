// Host services: file names, the program's own path, pauses.
#pragma once

#include <cstddef>

// Process-wide path buffers, filled by program entry: at most 259 characters and a terminating
// zero. Directories end in the separator.  This host has no drives, so the drive buffers stay
// empty; they are kept so names are built the same way everywhere (drive + directory + file).
constexpr size_t ZV_PATH_SIZE = 260;
extern char zv_program_path[ZV_PATH_SIZE];
extern char zv_current_drive[ZV_PATH_SIZE];
extern char zv_current_dir[ZV_PATH_SIZE];
extern char zv_program_drive[ZV_PATH_SIZE];
extern char zv_program_dir[ZV_PATH_SIZE];
extern char zv_program_name[ZV_PATH_SIZE];

// Resolve a host path: the exact name first, then a case-insensitive match
// of each missing component.  '\\' and '/' both separate.  Writes the
// resolved path into out (when a component is missing, the part resolved so
// far followed by the rest as given, so a new file lands in the existing
// directory); returns true when an existing file or directory was found.
// A result that does not fit in cap bytes returns false with out empty.
bool host_resolve_path(const char* name, char* out, size_t cap);

// Full path of the running executable, or "" when it cannot be found.
bool host_program_path(char* out, size_t cap);

// The case folding of name resolution: the kernel's own upper case (ASCII
// letters and the Cyrillic letters of code page 1251).
unsigned char host_fold(unsigned char c);

// host_sleep_ms is the threads layer's: a pause is the calling thread's.
#include "threads/safepoint.h"
