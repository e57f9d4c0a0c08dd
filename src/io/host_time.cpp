// The clock built-ins: calendar time as an integer, its decoding into
// fields and back, timing a form and pausing.
//
// Calendar times count seconds from 1970 as the host clock does; the
// library turns them into universal time.  A time zone, where one is
// given, is in hours west of Greenwich (the sign convention of the host's
// own `timezone`), so a given zone means "these fields are the clock in
// that zone", independent of the host's local zone.
//
// Elapsed times (TIME, SLEEP) use the host's monotonic clock: a processor-
// time clock would stand still while SLEEP waits and would not count the
// time a timed form spends waiting for input.
#include <time.h>

#include <chrono>
#include <cstdint>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "io/host.h"
#include "object/memory.h"
#include "object/symbols.h"

namespace {

enum : uint32_t {
  MSG_TIMING = 21,       // status while a form is timed
  MSG_ELAPSED = 0x2016,  // 8214: elapsed seconds
};

// Years are counted from 1900 in the fields; any year up to 9999 is taken.
constexpr int32_t kMaxYear = 9999 - 1900;

using Clock = std::chrono::steady_clock;

bool integer_arg(Value v, int64_t* out) {
  if (is_fixnum(v)) {
    *out = fixnum_value(v);
    return true;
  }
  if (tag_of(v) == TAG_INT64) {
    *out = int64_value(v);
    return true;
  }
  return false;
}

// The host's local zone in hours west of Greenwich, not counting summer
// time.
long local_zone_hours() {
  tzset();
  return timezone / 3600;
}

// The nine values of a decoded time: second, minute, hour, date, month,
// year since 1900, day of the week (0 Sunday), summer time, zone.
Value decoded(const struct tm& tm, bool dst, Value zone) {
  Value v[9] = {make_fixnum(tm.tm_sec),  make_fixnum(tm.tm_min),  make_fixnum(tm.tm_hour),
                make_fixnum(tm.tm_mday), make_fixnum(tm.tm_mon + 1), make_fixnum(tm.tm_year),
                make_fixnum(tm.tm_wday), bool_value(dst),          zone};
  return set_values(9, v);
}

// A time in the given zone (a fixnum, or NIL for the local zone).
Value decode(Value time, Value zone) {
  int64_t t;
  if (!integer_arg(time, &t)) return lisp_error(E_WRONG_TYPE, time);
  struct tm tm;
  if (nil_p(zone)) {
    time_t tt = time_t(t);
    if (!localtime_r(&tt, &tm)) return lisp_error(E_WRONG_TYPE, time);
    return decoded(tm, tm.tm_isdst > 0, make_fixnum(int32_t(local_zone_hours())));
  }
  if (!is_fixnum(zone)) return lisp_error(E_WRONG_TYPE, zone);
  time_t tt = time_t(t - int64_t(fixnum_value(zone)) * 3600);
  if (!gmtime_r(&tt, &tm)) return lisp_error(E_WRONG_TYPE, time);
  return decoded(tm, false, zone);
}

}  // namespace

// 369 (time &optional time-zone)
Value bi_decode_time(Value a, Value) {
  check_max_args(2);
  return decode(a, arg_count() >= 2 ? arg(2) : NIL);
}

// 371: the current time, decoded in the local zone
Value bi_get_decoded_time(Value, Value) { return decode(mem_make_integer(::time(nullptr)), NIL); }

// 372
Value bi_get_time(Value, Value) { return mem_make_integer(int64_t(::time(nullptr))); }

// 370 (second minute hour date month year &optional time-zone)
Value bi_encode_time(Value, Value) {
  check_max_args(7);
  static const int32_t lo[6] = {0, 0, 0, 1, 1, 0};
  static const int32_t hi[6] = {59, 59, 23, 31, 12, kMaxYear};
  int32_t f[6];
  for (uint32_t k = 0; k < 6; k++) {
    Value v = arg(k + 1);
    if (!is_fixnum(v) || fixnum_value(v) < lo[k] || fixnum_value(v) > hi[k])
      return lisp_error(E_WRONG_TYPE, v);
    f[k] = fixnum_value(v);
  }
  Value zone = arg_count() >= 7 ? arg(7) : NIL;
  if (!nil_p(zone) && !is_fixnum(zone)) return lisp_error(E_WRONG_TYPE, zone);
  struct tm tm = {};
  tm.tm_sec = f[0];
  tm.tm_min = f[1];
  tm.tm_hour = f[2];
  tm.tm_mday = f[3];
  tm.tm_mon = f[4] - 1;
  tm.tm_year = f[5];
  int64_t t;
  if (nil_p(zone)) {
    tm.tm_isdst = -1;  // the host decides whether summer time applies
    t = int64_t(mktime(&tm));
  } else {
    t = int64_t(timegm(&tm)) + int64_t(fixnum_value(zone)) * 3600;
  }
  return mem_make_integer(t);
}

// 375 (special form: form) evaluates the form, reports the elapsed
// seconds on the trace output and returns the form's values.
Value sf_time(Value args, Value) {
  if (!cons_p(args) || cons_p(cdr(args))) return lisp_error(E_FEW_ARGS);
  ThreadState* ts = zvts;
  uint16_t base = ts->septr;
  root_push(&args);
  print_message(FS_STATUS_STREAM, MSG_TIMING);
  Clock::time_point start = Clock::now();
  Value first = eval(args);
  Clock::time_point end = Clock::now();
  root_pop();
  // The values wait on the Lisp stack while the report is printed.
  uint32_t n = values_push(first);
  int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
  Value seconds = mem_make_double(double(ms) / 1000.0);
  print_message(FS_TRACE_OUTPUT, MSG_ELAPSED, seconds);
  ts->septr = static_cast<uint16_t>(base - n);
  ts->mv_count = static_cast<uint16_t>(n);
  ts->mv_base = base;
  return n ? ts->stack[base - 1].arg : NIL;
}

// 376 (seconds): waits in short naps, so other threads run and a keyboard
// interrupt is answered at once rather than after the whole pause.
Value bi_sleep(Value a, Value) {
  double seconds;
  if (is_fixnum(a))
    seconds = fixnum_value(a);
  else if (tag_of(a) == TAG_DOUBLE)
    seconds = double_value(a);
  else
    return lisp_error(E_WRONG_TYPE, a);
  // Truncated to milliseconds; a pause longer than a year is not a pause.
  if (!(seconds > 0)) return NIL;
  if (seconds > 366.0 * 86400) seconds = 366.0 * 86400;
  int64_t ms = int64_t(seconds * 1000.0);
  Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (keyboard_interrupt_pending()) break;
    if (interrupt_pending_bits()) interrupt_poll();  // output to show before the pause goes on
    int64_t left =
        std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now()).count();
    if (left <= 0) break;
    host_sleep_ms(left < 20000 ? unsigned((left + 999) / 1000) : 20);
  }
  return NIL;
}

namespace {

// Real time counts from the kernel's start, so that it stays a small number
// and never jumps when the world is replaced.
const Clock::time_point real_time_origin = Clock::now();

}  // namespace

// 472 (&optional run): milliseconds of real time since the kernel started,
// or with a true argument of processor time used by the process.
Value bi_internal_time(Value, Value) {
  check_max_args(1);
  bool run = arg_count() >= 1 && !nil_p(arg(1));
  if (run) {
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return mem_make_integer(int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
  }
  return mem_make_integer(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - real_time_origin)
          .count());
}
