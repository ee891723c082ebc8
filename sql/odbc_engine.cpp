// The ODBC engine, through unixODBC.
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
#include "sql/tsql_lexer.h"

namespace torvan::sql {

namespace {

using WideString = std::basic_string<SQLWCHAR>;
static_assert(sizeof(SQLWCHAR) == 2, "unixODBC's SQLWCHAR is UTF-16");

WideString Utf8ToWide(std::string_view utf8) {
  WideString out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = 0xFFFD;
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + len <= utf8.size()) {
      cp = len == 1 ? (c < 0x80 ? c : 0xFFFD) : c & (0x7F >> len);
      for (size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += SQLWCHAR(0xD800 + (cp >> 10));
      out += SQLWCHAR(0xDC00 + (cp & 0x3FF));
    } else {
      out += SQLWCHAR(cp);
    }
  }
  return out;
}

std::string WideToUtf8(const SQLWCHAR* w, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = w[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[++i] - 0xDC00);
    }
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

WideString Cp1252ToWide(std::string_view cp1252) { return Utf8ToWide(Cp1252ToUtf8(cp1252)); }

// Whether a diagnostic of a SQL Server driver carries the server's own message number:
// one with a number, outside the classes of the client side (connection "08", driver
// manager "IM", driver "HY", warnings "01"). FreeTDS names even its own failures
// "[FreeTDS][SQL Server]...", so the text cannot tell.
bool FromServer(const SqlError& e) {
  if (e.native_error == 0 || e.sql_state.size() != 5) return false;
  const std::string cls = e.sql_state.substr(0, 2);
  return cls != "08" && cls != "IM" && cls != "HY" && cls != "01";
}

// The diagnostic records of a handle, in order. `wide` selects the driver manager's
// UTF-16 function (SQL Server drivers) or the narrow one (UTF-8, SQLite's driver).
std::vector<SqlError> Diagnostics(SQLSMALLINT type, SQLHANDLE handle, bool wide,
                                  const std::string& source) {
  std::vector<SqlError> errors;
  if (handle == SQL_NULL_HANDLE) return errors;
  for (SQLSMALLINT i = 1;; ++i) {
    SqlError e;
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc;
    if (wide) {
      SQLWCHAR state[6] = {};
      std::vector<SQLWCHAR> message(1024);
      rc = SQLGetDiagRecW(type, handle, i, state, &native, message.data(),
                          SQLSMALLINT(message.size()), &length);
      if (rc == SQL_SUCCESS_WITH_INFO && size_t(length) >= message.size()) {
        message.resize(size_t(length) + 1);
        rc = SQLGetDiagRecW(type, handle, i, state, &native, message.data(),
                            SQLSMALLINT(message.size()), &length);
      }
      if (!SQL_SUCCEEDED(rc)) break;
      e.sql_state = WideToUtf8(state, 5);
      e.description = Utf8ToCp1252(WideToUtf8(
          message.data(), std::min(size_t(std::max<SQLSMALLINT>(length, 0)), message.size() - 1)));
    } else {
      SQLCHAR state[6] = {};
      std::vector<SQLCHAR> message(1024);
      rc = SQLGetDiagRec(type, handle, i, state, &native, message.data(),
                         SQLSMALLINT(message.size()), &length);
      if (rc == SQL_SUCCESS_WITH_INFO && size_t(length) >= message.size()) {
        message.resize(size_t(length) + 1);
        rc = SQLGetDiagRec(type, handle, i, state, &native, message.data(),
                           SQLSMALLINT(message.size()), &length);
      }
      if (!SQL_SUCCEEDED(rc)) break;
      e.sql_state.assign(reinterpret_cast<char*>(state), 5);
      e.description = Utf8ToCp1252(
          std::string_view(reinterpret_cast<char*>(message.data()),
                           std::min(size_t(std::max<SQLSMALLINT>(length, 0)), message.size() - 1)));
    }
    e.number = native;
    e.native_error = native;
    e.source = source;
    e.origin = wide && FromServer(e) ? ErrorOrigin::kSqlServer : ErrorOrigin::kOdbc;
    errors.push_back(std::move(e));
  }
  return errors;
}

// A connection-string value as it stands when nothing in it could end it early, else
// "{value}" with "}" doubled: drivers that do not take braces off (PostgreSQL's reads
// "{127.0.0.1}" as the host name) meet them only where they are needed.
std::string Braced(std::string_view value) {
  const bool plain = value.find_first_of(";{}") == std::string_view::npos &&
                     (value.empty() || (value.front() != ' ' && value.back() != ' '));
  if (plain) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

bool NamesSqliteDriver(std::string_view driver) {
  std::string lower(driver);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("sqlite") != std::string::npos;
}

// ---- SQLite's ODBC driver as a SqliteTarget ------------------------------------------

// The driver reports most failures as "HY000" with SQLite's result code as the native
// error: give them the states the embedded engine gives.
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
      : stmt_(stmt), diagnostics_(diagnostics), source_(source) {}
  ~OdbcSqliteStatement() override { SQLFreeHandle(SQL_HANDLE_STMT, stmt_); }

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
};

class OdbcSqliteTarget final : public SqliteTarget {
 public:
  OdbcSqliteTarget(SQLHDBC dbc, std::string source) : dbc_(dbc), source_(std::move(source)) {}

  Status Prepare(const std::string& sql, std::unique_ptr<TargetStatement>* out) override {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) {
      return Fail(SQL_HANDLE_DBC, dbc_, "SQLAllocHandle");
    }
    SQLRETURN rc = SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())),
                              SQLINTEGER(sql.size()));
    if (!SQL_SUCCEEDED(rc)) {
      Status s = Fail(SQL_HANDLE_STMT, stmt, "SQLPrepare");
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      return s;
    }
    *out = std::make_unique<OdbcSqliteStatement>(stmt, &diagnostics_, source_);
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

// ---- SQL Server: statements unchanged ------------------------------------------------

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
      auto target = std::make_unique<OdbcSqliteTarget>(dbc_, source_);
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
    std::vector<SqlError> errors;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    Status s = Allocate(&stmt);
    if (!s.ok()) return s;
    WideString text = Cp1252ToWide(statement);
    SQLRETURN rc = SQLExecDirectW(stmt, text.data(), SQLINTEGER(text.size()));
    // A statement's later results (the row counts of triggers, say) carry their own
    // errors: read them all.
    while (SQL_SUCCEEDED(rc)) rc = SQLMoreResults(stmt);
    if (rc != SQL_NO_DATA) {
      errors = Diagnostics(SQL_HANDLE_STMT, stmt, wide_, source_);
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      return Fail(Status::IoError(errors.empty() ? "statement failed" : errors[0].description),
                  std::move(errors), source_);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return Status::Ok();
  }

  Status OpenRecordset(std::string_view statement, std::unique_ptr<Recordset>* recordset) override {
    if (!connected_) return NotOpen();
    std::vector<SqlError> errors;
    if (core_) {
      Status s = core_->OpenRecordset(statement, recordset, &errors);
      return s.ok() ? s : Fail(s, std::move(errors), source_);
    }
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    Status s = Allocate(&stmt);
    if (!s.ok()) return s;
    // A static read-only cursor lives on the server (as ADO's server-side static
    // recordsets do), so the connection stays free for other statements meanwhile. A
    // driver that offers less says so with a warning, which is of no concern here.
    if (!SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE,
                                      reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0)) ||
        !SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_CONCURRENCY,
                                      reinterpret_cast<SQLPOINTER>(SQL_CONCUR_READ_ONLY), 0))) {
      Status failed = FailWith(stmt, "cannot set the cursor");
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      return failed;
    }
    WideString text = Cp1252ToWide(statement);
    SQLRETURN rc = SQLExecDirectW(stmt, text.data(), SQLINTEGER(text.size()));
    SQLSMALLINT count = 0;
    if (SQL_SUCCEEDED(rc)) rc = SQLNumResultCols(stmt, &count);
    if (!SQL_SUCCEEDED(rc) || count == 0) {
      errors = Diagnostics(SQL_HANDLE_STMT, stmt, wide_, source_);
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      if (SQL_SUCCEEDED(rc)) {
        SqlError e;
        e.description = "The statement returns no rows.";
        e.source = source_;
        e.sql_state = "24000";
        errors = {e};
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
        Status failed = FailWith(stmt, "cannot describe the columns");
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return failed;
      }
      column.name = Utf8ToCp1252(WideToUtf8(name.data(), size_t(name_length)));
    }
    auto r = std::make_unique<OdbcRecordset>(this, stmt, std::move(columns));
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
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    Status s = Allocate(&stmt);
    if (!s.ok()) return s;
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
      errors = Diagnostics(SQL_HANDLE_STMT, stmt, wide_, source_);
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      return Fail(Status::IoError("cannot list the tables"), std::move(errors), source_);
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
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
  Status Allocate(SQLHSTMT* stmt) {
    if (SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, stmt))) return Status::Ok();
    return Fail(Status::IoError("cannot allocate an ODBC statement"),
                Diagnostics(SQL_HANDLE_DBC, dbc_, wide_, source_), source_);
  }

  Status FailAndClose(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    std::vector<SqlError> errors = Diagnostics(type, handle, true, source_);
    Close();
    return Fail(Status::IoError(what), std::move(errors), source_);
  }

  Status NotOpen() {
    SqlError e;
    e.description = "The connection is not open.";
    e.source = source_;
    e.sql_state = "08003";
    return Fail(Status::Closed(e.description), {e}, source_);
  }

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
