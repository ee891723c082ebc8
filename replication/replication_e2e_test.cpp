// Replication end to end: torvan-host, the two steps, the mirror (EngineTest: both engines).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "core/text.h"
#include "replication/conflicts.h"
#include "replication/replication_e2e_test.h"
#include "sql/fault_connection.h"
#include "sql/fault_vfs.h"

namespace torvan::testing {
namespace {

namespace fs = std::filesystem;

TEST_P(EngineTest, HostChangesReachTheMirrorWithExactValuesAndRecordNoEvents) {
  Ctl({"insert", "DATI/CLIENTI", "CODCLI=C01", "RAGSOC=L'Antica Bottega di Nicol\xC3\xB2",
       "CITTA=Forl\xC3\xAC", "FIDO=-120.75", "DATAINS=20240101", "ATTIVO=S"});
  Ctl({"insert", "DATI/ARTICOLI", "CODART=VITE", "DESCR=  Vite \"M8\"", "PREZZO=0.125",
       "GIACENZA=-5.25", "PESO=-3", "CATEG=-9999"});
  Ctl({"insert", "DATI/ORDINI", "NUMORD=-999999999", "RIGA=999", "QTA=-1.5",
       "IMPORTO=99999999999999.999", "STATO=A"});
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=C01", "NOTA=l'ora  \xC3\xA8",
       "VALORE=-12345678901234.567"});
  Drain();

  EXPECT_EQ(Table({{"C01   ", PadRight("L'Antica Bottega di Nicol\xF2", 40),
                    PadRight("Forl\xEC", 30), "-120.75", "20240101", "S", "1"}}),
            Rows("SELECT [CODCLI],[RAGSOC],[CITTA],[FIDO],[DATAINS],[ATTIVO],[_T_RRN___] "
                 "FROM [CLIENTI]"));
  EXPECT_EQ(Table({{PadRight("VITE", 15), PadRight("  Vite \"M8\"", 50), "0.125", "-5.25", "-3",
                    "-9999"}}),
            Rows("SELECT [CODART],[DESCR],[PREZZO],[GIACENZA],[PESO],[CATEG] FROM [ARTICOLI]"));
  EXPECT_EQ(Table({{"-999999999", "999", "0", "-1.50", "99999999999999.999", "A"}}),
            Rows("SELECT [NUMORD],[RIGA],[DATAORD],[QTA],[IMPORTO],[STATO] FROM [ORDINI]"));
  EXPECT_EQ(Table({{PadRight("l'ora  \xE8", 60), "-12345678901234.567", "1", "1", " "}}),
            Rows("SELECT [NOTA],[VALORE],[_T_RRN___],[_T_IDX___],[_T_TIPO___] FROM [CONTATTI]"));
  ExpectOnce({"AS--> DATI/CLIENTI ADD RRN:1 IDX:0", "AS--> DATI/ARTICOLI ADD RRN:1 IDX:0",
              "AS--> DATI/ORDINI ADD RRN:1 IDX:0", "AS--> DATI/CONTATTI ADD RRN:1 IDX:0"});
  EXPECT_EQ(Lines{}, Differences());  // no echo either: the host's rows are no events

  Ctl({"update", "DATI/CLIENTI", "1", "FIDO=999999999.99", "RAGSOC=O'BRIEN"});
  Ctl({"delete", "DATI/ARTICOLI", "1"});
  Ctl({"clear", "DATI/ORDINI"});
  Ctl({"update", "DATI/CONTATTI", "1", "VALORE=0.001"});
  Drain();
  EXPECT_EQ(Table({{PadRight("O'BRIEN", 40), "999999999.99"}}),
            Rows("SELECT [RAGSOC],[FIDO] FROM [CLIENTI]"));
  EXPECT_EQ(Table{}, Rows("SELECT * FROM [ARTICOLI]"));
  EXPECT_EQ(Table{}, Rows("SELECT * FROM [ORDINI]"));
  // An update deletes the row and inserts the new image: a new _T_IDX___, no event.
  EXPECT_EQ(Table({{"0.001", "2", " "}}),
            Rows("SELECT [VALORE],[_T_IDX___],[_T_TIPO___] FROM [CONTATTI]"));
  ExpectOnce({"AS--> DATI/CLIENTI UPD RRN:1 IDX:0", "AS--> DATI/ARTICOLI DEL RRN:1 IDX:0",
              "AS--> DATI/ORDINI CLEAR", "AS--> DATI/CONTATTI UPD RRN:1 IDX:0"});
  EXPECT_EQ(Lines{}, Differences());
}

TEST_P(EngineTest, SqlSideChangesReachTheHostWithTheirExactStatementsOnce) {
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=C01", "NOTA=dal sistema", "VALORE=1"});
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=C02"});
  Drain();
  // As a PC application writes them; the extremes of SMALLINT, INTEGER and BIGINT.
  Pc("INSERT INTO \"CONTATTI\" (\"CODCLI\", \"DATA\", \"NOMINATIVO\", \"TELEFONO\", \"NOTA\", "
     "\"ESITO\", \"VALORE\", \"PUNTI\", \"VISITE\", \"RIFEST\") VALUES ('X1', 20240301, "
     "'D''Amico Nicol\xC3\xB2', '', '  l''ora  ', 'P', 12.5, -32768, 2147483647, "
     "9223372036854775807);"
     "UPDATE \"CONTATTI\" SET \"NOTA\" = 'richiamare', \"VALORE\" = -350.5 WHERE \"_T_RRN___\" = 1;"
     "DELETE FROM \"CONTATTI\" WHERE \"_T_RRN___\" = 2;");
  Drain();

  const std::string sent = Utf8ToCp1252(ReadText(pc_ + "/TnC_PC_AS.Log"));
  for (const char* statement :
       {">  FILE=CONTATTI PROGR=1 IDX=3 RRN=0 AS-->PC DATI=INSERT INTO DATI/CONTATTI "
        "(CODCLI,DATA,NOMINATIVO,TELEFONO,NOTA,ESITO,VALORE,PUNTI,VISITE,RIFEST,\xA7_T_IDX___) "
        "VALUES('X1', 20240301, 'D''Amico Nicol\xF2', '', '  l''ora', 'P', 12.500, -32768, "
        "2147483647, 9223372036854775807, 3)\r\n",
        ">  FILE=CONTATTI PROGR=2 IDX=1 RRN=1 AS-->PC DATI= UPDATE DATI/CONTATTI a SET "
        "CODCLI='C01', DATA=0, NOMINATIVO='', TELEFONO='', NOTA='richiamare', ESITO='', "
        "VALORE=-350.500, PUNTI=0, VISITE=0, RIFEST=0, \xA7_T_IDX___=1 WHERE RRN(a)=1\r\n",
        ">  FILE=CONTATTI PROGR=3 IDX=2 RRN=2 AS-->PC DATI= DELETE FROM DATI/CONTATTI a WHERE "
        "RRN(a)=2\r\n"}) {
    EXPECT_TRUE(Has(sent, statement)) << statement << "\n" << sent;
  }
  ExpectOnce({"AS<-- DATI/CONTATTI ADD RRN:0 IDX:3", "AS<-- DATI/CONTATTI UPD RRN:1 IDX:1",
              "AS<-- DATI/CONTATTI DEL RRN:2 IDX:2"});
  EXPECT_EQ(3, HostRequests('R'));
  EXPECT_EQ("0\n", Ctl({"queue"}));  // no echo: the host queues nothing for what it ran
  EXPECT_EQ(Lines{}, Differences());

  // A row inserted on the SQL side has no RRN: it is deleted by its index.
  Exec("DELETE FROM [CONTATTI] WHERE [_T_IDX___]=3");
  Drain();
  EXPECT_TRUE(Has(Utf8ToCp1252(ReadText(pc_ + "/TnC_PC_AS.Log")),
                  " AS-->PC DATI= DELETE FROM DATI/CONTATTI a WHERE \xA7_T_IDX___=3\r\n"));
  EXPECT_EQ(4, HostRequests('R'));
  EXPECT_EQ(Lines{}, Differences());
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// A held change blocks its queue, one message line a call, and goes as soon as it can. Images
// of the archive are fetched with their bytes and deleted with their record.
TEST_F(EndToEndTest, AHeldChangeBlocksItsQueueVisiblyAndImagesFollowTheirRecords) {
  ASSERT_TRUE(platform::WriteFileAtomic(host_dir_ + "/images/AB.00001",
                                        std::string("\xFF\xD8\0\x01 AB", 7), 0644)
                  .ok());
  // A file where the images' folder should be: the folder cannot be made.
  const std::string images = pc_ + "/immagini";
  fs::remove_all(images);
  ASSERT_TRUE(platform::WriteFileAtomic(images, "not a folder", 0644).ok());
  Ctl({"insert", "DATI/TNP_ARC_0F", "CHIAVE=AB", "PARTI=1", "TIPO=5"});
  Ctl({"insert", "DATI/CLIENTI", "CODCLI=C01"});
  Drain();
  Drain();
  EXPECT_EQ(2, CountStarting("[Server_SQL_Sincro] Modifica trattenuta: DATI/TNP_ARC_0F codice 1 "
                             "RRN 1: mkdir "));
  ASSERT_TRUE(Held());
  EXPECT_EQ(2, pending_->state().held->attempts);
  EXPECT_EQ(Table{}, Rows("SELECT * FROM [CLIENTI]"));
  EXPECT_EQ("2\n", Ctl({"queue"}));
  fs::remove(images);  // the folder is made by the next attempt
  Drain();
  EXPECT_FALSE(Held());
  ExpectOnce({"AS--> DATI/TNP_ARC_0F ADD RRN:1 IDX:0", "AS--> DATI/CLIENTI ADD RRN:1 IDX:0"});
  EXPECT_EQ(Lines{}, Differences());

  Ctl({"insert", "DATI/TNP_ARC_0F", "CHIAVE=PIANTA0003", "PARTI=1", "TIPO=3"});
  Ctl({"insert", "DATI/TNP_ARC_0F", "CHIAVE=SCHEDA0004", "PARTI=2", "TIPO=A"});
  // No image: a state other than blank, a type without extension, no parts.
  Ctl({"insert", "DATI/TNP_ARC_0F", "STATO=X", "CHIAVE=LOGO000002", "PARTI=1", "TIPO=7"});
  Ctl({"insert", "DATI/TNP_ARC_0F", "CHIAVE=FOTO000001", "PARTI=1", "TIPO=B"});
  Ctl({"insert", "DATI/TNP_ARC_0F", "CHIAVE=LOGO000002", "PARTI=0", "TIPO=7"});
  Drain();
  EXPECT_EQ(Lines({"AB        00001.JPG", "PIANTA000300001.BMP", "SCHEDA000400001.TIF",
                   "SCHEDA000400002.TIF"}),
            FilesIn(images));
  const std::pair<const char*, const char*> copies[] = {
      {"AB        00001.JPG", "AB.00001"},
      {"PIANTA000300001.BMP", "PIANTA0003.00001"},  // two chunks
      {"SCHEDA000400001.TIF", "SCHEDA0004.00001"},
      {"SCHEDA000400002.TIF", "SCHEDA0004.00002"}};
  for (const auto& [pc, host] : copies) {
    EXPECT_EQ(ReadText(host_dir_ + "/images/" + host), ReadText(images + "/" + pc)) << pc;
  }
  EXPECT_EQ(Lines{}, Differences());

  // A new key: the old key's files go, the new key's come.
  Ctl({"update", "DATI/TNP_ARC_0F", "3", "CHIAVE=FOTO000001", "PARTI=1", "TIPO=5"});
  Ctl({"delete", "DATI/TNP_ARC_0F", "2"});
  Drain();
  EXPECT_EQ(Lines({"AB        00001.JPG", "FOTO00000100001.JPG"}), FilesIn(images));
  EXPECT_EQ(ReadText(host_dir_ + "/images/FOTO000001.00001"),
            ReadText(images + "/FOTO00000100001.JPG"));
  EXPECT_EQ(Lines{}, Differences());
}

// Host to SQL: a new S acknowledges the change before it; one delivered on a closed connection
// comes again. SQL to host: a request whose status was never read may have been executed (an
// insert sent again adds no second record); a refusal by a fault is no execution (the event
// is sent again).
TEST_F(EndToEndTest, LinkFaultsBothWaysLoseNothingAndApplyNothingTwice) {
  int round = 0;
  for (const char* fault : {"close-after 0", "close-after 3", "close-after 6", "close-after 100",
                            "close-after 400", "corrupt-length", "refuse S 1", "pair 200"}) {
    SCOPED_TRACE(fault);
    const std::string rrn = std::to_string(++round);
    Ctl({"insert", "DATI/CONTATTI", "CODCLI=C" + rrn, "NOTA=prima"});
    Ctl({"update", "DATI/CONTATTI", rrn, "NOTA=dopo"});
    Ctl({"insert", "DATI/CLIENTI", "CODCLI=C" + rrn});
    Fault(fault);
    Drain();
    Drain();
    Fault("clear");
    EXPECT_EQ(Lines{}, Differences({kClienti, kContatti}));
    EXPECT_EQ("0\n", Ctl({"queue"}));
    EXPECT_FALSE(Held());
    ExpectOnce({"AS--> DATI/CONTATTI ADD RRN:" + rrn + " IDX:0",
                "AS--> DATI/CONTATTI UPD RRN:" + rrn + " IDX:0",
                "AS--> DATI/CLIENTI ADD RRN:" + rrn + " IDX:0"});
  }
  // Each change, # its round, "" a drain; the batch's events meet the fault at one of them.
  const Lines changes[] = {{"INSERT INTO [CONTATTI] ([CODCLI],[NOTA]) VALUES('S#','nuovo')"},
                           {"UPDATE [CONTATTI] SET [NOTA]='giro #' WHERE [CODCLI]='H'"},
                           {"INSERT INTO [CONTATTI] ([CODCLI]) VALUES('D#')", "",
                            "DELETE FROM [CONTATTI] WHERE [CODCLI]='D#'"},
                           {"INSERT INTO [CONTATTI] ([CODCLI],[NOTA]) VALUES('B#','a')",
                            "UPDATE [CONTATTI] SET [NOTA]='lotto #' WHERE [CODCLI]='H'",
                            "INSERT INTO [CONTATTI] ([CODCLI],[NOTA]) VALUES('E#','b')",
                            "DELETE FROM [CONTATTI] WHERE [CODCLI]='B#'"}};
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=H"});
  Drain();
  round = 0;
  for (const std::string fault :
       {"close-after 0", "close-after 3", "close-after 6", "close-after 7", "corrupt-length",
        "refuse R 1", "refuse-statements 1", "refuse-statements 2"}) {
    const std::string n = std::to_string(++round);
    for (const Lines& change : changes) {
      SCOPED_TRACE(fault + ": " + change.back());
      lines_.clear();
      for (std::string statement : change) {
        for (size_t at; (at = statement.find('#')) != std::string::npos;)
          statement.replace(at, 1, n);
        if (statement.empty()) {
          Drain();
        } else {
          Exec(statement);
        }
      }
      Fault(fault);
      (void)to_host_->Server_SQL_Ritorno();  // the fault hits its R request
      Drain();
      Drain();
      Fault("clear");
      EXPECT_EQ(Lines{}, Differences({kContatti}));
      EXPECT_EQ(std::vector<InFlightEvent>{}, pending_->state().in_flight);
      if (fault.rfind("refuse-statements ", 0) == 0) {
        EXPECT_EQ(fault.back() - '0', Count("[Server_SQL_Ritorno] Errore stato"));
      }
      // Nothing the host executed is reported as refused.
      EXPECT_FALSE(HasLineStarting("[Server_SQL_Ritorno] Istruzione rifiutata"));
      EXPECT_FALSE(platform::FileExists(pc_ + "/TnC_RIFIUTATI.Log"));
    }
  }
}

// Any status but a blank is "not executed": an update goes again as an insert, an insert is
// reported and kept, and the next event goes.
TEST_F(EndToEndTest, AStatusOtherThanABlankFollowsTheRuleOfItsEvent) {
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=C01"});
  Drain();
  Exec("INSERT INTO [CONTATTI] ([CODCLI]) VALUES('S1')");
  Exec("UPDATE [CONTATTI] SET [NOTA]='dopo' WHERE [CODCLI]='C01'");
  Ctl({"fault", "refuse-statements", "2", "#"});
  Drain();
  EXPECT_EQ(1, Count("[Server_SQL_Ritorno] Istruzione rifiutata (stato #): DATI/CONTATTI "
                     "EVENTO=I RRN=0 IDX=2"));
  EXPECT_TRUE(Has(ReadText(pc_ + "/TnC_RIFIUTATI.Log"),
                  "stato # DB 1 DATI/CONTATTI EVENTO=I RRN=0 IDX=2 PROGR=1 DATI=INSERT INTO"));
  EXPECT_TRUE(Has(Utf8ToCp1252(ReadText(pc_ + "/TnC_PC_AS.Log")),
                  " IDX=1 RRN=1 Insert AS-->PC DATI=INSERT INTO DATI/CONTATTI (CODCLI,DATA,"
                  "NOMINATIVO,TELEFONO,NOTA,ESITO,VALORE,PUNTI,VISITE,RIFEST,\xA7_T_IDX___) "
                  "VALUES('C01', 0, '', '', 'dopo', '', 0.000, 0, 0, 0, 1)\r\n"));
  EXPECT_EQ(1, Count("AS<-- DATI/CONTATTI UPD RRN:1 IDX:1"));
  EXPECT_EQ(Table({{"0"}}), Rows("SELECT COUNT(*) FROM [_T_MASTER___]"));
}

// A record gone from the host unheard of: its row's updates and delete make and take one.
TEST_F(EndToEndTest, UpdatesOfARowWhoseRecordIsGoneMakeOneRecordAndItsDeleteTakesIt) {
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=C01"});
  Drain();
  Ctl({"delete", "DATI/CONTATTI", "1"});  // not asked for yet
  for (const char* note : {"uno", "due", "tre"}) {
    Exec(std::string("UPDATE [CONTATTI] SET [NOTA]='") + note + "' WHERE [CODCLI]='C01'");
    (void)to_host_->Server_SQL_Ritorno();
  }
  for (const std::string& d : Differences({kContatti})) {
    EXPECT_EQ(std::string::npos, d.find("host records with")) << d;
  }
  Exec("DELETE FROM [CONTATTI] WHERE [CODCLI]='C01'");
  (void)to_host_->Server_SQL_Ritorno();
  EXPECT_EQ(0, Count("[Server_SQL_Ritorno] Istruzione rifiutata (stato N): DATI/CONTATTI "
                     "EVENTO=D RRN=1 IDX=1"));
  Drain();
  EXPECT_EQ(Lines{}, Differences({kContatti}));
}

// A full journal stops the asking: the host keeps the rest until the journal has room.
TEST_F(EndToEndTest, AFullJournalLeavesTheRestWithTheHost) {
  program_.settings.Giornale_Modifiche = 2;
  Shell("DROP TABLE CLIENTI;");  // by hand: the first change is held, the journal stays full
  for (int i = 1; i <= 5; ++i) Ctl({"insert", "DATI/CLIENTI", "CODCLI=C0" + std::to_string(i)});
  Drain();
  ASSERT_TRUE(Held());
  EXPECT_EQ(2u, to_sql_->JournalDepth());
  EXPECT_EQ("4\n", Ctl({"queue"}));  // the second is journaled, its acknowledgement not sent
  Build(kClienti);
  Drain();
  EXPECT_FALSE(Held());
  EXPECT_EQ(0u, to_sql_->JournalDepth());
  EXPECT_EQ("0\n", Ctl({"queue"}));
  EXPECT_EQ(1, Count("AS--> DATI/CLIENTI ADD RRN:5 IDX:0"));
  EXPECT_EQ(Lines{}, Differences());
}

// While a reply travels the changes journaled before it are applied; committed at the end.
TEST_F(EndToEndTest, ChangesAreAppliedWhileTheNextReplyTravels) {
  struct Watching final : platform::EventPump {
    std::function<void()> seen;
    void ProcessEvents() override { seen(); }
    void Sleep(std::chrono::milliseconds d) override { platform::ConsolePump()->Sleep(d); }
  } pump;
  int most = 0;
  pump.seen = [&] {
    most = std::max(
        most,
        std::atoi(
            sql::testing::Scalar(&Db(kGestionale), "SELECT COUNT(*) FROM [CLIENTI]").c_str()));
  };
  for (int i = 1; i <= 3; ++i) Ctl({"insert", "DATI/CLIENTI", "CODCLI=C0" + std::to_string(i)});
  Ctl({"fault", "delay", "30"});
  program_.pump = &pump;
  EXPECT_TRUE(to_sql_->Server_SQL_Sincro());
  program_.pump = platform::ConsolePump();
  EXPECT_EQ(3, most);
  EXPECT_EQ("3\n", Shell("SELECT COUNT(*) FROM CLIENTI;"));
  EXPECT_EQ(0u, to_sql_->JournalDepth());
}

// A conflict's statement waits for the reply in flight, not taking it for its own status.
TEST_F(EndToEndTest, AConflictsStatementWaitsForTheReplyInFlight) {
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=H1", "NOTA=prima"});
  Drain();
  Exec("UPDATE [CONTATTI] SET [NOTA]='DAL PC' WHERE [_T_RRN___]=1");
  Ctl({"delete", "DATI/CONTATTI", "1"});
  ASSERT_TRUE(to_host_->Server_SQL_Ritorno());  // an insert now, after the host's delete
  for (int i = 1; i <= 3; ++i) Ctl({"insert", "DATI/CLIENTI", "CODCLI=C0" + std::to_string(i)});
  Ctl({"fault", "delay", "30"});  // each reply travels a while: the changes are applied meanwhile
  Drain();
  Ctl({"fault", "delay", "0"});
  Drain();
  EXPECT_FALSE(Held());
  EXPECT_FALSE(HasLineStarting("[Server_SQL_Sincro] Modifica trattenuta: "))
      << ::testing::PrintToString(lines_);
  EXPECT_EQ("", Ctl({"dump", "DATI/CONTATTI"}));
  EXPECT_EQ(Lines{}, Differences());
}

// A refused S acknowledges nothing: the change that comes again is not applied again.
TEST_F(EndToEndTest, AChangeDeliveredAgainAfterARefusedRequestIsNotAppliedAgain) {
  program_.settings.Lotto_Modifiche = 1;  // one change, and no request after it
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=C01", "NOTA=dal sistema"});
  ASSERT_TRUE(to_sql_->Server_SQL_Sincro());
  EXPECT_FALSE(rt_.program.state.Coda_Host_Vuota);  // a change came: the lag counts on
  ASSERT_TRUE(Server_AS_Stop(rt_));                 // the next S request never left
  Exec("UPDATE [CONTATTI] SET [NOTA]='da SQL' WHERE [_T_RRN___]=1");
  Ctl({"fault", "refuse", "S", "1"});
  ASSERT_TRUE(Connect());
  EXPECT_FALSE(to_sql_->Server_SQL_Sincro());
  EXPECT_TRUE(rt_.program.state.Coda_Host_Vuota);  // nothing given: the host's queue is empty
  EXPECT_TRUE(to_host_->Server_SQL_Ritorno());
  Drain();
  EXPECT_EQ(1, Count("AS--> DATI/CONTATTI ADD RRN:1 IDX:0"));
  EXPECT_EQ(Table({{"da SQL", "1"}}), Rows("SELECT [NOTA],[_T_IDX___] FROM [CONTATTI]"));
  EXPECT_EQ(Lines{}, Differences());
}

// Changes of CONTATTI written short: "U<rrn>=<nota>" an update of NOTA, "D<rrn>" a delete,
// "I<codcli>[=<nota>]" an insert, "C" a clear (host only); the host's first records are
// H1, H2... with NOTA "prima", drained.
class ChangesTest : public EndToEndTest {
 protected:
  void Apply(const std::string& c, bool on_host) {
    const size_t eq = c.find('=');
    const std::string key = c.substr(1, eq - 1),
                      nota = eq == std::string::npos ? "" : c.substr(eq + 1);
    if (on_host) {
      Ctl(c[0] == 'U'   ? Lines{"update", "DATI/CONTATTI", key, "NOTA=" + nota}
          : c[0] == 'D' ? Lines{"delete", "DATI/CONTATTI", key}
          : c[0] == 'I' ? Lines{"insert", "DATI/CONTATTI", "CODCLI=" + key, "NOTA=" + nota}
                        : Lines{"clear", "DATI/CONTATTI"});
    } else if (c[0] == 'U') {
      Exec("UPDATE [CONTATTI] SET [NOTA]='" + nota + "' WHERE [_T_RRN___]=" + key);
    } else if (c[0] == 'D') {
      Exec("DELETE FROM [CONTATTI] WHERE [_T_RRN___]=" + key);
    } else {
      Exec("INSERT INTO [CONTATTI] ([CODCLI]" +
           std::string(eq == std::string::npos ? "" : ",[NOTA]") + ") VALUES('" + key +
           (eq == std::string::npos ? "" : "','" + nota) + "')");
    }
  }
  // Host records, then (Torvan stopped) the PC's changes and the host's ("|" apart), then
  // two drains.
  void Play(int host_records, const std::string& pc, const std::string& host, bool sent_first) {
    for (int k = 1; k <= host_records; ++k) {
      Ctl({"insert", "DATI/CONTATTI", "CODCLI=H" + std::to_string(k), "NOTA=prima"});
    }
    if (host_records > 0) Drain();
    for (const std::string& c : Split(pc, '|')) Apply(c, false);
    for (const std::string& c : Split(host, '|')) Apply(c, true);
    if (sent_first) {
      ASSERT_TRUE(to_host_->Server_SQL_Ritorno());
    }
    Drain();
    Drain();  // the host's queue seen empty twice running: what a clear left is settled
  }
};

// An event sent after the host queued a clear lands after it: the clear wins, the record
// made goes and is set aside; one reaching a record by RRN is a possible conflict.
struct ClearRace {
  const char* name;
  int host_records;
  const char* pc;
  bool host_insert_after;  // the host adds a record after its clear (it takes RRN 1)
  const char* line;        // the message line the clear gives
};

class ClearRaceTable : public ChangesTest, public ::testing::WithParamInterface<ClearRace> {};

TEST_P(ClearRaceTable, TheClearWinsOverWhatWasSentBeforeItArrived) {
  const ClearRace& r = GetParam();
  ASSERT_NO_FATAL_FAILURE(
      Play(r.host_records, r.pc, r.host_insert_after ? "C|IH2=dopo" : "C", true));
  EXPECT_TRUE(HasLineStarting(r.line)) << ::testing::PrintToString(lines_);
  if (r.host_insert_after) {
    // The host's own record: Torvan cannot know which values it should hold.
    EXPECT_TRUE(Has(Utf8ToCp1252(ReadText(program_.paths.conflicts_log)),
                    "possibile conflitto: DATI/CONTATTI svuotato"));
  } else {
    EXPECT_TRUE(Has(Utf8ToCp1252(ReadText(program_.paths.set_aside_log)),
                    "inviata prima dello svuotamento: DATI/CONTATTI"));
    EXPECT_EQ("", Ctl({"dump", "DATI/CONTATTI"}));
    EXPECT_EQ(Lines{}, Differences({kContatti}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sent, ClearRaceTable,
    ::testing::Values(
        ClearRace{"AnInsert", 0, "IP1", false,
                  "[Server_SQL_Sincro] DATI/CONTATTI svuotato sul sistema origine: ADD RRN:0 "
                  "IDX:1 inviata prima dello svuotamento, record cancellato sull'host"},
        ClearRace{"AnUpdateTurnedIntoAnInsert", 1, "U1=dal pc", false,
                  "[Server_SQL_Sincro] DATI/CONTATTI svuotato sul sistema origine: UPD RRN:1 "
                  "IDX:1 inviata prima dello svuotamento, record cancellato sull'host"},
        ClearRace{"AnUpdateThatReachedANewHostRecord", 1, "U1=dal pc", true,
                  "[Server_SQL_Sincro] Possibile conflitto su DATI/CONTATTI UPD RRN:1 IDX:1"}),
    [](const auto& info) { return std::string(info.param.name); });

// Both sides changed a row, Torvan stopped: under each rule both end equal, each conflict
// recorded once and said once.
struct BothSides {
  const char* name;
  int host_records;
  const char *pc, *host;  // changes, "|" apart
  const char* host_wins;  // NOTA of the records left, sorted, "|" apart
  const char* pc_wins;
  int conflicts;            // records in the conflicts file
  bool sent_first = false;  // the host change comes after the PC's event reached the host
};

class BothSidesTable : public ChangesTest,
                       public ::testing::WithParamInterface<std::tuple<BothSides, bool>> {};

TEST_P(BothSidesTable, BothEndEqualAndEveryConflictIsSaid) {
  const auto& [c, pc_wins] = GetParam();
  program_.settings.Vince_Il_Pc = pc_wins;
  ASSERT_NO_FATAL_FAILURE(Play(c.host_records, c.pc, c.host, c.sent_first));
  std::string notes;
  for (const auto& row : Rows("SELECT [NOTA] FROM [CONTATTI] ORDER BY [NOTA]")) {
    notes += (notes.empty() ? "" : "|") + Trim(row[0]);
  }
  EXPECT_EQ(pc_wins ? c.pc_wins : c.host_wins, notes);
  EXPECT_EQ(Lines{}, Differences({kContatti}));
  EXPECT_EQ(size_t(c.conflicts), Conflicts::Records(program_.paths.conflicts_log).size())
      << ReadText(program_.paths.conflicts_log);
  // A row whose event was sent before the host change came is a possible conflict.
  EXPECT_EQ(c.conflicts,
            CountStarting("[Server_SQL_Sincro] Conflitto su DATI/CONTATTI") +
                CountStarting("[Server_SQL_Sincro] Possibile conflitto su DATI/CONTATTI"))
      << ::testing::PrintToString(lines_);
  // Nothing is left to send, and a second pass changes nothing.
  Drain();
  EXPECT_EQ(Lines{}, Differences({kContatti}));
}

const BothSides kBothSides[] = {
    {"UpdateAgainstUpdate", 1, "U1=DAL PC", "U1=DAL HOST", "DAL HOST", "DAL PC", 1},
    {"UpdateAgainstSeveralPcUpdates", 1, "U1=PC UNO|U1=PC DUE", "U1=DAL HOST", "DAL HOST", "PC DUE",
     1},
    {"UpdateAgainstPcDelete", 1, "D1", "U1=DAL HOST", "DAL HOST", "", 1},
    {"DeleteAgainstPcUpdate", 1, "U1=DAL PC", "D1", "", "DAL PC", 1},
    {"DeleteAgainstPcDelete", 1, "D1", "D1", "", "", 1},
    {"InsertBesideAHostUpdate", 1, "IP1=DAL PC", "U1=DAL HOST", "DAL HOST|DAL PC",
     "DAL HOST|DAL PC", 0},
    {"TwoRowsOfOneFile", 2, "U1=PC UNO|U2=PC DUE", "U2=HOST DUE|U1=HOST UNO", "HOST DUE|HOST UNO",
     "PC DUE|PC UNO", 2},
    // The update became an insert after the host's delete, which takes its record.
    {"UpdateSentAfterAHostDelete", 1, "U1=DAL PC", "D1", "", "", 1, true},
    // Sent before the host's update: the winner's values go to the host again.
    {"UpdateSentBeforeAHostUpdate", 1, "U1=DAL PC", "U1=DAL HOST", "DAL HOST", "DAL PC", 1, true},
    // The delete reached the host after its update: the record stays gone in the mirror.
    {"DeleteSentAfterAHostUpdate", 1, "D1", "U1=DAL HOST", "", "", 1, true},
    // A clear follows the host under both rules: the PC's changes are set aside.
    {"ClearAgainstPcChanges", 2, "U1=DAL PC|D2", "C", "", "", 0},
};

INSTANTIATE_TEST_SUITE_P(Rules, BothSidesTable,
                         ::testing::Combine(::testing::ValuesIn(kBothSides), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_PcWins" : "_HostWins");
                         });

// A table built again numbers its rows above every index used before, host's too.
TEST_P(EngineTest, ATableBuiltAgainNumbersItsRowsAboveEveryIndexUsedBefore) {
  for (const char* k : {"S1", "S2", "S3"}) {
    Exec(std::string("INSERT INTO [CONTATTI] ([CODCLI]) VALUES('") + k + "')");
  }
  Drain();  // the host's records keep 1, 2 and 3
  auto idx_of = [&](const std::string& codcli) {
    const Table rows = Rows("SELECT [_T_IDX___] FROM [CONTATTI] WHERE [CODCLI]='" + codcli + "'");
    return rows.size() == 1 ? std::atoll(rows[0][0].c_str()) : -1;
  };
  Build(kContatti);
  Exec("INSERT INTO [CONTATTI] ([CODCLI]) VALUES('S4')");
  EXPECT_EQ(4, idx_of("S4"));
  Ctl({"update", "DATI/CONTATTI", "1", "NOTA=dal sistema"});  // WHERE [_T_IDX___]=1 or ...
  Drain();
  Ctl({"refresh", "DATI/CONTATTI"});
  Drain();
  EXPECT_EQ(Lines{}, Differences({kContatti}));
  // The host sends back an index above every number the table gave: its row takes 1001.
  Ctl({"insert", "DATI/CONTATTI", "CODCLI=H1", "\xC2\xA7_T_IDX___=1000"});
  Ctl({"clear", "DATI/CONTATTI"});  // built again by the clear
  Drain();
  Exec("INSERT INTO [CONTATTI] ([CODCLI]) VALUES('S5')");
  EXPECT_EQ(1002, idx_of("S5"));
  Drain();
  EXPECT_EQ(Lines{}, Differences({kContatti}));
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineTest, ::testing::Values(Engine::kSqlite, Engine::kPostgres),
                         [](const auto& info) {
                           return info.param == Engine::kSqlite ? "Sqlite" : "Postgres";
                         });

// ---- Faults of the SQL side ------------------------------------------------------------

using ::testing::PrintToString;

// What runs while a statement fails: host changes, a clear, a return, the operator's build.
enum class Scenario { kInsert, kUpdate, kDelete, kImage, kClear, kReturn, kBuild };

// How it fails: the connection (sql/fault_connection.h) or the storage (sql/fault_vfs.h).
struct Injection {
  const char* name;
  bool vfs;
  sql::FaultOp op;
  sql::FaultKind kind;
  sql::VfsFault::Op vfs_op;
  bool full;
};
constexpr auto kAny = sql::FaultOp::kAny, kWrite = sql::FaultOp::kCommit;
const Injection kInjections[] = {
    {"error", false, kAny, sql::FaultKind::kError, {}, false},
    {"busy", false, kAny, sql::FaultKind::kBusy, {}, false},
    {"lost", false, kAny, sql::FaultKind::kLost, {}, false},
    {"lost after", false, kAny, sql::FaultKind::kLostAfter, {}, false},
    {"commit", false, kWrite, sql::FaultKind::kIoError, {}, false},
    {"sync: I/O error", true, kAny, {}, sql::VfsFault::Op::kSync, false},
    {"write: disk full", true, kAny, {}, sql::VfsFault::Op::kWrite, true},
};

constexpr char kVfs[] = "torvan-guasti";

// CLIENTI is sent back too: a fault on one file must not touch another's events. ORDINI is
// not replicated to SQL (As_Pc "N").
class SqlFaultTable : public EndToEndTest, public ::testing::WithParamInterface<int> {
 protected:
  SqlFaultTable() {
    program_.settings.Durevole = true;
    EXPECT_TRUE(sql::RegisterFaultVfs(kVfs, &vfs_).ok());
    rt_.link.new_connection = [this](const sql::ConnectionParams& p) {
      sql::ConnectionParams params = p;
      params.sqlite_vfs = kVfs;
      return sql::NewFaultyConnection(sql::NewConnection(params), plan_);
    };
  }
  void EditHost() override {
    ASSERT_NO_FATAL_FAILURE(EditFile("CLIENTI", "| S | N | N |", "| S | S | N |"));
    ASSERT_NO_FATAL_FAILURE(EditFile("ORDINI", "| S | N | S |", "| N | N | S |"));
    const std::string fields = host_dir_ + "/fields/DATI.CLIENTI.txt";
    const std::string index = "\xC2\xA7_T_IDX___ | Indice | B | 9 |   | 145 |  4 |\n";
    ASSERT_TRUE(platform::WriteFileAtomic(fields, ReadText(fields) + index, 0644).ok());
  }
  void SetUp() override {
    EndToEndTest::SetUp();
    Restart();
  }

  // A pass of the cycle; true when it did something or must be made again.
  bool Pass() {
    if (!LinksUp()) {
      Reconnect();
      return true;
    }
    const bool received = to_sql_->Server_SQL_Sincro();
    const bool sent = to_host_->Server_SQL_Ritorno();
    return received || sent || Held();
  }
  // Passes until two in a row do nothing and no master row waits.
  void Settle() {
    for (int i = 0, idle = 0; i < 100 && idle < 2; ++i) {
      idle = Pass() || MasterRows() > 0 ? 0 : idle + 1;
    }
  }
  int64_t MasterRows() {
    int64_t n = 0;
    if (!UnsentEvents(Db(kGestionale), &n).ok()) Db(kGestionale).ClearErrors();
    return n;
  }

  std::string Row(const char* code) { return std::string(code) + std::to_string(++serial_); }
  int LastRrn(const std::string& file) {
    const std::string dump = Ctl({"dump", file});
    const size_t line = dump.rfind('\n', dump.size() - 2);
    return std::atoi(dump.c_str() + (line == std::string::npos ? 0 : line + 1));
  }

  void Prepare(Scenario s) {
    const std::string row = Row("H");
    switch (s) {
      case Scenario::kInsert:
        Ctl({"insert", "DATI/CONTATTI", "CODCLI=" + row, "NOTA=l'ora"});
        break;
      case Scenario::kUpdate:
      case Scenario::kDelete: {
        Ctl({"insert", "DATI/CONTATTI", "CODCLI=" + row});
        Settle();
        const std::string rrn = std::to_string(LastRrn("DATI/CONTATTI"));
        Ctl(s == Scenario::kUpdate ? Lines{"update", "DATI/CONTATTI", rrn, "NOTA=dopo"}
                                   : Lines{"delete", "DATI/CONTATTI", rrn});
        break;
      }
      case Scenario::kImage:
        Ctl({"insert", "DATI/TNP_ARC_0F", "CHIAVE=PIANTA0003", "PARTI=1", "TIPO=3"});
        break;
      case Scenario::kClear:
        Ctl({"insert", "DATI/CONTATTI", "CODCLI=" + row});
        Settle();
        unsent_ = {Row("U"), Row("U")};  // two: a read that fails halfway loses the second
        for (const std::string& u : unsent_) {
          Exec("INSERT INTO [CONTATTI] ([CODCLI],[NOTA]) VALUES('" + u + "','dall''SQL')");
        }
        Exec("INSERT INTO [CLIENTI] ([CODCLI]) VALUES('" + Row("K") + "')");
        Ctl({"clear", "DATI/CONTATTI"});
        break;
      case Scenario::kReturn:
        Exec("INSERT INTO [CONTATTI] ([CODCLI],[NOTA]) VALUES('" + Row("S") + "','nuovo')");
        break;
      case Scenario::kBuild:
        Exec("INSERT INTO [CLIENTI] ([CODCLI]) VALUES('" + Row("K") + "')");
        break;
    }
    (void)LastIdentity(kContatti, &index_before_);
  }
  void Act(Scenario s) {
    if (s == Scenario::kReturn) {
      (void)to_host_->Server_SQL_Ritorno();
    } else if (s == Scenario::kBuild) {
      Build(kContatti);
    } else {
      (void)to_sql_->Server_SQL_Sincro();
    }
  }
  // After a failed build the operator builds again and has the host send the file whole.
  void Recover(Scenario s) {
    Settle();
    if (s == Scenario::kBuild) {
      Build(kContatti);
      Ctl({"refresh", "DATI/CONTATTI"});
      Settle();
    }
  }
  bool LastIdentity(int file, int64_t* last) {
    Schema schema{program_, rt_.catalogue, rt_.connessioni, confirmations_};
    const FileEntry& f = rt_.catalogue.Tab_File[size_t(file)];
    return torvan::LastIdentity(schema, f.Indice_DB, f.File, last);
  }

  void Arm(const Injection& in, int nth) {
    *plan_ = sql::FaultPlan();
    vfs_.Clear();
    if (nth == 0) return;  // counting only
    if (!in.vfs) {
      plan_->Add({in.op, nth, in.kind, 1});
    } else {
      vfs_.Add({in.vfs_op, nth, 1, in.full, ""});
    }
  }
  int Counted(const Injection& in) const {
    if (in.vfs) return in.vfs_op == sql::VfsFault::Op::kSync ? vfs_.syncs() : vfs_.writes();
    return plan_->counted(in.op);
  }
  int Injected(const Injection& in) const { return in.vfs ? vfs_.injected() : plan_->injected(); }

  // Lines of a step that failed: the ones that tell the operator.
  int Told(Scenario s) const {
    return s == Scenario::kReturn ? CountStarting("[Server_SQL_Ritorno] ")
                                  : CountStarting("[Server_SQL_Sincro] Modifica trattenuta: ") +
                                        CountStarting("[Server_SQL_Sincro] In attesa del lock su ");
  }

  void Check(Scenario s) {
    if (s == Scenario::kClear) {
      const std::string kept = Utf8ToCp1252(ReadText(program_.paths.set_aside_log));
      for (const std::string& u : unsent_) {
        EXPECT_EQ(1, Occurrences(kept, "CODCLI=" + u + " ")) << u << ": kept, once";
      }
      EXPECT_TRUE(Has(kept, "non inviata: DATI/CONTATTI svuotato sul sistema origine\r\n "));
      EXPECT_TRUE(Has(kept, " NOTA=dall'SQL")) << kept;
    }
    // Numbers of the mirror never go back: no row of a new generation takes an old one's.
    int64_t after = 0;
    EXPECT_TRUE(LastIdentity(kContatti, &after));
    EXPECT_GE(after, index_before_);
    // The files the steps touch, and the events of every database (the others are empty).
    EXPECT_EQ(Lines{}, s == Scenario::kImage ? Differences({kArchivio})
                                             : Differences({kClienti, kContatti}));
    EXPECT_EQ("0\n", Ctl({"queue"}));
    EXPECT_FALSE(Held());
    EXPECT_FALSE(HasLineStarting("[Server_SQL_Ritorno] Istruzione rifiutata"));
  }

  std::shared_ptr<sql::FaultPlan> plan_ = std::make_shared<sql::FaultPlan>();
  sql::VfsFaults vfs_;
  int serial_ = 0;
  std::vector<std::string> unsent_;
  int64_t index_before_ = 0;
};

// Each operation fails once, each way: then (a restart one time in two) nothing is lost or
// done twice, nothing else touched, and one line told what failed.
TEST_P(SqlFaultTable, EveryOperationThatFailsLosesNothing) {
  const Scenario s = Scenario(GetParam());
  for (const Injection& in : kInjections) {
    if (in.vfs && (s == Scenario::kUpdate || s == Scenario::kDelete || s == Scenario::kBuild)) {
      continue;  // the storage fails alike under every statement: three steps are enough
    }
    Prepare(s);
    Arm(in, 0);
    lines_.clear();
    Act(s);
    const int count = Counted(in);
    if (s == Scenario::kClear) {
      EXPECT_TRUE(
          HasLineStarting("[Server_SQL_Sincro] 2 modifiche non inviate di "
                          "GESTIONALE/CONTATTI accantonate in "));
    }
    if (in.vfs && in.vfs_op == sql::VfsFault::Op::kSync) {
      EXPECT_GT(count, 0) << "a durable commit reaches the disk";
    }
    Arm(in, 0);
    Recover(s);
    for (int nth = 1; nth <= count; ++nth) {
      SCOPED_TRACE(std::string(in.name) + " at operation " + std::to_string(nth) + " of " +
                   std::to_string(count));
      Prepare(s);
      lines_.clear();
      Arm(in, nth);
      Act(s);
      const bool faulted = Injected(in) > 0;
      Arm(in, 0);
      // A step that did not get through says so in one line; one that could live with it, none.
      if (faulted && s == Scenario::kReturn) {
        EXPECT_EQ(HasLineStarting("AS<-- ") ? Told(s) : 1, Told(s)) << PrintToString(lines_);
        EXPECT_LE(Told(s), 1) << PrintToString(lines_);
      } else if (faulted && s != Scenario::kBuild) {
        EXPECT_EQ(pending_->state().held ? 1 : 0, Told(s)) << PrintToString(lines_);
      }
      if (nth % 2 == 1) Restart();
      Recover(s);
      Check(s);
      if (HasFailure()) return;
    }
  }
}

// Along one run: a batch failing at a later change is undone, then split, each change applied
// once (one of a file not replicated to SQL consumed, counted and logged); an archive update
// whose DELETE fails is not applied, images neither; executed events whose rows stayed, then a
// restart, are sent again as in flight, never as new, even when the first waits for a value to
// be mended (a value the host field cannot hold is neither cut nor dropped).
TEST_F(SqlFaultTable, FailuresInsideABatchLoseNothingAndApplyNothingTwice) {
  for (int i = 1; i <= 5; ++i) Ctl({"insert", "DATI/CONTATTI", "CODCLI=B" + std::to_string(i)});
  Ctl({"insert", "DATI/ORDINI", "NUMORD=7"});
  plan_->Add({sql::FaultOp::kExecute, 8, sql::FaultKind::kError, 1});  // inside the third
  while (Pass()) {
  }
  EXPECT_EQ(1, plan_->injected());
  EXPECT_FALSE(Held());
  EXPECT_FALSE(HasLineStarting("[Server_SQL_Sincro] Modifica trattenuta: "));
  for (int rrn = 1; rrn <= 5; ++rrn) {
    EXPECT_EQ(1, Count("AS--> DATI/CONTATTI ADD RRN:" + std::to_string(rrn) + " IDX:0")) << rrn;
  }
  EXPECT_EQ(1, Count("AS--> DATI/ORDINI ADD RRN:1 IDX:0"));
  EXPECT_EQ(Table{}, Rows("SELECT * FROM [ORDINI]"));
  EXPECT_EQ(6, program_.stats.Stat_Contatori[kRecordsReceived]);
  EXPECT_EQ("0\n", Ctl({"queue"}));
  EXPECT_EQ(Lines{}, Differences());

  Ctl({"insert", "DATI/TNP_ARC_0F", "CHIAVE=PIANTA0003", "PARTI=1", "TIPO=3"});
  Settle();
  Ctl({"update", "DATI/TNP_ARC_0F", "1", "CHIAVE=FOTO000001", "PARTI=1", "TIPO=5"});
  *plan_ = sql::FaultPlan();  // counted from here: the first statement is the DELETE
  plan_->Add({sql::FaultOp::kExecute, 1, sql::FaultKind::kError, 1});
  Settle();
  EXPECT_EQ(1, plan_->injected());
  EXPECT_EQ(Lines{}, Differences({kArchivio}));

  for (const char* c : {"S1", "S2", "S3"}) {
    Exec(std::string("INSERT INTO [CONTATTI] ([CODCLI]) VALUES('") + c + "')");
  }
  *plan_ = sql::FaultPlan();
  plan_->Add({sql::FaultOp::kExecute, 1, sql::FaultKind::kError, 1});  // the batch's removal
  (void)to_host_->Server_SQL_Ritorno();
  EXPECT_EQ(1, plan_->injected());
  EXPECT_EQ(3, HostRequests('R'));
  Restart();
  Shell("UPDATE CONTATTI___ SET PUNTI = 40000 WHERE _T_PROGR___ = 1;");  // numeric(5,0), B 2
  (void)to_host_->Server_SQL_Ritorno();
  EXPECT_EQ(1, Count("[Server_SQL_Ritorno] Evento trattenuto: il valore 40000 del campo PUNTI di "
                     "DATI/CONTATTI (database GESTIONALE): il campo dell'host (tipo B, 2 byte, 5 "
                     "cifre, 0 decimali) non lo contiene; l'evento PROGR=1 resta in CONTATTI___ "
                     "finch\xE9 non \xE8 corretto"));
  EXPECT_EQ(3, HostRequests('R'));
  Shell("UPDATE CONTATTI___ SET PUNTI = 0 WHERE _T_PROGR___ = 1;");
  Settle();
  EXPECT_EQ(Lines{}, Differences({kContatti}));
  EXPECT_EQ(0, MasterRows());
}

const char* const kScenarios[] = {"HostInsert",      "HostUpdate",  "HostDelete", "HostImage",
                                  "ClearWithUnsent", "EventReturn", "Build"};
INSTANTIATE_TEST_SUITE_P(Steps, SqlFaultTable, ::testing::Range(0, 7),
                         [](const auto& info) { return kScenarios[info.param]; });

}  // namespace
}  // namespace torvan::testing
