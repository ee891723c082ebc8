// Replays the corpora of the catalogue's fuzz targets and seeded variants of them, so every
// build (g++ included) runs them; libFuzzer explores further in the fuzz build.
#include "catalogue/fuzz/fuzz_targets.h"
#include "platform/fuzz_replay.h"

namespace torvan::fuzz {
namespace {

using platform::fuzz::Replay;

// Blanks, flags, type letters, small little-endian numbers and the file separator.
constexpr std::string_view kLikelyBytes("  SNASPBx\x01\x00\xFF\x7F\x80\n-", 15);

TEST(FuzzReplay, CatalogueRecords) {
  Replay("catalogue_records", TORVAN_FUZZ_CORPUS "/catalogue_records", FuzzCatalogueRecords, 3000,
         31, kLikelyBytes);
}

TEST(FuzzReplay, CatalogueLoad) {
  Replay("catalogue_load", TORVAN_FUZZ_CORPUS "/catalogue_load", FuzzCatalogueLoad, 300, 32,
         kLikelyBytes);
}

}  // namespace
}  // namespace torvan::fuzz
