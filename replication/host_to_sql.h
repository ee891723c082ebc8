// Host to SQL: Server_SQL_Sincro, the step of the cycle that asks the host for its next
// changes and applies them to the files' mirror tables (with the image archive's files),
// and now and then repeats the time exchange.
//
// Nothing received is lost and nothing is applied twice. A change the host delivers is
// appended to the journal (replication/journal.h) before the next S request acknowledges
// it; the step keeps asking while the batch's bounds allow ("Lotto_Modifiche" changes,
// "Lotto_Ms" milliseconds) and the journal has room ("Giornale_Modifiche",
// "Giornale_Byte"): a full journal leaves the rest with the host. The journaled changes
// are applied in order while the next request's reply travels, and what is left once the
// asking ends, one SQL transaction per database for a batch, the
// database's journal position written in that same transaction
// (replication/journal_position.h): after a kill, a change at or below it is not applied
// again. A clear goes alone; a change of the image archive is applied before the next S
// request (the host serves its images) and waits while the link is down. A batch that
// fails at its k-th change is undone; its first k changes go again as a batch, then the
// failing one alone. A change that fails alone is held: it blocks what follows and no S
// request leaves, visibly, one message line a call (the connection's errors in full the
// first time); the pending file shows it to `torvan pending`, which can set it aside. A
// change the host delivers again after a cut is recognised and not journaled twice. A
// change that waits for a lock another program holds says so once when the wait starts
// and once when it ends, and the wait is part of RunState::Attivita meanwhile; a lost
// connection is opened again. Statistics and the "AS-->" lines follow the commit.
//
// A file cleared on the host (code "4") is built again empty (RebuildClearedFile): the
// changes made on the SQL side and not yet sent are kept in TnC_ACCANTONATI.Log first; the
// clear counts as applied only once the table is there again and empty, and is held
// otherwise.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/repeated_fault.h"
#include "links/runtime.h"
#include "replication/change_record.h"
#include "replication/journal.h"
#include "replication/pending.h"
#include "schema/confirm.h"

namespace torvan {

// The statements that apply a change of code "1", "2" or "3" to the mirror table of
// `file` (whose included fields are `fields`, in catalogue order; `index_field` is the
// position in `fields` of "§_T_IDX___", or -1), in order: UPDATE ... 'D' (files sent back),
// DELETE, and for "1" and "3" the INSERT of the after image. `*idx` receives the index
// field's value in the after image (0 without one). A field that cannot be decoded, and a
// numeric field whose bytes do not make a number, is a fault: no statement is made.
struct ChangeStatements {
  int64_t idx = 0;
  std::vector<std::string> statements;
};
Status BuildChangeStatements(const hostlink::CharTables& tables, std::string_view data,
                             const HostChange& change, const FileEntry& file,
                             const std::vector<CampoEntry>& fields, int index_field,
                             ChangeStatements* out);

// "AS--> <library>/<file>" and the change's suffix (" ADD RRN:15 IDX:0", " CLEAR", ...).
std::string HostChangeLogLine(const HostChange& change, int64_t idx);

class HostToSql {
 public:
  // All references must outlive the step.
  HostToSql(Runtime& rt, Confirmations& confirmations, Pending& pending);
  ~HostToSql();

  // True when changes were delivered, or journaled ones applied (or consumed), in this
  // call; false when the host had none and nothing waited, the exchange failed, or a held
  // change could not be applied again.
  bool Server_SQL_Sincro();

  // The changes in the journal not yet applied (0 before it is open).
  size_t JournalDepth() const;

 private:
  struct Failure {
    std::string reason;                 // for the message line, Windows-1252
    std::string where;                  // <database>/<file> of the statement that failed
    std::vector<sql::SqlError> errors;  // the connection's errors, when they explain it
    bool reported = false;              // those errors were written already
    int file_number = 0;                // the file's number in the catalogue, 0 unknown
  };
  struct Done {
    uint64_t sequence = 0;
    HostChange change;
    int64_t idx = 0;
    bool logged = false;  // counted and logged (false: in the database already)
  };
  struct Batch {
    std::vector<Done> done;               // in order: the first waiting changes
    std::vector<int32_t> open;            // databases with a transaction open, in order of use
    std::map<int32_t, uint64_t> last_of;  // per database with a transaction: its last change
    size_t failed_at = 0;                 // kFailed: the failing change's place in the batch
    HostChange failed_change;
    Failure failure;
  };
  enum class BatchEnd {
    kMore,           // Extend: every change asked for is in the batch; more may follow
    kFull,           // Extend: the batch is to be committed now (a clear, a change alone)
    kApplied,        // Commit: committed and the journal advanced
    kAdvanceFailed,  // Commit: committed, the journal not advanced
    kFailed,         // undone: `failed_at` says where
    kWait,           // undone: a change of the image archive waits for the link
  };

  // Opens the journal when not yet done (moving an older pending file's change into it);
  // false after a message line when it cannot be opened.
  bool OpenJournal();
  // Asks the host for changes while the bounds allow and journals them; while each
  // request travels, waiting changes are applied (ApplyInFlight). True when the host
  // delivered any or a batch was committed.
  bool Receive(double start);
  // Appends a change received; on failure keeps it to be appended first next time.
  bool Journaled(std::string data, std::string received);
  // Applies the journaled changes in batches. `*blocked`: the first is held.
  bool ApplyWaiting(double start, bool* blocked);
  // While an S request travels: the waiting changes go into the open batch (batch_),
  // which is committed once it reaches its bounds. What may need the link (a clear, a
  // change of the image archive or of a file sent back), and any failure, is left to
  // ApplyWaiting once the reply is in. True when a batch was committed.
  bool ApplyInFlight(double start);
  // Applies waiting changes, from the batch's next place up to the `n`-th, in its open
  // transactions (a clear in none: it goes alone). `in_flight`: a request travels.
  BatchEnd Extend(size_t n, Batch* batch, bool in_flight);
  // Writes each database's journal position in its transaction, commits, advances the
  // journal.
  BatchEnd Commit(Batch* batch);
  void RollBack(Batch* batch);
  // Statistics, message lines and the held state, after a batch is committed.
  void Completed(const Batch& batch, double start);
  void HeldFailed(const Batch& batch);
  // The journal's position in database `db` (read once, then kept).
  bool Position(int32_t db, const FileEntry& file, uint64_t* position, Failure* failure);
  std::string DatabaseName(int32_t db) const;
  // The catalogue's file of the change (`*number` 0: not replicated to SQL) with its
  // database open.
  bool FindTarget(const HostChange& change, int* number, FileEntry* file, Failure* failure);
  // The statements (and image files) of a change of code "1", "2" or "3".
  bool ApplyRow(std::string_view data, const HostChange& change, const FileEntry& file,
                int64_t* idx, Failure* failure);
  void Failed(const HostChange& change, HeldChange& held, const Failure& failure);
  bool RebuildCleared(int n, const FileEntry& file, Failure* failure);
  // Copies the rows of the file's event table to TnC_ACCANTONATI.Log, with a message line;
  // rows the file holds already (an earlier try of the same clear) are not copied again.
  bool SetAsideUnsent(const FileEntry& file, Failure* failure);
  // Host records keep the index their row had when the PC side last sent them: the
  // mirror's identity must stay above every one the host sends, or a new row on the SQL
  // side would share it (a table built again numbers from where its old self stopped).
  bool KeepIndexAbove(const FileEntry& file, int64_t idx, Failure* failure);
  // Fills `*failure` from the connection's errors (its file number kept).
  void StatementFailed(sql::Connection* c, const FileEntry& file, const Status& s,
                       Failure* failure);
  void LinkLost();
  // The journal's depth and oldest change in RunState, for the status and the metrics.
  void ShowDepth();
  // Server_SQL_Sincro past its checks and the time exchange.
  bool Work(double start);

  Runtime& rt_;
  Confirmations& confirmations_;
  Pending& pending_;
  RepeatedFault fault_;          // the held change's
  RepeatedFault journal_fault_;  // the journal file's
  std::unique_ptr<Journal> journal_;
  std::optional<JournalEntry> unjournaled_;  // received, its append failed
  // When each waiting change was journaled (monotonic), by sequence: the apply lag.
  std::deque<std::pair<uint64_t, platform::MonotonicTime>> journaled_at_;
  Batch batch_;  // begun while a request travelled, not yet committed
  platform::MonotonicTime batch_begun_{};
  bool in_flight_stopped_ = false;  // a batch failed in flight: none until the next call
  bool held_ = false;               // the journal's first change fails alone
  int32_t held_attempts_ = 0;
  // Per database number: the journal's position there, as last read or committed.
  std::map<int32_t, uint64_t> positions_;
  // Per "<database number>/<file>": the mirror's identity is known to be above this.
  std::map<std::string, int64_t> identity_floor_;
};

}  // namespace torvan
