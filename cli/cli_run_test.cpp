// torvan run, pending and status against torvan-host, SIGKILL at chosen instants.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "cli/cli_test_util.h"
#include "control/status_test_util.h"
#include "core/text.h"
#include "hostlink/test_peer.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "replication/testing/host_process.h"
#include "replication/testing/mirror_compare.h"
#include "sql/connection.h"

namespace torvan {
namespace {

namespace fs = std::filesystem;
using testing::HostProcess;
using testing::ProcessResult;

using testing::Count;
using testing::Has;
using testing::Messages;
using testing::Missing;
using testing::ReadText;

class RunTest : public testing::TorvanFolderTest {
 protected:
  void SetUp() override {
    fs::copy(TORVAN_SAMPLE_HOST, host_dir_, fs::copy_options::recursive);
    for (const auto& e : fs::directory_iterator(host_dir_ + "/records")) {
      ASSERT_TRUE(platform::WriteFileAtomic(e.path(), "", 0644).ok());
    }
    fs::create_directories(pc_ + "/immagini");
    ASSERT_TRUE(host_.WriteTable(pc_ + "/TnC_TBL1.Tbl").ok());
    Status s = host_.Start(folder_ / "host.log");
    ASSERT_TRUE(s.ok()) << s.message();
    for (const std::string& command : std::vector<std::string>{
             "settings --standard",
             "settings set Nome_Connessione=127.0.0.1 Utente=utente Password=Torvan1 Porta_FTP=" +
                 std::to_string(host_.ftp_port()) + " Porta=" + std::to_string(host_.host_port()) +
                 " Attesa_Sincronizz=1 Ciclo_Sincronizz=500 Attesa_Dopo_Start=0 "
                 "Attesa_Prima_Stop=0 Log_PC_AS=S",
             "catalogue", "build all --yes"}) {
      ProcessResult r = Run(command);
      ASSERT_EQ(0, r.exit_code) << command << ": " << r.out << r.err;
    }
  }
  void TearDown() override {
    if (run_pid_ > 0) {
      ::kill(run_pid_, SIGKILL);
      (void)testing::WaitProcess(run_pid_);
    }
  }

  // `torvan run` in the background, its output in run.log; returns once `line` is logged.
  void StartRun(const std::string& line = "SINCRONISMO avviato ...") {
    (void)platform::RemoveFile(RunLogPath());
    ASSERT_TRUE(
        testing::StartProcess({TORVAN_EXE, "--dir", pc_, "run"}, {}, RunLogPath(), &run_pid_).ok());
    ASSERT_TRUE(AwaitRunLine(line)) << RunLog();
  }
  // The messages of run.log that start with `start`.
  int RunLines(const std::string& start) const {
    int n = 0;
    for (const std::string& l : Messages(RunLog())) n += l.rfind(start, 0) == 0;
    return n;
  }
  // Whether `done()` comes true within `seconds`, asked every 20 ms.
  static bool Within(int seconds, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      if (std::chrono::steady_clock::now() > deadline) return false;
    }
    return true;
  }
  bool AwaitRunLine(const std::string& start, int seconds = 20) {
    return Within(seconds, [&] { return RunLines(start) > 0; });
  }
  ProcessResult StopRun() {
    ::kill(run_pid_, SIGTERM);
    ProcessResult r = testing::WaitProcess(run_pid_);
    run_pid_ = -1;
    r.out = RunLog();
    return r;
  }
  std::string RunLogPath() const { return folder_ / "run.log"; }
  std::string RunLog() const { return ReadText(RunLogPath()); }

  std::string Ctl(const std::vector<std::string>& args) {
    ProcessResult r = host_.Ctl(args);
    EXPECT_EQ(0, r.exit_code) << args[0] << ": " << r.err << r.out;
    return r.out;
  }

  // A connection to database GESTIONALE, as a user's or an application's.
  std::unique_ptr<sql::Connection> Gestionale() {
    sql::ConnectionParams params;
    params.database = "GESTIONALE";
    params.base_folder = pc_;
    std::unique_ptr<sql::Connection> c = sql::NewConnection(params);
    EXPECT_TRUE(c->Open().ok());
    return c;
  }
  // A statement on database GESTIONALE, as a user or an application writes it.
  void Sql(const std::string& statement, bool native = false) {
    std::unique_ptr<sql::Connection> c = Gestionale();
    Status s = native ? c->ExecuteNative(statement) : c->Execute(statement);
    ASSERT_TRUE(s.ok()) << statement << ": "
                        << (c->Errors().empty() ? s.message() : c->Errors().front().description);
  }

  // `torvan status` until `done(result)` (at most 30 s); the last result.
  ProcessResult StatusUntil(const std::function<bool(const ProcessResult&)>& done) {
    ProcessResult r;
    (void)Within(30, [&] { return done(r = Torvan({"status"})); });
    return r;
  }

  std::vector<std::string> Differences() {
    std::vector<std::string> out;
    Status s = testing::CompareFolder(pc_, host_, {}, &out);
    if (!s.ok()) out.push_back(s.message());
    return out;
  }

  const std::string host_dir_ = folder_ / "host";
  HostProcess host_{TORVAN_HOST_EXE, host_dir_, 23};
  pid_t run_pid_ = -1;
};

const std::vector<std::string> kStopLines = {"SINCRONISMO fermato ...",
                                             "Scollegamento del Server 127.0.0.1 in corso ...",
                                             "Scollegamento del Server 127.0.0.1 completato",
                                             "Scollegamento dei DataBase SQL in corso ...",
                                             "   DataBase SQLSRV01/GESTIONALE scollegato",
                                             "   DataBase SQLSRV01/ARCHIVIO scollegato",
                                             "DataBase SQL scollegati"};

// The last lines of `out`'s messages, as many as kStopLines has.
std::vector<std::string> Tail(const std::string& out) {
  const std::vector<std::string> lines = Messages(out);
  const size_t n = std::min(kStopLines.size(), lines.size());
  return std::vector<std::string>(lines.end() - ptrdiff_t(n), lines.end());
}

TEST_F(RunTest, OnceExitsZeroWhenDrainedSigtermLetsTheChangeFinishOneWhenNoLink) {
  Ctl({"insert", "DATI/CLIENTI", "CODCLI=C01"});
  Sql("INSERT INTO [CONTATTI] ([CODCLI]) VALUES('S01')");
  // In SQLite's own words, as an application would: numbers as numbers, the lowest BIGINT.
  Sql("INSERT INTO \"CONTATTI\" (\"CODCLI\",\"NOTA\",\"VALORE\",\"RIFEST\") "
      "VALUES ('S02','a mano, l''ora',-12.5,-9223372036854775808)",
      true);
  ProcessResult r = Torvan({"run", "--once"});
  EXPECT_EQ(0, r.exit_code) << r.out << r.err;
  const std::vector<std::string> lines = Messages(r.out);
  for (const char* line :
       {"AS--> DATI/CLIENTI ADD RRN:1 IDX:0", "AS<-- DATI/CONTATTI ADD RRN:0 IDX:1",
        "AS<-- DATI/CONTATTI ADD RRN:0 IDX:2"}) {
    EXPECT_EQ(1, Count(lines, line)) << line;
  }
  EXPECT_TRUE(Has(Ctl({"dump", "DATI/CONTATTI"}),
                  "2\tCODCLI=S02\tDATA=00000000\tNOMINATIVO=\tTELEFONO=\tNOTA=a mano, l'ora\t"
                  "ESITO=\tVALORE=-00000000000012.500\t\xC2\xA7_T_IDX___=2\tPUNTI=0\tVISITE=0\t"
                  "RIFEST=-9223372036854775808\n"));
  EXPECT_EQ(kStopLines, Tail(r.out));

  // The operator's stop during a pass: the change under way applied whole, the rest waits.
  Ctl({"generate", "DATI/CONTATTI", "200", "7"});
  Ctl({"fault", "delay", "30"});
  StartRun();
  ASSERT_TRUE(AwaitRunLine("AS--> DATI/CONTATTI ADD RRN:")) << RunLog();
  r = StopRun();
  EXPECT_EQ(0, r.exit_code) << r.out;
  EXPECT_EQ(kStopLines, Tail(r.out)) << r.out;
  EXPECT_FALSE(Has(r.out, "Errore")) << r.out;
  EXPECT_NE("0\n", Ctl({"queue"}));
  Expect("pending", 0);
  Ctl({"fault", "clear"});
  Expect("run --once", 0);
  EXPECT_EQ(std::vector<std::string>{}, Differences());

  // A source server that is not there (a name the hosts file does not know).
  Expect("settings set Nome_Connessione=host.assente", 0);
  Expect("run --once", 1, {" - Server sorgente host.assente NON PRESENTE\n"});
  Expect("run", 1);
}

TEST_F(RunTest, AHeldChangeIsListedSetAsideAndNeverAppliedMissingTablesNamedOnce) {
  Ctl({"insert", "DATI/CLIENTI", "CODCLI=C01"});
  Expect("run --once", 0);
  Sql("DROP TABLE \"CLIENTI\"", true);
  Sql("DROP TABLE \"_T_MASTER___\"", true);
  Ctl({"insert", "DATI/CLIENTI", "CODCLI=C02", "RAGSOC=Caff\xC3\xA8 O'Brien"});
  Ctl({"insert", "DATI/ARTICOLI", "CODART=VITE"});
  ProcessResult r =
      Expect("run --once", 3,
             {" - [Server_SQL_Sincro] Modifica trattenuta: DATI/CLIENTI codice 1 RRN 2: "});
  EXPECT_FALSE(Has(r.out, "AS--> DATI/ARTICOLI"));
  Expect("pending", 3,
         {"Modifica trattenuta: DATI/CLIENTI codice 1 RRN 2 IDX 0\n", ", tentativi 1\n",
          "  ultimo errore: ",
          "  dopo:  RAGSOC=" + Cp1252ToUtf8(PadRight("Caff\xE8 O'Brien", 40)) + "\n"});

  // Not while a Torvan works in the folder.
  StartRun();
  Expect("pending --set-aside", 1, {"TnC_PENDENTI.DAT \xC3\xA8 in uso da un altro Torvan"});
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  r = StopRun();
  EXPECT_EQ(0, r.exit_code);
  EXPECT_EQ(1, RunLines("[Server_SQL_Ritorno] Manca la tabella GESTIONALE/_T_MASTER___: la crea "
                        "torvan events (o torvan build all, se mancano anche le tabelle dei "
                        "file)"))
      << r.out;
  EXPECT_EQ(1, RunLines("[Server_SQL_Sincro] Manca la tabella GESTIONALE/CLIENTI: la crea torvan "
                        "build 1"))
      << r.out;
  EXPECT_EQ(2, Count(Messages(r.out), "Totale errori  : 1")) << r.out;
  EXPECT_GE(RunLines("[Server_SQL_Sincro] Modifica trattenuta: DATI/CLIENTI codice 1 RRN 2: "
                     "Invalid object name 'CLIENTI'."),
            2)
      << r.out;
  Expect("events --yes", 0);  // as the line says
  Expect("pending --set-aside", 0, {"Accantonata in " + pc_ + "/TnC_ACCANTONATI.Log\n"});
  const std::string record = ReadText(pc_ + "/TnC_ACCANTONATI.Log");
  EXPECT_EQ(0u, record.find("Accantonata il ")) << record;
  EXPECT_EQ("", Missing(record, {"\r\nModifica trattenuta: DATI/CLIENTI codice 1 RRN 2 IDX 0\r\n",
                                 "\r\n  byte: "}));
  Expect("pending", 0, {"Nessuna modifica trattenuta\n"});
  r = Expect("run --once", 0);
  EXPECT_EQ(1, Count(Messages(r.out), "AS--> DATI/ARTICOLI ADD RRN:1 IDX:0")) << r.out;
  EXPECT_FALSE(Has(r.out, "AS--> DATI/CLIENTI") || Has(r.out, "Modifica trattenuta")) << r.out;
  EXPECT_EQ("0\n", Ctl({"queue"}));
}

TEST_F(RunTest, StatusAndMetricsFollowARunningTorvanThatOtherCommandsLeaveAlone) {
  ProcessResult r = Torvan({"status"});
  EXPECT_EQ(std::tuple(1, "Torvan non \xC3\xA8 in esecuzione in " + pc_ +
                              ": nessun file di stato " + pc_ + "/TnC_STATO.DAT\n"),
            std::tuple(r.exit_code, r.out));
  const int port = hostlink::testing::ClosedPort();
  Expect("settings set Metriche=" + std::to_string(port), 0);
  const std::string ini = ReadText(pc_ + "/TnC.INI");
  StartRun();
  r = StatusUntil([](const ProcessResult& s) {
    return s.exit_code == 0 && Has(s.out, "\nSincronismo: attivo (4)\n");
  });
  ASSERT_EQ(0, r.exit_code) << r.out << r.err;
  EXPECT_EQ(0u, r.out.find("Torvan in esecuzione\nProgramma: torvan run (pid " +
                           std::to_string(run_pid_) + ")"))
      << r.out;

  const std::string refusal = "torvan: un altro Torvan lavora in questa cartella (pid " +
                              std::to_string(run_pid_) + ", torvan run): fermarlo prima\n";
  for (const std::vector<std::string>& command :
       std::vector<std::vector<std::string>>{{"build", "1", "--yes"},
                                             {"drop", "1", "--yes"},
                                             {"events", "--yes"},
                                             {"catalogue"},
                                             {"settings", "set", "Porta_FTP=21"},
                                             {"settings", "--standard"}}) {
    r = Torvan(command);
    EXPECT_EQ(std::tuple(1, refusal, ""), std::tuple(r.exit_code, r.err, r.out)) << command[0];
  }
  EXPECT_EQ(0u, Expect("run --once", 1).err.find("torvan: un altro Torvan lavora nella cartella "));
  EXPECT_EQ(ini, ReadText(pc_ + "/TnC.INI"));
  Expect("files", 0);  // reading is fine

  // A host change is applied: the status and the metrics follow (every sample: metrics text).
  Ctl({"insert", "DATI/CLIENTI", "CODCLI=X9", "RAGSOC=Prova"});
  r = StatusUntil([](const ProcessResult& s) {
    return Has(s.out, "\nUltima modifica dall'host applicata: ") &&
           !Has(s.out, "nessuna dall'avvio");
  });
  EXPECT_EQ("", Missing(r.out, {"\nRicevuti ", "  DATI        CLIENTI\n"}));
  const std::string got = AskLocal(port, "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 10);
  std::map<std::string, double> m = Samples(HttpBody(got));
  EXPECT_EQ(std::tuple(1, 1), std::tuple(m["torvan_records_received_total"],
                                         m["torvan_replication_state{state=\"active\"}"]));

  // A change on the SQL side reaches the host: the row of what was sent names its file.
  Sql("INSERT INTO [CONTATTI] ([CODCLI],[NOTA]) VALUES('X9','nota')");
  const std::initializer_list<std::string> sent = {"  DATI        CONTATTI\n",
                                                   "\nDatabase 1 GESTIONALE: 0 eventi in attesa"};
  r = StatusUntil([&](const ProcessResult& s) { return Missing(s.out, sent).empty(); });
  EXPECT_EQ("", Missing(r.out, sent));

  // SIGTERM while idle: the stop lines, exit 0; `torvan status` says so at once, exit 1.
  const ProcessResult stopped = StopRun();
  EXPECT_EQ(0, stopped.exit_code) << stopped.out;
  EXPECT_EQ(kStopLines, Tail(stopped.out)) << stopped.out;
  r = Expect("status", 1, {"\nCollegamento host: chiuso\n"});
  EXPECT_EQ(0u, r.out.find("Torvan non \xC3\xA8 in esecuzione: terminato il ")) << r.out;
  EXPECT_EQ(std::vector<std::string>{}, Differences());
}

// SIGKILL at each point, then a restart: every record mirrored once, every SQL change sent once.
TEST_F(RunTest, AKillAtAnyInstantLosesNothingAndAppliesNothingTwice) {
  const std::vector<std::string> points = {
      "change-received@2",  "change-journaled@1", "change-journaled@3", "change-applied@3",
      "position-written@1", "position-written@2", "batch-committed@1",  "journal-advanced@1",
      "image-chunk@1",      "event-marked@1",     "event-answered@1",   "event-answered@3",
      "event-answered@2",   "event-removed@1"};
  // An update of a row gone on the host is sent as an insert: not inserted twice after a kill.
  Expect("settings set Conflitti=PC", 0);
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=H0"});
  Expect("run --once", 0);
  Ctl({"delete", "DATI/CONTATTI", "1"});
  Sql("UPDATE [CONTATTI] SET [NOTA]='ancora' WHERE [_T_RRN___]=1");
  EXPECT_EQ(SIGKILL, Torvan({"run", "--once"}, {"TORVAN_TEST_KILL_AT=event-answered@1"}).signal);
  Expect("run --once", 0);
  EXPECT_EQ(
      "2\tCODCLI=H0\tDATA=00000000\tNOMINATIVO=\tTELEFONO=\tNOTA=ancora\tESITO=\t"
      "VALORE=00000000000000.000\t\xC2\xA7_T_IDX___=1\tPUNTI=0\tVISITE=0\tRIFEST=0\n",
      Ctl({"dump", "DATI/CONTATTI"}));

  // H0 (record 2) is updated on the host, Q on the SQL side: no record changed on both sides.
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=Q"});
  Expect("run --once", 0);
  int round = 0;
  for (const std::string& point : points) {
    SCOPED_TRACE(point);
    const std::string n = std::to_string(++round);
    Ctl({"insert", "DATI/CONTATTI", "CODCLI=H" + n, "NOTA=l'ora", "VALORE=-1.5"});
    Ctl({"update", "DATI/CONTATTI", "2", "NOTA=giro " + n});
    Ctl({"insert", "DATI/CLIENTI", "CODCLI=C" + n});
    Ctl({"insert", "DATI/TNP_ARC_0F", "CHIAVE=PIANTA0003", "PARTI=1", "TIPO=3"});
    Sql("INSERT INTO [CONTATTI] ([CODCLI],[NOTA]) VALUES('S" + n + "','nuovo')");
    Sql("UPDATE [CONTATTI] SET [NOTA]='giro " + n + "' WHERE [CODCLI]='Q'");
    Sql("DELETE FROM [CONTATTI] WHERE [CODCLI]='S" + std::to_string(round - 1) + "'");
    ProcessResult killed = Torvan({"run", "--once"}, {"TORVAN_TEST_KILL_AT=" + point});
    EXPECT_EQ(SIGKILL, killed.signal) << killed.out;
    if (point.rfind("event-", 0) == 0) {
      // The operator sees the event whose status may have been lost.
      EXPECT_TRUE(Has(Torvan({"pending"}).out, "Evento in volo: database 1 CONTATTI___ PROGR="));
    }
    EXPECT_FALSE(Has(Expect("run --once", 0).out, "Istruzione rifiutata"));
    EXPECT_EQ(std::vector<std::string>{}, Differences());
    EXPECT_EQ(ReadText(host_dir_ + "/images/PIANTA0003.00001"),
              ReadText(pc_ + "/immagini/PIANTA000300001.BMP"));
  }
  EXPECT_FALSE(platform::FileExists(pc_ + "/TnC_RIFIUTATI.Log"));
}

TEST_F(RunTest, AWriteLockHeldOnThePcIsAWaitToldOnceThatLosesNothing) {
  Ctl({"insert", "DATI/CLIENTI", "CODCLI=C01"});
  Expect("run --once", 0);
  Sql("INSERT INTO [CONTATTI] ([CODCLI]) VALUES('S01')");
  std::unique_ptr<sql::Connection> lock = Gestionale();
  ASSERT_TRUE(lock->ExecuteNative("BEGIN IMMEDIATE").ok());
  StartRun();
  // A clear first: it is not acknowledged before its table is rebuilt.
  Ctl({"clear", "DATI/CLIENTI"});
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=H01"});
  const std::string host_wait =
      "[Server_SQL_Sincro] In attesa del lock su GESTIONALE/CLIENTI: modifica DATI/CLIENTI "
      "codice 4 RRN 0 (database is locked)";
  const std::string event_wait =
      "[Server_SQL_Ritorno] In attesa del lock su GESTIONALE: evento DATI/CONTATTI EVENTO=I "
      "RRN=0 IDX=1 eseguito dall'host (database is locked)";
  EXPECT_TRUE(AwaitRunLine(host_wait, 8) && AwaitRunLine(event_wait, 8)) << RunLog();
  std::this_thread::sleep_for(std::chrono::seconds(3));  // tries meanwhile
  Expect("status", 0,
         {"\nIn corso: in attesa del lock su GESTIONALE/CLIENTI: modifica DATI/CLIENTI codice 4 "
          "RRN 0",
          "; in attesa del lock su GESTIONALE: evento DATI/CONTATTI"});
  EXPECT_TRUE(Has(Torvan({"pending"}).out, "Modifica trattenuta: DATI/CLIENTI codice 4 RRN 0"));
  ASSERT_TRUE(lock->ExecuteNative("COMMIT").ok());
  ASSERT_TRUE(AwaitRunLine("AS<-- DATI/CONTATTI ADD RRN:0 IDX:1")) << RunLog();
  (void)AwaitRunLine("AS--> DATI/CONTATTI ADD RRN:", 8);
  const ProcessResult r = StopRun();
  for (const std::string& line :
       {host_wait, event_wait, std::string("AS--> DATI/CONTATTI ADD RRN:"),
        std::string("AS--> DATI/CLIENTI CLEAR"),
        std::string("[Server_SQL_Sincro] Modifica DATI/CLIENTI codice 4 RRN 0 applicata dopo "),
        std::string("[Server_SQL_Ritorno] Lock su GESTIONALE rilasciato dopo ")}) {
    EXPECT_EQ(1, RunLines(line)) << line << "\n" << r.out;
  }
  EXPECT_FALSE(Has(r.out, "Errore Numero")) << r.out;
  EXPECT_EQ(std::vector<std::string>{}, Differences());
}

}  // namespace
}  // namespace torvan
