// The clock built-ins: decoding and encoding calendar times in a given and
// in the local zone, timing a form, pausing.
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <string>

#include "test_eval_fixture.h"

using namespace evaltest;

namespace {

class HostTime : public EvalTest {
 protected:
  void SetUp() override {
    EvalTest::SetUp();
    const char* tz = getenv("TZ");
    had_tz_ = tz != nullptr;
    if (had_tz_) old_tz_ = tz;
    // A zone with summer time, so the local cases mean something.
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    tzset();
  }
  void TearDown() override {
    if (had_tz_)
      setenv("TZ", old_tz_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    EvalTest::TearDown();
  }

  std::string values(const char* text) {
    Value v = NIL;
    uint32_t code = catching(text, &v);
    if (code) return "error " + std::to_string(code);
    return show_values(v);
  }

  int64_t integer(const char* text) {
    Value v = ev(text);
    return is_fixnum(v) ? fixnum_value(v) : int64_value(v);
  }

  bool had_tz_ = false;
  std::string old_tz_;
};

TEST_F(HostTime, DecodeInAGivenZoneIgnoresTheLocalZone) {
  EXPECT_EQ(values("(%decode-time 0 0)"), "0 0 0 1 1 70 4 NIL 0");
  // Five hours west: still the last evening of 1969.
  EXPECT_EQ(values("(%decode-time 0 5)"), "0 0 19 31 12 69 3 NIL 5");
  EXPECT_EQ(values("(%decode-time (+ (* 17092 100000) 10096) 0)"), "56 34 12 29 2 124 4 NIL 0");
  EXPECT_EQ(values("(%decode-time -1 0)"), "59 59 23 31 12 69 3 NIL 0");
}

TEST_F(HostTime, DecodeInTheLocalZoneReportsSummerTime) {
  // Winter: standard time, five hours behind.
  EXPECT_EQ(values("(%decode-time 0)"), "0 0 19 31 12 69 3 NIL 5");
  // 1 July 2020 12:00 UTC is 8:00 summer time; the zone stays 5.
  EXPECT_EQ(values("(%decode-time (+ (* 1593604 1000) 800))"), "0 0 8 1 7 120 3 T 5");
  // NIL as the zone means the local one.
  EXPECT_EQ(values("(%decode-time 0 nil)"), "0 0 19 31 12 69 3 NIL 5");
}

TEST_F(HostTime, EncodeInvertsDecode) {
  EXPECT_EQ(integer("(%encode-time 0 0 0 1 1 70 0)"), 0);
  EXPECT_EQ(integer("(%encode-time 0 0 0 1 1 70 5)"), 5 * 3600);
  EXPECT_EQ(integer("(%encode-time 56 34 12 29 2 124 0)"), 1709210096);
  EXPECT_EQ(integer("(%encode-time 59 59 23 31 12 8099 0)"), 253402300799LL);
  // Local fields in winter and in summer.
  EXPECT_EQ(integer("(%encode-time 0 0 19 31 12 69)"), 0);
  EXPECT_EQ(integer("(%encode-time 0 0 8 1 7 120)"), 1593604800);
}

TEST_F(HostTime, EncodeRefusesFieldsOutOfRange) {
  const char* bad[] = {
      "(%encode-time 60 0 0 1 1 70)",   "(%encode-time 0 -1 0 1 1 70)",
      "(%encode-time 0 0 24 1 1 70)",   "(%encode-time 0 0 0 0 1 70)",
      "(%encode-time 0 0 0 1 13 70)",   "(%encode-time 0 0 0 1 1 -1)",
      "(%encode-time 0 0 0 1 1 8100)",  "(%encode-time 0 0 0 1 1 \"70\")",
      "(%encode-time 0 0 0 1 1 70 'x)", "(%decode-time \"0\")",
      "(%decode-time 0 'x)",
  };
  for (const char* text : bad) EXPECT_EQ(values(text), "error 5170") << text;
}

TEST_F(HostTime, SurplusArgumentsAreSignalled) {
  EXPECT_EQ(values("(%decode-time 0 0 1)"), "error 4148");
  EXPECT_EQ(values("(%encode-time 0 0 0 1 1 70 0 1)"), "error 4148");
}

TEST_F(HostTime, CurrentTime) {
  int64_t before = ::time(nullptr);
  int64_t now = integer("(%get-time)");
  int64_t after = ::time(nullptr);
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
  Value v = ev("(%get-decoded-time)");
  ASSERT_EQ(mv_count(), 9u);
  EXPECT_TRUE(is_fixnum(v));
  EXPECT_GE(fixnum_value(mv_value(v, 5)), 124);
  EXPECT_EQ(fixnum_value(mv_value(v, 8)), 5);
}

TEST_F(HostTime, TimeReportsOnTheTraceOutputAndKeepsTheValues) {
  Value trace = make_string_output_stream();
  sym_set_value(FS_TRACE_OUTPUT, trace);
  EXPECT_EQ(values("(time (t-values 1 2 3))"), "1 2 3");
  Value text = string_output_contents(sym_value(FS_TRACE_OUTPUT));
  std::string s(reinterpret_cast<char*>(string_bytes(text)), string_length(text));
  EXPECT_NE(s.find("Elapsed time: 0"), std::string::npos) << s;
  EXPECT_EQ(values("(time (t-values))"), "");
  EXPECT_EQ(values("(time)"), "error 1075");
  EXPECT_EQ(values("(time 1 2)"), "error 1075");
}

TEST_F(HostTime, SleepWaitsAboutAsLongAsAsked) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(values("(sleep 0)"), "NIL");
  EXPECT_EQ(values("(sleep -3)"), "NIL");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(values("(sleep 1)"), "NIL");
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(1000));
  EXPECT_LT(waited, std::chrono::milliseconds(3000));
  EXPECT_EQ(values("(sleep \"1\")"), "error 5170");
  EXPECT_EQ(values("(sleep 'x)"), "error 5170");
}

TEST_F(HostTime, SleepGivesWayToAKeyboardInterrupt) {
  auto start = std::chrono::steady_clock::now();
  interrupt_request(PENDING_KEYBOARD);
  Value v = zv_builtins[BI_SLEEP].fn(make_fixnum(30), NIL);
  keyboard_interrupt_clear();
  EXPECT_EQ(v, NIL);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
}

}  // namespace
