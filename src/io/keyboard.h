// The keyboard: key events to key codes through the scan-code table, and
// the decoder that turns what a terminal sends into key events.
//
// A key code is 16 bits: the character 0-255, or 0x100 + n for special key
// n, with 0x200 for control, 0x400 for meta and 0x800 for shift.  The
// table below, indexed by a PC keyboard's virtual scan code, is the one
// place that maps keys to key codes; terminal sequences are decoded to the
// scan code of the key they stand for and go through it like any key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/console_device.h"

enum : uint16_t {
  KC_SPECIAL = 0x100,
  KC_CONTROL = 0x200,
  KC_META = 0x400,
  KC_SHIFT = 0x800,
  KC_CHAR_MASK = 0x1FF,

  KC_BACKSPACE = 8,
  KC_TAB = 9,
  KC_ENTER = 13,
  KC_ESC = 27,
  KC_SHIFT_TAB = 0x809,
  KC_F1 = 0x139,  // F1-F10 are 0x139-0x142, F11 and F12 0x143 and 0x144
  KC_F4 = 0x13C,
  KC_HOME = 0x145,
  KC_UP = 0x146,
  KC_PGUP = 0x147,
  KC_LEFT = 0x148,
  KC_RIGHT = 0x14A,
  KC_END = 0x10A,
  KC_DOWN = 0x14B,
  KC_PGDN = 0x14C,
  KC_INS = 0x14D,
  KC_DEL = 0x14E,
};

// Virtual scan codes the decoder produces.
enum : uint16_t {
  SC_ESC = 1,
  SC_BACKSPACE = 14,
  SC_TAB = 15,
  SC_ENTER = 28,
  SC_SPACE = 57,
  SC_F1 = 59,  // F1-F10: 59-68
  SC_HOME = 71,
  SC_UP = 72,
  SC_PGUP = 73,
  SC_LEFT = 75,
  SC_RIGHT = 77,
  SC_END = 79,
  SC_DOWN = 80,
  SC_PGDN = 81,
  SC_INS = 82,
  SC_DEL = 83,
  SC_F11 = 133,
  SC_F12 = 134,
  SC_TABLE_SIZE = 168,
};

extern const uint16_t zv_key_table[SC_TABLE_SIZE];

// The key code of an event, or 0 for events that make none (the modifier
// keys themselves).
uint16_t key_code(const KeyEvent& k);

// The scan code of the key that types an ASCII character on a PC keyboard
// (letters, digits, punctuation), 0 when none does.
uint16_t scan_of_char(uint8_t c);

// ---------------------------------------------------------------------------
// Code page 1251 and Unicode

uint32_t unicode_of_1251(uint8_t c);
int cp1251_of_unicode(uint32_t u);  // -1 when 1251 has no such character
// 1 to 3 bytes of UTF-8 into out; returns how many.
uint32_t utf8_from_1251(uint8_t c, char* out);

// ---------------------------------------------------------------------------
// The terminal decoder
//
// Bytes go in as they arrive; complete keys come out as events.  Escape
// sequences of xterm, VT220, rxvt and the Linux console are understood
// (cursor keys, the editing block, F1-F12, each with the modifiers the
// terminal reports), meta arrives as an Esc prefix, UTF-8 becomes 1251,
// and a bracketed paste becomes characters marked KM_PASTED.  A lone Esc
// is only known to be one when nothing follows it for a moment: the owner
// calls flush_pending() after that wait.
class KeyDecoder {
 public:
  // What the terminal sends for Backspace (its erase character): that byte
  // is Backspace, the other of 0x08 and 0x7F control-Backspace.
  explicit KeyDecoder(uint8_t erase = 0x7F) : erase_(erase) {}

  void feed(uint8_t b);
  void feed(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; i++) feed(p[i]);
  }
  // An incomplete sequence is waiting for more bytes.
  bool pending() const { return len_ > 0 || u_left_ > 0; }
  // The wait is over: an Esc alone is the Esc key; a cut sequence is taken
  // as the keys it consists of.
  void flush_pending();
  // The next decoded event, in order.
  bool pop(KeyEvent* k);
  // Characters refused since the last call (1251 has no such character);
  // the owner beeps.
  int take_refused() {
    int n = refused_;
    refused_ = 0;
    return n;
  }
  bool in_paste() const { return paste_; }

 private:
  void emit(uint16_t scan, uint8_t ch, uint16_t mods);
  void plain(uint8_t b, uint16_t mods);
  bool sequence();  // buf_ holds a complete sequence: decode it
  void csi(const uint8_t* p, size_t n, uint16_t meta);
  void ss3(uint8_t final, uint16_t mods);
  void unicode(uint32_t u, uint16_t mods);

  uint8_t erase_;
  uint8_t buf_[40] = {};
  size_t len_ = 0;
  bool paste_ = false;
  uint32_t u_ = 0;   // UTF-8 code point being built
  int u_left_ = 0;   // continuation bytes still expected
  uint16_t u_mods_ = 0;
  int refused_ = 0;
  bool after_cr_ = false;  // a line feed right after a pasted return is the same line end
  std::vector<KeyEvent> out_;
  size_t out_head_ = 0;
};
