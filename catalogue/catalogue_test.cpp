#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "catalogue/catalogue_files.h"
#include "core/test_support.h"
#include "core/text.h"
#include "platform/file.h"

namespace torvan {
namespace {

// A field of as many digits as its bytes hold.
Campo_Rec Field(const std::string& name, const std::string& type, int32_t pos, int32_t bytes,
                const std::string& escluso = " ") {
  return {name,   "descrizione " + name, type, type == "P" ? 2 * bytes - 1 : bytes, 0, pos, bytes,
          escluso};
}

File_Rec File(const std::string& lib, const std::string& name, const std::string& pc_as,
              int32_t db = 1) {
  return {lib, name, "", "", "", "S", pc_as, "", "GESTIONE", "", "", db};
}

TEST(CatalogueFiles, RecordsHaveTheirExactBytes) {
  Campo_Rec c = Field("CODICE", "P", 7, 5);
  c.Decimali = 2;
  EXPECT_EQ("CODICE    " + PadRight("descrizione CODICE", 50) + "P" +
                std::string("\x09\0\0\0\x02\0\0\0\x07\0\0\0\x05\0\0\0 ", 17),
            EncodeRecord(c));
  const std::string bytes = EncodeRecord(File("DATI", "CLIENTI", "S", -2));
  EXPECT_EQ("DATI      CLIENTI   " + std::string(70, ' ') + "SS GESTIONE" + std::string(32, ' ') +
                "\xFE\xFF\xFF\xFF",
            bytes);
  EXPECT_EQ(-2, DecodeFileRec(bytes).Indice_DB);

  // The folder cut to its 50 characters.
  const std::string db =
      EncodeRecord(DataBase_Rec{"GESTIONE", "", "", "", "", std::string(60, 'x')});
  ASSERT_EQ(146u, db.size());
  EXPECT_EQ(std::string(50, 'x'), db.substr(96));
  EXPECT_EQ(PadRight("GESTIONE", 20), DecodeDataBaseRec(db).Nome_DB);
}

class CatalogueTest : public ::testing::Test, protected ProgramFixture {
 protected:
  void Files(const std::vector<File_Rec>& files) {
    ASSERT_TRUE(WriteRecords(program_.paths.file_catalogue, files).ok());
  }
  void Fields(int n, const std::vector<Campo_Rec>& fields) {
    ASSERT_TRUE(WriteRecords(program_.paths.FieldFile(n), fields).ok());
  }
  // Each file loaded: "NAME first-last" of its fields in Tab_Campi, index field, layout wrong.
  std::string Ranges() {
    std::string out;
    for (int n = 1; n <= catalogue_.N_File; ++n) {
      const FileEntry& f = catalogue_.Tab_File[size_t(n)];
      out += f.File + " " + std::to_string(f.Primo_Campo) + "-" + std::to_string(f.Ultimo_Campo) +
             (f.Campo_IDX ? " idx " + std::to_string(f.Campo_IDX) : "") +
             (f.Tracciato_Errato ? " errato" : "") + "; ";
    }
    return out;
  }
  Catalogue catalogue_;
};

// Short files yield their whole records only; no files give empty tables, and the folders
// come from the databases.
TEST_F(CatalogueTest, ShortOrMissingFilesYieldTheirWholeRecordsOnly) {
  const std::string bytes =
      EncodeRecord(Field("A", "A", 1, 1)) + EncodeRecord(Field("B", "A", 2, 1));
  ASSERT_TRUE(platform::WriteFileAtomic(dir_ + "/f.DAT", bytes.substr(0, 78 + 40), 0600).ok());
  std::vector<Campo_Rec> back;
  ASSERT_TRUE(ReadCampoRecs(dir_ + "/f.DAT", &back).ok());
  ASSERT_EQ(1u, back.size());
  EXPECT_EQ("A         ", back[0].Nome);
  ASSERT_TRUE(ReadCampoRecs(dir_ + "/none.DAT", &back).ok());
  EXPECT_TRUE(back.empty());

  const DataBase_Rec d{"GESTIONE", "", "", "", "", "/srv/immagini/   "};
  ASSERT_TRUE(WriteRecords(program_.paths.database_catalogue, std::vector<DataBase_Rec>{d}).ok());
  Carica_Catalogo(program_, catalogue_);
  EXPECT_EQ(std::tuple(0, 1u, std::vector<std::string>{"", "/srv/immagini/"}),
            std::tuple(catalogue_.N_File, catalogue_.Tab_File.size(), catalogue_.Tab_Cartelle_DB));
}

CampoEntry Layout(const std::string& type, int32_t digits, int32_t decimals, int32_t pos,
                  int32_t bytes, const std::string& name = "CAMPO") {
  return {name, "", type, pos, bytes, digits, decimals};
}

// Layouts that can be right (packed decimals up to the digits the bytes hold), and why not.
TEST(FieldLayout, WhatCanAndCannotBeRight) {
  for (const CampoEntry& f :
       {Layout("A", 10, 0, 1, 10), Layout("A", 4067, 0, 1, 4067), Layout("S", 7, 2, 1, 7),
        Layout("S", 5, 3, 1, 2), Layout("P", 7, 2, 1, 4), Layout("P", 5, 5, 1, 3),
        Layout("S", 5, -1, 1, 5), Layout("B", 5, 0, 1, 2), Layout("B", 19, 0, 1, 8),
        Layout("B", 9, 2, 1, 4), Layout("B", 38, 38, 1, 8), Layout("B", 6, 0, 1, 3),
        Layout("P", 13, 0, 1, 7, kCampoIdx)}) {
    EXPECT_EQ("", FieldLayoutError(f)) << f.Tipo << f.Lunghezza << "," << f.Decimali;
  }
  const std::string outside = " fuori dal record di 4067 byte";
  const std::pair<CampoEntry, std::string> refused[] = {
      {Layout("A", 10, 0, 4060, 10), "posizione 4060 e 10 byte" + outside},
      {Layout("A", 1, 0, 0, 1), "posizione 0 e 1 byte" + outside},
      {Layout("A", 0, 0, 1, 0), "posizione 1 e 0 byte" + outside},
      {Layout("S", 5, 0, 2147483647, 5), "posizione 2147483647 e 5 byte" + outside},
      {Layout("P", 5, 6, 1, 3), "6 decimali su 5 cifre"},
      {Layout("B", 9, 39, 1, 4), "39 decimali (al massimo 38)"},
      {Layout("B", 9, 2147483647, 1, 4), "2147483647 decimali (al massimo 38)"},
      {Layout("X", 1, 0, 1, 1), "tipo \"X\" sconosciuto (A, S, P o B)"},
      {Layout("p", 7, 0, 1, 4), "tipo \"p\" sconosciuto (A, S, P o B)"},
      {Layout("P", 9, 0, 1, 5, "_T_RRN___"), "nome riservato a Torvan"},
      {Layout("A", 1, 0, 1, 1, "_t_tipo___"), "nome riservato a Torvan"},
      {Layout("P", 13, 0, 1, 7, "_T_IDX___"), "nome riservato a Torvan"},
  };
  for (const auto& [field, error] : refused) EXPECT_EQ(error, FieldLayoutError(field));
}

// Fields follow each other in Tab_Campi, excluded ones skipped; a field that cannot be right
// marks its file only.
TEST_F(CatalogueTest, FieldsThatCannotBeRightMarkTheirFileOnly) {
  std::vector<std::string>& lines = StatusLines();
  Files({File("DATI", "CLIENTI", "N"), File("DATI", "ART", "S"), File("DATI", "VUOTO", "N"),
         File("DATI", "NOMI", "N"), File("DATI", "SENZAIDX", "S"), File("DATI", "CONIDX", "N")});
  Campo_Rec packed = Field("PREZZO", "P", 7, 3);
  packed.Decimali = 6;                                  // 3 bytes hold 5 digits
  Campo_Rec excluded = Field("NOTE", "X", 12, 1, "S");  // excluded: never decoded
  Fields(1, {Field("CODICE", "A", 1, 6), packed, excluded});
  Fields(2, {Field("COD", "A", 1, 6), Field("PREZZO", "P", 7, 5), Field("NOTE", "A", 12, 5, "X"),
             Field(kCampoIdx, "P", 17, 7)});
  Fields(3, {Field("SOLO", "A", 1, 6, "S")});
  Fields(4, {Field("", "A", 1, 1), Field("Cod", "A", 2, 1), Field("COD", "A", 3, 1),
             Field("_T_TIPO___", "A", 4, 1)});
  // The index field belongs to the files sent back, and to them alone.
  Fields(5, {Field("CODICE", "A", 1, 6)});
  Fields(6, {Field("COD", "A", 1, 6), Field(kCampoIdx, "P", 7, 7)});
  Carica_Catalogo(program_, catalogue_);
  EXPECT_EQ(std::vector<std::string>({
                "   *** ERRORE ***  Nel file DATI/CLIENTI il campo PREZZO non \xE8 valido: "
                "6 decimali su 5 cifre",
                "   *** ERRORE ***  Nel file DATI/NOMI il campo  non \xE8 valido: nome vuoto",
                "   *** ERRORE ***  Nel file DATI/NOMI il campo COD non \xE8 valido: nome ripetuto",
                "   *** ERRORE ***  Nel file DATI/NOMI il campo _T_TIPO___ non \xE8 valido: "
                "nome riservato a Torvan",
                "   *** ERRORE ***  Nel file DATI/SENZAIDX manca il campo \xA7_T_IDX___",
                "   *** ERRORE ***  Nel file DATI/CONIDX \xE8 presente il campo \xA7_T_IDX___",
            }),
            lines);
  // The files keep their entries, the fields their places: the other files' do not move.
  EXPECT_EQ(
      "CLIENTI 1-2 errato; ART 3-5 idx 5; VUOTO 6-5; NOMI 6-9 errato; SENZAIDX 10-10; "
      "CONIDX 11-12 idx 12; ",
      Ranges());
  const FileEntry& f = catalogue_.Tab_File[2];
  const CampoEntry& prezzo = catalogue_.Tab_Campi[4];
  EXPECT_EQ(std::tuple(true, true, 3, "[PREZZO]", "P", 7, true),
            std::tuple(f.As_Pc, f.Pc_As, f.N_Campi, prezzo.Nome_Sql, prezzo.Tipo, prezzo.Posizione,
                       catalogue_.Catalogo_Errato));
}

// A catalogue of one database and files of one field each, and what readers see of it.
class CatalogueSwitchTest : public CatalogueTest {
 protected:
  struct Version {
    std::string database;
    std::vector<std::string> files;
  };
  static void Write(CatalogueWriter& w, const Version& v) {
    ASSERT_TRUE(w.Write(std::vector<DataBase_Rec>{{v.database, "", "", "", "", ""}}).ok());
    std::vector<File_Rec> files;
    for (const std::string& f : v.files) files.push_back(File("DATI", f, "N"));
    ASSERT_TRUE(w.Write(files).ok());
    for (size_t i = 0; i < v.files.size(); ++i) {
      ASSERT_TRUE(w.WriteFields(int(i + 1), {Field("F_" + v.files[i], "A", 1, 1)}).ok());
    }
  }
  // Writes the version in one load; whether its commit, killed after `steps`, went through.
  static bool Load(const Paths& paths, const Version& v, int* steps = nullptr) {
    CatalogueWriter w(paths);
    EXPECT_TRUE(w.Begin().ok());
    Write(w, v);
    return w.Commit(steps).ok();
  }
  static std::string Seen(const Paths& paths) {
    std::vector<DataBase_Rec> dbs;
    std::vector<File_Rec> files;
    EXPECT_TRUE(ReadDataBaseRecs(paths.database_catalogue, &dbs).ok());
    EXPECT_TRUE(ReadFileRecs(paths.file_catalogue, &files).ok());
    std::string seen;
    for (const DataBase_Rec& d : dbs) seen += Trim(d.Nome_DB) + ":";
    for (size_t i = 0; i < files.size(); ++i) {
      std::vector<Campo_Rec> fields;
      EXPECT_TRUE(ReadCampoRecs(paths.FieldFile(int(i + 1)), &fields).ok());
      seen += " " + Trim(files[i].File) + "=";
      for (const Campo_Rec& f : fields) seen += Trim(f.Nome);
    }
    return seen;
  }
  static std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
      names.push_back(std::filesystem::relative(e.path(), dir).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  const Version old_{"VECCHIO", {"A", "B", "C"}};
  const Version new_{"NUOVO", {"X", "Y"}};
  const std::string old_seen_ = "VECCHIO: A=F_A B=F_B C=F_C";
  const std::string new_seen_ = "NUOVO: X=F_X Y=F_Y";
};

// A kill at any step of the switch, then of the restart's finishing: all old or all new.
TEST_F(CatalogueSwitchTest, AKillAtAnyStepLeavesTheOldOrTheNewCatalogue) {
  const std::vector<std::string> final_listing = {"TnC_DB.DAT", "TnC_FILE.DAT", "TnC_F_00001.DAT",
                                                  "TnC_F_00002.DAT"};
  bool switched = false;
  for (int kill_at = 0; !switched; ++kill_at) {
    for (int restart_kill_at = 0;; ++restart_kill_at) {
      const std::string dir =
          dir_ + "/" + std::to_string(kill_at) + "_" + std::to_string(restart_kill_at);
      ASSERT_TRUE(std::filesystem::create_directory(dir));
      const Paths paths = Paths::InFolder(dir);
      ASSERT_TRUE(Load(paths, old_));
      ASSERT_EQ(old_seen_, Seen(paths));
      int steps = kill_at;
      switched = Load(paths, new_, &steps);
      const std::string seen = Seen(paths);
      EXPECT_EQ(kill_at == 0 ? old_seen_ : new_seen_, seen) << "kill at " << kill_at;

      steps = restart_kill_at;
      const bool finished = FinishCatalogueSwitch(paths, &steps).ok();
      EXPECT_EQ(seen, Seen(paths)) << kill_at << "/" << restart_kill_at;
      ASSERT_TRUE(FinishCatalogueSwitch(paths).ok());
      EXPECT_EQ(seen, Seen(paths)) << kill_at << "/" << restart_kill_at;
      if (kill_at > 0) {
        EXPECT_EQ(final_listing, Listing(dir)) << kill_at << "/" << restart_kill_at;
      }

      // The next load starts clean from there.
      ASSERT_TRUE(Load(paths, old_));
      EXPECT_EQ(old_seen_, Seen(paths));
      EXPECT_EQ(std::vector<std::string>({"TnC_DB.DAT", "TnC_FILE.DAT", "TnC_F_00001.DAT",
                                          "TnC_F_00002.DAT", "TnC_F_00003.DAT"}),
                Listing(dir));
      if (finished || kill_at == 0) break;
    }
    ASSERT_LT(kill_at, 20) << "the switch never ends";
  }
}

TEST_F(CatalogueSwitchTest, ALoadThatDoesNotCommitLeavesNothingBehind) {
  const Paths& paths = program_.paths;
  ASSERT_TRUE(Load(paths, old_));
  const std::vector<std::string> listing = Listing(dir_);
  {
    CatalogueWriter w(paths);
    ASSERT_TRUE(w.Begin().ok());
    Write(w, new_);
    EXPECT_EQ(old_seen_, Seen(paths));  // the staging folder is never read
  }
  EXPECT_EQ(old_seen_, Seen(paths));
  EXPECT_EQ(listing, Listing(dir_));
}

}  // namespace
}  // namespace torvan
