// Opening the host link and loading the catalogue, against a scripted host.
#include "links/link_control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <tuple>

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
using testing::HostText;
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

  // A scripted host where the link start looks for it (`host` kept by the caller).
  std::unique_ptr<ScriptedHost> Serve(ScriptedHost::Handler handler) {
    auto peer = std::make_unique<ScriptedHost>(std::move(handler));
    program_.settings.parametri.Porta = peer->port();
    return peer;
  }
  std::unique_ptr<ScriptedHost> Serve(HostCatalogue& host) {
    return Serve([&host](char c, const std::string& d) { return host.Answer(c, d); });
  }

  // Two databases, three files, five fields each; entry positions 2-21 (never read) vary.
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
      for (std::string& entry : list) entry.replace(1, 20, HostText(PadRight(free, 20)));
    }
    return h;
  }
};

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

// The in-memory catalogue as one text: per file its field count, index field place, fields.
std::string Summary(const Catalogue& c) {
  std::string s = "N_DB=" + std::to_string(c.N_DB) + " ritorno=";
  for (bool b : c.DB_Ritorno) s += b ? "S" : "N";
  for (size_t i = 1; i < c.Tab_File.size(); ++i) {
    const torvan::FileEntry& f = c.Tab_File[i];
    s += " " + f.Libreria + "/" + f.File + "(" + std::to_string(f.N_Campi) + "," +
         std::to_string(f.Campo_IDX == 0 ? 0 : f.Campo_IDX - f.Primo_Campo + 1) + "):";
    for (int32_t k = f.Primo_Campo; k <= f.Ultimo_Campo; ++k)
      s += c.Tab_Campi[size_t(k)].Nome + ",";
  }
  return s;
}

const char kExampleSummary[] =
    "N_DB=2 ritorno=NNS DATI/CLIENTI(5,0):F1,F2,F3,F4,IMPORTO, "
    "DATI/CONTATTI(5,5):F1,F2,F3,F4,\xA7_T_IDX___, DATI/ORDINI(5,0):F1,F2,F3,F4,IMPORTO,";
const char kFewerSummary[] =
    "N_DB=2 ritorno=NNS DATI/CLIENTI(4,0):F1,F2,F3,F4, "
    "DATI/CONTATTI(5,5):F1,F2,F3,F4,\xA7_T_IDX___,";

// The example with skipped entries; an unfinished load keeps the old catalogue exactly.
TEST_F(LinkTest, LoadsTheExampleKeepsItThroughUnfinishedLoadsReplacesItByAFinishedOne) {
  HostCatalogue host = Example();
  host.databases.insert(host.databases.begin(), DatabaseEntry("SCARTATO", "X", "", "", '*'));
  host.files.insert(host.files.begin() + 1, FileEntry("DATI", "SCARTATO", "N", "GESTIONALE", '*'));
  std::unique_ptr<ScriptedHost> peer = Serve(host);
  ASSERT_TRUE(Server_AS_Start(rt_));
  EXPECT_TRUE(program_.state.LinkUp);
  const std::vector<std::string> sent = peer->Requests();
  EXPECT_EQ(std::tuple(4, 5, 3 * 6, 1, 1 + 4 + 5 + 18, "300001S", "300001N",
                       "200021SDATI      CONTATTI  "),
            std::tuple(peer->Count('3'), peer->Count('1'), peer->Count('2'), peer->Count('P'),
                       peer->Total(), sent[1], sent[2], sent[1 + 4 + 5 + 6]));

  std::vector<DataBase_Rec> dbs;
  std::vector<File_Rec> files;
  std::vector<Campo_Rec> fields;
  ASSERT_TRUE(ReadDataBaseRecs(program_.paths.database_catalogue, &dbs).ok() &&
              ReadFileRecs(program_.paths.file_catalogue, &files).ok() &&
              ReadCampoRecs(program_.paths.FieldFile(2), &fields).ok());
  ASSERT_EQ(std::tuple(2u, 3u, 5u), std::tuple(dbs.size(), files.size(), fields.size()));
  // The password stored scrambled; the third file's database is one the host did not list.
  EXPECT_NE(dbs[0].Password_DB, PadRight("Segreta1", 20));
  EXPECT_EQ(std::tuple(PadRight("GESTIONALE", 20), PadRight("Segreta1", 20), 1, 2, 0),
            std::tuple(dbs[0].Nome_DB, Decodifica_Parametri(dbs[0].Password_DB).text,
                       files[0].Indice_DB, files[1].Indice_DB, files[2].Indice_DB));
  const Campo_Rec& idx = fields[4];
  EXPECT_EQ(std::tuple("\xA7_T_IDX___", 9, 2, 21, 5),
            std::tuple(idx.Nome, idx.Lunghezza, idx.Decimali, idx.Posizione, idx.Byte));
  EXPECT_EQ(kExampleSummary, Summary(rt_.catalogue));
  EXPECT_EQ(std::tuple(false, "immagini/"),
            std::tuple(rt_.catalogue.Catalogo_Errato, rt_.catalogue.Tab_Cartelle_DB[2]));
  // The P variant: the host's times as it sent them; the PC clock left alone (ClockMode "").
  EXPECT_EQ(std::tuple("20261205230000", "05/12/26  23:00", "06/12/26  06:00", 0),
            std::tuple(program_.state.HostStopTime, program_.stats.Stat_Testi[kHostStopText],
                       program_.stats.Stat_Testi[kHostRestartText], clock_.set_calls));
  EXPECT_TRUE(Server_AS_Stop(rt_));
  EXPECT_FALSE(program_.state.LinkUp);
  peer.reset();

  struct Damage {
    const char* meaning;
    char code;       // the request whose reply is damaged,
    int occurrence;  // its n-th one, from 1 (0: every one)
    HostReply reply;
    std::string message;  // the line before "Errore generico in Carica_File"
  };
  const std::string header200 = HostText("0") + HostText("00200");
  const Damage damages[] = {
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
  const std::map<std::string, std::string> kept = FolderFiles(dir_);
  ASSERT_EQ(6u, kept.size());  // the character table, TnC_DB, TnC_FILE, three field files

  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.meaning);
    // The host has changed its catalogue since: a load that finished would show it.
    HostCatalogue changed = Example();
    changed.files.push_back(FileEntry("DATI", "NUOVO", "N", "GESTIONALE"));
    changed.fields[PadRight("DATI", 10) + PadRight("NUOVO", 10)] = {
        FieldEntry("N1", 'A', 1, 0, 1, 1)};
    int seen = 0;
    std::unique_ptr<ScriptedHost> damaged = Serve([&](char c, const std::string& d) {
      if (c == damage.code && (damage.occurrence == 0 || ++seen == damage.occurrence)) {
        return damage.reply;
      }
      return changed.Answer(c, d);
    });
    lines_.clear();
    EXPECT_FALSE(Server_AS_Start(rt_));
    EXPECT_FALSE(program_.state.LinkUp);
    ASSERT_GE(lines_.size(), 2u);
    EXPECT_EQ(std::tuple(damage.message, "Errore generico in Carica_File"),
              std::tuple(lines_[lines_.size() - 2], lines_.back()));
    EXPECT_EQ(kept, FolderFiles(dir_));
    EXPECT_EQ(kExampleSummary, Summary(rt_.catalogue));
  }

  // A file and a field fewer: nothing of the old catalogue stays in memory (nor on disk: the
  // catalogue switch's tests).
  HostCatalogue fewer = Example();
  fewer.files.pop_back();
  fewer.fields[PadRight("DATI", 10) + PadRight("CLIENTI", 10)].pop_back();
  peer = Serve(fewer);
  ASSERT_TRUE(Server_AS_Start(rt_));
  EXPECT_EQ(kFewerSummary, Summary(rt_.catalogue));
  Server_AS_Stop(rt_);
}

// Each attempt shown and logged; a 150 x 200 ms pause after all but the last; a stop ends.
TEST_F(LinkTest, AnUnansweredPortIsTriedAgainUntilTheLastAttemptOrAStop) {
  const int port = program_.settings.parametri.Porta = hostlink::testing::ClosedPort();
  auto no_answer = [&](int k, int of) {
    return "   Il server 127.0.0.1:" + std::to_string(program_.settings.parametri.Porta) +
           " non risponde (" + std::to_string(k) + "/" + std::to_string(of) + ")";
  };
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
  EXPECT_EQ(
      std::tuple("", "Il server 127.0.0.1:" + std::to_string(port) + " non risponde", 2 * 150,
                 false),
      std::tuple(program_.state.Attivita, rt_.link_failure, pump_.sleeps, program_.state.LinkUp));
  for (int k = 1; k <= 3; ++k) EXPECT_TRUE(Has(no_answer(k, 3))) << k;

  // A host whose greeting is a refusal does not answer either.
  hostlink::testing::ScriptedPeer refusing([](hostlink::testing::PeerConnection& c) {
    c.Write("\xF1\xF0\xF0\xF0\xF0\xF0");
    c.SeesEnd();
  });
  program_.settings.parametri.Porta = refusing.port();
  rt_.link.attempts = 1;
  EXPECT_FALSE(Server_AS_Start(rt_));
  EXPECT_TRUE(Has(no_answer(1, 1)));
  EXPECT_FALSE(program_.state.LinkUp);

  // The operator's stop arrives as an event during the first pause, after 10 seconds.
  program_.settings.parametri.Porta = port;
  rt_.link.attempts = 20;
  pump_.sleeps = 0;
  pump_.on_events = [&] {
    if (pump_.sleeps == 50) program_.state.Stop_Richiesto = true;
  };
  EXPECT_FALSE(Server_AS_Start(rt_));
  EXPECT_EQ(std::tuple(50, 1, false, false),
            std::tuple(pump_.sleeps, CountLines(no_answer(1, 20)), Has(no_answer(2, 20)),
                       program_.state.LinkUp));
}

// The P and T exchanges: a refusal, a reply cut short, the restart pause, the PC clock.
TEST_F(LinkTest, TheTimeExchangeOfEachVariantAndItsFailures) {
  using platform::LocalDateTime;
  auto at = [](int y, int mo, int d, int h, int mi, int sec = 0, int ms = 0) {
    return LocalDateTime{y, mo, d, h, mi, sec, ms};
  };
  const struct {
    const char* what;
    HostReply reply;  // to the P or T request
    int restart;      // Attesa_Restart: 0 asks with P
    LocalDateTime now;
    std::string sent;    // the time request
    std::string logged;  // lines logged, "\n" after each
    std::string times;   // HostStopTime, HostRestartTime and their texts, "|" between them
    std::optional<LocalDateTime> clock_set;
  } rows[] = {
      {"refused", HostReply::Refused(), 0, LocalDateTime(), "P0002019000101000000000000",
       "[Server_AS_Start] Errore Esito {P}\n", "|||", std::nullopt},
      {"cut short", HostReply::Close(), 0, LocalDateTime(), "P0002019000101000000000000",
       "[Server_AS_Start] Errore Sock_Read {P}(1)\n[Carica_File] Errore Sock_Read {3}(1)\n"
       "Errore generico in Carica_File\n",
       "|||", std::nullopt},
      {"T, the host stopping and the PC clock set",
       HostReply::Served(
           testing::TimeReply(std::string(14, 'S'), std::string(14, ' '), "20270102030405678")),
       30, at(2026, 12, 5, 10, 0), "T0002020261205100000000000", "",
       "20261205100000|20261205103000|Stop|05/12/26  10:30", at(2027, 1, 2, 3, 4, 5, 678)},
      {"T, the host staying up, its clock not a date",
       HostReply::Served(testing::TimeReply("N" + std::string(27, ' '), "", "99999999999999999")),
       30, at(2026, 12, 31, 23, 50), "T0002020261231235000000000", "",
       "20270101235000|20270102002000|Attivo|", std::nullopt},
  };
  program_.settings.ClockMode = "2";
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    HostCatalogue host = Example();
    std::unique_ptr<ScriptedHost> peer = Serve([&](char c, const std::string& d) {
      return c == 'P' || c == 'T' ? r.reply : host.Answer(c, d);
    });
    program_.settings.parametri.Attesa_Restart = r.restart;
    clock_.Set(r.now);
    const int sets = clock_.set_calls;
    lines_.clear();
    const bool closed = r.reply.kind == HostReply::kClose;
    EXPECT_EQ(!closed, Server_AS_Start(rt_));
    EXPECT_EQ(!closed, program_.state.LinkUp);
    EXPECT_EQ(r.sent, peer->Requests().at(0));
    for (size_t at = 0, end; (end = r.logged.find('\n', at)) != std::string::npos; at = end + 1) {
      EXPECT_TRUE(Has(r.logged.substr(at, end - at))) << r.logged.substr(at, end - at);
    }
    const Statistics& stats = program_.stats;
    EXPECT_EQ(r.times, program_.state.HostStopTime + "|" + program_.state.HostRestartTime + "|" +
                           stats.Stat_Testi[kHostStopText] + "|" +
                           stats.Stat_Testi[kHostRestartText]);
    EXPECT_EQ(r.clock_set, clock_.set_calls > sets ? std::optional(clock_.last_set) : std::nullopt);
    EXPECT_EQ(closed ? 0 : 3, peer->Count('3'));  // nothing more sent on a closed link
    Server_AS_Stop(rt_);
  }
}

// The start ends at once, naming the file and the fault (a missing table: the window tests).
TEST_F(LinkTest, ADamagedCharacterTableEndsTheStartNamingTheFault) {
  std::string shipped;
  ASSERT_TRUE(platform::ReadFile(TORVAN_CHAR_TABLE, &shipped).ok());
  ASSERT_TRUE(platform::WriteFileAtomic(dir_ + "/TnC_TBL1.Tbl", shipped.substr(0, 100), 0644).ok());
  program_.settings.parametri.Porta = hostlink::testing::ClosedPort();
  EXPECT_FALSE(Server_AS_Start(rt_));
  EXPECT_EQ(std::vector<std::string>{"ERRORE nella lettura della tabella caratteri " + dir_ +
                                     "/TnC_TBL1.Tbl: lunga 100 byte invece di 262: le voci "
                                     "mancanti valgono 0"},
            lines_);
  EXPECT_FALSE(program_.state.LinkUp || rt_.socket.started());
}

TEST(HostProgramCommand, StandardSettings) {
  EXPECT_EQ("CALL TM/TNM_121 ('P04200')", HostProgramCommand("TM        ", 4200));
}

}  // namespace
}  // namespace torvan
