// The scan-code table, the translation of key events to key codes, the
// 1251/Unicode conversion and the terminal key decoder.
#include "io/keyboard.h"

#include <cstring>

namespace {

constexpr uint16_t S = KC_SHIFT, C = KC_CONTROL, M = KC_META;

// The table as a PC keyboard lays its keys out.  Rows 84 and up are the
// codes a PC BIOS gave to modified keys; they equal the plain key's entry
// with the modifier bits, which is how modified keys are looked up here.
struct KeyTable {
  uint16_t t[SC_TABLE_SIZE] = {};
  constexpr void row(int first, const char* chars) {
    for (int i = 0; chars[i]; i++) t[first + i] = uint8_t(chars[i]);
  }
  constexpr KeyTable() {
    t[1] = 27;
    row(2, "1234567890-=");
    t[14] = 8;
    t[15] = S | 9;
    row(16, "QWERTYUIOP[]");
    t[28] = 13;
    row(30, "ASDFGHJKL;'`");
    row(43, "\\ZXCVBNM,./");
    t[55] = '*';
    t[57] = ' ';
    for (int i = 0; i < 10; i++) {
      t[59 + i] = uint16_t(0x139 + i);      // F1-F10
      t[84 + i] = uint16_t(S | (0x139 + i));
      t[94 + i] = uint16_t(C | (0x139 + i));
      t[104 + i] = uint16_t(M | (0x139 + i));
    }
    t[71] = KC_HOME;
    t[72] = KC_UP;
    t[73] = KC_PGUP;
    t[74] = '-';
    t[75] = KC_LEFT;
    t[76] = 0x149;  // keypad 5
    t[77] = KC_RIGHT;
    t[78] = '+';
    t[79] = KC_END;
    t[80] = KC_DOWN;
    t[81] = KC_PGDN;
    t[82] = KC_INS;
    t[83] = KC_DEL;
    t[115] = C | KC_LEFT;
    t[116] = C | KC_RIGHT;
    t[117] = C | KC_END;
    t[118] = C | KC_PGDN;
    t[119] = C | KC_HOME;
    const char* meta_row = "1234567890-=";
    for (int i = 0; i < 12; i++) t[120 + i] = uint16_t(M | uint8_t(meta_row[i]));
    t[132] = C | KC_PGUP;
    t[133] = 0x143;  // F11
    t[134] = 0x144;  // F12
    t[135] = S | 0x143;
    t[136] = S | 0x144;
    t[137] = C | 0x143;
    t[138] = C | 0x144;
    t[139] = M | 0x143;
    t[140] = M | 0x144;
    t[141] = C | KC_UP;
    t[145] = C | KC_DOWN;
    t[146] = C | KC_INS;
    t[147] = C | KC_DEL;
    t[148] = C | 9;
    t[151] = M | KC_HOME;
    t[152] = M | KC_UP;
    t[153] = M | KC_PGUP;
    t[155] = M | KC_LEFT;
    t[157] = M | KC_RIGHT;
    t[159] = M | KC_END;
    t[160] = M | KC_DOWN;
    t[161] = M | KC_PGDN;
    t[162] = M | KC_INS;
    t[163] = M | KC_DEL;
    t[165] = M | 9;
  }
};
constexpr KeyTable key_table;

// Code points of 1251 codes 0x80-0xBF (0x98 has none and keeps its code);
// 0xC0-0xFF are U+0410-U+044F.
const uint16_t high_1251[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  //
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  //
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  //
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  //
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  //
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  //
};

// Modifiers of the xterm parameter m (m - 1 is a bit set: 1 shift, 2 alt,
// 4 control, 8 meta).
uint16_t xterm_mods(int m) {
  if (m < 2) return 0;
  int bits = m - 1;
  uint16_t mods = 0;
  if (bits & 1) mods |= KM_SHIFT;
  if (bits & (2 | 8)) mods |= KM_META;
  if (bits & 4) mods |= KM_CONTROL;
  return mods;
}

// Keys of the "CSI k ~" form.
uint16_t tilde_key(int k) {
  switch (k) {
    case 1:
    case 7:
      return SC_HOME;
    case 2:
      return SC_INS;
    case 3:
      return SC_DEL;
    case 4:
    case 8:
      return SC_END;
    case 5:
      return SC_PGUP;
    case 6:
      return SC_PGDN;
    case 23:
      return SC_F11;
    case 24:
      return SC_F12;
  }
  if (k >= 11 && k <= 15) return uint16_t(SC_F1 + k - 11);
  if (k >= 17 && k <= 21) return uint16_t(SC_F1 + 5 + k - 17);
  return 0;
}

// Keys named by a final letter (CSI or SS3).
uint16_t letter_key(uint8_t f) {
  switch (f) {
    case 'A':
      return SC_UP;
    case 'B':
      return SC_DOWN;
    case 'C':
      return SC_RIGHT;
    case 'D':
      return SC_LEFT;
    case 'H':
      return SC_HOME;
    case 'F':
      return SC_END;
    case 'P':
    case 'Q':
    case 'R':
    case 'S':
      return uint16_t(SC_F1 + f - 'P');
  }
  return 0;
}

}  // namespace

const uint16_t zv_key_table[SC_TABLE_SIZE] = {
#define K(i) key_table.t[i]
#define K8(i) K(i), K(i + 1), K(i + 2), K(i + 3), K(i + 4), K(i + 5), K(i + 6), K(i + 7)
    K8(0),   K8(8),   K8(16),  K8(24),  K8(32),  K8(40),  K8(48),  K8(56),  K8(64),  K8(72),
    K8(80),  K8(88),  K8(96),  K8(104), K8(112), K8(120), K8(128), K8(136), K8(144), K8(152),
    K8(160),
#undef K8
#undef K
};

uint16_t scan_of_char(uint8_t c) {
  if (c >= 'a' && c <= 'z') c = uint8_t(c - 32);
  static const char shifted[] = "!@#$%^&*()_+";  // the digit row with shift
  static const char plain[] = "1234567890-=";
  for (int i = 0; i < 12; i++)
    if (shifted[i] == c) c = uint8_t(plain[i]);
  switch (c) {
    case '{': c = '['; break;
    case '}': c = ']'; break;
    case ':': c = ';'; break;
    case '"': c = '\''; break;
    case '~': c = '`'; break;
    case '|': c = '\\'; break;
    case '<': c = ','; break;
    case '>': c = '.'; break;
    case '?': c = '/'; break;
  }
  if (c == ' ') return SC_SPACE;
  for (uint16_t i = 2; i < 54; i++)
    if (zv_key_table[i] == c) return i;
  return 0;
}

uint16_t key_code(const KeyEvent& k) {
  bool control = k.mods & KM_CONTROL, meta = k.mods & KM_META, shift = k.mods & KM_SHIFT;
  uint16_t bits = uint16_t((control ? KC_CONTROL : 0) | (meta ? KC_META : 0));
  uint16_t entry = k.scan < SC_TABLE_SIZE ? zv_key_table[k.scan] : 0;
  if (k.ch && !control && !meta) {
    if (k.scan == 0) return k.ch;
    if (k.scan < 55) {
      if (k.ch > 32 && k.ch != 127) return k.ch;
      // Tab types itself; with shift it is the table's shift-Tab.
      if (k.scan == SC_TAB) return shift ? entry : uint16_t(KC_TAB);
      if (k.scan == SC_BACKSPACE || k.scan == SC_ENTER || k.scan == SC_ESC) return entry;
      return uint16_t(entry | KC_CONTROL);
    }
    if (k.scan <= 83) return (k.mods & KM_NUM_LOCK) && !shift ? k.ch : entry;
    return entry;
  }
  // A character no key of the table types (a Cyrillic letter, say) keeps
  // its code under the modifiers.
  if (k.scan == 0) return k.ch ? uint16_t(k.ch | bits | (shift ? KC_SHIFT : 0)) : 0;
  if (entry == 0) return 0;
  return uint16_t(entry | bits | (shift ? KC_SHIFT : 0));
}

// ---------------------------------------------------------------------------
// Code page 1251

uint32_t unicode_of_1251(uint8_t c) {
  if (c < 0x80) return c;
  return c >= 0xC0 ? 0x410u + (c - 0xC0) : high_1251[c - 0x80];
}

int cp1251_of_unicode(uint32_t u) {
  if (u < 0x80) return int(u);
  if (u >= 0x410 && u <= 0x44F) return int(u - 0x410 + 0xC0);
  for (int i = 0; i < 64; i++)
    if (high_1251[i] == u) return 0x80 + i;
  return -1;
}

uint32_t utf8_from_1251(uint8_t c, char* out) {
  uint32_t u = unicode_of_1251(c);
  if (u < 0x80) {
    out[0] = char(u);
    return 1;
  }
  if (u < 0x800) {
    out[0] = char(0xC0 | (u >> 6));
    out[1] = char(0x80 | (u & 0x3F));
    return 2;
  }
  out[0] = char(0xE0 | (u >> 12));
  out[1] = char(0x80 | ((u >> 6) & 0x3F));
  out[2] = char(0x80 | (u & 0x3F));
  return 3;
}

// ---------------------------------------------------------------------------
// The decoder

void KeyDecoder::emit(uint16_t scan, uint8_t ch, uint16_t mods) {
  if (paste_) mods |= KM_PASTED;
  if (out_head_ == out_.size()) {
    out_.clear();
    out_head_ = 0;
  }
  out_.push_back(KeyEvent{scan, ch, mods});
}

bool KeyDecoder::pop(KeyEvent* k) {
  if (out_head_ >= out_.size()) return false;
  *k = out_[out_head_++];
  return true;
}

// One byte that is not part of an escape sequence.
void KeyDecoder::plain(uint8_t b, uint16_t mods) {
  bool cr_before = after_cr_;
  after_cr_ = false;
  if (b == '\r' || b == '\n') {
    if (b == '\n' && cr_before && paste_) return;
    after_cr_ = b == '\r';
    emit(SC_ENTER, 13, mods);
  } else if (b == erase_) {
    emit(SC_BACKSPACE, 8, mods);
  } else if (b == 0x08 || b == 0x7F) {
    emit(SC_BACKSPACE, 8, uint16_t(mods | KM_CONTROL));
  } else if (b == '\t') {
    emit(SC_TAB, 9, mods);
  } else if (b == 0) {
    emit(SC_SPACE, 0, uint16_t(mods | KM_CONTROL));
  } else if (b < 0x20) {
    emit(scan_of_char(uint8_t(b + 0x40)), b, uint16_t(mods | KM_CONTROL));
  } else if (b < 0x80) {
    emit(scan_of_char(b), b, mods);
  } else if (b >= 0xC2 && b <= 0xF4) {
    u_left_ = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    u_ = b & (0x3F >> u_left_);
    u_mods_ = mods;
  } else {
    refused_++;  // not the start of a UTF-8 character
  }
}

void KeyDecoder::unicode(uint32_t u, uint16_t mods) {
  int c = cp1251_of_unicode(u);
  if (c < 0)
    refused_++;
  else if (c < 0x80)
    plain(uint8_t(c), mods);
  else
    emit(0, uint8_t(c), mods);
}

void KeyDecoder::feed(uint8_t b) {
  if (u_left_ > 0) {
    if ((b & 0xC0) == 0x80) {
      u_ = (u_ << 6) | (b & 0x3F);
      if (--u_left_ == 0) unicode(u_, u_mods_);
      return;
    }
    u_left_ = 0;
    refused_++;  // a cut character; b starts afresh
  }
  if (len_ == 0) {
    if (b == 0x1B) {
      buf_[len_++] = b;
      return;
    }
    plain(b, 0);
    return;
  }
  if (len_ == sizeof buf_) {
    flush_pending();
    feed(b);
    return;
  }
  buf_[len_++] = b;
  if (len_ == 2) {
    if (b == '[' || b == 'O' || b == 0x1B) return;
    // Esc before a character: meta.
    len_ = 0;
    plain(b, KM_META);
    return;
  }
  if (sequence()) len_ = 0;
}

// buf_ starts with Esc and has at least three bytes.  A sequence is
// complete when its final byte has arrived.
bool KeyDecoder::sequence() {
  uint16_t meta = 0;
  const uint8_t* p = buf_ + 1;
  size_t n = len_ - 1;
  if (p[0] == 0x1B) {
    // Esc Esc [ ...: meta with a sequence (rxvt); Esc Esc x: meta-Esc, x.
    if (p[1] != '[' && p[1] != 'O') {
      uint8_t rest = p[1];
      len_ = 0;
      emit(SC_ESC, 27, KM_META);
      feed(rest);
      return false;
    }
    meta = KM_META;
    p++;
    n--;
    if (n < 2) return false;
  }
  uint8_t last = p[n - 1];
  if (p[0] == 'O') {
    if (last >= '0' && last <= '9') return false;  // ESC O 5 A style modifiers
    uint16_t mods = meta;
    if (n == 3) mods |= xterm_mods(p[1] - '0');
    ss3(last, mods);
    return true;
  }
  // CSI: parameters 0x30-0x3F, intermediates 0x20-0x2F, a final 0x40-0x7E;
  // rxvt ends shifted keys with '$'.  The Linux console's F1-F5 are "[[A"
  // to "[[E".
  if (n == 2 && last == '[') return false;
  if (n == 3 && p[1] == '[') {
    if (last >= 'A' && last <= 'E') emit(uint16_t(SC_F1 + last - 'A'), 0, meta);
    return true;
  }
  bool final = (last >= 0x40 && last <= 0x7E) || (last == '$' && n > 2);
  if (!final) return false;
  csi(p + 1, n - 1, meta);
  return true;
}

void KeyDecoder::ss3(uint8_t final, uint16_t mods) {
  if (final == 'M') {
    emit(SC_ENTER, 13, mods);
  } else if (final >= 'a' && final <= 'd') {
    // rxvt: control with the cursor keys.
    emit(letter_key(uint8_t(final - 32)), 0, uint16_t(mods | KM_CONTROL));
  } else if (uint16_t scan = letter_key(final)) {
    emit(scan, 0, mods);
  }
}

// The body of a CSI sequence: parameters and the final byte.
void KeyDecoder::csi(const uint8_t* p, size_t n, uint16_t meta) {
  uint8_t final = p[n - 1];
  int params[4] = {0, 0, 0, 0};
  int count = 0;
  size_t i = 0;
  if (i < n - 1 && (p[i] == '<' || p[i] == '=' || p[i] == '>' || p[i] == '?')) return;
  for (; i < n - 1 && count < 4; i++) {
    if (p[i] >= '0' && p[i] <= '9') {
      params[count] = params[count] * 10 + (p[i] - '0');
      if (params[count] > 100000) params[count] = 100000;
    } else if (p[i] == ';') {
      count++;
    } else {
      return;  // an intermediate byte: nothing a key sends
    }
  }
  count++;
  uint16_t mods = uint16_t(meta | xterm_mods(count >= 2 ? params[1] : 0));
  switch (final) {
    case '~':
    case '^':
    case '$':
    case '@': {
      if (final == '^' || final == '@') mods |= KM_CONTROL;
      if (final == '$' || final == '@') mods |= KM_SHIFT;
      int k = params[0];
      if (k == 200 && final == '~') {
        paste_ = true;
        return;
      }
      if (k == 201 && final == '~') {
        paste_ = false;
        after_cr_ = false;
        return;
      }
      if (k == 27 && count >= 3) {  // xterm's modifyOtherKeys: 27;m;code
        uint16_t m = uint16_t(meta | xterm_mods(params[1]));
        if (params[2] == 13) emit(SC_ENTER, 13, m);
        else if (params[2] == 9) emit(SC_TAB, 9, m);
        else if (params[2] == 27) emit(SC_ESC, 27, m);
        else if (params[2] == 8 || params[2] == 127) emit(SC_BACKSPACE, 8, m);
        else if (params[2] > 0 && params[2] < 128) emit(scan_of_char(uint8_t(params[2])), uint8_t(params[2]), m);
        return;
      }
      if (uint16_t scan = tilde_key(k)) emit(scan, 0, mods);
      return;
    }
    case 'u': {  // CSI code;m u
      int code = params[0];
      if (code == 13) emit(SC_ENTER, 13, mods);
      else if (code == 9) emit(SC_TAB, 9, mods);
      else if (code == 27) emit(SC_ESC, 27, mods);
      else if (code == 127 || code == 8) emit(SC_BACKSPACE, 8, mods);
      else if (code > 0 && code < 128) emit(scan_of_char(uint8_t(code)), uint8_t(code), mods);
      return;
    }
    case 'Z':
      emit(SC_TAB, 9, uint16_t(mods | KM_SHIFT));
      return;
    case 'a':
    case 'b':
    case 'c':
    case 'd':
      // rxvt: shift with the cursor keys.
      emit(letter_key(uint8_t(final - 32)), 0, uint16_t(mods | KM_SHIFT));
      return;
  }
  if (uint16_t scan = letter_key(final)) emit(scan, 0, mods);
}

void KeyDecoder::flush_pending() {
  if (u_left_ > 0) {
    u_left_ = 0;
    refused_++;
  }
  if (len_ == 0) return;
  uint8_t copy[sizeof buf_];
  size_t n = len_;
  std::memcpy(copy, buf_, n);
  len_ = 0;
  if (n == 1) {
    emit(SC_ESC, 27, 0);
    return;
  }
  if (n == 2) {
    // Esc with '[' or 'O' and nothing after: meta with that character.
    if (copy[1] == 0x1B)
      emit(SC_ESC, 27, KM_META);
    else
      plain(copy[1], KM_META);
    return;
  }
  // A sequence cut short: the keys it consists of.
  emit(SC_ESC, 27, 0);
  for (size_t i = 1; i < n; i++) plain(copy[i], 0);
}
