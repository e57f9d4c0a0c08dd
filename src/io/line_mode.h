// The line-mode back end: standard input and output stand in for the
// keyboard and the screen when they are not a terminal (pipes, files, CI,
// editors' inferior shells) or when line mode is asked for.
//
// The cell buffer still exists, so windows made from Lisp can be written,
// saved and restored, but nobody sees it.  The terminal window's text goes
// to standard output as UTF-8, and its input comes from standard input a
// line at a time.
#pragma once

#include <cstdint>

#include "io/console_device.h"

class LineDevice : public ConsoleDevice {
 public:
  LineDevice() : ConsoleDevice(LINE, 25, 80) {}

  // The next input character in code page 1251: UTF-8 is decoded, a byte
  // that starts no well-formed UTF-8 sequence is taken as a 1251 code, and
  // a character 1251 lacks reads as '?'.  -1 at the end of the input, -2
  // when a signal (Control-C) cut the wait.
  int read_char();
  // Whether read_char has something to return without waiting (a byte is
  // buffered, or standard input has bytes or its end) within timeout_ms;
  // false after that time or when a signal cut the wait.
  bool input_ready(int timeout_ms);
  // Text for standard output, converted to UTF-8.  Output into a pipe or
  // a file is held back at most kHoldUs while Lisp runs: a timer asks the
  // evaluator's poll to present() the rest, so what a long computation
  // printed (and FINISH-OUTPUT) is seen while it runs.
  void write_plain(const uint8_t* p, uint32_t n);
  void flush();
  void present() override { flush(); }

 private:
  int raw_byte();
  void raw_unget(int b);

  uint8_t buf_[4096];
  uint32_t pos_ = 0, len_ = 0;
  int lookahead_[4] = {};
  int nlookahead_ = 0;
};
