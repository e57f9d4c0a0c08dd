// The pathname built-ins: the parts of a namestring.
//
// Every part is parsed afresh from the name, so a pathname is just its
// namestring and nothing can get out of step with it.  The name is copied
// out of the heap before anything is allocated: the string may move.
#include "io/pathnames.h"

#include <cstring>

#include "builtins/table.h"
#include "eval/errors.h"
#include "io/host.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/strings.h"

namespace {


// A component ends at the next separator.
size_t component_end(const char* s, size_t i, size_t n) {
  while (i < n && !path_separator(s[i])) i++;
  return i;
}

PathSpan span(size_t start, size_t len) {
  return PathSpan{static_cast<uint16_t>(start), static_cast<uint16_t>(len)};
}

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

PathParse path_parse(const char* s, size_t n, PathParts* p) {
  std::memset(p, 0, sizeof *p);
  if (n > PATH_NAME_MAX) return PATH_TOO_LONG;
  size_t i = 0;
  if (n >= 2 && is_letter(s[0]) && s[1] == ':') {
    p->device = span(0, 1);
    i = 2;
    if (i < n && path_separator(s[i])) p->absolute = true;
  } else if (n >= 2 && s[0] == '\\' && s[1] == '\\') {
    size_t end = component_end(s, 2, n);
    // "\\host" alone names no file or directory on it.
    if (end == 2 || end >= n) return PATH_EMPTY_HOST;
    p->host = span(2, end - 2);
    p->absolute = true;
    i = end;
  } else if (n >= 1 && path_separator(s[0])) {
    p->absolute = true;
  }
  // Directory components: every component followed by a separator.
  size_t file = i;
  while (i < n) {
    if (path_separator(s[i])) {
      i++;
      file = i;
      continue;
    }
    size_t end = component_end(s, i, n);
    if (end == n) break;  // the file part
    if (p->count == PATH_DIRECTORY_MAX) return PATH_TOO_DEEP;
    p->dir[p->count++] = span(i, end - i);
    i = end;
  }
  p->file_start = static_cast<uint16_t>(file);
  size_t flen = n - file;
  p->name = span(file, flen);
  // "." and ".." name directories; their dots start no type.
  bool dots = (flen == 1 && s[file] == '.') || (flen == 2 && s[file] == '.' && s[file + 1] == '.');
  for (size_t k = n; !dots && k > file + 1; k--) {
    if (s[k - 1] == '.') {
      p->name = span(file, k - 1 - file);
      p->type = span(k, n - k);
      break;
    }
  }
  return PATH_OK;
}

bool path_match(const char* pat, size_t pn, const char* name, size_t nn) {
  // Iterative matching with one backtrack point: the last star.
  size_t p = 0, q = 0, star = SIZE_MAX, mark = 0;
  while (q < nn) {
    if (p < pn && (pat[p] == '?' || host_fold(uint8_t(pat[p])) == host_fold(uint8_t(name[q])))) {
      p++;
      q++;
    } else if (p < pn && pat[p] == '*') {
      star = p++;
      mark = q;
    } else if (star != SIZE_MAX) {
      p = star + 1;
      q = ++mark;
    } else {
      return false;
    }
  }
  while (p < pn && pat[p] == '*') p++;
  return p == pn;
}

// ---------------------------------------------------------------------------
// Built-ins

namespace {

struct Parsed {
  char text[PATH_NAME_MAX + 1];
  PathParts parts;
};

// The name, parsed; a non-string or a name the parser refuses is error
// 5170 with the argument.
void parse_arg(Value a, Parsed* out) {
  if (!is_string(a) || string_length(a) > PATH_NAME_MAX) {
    lisp_error(E_WRONG_TYPE, a);
    return;
  }
  uint32_t n = string_length(a);
  std::memcpy(out->text, string_bytes(a), n);
  out->text[n] = 0;
  if (path_parse(out->text, n, &out->parts) != PATH_OK) lisp_error(E_WRONG_TYPE, a);
}

Value part_string(const Parsed& p, PathSpan s) {
  return s.len ? mem_make_string(p.text + s.start, s.len) : NIL;
}

// One part of the name a as a string, or NIL when it has none.
Value name_part(Value a, PathSpan PathParts::*part) {
  Parsed p;
  parse_arg(a, &p);
  return part_string(p, p.parts.*part);
}

}  // namespace

// 315 (name)
Value bi_pathname_host(Value a, Value) { return name_part(a, &PathParts::host); }

// 316 (name)
Value bi_pathname_device(Value a, Value) { return name_part(a, &PathParts::device); }

// 317 (name): (:ABSOLUTE component ...), (:RELATIVE component ...), or
// NIL for a name with no directory at all.
Value bi_pathname_directory(Value a, Value) {
  Parsed p;
  parse_arg(a, &p);
  if (!p.parts.absolute && p.parts.count == 0) return NIL;
  Value list = NIL;
  root_push(&list);
  for (uint32_t k = p.parts.count; k > 0; k--) {
    Value s = part_string(p, p.parts.dir[k - 1]);
    list = cons(s, list);
  }
  list = cons(make_keyword(p.parts.absolute ? FS_ABSOLUTE : FS_RELATIVE), list);
  root_pop();
  return list;
}

// 318 (name)
Value bi_pathname_name(Value a, Value) { return name_part(a, &PathParts::name); }

// 319 (name)
Value bi_pathname_type(Value a, Value) { return name_part(a, &PathParts::type); }

// 320 (name): names carry no versions
Value bi_pathname_version(Value a, Value) { return NIL; }

// 321 (object): every simple string is a namestring
Value bi_pathnamep(Value a, Value) { return bool_value(is_string(a)); }
