// Replays the corpora of the settings' fuzz targets and seeded variants of them, so every
// build (g++ included) runs them; libFuzzer explores further in the fuzz build.
#include "config/fuzz/fuzz_targets.h"
#include "platform/fuzz_replay.h"

namespace torvan::fuzz {
namespace {

using platform::fuzz::Replay;

TEST(FuzzReplay, SettingsFile) {
  Replay("settings_file", TORVAN_FUZZ_CORPUS "/settings_file", FuzzSettingsFile, 400, 21,
         "[]=\r\n \t\"'{z#");
}

TEST(FuzzReplay, ParameterString) {
  Replay("parameter_string", TORVAN_FUZZ_CORPUS "/parameter_string", FuzzParameterString, 4000, 22,
         "=\n 0123456789SN{z#\"'-");
}

}  // namespace
}  // namespace torvan::fuzz
