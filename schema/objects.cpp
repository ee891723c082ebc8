// The model's constructors and its T-SQL rendering (the SQLite one: objects_sqlite.cpp).
#include "schema/objects.h"

#include "core/text.h"
#include "hostlink/field.h"
#include "schema/statements.h"

namespace torvan {

namespace {

constexpr char kExists[] = "IF EXISTS (SELECT name FROM sysobjects WHERE name = '";

std::string N(std::string_view name) { return BracketName(Trim(name)); }
std::string Q(std::string_view name) { return QuoteValue(Trim(name)); }

// The column's name as written in T-SQL: its Nome_Sql, trimmed.
std::string ColumnName(const ColumnDef& c) {
  return c.Nome_Sql.empty() ? NomeSql(Trim(c.Nome)) : Trim(c.Nome_Sql);
}

// The type fragment written right after a column's name.
std::string TypeFragment(const ColumnDef& c) {
  if (hostlink::IsTextField(c.Tipo))
    return " [nvarchar] (" + std::to_string(c.Byte) + ") NOT NULL DEFAULT ' ',";
  std::string precision = std::to_string(c.Lunghezza) + "," + std::to_string(c.Decimali);
  if (c.Tipo == "x") return " [numeric](" + precision + ") IDENTITY(1, 1) NOT NULL,";
  return " [numeric](" + precision + ") NOT NULL DEFAULT 0 , ";
}

std::string EventInsert(std::string_view event, std::string_view list, std::string_view from,
                        char code) {
  return "INSERT INTO [" + N(event) + "] (" + std::string(list) +
         "[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) SELECT " + std::string(list) +
         "[_T_IDX___],' ','" + code + "' FROM " + std::string(from) + " ";
}

std::string TsqlOf(const DropTableStatement& s) {
  return kExists + Q(s.table) + "' AND type = 'U')  DROP TABLE [" + N(s.table) + "]";
}

std::string TsqlOf(const CreateTableStatement& s) {
  std::string text = "CREATE TABLE [dbo].[" + N(s.table) + "] (";
  for (const ColumnDef& c : s.columns) text += ColumnName(c) + TypeFragment(c);
  // The last character (the comma of an "A"/"x" fragment, the trailing blank of a numeric
  // one) becomes the closing parenthesis.
  text.back() = ')';
  return text;
}

std::string TsqlOf(const CreateIndexStatement& s) {
  return "CREATE INDEX [" + N(s.table) + "_X] ON [dbo].[" + N(s.table) + "]([_T_RRN___])";
}

std::string TsqlOf(const DropTriggerStatement& s) {
  std::string suffix(1, s.suffix);
  return kExists + Q(s.base) + "_" + suffix + "' AND type = 'TR')  DROP TRIGGER [" + N(s.base) +
         "_" + suffix + "]";
}

std::string TsqlOf(const ContinueIdentityStatement& s) {
  const std::string name = "'" + Q(s.table) + "'";
  return "IF IDENT_CURRENT(" + name + ") <= " + std::to_string(s.above) + " DBCC CHECKIDENT (" +
         name + ", RESEED, " + std::to_string(s.above + 1) + ") WITH NO_INFOMSGS";
}

std::string TsqlOf(const CreateTriggerStatement& s) {
  const std::string mirror = N(s.mirror);
  const std::string list = TriggerColumnList(s.mirror_columns);
  switch (s.kind) {
    case TriggerKind::kDelete:
      return "CREATE TRIGGER [" + mirror + "_D] ON [dbo].[" + mirror +
             "] AFTER DELETE AS DECLARE @TIPO nvarchar(1) SELECT @TIPO=[_T_TIPO___] FROM "
             "deleted IF @TIPO=' ' " +
             EventInsert(s.event, list, "deleted", 'D');
    case TriggerKind::kInsert:
      return "CREATE TRIGGER [" + mirror + "_I] ON [dbo].[" + mirror +
             "] AFTER INSERT AS DECLARE @TIPO nvarchar(1), @IDX numeric(13,0) "
             "SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted IF @TIPO=' ' " +
             EventInsert(s.event, list, "inserted", 'I') + "IF @TIPO='S' UPDATE [" + mirror +
             "] SET [_T_TIPO___]='S' WHERE [_T_IDX___]=@IDX ";
    case TriggerKind::kUpdate:
      return "CREATE TRIGGER [" + mirror + "_U] ON [dbo].[" + mirror +
             "] AFTER UPDATE AS DECLARE @TIPO nvarchar(1), @IDX numeric(13,0) "
             "SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted IF @TIPO='D' RETURN "
             "IF @TIPO='S' BEGIN  UPDATE [" +
             mirror + "] SET [_T_TIPO___]=' ' WHERE [_T_IDX___]=@IDX  RETURN END IF @TIPO=' ' " +
             EventInsert(s.event, list, "inserted", 'U');
    case TriggerKind::kMaster:
      return "CREATE TRIGGER [" + N(s.event) + "_I] ON [dbo].[" + N(s.event) +
             "] AFTER INSERT AS INSERT INTO [_T_MASTER___] ([_T_FILE___],[_T_PROGR___]) SELECT '" +
             Q(s.mirror) + "',[_T_PROGR___] FROM inserted ";
  }
  return "";
}

}  // namespace

SchemaStatement DropTable(std::string_view table) { return DropTableStatement{Trim(table)}; }

SchemaStatement CreateTable(std::string_view table, std::vector<ColumnDef> columns) {
  return CreateTableStatement{Trim(table), std::move(columns)};
}

SchemaStatement CreateIndex(std::string_view table) { return CreateIndexStatement{Trim(table)}; }

SchemaStatement DropTrigger(std::string_view base, char suffix) {
  return DropTriggerStatement{Trim(base), suffix};
}

SchemaStatement CreateTrigger(TriggerKind kind, std::string_view mirror, std::string_view event,
                              std::vector<ColumnDef> mirror_columns) {
  return CreateTriggerStatement{kind, Trim(mirror), Trim(event), std::move(mirror_columns)};
}

SchemaStatement ContinueIdentity(std::string_view table, int64_t above) {
  return ContinueIdentityStatement{Trim(table), above};
}

std::vector<SchemaStatement> TableStatements(std::string_view table,
                                             const std::vector<ColumnDef>& columns, bool index) {
  std::vector<SchemaStatement> out{DropTable(table), CreateTable(table, columns)};
  if (index) out.push_back(CreateIndex(table));
  return out;
}

std::vector<SchemaStatement> TriggerStatements(std::string_view mirror, std::string_view event,
                                               const std::vector<ColumnDef>& mirror_columns) {
  return {DropTrigger(mirror, 'D'),
          DropTrigger(mirror, 'I'),
          DropTrigger(mirror, 'U'),
          DropTrigger(event, 'I'),
          CreateTrigger(TriggerKind::kDelete, mirror, event, mirror_columns),
          CreateTrigger(TriggerKind::kInsert, mirror, event, mirror_columns),
          CreateTrigger(TriggerKind::kUpdate, mirror, event, mirror_columns),
          CreateTrigger(TriggerKind::kMaster, mirror, event)};
}

std::vector<SchemaStatement> MasterTriggerStatements(std::string_view mirror,
                                                     std::string_view event) {
  return {DropTrigger(event, 'I'), CreateTrigger(TriggerKind::kMaster, mirror, event)};
}

std::vector<SchemaStatement> FileStatements(std::string_view file,
                                            const std::vector<ColumnDef>& data, bool pc_as) {
  const std::vector<ColumnDef> mirror = MirrorColumns(data, pc_as);
  std::vector<SchemaStatement> out = TableStatements(file, mirror, true);
  if (!pc_as) return out;
  const std::string event = Trim(file) + "___";
  for (SchemaStatement& s : TableStatements(event, EventColumns(data), false)) {
    out.push_back(std::move(s));
  }
  for (SchemaStatement& s : TriggerStatements(file, event, mirror)) out.push_back(std::move(s));
  return out;
}

std::string Tsql(const SchemaStatement& statement) {
  return std::visit([](const auto& s) { return TsqlOf(s); }, statement);
}

std::vector<std::string> Render(const SchemaStatement& statement, sql::Dialect dialect) {
  if (dialect == sql::Dialect::kSqlite) return Sqlite(statement);
  if (dialect == sql::Dialect::kPostgres) return Postgres(statement);
  return {Tsql(statement)};
}

std::string TriggerColumnList(const std::vector<ColumnDef>& mirror_columns) {
  std::string list;
  for (size_t i = 0; i + 2 < mirror_columns.size(); ++i) {
    list += ColumnName(mirror_columns[i]) + ",";
  }
  return list;
}

}  // namespace torvan
