// StatusService: what a front end runs to be watched — the status file writer
// (control/status_writer.h) and, when TnC.INI asks for it (key "Metriche" of section
// "Generale": a port, 0 none), the metrics server on 127.0.0.1 at that port
// (control/metrics_server.h), serving the writer's figures.
//
// `torvan run` and the desktop window each hold one for as long as they run:
//   StatusService status(runtime, "finestra");   // beside the Runtime and the Controller
//   if (!status.Start(timers).ok()) ...          // once the Qt application exists:
//                                                // another Torvan works in the folder
//   ...
//   status.Stop();                               // after Server__Stop, at the end
// The settings are taken at Start: a port changed later applies at the next start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "control/metrics_server.h"
#include "control/status_writer.h"

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
  // "Metriche su http://127.0.0.1:<port>/metrics", or, when it cannot, "ERRORE nell'avvio
  // del server delle metriche su 127.0.0.1:<port>: <why>" (replication goes on without).
  Status Start(platform::Timers& timers);
  // Closes the metrics server and writes the status file a last time, marked ended.
  void Stop();

  const StatusWriter& writer() const { return writer_; }
  // The metrics port listened on, 0 when none.
  uint16_t metrics_port() const;

 private:
  Runtime& rt_;
  StatusWriter writer_;
  std::unique_ptr<MetricsServer> metrics_;
};

}  // namespace torvan
