// Replication end to end: torvan-host serving a copy of the sample host (records emptied, so
// host and mirror start alike) in a temporary folder, and the two steps in-process on a
// Runtime linked to it, the mirror in SQLite or (postgres_) a PostgreSQL server.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/settings.h"
#include "links/link_control.h"
#include "links/sql_control.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "replication/host_to_sql.h"
#include "replication/pending.h"
#include "replication/sql_to_host.h"
#include "replication/testing/host_process.h"
#include "replication/testing/mirror_compare.h"
#include "schema/operations.h"
#include "sql/postgres_test_server.h"
#include "sql/test_support.h"

namespace torvan::testing {

// The freedoms torvan-host takes (table header, unread positions, refusals, FTP texts) come
// from a seed Torvan must not depend on: 17, or TORVAN_HOST_SEED.
inline uint64_t HostSeed() {
  const char* seed = std::getenv("TORVAN_HOST_SEED");
  return seed != nullptr ? std::strtoull(seed, nullptr, 10) : 17;
}

// The catalogue of the sample host, in order.
inline constexpr int kClienti = 1, kArticoli = 2, kOrdini = 3, kContatti = 4, kArchivio = 5;
inline constexpr int kGestionale = 1, kArchivioDb = 2;

class AnswerOk final : public Confirmations {
 public:
  void ShowRefusal(Owner, std::string_view, std::string_view) override {}
  bool AskOkCancel(Owner, std::string_view, std::string_view, int64_t) override { return true; }
};

using Table = std::vector<std::vector<std::string>>;

inline int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}
using Lines = std::vector<std::string>;

class EndToEndTest : public ::testing::Test {
 protected:
  explicit EndToEndTest(bool postgres = false)
      : postgres_(postgres),
        pc_(folder_ / "pc"),
        host_dir_(folder_ / "host"),
        host_(TORVAN_HOST_EXE, host_dir_, HostSeed()),
        program_(Paths::InFolder(pc_), platform::SystemClock(), platform::ConsolePump()),
        rt_(program_) {
    MakeSteps();
  }

  void SetUp() override {
    if (postgres_) {
      SKIP_WITHOUT_POSTGRES();
    }
    namespace fs = std::filesystem;
    fs::copy(TORVAN_SAMPLE_HOST, host_dir_, fs::copy_options::recursive);
    for (const auto& e : fs::directory_iterator(host_dir_ + "/records")) {
      ASSERT_TRUE(platform::WriteFileAtomic(e.path(), "", 0644).ok());
    }
    EditHost();
    fs::create_directories(pc_ + "/immagini");
    Status s = host_.WriteTable(pc_ + "/TnC_TBL1.Tbl");
    ASSERT_TRUE(s.ok()) << s.message();
    s = host_.Start(folder_ / "host.log");
    ASSERT_TRUE(s.ok()) << s.message();

    Parametri& p = program_.settings.parametri;
    p.Nome_Connessione = "127.0.0.1";
    p.Porta = host_.host_port();
    p.Libreria = "";  // the host server program already listens: no FTP step
    p.Attesa_Sincronizz = 1;
    p.Log_PC_AS = true;
    program_.log.on_status_line = [this](std::string_view l) { lines_.emplace_back(l.substr(11)); };
    rt_.link.attempts = 3;
    rt_.link.pause_steps = 1;
    rt_.link.pause_step = std::chrono::milliseconds(10);
    rt_.link.after_load = std::chrono::milliseconds(0);
    if (postgres_) {
      ASSERT_NO_FATAL_FAILURE(UsePostgres());
    }
    ASSERT_TRUE(Connect());
    ASSERT_EQ(5, rt_.catalogue.N_File);
    Schema schema{program_, rt_.catalogue, rt_.connessioni, confirmations_};
    for (int n = 1; n <= rt_.catalogue.N_File; ++n) Crea_File(schema, n);
    lines_.clear();
  }

  // Changes the host's data folder before the host starts.
  virtual void EditHost() {}
  // Replaces the flags `from` of a DATI file's line in the host's files.txt with `to`.
  void EditFile(const std::string& file, const std::string& from, const std::string& to) {
    const std::string files = host_dir_ + "/files.txt";
    std::string text = ReadText(files);
    const size_t at = text.find(from, text.find("DATI | " + file));
    ASSERT_NE(std::string::npos, at) << text;
    text.replace(at, from.size(), to);
    ASSERT_TRUE(platform::WriteFileAtomic(files, text, 0644).ok());
  }
  // The two databases on the test PostgreSQL server, in TnC.INI too for the comparer.
  void UsePostgres() {
    for (const char* db : {"GESTIONALE", "ARCHIVIO"}) {
      std::string why;
      ASSERT_TRUE(sql::testing::PostgresServer::Shared().CreateDatabase(db, &why)) << why;
    }
    program_.settings.sql.Motore = "PostgreSQL";
    program_.settings.sql.Attributi =
        "port=" + std::to_string(sql::testing::PostgresServer::Shared().port()) + ";";
    ASSERT_TRUE(SaveProfileSetting(program_.paths, "Motore", "PostgreSQL").ok());
    ASSERT_TRUE(
        SaveProfileSetting(program_.paths, "Attributi", program_.settings.sql.Attributi).ok());
  }

  bool Connect() { return Server_AS_Start(rt_) && Server_SQL_Start_(rt_); }
  // Both links opened again, as the cycle's next tick does after one broke.
  void Reconnect() {
    (void)Server_AS_Stop(rt_);
    (void)Server_SQL_Stop_(rt_);
    Connect();
  }
  bool LinksUp() const { return program_.state.LinkUp && program_.state.Collegato_SQL; }
  void MakeSteps() {
    pending_ = std::make_unique<Pending>(program_);
    to_sql_ = std::make_unique<HostToSql>(rt_, confirmations_, *pending_);
    to_host_ = std::make_unique<SqlToHost>(rt_, *pending_);
  }
  // A new Torvan on the same folder: the pending file, the database and the host are all
  // that it knows.
  void Restart() {
    to_host_.reset();
    to_sql_.reset();
    pending_.reset();
    Reconnect();
    ASSERT_TRUE(LinksUp());
    MakeSteps();
  }
  bool Held() { return pending_->state().held.has_value(); }

  // Both steps, again while either works, as the cycle runs them, a broken link opened
  // again. Returns the passes made.
  int Drain() {
    int reconnections = 0;
    for (int pass = 1; pass <= 500; ++pass) {
      if (!LinksUp()) {
        if (++reconnections > 20) {
          ADD_FAILURE() << "the link does not come back";
          return pass;
        }
        Reconnect();
        continue;
      }
      const bool received = to_sql_->Server_SQL_Sincro();
      const bool sent = to_host_->Server_SQL_Ritorno();
      if (!received && !sent && program_.state.LinkUp) return pass;
    }
    ADD_FAILURE() << "replication does not come to rest";
    return 500;
  }
  // The operator's build of file n.
  void Build(int n) {
    Schema schema{program_, rt_.catalogue, rt_.connessioni, confirmations_};
    Costruisci_File(schema, Owner::kBrowser, n);
  }

  sql::Connection& Db(int n) { return *rt_.connessioni.at(n); }
  void Exec(const std::string& statement, int db = kGestionale) {
    Status s = Db(db).Execute(statement);
    ASSERT_TRUE(s.ok()) << statement << ": "
                        << (Db(db).Errors().empty() ? s.message()
                                                    : Db(db).Errors().front().description);
  }
  // A PC application: the sqlite3 shell on the database's file; its output (UTF-8).
  std::string Shell(const std::string& sql, const std::string& database = "GESTIONALE") {
    ProcessResult r = RunProcess({"/usr/bin/env", "sqlite3", "-cmd", ".timeout 10000",
                                  pc_ + "/" + database + ".sqlite", sql});
    EXPECT_EQ(0, r.exit_code) << sql << ": " << r.err;
    return r.out;
  }
  // A PC application's statements on GESTIONALE (UTF-8), in the engine of the test.
  void Pc(const std::string& sql) {
    std::string why;
    if (!postgres_) {
      Shell(sql);
    } else {
      ASSERT_TRUE(sql::testing::PostgresServer::Shared().Admin(sql, &why, "GESTIONALE"))
          << sql << ": " << why;
    }
  }
  Table Rows(const std::string& query, int db = kGestionale) {
    return sql::testing::Rows(&Db(db), query);
  }

  // `torvan-host ctl`, which must succeed; its output.
  std::string Ctl(const std::vector<std::string>& args) {
    ProcessResult r = host_.Ctl(args);
    EXPECT_EQ(0, r.exit_code) << args[0] << ": " << r.err << r.out;
    return r.out;
  }
  // The parts of `text` between the `sep`s ("" none).
  static Lines Split(const std::string& text, char sep = ' ') {
    Lines parts;
    for (size_t at = 0; !text.empty() && at <= text.size();) {
      const size_t end = std::min(text.find(sep, at), text.size());
      parts.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    return parts;
  }
  // `ctl fault` with the words of `fault` ("refuse S 1").
  void Fault(const std::string& fault) {
    Lines args = Split(fault);
    args.insert(args.begin(), "fault");
    Ctl(args);
  }

  // What the comparer finds wrong: the files given (all when none) against their host
  // files, and the events not sent back.
  Lines Differences(const std::vector<int>& files = {}) {
    Lines names, out;
    for (int n : files) {
      const FileEntry& f = rt_.catalogue.Tab_File[size_t(n)];
      names.push_back(f.Libreria + "/" + f.File);
    }
    Status s = CompareFolder(pc_, host_, names, &out);
    if (!s.ok()) out.push_back(s.message());
    return out;
  }

  int Count(const std::string& line) const {
    return int(std::count(lines_.begin(), lines_.end(), line));
  }
  // Each of the lines said exactly once.
  void ExpectOnce(const Lines& lines) const {
    for (const std::string& l : lines) EXPECT_EQ(1, Count(l)) << l;
  }
  int CountStarting(const std::string& start) const {
    int n = 0;
    for (const std::string& l : lines_) n += l.rfind(start, 0) == 0;
    return n;
  }
  bool HasLineStarting(const std::string& start) const { return CountStarting(start) > 0; }
  // How many requests of `code` the host logged.
  int HostRequests(char code) {
    return Occurrences(ReadText(folder_ / "host.log"), std::string("request ") + code + " ");
  }

  const bool postgres_;
  platform::TempFolder folder_{"torvan-repl"};
  const std::string pc_, host_dir_;
  HostProcess host_;
  Program program_;
  Runtime rt_;
  AnswerOk confirmations_;
  std::unique_ptr<Pending> pending_;
  std::unique_ptr<HostToSql> to_sql_;
  std::unique_ptr<SqlToHost> to_host_;
  Lines lines_;
};

// The tests that run on both engines: the embedded SQLite and a PostgreSQL server.
enum class Engine { kSqlite, kPostgres };
class EngineTest : public EndToEndTest, public ::testing::WithParamInterface<Engine> {
 protected:
  EngineTest() : EndToEndTest(GetParam() == Engine::kPostgres) {}
};

}  // namespace torvan::testing
