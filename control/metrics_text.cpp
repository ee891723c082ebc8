#include "control/metrics_text.h"

#include <cstdio>
#include <tuple>
#include <vector>

#include "core/run_state.h"
#include "core/statistics.h"
#include "core/text.h"
#include "core/version.h"

namespace torvan {

namespace {

struct Sample {
  std::string labels;  // "" or "{a=\"x\",b=\"y\"}"
  std::string value;
};

std::string Number(double v, const char* format = "%.3f") {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

std::string Flag(bool b) { return b ? "1" : "0"; }

// The text of the families written so far; a family with no sample is left out whole.
class Exposition {
 public:
  void Family(const char* name, const char* type, const char* help,
              const std::vector<Sample>& samples) {
    if (samples.empty()) return;
    text_ += std::string("# HELP ") + name + " " + help + "\n";
    text_ += std::string("# TYPE ") + name + " " + type + "\n";
    for (const Sample& s : samples) text_ += name + s.labels + " " + s.value + "\n";
  }
  void One(const char* name, const char* type, const char* help, const std::string& value,
           const std::string& labels = "") {
    Family(name, type, help, {{labels, value}});
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace

std::string MetricsLabelValue(std::string_view cp1252) {
  std::string out;
  for (char c : Cp1252ToUtf8(cp1252)) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

std::string DatabaseLabels(const StatusDatabase& d) {
  return "{database=\"" + MetricsLabelValue(d.name) + "\",number=\"" + std::to_string(d.number) +
         "\"}";
}

// The families, section by section. A new figure is one more Family or One call in its
// section, or a section of its own called from MetricsText.

void RunSection(Exposition& e, const StatusSnapshot& s) {
  e.One("torvan_build_info", "gauge", "Always 1; the label names the version of Torvan.", "1",
        "{version=\"" + MetricsLabelValue(TorvanVersion()) + "\"}");
  std::vector<Sample> states;
  for (auto [name, value] : {std::pair{"off", StatoSincronismo::kSpento},
                             std::pair{"suspended", StatoSincronismo::kSospeso},
                             std::pair{"active", StatoSincronismo::kAttivo}}) {
    states.push_back({std::string("{state=\"") + name + "\"}", Flag(s.stato == int(value))});
  }
  e.Family("torvan_replication_state", "gauge",
           "1 for the replication run state (Stato_Sincronismo) Torvan is in: off, suspended "
           "(links dropped for the host's shutdown), active.",
           states);
  e.One("torvan_cycle_running", "gauge", "1 while a replication pass runs (Ciclo_In_Corso).",
        Flag(s.ciclo_in_corso != 0));
  e.One("torvan_host_link_up", "gauge", "1 while the host link is open (LinkUp).", Flag(s.link_up));
  e.One("torvan_sql_link_up", "gauge", "1 while every SQL connection is open (Collegato_SQL).",
        Flag(s.collegato_sql));
  e.One("torvan_held_change", "gauge",
        "1 while a host change is held back because it could not be applied.", Flag(s.held));
  e.One("torvan_events_in_flight", "gauge",
        "SQL-side events sent to the host whose status was never read.",
        std::to_string(s.in_flight));
  e.One("torvan_conflicts_total", "counter",
        "Rows both sides changed, as TnC_CONFLITTI.Log keeps them (torvan conflicts).",
        std::to_string(s.conflicts));
}

void LagSection(Exposition& e, const StatusSnapshot& s) {
  e.One("torvan_journal_depth", "gauge",
        "Host changes received into the journal (acknowledged to the host) and not yet "
        "applied.",
        std::to_string(s.journal_depth));
  e.One("torvan_journal_apply_lag_seconds", "gauge",
        "Seconds the oldest change of the journal waits to be applied; 0 when none waits.",
        Number(s.journal_lag < 0 ? 0 : s.journal_lag));
  if (s.host_lag >= 0) {
    e.One("torvan_host_to_sql_lag_seconds", "gauge",
          "Seconds since replication last found the host's queue of changes empty (since "
          "the start when it never has): grows only while host changes wait.",
          Number(s.host_lag));
  }
  if (s.last_applied_age >= 0) {
    e.One("torvan_seconds_since_last_change_applied", "gauge",
          "Seconds since the last host change was applied to SQL (grows while all is quiet: "
          "not a lag).",
          Number(s.last_applied_age));
  }
}

void EventSection(Exposition& e, const StatusSnapshot& s) {
  std::vector<Sample> waiting, oldest, count_age, failed;
  for (const StatusDatabase& d : s.databases) {
    const std::string labels = DatabaseLabels(d);
    failed.push_back({labels, Flag(!d.error.empty())});
    if (d.waiting < 0) continue;
    waiting.push_back({labels, std::to_string(d.waiting)});
    count_age.push_back({labels, Number(d.count_age < 0 ? 0 : d.count_age)});
    if (d.oldest_age >= 0) oldest.push_back({labels, Number(d.oldest_age)});
  }
  e.Family("torvan_events_waiting", "gauge",
           "Rows of _T_MASTER___: SQL-side changes waiting to be sent to the host.", waiting);
  e.Family("torvan_oldest_event_age_seconds", "gauge",
           "How long the oldest event waiting has been seen waiting (0 when none waits).", oldest);
  e.Family("torvan_events_count_age_seconds", "gauge",
           "Seconds since the events waiting were last counted.", count_age);
  e.Family("torvan_events_count_failed", "gauge", "1 when the last count of the events failed.",
           failed);
}

void CounterSection(Exposition& e, const StatusSnapshot& s) {
  const auto& c = s.counters;
  const auto& t = s.times;
  e.One("torvan_records_received_total", "counter",
        "Records received from the host and applied (Stat_Contatori 0).",
        std::to_string(c[kRecordsReceived]));
  e.One("torvan_receive_delay_cycles_total", "counter",
        "Empty polls while waiting for host data when receiving (Stat_Contatori 1).",
        std::to_string(c[kReceiveDelayCycles]));
  e.One("torvan_records_sent_total", "counter", "Records sent to the host (Stat_Contatori 2).",
        std::to_string(c[kRecordsSent]));
  e.One("torvan_send_delay_cycles_total", "counter",
        "Empty polls while waiting for the host when sending (Stat_Contatori 3).",
        std::to_string(c[kSendDelayCycles]));
  e.One("torvan_receive_seconds_total", "counter",
        "Seconds spent receiving records (Stat_Tempi 0).", Number(t[kSecondsReceiving]));
  // The display shows milliseconds; Prometheus counts in seconds.
  e.One("torvan_receive_seconds_per_record", "gauge",
        "Average seconds per record received (Stat_Tempi 1 / 1000).",
        Number(t[kMsPerRecordReceived] / 1000.0, "%.6f"));
  e.One("torvan_send_seconds_total", "counter", "Seconds spent sending records (Stat_Tempi 2).",
        Number(t[kSecondsSending]));
  e.One("torvan_send_seconds_per_record", "gauge",
        "Average seconds per record sent (Stat_Tempi 3 / 1000).",
        Number(t[kMsPerRecordSent] / 1000.0, "%.6f"));

  std::vector<Sample> last;
  for (auto [direction, library, file] : {std::tuple{"received", kLibraryReceived, kFileReceived},
                                          std::tuple{"sent", kLibrarySent, kFileSent}}) {
    if (s.texts[size_t(library)].empty() && s.texts[size_t(file)].empty()) continue;
    last.push_back({std::string("{direction=\"") + direction + "\",library=\"" +
                        MetricsLabelValue(s.texts[size_t(library)]) + "\",file=\"" +
                        MetricsLabelValue(s.texts[size_t(file)]) + "\"}",
                    "1"});
  }
  e.Family("torvan_last_record_info", "gauge", "Library and file of the last record each way.",
           last);
}

}  // namespace

std::string MetricsText(const StatusSnapshot& s) {
  Exposition e;
  RunSection(e, s);
  LagSection(e, s);
  EventSection(e, s);
  CounterSection(e, s);
  return e.text();
}

}  // namespace torvan
