#include "schema/confirm.h"

#include <gtest/gtest.h>

#include "schema/row_count.h"

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

TEST(Confirm, TheExtraLineNamesTheChangesNotSent) {
  EXPECT_EQ("1 modifica non ancora inviata al sistema origine andr\xE0 persa", UnsentText(1));
  EXPECT_EQ("2 modifiche non ancora inviate al sistema origine andranno perse", UnsentText(2));
}

TEST(RowCount, TheTextsTheBrowserShows) {
  EXPECT_EQ("non esiste", RowCount::Absent().Text("."));
  EXPECT_EQ("no permesso", RowCount::NoPermission().Text("."));
  EXPECT_EQ("0", RowCount::Counted(0).Text("."));
  EXPECT_EQ("1,234", RowCount::Counted(1234).Text(","));
  EXPECT_FALSE(RowCount::Counted(0).has_rows());
  EXPECT_TRUE(RowCount::Counted(1).has_rows());
  EXPECT_FALSE(RowCount::NoPermission().has_rows());
  EXPECT_EQ(0, RowCount::Absent().rows());
}

}  // namespace
}  // namespace torvan
