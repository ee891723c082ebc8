#include "hostlink/ftp.h"

#include <gtest/gtest.h>

#include "hostlink/test_peer.h"

namespace torvan::hostlink {
namespace {

using testing::ClosedPort;
using testing::PeerConnection;
using testing::ScriptedPeer;
using testing::TestProgram;

constexpr char kCall[] = "CALL TM/TNM_121 ('P04200')";

// An FTP server that answers each line it reads with the next reply of its script and
// records the transcript. A reply kSilence says nothing and waits for the client to go;
// kHangUp closes the connection instead of answering.
const std::string kSilence = "";
const std::string kHangUp = "<hang up>";

class FtpScript {
 public:
  FtpScript(std::string greeting, std::vector<std::string> replies)
      : peer_([this, greeting, replies](PeerConnection& c) {
          if (greeting == kHangUp) {
            Record("hung up");
            return;
          }
          c.Write(greeting);
          for (const std::string& reply : replies) {
            std::string line;
            if (!c.ReadLine(&line)) return;
            Record("> " + line);
            if (reply == kHangUp) {
              Record("hung up");
              return;
            }
            if (reply == kSilence) break;
            c.Write(reply);
          }
          // QUIT, when it comes, then the end of the connection.
          std::string line;
          while (c.ReadLine(&line)) Record("> " + line);
          Record(c.SeesEnd() ? "closed" : "still open");
        }) {}
  int port() const { return peer_.port(); }
  std::vector<std::string> Transcript() {
    peer_.Join();
    return transcript_;
  }

 private:
  void Record(std::string s) { transcript_.push_back(std::move(s)); }
  std::vector<std::string> transcript_;
  ScriptedPeer peer_;
};

class FtpTest : public ::testing::Test {
 protected:
  FtpTest() {
    SocketLayer::PollLimits limits;
    limits.line_wait = 20;
    limits.line_no_wait = 2;
    limits.line_pause = std::chrono::milliseconds(5);
    socket_.SetPollLimitsForTesting(limits);
  }
  bool Run(int port, std::string_view user = "TORVAN", std::string_view password = "SEGRETA") {
    return Ftp_RemoteCommand(socket_, SocketLayer::kLinkSlot, "127.0.0.1", port, user, password,
                             kCall, &message_, [this](FtpState s) { states_.push_back(s); });
  }

  TestProgram test_;
  SocketLayer socket_{test_.program};
  std::string message_ = "not set";
  std::vector<FtpState> states_;
};

TEST_F(FtpTest, LogsInRunsTheCommandAndQuitsWithoutWaiting) {
  FtpScript ftp("220 ready\r\n", {"331 password please\r\n", "230 logged in\r\n",
                                  "250 command done\r\n", "221 goodbye\r\n"});
  EXPECT_TRUE(Run(ftp.port(), "  torvan ", " segreta  "));
  EXPECT_EQ("", message_);
  EXPECT_FALSE(socket_.connected(SocketLayer::kLinkSlot));
  const std::vector<std::string> expected = {"> USER torvan\r\n", "> PASS segreta\r\n",
                                             "> RCMD CALL TM/TNM_121 ('P04200')\r\n", "> QUIT\r\n",
                                             "closed"};
  EXPECT_EQ(expected, ftp.Transcript());
  const std::vector<FtpState> states = {FtpState::kConnect, FtpState::kGreeting, FtpState::kUser,
                                        FtpState::kPass,    FtpState::kRcmd,     FtpState::kQuit,
                                        FtpState::kDone};
  EXPECT_EQ(states, states_);
}

TEST_F(FtpTest, AMultiLineGreetingIsAcceptedByItsFirstLineAndTheRestDiscarded) {
  FtpScript ftp("220-Welcome to the host\r\n220-Second line\r\n220 ready\r\n",
                {"331-password\r\n331 please\r\n", "230 ok\r\n", "250 done\r\n"});
  EXPECT_TRUE(Run(ftp.port(), "TORVAN", ""));
  const std::vector<std::string> expected = {"> USER TORVAN\r\n", "> PASS \r\n",
                                             "> RCMD CALL TM/TNM_121 ('P04200')\r\n", "> QUIT\r\n",
                                             "closed"};
  EXPECT_EQ(expected, ftp.Transcript());
}

TEST_F(FtpTest, EachRefusalHasItsMessageAndClosesTheConnection) {
  struct Row {
    const char* what;
    std::string greeting;
    std::vector<std::string> replies;
    std::string message;
    std::vector<std::string> transcript;
  };
  const Row rows[] = {
      {"greeting not 220",
       "421 too many users\r\n",
       {},
       "Il server FTP non \xE8 pronto",
       {"closed"}},
      {"user needs no password",
       "220 ready\r\n",
       {"230 logged in\r\n"},
       "Utente errato",
       {"> USER TORVAN\r\n", "closed"}},
      {"wrong password",
       "220 ready\r\n",
       {"331 pw\r\n", "530 not logged in\r\n"},
       "Password errata",
       {"> USER TORVAN\r\n", "> PASS SEGRETA\r\n", "closed"}},
      {"command refused",
       "220 ready\r\n",
       {"331 pw\r\n", "230 ok\r\n", "550 not found\r\n"},
       "Comando non eseguito",
       {"> USER TORVAN\r\n", "> PASS SEGRETA\r\n", "> RCMD CALL TM/TNM_121 ('P04200')\r\n",
        "closed"}},
      {"silent server", kSilence, {}, "Il server FTP non risponde", {"closed"}},
      {"no greeting", kHangUp, {}, "Il server FTP non risponde", {"hung up"}},
      {"no reply to USER",
       "220 ready\r\n",
       {kHangUp},
       "Il server FTP non risponde (USER)",
       {"> USER TORVAN\r\n", "hung up"}},
      {"no reply to PASS",
       "220 ready\r\n",
       {"331 pw\r\n", kSilence},
       "Il server FTP non risponde (PASS)",
       {"> USER TORVAN\r\n", "> PASS SEGRETA\r\n", "closed"}},
      {"no reply to RCMD",
       "220 ready\r\n",
       {"331 pw\r\n", "230 ok\r\n", kHangUp},
       "Il server FTP non risponde (RCMD)",
       {"> USER TORVAN\r\n", "> PASS SEGRETA\r\n", "> RCMD CALL TM/TNM_121 ('P04200')\r\n",
        "hung up"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FtpScript ftp(r.greeting, r.replies);
    EXPECT_FALSE(Run(ftp.port()));
    EXPECT_EQ(r.message, message_);
    EXPECT_EQ(r.transcript, ftp.Transcript());
    EXPECT_EQ(FtpState::kFailed, states_.back());
  }
}

TEST_F(FtpTest, AClosedPortGivesTheOpeningMessage) {
  const int port = ClosedPort();
  EXPECT_FALSE(Run(port));
  EXPECT_EQ("Apertura della porta " + std::to_string(port) + " non riuscita", message_);
}

TEST_F(FtpTest, ALineOver256BytesIsNotSent) {
  FtpScript ftp("220 ready\r\n", {"331 pw\r\n", "230 ok\r\n"});
  const std::string long_command(260, 'X');
  EXPECT_FALSE(Ftp_RemoteCommand(socket_, SocketLayer::kLinkSlot, "127.0.0.1", ftp.port(), "TORVAN",
                                 "SEGRETA", long_command, &message_));
  EXPECT_EQ("Riga FTP troppo lunga (RCMD)", message_);
  const std::vector<std::string> expected = {"> USER TORVAN\r\n", "> PASS SEGRETA\r\n", "closed"};
  EXPECT_EQ(expected, ftp.Transcript());
}

}  // namespace
}  // namespace torvan::hostlink
