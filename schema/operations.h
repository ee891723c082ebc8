// Building and dropping the SQL objects of catalogued files, with the operator's
// confirmation before rows are lost.
//
// The lower routines send one group of statements on the connection of a database and
// report; the first statement that fails ends the routine after Errori_SQL. The upper
// operations (Crea_File, Cancella_File, Crea_File_Eventi) report every step in the message
// log and go on with the next step whatever the previous one gave.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "core/program.h"
#include "schema/confirm.h"
#include "schema/connections.h"
#include "schema/statements.h"

namespace torvan {

// What the schema operations work on. All references must outlive the Schema.
struct Schema {
  Program& program;
  Catalogue& catalogue;
  Connessioni& connessioni;
  Confirmations& confirmations;
};

// "non esiste" (no base table of exactly that name), "no permesso" (it cannot be counted),
// "0", or the row count grouped by thousands.
std::string Conta_Record(Schema& s, int32_t db, std::string_view table);

bool Cancella_Tabella(Schema& s, int32_t db, std::string_view table);
bool Crea_Tabella(Schema& s, int32_t db, std::string_view table,
                  const std::vector<ColumnDef>& columns, bool index);
bool Crea_Triggers(Schema& s, int32_t db, std::string_view file, std::string_view event,
                   const std::vector<ColumnDef>& mirror_columns);
bool Crea_Trigger_Master(Schema& s, int32_t db, std::string_view file, std::string_view event);

// Asks before the mirror table (the master table) of file n loses rows: true when it may
// be dropped. An absent or empty table needs no question, nor a full one with `force`;
// a table that cannot be counted is never released.
bool Conferma_Cancella_File(Schema& s, Owner owner, int n, bool force);
bool Conferma_Cancella_Master(Schema& s, Owner owner, int n, bool force);

void Crea_File(Schema& s, int n);
void Cancella_File(Schema& s, Owner owner, int n, bool force);
void Crea_File_Eventi(Schema& s, Owner owner);

}  // namespace torvan
