// The statements sent to the host for SQL-side events (the rest is checked end to end).
#include "replication/host_statements.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

// The event of the examples: CODICE (text) A'1 and a blank, IMPORTO (zoned) 12.
const std::vector<HostValue> kEvent = {{"CODICE", true, "A'1 "}, {"IMPORTO", false, "12"}};

TEST(HostStatements, ExactTexts) {
  struct Row {
    const char* meaning;
    std::string statement;
    const char* expected;
  };
  const std::vector<HostValue> untrimmed = {{"NOTA", true, "  l'ora  "},
                                            {"VALORE", false, " -12345678901234.567 "},
                                            {"VUOTO", true, "   "},
                                            {"ACCENTO", true, "Nicol\xF2"}};
  const Row rows[] = {
      {"an update addressed by the index",
       HostUpdateStatement("DATI", "CLIENTI", kEvent, 57, HostWhere(0, 57)),
       " UPDATE DATI/CLIENTI a SET CODICE='A''1', IMPORTO=12, \xA7_T_IDX___=57 WHERE "
       "\xA7_T_IDX___=57"},
      {"texts lose trailing blanks only, numbers blanks at both ends",
       HostInsertStatement("DATI", "CONTATTI", untrimmed, 2),
       "INSERT INTO DATI/CONTATTI (NOTA,VALORE,VUOTO,ACCENTO,\xA7_T_IDX___) VALUES('  l''ora', "
       "-12345678901234.567, '', 'Nicol\xF2', 2)"},
      {"an insert of a file with no field but the index",
       HostInsertStatement("DATI", "SOLO", {}, 1),
       "INSERT INTO DATI/SOLO (\xA7_T_IDX___) VALUES(1)"},
  };
  for (const Row& r : rows) EXPECT_EQ(r.expected, r.statement) << r.meaning;
}

// What a numeric host field receives for an SQL value, and what it cannot hold.
TEST(HostNumberText, RoundsToTheFieldAndRefusesWhatItCannotHold) {
  struct Row {
    const char* meaning;
    const char* tipo;
    int32_t bytes, digits, decimals;
    const char* value;
    const char* sent;  // nullptr: refused
  };
  const Row rows[] = {
      {"half away from zero", "P", 5, 9, 2, "-0.125", "-0.13"},
      {"a real's shortest text", "S", 8, 8, 0, "20240301", "20240301"},
      {"rounded past the digits", "P", 2, 3, 2, "9.996", nullptr},
      {"the declared digits", "P", 4, 6, 2, "12345.6", nullptr},
      {"SMALLINT's highest", "B", 2, 5, 0, "32767", "32767"},
      {"BIGINT's lowest", "B", 8, 19, 0, "-9223372036854775808", "-9223372036854775808"},
      {"a binary field with decimals", "B", 4, 9, 2, "-1.5", "-1.50"},
      {"no number", "S", 3, 3, 0, "abc", nullptr},
  };
  for (const Row& r : rows) {
    CampoEntry f;
    f.Nome = "F";
    f.Tipo = r.tipo;
    f.Byte = r.bytes;
    f.Lunghezza = r.digits;
    f.Decimali = r.decimals;
    std::string text = "untouched";
    const Status s = HostNumberText(f, r.value, &text);
    EXPECT_EQ(r.sent != nullptr, s.ok()) << r.meaning;
    EXPECT_EQ(r.sent ? r.sent : "untouched", text) << r.meaning;
  }
}

}  // namespace
}  // namespace torvan
