#include "replication/sql_to_host.h"

#include <algorithm>
#include <cstdio>

#include "core/text.h"
#include "hostlink/exchange.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"
#include "platform/crc32.h"
#include "platform/file.h"
#include "replication/change_record.h"
#include "replication/host_statements.h"
#include "replication/kill_point.h"
#include "schema/connections.h"
#include "schema/operations.h"
#include "schema/statements.h"

namespace torvan {

namespace {

namespace ss = hostlink::statement_status;

constexpr char kRoutine[] = "Server_SQL_Ritorno";
constexpr int kSlot = hostlink::SocketLayer::kLinkSlot;

// A whole number of a recordset value ("57", "1234", "-3"); false when it is none.
bool WholeField(const sql::Recordset& rs, std::string_view name, int64_t* value) {
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

std::string MasterText(const std::string& prefix, int32_t d, int64_t rrn, const std::string& file,
                       int64_t progr) {
  return prefix + std::to_string(d) + " RRN=" + std::to_string(rrn) + " FILE=" + file +
         " PROGR=" + std::to_string(progr);
}

}  // namespace

bool SqlToHost::HeldConcerns(const HeldChange& held, const FileEntry& entry, int64_t rrn) {
  HostChange change;
  if (!DecodeChange(rt_.socket.tables(), held.data, &change).ok()) return false;
  if (change.file != entry.File || change.library != entry.Libreria) return false;
  return change.code == hostlink::change_record::kCleared || (rrn != 0 && change.rrn == rrn);
}

SqlToHost::SqlToHost(Runtime& rt, Pending& pending) : rt_(rt), pending_(pending) {}

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
  const double start = platform::SecondsSinceMidnight(program.Now());
  const Catalogue& c = rt_.catalogue;
  for (int32_t d = 1; d <= c.N_DB; ++d) {
    if (size_t(d) >= c.DB_Ritorno.size() || !c.DB_Ritorno[size_t(d)]) continue;
    if (OneMaster(d, start, &completed_any) == Outcome::kStop) break;
  }
  program.ProcessEvents();
  return completed_any;
}

SqlToHost::Outcome SqlToHost::OneMaster(int32_t d, double start, bool* completed_any) {
  Program& program = rt_.program;
  sql::Connection* connection = rt_.connessioni.at(d);
  if (connection == nullptr) return Outcome::kNothing;
  PendingState& pending = pending_.state();
  const std::string reading = "lettura degli eventi da inviare";
  if (!ReopenIfLost(program, rt_.connessioni, d, DatabaseName(d))) {
    Fault(d, reading);
    return Outcome::kStop;
  }

  Master m;
  m.database = d;
  {
    std::unique_ptr<sql::Recordset> rs;
    if (!connection->OpenFirstRow(SelectMaster(), &rs).ok()) {
      Fault(d, reading);
      return Outcome::kStop;
    }
    if (rs->Eof()) {
      // No master row: any mark left for this database names an event that is gone.
      const bool gone = std::erase_if(pending.in_flight,
                                      [d](const InFlightEvent& e) { return e.database == d; }) > 0;
      if (gone || unmarked_unsaved_) {
        (void)pending_.Save();
        unmarked_unsaved_ = false;
      }
      FaultEnded(d);
      return Outcome::kNothing;
    }
    const sql::Field* file = rs->Find("_T_FILE___");
    if (!WholeField(*rs, "_T_RRN___", &m.rrn) || !WholeField(*rs, "_T_PROGR___", &m.progr) ||
        file == nullptr || file->is_null) {
      Fault(d, reading, "riga di _T_MASTER___ illeggibile");
      return Outcome::kStop;
    }
    m.file = Trim(file->text);
  }
  if (!LogPcAs(MasterText("Master ", d, m.rrn, m.file, m.progr) + " Inizio")) return Outcome::kStop;

  bool completed = false, not_found = false, not_executed = false, matched = false;
  const int32_t n_file = rt_.catalogue.N_File;
  for (int32_t j = 1; j <= n_file && j < int32_t(rt_.catalogue.Tab_File.size()); ++j) {
    // A copy: events run while the event is sent.
    const FileEntry entry = rt_.catalogue.Tab_File[size_t(j)];
    if (entry.File != m.file || !entry.Pc_As || entry.Indice_DB != d) continue;
    matched = true;
    switch (OneEvent(m, entry, start)) {
      case Outcome::kCompleted:
        completed = true;
        *completed_any = true;
        break;
      case Outcome::kNotFound:
        not_found = true;
        break;
      case Outcome::kNotExecuted:
        not_executed = true;
        break;
      case Outcome::kStop:
        return Outcome::kStop;
      case Outcome::kNothing:
        break;
    }
  }
  if (!matched) {
    // An event of a file no longer sent back: its row stays in the event table, and is
    // said so; the master row goes, or it would hold back every later event.
    program.Scrivi_Messaggio(MasterText("Master ", d, m.rrn, m.file, m.progr) +
                             " file non replicato verso l'host: evento non inviato");
  }
  if (!LogPcAs(MasterText("Master ", d, m.rrn, m.file, m.progr) + " Pulizia")) {
    return Outcome::kStop;
  }
  // The master row of an event that was not executed stays: the next call sends it again.
  if (!not_executed && (completed || not_found || !matched)) {
    if (!connection->Execute(DeleteMaster(m.rrn)).ok()) {
      Fault(d, MasterText("riga Master ", d, m.rrn, m.file, m.progr));
      return Outcome::kStop;
    }
    // A master row whose event is gone (a kill after the event row went) is work done:
    // the events behind it are sent in the same pass.
    if (not_found) *completed_any = true;
  }
  FaultEnded(d);
  return completed ? Outcome::kCompleted : Outcome::kNothing;
}

SqlToHost::Outcome SqlToHost::Send(const std::string& statement, bool repeated, char* status) {
  Program& program = rt_.program;
  hostlink::ExchangeReply reply = hostlink::ExchangeStatement(
      rt_.socket, program, kRoutine, statement, repeated,
      program.stats.Stat_Contatori[kSendDelayCycles], program.stats.Ritardo_Link);
  if (reply.outcome == hostlink::ExchangeReply::Outcome::kReadFailed) {
    LinkLost();
    return Outcome::kStop;
  }
  if (reply.outcome == hostlink::ExchangeReply::Outcome::kRefused) return Outcome::kNotExecuted;
  const hostlink::FieldText s =
      rt_.socket.Field_Decode('A', ss::kStatus.pos, ss::kStatus.len, ss::kStatus.len, 0);
  *status = s.ok() && !s.text.empty() ? s.text[0] : '?';
  return Outcome::kCompleted;
}

std::string SqlToHost::EventText(const Master& m, const std::string& library, char event,
                                 int64_t rrn, int64_t idx) {
  return library + "/" + m.file + " EVENTO=" + std::string(1, event) +
         " RRN=" + std::to_string(rrn) + " IDX=" + std::to_string(idx);
}

void SqlToHost::Refused(char status, const Master& m, const std::string& library, char event,
                        int64_t rrn, int64_t idx, const std::string& statement) {
  Program& program = rt_.program;
  const std::string what = EventText(m, library, event, rrn, idx);
  program.Scrivi_Messaggio("[Server_SQL_Ritorno] Istruzione rifiutata (stato " +
                           std::string(1, status) + "): " + what);
  const std::string line = platform::DateTimeText(program.Now()) + " stato " +
                           std::string(1, status) + " DB " + std::to_string(m.database) + " " +
                           what + " PROGR=" + std::to_string(m.progr) + " DATI=" + statement +
                           "\r\n";
  // On the disk (with Durevole) before the event row goes.
  Status s = platform::AppendToFile(program.paths.refused_log, Cp1252ToUtf8(line),
                                    program.settings.Durevole);
  if (!s.ok()) {
    program.Scrivi_Messaggio("ERRORE nella scrittura di " + program.paths.refused_log + ": " +
                             s.message());
  }
}

SqlToHost::Outcome SqlToHost::OneEvent(const Master& m, const FileEntry& entry, double start) {
  Program& program = rt_.program;
  const int32_t d = m.database;
  sql::Connection* connection = rt_.connessioni.at(d);
  PendingState& pending = pending_.state();

  int64_t progr = 0, idx = 0, rrn = 0;
  char event = ' ';
  bool torvan = false;  // recorded by Torvan itself
  std::vector<HostValue> values;
  {
    std::unique_ptr<sql::Recordset> rs;
    if (!connection->OpenRecordset(SelectEvent(m.file, m.progr), &rs).ok()) {
      Fault(d, "evento " + entry.Libreria + "/" + m.file + " PROGR=" + std::to_string(m.progr));
      return Outcome::kStop;
    }
    if (rs->Eof()) {
      program.Scrivi_Messaggio(MasterText("Master ", d, m.rrn, m.file, m.progr) + " Non trovato");
      return Outcome::kNotFound;
    }
    const sql::Field* e = rs->Find("_T_EVENTO___");
    if (!WholeField(*rs, "_T_PROGR___", &progr) || !WholeField(*rs, "_T_IDX___", &idx) ||
        !WholeField(*rs, "_T_RRN___", &rrn) || e == nullptr || e->is_null) {
      Fault(d, "evento " + entry.Libreria + "/" + m.file + " PROGR=" + std::to_string(m.progr),
            "riga illeggibile in " + m.file + "___");
      return Outcome::kStop;
    }
    event = Trim(e->text).empty() ? ' ' : Trim(e->text)[0];
    const sql::Field* tipo = rs->Find("_T_TIPO___");
    torvan = tipo != nullptr && Trim(tipo->text) == "C";
    const Catalogue& c = rt_.catalogue;
    for (int32_t k = entry.Primo_Campo;
         k >= 1 && k <= entry.Ultimo_Campo && k < int32_t(c.Tab_Campi.size()); ++k) {
      if (k == entry.Campo_IDX) continue;
      const CampoEntry& f = c.Tab_Campi[size_t(k)];
      const sql::Field* v = rs->Find(f.Nome);
      if (v == nullptr || v->is_null) {
        Fault(d, "evento " + entry.Libreria + "/" + m.file + " PROGR=" + std::to_string(m.progr),
              "valore mancante della colonna " + f.Nome + " in " + m.file + "___");
        return Outcome::kStop;
      }
      std::string text = v->text;
      if (f.Tipo != "A") {
        const Status fits = HostNumberText(f, v->text, &text);
        if (!fits.ok()) {
          // Sent cut, the host would keep another value; dropped, the change would be lost.
          // The event waits, and with it the later events of its database, until the
          // value is mended in the event table.
          program.Scrivi_Messaggio("[Server_SQL_Ritorno] Evento trattenuto: il valore " + v->text +
                                   " del campo " + f.Nome + " di " + entry.Libreria + "/" + m.file +
                                   " (database " + entry.DataBase + "): " + fits.message() +
                                   "; l'evento PROGR=" + std::to_string(m.progr) + " resta in " +
                                   m.file + "___ finch\xE9 non \xE8 corretto");
          return Outcome::kNotExecuted;
        }
      }
      values.push_back({f.Nome, hostlink::IsTextField(f.Tipo), text});
    }
  }

  if (pending.held && HeldConcerns(*pending.held, entry, rrn)) {
    // A host change of this row waits to be applied: the event goes after it, once the
    // two have been weighed against each other (conflicts.h).
    return Outcome::kNotExecuted;
  }
  const std::string library = entry.Libreria;
  const std::string detail = ">  FILE=" + m.file + " PROGR=" + std::to_string(progr) +
                             " IDX=" + std::to_string(idx) + " RRN=" + std::to_string(rrn);
  if (!LogPcAs(detail + " LIBR=" + library + " EVENTO=" + std::string(1, event))) {
    return Outcome::kStop;
  }
  const std::string where = HostWhere(rrn, idx);
  std::string statement;
  switch (event) {
    case 'I':
      statement = HostInsertStatement(library, m.file, values, idx);
      break;
    case 'U':
      statement = HostUpdateStatement(library, m.file, values, idx, where);
      break;
    case 'D':
      statement = HostDeleteStatement(library, m.file, where);
      break;
    default:
      program.Scrivi_Messaggio("[Server_SQL_Ritorno] Evento sconosciuto \"" +
                               std::string(1, event) + "\" in " + m.file +
                               "___ PROGR=" + std::to_string(progr));
      return Outcome::kStop;
  }

  // In flight: a mark for this very event (same master row, same statement) means its
  // status was never read; any other mark of this database names an event that is gone.
  const InFlightEvent mark{d, m.rrn, m.file, m.progr, platform::Crc32(statement)};
  const bool was_in_flight = std::find(pending.in_flight.begin(), pending.in_flight.end(), mark) !=
                             pending.in_flight.end();
  std::erase_if(pending.in_flight, [&](const InFlightEvent& e) { return e.database == d; });
  pending.in_flight.push_back(mark);
  if (!rt_.socket.connected(kSlot)) {
    LinkLost();
    return Outcome::kStop;
  }
  Conflicts& conflicts = pending_.conflicts();
  if (answered_ != mark) conflicts.Sending(d, m.file, rrn, idx, event, values, torvan);
  if (!pending_.Save()) return Outcome::kStop;
  KillPoint("event-marked");
  auto unmark = [&] {
    std::erase(pending.in_flight, mark);
    return pending_.Save();
  };

  if (answered_ == mark) {
    // Executed by the host already; only its row is left to remove.
    return Complete(m, library, event, rrn, idx, progr, detail, mark, start);
  }
  const bool update_first = was_in_flight && event == 'I';
  const std::string first =
      update_first ? HostUpdateStatement(library, m.file, values, idx, HostWhere(0, idx))
                   : statement;
  if (!LogPcAs(detail + " AS-->PC DATI=" + first)) return Outcome::kStop;
  // Not executed this time (a refused request: outcome not "0", already said by the
  // exchange's "Errore stato"): the master row stays and a later call sends the event
  // again. A mark from an earlier attempt stays: that one may have been executed.
  auto not_executed = [&] {
    conflicts.Answered('-');
    if (!was_in_flight && !unmark()) return Outcome::kStop;
    return Outcome::kNotExecuted;
  };
  // Any status but a blank says the host did not execute the statement; which character
  // it sends is its own affair.
  char status = ss::kExecuted;
  Outcome o = Send(first, false, &status);
  if (o == Outcome::kStop) return o;
  if (o == Outcome::kNotExecuted) return not_executed();
  // How the host took the event, for the rows a clear on the host must follow.
  char taken = update_first   ? SentEvent::kUpdatedByIndex
               : event == 'I' ? SentEvent::kInserted
               : event == 'D' ? SentEvent::kDeleted
               : rrn != 0     ? SentEvent::kUpdatedAtRrn
                              : SentEvent::kUpdatedByIndex;
  if (status != ss::kExecuted && event == 'U' && was_in_flight && rrn != 0) {
    // An update refused at its RRN is sent as an insert. When it was in flight, that
    // insert may have been executed already: the record it added is found by its index.
    const std::string by_index =
        HostUpdateStatement(library, m.file, values, idx, HostWhere(0, idx));
    if (!LogPcAs(detail + " AS-->PC DATI=" + by_index)) return Outcome::kStop;
    o = Send(by_index, true, &status);
    if (o == Outcome::kStop) return o;
    if (o == Outcome::kNotExecuted) return not_executed();
    taken = SentEvent::kUpdatedByIndex;
  }
  if (status != ss::kExecuted) {
    if (event == 'U' && torvan) {
      // Torvan's own resend of a row's values: a record gone meanwhile was deleted on the
      // host after its change, and that delete follows in the host's queue.
      taken = '-';
    } else if (event == 'U' || update_first) {
      const std::string insert = HostInsertStatement(library, m.file, values, idx);
      if (!LogPcAs(detail + " Insert AS-->PC DATI=" + insert)) return Outcome::kStop;
      char second = ss::kExecuted;
      o = Send(insert, true, &second);
      if (o == Outcome::kStop) return o;
      if (o == Outcome::kNotExecuted) return not_executed();
      if (second != ss::kExecuted) Refused(second, m, library, event, rrn, idx, insert);
      taken = second == ss::kExecuted ? SentEvent::kInserted : '-';
    } else if (was_in_flight && event == 'D') {
      // The sending whose status was never read found the record and deleted it: the
      // refusal of the second is no refusal of the change.
    } else {
      Refused(status, m, library, event, rrn, idx, statement);
      taken = '-';
    }
  }
  if (answered_ != mark) conflicts.Answered(taken);

  KillPoint("event-answered");
  return Complete(m, library, event, rrn, idx, progr, detail, mark, start);
}

SqlToHost::Outcome SqlToHost::Complete(const Master& m, const std::string& library, char event,
                                       int64_t rrn, int64_t idx, int64_t progr,
                                       const std::string& detail, const InFlightEvent& mark,
                                       double start) {
  Program& program = rt_.program;
  const int32_t d = m.database;
  sql::Connection* connection = rt_.connessioni.at(d);
  PendingState& pending = pending_.state();
  if (!LogPcAs(detail + " Pulizia")) return Outcome::kStop;
  if (!connection->Execute(DeleteEvent(m.file, progr)).ok()) {
    // The host has it: the next call removes the row without sending it again.
    answered_ = mark;
    Fault(d, "evento " + EventText(m, library, event, rrn, idx) + " eseguito dall'host");
    return Outcome::kStop;
  }
  answered_.reset();
  KillPoint("event-removed");
  // The mark of a removed event names an event that is gone: it leaves the file with the
  // next write (the next event's mark, an empty queue, the end of Torvan), not with a
  // write of its own. Left by a kill, it matches no later event (master rows are not
  // numbered again while their table lives), and a match after a rebuild of the table
  // costs no more than an insert tried first as an update by its index.
  std::erase(pending.in_flight, mark);
  unmarked_unsaved_ = true;

  Statistics& stats = program.stats;
  Statistiche_AddRecord(stats, kRecordsSent, kSecondsSending, start,
                        platform::SecondsSinceMidnight(program.Now()));
  stats.Stat_Testi[kLibrarySent] = library;
  stats.Stat_Testi[kFileSent] = m.file;
  const char* op = event == 'I' ? " ADD" : event == 'D' ? " DEL" : " UPD";
  program.Scrivi_Messaggio("AS<-- " + library + "/" + m.file + op + " RRN:" + std::to_string(rrn) +
                           " IDX:" + std::to_string(idx));
  return Outcome::kCompleted;
}

}  // namespace torvan
