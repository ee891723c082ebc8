#include "replication/host_statements.h"

#include "core/text.h"
#include "hostlink/field.h"
#include "sql/decimal.h"

namespace torvan {

namespace {

constexpr char kIndexName[] = "\xA7_T_IDX___";  // "§_T_IDX___"

std::string Quoted(std::string_view value) {
  std::string out = "'";
  for (char c : TrimRight(value)) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += "'";
  return out;
}

std::string ValueText(const HostValue& v) { return v.text ? Quoted(v.value) : Trim(v.value); }

std::string Target(std::string_view library, std::string_view file) {
  return std::string(library) + "/" + std::string(file);
}

}  // namespace

Status HostNumberText(const CampoEntry& field, std::string_view sql_value, std::string* text) {
  const std::optional<sql::Decimal> value = sql::ParseDecimal(sql_value);
  if (!value) return Status::InvalidArgument("non \xE8 un numero");
  const std::string rounded = sql::DecimalText(*value, std::max(field.Decimali, 0));
  // The host's own encoder knows what each layout holds; the tables matter for text only.
  static const hostlink::CharTables kNoTables;
  const char type = hostlink::TypeLetter(field.Tipo);
  std::string bytes;
  if (!hostlink::Field_Encode(kNoTables, type, rounded, field.Byte, field.Lunghezza, field.Decimali,
                              &bytes)
           .ok()) {
    return Status::InvalidArgument("il campo dell'host (tipo " + field.Tipo + ", " +
                                   std::to_string(field.Byte) + " byte, " +
                                   std::to_string(field.Lunghezza) + " cifre, " +
                                   std::to_string(field.Decimali) + " decimali) non lo contiene");
  }
  *text = rounded;
  return Status::Ok();
}

std::string HostWhere(int64_t rrn, int64_t idx) {
  return rrn != 0 ? "WHERE RRN(a)=" + std::to_string(rrn)
                  : std::string("WHERE ") + kIndexName + "=" + std::to_string(idx);
}

std::string HostInsertStatement(std::string_view library, std::string_view file,
                                const std::vector<HostValue>& values, int64_t idx) {
  std::string columns, list;
  for (const HostValue& v : values) {
    columns += v.name + ",";
    list += ValueText(v) + ", ";
  }
  return "INSERT INTO " + Target(library, file) + " (" + columns + kIndexName + ") VALUES(" + list +
         std::to_string(idx) + ")";
}

std::string HostUpdateStatement(std::string_view library, std::string_view file,
                                const std::vector<HostValue>& values, int64_t idx,
                                std::string_view where) {
  std::string assignments;
  for (const HostValue& v : values) assignments += v.name + "=" + ValueText(v) + ", ";
  return " UPDATE " + Target(library, file) + " a SET " + assignments + kIndexName + "=" +
         std::to_string(idx) + " " + std::string(where);
}

std::string HostDeleteStatement(std::string_view library, std::string_view file,
                                std::string_view where) {
  return " DELETE FROM " + Target(library, file) + " a " + std::string(where);
}

}  // namespace torvan
