#include "hostlink/char_table.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>

#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan::hostlink {
namespace {

std::array<uint8_t, kCharTableLength> Identity() {
  std::array<uint8_t, kCharTableLength> t{};
  for (size_t i = 0; i < t.size(); ++i) t[i] = uint8_t(i);
  return t;
}

TEST(PcToHostTable, TheHighestHostByteWinsAndUnmappedCodesAreZero) {
  auto host_to_pc = Identity();
  host_to_pc[0x40] = 32;
  host_to_pc[0x41] = 32;
  CharTables tables(host_to_pc);
  EXPECT_EQ(0x41, tables.PcToHost(32));
  EXPECT_EQ(0, tables.PcToHost(0x40));  // no host byte maps to PC code 0x40 any more
  EXPECT_EQ(0, tables.PcToHost(0x41));
  EXPECT_EQ(0x7A, tables.PcToHost(0x7A));
}

TEST(PcToHostTable, AnEmptyTableSendsEveryCharacterAsHostByteZero) {
  CharTables tables;
  EXPECT_EQ(255, tables.PcToHost(0));  // every host byte maps to PC code 0: the last wins
  for (int c = 1; c < 256; ++c) EXPECT_EQ(0, tables.PcToHost(uint8_t(c)));
  EXPECT_EQ(std::string(3, '\0'), tables.ToPc("\xC1\xC2\xC3"));
}

TEST(CharTables, WholeTextsTranslateByteByByte) {
  auto host_to_pc = Identity();
  host_to_pc[0xC1] = 'A';
  host_to_pc['A'] = 0xC1;
  CharTables tables(host_to_pc);
  EXPECT_EQ("AB", tables.ToPc("\xC1"
                              "B"));
  EXPECT_EQ(
      "\xC1"
      "B",
      tables.ToHost("AB"));
  EXPECT_EQ("", tables.ToHost(""));
}

class TableFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.path();
    path_ = dir_ + "/TnC_TBL1.Tbl";
  }
  platform::TempFolder folder_{"torvan-test"};
  std::string dir_, path_;
};

TEST_F(TableFileTest, ReadsTheTableAfterTheSixByteHeader) {
  auto host_to_pc = Identity();
  host_to_pc[0x7C] = 0xA7;
  host_to_pc[0xA7] = 0x7C;
  ASSERT_TRUE(platform::WriteFileAtomic(path_, CharTableFileBytes(host_to_pc), 0644).ok());
  CharTables tables;
  ASSERT_TRUE(LoadCharTables(path_, &tables).ok());
  EXPECT_EQ(host_to_pc, tables.host_to_pc());
  EXPECT_EQ(0x7C, tables.PcToHost(0xA7));
}

TEST_F(TableFileTest, AShortFileLeavesTheRestZeroAndSaysSo) {
  std::string bytes = CharTableFileBytes(Identity()).substr(0, 6 + 100);
  ASSERT_TRUE(platform::WriteFileAtomic(path_, bytes, 0644).ok());
  CharTables tables;
  Status s = LoadCharTables(path_, &tables);
  EXPECT_EQ(Status::Code::kIoError, s.code());
  EXPECT_NE(std::string::npos, s.message().find("106 of 262 bytes")) << s.message();
  EXPECT_EQ(99, tables.HostToPc(99));
  EXPECT_EQ(0, tables.HostToPc(100));
  EXPECT_EQ(0, tables.HostToPc(255));
  EXPECT_EQ(255, tables.PcToHost(0));  // host bytes 100..255 all map to PC code 0
}

TEST_F(TableFileTest, AMissingFileGivesAnEmptyTableAndNotFound) {
  CharTables tables(Identity());
  Status s = LoadCharTables(path_, &tables);
  EXPECT_EQ(Status::Code::kNotFound, s.code());
  EXPECT_EQ(0, tables.HostToPc(0xC1));
}

TEST_F(TableFileTest, AFileShorterThanItsHeaderHasNoTable) {
  ASSERT_TRUE(platform::WriteFileAtomic(path_, "T1", 0644).ok());
  CharTables tables(Identity());
  EXPECT_FALSE(LoadCharTables(path_, &tables).ok());
  EXPECT_EQ(0, tables.HostToPc(0x41));
}

TEST_F(TableFileTest, TheShippedTableLoads) {
  CharTables tables;
  ASSERT_TRUE(LoadCharTables(TORVAN_SHIPPED_CHAR_TABLE, &tables).ok());
  EXPECT_EQ(0xA7, tables.HostToPc(0x7C));
  EXPECT_EQ(0x40, tables.PcToHost(' '));
}

TEST(PackedDigitTableTest, DigitsAndSignHalfBytes) {
  struct Row {
    const char* what;
    uint8_t byte;
    const char* text;
  };
  const Row rows[] = {{"two zeros", 0x00, "00"},     {"two digits", 0x12, "12"},
                      {"nine nine", 0x99, "99"},     {"positive sign", 0x5F, "5 "},
                      {"negative sign", 0x5D, "5 "}, {"sign A", 0x0A, "0 "},
                      {"last entry", 0x9F, "9 "}};
  for (const Row& r : rows) EXPECT_EQ(r.text, kPackedDigitTable[r.byte]) << r.what;
}

}  // namespace
}  // namespace torvan::hostlink
