// Damaged files never crash the readers; the catalogue's invariants hold whatever they hold.
#include <gtest/gtest.h>

#include <random>

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_files.h"
#include "config/settings.h"
#include "core/test_support.h"
#include "platform/file.h"

namespace torvan {
namespace {

class DamagedFilesTest : public ::testing::Test, protected ProgramFixture {
 protected:
  DamagedFilesTest() { setenv("TORVAN_HOSTS_FILE", (dir_ + "/hosts").c_str(), 1); }
  ~DamagedFilesTest() override { unsetenv("TORVAN_HOSTS_FILE"); }
  std::string Random(size_t max) {
    std::string s(std::uniform_int_distribution<size_t>(0, max)(rng_), '\0');
    for (char& c : s) c = char(std::uniform_int_distribution<int>(0, 255)(rng_));
    return s;
  }
  void Write(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(platform::WriteFileAtomic(path, bytes, 0600).ok());
  }

  std::mt19937 rng_{20261206};
};

TEST_F(DamagedFilesTest, SettingsReaderKeepsItsLowerBounds) {
  for (int i = 0; i < 300; ++i) {
    std::string text = i % 2 == 0 ? "[Generale]\r\nParametri=" + Random(400) + "\r\n" : Random(600);
    Write(program_.paths.settings, text);
    Leggi_Parametri(program_);
    EXPECT_GE(program_.settings.parametri.Ciclo_Sincronizz, 500);
    EXPECT_GE(program_.settings.parametri.Attesa_Sincronizz, 0);
    EXPECT_GE(program_.settings.parametri.Attesa_Restart, 0);
    (void)OptionsForm_Load(program_.paths);
  }
}

TEST_F(DamagedFilesTest, CatalogueInvariantsHoldForAnyFileContents) {
  Catalogue c;
  for (int i = 0; i < 100; ++i) {
    Write(program_.paths.database_catalogue, Random(3 * 146 + 20));
    Write(program_.paths.file_catalogue, Random(4 * 137 + 20));
    for (int f = 1; f <= 4; ++f) Write(program_.paths.FieldFile(f), Random(6 * 78 + 20));
    Carica_Catalogo(program_, c);
    int32_t last = 0;
    ASSERT_EQ(size_t(c.N_File) + 1, c.Tab_File.size());
    for (int f = 1; f <= c.N_File; ++f) {
      const FileEntry& e = c.Tab_File[size_t(f)];
      EXPECT_EQ(last + 1, e.Primo_Campo);
      EXPECT_EQ(e.Primo_Campo + e.N_Campi - 1, e.Ultimo_Campo);
      EXPECT_TRUE(e.Campo_IDX == 0 ||
                  (e.Campo_IDX >= e.Primo_Campo && e.Campo_IDX <= e.Ultimo_Campo));
      last = e.Ultimo_Campo;
    }
    EXPECT_EQ(size_t(last) + 1, c.Tab_Campi.size());
  }
}

}  // namespace
}  // namespace torvan
