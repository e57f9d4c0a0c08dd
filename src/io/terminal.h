// The terminal back end of the console device: the cell buffer shown on a
// VT/xterm-compatible terminal.
//
// While it is open the terminal is on its alternate screen, in raw mode
// (no echo, no line editing, no output processing, flow control off), with
// bracketed paste on.  Control-C and control-Z still make their signals:
// control-C sets the interrupt flag, control-Z suspends (the terminal is
// restored while the process is stopped and redrawn when it continues).
// The terminal comes back to the state it was found in on every way out:
// close(), normal exit, termination and hang-up signals and crash signals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/console_device.h"
#include "io/keyboard.h"

class TerminalDevice : public ConsoleDevice {
 public:
  // The size of the terminal on out_fd; 25 rows and 80 columns when it
  // cannot be read.
  static void terminal_size(int out_fd, int* rows, int* cols);

  TerminalDevice(int in_fd, int out_fd);
  ~TerminalDevice() override;

  // Raw mode and the alternate screen; false when the terminal's modes
  // cannot be read or set (nothing is changed then).
  bool open();
  // Back to the modes and screen the terminal had before open().
  void close();
  bool is_open() const { return open_; }
  // Lend the terminal to another program: its own screen and the modes it
  // was found in, as while stopped by control-Z.  take_back() puts raw
  // mode and the private screen back and redraws every cell, since the
  // program may have written anywhere.  Neither allocates nor throws.
  void hand_over();
  void take_back();

  void present() override;
  void beep() override;
  void clipboard_copy(const uint8_t* text, uint32_t n) override;
  void redraw() override { shown_valid_ = false; }
  void changed() override;

  // A size change was signalled and not yet taken: the new size.
  bool size_changed(int* rows, int* cols);

 protected:
  WaitResult read_input(int timeout_ms) override;

 private:
  void put(const char* s);
  void put(const std::string& s) { out_ += s; }
  void flush_output();
  void cursor_to(int row, int col);
  void set_sgr(uint16_t attr);
  void glyph(uint8_t ch);
  bool take_bytes(int timeout_ms, bool* closed);

  int in_fd_, out_fd_;
  bool open_ = false;
  bool handed_over_ = false;
  KeyDecoder decoder_;
  std::vector<Cell> shown_;  // what the terminal shows
  bool shown_valid_ = false;
  int term_row_ = -1, term_col_ = -1;  // where the terminal's cursor is, -1 unknown
  uint32_t term_attr_ = 0xFFFFFFFF;
  int shown_cursor_shape_ = -1;
  int shown_cursor_visible_ = -1;
  int64_t last_present_us_ = 0;
  bool timer_armed_ = false;  // a timer asks for the next present
  std::string out_;
};

// Restore the terminal from a signal handler or a fatal path: only
// async-signal-safe calls.  Does nothing when no terminal is open.
void terminal_emergency_restore();
