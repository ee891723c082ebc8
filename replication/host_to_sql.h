// Host to SQL: Server_SQL_Sincro, the step of the cycle that asks the host for its next
// change and applies it to the file's mirror table (with the image archive's files), and
// now and then repeats the time exchange.
//
// Nothing received is lost and nothing is applied twice (pending.h): a received change is
// held on file before it is applied; while it is held it is applied again at every call
// and no S request is sent, so its queue waits, visibly, one message line a call (the
// connection's errors in full the first time); a change the host delivers again after a
// cut is recognised and not applied a second time. A change that waits for a lock another
// program holds says so once when the wait starts and once when it ends, and the wait is
// part of RunState::Attivita meanwhile; a lost connection is opened again.
//
// A file cleared on the host (code "4") is built again empty (RebuildClearedFile): the
// changes made on the SQL side and not yet sent are kept in TnC_ACCANTONATI.Log first; the
// clear is acknowledged only once the table is there again and empty, and held otherwise.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/repeated_fault.h"
#include "links/runtime.h"
#include "replication/change_record.h"
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

  // True when a change was delivered and applied (or consumed) in this call, a held one
  // included; false when the host had none, the exchange failed, or a held change could
  // not be applied again.
  bool Server_SQL_Sincro();

 private:
  struct Failure {
    std::string reason;                 // for the message line, Windows-1252
    std::string where;                  // <database>/<file> of the statement that failed
    std::vector<sql::SqlError> errors;  // the connection's errors, when they explain it
    bool reported = false;              // those errors were written already
    int file_number = 0;                // the file's number in the catalogue, 0 unknown
  };
  bool ApplyHeld(double start);
  // Applies the change; on failure fills `*failure`. `*idx` for the log line.
  bool Apply(std::string_view data, const HostChange& change, int64_t* idx, Failure* failure);
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

  Runtime& rt_;
  Confirmations& confirmations_;
  Pending& pending_;
  RepeatedFault fault_;  // the held change's
  // Per "<database number>/<file>": the mirror's identity is known to be above this.
  std::map<std::string, int64_t> identity_floor_;
};

}  // namespace torvan
