// The ODBC engine: drivers by name, failed connections, the SQL Server path on SQLite's driver.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "sql/connection.h"
#include "sql/odbc_pieces.h"
#include "sql/test_support.h"

namespace torvan::sql {
namespace {

using testing::Rows;
using Table = std::vector<std::vector<std::string>>;

// Drivers registered by name in the test's own odbcinst.ini (unixODBC reads it once a process).
class OdbcIni : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<testing::TempDir>();
    std::ofstream ini(dir_->path() + "/odbcinst.ini");
    if (!std::string(TORVAN_SQLITE_ODBC_DRIVER).empty()) {
      ini << "[Torvan SQLite]\nDriver=" << TORVAN_SQLITE_ODBC_DRIVER << "\n";
    }
    if (!std::string(TORVAN_FREETDS_ODBC_DRIVER).empty()) {
      ini << "[FreeTDS]\nDriver=" << TORVAN_FREETDS_ODBC_DRIVER << "\n";
    }
    ini.close();
    setenv("ODBCSYSINI", dir_->path().c_str(), 1);
    setenv("ODBCINSTINI", "odbcinst.ini", 1);
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<testing::TempDir> dir_;
};

[[maybe_unused]] ::testing::Environment* const kOdbcIni =
    ::testing::AddGlobalTestEnvironment(new OdbcIni);

class OdbcDrivers : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(TORVAN_SQLITE_ODBC_DRIVER).empty()) GTEST_SKIP() << "no SQLite ODBC driver";
  }

  ConnectionParams Params(const std::string& driver) {
    ConnectionParams p = testing::ParamsFor(testing::Path::kOdbcDriver, dir_.path());
    p.odbc_driver = driver;
    p.server = "127.0.0.1";
    p.user = "sa";
    return p;
  }

  testing::TempDir dir_;
};

TEST_F(OdbcDrivers, AMissingDriverIsReported) {
  SqlSettings settings;  // the defaults: neither driver is installed here
  for (bool native : {true, false}) {
    if (!native && !std::string(TORVAN_FREETDS_ODBC_DRIVER).empty()) continue;
    std::unique_ptr<Connection> c = NewConnection(Params(OdbcDriverFor(settings, native)));
    EXPECT_EQ(c->dialect(), Dialect::kSqlServer);
    EXPECT_FALSE(c->Open().ok());
    ASSERT_FALSE(c->Errors().empty());
    EXPECT_NE(c->Errors()[0].description.find(OdbcDriverFor(settings, native)), std::string::npos)
        << testing::ErrorsText(*c);
  }
}

TEST_F(OdbcDrivers, AServerThatDoesNotAnswerIsReportedFromTheDiagnostics) {
  if (std::string(TORVAN_FREETDS_ODBC_DRIVER).empty()) GTEST_SKIP() << "no FreeTDS driver";
  // A port where nothing listens: bound, never listened on, so connections are refused.
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ConnectionParams p = Params("FreeTDS");
  p.password = "segreto";
  p.login_timeout_seconds = 2;
  p.odbc_extra = "Port=" + std::to_string(ntohs(a.sin_port)) + ";";
  std::unique_ptr<Connection> c = NewConnection(p);
  EXPECT_FALSE(c->Open().ok() || c->IsOpen());
  close(fd);
  ASSERT_FALSE(c->Errors().empty());
  // The driver's own failure, whatever its text says: no SQL Server number.
  const SqlError& e = c->Errors()[0];
  EXPECT_EQ(std::tuple(e.sql_state.substr(0, 2), e.source, e.origin),
            std::tuple("08", "FreeTDS", ErrorOrigin::kOdbc))
      << testing::ErrorsText(*c);
  EXPECT_FALSE(c->Execute("SELECT 1").ok());
  EXPECT_EQ(c->Errors()[0].sql_state, "08003");
}

// A driver registered by name: without pass-through it runs the dialect (its statements: the
// connection tests); with it, texts go unchanged, SQLite's driver standing in for the server.
TEST_F(OdbcDrivers, PassThroughSendsTextsUnchanged) {
  ConnectionParams p = Params("Torvan SQLite");
  EXPECT_EQ(NewConnection(p)->dialect(), Dialect::kSqlite);
  p.odbc_pass_through = true;
  std::unique_ptr<Connection> c = NewConnection(p);
  ASSERT_TRUE(c->Open().ok()) << testing::ErrorsText(*c);
  ASSERT_TRUE(c->Execute("CREATE TABLE Prezzi (cod TEXT, prezzo NUMERIC(9,2), nota TEXT)").ok())
      << testing::ErrorsText(*c);
  // Schema statements are SQLite's there too, and go unchanged.
  EXPECT_EQ(c->dialect(), Dialect::kSqlite);
  ASSERT_TRUE(c->ExecuteNative("CREATE INDEX \"Prezzi/X\" ON Prezzi (cod)").ok())
      << testing::ErrorsText(*c);
  ASSERT_TRUE(c->Execute("INSERT INTO Prezzi VALUES ('B', 0.5, NULL), ('A', 12, 'caf\xE8')").ok())
      << testing::ErrorsText(*c);
  std::unique_ptr<Recordset> r;
  ASSERT_TRUE(c->OpenRecordset("SELECT cod, prezzo, nota FROM Prezzi ORDER BY cod", &r).ok())
      << testing::ErrorsText(*c);
  ASSERT_EQ(r->FieldCount(), 3);
  EXPECT_EQ(r->FieldName(1), "prezzo");
  ASSERT_FALSE(r->Eof());
  EXPECT_EQ(r->Find("COD")->text, "A");  // names in any case
  r.reset();
  EXPECT_EQ(Rows(c.get(), "SELECT cod, prezzo, nota FROM Prezzi ORDER BY cod"),
            (Table{{"A", "12", "caf\xE8"}, {"B", "0.5", "NULL"}}));
  EXPECT_TRUE(std::filesystem::exists(dir_.path() + "/Torvan.sqlite"));

  std::vector<std::string> tables;
  ASSERT_TRUE(c->ListTables(&tables).ok()) << testing::ErrorsText(*c);
  EXPECT_EQ(tables, std::vector<std::string>{"Prezzi"});

  EXPECT_FALSE(c->Execute("SELEC nonsense").ok());
  ASSERT_FALSE(c->Errors().empty());
  EXPECT_NE(c->Errors()[0].description.find("syntax error"), std::string::npos)
      << testing::ErrorsText(*c);
  EXPECT_EQ(c->Errors()[0].origin, ErrorOrigin::kOdbc);
  EXPECT_FALSE(c->OpenRecordset("DELETE FROM Prezzi", &r).ok());

  ASSERT_TRUE(c->OpenRecordset("SELECT cod FROM Prezzi", &r).ok());
  c->Close();
  EXPECT_TRUE(r->Eof());
}

// A value read piece by piece is whole or failed, never cut.
TEST(OdbcPieces, AValueIsReadWholeOrFails) {
  struct Piece {
    SQLRETURN rc;
    SQLLEN length;  // what the driver reports
    size_t fill;    // bytes it writes before its terminator
  };
  constexpr SQLLEN kFull = 1024;  // 512 characters of 2 bytes: the helper's piece
  constexpr SQLRETURN kInfo = SQL_SUCCESS_WITH_INFO, kOk = SQL_SUCCESS;
  using R = PieceRead;
  const struct {
    const char* meaning;
    std::vector<Piece> pieces;
    PieceRead expected;
    size_t characters;  // of a value read
  } rows[] = {
      {"short", {{kOk, 10, 10}}, R::kValue, 5},
      {"empty", {{kOk, 0, 0}}, R::kValue, 0},
      {"null", {{kOk, SQL_NULL_DATA, 0}}, R::kNull, 0},
      {"two pieces, the length told", {{kInfo, 1100, 1022}, {kOk, 78, 78}}, R::kValue, 511 + 39},
      {"two pieces, no total", {{kInfo, SQL_NO_TOTAL, 1022}, {kOk, 4, 4}}, R::kValue, 513},
      {"the second piece fails", {{kInfo, 1100, 1022}, {SQL_ERROR, 0, 0}}, R::kFailed, 511},
      {"a full piece said complete", {{kOk, kFull, 1022}}, R::kFailed, 0},
      {"no total said complete", {{kOk, SQL_NO_TOTAL, 1022}}, R::kFailed, 0},
      {"a length below zero", {{kInfo, -7, 0}}, R::kFailed, 0},
      {"null after", {{kInfo, SQL_NO_TOTAL, 1022}, {kOk, SQL_NULL_DATA, 0}}, R::kFailed, 511},
      {"no data after", {{kInfo, SQL_NO_TOTAL, 1022}, {SQL_NO_DATA, 0, 0}}, R::kValue, 511},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.meaning);
    size_t call = 0;
    std::u16string out;
    const PieceRead read = ReadPieces<char16_t>(
        [&](char16_t* buffer, SQLLEN bytes, SQLLEN* length) -> SQLRETURN {
          EXPECT_EQ(kFull, bytes);
          if (call >= row.pieces.size()) return SQL_ERROR;
          const Piece& p = row.pieces[call++];
          for (size_t i = 0; i < p.fill / 2; ++i) buffer[i] = u'x';
          buffer[p.fill / 2] = 0;
          *length = p.length;
          return p.rc;
        },
        &out);
    EXPECT_EQ(row.expected, read);
    EXPECT_EQ(row.expected == PieceRead::kValue ? row.characters : out.size(), out.size());
  }
}

}  // namespace
}  // namespace torvan::sql
