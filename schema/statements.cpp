#include "schema/statements.h"

#include "core/text.h"

namespace torvan {

namespace {

constexpr char kExists[] = "IF EXISTS (SELECT name FROM sysobjects WHERE name = '";

std::string N(std::string_view name) { return BracketName(Trim(name)); }
std::string Q(std::string_view name) { return QuoteValue(Trim(name)); }
// The column's name as written in statements: its Nome_Sql, with a "]" inside doubled.
std::string ColumnName(const ColumnDef& c) { return "[" + N(c.Nome) + "]"; }

// The type fragment written right after a column's name.
std::string TypeFragment(const ColumnDef& c) {
  if (c.Tipo == "A") return " [nvarchar] (" + std::to_string(c.Byte) + ") NOT NULL DEFAULT ' ',";
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

}  // namespace

std::string BracketName(std::string_view name) {
  std::string out;
  for (char c : name) {
    out += c;
    if (c == ']') out += ']';
  }
  return out;
}

std::string QuoteValue(std::string_view value) {
  std::string out;
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

ColumnDef MakeColumn(std::string_view name, std::string_view tipo, int32_t byte, int32_t lunghezza,
                     int32_t decimali) {
  ColumnDef c;
  c.Nome = std::string(name);
  c.Nome_Sql = "[" + std::string(name) + "]";
  c.Tipo = std::string(tipo);
  c.Byte = byte;
  c.Lunghezza = lunghezza;
  c.Decimali = decimali;
  return c;
}

std::vector<ColumnDef> DataColumns(const std::vector<Campo_Rec>& fields) {
  std::vector<ColumnDef> cols;
  for (const Campo_Rec& f : fields) {
    std::string name = Trim(f.Nome);
    if (f.Escluso != " " || name == kCampoIdx) continue;
    ColumnDef c = MakeColumn(name, f.Tipo, f.Byte, f.Lunghezza, f.Decimali);
    c.Posizione = f.Posizione;
    cols.push_back(c);
  }
  return cols;
}

std::vector<ColumnDef> MirrorColumns(std::vector<ColumnDef> cols, bool pc_as) {
  cols.push_back(MakeColumn("_T_RRN___", "P", 0, 9, 0));
  if (pc_as) {
    cols.push_back(MakeColumn("_T_IDX___", "x", 0, 13, 0));
    cols.push_back(MakeColumn("_T_TIPO___", "A", 1, 0, 0));
  }
  return cols;
}

std::vector<ColumnDef> EventColumns(std::vector<ColumnDef> cols) {
  cols.push_back(MakeColumn("_T_RRN___", "P", 0, 9, 0));
  cols.push_back(MakeColumn("_T_IDX___", "P", 0, 13, 0));
  cols.push_back(MakeColumn("_T_TIPO___", "A", 1, 0, 0));
  cols.push_back(MakeColumn("_T_EVENTO___", "A", 1, 0, 0));
  cols.push_back(MakeColumn("_T_PROGR___", "x", 0, 13, 0));
  return cols;
}

std::vector<ColumnDef> MasterColumns() {
  return {MakeColumn("_T_RRN___", "x", 0, 13, 0), MakeColumn("_T_FILE___", "A", 20, 0, 0),
          MakeColumn("_T_PROGR___", "P", 0, 13, 0)};
}

std::string DropTableIfExists(std::string_view table) {
  return kExists + Q(table) + "' AND type = 'U')  DROP TABLE [" + N(table) + "]";
}

std::string CreateTable(std::string_view table, const std::vector<ColumnDef>& columns) {
  std::string text = "CREATE TABLE [dbo].[" + N(table) + "] (";
  for (const ColumnDef& c : columns) text += ColumnName(c) + TypeFragment(c);
  // The last character (the comma of an "A"/"x" fragment, the trailing blank of a numeric
  // one) becomes the closing parenthesis.
  text.back() = ')';
  return text;
}

std::string CreateIndex(std::string_view table) {
  return "CREATE INDEX [" + N(table) + "_X] ON [dbo].[" + N(table) + "]([_T_RRN___])";
}

std::string TriggerColumnList(const std::vector<ColumnDef>& mirror_columns) {
  std::string list;
  for (size_t i = 0; i + 2 < mirror_columns.size(); ++i) {
    list += ColumnName(mirror_columns[i]) + ",";
  }
  return list;
}

std::string DropTriggerIfExists(std::string_view base, char suffix) {
  std::string s(1, suffix);
  return kExists + Q(base) + "_" + s + "' AND type = 'TR')  DROP TRIGGER [" + N(base) + "_" + s +
         "]";
}

std::string CreateDeleteTrigger(std::string_view mirror, std::string_view event,
                                std::string_view list) {
  return "CREATE TRIGGER [" + N(mirror) + "_D] ON [dbo].[" + N(mirror) +
         "] AFTER DELETE AS DECLARE @TIPO nvarchar(1) SELECT @TIPO=[_T_TIPO___] FROM deleted "
         "IF @TIPO=' ' " +
         EventInsert(event, list, "deleted", 'D');
}

std::string CreateInsertTrigger(std::string_view mirror, std::string_view event,
                                std::string_view list) {
  return "CREATE TRIGGER [" + N(mirror) + "_I] ON [dbo].[" + N(mirror) +
         "] AFTER INSERT AS DECLARE @TIPO nvarchar(1), @IDX numeric(13,0) "
         "SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted IF @TIPO=' ' " +
         EventInsert(event, list, "inserted", 'I') + "IF @TIPO='S' UPDATE [" + N(mirror) +
         "] SET [_T_TIPO___]='S' WHERE [_T_IDX___]=@IDX ";
}

std::string CreateUpdateTrigger(std::string_view mirror, std::string_view event,
                                std::string_view list) {
  return "CREATE TRIGGER [" + N(mirror) + "_U] ON [dbo].[" + N(mirror) +
         "] AFTER UPDATE AS DECLARE @TIPO nvarchar(1), @IDX numeric(13,0) "
         "SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted IF @TIPO='D' RETURN "
         "IF @TIPO='S' BEGIN  UPDATE [" +
         N(mirror) + "] SET [_T_TIPO___]=' ' WHERE [_T_IDX___]=@IDX  RETURN END IF @TIPO=' ' " +
         EventInsert(event, list, "inserted", 'U');
}

std::string CreateMasterTrigger(std::string_view mirror, std::string_view event) {
  return "CREATE TRIGGER [" + N(event) + "_I] ON [dbo].[" + N(event) +
         "] AFTER INSERT AS INSERT INTO [_T_MASTER___] ([_T_FILE___],[_T_PROGR___]) SELECT '" +
         Q(mirror) + "',[_T_PROGR___] FROM inserted ";
}

std::string CountRows(std::string_view table) { return "select count(*) from  [" + N(table) + "]"; }

std::string WhereIdxOrRrn(int64_t idx, int64_t rrn) {
  if (idx != 0) {
    return "WHERE [_T_IDX___]=" + std::to_string(idx) + " or [_T_RRN___]=" + std::to_string(rrn);
  }
  return "WHERE [_T_RRN___]=" + std::to_string(rrn);
}

std::string MarkRowsDeleted(std::string_view file, std::string_view where) {
  return "UPDATE [" + N(file) + "] SET [_T_TIPO___]='D' " + std::string(where);
}

std::string DeleteRows(std::string_view file, std::string_view where) {
  return "DELETE FROM [" + N(file) + "] " + std::string(where);
}

std::string SelectMaster() { return "SELECT * FROM [_T_MASTER___] ORDER BY [_T_RRN___]"; }

std::string SelectEvent(std::string_view file, int64_t progr) {
  return "SELECT * FROM [" + N(file) + "___] WHERE [_T_PROGR___]=" + std::to_string(progr);
}

std::string DeleteEvent(std::string_view file, int64_t progr) {
  return "DELETE FROM [" + N(file) + "___] WHERE [_T_PROGR___]=" + std::to_string(progr);
}

std::string DeleteMaster(int64_t master_rrn) {
  return "DELETE FROM [_T_MASTER___] WHERE [_T_RRN___]=" + std::to_string(master_rrn);
}

}  // namespace torvan
