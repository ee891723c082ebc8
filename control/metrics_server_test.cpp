// The metrics server on Qt's loop against blocking clients; the service that runs it.
#include "control/metrics_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <future>
#include <thread>

#include "control/metrics_text.h"
#include "control/status_service.h"
#include "control/status_test_util.h"
#include "core/statistics.h"
#include "hostlink/test_peer.h"
#include "links/runtime_test_util.h"
#include "platform/file.h"

namespace torvan {
namespace {

using std::chrono::milliseconds;

void StartQtApp() {
  static int argc = 1;
  static char name[] = "metrics_server_test";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
}

// Runs `client` on another thread and lets the loop run until it is done.
template <typename F>
auto WhileServing(F client) {
  auto done = std::async(std::launch::async, client);
  while (done.wait_for(milliseconds(0)) != std::future_status::ready) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(milliseconds(1));
  }
  return done.get();
}

void Serve(milliseconds d) {
  WhileServing([d] { std::this_thread::sleep_for(d); });
}

std::string Ask(uint16_t port, const std::string& request) {
  return WhileServing([port, request] { return AskLocal(port, request); });
}

class MetricsServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartQtApp(); }
  int calls_ = 0;
};

TEST_F(MetricsServerTest, AnswersGetMetricsAndNothingElse) {
  const std::string body = "# HELP torvan_x x\n# TYPE torvan_x gauge\ntorvan_x 1\n";
  MetricsServer server([this, body] {
    ++calls_;
    return body;
  });
  ASSERT_TRUE(server.Listen(0).ok());
  const uint16_t port = server.port();
  ASSERT_NE(0, port);
  const std::string ok =
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"
      "Content-Length: 51\r\nConnection: close\r\n\r\n" +
      body;
  const std::string not_found =
      "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\n"
      "Content-Length: 12\r\nConnection: close\r\n\r\nnon trovato\n";
  const struct {
    const char* meaning;
    std::string request;
    std::string answer;
  } rows[] = {
      {"what Prometheus sends",
       "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/plain\r\n\r\n", ok},
      {"a query string, bare line feeds, HTTP/1.0", "GET /metrics?name[]=x HTTP/1.0\n\n", ok},
      {"a longer path", "GET /metricsx HTTP/1.1\r\n\r\n", not_found},
      {"another method", "POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", not_found},
      {"not HTTP", "GET /metrics\r\n\r\n", not_found},
      {"garbage", std::string("\x16\x03\x01\x02\x00\n\n", 7), not_found},
      {"a header that never ends", "GET /metrics HTTP/1.1\r\nX: " + std::string(9000, 'x'),
       "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain; charset=utf-8\r\n"
       "Content-Length: 23\r\nConnection: close\r\n\r\nrichiesta troppo lunga\n"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.answer, Ask(port, row.request)) << row.meaning;
  }
  EXPECT_EQ(2, calls_);
  Serve(milliseconds(50));
  EXPECT_EQ(0, server.connections());
}

// A connection beyond the limit is closed as it arrives, without an answer.
TEST_F(MetricsServerTest, ConnectionsBeyondTheLimitAreClosed) {
  MetricsLimits limits;
  limits.max_connections = 2;
  MetricsServer server([] { return std::string("torvan_x 1\n"); }, limits);
  ASSERT_TRUE(server.Listen(0).ok());
  const int a = ConnectLocal(server.port(), 5), b = ConnectLocal(server.port(), 5);
  while (server.connections() < 2) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_EQ("", Ask(server.port(), "GET /metrics HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(2, server.connections());
  ::close(a);
  ::close(b);
}

// The service a front end runs: the status file always, the metrics when the settings ask.

class StatusServiceTest : public testing::RuntimeTest {
 protected:
  static void SetUpTestSuite() { StartQtApp(); }
};

TEST_F(StatusServiceTest, MetricheServesTheWritersFiguresOrSaysWhyNot) {
  {
    StatusService service(rt_, "finestra");  // Metriche 0: the status file only
    ASSERT_TRUE(service.Start(timers_).ok());
    EXPECT_EQ(0, service.metrics_port());
    EXPECT_TRUE(platform::FileExists(program_.paths.status));
    EXPECT_TRUE(lines_.empty());
  }
  MetricsServer taken([] { return std::string(); });
  ASSERT_TRUE(taken.Listen(0).ok());
  program_.settings.Metriche = taken.port();
  {
    StatusService service(rt_, "torvan run");
    ASSERT_TRUE(service.Start(timers_).ok());  // replication goes on without metrics
    EXPECT_EQ(0, service.metrics_port());
    ASSERT_EQ(1u, lines_.size());
    EXPECT_EQ(0u, lines_[0].find("ERRORE nell'avvio del server delle metriche su 127.0.0.1:" +
                                 std::to_string(taken.port()) + ": "))
        << lines_[0];
  }
  lines_.clear();
  const uint16_t port = uint16_t(hostlink::testing::ClosedPort());
  program_.settings.Metriche = port;
  program_.state.Stato_Sincronismo = StatoSincronismo::kSospeso;
  StatusService service(rt_, "torvan run");
  ASSERT_TRUE(service.Start(timers_).ok());
  EXPECT_EQ(port, service.metrics_port());
  EXPECT_EQ(std::vector<std::string>(
                {"Metriche su http://127.0.0.1:" + std::to_string(port) + "/metrics"}),
            lines_);
  const std::string answer = Ask(port, "GET /metrics HTTP/1.1\r\n\r\n");
  EXPECT_EQ(1, Samples(HttpBody(answer))["torvan_replication_state{state=\"suspended\"}"])
      << answer;
  service.Stop();
  EXPECT_EQ(0, service.metrics_port());
  EXPECT_EQ("connect failed", Ask(port, "GET /metrics HTTP/1.1\r\n\r\n"));
}

// Under systemd (Type=notify): STATUS= at every update, READY=1 once active, STOPPING=1.
TEST_F(StatusServiceTest, TheServiceManagerIsToldWhatTorvanDoesAndWhenItIsReady) {
  const std::string path = folder_.path() + "/notify";
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
  ASSERT_EQ(0, ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a));
  auto next = [fd] {
    char buf[1024];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    return n < 0 ? std::string("(none)") : std::string(buf, size_t(n));
  };
  StatusService service(rt_, "torvan run");
  service.notifier = platform::ServiceNotifier(path);
  ASSERT_TRUE(service.Start(timers_).ok());
  EXPECT_EQ("STATUS=Sincronismo spento; collegamento host chiuso, SQL chiuso\n", next());
  program_.state.Attivita = "Collegamento al Server 127.0.0.1 (3/20)";
  timers_.AdvanceBy(milliseconds(1000));
  EXPECT_EQ("STATUS=Collegamento al Server 127.0.0.1 (3/20)\n", next());
  timers_.AdvanceBy(milliseconds(1000));
  EXPECT_EQ("(none)", next());  // nothing new, nothing sent
  program_.state.Attivita.clear();
  program_.state.LinkUp = program_.state.Collegato_SQL = true;
  program_.state.Stato_Sincronismo = StatoSincronismo::kAttivo;
  timers_.AdvanceBy(milliseconds(1000));
  EXPECT_EQ("READY=1\nSTATUS=Replica attiva: ricevuti 0, inviati 0\n", next());
  program_.stats.Stat_Contatori[kRecordsReceived] = 3;
  timers_.AdvanceBy(milliseconds(1000));
  EXPECT_EQ("STATUS=Replica attiva: ricevuti 3, inviati 0\n", next());
  service.Stop();
  EXPECT_EQ("STOPPING=1\nSTATUS=Chiusura dei collegamenti\n", next());
  ::close(fd);
}

}  // namespace
}  // namespace torvan
