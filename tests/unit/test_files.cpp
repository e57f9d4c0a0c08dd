// The file layer's decisions that need no Lisp: OPEN's mode table, backup
// names and the merging of names.  OPEN, CLOSE and LOAD themselves are
// checked at the Lisp level (tests/lisp/files.lsp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "io/files.h"

namespace {

struct Row {
  uint32_t direction;
  bool exists;
  uint32_t if_exists;
  uint32_t if_does_not_exist;
  OpenAction action;
  const char* mode;
  bool backup;
  bool create_first;
};

constexpr uint32_t IN = FS_INPUT, OUT = FS_OUTPUT, IO = FS_IO, PROBE = FS_PROBE;
constexpr uint32_t ERR = FS_ERROR, CREATE = FS_CREATE;

TEST(FilesPlan, EveryRowOfTheModeTable) {
  const Row rows[] = {
      // Input.
      {IN, true, ERR, ERR, OPEN_STREAM, "r", false, false},
      {IN, false, ERR, 0, OPEN_WARN_MISSING, nullptr, false, false},
      {IN, false, ERR, ERR, OPEN_ERROR_MISSING, nullptr, false, false},
      {IN, false, ERR, CREATE, OPEN_STREAM, "r+", false, true},
      // Output over an existing file; overwriting keeps the old bytes.
      {OUT, true, FS_OVERWRITE, ERR, OPEN_STREAM, "r+", false, false},
      {OUT, true, FS_RENAME, CREATE, OPEN_STREAM, "w", true, false},
      {OUT, true, FS_RENAME_AND_DELETE, CREATE, OPEN_STREAM, "w", true, false},
      {OUT, true, FS_APPEND, ERR, OPEN_STREAM, "a", false, false},
      {OUT, true, 0, CREATE, OPEN_WARN_EXISTS, nullptr, false, false},
      {OUT, true, ERR, CREATE, OPEN_ERROR_EXISTS, nullptr, false, false},
      {OUT, false, ERR, CREATE, OPEN_STREAM, "w", false, false},
      {OUT, false, FS_APPEND, ERR, OPEN_ERROR_MISSING, nullptr, false, false},
      // Input and output.
      {IO, true, FS_OVERWRITE, ERR, OPEN_STREAM, "r+", false, false},
      {IO, true, FS_RENAME, CREATE, OPEN_STREAM, "w+", true, false},
      {IO, true, FS_APPEND, ERR, OPEN_STREAM, "a+", false, false},
      {IO, true, 0, CREATE, OPEN_WARN_EXISTS, nullptr, false, false},
      {IO, false, ERR, CREATE, OPEN_STREAM, "w+", false, false},
      // Probe.
      {PROBE, true, ERR, 0, OPEN_PROBE_TRUE, nullptr, false, false},
      {PROBE, false, ERR, 0, OPEN_WARN_MISSING, nullptr, false, false},
      {PROBE, false, ERR, ERR, OPEN_ERROR_MISSING, nullptr, false, false},
      {PROBE, false, ERR, CREATE, OPEN_PROBE_TRUE, nullptr, false, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message()
                 << "direction " << r.direction << " exists " << r.exists << " if-exists "
                 << r.if_exists << " if-does-not-exist " << r.if_does_not_exist);
    OpenPlan p = file_open_plan(r.direction, r.exists, r.if_exists, r.if_does_not_exist);
    EXPECT_EQ(p.action, r.action);
    if (r.mode) {
      ASSERT_NE(p.mode, nullptr);
      EXPECT_STREQ(p.mode, r.mode);
    }
    EXPECT_EQ(p.backup, r.backup);
    EXPECT_EQ(p.create_first, r.create_first);
  }
}

TEST(FilesPlan, DefaultOfIfDoesNotExist) {
  EXPECT_EQ(file_default_if_does_not_exist(IN, ERR), ERR);
  EXPECT_EQ(file_default_if_does_not_exist(PROBE, ERR), 0u);
  EXPECT_EQ(file_default_if_does_not_exist(OUT, ERR), CREATE);
  EXPECT_EQ(file_default_if_does_not_exist(OUT, FS_RENAME), CREATE);
  EXPECT_EQ(file_default_if_does_not_exist(OUT, FS_OVERWRITE), ERR);
  EXPECT_EQ(file_default_if_does_not_exist(IO, FS_APPEND), ERR);
}

std::string backup(const char* path, size_t cap = 260) {
  char out[300];
  return file_backup_name(path, out, cap) ? std::string(out) : std::string("<too long>");
}

TEST(FilesNames, BackupReplacesTheTypeAndNeverNamesTheFileItself) {
  EXPECT_EQ(backup("dir/foo.lsp"), "dir/foo.BAK");
  EXPECT_EQ(backup("foo"), "foo.BAK");
  EXPECT_EQ(backup("a.b/foo"), "a.b/foo.BAK");  // a dot in the directory is no type
  EXPECT_EQ(backup(".profile"), ".profile.BAK");
  EXPECT_EQ(backup("x.tar.gz"), "x.tar.BAK");
  EXPECT_EQ(backup("x.bak"), "x.bak.BAK");
  EXPECT_EQ(backup("x.Bak"), "x.Bak.BAK");
  EXPECT_EQ(backup("dir\\foo.lsp"), "dir\\foo.BAK");
  EXPECT_EQ(backup("abcdef.x", 10), "<too long>");
}

std::string merge(const char* name, const char* defaults) {
  char out[300];
  return file_merge_names(name, defaults, out, 260) ? std::string(out) : std::string("<too long>");
}

std::string with_type(const char* name, const char* type) {
  char out[300];
  return file_merge_type(name, type, out, 260) ? std::string(out) : std::string("<too long>");
}

TEST(FilesNames, MergeFillsOnlyMissingParts) {
  EXPECT_EQ(merge("foo", "/a/b/x.lsp"), "/a/b/foo.lsp");
  EXPECT_EQ(merge("foo.txt", "/a/b/x.lsp"), "/a/b/foo.txt");
  EXPECT_EQ(merge("/c/foo", "/a/b/x.lsp"), "/c/foo.lsp");
  EXPECT_EQ(merge("c/", "/a/b/x.lsp"), "c/x.lsp");
  EXPECT_EQ(merge("", "/a/x.lsp"), "/a/x.lsp");
  EXPECT_EQ(merge("foo", ""), "foo");
  EXPECT_EQ(merge(".profile", "x.lsp"), ".profile.lsp");
  std::string long_dir(255, 'd');
  EXPECT_EQ(merge("name", (long_dir + "/x.lsp").c_str()), "<too long>");
}

TEST(FilesNames, LoadAddsTheDefaultType) {
  EXPECT_EQ(with_type("foo", "LSP"), "foo.LSP");
  EXPECT_EQ(with_type("dir/foo.txt", "LSP"), "dir/foo.txt");
  EXPECT_EQ(with_type("foo.", "LSP"), "foo.LSP");
}

}  // namespace
