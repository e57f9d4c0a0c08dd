// Host services for a POSIX system: file-name resolution, the program's own
// path and pauses.
//
// The system spells many file names in upper case (the image name from the
// command line, "FOO.LSP" built from a symbol name), while the host file
// system is case-sensitive.  Every file-opening path goes through
// host_resolve_path, so this is the one place that bridges the two.

#include "io/host.h"

#include <dirent.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

char zv_program_path[ZV_PATH_SIZE];
char zv_current_drive[ZV_PATH_SIZE];
char zv_current_dir[ZV_PATH_SIZE];
char zv_program_drive[ZV_PATH_SIZE];
char zv_program_dir[ZV_PATH_SIZE];
char zv_program_name[ZV_PATH_SIZE];

// Case folding is the kernel's own upper-casing (ASCII letters and the
// Cyrillic letters of code page 1251), so any name the kernel upper-cased
// folds back to the name on disk.
unsigned char host_fold(unsigned char c) {
  if ((c >= 'a' && c <= 'z') || c >= 0xE0) return c - 32;
  if (c == 0xB8) return 0xA8;
  return c;
}

static bool same_folded(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (host_fold((unsigned char)a[i]) != host_fold((unsigned char)b[i])) return false;
  return true;
}

static bool path_exists(const char* p) {
  struct stat st;
  return stat(p, &st) == 0;
}

// Look in directory `dir` for an entry equal to the n bytes at `comp` after
// folding, and overwrite them with its spelling.  Folding keeps lengths, so
// the path never grows.  Among several matches the smallest name wins, so
// the choice does not depend on the directory's order.
static bool match_component(const char* dir, char* comp, size_t n) {
  DIR* d = opendir(dir);
  if (!d) return false;
  char best[256];
  bool found = false;
  while (struct dirent* e = readdir(d)) {
    if (strlen(e->d_name) != n || n >= sizeof best) continue;
    if (!same_folded(e->d_name, comp, n)) continue;
    if (!found || strcmp(e->d_name, best) < 0) {
      memcpy(best, e->d_name, n + 1);
      found = true;
    }
  }
  closedir(d);
  if (found) memcpy(comp, best, n);
  return found;
}

bool host_resolve_path(const char* name, char* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = 0;
  if (!name) return false;
  size_t len = strlen(name);
  if (len == 0 || len >= cap) return false;
  for (size_t i = 0; i <= len; i++) out[i] = name[i] == '\\' ? '/' : name[i];
  if (path_exists(out)) return true;

  // Walk the components; `pos` is where the current one starts.  Each one
  // that exists as spelled is kept, a missing one is matched ignoring case.
  // On a miss the prefix resolved so far stays, so a file about to be
  // created lands in the existing directory.
  size_t pos = 0;
  while (pos < len) {
    if (out[pos] == '/') {
      pos++;
      continue;
    }
    size_t end = pos;
    while (end < len && out[end] != '/') end++;
    char saved = out[end];
    out[end] = 0;
    bool ok = path_exists(out);
    if (!ok) {
      // The directory is the text before the separator; cutting it there
      // leaves the component, terminated at `end`, in place behind it.
      const char* dir = pos == 0 ? "." : pos == 1 ? "/" : out;
      if (pos > 1) out[pos - 1] = 0;
      ok = match_component(dir, out + pos, end - pos);
      if (pos > 1) out[pos - 1] = '/';
    }
    out[end] = saved;
    if (!ok) return false;
    pos = end;
  }
  return path_exists(out);
}

bool host_program_path(char* out, size_t cap) {
  if (!out || cap == 0) return false;
  out[0] = 0;
  ssize_t n = readlink("/proc/self/exe", out, cap);
  // readlink does not terminate, and a result filling the buffer may be cut.
  if (n <= 0 || (size_t)n >= cap) {
    out[0] = 0;
    return false;
  }
  out[n] = 0;
  return true;
}
