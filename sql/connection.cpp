#include "sql/connection.h"

#include "core/text.h"
#include "sql/engines.h"
#include "sql/transaction_guard.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql {

std::optional<Engine> ParseEngine(std::string_view motore) {
  std::string name = Trim(motore);
  if (name.empty() || EqualsIgnoreCase(name, "SQLite")) return Engine::kSqlite;
  if (EqualsIgnoreCase(name, "ODBC")) return Engine::kOdbc;
  if (EqualsIgnoreCase(name, "PostgreSQL")) return Engine::kPostgres;
  return std::nullopt;
}

std::string EngineNameFor(const SqlSettings& settings, std::string_view database) {
  const std::string name = Trim(database);
  std::string_view map = settings.Motori;
  while (!map.empty()) {
    const size_t end = map.find(';');
    const std::string_view pair = map.substr(0, end);
    map = end == std::string_view::npos ? std::string_view() : map.substr(end + 1);
    const size_t eq = pair.find('=');
    if (eq != std::string_view::npos && EqualsIgnoreCase(Trim(pair.substr(0, eq)), name)) {
      return Trim(pair.substr(eq + 1));
    }
  }
  return settings.Motore;
}

std::string OdbcDriverFor(const SqlSettings& settings, bool native_client) {
  return native_client ? settings.Driver_Nativo : settings.Driver;
}

bool IsBusy(const SqlError& e) {
  switch (e.origin) {
    case ErrorOrigin::kSqlite:
      return e.number == 5 || e.number == 6;  // SQLITE_BUSY, SQLITE_LOCKED
    case ErrorOrigin::kSqlServer:
      return e.native_error == 1222 || e.native_error == 1205;
    case ErrorOrigin::kOdbc:
      // SQLite's ODBC driver without a native code, or a driver that forwards SQL Server's.
      return e.description.find("database is locked") != std::string::npos ||
             e.description.find("database table is locked") != std::string::npos ||
             e.sql_state == "HYT00";
    case ErrorOrigin::kPostgres:
      return e.sql_state == "55P03" || e.sql_state == "40P01" || e.sql_state == "40001";
    case ErrorOrigin::kDialect:
    case ErrorOrigin::kTorvan:
      break;
  }
  return false;
}

bool IsConnectionLost(const SqlError& e) {
  return e.sql_state.rfind("08", 0) == 0 ||
         (e.origin == ErrorOrigin::kPostgres &&
          (e.sql_state == "57P01" || e.sql_state == "57P02" || e.sql_state == "57P03"));
}

std::string MissingTable(const SqlError& e) {
  std::string name;
  const std::string& d = e.description;
  if (size_t at = d.find("Invalid object name '"); at != std::string::npos) {
    at += 21;
    const size_t end = d.find("'", at);
    if (end != std::string::npos) name = d.substr(at, end - at);
  } else if (size_t at = d.find("relation \""); e.sql_state == "42P01" && at != std::string::npos) {
    at += 10;
    const size_t end = d.find("\" does not exist", at);
    if (end != std::string::npos) name = d.substr(at, end - at);
  } else if (size_t at = d.find("no such table: "); at != std::string::npos) {
    at += 15;
    size_t end = at;
    while (end < d.size() && d[end] != ' ' && d[end] != ')' && d[end] != ',') ++end;
    name = d.substr(at, end - at);
  }
  // "main.T", "dbo.T": the table alone.
  if (size_t dot = name.rfind('.'); dot != std::string::npos) name.erase(0, dot + 1);
  return name;
}

const SqlError* FindError(const std::vector<SqlError>& errors, bool (*match)(const SqlError&)) {
  for (const SqlError& e : errors) {
    if (match(e)) return &e;
  }
  return nullptr;
}

Recordset::~Recordset() = default;

int Recordset::FieldIndex(std::string_view name) const {
  for (int i = 0; i < FieldCount(); ++i) {
    if (EqualsIgnoreCase(FieldName(i), name)) return i;
  }
  return -1;
}

const Field* Recordset::Find(std::string_view name) const {
  int i = FieldIndex(name);
  if (i < 0 || Eof()) return nullptr;
  return &Value(i);
}

Connection::~Connection() = default;

Status Connection::Fail(Status status, std::vector<SqlError> errors, std::string_view source) {
  if (errors.empty()) {
    SqlError e;
    e.description = status.message();
    e.source = std::string(source);
    e.sql_state = "HY000";
    errors.push_back(std::move(e));
  }
  errors_ = std::move(errors);
  return status;
}

Status Connection::ExecuteAll(const std::vector<std::string>& statements, size_t* done) {
  for (*done = 0; *done < statements.size(); ++*done) {
    if (Status s = Execute(statements[*done]); !s.ok()) return s;
  }
  return Status::Ok();
}

std::unique_ptr<Connection> NewConnection(const ConnectionParams& params) {
  if (params.engine == Engine::kOdbc) return GuardTransactions(NewOdbcConnection(params));
  if (params.engine == Engine::kPostgres) return GuardTransactions(NewPostgresConnection(params));
  return GuardTransactions(NewSqliteConnection(params));
}

Status SqliteDatabasePath(const std::string& base_folder, std::string_view database,
                          std::string* path) {
  std::string name = Trim(database);
  if (name.empty() || name == "." || name == "..") {
    return Status::InvalidArgument("invalid database name \"" + name + "\"");
  }
  for (char c : name) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) {
      return Status::InvalidArgument("invalid database name \"" + name +
                                     "\": it may not hold \"/\", \"\\\" or control characters");
    }
  }
  *path = base_folder + "/" + Cp1252ToUtf8(name) + ".sqlite";
  return Status::Ok();
}

}  // namespace torvan::sql
