// Helpers for torvan-host's tests: temporary data folders, a server running on its own
// thread, a raw socket client whose every wait is bounded, and request frames.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <type_traits>

#include <gtest/gtest.h>

#include "hostlink/char_table.h"
#include "hostlink/frame.h"
#include "hostsim/ctl_client.h"
#include "hostsim/server.h"
#include "platform/temp_folder.h"

namespace torvan::hostsim::testing {

namespace fs = std::filesystem;

// A fresh temporary folder, removed with the object.
class TempDir : public platform::TempFolder {
 public:
  TempDir() : platform::TempFolder("torvan-host-test") {}
};

// A copy of examples/host in a temporary folder.
class SampleHost : public TempDir {
 public:
  SampleHost() { fs::copy(TORVAN_SAMPLE_HOST, path(), fs::copy_options::recursive); }
};

inline const hostlink::CharTables& Tables() {
  static const hostlink::CharTables tables = [] {
    hostlink::CharTables t;
    Status s = hostlink::LoadCharTables(DefaultTablePath(), &t);
    EXPECT_TRUE(s.ok()) << s.message();
    return t;
  }();
  return tables;
}

// A request frame in host bytes: code, five length digits, data (PC text).
inline std::string Request(char code, const std::string& data) {
  std::string frame;
  EXPECT_TRUE(hostlink::BuildRequest(code, data, &frame).ok());
  return Tables().ToHost(frame);
}

// A reply header in host bytes.
inline std::string Header(char outcome, int length) {
  std::string header;
  EXPECT_TRUE(hostlink::BuildReplyHeader(Tables(), outcome, length, &header).ok());
  return header;
}

// torvan-host serving a data folder on its own thread, on free ports.
class RunningServer {
 public:
  explicit RunningServer(const std::string& dir, bool host_port_at_once = true)
      : RunningServer(
            dir, [host_port_at_once](ServerOptions& o) { o.port = host_port_at_once ? 0 : -1; }) {}

  // `adjust(ServerOptions&)` changes the options (limits, time-outs) before the start.
  template <typename Adjust,
            typename = std::enable_if_t<std::is_invocable_v<Adjust, ServerOptions&>>>
  RunningServer(const std::string& dir, Adjust adjust) {
    ServerOptions options;
    options.data_dir = dir;
    options.listen = "127.0.0.1";
    options.ftp_port = 0;
    options.port = 0;
    options.print_ports = false;
    adjust(options);
    server_ = std::make_unique<Server>(options);
    std::string notes;
    Status s = server_->Start(&notes);
    EXPECT_TRUE(s.ok()) << s.message();
    notes_ = notes;
    if (!s.ok()) return;
    thread_ = std::thread([this] { run_status_ = server_->Run(); });
  }
  ~RunningServer() { Stop(); }

  // Stops the server and waits until it has written its data folder.
  void Stop() {
    if (thread_.joinable()) {
      server_->Stop();
      thread_.join();
    }
  }

  int ftp_port() const { return server_->ftp_port(); }
  int host_port() const {
    auto ports = server_->host_ports();
    return ports.empty() ? -1 : ports.front();
  }
  const std::string& notes() const { return notes_; }
  const Status& run_status() const { return run_status_; }

 private:
  std::unique_ptr<Server> server_;
  std::thread thread_;
  std::string notes_;
  Status run_status_;
};

// A blocking TCP client on 127.0.0.1 whose reads give up after a bounded wait.
class RawClient {
 public:
  RawClient() = default;
  ~RawClient() { Close(); }

  bool Connect(int port) {
    Close();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }

  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(size_t(n));
    }
    return true;
  }

  // Reads exactly `n` bytes, or what came before the peer closed or `timeout_ms` passed.
  std::string Read(size_t n, int timeout_ms = 3000) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (out.size() < n) {
      if (!Wait(deadline)) break;
      char buf[16384];
      ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (got <= 0) break;
      out.append(buf, size_t(got));
    }
    return out;
  }

  // One reply frame: header, then the data part its (valid) length announces.
  std::string ReadReply(int timeout_ms = 3000) {
    std::string header = Read(6, timeout_ms);
    if (header.size() < 6) return header;
    int32_t length = 0;
    if (!hostlink::ParseZonedLength(header.substr(1, 5), &length).ok()) return header;
    return header + Read(size_t(length), timeout_ms);
  }

  // Reads one line ending in "\n" (FTP).
  std::string ReadLine(int timeout_ms = 3000) {
    std::string line;
    while (line.empty() || line.back() != '\n') {
      std::string c = Read(1, timeout_ms);
      if (c.empty()) break;
      line += c;
    }
    return line;
  }

  // True when the peer closes the connection within `timeout_ms` (bytes before it dropped).
  bool ClosedByPeer(int timeout_ms = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (!Wait(deadline)) return false;
      char buf[4096];
      ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
      if (got <= 0) return true;
    }
  }

  // The bytes of one recv call (one segment, or what has come so far).
  std::string ReadSome(int timeout_ms = 3000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    if (!Wait(deadline)) return "";
    char buf[65536];
    ssize_t got = ::recv(fd_, buf, sizeof buf, 0);
    return got > 0 ? std::string(buf, size_t(got)) : "";
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  bool Wait(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, int(left.count())) > 0;
  }

  int fd_ = -1;
};

inline std::string Host(const std::string& pc) { return Tables().ToHost(pc); }

// Connects to the host server program and takes its greeting.
inline void OpenLink(RawClient& client, int port) {
  ASSERT_TRUE(client.Connect(port));
  ASSERT_EQ(Header('0', 0), client.Read(6));
}

inline std::string Exchange(RawClient& client, char code, const std::string& data) {
  EXPECT_TRUE(client.Send(Request(code, data)));
  return client.ReadReply();
}

// An FTP client logged in as the sample host's user.
inline void FtpLogin(RawClient& ftp, int port) {
  ASSERT_TRUE(ftp.Connect(port));
  ftp.ReadLine();
  ftp.ReadLine();
  ASSERT_TRUE(ftp.Send("USER UTENTE\r\nPASS Torvan1\r\n"));
  ASSERT_EQ("331 Enter password.\r\n", ftp.ReadLine());
  ASSERT_EQ("230 UTENTE logged on.\r\n", ftp.ReadLine());
}

// Waits, at most `limit`, until `done` holds.
template <typename F>
bool Eventually(F done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// How often `what` occurs in `text`.
inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

inline CtlResult Ctl(const std::string& dir, std::vector<std::string> args, int timeout_ms = 5000) {
  CtlResult r;
  Status s = CtlCall(dir, args, timeout_ms, &r);
  EXPECT_TRUE(s.ok()) << s.message();
  return r;
}

}  // namespace torvan::hostsim::testing
