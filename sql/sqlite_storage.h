// How SQL Server's column types are kept in a SQLite database.
//
// The SQLite engine stands in for SQL Server. Torvan's schema objects are rendered for it
// directly (schema/objects.h) and its row statements are translated (sql/sqlite_dialect.h);
// the two meet here: the declared type of every column says which SQL Server type it
// stands for, and the translator reads it back from the database to bind, compare and show
// values the way SQL Server would.
//   - nvarchar(n): TEXT declared "NVARCHAR(n)", with a CHECK on its length.
//   - numeric(p,0) with p <= 18: INTEGER declared "NUMERIC(p,0)", exact.
//   - other numeric(p,s): the canonical decimal text of sql/decimal.h, declared
//     "DECIMAL_TEXT(p,s)" ("TEXT" in the name gives TEXT affinity, so SQLite keeps the
//     digits as written). A CHECK admits only the canonical text of a numeric(p,s) value:
//     every stored value is exact to the last digit, has exactly the scale, and sorts and
//     compares by value through the translator's expressions (sign, length, text). Other
//     programs writing to the file must write that form ("12.50", not 12.5).
//   - IDENTITY(1, 1): "INTEGER PRIMARY KEY AUTOINCREMENT", numbered from 1, never reused.
//
// Names and texts here are Windows-1252, like every text inside Torvan; the connection
// converts a statement to UTF-8 when it sends it.
#pragma once

#include <string>
#include <string_view>

namespace torvan::sql {

// The version of Torvan's object layout in SQLite databases, kept in PRAGMA user_version.
// A database built by another layout is refused when it is opened. Raise it whenever the
// rendering of tables, triggers or column types changes.
inline constexpr int kLayoutVersion = 1;

inline constexpr int kMaxNvarchar = 4000;        // nvarchar(1..4000)
inline constexpr int kMaxPrecision = 38;         // numeric(1..38, 0..p)
inline constexpr int kMaxIntegerPrecision = 18;  // 10^18 - 1 < 2^63: kept as an INTEGER

enum class ColumnKind { kText, kInteger, kDecimal, kIdentity, kOther };

struct ColumnType {
  ColumnKind kind = ColumnKind::kOther;
  int length = 0;     // kText: at most this many characters
  int precision = 0;  // kInteger, kDecimal, kIdentity
  int scale = 0;      // kDecimal
};

ColumnType NvarcharType(int length);
// numeric(p,s): kInteger for s == 0 and p <= 18, else kDecimal.
ColumnType NumericType(int precision, int scale);
ColumnType IdentityType(int precision);

// Whether SQLite can keep the type as SQL Server does: nvarchar(1..4000), numeric(p,s)
// with 1 <= p <= 38 and 0 <= s <= p, identities of at most 18 digits.
bool Representable(const ColumnType& type);

// The declared SQLite type of a column, and back. `rowid_alias` is true for the one column
// SQLite reports as an INTEGER primary key (an identity).
std::string SqliteDeclaredType(const ColumnType& type);
ColumnType ColumnTypeFromDeclared(std::string_view declared, bool rowid_alias);

// The definition of column `name` in a SQLite CREATE TABLE: the quoted name, the declared
// type, NOT NULL, the default of the type (' ' for text, zero for numbers, none for an
// identity) and its CHECK.
std::string SqliteColumnDefinition(std::string_view name, const ColumnType& type);

// SQLite's quoting: "name" with '"' doubled; 'text' with "'" doubled.
std::string QuoteIdentifier(std::string_view name);
std::string QuoteString(std::string_view text);

}  // namespace torvan::sql
