#include "control/status_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/text.h"
#include "platform/file.h"
#include "replication/conflicts.h"
#include "replication/held_change.h"
#include "schema/columns.h"
#include "schema/statements.h"

namespace torvan {

namespace {

double SecondsBetween(platform::MonotonicTime from, platform::MonotonicTime to) {
  return std::max(0.0, std::chrono::duration<double>(to - from).count());
}

// The master table's statements. SQL Server reads without waiting for the locks of a
// client's open transaction; the SQLite engine's readers never wait for a writer.
enum class Order { kNone, kAscending, kDescending };
std::string MasterQuery(sql::Dialect dialect, std::string_view what, Order order) {
  std::string q = "SELECT " + std::string(what) + " FROM [" + kMasterTable + "]";
  if (dialect == sql::Dialect::kSqlServer) q += " WITH (NOLOCK)";
  if (order != Order::kNone) q += " ORDER BY [_T_RRN___]";
  if (order == Order::kDescending) q += " DESC";
  return q;
}

// The first column of the first row as a whole number; false when there is none.
bool FirstNumber(sql::Connection& c, const std::string& query, int64_t* value, Status* status) {
  std::unique_ptr<sql::Recordset> rs;
  *status = c.OpenRecordset(query, &rs);
  if (!status->ok() || rs->Eof() || rs->FieldCount() < 1 || rs->Value(0).is_null) return false;
  *value = std::strtoll(rs->Value(0).text.c_str(), nullptr, 10);
  return true;
}

}  // namespace

StatusWriter::StatusWriter(Runtime& rt, std::string front_end, StatusOptions options)
    : rt_(rt), program_(rt.program), options_(options) {
  snapshot_.pid = ::getpid();
  snapshot_.front_end = std::move(front_end);
  snapshot_.started = platform::DateTimeText(program_.Now());
  started_ = program_.clock->Monotonic();
}

StatusWriter::~StatusWriter() { Stop(); }

Status StatusWriter::Start(platform::Timers& timers) {
  Status s = platform::FolderLock::Take(program_.paths.base, &folder_lock_);
  if (!s.ok()) return s;
  timers_ = &timers;
  Update();
  Arm();
  return Status::Ok();
}

void StatusWriter::Arm() {
  timer_ = timers_->Start(options_.period, [this] {
    timer_ = 0;
    Update();
    Arm();
  });
}

void StatusWriter::Stop() {
  if (timers_ == nullptr) return;
  timers_->Kill(timer_);
  timer_ = 0;
  timers_ = nullptr;
  Gather();
  snapshot_.ended = true;
  Write();
  folder_lock_.reset();
}

void StatusWriter::Update() {
  Gather();
  Write();
  if (on_update) on_update();
}

void StatusWriter::Gather() {
  const platform::LocalDateTime wall = program_.Now();
  const platform::MonotonicTime now = program_.clock->Monotonic();
  const RunState& st = program_.state;
  const Statistics& stats = program_.stats;
  StatusSnapshot& s = snapshot_;
  s.written = platform::DateTimeText(wall);
  s.written_ms = LocalEpochMs(wall);
  s.stato = static_cast<int>(st.Stato_Sincronismo);
  s.ciclo_in_corso = st.Ciclo_In_Corso;
  s.link_up = st.LinkUp;
  s.collegato_sql = st.Collegato_SQL;
  s.host_stop_time = st.HostStopTime;
  s.host_restart_time = st.HostRestartTime;
  s.activity = st.Attivita;

  const int32_t received = stats.Stat_Contatori[kRecordsReceived];
  if (last_received_ && received != *last_received_ && received != 0) {
    last_applied_ = now;
    s.last_applied = s.written;
  }
  last_received_ = received;
  s.last_applied_age = last_applied_ ? SecondsBetween(*last_applied_, now) : -1;
  s.host_queue_seen_empty = st.Coda_Host_Vuota.has_value();
  s.host_lag = SecondsBetween(st.Coda_Host_Vuota.value_or(started_), now);
  s.journal_depth = st.Giornale_In_Attesa;
  s.journal_lag = st.Giornale_Dal ? SecondsBetween(*st.Giornale_Dal, now) : -1;

  s.counters = stats.Stat_Contatori;
  s.times = stats.Stat_Tempi;
  s.texts = stats.Stat_Testi;
  s.texts[kDateText].clear();
  s.texts[kTimeText].clear();

  GatherHeld();
  {
    // Appended to only: counted again when it grew.
    struct stat st {};
    const int64_t size = ::stat(program_.paths.conflicts_log.c_str(), &st) == 0 ? st.st_size : 0;
    if (size != conflicts_size_) {
      conflicts_size_ = size;
      s.conflicts = int64_t(Conflicts::Records(program_.paths.conflicts_log).size());
    }
  }
  if (now >= next_count_ && !st.Comando_In_Corso) CountAll(now);

  s.databases.clear();
  const Catalogue& c = rt_.catalogue;
  for (int32_t d = 1; d <= c.N_DB && size_t(d) < c.DB_Ritorno.size(); ++d) {
    if (!c.DB_Ritorno[size_t(d)]) continue;
    StatusDatabase out;
    out.number = d;
    for (int32_t k = 1; k <= c.N_File && size_t(k) < c.Tab_File.size(); ++k) {
      if (c.Tab_File[size_t(k)].Indice_DB == d) {
        out.name = c.Tab_File[size_t(k)].DataBase;
        break;
      }
    }
    auto found = databases_.find(d);
    if (found != databases_.end()) {
      const Database& db = found->second;
      out.waiting = db.waiting;
      out.error = db.error;
      if (db.counted) out.count_age = SecondsBetween(*db.counted, now);
      if (db.waiting == 0) out.oldest_age = 0;
      if (db.waiting > 0 && !db.notes.empty())
        out.oldest_age = SecondsBetween(db.notes[0].seen, now);
    }
    s.databases.push_back(std::move(out));
  }
}

void StatusWriter::GatherHeld() {
  const std::string& path = program_.paths.pending;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    pending_seen_.reset();
    snapshot_.held = false;
    snapshot_.held_lines.clear();
    snapshot_.in_flight = 0;
    return;
  }
  // The file is rewritten in place, and its change time moves by the system's clock tick:
  // two writes of the same length within one tick look alike. So the state is read again
  // unless the file's time is unchanged and more than a second older than the last read.
  const int64_t changed = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  const std::pair<int64_t, int64_t> seen{changed, int64_t(st.st_size)};
  timespec real{};
  ::clock_gettime(CLOCK_REALTIME, &real);
  const int64_t read_at = int64_t(real.tv_sec) * 1000000000 + real.tv_nsec;
  if (pending_seen_ == seen && changed + 1000000000 < pending_read_at_) return;
  PendingState state;
  if (!ReadPendingState(path, &state).ok()) return;  // being replaced: the next update reads it
  pending_seen_ = seen;
  pending_read_at_ = read_at;
  snapshot_.in_flight = int32_t(state.in_flight.size());
  snapshot_.held = state.held.has_value();
  snapshot_.held_lines.clear();
  if (!state.held) return;
  const hostlink::CharTables* tables = nullptr;
  if (rt_.socket.table_status().ok() && rt_.socket.started()) {
    tables = &rt_.socket.tables();
  } else {
    if (!own_tables_) {
      bool installed = false;
      hostlink::CharTables t;
      if (hostlink::LoadCharTables(CharTableToRead(program_.paths, &installed), &t).ok()) {
        own_tables_ = std::move(t);
      }
    }
    if (own_tables_) tables = &*own_tables_;
  }
  static const hostlink::CharTables kNoTables{};
  snapshot_.held_lines =
      HeldChangeLines(DescribeHeld(rt_.catalogue, tables ? *tables : kNoTables, *state.held));
}

void StatusWriter::CountAll(platform::MonotonicTime now) {
  const auto began = std::chrono::steady_clock::now();
  const Catalogue& c = rt_.catalogue;
  for (int32_t d = 1; d <= c.N_DB && size_t(d) < c.DB_Ritorno.size(); ++d) {
    if (c.DB_Ritorno[size_t(d)]) Count(d, databases_[d], now);
  }
  // Databases of an earlier catalogue are forgotten.
  std::erase_if(databases_, [&](const auto& e) {
    return e.first > c.N_DB || size_t(e.first) >= c.DB_Ritorno.size() ||
           !c.DB_Ritorno[size_t(e.first)];
  });
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - began);
  next_count_ =
      now + std::max(options_.period, std::chrono::duration_cast<std::chrono::milliseconds>(
                                          took * options_.count_cost_factor));
}

void StatusWriter::Count(int32_t d, Database& db, platform::MonotonicTime now) {
  sql::Connection* c = rt_.connessioni.at(d);
  // A closed connection keeps the last count (its age grows); errors not yet reported
  // belong to the statement that failed.
  if (c == nullptr || !c->IsOpen() || !c->Errors().empty()) return;
  auto failed = [&](const Status& s) {
    db.error = c->Errors().empty() ? s.message() : c->Errors().front().description;
    c->ClearErrors();
  };
  const sql::Dialect dialect = c->dialect();
  int64_t waiting = 0;
  Status s;
  if (!FirstNumber(*c, MasterQuery(dialect, "COUNT(*)", Order::kNone), &waiting, &s)) {
    failed(s.ok() ? Status::IoError("conteggio vuoto") : s);
    return;
  }
  int64_t lowest = 0, highest = 0;
  if (waiting > 0) {
    if (!FirstNumber(*c, MasterQuery(dialect, "[_T_RRN___]", Order::kAscending), &lowest, &s) &&
        !s.ok()) {
      failed(s);
      return;
    }
    if (!FirstNumber(*c, MasterQuery(dialect, "[_T_RRN___]", Order::kDescending), &highest, &s) &&
        !s.ok()) {
      failed(s);
      return;
    }
  }
  db.error.clear();
  db.waiting = waiting;
  db.counted = now;
  if (waiting == 0) {
    db.notes.clear();
    return;
  }
  // Numbers that went back: the table was emptied and its numbering started again.
  if (!db.notes.empty() && highest < db.notes.back().highest_rrn) db.notes.clear();
  if (db.notes.empty() || highest > db.notes.back().highest_rrn) db.notes.push_back({highest, now});
  while (db.notes.size() > 1 && db.notes.front().highest_rrn < lowest) db.notes.pop_front();
  if (db.notes.size() > options_.max_notes) {
    std::deque<Note> kept;
    for (size_t i = 0; i < db.notes.size(); ++i) {
      if (i == 0 || i % 2 == 1 || i + 1 == db.notes.size()) kept.push_back(db.notes[i]);
    }
    db.notes = std::move(kept);
  }
}

void StatusWriter::Write() {
  Status s = platform::WriteFileAtomic(program_.paths.status, EncodeStatus(snapshot_), 0600,
                                       /*durable=*/false);
  if (s.ok()) {
    write_failed_ = false;
    return;
  }
  if (write_failed_) return;  // said once; said again after it has worked
  write_failed_ = true;
  program_.Scrivi_Messaggio("ERRORE nella scrittura del file di stato " + program_.paths.status +
                            ": " + s.message());
}

}  // namespace torvan
