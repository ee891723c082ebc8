#include "hostlink/exchange.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "hostlink/test_peer.h"

namespace torvan::hostlink {
namespace {

using testing::PeerConnection;
using testing::ScriptedPeer;
using testing::TestProgram;

// Host bytes of the reply header fields.
const std::string kServed = "\xF0";
const std::string kRefused = "\xF1";
std::string Zoned(int n) {
  std::string s(5, '\0');
  for (int i = 4; i >= 0; --i, n /= 10) s[size_t(i)] = char(0xF0 | (n % 10));
  return s;
}

// The lines said: none for "", else that one.
std::vector<std::string> Said(const char* line) {
  return *line == '\0' ? std::vector<std::string>{} : std::vector<std::string>{line};
}

class ExchangeTest : public ::testing::Test {
 protected:
  ExchangeTest() {
    EXPECT_TRUE(socket_.Sock_Start(TORVAN_SHIPPED_CHAR_TABLE));
    SocketLayer::PollLimits limits;
    limits.read = 200;
    socket_.SetPollLimitsForTesting(limits);
  }
  // A peer that reads one request of `request_length` bytes, answers `reply` and then
  // closes (`close_after`) or waits for the client to go.
  std::unique_ptr<ScriptedPeer> Peer(size_t request_length, std::string reply,
                                     bool close_after = false) {
    auto peer = std::make_unique<ScriptedPeer>([=, this](PeerConnection& c) {
      c.Read(request_length, &request_);
      c.Write(reply);
      if (!close_after) c.SeesEnd();
    });
    EXPECT_TRUE(socket_.Sock_Connect(SocketLayer::kLinkSlot, "127.0.0.1", peer->port(), nullptr));
    return peer;
  }
  std::string Host(std::string_view pc) const { return socket_.tables().ToHost(pc); }

  TestProgram test_;
  SocketLayer socket_{test_.program};
  std::string request_;
  int32_t counter_ = 0;
};

struct Row {
  const char* what;
  std::string routine;
  char code;  // 'R': a statement, with its own wording and two counters
  std::string data;
  std::string reply;  // host bytes; the peer closes after sending them
  ExchangeReply::Outcome outcome;
  int32_t length;
  const char* message;    // the one line said, or ""
  bool repeated = false;  // a statement sent again
};

TEST_F(ExchangeTest, OutcomesAndTheirMessages) {
  using O = ExchangeReply::Outcome;
  const std::string change(400, '\xC1');
  const std::string statement = "DELETE FROM DATI/CLIENTI a WHERE RRN(a)=7";
  const Row rows[] = {
      {"S served", "Server_SQL_Sincro", 'S', "", kServed + Zoned(400) + change, O::kServed, 400,
       ""},
      {"S nothing waiting", "Server_SQL_Sincro", 'S', "", kRefused + Zoned(0), O::kRefused, 0, ""},
      {"S header cut", "Server_SQL_Sincro", 'S', "", kServed + "\xF0\xF0", O::kReadFailed, 0,
       "[Server_SQL_Sincro] Errore Sock_Read {S}(1)"},
      {"S data cut", "Server_SQL_Sincro", 'S', "", kServed + Zoned(400) + "\xC1\xC1",
       O::kReadFailed, 0, "[Server_SQL_Sincro] Errore Sock_Read {S}(2)"},
      {"S length not digits", "Server_SQL_Sincro", 'S', "", kServed + "\xF0\xC1\xF0\xF4\xF5",
       O::kReadFailed, 0, "[Server_SQL_Sincro] Errore Sock_Read {S}(2)"},
      {"S length above 8192", "Server_SQL_Sincro", 'S', "", kServed + Zoned(8193), O::kReadFailed,
       0, "[Server_SQL_Sincro] Errore Sock_Read {S}(2)"},
      {"S served with no data", "Server_SQL_Sincro", 'S', "", kServed + Zoned(0), O::kReadFailed, 0,
       "[Server_SQL_Sincro] Errore Sock_Read {S}(2)"},
      {"P refused at link start", "Server_AS_Start", 'P', std::string(20, '0'), kRefused + Zoned(0),
       O::kRefused, 0, "[Server_AS_Start] Errore Esito {P}"},
      {"P refused in the cycle", "Server_SQL_Sincro", 'P', std::string(20, '0'),
       kRefused + Zoned(0), O::kRefused, 0, "[Server_SQL_Sincro] Errore Esito {P}"},
      {"P header not read", "Server_AS_Start", 'P', std::string(20, '0'), "", O::kReadFailed, 0,
       "[Server_AS_Start] Errore Sock_Read {P}(1)"},
      {"T refused", "Server_AS_Start", 'T', std::string(20, '0'), kRefused + Zoned(0), O::kRefused,
       0, "[Server_AS_Start] Errore Esito {T}"},
      {"T data cut", "Server_SQL_Sincro", 'T', std::string(20, '0'), kServed + Zoned(45),
       O::kReadFailed, 0, "[Server_SQL_Sincro] Errore Sock_Read {T}(2)"},
      {"database list ends", "Carica_File", '3', "S", kRefused + Zoned(0), O::kRefused, 0, ""},
      {"field list header cut", "Carica_File", '2', std::string(21, ' '), "\xF0", O::kReadFailed, 0,
       "[Carica_File] Errore Sock_Read {2}(1)"},
      {"file list data cut", "Carica_File", '1', "N", kServed + Zoned(10), O::kReadFailed, 0,
       "[Carica_File] Errore Sock_Read {1}(2)"},
      {"I chunk ends silently", "Server_SQL_Sincro", 'I', std::string(21, ' '), kRefused + Zoned(0),
       O::kRefused, 0, ""},
      {"I header cut silently", "Server_SQL_Sincro", 'I', std::string(21, ' '), "\xF0",
       O::kReadFailed, 0, ""},
      {"I data cut silently", "Server_SQL_Sincro", 'I', std::string(21, ' '),
       kServed + Zoned(100) + "xyz", O::kReadFailed, 0, ""},
      {"statement executed", "Server_SQL_Ritorno", 'R', statement, kServed + Zoned(1) + Host(" "),
       O::kServed, 1, ""},
      {"statement refused", "Server_SQL_Ritorno", 'R', statement, kRefused + Zoned(0), O::kRefused,
       0, "[Server_SQL_Ritorno] Errore stato"},
      {"statement status not read", "Server_SQL_Ritorno", 'R', statement, kServed + Zoned(1),
       O::kReadFailed, 0, "[Server_SQL_Ritorno] Errore lettura stato"},
      {"statement bad length", "Server_SQL_Ritorno", 'R', statement,
       kServed + "\x40\x40\x40\x40\xF1", O::kReadFailed, 0,
       "[Server_SQL_Ritorno] Errore lettura stato", true},
      {"statement header not read", "Server_SQL_Ritorno", 'R', statement, "", O::kReadFailed, 0,
       "[Server_SQL_Ritorno] Errore Sock_Read {R}(1)"},
      {"statement header not read again", "Server_SQL_Ritorno", 'R', statement, "", O::kReadFailed,
       0, "[Server_SQL_Ritorno] Errore Sock_Read {R}(2)", true},
  };

  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    test_.messages.clear();
    request_.clear();
    auto peer = Peer(6 + r.data.size(), r.reply, true);
    int32_t header_polls = 0, data_polls = 0;
    ExchangeReply reply =
        r.code == 'R' ? ExchangeStatement(socket_, test_.program, r.routine, r.data, r.repeated,
                                          header_polls, data_polls)
                      : Exchange(socket_, test_.program, r.routine, r.code, r.data, counter_);
    peer->Join();
    EXPECT_EQ(Host(std::string(1, r.code) + ZeroPad(int64_t(r.data.size()), 5) + r.data), request_);
    if (r.code == 'S') {
      EXPECT_EQ("\xE2\xF0\xF0\xF0\xF0\xF0", request_);
    }
    EXPECT_EQ(int(r.outcome), int(reply.outcome));
    EXPECT_EQ(r.length, reply.length);
    EXPECT_EQ(Said(r.message), test_.messages);
    // A reply read whole, refused or not, leaves the link open; a failed read closes it.
    EXPECT_EQ(r.outcome != ExchangeReply::Outcome::kReadFailed,
              socket_.connected(SocketLayer::kLinkSlot));
    if (r.code == 'R' && r.reply.empty()) {
      EXPECT_EQ(0, data_polls);  // only the header's waits were counted
    }
  }
}

TEST_F(ExchangeTest, AnExchangeThatGaveUpClosesTheLinkSoALateAnswerIsNeverTaken) {
  std::vector<std::string> seen;
  ScriptedPeer peer([&](PeerConnection& c) {
    std::string request;
    c.Read(6, &request);
    seen.push_back(request);
    // The answer is too late: Torvan gave up after 200 empty polls and closed the link.
    seen.push_back(c.SeesEnd() ? "end" : "still open");
    c.Write(kServed + Zoned(3) + Host("OLD"));
  });
  ASSERT_TRUE(socket_.Sock_Connect(SocketLayer::kLinkSlot, "127.0.0.1", peer.port(), nullptr));
  EXPECT_EQ(ExchangeReply::Outcome::kReadFailed,
            Exchange(socket_, test_.program, "Server_SQL_Sincro", 'S', "", counter_).outcome);
  EXPECT_FALSE(socket_.connected(SocketLayer::kLinkSlot));
  // The next request fails at once instead of taking the old answer for its own.
  const int32_t polls = counter_;
  EXPECT_EQ(ExchangeReply::Outcome::kReadFailed,
            Exchange(socket_, test_.program, "Server_SQL_Sincro", 'S', "", counter_).outcome);
  EXPECT_EQ(polls, counter_);
  peer.Join();
  const std::vector<std::string> requests = {Host("S00000"), "end"};
  EXPECT_EQ(requests, seen);
  const std::vector<std::string> messages = {"[Server_SQL_Sincro] Errore Sock_Read {S}(1)",
                                             "[Server_SQL_Sincro] Errore Sock_Read {S}(1)"};
  EXPECT_EQ(messages, test_.messages);
}

// Replies are taken one by one, in step with the requests: what follows a served reply
// (here a refusal that came early) is the next exchange's, and a refusal keeps the link.
TEST_F(ExchangeTest, AServedOrRefusedReplyLeavesTheLinkInStep) {
  std::string p_data = Host("20261205220000202612060600002026120514050912");
  p_data += Host("3");  // 45 bytes
  const std::string next = kRefused + Zoned(0);
  ScriptedPeer peer([&](PeerConnection& c) {
    std::string request;
    c.Read(26, &request);
    c.Write(kServed + Zoned(45) + p_data + next);
    c.Read(6, &request);
    c.Read(6, &request);
    c.Write(kServed + Zoned(3) + Host("NEW"));
    c.SeesEnd();
  });
  ASSERT_TRUE(socket_.Sock_Connect(SocketLayer::kLinkSlot, "127.0.0.1", peer.port(), nullptr));
  ExchangeReply reply =
      Exchange(socket_, test_.program, "Server_SQL_Sincro", 'P', std::string(20, '0'), counter_);
  ASSERT_TRUE(reply.served());
  EXPECT_EQ(45, reply.length);
  EXPECT_EQ("20261205220000", socket_.Field_Decode('A', 1, 14, 14, 0).text);
  EXPECT_EQ("20261206060000", socket_.Field_Decode('A', 15, 14, 14, 0).text);
  EXPECT_EQ("202612051405091", socket_.Field_Decode('A', 29, 15, 15, 0).text);
  EXPECT_EQ(next.size(), socket_.ReceiveFill());
  EXPECT_EQ(ExchangeReply::Outcome::kRefused,
            Exchange(socket_, test_.program, "Server_SQL_Sincro", 'S', "", counter_).outcome);
  ASSERT_TRUE(Exchange(socket_, test_.program, "Server_SQL_Sincro", 'S', "", counter_).served());
  EXPECT_EQ("NEW", socket_.Field_Decode('A', 1, 3, 3, 0).text);
  socket_.Sock_Close(SocketLayer::kLinkSlot);
}

TEST_F(ExchangeTest, ImageChunksComeRawAndLeaveMessageBufferAlone) {
  const std::string chunk("\x89PNG\r\n\x1A\n\x00\xFF", 10);
  auto peer = Peer(27, kServed + Zoned(10) + chunk);
  const std::string before(socket_.MessageBuffer().substr(0, 16));
  ExchangeReply reply = Exchange(socket_, test_.program, "Server_SQL_Sincro", 'I',
                                 "IMG0000001100001000001", counter_);
  ASSERT_TRUE(reply.served());
  EXPECT_EQ(chunk, reply.raw);
  EXPECT_EQ(10, reply.length);
  EXPECT_EQ(Host("0") + Zoned(10), socket_.MessageData());  // only the header went there
  socket_.Sock_Close(SocketLayer::kLinkSlot);
}

TEST_F(ExchangeTest, TheGreetingIsABareHeaderWithOutcomeZero) {
  struct {
    const char* what;
    std::string bytes;  // then the peer waits for the end, or closes when they are cut
    bool greeted, still_connected;
  } rows[] = {
      {"outcome zero", "\xF0\x40\x40\x40\x40\x40", true, true},
      {"outcome one, read whole", "\xF1\xF0\xF0\xF0\xF0\xF0", false, true},
      {"cut short", "\xF0\xF0", false, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    auto peer = Peer(0, r.bytes, r.bytes.size() < 6);
    EXPECT_EQ(r.greeted, ReadGreeting(socket_, counter_));
    EXPECT_EQ(r.still_connected, socket_.connected(SocketLayer::kLinkSlot));
    socket_.Sock_Close(SocketLayer::kLinkSlot);
  }
  EXPECT_TRUE(test_.messages.empty());
}

}  // namespace
}  // namespace torvan::hostlink
