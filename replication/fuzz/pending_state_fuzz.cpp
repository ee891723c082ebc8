#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/fuzz_check.h"
#include "platform/temp_folder.h"
#include "replication/fuzz/fuzz_targets.h"
#include "replication/pending_file.h"

namespace torvan::fuzz {

namespace {

using platform::fuzz::Check;

PendingState Sentinel() {
  PendingState s;
  s.last_applied = "INTATTO";
  return s;
}

// The whole file: whatever it holds is read without failing (a damaged slot is no slot);
// the state read is written back through the locked file and read again unchanged.
void CheckFile(std::string_view bytes) {
  static platform::TempFolder folder("torvan-fuzz-pending");
  const std::string path = folder / "TnC_PENDENTI.DAT";
  Check(platform::WriteFileAtomic(path, std::string(bytes), 0600, /*durable=*/false).ok());
  PendingState read = Sentinel();
  Check(ReadPendingState(path, &read).ok());

  std::unique_ptr<PendingFile> file;
  PendingState opened = Sentinel();
  Check(PendingFile::Open(path, false, &file, &opened).ok());
  Check(opened == read);
  Check(file->Write(read).ok());
  file.reset();
  PendingState again = Sentinel();
  Check(ReadPendingState(path, &again).ok());
  Check(again == read);
}

}  // namespace

int FuzzPendingState(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (!bytes.empty() && bytes[0] == 'F') {
    CheckFile(bytes.substr(1));
    return 0;
  }
  PendingState state = Sentinel();
  if (DecodePendingState(bytes, &state)) {
    // The layout has one encoding for each state.
    Check(EncodePendingState(state) == bytes);
  } else {
    Check(state == Sentinel());
  }
  return 0;
}

}  // namespace torvan::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::fuzz::FuzzPendingState(data, size);
}
#endif
