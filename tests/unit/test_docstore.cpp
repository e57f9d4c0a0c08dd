// The documentation store: packing, the two files of a pair, lookups over
// the user and system pairs, deletion, compaction and the message texts.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "eval/errors.h"
#include "genesis/world.h"
#include "io/docstore.h"
#include "text/strings.h"
#include "world_fixture.h"

namespace {

constexpr uint32_t E_BAD_KEY = 4146, E_BAD_ARGUMENT = 5170;

std::string bytes(const std::string& s) {
  return doc_pack_bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
std::string unpacked(const std::string& s) {
  return doc_unpack_bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}
std::string text_of(Value s) {
  if (!is_string(s)) return "<not a string>";
  return std::string(reinterpret_cast<char*>(string_bytes(s)), string_length(s));
}

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

struct Header {
  unsigned written, deleted, superseded;
};
Header header(const std::string& index) {
  std::string b = slurp(index);
  if (b.size() < 6) return {~0u, ~0u, ~0u};
  auto u16 = [&](size_t i) { return unsigned(uint8_t(b[i])) | unsigned(uint8_t(b[i + 1])) << 8; };
  return {u16(0), u16(2), u16(4)};
}

class DocStore : public ::testing::Test {
 protected:
  void SetUp() override {
    test_world_init(WorldParams{4096, 1 << 20, 1000, 1024});
    ErrorTrap::install();
    saved_stress_ = zv_gc_stress;
    gc_stress_init_from_env();
    root_ = testing::TempDir() + "docstore" + std::to_string(getpid()) + "/";
    user_ = root_ + "user/";
    system_ = root_ + "system/";
    mkdir(root_.c_str(), 0700);
    mkdir(user_.c_str(), 0700);
    mkdir(system_.c_str(), 0700);
    doc_set_user_dir(user_.c_str());
    doc_set_system_dir(system_.c_str());
  }
  void TearDown() override {
    zv_gc_stress = saved_stress_;
    root_pop(nheld_);
    doc_set_store_to_system(false);
    doc_set_user_dir(nullptr);
    doc_set_system_dir(nullptr);
    std::string rm = "rm -rf '" + root_ + "'";
    EXPECT_EQ(std::system(rm.c_str()), 0);
  }
  // Rooted strings and symbols, released in TearDown.
  Value& hold(Value v) {
    held_[nheld_] = v;
    root_push(&held_[nheld_]);
    return held_[nheld_++];
  }
  Value& str(const std::string& s) {
    return hold(str_from_bytes(reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size())));
  }
  Value& sym(const char* s) { return hold(sym_intern_cstr(s)); }

  std::string lookup(Value k1, Value k2) { return text_of(doc_lookup(k1, k2)); }
  // Store a text made here; the keys are read after it is made, since
  // making it may move symbols.  True when the store returned the text.
  bool put(const Value& k1, const Value& k2, const std::string& t) {
    Value s = str_from_bytes(reinterpret_cast<const uint8_t*>(t.data()), uint32_t(t.size()));
    root_push(&s);
    bool ok = doc_store(k1, k2, s) == s;
    root_pop();
    return ok;
  }
  // Into the system pair, as the genesis writes it.
  void put_system(const Value& k1, const Value& k2, const std::string& t) {
    doc_set_store_to_system(true);
    EXPECT_TRUE(put(k1, k2, t));
    doc_set_store_to_system(false);
  }

  std::string root_, user_, system_;

 private:
  uint32_t saved_stress_ = 0;
  Value held_[64] = {};
  uint32_t nheld_ = 0;
};

}  // namespace

// --- packing ----------------------------------------------------------------

TEST(DocPacking, RunsBecomeCountsThatAreNeverSpecialBytes) {
  EXPECT_EQ(bytes("a  b"), "a  b");  // two blanks stay
  EXPECT_EQ(bytes("a   b"), std::string("a\011\003b"));
  EXPECT_EQ(bytes("a\n  b"), std::string("a\013\003b"));
  EXPECT_EQ(bytes("a\n b"), "a\n b");
  // 26, 34 and 92 would be an end-of-file mark, a quote and a backslash:
  // the count is lowered and the last blank stays plain.
  EXPECT_EQ(bytes(std::string(26, ' ')), std::string("\x09\x19 "));
  EXPECT_EQ(bytes(std::string(34, ' ')), std::string("\x09\x21 "));
  EXPECT_EQ(bytes(std::string(92, ' ')), std::string("\x09\x5b "));
  EXPECT_EQ(bytes("\n" + std::string(25, ' ')), std::string("\x0b\x19 "));
  // Longer than a count byte holds: a second run follows.
  EXPECT_EQ(bytes(std::string(300, ' ')), std::string("\x09\xff\x09\x2d"));
  EXPECT_EQ(bytes(std::string(257, ' ')), std::string("\x09\xff  "));
}

TEST(DocPacking, TabsAndVerticalTabsOfTheTextSurvive) {
  std::string t = "a\tb\013c\t";
  EXPECT_EQ(bytes(t), std::string("a\011\001b\013\001c\011\001"));
  EXPECT_EQ(unpacked(bytes(t)), t);
}

TEST(DocPacking, UnpackingRestoresEveryText) {
  std::mt19937 rng(7);
  const char alphabet[] = {' ', ' ', ' ', '\n', 'x', '"', '\\', '\t', '\x0b', '\x1a'};
  for (int round = 0; round < 2000; round++) {
    std::string t;
    size_t n = rng() % 400;
    for (size_t i = 0; i < n; i++) t.push_back(alphabet[rng() % sizeof alphabet]);
    std::string p = bytes(t);
    ASSERT_EQ(unpacked(p), t) << "round " << round;
    for (size_t i = 0; i + 1 < p.size(); i++)
      if (p[i] == 9 || p[i] == 11) {
        uint8_t k = uint8_t(p[++i]);
        EXPECT_TRUE(k != 26 && k != 34 && k != 92) << "round " << round;
      }
  }
}

TEST_F(DocStore, PackInPlaceShortensTheStringAndUnpackCopies) {
  Value& s = str("a" + std::string(40, ' ') + "b");
  Value packed = doc_pack(s);
  EXPECT_EQ(packed, s);
  EXPECT_EQ(text_of(packed), std::string("a\011\050b"));
  Value back = doc_unpack(packed);
  EXPECT_NE(back, packed);
  EXPECT_EQ(text_of(back), "a" + std::string(40, ' ') + "b");
  Value& plain = str("nothing packed");
  EXPECT_EQ(doc_unpack(plain), plain);
  EXPECT_EQ(TRAP_ERROR(doc_pack(make_fixnum(3))), E_BAD_ARGUMENT);
}

// --- storing and looking up -------------------------------------------------

TEST_F(DocStore, RoundTripRestoresBlankRunsQuotesAndBackslashes) {
  Value& foo = sym("FOO");
  Value& fn = sym("FUNCTION");
  std::string t =
      "Adds   two \"numbers\".\n    Example: (foo 1 2)   =>  3\\n" + std::string(26, ' ') + "end";
  Value& text = str(t);
  EXPECT_EQ(doc_store(foo, fn, text), text);
  EXPECT_EQ(lookup(foo, fn), t);
  // What the text file holds is the packed text as a printed string.
  std::string file = slurp(user_ + "ZORVADOC.HLL");
  EXPECT_EQ(file.front(), '"');
  EXPECT_NE(file.find("Adds\x09\x03two \\\"numbers\\\"."), std::string::npos) << file;
  EXPECT_EQ(header(user_ + "ZORVADOC.IND").written, 1u);
}

TEST_F(DocStore, SymbolsMatchByNameWhateverTheirIndex) {
  Value& foo = sym("FOO");
  Value& kind = sym("VARIABLE");
  put(foo, kind, "the foo");
  // A symbol of the same name elsewhere in the table (as after the
  // collector or in another image) finds the same text.
  const char name[] = "FOO";
  Value& other = hold(sym_make(reinterpret_cast<const uint8_t*>(name), 3));
  ASSERT_NE(other, foo);
  EXPECT_EQ(lookup(other, kind), "the foo");
  // Keywords and numbers are keys of their own.
  Value& keyword = hold(sym_intern_cstr("FOO", TAG_KEYWORD));
  EXPECT_EQ(doc_lookup(keyword, kind), NIL);
  put(make_fixnum(-5), make_char('x'), "minus five");
  EXPECT_EQ(lookup(make_fixnum(-5), make_char('x')), "minus five");
  EXPECT_EQ(doc_lookup(make_fixnum(5), make_char('x')), NIL);
}

TEST_F(DocStore, StoringAgainSupersedesAndNilDeletesOnce) {
  Value& foo = sym("FOO");
  Value& fn = sym("FUNCTION");
  put(foo, fn, "first");
  put(foo, fn, "second");
  EXPECT_EQ(lookup(foo, fn), "second");
  Header h = header(user_ + "ZORVADOC.IND");
  EXPECT_EQ(h.written, 1u);
  EXPECT_EQ(h.superseded, 1u);
  EXPECT_EQ(doc_store(foo, fn, NIL), NIL);
  EXPECT_EQ(doc_lookup(foo, fn), NIL);
  EXPECT_EQ(header(user_ + "ZORVADOC.IND").deleted, 1u);
  // Deleting what is not there changes nothing.
  doc_store(foo, fn, NIL);
  EXPECT_EQ(header(user_ + "ZORVADOC.IND").deleted, 1u);
  // A new text after the deletion is a new record.
  put(foo, fn, "third");
  EXPECT_EQ(lookup(foo, fn), "third");
  EXPECT_EQ(header(user_ + "ZORVADOC.IND").written, 2u);
}

TEST_F(DocStore, LookupWithoutSecondKeyGivesEveryKind) {
  Value& foo = sym("FOO");
  Value& fn = sym("FUNCTION");
  Value& var = sym("VARIABLE");
  put(foo, fn, "as a function");
  put(sym("BAR"), fn, "not foo");
  put(foo, var, "as a variable");
  put(foo, make_fixnum(12), "numbered");
  Value& all = hold(NIL);
  all = doc_lookup(foo, NIL);
  Value expect_keys[3] = {fn, var, make_fixnum(12)};
  const char* expect_texts[3] = {"as a function", "as a variable", "numbered"};
  Value l = all;
  for (int i = 0; i < 3; i++, l = cdr(l)) {
    ASSERT_TRUE(cons_p(l)) << i;
    EXPECT_EQ(car(car(l)), expect_keys[i]) << i;
    EXPECT_EQ(text_of(cdr(car(l))), expect_texts[i]) << i;
  }
  EXPECT_EQ(l, NIL);
  EXPECT_EQ(doc_lookup(sym("NOTHING"), NIL), NIL);
}

TEST_F(DocStore, TheUserPairStandsBeforeTheSystemPair) {
  Value& foo = sym("FOO");
  Value& fn = sym("FUNCTION");
  Value& var = sym("VARIABLE");
  put_system(foo, fn, "system function text");
  put_system(foo, var, "system variable text");
  EXPECT_EQ(lookup(foo, fn), "system function text");
  put(foo, fn, "user function text");
  EXPECT_EQ(lookup(foo, fn), "user function text");
  // Every kind once, the user's text for the kind both pairs have.
  Value& all = hold(NIL);
  all = doc_lookup(foo, NIL);
  ASSERT_TRUE(cons_p(all) && cons_p(cdr(all)));
  EXPECT_EQ(car(car(all)), fn);
  EXPECT_EQ(text_of(cdr(car(all))), "user function text");
  EXPECT_EQ(car(car(cdr(all))), var);
  EXPECT_EQ(cdr(cdr(all)), NIL);
  // First key NIL: the system pair alone.
  put(NIL, make_fixnum(77), "user's");
  EXPECT_EQ(doc_lookup(NIL, make_fixnum(77)), NIL);
}

TEST_F(DocStore, MissingFilesAreSkipped) {
  Value& foo = sym("FOO");
  Value& fn = sym("FUNCTION");
  EXPECT_EQ(doc_lookup(foo, fn), NIL);
  EXPECT_EQ(doc_lookup(foo, NIL), NIL);
  EXPECT_FALSE(exists(user_ + "ZORVADOC.IND"));
  // An index without its text file gives nothing either.
  put(foo, fn, "text");
  std::remove((user_ + "ZORVADOC.HLL").c_str());
  EXPECT_EQ(doc_lookup(foo, fn), NIL);
  // A directory that does not exist makes the store fail, not signal.
  doc_set_user_dir((root_ + "absent/").c_str());
  EXPECT_EQ(TRAP_ERROR(EXPECT_FALSE(put(foo, fn, "x"))), 0u);
  // The files are found whatever the case of their names on disk.
  doc_set_user_dir(user_.c_str());
  put(foo, fn, "again");
  ASSERT_EQ(std::rename((user_ + "ZORVADOC.IND").c_str(), (user_ + "zorvadoc.ind").c_str()), 0);
  ASSERT_EQ(std::rename((user_ + "ZORVADOC.HLL").c_str(), (user_ + "ZorvaDoc.Hll").c_str()), 0);
  EXPECT_EQ(lookup(foo, fn), "again");
}

TEST_F(DocStore, KeysOfOtherTypesAreError4146) {
  Value& fn = sym("FUNCTION");
  Value& s = str("FOO");
  EXPECT_EQ(TRAP_ERROR(doc_lookup(s, fn)), E_BAD_KEY);
  EXPECT_EQ(ErrorTrap::object, s);
  EXPECT_EQ(TRAP_ERROR(doc_lookup(fn, hold(cons(fn, NIL)))), E_BAD_KEY);
  Value& dbl = hold(mem_make_double(1.5));
  EXPECT_EQ(TRAP_ERROR(put(dbl, fn, "x")), E_BAD_KEY);
  EXPECT_EQ(TRAP_ERROR(doc_store(fn, fn, make_fixnum(1))), E_BAD_ARGUMENT);
  EXPECT_FALSE(exists(user_ + "ZORVADOC.IND"));
  // The defining forms' store never signals.
  Value& x = str("x");
  EXPECT_EQ(TRAP_ERROR(doc_store_quietly(s, fn, x)), 0u);
}

TEST_F(DocStore, CompactionKeepsTheLiveRecords) {
  Value& fn = sym("FUNCTION");
  Value& keep = sym("KEEP");
  Value& gone = sym("GONE");
  Value& busy = sym("BUSY");
  put(keep, fn, "kept   text");
  put(gone, fn, "deleted text");
  doc_store(gone, fn, NIL);
  // Superseding one text again and again passes the threshold of 256.
  for (int i = 0; i < 300; i++) put(busy, fn, "version " + std::to_string(i));
  // One deletion and 256 supersessions pass the threshold at the 257th
  // version; the 43 after it are counted afresh.
  Header h = header(user_ + "ZORVADOC.IND");
  EXPECT_EQ(h.written, 2u);  // KEEP and BUSY; the deleted record went
  EXPECT_EQ(h.deleted, 0u);
  EXPECT_EQ(h.superseded, 43u);
  EXPECT_EQ(lookup(keep, fn), "kept   text");
  EXPECT_EQ(lookup(busy, fn), "version 299");
  EXPECT_EQ(doc_lookup(gone, fn), NIL);
  // The text file holds the texts since then, not 300 versions.
  EXPECT_LT(slurp(user_ + "ZORVADOC.HLL").size(), 45u * 16);
  EXPECT_FALSE(exists(user_ + "$ZVTMP$.IND"));
  EXPECT_FALSE(exists(user_ + "$ZVTMP$.HLL"));
}

TEST_F(DocStore, ListsSurviveCollectionsWhileTheyAreBuilt) {
  Value& foo = sym("FOO");
  for (int i = 0; i < 40; i++) put(foo, make_fixnum(i), "text number " + std::to_string(i));
  uint32_t saved = zv_gc_stress;
  zv_gc_stress = 1;
  Value& all = hold(NIL);
  all = doc_lookup(foo, NIL);
  zv_gc_stress = saved;
  Value l = all;
  for (int i = 0; i < 40; i++, l = cdr(l)) {
    ASSERT_TRUE(cons_p(l)) << i;
    EXPECT_EQ(car(car(l)), make_fixnum(i));
    EXPECT_EQ(text_of(cdr(car(l))), "text number " + std::to_string(i));
  }
}

// --- messages ---------------------------------------------------------------

TEST_F(DocStore, MessageTextsComeFromTheSystemPair) {
  EXPECT_EQ(doc_message_text(45), NIL);
  put_system(NIL, make_fixnum(45), "No   value here");
  EXPECT_EQ(text_of(doc_message_text(45)), "No   value here");
  EXPECT_EQ(doc_message_text(46), NIL);
  // Written again (as the genesis does on every build), the new text is
  // seen at once.
  EXPECT_TRUE(doc_clear_system_pair());
  EXPECT_EQ(doc_message_text(45), NIL);
  put_system(NIL, make_fixnum(45), "Changed");
  EXPECT_EQ(text_of(doc_message_text(45)), "Changed");
}

// ERROR, CERROR and WARN with a fixnum datum: its text under the symbol
// ERROR, else the message of the code, else the datum.  The genesis world
// has ERROR at its fixed index.
TEST(DocStoreWorld, FixnumDataOfErrorFindTheirTexts) {
  ASSERT_TRUE(gen_build_world("DOCTEST.ROL")) << gen_error();
  std::string root = testing::TempDir() + "docworld" + std::to_string(getpid()) + "/";
  mkdir(root.c_str(), 0700);
  doc_set_user_dir(root.c_str());
  doc_set_system_dir(root.c_str());
  Value error = sym_intern_cstr("ERROR");
  ASSERT_EQ(error, make_symbol(FS_ERROR));
  Value text = str_from_cstr("Disk ~A is full");
  root_push(&text);
  doc_set_store_to_system(true);
  EXPECT_NE(doc_store(NIL, make_fixnum(49), str_from_cstr("The function ~S is undefined")), NIL);
  doc_set_store_to_system(false);
  EXPECT_EQ(doc_store(make_fixnum(1234), error, text), text);
  EXPECT_EQ(text_of(doc_error_text(make_fixnum(1234))), "Disk ~A is full");
  EXPECT_EQ(text_of(doc_error_text(make_fixnum(0x1431))), "The function ~S is undefined");
  // The signaller's message lookup reaches the same text, and falls back
  // to message 20 for a number the files lack.
  EXPECT_EQ(text_of(message_text(49)), "The function ~S is undefined");
  EXPECT_EQ(message_text(50), message_text(20));
  EXPECT_EQ(doc_error_text(make_fixnum(-3)), make_fixnum(-3));
  EXPECT_EQ(doc_error_text(make_fixnum(20)), make_fixnum(20));
  root_pop();
  doc_set_user_dir(nullptr);
  doc_set_system_dir(nullptr);
  std::string rm = "rm -rf '" + root + "'";
  EXPECT_EQ(std::system(rm.c_str()), 0);
}
