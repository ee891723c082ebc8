#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "catalogue/catalogue_files.h"
#include "core/text.h"
#include "platform/fakes.h"
#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan {
namespace {

Campo_Rec Field(const std::string& name, const std::string& type, int32_t pos, int32_t bytes,
                const std::string& escluso = " ") {
  Campo_Rec c;
  c.Nome = name;
  c.Testo = "descrizione " + name;
  c.Tipo = type;
  c.Lunghezza = bytes;
  c.Posizione = pos;
  c.Byte = bytes;
  c.Escluso = escluso;
  return c;
}

File_Rec File(const std::string& lib, const std::string& name, const std::string& pc_as,
              int32_t db = 1) {
  File_Rec f;
  f.Libreria = lib;
  f.File = name;
  f.As_Pc = "S";
  f.Pc_As = pc_as;
  f.DataBase = "GESTIONE";
  f.Indice_DB = db;
  return f;
}

TEST(CatalogueFiles, RecordsHaveTheirExactBytes) {
  Campo_Rec c = Field("CODICE", "P", 7, 5);
  c.Decimali = 2;
  c.Lunghezza = 9;
  std::string bytes = EncodeRecord(c);
  ASSERT_EQ(78u, bytes.size());
  EXPECT_EQ("CODICE    ", bytes.substr(0, 10));
  EXPECT_EQ('P', bytes[60]);
  EXPECT_EQ(std::string("\x09\0\0\0", 4), bytes.substr(61, 4));
  EXPECT_EQ(std::string("\x02\0\0\0", 4), bytes.substr(65, 4));
  EXPECT_EQ(std::string("\x07\0\0\0", 4), bytes.substr(69, 4));
  EXPECT_EQ(std::string("\x05\0\0\0", 4), bytes.substr(73, 4));
  EXPECT_EQ(' ', bytes[77]);

  File_Rec f = File("DATI", "CLIENTI", "S", -2);
  bytes = EncodeRecord(f);
  ASSERT_EQ(137u, bytes.size());
  EXPECT_EQ("DATI      CLIENTI   ", bytes.substr(0, 20));
  EXPECT_EQ("SS ", bytes.substr(90, 3));
  EXPECT_EQ("GESTIONE            ", bytes.substr(93, 20));
  EXPECT_EQ(std::string("\xFE\xFF\xFF\xFF", 4), bytes.substr(133, 4));
  EXPECT_EQ(-2, DecodeFileRec(bytes).Indice_DB);

  DataBase_Rec d;
  d.Nome_DB = "GESTIONE";
  d.Cartella_DB = std::string(60, 'x');  // cut to its 50 characters
  bytes = EncodeRecord(d);
  ASSERT_EQ(146u, bytes.size());
  EXPECT_EQ(std::string(50, 'x'), bytes.substr(96));
  EXPECT_EQ(PadRight("GESTIONE", 20), DecodeDataBaseRec(bytes).Nome_DB);
}

class CatalogueTest : public ::testing::Test {
 protected:
  CatalogueTest() : dir_(folder_.path()), program_(Paths::InFolder(dir_), &clock_, &pump_) {}
  void Files(const std::vector<File_Rec>& files) {
    ASSERT_TRUE(WriteRecords(program_.paths.file_catalogue, files).ok());
  }
  void Fields(int n, const std::vector<Campo_Rec>& fields) {
    ASSERT_TRUE(WriteRecords(program_.paths.FieldFile(n), fields).ok());
  }

  platform::TempFolder folder_{"torvan-test"};
  std::string dir_;
  platform::FakeClock clock_;
  platform::FakePump pump_;
  Program program_;
  Catalogue catalogue_;
};

TEST_F(CatalogueTest, ShortOrDamagedFilesYieldTheirWholeRecordsOnly) {
  std::vector<Campo_Rec> fields = {Field("A", "A", 1, 1), Field("B", "A", 2, 1)};
  ASSERT_TRUE(WriteRecords(dir_ + "/f.DAT", fields).ok());
  std::string bytes;
  ASSERT_TRUE(platform::ReadFile(dir_ + "/f.DAT", &bytes).ok());
  ASSERT_TRUE(platform::WriteFileAtomic(dir_ + "/f.DAT", bytes.substr(0, 78 + 40), 0600).ok());
  std::vector<Campo_Rec> back;
  ASSERT_TRUE(ReadCampoRecs(dir_ + "/f.DAT", &back).ok());
  ASSERT_EQ(1u, back.size());
  EXPECT_EQ("A         ", back[0].Nome);
  ASSERT_TRUE(ReadCampoRecs(dir_ + "/none.DAT", &back).ok());
  EXPECT_TRUE(back.empty());
}

TEST_F(CatalogueTest, FieldRangesFollowEachOtherAndSkipExcludedFields) {
  Files({File("DATI", "CLIENTI", "S"), File("DATI", "VUOTO", "N"), File("DATI", "ART", "N")});
  Fields(1, {Field("CODICE", "A", 1, 6), Field("NOTE", "A", 7, 10, "X"),
             Field(kCampoIdx, "P", 17, 7)});
  Fields(2, {Field("SOLO", "A", 1, 6, "S")});
  Fields(3, {Field("COD", "A", 1, 6), Field("PREZZO", "P", 7, 5)});
  Carica_Catalogo(program_, catalogue_);

  ASSERT_EQ(3, catalogue_.N_File);
  const FileEntry& f1 = catalogue_.Tab_File[1];
  EXPECT_EQ("CLIENTI", f1.File);
  EXPECT_EQ(1, f1.Primo_Campo);
  EXPECT_EQ(2, f1.Ultimo_Campo);
  EXPECT_EQ(2, f1.N_Campi);
  EXPECT_EQ(2, f1.Campo_IDX);
  EXPECT_TRUE(f1.As_Pc && f1.Pc_As);
  const FileEntry& f2 = catalogue_.Tab_File[2];
  EXPECT_EQ(0, f2.N_Campi);
  EXPECT_EQ(f2.Primo_Campo - 1, f2.Ultimo_Campo);
  const FileEntry& f3 = catalogue_.Tab_File[3];
  EXPECT_EQ(3, f3.Primo_Campo);
  EXPECT_EQ(4, f3.Ultimo_Campo);
  EXPECT_EQ("[PREZZO]", catalogue_.Tab_Campi[4].Nome_Sql);
  EXPECT_EQ("P", catalogue_.Tab_Campi[4].Tipo);
  EXPECT_EQ(7, catalogue_.Tab_Campi[4].Posizione);
  EXPECT_FALSE(catalogue_.Catalogo_Errato);
}

TEST_F(CatalogueTest, IndexFieldMissingOrMisplacedIsReported) {
  std::vector<std::string> lines;
  program_.log.on_status_line = [&](std::string_view l) { lines.emplace_back(l); };
  Files({File("DATI", "CLIENTI", "S"), File("DATI", "ART", "N")});
  Fields(1, {Field("CODICE", "A", 1, 6)});
  Fields(2, {Field("COD", "A", 1, 6), Field(kCampoIdx, "P", 7, 7)});
  Carica_Catalogo(program_, catalogue_);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("14:05:09 -    *** ERRORE ***  Nel file DATI/CLIENTI manca il campo \xA7_T_IDX___",
            lines[0]);
  EXPECT_EQ("14:05:09 -    *** ERRORE ***  Nel file DATI/ART \xE8 presente il campo \xA7_T_IDX___",
            lines[1]);
  EXPECT_TRUE(catalogue_.Catalogo_Errato);
  EXPECT_EQ(2, catalogue_.N_File);  // the files keep their entries
}

TEST_F(CatalogueTest, NoFilesGiveEmptyTablesAndFoldersComeFromTheDatabases) {
  DataBase_Rec d;
  d.Nome_DB = "GESTIONE";
  d.Cartella_DB = "/srv/immagini/   ";
  ASSERT_TRUE(WriteRecords(program_.paths.database_catalogue, std::vector<DataBase_Rec>{d}).ok());
  Carica_Catalogo(program_, catalogue_);
  EXPECT_EQ(0, catalogue_.N_File);
  EXPECT_EQ(1u, catalogue_.Tab_File.size());
  ASSERT_EQ(2u, catalogue_.Tab_Cartelle_DB.size());
  EXPECT_EQ("/srv/immagini/", catalogue_.Tab_Cartelle_DB[1]);
}

}  // namespace
}  // namespace torvan
