// The torvan-host program itself: its help, the control command's exit statuses, and a
// server run as a child process that stops cleanly on SIGTERM.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "hostsim/test_support.h"
#include "platform/file.h"

namespace torvan::hostsim {
namespace {

struct Output {
  int exit_code = -1;
  std::string text;  // standard output and standard error
};

Output RunHost(const std::string& args) {
  Output out;
  FILE* p = ::popen((std::string(TORVAN_HOST_EXE) + " " + args + " 2>&1").c_str(), "r");
  if (p == nullptr) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.text.append(buf, n);
  int status = ::pclose(p);
  out.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

// The help, whose words are its own: given, and naming the two modes.
TEST(TorvanHostProgramTest, HelpIsGiven) {
  Output help = RunHost("--help");
  EXPECT_EQ(0, help.exit_code);
  EXPECT_NE(std::string::npos, help.text.find("serve")) << help.text;
  EXPECT_NE(std::string::npos, help.text.find("ctl")) << help.text;
}

TEST(TorvanHostProgramTest, ControlWithoutAServerFailsWithStatusOne) {
  testing::TempDir dir;
  Output out = RunHost("ctl --data " + dir.path() + " queue");
  EXPECT_EQ(1, out.exit_code);
  EXPECT_NE(std::string::npos, out.text.find("no torvan-host is serving")) << out.text;
}

TEST(TorvanHostProgramTest, ServeControlAndStopOnSigterm) {
  testing::SampleHost sample;
  const std::string log = sample.path() + "/serve.log";
  pid_t pid = ::fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    std::freopen(log.c_str(), "w", stdout);
    std::freopen(log.c_str(), "a", stderr);
    ::execl(TORVAN_HOST_EXE, TORVAN_HOST_EXE, "serve", "--data", sample.path().c_str(),
            "--ftp-port", "0", "--port", "0", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!platform::FileExists(sample.path() + "/ports.txt") &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(platform::FileExists(sample.path() + "/ports.txt"));

  Output inserted = RunHost("ctl --data " + sample.path() +
                            " insert DATI/CLIENTI CODCLI=C00077 'RAGSOC=Caffè dell'\\''Angolo'");
  EXPECT_EQ(0, inserted.exit_code) << inserted.text;
  EXPECT_EQ("inserted DATI/CLIENTI RRN 6\n", inserted.text);
  Output bad = RunHost("ctl --data " + sample.path() + " update DATI/CLIENTI 6 PROV=XYZ");
  EXPECT_EQ(2, bad.exit_code);
  EXPECT_NE(std::string::npos, bad.text.find("PROV")) << bad.text;
  EXPECT_EQ("1\n", RunHost("ctl --data " + sample.path() + " queue").text);

  ASSERT_EQ(0, ::kill(pid, SIGTERM));
  int status = 0;
  pid_t done = 0;
  while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline + std::chrono::seconds(5)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) ::kill(pid, SIGKILL);
  ASSERT_EQ(pid, done);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  std::string records, serve_log;
  ASSERT_TRUE(platform::ReadFile(sample.path() + "/records/DATI.CLIENTI.txt", &records).ok());
  EXPECT_NE(std::string::npos, records.find("6\tCODCLI=C00077\tRAGSOC=Caffè dell'Angolo\t"));
  ASSERT_TRUE(platform::ReadFile(log, &serve_log).ok());
  EXPECT_NE(std::string::npos, serve_log.find("torvan-host: ftp 127.0.0.1:")) << serve_log;
  EXPECT_FALSE(platform::FileExists(sample.path() + "/ports.txt"));
  EXPECT_FALSE(platform::FileExists(sample.path() + "/ctl.sock"));
}

}  // namespace
}  // namespace torvan::hostsim
