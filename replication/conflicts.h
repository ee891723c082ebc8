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
//
// A host change of a row (codes "1", "2", "3") meets the PC's changes of the same row:
//   - unsent events (by the record's _T_RRN___, by the change's index, by the _T_IDX___
//     of the rows it replaces) are a conflict. Conflitti=HOST (the default): the host
//     change is applied and the events are not sent; PC: the host change is not applied
//     and the PC's events go (a host delete turns them into "U by the index, then an
//     insert", the row keeping its index). Both deleted: gone, under both rules.
//   - an event sent less than Finestra_Conflitti seconds before is a possible conflict
//     (which reached the host last Torvan cannot know): the host change is applied, and
//     the values of the rule's winner are sent to the host again as an event Torvan
//     records itself (_T_TIPO___ 'C' in the event table; such an event is never the PC's
//     side of a conflict, and a later host change of its row replaces it).
// Each conflict is a record in TnC_CONFLITTI.Log (both versions, times, the rule, and
// "CHIAVE=<crc32>", the same for the same conflict met again after a kill) and a message
// line "[Server_SQL_Sincro] Conflitto su DATI/CONTATTI RRN:1 IDX:1: vince l'host (...)".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "core/program.h"
#include "replication/change_record.h"
#include "replication/host_statements.h"
#include "replication/pending_file.h"

namespace torvan {

struct Runtime;

class Conflicts {
 public:
  // `state` is the pending state this object works on; both outlive it.
  Conflicts(Program& program, PendingState& state) : program_(program), state_(state) {}

  // sql_to_host: event `event` ('I', 'U', 'D') of row `idx` (host record `rrn`, 0 none)
  // of `file` in database `d` is about to be sent with `values`; `torvan`: one Torvan
  // recorded itself. Remembered as possibly executed until Answered says how the host
  // took it; it reaches the file with the event's mark. The events of one batch are
  // remembered together, before the first is sent: the result numbers each in its batch.
  size_t Sending(int32_t d, const std::string& file, int64_t rrn, int64_t idx, char event,
                 const std::vector<HostValue>& values, bool torvan);
  // How the host took the event numbered `sending` of the batch: SentEvent::taken, or '-'
  // when it did nothing (refused, not executed, never sent), which forgets it.
  void Answered(size_t sending, char taken);
  // The batch is over: what it forgot leaves the state (before the state is written).
  void SendingsDone();

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

  // host_to_sql, for a change of code "1", "2" or "3" of `file` (sent back) whose after
  // image is `data`, whose index is `idx`, which replaces the mirror rows of `where`:
  // finds what it meets of the PC's changes and writes the conflict records. False, with
  // `*reason` (and the connection's errors in `*errors`), when that fails: nothing changed.
  bool BeforeHostApply(Runtime& rt, const FileEntry& file, const HostChange& change,
                       std::string_view data, int64_t idx, const std::string& where,
                       std::string* reason);
  // Whether the host change's statements are to be left out (the PC wins).
  bool SkipHost() const { return apply_.skip_host; }
  // After the host change's statements: the events not to be sent go, the rows the PC
  // wins are readied, the values to send again are recorded. False with `*reason`.
  bool AfterHostApply(Runtime& rt, const FileEntry& file, const HostChange& change,
                      std::string* reason);
  // The change is applied for good: the message lines. Abandon forgets a failed attempt.
  void Committed();
  void Abandon() { apply_ = Apply{}; }
  // The change being applied met something of the PC's (events, sendings, lines to write):
  // it is applied in a transaction of its own, so that what is remembered of it goes with
  // its commit.
  bool Met() const {
    return !apply_.events.empty() || apply_.conflict || apply_.possible || apply_.skip_host ||
           !apply_.weighed.empty() || !apply_.lines.empty();
  }

  // The records of TnC_CONFLITTI.Log (`torvan conflicts`, the status count): each begins
  // with "Conflitto del ". Windows-1252.
  static std::vector<std::string> Records(const std::string& conflicts_log);

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

  // What the host change being applied meets.
  struct Event {
    int64_t progr = 0, rrn = 0, idx = 0;
    char event = ' ';
    bool torvan = false;  // recorded by Torvan itself ('C')
    std::string values;   // " NAME=value" of the event row
  };
  struct Apply {
    std::vector<Event> events;       // unsent events of the row, oldest first
    int64_t idx = 0;                 // the row's index, for the lines
    bool conflict = false;           // some are the PC's
    bool possible = false;           // an event sent within the window met it
    bool skip_host = false;          // the PC wins: the host change is left out
    bool pc_values = false;          // possible conflict, the PC wins: its values go again
    std::string sent_values;         // the values last sent, for a possible conflict
    int64_t sent_idx = 0;            // the index they were sent with
    bool sent_delete = false;        // they were a delete the host executed
    std::vector<SentEvent> weighed;  // the sendings this change was weighed against
    std::vector<std::string> lines;  // the message lines, written once committed
  };
  bool KeepConflict(const FileEntry& file, const HostChange& change, const std::string& host_values,
                    const std::string& outcome, std::string* reason);

  Program& program_;
  PendingState& state_;
  Apply apply_;
  // The sendings of the open batch: the last ones of state_.sent. 0 when there is none,
  // or when something removed events from the list since (their answers are then lost,
  // and such events stay "sent, status unknown", the cautious reading).
  size_t batch_sendings_ = 0;
  int empty_answers_ = 0;  // S requests answered "nothing waiting" running
};

}  // namespace torvan
