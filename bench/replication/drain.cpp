// bench/drain: how fast the host-to-SQL step drains a backlog of queued host changes into
// SQLite, against the floor.
//
// torvan-host (a child process) serves five files of twelve fields of every type; N
// random changes are queued over them. Torvan drains them with its replication step
// (Server_SQL_Sincro: S exchanges into the journal, batches of statements through its
// SQLite engine, one transaction each, TnC.Log on). Beside it, on the same host and the same kind
// of database, the floor: one blocking socket doing the S exchange and the same three statements
// per change, prepared on the SQLite C API. Each run is a child process, so each reports its own
// peak memory; Torvan runs again with 4N to show that memory stays flat as the backlog grows.
// The S exchanges alone (nothing applied) are measured too: the link's limit.
//
// With --engine postgresql the database is on a PostgreSQL server the benchmark starts
// (sql/postgres_test_server.h, fsync off as for the tests), and the floor sends the same
// statements through libpq, prepared once, their values as text parameters.
//
//   drain [N, default 20000] [ROUNDS, default 3] [--engine postgresql] [--durevole]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/replication/bench_host.h"
#include "bench/replication/floor_client.h"
#include "core/text.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"
#include "platform/process.h"
#include "replication/replication.h"
#include "sql/decimal.h"
#include "sql/postgres_test_server.h"
#include "sql/sqlite_dialect.h"

namespace {

using namespace torvan;
using namespace torvan::bench;
using Clock = std::chrono::steady_clock;

class Yes final : public Confirmations {
 public:
  void ShowRefusal(Owner, std::string_view, std::string_view) override {}
  bool AskOkCancel(Owner, std::string_view, std::string_view, int64_t) override { return true; }
};

// 0, or the port of the PostgreSQL server the database BENCH is on.
int postgres_port = 0;
// --durevole: Torvan syncs its journal before every S request (setting "Durevole"), with its
// folder on the disk (/var/tmp), not in memory, so that the syncs cost what they cost; the
// floor and the exchanges alone stay as without it.
bool durable = false;

void FreshPostgresDatabase() {
  std::string why;
  if (postgres_port != 0 && !sql::testing::PostgresServer::Shared().CreateDatabase("BENCH", &why)) {
    std::fprintf(stderr, "drain: %s\n", why.c_str());
    std::exit(1);
  }
}

double TorvanDrain(BenchHost& host, int n) {
  platform::KeepFreedMemoryForReuse();  // as torvan and torvan-gui do first
  FreshPostgresDatabase();
  BenchTorvan pc(host, TORVAN_CHAR_TABLE, postgres_port, /*on_disk=*/durable);
  host.Generate(n, 7);
  Yes yes;
  pc.runtime().program.settings.Durevole = durable;
  std::unique_ptr<ReplicationOps> steps = MakeReplication(pc.runtime(), yes);
  const Clock::time_point start = Clock::now();
  while (steps->Server_SQL_Sincro()) {
  }
  // A call applies a batch: the statistics count the changes.
  const int count = pc.runtime().program.stats.Stat_Contatori[kRecordsReceived];
  return RateOf("Torvan applied", "changes", count, n, start);
}

double FloorDrain(BenchHost& host, int n) {
  BenchTorvan pc(host, TORVAN_CHAR_TABLE);  // builds the same tables and triggers
  host.Generate(n, 7);
  FloorClient floor(host.port(), TORVAN_CHAR_TABLE, pc.folder() + "/BENCH.sqlite");
  struct Prepared {
    sqlite3_stmt* mark = nullptr;
    sqlite3_stmt* remove = nullptr;
    sqlite3_stmt* insert = nullptr;
  };
  Prepared files[kBenchFiles + 1];
  for (int k = 1; k <= kBenchFiles; ++k) {
    const std::string t = "\"" + BenchFile(k) + "\"";
    const bool back = k == kBenchFiles;
    if (back)
      files[k].mark =
          floor.Prepare("UPDATE " + t + " SET \"_T_TIPO___\"='D' WHERE \"_T_RRN___\"=?");
    files[k].remove = floor.Prepare("DELETE FROM " + t + " WHERE \"_T_RRN___\"=?");
    std::string columns, marks;
    for (const BenchField& f : BenchFields()) {
      columns += "\"" + std::string(f.name) + "\",";
      marks += "?,";
    }
    files[k].insert = floor.Prepare("INSERT INTO " + t + " (" + columns + "\"_T_RRN___\"" +
                                    (back ? ",\"_T_TIPO___\"" : "") + ") VALUES (" + marks + "?" +
                                    (back ? ",'S'" : "") + ")");
  }
  const hostlink::CharTables& tables = floor.tables();
  namespace cr = hostlink::change_record;
  const Clock::time_point start = Clock::now();
  int count = 0;
  std::string data;
  while (floor.Exchange('S', "", &data)) {
    ++count;
    auto field = [&](char type, int32_t pos, int32_t len, int32_t digits, int32_t decimals) {
      return hostlink::Field_Decode(tables, data, type, pos, len, digits, decimals).text;
    };
    const int64_t rrn = std::atoll(field('B', cr::kRrn.pos, 4, 9, 0).c_str());
    const std::string file = Trim(field('A', cr::kFile.pos, 10, 0, 0));
    const char code = field('A', cr::kCode.pos, 1, 0, 0)[0];
    const int32_t after = std::atoi(field('B', cr::kAfterOffset.pos, 4, 9, 0).c_str()) + 58;
    const Prepared& p = files[file[1] - '0'];
    if (p.mark != nullptr) {
      sqlite3_bind_int64(p.mark, 1, rrn);
      floor.Step(p.mark);
    }
    sqlite3_bind_int64(p.remove, 1, rrn);
    floor.Step(p.remove);
    if (code != '1' && code != '3') continue;
    int32_t pos = 1;
    int i = 1;
    std::string text;
    for (const BenchField& f : BenchFields()) {
      // The bytes torvan-host gives the field: its data folder names no bytes (bench_host.cpp).
      const int32_t bytes = hostlink::FieldBytes(hostlink::FieldType(f.type), f.digits);
      text = field(f.type, after + pos, bytes, f.digits, f.decimals);
      pos += bytes;
      if (hostlink::IsTextField(hostlink::FieldType(f.type))) {
        text = Cp1252ToUtf8(text);
        sqlite3_bind_text(p.insert, i++, text.data(), int(text.size()), SQLITE_TRANSIENT);
        continue;
      }
      std::string canonical;
      if (!sql::ToNumeric(text, f.digits, f.decimals, &canonical).ok()) std::exit(1);
      // Stored as Torvan stores a number: an integer, a double, or the exact text.
      const sql::BoundValue v = sql::StoredNumber(canonical);
      if (v.kind == sql::BoundValue::Kind::kInteger) {
        sqlite3_bind_int64(p.insert, i++, v.integer);
      } else if (v.kind == sql::BoundValue::Kind::kReal) {
        sqlite3_bind_double(p.insert, i++, v.real);
      } else {
        sqlite3_bind_blob(p.insert, i++, v.text.data(), int(v.text.size()), SQLITE_TRANSIENT);
      }
    }
    sqlite3_bind_int64(p.insert, i, rrn);
    floor.Step(p.insert);
  }
  return RateOf("the floor applied", "changes", count, n, start);
}

// The floor on PostgreSQL: the same three statements per change through libpq.
double FloorDrainPostgres(BenchHost& host, int n) {
  FreshPostgresDatabase();
  BenchTorvan pc(host, TORVAN_CHAR_TABLE, postgres_port);  // builds the same tables and triggers
  host.Generate(n, 7);
  FloorClient floor(host.port(), TORVAN_CHAR_TABLE, "");
  PgSession db(postgres_port, "BENCH");
  auto prepare = [&](const std::string& name, const std::string& sql, int params) {
    db.Prepare(name, sql, params);
  };
  auto run = [&](const std::string& name, const std::vector<std::string>& values) {
    db.Run(name, values);
  };
  for (int k = 1; k <= kBenchFiles; ++k) {
    const std::string t = "\"" + BenchFile(k) + "\"", f = BenchFile(k);
    const bool back = k == kBenchFiles;
    if (back) prepare(f + "m", "UPDATE " + t + " SET \"_T_TIPO___\"='D' WHERE \"_T_RRN___\"=$1", 1);
    prepare(f + "d", "DELETE FROM " + t + " WHERE \"_T_RRN___\"=$1", 1);
    std::string columns, marks;
    int i = 1;
    for (const BenchField& field : BenchFields()) {
      columns += "\"" + std::string(field.name) + "\",";
      marks += "$" + std::to_string(i++) + ",";
    }
    prepare(f + "i",
            "INSERT INTO " + t + " (" + columns + "\"_T_RRN___\"" +
                (back ? ",\"_T_TIPO___\"" : "") + ") VALUES (" + marks + "$" + std::to_string(i) +
                (back ? ",'S'" : "") + ")",
            i);
  }
  const hostlink::CharTables& tables = floor.tables();
  namespace cr = hostlink::change_record;
  const Clock::time_point start = Clock::now();
  int count = 0;
  std::string data;
  std::vector<std::string> values;
  while (floor.Exchange('S', "", &data)) {
    ++count;
    auto field = [&](char type, int32_t pos, int32_t len, int32_t digits, int32_t decimals) {
      return hostlink::Field_Decode(tables, data, type, pos, len, digits, decimals).text;
    };
    const std::string rrn = std::to_string(std::atoll(field('B', cr::kRrn.pos, 4, 9, 0).c_str()));
    const std::string file = Trim(field('A', cr::kFile.pos, 10, 0, 0));
    const char code = field('A', cr::kCode.pos, 1, 0, 0)[0];
    const int32_t after = std::atoi(field('B', cr::kAfterOffset.pos, 4, 9, 0).c_str()) + 58;
    if (file == BenchFile(kBenchFiles)) run(file + "m", {rrn});
    run(file + "d", {rrn});
    if (code != '1' && code != '3') continue;
    values.clear();
    int32_t pos = 1;
    for (const BenchField& f : BenchFields()) {
      const int32_t bytes = hostlink::FieldBytes(hostlink::FieldType(f.type), f.digits);
      std::string text = field(f.type, after + pos, bytes, f.digits, f.decimals);
      pos += bytes;
      if (f.type == 'A') {
        values.push_back(Cp1252ToUtf8(text));
        continue;
      }
      std::string canonical;
      if (!sql::ToNumeric(text, f.digits, f.decimals, &canonical).ok()) std::exit(1);
      values.push_back(canonical);
    }
    values.push_back(rrn);
    run(file + "i", values);
  }
  return RateOf("the floor applied", "changes", count, n, start);
}

// The S exchanges alone, nothing applied: the most any drain can reach over this link.
double ExchangesAlone(BenchHost& host, int n) {
  BenchTorvan pc(host, TORVAN_CHAR_TABLE);
  host.Generate(n, 7);
  FloorClient floor(host.port(), TORVAN_CHAR_TABLE, "");
  const Clock::time_point start = Clock::now();
  int count = 0;
  std::string data;
  while (floor.Exchange('S', "", &data)) ++count;
  return RateOf("the exchanges alone", "changes", count, n, start);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool postgres = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--durevole") {
      durable = true;
      args.erase(args.begin() + long(i));
      break;
    }
  }
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--engine" && i + 1 < args.size() && args[i + 1] == "postgresql") {
      postgres = true;
      args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
      break;
    }
  }
  const int n = args.size() > 0 ? std::atoi(args[0].c_str()) : 20000;
  const int rounds = args.size() > 1 ? std::atoi(args[1].c_str()) : 3;
  if (n < 1 || rounds < 1) {
    std::fprintf(stderr, "usage: drain [N [ROUNDS]] [--engine postgresql] [--durevole]\n");
    return 2;
  }
  if (postgres) {
    sql::testing::PostgresServer& server = sql::testing::PostgresServer::Shared();
    if (!server.Available()) {
      std::fprintf(stderr, "drain: %s\n", server.WhyNot().c_str());
      return 1;
    }
    postgres_port = server.port();
  }
  BenchHost host(TORVAN_HOST_EXE);
  std::printf("drain: %d host changes over %d files into %s (journal, TnC.Log on)\n", n,
              kBenchFiles, postgres ? "PostgreSQL" : "SQLite");
  Compare(
      n, rounds, postgres ? 1.0 : 2.0,  // into PostgreSQL: at least the libpq floor
      [&](int count) {
        return postgres ? FloorDrainPostgres(host, count) : FloorDrain(host, count);
      },
      [&](int count) { return TorvanDrain(host, count); },
      [&](int count) { return ExchangesAlone(host, count); });
  return 0;
}
