// The clock's fields; timers, fake and Qt's: one shot each, a killed one never, callbacks
// starting and killing them.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <vector>

#include "platform/fakes.h"
#include "platform/qt_loop.h"

namespace torvan::platform {
namespace {

using std::chrono::milliseconds;

TEST(Clock, FieldsSurviveArithmeticAndTimesBecomeTextsAndSeconds) {
  LocalDateTime t{2026, 12, 31, 23, 59, 59, 999};
  EXPECT_EQ(t, ToFields(ToLocalTime(t)));
  LocalDateTime next = ToFields(ToLocalTime(t) + std::chrono::milliseconds(1));
  EXPECT_EQ((LocalDateTime{2027, 1, 1, 0, 0, 0, 0}), next);
  EXPECT_EQ(std::chrono::milliseconds(172800), Days(0.002));
  EXPECT_EQ(std::chrono::milliseconds(86400000), Days(1));
  EXPECT_EQ("20260305090807", FormatYmdHns({2026, 3, 5, 9, 8, 7, 6}));
  EXPECT_DOUBLE_EQ(3600 + 120 + 3.5, SecondsSinceMidnight({2026, 1, 1, 1, 2, 3, 500}));
}

// The fake fires once, in due order, on the monotonic clock only: the wall clock set by the
// host changes nothing. A pause lets the pump fire due timers; a stop request ends it.
TEST(FakeTimers, FireOnceInDueOrderOnTheMonotonicClockAndInPauses) {
  FakeClock clock;
  FakeTimers timers(clock);
  FakePump pump(&clock, &timers);
  std::string fired;
  timers.Start(milliseconds(300), [&] { fired += "late "; });
  timers.Start(milliseconds(100), [&] { fired += "early "; });
  const TimerId killed = timers.Start(milliseconds(50), [&] { fired += "killed "; });
  for (TimerId id : {killed, killed, TimerId(0)}) timers.Kill(id);  // twice, and one never made
  clock.Set({2030, 1, 1, 0, 0, 0, 0});
  EXPECT_EQ(0, timers.FireDue());
  timers.AdvanceBy(milliseconds(99));
  EXPECT_EQ("", fired);
  timers.AdvanceBy(milliseconds(1));
  EXPECT_EQ("early ", fired);
  timers.AdvanceBy(milliseconds(1000));
  EXPECT_EQ("early late ", fired);
  EXPECT_EQ(0u, timers.pending());

  timers.Start(milliseconds(200), [&] { fired += "paused "; });
  for (const char* expected : {"early late ", "early late paused "}) {
    EXPECT_TRUE(PauseLettingEventsRun(pump, 1, milliseconds(100)));
    EXPECT_EQ(expected, fired);
  }
  int asked = 0;
  EXPECT_FALSE(PauseLettingEventsRun(pump, 150, milliseconds(200), [&] { return ++asked == 3; }));
  EXPECT_EQ(std::pair(5, milliseconds(800)), std::pair(pump.sleeps, pump.slept));
}

// One shot each, a killed one never; a callback may kill itself and start another.
TEST(QtTimers, OneShotKillAndACallbackStartingAnother) {
  static int argc = 1;
  static char name[] = "timer_test";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);  // kept
  QtPump pump;
  QtTimers timers;
  auto run_until = [&](const std::function<bool()>& done) {  // or about two seconds
    for (int i = 0; i < 400 && !done(); ++i) pump.Sleep(milliseconds(5)), pump.ProcessEvents();
  };
  int a = 0, b = 0, second = 0;
  TimerId id = 0;
  timers.Start(milliseconds(20), [&] { ++a; });
  timers.Kill(timers.Start(milliseconds(10), [&] { ++b; }));
  id = timers.Start(milliseconds(5), [&] {
    timers.Kill(id);  // already fired: nothing happens
    timers.Start(milliseconds(5), [&] { ++second; });
  });
  run_until([&] { return a > 0 && second > 0; });
  run_until([] { return false; });  // a while longer: nothing fires twice
  EXPECT_EQ(std::tuple(1, 0, 1), std::tuple(a, b, second));
}

}  // namespace
}  // namespace torvan::platform
