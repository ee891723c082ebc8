#include "hostlink/ftp.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "hostlink/link_test_util.h"

namespace torvan::hostlink {
namespace {

using testing::ClosedPort;
using testing::PeerConnection;
using testing::ScriptedPeer;

constexpr char kCall[] = "CALL TM/TNM_121 ('P04200')";

// An FTP server answering each line with its script's next reply, recording the transcript.
// kSilence: no answer, wait for the end; kHangUp: close instead; kPause: 300 ms in a reply.
const std::string kSilence = "";
const std::string kHangUp = "<hang up>";
const std::string kPause = "<pause>";

template <typename... T>
std::vector<std::string> Replies(const T&... r) {
  return {std::string(r)...};
}

class FtpScript {
 public:
  FtpScript(std::string greeting, std::vector<std::string> replies,
            testing::Ms command_wait = testing::Ms(5000))
      : peer_([this, greeting, replies, command_wait](PeerConnection& c) {
          if (!Say(c, greeting)) return;
          for (const std::string& reply : replies) {
            const std::string line = c.ReadLine(command_wait);
            if (line.empty()) return Record("no command in time");
            Record("> " + line);
            if (reply == kSilence) break;
            if (!Say(c, reply)) return;
          }
          // QUIT, when it comes, then the end of the connection.
          for (std::string line; !(line = c.ReadLine()).empty();) Record("> " + line);
          Record(c.SeesEnd() ? "closed" : "still open");
        }) {}
  int port() const { return peer_.port(); }
  std::vector<std::string> Transcript() {
    peer_.Join();
    return transcript_;
  }

 private:
  bool Say(PeerConnection& c, const std::string& text) {
    const size_t hang_up = text.find(kHangUp);
    size_t from = 0;
    for (size_t at; (at = text.find(kPause, from)) < hang_up; from = at + kPause.size()) {
      c.Write(text.substr(from, at - from));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    c.Write(text.substr(from, hang_up - from));
    if (hang_up != std::string::npos) Record("hung up");
    return hang_up == std::string::npos;
  }
  void Record(std::string s) { transcript_.push_back(std::move(s)); }
  std::vector<std::string> transcript_;
  ScriptedPeer peer_;
};

class FtpTest : public testing::LinkTest {
 protected:
  bool Run(int port, std::string_view user = "TORVAN", std::string_view password = "SEGRETA",
           std::string_view command = kCall) {
    return Ftp_RemoteCommand(socket_, kSlot, "127.0.0.1", port, user, password, command, &message_,
                             [this](FtpState s) { states_.push_back(s); });
  }

  std::string message_ = "not set";
  std::vector<FtpState> states_;
};

// Each sends the same four lines and closes; the server waits 1 s at most for each command.
TEST_F(FtpTest, ConversationsThatSucceed) {
  socket_.SetPollLimitsForTesting({.line_wait = 200,     // 1 s for each line
                                   .line_no_wait = 400,  // 2 s, were lines not awaited read
                                   .line_pause = std::chrono::milliseconds(5)});
  const struct {
    const char* what;
    std::string greeting;
    std::vector<std::string> replies;
    const char *user = "TORVAN", *password = "SEGRETA";  // sent trimmed
  } rows[] = {
      {"names trimmed, QUIT answered", "220 ready\r\n",
       Replies("331 password please\r\n", "230 logged in\r\n", "250 command done\r\n",
               "221 goodbye\r\n"),
       "  torvan ", " segreta  "},
      {"multi-line greeting and reply, empty password",
       "220-Welcome to the host\r\n220-Second line\r\n220 ready\r\n",
       Replies("331-password\r\n331 please\r\n", "230 ok\r\n", "250 done\r\n"), "TORVAN", ""},
      // An inner line may start with another code: only "331 " ends a reply opened by 331.
      {"multi-line replies whose lines come late",
       "220-Welcome to the host\r\n" + kPause + "220 ready\r\n",
       Replies("331-password\r\n" + kPause + "230 more text\r\n" + kPause + "331 please\r\n",
               "230 ok\r\n", "250 done\r\n")},
      {"lines after a complete reply discarded", "220 ready\r\n230 not asked for\r\n",
       Replies("331 pw\r\nstray\r\n", "230 ok\r\n", "250 done\r\n")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    states_.clear();
    FtpScript ftp(r.greeting, r.replies, std::chrono::milliseconds(1000));
    EXPECT_TRUE(Run(ftp.port(), r.user, r.password));
    EXPECT_EQ("", message_);
    EXPECT_FALSE(socket_.connected(kSlot));
    EXPECT_EQ(Replies("> USER " + Trim(r.user) + "\r\n", "> PASS " + Trim(r.password) + "\r\n",
                      "> RCMD CALL TM/TNM_121 ('P04200')\r\n", "> QUIT\r\n", "closed"),
              ftp.Transcript());
    using S = FtpState;
    EXPECT_EQ(
        std::vector({S::kConnect, S::kGreeting, S::kUser, S::kPass, S::kRcmd, S::kQuit, S::kDone}),
        states_);
  }
}

// A silent server is waited for as the limits say; the caller hears each second of silence.
TEST_F(FtpTest, TheCallerHearsEverySecondOfSilence) {
  socket_.SetPollLimitsForTesting(
      {.line_wait = 60000, .line_no_wait = 2, .line_pause = std::chrono::milliseconds(5)});
  FtpScript ftp("220 ready\r\n", {kSilence});
  std::vector<std::pair<FtpState, int>> heard;
  EXPECT_FALSE(Ftp_RemoteCommand(socket_, kSlot, "127.0.0.1", ftp.port(), "U", "P", kCall,
                                 &message_, {}, [&](FtpState s, int seconds) {
                                   heard.emplace_back(s, seconds);
                                   if (seconds == 2) test_.program.state.Fine_Richiesta = true;
                                 }));
  EXPECT_EQ((std::vector<std::pair<FtpState, int>>{{FtpState::kUser, 1}, {FtpState::kUser, 2}}),
            heard);
  EXPECT_EQ("Il server FTP non risponde (USER)", message_);
  EXPECT_FALSE(socket_.on_silence);  // the conversation over, nobody is told
}

// Refused, missing and unbounded replies, a command too long, a closed port: each has its
// message, no further command goes.
TEST_F(FtpTest, EachFailureHasItsMessageAndClosesTheConnection) {
  std::string endless_greeting;
  for (int i = 0; i < 101; ++i) endless_greeting += "220-still greeting\r\n";
  std::string long_user_reply;
  for (int i = 0; i < 20; ++i) long_user_reply += "331-" + std::string(1000, 'x') + "\r\n";
  const struct {
    const char* what;
    std::string greeting;
    std::vector<std::string> replies;
    std::string message;
    size_t commands;  // USER, PASS, RCMD: how many were sent
    const char* end;  // how the connection ended
    std::string command = kCall;
  } rows[] = {
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
      {"greeting of 101 lines", endless_greeting, Replies(),
       "Il server FTP non risponde correttamente", 0, "closed"},
      {"one endless line", "220 " + std::string(20000, 'x'), Replies(),
       "Il server FTP non risponde correttamente", 0, "closed"},
      {"20 KB to USER", "220 ready\r\n", Replies(long_user_reply),
       "Il server FTP non risponde correttamente (USER)", 1, "closed"},
      {"a command over 256 bytes", "220 ready\r\n", Replies("331 pw\r\n", "230 ok\r\n"),
       "Riga FTP troppo lunga (RCMD)", 2, "closed", std::string(260, 'X')},
  };
  const std::vector<std::string> commands = {"> USER TORVAN\r\n", "> PASS SEGRETA\r\n",
                                             "> RCMD CALL TM/TNM_121 ('P04200')\r\n"};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    FtpScript ftp(r.greeting, r.replies);
    EXPECT_FALSE(Run(ftp.port(), "TORVAN", "SEGRETA", r.command));
    EXPECT_EQ(r.message, message_);
    std::vector<std::string> transcript(commands.begin(),
                                        commands.begin() + std::ptrdiff_t(r.commands));
    transcript.push_back(r.end);
    EXPECT_EQ(transcript, ftp.Transcript());
    EXPECT_EQ(FtpState::kFailed, states_.back());
  }
  const int port = ClosedPort();
  EXPECT_FALSE(Run(port));
  EXPECT_EQ("Apertura della porta " + std::to_string(port) + " non riuscita", message_);
}

}  // namespace
}  // namespace torvan::hostlink
