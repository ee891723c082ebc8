#include "cli/status_lines.h"

#include <cstdio>

#include "core/statistics.h"
#include "core/text.h"

namespace torvan {

namespace {

std::string StatoText(int stato) {
  switch (stato) {
    case 0:
      return "spento (0)";
    case 2:
      return "sospeso (2)";
    case 4:
      return "attivo (4)";
    default:
      return "sconosciuto (" + std::to_string(stato) + ")";
  }
}

}  // namespace

std::string AgeText(double seconds) {
  const int64_t s = int64_t(seconds);
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

std::vector<std::string> StatusLines(const StatusSnapshot& s) {
  std::vector<std::string> lines;
  lines.push_back("Programma: " + s.front_end + " (pid " + std::to_string(s.pid) +
                  "), avviato il " + s.started);
  lines.push_back("Stato scritto il " + s.written);
  lines.push_back("Sincronismo: " + StatoText(s.stato) +
                  (s.ciclo_in_corso != 0 ? ", ciclo in corso" : ""));
  if (!s.activity.empty()) lines.push_back("In corso: " + s.activity);
  lines.push_back(std::string("Collegamento host: ") + (s.link_up ? "aperto" : "chiuso"));
  lines.push_back(std::string("Collegamento SQL: ") + (s.collegato_sql ? "aperto" : "chiuso"));
  if (!s.texts[kHostStopText].empty() || !s.texts[kHostRestartText].empty()) {
    lines.push_back("Spegnimento host: " + s.texts[kHostStopText] +
                    "  Riaccensione host: " + s.texts[kHostRestartText]);
  }
  if (!s.held) {
    lines.push_back("Nessuna modifica trattenuta");
  } else {
    for (const std::string& l : s.held_lines) lines.push_back(l);
  }
  if (s.in_flight > 0) lines.push_back("Eventi in volo: " + std::to_string(s.in_flight));
  for (const StatusDatabase& d : s.databases) {
    std::string l = "Database " + std::to_string(d.number) + " " + d.name + ": ";
    if (d.waiting < 0) {
      l += "eventi non ancora contati";
    } else {
      l += std::to_string(d.waiting) + (d.waiting == 1 ? " evento" : " eventi") + " in attesa";
      if (d.waiting > 0 && d.oldest_age >= 0)
        l += ", il pi\xF9 vecchio da " + AgeText(d.oldest_age);
      l += " (contati " + AgeText(d.count_age < 0 ? 0 : d.count_age) + " fa)";
    }
    if (!d.error.empty()) l += "; conteggio non riuscito: " + d.error;
    lines.push_back(l);
  }
  if (s.last_applied.empty()) {
    lines.push_back("Ultima modifica dall'host applicata: nessuna dall'avvio");
  } else {
    lines.push_back("Ultima modifica dall'host applicata: " + s.last_applied + ", " +
                    AgeText(s.last_applied_age < 0 ? 0 : s.last_applied_age) + " fa");
  }
  if (s.host_lag >= 0) {
    lines.push_back("Ritardo dall'host: " + AgeText(s.host_lag) +
                    (s.host_queue_seen_empty ? " (da quando la coda dell'host era vuota)"
                                             : " (coda dell'host mai vuota dall'avvio)"));
  }
  char row[160];
  std::snprintf(row, sizeof row, "%-9s%12s%12s%10s%10s  %-10s  %s", "", "Tempo", "Numero", "Media",
                "Ritardi", "Libreria", "File");
  lines.push_back(row);
  for (int r = 0; r < 2; ++r) {
    const int c = r == 0 ? kRecordsReceived : kRecordsSent;
    const int t = r == 0 ? kSecondsReceiving : kSecondsSending;
    const int x = r == 0 ? kLibraryReceived : kLibrarySent;
    std::snprintf(row, sizeof row, "%-9s%12s%12s%10s%10s  %-10s  %s",
                  r == 0 ? "Ricevuti" : "Inviati", FormatSeconds(s.times[size_t(t)]).c_str(),
                  FormatCount(s.counters[size_t(c)]).c_str(),
                  FormatSeconds(s.times[size_t(t) + 1]).c_str(),
                  FormatCount(s.counters[size_t(c) + 1]).c_str(), s.texts[size_t(x)].c_str(),
                  s.texts[size_t(x) + 1].c_str());
    lines.push_back(TrimRight(row));
  }
  lines.push_back("Messaggio: " + s.texts[kStatusLine]);
  return lines;
}

}  // namespace torvan
