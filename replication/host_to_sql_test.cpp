// The statements that apply a host change to its mirror table, and its log line.
#include "replication/host_to_sql.h"

#include <gtest/gtest.h>

#include "replication/change_record_test_util.h"

namespace torvan {
namespace {

using testing::Campo;
using testing::ChangeData;
using testing::HostField;
using testing::HostText;

FileEntry File(const std::string& name, bool pc_as) {
  FileEntry f;
  f.Libreria = "DATI";
  f.File = name;
  f.As_Pc = true;
  f.Pc_As = pc_as;
  return f;
}

// CLIENTI of the worked example: CODICE A 6 at 1, SALDO P 9,2 in 5 bytes at 7, and the
// index field (B, 4 bytes at 12).
const std::vector<CampoEntry> kClienti = {Campo("CODICE", "A", 1, 6, 6),
                                          Campo("SALDO", "P", 7, 5, 9, 2),
                                          Campo("\xA7_T_IDX___", "B", 12, 4, 9)};

std::string Cliente(const std::string& codice, const std::string& saldo, int idx) {
  return HostText(codice, 6) + HostField('P', saldo, 5, 9, 2) +
         HostField('B', std::to_string(idx), 4);
}

// A layout with every kind of field: NOME A 10 at 1, IMPORTO P 17,3 (the amount form) at
// 11, SCONTO P 5,2 at 20, QTA S 5,2 at 23, PESO B 4 bytes at 28, CATEG B 2 bytes at 32,
// the index field B 4 bytes at 34.
const std::vector<CampoEntry> kMisto = {
    Campo("NOME", "A", 1, 10, 10),        Campo("IMPORTO", "P", 11, 9, 17, 3),
    Campo("SCONTO", "P", 20, 3, 5, 2),    Campo("QTA", "S", 23, 5, 5, 2),
    Campo("PESO", "B", 28, 4, 9),         Campo("CATEG", "B", 32, 2, 4),
    Campo("\xA7_T_IDX___", "B", 34, 4, 9)};

std::string Misto(const std::string& nome_host_bytes, const std::string& importo,
                  const std::string& sconto, const std::string& qta, const std::string& peso,
                  const std::string& categ, int idx) {
  return nome_host_bytes + HostField('P', importo, 9, 17, 3) + HostField('P', sconto, 3, 5, 2) +
         HostField('S', qta, 5, 5, 2) + HostField('B', peso, 4) + HostField('B', categ, 2, 4) +
         HostField('B', std::to_string(idx), 4);
}

// A change of CLIENTI or MISTO: the rows it marks "D" (a file sent back) and deletes, by
// `where`, and the insert of its after image ("" for a delete). The added record of a file
// sent back, and a packed byte with no digits, are fuzz/findings_test.cpp's.
struct StatementsRow {
  const char* meaning;
  const std::vector<CampoEntry>* fields;  // kClienti, kMisto, or CLIENTI with no index field
  bool pc_as;
  char code;
  int32_t rrn;
  std::string before, after;
  int64_t idx;
  const char* where;
  const char* insert;
};

TEST(BuildChangeStatements, ExactTexts) {
  const std::string kMistoInsert =
      "INSERT INTO [MISTO] ([NOME],[IMPORTO],[SCONTO],[QTA],[PESO],[CATEG],";
  const std::vector<CampoEntry> no_index = {kClienti[0], kClienti[1]};
  const std::string image = HostText("X", 6) + HostField('P', "-5", 5, 9, 2);
  const StatementsRow rows[] = {
      {"without an index field every field is inserted and the RRN addresses", &no_index, false,
       '1', 8, image, image, 0, "[_T_RRN___]=8",
       "INSERT INTO [CLIENTI] ([CODICE],[SALDO],[_T_RRN___]) VALUES('X     ',-0000005.00 ,8)"},
      {"an update takes the index and the values from the after image", &kClienti, true, '3', 15,
       Cliente("OLD", "-1.00", 5), Cliente("NEW", "-0.01", 7), 7, "[_T_IDX___]=7 or [_T_RRN___]=15",
       "INSERT INTO [CLIENTI] ([CODICE],[SALDO],[_T_RRN___],[_T_TIPO___]) "
       "VALUES('NEW   ',-0000000.01 ,15,'S')"},
      {"a delete never inserts; its index comes from the after image", &kClienti, true, '2', 15,
       Cliente("A0001", "0", 1), Cliente("A0001", "0", 57), 57, "[_T_IDX___]=57 or [_T_RRN___]=15",
       ""},
      {"a file not sent back: no marker update, no [_T_TIPO___]", &kClienti, false, '1', 2147483647,
       Cliente("Z", "9999999.99", 0), Cliente("Z", "9999999.99", 0), 0, "[_T_RRN___]=2147483647",
       "INSERT INTO [CLIENTI] ([CODICE],[SALDO],[_T_RRN___]) VALUES('Z     ',9999999.99 ,"
       "2147483647)"},
      {"quotes doubled, trailing blanks kept; amounts, negative packed and zoned, binary", &kMisto,
       true, '1', 3, "",
       Misto(HostText("O'BRIEN", 10), "-12345678901234.567", "-1.25", "-12.5", "-2", "256", 9), 9,
       "[_T_IDX___]=9 or [_T_RRN___]=3",
       "[_T_RRN___],[_T_TIPO___]) VALUES('O''BRIEN   ',-12345678901234.567 ,-001.25 ,-012.50,-2,"
       "256,3,'S')"},
      {"a positive amount has its sign place blank; accents and a NUL byte (shown as \xD8)",
       &kMisto, false, '3', 4, "",
       Misto(HostText("Nicol\xF2") + std::string(1, '\0') + HostText("'", 3), "1.5", "0", "0", "0",
             "-32768", 0),
       0, "[_T_RRN___]=4",
       "[_T_RRN___]) VALUES('Nicol\xF2\xD8''  ', 00000000000001.500 ,000.00 ,000.00,0,-32768,4)"}};
  for (const StatementsRow& r : rows) {
    SCOPED_TRACE(r.meaning);
    const bool misto = r.fields == &kMisto;
    const FileEntry file = File(misto ? "MISTO" : "CLIENTI", r.pc_as);
    const std::vector<CampoEntry>& fields = *r.fields;
    const int index_field = fields.size() == 2 ? -1 : int(fields.size()) - 1;
    HostChange change;
    const std::string data = ChangeData(r.code, r.rrn, file.File, "DATI", r.before, r.after);
    ASSERT_TRUE(DecodeChange(testing::Tables(), data, &change).ok());
    ChangeStatements out;
    Status s =
        BuildChangeStatements(testing::Tables(), data, change, file, fields, index_field, &out);
    ASSERT_TRUE(s.ok()) << s.message();
    EXPECT_EQ(r.idx, out.idx);
    std::vector<std::string> expected;
    const std::string table = "[" + file.File + "]";
    if (r.pc_as) expected.push_back("UPDATE " + table + " SET [_T_TIPO___]='D' WHERE " + r.where);
    expected.push_back("DELETE FROM " + table + " WHERE " + r.where);
    if (*r.insert) expected.push_back((misto ? kMistoInsert : std::string()) + r.insert);
    EXPECT_EQ(expected, out.statements);
  }
}

// A field that cannot be decoded is a fault naming it; nothing is built.
TEST(BuildChangeStatements, UndecodableFieldsAreFaults) {
  struct Row {
    const char* meaning;
    const std::vector<CampoEntry>* fields;
    int index_field;
    std::string after;
    const char* message_start;
  };
  std::string bad_amount = Misto(HostText("N", 10), "1", "0", "0", "0", "0", 0);
  bad_amount[10] = '\xFA';
  const std::vector<CampoEntry> no_index = {kClienti[0], kClienti[1]};
  const Row rows[] = {
      {"the amount form with a byte that holds no digits", &kMisto, 6, bad_amount,
       "campo IMPORTO: "},
      {"an after image too short for the index field", &kClienti, 2,
       Cliente("A", "1", 0).substr(0, 13), ""},
      {"an after image too short for a value", &no_index, -1, HostText("A", 6) + "\x00",
       "campo SALDO: "},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.meaning);
    const std::string data = ChangeData('1', 1, "F", "DATI", "", r.after);
    HostChange change;
    ASSERT_TRUE(DecodeChange(testing::Tables(), data, &change).ok());
    ChangeStatements out;
    out.statements = {"untouched"};
    Status s = BuildChangeStatements(testing::Tables(), data, change, File("F", true), *r.fields,
                                     r.index_field, &out);
    EXPECT_EQ(Status::Code::kFault, s.code()) << s.message();
    EXPECT_FALSE(s.message().empty());
    EXPECT_EQ(0u, s.message().find(r.message_start)) << s.message();
    EXPECT_EQ(std::vector<std::string>{"untouched"}, out.statements);
  }
}

// ADD, DEL, UPD and CLEAR are checked end to end: here the widest numbers and a code unknown.
TEST(HostChangeLogLine, WideNumbersAndAnUnknownCode) {
  HostChange c;
  c.library = "DATI";
  c.file = "CLIENTI";
  c.code = '3';
  c.rrn = 2147483647;
  EXPECT_EQ("AS--> DATI/CLIENTI UPD RRN:2147483647 IDX:1234567890123",
            HostChangeLogLine(c, 1234567890123));
  c.code = '9';
  c.rrn = 1;
  EXPECT_EQ("AS--> DATI/CLIENTI COD:9 RRN:1 IDX:0", HostChangeLogLine(c, 0));
}

}  // namespace
}  // namespace torvan
