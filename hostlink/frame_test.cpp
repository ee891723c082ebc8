#include "hostlink/frame.h"

#include <gtest/gtest.h>

namespace torvan::hostlink {
namespace {

// Requests are the code, five digits of length and the data; reply headers carry zoned lengths.
TEST(Frame, RequestsAndReplyHeadersWithinTheirLimits) {
  std::string frame;
  ASSERT_TRUE(BuildRequest('S', "", &frame).ok());
  EXPECT_EQ("S00000", frame);
  ASSERT_TRUE(BuildRequest('P', "20261205140509123000", &frame).ok());
  EXPECT_EQ("P0002020261205140509123000", frame);
  ASSERT_TRUE(BuildRequest('R', std::string(99999, 'x'), &frame).ok());
  EXPECT_EQ("R99999", frame.substr(0, 6));
  frame = "untouched";
  EXPECT_FALSE(BuildRequest('R', std::string(100000, 'x'), &frame).ok());
  EXPECT_EQ("untouched", frame);

  std::array<uint8_t, kCharTableLength> host_to_pc{};
  for (int i = 0; i < 10; ++i) host_to_pc[0xF0 + i] = uint8_t('0' + i);
  CharTables tables(host_to_pc);
  ASSERT_TRUE(BuildReplyHeader(tables, '0', 45, &frame).ok());
  EXPECT_EQ("\xF0\xF0\xF0\xF0\xF4\xF5", frame);
  ASSERT_TRUE(BuildReplyHeader(tables, '1', 8192, &frame).ok());
  EXPECT_EQ("\xF1\xF0\xF8\xF1\xF9\xF2", frame);
  EXPECT_FALSE(BuildReplyHeader(tables, '0', 8193, &frame).ok());
  EXPECT_FALSE(BuildReplyHeader(tables, '0', -1, &frame).ok());
}

TEST(Frame, ZonedLengthsAreCheckedNotTrusted) {
  const std::pair<std::string, int32_t> rows[] = {
      // -1: refused
      {"\xF0\xF0\xF0\xF4\xF5", 45},
      {"\xF0\xF0\xF0\xF0\xF0", 0},
      {"\xF0\xF8\xF1\xF9\xF2", 8192},
      {"\xF0\xF0\xF0\xF4\xC5", 45},  // positive sign C last
      {"\xF0\xF8\xF1\xF9\xF3", -1},
      {"\xF9\xF9\xF9\xF9\xF9", -1},
      {"\xF0\xF0\xF0\xF4\xD5", -1},  // negative sign
      {"\x40\x40\x40\xF4\xF5", -1},
      {"\xC1\xC2\xC3\xC4\xC5", -1},
      {"\xF0\xF0\xF0\xFA\xF5", -1},  // half-byte above nine
      {"\xF4\xF5", -1},
      {"00045", -1},
  };
  for (const auto& [bytes, expected] : rows) {
    int32_t length = -1;
    EXPECT_EQ(expected >= 0, ParseZonedLength(bytes, &length).ok()) << expected;
    EXPECT_EQ(expected, length);
  }
}

TEST(Frame, RequestLengthsAreFiveDigitsWithinTheLimit) {
  int32_t length = -1;
  for (std::string_view bad : {"0002", "000200", " 0020", "-0020", "0002a", "08193"}) {
    EXPECT_FALSE(ParseLengthDigits(bad, kMaxReplyData, &length).ok()) << bad;
  }
  EXPECT_EQ(-1, length);
  EXPECT_TRUE(ParseLengthDigits("00020", kMaxRequestData, &length).ok());
  EXPECT_EQ(20, length);
  EXPECT_TRUE(ParseLengthDigits("99999", kMaxRequestData, &length).ok());
  EXPECT_EQ(99999, length);
}

}  // namespace
}  // namespace torvan::hostlink
