// The torvan command line, run as an operator runs it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "catalogue/catalogue_files.h"
#include "config/ini_file.h"
#include "config/scramble.h"
#include "hostlink/test_peer.h"
#include "links/scripted_host_test_util.h"
#include "platform/file.h"
#include "platform/temp_folder.h"

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
      "Attributi=\n",
      r.out);
  struct stat st {};
  ASSERT_EQ(0, stat((dir_ + "/TnC.INI").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 0777);
}

TEST_F(CliTest, SetTypesIntoTheFormAndKeepsTheOtherBoxes) {
  ASSERT_EQ(0, Run("settings --standard").exit_code);
  Result w =
      Run("settings set Nome_Connessione=127.0.0.1 Attesa_Restart=5 Log_Su_File=S "
          "Password=segreto");
  ASSERT_EQ(0, w.exit_code) << w.err;
  Result r = Run("settings");
  EXPECT_NE(std::string::npos, r.out.find("Nome_Connessione=127.0.0.1\n"));
  EXPECT_NE(std::string::npos, r.out.find("Password=SEGRETO\n"));
  EXPECT_NE(std::string::npos, r.out.find("Attesa_Restart=5\n"));
  EXPECT_NE(std::string::npos, r.out.find("Attesa_Riprova=30\n"));
  EXPECT_NE(std::string::npos, r.out.find("Attesa_Dopo_Start=0\n"));
  EXPECT_NE(std::string::npos, r.out.find("Log_Su_File=S\n"));
  EXPECT_NE(std::string::npos, r.out.find("Porta=4200\n"));
  EXPECT_NE(std::string::npos, r.out.find("Indirizzo_Host=127.0.0.1\n"));
  // The message is logged before the new settings are read: only the next save reaches
  // the log file.
  EXPECT_FALSE(platform::FileExists(dir_ + "/TnC.Log"));
  ASSERT_EQ(0, Run("settings set Porta=4201").exit_code);
  std::string log;
  ASSERT_TRUE(platform::ReadFile(dir_ + "/TnC.Log", &log).ok());
  EXPECT_NE(std::string::npos, log.find(" - Opzioni aggiornate\r\n"));
}

TEST_F(CliTest, BadAssignmentsAreRefusedAndTheFileIsLeftUntouched) {
  ASSERT_EQ(0, Run("settings --standard").exit_code);
  std::string before = Ini();
  for (const char* args : {"settings set Portaa=1", "settings set Porta", "settings set =3",
                           "settings set Log_PC_AS=maybe", "settings set Porta=1 Bogus=2"}) {
    Result r = Run(args);
    EXPECT_EQ(2, r.exit_code) << args;
    EXPECT_NE("", r.err) << args;
    EXPECT_EQ(before, Ini()) << args;
  }
}

// A value the settings cannot hold is refused whole: exit 2, the field and its rule, and
// the file untouched (also the values typed before it).
TEST_F(CliTest, ValuesTheSettingsCannotHoldAreRefused) {
  ASSERT_EQ(0, Run("settings --standard").exit_code);
  const std::string before = Ini();
  const std::pair<const char*, const char*> rows[] = {
      {"Porta=123456",
       "torvan: Porta: un numero intero da 1 a 65535, non \"123456\"; nothing "
       "was written\n"},
      {"Porta=abc",
       "torvan: Porta: un numero intero da 1 a 65535, non \"abc\"; nothing was "
       "written\n"},
      {"Porta_FTP=2121 Porta=-1",
       "torvan: Porta: un numero intero da 1 a 65535, non \"-1\"; nothing was written\n"},
      {"Password=abcdefghijk",
       "torvan: Password: al massimo 10 caratteri, non 11; nothing was written\n"},
      {"Utente=jos\xC3\xA9",
       "torvan: Utente: il carattere \"\xC3\xA9\" non si pu\xC3\xB2 "
       "memorizzare (solo i codici da 32 a 123); nothing was written\n"},
      {"Libreria=A~B",
       "torvan: Libreria: il carattere \"~\" non si pu\xC3\xB2 memorizzare "
       "(solo i codici da 32 a 123); nothing was written\n"},
      {"Nome_Connessione=\xE6\x9D\xB1\xE4\xBA\xAC",
       "torvan: Nome_Connessione: \"??\" holds a character Windows-1252 cannot hold; nothing "
       "was written\n"},
      {"Durevole=2", "torvan: Durevole: 0 oppure 1, non \"2\"; nothing was written\n"},
      {"Durevole=1 Attributi=\"' a=1'\"",
       "torvan: Attributi: senza spazi alle estremit\xC3\xA0 n\xC3\xA9 tra virgolette; nothing "
       "was written\n"},
  };
  for (const auto& [args, err] : rows) {
    Result r = Run(std::string("settings set ") + args);
    EXPECT_EQ(2, r.exit_code) << args;
    EXPECT_EQ(err, r.err) << args;
    EXPECT_EQ(before, Ini()) << args;
  }
}

TEST_F(CliTest, DurevoleAndAttributiAreSetAndShown) {
  ASSERT_EQ(0, Run("settings --standard").exit_code);
  const std::string before = Ini();
  Result w = Run("settings set Durevole=1 'Attributi=TDS_Version=7.4;Encrypt=no;'");
  ASSERT_EQ(0, w.exit_code) << w.err;
  Result r = Run("settings");
  EXPECT_NE(std::string::npos, r.out.find("\nDurevole=1\nAttributi=TDS_Version=7.4;Encrypt=no;\n"))
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

TEST_F(CliTest, UnknownCommandsAndMissingFoldersAreRefused) {
  EXPECT_EQ(2, Run("fly").exit_code);
  Result r = Run("--help");
  EXPECT_EQ(0, r.exit_code);
  EXPECT_NE(std::string::npos, r.out.find("settings"));
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

TEST_F(CliTest, FieldsPrintsTheFieldViewOrThePlaceholder) {
  Result r = Run("fields 1");
  ASSERT_EQ(0, r.exit_code) << r.err;
  EXPECT_EQ(
      "#\tCampo\tTesto\tT\tLung.\tDec.\tPosiz.\tByte\tEsclusi\n"
      "\t\t**** NESSUN CAMPO ****\t\t\t\t\t\t\n",
      r.out);
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
    host_ = dir_ + "/host";
    std::system(("cp -r " TORVAN_SAMPLE_HOST " " + host_).c_str());
    std::system(("cp " TORVAN_CHAR_TABLE " " + dir_ + "/TnC_TBL1.Tbl").c_str());
    std::string cmd = std::string(TORVAN_HOST_EXE) + " serve --data " + host_ + " --ftp-port 0 >" +
                      dir_ + "/host.out 2>&1 & echo $! >" + dir_ + "/host.pid";
    ASSERT_EQ(0, std::system(cmd.c_str()));
    for (int i = 0; i < 500 && ftp_port_ == 0; ++i) {
      std::string ports;
      if (platform::ReadFile(host_ + "/ports.txt", &ports).ok() && ports.find("ftp ") == 0) {
        ftp_port_ = std::atoi(ports.c_str() + 4);
      }
      if (ftp_port_ == 0) usleep(10000);
    }
    ASSERT_NE(0, ftp_port_);
  }
  void TearDown() override {
    std::system(("kill $(cat " + dir_ + "/host.pid) 2>/dev/null; sleep 0.2").c_str());
    CliTest::TearDown();
  }
  void Configure() {
    ASSERT_EQ(0, Run("settings --standard").exit_code);
    Result r =
        Run("settings set Nome_Connessione=127.0.0.1 Utente=utente Password=torvan "
            "Porta_FTP=" +
            std::to_string(ftp_port_) +
            " Porta=" + std::to_string(hostlink::testing::ClosedPort()) + " Attesa_Sincronizz=1");
    ASSERT_EQ(0, r.exit_code) << r.err;
  }

  std::string host_;
  int ftp_port_ = 0;
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
  EXPECT_EQ(0, again.exit_code);
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

TEST_F(SampleHostTest, AWrongPasswordIsReportedAndTheLinkStillTried) {
  Configure();
  ASSERT_EQ(0, Run("settings set Password=sbagliata Porta=" +
                   std::to_string(hostlink::testing::ClosedPort()))
                   .exit_code);
  // With nobody listening on Porta, three attempts would take minutes: the test only
  // checks the FTP refusal, then stops torvan.
  std::string cmd = "timeout 3 " + std::string(TORVAN_EXE) + " --dir " + dir_ + " catalogue >" +
                    dir_ + "/out 2>&1 </dev/null";
  std::system(cmd.c_str());
  std::string out;
  (void)platform::ReadFile(dir_ + "/out", &out);
  EXPECT_NE(std::string::npos, out.find(" - Password errata\n")) << out;
}

}  // namespace
}  // namespace torvan
