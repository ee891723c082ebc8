#include "core/statistics.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

// 100 twips per character makes widths easy to reason about.
int Measure(std::string_view s) { return int(s.size()) * 100; }

TEST(Statistics, ZeroValuesAreBlankAndTextsAreCutToTheirWidth) {
  Statistics s;
  for (const StatField& f : StatFields()) {
    if (f.source == StatField::Source::kText) continue;
    std::string text = StatFieldText(s, f, Measure);
    EXPECT_EQ(std::string::npos, text.find_first_not_of(' ')) << f.tooltip;
  }
  EXPECT_EQ(std::tuple("", "", "1.500", "42"),
            std::tuple(FormatCount(0), FormatSeconds(0), FormatSeconds(1.5f), FormatCount(42)));
  // Numbers lose leading digits, texts trailing characters; spare twips give a blank each 45
  // (200: 4, 44: none).
  EXPECT_EQ(std::tuple("4567", "ABCD", "    12", "12    ", "12"),
            std::tuple(FitRight("1234567", 440, Measure), FitLeft("ABCDEFG", 440, Measure),
                       FitRight("12", 400, Measure), FitLeft("12", 400, Measure),
                       FitLeft("12", 244, Measure)));
}

// A record across midnight counts its real duration; a reset keeps the date, time, host times
// and status line; the overflow guard clears both rows of counters but not the link's.
TEST(Statistics, RecordsResetAndOverflowGuard) {
  Statistics s;
  Statistiche_AddRecord(s, kRecordsReceived, kSecondsReceiving, 86390.0, 5.0);  // 23:59:50-00:00:05
  EXPECT_EQ(std::tuple(1, 15.0f, 15000.0f),
            std::tuple(s.Stat_Contatori[0], s.Stat_Tempi[0], s.Stat_Tempi[1]));
  Statistiche_AddRecord(s, kRecordsReceived, kSecondsReceiving, 10.0, 15.0);
  EXPECT_EQ(std::pair(20.0f, 10000.0f), std::pair(s.Stat_Tempi[0], s.Stat_Tempi[1]));
  s.Ritardo_Link = 7;
  s.Stat_Contatori = {1, 2, 3, 4};
  s.Stat_Tempi = {1, 2, 3, 4};
  s.Stat_Testi = {"t0", "t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8"};
  Statistiche_Reset(s);
  EXPECT_EQ(std::tuple(0, std::array<int32_t, 4>{}, std::array<float, 4>{},
                       std::array<std::string, 9>{"", "", "", "", "t4", "t5", "t6", "t7", "t8"}),
            std::tuple(s.Ritardo_Link, s.Stat_Contatori, s.Stat_Tempi, s.Stat_Testi));
  s.Ritardo_Link = 5;
  s.Stat_Contatori[0] = 2000000000;
  s.Stat_Contatori[2] = 3;
  EXPECT_FALSE(Statistiche_Overflow(s));
  s.Stat_Contatori[0] = 2000000001;
  EXPECT_TRUE(Statistiche_Overflow(s));
  EXPECT_EQ(std::tuple(0, 0, 5),
            std::tuple(s.Stat_Contatori[0], s.Stat_Contatori[2], s.Ritardo_Link));
}

}  // namespace
}  // namespace torvan
