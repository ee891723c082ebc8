// Fuzz entry points of torvan-host, for what it reads from its clients: the R statements,
// the request frames of the host server program (a session over a copy of the sample
// host, with changes queued), the FTP control conversation and the control socket's
// requests. libFuzzer runs them (-DTORVAN_FUZZ=ON with clang, scripts/fuzz), and
// hostsim_fuzz_test replays their corpora in every build. Each returns 0 and aborts on a
// broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvan::hostsim::fuzz {

// A statement text, Windows-1252.
int FuzzHostStatement(const uint8_t* data, size_t size);
// Two bytes that choose the reply budget and the size of the segments, then the bytes a
// client sends on the host server program's port.
int FuzzHostFrames(const uint8_t* data, size_t size);
// One byte that chooses the size of the segments, then the bytes an FTP client sends.
int FuzzFtpCommands(const uint8_t* data, size_t size);
// The bytes of a control request.
int FuzzCtlRequest(const uint8_t* data, size_t size);

}  // namespace torvan::hostsim::fuzz
