#include "sql/transaction_guard.h"

namespace torvan::sql {

namespace {

constexpr char kSource[] = "Torvan";
constexpr char kLostText[] =
    "la transazione aperta \xE8 andata persa con il collegamento al database: "
    "quanto vi era stato fatto non c'\xE8 pi\xF9";

class GuardedConnection final : public Connection {
 public:
  explicit GuardedConnection(std::unique_ptr<Connection> engine) : engine_(std::move(engine)) {}

  Status Open() override {
    if (levels_ > 0) lost_ = true;
    return Pass(engine_->Open());
  }
  void Close() override {
    if (levels_ > 0) lost_ = true;
    engine_->Close();
  }
  bool IsOpen() const override { return engine_->IsOpen(); }
  Dialect dialect() const override { return engine_->dialect(); }

  Status Execute(std::string_view statement) override {
    return Guarded([&] { return engine_->Execute(statement); });
  }
  Status ExecuteAll(const std::vector<std::string>& statements, size_t* done) override {
    *done = 0;
    return Guarded([&] { return engine_->ExecuteAll(statements, done); });
  }
  Status ExecuteNative(std::string_view statement) override {
    return Guarded([&] { return engine_->ExecuteNative(statement); });
  }
  Status OpenRecordset(std::string_view statement, std::unique_ptr<Recordset>* rs) override {
    return Guarded([&] { return engine_->OpenRecordset(statement, rs); });
  }
  Status OpenFirstRows(std::string_view statement, int64_t rows,
                       std::unique_ptr<Recordset>* rs) override {
    return Guarded([&] { return engine_->OpenFirstRows(statement, rows, rs); });
  }
  Status ListTables(std::vector<std::string>* names) override {
    return Guarded([&] { return engine_->ListTables(names); });
  }

  Status Begin() override {
    return Opened(Guarded([&] { return engine_->Begin(); }));
  }
  Status BeginAllOrNothing() override {
    return Opened(Guarded([&] { return engine_->BeginAllOrNothing(); }));
  }
  Status Commit() override {
    Status s = Guarded([&] { return engine_->Commit(); });
    if (s.ok() && levels_ > 0) --levels_;
    return s;
  }
  void Rollback() override {
    engine_->Rollback();
    if (levels_ > 0) --levels_;
    if (levels_ == 0) lost_ = false;
  }

 private:
  template <class Run>
  Status Guarded(Run run) {
    // An engine that noticed the end of its link closes itself.
    if (levels_ > 0 && !engine_->IsOpen()) lost_ = true;
    if (lost_) {
      SqlError e;
      e.source = kSource;
      e.origin = ErrorOrigin::kTorvan;
      e.sql_state = "08007";
      e.description = kLostText;
      return Fail(Status::Closed(kLostText), {e}, kSource);
    }
    return Pass(run());
  }
  Status Opened(Status s) {
    if (s.ok()) ++levels_;
    return s;
  }
  Status Pass(Status s) { return s.ok() ? s : Fail(s, engine_->Errors(), kSource); }

  std::unique_ptr<Connection> engine_;
  int levels_ = 0;     // Begins not yet ended by a Commit or a Rollback
  bool lost_ = false;  // the transaction those levels opened is gone
};

}  // namespace

std::unique_ptr<Connection> GuardTransactions(std::unique_ptr<Connection> engine) {
  return std::make_unique<GuardedConnection>(std::move(engine));
}

}  // namespace torvan::sql
