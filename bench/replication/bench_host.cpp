#include "bench/replication/bench_host.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "catalogue/catalogue.h"
#include "config/settings.h"
#include "core/text.h"
#include "hostsim/ctl_client.h"
#include "links/link_control.h"
#include "links/sql_control.h"
#include "platform/file.h"
#include "schema/operations.h"

namespace torvan::bench {

namespace {

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench: %s\n", what.c_str());
  std::exit(1);
}

void Write(const std::string& path, const std::string& text) {
  if (!platform::WriteFileAtomic(path, text, 0644, false).ok()) Die("cannot write " + path);
}

class NoQuestions final : public Confirmations {
 public:
  void ShowRefusal(Owner, std::string_view, std::string_view) override {}
  bool AskOkCancel(Owner, std::string_view, std::string_view, int64_t) override { return true; }
};

}  // namespace

const std::vector<BenchField>& BenchFields() {
  static const std::vector<BenchField> fields = {
      {"CODICE", 'A', 10, 0}, {"DESCR", 'A', 30, 0},   {"NOTE", 'A', 20, 0}, {"FLAG", 'A', 1, 0},
      {"PREZZO", 'P', 9, 2},  {"IMPORTO", 'P', 17, 3}, {"QTA", 'P', 7, 0},   {"DATA", 'S', 8, 0},
      {"PERC", 'S', 5, 2},    {"NUM", 'B', 9, 0},      {"CNT", 'B', 4, 0},   {"ZONA", 'A', 3, 0},
  };
  return fields;
}

std::string BenchFile(int k) { return "F" + std::to_string(k); }

BenchHost::BenchHost(const std::string& exe) : data_(folder_.path()) {
  Write(data_ + "/host.conf", "user = UTENTE\npassword = TORVAN\nlibrary = TM\n");
  Write(data_ + "/databases.txt", "BENCH | Benchmark | SQLSRV | 127.0.0.1 | torvan | Segreta1 |\n");
  std::string files;
  ::mkdir((data_ + "/fields").c_str(), 0755);
  for (int k = 1; k <= kBenchFiles; ++k) {
    const bool back = k == kBenchFiles;
    files += "DATI | " + BenchFile(k) + " | File " + std::to_string(k) + " | DATI | T | S | " +
             (back ? "S" : "N") + " | N | BENCH | |\n";
    std::string fields;
    for (const BenchField& f : BenchFields()) {
      fields += std::string(f.name) + " | " + f.name + " | " + f.type + " | " +
                std::to_string(f.digits) + " | " +
                (f.type == 'A' ? "" : std::to_string(f.decimals)) + " | | |\n";
    }
    if (back) fields += "\xC2\xA7_T_IDX___ | Indice | B | 9 | 0 | | |\n";  // UTF-8 "§"
    Write(data_ + "/fields/DATI." + BenchFile(k) + ".txt", fields);
  }
  Write(data_ + "/files.txt", files);

  pid_ = ::fork();
  if (pid_ == 0) {
    ::execl(exe.c_str(), exe.c_str(), "serve", "--data", data_.c_str(), "--ftp-port", "0", "--port",
            "0", "--quiet", static_cast<char*>(nullptr));
    std::perror("exec torvan-host");
    std::_Exit(127);
  }
  for (int i = 0; i < 200 && port_ == 0; ++i) {
    std::string ports;
    if (platform::ReadFile(data_ + "/ports.txt", &ports).ok()) {
      const size_t at = ports.find("host ");
      if (at != std::string::npos) port_ = std::atoi(ports.c_str() + at + 5);
    }
    if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (port_ == 0) Die("torvan-host did not start");
}

BenchHost::~BenchHost() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string BenchHost::Ctl(const std::vector<std::string>& args) {
  hostsim::CtlResult r;
  Status s = hostsim::CtlCall(data_, args, 600000, &r);
  if (!s.ok() || r.exit_code != 0) Die("ctl " + args[0] + ": " + s.message() + " " + r.text);
  return r.text;
}

void BenchHost::Generate(int changes, int seed) {
  for (int k = 1; k <= kBenchFiles; ++k) {
    const int share = changes / kBenchFiles + (k <= changes % kBenchFiles ? 1 : 0);
    if (share > 0) {
      Ctl({"generate", "DATI/" + BenchFile(k), std::to_string(share), std::to_string(seed + k)});
    }
  }
}

size_t BenchHost::Records(const std::string& file) {
  const std::string dump = Ctl({"dump", "DATI/" + file});
  size_t lines = 0;
  for (char c : dump) lines += c == '\n';
  return lines;
}

BenchTorvan::BenchTorvan(const BenchHost& host, const std::string& char_table, int postgres_port,
                         bool on_disk)
    : folder_("torvan-bench-pc", on_disk ? "/var/tmp" : "") {
  const std::string base = folder_.path();
  std::string table;
  if (!platform::ReadFile(char_table, &table).ok()) Die("cannot read " + char_table);
  Write(base + "/TnC_TBL1.Tbl", table);
  program_ = std::make_unique<Program>(Paths::InFolder(base), platform::SystemClock(),
                                       platform::ConsolePump());
  OptionsForm form = OptionsForm_Standard();
  form.txtIN1 = "127.0.0.1";
  form.txtIN2 = "UTENTE";
  form.txtIN3 = "TORVAN";
  form.txtIN5 = std::to_string(host.port());
  form.txtIN17 = "0";  // the host program runs already: no FTP command
  form.chkLog = true;
  if (!OptionsForm_Save(*program_, form).ok()) Die("cannot write the settings");
  if (postgres_port != 0) {
    program_->settings.sql.Motore = "PostgreSQL";
    program_->settings.sql.Attributi = "port=" + std::to_string(postgres_port) + ";";
  }
  rt_ = std::make_unique<Runtime>(*program_);
  if (!Server_AS_Start(*rt_)) Die("the host link did not open");
  if (!Server_SQL_Start_(*rt_)) Die("the databases did not open");
  NoQuestions yes;
  Schema schema{*program_, rt_->catalogue, rt_->connessioni, yes};
  for (int n = 1; n <= rt_->catalogue.N_File; ++n) Crea_File(schema, n);
}

BenchTorvan::~BenchTorvan() {
  Server_SQL_Stop_(*rt_);
  Server_AS_Stop(*rt_);
}

ChildResult InChild(const std::function<double()>& work) {
  int pipe_fd[2];
  if (::pipe(pipe_fd) != 0) Die("pipe");
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fd[0]);
    const double v = work();
    (void)!::write(pipe_fd[1], &v, sizeof v);
    std::fflush(nullptr);
    std::_Exit(0);
  }
  ::close(pipe_fd[1]);
  ChildResult r;
  if (::read(pipe_fd[0], &r.value, sizeof r.value) != ssize_t(sizeof r.value)) r.value = -1;
  ::close(pipe_fd[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("a measurement failed");
  r.peak_kib = usage.ru_maxrss;
  return r;
}

double RateOf(const char* who, const char* units, int count, int n,
              std::chrono::steady_clock::time_point start) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (count != n) {
    std::fprintf(stderr, "%s %d %s of %d\n", who, count, units, n);
    std::exit(1);
  }
  return n / seconds;
}

void Compare(int n, int rounds, double goal, const std::function<double(int)>& floor,
             const std::function<double(int)>& torvan, const std::function<double(int)>& network) {
  // The machine's speed drifts from run to run: the floor and Torvan take turns (ABBA), and
  // the median of each side is compared.
  struct Side {
    explicit Side(const char* n) : name(n) {}
    const char* name;
    std::vector<double> rates;
    long peak_kib = 0;
    double Median() {
      std::sort(rates.begin(), rates.end());
      return rates[rates.size() / 2];
    }
    void Add(const ChildResult& r) {
      rates.push_back(r.value);
      peak_kib = std::max(peak_kib, r.peak_kib);
    }
    void Print(int count) {
      const double m = Median();
      std::printf("  %-9s %-7d %10.0f/s  (%.0f..%.0f)  peak %ld KiB\n", name, count, m,
                  rates.front(), rates.back(), peak_kib);
    }
  };
  double ratio[2] = {0, 0}, link[2] = {0, 0};
  for (int size = 0; size < 2; ++size) {
    const int count = size == 0 ? n : 4 * n;
    Side f("floor"), t("Torvan"), x("exchanges");
    for (int round = 0; round < rounds; ++round) {
      const bool turn = round % 2 == 0;
      if (turn) f.Add(InChild([&] { return floor(count); }));
      t.Add(InChild([&] { return torvan(count); }));
      if (!turn) f.Add(InChild([&] { return floor(count); }));
      if (network) x.Add(InChild([&] { return network(count); }));
    }
    f.Print(count);
    t.Print(count);
    ratio[size] = t.Median() / f.Median();
    if (network) {
      x.Print(count);
      link[size] = t.Median() / x.Median();
    }
  }
  std::printf("  ratio Torvan/floor %.2f at N, %.2f at 4N (medians of %d runs; goal >= %.1f)\n",
              ratio[0], ratio[1], rounds, goal);
  if (network) {
    std::printf("  ratio Torvan/exchanges alone %.2f at N, %.2f at 4N (the link's limit)\n",
                link[0], link[1]);
  }
}

}  // namespace torvan::bench
