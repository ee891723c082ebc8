// StatusService: what a front end runs to be watched — the status file writer
// (control/status_writer.h) and, when TnC.INI asks for it (key "Metriche" of section
// "Generale": a port, 0 none), the metrics server at that port on Metriche_Indirizzo
// (127.0.0.1 by default; control/metrics_server.h), serving the writer's figures.
//
// `torvan run` and the desktop window each hold one for as long as they run:
//   StatusService status(runtime, "finestra");   // beside the Runtime and the Controller
//   if (!status.Start(timers).ok()) ...          // once the Qt application exists:
//                                                // another Torvan works in the folder
//   ...
//   status.Stop();                               // after Server__Stop, at the end
// The settings are taken at Start: a port changed later applies at the next start.
//
// Under a service manager ($NOTIFY_SOCKET, a unit of Type=notify) it also tells systemd,
// at every update of the status file, what Torvan is doing (STATUS=, ServiceStatusText),
// that it is ready once it replicates (READY=1, once) and that it is stopping (STOPPING=1,
// at Stop).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "control/metrics_server.h"
#include "control/status_writer.h"
#include "platform/service_notify.h"

namespace torvan {

class StatusService {
 public:
  // `rt` must outlive the service.
  StatusService(Runtime& rt, std::string front_end, StatusOptions options = {});
  ~StatusService();
  StatusService(const StatusService&) = delete;
  StatusService& operator=(const StatusService&) = delete;

  // Starts the status writer (StatusWriter::Start: its failure, another Torvan in the
  // folder, is returned and nothing else starts); with Metriche set, listens and logs
  // "Metriche su http://<address>:<port>/metrics", or, when it cannot, "ERRORE nell'avvio
  // del server delle metriche su <address>:<port>: <why>" (replication goes on without).
  Status Start(platform::Timers& timers);
  // Closes the metrics server and writes the status file a last time, marked ended.
  void Stop();

  const StatusWriter& writer() const { return writer_; }
  // The notifier of the service manager; tests give their own before Start.
  platform::ServiceNotifier notifier;
  // The metrics port listened on, 0 when none.
  uint16_t metrics_port() const;

 private:
  void NotifyService();

  Runtime& rt_;
  StatusWriter writer_;
  std::unique_ptr<MetricsServer> metrics_;
  bool ready_sent_ = false;
  std::string status_sent_;
};

// What `systemctl status` shows of a running Torvan (UTF-8, one line): what it is doing or
// waiting for now (RunState::Attivita) when anything, otherwise its run state and figures.
std::string ServiceStatusText(const Program& program, const StatusSnapshot& snapshot);

}  // namespace torvan
