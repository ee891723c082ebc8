// Its length has a reason: the translation cache, the transactions and the recordsets below
// share the core's state (the schema version, the statements kept, the open transaction),
// and a part taken out would have to reach into all of it. The rules of the translation are
// in sqlite_dialect.cpp, the two ways of reaching SQLite in their targets.
#include "sql/dialect_core.h"

#include <cstdlib>

#include "core/text.h"
#include "sql/server_errors.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql {

namespace {

// Statement shapes kept per connection. Torvan uses a handful per replicated file; the
// bound only matters for a caller that sends endlessly new shapes.
constexpr size_t kMaxCached = 512;

constexpr size_t kStatementHead = 120;

std::string Head(std::string_view statement) {
  if (statement.size() <= kStatementHead) return std::string(statement);
  return std::string(statement.substr(0, kStatementHead)) + "...";
}

// Every literal of the statement feeds at least one parameter, and nothing else does.
bool BindsEveryLiteral(const Plan& plan, size_t literals) {
  std::vector<bool> used(literals, false);
  for (const ParamSpec& p : plan.params) {
    if (p.literal >= literals) return false;
    used[p.literal] = true;
  }
  for (bool u : used) {
    if (!u) return false;
  }
  return true;
}

int64_t FirstInteger(const TextRows& rows) {
  if (rows.empty() || rows[0].empty() || !rows[0][0]) return 0;
  return std::strtoll(rows[0][0]->c_str(), nullptr, 10);
}

}  // namespace

// The tables the translator asks for, read from the database once per schema version.
class DialectCore::Schema final : public SchemaSource {
 public:
  explicit Schema(SqliteTarget* target) : target_(target) {}

  Status FindTable(std::string_view name, const TableInfo** table) override {
    std::string key(name);
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    auto it = tables_.find(key);
    if (it == tables_.end()) {
      std::unique_ptr<TableInfo> info;
      Status s = Load(name, &info);
      if (!s.ok()) return s;
      it = tables_.emplace(key, std::move(info)).first;
    }
    *table = it->second.get();
    return Status::Ok();
  }

  void Clear() { tables_.clear(); }

 private:
  static std::string Literal(std::string_view utf8) {
    std::string out = "'";
    for (char c : utf8) {
      out += c;
      if (c == '\'') out += '\'';
    }
    return out + "'";
  }

  Status Load(std::string_view name, std::unique_ptr<TableInfo>* info) {
    TextRows rows;
    Status s = target_->Query("SELECT name FROM sqlite_master WHERE type = 'table' AND name = " +
                                  Literal(name) + " COLLATE NOCASE",
                              &rows);
    if (!s.ok()) return s;
    if (rows.empty() || !rows[0][0]) return Status::Ok();  // no such table: *info stays null
    auto table = std::make_unique<TableInfo>();
    table->name = *rows[0][0];
    rows.clear();
    s = target_->Query("PRAGMA table_info(" + QuoteIdentifier(table->name) + ")", &rows);
    if (!s.ok()) return s;
    // Columns: cid, name, type, notnull, dflt_value, pk. A single primary key column
    // declared INTEGER is SQLite's row id: the dialect's identity column.
    int keys = 0;
    for (const auto& row : rows) {
      if (row.size() >= 6 && row[5] && *row[5] != "0") ++keys;
    }
    for (const auto& row : rows) {
      if (row.size() < 6 || !row[1]) continue;
      std::string declared = row[2].value_or("");
      bool rowid = keys == 1 && row[5] && *row[5] == "1" && EqualsIgnoreCase(declared, "INTEGER");
      table->columns.push_back({*row[1], ColumnTypeFromDeclared(declared, rowid)});
    }
    *info = std::move(table);
    return Status::Ok();
  }

  SqliteTarget* target_;
  std::unordered_map<std::string, std::unique_ptr<TableInfo>> tables_;
};

// ---------------------------------------------------------------------------------------

class DialectRecordset final : public Recordset {
 public:
  DialectRecordset(DialectCore* core, std::vector<OutColumn> columns, std::string shape,
                   uint64_t generation, std::unique_ptr<TargetStatement> statement)
      : core_(core),
        columns_(std::move(columns)),
        shape_(std::move(shape)),
        generation_(generation),
        statement_(std::move(statement)),
        row_(columns_.size()) {
    for (const OutColumn& c : columns_) names_.push_back(c.name);
    core_->recordsets_.insert(this);
  }

  ~DialectRecordset() override {
    Release();
    if (core_) core_->recordsets_.erase(this);
  }

  // Runs the statement to its first row.
  // Runs the statement to its first row. `*stale` tells that it ran nothing because the
  // schema changed since it was prepared.
  Status Start(const std::vector<BoundValue>& values, bool* stale) {
    bool has_row = false;
    Status s = statement_->Execute(values, &has_row);
    if (!s.ok()) {
      *stale = statement_->StaleSchema();
      Release();
      return s;
    }
    s = Arrive(has_row);
    if (!s.ok()) Release();
    return s;
  }

  // The connection is closing: give the statement back while the target still exists.
  void Detach() {
    Release();
    core_ = nullptr;
  }

  bool Eof() const override { return eof_; }

  Status MoveNext() override {
    if (eof_) return Status::Ok();
    bool has_row = false;
    Status s = statement_->Next(&has_row);
    if (s.ok()) s = Arrive(has_row);
    if (!s.ok()) {
      std::vector<SqlError> errors = core_->target_->TakeDiagnostics();
      Release();
      if (core_->report_) core_->report_(std::move(errors));
    }
    return s;
  }

  int FieldCount() const override { return int(columns_.size()); }
  const std::string& FieldName(int i) const override {
    static const std::string kNone;
    return i >= 0 && size_t(i) < names_.size() ? names_[size_t(i)] : kNone;
  }
  const Field& Value(int i) const override {
    static const Field kNone{true, ""};
    if (eof_ || i < 0 || size_t(i) >= row_.size()) return kNone;
    return row_[size_t(i)];
  }

 private:
  Status Arrive(bool has_row) {
    if (!has_row) {
      // All rows read: end the statement now, so its read transaction ends with it.
      Release();
      return Status::Ok();
    }
    std::string text;
    for (size_t i = 0; i < columns_.size(); ++i) {
      Field& f = row_[i];
      Status s = statement_->ColumnText(int(i), &text, &f.is_null);
      if (!s.ok()) return s;
      f.text = f.is_null ? std::string() : DisplayText(columns_[i].type, text);
    }
    return Status::Ok();
  }

  void Release() {
    eof_ = true;
    if (statement_) {
      statement_->Reset();
      if (core_) {
        core_->Return(shape_, generation_, std::move(statement_));
      } else {
        statement_.reset();
      }
    }
  }

  DialectCore* core_;
  std::vector<OutColumn> columns_;
  std::vector<std::string> names_;
  std::string shape_;
  uint64_t generation_;
  std::unique_ptr<TargetStatement> statement_;
  std::vector<Field> row_;
  bool eof_ = false;
};

// ---------------------------------------------------------------------------------------

Status PrepareDialectDatabase(SqliteTarget* target, std::string_view file,
                              std::vector<SqlError>* errors) {
  auto failed = [&](Status s) {
    std::vector<SqlError> found = target->TakeDiagnostics();
    for (SqlError& e : found) e.description += " (" + Utf8ToCp1252(file) + ")";
    errors->insert(errors->end(), found.begin(), found.end());
    return s;
  };
  TextRows rows;
  // Reading the journal mode is the first read of the file: a file that is not a
  // database fails here.
  Status s = target->Query("PRAGMA journal_mode=WAL", &rows);
  if (!s.ok()) return failed(s);
  for (const char* pragma : {"PRAGMA synchronous=FULL", "PRAGMA recursive_triggers=OFF"}) {
    if (!(s = target->Run(pragma)).ok()) return failed(s);
  }
  rows.clear();
  if (!(s = target->Query("PRAGMA user_version", &rows)).ok()) return failed(s);
  const int64_t version = FirstInteger(rows);
  if (version == kLayoutVersion) return Status::Ok();
  if (version == 0) {
    rows.clear();
    if (!(s = target->Query("SELECT count(*) FROM sqlite_master", &rows)).ok()) return failed(s);
    if (FirstInteger(rows) == 0) {
      s = target->Run("PRAGMA user_version=" + std::to_string(kLayoutVersion));
      return s.ok() ? s : failed(s);
    }
  }
  SqlError e;
  e.source = "Torvan";
  e.sql_state = "08004";
  e.origin = ErrorOrigin::kTorvan;
  e.description = "Il database " + Utf8ToCp1252(file) + " \xE8 stato costruito con la versione " +
                  std::to_string(version) +
                  " della struttura degli oggetti di Torvan, questo Torvan usa la versione " +
                  std::to_string(kLayoutVersion) + ": il database non viene usato";
  errors->push_back(e);
  return Status::Fault(e.description);
}

DialectCore::DialectCore(std::unique_ptr<SqliteTarget> target,
                         std::function<void(std::vector<SqlError>)> report)
    : target_(std::move(target)),
      report_(std::move(report)),
      schema_(std::make_unique<Schema>(target_.get())) {}

DialectCore::~DialectCore() {
  for (DialectRecordset* r :
       std::vector<DialectRecordset*>(recordsets_.begin(), recordsets_.end())) {
    r->Detach();
  }
  cache_.clear();
  version_statement_.reset();
}

Status DialectCore::Failed(Status status, std::vector<SqlError>* errors) {
  std::vector<SqlError> found = target_->TakeDiagnostics();
  errors->insert(errors->end(), found.begin(), found.end());
  if (depth_ > 0 && !doomed_ && !TransactionOpen()) doomed_ = true;
  return status;
}

bool DialectCore::TransactionOpen() {
  if (std::optional<bool> known = target_->InTransaction()) return *known;
  // Through ODBC: SQLite refuses a BEGIN inside a transaction.
  const bool open = !target_->Run("BEGIN").ok();
  if (!open) (void)target_->Run("ROLLBACK");
  (void)target_->TakeDiagnostics();
  return open;
}

Status DialectCore::Doomed(std::vector<SqlError>* errors) const {
  errors->push_back(DialectError(server_error::kUncommittable, kUncommittableText));
  return Status::IoError(kUncommittableText);
}

Status DialectCore::Begin(std::vector<SqlError>* errors) {
  if (doomed_) return Doomed(errors);
  Status s = target_->Run("SAVEPOINT torvan_" + std::to_string(depth_));
  if (!s.ok()) return Failed(s, errors);
  ++depth_;
  return s;
}

Status DialectCore::Commit(std::vector<SqlError>* errors) {
  if (depth_ == 0) return Status::Ok();
  if (doomed_) return Doomed(errors);
  Status s = target_->Run("RELEASE torvan_" + std::to_string(depth_ - 1));
  if (!s.ok()) return Failed(s, errors);
  --depth_;
  return s;
}

void DialectCore::Rollback() {
  if (depth_ == 0) return;
  const std::string name = "torvan_" + std::to_string(--depth_);
  if (depth_ == 0 && !doomed_) {
    // The whole transaction. A RELEASE after a ROLLBACK TO would commit what is left, and
    // that commit writes and can fail like any other, leaving the transaction open under
    // every statement that follows.
    (void)target_->Run("ROLLBACK");
  } else if (!doomed_) {
    (void)target_->Run("ROLLBACK TO " + name);
    (void)target_->Run("RELEASE " + name);
  }
  (void)target_->TakeDiagnostics();
  if (depth_ == 0) doomed_ = false;
  // What was undone may have been a schema change.
  Forget();
  schema_version_.reset();
}

void DialectCore::Forget() {
  cache_.clear();
  schema_->Clear();
  ++generation_;
}

Status DialectCore::CheckSchemaVersion(bool* changed, std::vector<SqlError>* errors) {
  *changed = false;
  std::string text;
  for (int attempt = 0;; ++attempt) {
    if (!version_statement_) {
      Status s = target_->Prepare("PRAGMA schema_version", &version_statement_);
      if (!s.ok()) return Failed(s, errors);
    }
    bool has_row = false;
    Status s = version_statement_->Execute({}, &has_row);
    bool is_null = false;
    if (s.ok() && has_row) s = version_statement_->ColumnText(0, &text, &is_null);
    version_statement_->Reset();
    if (s.ok()) break;
    if (!version_statement_->StaleSchema() || attempt > 0) return Failed(s, errors);
    // The pragma itself was prepared before the schema changed.
    target_->TakeDiagnostics();
    version_statement_.reset();
  }
  int64_t version = std::strtoll(text.c_str(), nullptr, 10);
  if (schema_version_ != version) {
    Forget();
    schema_version_ = version;
    *changed = true;
  }
  return Status::Ok();
}

Status DialectCore::Translate(std::string_view statement, Plan* plan,
                              std::vector<SqlError>* errors) {
  SqlError error;
  Status s = TranslateStatement(tokens_, schema_.get(), plan, &error);
  if (!s.ok() &&
      (error.number == server_error::kInvalidObject.number ||
       error.number == server_error::kInvalidColumn.number) &&
      target_->DetectsSchemaChanges()) {
    // What the translator knows of the tables may be older than the database: a table
    // made by another connection since. Look again once.
    bool changed = false;
    Status v = CheckSchemaVersion(&changed, errors);
    if (!v.ok()) return v;
    if (changed) s = TranslateStatement(tokens_, schema_.get(), plan, &error);
  }
  if (!s.ok()) {
    if (error.number == 0) error.description += ": " + Head(statement);
    errors->push_back(std::move(error));
  }
  return s;
}

Status DialectCore::ExecuteNative(std::string_view statement, std::vector<SqlError>* errors) {
  if (doomed_) return Doomed(errors);
  Status result = target_->Run(Cp1252ToUtf8(statement));
  // Whatever ran may have changed the schema: nothing kept from before is trusted.
  Forget();
  schema_version_.reset();
  return result.ok() ? result : Failed(result, errors);
}

Status DialectCore::Prepare(std::string_view statement, Prepared* prepared,
                            std::vector<SqlError>* errors) {
  Status s = Tokenize(statement, &tokens_);
  if (!s.ok()) {
    errors->push_back(DialectError(server_error::kIncorrectSyntax,
                                   "Incorrect syntax: " + s.message() + ": " + Head(statement)));
    return s;
  }
  // The embedded engine's statements notice a changed schema themselves when they run
  // (see Execute); through ODBC, ask the database.
  if (!target_->DetectsSchemaChanges()) {
    bool changed = false;
    if (!(s = CheckSchemaVersion(&changed, errors)).ok()) return s;
  }

  std::vector<const Token*> literals;
  prepared->shape = StatementShape(tokens_, &literals);
  auto it = cache_.find(prepared->shape);
  if (it == cache_.end()) {
    Plan plan;
    if (!(s = Translate(statement, &plan, errors)).ok()) return s;
    if (!BindsEveryLiteral(plan, literals.size())) {
      errors->push_back(
          DialectError(server_error::kInternal, "Internal error translating: " + Head(statement)));
      return Status::Fault("dialect translation does not match its statement");
    }
    if (cache_.size() >= kMaxCached) {
      cache_.clear();
      ++generation_;
    }
    it = cache_.emplace(prepared->shape, Cached{std::move(plan), nullptr}).first;
    if (!(s = target_->Prepare(it->second.plan.statement, &it->second.statement)).ok()) {
      cache_.erase(it);
      return Failed(s, errors);
    }
  }
  Cached& cached = it->second;
  prepared->plan = &cached.plan;
  prepared->values.resize(cached.plan.params.size());
  for (size_t i = 0; i < cached.plan.params.size(); ++i) {
    SqlError error;
    const ParamSpec& param = cached.plan.params[i];
    s = BindLiteral(param, *literals[param.literal], &prepared->values[i], &error);
    if (!s.ok()) {
      errors->push_back(std::move(error));
      return s;
    }
  }
  if (cached.statement) {
    prepared->statement = std::move(cached.statement);
  } else if (!(s = target_->Prepare(cached.plan.statement, &prepared->statement)).ok()) {
    // The kept statement is lent to an open recordset: this run gets its own.
    return Failed(s, errors);
  }
  return Status::Ok();
}

void DialectCore::Return(const std::string& shape, uint64_t generation,
                         std::unique_ptr<TargetStatement> statement) {
  if (generation != generation_) return;
  auto it = cache_.find(shape);
  if (it != cache_.end() && !it->second.statement) it->second.statement = std::move(statement);
}

Status DialectCore::Execute(std::string_view statement, std::vector<SqlError>* errors) {
  if (doomed_) return Doomed(errors);
  for (int attempt = 0;; ++attempt) {
    Prepared p;
    Status s = Prepare(statement, &p, errors);
    if (!s.ok()) return s;
    bool has_row = false;
    s = p.statement->Execute(p.values, &has_row);
    const bool stale = !s.ok() && p.statement->StaleSchema();
    p.statement->Reset();
    Return(p.shape, generation_, std::move(p.statement));
    if (stale && attempt == 0) {
      // Another connection changed the schema since the statement was translated; it ran
      // nothing. Translate it again for the tables as they are now.
      target_->TakeDiagnostics();
      Forget();
      continue;
    }
    return s.ok() ? s : Failed(s, errors);
  }
}

Status DialectCore::OpenRecordset(std::string_view statement, std::unique_ptr<Recordset>* recordset,
                                  std::vector<SqlError>* errors) {
  if (doomed_) return Doomed(errors);
  for (int attempt = 0;; ++attempt) {
    Prepared p;
    Status s = Prepare(statement, &p, errors);
    if (!s.ok()) return s;
    if (p.plan->kind != PlanKind::kQuery) {
      if (p.statement) Return(p.shape, generation_, std::move(p.statement));
      errors->push_back(
          DialectError(server_error::kNoRows, kNoRowsText + (": " + Head(statement))));
      return Status::InvalidArgument("not a query");
    }
    auto r = std::make_unique<DialectRecordset>(this, p.plan->columns, p.shape, generation_,
                                                std::move(p.statement));
    bool stale = false;
    s = r->Start(p.values, &stale);
    if (stale && attempt == 0) {
      r.reset();
      target_->TakeDiagnostics();
      Forget();
      continue;
    }
    if (!s.ok()) return Failed(s, errors);
    *recordset = std::move(r);
    return Status::Ok();
  }
}

Status DialectCore::ListTables(std::vector<std::string>* names, std::vector<SqlError>* errors) {
  TextRows rows;
  Status s = target_->Query(
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
      "ESCAPE '\\'",
      &rows);
  if (!s.ok()) return Failed(s, errors);
  names->clear();
  for (const auto& row : rows) {
    if (!row.empty() && row[0]) names->push_back(Utf8ToCp1252(*row[0]));
  }
  return Status::Ok();
}

Status ReadAllRows(TargetStatement& stmt, TextRows* rows) {
  bool has_row = false;
  Status s = stmt.Execute({}, &has_row);
  const int columns = stmt.ColumnCount();
  while (s.ok() && has_row) {
    auto& row = rows->emplace_back(size_t(columns));
    std::string text;
    bool is_null = false;
    for (int i = 0; i < columns && s.ok(); ++i) {
      s = stmt.ColumnText(i, &text, &is_null);
      if (s.ok() && !is_null) row[size_t(i)] = text;
    }
    if (s.ok()) s = stmt.Next(&has_row);
  }
  return s;
}

}  // namespace torvan::sql
