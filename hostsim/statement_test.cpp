#include "hostsim/statement.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "hostsim/statement_runner.h"
#include "hostsim/test_support.h"

namespace torvan::hostsim {
namespace {

using testing::Tables;

// A parsed statement's LIB/FILE and values in one line, quoted values in [ ].
std::string Describe(const Statement& s) {
  std::string d = s.library + "/" + s.file;
  for (const auto& [name, v] : s.values) {
    d += " " + name + "=" + (v.quoted ? "[" + v.text + "]" : v.text);
  }
  return d;
}

// Torvan's own forms are run by RunStatementTest and replayed from the fuzz corpus; here
// the values and the spacing.
TEST(ParseStatementTest, ValuesAndSpacing) {
  const std::pair<const char*, const char*> cases[] = {
      {"INSERT INTO L/F (A) VALUES('')", "L/F A=[]"},
      {"INSERT INTO L/F (A) VALUES('''')", "L/F A=[']"},
      {"INSERT INTO L/F (A) VALUES('a, b) = c')", "L/F A=[a, b) = c]"},
      {"INSERT INTO L/F (A) VALUES('ab  ')", "L/F A=[ab  ]"},
      {"INSERT INTO L/F (A) VALUES(-0001234.50)", "L/F A=-0001234.50"},
      {"INSERT INTO L/F (A) VALUES(+7)", "L/F A=+7"},
      {"insert into dati/f (a) values(1)", "DATI/F A=1"},
      {"  INSERT  INTO  L / F ( A )  VALUES (  3  )  ", "L/F A=3"},
      {"INSERT INTO L/F (A) VALUES('Nicol\xF2')", "L/F A=[Nicol\xF2]"},
  };
  for (const auto& [text, parsed] : cases) {
    Statement s;
    Status st = ParseStatement(text, &s);
    ASSERT_TRUE(st.ok()) << text << ": " << st.message();
    EXPECT_EQ(parsed, Describe(s));
  }
}

TEST(ParseStatementTest, RefusesWhatTorvanNeverSends) {
  const char* cases[] = {
      "",
      "SELECT * FROM DATI/CLIENTI",
      "INSERT INTO CLIENTI (A) VALUES(1)",                    // no library
      "INSERT INTO DATI/CLIENTI (A,B) VALUES(1)",             // fewer values
      "INSERT INTO DATI/CLIENTI (A) VALUES(1, 2)",            // more values
      "INSERT INTO DATI/CLIENTI (A) VALUES('open",            // unclosed quote
      "INSERT INTO DATI/CLIENTI (A) VALUES(12x)",             // not a number
      " UPDATE DATI/CLIENTI a SET A=1WHERE RRN(a)=1",         // a number run into the next word
      "INSERT INTO DATI/CLIENTI (A) VALUES(,)",               // empty value
      "INSERT INTO DATI/CLIENTI (A) VALUES(1) extra",         // trailing text
      " UPDATE DATI/CLIENTI a SET A=1",                       // no WHERE: every record
      " DELETE FROM DATI/CLIENTI a",                          // no WHERE
      " DELETE FROM DATI/CLIENTI a WHERE RRN(b)=1",           // another correlation name
      " DELETE FROM DATI/CLIENTI a WHERE RRN(a)=1.5",         // not a record number
      " UPDATE DATI/CLIENTI a SET A=1 WHERE RRN(a)=1; DROP",  // two statements
  };
  for (const char* text : cases) {
    Statement s;
    EXPECT_EQ(Status::Code::kInvalidArgument, ParseStatement(text, &s).code()) << text;
  }
}

class RunStatementTest : public testing::SampleStore {
 protected:
  std::string Value(int32_t rrn, const char* field) {
    HostFile* contatti = File("DATI/CONTATTI");
    std::string v;
    EXPECT_TRUE(codec_.GetField(*contatti->FindField(field), contatti->records.at(rrn), &v).ok());
    return v;
  }
};

TEST_F(RunStatementTest, InsertUpdateDeleteByIndexAndByRrn) {
  HostFile* contatti = File("DATI/CONTATTI");
  auto run = [&](const std::string& text) {
    const StatementResult r = RunStatement(store_.get(), text);
    ASSERT_EQ(kStatementDone, r.status) << text << ": " << r.message;
  };
  run("INSERT INTO DATI/CONTATTI (CODCLI,NOMINATIVO,VALORE,\xA7_T_IDX___) "
      "VALUES('C00002', 'Sig. D''Amico', -1234.5, 57)");
  ASSERT_EQ(1u, contatti->records.count(3));  // after the two sample records
  EXPECT_EQ("Sig. D'Amico" + std::string(18, ' '), Value(3, "NOMINATIVO"));
  EXPECT_EQ("-00000000001234.500 ", Value(3, "VALORE"));
  EXPECT_EQ("57", Value(3, "\xA7_T_IDX___"));
  EXPECT_EQ("00000000", Value(3, "DATA"));  // not named: empty
  run(" UPDATE DATI/CONTATTI a SET NOTA='Richiamare', ESITO='P', \xA7_T_IDX___=57 WHERE "
      "\xA7_T_IDX___=57");
  EXPECT_EQ("Richiamare", Trim(Value(3, "NOTA")));
  EXPECT_EQ("Sig. D'Amico", Trim(Value(3, "NOMINATIVO")));  // untouched
  run(" UPDATE DATI/CONTATTI a SET ESITO='N' WHERE RRN(a)=1");
  EXPECT_EQ("N", Value(1, "ESITO"));
  run(" DELETE FROM DATI/CONTATTI a WHERE \xA7_T_IDX___=57");
  EXPECT_EQ(0u, contatti->records.count(3));
  run(" DELETE FROM DATI/CONTATTI a WHERE RRN(a)=2");
  EXPECT_EQ(1u, contatti->records.size());
  EXPECT_EQ(0u, store_->QueueSize());
}

TEST_F(RunStatementTest, RefusalsChangeNothing) {
  HostFile* contatti = File("DATI/CONTATTI");
  const std::map<int32_t, std::string> records = contatti->records;
  auto set = [](const std::string& values, const std::string& where = "RRN(a)=1") {
    return " UPDATE DATI/CONTATTI a SET " + values + " WHERE " + where;
  };
  const std::pair<char, std::string> cases[] = {
      {kStatementSyntax, "DROP TABLE DATI/CONTATTI"},
      {kStatementNoFile, " DELETE FROM DATI/NESSUNO a WHERE RRN(a)=1"},
      {kStatementNoField, set("COLORE='x'")},
      {kStatementNoField, " DELETE FROM DATI/CONTATTI a WHERE COLORE=1"},
      {kStatementNoRecord, set("ESITO='x'", "RRN(a)=99")},
      {kStatementNoRecord, " DELETE FROM DATI/CONTATTI a WHERE \xA7_T_IDX___=4242"},
      {kStatementBadValue, set("ESITO='PN'")},              // text too long
      {kStatementBadValue, set("VALORE=123456789012345")},  // too many digits
      {kStatementBadValue, set("VALORE=1.2345")},           // too many decimals
      {kStatementBadValue, set("DATA='ieri'")},             // not a number
      {kStatementBadValue, set("NOTA='ok', ESITO='PN'")},   // after a value that fits
      {kStatementBadValue,                                  // the index beyond its 9 digits
       "INSERT INTO DATI/CONTATTI (CODCLI,\xA7_T_IDX___) VALUES('X', 1234567890)"},
  };
  for (const auto& [status, text] : cases) {
    SCOPED_TRACE(text);
    const StatementResult r = RunStatement(store_.get(), text);
    EXPECT_EQ(status, r.status) << r.message;
    EXPECT_FALSE(r.message.empty());
    EXPECT_EQ(records, contatti->records);
  }
}

}  // namespace
}  // namespace torvan::hostsim
