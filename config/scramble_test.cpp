#include "config/scramble.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

// "abc" and its checksum both ways; every mapped text back with the same checksum; only "{"
// becomes a blank; "|", "}", "~" and accented letters come back as the inverted question mark.
TEST(Scramble, EveryMappedTextComesBackWithTheSameChecksumTheRestIsLost) {
  const Scrambled abc = Codifica_Parametri("abc"), rpt = Decodifica_Parametri("RPT");
  EXPECT_EQ(std::tuple("RPT", "7560", "abc", "7560"),
            std::tuple(abc.text, abc.checksum, rpt.text, rpt.checksum));
  std::string all;
  for (int c = 32; c <= 123; ++c) all += char(c);
  EXPECT_EQ(std::tuple(" ", "!", "", "0"),
            std::tuple(Codifica_Parametri("{").text, Codifica_Parametri(" ").text,
                       Codifica_Parametri("").text, Codifica_Parametri("").checksum));
  EXPECT_EQ(std::string::npos, Codifica_Parametri(all.substr(0, all.size() - 1)).text.find(' '));
  for (size_t len = 0; len <= all.size(); len += 7) {
    std::string plain = all.substr(all.size() - len);
    const Scrambled s = Codifica_Parametri(plain), back = Decodifica_Parametri(s.text);
    EXPECT_EQ(std::pair(plain, s.checksum), std::pair(back.text, back.checksum)) << len;
  }
  EXPECT_EQ("a\xBF\xBF", Decodifica_Parametri(Codifica_Parametri("a|\xE8").text).text);
}

}  // namespace
}  // namespace torvan
