#include "platform/clock.h"

#include <gtest/gtest.h>

namespace torvan::platform {
namespace {

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

}  // namespace
}  // namespace torvan::platform
