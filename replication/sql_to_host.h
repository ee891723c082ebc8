// SQL to host: Server_SQL_Ritorno, the step of the cycle that sends the host the changes
// made on the SQL side, as recorded by the triggers: per database sent back, the oldest
// master row, its event row, one R request with the statement, the host's status, and the
// event and master rows removed.
//
// Nothing is sent twice in a way that could double a host record: an event is marked in
// flight (pending.h) before its R request and unmarked once its event row is gone. A
// marked event found again (its status was never read: the link broke, Torvan was killed)
// is sent again; an "I" as an UPDATE addressed by "§_T_IDX___" first, and as the INSERT
// only when the host refuses that update; a "U" refused at its RRN likewise tries its
// index before it becomes an INSERT; a "D" whose record is no longer there was executed by
// the first sending. An event whose request got a readable refusal (outcome not "0")
// was not executed: it is sent again unchanged by a later call and its master row stays.
// A statement the host answers with any status but a blank was not executed, whatever
// the character: an update is sent again as its insert; a refused insert or delete is
// reported on a message line and kept in TnC_RIFIUTATI.Log, and the next event goes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "core/repeated_fault.h"
#include "links/runtime.h"
#include "replication/pending.h"

namespace torvan {

class SqlToHost {
 public:
  SqlToHost(Runtime& rt, Pending& pending);
  ~SqlToHost();  // writes the pending state when an event's mark left it unwritten

  // True when at least one event was completed (sent, answered, removed) in this call.
  bool Server_SQL_Ritorno();

 private:
  enum class Outcome { kNothing, kCompleted, kNotFound, kNotExecuted, kStop };
  struct Master {
    int32_t database = 0;
    int64_t rrn = 0;
    std::string file;
    int64_t progr = 0;
  };
  Outcome OneMaster(int32_t d, double start, bool* completed_any);
  Outcome OneEvent(const Master& m, const FileEntry& file, double start);
  // The event answered by the host: its row goes, then the statistics and the log line.
  Outcome Complete(const Master& m, const std::string& library, char event, int64_t rrn,
                   int64_t idx, int64_t progr, const std::string& detail, const InFlightEvent& mark,
                   double start);
  // Sends one statement; kCompleted when a status was read (in `*status`).
  Outcome Send(const std::string& statement, bool repeated, char* status);
  static std::string EventText(const Master& m, const std::string& library, char event, int64_t rrn,
                               int64_t idx);
  void Refused(char status, const Master& m, const std::string& library, char event, int64_t rrn,
               int64_t idx, const std::string& statement);
  bool LogPcAs(const std::string& text);
  void LinkLost();
  // Whether the held host change concerns the row of host record `rrn` of `entry`.
  bool HeldConcerns(const HeldChange& held, const FileEntry& entry, int64_t rrn);
  // A fault of database d met at `what` (the event or the step it concerns): a line and the
  // connection's errors when it starts (for a lock, what waits for it), nothing more while
  // it lasts (RepeatedFault). `reason` replaces the connection's first error as the cause.
  void Fault(int32_t d, const std::string& what, const std::string& reason = "");
  // Database d worked through its step: a fault under way ends, with its line.
  void FaultEnded(int32_t d);
  RepeatedFault& FaultOf(int32_t d);
  std::string DatabaseName(int32_t d) const;

  Runtime& rt_;
  Pending& pending_;
  bool unmarked_unsaved_ = false;  // a completed event's mark is gone from memory only
  std::map<int32_t, std::unique_ptr<RepeatedFault>> faults_;
  // An event the host executed whose row could not be removed yet: it is not sent again.
  std::optional<InFlightEvent> answered_;
};

}  // namespace torvan
