// Files: OPEN, CLOSE, LOAD, FILE-POSITION, the file size and
// MERGE-PATHNAMES.
//
// File streams sit on runtime library FILE handles.  Every name goes
// through host_resolve_path, so "FOO.LSP" finds foo.lsp.  Failures of the
// host (open, flush, rename, remove) are the continuable I/O error: the
// user may fix the cause and continue, and the operation is tried again.
#include "io/files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "builtins/table.h"
#include "eval/context.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "io/console.h"
#include "io/host.h"
#include "io/stream.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/printer.h"
#include "text/reader.h"
#include "text/strings.h"

namespace {

constexpr size_t kNameSize = 260;  // names of 260 characters or more are refused

// Error codes.
constexpr uint32_t kWrongType = 0x1432;    // 5170
constexpr uint32_t kErrExists = 0x1422;    // 5154
constexpr uint32_t kErrMissing = 0x1423;   // 5155
constexpr uint32_t kWarnExists = 0x1022;   // 4130
constexpr uint32_t kWarnMissing = 0x1023;  // 4131
constexpr uint32_t kIoError = 0x201F;      // 8223: name, error text
constexpr uint32_t kMsgRetry = 32;         // its continuation
constexpr uint32_t kLoaded = 0x1005;       // 4101: "loaded" report

// End of file while loading: a character Value no user character equals.
constexpr Value kEofMark = 0x0A00101A;

// Files OPEN opened and nothing has closed yet; threads open files too.
std::vector<FILE*> open_files;
std::mutex open_files_lock;

void note_open(FILE* f) {
  std::lock_guard<std::mutex> hold(open_files_lock);
  open_files.push_back(f);
}
void note_closed(FILE* f) {
  std::lock_guard<std::mutex> hold(open_files_lock);
  for (size_t i = 0; i < open_files.size(); i++) {
    if (open_files[i] == f) {
      open_files[i] = open_files.back();
      open_files.pop_back();
      return;
    }
  }
}

// ---------------------------------------------------------------------------
// Names

bool is_separator(char c) { return c == '/' || c == '\\'; }

// A name split in place: directory (with its last separator), name, and
// type (after the dot, which is not counted in either).
struct NameParts {
  const char* dir;
  size_t dir_len;
  const char* name;
  size_t name_len;
  const char* type;
  size_t type_len;
  bool dot;  // the file part has a type dot, even when the type is empty
};

NameParts split_name(const char* s) {
  size_t n = strlen(s), file = 0;
  for (size_t i = 0; i < n; i++)
    if (is_separator(s[i])) file = i + 1;
  NameParts p{s, file, s + file, n - file, s + n, 0, false};
  // The type follows the last dot, unless the dot starts the file part
  // (".profile" is a name without a type).
  for (size_t i = n; i > file + 1; i--) {
    if (s[i - 1] == '.') {
      p.name_len = i - 1 - file;
      p.type = s + i;
      p.type_len = n - i;
      p.dot = true;
      break;
    }
  }
  return p;
}

bool append(char* out, size_t cap, size_t* len, const char* p, size_t n) {
  if (*len + n >= cap) return false;
  memcpy(out + *len, p, n);
  *len += n;
  out[*len] = 0;
  return true;
}

bool join_parts(const NameParts& n, const NameParts& d, char* out, size_t cap) {
  size_t len = 0;
  out[0] = 0;
  const NameParts& dir = n.dir_len ? n : d;
  const NameParts& name = n.name_len ? n : d;
  const NameParts& type = n.type_len ? n : d;
  if (!append(out, cap, &len, dir.dir, dir.dir_len)) return false;
  if (!append(out, cap, &len, name.name, name.name_len)) return false;
  if (type.type_len == 0) return true;
  return append(out, cap, &len, ".", 1) && append(out, cap, &len, type.type, type.type_len);
}

bool same_ignoring_case(const char* a, size_t n, const char* b) {
  if (strlen(b) != n) return false;
  for (size_t i = 0; i < n; i++) {
    char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 32) : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

// The text of a file-name designator: a simple string, a symbol's name or
// the name of a file stream.  False for anything else, for a name of 260
// characters or more, and for one holding a NUL, which would cut the host
// name short and reach another file.
bool name_text(Value x, char* buf) {
  if (is_stream(x) && stream_kind(x) == HT_FILE) x = stream_name(x);
  if (nil_p(x) || is_symbol(x)) x = sym_name(symbol_index(x));
  if (!is_string(x)) return false;
  uint32_t n = string_length(x);
  if (n >= kNameSize) return false;
  memcpy(buf, string_bytes(x), n);
  buf[n] = 0;
  return memchr(buf, 0, n) == nullptr;
}

bool is_directory(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// ---------------------------------------------------------------------------
// Host operations that the user may retry

// The continuable I/O error for `what` with the text of errno `e`; it
// returns when the user continues, and the caller tries again.
void io_error(const char* what, int e) {
  Value name = str_from_cstr(what);
  root_push(&name);
  Value text = str_from_cstr(strerror(e));
  root_pop();
  Value objs[2] = {name, text};
  lisp_cerror(kMsgRetry, kIoError, objs);
}

void remove_retrying(const char* path) {
  while (remove(path) != 0 && errno != ENOENT) io_error(path, errno);
}

void rename_retrying(const char* from, const char* to) {
  while (rename(from, to) != 0) io_error(to, errno);
}

FILE* open_retrying(const char* path, const char* mode, const char* shown) {
  FILE* f;
  while (!(f = fopen(path, mode))) io_error(shown, errno);
  return f;
}

// The existing file goes to its backup name; an older backup, in whatever
// case it is spelled, is replaced.
void make_backup(const char* path) {
  char bak[kNameSize], found[kNameSize];
  if (!file_backup_name(path, bak, sizeof bak)) {
    io_error(path, ENAMETOOLONG);
    return;
  }
  if (host_resolve_path(bak, found, sizeof found)) {
    remove_retrying(found);
    memcpy(bak, found, strlen(found) + 1);
  }
  rename_retrying(path, bak);
}

// CLOSE's half of the backup rules.  Committing drops the backup of
// :RENAME-AND-DELETE; rolling back puts the backup in the file's place, or
// removes an output file this open created.  A file that existed before
// the open and has no backup is never removed.
void finish_file(const char* name, uint16_t flags, bool abort, bool output) {
  char path[kNameSize], bak[kNameSize], found[kNameSize];
  bool exists = host_resolve_path(name, path, sizeof path);
  if (!path[0]) return;
  if (flags & (uint16_t(FSF_BACKUP) | FSF_BACKUP_KEPT)) {
    if (!file_backup_name(path, bak, sizeof bak)) return;
    if (!host_resolve_path(bak, found, sizeof found)) return;
    if (!abort) {
      if ((flags & FSF_BACKUP) && exists) remove_retrying(found);
      return;
    }
    if (exists) remove_retrying(path);
    rename_retrying(found, path);
    return;
  }
  if (abort && output && (flags & FSF_CREATED) && exists) remove_retrying(path);
}

// ---------------------------------------------------------------------------
// OPEN's arguments

bool keyword_in(Value v, uint32_t lo, uint32_t hi) {
  return tag_of(v) == TAG_KEYWORD && symbol_index(v) >= lo && symbol_index(v) <= hi;
}

// Symbols and keywords both name element types.
bool names_symbol(Value v, uint32_t index) {
  return (tag_of(v) == TAG_SYMBOL || tag_of(v) == TAG_KEYWORD) && symbol_index(v) == index;
}

// Element size code: 0 characters, 1/2/3 for elements of 1/2/4 bytes; -1
// for no element type.
int element_size_code(Value v) {
  if (names_symbol(v, FS_STRING_CHAR) || names_symbol(v, FS_DEFAULT) ||
      names_symbol(v, FS_CHARACTER))
    return 0;
  if (names_symbol(v, FS_UNSIGNED_BYTE)) return 1;
  if (!cons_p(v) || !names_symbol(car(v), FS_UNSIGNED_BYTE)) return -1;
  Value rest = cdr(v);
  if (!cons_p(rest) || !nil_p(cdr(rest)) || !is_fixnum(car(rest))) return -1;
  switch (fixnum_value(car(rest))) {
    case 8:
      return 1;
    case 16:
      return 2;
    case 32:
      return 3;
  }
  return -1;
}

struct OpenArgs {
  uint32_t direction, if_exists, if_does_not_exist, format;
  int size_code;
};

// Reads the keyword slots; returns NO_VALUE, or the first value that is
// not acceptable.
Value decode_open_args(OpenArgs* o) {
  Value v = kw_value(FS_DIRECTION, make_keyword(FS_INPUT));
  if (!keyword_in(v, FS_INPUT, FS_PROBE)) return v;
  o->direction = symbol_index(v);
  v = kw_value(FS_ELEMENT_TYPE, make_symbol(FS_STRING_CHAR));
  o->size_code = element_size_code(v);
  if (o->size_code < 0) return v;
  v = kw_value(FS_IF_EXISTS, make_keyword(FS_ERROR));
  if (!nil_p(v) && !keyword_in(v, FS_ERROR, FS_APPEND)) return v;
  o->if_exists = nil_p(v) ? 0 : symbol_index(v);
  o->if_does_not_exist = file_default_if_does_not_exist(o->direction, o->if_exists);
  if (kw_given(FS_IF_DOES_NOT_EXIST)) {
    v = kw_value(FS_IF_DOES_NOT_EXIST);
    if (!nil_p(v) && !keyword_in(v, FS_ERROR, FS_ERROR) && !keyword_in(v, FS_CREATE, FS_CREATE))
      return v;
    o->if_does_not_exist = nil_p(v) ? 0 : symbol_index(v);
  }
  v = kw_value(FS_EXTERNAL_FORMAT, make_keyword(FS_DEFAULT));
  if (!keyword_in(v, FS_DEFAULT, FS_CP866)) return v;
  o->format = symbol_index(v);
  return NO_VALUE;
}

uint8_t stream_type_for(uint32_t direction) {
  if (direction == FS_INPUT) return STREAM_FILE_IN;
  return direction == FS_OUTPUT ? STREAM_FILE_OUT : STREAM_FILE_IO;
}

void create_empty(const char* path, const char* shown) {
  FILE* f = open_retrying(path, "a", shown);
  fclose(f);
}

}  // namespace

// ---------------------------------------------------------------------------
// Built-ins

// 364 (name &key element-type direction if-exists if-does-not-exist
// external-format)
Value bi_open(Value a, Value) {
  kw_parse(1, FS_ELEMENT_TYPE, FS_EXTERNAL_FORMAT);
  OpenArgs o{};
  Value bad = decode_open_args(&o);
  kw_clear();
  if (bad != NO_VALUE) return lisp_error(kWrongType, bad);
  char name[kNameSize], path[kNameSize];
  if (!name_text(a, name)) return lisp_error(kWrongType, a);
  Value shown = is_stream(a) ? stream_name(a) : a;
  root_push(&shown);
  bool exists = host_resolve_path(name, path, sizeof path);
  while (exists && is_directory(path)) {
    io_error(name, EISDIR);
    exists = host_resolve_path(name, path, sizeof path);
  }
  OpenPlan plan = file_open_plan(o.direction, exists, o.if_exists, o.if_does_not_exist);
  Value result = NIL;
  switch (plan.action) {
    case OPEN_WARN_EXISTS:
      lisp_warn(kWarnExists, shown);
      break;
    case OPEN_WARN_MISSING:
      lisp_warn(kWarnMissing, shown);
      break;
    case OPEN_ERROR_EXISTS:
      result = lisp_error(kErrExists, shown);
      break;
    case OPEN_ERROR_MISSING:
      result = lisp_error(kErrMissing, shown);
      break;
    case OPEN_PROBE_TRUE:
      if (plan.create_first) create_empty(path, name);
      result = T;
      break;
    case OPEN_STREAM: {
      if (plan.backup) make_backup(path);
      if (plan.create_first) create_empty(path, name);
      FILE* f = open_retrying(path, plan.mode, name);
      note_open(f);
      uint16_t flags = uint16_t(o.size_code << 1);
      if (o.format == FS_CP866) flags |= FSF_OEM;
      if (!exists) flags |= FSF_CREATED;
      if (plan.backup)
        flags |= o.if_exists == FS_RENAME_AND_DELETE ? uint16_t(FSF_BACKUP) : FSF_BACKUP_KEPT;
      result = make_file_stream(stream_type_for(o.direction), shown, f, flags);
      break;
    }
  }
  root_pop();
  return result;
}

namespace {

// The standard windows stay open; a window the user made gives its handle
// back and its record (with any saved screen) is freed.
// A thread writing to it finishes first.
Value close_window(Value s) {
  Window* w = stream_window(s);
  if (!w || w->role != WIN_USER) return lisp_error(kWrongType, s);
  root_push(&s);
  uint32_t held = stream_hold(s, true);
  w = stream_window(s);
  if (w) {
    handle_release(stream_handle_index(s));
    heap_set_word(s, 2, 0);
    window_free(w);
  }
  stream_unhold(held);
  root_pop();
  return T;
}

}  // namespace

// 356 (stream &key abort)
Value bi_close(Value a, Value) {
  kw_parse(1, FS_ABORT, FS_ABORT);
  bool abort = !nil_p(kw_value(FS_ABORT));
  kw_clear();
  if (is_window_stream(a)) return close_window(a);
  if (!is_file_stream(a)) return lisp_error(kWrongType, a);
  Value s = a;
  root_push(&s);
  char name[kNameSize];
  bool named = name_text(s, name);
  if (!named) name[0] = 0;
  // An operation of another thread on the stream ends before the file
  // closes; one that waits meanwhile finds it closed.
  uint32_t held = stream_hold(s, true);
  if (!is_file_stream(s)) {  // closed meanwhile
    stream_unhold(held);
    root_pop();
    return T;
  }
  // Flushing is what can fail for want of space, and it can be retried;
  // fclose cannot: the handle is gone afterwards whatever it returns.
  FILE* f = stream_file(s);
  while (stream_is_output(s) && fflush(f) != 0) io_error(name, errno);
  int failed = fclose(f) != 0 ? errno : 0;
  note_closed(f);
  handle_release(stream_handle_index(s));
  heap_set_word(s, 2, 0);
  stream_unhold(held);
  if (failed) io_error(name, failed);
  if (named) finish_file(name, stream_hi(s), abort, stream_is_output(s));
  root_pop();
  return T;
}

// 357 (file-stream &optional position)
Value bi_file_position(Value a, Value) {
  check_max_args(2);
  if (!is_file_stream(a)) return lisp_error(kWrongType, a);
  FILE* f = stream_file(a);
  if (arg_count() < 2) {
    off_t at = ftello(f);
    return at < 0 ? NIL : mem_make_integer(at);
  }
  Value pos = arg(2);
  int whence = SEEK_SET;
  off_t to = 0;
  if (is_fixnum(pos))
    to = fixnum_value(pos);
  else if (tag_of(pos) == TAG_INT64)
    to = off_t(int64_value(pos));
  else if (keyword_in(pos, FS_END, FS_END))
    whence = SEEK_END;
  else if (!keyword_in(pos, FS_START, FS_START))
    return lisp_error(kWrongType, pos);
  return bool_value(to >= 0 && fseeko(f, to, whence) == 0);
}

// 358 (name): the size in bytes
Value bi_file_size(Value a, Value) {
  char name[kNameSize], path[kNameSize];
  if (!name_text(a, name)) return lisp_error(kWrongType, a);
  struct stat st;
  if (!host_resolve_path(name, path, sizeof path) || stat(path, &st) != 0) {
    lisp_warn(kWarnMissing, a);
    return NIL;
  }
  return mem_make_integer(int64_t(st.st_size));
}

// 363 (name &optional defaults)
Value bi_merge_pathnames(Value a, Value) {
  check_max_args(2);
  char name[kNameSize], defaults[kNameSize], out[kNameSize];
  defaults[0] = 0;
  if (arg_count() >= 2 && !nil_p(arg(2)) && !name_text(arg(2), defaults)) defaults[0] = 0;
  if (nil_p(a)) return str_from_cstr(defaults);
  if (!name_text(a, name) || !file_merge_names(name, defaults, out, sizeof out)) return a;
  return str_from_cstr(out);
}

namespace {

// ---------------------------------------------------------------------------
// LOAD

struct LoadRun {
  Value stream;  // rooted
  Value last;    // rooted: value of the last form
  bool print;
  bool opened;  // LOAD opened the stream, so LOAD closes it
  bool echo_given;
  uint8_t echo_saved;
};

// The values of a form just evaluated, each on a fresh line of standard
// output.
void print_values(Value first) {
  uint16_t top = zvts->septr;
  uint32_t n = values_push(first);
  Value out = output_stream(NIL);
  root_push(&out);
  for (uint32_t k = 0; k < n; k++) {
    if (stream_column(out) != 0) stream_write_char(out, '\n');
    print_object(zvts->stack[top - 1 - k].arg, out, PRINT_ESCAPE);
  }
  root_pop();
  pop_to(top);
}

Value load_body(void* data) {
  LoadRun* run = static_cast<LoadRun*>(data);
  Value cell = NIL;
  root_push(&cell);
  for (;;) {
    Value form = read_from(run->stream, false, kEofMark, false);
    if (form == kEofMark) break;
    // A cell of its own: the evaluator may rewrite it, and the thread's
    // scratch cons belongs to whoever called LOAD.
    cell = cons(form, NIL);
    run->last = eval(cell);
    if (run->print) print_values(run->last);
  }
  root_pop();
  zvts->mv_count = 1;
  return run->last;
}

void load_cleanup(int abnormal, void* data) {
  LoadRun* run = static_cast<LoadRun*>(data);
  if (run->echo_given)
    zvm.header[HDR_SWITCHES] = uint8_t((zvm.header[HDR_SWITCHES] & ~SW_READER) | run->echo_saved);
  // A stream handed to LOAD belongs to the caller, who closes it.
  if (run->opened)
    call_function3(make_symbol(FS_CLOSE), run->stream, make_keyword(FS_ABORT),
                   bool_value(abnormal));
}

bool true_value(Value v) { return !nil_p(v) && !is_no_value(v); }

}  // namespace

// 360 (name-or-stream &key if-does-not-exist external-format print verbose)
Value bi_load(Value a, Value) {
  kw_parse(1, FS_IF_DOES_NOT_EXIST, FS_VERBOSE);
  bool quiet_missing = kw_given(FS_IF_DOES_NOT_EXIST) && nil_p(kw_value(FS_IF_DOES_NOT_EXIST));
  bool format_given = kw_given(FS_EXTERNAL_FORMAT);
  Value format = kw_value(FS_EXTERNAL_FORMAT);
  bool print = true_value(kw_value(FS_PRINT));
  bool verbose_given = kw_given(FS_VERBOSE);
  bool verbose = true_value(kw_value(FS_VERBOSE));
  kw_clear();

  LoadRun run{a, NIL, print, false, verbose_given, 0};
  Value name = NIL;
  root_push(&run.stream);
  root_push(&run.last);
  root_push(&name);
  root_push(&format);
  if (is_stream(a)) {
    // Only a file has a name worth reporting; a string stream's first
    // word is its whole text.
    name = stream_kind(a) == HT_FILE ? stream_name(a) : a;
  } else {
    char text[kNameSize], merged[kNameSize];
    bool ok = name_text(a, text) && file_merge_type(text, "LSP", merged, sizeof merged);
    name = ok ? str_from_cstr(merged) : a;  // OPEN reports a bad name
    sym_set_value(FS_LOAD_PATHNAME, name);
    Value args[5] = {name, make_keyword(FS_IF_DOES_NOT_EXIST),
                     quiet_missing ? NIL : make_keyword(FS_ERROR), make_keyword(FS_EXTERNAL_FORMAT),
                     format};
    run.stream = call_function(make_symbol(FS_OPEN), format_given ? 5 : 3, args);
    if (!is_stream(run.stream)) {
      Value result = run.stream;
      root_pop(4);
      return result;
    }
    run.opened = true;
  }
  if (verbose_given) {
    run.echo_saved = zvm.header[HDR_SWITCHES] & SW_READER;
    zvm.header[HDR_SWITCHES] = uint8_t(verbose ? zvm.header[HDR_SWITCHES] | SW_READER
                                               : zvm.header[HDR_SWITCHES] & ~SW_READER);
  }
  establish_cleanup(load_body, load_cleanup, 0x60, &run);
  if (verbose || (!verbose_given && true_value(sym_value(FS_LOAD_VERBOSE))))
    print_message(FS_STANDARD_OUTPUT, kLoaded, name);
  Value result = run.last;
  root_pop(4);
  zvts->mv_count = 1;
  return result;
}

// ---------------------------------------------------------------------------
// The plan and the names, shared with the tests

uint32_t file_default_if_does_not_exist(uint32_t direction, uint32_t if_exists) {
  switch (direction) {
    case FS_INPUT:
      return FS_ERROR;
    case FS_PROBE:
      return 0;
  }
  return if_exists == FS_OVERWRITE || if_exists == FS_APPEND ? FS_ERROR : FS_CREATE;
}

OpenPlan file_open_plan(uint32_t direction, bool exists, uint32_t if_exists,
                        uint32_t if_does_not_exist) {
  OpenPlan p{OPEN_STREAM, nullptr, false, false};
  bool io = direction == FS_IO;
  if (!exists) {
    if (if_does_not_exist == 0) {
      p.action = OPEN_WARN_MISSING;
    } else if (if_does_not_exist == FS_ERROR) {
      p.action = OPEN_ERROR_MISSING;
    } else if (direction == FS_PROBE) {
      p.action = OPEN_PROBE_TRUE;
      p.create_first = true;
    } else if (direction == FS_INPUT) {
      // "r+" needs the file, so it is made first.
      p.mode = "r+";
      p.create_first = true;
    } else {
      p.mode = io ? "w+" : "w";
    }
    return p;
  }
  if (direction == FS_INPUT) {
    p.mode = "r";
    return p;
  }
  if (direction == FS_PROBE) {
    p.action = OPEN_PROBE_TRUE;
    return p;
  }
  switch (if_exists) {
    case 0:
      p.action = OPEN_WARN_EXISTS;
      break;
    case FS_ERROR:
      p.action = OPEN_ERROR_EXISTS;
      break;
    // Overwriting writes over the old bytes in place; truncating ("w+")
    // would lose what is not written again.
    case FS_OVERWRITE:
      p.mode = "r+";
      break;
    case FS_RENAME:
    case FS_RENAME_AND_DELETE:
      p.backup = true;
      p.mode = io ? "w+" : "w";
      break;
    default:
      p.mode = io ? "a+" : "a";
      break;
  }
  return p;
}

bool file_backup_name(const char* path, char* out, size_t cap) {
  NameParts p = split_name(path);
  size_t keep = strlen(path);
  if (p.dot && !same_ignoring_case(p.type, p.type_len, "BAK")) keep = size_t(p.type - path) - 1;
  size_t len = 0;
  out[0] = 0;
  return append(out, cap, &len, path, keep) && append(out, cap, &len, ".BAK", 4);
}

bool file_merge_names(const char* name, const char* defaults, char* out, size_t cap) {
  return join_parts(split_name(name), split_name(defaults), out, cap);
}

bool file_merge_type(const char* name, const char* type, char* out, size_t cap) {
  NameParts d{"", 0, "", 0, type, strlen(type), true};
  return join_parts(split_name(name), d, out, cap);
}

void file_io_error(const char* what, int e) { io_error(what, e); }

void files_close_all() {
  std::lock_guard<std::mutex> hold(open_files_lock);
  for (FILE* f : open_files) fclose(f);
  open_files.clear();
}
