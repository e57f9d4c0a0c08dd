// The file system beyond open files: the working directory, directory
// listings, and the operations on names (delete, rename, make and remove
// directories, the true name of a file) that the library's Common Lisp
// functions are written with.
//
// Names are resolved without regard to case like every other name the
// system opens, so a listing of "*.LSP" finds foo.lsp.  Everything the
// host reports is gathered into native buffers first and only then turned
// into Lisp objects, so an allocation (which may collect or signal) never
// happens while a directory is open.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "io/files.h"
#include "io/host.h"
#include "io/pathnames.h"
#include "object/memory.h"
#include "text/strings.h"

namespace {

constexpr uint32_t kHostFailed = 0x244C;  // 9292: what, the host's text
// The class of directory entries: the structure class at this heap offset
// of every image.
constexpr Value kDirectoryEntryClass = (uint32_t(TAG_OBJECT) << 24) | 0x258;

// Attribute bits of a directory entry, as the system has always numbered
// them.
enum : uint32_t {
  ATTR_READ_ONLY = 0x01,
  ATTR_HIDDEN = 0x02,
  ATTR_DIRECTORY = 0x10,
  ATTR_ARCHIVE = 0x20,  // an ordinary file
  ATTR_LINK = 0x400,    // a symbolic link (the other fields describe its target)
};

struct Found {
  std::string name;
  uint32_t attributes;
  int64_t size, write_time, access_time, creation_time;
};

// Filled by a listing before any Lisp object is made.  Thread-local and
// reused, so a throw out of the allocations that follow leaks nothing.
thread_local std::vector<Found> found;

// Error 9292; its break loop may return a value to go on with.
Value host_failed(const char* what, int e) {
  Value w = str_from_cstr(what);
  root_push(&w);
  Value text = str_from_cstr(std::strerror(e));
  root_pop();
  return lisp_error(kHostFailed, w, text);
}

// The text of a name argument (a simple string under the name limit).
bool name_arg(Value a, char* out) {
  if (!is_string(a) || string_length(a) > PATH_NAME_MAX) return false;
  uint32_t n = string_length(a);
  std::memcpy(out, string_bytes(a), n);
  out[n] = 0;
  return std::memchr(out, 0, n) == nullptr;
}

void name_arg_or_error(Value a, char* out) {
  if (!name_arg(a, out)) lisp_error(E_WRONG_TYPE, a);
}

int64_t creation_time(int dirfd, const char* name, const struct stat& st) {
#ifdef STATX_BTIME
  struct statx sx;
  if (statx(dirfd, name, 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
    return sx.stx_btime.tv_sec;
#endif
  return st.st_ctime;
}

// What the file system says about `name` in the directory open as dirfd;
// false when it has vanished meanwhile.
bool describe(int dirfd, const char* name, Found* f) {
  struct stat lst, st;
  if (fstatat(dirfd, name, &lst, AT_SYMLINK_NOFOLLOW) != 0) return false;
  // A dangling link is still listed, as itself.
  if (fstatat(dirfd, name, &st, 0) != 0) st = lst;
  f->name = name;
  f->attributes = 0;
  if (S_ISDIR(st.st_mode)) f->attributes |= ATTR_DIRECTORY;
  if (S_ISREG(st.st_mode)) f->attributes |= ATTR_ARCHIVE;
  if (S_ISLNK(lst.st_mode)) f->attributes |= ATTR_LINK;
  if (!(st.st_mode & 0222)) f->attributes |= ATTR_READ_ONLY;
  if (name[0] == '.') f->attributes |= ATTR_HIDDEN;
  f->size = int64_t(st.st_size);
  f->write_time = int64_t(st.st_mtime);
  f->access_time = int64_t(st.st_atime);
  f->creation_time = creation_time(dirfd, name, st);
  return true;
}

bool has_wildcard(const char* s) { return std::strpbrk(s, "*?") != nullptr; }

// Matches of `file` (a pattern when it has wildcards; empty for every
// entry) in directory `dir`, into `found`, in descending order of name.
void list_directory(const char* dir, const char* file) {
  found.clear();
  int dirfd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirfd < 0) return;
  if (file[0] && !has_wildcard(file)) {
    Found f;
    if (describe(dirfd, file, &f)) found.push_back(f);
    close(dirfd);
    return;
  }
  DIR* d = fdopendir(dirfd);
  if (!d) {
    close(dirfd);
    return;
  }
  size_t pn = std::strlen(file);
  while (struct dirent* e = readdir(d)) {
    const char* n = e->d_name;
    if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0) continue;
    if (pn && !path_match(file, pn, n, std::strlen(n))) continue;
    Found f;
    if (describe(dirfd, n, &f)) found.push_back(f);
  }
  closedir(d);  // closes dirfd too
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return a.name > b.name; });
}

Value make_entry(const Found& f) {
  Value e = mem_alloc_object(7, HT_INSTANCE);
  heap_set_word(e, 0, kDirectoryEntryClass);
  for (uint32_t k = 1; k < 7; k++) heap_set_word(e, k, NIL);
  root_push(&e);
  Value v = mem_make_string(f.name.data(), uint32_t(f.name.size()));
  heap_set_word(e, 1, v);
  heap_set_word(e, 2, make_fixnum(int32_t(f.attributes)));
  v = mem_make_integer(f.size);
  heap_set_word(e, 3, v);
  v = mem_make_integer(f.write_time);
  heap_set_word(e, 4, v);
  v = mem_make_integer(f.access_time);
  heap_set_word(e, 5, v);
  v = mem_make_integer(f.creation_time);
  heap_set_word(e, 6, v);
  root_pop();
  return e;
}

// The directory part of `pattern` (up to its last separator; "." when it
// has none) resolved on the file system, and its file part.  False when
// the directory does not exist.
bool split_pattern(const char* pattern, char* dir, size_t cap, const char** file) {
  const char* last = nullptr;
  for (const char* p = pattern; *p; p++)
    if (path_separator(*p)) last = p;
  *file = last ? last + 1 : pattern;
  char given[PATH_NAME_MAX + 2];
  if (!last) {
    std::strcpy(given, ".");
  } else if (last == pattern) {
    std::strcpy(given, "/");
  } else {
    size_t n = size_t(last - pattern);
    std::memcpy(given, pattern, n);
    given[n] = 0;
  }
  return host_resolve_path(given, dir, cap);
}

// ---------------------------------------------------------------------------
// Operations on names (built-in 473)

enum HostOp : int32_t {
  OP_DELETE_FILE = 0,
  OP_RENAME_FILE = 1,
  OP_MAKE_DIRECTORY = 2,
  OP_DELETE_DIRECTORY = 3,
  OP_TRUENAME = 4,
  OP_GETENV = 5,
  OP_CHANGE_DIRECTORY = 6,
};

// The name resolved without regard to case; false when nothing exists
// under it (out then holds where it would be made).
bool resolve(const char* name, char* out) { return host_resolve_path(name, out, PATH_MAX); }

Value op_truename(const char* name) {
  char path[PATH_MAX], real[PATH_MAX + 2];
  if (!resolve(name, path) || !realpath(path, real)) return NIL;
  struct stat st;
  size_t n = std::strlen(real);
  if (stat(real, &st) == 0 && S_ISDIR(st.st_mode) && real[n - 1] != '/') {
    real[n++] = '/';
    real[n] = 0;
  }
  return str_from_cstr(real);
}

Value op_getenv(Value a) {
  char name[PATH_NAME_MAX + 1];
  name_arg_or_error(a, name);
  const char* v = std::getenv(name);
  return v ? str_from_cstr(v) : NIL;
}

// The host call's failure, or ENOENT when the name did not resolve.
int failure(bool resolved) { return resolved && errno ? errno : ENOENT; }

// Each failure is the continuable I/O error; continuing tries again.
Value op_on_names(int32_t op, Value a, Value b) {
  char name[PATH_NAME_MAX + 1], path[PATH_MAX];
  name_arg_or_error(a, name);
  for (;;) {
    errno = 0;
    bool there = resolve(name, path);
    switch (op) {
      case OP_DELETE_FILE:
        if (there && unlink(path) == 0) return T;
        break;
      case OP_RENAME_FILE: {
        char to[PATH_NAME_MAX + 1], target[PATH_MAX];
        name_arg_or_error(b, to);
        resolve(to, target);
        errno = 0;
        if (there && rename(path, target) == 0) return T;
        break;
      }
      case OP_MAKE_DIRECTORY:
        if (there) return NIL;
        if (mkdir(path, 0777) == 0) return T;
        there = true;
        break;
      case OP_DELETE_DIRECTORY:
        if (there && rmdir(path) == 0) return T;
        break;
      case OP_CHANGE_DIRECTORY:
        if (there && chdir(path) == 0) return T;
        break;
      default:
        return lisp_error(E_WRONG_TYPE, make_fixnum(op));
    }
    file_io_error(name, failure(there));
  }
}

}  // namespace

// 444: the working directory, ending in the separator
Value bi_current_directory(Value, Value) {
  char buf[PATH_MAX + 2];
  if (!getcwd(buf, PATH_MAX)) return host_failed("current directory", errno);
  size_t n = std::strlen(buf);
  if (n == 0 || buf[n - 1] != '/') {
    buf[n++] = '/';
    buf[n] = 0;
  }
  return str_from_cstr(buf);
}

// 445 (pattern): a directory entry for each match, in ascending order of
// name.  '*' and '?' work in the file part; a pattern ending in a
// separator lists the whole directory.  A missing directory lists nothing.
Value bi_directory(Value a, Value) {
  char pattern[PATH_NAME_MAX + 1], dir[PATH_MAX];
  name_arg_or_error(a, pattern);
  const char* file;
  found.clear();
  if (split_pattern(pattern, dir, sizeof dir, &file)) list_directory(dir, file);
  Value list = NIL;
  root_push(&list);
  for (const Found& f : found) {
    Value e = make_entry(f);
    list = cons(e, list);
  }
  root_pop();
  found.clear();
  return list;
}

// 473 (operation name &optional other): the file-system operations of the
// library, numbered by HostOp.
Value bi_host_operation(Value, Value) {
  check_max_args(3);
  Value op = arg(1);
  if (!is_fixnum(op)) return lisp_error(E_WRONG_TYPE, op);
  Value a = arg_count() >= 2 ? arg(2) : NIL;
  Value b = arg_count() >= 3 ? arg(3) : NIL;
  switch (fixnum_value(op)) {
    case OP_TRUENAME: {
      char name[PATH_NAME_MAX + 1];
      name_arg_or_error(a, name);
      return op_truename(name);
    }
    case OP_GETENV:
      return op_getenv(a);
  }
  return op_on_names(fixnum_value(op), a, b);
}
