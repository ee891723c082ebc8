#include "browser/grid.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "catalogue/catalogue_files.h"
#include "platform/temp_folder.h"

namespace torvan {
namespace {

class GridTest : public ::testing::Test {
 protected:
  platform::TempFolder folder_{"torvan-grid"};
  Paths paths_ = Paths::InFolder(folder_.path());
};

TEST_F(GridTest, AnEmptyCatalogueShowsThePlaceholderRow) {
  bool has_pc_as = true;
  Grid g = Elenco_File(
      paths_, [](int32_t, std::string_view) { return RowCount::Absent(); }, &has_pc_as);
  EXPECT_FALSE(has_pc_as);
  ASSERT_EQ(2u, g.rows.size());
  EXPECT_EQ("F", g.Cell(1, 0));
  EXPECT_EQ("**** NESSUN FILE ****", g.Cell(1, 3));
  EXPECT_EQ("Torvan  Elenco Files ", g.caption);
  Grid fields = Visualizza_Campi(paths_, 1, FieldViewCaption(g, 1));
  EXPECT_EQ("**** NESSUN CAMPO ****", fields.Cell(1, 3));
  EXPECT_EQ("C", fields.Cell(0, 0));
}

TEST_F(GridTest, FileListShowsStoredTextsAndTheRowCounts) {
  File_Rec f;
  f.Libreria = "DATI";
  f.File = "CLIENTI";
  f.Testo = "Anagrafica clienti";
  f.As_Pc = "S";
  f.Pc_As = "S";
  f.DataBase = "GESTIONE";
  f.Indice_DB = 2;
  File_Rec g2 = f;
  g2.File = "VUOTO";
  File_Rec g3 = f;
  g3.File = "CHIUSO";
  ASSERT_TRUE(WriteRecords(paths_.file_catalogue, std::vector<File_Rec>{f, g2, g3}).ok());
  bool has_pc_as = false;
  std::vector<std::string> asked;
  Grid g = Elenco_File(
      paths_,
      [&](int32_t db, std::string_view table) {
        asked.push_back(std::to_string(db) + ":" + std::string(table));
        if (table.substr(0, 5) == "VUOTO") return RowCount::Counted(0);
        if (table.substr(0, 6) == "CHIUSO") return RowCount::NoPermission();
        return RowCount::Counted(1234);
      },
      &has_pc_as);
  EXPECT_TRUE(has_pc_as);
  ASSERT_EQ(4u, g.rows.size());
  EXPECT_EQ("CLIENTI   ", g.Cell(1, 2));
  EXPECT_EQ((std::vector<std::string>{"2:CLIENTI   ", "2:VUOTO     ", "2:CHIUSO    "}), asked);
  EXPECT_EQ(RowCount::Counted(1234).Text(), g.Cell(1, 7));
  EXPECT_EQ("0", g.Cell(2, 7));
  EXPECT_EQ("no permesso", g.Cell(3, 7));
  EXPECT_EQ("2", g.Cell(1, 13));
  std::string text = g.ToTabText();
  EXPECT_EQ(0u, text.find("Libreria\tFile\tTesto\tAs->Pc\tPc->As\tDataBase\tRecords\tAcq\tLibr\t"
                          "Trigger\tLibr\tFiltro\ti-DataBase\n"));
  EXPECT_EQ("Torvan  File DATI/CLIENTI - Anagrafica clienti ", FieldViewCaption(g, 1));
}

TEST_F(GridTest, FieldViewNumberPatterns) {
  Campo_Rec a;
  a.Nome = "NOTE";
  a.Tipo = "A";
  a.Escluso = "X";
  Campo_Rec b;
  b.Nome = "QTA";
  b.Tipo = "P";
  b.Lunghezza = 5;
  b.Posizione = 11;
  b.Byte = 3;
  b.Escluso = " ";
  ASSERT_TRUE(WriteRecords(paths_.FieldFile(3), std::vector<Campo_Rec>{a, b}).ok());
  Grid g = Visualizza_Campi(paths_, 3, "c");
  ASSERT_EQ(3u, g.rows.size());
  // Lunghezza 0, Decimali 0: both empty; Lunghezza 5, Decimali 0: "5" and "0".
  EXPECT_EQ("", g.Cell(1, 5));
  EXPECT_EQ("", g.Cell(1, 6));
  EXPECT_EQ("5", g.Cell(2, 5));
  EXPECT_EQ("0", g.Cell(2, 6));
  EXPECT_EQ("2\tQTA       \t" + std::string(50, ' ') + "\tP\t5\t0\t11\t3\t \n",
            g.ToTabText().substr(g.ToTabText().rfind("2\t")));
}

}  // namespace
}  // namespace torvan
