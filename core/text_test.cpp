#include "core/text.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

TEST(Text, EveryWindows1252ByteSurvivesUtf8) {
  std::string all;
  for (int c = 1; c < 256; ++c) all += char(c);
  EXPECT_EQ(all, Utf8ToCp1252(Cp1252ToUtf8(all)));
  EXPECT_EQ("\xC2\xA7_T_IDX___", Cp1252ToUtf8("\xA7_T_IDX___"));
  EXPECT_EQ("\xE2\x82\xAC", Cp1252ToUtf8("\x80"));
}

TEST(Text, Utf8ThatWindows1252CannotHoldBecomesAQuestionMark) {
  EXPECT_EQ("a?b", Utf8ToCp1252("a\xE4\xB8\xAD"
                                "b"));   // a CJK letter
  EXPECT_EQ("?", Utf8ToCp1252("\xC3"));  // cut sequence
  EXPECT_EQ("?A", Utf8ToCp1252("\xFF"
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
    for (unsigned char c : Cp1252ToUtf8(shown)) EXPECT_TRUE(c >= 0x20 && c != 0x7F) << b;
    const std::string utf8 = Cp1252ToUtf8(shown);
    EXPECT_EQ(std::string::npos, utf8.find("\xC2\x81")) << b;
    EXPECT_EQ(std::string::npos, utf8.find("\xC2\x9D")) << b;
  }
}

TEST(Text, PaddingAndCutting) {
  EXPECT_EQ("TM        ", PadRight("TM", 10));
  EXPECT_EQ("ABCDE", PadRight("ABCDEFG", 5));
  EXPECT_EQ("00900", KeepRight("00000900", 5));
  EXPECT_EQ("00042", ZeroPad(42, 5));
  EXPECT_EQ("123456", ZeroPad(123456, 5));
  EXPECT_EQ("a b", Trim("  a b  "));
  EXPECT_EQ("SCIAL\xC8", UpperCp1252("scial\xE8"));
  EXPECT_EQ("cd", Mid("abcdef", 3, 2));
  EXPECT_EQ("", Mid("abc", 7, 2));
}

}  // namespace
}  // namespace torvan
