// Replays a fixed set of pseudo-random inputs through the fuzz entry points, so every
// build (g++ included) exercises them; libFuzzer explores further in the fuzz build.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "hostlink/fuzz/fuzz_targets.h"

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

}  // namespace
}  // namespace torvan::hostlink::fuzz
