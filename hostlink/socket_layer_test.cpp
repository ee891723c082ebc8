#include "hostlink/socket_layer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <latch>

#include "hostlink/link_test_util.h"
#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan::hostlink {
namespace {

using testing::PeerConnection;
using testing::ScriptedPeer;
using namespace std::chrono_literals;

using SocketLayerTest = testing::LinkTest;

TEST_F(SocketLayerTest, ReadLengthsOutsideOneTo8192AreRefusedAndACloseDiscards) {
  Answer("\xF0\xF0\xF0\xF0\xF0\xF1\xF1\xF1\xF1\xF1\xF1\xF1");
  std::string bytes;
  for (int32_t n : {0, -1, 8193}) {
    EXPECT_FALSE(socket_.Sock_Read(kSlot, n, counter_)) << n;
    EXPECT_FALSE(socket_.Sock_ReadText(kSlot, n, counter_, &bytes)) << n;
  }
  EXPECT_EQ(0, counter_ + socket_.ReceiveFill() + socket_.MessageData().size());
  EXPECT_TRUE(socket_.Sock_Read(kSlot, 6, counter_));
  socket_.Sock_Close(kSlot);  // discards what was received
  EXPECT_EQ(0u, socket_.ReceiveFill());
  EXPECT_FALSE(socket_.Sock_Read(kSlot, 6, counter_));
}

// Buffered replies are taken without a poll; a read of more than came before the end fails.
TEST_F(SocketLayerTest, RepliesInOneSegmentAreTakenOneByOneEvenAfterTheEnd) {
  const std::string first = "\xF0\xF0\xF0\xF0\xF0\xF3\xC1\xC2\xC3";
  const std::string second = "\xF1\xF0\xF0\xF0\xF0\xF0";
  Answer(first + second, /*then_close=*/true).Join();
  EXPECT_FALSE(socket_.Sock_Read(kSlot, 16, counter_));  // one byte short: the end is seen
  EXPECT_FALSE(socket_.connected(kSlot));
  EXPECT_EQ(15u, socket_.ReceiveFill());
  ASSERT_TRUE(socket_.Sock_Read(kSlot, 6, counter_));
  ASSERT_TRUE(socket_.Sock_Read(kSlot, 3, counter_));
  EXPECT_EQ("ABC", socket_.Field_Decode('A', 1, 3, 3, 0).text);
  EXPECT_EQ(second.size(), socket_.ReceiveFill());  // the second reply waits in the buffer
  ASSERT_TRUE(socket_.Sock_Read(kSlot, 6, counter_));
  EXPECT_EQ(second, socket_.MessageData());
  EXPECT_EQ(0u, socket_.ReceiveFill());
  EXPECT_FALSE(socket_.Sock_Read(kSlot, 1, counter_));
  EXPECT_EQ(0, counter_);  // not one empty poll
}

// A reply coming late and in pieces is joined, events run meanwhile, a stop does not cut it.
TEST_F(SocketLayerTest, AReplySplitOverSegmentsIsJoinedAndAStopDoesNotCutIt) {
  Serve([](PeerConnection& c) {
    std::this_thread::sleep_for(100ms);
    for (char b : std::string("\xF0\xF0\xF0\xF0\xF0\xF5\xC8\xC5\xD3\xD3\xD6")) {
      c.Write(std::string(1, b));
      std::this_thread::sleep_for(5ms);
    }
    c.SeesEnd();
  });
  test_.program.state.Stop_Richiesto = true;
  ASSERT_TRUE(socket_.Sock_Read(kSlot, 6, counter_));
  ASSERT_TRUE(socket_.Sock_Read(kSlot, 5, counter_));
  EXPECT_EQ("HELLO", socket_.Field_Decode('A', 1, 5, 5, 0).text);
  EXPECT_GT(test_.pump.events, 0);
  socket_.Sock_Close(kSlot);
}

TEST_F(SocketLayerTest, AConnectionTheHostEndedFailsTheReadAtOnce) {
  for (bool reset : {false, true}) {  // an orderly end, or a reset
    SCOPED_TRACE(reset ? "reset" : "closed");
    counter_ = 0;
    test_.pump.events = 0;
    // The peer resets only once connected, or the connect itself would fail.
    std::latch connected{1};
    Serve([&](PeerConnection& c) {
      c.Write("\xF0\xF0\xF0");
      if (reset) {
        connected.wait();
        EXPECT_EQ(0, SocketLayer::Sock_SetLinger(c.fd(), true, 0));
      }
    });
    connected.count_down();
    peer_->Join();  // the bytes and the end are on their way before the read starts
    socket_.SetPollLimitsForTesting({});  // two minutes, were the end unseen
    for (int i = 0; i < 2; ++i) EXPECT_FALSE(socket_.Sock_Read(kSlot, 6, counter_));
    EXPECT_EQ(0, test_.pump.events);  // no empty poll, no wait
    EXPECT_FALSE(socket_.connected(kSlot));
    EXPECT_EQ(Status::Code::kClosed, socket_.Sock_Send(kSlot, "S00000", 6).code());
    EXPECT_EQ(0, counter_);
  }
}

TEST_F(SocketLayerTest, ASilentPeerMakesEachEmptyPollWaitAttesaSincronizz) {
  test_.program.settings.parametri.Attesa_Sincronizz = 5;
  Answer("");
  socket_.SetPollLimitsForTesting({.read = 10});
  const auto start = std::chrono::steady_clock::now();
  std::string bytes;
  EXPECT_FALSE(socket_.Sock_ReadText(kSlot, 1, counter_, &bytes));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);  // 11 waits of 5 ms
  EXPECT_EQ(11, counter_);
  EXPECT_EQ(10, test_.pump.events);  // no events after the poll that gives up
}

TEST_F(SocketLayerTest, AStopRequestOrAClosedSlotEndsEveryWait) {
  // Production limits: end or closed slot stop a wait at the next poll, a stop after silence.
  enum class Event { kOperatorStop, kProgramEnd, kSlotClosed };
  auto read = [](SocketLayer& s, int32_t& n) { return s.Sock_Read(kSlot, 6, n); };
  const struct {
    const char* what;
    Event event;
    std::function<bool(SocketLayer&, int32_t&)> wait;  // true when it succeeded
  } rows[] = {
      {"message read", Event::kOperatorStop, read},
      {"message read, slot closed", Event::kSlotClosed, read},
      {"awaited line", Event::kOperatorStop,
       [](SocketLayer& s, int32_t&) {
         std::string line;
         return s.ReadLine(kSlot, &line, true) == SocketLayer::ReadEnd::kDone;
       }},
      {"send to a peer that reads nothing", Event::kProgramEnd,
       [](SocketLayer& s, int32_t&) { return s.Sock_Send(kSlot, "", 32 << 20).ok(); }},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    std::atomic<bool> done{false};
    ScriptedPeer& peer = Serve([&](PeerConnection&) {
      for (int i = 0; i < 2000 && !done; ++i) std::this_thread::sleep_for(10ms);  // reads nothing
    });
    socket_.SetPollLimitsForTesting({});
    platform::FakePump pump;
    RunState& state = test_.program.state;
    pump.on_events = [&] {
      if (r.event == Event::kSlotClosed) socket_.Sock_Close(kSlot);
      (r.event == Event::kProgramEnd ? state.Fine_Richiesta : state.Stop_Richiesto) =
          r.event != Event::kSlotClosed;
    };
    test_.program.pump = &pump;
    EXPECT_FALSE(r.wait(socket_, counter_));
    EXPECT_TRUE(r.event == Event::kOperatorStop ? pump.events > 1 : pump.events == 1);
    test_.program.pump = &test_.pump;
    state.Stop_Richiesto = state.Fine_Richiesta = false;
    socket_.Sock_Close(kSlot);
    done = true;
    peer.Join();
  }
}

// A host dropping SYNs: the connect gives up at its limit, or at the first poll after a stop.
TEST_F(SocketLayerTest, AHostThatDropsConnectionRequestsFailsTheConnectAtItsLimitOrAStop) {
  testing::UnansweredPort host;
  socket_.SetPollLimitsForTesting({.connect = 300ms});
  std::string address;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(socket_.Sock_Connect(kSlot, "127.0.0.1", host.port(), &address));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ("127.0.0.1:" + std::to_string(host.port()), address);
  EXPECT_FALSE(socket_.connected(kSlot));
  EXPECT_GE(test_.pump.events, 10);  // polls of 10 ms, each followed by the events

  socket_.SetPollLimitsForTesting({});  // 20 s
  test_.pump.events = 0;
  test_.pump.on_events = [&] { test_.program.state.Stop_Richiesto = true; };
  EXPECT_FALSE(socket_.Sock_Connect(kSlot, "127.0.0.1", host.port(), nullptr));
  EXPECT_EQ(1, test_.pump.events);
  EXPECT_FALSE(socket_.connected(kSlot));
}

// A send is translated, padded with host blanks, goes on past the buffers; a gone peer fails it.
TEST_F(SocketLayerTest, SendTranslatesPadsContinuesUntilEveryByteIsTakenAndFailsOnceThePeerIsGone) {
  const size_t total = 4 * 1024 * 1024;
  std::string got;
  ScriptedPeer& peer = Serve([&](PeerConnection& c) {
    got = c.Read(14);
    std::this_thread::sleep_for(50ms);  // let the sender fill the buffers first
    const std::string rest = c.Read(total);
    got += rest.find_first_not_of('\x40') == std::string::npos ? std::to_string(rest.size()) : "?";
  });
  EXPECT_TRUE(socket_.Sock_Send(kSlot, "P00020", 10).ok());
  EXPECT_TRUE(socket_.Sock_Send(kSlot, "P00020", 4).ok());
  EXPECT_TRUE(socket_.Sock_Send(kSlot, "", int32_t(total)).ok());
  peer.Join();
  EXPECT_EQ("\xD7\xF0\xF0\xF0\xF2\xF0\x40\x40\x40\x40\xD7\xF0\xF0\xF0" + std::to_string(total),
            got);
  Status s;  // the peer gone: an error, not a SIGPIPE
  for (int i = 0; i < 50 && s.ok(); ++i) {
    s = socket_.Sock_Send(kSlot, "S00000", 6);
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_FALSE(s.ok());
}

// Lines in order with their bytes (a CR, a NUL); a missing one is ">" unawaited, "?" awaited.
TEST_F(SocketLayerTest, ReadLineTakesLinesInOrderWithTheirBytes) {
  Serve([](PeerConnection& c) {
    c.Write(std::string("220-first\r\na\rb\x00\xE8\r", 17));
    std::this_thread::sleep_for(5ms);
    c.Write("\n220 second\r\n");
    c.SeesEnd();
  });
  const std::pair<bool, std::string> lines[] = {{true, "220-first"},
                                                {true, std::string("a\rb\x00\xE8", 5)},
                                                {false, "220 second"},
                                                {false, ">"},
                                                {true, "?"}};
  for (const auto& [wait, expected] : lines) {
    std::string line;
    EXPECT_EQ(expected.size() > 1, socket_.Sock_ReadLine(kSlot, &line, wait));
    EXPECT_EQ(expected, line);
  }
}

// The table is read at the first start, again after a stop; a missing one reads as zeros.
TEST_F(SocketLayerTest, ASecondStartDoesNotRereadTheTableAndAMissingOneSaysWhy) {
  platform::TempFolder dir("torvan-sock");
  const std::string path = dir / "TnC_TBL1.Tbl";
  std::string shipped;
  ASSERT_TRUE(platform::ReadFile(TORVAN_SHIPPED_CHAR_TABLE, &shipped).ok());
  std::string swapped = shipped;  // host bytes C1 and C2 read as "B" and "A"
  std::swap(swapped[kCharTableHeaderLength + 0xC1], swapped[kCharTableHeaderLength + 0xC2]);
  ASSERT_TRUE(platform::WriteFileAtomic(path, swapped, 0644).ok());
  SocketLayer layer(test_.program);
  for (const auto& [stop, c1] : {std::pair{false, 'B'}, {false, 'B'}, {true, 'A'}}) {
    if (stop) layer.Sock_Stop();
    ASSERT_TRUE(layer.Sock_Start(path));
    EXPECT_TRUE(layer.table_status().ok()) << layer.table_status().message();
    EXPECT_EQ(c1, layer.tables().HostToPc(0xC1));
    ASSERT_TRUE(platform::WriteFileAtomic(path, shipped, 0644).ok());
  }
  layer.Sock_Stop();
  EXPECT_TRUE(layer.Sock_Start("/nonexistent/TnC_TBL1.Tbl"));
  EXPECT_EQ(Status::Code::kNotFound, layer.table_status().code());
  EXPECT_EQ("/nonexistent/TnC_TBL1.Tbl: file non trovato", layer.table_status().message());
  EXPECT_EQ(0, layer.tables().HostToPc(0xC1));
}

TEST_F(SocketLayerTest, BadHostsPortsSlotsAndPositionsFailAndLeaveTheAddressTextAlone) {
  std::string address = "unchanged";
  for (auto [slot, host, port] : {std::tuple{kSlot, "", 4200},
                                  {kSlot, "no-such-host.invalid", 4200},
                                  {kSlot, "127.0.0.1", 65535},
                                  {kSlot, "127.0.0.1", 0},
                                  {3, "127.0.0.1", 4200},
                                  {-1, "127.0.0.1", 4200}}) {
    EXPECT_FALSE(socket_.Sock_Connect(slot, host, port, &address)) << host << ":" << port;
  }
  EXPECT_EQ("unchanged", address);
  const int port = testing::ClosedPort();
  EXPECT_FALSE(socket_.Sock_Connect(kSlot, "127.0.0.1", port, &address));
  EXPECT_EQ("127.0.0.1:" + std::to_string(port), address);
  EXPECT_FALSE(socket_.connected(kSlot));
  std::string line;  // slots outside 0..2, and empty ones, never read or crash
  EXPECT_FALSE(socket_.Sock_Read(3, 6, counter_));
  EXPECT_FALSE(socket_.Sock_ReadLine(-1, &line, true));
  EXPECT_FALSE(socket_.Sock_Send(7, "S00000", 6).ok());
  socket_.Sock_Close(9);
  EXPECT_FALSE(socket_.Sock_Read(0, 6, counter_));  // never connected
  EXPECT_EQ(0, counter_);

  EXPECT_EQ("127.0.0.1", SocketLayer::Sock_AddressText(SocketLayer::Sock_Resolve("localhost")));
  EXPECT_EQ(htonl(0x0A000005), SocketLayer::Sock_Resolve("10.0.0.5"));
  EXPECT_EQ("255.255.255.255", SocketLayer::Sock_AddressText(0xFFFFFFFFu));
  // Field_Decode reaches every byte of the message buffer and no further.
  EXPECT_TRUE(socket_.Field_Decode('A', 16384, 1, 1, 0).ok());
  EXPECT_EQ(Status::Code::kFault, socket_.Field_Decode('A', 16384, 2, 2, 0).status.code());
  EXPECT_EQ(Status::Code::kFault, socket_.Field_DecodeAmount(16380).status.code());
}

}  // namespace
}  // namespace torvan::hostlink
