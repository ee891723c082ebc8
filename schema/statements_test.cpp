// The row statements, character by character: the engines receive exactly these.
#include "schema/statements.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

TEST(Statements, TheRowStatementsWithTheirNamesAndValuesQuoted) {
  EXPECT_EQ("select count(*) from  [ART]", CountRows("ART "));
  EXPECT_EQ("select count(*) from  [A]]B]", CountRows("A]B"));
  EXPECT_EQ("UPDATE [CLIENTI] SET [_T_TIPO___]='D' WHERE [_T_RRN___]=15",
            MarkRowsDeleted("CLIENTI", WhereIdxOrRrn(0, 15)));
  EXPECT_EQ("DELETE FROM [CLIENTI] WHERE [_T_IDX___]=7 or [_T_RRN___]=15",
            DeleteRows("CLIENTI", WhereIdxOrRrn(7, 15)));
  EXPECT_EQ("SELECT * FROM [_T_MASTER___] ORDER BY [_T_RRN___]", SelectMaster());
  EXPECT_EQ("SELECT * FROM [CLIENTI___] WHERE [_T_PROGR___]>=3 AND [_T_PROGR___]<=9",
            SelectEvents("CLIENTI", 3, 9));
  EXPECT_EQ("DELETE FROM [CLIENTI___] WHERE [_T_PROGR___]=3", DeleteEvent("CLIENTI", 3));
  EXPECT_EQ("DELETE FROM [_T_MASTER___] WHERE [_T_RRN___]=9", DeleteMaster(9));
  EXPECT_EQ("A]]B", BracketName("A]B"));
  EXPECT_EQ("O''BRIEN", QuoteValue("O'BRIEN"));
}

}  // namespace
}  // namespace torvan
