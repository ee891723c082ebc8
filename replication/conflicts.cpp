#include "replication/conflicts.h"

#include <algorithm>
#include <cstdio>

#include "core/text.h"
#include "hostlink/exchange.h"
#include "hostlink/host_format.h"
#include "links/runtime.h"
#include "platform/file.h"

namespace torvan {

namespace {

namespace ss = hostlink::statement_status;

// What the pending file can hold of the remembered events: a slot is 128 KiB, and a held
// change takes up to 8 KiB of it.
constexpr size_t kMaxSent = 1000;
constexpr size_t kMaxValueBytes = 48 * 1024;

std::string StampText(const platform::LocalDateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return buf;
}

std::string ValuesText(const std::vector<HostValue>& values) {
  std::string text;
  for (const HostValue& v : values) text += " " + v.name + "=" + v.value;
  return text;
}

const char* EventWord(char event) {
  return event == 'I' ? "ADD" : event == 'D' ? "DEL" : "UPD";
}

}  // namespace

int64_t Conflicts::NowMs() const {
  return platform::ToLocalTime(program_.Now()).time_since_epoch().count();
}

int64_t Conflicts::WindowMs() const { return int64_t(program_.settings.Finestra_Conflitti) * 1000; }

void Conflicts::Sending(int32_t d, const std::string& file, int64_t rrn, int64_t idx, char event,
                        const std::vector<HostValue>& values) {
  SentEvent e;
  e.database = d;
  e.file = file;
  e.rrn = rrn;
  e.idx = idx;
  e.event = event;
  e.taken = SentEvent::kUnknown;
  e.sent_ms = NowMs();
  e.values = ValuesText(values);
  state_.sent.push_back(std::move(e));
  last_sending_ = int(state_.sent.size()) - 1;
  Prune();
}

void Conflicts::Answered(char taken) {
  if (last_sending_ < 0 || size_t(last_sending_) >= state_.sent.size()) return;
  if (taken == '-') {
    state_.sent.erase(state_.sent.begin() + last_sending_);
  } else {
    state_.sent[size_t(last_sending_)].taken = taken;
  }
  last_sending_ = -1;
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
  if (state_.sent.size() != before) last_sending_ = -1;
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
  return StampText(platform::ToFields(platform::LocalTime(std::chrono::milliseconds(e.sent_ms))));
}

bool Conflicts::BeforeClear(const FileEntry& file, std::string* reason) {
  Program& program = program_;
  const std::string name = file.Libreria + "/" + file.File;
  const std::string when = StampText(program.Now());
  for (const SentEvent& e : state_.sent) {
    if (e.database != file.Indice_DB || e.file != file.File || e.after_clear) continue;
    const bool unknown = e.taken == SentEvent::kUnknown;
    const bool by_rrn = e.rrn != 0 && (e.taken == SentEvent::kUpdatedAtRrn ||
                                       e.taken == SentEvent::kDeleted ||
                                       (unknown && (e.event == 'U' || e.event == 'D')));
    if (!by_rrn) continue;
    // After its clear the host numbers its records from 1 again: the record this event
    // reached may be one made after the clear. Torvan cannot tell; the operator can.
    const std::string record = ", possibile conflitto: " + name +
                               " svuotato sul sistema origine dopo l'invio di " + SentText(e) +
                               " (inviata il " + SentTime(e) + ")\r\n " + e.values + "\r\n";
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
    e.after_clear = e.idx > 0 && (e.taken == SentEvent::kInserted ||
                                  e.taken == SentEvent::kUpdatedByIndex ||
                                  (unknown && (e.event == 'I' || e.event == 'U')));
    return !e.after_clear;
  });
  last_sending_ = -1;
}

void Conflicts::HostApplied(const FileEntry& file, int64_t idx) {
  if (idx <= 0) return;
  const size_t before = state_.sent.size();
  std::erase_if(state_.sent, [&](const SentEvent& e) {
    return e.after_clear && e.database == file.Indice_DB && e.file == file.File && e.idx == idx;
  });
  if (state_.sent.size() != before) last_sending_ = -1;
}

bool Conflicts::QueueEmpty(Runtime& rt, std::string* reason) {
  for (SentEvent& e : state_.sent) e.queue_empty_since = true;
  Prune();
  if (++empty_answers_ < 2) return true;
  Program& program = program_;
  const std::string when = StampText(program.Now());
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
                               " svuotato sul sistema origine\r\n " + SentText(e) +
                               " inviata il " + SentTime(e) + e.values + "\r\n";
    if (!KeepOnce(program.paths.set_aside_log, record, "Accantonata il " + when, reason)) {
      return false;
    }
    const std::string statement =
        HostDeleteStatement(file->Libreria, file->File, HostWhere(0, e.idx));
    if (program.settings.parametri.Log_PC_AS) {
      (void)program.log.Scrivi_Log_PC_AS(">  FILE=" + file->File + " IDX=" +
                                         std::to_string(e.idx) +
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
    last_sending_ = -1;
  }
}

}  // namespace torvan
