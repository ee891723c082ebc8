// bench/return: how fast the SQL-to-host step returns a backlog of SQL-side changes to the
// host, against the floor.
//
// N rows are inserted on the SQL side into the mirror table of the file replicated back,
// so its triggers record N events. Torvan returns them with its replication step
// (Server_SQL_Ritorno: batches of master rows and their event rows, the INSERT statement
// for the host, one R exchange an event, the batch's in-flight marks on the pending file and
// its deletes in one transaction). Beside it, the floor on the
// same host and the same kind of database: the same reads, statement, exchange and
// deletes, prepared on the SQLite C API over one blocking socket. Each run is a child
// process with its own peak memory; Torvan runs again with 4N. The R exchanges alone (the
// statements built beforehand, nothing read or deleted) are measured too: the link's limit.
//
// With --engine postgresql the database is on a PostgreSQL server the benchmark starts, the
// rows are written in one transaction through libpq, and the floor reads and deletes through
// libpq with prepared statements.
//
//   return [N, default 20000] [ROUNDS, default 3] [--engine postgresql] [--durevole]
//
// --durevole: Torvan syncs its pending file and the database at every write (setting
// "Durevole"), with its folder on the disk (/var/tmp), not in memory, so that the syncs cost
// what they cost; the floor and the exchanges alone stay as without it.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/replication/bench_host.h"
#include "bench/replication/floor_client.h"
#include "core/text.h"
#include "platform/process.h"
#include "replication/replication.h"
#include "sql/postgres_test_server.h"

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

// 0, or the port of the PostgreSQL server the database BENCH is on.
int postgres_port = 0;

// The value of field f in row r of the rows written on the SQL side.
std::string RowValue(const BenchField& f, int r) {
  if (f.type == 'A') {
    const std::string v = std::string(f.name).substr(0, size_t(f.digits)) +
                          (f.digits > 6 ? std::to_string(r % 1000) : "");
    return v.substr(0, size_t(f.digits));
  }
  if (f.decimals > 0) return std::to_string(r % 997) + "." + std::string(size_t(f.decimals), '5');
  return std::to_string(r % 997);
}

// The BENCH database made empty, then Torvan's folder and tables; with PostgreSQL the N rows
// are written here too (on SQLite the caller writes them into the folder's file).
std::unique_ptr<BenchTorvan> Prepare(BenchHost& host, int n, bool on_disk = false) {
  if (postgres_port == 0) return std::make_unique<BenchTorvan>(host, TORVAN_CHAR_TABLE, 0, on_disk);
  std::string why;
  if (!sql::testing::PostgresServer::Shared().CreateDatabase("BENCH", &why)) {
    std::fprintf(stderr, "return: %s\n", why.c_str());
    std::exit(1);
  }
  auto pc = std::make_unique<BenchTorvan>(host, TORVAN_CHAR_TABLE, postgres_port, on_disk);
  PgSession db(postgres_port, "BENCH");
  std::string columns, marks;
  int i = 1;
  for (const BenchField& f : BenchFields()) {
    columns += "\"" + std::string(f.name) + "\",";
    marks += "$" + std::to_string(i++) + ",";
  }
  columns.pop_back();
  marks.pop_back();
  db.Prepare("insert", "INSERT INTO \"" + kBack + "\" (" + columns + ") VALUES (" + marks + ")",
             i - 1);
  db.Exec("BEGIN");
  std::vector<std::string> values;
  for (int r = 0; r < n; ++r) {
    values.clear();
    for (const BenchField& f : BenchFields()) values.push_back(RowValue(f, r));
    db.Run("insert", values);
  }
  db.Exec("COMMIT");
  return pc;
}

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
      const std::string v = RowValue(f, r);
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

bool durable = false;  // --durevole

double TorvanReturn(BenchHost& host, int n) {
  platform::KeepFreedMemoryForReuse();  // as torvan and torvan-gui do first
  std::unique_ptr<BenchTorvan> pc = Prepare(host, n, /*on_disk=*/durable);
  if (postgres_port == 0) InsertRows(pc->folder() + "/BENCH.sqlite", n);
  Yes yes;
  pc->runtime().program.settings.Durevole = durable;
  std::unique_ptr<ReplicationOps> steps = MakeReplication(pc->runtime(), yes);
  const Clock::time_point start = Clock::now();
  while (steps->Server_SQL_Ritorno()) {
  }
  const int count = pc->runtime().program.stats.Stat_Contatori[kRecordsSent];
  return RateOf("Torvan returned", "events", count, n, start);
}

// The INSERT statement for the host of one event row (values as the database gives them).
std::string HostInsert(const std::vector<std::string>& row, const std::string& idx) {
  std::string names, values;
  size_t i = 0;
  for (const BenchField& f : BenchFields()) {
    const std::string v = Utf8ToCp1252(row[i++]);
    names += std::string(f.name) + ",";
    if (f.type == 'A') {
      values += "'";
      for (char c : TrimRight(v)) values += c == '\'' ? std::string("''") : std::string(1, c);
      values += "', ";
    } else {
      values += Trim(v) + ", ";
    }
  }
  return "INSERT INTO DATI/" + kBack + " (" + names + "\xA7_T_IDX___) VALUES(" + values + idx + ")";
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
    std::vector<std::string> row;
    int i = 0;
    for (size_t k = 0; k < BenchFields().size(); ++k) {
      row.push_back(reinterpret_cast<const char*>(sqlite3_column_text(event, i++)));
    }
    const std::string idx = reinterpret_cast<const char*>(sqlite3_column_text(event, i));
    sqlite3_reset(event);
    const std::string statement = HostInsert(row, idx);
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

// The R exchanges alone, the same N statements built beforehand, nothing read or deleted:
// the most any return can reach over this link.
double ExchangesAlone(BenchHost& host, int n) {
  BenchTorvan pc(host, TORVAN_CHAR_TABLE);
  std::vector<std::string> statements;
  statements.reserve(size_t(n));
  std::vector<std::string> row;
  for (int r = 0; r < n; ++r) {
    row.clear();
    for (const BenchField& f : BenchFields()) row.push_back(RowValue(f, r));
    statements.push_back(HostInsert(row, std::to_string(r + 1)));
  }
  FloorClient floor(host.port(), TORVAN_CHAR_TABLE, "");
  const Clock::time_point start = Clock::now();
  int count = 0;
  std::string reply;
  for (const std::string& statement : statements) {
    if (!floor.Exchange('R', statement, &reply) || reply.empty() ||
        floor.tables().HostToPc(uint8_t(reply[0])) != ' ') {
      break;
    }
    ++count;
  }
  return RateOf("the exchanges alone", "events", count, n, start);
}

double FloorReturnPostgres(BenchHost& host, int n) {
  std::unique_ptr<BenchTorvan> pc = Prepare(host, n);
  FloorClient floor(host.port(), TORVAN_CHAR_TABLE, "");
  PgSession db(postgres_port, "BENCH");
  db.Prepare("master",
             "SELECT \"_T_RRN___\",\"_T_FILE___\",\"_T_PROGR___\" FROM \"_T_MASTER___\" ORDER BY "
             "\"_T_RRN___\" LIMIT 1",
             0);
  std::string columns;
  for (const BenchField& f : BenchFields()) columns += "\"" + std::string(f.name) + "\",";
  db.Prepare("event",
             "SELECT " + columns + "\"_T_IDX___\",\"_T_RRN___\",\"_T_EVENTO___\" FROM \"" + kBack +
                 "___\" WHERE \"_T_PROGR___\"=$1",
             1);
  db.Prepare("drop_event", "DELETE FROM \"" + kBack + "___\" WHERE \"_T_PROGR___\"=$1", 1);
  db.Prepare("drop_master", "DELETE FROM \"_T_MASTER___\" WHERE \"_T_RRN___\"=$1", 1);
  const Clock::time_point start = Clock::now();
  int count = 0;
  std::string reply;
  std::vector<std::string> row;
  for (;;) {
    db.Run("master", {});
    if (db.Rows() == 0) break;
    const std::string master_rrn = db.Value(0, 0), progr = db.Value(0, 2);
    db.Run("event", {progr});
    if (db.Rows() != 1) std::exit(1);
    row.clear();
    for (size_t i = 0; i < BenchFields().size(); ++i) row.push_back(db.Value(0, int(i)));
    const std::string statement = HostInsert(row, db.Value(0, int(row.size())));
    if (!floor.Exchange('R', statement, &reply) || reply.empty() ||
        floor.tables().HostToPc(uint8_t(reply[0])) != ' ') {
      std::fprintf(stderr, "the host refused: %s\n", statement.c_str());
      std::exit(1);
    }
    db.Run("drop_event", {progr});
    db.Run("drop_master", {master_rrn});
    ++count;
  }
  return RateOf("the floor returned", "events", count, n, start);
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
    std::fprintf(stderr, "usage: return [N [ROUNDS]] [--engine postgresql] [--durevole]\n");
    return 2;
  }
  if (postgres) {
    sql::testing::PostgresServer& server = sql::testing::PostgresServer::Shared();
    if (!server.Available()) {
      std::fprintf(stderr, "return: %s\n", server.WhyNot().c_str());
      return 1;
    }
    postgres_port = server.port();
  }
  BenchHost host(TORVAN_HOST_EXE);
  std::printf("return: %d SQL-side events returned to the host as INSERT statements (%s)\n", n,
              postgres ? "PostgreSQL" : "SQLite");
  Compare(
      n, rounds, postgres ? 1.0 : 1.5,  // into PostgreSQL: at least the libpq floor
      [&](int count) {
        return postgres ? FloorReturnPostgres(host, count) : FloorReturn(host, count);
      },
      [&](int count) { return TorvanReturn(host, count); },
      [&](int count) { return ExchangesAlone(host, count); });
  return 0;
}
