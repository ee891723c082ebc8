// The SQLite rendering of Torvan's objects (schema/objects.h).
#include <type_traits>

#include "core/text.h"
#include "schema/objects.h"

namespace torvan {

namespace {

using sql::QuoteIdentifier;
using sql::QuoteString;

// The marker tests of the T-SQL triggers. SQL Server compares nvarchar ignoring trailing
// blanks and case (default collation), so ' ' also matches '' and 'S' also 's'.
constexpr char kMarkerBlank[] = "IN (' ','')";
constexpr char kMarkerS[] = "IN ('S','s')";
constexpr char kMarkerD[] = "IN ('D','d')";

std::string SqliteOf(const DropTableStatement& s) {
  return "DROP TABLE IF EXISTS " + QuoteIdentifier(s.table);
}

std::string SqliteOf(const CreateTableStatement& s) {
  std::string sql = "CREATE TABLE " + QuoteIdentifier(s.table) + " (";
  for (size_t i = 0; i < s.columns.size(); ++i) {
    if (i > 0) sql += ", ";
    sql += sql::SqliteColumnDefinition(Trim(s.columns[i].Nome), SqlType(s.columns[i]));
  }
  return sql + ")";
}

std::string SqliteOf(const CreateIndexStatement& s) {
  return "CREATE INDEX " + QuoteIdentifier(s.table + "/" + s.table + "_X") + " ON " +
         QuoteIdentifier(s.table) + " (\"_T_RRN___\")";
}

std::string SqliteOf(const DropTriggerStatement& s) {
  return "DROP TRIGGER IF EXISTS " + QuoteIdentifier(s.base + "_" + s.suffix);
}

std::string MasterTrigger(const CreateTriggerStatement& s) {
  return "CREATE TRIGGER " + QuoteIdentifier(s.event + "_I") + " AFTER INSERT ON " +
         QuoteIdentifier(s.event) +
         " FOR EACH ROW BEGIN INSERT INTO \"_T_MASTER___\" (\"_T_FILE___\",\"_T_PROGR___\") "
         "VALUES (" +
         QuoteString(s.mirror) + ",NEW.\"_T_PROGR___\"); END";
}

// A trigger of the mirror table: the event row copies the data columns and _T_RRN___ (the
// trigger column list), _T_IDX___, a blank marker and the event code.
std::string MirrorTrigger(const CreateTriggerStatement& s) {
  const std::string table = QuoteIdentifier(s.mirror);
  const std::string event = QuoteIdentifier(s.event);
  const char code = s.kind == TriggerKind::kDelete   ? 'D'
                    : s.kind == TriggerKind::kInsert ? 'I'
                                                     : 'U';
  const char* row = s.kind == TriggerKind::kDelete ? "OLD." : "NEW.";
  const std::string marker = std::string(row) + "\"_T_TIPO___\"";
  std::string targets, values;
  for (size_t i = 0; i + 2 < s.mirror_columns.size(); ++i) {
    const std::string column = QuoteIdentifier(Trim(s.mirror_columns[i].Nome));
    targets += column + ",";
    values += row + column + ",";
  }
  targets += "\"_T_IDX___\",\"_T_TIPO___\",\"_T_EVENTO___\"";
  values += std::string(row) + "\"_T_IDX___\",' ','" + code + "'";
  const std::string record = "INSERT INTO " + event + " (" + targets + ") SELECT " + values +
                             " WHERE " + marker + " " + kMarkerBlank + ";";
  const std::string this_row =
      "WHERE \"_T_IDX___\"=NEW.\"_T_IDX___\" AND " + marker + " " + kMarkerS;
  const std::string name = QuoteIdentifier(s.mirror + "_" + code);
  switch (s.kind) {
    case TriggerKind::kDelete:
      return "CREATE TRIGGER " + name + " AFTER DELETE ON " + table + " FOR EACH ROW BEGIN " +
             record + " END";
    case TriggerKind::kInsert:
      // The marker 'S' is set again so that the update trigger, fired by this nested
      // update, turns it into a blank without recording anything.
      return "CREATE TRIGGER " + name + " AFTER INSERT ON " + table + " FOR EACH ROW BEGIN " +
             record + " UPDATE " + table + " SET \"_T_TIPO___\"='S' " + this_row + "; END";
    case TriggerKind::kUpdate:
      return "CREATE TRIGGER " + name + " AFTER UPDATE ON " + table + " FOR EACH ROW WHEN " +
             marker + " NOT " + kMarkerD + " BEGIN UPDATE " + table + " SET \"_T_TIPO___\"=' ' " +
             this_row + "; " + record + " END";
    case TriggerKind::kMaster:
      break;
  }
  return "";
}

// The columns a mirror trigger reads, read once: a missing one fails here, as SQL Server's
// CREATE TRIGGER fails, instead of at the first change recorded. The names are qualified:
// SQLite takes an unknown "name" alone for a string.
std::string MirrorColumnsCheck(const CreateTriggerStatement& s) {
  const std::string table = QuoteIdentifier(s.mirror);
  std::string columns;
  for (size_t i = 0; i + 2 < s.mirror_columns.size(); ++i) {
    columns += table + "." + QuoteIdentifier(Trim(s.mirror_columns[i].Nome)) + ",";
  }
  return "SELECT " + columns + table + ".\"_T_IDX___\"," + table + ".\"_T_TIPO___\" FROM " + table +
         " WHERE 0";
}

// SQLite numbers an AUTOINCREMENT table above its row of sqlite_sequence (made by its first
// insert when missing).
std::vector<std::string> SqliteOf(const ContinueIdentityStatement& s) {
  const std::string name = QuoteString(s.table), above = std::to_string(s.above);
  return {"UPDATE sqlite_sequence SET seq=" + above + " WHERE name=" + name + " AND seq<" + above,
          "INSERT INTO sqlite_sequence (name,seq) SELECT " + name + "," + above +
              " WHERE NOT EXISTS (SELECT 1 FROM sqlite_sequence WHERE name=" + name + ")"};
}

std::vector<std::string> SqliteOf(const CreateTriggerStatement& s) {
  if (s.kind == TriggerKind::kMaster) return {MasterTrigger(s)};
  return {MirrorColumnsCheck(s), MirrorTrigger(s)};
}

template <class T>
std::vector<std::string> AsList(const T& s) {
  if constexpr (std::is_same_v<T, CreateTriggerStatement> ||
                std::is_same_v<T, ContinueIdentityStatement>) {
    return SqliteOf(s);
  } else {
    return {SqliteOf(s)};
  }
}

}  // namespace

std::vector<std::string> Sqlite(const SchemaStatement& statement) {
  return std::visit([](const auto& s) { return AsList(s); }, statement);
}

}  // namespace torvan
