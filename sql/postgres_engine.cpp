// The PostgreSQL engine, on libpq.
//
// Database n is the database <Nome_DB> of the server <Server_DB> ("host" or "host,port"),
// logged in as <Utente_DB>; further libpq options ("port=5433;sslmode=verify-full;") come
// from the key "Attributi". The database must hold UTF-8; the session exchanges UTF-8,
// converted from and to Windows-1252 here. Row statements are T-SQL rewritten by
// sql/postgres_dialect.h and kept prepared by their text; schema statements are rendered
// for PostgreSQL by schema/objects.h and run as they are. The connection, its pipeline and its
// recordsets are one job on one libpq connection, hence one file.

#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <unordered_map>

#include "core/text.h"
#include "sql/engines.h"
#include "sql/postgres_dialect.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql {

namespace {

constexpr char kSource[] = "PostgreSQL";

// Statement names are never used twice in a process, so a name dropped later than its
// statement was forgotten can never meet a new statement of that name.
std::atomic<uint64_t> statement_names{0};

// libpq's messages may run over lines ("...failed: Connection refused\n\tIs the server
// running..."): one line, for the message log.
std::string TrimLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n' || c == '\t' || c == '\r') {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

SqlError MakeError(std::string sql_state, const std::string& utf8_message) {
  SqlError e;
  e.origin = ErrorOrigin::kPostgres;
  e.source = kSource;
  e.sql_state = std::move(sql_state);
  e.description = Utf8ToCp1252(TrimLine(utf8_message));
  return e;
}

// The error of a failed result, or of the connection when there is no result. A connection
// that broke on the way is "08006" whatever else was said.
SqlError ErrorOf(PGconn* conn, const PGresult* res) {
  const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
  std::string message;
  if (res != nullptr) {
    const char* primary = PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY);
    const char* detail = PQresultErrorField(res, PG_DIAG_MESSAGE_DETAIL);
    message = primary ? primary : PQresultErrorMessage(res);
    if (detail) message += std::string(" (") + detail + ")";
  }
  if (message.empty() && conn != nullptr) message = PQerrorMessage(conn);
  std::string code = state ? state : "";
  if (code.empty() || (conn != nullptr && PQstatus(conn) == CONNECTION_BAD)) {
    if (code.rfind("57P0", 0) != 0)
      code = conn != nullptr && PQstatus(conn) == CONNECTION_BAD ? "08006" : "HY000";
  }
  return MakeError(code, message.empty() ? "no answer from the server" : message);
}

using Result = std::unique_ptr<PGresult, decltype(&PQclear)>;

bool Succeeded(const PGresult* res) {
  const ExecStatusType st = PQresultStatus(res);
  return res != nullptr && (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK);
}

class PgRecordset final : public Recordset {
 public:
  PgRecordset(Result result, std::shared_ptr<const bool> open)
      : result_(std::move(result)), open_(std::move(open)) {
    for (int i = 0; i < PQnfields(result_.get()); ++i) {
      names_.push_back(Utf8ToCp1252(PQfname(result_.get(), i)));
    }
    Load();
  }

  bool Eof() const override { return !*open_ || row_ >= PQntuples(result_.get()); }
  Status MoveNext() override {
    if (!Eof()) ++row_;
    Load();
    return Status::Ok();
  }
  int FieldCount() const override { return int(names_.size()); }
  const std::string& FieldName(int i) const override {
    static const std::string kNone;
    return i >= 0 && size_t(i) < names_.size() ? names_[size_t(i)] : kNone;
  }
  const Field& Value(int i) const override {
    static const Field kNone{true, ""};
    if (Eof() || i < 0 || size_t(i) >= values_.size()) return kNone;
    return values_[size_t(i)];
  }

 private:
  void Load() {
    values_.clear();
    if (Eof()) return;
    for (int i = 0; i < int(names_.size()); ++i) {
      Field f;
      f.is_null = PQgetisnull(result_.get(), row_, i) != 0;
      if (!f.is_null) f.text = Utf8ToCp1252(PQgetvalue(result_.get(), row_, i));
      values_.push_back(std::move(f));
    }
  }

  Result result_;
  std::shared_ptr<const bool> open_;
  std::vector<std::string> names_;
  std::vector<Field> values_;
  int row_ = 0;
};

class PgConnection final : public Connection {
 public:
  explicit PgConnection(ConnectionParams params) : params_(std::move(params)) {}
  ~PgConnection() override { Close(); }

  Status Open() override {
    Close();
    std::vector<std::pair<std::string, std::string>> options;
    std::string host = Cp1252ToUtf8(params_.server), port;
    if (size_t comma = host.find(','); comma != std::string::npos) {
      port = Trim(host.substr(comma + 1));
      host = Trim(host.substr(0, comma));
    }
    options.emplace_back("host", host.empty() ? "localhost" : host);
    if (!port.empty()) options.emplace_back("port", port);
    options.emplace_back("dbname", Cp1252ToUtf8(params_.database));
    options.emplace_back("user", Cp1252ToUtf8(params_.user));
    if (!params_.password.empty()) options.emplace_back("password", Cp1252ToUtf8(params_.password));
    options.emplace_back("connect_timeout", std::to_string(params_.login_timeout_seconds));
    options.emplace_back("application_name", "Torvan");
    options.emplace_back("client_encoding", "UTF8");
    // The operator's "key=value;" options come last: they may name another port.
    std::string_view extra = params_.odbc_extra;
    while (!extra.empty()) {
      const size_t end = extra.find(';');
      std::string pair(extra.substr(0, end));
      extra = end == std::string_view::npos ? std::string_view() : extra.substr(end + 1);
      if (Trim(pair).empty()) continue;
      const size_t eq = pair.find('=');
      if (eq == std::string::npos) {
        return Fail(Status::InvalidArgument("bad option"),
                    {MakeError("08001", "option without \"=\" in \"Attributi\": " + pair)},
                    kSource);
      }
      options.emplace_back(Trim(pair.substr(0, eq)), Trim(pair.substr(eq + 1)));
    }
    std::vector<const char*> keys, values;
    for (const auto& [k, v] : options) {
      keys.push_back(k.c_str());
      values.push_back(v.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* conn = PQconnectdbParams(keys.data(), values.data(), 0);
    if (conn == nullptr || PQstatus(conn) != CONNECTION_OK) {
      SqlError e = MakeError("08001", conn ? PQerrorMessage(conn) : "out of memory");
      PQfinish(conn);
      return Fail(Status::IoError(e.description), {e}, kSource);
    }
    // The server's notices ("does not exist, skipping") are no errors and no output.
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    const char* encoding = PQparameterStatus(conn, "server_encoding");
    if (encoding == nullptr || std::string_view(encoding) != "UTF8") {
      SqlError e = MakeError("08001", "the database " + Cp1252ToUtf8(params_.database) + " holds " +
                                          (encoding ? encoding : "?") +
                                          ", not UTF8: create it with ENCODING 'UTF8'");
      PQfinish(conn);
      return Fail(Status::IoError(e.description), {e}, kSource);
    }
    conn_ = conn;
    open_ = std::make_shared<bool>(true);
    // A lock held by another session fails the statement soon (55P03), and the caller
    // tries again later, letting events run meanwhile.
    return Simple("SET lock_timeout = " + std::to_string(params_.busy_timeout_ms));
  }

  void Close() override {
    if (open_) *open_ = false;
    open_.reset();
    if (conn_ != nullptr) PQfinish(conn_);
    conn_ = nullptr;
    prepared_.clear();
    depth_ = 0;
    all_or_nothing_ = false;
    deallocate_ = false;
  }
  bool IsOpen() const override { return conn_ != nullptr; }
  Dialect dialect() const override { return Dialect::kPostgres; }

  Status Execute(std::string_view statement) override {
    Result res(nullptr, &PQclear);
    return Row(statement, &res);
  }

  // Inside a transaction begun all or nothing the statements go in one pipeline, answered
  // in one round trip; the server skips those after a failure.
  Status ExecuteAll(const std::vector<std::string>& statements, size_t* done) override {
    *done = 0;
    if (conn_ == nullptr) return NotOpen();
    if (depth_ == 0 || !all_or_nothing_ || statements.size() < 2) {
      return Connection::ExecuteAll(statements, done);
    }
    std::vector<PgStatement> pgs(statements.size());
    std::vector<std::string> names(statements.size());
    for (size_t i = 0; i < statements.size(); ++i) {
      if (Status s = Translate(statements[i], &pgs[i]); !s.ok()) return s;
      if (Status s = PrepareOnce(pgs[i], &names[i]); !s.ok()) return s;
    }
    if (PQenterPipelineMode(conn_) != 1) return Failed(nullptr);
    bool sent = true;
    for (size_t i = 0; i < pgs.size() && sent; ++i) {
      std::vector<const char*> values;
      for (const std::string& p : pgs[i].params) values.push_back(p.c_str());
      sent = PQsendQueryPrepared(conn_, names[i].c_str(), int(values.size()), values.data(),
                                 nullptr, nullptr, 0) == 1;
    }
    const bool synced = PQpipelineSync(conn_) == 1;
    std::vector<Result> results;
    if (Status s = EndPipeline(synced, pgs.size(), &results); !s.ok()) return s;
    for (; *done < results.size(); ++*done) {
      if (!sent || !synced || !Succeeded(results[*done].get())) {
        const PGresult* r = results[*done].get();
        return Failed(r != nullptr && PQresultStatus(r) != PGRES_PIPELINE_ABORTED ? r : nullptr);
      }
    }
    return Status::Ok();
  }

  Status ExecuteNative(std::string_view statement) override {
    if (conn_ == nullptr) return NotOpen();
    Status s = Alone([&] { return Simple(Cp1252ToUtf8(statement)); });
    // Prepared statements may name objects that changed.
    prepared_.clear();
    if (depth_ == 0) {
      (void)Simple("DEALLOCATE ALL", /*report=*/false);
    } else {
      deallocate_ = true;
    }
    return s;
  }

  Status OpenRecordset(std::string_view statement, std::unique_ptr<Recordset>* recordset) override {
    return Query(statement, "", recordset);
  }
  // The server sends every row of an answer at once: a caller that reads a few rows asks
  // for those, or reading the oldest of N master rows would bring all N each time.
  Status OpenFirstRows(std::string_view statement, int64_t rows,
                       std::unique_ptr<Recordset>* recordset) override {
    return Query(statement, " LIMIT " + std::to_string(std::max<int64_t>(rows, 1)), recordset);
  }

  Status ListTables(std::vector<std::string>* names) override {
    if (conn_ == nullptr) return NotOpen();
    Result res(PQexec(conn_,
                      "SELECT tablename FROM pg_catalog.pg_tables WHERE schemaname = "
                      "pg_catalog.current_schema()"),
               &PQclear);
    if (!Succeeded(res.get())) return Failed(res.get());
    names->clear();
    for (int i = 0; i < PQntuples(res.get()); ++i) {
      names->push_back(Utf8ToCp1252(PQgetvalue(res.get(), i, 0)));
    }
    return Status::Ok();
  }

  Status Begin() override {
    if (conn_ == nullptr) return NotOpen();
    Status s = Simple(depth_ == 0 ? "BEGIN" : "SAVEPOINT " + Savepoint(depth_ + 1));
    if (s.ok()) ++depth_;
    return s;
  }
  // The statements go without a savepoint each, a third of the server's work per
  // statement; the first that fails leaves the transaction aborted.
  Status BeginAllOrNothing() override {
    const bool outermost = depth_ == 0;
    Status s = Begin();
    if (s.ok() && outermost) all_or_nothing_ = true;
    return s;
  }

  Status Commit() override {
    if (conn_ == nullptr) return NotOpen();
    if (depth_ == 0) return Status::Ok();
    if (depth_ > 1) {
      Status s = Simple("RELEASE SAVEPOINT " + Savepoint(depth_));
      if (s.ok()) --depth_;
      return s;
    }
    Result res(PQexec(conn_, "COMMIT"), &PQclear);
    if (!Succeeded(res.get())) return Failed(res.get());
    // A transaction that met an error is rolled back by its COMMIT.
    if (std::string_view(PQcmdStatus(res.get())) == "ROLLBACK") {
      --depth_;
      AfterTransaction();
      return Fail(Status::IoError("rolled back"),
                  {MakeError("40000", "the transaction met an error and was rolled back")},
                  kSource);
    }
    --depth_;
    AfterTransaction();
    return Status::Ok();
  }

  void Rollback() override {
    if (conn_ == nullptr || depth_ == 0) return;
    if (depth_ > 1) {
      (void)Simple("ROLLBACK TO SAVEPOINT " + Savepoint(depth_), false);
      (void)Simple("RELEASE SAVEPOINT " + Savepoint(depth_), false);
    } else {
      (void)Simple("ROLLBACK", false);
    }
    --depth_;
    if (depth_ == 0) AfterTransaction();
  }

 private:
  static std::string Savepoint(int level) { return "torvan_" + std::to_string(level); }

  Status Query(std::string_view statement, std::string_view suffix,
               std::unique_ptr<Recordset>* recordset) {
    Result res(nullptr, &PQclear);
    Status s = Row(statement, &res, suffix);
    if (!s.ok()) return s;
    *recordset = std::make_unique<PgRecordset>(std::move(res), open_);
    return Status::Ok();
  }

  // Inside a transaction a failed statement undoes only itself, as in the other engines
  // (PostgreSQL would otherwise refuse every later statement of the transaction).
  template <class Work>
  Status Alone(Work work) {
    if (conn_ == nullptr || depth_ == 0 || all_or_nothing_) return work();
    if (Status s = Simple("SAVEPOINT torvan_statement"); !s.ok()) return s;
    Status s = work();
    if (!s.ok() && depth_ > 0) (void)Simple("ROLLBACK TO SAVEPOINT torvan_statement", false);
    if (depth_ > 0) (void)Simple("RELEASE SAVEPOINT torvan_statement", false);
    return s;
  }

  void AfterTransaction() {
    all_or_nothing_ = false;
    if (!deallocate_) return;
    deallocate_ = false;
    prepared_.clear();
    (void)Simple("DEALLOCATE ALL", false);
  }

  // One statement without parameters, its rows ignored.
  Status Simple(const std::string& utf8, bool report = true) {
    Result res(PQexec(conn_, utf8.c_str()), &PQclear);
    if (Succeeded(res.get())) return Status::Ok();
    if (!report) return Status::IoError("ignored");
    return Failed(res.get());
  }

  // The statement for PostgreSQL, its literals as parameters.
  Status Translate(std::string_view statement, PgStatement* pg) {
    Status s = Tokenize(statement, &tokens_);
    if (!s.ok()) return Fail(s, {MakeError("42601", s.message())}, kSource);
    SqlError e;
    s = TranslateForPostgres(tokens_, pg, &e);
    return s.ok() ? s : Fail(s, {e}, kSource);
  }

  // A row statement, prepared once by its shape; `suffix` is added to the rewritten text.
  Status Row(std::string_view statement, Result* out, std::string_view suffix = {}) {
    if (conn_ == nullptr) return NotOpen();
    PgStatement pg;
    if (Status s = Translate(statement, &pg); !s.ok()) return s;
    Status s;
    pg.text += suffix;
    std::vector<const char*> values;
    for (const std::string& p : pg.params) values.push_back(p.c_str());
    for (int attempt = 0;; ++attempt) {
      std::string name;
      // Inside a transaction a statement that cannot be prepared (a missing table) would
      // end the transaction: its first preparing is guarded too.
      s = depth_ > 0 && !prepared_.contains(pg.text) ? Alone([&] { return PrepareOnce(pg, &name); })
                                                     : PrepareOnce(pg, &name);
      if (!s.ok()) return s;
      if (depth_ > 0 && !all_or_nothing_) return Guarded(name, values, out);
      out->reset(PQexecPrepared(conn_, name.c_str(), int(values.size()), values.data(), nullptr,
                                nullptr, 0));
      if (Succeeded(out->get())) return Status::Ok();
      // A table made again under a kept statement: prepared once more, outside a
      // transaction only (inside one the error has ended it).
      const char* state = PQresultErrorField(out->get(), PG_DIAG_SQLSTATE);
      if (attempt == 0 && depth_ == 0 && state && std::string_view(state) == "0A000") {
        prepared_.erase(pg.text);
        continue;
      }
      return Failed(out->get());
    }
  }

  // A prepared statement inside a transaction, between a savepoint and its release, the
  // three sent together and answered in one round trip (a pipeline). When the statement
  // fails the server skips the release, and the savepoint is rolled back here: the
  // failure undoes the statement alone.
  Status Guarded(const std::string& name, const std::vector<const char*>& values, Result* out) {
    static constexpr char kSet[] = "SAVEPOINT torvan_statement";
    static constexpr char kRelease[] = "RELEASE SAVEPOINT torvan_statement";
    if (PQenterPipelineMode(conn_) != 1) return Failed(nullptr);
    auto send = [&](const char* text) {
      return PQsendQueryParams(conn_, text, 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
    };
    bool sent = send(kSet) && PQsendQueryPrepared(conn_, name.c_str(), int(values.size()),
                                                  values.data(), nullptr, nullptr, 0) == 1;
    sent = sent && send(kRelease);
    const bool synced = PQpipelineSync(conn_) == 1;
    std::vector<Result> results;
    if (Status s = EndPipeline(synced, 3, &results); !s.ok()) return s;
    if (!sent || !synced || !Succeeded(results[0].get())) {
      return Failed(results[0] && !Succeeded(results[0].get()) ? results[0].get() : nullptr);
    }
    if (!Succeeded(results[1].get())) {
      Status s = Failed(results[1].get());
      if (depth_ > 0)
        (void)Simple("ROLLBACK TO SAVEPOINT torvan_statement; " + std::string(kRelease), false);
      return s;
    }
    if (!Succeeded(results[2].get())) return Failed(results[2].get());
    *out = std::move(results[1]);
    return Status::Ok();
  }

  // Reads the answers of a pipeline of `count` queries ended by a sync, the first result of
  // each (each query's results end with a null), and leaves pipeline mode. Answers left
  // unread (a sync that could not be sent) leave the session of no more use: it is closed.
  Status EndPipeline(bool synced, size_t count, std::vector<Result>* results) {
    for (size_t i = 0; i < count; ++i) results->emplace_back(nullptr, &PQclear);
    for (size_t query = 0; synced;) {
      PGresult* r = PQgetResult(conn_);
      if (r == nullptr) {
        if (PQstatus(conn_) == CONNECTION_BAD) break;
        ++query;
        continue;
      }
      if (PQresultStatus(r) == PGRES_PIPELINE_SYNC) {
        PQclear(r);
        break;
      }
      if (query < count && !(*results)[query]) {
        (*results)[query].reset(r);
      } else {
        PQclear(r);
      }
    }
    if (PQexitPipelineMode(conn_) == 1) return Status::Ok();
    const SqlError e = MakeError("08006", "the server's answers to a statement were lost");
    Close();
    return Fail(Status::IoError(e.description), {e}, kSource);
  }

  Status PrepareOnce(const PgStatement& pg, std::string* name) {
    auto found = prepared_.find(pg.text);
    if (found != prepared_.end()) {
      *name = found->second;
      return Status::Ok();
    }
    *name = "torvan_" + std::to_string(++statement_names);
    Result res(PQprepare(conn_, name->c_str(), pg.text.c_str(), int(pg.params.size()), nullptr),
               &PQclear);
    if (!Succeeded(res.get())) return Failed(res.get());
    prepared_.emplace(pg.text, *name);
    return Status::Ok();
  }

  Status Failed(const PGresult* res) {
    SqlError e = ErrorOf(conn_, res);
    if (IsConnectionLost(e)) depth_ = 0;  // the server ended the transaction with the link
    return Fail(Status::IoError(e.description), {e}, kSource);
  }

  Status NotOpen() {
    return Fail(Status::Closed("not open"), {MakeError("08003", "The connection is not open.")},
                kSource);
  }

  ConnectionParams params_;
  PGconn* conn_ = nullptr;
  std::shared_ptr<bool> open_;
  std::unordered_map<std::string, std::string> prepared_;  // statement text -> name
  std::vector<Token> tokens_;
  int depth_ = 0;
  bool all_or_nothing_ = false;  // the transaction open was begun with BeginAllOrNothing
  bool deallocate_ = false;
};

}  // namespace

std::unique_ptr<Connection> NewPostgresConnection(const ConnectionParams& params) {
  return std::make_unique<PgConnection>(params);
}

}  // namespace torvan::sql
