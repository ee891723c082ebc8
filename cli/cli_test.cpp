// The torvan command line, run as an operator runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "catalogue/catalogue_files.h"
#include "cli/cli_test_util.h"
#include "config/ini_file.h"
#include "core/paths.h"
#include "hostlink/test_peer.h"
#include "links/scripted_host_test_util.h"
#include "platform/file.h"

namespace torvan {
namespace {

using testing::Has;
using testing::Missing;
using testing::Occurrences;
using testing::ProcessResult;
using testing::ReadText;

class CliTest : public testing::TorvanFolderTest {
 protected:
  // Standard settings, a host at 127.0.0.1 without the FTP step, and `more`.
  void LocalHost(const std::string& more) {
    CopyCharTable();
    Expect("settings --standard", 0);
    Expect("settings set Nome_Connessione=127.0.0.1 Porta_FTP=0 " + more, 0);
  }
};

TEST_F(CliTest, StandardShowAndSetAsTheOptionsFormDoes) {
  Expect("settings --standard", 0, {" - Opzioni aggiornate\n"});
  EXPECT_EQ(
      "Nome_Connessione=sistema origine\nUtente=UTENTE\nPassword=\nPorta=4200\n"
      "Attesa_Sincronizz=2\nAttesa_Dopo_Start=30\nAttesa_Prima_Stop=15\n"
      "Ciclo_Sincronizz=1000\nLibreria=TM\nPorta_FTP=21\nLog_Su_File=N\nNative_Client=N\n"
      "Attesa_Restart=0\nLog_PC_AS=N\nAttesa_Riprova=0\nIndirizzo_Host=0.0.0.0\nDurevole=0\n"
      "Motore=SQLite\nMotori=\nDriver=FreeTDS\nDriver_Nativo=ODBC Driver 18 for SQL Server\n"
      "Attributi=\nMetriche=0\nMetriche_Indirizzo=127.0.0.1\nLotto_Modifiche=200\n"
      "Lotto_Ms=200\nGiornale_Modifiche=10000\nGiornale_Byte=67108864\nConflitti=HOST\n"
      "Finestra_Conflitti=120\n",
      Expect("settings", 0).out);

  ProcessResult w = Expect(
      "settings set Nome_Connessione=127.0.0.1 Attesa_Restart=5 Log_Su_File=S Utente=ftptest "
      "Password=Segreto1",
      0);
  EXPECT_EQ("torvan: Utente memorizzato in maiuscolo: FTPTEST\n",
            w.out.substr(0, w.out.find('\n') + 1));
  // The password is shown nowhere as it is, here neither.
  EXPECT_EQ("", Missing(Run("settings").out,
                        {"Nome_Connessione=127.0.0.1\n", "Utente=FTPTEST\n", "Password=********\n",
                         "Attesa_Restart=5\n", "Attesa_Riprova=30\n", "Attesa_Dopo_Start=0\n",
                         "Log_Su_File=S\n", "Porta=4200\n", "Indirizzo_Host=127.0.0.1\n"}));
  // Logged before the new settings are read: only the next save reaches the log file.
  EXPECT_FALSE(platform::FileExists(pc_ + "/TnC.Log"));
  Expect("settings set Porta=4201", 0);
  EXPECT_TRUE(Has(ReadText(pc_ + "/TnC.Log"), " - Opzioni aggiornate\r\n"));

  const std::string parametri =
      GetPrivateProfileString("Generale", "Parametri", "", pc_ + "/TnC.INI");
  Expect(
      "settings set Durevole=1 Motore=ODBC 'Motori=GESTIONALE=PostgreSQL;' Driver=DSN=Torvan "
      "'Attributi=TDS_Version=7.4;PWD=segreta;Encrypt=no;'",
      0);
  // A password among the attributes is shown masked, as every password.
  EXPECT_TRUE(Has(Run("settings").out,
                  "\nDurevole=1\nMotore=ODBC\nMotori=GESTIONALE=PostgreSQL;\n"
                  "Driver=DSN=Torvan\nDriver_Nativo=ODBC Driver 18 for SQL Server\n"
                  "Attributi=TDS_Version=7.4;PWD=********;Encrypt=no;\n"));
  // Only those keys changed: the parameter string is as it was.
  EXPECT_EQ(parametri, GetPrivateProfileString("Generale", "Parametri", "", pc_ + "/TnC.INI"));
}

TEST_F(CliTest, MistakesAreNamedWithWhatToDoAndWriteNothing) {
  auto refused = [](const std::string& why) {
    return "torvan: " + why + "; nulla \xC3\xA8 stato scritto\n";
  };
  const struct {
    std::string args;
    int exit_code;
    std::string said;  // in the output (standard output and error)
  } rows[] = {
      {"runn", 2, "torvan: comando sconosciuto \"runn\"; forse: torvan run\n"},
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
       "il catalogo \xC3\xA8 vuoto (nessun TnC_FILE.DAT): torvan catalogue lo carica dall'host\n"},
      {"events --yes", 1, "il catalogo \xC3\xA8 vuoto"},
      {"fields 3", 2, "il catalogo \xC3\xA8 vuoto"},
      // What the command line adds to the settings' rules: words, UTF-8, nothing written.
      {"settings set Portaa=1", 2, "torvan: "},
      {"settings set Porta", 2, "torvan: "},
      {"settings set =3", 2, "torvan: "},
      {"settings set Porta_FTP=2121 Porta=-1", 2,
       refused("Porta: un numero intero da 1 a 65535, non \"-1\"")},
      {"settings set Utente=jos\xC3\xA9", 2,
       refused("Utente: il carattere \"\xC3\xA9\" non si pu\xC3\xB2 memorizzare (solo i codici da "
               "32 a 123)")},
      {"settings set Nome_Connessione=\xE6\x9D\xB1\xE4\xBA\xAC", 2,
       refused("Nome_Connessione: \"??\" ha un carattere che Windows-1252 non pu\xC3\xB2 tenere")},
  };
  for (const auto& row : rows) Expect(row.args, row.exit_code, {row.said});
  EXPECT_FALSE(platform::FileExists(pc_ + "/TnC.INI"));  // nothing was written meanwhile
  EXPECT_EQ(2, testing::RunProcess({TORVAN_EXE, "--dir", pc_ + "/nowhere", "settings"}).exit_code);

  // A settings file that is not one is said so once, and the defaults are used.
  ASSERT_TRUE(
      platform::WriteFileAtomic(pc_ + "/TnC.INI", std::string("\x89PNG\r\n\x1A\n\0\0", 10), 0600)
          .ok());
  ProcessResult r = Expect("settings", 0);
  const std::string said = " - ERRORE nella lettura del file delle impostazioni " + pc_ +
                           "/TnC.INI: non \xC3\xA8 un file di impostazioni; in uso i valori "
                           "predefiniti\n";
  EXPECT_EQ(1, Occurrences(r.out, said)) << r.out;
  EXPECT_TRUE(Has(r.out, "\nCiclo_Sincronizz=500\n"));
}

// A catalogue written directly: database 1 GESTIONALE (SQLite) and the files given.
class LocalCatalogueTest : public CliTest {
 protected:
  struct FileSpec {
    const char* library;
    const char* file;
    bool pc_as;
    std::vector<Campo_Rec> fields;
  };
  static Campo_Rec Field(const char* name, const char* tipo, int len, int bytes) {
    return {
        .Nome = name, .Testo = "", .Tipo = tipo, .Lunghezza = len, .Byte = bytes, .Escluso = " "};
  }
  void Write(const std::vector<FileSpec>& files) {
    const Paths paths = Paths::InFolder(pc_);
    ASSERT_TRUE(WriteRecords(paths.database_catalogue,
                             std::vector<DataBase_Rec>{{"GESTIONALE", "LOCALE", "", "", "", ""}})
                    .ok());
    std::vector<File_Rec> recs;
    for (const FileSpec& f : files) {
      // Library, file, 3 texts, As_Pc, Pc_As, Acq, database, 2 texts, database number.
      recs.push_back(
          {f.library, f.file, "", "", "", "S", f.pc_as ? "S" : "N", "", "GESTIONALE", "", "", 1});
      ASSERT_TRUE(WriteRecords(paths.FieldFile(int(recs.size())), f.fields).ok());
    }
    ASSERT_TRUE(WriteRecords(paths.file_catalogue, recs).ok());
  }
  const std::vector<Campo_Rec> good_ = {Field("COD", "A", 0, 6), Field("\xA7_T_IDX___", "B", 9, 4)};
};

TEST_F(LocalCatalogueTest, ExitStatusesTellWhetherEveryStepWorkedAndYesAloneLosesNothing) {
  ASSERT_NO_FATAL_FAILURE(Write({{"DATI", "CLIENTI", true, good_},
                                 {"DATI", "STRANO", false, {Field("Z", "Z", 5, 3)}},
                                 {"DATI", "DOPPIO", false, {Field("COD", "A", 0, 6)}},
                                 {"ALTRI", "DOPPIO", false, {Field("COD", "A", 0, 6)}},
                                 {"DATI", "VUOTO", false, {}}}));
  // The catalogue load names the clash; only the files that own the names are refused.
  ProcessResult one =
      Expect("build 1 --yes", 0, {"*** ERRORE ***  I file DATI/DOPPIO e ALTRI/DOPPIO"});
  EXPECT_FALSE(Has(one.out, "ERRORE nella")) << one.out;
  // A layout that cannot be built, and two files that would share a table.
  for (const char* range : {"2", "3", "4", "all"}) {
    ProcessResult r = Expect(std::string("build ") + range + " --yes", 1,
                             {"ERRORE nella creazione del file GESTIONALE/"});
    EXPECT_FALSE(Has(r.out, "Totale errori  : 0")) << r.out;
  }
  Expect("drop 3 --yes", 1,
         {"ERRORE nella cancellazione del file GESTIONALE/DOPPIO: I file DATI/DOPPIO e "
          "ALTRI/DOPPIO usano lo stesso nome GESTIONALE/DOPPIO"});
  EXPECT_TRUE(Has(Expect("files", 0).out, "\tCLIENTI   \t"));

  // The field view, or its placeholder for a file without fields.
  EXPECT_EQ(
      "#\tCampo\tTesto\tT\tLung.\tDec.\tPosiz.\tByte\tEsclusi\n"
      "\t\t**** NESSUN CAMPO ****\t\t\t\t\t\t\n",
      Expect("fields 5", 0).out);
  ProcessResult r = Run("fields 6");
  EXPECT_EQ(std::tuple(2, "", "torvan: il catalogo ha 5 file: il file 6 non c'\xC3\xA8\n"),
            std::tuple(r.exit_code, r.out, r.err));
  Expect("fields 0", 2);
  Expect("fields x", 2);

  // A change made on the PC side and not yet sent: --yes alone does not throw it away.
  ASSERT_EQ(0, std::system(("sqlite3 " + pc_ +
                            "/GESTIONALE.sqlite \"INSERT INTO CLIENTI (COD) VALUES ('X1')\"")
                               .c_str()));
  for (const char* command : {"drop all --yes", "build 1 --yes", "events --yes"}) {
    ProcessResult r = Run(command);
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
  Expect("drop 1 --yes --discard-unsent", 0,
         {"ATTENZIONE: 1 modifica non ancora inviata",
          "Cancellazione del file GESTIONALE/CLIENTI completata"});
  EXPECT_FALSE(Has(Run("files").out, "\tGESTIONALE          \t1\t"));
}

using testing::HostCatalogue;
using testing::HostReply;
using testing::ScriptedHost;

// A signal ends every command also in a pause, without waiting it out: 128 + the signal;
// run 0. A catalogue that does not finish exits 1 (the files it keeps: the link tests).
TEST_F(CliTest, EveryCommandStopsOnASignalInItsPauseAndAnUnfinishedCatalogueExitsOne) {
  LocalHost("Porta=" + std::to_string(hostlink::testing::ClosedPort()));
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
    const std::string out = pc_ + "/signal." + std::to_string(row.sig) + row.command;
    pid_t child = -1;
    ASSERT_TRUE(
        testing::StartProcess({TORVAN_EXE, "--dir", pc_, row.command}, {}, out, &child).ok());
    for (int i = 0; i < 500 && !Has(ReadText(out), "non risponde (1/20)"); ++i) usleep(10000);
    ASSERT_TRUE(Has(ReadText(out), "non risponde (1/20)")) << ReadText(out);  // in its pause
    const auto sent = std::chrono::steady_clock::now();
    ::kill(child, row.sig);
    const testing::ProcessResult r = testing::WaitProcess(child);
    // The pause after a failed attempt lasts 30 s; a signal is seen within one of its 200 ms
    // steps. The bound only tells the two apart, on any machine.
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(10)) << row.command;
    EXPECT_EQ(row.exit_code, r.exit_code) << row.command << " signal " << r.signal;
    EXPECT_TRUE(Has(ReadText(out), row.said)) << row.command << "\n" << ReadText(out);
  }
  Expect("settings set Attesa_Sincronizz=0", 0);  // a closed link seen at once
  HostCatalogue host;
  host.databases = {testing::DatabaseEntry("GESTIONALE", "SQLSRV01", "x")};
  host.files = {testing::FileEntry("DATI", "CLIENTI", "N", "GESTIONALE")};
  host.fields[PadRight("DATI", 10) + PadRight("CLIENTI", 10)] = {
      testing::FieldEntry("CODICE", 'A', 6, 0, 1, 6)};
  for (const bool close : {false, true}) {
    ScriptedHost peer([&](char c, const std::string& d) {
      return c == '2' && close ? HostReply::Close() : host.Answer(c, d);
    });
    Expect("settings set Porta=" + std::to_string(peer.port()), 0);
    Expect(
        "catalogue", close ? 1 : 0,
        {close ? " - Errore generico in Carica_File\n" : " -    Carica campi di DATI/CLIENTI\n"});
  }
}

// End to end: torvan against torvan-host serving the sample host, which torvan starts by FTP.
class SampleHostTest : public CliTest {
 protected:
  void SetUp() override {
    std::filesystem::copy(TORVAN_SAMPLE_HOST, host_dir_, std::filesystem::copy_options::recursive);
    CopyCharTable();
    Status s = host_.Start(folder_ / "host.out");
    ASSERT_TRUE(s.ok()) << s.message();
  }
  void Configure() {
    Expect("settings --standard", 0);
    Expect(
        "settings set Nome_Connessione=127.0.0.1 Utente=utente Password=Torvan1 "
        "Attesa_Sincronizz=1 Porta_FTP=" +
            std::to_string(host_.ftp_port()) +
            " Porta=" + std::to_string(hostlink::testing::ClosedPort()),
        0);
  }

  const std::string host_dir_ = folder_ / "host";
  testing::HostProcess host_{TORVAN_HOST_EXE, host_dir_};
};

// `cmake --install`: the programs, the table, the unit; then, against the sample host, the
// catalogue, build, files, drop and a wrong password.
TEST_F(SampleHostTest, AnInstalledTorvanLoadsTheCatalogueThenBuildFilesAndAWrongPassword) {
  const std::string prefix = folder_ / "prefix";
  ASSERT_EQ(0,
            std::system((std::string(TORVAN_CMAKE) + " --install " TORVAN_BUILD_DIR " --prefix " +
                         prefix + " >" + pc_ + "/install.out 2>&1")
                            .c_str()));
  for (const char* program : {"/bin/torvan", "/bin/torvan-host", "/bin/torvan-gui"}) {
    EXPECT_EQ(0, ::access((prefix + program).c_str(), X_OK)) << program;
  }
  // What an operator and Debian expect beside the programs; the README's pictures with it.
  for (const char* file :
       {"/share/man/man1/torvan.1.gz", "/share/man/man1/torvan-host.1.gz",
        "/share/man/man1/torvan-gui.1.gz", "/share/bash-completion/completions/torvan",
        "/share/doc/torvan/copyright", "/share/doc/torvan/changelog.gz",
        "/share/doc/torvan-gui/copyright", "/share/doc/torvan/docs/screenshots/main_idle.png",
        "/share/doc/torvan/README.md"}) {
    EXPECT_TRUE(platform::FileExists(prefix + file)) << file;
  }
  EXPECT_EQ(ReadText(TORVAN_CHAR_TABLE), ReadText(prefix + "/share/torvan/TnC_TBL1.Tbl"));
  EXPECT_EQ(
      "", Missing(ReadText(prefix + "/lib/systemd/system/torvan.service"),
                  {"\nExecStart=" + prefix + "/bin/torvan run\n", "\nUser=torvan\n",
                   "\nWorkingDirectory=/var/lib/torvan\n", "\nRestart=on-failure\n",
                   "\nType=notify\n", "\nCapabilityBoundingSet=\n", "\nStandardOutput=journal\n"}));
  // The sandbox, as systemd rates it: 1.1 today, 4.9 before it was narrowed.
  if (std::system("command -v systemd-analyze >/dev/null") == 0) {
    EXPECT_EQ(0, WEXITSTATUS(std::system(
                     ("systemd-analyze security --offline=true --threshold=15 " + prefix +
                      "/lib/systemd/system/torvan.service >" + pc_ + "/analyze.out 2>&1")
                         .c_str())));
  }

  // The installed torvan uses the installed table; the catalogue's lines: the link tests.
  Configure();
  ASSERT_EQ(0, std::remove((pc_ + "/TnC_TBL1.Tbl").c_str()));
  ProcessResult installed =
      testing::RunProcess({prefix + "/bin/torvan", "--dir", pc_, "catalogue"});
  EXPECT_EQ(0, installed.exit_code) << installed.out << installed.err;
  EXPECT_EQ("", Missing(installed.out + installed.err,
                        {" - Tabella caratteri: uso " + prefix + "/share/torvan/TnC_TBL1.Tbl\n",
                         " -    Carica campi di DATI/TNP_ARC_0F\n"}));
  CopyCharTable();
  EXPECT_TRUE(Has(Run("fields 4").out, "\xC2\xA7_T_IDX___"));

  EXPECT_FALSE(Has(Expect("build all --yes", 0,
                          {" - Creazione dei triggers per GESTIONALE/CONTATTI completata\n"})
                       .out,
                   "ERRORE"));
  ProcessResult f = Expect("files", 0);
  // The table alone on standard output, for scripts; the connection lines on standard error.
  EXPECT_FALSE(Has(f.out, " - ")) << f.out;
  EXPECT_TRUE(Has(f.err, " -    DataBase ")) << f.err;
  EXPECT_EQ(std::pair(5, 0),
            std::pair(Occurrences(f.out, "\nDATI      \t"), Occurrences(f.out, "non esiste")));

  // A row entered on the PC side: without a terminal nor --yes the answer is Annulla.
  ASSERT_EQ(0, std::system(("sqlite3 " + pc_ +
                            "/GESTIONALE.sqlite \"INSERT INTO CLIENTI (CODCLI) VALUES ('X1')\"")
                               .c_str()));
  ProcessResult again = Expect(  // exit 1: a script can tell that nothing was done
      "build 1", 1,
      {"[Cancella File]\nil file GESTIONALE/CLIENTI contiene 1\nrecord(s) \n",
       "OK/Annulla? Annulla"});
  EXPECT_FALSE(Has(again.out, "Creazione del file GESTIONALE/CLIENTI"));
  Expect("drop 1-2 --yes", 0, {" - Cancellazione del file GESTIONALE/CLIENTI completata\n"});
  EXPECT_TRUE(Has(Run("files").out, "\tnon esiste\t"));
  Expect("build 7", 2);
  Expect("drop 2-1", 2);

  // A wrong FTP password with the host program already running: the link comes up, saying why.
  Expect("settings set Password=sbagliata", 0);
  ProcessResult r = Expect("catalogue", 0);
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
