// Classes, instances and slots (419-437): the storage model the object
// system is written on.
//
// A standard object is a heap object of type 24 (an instance) or 88 (a
// class); its word 0 is its class.  The slots of an instance follow from
// word 1.  A class object keeps its metaclass in word 0, its name in word 1,
// its precedence list in word 2 (NIL until it is finalized), its instance
// size in the low 16 bits of word 3, its effective slot definitions in
// word 7 and its default initargs in word 8.  The built-in classes have only
// words 0-3, so every read of a class word here is bounds-checked.
//
// A slot definition is any Value-holding heap object (the library uses
// simple vectors): word 0 the slot name, 1 its location (a fixnum), 2 NIL
// for a local slot or the object holding a shared slot's value, 3 the list
// of its initarg names.  Words 4 and 5 are read only when instances are
// initialised from initargs: 4 a cell whose car is the initial form (NIL:
// none), 5 the slot's type (NIL or T: no test).
#pragma once

#include <cstdint>

#include "object/value.h"

// Heap offsets of the class objects the kernel names; every image has them
// there.
enum : uint32_t {
  FIXED_CLASS_STANDARD = 0x08,   // metaclasses of instantiable classes descend from it
  FIXED_CLASS_STRUCTURE = 0x38,  // its classes take their size from the values given
  FIXED_CLASS_BUILT_IN = 0x68,   // its classes are never instantiated
  FIXED_CLASS_T = 0xC4,
  FIXED_CLASS_CHARACTER = 0x108,
  FIXED_CLASS_CONS = 0x120,
  FIXED_CLASS_FLOAT = 0x138,
  FIXED_CLASS_FUNCTION = 0x150,
  FIXED_CLASS_INTEGER = 0x168,
  FIXED_CLASS_COMPLEX = 0x180,
  FIXED_CLASS_NULL = 0x1B0,
  FIXED_CLASS_STRING = 0x1F8,
  FIXED_CLASS_SYMBOL = 0x210,
  FIXED_CLASS_VECTOR = 0x228,
  FIXED_CLASS_ARRAY = 0x240,
  FIXED_CLASS_DIRECTORY_ENTRY = 0x258,  // the structure DIRECTORY returns
};
inline Value fixed_class(uint32_t offset) { return (uint32_t(TAG_OBJECT) << 24) | offset; }

// Class object words the kernel reads.
enum : uint32_t {
  CW_METACLASS = 0,
  CW_NAME = 1,
  CW_PRECEDENCE = 2,
  CW_SIZE = 3,
  CW_NUMBER = 4,
  CW_QUICK_STAMP = 6,
  CW_SLOTS = 7,
  CW_DEFAULT_INITARGS = 8,
};
// Word 3 of a class holds, above the instance size in bits 0-15, flags the
// object system sets for the instances of the class.
enum : uint32_t {
  CF_SIZE_MASK = 0xFFFF,
  CF_FUNCALLABLE = 0x10000,  // an instance can be called: word 2 holds its function
  CF_STAMPED = 0x20000,      // an instance holds in word 1 the stamp of its layout
};
// Word 6 of a class is the object system's: a fixnum there says that
// MAKE-INSTANCE may take the kernel's quick way (459) and is the stamp of
// the instances it makes.
// Word 4 of a class is its number: a fixnum the dispatch caches hash by, and
// for a class with stamped instances also the stamp of its present layout.
// The instance words the flags give a meaning to:
enum : uint32_t {
  IW_CLASS = 0,  // every standard object's
  IW_STAMP = 1,
  IW_FUNCTION = 2,
};
// Slot definition words.
enum : uint32_t {
  SD_NAME = 0,
  SD_LOCATION = 1,
  SD_STORAGE = 2,
  SD_INITARGS = 3,
  SD_INITFORM = 4,
  SD_TYPE = 5,
};

// A new slot holds this word; any word whose upper half is 0x0FFF reads as
// unbound.
constexpr Value UNBOUND_SLOT = 0x0FFF0013;

// Error codes of this family.
enum : uint32_t {
  E_NOT_INSTANTIABLE = 0x1450,  // 5200: class cannot be instantiated
  E_SLOT_TYPE = 0x2055,         // 8277: cerror, initarg of the wrong type (slot, value)
};

// Number of Value words of a heap object (0 for anything else).
uint32_t object_value_words(Value v);
// Word i of a Value-holding object, NIL when it has no such word.
inline Value word_or_nil(Value v, uint32_t i) {
  return i < object_value_words(v) ? heap_word(v, i) : NIL;
}

// Type 24 or 88 (the value check is applied).
bool is_standard_object(Value v);
inline bool is_class(Value v) { return tag_of(v) == TAG_OBJECT && heap_type(v) == HT_CLASS; }

// The class of any Value.
Value class_of(Value x);

// What a call of the standard object x runs on the arguments of the
// current frame, or NIL when x cannot be called: the evaluator's
// zv_instance_function, registered at start-up.
Value instance_function(Value x);

// The classes at the fixed offsets up to DIRECTORY-ENTRY are the kernel's
// own: no type definition replaces them.
inline bool is_fixed_class(Value cls) {
  return is_class(cls) && heap_offset(cls) <= FIXED_CLASS_DIRECTORY_ENTRY;
}
// A class whose metaclass is BUILT-IN-CLASS: its instances are the objects
// that pass the membership built-in of its word 3.
inline bool is_built_in_class(Value cls) {
  return word_or_nil(cls, CW_METACLASS) == fixed_class(FIXED_CLASS_BUILT_IN);
}
// Bits 0-15 of a class's word 3: the instance size, or for a built-in
// class the number of its membership built-in (0 for anything else).
inline uint32_t class_size_word(Value cls) {
  Value w = word_or_nil(cls, CW_SIZE);
  return is_fixnum(w) ? uint32_t(fixnum_value(w)) & CF_SIZE_MASK : 0;
}

// The flags of a class's word 3 (0 for anything else).
inline uint32_t class_flags(Value cls) {
  Value w = word_or_nil(cls, CW_SIZE);
  return is_fixnum(w) ? uint32_t(fixnum_value(w)) & ~CF_SIZE_MASK : 0;
}

// The slot definition named `name` in the effective slots of class `cls`,
// NIL when there is none (or cls is no class).
Value find_slot_definition(Value cls, Value name);
