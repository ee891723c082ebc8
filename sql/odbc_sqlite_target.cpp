#include "sql/odbc_sqlite_target.h"

#include <sqlext.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "sql/odbc_pieces.h"
#include "sql/odbc_support.h"

namespace torvan::sql {

namespace {

// Most failures come as "HY000" with SQLite's result code as the native error: they get
// the states the embedded engine gives.
std::vector<SqlError> SqliteDiagnostics(SQLSMALLINT type, SQLHANDLE handle,
                                        const std::string& source) {
  std::vector<SqlError> errors = Diagnostics(type, handle, false, source);
  for (SqlError& e : errors) {
    if (e.native_error > 0) e.origin = ErrorOrigin::kSqlite;
    if (e.sql_state == "HY000" && e.native_error > 0) {
      e.sql_state = SqliteSqlState(e.native_error, e.description);
    }
  }
  return errors;
}

class OdbcSqliteStatement final : public TargetStatement {
 public:
  OdbcSqliteStatement(SQLHSTMT stmt, std::vector<SqlError>* diagnostics, const std::string& source)
      : stmt_(stmt), diagnostics_(diagnostics), source_(source), handle_(SQL_HANDLE_STMT, stmt) {}

  Status Execute(const std::vector<BoundValue>& params, bool* has_row) override {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    // The driver reads the bound buffers at SQLExecute: they live in this object.
    values_ = params;
    lengths_.assign(values_.size(), 0);
    for (size_t i = 0; i < values_.size(); ++i) {
      BoundValue& v = values_[i];
      SQLUSMALLINT at = SQLUSMALLINT(i + 1);
      SQLRETURN rc = SQL_SUCCESS;
      switch (v.kind) {
        case BoundValue::Kind::kNull:
          lengths_[i] = SQL_NULL_DATA;
          rc = SQLBindParameter(stmt_, at, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0, nullptr,
                                0, &lengths_[i]);
          break;
        case BoundValue::Kind::kInteger:
          rc = SQLBindParameter(stmt_, at, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                                &v.integer, 0, &lengths_[i]);
          break;
        case BoundValue::Kind::kReal:
          rc = SQLBindParameter(stmt_, at, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &v.real,
                                0, &lengths_[i]);
          break;
        case BoundValue::Kind::kText:
          lengths_[i] = SQLLEN(v.text.size());
          rc = SQLBindParameter(stmt_, at, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                std::max<SQLULEN>(1, v.text.size()), 0, v.text.data(),
                                SQLLEN(v.text.size()), &lengths_[i]);
          break;
        case BoundValue::Kind::kBlob:
          lengths_[i] = SQLLEN(v.text.size());
          rc = SQLBindParameter(stmt_, at, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY,
                                std::max<SQLULEN>(1, v.text.size()), 0, v.text.data(),
                                SQLLEN(v.text.size()), &lengths_[i]);
          break;
      }
      if (!SQL_SUCCEEDED(rc)) return Fail("SQLBindParameter");
    }
    SQLRETURN rc = SQLExecute(stmt_);
    if (rc == SQL_NO_DATA) {
      *has_row = false;
      return Status::Ok();
    }
    if (!SQL_SUCCEEDED(rc)) return Fail("SQLExecute");
    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt_, &columns))) return Fail("SQLNumResultCols");
    columns_ = columns;
    if (columns == 0) {
      *has_row = false;
      return Status::Ok();
    }
    return Next(has_row);
  }

  Status Next(bool* has_row) override {
    SQLRETURN rc = SQLFetch(stmt_);
    *has_row = SQL_SUCCEEDED(rc);
    if (rc == SQL_NO_DATA || *has_row) return Status::Ok();
    return Fail("SQLFetch");
  }

  Status ColumnText(int i, std::string* utf8, bool* is_null) override {
    utf8->clear();
    const PieceRead read = ReadPieces<char>(
        [&](char* buffer, SQLLEN bytes, SQLLEN* length) {
          return SQLGetData(stmt_, SQLUSMALLINT(i + 1), SQL_C_CHAR, buffer, bytes, length);
        },
        utf8);
    *is_null = read == PieceRead::kNull;
    if (read != PieceRead::kFailed) return Status::Ok();
    utf8->clear();
    return Fail("SQLGetData");
  }

  int ColumnCount() override { return columns_; }

  void Reset() override { SQLFreeStmt(stmt_, SQL_CLOSE); }

 private:
  Status Fail(const char* call) {
    std::vector<SqlError> found = SqliteDiagnostics(SQL_HANDLE_STMT, stmt_, source_);
    std::string message = found.empty() ? std::string(call) + " failed" : found[0].description;
    diagnostics_->insert(diagnostics_->end(), found.begin(), found.end());
    SQLFreeStmt(stmt_, SQL_CLOSE);
    return Status::IoError(message);
  }

  SQLHSTMT stmt_;
  std::vector<SqlError>* diagnostics_;
  const std::string& source_;
  std::vector<BoundValue> values_;
  std::vector<SQLLEN> lengths_;
  int columns_ = 0;
  OdbcHandle handle_;  // frees `stmt_`, first of all
};

class OdbcSqliteTarget final : public SqliteTarget {
 public:
  OdbcSqliteTarget(SQLHDBC dbc, std::string source) : dbc_(dbc), source_(std::move(source)) {}

  Status Prepare(const std::string& sql, std::unique_ptr<TargetStatement>* out) override {
    OdbcHandle stmt(SQL_HANDLE_STMT);
    if (!SQL_SUCCEEDED(stmt.Allocate(dbc_))) return Fail(SQL_HANDLE_DBC, dbc_, "SQLAllocHandle");
    SQLRETURN rc =
        SQLPrepare(stmt.get(), reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                   SQLINTEGER(sql.size()));
    if (!SQL_SUCCEEDED(rc)) return Fail(SQL_HANDLE_STMT, stmt.get(), "SQLPrepare");
    *out = std::make_unique<OdbcSqliteStatement>(stmt.Release(), &diagnostics_, source_);
    return Status::Ok();
  }

  Status Run(const std::string& sql) override {
    TextRows ignored;
    return Query(sql, &ignored);
  }

  Status Query(const std::string& sql, TextRows* rows) override {
    std::unique_ptr<TargetStatement> stmt;
    Status s = Prepare(sql, &stmt);
    if (!s.ok()) return s;
    return ReadAllRows(*stmt, rows);
  }

  std::vector<SqlError> TakeDiagnostics() override { return std::exchange(diagnostics_, {}); }

 private:
  Status Fail(SQLSMALLINT type, SQLHANDLE handle, const char* call) {
    std::vector<SqlError> found = SqliteDiagnostics(type, handle, source_);
    std::string message = found.empty() ? std::string(call) + " failed" : found[0].description;
    diagnostics_.insert(diagnostics_.end(), found.begin(), found.end());
    return Status::IoError(message);
  }

  SQLHDBC dbc_;
  std::string source_;
  std::vector<SqlError> diagnostics_;
};

}  // namespace

std::unique_ptr<SqliteTarget> NewOdbcSqliteTarget(SQLHDBC dbc, std::string source) {
  return std::make_unique<OdbcSqliteTarget>(dbc, std::move(source));
}

}  // namespace torvan::sql
