// bench/apply: how fast Torvan's SQLite engine applies host changes.
//
// Every change the host-to-SQL step applies to a file replicated both ways costs three
// statements: UPDATE ... SET [_T_TIPO___]='D', DELETE, and INSERT of the new image with
// marker 'S', each fired through the mirror table's triggers. This program runs that
// triple for a 20-column row through Torvan's engine (T-SQL texts in, translation,
// prepared-statement reuse, value conversion) and, in the same run, the same work written
// directly against the SQLite C API with prepared statements on an identical database.
// Both databases are built by Torvan's schema objects rendered for SQLite, so both carry
// the same tables and triggers, and both commit every statement (autocommit, WAL, synchronous
// FULL) as Torvan does. At the end the two databases must hold the same rows and no event.
//
//   apply [changes per round, default 20000] [folder, default /dev/shm or the temp folder]
//
// On a memory-backed folder the figures show the engine's own cost; on a disk they also
// show the cost of syncing every commit, which is the same for both.

#include <sqlite3.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/text.h"
#include "schema/objects.h"
#include "sql/connection.h"
#include "sql/decimal.h"

namespace {

using torvan::Status;
using Clock = std::chrono::steady_clock;

// A host field: name, type letter, bytes, digits, decimals.
struct Col {
  std::string name;
  char tipo;
  int byte = 0;
  int lunghezza = 0;
  int decimali = 0;
};

constexpr int kRows = 1000;  // distinct host records the changes cycle over
constexpr int kRounds = 2;   // best of

// A host file of 20 fields of every type Torvan decodes.
const std::vector<Col> kFields = {
    {"CODICE", 'A', 10},      {"DESCR", 'A', 30},       {"UM", 'A', 2},
    {"FLAG", 'A', 1},         {"NOTE", 'A', 20},        {"CLASSE", 'A', 5},
    {"ZONA", 'A', 3},         {"RIF", 'A', 15},         {"PREZZO", 'P', 5, 9, 2},
    {"COSTO", 'P', 6, 11, 3}, {"QTA", 'P', 4, 7, 0},    {"IMPORTO", 'P', 9, 17, 3},
    {"SCONTO", 'P', 3, 5, 2}, {"PESO", 'P', 5, 9, 3},   {"DATA", 'S', 8, 8, 0},
    {"ORA", 'S', 6, 6, 0},    {"PROG", 'S', 13, 13, 0}, {"PERC", 'S', 5, 5, 2},
    {"NUM", 'B', 4, 9, 0},    {"CNT", 'B', 2, 4, 0}};

// The text Field_Decode gives for field f of record `seed`: text padded to its length;
// zoned with leading zeros; packed with leading zeros and a trailing sign blank; binary in
// plain decimal.
std::string HostValue(const Col& f, int64_t seed) {
  if (f.tipo == 'A') {
    std::string s = f.name + std::to_string(seed);
    return torvan::PadRight(s, size_t(f.byte));
  }
  int64_t limit = 1;
  for (int i = 0; i < std::min(f.lunghezza, 15); ++i) limit *= 10;
  int64_t v = (seed * 7919 + f.lunghezza * 104729) % limit;
  bool negative = (seed + f.lunghezza) % 5 == 0;
  std::string out = negative ? "-" : "";
  if (f.tipo == 'B') return out += std::to_string(v % 30000);
  std::string digits = torvan::ZeroPad(v, f.lunghezza);
  if (f.decimali > 0) digits.insert(digits.end() - f.decimali, '.');
  out += digits;
  if (f.tipo == 'P') out += ' ';
  return out;
}

struct Change {
  int rrn;
  std::string update, remove, insert;  // Torvan's T-SQL texts
  std::vector<std::string> texts;      // the direct path's values, stored form
  std::vector<int64_t> integers;
};

bool IsInteger(const Col& f) { return f.tipo != 'A' && f.decimali == 0 && f.lunghezza <= 18; }

std::vector<Change> MakeChanges(int count, int first_seed) {
  std::vector<Change> changes;
  changes.reserve(size_t(count));
  for (int i = 0; i < count; ++i) {
    Change c;
    c.rrn = 1 + i % kRows;
    const int64_t seed = first_seed + i;
    const std::string where = "WHERE [_T_RRN___]=" + std::to_string(c.rrn);
    c.update = "UPDATE [BENCH] SET [_T_TIPO___]='D' " + where;
    c.remove = "DELETE FROM [BENCH] " + where;
    std::string columns, values;
    for (const Col& f : kFields) {
      std::string v = HostValue(f, seed);
      columns += "[" + f.name + "],";
      values += f.tipo == 'A' ? "'" + v + "'," : v + ",";
      std::string stored = v;
      if (f.tipo != 'A') {
        Status s = torvan::sql::ToNumeric(v, f.lunghezza, f.decimali, &stored);
        if (!s.ok()) std::abort();
      }
      c.texts.push_back(stored);
      c.integers.push_back(IsInteger(f) ? std::strtoll(stored.c_str(), nullptr, 10) : 0);
    }
    c.insert = "INSERT INTO [BENCH] (" + columns + "[_T_RRN___],[_T_TIPO___]) VALUES(" + values +
               std::to_string(c.rrn) + ",'S')";
    changes.push_back(std::move(c));
  }
  return changes;
}

std::unique_ptr<torvan::sql::Connection> OpenTorvan(const std::string& folder,
                                                    const std::string& name) {
  torvan::sql::ConnectionParams p;
  p.base_folder = folder;
  p.database = name;
  auto c = torvan::sql::NewConnection(p);
  if (!c->Open().ok()) {
    std::fprintf(stderr, "cannot open %s/%s: %s\n", folder.c_str(), name.c_str(),
                 c->Errors().empty() ? "?" : c->Errors()[0].description.c_str());
    std::exit(1);
  }
  return c;
}

void MustExecute(torvan::sql::Connection* c, const std::string& statement) {
  if (!c->Execute(statement).ok()) {
    std::fprintf(stderr, "failed: %s\n  %s\n", statement.c_str(),
                 c->Errors().empty() ? "?" : c->Errors()[0].description.c_str());
    std::exit(1);
  }
}

void MustExecuteNative(torvan::sql::Connection* c, const std::string& statement) {
  if (!c->ExecuteNative(statement).ok()) {
    std::fprintf(stderr, "failed: %s\n  %s\n", statement.c_str(),
                 c->Errors().empty() ? "?" : c->Errors()[0].description.c_str());
    std::exit(1);
  }
}

// The mirror table BENCH with its event table, triggers and master table, as Torvan's
// schema operations build them, and kRows records written as the replication writes them.
void BuildDatabase(const std::string& folder, const std::string& name) {
  auto c = OpenTorvan(folder, name);
  std::vector<torvan::ColumnDef> data;
  for (const Col& f : kFields) {
    data.push_back(
        torvan::MakeColumn(f.name, std::string(1, f.tipo), f.byte, f.lunghezza, f.decimali));
  }
  std::vector<torvan::SchemaStatement> all =
      torvan::TableStatements(torvan::kMasterTable, torvan::MasterColumns(), true);
  for (torvan::SchemaStatement& s : torvan::FileStatements("BENCH", data, true)) {
    all.push_back(std::move(s));
  }
  for (const torvan::SchemaStatement& s : all) {
    for (const std::string& text : torvan::Render(s, c->dialect())) {
      MustExecuteNative(c.get(), text);
    }
  }
  for (const Change& change : MakeChanges(kRows, 0)) MustExecute(c.get(), change.insert);
}

double RunTorvan(torvan::sql::Connection* c, const std::vector<Change>& changes) {
  Clock::time_point start = Clock::now();
  for (const Change& change : changes) {
    MustExecute(c, change.update);
    MustExecute(c, change.remove);
    MustExecute(c, change.insert);
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class Direct {
 public:
  explicit Direct(const std::string& path) {
    Check(
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr));
    Check(sqlite3_exec(db_,
                       "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
                       "PRAGMA recursive_triggers=OFF",
                       nullptr, nullptr, nullptr));
    update_ = Prepare("UPDATE \"BENCH\" SET \"_T_TIPO___\"='D' WHERE \"_T_RRN___\"=?");
    remove_ = Prepare("DELETE FROM \"BENCH\" WHERE \"_T_RRN___\"=?");
    std::string columns, marks;
    for (const Col& f : kFields) {
      columns += "\"" + f.name + "\",";
      marks += "?,";
    }
    insert_ = Prepare("INSERT INTO \"BENCH\" (" + columns +
                      "\"_T_RRN___\",\"_T_TIPO___\") VALUES (" + marks + "?,'S')");
  }
  ~Direct() {
    sqlite3_finalize(update_);
    sqlite3_finalize(remove_);
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
  }

  double Run(const std::vector<Change>& changes) {
    Clock::time_point start = Clock::now();
    for (const Change& c : changes) {
      Step(update_, c.rrn);
      Step(remove_, c.rrn);
      for (size_t i = 0; i < kFields.size(); ++i) {
        if (IsInteger(kFields[i])) {
          sqlite3_bind_int64(insert_, int(i) + 1, c.integers[i]);
        } else {
          sqlite3_bind_text(insert_, int(i) + 1, c.texts[i].data(), int(c.texts[i].size()),
                            SQLITE_STATIC);
        }
      }
      Step(insert_, c.rrn, int(kFields.size()) + 1);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) {
      std::fprintf(stderr, "direct SQLite: %s\n", db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
      std::exit(1);
    }
  }
  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_stmt* s = nullptr;
    Check(sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr));
    return s;
  }
  void Step(sqlite3_stmt* s, int rrn, int rrn_at = 1) {
    sqlite3_bind_int(s, rrn_at, rrn);
    if (sqlite3_step(s) != SQLITE_DONE) Check(sqlite3_errcode(db_));
    sqlite3_reset(s);
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* update_ = nullptr;
  sqlite3_stmt* remove_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

// The whole content of a database, as Torvan reads it, and whether any event is left.
std::string Content(const std::string& folder, const std::string& name, bool* no_events) {
  auto c = OpenTorvan(folder, name);
  std::string out;
  std::unique_ptr<torvan::sql::Recordset> r;
  if (!c->OpenRecordset("SELECT * FROM [BENCH] ORDER BY [_T_RRN___]", &r).ok()) std::exit(1);
  for (; !r->Eof(); (void)r->MoveNext()) {
    for (int i = 0; i < r->FieldCount(); ++i) out += r->Value(i).text + "|";
    out += "\n";
  }
  std::unique_ptr<torvan::sql::Recordset> events, master;
  *no_events = c->OpenRecordset("select count(*) from  [BENCH___]", &events).ok() &&
               c->OpenRecordset("select count(*) from  [_T_MASTER___]", &master).ok() &&
               events->Value(0).text == "0" && master->Value(0).text == "0";
  return out;
}

std::string DefaultFolder() {
  std::error_code ec;
  if (std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0) {
    return "/dev/shm";
  }
  return std::filesystem::temp_directory_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  const int changes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
  std::string parent = argc > 2 ? argv[2] : DefaultFolder();
  std::string pattern = parent + "/torvan-apply-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror(parent.c_str());
    return 1;
  }
  const std::string folder = pattern;
  struct statfs fs {};
  statfs(folder.c_str(), &fs);
  const bool memory = fs.f_type == 0x01021994;  // TMPFS_MAGIC

  BuildDatabase(folder, "Torvan");
  BuildDatabase(folder, "Direct");
  auto torvan_db = OpenTorvan(folder, "Torvan");
  Direct direct(folder + "/Direct.sqlite");

  // A warm-up round, then the best of kRounds, the two paths taking turns.
  std::vector<Change> warm = MakeChanges(std::max(1, changes / 10), kRows);
  RunTorvan(torvan_db.get(), warm);
  direct.Run(warm);
  double best_torvan = 1e30, best_direct = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<Change> work = MakeChanges(changes, kRows + (round + 1) * changes);
    best_torvan = std::min(best_torvan, RunTorvan(torvan_db.get(), work));
    best_direct = std::min(best_direct, direct.Run(work));
  }
  torvan_db.reset();

  bool torvan_clean = false, direct_clean = false;
  const bool same =
      Content(folder, "Torvan", &torvan_clean) == Content(folder, "Direct", &direct_clean);

  const double torvan_rate = changes / best_torvan;
  const double direct_rate = changes / best_direct;
  const double ratio = torvan_rate / direct_rate;
  std::printf(
      "apply: %d changes per round, best of %d; each change UPDATE 'D' + DELETE + "
      "INSERT 'S' of %zu columns, triggers in place, every statement committed\n",
      changes, kRounds, kFields.size());
  std::printf("folder: %s (%s)\n", folder.c_str(), memory ? "memory" : "disk, synced commits");
  std::printf("  Torvan SQLite engine  : %9.0f changes/s  (%7.1f us per change)\n", torvan_rate,
              1e6 / torvan_rate);
  std::printf("  direct SQLite C API   : %9.0f changes/s  (%7.1f us per change)\n", direct_rate,
              1e6 / direct_rate);
  std::printf("  ratio Torvan / direct : %9.2f  (target >= 0.50: %s)\n", ratio,
              ratio >= 0.5 ? "met" : "NOT MET");
  std::printf("  same rows, no events  : %s\n",
              same && torvan_clean && direct_clean ? "yes" : "NO - the two paths differ");

  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return same && torvan_clean && direct_clean ? 0 : 1;
}
