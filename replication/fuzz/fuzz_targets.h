// Fuzz entry points of replication: the host change record (DecodeChange, the statements
// BuildChangeStatements makes of it for a small fixed catalogue, and the held change as the
// operator sees it), the pending file (DecodePendingState, and the whole file through
// ReadPendingState) and the journal file (ReadJournal and Journal::Open). libFuzzer runs
// them (-DTORVAN_FUZZ=ON with clang, scripts/fuzz), and replication_fuzz_test replays their
// corpora in every build. Each returns 0 and aborts on a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvan::fuzz {

// The data part of an S reply, host bytes, as the socket layer hands it over.
int FuzzChangeRecord(const uint8_t* data, size_t size);
// A pending-state payload; a first byte of 'F' makes the rest a whole pending file.
int FuzzPendingState(const uint8_t* data, size_t size);
// The bytes of a whole journal file.
int FuzzJournal(const uint8_t* data, size_t size);

}  // namespace torvan::fuzz
