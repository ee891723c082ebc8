// Torvan's objects on real SQLite (embedded, SQLite's ODBC driver) and PostgreSQL, worked with
// replication's row statements: triggers, markers, the master order, exact event decimals.
#include <gtest/gtest.h>

#include <algorithm>

#include "schema/objects.h"
#include "sql/postgres_test_server.h"
#include "sql/test_support.h"

namespace torvan {
namespace {

using sql::testing::Path;
using sql::testing::Rows;
using sql::testing::Scalar;
using Table = std::vector<std::vector<std::string>>;

const std::vector<ColumnDef> kArt = {
    MakeColumn("COD", "A", 6, 0, 0), MakeColumn("PREZZO", "P", 5, 9, 2),
    MakeColumn("IMPORTO", "P", 9, 17, 3), MakeColumn("CHIAVE", "S", 13, 13, 0)};
const std::vector<ColumnDef> kCli = {MakeColumn("NOME", "A", 10, 0, 0)};

class SqliteObjects : public ::testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_DRIVER(GetParam());
    sql::ConnectionParams params = sql::testing::ParamsFor(GetParam(), dir_.path());
    if (GetParam() == Path::kPostgres) {
      SKIP_WITHOUT_POSTGRES();
      auto& server = sql::testing::PostgresServer::Shared();
      std::string why;
      ASSERT_TRUE(server.CreateDatabase("objects", &why)) << why;
      params = server.Params("objects");
    }
    conn_ = sql::NewConnection(params);
    ASSERT_TRUE(conn_->Open().ok()) << sql::testing::ErrorsText(*conn_);
  }

  void Run(const std::string& statement) {
    Status s = conn_->Execute(statement);
    ASSERT_TRUE(s.ok()) << statement << "\n" << sql::testing::ErrorsText(*conn_);
  }
  Status Send(const SchemaStatement& statement) {
    for (const std::string& text : Render(statement, conn_->dialect())) {
      Status s = conn_->ExecuteNative(text);
      if (!s.ok()) return s;
    }
    return Status::Ok();
  }
  void Build(const std::string& file, const std::vector<ColumnDef>& data, bool pc_as, bool master) {
    std::vector<SchemaStatement> all;
    if (master) all = TableStatements(kMasterTable, MasterColumns(), true);
    for (SchemaStatement& s : FileStatements(file, data, pc_as)) all.push_back(std::move(s));
    for (const SchemaStatement& s : all) {
      ASSERT_TRUE(Send(s).ok()) << Tsql(s) << "\n" << sql::testing::ErrorsText(*conn_);
    }
  }
  void BuildArtAndCli() {
    ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, true));
    ASSERT_NO_FATAL_FAILURE(Build("CLI", kCli, true, false));
  }

  // The events recorded for a file: event code, marker and data values.
  Table Events(const std::string& file, const std::string& columns) {
    return Rows(conn_.get(), "SELECT [_T_EVENTO___],[_T_TIPO___]," + columns + " FROM [" + file +
                                 "___] ORDER BY [_T_PROGR___]");
  }
  Table Master() { return Rows(conn_.get(), "SELECT * FROM [_T_MASTER___] ORDER BY [_T_RRN___]"); }

  sql::testing::TempDir dir_;
  std::unique_ptr<sql::Connection> conn_;
};

TEST_P(SqliteObjects, BuildsEveryObjectOfAFileRefusesABadTriggerAndRebuildsItEmpty) {
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, true));
  ASSERT_NO_FATAL_FAILURE(Build("NOPCAS", kCli, false, false));
  // A file whose name is another file's index name: SQL Server keeps index names per table.
  ASSERT_NO_FATAL_FAILURE(Build("ART_X", kCli, false, false));
  std::vector<std::string> tables;
  ASSERT_TRUE(conn_->ListTables(&tables).ok());
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"ART", "ART_X", "ART___", "NOPCAS", "_T_MASTER___"}));

  // A trigger on a missing column fails when it is created; the one that was there records.
  std::vector<ColumnDef> other = MirrorColumns({MakeColumn("NOPE", "A", 1, 0, 0)}, true);
  EXPECT_FALSE(Send(CreateTrigger(TriggerKind::kDelete, "ART", "ART___", other)).ok());
  ASSERT_FALSE(conn_->Errors().empty());
  EXPECT_EQ(conn_->Errors()[0].origin, GetParam() == Path::kPostgres ? sql::ErrorOrigin::kPostgres
                                                                     : sql::ErrorOrigin::kSqlite);
  EXPECT_NE(conn_->Errors()[0].description.find("NOPE"), std::string::npos)
      << sql::testing::ErrorsText(*conn_);
  Run("INSERT INTO [ART] ([COD],[_T_RRN___]) VALUES('A1',1)");
  Run("DELETE FROM [ART]");
  EXPECT_EQ(Events("ART", "[COD]"), (Table{{"I", " ", "A1"}, {"D", " ", "A1"}}));

  // Rebuilt, the file's own tables are empty; the master table keeps its rows.
  Run("INSERT INTO [ART] ([COD],[_T_RRN___]) VALUES('A2',2)");
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, false));
  EXPECT_EQ("0", Scalar(conn_.get(), "select count(*) from  [ART]"));
  EXPECT_EQ("0", Scalar(conn_.get(), "select count(*) from  [ART___]"));
  EXPECT_EQ("3", Scalar(conn_.get(), "select count(*) from  [_T_MASTER___]"));

  ASSERT_TRUE(Send(DropTable("ART")).ok());
  ASSERT_TRUE(Send(DropTable("ART")).ok());  // a missing table is no error
  ASSERT_TRUE(Send(DropTrigger("ART", 'D')).ok());
  ASSERT_TRUE(conn_->ListTables(&tables).ok());
  EXPECT_EQ(std::count(tables.begin(), tables.end(), "ART"), 0);
}

TEST_P(SqliteObjects, RowsChangedOnThePcSideAreRecordedWithTheirMasterRows) {
  ASSERT_NO_FATAL_FAILURE(BuildArtAndCli());
  Run("INSERT INTO [ART] ([COD],[PREZZO],[_T_RRN___]) VALUES('A1',12.5,0)");
  Run("UPDATE [ART] SET [PREZZO]=13 WHERE [COD]='A1'");
  Run("INSERT INTO [CLI] ([NOME]) VALUES('Rossi')");
  Run("DELETE FROM [ART] WHERE [COD]='A1'");
  EXPECT_EQ(Events("ART", "[COD],[PREZZO],[_T_IDX___]"), (Table{{"I", " ", "A1", "12.50", "1"},
                                                                {"U", " ", "A1", "13.00", "1"},
                                                                {"D", " ", "A1", "13.00", "1"}}));
  EXPECT_EQ(Events("CLI", "[NOME]"), (Table{{"I", " ", "Rossi"}}));
  // One order across the files of the database.
  EXPECT_EQ(Master(),
            (Table{{"1", "ART", "1"}, {"2", "ART", "2"}, {"3", "CLI", "1"}, {"4", "ART", "3"}}));
  EXPECT_EQ(Rows(conn_.get(), "SELECT * FROM [ART___] WHERE [_T_PROGR___]=2"),
            (Table{{"A1", "13.00", "0.000", "0", "0", "1", " ", "U", "2"}}));
  // Identities of the event table number its events on their own.
  EXPECT_EQ(Rows(conn_.get(), "SELECT [_T_PROGR___] FROM [ART___] ORDER BY [_T_PROGR___] DESC"),
            (Table{{"3"}, {"2"}, {"1"}}));
}

// Rows that replication writes carry "S" (recorded nothing, then blank again) or "D" (recorded
// nothing, and stays until the row goes), in either case; a blank or empty marker records.
TEST_P(SqliteObjects, MarkersSAndDRecordNothing) {
  ASSERT_NO_FATAL_FAILURE(BuildArtAndCli());
  for (const char* row : {"'A1',5,'S'", "'A2',6,'s'", "'A3',7,'S'"}) {
    Run(std::string("INSERT INTO [ART] ([COD],[_T_RRN___],[_T_TIPO___]) VALUES(") + row + ")");
  }
  EXPECT_EQ(Rows(conn_.get(), "SELECT [_T_TIPO___] FROM [ART]"), (Table{{" "}, {" "}, {" "}}));
  Run("UPDATE [ART] SET [PREZZO]=1, [_T_TIPO___]='s' WHERE [_T_RRN___]=5");
  Run("UPDATE [ART] SET [_T_TIPO___]='D' WHERE [_T_RRN___]=6");
  Run("UPDATE [ART] SET [_T_TIPO___]='d' WHERE [_T_RRN___]=7");
  EXPECT_EQ(Rows(conn_.get(), "SELECT [_T_TIPO___],[PREZZO] FROM [ART] ORDER BY [_T_RRN___]"),
            (Table{{" ", "1.00"}, {"D", "0.00"}, {"d", "0.00"}}));
  Run("DELETE FROM [ART] WHERE [_T_RRN___]>=6");
  EXPECT_EQ("1", Scalar(conn_.get(), "select count(*) from  [ART]"));
  EXPECT_TRUE(Events("ART", "[COD]").empty());
  EXPECT_TRUE(Master().empty());
  // The row marked "S" is an ordinary row again: a user's change is recorded.
  Run("UPDATE [ART] SET [PREZZO]=2 WHERE [_T_RRN___]=5");
  Run("INSERT INTO [ART] ([COD],[_T_RRN___],[_T_TIPO___]) VALUES('A4',8,'')");
  EXPECT_EQ(Events("ART", "[COD]"), (Table{{"U", " ", "A1"}, {"I", " ", "A4"}}));
}

INSTANTIATE_TEST_SUITE_P(Schema, SqliteObjects,
                         ::testing::Values(Path::kEmbedded, Path::kOdbcDriver, Path::kPostgres),
                         sql::testing::PathName);

}  // namespace
}  // namespace torvan
