// bench/exchange: S exchanges per second over loopback, Torvan's message exchange against
// the raw floor.
//
// A peer thread answers every "S00000" at once with a served reply carrying a 400-byte
// change. Torvan's side runs Exchange() through the socket layer with the standard
// Attesa_Sincronizz of 2 ms; beside it a plain blocking client makes the same
// request/reply. Both rates and their ratio are printed (target: ratio >= 0.5).
//
//   exchange [seconds per run, default 2]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/program.h"
#include "hostlink/exchange.h"
#include "hostlink/frame.h"
#include "platform/clock.h"
#include "platform/event_pump.h"

namespace {

using namespace torvan;
using Clock = std::chrono::steady_clock;

constexpr int32_t kChangeLength = 400;

bool ReadExactly(int fd, char* to, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::recv(fd, to + got, n - got, 0);
    if (r <= 0) return false;
    got += size_t(r);
  }
  return true;
}

bool WriteAll(int fd, const char* from, size_t n) {
  size_t sent = 0;
  while (sent < n) {
    const ssize_t r = ::send(fd, from + sent, n - sent, MSG_NOSIGNAL);
    if (r <= 0) return false;
    sent += size_t(r);
  }
  return true;
}

// The loopback host: answers each request header (and its data) with one reply.
class Peer {
 public:
  explicit Peer(std::string reply) : reply_(std::move(reply)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_fd_, 4) != 0) {
      std::perror("bench peer");
      std::exit(1);
    }
    socklen_t size = sizeof a;
    ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&a), &size);
    port_ = ntohs(a.sin_port);
    accept_thread_ = std::thread([this] { AcceptLoop(); });
  }
  ~Peer() {
    stop_ = true;
    accept_thread_.join();
    for (std::thread& t : handlers_) t.join();
    ::close(listen_fd_);
  }
  int port() const { return port_; }

 private:
  void AcceptLoop() {
    while (!stop_) {
      pollfd p{listen_fd_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int fd = ::accept(listen_fd_, nullptr, nullptr);
      if (fd < 0) continue;
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      handlers_.emplace_back([this, fd] { Serve(fd); });
    }
  }
  void Serve(int fd) {
    char header[6];
    std::vector<char> data;
    while (ReadExactly(fd, header, sizeof header)) {
      // The request's length digits are host digits F0..F9.
      int length = 0;
      for (int i = 1; i < 6; ++i) length = length * 10 + (header[i] & 0x0F);
      data.resize(size_t(length));
      if (length > 0 && !ReadExactly(fd, data.data(), data.size())) break;
      if (!WriteAll(fd, reply_.data(), reply_.size())) break;
    }
    ::close(fd);
  }

  std::string reply_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread accept_thread_;
  std::vector<std::thread> handlers_;
};

double TorvanRate(int port, const std::string& table, double seconds) {
  platform::Clock* clock = platform::SystemClock();
  Program program(Paths::InFolder("/tmp"), clock, platform::ConsolePump());
  program.settings.parametri.Attesa_Sincronizz = 2;  // the standard setting
  hostlink::SocketLayer socket(program);
  socket.Sock_Start(table);
  if (!socket.table_status().ok()) {
    std::fprintf(stderr, "exchange: %s\n", socket.table_status().ToString().c_str());
    std::exit(1);
  }
  if (!socket.Sock_Connect(hostlink::SocketLayer::kLinkSlot, "127.0.0.1", port, nullptr)) {
    std::fprintf(stderr, "exchange: cannot connect\n");
    std::exit(1);
  }
  int32_t polls = 0;
  long count = 0;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    for (int i = 0; i < 100; ++i) {
      const hostlink::ExchangeReply r =
          hostlink::Exchange(socket, program, "Server_SQL_Sincro", 'S', "", polls);
      if (!r.served() || r.length != kChangeLength) {
        std::fprintf(stderr, "exchange: reply not served\n");
        std::exit(1);
      }
      ++count;
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  return double(count) / elapsed;
}

double RawRate(int port, const std::string& request, double seconds) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(port));
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::perror("raw connect");
    std::exit(1);
  }
  char header[6];
  char data[8192];
  long count = 0;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    for (int i = 0; i < 100; ++i) {
      if (!WriteAll(fd, request.data(), request.size()) ||
          !ReadExactly(fd, header, sizeof header)) {
        std::exit(1);
      }
      int length = 0;
      for (int k = 1; k < 6; ++k) length = length * 10 + (header[k] & 0x0F);
      if (length != kChangeLength || !ReadExactly(fd, data, size_t(length))) std::exit(1);
      ++count;
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  return double(count) / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  const std::string table = TORVAN_SHIPPED_CHAR_TABLE;

  hostlink::CharTables tables;
  if (!hostlink::LoadCharTables(table, &tables).ok()) {
    std::fprintf(stderr, "exchange: cannot read %s\n", table.c_str());
    return 1;
  }
  std::string reply;
  (void)hostlink::BuildReplyHeader(tables, '0', kChangeLength, &reply);
  reply += std::string(size_t(kChangeLength), '\xC1');
  std::string request;
  (void)hostlink::BuildRequest('S', "", &request);
  request = tables.ToHost(request);

  Peer peer(reply);
  // Alternate the two clients and keep the best run of each, so a busy moment of the
  // machine does not decide the ratio.
  double torvan = 0, raw = 0;
  for (int run = 0; run < 3; ++run) {
    raw = std::max(raw, RawRate(peer.port(), request, seconds / 3));
    torvan = std::max(torvan, TorvanRate(peer.port(), table, seconds / 3));
  }
  std::printf("S exchanges, 400-byte change, loopback, Attesa_Sincronizz 2 ms\n");
  std::printf("  torvan exchange : %10.0f /s\n", torvan);
  std::printf("  raw blocking    : %10.0f /s\n", raw);
  std::printf("  ratio           : %10.2f   (target >= 0.50)\n", torvan / raw);
  return 0;
}
