// torvan-host's reactor: one epoll set over the listeners (TCP ports and the control
// socket), the connections and a wake-up counter, for the server's one thread.
//
// It accepts connections in batches (a flood on one listener cannot keep the loop from the
// others), never takes a client on the last descriptors below the limit (those are the
// server's own work: image files, the data folder, control commands), and with no
// descriptor left refuses the waiting connections on a reserve descriptor, so their
// clients hear at once, and rests the listeners, backing off from 50 ms to 1 s, until a
// descriptor frees up (Released). A control connection is taken all the same, on the
// reserve's place: status and shutdown still work.
//
// What the connections do is the server's: Wait hands it each accepted connection and
// each connection's events.
#pragma once

#include <sys/epoll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/status.h"

namespace torvan::hostsim {

using SteadyClock = std::chrono::steady_clock;

enum class Kind { kFtp, kHost, kCtl };

class Reactor {
 public:
  using EpollCtl = std::function<int(int epfd, int op, int fd, epoll_event* event)>;
  // A connection taken on `fd` from `peer`, on a listener of `kind` bound to `port` (0
  // for the control socket). The callee owns `fd` and watches it (Watch).
  using Accepted = std::function<void(int fd, Kind kind, const sockaddr_storage& peer, int port)>;

  // `fd_ceiling`: clients are taken on descriptors below it only (0: what the descriptor
  // limit leaves). `epoll_ctl`: for tests (empty: the system's).
  Reactor(int fd_ceiling, EpollCtl epoll_ctl, Accepted accepted);
  ~Reactor();  // closes the listeners, not the connections
  Reactor(const Reactor&) = delete;
  Reactor& operator=(const Reactor&) = delete;

  Status Open();
  // Binds a TCP listener of `kind` on `address`:`port` (0: any free port).
  Status Listen(Kind kind, const std::string& address, int port, int* bound_port);
  // Binds the control socket at `path`, removing a socket file left there.
  Status ListenLocal(const std::string& path);
  // Stops and closes a TCP listener at once: its port refuses connections from now on.
  void CloseListener(int listen_fd);
  // Advice when the descriptor limit leaves no room for clients at all; empty otherwise.
  std::string CeilingAdvice() const;

  struct Port {
    int fd;
    int port;
  };
  // The TCP listeners of `kind`, by port.
  std::vector<Port> Ports(Kind kind) const;

  // Waits at most `timeout_ms` and handles what came: connections are accepted (handed to
  // `accepted`), each connection's events go to `ready`. `*woken` when Wake was called.
  Status Wait(int timeout_ms, bool* woken,
              const std::function<void(int fd, uint32_t events)>& ready);
  // Makes Wait return. Safe from another thread and from a signal handler.
  void Wake();
  // Resting listeners whose rest is over by `now` take connections again.
  void Tick(SteadyClock::time_point now);
  // When the next rest ends, if a listener rests.
  std::optional<SteadyClock::time_point> RestUntil() const;
  // Descriptors were closed: the reserve is taken again and the listeners resume.
  void Released();

  // epoll_ctl through the seam; its errno when it failed, 0 otherwise.
  int Ctl(int op, int fd, uint32_t events);
  Status Watch(int fd, uint32_t events);
  // A failure of the system's kind is said once until it stops (`key` tells them apart:
  // Over(key)), then said again when it happens again.
  void LogOnce(const std::string& key, const std::string& line);
  void Over(const std::string& key);

  // Connections refused for want of descriptors since the start.
  int64_t refused_total() const { return refused_total_; }

 private:
  struct Listener {
    Kind kind;
    int port;
  };

  void Accept(int listen_fd, Kind kind, int port);
  void OutOfDescriptors(int listen_fd, Kind kind, int error);
  void Refused(const std::string& cause);
  void PauseListener(int listen_fd);
  void ResumeListeners();

  int fd_ceiling_option_;
  EpollCtl epoll_ctl_;
  Accepted accepted_;
  int epoll_fd_ = -1, wake_fd_ = -1, ctl_fd_ = -1;
  // The reserve descriptor: given up to refuse a connection when none is left.
  int spare_fd_;
  // Client connections are not taken on descriptors from here up (Open).
  int fd_ceiling_;
  std::unordered_map<int, Listener> listeners_;
  // Out of descriptors: the episode, its refusals and the listeners resting.
  bool exhausted_ = false;
  int64_t refused_ = 0, refused_total_ = 0;
  std::chrono::milliseconds backoff_;
  std::vector<int> resting_;
  SteadyClock::time_point rest_until_;
  std::vector<std::string> said_;  // the failures said and not yet over
};

}  // namespace torvan::hostsim
