#include "config/scramble.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

TEST(Scramble, ThreeLettersAndTheirChecksum) {
  const Scrambled s = Codifica_Parametri("abc"), back = Decodifica_Parametri("RPT");
  EXPECT_EQ(std::tuple("RPT", "7560"), std::tuple(s.text, s.checksum));
  EXPECT_EQ(std::tuple("abc", "7560"), std::tuple(back.text, back.checksum));
}

// Every mapped text comes back with the same checksum; only "{" becomes a blank.
TEST(Scramble, EveryMappedTextComesBackWithTheSameChecksum) {
  std::string all;
  for (int c = 32; c <= 123; ++c) all += char(c);
  EXPECT_EQ(std::tuple(" ", "!"),
            std::tuple(Codifica_Parametri("{").text, Codifica_Parametri(" ").text));
  EXPECT_EQ(std::string::npos, Codifica_Parametri(all.substr(0, all.size() - 1)).text.find(' '));
  for (size_t len = 0; len <= all.size(); len += 7) {
    std::string plain = all.substr(all.size() - len);
    const Scrambled s = Codifica_Parametri(plain), back = Decodifica_Parametri(s.text);
    EXPECT_EQ(std::pair(plain, s.checksum), std::pair(back.text, back.checksum)) << len;
  }
}

TEST(Scramble, CharactersOutsideTheMapAreLost) {
  // "|", "}", "~" and accented letters come back as the inverted question mark.
  EXPECT_EQ("a\xBF\xBF", Decodifica_Parametri(Codifica_Parametri("a|\xE8").text).text);
  EXPECT_EQ(std::tuple("", "0"),
            std::tuple(Codifica_Parametri("").text, Codifica_Parametri("").checksum));
}

}  // namespace
}  // namespace torvan
