// MetricsServer: a tiny HTTP server through which Prometheus reads Torvan's figures
// (control/metrics_text.h).
//
// GET /metrics (a query string is ignored) is answered 200 with the text of `body`; every
// other request 404; a request whose header does not end within MetricsLimits::max_request
// bytes 400. Every answer closes its connection. Connections beyond max_connections are
// closed as they arrive, and one that has not had its answer within `idle` is closed, so a
// client that connects and says nothing holds nothing for long.
//
// It runs on the Qt event loop of the thread that makes it (a QCoreApplication must exist
// and outlive it) and never blocks: requests are served whenever the loop lets events run,
// also inside a replication step waiting for the host. It listens on the loopback address
// unless told otherwise (Metriche_Indirizzo): the figures are for a collector on the same
// machine, or on the network the operator chose.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/status.h"

namespace torvan {

struct MetricsLimits {
  size_t max_request = 8192;
  int max_connections = 8;
  std::chrono::milliseconds idle{5000};
};

// "<address>:<port>", the address in brackets when it is IPv6: as a URL writes it.
std::string MetricsAuthority(const std::string& address, uint16_t port);

class MetricsServer {
 public:
  // `body` gives the text served for GET /metrics, UTF-8; called once per such request.
  explicit MetricsServer(std::function<std::string()> body, MetricsLimits limits = {});
  ~MetricsServer();  // closes the listener and every connection
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Listens on `address` (an IPv4 or IPv6 address as written, "127.0.0.1" by default) at
  // `port` (0: a free port, see port()). IoError naming the address and the cause when it
  // cannot (the port taken, not allowed, an address not of this machine).
  Status Listen(uint16_t port, const std::string& address = "127.0.0.1");
  // The port listened on; 0 before Listen succeeded.
  uint16_t port() const;
  // Connections open now.
  int connections() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace torvan
