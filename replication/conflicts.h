// Conflicts: both sides changed one row. Owned by Pending (pending.h), whose file keeps
// what it must remember across a kill; called at a few points of the two steps.
//
// The events sent to the host are remembered (SentEvent in pending_file.h) from their
// mark until they are old (Finestra_Conflitti seconds) and the host's queue has been seen
// empty since. A file cleared on the host whose clear reached Torvan after some of its
// events were sent follows the host, "the clear wins":
//   - an event addressed by the RRN may have reached a record the host made after its
//     clear (the host numbers from 1 again): it is reported as a possible conflict in
//     TnC_CONFLITTI.Log, with a message line;
//   - a row such an event may have added on the host after the clear (an "I", an "U" that
//     became an insert or found its record by the index) is not in the mirror built again.
//     Whether it is on the host Torvan learns from what follows the clear: a host that
//     sends its whole file again (a clear, then every record as added) brings the record
//     back with its index, which settles it. One that is still missing once the host has
//     said twice running that its queue is empty was made after the clear: it is deleted
//     on the host by the index ("DELETE FROM LIB/FILE a WHERE §_T_IDX___=n"; a record
//     already gone answers "no record", harmless), with a message line and a record in
//     TnC_ACCANTONATI.Log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "core/program.h"
#include "replication/host_statements.h"
#include "replication/pending_file.h"

namespace torvan {

struct Runtime;

class Conflicts {
 public:
  // `state` is the pending state this object works on; both outlive it.
  Conflicts(Program& program, PendingState& state) : program_(program), state_(state) {}

  // sql_to_host: event `event` ('I', 'U', 'D') of row `idx` (host record `rrn`, 0 none)
  // of `file` in database `d` is about to be sent with `values`. Remembered as possibly
  // executed until Answered says how the host took it; it reaches the file with the
  // event's mark.
  void Sending(int32_t d, const std::string& file, int64_t rrn, int64_t idx, char event,
               const std::vector<HostValue>& values);
  // How the host took the event of the last Sending: SentEvent::taken, or '-' when it did
  // nothing (refused, not executed), which forgets it.
  void Answered(char taken);

  // host_to_sql: the host delivered a change, or said its queue is empty. After two empty
  // answers running, the rows that a clear left missing from the mirror are deleted on the
  // host; false, with `*reason`, when the link failed (what is left is tried again).
  void Delivered() { empty_answers_ = 0; }
  bool QueueEmpty(Runtime& rt, std::string* reason);

  // host_to_sql, before file `file`, cleared on the host, is built again: the events
  // addressed by the RRN are reported as possible conflicts. False, with `*reason`, when
  // the conflicts file cannot be written.
  bool BeforeClear(const FileEntry& file, std::string* reason);
  // The clear is applied: the file's events that may have added a row on the host wait
  // for the host to settle them; the others are forgotten.
  void Cleared(const FileEntry& file);
  // A host change of the record with index `idx` (change code "1", "2" or "3") was applied
  // to `file`: the record is where the host says it is.
  void HostApplied(const FileEntry& file, int64_t idx);

  // The window in milliseconds (setting Finestra_Conflitti, seconds).
  int64_t WindowMs() const;

 private:
  int64_t NowMs() const;
  static std::string SentText(const SentEvent& e);  // "UPD RRN:1 IDX:1"
  static std::string SentTime(const SentEvent& e);  // "dd/mm/yyyy hh:nn:ss"
  void Prune();
  // Appends `record` (Windows-1252, CR LF) to `path` unless the file holds it already.
  bool KeepOnce(const std::string& path, const std::string& record, const std::string& when,
                std::string* reason);

  Program& program_;
  PendingState& state_;
  int last_sending_ = -1;  // index in state_.sent of the last Sending, -1 none
  int empty_answers_ = 0;  // S requests answered "nothing waiting" running
};

}  // namespace torvan
