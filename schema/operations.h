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
  Program& program;
  Catalogue& catalogue;
  Connessioni& connessioni;
  Confirmations& confirmations;
};

// Whether a base table of exactly that name (trimmed, case kept) exists on database db
// and how many rows it holds. Never fails: a table it cannot see is absent, one it cannot
// count is NoPermission; the connection's error list is left empty.
RowCount Conta_Record(Schema& s, int32_t db, std::string_view table);

bool Cancella_Tabella(Schema& s, int32_t db, std::string_view table);
// Refuses a column list whose layout cannot be built (LayoutFault) before it drops the
// table, with a message line saying why.
bool Crea_Tabella(Schema& s, int32_t db, std::string_view table,
                  const std::vector<ColumnDef>& columns, bool index);
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

void Crea_File(Schema& s, int n);
void Cancella_File(Schema& s, Owner owner, int n, bool force);
void Crea_File_Eventi(Schema& s, Owner owner);

// The browser's build command for one file: a clashing file is refused with its message,
// otherwise Conferma_Cancella_File (force clear) and, when it answers true, Crea_File.
void Costruisci_File(Schema& s, Owner owner, int n);

// Whether file n owns an SQL name another catalogued file owns too, looked up again in
// the catalogue as it is now as well as by its mark of the last load. `*why` names both
// files ("I file LIB1/A e LIB2/A usano lo stesso nome DB/A").
bool Nome_In_Conflitto(const Schema& s, int n, std::string* why);

// The changes of file n not yet sent to the host: the rows of its event table.
RowCount Modifiche_Non_Inviate(Schema& s, int n);

}  // namespace torvan
