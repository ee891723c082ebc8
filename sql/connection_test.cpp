// Torvan's row statements on real SQLite, embedded and through SQLite's ODBC driver.

#include "sql/connection.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "sql/fault_vfs.h"
#include "sql/test_support.h"

namespace torvan::sql {
namespace {

using testing::Path;
using testing::Rows;
using testing::Scalar;
using testing::TestColumn;
using Table = std::vector<std::vector<std::string>>;

const std::vector<TestColumn> kArt = {
    {"COD", NvarcharType(6)},         {"PREZZO", NumericType(9, 2)},
    {"IMPORTO", NumericType(17, 3)},  {"CHIAVE", NumericType(13, 0)},
    {"_T_RRN___", NumericType(9, 0)}, {"_T_IDX___", IdentityType(13)},
    {"_T_TIPO___", NvarcharType(1)}};
const std::vector<TestColumn> kMaster = {{"_T_RRN___", IdentityType(13)},
                                         {"_T_FILE___", NvarcharType(20)},
                                         {"_T_PROGR___", NumericType(13, 0)}};

// Raw SQL on a database file, as the sqlite3 shell or a PC application runs it: "a|b " a row.
std::string RawSql(const std::string& file, const std::string& sql) {
  sqlite3* raw = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_open(file.c_str(), &raw));
  std::string out;
  auto row = [](void* to, int n, char** values, char**) {
    std::string& out = *static_cast<std::string*>(to);
    for (int i = 0; i < n; ++i) out += (i ? "|" : "") + std::string(values[i] ? values[i] : "NULL");
    return out += " ", 0;
  };
  char* error = nullptr;
  int rc = sqlite3_exec(raw, sql.c_str(), row, &out, &error);
  std::string message = error ? error : "";
  sqlite3_free(error);
  sqlite3_close(raw);
  EXPECT_EQ(SQLITE_OK, rc) << sql << ": " << message;
  return out;
}

class SqlitePaths : public ::testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_DRIVER(GetParam());
    conn_ = NewConnection(testing::ParamsFor(GetParam(), dir_.path()));
    ASSERT_TRUE(conn_->Open().ok()) << testing::ErrorsText(*conn_);
    ASSERT_NO_FATAL_FAILURE(Create("ART", kArt));  // most tests' table
  }

  void Run(const std::string& statement, bool native = false) {
    Status s = native ? conn_->ExecuteNative(statement) : conn_->Execute(statement);
    ASSERT_TRUE(s.ok()) << statement << "\n" << testing::ErrorsText(*conn_);
  }
  void Native(const std::string& statement) { Run(statement, true); }
  void Create(const std::string& table, const std::vector<TestColumn>& columns) {
    ASSERT_NO_FATAL_FAILURE(Native("DROP TABLE IF EXISTS " + QuoteIdentifier(table)));
    ASSERT_NO_FATAL_FAILURE(Native(testing::CreateTableSql(table, columns)));
  }

  testing::TempDir dir_;
  std::unique_ptr<Connection> conn_;
};

TEST_P(SqlitePaths, DefaultsIdentityAndTheNonUniqueIndex) {
  ASSERT_NO_FATAL_FAILURE(Native("CREATE INDEX \"ART/ART_X\" ON \"ART\" (\"_T_RRN___\")"));
  Run("INSERT INTO [ART] ([COD]) VALUES('A')");
  Run("INSERT INTO [ART] ([COD],[_T_RRN___]) VALUES('B',7)");
  Run("INSERT INTO [ART] ([COD],[_T_RRN___]) VALUES('C',7)");  // the index is not unique
  EXPECT_EQ(Rows(conn_.get(), "SELECT * FROM [ART] ORDER BY [_T_IDX___]"),
            (Table{{"A", "0.00", "0.000", "0", "0", "1", " "},
                   {"B", "0.00", "0.000", "0", "7", "2", " "},
                   {"C", "0.00", "0.000", "0", "7", "3", " "}}));
  // Identities are never reused, not even the last one; IDENT_CURRENT says the last given.
  Run("DELETE FROM [ART] WHERE [_T_IDX___]=3");
  Run("INSERT INTO [ART] ([COD]) VALUES('D')");
  EXPECT_EQ("4", Scalar(conn_.get(), "SELECT [_T_IDX___] FROM [ART] WHERE [COD]='D'"));
  Run("DELETE FROM [ART]");
  EXPECT_EQ("4", Scalar(conn_.get(), "SELECT IDENT_CURRENT('ART')"));
  EXPECT_EQ("NULL", Scalar(conn_.get(), "SELECT IDENT_CURRENT('NESSUNA')"));
  // Transactions, schema statements included, nest: an inner one is undone alone.
  ASSERT_TRUE(conn_->Begin().ok());
  Run("INSERT INTO [ART] ([COD]) VALUES('E')");
  ASSERT_TRUE(conn_->Begin().ok());
  Native("DROP TABLE \"ART\"");
  conn_->Rollback();
  Run("INSERT INTO [ART] ([COD]) VALUES('F')");
  ASSERT_TRUE(conn_->Commit().ok());
  ASSERT_TRUE(conn_->Begin().ok());
  Run("INSERT INTO [ART] ([COD]) VALUES('G')");
  conn_->Rollback();
  EXPECT_EQ(Rows(conn_.get(), "SELECT [COD] FROM [ART] ORDER BY [_T_IDX___]"),
            (Table{{"E"}, {"F"}}));
}

TEST_P(SqlitePaths, DecimalsKeepEveryDigit) {
  // PREZZO, IMPORTO, CHIAVE as written, then as read back.
  const char* const cases[][4] = {
      {"9999999.99", "99999999999999.999", "9999999999999",
       "9999999.99|99999999999999.999|9999999999999"},
      {"-1234.5", "-12345678901234.567", "-9999999999999",
       "-1234.50|-12345678901234.567|-9999999999999"},
      {"-0001234.50 ", "-00000000000123.456 ", "0000000000042", "-1234.50|-123.456|42"},
      {".5", "-0.001", "0", "0.50|-0.001|0"},
      {"1.005", "-0.0005", "12.5", "1.01|-0.001|13"},  // rounded half away from zero
      {"-0.00", "-0.0001", "-0", "0.00|0.000|0"},
      {"'12.3'", "'7'", "'8'", "12.30|7.000|8"}};
  int rrn = 0;
  for (const auto& c : cases) {
    const std::string n = std::to_string(++rrn);
    Run(std::string("INSERT INTO [ART] ([PREZZO],[IMPORTO],[CHIAVE],[_T_RRN___]) VALUES(") + c[0] +
        "," + c[1] + "," + c[2] + "," + n + ")");
    const Table row =
        Rows(conn_.get(), "SELECT [PREZZO],[IMPORTO],[CHIAVE] FROM [ART] WHERE [_T_RRN___]=" + n);
    ASSERT_EQ(1u, row.size()) << c[0];
    EXPECT_EQ(c[3], row[0][0] + "|" + row[0][1] + "|" + row[0][2]) << c[0];
  }
  // Numeric columns compare in WHERE clauses, however the value is written.
  const std::pair<const char*, const char*> queries[] = {
      {"SELECT [_T_RRN___] FROM [ART] WHERE [IMPORTO]=-12345678901234.567", "2"},
      {"select count(*) from [ART] WHERE [PREZZO]=-1234.500", "2"},
      {"select count(*) from [ART] WHERE [PREZZO]=-1234.501", "0"},
      {"select count(*) from [ART] WHERE [PREZZO]<>9999999.99", "6"},
      {"SELECT [_T_RRN___] FROM [ART] WHERE [CHIAVE]>9999999999998", "1"},
      {"select count(*) from [ART] WHERE [CHIAVE]<0.5", "3"}};
  for (const auto& [query, value] : queries) EXPECT_EQ(value, Scalar(conn_.get(), query)) << query;
  Run("DELETE FROM [ART] WHERE [IMPORTO]=99999999999999.999");
  EXPECT_EQ("6", Scalar(conn_.get(), "select count(*) from  [ART]"));
}

TEST_P(SqlitePaths, DecimalsSortAndCompareByValue) {
  ASSERT_NO_FATAL_FAILURE(Create(
      "V", {{"K", NumericType(9, 0)}, {"P", NumericType(9, 2)}, {"W", NumericType(38, 10)}}));
  // Texts of every length and both signs, in neither the values' nor the texts' order.
  const std::vector<std::pair<const char*, const char*>> values = {
      {"10", "0.00"},  {"-2.5", "-1234567890123456789012345678.0000000001"},
      {"0.05", "-1"},  {"-100", "1234567890123456789012345678.9999999999"},
      {"9.99", "0.1"}, {"-0.01", "-0.0000000001"},
      {"100.5", "9"},  {"-9.99", "1000000000000000000000000000.5"},
  };
  int k = 0;
  for (const auto& [p, w] : values) {
    Run("INSERT INTO [V] ([K],[P],[W]) VALUES(" + std::to_string(++k) + "," + p + "," + w + ")");
  }
  auto keys = [&](const std::string& query) {
    std::string out;
    for (const auto& row : Rows(conn_.get(), query)) out += row[0] + " ";
    return out;
  };
  // P: -100 -9.99 -2.5 -0.01 0.05 9.99 10 100.5. Values of W a double cannot hold, kept exact,
  // compare by their nearest double. More decimals than the column: exact all the same.
  const std::pair<const char*, const char*> cases[] = {
      {"ORDER BY [P]", "4 8 2 6 3 5 1 7 "},
      {"ORDER BY [P] DESC", "7 1 5 3 6 2 8 4 "},
      {"ORDER BY [W]", "2 3 6 1 5 7 8 4 "},
      {"WHERE [W]>1000000000000000000000000000.5", "4 "},
      {"WHERE [W]>=1000000000000000000000000000.5", "4 8 "},
      {"WHERE [P]>-2.5", "1 3 5 6 7 "},
      {"WHERE [P]>=-2.5", "1 2 3 5 6 7 "},
      {"WHERE [P]<0", "2 4 6 8 "},
      {"WHERE [P]<=-9.99", "4 8 "},
      {"WHERE [P]!<10", "1 7 "},
      {"WHERE [P]!>0.05", "2 3 4 6 8 "},
      {"WHERE [P]>9.985", "1 5 7 "},
      {"WHERE [P]>=9.995", "1 7 "},
      {"WHERE [P]<-9.985", "4 8 "},
      {"WHERE [P]<=-9.995", "4 "},
      {"WHERE [P]<=0.049", "2 4 6 8 "},
      {"WHERE [P]>-0.015", "1 3 5 6 7 "},
      {"WHERE [P]>100000000", ""},
      {"WHERE [P]>-100000000 AND [P]<1", "2 3 4 6 8 "}};
  for (const auto& [tail, expected] : cases) {
    const std::string order = tail[0] == 'W' ? " ORDER BY [K]" : "";
    EXPECT_EQ(keys(std::string("SELECT [K] FROM [V] ") + tail + order), expected) << tail;
  }
  // What Torvan reads back is unchanged: plain decimals with exactly the scale.
  EXPECT_EQ(Scalar(conn_.get(), "SELECT [P] FROM [V] WHERE [K]=3"), "0.05");
  EXPECT_EQ(Scalar(conn_.get(), "SELECT [W] FROM [V] WHERE [K]=6"), "-0.0000000001");
}

// Numbers a PC application writes and queries with plain SQL, read at the column's scale.
TEST_P(SqlitePaths, NumbersWrittenByPcApplicationsAreTakenAndQueriedByValue) {
  Run("INSERT INTO [ART] ([COD],[PREZZO],[IMPORTO]) VALUES('HOST',20,-12345678901234.567)");
  const std::string db = dir_.path() + "/Torvan.sqlite";
  ASSERT_NO_FATAL_FAILURE(RawSql(db,
                                 "INSERT INTO ART (COD, PREZZO) VALUES ('R', 12.5), ('I', 3),"
                                 " ('T', '0100.25'), ('E', '1e2'), ('N', -350.5);"
                                 "INSERT INTO ART (COD, PREZZO, IMPORTO) VALUES ('PY', 0.125, 7);"
                                 "UPDATE ART SET IMPORTO = 0.1 + 0.2 WHERE COD = 'R'"));
  EXPECT_EQ(RawSql(db, "SELECT COD FROM ART ORDER BY PREZZO"), "N PY I R HOST E T ");
  EXPECT_EQ(RawSql(db, "SELECT COD FROM ART WHERE PREZZO > 15 ORDER BY COD"), "E HOST T ");
  EXPECT_EQ(RawSql(db, "SELECT sum(PREZZO), count(*), typeof(PREZZO) FROM ART WHERE COD = 'T'"),
            "100.25|1|real ");
  EXPECT_EQ(RawSql(db, "SELECT sum(PREZZO) FROM ART"), "-114.625 ");
  // Beyond a double's digits the exact value is kept as the text of its digits.
  EXPECT_EQ(RawSql(db, "SELECT typeof(IMPORTO), CAST(IMPORTO AS TEXT) FROM ART WHERE COD = 'HOST'"),
            "blob|-12345678901234.567 ");
  EXPECT_EQ(Rows(conn_.get(), "SELECT [COD],[PREZZO],[IMPORTO] FROM [ART] ORDER BY [PREZZO]"),
            (Table{{"N", "-350.50", "0.000"},
                   {"PY", "0.13", "7.000"},
                   {"I", "3.00", "0.000"},
                   {"R", "12.50", "0.300"},
                   {"HOST", "20.00", "-12345678901234.567"},
                   {"E", "100.00", "0.000"},
                   {"T", "100.25", "0.000"}}));
  // What numeric(9,2) cannot hold is refused, naming the column, as SQL Server refuses it.
  for (const std::string value : {"'12a'", "''", "10000000", "x'3132'", "9e999"}) {
    EXPECT_FALSE(
        conn_->ExecuteNative("INSERT INTO \"ART\" (\"PREZZO\") VALUES (" + value + ")").ok())
        << value;
    ASSERT_FALSE(conn_->Errors().empty());
    EXPECT_NE(conn_->Errors()[0].description.find("PREZZO numeric(9,2)"), std::string::npos)
        << testing::ErrorsText(*conn_);
  }
}

TEST_P(SqlitePaths, TextsKeepWindows1252AndQuotes) {
  ASSERT_NO_FATAL_FAILURE(Create("CLI", {{"NOME", NvarcharType(10)}}));
  const std::string name = "O''Br\xE8 \x80\xA7";  // O'Brè €§ in Windows-1252
  Run("INSERT INTO [CLI] ([NOME]) VALUES(N'" + name + "')");
  EXPECT_EQ(Rows(conn_.get(), "SELECT [NOME] FROM [CLI]"), (Table{{"O'Br\xE8 \x80\xA7"}}));
  // Text comparisons ignore trailing blanks and case, as SQL Server's default collation.
  EXPECT_EQ("1",
            Scalar(conn_.get(), "select count(*) from [CLI] WHERE [NOME]='o''BR\xE8 \x80\xA7   '"));
  // Schema statements carry Windows-1252 names too.
  ASSERT_NO_FATAL_FAILURE(Create("Citt\xE0", {{"N\xB0", NvarcharType(2)}}));
  Run("INSERT INTO [Citt\xE0] ([N\xB0]) VALUES('\xE8')");
  EXPECT_EQ("\xE8", Scalar(conn_.get(), "SELECT [N\xB0] FROM [Citt\xE0]"));
}

TEST_P(SqlitePaths, CountsTablesAndReportsOnesItCannotCount) {
  ASSERT_NO_FATAL_FAILURE(Create("Art", {{"NOME", NvarcharType(10)}}));
  Run("INSERT INTO [Art] ([NOME]) VALUES('x')");
  EXPECT_EQ("1", Scalar(conn_.get(), "select count(*) from  [Art]"));
  conn_->Close();
  // Another tool's table of a module Torvan lacks: listed as stored ("Art"), not countable.
  ASSERT_NO_FATAL_FAILURE(RawSql(dir_.path() + "/Torvan.sqlite",
                                 "PRAGMA writable_schema=ON; INSERT INTO sqlite_master "
                                 "VALUES('table','Ghost','Ghost',0,'CREATE VIRTUAL TABLE "
                                 "Ghost USING nosuchmodule()')"));
  ASSERT_TRUE(conn_->Open().ok()) << testing::ErrorsText(*conn_);
  std::vector<std::string> tables;
  ASSERT_TRUE(conn_->ListTables(&tables).ok());
  std::sort(tables.begin(), tables.end());
  EXPECT_EQ(tables, (std::vector<std::string>{"Art", "Ghost"}));
  std::unique_ptr<Recordset> r;
  EXPECT_FALSE(conn_->OpenRecordset("select count(*) from  [Ghost]", &r).ok());
  ASSERT_FALSE(conn_->Errors().empty());
  EXPECT_NE(conn_->Errors()[0].description.find("nosuchmodule"), std::string::npos)
      << testing::ErrorsText(*conn_);
}

TEST_P(SqlitePaths, RefusesStatementsOutsideTheSetAndValuesThatDoNotFit) {
  Run("INSERT INTO [ART] ([COD],[_T_RRN___]) VALUES('A',1)");
  struct Case {
    std::string statement;
    int32_t error;     // -1: accepted
    const char* says;  // part of the description
  };
  const std::string insert = "INSERT INTO [ART] ([COD],[PREZZO],[IMPORTO]) VALUES(";
  const Case cases[] = {
      {"DROP TABLE [ART]", 0, "schema objects are rendered"},
      {"IF EXISTS (SELECT name FROM sysobjects WHERE name = 'ART' AND type = 'U')  DROP TABLE "
       "[ART]",
       0, "schema objects are rendered"},
      {"CREATE TABLE [dbo].[T] ([A] [nvarchar] (1) NOT NULL DEFAULT ' ',)", 0,
       "schema objects are rendered"},
      {"TRUNCATE TABLE [ART]", 0, "not one of Torvan's statements"},
      {"EXEC sp_who", 0, "not one of Torvan's statements"},
      {"SELECT 1", 102, "Incorrect syntax"},
      {"DELETE FROM [ART]; DELETE FROM [ART___]", 102, "Incorrect syntax"},
      {"INSERT INTO [ART] ([_T_IDX___]) VALUES(5)", 544, "IDENTITY_INSERT"},
      {"UPDATE [ART] SET [_T_IDX___]=5", 8102, "identity column"},
      {"DELETE FROM [NONE] WHERE [_T_RRN___]=1", 208, "Invalid object name 'NONE'"},
      {"UPDATE [ART] SET [XX]='D'", 207, "Invalid column name 'XX'"},
      {"DELETE FROM [ART] WHERE [COD]='A", 102, "unterminated string"},
      {"INSERT INTO [ART] ([COD],[PREZZO]) VALUES('A')", 109, "more columns"},
      {insert + "'A',10000000,0)", 8115, "Arithmetic overflow"},
      {insert + "'A',9999999.995,0)", 8115, "Arithmetic overflow"},
      {insert + "'A',0,999999999999999999)", 8115, "Arithmetic overflow"},
      {insert + "'A','12a',0)", 8114, "converting data type varchar"},
      {insert + "'ABCDEFG',0,0)", 8152, "truncated in column 'COD' (6"},
      {insert + "'ABCDEF   ',0,0)", -1, ""},
      {insert + "00123.50,0,0)", -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    conn_->ClearErrors();
    Status s = conn_->Execute(c.statement);
    if (c.error < 0) {
      EXPECT_TRUE(s.ok()) << testing::ErrorsText(*conn_);
      continue;
    }
    EXPECT_FALSE(s.ok());
    ASSERT_EQ(conn_->Errors().size(), 1u);
    const SqlError& e = conn_->Errors()[0];
    EXPECT_EQ(std::tuple(e.native_error, e.source, e.origin),
              std::tuple(c.error, "Torvan SQLite dialect", ErrorOrigin::kDialect));
    EXPECT_NE(e.description.find(c.says), std::string::npos) << e.description;
  }
  EXPECT_EQ(Rows(conn_.get(), "SELECT [COD] FROM [ART] ORDER BY [_T_IDX___]"),
            (Table{{"A"}, {"ABCDEF"}, {"123.50"}}));
}

TEST_P(SqlitePaths, TheErrorListHoldsTheLastFailureAndWhereItsNumberComesFrom) {
  EXPECT_FALSE(conn_->Execute("DELETE FROM [NONE]").ok());
  ASSERT_EQ(conn_->Errors().size(), 1u);
  EXPECT_EQ(std::tuple("42S02", ErrorOrigin::kDialect),
            std::tuple(conn_->Errors()[0].sql_state, conn_->Errors()[0].origin));
  Run("DELETE FROM [ART]");  // success leaves the list alone
  EXPECT_EQ(conn_->Errors().size(), 1u);
  EXPECT_FALSE(conn_->Execute("DELETE FROM [ART] WHERE [XX]=1").ok());
  ASSERT_EQ(conn_->Errors().size(), 1u);
  EXPECT_EQ(conn_->Errors()[0].sql_state, "42S22");
  conn_->ClearErrors();
  EXPECT_TRUE(conn_->Errors().empty());
  // A constraint of the database itself, reported by SQLite with its own code.
  EXPECT_FALSE(conn_->Execute("INSERT INTO [ART] ([COD]) VALUES(NULL)").ok());
  ASSERT_FALSE(conn_->Errors().empty());
  const SqlError& e = conn_->Errors()[0];
  EXPECT_EQ(std::tuple("23000", ErrorOrigin::kSqlite, SQLITE_CONSTRAINT),
            std::tuple(e.sql_state, e.origin, e.number))
      << testing::ErrorsText(*conn_);
  // A fault of Torvan's own: the connection is closed.
  conn_->Close();
  EXPECT_FALSE(conn_->Execute("DELETE FROM [ART]").ok());
  ASSERT_EQ(conn_->Errors().size(), 1u);
  EXPECT_EQ(std::tuple("08003", ErrorOrigin::kTorvan),
            std::tuple(conn_->Errors()[0].sql_state, conn_->Errors()[0].origin));
}

TEST_P(SqlitePaths, RecordsetsReadWhileTheConnectionWritesAndEndWithIt) {
  ASSERT_NO_FATAL_FAILURE(Create("_T_MASTER___", kMaster));
  for (int i = 1; i <= 3; ++i) {
    Run("INSERT INTO [_T_MASTER___] ([_T_FILE___],[_T_PROGR___]) VALUES('CLI'," +
        std::to_string(i) + ")");
  }
  const std::string all = "SELECT * FROM [_T_MASTER___] ORDER BY [_T_RRN___]";
  std::unique_ptr<Recordset> master, again;
  ASSERT_TRUE(conn_->OpenRecordset(all, &master).ok());
  ASSERT_FALSE(master->Eof());
  EXPECT_EQ(master->Find("_t_file___")->text, "CLI");
  EXPECT_EQ(master->FieldIndex("_T_PROGR___"), 2);
  EXPECT_EQ(master->Find("NOPE"), nullptr);
  // Deleting while the master is open, the same query opened twice at once (own statements).
  ASSERT_TRUE(conn_->OpenRecordset(all, &again).ok());
  Run("DELETE FROM [_T_MASTER___] WHERE [_T_RRN___]=1");
  again.reset();
  master.reset();
  EXPECT_EQ(Rows(conn_.get(), all), (Table{{"2", "CLI", "2"}, {"3", "CLI", "3"}}));
  ASSERT_TRUE(conn_->OpenRecordset(all, &master).ok());
  conn_->Close();
  EXPECT_TRUE(master->Eof());
  EXPECT_TRUE(master->MoveNext().ok());
  EXPECT_TRUE(master->Value(0).is_null);
}

TEST_P(SqlitePaths, ASchemaChangedByAnotherConnectionIsSeen) {
  Run("INSERT INTO [ART] ([PREZZO]) VALUES(1.5)");
  std::unique_ptr<Connection> other = NewConnection(testing::ParamsFor(GetParam(), dir_.path()));
  ASSERT_TRUE(other->Open().ok());
  // The same table rebuilt elsewhere with PREZZO of three decimals.
  std::vector<TestColumn> changed = kArt;
  changed[1].type = NumericType(9, 3);
  ASSERT_TRUE(other->ExecuteNative("DROP TABLE \"ART\"").ok()) << testing::ErrorsText(*other);
  ASSERT_TRUE(other->ExecuteNative(testing::CreateTableSql("ART", changed)).ok());
  Run("INSERT INTO [ART] ([PREZZO]) VALUES(1.5)");
  EXPECT_EQ(Rows(conn_.get(), "SELECT [PREZZO] FROM [ART]"), (Table{{"1.500"}}));
  // A table this connection looked for in vain, made since by the other one.
  EXPECT_FALSE(conn_->Execute("DELETE FROM [NUOVO]").ok());
  ASSERT_TRUE(
      other->ExecuteNative(testing::CreateTableSql("NUOVO", {{"NOME", NvarcharType(10)}})).ok());
  Run("DELETE FROM [NUOVO]");
  ASSERT_TRUE(other->ExecuteNative("DROP TABLE \"NUOVO\"").ok());
  EXPECT_FALSE(conn_->Execute("DELETE FROM [NUOVO]").ok());
  EXPECT_EQ(conn_->Errors()[0].native_error, 208) << testing::ErrorsText(*conn_);
}

// A transaction ended under its caller (a disk fault, a reopening): what follows fails until
// the caller's own rollback; a rollback meeting a failing disk still ends it.
TEST_P(SqlitePaths, NothingRunsOnItsOwnAfterTheTransactionEndedUnderTheCaller) {
  static VfsFaults faults;
  ASSERT_TRUE(RegisterFaultVfs("torvan-test-faults", &faults, /*make_default=*/true).ok());
  struct Restore {
    ~Restore() { sqlite3_vfs_register(sqlite3_vfs_find("unix"), 1); }
  } restore;
  std::unique_ptr<Connection> conn;
  auto open = [&](const std::string& name) {
    faults.Clear();
    conn = NewConnection(testing::ParamsFor(GetParam(), dir_.path(), name));
    ASSERT_TRUE(conn->Open().ok()) << testing::ErrorsText(*conn);
    ASSERT_TRUE(conn->ExecuteNative(testing::CreateTableSql("ART", kArt)).ok());
  };
  auto insert = [&](const char* cod) {
    return conn->Execute(std::string("INSERT INTO [ART] ([COD]) VALUES('") + cod + "')");
  };
  for (const auto& [how, state] : {std::pair("disk", "25000"), std::pair("reopened", "08007")}) {
    SCOPED_TRACE(how);
    ASSERT_NO_FATAL_FAILURE(open(std::string("T") + how));
    ASSERT_TRUE(conn->ExecuteNative("CREATE TABLE \"BIG\" (\"X\" BLOB)").ok());
    ASSERT_TRUE(conn->ExecuteNative("PRAGMA cache_size=2").ok());
    ASSERT_TRUE(conn->Begin().ok());
    ASSERT_TRUE(insert("A").ok());
    ASSERT_TRUE(conn->Begin().ok());
    if (std::string(how) == "disk") {
      faults.Add({VfsFault::Op::kWrite, faults.writes() + 1, 1000000, false, ""});
      // Pages spill to the log while the statement runs: the write fails under it.
      EXPECT_FALSE(conn->ExecuteNative("WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 "
                                       "FROM c WHERE i < 200) INSERT INTO \"BIG\" SELECT "
                                       "randomblob(3000) FROM c")
                       .ok());
      faults.Clear();
    } else {
      conn->Close();
      ASSERT_TRUE(conn->Open().ok());
    }
    for (Status s : {insert("B"), conn->Commit()}) {
      EXPECT_FALSE(s.ok());
      ASSERT_FALSE(conn->Errors().empty());
      EXPECT_EQ(conn->Errors()[0].sql_state, state) << testing::ErrorsText(*conn);
    }
    conn->Rollback();
    EXPECT_FALSE(insert("B").ok()) << "one level is still open";
    conn->Rollback();
    EXPECT_TRUE(insert("C").ok()) << testing::ErrorsText(*conn);
    EXPECT_EQ(Rows(conn.get(), "SELECT [COD] FROM [ART]"), (Table{{"C"}}));
  }
  // Undoing writes to the log as a commit does; failing there, it still ends the transaction.
  ASSERT_NO_FATAL_FAILURE(open("Undone"));
  ASSERT_TRUE(conn->Begin().ok());
  ASSERT_TRUE(insert("A").ok());
  faults.Add({VfsFault::Op::kWrite, faults.writes() + 1, 1000000, false, ""});
  faults.Add({VfsFault::Op::kSync, faults.syncs() + 1, 1000000, false, ""});
  conn->Rollback();
  faults.Clear();
  const int syncs = faults.syncs();
  ASSERT_TRUE(insert("C").ok());
  EXPECT_GT(faults.syncs(), syncs) << "a commit reaches the disk";
  // Committed: another program sees it while the connection stays open.
  EXPECT_EQ(RawSql(dir_.path() + "/Undone.sqlite", "SELECT COD FROM ART"), "C ");
}

// Opening makes the database file in WAL mode with the layout version; a database of another
// layout is refused and left alone; one that cannot be opened is reported.
TEST_P(SqlitePaths, OpeningMakesAWalDatabaseOfTheLayoutAndRefusesAnyOther) {
  std::unique_ptr<Connection> made =
      NewConnection(testing::ParamsFor(GetParam(), dir_.path(), " Vendite  "));
  ASSERT_TRUE(made->Open().ok() && made->IsOpen()) << testing::ErrorsText(*made);
  made->Close();
  char header[20] = {};
  std::ifstream(dir_.path() + "/Vendite.sqlite", std::ios::binary).read(header, sizeof header);
  EXPECT_EQ(std::string(header, 15), "SQLite format 3");
  EXPECT_EQ(header[18], 2) << "WAL journal";
  EXPECT_EQ(RawSql(dir_.path() + "/Vendite.sqlite", "PRAGMA user_version"),
            std::to_string(kLayoutVersion) + " ");

  std::ofstream(dir_.path() + "/Rotto.sqlite") << std::string(4096, 'x');
  std::ofstream(dir_.path() + "/plainfile") << "x";
  std::filesystem::create_directory(dir_.path() + "/ro");
  std::filesystem::permissions(
      dir_.path() + "/ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  auto layout = [&](const std::string& name, const char* version) {
    return "Il database " + dir_.path() + "/" + name + ".sqlite \xE8 stato costruito con la " +
           "versione " + version + " della struttura degli oggetti di Torvan, questo Torvan usa " +
           "la versione " + std::to_string(kLayoutVersion) + ": il database non viene usato";
  };
  struct Case {
    std::string folder, name, making;  // making: the raw SQL of a database of another layout
    std::string says;                  // the whole description then, else a part of it
  };
  const Case cases[] = {
      {"", "Futuro", "PRAGMA user_version=7; CREATE TABLE T (A)", layout("Futuro", "7")},
      {"", "Vecchio", "CREATE TABLE \"ART\" (\"PREZZO\" DECIMAL_TEXT(9,2))",
       layout("Vecchio", "0")},
      {"", "PrimaVersione", "PRAGMA user_version=1; CREATE TABLE T (A)",
       layout("PrimaVersione", "1")},
      {"", "VuotoMaAltro", "PRAGMA user_version=99", layout("VuotoMaAltro", "99")},
      {"", "Rotto", "", "not a database"},
      {"/missing", "Db", "", "unable to open"},
      {"/plainfile", "Db", "", "unable to open"},
      {"/ro", "Db", "", "unable to open"},  // root writes into read-only folders: not tried
      {"", "../Fuori", "", "invalid database name"},
      {"", "", "", "invalid database name"},
      {"", "..", "", "invalid database name"},
  };
  for (const Case& c : cases) {
    if (c.folder == "/ro" && geteuid() == 0) continue;
    SCOPED_TRACE(c.folder + " " + c.name);
    const std::string file = dir_.path() + "/" + c.name + ".sqlite";
    const std::string before =
        c.making.empty() ? "" : (RawSql(file, c.making), RawSql(file, "PRAGMA user_version"));
    std::unique_ptr<Connection> conn =
        NewConnection(testing::ParamsFor(GetParam(), dir_.path() + c.folder, c.name));
    EXPECT_FALSE(conn->Open().ok() || conn->IsOpen());
    ASSERT_FALSE(conn->Errors().empty());
    if (c.making.empty()) {
      EXPECT_NE(testing::ErrorsText(*conn).find(c.says), std::string::npos)
          << testing::ErrorsText(*conn);
      continue;
    }
    ASSERT_EQ(conn->Errors().size(), 1u) << testing::ErrorsText(*conn);
    EXPECT_EQ(std::tuple(conn->Errors()[0].origin, conn->Errors()[0].description),
              std::tuple(ErrorOrigin::kTorvan, c.says));
    EXPECT_EQ(RawSql(file, "PRAGMA user_version"), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Sql, SqlitePaths, ::testing::Values(Path::kEmbedded, Path::kOdbcDriver),
                         testing::PathName);

}  // namespace
}  // namespace torvan::sql
