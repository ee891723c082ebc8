#include "config/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  void Write(const std::string& text) {
    ASSERT_TRUE(platform::WriteFileAtomic(path_, text, 0644).ok());
  }
  platform::TempFolder folder_{"torvan-test"};
  const std::string path_ = folder_ / "TnC.INI";
};

// Defaults for what is missing; names in any case; values trimmed, cut to 255 characters.
TEST_F(IniFileTest, ReadingGivesTheValueOrTheDefault) {
  EXPECT_EQ("dflt", GetPrivateProfileString("Generale", "Parametri", "dflt", path_));
  Write("[Other]\r\nParametri=x\r\n[ generale ]\nPARAMETRI =  abc def  \n[G]\nK=" +
        std::string(300, 'v') + "\n");
  EXPECT_EQ("dflt", GetPrivateProfileString("Other", "Check", "dflt", path_));
  EXPECT_EQ("abc def", GetPrivateProfileString("Generale", "Parametri", "", path_));
  EXPECT_EQ(std::string(255, 'v'), GetPrivateProfileString("G", "K", "", path_));
}

// A key written keeps the rest of the file; a new file is its owner's only; a line break refused.
TEST_F(IniFileTest, WritingAKeyKeepsTheRestOfTheFile) {
  EXPECT_FALSE(WritePrivateProfileString("G", "K", "a\nb", path_).ok());
  EXPECT_FALSE(platform::FileExists(path_));
  ASSERT_TRUE(WritePrivateProfileString("Generale", "Parametri", "x", path_).ok());
  struct stat st {};
  ASSERT_EQ(0, stat(path_.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  Write(
      "; hand comment\r\n[Dimensioni Base]\r\nLeft=10\r\n\r\n[Generale]\r\nCheck=1\r\n"
      "Other=keep\r\n");
  ASSERT_TRUE(WritePrivateProfileString("generale", "CHECK", "42", path_).ok());
  ASSERT_TRUE(WritePrivateProfileString("Dimensioni Base", "Top", "20", path_).ok());
  ASSERT_TRUE(WritePrivateProfileString("SQL", "Motore", "SQLite", path_).ok());
  EXPECT_EQ(
      "; hand comment\r\n[Dimensioni Base]\r\nLeft=10\r\nTop=20\r\n\r\n[Generale]\r\n"
      "CHECK=42\r\nOther=keep\r\n[SQL]\r\nMotore=SQLite\r\n",
      testing::ReadText(path_));
}

}  // namespace
}  // namespace torvan
