#include "schema/columns.h"

#include <set>

#include "core/text.h"
#include "hostlink/field.h"

namespace torvan {

namespace {

std::string Field(const ColumnDef& c) { return "il campo " + Trim(c.Nome); }

}  // namespace

ColumnDef MakeColumn(std::string_view name, std::string_view tipo, int32_t byte, int32_t lunghezza,
                     int32_t decimali) {
  ColumnDef c;
  c.Nome = std::string(name);
  c.Nome_Sql = NomeSql(name);
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

sql::ColumnType SqlType(const ColumnDef& c) {
  if (hostlink::IsTextField(c.Tipo)) return sql::NvarcharType(c.Byte);
  if (c.Tipo == "x") {
    sql::ColumnType t = sql::IdentityType(c.Lunghezza);
    t.scale = c.Decimali;  // kept so that a scale is seen and refused
    return t;
  }
  return sql::NumericType(c.Lunghezza, c.Decimali);
}

std::string LayoutFault(const std::vector<ColumnDef>& columns) {
  if (columns.empty()) return "nessun campo";
  std::set<std::string> names;
  for (const ColumnDef& c : columns) {
    const std::string name = Trim(c.Nome);
    if (name.empty()) return "un campo non ha nome";
    if (!names.insert(UpperCp1252(name)).second) return Field(c) + " compare due volte";
    const sql::ColumnType type = SqlType(c);
    if (sql::Representable(type)) continue;
    switch (type.kind) {
      case sql::ColumnKind::kText:
        return Field(c) + " \xE8 lungo " + std::to_string(c.Byte) + " caratteri (da 1 a " +
               std::to_string(sql::kMaxNvarchar) + ")";
      case sql::ColumnKind::kIdentity:
        return Field(c) + ", un contatore, ha " + std::to_string(c.Lunghezza) + " cifre e " +
               std::to_string(c.Decimali) + " decimali (da 1 a " +
               std::to_string(sql::kMaxIntegerPrecision) + " cifre, nessun decimale)";
      default:
        if (c.Lunghezza < 1 || c.Lunghezza > sql::kMaxPrecision) {
          return Field(c) + " ha " + std::to_string(c.Lunghezza) + " cifre (da 1 a " +
                 std::to_string(sql::kMaxPrecision) + ")";
        }
        return Field(c) + " ha " + std::to_string(c.Decimali) + " decimali su " +
               std::to_string(c.Lunghezza) + " cifre";
    }
  }
  return "";
}

std::string DataLayoutFault(const std::vector<ColumnDef>& data) {
  for (const ColumnDef& c : data) {
    if (c.Tipo != "A" && c.Tipo != "S" && c.Tipo != "P" && c.Tipo != "B") {
      return Field(c) + " ha il tipo \"" + c.Tipo + "\" (A, S, P o B)";
    }
  }
  return LayoutFault(data);
}

}  // namespace torvan
