// The torvan command line, run as an operator runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "catalogue/catalogue_files.h"
#include "config/ini_file.h"
#include "config/scramble.h"
#include "control/exposition_test_util.h"
#include "hostlink/test_peer.h"
#include "links/scripted_host_test_util.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "replication/testing/host_process.h"

namespace torvan {
namespace {

struct Result {
  int exit_code;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.path();
    setenv("TORVAN_HOSTS_FILE", (dir_ + "/hosts").c_str(), 1);
  }
  void TearDown() override { unsetenv("TORVAN_HOSTS_FILE"); }

  Result Run(const std::string& args) {
    std::string cmd = std::string(TORVAN_EXE) + " --dir " + dir_ + " " + args + " >" + dir_ +
                      "/out 2>" + dir_ + "/err </dev/null";
    int status = std::system(cmd.c_str());
    Result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, "", ""};
    (void)platform::ReadFile(dir_ + "/out", &r.out);
    (void)platform::ReadFile(dir_ + "/err", &r.err);
    return r;
  }
  std::string Ini() {
    std::string s;
    (void)platform::ReadFile(dir_ + "/TnC.INI", &s);
    return s;
  }

  platform::TempFolder folder_{"torvan-test"};
  std::string dir_;
};

TEST_F(CliTest, StandardThenShowGivesTheStandardValuesWithTheirDerivedValues) {
  Result w = Run("settings --standard");
  ASSERT_EQ(0, w.exit_code) << w.err;
  EXPECT_NE(std::string::npos, w.out.find(" - Opzioni aggiornate\n"));
  Result r = Run("settings");
  ASSERT_EQ(0, r.exit_code) << r.err;
  EXPECT_EQ(
      "Nome_Connessione=sistema origine\nUtente=UTENTE\nPassword=\nPorta=4200\n"
      "Attesa_Sincronizz=2\nAttesa_Dopo_Start=30\nAttesa_Prima_Stop=15\n"
      "Ciclo_Sincronizz=1000\nLibreria=TM\nPorta_FTP=21\nLog_Su_File=N\nNative_Client=N\n"
      "Attesa_Restart=0\nLog_PC_AS=N\nAttesa_Riprova=0\nIndirizzo_Host=0.0.0.0\nDurevole=0\n"
      "Motore=SQLite\nMotori=\nDriver=FreeTDS\nDriver_Nativo=ODBC Driver 18 for SQL Server\n"
      "Attributi=\nMetriche=0\nMetriche_Indirizzo=127.0.0.1\nLotto_Modifiche=200\n"
      "Lotto_Ms=200\nGiornale_Modifiche=10000\nGiornale_Byte=67108864\nConflitti=HOST\n"
      "Finestra_Conflitti=120\n",
      r.out);
  struct stat st {};
  ASSERT_EQ(0, stat((dir_ + "/TnC.INI").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST_F(CliTest, SetTypesIntoTheFormAndKeepsTheOtherBoxes) {
  ASSERT_EQ(0, Run("settings --standard").exit_code);
  Result w =
      Run("settings set Nome_Connessione=127.0.0.1 Attesa_Restart=5 Log_Su_File=S "
          "Utente=ftptest Password=Segreto1");
  ASSERT_EQ(0, w.exit_code) << w.err;
  EXPECT_EQ("torvan: Utente memorizzato in maiuscolo: FTPTEST\n",
            w.out.substr(0, w.out.find('\n') + 1));
  Result r = Run("settings");
  // The password is shown nowhere as it is, here neither.
  for (const char* line :
       {"Nome_Connessione=127.0.0.1\n", "Utente=FTPTEST\n", "Password=********\n",
        "Attesa_Restart=5\n", "Attesa_Riprova=30\n", "Attesa_Dopo_Start=0\n", "Log_Su_File=S\n",
        "Porta=4200\n", "Indirizzo_Host=127.0.0.1\n"}) {
    EXPECT_NE(std::string::npos, r.out.find(line)) << line;
  }
  // The message is logged before the new settings are read: only the next save reaches
  // the log file.
  EXPECT_FALSE(platform::FileExists(dir_ + "/TnC.Log"));
  ASSERT_EQ(0, Run("settings set Porta=4201").exit_code);
  std::string log;
  ASSERT_TRUE(platform::ReadFile(dir_ + "/TnC.Log", &log).ok());
  EXPECT_NE(std::string::npos, log.find(" - Opzioni aggiornate\r\n"));
}

// An assignment that is wrong, or a value the settings cannot hold, is refused whole: exit
// 2, what is wrong, and the file untouched (also the values typed before it). The rules of
// each value are the settings' own; here is what the command line adds: its words, the
// arguments' UTF-8, the shell's quotes.
TEST_F(CliTest, BadAssignmentsAndValuesAreRefusedAndTheFileIsLeftUntouched) {
  ASSERT_EQ(0, Run("settings --standard").exit_code);
  const std::string before = Ini();
  const std::pair<const char*, const char*> rows[] = {
      {"Portaa=1", ""},
      {"Porta", ""},
      {"=3", ""},
      {"Log_PC_AS=maybe", ""},
      {"Porta=1 Bogus=2", ""},
      {"Porta_FTP=2121 Porta=-1",
       "torvan: Porta: un numero intero da 1 a 65535, non \"-1\"; nulla \xC3\xA8 stato scritto\n"},
      {"Utente=jos\xC3\xA9",
       "torvan: Utente: il carattere \"\xC3\xA9\" non si pu\xC3\xB2 "
       "memorizzare (solo i codici da 32 a 123); nulla \xC3\xA8 stato scritto\n"},
      {"Nome_Connessione=\xE6\x9D\xB1\xE4\xBA\xAC",
       "torvan: Nome_Connessione: \"??\" ha un carattere che Windows-1252 non pu\xC3\xB2 "
       "tenere; nulla \xC3\xA8 stato scritto\n"},
      {"Durevole=1 Metriche=70000",
       "torvan: Metriche: un numero intero da 0 a 65535, non \"70000\"; nulla \xC3\xA8 stato "
       "scritto\n"},
      {"Durevole=1 Attributi=\"' a=1'\"",
       "torvan: Attributi: senza spazi alle estremit\xC3\xA0 n\xC3\xA9 tra virgolette; nulla "
       "\xC3\xA8 stato scritto\n"},
      {"Motore=Oracle",
       "torvan: Motore: SQLite, ODBC o PostgreSQL, non \"Oracle\"; nulla \xC3\xA8 stato "
       "scritto\n"},
      {"'Motori=GESTIONALE=PostgreSQL;ARCHIVIO=DB2'",
       "torvan: Motori: il motore di ARCHIVIO \xC3\xA8 SQLite, ODBC o PostgreSQL, non \"DB2\"; "
       "nulla \xC3\xA8 stato scritto\n"},
      {"Motori=PostgreSQL",
       "torvan: Motori: coppie DataBase=motore separate da \";\", non \"PostgreSQL\"; nulla "
       "\xC3\xA8 stato scritto\n"},
      {"Driver=",
       "torvan: Driver: il nome di un driver ODBC, o DSN=<nome>; nulla \xC3\xA8 stato "
       "scritto\n"},
  };
  for (const auto& [args, err] : rows) {
    Result r = Run(std::string("settings set ") + args);
    EXPECT_EQ(2, r.exit_code) << args;
    if (*err != '\0') {
      EXPECT_EQ(err, r.err) << args;
    }
    EXPECT_NE("", r.err) << args;
    EXPECT_EQ(before, Ini()) << args;
  }
}

TEST_F(CliTest, DurevoleEnginesAndAttributiAreSetAndShown) {
  ASSERT_EQ(0, Run("settings --standard").exit_code);
  const std::string before = Ini();
  Result w =
      Run("settings set Durevole=1 Motore=ODBC 'Motori=GESTIONALE=PostgreSQL;' Driver=DSN=Torvan "
          "'Attributi=TDS_Version=7.4;PWD=segreta;Encrypt=no;'");
  ASSERT_EQ(0, w.exit_code) << w.err;
  Result r = Run("settings");
  // A password among the attributes is shown masked, as every password.
  EXPECT_NE(std::string::npos,
            r.out.find("\nDurevole=1\nMotore=ODBC\nMotori=GESTIONALE=PostgreSQL;\n"
                       "Driver=DSN=Torvan\nDriver_Nativo=ODBC Driver 18 for SQL Server\n"
                       "Attributi=TDS_Version=7.4;PWD=********;Encrypt=no;\n"))
      << r.out;
  // Only those keys changed: the parameter string is as it was.
  EXPECT_EQ(GetPrivateProfileString("Generale", "Parametri", "", dir_ + "/TnC.INI"), [&] {
    const std::string ini = dir_ + "/before.INI";
    (void)platform::WriteFileAtomic(ini, before, 0600);
    return GetPrivateProfileString("Generale", "Parametri", "", ini);
  }());
}

TEST_F(CliTest, ASettingsFileThatIsNotOneIsSaidSoOnce) {
  ASSERT_TRUE(
      platform::WriteFileAtomic(dir_ + "/TnC.INI", std::string("\x89PNG\r\n\x1A\n\0\0", 10), 0600)
          .ok());
  Result r = Run("settings");
  ASSERT_EQ(0, r.exit_code);
  const std::string said = " - ERRORE nella lettura del file delle impostazioni " + dir_ +
                           "/TnC.INI: non \xC3\xA8 un file di impostazioni; in uso i valori "
                           "predefiniti\n";
  const size_t at = r.out.find(said);
  ASSERT_NE(std::string::npos, at) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find(said, at + 1));
  EXPECT_NE(std::string::npos, r.out.find("\nCiclo_Sincronizz=500\n"));
}

TEST_F(CliTest, AHandEditedOrTruncatedFileGivesTheDefaults) {
  ASSERT_TRUE(
      platform::WriteFileAtomic(dir_ + "/TnC.INI", "[Generale]\r\nParametri=%%\r\n", 0600).ok());
  Result r = Run("settings");
  ASSERT_EQ(0, r.exit_code);
  EXPECT_NE(std::string::npos, r.out.find("Attesa_Dopo_Start=10\n"));
  EXPECT_NE(std::string::npos, r.out.find("Ciclo_Sincronizz=500\n"));
}

// A new user's first mistakes, each named in Italian with what to do (an empty folder: no
// TnC.INI, no catalogue).
TEST_F(CliTest, SetupMistakesAreNamedWithWhatToDo) {
  const struct {
    const char* args;
    int exit_code;
    const char* said;  // in the output (standard output and error)
  } rows[] = {
      {"runn", 2, "torvan: comando sconosciuto \"runn\"; forse: torvan run\n"},
      {"stauts", 2, "forse: torvan status\n"},
      {"fly", 2, "torvan: comando sconosciuto \"fly\"\nI comandi: torvan --help\n"},
      {"--bogus", 2, "torvan: opzione sconosciuta \"--bogus\"\n"},
      {"build 1 --bogus", 2, "torvan: argomento non atteso: --bogus\n"},
      {"build", 2, "torvan: manca file\n"},
      {"settings set", 2, "torvan: manca assegnazioni\n"},
      {"--version", 0, "torvan 1.0.0\n"},
      {"--help", 0, "Uso: torvan [OPZIONI] COMANDO\n"},
      {"build --help", 0, "--discard-unsent"},
      {"settings", 0,
       "TnC.INI non c'\xC3\xA8: questi sono i valori predefiniti (torvan settings --standard "},
      {"run", 2, "torvan: nessun sistema origine impostato (Nome_Connessione \xC3\xA8 vuoto in "},
      {"catalogue", 2, "per impostarlo: torvan settings set Nome_Connessione=HOST\n"},
      {"build all --yes", 1,
       "il catalogo \xC3\xA8 vuoto (nessun TnC_FILE.DAT): torvan catalogue "
       "lo carica dall'host\n"},
      {"events --yes", 1, "il catalogo \xC3\xA8 vuoto"},
      {"fields 3", 2, "il catalogo \xC3\xA8 vuoto"},
  };
  for (const auto& row : rows) {
    Result r = Run(row.args);
    EXPECT_EQ(row.exit_code, r.exit_code) << row.args << "\n" << r.out << r.err;
    EXPECT_NE(std::string::npos, (r.out + r.err).find(row.said)) << row.args << "\n"
                                                                 << r.out << r.err;
  }
  EXPECT_FALSE(platform::FileExists(dir_ + "/TnC.INI"));  // nothing was written meanwhile
  std::string cmd =
      std::string(TORVAN_EXE) + " --dir " + dir_ + "/nowhere settings >/dev/null 2>&1";
  int status = std::system(cmd.c_str());
  EXPECT_EQ(2, WEXITSTATUS(status));
}

}  // namespace
}  // namespace torvan

namespace torvan {
namespace {

// A local catalogue written directly: database 1 GESTIONALE (embedded SQLite) and the files
// given, each with the fields given.
class LocalCatalogueTest : public CliTest {
 protected:
  struct FileSpec {
    const char* library;
    const char* file;
    bool pc_as;
    std::vector<Campo_Rec> fields;
  };
  static Campo_Rec Field(const char* name, const char* tipo, int len, int bytes) {
    Campo_Rec c;
    c.Nome = name;
    c.Tipo = tipo;
    c.Lunghezza = len;
    c.Byte = bytes;
    c.Escluso = " ";
    return c;
  }
  void Write(const std::vector<FileSpec>& files) {
    DataBase_Rec db;
    db.Nome_DB = "GESTIONALE";
    db.Server_DB = "LOCALE";
    ASSERT_TRUE(WriteRecords(dir_ + "/TnC_DB.DAT", std::vector<DataBase_Rec>{db}).ok());
    std::vector<File_Rec> recs;
    for (size_t i = 0; i < files.size(); ++i) {
      File_Rec f;
      f.Libreria = files[i].library;
      f.File = files[i].file;
      f.As_Pc = "S";
      f.Pc_As = files[i].pc_as ? "S" : "N";
      f.DataBase = "GESTIONALE";
      f.Indice_DB = 1;
      recs.push_back(f);
      char name[32];
      std::snprintf(name, sizeof name, "/TnC_F_%05zu.DAT", i + 1);
      ASSERT_TRUE(WriteRecords(dir_ + name, files[i].fields).ok());
    }
    ASSERT_TRUE(WriteRecords(dir_ + "/TnC_FILE.DAT", recs).ok());
  }
  int Sqlite(const std::string& sql) {
    return std::system(
        ("sqlite3 " + dir_ + "/GESTIONALE.sqlite \"" + sql + "\" >/dev/null").c_str());
  }
};

TEST_F(LocalCatalogueTest, ExitStatusesTellWhetherEveryStepWorked) {
  const std::vector<Campo_Rec> good = {Field("COD", "A", 0, 6), Field("\xA7_T_IDX___", "B", 9, 4)};
  ASSERT_NO_FATAL_FAILURE(Write({{"DATI", "CLIENTI", true, good},
                                 {"DATI", "STRANO", false, {Field("Z", "Z", 5, 3)}},
                                 {"DATI", "DOPPIO", false, {Field("COD", "A", 0, 6)}},
                                 {"ALTRI", "DOPPIO", false, {Field("COD", "A", 0, 6)}}}));
  Result one = Run("build 1 --yes");
  EXPECT_EQ(0, one.exit_code) << one.out << one.err;
  // The catalogue load names the clash; only the files that own the names are refused.
  EXPECT_NE(std::string::npos, one.out.find("*** ERRORE ***  I file DATI/DOPPIO e ALTRI/DOPPIO"));
  EXPECT_EQ(std::string::npos, one.out.find("ERRORE nella")) << one.out;
  // A layout that cannot be built, and two files that would share a table.
  for (const char* range : {"2", "3", "4", "all"}) {
    Result r = Run(std::string("build ") + range + " --yes");
    EXPECT_EQ(1, r.exit_code) << range << "\n" << r.out;
    EXPECT_NE(std::string::npos, r.out.find("ERRORE nella creazione del file GESTIONALE/"))
        << r.out;
    EXPECT_EQ(std::string::npos, r.out.find("Totale errori  : 0")) << r.out;
  }
  Result clash = Run("drop 3 --yes");
  EXPECT_EQ(1, clash.exit_code);
  EXPECT_NE(std::string::npos,
            clash.out.find("ERRORE nella cancellazione del file GESTIONALE/DOPPIO: I file "
                           "DATI/DOPPIO e ALTRI/DOPPIO usano lo stesso nome GESTIONALE/DOPPIO"))
      << clash.out;
  Result files = Run("files");
  EXPECT_EQ(0, files.exit_code);
  EXPECT_NE(std::string::npos, files.out.find("\tCLIENTI   \t")) << files.out;
}

TEST_F(LocalCatalogueTest, YesAloneDoesNotThrowAwayChangesNotSent) {
  const std::vector<Campo_Rec> good = {Field("COD", "A", 0, 6), Field("\xA7_T_IDX___", "B", 9, 4)};
  ASSERT_NO_FATAL_FAILURE(Write(
      {{"DATI", "CLIENTI", true, good}, {"DATI", "ARTICOLI", false, {Field("A", "A", 0, 2)}}}));
  ASSERT_EQ(0, Run("build all --yes").exit_code);
  // A change made on the PC side, recorded by the triggers and not yet sent.
  ASSERT_EQ(0, Sqlite("INSERT INTO CLIENTI (COD) VALUES ('X1')"));
  for (const char* command : {"drop all --yes", "build 1 --yes", "events --yes"}) {
    Result r = Run(command);
    EXPECT_EQ(1, r.exit_code) << command;
    EXPECT_NE(std::string::npos, r.err.find("--discard-unsent")) << command << r.err;
    EXPECT_NE(std::string::npos, r.err.find("1 modifica non ancora inviata al sistema origine "
                                            "andr\xC3\xA0 persa"))
        << command << r.err;
    EXPECT_EQ(std::string::npos, r.out.find("Cancellazione del file")) << command;
    EXPECT_EQ(std::string::npos, r.out.find("Creazione del file")) << command;
  }
  // The row and its change are still there.
  EXPECT_NE(std::string::npos, Run("files").out.find("\tGESTIONALE          \t1\t"));
  Result drop = Run("drop 1 --yes --discard-unsent");
  EXPECT_EQ(0, drop.exit_code) << drop.out << drop.err;
  EXPECT_NE(std::string::npos, drop.out.find("ATTENZIONE: 1 modifica non ancora inviata"))
      << drop.out;
  EXPECT_NE(std::string::npos,
            drop.out.find("Cancellazione del file GESTIONALE/CLIENTI completata"));
  EXPECT_EQ(std::string::npos, Run("files").out.find("\tGESTIONALE          \t1\t"));
}

TEST_F(LocalCatalogueTest, FieldsPrintsTheFieldViewOrThePlaceholder) {
  ASSERT_NO_FATAL_FAILURE(Write({{"DATI", "VUOTO", false, {}}}));
  Result r = Run("fields 1");
  ASSERT_EQ(0, r.exit_code) << r.err;
  EXPECT_EQ(
      "#\tCampo\tTesto\tT\tLung.\tDec.\tPosiz.\tByte\tEsclusi\n"
      "\t\t**** NESSUN CAMPO ****\t\t\t\t\t\t\n",
      r.out);
  Result beyond = Run("fields 2");
  EXPECT_EQ(2, beyond.exit_code);
  EXPECT_EQ("torvan: il catalogo ha 1 file: il file 2 non c'\xC3\xA8\n", beyond.err);
  EXPECT_EQ("", beyond.out);
  EXPECT_EQ(2, Run("fields 0").exit_code);
  EXPECT_EQ(2, Run("fields x").exit_code);
}

}  // namespace
}  // namespace torvan

// torvan catalogue against a scripted host whose link breaks during the field lists.
namespace torvan {
namespace {

using testing::HostCatalogue;
using testing::HostReply;
using testing::ScriptedHost;

// Ctrl-C and SIGTERM end every command within a second, also during the twenty connection
// attempts and their 30-second pauses: a one-shot command says so and exits 128 + the
// signal; `torvan run` ends as it ends on them, 0 (closing what is open, without waiting
// for an event loop that has not begun).
TEST_F(CliTest, EveryCommandStopsOnASignalWithinASecond) {
  std::system(("cp " TORVAN_CHAR_TABLE " " + dir_ + "/TnC_TBL1.Tbl").c_str());
  ASSERT_EQ(0, Run("settings --standard").exit_code);
  ASSERT_EQ(0, Run("settings set Nome_Connessione=127.0.0.1 Porta_FTP=0 Porta=" +
                   std::to_string(hostlink::testing::ClosedPort()))
                   .exit_code);
  const struct {
    const char* command;
    int sig;
    int exit_code;
    const char* said;
  } rows[] = {
      {"catalogue", SIGINT, 128 + SIGINT, "torvan: interrotto (SIGINT)\n"},
      {"catalogue", SIGTERM, 128 + SIGTERM, "torvan: interrotto (SIGTERM)\n"},
      {"run", SIGTERM, 0, "Collegamento al Server 127.0.0.1 interrotto"},
  };
  for (const auto& row : rows) {
    // The last row's words must not be taken for this one's: the signal would reach the
    // shell before it became torvan.
    const std::string out = dir_ + "/signal.out";
    std::remove(out.c_str());
    const pid_t child = ::fork();
    if (child == 0) {
      const std::string cmd = std::string("exec ") + TORVAN_EXE + " --dir " + dir_ + " " +
                              row.command + " >" + out + " 2>&1 </dev/null";
      ::execl("/bin/sh", "sh", "-c", cmd.c_str(), nullptr);
      ::_exit(127);
    }
    ASSERT_GT(child, 0);
    std::string seen;
    for (int i = 0; i < 500 && seen.find("non risponde (1/20)") == std::string::npos; ++i) {
      usleep(10000);
      (void)platform::ReadFile(out, &seen);
    }
    ASSERT_NE(std::string::npos, seen.find("non risponde (1/20)")) << seen;  // in its pause
    const auto sent = std::chrono::steady_clock::now();
    ::kill(child, row.sig);
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1)) << row.command;
    ASSERT_TRUE(WIFEXITED(status)) << row.command;
    EXPECT_EQ(row.exit_code, WEXITSTATUS(status)) << row.command;
    (void)platform::ReadFile(out, &seen);
    EXPECT_NE(std::string::npos, seen.find(row.said)) << row.command << "\n" << seen;
  }
}

TEST_F(CliTest, ACatalogueThatDoesNotFinishExitsOneAndKeepsThePreviousOne) {
  std::system(("cp " TORVAN_CHAR_TABLE " " + dir_ + "/TnC_TBL1.Tbl").c_str());
  ASSERT_EQ(0, Run("settings --standard").exit_code);
  // No FTP step; no pause between empty polls, so a closed link is seen at once.
  ASSERT_EQ(
      0, Run("settings set Nome_Connessione=127.0.0.1 Porta_FTP=0 Attesa_Sincronizz=0").exit_code);
  HostCatalogue host;
  host.databases = {testing::DatabaseEntry("GESTIONALE", "SQLSRV01", "x")};
  for (const char* file : {"CLIENTI", "ARTICOLI"}) {
    host.files.push_back(testing::FileEntry("DATI", file, "N", "GESTIONALE"));
    host.fields[PadRight("DATI", 10) + PadRight(file, 10)] = {
        testing::FieldEntry("CODICE", 'A', 6, 0, 1, 6),
        testing::FieldEntry("NOME", 'A', 20, 0, 7, 20)};
  }
  auto catalogue = [&](int close_at_field_request) {
    int fields = 0;
    ScriptedHost peer([&](char c, const std::string& d) {
      if (c == '2' && ++fields == close_at_field_request) return HostReply::Close();
      return host.Answer(c, d);
    });
    EXPECT_EQ(0, Run("settings set Porta=" + std::to_string(peer.port())).exit_code);
    return Run("catalogue");
  };
  Result good = catalogue(0);
  ASSERT_EQ(0, good.exit_code) << good.out << good.err;
  std::string before;
  ASSERT_TRUE(platform::ReadFile(dir_ + "/TnC_F_00002.DAT", &before).ok());

  host.fields[PadRight("DATI", 10) + PadRight("ARTICOLI", 10)].pop_back();
  Result broken = catalogue(5);  // the second entry of the second file's list
  EXPECT_EQ(1, broken.exit_code) << broken.out;
  const size_t error = broken.out.find(" - [Carica_File] Errore Sock_Read {2}(1)\n");
  ASSERT_NE(std::string::npos, error) << broken.out;
  EXPECT_NE(std::string::npos, broken.out.find(" - Errore generico in Carica_File\n", error));
  std::string after;
  ASSERT_TRUE(platform::ReadFile(dir_ + "/TnC_F_00002.DAT", &after).ok());
  EXPECT_EQ(before, after);
}

}  // namespace
}  // namespace torvan

// End to end: torvan against torvan-host serving the sample host.
namespace torvan {
namespace {

class SampleHostTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    std::filesystem::copy(TORVAN_SAMPLE_HOST, host_dir_, std::filesystem::copy_options::recursive);
    std::system(("cp " TORVAN_CHAR_TABLE " " + dir_ + "/TnC_TBL1.Tbl").c_str());
    Status s = host_.Start(dir_ + "/host.out");
    ASSERT_TRUE(s.ok()) << s.message();
  }
  void Configure() {
    ASSERT_EQ(0, Run("settings --standard").exit_code);
    Result r =
        Run("settings set Nome_Connessione=127.0.0.1 Utente=utente Password=Torvan1 "
            "Porta_FTP=" +
            std::to_string(host_.ftp_port()) +
            " Porta=" + std::to_string(hostlink::testing::ClosedPort()) + " Attesa_Sincronizz=1");
    ASSERT_EQ(0, r.exit_code) << r.err;
  }

  const std::string host_dir_ = folder_.path() + "/host";
  testing::HostProcess host_{TORVAN_HOST_EXE, host_dir_};
};

TEST_F(SampleHostTest, CatalogueThenBuildThenFiles) {
  Configure();
  Result c = Run("catalogue");
  ASSERT_EQ(0, c.exit_code) << c.out << c.err;
  for (const char* line :
       {" -    Carica elenco database\n", " -    Carica elenco files\n",
        " -    Carica campi di DATI/CLIENTI\n", " -    Carica campi di DATI/TNP_ARC_0F\n"}) {
    EXPECT_NE(std::string::npos, c.out.find(line)) << line;
  }
  for (const char* file : {"TnC_DB.DAT", "TnC_FILE.DAT", "TnC_F_00001.DAT", "TnC_F_00005.DAT"}) {
    EXPECT_TRUE(platform::FileExists(dir_ + "/" + file)) << file;
  }
  Result fields = Run("fields 4");
  EXPECT_NE(std::string::npos, fields.out.find("\xC2\xA7_T_IDX___"));

  Result b = Run("build all --yes");
  ASSERT_EQ(0, b.exit_code) << b.out << b.err;
  EXPECT_NE(std::string::npos,
            b.out.find(" - Creazione dei triggers per GESTIONALE/CONTATTI completata\n"));
  EXPECT_EQ(std::string::npos, b.out.find("ERRORE"));
  Result f = Run("files");
  ASSERT_EQ(0, f.exit_code);
  // The table alone on standard output, for scripts; the connection lines on standard error.
  EXPECT_EQ(std::string::npos, f.out.find(" - ")) << f.out;
  EXPECT_NE(std::string::npos, f.err.find(" -    DataBase ")) << f.err;
  size_t rows = 0;
  for (size_t p = f.out.find("\nDATI      \t"); p != std::string::npos;
       p = f.out.find("\nDATI      \t", p + 1)) {
    ++rows;
  }
  EXPECT_EQ(5u, rows);
  EXPECT_EQ(std::string::npos, f.out.find("non esiste"));

  // A row entered on the PC side: without a terminal and without --yes the question is
  // answered Annulla and the row stays.
  ASSERT_EQ(0, std::system(("sqlite3 " + dir_ +
                            "/GESTIONALE.sqlite \"INSERT INTO CLIENTI (CODCLI) VALUES ('X1')\"")
                               .c_str()));
  Result again = Run("build 1");
  EXPECT_EQ(1, again.exit_code);  // a script can tell that nothing was done
  EXPECT_NE(std::string::npos,
            again.out.find("[Cancella File]\nil file GESTIONALE/CLIENTI contiene 1\nrecord(s) \n"));
  EXPECT_NE(std::string::npos, again.out.find("OK/Annulla? Annulla"));
  EXPECT_EQ(std::string::npos, again.out.find("Creazione del file GESTIONALE/CLIENTI"));
  Result drop = Run("drop 1-2 --yes");
  EXPECT_NE(std::string::npos,
            drop.out.find(" - Cancellazione del file GESTIONALE/CLIENTI completata\n"));
  EXPECT_NE(std::string::npos, Run("files").out.find("\tnon esiste\t"));
  EXPECT_EQ(2, Run("build 7").exit_code);
  EXPECT_EQ(2, Run("drop 2-1").exit_code);
}

// A wrong FTP password with the host program already running: the link comes up all the
// same, and the line after the refusal says why.
TEST_F(SampleHostTest, AWrongPasswordIsReportedAndTheLinkStillTried) {
  Configure();
  ASSERT_EQ(0, Run("catalogue").exit_code);  // the host program now runs on Porta
  ASSERT_EQ(0, Run("settings set Password=sbagliata").exit_code);
  Result r = Run("catalogue");
  EXPECT_EQ(0, r.exit_code) << r.out << r.err;
  const size_t refused = r.out.find(" - Password errata\n");
  ASSERT_NE(std::string::npos, refused) << r.out;
  EXPECT_NE(std::string::npos,
            r.out.find(" -    Il programma del sistema origine era gi\xC3\xA0 attivo: collegato "
                       "malgrado l'avvio con FTP non riuscito (Password errata)\n",
                       refused))
      << r.out;
}

}  // namespace
}  // namespace torvan

// torvan status and the metrics of a torvan run serving the sample host; the installed
// program and its character table.
namespace torvan {
namespace {

class RunningTorvanTest : public SampleHostTest {
 protected:
  void TearDown() override {
    Stop();
    SampleHostTest::TearDown();
  }
  void Start() {
    ASSERT_TRUE(
        testing::StartProcess({TORVAN_EXE, "--dir", dir_, "run"}, {}, dir_ + "/run.out", &pid_)
            .ok());
  }
  // SIGTERM, and waits for the end; the exit status is in the run log.
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    (void)testing::WaitProcess(pid_);
    pid_ = 0;
  }
  // `torvan status` until `done(result)` (at most 30 s); the last result.
  Result StatusUntil(const std::function<bool(const Result&)>& done) {
    Result r{};
    for (int i = 0; i < 300; ++i) {
      r = Run("status");
      if (done(r)) break;
      usleep(100000);
    }
    return r;
  }
  void Host(const std::vector<std::string>& args) {
    testing::ProcessResult r = host_.Ctl(args);
    EXPECT_EQ(0, r.exit_code) << args[0] << ": " << r.err << r.out;
  }
  // GET /metrics from the running Torvan, parsed back.
  Exposition Metrics(int port) {
    Exposition e;
    const int fd = ConnectLocal(port, 10);
    EXPECT_GE(fd, 0);
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    const std::string got = ReadToEnd(fd);
    ::close(fd);
    EXPECT_EQ(0u, got.find("HTTP/1.1 200 OK\r\n")) << got;
    const size_t body = got.find("\r\n\r\n");
    EXPECT_NE(std::string::npos, body) << got;
    if (body != std::string::npos) {
      EXPECT_EQ("", ParseExposition(got.substr(body + 4), &e)) << got;
      EXPECT_EQ("", PromtoolCheckMetrics(got.substr(body + 4))) << got;
    }
    return e;
  }
  static bool Has(const Result& r, const std::string& text) {
    return r.out.find(text) != std::string::npos;
  }

  pid_t pid_ = -1;
};

TEST_F(RunningTorvanTest, StatusFollowsARunningTorvanAndItsMetricsParseBack) {
  Configure();
  ASSERT_EQ(0, Run("catalogue").exit_code);
  ASSERT_EQ(0, Run("build all --yes").exit_code);

  Result none = Run("status");
  EXPECT_EQ(1, none.exit_code);
  EXPECT_EQ("Torvan non \xC3\xA8 in esecuzione in " + dir_ + ": nessun file di stato " + dir_ +
                "/TnC_STATO.DAT\n",
            none.out);

  const int port = hostlink::testing::ClosedPort();
  ASSERT_EQ(0, Run("settings set Metriche=" + std::to_string(port)).exit_code);
  ASSERT_NO_FATAL_FAILURE(Start());
  Result up = StatusUntil(
      [](const Result& r) { return r.exit_code == 0 && Has(r, "\nSincronismo: attivo (4)\n"); });
  ASSERT_EQ(0, up.exit_code) << up.out << up.err;
  EXPECT_EQ(0u, up.out.find("Torvan in esecuzione\nProgramma: torvan run (pid " +
                            std::to_string(pid_) + ")"))
      << up.out;
  EXPECT_TRUE(Has(up, "\nCollegamento host: aperto\nCollegamento SQL: aperto\n")) << up.out;
  EXPECT_TRUE(Has(up, "\nNessuna modifica trattenuta\n")) << up.out;
  EXPECT_TRUE(Has(up, "\nDatabase 1 GESTIONALE: 0 eventi in attesa (contati ")) << up.out;
  EXPECT_TRUE(Has(up, "\nUltima modifica dall'host applicata: nessuna dall'avvio\n")) << up.out;

  // Another Torvan in the folder is refused and does not touch the status.
  Result second = Run("run --once");
  EXPECT_EQ(1, second.exit_code);
  EXPECT_EQ(0u, second.err.find("torvan: un altro Torvan lavora nella cartella ")) << second.err;
  EXPECT_EQ(0, Run("status").exit_code);

  Exposition m = Metrics(port);
  EXPECT_EQ(1, m.samples["torvan_replication_state{state=\"active\"}"]);
  EXPECT_EQ(1, m.samples["torvan_host_link_up"]);
  EXPECT_EQ(1, m.samples["torvan_sql_link_up"]);
  EXPECT_EQ(0, m.samples["torvan_held_change"]);
  EXPECT_EQ(1u, m.samples.count("torvan_events_waiting{database=\"GESTIONALE\",number=\"1\"}"));
  EXPECT_EQ(0u, m.samples.count("torvan_seconds_since_last_change_applied"));
  EXPECT_LT(m.samples["torvan_host_to_sql_lag_seconds"], 5);  // the host's queue is empty

  // A host change is applied: the counters and the lag follow.
  Host({"insert", "DATI/CLIENTI", "CODCLI=X9", "RAGSOC=Prova"});
  Result received = StatusUntil([](const Result& r) {
    return Has(r, "\nUltima modifica dall'host applicata: ") && !Has(r, "nessuna dall'avvio");
  });
  EXPECT_TRUE(Has(received, "\nRicevuti ")) << received.out;
  EXPECT_TRUE(Has(received, "  DATI        CLIENTI\n")) << received.out;
  m = Metrics(port);
  EXPECT_EQ(1, m.samples["torvan_records_received_total"]);
  EXPECT_EQ(1u, m.samples.count("torvan_seconds_since_last_change_applied"));
  EXPECT_EQ(1u, m.samples.count("torvan_last_record_info{direction=\"received\",file=\"CLIENTI\","
                                "library=\"DATI\"}"));

  // A change on the SQL side that the host does not take yet waits, and ages.
  Host({"fault", "refuse", "R", "100000"});
  ASSERT_EQ(0, std::system(("sqlite3 " + dir_ +
                            "/GESTIONALE.sqlite \"INSERT INTO CONTATTI (CODCLI, DATA, NOMINATIVO, "
                            "TELEFONO, NOTA, ESITO, VALORE) VALUES ('X9', '20240102', 'Rossi', "
                            "'0', 'nota', 'P', '1.500')\"")
                               .c_str()));
  Result waiting = StatusUntil(
      [](const Result& r) { return Has(r, "\nDatabase 1 GESTIONALE: 1 evento in attesa, "); });
  EXPECT_TRUE(
      Has(waiting, "\nDatabase 1 GESTIONALE: 1 evento in attesa, il pi\xC3\xB9 vecchio da "))
      << waiting.out;
  m = Metrics(port);
  EXPECT_EQ(1, m.samples["torvan_events_waiting{database=\"GESTIONALE\",number=\"1\"}"]);
  EXPECT_EQ(
      1u, m.samples.count("torvan_oldest_event_age_seconds{database=\"GESTIONALE\",number=\"1\"}"));
  Host({"fault", "clear"});
  Result sent = StatusUntil(
      [](const Result& r) { return Has(r, "\nDatabase 1 GESTIONALE: 0 eventi in attesa"); });
  EXPECT_TRUE(Has(sent, "\nInviati ")) << sent.out;
  EXPECT_TRUE(Has(sent, "  DATI        CONTATTI\n")) << sent.out;

  // Stopped: said at once, exit 1.
  Stop();
  Result ended = Run("status");
  EXPECT_EQ(1, ended.exit_code);
  EXPECT_EQ(0u, ended.out.find("Torvan non \xC3\xA8 in esecuzione: terminato il ")) << ended.out;
  EXPECT_TRUE(Has(ended, "\nCollegamento host: chiuso\n")) << ended.out;
  std::string run_log;
  (void)platform::ReadFile(dir_ + "/run.out", &run_log);
  EXPECT_NE(std::string::npos,
            run_log.find(" - Metriche su http://127.0.0.1:" + std::to_string(port) + "/metrics\n"))
      << run_log;
}

// `cmake --install` into a folder of the test: the programs, the table, the unit; the
// installed torvan reads the installed table when its base folder has none.
TEST_F(SampleHostTest, AnInstalledTorvanUsesTheInstalledCharacterTable) {
  const std::string prefix = dir_ + "/prefix";
  ASSERT_EQ(0,
            std::system((std::string(TORVAN_CMAKE) + " --install " TORVAN_BUILD_DIR " --prefix " +
                         prefix + " >" + dir_ + "/install.out 2>&1")
                            .c_str()));
  for (const char* program : {"/bin/torvan", "/bin/torvan-host", "/bin/torvan-gui"}) {
    EXPECT_EQ(0, ::access((prefix + program).c_str(), X_OK)) << program;
  }
  // What an operator and Debian expect beside the programs; the README's pictures with it.
  for (const char* file :
       {"/share/man/man1/torvan.1.gz", "/share/man/man1/torvan-host.1.gz",
        "/share/man/man1/torvan-gui.1.gz", "/share/bash-completion/completions/torvan",
        "/share/doc/torvan/copyright", "/share/doc/torvan/changelog.gz",
        "/share/doc/torvan-gui/copyright", "/share/doc/torvan/docs/screenshots/main_idle.png"}) {
    EXPECT_TRUE(platform::FileExists(prefix + file)) << file;
  }
  std::string shipped, installed, unit;
  ASSERT_TRUE(platform::ReadFile(TORVAN_CHAR_TABLE, &shipped).ok());
  ASSERT_TRUE(platform::ReadFile(prefix + "/share/torvan/TnC_TBL1.Tbl", &installed).ok());
  EXPECT_EQ(shipped, installed);
  EXPECT_TRUE(platform::FileExists(prefix + "/share/doc/torvan/README.md"));
  ASSERT_TRUE(platform::ReadFile(prefix + "/lib/systemd/system/torvan.service", &unit).ok());
  for (const std::string& line :
       {"\nExecStart=" + prefix + "/bin/torvan run\n", std::string("\nUser=torvan\n"),
        std::string("\nWorkingDirectory=/var/lib/torvan\n"), std::string("\nRestart=on-failure\n"),
        std::string("\nType=notify\n"), std::string("\nCapabilityBoundingSet=\n"),
        std::string("\nStandardOutput=journal\n")}) {
    EXPECT_NE(std::string::npos, unit.find(line)) << line;
  }
  // The sandbox, as systemd rates it: 1.1 today, 4.9 before it was narrowed.
  if (std::system("command -v systemd-analyze >/dev/null") == 0) {
    EXPECT_EQ(0, WEXITSTATUS(std::system(
                     ("systemd-analyze security --offline=true --threshold=15 " + prefix +
                      "/lib/systemd/system/torvan.service >" + dir_ + "/analyze.out 2>&1")
                         .c_str())));
  }

  Configure();
  ASSERT_EQ(0, std::remove((dir_ + "/TnC_TBL1.Tbl").c_str()));
  std::string cmd = prefix + "/bin/torvan --dir " + dir_ + " catalogue >" + dir_ + "/out 2>&1";
  EXPECT_EQ(0, WEXITSTATUS(std::system(cmd.c_str())));
  std::string out;
  (void)platform::ReadFile(dir_ + "/out", &out);
  EXPECT_NE(std::string::npos,
            out.find(" - Tabella caratteri: uso " + prefix + "/share/torvan/TnC_TBL1.Tbl\n"))
      << out;
  EXPECT_NE(std::string::npos, out.find(" -    Carica elenco files\n")) << out;
}

}  // namespace
}  // namespace torvan
