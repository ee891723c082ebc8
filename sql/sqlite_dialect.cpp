// The parser of Torvan's T-SQL row statements and their rendering for SQLite: long because
// the grammar is, each of its rules a short function.
#include "sql/sqlite_dialect.h"

#include <utility>

#include "core/text.h"
#include "sql/server_errors.h"

namespace torvan::sql {

namespace {

namespace se = server_error;

// How deep NOT and parentheses may nest in a WHERE clause. Torvan's statements never nest
// them; the parser descends once per level, so a text nesting them without end must be
// refused before it takes the stack (and SQLite refuses expressions deeper than 1000).
constexpr int kMaxNesting = 64;

// A numeric column's value for comparing and ordering: the column itself, or the nearest
// double of the exact digits a BLOB keeps.
std::string ByValue(const std::string& q) {
  return "(CASE WHEN typeof(" + q + ")='blob' THEN CAST(" + q + " AS REAL) ELSE " + q + " END)";
}

std::string Describe(const Token& t) {
  switch (t.kind) {
    case TokenKind::kIdentifier:
      return "[" + t.text + "]";
    case TokenKind::kString:
      return "'" + t.text + "'";
    default:
      return t.text;
  }
}

class Parser {
 public:
  Parser(const std::vector<Token>& tokens, SchemaSource* schema, Plan* plan, SqlError* error)
      : t_(tokens), schema_(schema), plan_(plan), error_(error) {}

  Status Run();

 private:
  const Token* Peek(size_t ahead = 0) const {
    return pos_ + ahead < t_.size() ? &t_[pos_ + ahead] : nullptr;
  }
  bool AcceptWord(std::string_view w) {
    if (pos_ < t_.size() && t_[pos_].IsWord(w)) return ++pos_, true;
    return false;
  }
  bool AcceptPunct(std::string_view p) {
    if (pos_ < t_.size() && t_[pos_].IsPunct(p)) return ++pos_, true;
    return false;
  }
  Status Syntax() {
    std::string near = pos_ < t_.size() ? Describe(t_[pos_]) : "end of statement";
    return DialectRefusal(error_, se::kIncorrectSyntax, IncorrectSyntaxText(near));
  }
  Status ExpectWord(std::string_view w) { return AcceptWord(w) ? Status::Ok() : Syntax(); }
  Status ExpectPunct(std::string_view p) { return AcceptPunct(p) ? Status::Ok() : Syntax(); }
  Status ExpectEnd() { return pos_ == t_.size() ? Status::Ok() : Syntax(); }
  Status NotInSet(std::string_view why) {
    return DialectRefusal(
        error_, se::kNotInSet,
        "Statement not supported by the SQLite engine (" + std::string(why) + ")");
  }

  Status Name(std::string* name);
  Status TableName(std::string* name);
  Status Resolve(const std::string& name, const TableInfo** table);
  Status Column(const TableInfo& table, const ColumnInfo** column);
  // A parameter for the literal just consumed; `times` markers "?" are bound to it.
  void AddParam(const ColumnInfo& column, ParamUse use, int times = 1);

  Status Insert();
  Status Update();
  Status Delete();
  Status Select();
  Status IdentCurrent();
  Status Where(const TableInfo& table, std::string* sql);
  Status Condition(const TableInfo& table, std::string* sql);
  Status Conjunction(const TableInfo& table, std::string* sql);
  Status Negation(const TableInfo& table, std::string* sql);
  Status Comparison(const TableInfo& table, std::string* sql);
  Status Value(const ColumnInfo& column, std::string* sql);
  Status OrderBy(const TableInfo& table, std::string* sql);

  const std::vector<Token>& t_;
  size_t pos_ = 0;
  SchemaSource* schema_;
  Plan* plan_;
  SqlError* error_;
  size_t literals_ = 0;  // literals consumed so far
  int nesting_ = 0;      // NOT and "(" open around the condition being read
};

Status Parser::Run() {
  plan_->statement.clear();
  plan_->params.clear();
  plan_->columns.clear();
  if (t_.empty()) return NotInSet("empty statement");
  const Token& first = t_[0];
  if (first.IsWord("IF") || first.IsWord("CREATE") || first.IsWord("DROP")) {
    return NotInSet("schema objects are rendered for SQLite, not translated");
  }
  if (first.IsWord("INSERT")) return Insert();
  if (first.IsWord("UPDATE")) return Update();
  if (first.IsWord("DELETE")) return Delete();
  if (first.IsWord("SELECT")) return Select();
  return NotInSet("not one of Torvan's statements");
}

Status Parser::Name(std::string* name) {
  const Token* t = Peek();
  if (!t || (t->kind != TokenKind::kIdentifier && t->kind != TokenKind::kWord)) return Syntax();
  *name = t->text;
  ++pos_;
  return Status::Ok();
}

// [name] or [dbo].[name]: every object of Torvan's lives in the schema dbo.
Status Parser::TableName(std::string* name) {
  Status s = Name(name);
  if (!s.ok()) return s;
  if (AcceptPunct(".")) {
    if (!EqualsIgnoreCase(*name, "dbo")) return NotInSet("schema other than dbo");
    return Name(name);
  }
  return Status::Ok();
}

Status Parser::Resolve(const std::string& name, const TableInfo** table) {
  Status s = schema_->FindTable(Cp1252ToUtf8(name), table);
  if (!s.ok()) {
    return DialectRefusal(error_, se::kSchemaUnreadable, "Cannot read the schema: " + s.message());
  }
  if (*table == nullptr) {
    return DialectRefusal(error_, se::kInvalidObject, InvalidObjectText(name));
  }
  return Status::Ok();
}

Status Parser::Column(const TableInfo& table, const ColumnInfo** column) {
  std::string name;
  Status s = Name(&name);
  if (!s.ok()) return s;
  *column = table.Find(Cp1252ToUtf8(name));
  if (*column == nullptr) {
    return DialectRefusal(error_, se::kInvalidColumn, InvalidColumnText(name));
  }
  return Status::Ok();
}

void Parser::AddParam(const ColumnInfo& column, ParamUse use, int times) {
  for (int i = 0; i < times; ++i) {
    plan_->params.push_back({column.type, Utf8ToCp1252(column.name), use, literals_});
  }
  ++literals_;
}

// ---- rows -----------------------------------------------------------------------------

Status Parser::Value(const ColumnInfo& column, std::string* sql) {
  const Token* t = Peek();
  if (t && t->IsWord("NULL")) {
    ++pos_;
    *sql += "NULL";
    return Status::Ok();
  }
  if (!t || !t->IsLiteral()) return Syntax();
  ++pos_;
  AddParam(column, ParamUse::kAssign);
  *sql += "?";
  return Status::Ok();
}

Status Parser::Insert() {
  pos_ = 1;
  AcceptWord("INTO");
  std::string name;
  Status s = TableName(&name);
  if (!s.ok()) return s;
  const TableInfo* table = nullptr;
  if (!(s = Resolve(name, &table)).ok()) return s;
  if (!AcceptPunct("(")) return NotInSet("INSERT without a column list");
  std::vector<const ColumnInfo*> columns;
  do {
    const ColumnInfo* column = nullptr;
    if (!(s = Column(*table, &column)).ok()) return s;
    for (const ColumnInfo* c : columns) {
      if (c == column) {
        return DialectRefusal(error_, se::kColumnTwice,
                              ColumnTwiceText(Utf8ToCp1252(column->name)));
      }
    }
    if (column->type.kind == ColumnKind::kIdentity) {
      return DialectRefusal(error_, se::kIdentityInsert, IdentityInsertText(name));
    }
    columns.push_back(column);
  } while (AcceptPunct(","));
  if (!(s = ExpectPunct(")")).ok()) return s;
  if (!(s = ExpectWord("VALUES")).ok()) return s;
  if (!(s = ExpectPunct("(")).ok()) return s;
  std::string sql = "INSERT INTO " + QuoteIdentifier(table->name) + " (";
  std::string values;
  size_t n = 0;
  do {
    if (n == columns.size()) {
      return DialectRefusal(error_, se::kMoreValuesThanColumns, kMoreValuesThanColumnsText);
    }
    if (n > 0) {
      sql += ",";
      values += ",";
    }
    sql += QuoteIdentifier(columns[n]->name);
    if (!(s = Value(*columns[n], &values)).ok()) return s;
    ++n;
  } while (AcceptPunct(","));
  if (n < columns.size()) {
    return DialectRefusal(error_, se::kMoreColumnsThanValues, kMoreColumnsThanValuesText);
  }
  if (!(s = ExpectPunct(")")).ok()) return s;
  if (!(s = ExpectEnd()).ok()) return s;
  plan_->kind = PlanKind::kExecute;
  plan_->statement = sql + ") VALUES (" + values + ")";
  return Status::Ok();
}

Status Parser::Update() {
  pos_ = 1;
  std::string name;
  Status s = TableName(&name);
  if (!s.ok()) return s;
  const TableInfo* table = nullptr;
  if (!(s = Resolve(name, &table)).ok()) return s;
  if (!(s = ExpectWord("SET")).ok()) return s;
  std::string sql = "UPDATE " + QuoteIdentifier(table->name) + " SET ";
  bool first = true;
  do {
    const ColumnInfo* column = nullptr;
    if (!(s = Column(*table, &column)).ok()) return s;
    if (column->type.kind == ColumnKind::kIdentity) {
      return DialectRefusal(error_, se::kIdentityUpdate,
                            IdentityUpdateText(Utf8ToCp1252(column->name)));
    }
    if (!(s = ExpectPunct("=")).ok()) return s;
    if (!first) sql += ", ";
    first = false;
    sql += QuoteIdentifier(column->name) + "=";
    if (!(s = Value(*column, &sql)).ok()) return s;
  } while (AcceptPunct(","));
  if (!(s = Where(*table, &sql)).ok()) return s;
  if (!(s = ExpectEnd()).ok()) return s;
  plan_->kind = PlanKind::kExecute;
  plan_->statement = std::move(sql);
  return Status::Ok();
}

Status Parser::Delete() {
  pos_ = 1;
  Status s = ExpectWord("FROM");
  if (!s.ok()) return s;
  std::string name;
  if (!(s = TableName(&name)).ok()) return s;
  const TableInfo* table = nullptr;
  if (!(s = Resolve(name, &table)).ok()) return s;
  std::string sql = "DELETE FROM " + QuoteIdentifier(table->name);
  if (!(s = Where(*table, &sql)).ok()) return s;
  if (!(s = ExpectEnd()).ok()) return s;
  plan_->kind = PlanKind::kExecute;
  plan_->statement = std::move(sql);
  return Status::Ok();
}

Status Parser::Select() {
  pos_ = 1;
  if (Peek() && Peek()->IsWord("IDENT_CURRENT") && Peek(1) && Peek(1)->IsPunct("(")) {
    return IdentCurrent();
  }
  enum { kAll, kCount, kList } what;
  std::vector<std::string> names;
  Status s;
  if (AcceptPunct("*")) {
    what = kAll;
  } else if (Peek() && Peek()->IsWord("COUNT") && Peek(1) && Peek(1)->IsPunct("(")) {
    pos_ += 2;
    if (!(s = ExpectPunct("*")).ok() || !(s = ExpectPunct(")")).ok()) return s;
    what = kCount;
  } else {
    what = kList;
    do {
      std::string name;
      if (!(s = Name(&name)).ok()) return s;
      names.push_back(std::move(name));
    } while (AcceptPunct(","));
  }
  if (!(s = ExpectWord("FROM")).ok()) return s;
  std::string name;
  if (!(s = TableName(&name)).ok()) return s;
  const TableInfo* table = nullptr;
  if (!(s = Resolve(name, &table)).ok()) return s;

  std::string sql = "SELECT ";
  if (what == kCount) {
    sql += "count(*)";
    plan_->columns.push_back({"", {ColumnKind::kInteger, 0, kMaxIntegerPrecision, 0}});
  } else {
    std::vector<const ColumnInfo*> selected;
    if (what == kAll) {
      for (const ColumnInfo& c : table->columns) selected.push_back(&c);
    } else {
      for (const std::string& n : names) {
        const ColumnInfo* c = table->Find(Cp1252ToUtf8(n));
        if (!c) {
          return DialectRefusal(error_, se::kInvalidColumn, InvalidColumnText(n));
        }
        selected.push_back(c);
      }
    }
    for (size_t i = 0; i < selected.size(); ++i) {
      if (i > 0) sql += ",";
      const std::string q = QuoteIdentifier(selected[i]->name);
      // The exact digits a BLOB keeps are read as their text, whichever way the database is
      // reached (SQLite's ODBC driver gives a BLOB as X'..' hexadecimal).
      sql +=
          selected[i]->type.kind == ColumnKind::kDecimal
              ? "CASE WHEN typeof(" + q + ")='blob' THEN CAST(" + q + " AS TEXT) ELSE " + q + " END"
              : q;
      plan_->columns.push_back({Utf8ToCp1252(selected[i]->name), selected[i]->type});
    }
  }
  sql += " FROM " + QuoteIdentifier(table->name);
  if (!(s = Where(*table, &sql)).ok()) return s;
  if (!(s = OrderBy(*table, &sql)).ok()) return s;
  if (!(s = ExpectEnd()).ok()) return s;
  plan_->kind = PlanKind::kQuery;
  plan_->statement = std::move(sql);
  return Status::Ok();
}

// SELECT IDENT_CURRENT('<table>'): the last identity value the table gave, which SQLite
// keeps in sqlite_sequence (and keeps when the rows go). NULL when it gave none, or the
// table has no identity: SQL Server answers the seed for a table that gave none, which
// Torvan reads alike (no value above 1 is taken).
Status Parser::IdentCurrent() {
  pos_ += 2;
  const Token* name = Peek();
  if (!name || name->kind != TokenKind::kString) return Syntax();
  ++pos_;
  Status s;
  if (!(s = ExpectPunct(")")).ok() || !(s = ExpectEnd()).ok()) return s;
  // The table of the numbers exists once any table with an identity was made; the answer
  // does not depend on the name given, so the translation holds for every name.
  const TableInfo* sequence = nullptr;
  if (!(s = schema_->FindTable("sqlite_sequence", &sequence)).ok()) {
    return DialectRefusal(error_, se::kSchemaUnreadable, "Cannot read the schema: " + s.message());
  }
  plan_->kind = PlanKind::kQuery;
  plan_->columns.push_back({"", {ColumnKind::kInteger, 0, kMaxIntegerPrecision, 0}});
  plan_->statement = sequence == nullptr
                         ? "SELECT NULL FROM (SELECT ?)"
                         : "SELECT (SELECT seq FROM sqlite_sequence WHERE name=? COLLATE NOCASE)";
  plan_->params.push_back(
      {NvarcharType(kMaxNvarchar), "IDENT_CURRENT", ParamUse::kCompare, literals_++});
  return Status::Ok();
}

Status Parser::OrderBy(const TableInfo& table, std::string* sql) {
  if (!AcceptWord("ORDER")) return Status::Ok();
  Status s = ExpectWord("BY");
  if (!s.ok()) return s;
  *sql += " ORDER BY ";
  bool first = true;
  do {
    const ColumnInfo* column = nullptr;
    if (!(s = Column(table, &column)).ok()) return s;
    const bool descending = AcceptWord("DESC");
    if (!descending) AcceptWord("ASC");
    if (!first) *sql += ",";
    first = false;
    const std::string q = QuoteIdentifier(column->name);
    const char* up = descending ? " DESC" : "";
    switch (column->type.kind) {
      case ColumnKind::kDecimal:
        *sql += ByValue(q) + up;
        break;
      case ColumnKind::kText:
        *sql += q + " COLLATE NOCASE" + up;
        break;
      default:
        *sql += q + up;
        break;
    }
  } while (AcceptPunct(","));
  return Status::Ok();
}

Status Parser::Where(const TableInfo& table, std::string* sql) {
  if (!AcceptWord("WHERE")) return Status::Ok();
  *sql += " WHERE ";
  return Condition(table, sql);
}

Status Parser::Condition(const TableInfo& table, std::string* sql) {
  Status s = Conjunction(table, sql);
  while (s.ok() && AcceptWord("OR")) {
    *sql += " OR ";
    s = Conjunction(table, sql);
  }
  return s;
}

Status Parser::Conjunction(const TableInfo& table, std::string* sql) {
  Status s = Negation(table, sql);
  while (s.ok() && AcceptWord("AND")) {
    *sql += " AND ";
    s = Negation(table, sql);
  }
  return s;
}

Status Parser::Negation(const TableInfo& table, std::string* sql) {
  const bool negated = AcceptWord("NOT");
  const bool grouped = !negated && AcceptPunct("(");
  if (!negated && !grouped) return Comparison(table, sql);
  if (nesting_ == kMaxNesting) {
    return NotInSet("conditions nested more than " + std::to_string(kMaxNesting) + " deep");
  }
  ++nesting_;
  Status s;
  if (negated) {
    *sql += "NOT ";
    s = Negation(table, sql);
  } else {
    *sql += "(";
    s = Condition(table, sql);
    if (s.ok()) s = ExpectPunct(")");
    if (s.ok()) *sql += ")";
  }
  --nesting_;
  return s;
}

Status Parser::Comparison(const TableInfo& table, std::string* sql) {
  const ColumnInfo* column = nullptr;
  Status s = Column(table, &column);
  if (!s.ok()) return s;
  const std::string name = QuoteIdentifier(column->name);
  if (AcceptWord("IS")) {
    bool negated = AcceptWord("NOT");
    if (!(s = ExpectWord("NULL")).ok()) return s;
    *sql += name + (negated ? " IS NOT NULL" : " IS NULL");
    return Status::Ok();
  }
  const Token* op = Peek();
  static constexpr std::pair<std::string_view, std::string_view> kOperators[] = {
      {"=", "="},   {"<>", "<>"}, {"!=", "<>"}, {"<", "<"},  {">", ">"},
      {"<=", "<="}, {">=", ">="}, {"!<", ">="}, {"!>", "<="}};
  std::string_view sqlite_op;
  for (auto [tsql, lite] : kOperators) {
    if (op && op->IsPunct(tsql)) sqlite_op = lite;
  }
  if (sqlite_op.empty()) return Syntax();
  ++pos_;
  const Token* literal = Peek();
  if (!literal || !literal->IsLiteral())
    return NotInSet("comparison with something else than a value");
  ++pos_;
  const std::string op_text(sqlite_op);
  switch (column->type.kind) {
    case ColumnKind::kDecimal:
      *sql += ByValue(name) + " " + op_text + " ?";
      AddParam(*column, ParamUse::kCompare);
      break;
    case ColumnKind::kText:
      *sql += "rtrim(" + name + ") " + op_text + " rtrim(?) COLLATE NOCASE";
      AddParam(*column, ParamUse::kCompare);
      break;
    default:
      *sql += name + " " + op_text + " ?";
      AddParam(*column, ParamUse::kCompare);
      break;
  }
  return Status::Ok();
}

}  // namespace

// ---------------------------------------------------------------------------------------

const ColumnInfo* TableInfo::Find(std::string_view name) const {
  for (const ColumnInfo& c : columns) {
    if (EqualsIgnoreCase(c.name, name)) return &c;
  }
  return nullptr;
}

Status TranslateStatement(const std::vector<Token>& tokens, SchemaSource* schema, Plan* plan,
                          SqlError* error) {
  return Parser(tokens, schema, plan, error).Run();
}

}  // namespace torvan::sql
