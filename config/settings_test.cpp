#include "config/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>

#include "config/ini_file.h"
#include "config/scramble.h"
#include "core/text.h"
#include "hostlink/hosts_lookup.h"
#include "platform/fakes.h"
#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  SettingsTest() : dir_(folder_.path()), program_(Paths::InFolder(dir_), &clock_, &pump_) {
    setenv("TORVAN_HOSTS_FILE", (dir_ + "/hosts").c_str(), 1);
  }
  ~SettingsTest() override { unsetenv("TORVAN_HOSTS_FILE"); }
  void WritePlain(const std::string& plain) {
    ASSERT_TRUE(WritePrivateProfileString("Generale", "Parametri", Codifica_Parametri(plain).text,
                                          program_.paths.settings)
                    .ok());
  }
  std::string StoredPlain() {
    return Decodifica_Parametri(
               GetPrivateProfileString("Generale", "Parametri", "", program_.paths.settings))
        .text;
  }

  platform::TempFolder folder_{"torvan-test"};
  std::string dir_;
  platform::FakeClock clock_;
  platform::FakePump pump_;
  Program program_;
};

TEST_F(SettingsTest, AnAbsentFileGivesTheDefaultsAndLowerBounds) {
  program_.state.Prossimo_Tentativo = clock_.Monotonic();
  Leggi_Parametri(program_);
  const Parametri& p = program_.settings.parametri;
  EXPECT_EQ("", p.Nome_Connessione);
  EXPECT_EQ(10, p.Attesa_Dopo_Start);
  EXPECT_EQ(0, p.Attesa_Prima_Stop);
  EXPECT_EQ(500, p.Ciclo_Sincronizz);
  EXPECT_FALSE(p.Log_Su_File || p.Native_Client || p.Log_PC_AS);
  EXPECT_EQ(0, program_.settings.Attesa_Riprova);
  EXPECT_FALSE(program_.state.Prossimo_Tentativo.has_value());
  EXPECT_EQ("SQLite", program_.settings.sql.Motore);
  EXPECT_EQ(1, pump_.events);
}

TEST_F(SettingsTest, StandardValuesAreStoredExactly) {
  OptionsForm form = OptionsForm_Standard();
  ASSERT_TRUE(OptionsForm_Save(program_, form).ok());
  EXPECT_EQ("sistema origine" + std::string(35, ' ') + "UTENTE    " + std::string(10, ' ') +
                "4200 " + "00002" + "00030" + "00015" + "01000" + "TM        " + "21   " + "N" +
                "N" + "0    " + "N",
            StoredPlain());
  EXPECT_EQ(Codifica_Parametri(StoredPlain()).checksum,
            GetPrivateProfileString("Generale", "Check", "", program_.paths.settings));
  EXPECT_EQ("14:05:09 - Opzioni aggiornate", program_.stats.Stat_Testi[kStatusLine]);
  const Settings& s = program_.settings;
  EXPECT_EQ("sistema origine", s.parametri.Nome_Connessione);
  EXPECT_EQ("UTENTE", s.parametri.Utente);
  EXPECT_EQ(4200, s.parametri.Porta);
  EXPECT_EQ(30, s.parametri.Attesa_Dopo_Start);
  EXPECT_FLOAT_EQ(30.0f / 1440, s.Margine_Start);
  EXPECT_FLOAT_EQ(15.0f / 1440, s.Margine_Stop);
  EXPECT_EQ(1000, s.parametri.Ciclo_Sincronizz);
  EXPECT_EQ(21, s.parametri.Porta_FTP);
}

TEST_F(SettingsTest, RestartModeMovesTheStartWaitIntoTheRetryInterval) {
  OptionsForm form = OptionsForm_Standard();
  form.txtIN18 = "5";
  ASSERT_TRUE(OptionsForm_Save(program_, form).ok());
  EXPECT_EQ(5, program_.settings.parametri.Attesa_Restart);
  EXPECT_EQ(30, program_.settings.Attesa_Riprova);
  EXPECT_EQ(0, program_.settings.parametri.Attesa_Dopo_Start);
  EXPECT_EQ(0, program_.settings.parametri.Attesa_Prima_Stop);
}

TEST_F(SettingsTest, CalendarModeRaisesAShortStartWait) {
  OptionsForm form = OptionsForm_Standard();
  form.txtIN13 = "3";
  ASSERT_TRUE(OptionsForm_Save(program_, form).ok());
  EXPECT_EQ(10, program_.settings.parametri.Attesa_Dopo_Start);
  EXPECT_EQ(0, program_.settings.Attesa_Riprova);
}

TEST_F(SettingsTest, TheFormNormalisesWhatWasTyped) {
  OptionsForm form = OptionsForm_Standard();
  form.txtIN15 = "123456";  // six digits keep the last five
  form.txtIN12 = "900";
  form.txtIN3 = "segreto";  // passwords are stored in upper case
  form.txtIN1 = std::string(60, 'h');
  ASSERT_TRUE(OptionsForm_Save(program_, form).ok());
  std::string plain = StoredPlain();
  ASSERT_EQ(kParameterStringLength, plain.size());
  EXPECT_EQ("23456", plain.substr(90, 5));
  EXPECT_EQ("00900", plain.substr(75, 5));
  EXPECT_EQ("SEGRETO   ", plain.substr(60, 10));
  EXPECT_EQ(std::string(50, 'h'), plain.substr(0, 50));
  EXPECT_EQ(23456, program_.settings.parametri.Ciclo_Sincronizz);
  EXPECT_EQ("SEGRETO", program_.settings.parametri.Password);
}

TEST_F(SettingsTest, TheFormLoadsWhatWasSaved) {
  OptionsForm form = OptionsForm_Standard();
  form.chkLog_PC_AS = true;
  ASSERT_TRUE(OptionsForm_Save(program_, form).ok());
  OptionsForm loaded = OptionsForm_Load(program_.paths);
  EXPECT_EQ(PadRight("sistema origine", 50), loaded.txtIN1);
  EXPECT_EQ("4200 ", loaded.txtIN5);
  EXPECT_EQ("2", loaded.txtIN12);
  EXPECT_EQ("1000", loaded.txtIN15);
  EXPECT_EQ("0", loaded.txtIN18);
  EXPECT_TRUE(loaded.chkLog_PC_AS);
  EXPECT_FALSE(loaded.chkLog);
}

TEST_F(SettingsTest, ATruncatedOrDamagedParameterStringNeverFails) {
  WritePlain("sysorig");  // far shorter than 118 characters
  Leggi_Parametri(program_);
  EXPECT_EQ("sysorig", program_.settings.parametri.Nome_Connessione);
  EXPECT_EQ(0, program_.settings.parametri.Porta);
  EXPECT_EQ(500, program_.settings.parametri.Ciclo_Sincronizz);
  ASSERT_TRUE(platform::WriteFileAtomic(program_.paths.settings,
                                        "[Generale]\r\nParametri=\xFF\xFE|}~\r\nCheck=zz\r\n", 0600)
                  .ok());
  Leggi_Parametri(program_);
  EXPECT_EQ(10, program_.settings.parametri.Attesa_Dopo_Start);
}

TEST_F(SettingsTest, TheHostAddressComesFromTheHostsFile) {
  ASSERT_TRUE(platform::WriteFileAtomic(dir_ + "/hosts", "10.1.2.3  sysorig\n", 0644).ok());
  OptionsForm form = OptionsForm_Standard();
  form.txtIN1 = "SYSORIG";
  ASSERT_TRUE(OptionsForm_Save(program_, form).ok());
  EXPECT_EQ("10.1.2.3", AddressText(program_.settings.Indirizzo_Host));
}

TEST_F(SettingsTest, ExtraKeysOfTheFileAreRead) {
  ASSERT_TRUE(
      WritePrivateProfileString("Generale", "ClockMode", "2", program_.paths.settings).ok());
  ASSERT_TRUE(WritePrivateProfileString("SQL", "Motore", "ODBC", program_.paths.settings).ok());
  Leggi_Parametri(program_);
  EXPECT_EQ("2", program_.settings.ClockMode);
  EXPECT_EQ("ODBC", program_.settings.sql.Motore);
  EXPECT_EQ("FreeTDS", program_.settings.sql.Driver);
}

TEST(OptionsFormSet, NamesFlagsAndRefusals) {
  OptionsForm form = OptionsForm_Standard();
  std::string error;
  EXPECT_TRUE(OptionsForm_Set(form, "Porta", "4300", &error));
  EXPECT_EQ("4300", form.txtIN5);
  EXPECT_TRUE(OptionsForm_Set(form, "Log_Su_File", "s", &error));
  EXPECT_TRUE(form.chkLog);
  EXPECT_FALSE(OptionsForm_Set(form, "Log_Su_File", "yes", &error));
  EXPECT_NE(std::string::npos, error.find("S or N"));
  EXPECT_FALSE(OptionsForm_Set(form, "Portaa", "1", &error));
  EXPECT_NE(std::string::npos, error.find("unknown setting"));
  EXPECT_TRUE(form.chkLog);
}

}  // namespace
}  // namespace torvan
