#include "config/scramble.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

TEST(Scramble, ThreeLettersAndTheirChecksum) {
  const Scrambled s = Codifica_Parametri("abc"), back = Decodifica_Parametri("RPT");
  EXPECT_EQ(std::tuple("RPT", "7560"), std::tuple(s.text, s.checksum));
  EXPECT_EQ(std::tuple("abc", "7560"), std::tuple(back.text, back.checksum));
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
    const Scrambled s = Codifica_Parametri(plain), back = Decodifica_Parametri(s.text);
    EXPECT_EQ(std::pair(plain, s.checksum), std::pair(back.text, back.checksum)) << len;
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
