#include "sql/sqlite_dialect.h"

#include <cstdlib>
#include <utility>

#include "core/text.h"
#include "sql/decimal.h"

namespace torvan::sql {

namespace {

// SQL Server's error numbers for the faults the dialect reports in its place.
constexpr int32_t kNotInSet = 0;
constexpr int32_t kIncorrectSyntax = 102;
constexpr int32_t kMoreColumnsThanValues = 109;
constexpr int32_t kMoreValuesThanColumns = 110;
constexpr int32_t kInvalidColumn = 207;
constexpr int32_t kInvalidObject = 208;
constexpr int32_t kColumnTwice = 264;
constexpr int32_t kIdentityInsert = 544;
constexpr int32_t kIdentityUpdate = 8102;
constexpr int32_t kConvertToNumeric = 8114;
constexpr int32_t kArithmeticOverflow = 8115;
constexpr int32_t kTruncated = 8152;
constexpr int32_t kBadColumnSpec = 2716;
constexpr int32_t kIdentityWithDefault = 1754;
constexpr int32_t kTwoIdentities = 2744;
constexpr int32_t kIdentityType = 2749;

// The largest precision kept as a 64-bit integer: 10^18 - 1 < 2^63.
constexpr int kMaxIntegerPrecision = 18;
constexpr int kMaxNvarchar = 4000;
constexpr int kMaxPrecision = 38;

Status Refuse(SqlError* error, int32_t number, std::string_view state, std::string message) {
  error->number = number;
  error->native_error = number;
  error->sql_state = std::string(state);
  error->source = kDialectSource;
  error->description = message;
  return Status::InvalidArgument(std::move(message));
}

std::string QuoteString(std::string_view utf8) {
  std::string out = "'";
  for (char c : utf8) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
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

bool SmallNumber(const Token& t, int* value) {
  if (t.kind != TokenKind::kNumber || t.text.empty() || t.text.size() > 6) return false;
  int v = 0;
  for (char c : t.text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

// ---------------------------------------------------------------------------------------
// Statement templates: token sequences where "{X}" inside a [name] or a 'string' binds X
// to the rest of the name, and a bare {L} binds a list of "[column]," pairs.

class Bindings {
 public:
  bool Bind(const std::string& key, std::string_view value) {
    for (auto& [k, v] : names_) {
      if (k == key) return v == value;
    }
    names_.emplace_back(key, std::string(value));
    return true;
  }
  bool BindList(const std::string& key, std::vector<std::string> list) {
    for (auto& [k, v] : lists_) {
      if (k == key) return v == list;
    }
    lists_.emplace_back(key, std::move(list));
    return true;
  }
  const std::string& Name(std::string_view key) const {
    for (auto& [k, v] : names_) {
      if (k == key) return v;
    }
    static const std::string kEmpty;
    return kEmpty;
  }
  const std::vector<std::string>& List(std::string_view key) const {
    for (auto& [k, v] : lists_) {
      if (k == key) return v;
    }
    static const std::vector<std::string> kEmpty;
    return kEmpty;
  }

 private:
  std::vector<std::pair<std::string, std::string>> names_;
  std::vector<std::pair<std::string, std::vector<std::string>>> lists_;
};

bool MatchText(std::string_view pattern, std::string_view text, Bindings* b) {
  size_t open = pattern.find('{');
  size_t close = pattern.find('}');
  if (open == std::string_view::npos || close == std::string_view::npos) return pattern == text;
  std::string_view prefix = pattern.substr(0, open);
  std::string_view suffix = pattern.substr(close + 1);
  if (text.size() <= prefix.size() + suffix.size()) return false;
  if (text.substr(0, prefix.size()) != prefix) return false;
  if (text.substr(text.size() - suffix.size()) != suffix) return false;
  std::string key(pattern.substr(open + 1, close - open - 1));
  return b->Bind(key, text.substr(prefix.size(), text.size() - prefix.size() - suffix.size()));
}

bool MatchToken(const Token& tpl, const Token& in, Bindings* b) {
  if (tpl.kind != in.kind) return false;
  switch (tpl.kind) {
    case TokenKind::kWord:
    case TokenKind::kVariable:
      return EqualsIgnoreCase(tpl.text, in.text);
    case TokenKind::kIdentifier:
    case TokenKind::kString:
      return MatchText(tpl.text, in.text, b);
    default:
      return tpl.text == in.text;
  }
}

bool MatchTemplate(const std::vector<Token>& tpl, const std::vector<Token>& in, Bindings* b) {
  size_t i = 0;
  for (size_t k = 0; k < tpl.size(); ++k) {
    if (tpl[k].kind != TokenKind::kPlaceholder) {
      if (i >= in.size() || !MatchToken(tpl[k], in[i], b)) return false;
      ++i;
      continue;
    }
    // A list ends where the template's next token matches.
    std::vector<std::string> list;
    while (i + 1 < in.size()) {
      Bindings probe = *b;
      if (k + 1 < tpl.size() && MatchToken(tpl[k + 1], in[i], &probe)) break;
      if (in[i].kind != TokenKind::kIdentifier || !in[i + 1].IsPunct(",")) return false;
      list.push_back(in[i].text);
      i += 2;
    }
    if (!b->BindList(tpl[k].text, std::move(list))) return false;
  }
  return i == in.size();
}

constexpr char kDropTable[] =
    "IF EXISTS (SELECT name FROM sysobjects WHERE name = '{N}' AND type = 'U') "
    "DROP TABLE [{M}]";
constexpr char kDropTrigger[] =
    "IF EXISTS (SELECT name FROM sysobjects WHERE name = '{N}' AND type = 'TR') "
    "DROP TRIGGER [{M}]";
constexpr char kDeleteTrigger[] =
    "CREATE TRIGGER [{T}_D] ON [dbo].[{T}] AFTER DELETE AS "
    "DECLARE @TIPO nvarchar(1) SELECT @TIPO=[_T_TIPO___] FROM deleted IF @TIPO=' ' "
    "INSERT INTO [{E}] ({L}[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) "
    "SELECT {L}[_T_IDX___],' ','D' FROM deleted";
constexpr char kInsertTrigger[] =
    "CREATE TRIGGER [{T}_I] ON [dbo].[{T}] AFTER INSERT AS "
    "DECLARE @TIPO nvarchar(1), @IDX numeric(13,0) "
    "SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted IF @TIPO=' ' "
    "INSERT INTO [{E}] ({L}[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) "
    "SELECT {L}[_T_IDX___],' ','I' FROM inserted "
    "IF @TIPO='S' UPDATE [{T}] SET [_T_TIPO___]='S' WHERE [_T_IDX___]=@IDX";
constexpr char kUpdateTrigger[] =
    "CREATE TRIGGER [{T}_U] ON [dbo].[{T}] AFTER UPDATE AS "
    "DECLARE @TIPO nvarchar(1), @IDX numeric(13,0) "
    "SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted "
    "IF @TIPO='D' RETURN "
    "IF @TIPO='S' BEGIN UPDATE [{T}] SET [_T_TIPO___]=' ' WHERE [_T_IDX___]=@IDX RETURN END "
    "IF @TIPO=' ' INSERT INTO [{E}] ({L}[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) "
    "SELECT {L}[_T_IDX___],' ','U' FROM inserted";
constexpr char kMasterTrigger[] =
    "CREATE TRIGGER [{E}_I] ON [dbo].[{E}] AFTER INSERT AS "
    "INSERT INTO [_T_MASTER___] ([_T_FILE___],[_T_PROGR___]) "
    "SELECT '{F}',[_T_PROGR___] FROM inserted";

enum TriggerKind { kDelete, kInsert, kUpdate, kMaster };

struct Templates {
  std::vector<Token> drop_table;
  std::vector<Token> drop_trigger;
  std::vector<Token> triggers[4];  // by TriggerKind
};

// Tokenized once; the texts are constants of this file.
const Templates& AllTemplates() {
  static const Templates templates = [] {
    Templates t;
    (void)Tokenize(kDropTable, &t.drop_table, /*allow_placeholders=*/true);
    (void)Tokenize(kDropTrigger, &t.drop_trigger, true);
    (void)Tokenize(kDeleteTrigger, &t.triggers[kDelete], true);
    (void)Tokenize(kInsertTrigger, &t.triggers[kInsert], true);
    (void)Tokenize(kUpdateTrigger, &t.triggers[kUpdate], true);
    (void)Tokenize(kMasterTrigger, &t.triggers[kMaster], true);
    return t;
  }();
  return templates;
}

// The marker tests of the T-SQL triggers. SQL Server compares nvarchar ignoring trailing
// blanks and case (default collation), so ' ' also matches '' and 'S' also 's'.
constexpr char kMarkerBlank[] = "IN (' ','')";
constexpr char kMarkerS[] = "IN ('S','s')";
constexpr char kMarkerD[] = "IN ('D','d')";

// ---------------------------------------------------------------------------------------

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
    return Refuse(error_, kIncorrectSyntax, "42000", "Incorrect syntax near '" + near + "'.");
  }
  Status ExpectWord(std::string_view w) { return AcceptWord(w) ? Status::Ok() : Syntax(); }
  Status ExpectPunct(std::string_view p) { return AcceptPunct(p) ? Status::Ok() : Syntax(); }
  Status ExpectEnd() { return pos_ == t_.size() ? Status::Ok() : Syntax(); }
  Status NotInSet(std::string_view why) {
    return Refuse(error_, kNotInSet, "42000",
                  "Statement not supported by the SQLite engine (" + std::string(why) + ")");
  }

  Status Name(std::string* name);
  Status TableName(std::string* name);
  Status Resolve(const std::string& name, const TableInfo** table);
  Status Column(const TableInfo& table, const ColumnInfo** column);
  void AddParam(const ColumnInfo& column, ParamUse use);

  Status DropIfExists();
  Status CreateTable();
  Status ColumnDefinition(std::string* sql, int* identities);
  Status CreateIndex();
  Status CreateTrigger();
  Status Insert();
  Status Update();
  Status Delete();
  Status Select();
  Status Where(const TableInfo& table, std::string* sql);
  Status Condition(const TableInfo& table, std::string* sql);
  Status Conjunction(const TableInfo& table, std::string* sql);
  Status Negation(const TableInfo& table, std::string* sql);
  Status Comparison(const TableInfo& table, std::string* sql);
  Status Value(const ColumnInfo& column, std::string* sql);
  Status SqlLiteral(const ColumnInfo& column, const Token& literal, std::string* sql);

  const std::vector<Token>& t_;
  size_t pos_ = 0;
  SchemaSource* schema_;
  Plan* plan_;
  SqlError* error_;
};

Status Parser::Run() {
  plan_->statements.clear();
  plan_->params.clear();
  plan_->columns.clear();
  if (t_.empty()) return NotInSet("empty statement");
  const Token& first = t_[0];
  if (first.IsWord("IF")) return DropIfExists();
  if (first.IsWord("CREATE")) {
    const Token* what = Peek(1);
    if (what && what->IsWord("TABLE")) return CreateTable();
    if (what && what->IsWord("INDEX")) return CreateIndex();
    if (what && what->IsWord("TRIGGER")) return CreateTrigger();
    return NotInSet("CREATE of this kind");
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
    return Refuse(error_, kNotInSet, "HY000", "Cannot read the schema: " + s.message());
  }
  if (*table == nullptr) {
    return Refuse(error_, kInvalidObject, "42S02", "Invalid object name '" + name + "'.");
  }
  return Status::Ok();
}

Status Parser::Column(const TableInfo& table, const ColumnInfo** column) {
  std::string name;
  Status s = Name(&name);
  if (!s.ok()) return s;
  *column = table.Find(Cp1252ToUtf8(name));
  if (*column == nullptr) {
    return Refuse(error_, kInvalidColumn, "42S22", "Invalid column name '" + name + "'.");
  }
  return Status::Ok();
}

void Parser::AddParam(const ColumnInfo& column, ParamUse use) {
  plan_->params.push_back({column.type, Utf8ToCp1252(column.name), use});
}

// ---- schema statements ----------------------------------------------------------------

Status Parser::DropIfExists() {
  Bindings b;
  bool table = MatchTemplate(AllTemplates().drop_table, t_, &b);
  if (!table) {
    b = Bindings();
    if (!MatchTemplate(AllTemplates().drop_trigger, t_, &b)) {
      return NotInSet("IF EXISTS other than Torvan's drop of a table or trigger");
    }
  }
  // The test and the drop name one object; SQL Server compares names without case.
  if (!EqualsIgnoreCase(b.Name("N"), b.Name("M"))) {
    return NotInSet("IF EXISTS tests one object and drops another");
  }
  plan_->kind = PlanKind::kSchema;
  plan_->statements.push_back(
      std::string(table ? "DROP TABLE IF EXISTS " : "DROP TRIGGER IF EXISTS ") +
      QuoteIdentifier(Cp1252ToUtf8(b.Name("M"))));
  return Status::Ok();
}

Status Parser::CreateTable() {
  pos_ = 2;
  std::string name;
  Status s = TableName(&name);
  if (!s.ok()) return s;
  if (!(s = ExpectPunct("(")).ok()) return s;
  std::string sql = "CREATE TABLE " + QuoteIdentifier(Cp1252ToUtf8(name)) + " (";
  int identities = 0;
  bool first = true;
  // SQL Server accepts a comma before the closing parenthesis; Torvan's texts have one
  // after numeric columns.
  while (!AcceptPunct(")")) {
    if (!first) sql += ", ";
    first = false;
    if (!(s = ColumnDefinition(&sql, &identities)).ok()) return s;
    if (!AcceptPunct(",")) {
      if (!(s = ExpectPunct(")")).ok()) return s;
      break;
    }
  }
  if (first) return Syntax();
  if (!(s = ExpectEnd()).ok()) return s;
  sql += ")";
  plan_->kind = PlanKind::kSchema;
  plan_->statements.push_back(std::move(sql));
  return Status::Ok();
}

Status Parser::ColumnDefinition(std::string* sql, int* identities) {
  ColumnInfo column;
  std::string name;
  Status s = Name(&name);
  if (!s.ok()) return s;
  column.name = Cp1252ToUtf8(name);
  std::string type_name;
  if (!(s = Name(&type_name)).ok()) return s;
  const bool text = EqualsIgnoreCase(type_name, "nvarchar");
  if (!text && !EqualsIgnoreCase(type_name, "numeric") && !EqualsIgnoreCase(type_name, "decimal")) {
    return NotInSet("column type " + type_name);
  }
  if (!(s = ExpectPunct("(")).ok()) return s;
  int a = 0, b = 0;
  const Token* t = Peek();
  if (!t || !SmallNumber(*t, &a)) return Syntax();
  ++pos_;
  if (text) {
    if (a < 1 || a > kMaxNvarchar) {
      return Refuse(error_, kBadColumnSpec, "42000",
                    "The size (" + std::to_string(a) + ") given to the column '" + name +
                        "' exceeds the maximum allowed for any data type (4000).");
    }
    column.type = {ColumnKind::kText, a, 0, 0};
  } else {
    if (AcceptPunct(",")) {
      t = Peek();
      if (!t || !SmallNumber(*t, &b)) return Syntax();
      ++pos_;
    }
    if (a < 1 || a > kMaxPrecision || b > a) {
      return Refuse(error_, kBadColumnSpec, "42000",
                    "Column '" + name + "': precision " + std::to_string(a) + " and scale " +
                        std::to_string(b) + " are not a valid numeric type.");
    }
    bool integer = b == 0 && a <= kMaxIntegerPrecision;
    column.type = {integer ? ColumnKind::kInteger : ColumnKind::kDecimal, 0, a, b};
  }
  if (!(s = ExpectPunct(")")).ok()) return s;

  bool not_null = false;
  bool identity = false;
  std::string default_sql;
  for (;;) {
    if (AcceptWord("NOT")) {
      if (!(s = ExpectWord("NULL")).ok()) return s;
      not_null = true;
    } else if (AcceptWord("NULL")) {
      not_null = false;
    } else if (AcceptWord("IDENTITY")) {
      int seed = 0, step = 0;
      if (!AcceptPunct("(") || !Peek() || !SmallNumber(*Peek(), &seed) || !Peek(1) ||
          !Peek(1)->IsPunct(",") || !Peek(2) || !SmallNumber(*Peek(2), &step) || !Peek(3) ||
          !Peek(3)->IsPunct(")")) {
        return Syntax();
      }
      pos_ += 4;
      if (seed != 1 || step != 1) return NotInSet("IDENTITY other than (1, 1)");
      if (column.type.kind != ColumnKind::kInteger) {
        return Refuse(error_, kIdentityType, "42000",
                      "Identity column '" + name +
                          "' must be of data type numeric with a scale of 0 and at most " +
                          std::to_string(kMaxIntegerPrecision) + " digits.");
      }
      identity = true;
    } else if (AcceptWord("DEFAULT")) {
      bool parenthesized = AcceptPunct("(");
      const Token* literal = Peek();
      if (!literal || !literal->IsLiteral()) return Syntax();
      ++pos_;
      if (parenthesized && !(s = ExpectPunct(")")).ok()) return s;
      if (!(s = SqlLiteral(column, *literal, &default_sql)).ok()) return s;
    } else {
      break;
    }
  }
  if (identity) {
    if (!default_sql.empty()) {
      return Refuse(error_, kIdentityWithDefault, "42000",
                    "Defaults cannot be created on columns with an IDENTITY attribute. "
                    "Column '" +
                        name + "'.");
    }
    if (++*identities > 1) {
      return Refuse(error_, kTwoIdentities, "42000",
                    "Multiple identity columns specified for table.");
    }
    column.type.kind = ColumnKind::kIdentity;
  }

  *sql += QuoteIdentifier(column.name);
  *sql += identity ? " INTEGER PRIMARY KEY AUTOINCREMENT" : " " + SqliteDeclaredType(column.type);
  if (not_null) *sql += " NOT NULL";
  if (!default_sql.empty()) *sql += " DEFAULT " + default_sql;
  if (column.type.kind == ColumnKind::kText) {
    *sql += " CHECK (length(" + QuoteIdentifier(column.name) +
            ") <= " + std::to_string(column.type.length) + ")";
  }
  return Status::Ok();
}

// A literal written into the SQLite text (DEFAULT values), converted for its column.
Status Parser::SqlLiteral(const ColumnInfo& column, const Token& literal, std::string* sql) {
  BoundValue value;
  ParamSpec param{column.type, Utf8ToCp1252(column.name), ParamUse::kAssign};
  Status s = BindLiteral(param, literal, &value, error_);
  if (!s.ok()) return s;
  switch (value.kind) {
    case BoundValue::Kind::kNull:
      *sql = "NULL";
      break;
    case BoundValue::Kind::kInteger:
      *sql = std::to_string(value.integer);
      break;
    case BoundValue::Kind::kReal:
    case BoundValue::Kind::kText:
      *sql = QuoteString(value.text);
      break;
  }
  return Status::Ok();
}

Status Parser::CreateIndex() {
  pos_ = 2;
  std::string index, table;
  Status s = Name(&index);
  if (!s.ok()) return s;
  if (!(s = ExpectWord("ON")).ok()) return s;
  if (!(s = TableName(&table)).ok()) return s;
  if (!(s = ExpectPunct("(")).ok()) return s;
  std::string columns;
  do {
    std::string column;
    if (!(s = Name(&column)).ok()) return s;
    if (!columns.empty()) columns += ", ";
    columns += QuoteIdentifier(Cp1252ToUtf8(column));
  } while (AcceptPunct(","));
  if (!(s = ExpectPunct(")")).ok()) return s;
  if (!(s = ExpectEnd()).ok()) return s;
  plan_->kind = PlanKind::kSchema;
  plan_->statements.push_back("CREATE INDEX " + QuoteIdentifier(Cp1252ToUtf8(table + "/" + index)) +
                              " ON " + QuoteIdentifier(Cp1252ToUtf8(table)) + " (" + columns + ")");
  return Status::Ok();
}

Status Parser::CreateTrigger() {
  Bindings b;
  int kind = -1;
  for (int k = kDelete; k <= kMaster && kind < 0; ++k) {
    b = Bindings();
    if (MatchTemplate(AllTemplates().triggers[k], t_, &b)) kind = k;
  }
  if (kind < 0) return NotInSet("CREATE TRIGGER other than Torvan's four triggers");
  plan_->kind = PlanKind::kSchema;

  if (kind == kMaster) {
    const std::string event = Cp1252ToUtf8(b.Name("E"));
    plan_->statements.push_back("CREATE TRIGGER " + QuoteIdentifier(event + "_I") +
                                " AFTER INSERT ON " + QuoteIdentifier(event) +
                                " FOR EACH ROW BEGIN INSERT INTO \"_T_MASTER___\" "
                                "(\"_T_FILE___\",\"_T_PROGR___\") VALUES (" +
                                QuoteString(Cp1252ToUtf8(b.Name("F"))) +
                                ",NEW.\"_T_PROGR___\"); END");
    return Status::Ok();
  }

  // SQL Server resolves the mirror table's columns when it creates the trigger; SQLite
  // only when the trigger runs, which would be during replication. Check them now.
  const TableInfo* mirror = nullptr;
  Status s = Resolve(b.Name("T"), &mirror);
  if (!s.ok()) return s;
  const std::vector<std::string>& list = b.List("L");
  std::vector<std::string> columns;
  for (const std::string& name : list) columns.push_back(Cp1252ToUtf8(name));
  for (const char* reserved : {"_T_IDX___", "_T_TIPO___"}) columns.push_back(reserved);
  for (const std::string& c : columns) {
    if (!mirror->Find(c)) {
      return Refuse(error_, kInvalidColumn, "42S22",
                    "Invalid column name '" + Utf8ToCp1252(c) + "'.");
    }
  }
  columns.pop_back();  // _T_TIPO___ is written as a blank, not copied
  // The event table may come later (SQL Server resolves tables when the trigger runs);
  // when it is there it must have every column the trigger writes.
  const TableInfo* event_table = nullptr;
  if (!(s = schema_->FindTable(Cp1252ToUtf8(b.Name("E")), &event_table)).ok()) {
    return Refuse(error_, kNotInSet, "HY000", "Cannot read the schema: " + s.message());
  }
  if (event_table) {
    std::vector<std::string> written = columns;
    written.insert(written.end(), {"_T_TIPO___", "_T_EVENTO___"});
    for (const std::string& c : written) {
      if (!event_table->Find(c)) {
        return Refuse(
            error_, kInvalidColumn, "42S22",
            "Invalid column name '" + Utf8ToCp1252(c) + "' in table '" + b.Name("E") + "'.");
      }
    }
  }

  const std::string table = QuoteIdentifier(Cp1252ToUtf8(b.Name("T")));
  const std::string event = QuoteIdentifier(Cp1252ToUtf8(b.Name("E")));
  const char* row = kind == kDelete ? "OLD." : "NEW.";
  const std::string marker = std::string(row) + "\"_T_TIPO___\"";
  std::string targets, values;
  for (const std::string& c : columns) {
    targets += QuoteIdentifier(c) + ",";
    values += row + QuoteIdentifier(c) + ",";
  }
  targets += "\"_T_TIPO___\",\"_T_EVENTO___\"";
  const char event_code = kind == kDelete ? 'D' : kind == kInsert ? 'I' : 'U';
  values += std::string("' ','") + event_code + "'";
  const std::string record = "INSERT INTO " + event + " (" + targets + ") SELECT " + values +
                             " WHERE " + marker + " " + kMarkerBlank + ";";
  const std::string this_row =
      "WHERE \"_T_IDX___\"=NEW.\"_T_IDX___\" AND " + marker + " " + kMarkerS;
  std::string name = QuoteIdentifier(Cp1252ToUtf8(b.Name("T")) + "_" + event_code);
  std::string sql;
  switch (kind) {
    case kDelete:
      sql = "CREATE TRIGGER " + name + " AFTER DELETE ON " + table + " FOR EACH ROW BEGIN " +
            record + " END";
      break;
    case kInsert:
      // The marker 'S' is set again so that the update trigger, fired by this nested
      // update, turns it into a blank without recording anything.
      sql = "CREATE TRIGGER " + name + " AFTER INSERT ON " + table + " FOR EACH ROW BEGIN " +
            record + " UPDATE " + table + " SET \"_T_TIPO___\"='S' " + this_row + "; END";
      break;
    case kUpdate:
      sql = "CREATE TRIGGER " + name + " AFTER UPDATE ON " + table + " FOR EACH ROW WHEN " +
            marker + " NOT " + kMarkerD + " BEGIN UPDATE " + table + " SET \"_T_TIPO___\"=' ' " +
            this_row + "; " + record + " END";
      break;
  }
  plan_->statements.push_back(std::move(sql));
  return Status::Ok();
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
        return Refuse(error_, kColumnTwice, "42000",
                      "The column name '" + Utf8ToCp1252(column->name) +
                          "' is specified more than once in the SET clause or column list of "
                          "an INSERT.");
      }
    }
    if (column->type.kind == ColumnKind::kIdentity) {
      return Refuse(error_, kIdentityInsert, "23000",
                    "Cannot insert explicit value for identity column in table '" + name +
                        "' when IDENTITY_INSERT is set to OFF.");
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
      return Refuse(error_, kMoreValuesThanColumns, "21S01",
                    "There are fewer columns in the INSERT statement than values specified in "
                    "the VALUES clause.");
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
    return Refuse(error_, kMoreColumnsThanValues, "21S01",
                  "There are more columns in the INSERT statement than values specified in "
                  "the VALUES clause.");
  }
  if (!(s = ExpectPunct(")")).ok()) return s;
  if (!(s = ExpectEnd()).ok()) return s;
  plan_->kind = PlanKind::kExecute;
  plan_->statements.push_back(sql + ") VALUES (" + values + ")");
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
      return Refuse(error_, kIdentityUpdate, "42000",
                    "Cannot update identity column '" + Utf8ToCp1252(column->name) + "'.");
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
  plan_->statements.push_back(std::move(sql));
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
  plan_->statements.push_back(std::move(sql));
  return Status::Ok();
}

Status Parser::Select() {
  pos_ = 1;
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
          return Refuse(error_, kInvalidColumn, "42S22", "Invalid column name '" + n + "'.");
        }
        selected.push_back(c);
      }
    }
    for (size_t i = 0; i < selected.size(); ++i) {
      if (i > 0) sql += ",";
      sql += QuoteIdentifier(selected[i]->name);
      plan_->columns.push_back({Utf8ToCp1252(selected[i]->name), selected[i]->type});
    }
  }
  sql += " FROM " + QuoteIdentifier(table->name);
  if (!(s = Where(*table, &sql)).ok()) return s;
  if (AcceptWord("ORDER")) {
    if (!(s = ExpectWord("BY")).ok()) return s;
    sql += " ORDER BY ";
    bool first = true;
    do {
      const ColumnInfo* column = nullptr;
      if (!(s = Column(*table, &column)).ok()) return s;
      if (column->type.kind == ColumnKind::kDecimal) {
        return NotInSet("ORDER BY a decimal column");
      }
      if (!first) sql += ",";
      first = false;
      sql += QuoteIdentifier(column->name);
      if (column->type.kind == ColumnKind::kText) sql += " COLLATE NOCASE";
      if (AcceptWord("DESC")) {
        sql += " DESC";
      } else {
        AcceptWord("ASC");
      }
    } while (AcceptPunct(","));
  }
  if (!(s = ExpectEnd()).ok()) return s;
  plan_->kind = PlanKind::kQuery;
  plan_->statements.push_back(std::move(sql));
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
  if (AcceptWord("NOT")) {
    *sql += "NOT ";
    return Negation(table, sql);
  }
  if (AcceptPunct("(")) {
    *sql += "(";
    Status s = Condition(table, sql);
    if (!s.ok()) return s;
    if (!(s = ExpectPunct(")")).ok()) return s;
    *sql += ")";
    return Status::Ok();
  }
  return Comparison(table, sql);
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
  switch (column->type.kind) {
    case ColumnKind::kDecimal:
      // Decimals are stored as canonical text: equal values have equal texts, but the
      // order of the texts is not the order of the numbers.
      if (sqlite_op != "=" && sqlite_op != "<>") {
        return NotInSet("ordering comparison on the decimal column " + Utf8ToCp1252(column->name));
      }
      *sql += name + " " + std::string(sqlite_op) + " ?";
      break;
    case ColumnKind::kText:
      *sql += "rtrim(" + name + ") " + std::string(sqlite_op) + " rtrim(?) COLLATE NOCASE";
      break;
    default:
      *sql += name + " " + std::string(sqlite_op) + " ?";
      break;
  }
  AddParam(*column, ParamUse::kCompare);
  return Status::Ok();
}

Status ToNumericError(const Status& s, SqlError* error) {
  if (s.code() == Status::Code::kFault) {
    return Refuse(error, kArithmeticOverflow, "22003", s.message());
  }
  return Refuse(error, kConvertToNumeric, "22018", s.message());
}

}  // namespace

// ---------------------------------------------------------------------------------------

std::string SqliteDeclaredType(const ColumnType& type) {
  switch (type.kind) {
    case ColumnKind::kText:
      return "NVARCHAR(" + std::to_string(type.length) + ")";
    case ColumnKind::kInteger:
      return "NUMERIC(" + std::to_string(type.precision) + ",0)";
    case ColumnKind::kDecimal:
      // "TEXT" in the name gives the column TEXT affinity: SQLite keeps the digits as
      // written instead of turning them into a REAL.
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
  if (rowid_alias) return {ColumnKind::kIdentity, 0, kMaxIntegerPrecision, 0};
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
    if (*end != '\0' || x < 1 || x > 4000 || y < 0 || y > x) return false;
    *a = int(x);
    *b = int(y);
    return true;
  };
  int a = 0, b = 0;
  if (numbers("NVARCHAR", &a, &b)) return {ColumnKind::kText, a, 0, 0};
  if (numbers("DECIMAL_TEXT", &a, &b)) return {ColumnKind::kDecimal, 0, a, b};
  if (numbers("NUMERIC", &a, &b)) {
    if (b == 0 && a <= kMaxIntegerPrecision) return {ColumnKind::kInteger, 0, a, 0};
    return {ColumnKind::kDecimal, 0, a, b};
  }
  return {};
}

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

Status BindLiteral(const ParamSpec& param, const Token& literal, BoundValue* value,
                   SqlError* error) {
  const std::string& text = literal.text;
  const ColumnType& type = param.type;
  switch (type.kind) {
    case ColumnKind::kText: {
      // A number given for a text column is a numeric value first, as in SQL Server:
      // 0001234.50 becomes the text "1234.50".
      std::string number;
      if (literal.kind == TokenKind::kNumber) {
        if (std::optional<Decimal> d = ParseDecimal(text)) {
          size_t point = text.find('.');
          size_t end = text.find_first_of("eE");
          int written = point == std::string::npos ? 0
                        : end == std::string::npos ? int(text.size() - point - 1)
                                                   : SignificantDecimals(*d);
          number = DecimalText(*d, written);
        }
      }
      std::string_view s = literal.kind == TokenKind::kNumber && !number.empty() ? number : text;
      if (param.use == ParamUse::kAssign && s.size() > size_t(type.length)) {
        // SQL Server cuts trailing blanks that do not fit and refuses anything else.
        if (s.find_first_not_of(' ', size_t(type.length)) != std::string_view::npos) {
          return Refuse(error, kTruncated, "22001",
                        "String or binary data would be truncated in column '" + param.column +
                            "' (" + std::to_string(type.length) + " characters).");
        }
        s = s.substr(0, size_t(type.length));
      }
      value->kind = BoundValue::Kind::kText;
      value->text = Cp1252ToUtf8(s);
      return Status::Ok();
    }
    case ColumnKind::kInteger:
    case ColumnKind::kIdentity: {
      if (param.use == ParamUse::kAssign) {
        std::string canonical;
        Status s = ToNumeric(text, type.precision, 0, &canonical);
        if (!s.ok()) return ToNumericError(s, error);
        value->kind = BoundValue::Kind::kInteger;
        value->integer = *CanonicalToInt64(canonical);
        return Status::Ok();
      }
      std::optional<Decimal> d = ParseDecimal(text);
      if (!d)
        return ToNumericError(
            Status::InvalidArgument("Error converting data type varchar to numeric."), error);
      std::string canonical = DecimalText(*d, SignificantDecimals(*d));
      std::optional<int64_t> whole =
          d->fraction.empty() ? CanonicalToInt64(canonical) : std::nullopt;
      if (whole) {
        value->kind = BoundValue::Kind::kInteger;
        value->integer = *whole;
      } else {
        // Not a whole number of 18 digits: no row can equal it, and a REAL keeps the
        // order for < and >.
        value->kind = BoundValue::Kind::kReal;
        value->real = std::strtod(canonical.c_str(), nullptr);
      }
      return Status::Ok();
    }
    case ColumnKind::kDecimal: {
      if (param.use == ParamUse::kAssign) {
        std::string canonical;
        Status s = ToNumeric(text, type.precision, type.scale, &canonical);
        if (!s.ok()) return ToNumericError(s, error);
        value->kind = BoundValue::Kind::kText;
        value->text = std::move(canonical);
        return Status::Ok();
      }
      std::optional<Decimal> d = ParseDecimal(text);
      if (!d)
        return ToNumericError(
            Status::InvalidArgument("Error converting data type varchar to numeric."), error);
      // More significant decimals than the column holds: the longer text matches no row.
      value->kind = BoundValue::Kind::kText;
      value->text = DecimalText(*d, std::max(type.scale, SignificantDecimals(*d)));
      return Status::Ok();
    }
    case ColumnKind::kOther:
      break;
  }
  if (literal.kind == TokenKind::kNumber) {
    std::optional<Decimal> d = ParseDecimal(text);
    if (d && d->fraction.empty()) {
      if (std::optional<int64_t> whole = CanonicalToInt64(DecimalText(*d, 0))) {
        value->kind = BoundValue::Kind::kInteger;
        value->integer = *whole;
        return Status::Ok();
      }
    }
  }
  value->kind = BoundValue::Kind::kText;
  value->text = Cp1252ToUtf8(text);
  return Status::Ok();
}

std::string DisplayText(const ColumnType& type, std::string_view stored_utf8) {
  switch (type.kind) {
    case ColumnKind::kInteger:
    case ColumnKind::kIdentity:
      return NumericDisplayText(stored_utf8, 0);
    case ColumnKind::kDecimal:
      return NumericDisplayText(stored_utf8, type.scale);
    case ColumnKind::kText:
    case ColumnKind::kOther:
      break;
  }
  return Utf8ToCp1252(stored_utf8);
}

std::string QuoteIdentifier(std::string_view utf8_name) {
  std::string out = "\"";
  for (char c : utf8_name) {
    out += c;
    if (c == '"') out += '"';
  }
  out += '"';
  return out;
}

}  // namespace torvan::sql
