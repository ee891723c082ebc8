// Fuzz entry points of the SQL layer: the T-SQL lexer, and the SQLite dialect's translation
// of a row statement over a small fixed schema, with its values bound and the SQLite text
// prepared and run in an in-memory database. libFuzzer runs them (-DTORVAN_FUZZ=ON with
// clang, scripts/fuzz), and sql_fuzz_test replays their corpora in every build. Each
// returns 0 and aborts on a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvan::sql::fuzz {

// A statement text, Windows-1252.
int FuzzTsqlLexer(const uint8_t* data, size_t size);
int FuzzSqliteDialect(const uint8_t* data, size_t size);

}  // namespace torvan::sql::fuzz
