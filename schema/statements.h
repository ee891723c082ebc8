// The T-SQL row statements of Torvan's tables: the row count of a table and the
// statements of the replication steps on mirror, event and master tables. They are T-SQL
// whatever the engine; the SQLite engine translates them (sql/sqlite_dialect.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "schema/columns.h"

namespace torvan {

std::string BracketName(std::string_view name);  // "]" -> "]]"
std::string QuoteValue(std::string_view value);  // "'" -> "''"

// "select count(*) from  [<table>]" (two blanks after "from").
std::string CountRows(std::string_view table);

// "SELECT IDENT_CURRENT('<table>')": the last identity value the table gave.
std::string LastIdentityQuery(std::string_view table);

// Statements of the replication steps.
// "WHERE [_T_IDX___]=<idx> or [_T_RRN___]=<rrn>", or "WHERE [_T_RRN___]=<rrn>" when idx is 0.
std::string WhereIdxOrRrn(int64_t idx, int64_t rrn);
std::string MarkRowsDeleted(std::string_view file, std::string_view where);  // SET 'D'
std::string DeleteRows(std::string_view file, std::string_view where);
std::string SelectMaster();
// The event rows numbered `first` to `last`.
std::string SelectEvents(std::string_view file, int64_t first, int64_t last);
std::string DeleteEvent(std::string_view file, int64_t progr);
std::string DeleteMaster(int64_t master_rrn);

}  // namespace torvan
