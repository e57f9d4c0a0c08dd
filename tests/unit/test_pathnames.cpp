// Parsing names into their parts, and the wildcard match of listings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "io/pathnames.h"

namespace {

std::string part(const std::string& s, PathSpan p) { return s.substr(p.start, p.len); }

// The parts of a name in one line: host|device|A or R|dir,dir|name|type.
std::string parts_of(const std::string& s) {
  PathParts p;
  PathParse r = path_parse(s.data(), s.size(), &p);
  if (r != PATH_OK) return "error " + std::to_string(int(r));
  std::string dirs;
  for (uint32_t i = 0; i < p.count; i++) dirs += (i ? "," : "") + part(s, p.dir[i]);
  return part(s, p.host) + "|" + part(s, p.device) + "|" + (p.absolute ? "A" : "R") + "|" +
         dirs + "|" + part(s, p.name) + "|" + part(s, p.type);
}

}  // namespace

TEST(Pathnames, PartsOfNames) {
  struct Case {
    const char* name;
    const char* parts;
  } cases[] = {
      {"", "||R|||"},
      {"f", "||R||f|"},
      {"f.txt", "||R||f|txt"},
      {"/", "||A|||"},
      {"/f.txt", "||A||f|txt"},
      {"/a/b/f.txt", "||A|a,b|f|txt"},
      {"a/b/", "||R|a,b||"},
      {"a\\b\\c", "||R|a,b|c|"},
      {"a/b\\c.d", "||R|a,b|c|d"},
      {"a//b///c", "||R|a,b|c|"},
      {".profile", "||R||.profile|"},
      {"/x/.profile", "||A|x|.profile|"},
      {".emacs.d/init.el", "||R|.emacs.d|init|el"},
      {"archive.tar.gz", "||R||archive.tar|gz"},
      {"trailing.", "||R||trailing|"},
      {"..", "||R||..|"},
      {"../x", "||R|..|x|"},
      {"C:\\A\\B\\F.TXT", "|C|A|A,B|F|TXT"},
      {"c:rel.txt", "|c|R||rel|txt"},
      {"c:", "|c|R|||"},
      {"1:x", "||R||1:x|"},
      {"\\\\host\\share\\f", "host||A|share|f|"},
      {"\\\\host\\", "host||A|||"},
      {"//host/f", "||A|host|f|"},
  };
  for (const Case& c : cases) EXPECT_EQ(parts_of(c.name), c.parts) << c.name;
}

TEST(Pathnames, LimitsAreErrorsNotCuts) {
  std::string longest(PATH_NAME_MAX, 'x');
  EXPECT_EQ(parts_of(longest), "||R||" + longest + "|");
  EXPECT_EQ(parts_of(longest + "x"), "error " + std::to_string(PATH_TOO_LONG));

  std::string deep;
  for (uint32_t i = 0; i < PATH_DIRECTORY_MAX; i++) deep += "d/";
  PathParts p;
  ASSERT_EQ(path_parse(deep.data(), deep.size(), &p), PATH_OK);
  EXPECT_EQ(p.count, PATH_DIRECTORY_MAX);
  deep += "d/";
  EXPECT_EQ(path_parse(deep.data(), deep.size(), &p), PATH_TOO_DEEP);
  // 128 directories and a file part are fine.
  deep.resize(deep.size() - 2);
  deep += "f";  // 257 characters
  EXPECT_EQ(path_parse(deep.data(), deep.size(), &p), PATH_OK);

  for (const char* bad : {"\\\\", "\\\\host", "\\\\\\x"})
    EXPECT_EQ(path_parse(bad, std::strlen(bad), &p), PATH_EMPTY_HOST) << bad;
}

TEST(Pathnames, WildcardsMatchLikeTheFileSystemResolves) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*", "anything.at.all", true},   {"*", "", true},
      {"*.lsp", "foo.lsp", true},       {"*.lsp", "foo.LSP", true},
      {"*.LSP", "foo.lsp", true},       {"*.lsp", "foo.lspx", false},
      {"?oo.*", "foo.c", true},         {"?oo.*", "fooo.c", false},
      {"a*b*c", "aXXbYYc", true},       {"a*b*c", "aXXbYY", false},
      {"*a*a*a*a*", "banana", false},   {"*a*a*a*", "banana", true},
      {"abc", "ABC", true},             {"abc", "abcd", false},
      {"\xE0*", "\xC0\xC1", true},  // Cyrillic letters of code page 1251 fold too
      {"", "", true},                   {"", "x", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(path_match(c.pattern, std::strlen(c.pattern), c.name, std::strlen(c.name)), c.match)
        << c.pattern << " " << c.name;
}
