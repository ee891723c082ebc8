// torvan-soak, the fault soak of scripts/soak: random changes on the host and on the SQL side
// (CONTATTI) while torvan-host injects faults, `torvan run` is killed (or dies at a named point,
// kill_point.h), SQL operations fail and a PC program holds GESTIONALE's write lock; then every
// host file is compared with its mirror and every SQL-side change with the host. A difference
// on a record of the conflicts file is a conflict left unequal, not a loss. Options: the usage
// line in main. Exit 0 when nothing was lost or doubled, 1 otherwise, 2 when the soak could not
// run; the folders stay with --keep or when something differs.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/text.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "replication/conflicts.h"
#include "replication/testing/host_process.h"
#include "replication/testing/mirror_compare.h"
#include "sql/connection.h"

namespace {

using namespace torvan;
using namespace torvan::testing;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Options {
  std::string torvan, host_exe, sample, table;
  double minutes = 0;
  long actions = 0;
  uint64_t seed = 1;
  long fault_every = 10, kill_every = 200, sql_fault_one_in = 0, lock_every = 0;
  std::string odbc_driver;
  bool keep = false;
};

// A soak that cannot go on: thrown, so that on its way out `torvan run` is killed,
// torvan-host stopped and the folder removed (kept with --keep) as at a normal end.
struct SoakFailure {
  std::string why;
};

[[noreturn]] void Fail(const std::string& why) { throw SoakFailure{why}; }

class Soak {
 public:
  explicit Soak(const Options& o)
      : o_(o),
        rng_(o.seed),
        folder_("torvan-soak"),
        host_dir_(folder_ / "host"),
        pc_(folder_ / "pc"),
        host_(o.host_exe, host_dir_, o.seed) {}
  ~Soak() {
    if (run_pid_ > 0 && ::kill(run_pid_, SIGKILL) == 0) (void)WaitProcess(run_pid_);
  }

  int Run() {
    Prepare();
    const Clock::time_point start = Clock::now();
    const std::chrono::duration<double> length(o_.minutes * 60);
    for (long a = 0; o_.actions > 0 ? a < o_.actions : Clock::now() - start < length; ++a) {
      Act(a);
      std::this_thread::sleep_for(std::chrono::milliseconds(Pick(10, 40)));
      if (a % 200 == 0) Progress(start);
    }
    minutes_ = std::chrono::duration<double>(Clock::now() - start).count() / 60;
    return Finish();
  }

 private:
  long Pick(long lo, long hi) { return std::uniform_int_distribution<long>(lo, hi)(rng_); }
  bool OneIn(long n) { return n > 0 && Pick(1, n) == 1; }

  ProcessResult Torvan(std::vector<std::string> args) {
    args.insert(args.begin(), {o_.torvan, "--dir", pc_});
    return RunProcess(args);
  }
  std::string Ctl(const std::vector<std::string>& args) {
    ProcessResult r = host_.Ctl(args);
    if (r.exit_code != 0 && args[0] != "delete" && args[0] != "update") {
      Fail("ctl " + args[0] + ": " + r.out + r.err);
    }
    return r.out;
  }

  void Prepare() {
    fs::copy(o_.sample, host_dir_, fs::copy_options::recursive);
    fs::create_directory(pc_);
    if (!host_.Start(folder_ / "host.log").ok()) Fail("torvan-host did not start");
    std::string bytes;
    // The header of a table file is not read: the soak's has six bytes of its own.
    if (platform::ReadFile(o_.table, &bytes).ok() && bytes.size() >= 6) {
      for (size_t i = 0; i < 6; ++i) bytes[i] = char(rng_() & 0xFF);
    }
    if (bytes.size() < 6 || !platform::WriteFileAtomic(pc_ + "/TnC_TBL1.Tbl", bytes, 0644).ok()) {
      Fail("cannot copy the character table " + o_.table);
    }
    std::vector<std::vector<std::string>> commands = {
        {"settings", "--standard"},
        {"settings", "set", "Nome_Connessione=127.0.0.1", "Utente=UTENTE", "Password=Torvan1",
         "Porta=" + std::to_string(host_.host_port()),
         "Porta_FTP=" + std::to_string(host_.ftp_port()), "Ciclo_Sincronizz=500", "Log_Su_File=S"},
        {"catalogue"},
        {"build", "all", "--yes"}};
    if (!o_.odbc_driver.empty()) {
      commands.push_back({"settings", "set", "Motore=ODBC", "Driver=" + o_.odbc_driver});
    }
    for (const std::vector<std::string>& args : commands) {
      ProcessResult r = Torvan(args);
      if (r.exit_code != 0) Fail("torvan " + args[0] + ": " + r.out + r.err);
    }
    for (const char* f : kHostFiles) Ctl({"refresh", std::string("DATI/") + f});
    Ctl({"refresh", "DATI/CONTATTI"});
    StartTorvan();
    // CONTATTI filled before the SQL side writes: a later host clear is a conflict, no loss.
    for (int i = 0; i < 240 && Ctl({"queue"}) != "0\n"; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }

  void StartTorvan() {
    std::vector<std::string> env;
    if (o_.sql_fault_one_in > 0) {
      // Each start fails other operations than the last one did.
      const std::string seed = std::to_string(o_.seed * 1000 + uint64_t(++starts_));
      env.push_back("TORVAN_TEST_SQL_FAULTS=random=" + std::to_string(o_.sql_fault_one_in) + "/" +
                    seed + "=error+busy+lost+lost-after;vfs-random=" +
                    std::to_string(4 * o_.sql_fault_one_in) + "/" + seed + ";log=" + FaultLog());
    }
    // One start in three dies at a named point of the journal, apply or return, after work.
    static const char* const kPoints[] = {
        "change-received", "change-journaled", "change-applied", "position-written",
        "batch-committed", "journal-advanced", "image-chunk",    "event-marked",
        "event-answered",  "event-removed"};
    if (o_.kill_every > 0 && OneIn(3)) {
      env.push_back(std::string("TORVAN_TEST_KILL_AT=") +
                    kPoints[Pick(0, long(std::size(kPoints)) - 1)] + "@" +
                    std::to_string(Pick(1, 60)));
    }
    if (!StartProcess({o_.torvan, "--dir", pc_, "run"}, env, folder_ / "run.log", &run_pid_).ok()) {
      Fail("torvan run did not start");
    }
  }
  std::string FaultLog() const { return folder_ / "sql-faults.log"; }
  // A PC program's connection to GESTIONALE, which waits up to 20 s for a lock.
  std::unique_ptr<sql::Connection> Gestionale() const {
    sql::ConnectionParams p;
    p.base_folder = pc_;
    p.database = "GESTIONALE";
    p.busy_timeout_ms = 20000;
    return sql::NewConnection(p);
  }

  // A PC program's transaction: the write lock of GESTIONALE, held over some actions.
  void Lock(long a) {
    if (lock_ != nullptr && a >= unlock_at_) {
      (void)lock_->ExecuteNative("COMMIT");
      lock_.reset();
    }
    if (o_.lock_every <= 0 || lock_ != nullptr || a % o_.lock_every != o_.lock_every / 3) return;
    lock_ = Gestionale();
    if (!lock_->Open().ok() || !lock_->ExecuteNative("BEGIN IMMEDIATE").ok()) {
      Fail("cannot take the write lock of GESTIONALE");
    }
    unlock_at_ = a + Pick(20, 120);  // some 1 to 5 seconds
    ++locks_;
  }

  // Faults and kills at a steady pace (a short run has its share), each of a random kind.
  void Act(long a) {
    EnsureRunning();
    Lock(a);
    if (o_.kill_every > 0 && a % o_.kill_every == o_.kill_every / 2) {
      ::kill(run_pid_, SIGKILL);
      (void)WaitProcess(run_pid_);
      run_pid_ = -1;
      ++kills_;
      std::this_thread::sleep_for(std::chrono::milliseconds(Pick(0, 300)));
      return StartTorvan();
    }
    if (o_.fault_every > 0 && a % o_.fault_every == 0) Fault();
    // The host waits while Torvan is far behind: a long run ends in minutes of drain.
    if (a % 25 == 0) host_waits_ = std::atol(Ctl({"queue"}).c_str()) > kMostBehind;
    // While the soak holds the lock its own SQL-side changes would wait for it.
    if ((!host_waits_ && Pick(1, 100) <= 65) || lock_ != nullptr) {
      HostChange();
    } else {
      SqlChange();
    }
  }

  // As a service manager does (Restart=on-failure): `torvan run` ends by itself when a host
  // link cannot be opened (a fault cut the catalogue load).
  void EnsureRunning() {
    int status = 0;
    if (::waitpid(run_pid_, &status, WNOHANG) != run_pid_) return;
    run_pid_ = -1;
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
      ++point_kills_;
    } else {
      ++restarts_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    StartTorvan();
  }

  void Fault() {
    if (lasting_ > 0 && --lasting_ == 0) Ctl({"fault", "delay", "0"}), Ctl({"fault", "split", "0"});
    // One fault in ten on whatever runs, a link start too; the rest fall on replication (the
    // status file of `torvan run` says the cycle is active).
    if (!OneIn(10) && !Has(Torvan({"status"}).out, "\nSincronismo: attivo")) return;
    static const std::vector<std::vector<std::string>> kOneShot = {
        {"fault", "corrupt-length"},   {"fault", "refuse", "S", "1"},
        {"fault", "refuse", "R", "1"}, {"fault", "refuse-statements", "1"},
        {"fault", "pair", "200"},      {"fault", "refuse", "I", "1"}};
    const size_t kind = size_t(Pick(0, long(kOneShot.size()) + 2)), lasting = kOneShot.size() + 1;
    if (kind < kOneShot.size()) {
      Ctl(kOneShot[kind]);
    } else if (kind < lasting) {
      Ctl({"fault", "close-after", std::to_string(Pick(0, 400))});
    } else {  // a delay of each write or writes split in pieces, for a few faults' time
      const bool delay = kind == lasting;
      Ctl({"fault", delay ? "delay" : "split", std::to_string(delay ? Pick(5, 60) : Pick(1, 64))});
      lasting_ = int(Pick(2, 6));
    }
    ++faults_;
  }

  void HostChange() {
    if (!pc_changed_.empty() && Pick(1, 100) <= 5) {
      // Both sides: the host changes a record the SQL side has just changed.
      const std::string rrn = std::to_string(pc_changed_.back());
      pc_changed_.pop_back();
      if (OneIn(4)) {
        Ctl({"delete", "DATI/CONTATTI", rrn});
      } else {
        Ctl({"update", "DATI/CONTATTI", rrn, "NOTA=host " + std::to_string(++sql_serial_)});
      }
      ++host_changes_;
      ++both_sides_;
      return;
    }
    const std::string file = std::string("DATI/") + kHostFiles[size_t(Pick(0, 3))];
    const long what = Pick(1, 100);
    if (what <= 2) {
      Ctl({"clear", file});
      host_changes_ += 1;
    } else if (what <= 8 && file == "DATI/TNP_ARC_0F") {
      // A record with an image the host holds, so images are fetched and deleted too.
      static const char* kImages[][3] = {{"CHIAVE=FOTO000001", "PARTI=1", "TIPO=5"},
                                         {"CHIAVE=LOGO000002", "PARTI=1", "TIPO=7"},
                                         {"CHIAVE=PIANTA0003", "PARTI=1", "TIPO=3"},
                                         {"CHIAVE=SCHEDA0004", "PARTI=2", "TIPO=A"}};
      const auto& image = kImages[Pick(0, 3)];
      Ctl({"insert", file, "STATO= ", image[0], image[1], image[2], "DESCR=immagine del soak"});
      host_changes_ += 1;
    } else {
      const long n = Pick(1, 8);
      Ctl({"generate", file, std::to_string(n), std::to_string(Pick(1, 1000000))});
      host_changes_ += n;
    }
  }

  void SqlChange() {
    std::unique_ptr<sql::Connection> c = Gestionale();
    if (!c->Open().ok()) Fail("cannot open GESTIONALE: " + c->Errors().front().description);
    std::vector<MirrorRow> rows;
    if (!ReadMirror(*c, "CONTATTI", &rows).ok()) rows.clear();
    const long what = Pick(1, 10);
    std::string statement;
    const std::string n = std::to_string(++sql_serial_);
    if (what <= 5 || rows.empty()) {
      statement =
          "INSERT INTO [CONTATTI] ([CODCLI],[DATA],[NOMINATIVO],[TELEFONO],[NOTA],[ESITO],"
          "[VALORE]) VALUES('S" +
          ZeroPad(sql_serial_ % 100000, 5) + "'," + std::to_string(20200101 + Pick(0, 60000)) +
          ",'Soak " + n + " d''Este','" + n + "','nota \xE8 " + n + "','" + (OneIn(2) ? "P" : "N") +
          "'," + std::to_string(Pick(-99999, 99999)) + "." + ZeroPad(Pick(0, 999), 3) + ")";
    } else {
      const MirrorRow& row = rows[size_t(Pick(0, long(rows.size()) - 1))];
      const std::string id = std::to_string(row.idx);
      if (row.rrn > 0) pc_changed_.push_back(long(row.rrn));
      if (pc_changed_.size() > 8) pc_changed_.erase(pc_changed_.begin());
      statement = what <= 8 ? "UPDATE [CONTATTI] SET [NOTA]='cambiata " + n +
                                  "',[VALORE]=" + std::to_string(Pick(0, 9999)) +
                                  ".500 WHERE [_T_IDX___]=" + id
                            : "DELETE FROM [CONTATTI] WHERE [_T_IDX___]=" + id;
    }
    // Tried again a few times, as a PC program does: Torvan may be rebuilding the table.
    for (int attempt = 1; !c->Execute(statement).ok(); ++attempt) {
      if (attempt == 5) {
        Fail("SQL side: " +
             (c->Errors().empty() ? std::string("?") : c->Errors().front().description) + ": " +
             statement);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ++sql_changes_;
  }

  void Progress(Clock::time_point start) {
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%6.0fs  host changes %6ld  SQL changes %5ld  faults %5ld  kills %3ld  queue %s", s,
                host_changes_, sql_changes_, faults_, kills_, Ctl({"queue"}).c_str());
    std::fflush(stdout);
  }

  // Events not sent back yet, and whether a change is held.
  bool Drained() {
    if (Ctl({"queue"}) != "0\n") return false;
    std::unique_ptr<sql::Connection> c = Gestionale();
    int64_t unsent = 1;
    if (!c->Open().ok() || !UnsentEvents(*c, &unsent).ok() || unsent != 0) return false;
    return Torvan({"pending"}).exit_code == 0;
  }

  int Finish() {
    if (lock_ != nullptr) (void)lock_->ExecuteNative("COMMIT");
    lock_.reset();
    Ctl({"fault", "clear"});
    Ctl({"fault", "delay", "0"});
    Ctl({"fault", "split", "0"});
    // Drained, or two minutes without the host's queue getting shorter.
    bool drained = false;
    long shortest = std::atol(Ctl({"queue"}).c_str());
    for (int still = 0; still < 480 && !(drained = Drained()); ++still) {
      EnsureRunning();
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      const long queue = std::atol(Ctl({"queue"}).c_str());
      if (queue < shortest) {
        shortest = queue;
        still = 0;
      }
    }
    ::kill(run_pid_, SIGTERM);
    const ProcessResult end = WaitProcess(run_pid_);
    run_pid_ = -1;
    std::vector<std::string> differences;
    Status s = CompareFolder(pc_, host_, {}, &differences);
    if (!s.ok()) Fail("the comparison could not be made: " + s.message());
    long twice = 0, duplicated = 0, lost = 0, unequal = 0;
    std::string conflicts;
    (void)platform::ReadFile(pc_ + "/TnC_CONFLITTI.Log", &conflicts);
    conflicts = Utf8ToCp1252(conflicts);
    auto in_conflict = [&](const std::string& d) {
      const size_t at = d.find(" RRN ");
      if (d.rfind("DATI/CONTATTI", 0) != 0 || at == std::string::npos) return false;
      const std::string rrn = d.substr(at + 5, d.find_first_not_of("0123456789", at + 5) - at - 5);
      return conflicts.find("DATI/CONTATTI RRN:" + rrn + " ") != std::string::npos;
    };
    for (const std::string& d : differences) {
      ++(in_conflict(d)                  ? unequal
         : Has(d, " rows in the table")  ? twice
         : Has(d, " host records with ") ? duplicated
                                         : lost);
    }
    std::string sql_faults;
    (void)platform::ReadFile(FaultLog(), &sql_faults);
    std::printf(
        "\nsoak: %.1f minutes, seed %llu\n  host changes          %ld\n"
        "  SQL-side changes      %ld\n  faults injected       %ld\n"
        "  SQL faults injected   %ld%s\n  write locks held      %ld\n  kills                 %ld\n"
        "  restarts after an end %ld (a host link that did not open)\n"
        "  kills at named points %ld\n  drained               %s\n  torvan run at the end %s\n"
        "  changes lost          %ld\n  changes applied twice %ld\n  host records doubled  %ld\n"
        "  both-sides changes    %ld\n  conflicts             %ld (TnC_CONFLITTI.Log)\n"
        "  conflicts left unequal %ld\n",
        minutes_, (unsigned long long)o_.seed, host_changes_, sql_changes_, faults_,
        long(std::count(sql_faults.begin(), sql_faults.end(), '\n')),
        o_.odbc_driver.empty() ? "" : " (through ODBC)", locks_, kills_, restarts_, point_kills_,
        drained ? "yes" : "NO", end.exit_code == 0 ? "stopped cleanly" : "FAILED", lost, twice,
        duplicated, both_sides_, long(Conflicts::Records(pc_ + "/TnC_CONFLITTI.Log").size()),
        unequal);
    const bool ok = drained && end.exit_code == 0 && differences.empty();
    host_.Stop();
    if (!ok || o_.keep) {
      for (size_t i = 0; i < differences.size() && i < 30; ++i) {
        std::printf("  %s\n", Cp1252ToUtf8(differences[i]).c_str());
      }
      // The folder outlives the soak for a look: moved where TempFolder does not remove it.
      const std::string kept = folder_.path() + ".kept";
      std::error_code ec;
      fs::rename(folder_.path(), kept, ec);
      fs::create_directory(folder_.path(), ec);
      std::printf("  folders kept: %s\n", kept.c_str());
    }
    return ok ? 0 : 1;
  }

  static constexpr const char* kHostFiles[] = {"CLIENTI", "ARTICOLI", "ORDINI", "TNP_ARC_0F"};
  static constexpr long kMostBehind = 2000;  // changes queued on the host

  const Options o_;
  std::mt19937_64 rng_;
  platform::TempFolder folder_;
  const std::string host_dir_, pc_;
  HostProcess host_;
  pid_t run_pid_ = -1;
  long host_changes_ = 0, sql_changes_ = 0, faults_ = 0, kills_ = 0, sql_serial_ = 0;
  long restarts_ = 0, locks_ = 0, unlock_at_ = 0, point_kills_ = 0, both_sides_ = 0;
  std::vector<long> pc_changed_;  // RRNs of CONTATTI records just changed on the SQL side
  int lasting_ = 0, starts_ = 0;
  std::unique_ptr<sql::Connection> lock_;
  bool host_waits_ = false;
  double minutes_ = 0;
};

int SoakMain(int argc, char** argv) {
  // Every option but --keep takes a value; these are the defaults.
  std::map<std::string, std::string> v = {
      {"--torvan", ""},      {"--host-exe", ""},      {"--sample", ""},
      {"--table", ""},       {"--minutes", "0"},      {"--actions", "0"},
      {"--seed", "1"},       {"--fault-every", "10"}, {"--kill-every", "200"},
      {"--lock-every", "0"}, {"--odbc", ""},          {"--sql-fault-one-in", "0"}};
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--keep") {
      keep = true;
    } else if (v.count(a) == 0 || i + 1 >= argc) {
      Fail(v.count(a) == 0 ? "unknown argument " + a : a + " needs a value");
    } else {
      v[a] = argv[++i];
    }
  }
  auto n = [&](const char* option) { return std::atol(v[option].c_str()); };
  const Options o{v["--torvan"],
                  v["--host-exe"],
                  v["--sample"],
                  v["--table"],
                  std::atof(v["--minutes"].c_str()),
                  n("--actions"),
                  std::strtoull(v["--seed"].c_str(), nullptr, 10),
                  n("--fault-every"),
                  n("--kill-every"),
                  n("--sql-fault-one-in"),
                  n("--lock-every"),
                  v["--odbc"],
                  keep};
  if (o.torvan.empty() || o.host_exe.empty() || o.sample.empty() || o.table.empty() ||
      (o.minutes <= 0 && o.actions <= 0)) {
    Fail(
        "usage: torvan-soak --torvan EXE --host-exe EXE --sample DIR --table TBL "
        "(--minutes M | --actions N) [--seed S] [--fault-every N] [--kill-every N] "
        "[--sql-fault-one-in N] [--lock-every N] [--odbc DRIVER] [--keep]");
  }
  ::signal(SIGPIPE, SIG_IGN);
  Soak soak(o);
  return soak.Run();
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return SoakMain(argc, argv);
  } catch (const SoakFailure& f) {
    std::fprintf(stderr, "torvan-soak: %s\n", f.why.c_str());
    return 2;
  }
}
