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
// kHangUp closes the connection instead of answering (the greeting may end with it);
// kPause within a reply waits 300 ms before the rest of it. Each command is awaited for
// `command_wait`.
const std::string kSilence = "";
const std::string kHangUp = "<hang up>";
const std::string kPause = "<pause>";

void WriteWithPauses(PeerConnection& c, const std::string& text) {
  size_t from = 0;
  for (size_t at; (at = text.find(kPause, from)) != std::string::npos; from = at + kPause.size()) {
    c.Write(text.substr(from, at - from));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  c.Write(text.substr(from));
}

// The replies of a script, in order.
template <typename... T>
std::vector<std::string> Replies(const T&... r) {
  return {std::string(r)...};
}

class FtpScript {
 public:
  FtpScript(std::string greeting, std::vector<std::string> replies,
            std::chrono::milliseconds command_wait = std::chrono::milliseconds(5000))
      : peer_([this, greeting, replies, command_wait](PeerConnection& c) {
          const size_t hang_up = greeting.find(kHangUp);
          WriteWithPauses(c, greeting.substr(0, hang_up));
          if (hang_up != std::string::npos) {
            Record("hung up");
            return;
          }
          for (const std::string& reply : replies) {
            std::string line;
            if (!c.ReadLine(&line, command_wait)) {
              Record("no command in time");
              return;
            }
            Record("> " + line);
            if (reply == kHangUp) {
              Record("hung up");
              return;
            }
            if (reply == kSilence) break;
            WriteWithPauses(c, reply);
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

// Every conversation that succeeds sends the same four lines and closes; the server waits
// 1 s at most for each command, so a client that waited for more after a complete reply
// would not get through.
TEST_F(FtpTest, ConversationsThatSucceed) {
  SocketLayer::PollLimits limits = socket_.poll_limits();
  limits.line_wait = 200;     // 1 s for each line
  limits.line_no_wait = 400;  // 2 s, were lines not awaited read after a reply
  socket_.SetPollLimitsForTesting(limits);
  struct Row {
    const char* what;
    std::string greeting;
    std::vector<std::string> replies;
    const char* user;
    const char* password;
    const char* user_line;  // the USER and PASS lines sent
    const char* password_line;
  };
  const Row rows[] = {
      {"names trimmed, QUIT answered", "220 ready\r\n",
       Replies("331 password please\r\n", "230 logged in\r\n", "250 command done\r\n",
               "221 goodbye\r\n"),
       "  torvan ", " segreta  ", "> USER torvan\r\n", "> PASS segreta\r\n"},
      {"multi-line greeting and reply, empty password",
       "220-Welcome to the host\r\n220-Second line\r\n220 ready\r\n",
       Replies("331-password\r\n331 please\r\n", "230 ok\r\n", "250 done\r\n"), "TORVAN", "",
       "> USER TORVAN\r\n", "> PASS \r\n"},
      // An inner line may start with another code: only "331 " ends a reply opened by 331.
      {"multi-line replies whose lines come late",
       "220-Welcome to the host\r\n" + kPause + "220 ready\r\n",
       Replies("331-password\r\n" + kPause + "230 more text\r\n" + kPause + "331 please\r\n",
               "230 ok\r\n", "250 done\r\n"),
       "TORVAN", "SEGRETA", "> USER TORVAN\r\n", "> PASS SEGRETA\r\n"},
      {"lines after a complete reply discarded", "220 ready\r\n230 not asked for\r\n",
       Replies("331 pw\r\nstray\r\n", "230 ok\r\n", "250 done\r\n"), "TORVAN", "SEGRETA",
       "> USER TORVAN\r\n", "> PASS SEGRETA\r\n"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    states_.clear();
    FtpScript ftp(r.greeting, r.replies, std::chrono::milliseconds(1000));
    EXPECT_TRUE(Run(ftp.port(), r.user, r.password));
    EXPECT_EQ("", message_);
    EXPECT_FALSE(socket_.connected(SocketLayer::kLinkSlot));
    const std::vector<std::string> expected = {r.user_line, r.password_line,
                                               "> RCMD CALL TM/TNM_121 ('P04200')\r\n",
                                               "> QUIT\r\n", "closed"};
    EXPECT_EQ(expected, ftp.Transcript());
    const std::vector<FtpState> states = {FtpState::kConnect, FtpState::kGreeting, FtpState::kUser,
                                          FtpState::kPass,    FtpState::kRcmd,     FtpState::kQuit,
                                          FtpState::kDone};
    EXPECT_EQ(states, states_);
  }
}

// A server that never answers is waited for as long as the limits say; meanwhile the
// caller hears every whole second of silence, with the reply awaited.
TEST_F(FtpTest, TheCallerHearsEverySecondOfSilence) {
  SocketLayer::PollLimits limits = socket_.poll_limits();
  limits.line_wait = 60000;
  socket_.SetPollLimitsForTesting(limits);
  FtpScript ftp("220 ready\r\n", {kSilence});
  std::vector<std::pair<FtpState, int>> heard;
  EXPECT_FALSE(Ftp_RemoteCommand(socket_, SocketLayer::kLinkSlot, "127.0.0.1", ftp.port(), "U", "P",
                                 kCall, &message_, {}, [&](FtpState s, int seconds) {
                                   heard.emplace_back(s, seconds);
                                   if (seconds == 2) test_.program.state.Fine_Richiesta = true;
                                 }));
  EXPECT_EQ((std::vector<std::pair<FtpState, int>>{{FtpState::kUser, 1}, {FtpState::kUser, 2}}),
            heard);
  EXPECT_EQ("Il server FTP non risponde (USER)", message_);
  EXPECT_FALSE(socket_.on_silence);  // the conversation over, nobody is told
}

// Refused, missing and unbounded replies: each has its message, no further command goes
// and the connection is closed.
TEST_F(FtpTest, EachFailureHasItsMessageAndClosesTheConnection) {
  std::string endless_greeting;
  for (int i = 0; i < 150; ++i) endless_greeting += "220-still greeting\r\n";
  std::string long_user_reply;
  for (int i = 0; i < 20; ++i) long_user_reply += "331-" + std::string(1000, 'x') + "\r\n";
  struct Row {
    const char* what;
    std::string greeting;
    std::vector<std::string> replies;
    std::string message;
    size_t commands;  // USER, PASS, RCMD: how many were sent
    const char* end;  // how the connection ended
  };
  const Row rows[] = {
      {"greeting not 220", "421 too many users\r\n", Replies(), "Il server FTP non \xE8 pronto", 0,
       "closed"},
      {"user needs no password", "220 ready\r\n", Replies("230 logged in\r\n"), "Utente errato", 1,
       "closed"},
      {"wrong password", "220 ready\r\n", Replies("331 pw\r\n", "530 not logged in\r\n"),
       "Password errata", 2, "closed"},
      {"command refused", "220 ready\r\n", Replies("331 pw\r\n", "230 ok\r\n", "550 not found\r\n"),
       "Comando non eseguito", 3, "closed"},
      {"silent server", kSilence, Replies(), "Il server FTP non risponde", 0, "closed"},
      {"no greeting", kHangUp, Replies(), "Il server FTP non risponde", 0, "hung up"},
      {"greeting cut short", "220-Welcome\r\n" + kHangUp, Replies(), "Il server FTP non risponde",
       0, "hung up"},
      {"no reply to USER", "220 ready\r\n", Replies(kHangUp), "Il server FTP non risponde (USER)",
       1, "hung up"},
      {"no reply to PASS", "220 ready\r\n", Replies("331 pw\r\n", kSilence),
       "Il server FTP non risponde (PASS)", 2, "closed"},
      {"no reply to RCMD", "220 ready\r\n", Replies("331 pw\r\n", "230 ok\r\n", kHangUp),
       "Il server FTP non risponde (RCMD)", 3, "hung up"},
      {"greeting of 150 lines", endless_greeting, Replies(),
       "Il server FTP non risponde correttamente", 0, "closed"},
      {"one endless line", "220 " + std::string(20000, 'x'), Replies(),
       "Il server FTP non risponde correttamente", 0, "closed"},
      {"101 lines to USER", "220 ready\r\n", Replies(endless_greeting.substr(0, 101 * 20)),
       "Il server FTP non risponde correttamente (USER)", 1, "closed"},
      {"20 KB to USER", "220 ready\r\n", Replies(long_user_reply),
       "Il server FTP non risponde correttamente (USER)", 1, "closed"},
      {"endless reply to RCMD", "220 ready\r\n",
       Replies("331 pw\r\n", "230 ok\r\n", endless_greeting),
       "Il server FTP non risponde correttamente (RCMD)", 3, "closed"},
  };
  const std::vector<std::string> commands = {"> USER TORVAN\r\n", "> PASS SEGRETA\r\n",
                                             "> RCMD CALL TM/TNM_121 ('P04200')\r\n"};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    FtpScript ftp(r.greeting, r.replies);
    EXPECT_FALSE(Run(ftp.port()));
    EXPECT_EQ(r.message, message_);
    std::vector<std::string> transcript(commands.begin(),
                                        commands.begin() + std::ptrdiff_t(r.commands));
    transcript.push_back(r.end);
    EXPECT_EQ(transcript, ftp.Transcript());
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
