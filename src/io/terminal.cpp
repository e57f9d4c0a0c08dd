// The terminal back end: rendering the cell buffer with VT/xterm
// sequences, raw mode, signals, and reading keys.
#include "io/terminal.h"

#include <sys/ioctl.h>
#include <sys/select.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "eval/eval.h"

namespace {

// What the terminal is given to leave and to re-enter the private screen.
// Leaving resets the colours, shows the cursor in its default shape, turns
// bracketed paste off and returns to the normal screen with its cursor.
const char kEnter[] = "\x1b[?1049h\x1b[?2004h\x1b[?7h\x1b[0m\x1b[2J";
const char kLeave[] = "\x1b[?2004l\x1b[0m\x1b[0 q\x1b[?25h\x1b[?1049l";

// The process-wide state the signal handlers need.  Only one terminal is
// open at a time.
struct Saved {
  volatile sig_atomic_t active = 0;  // the terminal is in our modes
  volatile sig_atomic_t resized = 0;
  volatile sig_atomic_t resumed = 0;
  int in_fd = -1, out_fd = -1;
  struct termios modes {};  // as found
  struct termios raw {};    // as we want them
};
Saved saved;

// Previous handlers, for the crash signals that are passed on.
struct sigaction old_actions[NSIG];
bool handlers_installed = false;

void write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    n -= size_t(w);
  }
}

void leave_screen() {
  write_all(saved.out_fd, kLeave, sizeof kLeave - 1);
  tcsetattr(saved.in_fd, TCSADRAIN, &saved.modes);
}

void enter_screen() {
  tcsetattr(saved.in_fd, TCSADRAIN, &saved.raw);
  write_all(saved.out_fd, kEnter, sizeof kEnter - 1);
}

// Taken by the next read, or sooner by the evaluator's next poll, so that
// long output goes on at the new size.
void on_winch(int) {
  saved.resized = 1;
  interrupt_request(PENDING_CONSOLE);
}

// Output deferred by the present throttle is due: the evaluator's next
// poll shows it.
void on_alarm(int) { interrupt_request(PENDING_CONSOLE); }

// Control-Z: the terminal as it was while stopped, ours again after.
void on_tstp(int) {
  int e = errno;
  bool was = saved.active;
  if (was) leave_screen();
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  struct sigaction mine {};
  sigaction(SIGTSTP, &dfl, &mine);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(SIGTSTP);
  // Continued.
  sigaction(SIGTSTP, &mine, nullptr);
  if (was) enter_screen();
  saved.resumed = 1;
  saved.resized = 1;  // the size may have changed meanwhile
  errno = e;
}

// Termination, hang-up and crashes: restore, then let the signal do what
// it would have done.
void on_fatal(int sig, siginfo_t* info, void* uc) {
  terminal_emergency_restore();
  struct sigaction& old = old_actions[sig];
  if ((old.sa_flags & SA_SIGINFO) && old.sa_sigaction) {
    sigaction(sig, &old, nullptr);
    old.sa_sigaction(sig, info, uc);
    return;
  }
  if (old.sa_handler != SIG_DFL && old.sa_handler != SIG_IGN && old.sa_handler != nullptr) {
    sigaction(sig, &old, nullptr);
    old.sa_handler(sig);
    return;
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

void at_exit() { terminal_emergency_restore(); }

void install_handlers() {
  if (handlers_installed) return;
  handlers_installed = true;
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = on_winch;
  sigaction(SIGWINCH, &sa, nullptr);
  sa.sa_handler = on_tstp;
  sigaction(SIGTSTP, &sa, nullptr);
  sa.sa_handler = on_alarm;
  sa.sa_flags = SA_RESTART;
  sigaction(SIGALRM, &sa, nullptr);
  const int fatal[] = {SIGTERM, SIGHUP, SIGQUIT, SIGSEGV, SIGBUS, SIGILL, SIGABRT};
  for (int sig : fatal) {
    struct sigaction f {};
    sigemptyset(&f.sa_mask);
    f.sa_sigaction = on_fatal;
    f.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_ONSTACK;
    sigaction(sig, &f, &old_actions[sig]);
  }
  std::atexit(at_exit);
}

int64_t now_us() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// The console's colour nibble (1 blue, 2 green, 4 red, 8 bright) as an
// ANSI colour number (1 red, 2 green, 4 blue).
int ansi_colour(int nibble) { return ((nibble & 1) << 2) | (nibble & 2) | ((nibble & 4) >> 2); }

// How the control codes look on a PC text screen.
const char* const control_glyphs[32] = {
    " ", "☺", "☻", "♥", "♦", "♣", "♠", "•", "◘", "○", "◙", "♂", "♀", "♪", "♫", "☼",
    "►", "◄", "↕", "‼", "¶", "§", "▬", "↨", "↑", "↓", "→", "←", "∟", "↔", "▲", "▼",
};

// How long an Esc waits for the rest of a sequence before it counts alone.
constexpr int kEscWaitMs = 40;
// Output is shown at least this often while it is being written.
constexpr int64_t kPresentEveryUs = 30000;

}  // namespace

void terminal_emergency_restore() {
  if (!saved.active) return;
  saved.active = 0;
  leave_screen();
}

// ---------------------------------------------------------------------------

void TerminalDevice::terminal_size(int out_fd, int* rows, int* cols) {
  struct winsize ws {};
  if (ioctl(out_fd, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
    *rows = ws.ws_row;
    *cols = ws.ws_col;
  } else {
    *rows = 25;
    *cols = 80;
  }
}

TerminalDevice::TerminalDevice(int in_fd, int out_fd)
    : ConsoleDevice(TERMINAL, 25, 80), in_fd_(in_fd), out_fd_(out_fd) {
  int rows, cols;
  terminal_size(out_fd, &rows, &cols);
  resize(rows, cols);
  set_viewport(0, 0, rows - 1, cols - 1);
}

TerminalDevice::~TerminalDevice() { close(); }

bool TerminalDevice::open() {
  if (open_) return true;
  struct termios modes;
  if (tcgetattr(in_fd_, &modes) != 0) return false;
  struct termios raw = modes;
  raw.c_iflag &= ~tcflag_t(BRKINT | ICRNL | INLCR | IGNCR | INPCK | ISTRIP | IXON);
  raw.c_oflag &= ~tcflag_t(OPOST);
  raw.c_cflag |= CS8;
  // Signals stay: control-C interrupts and control-Z suspends; the quit
  // key is a key like the others rather than a core dump.
  raw.c_lflag &= ~tcflag_t(ECHO | ICANON | IEXTEN);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
#ifdef _POSIX_VDISABLE
  raw.c_cc[VQUIT] = _POSIX_VDISABLE;
#endif
  uint8_t erase = modes.c_cc[VERASE];
  decoder_ = KeyDecoder(erase == 0x08 ? 0x08 : 0x7F);
  saved.in_fd = in_fd_;
  saved.out_fd = out_fd_;
  saved.modes = modes;
  saved.raw = raw;
  install_handlers();
  if (tcsetattr(in_fd_, TCSADRAIN, &raw) != 0) return false;
  write_all(out_fd_, kEnter, sizeof kEnter - 1);
  saved.active = 1;
  open_ = true;
  shown_valid_ = false;
  return true;
}

void TerminalDevice::close() {
  ConsoleLocked lock;
  if (!open_) return;
  flush_output();
  open_ = false;
  terminal_emergency_restore();
}

void TerminalDevice::hand_over() {
  ConsoleLocked lock;
  if (!open_ || handed_over_) return;
  flush_output();
  handed_over_ = true;
  terminal_emergency_restore();
}

// The modes are those of open(), not what the program left: a program that
// died in raw mode must not become what the console restores at exit.
void TerminalDevice::take_back() {
  ConsoleLocked lock;
  if (!handed_over_) return;
  handed_over_ = false;
  enter_screen();
  saved.active = 1;
  shown_valid_ = false;
  present();
}

bool TerminalDevice::size_changed(int* rows, int* cols) {
  if (!saved.resized) return false;
  saved.resized = 0;
  if (saved.resumed) {
    saved.resumed = 0;
    shown_valid_ = false;
  }
  terminal_size(out_fd_, rows, cols);
  if (*rows == this->rows() && *cols == this->cols()) {
    shown_valid_ = false;  // a terminal may clear or reflow its screen on any change
    present();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Output

void TerminalDevice::put(const char* s) { out_ += s; }

void TerminalDevice::flush_output() {
  if (!out_.empty()) write_all(out_fd_, out_.data(), out_.size());
  out_.clear();
}

void TerminalDevice::cursor_to(int row, int col) {
  if (row == term_row_ && col == term_col_) return;
  char buf[32];
  std::snprintf(buf, sizeof buf, "\x1b[%d;%dH", row + 1, col + 1);
  put(buf);
  term_row_ = row;
  term_col_ = col;
}

void TerminalDevice::set_sgr(uint16_t attr) {
  if (attr == term_attr_) return;
  int fg = attr & 0x0F, bg = (attr >> 4) & 0x0F;
  char buf[48];
  std::snprintf(buf, sizeof buf, "\x1b[0;%d;%d%s%sm", (fg & 8 ? 90 : 30) + ansi_colour(fg),
                (bg & 8 ? 100 : 40) + ansi_colour(bg), attr & 0x4000 ? ";7" : "",
                attr & 0x8000 ? ";4" : "");
  put(buf);
  term_attr_ = attr;
}

void TerminalDevice::glyph(uint8_t ch) {
  if (ch < 32) {
    put(control_glyphs[ch]);
    return;
  }
  if (ch == 0x7F) {
    put("⌂");
    return;
  }
  uint32_t u = unicode_of_1251(ch);
  if (u >= 0x80 && u < 0xA0) {  // 1251 has no character there
    out_ += '?';
    return;
  }
  char buf[4];
  out_.append(buf, utf8_from_1251(ch, buf));
}

void TerminalDevice::present() {
  ConsoleLocked lock;
  if (!open_) return;
  last_present_us_ = now_us();
  timer_armed_ = false;
  int r = rows(), c = cols();
  const std::vector<Cell>& now = cells();
  bool full = !shown_valid_ || shown_.size() != now.size();
  if (full) {
    shown_.assign(now.size(), Cell{0, 0xFFFF});
    shown_valid_ = true;
    term_row_ = term_col_ = -1;
    term_attr_ = 0xFFFFFFFF;
    shown_cursor_shape_ = shown_cursor_visible_ = -1;
    put("\x1b[0m\x1b[2J");
  }
  bool drawing = false;
  for (int row = 0; row < r; row++) {
    for (int col = 0; col < c; col++) {
      size_t i = size_t(row) * size_t(c) + size_t(col);
      if (now[i] == shown_[i]) continue;
      if (!drawing) {
        put("\x1b[?25l");  // no cursor flickering over the changes
        shown_cursor_visible_ = 0;
        drawing = true;
      }
      cursor_to(row, col);
      set_sgr(now[i].attr);
      glyph(now[i].ch);
      shown_[i] = now[i];
      // The terminal's cursor stays on the last column after writing there.
      term_col_ = col + 1 < c ? col + 1 : -1;
    }
  }
  // The cursor: where the buffer has it, kept on the screen.
  int crow = cursor_abs_row(), ccol = cursor_abs_col();
  crow = crow < 0 ? 0 : crow >= r ? r - 1 : crow;
  ccol = ccol < 0 ? 0 : ccol >= c ? c - 1 : ccol;
  cursor_to(crow, ccol);
  int shape = cursor_size() <= 25 ? 6 : 2;  // a bar for insert, a block for overwrite
  if (shape != shown_cursor_shape_) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\x1b[%d q", shape);
    put(buf);
    shown_cursor_shape_ = shape;
  }
  int visible = cursor_visible() ? 1 : 0;
  if (visible != shown_cursor_visible_) {
    put(visible ? "\x1b[?25h" : "\x1b[?25l");
    shown_cursor_visible_ = visible;
  }
  flush_output();
}

// Output coming thick and fast is shown at most every kPresentEveryUs; what
// comes in between is shown by a timer, through the evaluator's poll, or
// when the program next waits.
void TerminalDevice::changed() {
  if (!open_) return;
  int64_t since = now_us() - last_present_us_;
  if (since >= kPresentEveryUs) {
    present();
    return;
  }
  if (timer_armed_) return;
  timer_armed_ = true;
  struct itimerval t {};
  t.it_value.tv_usec = long(kPresentEveryUs - since) + 1000;
  setitimer(ITIMER_REAL, &t, nullptr);
}

void TerminalDevice::beep() {
  if (open_) write_all(out_fd_, "\a", 1);
}

// OSC 52: the terminal puts the text on the desktop's clipboard where it
// allows that.  The text goes as UTF-8 in base 64.
void TerminalDevice::clipboard_copy(const uint8_t* text, uint32_t n) {
  ConsoleLocked lock;
  if (!open_) return;
  std::string utf8;
  for (uint32_t i = 0; i < n; i++) {
    char buf[4];
    utf8.append(buf, utf8_from_1251(text[i], buf));
  }
  static const char b64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string seq = "\x1b]52;c;";
  for (size_t i = 0; i < utf8.size(); i += 3) {
    uint32_t v = uint32_t(uint8_t(utf8[i])) << 16;
    if (i + 1 < utf8.size()) v |= uint32_t(uint8_t(utf8[i + 1])) << 8;
    if (i + 2 < utf8.size()) v |= uint8_t(utf8[i + 2]);
    seq += b64[(v >> 18) & 63];
    seq += b64[(v >> 12) & 63];
    seq += i + 1 < utf8.size() ? b64[(v >> 6) & 63] : '=';
    seq += i + 2 < utf8.size() ? b64[v & 63] : '=';
  }
  seq += "\a";
  flush_output();
  write_all(out_fd_, seq.data(), seq.size());
}

// ---------------------------------------------------------------------------
// Input

// Wait up to timeout_ms for bytes and feed them to the decoder.  Returns
// false on timeout or a signal; *closed when the input has ended.
bool TerminalDevice::take_bytes(int timeout_ms, bool* closed) {
  *closed = false;
  // The flags are checked with the signals blocked and the wait unblocks
  // them atomically, so a signal that arrives in between is not missed.
  sigset_t block, orig;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGWINCH);
  sigprocmask(SIG_BLOCK, &block, &orig);
  if (keyboard_interrupt_pending() || saved.resized) {
    sigprocmask(SIG_SETMASK, &orig, nullptr);
    return false;
  }
  fd_set fds;
  FD_ZERO(&fds);
  FD_SET(in_fd_, &fds);
  struct timespec ts, *tp = nullptr;
  if (timeout_ms >= 0) {
    ts.tv_sec = timeout_ms / 1000;
    ts.tv_nsec = long(timeout_ms % 1000) * 1000000L;
    tp = &ts;
  }
  int r = pselect(in_fd_ + 1, &fds, nullptr, nullptr, tp, &orig);
  sigprocmask(SIG_SETMASK, &orig, nullptr);
  if (r <= 0) return false;
  uint8_t buf[4096];
  ssize_t n = read(in_fd_, buf, sizeof buf);
  if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
    *closed = true;
    return false;
  }
  if (n < 0) return false;
  decoder_.feed(buf, size_t(n));
  return true;
}

WaitResult TerminalDevice::read_input(int timeout_ms) {
  int64_t deadline = timeout_ms >= 0 ? now_us() + int64_t(timeout_ms) * 1000 : -1;
  for (;;) {
    KeyEvent k;
    bool got = false;
    while (decoder_.pop(&k)) {
      push_key(k);
      got = true;
    }
    if (int refused = decoder_.take_refused()) {
      (void)refused;
      beep();
    }
    if (got) return WAIT_KEY;
    if (keyboard_interrupt_pending()) return WAIT_INTERRUPT;
    if (saved.resized) return WAIT_RESIZE;
    int wait = -1;
    if (deadline >= 0) {
      int64_t left = deadline - now_us();
      if (left < 0) left = 0;
      wait = int((left + 999) / 1000);
    }
    // A sequence in progress waits only briefly for its rest.
    bool partial = decoder_.pending();
    if (partial && (wait < 0 || wait > kEscWaitMs)) wait = kEscWaitMs;
    bool closed;
    if (take_bytes(wait, &closed)) continue;
    if (closed) return WAIT_CLOSED;
    if (keyboard_interrupt_pending()) return WAIT_INTERRUPT;
    if (saved.resized) return WAIT_RESIZE;
    if (partial) {
      decoder_.flush_pending();
      continue;
    }
    if (deadline >= 0 && now_us() >= deadline) return WAIT_TIMEOUT;
  }
}
