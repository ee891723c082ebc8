#include "core/statistics.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

// 100 twips per character makes widths easy to reason about.
int Measure(std::string_view s) { return int(s.size()) * 100; }

TEST(Statistics, ZeroValuesAreBlankNotZero) {
  Statistics s;
  for (const StatField& f : StatFields()) {
    if (f.source == StatField::Source::kText) continue;
    std::string text = StatFieldText(s, f, Measure);
    EXPECT_EQ(std::string::npos, text.find_first_not_of(' ')) << f.tooltip;
  }
  EXPECT_EQ("", FormatCount(0));
  EXPECT_EQ("", FormatSeconds(0));
  EXPECT_EQ("1.500", FormatSeconds(1.5f));
  EXPECT_EQ("42", FormatCount(42));
}

TEST(Statistics, NumbersLoseLeadingDigitsTextsLoseTrailingCharacters) {
  EXPECT_EQ("4567", FitRight("1234567", 440, Measure));
  EXPECT_EQ("ABCD", FitLeft("ABCDEFG", 440, Measure));
  // 200 spare twips give 4 blanks (200 / 45).
  EXPECT_EQ("    12", FitRight("12", 400, Measure));
  EXPECT_EQ("12    ", FitLeft("12", 400, Measure));
  // 44 spare twips give none.
  EXPECT_EQ("12", FitLeft("12", 244, Measure));
}

TEST(Statistics, ResetKeepsDateTimeHostTimesAndStatusLine) {
  Statistics s;
  s.Ritardo_Link = 7;
  for (int i = 0; i < 4; ++i) {
    s.Stat_Contatori[i] = i + 1;
    s.Stat_Tempi[i] = float(i + 1);
  }
  for (int i = 0; i < 9; ++i) s.Stat_Testi[i] = "t" + std::to_string(i);
  Statistiche_Reset(s);
  Statistics expected;
  for (int i = 4; i < 9; ++i) expected.Stat_Testi[i] = "t" + std::to_string(i);
  EXPECT_EQ(0, s.Ritardo_Link);
  EXPECT_EQ(expected.Stat_Contatori, s.Stat_Contatori);
  EXPECT_EQ(expected.Stat_Tempi, s.Stat_Tempi);
  EXPECT_EQ(expected.Stat_Testi, s.Stat_Testi);
}

TEST(Statistics, OverflowGuardClearsBothRowsButNotTheLinkCounter) {
  Statistics s;
  s.Ritardo_Link = 5;
  s.Stat_Contatori[0] = 2000000000;
  s.Stat_Contatori[2] = 3;
  EXPECT_FALSE(Statistiche_Overflow(s));
  s.Stat_Contatori[0] = 2000000001;
  EXPECT_TRUE(Statistiche_Overflow(s));
  EXPECT_EQ(std::tuple(0, 0, 5),
            std::tuple(s.Stat_Contatori[0], s.Stat_Contatori[2], s.Ritardo_Link));
}

TEST(Statistics, ARecordAcrossMidnightCountsTheRealDuration) {
  Statistics s;
  // 23:59:50 -> 00:00:05
  Statistiche_AddRecord(s, kRecordsReceived, kSecondsReceiving, 86390.0, 5.0);
  EXPECT_EQ(1, s.Stat_Contatori[0]);
  EXPECT_FLOAT_EQ(15.0f, s.Stat_Tempi[0]);
  EXPECT_FLOAT_EQ(15000.0f, s.Stat_Tempi[1]);
  Statistiche_AddRecord(s, kRecordsReceived, kSecondsReceiving, 10.0, 15.0);
  EXPECT_FLOAT_EQ(20.0f, s.Stat_Tempi[0]);
  EXPECT_FLOAT_EQ(10000.0f, s.Stat_Tempi[1]);
}

}  // namespace
}  // namespace torvan
