// torvan-host as a child process: help, control line, SIGTERM, "shutdown", a descriptor flood.
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

// The program run with `args`, its standard output and error together.
CtlResult RunHost(const std::string& args) {
  CtlResult out{-1, ""};
  FILE* p = ::popen((std::string(TORVAN_HOST_EXE) + " " + args + " 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.text.append(buf, n);
  const int status = ::pclose(p);
  out.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

constexpr char kRefusing[] = "connections are refused until descriptors free up";
constexpr char kAcceptingAgain[] = "accepting connections again";

// torvan-host serving `dir` with `descriptors` open files at most, its output in serve.log.
class ChildHost {
 public:
  ChildHost(const std::string& dir, rlim_t descriptors) : log_(dir + "/serve.log") {
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
    Eventually([&] { return platform::FileExists(dir + "/ports.txt"); });
    std::istringstream in(ReadText(dir + "/ports.txt"));
    for (std::string key; in >> key;) in >> (key == "host" ? port_ : ftp_port_);
  }
  ~ChildHost() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  int port() const { return port_; }
  pid_t pid() const { return pid_; }

  std::string Log() const { return ReadText(log_); }

  long CpuTicks() const {
    const std::string stat = ReadText("/proc/" + std::to_string(pid_) + "/stat");
    if (stat.empty()) return -1;
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
    if (!Eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit)) return false;
    pid_ = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

 private:
  std::string log_;
  pid_t pid_ = -1;
  int port_ = -1, ftp_port_ = -1;
};

// About a hundred clients connecting again as soon as refused; those taken are kept open.
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
        const sockaddr_in addr = hostlink::testing::Loopback(port_);
        ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        trying.push_back(fd);
      }
      std::vector<pollfd> polls;
      for (int fd : trying) polls.push_back({fd, POLLIN, 0});
      ::poll(polls.data(), polls.size(), 20);
      trying.clear();
      for (const pollfd& p : polls) {
        char greeting[16];
        const ssize_t n = p.revents == 0 ? -1 : ::recv(p.fd, greeting, sizeof greeting, 0);
        if (n > 0) {
          kept.push_back(p.fd);
        } else if (n < 0 && (p.revents == 0 || errno == EAGAIN || errno == EWOULDBLOCK)) {
          trying.push_back(p.fd);
        } else {
          ::close(p.fd);
          ++refused_;
        }
      }
    }
    for (int fd : trying) ::close(fd);
    for (int fd : kept) ::close(fd);
  }

  const int port_;
  std::atomic<bool> stop_{false};
  std::atomic<int> refused_{0};
  std::thread thread_;
};

// Under a flood control answers, the server rests (under half a CPU), one log line said.
void ExpectRefusingAtRest(const ChildHost& host, const std::string& dir) {
  CtlResult status = Ctl(dir, {"status"}, 10000);
  EXPECT_EQ(0, status.exit_code);
  EXPECT_FALSE(Has(status.text, "refused 0\n")) << status.text;
  const long before = host.CpuTicks();
  std::this_thread::sleep_for(1s);
  EXPECT_LT(host.CpuTicks() - before, ::sysconf(_SC_CLK_TCK) / 2);
  EXPECT_EQ(1u, Count(host.Log(), kRefusing)) << host.Log();
}

TEST(DescriptorLimitTest, FloodThenServedAgainAndShutdownDuringAFlood) {
  testing::SampleHost sample;
  ChildHost host(sample.path(), 32);
  ASSERT_GT(host.port(), 0);
  {
    Flood flood(host.port());
    ASSERT_TRUE(Eventually([&] { return Has(host.Log(), kRefusing); }));
    ASSERT_TRUE(Eventually([&] { return flood.refused() > 0; }));
    EXPECT_EQ(0, Ctl(sample.path(), {"insert", "DATI/CLIENTI", "CODCLI=C00200"}, 10000).exit_code);
    ExpectRefusingAtRest(host, sample.path());
  }

  // The flood and its connections gone, a client like Torvan is served.
  RawClient link;
  ASSERT_TRUE(
      Eventually([&] { return link.Connect(host.port()) && link.Read(6) == Header('0', 0); }));
  EXPECT_EQ(Host("0"), Exchange(link, 'S', "").substr(0, 1));
  EXPECT_LE(1u, Count(host.Log(), kAcceptingAgain));  // the flood may have made a few episodes
  link.Close();

  {
    const size_t episodes = Count(host.Log(), kRefusing);
    Flood flood(host.port());
    ASSERT_TRUE(Eventually([&] { return Count(host.Log(), kRefusing) > episodes; }));
    EXPECT_EQ("shutting down\n", Ctl(sample.path(), {"shutdown"}, 10000).text);
    EXPECT_TRUE(host.ExitedCleanly(10s)) << host.Log();
  }
  EXPECT_TRUE(Has(ReadText(sample.path() + "/records/DATI.CLIENTI.txt"), "\tCODCLI=C00200\t"));
  EXPECT_FALSE(platform::FileExists(sample.path() + "/ports.txt"));
}

// Help and the control line; then the limit drops below what the server set aside: the
// reserve descriptor refuses. SIGTERM stops it cleanly.
TEST(DescriptorLimitTest, HelpControlLineThenOutOfDescriptorsOutrightThenSigterm) {
  const CtlResult help = RunHost("--help");
  EXPECT_EQ(0, help.exit_code);
  EXPECT_TRUE(Has(help.text, "serve") && Has(help.text, "ctl")) << help.text;
  testing::SampleHost sample;
  const std::string ctl = "ctl --data " + sample.path();
  const CtlResult alone = RunHost(ctl + " queue");
  EXPECT_EQ(1, alone.exit_code);
  EXPECT_TRUE(Has(alone.text, "no torvan-host is serving")) << alone.text;
  ChildHost host(sample.path(), 256);
  ASSERT_GT(host.port(), 0);
  CtlResult inserted =
      RunHost(ctl + " insert DATI/CLIENTI CODCLI=C00077 'RAGSOC=Caffè dell'\\''Angolo'");
  EXPECT_EQ(0, inserted.exit_code) << inserted.text;
  EXPECT_EQ("inserted DATI/CLIENTI RRN 6\n", inserted.text);
  CtlResult bad = RunHost(ctl + " update DATI/CLIENTI 6 PROV=XYZ");
  EXPECT_EQ(2, bad.exit_code);
  EXPECT_TRUE(Has(bad.text, "PROV")) << bad.text;
  EXPECT_EQ("1\n", RunHost(ctl + " queue").text);

  const rlimit lower{24, 256};
  ASSERT_EQ(0, ::prlimit(host.pid(), RLIMIT_NOFILE, &lower, nullptr));
  Flood flood(host.port());
  ASSERT_TRUE(Eventually([&] {
    return Has(host.Log(), "accept: Too many open files: " + std::string(kRefusing));
  })) << host.Log();
  ASSERT_TRUE(Eventually([&] { return flood.refused() > 0; }));
  ExpectRefusingAtRest(host, sample.path());

  ASSERT_EQ(0, ::kill(host.pid(), SIGTERM));
  EXPECT_TRUE(host.ExitedCleanly(10s)) << host.Log();
  EXPECT_FALSE(platform::FileExists(sample.path() + "/ports.txt"));
  EXPECT_FALSE(platform::FileExists(sample.path() + "/ctl.sock"));
  EXPECT_TRUE(Has(ReadText(sample.path() + "/records/DATI.CLIENTI.txt"),
                  "6\tCODCLI=C00077\tRAGSOC=Caffè dell'Angolo\t"));
  EXPECT_TRUE(Has(host.Log(), "torvan-host: ftp 127.0.0.1:")) << host.Log();
}

}  // namespace
}  // namespace torvan::hostsim
