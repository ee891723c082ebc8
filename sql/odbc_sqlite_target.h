// Inside the sql/ module only: SQLite's ODBC driver as the target of the SQLite dialect
// (dialect_core.h), on a connection the ODBC engine opened to a database of SQLite's
// (DBMS name "SQLite"). Statements go through the driver's narrow functions as UTF-8, and
// its failures get the states the embedded engine gives (the driver reports most as
// "HY000" with SQLite's result code as the native error).
#pragma once

#include <sql.h>

#include <memory>
#include <string>

#include "sql/dialect_core.h"

namespace torvan::sql {

// `dbc` stays connected while the target is in use; `source` names the driver in errors.
std::unique_ptr<SqliteTarget> NewOdbcSqliteTarget(SQLHDBC dbc, std::string source);

}  // namespace torvan::sql
