// The status writer on a fake clock over a real SQLite database; it never disturbs the program.
#include "control/status_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "links/runtime_test_util.h"
#include "platform/file.h"
#include "replication/change_record_test_util.h"
#include "schema/columns.h"
#include "schema/objects.h"
#include "schema/statements.h"

namespace torvan {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

class StatusWriterTest : public testing::RuntimeTest {
 protected:
  StatusWriterTest() {
    // Database 1 is sent back (CONTATTI), database 2 is not.
    Catalogue& c = rt_.catalogue;
    c.N_DB = 2;
    c.DB_Ritorno = {false, true, false};
    for (auto [file, db, name] :
         {std::tuple{"CONTATTI", 1, "GESTIONALE"}, std::tuple{"TNP_ARC_0F", 2, "ARCHIVIO"}}) {
      FileEntry f;
      f.Libreria = "DATI";
      f.File = file;
      f.Indice_DB = db;
      f.DataBase = name;
      c.Tab_File.push_back(f);
    }
    c.N_File = 2;
    rt_.connessioni.Resize(2);
  }

  void Connect() {
    sql::ConnectionParams p;
    p.database = "GESTIONALE";
    p.base_folder = dir_;
    std::unique_ptr<sql::Connection> c = sql::NewConnection(p);
    ASSERT_TRUE(c->Open().ok());
    for (const SchemaStatement& st : TableStatements(kMasterTable, MasterColumns(), true)) {
      for (const std::string& text : Render(st, c->dialect())) {
        ASSERT_TRUE(c->ExecuteNative(text).ok()) << text;
      }
    }
    rt_.connessioni.Set(1, std::move(c));
  }
  sql::Connection& Db() { return *rt_.connessioni.at(1); }
  void AddEvents(int n) {
    for (int i = 0; i < n; ++i) {
      ASSERT_TRUE(Db().Execute("INSERT INTO [_T_MASTER___] ([_T_FILE___],[_T_PROGR___]) "
                               "VALUES('CONTATTI',1)")
                      .ok());
    }
  }
  void Sent(int64_t rrn) { ASSERT_TRUE(Db().Execute(DeleteMaster(rrn)).ok()); }
  StatusSnapshot File() {
    StatusSnapshot s;
    Status r = ReadStatusFile(program_.paths.status, &s);
    EXPECT_TRUE(r.ok()) << r.message();
    return s;
  }
  StatusDatabase Gestionale() {
    StatusSnapshot s = File();
    EXPECT_EQ(1u, s.databases.size());
    return s.databases.empty() ? StatusDatabase{} : s.databases[0];
  }
  // Database 1's events waiting and the age of the oldest (or, `counted`, of that count).
  using Waiting = std::pair<int64_t, double>;
  Waiting Now(bool counted = false) {
    const StatusDatabase d = Gestionale();
    return {d.waiting, counted ? d.count_age : d.oldest_age};
  }
  void Pass(milliseconds d) { timers_.AdvanceBy(d); }
  // Counts at every period however long they take on a loaded machine.
  static StatusOptions EveryPeriod() {
    StatusOptions o;
    o.count_cost_factor = 0;
    return o;
  }
};

TEST_F(StatusWriterTest, WritesAtStartThenOnceAPeriodAndEndsMarkedOneAFolder) {
  StatusWriter writer(rt_, "torvan run");
  ASSERT_TRUE(writer.Start(timers_).ok());
  StatusSnapshot first = File();
  EXPECT_EQ(std::tuple("torvan run", int64_t(::getpid()), "05/12/2026 14:05:09",
                       "05/12/2026 14:05:09", false),
            std::tuple(first.front_end, first.pid, first.started, first.written, first.ended));
  Runtime other_rt(program_);
  StatusWriter second(other_rt, "finestra");
  EXPECT_EQ(dir_ + ": un altro Torvan lavora in questa cartella", second.Start(timers_).message());
  second.Stop();  // not started: nothing written
  EXPECT_EQ(first, File());

  Pass(milliseconds(999));
  EXPECT_EQ(first.written_ms, File().written_ms);
  Pass(milliseconds(1));
  EXPECT_EQ(first.written_ms + 1000, File().written_ms);
  EXPECT_EQ("05/12/2026 14:05:10", File().written);
  Pass(seconds(10));
  EXPECT_EQ(first.written_ms + 11000, File().written_ms);

  program_.state.Stato_Sincronismo = StatoSincronismo::kAttivo;
  program_.state.LinkUp = true;
  writer.Stop();
  StatusSnapshot last = File();
  EXPECT_EQ(std::tuple(true, 4, true), std::tuple(last.ended, last.stato, last.link_up));
  Pass(seconds(5));  // no timer left
  writer.Stop();     // a second Stop writes nothing
  EXPECT_EQ(last, File());

  // It lets no events run, logs nothing and leaves the shared state alone.
  EXPECT_EQ(0, pump_.events);
  EXPECT_TRUE(lines_.empty());
  EXPECT_EQ("", program_.stats.Stat_Testi[kStatusLine]);
  struct stat st {};
  ASSERT_EQ(0, ::stat(program_.paths.status.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
  // Once the first has stopped, the folder is free.
  EXPECT_TRUE(second.Start(timers_).ok());
  EXPECT_EQ("finestra", File().front_end);

  // A file that cannot be written is said once a fault (even root cannot write a folder).
  const std::string tmp = program_.paths.status + ".tmp";
  ASSERT_EQ(0, ::mkdir(tmp.c_str(), 0700));
  Pass(seconds(3));
  EXPECT_EQ(
      std::vector<std::string>({"ERRORE nella scrittura del file di stato " +
                                program_.paths.status + ": open " + tmp + ": Is a directory"}),
      lines_);
  ASSERT_EQ(0, ::rmdir(tmp.c_str()));
  Pass(seconds(1));
  EXPECT_FALSE(File().ended);
  ASSERT_EQ(0, ::mkdir(tmp.c_str(), 0700));
  Pass(seconds(2));
  EXPECT_EQ(2u, lines_.size());
  ASSERT_EQ(0, ::rmdir(tmp.c_str()));
}

// Aged from when first seen, with at most four notes of when: many are thinned keeping the oldest.
TEST_F(StatusWriterTest, EventsWaitingAreCountedAndTheOldestAgedFromWhenFirstSeen) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  ASSERT_NO_FATAL_FAILURE(AddEvents(3));  // RRN 1, 2, 3
  StatusOptions options = EveryPeriod();
  options.max_notes = 4;
  StatusWriter writer(rt_, "finestra", options);
  ASSERT_TRUE(writer.Start(timers_).ok());
  StatusDatabase d = Gestionale();
  EXPECT_EQ(std::tuple(1, "GESTIONALE", 3, 0, 0),
            std::tuple(d.number, d.name, d.waiting, d.oldest_age, d.count_age));
  Pass(seconds(10));
  EXPECT_EQ(Waiting(3, 10), Now());
  // 1 and 2 sent: 3 was already there at the first count.
  Sent(1);
  Sent(2);
  Pass(seconds(1));
  EXPECT_EQ(Waiting(1, 11), Now());
  // 4 comes; 3 goes: 4 was first seen one second later.
  ASSERT_NO_FATAL_FAILURE(AddEvents(1));
  Pass(seconds(1));
  EXPECT_EQ(Waiting(2, 12), Now());
  Sent(3);
  Pass(seconds(3));
  EXPECT_EQ(Waiting(1, 3), Now());
  Sent(4);
  Pass(seconds(1));
  EXPECT_EQ(Waiting(0, 0), Now());
  EXPECT_EQ("", Gestionale().error);

  // A table emptied and numbered from 1 again (built again): a new row 1 is not the old one.
  ASSERT_NO_FATAL_FAILURE(AddEvents(5));
  Pass(seconds(30));
  ASSERT_EQ(Waiting(5, 29), Now());
  ASSERT_TRUE(Db().Execute("DELETE FROM [_T_MASTER___]").ok());
  ASSERT_TRUE(Db().ExecuteNative("DELETE FROM sqlite_sequence").ok());
  ASSERT_NO_FATAL_FAILURE(AddEvents(1));
  Pass(seconds(1));
  EXPECT_EQ(Waiting(1, 0), Now());

  for (int i = 0; i < 20; ++i) {
    ASSERT_NO_FATAL_FAILURE(AddEvents(1));
    Pass(seconds(1));
  }
  EXPECT_EQ(Waiting(21, 20), Now());
  ASSERT_TRUE(Db().ExecuteNative("DELETE FROM \"_T_MASTER___\" WHERE rowid = "
                                 "(SELECT MIN(rowid) FROM \"_T_MASTER___\")")
                  .ok());
  Pass(seconds(1));
  // The next row was seen 20 s ago; with notes dropped it may be taken for younger, never older.
  EXPECT_LE(Gestionale().oldest_age, 20);
  EXPECT_GT(Gestionale().oldest_age, 0);
}

TEST_F(StatusWriterTest, ConnectionsNotReadyKeepTheLastCountAndTheirErrors) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  ASSERT_NO_FATAL_FAILURE(AddEvents(2));
  StatusWriter writer(rt_, "finestra", EveryPeriod());
  ASSERT_TRUE(writer.Start(timers_).ok());
  ASSERT_EQ(2, Gestionale().waiting);

  // An error the step has not reported yet: the connection is not used.
  ASSERT_FALSE(Db().Execute("DELETE FROM [NESSUNA]").ok());
  const std::vector<sql::SqlError> errors = Db().Errors();
  ASSERT_NO_FATAL_FAILURE(AddEvents(1));
  Pass(seconds(3));
  EXPECT_EQ(Waiting(2, 3), Now(true));
  ASSERT_EQ(errors.size(), Db().Errors().size());
  EXPECT_EQ(errors[0].description, Db().Errors()[0].description);
  Db().ClearErrors();

  // A command that must not nest is running: nothing is counted.
  program_.state.Comando_In_Corso = true;
  Pass(seconds(1));
  EXPECT_EQ(2, Gestionale().waiting);
  program_.state.Comando_In_Corso = false;
  Pass(seconds(1));
  EXPECT_EQ(3, Gestionale().waiting);

  // A count that fails says why and leaves no error behind for the steps.
  ASSERT_TRUE(Db().ExecuteNative("DROP TABLE \"_T_MASTER___\"").ok());
  Pass(seconds(1));
  StatusDatabase d = Gestionale();
  EXPECT_EQ(3, d.waiting);
  EXPECT_NE(std::string::npos, d.error.find("_T_MASTER___")) << d.error;
  EXPECT_TRUE(Db().Errors().empty());

  // A closed connection: the last count stays and ages.
  Db().Close();
  Pass(seconds(5));
  EXPECT_EQ(Waiting(3, 6), Now(true));
  EXPECT_TRUE(lines_.empty());
}

TEST_F(StatusWriterTest, TheLastChangeAppliedIsNotedWhenTheReceivedCounterMoves) {
  StatusWriter writer(rt_, "torvan run");
  program_.stats.Stat_Contatori[kRecordsReceived] = 7;  // before the start: not a change
  // The lag counts from the start, or from when the host's queue was last seen empty.
  auto seen = [&] {
    const StatusSnapshot f = File();
    return std::tuple(f.last_applied, f.last_applied_age, f.host_lag, f.host_queue_seen_empty);
  };
  ASSERT_TRUE(writer.Start(timers_).ok());
  EXPECT_EQ(std::tuple("", -1, 0, false), seen());
  Pass(seconds(2));
  EXPECT_EQ(std::tuple("", -1, 2, false), seen());
  program_.state.Coda_Host_Vuota = clock_.Monotonic();
  program_.stats.Stat_Contatori[kRecordsReceived] = 8;
  Pass(seconds(1));
  EXPECT_EQ(std::tuple("05/12/2026 14:05:12", 0, 1, true), seen());
  Pass(seconds(4));
  EXPECT_EQ(std::tuple("05/12/2026 14:05:12", 4, 5, true), seen());
  Statistiche_Reset(program_.stats);  // the Reset button is not a change applied
  Pass(seconds(1));
  EXPECT_EQ(std::pair(5.0, 0),
            std::pair(File().last_applied_age, File().counters[kRecordsReceived]));
  program_.stats.Stat_Contatori[kRecordsReceived] = 1;
  Pass(seconds(1));
  EXPECT_EQ(0, File().last_applied_age);
}

TEST_F(StatusWriterTest, TheHeldChangeIsShownAsTorvanPendingShowsIt) {
  ASSERT_TRUE(std::system(("cp " TORVAN_CHAR_TABLE " " + dir_ + "/TnC_TBL1.Tbl").c_str()) == 0);
  std::unique_ptr<PendingFile> pending;
  PendingState state;
  ASSERT_TRUE(PendingFile::Open(program_.paths.pending, false, &pending, &state).ok());

  StatusWriter writer(rt_, "torvan run");
  ASSERT_TRUE(writer.Start(timers_).ok());
  EXPECT_FALSE(File().held);

  state.held = HeldChange{testing::ChangeData('4', 7, "CLIENTI", "DATI", "", ""),
                          "05/12/2026 14:00:00", "la tabella DATI/CLIENTI non si ricrea", 2};
  state.in_flight = {InFlightEvent{1, 5, "CONTATTI", 9, 0x1234}};
  ASSERT_TRUE(pending->Write(state).ok());
  Pass(seconds(1));
  StatusSnapshot s = File();
  EXPECT_TRUE(s.held);
  EXPECT_EQ(std::vector<std::string>({"Modifica trattenuta: DATI/CLIENTI codice 4 RRN 7 IDX 0",
                                      "  ricevuta il 05/12/2026 14:00:00, tentativi 2",
                                      "  ultimo errore: la tabella DATI/CLIENTI non si ricrea"}),
            s.held_lines);
  EXPECT_EQ(1, s.in_flight);

  // Applied at last: written again at once, with the same length.
  state.held->attempts = 3;
  ASSERT_TRUE(pending->Write(state).ok());
  Pass(seconds(1));
  EXPECT_EQ("  ricevuta il 05/12/2026 14:00:00, tentativi 3", File().held_lines.at(1));
  state.held.reset();
  state.in_flight.clear();
  ASSERT_TRUE(pending->Write(state).ok());
  Pass(seconds(1));
  s = File();
  EXPECT_EQ(std::tuple(false, 0u, 0), std::tuple(s.held, s.held_lines.size(), s.in_flight));
}

}  // namespace
}  // namespace torvan
