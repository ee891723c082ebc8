// The comparer must find every kind of difference, or the tests that lean on it prove
// nothing.
#include "replication/testing/mirror_compare.h"

#include <gtest/gtest.h>

namespace torvan::testing {
namespace {

TEST(CanonicalNumber, OneFormPerValue) {
  struct Row {
    const char* text;
    int32_t scale;
    const char* canonical;
  };
  const Row rows[] = {
      {"-00000000000350.500 ", 3, "-350.500"},
      {"-350.5", 3, "-350.500"},
      {" 00000000000001.500 ", 3, "1.500"},
      {"-0000000.00 ", 2, "0.00"},
      {"20240101", 0, "20240101"},
      {".5", 2, "0.50"},
      {"12.50", 1, "12.5"},
      {"12.55", 1, ""},
      {"12a", 0, ""},
      {"", 0, ""},
      {"-", 0, ""},
      {"1.2.3", 2, ""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.canonical, CanonicalNumber(r.text, r.scale)) << r.text << " " << r.scale;
  }
}

TEST(ParseHostDump, RecordsAndTheirValues) {
  std::vector<HostRecord> records;
  ASSERT_TRUE(ParseHostDump("1\tA=x\t\xC2\xA7_T_IDX___=3\n12\tA=\tB=a=b\n", &records).ok());
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(1, records[0].rrn);
  EXPECT_EQ("3", records[0].values.at("\xA7_T_IDX___"));
  EXPECT_EQ(12, records[1].rrn);
  EXPECT_EQ("", records[1].values.at("A"));
  EXPECT_EQ("a=b", records[1].values.at("B"));
  for (const char* bad : {"x\tA=1\n", "0\tA=1\n", "1\tA\n"}) {
    EXPECT_FALSE(ParseHostDump(bad, &records).ok()) << bad;
  }
}

CampoEntry Campo(const char* name, const char* tipo, int32_t bytes, int32_t decimals = 0) {
  CampoEntry c;
  c.Nome = name;
  c.Tipo = tipo;
  c.Byte = bytes;
  c.Decimali = decimals;
  return c;
}

HostRecord Record(int32_t rrn, const char* nome, const char* importo, const char* idx = "0") {
  return {rrn, {{"NOME", nome}, {"IMPORTO", importo}, {"\xA7_T_IDX___", idx}}};
}

MirrorRow Row(int64_t rrn, int64_t idx, const char* nome, const char* importo) {
  return {rrn, idx, " ", {{"NOME", nome}, {"IMPORTO", importo}}};
}

template <typename... R>
std::vector<HostRecord> Host(R... records) {
  return {records...};
}
template <typename... R>
std::vector<MirrorRow> Mirror(R... rows) {
  return {rows...};
}

TEST(CompareMirror, FindsEveryKindOfDifference) {
  const std::vector<CampoEntry> fields = {Campo("NOME", "A", 5), Campo("IMPORTO", "P", 5, 2),
                                          Campo("\xA7_T_IDX___", "B", 4)};
  FileEntry plain;
  plain.Libreria = "DATI";
  plain.File = "F";
  FileEntry sent_back = plain;
  sent_back.Pc_As = true;
  struct Case {
    const char* meaning;
    const FileEntry& file;
    std::vector<HostRecord> host;
    std::vector<MirrorRow> mirror;
    const char* differences;  // one a line
  };
  const Case cases[] = {
      {"alike", plain, Host(Record(1, "ab", "-0001.50 ")), Mirror(Row(1, 0, "ab   ", "-1.50")), ""},
      {"a text not padded as Torvan inserts it", plain, Host(Record(1, "ab", "0")),
       Mirror(Row(1, 0, "ab", "0.00")), "DATI/F row RRN 1: field NOME host \"ab\" table \"ab\"\n"},
      {"another value", plain, Host(Record(1, "ab", "0")), Mirror(Row(1, 0, "ab   ", "0.01")),
       "DATI/F row RRN 1: field IMPORTO host \"0\" table \"0.01\"\n"},
      {"a record missing and a row too many", plain, Host(Record(1, "ab", "0")),
       Mirror(Row(2, 0, "ab   ", "0.00")),
       "DATI/F row RRN 2: no host record with this RRN\n"
       "DATI/F record RRN 1: missing from the table\n"},
      {"a record applied twice", plain, Host(Record(1, "ab", "0")),
       Mirror(Row(1, 0, "ab   ", "0.00"), Row(1, 0, "ab   ", "0.00")),
       "DATI/F record RRN 1: 2 rows in the table\n"},
      {"rows written on the SQL side keep their blanks; one is matched by its index", sent_back,
       Host(Record(1, "ab", "0", "7"), Record(4, "cd", "1", "9")),
       Mirror(Row(1, 7, "ab", "0.00"), Row(0, 9, "cd ", "1.00")), ""},
      {"an insert that reached the host twice", sent_back,
       Host(Record(3, "cd", "1", "9"), Record(4, "cd", "1", "9")), Mirror(Row(0, 9, "cd", "1.00")),
       "DATI/F row RRN 0 IDX 9: 2 host records with \xA7_T_IDX___=9 (RRN 3 4)\n"
       "DATI/F record RRN 4: missing from the table\n"},
      {"an insert that never reached the host", sent_back, Host(), Mirror(Row(0, 9, "cd", "1.00")),
       "DATI/F row RRN 0 IDX 9: no host record with \xA7_T_IDX___=9\n"},
      {"a record stood for by its RRN and by its index", sent_back, Host(Record(3, "cd", "1", "9")),
       Mirror(Row(0, 9, "cd", "1.00"), Row(3, 10, "cd", "1.00")),
       "DATI/F record RRN 3: 2 rows in the table\n"}};
  for (const Case& c : cases) {
    std::string found;
    for (const std::string& d : CompareMirror(c.file, fields, c.host, c.mirror)) found += d + "\n";
    EXPECT_EQ(c.differences, found) << c.meaning;
  }
}

}  // namespace
}  // namespace torvan::testing
