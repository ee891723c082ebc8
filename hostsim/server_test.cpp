// torvan-host over real sockets: control commands, faults and bad clients.
#include "hostsim/server.h"

#include <gtest/gtest.h>

#include <sstream>

#include "hostsim/test_support.h"

namespace torvan::hostsim {
namespace {

using namespace testing;

class Served : public ::testing::Test {
 protected:
  // A control command given as one line of words.
  CtlResult Ctl(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> args;
    for (std::string word; in >> word;) args.push_back(word);
    return testing::Ctl(sample.path(), args);
  }
  SampleHost sample;
  RunningServer server{sample.path()};
};

// One refusal of each kind; the schedule's are times that cannot be.
TEST_F(Served, ControlCommandsRefuseBadInputAndChangeNothing) {
  const std::string before = Ctl("dump DATI/CLIENTI").text;
  const char* const bad[] = {"insert DATI/NESSUNO A=1",
                             "insert DATI/CLIENTI COLORE=rosso",
                             "insert DATI/CLIENTI FIDO=1234567890",
                             "insert DATI/CLIENTI senza-uguale",
                             "update DATI/CLIENTI 99 ATTIVO=N",
                             "update DATI/CLIENTI x ATTIVO=N",
                             "update DATI/CLIENTI 1",
                             "update DATI/CLIENTI 1 ATTIVO=N FIDO=x",
                             "delete DATI/CLIENTI 1 2",
                             "clear DATI/CLIENTI subito",
                             "refresh DATI/NESSUNO",
                             "schedule 2026120522",
                             "schedule 20261205220000 domani",
                             "schedule 20261305220000 20261206063000",
                             "schedule 20261205246000 20261206063000",
                             "stopping forse",
                             "fault meteor",
                             "fault delay -5",
                             "fault refuse Q 1",
                             "queue now",
                             "dump",
                             "frobnicate"};
  for (const char* line : bad) {
    const CtlResult r = Ctl(line);
    EXPECT_EQ(2, r.exit_code) << line;
    EXPECT_FALSE(r.text.empty()) << line;
  }
  EXPECT_EQ("generate takes LIB/FILE N [SEED], N from 1 to 1000000\n",
            Ctl("generate DATI/ARTICOLI 1000001").text);
  EXPECT_EQ(before, Ctl("dump DATI/CLIENTI").text);
  EXPECT_EQ("0\n", Ctl("queue").text);
  // A refresh queues a clear and every record as it stands.
  EXPECT_EQ("queued DATI/CLIENTI: a clear and 5 records\n", Ctl("refresh DATI/CLIENTI").text);
  EXPECT_EQ("6\n", Ctl("queue").text);
  EXPECT_EQ(before, Ctl("dump DATI/CLIENTI").text);
}

// The reply shapes' pieces, timing and order are ReplyQueueTest's; here what faults do to
// the bytes and the connection.
TEST_F(Served, SplitCorruptLengthRefuseRefusedLoginAndCloseAfter) {
  RawClient link;
  OpenLink(link, server.host_port());
  const std::string normal = Exchange(link, '3', "S");
  ASSERT_EQ(203u, normal.size());

  // A split reply comes whole, whatever the pieces (their gaps are too short to tell here).
  ASSERT_EQ(0, Ctl("fault split 50").exit_code);
  EXPECT_EQ(normal, Exchange(link, '3', "S"));
  ASSERT_EQ(0, Ctl("fault split 0").exit_code);

  ASSERT_EQ(0, Ctl("fault corrupt-length").exit_code);
  link.Write(Request('3', "S"));
  const std::string header = link.Read(6);
  int32_t length = 0;
  EXPECT_EQ(Host("0"), header.substr(0, 1));
  EXPECT_FALSE(hostlink::ParseZonedLength(header.substr(1), &length).ok());
  EXPECT_EQ(normal.substr(6), link.Read(197));

  // Refusals of one code, as many as asked.
  ASSERT_EQ(0, Ctl("insert DATI/CLIENTI CODCLI=X").exit_code);
  ASSERT_EQ(0, Ctl("fault refuse S 1").exit_code);
  EXPECT_EQ(Header('1', 0), Exchange(link, 'S', ""));
  EXPECT_EQ(Host("0"), Exchange(link, 'S', "").substr(0, 1));

  // A refused login rejects the right password, once.
  ASSERT_EQ(0, Ctl("fault refuse-login 1").exit_code);
  for (const char* expected : {"530 ", "230 "}) {
    RawClient ftp;
    EXPECT_TRUE(FtpLoginReply(ftp, server.ftp_port()).starts_with(expected)) << expected;
  }

  const std::string report = Ctl("faults").text;
  for (const char* line : {"split\t0\tapplied 1\n", "corrupt-length\toff\tapplied 1\n",
                           "refuse S\t0\tapplied 1\n", "refuse-login\t0\tapplied 1\n"}) {
    EXPECT_TRUE(Has(report, line)) << line << report;
  }

  // The connection closed after 9 bytes of the next reply, for that reply only.
  ASSERT_EQ(0, Ctl("fault close-after 9").exit_code);
  link.Write(Request('P', "20261205140509000000"));
  EXPECT_EQ(Header('0', 45) + Host("202"), link.Read(100));
  EXPECT_TRUE(link.SeesEnd());
  OpenLink(link, server.host_port());
  EXPECT_EQ(51u, Exchange(link, 'P', "20261205140509000000").size());
}

// Garbage is refused and closed, an unknown code refused and its data skipped; clients that
// vanish mid-frame, or a control client that sends no request, leave the server serving.
TEST_F(Served, GarbageAndVanishingClientsLeaveTheServerServingAndASecondIsRefused) {
  RawClient garbage, unknown;
  OpenLink(garbage, server.host_port());
  garbage.Write("\x01\x02\x03\x04\x05\x06\x07\x08");
  EXPECT_EQ(Header('1', 0), garbage.Read(6));
  EXPECT_TRUE(garbage.SeesEnd());
  OpenLink(unknown, server.host_port());
  EXPECT_EQ(Header('1', 0), Exchange(unknown, 'Z', "ab"));
  EXPECT_EQ(Header('0', 197), Exchange(unknown, '3', "S").substr(0, 6));
  for (const std::string& bytes :  // half a frame; one that announces more than it sends
       {Request('R', " DELETE FROM DATI/CLIENTI a WHERE RRN(a)=1").substr(0, 20),
        Host("R99999") + std::string(1000, '\x40')}) {
    RawClient vanishing;
    OpenLink(vanishing, server.host_port());
    vanishing.Write(bytes);
  }
  CtlResult r;
  EXPECT_TRUE(CtlCall(sample.path(), {}, 2000, &r).ok());
  EXPECT_EQ(2, r.exit_code);
  RawClient good;
  OpenLink(good, server.host_port());
  EXPECT_EQ(Header('0', 197), Exchange(good, '3', "S").substr(0, 6));
  const std::string dump = Ctl("dump DATI/CLIENTI").text;
  EXPECT_EQ(5, std::count(dump.begin(), dump.end(), '\n'));
  std::string notes;
  const Status s = Server(LoopbackOptions(sample.path())).Start(&notes);
  EXPECT_TRUE(Has(s.message(), "another torvan-host")) << s.message();
}

}  // namespace
}  // namespace torvan::hostsim
