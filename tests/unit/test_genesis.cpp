// The genesis: the first world, checked after it has gone through the
// image writer and the loader, as the kernel will see it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "builtins/table.h"
#include "image/image_file.h"
#include "world_fixture.h"

#include "genesis/builtin_names.h"
#include "genesis/fixed_symbols.h"
#include "genesis/messages.h"
#include "genesis/roots.h"
#include "genesis/static_heap.h"
#include "genesis/world.h"

namespace {

unsigned char uchar(char c) { return static_cast<unsigned char>(c); }

// Per process: the test runner may run several of these at once.
std::string temp_name(const char* what) {
  return testing::TempDir() + what + std::to_string(getpid());
}

std::string image_path() { return temp_name("genesis_test") + ".ROL"; }

// Builds the world (under the collector's stress mode when asked), saves
// it and loads it back.
void build_and_reload(uint32_t stress = 0) {
  zv_gc_stress = stress;
  bool built = gen_build_world("ZORVA.ROL");
  zv_gc_stress = 0;
  ASSERT_TRUE(built) << gen_error();
  std::string path = image_path();
  ASSERT_EQ(img_write_file(path.c_str()), 0);
  mem_free_areas(false, true);
  int loaded = img_load(path.c_str(), 1);
  std::remove(path.c_str());
  ASSERT_EQ(loaded, IMG_OK) << img_error_text();
}

std::string name_of(uint32_t index) {
  Value s = sym_name(index);
  return std::string(reinterpret_cast<const char*>(string_bytes(s)), string_length(s));
}

std::string string_of(Value s) {
  return std::string(reinterpret_cast<const char*>(string_bytes(s)), string_length(s));
}

uint32_t index_named(const char* name) {
  SymSearch s = sym_search(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
  return s.found ? s.index : 0xFFFFFFFF;
}

uint32_t list_length(Value list) {
  uint32_t n = 0;
  for (; cons_p(list); list = cdr(list)) n++;
  return n;
}

// A lookup written from the hash-table rules, not from the genesis code:
// string hash (x4 plus byte, x12 below 6 bytes, 23 bits), symbols adding
// the upper half of their Value, double hashing over the key half.
Value table_get(Value table, Value key) {
  uint32_t h = key;
  if (tag_of(key) == TAG_SYMBOL) {
    std::string n = name_of(symbol_index(key));
    uint32_t s = 0;
    for (unsigned char b : n) s = s * 4 + b;
    if (n.size() < 6) s *= 12;
    h = (s & 0x7FFFFF) + (key >> 16);
  }
  Value slots = heap_word(table, 0);
  uint32_t c = heap_length(slots) / 2;
  for (uint32_t i = h % c, k = 0; k < c; k++, i = (i + h % (c - 2) + 1) % c) {
    if (heap_word(slots, i) == HASH_EMPTY) return NO_VALUE;
    if (heap_word(slots, i) == key) return heap_word(slots, c + i);
  }
  return NO_VALUE;
}

class Genesis : public testing::Test {
 protected:
  void SetUp() override {
    window_init();
    build_and_reload();
  }
};

}  // namespace

// ---------------------------------------------------------------------------
// Fixed symbols

TEST(GenesisTable, NamesAreDistinctAndReadable) {
  std::set<std::string> names;
  for (uint32_t i = 0; i < FIXED_SYMBOL_COUNT; i++) {
    const char* n = zv_fixed_symbols[i].name;
    ASSERT_NE(n, nullptr) << i;
    EXPECT_TRUE(names.insert(n).second) << "duplicate " << n;
    for (const char* p = n; *p; p++) EXPECT_FALSE(*p >= 'a' && *p <= 'z') << n;
  }
  // The reader looks character and key names up only up to 9 characters.
  for (uint32_t i = 50; i <= 86; i++) EXPECT_LE(std::strlen(zv_fixed_symbols[i].name), 9u) << i;
}

TEST_F(Genesis, FixedIndicesHoldTheirNames) {
  for (uint32_t i = 0; i < FIXED_SYMBOL_COUNT; i++) {
    EXPECT_EQ(name_of(i), zv_fixed_symbols[i].name) << i;
    EXPECT_EQ(index_named(zv_fixed_symbols[i].name), i) << zv_fixed_symbols[i].name;
    EXPECT_EQ(sym_flags(i) & SYMF_CLASS_MASK, zv_fixed_symbols[i].var_class) << i;
    EXPECT_TRUE(sym_flags(i) & SYMF_INTERNED) << i;
  }
  // Interning a fixed name finds the fixed symbol, never a second one.
  uint32_t count = zvm.sym_count;
  EXPECT_EQ(sym_intern_cstr("QUOTE"), make_symbol(FS_QUOTE));
  EXPECT_EQ(sym_intern_cstr("NIL"), NIL);
  EXPECT_EQ(zvm.sym_count, count);
}

TEST_F(Genesis, IndicesTheKernelNames) {
  // Stated by the kernel's own uses of them; a line slipped in the table
  // moves every name after it.
  // clang-format off
  const std::pair<uint32_t, const char*> rows[] = {
      {5, "TEST"},           {15, "ELEMENT-TYPE"},    {16, "DIRECTION"},   {23, "SIZE"},
      {24, "STREAM"},        {33, "RADIX"},           {0x2A, "&ALLOW-OTHER-KEYS"},
      {0x31, "&WHOLE"},      {0x5B, "OUTPUT"},        {0x6C, "CHARACTER"}, {0x78, "COMPLEX"},
      {0x80, "T"},           {0x88, "APPLY"},         {0x8C, "EQL"},       {0x91, "LAMBDA"},
      {0x97, "MACRO"},       {0xA3, "QUOTE"},         {0xA8, "SETQ"},      {0xC1, "*PRINT-BASE*"},
      {0xCA, "*READ-BASE*"}, {0xD2, "*TERMINAL-IO*"}, {0xE6, "%MESSAGE-PRINT-LEVEL"}};
  // clang-format on
  for (const auto& [i, name] : rows) EXPECT_EQ(name_of(i), name) << i;
}

TEST_F(Genesis, NilTAndPermanence) {
  EXPECT_EQ(sym_flags(0), SYMF_INTERNED);
  EXPECT_EQ(sym_value(0), NO_VALUE);
  EXPECT_EQ(sym_function(0), NIL);
  EXPECT_EQ(sym_plist(0), NIL);
  EXPECT_EQ(make_symbol(FS_T), T);
  EXPECT_EQ(sym_value(FS_T), T);
  EXPECT_EQ(sym_flags(FS_T) & SYMF_CLASS_MASK, VAR_CONSTANT);
  EXPECT_GT(mb_u16(MB_FIRST_COLLECTABLE), 230);
  EXPECT_EQ(zvm.first_collectable, mb_u16(MB_FIRST_COLLECTABLE));
  // A new symbol is a copy of entry 0: interned and unbound.
  Value s = sym_intern_cstr("GENESIS-TEST-FRESH");
  EXPECT_EQ(sym_flags(symbol_index(s)), SYMF_INTERNED);
  EXPECT_EQ(sym_value(symbol_index(s)), NO_VALUE);
}

// ---------------------------------------------------------------------------
// The static prefix

TEST_F(Genesis, ClassesAtTheirOffsets) {
  for (const ClassSpec& spec : zv_static_classes) {
    Value c = fixed_class(spec.offset);
    ASSERT_EQ(heap_type(c), HT_CLASS) << spec.name;
    EXPECT_EQ(heap_length(c), spec.words) << spec.name;
    EXPECT_EQ(name_of(symbol_index(heap_word(c, 1))), spec.name);
    EXPECT_EQ(heap_offset(heap_word(c, 0)), spec.metaclass) << spec.name;
    EXPECT_EQ(heap_word(c, 3), make_fixnum(spec.word3)) << spec.name;
    // The precedence list starts with the class and ends with T.
    Value cpl = heap_word(c, 2);
    ASSERT_TRUE(cons_p(cpl)) << spec.name;
    EXPECT_EQ(car(cpl), c);
    Value last = cpl;
    for (Value l = cpl; cons_p(l); l = cdr(l)) {
      EXPECT_EQ(heap_type(car(l)), HT_CLASS) << spec.name;
      last = l;
    }
    EXPECT_EQ(car(last), fixed_class(FIXED_CLASS_T)) << spec.name;
    EXPECT_LE(spec.offset + 8 + 4 * spec.words, zvm.heap_static + 8) << spec.name;
  }
}

// Built-in classes name a one-argument predicate; TYPEP calls it directly.
TEST_F(Genesis, BuiltInClassesNamePredicates) {
  int built_in = 0;
  for (const ClassSpec& spec : zv_static_classes) {
    if (spec.metaclass != FIXED_CLASS_BUILT_IN) continue;
    built_in++;
    EXPECT_EQ(zv_builtins[spec.word3].kind, 2) << spec.name;
    EXPECT_EQ(zv_builtins[spec.word3].count, 1) << spec.name;
  }
  EXPECT_EQ(built_in, 15);
  // Classes with 24 bytes between them have room for words 0-3 only.
  for (uint32_t off = FIXED_CLASS_CHARACTER; off < FIXED_CLASS_DIRECTORY_ENTRY; off += 24)
    EXPECT_EQ(heap_length(fixed_class(off)), 4u) << off;
}

TEST_F(Genesis, DirectoryEntryStructure) {
  Value c = fixed_class(FIXED_CLASS_DIRECTORY_ENTRY);
  EXPECT_EQ(heap_offset(heap_word(c, 0)), FIXED_CLASS_STRUCTURE);
  const char* names[] = {"NAME",       "ATTRIBUTES",  "SIZE",
                         "WRITE-TIME", "ACCESS-TIME", "CREATION-TIME"};
  Value slots = heap_word(c, 7);
  ASSERT_EQ(list_length(slots), 6u);
  for (int i = 0; i < 6; i++, slots = cdr(slots)) {
    Value def = car(slots);
    ASSERT_TRUE(is_simple_vector(def));
    EXPECT_EQ(name_of(symbol_index(heap_word(def, 0))), names[i]);
    EXPECT_EQ(heap_word(def, 1), make_fixnum(i + 1));
    EXPECT_EQ(heap_word(def, 2), NIL);
  }
}

TEST_F(Genesis, MessageArea) {
  uint32_t pos = zvm.msg_area;
  for (uint32_t i = 0; i < MESSAGE_COUNT; i++) {
    Value s = (uint32_t(TAG_VECTOR) << 24) | (pos + 8);
    ASSERT_TRUE(is_string_raw(s)) << i;
    EXPECT_EQ(string_of(s), zv_message_texts[i]) << i;
    pos += object_size_at(heap_addr(s));
  }
  EXPECT_LE(pos, zvm.heap_static);
  EXPECT_NE(std::string(zv_message_texts[MSG_NOT_IMPLEMENTED]).find("not implemented"),
            std::string::npos);
  // The kernel's not-implemented error must select that message.
  EXPECT_EQ(ERR_NOT_IMPLEMENTED & 0xFF, MSG_NOT_IMPLEMENTED);
  EXPECT_EQ(err_object_count(ERR_NOT_IMPLEMENTED), 1u);
}

// The messages are FORMAT control strings: every directive must exist,
// take the parameters and modifiers it allows, and nest properly, or the
// error that prints it fails in turn.
TEST(GenesisMessages, ControlStringsAreWellFormed) {
  const char* directives = "ASBDOXCFE?%|~&\nT*^[({;])}";
  const uint32_t masks[] = {0xC095, 0xC095, 0xC069, 0xC069, 0xC069, 0xC069, 0xC000, 0xC295, 0xEA55,
                            0x8000, 0x0001, 0x0001, 0x0001, 0x0001, 0xC000, 0xC005, 0xC001, 0x4015,
                            0xC001, 0xC003, 0xC001, 0x4005, 0,      0,      0x4000};
  for (uint32_t m = 0; m < MESSAGE_COUNT; m++) {
    const std::string s = zv_message_texts[m];
    std::string open;  // brackets still open
    for (size_t i = s.find('~'); i != std::string::npos; i = s.find('~', i + 1)) {
      // Parameters: 'c, V, # or a signed number, separated by commas.
      uint32_t flags = 0;
      size_t j = i + 1;
      for (int param = 0;; param++, j++) {
        if (s[j] == '\'') {
          flags |= 2u << (2 * param);
          j += 2;
        } else if (s[j] == 'V' || s[j] == 'v' || s[j] == '#') {
          flags |= 1u << (2 * param);
          j++;
        } else if (s[j] == '+' || s[j] == '-' || std::isdigit(uchar(s[j]))) {
          if (!std::isdigit(uchar(s[j]))) j++;
          EXPECT_TRUE(std::isdigit(uchar(s[j]))) << "message " << m << ": sign without digits";
          while (std::isdigit(uchar(s[j]))) j++;
          flags |= 1u << (2 * param);
        }
        if (s[j] != ',') break;
      }
      if (s[j] == ':') flags |= 0x4000, j++;
      if (s[j] == '@') flags |= 0x8000, j++;
      ASSERT_LT(j, s.size()) << "message " << m << " ends inside a directive";
      char d = char(std::toupper(uchar(s[j])));
      const char* at = std::strchr(directives, d);
      ASSERT_NE(at, nullptr) << "message " << m << ": unknown directive " << d;
      EXPECT_EQ(flags & ~masks[at - directives], 0u) << "message " << m << ": ~" << d;
      if (d == '[' || d == '(' || d == '{') open += d;
      if (d == ';') {
        EXPECT_TRUE(!open.empty() && open.back() == '[') << "message " << m;
      }
      if (d == ']' || d == ')' || d == '}') {
        char want = d == ']' ? '[' : d == ')' ? '(' : '{';
        ASSERT_TRUE(!open.empty() && open.back() == want) << "message " << m;
        open.pop_back();
      }
      i = j;
    }
    EXPECT_TRUE(open.empty()) << "message " << m << " leaves " << open << " open";
  }
  // Prompts are printed as they stand.
  EXPECT_EQ(std::strchr(zv_message_texts[12], '~'), nullptr);
  EXPECT_EQ(std::strchr(zv_message_texts[13], '~'), nullptr);
}

// ---------------------------------------------------------------------------
// Root words

TEST_F(Genesis, MacroCharacterTable) {
  const Value* m = zvm.roots;
  EXPECT_EQ(m[' '], make_fixnum(2));
  EXPECT_EQ(m['\n'], make_fixnum(2));
  EXPECT_EQ(m[8], make_fixnum(7));
  EXPECT_EQ(m['a'], make_fixnum(7));
  EXPECT_EQ(m[128], make_fixnum(7));
  EXPECT_EQ(m['\\'], make_fixnum(4));
  EXPECT_EQ(m['|'], make_fixnum(5));
  EXPECT_EQ(m[0], NIL);
  EXPECT_EQ(m[27], NIL);
  const std::pair<char, uint32_t> macros[] = {{'`', 0},  {',', 1}, {';', 2}, {'(', 3}, {'{', 3},
                                              {'\'', 4}, {')', 5}, {'}', 5}, {'"', 6}};
  for (const auto& [c, n] : macros) EXPECT_EQ(m[uint8_t(c)], make_builtin(2, n)) << c;

  // # dispatches through a hash table and does not end a token.
  Value sharp = m['#'];
  ASSERT_TRUE(sharp & MARK_BIT);
  sharp &= ~MARK_BIT;
  ASSERT_EQ(heap_type(sharp), HT_HASH);
  const std::pair<char, uint32_t> subs[] = {{':', 7},   {'(', 8},   {'+', 9},  {'-', 9},
                                            {'.', 10},  {'\'', 11}, {'X', 12}, {'R', 12},
                                            {'\\', 13}, {'|', 14},  {'C', 15}};
  for (const auto& [c, n] : subs)
    EXPECT_EQ(table_get(sharp, make_char(uint8_t(c))), make_builtin(2, n)) << c;
  EXPECT_EQ(table_get(sharp, make_char('Q')), NO_VALUE);
}

TEST_F(Genesis, HashTableLayout) {
  for (uint32_t r : {uint32_t('#'), ROOT_PLACE_EXPANDERS, ROOT_TYPE_TABLE}) {
    Value t = zvm.roots[r] & ~MARK_BIT;
    ASSERT_EQ(tag_of(t), TAG_OBJECT);
    ASSERT_EQ(heap_type(t), HT_HASH);
    EXPECT_EQ(heap_hdr1(t), (1u << 25) | 2);
    uint32_t word1 = heap_word(t, 1);
    EXPECT_EQ(word1 & 0xFFFF, 75u);  // EQL
    Value slots = heap_word(t, 0);
    ASSERT_TRUE(is_simple_vector(slots));
    uint32_t c = heap_length(slots) / 2, live = 0;
    for (uint32_t d = 3; d * d <= c; d += 2) EXPECT_NE(c % d, 0u) << c;
    for (uint32_t i = 0; i < c; i++) {
      if (tag_of(heap_word(slots, i)) != TAG_MARKER)
        live++;
      else
        EXPECT_EQ(heap_word(slots, c + i), NIL);
    }
    EXPECT_EQ(word1 >> 16, live);
  }
}

TEST_F(Genesis, TypeTableFindsEveryClass) {
  Value table = zvm.roots[ROOT_TYPE_TABLE];
  for (const ClassSpec& spec : zv_static_classes)
    EXPECT_EQ(table_get(table, make_symbol(index_named(spec.name))), fixed_class(spec.offset))
        << spec.name;
  EXPECT_EQ(table_get(zvm.roots[ROOT_PLACE_EXPANDERS], make_symbol(FS_QUOTE)), NO_VALUE);
}

// ---------------------------------------------------------------------------
// Values and functions

TEST_F(Genesis, WindowStreams) {
  for (uint32_t s : {FS_STATUS_STREAM, FS_INDICATOR_STREAM, FS_TERMINAL_IO}) {
    Value v = sym_value(s);
    ASSERT_EQ(tag_of(v), TAG_OBJECT) << s;
    EXPECT_EQ(heap_type(v), 0xD2);
    EXPECT_EQ(heap_hdr1(v), 0x04000003u);
    EXPECT_EQ(heap_word(v, 0), NIL);
    EXPECT_EQ(heap_word(v, 2), 0u);
  }
  EXPECT_NE(sym_value(FS_STATUS_STREAM), sym_value(FS_TERMINAL_IO));
  for (uint32_t s : {FS_STANDARD_INPUT, FS_STANDARD_OUTPUT, FS_ERROR_OUTPUT, FS_DEBUG_IO})
    EXPECT_EQ(sym_value(s), sym_value(FS_TERMINAL_IO)) << s;
}

TEST_F(Genesis, VariablesTheKernelReads) {
  EXPECT_EQ(sym_value(FS_PRINT_BASE), make_fixnum(10));
  EXPECT_EQ(sym_value(FS_READ_BASE), make_fixnum(10));
  EXPECT_TRUE(is_fixnum(sym_value(FS_PRINT_RIGHT_MARGIN)));
  EXPECT_EQ(sym_value(FS_PRINT_CASE), make_keyword(FS_UPCASE));
  EXPECT_EQ(sym_value(FS_PRINT_LEVEL), NIL);
  EXPECT_EQ(string_of(sym_value(FS_PROMPT)), "> ");
  EXPECT_EQ(string_of(sym_value(FS_IMAGE_NAME)), "ZORVA.ROL");
  for (uint32_t s : {FS_BREAK_COMMANDS, FS_TOP_LEVEL_COMMANDS, FS_DEBUG_COMMANDS, FS_STEP_COMMANDS})
    EXPECT_EQ(sym_value(s), NIL) << s;
  Value features = sym_value(FS_FEATURES);
  EXPECT_EQ(list_length(features), 3u);
  EXPECT_EQ(car(features), make_symbol(index_named("ZORVA")));
}

TEST_F(Genesis, EveryBuiltInIsBound) {
  for (uint32_t n = 0; n < BI_CAPACITY; n++) {
    if (!zv_builtin_names[n]) continue;  // a spare record
    uint32_t i = index_named(zv_builtin_names[n]);
    ASSERT_NE(i, 0xFFFFFFFFu) << zv_builtin_names[n];
    EXPECT_EQ(sym_function(i), bi_value(n)) << zv_builtin_names[n];
  }
  // Functions the kernel calls through fixed symbols.
  EXPECT_EQ(sym_function(FS_KEYBOARD_INTERRUPT), bi_value(BI_KEYBOARD_INTERRUPT));
  EXPECT_EQ(sym_function(FS_EQL), bi_value(BI_EQL));
  EXPECT_EQ(sym_function(FS_STEP_HOOK), bi_value(BI_STEP_HOOK));
  EXPECT_EQ(sym_function(FS_OPEN), bi_value(BI_OPEN));
  EXPECT_EQ(sym_function(FS_STARTUP), NIL);
}

// ---------------------------------------------------------------------------
// Building under the collector's stress mode, and refusals

// Collections while the values, tables and built-ins go in must not lose
// or misplace anything the genesis holds.
TEST(GenesisStress, SameWorldUnderCollections) {
  window_init();
  build_and_reload(0);
  uint32_t symbols = zvm.sym_count;
  std::string prompt = string_of(sym_value(FS_PROMPT));
  GcCounters before = zv_gc;
  build_and_reload(3);
  EXPECT_GT(zv_gc.symbol, before.symbol + 10);
  EXPECT_GT(zv_gc.heap, before.heap + 10);
  EXPECT_EQ(zvm.sym_count, symbols);
  EXPECT_EQ(string_of(sym_value(FS_PROMPT)), prompt);
  for (uint32_t n = 0; n < BI_CAPACITY; n++)
    if (zv_builtin_names[n])
      EXPECT_EQ(sym_function(index_named(zv_builtin_names[n])), bi_value(n)) << n;
  for (const ClassSpec& spec : zv_static_classes)
    EXPECT_EQ(table_get(zvm.roots[ROOT_TYPE_TABLE], make_symbol(index_named(spec.name))),
              fixed_class(spec.offset));
}

namespace {

void write_file(const std::string& path, const char* text) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs(text, f);
  std::fclose(f);
}

}  // namespace

// Library files load in name order, each form seeing the ones before it;
// the first error stops the build and names the file and the form.
TEST(GenesisLibrary, LoadsInOrderAndStopsAtTheFirstError) {
  std::string dir = temp_name("genesis_lisp");
  mkdir(dir.c_str(), 0755);
  ASSERT_TRUE(gen_build_world("ZORVA.ROL")) << gen_error();
  EXPECT_TRUE(gen_load_library(dir.c_str())) << gen_error();

  write_file(dir + "/20-use.lsp", "(defun twice-plus (x) (plus-one (plus-one (* 2 x))))\n");
  write_file(dir + "/10-base.lsp", "(defun plus-one (x) (+ x 1))\n; done\n");
  ASSERT_TRUE(gen_load_library(dir.c_str())) << gen_error();
  uint32_t f = symbol_index(sym_intern_cstr("TWICE-PLUS"));
  EXPECT_NE(sym_function(f), NIL);

  write_file(dir + "/30-bad.lsp", "(defun fine () 1)\n(car 5)\n(defun never () 2)\n");
  EXPECT_FALSE(gen_load_library(dir.c_str()));
  std::string why = gen_error();
  EXPECT_NE(why.find("30-bad.lsp"), std::string::npos) << why;
  EXPECT_NE(why.find("(CAR 5)"), std::string::npos) << why;
  EXPECT_EQ(sym_function(symbol_index(sym_intern_cstr("NEVER"))), NIL);

  write_file(dir + "/30-bad.lsp", "(defun unfinished (x)\n");
  EXPECT_FALSE(gen_load_library(dir.c_str()));
  EXPECT_NE(std::string(gen_error()).find("while reading"), std::string::npos) << gen_error();

  for (const char* name : {"/10-base.lsp", "/20-use.lsp", "/30-bad.lsp"})
    std::remove((dir + name).c_str());
  EXPECT_FALSE(gen_load_library((dir + "/missing").c_str()));
  rmdir(dir.c_str());
}
