#include "hostsim/reply_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvan::hostsim {
namespace {

using std::chrono::milliseconds;

const SteadyClock::time_point kT0{};

Faults::Shape Shape(int delay = 0, int split = 0, int pair = -1, int cut = -1) {
  Faults::Shape s;
  s.delay_ms = delay;
  s.split = split;
  s.pair_hold_ms = pair;
  s.close_after = cut;
  return s;
}

// The segments that leave by `ms` after the start, "|" between them, "#" for the cut.
std::string Drain(ReplyQueue& q, int ms) {
  const auto now = kT0 + milliseconds(ms);
  q.ReleaseHeld(now);
  std::string out;
  do {
    if (q.sending().empty()) continue;
    out += (out.empty() ? "" : "|") + std::string(q.sending());
    q.Sent(q.sending().size());
  } while (!q.ends() && q.Next(now));
  return q.ends() ? out + "#" : out;
}

TEST(ReplyQueueTest, ShapesLeaveInOrderAtTheirTime) {
  struct Add {
    std::string reply;
    Faults::Shape shape;
  };
  const struct {
    const char* name;
    std::vector<Add> adds;
    std::vector<std::pair<int, std::string>> drains;  // at ms: what leaves
  } cases[] = {
      {"plain replies join the segment", {{"AB", Shape()}, {"CD", Shape()}}, {{0, "ABCD"}}},
      {"a delayed reply waits", {{"AB", Shape(10)}}, {{9, ""}, {10, "AB"}}},
      {"a plain reply behind a delayed one waits too",
       {{"AB", Shape(10)}, {"CD", Shape()}},
       {{0, ""}, {10, "AB|CD"}}},
      {"split into pieces 2 ms apart", {{"ABCDE", Shape(0, 2)}}, {{0, "AB"}, {3, "CD"}, {4, "E"}}},
      {"held, then sent with the next", {{"AB", Shape(0, 0, 100)}, {"CD", Shape()}}, {{0, "ABCD"}}},
      {"held, then alone when no reply comes", {{"AB", Shape(0, 0, 100)}}, {{99, ""}, {100, "AB"}}},
      {"cut short, and nothing after",
       {{"ABCDEF", Shape(0, 0, -1, 3)}, {"GH", Shape()}},
       {{0, "ABC#"}}},
      {"cut at nothing", {{"ABCDEF", Shape(0, 0, -1, 0)}}, {{0, "#"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReplyQueue q;
    size_t bytes = 0;
    for (const Add& a : c.adds) {
      q.Add(a.reply, a.shape, kT0);
      bytes += a.reply.size();
    }
    EXPECT_EQ(q.cut() ? q.unsent() : bytes, q.unsent());
    for (const auto& [ms, expected] : c.drains) EXPECT_EQ(expected, Drain(q, ms)) << ms << " ms";
    EXPECT_EQ(0u, q.unsent());
    EXPECT_FALSE(q.timed());
  }
}

TEST(ReplyQueueTest, BudgetsKeepToEachCapAndTheTotal) {
  ReplyCaps caps(10, 40, 60);  // replies of 10 bytes at the most
  ReplyQueue a(&caps), b(&caps), c(&caps), d(&caps);
  EXPECT_EQ(30u, c.Budget());  // alone: its own cap, less one reply
  a.Append(std::string(30, 'a'));
  EXPECT_EQ(0u, a.Budget());
  EXPECT_TRUE(a.Account());  // at its cap
  b.Append(std::string(15, 'b'));
  EXPECT_FALSE(b.Account());
  EXPECT_EQ(45u, caps.total_unsent());
  EXPECT_EQ(5u, b.Budget());  // the total leaves 5 before the last reply's room
  EXPECT_EQ(5u, c.Budget());
  d.Append(std::string(10, 'd'));
  d.Account();
  EXPECT_EQ(0u, b.Budget());  // over the total: only a queue with nothing waiting...
  EXPECT_EQ(1u, c.Budget());  // ...gets a reply, one at a time
  a.Release();
  EXPECT_EQ(25u, caps.total_unsent());
  EXPECT_EQ(25u, c.Budget());
  EXPECT_EQ(SIZE_MAX, ReplyQueue().Budget());  // no caps

  ReplyCaps small(10, 5, 5);  // raised to two replies each
  ReplyQueue e(&small);
  EXPECT_EQ(10u, e.Budget());
}

}  // namespace
}  // namespace torvan::hostsim
