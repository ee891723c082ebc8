// torvan-host run as a child process with few descriptors, under a flood of connections
// that never ends: it refuses what it cannot take without spinning or flooding its log,
// still answers its control commands, stops on SIGTERM or "shutdown", and serves again
// once descriptors free up.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "hostsim/test_support.h"
#include "platform/file.h"

namespace torvan::hostsim {
namespace {

using namespace std::chrono_literals;
using namespace testing;

constexpr char kRefusing[] = "connections are refused until descriptors free up";
constexpr char kAcceptingAgain[] = "accepting connections again";

// torvan-host serving `dir` in a child process allowed `descriptors` open files.
class LimitedHost {
 public:
  LimitedHost(const std::string& dir, rlim_t descriptors) : dir_(dir), log_(dir + "/serve.log") {
    pid_ = ::fork();
    if (pid_ == 0) {
      rlimit limit{descriptors, descriptors};
      ::setrlimit(RLIMIT_NOFILE, &limit);
      std::freopen(log_.c_str(), "w", stdout);
      std::freopen(log_.c_str(), "a", stderr);
      ::execl(TORVAN_HOST_EXE, TORVAN_HOST_EXE, "serve", "--data", dir.c_str(), "--ftp-port", "0",
              "--port", "0", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    std::string ports;
    Eventually([&] { return platform::ReadFile(dir + "/ports.txt", &ports).ok(); });
    std::istringstream in(ports);
    for (std::string key; in >> key;) in >> (key == "host" ? port_ : ftp_port_);
  }
  ~LimitedHost() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  int port() const { return port_; }
  pid_t pid() const { return pid_; }

  std::string Log() const {
    std::string text;
    (void)platform::ReadFile(log_, &text);
    return text;
  }

  // Processor time used so far, in clock ticks.
  long CpuTicks() const {
    std::string stat;
    if (!platform::ReadFile("/proc/" + std::to_string(pid_) + "/stat", &stat).ok()) return -1;
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
    long user = 0, system = 0;
    fields >> user >> system;
    return user + system;
  }

  // True when the process ended with exit status 0 within `limit`.
  bool ExitedCleanly(std::chrono::milliseconds limit) {
    int status = 0;
    bool ended = Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!ended) return false;
    pid_ = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  std::string dir_, log_;
  pid_t pid_ = -1;
  int port_ = -1, ftp_port_ = -1;
};

// Clients that connect again as soon as they are refused, about a hundred at a time;
// those the server takes are kept open, so its descriptors stay used up.
class Flood {
 public:
  explicit Flood(int port) : port_(port) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Flood() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int refused() const { return refused_; }

 private:
  void Run() {
    std::vector<int> trying, kept;
    while (!stop_) {
      while (trying.size() < 100) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(uint16_t(port_));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        trying.push_back(fd);
      }
      std::vector<pollfd> polls;
      for (int fd : trying) polls.push_back({fd, POLLIN, 0});
      ::poll(polls.data(), polls.size(), 20);
      std::vector<int> still;
      for (const pollfd& p : polls) {
        if (p.revents == 0) {
          still.push_back(p.fd);
          continue;
        }
        char greeting[16];
        ssize_t n = ::recv(p.fd, greeting, sizeof greeting, 0);
        if (n > 0) {
          kept.push_back(p.fd);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
          still.push_back(p.fd);
        } else {
          ::close(p.fd);
          ++refused_;
        }
      }
      trying.swap(still);
    }
    for (int fd : trying) ::close(fd);
    for (int fd : kept) ::close(fd);
  }

  const int port_;
  std::atomic<bool> stop_{false};
  std::atomic<int> refused_{0};
  std::thread thread_;
};

// A server short of descriptors may answer its control socket slowly.
CtlResult Control(const std::string& dir, const std::vector<std::string>& args) {
  return Ctl(dir, args, 10000);
}

TEST(DescriptorLimitTest, FloodThenServedAgainAndShutdownDuringAFlood) {
  testing::SampleHost sample;
  LimitedHost host(sample.path(), 32);
  ASSERT_GT(host.port(), 0);
  {
    Flood flood(host.port());
    ASSERT_TRUE(Eventually([&] { return host.Log().find(kRefusing) != std::string::npos; }));
    ASSERT_TRUE(Eventually([&] { return flood.refused() > 0; }));

    // The operator still gets answers.
    CtlResult status = Control(sample.path(), {"status"});
    EXPECT_EQ(0, status.exit_code);
    EXPECT_EQ(std::string::npos, status.text.find("refused 0\n")) << status.text;
    EXPECT_EQ(0, Control(sample.path(), {"insert", "DATI/CLIENTI", "CODCLI=C00200"}).exit_code);

    // Resting, not spinning: well under half of one processor over a second.
    const long before = host.CpuTicks();
    std::this_thread::sleep_for(1s);
    EXPECT_LT(host.CpuTicks() - before, ::sysconf(_SC_CLK_TCK) / 2);
    EXPECT_EQ(1u, Count(host.Log(), kRefusing)) << "one line for the whole episode";
  }

  // The flood is gone and so are its connections: a client like Torvan is served.
  RawClient link;
  ASSERT_TRUE(
      Eventually([&] { return link.Connect(host.port()) && link.Read(6) == Header('0', 0); }));
  ASSERT_TRUE(link.Send(Request('S', "")));
  EXPECT_EQ(Tables().ToHost("0"), link.ReadReply().substr(0, 1));
  // (Connections the flood left waiting may have made short episodes of their own.)
  EXPECT_LE(1u, Count(host.Log(), kAcceptingAgain));
  link.Close();

  {
    const size_t episodes = Count(host.Log(), kRefusing);
    Flood flood(host.port());
    ASSERT_TRUE(Eventually([&] { return Count(host.Log(), kRefusing) > episodes; }));
    EXPECT_EQ("shutting down\n", Control(sample.path(), {"shutdown"}).text);
    EXPECT_TRUE(host.ExitedCleanly(10s)) << host.Log();
  }
  std::string records;
  ASSERT_TRUE(platform::ReadFile(sample.path() + "/records/DATI.CLIENTI.txt", &records).ok());
  EXPECT_NE(std::string::npos, records.find("\tCODCLI=C00200\t"));
  EXPECT_FALSE(platform::FileExists(sample.path() + "/ports.txt"));
}

// The limit drops below what the server set aside at its start (as when the system's
// table is full): accept fails outright, and the reserve descriptor does the refusing.
TEST(DescriptorLimitTest, OutOfDescriptorsOutrightThenSigterm) {
  testing::SampleHost sample;
  LimitedHost host(sample.path(), 256);
  ASSERT_GT(host.port(), 0);
  const rlimit lower{24, 256};
  ASSERT_EQ(0, ::prlimit(host.pid(), RLIMIT_NOFILE, &lower, nullptr));
  Flood flood(host.port());
  ASSERT_TRUE(Eventually([&] {
    return host.Log().find("accept: Too many open files: " + std::string(kRefusing)) !=
           std::string::npos;
  })) << host.Log();
  ASSERT_TRUE(Eventually([&] { return flood.refused() > 0; }));
  CtlResult status = Control(sample.path(), {"status"});
  EXPECT_EQ(0, status.exit_code);
  EXPECT_EQ(std::string::npos, status.text.find("refused 0\n")) << status.text;
  const long before = host.CpuTicks();
  std::this_thread::sleep_for(1s);
  EXPECT_LT(host.CpuTicks() - before, ::sysconf(_SC_CLK_TCK) / 2);
  EXPECT_EQ(1u, Count(host.Log(), kRefusing));

  ASSERT_EQ(0, ::kill(host.pid(), SIGTERM));
  EXPECT_TRUE(host.ExitedCleanly(10s)) << host.Log();
  EXPECT_FALSE(platform::FileExists(sample.path() + "/ports.txt"));
  EXPECT_FALSE(platform::FileExists(sample.path() + "/ctl.sock"));
}

}  // namespace
}  // namespace torvan::hostsim
