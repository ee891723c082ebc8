// For the tests of databases: a temporary folder, the parameters of each way to SQLite
// (embedded, SQLite's ODBC driver) and helpers that read a whole query.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/temp_folder.h"
#include "sql/connection.h"
#include "sql/sqlite_storage.h"

#ifndef TORVAN_SQLITE_ODBC_DRIVER
#define TORVAN_SQLITE_ODBC_DRIVER ""
#endif
#ifndef TORVAN_FREETDS_ODBC_DRIVER
#define TORVAN_FREETDS_ODBC_DRIVER ""
#endif

namespace torvan::sql::testing {

// A fresh folder for a test's databases, removed with the object.
class TempDir : public platform::TempFolder {
 public:
  TempDir() : platform::TempFolder("torvan-sql-test") {}
};

enum class Path { kEmbedded, kOdbcDriver, kPostgres };

inline std::string PathName(const ::testing::TestParamInfo<Path>& info) {
  return info.param == Path::kEmbedded     ? "Embedded"
         : info.param == Path::kOdbcDriver ? "OdbcDriver"
                                           : "Postgres";
}

// Database `name` in `folder` (odbc_driver empty when SQLite's ODBC driver is not installed).
inline ConnectionParams ParamsFor(Path path, const std::string& folder,
                                  const std::string& name = "Torvan") {
  ConnectionParams p;
  p.database = name;
  p.base_folder = folder;
  p.busy_timeout_ms = 1000;
  if (path == Path::kOdbcDriver) {
    p.engine = Engine::kOdbc;
    p.odbc_driver = TORVAN_SQLITE_ODBC_DRIVER;
  }
  return p;
}

#define SKIP_WITHOUT_DRIVER(path)                                            \
  if ((path) == ::torvan::sql::testing::Path::kOdbcDriver &&                 \
      std::string(TORVAN_SQLITE_ODBC_DRIVER).empty()) {                      \
    GTEST_SKIP() << "SQLite's ODBC driver (libsqliteodbc) is not installed"; \
  }

// Every row of a query, each as its column texts ("NULL" for a null value).
inline std::vector<std::vector<std::string>> Rows(Connection* c, const std::string& query) {
  std::vector<std::vector<std::string>> rows;
  std::unique_ptr<Recordset> r;
  Status s = c->OpenRecordset(query, &r);
  EXPECT_TRUE(s.ok()) << query << ": " << s.ToString();
  while (s.ok() && !r->Eof()) {
    rows.emplace_back();
    for (int i = 0; i < r->FieldCount(); ++i) {
      rows.back().push_back(r->Value(i).is_null ? "NULL" : r->Value(i).text);
    }
    EXPECT_TRUE(r->MoveNext().ok());
  }
  return rows;
}

// The one value of a one-row, one-column query; "?" when the query fails.
inline std::string Scalar(Connection* c, const std::string& query) {
  auto rows = Rows(c, query);
  return rows.size() == 1 && rows[0].size() == 1 ? rows[0][0] : "?";
}

// A column of a test table, with the type the engine keeps.
struct TestColumn {
  std::string name;
  ColumnType type;
};

// The SQLite CREATE TABLE of a table of those columns, as Torvan's schema renders it.
inline std::string CreateTableSql(const std::string& table, const std::vector<TestColumn>& cols) {
  std::string sql = "CREATE TABLE " + QuoteIdentifier(table) + " (";
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += SqliteColumnDefinition(cols[i].name, cols[i].type);
  }
  return sql + ")";
}

// The description of every error in the list, for failure messages.
inline std::string ErrorsText(const Connection& c) {
  std::string out;
  for (const SqlError& e : c.Errors()) {
    out += "[" + std::to_string(e.number) + " " + e.sql_state + " " + e.source + "] " +
           e.description + "\n";
  }
  return out;
}

}  // namespace torvan::sql::testing
