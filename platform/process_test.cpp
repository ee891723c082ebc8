#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace torvan::platform {
namespace {

TEST(ProcessTest, AliveUntilKilledZombiesIncluded) {
  EXPECT_TRUE(ProcessAlive(::getpid()));
  EXPECT_FALSE(ProcessAlive(0));
  EXPECT_FALSE(ProcessAlive(-1));
  // Killed and not reaped yet (a zombie): gone.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  for (int i = 0; i < 500 && ProcessAlive(child); ++i) ::usleep(2000);
  EXPECT_FALSE(ProcessAlive(child));
  ASSERT_EQ(child, ::waitpid(child, nullptr, 0));
  EXPECT_FALSE(ProcessAlive(child));
}

}  // namespace
}  // namespace torvan::platform
