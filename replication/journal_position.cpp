#include "replication/journal_position.h"

#include <cstdlib>
#include <memory>

namespace torvan {

std::string CreateJournalTableStatement(sql::Dialect dialect) {
  if (dialect == sql::Dialect::kSqlServer) {
    // SQL Server's own brackets; PostgreSQL refuses them, SQLite takes quotes too.
    return "IF OBJECT_ID(N'[_T_GIORNALE___]', N'U') IS NULL CREATE TABLE [_T_GIORNALE___] "
           "([Database] INTEGER NOT NULL PRIMARY KEY, [Giornale] BIGINT NOT NULL, "
           "[Posizione] BIGINT NOT NULL)";
  }
  // UNIQUE, not PRIMARY KEY: SQLite would make the column the table's row number.
  return "CREATE TABLE IF NOT EXISTS \"_T_GIORNALE___\" (\"Database\" INTEGER NOT NULL UNIQUE, "
         "\"Giornale\" BIGINT NOT NULL, \"Posizione\" BIGINT NOT NULL)";
}

std::string JournalPositionStatement(int32_t database, uint64_t id, uint64_t position) {
  return "UPDATE [_T_GIORNALE___] SET [Giornale]=" + std::to_string(id) +
         ", [Posizione]=" + std::to_string(position) +
         " WHERE [Database]=" + std::to_string(database);
}

Status ReadJournalPosition(sql::Connection& c, int32_t database, uint64_t id, uint64_t* position) {
  *position = 0;
  const std::string query =
      "SELECT [Giornale],[Posizione] FROM [_T_GIORNALE___] WHERE [Database]=" +
      std::to_string(database);
  std::unique_ptr<sql::Recordset> rs;
  Status s = c.OpenRecordset(query, &rs);
  if (!s.ok()) {
    if (sql::FindError(c.Errors(), [](const sql::SqlError& e) {
          return !sql::MissingTable(e).empty();
        }) == nullptr) {
      return s;
    }
    c.ClearErrors();
    if (!(s = c.ExecuteNative(CreateJournalTableStatement(c.dialect()))).ok()) return s;
    if (!(s = c.OpenRecordset(query, &rs)).ok()) return s;
  }
  if (rs->Eof()) {
    rs.reset();
    return c.Execute("INSERT INTO [_T_GIORNALE___] ([Database],[Giornale],[Posizione]) VALUES(" +
                     std::to_string(database) + "," + std::to_string(id) + ",0)");
  }
  const uint64_t found = std::strtoull(rs->Value(0).text.c_str(), nullptr, 10);
  if (found == id) *position = std::strtoull(rs->Value(1).text.c_str(), nullptr, 10);
  return Status::Ok();
}

}  // namespace torvan
