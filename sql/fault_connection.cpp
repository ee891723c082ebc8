#include "sql/fault_connection.h"

#include <charconv>
#include <cstdio>

#include "platform/file.h"

namespace torvan::sql {

namespace {

constexpr char kSource[] = "guasto simulato";

bool IsWrite(FaultOp op) { return op == FaultOp::kExecute || op == FaultOp::kNative; }

class FaultyConnection;

class FaultyRecordset final : public Recordset {
 public:
  FaultyRecordset(FaultyConnection* owner, std::unique_ptr<Recordset> inner)
      : owner_(owner), inner_(std::move(inner)) {}
  bool Eof() const override { return eof_ || inner_->Eof(); }
  Status MoveNext() override;
  int FieldCount() const override { return inner_->FieldCount(); }
  const std::string& FieldName(int i) const override { return inner_->FieldName(i); }
  const Field& Value(int i) const override {
    static const Field kNone{true, ""};
    return eof_ ? kNone : inner_->Value(i);
  }

 private:
  FaultyConnection* owner_;
  std::unique_ptr<Recordset> inner_;
  bool eof_ = false;
};

class FaultyConnection final : public Connection {
 public:
  FaultyConnection(std::unique_ptr<Connection> inner, std::shared_ptr<FaultPlan> plan)
      : inner_(std::move(inner)), plan_(std::move(plan)) {}

  Status Open() override {
    lost_ = false;
    Status s = inner_->Open();
    if (!s.ok()) return Fail(s, inner_->Errors(), kSource);
    return s;
  }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return !lost_ && inner_->IsOpen(); }
  Dialect dialect() const override { return inner_->dialect(); }

  Status Execute(std::string_view statement) override {
    return Write(FaultOp::kExecute, [&] { return inner_->Execute(statement); });
  }
  Status ExecuteNative(std::string_view statement) override {
    return Write(FaultOp::kNative, [&] { return inner_->ExecuteNative(statement); });
  }

  Status OpenRecordset(std::string_view statement, std::unique_ptr<Recordset>* recordset) override {
    return Query(recordset, [&](std::unique_ptr<Recordset>* inner) {
      return inner_->OpenRecordset(statement, inner);
    });
  }
  Status OpenFirstRows(std::string_view statement, int64_t rows,
                       std::unique_ptr<Recordset>* recordset) override {
    return Query(recordset, [&](std::unique_ptr<Recordset>* inner) {
      return inner_->OpenFirstRows(statement, rows, inner);
    });
  }

  template <class Open>
  Status Query(std::unique_ptr<Recordset>* recordset, Open open) {
    FaultKind kind;
    const bool fault = plan_->Next(FaultOp::kQuery, &kind);
    if (fault && kind != FaultKind::kLostAfter) return Inject(kind);
    std::unique_ptr<Recordset> inner;
    Status s = Pass(open(&inner));
    if (!s.ok()) return s;
    if (fault) return Inject(kind);
    *recordset = std::make_unique<FaultyRecordset>(this, std::move(inner));
    return s;
  }

  Status ListTables(std::vector<std::string>* names) override {
    FaultKind kind;
    const bool fault = plan_->Next(FaultOp::kList, &kind);
    if (fault && kind != FaultKind::kLostAfter) return Inject(kind);
    Status s = Pass(inner_->ListTables(names));
    if (s.ok() && fault) return Inject(kind);
    return s;
  }

  Status Begin() override { return Opened(Pass(inner_->Begin())); }
  Status BeginAllOrNothing() override { return Opened(Pass(inner_->BeginAllOrNothing())); }
  Status Opened(Status s) {
    if (s.ok()) ++depth_;
    return s;
  }
  Status Commit() override {
    FaultKind kind;
    const bool fault = depth_ == 1 && plan_->Next(FaultOp::kCommit, &kind);
    if (fault && kind != FaultKind::kLostAfter) return Inject(kind);
    Status s = Pass(inner_->Commit());
    if (s.ok() && depth_ > 0) --depth_;
    if (s.ok() && fault) return Inject(kind);
    return s;
  }
  // Passed on even when lost: the connection underneath counts the levels it was asked
  // to end.
  void Rollback() override {
    inner_->Rollback();
    if (depth_ > 0) --depth_;
  }

  // The fault's error in the error list; a lost connection stays lost until Open.
  Status Inject(FaultKind kind) {
    if (kind == FaultKind::kLost || kind == FaultKind::kLostAfter) {
      lost_ = true;
      depth_ = 0;  // its transaction went with it
      inner_->Close();
    }
    SqlError e = FaultError(kind);
    Status s = Status::IoError(e.description);
    return Fail(s, {e}, kSource);
  }
  Status Pass(Status s) {
    if (lost_) return Inject(FaultKind::kLost);
    return s.ok() ? s : Fail(s, inner_->Errors(), kSource);
  }
  FaultPlan& plan() { return *plan_; }

 private:
  template <class Run>
  Status Write(FaultOp op, Run run) {
    FaultKind kind;
    const bool fault = plan_->Next(op, &kind);
    if (fault && kind != FaultKind::kLostAfter) return Inject(kind);
    // Outside a transaction the statement commits itself.
    FaultKind commit_kind;
    const bool commit_fails = !fault && depth_ == 0 && plan_->Next(FaultOp::kCommit, &commit_kind);
    if (commit_fails && commit_kind != FaultKind::kLostAfter) return Inject(commit_kind);
    Status s = Pass(run());
    if (s.ok() && (fault || commit_fails)) return Inject(FaultKind::kLostAfter);
    return s;
  }

  std::unique_ptr<Connection> inner_;
  std::shared_ptr<FaultPlan> plan_;
  bool lost_ = false;
  int depth_ = 0;  // transactions open
};

Status FaultyRecordset::MoveNext() {
  if (Eof()) return Status::Ok();
  FaultKind kind;
  const bool fault = owner_->plan().Next(FaultOp::kRead, &kind);
  if (fault && kind != FaultKind::kLostAfter) {
    eof_ = true;
    return owner_->Inject(kind);
  }
  Status s = owner_->Pass(inner_->MoveNext());
  if (s.ok() && fault) s = owner_->Inject(kind);
  if (!s.ok()) eof_ = true;
  return s;
}

bool ParseInt(std::string_view text, int64_t* out) {
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && p == text.data() + text.size() && !text.empty();
}

bool ParseKind(std::string_view text, FaultKind* kind) {
  static const std::pair<const char*, FaultKind> kKinds[] = {
      {"error", FaultKind::kError}, {"busy", FaultKind::kBusy},
      {"io", FaultKind::kIoError},  {"full", FaultKind::kFull},
      {"lost", FaultKind::kLost},   {"lost-after", FaultKind::kLostAfter}};
  for (const auto& [name, k] : kKinds) {
    if (text == name) return *kind = k, true;
  }
  return false;
}

bool ParseOp(std::string_view text, FaultOp* op) {
  static const std::pair<const char*, FaultOp> kOps[] = {
      {"execute", FaultOp::kExecute}, {"native", FaultOp::kNative}, {"query", FaultOp::kQuery},
      {"read", FaultOp::kRead},       {"list", FaultOp::kList},     {"commit", FaultOp::kCommit},
      {"any", FaultOp::kAny}};
  for (const auto& [name, o] : kOps) {
    if (text == name) return *op = o, true;
  }
  return false;
}

}  // namespace

void FaultPlan::SetRandom(uint64_t seed, int one_in, std::vector<FaultKind> kinds) {
  rng_.seed(seed);
  one_in_ = kinds.empty() ? 0 : one_in;
  random_kinds_ = std::move(kinds);
}

bool FaultPlan::Next(FaultOp op, FaultKind* kind) {
  const int n = ++counts_[size_t(op)];
  const int any = op == FaultOp::kCommit ? 0 : ++counts_[size_t(FaultOp::kAny)];
  bool hit = false;
  for (const Fault& f : faults_) {
    const int counted = f.op == FaultOp::kAny ? any : f.op == op ? n : 0;
    if (counted >= f.nth && counted < f.nth + f.times) {
      *kind = f.kind;
      hit = true;
      break;
    }
  }
  if (!hit && one_in_ > 0 && op != FaultOp::kCommit &&
      std::uniform_int_distribution<int>(1, one_in_)(rng_) == 1) {
    *kind = random_kinds_[std::uniform_int_distribution<size_t>(0, random_kinds_.size() - 1)(rng_)];
    // A fault after the work makes sense only where there is work to lose an answer of.
    if (*kind == FaultKind::kLostAfter && !IsWrite(op)) *kind = FaultKind::kLost;
    hit = true;
  }
  if (!hit) return false;
  ++injected_;
  if (!log_.empty()) {
    (void)platform::AppendToFile(
        log_, "fault " + std::to_string(int(*kind)) + " op " + std::to_string(int(op)) + "\n");
  }
  return true;
}

Status ParseFaultPlan(std::string_view text, FaultPlan* plan) {
  while (!text.empty()) {
    const size_t semi = text.find(';');
    const std::string_view item = text.substr(0, semi);
    text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
    if (item.empty() || item.rfind("vfs", 0) == 0) continue;
    const size_t eq = item.find('=');
    if (eq == std::string_view::npos)
      return Status::InvalidArgument("no \"=\" in " + std::string(item));
    const std::string_view key = item.substr(0, eq), value = item.substr(eq + 1);
    if (key == "log") {
      plan->set_log(std::string(value));
      continue;
    }
    if (key.rfind("random", 0) == 0) {
      // random=<one_in>/<seed>=<kind>+<kind>: the key ends at the first "=", the rest holds
      // the figures and the kinds.
      const size_t slash = value.find('/'), kinds_at = value.find('=');
      int64_t one_in = 0, seed = 0;
      if (slash == std::string_view::npos || kinds_at == std::string_view::npos ||
          !ParseInt(value.substr(0, slash), &one_in) ||
          !ParseInt(value.substr(slash + 1, kinds_at - slash - 1), &seed) || one_in < 1) {
        return Status::InvalidArgument("random=<one_in>/<seed>=<kinds>, not " + std::string(item));
      }
      std::vector<FaultKind> kinds;
      std::string_view list = value.substr(kinds_at + 1);
      while (!list.empty()) {
        const size_t plus = list.find('+');
        FaultKind k;
        if (!ParseKind(list.substr(0, plus), &k)) {
          return Status::InvalidArgument("unknown fault " + std::string(list.substr(0, plus)));
        }
        kinds.push_back(k);
        list = plus == std::string_view::npos ? std::string_view() : list.substr(plus + 1);
      }
      plan->SetRandom(uint64_t(seed), int(one_in), std::move(kinds));
      continue;
    }
    Fault f;
    const size_t at = key.find('@');
    const size_t x = key.find('x', at);
    int64_t nth = 0, times = 1;
    if (at == std::string_view::npos || !ParseOp(key.substr(0, at), &f.op) ||
        !ParseInt(key.substr(at + 1, x == std::string_view::npos ? x : x - at - 1), &nth) ||
        (x != std::string_view::npos && !ParseInt(key.substr(x + 1), &times)) ||
        !ParseKind(value, &f.kind) || nth < 1 || times < 1) {
      return Status::InvalidArgument("<op>@<n>[x<times>]=<kind>, not " + std::string(item));
    }
    f.nth = int(nth);
    f.times = int(times);
    plan->Add(f);
  }
  return Status::Ok();
}

SqlError FaultError(FaultKind kind) {
  SqlError e;
  e.source = kSource;
  switch (kind) {
    case FaultKind::kError:
      e.description = "guasto simulato";
      e.sql_state = "HY000";
      e.origin = ErrorOrigin::kTorvan;
      break;
    case FaultKind::kBusy:
      e.number = e.native_error = 5;
      e.description = "database is locked";
      e.sql_state = "HY000";
      e.origin = ErrorOrigin::kSqlite;
      break;
    case FaultKind::kIoError:
      e.number = e.native_error = 10;
      e.description = "disk I/O error";
      e.sql_state = "HY000";
      e.origin = ErrorOrigin::kSqlite;
      break;
    case FaultKind::kFull:
      e.number = e.native_error = 13;
      e.description = "database or disk is full";
      e.sql_state = "HY000";
      e.origin = ErrorOrigin::kSqlite;
      break;
    case FaultKind::kLost:
    case FaultKind::kLostAfter:
      e.description = "Communication link failure";
      e.sql_state = "08S01";
      e.origin = ErrorOrigin::kOdbc;
      break;
  }
  return e;
}

std::unique_ptr<Connection> NewFaultyConnection(std::unique_ptr<Connection> inner,
                                                std::shared_ptr<FaultPlan> plan) {
  return std::make_unique<FaultyConnection>(std::move(inner), std::move(plan));
}

}  // namespace torvan::sql
