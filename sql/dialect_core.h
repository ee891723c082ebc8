// Inside the sql/ module only: a SQLite database, reached natively or through SQLite's
// ODBC driver, driven with Torvan's T-SQL row statements (sql/sqlite_dialect.h) and with
// schema statements already written for SQLite.
//
// SqliteTarget is the small seam between the two ways of reaching the database;
// DialectCore does the rest for both: it translates, keeps the translations and their
// prepared statements by statement shape, binds the values, follows the schema version so
// that a schema changed by anyone invalidates what it kept, and opens the recordsets.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/status.h"
#include "sql/connection.h"
#include "sql/sqlite_dialect.h"

namespace torvan::sql {

// A prepared statement of a SqliteTarget.
class TargetStatement {
 public:
  virtual ~TargetStatement() = default;
  // Binds `params` to the "?" markers in order and runs the statement up to its first
  // row (*has_row true) or to its end.
  virtual Status Execute(const std::vector<BoundValue>& params, bool* has_row) = 0;
  virtual Status Next(bool* has_row) = 0;
  // Column i of the current row as UTF-8 text, whole, or `*is_null`. A value that cannot
  // be read whole fails (the target's diagnostics say why).
  virtual Status ColumnText(int i, std::string* utf8, bool* is_null) = 0;
  virtual int ColumnCount() = 0;
  // Ends the run; the statement can be executed again.
  virtual void Reset() = 0;
  // True when the last Execute failed because another connection changed the schema
  // since the statement was prepared; the statement then did nothing.
  virtual bool StaleSchema() const { return false; }
};

using TextRows = std::vector<std::vector<std::optional<std::string>>>;

// Runs a prepared statement without parameters and appends every row to `*rows`.
Status ReadAllRows(TargetStatement& stmt, TextRows* rows);

class SqliteTarget {
 public:
  virtual ~SqliteTarget() = default;
  virtual Status Prepare(const std::string& sql, std::unique_ptr<TargetStatement>* out) = 0;
  // Runs one statement without parameters, discarding any rows.
  virtual Status Run(const std::string& sql) = 0;
  // Runs a query without parameters and returns all its rows as UTF-8 texts.
  virtual Status Query(const std::string& sql, TextRows* rows) = 0;
  // The errors of the failures since the last call, moved out.
  virtual std::vector<SqlError> TakeDiagnostics() = 0;
  // True when its statements report a schema changed under them (StaleSchema) before
  // doing anything; otherwise the core reads the schema version before every statement.
  virtual bool DetectsSchemaChanges() const { return false; }
  // Whether the database has a transaction open; nullopt where the target cannot tell.
  virtual std::optional<bool> InTransaction() const { return std::nullopt; }
};

// The SQLSTATE for a SQLite result code (primary or extended) and its message, so that
// both ways of reaching SQLite report the same states.
std::string SqliteSqlState(int code, std::string_view message);

// Runs the pragmas every dialect database gets when it opens (WAL journal, full
// synchronous commits, recursive triggers off: the behaviour Torvan's triggers expect) and
// checks the object layout: a new empty database gets kLayoutVersion, a database of another
// layout is refused with an error naming `file` (UTF-8) and both versions. On failure
// `*errors` says why (never empty).
Status PrepareDialectDatabase(SqliteTarget* target, std::string_view file,
                              std::vector<SqlError>* errors);

class DialectRecordset;

class DialectCore {
 public:
  // `report` receives the errors of a failure met by a recordset after it was opened.
  DialectCore(std::unique_ptr<SqliteTarget> target,
              std::function<void(std::vector<SqlError>)> report);
  ~DialectCore();
  DialectCore(const DialectCore&) = delete;
  DialectCore& operator=(const DialectCore&) = delete;

  // On failure `*errors` receives the errors (never empty).
  Status Execute(std::string_view statement, std::vector<SqlError>* errors);
  // Runs a SQLite statement (Windows-1252) as it stands and forgets what it knew.
  Status ExecuteNative(std::string_view statement, std::vector<SqlError>* errors);
  Status OpenRecordset(std::string_view statement, std::unique_ptr<Recordset>* recordset,
                       std::vector<SqlError>* errors);
  Status ListTables(std::vector<std::string>* names, std::vector<SqlError>* errors);
  // Connection::Begin, Commit, Rollback: SQLite savepoints, which nest and, outermost,
  // are transactions. A statement that fails with an I/O error or a full disk inside one
  // may make SQLite roll the whole transaction back: from then on every statement, Begin
  // and Commit fails (SQL Server's 3930, as for a transaction doomed there) until the
  // caller has rolled back each level it began, so that nothing it meant to keep together
  // runs on its own.
  Status Begin(std::vector<SqlError>* errors);
  Status Commit(std::vector<SqlError>* errors);
  void Rollback();

 private:
  friend class DialectRecordset;
  class Schema;

  struct Cached {
    Plan plan;
    std::unique_ptr<TargetStatement> statement;  // null while a recordset holds it
  };

  // Translates (or finds) the statement; for row statements also binds its values and
  // hands out its prepared statement, which the caller gives back with Return().
  struct Prepared {
    const Plan* plan = nullptr;
    std::string shape;
    std::unique_ptr<TargetStatement> statement;
    std::vector<BoundValue> values;
  };
  Status Prepare(std::string_view statement, Prepared* prepared, std::vector<SqlError>* errors);
  void Return(const std::string& shape, uint64_t generation,
              std::unique_ptr<TargetStatement> statement);
  // Reads the schema version; when it moved, forgets every translation (*changed).
  Status CheckSchemaVersion(bool* changed, std::vector<SqlError>* errors);
  Status Translate(std::string_view statement, Plan* plan, std::vector<SqlError>* errors);
  void Forget();
  // Collects the target's errors of a failure; inside a transaction, notices whether
  // SQLite ended it.
  Status Failed(Status status, std::vector<SqlError>* errors);
  bool TransactionOpen();
  // The refusal of every operation but Rollback once SQLite ended the transaction.
  Status Doomed(std::vector<SqlError>* errors) const;

  std::unique_ptr<SqliteTarget> target_;
  std::function<void(std::vector<SqlError>)> report_;
  std::unique_ptr<Schema> schema_;
  std::unordered_map<std::string, Cached> cache_;
  uint64_t generation_ = 0;  // counts Forget()s: a statement lent before one is not kept
  std::optional<int64_t> schema_version_;
  std::unique_ptr<TargetStatement> version_statement_;
  std::unordered_set<DialectRecordset*> recordsets_;
  std::vector<Token> tokens_;  // reused between statements
  int depth_ = 0;              // transactions and savepoints open
  bool doomed_ = false;        // SQLite rolled back the transaction those levels opened
};

}  // namespace torvan::sql
