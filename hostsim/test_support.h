// Helpers for torvan-host's tests: data folders, stores, a threaded server, bounded clients.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "hostlink/char_table.h"
#include "hostlink/frame.h"
#include "hostlink/test_peer.h"
#include "hostsim/ctl_client.h"
#include "hostsim/data_folder.h"
#include "hostsim/host_store.h"
#include "hostsim/server.h"
#include "platform/fakes.h"
#include "platform/temp_folder.h"

namespace torvan::hostsim::testing {

namespace fs = std::filesystem;
using hostlink::testing::Ms;

// A copy of examples/host in a temporary folder.
struct SampleHost : platform::TempFolder {
  SampleHost() : TempFolder("torvan-host-test") {
    fs::copy(TORVAN_SAMPLE_HOST, path(), fs::copy_options::recursive);
  }
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

inline std::string Header(char outcome, int length) {
  std::string header;
  EXPECT_TRUE(hostlink::BuildReplyHeader(Tables(), outcome, length, &header).ok());
  return header;
}

// The options of torvan-host serving `dir` on free ports of 127.0.0.1.
inline ServerOptions LoopbackOptions(const std::string& dir) {
  ServerOptions options;
  options.data_dir = dir;
  options.listen = "127.0.0.1";
  options.ftp_port = 0;
  options.port = 0;
  options.print_ports = false;
  return options;
}

// torvan-host serving `dir` on its own thread, on free ports; `adjust` changes the options.
class RunningServer {
 public:
  explicit RunningServer(const std::string& dir,
                         const std::function<void(ServerOptions&)>& adjust = {}) {
    ServerOptions options = LoopbackOptions(dir);
    if (adjust) adjust(options);
    server_ = std::make_unique<Server>(options);
    std::string notes;
    Status s = server_->Start(&notes);
    EXPECT_TRUE(s.ok()) << s.message();
    if (s.ok()) thread_ = std::thread([this] { run_status_ = server_->Run(); });
  }
  ~RunningServer() { Stop(); }

  // Stops the server and waits until it has written its data folder; its run must end well.
  void Stop() {
    if (thread_.joinable()) {
      server_->Stop();
      thread_.join();
      EXPECT_TRUE(run_status_.ok()) << run_status_.message();
    }
  }

  int ftp_port() const { return server_->ftp_port(); }
  int host_port() const {
    const std::vector<int> ports = server_->host_ports();
    return ports.empty() ? -1 : ports[0];
  }

 private:
  std::unique_ptr<Server> server_;
  std::thread thread_;
  Status run_status_;
};

// A client of torvan-host: TCP on 127.0.0.1, or its control socket.
class RawClient : public hostlink::testing::PeerConnection {
 public:
  bool ConnectCtl(const std::string& dir) {
    Adopt(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = DataFolder{dir}.CtlSocket();
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return ::connect(fd(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  }
  // One reply frame: header, then the data part its (valid) length announces.
  std::string ReadReply() {
    std::string header = Read(6);
    int32_t length = 0;
    if (header.size() < 6 || !hostlink::ParseZonedLength(header.substr(1, 5), &length).ok()) {
      return header;
    }
    return header + Read(size_t(length));
  }
};

inline std::string Host(const std::string& pc) { return Tables().ToHost(pc); }

using torvan::testing::Has;
using torvan::testing::ReadText;

// Connects to the host server program and takes its greeting.
inline void OpenLink(RawClient& client, int port) {
  ASSERT_TRUE(client.Connect(port));
  ASSERT_EQ(Header('0', 0), client.Read(6));
}

inline std::string Exchange(RawClient& client, char code, const std::string& data) {
  EXPECT_TRUE(client.Write(Request(code, data)));
  return client.ReadReply();
}

// Connects to the FTP server and takes its two greeting lines.
inline void FtpConnect(RawClient& ftp, int port) {
  ASSERT_TRUE(ftp.Connect(port));
  EXPECT_EQ("220-QTCP at TORVAN.\r\n", ftp.ReadLine());
  EXPECT_EQ("220 Connection will close if idle more than 5 minutes.\r\n", ftp.ReadLine());
}

// Logs in as the sample host's user; the reply to PASS.
inline std::string FtpLoginReply(RawClient& ftp, int port) {
  FtpConnect(ftp, port);
  EXPECT_TRUE(ftp.Write("USER UTENTE\r\nPASS Torvan1\r\n"));
  EXPECT_EQ("331 Enter password.\r\n", ftp.ReadLine());
  return ftp.ReadLine();
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

inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

inline std::unique_ptr<HostStore> OpenStore(const std::string& dir, const RecordCodec& codec,
                                            platform::Clock* clock, std::string* notes = nullptr) {
  std::string ignored;
  std::unique_ptr<HostStore> store;
  Status s = HostStore::Open(DataFolder{dir}, codec, clock, &store, notes ? notes : &ignored);
  EXPECT_TRUE(s.ok()) << s.message();
  return store;
}

inline CtlResult Ctl(const std::string& dir, std::vector<std::string> args, int timeout_ms = 5000) {
  CtlResult r;
  Status s = CtlCall(dir, args, timeout_ms, &r);
  EXPECT_TRUE(s.ok()) << s.message();
  return r;
}

}  // namespace torvan::hostsim::testing
