#include "core/message_log.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/test_support.h"

namespace torvan {
namespace {

class MessageLogTest : public ::testing::Test, protected ProgramFixture {
 protected:
  MessageLogTest() {
    program_.state.Finestra_Messaggi_Aperta = true;
    program_.log.WindowOpened();
  }
};

// The window keeps sixteen lines, blank ones at first, the newest last.
TEST_F(MessageLogTest, ALineGoesToTheStatusLineTheWindowAndWithLogSuFileAsUtf8ToTheFile) {
  std::string blanks;
  for (int i = 0; i < 16; ++i) blanks += " \r\n";
  EXPECT_EQ(blanks, program_.log.WindowText());
  program_.settings.parametri.Log_Su_File = true;
  program_.Scrivi_Messaggio("manca il campo \xA7_T_IDX___ \xE8");
  EXPECT_EQ("14:05:09 - manca il campo \xA7_T_IDX___ \xE8", program_.stats.Stat_Testi[kStatusLine]);
  const std::string file = "05/12/2026 14:05:09 - manca il campo \xC2\xA7_T_IDX___ \xC3\xA8\r\n";
  EXPECT_EQ(file, testing::ReadText(program_.paths.message_log));
  program_.settings.parametri.Log_Su_File = false;
  program_.Scrivi_Messaggio("uno");
  EXPECT_EQ(file, testing::ReadText(program_.paths.message_log));
  EXPECT_EQ("14:05:09 - uno", program_.stats.Stat_Testi[kStatusLine]);
  EXPECT_EQ(blanks.substr(6) + "14:05:09 - manca il campo \xA7_T_IDX___ \xE8\r\n14:05:09 - uno\r\n",
            program_.log.WindowText());
  // Gathered lines reach the file together and in order; the status and window at once.
  program_.settings.parametri.Log_Su_File = true;
  program_.log.GatherFileLines();
  program_.Scrivi_Messaggio("due");
  program_.Scrivi_Messaggio("tre");
  EXPECT_EQ(file, testing::ReadText(program_.paths.message_log));
  EXPECT_EQ("14:05:09 - tre", program_.stats.Stat_Testi[kStatusLine]);
  EXPECT_NE(std::string::npos, program_.log.WindowText().find("14:05:09 - due\r\n"));
  program_.log.WriteGatheredLines();
  program_.Scrivi_Messaggio("quattro");
  EXPECT_EQ(file + "05/12/2026 14:05:09 - due\r\n05/12/2026 14:05:09 - tre\r\n" +
                "05/12/2026 14:05:09 - quattro\r\n",
            testing::ReadText(program_.paths.message_log));
  // An unwritable log file loses the line only.
  program_.paths.message_log = dir_ + "/missing/dir/TnC.Log";
  program_.paths.pc_as_log = dir_ + "/missing/dir/TnC_PC_AS.Log";
  program_.Scrivi_Messaggio("still shown");
  EXPECT_EQ("14:05:09 - still shown", program_.stats.Stat_Testi[kStatusLine]);
  EXPECT_FALSE(program_.log.Scrivi_Log_PC_AS("x").ok());
  std::string newest;
  for (int i = 0; i < 40; ++i) program_.Scrivi_Messaggio(std::to_string(i));
  for (int i = 24; i < 40; ++i) newest += "14:05:09 - " + std::to_string(i) + "\r\n";
  EXPECT_EQ(newest, program_.log.WindowText());
}

// A host name holding a line break must not forge a second log line.
TEST_F(MessageLogTest, ControlCharactersAreShownEscapedInEveryLine) {
  program_.settings.parametri.Log_Su_File = true;
  std::vector<std::string> console;
  program_.log.on_status_line = [&](std::string_view l) { console.emplace_back(l); };
  program_.Scrivi_Messaggio(
      "   Carica campi di LIB/A\r\n14:05:09 - forged\t\x1B[2J\x7F\x9D\x80\xE8");
  const std::string shown =
      "14:05:09 -    Carica campi di LIB/A\\x0D\\x0A14:05:09 - "
      "forged\\x09\\x1B[2J\\x7F\\x9D\x80\xE8";
  EXPECT_EQ(shown, program_.stats.Stat_Testi[kStatusLine]);
  EXPECT_EQ(std::vector<std::string>{shown}, console);
  EXPECT_EQ(
      "05/12/2026 14:05:09 -    Carica campi di LIB/A\\x0D\\x0A14:05:09 - forged\\x09"
      "\\x1B[2J\\x7F\\x9D\xE2\x82\xAC\xC3\xA8\r\n",
      testing::ReadText(program_.paths.message_log));
  EXPECT_NE(std::string::npos, program_.log.WindowText().find(shown + "\r\n"));

  ASSERT_TRUE(program_.log.Scrivi_Log_PC_AS("INSERT INTO DATI/A VALUES('x\ny')").ok());
  EXPECT_EQ("05/12/2026 14:05:09 INSERT INTO DATI/A VALUES('x\\x0Ay')\r\n",
            testing::ReadText(program_.paths.pc_as_log));
  EXPECT_NE(std::string::npos,
            program_.log.WindowText().find("14:05:09 - INSERT INTO DATI/A VALUES('x\\x0Ay')\r\n"));
  const std::string window = program_.log.WindowText();
  EXPECT_EQ(16, std::count(window.begin(), window.end(), '\n'));  // still: nothing forged
}

// Whole in its file, cut at 85 in the window, which, closed, still gets the latest lines.
TEST_F(MessageLogTest, PcToHostLineIsWholeInTheFileAndCutAt85InTheWindow) {
  program_.stats.Stat_Testi[kStatusLine] = "unchanged";
  std::string message(100, 'Q');
  ASSERT_TRUE(program_.log.Scrivi_Log_PC_AS(message).ok());
  EXPECT_EQ("05/12/2026 14:05:09 " + message + "\r\n", testing::ReadText(program_.paths.pc_as_log));
  std::string text = program_.log.WindowText();
  EXPECT_EQ("14:05:09 - " + std::string(85, 'Q') + " ...\r\n",
            text.substr(text.size() - (11 + 85 + 4 + 2)));
  EXPECT_EQ("unchanged", program_.stats.Stat_Testi[kStatusLine]);
  program_.state.Finestra_Messaggi_Aperta = false;
  ASSERT_TRUE(program_.log.Scrivi_Log_PC_AS(std::string(85, 'Q')).ok());
  program_.Scrivi_Messaggio("chiusa");
  text = program_.log.WindowText();
  EXPECT_EQ("14:05:09 - " + std::string(85, 'Q') + "\r\n14:05:09 - chiusa\r\n",
            text.substr(text.size() - (11 + 85 + 2) - (11 + 6 + 2)));
}

}  // namespace
}  // namespace torvan
