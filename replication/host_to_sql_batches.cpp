// Host to SQL, the journal's side: opening the journal, the S requests that fill it, and
// the batches that apply what it holds (host_to_sql.h says the rules; host_to_sql.cpp makes
// the statements of one change and applies them).
#include <algorithm>
#include <cstdio>
#include <utility>

#include "hostlink/exchange.h"
#include "hostlink/host_format.h"
#include "replication/host_to_sql.h"
#include "replication/journal_position.h"
#include "replication/kill_point.h"
#include "sql/connection.h"

namespace torvan {

namespace {

constexpr char kRoutine[] = "Server_SQL_Sincro";
constexpr int kSlot = hostlink::SocketLayer::kLinkSlot;

}  // namespace

void HostToSql::ShowDepth() {
  RunState& state = rt_.program.state;
  const std::deque<JournalEntry>& waiting = journal_->waiting();
  while (!journaled_at_.empty() &&
         (waiting.empty() || journaled_at_.front().first < waiting.front().sequence)) {
    journaled_at_.pop_front();
  }
  state.Giornale_In_Attesa = int64_t(waiting.size());
  if (journaled_at_.empty()) {
    state.Giornale_Dal.reset();
  } else {
    state.Giornale_Dal = journaled_at_.front().second;
  }
}

bool HostToSql::OpenJournal() {
  Program& program = rt_.program;
  if (journal_ != nullptr) {
    journal_->set_durable(program.settings.Durevole);
    return true;
  }
  PendingState& pending = pending_.state();
  // A pending file of a Torvan before the journal held its change there: it moves into
  // the journal once, when the journal is made. Once there is a journal, a change the
  // pending file shows is only the operator's view of the journal's first one.
  const bool existed = platform::FileExists(program.paths.journal);
  std::vector<JournalEntry> migrated;
  if (!existed && pending.held) {
    migrated.push_back(JournalEntry{1, pending.held->data, pending.held->received});
  }
  std::string note;
  Status s = Journal::Open(program.paths.journal, program.settings.Durevole,
                           pending.last_applied.value_or(""), migrated, &journal_, &note);
  if (!s.ok()) {
    if (journal_fault_.Failed(s.message())) {
      program.Scrivi_Messaggio("ERRORE nell'apertura di " + program.paths.journal + ": " +
                               s.message() + "; nessuna modifica chiesta al sistema origine");
    }
    return false;
  }
  (void)journal_fault_.Ended("[Server_SQL_Sincro] " + program.paths.journal + " aperto");
  for (const JournalEntry& e : journal_->waiting()) {
    journaled_at_.emplace_back(e.sequence, program.clock->Monotonic());
  }
  if (!note.empty()) program.Scrivi_Messaggio("[Server_SQL_Sincro] " + note);
  if (!migrated.empty()) {
    program.Scrivi_Messaggio("[Server_SQL_Sincro] La modifica trattenuta in " +
                             program.paths.pending + " passa in " + program.paths.journal);
  }
  if (pending.held || pending.last_applied) {
    pending.held.reset();
    pending.last_applied.reset();
    (void)pending_.Save();  // written again before anything moves on when it fails
  }
  return true;
}

bool HostToSql::Journaled(std::string data, std::string received) {
  Program& program = rt_.program;
  Status s = journal_->Append(data, received);
  if (!s.ok()) {
    // Not in the journal: the next S request must not leave, and the change is offered
    // to the journal again first. A kill meanwhile leaves it with the host.
    if (journal_fault_.Failed("scrittura")) {
      program.Scrivi_Messaggio("ERRORE nella scrittura di " + journal_->path() + ": " +
                               s.message() + "; nessuna modifica chiesta al sistema origine");
    }
    unjournaled_ = JournalEntry{0, std::move(data), std::move(received)};
    return false;
  }
  (void)journal_fault_.Ended("[Server_SQL_Sincro] " + journal_->path() + " di nuovo scritto");
  unjournaled_.reset();
  journaled_at_.emplace_back(journal_->waiting().back().sequence, program.clock->Monotonic());
  return true;
}

bool HostToSql::Receive(double start) {
  Program& program = rt_.program;
  RunState& state = program.state;
  const Settings& settings = program.settings;
  const platform::MonotonicTime until =
      program.clock->Monotonic() + std::chrono::milliseconds(settings.Lotto_Ms);
  if (unjournaled_) {
    JournalEntry e = std::move(*unjournaled_);
    unjournaled_.reset();
    if (!Journaled(std::move(e.data), std::move(e.received))) return false;
  }
  bool worked = false;
  in_flight_stopped_ = false;
  int32_t received = 0;
  for (int32_t asked = 0;; ++asked) {
    if (journal_->waiting().size() >= size_t(settings.Giornale_Modifiche) ||
        journal_->waiting_bytes() >= uint64_t(settings.Giornale_Byte)) {
      break;  // full: the host keeps the rest until what is here is applied
    }
    if (asked > 0 && (received >= settings.Lotto_Modifiche || program.clock->Monotonic() >= until ||
                      state.StopRequested())) {
      break;
    }
    // The request acknowledges the change journaled last; while its reply travels, what
    // the journal holds is applied.
    hostlink::ExchangeReply reply;
    if (hostlink::SendRequest(rt_.socket, program, kRoutine, hostlink::kRequestChange, "")) {
      if (ApplyInFlight(start)) worked = true;
      reply = hostlink::ReadReply(rt_.socket, program, kRoutine, hostlink::kRequestChange,
                                  program.stats.Stat_Contatori[kReceiveDelayCycles]);
    }
    if (reply.outcome == hostlink::ExchangeReply::Outcome::kReadFailed) {
      LinkLost();
      break;
    }
    // No change waiting: the request acknowledged the change received last.
    if (reply.outcome == hostlink::ExchangeReply::Outcome::kRefused) {
      state.Coda_Host_Vuota = program.clock->Monotonic();
      // The host's queue is empty, but only once what it sent is applied does the mirror
      // say what a clear left (conflicts.h).
      std::string why;
      if (journal_->waiting().empty() && !pending_.conflicts().QueueEmpty(rt_, &why)) {
        program.Scrivi_Messaggio("[Server_SQL_Sincro] " + why);
        if (!rt_.socket.connected(kSlot)) LinkLost();
      }
      break;
    }
    pending_.conflicts().Delivered();
    worked = true;
    std::string data(rt_.socket.MessageData());
    if (!journal_->last_received().empty() && SameChangeAsRead(journal_->last_received(), data)) {
      // The host delivers again the change received last: its acknowledgement was lost
      // with a connection. The next S request acknowledges it; it is not journaled twice.
      continue;
    }
    KillPoint("change-received");
    HostChange change;
    const bool decoded = DecodeChange(rt_.socket.tables(), data, &change).ok();
    if (!Journaled(std::move(data), platform::DateTimeText(program.Now()))) break;
    KillPoint("change-journaled");
    ++received;
    // A clear, and a change of the image archive (whose images the host serves for the
    // change it delivered last), are applied before the next request acknowledges them.
    if (!decoded || change.code == hostlink::change_record::kCleared ||
        change.file == hostlink::image_archive::kFileName) {
      break;
    }
  }
  return worked;
}

bool HostToSql::ApplyWaiting(double start, bool* blocked) {
  *blocked = false;
  bool worked = false;
  const size_t lot = size_t(std::max<int64_t>(1, rt_.program.settings.Lotto_Modifiche));
  size_t limit = held_ ? 1 : lot;
  bool failing_next = false;  // the change that failed a batch comes next, alone
  while (!journal_->waiting().empty()) {
    // A batch begun while the last S request travelled goes on from where it stopped.
    const size_t n = std::max(batch_.done.size(), std::min(limit, journal_->waiting().size()));
    BatchEnd end = Extend(n, &batch_, false);
    if (end == BatchEnd::kMore || end == BatchEnd::kFull) end = Commit(&batch_);
    const Batch batch = std::exchange(batch_, Batch{});
    if (end == BatchEnd::kWait) break;
    if (end == BatchEnd::kFailed) {
      if (n == 1) {
        // Alone, it still fails: held, blocking what follows.
        HeldFailed(batch);
        *blocked = true;
        break;
      }
      // The changes before the failing one go as a batch of their own, then the failing
      // one alone.
      limit = batch.failed_at > 0 ? batch.failed_at : 1;
      failing_next = batch.failed_at > 0;
      continue;
    }
    worked = true;
    Completed(batch, start);
    if (end == BatchEnd::kAdvanceFailed) break;
    limit = failing_next ? 1 : lot;
    failing_next = false;
  }
  return worked;
}

bool HostToSql::ApplyInFlight(double start) {
  if (held_ || in_flight_stopped_) return false;
  const Settings& settings = rt_.program.settings;
  const size_t lot = size_t(std::max<int64_t>(1, settings.Lotto_Modifiche));
  const size_t n = std::min(lot, journal_->waiting().size());
  if (n <= batch_.done.size()) return false;
  const platform::MonotonicTime now = rt_.program.clock->Monotonic();
  if (batch_.done.empty()) batch_begun_ = now;
  BatchEnd end = Extend(n, &batch_, true);
  if (end == BatchEnd::kFailed || end == BatchEnd::kWait) {
    // Undone already: ApplyWaiting meets it again once the reply is in, with its rules.
    batch_ = Batch{};
    in_flight_stopped_ = true;
    return false;
  }
  if (batch_.done.empty()) return false;
  if (end == BatchEnd::kMore && batch_.done.size() < lot &&
      now < batch_begun_ + std::chrono::milliseconds(settings.Lotto_Ms)) {
    return false;  // the batch stays open for the changes the next replies bring
  }
  end = Commit(&batch_);
  const Batch batch = std::exchange(batch_, Batch{});
  if (end == BatchEnd::kFailed) {
    in_flight_stopped_ = true;
    return false;
  }
  Completed(batch, start);
  if (end == BatchEnd::kAdvanceFailed) in_flight_stopped_ = true;
  return true;
}

void HostToSql::RollBack(Batch* batch) {
  for (int32_t db : batch->open) {
    if (sql::Connection* c = rt_.connessioni.at(db)) c->Rollback();
  }
  batch->open.clear();
  // What the transactions did is undone, an identity moved up included, and what the
  // conflicts of the change saw.
  identity_floor_.clear();
  pending_.conflicts().Abandon();
}

HostToSql::BatchEnd HostToSql::Extend(size_t n, Batch* batch, bool in_flight) {
  Program& program = rt_.program;
  const std::deque<JournalEntry>& waiting = journal_->waiting();
  // The batch holds the first waiting changes, in order: the next one is its next place.
  for (size_t i = batch->done.size(); i < n; ++i) {
    const JournalEntry& entry = waiting[i];
    Done done;
    done.sequence = entry.sequence;
    Failure& failure = batch->failure;
    failure = Failure{};
    Status decoded = DecodeChange(rt_.socket.tables(), entry.data, &done.change);
    int n_file = 0;
    FileEntry file;
    if (!decoded.ok()) {
      failure.reason = decoded.message();
    } else if (FindTarget(done.change, &n_file, &file, &failure)) {
      if (n_file == 0 ||
          (done.change.code != hostlink::change_record::kCleared && done.change.code != '1' &&
           done.change.code != '2' && done.change.code != '3')) {
        done.logged = true;  // not replicated to SQL: consumed, counted and logged
        batch->done.push_back(std::move(done));
        continue;
      }
      const bool clear = done.change.code == hostlink::change_record::kCleared;
      const bool archive = file.File == hostlink::image_archive::kFileName;
      // While a request travels the link is not free: what may need it waits for the
      // reply (a clear, a change of the image archive whose images come by it, and a change
      // of a file sent back, whose conflicts may send a statement to the host).
      if (in_flight && (clear || archive || file.Pc_As)) return BatchEnd::kFull;
      // A clear goes alone; an archive change waits for the link.
      if (i > 0 && (clear || (archive && !program.state.LinkUp))) return BatchEnd::kFull;
      if (archive && !program.state.LinkUp) {
        RollBack(batch);
        return BatchEnd::kWait;
      }
      const int32_t db = file.Indice_DB;
      sql::Connection* c = rt_.connessioni.at(db);
      uint64_t position = 0;
      if (!Position(db, file, &position, &failure)) {
        // fails below
      } else if (entry.sequence <= position) {
        // In the database already: a kill came after its commit, before the journal
        // said so.
        batch->done.push_back(std::move(done));
        continue;
      } else if (clear) {
        if (RebuildCleared(n_file, file, &failure)) {
          Status s = c->Execute(JournalPositionStatement(db, journal_->id(), entry.sequence));
          if (s.ok()) {
            KillPoint("position-written");
            positions_[db] = entry.sequence;
            done.logged = true;
            batch->done.push_back(std::move(done));
            return BatchEnd::kFull;
          }
          StatementFailed(c, file, s, &failure);
          positions_.erase(db);
        }
      } else {
        Status s;
        if (!batch->last_of.count(db)) {
          s = c->BeginAllOrNothing();
          if (s.ok()) {
            batch->open.push_back(db);
          } else {
            StatementFailed(c, file, s, &failure);
          }
        }
        if (s.ok() && ApplyRow(entry.data, done.change, file, &done.idx, &failure)) {
          const bool met = file.Pc_As && pending_.conflicts().Met();
          if (met && i > 0) {
            // What meets the PC's changes goes alone: the batch ends before it.
            RollBack(batch);
            batch->failed_at = i;
            batch->failed_change = done.change;
            return BatchEnd::kFailed;
          }
          KillPoint("change-applied");
          batch->last_of[db] = entry.sequence;
          done.logged = true;
          batch->done.push_back(std::move(done));
          if (met) return BatchEnd::kFull;
          continue;
        }
        positions_.erase(db);
      }
    }
    // Failed at change i: nothing of the batch stays.
    if (!rt_.socket.connected(kSlot) && program.state.LinkUp) LinkLost();
    RollBack(batch);
    batch->failed_at = i;
    batch->failed_change = done.change;
    return BatchEnd::kFailed;
  }
  return BatchEnd::kMore;
}

HostToSql::BatchEnd HostToSql::Commit(Batch* batch) {
  Program& program = rt_.program;
  // Each database's position in its own transaction, then the commit.
  for (size_t k = 0; k < batch->open.size(); ++k) {
    const int32_t db = batch->open[k];
    sql::Connection* c = rt_.connessioni.at(db);
    Status s = c->Execute(JournalPositionStatement(db, journal_->id(), batch->last_of[db]));
    if (s.ok()) KillPoint("position-written");
    if (s.ok()) s = c->Commit();
    if (!s.ok()) {
      FileEntry where;
      where.DataBase = DatabaseName(db);
      StatementFailed(c, where, s, &batch->failure);
      positions_.erase(db);
      batch->open.erase(batch->open.begin(), batch->open.begin() + std::ptrdiff_t(k));
      RollBack(batch);
      // Those committed before stay, and their position says so: the retry skips them.
      batch->failed_at = 0;
      batch->failed_change = batch->done.empty() ? HostChange{} : batch->done.front().change;
      batch->done.clear();
      return BatchEnd::kFailed;
    }
    positions_[db] = batch->last_of[db];
  }
  batch->open.clear();
  if (!batch->last_of.empty()) KillPoint("batch-committed");
  Status s = journal_->MarkApplied(batch->done.back().sequence);
  if (!s.ok()) {
    if (journal_fault_.Failed("avanzamento")) {
      program.Scrivi_Messaggio("ERRORE nella scrittura di " + journal_->path() + ": " +
                               s.message());
    }
    return BatchEnd::kAdvanceFailed;
  }
  KillPoint("journal-advanced");
  return BatchEnd::kApplied;
}

std::string HostToSql::DatabaseName(int32_t db) const {
  const Catalogue& catalogue = rt_.catalogue;
  for (int k = 1; k <= catalogue.N_File && k < int(catalogue.Tab_File.size()); ++k) {
    if (catalogue.Tab_File[size_t(k)].Indice_DB == db)
      return catalogue.Tab_File[size_t(k)].DataBase;
  }
  return std::to_string(db);
}

bool HostToSql::Position(int32_t db, const FileEntry& file, uint64_t* position, Failure* failure) {
  auto known = positions_.find(db);
  if (known != positions_.end()) {
    *position = known->second;
    return true;
  }
  sql::Connection* c = rt_.connessioni.at(db);
  Status s = ReadJournalPosition(*c, db, journal_->id(), position);
  if (!s.ok()) {
    FileEntry where = file;
    where.File = kJournalTable;
    StatementFailed(c, where, s, failure);
    failure->reason = "posizione del giornale illeggibile: " + failure->reason;
    return false;
  }
  positions_[db] = *position;
  return true;
}

void HostToSql::Completed(const Batch& batch, double start) {
  Program& program = rt_.program;
  Statistics& stats = program.stats;
  PendingState& pending = pending_.state();
  if (held_ || pending.held) {
    held_ = false;
    held_attempts_ = 0;
    pending.held.reset();
    (void)pending_.Save();  // a state left unwritten is written before anything moves on
  }
  const double end = platform::SecondsSinceMidnight(program.Now());
  double spent = end - start;
  if (spent < 0) spent += 86400;
  size_t logged = 0;
  for (const Done& d : batch.done) logged += d.logged ? 1 : 0;
  const double each = logged > 0 ? spent / double(logged) : 0;
  program.log.GatherFileLines();  // the batch's lines, one write
  for (const Done& d : batch.done) {
    if (!d.logged) continue;
    Statistiche_AddRecord(stats, kRecordsReceived, kSecondsReceiving, start, start + each);
    stats.Stat_Testi[kLibraryReceived] = d.change.library;
    stats.Stat_Testi[kFileReceived] = d.change.file;
    (void)fault_.Ended("[Server_SQL_Sincro] Modifica " + d.change.library + "/" + d.change.file +
                       " codice " + std::string(1, d.change.code) + " RRN " +
                       std::to_string(d.change.rrn) + " applicata");
    program.Scrivi_Messaggio(HostChangeLogLine(d.change, d.idx));
  }
  program.log.WriteGatheredLines();
  pending_.conflicts().Committed();
}

void HostToSql::HeldFailed(const Batch& batch) {
  PendingState& pending = pending_.state();
  const JournalEntry& head = journal_->waiting().front();
  held_ = true;
  if (!pending.held || pending.held->data != head.data) {
    pending.held = HeldChange{head.data, head.received, "", held_attempts_};
  }
  Failed(batch.failed_change, *pending.held, batch.failure);
  held_attempts_ = pending.held->attempts;
}

}  // namespace torvan
