// The control routines and the cycle on fakes: retries, shutdown window, passes, stops.
#include "control/controller.h"

#include <gtest/gtest.h>

#include <deque>

#include "catalogue/catalogue_files.h"
#include "links/runtime_test_util.h"
#include "platform/file.h"

namespace torvan {
namespace {

using std::chrono::milliseconds;
using std::chrono::minutes;

// Links that open as told, steps that did work as listed pass by pass; counting the calls.
struct Fakes final : LinkOps, ReplicationOps, FrontEnd {
  explicit Fakes(Program& p) : program(p) {}
  bool Server_AS_Start() override {
    ++as_starts;
    if (during_start) during_start();
    return program.state.LinkUp = as_ok;
  }
  bool Server_AS_Stop() override {
    ++as_stops;
    program.state.LinkUp = false;
    program.state.Prossimo_Tentativo.reset();
    return true;
  }
  bool Server_SQL_Start_() override {
    ++sql_starts;
    return program.state.Collegato_SQL = sql_ok;
  }
  bool Server_SQL_Stop_() override {
    program.state.Collegato_SQL = false;
    return true;
  }
  bool Server_SQL_Sincro() override {
    ++sincro;
    if (during_sincro) during_sincro();
    return Next(host_work);
  }
  bool Server_SQL_Ritorno() override {
    ++ritorno;
    return Next(sql_work);
  }
  static bool Next(std::deque<bool>& work) {
    const bool did = !work.empty() && work.front();
    if (!work.empty()) work.pop_front();
    return did;
  }
  void Bar_Imposta() override {}
  void EndProgram(int status, const std::string& why) override {
    ended.push_back(status);
    reason = why;
  }

  Program& program;
  bool as_ok = true, sql_ok = true;
  int as_starts = 0, as_stops = 0, sql_starts = 0, sincro = 0, ritorno = 0;
  std::function<void()> during_start, during_sincro;
  std::deque<bool> host_work, sql_work;
  std::string reason;
  std::vector<int> ended;
};

class ControllerTest : public testing::RuntimeTest {
 protected:
  ControllerTest() : RuntimeTest(true) {
    Parametri& p = program_.settings.parametri;
    p.Nome_Connessione = "sysorig";
    p.Ciclo_Sincronizz = 1000;
    p.Attesa_Dopo_Start = 30;
    p.Attesa_Prima_Stop = 15;
    program_.settings.Margine_Start = 30.0f / 1440;
    program_.settings.Margine_Stop = 15.0f / 1440;
    program_.settings.Indirizzo_Host = 0x0100007F;
    control_.ping = [this](int32_t, int32_t timeout, uint32_t address) {
      pinged_.push_back(address);
      hostlink::PingResult r;
      r.failed = !(address == program_.settings.Indirizzo_Host ? host_answers_ : sql_answers_);
      if (no_ping_) r = {"", timeout, true, hostlink::kIcmpNoPermission};
      return r;
    };
    control_.probe = [this](uint32_t address, int32_t port, int32_t) {
      probed_.push_back(port);
      return (address == program_.settings.Indirizzo_Host ? host_answers_ : sql_answers_) &&
             port != closed_port_;
    };
    control_.options.pause_before_end = milliseconds(5000);
  }
  // The database catalogue of `n` databases, all at 127.0.0.2.
  void Databases(int n) {
    std::vector<DataBase_Rec> dbs;
    for (int i = 1; i <= n; ++i) {
      dbs.push_back(
          {"DB" + std::to_string(i), "SQLSRV0" + std::to_string(i), "127.0.0.2", "", "", ""});
    }
    ASSERT_TRUE(WriteRecords(program_.paths.database_catalogue, dbs).ok());
  }
  // Both links up and replication active, as after the Server and Timer buttons.
  void Replicating() {
    control_.Server__Start(true);
    ASSERT_TRUE(program_.state.LinkUp && program_.state.Collegato_SQL);
    control_.TimerButton();
    ASSERT_EQ(StatoSincronismo::kAttivo, program_.state.Stato_Sincronismo);
    lines_.clear();
  }
  Fakes fake_{program_};
  Controller control_{program_, fake_, fake_, timers_, fake_};
  bool host_answers_ = true, sql_answers_ = true;
  bool no_ping_ = false;  // this process may not ping
  int32_t closed_port_ = 0;
  std::vector<uint32_t> pinged_;
  std::vector<int32_t> probed_;
};

// A manual start logs every step in order; a silent destination stops the host link again.
// Without the right to ping, presence is a TCP connection (FTP, link, SQL Server port).
TEST_F(ControllerTest, AManualStartLogsEveryStepAndASilentDestinationStopsEverything) {
  EXPECT_TRUE(control_.Server__Verifica(false, true));
  EXPECT_TRUE(pinged_.empty());
  Databases(2);
  control_.Server__Start(true);
  EXPECT_EQ((std::vector<std::string>{
                "Server sorgente sysorig presente", "Collegamento al Server sysorig in corso ...",
                "Collegamento al Server sysorig completato",
                "Server destinatario 127.0.0.2/SQLSRV01 presente",
                "Server destinatario 127.0.0.2/SQLSRV02 presente",
                "Collegamento ai DataBase SQL in corso ...", "DataBase SQL collegati"}),
            lines_);
  EXPECT_TRUE(program_.state.LinkUp && program_.state.Collegato_SQL);
  EXPECT_EQ(3u, pinged_.size());
  control_.Server__Stop(true);
  lines_.clear();
  sql_answers_ = false;
  control_.Server__Start(true);
  EXPECT_TRUE(Has("Server destinatario 127.0.0.2/SQLSRV01 NON PRESENTE"));
  EXPECT_FALSE(Has("Collegamento ai DataBase SQL in corso ..."));
  EXPECT_EQ(std::tuple(2, false), std::tuple(fake_.as_stops, program_.state.LinkUp));

  Databases(1);
  sql_answers_ = no_ping_ = true;
  program_.settings.parametri.Porta_FTP = 21;
  program_.settings.parametri.Porta = 4200;
  closed_port_ = 21;
  control_.Server__Start(true);
  EXPECT_EQ((std::vector<int32_t>{21, 4200, kSqlServerPort}), probed_);
  EXPECT_EQ(1, CountLines("Verifica con ping non possibile: manca il permesso (CAP_NET_RAW oppure "
                          "net.ipv4.ping_group_range); la presenza dei server si verifica con una "
                          "connessione TCP"));
  EXPECT_EQ(std::pair(2, 1),
            std::pair(CountLines("Server sorgente sysorig presente"),
                      CountLines("Server destinatario 127.0.0.2/SQLSRV01 presente")));
  EXPECT_TRUE(program_.state.LinkUp && program_.state.Collegato_SQL);
  control_.Server__Stop(true);
  lines_.clear();
  host_answers_ = false;
  EXPECT_FALSE(control_.Server__Verifica(true, false));
  EXPECT_EQ(std::vector<std::string>{"Server sorgente sysorig NON PRESENTE"}, lines_);
}

TEST_F(ControllerTest, AFailedHostLinkEndsTheProgramUnlessAStopEndedTheAttempts) {
  fake_.as_ok = false;
  fake_.during_start = [&] { program_.state.Stop_Richiesto = true; };
  control_.Server__Start(true);
  EXPECT_TRUE(Has("Collegamento al Server sysorig interrotto"));
  EXPECT_FALSE(Has("ERRORE nel collegamento al server sysorig"));
  EXPECT_TRUE(fake_.ended.empty());
  fake_.during_start = nullptr;
  program_.state.Stop_Richiesto = false;
  control_.Server__Start(true);
  EXPECT_TRUE(Has("ERRORE nel collegamento al server sysorig"));
  EXPECT_EQ(std::tuple(std::vector<int>{kExitHostLinkFailed},
                       "ERRORE nel collegamento al server sysorig", milliseconds(5000), true),
            std::tuple(fake_.ended, fake_.reason, pump_.slept, program_.state.Fine_Richiesta));
}

TEST_F(ControllerTest, AutomaticStartNeedsTwoAnswersAttesaRiprovaApart) {
  program_.settings.Attesa_Riprova = 30;
  control_.Server__Start(false);
  EXPECT_EQ((std::vector<std::string>{"Server sorgente sysorig presente",
                                      "Prossimo tentativo  05/12/26  14:35:09"}),
            lines_);
  EXPECT_EQ(1, program_.state.Tentativi);
  lines_.clear();
  clock_.Advance(minutes(29));
  control_.Server__Start(false);  // not due: nothing at all, not even a ping
  EXPECT_EQ(std::pair(size_t(0), size_t(1)), std::pair(lines_.size(), pinged_.size()));
  clock_.Advance(minutes(1));
  host_answers_ = false;
  control_.Server__Start(false);
  EXPECT_EQ(0, program_.state.Tentativi);
  EXPECT_TRUE(Has("Server sorgente sysorig NON PRESENTE"));
  EXPECT_TRUE(Has("Prossimo tentativo  05/12/26  15:05:09"));
  host_answers_ = true;
  clock_.Advance(minutes(30));
  control_.Server__Start(false);  // the first answer again
  EXPECT_EQ(std::tuple(1, 0), std::tuple(program_.state.Tentativi, fake_.as_starts));
  clock_.Advance(minutes(30));
  control_.Server__Start(false);
  EXPECT_TRUE(Has("Collegamento al Server sysorig in corso ..."));
  EXPECT_EQ(std::tuple(false, true, true),
            std::tuple(program_.state.Prossimo_Tentativo.has_value(), program_.state.LinkUp,
                       program_.state.Collegato_SQL));
}

// With Attesa_Restart the start wait is not added to the restart (the restart mode's retries).
TEST_F(ControllerTest, TheStopOfTheShutdownWindowLogsTheExpectedRestart) {
  Replicating();
  program_.settings.parametri.Attesa_Restart = 1;
  program_.state.HostStopTime = "20261205141000";  // now is 05/12/2026 14:05:09
  program_.state.HostRestartTime = "20110301063000";
  control_.Server__Stop(false);
  EXPECT_EQ((std::vector<std::string>{
                "SINCRONISMO fermato ...", "Scollegamento del Server sysorig in corso ...",
                "Scollegamento del Server sysorig completato",
                "Scollegamento dei DataBase SQL in corso ...", "DataBase SQL scollegati",
                "Ripartenza prevista il 01/03/11  06:30:00"}),
            lines_);
  EXPECT_EQ(StatoSincronismo::kSospeso, program_.state.Stato_Sincronismo);
  EXPECT_EQ("", program_.stats.Stat_Testi[kHostStopText]);
}

// The Timer button starts passes one interval later and stops at once; work repeats a pass.
// A stop asked for inside a pass is carried out after the step running; a second tick refused.
TEST_F(ControllerTest, TheTimerButtonStartsPassesThatRepeatWhileThereIsWork) {
  control_.Server__Start(true);
  control_.TimerButton();
  EXPECT_TRUE(Has("SINCRONISMO avviato ..."));
  timers_.AdvanceBy(milliseconds(999));
  EXPECT_EQ(0, fake_.sincro);
  int inner = 0;
  fake_.during_sincro = [&] {
    if (fake_.sincro == 1) {
      control_.Sincronismo();  // as a second timer message inside the pass would
      inner = fake_.sincro;
    }
  };
  timers_.AdvanceBy(milliseconds(1));
  EXPECT_EQ(std::tuple(1, 1, 1, 0),
            std::tuple(inner, fake_.sincro, fake_.ritorno, program_.state.Ciclo_In_Corso));
  EXPECT_EQ(1u, timers_.pending());  // re-armed
  // Four passes in one tick: the third because the SQL-to-host step did work.
  fake_.host_work = {true, true, false};
  fake_.sql_work = {false, false, true, false};
  timers_.AdvanceBy(milliseconds(1000));
  EXPECT_EQ(std::tuple(5, 5, size_t(1)),
            std::tuple(fake_.sincro, fake_.ritorno, timers_.pending()));

  fake_.host_work = {true, true, true};
  fake_.during_sincro = [&] {
    if (fake_.sincro == 7) control_.TimerButton();  // a click while the step waits
  };
  timers_.AdvanceBy(milliseconds(1000));
  EXPECT_EQ(std::pair(7, 6), std::pair(fake_.sincro, fake_.ritorno));
  EXPECT_EQ(1, CountLines("SINCRONISMO fermato ..."));
  EXPECT_EQ(StatoSincronismo::kSpento, program_.state.Stato_Sincronismo);
  EXPECT_EQ(0u, timers_.pending());  // not re-armed
  EXPECT_FALSE(program_.state.Stop_Richiesto);
  control_.TimerButton();  // on again, then off with no pass running: at once, the timer killed
  control_.TimerButton();
  EXPECT_EQ(std::tuple(StatoSincronismo::kSpento, size_t(0)),
            std::tuple(program_.state.Stato_Sincronismo, timers_.pending()));
  timers_.AdvanceBy(milliseconds(10000));
  EXPECT_EQ(7, fake_.sincro);
}

TEST_F(ControllerTest, TheShutdownWindowSuspendsAndTheRestartResumes) {
  Replicating();
  // 14:05:09 + 15 min is past the stop at 14:15; the restart at 15:00 is ahead.
  program_.state.HostStopTime = "20261205141500";
  program_.state.HostRestartTime = "20261205150000";
  timers_.AdvanceBy(milliseconds(1000));
  EXPECT_TRUE(Has("SINCRONISMO fermato ...") &&
              Has("Ripartenza prevista il 05/12/26  15:00:00 + 30"));
  EXPECT_EQ(std::tuple(StatoSincronismo::kSospeso, false, 0),
            std::tuple(program_.state.Stato_Sincronismo, program_.state.LinkUp, fake_.sincro));
  // Suspended: the timer keeps firing and nothing happens until restart + 30 minutes.
  lines_.clear();
  timers_.AdvanceBy(minutes(60));
  EXPECT_EQ(std::tuple(size_t(1), 1, size_t(0)),
            std::tuple(timers_.pending(), fake_.as_starts, lines_.size()));
  // 15:30:09 is past the restart margin: the next ticks ping twice and connect.
  timers_.AdvanceBy(minutes(26));
  EXPECT_TRUE(Has("SINCRONISMO avviato ..."));
  EXPECT_EQ(std::pair(2, StatoSincronismo::kAttivo),
            std::pair(fake_.as_starts, program_.state.Stato_Sincronismo));
  // An operator command in progress: a tick does nothing but re-arm, a second command waits.
  Busy busy(program_.state);
  ASSERT_TRUE(busy.entered());
  EXPECT_FALSE(Busy(program_.state).entered());
  const int passes = fake_.sincro;
  timers_.AdvanceBy(milliseconds(3000));
  EXPECT_EQ(std::pair(passes, size_t(1)), std::pair(fake_.sincro, timers_.pending()));
}

TEST_F(ControllerTest, SuspendedEachTickMakesOneConnectionAttemptTheSecondToFindTheHost) {
  program_.state.Stato_Sincronismo = StatoSincronismo::kSospeso;
  fake_.sql_ok = false;  // the host link opens, the databases do not
  host_answers_ = false;
  control_.Timer_Avvia(1000);
  timers_.AdvanceBy(milliseconds(3000));
  EXPECT_EQ(3, CountLines("Server sorgente sysorig NON PRESENTE"));
  EXPECT_FALSE(program_.state.Prossimo_Tentativo.has_value());
  host_answers_ = true;
  timers_.AdvanceBy(milliseconds(1000));  // pings, schedules
  EXPECT_TRUE(Has("Server sorgente sysorig presente"));
  EXPECT_TRUE(Has("Prossimo tentativo  05/12/26  14:05:13"));
  EXPECT_EQ(0, fake_.as_starts);
  timers_.AdvanceBy(milliseconds(1000));  // connects
  EXPECT_EQ(std::pair(1, 1), std::pair(fake_.as_starts, fake_.sql_starts));
  EXPECT_TRUE(Has("ERRORE nel collegamento ai DataBase SQL"));
  EXPECT_EQ(0, fake_.sincro);
  timers_.AdvanceBy(milliseconds(1000));  // starts over: ping, schedule
  timers_.AdvanceBy(milliseconds(1000));  // connects again
  EXPECT_EQ(2, fake_.sql_starts);
}

}  // namespace
}  // namespace torvan
