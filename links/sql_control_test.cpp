// Opening and closing the SQL connections of the database catalogue.
#include "links/sql_control.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "catalogue/catalogue_files.h"
#include "config/scramble.h"
#include "core/text.h"
#include "links/runtime_test_util.h"
#include "platform/file.h"

namespace torvan {
namespace {

class SqlControlTest : public testing::RuntimeTest {
 protected:
  void Databases(const std::vector<std::string>& names) {
    std::vector<DataBase_Rec> recs;
    for (const std::string& n : names) {
      DataBase_Rec r;
      r.Nome_DB = n;
      r.Server_DB = "SQLSRV01";
      r.Password_DB = Codifica_Parametri(PadRight("Segreta1", 20)).text;
      recs.push_back(r);
    }
    ASSERT_TRUE(WriteRecords(program_.paths.database_catalogue, recs).ok());
  }
};

TEST_F(SqlControlTest, OpensAndClosesEveryDatabaseInCatalogueOrder) {
  EXPECT_TRUE(Server_SQL_Start_(rt_));  // no catalogue: a start with no connection
  EXPECT_TRUE(program_.state.Collegato_SQL && lines_.empty());
  Databases({"GESTIONALE", "ARCHIVIO"});
  ASSERT_TRUE(Server_SQL_Start_(rt_));
  EXPECT_TRUE(program_.state.Collegato_SQL);
  EXPECT_TRUE(platform::FileExists(dir_ + "/GESTIONALE.sqlite"));
  EXPECT_NE(rt_.connessioni.at(1), rt_.connessioni.at(2));
  ASSERT_TRUE(Server_SQL_Stop_(rt_));
  EXPECT_FALSE(program_.state.Collegato_SQL);
  EXPECT_EQ(nullptr, rt_.connessioni.at(1));
  EXPECT_EQ(std::vector<std::string>({"   DataBase SQLSRV01/GESTIONALE collegato",
                                      "   DataBase SQLSRV01/ARCHIVIO collegato",
                                      "   DataBase SQLSRV01/GESTIONALE scollegato",
                                      "   DataBase SQLSRV01/ARCHIVIO scollegato"}),
            lines_);
}

TEST_F(SqlControlTest, AFailingDatabaseStopsTheStartThere) {
  Databases({"UNO", "DUE", "TRE"});
  ASSERT_TRUE(platform::WriteFileAtomic(dir_ + "/DUE.sqlite", std::string(4096, 'x'), 0644).ok());
  EXPECT_FALSE(Server_SQL_Start_(rt_));
  EXPECT_FALSE(program_.state.Collegato_SQL);
  ASSERT_NE(nullptr, rt_.connessioni.at(1));
  EXPECT_TRUE(rt_.connessioni.at(1)->IsOpen());
  EXPECT_EQ(nullptr, rt_.connessioni.at(3));  // never tried
  EXPECT_FALSE(platform::FileExists(dir_ + "/TRE.sqlite"));
  EXPECT_EQ(std::tuple("   DataBase SQLSRV01/UNO collegato", 0u, 0u),
            std::tuple(lines_[0], lines_[1].find("Errore Numero  : "),
                       lines_.back().find("Totale errori  : ")));
}

TEST_F(SqlControlTest, AnUnknownEngineIsRefusedWithAMessageBeforeAnythingOpens) {
  struct Row {
    const char* motore;
    const char* motori;
    const char* line;
  };
  const Row rows[] = {
      {"Oracle", "",
       "ERRORE: motore SQL \"Oracle\" di SQLSRV01/UNO sconosciuto (SQLite, ODBC o PostgreSQL)"},
      // A database named in "Motori" takes its engine from there, names in any case.
      {"SQLite", "uno=SQLite; due = DB2 ;",
       "ERRORE: motore SQL \"DB2\" di SQLSRV01/DUE sconosciuto (SQLite, ODBC o PostgreSQL)"},
  };
  Databases({"UNO", "DUE"});
  for (const Row& row : rows) {
    lines_.clear();
    program_.settings.sql.Motore = row.motore;
    program_.settings.sql.Motori = row.motori;
    EXPECT_FALSE(Server_SQL_Start_(rt_));
    ASSERT_EQ(1u, lines_.size());
    EXPECT_EQ(row.line, lines_[0]);
    EXPECT_EQ(nullptr, rt_.connessioni.at(1));
  }
}

}  // namespace
}  // namespace torvan
