#include "hostsim/ftp_session.h"

#include <gtest/gtest.h>

#include <string>

namespace torvan::hostsim {
namespace {

// What ParseCallCommand reads from `command`: "LIB/PROGRAM port", or "refused".
std::string Parsed(const std::string& command) {
  std::string library, program;
  int port = 0;
  if (!ParseCallCommand(command, &library, &program, &port)) return "refused";
  return library + "/" + program + " " + std::to_string(port);
}

TEST(ParseCallCommandTest, TheCommandTorvanSendsAndItsVariants) {
  const std::pair<const char*, const char*> rows[] = {
      {"CALL TM/TNM_121 ('P04200')", "TM/TNM_121 4200"},  // as Torvan sends it
      {"  call  tm / tnm_121  ( 'p00021' ) ", "TM/TNM_121 21"},
      {"CALL LIBX/TNM_121 ('P65535')", "LIBX/TNM_121 65535"},
      {"CALL TM/TNM_121 ('P4200')", "refused"},
      {"CALL TM/TNM_121 ('P042000')", "refused"},
      {"CALL TM/TNM_121 ('04200')", "refused"},
      {"CALL TM/TNM_121 (P04200)", "refused"},
      {"CALL TNM_121 ('P04200')", "refused"},
      {"DLTF TM/TNM_121", "refused"},
      {"CALL TM/TNM_121 ('P04X00')", "refused"},
  };
  for (const auto& [command, parsed] : rows) EXPECT_EQ(parsed, Parsed(command)) << command;
}

class FtpSessionTest : public ::testing::Test {
 protected:
  FtpSession::Hooks hooks_{[](const std::string& user, const std::string& password) {
                             return user == "U" && password == "P";
                           },
                           [](const std::string& command) {
                             return RemoteCommandResult{command == "GO", "done."};
                           }};
  FtpSession session_{hooks_};
};

TEST_F(FtpSessionTest, TranscriptsOfLoginsAndRemoteCommands) {
  std::string out;
  // Several commands in one segment, one split over two, bare LF accepted.
  EXPECT_TRUE(session_.Receive("USER U\r\nPASS P\r\nRCMD G", &out));
  EXPECT_TRUE(session_.Receive("O\r\nRCMD NO\nNOOP\r\n", &out));
  EXPECT_FALSE(session_.Receive("QUIT\r\n", &out));
  EXPECT_EQ(
      "331 Enter password.\r\n"
      "230 U logged on.\r\n"
      "250 done.\r\n"
      "550 done.\r\n"
      "500 Subcommand NOOP not valid.\r\n"
      "221 QUIT subcommand received.\r\n",
      out);
  // A password without user, an empty password: no login, no command.
  FtpSession other{hooks_};
  out.clear();
  EXPECT_TRUE(other.Receive("PASS P\r\nUSER U\r\nPASS \r\nRCMD GO\r\n", &out));
  EXPECT_EQ(
      "530 Log on attempt by user  rejected.\r\n"
      "331 Enter password.\r\n"
      "530 Log on attempt by user U rejected.\r\n"
      "530 Not logged in.\r\n",
      out);
}

TEST_F(FtpSessionTest, ABudgetLeavesTheRestForLaterAndOnlyAnOverlongLineCloses) {
  std::string out;
  // A budget of one byte answers one command.
  EXPECT_TRUE(session_.Receive("BAD1\r\nBAD2\r\nBAD3\r\nUSER", &out, 1));
  EXPECT_EQ("500 Subcommand BAD1 not valid.\r\n", out);
  EXPECT_EQ(std::string("BAD2\r\nBAD3\r\nUSER").size(), session_.pending());
  // Answers go on while they total less than the budget.
  out.clear();
  EXPECT_TRUE(session_.Receive(" U\r\n", &out, 40));
  EXPECT_EQ("500 Subcommand BAD2 not valid.\r\n500 Subcommand BAD3 not valid.\r\n", out);
  out.clear();
  EXPECT_TRUE(session_.Receive("", &out));
  EXPECT_EQ("331 Enter password.\r\n", out);
  EXPECT_EQ(0u, session_.pending());
  // Many short lines waiting under a budget of 0 are not a line too long.
  std::string lines, expected;
  for (int i = 0; i < 2000; ++i) {
    lines += "X\n";
    expected += "500 Subcommand X not valid.\r\n";
  }
  out.clear();
  EXPECT_TRUE(session_.Receive(lines, &out, 0));
  EXPECT_EQ("", out);
  EXPECT_TRUE(session_.Receive("", &out));
  EXPECT_EQ(expected, out);
  out.clear();  // one overlong line closes the connection
  EXPECT_FALSE(session_.Receive(std::string(5000, 'A'), &out));
  EXPECT_EQ("500 Command line too long.\r\n", out);
}

}  // namespace
}  // namespace torvan::hostsim
