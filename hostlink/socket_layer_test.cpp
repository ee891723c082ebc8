#include "hostlink/socket_layer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>

#include "hostlink/test_peer.h"
#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan::hostlink {
namespace {

using testing::ClosedPort;
using testing::PeerConnection;
using testing::ScriptedPeer;
using testing::TestProgram;
using namespace std::chrono_literals;

constexpr int kSlot = SocketLayer::kLinkSlot;

class SocketLayerTest : public ::testing::Test {
 protected:
  SocketLayerTest() {
    EXPECT_TRUE(socket_.Sock_Start(TORVAN_SHIPPED_CHAR_TABLE));
    EXPECT_TRUE(socket_.table_status().ok());
    // Short limits keep the give-up cases fast; the waits themselves are the real ones.
    SocketLayer::PollLimits limits;
    limits.read = 200;
    limits.line_wait = 20;
    limits.line_no_wait = 3;
    limits.line_pause = 5ms;
    socket_.SetPollLimitsForTesting(limits);
  }
  void Connect(const ScriptedPeer& peer) {
    std::string address;
    ASSERT_TRUE(socket_.Sock_Connect(kSlot, "127.0.0.1", peer.port(), &address));
    EXPECT_EQ("127.0.0.1:" + std::to_string(peer.port()), address);
  }
  // The peer outlives the layer, so it sees the connection end when the test is over.
  ScriptedPeer& Serve(ScriptedPeer::Script script) {
    peer_ = std::make_unique<ScriptedPeer>(std::move(script));
    return *peer_;
  }

  std::unique_ptr<ScriptedPeer> peer_;
  TestProgram test_;
  SocketLayer socket_{test_.program};
  int32_t counter_ = 0;
};

TEST_F(SocketLayerTest, ReadLengthsOutsideOneTo8192AreRefusedWithoutReading) {
  ScriptedPeer& peer = Serve([](PeerConnection& c) {
    c.Write("\xF0\xF0\xF0\xF0\xF0\xF1");
    c.SeesEnd();
  });
  Connect(peer);
  std::string bytes;
  for (int32_t n : {0, -1, 8193}) {
    EXPECT_FALSE(socket_.Sock_Read(kSlot, n, counter_)) << n;
    EXPECT_FALSE(socket_.Sock_ReadText(kSlot, n, counter_, &bytes)) << n;
  }
  EXPECT_EQ(0, counter_);
  EXPECT_EQ(0u, socket_.ReceiveFill());
  EXPECT_EQ(0u, socket_.MessageData().size());
  EXPECT_TRUE(socket_.Sock_Read(kSlot, 6, counter_));
}

TEST_F(SocketLayerTest, TwoRepliesInOneSegmentAreTakenOneByOne) {
  const std::string first = "\xF0\xF0\xF0\xF0\xF0\xF3\xC1\xC2\xC3";
  const std::string second = "\xF1\xF0\xF0\xF0\xF0\xF0";
  ScriptedPeer& peer = Serve([&](PeerConnection& c) {
    c.Write(first + second);
    c.SeesEnd();
  });
  Connect(peer);
  ASSERT_TRUE(socket_.Sock_Read(kSlot, 6, counter_));
  ASSERT_TRUE(socket_.Sock_Read(kSlot, 3, counter_));
  EXPECT_EQ("ABC", socket_.Field_Decode('A', 1, 3, 3, 0).text);
  EXPECT_EQ(second.size(), socket_.ReceiveFill());  // the second reply waits in the buffer
  const int32_t polls = counter_;
  ASSERT_TRUE(socket_.Sock_Read(kSlot, 6, counter_));
  EXPECT_EQ(polls, counter_);
  EXPECT_EQ(second, socket_.MessageData());
  EXPECT_EQ(0u, socket_.ReceiveFill());
}

TEST_F(SocketLayerTest, AReplySplitOverSegmentsIsJoinedAndEventsRunMeanwhile) {
  const std::string reply = "\xF0\xF0\xF0\xF0\xF0\xF5\xC8\xC5\xD3\xD3\xD6";
  ScriptedPeer& peer = Serve([&](PeerConnection& c) {
    for (char b : reply) {
      c.Write(std::string(1, b));
      std::this_thread::sleep_for(5ms);
    }
    c.SeesEnd();
  });
  Connect(peer);
  ASSERT_TRUE(socket_.Sock_Read(kSlot, 6, counter_));
  ASSERT_TRUE(socket_.Sock_Read(kSlot, 5, counter_));
  EXPECT_EQ("HELLO", socket_.Field_Decode('A', 1, 5, 5, 0).text);
  EXPECT_GT(test_.pump.events, 0);
}

TEST_F(SocketLayerTest, APeerThatClosesMidReplyMakesTheReadGiveUpAtItsLimit) {
  ScriptedPeer& peer = Serve([](PeerConnection& c) { c.Write("\xF0\xF0\xF0"); });
  Connect(peer);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(socket_.Sock_Read(kSlot, 6, counter_));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  // A closed connection makes a pause of Attesa_Sincronizz per empty poll.
  EXPECT_GT(test_.pump.slept, 0ms);
  EXPECT_LE(test_.pump.slept, 200 * 2ms);
  EXPECT_EQ(201, counter_);              // more than the limit of 200 empty polls
  EXPECT_EQ(3u, socket_.ReceiveFill());  // what came stays for the caller's next read
}

TEST_F(SocketLayerTest, ASilentPeerMakesEachEmptyPollWaitAttesaSincronizz) {
  test_.program.settings.parametri.Attesa_Sincronizz = 5;
  ScriptedPeer& peer = Serve([](PeerConnection& c) { c.SeesEnd(); });
  Connect(peer);
  SocketLayer::PollLimits limits;
  limits.read = 10;
  socket_.SetPollLimitsForTesting(limits);
  const auto start = std::chrono::steady_clock::now();
  std::string bytes;
  EXPECT_FALSE(socket_.Sock_ReadText(kSlot, 1, counter_, &bytes));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);  // 11 waits of 5 ms
  EXPECT_EQ(11, counter_);
  EXPECT_EQ(10, test_.pump.events);  // no events after the poll that gives up
}

TEST_F(SocketLayerTest, AnEventThatClosesTheSlotEndsTheRead) {
  ScriptedPeer& peer = Serve([](PeerConnection& c) { c.SeesEnd(); });
  Connect(peer);
  SocketLayer::PollLimits limits;  // production limits: only the close can end this read
  socket_.SetPollLimitsForTesting(limits);
  platform::FakePump pump;
  pump.on_events = [&] { socket_.Sock_Close(kSlot); };
  test_.program.pump = &pump;
  EXPECT_FALSE(socket_.Sock_Read(kSlot, 6, counter_));
  EXPECT_EQ(1, pump.events);
  test_.program.pump = &test_.pump;
}

TEST_F(SocketLayerTest, SendTranslatesAndPadsToExactlyNBytes) {
  std::string got10, got4;
  ScriptedPeer& peer = Serve([&](PeerConnection& c) {
    c.Read(10, &got10);
    c.Read(4, &got4);
  });
  Connect(peer);
  EXPECT_TRUE(socket_.Sock_Send(kSlot, "P00020", 10).ok());
  EXPECT_TRUE(socket_.Sock_Send(kSlot, "P00020", 4).ok());
  peer.Join();
  EXPECT_EQ("\xD7\xF0\xF0\xF0\xF2\xF0\x40\x40\x40\x40", got10);
  EXPECT_EQ("\xD7\xF0\xF0\xF0", got4);
}

TEST_F(SocketLayerTest, SendContinuesUntilEveryByteIsTaken) {
  const size_t total = 4 * 1024 * 1024;  // far more than the socket buffers hold
  size_t received = 0;
  bool all_blanks = true;
  ScriptedPeer& peer = Serve([&](PeerConnection& c) {
    std::this_thread::sleep_for(50ms);  // let the sender fill the buffers first
    std::string chunk;
    while (received < total && c.Read(std::min<size_t>(65536, total - received), &chunk)) {
      received += chunk.size();
      all_blanks = all_blanks && chunk.find_first_not_of('\x40') == std::string::npos;
    }
  });
  Connect(peer);
  EXPECT_TRUE(socket_.Sock_Send(kSlot, "", int32_t(total)).ok());
  peer.Join();
  EXPECT_EQ(total, received);
  EXPECT_TRUE(all_blanks);
}

TEST_F(SocketLayerTest, SendingToAClosedPeerIsAnErrorNotASignal) {
  ScriptedPeer& peer = Serve([](PeerConnection&) {});
  Connect(peer);
  peer.Join();
  Status s;
  for (int i = 0; i < 50 && s.ok(); ++i) {
    s = socket_.Sock_Send(kSlot, "S00000", 6);
    std::this_thread::sleep_for(2ms);
  }
  EXPECT_FALSE(s.ok());
}

TEST_F(SocketLayerTest, ReadLineTakesLinesFromTheBufferInOrder) {
  ScriptedPeer& peer = Serve([](PeerConnection& c) {
    c.Write("220-first\r\n220 second\r\n");
    c.SeesEnd();
  });
  Connect(peer);
  std::string line;
  ASSERT_TRUE(socket_.Sock_ReadLine(kSlot, &line, true));
  EXPECT_EQ("220-first", line);
  ASSERT_TRUE(socket_.Sock_ReadLine(kSlot, &line, false));
  EXPECT_EQ("220 second", line);
  EXPECT_FALSE(socket_.Sock_ReadLine(kSlot, &line, false));
  EXPECT_EQ(">", line);
  EXPECT_FALSE(socket_.Sock_ReadLine(kSlot, &line, true));
  EXPECT_EQ("?", line);
}

TEST_F(SocketLayerTest, ReadLineKeepsBytesAsTheyCome) {
  ScriptedPeer& peer = Serve([](PeerConnection& c) {
    c.Write(std::string("a\rb\x00\xE8\r", 6));
    std::this_thread::sleep_for(5ms);
    c.Write("\n");
    c.SeesEnd();
  });
  Connect(peer);
  std::string line;
  ASSERT_TRUE(socket_.Sock_ReadLine(kSlot, &line, true));
  EXPECT_EQ(std::string("a\rb\x00\xE8", 5), line);
}

TEST_F(SocketLayerTest, ASecondStartDoesNotRereadTheTable) {
  platform::TempFolder dir("torvan-sock");
  const std::string path = dir / "TnC_TBL1.Tbl";
  std::array<uint8_t, kCharTableLength> identity{};
  for (size_t i = 0; i < identity.size(); ++i) identity[i] = uint8_t(i);
  ASSERT_TRUE(platform::WriteFileAtomic(path, CharTableFileBytes(identity), 0644).ok());

  SocketLayer layer(test_.program);
  ASSERT_TRUE(layer.Sock_Start(path));
  EXPECT_EQ(0xC1, layer.tables().HostToPc(0xC1));
  std::string shipped;
  ASSERT_TRUE(platform::ReadFile(TORVAN_SHIPPED_CHAR_TABLE, &shipped).ok());
  ASSERT_TRUE(platform::WriteFileAtomic(path, shipped, 0644).ok());
  EXPECT_TRUE(layer.Sock_Start(path));
  EXPECT_EQ(0xC1, layer.tables().HostToPc(0xC1));
  layer.Sock_Stop();
  EXPECT_TRUE(layer.Sock_Start(path));
  EXPECT_EQ('A', layer.tables().HostToPc(0xC1));
}

TEST_F(SocketLayerTest, AMissingTableStartsAnywayAndSaysWhy) {
  SocketLayer layer(test_.program);
  EXPECT_TRUE(layer.Sock_Start("/nonexistent/TnC_TBL1.Tbl"));
  EXPECT_EQ(Status::Code::kNotFound, layer.table_status().code());
  EXPECT_EQ(0, layer.tables().HostToPc(0xC1));
}

TEST_F(SocketLayerTest, ConnectFailuresLeaveTheAddressTextAlone) {
  std::string address = "unchanged";
  EXPECT_FALSE(socket_.Sock_Connect(kSlot, "", 4200, &address));
  EXPECT_FALSE(socket_.Sock_Connect(kSlot, "no-such-host.invalid", 4200, &address));
  EXPECT_FALSE(socket_.Sock_Connect(kSlot, "127.0.0.1", 65535, &address));
  EXPECT_FALSE(socket_.Sock_Connect(kSlot, "127.0.0.1", 0, &address));
  EXPECT_FALSE(socket_.Sock_Connect(3, "127.0.0.1", 4200, &address));
  EXPECT_FALSE(socket_.Sock_Connect(-1, "127.0.0.1", 4200, &address));
  EXPECT_EQ("unchanged", address);
  const int port = ClosedPort();
  EXPECT_FALSE(socket_.Sock_Connect(kSlot, "127.0.0.1", port, &address));
  EXPECT_EQ("127.0.0.1:" + std::to_string(port), address);
  EXPECT_FALSE(socket_.connected(kSlot));
}

TEST_F(SocketLayerTest, SlotsOutsideZeroToTwoAndEmptySlotsNeverReadOrCrash) {
  std::string line;
  EXPECT_FALSE(socket_.Sock_Read(3, 6, counter_));
  EXPECT_FALSE(socket_.Sock_ReadLine(-1, &line, true));
  EXPECT_FALSE(socket_.Sock_Send(7, "S00000", 6).ok());
  socket_.Sock_Close(9);
  EXPECT_FALSE(socket_.Sock_Read(0, 6, counter_));  // never connected
  EXPECT_EQ(0, counter_);
}

TEST(SockResolve, DottedNamesAndFailures) {
  EXPECT_EQ("127.0.0.1", SocketLayer::Sock_AddressText(SocketLayer::Sock_Resolve("127.0.0.1")));
  EXPECT_EQ(htonl(0x0A000005), SocketLayer::Sock_Resolve("10.0.0.5"));
  EXPECT_EQ("127.0.0.1", SocketLayer::Sock_AddressText(SocketLayer::Sock_Resolve("localhost")));
  EXPECT_EQ(0xFFFFFFFFu, SocketLayer::Sock_Resolve(""));
  EXPECT_EQ(0xFFFFFFFFu, SocketLayer::Sock_Resolve("no-such-host.invalid"));
  EXPECT_EQ("255.255.255.255", SocketLayer::Sock_AddressText(0xFFFFFFFFu));
}

TEST_F(SocketLayerTest, FieldDecodeReachesEveryByteOfMessageBufferAndNoFurther) {
  EXPECT_TRUE(socket_.Field_Decode('A', 16384, 1, 1, 0).ok());
  EXPECT_EQ(Status::Code::kFault, socket_.Field_Decode('A', 16384, 2, 2, 0).status.code());
  EXPECT_EQ(Status::Code::kFault, socket_.Field_DecodeAmount(16380).status.code());
}

}  // namespace
}  // namespace torvan::hostlink
