#include "control/status_service.h"

#include "control/metrics_text.h"
#include "core/statistics.h"
#include "core/text.h"

namespace torvan {

StatusService::StatusService(Runtime& rt, std::string front_end, StatusOptions options)
    : rt_(rt), writer_(rt, std::move(front_end), options) {}

StatusService::~StatusService() { Stop(); }

std::string ServiceStatusText(const Program& program, const StatusSnapshot& s) {
  const RunState& st = program.state;
  std::string text;
  if (!st.Attivita.empty()) {
    text = st.Attivita;
  } else if (st.Stato_Sincronismo == StatoSincronismo::kAttivo) {
    text = "Replica attiva: ricevuti " + std::to_string(s.counters[kRecordsReceived]) +
           ", inviati " + std::to_string(s.counters[kRecordsSent]);
    if (s.held && !s.held_lines.empty()) text += "; " + s.held_lines.front();
  } else if (st.Stato_Sincronismo == StatoSincronismo::kSospeso) {
    text = "Sincronismo sospeso per lo spegnimento del sistema origine";
  } else {
    text = std::string("Sincronismo spento; collegamento host ") +
           (st.LinkUp ? "aperto" : "chiuso") + ", SQL " + (st.Collegato_SQL ? "aperto" : "chiuso");
  }
  return Cp1252ToUtf8(VisibleText(text));
}

void StatusService::NotifyService() {
  if (!notifier.enabled()) return;
  const RunState& st = rt_.program.state;
  std::string lines;
  if (!ready_sent_ && st.Stato_Sincronismo == StatoSincronismo::kAttivo && st.LinkUp &&
      st.Collegato_SQL) {
    ready_sent_ = true;
    lines += "READY=1\n";
  }
  const std::string status = ServiceStatusText(rt_.program, writer_.snapshot());
  if (status != status_sent_) {
    status_sent_ = status;
    lines += "STATUS=" + status + "\n";
  }
  if (!lines.empty()) (void)notifier.Notify(lines);  // a manager gone costs its display only
}

Status StatusService::Start(platform::Timers& timers) {
  writer_.on_update = [this] { NotifyService(); };
  if (Status s = writer_.Start(timers); !s.ok()) return s;
  const int32_t port = rt_.program.settings.Metriche;
  if (port <= 0 || port > 65535) return Status::Ok();
  auto server = std::make_unique<MetricsServer>([this] { return MetricsText(writer_.snapshot()); });
  const std::string& address = rt_.program.settings.Metriche_Indirizzo;
  Status s = server->Listen(uint16_t(port), address);
  if (!s.ok()) {
    rt_.program.Scrivi_Messaggio("ERRORE nell'avvio del server delle metriche su " + s.message());
    return Status::Ok();
  }
  metrics_ = std::move(server);
  rt_.program.Scrivi_Messaggio("Metriche su http://" + MetricsAuthority(address, uint16_t(port)) +
                               "/metrics");
  return Status::Ok();
}

void StatusService::Stop() {
  metrics_.reset();
  if (notifier.enabled() && writer_.snapshot().pid != 0 && !status_sent_.empty()) {
    (void)notifier.Notify("STOPPING=1\nSTATUS=Chiusura dei collegamenti\n");
  }
  writer_.on_update = nullptr;
  writer_.Stop();
}

uint16_t StatusService::metrics_port() const { return metrics_ ? metrics_->port() : 0; }

}  // namespace torvan
