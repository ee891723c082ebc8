// The ODBC engine, through unixODBC: the connection and its recordsets (the helpers of the
// ODBC calls are in odbc_support.h, SQLite's driver in odbc_sqlite_target.cpp).
//
// With a SQL Server driver (FreeTDS, Microsoft's ODBC Driver 18, ...) statement texts go
// to the server unchanged, as UTF-16 through the driver manager's wide functions, and
// values come back as UTF-16 text. With SQLite's ODBC driver (the server reports the DBMS
// name "SQLite") the connection runs Torvan's statements through the SQLite dialect, as
// the SQLite engine does, exchanging UTF-8 text with the driver's narrow functions.

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdint>
#include <unordered_set>

#include "core/text.h"
#include "sql/decimal.h"
#include "sql/dialect_core.h"
#include "sql/engines.h"
#include "sql/odbc_pieces.h"
#include "sql/odbc_sqlite_target.h"
#include "sql/odbc_support.h"
#include "sql/server_errors.h"

namespace torvan::sql {

namespace {

class OdbcConnection;

struct OdbcColumn {
  std::string name;  // Windows-1252
  SQLSMALLINT type = 0;
  SQLSMALLINT decimals = 0;
};

class OdbcRecordset final : public Recordset {
 public:
  OdbcRecordset(OdbcConnection* owner, SQLHSTMT stmt, std::vector<OdbcColumn> columns);
  ~OdbcRecordset() override;

  Status Fetch();
  void Detach() {
    Free();
    owner_ = nullptr;
  }

  bool Eof() const override { return eof_; }
  Status MoveNext() override { return eof_ ? Status::Ok() : Fetch(); }
  int FieldCount() const override { return int(columns_.size()); }
  const std::string& FieldName(int i) const override {
    static const std::string kNone;
    return i >= 0 && size_t(i) < columns_.size() ? columns_[size_t(i)].name : kNone;
  }
  const Field& Value(int i) const override {
    static const Field kNone{true, ""};
    if (eof_ || i < 0 || size_t(i) >= row_.size()) return kNone;
    return row_[size_t(i)];
  }

 private:
  void Free() {
    eof_ = true;
    if (stmt_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    stmt_ = SQL_NULL_HSTMT;
  }
  bool ReadValue(int i, Field* field);

  OdbcConnection* owner_;
  SQLHSTMT stmt_;
  std::vector<OdbcColumn> columns_;
  std::vector<Field> row_;
  bool eof_ = false;
};

class OdbcConnection final : public Connection {
 public:
  explicit OdbcConnection(ConnectionParams params)
      : params_(std::move(params)),
        source_(params_.odbc_driver.empty() ? "ODBC" : params_.odbc_driver) {}
  ~OdbcConnection() override { Close(); }

  Status Open() override {
    Close();
    const bool sqlite_driver = NamesSqliteDriver(params_.odbc_driver);
    // "DSN=<name>" in place of a driver: the data source names the driver and the server.
    const bool dsn = params_.odbc_driver.size() > 4 &&
                     EqualsIgnoreCase(std::string_view(params_.odbc_driver).substr(0, 4), "DSN=");
    std::string connection = dsn ? "DSN=" + Braced(params_.odbc_driver.substr(4)) + ";"
                                 : "DRIVER=" + Braced(params_.odbc_driver) + ";";
    std::string database_path;
    if (sqlite_driver) {
      Status s = SqliteDatabasePath(params_.base_folder, params_.database, &database_path);
      if (!s.ok()) return Fail(s, {}, source_);
      // SQLite's driver takes the value up to the next ";" as it stands, braces included.
      if (database_path.find(';') != std::string::npos) {
        return Fail(Status::InvalidArgument("the path of the database holds a \";\": " +
                                            Utf8ToCp1252(database_path)),
                    {}, source_);
      }
      connection +=
          "DATABASE=" + database_path + ";Timeout=" + std::to_string(params_.busy_timeout_ms) + ";";
    } else {
      if (!dsn) connection += "SERVER=" + Braced(Cp1252ToUtf8(params_.server)) + ";";
      connection += "DATABASE=" + Braced(Cp1252ToUtf8(params_.database)) +
                    ";UID=" + Braced(Cp1252ToUtf8(params_.user)) + ";";
      if (!params_.password.empty())
        connection += "PWD=" + Braced(Cp1252ToUtf8(params_.password)) + ";";
    }
    connection += params_.odbc_extra;

    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
      env_ = SQL_NULL_HENV;
      return Fail(Status::IoError("cannot allocate an ODBC environment"), {}, source_);
    }
    if (!SQL_SUCCEEDED(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
      return FailAndClose(SQL_HANDLE_ENV, env_, "cannot ask for ODBC 3");
    }
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
      dbc_ = SQL_NULL_HDBC;
      return FailAndClose(SQL_HANDLE_ENV, env_, "cannot allocate an ODBC connection");
    }
    // A driver without a login time-out (optional in ODBC) waits as it does.
    if (!SQL_SUCCEEDED(SQLSetConnectAttr(
            dbc_, SQL_ATTR_LOGIN_TIMEOUT,
            reinterpret_cast<SQLPOINTER>(intptr_t(params_.login_timeout_seconds)), 0))) {
      const std::vector<SqlError> found = Diagnostics(SQL_HANDLE_DBC, dbc_, true, source_);
      if (found.empty() || (found[0].sql_state != "HYC00" && found[0].sql_state != "HY092")) {
        return FailAndClose(SQL_HANDLE_DBC, dbc_, "cannot set the login time-out");
      }
    }
    SQLRETURN rc;
    if (sqlite_driver) {
      rc = SQLDriverConnect(dbc_, nullptr,
                            reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection.c_str())),
                            SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
    } else {
      WideString wide = Utf8ToWide(connection);
      rc = SQLDriverConnectW(dbc_, nullptr, wide.data(), SQL_NTS, nullptr, 0, nullptr,
                             SQL_DRIVER_NOPROMPT);
    }
    if (!SQL_SUCCEEDED(rc)) {
      std::vector<SqlError> errors = Diagnostics(SQL_HANDLE_DBC, dbc_, !sqlite_driver, source_);
      if (sqlite_driver) {
        // SQLite's driver says only "connect failed": name the file it could not open.
        SqlError e;
        e.description = "unable to open database file (" + Utf8ToCp1252(database_path) + ")";
        e.source = source_;
        e.sql_state = "08001";
        errors.push_back(std::move(e));
      }
      SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
      dbc_ = SQL_NULL_HDBC;
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      env_ = SQL_NULL_HENV;
      return Fail(Status::IoError("cannot connect through ODBC driver " + source_),
                  std::move(errors), source_);
    }
    connected_ = true;
    wide_ = !sqlite_driver;

    char dbms[64] = {};
    SQLSMALLINT length = 0;
    // Which dialect the connection speaks depends on it: a name that cannot be read is no
    // reason to send T-SQL to SQLite.
    if (!SQL_SUCCEEDED(SQLGetInfo(dbc_, SQL_DBMS_NAME, dbms, sizeof dbms, &length))) {
      std::vector<SqlError> errors = Diagnostics(SQL_HANDLE_DBC, dbc_, wide_, source_);
      Close();
      return Fail(Status::IoError("cannot read the name of the DBMS"), std::move(errors), source_);
    }
    sqlite_dbms_ = EqualsIgnoreCase(dbms, "SQLite");
    if (!sqlite_dbms_ && EqualsIgnoreCase(dbms, "Microsoft SQL Server")) {
      // A lock held by another program fails a statement after the busy time-out, as on
      // SQLite, instead of stopping Torvan without end; replication waits between tries.
      Status s = ExecuteDirect("SET LOCK_TIMEOUT " + std::to_string(params_.busy_timeout_ms));
      if (!s.ok()) {
        std::vector<SqlError> errors = Errors();
        Close();
        return Fail(s, std::move(errors), source_);
      }
    }
    if (sqlite_dbms_ && !params_.odbc_pass_through) {
      std::unique_ptr<SqliteTarget> target = NewOdbcSqliteTarget(dbc_, source_);
      std::vector<SqlError> errors;
      Status s = PrepareDialectDatabase(target.get(), database_path, &errors);
      if (!s.ok()) {
        Close();
        return Fail(s, std::move(errors), source_);
      }
      core_ = std::make_unique<DialectCore>(std::move(target), [this](std::vector<SqlError> e) {
        (void)Fail(Status::IoError("recordset"), std::move(e), source_);
      });
    }
    return Status::Ok();
  }

  void Close() override {
    core_.reset();
    for (OdbcRecordset* r : std::vector<OdbcRecordset*>(recordsets_.begin(), recordsets_.end())) {
      r->Detach();
    }
    recordsets_.clear();
    if (connected_) SQLDisconnect(dbc_);
    connected_ = false;
    depth_ = 0;
    if (dbc_ != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
    dbc_ = SQL_NULL_HDBC;
    env_ = SQL_NULL_HENV;
  }

  bool IsOpen() const override { return connected_; }

  Dialect dialect() const override {
    return (connected_ ? sqlite_dbms_ : NamesSqliteDriver(params_.odbc_driver))
               ? Dialect::kSqlite
               : Dialect::kSqlServer;
  }

  Status Execute(std::string_view statement) override {
    if (!connected_) return NotOpen();
    std::vector<SqlError> errors;
    if (core_) {
      Status s = core_->Execute(statement, &errors);
      return s.ok() ? s : Fail(s, std::move(errors), source_);
    }
    return ExecuteDirect(statement);
  }

  Status ExecuteNative(std::string_view statement) override {
    if (!connected_) return NotOpen();
    if (core_) {
      std::vector<SqlError> errors;
      Status s = core_->ExecuteNative(statement, &errors);
      return s.ok() ? s : Fail(s, std::move(errors), source_);
    }
    return ExecuteDirect(statement);
  }

  // The statement as it stands, through the driver.
  Status ExecuteDirect(std::string_view statement) {
    OdbcHandle stmt(SQL_HANDLE_STMT);
    Status s = Allocate(&stmt);
    if (!s.ok()) return s;
    WideString text = Cp1252ToWide(statement);
    SQLRETURN rc = SQLExecDirectW(stmt.get(), text.data(), SQLINTEGER(text.size()));
    // A statement's later results (the row counts of triggers, say) carry their own
    // errors: read them all.
    while (SQL_SUCCEEDED(rc)) rc = SQLMoreResults(stmt.get());
    if (rc != SQL_NO_DATA) return FailWith(stmt.get(), "statement failed");
    return Status::Ok();
  }

  Status OpenRecordset(std::string_view statement, std::unique_ptr<Recordset>* recordset) override {
    if (!connected_) return NotOpen();
    std::vector<SqlError> errors;
    if (core_) {
      Status s = core_->OpenRecordset(statement, recordset, &errors);
      return s.ok() ? s : Fail(s, std::move(errors), source_);
    }
    OdbcHandle handle(SQL_HANDLE_STMT);
    Status s = Allocate(&handle);
    if (!s.ok()) return s;
    SQLHSTMT stmt = handle.get();
    // A static read-only cursor lives on the server (as ADO's server-side static
    // recordsets do), so the connection stays free for other statements meanwhile. A
    // driver that offers less says so with a warning, which is of no concern here.
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE,
                                      reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY,
                                      reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), 0))) {
      return FailWith(stmt, "cannot set the cursor");
    }
    WideString text = Cp1252ToWide(statement);
    SQLRETURN rc = SQLExecDirectW(stmt, text.data(), SQLINTEGER(text.size()));
    SQLSMALLINT count = 0;
    if (SQL_SUCCEEDED(rc)) rc = SQLNumResultCols(stmt, &count);
    if (!SQL_SUCCEEDED(rc) || count == 0) {
      errors = Diagnostics(SQL_HANDLE_STMT, stmt, wide_, source_);
      if (SQL_SUCCEEDED(rc)) {
        errors = {ServerErrorOf(server_error::kNoRows, kNoRowsText + std::string("."), source_,
                                ErrorOrigin::kTorvan)};
      }
      return Fail(Status::IoError(errors.empty() ? "query failed" : errors[0].description),
                  std::move(errors), source_);
    }
    std::vector<OdbcColumn> columns(static_cast<size_t>(count));
    for (SQLSMALLINT i = 0; i < count; ++i) {
      // A name longer than the buffer is asked for again, whole.
      std::vector<SQLWCHAR> name(256);
      SQLSMALLINT name_length = 0, nullable = 0;
      SQLULEN size = 0;
      OdbcColumn& column = columns[size_t(i)];
      for (int attempt = 0; attempt < 2; ++attempt) {
        rc = SQLDescribeColW(stmt, SQLUSMALLINT(i + 1), name.data(), SQLSMALLINT(name.size()),
                             &name_length, &column.type, &size, &column.decimals, &nullable);
        if (!SQL_SUCCEEDED(rc) || name_length < SQLSMALLINT(name.size())) break;
        name.resize(size_t(name_length) + 1);
      }
      if (!SQL_SUCCEEDED(rc) || name_length < 0 || name_length >= SQLSMALLINT(name.size())) {
        return FailWith(stmt, "cannot describe the columns");
      }
      column.name = Utf8ToCp1252(WideToUtf8(name.data(), size_t(name_length)));
    }
    auto r = std::make_unique<OdbcRecordset>(this, handle.Release(), std::move(columns));
    recordsets_.insert(r.get());
    if (!(s = r->Fetch()).ok()) return s;
    *recordset = std::move(r);
    return Status::Ok();
  }

  Status ListTables(std::vector<std::string>* names) override {
    if (!connected_) return NotOpen();
    std::vector<SqlError> errors;
    if (core_) {
      Status s = core_->ListTables(names, &errors);
      return s.ok() ? s : Fail(s, std::move(errors), source_);
    }
    OdbcHandle handle(SQL_HANDLE_STMT);
    Status s = Allocate(&handle);
    if (!s.ok()) return s;
    SQLHSTMT stmt = handle.get();
    WideString table_type = Utf8ToWide("TABLE");
    SQLRETURN rc = SQLTablesW(stmt, nullptr, 0, nullptr, 0, nullptr, 0, table_type.data(), SQL_NTS);
    names->clear();
    while (SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(rc = SQLFetch(stmt))) {
      WideString name;
      const PieceRead read = ReadPieces<SQLWCHAR>(
          [&](SQLWCHAR* buffer, SQLLEN bytes, SQLLEN* length) {
            return SQLGetData(stmt, 3, SQL_C_WCHAR, buffer, bytes, length);
          },
          &name);
      if (read == PieceRead::kFailed) {
        rc = SQL_ERROR;  // a name that cannot be read whole fails the list
        break;
      }
      if (read == PieceRead::kNull) continue;
      std::string text = Utf8ToCp1252(WideToUtf8(name.data(), name.size()));
      // SQLite's driver lists its own bookkeeping tables as tables.
      if (sqlite_dbms_ && text.rfind("sqlite_", 0) == 0) continue;
      names->push_back(std::move(text));
    }
    if (rc != SQL_NO_DATA) {
      return Fail(Status::IoError("cannot list the tables"),
                  Diagnostics(SQL_HANDLE_STMT, stmt, wide_, source_), source_);
    }
    return Status::Ok();
  }

  Status Begin() override {
    if (!connected_) return NotOpen();
    std::vector<SqlError> errors;
    if (core_) {
      Status s = core_->Begin(&errors);
      return s.ok() ? s : Fail(s, std::move(errors), source_);
    }
    // SQL Server: the outermost transaction is the driver's (autocommit off), the inner
    // ones are savepoints of it.
    if (depth_ == 0) {
      if (!SQL_SUCCEEDED(SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                                           reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                                           SQL_IS_UINTEGER))) {
        return Fail(Status::IoError("cannot begin a transaction"),
                    Diagnostics(SQL_HANDLE_DBC, dbc_, wide_, source_), source_);
      }
    } else {
      Status s = ExecuteDirect("SAVE TRANSACTION torvan_" + std::to_string(depth_));
      if (!s.ok()) return s;
    }
    ++depth_;
    return Status::Ok();
  }

  Status Commit() override {
    if (!connected_) return NotOpen();
    std::vector<SqlError> errors;
    if (core_) {
      Status s = core_->Commit(&errors);
      return s.ok() ? s : Fail(s, std::move(errors), source_);
    }
    if (depth_ == 1) {
      if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT))) {
        return Fail(Status::IoError("commit failed"),
                    Diagnostics(SQL_HANDLE_DBC, dbc_, wide_, source_), source_);
      }
      AutocommitAgain();
    }
    if (depth_ > 0) --depth_;
    return Status::Ok();
  }

  void Rollback() override {
    if (!connected_) return;
    if (core_) return core_->Rollback();
    if (depth_ == 1) {
      (void)SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
      AutocommitAgain();
    } else if (depth_ > 1) {
      (void)ExecuteDirect("ROLLBACK TRANSACTION torvan_" + std::to_string(depth_ - 1));
    }
    if (depth_ > 0) --depth_;
  }

  // For OdbcRecordset.
  void Forget(OdbcRecordset* r) { recordsets_.erase(r); }
  Status FailWith(SQLHSTMT stmt, const char* what) {
    std::vector<SqlError> errors = Diagnostics(SQL_HANDLE_STMT, stmt, wide_, source_);
    return Fail(Status::IoError(errors.empty() ? what : errors[0].description), std::move(errors),
                source_);
  }
  bool wide() const { return wide_; }

 private:
  Status Allocate(OdbcHandle* stmt) {
    if (SQL_SUCCEEDED(stmt->Allocate(dbc_))) return Status::Ok();
    return Fail(Status::IoError("cannot allocate an ODBC statement"),
                Diagnostics(SQL_HANDLE_DBC, dbc_, wide_, source_), source_);
  }

  Status FailAndClose(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    std::vector<SqlError> errors = Diagnostics(type, handle, true, source_);
    Close();
    return Fail(Status::IoError(what), std::move(errors), source_);
  }

  Status NotOpen() { return Fail(Status::Closed(kNotOpenText), {NotOpenError(source_)}, source_); }

  void AutocommitAgain() {
    (void)SQLSetConnectAttr(dbc_, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER);
  }

  ConnectionParams params_;
  std::string source_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
  bool wide_ = true;
  bool sqlite_dbms_ = false;
  int depth_ = 0;  // SQL Server: transactions and savepoints open
  std::unique_ptr<DialectCore> core_;
  std::unordered_set<OdbcRecordset*> recordsets_;
};

OdbcRecordset::OdbcRecordset(OdbcConnection* owner, SQLHSTMT stmt, std::vector<OdbcColumn> columns)
    : owner_(owner), stmt_(stmt), columns_(std::move(columns)), row_(columns_.size()) {}

OdbcRecordset::~OdbcRecordset() {
  Free();
  if (owner_) owner_->Forget(this);
}

Status OdbcRecordset::Fetch() {
  SQLRETURN rc = SQLFetch(stmt_);
  if (rc == SQL_NO_DATA) {
    Free();
    return Status::Ok();
  }
  if (!SQL_SUCCEEDED(rc)) {
    Status s = owner_->FailWith(stmt_, "fetch failed");
    Free();
    return s;
  }
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (!ReadValue(int(i), &row_[i])) {
      Status s = owner_->FailWith(stmt_, "cannot read a value");
      Free();
      return s;
    }
  }
  return Status::Ok();
}

bool OdbcRecordset::ReadValue(int i, Field* field) {
  WideString text;
  const PieceRead read = ReadPieces<SQLWCHAR>(
      [&](SQLWCHAR* buffer, SQLLEN bytes, SQLLEN* length) {
        return SQLGetData(stmt_, SQLUSMALLINT(i + 1), SQL_C_WCHAR, buffer, bytes, length);
      },
      &text);
  if (read == PieceRead::kFailed) return false;
  field->is_null = read == PieceRead::kNull;
  if (field->is_null) {
    field->text.clear();
    return true;
  }
  std::string value = Utf8ToCp1252(WideToUtf8(text.data(), text.size()));
  const OdbcColumn& c = columns_[size_t(i)];
  if (c.type == SQL_NUMERIC || c.type == SQL_DECIMAL) {
    // SQL Server's drivers write 0.5 as ".50": the host wants the plain decimal.
    value = NumericDisplayText(value, c.decimals);
  }
  field->text = std::move(value);
  return true;
}

}  // namespace

std::unique_ptr<Connection> NewOdbcConnection(const ConnectionParams& params) {
  return std::make_unique<OdbcConnection>(params);
}

}  // namespace torvan::sql
