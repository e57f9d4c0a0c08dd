// The static heap prefix: the class objects the kernel names by heap
// offset, laid out from the first heap object on, followed by the classes
// the object system starts from.
//
// Class objects (heap type 88) use these data words:
//   0 metaclass, 1 name, 2 precedence list, 3 a fixnum: the instance size
//   (the number of data words of an instance, class word included) or, for
//   the built-in classes, the number of the built-in that tests membership;
//   7 effective slot definitions, 8 default initargs.  The genesis leaves
//   words 4-6 and 9 NIL for the object system.
// The three metaclasses and every other instance of STANDARD-CLASS or
// STRUCTURE-CLASS have 10 data words.  The built-in classes sit 24 bytes
// apart at their fixed offsets, so they have only words 0-3: nothing may
// read their slot definitions.
#pragma once

#include <cstdint>

#include "builtins/classes.h"
#include "object/value.h"

struct ClassSpec {
  uint32_t offset;  // heap offset; each follows the one before
  const char* name;
  uint8_t words;          // data words
  uint32_t metaclass;     // heap offset of the metaclass
  uint16_t word3;         // instance size or membership built-in
  const char* supers[5];  // the precedence list after the class itself
};

constexpr uint32_t STATIC_CLASS_COUNT = 22;
extern const ClassSpec zv_static_classes[STATIC_CLASS_COUNT];

// Allocates every class object at its offset (filler blocks in the gaps),
// all words NIL.  Must run first, on an empty heap.
bool gen_reserve_static_classes();
// Fills the class objects once the symbols exist: names, precedence
// lists, sizes and the slot definitions of the directory entry.
bool gen_fill_static_classes();
