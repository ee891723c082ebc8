#include "config/scramble.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

TEST(Scramble, ThreeLettersAndTheirChecksum) {
  Scrambled s = Codifica_Parametri("abc");
  EXPECT_EQ("RPT", s.text);
  EXPECT_EQ("7560", s.checksum);
  Scrambled back = Decodifica_Parametri("RPT");
  EXPECT_EQ("abc", back.text);
  EXPECT_EQ("7560", back.checksum);
}

TEST(Scramble, OnlyTheOpeningBraceBecomesABlank) {
  EXPECT_EQ(" ", Codifica_Parametri("{").text);
  EXPECT_EQ("!", Codifica_Parametri(" ").text);
  std::string all;
  for (int c = 32; c <= 122; ++c) all += char(c);
  EXPECT_EQ(std::string::npos, Codifica_Parametri(all).text.find(' '));
}

TEST(Scramble, EveryMappedTextComesBackWithTheSameChecksum) {
  std::string all;
  for (int c = 32; c <= 123; ++c) all += char(c);
  for (size_t len = 0; len <= all.size(); len += 7) {
    std::string plain = all.substr(all.size() - len);
    Scrambled s = Codifica_Parametri(plain);
    Scrambled back = Decodifica_Parametri(s.text);
    EXPECT_EQ(plain, back.text) << len;
    EXPECT_EQ(s.checksum, back.checksum) << len;
  }
}

TEST(Scramble, CharactersOutsideTheMapAreLost) {
  // "|", "}", "~" and accented letters come back as the inverted question mark.
  Scrambled s = Codifica_Parametri("a|\xE8");
  EXPECT_EQ("a\xBF\xBF", Decodifica_Parametri(s.text).text);
  EXPECT_EQ("", Codifica_Parametri("").text);
  EXPECT_EQ("0", Codifica_Parametri("").checksum);
}

}  // namespace
}  // namespace torvan
