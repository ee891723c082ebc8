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

// The wait for the answer, on a datagram socket pair standing for the ICMP socket: polls of
// 10 ms at most that let events run, until the answer, the time-out or a stop request.
TEST(EchoWait, EndsAtTheAnswerTheTimeOutOrAStop) {
  const struct {
    const char* what;
    int timeout_ms;
    uint16_t reply;       // the sequence of the echo that comes, 0: none
    const char* message;  // "": the answer came
    int events;           // at least; -1: exactly one
  } rows[] = {
      {"the answer", 5000, 7, "", 0},
      {"somebody else's echo", 100, 8, "*** errore : Requested IP timed out", 5},
      {"a stop request", 60000, 0, "*** errore : Attesa interrotta", -1},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    testing::TestProgram test;
    int sv[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv));
    EchoWait wait;
    wait.fd = sv[0];
    wait.sequence = htons(7);
    wait.sent = std::chrono::steady_clock::now();
    wait.timeout_ms = r.timeout_ms;
    icmphdr h{};
    h.type = ICMP_ECHOREPLY;
    h.un.echo.sequence = htons(r.reply);
    if (r.reply != 0) (void)::send(sv[1], &h, sizeof h, 0);
    if (r.events < 0) test.pump.on_events = [&] { test.program.state.Fine_Richiesta = true; };
    const PingResult p = AwaitEcho(test.program, wait);
    ::close(sv[0]);
    ::close(sv[1]);
    EXPECT_EQ(
        *r.message ? r.message : "   OK : completato in " + std::to_string(p.milliseconds) + "ms.",
        p.message);
    EXPECT_EQ(*r.message != 0, p.failed);
    EXPECT_TRUE(*r.message == 0 || p.milliseconds == r.timeout_ms) << p.milliseconds;
    EXPECT_TRUE(r.events < 0 ? test.pump.events == 1 : test.pump.events >= r.events)
        << test.pump.events;
  }
}

}  // namespace
}  // namespace torvan::hostlink
