// File-name resolution and the other host services.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "io/host.h"

namespace fs = std::filesystem;

namespace {

class HostPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zvhostXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root = tmpl;
    fs::create_directories(root + "/lib/Sub");
    touch("/lib/Sub/foo.lsp");
    touch("/world.rol");
  }
  void TearDown() override { fs::remove_all(root); }

  void touch(const std::string& rel) { std::ofstream(root + rel) << "x"; }

  // Resolve and return the result, or "<missing>" plus the text left in out.
  std::string resolve(const std::string& name, bool* found = nullptr) {
    char out[512];
    bool ok = host_resolve_path(name.c_str(), out, sizeof out);
    if (found) *found = ok;
    return out;
  }

  std::string root;
};

TEST_F(HostPaths, ExactNameWinsAndSeparatorsNormalise) {
  bool found;
  EXPECT_EQ(resolve(root + "/world.rol", &found), root + "/world.rol");
  EXPECT_TRUE(found);
  // A backslash is a separator like the slash, also in a directory part.
  EXPECT_EQ(resolve(root + "\\lib\\Sub\\foo.lsp", &found), root + "/lib/Sub/foo.lsp");
  EXPECT_TRUE(found);
  // An exact match is used even when a differently cased sibling exists.
  touch("/WORLD.ROL");
  EXPECT_EQ(resolve(root + "/WORLD.ROL", &found), root + "/WORLD.ROL");
  EXPECT_TRUE(found);
}

TEST_F(HostPaths, EachMissingComponentMatchesIgnoringCase) {
  bool found;
  EXPECT_EQ(resolve(root + "/WORLD.ROL", &found), root + "/world.rol");
  EXPECT_TRUE(found);
  EXPECT_EQ(resolve(root + "/LIB/SUB/FOO.LSP", &found), root + "/lib/Sub/foo.lsp");
  EXPECT_TRUE(found);
  EXPECT_EQ(resolve(root + "\\Lib/sub\\Foo.Lsp", &found), root + "/lib/Sub/foo.lsp");
  EXPECT_TRUE(found);
}

TEST_F(HostPaths, RelativeNamesResolveFromTheWorkingDirectory) {
  char tmpl[] = "zvrelXXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::string dir = tmpl;
  std::ofstream(dir + "/init.lsp") << "x";
  bool found;
  EXPECT_EQ(resolve(dir + "/INIT.LSP", &found), dir + "/init.lsp");
  EXPECT_TRUE(found);
  EXPECT_EQ(resolve("./" + dir + "\\Init.lsp", &found), "./" + dir + "/init.lsp");
  EXPECT_TRUE(found);
  fs::remove_all(dir);
}

TEST_F(HostPaths, CyrillicNamesFoldLikeTheKernelUpcases) {
  // Code page 1251: small letters 0xE0.. and 0xB8, capitals 0xC0.. and 0xA8.
  touch("/\xE0\xE1\xB8.rol");
  bool found;
  EXPECT_EQ(resolve(root + "/\xC0\xC1\xA8.ROL", &found), root + "/\xE0\xE1\xB8.rol");
  EXPECT_TRUE(found);
  // Upcasing UTF-8 by those rules turns the second byte of "и" (D0 B8)
  // into A8; the name on disk must still be found.
  touch("/\xD0\xB8.rol");
  EXPECT_EQ(resolve(root + "/\xD0\xA8.ROL", &found), root + "/\xD0\xB8.rol");
  EXPECT_TRUE(found);
}

TEST_F(HostPaths, SeveralCaseMatchesPickTheSameOneEveryTime) {
  touch("/data.lsp");
  touch("/Data.lsp");
  bool found;
  EXPECT_EQ(resolve(root + "/DATA.LSP", &found), root + "/Data.lsp");
  EXPECT_TRUE(found);
}

TEST_F(HostPaths, MissingNamesKeepTheResolvedPrefix) {
  bool found = true;
  // The directory is found, so a file created under this name lands there.
  EXPECT_EQ(resolve(root + "\\LIB\\new.lsp", &found), root + "/lib/new.lsp");
  EXPECT_FALSE(found);
  found = true;
  EXPECT_EQ(resolve(root + "/nodir/NoFile", &found), root + "/nodir/NoFile");
  EXPECT_FALSE(found);
  // A file is no directory.
  found = true;
  resolve(root + "/WORLD.ROL/x", &found);
  EXPECT_FALSE(found);
  found = true;
  EXPECT_EQ(resolve("", &found), "");
  EXPECT_FALSE(found);
}

TEST_F(HostPaths, NamesThatDoNotFitAreRefusedWithoutOverflow) {
  std::string name = root + "/world.rol";
  // Exactly one byte short for the terminator.
  char buf[128];
  std::memset(buf, 'Z', sizeof buf);
  size_t cap = name.size();
  EXPECT_FALSE(host_resolve_path(name.c_str(), buf, cap));
  EXPECT_EQ(buf[0], '\0');
  for (size_t i = cap; i < sizeof buf; i++) ASSERT_EQ(buf[i], 'Z') << "written at " << i;
  EXPECT_TRUE(host_resolve_path(name.c_str(), buf, cap + 1));
  EXPECT_EQ(std::string(buf), name);
  // Components longer than any file name simply do not match.
  std::string huge = root + "/" + std::string(300, 'a') + "/x";
  char big[1024];
  EXPECT_FALSE(host_resolve_path(huge.c_str(), big, sizeof big));
}

TEST(Host, ProgramPathNamesThisExecutable) {
  char buf[4096];
  ASSERT_TRUE(host_program_path(buf, sizeof buf));
  EXPECT_EQ(buf[0], '/');
  EXPECT_TRUE(fs::exists(buf));
  EXPECT_EQ(fs::path(buf).filename(), "unit_tests");
  // Too small a buffer is a failure with an empty path, never a cut one.
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_FALSE(host_program_path(small, sizeof small));
  EXPECT_EQ(small[0], '\0');
}

TEST(Host, SleepWaitsAtLeastTheTimeAsked) {
  auto t0 = std::chrono::steady_clock::now();
  host_sleep_ms(30);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_GE(ms, 30);
}

}  // namespace
