// What fuzzing the change record found, pinned down with exact texts: the mirror INSERT
// names its table in brackets, a numeric field whose bytes are no number is a fault before
// any statement is made, and the held change shows control characters visibly.
#include <gtest/gtest.h>

#include "catalogue/catalogue.h"
#include "replication/change_record_test_util.h"
#include "replication/held_change.h"
#include "replication/host_to_sql.h"

namespace torvan {
namespace {

using testing::Campo;
using testing::ChangeData;
using testing::HostField;
using testing::Tables;

// CLIENTI of DATI sent back to the host: CODICE (A, 6 bytes at 1), SALDO (P, 9 digits 2
// decimals, 5 bytes at 7) and the index field (B, 4 bytes at 12).
class ChangeOfClienti : public ::testing::Test {
 protected:
  ChangeOfClienti() {
    file_.Libreria = "DATI";
    file_.File = "CLIENTI";
    file_.As_Pc = file_.Pc_As = true;
    fields_ = {Campo("CODICE", "A", 1, 6, 6, 0), Campo("SALDO", "P", 7, 5, 9, 2),
               Campo(kCampoIdx, "B", 12, 4, 9, 0)};
  }

  // The record: CODICE "A0001 ", SALDO 1234.50, index 0.
  std::string Record() {
    return HostField('A', "A0001", 6) + HostField('P', "1234.50", 5, 9, 2) + HostField('B', "0", 4);
  }

  // A change record of code "1" for RRN 15 whose before and after images are `record`.
  std::string Data(const std::string& record) {
    return ChangeData('1', 15, "CLIENTI", "DATI", record, record);
  }

  Status Build(const std::string& data, ChangeStatements* plan) {
    HostChange change;
    Status s = DecodeChange(Tables(), data, &change);
    EXPECT_TRUE(s.ok()) << s.message();
    return BuildChangeStatements(Tables(), data, change, file_, fields_, 2, plan);
  }

  FileEntry file_;
  std::vector<CampoEntry> fields_;
};

TEST_F(ChangeOfClienti, InsertNamesTheMirrorTableInBracketsLikeTheOtherStatements) {
  ChangeStatements plan;
  ASSERT_TRUE(Build(Data(Record()), &plan).ok());
  EXPECT_EQ(
      (std::vector<std::string>{"UPDATE [CLIENTI] SET [_T_TIPO___]='D' WHERE [_T_RRN___]=15",
                                "DELETE FROM [CLIENTI] WHERE [_T_RRN___]=15",
                                "INSERT INTO [CLIENTI] ([CODICE],[SALDO],[_T_RRN___],[_T_TIPO___]) "
                                "VALUES('A0001 ',0001234.50 ,15,'S')"}),
      plan.statements);

  // A host name that T-SQL reads otherwise when bare ("#" opens a temporary table's name).
  file_.File = "ORD#1";
  ASSERT_TRUE(Build(Data(Record()), &plan).ok());
  EXPECT_EQ(0u, plan.statements[2].rfind("INSERT INTO [ORD#1] ([CODICE],", 0));
}

TEST_F(ChangeOfClienti, NumericFieldWhoseBytesAreNoNumberIsAFault) {
  struct Row {
    const char* what;
    size_t at;  // byte of the record (from 0) that is spoilt
    uint8_t byte;
    std::string fault;
  };
  const Row rows[] = {
      {"packed sign half-byte among the digits", 7, 0x3C,
       "campo SALDO: valore non numerico \"003 234.50 \""},
      {"packed sign half-byte in the first byte", 6, 0x1C,
       "campo SALDO: valore non numerico \"1 01234.50 \""},
  };
  for (const Row& r : rows) {
    std::string record = Record();
    record[r.at] = char(r.byte);
    ChangeStatements plan;
    plan.idx = 99;
    const Status s = Build(Data(record), &plan);
    EXPECT_EQ(Status::Code::kFault, s.code()) << r.what;
    EXPECT_EQ(r.fault, s.message()) << r.what;
    EXPECT_TRUE(plan.statements.empty()) << r.what;
  }
}

TEST_F(ChangeOfClienti, ZonedHalfByteAboveNineIsAFault) {
  fields_[1] = Campo("SALDO", "S", 7, 5, 5, 2);
  std::string record = Record();
  std::string zoned = HostField('S', "123.45", 5, 5, 2);
  zoned[1] = char(0xFE);  // "2" becomes the character after "9" + 5
  record.replace(6, 5, zoned);
  ChangeStatements plan;
  const Status s = Build(Data(record), &plan);
  EXPECT_EQ(Status::Code::kFault, s.code());
  EXPECT_EQ("campo SALDO: valore non numerico \"1>3.45\"", s.message());
}

TEST(HeldChangeLines, ControlCharactersFromTheHostAreShownNotWritten) {
  HeldChangeView view;
  view.library = "DATI";
  view.file = "CLI\nENTI";
  view.code = '1';
  view.rrn = 15;
  view.received = "05/12/2026 14:05:09";
  view.last_error = "Invalid object name 'X'.\r\n";
  view.after = {{"NOTA", "riga uno\r\nriga due\x1B[2J"}};
  EXPECT_EQ(
      (std::vector<std::string>{"Modifica trattenuta: DATI/CLI\\x0AENTI codice 1 RRN 15 IDX 0",
                                "  ricevuta il 05/12/2026 14:05:09, tentativi 0",
                                "  ultimo errore: Invalid object name 'X'.\\x0D\\x0A",
                                "  dopo:  NOTA=riga uno\\x0D\\x0Ariga due\\x1B[2J"}),
      HeldChangeLines(view));
  // One record line per line, the raw bytes in hexadecimal.
  EXPECT_EQ(
      "Accantonata il 06/12/2026 10:00:00\r\n"
      "Modifica trattenuta: DATI/CLI\\x0AENTI codice 1 RRN 15 IDX 0\r\n"
      "  ricevuta il 05/12/2026 14:05:09, tentativi 0\r\n"
      "  ultimo errore: Invalid object name 'X'.\\x0D\\x0A\r\n"
      "  dopo:  NOTA=riga uno\\x0D\\x0Ariga due\\x1B[2J\r\n"
      "  byte: 0D25\r\n",
      SetAsideRecord(view, "\x0D\x25", "06/12/2026 10:00:00"));
}

}  // namespace
}  // namespace torvan
