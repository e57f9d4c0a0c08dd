// Files: OPEN, CLOSE, LOAD, file position and size, and the merging of
// file names.
//
// Names are host paths ('/' or '\\' between components, a type after the
// last dot of the file part) resolved without regard to case, so that a
// name the system spells in upper case finds the file as it is on disk.
// A file stream carries in its flags how OPEN found the file, so that
// CLOSE can commit or roll back: keep or drop a ".BAK" copy, remove a file
// that this open created, and never remove one that existed before.
#pragma once

#include <cstddef>
#include <cstdint>

#include "object/symbols.h"
#include "object/value.h"

// File-stream flags of this module, beside those of io/stream.h: the file
// did not exist before this open; a backup was made and stays after a
// normal close (:RENAME; :RENAME-AND-DELETE uses FSF_BACKUP).
constexpr uint16_t FSF_CREATED = 0x10;
constexpr uint16_t FSF_BACKUP_KEPT = 0x20;

// What OPEN does, from the mode table: the direction (FS_INPUT..FS_PROBE),
// whether the file exists and the two options (0 for NIL).
enum OpenAction : uint8_t {
  OPEN_STREAM,         // open with `mode`
  OPEN_PROBE_TRUE,     // probe: T, no stream
  OPEN_WARN_EXISTS,    // warning 4130, NIL
  OPEN_WARN_MISSING,   // warning 4131, NIL
  OPEN_ERROR_EXISTS,   // error 5154
  OPEN_ERROR_MISSING,  // error 5155
};
struct OpenPlan {
  OpenAction action;
  const char* mode;   // runtime library mode for OPEN_STREAM
  bool backup;        // rename the existing file to its backup first
  bool create_first;  // make the missing file before opening it
};
OpenPlan file_open_plan(uint32_t direction, bool exists, uint32_t if_exists,
                        uint32_t if_does_not_exist);
// The default of :IF-DOES-NOT-EXIST for a direction and :IF-EXISTS.
uint32_t file_default_if_does_not_exist(uint32_t direction, uint32_t if_exists);

// Name of the backup of `path`: its type replaced by "BAK" (appended when
// it has none, or when it already is BAK so that the backup never names the
// file itself).  False when it does not fit in cap bytes.
bool file_backup_name(const char* path, char* out, size_t cap);

// Merge: each part (directory, name, type) missing from `name` is taken
// from `defaults`.  False when the result does not fit.
bool file_merge_names(const char* name, const char* defaults, char* out, size_t cap);
// The same with only a default type (without its dot), as LOAD merges.
bool file_merge_type(const char* name, const char* type, char* out, size_t cap);

// The continuable I/O error 8223 for the file `what` with the text of
// errno `e`: it returns when the user continues, and the caller tries the
// operation again.
void file_io_error(const char* what, int e);

// Close every file that OPEN opened and nothing closed since (at exit, so
// that buffered output reaches the disk).
void files_close_all();
