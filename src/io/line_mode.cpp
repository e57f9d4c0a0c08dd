// Line mode: plain text in and out.
#include "io/line_mode.h"

#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "eval/eval.h"
#include "io/keyboard.h"

namespace {

constexpr int64_t kHoldUs = 30000;
int64_t last_flush_us = 0;
bool timer_armed = false;

int64_t now_us() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void on_alarm(int) { interrupt_request(PENDING_CONSOLE); }

// Output held back is due later: a one-shot timer, its handler installed
// first (an alarm without one would end the process).
void arm_timer(int64_t in_us) {
  static bool installed = false;
  if (!installed) {
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = on_alarm;
    sa.sa_flags = SA_RESTART;
    sigaction(SIGALRM, &sa, nullptr);
    installed = true;
  }
  struct itimerval t {};
  t.it_value.tv_usec = long(in_us) + 1000;
  setitimer(ITIMER_REAL, &t, nullptr);
  timer_armed = true;
}

}  // namespace

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

bool LineDevice::input_ready(int timeout_ms) {
  if (nlookahead_ || pos_ < len_) return true;
  std::fflush(stdout);  // as before a read
  struct pollfd in {0, POLLIN, 0};
  return poll(&in, 1, timeout_ms) > 0;
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
  int64_t since = now_us() - last_flush_us;
  if (since >= kHoldUs)
    flush();
  else if (!timer_armed)
    arm_timer(kHoldUs - since);
}

void LineDevice::flush() {
  std::fflush(stdout);
  last_flush_us = now_us();
  timer_armed = false;
}
