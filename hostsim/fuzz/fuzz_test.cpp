// Replays the corpora of torvan-host's fuzz targets and seeded variants of them, so every
// build (g++ included) runs them; libFuzzer explores further in the fuzz build.
#include "hostsim/fuzz/fuzz_targets.h"
#include "platform/fuzz_replay.h"

namespace torvan::hostsim::fuzz {
namespace {

using platform::fuzz::Replay;

TEST(FuzzReplay, HostStatement) {
  Replay("host_statement", TORVAN_FUZZ_CORPUS "/host_statement", FuzzHostStatement, 4000, 51,
         "'(),=/ aA\xA7-+.0123456789");
}

TEST(FuzzReplay, HostFrames) {
  // Host digits F0..F9, request codes P T S I 3 1 2 R in the host code, a blank.
  Replay("host_frames", TORVAN_FUZZ_CORPUS "/host_frames", FuzzHostFrames, 1500, 52,
         "\xF0\xF1\xF2\xF3\xF9\xD7\xE3\xE2\xC9\xD9\xE2\x40\x7D");
}

TEST(FuzzReplay, FtpCommands) {
  Replay("ftp_commands", TORVAN_FUZZ_CORPUS "/ftp_commands", FuzzFtpCommands, 3000, 53,
         "\r\n ('P0)/USERPASQIRCMD");
}

TEST(FuzzReplay, CtlRequest) {
  Replay("ctl_request", TORVAN_FUZZ_CORPUS "/ctl_request", FuzzCtlRequest, 3000, 54,
         std::string_view("\n\0"
                          "0123456789",
                          12));
}

}  // namespace
}  // namespace torvan::hostsim::fuzz
