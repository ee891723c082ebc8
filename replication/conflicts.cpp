// The rules of a row both sides changed (conflicts.h), with what they remember in the pending
// state: long because the rules are many, each a function of its own, all on one state.
#include "replication/conflicts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "core/text.h"
#include "hostlink/exchange.h"
#include "hostlink/host_format.h"
#include "links/runtime.h"
#include "platform/crc32.h"
#include "platform/file.h"
#include "replication/held_change.h"
#include "schema/statements.h"

namespace torvan {

namespace {

namespace ss = hostlink::statement_status;

// What the pending file can hold of the remembered events: a slot is 128 KiB, and a held
// change takes up to 8 KiB of it.
constexpr size_t kMaxSent = 1000;
constexpr size_t kMaxValueBytes = 48 * 1024;

std::string ValuesText(const std::vector<HostValue>& values) {
  std::string text;
  for (const HostValue& v : values) text += "\t" + v.name + "=" + v.value;
  return text;
}

std::string Shown(std::string values) {
  std::replace(values.begin(), values.end(), '\t', ' ');
  return values;
}

const char* EventWord(char event) { return event == 'I' ? "ADD" : event == 'D' ? "DEL" : "UPD"; }

}  // namespace

int64_t Conflicts::NowMs() const {
  return platform::ToLocalTime(program_.Now()).time_since_epoch().count();
}

int64_t Conflicts::WindowMs() const { return int64_t(program_.settings.Finestra_Conflitti) * 1000; }

size_t Conflicts::Sending(int32_t d, const std::string& file, int64_t rrn, int64_t idx, char event,
                          const std::vector<HostValue>& values, bool torvan) {
  if (batch_sendings_ == 0) Prune();
  SentEvent e;
  e.database = d;
  e.file = file;
  e.rrn = rrn;
  e.idx = idx;
  e.event = event;
  e.taken = SentEvent::kUnknown;
  e.sent_ms = NowMs();
  e.values = ValuesText(values);
  e.torvan = torvan;
  state_.sent.push_back(std::move(e));
  return batch_sendings_++;
}

void Conflicts::Answered(size_t sending, char taken) {
  if (sending >= batch_sendings_ || batch_sendings_ > state_.sent.size()) return;
  state_.sent[state_.sent.size() - batch_sendings_ + sending].taken = taken;
}

void Conflicts::SendingsDone() {
  if (batch_sendings_ > 0 && batch_sendings_ <= state_.sent.size()) {
    const auto first = state_.sent.end() - long(batch_sendings_);
    state_.sent.erase(
        std::remove_if(first, state_.sent.end(), [](const SentEvent& e) { return e.taken == '-'; }),
        state_.sent.end());
  }
  batch_sendings_ = 0;
}

void Conflicts::Prune() {
  const int64_t now = NowMs(), window = WindowMs();
  // A clock set back makes every time look new: such events stay one window more.
  size_t before = state_.sent.size();
  std::erase_if(state_.sent, [&](const SentEvent& e) {
    return !e.after_clear && e.queue_empty_since && now - e.sent_ms >= window;
  });
  size_t bytes = 0;
  for (const SentEvent& e : state_.sent) bytes += e.values.size() + e.file.size() + 48;
  size_t drop = 0;
  while (drop < state_.sent.size() &&
         (state_.sent.size() - drop > kMaxSent || bytes > kMaxValueBytes)) {
    bytes -= state_.sent[drop].values.size() + state_.sent[drop].file.size() + 48;
    ++drop;
  }
  if (drop > 0) state_.sent.erase(state_.sent.begin(), state_.sent.begin() + long(drop));
  if (state_.sent.size() != before) batch_sendings_ = 0;
}

bool Conflicts::KeepOnce(const std::string& path, const std::string& record,
                         const std::string& when, std::string* reason) {
  std::string kept;
  (void)platform::ReadFile(path, &kept);
  if (Utf8ToCp1252(kept).find(record) != std::string::npos) return true;
  Status s = platform::AppendToFile(path, Cp1252ToUtf8(when + record), program_.settings.Durevole);
  if (!s.ok()) {
    *reason = "ERRORE nella scrittura di " + path + ": " + s.message();
    return false;
  }
  return true;
}

std::string Conflicts::SentText(const SentEvent& e) {
  return std::string(EventWord(e.event)) + " RRN:" + std::to_string(e.rrn) +
         " IDX:" + std::to_string(e.idx);
}

std::string Conflicts::SentTime(const SentEvent& e) {
  return platform::DateTimeText(
      platform::ToFields(platform::LocalTime(std::chrono::milliseconds(e.sent_ms))));
}

bool Conflicts::BeforeClear(const FileEntry& file, std::string* reason) {
  Program& program = program_;
  const std::string name = file.Libreria + "/" + file.File;
  const std::string when = platform::DateTimeText(program.Now());
  for (const SentEvent& e : state_.sent) {
    if (e.database != file.Indice_DB || e.file != file.File || e.after_clear) continue;
    const bool unknown = e.taken == SentEvent::kUnknown;
    const bool by_rrn =
        e.rrn != 0 && (e.taken == SentEvent::kUpdatedAtRrn || e.taken == SentEvent::kDeleted ||
                       (unknown && (e.event == 'U' || e.event == 'D')));
    if (!by_rrn) continue;
    // After its clear the host numbers its records from 1 again: the record this event
    // reached may be one made after the clear. Torvan cannot tell; the operator can.
    const std::string record = ", possibile conflitto: " + name +
                               " svuotato sul sistema origine dopo l'invio di " + SentText(e) +
                               " (inviata il " + SentTime(e) + ")\r\n " + Shown(e.values) + "\r\n";
    if (!KeepOnce(program.paths.conflicts_log, record, "Conflitto del " + when, reason)) {
      return false;
    }
    program.Scrivi_Messaggio("[Server_SQL_Sincro] Possibile conflitto su " + name + " " +
                             SentText(e) +
                             ": inviata prima dello svuotamento, il record dell'host pu\xF2 "
                             "essere un altro (vedere " +
                             program.paths.conflicts_log + ")");
  }
  return true;
}

void Conflicts::Cleared(const FileEntry& file) {
  std::erase_if(state_.sent, [&](SentEvent& e) {
    if (e.database != file.Indice_DB || e.file != file.File || e.after_clear) return false;
    const bool unknown = e.taken == SentEvent::kUnknown;
    e.after_clear =
        e.idx > 0 && (e.taken == SentEvent::kInserted || e.taken == SentEvent::kUpdatedByIndex ||
                      (unknown && (e.event == 'I' || e.event == 'U')));
    return !e.after_clear;
  });
  batch_sendings_ = 0;
}

void Conflicts::HostApplied(const FileEntry& file, int64_t idx) {
  if (idx <= 0) return;
  const size_t before = state_.sent.size();
  std::erase_if(state_.sent, [&](const SentEvent& e) {
    return e.after_clear && e.database == file.Indice_DB && e.file == file.File && e.idx == idx;
  });
  if (state_.sent.size() != before) batch_sendings_ = 0;
}

bool Conflicts::QueueEmpty(Runtime& rt, std::string* reason) {
  for (SentEvent& e : state_.sent) e.queue_empty_since = true;
  Prune();
  if (++empty_answers_ < 2) return true;
  Program& program = program_;
  const std::string when = platform::DateTimeText(program.Now());
  while (true) {
    auto found = std::find_if(state_.sent.begin(), state_.sent.end(),
                              [](const SentEvent& e) { return e.after_clear; });
    if (found == state_.sent.end()) return true;
    const SentEvent e = *found;
    const FileEntry* file = nullptr;
    for (int k = 1; k <= rt.catalogue.N_File && k < int(rt.catalogue.Tab_File.size()); ++k) {
      const FileEntry& f = rt.catalogue.Tab_File[size_t(k)];
      if (f.Indice_DB == e.database && f.File == e.file && f.Pc_As) file = &f;
    }
    if (file == nullptr) {  // no longer sent back: nothing to follow
      state_.sent.erase(found);
      continue;
    }
    const std::string name = file->Libreria + "/" + file->File;
    const std::string record = ", inviata prima dello svuotamento: " + name +
                               " svuotato sul sistema origine\r\n " + SentText(e) + " inviata il " +
                               SentTime(e) + Shown(e.values) + "\r\n";
    if (!KeepOnce(program.paths.set_aside_log, record, "Accantonata il " + when, reason)) {
      return false;
    }
    const std::string statement =
        HostDeleteStatement(file->Libreria, file->File, HostWhere(0, e.idx));
    if (program.settings.parametri.Log_PC_AS) {
      (void)program.log.Scrivi_Log_PC_AS(">  FILE=" + file->File + " IDX=" + std::to_string(e.idx) +
                                         " Svuotato AS-->PC DATI=" + statement);
    }
    hostlink::ExchangeReply reply = hostlink::ExchangeStatement(
        rt.socket, program, "Server_SQL_Sincro", statement, false,
        program.stats.Stat_Contatori[kSendDelayCycles], program.stats.Ritardo_Link);
    if (reply.outcome != hostlink::ExchangeReply::Outcome::kServed) {
      *reason = "la cancellazione sull'host di " + name + " IDX:" + std::to_string(e.idx) +
                " non \xE8 stata eseguita";
      return false;
    }
    const hostlink::FieldText status =
        rt.socket.Field_Decode('A', ss::kStatus.pos, ss::kStatus.len, ss::kStatus.len, 0);
    const bool deleted = status.ok() && !status.text.empty() && status.text[0] == ss::kExecuted;
    program.Scrivi_Messaggio("[Server_SQL_Sincro] " + name + " svuotato sul sistema origine: " +
                             SentText(e) + " inviata prima dello svuotamento" +
                             (deleted ? std::string(", record cancellato sull'host")
                                      : std::string(", record gi\xE0 assente sull'host")) +
                             " (accantonata in " + program.paths.set_aside_log + ")");
    std::erase(state_.sent, e);
    batch_sendings_ = 0;
  }
}

namespace {

std::string RowValues(const sql::Recordset& rs) {
  std::string values;
  for (int i = 0; i < rs.FieldCount(); ++i) {
    const std::string name = rs.FieldName(i);
    if (name.rfind("_T_", 0) == 0) continue;
    values += " " + name + "=" + rs.Value(i).text;
  }
  return values;
}

int64_t WholeText(const std::string& text) { return std::atoll(Trim(text).c_str()); }

}  // namespace

std::vector<std::string> Conflicts::Records(const std::string& conflicts_log) {
  std::string text;
  (void)platform::ReadFile(conflicts_log, &text);
  text = Utf8ToCp1252(text);
  std::vector<std::string> records;
  size_t at = text.find("Conflitto del ");
  while (at != std::string::npos) {
    const size_t next = text.find("\r\nConflitto del ", at);
    records.push_back(
        text.substr(at, next == std::string::npos ? std::string::npos : next + 2 - at));
    at = next == std::string::npos ? next : next + 2;
  }
  return records;
}

bool Conflicts::KeepConflict(const FileEntry& file, const HostChange& change,
                             const std::string& host_values, const std::string& outcome,
                             std::string* reason) {
  Program& program = program_;
  // The key: the same host change meeting the same events, whatever the attempt (also
  // delivered again, with other bytes where the PC reads none).
  std::string keyed = file.Libreria + "/" + file.File + " " + std::to_string(change.rrn) + " " +
                      std::string(1, change.code) + host_values;
  for (const Event& e : apply_.events) keyed += "/" + std::to_string(e.progr);
  if (apply_.events.empty()) keyed += "/" + apply_.sent_values;
  char key[16];
  std::snprintf(key, sizeof key, "%08X", platform::Crc32(keyed));
  const std::string name = file.Libreria + "/" + file.File;
  const char* host_kind = change.code == '1' ? "ADD" : change.code == '2' ? "DEL" : "UPD";
  std::string record =
      ", " + std::string(apply_.conflict ? "conflitto" : "possibile conflitto") + ": " + name +
      " RRN:" + std::to_string(change.rrn) + " IDX:" + std::to_string(apply_.idx) + " " + outcome +
      " CHIAVE=" + key + "\r\n host " + host_kind + " ricevuta il " +
      platform::DateTimeText(program.Now()) + ":" +
      (change.code == '2' ? std::string(" (record cancellato)") : host_values) + "\r\n";
  for (const Event& e : apply_.events) {
    if (e.torvan) continue;
    record += " PC " + std::string(EventWord(e.event)) + " PROGR=" + std::to_string(e.progr) +
              " RRN=" + std::to_string(e.rrn) + " non inviata:" + e.values + "\r\n";
  }
  if (apply_.possible) record += " PC inviata:" + Shown(apply_.sent_values) + "\r\n";
  const std::string marker = "CHIAVE=" + std::string(key) + "\r\n";
  std::string kept;
  (void)platform::ReadFile(program.paths.conflicts_log, &kept);
  if (kept.find(marker) == std::string::npos &&
      !KeepOnce(program.paths.conflicts_log, record,
                "Conflitto del " + platform::DateTimeText(program.Now()), reason)) {
    return false;
  }
  apply_.lines.push_back(
      "[Server_SQL_Sincro] " + std::string(apply_.conflict ? "Conflitto" : "Possibile conflitto") +
      " su " + file.Libreria + "/" + file.File + " RRN:" + std::to_string(change.rrn) +
      " IDX:" + std::to_string(apply_.idx) + ": " + outcome + " (" + program.paths.conflicts_log +
      " CHIAVE=" + key + ")");
  return true;
}

bool Conflicts::BeforeHostApply(Runtime& rt, const FileEntry& file, const HostChange& change,
                                std::string_view data, int64_t idx, const std::string& where,
                                std::string* reason) {
  apply_ = Apply{};
  Program& program = program_;
  sql::Connection* c = rt.connessioni.at(file.Indice_DB);
  const std::string events = BracketName(file.File + "___");
  std::string cond;
  if (change.rrn != 0) cond += "[_T_RRN___]=" + std::to_string(change.rrn) + " OR ";
  if (idx != 0) cond += "[_T_IDX___]=" + std::to_string(idx) + " OR ";
  {
    // The rows the change replaces, by their index.
    std::unique_ptr<sql::Recordset> rs;
    Status s =
        c->OpenRecordset("SELECT [_T_IDX___] FROM [" + BracketName(file.File) + "] " + where, &rs);
    if (!s.ok()) {
      *reason = "le righe della modifica non si leggono";
      return false;
    }
    while (!rs->Eof()) {
      cond += "[_T_IDX___]=" + std::to_string(WholeText(rs->Value(0).text)) + " OR ";
      if (!(s = rs->MoveNext()).ok()) {
        *reason = "le righe della modifica non si leggono tutte";
        return false;
      }
    }
  }
  if (!cond.empty()) cond.resize(cond.size() - 4);  // the last " OR "
  if (!cond.empty()) {
    std::unique_ptr<sql::Recordset> rs;
    Status s = c->OpenRecordset(
        "SELECT * FROM [" + events + "] WHERE " + cond + " ORDER BY [_T_PROGR___]", &rs);
    if (!s.ok()) {
      *reason = "le modifiche non inviate della riga non si leggono";
      return false;
    }
    while (!rs->Eof()) {
      Event e;
      const sql::Field* progr = rs->Find("_T_PROGR___");
      const sql::Field* rrn = rs->Find("_T_RRN___");
      const sql::Field* id = rs->Find("_T_IDX___");
      const sql::Field* kind = rs->Find("_T_EVENTO___");
      const sql::Field* tipo = rs->Find("_T_TIPO___");
      if (progr == nullptr || rrn == nullptr || id == nullptr || kind == nullptr) {
        *reason = "riga illeggibile in " + file.File + "___";
        return false;
      }
      e.progr = WholeText(progr->text);
      e.rrn = WholeText(rrn->text);
      e.idx = WholeText(id->text);
      e.event = Trim(kind->text).empty() ? ' ' : Trim(kind->text)[0];
      e.torvan = tipo != nullptr && Trim(tipo->text) == "C";
      e.values = RowValues(*rs);
      apply_.conflict = apply_.conflict || !e.torvan;
      apply_.events.push_back(std::move(e));
      if (!(s = rs->MoveNext()).ok()) {
        *reason = "le modifiche non inviate della riga non si leggono tutte";
        return false;
      }
    }
  }
  // An event sent within the window for this record: which reached the host last is not
  // known. One still in flight (its status never read) is one too.
  const int64_t now = NowMs(), window = WindowMs();
  for (SentEvent& e : state_.sent) {
    if (e.database != file.Indice_DB || e.file != file.File || e.after_clear || e.torvan) {
      continue;
    }
    const bool same = (change.rrn != 0 && e.rrn == change.rrn) || (idx != 0 && e.idx == idx);
    if (same && now - e.sent_ms < window && now >= e.sent_ms) {
      apply_.possible = true;
      apply_.sent_values = e.values;
      apply_.pc_values = program.settings.Vince_Il_Pc && change.code != '2';
      apply_.sent_idx = e.idx;
      apply_.sent_delete = e.event == 'D' && e.taken == SentEvent::kDeleted;
      apply_.weighed.push_back(e);
    }
  }
  if (!apply_.conflict && !apply_.possible) return true;  // Torvan's own events just go
  apply_.idx = idx;
  for (const Event& e : apply_.events) {
    if (!e.torvan) apply_.idx = e.idx;
  }

  std::string host_values;
  {
    const HeldChangeView view =
        DescribeHeld(rt.catalogue, rt.socket.tables(), HeldChange{std::string(data), "", "", 0});
    for (const auto& [name, value] : view.after) host_values += " " + name + "=" + value;
  }
  std::string outcome;
  const char last_pc = [&] {
    char last = ' ';
    for (const Event& e : apply_.events) {
      if (!e.torvan) last = e.event;
    }
    return last;
  }();
  if (apply_.conflict) {
    if (change.code == '2' && last_pc == 'D') {
      outcome = "cancellato da entrambe le parti";
    } else if (program.settings.Vince_Il_Pc) {
      apply_.skip_host = true;
      outcome = "vince il PC (modifiche del PC inviate, modifica dell'host non applicata)";
    } else {
      outcome = "vince l'host (modifiche del PC non inviate)";
    }
    // The unsent events decide; one of them sent already (in flight) may have reached the
    // host, whose values then go to it again when the host wins.
    apply_.pc_values = false;
    if (apply_.skip_host) apply_.possible = false;
  } else if (apply_.sent_delete && change.code != '2') {
    // The host could not change a record the PC had deleted: the delete reached it last,
    // and the record is gone there. The row stays gone.
    apply_.skip_host = true;
    apply_.possible = false;
    outcome = "record gi\xE0 cancellato sull'host dal PC: modifica dell'host non applicata";
  } else if (apply_.pc_values) {
    outcome = "vince il PC (valori inviati di nuovo all'host)";
  } else {
    outcome = "vince l'host (valori dell'host inviati di nuovo all'host)";
  }
  return KeepConflict(file, change, host_values, outcome, reason);
}

bool Conflicts::AfterHostApply(Runtime& rt, const FileEntry& file, const HostChange& change,
                               std::string* reason) {
  if (apply_.events.empty() && !apply_.possible) return true;
  sql::Connection* c = rt.connessioni.at(file.Indice_DB);
  const std::string mirror = "[" + BracketName(file.File) + "]";
  const std::string events = "[" + BracketName(file.File + "___") + "]";
  auto run = [&](const std::string& statement) {
    if (c->Execute(statement).ok()) return true;
    *reason = "il conflitto su " + file.DataBase + "/" + file.File + " non si risolve";
    return false;
  };
  auto drop = [&](const Event& e) {
    return run("DELETE FROM " + events + " WHERE [_T_PROGR___]=" + std::to_string(e.progr)) &&
           run("DELETE FROM [_T_MASTER___] WHERE [_T_FILE___]='" + QuoteValue(file.File) +
               "' AND [_T_PROGR___]=" + std::to_string(e.progr));
  };
  if (apply_.skip_host) {
    // The PC wins: its events go as they are, Torvan's own go. A record the host deleted
    // is made again: the row and its events lose the RRN, so the update goes by the index
    // and becomes the insert.
    for (const Event& e : apply_.events) {
      if (e.torvan && !drop(e)) return false;
    }
    if (change.code == '2' && change.rrn != 0) {
      const std::string rrn = std::to_string(change.rrn);
      if (!run("UPDATE " + events + " SET [_T_RRN___]=0 WHERE [_T_RRN___]=" + rrn) ||
          !run("UPDATE " + mirror +
               " SET [_T_RRN___]=0,[_T_TIPO___]='S' WHERE [_T_RRN___]=" + rrn)) {
        return false;
      }
    }
    return true;
  }
  for (const Event& e : apply_.events) {
    if (!drop(e)) return false;
  }
  if (apply_.possible && change.code == '2' && apply_.sent_idx > 0) {
    // The host deleted the record, maybe before the PC's update reached it: that update
    // then became an insert of a new record, which the host's delete must take too. A
    // record already gone answers "no record", harmless.
    Program& program = program_;
    const std::string statement =
        HostDeleteStatement(file.Libreria, file.File, HostWhere(0, apply_.sent_idx));
    if (program.settings.parametri.Log_PC_AS) {
      (void)program.log.Scrivi_Log_PC_AS(">  FILE=" + file.File +
                                         " IDX=" + std::to_string(apply_.sent_idx) +
                                         " Conflitto AS-->PC DATI=" + statement);
    }
    hostlink::ExchangeReply reply = hostlink::ExchangeStatement(
        rt.socket, program, "Server_SQL_Sincro", statement, false,
        program.stats.Stat_Contatori[kSendDelayCycles], program.stats.Ritardo_Link);
    if (reply.outcome != hostlink::ExchangeReply::Outcome::kServed) {
      *reason = "la cancellazione sull'host di " + file.Libreria + "/" + file.File +
                " IDX:" + std::to_string(apply_.sent_idx) + " non \xE8 stata eseguita";
      return false;
    }
    return true;
  }
  if (!apply_.possible || change.code == '2' || change.rrn == 0) return true;
  // A possible conflict: the winner's values go to the host again, as an update of the
  // row that Torvan records itself.
  const std::string row = " WHERE [_T_RRN___]=" + std::to_string(change.rrn);
  std::string set = "[_T_TIPO___]=' '";
  if (apply_.pc_values) {
    std::map<std::string, std::string> sent;
    for (size_t p = 0; p < apply_.sent_values.size();) {
      size_t end = apply_.sent_values.find('\t', p + 1);
      if (end == std::string::npos) end = apply_.sent_values.size();
      const std::string pair = apply_.sent_values.substr(p + 1, end - p - 1);
      const size_t eq = pair.find('=');
      if (eq != std::string::npos) sent[pair.substr(0, eq)] = pair.substr(eq + 1);
      p = end;
    }
    const Catalogue& cat = rt.catalogue;
    for (int32_t k = file.Primo_Campo;
         k >= 1 && k <= file.Ultimo_Campo && k < int32_t(cat.Tab_Campi.size()); ++k) {
      if (k == file.Campo_IDX) continue;
      const CampoEntry& f = cat.Tab_Campi[size_t(k)];
      auto v = sent.find(f.Nome);
      if (v == sent.end()) continue;
      set += ",[" + BracketName(f.Nome) + "]=" +
             (f.Tipo == "A" ? "'" + QuoteValue(v->second) + "'"
                            : (Trim(v->second).empty() ? std::string("0") : Trim(v->second)));
    }
  }
  return run("UPDATE " + mirror + " SET " + set + row) &&
         run("UPDATE " + events + " SET [_T_TIPO___]='C' WHERE [_T_TIPO___]=' ' AND " +
             row.substr(7));
}

void Conflicts::Committed() {
  for (const std::string& line : apply_.lines) program_.Scrivi_Messaggio(line);
  // Weighed once: a later host change of the record is no longer met by these sendings
  // (they stay, as old, for a clear to follow).
  const int64_t old = NowMs() - WindowMs();
  for (SentEvent& e : state_.sent) {
    if (std::find(apply_.weighed.begin(), apply_.weighed.end(), e) != apply_.weighed.end()) {
      e.sent_ms = std::min(e.sent_ms, old);
    }
  }
  apply_ = Apply{};
}

}  // namespace torvan
