// The SQL side of the links: one connection per database of TnC_DB.DAT, opened in
// catalogue order by Server_SQL_Start_ and closed by Server_SQL_Stop_ (the main window's
// methods of the same names).
#pragma once

#include "links/runtime.h"

namespace torvan {

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
