// How fast torvan-host serves changes: S requests per second to a client that keeps one
// request outstanding (send, wait for the whole reply, send the next), on loopback.
//
//   hostsim_bench [CHANGES]      (default 200000)
//
// The server runs in this process on its own thread over a copy of the sample host; the
// changes are made with "generate" on DATI/ARTICOLI. Target: at least 50,000 S/s.
// Beside it, the same client against the floor: a bare epoll loop that answers every
// request with the same bytes at once, so a busy machine can be told from a slow server.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "hostlink/char_table.h"
#include "hostlink/frame.h"
#include "hostsim/ctl_client.h"
#include "hostsim/server.h"

namespace fs = std::filesystem;
using torvan::Status;
using namespace torvan::hostsim;

namespace {

int Fail(const std::string& what) {
  std::fprintf(stderr, "hostsim_bench: %s\n", what.c_str());
  return 1;
}

int ConnectLoopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(uint16_t(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Requests per second of a client with one request outstanding, `count` requests, each
// answered by `reply_size` bytes, against a bare epoll loop on its own thread.
double Floor(long count, size_t reply_size) {
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::listen(listener, 1);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::thread server([&] {
    int c = ::accept(listener, nullptr, nullptr);
    int one = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int ep = ::epoll_create1(0);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = c;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, c, &ev);
    const std::string reply(reply_size, '\x40');
    char buf[4096];
    for (;;) {
      epoll_event got[4];
      ::epoll_wait(ep, got, 4, -1);
      ssize_t n = ::recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    ::close(ep);
    ::close(c);
  });
  int fd = ConnectLoopback(ntohs(addr.sin_port));
  char buf[65536];
  auto t0 = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    ::send(fd, "S00000", 6, 0);
    size_t got = 0;
    while (got < reply_size) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got += size_t(n);
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ::close(fd);
  server.join();
  ::close(listener);
  return count / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const long changes = argc > 1 ? std::atol(argv[1]) : 200000;
  std::string pattern = (fs::temp_directory_path() / "torvan-host-bench-XXXXXX").string();
  const std::string dir = ::mkdtemp(pattern.data());
  fs::copy(TORVAN_SAMPLE_HOST, dir, fs::copy_options::recursive);

  ServerOptions options;
  options.data_dir = dir;
  options.ftp_port = -1;
  options.port = 0;
  options.print_ports = false;
  Server server(options);
  std::string notes;
  Status s = server.Start(&notes);
  if (!s.ok()) return Fail(s.message());
  Status run_status;
  std::thread loop([&] { run_status = server.Run(); });

  auto t0 = std::chrono::steady_clock::now();
  CtlResult r;
  s = CtlCall(dir, {"generate", "DATI/ARTICOLI", std::to_string(changes)}, 600000, &r);
  if (!s.ok() || r.exit_code != 0) return Fail(s.ok() ? r.text : s.message());
  double generate_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  torvan::hostlink::CharTables tables;
  s = torvan::hostlink::LoadCharTables(DefaultTablePath(), &tables);
  if (!s.ok()) return Fail(s.message());
  const std::string request = tables.ToHost("S00000");

  int fd = ConnectLoopback(server.host_ports().front());
  if (fd < 0) return Fail("connect");
  // Replies are read as Torvan's socket layer reads them: whatever has arrived, into a
  // buffer, then taken frame by frame.
  std::string in;
  char buf[65536];
  auto fill = [&](size_t need) {
    while (in.size() < need) {
      ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) return false;
      in.append(buf, size_t(n));
    }
    return true;
  };
  if (!fill(6)) return Fail("no greeting");
  in.erase(0, 6);

  long served = 0;
  size_t bytes = 0;
  t0 = std::chrono::steady_clock::now();
  for (;;) {
    if (::send(fd, request.data(), request.size(), 0) != ssize_t(request.size())) {
      return Fail("send");
    }
    if (!fill(6)) return Fail("reply header");
    if (char(tables.HostToPc(uint8_t(in[0]))) != '0') break;  // queue empty
    int32_t length = 0;
    if (!torvan::hostlink::ParseZonedLength(std::string_view(in).substr(1, 5), &length).ok() ||
        !fill(6 + size_t(length))) {
      return Fail("reply data");
    }
    in.erase(0, 6 + size_t(length));
    ++served;
    bytes += 6 + size_t(length);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ::close(fd);
  server.Stop();
  loop.join();
  fs::remove_all(dir);
  if (!run_status.ok()) return Fail(run_status.message());

  if (served != changes)
    return Fail("served " + std::to_string(served) + " of " + std::to_string(changes) + " changes");
  const double rate = served / seconds;
  const double floor = Floor(changes, bytes / size_t(served));
  std::printf("generate: %ld changes queued in %.2f s (%.0f changes/s)\n", changes, generate_s,
              changes / generate_s);
  std::printf(
      "S requests, one outstanding: %ld in %.3f s = %.0f requests/s (%.1f MB/s), "
      "target 50000\n",
      served, seconds, rate, bytes / seconds / 1e6);
  std::printf(
      "floor (bare epoll echo, same client and reply size): %.0f requests/s; "
      "torvan-host reaches %.0f%% of it\n",
      floor, 100.0 * rate / floor);
  return 0;
}
