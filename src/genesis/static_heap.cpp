// The class objects of the static heap prefix.
//
// The kernel finds the classes of built-in objects by heap offset, so they
// are allocated first, in offset order, with filler blocks in the gaps.
// Their contents (names are symbols, precedence lists are conses) can only
// be filled in once the symbols exist, which is why this is two steps.
#include "genesis/static_heap.h"

#include <cstring>

#include "builtins/table.h"
#include "genesis/world.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"

// The built-in classes keep the number of their membership predicate in
// word 3; the others their instance size.
constexpr uint32_t STANDARD = FIXED_CLASS_STANDARD, STRUCTURE = FIXED_CLASS_STRUCTURE,
                   BUILT_IN = FIXED_CLASS_BUILT_IN;
const ClassSpec zv_static_classes[STATIC_CLASS_COUNT] = {
    {FIXED_CLASS_STANDARD, "STANDARD-CLASS", 10, STANDARD, 10, {"CLASS", "STANDARD-OBJECT", "T"}},
    {FIXED_CLASS_STRUCTURE, "STRUCTURE-CLASS", 10, STANDARD, 10, {"CLASS", "STANDARD-OBJECT", "T"}},
    {FIXED_CLASS_BUILT_IN, "BUILT-IN-CLASS", 10, STANDARD, 4, {"CLASS", "STANDARD-OBJECT", "T"}},
    {FIXED_CLASS_T, "T", 4, BUILT_IN, BI_ALWAYS_T, {}},
    {FIXED_CLASS_CHARACTER, "CHARACTER", 4, BUILT_IN, BI_CHARACTERP, {"T"}},
    {FIXED_CLASS_CONS, "CONS", 4, BUILT_IN, BI_CONSP, {"LIST", "SEQUENCE", "T"}},
    {FIXED_CLASS_FLOAT, "FLOAT", 4, BUILT_IN, BI_FLOATP, {"NUMBER", "T"}},
    {FIXED_CLASS_FUNCTION, "FUNCTION", 4, BUILT_IN, BI_FUNCTIONP, {"T"}},
    {FIXED_CLASS_INTEGER, "INTEGER", 4, BUILT_IN, BI_INTEGERP, {"NUMBER", "T"}},
    {FIXED_CLASS_COMPLEX, "COMPLEX", 4, BUILT_IN, BI_COMPLEXP, {"NUMBER", "T"}},
    {0x198, "NUMBER", 4, BUILT_IN, BI_NUMBERP, {"T"}},
    {FIXED_CLASS_NULL, "NULL", 4, BUILT_IN, BI_NULL, {"SYMBOL", "LIST", "SEQUENCE", "T"}},
    {0x1C8, "LIST", 4, BUILT_IN, BI_LISTP, {"SEQUENCE", "T"}},
    {0x1E0, "SEQUENCE", 4, BUILT_IN, BI_SEQUENCEP, {"T"}},
    {FIXED_CLASS_STRING, "STRING", 4, BUILT_IN, BI_STRINGP, {"VECTOR", "ARRAY", "SEQUENCE", "T"}},
    {FIXED_CLASS_SYMBOL, "SYMBOL", 4, BUILT_IN, BI_SYMBOLP, {"T"}},
    {FIXED_CLASS_VECTOR, "VECTOR", 4, BUILT_IN, BI_VECTORP, {"ARRAY", "SEQUENCE", "T"}},
    {FIXED_CLASS_ARRAY, "ARRAY", 4, BUILT_IN, BI_ARRAYP, {"T"}},
    {FIXED_CLASS_DIRECTORY_ENTRY, "DIRECTORY-ENTRY", 10, STRUCTURE, 7, {"STRUCTURE-OBJECT", "T"}},
    {0x288, "STANDARD-OBJECT", 10, STANDARD, 1, {"T"}},
    {0x2B8, "CLASS", 10, STANDARD, 10, {"STANDARD-OBJECT", "T"}},
    {0x2E8, "STRUCTURE-OBJECT", 10, STRUCTURE, 1, {"T"}},
};

namespace {

// Slots of a directory entry, at locations 1..6 in this order.
const char* const directory_entry_slots[] = {"NAME",       "ATTRIBUTES",  "SIZE",
                                             "WRITE-TIME", "ACCESS-TIME", "CREATION-TIME"};

const ClassSpec* find_spec(const char* name) {
  for (const ClassSpec& s : zv_static_classes)
    if (std::strcmp(s.name, name) == 0) return &s;
  return nullptr;
}

// A gap before the next fixed offset becomes a raw byte block, the kind of
// object the collector itself fills gaps with.
bool fill_gap(uint32_t up_to) {
  uint32_t gap = up_to - zvm.heap_fill;
  if (gap == 0) return true;
  if (gap < 8 || gap % 2) return gen_fail("a gap of %u bytes before heap offset 0x%X", gap, up_to);
  Value b = mem_alloc_bytes(gap - 8);
  std::memset(heap_data(b), 0, gap - 8);
  return true;
}

// (class super ...) as a list of class objects.
bool precedence_list(const ClassSpec& spec, Value* out) {
  Value list = NIL;
  root_push(&list);
  int n = 0;
  while (n < 5 && spec.supers[n]) n++;
  for (int i = n - 1; i >= 0; i--) {
    const ClassSpec* super = find_spec(spec.supers[i]);
    if (!super) {
      root_pop();
      return gen_fail("class %s: no class %s", spec.name, spec.supers[i]);
    }
    list = cons(fixed_class(super->offset), list);
  }
  *out = cons(fixed_class(spec.offset), list);
  root_pop();
  return true;
}

// Slot definitions are simple vectors: name, location, NIL (a local
// slot), initargs.
void add_directory_entry_slots() {
  Value slots = NIL, name = NIL;
  root_push(&slots);
  root_push(&name);
  for (uint32_t i = 6; i >= 1; i--) {
    name = sym_intern_cstr(directory_entry_slots[i - 1]);
    Value def = mem_alloc_vector(4);
    heap_set_word(def, 0, name);
    heap_set_word(def, 1, make_fixnum(int32_t(i)));
    heap_set_word(def, 2, NIL);
    heap_set_word(def, 3, NIL);
    slots = cons(def, slots);
  }
  root_pop(2);
  heap_set_word(fixed_class(FIXED_CLASS_DIRECTORY_ENTRY), CW_SLOTS, slots);
}

}  // namespace

bool gen_reserve_static_classes() {
  if (zvm.heap_fill != 8) return gen_fail("the heap is not empty");
  for (const ClassSpec& spec : zv_static_classes) {
    if (spec.offset < zvm.heap_fill)
      return gen_fail("class %s would overlap the object before it", spec.name);
    if (!fill_gap(spec.offset)) return false;
    Value c = mem_alloc_object(spec.words, HT_CLASS);
    for (uint32_t i = 0; i < spec.words; i++) heap_set_word(c, i, NIL);
    if (heap_offset(c) != spec.offset)
      return gen_fail("class %s landed at 0x%X", spec.name, heap_offset(c));
  }
  return true;
}

bool gen_fill_static_classes() {
  for (const ClassSpec& spec : zv_static_classes) {
    Value c = fixed_class(spec.offset);  // static: never moves
    heap_set_word(c, 0, fixed_class(spec.metaclass));
    heap_set_word(c, 1, sym_intern_cstr(spec.name));
    heap_set_word(c, 3, make_fixnum(spec.word3));
    Value cpl = NIL;
    if (!precedence_list(spec, &cpl)) return false;
    heap_set_word(c, 2, cpl);
  }
  add_directory_entry_slots();
  return true;
}
