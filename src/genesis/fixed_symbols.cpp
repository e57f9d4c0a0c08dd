// The table of fixed symbols, made from object/symbols.def, and their
// creation.
#include "genesis/fixed_symbols.h"

#include <cstring>

#include "genesis/world.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace {

// Each index listed once; a gap or a repeat stops the compilation.
constexpr std::array<FixedSymbol, FIXED_SYMBOL_COUNT> make_table() {
  std::array<FixedSymbol, FIXED_SYMBOL_COUNT> t{};
#define FS(i, id, nm, cls, role)                               \
  if (t[i].name) throw "fixed symbol index listed twice: " #i; \
  t[i] = {nm, VAR_##cls, role};
#include "object/symbols.def"
#undef FS
  for (const FixedSymbol& f : t)
    if (!f.name) throw "a fixed symbol index is missing";
  return t;
}

}  // namespace

constinit const std::array<FixedSymbol, FIXED_SYMBOL_COUNT> zv_fixed_symbols = make_table();

namespace {

// Entry 0 is NIL and the template that intern copies: interned, unbound,
// no function, no properties.
void make_nil() {
  Value name = mem_make_string("NIL", 3);
  zvm.sym_count = 1;
  sym_set_flags(0, SYMF_INTERNED);
  sym_set_name(0, name);
  sym_set_global_value(0, NO_VALUE);
  sym_set_function(0, NIL);
  sym_set_plist(0, NIL);
  sym_rehash();
}

}  // namespace

bool gen_make_fixed_symbols() {
  if (zvm.sym_count != 0) return gen_fail("the symbol table is not empty");
  make_nil();
  for (uint32_t i = 1; i < FIXED_SYMBOL_COUNT; i++) {
    const FixedSymbol& fs = zv_fixed_symbols[i];
    Value s = sym_intern_cstr(fs.name);
    if (s != make_symbol(i))
      return gen_fail("fixed symbol %s landed on index %u instead of %u", fs.name, symbol_index(s),
                      i);
    sym_set_flags(i, sym_flags(i) | fs.var_class);
  }
  return true;
}
