// Test helper: a scripted TCP peer on 127.0.0.1 for the socket layer, exchange and FTP
// tests. It listens on a free port, accepts one connection in its own thread and runs the
// test's script on it. Every wait is bounded, so a broken test fails instead of hanging.
// torvan-host's tests use the same connection class for their clients.
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

// The address of `port` on 127.0.0.1.
inline sockaddr_in Loopback(int port = 0) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(port));
  return a;
}

// A connection (the accepted one, as the script sees it, or a test's client). It owns
// its descriptor.
class PeerConnection {
 public:
  explicit PeerConnection(int fd = -1) : fd_(fd) {}
  ~PeerConnection() { Close(); }
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;

  // Reads exactly n bytes within `timeout`; false when they do not come.
  bool Read(size_t n, std::string* out,
            std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    out->clear();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out->size() < n) {
      if (!WaitReadable(deadline)) return false;
      char buf[4096];
      const ssize_t r = ::recv(fd_, buf, std::min(sizeof buf, n - out->size()), 0);
      if (r <= 0) return false;
      out->append(buf, size_t(r));
    }
    return true;
  }
  // Reads one line ended by CR LF (returned with it); false when none comes in time.
  bool ReadLine(std::string* line,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    line->clear();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (line->size() < 2 || line->compare(line->size() - 2, 2, "\r\n") != 0) {
      if (!WaitReadable(deadline)) return false;
      char c;
      if (::recv(fd_, &c, 1, 0) != 1) return false;
      *line += c;
    }
    return true;
  }
  // True when the other side closed (or reset) the connection within `timeout`.
  bool SeesEnd(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (WaitReadable(deadline)) {
      char buf[256];
      if (::recv(fd_, buf, sizeof buf, 0) <= 0) return true;
    }
    return false;
  }
  // The bytes of one recv (one segment, or what has come so far); "" when none came.
  std::string ReadSome(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000)) {
    if (!WaitReadable(std::chrono::steady_clock::now() + timeout)) return "";
    char buf[65536];
    const ssize_t r = ::recv(fd_, buf, sizeof buf, 0);
    return r > 0 ? std::string(buf, size_t(r)) : "";
  }
  // False when not every byte could be sent.
  bool Write(std::string_view bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
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
  // Takes `fd` in place of the connection held.
  void Adopt(int fd) {
    Close();
    fd_ = fd;
  }

 private:
  bool WaitReadable(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || fd_ < 0) return false;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, int(left.count())) > 0;
  }
  int fd_;
};

class ScriptedPeer {
 public:
  using Script = std::function<void(PeerConnection&)>;

  explicit ScriptedPeer(Script script) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback();
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_fd_, 4);
    socklen_t size = sizeof a;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, script = std::move(script)] {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) return;
      const int fd = ::accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) return;
      PeerConnection connection(fd);
      script(connection);
    });
  }
  ~ScriptedPeer() {
    if (thread_.joinable()) thread_.join();
    ::close(listen_fd_);
  }
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  int port() const { return port_; }
  // Waits for the script to end (bounded by the script's own waits).
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  int listen_fd_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound, then closed at once).
inline int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback();
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t size = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(fd);
  return ntohs(a.sin_port);
}

// A port on 127.0.0.1 where connection requests get no answer at all, as from a host that
// drops them: a listener that never accepts, with a backlog of 0 and its queue already
// full of connections made here, so the kernel drops every further SYN.
class UnansweredPort {
 public:
  UnansweredPort() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback();
    ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_fd_, 0);
    socklen_t size = sizeof a;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    // Connect until one connection is left pending: the queue is full from then on.
    for (int i = 0; i < 16; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
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
  int listen_fd_ = -1;
  int port_ = 0;
  std::vector<int> fillers_;
};

// A Program for link tests: a fixed clock, a pump that counts events and does not sleep,
// and the messages written collected without their time stamp. Waits for data are real
// poll() waits, so a peer has limit x Attesa_Sincronizz to answer; a connection the peer
// closed makes empty polls that cost nothing, so the give-up cases end at once.
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
