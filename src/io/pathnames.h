// Pathnames are namestrings: the parts of a name are found by parsing it
// each time they are asked for, never stored apart from it.
//
// A name is an optional host part (two leading backslashes and the host
// name) or device (a letter and a colon), then directory components
// separated by '/' or '\\', then the file part: the name, and the type
// after its last dot unless that dot is its first character (".profile"
// is a name without a type).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t PATH_NAME_MAX = 259;      // characters in a name
constexpr uint32_t PATH_DIRECTORY_MAX = 128;  // components of its directory

struct PathSpan {
  uint16_t start, len;
};

struct PathParts {
  PathSpan host;    // len 0: none
  PathSpan device;  // len 0: none
  bool absolute;    // the directory starts at the root
  uint32_t count;   // directory components
  PathSpan dir[PATH_DIRECTORY_MAX];
  PathSpan name;  // len 0: none
  PathSpan type;  // len 0: none (an empty type counts as none)
  uint16_t file_start;  // where the file part begins (the directory ends)
};

enum PathParse : uint8_t {
  PATH_OK,
  PATH_TOO_LONG,     // PATH_NAME_MAX characters exceeded
  PATH_TOO_DEEP,     // more than PATH_DIRECTORY_MAX directory components
  PATH_EMPTY_HOST,   // "\\\\host" with nothing after the host
};

// Parse the n bytes at s.  Empty components (doubled separators) are
// skipped.
PathParse path_parse(const char* s, size_t n, PathParts* out);

inline bool path_separator(char c) { return c == '/' || c == '\\'; }

// Wildcard match of a file name against a pattern with '*' (any run of
// characters) and '?' (any one character), letters compared as the host
// resolution compares them (ASCII and code page 1251 case folded).
bool path_match(const char* pattern, size_t pn, const char* name, size_t nn);
