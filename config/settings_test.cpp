#include "config/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "config/ini_file.h"
#include "config/scramble.h"
#include "core/test_support.h"
#include "core/text.h"
#include "hostlink/hosts_lookup.h"
#include "platform/file.h"

namespace torvan {
namespace {

using testing::Has;

class SettingsTest : public ::testing::Test, protected ProgramFixture {
 protected:
  SettingsTest() { setenv("TORVAN_HOSTS_FILE", (dir_ + "/hosts").c_str(), 1); }
  ~SettingsTest() override { unsetenv("TORVAN_HOSTS_FILE"); }
  void WritePlain(const std::string& plain) {
    ASSERT_TRUE(WritePrivateProfileString("Generale", "Parametri", Codifica_Parametri(plain).text,
                                          program_.paths.settings)
                    .ok());
  }
  void WriteFile(const std::string& bytes) {
    ASSERT_TRUE(platform::WriteFileAtomic(program_.paths.settings, bytes, 0600).ok());
  }
  std::string StoredPlain() {
    return Decodifica_Parametri(
               GetPrivateProfileString("Generale", "Parametri", "", program_.paths.settings))
        .text;
  }
};

// The standard form stored exactly and loaded back; what was typed normalised; the restart and
// calendar modes moving the waits; the host address from the hosts file.
TEST_F(SettingsTest, TheFormIsStoredAsTheParameterStringAndLoadsBack) {
  ASSERT_TRUE(platform::WriteFileAtomic(dir_ + "/hosts", "10.1.2.3  sysorig\n", 0644).ok());
  OptionsForm form = OptionsForm_Standard();
  form.chkLog_PC_AS = true;
  ASSERT_TRUE(OptionsForm_Save(program_, form).ok());
  EXPECT_EQ("sistema origine" + std::string(35, ' ') + "UTENTE    " + std::string(10, ' ') +
                "4200 " + "00002" + "00030" + "00015" + "01000" + "TM        " + "21   " + "N" +
                "N" + "0    " + "S",
            StoredPlain());
  EXPECT_EQ(Codifica_Parametri(StoredPlain()).checksum,
            GetPrivateProfileString("Generale", "Check", "", program_.paths.settings));
  EXPECT_EQ("14:05:09 - Opzioni aggiornate", program_.stats.Stat_Testi[kStatusLine]);
  const Parametri& p = program_.settings.parametri;
  EXPECT_EQ(std::tuple("sistema origine", "UTENTE", 4200, 30, 1000, 21, true),
            std::tuple(p.Nome_Connessione, p.Utente, p.Porta, p.Attesa_Dopo_Start,
                       p.Ciclo_Sincronizz, p.Porta_FTP, p.Log_PC_AS));
  EXPECT_FLOAT_EQ(30.0f / 1440, program_.settings.Margine_Start);
  EXPECT_FLOAT_EQ(15.0f / 1440, program_.settings.Margine_Stop);
  OptionsForm f = OptionsForm_Load(program_.paths);
  EXPECT_EQ(
      std::tuple(PadRight("sistema origine", 50), "4200 ", "2", "1000", "0", true, false),
      std::tuple(f.txtIN1, f.txtIN5, f.txtIN12, f.txtIN15, f.txtIN18, f.chkLog_PC_AS, f.chkLog));

  form.txtIN15 = "123456";  // six digits keep the last five
  form.txtIN12 = "900";
  form.txtIN3 = "Segreto1";  // a password keeps its case, the user is upper case
  form.txtIN2 = "ftptest";
  form.txtIN1 = std::string(60, 'h');
  ASSERT_TRUE(OptionsForm_Save(program_, form).ok());
  const std::string plain = StoredPlain();
  ASSERT_EQ(kParameterStringLength, plain.size());
  EXPECT_EQ(std::string(50, 'h') + "FTPTEST   Segreto1  4200 00900", plain.substr(0, 80));
  EXPECT_EQ("23456", plain.substr(90, 5));
  EXPECT_EQ(std::tuple(23456, "Segreto1"), std::tuple(p.Ciclo_Sincronizz, p.Password));

  // Restart mode moves the start wait into the retry interval; calendar mode raises a short one.
  auto waits = [&] {
    return std::tuple(p.Attesa_Restart, program_.settings.Attesa_Riprova, p.Attesa_Dopo_Start,
                      p.Attesa_Prima_Stop);
  };
  form = OptionsForm_Standard();
  form.txtIN1 = "SYSORIG";
  form.txtIN18 = "5";
  ASSERT_TRUE(OptionsForm_Save(program_, form).ok());
  EXPECT_EQ(std::tuple(5, 30, 0, 0), waits());
  form.txtIN18 = "0";
  form.txtIN13 = "3";
  ASSERT_TRUE(OptionsForm_Save(program_, form).ok());
  EXPECT_EQ(std::tuple(0, 0, 10, 15), waits());
  EXPECT_EQ("10.1.2.3", AddressText(program_.settings.Indirizzo_Host));
}

TEST_F(SettingsTest, ValuesTheSettingsCannotHoldAreRefused) {
  auto port = [](const std::string& v) {
    return "Porta: un numero intero da 1 a 65535, non \"" + v + "\"";
  };
  auto timing = [](const std::string& key, const std::string& v) {
    return key + ": un numero intero da 0 a 99999, non \"" + v + "\"";
  };
  auto character = [](const std::string& key, const std::string& c) {
    return key + ": il carattere \"" + c +
           "\" non si pu\xF2 memorizzare (solo i codici da 32 a 123)";
  };
  const std::string start =
      "Nome_Connessione: non pu\xF2 avere \"{\" nei primi due caratteri n\xE9 cominciare con "
      "\"zz\" o \"##\"";
  const struct {
    const char* meaning;
    const char* name;
    std::string value;
    std::string error;  // empty: accepted
  } rows[] = {
      {"a port", "Porta", "4200", ""},
      {"the highest port", "Porta", "65535", ""},
      {"a port of six characters", "Porta", "004200", port("004200")},
      {"a port beyond 65535", "Porta", "70000", port("70000")},
      {"a port that is not a number", "Porta", "abc", port("abc")},
      {"port 0", "Porta", "0", port("0")},
      {"no port", "Porta", "", port("")},
      {"a port padded as stored", "Porta", "4200 ", ""},
      {"FTP port 0: no FTP step", "Porta_FTP", "0", ""},
      {"a timing of five digits", "Ciclo_Sincronizz", "99999", ""},
      {"a decimal timing", "Attesa_Sincronizz", "2.5", timing("Attesa_Sincronizz", "2.5")},
      {"a password of ten", "Password", "abcdefghij", ""},
      {"a password of eleven", "Password", "abcdefghijk",
       "Password: al massimo 10 caratteri, non 11"},
      {"a user with an accented letter", "Utente", "jos\xE8", character("Utente", "\xE8")},
      {"a library with a bar", "Libreria", "A|B", character("Libreria", "|")},
      {"a host name with a brace", "Nome_Connessione", "host}", character("Nome_Connessione", "}")},
      {"a host name of fifty", "Nome_Connessione", std::string(50, 'h'), ""},
      {"a host name of fifty-one", "Nome_Connessione", std::string(51, 'h'),
       "Nome_Connessione: al massimo 50 caratteri, non 51"},
      {"a host name that the file would strip of a blank", "Nome_Connessione", "{host", start},
      {"a host name that the file would unquote", "Nome_Connessione", "zzhost", start},
      {"a brace further on", "Nome_Connessione", "ho{st", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.error, OptionsForm_CheckBox(row.name, row.value)) << row.meaning;
    OptionsForm form = OptionsForm_Standard(), before = form;
    std::string error;
    EXPECT_EQ(row.error.empty(), OptionsForm_Set(form, row.name, row.value, &error)) << row.meaning;
    if (row.error.empty()) continue;
    EXPECT_EQ(row.error, error) << row.meaning;
    EXPECT_EQ(OptionsForm_Normalise(before), OptionsForm_Normalise(form)) << row.meaning;
  }
  EXPECT_TRUE(OptionsForm_Check(OptionsForm_Standard()).empty());
  OptionsForm form = OptionsForm_Standard();
  form.txtIN5 = "abc";
  form.txtIN3 = "troppo lunga";
  EXPECT_EQ(std::vector<std::string>({"Password: al massimo 10 caratteri, non 12", port("abc")}),
            OptionsForm_Check(form));
  // Set takes flags as S or N (any case) and refuses names it does not know.
  form = OptionsForm_Standard();
  std::string flag, name;
  EXPECT_TRUE(OptionsForm_Set(form, "Log_Su_File", "s", &flag));
  EXPECT_FALSE(OptionsForm_Set(form, "Log_Su_File", "yes", &flag));
  EXPECT_FALSE(OptionsForm_Set(form, "Portaa", "1", &name));
  EXPECT_TRUE(form.chkLog);
  EXPECT_EQ(std::pair(true, true),
            std::pair(Has(flag, "S o N"), Has(name, "impostazione sconosciuta")));

  // The first two characters end the scrambled string: accepted is what reads back as typed.
  const std::string edge = " !\"#'az{";
  for (char first : edge) {
    for (char second : edge) {
      form.txtIN1 = std::string(1, first) + second + "host";
      const std::string plain = OptionsForm_Normalise(form);
      ASSERT_NO_FATAL_FAILURE(WritePlain(plain));
      EXPECT_EQ(StoredPlain() == plain,
                OptionsForm_CheckBox("Nome_Connessione", form.txtIN1).empty())
          << form.txtIN1;
    }
  }
}

// The keys beside the parameter string: read, checked, written; a refused value writes nothing.
TEST_F(SettingsTest, TheKeysBesideTheParameterStringAreReadCheckedAndWritten) {
  std::vector<std::string>& lines = StatusLines();
  const std::string& path = program_.paths.settings;
  ASSERT_TRUE(WritePrivateProfileString("Generale", "ClockMode", "2", path).ok());
  ASSERT_TRUE(WritePrivateProfileString("SQL", "Motore", "ODBC", path).ok());
  Leggi_Parametri(program_);
  const Settings& s = program_.settings;
  EXPECT_EQ(std::tuple("2", "ODBC", "FreeTDS", false, "", 0, "127.0.0.1"),
            std::tuple(s.ClockMode, s.sql.Motore, s.sql.Driver, s.Durevole, s.sql.Attributi,
                       s.Metriche, s.Metriche_Indirizzo));
  const std::string attributes = "TrustServerCertificate=yes;Encrypt=no;";
  const std::string ends = "Attributi: senza spazi alle estremit\xE0 n\xE9 tra virgolette";
  const std::string address =
      "Metriche_Indirizzo: un indirizzo IP (per esempio 127.0.0.1 o ::1), non ";
  auto port = [](const std::string& v) {
    return "Metriche: un numero intero da 0 a 65535, non \"" + v + "\"";
  };
  // Key, value, refusal (empty: taken); the last value a key takes is the one read back.
  const std::string rows[][3] = {
      {"Durevole", "1", ""},
      {"Durevole", "2", "Durevole: 0 oppure 1, non \"2\""},
      {"Attributi", "", ""},
      {"Attributi", attributes, ""},
      {"Attributi", "a=1;\tb", "Attributi: nessun carattere di controllo"},
      {"Attributi", " a=1;", ends},
      {"Attributi", "\"a=1;\"", ends},
      {"Attributi", std::string(256, 'a'), "Attributi: al massimo 255 caratteri, non 256"},
      {"Metriche", "0", ""},
      {"Metriche", "65535", ""},
      {"Metriche", "9100", ""},
      {"Metriche", "65536", port("65536")},
      {"Metriche", "porta", port("porta")},
      {"Metriche", "009100", port("009100")},
      {"Metriche_Indirizzo", "::1", ""},
      {"Metriche_Indirizzo", "127.0.0.2", ""},
      {"Metriche_Indirizzo", "localhost", address + "\"localhost\""},
      {"Motore", "postgresql", ""},
      {"Motore", "Oracle", "Motore: SQLite, ODBC o PostgreSQL, non \"Oracle\""},
      {"Motori", "GESTIONALE=PostgreSQL; ARCHIVIO = sqlite ;", ""},
      {"Motori", "GESTIONALE",
       "Motori: coppie DataBase=motore separate da \";\", non \"GESTIONALE\""},
      {"Driver", "DSN=Torvan", ""},
      {"Driver_Nativo", " ", "Driver_Nativo: il nome di un driver ODBC, o DSN=<nome>"},
      {"Conflitti", "pc", ""},
      {"Conflitti", "NESSUNO", "Conflitti: HOST oppure PC, non \"NESSUNO\""},
      {"Finestra_Conflitti", "600", ""},
      {"Finestra_Conflitti", "86401",
       "Finestra_Conflitti: un numero intero da 0 a 86400, non \"86401\""},
  };
  for (const auto& [key, value, refused] : rows) {
    EXPECT_EQ(refused, CheckProfileSetting(key, value)) << key << "=" << value;
    const std::string before = testing::ReadText(path);
    EXPECT_EQ(refused.empty(), SaveProfileSetting(program_.paths, key, value).ok()) << value;
    if (!refused.empty()) {
      EXPECT_EQ(before, testing::ReadText(path)) << key << "=" << value;
    }
  }
  EXPECT_FALSE(SaveProfileSetting(program_.paths, "Porta", "4200").ok());
  Leggi_Parametri(program_);
  EXPECT_EQ(std::tuple(true, attributes, 9100, "127.0.0.2", "postgresql",
                       "GESTIONALE=PostgreSQL; ARCHIVIO = sqlite ;", "DSN=Torvan", true, 600),
            std::tuple(s.Durevole, s.sql.Attributi, s.Metriche, s.Metriche_Indirizzo, s.sql.Motore,
                       s.sql.Motori, s.sql.Driver, s.Vince_Il_Pc, s.Finestra_Conflitti));
  EXPECT_EQ(std::tuple("1", attributes),
            std::tuple(GetPrivateProfileString("Generale", "Durevole", "", path),
                       GetPrivateProfileString("SQL", "Attributi", "", path)));
  EXPECT_TRUE(lines.empty());

  // Edited by hand to what it cannot be: said, and no metrics.
  ASSERT_TRUE(WritePrivateProfileString("Generale", "Metriche", "91OO", path).ok());
  Leggi_Parametri(program_);
  EXPECT_EQ(0, s.Metriche);
  EXPECT_EQ(std::vector<std::string>({"ERRORE nella lettura del file delle impostazioni " + path +
                                      ": Metriche: un numero intero da 0 a 65535, non \"91OO\"; "
                                      "in uso 0 (nessun server delle metriche)"}),
            lines);
}

// No file, a short parameter string, a file that is not a settings file (said once): defaults.
TEST_F(SettingsTest, AnAbsentShortOrForeignFileGivesTheDefaults) {
  program_.state.Prossimo_Tentativo = clock_.Monotonic();
  Leggi_Parametri(program_);
  const Parametri& p = program_.settings.parametri;
  EXPECT_EQ(
      std::tuple("", 10, 0, 500, 0, "SQLite", 1),
      std::tuple(p.Nome_Connessione, p.Attesa_Dopo_Start, p.Attesa_Prima_Stop, p.Ciclo_Sincronizz,
                 program_.settings.Attesa_Riprova, program_.settings.sql.Motore, pump_.events));
  EXPECT_FALSE(p.Log_Su_File || p.Native_Client || p.Log_PC_AS ||
               program_.state.Prossimo_Tentativo.has_value());
  WritePlain("sysorig");  // far shorter than 118 characters
  Leggi_Parametri(program_);
  EXPECT_EQ(std::tuple("sysorig", 0, 500),
            std::tuple(p.Nome_Connessione, p.Porta, p.Ciclo_Sincronizz));

  std::vector<std::string>& lines = StatusLines();
  const std::string said = "ERRORE nella lettura del file delle impostazioni " +
                           program_.paths.settings +
                           ": non \xE8 un file di impostazioni; in uso i valori predefiniti";
  const struct {
    const char* meaning;
    std::string contents;
    bool said;
  } rows[] = {
      {"binary", std::string("\177ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0", 20), true},
      {"garbage text", "questo non \xE8 un file INI\r\nParametri=xyz\r\n", true},
      {"empty", "", false},
      {"blank lines only", "\r\n  \r\n\t\r\n", false},
      {"only the window placement", "[Dimensioni Base]\r\nLeft=10\r\n", false},
      {"a section and damaged keys", "[Generale]\r\nParametri=\xFF\xFE\r\n\x01\x02\r\n", false},
      {"a damaged parameter string", "[Generale]\r\nParametri=\xFF\xFE|}~\r\nCheck=zz\r\n", false},
  };
  for (const auto& row : rows) {
    ASSERT_NO_FATAL_FAILURE(WriteFile(row.contents));
    lines.clear();
    Leggi_Parametri(program_);
    EXPECT_EQ(row.said ? std::vector<std::string>{said} : std::vector<std::string>{}, lines)
        << row.meaning;
    EXPECT_EQ(std::pair(10, 500), std::pair(p.Attesa_Dopo_Start, p.Ciclo_Sincronizz));
  }
  // A folder where the file should be cannot be read at all.
  ASSERT_TRUE(platform::RemoveFile(program_.paths.settings).ok());
  ASSERT_EQ(0, ::mkdir(program_.paths.settings.c_str(), 0700));
  lines.clear();
  Leggi_Parametri(program_);
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(0u, lines[0].find("ERRORE nella lettura del file delle impostazioni " +
                              program_.paths.settings + ": "));
}

}  // namespace
}  // namespace torvan
