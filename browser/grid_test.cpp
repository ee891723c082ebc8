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
  EXPECT_EQ(std::tuple("F", "**** NESSUN FILE ****", "Torvan  Elenco Files "),
            std::tuple(g.Cell(1, 0), g.Cell(1, 3), g.caption));
  EXPECT_EQ("Torvan  File / - **** NESSUN FILE **** ", FieldViewCaption(g, 1));
  Grid fields = Visualizza_Campi(paths_, 1, FieldViewCaption(g, 1));
  EXPECT_EQ(std::tuple("C", "**** NESSUN CAMPO ****"),
            std::tuple(fields.Cell(0, 0), fields.Cell(1, 3)));
}

TEST_F(GridTest, FileListShowsStoredTextsAndTheRowCounts) {
  std::vector<File_Rec> files;
  for (const char* name : {"CLIENTI", "VUOTO", "CHIUSO"})
    files.push_back(
        {"DATI", name, "Anagrafica clienti", "", "", "S", "S", "", "GESTIONE", "", "", 2});
  ASSERT_TRUE(WriteRecords(paths_.file_catalogue, files).ok());
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
  ASSERT_EQ(4u, g.rows.size());
  EXPECT_TRUE(has_pc_as);
  EXPECT_EQ("CLIENTI   ", g.Cell(1, 2));
  EXPECT_EQ((std::vector<std::string>{"2:CLIENTI   ", "2:VUOTO     ", "2:CHIUSO    "}), asked);
  EXPECT_EQ(std::tuple(RowCount::Counted(1234).Text(), "0", "no permesso", "2"),
            std::tuple(g.Cell(1, 7), g.Cell(2, 7), g.Cell(3, 7), g.Cell(1, 13)));
  EXPECT_EQ(
      0u, g.ToTabText().find("Libreria\tFile\tTesto\tAs->Pc\tPc->As\tDataBase\tRecords\tAcq\tLibr\t"
                             "Trigger\tLibr\tFiltro\ti-DataBase\n"));
  EXPECT_EQ("Torvan  File DATI/CLIENTI - Anagrafica clienti ", FieldViewCaption(g, 1));
}

TEST_F(GridTest, FieldViewNumberPatterns) {
  const std::vector<Campo_Rec> fields = {{"NOTE", "", "A", 0, 0, 0, 0, "X"},
                                         {"QTA", "", "P", 5, 0, 11, 3, " "}};
  ASSERT_TRUE(WriteRecords(paths_.FieldFile(3), fields).ok());
  Grid g = Visualizza_Campi(paths_, 3, "c");
  ASSERT_EQ(3u, g.rows.size());
  // Lunghezza 0, Decimali 0: both empty; Lunghezza 5, Decimali 0: "5" and "0".
  EXPECT_EQ(std::tuple("", "", "5", "0"),
            std::tuple(g.Cell(1, 5), g.Cell(1, 6), g.Cell(2, 5), g.Cell(2, 6)));
  EXPECT_EQ("2\tQTA       \t" + std::string(50, ' ') + "\tP\t5\t0\t11\t3\t \n",
            g.ToTabText().substr(g.ToTabText().rfind("2\t")));
}

}  // namespace
}  // namespace torvan
