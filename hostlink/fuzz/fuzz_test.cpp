// Replays the corpora of the host link's fuzz targets and a fixed set of pseudo-random
// inputs through the entry points, so every build (g++ included) exercises them; libFuzzer
// explores further in the fuzz build.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "hostlink/fuzz/fuzz_targets.h"
#include "platform/fuzz_replay.h"

namespace torvan::hostlink::fuzz {
namespace {

// Inputs that look like host data often enough to get past the first checks: zoned
// digits, packed digits, blanks, CR LF, the served outcome, and plain noise.
std::vector<uint8_t> Input(std::mt19937& random, size_t max_size) {
  static constexpr uint8_t kLikely[] = {0xF0, 0xF1, 0xF2, 0xF4, 0xF8, 0xF9, 0x40, 0x0D,
                                        0x0A, 0x12, 0x5F, 0x5D, 0x9C, 0xA0, 0xFF, 0x00};
  std::vector<uint8_t> input(random() % max_size);
  for (uint8_t& b : input) {
    b = random() % 3 == 0 ? uint8_t(random()) : kLikely[random() % sizeof kLikely];
  }
  return input;
}

TEST(FuzzReplay, FieldDecode) {
  std::mt19937 random(20261205);
  for (int i = 0; i < 5000; ++i) {
    const std::vector<uint8_t> input = Input(random, 64);
    ASSERT_EQ(0, FuzzFieldDecode(input.data(), input.size()));
  }
}

TEST(FuzzReplay, ReplyReader) {
  std::mt19937 random(4200);
  for (int i = 0; i < 2000; ++i) {
    std::vector<uint8_t> input = Input(random, 300);
    // Mostly well-formed headers, so the data reads are reached.
    if (input.size() > 7 && i % 2 == 0) {
      const uint8_t header[] = {0xF0, 0xF0, 0xF0, 0xF0, 0xF0, uint8_t(0xF0 + random() % 10)};
      std::copy(std::begin(header), std::end(header), input.begin() + 1);
    }
    ASSERT_EQ(0, FuzzReplyReader(input.data(), input.size()));
  }
}

using platform::fuzz::Replay;

constexpr std::string_view kLikelyBytes("\xF0\xF1\xF9\x40\x0D\x0A\x0F\x5F\x9C\xA0\xFF\x00", 12);

TEST(FuzzReplay, FieldDecodeCorpus) {
  Replay("field_decode", TORVAN_FUZZ_CORPUS "/field_decode", FuzzFieldDecode, 2000, 7,
         kLikelyBytes);
}

TEST(FuzzReplay, ReplyReaderCorpus) {
  Replay("reply_reader", TORVAN_FUZZ_CORPUS "/reply_reader", FuzzReplyReader, 500, 8, kLikelyBytes);
}

TEST(FuzzReplay, CharTable) {
  Replay("char_table", TORVAN_FUZZ_CORPUS "/char_table", FuzzCharTable, 2000, 9, kLikelyBytes);
}

}  // namespace
}  // namespace torvan::hostlink::fuzz
