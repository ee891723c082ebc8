#include "sql/sqlite_storage.h"

#include <cstdlib>

#include "sql/tsql_lexer.h"

namespace torvan::sql {

namespace {

// Every decimal of at most this many digits is read into a double and printed back with
// its scale unchanged (DBL_DIG).
constexpr int kDigitsExactInDouble = 15;

// The CHECK of a decimal column `q` (quoted): the canonical text of a numeric(p,s) value.
// An optional "-", the integer digits without leading zeros ("0" when there are none, at
// most p - s of them), and with s > 0 a "." followed by exactly s digits; never "-0".
std::string CanonicalDecimalCheck(const std::string& q, int p, int s) {
  const std::string negative_zero = s > 0 ? "-0." + std::string(size_t(s), '0') : "-0";
  if (s > 0 && p <= kDigitsExactInDouble) {
    // Short decimals: the text printed back from its value is the canonical text, and
    // checking that costs far less than matching the text's shape.
    return "typeof(" + q + ")='text' AND " + q + "=printf('%." + std::to_string(s) + "f'," + q +
           ") AND " + q + "<>'" + negative_zero + "' AND abs(" + q + ")<1e" + std::to_string(p - s);
  }
  const std::string sign_and_digit = "(" + q + " GLOB '[0-9]*' OR " + q + " GLOB '-[0-9]*')";
  const std::string negative = "(" + q + " GLOB '-*')";
  std::string check = "typeof(" + q + ")='text' AND " + sign_and_digit + " AND ";
  if (s == 0) {
    check += "substr(" + q + ",2) NOT GLOB '*[^0-9]*' AND NOT (" + q + " GLOB '0?*' OR " + q +
             " GLOB '-0*') AND length(" + q + ")-" + negative + "<=" + std::to_string(p);
    return check;
  }
  std::string digits;
  for (int i = 0; i < s; ++i) digits += "[0-9]";
  const std::string point = "instr(" + q + ",'.')";
  check += "substr(" + q + ",2) NOT GLOB '*[^0-9.]*' AND " + point + "=length(" + q + ")-" +
           std::to_string(s) + " AND " + q + " GLOB '*." + digits + "' AND NOT (" + q +
           " GLOB '0[0-9]*' OR " + q + " GLOB '-0[0-9]*') AND " + q + "<>'" + negative_zero +
           "' AND (" + point + "-1-" + negative + "<=" + std::to_string(p - s) + " OR " + q +
           " GLOB '0.*' OR " + q + " GLOB '-0.*')";
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
      return "NUMERIC(" + std::to_string(type.precision) + ",0)";
    case ColumnKind::kDecimal:
      return "DECIMAL_TEXT(" + std::to_string(type.precision) + "," + std::to_string(type.scale) +
             ")";
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
  if (numbers("DECIMAL_TEXT", &a, &b)) return {ColumnKind::kDecimal, 0, a, b};
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
      return sql + SqliteDeclaredType(type) + " NOT NULL DEFAULT 0";
    case ColumnKind::kDecimal: {
      std::string zero = type.scale > 0 ? "0." + std::string(size_t(type.scale), '0') : "0";
      const std::string declared = SqliteDeclaredType(type);
      return sql + declared + " NOT NULL DEFAULT '" + zero + "' CONSTRAINT " +
             QuoteIdentifier(std::string(name) + " numeric(" + std::to_string(type.precision) +
                             "," + std::to_string(type.scale) + ")") +
             " CHECK (" + CanonicalDecimalCheck(q, type.precision, type.scale) + ")";
    }
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
