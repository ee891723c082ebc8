// The PostgreSQL dialect: Torvan's T-SQL row statements, rewritten for PostgreSQL.
//
// Used by the PostgreSQL engine (sql/postgres_engine.cpp). The row statements of
// replication are plain T-SQL (INSERT, UPDATE, DELETE, SELECT with WHERE and ORDER BY,
// SELECT IDENT_CURRENT('t')); PostgreSQL understands them once
//   - [bracketed] and bare names become "quoted" identifiers (names keep their case: the
//     objects were created with quoted names, so the statement names them exactly);
//   - every literal becomes a parameter ($1, $2, ...) whose text the server converts for
//     its column, as SQL Server converts a literal: NUMERIC exactly (rounded to the
//     column's scale, refused beyond its precision), texts refused beyond their length
//     unless the excess is blanks;
//   - IDENT_CURRENT('t') reads the last value of the sequence of t's identity column (NULL
//     when the table has none or gave none).
// Two statements that differ only in their values give the same text, so that the engine
// keeps one prepared statement per shape. @variables and unknown constructions are refused
// with an error: nothing is silently changed.
//
// Texts in are Windows-1252; the statement and the parameter texts out are UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "sql/connection.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql {

struct PgStatement {
  std::string text;                 // UTF-8, "$n" for parameters
  std::vector<std::string> params;  // UTF-8 texts, one per "$n" in order
};

// Rewrites tokenized T-SQL. On failure `*error` says why (SQLSTATE 42601).
Status TranslateForPostgres(const std::vector<Token>& tokens, PgStatement* out, SqlError* error);

// "name" with '"' doubled, for an identifier given in UTF-8.
std::string PgIdentifier(std::string_view utf8);
// 'text' with "'" doubled (standard_conforming_strings is on), UTF-8.
std::string PgString(std::string_view utf8);

// The query that gives the last value the identity of the table named by $1 gave (NULL
// when none): IDENT_CURRENT.
extern const char kPgIdentCurrent[];

inline constexpr char kPostgresSource[] = "PostgreSQL";

}  // namespace torvan::sql
