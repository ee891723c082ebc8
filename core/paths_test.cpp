// Where Torvan finds what it installs beside itself.
#include "core/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan {
namespace {

TEST(PathsTest, InstalledFilesAreFoundBesideTheProgramTheBaseFoldersTableFirst) {
  platform::TempFolder prefix("torvan-prefix");
  for (const char* folder : {"bin", "share", "share/torvan"}) {
    ASSERT_EQ(0, ::mkdir((prefix / folder).c_str(), 0755));
  }
  ASSERT_TRUE(platform::WriteFileAtomic(prefix / "share/torvan/Prova_Torvan.Tbl", "x", 0644).ok());
  ASSERT_EQ(0, ::mkdir((prefix / "share/torvan/Cartella_Torvan.Tbl").c_str(), 0755));
  const std::string program = prefix / "bin/torvan";
  EXPECT_EQ(prefix / "share/torvan/Prova_Torvan.Tbl",
            InstalledDataFileFor(program, "Prova_Torvan.Tbl"));
  EXPECT_EQ("", InstalledDataFileFor(program, "Nessuno_Torvan.Tbl"));
  EXPECT_EQ("", InstalledDataFileFor(program, "Cartella_Torvan.Tbl"));  // not a file
  EXPECT_EQ("", InstalledDataFileFor("", "Prova_Torvan.Tbl"));

  // The base folder's own table comes first, even when it is not one.
  const Paths paths = Paths::InFolder(prefix / "share");
  EXPECT_EQ(prefix / "share/TnC_STATO.DAT", paths.status);
  ASSERT_EQ(0, ::mkdir(paths.char_table.c_str(), 0755));  // reading it will say what is wrong
  bool installed = true;
  EXPECT_EQ(paths.char_table, CharTableToRead(paths, &installed));
  EXPECT_FALSE(installed);
}

}  // namespace
}  // namespace torvan
