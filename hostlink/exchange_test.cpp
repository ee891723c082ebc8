#include "hostlink/exchange.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "hostlink/link_test_util.h"

namespace torvan::hostlink {
namespace {

using testing::PeerConnection;
using testing::ScriptedPeer;

// Host bytes of the reply header fields.
const std::string kServed = "\xF0";
const std::string kRefused = "\xF1";
std::string Zoned(int n) {
  std::string s(5, '\0');
  for (int i = 4; i >= 0; --i, n /= 10) s[size_t(i)] = char(0xF0 | (n % 10));
  return s;
}

class ExchangeTest : public testing::LinkTest {
 protected:
  ExchangeReply Sync(char code, const std::string& data = "") {
    return Exchange(socket_, test_.program, "Server_SQL_Sincro", code, data, counter_);
  }
};

TEST_F(ExchangeTest, OutcomesAndTheirMessages) {
  using O = ExchangeReply::Outcome;
  const char *start = "Server_AS_Start", *sync = "Server_SQL_Sincro", *back = "Server_SQL_Ritorno";
  const std::string zeros(20, '0'), blanks(21, ' '), change(400, '\xC1');
  const std::string statement = "DELETE FROM DATI/CLIENTI a WHERE RRN(a)=7";
  const struct {
    const char* what;
    const char* routine;
    char code;  // 'R': a statement, with its own wording and two counters
    std::string data;
    std::string reply;  // host bytes; the peer closes after sending them
    O outcome;
    int32_t length;
    const char* said;       // the one line said after "[routine] ", or ""
    bool repeated = false;  // a statement sent again
  } rows[] = {
      {"S served", sync, 'S', "", kServed + Zoned(400) + change, O::kServed, 400, ""},
      {"S nothing waiting", sync, 'S', "", kRefused + Zoned(0), O::kRefused, 0, ""},
      {"S header cut", sync, 'S', "", kServed + "\xF0\xF0", O::kReadFailed, 0,
       "Errore Sock_Read {S}(1)"},
      {"S data cut", sync, 'S', "", kServed + Zoned(400) + "\xC1\xC1", O::kReadFailed, 0,
       "Errore Sock_Read {S}(2)"},
      {"S served with no data", sync, 'S', "", kServed + Zoned(0), O::kReadFailed, 0,
       "Errore Sock_Read {S}(2)"},
      {"P refused at link start", start, 'P', zeros, kRefused + Zoned(0), O::kRefused, 0,
       "Errore Esito {P}"},
      {"T refused", start, 'T', zeros, kRefused + Zoned(0), O::kRefused, 0, "Errore Esito {T}"},
      {"I chunk ends silently", sync, 'I', blanks, kRefused + Zoned(0), O::kRefused, 0, ""},
      {"I data cut silently", sync, 'I', blanks, kServed + Zoned(100) + "xyz", O::kReadFailed, 0,
       ""},
      {"statement executed", back, 'R', statement, kServed + Zoned(1) + Host(" "), O::kServed, 1,
       ""},
      {"statement refused", back, 'R', statement, kRefused + Zoned(0), O::kRefused, 0,
       "Errore stato"},
      {"statement status not read", back, 'R', statement, kServed + Zoned(1), O::kReadFailed, 0,
       "Errore lettura stato"},
      {"statement bad length", back, 'R', statement, kServed + "\x40\x40\x40\x40\xF1",
       O::kReadFailed, 0, "Errore lettura stato", true},
      {"statement header not read", back, 'R', statement, "", O::kReadFailed, 0,
       "Errore Sock_Read {R}(1)"},
      {"statement header not read again", back, 'R', statement, "", O::kReadFailed, 0,
       "Errore Sock_Read {R}(2)", true},
  };

  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    test_.messages.clear();
    ScriptedPeer& peer = Answer(r.reply, /*then_close=*/true, 6 + r.data.size());
    int32_t header_polls = 0, data_polls = 0;
    ExchangeReply reply =
        r.code == 'R' ? ExchangeStatement(socket_, test_.program, r.routine, r.data, r.repeated,
                                          header_polls, data_polls)
                      : Exchange(socket_, test_.program, r.routine, r.code, r.data, counter_);
    peer.Join();
    EXPECT_EQ(Host(std::string(1, r.code) + ZeroPad(int64_t(r.data.size()), 5) + r.data), request_);
    EXPECT_TRUE(r.code != 'S' || request_ == "\xE2\xF0\xF0\xF0\xF0\xF0") << request_;
    EXPECT_EQ(int(r.outcome), int(reply.outcome));
    EXPECT_EQ(r.length, reply.length);
    EXPECT_EQ(*r.said ? std::vector{"[" + std::string(r.routine) + "] " + r.said}
                      : std::vector<std::string>{},
              test_.messages);
    // A reply read whole, refused or not, leaves the link open; a failed read closes it.
    EXPECT_EQ(r.outcome != O::kReadFailed, socket_.connected(kSlot));
    EXPECT_TRUE(r.code != 'R' || !r.reply.empty() || data_polls == 0);  // the header's waits only
  }
}

TEST_F(ExchangeTest, AnExchangeThatGaveUpClosesTheLinkSoALateAnswerIsNeverTaken) {
  std::vector<std::string> seen;
  ScriptedPeer& peer = Serve([&](PeerConnection& c) {
    seen.push_back(c.Read(6));
    seen.push_back(c.SeesEnd() ? "end" : "still open");  // Torvan gave up after 200 polls
    c.Write(kServed + Zoned(3) + Host("OLD"));
  });
  EXPECT_EQ(ExchangeReply::Outcome::kReadFailed, Sync('S').outcome);
  EXPECT_FALSE(socket_.connected(kSlot));
  const int32_t polls = counter_;  // the next fails at once, not taking the old answer
  EXPECT_EQ(ExchangeReply::Outcome::kReadFailed, Sync('S').outcome);
  EXPECT_EQ(polls, counter_);
  peer.Join();
  EXPECT_EQ((std::vector<std::string>{Host("S00000"), "end"}), seen);
  EXPECT_EQ(std::vector<std::string>(2, "[Server_SQL_Sincro] Errore Sock_Read {S}(1)"),
            test_.messages);
}

// What follows a served reply (an early refusal) is the next exchange's; a refusal keeps the link.
TEST_F(ExchangeTest, AServedRefusedOrImageReplyLeavesTheLinkInStep) {
  const std::string p_data = Host("202612052200002026120606000020261205140509123");  // 45
  const std::string next = kRefused + Zoned(0);
  const std::string chunk("\x89PNG\r\n\x1A\n\x00\xFF", 10);
  Serve([&](PeerConnection& c) {
    c.Read(26);
    c.Write(kServed + Zoned(45) + p_data + next);
    c.Read(12);
    c.Write(kServed + Zoned(3) + Host("NEW"));
    c.Read(27);
    c.Write(kServed + Zoned(10) + chunk);
    c.SeesEnd();
  });
  ExchangeReply reply = Sync('P', std::string(20, '0'));
  ASSERT_TRUE(reply.served());
  EXPECT_EQ(45, reply.length);
  EXPECT_EQ(socket_.tables().ToPc(p_data), socket_.Field_Decode('A', 1, 45, 45, 0).text);
  EXPECT_EQ(next.size(), socket_.ReceiveFill());
  EXPECT_EQ(ExchangeReply::Outcome::kRefused, Sync('S').outcome);
  ASSERT_TRUE(Sync('S').served());
  EXPECT_EQ("NEW", socket_.Field_Decode('A', 1, 3, 3, 0).text);
  // An image chunk comes raw; only its header goes to the message buffer.
  reply = Sync('I', "IMG0000001100001000001");
  ASSERT_TRUE(reply.served());
  EXPECT_EQ(chunk, reply.raw);
  EXPECT_EQ(10, reply.length);
  EXPECT_EQ(Host("0") + Zoned(10), socket_.MessageData());
  socket_.Sock_Close(kSlot);
}

TEST_F(ExchangeTest, TheGreetingIsABareHeaderWithOutcomeZero) {
  const struct {
    const char* what;
    std::string bytes;  // then the peer waits for the end, or closes when they are cut
    bool greeted, still_connected;
  } rows[] = {
      {"outcome zero", "\xF0\x40\x40\x40\x40\x40", true, true},
      {"cut short", "\xF0\xF0", false, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    Answer(r.bytes, r.bytes.size() < 6);
    EXPECT_EQ(r.greeted, ReadGreeting(socket_, counter_));
    EXPECT_EQ(r.still_connected, socket_.connected(kSlot));
    socket_.Sock_Close(kSlot);
  }
  EXPECT_TRUE(test_.messages.empty());
}

}  // namespace
}  // namespace torvan::hostlink
