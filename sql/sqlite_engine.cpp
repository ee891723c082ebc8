// The embedded SQLite engine: database n is "<base folder>/<trimmed Nome_DB>.sqlite".

#include <sqlite3.h>

#include "core/text.h"
#include "sql/decimal.h"
#include "sql/dialect_core.h"
#include "sql/engines.h"
#include "sql/server_errors.h"

namespace torvan::sql {

namespace {

constexpr char kSource[] = "SQLite";

SqlError ErrorOf(sqlite3* db, int rc, std::string_view context) {
  int extended = db ? sqlite3_extended_errcode(db) : rc;
  if (extended == SQLITE_OK) extended = rc;
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  SqlError e;
  e.number = extended & 0xFF;
  e.native_error = extended;
  e.sql_state = SqliteSqlState(extended, message);
  e.source = kSource;
  e.origin = ErrorOrigin::kSqlite;
  e.description =
      Utf8ToCp1252(context.empty() ? message : message + " (" + std::string(context) + ")");
  return e;
}

class NativeStatement final : public TargetStatement {
 public:
  NativeStatement(sqlite3* db, sqlite3_stmt* stmt, std::vector<SqlError>* diagnostics)
      : db_(db), stmt_(stmt), diagnostics_(diagnostics) {}
  ~NativeStatement() override { sqlite3_finalize(stmt_); }

  Status Execute(const std::vector<BoundValue>& params, bool* has_row) override {
    sqlite3_reset(stmt_);
    for (size_t i = 0; i < params.size(); ++i) {
      const BoundValue& v = params[i];
      int at = int(i) + 1;
      int rc = SQLITE_OK;
      switch (v.kind) {
        case BoundValue::Kind::kNull:
          rc = sqlite3_bind_null(stmt_, at);
          break;
        case BoundValue::Kind::kInteger:
          rc = sqlite3_bind_int64(stmt_, at, v.integer);
          break;
        case BoundValue::Kind::kReal:
          rc = sqlite3_bind_double(stmt_, at, v.real);
          break;
        case BoundValue::Kind::kText:
          rc = sqlite3_bind_text(stmt_, at, v.text.data(), int(v.text.size()), SQLITE_TRANSIENT);
          break;
        case BoundValue::Kind::kBlob:
          rc = sqlite3_bind_blob(stmt_, at, v.text.data(), int(v.text.size()), SQLITE_TRANSIENT);
          break;
      }
      if (rc != SQLITE_OK) return Fail(rc);
    }
    return Next(has_row);
  }

  Status Next(bool* has_row) override {
    stale_ = false;
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
      *has_row = true;
      return Status::Ok();
    }
    *has_row = false;
    if (rc == SQLITE_DONE) return Status::Ok();
    // A statement of the legacy interface tells its real result code at the reset.
    int code = sqlite3_reset(stmt_);
    stale_ = code == SQLITE_SCHEMA;
    return Fail(code == SQLITE_OK ? rc : code);
  }

  bool StaleSchema() const override { return stale_; }

  Status ColumnText(int i, std::string* utf8, bool* is_null) override {
    const int type = sqlite3_column_type(stmt_, i);
    *is_null = type == SQLITE_NULL;
    utf8->clear();
    if (*is_null) return Status::Ok();
    if (type == SQLITE_FLOAT) {
      // SQLite's own text of a double keeps 15 digits; a double a program wrote may need
      // up to 17 to be told from its neighbours.
      *utf8 = DoubleText(sqlite3_column_double(stmt_, i));
      return Status::Ok();
    }
    const unsigned char* text = sqlite3_column_text(stmt_, i);
    int bytes = sqlite3_column_bytes(stmt_, i);
    // A value SQLite could not turn into text (out of memory) is no empty text; an empty
    // blob has no pointer either.
    if (text == nullptr && sqlite3_errcode(db_) == SQLITE_NOMEM) return Fail(SQLITE_NOMEM);
    if (text != nullptr) utf8->assign(reinterpret_cast<const char*>(text), size_t(bytes));
    return Status::Ok();
  }

  int ColumnCount() override { return sqlite3_column_count(stmt_); }

  void Reset() override {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

 private:
  Status Fail(int rc) {
    SqlError e = ErrorOf(db_, rc, "");
    Status s = Status::IoError(e.description);
    diagnostics_->push_back(std::move(e));
    sqlite3_reset(stmt_);
    return s;
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_;
  std::vector<SqlError>* diagnostics_;
  bool stale_ = false;
};

class NativeTarget final : public SqliteTarget {
 public:
  explicit NativeTarget(sqlite3* db) : db_(db) {}
  ~NativeTarget() override { sqlite3_close_v2(db_); }

  // Statements the dialect keeps and runs again.
  Status Prepare(const std::string& sql, std::unique_ptr<TargetStatement>* out) override {
    // The legacy interface on purpose: when another connection has changed the schema,
    // its statements fail with SQLITE_SCHEMA before doing anything, instead of quietly
    // recompiling themselves, so the dialect can translate them again for the tables as
    // they are. Noticing it this way costs nothing per statement.
    return PrepareWith(sql, /*legacy=*/true, out);
  }

  Status Run(const std::string& sql) override {
    TextRows ignored;
    return Query(sql, &ignored);
  }

  // One-time statements recompile themselves when the schema changed.
  Status Query(const std::string& sql, TextRows* rows) override {
    std::unique_ptr<TargetStatement> stmt;
    Status s = PrepareWith(sql, /*legacy=*/false, &stmt);
    if (!s.ok()) return s;
    return ReadAllRows(*stmt, rows);
  }

  std::vector<SqlError> TakeDiagnostics() override { return std::exchange(diagnostics_, {}); }
  bool DetectsSchemaChanges() const override { return true; }
  std::optional<bool> InTransaction() const override { return sqlite3_get_autocommit(db_) == 0; }

 private:
  Status PrepareWith(const std::string& sql, bool legacy, std::unique_ptr<TargetStatement>* out) {
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = legacy ? sqlite3_prepare(db_, sql.c_str(), int(sql.size()) + 1, &stmt, &tail)
                    : sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()) + 1, &stmt, &tail);
    if (rc != SQLITE_OK) return Fail(rc, sql);
    if (stmt == nullptr || (tail && *tail != '\0')) {
      sqlite3_finalize(stmt);
      return Fail(SQLITE_MISUSE, "not exactly one statement: " + sql);
    }
    *out = std::make_unique<NativeStatement>(db_, stmt, &diagnostics_);
    return Status::Ok();
  }

  Status Fail(int rc, const std::string& sql) {
    SqlError e = ErrorOf(db_, rc, "");
    Status s = Status::IoError(e.description + " in: " + sql);
    diagnostics_.push_back(std::move(e));
    return s;
  }

  sqlite3* db_;
  std::vector<SqlError> diagnostics_;
};

class SqliteConnection final : public Connection {
 public:
  explicit SqliteConnection(ConnectionParams params) : params_(std::move(params)) {}
  ~SqliteConnection() override { Close(); }

  Status Open() override {
    Close();
    std::string path;
    Status s = SqliteDatabasePath(params_.base_folder, params_.database, &path);
    if (!s.ok()) {
      SqlError e;
      e.description = s.message();
      e.source = kSource;
      e.sql_state = "08001";
      return Fail(s, {e}, kSource);
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(
        path.c_str(), &db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
        params_.sqlite_vfs.empty() ? nullptr : params_.sqlite_vfs.c_str());
    if (rc != SQLITE_OK) {
      SqlError e = ErrorOf(db, rc, path);
      sqlite3_close_v2(db);
      return Fail(Status::IoError(e.description), {e}, kSource);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, params_.busy_timeout_ms);
    auto target = std::make_unique<NativeTarget>(db);
    std::vector<SqlError> errors;
    s = PrepareDialectDatabase(target.get(), path, &errors);
    if (!s.ok()) return Fail(s, std::move(errors), kSource);
    core_ = std::make_unique<DialectCore>(std::move(target), [this](std::vector<SqlError> errors) {
      (void)Fail(Status::IoError("recordset"), std::move(errors), kSource);
    });
    return Status::Ok();
  }

  void Close() override { core_.reset(); }
  bool IsOpen() const override { return core_ != nullptr; }

  Dialect dialect() const override { return Dialect::kSqlite; }

  Status Execute(std::string_view statement) override {
    if (!core_) return NotOpen();
    std::vector<SqlError> errors;
    Status s = core_->Execute(statement, &errors);
    return s.ok() ? s : Fail(s, std::move(errors), kSource);
  }

  Status ExecuteNative(std::string_view statement) override {
    if (!core_) return NotOpen();
    std::vector<SqlError> errors;
    Status s = core_->ExecuteNative(statement, &errors);
    return s.ok() ? s : Fail(s, std::move(errors), kSource);
  }

  Status OpenRecordset(std::string_view statement, std::unique_ptr<Recordset>* recordset) override {
    if (!core_) return NotOpen();
    std::vector<SqlError> errors;
    Status s = core_->OpenRecordset(statement, recordset, &errors);
    return s.ok() ? s : Fail(s, std::move(errors), kSource);
  }

  Status ListTables(std::vector<std::string>* names) override {
    if (!core_) return NotOpen();
    std::vector<SqlError> errors;
    Status s = core_->ListTables(names, &errors);
    return s.ok() ? s : Fail(s, std::move(errors), kSource);
  }

  Status Begin() override {
    if (!core_) return NotOpen();
    std::vector<SqlError> errors;
    Status s = core_->Begin(&errors);
    return s.ok() ? s : Fail(s, std::move(errors), kSource);
  }
  Status Commit() override {
    if (!core_) return NotOpen();
    std::vector<SqlError> errors;
    Status s = core_->Commit(&errors);
    return s.ok() ? s : Fail(s, std::move(errors), kSource);
  }
  void Rollback() override {
    if (core_) core_->Rollback();
  }

 private:
  Status NotOpen() { return Fail(Status::Closed(kNotOpenText), {NotOpenError(kSource)}, kSource); }

  ConnectionParams params_;
  std::unique_ptr<DialectCore> core_;
};

}  // namespace

std::string SqliteSqlState(int code, std::string_view message) {
  switch (code & 0xFF) {
    case SQLITE_CONSTRAINT:
      return "23000";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "HYT00";
    case SQLITE_CANTOPEN:
    case SQLITE_NOTADB:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return "08001";
    case SQLITE_READONLY:
      return "25006";
    case SQLITE_ERROR:
      if (message.find("no such table") != std::string_view::npos) return "42S02";
      if (message.find("no such column") != std::string_view::npos) return "42S22";
      return "42000";
    default:
      return "HY000";
  }
}

std::unique_ptr<Connection> NewSqliteConnection(const ConnectionParams& params) {
  return std::make_unique<SqliteConnection>(params);
}

}  // namespace torvan::sql
