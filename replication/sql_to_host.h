// SQL to host: Server_SQL_Ritorno, the step of the cycle that sends the host the changes
// made on the SQL side, as recorded by the triggers: per database sent back, a batch of
// the oldest master rows (one query, at most Lotto_Modifiche, sent within about Lotto_Ms),
// their event rows, one R request a statement, one at a time and in order, the host's
// status of each, and the batch's event and master rows removed in one transaction.
//
// Nothing is sent twice in a way that could double a host record: the batch's events are
// marked in flight (pending.h, one write) before the first R request and unmarked once
// their event rows are gone. A marked event found again (its status was never read: the
// link broke, Torvan was killed) is sent again; an "I" as an UPDATE addressed by
// "§_T_IDX___" first, and as the INSERT only when the host refuses that update; a "D"
// whose record is no longer there was executed by the first sending. An event whose
// request got a readable refusal (outcome not "0") was not executed: it is sent again
// unchanged by a later call and its master row stays.
// A statement the host answers with any status but a blank was not executed, whatever
// the character. A "U" or "D" refused at its RRN tries the row's index next: the record
// may be one Torvan added for the row (an earlier update refused at the RRN became an
// insert). An update refused there too is sent as its insert; a refused insert or delete
// is reported on a message line and kept in TnC_RIFIUTATI.Log, and the next event goes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

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
  // One master row of a batch and the event it names.
  struct Item {
    Master m;
    FileEntry entry;       // the file sent back that it names (a copy: events run meanwhile)
    bool matched = false;  // a file sent back names it
    bool found = false;    // its event row was read
    int64_t progr = 0, idx = 0, rrn = 0;
    char event = ' ';
    bool torvan = false;  // recorded by Torvan itself
    std::vector<HostValue> values;
    std::string statement, detail;
    InFlightEvent mark;
    bool was_in_flight = false;  // marked by an earlier attempt: it may have been executed
    bool executed = false;       // the host has it: its rows go
    bool sending = false;        // remembered by the conflicts as sent, number `sent`
    size_t sent = 0;
  };
  // The next events of database d in master order (at most Lotto_Modifiche): read with one
  // query, marked in flight with one write, sent one at a time, removed in one transaction.
  Outcome OneBatch(int32_t d, bool* completed_any);
  // The batch's master rows and their events, up to the first event that cannot go now
  // (kNotExecuted) or a fault (kStop); `*oldest`: the oldest master row's number, 0 none.
  // kNothing with no items: there is no master row.
  Outcome ReadBatch(int32_t d, std::vector<Item>* items, int64_t* oldest);
  // Marks the batch in flight and sends it: items [0, *done) need their rows removed.
  Outcome SendBatch(int32_t d, int64_t oldest, std::vector<Item>* items, size_t* done);
  // A whole number of a recordset value ("57", "1234", "-3"); false when it is none.
  static bool WholeField(const sql::Recordset& rs, std::string_view name, int64_t* value);
  // "<prefix><d> RRN=<rrn> FILE=<file> PROGR=<progr>", the lines' name of a master row.
  static std::string MasterText(const std::string& prefix, int32_t d, int64_t rrn,
                                const std::string& file, int64_t progr);
  // The event rows of one file that a batch names, read with one query and kept by their
  // _T_PROGR___ while the batch's events are read in master order.
  struct FileRows {
    std::vector<std::string> names;
    std::unordered_map<int64_t, std::vector<sql::Field>> by_progr;
  };
  // Reads into `*rows` the event rows of `file` between the lowest and the highest
  // _T_PROGR___ that the batch's master rows of that file name; false on a fault (said).
  bool ReadFileRows(int32_t d, const std::vector<Item>& items, const Item& first, FileRows* rows);
  // Reads the event of `item` from its row (nullptr: there is none): kCompleted when it is
  // ready to send, kNotFound (its master row goes), kNotExecuted (it waits, and the events
  // after it), kStop.
  Outcome ReadEvent(Item* item, const sql::Recordset* row);
  // Sends the marked event: kCompleted (item->executed), kNotExecuted, kStop.
  Outcome SendEvent(Item* item);
  // Rows [0, done) of the batch leave in one transaction; then the statistics and lines.
  bool Remove(int32_t d, const std::vector<Item>& items, size_t done, double start);
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
  // Events the host executed whose rows could not be removed yet: not sent again.
  std::vector<InFlightEvent> answered_;
};

}  // namespace torvan
