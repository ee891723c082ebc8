// torvan-host's limits: one host port, replies left unread, idle clients, a long "generate".
#include <gtest/gtest.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <thread>

#include "core/text.h"
#include "hostsim/test_support.h"

namespace torvan::hostsim {
namespace {

using namespace std::chrono_literals;
using namespace testing;

constexpr size_t kReplyFrame = 6 + 8192;

// The number in the status line that starts with `key` ("unsent", "connections host").
int64_t StatusNumber(const std::string& dir, const std::string& key) {
  const std::string text = Ctl(dir, {"status"}).text;
  const size_t at = text.find("\n" + key + " ");
  int64_t n = -1;
  if (at != std::string::npos) {
    std::from_chars(text.data() + at + key.size() + 2, text.data() + text.size(), n);
  }
  return n;
}

// The FTP login, then the host program's one listener, started and moved by the remote command.
TEST(HostProgramPortTest, LoginThenOneListenerThatMovesWithTheRemoteCommand) {
  SampleHost sample;
  RunningServer server(sample.path(), [](ServerOptions& o) { o.port = -1; });
  ASSERT_EQ(-1, server.host_port());
  RawClient ftp;
  FtpConnect(ftp, server.ftp_port());
  auto say = [&](const std::string& line) {
    EXPECT_TRUE(ftp.Write(line + "\r\n"));
    return ftp.ReadLine();
  };
  auto rcmd = [&](int port) { return say("RCMD CALL TM/TNM_121 ('P" + ZeroPad(port, 5) + "')"); };
  auto done = [](int port, const std::string& where) {
    return "250 Command CALL TM/TNM_121 ('P" + ZeroPad(port, 5) + "') successful: TNM_121 " +
           where + ".\r\n";
  };
  // The user in any case, the password as typed.
  for (auto [line, reply] : {std::pair{"USER utente", "331 Enter password."},
                             {"PASS SBAGLIATA", "530 Log on attempt by user utente rejected."},
                             {"USER UTENTE", "331 Enter password."},
                             {"PASS TORVAN1", "530 Log on attempt by user UTENTE rejected."},
                             {"USER utente", "331 Enter password."},
                             {"PASS Torvan1", "230 utente logged on."}}) {
    EXPECT_EQ(std::string(reply) + "\r\n", say(line));
  }
  for (const char* other : {"RCMD DLTF DATI/CLIENTI", "RCMD CALL ALTRA/TNM_121 ('P00000')",
                            "RCMD CALL TM/TNM_999 ('P00000')"}) {
    EXPECT_TRUE(say(other).starts_with("550 ")) << other;
  }

  // 'P00000' lets the system choose the port; the reply names it.
  const std::string reply = rcmd(0);
  const int first = server.host_port();
  ASSERT_NE(-1, first);
  EXPECT_EQ(done(0, "started on port " + std::to_string(first)), reply);
  for (int port : {first, 0}) {
    EXPECT_EQ(done(port, "already active on port " + std::to_string(first)), rcmd(port));
  }
  RawClient before_move, old_port, link;
  OpenLink(before_move, first);
  // Torvan's settings name another port: the program moves there, a connection made before
  // the move goes on.
  const int second = hostlink::testing::ClosedPort();
  EXPECT_EQ(done(second, "started on port " + std::to_string(second) + " (no longer on port " +
                             std::to_string(first) + ")"),
            rcmd(second));
  EXPECT_FALSE(old_port.Connect(first));
  OpenLink(link, second);
  for (RawClient* c : {&link, &before_move}) {
    EXPECT_EQ(Header('0', 197), Exchange(*c, '3', "S").substr(0, 6));
  }
  const std::string ports =
      "ftp " + std::to_string(server.ftp_port()) + "\nhost " + std::to_string(second) + "\n";
  EXPECT_EQ(ports, ReadText(sample.path() + "/ports.txt"));

  // Moving back and forth leaves one listener, not one per command.
  auto descriptors = [] {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
  };
  const size_t before = descriptors();
  for (int i = 0; i < 300; ++i)
    ASSERT_TRUE(rcmd(i % 2 == 0 ? first : second).starts_with("250 ")) << i;
  EXPECT_LE(descriptors(), before + 2);

  // A port outside 1024-65535, or one that cannot open (the FTP port), changes nothing.
  for (int port : {1023, 65536}) {
    EXPECT_EQ("550 Command CALL TM/TNM_121 ('P" + ZeroPad(port, 5) + "') not accepted: port " +
                  std::to_string(port) + " outside 1024-65535.\r\n",
              rcmd(port));
  }
  EXPECT_TRUE(rcmd(server.ftp_port()).starts_with("550 "));
  EXPECT_EQ(second, server.host_port());
  EXPECT_EQ("221 QUIT subcommand received.\r\n", say("QUIT"));
  EXPECT_TRUE(ftp.SeesEnd());
}

// Image requests, 27 bytes in and 8,198 out, make a host hoard: PIANTA0003, kind 1, part 1.
const std::string kFirstChunk = "PIANTA000310000100001";
std::string ImageRequests(size_t count) {
  std::string all;
  for (size_t i = 0; i < count; ++i) all += Request('I', kFirstChunk);
  return all;
}

// Clients that do not read are capped, then dropped; one that reads is served meanwhile.
TEST(ReplyCapTest, ClientsThatDoNotReadAreCappedAndTheOthersServed) {
  SampleHost sample;
  constexpr size_t kCap = 256 << 10;
  constexpr size_t kTotal = 512 << 10;
  RunningServer server(sample.path(), [](ServerOptions& o) {
    o.max_unsent = kCap;
    o.max_unsent_total = kTotal;
    o.stall_timeout = 1s;
  });
  // Each asks for about 20 MB, far beyond what the kernel's buffers take.
  RawClient hoarders[3];
  for (RawClient& h : hoarders) {
    OpenLink(h, server.host_port());
    ASSERT_TRUE(h.Write(ImageRequests(2400)));
  }
  ASSERT_TRUE(Eventually([&] { return StatusNumber(sample.path(), "unsent") >= int64_t(kCap); }));
  EXPECT_LE(StatusNumber(sample.path(), "unsent"), int64_t(kTotal + 3 * kReplyFrame));
  RawClient reader;
  OpenLink(reader, server.host_port());
  for (int i = 0; i < 20; ++i) ASSERT_EQ(kReplyFrame, Exchange(reader, 'I', kFirstChunk).size());

  ASSERT_TRUE(Eventually([&] { return StatusNumber(sample.path(), "connections host") == 1; }));
  size_t got = 0;
  for (std::string part; !(part = hoarders[0].ReadSome(Ms(2000))).empty();) got += part.size();
  EXPECT_LT(got, 2400 * kReplyFrame);
  EXPECT_EQ(0, StatusNumber(sample.path(), "unsent"));
  EXPECT_EQ(Header('0', 197), Exchange(reader, '3', "N").substr(0, 6));

  RawClient hoarder;
  OpenLink(hoarder, server.host_port());
  ASSERT_TRUE(hoarder.Write(ImageRequests(2400)));
  ASSERT_TRUE(Eventually([&] { return StatusNumber(sample.path(), "unsent") > 0; }));
  EXPECT_EQ("shutting down\n", Ctl(sample.path(), {"shutdown"}).text);
  server.Stop();
}

// Idle connections end, half requests included; one that asks, or that the server delays, stays.
TEST(IdleTest, IdleConnectionsEndHalfRequestsIncludedAndOneThatAsksStays) {
  SampleHost sample;
  // A second: a client asking every 50 ms stays active on a busy machine too.
  RunningServer server(sample.path(), [](ServerOptions& o) { o.idle_timeout = 1s; });
  RawClient silent, half_frame, idle_ftp, half_line, asking;
  OpenLink(silent, server.host_port());
  OpenLink(half_frame, server.host_port());
  ASSERT_TRUE(
      half_frame.Write(Request('R', " DELETE FROM DATI/CLIENTI a WHERE RRN(a)=1").substr(0, 9)));
  ASSERT_EQ("230 UTENTE logged on.\r\n", FtpLoginReply(idle_ftp, server.ftp_port()));
  FtpConnect(half_line, server.ftp_port());
  ASSERT_TRUE(half_line.Write("USER UTE"));
  OpenLink(asking, server.host_port());
  for (const auto until = std::chrono::steady_clock::now() + 2500ms;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(50ms)) {
    ASSERT_EQ(Header('0', 45), Exchange(asking, 'P', "20261205140509000000").substr(0, 6));
  }
  for (RawClient* ftp : {&idle_ftp, &half_line}) {
    EXPECT_EQ("421 Connection closed: idle time-out.\r\n", ftp->ReadLine());
  }
  for (RawClient* c : {&silent, &half_frame, &idle_ftp}) EXPECT_TRUE(c->SeesEnd());
  // Nothing of the half statement was run.
  const std::string dump = Ctl(sample.path(), {"dump", "DATI/CLIENTI"}).text;
  EXPECT_TRUE(dump.starts_with("1\t")) << dump;
  EXPECT_EQ(1, StatusNumber(sample.path(), "connections host"));
  // The server's own delay is not the client's idleness.
  ASSERT_EQ(0, Ctl(sample.path(), {"fault", "delay", "1500"}).exit_code);
  EXPECT_EQ(Header('0', 45), Exchange(asking, 'P', "20261205140509000000").substr(0, 6));
}

// Others are served while a "generate" queues; a stop ends it. After a restart what it
// queued is there, the change delivered before the stop first: the next S acknowledges it.
TEST(GenerateTest, OthersAreServedMeanwhileAStopEndsItAndARestartKeepsTheQueue) {
  SampleHost sample;
  const std::string dir = sample.path();
  int64_t generated = 0;
  std::string delivered;
  {
    RunningServer server(dir);
    RawClient job, link;  // the request sent by hand, so the test goes on while it works
    ASSERT_TRUE(job.ConnectCtl(dir));
    ASSERT_TRUE(job.Write(EncodeCtlRequest({"generate", "DATI/ARTICOLI", "1000000", "3"})));
    OpenLink(link, server.host_port());
    ASSERT_TRUE(
        Eventually([&] { return (delivered = Exchange(link, 'S', "")) != Header('1', 0); }));
    EXPECT_EQ(0, Ctl(dir, {"insert", "DATI/CLIENTI", "CODCLI=C00100"}).exit_code);
    EXPECT_EQ(0, Ctl(dir, {"clear", "DATI/ARTICOLI"}).exit_code);  // the file changes under it
    EXPECT_EQ("", job.ReadSome(Ms(10)));                           // not answered yet
    EXPECT_EQ("shutting down\n", Ctl(dir, {"shutdown"}).text);
    const std::string answer = job.Read(1 << 20, Ms(10000));
    const std::string prefix = "1\ngenerate interrupted, the server is stopping: ";
    ASSERT_TRUE(answer.starts_with(prefix)) << answer;
    generated = std::atoll(answer.c_str() + prefix.size());
    EXPECT_GT(generated, 0);
    EXPECT_LT(generated, 1000000);
  }
  // The changes, the clear and the insert.
  RunningServer server(dir);
  EXPECT_EQ(std::to_string(generated + 2) + "\n", Ctl(dir, {"queue"}).text);
  RawClient link;
  OpenLink(link, server.host_port());
  EXPECT_EQ(delivered, Exchange(link, 'S', ""));
  EXPECT_EQ(Host("0"), Exchange(link, 'S', "").substr(0, 1));
  EXPECT_EQ(std::to_string(generated + 1) + "\n", Ctl(dir, {"queue"}).text);
}

// A resting listener that cannot be watched again is said once and retried, not left deaf; a
// connection that cannot be watched is closed at once and the next one served.
TEST(EpollFailureTest, AListenerOrAConnectionThatCannotBeWatched) {
  SampleHost sample;
  std::atomic<bool> armed{false};
  std::atomic<int> failures{2}, listener_adds{0}, rests{0};
  ::testing::internal::CaptureStderr();
  {
    RunningServer server(sample.path(), [&](ServerOptions& o) {
      o.fd_ceiling = 1;
      o.epoll_ctl = [&](int epfd, int op, int fd, epoll_event* ev) {
        if (armed && op == EPOLL_CTL_DEL) ++rests;
        if (armed && op == EPOLL_CTL_ADD && ev->events == EPOLLIN) {
          ++listener_adds;
          if (failures-- > 0) return errno = ENOMEM, -1;
        }
        return ::epoll_ctl(epfd, op, fd, ev);
      };
    });
    armed = true;
    RawClient refused, again;
    refused.Connect(server.host_port());
    EXPECT_TRUE(Eventually([&] { return listener_adds >= 3; }, 3s));
    const int rested = rests;
    again.Connect(server.host_port());  // heard and refused again: the listener is not deaf
    EXPECT_TRUE(Eventually([&] { return rests > rested; }, 3s));
  }
  armed = false;
  failures = 1;
  {
    RunningServer server(sample.path(), [&](ServerOptions& o) {
      o.epoll_ctl = [&](int epfd, int op, int fd, epoll_event* ev) {
        if (armed && op == EPOLL_CTL_ADD && ev->events != EPOLLIN && failures-- > 0) {
          return errno = ENOSPC, -1;
        }
        return ::epoll_ctl(epfd, op, fd, ev);
      };
    });
    armed = true;
    RawClient first, second;
    ASSERT_TRUE(first.Connect(server.host_port()));
    EXPECT_EQ("", first.Read(6));  // closed at once
    OpenLink(second, server.host_port());
  }
  const std::string log = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(1u, Count(log, "does not take connections yet")) << log;
  EXPECT_TRUE(Has(log,
                  "epoll_ctl: No space left on device: connections are closed until it "
                  "works again"));
}

}  // namespace
}  // namespace torvan::hostsim
