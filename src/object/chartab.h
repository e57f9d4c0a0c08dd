// The character attribute table: 256 bytes of per-character bits shared by
// the reader, the printer, the character functions and the line editor.
// It is part of the kernel, not of the image.
#pragma once

#include <cstdint>

// Token roles (low three bits).
enum : uint8_t {
  CA_ROLE_MASK = 0x07,
  CA_SIGN = 1,
  CA_DOT = 2,
  CA_EXPONENT = 3,
  CA_PACKAGE = 5,
  CA_DELIMITER = 6,
};
// Attribute bits.
enum : uint8_t {
  CA_CYRILLIC = 0x04,  // overlaps the role bits: only with CA_UPPER/CA_LOWER
  CA_PUNCT = 0x08,     // graphic punctuation; also "escaped" inside tokens
  CA_DIGIT = 0x10,     // may be a digit in some radix
  CA_UPPER = 0x20,
  CA_LOWER = 0x40,
  CA_NAMED = 0x80,  // non-graphic character with a name
};

extern const uint8_t zv_chartab[256];

inline uint8_t char_attr(uint32_t c) { return zv_chartab[c & 0xFF]; }
inline uint8_t char_role(uint32_t c) { return zv_chartab[c & 0xFF] & CA_ROLE_MASK; }
inline bool char_is_lower(uint32_t c) { return zv_chartab[c & 0xFF] & CA_LOWER; }
inline bool char_is_upper(uint32_t c) { return zv_chartab[c & 0xFF] & CA_UPPER; }
inline bool char_is_letter(uint32_t c) { return zv_chartab[c & 0xFF] & (CA_UPPER | CA_LOWER); }

// Case mapping of 8-bit codes; 0xB8 and 0xA8 are the one Cyrillic pair
// outside the contiguous block.
inline uint8_t char_upcase(uint8_t c) {
  if (!char_is_lower(c)) return c;
  return c == 0xB8 ? 0xA8 : uint8_t(c - 32);
}
inline uint8_t char_downcase(uint8_t c) {
  if (!char_is_upper(c)) return c;
  return c == 0xA8 ? 0xB8 : uint8_t(c + 32);
}

// Weight of c as a digit (0-35), or -1 when it is no digit in any radix.
inline int char_digit_weight(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  return -1;
}
