#include "replication/testing/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/file.h"

extern char** environ;

namespace torvan::testing {

namespace {

// The environment of this process with `extra` ("NAME=value") put in.
std::vector<std::string> Environment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& x : extra) {
      const size_t eq = x.find('=');
      if (entry.compare(0, eq + 1, x, 0, eq + 1) == 0) replaced = true;
    }
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> p;
  for (std::string& s : strings) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

Status Spawn(std::vector<std::string> argv, const std::vector<std::string>& extra_env, int out_fd,
             int err_fd, pid_t* pid) {
  std::vector<std::string> env = Environment(extra_env);
  std::vector<char*> args = Pointers(argv);
  std::vector<char*> envp = Pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  const int rc = ::posix_spawn(pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return PosixError("spawn " + argv[0], rc);
  return Status::Ok();
}

std::string ReadAll(int fd) {
  std::string out;
  (void)platform::ReadFile("/proc/self/fd/" + std::to_string(fd), &out);
  return out;
}

}  // namespace

ProcessResult WaitProcess(pid_t pid) {
  ProcessResult r;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  return r;
}

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env) {
  const int out = ::memfd_create("out", MFD_CLOEXEC);
  const int err = ::memfd_create("err", MFD_CLOEXEC);
  ProcessResult r;
  pid_t pid = 0;
  Status s = Spawn(argv, env, out, err, &pid);
  if (s.ok()) {
    r = WaitProcess(pid);
    r.out = ReadAll(out);
    r.err = ReadAll(err);
  } else {
    r.err = s.message();
  }
  ::close(out);
  ::close(err);
  return r;
}

Status StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& log_path, pid_t* pid) {
  const int log = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) return PosixError("open " + log_path, errno);
  Status s = Spawn(argv, env, log, log, pid);
  ::close(log);
  return s;
}

HostProcess::HostProcess(std::string exe, std::string data_dir, uint64_t vary_seed)
    : exe_(std::move(exe)), data_dir_(std::move(data_dir)), vary_seed_(vary_seed) {}

Status HostProcess::WriteTable(const std::string& path) const {
  ProcessResult r = RunProcess({exe_, "table", path, "--seed", std::to_string(vary_seed_)});
  return r.exit_code == 0 ? Status::Ok() : Status::IoError("torvan-host table: " + r.err);
}

HostProcess::~HostProcess() { Stop(); }

Status HostProcess::Start(const std::string& log_path) {
  const std::string ports = data_dir_ + "/ports.txt";
  (void)platform::RemoveFile(ports);
  Status s = StartProcess({exe_, "serve", "--data", data_dir_, "--ftp-port", "0", "--port", "0",
                           "--verbose", "--vary", std::to_string(vary_seed_)},
                          {}, log_path, &pid_);
  if (!s.ok()) return s;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < deadline) {
    std::string text;
    if (platform::ReadFile(ports, &text).ok()) {
      const size_t ftp = text.find("ftp "), host = text.find("host ");
      if (ftp != std::string::npos && host != std::string::npos) {
        ftp_port_ = std::atoi(text.c_str() + ftp + 4);
        host_port_ = std::atoi(text.c_str() + host + 5);
        if (ftp_port_ > 0 && host_port_ > 0) return Status::Ok();
      }
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return Status::IoError("torvan-host ended at start; see " + log_path);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Stop();
  return Status::TimedOut("torvan-host wrote no ports in 20 s; see " + log_path);
}

void HostProcess::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  (void)WaitProcess(pid_);
  pid_ = -1;
}

ProcessResult HostProcess::Ctl(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {exe_, "ctl", "--data", data_dir_};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

}  // namespace torvan::testing
