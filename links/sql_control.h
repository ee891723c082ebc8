// The SQL side of the links: one connection per database of TnC_DB.DAT, opened in
// catalogue order by Server_SQL_Start_ and closed by Server_SQL_Stop_ (the main window's
// methods of the same names).
#pragma once

#include "catalogue/catalogue_files.h"
#include "links/runtime.h"

namespace torvan {

// The connection parameters of database record `r` under the settings: its engine (from
// "Motori", else "Motore"), server, database, user and unscrambled password, the ODBC driver
// and the further attributes. `*engine_text` is the engine as the settings name it; false
// when that is no engine Torvan knows.
bool ParamsForDatabase(const Program& program, const DataBase_Rec& r, sql::ConnectionParams* params,
                       std::string* engine_text);

// Opens a connection for every database record: "   DataBase <server>/<database> collegato"
// for each. The first that fails stops the start: its errors are written by Errori_SQL,
// the result is false and Collegato_SQL stays false (the connections opened before it stay
// open until the next start). True, with Collegato_SQL, when all are open (also when there
// is no database at all).
bool Server_SQL_Start_(Runtime& rt);

// Closes every connection: "   DataBase <server>/<database> scollegato" for each. Never
// fails; clears Collegato_SQL.
bool Server_SQL_Stop_(Runtime& rt);

}  // namespace torvan
