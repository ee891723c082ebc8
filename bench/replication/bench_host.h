// What bench/drain and bench/return share: a host of five files made for the benchmark,
// torvan-host serving it as a child process, a Torvan base folder with its settings,
// catalogue and tables, and measurements taken in child processes so that each reports
// its own peak memory.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "links/runtime.h"
#include "platform/temp_folder.h"

namespace torvan::bench {

// A host field of the benchmark's files: name, type, digits, decimals (bytes follow).
struct BenchField {
  const char* name;
  char type;
  int digits;
  int decimals;
};

// The fields of every file: text, zoned, packed (17,3 amounts included) and binary.
const std::vector<BenchField>& BenchFields();

inline constexpr int kBenchFiles = 5;
// File k (1..5) is "F<k>" of library "DATI"; F5 is also replicated back to SQL (Pc_As).
std::string BenchFile(int k);

// torvan-host serving the benchmark's host from a fresh data folder, as a child process.
class BenchHost {
 public:
  explicit BenchHost(const std::string& torvan_host_exe);
  ~BenchHost();  // stops the server
  const std::string& data() const { return data_; }
  int port() const { return port_; }
  // Queues `changes` random changes spread over the five files ("ctl generate").
  void Generate(int changes, int seed);
  // Records of a file now ("ctl dump" lines).
  size_t Records(const std::string& file);
  // Runs a ctl command; exits the program when it fails.
  std::string Ctl(const std::vector<std::string>& args);

 private:
  platform::TempFolder folder_{"torvan-bench-host"};
  std::string data_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A Torvan base folder on the host: settings (TnC.INI with the message log on), the
// character table, the catalogue loaded from the host and every table built, the links
// open. Exits the program on any failure.
// With `postgres_port` other than 0 the database BENCH is on the PostgreSQL server of that
// port of 127.0.0.1 (made empty first), the engine PostgreSQL. `on_disk`: the folder is on
// the disk (/var/tmp) rather than in memory, for a run whose syncs must cost what they cost.
class BenchTorvan {
 public:
  BenchTorvan(const BenchHost& host, const std::string& char_table, int postgres_port = 0,
              bool on_disk = false);
  ~BenchTorvan();  // closes the links
  Program& program() { return *program_; }
  Runtime& runtime() { return *rt_; }
  const std::string& folder() const { return folder_.path(); }

 private:
  platform::TempFolder folder_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<Runtime> rt_;
};

// Runs `work` in a child process; returns what it wrote (a number) and the child's peak
// resident memory in KiB.
struct ChildResult {
  double value = 0;
  long peak_kib = 0;
};
ChildResult InChild(const std::function<double()>& work);

// The rate of `n` units done since `start`; ends the process, saying "<who> <count> <units>
// of <n>", when only `count` were done.
double RateOf(const char* who, const char* units, int count, int n,
              std::chrono::steady_clock::time_point start);

// Runs the floor and Torvan `rounds` times each at N and 4N, every run in its own child
// process, and prints their median rates, peak memory and ratios (against `goal`). With
// `network`, also the host exchanges alone, the link's limit, and Torvan's ratio to it.
void Compare(int n, int rounds, double goal, const std::function<double(int)>& floor,
             const std::function<double(int)>& torvan,
             const std::function<double(int)>& network = {});

}  // namespace torvan::bench
