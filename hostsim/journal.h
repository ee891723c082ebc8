// The journal of torvan-host: every change of the records and of the change queue since
// the data folder's text files were last written, one line per entry, appended.
//
// A line is the CRC-32 of the entry (8 hex digits), a blank, the entry and "\n". Entries
// never contain "\n". On start the journal is replayed up to its first line that is torn
// (no "\n", the process died while writing it) or damaged (its CRC does not match); what
// follows such a line is dropped, so a crash or a damaged block never brings wrong data in.
//
// Used only by HostStore. Not thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace torvan::hostsim {

uint32_t Crc32(std::string_view bytes);

class Journal {
 public:
  Journal() = default;
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Calls `apply` for every sound entry of the journal at `path`, in order; a missing
  // journal has none. `dropped` receives the number of bytes left out after a torn or
  // damaged line (0 when the whole journal was sound). An error of `apply` stops the
  // replay and is returned.
  static Status Replay(const std::string& path,
                       const std::function<Status(std::string_view entry)>& apply, size_t* dropped);

  // Starts a new, empty journal at `path` (replacing an old one atomically) and keeps it
  // open for appending.
  Status Start(const std::string& path);

  // Buffers one entry; nothing reaches the file before Flush.
  void Add(std::string_view entry);
  bool HasPending() const { return !pending_.empty(); }
  size_t pending_bytes() const { return pending_.size(); }

  // Writes the buffered entries. With `sync`, also waits until they are on disk.
  Status Flush(bool sync);

  // Bytes in the journal file, flushed entries only.
  uint64_t size() const { return size_; }

 private:
  int fd_ = -1;
  std::string path_;
  std::string pending_;
  uint64_t size_ = 0;
};

}  // namespace torvan::hostsim
