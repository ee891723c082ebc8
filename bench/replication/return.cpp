// bench/return: how fast the SQL-to-host step returns a backlog of SQL-side changes to the
// host, against the floor.
//
// N rows are inserted on the SQL side into the mirror table of the file replicated back,
// so its triggers record N events. Torvan returns them with its replication step
// (Server_SQL_Ritorno: master row, event row, the INSERT statement for the host, one R
// exchange, two deletes, in-flight marks on the pending file). Beside it, the floor on the
// same host and the same kind of database: the same reads, statement, exchange and
// deletes, prepared on the SQLite C API over one blocking socket. Each run is a child
// process with its own peak memory; Torvan runs again with 4N.
//
//   return [N, default 20000]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/replication/bench_host.h"
#include "bench/replication/floor_client.h"
#include "core/text.h"
#include "replication/replication.h"

namespace {

using namespace torvan;
using namespace torvan::bench;
using Clock = std::chrono::steady_clock;

class Yes final : public Confirmations {
 public:
  void ShowRefusal(Owner, std::string_view, std::string_view) override {}
  bool AskOkCancel(Owner, std::string_view, std::string_view, int64_t) override { return true; }
};

const std::string kBack = "F" + std::to_string(kBenchFiles);

// N rows written on the SQL side, in one transaction (the triggers record each).
void InsertRows(const std::string& database, int n) {
  sqlite3* db = nullptr;
  sqlite3_open(database.c_str(), &db);
  std::string columns, marks;
  for (const BenchField& f : BenchFields()) {
    columns += "\"" + std::string(f.name) + "\",";
    marks += "?,";
  }
  columns.pop_back();
  marks.pop_back();
  sqlite3_stmt* insert = nullptr;
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_prepare_v2(
      db, ("INSERT INTO \"" + kBack + "\" (" + columns + ") VALUES (" + marks + ")").c_str(), -1,
      &insert, nullptr);
  for (int r = 0; r < n; ++r) {
    int i = 1;
    for (const BenchField& f : BenchFields()) {
      std::string v;
      if (f.type == 'A') {
        v = std::string(f.name).substr(0, size_t(f.digits)) +
            (f.digits > 6 ? std::to_string(r % 1000) : "");
        v = v.substr(0, size_t(f.digits));
      } else if (f.decimals > 0) {
        v = std::to_string(r % 997) + "." + std::string(size_t(f.decimals), '5');
      } else {
        v = std::to_string(r % 997);
      }
      sqlite3_bind_text(insert, i++, v.c_str(), -1, SQLITE_TRANSIENT);
    }
    if (sqlite3_step(insert) != SQLITE_DONE) {
      std::fprintf(stderr, "insert: %s\n", sqlite3_errmsg(db));
      std::exit(1);
    }
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

double TorvanReturn(BenchHost& host, int n) {
  BenchTorvan pc(host, TORVAN_CHAR_TABLE);
  InsertRows(pc.folder() + "/BENCH.sqlite", n);
  Yes yes;
  std::unique_ptr<ReplicationOps> steps = MakeReplication(pc.runtime(), yes);
  const Clock::time_point start = Clock::now();
  int count = 0;
  while (steps->Server_SQL_Ritorno()) ++count;
  return RateOf("Torvan returned", "events", count, n, start);
}

double FloorReturn(BenchHost& host, int n) {
  BenchTorvan pc(host, TORVAN_CHAR_TABLE);
  InsertRows(pc.folder() + "/BENCH.sqlite", n);
  FloorClient floor(host.port(), TORVAN_CHAR_TABLE, pc.folder() + "/BENCH.sqlite");
  sqlite3_stmt* master = floor.Prepare(
      "SELECT \"_T_RRN___\",\"_T_FILE___\",\"_T_PROGR___\" FROM \"_T_MASTER___\" ORDER BY "
      "\"_T_RRN___\" LIMIT 1");
  std::string columns;
  for (const BenchField& f : BenchFields()) columns += "\"" + std::string(f.name) + "\",";
  sqlite3_stmt* event =
      floor.Prepare("SELECT " + columns + "\"_T_IDX___\",\"_T_RRN___\",\"_T_EVENTO___\" FROM \"" +
                    kBack + "___\" WHERE \"_T_PROGR___\"=?");
  sqlite3_stmt* drop_event =
      floor.Prepare("DELETE FROM \"" + kBack + "___\" WHERE \"_T_PROGR___\"=?");
  sqlite3_stmt* drop_master = floor.Prepare("DELETE FROM \"_T_MASTER___\" WHERE \"_T_RRN___\"=?");
  const Clock::time_point start = Clock::now();
  int count = 0;
  std::string reply;
  for (;;) {
    if (sqlite3_step(master) != SQLITE_ROW) {
      sqlite3_reset(master);
      break;
    }
    const int64_t master_rrn = sqlite3_column_int64(master, 0);
    const int64_t progr = sqlite3_column_int64(master, 2);
    sqlite3_reset(master);
    sqlite3_bind_int64(event, 1, progr);
    if (sqlite3_step(event) != SQLITE_ROW) std::exit(1);
    std::string names, values;
    int i = 0;
    for (const BenchField& f : BenchFields()) {
      const std::string v =
          Utf8ToCp1252(reinterpret_cast<const char*>(sqlite3_column_text(event, i++)));
      names += std::string(f.name) + ",";
      if (f.type == 'A') {
        values += "'";
        for (char c : TrimRight(v)) values += c == '\'' ? std::string("''") : std::string(1, c);
        values += "', ";
      } else {
        values += Trim(v) + ", ";
      }
    }
    const std::string idx = reinterpret_cast<const char*>(sqlite3_column_text(event, i));
    sqlite3_reset(event);
    const std::string statement =
        "INSERT INTO DATI/" + kBack + " (" + names + "\xA7_T_IDX___) VALUES(" + values + idx + ")";
    if (!floor.Exchange('R', statement, &reply) || reply.empty() ||
        floor.tables().HostToPc(uint8_t(reply[0])) != ' ') {
      std::fprintf(stderr, "the host refused: %s\n", statement.c_str());
      std::exit(1);
    }
    sqlite3_bind_int64(drop_event, 1, progr);
    floor.Step(drop_event);
    sqlite3_bind_int64(drop_master, 1, master_rrn);
    floor.Step(drop_master);
    ++count;
  }
  return RateOf("the floor returned", "events", count, n, start);
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  if (n < 1 || rounds < 1) {
    std::fprintf(stderr, "usage: return [N [ROUNDS]]\n");
    return 2;
  }
  BenchHost host(TORVAN_HOST_EXE);
  std::printf("return: %d SQL-side events returned to the host as INSERT statements\n", n);
  Compare(
      n, rounds, [&](int count) { return FloorReturn(host, count); },
      [&](int count) { return TorvanReturn(host, count); });
  return 0;
}
