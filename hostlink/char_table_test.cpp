#include "hostlink/char_table.h"

#include <gtest/gtest.h>
#include <functional>

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
  host_to_pc[0x40] = host_to_pc[0x41] = 32;
  CharTables tables(host_to_pc);
  EXPECT_EQ(0x41, tables.PcToHost(32));
  EXPECT_EQ(0, tables.PcToHost(0x40));  // no host byte maps to PC code 0x40 any more
  EXPECT_EQ(0x7A, tables.PcToHost(0x7A));
  CharTables empty;  // every host byte maps to PC code 0: the last wins
  EXPECT_EQ(255, empty.PcToHost(0));
  for (int c = 1; c < 256; ++c) EXPECT_EQ(0, empty.PcToHost(uint8_t(c)));
  EXPECT_EQ(std::string(3, '\0'), empty.ToPc("\xC1\xC2\xC3"));
}

// The table follows a six-byte header; short files leave zeros, missing ones an empty table.
TEST(CharTableFile, ReadAfterTheHeaderAndShortOrMissingFilesLeaveZeros) {
  platform::TempFolder folder{"torvan-test"};
  const std::string path = folder / "TnC_TBL1.Tbl";
  auto host_to_pc = Identity();  // digits at F0..F9, as the check wants, and 7C for A7
  for (int d = 0; d < 10; ++d)
    std::swap(host_to_pc[size_t(0xF0 + d)], host_to_pc[size_t(0x30 + d)]);
  std::swap(host_to_pc[0x7C], host_to_pc[0xA7]);
  ASSERT_TRUE(platform::WriteFileAtomic(path, CharTableFileBytes(host_to_pc), 0644).ok());
  CharTables tables;
  ASSERT_TRUE(LoadCharTables(path, &tables).ok());
  EXPECT_EQ(host_to_pc, tables.host_to_pc());
  EXPECT_EQ(0x7C, tables.PcToHost(0xA7));

  ASSERT_TRUE(platform::WriteFileAtomic(path, "T1", 0644).ok());
  tables = CharTables(Identity());
  EXPECT_FALSE(LoadCharTables(path, &tables).ok());
  EXPECT_EQ(0, tables.HostToPc(0x41));
  tables = CharTables(Identity());
  EXPECT_EQ(Status::Code::kNotFound, LoadCharTables(path + ".none", &tables).code());
  EXPECT_EQ(0, tables.HostToPc(0xC1));

  const std::string cut = CharTableFileBytes(Identity()).substr(0, 6 + 100);
  ASSERT_TRUE(platform::WriteFileAtomic(path, cut, 0644).ok());
  Status s = LoadCharTables(path, &tables);
  EXPECT_EQ(Status::Code::kIoError, s.code());
  EXPECT_EQ(path + ": lunga 106 byte invece di 262: le voci mancanti valgono 0", s.message());
  EXPECT_EQ(99, tables.HostToPc(99));
  EXPECT_EQ(0, tables.HostToPc(100));
  EXPECT_EQ(255, tables.PcToHost(0));  // host bytes 100..255 all map to PC code 0
}

// The first rule a file breaks is named; each row starts from the shipped table.
TEST(CheckCharTableFile, NamesTheFault) {
  std::string shipped;
  ASSERT_TRUE(platform::ReadFile(TORVAN_SHIPPED_CHAR_TABLE, &shipped).ok());
  auto at = [](uint8_t host) { return kCharTableHeaderLength + host; };
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
    std::string fault;  // empty: a character table
  } rows[] = {
      {"the shipped table", [](std::string&) {}, ""},
      {"two letters swapped", [&](std::string& f) { std::swap(f[at(0xC1)], f[at(0xC2)]); }, ""},
      {"any six header bytes",
       [](std::string& f) { f.replace(0, 6, std::string("\0\xFFx2\x03\x52", 6)); }, ""},
      {"one byte too many", [](std::string& f) { f += '\n'; },
       "lunga 263 byte invece di 262: non \xE8 una tabella caratteri"},
      {"digits in ASCII places",
       [&](std::string& f) {
         for (int d = 0; d < 10; ++d) std::swap(f[at(uint8_t(0xF0 + d))], f[at(uint8_t(0x30 + d))]);
       },
       "la cifra \"0\" non corrisponde al byte host F0"},
      {"two host bytes for the digit 7",
       [&](std::string& f) { f[at(0xFA)] = '7'; },  // the higher byte FA would be sent
       "la cifra \"7\" non corrisponde al byte host F7"},
      {"no host byte for Z", [&](std::string& f) { f[at(0xE9)] = 'Y'; },
       "nessun byte host corrisponde al carattere \"Z\""},
      {"no host byte for the section sign", [&](std::string& f) { f[at(0x7C)] = '@'; },
       "nessun byte host corrisponde al carattere \"\xA7\""},
      {"no host byte for the blank", [&](std::string& f) { f[at(0x40)] = '\0'; },
       "nessun byte host corrisponde al carattere \" \""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::string file = shipped;
    r.damage(file);
    CharTables tables;
    const Status s = CharTablesFromFileBytes(file, &tables);
    EXPECT_EQ(r.fault, s.message());
    EXPECT_EQ(r.fault.empty(), s.ok());
  }
}

}  // namespace
}  // namespace torvan::hostlink
