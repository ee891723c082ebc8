// SQL to host, one event: its row read and its statement made (ReadEvent), its statements
// sent with the rules of a refusal and of an earlier sending that may have been executed
// (SendEvent). The batches that hold them are in sql_to_host.cpp.
#include <algorithm>

#include "core/text.h"
#include "hostlink/exchange.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"
#include "platform/crc32.h"
#include "platform/file.h"
#include "replication/change_record.h"
#include "replication/host_statements.h"
#include "replication/sql_to_host.h"
#include "schema/statements.h"

namespace torvan {

namespace {

namespace ss = hostlink::statement_status;

constexpr char kRoutine[] = "Server_SQL_Ritorno";

}  // namespace

bool SqlToHost::HeldConcerns(const HeldChange& held, const FileEntry& entry, int64_t rrn) {
  HostChange change;
  if (!DecodeChange(rt_.socket.tables(), held.data, &change).ok()) return false;
  if (change.file != entry.File || change.library != entry.Libreria) return false;
  return change.code == hostlink::change_record::kCleared || (rrn != 0 && change.rrn == rrn);
}

SqlToHost::SqlToHost(Runtime& rt, Pending& pending) : rt_(rt), pending_(pending) {}

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

SqlToHost::Outcome SqlToHost::ReadEvent(Item* item, const sql::Recordset* rs) {
  Program& program = rt_.program;
  const Master& m = item->m;
  const FileEntry& entry = item->entry;
  const int32_t d = m.database;
  const std::string what =
      "evento " + entry.Libreria + "/" + m.file + " PROGR=" + std::to_string(m.progr);
  if (rs == nullptr) {
    program.Scrivi_Messaggio(MasterText("Master ", d, m.rrn, m.file, m.progr) + " Non trovato");
    return Outcome::kNotFound;
  }
  const sql::Field* e = rs->Find("_T_EVENTO___");
  if (!WholeField(*rs, "_T_PROGR___", &item->progr) || !WholeField(*rs, "_T_IDX___", &item->idx) ||
      !WholeField(*rs, "_T_RRN___", &item->rrn) || e == nullptr || e->is_null) {
    Fault(d, what, "riga illeggibile in " + m.file + "___");
    return Outcome::kStop;
  }
  item->event = Trim(e->text).empty() ? ' ' : Trim(e->text)[0];
  const sql::Field* tipo = rs->Find("_T_TIPO___");
  item->torvan = tipo != nullptr && Trim(tipo->text) == "C";
  const Catalogue& c = rt_.catalogue;
  for (int32_t k = entry.Primo_Campo;
       k >= 1 && k <= entry.Ultimo_Campo && k < int32_t(c.Tab_Campi.size()); ++k) {
    if (k == entry.Campo_IDX) continue;
    const CampoEntry& f = c.Tab_Campi[size_t(k)];
    const sql::Field* v = rs->Find(f.Nome);
    if (v == nullptr || v->is_null) {
      Fault(d, what, "valore mancante della colonna " + f.Nome + " in " + m.file + "___");
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
    item->values.push_back({f.Nome, hostlink::IsTextField(f.Tipo), text});
  }

  const PendingState& pending = pending_.state();
  if (pending.held && HeldConcerns(*pending.held, entry, item->rrn)) {
    // A host change of this row waits to be applied: the event goes after it, once the
    // two have been weighed against each other (conflicts.h).
    return Outcome::kNotExecuted;
  }
  const std::string& library = entry.Libreria;
  item->detail = ">  FILE=" + m.file + " PROGR=" + std::to_string(item->progr) +
                 " IDX=" + std::to_string(item->idx) + " RRN=" + std::to_string(item->rrn);
  if (!LogPcAs(item->detail + " LIBR=" + library + " EVENTO=" + std::string(1, item->event))) {
    return Outcome::kStop;
  }
  const std::string where = HostWhere(item->rrn, item->idx);
  switch (item->event) {
    case 'I':
      item->statement = HostInsertStatement(library, m.file, item->values, item->idx);
      break;
    case 'U':
      item->statement = HostUpdateStatement(library, m.file, item->values, item->idx, where);
      break;
    case 'D':
      item->statement = HostDeleteStatement(library, m.file, where);
      break;
    default:
      program.Scrivi_Messaggio("[Server_SQL_Ritorno] Evento sconosciuto \"" +
                               std::string(1, item->event) + "\" in " + m.file +
                               "___ PROGR=" + std::to_string(item->progr));
      return Outcome::kStop;
  }
  item->mark = InFlightEvent{d, m.rrn, m.file, m.progr, platform::Crc32(item->statement)};
  item->found = true;
  return Outcome::kCompleted;
}

SqlToHost::Outcome SqlToHost::SendEvent(Item* item) {
  const Master& m = item->m;
  const std::string& library = item->entry.Libreria;
  const std::string& detail = item->detail;
  const char event = item->event;
  const int64_t rrn = item->rrn, idx = item->idx;
  const bool was_in_flight = item->was_in_flight;
  Conflicts& conflicts = pending_.conflicts();
  const bool update_first = was_in_flight && event == 'I';
  const std::string first =
      update_first ? HostUpdateStatement(library, m.file, item->values, idx, HostWhere(0, idx))
                   : item->statement;
  if (!LogPcAs(detail + " AS-->PC DATI=" + first)) return Outcome::kStop;
  // Not executed this time (a refused request: outcome not "0", already said by the
  // exchange's "Errore stato"): the master row stays and a later call sends the event
  // again. A mark from an earlier attempt stays: that one may have been executed.
  auto not_executed = [&] {
    conflicts.Answered(item->sent, '-');
    item->sending = false;
    if (!was_in_flight) {
      std::erase(pending_.state().in_flight, item->mark);
      if (!pending_.Save()) return Outcome::kStop;
    }
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
  // (An index of 0 would name every record the host made itself.)
  const bool by_index_too =
      idx > 0 && (event == 'D' || (event == 'U' && (was_in_flight || !item->torvan)));
  if (status != ss::kExecuted && rrn != 0 && by_index_too) {
    // Refused at its RRN: the record may be one Torvan added for this row, found by its
    // index. An earlier update of the row refused there became an insert, and so may this
    // one's own first sending have, when it was in flight; without this, every later update
    // of the row would add one more record, and its delete would leave them all.
    const std::string by_index =
        event == 'D' ? HostDeleteStatement(library, m.file, HostWhere(0, idx))
                     : HostUpdateStatement(library, m.file, item->values, idx, HostWhere(0, idx));
    if (!LogPcAs(detail + " AS-->PC DATI=" + by_index)) return Outcome::kStop;
    o = Send(by_index, true, &status);
    if (o == Outcome::kStop) return o;
    if (o == Outcome::kNotExecuted) return not_executed();
    taken = event == 'D' ? SentEvent::kDeleted : SentEvent::kUpdatedByIndex;
  }
  if (status != ss::kExecuted) {
    if (event == 'U' && item->torvan) {
      // Torvan's own resend of a row's values: a record gone meanwhile was deleted on the
      // host after its change, and that delete follows in the host's queue.
      taken = '-';
    } else if (event == 'U' || update_first) {
      const std::string insert = HostInsertStatement(library, m.file, item->values, idx);
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
      Refused(status, m, library, event, rrn, idx, item->statement);
      taken = '-';
    }
  }
  conflicts.Answered(item->sent, taken);
  item->sending = false;
  item->executed = true;
  return Outcome::kCompleted;
}
}  // namespace torvan
