// torvan-host as a child process: help, the control line, out of descriptors, SIGTERM.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "hostsim/test_support.h"
#include "platform/file.h"

namespace torvan::hostsim {
namespace {

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

// torvan-host serving `dir` on free ports, its output in serve.log; killed if still running.
struct ChildHost {
  explicit ChildHost(const std::string& dir) : log(dir + "/serve.log") {
    pid = ::fork();
    if (pid == 0) {
      std::freopen(log.c_str(), "w", stdout);
      std::freopen(log.c_str(), "a", stderr);
      ::execl(TORVAN_HOST_EXE, TORVAN_HOST_EXE, "serve", "--data", dir.c_str(), "--ftp-port", "0",
              "--port", "0", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    Eventually([&] { return platform::FileExists(dir + "/ports.txt"); });
    std::istringstream in(ReadText(dir + "/ports.txt"));
    for (std::string key, value; in >> key >> value;) {
      if (key == "host") port = std::atoi(value.c_str());
    }
  }
  ~ChildHost() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  std::string log;
  pid_t pid = -1;
  int port = -1;
};

// With no descriptor left the reserve one refuses each client at once, said once, while
// control requests are still taken; freed descriptors serve clients again.
TEST(HostProgramTest, ControlLineOutOfDescriptorsAndSigterm) {
  const CtlResult help = RunHost("--help");
  EXPECT_EQ(0, help.exit_code);
  EXPECT_TRUE(Has(help.text, "serve") && Has(help.text, "ctl")) << help.text;
  SampleHost sample;
  const std::string dir = sample.path(), ctl = "ctl --data " + sample.path();
  const CtlResult alone = RunHost(ctl + " queue");
  EXPECT_EQ(1, alone.exit_code);
  EXPECT_TRUE(Has(alone.text, "no torvan-host is serving")) << alone.text;
  ChildHost host(dir);
  ASSERT_GT(host.port, 0);
  const CtlResult inserted = RunHost(
      ctl + " insert DATI/CLIENTI CODCLI=C00077 'RAGSOC=Caffè dell'\\''Angolo' FIDO=-999999999.99");
  EXPECT_EQ(0, inserted.exit_code) << inserted.text;
  EXPECT_EQ("inserted DATI/CLIENTI RRN 6\n", inserted.text);

  const rlimit lower{24, 256};
  ASSERT_EQ(0, ::prlimit(host.pid, RLIMIT_NOFILE, &lower, nullptr));
  std::vector<std::unique_ptr<RawClient>> taken;
  int refused = 0;
  for (int i = 0; i < 64 && refused < 3; ++i) {
    auto client = std::make_unique<RawClient>();
    ASSERT_TRUE(client->Connect(host.port));
    if (client->Read(6) == Header('0', 0)) {
      taken.push_back(std::move(client));
    } else {
      ++refused;
    }
  }
  ASSERT_EQ(3, refused) << ReadText(host.log);
  const CtlResult status = Ctl(dir, {"status"}, 10000);
  EXPECT_EQ(0, status.exit_code);
  EXPECT_TRUE(Has(status.text, "refused 3\n")) << status.text;
  EXPECT_EQ(1u, Count(ReadText(host.log),
                      "accept: Too many open files: connections are refused "
                      "until descriptors free up"))
      << ReadText(host.log);
  taken.clear();
  RawClient link;
  ASSERT_TRUE(
      Eventually([&] { return link.Connect(host.port) && link.Read(6) == Header('0', 0); }));
  EXPECT_EQ(Host("0"), Exchange(link, 'S', "").substr(0, 1));
  EXPECT_TRUE(Has(ReadText(host.log), "accepting connections again"));

  ASSERT_EQ(0, ::kill(host.pid, SIGTERM));
  int exit_status = -1;
  ASSERT_TRUE(Eventually([&] { return ::waitpid(host.pid, &exit_status, WNOHANG) == host.pid; }));
  host.pid = -1;
  EXPECT_TRUE(WIFEXITED(exit_status) && WEXITSTATUS(exit_status) == 0) << ReadText(host.log);
  EXPECT_FALSE(platform::FileExists(dir + "/ports.txt"));
  EXPECT_FALSE(platform::FileExists(dir + "/ctl.sock"));
  const std::string records = ReadText(dir + "/records/DATI.CLIENTI.txt");
  EXPECT_TRUE(Has(records, "6\tCODCLI=C00077\tRAGSOC=Caffè dell'Angolo\t")) << records;
  EXPECT_TRUE(Has(records, "\tFIDO=-999999999.99\t")) << records;
  EXPECT_TRUE(Has(ReadText(host.log), "torvan-host: ftp 127.0.0.1:")) << ReadText(host.log);
}

}  // namespace
}  // namespace torvan::hostsim
