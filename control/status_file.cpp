#include "control/status_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

#include "core/text.h"
#include "platform/file.h"

namespace torvan {

namespace {

// The Stat_Testi slots kept on file: 4 and 5 (the display's date and time) are the
// display's own.
constexpr int kKeptTexts[] = {0, 1, 2, 3, 6, 7, 8};

std::string Seconds(double s) {
  if (s < 0) return "-1";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", s);
  return buf;
}

std::string Real(float f) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", double(f));
  return buf;
}

class Writer {
 public:
  void Add(std::string_view key, std::string_view cp1252) {
    text_ += key;
    text_ += '=';
    text_ += Cp1252ToUtf8(VisibleText(cp1252));
    text_ += '\n';
  }
  void Add(std::string_view key, int64_t n) { Add(key, std::to_string(n)); }
  std::string text_;
};

bool ParseInt(std::string_view v, int64_t* out) {
  const char* end = v.data() + v.size();
  auto [p, ec] = std::from_chars(v.data(), end, *out);
  return ec == std::errc() && p == end && !v.empty();
}

bool ParseReal(std::string_view v, double* out) {
  // from_chars for doubles is locale-free; written values use "%.1f"/"%.3f" and "-1".
  const char* end = v.data() + v.size();
  auto [p, ec] = std::from_chars(v.data(), end, *out);
  return ec == std::errc() && p == end && !v.empty() && std::isfinite(*out);
}

// "db.12.nome" -> 12 and "nome".
bool SplitIndexed(std::string_view key, std::string_view prefix, int64_t* index,
                  std::string_view* rest) {
  if (key.substr(0, prefix.size()) != prefix) return false;
  key.remove_prefix(prefix.size());
  const size_t dot = key.find('.');
  const std::string_view number = key.substr(0, dot);
  if (!ParseInt(number, index) || *index < 0 || *index > 100000) return false;
  *rest = dot == std::string_view::npos ? std::string_view() : key.substr(dot + 1);
  return true;
}

}  // namespace

std::string EncodeStatus(const StatusSnapshot& s) {
  Writer w;
  w.text_ = std::string(kStatusFileMagic) + "\n";
  w.Add("pid", s.pid);
  w.Add("programma", s.front_end);
  w.Add("avviato", s.started);
  w.Add("scritto", s.written);
  w.Add("scritto_ms", s.written_ms);
  w.Add("terminato", s.ended ? 1 : 0);
  w.Add("Stato_Sincronismo", s.stato);
  w.Add("Ciclo_In_Corso", s.ciclo_in_corso);
  w.Add("LinkUp", s.link_up ? 1 : 0);
  w.Add("Collegato_SQL", s.collegato_sql ? 1 : 0);
  w.Add("HostStopTime", s.host_stop_time);
  w.Add("HostRestartTime", s.host_restart_time);
  w.Add("attivita", s.activity);
  w.Add("trattenuta", s.held ? 1 : 0);
  for (size_t i = 0; i < s.held_lines.size(); ++i) {
    w.Add("trattenuta." + std::to_string(i + 1), s.held_lines[i]);
  }
  w.Add("in_volo", s.in_flight);
  w.Add("giornale", s.journal_depth);
  w.Add("giornale_ritardo_s", Seconds(s.journal_lag));
  w.Add("conflitti", s.conflicts);
  for (const StatusDatabase& d : s.databases) {
    const std::string key = "db." + std::to_string(d.number) + ".";
    w.Add(key + "nome", d.name);
    w.Add(key + "in_attesa", d.waiting);
    w.Add(key + "eta_s", Seconds(d.oldest_age));
    w.Add(key + "conteggio_s", Seconds(d.count_age));
    w.Add(key + "errore", d.error);
  }
  w.Add("ultima_applicata", s.last_applied);
  w.Add("ultima_applicata_s", Seconds(s.last_applied_age));
  w.Add("ritardo_host_s", Seconds(s.host_lag));
  w.Add("coda_host_vuota", s.host_queue_seen_empty ? 1 : 0);
  for (int i = 0; i < 4; ++i) w.Add("Stat_Contatori." + std::to_string(i), s.counters[size_t(i)]);
  for (int i = 0; i < 4; ++i) w.Add("Stat_Tempi." + std::to_string(i), Real(s.times[size_t(i)]));
  for (int i : kKeptTexts) w.Add("Stat_Testi." + std::to_string(i), s.texts[size_t(i)]);
  return w.text_;
}

Status DecodeStatus(std::string_view text, StatusSnapshot* out) {
  if (text.size() > kStatusFileMax) return Status::InvalidArgument("file di stato troppo grande");
  const std::string magic = std::string(kStatusFileMagic) + "\n";
  if (text.substr(0, magic.size()) != magic) {
    return Status::InvalidArgument("non \xE8 un file di stato di Torvan");
  }
  text.remove_prefix(magic.size());
  StatusSnapshot s;
  std::map<int64_t, StatusDatabase> dbs;
  std::map<int64_t, std::string> held;
  std::string bad;
  auto number = [&](std::string_view key, std::string_view v, auto* field) {
    int64_t n = 0;
    if (!ParseInt(v, &n)) {
      bad = std::string(key);
      return;
    }
    *field = static_cast<std::remove_pointer_t<decltype(field)>>(n);
  };
  auto real = [&](std::string_view key, std::string_view v, auto* field) {
    double d = 0;
    if (!ParseReal(v, &d)) {
      bad = std::string(key);
      return;
    }
    *field = static_cast<std::remove_pointer_t<decltype(field)>>(d);
  };
  while (!text.empty() && bad.empty()) {
    const size_t nl = text.find('\n');
    if (nl == std::string_view::npos) return Status::InvalidArgument("file di stato troncato");
    const std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl + 1);
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      return Status::InvalidArgument("riga senza \"=\" nel file di stato");
    }
    const std::string_view key = line.substr(0, eq);
    const std::string_view raw = line.substr(eq + 1);
    const std::string v = Utf8ToCp1252(raw);
    int64_t index = 0;
    std::string_view rest;
    if (key == "pid") {
      number(key, v, &s.pid);
    } else if (key == "programma") {
      s.front_end = v;
    } else if (key == "avviato") {
      s.started = v;
    } else if (key == "scritto") {
      s.written = v;
    } else if (key == "scritto_ms") {
      number(key, v, &s.written_ms);
    } else if (key == "terminato") {
      number(key, v, &s.ended);
    } else if (key == "Stato_Sincronismo") {
      number(key, v, &s.stato);
    } else if (key == "Ciclo_In_Corso") {
      number(key, v, &s.ciclo_in_corso);
    } else if (key == "LinkUp") {
      number(key, v, &s.link_up);
    } else if (key == "Collegato_SQL") {
      number(key, v, &s.collegato_sql);
    } else if (key == "HostStopTime") {
      s.host_stop_time = v;
    } else if (key == "HostRestartTime") {
      s.host_restart_time = v;
    } else if (key == "attivita") {
      s.activity = v;
    } else if (key == "trattenuta") {
      number(key, v, &s.held);
    } else if (SplitIndexed(key, "trattenuta.", &index, &rest) && rest.empty()) {
      held[index] = v;
    } else if (key == "in_volo") {
      number(key, v, &s.in_flight);
    } else if (key == "giornale") {
      number(key, v, &s.journal_depth);
    } else if (key == "giornale_ritardo_s") {
      real(key, v, &s.journal_lag);
    } else if (key == "conflitti") {
      number(key, v, &s.conflicts);
    } else if (SplitIndexed(key, "db.", &index, &rest)) {
      StatusDatabase& d = dbs[index];
      d.number = int32_t(index);
      if (rest == "nome") {
        d.name = v;
      } else if (rest == "in_attesa") {
        number(key, v, &d.waiting);
      } else if (rest == "eta_s") {
        real(key, v, &d.oldest_age);
      } else if (rest == "conteggio_s") {
        real(key, v, &d.count_age);
      } else if (rest == "errore") {
        d.error = v;
      }
    } else if (key == "ultima_applicata") {
      s.last_applied = v;
    } else if (key == "ultima_applicata_s") {
      real(key, v, &s.last_applied_age);
    } else if (key == "ritardo_host_s") {
      real(key, v, &s.host_lag);
    } else if (key == "coda_host_vuota") {
      number(key, v, &s.host_queue_seen_empty);
    } else if (SplitIndexed(key, "Stat_Contatori.", &index, &rest) && rest.empty() && index < 4) {
      number(key, v, &s.counters[size_t(index)]);
    } else if (SplitIndexed(key, "Stat_Tempi.", &index, &rest) && rest.empty() && index < 4) {
      real(key, v, &s.times[size_t(index)]);
    } else if (SplitIndexed(key, "Stat_Testi.", &index, &rest) && rest.empty() && index < 9) {
      s.texts[size_t(index)] = v;
    }
  }
  if (!bad.empty()) {
    return Status::InvalidArgument("valore non numerico di " + bad + " nel file di stato");
  }
  for (auto& [n, line] : held) s.held_lines.push_back(std::move(line));
  for (auto& [n, d] : dbs) s.databases.push_back(std::move(d));
  *out = std::move(s);
  return Status::Ok();
}

Status ReadStatusFile(const std::string& path, StatusSnapshot* s) {
  std::string text;
  Status r = platform::ReadFile(path, &text);
  if (!r.ok()) return r;
  Status d = DecodeStatus(text, s);
  if (!d.ok()) return Status::InvalidArgument(path + ": " + d.message());
  return Status::Ok();
}

int64_t LocalEpochMs(const platform::LocalDateTime& t) {
  return platform::ToLocalTime(t).time_since_epoch().count();
}

Liveness StatusLiveness(const StatusSnapshot& s, int64_t now_ms, bool (*alive)(int64_t pid)) {
  if (s.ended) return Liveness::kEnded;
  if (s.pid <= 0 || !alive(s.pid)) return Liveness::kGone;
  const int64_t age = now_ms - s.written_ms;
  if (age > kStatusFreshMs || age < -kStatusFreshMs) return Liveness::kStale;
  return Liveness::kRunning;
}

}  // namespace torvan
