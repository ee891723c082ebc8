// The pending file "TnC_PENDENTI.DAT": what replication must remember about changes in
// transit, so that a stop, a cut link or a kill at any instant loses no change and applies
// none twice.
//
// Host to SQL. The host takes a new S request as the acknowledgement of the change it
// delivered before; a change that was received but not applied would be lost by the next
// request. So a received change is written here as held before it is applied, and moves
// to last_applied once applied; while a change is held no S request is sent. The last
// applied change is remembered until the host delivers another: a host that delivers it
// again (its acknowledgement was lost with the connection) finds it here, the same in
// every byte the PC reads (change_record.h SameChangeAsRead), and it is not applied twice.
//
// SQL to host. An event whose R request left but whose status was never read may have
// been executed by the host. It is marked in flight before the request and unmarked once
// its event row is gone; a marked event is sent again so that it cannot add a second host
// record (replication/sql_to_host.h).
//
// Layout: two slots of kSlotSize bytes at offsets 0 and kSlotSize; each write goes to the
// slot that does not hold the newest state, as one write call, so a write cut short
// leaves the other slot whole. A slot is "TnP1", generation (8 bytes), payload length (4),
// CRC-32 of generation, length and payload (4), payload; numbers little-endian. Reading
// takes the valid slot with the highest generation; none valid is an empty state.
//
// One Torvan works in a base folder at a time: the file is locked (flock) while open.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/status.h"

namespace torvan {

// A host change received and not yet applied.
struct HeldChange {
  std::string data;        // the data part of the S reply, host bytes, as received
  std::string received;    // when it arrived, "dd/mm/yyyy hh:nn:ss"
  std::string last_error;  // why the last attempt failed, Windows-1252; empty at first
  int32_t attempts = 0;    // attempts that failed
  bool operator==(const HeldChange&) const = default;
};

// An SQL-side event whose R request may have reached the host.
struct InFlightEvent {
  int32_t database = 0;        // database number
  int64_t master_rrn = 0;      // _T_RRN___ of its master row
  std::string file;            // the master row's file
  int64_t progr = 0;           // _T_PROGR___ of its event row
  uint32_t statement_crc = 0;  // CRC-32 of the statement first sent: identifies the event
  bool operator==(const InFlightEvent&) const = default;
};

// An SQL-side event sent to the host not long ago (replication/conflicts.h).
struct SentEvent {
  // How the host took it, as far as Torvan knows.
  static constexpr char kUnknown = '?';         // sent, its status never read
  static constexpr char kInserted = 'I';        // an INSERT was executed
  static constexpr char kUpdatedAtRrn = 'U';    // an UPDATE by RRN(a) was executed
  static constexpr char kUpdatedByIndex = 'X';  // an UPDATE by the index was executed
  static constexpr char kDeleted = 'D';         // a DELETE was executed or found nothing
  int32_t database = 0;
  std::string file;
  int64_t rrn = 0, idx = 0;        // the event row's _T_RRN___ and _T_IDX___
  char event = ' ';                // 'I', 'U', 'D'
  char taken = kUnknown;           // one of the above
  int64_t sent_ms = 0;             // local time of the sending, ms since the epoch
  bool queue_empty_since = false;  // the host said its queue was empty after the sending
  // Its file was cleared on the host after the sending, and no host change has brought its
  // record back since: the record may be on the host and not in the mirror.
  bool after_clear = false;
  bool torvan = false;  // an event Torvan recorded itself ('C'): never the PC's side
  std::string values;   // " NAME=value" of each field sent, Windows-1252
  bool operator==(const SentEvent&) const = default;
};

struct PendingState {
  std::optional<HeldChange> held;
  std::optional<std::string> last_applied;  // data part of the last change applied
  std::vector<InFlightEvent> in_flight;     // at most one per database
  std::vector<SentEvent> sent;              // oldest first
  bool operator==(const PendingState&) const = default;
};

inline constexpr size_t kPendingSlotSize = 128 * 1024;

// The payload of a state, and back (false for bytes that are not one).
std::string EncodePendingState(const PendingState& state);
void AppendPendingState(const PendingState& state, std::string* out);  // the payload, appended
bool DecodePendingState(std::string_view payload, PendingState* state);

class PendingFile {
 public:
  // Opens (creating) and locks the file and reads its state. Fails when another process
  // holds the lock (Status::Code::kIoError, message naming the file and saying so), or
  // when the file cannot be opened or read. `durable`: every write is flushed to the disk
  // before Write returns (setting "Durevole").
  static Status Open(const std::string& path, bool durable, std::unique_ptr<PendingFile>* file,
                     PendingState* state);
  ~PendingFile();  // unlocks
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Replaces the state on file. A state whose payload does not fit a slot is refused.
  Status Write(const PendingState& state);
  void set_durable(bool durable) { durable_ = durable; }
  const std::string& path() const { return path_; }

 private:
  PendingFile(std::string path, int fd, bool durable)
      : path_(std::move(path)), fd_(fd), durable_(durable) {}

  std::string path_;
  int fd_;
  bool durable_;
  uint64_t generation_ = 0;
  int newest_slot_ = 1;  // the next write goes to the other one
  bool folder_synced_ = false;
  std::string buffer_;  // the slot being written
};

// Reads the state without locking (for listing it while Torvan runs). A missing file is
// an empty state.
Status ReadPendingState(const std::string& path, PendingState* state);

// True when a process holds the lock of the file at `path` (a Torvan works in the folder).
bool PendingFileInUse(const std::string& path);

}  // namespace torvan
