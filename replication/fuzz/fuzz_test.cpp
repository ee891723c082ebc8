// Replays the corpora of replication's fuzz targets and seeded variants of them, so every
// build (g++ included) runs them; libFuzzer explores further in the fuzz build.
#include "platform/fuzz_replay.h"
#include "replication/fuzz/fuzz_targets.h"

namespace torvan::fuzz {
namespace {

using platform::fuzz::Replay;

// Host digits, blanks, sign half-bytes, the change codes and NUL.
constexpr std::string_view kHostBytes("\xF0\xF1\xF4\xF9\x40\x0F\x0D\xC3\x00\xFF\xA0", 11);

TEST(FuzzReplay, ChangeRecord) {
  Replay("change_record", TORVAN_FUZZ_CORPUS "/change_record", FuzzChangeRecord, 2000, 58,
         kHostBytes);
}

TEST(FuzzReplay, PendingState) {
  Replay("pending_state", TORVAN_FUZZ_CORPUS "/pending_state", FuzzPendingState, 3000, 1201,
         std::string_view("\x00\x01\x02\x03\xFF\x80"
                          "F",
                          7));
}

TEST(FuzzReplay, Journal) {
  Replay("journal", TORVAN_FUZZ_CORPUS "/journal", FuzzJournal, 3000, 4099,
         std::string_view("\x00\x01\x02\x04\x09\xFF", 6));
}

}  // namespace
}  // namespace torvan::fuzz
