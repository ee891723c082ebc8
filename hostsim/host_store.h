// HostStore: the host's files and its queue of changes for the PC, kept in the data
// folder so that both survive a restart (or a crash) of torvan-host.
//
// Every change is applied in memory and written as a journal entry (journal.h); Flush
// makes the entries durable, and now and then (and at every open and clean close) the
// records and the queue are written anew as the data folder's text files and the journal
// starts empty. Replaying a journal over text files written after it is harmless: record
// entries set a final state, queue entries carry sequence numbers. So a crash at any
// moment, even while the text files are being rewritten, loses nothing that was flushed.
//
// The queue is what the S request serves: the front change is delivered, and it leaves
// the queue only when acknowledged (the next S request on the same connection).
//
// Used by the host server program, the FTP server's RCMD and the control command, all on
// the server's one thread.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "hostsim/data_folder.h"
#include "hostsim/host_data.h"
#include "hostsim/journal.h"
#include "hostsim/record_codec.h"
#include "platform/clock.h"
#include "platform/status.h"

namespace torvan::hostsim {

// Change codes of a change record.
inline constexpr char kChangeAdded = '1';
inline constexpr char kChangeDeleted = '2';
inline constexpr char kChangeUpdated = '3';
inline constexpr char kChangeCleared = '4';

// One queued change of a host file, as the S request delivers it.
struct Change {
  int64_t seq = 0;  // position in the host's history of changes, from 1
  char code = kChangeAdded;
  std::string library, file;
  int32_t rrn = 0;     // 0 for a cleared file
  std::string text14;  // when the change was made, yyyymmddhhnnss
  std::string before;  // host bytes of the record before the change (empty for a clear)
  std::string after;   // host bytes after it; for a delete, the deleted record
};

// True for a real local time written yyyymmddhhnnss (month 1-12, day 1-31, hour 0-23,
// minute and second 0-59).
bool IsTime14(const std::string& text);

// When the host server goes down and comes back, as P and T report it.
struct Schedule {
  std::string stop;       // yyyymmddhhnnss; empty: no stop in sight (tomorrow, same time)
  std::string restart;    // yyyymmddhhnnss; empty: one hour after the stop
  bool stopping = false;  // T answers "S": the host server is stopping now
};

class HostStore {
 public:
  // Opens the data folder: definitions, records, queue and schedule, then replays the
  // journal and writes the text files anew. `clock` gives the time of each change and
  // must outlive the store. Lines of advice (a damaged journal tail that was dropped, an
  // entry for a file no longer defined) are appended to `notes`.
  static Status Open(const DataFolder& folder, const RecordCodec& codec, platform::Clock* clock,
                     std::unique_ptr<HostStore>* store, std::string* notes);

  HostData& data() { return data_; }
  const RecordCodec& codec() const { return codec_; }
  const DataFolder& folder() const { return folder_; }

  // Record changes. The record must have the file's record length. With `queue` the change
  // is also queued for the PC (changes made by the PC's own statements are not). Update
  // and Delete of an RRN that holds no record are NotFound and change nothing.
  Status Insert(HostFile* file, std::string record, bool queue, int32_t* rrn);
  Status Update(HostFile* file, int32_t rrn, std::string record, bool queue);
  Status Delete(HostFile* file, int32_t rrn, bool queue);
  Status Clear(HostFile* file, bool queue);

  // Queues the whole file for the PC, records unchanged: a clear, then every record as
  // added, in RRN order (how a PC's copy is filled from scratch).
  Status Refresh(HostFile* file);

  size_t QueueSize() const { return queue_.size(); }
  // The change the next S request delivers; nullptr when the queue is empty.
  const Change* FrontChange() const { return queue_.empty() ? nullptr : &queue_.front(); }
  // Removes the front change when it is the change `seq`; anything else does nothing.
  void Acknowledge(int64_t seq);

  const Schedule& schedule() const { return schedule_; }
  // Replaces the schedule and writes it to state.txt at once.
  Status SetSchedule(const Schedule& schedule);

  // Writes the journal entries made since the last call (with `sync`, waits for the disk),
  // then rewrites the text files when the journal has outgrown them.
  Status Flush(bool sync);
  // True when entries wait that must be written before any reply leaves: changed records
  // and queued changes. Acknowledgements alone may wait a little (UnflushedBytes, a
  // timer): one lost in a crash only delivers that change once more, in its order.
  bool MustFlush() const { return must_flush_; }
  size_t UnflushedBytes() const { return journal_.pending_bytes(); }
  // Writes every changed records file and the queue, then starts an empty journal.
  Status Compact();

 private:
  HostStore(const DataFolder& folder, const RecordCodec& codec, platform::Clock* clock)
      : folder_(folder), codec_(codec), clock_(clock) {}

  Status LoadQueue();
  Status LoadState();
  Status ApplyEntry(std::string_view entry, std::string* notes);
  void Enqueue(char code, const HostFile& file, int32_t rrn, std::string before, std::string after);
  void PutRecord(HostFile* file, int32_t rrn, std::string record);

  DataFolder folder_;
  RecordCodec codec_;
  platform::Clock* clock_;
  HostData data_;
  std::deque<Change> queue_;
  int64_t next_seq_ = 1;
  Schedule schedule_;
  Journal journal_;
  std::vector<HostFile*> dirty_;  // files changed since their text file was written
  uint64_t snapshot_bytes_ = 0;   // size of the text files at the last compaction
  bool must_flush_ = false;
};

}  // namespace torvan::hostsim
