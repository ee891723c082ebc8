// The journal "TnC_GIORNALE.DAT": the host changes received and not yet applied, in the
// order the host delivered them. Only the host-to-SQL step (replication/host_to_sql.h)
// writes it, while it holds the folder's lock (the pending file's, pending_file.h).
//
// The host takes a new S request as the acknowledgement of the change it delivered
// before. So a change is appended here (and with `Durevole` on, synced) before the next S
// request leaves; from then on the journal, not the host, holds it. The changes are
// applied later, many per SQL transaction; each database keeps in its table
// "_T_GIORNALE___" the journal's id and the sequence of the last change applied to it, in
// the same transaction as the changes (replication/journal_position.h), so that a change is
// applied exactly once whatever instant a kill falls on. An "applied" record then says
// that every change up to a sequence is done, and the journal can forget them.
//
// Layout (little-endian): records one after the other, each
//   length (4, of the body) | CRC-32 of the body (4) | body
// and a body is
//   type (1) | sequence (8) | payload
// The types (JournalRecord):
//   base      first record of every file. Sequence: the last one used before this file
//             (every change up to it is applied). Payload: the journal's id (8), then the
//             data of the last change received (empty when none), so that the host
//             delivering it again after a cut is recognised.
//   change    a change received. Sequence: the one before + 1. Payload: the length of the
//             "received" text (1), that text ("dd/mm/yyyy hh:nn:ss"), the S reply's data.
//   set-aside the operator set the change of that sequence aside (torvan pending
//             --set-aside): it is not applied.
//   applied   every change up to that sequence is applied (or consumed).
// Each record is written with one write call at the end of the file. A record cut short
// by a kill (the torn tail) is cut off when the file is opened, with a message: the S
// request that would have acknowledged it never left, so the host still holds it. A
// damaged record followed by good ones is a journal damaged on disk: opening fails,
// naming its offset, and nothing is applied from the file until the operator acts. A write
// that fails (a full disk) cuts the file back to the last whole record.
//
// When every change in it is applied and the file is past kRestartBytes, it restarts: a
// fresh file holding only a base record replaces it by an atomic rename.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace torvan {

namespace journal_format {
inline constexpr char kFileName[] = "TnC_GIORNALE.DAT";
inline constexpr size_t kHeaderSize = 8;  // length + CRC-32
inline constexpr size_t kBodyFixed = 9;   // type + sequence
// No S reply's data reaches this (8192 bytes at most); a length beyond it is damage.
inline constexpr uint32_t kMaxBody = 64 * 1024;
inline constexpr uint64_t kRestartBytes = 1024 * 1024;
}  // namespace journal_format

enum class JournalRecord : uint8_t { kBase = 1, kChange = 2, kSetAside = 3, kApplied = 4 };

struct JournalEntry {
  uint64_t sequence = 0;
  std::string data;      // the data part of the S reply, host bytes, as received
  std::string received;  // when it arrived, "dd/mm/yyyy hh:nn:ss"
};

// What a journal file says, read back.
struct JournalContents {
  uint64_t id = 0;
  uint64_t last_sequence = 0;        // the last sequence used
  std::string last_received;         // data of the last change received, "" when none
  std::deque<JournalEntry> waiting;  // received, neither applied nor set aside, in order
  uint64_t valid_bytes = 0;          // where the last whole record ends
  bool torn_tail = false;            // bytes after valid_bytes were cut off (or would be)
};

// Reads the journal at `path` without changing it. A missing file is an empty journal (id
// 0). A damaged record followed by good ones fails (Status::Code::kFault), the message
// naming the file and the record's offset.
Status ReadJournal(const std::string& path, JournalContents* contents);

// One record's bytes (header and body), as Journal writes them.
std::string JournalRecordBytes(JournalRecord type, uint64_t sequence, std::string_view payload);

class Journal {
 public:
  // Opens the journal at `path`, creating it when missing (a new id; `last_received` is
  // then the data of the change last applied, and `migrated`, when not empty, the changes
  // received and not applied that a pending file of an older Torvan held). A torn tail is
  // cut off, and `*note` says so (empty otherwise). Fails for a damaged file (see
  // ReadJournal) and when the file cannot be read, written or made.
  static Status Open(const std::string& path, bool durable, std::string_view last_received,
                     const std::vector<JournalEntry>& migrated, std::unique_ptr<Journal>* journal,
                     std::string* note);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  uint64_t id() const { return c_.id; }
  const std::deque<JournalEntry>& waiting() const { return c_.waiting; }
  // The payload bytes of the waiting changes.
  uint64_t waiting_bytes() const { return waiting_bytes_; }
  const std::string& last_received() const { return c_.last_received; }
  const std::string& path() const { return path_; }
  void set_durable(bool durable) { durable_ = durable; }

  // Appends a change (sequence: the last + 1). When `Durevole` is on it is on the disk
  // when this returns. On failure the file is cut back to its last whole record and the
  // change is not in the journal.
  Status Append(std::string data, std::string received);
  // Every waiting change up to `sequence` is applied: they leave the journal. May restart
  // the file (see above).
  Status MarkApplied(uint64_t sequence);
  // The first waiting change, of `sequence`, is set aside and leaves the journal.
  Status SetAside(uint64_t sequence);

 private:
  Journal(std::string path, int fd, bool durable, JournalContents contents);
  Status Write(JournalRecord type, uint64_t sequence, std::string_view payload);
  Status Restart();
  void Forget(uint64_t sequence, bool only_first);

  std::string path_;
  int fd_;
  bool durable_;
  JournalContents c_;
  uint64_t waiting_bytes_ = 0;
  bool lost_ = false;  // the file was replaced and could not be opened again
  std::string lost_reason_;
};

}  // namespace torvan
