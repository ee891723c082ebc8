// The journal's position in each database: table "_T_GIORNALE___", one row per database
// of the catalogue ("Database", its number) with the journal's id ("Giornale") and the
// sequence of the last journaled change applied to that database ("Posizione"). Two
// databases of the catalogue that are one database of the server keep a row each, or the
// position one commits would cover changes of the other not yet committed. The host-to-SQL step
// writes it in the same transaction as the changes it covers, so after a kill at any instant a
// change at or below it is known to be in the database and is not applied again, and one above it
// is known not to be.
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"
#include "sql/connection.h"

namespace torvan {

inline constexpr char kJournalTable[] = "_T_GIORNALE___";

// The table's CREATE in the connection's own dialect (it is made when first missing).
std::string CreateJournalTableStatement(sql::Dialect dialect);

// The T-SQL statement that moves the position of database `database` to `position` of
// journal `id`.
std::string JournalPositionStatement(int32_t database, uint64_t id, uint64_t position);

// The position of journal `id` in database `database`, whose connection is `c`: 0 when the
// table or the database's row is missing (both are made) or belongs to another journal.
// Fails with the connection's errors when the table can be neither read nor made.
Status ReadJournalPosition(sql::Connection& c, int32_t database, uint64_t id, uint64_t* position);

}  // namespace torvan
