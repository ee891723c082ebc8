#include "hostsim/reactor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "hostsim/log.h"

namespace torvan::hostsim {

namespace {

constexpr int kMaxPort = 65535;
// Descriptors below the process's limit that client connections never take.
constexpr int kDescriptorHeadroom = 8;
// Connections taken from one listener per turn of the loop, so a flood of them cannot
// keep the loop from the others (and from a stop).
constexpr int kAcceptBatch = 32;
// Out of descriptors, a listener rests this long (doubling up to the maximum while it
// lasts), or until a connection closes.
constexpr auto kBackoffMin = std::chrono::milliseconds(50);
constexpr auto kBackoffMax = std::chrono::seconds(1);

int OpenSpare() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

}  // namespace

Reactor::Reactor(int fd_ceiling, EpollCtl epoll_ctl, Accepted accepted)
    : fd_ceiling_option_(fd_ceiling),
      epoll_ctl_(std::move(epoll_ctl)),
      accepted_(std::move(accepted)),
      spare_fd_(OpenSpare()),
      fd_ceiling_(INT_MAX),
      backoff_(kBackoffMin) {}

Reactor::~Reactor() {
  for (auto& [fd, l] : listeners_) ::close(fd);
  if (ctl_fd_ >= 0) ::close(ctl_fd_);
  if (epoll_fd_ >= 0) ::close(epoll_fd_);
  if (wake_fd_ >= 0) ::close(wake_fd_);
  if (spare_fd_ >= 0) ::close(spare_fd_);
}

Status Reactor::Open() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    fd_ceiling_ = int(std::min<rlim_t>(limit.rlim_cur, INT_MAX)) - kDescriptorHeadroom;
  }
  if (fd_ceiling_option_ > 0) fd_ceiling_ = fd_ceiling_option_;
  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd_ < 0) return PosixError("epoll_create1", errno);
  wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd_ < 0) return PosixError("eventfd", errno);
  return Watch(wake_fd_, EPOLLIN);
}

std::string Reactor::CeilingAdvice() const {
  // The lowest free descriptor is where the next connection would land.
  const int lowest = ::fcntl(epoll_fd_, F_DUPFD_CLOEXEC, 0);
  if (lowest >= 0) ::close(lowest);
  if (lowest < 0 || lowest < fd_ceiling_) return "";
  return "torvan-host: the descriptor limit (" + std::to_string(fd_ceiling_ + kDescriptorHeadroom) +
         ") leaves no room for client connections; raise it (ulimit -n)\n";
}

Status Reactor::Listen(Kind kind, const std::string& address, int port, int* bound_port) {
  // The resolver would take 99999 and bind its low 16 bits.
  if (port < 0 || port > kMaxPort) {
    return Status::InvalidArgument("port " + std::to_string(port) + " is not a port number");
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port_text = std::to_string(port);
  int rc = ::getaddrinfo(address.c_str(), port_text.c_str(), &hints, &found);
  if (rc != 0 || found == nullptr) {
    return Status::InvalidArgument("listen address " + address + ": " + ::gai_strerror(rc));
  }
  const std::string where = address + ":" + port_text;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ::freeaddrinfo(found);
    return PosixError("socket", errno);
  }
  int one = 1;
  Status s;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
    s = PosixError("setsockopt SO_REUSEADDR " + where, errno);
  } else if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
    s = PosixError("bind " + where, errno);
  } else if (::listen(fd, 64) != 0) {
    s = PosixError("listen " + where, errno);
  }
  ::freeaddrinfo(found);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (s.ok() && ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    s = PosixError("getsockname", errno);
  }
  if (s.ok()) s = Watch(fd, EPOLLIN);
  if (!s.ok()) {
    ::close(fd);
    return s;
  }
  *bound_port = ntohs(addr.sin_port);
  listeners_[fd] = {kind, *bound_port};
  return Status::Ok();
}

Status Reactor::ListenLocal(const std::string& path) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    return Status::InvalidArgument("the data folder's path is too long for " + path);
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  // The caller holds the data folder's lock, so a socket file left here belongs to a
  // server that is gone.
  ::unlink(path.c_str());
  ctl_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (ctl_fd_ < 0) return PosixError("socket", errno);
  if (::bind(ctl_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    return PosixError("bind " + path, errno);
  }
  if (::listen(ctl_fd_, 16) != 0) return PosixError("listen " + path, errno);
  return Watch(ctl_fd_, EPOLLIN);
}

std::vector<Reactor::Port> Reactor::Ports(Kind kind) const {
  std::vector<Port> ports;
  for (const auto& [fd, l] : listeners_) {
    if (l.kind == kind) ports.push_back({fd, l.port});
  }
  std::sort(ports.begin(), ports.end(),
            [](const Port& a, const Port& b) { return a.port < b.port; });
  return ports;
}

int Reactor::Ctl(int op, int fd, uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.fd = fd;
  const int rc = epoll_ctl_ ? epoll_ctl_(epoll_fd_, op, fd, op == EPOLL_CTL_DEL ? nullptr : &ev)
                            : ::epoll_ctl(epoll_fd_, op, fd, op == EPOLL_CTL_DEL ? nullptr : &ev);
  return rc == 0 ? 0 : errno;
}

Status Reactor::Watch(int fd, uint32_t events) {
  const int error = Ctl(EPOLL_CTL_ADD, fd, events);
  return error == 0 ? Status::Ok() : PosixError("epoll_ctl", error);
}

void Reactor::LogOnce(const std::string& key, const std::string& line) {
  if (std::find(said_.begin(), said_.end(), key) != said_.end()) return;
  said_.push_back(key);
  Log(line);
}

void Reactor::Over(const std::string& key) {
  said_.erase(std::remove(said_.begin(), said_.end(), key), said_.end());
}

void Reactor::Wake() {
  uint64_t one = 1;
  // Nothing to do when it fails: the counter is already non-zero.
  [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

Status Reactor::Wait(int timeout_ms, bool* woken,
                     const std::function<void(int fd, uint32_t events)>& ready) {
  epoll_event events[64];
  int n = ::epoll_wait(epoll_fd_, events, 64, timeout_ms);
  if (n < 0) return errno == EINTR ? Status::Ok() : PosixError("epoll_wait", errno);
  for (int i = 0; i < n; ++i) {
    const int fd = events[i].data.fd;
    if (fd == wake_fd_) {
      *woken = true;
    } else if (fd == ctl_fd_) {
      Accept(fd, Kind::kCtl, 0);
    } else if (auto l = listeners_.find(fd); l != listeners_.end()) {
      Accept(fd, l->second.kind, l->second.port);
    } else {
      ready(fd, events[i].events);
    }
  }
  return Status::Ok();
}

void Reactor::Accept(int listen_fd, Kind kind, int port) {
  bool refused = false;
  for (int i = 0; i < kAcceptBatch; ++i) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    int fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&addr), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      // Descriptors are handed out lowest first: every one below `fd` is in use. The last
      // few are kept for the server's own work (image files, the data folder, control
      // commands), so a client is not taken on them.
      if (kind != Kind::kCtl && fd >= fd_ceiling_) {
        ::close(fd);
        Refused("descriptors nearly used up (" + std::to_string(kDescriptorHeadroom) +
                " kept for the server's own work)");
        refused = true;
        continue;
      }
      if (exhausted_ && kind != Kind::kCtl) {
        Log("accepting connections again; " + std::to_string(refused_) +
            " were refused for want of descriptors");
        exhausted_ = false;
        backoff_ = kBackoffMin;
      }
      accepted_(fd, kind, addr, port);
      continue;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      OutOfDescriptors(listen_fd, kind, errno);
      return;
    }
    // Anything else concerns the one connection the system has dropped (EINTR,
    // ECONNABORTED, a network error already pending on it): the next may be fine.
    if (errno != EINTR && errno != ECONNABORTED) Log("accept: " + std::string(strerror(errno)));
  }
  // Refusing a flood as fast as it comes would be a busy loop of its own.
  if (refused) PauseListener(listen_fd);
}

void Reactor::Refused(const std::string& cause) {
  if (!exhausted_) {
    exhausted_ = true;
    refused_ = 0;
    Log("accept: " + cause + ": connections are refused until descriptors free up");
  }
  ++refused_;
  ++refused_total_;
}

void Reactor::OutOfDescriptors(int listen_fd, Kind kind, int error) {
  // Something else took the descriptors kept aside (a lower limit, the system's table
  // full): the reserve descriptor makes room to take the waiting connections, each closed
  // at once so its client hears at once and the listener stops reporting it.
  const std::string cause = strerror(error);
  if (!exhausted_) {
    exhausted_ = true;
    refused_ = 0;
    Log("accept: " + cause + ": connections are refused until descriptors free up");
  }
  if ((error == EMFILE || error == ENFILE) && spare_fd_ >= 0) {
    ::close(spare_fd_);
    spare_fd_ = -1;
    bool lent = false;
    for (int i = 0; i < kAcceptBatch && !lent; ++i) {
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      int fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&addr), &len,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) break;
      if (kind == Kind::kCtl) {
        // A control connection keeps the reserve's place (a new reserve is taken when a
        // descriptor frees up): status and shutdown still work.
        accepted_(fd, kind, addr, 0);
        lent = true;
      } else {
        ::close(fd);
        Refused(cause);
      }
    }
    if (!lent) spare_fd_ = OpenSpare();
  }
  PauseListener(listen_fd);
}

void Reactor::PauseListener(int listen_fd) {
  if (std::find(resting_.begin(), resting_.end(), listen_fd) == resting_.end()) {
    // Not taken out, it would go on reporting what it cannot accept: said, and retried
    // when it rests again.
    if (const int error = Ctl(EPOLL_CTL_DEL, listen_fd, 0); error != 0) {
      LogOnce("rest", "epoll_ctl: " + std::string(strerror(error)) + ": a listener cannot rest");
      return;
    }
    resting_.push_back(listen_fd);
  }
  rest_until_ = SteadyClock::now() + backoff_;
  backoff_ = std::min<std::chrono::milliseconds>(backoff_ * 2, kBackoffMax);
}

void Reactor::ResumeListeners() {
  // A listener that cannot be watched again would stay deaf: it rests on and is tried again
  // after the next rest, said once until it works.
  std::vector<int> deaf;
  for (int fd : resting_) {
    if (Status w = Watch(fd, EPOLLIN); !w.ok()) {
      auto l = listeners_.find(fd);
      LogOnce("resume", w.message() + ": the listener on port " +
                            std::to_string(l != listeners_.end() ? l->second.port : 0) +
                            " does not take connections yet; tried again");
      deaf.push_back(fd);
    }
  }
  if (deaf.empty()) Over("resume");
  resting_ = std::move(deaf);
  if (!resting_.empty()) rest_until_ = SteadyClock::now() + backoff_;
}

void Reactor::Tick(SteadyClock::time_point now) {
  if (!resting_.empty() && now >= rest_until_) ResumeListeners();
}

std::optional<SteadyClock::time_point> Reactor::RestUntil() const {
  if (resting_.empty()) return std::nullopt;
  return rest_until_;
}

void Reactor::Released() {
  // The reserve first, then the listeners that rested.
  if (spare_fd_ < 0) spare_fd_ = OpenSpare();
  ResumeListeners();
}

void Reactor::CloseListener(int listen_fd) {
  auto rest = std::find(resting_.begin(), resting_.end(), listen_fd);
  if (rest != resting_.end()) {
    resting_.erase(rest);
  } else {
    (void)Ctl(EPOLL_CTL_DEL, listen_fd, 0);  // closed right after: epoll forgets it then
  }
  listeners_.erase(listen_fd);
  // Closed at once, so the port refuses connections before the caller answers. An event
  // of this turn for its number finds no listener, or a connection that has nothing to
  // read.
  ::close(listen_fd);
}

}  // namespace torvan::hostsim
