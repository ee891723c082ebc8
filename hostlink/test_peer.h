// A scripted TCP peer on 127.0.0.1 (one connection, own thread, bounded waits), its connection.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/program.h"
#include "platform/fakes.h"

namespace torvan::hostlink::testing {

using Ms = std::chrono::milliseconds;

inline sockaddr_in Loopback(int port = 0) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(port));
  return a;
}

// A socket bound to a free port of 127.0.0.1; it listens unless `backlog` is negative.
inline int BoundSocket(int backlog, int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback();
  socklen_t size = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  if (backlog >= 0) ::listen(fd, backlog);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  *port = ntohs(a.sin_port);
  return fd;
}

// A port on 127.0.0.1 where nothing listens (bound, then closed at once).
inline int ClosedPort() {
  int port = 0;
  ::close(BoundSocket(-1, &port));
  return port;
}

// An owned connection; reads return what came before the other side closed or time ran out.
class PeerConnection {
 public:
  explicit PeerConnection(int fd = -1) : fd_(fd) {}
  ~PeerConnection() { Close(); }
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;

  bool Connect(int port) {
    Adopt(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in a = Loopback(port);
    return ::connect(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
  }
  std::string Read(size_t n, Ms timeout = Ms(5000)) {
    std::string out;
    for (const auto deadline = Deadline(timeout); out.size() < n && WaitReadable(deadline);) {
      char buf[4096];
      const ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (r <= 0) break;
      out.append(buf, size_t(r));
    }
    return out;
  }
  // One line with its CR LF; "" when none comes whole in time.
  std::string ReadLine(Ms timeout = Ms(5000)) {
    std::string line;
    for (const auto deadline = Deadline(timeout); !line.ends_with("\r\n");) {
      char c;
      if (!WaitReadable(deadline) || ::recv(fd_, &c, 1, 0) != 1) return "";
      line += c;
    }
    return line;
  }
  bool SeesEnd(Ms timeout = Ms(5000)) {
    for (const auto deadline = Deadline(timeout); WaitReadable(deadline);) {
      char buf[256];
      if (::recv(fd_, buf, sizeof buf, 0) <= 0) return true;
    }
    return false;
  }
  // The bytes of one recv; "" when none came.
  std::string ReadSome(Ms timeout = Ms(5000)) {
    if (!WaitReadable(Deadline(timeout))) return "";
    char buf[65536];
    const ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
    return r > 0 ? std::string(buf, size_t(r)) : "";
  }
  bool Write(std::string_view bytes) {
    for (size_t sent = 0; sent < bytes.size();) {
      const ssize_t r = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (r <= 0) return false;
      sent += size_t(r);
    }
    return true;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int fd() const { return fd_; }

 protected:
  void Adopt(int fd) {
    Close();
    fd_ = fd;
  }

 private:
  static std::chrono::steady_clock::time_point Deadline(Ms timeout) {
    return std::chrono::steady_clock::now() + timeout;
  }
  bool WaitReadable(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now()).count();
    pollfd p{fd_, POLLIN, 0};
    return left > 0 && fd_ >= 0 && ::poll(&p, 1, int(left)) > 0;
  }
  int fd_;
};

class ScriptedPeer {
 public:
  using Script = std::function<void(PeerConnection&)>;

  explicit ScriptedPeer(Script script) : listen_fd_(BoundSocket(4, &port_)) {
    thread_ = std::thread([this, script = std::move(script)] {
      // Generous: the client may be a program yet to start on a busy machine.
      pollfd p{listen_fd_, POLLIN, 0};
      const int fd = ::poll(&p, 1, 30000) > 0 ? ::accept(listen_fd_, nullptr, nullptr) : -1;
      if (fd < 0) return;
      PeerConnection connection(fd);
      script(connection);
    });
  }
  ~ScriptedPeer() {
    Join();
    ::close(listen_fd_);
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int port() const { return port_; }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  int port_ = 0;
  int listen_fd_;
  std::thread thread_;
};

// A port that drops SYNs: a listener that never accepts, its backlog of 0 already full.
class UnansweredPort {
 public:
  UnansweredPort() : listen_fd_(BoundSocket(0, &port_)) {
    const sockaddr_in a = Loopback(port_);
    for (int i = 0; i < 16; ++i) {  // until one connection is left pending
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      ::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 200) <= 0) {
        ::close(fd);
        break;
      }
      fillers_.push_back(fd);
    }
  }
  ~UnansweredPort() {
    for (int fd : fillers_) ::close(fd);
    ::close(listen_fd_);
  }
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;
  int port() const { return port_; }

 private:
  int port_ = 0;
  int listen_fd_;
  std::vector<int> fillers_;
};

// A Program for link tests: fixed clock, counting pump, the messages without time stamp.
class TestProgram {
 public:
  TestProgram() : program(Paths::InFolder("/tmp"), &clock, &pump) {
    program.settings.parametri.Attesa_Sincronizz = 2;
    program.log.on_status_line = [this](std::string_view line) {
      std::lock_guard<std::mutex> lock(mutex_);
      messages.emplace_back(line.substr(line.find(" - ") + 3));
    };
  }
  platform::FakeClock clock;
  platform::FakePump pump;
  Program program;
  std::vector<std::string> messages;

 private:
  std::mutex mutex_;
};

}  // namespace torvan::hostlink::testing
