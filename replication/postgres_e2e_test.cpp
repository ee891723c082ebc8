// Replication end to end on a PostgreSQL server: the faults only a server has, each followed
// by a comparison of host and mirror that finds any change lost or applied twice.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/text.h"
#include "replication/replication_e2e_test.h"
#include "sql/postgres_test_server.h"

namespace torvan::testing {
namespace {

using sql::testing::PostgresServer;

class PostgresEndToEnd : public EndToEndTest {
 protected:
  PostgresEndToEnd() : EndToEndTest(true) {}
  static PostgresServer& server() { return PostgresServer::Shared(); }
  // Both steps `n` times, whatever they answer.
  void Passes(int n) {
    for (int i = 0; i < n; ++i) {
      (void)to_sql_->Server_SQL_Sincro();
      (void)to_host_->Server_SQL_Ritorno();
    }
  }
};

// A database missing on a reachable server: links/sql_control_test.cpp (the start stops at
// the failing database) and sql/postgres_test.cpp (what libpq says).
TEST_F(PostgresEndToEnd, AServerDownAtLinkStartIsSaidAndTriedAgain) {
  (void)Server_SQL_Stop_(rt_);
  ASSERT_TRUE(server().Stop(PostgresServer::StopMode::kFast));
  lines_.clear();
  EXPECT_FALSE(Server_SQL_Start_(rt_));
  EXPECT_EQ(1, Count("  Provenienza  : PostgreSQL (SQLSTATE di PostgreSQL)"));
  EXPECT_EQ(1, Count("  Stato SQL    : 08001"));
  EXPECT_EQ(1, Count("Totale errori  : 1"));
  EXPECT_TRUE(HasLineStarting("  Descrizione  : connection to server at \"127.0.0.1\""));
  ASSERT_TRUE(server().Start());
  EXPECT_TRUE(Server_SQL_Start_(rt_));
}

// ---- Faults only a server has ----------------------------------------------------------

// A stop (fast, immediate) or Torvan's sessions terminated, while the host's changes drain or
// while events return; or a row lock held for 20 s.
struct ServerFault {
  const char* name;
  bool in_return;
  const char* how;  // "fast", "immediate", "terminate", "lock"
};

class PostgresFaultTable : public PostgresEndToEnd,
                           public ::testing::WithParamInterface<ServerFault> {};

TEST_P(PostgresFaultTable, NothingIsLostAndNothingAppliedTwice) {
  const bool in_return = GetParam().in_return;
  const std::string how = GetParam().how;
  // Rows on both sides to start with; then a backlog on the side the fault meets, drained
  // in small batches so that the fault meets it partway.
  program_.settings.Lotto_Modifiche = in_return ? 2 : 5;
  Ctl({"generate", "DATI/CLIENTI", "20", "1"});
  Drain();
  if (in_return) {
    for (int i = 1; i <= 20; ++i) {
      Pc("INSERT INTO \"CONTATTI\" (\"CODCLI\",\"VALORE\") VALUES ('P" + std::to_string(i) + "'," +
         std::to_string(i) + ".125)");
    }
    Pc("UPDATE \"CONTATTI\" SET \"NOTA\"='cambiata' WHERE \"CODCLI\" IN ('P1','P2')");
  } else {
    Ctl({"generate", "DATI/CLIENTI", "40", "2"});
    Ctl({"generate", "DATI/ORDINI", "40", "3"});
  }
  std::atomic<bool> released{false};
  std::thread holder;
  if (how == "lock") {
    // Another session holds every row of CLIENTI for 20 s.
    holder = std::thread([&] {
      const std::string info = "host=" + server().folder() +
                               " port=" + std::to_string(server().port()) +
                               " user=torvan dbname=GESTIONALE";
      PGconn* c = PQconnectdb(info.c_str());
      PQclear(PQexec(c, "BEGIN"));
      PQclear(PQexec(c, "SELECT * FROM \"CLIENTI\" FOR UPDATE"));
      std::this_thread::sleep_for(std::chrono::seconds(20));
      PQclear(PQexec(c, "COMMIT"));
      PQfinish(c);
      released = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    while (!released) Passes(1);
    holder.join();
    EXPECT_TRUE(HasLineStarting("[Server_SQL_Sincro] In attesa del lock su GESTIONALE/CLIENTI"));
  } else {
    Passes(5);  // partway: work is left on the side the fault meets
    if (in_return) {
      EXPECT_NE(Table({{"0"}}), Rows("SELECT COUNT(*) FROM [_T_MASTER___]"));
    } else {
      EXPECT_NE("0\n", Ctl({"queue"}));
    }
    if (how == "terminate") {
      ASSERT_TRUE(server().Admin(
          "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = "
          "'Torvan'"));
    } else {
      ASSERT_TRUE(server().Stop(how == "fast" ? PostgresServer::StopMode::kFast
                                              : PostgresServer::StopMode::kImmediate));
    }
    Passes(3);  // with the server gone: every step fails, and returns
    if (how != "terminate") {
      ASSERT_TRUE(server().Start());
    }
    Passes(1);
    // The link was lost, and the step opened it again by itself.
    EXPECT_TRUE(HasLineStarting("   DataBase GESTIONALE ricollegato") ||
                HasLineStarting("   DataBase SQLSRV01/GESTIONALE ricollegato"));
  }
  Drain();
  EXPECT_EQ("0\n", Ctl({"queue"}));
  EXPECT_EQ(Table({{"0"}}), Rows("SELECT COUNT(*) FROM [_T_MASTER___]"));
  if (in_return) {
    EXPECT_EQ(22, HostRequests('R'));
  }
  EXPECT_EQ(Lines{}, Differences());
}

INSTANTIATE_TEST_SUITE_P(Server, PostgresFaultTable,
                         ::testing::Values(ServerFault{"StopFastInDrain", false, "fast"},
                                           ServerFault{"StopImmediateInDrain", false, "immediate"},
                                           ServerFault{"StopFastInReturn", true, "fast"},
                                           ServerFault{"StopImmediateInReturn", true, "immediate"},
                                           ServerFault{"TerminatedInDrain", false, "terminate"},
                                           ServerFault{"TerminatedInReturn", true, "terminate"},
                                           ServerFault{"RowLockHeld20s", false, "lock"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace torvan::testing
