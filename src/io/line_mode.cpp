// Line mode: plain text in and out.
#include "io/line_mode.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "io/keyboard.h"

int LineDevice::raw_byte() {
  if (nlookahead_) return lookahead_[--nlookahead_];
  if (pos_ == len_) {
    std::fflush(stdout);  // what was written before a read is seen first
    ssize_t n = read(0, buf_, sizeof buf_);
    if (n < 0 && errno == EINTR) return -2;
    if (n <= 0) return -1;
    pos_ = 0;
    len_ = uint32_t(n);
  }
  return buf_[pos_++];
}

void LineDevice::raw_unget(int b) {
  if (b >= 0 && nlookahead_ < 4) lookahead_[nlookahead_++] = b;
}

int LineDevice::read_char() {
  int b = raw_byte();
  if (b < 0x80) return b;  // ASCII, end of input or a signal
  int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 ? 1 : 0;
  if (more == 0 || b > 0xF4) return b;
  uint32_t u = uint32_t(b) & (0x3Fu >> more);
  int taken[3];
  for (int i = 0; i < more; i++) {
    taken[i] = raw_byte();
    if (taken[i] < 0 || (taken[i] & 0xC0) != 0x80) {
      for (int j = i; j >= 0; j--) raw_unget(taken[j]);
      return b;
    }
    u = (u << 6) | (uint32_t(taken[i]) & 0x3F);
  }
  int c = cp1251_of_unicode(u);
  return c < 0 ? '?' : c;
}

void LineDevice::write_plain(const uint8_t* p, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) {
    char buf[4];
    std::fwrite(buf, 1, utf8_from_1251(p[i], buf), stdout);
  }
}

void LineDevice::flush() { std::fflush(stdout); }
