#include "replication/sql_to_host.h"

#include <algorithm>
#include <chrono>

#include "core/text.h"
#include "platform/clock.h"
#include "replication/kill_point.h"
#include "schema/connections.h"
#include "schema/operations.h"
#include "schema/statements.h"

namespace torvan {

namespace {

constexpr int kSlot = hostlink::SocketLayer::kLinkSlot;

// One row of a query, kept after the query has moved on, read as a recordset of that row.
class KeptRow final : public sql::Recordset {
 public:
  KeptRow(const std::vector<std::string>& names, const std::vector<sql::Field>& values)
      : names_(names), values_(values) {}
  bool Eof() const override { return eof_; }
  Status MoveNext() override {
    eof_ = true;
    return Status::Ok();
  }
  int FieldCount() const override { return int(names_.size()); }
  const std::string& FieldName(int i) const override {
    static const std::string kNone;
    return i >= 0 && size_t(i) < names_.size() ? names_[size_t(i)] : kNone;
  }
  const sql::Field& Value(int i) const override {
    static const sql::Field kNull{true, ""};
    return !eof_ && i >= 0 && size_t(i) < values_.size() ? values_[size_t(i)] : kNull;
  }

 private:
  const std::vector<std::string>& names_;
  const std::vector<sql::Field>& values_;
  bool eof_ = false;
};

}  // namespace

// A whole number of a recordset value ("57", "1234", "-3"); false when it is none.
bool SqlToHost::WholeField(const sql::Recordset& rs, std::string_view name, int64_t* value) {
  const sql::Field* f = rs.Find(name);
  if (f == nullptr || f->is_null) return false;
  const std::string t = Trim(f->text);
  size_t i = (!t.empty() && (t[0] == '-' || t[0] == '+')) ? 1 : 0;
  if (i == t.size()) return false;
  int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9' || v > (INT64_MAX - 9) / 10) return false;
    v = v * 10 + (t[i] - '0');
  }
  *value = t[0] == '-' ? -v : v;
  return true;
}

std::string SqlToHost::MasterText(const std::string& prefix, int32_t d, int64_t rrn,
                                  const std::string& file, int64_t progr) {
  return prefix + std::to_string(d) + " RRN=" + std::to_string(rrn) + " FILE=" + file +
         " PROGR=" + std::to_string(progr);
}

void SqlToHost::LinkLost() {
  rt_.socket.Sock_Close(kSlot);
  rt_.program.state.LinkUp = false;
}

std::string SqlToHost::DatabaseName(int32_t d) const {
  const Catalogue& c = rt_.catalogue;
  for (int32_t k = 1; k <= c.N_File && k < int32_t(c.Tab_File.size()); ++k) {
    if (c.Tab_File[size_t(k)].Indice_DB == d) return c.Tab_File[size_t(k)].DataBase;
  }
  return "database " + std::to_string(d);
}

RepeatedFault& SqlToHost::FaultOf(int32_t d) {
  std::unique_ptr<RepeatedFault>& f = faults_[d];
  if (f == nullptr) f = std::make_unique<RepeatedFault>(rt_.program);
  return *f;
}

void SqlToHost::Fault(int32_t d, const std::string& what, const std::string& reason) {
  Program& program = rt_.program;
  sql::Connection* c = rt_.connessioni.at(d);
  std::vector<sql::SqlError> errors;
  if (c != nullptr) {
    errors = c->Errors();
    c->ClearErrors();
    // A connection whose link failed is opened again at the next call.
    if (sql::FindError(errors, sql::IsConnectionLost) != nullptr) c->Close();
  }
  const std::string db = DatabaseName(d);
  RepeatedFault& fault = FaultOf(d);
  if (reason.empty()) {
    if (const sql::SqlError* busy = sql::FindError(errors, sql::IsBusy)) {
      // Another program holds the database: said when the wait starts and when it ends.
      if (fault.Failed("lock", "in attesa del lock su " + db + ": " + what)) {
        program.Scrivi_Messaggio("[Server_SQL_Ritorno] In attesa del lock su " + db + ": " + what +
                                 " (" + busy->description + ")");
      }
      return;
    }
  }
  const std::string text = !reason.empty()  ? reason
                           : errors.empty() ? std::string("errore")
                                            : errors.front().description;
  if (!fault.Failed(text)) return;  // said when it started; counted until it ends
  program.Scrivi_Messaggio("[Server_SQL_Ritorno] " + db + ", " + what + ": " + text);
  if (!errors.empty()) Errori_SQL(program, errors);
  for (const sql::SqlError& e : errors) {
    const std::string table = sql::MissingTable(e);
    if (table.empty()) continue;
    int n = 0;
    for (int32_t k = 1; k <= rt_.catalogue.N_File && k < int32_t(rt_.catalogue.Tab_File.size());
         ++k) {
      const FileEntry& f = rt_.catalogue.Tab_File[size_t(k)];
      if (f.Indice_DB == d && (f.File == table || f.File + "___" == table)) n = k;
    }
    program.Scrivi_Messaggio("[Server_SQL_Ritorno] " + MissingTableHint(db, table, n));
    break;
  }
}

void SqlToHost::FaultEnded(int32_t d) {
  auto found = faults_.find(d);
  if (found == faults_.end() || !found->second->active()) return;
  const std::string db = DatabaseName(d);
  (void)found->second->Ended(found->second->kind() == "lock"
                                 ? "[Server_SQL_Ritorno] Lock su " + db + " rilasciato"
                                 : "[Server_SQL_Ritorno] Eventi di " + db + " di nuovo inviati");
}

bool SqlToHost::LogPcAs(const std::string& text) {
  if (!rt_.program.settings.parametri.Log_PC_AS) return true;
  Status s = rt_.program.log.Scrivi_Log_PC_AS(text);
  if (!s.ok()) {
    rt_.program.Scrivi_Messaggio("[Server_SQL_Ritorno] ERRORE nella scrittura di " +
                                 rt_.program.paths.pc_as_log + ": " + s.message());
  }
  return s.ok();
}

SqlToHost::~SqlToHost() {
  if (unmarked_unsaved_) (void)pending_.Save();
}

bool SqlToHost::Server_SQL_Ritorno() {
  Program& program = rt_.program;
  if (!program.state.LinkUp || !program.state.Collegato_SQL || !pending_.Ready()) return false;
  bool completed_any = false;
  const Catalogue& c = rt_.catalogue;
  for (int32_t d = 1; d <= c.N_DB; ++d) {
    if (size_t(d) >= c.DB_Ritorno.size() || !c.DB_Ritorno[size_t(d)]) continue;
    if (OneBatch(d, &completed_any) == Outcome::kStop) break;
  }
  program.ProcessEvents();
  return completed_any;
}

SqlToHost::Outcome SqlToHost::OneBatch(int32_t d, bool* completed_any) {
  Program& program = rt_.program;
  const double start = platform::SecondsSinceMidnight(program.Now());
  if (rt_.connessioni.at(d) == nullptr) return Outcome::kNothing;
  if (!ReopenIfLost(program, rt_.connessioni, d, DatabaseName(d))) {
    Fault(d, "lettura degli eventi da inviare");
    return Outcome::kStop;
  }
  std::vector<Item> items;
  int64_t oldest = 0;
  Outcome end = ReadBatch(d, &items, &oldest);
  if (end == Outcome::kNothing && items.empty()) {
    // No master row: any mark left for this database names an event that is gone.
    PendingState& pending = pending_.state();
    const bool gone = std::erase_if(pending.in_flight,
                                    [d](const InFlightEvent& e) { return e.database == d; }) > 0;
    if (gone || unmarked_unsaved_) {
      (void)pending_.Save();
      unmarked_unsaved_ = false;
    }
    FaultEnded(d);
    return Outcome::kNothing;
  }
  size_t done = 0;
  const Outcome sent = SendBatch(d, oldest, &items, &done);
  if (sent == Outcome::kStop || (sent == Outcome::kNotExecuted && end == Outcome::kNothing)) {
    end = sent;
  }
  if (!Remove(d, items, done, start)) return Outcome::kStop;
  bool completed = false;
  for (size_t i = 0; i < done; ++i) completed = completed || items[i].executed || !items[i].found;
  if (completed) *completed_any = true;
  if (end == Outcome::kStop) return end;
  FaultEnded(d);
  return completed ? Outcome::kCompleted : Outcome::kNothing;
}

SqlToHost::Outcome SqlToHost::ReadBatch(int32_t d, std::vector<Item>* items, int64_t* oldest) {
  Program& program = rt_.program;
  sql::Connection* connection = rt_.connessioni.at(d);
  const std::string reading = "lettura degli eventi da inviare";
  const int64_t lot = std::max<int64_t>(1, program.settings.Lotto_Modifiche);
  Outcome end = Outcome::kNothing;
  {
    std::unique_ptr<sql::Recordset> rs;
    if (!connection->OpenFirstRows(SelectMaster(), lot, &rs).ok()) {
      Fault(d, reading);
      return Outcome::kStop;
    }
    while (!rs->Eof() && int64_t(items->size()) < lot) {
      Item item;
      item.m.database = d;
      const sql::Field* file = rs->Find("_T_FILE___");
      if (!WholeField(*rs, "_T_RRN___", &item.m.rrn) ||
          !WholeField(*rs, "_T_PROGR___", &item.m.progr) || file == nullptr || file->is_null) {
        Fault(d, reading, "riga di _T_MASTER___ illeggibile");
        end = Outcome::kStop;
        break;
      }
      item.m.file = Trim(file->text);
      items->push_back(std::move(item));
      if (!rs->MoveNext().ok()) {
        Fault(d, reading);
        end = Outcome::kStop;
        break;
      }
    }
  }
  // The oldest master row there is: the marks of older ones name events that are gone.
  *oldest = items->empty() ? 0 : items->front().m.rrn;

  // The events, in master order, up to the first that cannot go now; the rows of a file
  // are read, with one query, when its first master row of the batch comes.
  std::map<std::string, FileRows> rows;
  size_t ready = 0;
  for (; ready < items->size(); ++ready) {
    Item& item = (*items)[ready];
    const Master& m = item.m;
    if (!LogPcAs(MasterText("Master ", d, m.rrn, m.file, m.progr) + " Inizio")) {
      end = Outcome::kStop;
      break;
    }
    const Catalogue& c = rt_.catalogue;
    for (int32_t j = 1; j <= c.N_File && j < int32_t(c.Tab_File.size()) && !item.matched; ++j) {
      const FileEntry& entry = c.Tab_File[size_t(j)];
      if (entry.File != m.file || !entry.Pc_As || entry.Indice_DB != d) continue;
      item.entry = entry;
      item.matched = true;
    }
    if (!item.matched) {
      // An event of a file no longer sent back: its row stays in the event table, and is
      // said so; the master row goes, or it would hold back every later event.
      program.Scrivi_Messaggio(MasterText("Master ", d, m.rrn, m.file, m.progr) +
                               " file non replicato verso l'host: evento non inviato");
      continue;
    }
    auto [file_rows, fresh] = rows.try_emplace(m.file);
    if (fresh && !ReadFileRows(d, *items, item, &file_rows->second)) {
      end = Outcome::kStop;
      break;
    }
    const FileRows& kept = file_rows->second;
    const auto row = kept.by_progr.find(m.progr);
    Outcome o;
    if (row == kept.by_progr.end()) {
      o = ReadEvent(&item, nullptr);
    } else {
      const KeptRow event_row(kept.names, row->second);
      o = ReadEvent(&item, &event_row);
    }
    if (o == Outcome::kNotFound) continue;
    if (o != Outcome::kCompleted) {
      if (end == Outcome::kNothing || o == Outcome::kStop) end = o;
      break;
    }
  }
  items->resize(ready);
  return end;
}

bool SqlToHost::ReadFileRows(int32_t d, const std::vector<Item>& items, const Item& first,
                             FileRows* rows) {
  // A file's events are numbered much as their master rows are, so the range holds the
  // batch's events of the file and few others (of master rows beyond the batch, or gone):
  // those are read and not used.
  const std::string& file = first.m.file;
  int64_t lowest = first.m.progr, highest = first.m.progr;
  for (const Item& item : items) {
    if (item.m.file != file) continue;
    lowest = std::min(lowest, item.m.progr);
    highest = std::max(highest, item.m.progr);
  }
  const std::string what =
      "evento " + first.entry.Libreria + "/" + file + " PROGR=" + std::to_string(first.m.progr);
  std::unique_ptr<sql::Recordset> rs;
  if (!rt_.connessioni.at(d)->OpenRecordset(SelectEvents(file, lowest, highest), &rs).ok()) {
    Fault(d, what);
    return false;
  }
  for (int i = 0; i < rs->FieldCount(); ++i) rows->names.push_back(rs->FieldName(i));
  while (!rs->Eof()) {
    int64_t progr = 0;
    if (!WholeField(*rs, "_T_PROGR___", &progr)) {
      Fault(d, what, "riga illeggibile in " + file + "___");
      return false;
    }
    std::vector<sql::Field>& values = rows->by_progr[progr];
    for (int i = 0; i < rs->FieldCount(); ++i) values.push_back(rs->Value(i));
    if (!rs->MoveNext().ok()) {
      Fault(d, what);
      return false;
    }
  }
  return true;
}

SqlToHost::Outcome SqlToHost::SendBatch(int32_t d, int64_t oldest, std::vector<Item>* batch,
                                        size_t* done) {
  Program& program = rt_.program;
  PendingState& pending = pending_.state();
  std::vector<Item>& items = *batch;
  *done = 0;

  // In flight: a mark for this very event (same master row, same statement) means its
  // status was never read; another mark of the same master row, or of an older one, names
  // an event that is gone. The marks of newer master rows than the batch reaches stay: a
  // batch cut short before them (a kill, a value to mend) may have sent them.
  Conflicts& conflicts = pending_.conflicts();
  auto known = [](const std::vector<InFlightEvent>& marks, const InFlightEvent& mark) {
    return std::find(marks.begin(), marks.end(), mark) != marks.end();
  };
  bool to_send = false;
  for (Item& item : items) {
    if (!item.found) continue;
    item.was_in_flight = known(pending.in_flight, item.mark);
    item.executed = known(answered_, item.mark);  // only its rows are left to remove
    to_send = to_send || !item.executed;
  }
  if (to_send && !rt_.socket.connected(kSlot)) {
    LinkLost();
    return Outcome::kStop;
  }
  std::erase_if(pending.in_flight, [&](const InFlightEvent& e) {
    if (e.database != d) return false;
    if (e.master_rrn < oldest) return true;
    return std::any_of(items.begin(), items.end(),
                       [&](const Item& item) { return item.found && item.m.rrn == e.master_rrn; });
  });
  for (const Item& item : items) {
    if (item.found) pending.in_flight.push_back(item.mark);
  }
  // Unsent events forget their sending; their marks go, but for one an earlier attempt
  // left: that one may have been executed.
  bool unmarked = false;
  auto not_sent = [&](Item& item) {
    if (item.sending) conflicts.Answered(item.sent, '-');
    item.sending = false;
    if (!item.was_in_flight && !item.executed && item.found) {
      std::erase(pending.in_flight, item.mark);
      unmarked = true;
    }
  };
  if (to_send) {
    for (Item& item : items) {
      if (!item.found || item.executed) continue;
      item.sent = conflicts.Sending(d, item.m.file, item.rrn, item.idx, item.event, item.values,
                                    item.torvan);
      item.sending = true;
    }
    if (!pending_.Save()) {
      for (Item& item : items) not_sent(item);
      conflicts.SendingsDone();
      return Outcome::kStop;
    }
    KillPoint("event-marked");
  }

  // One at a time and in order; a batch that takes longer than Lotto_Ms leaves the rest
  // to the next, so the cycle's other duties keep their pace.
  const auto until =
      program.clock->Monotonic() + std::chrono::milliseconds(program.settings.Lotto_Ms);
  Outcome end = Outcome::kNothing;
  bool sent_any = false;
  size_t i = 0, unsent = items.size();
  for (; i < items.size(); ++i) {
    Item& item = items[i];
    if (!item.found || item.executed) continue;
    if (sent_any && program.clock->Monotonic() >= until) {
      unsent = i;
      break;
    }
    sent_any = true;
    const Outcome o = SendEvent(&item);
    if (o != Outcome::kCompleted) {
      // SendEvent said what became of this one's sending.
      end = o;
      unsent = i + 1;
      break;
    }
    KillPoint("event-answered");
  }
  *done = i;
  for (size_t k = unsent; k < items.size(); ++k) not_sent(items[k]);
  conflicts.SendingsDone();
  if (unmarked) (void)pending_.Save();
  return end;
}

bool SqlToHost::Remove(int32_t d, const std::vector<Item>& items, size_t done, double start) {
  if (done == 0) return true;
  Program& program = rt_.program;
  sql::Connection* connection = rt_.connessioni.at(d);
  PendingState& pending = pending_.state();
  for (size_t i = 0; i < done; ++i) {
    const Item& item = items[i];
    const Master& m = item.m;
    if (item.found && !LogPcAs(item.detail + " Pulizia")) return false;
    if (!LogPcAs(MasterText("Master ", d, m.rrn, m.file, m.progr) + " Pulizia")) return false;
  }
  Status s = connection->BeginAllOrNothing();
  for (size_t i = 0; i < done && s.ok(); ++i) {
    const Item& item = items[i];
    if (item.found) s = connection->Execute(DeleteEvent(item.m.file, item.progr));
    if (s.ok()) s = connection->Execute(DeleteMaster(item.m.rrn));
  }
  if (s.ok()) s = connection->Commit();
  if (!s.ok()) {
    connection->Rollback();
    // The host has them: the next call removes their rows without sending them again.
    const Item* first = nullptr;
    for (size_t i = 0; i < done; ++i) {
      const Item& item = items[i];
      if (!item.executed) continue;
      if (first == nullptr) first = &item;
      if (std::find(answered_.begin(), answered_.end(), item.mark) == answered_.end()) {
        answered_.push_back(item.mark);
      }
    }
    const Master& m = first != nullptr ? first->m : items[0].m;
    Fault(d, first != nullptr
                 ? "evento " +
                       EventText(m, first->entry.Libreria, first->event, first->rrn, first->idx) +
                       " eseguito dall'host"
                 : MasterText("riga Master ", d, m.rrn, m.file, m.progr));
    return false;
  }
  KillPoint("event-removed");
  Statistics& stats = program.stats;
  // The batch's time, shared among its events.
  double spent = platform::SecondsSinceMidnight(program.Now()) - start;
  if (spent < 0) spent += 86400;
  size_t removed = 0;
  for (size_t i = 0; i < done; ++i) removed += items[i].found ? 1 : 0;
  const double each = removed > 0 ? spent / double(removed) : 0;
  program.log.GatherFileLines();  // the batch's lines, one write
  for (size_t i = 0; i < done; ++i) {
    const Item& item = items[i];
    if (!item.found) continue;
    std::erase(answered_, item.mark);
    // The mark of a removed event names an event that is gone: it leaves the file with the
    // next write (the next batch's marks, an empty queue, the end of Torvan), not with a
    // write of its own. Left by a kill, it matches no later event (master rows are not
    // numbered again while their table lives), and a match after a rebuild of the table
    // costs no more than an insert tried first as an update by its index.
    std::erase(pending.in_flight, item.mark);
    unmarked_unsaved_ = true;
    Statistiche_AddRecord(stats, kRecordsSent, kSecondsSending, start, start + each);
    stats.Stat_Testi[kLibrarySent] = item.entry.Libreria;
    stats.Stat_Testi[kFileSent] = item.m.file;
    const char* op = item.event == 'I' ? " ADD" : item.event == 'D' ? " DEL" : " UPD";
    program.Scrivi_Messaggio("AS<-- " + item.entry.Libreria + "/" + item.m.file + op + " RRN:" +
                             std::to_string(item.rrn) + " IDX:" + std::to_string(item.idx));
  }
  program.log.WriteGatheredLines();
  return true;
}

}  // namespace torvan
