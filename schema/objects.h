// The SQL objects Torvan owns, each described once and rendered for the dialect of the
// connection that builds it.
//
// Per file: the mirror table <file> (index <file>_X on _T_RRN___) and, for files replicated
// back to the host, the event table <file>___, the triggers <file>_D, <file>_I, <file>_U
// and the master trigger <file>____I; per database the master table _T_MASTER___ (index
// _T_MASTER____X). A SchemaStatement is one step of building or dropping them: drop a
// table if it exists, create a table, create its index, drop a trigger if it exists,
// create a trigger, make a table's identity continue above a number.
//
// Three renderings:
//   - Tsql(): the exact T-SQL text SQL Server receives, fragment by fragment, blanks
//     included. Names are written between brackets with "]" doubled (columns: their
//     Nome_Sql) and between quotes with "'" doubled, so a name never ends a statement early.
//   - Sqlite(): the statements the SQLite engine runs for the same object, with the same
//     effect: the column types of sql/sqlite_storage.h, row triggers that keep the markers
//     " ", "S" and "D" of the T-SQL triggers (nested triggers on, recursive triggers off,
//     as the engine opens its databases), and the index named "<table>/<table>_X" (SQL
//     Server scopes index names to their table, SQLite to the database; no host file name
//     holds a "/"). Each row is recorded or not by its own marker (the T-SQL triggers decide
//     a many-row statement by one of its rows; Torvan's statements change rows one by one).
//   - Postgres(): the same for PostgreSQL, triggers in PL/pgSQL (schema/objects_postgres.cpp).
// Both are Windows-1252 texts, as every text crossing sql::Connection.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "schema/columns.h"
#include "sql/connection.h"

namespace torvan {

enum class TriggerKind {
  kDelete,  // <mirror>_D on the mirror table
  kInsert,  // <mirror>_I on the mirror table
  kUpdate,  // <mirror>_U on the mirror table
  kMaster,  // <event>_I on the event table: one master row per event
};

struct DropTableStatement {
  std::string table;
};
struct CreateTableStatement {
  std::string table;
  std::vector<ColumnDef> columns;
};
struct CreateIndexStatement {
  std::string table;
};
struct DropTriggerStatement {
  std::string base;  // the mirror or event table name
  char suffix;       // 'D', 'I' or 'U'
};
// After a table is made again (or when the host sends back an index above it), its
// identity continues above `above`: the next row takes a number greater than it.
//   T-SQL: "IF IDENT_CURRENT('<t>') <= <above> DBCC CHECKIDENT ('<t>', RESEED, <above+1>)
//   WITH NO_INFOMSGS" (a table that gave no number yet starts at the reseed value, one that
//   did at the value after it: either is above). SQLite: the table's row of sqlite_sequence.
// A number already above is left alone. An engine added later renders it with its own
// sequence statement (PostgreSQL: setval on the column's sequence).
struct ContinueIdentityStatement {
  std::string table;
  int64_t above = 0;
};
struct CreateTriggerStatement {
  TriggerKind kind;
  std::string mirror;
  std::string event;
  std::vector<ColumnDef> mirror_columns;  // the mirror table's list; unused for kMaster
};

using SchemaStatement =
    std::variant<DropTableStatement, CreateTableStatement, CreateIndexStatement,
                 DropTriggerStatement, CreateTriggerStatement, ContinueIdentityStatement>;

// Every name given here is trimmed of surrounding blanks.
SchemaStatement DropTable(std::string_view table);
SchemaStatement CreateTable(std::string_view table, std::vector<ColumnDef> columns);
SchemaStatement CreateIndex(std::string_view table);
SchemaStatement DropTrigger(std::string_view base, char suffix);
SchemaStatement CreateTrigger(TriggerKind kind, std::string_view mirror, std::string_view event,
                              std::vector<ColumnDef> mirror_columns = {});
SchemaStatement ContinueIdentity(std::string_view table, int64_t above);

// The groups the lower schema routines send, in order.
// Crea_Tabella: drop-if-exists, create, and with `index` the index.
std::vector<SchemaStatement> TableStatements(std::string_view table,
                                             const std::vector<ColumnDef>& columns, bool index);
// Crea_Triggers: drops of <mirror>_D, _I, _U and <event>_I, then the four creates.
std::vector<SchemaStatement> TriggerStatements(std::string_view mirror, std::string_view event,
                                               const std::vector<ColumnDef>& mirror_columns);
// Crea_Trigger_Master: drop of <event>_I, then its create.
std::vector<SchemaStatement> MasterTriggerStatements(std::string_view mirror,
                                                     std::string_view event);

// Every statement that builds the objects of a file with these data columns, in the order
// Crea_File sends them (the master table apart): the mirror table and its index and, with
// `pc_as`, the event table and the triggers.
std::vector<SchemaStatement> FileStatements(std::string_view file,
                                            const std::vector<ColumnDef>& data, bool pc_as);

// The T-SQL text of a statement.
std::string Tsql(const SchemaStatement& statement);
// The SQLite statements of a statement, in the order they run (a trigger is preceded by a
// read of the columns it copies: SQL Server checks them when it creates the trigger,
// SQLite only when the trigger runs).
std::vector<std::string> Sqlite(const SchemaStatement& statement);
// The PostgreSQL statements of a statement, in the order they run (schema/objects_postgres.cpp).
std::vector<std::string> Postgres(const SchemaStatement& statement);
// The texts for a connection speaking `dialect`.
std::vector<std::string> Render(const SchemaStatement& statement, sql::Dialect dialect);

// The trigger column list: every column but the last two, each its Nome_Sql followed by
// "," (so "[COD],[PREZZO],[_T_RRN___]," for the mirror table of the worked example).
std::string TriggerColumnList(const std::vector<ColumnDef>& mirror_columns);

}  // namespace torvan
