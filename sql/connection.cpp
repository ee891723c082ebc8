#include "sql/connection.h"

#include "core/text.h"
#include "sql/engines.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql {

std::optional<Engine> ParseEngine(std::string_view motore) {
  std::string name = Trim(motore);
  if (name.empty() || EqualsIgnoreCase(name, "SQLite")) return Engine::kSqlite;
  if (EqualsIgnoreCase(name, "ODBC")) return Engine::kOdbc;
  return std::nullopt;
}

std::string OdbcDriverFor(const SqlSettings& settings, bool native_client) {
  return native_client ? settings.Driver_Nativo : settings.Driver;
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

std::unique_ptr<Connection> NewConnection(const ConnectionParams& params) {
  if (params.engine == Engine::kOdbc) return NewOdbcConnection(params);
  return NewSqliteConnection(params);
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
