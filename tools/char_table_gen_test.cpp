#include "tools/char_table_gen.h"

#include <gtest/gtest.h>

#include "hostlink/char_table.h"
#include "platform/file.h"

namespace torvan::tools {
namespace {

using hostlink::CharTables;

// The shipped file is the generator's: its header names both codes, each host byte its PC byte.
TEST(CharTableGenerator, TheShippedFileIsWhatTheGeneratorMakes) {
  std::string file;
  ASSERT_TRUE(GenerateItalianTableFile(&file).ok());
  std::string shipped;
  ASSERT_TRUE(platform::ReadFile(TORVAN_SHIPPED_CHAR_TABLE, &shipped).ok());
  EXPECT_EQ(file, shipped) << "run: torvan-chartable data/TnC_TBL1.Tbl";
  ASSERT_EQ(262u, file.size());
  EXPECT_EQ(std::string("T1\x01\x18\x04\xE4", 6), file.substr(0, 6));
  CharTables tables;
  ASSERT_TRUE(hostlink::CharTablesFromFileBytes(file, &tables).ok());
  const std::string name = "\xA7_T_IDX___";  // the reserved index field, "§_T_IDX___"
  EXPECT_EQ(std::string("\x7C\x6D\xE3\x6D\xC9\xC4\xE7\x6D\x6D\x6D"), tables.ToHost(name));
  EXPECT_EQ(name, tables.ToPc(tables.ToHost(name)));
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(b, tables.PcToHost(tables.HostToPc(uint8_t(b)))) << "host byte " << b;
  }
  struct Row {
    const char* what;
    uint8_t host;
    uint8_t pc;
  };
  const Row rows[] = {
      {"blank", 0x40, ' '},      {"digit zero", 0xF0, '0'},
      {"digit nine", 0xF9, '9'}, {"capital A", 0xC1, 'A'},
      {"small a", 0x81, 'a'},    {"section sign", 0x7C, 0xA7},
      {"underscore", 0x6D, '_'}, {"a grave", 0xC0, 0xE0},
      {"e grave", 0xD0, 0xE8},   {"e acute", 0x5A, 0xE9},
      {"i grave", 0xA1, 0xEC},   {"o grave", 0x6A, 0xF2},
      {"u grave", 0x79, 0xF9},   {"pound sign", 0xB1, '#'},
      {"quote", 0x7D, '\''},     {"control 0x80 kept", 0x20, 0x80},
  };
  for (const Row& r : rows) EXPECT_EQ(r.pc, tables.HostToPc(r.host)) << r.what;
  std::array<uint8_t, hostlink::kCharTableLength> table{};
  EXPECT_FALSE(GenerateHostToPc("NO-SUCH-CODE", "CP1252", &table).ok());
}

}  // namespace
}  // namespace torvan::tools
