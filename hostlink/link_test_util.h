// The socket layer of a test program, started on the shipped table, with short limits, and the
// scripted peer it is connected to.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "hostlink/socket_layer.h"
#include "hostlink/test_peer.h"

namespace torvan::hostlink::testing {

class LinkTest : public ::testing::Test {
 protected:
  static constexpr int kSlot = SocketLayer::kLinkSlot;
  LinkTest() {
    EXPECT_TRUE(socket_.Sock_Start(TORVAN_SHIPPED_CHAR_TABLE));
    EXPECT_TRUE(socket_.table_status().ok());
    // Short limits keep the give-up cases fast; the waits themselves are the real ones.
    socket_.SetPollLimitsForTesting(
        {.read = 200, .line_wait = 20, .line_no_wait = 3, .line_pause = Ms(5)});
  }
  // A connected peer running `script`, in place of the last; it outlives the layer.
  ScriptedPeer& Serve(ScriptedPeer::Script script) {
    peer_ = std::make_unique<ScriptedPeer>(std::move(script));
    std::string address;
    EXPECT_TRUE(socket_.Sock_Connect(kSlot, "127.0.0.1", peer_->port(), &address));
    EXPECT_EQ("127.0.0.1:" + std::to_string(peer_->port()), address);
    return *peer_;
  }
  // A connected peer reading `request_length` bytes into request_, writing `reply`, then
  // waiting for the end unless `then_close`.
  ScriptedPeer& Answer(std::string reply, bool then_close = false, size_t request_length = 0) {
    return Serve([this, reply, then_close, request_length](PeerConnection& c) {
      if (request_length > 0) request_ = c.Read(request_length);
      c.Write(reply);
      if (!then_close) c.SeesEnd();
    });
  }
  std::string Host(std::string_view pc) const { return socket_.tables().ToHost(pc); }

  std::string request_;  // before peer_: its script may write it until it ends
  std::unique_ptr<ScriptedPeer> peer_;
  TestProgram test_;
  SocketLayer socket_{test_.program};
  int32_t counter_ = 0;
};

}  // namespace torvan::hostlink::testing
