#include "schema/confirm.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

TEST(Confirm, BoxTextsUseLoneCarriageReturns) {
  EXPECT_EQ("manca il permesso alla cancellazione\rdel file GESTIONE/CLIENTI\r",
            RefusalText("GESTIONE", "CLIENTI"));
  EXPECT_EQ(
      "il file GESTIONE/_T_MASTER___ contiene 1.234\rrecord(s) \r\r\rpremere 'OK' per "
      "cancellare\rpremere 'Annulla' per NON cancellare\r",
      QuestionText("GESTIONE", "_T_MASTER___", "1.234"));
}

TEST(Confirm, RowCountsAreGroupedByThousands) {
  EXPECT_EQ("1.234", FormatRowCount(1234, "."));
  EXPECT_EQ("1,234", FormatRowCount(1234, ","));
  EXPECT_EQ("999", FormatRowCount(999, "."));
  EXPECT_EQ("1.000.000", FormatRowCount(1000000, "."));
  EXPECT_EQ("0", FormatRowCount(0, "."));
  EXPECT_EQ("1234567", FormatRowCount(1234567, ""));
}

}  // namespace
}  // namespace torvan
