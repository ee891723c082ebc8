// For tests: faults injected into Torvan's SQL connections by wrapping the real ones, so
// that replication, the schema operations and the soak meet a database that fails exactly
// where a test says, as they would meet a real one.
//
// A FaultPlan names the operations that fail and how; a FaultyConnection counts the
// operations it passes to its inner connection and fails those the plan names. Several
// connections share one plan (a database opened again after a lost connection counts on),
// and so do the engines: the wrapper knows nothing of SQLite, ODBC or PostgreSQL. The
// storage under the embedded engine fails through sql/fault_vfs.h instead.
//
// A commit (FaultOp::kCommit) is the outermost Commit of a transaction, or, outside one, the
// end of every statement that writes: a failed commit keeps nothing of what it would have
// made durable.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "sql/connection.h"

namespace torvan::sql {

// The operations a plan counts.
enum class FaultOp {
  kExecute,  // Execute: a row statement
  kNative,   // ExecuteNative: a schema statement
  kQuery,    // OpenRecordset
  kRead,     // Recordset::MoveNext
  kList,     // ListTables
  kCommit,   // the commit of a statement that writes (Execute, ExecuteNative)
  kAny,      // each of the above but kCommit
};

enum class FaultKind {
  kError,      // the operation fails having done nothing (HY000, "guasto simulato")
  kBusy,       // another program holds the database's lock (SQLite 5 "database is locked")
  kIoError,    // the disk fails (SQLite 10 "disk I/O error"), nothing done
  kFull,       // the disk is full (SQLite 13 "database or disk is full"), nothing done
  kLost,       // the connection is lost before the operation (08S01); closed until Open
  kLostAfter,  // the operation is done, then the connection is lost before its answer
};

struct Fault {
  FaultOp op = FaultOp::kAny;
  int nth = 1;  // the nth operation of `op` the plan counts, from 1
  FaultKind kind = FaultKind::kError;
  int times = 1;  // that one and the times - 1 operations of `op` after it
};

class FaultPlan {
 public:
  FaultPlan() = default;
  explicit FaultPlan(std::vector<Fault> faults) : faults_(std::move(faults)) {}

  void Add(Fault fault) { faults_.push_back(fault); }
  // Besides the faults named, every operation fails with a chance of 1 in `one_in`, of one
  // of `kinds` taken at random (seeded: the same seed fails the same operations).
  void SetRandom(uint64_t seed, int one_in, std::vector<FaultKind> kinds);
  // Appends a line per fault injected to this file (the soak counts them).
  void set_log(std::string path) { log_ = std::move(path); }

  // Counts one operation of `op` and says whether it fails, and how.
  bool Next(FaultOp op, FaultKind* kind);

  // Operations counted so far, per kind of operation; faults injected.
  int counted(FaultOp op) const { return counts_[size_t(op)]; }
  int injected() const { return injected_; }

 private:
  std::vector<Fault> faults_;
  int counts_[7] = {};
  int injected_ = 0;
  int one_in_ = 0;
  std::vector<FaultKind> random_kinds_;
  std::mt19937_64 rng_;
  std::string log_;
};

// Reads a plan from its text, as TORVAN_TEST_SQL_FAULTS gives it to `torvan run`: items
// separated by ";", each
//   <op>@<n>[x<times>]=<kind>      op: execute native query read list commit any
//   random=<one_in>/<seed>=<kind>+<kind>...
//   log=<path>
// kind: error busy io full lost lost-after. "vfs..." items are the VFS's (sql/fault_vfs.h)
// and skipped here.
Status ParseFaultPlan(std::string_view text, FaultPlan* plan);

// The error an operation meets for a fault of that kind.
SqlError FaultError(FaultKind kind);

// `inner` behind the faults of `plan`.
std::unique_ptr<Connection> NewFaultyConnection(std::unique_ptr<Connection> inner,
                                                std::shared_ptr<FaultPlan> plan);

}  // namespace torvan::sql
