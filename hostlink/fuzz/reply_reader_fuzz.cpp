#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/program.h"
#include "hostlink/exchange.h"
#include "hostlink/fuzz/fuzz_targets.h"
#include "platform/fakes.h"
#include "platform/fuzz_check.h"

namespace torvan::hostlink::fuzz {

namespace {

using platform::fuzz::Check;

// The host's side of the conversation: whatever bytes the input holds, then the end.
class FuzzedHost {
 public:
  FuzzedHost(SocketLayer& socket, const uint8_t* data, size_t size) {
    int sv[2];
    Check(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) == 0);
    host_ = sv[1];
    Check(socket.Sock_Adopt(SocketLayer::kLinkSlot, sv[0]).ok());
    // The stream fits the socket buffer (inputs are cut to 64 KiB), so this never blocks.
    size_t sent = 0;
    while (sent < size) {
      const ssize_t r = ::send(host_, data + sent, size - sent, MSG_NOSIGNAL);
      if (r <= 0) break;
      sent += size_t(r);
    }
    ::shutdown(host_, SHUT_WR);
  }
  ~FuzzedHost() { ::close(host_); }

 private:
  int host_ = -1;
};

// One link for the whole run: a table whose host digits F0..F9 read as "0".."9" (the
// rest as themselves), no pauses and short poll limits, so a stream that ends makes
// every read give up at once.
struct Link {
  Link() : program(Paths::InFolder("/tmp"), &clock, &pump), socket(program) {
    std::array<uint8_t, kCharTableLength> host_to_pc{};
    for (size_t i = 0; i < host_to_pc.size(); ++i) host_to_pc[i] = uint8_t(i);
    for (int d = 0; d < 10; ++d) host_to_pc[0xF0 + d] = uint8_t('0' + d);
    const std::string path = "/tmp/torvan-fuzz-" + std::to_string(::getpid()) + ".Tbl";
    const std::string bytes = CharTableFileBytes(host_to_pc);
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
    }
    socket.Sock_Start(path);
    std::remove(path.c_str());
    Check(socket.table_status().ok());
    program.settings.parametri.Attesa_Sincronizz = 0;
    SocketLayer::PollLimits limits;
    limits.read = 2;
    limits.line_wait = 2;
    limits.line_no_wait = 1;
    limits.line_pause = std::chrono::milliseconds(0);
    socket.SetPollLimitsForTesting(limits);
  }
  platform::FakeClock clock;
  platform::FakePump pump;
  Program program;
  SocketLayer socket;
};

}  // namespace

int FuzzReplyReader(const uint8_t* data, size_t size) {
  static Link link;
  if (size < 1) return 0;
  if (size > 65536) size = 65536;
  SocketLayer& socket = link.socket;
  const uint8_t mode = data[0];
  FuzzedHost host(socket, data + 1, size - 1);
  int32_t counter = 0;
  static constexpr char kCodes[] = {'P', 'T', 'S', 'I', '3', '1', '2'};

  for (int round = 0; round < 64; ++round) {
    switch (mode % 4) {
      case 0: {
        const char code = kCodes[(mode / 4 + round) % sizeof kCodes];
        const ExchangeReply r = Exchange(socket, link.program, "Fuzz", code, "N", counter);
        if (r.served()) {
          Check(r.length >= 1 && r.length <= kMaxReplyData);
          if (code == 'I') {
            Check(r.raw.size() == size_t(r.length));
          } else {
            Check(socket.MessageData().size() == size_t(r.length));
          }
        } else if (r.outcome == ExchangeReply::Outcome::kReadFailed && socket.ReceiveFill() == 0) {
          return 0;
        }
        break;
      }
      case 1: {
        int32_t header = 0, status = 0;
        const ExchangeReply r = ExchangeStatement(socket, link.program, "Fuzz", "DELETE",
                                                  round % 2 == 1, header, status);
        if (r.served()) Check(socket.MessageData().size() == size_t(r.length));
        if (!r.served() && socket.ReceiveFill() == 0) return 0;
        break;
      }
      case 2: {
        std::string line;
        const bool got = socket.Sock_ReadLine(SocketLayer::kLinkSlot, &line, round % 2 == 0);
        if (got) {
          Check(line.find("\r\n") == std::string::npos);
        } else {
          Check(line == "?" || line == ">");
          if (socket.ReceiveFill() == 0) return 0;
        }
        break;
      }
      default: {
        const int32_t n = int32_t(((mode >> 2) + round * 37) % 9000) - 4;
        std::string bytes;
        const bool got = round % 2 == 0
                             ? socket.Sock_Read(SocketLayer::kLinkSlot, n, counter)
                             : socket.Sock_ReadText(SocketLayer::kLinkSlot, n, counter, &bytes);
        if (got) Check(n >= 1 && n <= kMaxReplyData);
        if (!got && (n >= 1 && n <= kMaxReplyData)) return 0;
        (void)ReadGreeting(socket, counter);
        break;
      }
    }
  }
  return 0;
}

}  // namespace torvan::hostlink::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::hostlink::fuzz::FuzzReplyReader(data, size);
}
#endif
