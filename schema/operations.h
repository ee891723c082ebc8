// Building and dropping the SQL objects of catalogued files, with the operator's
// confirmation before rows are lost.
//
// The lower routines send one group of schema statements (schema/objects.h), each rendered
// for the dialect of the database's connection; the first statement that fails ends the
// routine after Errori_SQL. The upper operations (Crea_File, Cancella_File,
// Crea_File_Eventi) report every step in the message log and go on with the next step
// whatever the previous one gave. A file whose SQL names clash with another file's
// (catalogue/sql_names.h) is never built or dropped, and a build whose layout cannot be
// built drops nothing.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "core/program.h"
#include "schema/columns.h"
#include "schema/confirm.h"
#include "schema/connections.h"
#include "schema/row_count.h"

namespace torvan {

// What the schema operations work on. All references must outlive the Schema.
struct Schema {
  Schema(Program& p, Catalogue& c, Connessioni& k, Confirmations& f)
      : program(p), catalogue(c), connessioni(k), confirmations(f) {}

  Program& program;
  Catalogue& catalogue;
  Connessioni& connessioni;
  Confirmations& confirmations;
  // Quiet: no message line, and a failed statement's errors are not written by Errori_SQL
  // but only cleared (replication says what failed in its own line).
  bool quiet = false;
  // When set, the message lines are collected here instead of written (and the errors of
  // a failed statement only cleared).
  std::vector<std::string>* lines = nullptr;
  // The errors of the statement that failed last, kept for the caller.
  std::vector<sql::SqlError> failed;
};

// Whether a base table of exactly that name (trimmed, case kept) exists on database db
// and how many rows it holds. Never fails: a table it sees is absent only when the list of
// tables says so; a list that cannot be read, or a table that cannot be counted, is
// NoPermission (so that nothing drops it); the connection's error list is left empty.
RowCount Conta_Record(Schema& s, int32_t db, std::string_view table);

// The last identity value `table` gave (0 when it gave none, has none or does not exist)
// in `*last`. False when it cannot be read: the connection's error list says why.
bool LastIdentity(Schema& s, int32_t db, std::string_view table, int64_t* last);
// Makes the identity of `table` continue above `above` (ContinueIdentityStatement).
bool KeepIdentityAbove(Schema& s, int32_t db, std::string_view table, int64_t above);

bool Cancella_Tabella(Schema& s, int32_t db, std::string_view table);
// Refuses a column list whose layout cannot be built (LayoutFault) before it drops the
// table, with a message line saying why. A table with an identity column continues above
// the last number its predecessor of the same name gave and above `identity_above`: the
// number is read before the drop (failing to read it fails the routine, table untouched).
bool Crea_Tabella(Schema& s, int32_t db, std::string_view table,
                  const std::vector<ColumnDef>& columns, bool index, int64_t identity_above = 0);
bool Crea_Triggers(Schema& s, int32_t db, std::string_view file, std::string_view event,
                   const std::vector<ColumnDef>& mirror_columns);
bool Crea_Trigger_Master(Schema& s, int32_t db, std::string_view file, std::string_view event);

// Asks before the mirror table (the master table) of file n loses rows: true when it may
// be dropped. An absent or empty table needs no question, nor a full one with `force`; a
// table that cannot be counted is never released. Changes not yet sent to the host (the
// rows of the file's event table; for the master table, its rows) are named in an extra
// line of the question, and asked about even when the table itself is empty; with
// `force` they are written to the message log as lost. A file whose names clash is never
// released.
bool Conferma_Cancella_File(Schema& s, Owner owner, int n, bool force);
bool Conferma_Cancella_Master(Schema& s, Owner owner, int n, bool force);

// How Crea_File takes its steps. The operator's build goes on after a failed step, each
// reported; a host clear stops at the first failure (nothing is reported done after it,
// and the clear is tried again whole), and continues the identities of tables it dropped
// itself before.
struct BuildSteps {
  bool stop_at_failure = false;
  int64_t mirror_above = 0;  // the mirror's _T_IDX___ continues above this
  int64_t event_above = 0;   // the event table's _T_PROGR___ continues above this
};
// True when every step succeeded.
bool Crea_File(Schema& s, int n, const BuildSteps& steps = {});
void Cancella_File(Schema& s, Owner owner, int n, bool force);
void Crea_File_Eventi(Schema& s, Owner owner);

// A file cleared on the host, built again empty (replication, change code "4"), in one
// transaction: the mirror table is dropped, then `set_aside` keeps what the event table
// holds (false, with the reason, stops), then the event table is dropped and the file built
// again; the identities continue above the old tables'. True only when the mirror table is
// there again, empty, and (for a file sent back) its event table too: then the lines of
// Cancella_File and Crea_File are written. Otherwise nothing is changed (the transaction is
// rolled back), no line is written, `*why` says which step failed and `failed` holds its
// errors.
bool RebuildClearedFile(Schema& s, int n, const std::function<bool(std::string*)>& set_aside,
                        std::string* why);

// The browser's build command for one file: a clashing file is refused with its message,
// otherwise Conferma_Cancella_File (force clear) and, when it answers true, Crea_File.
void Costruisci_File(Schema& s, Owner owner, int n);

// Whether file n owns an SQL name another catalogued file owns too, looked up again in
// the catalogue as it is now as well as by its mark of the last load. `*why` names both
// files ("I file LIB1/A e LIB2/A usano lo stesso nome DB/A").
bool Nome_In_Conflitto(const Schema& s, int n, std::string* why);

// What the operator reads when a table Torvan needs is not there, and the command that
// makes it: "Manca la tabella GESTIONALE/CLIENTI: la crea torvan build 1" (file number 0:
// "torvan build all"; the master table: "torvan events").
std::string MissingTableHint(std::string_view database, std::string_view table, int file_number);

// The changes of file n not yet sent to the host: the rows of its event table.
RowCount Modifiche_Non_Inviate(Schema& s, int n);

}  // namespace torvan
