// The symbol table: name hash, hash size, interning, uninterned and
// generated symbols, deleted slots, property lists.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "world_fixture.h"

namespace {

const uint8_t* bytes_of(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

std::string name_of(Value sym) {
  Value s = sym_name(symbol_index(sym));
  return std::string(reinterpret_cast<const char*>(string_bytes(s)), string_length(s));
}

bool is_prime(uint32_t p) {
  if (p < 2) return false;
  for (uint32_t d = 2; d * d <= p; d++)
    if (p % d == 0) return false;
  return true;
}

class SymbolsTest : public ::testing::Test {
 protected:
  void SetUp() override { test_world_init(); }
};

}  // namespace

TEST(SymbolsHash, ShortNamesAreMultipliedLongNamesAreNot) {
  // Part of the image contract: saved hash arrays depend on these numbers.
  EXPECT_EQ(sym_hash(bytes_of("ABCDE"), 5), 22277u * 61);
  EXPECT_EQ(sym_hash(bytes_of("ABCDEF"), 6), 89178u);
  EXPECT_EQ(sym_hash(bytes_of(""), 0), 0u);
  // Long names wrap at 32 bits and the result never has bit 31.
  const char* longname = "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff";
  EXPECT_EQ(sym_hash(bytes_of(longname), 17), 0x7FFFFFABu);
}

TEST(SymbolsHashSize, SmallestPrimeAboveCapacityAndASixteenth) {
  EXPECT_EQ(sym_hash_size_for(16000), 17011u);
  // 272 + 17 = 289 = 17 * 17 and 291 = 3 * 97; a test that only tries
  // divisors d < P / d would stop at 289.
  EXPECT_EQ(sym_hash_size_for(272), 293u);
  EXPECT_EQ(sym_hash_size_for(24), 29u);  // 25 = 5 * 5, 27 = 3 * 9
  for (uint32_t cap = 0; cap <= 33000; cap += 7) {
    uint32_t p = sym_hash_size_for(cap);
    ASSERT_TRUE(is_prime(p)) << cap;
    ASSERT_GE(p, cap + cap / 16) << cap;
    ASSERT_GE(p, 3u) << cap;  // the probe step needs P - 2 >= 1
    for (uint32_t q = cap + cap / 16; q < p; q++)
      ASSERT_FALSE(q >= 3 && (q & 1) && is_prime(q)) << cap;
  }
}

TEST_F(SymbolsTest, InterningFindsTheSameSymbolAndNilIsZero) {
  EXPECT_EQ(sym_intern_cstr("NIL"), NIL);
  EXPECT_EQ(sym_intern_cstr("NIL", TAG_KEYWORD), NIL);
  Value foo = sym_intern_cstr("FOO");
  EXPECT_EQ(foo, 0x01000001u);
  EXPECT_EQ(sym_intern_cstr("FOO"), foo);
  EXPECT_EQ(sym_intern_cstr("FOO", TAG_KEYWORD), 0x03000001u);
  EXPECT_NE(sym_intern_cstr("FOO2"), foo);
  EXPECT_EQ(zvm.sym_count, 3u);
  SymSearch s = sym_search(bytes_of("FOO"), 3);
  EXPECT_TRUE(s.found);
  EXPECT_EQ(s.index, 1u);
  EXPECT_EQ(zvm.hash[s.slot], 1u);
  EXPECT_FALSE(sym_search(bytes_of("FO"), 2).found);
}

TEST_F(SymbolsTest, NewSymbolIsACopyOfEntryZeroButItsName) {
  // Give the template distinctive cells so a copy is told from defaults.
  sym_set_function(0, make_fixnum(7));
  sym_set_value(0, make_fixnum(-3));
  Value sym = sym_intern_cstr("BAR");
  uint32_t i = symbol_index(sym);
  EXPECT_EQ(sym_flags(i), SYMF_INTERNED);
  EXPECT_EQ(sym_value(i), make_fixnum(-3));
  EXPECT_EQ(sym_function(i), make_fixnum(7));
  EXPECT_EQ(sym_plist(i), NIL);
  EXPECT_NE(sym_name(i), sym_name(0));
  EXPECT_EQ(name_of(sym), "BAR");
  EXPECT_TRUE(is_string(sym_name(i)));
}

TEST_F(SymbolsTest, UninternedSymbolsAreNotFoundByName) {
  Value a = sym_make(bytes_of("FOO"), 3);
  uint32_t i = symbol_index(a);
  EXPECT_EQ(tag_of(a), TAG_SYMBOL);
  EXPECT_EQ(sym_flags(i), 0);
  EXPECT_EQ(name_of(a), "FOO");
  EXPECT_FALSE(sym_search(bytes_of("FOO"), 3).found);
  Value b = sym_intern_cstr("FOO");
  EXPECT_NE(a, b);

  Value name = mem_make_string("QUUX", 4);
  Value c = sym_make_from_string(name);
  EXPECT_EQ(sym_name(symbol_index(c)), name);  // the string is shared
  EXPECT_EQ(sym_flags(symbol_index(c)), 0);

  // A rehash keeps the interned symbol and leaves the others out.
  sym_rehash();
  EXPECT_EQ(sym_intern_cstr("FOO"), b);
  EXPECT_FALSE(sym_search(bytes_of("QUUX"), 4).found);
  EXPECT_EQ(sym_intern_cstr("NIL"), NIL);
}

TEST_F(SymbolsTest, GeneratedNamesCountUpFromTheSavedCounter) {
  store_u32(zvm.memblock + MB_GENSYM_COUNTER, 41);
  Value g = sym_gensym();
  EXPECT_EQ(name_of(g), "G42");
  EXPECT_EQ(mb_u32(MB_GENSYM_COUNTER), 42u);
  EXPECT_EQ(sym_flags(symbol_index(g)), 0);
  EXPECT_EQ(name_of(sym_gensym()), "G43");
  EXPECT_EQ(name_of(sym_gentemp()), "T1");

  // A prefix that fills all 20 bytes with no terminator ends at the field.
  std::memset(zvm.memblock + MB_GENTEMP_PREFIX, 'P', 20);
  EXPECT_EQ(name_of(sym_gentemp()), std::string(20, 'P') + "2");
  store_u32(zvm.memblock + MB_GENSYM_COUNTER, 0xFFFFFFFE);
  EXPECT_EQ(name_of(sym_gensym()), "G4294967295");
}

TEST_F(SymbolsTest, DeletedSlotsAreReused) {
  // Fill a run of slots so that probe sequences pass over deleted ones.
  char name[16];
  for (int k = 0; k < 200; k++) {
    std::snprintf(name, sizeof name, "S%d", k);
    sym_intern_cstr(name);
  }
  Value victim = sym_intern_cstr("S17");
  uint32_t old_index = symbol_index(victim);
  uint32_t slot = sym_search(bytes_of("S17"), 3).slot;
  sym_replace_slot(sym_name(old_index), static_cast<uint16_t>(old_index), HASH_SLOT_DELETED);
  EXPECT_EQ(zvm.hash[slot], HASH_SLOT_DELETED);

  SymSearch s = sym_search(bytes_of("S17"), 3);
  EXPECT_FALSE(s.found);
  EXPECT_EQ(s.slot, slot);  // the first deleted slot on the walk, not the empty one
  Value fresh = sym_intern_cstr("S17");
  EXPECT_NE(fresh, victim);
  EXPECT_EQ(zvm.hash[slot], symbol_index(fresh));

  // Renumbering touches only the slot on the name's walk that holds the
  // old content.
  sym_replace_slot(sym_name(symbol_index(fresh)), static_cast<uint16_t>(symbol_index(fresh)), 7);
  EXPECT_EQ(zvm.hash[slot], 7);
  sym_replace_slot(sym_name(symbol_index(fresh)), 12345, 9);
  EXPECT_EQ(zvm.hash[slot], 7);
  zvm.hash[slot] = static_cast<uint16_t>(symbol_index(fresh));

  // Every other name is still found past the deleted-then-refilled slot.
  for (int k = 0; k < 200; k++) {
    std::snprintf(name, sizeof name, "S%d", k);
    ASSERT_TRUE(sym_search(bytes_of(name), static_cast<uint32_t>(std::strlen(name))).found) << k;
  }
}

TEST_F(SymbolsTest, FullHashArrayEndsTheProcess) {
  // Every slot names NIL and none is deleted: no room and nothing to reuse.
  for (uint32_t k = 0; k < zvm.hash_size; k++) zvm.hash[k] = 0;
  char dir[] = "/tmp/zorva-sym-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string log = std::string(dir) + "/dumph.log";
  // The child writes its stdout to stderr, where the death test sees it,
  // and its hash dump into the scratch directory.
  EXPECT_EXIT(
      {
        dup2(2, 1);
        if (chdir(dir) == 0) sym_search(bytes_of("FOO"), 3);
      },
      ::testing::ExitedWithCode(1), "Recycling at symsearch\n");
  std::FILE* f = std::fopen(log.c_str(), "r");
  ASSERT_NE(f, nullptr);
  char first[64] = {};
  EXPECT_NE(std::fgets(first, sizeof first, f), nullptr);
  std::fclose(f);
  EXPECT_EQ(std::string(first),
            "dumpshtab of " + std::to_string(zvm.hash_size) + " entries symsearch\n");
  std::remove(log.c_str());
  rmdir(dir);

  // With one deleted slot the search reports it as the free slot.
  zvm.hash[5] = HASH_SLOT_DELETED;
  SymSearch s = sym_search(bytes_of("FOO"), 3);
  EXPECT_FALSE(s.found);
  EXPECT_EQ(s.slot, 5u);
}

TEST_F(SymbolsTest, PropertyLists) {
  Value a = sym_intern_cstr("A"), b = sym_intern_cstr("B"), c = sym_intern_cstr("C");
  Value dflt = make_fixnum(-1);
  Value pl = NIL;
  EXPECT_EQ(plist_get(pl, a, dflt), dflt);

  pl = plist_put(pl, a, make_fixnum(1));
  pl = plist_put(pl, b, make_fixnum(2));
  EXPECT_EQ(car(pl), b);  // new pairs go in front
  EXPECT_EQ(plist_get(pl, a, dflt), make_fixnum(1));
  EXPECT_EQ(plist_get(pl, b, dflt), make_fixnum(2));
  EXPECT_EQ(plist_get(pl, c, dflt), dflt);

  Value same = plist_put(pl, a, make_fixnum(10));  // changed in place
  EXPECT_EQ(same, pl);
  EXPECT_EQ(plist_get(pl, a, dflt), make_fixnum(10));

  // Values are not indicators: (B 2 A 10) has no property 2.
  EXPECT_EQ(plist_get(pl, make_fixnum(2), dflt), dflt);

  // Removing the second pair relinks; removing the first returns the tail.
  Value r = plist_remove(pl, a);
  EXPECT_EQ(r, pl);
  EXPECT_EQ(plist_get(r, a, dflt), dflt);
  EXPECT_EQ(cdr(cdr(r)), NIL);
  EXPECT_EQ(plist_remove(r, c), r);
  EXPECT_EQ(plist_remove(r, b), NIL);

  // An indicator without a value, or a dotted tail, ends the list.
  Value odd = cons(a, NIL);
  EXPECT_EQ(plist_get(odd, a, dflt), dflt);
  Value dotted = cons(b, cons(make_fixnum(2), make_fixnum(3)));
  EXPECT_EQ(plist_get(dotted, b, dflt), make_fixnum(2));
  EXPECT_EQ(plist_get(dotted, c, dflt), dflt);
  Value grown = plist_put(odd, a, make_fixnum(5));
  EXPECT_EQ(cdr(cdr(grown)), odd);
  EXPECT_EQ(plist_get(grown, a, dflt), make_fixnum(5));
}

TEST_F(SymbolsTest, FindByNumberMatchesTheLowBitsOfTheCar) {
  Value e1 = cons(make_fixnum(0x10003), NIL);
  Value e2 = cons(make_fixnum(4), NIL);
  Value list = cons(make_fixnum(4), cons(e1, cons(e2, NIL)));  // a non-cons element is skipped
  EXPECT_EQ(find_by_number(3, list), e1);
  EXPECT_EQ(find_by_number(4, list), e2);
  EXPECT_EQ(find_by_number(5, list), NIL);
  EXPECT_EQ(find_by_number(4, NIL), NIL);
}

// Interning against the collector: a full table, and every allocation
// preceded by a collection (stress mode).
namespace {

class SymbolsGcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WorldParams p;
    p.symbol_capacity = 40;
    test_world_init(p);
  }
  void TearDown() override { zv_gc_stress = 0; }
};

Value intern_numbered(const char* prefix, int k) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%d", prefix, k);
  return sym_intern_cstr(name);
}

}  // namespace

TEST_F(SymbolsGcTest, FullTableDropsUnreferencedSymbolsAndGoesOn) {
  Value kept = sym_intern_cstr("KEPT");
  root_push(&kept);
  for (int k = 0; k < 200; k++) intern_numbered("X", k);
  EXPECT_GE(zv_gc.symbol, 1u);
  EXPECT_LE(zvm.sym_count, zvm.sym_cap);
  EXPECT_EQ(name_of(kept), "KEPT");
  EXPECT_EQ(sym_intern_cstr("KEPT"), kept);
  EXPECT_TRUE(sym_search(bytes_of("X199"), 4).found);
  EXPECT_FALSE(sym_search(bytes_of("X0"), 2).found);
  root_pop();

  // A given name string survives the collection that makes room for it,
  // although garbage below it makes the heap compact.
  for (int k = 0; zvm.sym_count < zvm.sym_cap; k++) intern_numbered("Y", k);
  mem_make_string("", 0);
  Value given = mem_make_string("GIVEN", 5);
  Value u = sym_make_from_string(given);
  EXPECT_EQ(name_of(u), "GIVEN");
  EXPECT_EQ(sym_flags(symbol_index(u)), 0);
}

TEST_F(SymbolsGcTest, FullTableOfLiveSymbolsIsError37) {
  uint32_t code = TRAP_ERROR({
    for (int k = 0; k < 100; k++) {
      Value s = intern_numbered("LIVE", k);
      sym_set_value(symbol_index(s), make_fixnum(k));  // a value keeps it
    }
  });
  EXPECT_EQ(code, ERR_SYMTAB_FULL);
  EXPECT_EQ(zvm.sym_count, zvm.sym_cap);
  EXPECT_EQ(zvts->root_count, 0u);
}

TEST_F(SymbolsGcTest, NamesAndPropertiesSurviveCollectionsAtEveryAllocation) {
  Value holder = sym_intern_cstr("HOLDER");
  root_push(&holder);
  zv_gc_stress = 1;
  for (uint32_t k = 0; k < 12; k++) {
    // Garbage below the source name and below the new symbol: compacting
    // collections slide the name down (onto the header of the next
    // object) and renumber the symbol.
    intern_numbered("JUNK-", static_cast<int>(k));
    Value junk = mem_make_string("", 0);
    root_push(&junk);
    char text[16];
    std::snprintf(text, sizeof text, "MOVING%02u", k);
    Value s = mem_make_string(text, static_cast<uint32_t>(std::strlen(text)));
    root_pop();
    root_push(&s);
    Value sym = sym_intern(string_bytes(s), string_length(s));
    root_pop();
    root_push(&sym);
    Value d = mem_make_double(k + 0.5);
    Value pl = plist_put(sym_plist(symbol_index(holder)), sym, d);
    sym_set_plist(symbol_index(holder), pl);
    root_pop();
  }
  Value g = sym_gensym();
  zv_gc_stress = 0;

  EXPECT_EQ(name_of(g).substr(0, 1), "G");
  Value pl = sym_plist(symbol_index(holder));
  for (uint32_t k = 0; k < 12; k++) {
    char text[16];
    std::snprintf(text, sizeof text, "MOVING%02u", k);
    Value sym = sym_intern_cstr(text);
    EXPECT_EQ(name_of(sym), text);
    Value d = plist_get(pl, sym, NIL);
    ASSERT_EQ(tag_of(d), TAG_DOUBLE) << k;
    EXPECT_EQ(double_value(d), k + 0.5);
  }
  root_pop();
}

TEST_F(SymbolsGcTest, PropertyPutKeepsItsIndicatorWhenSymbolsMove) {
  Value holder = sym_intern_cstr("HOLDER");
  root_push(&holder);
  zv_gc_stress = 1;
  // Five allocations a round, so over four rounds each of them meets each
  // kind of collection; a dead symbol below the indicator lets a symbol
  // collection inside the put renumber it.
  for (int k = 0; k < 8; k++) {
    intern_numbered("DEAD", k);
    Value ind = intern_numbered("IND", k);
    root_push(&ind);
    cons(NIL, NIL);
    Value pl = plist_put(sym_plist(symbol_index(holder)), ind, make_fixnum(k));
    sym_set_plist(symbol_index(holder), pl);
    root_pop();
  }
  zv_gc_stress = 0;
  Value pl = sym_plist(symbol_index(holder));
  for (int k = 0; k < 8; k++)
    EXPECT_EQ(plist_get(pl, intern_numbered("IND", k), NIL), make_fixnum(k)) << k;
  root_pop();
}
