// The PostgreSQL engine: T-SQL rewritten for it, and a real server the test starts
// (sql/postgres_test_server.h): values, SQLSTATEs, transactions, locks, links ended.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sql/postgres_dialect.h"
#include "sql/postgres_test_server.h"
#include "sql/test_support.h"

namespace torvan::sql {
namespace {

using testing::PostgresServer;
using testing::Rows;
using testing::Scalar;
using Table = std::vector<std::vector<std::string>>;

TEST(PostgresDialect, RewritesTorvansStatementsWithParameters) {
  const char* const rows[][4] = {
      // what, T-SQL, PostgreSQL, parameters "|" apart
      {"insert", "INSERT INTO [ART] ([COD],[PREZZO]) VALUES('A''1',-0001234.50)",
       "INSERT INTO \"ART\" ( \"COD\" , \"PREZZO\" ) VALUES ( $1 , $2 )", "A'1|-0001234.50"},
      {"update and where",
       "UPDATE [ART] SET [_T_TIPO___]='D' WHERE [_T_IDX___]=3 or [_T_RRN___]=15",
       "UPDATE \"ART\" SET \"_T_TIPO___\" = $1 WHERE \"_T_IDX___\" = $2 or \"_T_RRN___\" = $3",
       "D|3|15"},
      {"count, two blanks", "select count(*) from  [ART]", "select count ( * ) from \"ART\"", ""},
      {"owner and bare names", "SELECT * FROM [dbo].[_T_MASTER___] ORDER BY _T_RRN___ DESC",
       "SELECT * FROM \"_T_MASTER___\" ORDER BY \"_T_RRN___\" DESC", ""},
      {"quote in a name, text in cp1252", "DELETE FROM [A\"B] WHERE [C]=N'\xE8'",
       "DELETE FROM \"A\"\"B\" WHERE \"C\" = $1", "\xC3\xA8"},
      {"IDENT_CURRENT", "SELECT IDENT_CURRENT('ART')", kPgIdentCurrent, "ART"},
  };
  for (const auto& [name, tsql, text, expected] : rows) {
    std::vector<Token> tokens;
    ASSERT_TRUE(Tokenize(tsql, &tokens).ok()) << name;
    PgStatement pg;
    SqlError e;
    ASSERT_TRUE(TranslateForPostgres(tokens, &pg, &e).ok()) << name << ": " << e.description;
    EXPECT_EQ(text, pg.text) << name;
    std::string params;
    for (const std::string& p : pg.params) params += (params.empty() ? "" : "|") + p;
    EXPECT_EQ(expected, params) << name;
  }
  for (const char* refused : {"SELECT @X", "EXEC sp_who", "SELECT GETDATE() FROM [T]",
                              "DELETE FROM [T]; DELETE FROM [U]"}) {
    std::vector<Token> tokens;
    PgStatement pg;
    SqlError e;
    if (!Tokenize(refused, &tokens).ok()) continue;
    EXPECT_FALSE(TranslateForPostgres(tokens, &pg, &e).ok()) << refused;
    EXPECT_EQ("42601", e.sql_state) << refused;
  }
}

class PostgresEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_POSTGRES();
    std::string why;
    ASSERT_TRUE(server().CreateDatabase("engine", &why)) << why;
    conn_ = NewConnection(server().Params("engine"));
    ASSERT_TRUE(conn_->Open().ok()) << testing::ErrorsText(*conn_);
    Native(
        "CREATE TABLE \"T\" (\"COD\" varchar(6) NOT NULL DEFAULT ' ', \"V\" numeric(17,3) "
        "NOT NULL DEFAULT 0, \"ID\" bigint GENERATED ALWAYS AS IDENTITY)");
  }
  static PostgresServer& server() { return PostgresServer::Shared(); }
  void Native(const std::string& sql) {
    ASSERT_TRUE(conn_->ExecuteNative(sql).ok()) << sql << testing::ErrorsText(*conn_);
  }
  void Run(const std::string& sql) {
    ASSERT_TRUE(conn_->Execute(sql).ok()) << sql << testing::ErrorsText(*conn_);
  }
  const SqlError& FirstError() { return conn_->Errors().front(); }

  std::unique_ptr<Connection> conn_;
};

TEST_F(PostgresEngine, KeepsExactNumbersAndWindows1252Texts) {
  Run("INSERT INTO [T] ([COD],[V]) VALUES('Forl\xEC ',-12345678901234.567)");
  Run("INSERT INTO [T] ([COD],[V]) VALUES('\x80 5',00000000000000.0005)");  // rounded up
  Run("INSERT INTO [T] ([COD],[V]) VALUES('A     ',0)");  // blanks beyond the length are cut
  EXPECT_EQ(Rows(conn_.get(), "SELECT [COD],[V],[ID] FROM [T] ORDER BY [ID]"),
            (Table{{"Forl\xEC ", "-12345678901234.567", "1"},
                   {"\x80 5", "0.001", "2"},
                   {"A     ", "0.000", "3"}}));
  EXPECT_EQ("3", Scalar(conn_.get(), "SELECT COUNT(*) FROM [T] WHERE [V]<=0.001"));
  EXPECT_EQ("3", Scalar(conn_.get(), "SELECT IDENT_CURRENT('T')"));
  EXPECT_EQ("NULL", Scalar(conn_.get(), "SELECT IDENT_CURRENT('NONE')"));
  // The oldest row alone, as the master table is read.
  for (bool in_transaction : {false, true}) {
    ASSERT_TRUE(!in_transaction || conn_->Begin().ok());
    std::unique_ptr<Recordset> rs;
    ASSERT_TRUE(conn_->OpenFirstRows("SELECT [ID] FROM [T] ORDER BY [ID] DESC", 1, &rs).ok());
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ("3", rs->Value(0).text);
    ASSERT_TRUE(rs->MoveNext().ok());
    EXPECT_TRUE(rs->Eof());
    ASSERT_TRUE(conn_->OpenFirstRows("SELECT [ID] FROM [T] WHERE [ID]>3", 1, &rs).ok());
    EXPECT_TRUE(rs->Eof());
    ASSERT_TRUE(!in_transaction || conn_->Commit().ok());
  }
  std::vector<std::string> tables;
  ASSERT_TRUE(conn_->ListTables(&tables).ok());
  EXPECT_EQ(tables, std::vector<std::string>{"T"});
}

TEST_F(PostgresEngine, ErrorsCarryTheirSqlstateAndSayTheyComeFromPostgres) {
  const char* const rows[][3] = {
      {"missing table", "SELECT * FROM [NOPE]", "42P01"},
      {"text too long", "INSERT INTO [T] ([COD]) VALUES('1234567')", "22001"},
      {"beyond the precision", "INSERT INTO [T] ([V]) VALUES(123456789012345)", "22003"},
      {"identity given", "INSERT INTO [T] ([ID]) VALUES(5)", "428C9"},
      {"not a number", "INSERT INTO [T] ([V]) VALUES('x')", "22P02"},
  };
  // Inside a transaction (a savepoint around each statement): the same, and it goes on.
  for (bool in_transaction : {false, true}) {
    ASSERT_TRUE(!in_transaction || conn_->Begin().ok());
    for (const auto& [name, tsql, state] : rows) {
      SCOPED_TRACE(name);
      EXPECT_FALSE(conn_->Execute(tsql).ok());
      ASSERT_EQ(1u, conn_->Errors().size());
      EXPECT_EQ(std::tuple(state, "PostgreSQL", ErrorOrigin::kPostgres),
                std::tuple(FirstError().sql_state, FirstError().source, FirstError().origin));
      EXPECT_FALSE(IsBusy(FirstError()) || IsConnectionLost(FirstError()));
    }
    ASSERT_TRUE(!in_transaction || conn_->Commit().ok()) << testing::ErrorsText(*conn_);
  }
  ASSERT_FALSE(conn_->Execute("DELETE FROM [NOPE] WHERE [X]=1").ok());
  EXPECT_EQ("NOPE", MissingTable(FirstError()));
}

TEST_F(PostgresEngine, TransactionsNestAndRollBack) {
  ASSERT_TRUE(conn_->Begin().ok());
  Run("INSERT INTO [T] ([COD]) VALUES('a')");
  ASSERT_TRUE(conn_->Begin().ok());
  Run("INSERT INTO [T] ([COD]) VALUES('b')");
  conn_->Rollback();  // the savepoint only
  ASSERT_TRUE(conn_->Commit().ok());
  EXPECT_EQ(Rows(conn_.get(), "SELECT [COD] FROM [T]"), (Table{{"a"}}));
  // A statement that fails inside a transaction undoes only itself, as in the other engines.
  ASSERT_TRUE(conn_->Begin().ok());
  Run("INSERT INTO [T] ([COD]) VALUES('c')");
  EXPECT_FALSE(conn_->Execute("INSERT INTO [T] ([COD]) VALUES('too long')").ok());
  ASSERT_TRUE(conn_->Commit().ok()) << testing::ErrorsText(*conn_);
  EXPECT_EQ(Rows(conn_.get(), "SELECT [COD] FROM [T] ORDER BY [ID]"), (Table{{"a"}, {"c"}}));
  // Begun all or nothing, statements go together and the first failure leaves only the
  // rollback, the Commit included.
  auto insert = [](const char* cod) {
    return std::string("INSERT INTO [T] ([COD]) VALUES('") + cod + "')";
  };
  ASSERT_TRUE(conn_->BeginAllOrNothing().ok());
  size_t done = 0;
  ASSERT_TRUE(conn_->ExecuteAll({insert("d"), insert("dd")}, &done).ok());
  EXPECT_EQ(2u, done);
  EXPECT_FALSE(conn_->ExecuteAll({insert("d3"), insert("too long"), insert("d4")}, &done).ok());
  EXPECT_EQ(1u, done);
  EXPECT_EQ("22001", FirstError().sql_state) << testing::ErrorsText(*conn_);
  EXPECT_FALSE(conn_->Execute("INSERT INTO [T] ([COD]) VALUES('e')").ok());
  EXPECT_FALSE(conn_->Commit().ok());
  conn_->Rollback();
  EXPECT_EQ(Rows(conn_.get(), "SELECT [COD] FROM [T] ORDER BY [ID]"), (Table{{"a"}, {"c"}}));
  // and the next transaction guards each statement again.
  ASSERT_TRUE(conn_->Begin().ok());
  EXPECT_FALSE(conn_->Execute("INSERT INTO [T] ([COD]) VALUES('too long')").ok());
  Run("INSERT INTO [T] ([COD]) VALUES('f')");
  ASSERT_TRUE(conn_->Commit().ok()) << testing::ErrorsText(*conn_);
  EXPECT_EQ(Rows(conn_.get(), "SELECT [COD] FROM [T] ORDER BY [ID]"), (Table{{"a"}, {"c"}, {"f"}}));
}

TEST_F(PostgresEngine, ALockHeldByAnotherSessionIsBusyAndAnEndedLinkIsLost) {
  Run("INSERT INTO [T] ([COD]) VALUES('a')");
  std::unique_ptr<Connection> other = NewConnection(server().Params("engine"));
  ASSERT_TRUE(other->Open().ok());
  ASSERT_TRUE(other->Begin().ok());
  ASSERT_TRUE(other->Execute("UPDATE [T] SET [V]=1").ok());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(conn_->Execute("UPDATE [T] SET [V]=2").ok());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ("55P03", FirstError().sql_state);
  EXPECT_TRUE(IsBusy(FirstError()));
  ASSERT_TRUE(other->Commit().ok());
  Run("UPDATE [T] SET [V]=2");

  // Ended by the server, outside a transaction and inside one.
  for (bool in_transaction : {false, true}) {
    ASSERT_TRUE(!in_transaction || conn_->Begin().ok());
    ASSERT_TRUE(
        server().Admin("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                       "datname='engine' AND application_name='Torvan'"));
    EXPECT_FALSE(conn_->Execute("UPDATE [T] SET [V]=3").ok());
    EXPECT_TRUE(IsConnectionLost(FirstError())) << testing::ErrorsText(*conn_);
    ASSERT_TRUE(conn_->Open().ok());
    if (in_transaction) {
      // The transaction went with the link: nothing runs until the caller rolls it back.
      EXPECT_FALSE(conn_->Execute("UPDATE [T] SET [V]=3").ok());
      EXPECT_EQ("08007", FirstError().sql_state);
      conn_->Rollback();
    }
  }
  EXPECT_EQ("2.000", Scalar(conn_.get(), "SELECT [V] FROM [T]"));
}

TEST_F(PostgresEngine, AServerThatCannotBeReachedSaysWhy) {
  const struct {
    const char* name;
    void (*edit)(ConnectionParams*);
    const char* says;
  } rows[] = {
      {"missing database", [](ConnectionParams* p) { p->database = "NESSUNO"; },
       "database \"NESSUNO\" does not exist"},
      {"wrong password", [](ConnectionParams* p) { p->password = "sbagliata"; },
       "password authentication failed for user \"torvan\""},
      {"nobody listens", [](ConnectionParams* p) { p->odbc_extra = "port=1;"; },
       "Connection refused"},
      {"an option libpq does not know", [](ConnectionParams* p) { p->odbc_extra = "Encrypt=yes;"; },
       "invalid connection option \"Encrypt\""},
  };
  for (const auto& row : rows) {
    ConnectionParams p = server().Params("engine");
    row.edit(&p);
    std::unique_ptr<Connection> c = NewConnection(p);
    EXPECT_FALSE(c->Open().ok() || c->IsOpen()) << row.name;
    ASSERT_EQ(1u, c->Errors().size()) << row.name;
    EXPECT_EQ("08001", c->Errors()[0].sql_state) << row.name;
    EXPECT_NE(std::string::npos, c->Errors()[0].description.find(row.says))
        << row.name << ": " << c->Errors()[0].description;
    // The password never reaches a message.
    EXPECT_EQ(std::string::npos, c->Errors()[0].description.find(p.password)) << row.name;
  }
}

}  // namespace
}  // namespace torvan::sql
