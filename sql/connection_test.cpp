// Torvan's statements on real SQLite, through the embedded engine and through SQLite's
// ODBC driver: the schema texts, the triggers and their markers, exact decimals, counts,
// refusals and the error list.

#include "sql/connection.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "sql/test_statements.h"
#include "sql/test_support.h"

namespace torvan::sql {
namespace {

using testing::Col;
using testing::Path;
using testing::Rows;
using testing::Scalar;
using Table = std::vector<std::vector<std::string>>;

const std::vector<Col> kArt = {{"COD", 'A', 6, 0, 0},
                               {"PREZZO", 'P', 0, 9, 2},
                               {"IMPORTO", 'P', 0, 17, 3},
                               {"CHIAVE", 'S', 0, 13, 0}};
const std::vector<Col> kCli = {{"NOME", 'A', 10, 0, 0}};

class SqlitePaths : public ::testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_DRIVER(GetParam());
    conn_ = NewConnection(testing::ParamsFor(GetParam(), dir_.path()));
    ASSERT_TRUE(conn_->Open().ok()) << testing::ErrorsText(*conn_);
  }

  void Run(const std::string& statement) {
    Status s = conn_->Execute(statement);
    ASSERT_TRUE(s.ok()) << statement << "\n" << testing::ErrorsText(*conn_);
  }

  void Build(const std::string& file, const std::vector<Col>& data, bool pc_as, bool master) {
    for (const std::string& s : testing::BuildFile(file, data, pc_as, master)) {
      ASSERT_NO_FATAL_FAILURE(Run(s));
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

  testing::TempDir dir_;
  std::unique_ptr<Connection> conn_;
};

TEST_P(SqlitePaths, BuildsEveryObjectOfAFileAndRebuildsItEmpty) {
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, true));
  ASSERT_NO_FATAL_FAILURE(Build("NOPCAS", kCli, false, false));
  // A file whose name is another file's index name: SQL Server keeps index names per table.
  ASSERT_NO_FATAL_FAILURE(Build("ART_X", kCli, false, false));
  std::vector<std::string> tables;
  ASSERT_TRUE(conn_->ListTables(&tables).ok());
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"ART", "ART_X", "ART___", "NOPCAS", "_T_MASTER___"}));

  Run("INSERT INTO [ART] ([COD],[_T_RRN___]) VALUES('A1',1)");
  EXPECT_EQ("1", Scalar(conn_.get(), "select count(*) from  [ART]"));
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, false));
  EXPECT_EQ("0", Scalar(conn_.get(), "select count(*) from  [ART]"));
  EXPECT_EQ("0", Scalar(conn_.get(), "select count(*) from  [ART___]"));
  // The master table keeps its rows: only the file's own tables were rebuilt.
  EXPECT_EQ("1", Scalar(conn_.get(), "select count(*) from  [_T_MASTER___]"));

  Run(testing::DropTable("ART"));
  Run(testing::DropTable("ART"));  // a missing table is no error
  Run(testing::DropTrigger("ART", 'D'));
  ASSERT_TRUE(conn_->ListTables(&tables).ok());
  EXPECT_EQ(std::count(tables.begin(), tables.end(), "ART"), 0);
}

TEST_P(SqlitePaths, DefaultsIdentityAndTheNonUniqueIndex) {
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, true));
  Run("INSERT INTO [ART] ([COD]) VALUES('A')");
  Run("INSERT INTO [ART] ([COD],[_T_RRN___]) VALUES('B',7)");
  Run("INSERT INTO [ART] ([COD],[_T_RRN___]) VALUES('C',7)");  // the index is not unique
  EXPECT_EQ(Rows(conn_.get(), "SELECT * FROM [ART] ORDER BY [_T_IDX___]"),
            (Table{{"A", "0.00", "0.000", "0", "0", "1", " "},
                   {"B", "0.00", "0.000", "0", "7", "2", " "},
                   {"C", "0.00", "0.000", "0", "7", "3", " "}}));
  // Identities are never reused, not even the last one after its row is gone.
  Run("DELETE FROM [ART] WHERE [_T_IDX___]=3");
  Run("INSERT INTO [ART] ([COD]) VALUES('D')");
  EXPECT_EQ("4", Scalar(conn_.get(), "SELECT [_T_IDX___] FROM [ART] WHERE [COD]='D'"));
  // The event table numbers its events on its own.
  EXPECT_EQ(Rows(conn_.get(), "SELECT [_T_PROGR___],[_T_IDX___] FROM [ART___]"),
            (Table{{"1", "1"}, {"2", "2"}, {"3", "3"}, {"4", "3"}, {"5", "4"}}));
  // A table created again starts from 1.
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, false));
  Run("INSERT INTO [ART] ([COD]) VALUES('E')");
  EXPECT_EQ("1", Scalar(conn_.get(), "SELECT [_T_IDX___] FROM [ART]"));
}

TEST_P(SqlitePaths, RowsChangedOnThePcSideAreRecordedWithTheirMasterRows) {
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
}

TEST_P(SqlitePaths, MarkerSRecordsNothingAndEndsBlank) {
  ASSERT_NO_FATAL_FAILURE(BuildArtAndCli());
  Run("INSERT INTO [ART] ([COD],[_T_RRN___],[_T_TIPO___]) VALUES('A1',5,'S')");
  EXPECT_EQ(Rows(conn_.get(), "SELECT [_T_TIPO___] FROM [ART]"), (Table{{" "}}));
  Run("UPDATE [ART] SET [PREZZO]=1, [_T_TIPO___]='S' WHERE [_T_RRN___]=5");
  EXPECT_EQ(Rows(conn_.get(), "SELECT [_T_TIPO___],[PREZZO] FROM [ART]"), (Table{{" ", "1.00"}}));
  EXPECT_TRUE(Events("ART", "[COD]").empty());
  EXPECT_TRUE(Master().empty());
  // The row is an ordinary row again: a user's change is recorded.
  Run("UPDATE [ART] SET [PREZZO]=2 WHERE [_T_RRN___]=5");
  EXPECT_EQ(Events("ART", "[PREZZO]"), (Table{{"U", " ", "2.00"}}));
}

TEST_P(SqlitePaths, MarkerDRecordsNothingAndStays) {
  ASSERT_NO_FATAL_FAILURE(BuildArtAndCli());
  Run("INSERT INTO [ART] ([COD],[_T_RRN___],[_T_TIPO___]) VALUES('A1',5,'S')");
  Run("UPDATE [ART] SET [_T_TIPO___]='D' WHERE [_T_RRN___]=5");
  EXPECT_EQ(Rows(conn_.get(), "SELECT [_T_TIPO___] FROM [ART]"), (Table{{"D"}}));
  Run("DELETE FROM [ART] WHERE [_T_RRN___]=5");
  EXPECT_EQ("0", Scalar(conn_.get(), "select count(*) from  [ART]"));
  EXPECT_TRUE(Events("ART", "[COD]").empty());
  EXPECT_TRUE(Master().empty());
}

TEST_P(SqlitePaths, TheReplicationTripleLeavesNoEvent) {
  ASSERT_NO_FATAL_FAILURE(BuildArtAndCli());
  Run("INSERT INTO [ART] ([COD],[PREZZO],[IMPORTO],[CHIAVE],[_T_RRN___],[_T_TIPO___]) "
      "VALUES('A0001 ',0001234.50 , 00000000000123.456 ,0000000000042,15,'S')");
  for (int change = 0; change < 3; ++change) {
    Run("UPDATE [ART] SET [_T_TIPO___]='D' WHERE [_T_IDX___]=" + std::to_string(change + 1) +
        " or [_T_RRN___]=15");
    Run("DELETE FROM [ART] WHERE [_T_IDX___]=" + std::to_string(change + 1) + " or [_T_RRN___]=15");
    Run("INSERT INTO [ART] ([COD],[PREZZO],[IMPORTO],[CHIAVE],[_T_RRN___],[_T_TIPO___]) "
        "VALUES('A0001 ',000" +
        std::to_string(change) +
        "234.50 ,-00000000000123.456 ,"
        "0000000000042,15,'S')");
  }
  EXPECT_EQ(Rows(conn_.get(), "SELECT * FROM [ART]"),
            (Table{{"A0001 ", "2234.50", "-123.456", "42", "15", "4", " "}}));
  EXPECT_TRUE(Events("ART", "[COD]").empty());
  EXPECT_TRUE(Master().empty());
  // An event removed by the SQL-to-host step, then its master row.
  Run("UPDATE [ART] SET [PREZZO]=1 WHERE [_T_RRN___]=15");
  ASSERT_EQ(Master(), (Table{{"1", "ART", "1"}}));
  Run("DELETE FROM [ART___] WHERE [_T_PROGR___]=1");
  Run("DELETE FROM [_T_MASTER___] WHERE [_T_RRN___]=1");
  EXPECT_TRUE(Master().empty());
}

TEST_P(SqlitePaths, DecimalsKeepEveryDigit) {
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, true));
  struct Case {
    const char* name;
    const char* prezzo;
    const char* importo;
    const char* chiave;
    std::vector<std::string> shown;  // PREZZO, IMPORTO, CHIAVE
  };
  const Case cases[] = {
      {"largest",
       "9999999.99",
       "99999999999999.999",
       "9999999999999",
       {"9999999.99", "99999999999999.999", "9999999999999"}},
      {"negative",
       "-1234.5",
       "-12345678901234.567",
       "-9999999999999",
       {"-1234.50", "-12345678901234.567", "-9999999999999"}},
      {"host texts",
       "-0001234.50 ",
       "-00000000000123.456 ",
       "0000000000042",
       {"-1234.50", "-123.456", "42"}},
      {"below one", ".5", "-0.001", "0", {"0.50", "-0.001", "0"}},
      {"rounded half away from zero", "1.005", "-0.0005", "12.5", {"1.01", "-0.001", "13"}},
      {"negative zero", "-0.00", "-0.0001", "-0", {"0.00", "0.000", "0"}},
      {"quoted", "'12.3'", "'7'", "'8'", {"12.30", "7.000", "8"}},
  };
  int rrn = 0;
  for (const Case& c : cases) {
    ++rrn;
    Run(std::string("INSERT INTO [ART] ([PREZZO],[IMPORTO],[CHIAVE],[_T_RRN___]) VALUES(") +
        c.prezzo + "," + c.importo + "," + c.chiave + "," + std::to_string(rrn) + ")");
    EXPECT_EQ(Rows(conn_.get(),
                   "SELECT [PREZZO],[IMPORTO],[CHIAVE] FROM [ART] WHERE "
                   "[_T_RRN___]=" +
                       std::to_string(rrn)),
              (Table{c.shown}))
        << c.name;
    // The event table holds the same exact values.
    EXPECT_EQ(Rows(conn_.get(),
                   "SELECT [PREZZO],[IMPORTO],[CHIAVE] FROM [ART___] WHERE "
                   "[_T_RRN___]=" +
                       std::to_string(rrn)),
              (Table{c.shown}))
        << c.name;
  }
  // Numeric columns compare in WHERE clauses, however the value is written.
  EXPECT_EQ("2", Scalar(conn_.get(),
                        "SELECT [_T_RRN___] FROM [ART] WHERE [IMPORTO]=-12345678901234.567"));
  EXPECT_EQ("2", Scalar(conn_.get(), "select count(*) from [ART] WHERE [PREZZO]=-1234.500"));
  EXPECT_EQ("0", Scalar(conn_.get(), "select count(*) from [ART] WHERE [PREZZO]=-1234.501"));
  EXPECT_EQ("6", Scalar(conn_.get(), "select count(*) from [ART] WHERE [PREZZO]<>9999999.99"));
  EXPECT_EQ("1", Scalar(conn_.get(), "SELECT [_T_RRN___] FROM [ART] WHERE [CHIAVE]>9999999999998"));
  EXPECT_EQ("3", Scalar(conn_.get(), "select count(*) from [ART] WHERE [CHIAVE]<0.5"));
  Run("DELETE FROM [ART] WHERE [IMPORTO]=99999999999999.999");
  EXPECT_EQ("6", Scalar(conn_.get(), "select count(*) from  [ART]"));
}

TEST_P(SqlitePaths, ValuesThatDoNotFitAreRefusedAsSqlServerWould) {
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, true));
  struct Case {
    const char* name;
    std::string values;  // COD, PREZZO, IMPORTO
    int32_t error;       // 0: accepted
  };
  const Case cases[] = {
      {"precision exceeded", "'A',10000000,0", 8115},
      {"rounding overflows", "'A',9999999.995,0", 8115},
      {"eighteen digits", "'A',0,999999999999999999", 8115},
      {"not a number", "'A','12a',0", 8114},
      {"text too long", "'ABCDEFG',0,0", 8152},
      {"excess blanks are cut", "'ABCDEF   ',0,0", 0},
      {"number into text", "00123.50,0,0", 0},
  };
  for (const Case& c : cases) {
    conn_->ClearErrors();
    Status s =
        conn_->Execute("INSERT INTO [ART] ([COD],[PREZZO],[IMPORTO]) VALUES(" + c.values + ")");
    if (c.error == 0) {
      EXPECT_TRUE(s.ok()) << c.name << ": " << testing::ErrorsText(*conn_);
      continue;
    }
    EXPECT_FALSE(s.ok()) << c.name;
    ASSERT_EQ(conn_->Errors().size(), 1u) << c.name;
    EXPECT_EQ(conn_->Errors()[0].native_error, c.error) << c.name;
  }
  EXPECT_EQ(Rows(conn_.get(), "SELECT [COD] FROM [ART] ORDER BY [_T_IDX___]"),
            (Table{{"ABCDEF"}, {"123.50"}}));
}

TEST_P(SqlitePaths, TextsKeepWindows1252AndQuotes) {
  ASSERT_NO_FATAL_FAILURE(Build("CLI", kCli, true, true));
  const std::string name = "O''Br\xE8 \x80\xA7";  // O'Brè €§ in Windows-1252
  Run("INSERT INTO [CLI] ([NOME]) VALUES(N'" + name + "')");
  EXPECT_EQ(Rows(conn_.get(), "SELECT [NOME] FROM [CLI]"), (Table{{"O'Br\xE8 \x80\xA7"}}));
  // Text comparisons ignore trailing blanks and case, as SQL Server's default collation.
  EXPECT_EQ("1",
            Scalar(conn_.get(), "select count(*) from [CLI] WHERE [NOME]='o''BR\xE8 \x80\xA7   '"));
  EXPECT_EQ(Events("CLI", "[NOME]"), (Table{{"I", " ", "O'Br\xE8 \x80\xA7"}}));
}

TEST_P(SqlitePaths, CountsTablesAndReportsOnesItCannotCount) {
  ASSERT_NO_FATAL_FAILURE(Build("Art", kCli, false, false));
  Run("INSERT INTO [Art] ([NOME]) VALUES('x')");
  EXPECT_EQ("1", Scalar(conn_.get(), "select count(*) from  [Art]"));
  conn_->Close();
  // Another tool's table whose module Torvan does not have: listed, not countable.
  sqlite3* raw = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open((dir_.path() + "/Torvan.sqlite").c_str(), &raw));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(raw,
                                    "PRAGMA writable_schema=ON; INSERT INTO sqlite_master "
                                    "VALUES('table','Ghost','Ghost',0,'CREATE VIRTUAL TABLE "
                                    "Ghost USING nosuchmodule()')",
                                    nullptr, nullptr, nullptr));
  sqlite3_close(raw);
  ASSERT_TRUE(conn_->Open().ok()) << testing::ErrorsText(*conn_);
  std::vector<std::string> tables;
  ASSERT_TRUE(conn_->ListTables(&tables).ok());
  std::sort(tables.begin(), tables.end());
  // Names as stored: a caller comparing exactly finds "Art", not "ART".
  EXPECT_EQ(tables, (std::vector<std::string>{"Art", "Ghost"}));
  std::unique_ptr<Recordset> r;
  EXPECT_FALSE(conn_->OpenRecordset("select count(*) from  [Ghost]", &r).ok());
  ASSERT_FALSE(conn_->Errors().empty());
  EXPECT_NE(conn_->Errors()[0].description.find("nosuchmodule"), std::string::npos)
      << testing::ErrorsText(*conn_);
}

TEST_P(SqlitePaths, RefusesStatementsOutsideTheSet) {
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, true));
  Run("INSERT INTO [ART] ([COD],[_T_RRN___]) VALUES('A',1)");
  struct Case {
    const char* name;
    std::string statement;
    int32_t error;
    const char* says;
  };
  const Case cases[] = {
      {"plain drop", "DROP TABLE [ART]", 0, "not one of Torvan's statements"},
      {"truncate", "TRUNCATE TABLE [ART]", 0, "not one of Torvan's statements"},
      {"procedure", "EXEC sp_who", 0, "not one of Torvan's statements"},
      {"select without table", "SELECT 1", 102, "Incorrect syntax"},
      {"two statements", "DELETE FROM [ART]; DELETE FROM [ART___]", 102, "Incorrect syntax"},
      {"drop of a view",
       "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'V' AND type = 'V')  DROP VIEW [V]", 0,
       "IF EXISTS"},
      {"drop of another object",
       "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'ART' AND type = 'U')  DROP TABLE "
       "[ART___]",
       0, "another"},
      {"other trigger", "CREATE TRIGGER [X] ON [dbo].[ART] AFTER INSERT AS DELETE FROM [ART]", 0,
       "four triggers"},
      {"column type", "CREATE TABLE [dbo].[T] ([A] [int] NOT NULL)", 0, "column type int"},
      {"identity insert", "INSERT INTO [ART] ([_T_IDX___]) VALUES(5)", 544, "IDENTITY_INSERT"},
      {"identity update", "UPDATE [ART] SET [_T_IDX___]=5", 8102, "identity column"},
      {"unknown table", "DELETE FROM [NONE] WHERE [_T_RRN___]=1", 208,
       "Invalid object name 'NONE'"},
      {"unknown column", "UPDATE [ART] SET [XX]='D'", 207, "Invalid column name 'XX'"},
      {"decimal order", "DELETE FROM [ART] WHERE [PREZZO]>1", 0, "decimal column PREZZO"},
      {"unterminated", "DELETE FROM [ART] WHERE [COD]='A", 102, "unterminated string"},
      {"values short", "INSERT INTO [ART] ([COD],[PREZZO]) VALUES('A')", 109, "more columns"},
      {"trigger on a missing column",
       testing::DeleteTrigger("ART", "ART___", "[NOPE],[_T_RRN___],"), 207, "NOPE"},
  };
  for (const Case& c : cases) {
    conn_->ClearErrors();
    EXPECT_FALSE(conn_->Execute(c.statement).ok()) << c.name;
    ASSERT_EQ(conn_->Errors().size(), 1u) << c.name;
    const SqlError& e = conn_->Errors()[0];
    EXPECT_EQ(e.native_error, c.error) << c.name;
    EXPECT_EQ(e.source, "Torvan SQLite dialect") << c.name;
    EXPECT_NE(e.description.find(c.says), std::string::npos) << c.name << ": " << e.description;
  }
  EXPECT_EQ("1", Scalar(conn_.get(), "select count(*) from  [ART]"));
}

TEST_P(SqlitePaths, TheErrorListHoldsTheLastFailureUntilCleared) {
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, true));
  EXPECT_FALSE(conn_->Execute("DELETE FROM [NONE]").ok());
  ASSERT_EQ(conn_->Errors().size(), 1u);
  EXPECT_EQ(conn_->Errors()[0].sql_state, "42S02");
  Run("DELETE FROM [ART]");  // success leaves the list alone
  EXPECT_EQ(conn_->Errors().size(), 1u);
  EXPECT_FALSE(conn_->Execute("DELETE FROM [ART] WHERE [XX]=1").ok());
  ASSERT_EQ(conn_->Errors().size(), 1u);
  EXPECT_EQ(conn_->Errors()[0].sql_state, "42S22");
  conn_->ClearErrors();
  EXPECT_TRUE(conn_->Errors().empty());
  // A constraint of the database itself, reported by SQLite.
  EXPECT_FALSE(conn_->Execute("INSERT INTO [ART] ([COD]) VALUES(NULL)").ok());
  ASSERT_FALSE(conn_->Errors().empty());
  EXPECT_EQ(conn_->Errors()[0].sql_state, "23000") << testing::ErrorsText(*conn_);
}

TEST_P(SqlitePaths, RecordsetsReadWhileTheConnectionWritesAndEndWithIt) {
  ASSERT_NO_FATAL_FAILURE(BuildArtAndCli());
  for (int i = 1; i <= 3; ++i)
    Run("INSERT INTO [CLI] ([NOME]) VALUES('N" + std::to_string(i) + "')");
  std::unique_ptr<Recordset> master;
  ASSERT_TRUE(
      conn_->OpenRecordset("SELECT * FROM [_T_MASTER___] ORDER BY [_T_RRN___]", &master).ok());
  ASSERT_FALSE(master->Eof());
  EXPECT_EQ(master->Find("_t_file___")->text, "CLI");
  EXPECT_EQ(master->FieldIndex("_T_PROGR___"), 2);
  EXPECT_EQ(master->Find("NOPE"), nullptr);
  // The SQL-to-host step deletes while its master recordset is open; the same statement
  // shape opened twice at once gets its own statement.
  std::unique_ptr<Recordset> again;
  ASSERT_TRUE(
      conn_->OpenRecordset("SELECT * FROM [_T_MASTER___] ORDER BY [_T_RRN___]", &again).ok());
  Run("DELETE FROM [CLI___] WHERE [_T_PROGR___]=1");
  Run("DELETE FROM [_T_MASTER___] WHERE [_T_RRN___]=1");
  again.reset();
  master.reset();
  EXPECT_EQ(Master(), (Table{{"2", "CLI", "2"}, {"3", "CLI", "3"}}));

  ASSERT_TRUE(
      conn_->OpenRecordset("SELECT * FROM [_T_MASTER___] ORDER BY [_T_RRN___]", &master).ok());
  conn_->Close();
  EXPECT_TRUE(master->Eof());
  EXPECT_TRUE(master->MoveNext().ok());
  EXPECT_TRUE(master->Value(0).is_null);
  EXPECT_FALSE(conn_->Execute("DELETE FROM [CLI]").ok());
  ASSERT_EQ(conn_->Errors().size(), 1u);
  EXPECT_EQ(conn_->Errors()[0].sql_state, "08003");
}

TEST_P(SqlitePaths, ASchemaChangedByAnotherConnectionIsSeen) {
  ASSERT_NO_FATAL_FAILURE(Build("ART", kArt, true, true));
  Run("INSERT INTO [ART] ([PREZZO]) VALUES(1.5)");
  std::unique_ptr<Connection> other = NewConnection(testing::ParamsFor(GetParam(), dir_.path()));
  ASSERT_TRUE(other->Open().ok());
  // The same file rebuilt elsewhere with PREZZO of three decimals.
  std::vector<Col> changed = kArt;
  changed[1].decimali = 3;
  for (const std::string& s : testing::BuildFile("ART", changed, true, false)) {
    ASSERT_TRUE(other->Execute(s).ok()) << testing::ErrorsText(*other);
  }
  Run("INSERT INTO [ART] ([PREZZO]) VALUES(1.5)");
  EXPECT_EQ(Rows(conn_.get(), "SELECT [PREZZO] FROM [ART]"), (Table{{"1.500"}}));
  // A table this connection looked for in vain, made since by the other one.
  EXPECT_FALSE(conn_->Execute("DELETE FROM [NUOVO]").ok());
  ASSERT_TRUE(other->Execute(testing::CreateTable("NUOVO", kCli)).ok());
  Run("DELETE FROM [NUOVO]");
  ASSERT_TRUE(other->Execute(testing::DropTable("NUOVO")).ok());
  EXPECT_FALSE(conn_->Execute("DELETE FROM [NUOVO]").ok());
  EXPECT_EQ(conn_->Errors()[0].native_error, 208) << testing::ErrorsText(*conn_);
}

INSTANTIATE_TEST_SUITE_P(Sql, SqlitePaths, ::testing::Values(Path::kEmbedded, Path::kOdbcDriver),
                         testing::PathName);

// ---- opening ------------------------------------------------------------------------

class Opening : public ::testing::TestWithParam<Path> {
 protected:
  void SetUp() override { SKIP_WITHOUT_DRIVER(GetParam()); }

  // Opens database `name` in `folder` and expects a failure reported in the list.
  void ExpectOpenFails(const std::string& folder, const std::string& name, const char* says) {
    std::unique_ptr<Connection> c = NewConnection(testing::ParamsFor(GetParam(), folder, name));
    EXPECT_FALSE(c->Open().ok());
    EXPECT_FALSE(c->IsOpen());
    ASSERT_FALSE(c->Errors().empty());
    EXPECT_NE(testing::ErrorsText(*c).find(says), std::string::npos) << testing::ErrorsText(*c);
  }

  testing::TempDir dir_;
};

TEST_P(Opening, CreatesTheDatabaseFileInWalMode) {
  std::unique_ptr<Connection> c =
      NewConnection(testing::ParamsFor(GetParam(), dir_.path(), " Vendite  "));
  ASSERT_TRUE(c->Open().ok()) << testing::ErrorsText(*c);
  EXPECT_TRUE(c->IsOpen());
  EXPECT_TRUE(std::filesystem::exists(dir_.path() + "/Vendite.sqlite"));
  c->Close();
  std::ifstream f(dir_.path() + "/Vendite.sqlite", std::ios::binary);
  char header[20] = {};
  f.read(header, sizeof header);
  EXPECT_EQ(std::string(header, 15), "SQLite format 3");
  EXPECT_EQ(header[18], 2) << "WAL journal";
}

TEST_P(Opening, AFileThatIsNotADatabaseIsReported) {
  std::ofstream(dir_.path() + "/Rotto.sqlite") << std::string(4096, 'x');
  ExpectOpenFails(dir_.path(), "Rotto", "not a database");
}

TEST_P(Opening, AFolderThatCannotHoldTheFileIsReported) {
  ExpectOpenFails(dir_.path() + "/missing", "Db", "unable to open");
  std::ofstream(dir_.path() + "/plainfile") << "x";
  ExpectOpenFails(dir_.path() + "/plainfile", "Db", "unable to open");
}

TEST_P(Opening, AReadOnlyFolderIsReported) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  std::filesystem::create_directory(dir_.path() + "/ro");
  std::filesystem::permissions(
      dir_.path() + "/ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  ExpectOpenFails(dir_.path() + "/ro", "Db", "unable to open");
}

TEST_P(Opening, ANameThatWouldLeaveTheFolderIsRefused) {
  for (const char* name : {"../Fuori", "a/b", "", "   ", ".."}) {
    ExpectOpenFails(dir_.path(), name, "invalid database name");
  }
}

INSTANTIATE_TEST_SUITE_P(Sql, Opening, ::testing::Values(Path::kEmbedded, Path::kOdbcDriver),
                         testing::PathName);

}  // namespace
}  // namespace torvan::sql
