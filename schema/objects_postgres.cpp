// The PostgreSQL rendering of Torvan's objects (schema/objects.h).
//
// Tables: nvarchar(n) is varchar(n) (PostgreSQL, like SQL Server, refuses a longer text
// unless the excess is blanks), numeric(p,s) stays numeric(p,s), an identity is a bigint
// GENERATED ALWAYS AS IDENTITY (refused in INSERT lists like SQL Server's; its sequence
// never gives a number twice). Index names are "<table>/<table>_X": PostgreSQL scopes them
// to the schema, beside the tables.
//
// Triggers: each is a PL/pgSQL function of the trigger's name and a row trigger that runs
// it. The insert and update triggers run BEFORE the change, so that the marker "S" becomes
// a blank in the row itself, as the T-SQL triggers make it by updating the row again; the
// delete and master triggers run AFTER it. Markers are compared as SQL Server compares
// nvarchar: trailing blanks and case ignored. Each row is recorded or not by its own marker.
// Dropping a trigger drops its function, and with it the trigger.
#include <type_traits>

#include "core/text.h"
#include "schema/objects.h"
#include "sql/postgres_dialect.h"

namespace torvan {

namespace {

std::string Id(std::string_view cp1252) { return sql::PgIdentifier(cp1252); }
std::string Str(std::string_view cp1252) { return sql::PgString(cp1252); }

// The body of a function, dollar-quoted: no host name holds "$".
std::string Body(const std::string& plpgsql) {
  return "$torvan$ BEGIN " + plpgsql + " END $torvan$";
}

constexpr char kMarker[] = "pg_catalog.upper(pg_catalog.rtrim(";

std::string MarkerIs(const char* row, const char* value) {
  return std::string(kMarker) + row + ".\"_T_TIPO___\")) = '" + value + "'";
}

std::string PgOf(const DropTableStatement& s) { return "DROP TABLE IF EXISTS " + Id(s.table); }

std::string PgOf(const CreateTableStatement& s) {
  std::string sql = "CREATE TABLE " + Id(s.table) + " (";
  for (size_t i = 0; i < s.columns.size(); ++i) {
    const ColumnDef& c = s.columns[i];
    if (i > 0) sql += ", ";
    sql += Id(Trim(c.Nome));
    if (c.Tipo == "A") {
      sql += " varchar(" + std::to_string(c.Byte) + ") NOT NULL DEFAULT ' '";
    } else if (c.Tipo == "x") {
      // The key too: the event and master rows are read and removed by it, and without an
      // index every one of those would scan its table.
      sql += " bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY";
    } else {
      sql += " numeric(" + std::to_string(c.Lunghezza) + "," + std::to_string(c.Decimali) +
             ") NOT NULL DEFAULT 0";
    }
  }
  return sql + ")";
}

std::string PgOf(const CreateIndexStatement& s) {
  return "CREATE INDEX " + Id(s.table + "/" + s.table + "_X") + " ON " + Id(s.table) +
         " (\"_T_RRN___\")";
}

std::string PgOf(const DropTriggerStatement& s) {
  return "DROP FUNCTION IF EXISTS " + Id(s.base + "_" + s.suffix) + "() CASCADE";
}

// The numbers continue above `above` unless they already do: setval on the sequence of the
// table's identity column. The value is what a SELECT returns; nothing for a table without
// an identity.
std::string PgOf(const ContinueIdentityStatement& s) {
  const std::string above = std::to_string(s.above);
  return "SELECT pg_catalog.setval(q.s, GREATEST(COALESCE(pg_catalog.pg_sequence_last_value(q.s),"
         "0), " +
         above +
         ")) FROM (SELECT pg_catalog.pg_get_serial_sequence(pg_catalog.format('%I',c.relname),"
         "a.attname)::regclass AS s FROM pg_catalog.pg_class c JOIN pg_catalog.pg_attribute a ON "
         "a.attrelid=c.oid WHERE c.relname=" +
         Str(s.table) +
         " AND c.relnamespace=pg_catalog.current_schema()::regnamespace AND a.attidentity<>'') q";
}

std::string Function(const std::string& name, const std::string& plpgsql) {
  return "CREATE OR REPLACE FUNCTION " + Id(name) + "() RETURNS trigger LANGUAGE plpgsql AS " +
         Body(plpgsql);
}

std::string Trigger(const std::string& name, const char* when, const std::string& table) {
  return "CREATE TRIGGER " + Id(name) + " " + when + " ON " + Id(table) +
         " FOR EACH ROW EXECUTE FUNCTION " + Id(name) + "()";
}

// The event row: the data columns and _T_RRN___ (the trigger column list), _T_IDX___, a
// blank marker and the event code, from `row` (NEW or OLD).
std::string RecordEvent(const CreateTriggerStatement& s, const char* row, char code) {
  std::string targets, values;
  for (size_t i = 0; i + 2 < s.mirror_columns.size(); ++i) {
    const std::string column = Id(Trim(s.mirror_columns[i].Nome));
    targets += column + ",";
    values += std::string(row) + "." + column + ",";
  }
  return "INSERT INTO " + Id(s.event) + " (" + targets +
         "\"_T_IDX___\",\"_T_TIPO___\",\"_T_EVENTO___\") VALUES (" + values + row +
         ".\"_T_IDX___\",' ','" + code + "');";
}

// The columns a mirror trigger reads, read once: a missing one fails here, as SQL Server's
// CREATE TRIGGER fails, instead of at the first change recorded (PL/pgSQL checks names
// only when the function first runs).
std::string MirrorColumnsCheck(const CreateTriggerStatement& s) {
  std::string columns;
  for (size_t i = 0; i + 2 < s.mirror_columns.size(); ++i) {
    columns += Id(Trim(s.mirror_columns[i].Nome)) + ",";
  }
  return "SELECT " + columns + "\"_T_IDX___\",\"_T_TIPO___\" FROM " + Id(s.mirror) + " WHERE false";
}

std::vector<std::string> PgOf(const CreateTriggerStatement& s) {
  switch (s.kind) {
    case TriggerKind::kMaster: {
      const std::string name = s.event + "_I";
      return {
          Function(name, "INSERT INTO \"_T_MASTER___\" (\"_T_FILE___\",\"_T_PROGR___\") VALUES (" +
                             Str(s.mirror) + ",NEW.\"_T_PROGR___\"); RETURN NULL;"),
          Trigger(name, "AFTER INSERT", s.event)};
    }
    case TriggerKind::kDelete: {
      const std::string name = s.mirror + "_D";
      return {MirrorColumnsCheck(s),
              Function(name, "IF " + MarkerIs("OLD", "") + " THEN " + RecordEvent(s, "OLD", 'D') +
                                 " END IF; RETURN NULL;"),
              Trigger(name, "AFTER DELETE", s.mirror)};
    }
    case TriggerKind::kInsert: {
      const std::string name = s.mirror + "_I";
      return {MirrorColumnsCheck(s),
              Function(name, "IF " + MarkerIs("NEW", "") + " THEN " + RecordEvent(s, "NEW", 'I') +
                                 " ELSIF " + MarkerIs("NEW", "S") +
                                 " THEN NEW.\"_T_TIPO___\" := ' '; END IF; RETURN NEW;"),
              Trigger(name, "BEFORE INSERT", s.mirror)};
    }
    case TriggerKind::kUpdate: {
      const std::string name = s.mirror + "_U";
      return {MirrorColumnsCheck(s),
              Function(name, "IF " + MarkerIs("NEW", "S") +
                                 " THEN NEW.\"_T_TIPO___\" := ' '; ELSIF " + MarkerIs("NEW", "") +
                                 " THEN " + RecordEvent(s, "NEW", 'U') + " END IF; RETURN NEW;"),
              Trigger(name, "BEFORE UPDATE", s.mirror)};
    }
  }
  return {};
}

template <class T>
std::vector<std::string> AsList(const T& s) {
  if constexpr (std::is_same_v<T, CreateTriggerStatement>) {
    return PgOf(s);
  } else {
    return {PgOf(s)};
  }
}

}  // namespace

std::vector<std::string> Postgres(const SchemaStatement& statement) {
  return std::visit([](const auto& s) { return AsList(s); }, statement);
}

}  // namespace torvan
