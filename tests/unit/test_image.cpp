// The image file: round trips, relocation, refusals and damaged files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "builtins/table.h"
#include "eval/stack.h"
#include "image/image_file.h"
#include "world_fixture.h"

namespace {

// A structural description of a Value that does not depend on where its
// conses and heap objects lie, so worlds can be compared across a reload.
// The budget bounds the walk on the circular structures of damaged files.
std::string describe(Value v, int* budget) {
  if (--*budget < 0) return "...";
  uint32_t t = tag_of(v);
  if (v == NIL) return "NIL";
  if (t == TAG_CONS) return "(" + describe(car(v), budget) + " . " + describe(cdr(v), budget) + ")";
  if (t == TAG_SYMBOL || t == TAG_KEYWORD) {
    Value name = sym_name(symbol_index(v));
    std::string s(reinterpret_cast<const char*>(string_bytes(name)), string_length(name));
    return (t == TAG_KEYWORD ? ":" : "") + s;
  }
  if (!(t & TAG_HEAP_BIT)) return std::to_string(v);
  // Heap objects: header, then Values described, raw words and bytes as they are.
  std::string s = std::to_string(t) + "#" + std::to_string(load_u32(heap_addr(v))) + "/" +
                  std::to_string(heap_hdr1(v)) + "(";
  uint32_t values = object_value_words_at(heap_addr(v));
  if (!(heap_type(v) & HT_HOLDS_VALUES))
    return s + std::string(reinterpret_cast<char*>(heap_data(v)), heap_length(v)) + ")";
  for (uint32_t i = 0; i < heap_length(v); i++)
    s +=
        (i < values ? describe(heap_word(v, i), budget) : "raw" + std::to_string(heap_word(v, i))) +
        " ";
  return s + ")";
}

std::string describe_world() {
  std::string s;
  int budget = 100000;
  auto describe = [&](Value v) { return ::describe(v, &budget); };
  for (uint32_t i = 0; i < zvm.sym_count; i++)
    s += describe(make_symbol(i)) + "=" + describe(sym_value(i)) +
         " f=" + describe(sym_function(i)) + " p=" + describe(sym_plist(i)) + "\n";
  for (uint32_t i = 0; i < ROOT_COUNT; i++)
    s += std::to_string(zvm.roots[i] >> 31) + describe(zvm.roots[i] & ~MARK_BIT) + ";";
  return s;
}

uint32_t symbol_named(const char* name) {
  SymSearch s = sym_search(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
  return s.found ? s.index : 0xFFFFFFFF;
}

Value global(const char* name) { return sym_value(symbol_named(name)); }

// Symbol indices move in a symbol-table collection like Values, so a new
// symbol gets its value while the value is rooted, and is found again by
// name afterwards.
void defglobal(const char* name, Value value) {
  root_push(&value);
  sym_set_value(symbol_index(sym_intern_cstr(name)), value);
  root_pop();
}

// Stores x, allocated last, into element i of the vector held by a global.
void set_element(const char* name, uint32_t i, Value x) { heap_set_word(global(name), i, x); }

Value filled_vector(uint32_t n, Value x) {
  Value v = mem_alloc_vector(n);
  for (uint32_t i = 0; i < n; i++) heap_set_word(v, i, x);
  return v;
}

// A small world with something of every kind: a static prefix holding the
// 40 message texts, lists, vectors, arrays, numbers, streams, keywords,
// built-ins, property lists, a hash table and root words with and without
// bit 31.  Every step is safe against a collection at any allocation.
void build_world() {
  test_world_init();
  std::memset(zvm.history, 0, sizeof zvm.history);
  // Nothing refers to the messages until they are made static.
  uint32_t stress = zv_gc_stress;
  zv_gc_stress = 0;
  zvm.msg_area = zvm.heap_fill - 8;
  for (int i = 0; i < 40; i++) {
    std::string text = "message " + std::to_string(i);
    mem_make_string(text.data(), uint32_t(text.size()));
  }
  zvm.heap_static = zvm.heap_fill - 8;
  zv_gc_stress = stress;
  std::memcpy(zvm.memblock + MB_GENSYM_PREFIX, "GX", 3);
  store_u32(zvm.memblock + MB_GENSYM_COUNTER, 41);
  store_u16(zvm.history, 3);
  std::memcpy(zvm.history + 2 + 256 * 3, "(car x)", 8);

  defglobal("FOO", cons(make_fixnum(1), cons(make_fixnum(-2), cons(make_fixnum(3), NIL))));
  defglobal("BAR", NIL);
  Value plist = cons(global("FOO"), NIL);
  root_push(&plist);
  Value kw = sym_intern_cstr("TEST", TAG_KEYWORD);
  plist = cons(kw, plist);
  root_pop();
  uint32_t bar = symbol_named("BAR");
  sym_set_plist(bar, plist);
  sym_set_function(bar, bi_value(BI_CAR));

  defglobal("VEC", filled_vector(8, NIL));
  set_element("VEC", 0, mem_make_string("hello", 5));
  set_element("VEC", 1, mem_make_double(2.5));
  set_element("VEC", 2, mem_make_int64_raw(int64_t(1) << 40));
  set_element("VEC", 3, make_char('a'));
  set_element("VEC", 4, global("FOO"));
  set_element("VEC", 5, cons(make_symbol(symbol_named("FOO")), make_symbol(symbol_named("BAR"))));
  set_element("VEC", 6, mem_make_complex_double(1.0, -1.0));
  set_element("VEC", 7, NO_VALUE);

  // A 2 x 3 array whose trailing raw word happens to equal a cons address.
  Value a = mem_alloc_array(6, 2);
  for (uint32_t i = 0; i < 6; i++) heap_set_word(a, i, make_fixnum(int32_t(i)));
  heap_set_word(a, 6, 2);
  defglobal("ARR", a);
  set_element("ARR", 0, cons(make_fixnum(7), NIL));
  set_element("ARR", 6, global("FOO"));

  // Streams: word 2 is a handle index of the saving process.
  const char* names[] = {"FILE-STREAM", "WINDOW-STREAM", "STRING-STREAM"};
  const uint8_t types[] = {HT_FILE | HT_STREAM_INPUT, HT_WINDOW | HT_STREAM_OUTPUT,
                           HT_STRING_STREAM | HT_STREAM_OUTPUT};
  for (int i = 0; i < 3; i++) {
    Value s = mem_alloc_object(3, types[i], 2);
    heap_set_word(s, 0, NIL);
    heap_set_word(s, 1, 7 + i);
    heap_set_word(s, 2, 42 + i);
    defglobal(names[i], s);
  }
  // A simple vector of three, type 18 like a window stream: not a stream.
  defglobal("V3", filled_vector(3, make_fixnum(12)));

  // The type table: a hash table whose raw word names its test built-in.
  zvm.roots[ROOT_TYPE_TABLE] = filled_vector(4, HASH_EMPTY);
  Value table = mem_alloc_object(2, HT_HASH, 1);
  heap_set_word(table, 0, zvm.roots[ROOT_TYPE_TABLE]);
  heap_set_word(table, 1, 75);
  zvm.roots[ROOT_TYPE_TABLE] = table;
  heap_set_word(heap_word(table, 0), 0, global("VEC"));
  zvm.roots[40] = cons(bi_value(BI_READ_BACKQUOTE), NIL) | MARK_BIT;
  zvm.roots[41] = bi_value(BI_READ_COMMA);
  zvm.roots[ROOT_PLACE_EXPANDERS] = make_symbol(symbol_named("FOO")) | MARK_BIT;
}

// Many files are written: memory-backed storage keeps that quick.
std::string temp_path(const char* name) {
  std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : testing::TempDir();
  return dir + "zorva_" + std::to_string(getpid()) + "_" + name + ".ROL";
}

std::vector<uint8_t> slurp(const std::string& path) {
  std::vector<uint8_t> b;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return b;
  int c;
  while ((c = std::fgetc(f)) != EOF) b.push_back(uint8_t(c));
  std::fclose(f);
  return b;
}

void spit(const std::string& path, const std::vector<uint8_t>& b) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  if (!b.empty()) std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
}

// Section positions of a file written by img_write.
struct Layout {
  size_t records, roots, symbols, heap, cons, hash, end;
  explicit Layout(const std::vector<uint8_t>& b) {
    const uint8_t* mb = b.data() + IMG_HEADER;
    records = IMG_FIXED;
    roots = records + 6 * load_u32(mb + MB_BUILTIN_COUNT);
    symbols = roots + 4 * ROOT_COUNT;
    heap = symbols + IMG_SYM_RECORD * load_u16(mb + MB_SYM_COUNT);
    cons = heap + load_u32(mb + MB_HEAP_USED);
    hash = cons + 8 * load_u32(mb + MB_CONS_USED);
    end = hash + 2 * load_u16(b.data() + HDR_HASH_SIZE);
  }
};

// Loads with the world freed first, as a restart does; messages are kept
// out of the test log and returned.
int load(const std::string& path, std::string* out = nullptr, int mode = 1) {
  mem_free_areas(true, true);
  testing::internal::CaptureStdout();
  int r = img_load(path.c_str(), mode);
  std::string printed = testing::internal::GetCapturedStdout();
  if (out) *out = printed;
  return r;
}

class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    build_world();
    path = temp_path(testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_EQ(img_write_file(path.c_str()), 0);
    // The world as a load must rebuild it: native stream handles dropped.
    for (const char* s : {"FILE-STREAM", "WINDOW-STREAM"}) heap_set_word(global(s), 2, 0);
    saved_world = describe_world();
    bytes = slurp(path);
    saved_base = load_u32(bytes.data() + IMG_HEADER + MB_CONS_BASE);
    saved_cells = load_u32(bytes.data() + IMG_HEADER + MB_CONS_USED);
  }
  void TearDown() override { std::remove(path.c_str()); }

  // Rewrites the file with one change and loads it.
  int load_patched(const std::vector<uint8_t>& b, std::string* out = nullptr) {
    spit(path, b);
    return load(path, out);
  }

  std::string path, saved_world;
  uint32_t saved_base = 0, saved_cells = 0;
  std::vector<uint8_t> bytes;
};

}  // namespace

TEST_F(ImageTest, RoundTripKeepsTheWorld) {
  Layout l(bytes);
  EXPECT_EQ(bytes.size(), l.end);
  EXPECT_EQ(load_u32(bytes.data() + IMG_HEADER + MB_BUILTIN_COUNT), zv_bi_live);
  // Function words are written as 0; kind and count are the kernel's.
  EXPECT_EQ(load_u32(bytes.data() + l.records + 6 * 93), 0u);
  EXPECT_EQ(bytes[l.records + 6 * 93 + 4], zv_builtins[BI_CAR].kind);

  ASSERT_EQ(load(path), IMG_OK);
  EXPECT_EQ(describe_world(), saved_world);
  EXPECT_EQ(zvm.cons_first, saved_base);
  EXPECT_EQ(zvm.free_ptr, saved_base + 8 * saved_cells);
  EXPECT_EQ(zvm.free_count, zvm.cons_cap - saved_cells);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(zvm.memblock + MB_GENSYM_PREFIX)), "GX");
  EXPECT_EQ(mb_u32(MB_GENSYM_COUNTER), 41u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(zvm.history + 2 + 256 * 3)), "(car x)");
  EXPECT_EQ(zvm.heap_static, mb_u32(MB_STATIC_HEAP));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(string_bytes(zvm.msg_area + 8)), 9), "message 0");
  // The hash array is rebuilt: every name is found again.
  for (const char* n : {"NIL", "FOO", "BAR", "VEC", "TEST", "V3"})
    EXPECT_NE(symbol_named(n), 0xFFFFFFFFu) << n;
  EXPECT_TRUE(img_check_world(zvm.cons_first, zvm.free_ptr));

  // Saving the loaded world again gives the same bytes, but for the
  // stream handles dropped at the load.
  std::string again = path + ".2";
  ASSERT_EQ(img_write_file(again.c_str()), 0);
  std::vector<uint8_t> b = slurp(again);
  std::remove(again.c_str());
  ASSERT_EQ(b.size(), bytes.size());
  for (const char* s : {"FILE-STREAM", "WINDOW-STREAM"}) {
    size_t at = l.heap + heap_offset(global(s)) - 8 + 16;
    EXPECT_EQ(load_u32(b.data() + at), 0u);
    store_u32(b.data() + at, load_u32(bytes.data() + at));
  }
  EXPECT_TRUE(b == bytes);
}

TEST_F(ImageTest, LoadingDropsNativeStreamHandles) {
  ASSERT_EQ(load(path), IMG_OK);
  Value fs = global("FILE-STREAM");
  Value ws = global("WINDOW-STREAM");
  Value ss = global("STRING-STREAM");
  Value v3 = global("V3");
  EXPECT_EQ(heap_word(fs, 2), 0u);
  EXPECT_EQ(heap_word(fs, 1), 7u);
  EXPECT_EQ(heap_word(ws, 2), 0u);
  EXPECT_EQ(heap_word(ss, 2), 44u);  // string streams own no native handle
  EXPECT_EQ(heap_word(v3, 2), make_fixnum(12));
}

TEST_F(ImageTest, RelocationToAnotherConsBase) {
  mem_free_areas(true, true);
  uint32_t blocker = window_take(64 * 1024);
  ASSERT_EQ(blocker, saved_base);  // the saved area's place is now taken
  ASSERT_EQ(load(path), IMG_OK);
  window_release(blocker, 64 * 1024);
  ASSERT_NE(zvm.cons_first, saved_base);

  EXPECT_EQ(describe_world(), saved_world);
  // Every cons Value, root words included, lies in the new area.
  EXPECT_TRUE(img_check_world(zvm.cons_first, zvm.free_ptr));
  Value r = zvm.roots[40];
  EXPECT_TRUE(r & MARK_BIT);
  EXPECT_TRUE(in_cons_area(r & ~MARK_BIT));
  EXPECT_EQ(car(r & ~MARK_BIT), bi_value(BI_READ_BACKQUOTE));
  // Heap and symbol Values are not cons addresses and stay as they were.
  uint32_t foo = symbol_named("FOO");
  EXPECT_EQ(zvm.roots[ROOT_PLACE_EXPANDERS], make_symbol(foo) | MARK_BIT);
  Value vec = global("VEC");
  EXPECT_EQ(heap_word(heap_word(zvm.roots[ROOT_TYPE_TABLE], 0), 0), vec);
  EXPECT_EQ(load_u32(bytes.data() + Layout(bytes).symbols + IMG_SYM_RECORD * symbol_named("VEC") +
                     IMG_SYM_VALUE),
            vec);
  // A trailing raw word is a number, never relocated.
  Value arr = global("ARR");
  EXPECT_EQ(heap_word(arr, 6), sym_value(foo) - (zvm.cons_first - saved_base));
  EXPECT_TRUE(in_cons_area(heap_word(arr, 0)));
}

TEST_F(ImageTest, RelocatingTheStacks) {
  ASSERT_EQ(load(path), IMG_OK);
  // Pretend the world was saved k cells lower than where it is now: old
  // addresses on the stacks move, context records and non-conses do not.
  uint32_t k = saved_cells + 1;
  uint32_t old = zvm.cons_first + 8;
  uint32_t moved = old - 8 * k;
  ThreadState* ts = zvts;
  ts->glvalue = moved;
  ts->stack[--ts->septr] = StackEntry{moved, ST_ANON, 0};
  ts->stack[--ts->septr] = StackEntry{moved, ST_CONTEXT | 0x10, 0};
  ts->stack[--ts->septr] = StackEntry{0x1234, ST_ANON, 0};
  Value held = moved;
  root_push(&held);
  std::string before = describe_world();
  img_relocate(int32_t(k), true);
  root_pop();
  EXPECT_EQ(ts->glvalue, old);
  EXPECT_EQ(ts->stack[ts->septr + 2].arg, old);
  EXPECT_EQ(ts->stack[ts->septr + 1].arg, moved);
  EXPECT_EQ(ts->stack[ts->septr].arg, 0x1234u);
  EXPECT_EQ(held, old);
  EXPECT_EQ(describe_world(), before);  // the world's own conses lie outside the old range
  thread_reset_stacks(ts);
}

TEST_F(ImageTest, ImageThatOutgrewItsInitialConsAreaLoads) {
  std::vector<uint8_t> b = bytes;
  store_u32(b.data() + HDR_INIT_CONS, saved_cells / 2);
  ASSERT_EQ(load_patched(b), IMG_OK);
  EXPECT_GE(zvm.cons_cap, saved_cells + saved_cells / 4);
  EXPECT_EQ(hdr_u32(HDR_CONS_CAP), zvm.cons_cap);
  EXPECT_EQ(describe_world(), saved_world);
}

TEST_F(ImageTest, CapacityLimits) {
  const uint8_t* mb = bytes.data() + IMG_HEADER;
  uint16_t y = load_u16(mb + MB_SYM_COUNT);
  uint32_t h = load_u32(mb + MB_HEAP_USED);
  std::vector<uint8_t> b = bytes;
  // Symbol count equal to the capacity loads; one more does not fit.
  store_u16(b.data() + HDR_SYM_CAP, y);
  store_u16(b.data() + HDR_HASH_SIZE, uint16_t(sym_hash_size_for(y)));
  EXPECT_EQ(load_patched(b), IMG_OK);
  store_u16(b.data() + HDR_SYM_CAP, y - 1);
  store_u16(b.data() + HDR_HASH_SIZE, uint16_t(sym_hash_size_for(y - 1)));
  std::string out;
  EXPECT_EQ(load_patched(b, &out), IMG_CAPACITY);
  EXPECT_EQ(out, "");

  // The heap holds capacity - 8 bytes: the fill pointer starts 8 in.
  b = bytes;
  store_u32(b.data() + HDR_HEAP_CAP, h + 8);
  EXPECT_EQ(load_patched(b), IMG_OK);
  EXPECT_EQ(zvm.heap_fill, zvm.heap_limit);
  store_u32(b.data() + HDR_HEAP_CAP, h + 7);
  EXPECT_EQ(load_patched(b), IMG_CAPACITY);
}

TEST_F(ImageTest, BuiltinTableMismatchRefusesTheImage) {
  Layout l(bytes);
  std::vector<uint8_t> b = bytes;
  b[l.records + 6 * 200 + 5] ^= 1;  // count of built-in 200
  std::string out;
  EXPECT_EQ(load_patched(b, &out), IMG_BUILTINS);
  EXPECT_EQ(out, "");

  // A kernel whose record changed refuses an untouched image.
  zv_builtins[BI_CAR].count++;
  EXPECT_EQ(load_patched(bytes), IMG_BUILTINS);
  zv_builtins[BI_CAR].count--;
  EXPECT_EQ(load_patched(bytes), IMG_OK);

  // More records than this kernel has.
  b = bytes;
  store_u32(b.data() + IMG_HEADER + MB_BUILTIN_COUNT, zv_bi_live + 1u);
  b.insert(b.begin() + l.roots, {0, 0, 0, 0, 2, 0});
  EXPECT_EQ(load_patched(b), IMG_BUILTINS);
}

// A cut file is a damaged image: refused quietly (start-up prints the
// bad-start lines); a file the system cannot read names the reason.
TEST_F(ImageTest, ShortFilesAreInputFailures) {
  for (size_t n : {size_t(0), size_t(41), size_t(IMG_FIXED - 1), size_t(IMG_FIXED),
                   size_t(IMG_FIXED + 100), Layout(bytes).heap + 10, bytes.size() - 1}) {
    std::vector<uint8_t> b(bytes.begin(), bytes.begin() + n);
    std::string out;
    EXPECT_EQ(load_patched(b, &out), IMG_IO) << n;
    EXPECT_EQ(out, "") << n;
    EXPECT_STREQ(img_error_text(), "unexpected end of image file") << n;
  }
  std::string out;
  EXPECT_EQ(load(path + ".missing", &out), IMG_IO);
  EXPECT_NE(out.find("Fatal I/O error"), std::string::npos);
}

TEST_F(ImageTest, InconsistentImagesAreRefused) {
  Layout l(bytes);
  uint8_t* h = bytes.data();
  uint8_t* mb = h + IMG_HEADER;
  uint32_t foo = symbol_named("FOO"), vec = symbol_named("VEC");
  uint32_t heap_used = load_u32(mb + MB_HEAP_USED);
  uint32_t vec_data = heap_offset(load_u32(h + l.symbols + IMG_SYM_RECORD * vec + IMG_SYM_VALUE));
  struct Patch {
    const char* what;
    size_t at;
    uint32_t value;
    int width;
  } patches[] = {
      {"stack size 0", HDR_STACK_N, 0, 4},
      {"stack size too small to start", HDR_STACK_N, IMG_MIN_STACK - 1, 4},
      {"stack size 32768", HDR_STACK_N, 32768, 4},
      {"symbol capacity 32768", HDR_SYM_CAP, 32768, 2},
      {"hash size", HDR_HASH_SIZE, load_u16(h + HDR_HASH_SIZE) + 2u, 2},
      {"heap capacity", HDR_HEAP_CAP, 0x1000000, 4},
      {"history index", IMG_HEADER + IMG_MEMBLOCK, 20, 2},
      {"first collectable", IMG_HEADER + MB_FIRST_COLLECTABLE, 0x7FFF, 2},
      {"static heap size", IMG_HEADER + MB_STATIC_HEAP, heap_used + 2, 4},
      {"static prefix mid-object", IMG_HEADER + MB_STATIC_HEAP, 2, 4},
      {"message area", IMG_HEADER + MB_MSG_AREA, heap_used, 4},
      {"unaligned cons base", IMG_HEADER + MB_CONS_BASE, saved_base + 4, 4},
      {"cons outside the saved range", l.symbols + IMG_SYM_RECORD * foo + IMG_SYM_VALUE,
       saved_base + 8 * saved_cells, 4},
      {"word below 0x10000", l.symbols + IMG_SYM_RECORD * foo + IMG_SYM_VALUE, 0x1234, 4},
      {"symbol past the count", l.symbols + IMG_SYM_RECORD * foo + IMG_SYM_FUNCTION,
       0x01000000u + 900, 4},
      {"built-in past the table", l.symbols + IMG_SYM_RECORD * foo + IMG_SYM_FUNCTION,
       0x07000000u + zv_bi_live, 4},
      {"name not a string", l.symbols + IMG_SYM_RECORD * foo + IMG_SYM_NAME,
       load_u32(h + l.symbols + IMG_SYM_RECORD * vec + IMG_SYM_VALUE), 4},
      {"heap Value mid-object", l.symbols + IMG_SYM_RECORD * foo + IMG_SYM_VALUE,
       0x50000000u + vec_data + 4, 4},
      {"heap Value past the fill", l.symbols + IMG_SYM_RECORD * foo + IMG_SYM_VALUE,
       0x50000000u + heap_used + 64, 4},
      {"double tag on a vector", l.symbols + IMG_SYM_RECORD * foo + IMG_SYM_VALUE,
       0x4D000000u + vec_data, 4},
      {"collector mark in a cdr", l.cons + 4, load_u32(h + l.cons + 4) | MARK_BIT, 4},
      {"object length past the heap", l.heap + vec_data - 8 + 4, 0x01FFFFFF, 4},
      {"collector mark in a header", l.heap + vec_data - 8, 0x80000012, 4},
      {"bad root word", l.roots + 4 * 50, 0x30000000, 4},
      {"hash test past the table", l.heap + heap_offset(zvm.roots[ROOT_TYPE_TABLE]) - 8 + 12,
       zv_bi_live, 4},
  };
  for (const Patch& p : patches) {
    std::vector<uint8_t> b = bytes;
    if (p.width == 2)
      store_u16(b.data() + p.at, uint16_t(p.value));
    else
      store_u32(b.data() + p.at, p.value);
    std::string out;
    EXPECT_EQ(load_patched(b, &out), IMG_IO) << p.what;
    EXPECT_EQ(out, "") << p.what;
    EXPECT_STREQ(img_error_text(), "inconsistent image file") << p.what;
  }
  // The smallest stack that starts is taken.
  std::vector<uint8_t> b = bytes;
  store_u32(b.data() + HDR_STACK_N, IMG_MIN_STACK);
  EXPECT_EQ(load_patched(b), IMG_OK);
  // Texts that run past their fields.
  for (size_t at : {size_t(IMG_HEADER + MB_GENSYM_PREFIX), size_t(IMG_HEADER + MB_GENTEMP_PREFIX),
                    size_t(IMG_HEADER + IMG_MEMBLOCK + 2 + 256 * 19)}) {
    std::vector<uint8_t> b = bytes;
    std::memset(b.data() + at, 'A', at < IMG_HEADER + IMG_MEMBLOCK ? 20 : 256);
    EXPECT_EQ(load_patched(b), IMG_IO) << at;
  }
}

TEST_F(ImageTest, ReadSectionsIntoTheRunningWorld) {
  // Mode 0: the running areas take the image; the caller rebuilds the hash.
  ASSERT_EQ(load(path), IMG_OK);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  uint8_t fixed[IMG_FIXED];
  ASSERT_EQ(std::fread(fixed, 1, IMG_FIXED, f), IMG_FIXED);
  sym_intern_cstr("SCRATCH-SYMBOL");
  ASSERT_EQ(img_read_sections(f, fixed + IMG_HEADER, 0), IMG_OK);
  std::fclose(f);
  mem_post_load(zvm.free_ptr, 0);
  sym_rehash();
  EXPECT_EQ(describe_world(), saved_world);
  EXPECT_EQ(symbol_named("SCRATCH-SYMBOL"), 0xFFFFFFFFu);
}

TEST_F(ImageTest, WriterReportsFailedFlush) {
  FILE* f = std::fopen("/dev/full", "wb");
  if (!f) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(img_write(f), 1);
  std::fclose(f);
  EXPECT_EQ(img_write_file("/nonexistent-dir/x.ROL"), 1);
}

// Damaged files of every kind: the loader answers 0..3 and never reads
// outside its areas (run under the address sanitizer as well).
TEST_F(ImageTest, DamagedFilesNeverCrashTheLoader) {
  int counts[4] = {};
  auto try_load = [&](const std::vector<uint8_t>& b) {
    int r = load_patched(b);
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 3);
    counts[r]++;
    if (r == IMG_OK) describe_world();  // a loaded world can be walked
  };
  Layout l(bytes);
  const uint8_t damage[] = {0xFF, 0x01, 0x80};
  // Every byte of the header and the memory block, every way.
  for (size_t at = 0; at < IMG_HEADER + IMG_MEMBLOCK; at++)
    for (uint8_t x : damage) {
      std::vector<uint8_t> b = bytes;
      b[at] ^= x;
      try_load(b);
    }
  // Every byte of the sections after the records one way, the rest sampled.
  std::vector<size_t> where;
  for (size_t i = IMG_HEADER + IMG_MEMBLOCK; i < l.records; i += 97) where.push_back(i);
  for (size_t i = l.records; i < l.roots; i += 13) where.push_back(i);
  for (size_t i = l.roots; i < l.end; i += (i < l.hash ? 1 : 29)) where.push_back(i);
  for (size_t k = 0; k < where.size(); k++) {
    std::vector<uint8_t> b = bytes;
    b[where[k]] ^= damage[k % 3];
    try_load(b);
  }
  for (size_t n = 0; n < bytes.size(); n += 37)
    try_load(std::vector<uint8_t>(bytes.begin(), bytes.begin() + n));
  EXPECT_GT(counts[IMG_OK], 0);
  EXPECT_GT(counts[IMG_IO], 0);
  EXPECT_GT(counts[IMG_BUILTINS], 0);
  EXPECT_GT(counts[IMG_CAPACITY], 0);
}

// ---------------------------------------------------------------------------
// Loading into the running world

namespace {

// Reads and checks the file beside the running world.
int stage(const std::string& file, StagedImage** st) {
  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return -1;
  int r = img_stage(f, st);
  std::fclose(f);
  return r;
}

// The running world changed from the saved one in ways a load must undo.
void change_running_world() {
  defglobal("FOO", make_fixnum(99));
  defglobal("ONLY-IN-THE-RUNNING-WORLD", mem_make_string("x", 1));
}

}  // namespace

TEST_F(ImageTest, StagedImageReplacesTheRunningWorld) {
  ASSERT_EQ(load(path), IMG_OK);
  change_running_world();
  std::memcpy(zvm.history + 2, "(running)", 10);
  std::string history(reinterpret_cast<char*>(zvm.history), sizeof zvm.history);
  StagedImage* st = nullptr;
  ASSERT_EQ(stage(path, &st), IMG_OK);
  ASSERT_TRUE(img_staged_fits(st));
  img_install(st);
  EXPECT_EQ(describe_world(), saved_world);
  EXPECT_EQ(symbol_named("ONLY-IN-THE-RUNNING-WORLD"), 0xFFFFFFFFu);
  EXPECT_TRUE(img_check_world(zvm.cons_first, zvm.free_ptr));
  // The running history stays in force.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(zvm.history), sizeof zvm.history), history);
  // The new world allocates and collects like any other.
  defglobal("AFTER", cons(make_fixnum(1), NIL));
  gc_full_collection();
  EXPECT_EQ(car(global("AFTER")), make_fixnum(1));
}

TEST_F(ImageTest, StagedImageIsRelocatedIntoTheRunningConsArea) {
  mem_free_areas(true, true);
  uint32_t blocker = window_take(64 * 1024);
  ASSERT_EQ(load(path), IMG_OK);
  window_release(blocker, 64 * 1024);
  ASSERT_NE(zvm.cons_first, saved_base);
  change_running_world();
  StagedImage* st = nullptr;
  ASSERT_EQ(stage(path, &st), IMG_OK);
  img_install(st);
  EXPECT_EQ(describe_world(), saved_world);
  EXPECT_TRUE(img_check_world(zvm.cons_first, zvm.free_ptr));
  EXPECT_TRUE(in_cons_area(zvm.roots[40] & ~MARK_BIT));
}

// Nothing about a bad file reaches the running world: it is read and
// checked in buffers of its own, and every refusal leaves the world as it
// was, still sound.
TEST_F(ImageTest, RefusedImagesLeaveTheRunningWorldAlone) {
  ASSERT_EQ(load(path), IMG_OK);
  change_running_world();
  std::string running = describe_world();
  Layout l(bytes);
  std::vector<std::vector<uint8_t>> bad;
  for (size_t n : {size_t(0), size_t(100), size_t(IMG_FIXED), l.roots + 7, l.heap + 10, l.cons + 3,
                   bytes.size() - 1})
    bad.emplace_back(bytes.begin(), bytes.begin() + n);
  std::vector<uint8_t> b = bytes;
  b[l.records + 6 * 200 + 5] ^= 1;  // another built-in table
  bad.push_back(b);
  b = bytes;
  store_u32(b.data() + l.symbols + IMG_SYM_VALUE, 0x1234);  // a malformed Value
  bad.push_back(b);
  b = bytes;
  store_u32(b.data() + IMG_HEADER + MB_HEAP_USED, 0xFFFFFF);  // claims more than the file has
  bad.push_back(b);
  for (size_t k = 0; k < bad.size(); k++) {
    std::string file = path + ".bad";
    spit(file, bad[k]);
    StagedImage* st = nullptr;
    int r = stage(file, &st);
    std::remove(file.c_str());
    EXPECT_NE(r, IMG_OK) << k;
    EXPECT_EQ(st, nullptr) << k;
    EXPECT_EQ(r == IMG_BUILTINS, k == 7) << k;
    EXPECT_EQ(describe_world(), running) << k;
  }
  EXPECT_TRUE(img_check_world(zvm.cons_first, zvm.free_ptr));
  EXPECT_STREQ(img_error_text(), "unexpected end of image file");
}

TEST_F(ImageTest, StagedImageLargerThanTheRunningAreasDoesNotFit) {
  const uint8_t* mb = bytes.data() + IMG_HEADER;
  uint32_t h = load_u32(mb + MB_HEAP_USED);
  test_world_init(WorldParams{4096, h, 1000, 1024});  // heap room h - 8
  StagedImage* st = nullptr;
  ASSERT_EQ(stage(path, &st), IMG_OK);
  EXPECT_FALSE(img_staged_fits(st));
  uint32_t heap = 0, cells = 0, symbols = 0;
  img_staged_needs(st, &heap, &cells, &symbols);
  EXPECT_EQ(heap, h);
  EXPECT_EQ(cells, saved_cells);
  EXPECT_EQ(symbols, load_u16(mb + MB_SYM_COUNT));
  img_discard(st);
}

// A world saved while the saving thread has bound a variable (or a
// function) keeps the value from outside the binding.
TEST_F(ImageTest, SavedValuesAreTheGlobalOnesNotTheBound) {
  ASSERT_EQ(load(path), IMG_OK);
  uint32_t foo = symbol_named("FOO"), bar = symbol_named("BAR");
  int budget0 = 100;
  std::string global_foo_text = describe(sym_value(foo), &budget0);
  Value global_bar = sym_function(bar);
  uint16_t mark = zvts->septr;
  bind_special(foo, make_fixnum(1));
  bind_special(foo, make_fixnum(2));  // nested: the outermost saved value wins
  bind_function(bar, bi_value(BI_CAAR));
  std::string file = path + ".bound";
  ASSERT_EQ(img_write_file(file.c_str()), 0);
  EXPECT_EQ(sym_value(foo), make_fixnum(2));  // the running world keeps its bindings
  unbind_functions_to(mark);
  unbind_to(mark);
  pop_to(mark);
  ASSERT_EQ(load(file), IMG_OK);
  std::remove(file.c_str());
  foo = symbol_named("FOO");
  bar = symbol_named("BAR");
  int budget = 100;
  EXPECT_EQ(describe(sym_value(foo), &budget), global_foo_text);
  EXPECT_EQ(sym_function(bar), global_bar);
}

TEST_F(ImageTest, PeekingASymbolValueWithoutLoading) {
  Layout l(bytes);
  uint32_t vec = symbol_named("VEC");
  Value v = 0;
  ASSERT_TRUE(img_peek_symbol_value(path.c_str(), vec, &v));
  EXPECT_EQ(v, load_u32(bytes.data() + l.symbols + IMG_SYM_RECORD * vec + IMG_SYM_VALUE));
  EXPECT_FALSE(img_peek_symbol_value(path.c_str(), 30000, &v));
  EXPECT_FALSE(img_peek_symbol_value((path + ".missing").c_str(), vec, &v));
  spit(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + l.symbols));
  EXPECT_FALSE(img_peek_symbol_value(path.c_str(), vec, &v));
}

// ---------------------------------------------------------------------------
// Alignment: symbol words and Value-holding objects in memory are 4-aligned
// whatever the file's packed layout put them at.

namespace {

bool word_aligned(const uint8_t* p) { return reinterpret_cast<uintptr_t>(p) % 4 == 0; }

// Whether a word of symbol i's packed record lay across a 64-byte line
// when the table was the record array itself.
bool record_straddles(uint32_t i) {
  for (uint32_t w : {IMG_SYM_NAME, IMG_SYM_VALUE, IMG_SYM_FUNCTION, IMG_SYM_PLIST})
    if ((IMG_SYM_RECORD * i + w) % 64 > 60) return true;
  return false;
}

std::string symbol_text(const char* name) {
  uint32_t i = symbol_named(name);
  int budget = 1000;
  return describe(sym_value(i), &budget) + " " + describe(sym_function(i), &budget) + " " +
         describe(sym_plist(i), &budget) + " " + std::to_string(sym_flags(i));
}

}  // namespace

TEST_F(ImageTest, SymbolsWhoseRecordsStraddledALineRoundTripAligned) {
  ASSERT_EQ(load(path), IMG_OK);
  std::vector<std::string> names;
  for (int k = 0; k < 48; k++) {
    names.push_back("S" + std::to_string(k));
    defglobal(names.back().c_str(), cons(make_fixnum(k), global("VEC")));
    uint32_t i = symbol_named(names.back().c_str());
    sym_set_function(i, bi_value(BI_CAR));
    sym_set_plist(i, cons(make_fixnum(-k), NIL));
    sym_set_flags(i, sym_flags(i) | 2);
  }
  std::vector<std::string> expected;
  for (const std::string& n : names) expected.push_back(symbol_text(n.c_str()));
  std::string file = path + ".lines";
  ASSERT_EQ(img_write_file(file.c_str()), 0);
  std::vector<uint8_t> b = slurp(file);
  Layout l(b);
  StagedImage* st = nullptr;
  for (int way = 0; way < 2; way++) {
    if (way == 0) {
      ASSERT_EQ(load(file), IMG_OK);
    } else {
      ASSERT_EQ(stage(file, &st), IMG_OK);
      img_install(st);
    }
    int straddling = 0;
    for (size_t k = 0; k < names.size(); k++) {
      uint32_t i = symbol_named(names[k].c_str());
      straddling += record_straddles(i);
      EXPECT_EQ(symbol_text(names[k].c_str()), expected[k]) << names[k];
      for (uint32_t w : {SYM_NAME, SYM_VALUE, SYM_FUNCTION, SYM_PLIST})
        EXPECT_TRUE(word_aligned(sym_entry(i) + w));
      // The file keeps the packed records.
      const uint8_t* rec = b.data() + l.symbols + IMG_SYM_RECORD * i;
      EXPECT_EQ(load_u32(rec + IMG_SYM_FUNCTION), bi_value(BI_CAR));
      EXPECT_EQ(load_u16(rec + IMG_SYM_FLAGS), sym_flags(i));
    }
    EXPECT_GE(straddling, 4) << way;
  }
  // Written again, the same bytes.
  ASSERT_EQ(img_write_file(file.c_str()), 0);
  EXPECT_TRUE(slurp(file) == b);
  std::remove(file.c_str());
}

// Worlds were once saved with Value-holding objects at offsets of 2 mod 4.
// Such a file is made here from a saved one by rewriting a byte block into
// a simple vector at 2 mod 4 between byte blocks (the static prefix ending
// behind it); both ways of loading it spread the heap and align it.
TEST_F(ImageTest, WorldSavedWithUnalignedObjectsLoadsAligned) {
  ASSERT_EQ(load(path), IMG_OK);
  defglobal("BLOCK", mem_alloc_bytes(100));
  defglobal("UNALIGNED", NIL);
  std::string file = path + ".old";
  ASSERT_EQ(img_write_file(file.c_str()), 0);
  std::vector<uint8_t> b = slurp(file);
  Layout l(b);
  auto value_word = [&](const char* name) {
    return b.data() + l.symbols + IMG_SYM_RECORD * symbol_named(name) + IMG_SYM_VALUE;
  };
  uint32_t block = heap_offset(load_u32(value_word("BLOCK")));
  uint32_t vec = block % 4 == 2 ? block : block + ALIGN_FILLER;
  if (vec != block) put_align_filler(b.data() + l.heap + block - 8);
  uint8_t* v = b.data() + l.heap + vec - 8;
  store_u32(v, HT_ARRAY);
  store_u32(v + 4, 4 | HDR_ONE_DIM);
  Value words[4] = {make_fixnum(7), load_u32(value_word("VEC")), load_u32(value_word("FOO")),
                    make_symbol(symbol_named("BAR"))};
  for (int k = 0; k < 4; k++) store_u32(v + 8 + 4 * k, words[k]);
  store_u32(v + 24, HT_BYTES);
  store_u32(v + 28, block + 108 - (vec + 24) - 8);
  store_u32(value_word("UNALIGNED"), (TAG_VECTOR << 24) | vec);
  store_u32(value_word("BLOCK"), NIL);
  store_u32(b.data() + IMG_HEADER + MB_STATIC_HEAP, block + 108 - 8);
  spit(file, b);

  // The world the file holds, described apart from where things lie.
  defglobal("BLOCK", NIL);
  Value u = mem_alloc_vector(4);
  heap_set_word(u, 0, make_fixnum(7));
  heap_set_word(u, 1, global("VEC"));
  heap_set_word(u, 2, global("FOO"));
  heap_set_word(u, 3, make_symbol(symbol_named("BAR")));
  defglobal("UNALIGNED", u);
  std::string expected = describe_world();

  StagedImage* st = nullptr;
  for (int way = 0; way < 2; way++) {
    if (way == 0) {
      ASSERT_EQ(load(file), IMG_OK);
    } else {
      ASSERT_EQ(load(path), IMG_OK);
      ASSERT_EQ(stage(file, &st), IMG_OK);
      img_install(st);
    }
    EXPECT_EQ(unaligned_value_objects(), 0u) << way;
    EXPECT_EQ(describe_world(), expected) << way;
    EXPECT_TRUE(img_check_world(zvm.cons_first, zvm.free_ptr)) << way;
    EXPECT_EQ(heap_offset(global("UNALIGNED")) % 4, 0u);
    EXPECT_EQ(heap_word(global("UNALIGNED"), 1), global("VEC"));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(string_bytes(zvm.msg_area + 8)), 9), "message 0");
    // The static prefix now ends behind the vector and the byte block.
    EXPECT_EQ(zvm.heap_static, mb_u32(MB_STATIC_HEAP));
    EXPECT_EQ(zvm.heap_static + 8 - (heap_offset(global("UNALIGNED")) + 24),
              object_size_at(heap_addr(global("UNALIGNED")) + 24));
    gc_full_collection();
    EXPECT_EQ(unaligned_value_objects(), 0u) << way;
    EXPECT_EQ(describe_world(), expected) << way;
  }
  std::remove(file.c_str());
}
