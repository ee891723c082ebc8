// Database connections: the one interface through which Torvan reaches its SQL databases.
//
// A Connection stands for one database of the database catalogue (TnC_DB.DAT): it opens
// from ConnectionParams, executes statements that return no rows, opens read-only
// recordsets, lists the base tables and keeps the error list of its last failed operation,
// which the caller reads (Errori_SQL writes it to the message log) and clears.
//
// Two kinds of statements cross it:
//   - row statements (Execute, OpenRecordset): T-SQL for SQL Server, whatever the engine;
//     the replication steps and the row counts use them.
//   - schema statements (ExecuteNative): written in the connection's own dialect
//     (dialect()); the schema operations render each object for it (schema/objects.h).
//
// Three engines sit behind it (chosen by the keys "Motore" and "Motori" of section "SQL" of
// TnC.INI):
//   - SQLite, embedded, the default: database n is the file
//     "<base folder>/<trimmed Nome_DB>.sqlite", created on first open, WAL journal. Row
//     statements are translated (sql/sqlite_dialect.h): exactly Torvan's set, anything
//     else is refused with an error. The file records the version of Torvan's object
//     layout (sql/sqlite_storage.h kLayoutVersion); a file of another layout is refused
//     when it is opened, a new empty one gets the current version.
//   - ODBC through unixODBC, for SQL Server: statement texts go to the server unchanged.
//     When the driver turns out to be SQLite's own ODBC driver, the connection speaks
//     SQLite and translates row statements like the SQLite engine.
//   - PostgreSQL through libpq (sql/postgres_dialect.h): row statements rewritten for it,
//     schema objects rendered for it, errors with PostgreSQL's SQLSTATE.
//
// Texts crossing this interface (statements, names, values, error texts) are Windows-1252
// std::strings, like every text inside Torvan; the engines convert at their edge.
// Nothing here throws: every operation returns a Status, and when that Status is not ok
// the error list holds at least one SqlError describing the cause.
//
// Connections, and the recordsets they open, belong to one thread at a time (Torvan uses
// them from the user-interface thread only).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings_values.h"
#include "platform/status.h"

namespace torvan::sql {

// Where the number of an SqlError comes from.
enum class ErrorOrigin {
  kSqlite,     // SQLite's result code: primary as the number, extended as the native error
  kOdbc,       // the native error of an ODBC driver or of the driver manager
  kSqlServer,  // SQL Server's message number, reported by the server
  kDialect,    // the SQL Server number the SQLite dialect raises in the server's place
               // (208 "Invalid object name", 8115 arithmetic overflow, ...; 0 for a
               // statement outside Torvan's set)
  kTorvan,     // a fault Torvan's connection found itself (not open, bad database name,
               // another object layout); the number is 0
  kPostgres,   // PostgreSQL, or libpq: the SQLSTATE says what (the numbers are 0)
};

// One entry of a connection's error list, in the shape of an ADO Error object.
struct SqlError {
  int32_t number = 0;       // the error number; `origin` says whose
  std::string description;  // the message, Windows-1252
  std::string source;       // "SQLite", "Torvan SQLite dialect", or the ODBC driver's name
  std::string sql_state;    // five-character SQLSTATE ("42S02", "08001", "HY000", ...)
  // The native error: the SQLite extended result code, the ODBC native error (SQL
  // Server's message number), or the dialect's SQL Server number.
  int32_t native_error = 0;
  ErrorOrigin origin = ErrorOrigin::kTorvan;
};

// What an error says, for those who must act on it (wait and try again, reopen the
// connection, name what is missing). Each engine's numbers are known here.
//
// Another program holds a lock the statement needed (SQLite "database is locked", SQL
// Server's lock time-out 1222 or a deadlock 1205, PostgreSQL's 55P03 lock not available,
// 40P01 deadlock, 40001 serialization failure): the same statement may work later.
bool IsBusy(const SqlError& e);
// The connection to the database is gone (SQLSTATE class "08"; PostgreSQL's 57P01..57P03,
// the server shutting down or ending the session): it must be opened again.
bool IsConnectionLost(const SqlError& e);
// The table the error names as missing ("Invalid object name 'X'.", "no such table: X",
// PostgreSQL's 42P01 'relation "X" does not exist'), without schema prefix; empty when the
// error is not about a missing table.
std::string MissingTable(const SqlError& e);
// The first error of the list that matches, or nullptr.
const SqlError* FindError(const std::vector<SqlError>& errors, bool (*match)(const SqlError&));

// The dialect a connection speaks for schema statements.
enum class Dialect {
  kSqlServer,  // T-SQL: ODBC to SQL Server (and to any other DBMS but SQLite)
  kSqlite,     // the embedded engine and ODBC through SQLite's driver
  kPostgres,   // the PostgreSQL engine
};

enum class Engine { kSqlite, kOdbc, kPostgres };

// "SQLite", "ODBC" or "PostgreSQL" (any case, surrounding blanks ignored) to the engine;
// nullopt for any other text. An empty text is the default engine, SQLite.
std::optional<Engine> ParseEngine(std::string_view motore);

// The engine text of database `database` (its trimmed Nome_DB): its pair in `Motori`
// ("NAME=engine;...", names compared ignoring ASCII case), else `Motore`.
std::string EngineNameFor(const SqlSettings& settings, std::string_view database);

// The ODBC driver for SQL Server: `Driver_Nativo` when native_client is set, else `Driver`.
std::string OdbcDriverFor(const SqlSettings& settings, bool native_client);

struct ConnectionParams {
  Engine engine = Engine::kSqlite;
  // From the database record, trimmed. `database` names the SQLite file or the SQL
  // Server database ("Initial Catalog"); `server` is the "Data Source"; `user` the
  // "User ID"; `password` the clear password, left out of the connection when empty.
  std::string database;
  std::string server;
  std::string user;
  std::string password;
  // SQLite engine, and ODBC with the SQLite driver: the folder of the database files
  // (Torvan's base folder, without a trailing "/").
  std::string base_folder;
  // ODBC: the driver's name as registered in odbcinst.ini ("FreeTDS", "ODBC Driver 18
  // for SQL Server", ...) or the path of the driver's shared library. A driver whose
  // name or path contains "sqlite" (any case) is given the database file path.
  std::string odbc_driver;
  // ODBC: further "key=value;" attributes appended to the connection string as they are
  // (e.g. "TrustServerCertificate=yes;" or "TDS_Version=7.4;"). PostgreSQL: libpq options
  // in the same form ("port=5433;sslmode=require;"). Empty by default.
  std::string odbc_extra;
  // ODBC and PostgreSQL: the login time-out in seconds.
  int login_timeout_seconds = 15;
  // ODBC: send row statements unchanged even when the driver is SQLite's (for
  // diagnostics and for testing the SQL Server path of the ODBC engine). The connection
  // still speaks SQLite for schema statements, and the object layout is not checked.
  bool odbc_pass_through = false;
  // How long a statement waits for another program's lock before it fails (IsBusy), in
  // milliseconds: SQLite's busy time-out; SQL Server's LOCK_TIMEOUT, set when the ODBC
  // connection opens. Kept short: the caller waits between its tries, letting events run.
  int busy_timeout_ms = 1000;
  // SQLite engine: the name of the registered SQLite VFS the file is opened with (tests
  // fail the storage through one, sql/fault_vfs.h); empty for SQLite's default.
  std::string sqlite_vfs;
};

// One value of a recordset row.
struct Field {
  bool is_null = false;
  // The value's text form, Windows-1252. Text columns: the stored text, trailing blanks
  // kept. Numeric columns: plain decimal text with "." and exactly the column's scale,
  // "-" in front when negative, no leading zeros, no separators ("1234.50", "-0.50",
  // "0.00", "12345678901234.567", "15"). Empty when is_null.
  std::string text;
};

// A forward-only, read-only recordset: the rows of one query, one current row at a time.
// A Recordset must not outlive its Connection; closing the Connection ends it (it then
// reports Eof()).
class Recordset {
 public:
  virtual ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // True when there is no current row: the query returned no rows, or MoveNext went past
  // the last one.
  virtual bool Eof() const = 0;
  // Moves to the next row. A failure leaves the recordset at Eof() and fills the
  // connection's error list.
  virtual Status MoveNext() = 0;

  virtual int FieldCount() const = 0;
  // Name of column i (0-based), as the query gave it; "" for a column without a name (a
  // count) and for an index out of range.
  virtual const std::string& FieldName(int i) const = 0;
  // Value of column i (0-based) of the current row; an empty null Field at Eof().
  virtual const Field& Value(int i) const = 0;
  // The column of that name, compared without regard to ASCII case as SQL Server does;
  // -1 when the recordset has no such column.
  int FieldIndex(std::string_view name) const;
  // The value of the named column of the current row, or nullptr when there is no such
  // column (or no current row).
  const Field* Find(std::string_view name) const;

 protected:
  Recordset() = default;
};

class Connection {
 public:
  virtual ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the connection with the parameters it was made with. On failure the error list
  // says why (the file is not a database, the folder cannot be written, the server
  // refused the login, the driver is not installed, ...) and the connection stays closed.
  // Opening an open connection closes it first.
  virtual Status Open() = 0;
  // Closes the connection; recordsets still open report Eof() from then on. Closing a
  // closed connection does nothing.
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // The dialect of ExecuteNative. Known once the connection is open (before that, and
  // after Close, it says what Open is expected to find).
  virtual Dialect dialect() const = 0;

  // Executes a T-SQL row statement that returns no rows.
  virtual Status Execute(std::string_view statement) = 0;
  // Executes the row statements in order, as Execute each, up to the first that fails;
  // `*done` counts those that succeeded. An engine may send them together, answered in one
  // round trip (PostgreSQL, inside a transaction begun all or nothing).
  virtual Status ExecuteAll(const std::vector<std::string>& statements, size_t* done);
  // Executes one statement written in the connection's own dialect, unchanged: the
  // schema statements. The engine forgets whatever it knew of the schema.
  virtual Status ExecuteNative(std::string_view statement) = 0;
  // Opens a read-only, forward-only recordset on a T-SQL query. On success `*recordset` is
  // positioned on the first row (or at Eof()).
  virtual Status OpenRecordset(std::string_view statement,
                               std::unique_ptr<Recordset>* recordset) = 0;
  // OpenRecordset for a caller that reads the first `rows` rows only (the oldest master
  // rows): the recordset holds at least those, or all there are. An engine that would bring
  // every row of the answer at once (PostgreSQL) brings that many.
  virtual Status OpenFirstRows(std::string_view statement, int64_t rows,
                               std::unique_ptr<Recordset>* recordset) {
    (void)rows;
    return OpenRecordset(statement, recordset);
  }
  // The names of the base tables of the database, exactly as stored (case kept), without
  // views and system tables, in no particular order.
  virtual Status ListTables(std::vector<std::string>* names) = 0;

  // Transactions: the statements between Begin and Commit are kept together or not at all
  // (schema statements included: both engines keep DDL in transactions). A Begin inside
  // one already open opens a savepoint of it, so a caller may group its statements whether
  // or not its own caller did: each Commit ends what its Begin opened (the outermost makes
  // it durable), Rollback undoes it. A failed Commit leaves the transaction open: the
  // caller rolls it back. Rollback never fails in a way a caller could act on.
  virtual Status Begin() = 0;
  virtual Status Commit() = 0;
  virtual void Rollback() = 0;
  // Begin for a caller that rolls the whole transaction back when any statement in it
  // fails: an engine may then spare what makes a failed statement undo only itself
  // (PostgreSQL's savepoint around each), and a failure may leave the transaction good
  // for nothing but its rollback (every later statement and the Commit fail).
  virtual Status BeginAllOrNothing() { return Begin(); }

  // The errors of the last failed operation, in the order the engine reported them. An
  // operation that fails replaces the list; operations that succeed leave it alone.
  const std::vector<SqlError>& Errors() const { return errors_; }
  void ClearErrors() { errors_.clear(); }

 protected:
  Connection() = default;
  // Replaces the error list with `errors`; when that is empty, with one error of origin
  // kTorvan made from `status` (never leaves a failure without an entry). Returns `status`.
  Status Fail(Status status, std::vector<SqlError> errors, std::string_view source);

 private:
  std::vector<SqlError> errors_;
};

// A new, closed connection of the engine params.engine. Never null.
std::unique_ptr<Connection> NewConnection(const ConnectionParams& params);

// The SQLite file of a database: "<base folder>/<name>.sqlite", name trimmed. Fails for
// a name that could leave the base folder or is empty ("", ".", "..", a "/" or "\" or a
// control character).
Status SqliteDatabasePath(const std::string& base_folder, std::string_view database,
                          std::string* path);

}  // namespace torvan::sql
