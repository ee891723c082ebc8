#include "sql/sqlite_storage.h"

#include <cstdlib>

#include "sql/tsql_lexer.h"

namespace torvan::sql {

namespace {

// The CHECK that a text `t` (an SQL expression) is the canonical text of a numeric(p,s)
// value: an optional "-", the integer digits without leading zeros ("0" when there are
// none, at most p - s of them), and with s > 0 a "." followed by exactly s digits; never
// "-0". Only the exact form Torvan stores for a value a double cannot hold must pass it.
std::string CanonicalTextCheck(const std::string& t, int p, int s) {
  const std::string negative_zero = s > 0 ? "-0." + std::string(size_t(s), '0') : "-0";
  const std::string sign_and_digit = "(" + t + " GLOB '[0-9]*' OR " + t + " GLOB '-[0-9]*')";
  const std::string negative = "(" + t + " GLOB '-*')";
  std::string check = sign_and_digit + " AND ";
  if (s == 0) {
    check += "substr(" + t + ",2) NOT GLOB '*[^0-9]*' AND NOT (" + t + " GLOB '0?*' OR " + t +
             " GLOB '-0*') AND length(" + t + ")-" + negative + "<=" + std::to_string(p);
    return check;
  }
  std::string digits;
  for (int i = 0; i < s; ++i) digits += "[0-9]";
  const std::string point = "instr(" + t + ",'.')";
  check += "substr(" + t + ",2) NOT GLOB '*[^0-9.]*' AND " + point + "=length(" + t + ")-" +
           std::to_string(s) + " AND " + t + " GLOB '*." + digits + "' AND NOT (" + t +
           " GLOB '0[0-9]*' OR " + t + " GLOB '-0[0-9]*') AND " + t + "<>'" + negative_zero +
           "' AND (" + point + "-1-" + negative + "<=" + std::to_string(p - s) + " OR " + t +
           " GLOB '0.*' OR " + t + " GLOB '-0.*')";
  return check;
}

// The CHECK of a numeric(p,s) column `q` (quoted): a number (SQLite integer or real) whose
// magnitude stays below 10^(p-s), as SQL Server's numeric(p,s) holds it, or the exact
// digits Torvan keeps as a BLOB of canonical text for a value no double holds.
std::string NumericCheck(const std::string& q, int p, int s) {
  // Not abs(): the lowest 64-bit integer has no absolute value SQLite can hold.
  const std::string bound = "1e" + std::to_string(p - s);
  std::string check = "(typeof(" + q + ") IN ('integer','real') AND " + q + ">-" + bound + " AND " +
                      q + "<" + bound + ")";
  if (p > kDigitsExactInDouble) {
    check += " OR (typeof(" + q + ")='blob' AND " +
             CanonicalTextCheck("CAST(" + q + " AS TEXT)", p, s) + ")";
  }
  return check;
}

}  // namespace

ColumnType NvarcharType(int length) { return {ColumnKind::kText, length, 0, 0}; }

ColumnType NumericType(int precision, int scale) {
  const bool integer = scale == 0 && precision <= kMaxIntegerPrecision;
  return {integer ? ColumnKind::kInteger : ColumnKind::kDecimal, 0, precision, scale};
}

ColumnType IdentityType(int precision) { return {ColumnKind::kIdentity, 0, precision, 0}; }

bool Representable(const ColumnType& type) {
  switch (type.kind) {
    case ColumnKind::kText:
      return type.length >= 1 && type.length <= kMaxNvarchar;
    case ColumnKind::kInteger:
    case ColumnKind::kDecimal:
      return type.precision >= 1 && type.precision <= kMaxPrecision && type.scale >= 0 &&
             type.scale <= type.precision;
    case ColumnKind::kIdentity:
      return type.precision >= 1 && type.precision <= kMaxIntegerPrecision && type.scale == 0;
    case ColumnKind::kOther:
      break;
  }
  return false;
}

std::string SqliteDeclaredType(const ColumnType& type) {
  switch (type.kind) {
    case ColumnKind::kText:
      return "NVARCHAR(" + std::to_string(type.length) + ")";
    case ColumnKind::kInteger:
    case ColumnKind::kDecimal:
      return "NUMERIC(" + std::to_string(type.precision) + "," + std::to_string(type.scale) + ")";
    case ColumnKind::kIdentity:
      return "INTEGER";
    case ColumnKind::kOther:
      break;
  }
  return "";
}

ColumnType ColumnTypeFromDeclared(std::string_view declared, bool rowid_alias) {
  if (rowid_alias) return IdentityType(kMaxIntegerPrecision);
  auto numbers = [&](std::string_view prefix, int* a, int* b) {
    if (declared.size() <= prefix.size() + 1 ||
        !EqualsIgnoreCase(declared.substr(0, prefix.size()), prefix) ||
        declared[prefix.size()] != '(' || declared.back() != ')') {
      return false;
    }
    std::string inner(declared.substr(prefix.size() + 1, declared.size() - prefix.size() - 2));
    char* end = nullptr;
    long x = std::strtol(inner.c_str(), &end, 10);
    long y = 0;
    if (*end == ',') y = std::strtol(end + 1, &end, 10);
    if (*end != '\0' || x < 1 || x > kMaxNvarchar || y < 0 || y > x) return false;
    *a = int(x);
    *b = int(y);
    return true;
  };
  int a = 0, b = 0;
  if (numbers("NVARCHAR", &a, &b)) return NvarcharType(a);
  if (numbers("NUMERIC", &a, &b)) return NumericType(a, b);
  return {};
}

std::string SqliteColumnDefinition(std::string_view name, const ColumnType& type) {
  const std::string q = QuoteIdentifier(name);
  std::string sql = q + " ";
  switch (type.kind) {
    case ColumnKind::kIdentity:
      return sql + "INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL";
    case ColumnKind::kText:
      return sql + SqliteDeclaredType(type) + " NOT NULL DEFAULT ' ' CHECK (length(" + q +
             ") <= " + std::to_string(type.length) + ")";
    case ColumnKind::kInteger:
    case ColumnKind::kDecimal:
      return sql + SqliteDeclaredType(type) + " NOT NULL DEFAULT 0 CONSTRAINT " +
             QuoteIdentifier(std::string(name) + " numeric(" + std::to_string(type.precision) +
                             "," + std::to_string(type.scale) + ")") +
             " CHECK (" + NumericCheck(q, type.precision, type.scale) + ")";
    case ColumnKind::kOther:
      break;
  }
  return sql;
}

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  out += '"';
  return out;
}

std::string QuoteString(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

}  // namespace torvan::sql
