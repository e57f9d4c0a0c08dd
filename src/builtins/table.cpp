// The built-in function table, made from builtins/builtins.def at compile
// time.  A built-in's number, kind and count are a contract with every
// image ever saved: an image whose records differ is refused at load.
#include "builtins/table.h"

#include "object/error_hook.h"
#include "object/thread.h"

namespace {

using Table = std::array<BuiltinRecord, BI_CAPACITY>;

// Spare records have no function, kind 2 and count 0.  A number listed
// twice, or beyond the capacity, stops the compilation.
constexpr Table make_table() {
  Table t{};
  bool listed[BI_CAPACITY] = {};
  for (BuiltinRecord& r : t) r = {nullptr, KIND_FIXED, 0};
#define BI(n, id, name, kind, count, fn)                    \
  if (listed[n]) throw "built-in number listed twice: " #n; \
  listed[n] = true;                                         \
  t[n] = {fn, KIND_##kind, count};
#include "builtins/builtins.def"
#undef BI
  return t;
}

}  // namespace

constinit Table zv_builtins = make_table();

uint16_t zv_bi_live = BI_CAPACITY;
uint16_t zv_bi_saved = BI_CAPACITY;

// Counted from the full capacity each time, so a second call (a restart)
// gives the same result.
void bi_init_counts() {
  uint16_t live = BI_CAPACITY;
  while (live > 0 && zv_builtins[live - 1].fn == nullptr) live--;
  zv_bi_live = live;
  zv_bi_saved = live;
}

// A loud placeholder: calling a built-in whose family is not in this kernel
// yet is an error naming its number, never a silent NIL.
Value bi_not_implemented(Value a, Value b) {
  return zv_error(ERR_NOT_IMPLEMENTED, make_fixnum(zvts->current_builtin));
}
