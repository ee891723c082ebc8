#include "platform/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace torvan::platform {

ServiceNotifier::ServiceNotifier() {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (name != nullptr) socket_name_ = name;
}

ServiceNotifier::ServiceNotifier(std::string socket_name) : socket_name_(std::move(socket_name)) {}

Status ServiceNotifier::Notify(std::string_view lines) const {
  if (!enabled()) return Status::Ok();
  sockaddr_un to{};
  to.sun_family = AF_UNIX;
  // "@name": the abstract namespace, whose names begin with a NUL byte.
  const bool abstract = socket_name_[0] == '@';
  if (socket_name_.size() >= sizeof to.sun_path || (socket_name_[0] != '/' && !abstract)) {
    return Status::InvalidArgument("NOTIFY_SOCKET " + socket_name_ + ": not a socket name");
  }
  std::memcpy(to.sun_path, socket_name_.data(), socket_name_.size());
  if (abstract) to.sun_path[0] = '\0';
  const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + socket_name_.size());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return PosixError("socket AF_UNIX", errno);
  ssize_t sent;
  while ((sent = ::sendto(fd, lines.data(), lines.size(), MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&to), length)) < 0 &&
         errno == EINTR) {
  }
  const int error = errno;
  ::close(fd);
  if (sent < 0) return PosixError("NOTIFY_SOCKET " + socket_name_, error);
  return Status::Ok();
}

}  // namespace torvan::platform
