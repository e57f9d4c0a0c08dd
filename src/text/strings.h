// Characters and strings: the primitives the rest of the kernel uses.
//
// Characters are bytes of code page 1251.  A character Value keeps the code
// in byte 0, the bits in byte 1 (bit 0 marks a special key, bits 1-3 the
// modifiers) and the font in byte 2.  Case comes from the attribute table,
// so Cyrillic letters have case as Latin ones do.
//
// Every routine that allocates may move heap objects: callers keep Values,
// never pointers from string_bytes(), across these calls.
#pragma once

#include <cstdint>

#include "object/value.h"

// ---------------------------------------------------------------------------
// Character Values

// ---------------------------------------------------------------------------
// Case in code page 1251 (the single-character rules are in object/chartab.h)

// Case conversion of a byte range, in place.  Capitalising treats the
// range as one word: the first character upcased, all others downcased.
void str_upcase_bytes(uint8_t* p, uint32_t n);
void str_downcase_bytes(uint8_t* p, uint32_t n);
void str_capitalize_bytes(uint8_t* p, uint32_t n);

// ---------------------------------------------------------------------------
// Making and growing strings

// Strings of this length or more are refused by the built-ins (error 5195).
constexpr uint32_t STR_MAX_LENGTH = 0x400000;

// A new simple string of n characters, contents not initialised.
Value str_make(uint32_t n);
// A new string holding the n bytes at p (p must not point into the heap).
Value str_from_bytes(const uint8_t* p, uint32_t n);
// A new string holding a zero-terminated text.
Value str_from_cstr(const char* s);
// A fresh copy of characters [start, end) of string s.
Value str_substring(Value s, uint32_t start, uint32_t end);

// Append one character code to s.  Grows s in place when it is the last
// heap object; otherwise returns a copy one longer.  Keep the result.
Value str_append_char(Value s, uint32_t code);
// Change the length of s to n; new characters are zero.  Shorter keeps the
// object (the freed tail becomes a filler) unless the tail is too small to
// hold one; longer grows the last heap object in place and copies any
// other.  Keep the result.
Value str_resize(Value s, uint32_t n);

// ---------------------------------------------------------------------------
// Searching and comparing

// First index of needle in haystack, or -1.  With fold, characters are
// compared upcased.
int32_t str_search(const uint8_t* needle, uint32_t nlen, const uint8_t* hay, uint32_t hlen,
                   bool fold);
// Equality of two byte ranges, exact or ignoring case.
bool str_equal_bytes(const uint8_t* a, const uint8_t* b, uint32_t n, bool fold);

// ---------------------------------------------------------------------------
// String designators

// The string a designator stands for: a simple string itself, a symbol's
// (or keyword's) name, NIL the name of symbol 0, a plain character a new
// one-character string.  NO_VALUE for anything else.  May allocate.
Value str_designated(Value x);
// As str_designated, but anything else is error 9299 with x and the type
// symbol given (a replacement value from the error is converted again).
Value str_coerce(Value x, Value type_symbol);
