#include "hostsim/statement.h"

#include <gtest/gtest.h>

#include <string>

namespace torvan::hostsim {
namespace {

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

}  // namespace
}  // namespace torvan::hostsim
