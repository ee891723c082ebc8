// The SQLite dialect: Torvan's T-SQL statement set, translated to SQLite.
//
// Used by the SQLite engine and by ODBC connections whose driver is SQLite's. Torvan
// speaks T-SQL for SQL Server; this translator accepts exactly the statements Torvan
// sends and refuses every other text with an error, so nothing is silently ignored:
//   - drop-if-exists of a table or trigger through sysobjects;
//   - CREATE TABLE with [nvarchar] (n), [numeric](p,s), IDENTITY(1, 1), NOT NULL, DEFAULT
//     and the trailing comma before ")"; CREATE INDEX;
//   - the three triggers of a mirror table and the master trigger of an event table;
//   - INSERT INTO [t] (columns) VALUES(values); UPDATE [t] SET [c]=value, ... [WHERE];
//     DELETE FROM [t] [WHERE]; SELECT * | columns | COUNT(*) FROM [t] [WHERE] [ORDER BY].
//     WHERE: column comparisons with a literal, IS [NOT] NULL, AND, OR, NOT, parentheses.
//
// How SQL Server's behaviour is kept:
//   - nvarchar(n): TEXT (declared "NVARCHAR(n)"), with a CHECK on its length; a longer
//     value is refused unless the excess is blanks, which are cut as SQL Server does.
//   - numeric(p,0) with p <= 18: INTEGER (declared "NUMERIC(p,0)"), exact.
//   - other numeric(p,s): canonical decimal text (declared "DECIMAL_TEXT(p,s)"), exact
//     to the last digit; values are rounded to the scale and checked against the
//     precision like SQL Server's conversion. Such columns compare with = and <> only.
//   - IDENTITY(1, 1): "INTEGER PRIMARY KEY AUTOINCREMENT", wherever the column stands:
//     numbered from 1, never reused, refused in INSERT column lists and SET clauses.
//   - triggers: row triggers reproducing the markers " ", "S" and "D" of the T-SQL
//     triggers; SQLite runs nested triggers and, with recursive triggers off (the
//     engine's setting), never lets a trigger fire itself, as SQL Server's defaults do.
//     Each row is recorded or not by its own marker (the T-SQL triggers decide a
//     many-row statement by one of its rows; Torvan's statements change rows one by one).
//   - text comparisons in WHERE ignore trailing blanks and ASCII case, like SQL Server's
//     default collation.
//   - index names: SQL Server scopes them to their table, SQLite to the database, so the
//     index [T_X] of table T is named "T/T_X" (no host file name holds a "/").
//
// Literals of INSERT, UPDATE, DELETE and SELECT statements become parameters, so that a
// statement's translation and its prepared form can be reused for every statement of
// the same shape (sql/tsql_lexer.h StatementShape).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "sql/connection.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql {

enum class ColumnKind { kText, kInteger, kDecimal, kIdentity, kOther };

struct ColumnType {
  ColumnKind kind = ColumnKind::kOther;
  int length = 0;     // kText: at most this many characters
  int precision = 0;  // kInteger, kDecimal, kIdentity
  int scale = 0;      // kDecimal
};

// The declared SQLite type of a column made by the dialect, and back. `rowid_alias` is
// true for the one column SQLite reports as an INTEGER primary key.
std::string SqliteDeclaredType(const ColumnType& type);
ColumnType ColumnTypeFromDeclared(std::string_view declared, bool rowid_alias);

struct ColumnInfo {
  std::string name;  // UTF-8, as stored
  ColumnType type;
};

struct TableInfo {
  std::string name;  // UTF-8, as stored
  std::vector<ColumnInfo> columns;
  // The column of that UTF-8 name, ASCII case ignored; nullptr when missing.
  const ColumnInfo* Find(std::string_view name) const;
};

// What the translator knows of the database.
class SchemaSource {
 public:
  virtual ~SchemaSource() = default;
  // The base table of that UTF-8 name (ASCII case ignored) in `*table`, or nullptr when
  // there is none. The pointer stays valid until the schema changes.
  virtual Status FindTable(std::string_view name, const TableInfo** table) = 0;
};

enum class PlanKind {
  kSchema,   // changes the schema; no parameters; may be several SQLite statements
  kExecute,  // one SQLite statement without rows
  kQuery,    // one SQLite statement with rows
};

enum class ParamUse { kAssign, kCompare };

struct ParamSpec {
  ColumnType type;
  std::string column;  // for messages, Windows-1252
  ParamUse use = ParamUse::kAssign;
};

struct OutColumn {
  std::string name;  // Windows-1252
  ColumnType type;
};

struct Plan {
  PlanKind kind = PlanKind::kExecute;
  std::vector<std::string> statements;  // SQLite texts, UTF-8, "?" for parameters
  std::vector<ParamSpec> params;        // one per literal of the T-SQL text, in text order
  std::vector<OutColumn> columns;       // kQuery: the columns of the rows
};

// A parameter value for a prepared SQLite statement.
struct BoundValue {
  enum class Kind { kNull, kInteger, kReal, kText };
  Kind kind = Kind::kNull;
  int64_t integer = 0;
  double real = 0;
  std::string text;  // UTF-8
};

// Translates a tokenized T-SQL statement. On failure `*error` describes the refusal (its
// number is the SQL Server error the statement would have met, or 0 for a statement
// outside the set) and the Status carries the same description.
Status TranslateStatement(const std::vector<Token>& tokens, SchemaSource* schema, Plan* plan,
                          SqlError* error);

// The value of one literal for its parameter: converted, rounded and checked as SQL
// Server converts a value for that column. Fails with `*error` filled.
Status BindLiteral(const ParamSpec& param, const Token& literal, BoundValue* value,
                   SqlError* error);

// The text form of a stored value (UTF-8 text as SQLite gives it) of a column of `type`.
std::string DisplayText(const ColumnType& type, std::string_view stored_utf8);

// SQLite's quoting of an identifier: "name" with '"' doubled.
std::string QuoteIdentifier(std::string_view utf8_name);

inline constexpr char kDialectSource[] = "Torvan SQLite dialect";

}  // namespace torvan::sql
