// How SQL Server's column types are kept in a SQLite database.
//
// The SQLite engine stands in for SQL Server. Torvan's schema objects are rendered for it
// directly (schema/objects.h) and its row statements are translated (sql/sqlite_dialect.h);
// the two meet here: the declared type of every column says which SQL Server type it
// stands for, and the translator reads it back from the database to bind, compare and show
// values the way SQL Server would.
//   - nvarchar(n): TEXT declared "NVARCHAR(n)", with a CHECK on its length.
//   - numeric(p,s): declared "NUMERIC(p,s)", so the column has SQLite's NUMERIC affinity
//     and holds SQLite numbers, as every program using the file expects: 12.5, 20 and
//     '12.5' written by the sqlite3 shell or Python are taken as numbers, and comparisons,
//     ORDER BY, SUM and indexes work by value in plain SQL. A CHECK named "<column>
//     numeric(p,s)" takes any number whose magnitude stays below 10^(p-s), as SQL Server
//     refuses a value beyond the precision; a text that is no number is refused. Torvan
//     writes a value as an INTEGER when it is whole and fits 64 bits, else as a REAL when
//     a double holds every digit of it (15 significant digits), and else (only values of
//     more than 15 significant digits, in columns of more than 15 digits) as a BLOB
//     holding its canonical decimal text (sql/decimal.h), which affinity leaves alone: so
//     every digit the host sent comes back. Such a BLOB sorts after every number and
//     compares with numbers as the bigger; CAST(column AS REAL) gives its value to a
//     double's precision, CAST(column AS TEXT) its exact digits. What Torvan reads back is
//     the value at the column's scale, rounded half away from zero.
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
// rendering of tables, triggers or column types changes. 1: decimals as canonical text
// (DECIMAL_TEXT); 2: decimals as SQLite numbers (NUMERIC).
inline constexpr int kLayoutVersion = 2;

inline constexpr int kMaxNvarchar = 4000;        // nvarchar(1..4000)
inline constexpr int kMaxPrecision = 38;         // numeric(1..38, 0..p)
inline constexpr int kMaxIntegerPrecision = 18;  // 10^18 - 1 < 2^63: kept as an INTEGER
// Every decimal of at most this many significant digits goes to a double and back
// unchanged (DBL_DIG).
inline constexpr int kDigitsExactInDouble = 15;

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
