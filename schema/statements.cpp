#include "schema/statements.h"

#include "core/text.h"

namespace torvan {

namespace {

std::string N(std::string_view name) { return BracketName(Trim(name)); }

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

std::string CountRows(std::string_view table) { return "select count(*) from  [" + N(table) + "]"; }

std::string LastIdentityQuery(std::string_view table) {
  return "SELECT IDENT_CURRENT('" + QuoteValue(Trim(table)) + "')";
}

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

std::string SelectEvents(std::string_view file, int64_t first, int64_t last) {
  return "SELECT * FROM [" + N(file) + "___] WHERE [_T_PROGR___]>=" + std::to_string(first) +
         " AND [_T_PROGR___]<=" + std::to_string(last);
}

std::string DeleteEvent(std::string_view file, int64_t progr) {
  return "DELETE FROM [" + N(file) + "___] WHERE [_T_PROGR___]=" + std::to_string(progr);
}

std::string DeleteMaster(int64_t master_rrn) {
  return "DELETE FROM [_T_MASTER___] WHERE [_T_RRN___]=" + std::to_string(master_rrn);
}

}  // namespace torvan
