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

TEST_F(GridTest, PlaceholderRowsAndTheFieldViewsNumberPatterns) {
  bool has_pc_as = true;
  Grid g = Elenco_File(
      paths_, [](int32_t, std::string_view) { return RowCount::Absent(); }, &has_pc_as);
  ASSERT_TRUE(g.rows.size() == 2u && !has_pc_as);
  Grid fields = Visualizza_Campi(paths_, 1, FieldViewCaption(g, 1));
  EXPECT_EQ(std::tuple("F", "**** NESSUN FILE ****", "Torvan  Elenco Files ",
                       "Torvan  File / - **** NESSUN FILE **** ", "C", "**** NESSUN CAMPO ****"),
            std::tuple(g.Cell(1, 0), g.Cell(1, 3), g.caption, fields.caption, fields.Cell(0, 0),
                       fields.Cell(1, 3)));
  // Lunghezza 0, Decimali 0: both empty; Lunghezza 5, Decimali 0: "5" and "0".
  ASSERT_TRUE(
      WriteRecords(paths_.FieldFile(3), std::vector<Campo_Rec>{{"NOTE", "", "A", 0, 0, 0, 0, "X"},
                                                               {"QTA", "", "P", 5, 0, 11, 3, " "}})
          .ok());
  fields = Visualizza_Campi(paths_, 3, "c");
  ASSERT_EQ(3u, fields.rows.size());
  EXPECT_EQ("", fields.Cell(1, 5) + fields.Cell(1, 6));
  EXPECT_EQ("2\tQTA       \t" + std::string(50, ' ') + "\tP\t5\t0\t11\t3\t \n",
            fields.ToTabText().substr(fields.ToTabText().rfind("2\t")));
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
  ASSERT_TRUE(g.rows.size() == 4u && has_pc_as);
  EXPECT_EQ((std::vector<std::string>{"2:CLIENTI   ", "2:VUOTO     ", "2:CHIUSO    "}), asked);
  EXPECT_EQ(std::tuple("CLIENTI   ", RowCount::Counted(1234).Text(), "0", "no permesso", "2"),
            std::tuple(g.Cell(1, 2), g.Cell(1, 7), g.Cell(2, 7), g.Cell(3, 7), g.Cell(1, 13)));
  EXPECT_EQ(
      0u, g.ToTabText().find("Libreria\tFile\tTesto\tAs->Pc\tPc->As\tDataBase\tRecords\tAcq\tLibr\t"
                             "Trigger\tLibr\tFiltro\ti-DataBase\n"));
  EXPECT_EQ("Torvan  File DATI/CLIENTI - Anagrafica clienti ", FieldViewCaption(g, 1));
}

}  // namespace
}  // namespace torvan
