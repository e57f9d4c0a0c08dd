// The character attribute table, built at compile time from its rules so
// that the rules, not 256 numbers, are what a reader checks.
#include "object/chartab.h"

#include <array>

namespace {

constexpr void set_all(std::array<uint8_t, 256>& t, const char* chars, uint8_t a) {
  for (const char* p = chars; *p; p++) t[uint8_t(*p)] = a;
}

constexpr std::array<uint8_t, 256> build() {
  std::array<uint8_t, 256> t{};
  t[0] = CA_DELIMITER;
  for (int c : {8, 9, 10, 12, 13, 27, 127}) t[c] = CA_NAMED;
  t[' '] = CA_NAMED | CA_DELIMITER;
  set_all(t, "!#$%&*/<=>?@\\^_|", CA_PUNCT);
  set_all(t, "+-", CA_PUNCT | CA_SIGN);
  t['.'] = CA_PUNCT | CA_DOT;
  t[':'] = CA_PACKAGE;
  set_all(t, "\"'(),;[]`{}~", CA_PUNCT | CA_DELIMITER);
  for (int c = '0'; c <= '9'; c++) t[c] = CA_DIGIT;
  for (int c = 'A'; c <= 'Z'; c++) t[c] = CA_UPPER | CA_DIGIT;
  for (int c = 'a'; c <= 'z'; c++) t[c] = CA_LOWER | CA_DIGIT;
  // Exponent markers keep their letter bits.
  for (const char* p = "DEFLSdefls"; *p; p++) t[uint8_t(*p)] |= CA_EXPONENT;
  t[0xA8] = CA_UPPER | CA_CYRILLIC;
  t[0xB8] = CA_LOWER | CA_CYRILLIC;
  for (int c = 0xC0; c <= 0xDF; c++) t[c] = CA_UPPER | CA_CYRILLIC;
  for (int c = 0xE0; c <= 0xFF; c++) t[c] = CA_LOWER | CA_CYRILLIC;
  return t;
}

constexpr std::array<uint8_t, 256> table = build();

}  // namespace

const uint8_t zv_chartab[256] = {
#define R(i) table[i], table[i + 1], table[i + 2], table[i + 3]
#define R16(i) R(i), R(i + 4), R(i + 8), R(i + 12)
    R16(0),   R16(16),  R16(32),  R16(48),  R16(64),  R16(80),  R16(96),  R16(112),
    R16(128), R16(144), R16(160), R16(176), R16(192), R16(208), R16(224), R16(240),
#undef R16
#undef R
};
