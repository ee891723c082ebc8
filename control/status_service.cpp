#include "control/status_service.h"

#include "control/metrics_text.h"

namespace torvan {

StatusService::StatusService(Runtime& rt, std::string front_end, StatusOptions options)
    : rt_(rt), writer_(rt, std::move(front_end), options) {}

StatusService::~StatusService() { Stop(); }

Status StatusService::Start(platform::Timers& timers) {
  if (Status s = writer_.Start(timers); !s.ok()) return s;
  const int32_t port = rt_.program.settings.Metriche;
  if (port <= 0 || port > 65535) return Status::Ok();
  auto server = std::make_unique<MetricsServer>([this] { return MetricsText(writer_.snapshot()); });
  Status s = server->Listen(uint16_t(port));
  if (!s.ok()) {
    rt_.program.Scrivi_Messaggio("ERRORE nell'avvio del server delle metriche su " + s.message());
    return Status::Ok();
  }
  metrics_ = std::move(server);
  rt_.program.Scrivi_Messaggio("Metriche su http://127.0.0.1:" + std::to_string(port) + "/metrics");
  return Status::Ok();
}

void StatusService::Stop() {
  metrics_.reset();
  writer_.Stop();
}

uint16_t StatusService::metrics_port() const { return metrics_ ? metrics_->port() : 0; }

}  // namespace torvan
