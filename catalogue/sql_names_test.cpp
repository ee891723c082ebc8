// Files whose SQL objects would share a name are found, each pair once.
#include "catalogue/sql_names.h"

#include <gtest/gtest.h>

#include "catalogue/catalogue.h"

namespace torvan {
namespace {

class NameClashTest : public ::testing::Test {
 protected:
  void Add(const std::string& lib, const std::string& file, bool pc_as, int32_t db = 1) {
    FileEntry f;
    f.Libreria = lib;
    f.File = file;
    f.Pc_As = pc_as;
    f.Indice_DB = db;
    f.DataBase = db == 1 ? "GESTIONE" : "ARCHIVIO";
    c_.Tab_File.push_back(f);
    c_.N_File = int32_t(c_.Tab_File.size() - 1);
  }
  std::vector<std::string> Messages() {
    std::vector<std::string> m;
    for (const NameClash& clash : FindNameClashes(c_)) m.push_back(NameClashMessage(c_, clash));
    return m;
  }
  Catalogue c_;
};

TEST_F(NameClashTest, DistinctNamesDoNotClash) {
  Add("DATI", "CLIENTI", true);
  Add("DATI", "ORDINI", false);
  Add("STORICO", "CLIENTI", false, 2);  // the same name in another database
  Add("DATI", "X", false, 0);           // files without a database own nothing
  Add("ALTRO", "X", false, 0);
  EXPECT_TRUE(FindNameClashes(c_).empty());
}

TEST_F(NameClashTest, OneNameInTwoLibrariesOfOneDatabase) {
  Add("DATI", "CLIENTI", true);
  Add("STORICO", "clienti", false);  // SQL Server's names ignore case
  EXPECT_EQ(
      (std::vector<std::string>{"   *** ERRORE ***  I file DATI/CLIENTI e STORICO/clienti usano lo "
                                "stesso nome GESTIONE/clienti"}),
      Messages());
}

TEST_F(NameClashTest, AFileSentBackBesideAHostFileNamedLikeItsEventTable) {
  Add("DATI", "A", true);
  Add("DATI", "A___", false);
  Add("DATI", "A_U", false);  // a trigger's name
  std::vector<NameClash> clashes = FindNameClashes(c_);
  ASSERT_EQ(2u, clashes.size());
  EXPECT_EQ(1, clashes[0].file);
  EXPECT_EQ(2, clashes[0].other);
  EXPECT_EQ("A___", clashes[0].name);
  EXPECT_EQ(3, clashes[1].other);
}

TEST_F(NameClashTest, ThreeFilesOfOneNameGiveTwoPairsAndEachPairOnce) {
  Add("A", "X", true);
  Add("B", "X", true);  // every one of its six objects clashes with file 1: one report
  Add("C", "X", false);
  std::vector<NameClash> clashes = FindNameClashes(c_);
  ASSERT_EQ(2u, clashes.size());
  EXPECT_EQ(2, clashes[0].other);
  EXPECT_EQ(3, clashes[1].other);
}

TEST_F(NameClashTest, TheMasterTableNameIsReserved) {
  Add("DATI", "_T_MASTER___", false);
  EXPECT_EQ((std::vector<std::string>{"   *** ERRORE ***  Il file DATI/_T_MASTER___ usa il nome "
                                      "riservato GESTIONE/_T_MASTER___"}),
            Messages());
}

}  // namespace
}  // namespace torvan
