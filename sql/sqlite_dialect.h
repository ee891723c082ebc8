// The SQLite dialect: the row statements of replication, translated from T-SQL to SQLite.
//
// Used by the SQLite engine and by ODBC connections whose driver is SQLite's. Torvan's
// row statements are T-SQL for SQL Server (the replication steps read and write mirror,
// event and master tables with them); this translator accepts exactly that set and refuses
// every other text with an error, so nothing is silently ignored:
//   - INSERT INTO [t] (columns) VALUES(values); UPDATE [t] SET [c]=value, ... [WHERE];
//     DELETE FROM [t] [WHERE]; SELECT * | columns | COUNT(*) FROM [t] [WHERE] [ORDER BY];
//     SELECT IDENT_CURRENT('t').
//     WHERE: column comparisons with a literal, IS [NOT] NULL, AND, OR, NOT, parentheses.
// Schema objects are not translated: they are rendered for SQLite directly
// (schema/objects.h) and run with Connection::ExecuteNative.
//
// How SQL Server's behaviour is kept (column types: sql/sqlite_storage.h):
//   - values are converted for their column as SQL Server converts them: texts longer
//     than nvarchar(n) are refused unless the excess is blanks, which are cut; numbers are
//     rounded to the scale and checked against the precision; identities are refused in
//     INSERT column lists and SET clauses.
//   - numeric columns hold SQLite numbers (sql/sqlite_storage.h): values are bound as
//     INTEGER, as REAL when a double holds every digit, else as the BLOB of their exact
//     text; comparisons and ORDER BY go by value, a BLOB by its nearest double.
//   - text comparisons in WHERE ignore trailing blanks and ASCII case, like SQL Server's
//     default collation; ORDER BY on text ignores ASCII case.
//
// Literals become parameters, so that a statement's translation and its prepared form can
// be reused for every statement of the same shape (sql/tsql_lexer.h StatementShape).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"
#include "sql/connection.h"
#include "sql/server_errors.h"  // kDialectSource, the errors the dialect raises
#include "sql/sqlite_storage.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql {

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
  kExecute,  // one SQLite statement without rows
  kQuery,    // one SQLite statement with rows
};

enum class ParamUse {
  kAssign,   // the value a column receives
  kCompare,  // compared with the column
};

struct ParamSpec {
  ColumnType type;
  std::string column;  // for messages, Windows-1252
  ParamUse use = ParamUse::kAssign;
  size_t literal = 0;  // which literal of the T-SQL text, counted from 0 in text order
};

struct OutColumn {
  std::string name;  // Windows-1252
  ColumnType type;
};

struct Plan {
  PlanKind kind = PlanKind::kExecute;
  std::string statement;           // the SQLite text, UTF-8, "?" for parameters
  std::vector<ParamSpec> params;   // one per "?" in order; a literal may feed several
  std::vector<OutColumn> columns;  // kQuery: the columns of the rows
};

// A parameter value for a prepared SQLite statement.
struct BoundValue {
  enum class Kind { kNull, kInteger, kReal, kText, kBlob };
  Kind kind = Kind::kNull;
  int64_t integer = 0;
  double real = 0;
  std::string text;  // kText: UTF-8; kBlob: the bytes
};

// Translates a tokenized T-SQL row statement. On failure `*error` describes the refusal
// (its number is the SQL Server error the statement would have met, or 0 for a statement
// outside the set) and the Status carries the same description.
Status TranslateStatement(const std::vector<Token>& tokens, SchemaSource* schema, Plan* plan,
                          SqlError* error);

// The value of one literal for its parameter: converted, rounded and checked as SQL
// Server converts a value for that column. Fails with `*error` filled.
Status BindLiteral(const ParamSpec& param, const Token& literal, BoundValue* value,
                   SqlError* error);

// The value a numeric column stores for a canonical decimal text (sql/decimal.h): an
// INTEGER when it is whole and fits 64 bits, a REAL when it has at most
// kDigitsExactInDouble significant digits, else the BLOB of the text.
BoundValue StoredNumber(std::string_view canonical);

// The text form of a stored value (UTF-8 text as SQLite gives it) of a column of `type`.
std::string DisplayText(const ColumnType& type, std::string_view stored_utf8);

}  // namespace torvan::sql
