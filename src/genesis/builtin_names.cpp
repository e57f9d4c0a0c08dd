// The symbol name each built-in is bound to in the first image, taken from
// builtins/builtins.def.
//
// Standard Common Lisp names wherever the built-in plays that role; names
// that begin with % are the system's own.  Where a built-in departs from
// the standard operator in a way portable code would notice (DIGIT-CHAR-P
// answering T instead of the weight, time counted from 1970), it keeps a %
// name and the Lisp library defines the standard one on top of it.  Two
// numbers that share one routine (RANDOM and its seed) give the second
// number an -ALIAS name.
//
// Several of these names are also the names of fixed symbols (LIST, APPLY,
// EVAL, LOAD, OPEN, CLOSE, AND, OR, SETQ, ...): the genesis interns by
// name, so each lands on the fixed symbol itself.
#include "genesis/builtin_names.h"

namespace {

constexpr std::array<const char*, BI_CAPACITY> make_names() {
  std::array<const char*, BI_CAPACITY> names{};
#define BI(n, id, name, kind, count, fn) names[n] = name;
#include "builtins/builtins.def"
#undef BI
  return names;
}

}  // namespace

constinit const std::array<const char*, BI_CAPACITY> zv_builtin_names = make_names();
