// Opening the host link and loading the catalogue, against a scripted host.
#include "links/link_control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "catalogue/catalogue_files.h"
#include "config/scramble.h"
#include "links/runtime_test_util.h"
#include "links/scripted_host_test_util.h"
#include "platform/file.h"

namespace torvan {
namespace {

using testing::DatabaseEntry;
using testing::FieldEntry;
using testing::FileEntry;
using testing::HostCatalogue;
using testing::HostReply;
using testing::ScriptedHost;

class LinkTest : public testing::RuntimeTest {
 protected:
  LinkTest() : RuntimeTest(/*pump_sleeps_on_clock=*/true) {
    std::system(("cp " TORVAN_CHAR_TABLE " " + dir_ + "/TnC_TBL1.Tbl").c_str());
    Parametri& p = program_.settings.parametri;
    p.Nome_Connessione = "127.0.0.1";
    p.Attesa_Sincronizz = 1;
    p.Libreria = "";  // no FTP step unless a test asks for it
    rt_.link.attempts = 3;
    rt_.socket.SetPollLimitsForTesting({.read = 200, .line_wait = 200});
  }

  // A scripted host answering through `handler`, or serving `host` (kept by the caller),
  // where the link start looks for it.
  std::unique_ptr<ScriptedHost> Serve(ScriptedHost::Handler handler) {
    auto peer = std::make_unique<ScriptedHost>(std::move(handler));
    program_.settings.parametri.Porta = peer->port();
    return peer;
  }
  std::unique_ptr<ScriptedHost> Serve(HostCatalogue& host) {
    return Serve([&host](char c, const std::string& d) { return host.Answer(c, d); });
  }

  // The worked example: two databases, three files, five fields each. Positions 2-21 of
  // the field entries, which the PC never looks at, are left blank for CLIENTI and hold
  // library and file for CONTATTI, file and library for ORDINI.
  static HostCatalogue Example() {
    HostCatalogue h;
    h.databases = {DatabaseEntry("GESTIONALE", "SQLSRV01", "Segreta1"),
                   DatabaseEntry("ARCHIVIO", "SQLSRV01", "", "immagini/")};
    h.files = {FileEntry("DATI", "CLIENTI", "N", "GESTIONALE"),
               FileEntry("DATI", "CONTATTI", "S", "ARCHIVIO"),
               FileEntry("DATI", "ORDINI", "N", "ALTRO")};
    for (const char* f : {"CLIENTI", "CONTATTI", "ORDINI"}) {
      std::vector<std::string>& list = h.fields[PadRight("DATI", 10) + PadRight(f, 10)];
      for (int i = 1; i <= 4; ++i)
        list.push_back(FieldEntry("F" + std::to_string(i), 'A', 5, 0, 5 * i - 4, 5));
      list.push_back(
          FieldEntry(std::string(f) == "CONTATTI" ? "\xA7_T_IDX___" : "IMPORTO", 'P', 9, 2, 21, 5));
      const std::string free = std::string(f) == "CLIENTI"  ? ""
                               : std::string(f) == "ORDINI" ? PadRight(f, 10) + "DATI"
                                                            : PadRight("DATI", 10) + f;
      for (std::string& entry : list) entry.replace(1, 20, testing::HostText(PadRight(free, 20)));
    }
    return h;
  }
};

// The example, with a database and a file entry marked skipped ("*"): those are neither
// stored nor counted.
TEST_F(LinkTest, LoadsTheCatalogueWithTheRequestCountsOfTheExample) {
  HostCatalogue host = Example();
  host.databases.insert(host.databases.begin(), DatabaseEntry("SCARTATO", "X", "", "", '*'));
  host.files.insert(host.files.begin() + 1, FileEntry("DATI", "SCARTATO", "N", "GESTIONALE", '*'));
  std::unique_ptr<ScriptedHost> peer = Serve(host);
  ASSERT_TRUE(Server_AS_Start(rt_));
  EXPECT_TRUE(program_.state.LinkUp);
  EXPECT_EQ(4, peer->Count('3'));
  EXPECT_EQ(5, peer->Count('1'));
  EXPECT_EQ(3 * 6, peer->Count('2'));
  EXPECT_EQ(1, peer->Count('P'));
  EXPECT_EQ(1 + 4 + 5 + 18, peer->Total());
  const std::vector<std::string> requests = peer->Requests();
  EXPECT_EQ("300001S", requests[1]);
  EXPECT_EQ("300001N", requests[2]);
  EXPECT_EQ("200021SDATI      CONTATTI  ", requests[1 + 4 + 5 + 6]);
  for (const char* line : {"   Carica elenco database", "   Carica elenco files",
                           "   Carica campi di DATI/CONTATTI"}) {
    EXPECT_TRUE(Has(line)) << line;
  }

  std::vector<DataBase_Rec> dbs;
  ASSERT_TRUE(ReadDataBaseRecs(program_.paths.database_catalogue, &dbs).ok());
  ASSERT_EQ(2u, dbs.size());
  EXPECT_EQ(PadRight("GESTIONALE", 20), dbs[0].Nome_DB);
  EXPECT_EQ(PadRight("Segreta1", 20), Decodifica_Parametri(dbs[0].Password_DB).text);
  EXPECT_NE(dbs[0].Password_DB, PadRight("Segreta1", 20));
  std::vector<File_Rec> files;
  ASSERT_TRUE(ReadFileRecs(program_.paths.file_catalogue, &files).ok());
  ASSERT_EQ(3u, files.size());
  EXPECT_EQ(1, files[0].Indice_DB);
  EXPECT_EQ(2, files[1].Indice_DB);
  EXPECT_EQ(0, files[2].Indice_DB);  // a database the host did not list
  std::vector<Campo_Rec> fields;
  ASSERT_TRUE(ReadCampoRecs(program_.paths.FieldFile(2), &fields).ok());
  ASSERT_EQ(5u, fields.size());
  EXPECT_EQ("\xA7_T_IDX___", fields[4].Nome);
  EXPECT_EQ(9, fields[4].Lunghezza);
  EXPECT_EQ(2, fields[4].Decimali);
  EXPECT_EQ(21, fields[4].Posizione);
  EXPECT_EQ(5, fields[4].Byte);

  EXPECT_EQ(2, rt_.catalogue.N_DB);
  EXPECT_FALSE(rt_.catalogue.DB_Ritorno[1]);
  EXPECT_TRUE(rt_.catalogue.DB_Ritorno[2]);
  EXPECT_EQ(3, rt_.catalogue.N_File);
  EXPECT_EQ("CONTATTI", rt_.catalogue.Tab_File[2].File);
  EXPECT_EQ(5, rt_.catalogue.Tab_File[2].Campo_IDX - rt_.catalogue.Tab_File[2].Primo_Campo + 1);
  EXPECT_FALSE(rt_.catalogue.Catalogo_Errato);
  EXPECT_EQ("immagini/", rt_.catalogue.Tab_Cartelle_DB[2]);

  EXPECT_EQ("20261205230000", program_.state.HostStopTime);
  EXPECT_EQ("05/12/26  23:00", program_.stats.Stat_Testi[kHostStopText]);
  EXPECT_EQ("06/12/26  06:00", program_.stats.Stat_Testi[kHostRestartText]);
  EXPECT_EQ(0, clock_.set_calls);  // ClockMode is empty

  EXPECT_TRUE(Server_AS_Stop(rt_));
  EXPECT_FALSE(program_.state.LinkUp);
}

// Every catalogue file of the folder, with its bytes (staging folders included).
std::map<std::string, std::string> FolderFiles(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    std::string bytes;
    if (e.is_regular_file()) (void)platform::ReadFile(e.path().string(), &bytes);
    files[std::filesystem::relative(e.path(), dir).string()] = bytes;
  }
  return files;
}

// What the in-memory catalogue holds, as one text.
std::string Summary(const Catalogue& c) {
  std::string s = "N_DB=" + std::to_string(c.N_DB) + " ritorno=";
  for (bool b : c.DB_Ritorno) s += b ? "S" : "N";
  for (size_t i = 1; i < c.Tab_File.size(); ++i) {
    const torvan::FileEntry& f = c.Tab_File[i];
    s += " " + f.Libreria + "/" + f.File + ":";
    for (int32_t k = f.Primo_Campo; k <= f.Ultimo_Campo; ++k)
      s += c.Tab_Campi[size_t(k)].Nome + ",";
  }
  return s;
}

std::string HostBytes(std::string_view pc) { return testing::HostText(pc); }

// A catalogue load that does not finish fails, whatever broke it and wherever: the link is
// closed, and the catalogue files and the in-memory catalogue of the previous load stay
// exactly as they were (so no field ever lands in another file's field catalogue). One that
// finishes replaces it whole.
TEST_F(LinkTest, ALoadThatDoesNotFinishKeepsThePreviousCatalogueOneThatDoesReplacesIt) {
  struct Damage {
    const char* meaning;
    char code;       // the request whose reply is damaged
    int occurrence;  // its n-th request of that code, from 1; 0 for every one
    HostReply reply;
    std::string message;  // the line before "Errore generico in Carica_File"
  };
  const std::string header200 = HostBytes("0") + HostBytes("00200");
  const Damage damages[] = {
      {"a length that is not digits", '3', 1,
       HostReply::Raw(HostBytes("0") + HostBytes("0A012") + std::string(12, '\x40')),
       "[Carica_File] Errore Sock_Read {3}(2)"},
      {"a length past the data", '1', 2,
       HostReply::Raw(header200 + FileEntry("DATI", "CONTATTI", "N", "ARCHIVIO").substr(0, 50)),
       "[Carica_File] Errore Sock_Read {1}(2)"},
      {"a database entry cut short", '3', 2,
       HostReply::Served(DatabaseEntry("ARCHIVIO", "SQLSRV01", "").substr(0, 100)),
       "[Carica_File] Errore Sock_Read {3}(2)"},
      {"a field entry cut short", '2', 3,
       HostReply::Served(FieldEntry("F3", 'A', 5, 0, 11, 5).substr(0, 40)),
       "[Carica_File] Errore Sock_Read {2}(2)"},
      {"a connection that closes during the field lists", '2', 8, HostReply::Close(),
       "[Carica_File] Errore Sock_Read {2}(1)"},
      {"a silent host", '3', 1, HostReply::Silent(), "[Carica_File] Errore Sock_Read {3}(1)"},
      {"no database", '3', 1, HostReply::Refused(), "   Carica elenco database"},
      {"a file sent back to an unknown database", '1', 5,
       HostReply::Served(FileEntry("DATI", "ORFANO", "S", "NESSUNO")), "   Carica elenco files"},
      {"a field list that never ends", '2', 0,
       HostReply::Served(FieldEntry("SALTATO", 'A', 1, 0, 1, 1, ' ', '*')),
       "   *** ERRORE ***  L'elenco dei campi di DATI/CLIENTI supera 4067 voci"},
  };

  // The previous catalogue: the example.
  HostCatalogue good = Example();
  {
    std::unique_ptr<ScriptedHost> peer = Serve(good);
    ASSERT_TRUE(Server_AS_Start(rt_));
    Server_AS_Stop(rt_);
  }
  const std::map<std::string, std::string> files = FolderFiles(dir_);
  const std::string summary = Summary(rt_.catalogue);
  ASSERT_EQ(6u, files.size());  // the character table, TnC_DB, TnC_FILE, three field files

  for (const Damage& damage : damages) {
    // The host has changed its catalogue since: a load that finished would show it.
    HostCatalogue host = Example();
    host.files.push_back(FileEntry("DATI", "NUOVO", "N", "GESTIONALE"));
    host.fields[PadRight("DATI", 10) + PadRight("NUOVO", 10)] = {FieldEntry("N1", 'A', 1, 0, 1, 1)};
    int seen = 0;
    std::unique_ptr<ScriptedHost> peer = Serve([&](char c, const std::string& d) {
      if (c == damage.code && (damage.occurrence == 0 || ++seen == damage.occurrence)) {
        return damage.reply;
      }
      return host.Answer(c, d);
    });
    lines_.clear();
    EXPECT_FALSE(Server_AS_Start(rt_)) << damage.meaning;
    EXPECT_FALSE(program_.state.LinkUp) << damage.meaning;
    ASSERT_GE(lines_.size(), 2u) << damage.meaning;
    EXPECT_EQ(damage.message, lines_[lines_.size() - 2]) << damage.meaning;
    EXPECT_EQ("Errore generico in Carica_File", lines_.back()) << damage.meaning;
    EXPECT_EQ(files, FolderFiles(dir_)) << damage.meaning;
    EXPECT_EQ(summary, Summary(rt_.catalogue)) << damage.meaning;
  }

  // A reload that finishes replaces the whole catalogue: no field file of a file gone stays.
  HostCatalogue fewer = Example();
  fewer.files.pop_back();
  fewer.fields[PadRight("DATI", 10) + PadRight("CLIENTI", 10)].pop_back();
  std::unique_ptr<ScriptedHost> peer = Serve(fewer);
  ASSERT_TRUE(Server_AS_Start(rt_));
  std::vector<std::string> names;
  for (const auto& [name, bytes] : FolderFiles(dir_)) names.push_back(name);
  EXPECT_EQ(std::vector<std::string>({"TnC_DB.DAT", "TnC_FILE.DAT", "TnC_F_00001.DAT",
                                      "TnC_F_00002.DAT", "TnC_TBL1.Tbl"}),
            names);
  EXPECT_EQ(2, rt_.catalogue.N_File);
  EXPECT_EQ(4, rt_.catalogue.Tab_File[1].N_Campi);
  Server_AS_Stop(rt_);
}

TEST_F(LinkTest, AnUnansweredPortIsTriedAgainWithItsMessages) {
  int port = hostlink::testing::ClosedPort();
  program_.settings.parametri.Porta = port;
  // What the start does is shown while it does it, and gone when it returns.
  std::vector<std::string> shown;
  pump_.on_events = [&] {
    if (shown.empty() || shown.back() != program_.state.Attivita) {
      shown.push_back(program_.state.Attivita);
    }
  };
  EXPECT_FALSE(Server_AS_Start(rt_));
  // (The last attempt, refused at once and followed by no pause, lets no events run.)
  EXPECT_EQ((std::vector<std::string>{"Collegamento al Server 127.0.0.1 (1/3)",
                                      "Collegamento al Server 127.0.0.1 (2/3)"}),
            shown);
  EXPECT_EQ("", program_.state.Attivita);
  EXPECT_EQ("Il server 127.0.0.1:" + std::to_string(port) + " non risponde", rt_.link_failure);
  for (int k = 1; k <= 3; ++k) {
    EXPECT_TRUE(Has("   Il server 127.0.0.1:" + std::to_string(port) + " non risponde (" +
                    std::to_string(k) + "/3)"));
  }
  // 150 pauses of 200 ms between attempts, none after the last.
  EXPECT_EQ(2 * 150, pump_.sleeps);
  EXPECT_FALSE(program_.state.LinkUp);

  // A host whose greeting is a refusal does not answer either.
  hostlink::testing::ScriptedPeer refusing([](hostlink::testing::PeerConnection& c) {
    c.Write("\xF1\xF0\xF0\xF0\xF0\xF0");
    c.SeesEnd();
  });
  program_.settings.parametri.Porta = refusing.port();
  rt_.link.attempts = 1;
  EXPECT_FALSE(Server_AS_Start(rt_));
  EXPECT_TRUE(
      Has("   Il server 127.0.0.1:" + std::to_string(refusing.port()) + " non risponde (1/1)"));
  EXPECT_FALSE(program_.state.LinkUp);
}

TEST_F(LinkTest, AStopAskedForDuringThePausesEndsTheAttempts) {
  int port = hostlink::testing::ClosedPort();
  program_.settings.parametri.Porta = port;
  rt_.link.attempts = 20;
  // The operator's stop arrives as an event during the first pause, after 10 seconds.
  pump_.on_events = [&] {
    if (pump_.sleeps == 50) program_.state.Stop_Richiesto = true;
  };
  EXPECT_FALSE(Server_AS_Start(rt_));
  EXPECT_EQ(50, pump_.sleeps);
  EXPECT_EQ(1,
            CountLines("   Il server 127.0.0.1:" + std::to_string(port) + " non risponde (1/20)"));
  EXPECT_FALSE(Has("   Il server 127.0.0.1:" + std::to_string(port) + " non risponde (2/20)"));
  EXPECT_FALSE(program_.state.LinkUp);
}

TEST_F(LinkTest, TheRestartVariantAndTheHostClock) {
  HostCatalogue host = Example();
  host.time_reply =
      testing::TimeReply(std::string(14, 'S'), std::string(14, ' '), "20270102030405678");
  std::unique_ptr<ScriptedHost> peer = Serve(host);
  program_.settings.parametri.Attesa_Restart = 30;
  program_.settings.ClockMode = "2";
  clock_.Set({2026, 12, 5, 10, 0, 0, 0});
  ASSERT_TRUE(Server_AS_Start(rt_));
  EXPECT_EQ(1, peer->Count('T'));
  EXPECT_EQ(0, peer->Count('P'));
  EXPECT_EQ("T0002020261205100000000000", peer->Requests()[0]);
  EXPECT_EQ("20261205100000", program_.state.HostStopTime);
  EXPECT_EQ("20261205103000", program_.state.HostRestartTime);
  EXPECT_EQ("Stop", program_.stats.Stat_Testi[kHostStopText]);
  EXPECT_EQ("05/12/26  10:30", program_.stats.Stat_Testi[kHostRestartText]);
  EXPECT_EQ((platform::LocalDateTime{2027, 1, 2, 3, 4, 5, 678}), clock_.last_set);
  Server_AS_Stop(rt_);
}

TEST_F(LinkTest, AHostStayingUpInRestartModeIsShownActive) {
  HostCatalogue host = Example();
  host.time_reply = testing::TimeReply("N" + std::string(27, ' '), "", "99999999999999999");
  std::unique_ptr<ScriptedHost> peer = Serve(host);
  program_.settings.parametri.Attesa_Restart = 30;
  program_.settings.ClockMode = "2";
  clock_.Set({2026, 12, 31, 23, 50, 0, 0});
  ASSERT_TRUE(Server_AS_Start(rt_));
  EXPECT_EQ("20270101235000", program_.state.HostStopTime);
  EXPECT_EQ("20270102002000", program_.state.HostRestartTime);
  EXPECT_EQ("Attivo", program_.stats.Stat_Testi[kHostStopText]);
  EXPECT_EQ("", program_.stats.Stat_Testi[kHostRestartText]);
  EXPECT_EQ(0, clock_.set_calls);  // not a date: the PC clock is left alone
  Server_AS_Stop(rt_);
}

TEST_F(LinkTest, ARefusedTimeExchangeIsReportedAndTheStartGoesOn) {
  HostCatalogue host = Example();
  std::unique_ptr<ScriptedHost> peer = Serve([&](char c, const std::string& d) {
    if (c == 'P') return HostReply::Refused();
    return host.Answer(c, d);
  });
  ASSERT_TRUE(Server_AS_Start(rt_));
  EXPECT_TRUE(Has("[Server_AS_Start] Errore Esito {P}"));
  EXPECT_EQ("", program_.state.HostStopTime);
  Server_AS_Stop(rt_);
}

TEST_F(LinkTest, ATimeReplyCutShortClosesTheLinkAndTheStartEndsAtOnce) {
  HostCatalogue host = Example();
  std::unique_ptr<ScriptedHost> peer = Serve([&](char c, const std::string& d) {
    if (c == 'P') return HostReply::Close();
    return host.Answer(c, d);
  });
  EXPECT_FALSE(Server_AS_Start(rt_));
  // The link is out of step after a failed read: the catalogue load fails at once on it.
  EXPECT_TRUE(Has("[Server_AS_Start] Errore Sock_Read {P}(1)"));
  EXPECT_TRUE(Has("[Carica_File] Errore Sock_Read {3}(1)"));
  EXPECT_TRUE(Has("Errore generico in Carica_File"));
  EXPECT_EQ(0, peer->Count('3'));  // nothing more was sent on the closed link
  EXPECT_FALSE(program_.state.LinkUp);
}

TEST_F(LinkTest, AMissingOrDamagedCharacterTableEndsTheStartNamingTheFault) {
  struct Row {
    const char* what;
    std::string bytes;
    std::string fault;  // "": the file is missing, the fault is the system's
  };
  std::string shipped;
  ASSERT_TRUE(platform::ReadFile(TORVAN_CHAR_TABLE, &shipped).ok());
  std::string no_digits = shipped;
  no_digits[hostlink::kCharTableHeaderLength + 0xF3] = ' ';
  const Row rows[] = {
      {"missing", "", ""},
      {"short", shipped.substr(0, 100), "lunga 100 byte invece di 262: le voci mancanti valgono 0"},
      {"a digit lost", no_digits, "la cifra \"3\" non corrisponde al byte host F3"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    lines_.clear();
    if (r.fault.empty()) {
      std::filesystem::remove(dir_ + "/TnC_TBL1.Tbl");
    } else {
      ASSERT_TRUE(platform::WriteFileAtomic(dir_ + "/TnC_TBL1.Tbl", r.bytes, 0644).ok());
    }
    program_.settings.parametri.Porta = hostlink::testing::ClosedPort();
    EXPECT_FALSE(Server_AS_Start(rt_));
    ASSERT_EQ(1u, lines_.size());
    const std::string said =
        "ERRORE nella lettura della tabella caratteri " + dir_ + "/TnC_TBL1.Tbl: ";
    if (r.fault.empty()) {
      EXPECT_EQ(0u, lines_[0].find(said)) << lines_[0];
    } else {
      EXPECT_EQ(said + r.fault, lines_[0]);
    }
    EXPECT_FALSE(program_.state.LinkUp);
    EXPECT_FALSE(rt_.socket.started());
  }
}

TEST(HostProgramCommand, StandardSettings) {
  EXPECT_EQ("CALL TM/TNM_121 ('P04200')", HostProgramCommand("TM        ", 4200));
}

}  // namespace
}  // namespace torvan
