// Timers, fake and Qt's: one shot each, a killed one never, callbacks starting and killing them.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <vector>

#include "platform/fakes.h"
#include "platform/qt_loop.h"

namespace torvan::platform {
namespace {

using std::chrono::milliseconds;

// The fake fires on the monotonic clock only: the wall clock set by the host changes nothing.
TEST(FakeTimers, FireOnceInDueOrderOnTheMonotonicClock) {
  FakeClock clock;
  FakeTimers timers(clock);
  std::vector<std::string> fired;
  timers.Start(milliseconds(300), [&] { fired.push_back("late"); });
  timers.Start(milliseconds(100), [&] { fired.push_back("early"); });
  const TimerId killed = timers.Start(milliseconds(50), [&] { fired.push_back("killed"); });
  for (TimerId id : {killed, killed, TimerId(0)}) timers.Kill(id);  // twice, and one never made
  clock.Set({2030, 1, 1, 0, 0, 0, 0});
  EXPECT_EQ(0, timers.FireDue());
  timers.AdvanceBy(milliseconds(99));
  EXPECT_TRUE(fired.empty());
  timers.AdvanceBy(milliseconds(1));
  EXPECT_EQ((std::vector<std::string>{"early"}), fired);
  timers.AdvanceBy(milliseconds(1000));
  timers.AdvanceBy(milliseconds(1000));
  EXPECT_EQ((std::vector<std::string>{"early", "late"}), fired);
  EXPECT_EQ(0u, timers.pending());
  int ticks = 0;
  std::function<void()> tick = [&] {
    ++ticks;
    timers.Start(milliseconds(500), tick);
  };
  timers.Start(milliseconds(500), tick);
  timers.AdvanceBy(milliseconds(2000));
  EXPECT_EQ(4, ticks);
  EXPECT_EQ(1u, timers.pending());
}

// A pause lets the pump fire due timers; a stop request ends it at the next step.
TEST(Pause, LetsDueTimersFireAndEndsAtAStopRequest) {
  FakeClock clock;
  FakeTimers timers(clock);
  FakePump pump(&clock, &timers);
  int fired = 0;
  timers.Start(milliseconds(200), [&] { ++fired; });
  for (int expected : {0, 1}) {
    EXPECT_TRUE(PauseLettingEventsRun(pump, 1, milliseconds(100)));
    EXPECT_EQ(expected, fired);
  }
  int asked = 0;
  EXPECT_FALSE(PauseLettingEventsRun(pump, 150, milliseconds(200), [&] { return ++asked == 3; }));
  EXPECT_EQ(std::pair(5, milliseconds(800)), std::pair(pump.sleeps, pump.slept));
}

class QtTimersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "timer_test";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);  // kept
  }
  // Lets the loop run until `done` or about two seconds have passed.
  void RunUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 400 && !done(); ++i) pump_.Sleep(milliseconds(5)), pump_.ProcessEvents();
  }
  QtPump pump_;
  QtTimers timers_;
};

TEST_F(QtTimersTest, OneShotAndKill) {
  int a = 0, b = 0;
  timers_.Start(milliseconds(20), [&] { ++a; });
  TimerId killed = timers_.Start(milliseconds(10), [&] { ++b; });
  timers_.Kill(killed);
  RunUntil([&] { return a > 0; });
  RunUntil([] { return false; });  // a while longer: nothing fires twice
  EXPECT_EQ(std::pair(1, 0), std::pair(a, b));
}

TEST_F(QtTimersTest, ACallbackMayKillItselfAndStartAnother) {
  int first = 0, second = 0;
  TimerId id = 0;
  id = timers_.Start(milliseconds(5), [&] {
    ++first;
    timers_.Kill(id);  // already fired: nothing happens
    timers_.Start(milliseconds(5), [&] { ++second; });
  });
  RunUntil([&] { return second > 0; });
  EXPECT_EQ(std::pair(1, 1), std::pair(first, second));
}

}  // namespace
}  // namespace torvan::platform
