#include "hostlink/ping.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace torvan::hostlink {
namespace {

TEST(IcmpStatusText, TheServiceTextsAsTheyStand) {
  struct Row {
    int32_t code;
    const char* text;
  };
  const Row rows[] = {{0, "Success"},
                      {11001, "Buffer to small"},
                      {11003, "Destination host unreachable"},
                      {11010, "Requested IP timed out"},
                      {11013, "Time to live expired transmition"},
                      {11014, "Time ti live expired reassem"},
                      {11050, "General failure"},
                      {11255, "Ip pending"},
                      {11024, "Unindentified"},
                      {42, "Unindentified"},
                      {kIcmpNoPermission, "No permission to ping"}};
  for (const Row& r : rows) EXPECT_EQ(r.text, Icmp_StatusText(r.code)) << r.code;
}

TEST(PingHost, LoopbackAnswersOrPermissionIsMissing) {
  const PingResult r = Ping_Host(20, 1000, inet_addr("127.0.0.1"));
  if (r.failed) {
    EXPECT_EQ("*** errore : No permission to ping", r.message);
    EXPECT_EQ(1000, r.milliseconds);
  } else {
    EXPECT_EQ("   OK : completato in " + std::to_string(r.milliseconds) + "ms.", r.message);
    EXPECT_LE(0, r.milliseconds);
    EXPECT_GE(1000, r.milliseconds);
  }
}

TEST(PingHost, AnAddressNobodyAnswersFailsWithAStatusTextAndTheTimeOut) {
  // 198.51.100.0/24 is reserved for documentation: no host answers there (a router may
  // say it is unreachable, or the echo times out).
  const PingResult r = Ping_Host(20, 100, inet_addr("198.51.100.1"));
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(100, r.milliseconds);
  EXPECT_EQ(0u, r.message.rfind("*** errore : ", 0)) << r.message;
  EXPECT_NE("*** errore : Success", r.message);
}

}  // namespace
}  // namespace torvan::hostlink
