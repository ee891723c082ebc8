// Torvan's own link code (hostlink) against torvan-host: the FTP remote command, the
// greeting, and the requests of every kind, read back the way Torvan reads them.
#include <gtest/gtest.h>

#include "core/program.h"
#include "core/text.h"
#include "hostlink/exchange.h"
#include "hostlink/ftp.h"
#include "hostlink/socket_layer.h"
#include "hostlink/test_peer.h"
#include "hostsim/test_support.h"
#include "platform/fakes.h"
#include "platform/file.h"

namespace torvan::hostsim {
namespace {

using hostlink::SocketLayer;
constexpr int kSlot = SocketLayer::kLinkSlot;

class TorvanLinkTest : public ::testing::Test {
 protected:
  TorvanLinkTest() {
    program_.settings.parametri.Attesa_Sincronizz = 2;
    SocketLayer::PollLimits limits;
    limits.read = 1000;  // 2 s: every wait bounded
    limits.line_wait = 200;
    limits.line_no_wait = 3;
    socket_.SetPollLimitsForTesting(limits);
    EXPECT_TRUE(socket_.Sock_Start(DefaultTablePath()));
    program_.log.on_status_line = [this](std::string_view line) {
      messages_.emplace_back(line.substr(line.find(" - ") + 3));
    };
  }

  // Starts TNM_121 through the FTP remote command, connects, takes the greeting.
  void OpenLink() {
    const int port = hostlink::testing::ClosedPort();
    std::string message;
    const std::string command = "CALL TM/TNM_121 ('P" + ZeroPad(port, 5) + "')";
    ASSERT_TRUE(hostlink::Ftp_RemoteCommand(socket_, kSlot, "127.0.0.1", server_.ftp_port(),
                                            "utente", "Torvan1", command, &message))
        << message;
    ASSERT_EQ(port, server_.host_port());
    std::string address;
    ASSERT_TRUE(socket_.Sock_Connect(kSlot, "127.0.0.1", port, &address));
    ASSERT_TRUE(hostlink::ReadGreeting(socket_, counter_));
  }

  hostlink::ExchangeReply Exchange(char code, const std::string& data) {
    return hostlink::Exchange(socket_, program_, "Test", code, data, counter_);
  }

  std::string Text(char type, int32_t start, int32_t length, int32_t decimals = 0) {
    hostlink::FieldText t = socket_.Field_Decode(type, start, length, length, decimals);
    EXPECT_TRUE(t.ok()) << t.status.message();
    return t.text;
  }

  testing::SampleHost sample_;
  testing::RunningServer server_{sample_.path(), /*host_port_at_once=*/false};
  testing::TempDir pc_;
  platform::FakeClock clock_;
  platform::FakePump pump_;
  Program program_{Paths::InFolder(pc_.path()), &clock_, &pump_};
  SocketLayer socket_{program_};
  int32_t counter_ = 0;
  std::vector<std::string> messages_;
};

TEST_F(TorvanLinkTest, CatalogueTimeChangesImagesStatementsFaultsAndANewPort) {
  OpenLink();

  ASSERT_EQ(
      0, testing::Ctl(sample_.path(), {"schedule", "20261205220000", "20261206063000"}).exit_code);
  ASSERT_TRUE(Exchange('P', "20261205140509000000").served());
  EXPECT_EQ("20261205220000", Text('A', 1, 14));
  EXPECT_EQ("20261206063000", Text('A', 15, 14));
  ASSERT_EQ(0, testing::Ctl(sample_.path(), {"stopping", "on"}).exit_code);
  ASSERT_TRUE(Exchange('T', "20261205140509000000").served());
  EXPECT_EQ("S", Text('A', 1, 1));
  EXPECT_EQ("stop 20261205220000\nrestart 20261206063000\nstopping on\n",
            testing::Ctl(sample_.path(), {"schedule"}).text);

  ASSERT_TRUE(Exchange('3', "S").served());
  EXPECT_EQ("GESTIONALE          ", Text('A', 2, 20));
  ASSERT_TRUE(Exchange('2', "SDATI      ORDINI    ").served());
  EXPECT_EQ("NUMORD    ", Text('A', 22, 10));
  EXPECT_EQ("00009 ", Text('P', 83, 3));  // digits, packed as Torvan reads it

  ASSERT_EQ(0, testing::Ctl(sample_.path(), {"insert", "DATI/ORDINI", "NUMORD=250009",
                                             "CODCLI=C00002", "IMPORTO=-12345678901234.567"})
                   .exit_code);
  hostlink::ExchangeReply change = Exchange('S', "");
  ASSERT_TRUE(change.served());
  EXPECT_EQ(58 + 2 * 50, change.length);
  EXPECT_EQ("7", Text('B', 17, 4));  // RRN after the six sample records
  EXPECT_EQ("ORDINI    ", Text('A', 21, 10));
  EXPECT_EQ("DATI      ", Text('A', 31, 10));
  EXPECT_EQ("1", Text('A', 55, 1));
  const int32_t after_base = std::stoi(Text('B', 5, 4)) + 58;
  EXPECT_EQ("250009", Text('B', after_base + 1, 4));
  EXPECT_EQ("C00002", Text('A', after_base + 16, 6));
  hostlink::FieldText amount = socket_.Field_DecodeAmount(after_base + 41);
  ASSERT_TRUE(amount.ok());
  EXPECT_EQ("-12345678901234.567 ", amount.text);
  EXPECT_FALSE(Exchange('S', "").served());
  EXPECT_EQ("0\n", testing::Ctl(sample_.path(), {"queue"}).text);

  std::string image;
  ASSERT_TRUE(platform::ReadFile(sample_.path() + "/images/PIANTA0003.00001", &image).ok());
  std::string fetched;
  for (int chunk = 1;; ++chunk) {
    hostlink::ExchangeReply r =
        Exchange('I', "PIANTA0003" + std::string("1") + "00001" + ZeroPad(chunk, 5));
    if (!r.served()) break;
    fetched += r.raw;
  }
  EXPECT_EQ(image, fetched);

  int32_t header = 0, data = 0;
  hostlink::ExchangeReply status = hostlink::ExchangeStatement(
      socket_, program_, "Test",
      " UPDATE DATI/CONTATTI a SET NOTA='Visita dell''8 marzo', \xA7_T_IDX___=3 WHERE RRN(a)=2",
      false, header, data);
  ASSERT_TRUE(status.served());
  EXPECT_EQ(" ", Text('A', 1, 1));
  EXPECT_NE(std::string::npos, testing::Ctl(sample_.path(), {"dump", "DATI/CONTATTI"})
                                   .text.find("NOTA=Visita dell'8 marzo\tESITO=N"));

  // Faults, as Torvan sees and says them; a reply that cannot be read closes the link.
  ASSERT_EQ(0, testing::Ctl(sample_.path(), {"fault", "refuse", "P", "1"}).exit_code);
  EXPECT_EQ(hostlink::ExchangeReply::Outcome::kRefused,
            Exchange('P', "20261205140509000000").outcome);
  ASSERT_EQ(0, testing::Ctl(sample_.path(), {"fault", "corrupt-length"}).exit_code);
  EXPECT_EQ(hostlink::ExchangeReply::Outcome::kReadFailed,
            Exchange('P', "20261205140509000000").outcome);
  EXPECT_EQ((std::vector<std::string>{"[Test] Errore Esito {P}", "[Test] Errore Sock_Read {P}(2)"}),
            messages_);
  EXPECT_FALSE(socket_.connected(kSlot));

  // The operator changes Torvan's port setting between two link starts: the next start's
  // RCMD names the new port, and Torvan finds the program there.
  const int first = server_.host_port();
  OpenLink();
  EXPECT_NE(first, server_.host_port());
  EXPECT_TRUE(Exchange('3', "S").served());
  socket_.Sock_Close(kSlot);
  std::string address;
  EXPECT_FALSE(socket_.Sock_Connect(kSlot, "127.0.0.1", first, &address));
}

}  // namespace
}  // namespace torvan::hostsim
