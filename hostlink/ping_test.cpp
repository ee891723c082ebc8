#include "hostlink/ping.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "hostlink/test_peer.h"

namespace torvan::hostlink {
namespace {

// Codes outside the service's own, and the gaps among them, are "Unindentified".
TEST(IcmpStatusText, UnknownCodesAreUnidentified) {
  EXPECT_EQ("Time ti live expired reassem", Icmp_StatusText(11014));
  EXPECT_EQ("Unindentified", Icmp_StatusText(11024));
  EXPECT_EQ("Unindentified", Icmp_StatusText(42));
}

TEST(PingHost, LoopbackAnswersOrPermissionIsMissing) {
  testing::TestProgram test;
  const PingResult r = Ping_Host(test.program, 20, 1000, inet_addr("127.0.0.1"));
  if (r.failed) {
    EXPECT_EQ("*** errore : No permission to ping", r.message);
    EXPECT_EQ(1000, r.milliseconds);
  } else {
    EXPECT_EQ("   OK : completato in " + std::to_string(r.milliseconds) + "ms.", r.message);
    EXPECT_LE(0, r.milliseconds);
    EXPECT_GE(1000, r.milliseconds);
  }
}

// The wait for the answer, on a datagram socket pair standing for the ICMP socket.
class EchoWaitTest : public ::testing::Test {
 protected:
  EchoWaitTest() {
    int sv[2];
    EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv));
    ours_ = sv[0];
    network_ = sv[1];
    wait_.fd = ours_;
    wait_.sequence = htons(7);
    wait_.sent = std::chrono::steady_clock::now();
  }
  ~EchoWaitTest() override {
    ::close(ours_);
    ::close(network_);
  }
  void Reply(uint16_t sequence) {
    icmphdr h{};
    h.type = ICMP_ECHOREPLY;
    h.un.echo.sequence = htons(sequence);
    ASSERT_EQ(ssize_t(sizeof h), ::send(network_, &h, sizeof h, 0));
  }

  testing::TestProgram test_;
  int ours_ = -1, network_ = -1;
  EchoWait wait_;
};

TEST_F(EchoWaitTest, TheAnswerEndsTheWait) {
  wait_.timeout_ms = 5000;
  Reply(7);
  const PingResult r = AwaitEcho(test_.program, wait_);
  EXPECT_EQ("   OK : completato in " + std::to_string(r.milliseconds) + "ms.", r.message);
}

TEST_F(EchoWaitTest, NoAnswerIsAwaitedInPollsThatLetEventsRun) {
  wait_.timeout_ms = 100;
  Reply(8);  // somebody else's echo
  const PingResult r = AwaitEcho(test_.program, wait_);
  EXPECT_TRUE(r.failed);
  EXPECT_EQ("*** errore : Requested IP timed out", r.message);
  EXPECT_EQ(100, r.milliseconds);
  EXPECT_GE(test_.pump.events, 5);  // polls of 10 ms at most
}

TEST_F(EchoWaitTest, AStopRequestEndsTheWaitAtTheNextPoll) {
  wait_.timeout_ms = 60000;  // only the stop can end this wait in time
  test_.pump.on_events = [&] { test_.program.state.Fine_Richiesta = true; };
  const PingResult r = AwaitEcho(test_.program, wait_);
  EXPECT_TRUE(r.failed);
  EXPECT_EQ("*** errore : Attesa interrotta", r.message);
  EXPECT_EQ(60000, r.milliseconds);
  EXPECT_EQ(1, test_.pump.events);
}

}  // namespace
}  // namespace torvan::hostlink
