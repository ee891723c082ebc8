// The torvan command line, run as an operator runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "catalogue/catalogue_files.h"
#include "cli/cli_test_util.h"
#include "config/ini_file.h"
#include "config/scramble.h"
#include "hostlink/test_peer.h"
#include "links/scripted_host_test_util.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "replication/testing/host_process.h"

namespace torvan {
namespace {

using testing::Has;
using testing::Missing;
using testing::ReadText;

struct Result {
  int exit_code;
  std::string out, err;
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
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(dir_ + "/out"),
            ReadText(dir_ + "/err")};
  }
  std::string Ini() { return ReadText(dir_ + "/TnC.INI"); }

  platform::TempFolder folder_{"torvan-test"};
  std::string dir_;
};

// --standard, the settings shown with their derived values, then values typed into the form
// (the other boxes kept) and the keys beside it.
TEST_F(CliTest, StandardShowAndSetAsTheOptionsFormDoes) {
  Result w = Run("settings --standard");
  ASSERT_EQ(0, w.exit_code) << w.err;
  EXPECT_TRUE(Has(w.out, " - Opzioni aggiornate\n"));
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

  w =
      Run("settings set Nome_Connessione=127.0.0.1 Attesa_Restart=5 Log_Su_File=S "
          "Utente=ftptest Password=Segreto1");
  ASSERT_EQ(0, w.exit_code) << w.err;
  EXPECT_EQ("torvan: Utente memorizzato in maiuscolo: FTPTEST\n",
            w.out.substr(0, w.out.find('\n') + 1));
  // The password is shown nowhere as it is, here neither.
  EXPECT_EQ("", Missing(Run("settings").out,
                        {"Nome_Connessione=127.0.0.1\n", "Utente=FTPTEST\n", "Password=********\n",
                         "Attesa_Restart=5\n", "Attesa_Riprova=30\n", "Attesa_Dopo_Start=0\n",
                         "Log_Su_File=S\n", "Porta=4200\n", "Indirizzo_Host=127.0.0.1\n"}));
  // The message is logged before the new settings are read: only the next save reaches
  // the log file.
  EXPECT_FALSE(platform::FileExists(dir_ + "/TnC.Log"));
  ASSERT_EQ(0, Run("settings set Porta=4201").exit_code);
  EXPECT_TRUE(Has(ReadText(dir_ + "/TnC.Log"), " - Opzioni aggiornate\r\n"));

  const std::string parametri =
      GetPrivateProfileString("Generale", "Parametri", "", dir_ + "/TnC.INI");
  w =
      Run("settings set Durevole=1 Motore=ODBC 'Motori=GESTIONALE=PostgreSQL;' Driver=DSN=Torvan "
          "'Attributi=TDS_Version=7.4;PWD=segreta;Encrypt=no;'");
  ASSERT_EQ(0, w.exit_code) << w.err;
  r = Run("settings");
  // A password among the attributes is shown masked, as every password.
  EXPECT_TRUE(Has(r.out,
                  "\nDurevole=1\nMotore=ODBC\nMotori=GESTIONALE=PostgreSQL;\n"
                  "Driver=DSN=Torvan\nDriver_Nativo=ODBC Driver 18 for SQL Server\n"
                  "Attributi=TDS_Version=7.4;PWD=********;Encrypt=no;\n"))
      << r.out;
  // Only those keys changed: the parameter string is as it was.
  EXPECT_EQ(parametri, GetPrivateProfileString("Generale", "Parametri", "", dir_ + "/TnC.INI"));
}

// An assignment that is wrong, or a value the settings cannot hold, is refused whole: exit
// 2, what is wrong, and the file untouched (also the values typed before it). The rules of
// each value are the settings' own; here is what the command line adds: its words, the
// arguments' UTF-8, the shell's quotes.
TEST_F(CliTest, BadAssignmentsAndValuesAreRefusedAndTheFileIsLeftUntouched) {
  ASSERT_EQ(0, Run("settings --standard").exit_code);
  const std::string before = Ini();
  const std::pair<const char*, std::string> rows[] = {
      {"Portaa=1", ""},
      {"Porta", ""},
      {"=3", ""},
      {"Log_PC_AS=maybe", ""},
      {"Porta=1 Bogus=2", ""},
      {"Porta_FTP=2121 Porta=-1", "Porta: un numero intero da 1 a 65535, non \"-1\""},
      {"Utente=jos\xC3\xA9",
       "Utente: il carattere \"\xC3\xA9\" non si pu\xC3\xB2 memorizzare (solo i codici da 32 a "
       "123)"},
      {"Nome_Connessione=\xE6\x9D\xB1\xE4\xBA\xAC",
       "Nome_Connessione: \"??\" ha un carattere che Windows-1252 non pu\xC3\xB2 tenere"},
      {"Durevole=1 Metriche=70000", "Metriche: un numero intero da 0 a 65535, non \"70000\""},
      {"Durevole=1 Attributi=\"' a=1'\"",
       "Attributi: senza spazi alle estremit\xC3\xA0 n\xC3\xA9 tra virgolette"},
      {"'Motori=GESTIONALE=PostgreSQL;ARCHIVIO=DB2'",
       "Motori: il motore di ARCHIVIO \xC3\xA8 SQLite, ODBC o PostgreSQL, non \"DB2\""},
  };
  for (const auto& [args, why] : rows) {
    Result r = Run(std::string("settings set ") + args);
    EXPECT_EQ(2, r.exit_code) << args;
    EXPECT_EQ(why.empty() ? r.err : "torvan: " + why + "; nulla \xC3\xA8 stato scritto\n", r.err);
    EXPECT_NE("", r.err) << args;
    EXPECT_EQ(before, Ini()) << args;
  }
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
  EXPECT_TRUE(Has(r.out, "\nCiclo_Sincronizz=500\n"));
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
    EXPECT_TRUE(Has((r.out + r.err), row.said)) << row.args << "\n" << r.out << r.err;
  }
  EXPECT_FALSE(platform::FileExists(dir_ + "/TnC.INI"));  // nothing was written meanwhile
  std::string cmd =
      std::string(TORVAN_EXE) + " --dir " + dir_ + "/nowhere settings >/dev/null 2>&1";
  int status = std::system(cmd.c_str());
  EXPECT_EQ(2, WEXITSTATUS(status));
}

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
  EXPECT_TRUE(Has(one.out, "*** ERRORE ***  I file DATI/DOPPIO e ALTRI/DOPPIO"));
  EXPECT_FALSE(Has(one.out, "ERRORE nella")) << one.out;
  // A layout that cannot be built, and two files that would share a table.
  for (const char* range : {"2", "3", "4", "all"}) {
    Result r = Run(std::string("build ") + range + " --yes");
    EXPECT_EQ(1, r.exit_code) << range << "\n" << r.out;
    EXPECT_TRUE(Has(r.out, "ERRORE nella creazione del file GESTIONALE/")) << r.out;
    EXPECT_FALSE(Has(r.out, "Totale errori  : 0")) << r.out;
  }
  Result clash = Run("drop 3 --yes");
  EXPECT_EQ(1, clash.exit_code);
  EXPECT_TRUE(Has(clash.out,
                  "ERRORE nella cancellazione del file GESTIONALE/DOPPIO: I file "
                  "DATI/DOPPIO e ALTRI/DOPPIO usano lo stesso nome GESTIONALE/DOPPIO"))
      << clash.out;
  Result files = Run("files");
  EXPECT_EQ(0, files.exit_code);
  EXPECT_TRUE(Has(files.out, "\tCLIENTI   \t")) << files.out;
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
    EXPECT_EQ("", Missing(r.err, {"--discard-unsent",
                                  "1 modifica non ancora inviata al sistema "
                                  "origine andr\xC3\xA0 persa"}))
        << command;
    EXPECT_FALSE(Has(r.out, "Cancellazione del file") || Has(r.out, "Creazione del file"))
        << command;
  }
  // The row and its change are still there.
  EXPECT_TRUE(Has(Run("files").out, "\tGESTIONALE          \t1\t"));
  Result drop = Run("drop 1 --yes --discard-unsent");
  EXPECT_EQ(0, drop.exit_code) << drop.out << drop.err;
  EXPECT_EQ("", Missing(drop.out, {"ATTENZIONE: 1 modifica non ancora inviata",
                                   "Cancellazione del file GESTIONALE/CLIENTI completata"}));
  EXPECT_FALSE(Has(Run("files").out, "\tGESTIONALE          \t1\t"));
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
  EXPECT_EQ(std::tuple(2, "", "torvan: il catalogo ha 1 file: il file 2 non c'\xC3\xA8\n"),
            std::tuple(beyond.exit_code, beyond.out, beyond.err));
  EXPECT_EQ(2, Run("fields 0").exit_code);
  EXPECT_EQ(2, Run("fields x").exit_code);
}

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
    // The last row's words must not be taken for this one's.
    const std::string out = dir_ + "/signal." + std::to_string(row.sig) + row.command;
    pid_t child = -1;
    ASSERT_TRUE(
        testing::StartProcess({TORVAN_EXE, "--dir", dir_, row.command}, {}, out, &child).ok());
    for (int i = 0; i < 500 && !Has(ReadText(out), "non risponde (1/20)"); ++i) usleep(10000);
    ASSERT_TRUE(Has(ReadText(out), "non risponde (1/20)")) << ReadText(out);  // in its pause
    const auto sent = std::chrono::steady_clock::now();
    ::kill(child, row.sig);
    const testing::ProcessResult r = testing::WaitProcess(child);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1)) << row.command;
    EXPECT_EQ(row.exit_code, r.exit_code) << row.command << " signal " << r.signal;
    EXPECT_TRUE(Has(ReadText(out), row.said)) << row.command << "\n" << ReadText(out);
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
  const std::string before = ReadText(dir_ + "/TnC_F_00002.DAT");
  ASSERT_NE("", before);

  host.fields[PadRight("DATI", 10) + PadRight("ARTICOLI", 10)].pop_back();
  Result broken = catalogue(5);  // the second entry of the second file's list
  EXPECT_EQ(1, broken.exit_code) << broken.out;
  const size_t error = broken.out.find(" - [Carica_File] Errore Sock_Read {2}(1)\n");
  ASSERT_NE(std::string::npos, error) << broken.out;
  EXPECT_NE(std::string::npos, broken.out.find(" - Errore generico in Carica_File\n", error));
  EXPECT_EQ(before, ReadText(dir_ + "/TnC_F_00002.DAT"));
}

// End to end: torvan against torvan-host serving the sample host.

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
  EXPECT_EQ("", Missing(c.out, {" -    Carica elenco database\n", " -    Carica elenco files\n",
                                " -    Carica campi di DATI/CLIENTI\n",
                                " -    Carica campi di DATI/TNP_ARC_0F\n"}));
  for (const char* file : {"TnC_DB.DAT", "TnC_FILE.DAT", "TnC_F_00001.DAT", "TnC_F_00005.DAT"}) {
    EXPECT_TRUE(platform::FileExists(dir_ + "/" + file)) << file;
  }
  Result fields = Run("fields 4");
  EXPECT_TRUE(Has(fields.out, "\xC2\xA7_T_IDX___"));

  Result b = Run("build all --yes");
  ASSERT_EQ(0, b.exit_code) << b.out << b.err;
  EXPECT_TRUE(Has(b.out, " - Creazione dei triggers per GESTIONALE/CONTATTI completata\n"));
  EXPECT_FALSE(Has(b.out, "ERRORE"));
  Result f = Run("files");
  ASSERT_EQ(0, f.exit_code);
  // The table alone on standard output, for scripts; the connection lines on standard error.
  EXPECT_FALSE(Has(f.out, " - ")) << f.out;
  EXPECT_TRUE(Has(f.err, " -    DataBase ")) << f.err;
  size_t rows = 0;
  for (size_t p = f.out.find("\nDATI      \t"); p != std::string::npos;
       p = f.out.find("\nDATI      \t", p + 1)) {
    ++rows;
  }
  EXPECT_EQ(5u, rows);
  EXPECT_FALSE(Has(f.out, "non esiste"));

  // A row entered on the PC side: without a terminal and without --yes the question is
  // answered Annulla and the row stays.
  ASSERT_EQ(0, std::system(("sqlite3 " + dir_ +
                            "/GESTIONALE.sqlite \"INSERT INTO CLIENTI (CODCLI) VALUES ('X1')\"")
                               .c_str()));
  Result again = Run("build 1");
  EXPECT_EQ(1, again.exit_code);  // a script can tell that nothing was done
  EXPECT_EQ("", Missing(again.out,
                        {"[Cancella File]\nil file GESTIONALE/CLIENTI contiene 1\nrecord(s) \n",
                         "OK/Annulla? Annulla"}));
  EXPECT_FALSE(Has(again.out, "Creazione del file GESTIONALE/CLIENTI"));
  Result drop = Run("drop 1-2 --yes");
  EXPECT_TRUE(Has(drop.out, " - Cancellazione del file GESTIONALE/CLIENTI completata\n"));
  EXPECT_TRUE(Has(Run("files").out, "\tnon esiste\t"));
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

// The installed program and its character table.

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
  EXPECT_EQ(ReadText(TORVAN_CHAR_TABLE), ReadText(prefix + "/share/torvan/TnC_TBL1.Tbl"));
  EXPECT_TRUE(platform::FileExists(prefix + "/share/doc/torvan/README.md"));
  EXPECT_EQ(
      "", Missing(ReadText(prefix + "/lib/systemd/system/torvan.service"),
                  {"\nExecStart=" + prefix + "/bin/torvan run\n", "\nUser=torvan\n",
                   "\nWorkingDirectory=/var/lib/torvan\n", "\nRestart=on-failure\n",
                   "\nType=notify\n", "\nCapabilityBoundingSet=\n", "\nStandardOutput=journal\n"}));
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
  EXPECT_EQ("", Missing(ReadText(dir_ + "/out"),
                        {" - Tabella caratteri: uso " + prefix + "/share/torvan/TnC_TBL1.Tbl\n",
                         " -    Carica elenco files\n"}));
}

}  // namespace
}  // namespace torvan
