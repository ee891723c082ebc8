// The service manager's notification protocol (systemd's sd_notify, without libsystemd):
// how `torvan run` under a unit of Type=notify tells systemd that it is ready and what it
// is doing, so that `systemctl status torvan` shows it.
//
// The manager names a datagram socket in $NOTIFY_SOCKET (a path, or "@name" for the
// abstract namespace); every message is one datagram of "KEY=value" lines: "READY=1",
// "STATUS=<text>", "STOPPING=1". Without $NOTIFY_SOCKET (not run by a service manager,
// the window) nothing is sent and every call succeeds.
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace torvan::platform {

class ServiceNotifier {
 public:
  // Reads $NOTIFY_SOCKET now; `socket_name` replaces it (tests).
  ServiceNotifier();
  explicit ServiceNotifier(std::string socket_name);

  // A manager listens.
  bool enabled() const { return !socket_name_.empty(); }
  // Sends one datagram of `lines` ("READY=1\nSTATUS=..."). IoError naming the socket and
  // the cause when it cannot be sent; Ok when no manager listens.
  Status Notify(std::string_view lines) const;

 private:
  std::string socket_name_;
};

}  // namespace torvan::platform
