#include "core/text.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

// Every byte survives UTF-8; what Windows-1252 cannot hold (CJK, a cut sequence) becomes "?".
TEST(Text, EveryWindows1252ByteSurvivesUtf8) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += char(c);
  EXPECT_EQ(all, Utf8ToCp1252(Cp1252ToUtf8(all)));
  EXPECT_EQ("\xC2\xA7_T_IDX___ \xE2\x82\xAC", Cp1252ToUtf8("\xA7_T_IDX___ \x80"));
  EXPECT_EQ("a?b ? ?A", Utf8ToCp1252("a\xE4\xB8\xAD"
                                     "b \xC3 \xFF"
                                     "A"));
}

TEST(Text, NumericValueReadsTheLeadingNumber) {
  struct Row {
    const char* meaning;
    const char* text;
    int32_t value;
  } rows[] = {
      {"zero padded", "00030", 30},         {"blank padded", "4200 ", 4200},
      {"leading blanks", "   15", 15},      {"negative", "-0005", -5},
      {"not a number", "abc", 0},           {"empty", "", 0},
      {"digits then letters", "12ab3", 12}, {"too large", "99999999999", INT32_MAX},
  };
  for (const Row& r : rows) EXPECT_EQ(r.value, NumericValue(r.text)) << r.meaning;
}

TEST(Text, VisibleTextEscapesExactlyTheControlCharacters) {
  EXPECT_EQ("A\\x0AB\\x0D\\x00\\x7F\\x81\xA7\x80 ~",
            VisibleText(std::string("A\nB\r\0\x7F\x81\xA7\x80 ~", 11)));
  for (int b = 0; b < 256; ++b) {
    const std::string shown = VisibleText(std::string(1, char(b)));
    const bool control =
        b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
    EXPECT_EQ(control ? 4u : 1u, shown.size()) << b;
    // What reaches the console holds no C0 or C1 control code point.
    const std::string utf8 = Cp1252ToUtf8(shown);
    for (unsigned char c : utf8) EXPECT_TRUE(c >= 0x20 && c != 0x7F) << b;
    EXPECT_TRUE(utf8.find("\xC2\x81") == utf8.npos && utf8.find("\xC2\x9D") == utf8.npos) << b;
  }
}

TEST(Text, PaddingAndCutting) {
  EXPECT_EQ(std::tuple("TM        ", "ABCDE", "00900", "00042", "123456"),
            std::tuple(PadRight("TM", 10), PadRight("ABCDEFG", 5), KeepRight("00000900", 5),
                       ZeroPad(42, 5), ZeroPad(123456, 5)));
  EXPECT_EQ(
      std::tuple("a b", "SCIAL\xC8", "cd", ""),
      std::tuple(Trim("  a b  "), UpperCp1252("scial\xE8"), Mid("abcdef", 3, 2), Mid("abc", 7, 2)));
}

}  // namespace
}  // namespace torvan
