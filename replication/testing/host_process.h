// Child processes of the end-to-end tests and the fault soak: torvan-host serving a data
// folder on free ports, and a runner of any program whose output a test reads.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status.h"

namespace torvan::testing {

struct ProcessResult {
  int exit_code = -1;  // the exit status; -1 when a signal ended the process
  int signal = 0;      // the signal that ended it, 0 when it exited
  std::string out, err;
};

// Runs `argv` (argv[0] a path) on /dev/null with `env` ("NAME=value") added, and waits.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {});

// Starts `argv` as RunProcess does, its output appended to `log_path`; `*pid` is the child's.
Status StartProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& log_path, pid_t* pid);

// Waits for child `pid` (exit status or signal in the result; out and err empty).
ProcessResult WaitProcess(pid_t pid);

class HostProcess {
 public:
  // `data_dir`: a copy, never the one checked in; `vary_seed`: of "serve --vary", 0 none.
  HostProcess(std::string exe, std::string data_dir, uint64_t vary_seed = 0);
  ~HostProcess();  // stops the server if it runs
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // `torvan-host table`: the PC's character table, its header drawn from the seed.
  Status WriteTable(const std::string& path) const;

  // `serve` on free ports, every request logged to `log_path`; waits for the ports.
  Status Start(const std::string& log_path);
  // SIGTERM, and waits for the server to write its data folder and end.
  void Stop();
  int ftp_port() const { return ftp_port_; }
  int host_port() const { return host_port_; }

  // `torvan-host ctl --data DIR args...`.
  ProcessResult Ctl(const std::vector<std::string>& args) const;

 private:
  std::string exe_, data_dir_;
  uint64_t vary_seed_;
  pid_t pid_ = -1;
  int ftp_port_ = 0, host_port_ = 0;
};

}  // namespace torvan::testing
