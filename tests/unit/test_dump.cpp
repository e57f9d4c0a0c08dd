// The debug dumps: environment dump of a Lisp stack and the symbol-hash
// dump, both appended to "dumph.log" in the current directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "diag/dump.h"
#include "world_fixture.h"

namespace {

std::string fmt(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* f, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, f);
  std::vsnprintf(buf, sizeof buf, f, ap);
  va_end(ap);
  return buf;
}

// Each test runs in a directory of its own so the log starts empty.
class DumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_world_init();
    char tmpl[] = "/tmp/zorva-dump-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    old_cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
    std::system(("rm -rf " + dir_).c_str());
  }
  static std::string log() {
    std::ifstream in("dumph.log", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string dir_, old_cwd_;
};

void push(uint16_t at, Value arg, uint16_t tag, uint16_t link) {
  zvts->stack[at] = StackEntry{arg, tag, link};
  zvts->septr = at;
}

}  // namespace

TEST_F(DumpTest, EmptyStackWritesOnlyTheHeader) {
  zvts->glvalue = make_fixnum(5);
  dump_environment(zvts, "test");
  EXPECT_EQ(log(),
            "DUMPENV 0800 to 0800 thread zv0\nglvalue = 0b000005\nINDEX ARGUMENT TAG  LINK\n");
  // A second dump is appended, not written over the first.
  dump_environment(zvts, "again");
  EXPECT_EQ(log().size(), 2 * std::string("DUMPENV 0800 to 0800 thread zv0\nglvalue = 0b000005\n"
                                          "INDEX ARGUMENT TAG  LINK\n")
                                  .size());
}

TEST_F(DumpTest, EntriesShowNamesKindsChainHeadsAndArguments) {
  Value foo = sym_intern_cstr("FOO");
  Value text = mem_make_string("hi", 2);
  Value form = cons(foo, NIL);
  push(0x7FF, make_fixnum(5), static_cast<uint16_t>(symbol_index(foo)), 0x800);  // binding
  push(0x7FE, 3, 0x8002, 0);                                                     // listener
  push(0x7FD, text, ST_CALL_FRAME, 0);
  push(0x7FC, form, ST_EVAL_FRAME, 0x7FD);
  zvts->zvdinenv = 0x7FF;
  zvts->zvdincxt = 0x7FE;
  zvts->gltagcxt = 0x7FD;
  zvts->zvform = 0x7FD;
  zvts->zvlexenv = 0;
  dump_environment(zvts, "test");
  std::string expect =
      "DUMPENV 07fc to 0800 thread zv0\nglvalue = 00000000\nINDEX ARGUMENT TAG  LINK\n" +
      fmt(" 07fc %08x d000 0007fd [Form] \n%08x\n", form, form) +
      fmt(" 07fd %08x e000 000000 \"hi\" gltagcxt zvform \n\"hi\"\n", text) +
      " 07fe 00000003 8002 000000 [Context] zvdincxt \n"
      " 07ff 0b000005 0001 000800 'FOO' zvdinenv \n5\n";
  EXPECT_EQ(log(), expect);
}

TEST_F(DumpTest, CorruptEntriesAreShownWithoutReadingWildMemory) {
  // A tag that is no symbol index in use and a word that only looks like a
  // heap string: the dump must not follow either.
  push(0x7FF, 0x50FFFFF0, 0x7000, 0);
  dump_environment(zvts, "test");
  EXPECT_NE(log().find(" 07ff 50fffff0 7000 000000 '?' \n50fffff0\n"), std::string::npos);
}

TEST_F(DumpTest, HashDumpListsEverySlot) {
  Value foo = sym_intern_cstr("FOO");
  uint32_t index = symbol_index(foo);
  Value longer = sym_intern_cstr("A-RATHER-LONG-SYMBOL-NAME");
  uint32_t size = zvm.hash_size;
  uint32_t h = sym_hash(reinterpret_cast<const uint8_t*>("FOO"), 3);
  uint32_t home = h % size, second = (home + h % (size - 2) + 1) % size;
  // Put FOO one probe further, behind a deleted slot.
  ASSERT_EQ(zvm.hash[home], index);
  ASSERT_EQ(zvm.hash[second], HASH_SLOT_EMPTY);
  zvm.hash[home] = HASH_SLOT_DELETED;
  zvm.hash[second] = static_cast<uint16_t>(index);

  dump_symbol_hash("why");
  std::string out = log();
  std::istringstream lines(out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, fmt("dumpshtab of %u entries why", size));
  uint32_t count = 0;
  while (std::getline(lines, line)) {
    uint32_t slot = count++;
    if (slot == home) {
      EXPECT_EQ(line, fmt("%05u 32769 08001", slot));
    } else if (slot == second) {
      EXPECT_EQ(line, fmt("%05u %05u %05x [03] '                 FOO' TAG    8 (%8x : %u %u <2>)",
                          slot, index, index, h, home, second));
    } else if (zvm.hash[slot] == symbol_index(longer)) {
      // Names are cut at twenty characters; the length is the whole name's.
      EXPECT_NE(line.find(" [25] 'A-RATHER-LONG-SYMBOL' TAG    8 ("), std::string::npos);
    } else if (zvm.hash[slot] == HASH_SLOT_EMPTY) {
      EXPECT_EQ(line, fmt("%05u 32768 08000", slot));
    }
  }
  EXPECT_EQ(count, size);
}

TEST_F(DumpTest, UnopenableLogIsSkipped) {
  ASSERT_EQ(mkdir("dumph.log", 0755), 0);
  dump_environment(zvts, "test");
  dump_symbol_hash("test");
  struct stat st;
  ASSERT_EQ(stat("dumph.log", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}
