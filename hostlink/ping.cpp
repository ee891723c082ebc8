#include "hostlink/ping.h"

#include <errno.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>

namespace torvan::hostlink {

namespace {

constexpr char kEchoData[] = "Echo this string of data";
constexpr size_t kEchoDataLength = sizeof kEchoData - 1;
static_assert(kEchoDataLength == 24);

uint16_t Checksum(const uint8_t* data, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < n; i += 2) sum += uint32_t(data[i] << 8 | data[i + 1]);
  if (n % 2 != 0) sum += uint32_t(data[n - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return htons(uint16_t(~sum));
}

// The status of an ICMP error message (destination unreachable, time exceeded, ...).
int32_t StatusOfIcmpError(int type, int code) {
  switch (type) {
    case ICMP_DEST_UNREACH:
      switch (code) {
        case ICMP_NET_UNREACH:
        case ICMP_NET_UNKNOWN:
        case ICMP_NET_ANO:
        case ICMP_NET_UNR_TOS:
          return kIcmpDestinationNetUnreachable;
        case ICMP_PROT_UNREACH:
          return kIcmpDestinationProtocolUnreachable;
        case ICMP_PORT_UNREACH:
          return kIcmpDestinationPortUnreachable;
        case ICMP_FRAG_NEEDED:
          return kIcmpPacketTooBig;
        case ICMP_SR_FAILED:
          return kIcmpBadRoute;
        default:
          return kIcmpDestinationHostUnreachable;
      }
    case ICMP_TIME_EXCEEDED:
      return code == ICMP_EXC_FRAGTIME ? kIcmpTtlExpiredReassembly : kIcmpTtlExpiredTransit;
    case ICMP_PARAMETERPROB:
      return kIcmpParameterProblem;
    case ICMP_SOURCE_QUENCH:
      return kIcmpSourceQuench;
    default:
      return kIcmpGeneralFailure;
  }
}

int32_t StatusOfErrno(int error) {
  switch (error) {
    case ENETUNREACH:
      return kIcmpDestinationNetUnreachable;
    case EHOSTUNREACH:
      return kIcmpDestinationHostUnreachable;
    case EACCES:
    case EPERM:
      return kIcmpNoPermission;
    case ENOBUFS:
    case ENOMEM:
      return kIcmpNoResources;
    case EMSGSIZE:
      return kIcmpPacketTooBig;
    default:
      return kIcmpGeneralFailure;
  }
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

PingResult Failed(int32_t status, int32_t timeout_ms) {
  return PingResult{"*** errore : " + Icmp_StatusText(status), timeout_ms, true, status};
}

// What one received datagram says about our echo: nothing (not ours), a reply, an error.
struct Answer {
  bool ours = false;
  int32_t status = kIcmpSuccess;
};

// Raw sockets see every ICMP packet of the machine, IP header first: keep the echo reply
// and the errors that quote our echo (same identifier and sequence).
Answer ParseRaw(const uint8_t* p, size_t n, uint32_t address, uint16_t id, uint16_t seq) {
  Answer a;
  if (n < sizeof(iphdr)) return a;
  const iphdr* ip = reinterpret_cast<const iphdr*>(p);
  const size_t ip_len = size_t(ip->ihl) * 4;
  if (ip_len < sizeof(iphdr) || n < ip_len + sizeof(icmphdr)) return a;
  icmphdr icmp;
  std::memcpy(&icmp, p + ip_len, sizeof icmp);
  if (icmp.type == ICMP_ECHOREPLY) {
    a.ours = ip->saddr == address && icmp.un.echo.id == id && icmp.un.echo.sequence == seq;
    return a;
  }
  if (icmp.type == ICMP_ECHO) return a;  // our own request, seen on loopback
  // An error quotes the IP header and the first 8 bytes of the packet that caused it.
  const uint8_t* quoted = p + ip_len + sizeof(icmphdr);
  const size_t quoted_n = n - ip_len - sizeof(icmphdr);
  if (quoted_n < sizeof(iphdr)) return a;
  const iphdr* qip = reinterpret_cast<const iphdr*>(quoted);
  const size_t qip_len = size_t(qip->ihl) * 4;
  if (qip_len < sizeof(iphdr) || quoted_n < qip_len + 8 || qip->protocol != IPPROTO_ICMP) return a;
  icmphdr qicmp;
  std::memcpy(&qicmp, quoted + qip_len, sizeof qicmp);
  if (qicmp.type != ICMP_ECHO || qicmp.un.echo.id != id || qicmp.un.echo.sequence != seq) return a;
  a.ours = true;
  a.status = StatusOfIcmpError(icmp.type, icmp.code);
  return a;
}

// Datagram sockets get only replies to this socket's echoes (the kernel sets the
// identifier), ICMP header first.
Answer ParseDatagram(const uint8_t* p, size_t n, uint16_t seq) {
  Answer a;
  if (n < sizeof(icmphdr)) return a;
  icmphdr icmp;
  std::memcpy(&icmp, p, sizeof icmp);
  a.ours = icmp.type == ICMP_ECHOREPLY && icmp.un.echo.sequence == seq;
  return a;
}

// An ICMP error queued on a datagram socket (IP_RECVERR).
Answer ReadErrorQueue(int fd) {
  Answer a;
  uint8_t data[512];
  uint8_t control[512];
  iovec iov{data, sizeof data};
  msghdr msg{};
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  if (::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) return a;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR) continue;
    sock_extended_err err;
    std::memcpy(&err, CMSG_DATA(c), sizeof err);
    a.ours = true;
    a.status = err.ee_origin == SO_EE_ORIGIN_ICMP ? StatusOfIcmpError(err.ee_type, err.ee_code)
                                                  : StatusOfErrno(int(err.ee_errno));
  }
  return a;
}

}  // namespace

std::string Icmp_StatusText(int32_t status) {
  switch (status) {
    case 0:
      return "Success";
    case 11000:
      return "Status base";
    case 11001:
      return "Buffer to small";
    case 11002:
      return "Destination network unreachable";
    case 11003:
      return "Destination host unreachable";
    case 11004:
      return "Destination protocol unreachable";
    case 11005:
      return "Destination port unreachable";
    case 11006:
      return "No resources";
    case 11007:
      return "Bad option";
    case 11008:
      return "hw error";
    case 11009:
      return "Packet to big";
    case 11010:
      return "Requested IP timed out";
    case 11011:
      return "Bad request";
    case 11012:
      return "Bad route";
    case 11013:
      return "Time to live expired transmition";
    case 11014:
      return "Time ti live expired reassem";
    case 11015:
      return "Param problems";
    case 11016:
      return "Source quench";
    case 11017:
      return "Option too big";
    case 11018:
      return "Bad destination";
    case 11019:
      return "Address deleted";
    case 11020:
      return "Spec mtu changed";
    case 11021:
      return "Mtu changed";
    case 11022:
      return "Unloaded";
    case 11023:
      return "Address added";
    case 11050:
      return "General failure";
    case 11255:
      return "Ip pending";
    case kIcmpNoPermission:
      return "No permission to ping";
    case kIcmpStopped:
      return "Attesa interrotta";
    default:
      return "Unindentified";
  }
}

PingResult Ping_Host(Program& program, int32_t ttl, int32_t timeout_ms, uint32_t address) {
  using Clock = std::chrono::steady_clock;
  if (timeout_ms < 0) timeout_ms = 0;
  // A datagram socket where net.ipv4.ping_group_range lets this process have one, a raw
  // socket (root or CAP_NET_RAW) otherwise.
  bool raw = false;
  int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (s < 0) {
    raw = true;
    s = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  }
  const int open_error = errno;
  Fd owner(s);
  if (s < 0) return Failed(StatusOfErrno(open_error), timeout_ms);

  if (ttl > 0 && ttl <= 255) setsockopt(s, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
  if (!raw) {
    const int on = 1;
    setsockopt(s, SOL_IP, IP_RECVERR, &on, sizeof on);
  }

  static std::atomic<uint16_t> next_sequence{1};
  const uint16_t seq = htons(next_sequence++);
  const uint16_t id = htons(uint16_t(::getpid()));
  uint8_t packet[sizeof(icmphdr) + kEchoDataLength];
  icmphdr header{};
  header.type = ICMP_ECHO;
  header.code = 0;
  header.un.echo.id = id;
  header.un.echo.sequence = seq;
  std::memcpy(packet, &header, sizeof header);
  std::memcpy(packet + sizeof header, kEchoData, kEchoDataLength);
  header.checksum = Checksum(packet, sizeof packet);
  std::memcpy(packet, &header, sizeof header);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  const auto start = Clock::now();
  ssize_t sent;
  while ((sent = ::sendto(s, packet, sizeof packet, 0, reinterpret_cast<const sockaddr*>(&to),
                          sizeof to)) < 0 &&
         errno == EINTR) {
  }
  if (sent < 0) return Failed(StatusOfErrno(errno), timeout_ms);

  EchoWait wait;
  wait.fd = s;
  wait.raw = raw;
  wait.address = address;
  wait.id = id;
  wait.sequence = seq;
  wait.sent = start;
  wait.timeout_ms = timeout_ms;
  return AwaitEcho(program, wait);
}

PingResult AwaitEcho(Program& program, const EchoWait& wait) {
  using Clock = std::chrono::steady_clock;
  const int s = wait.fd;
  const int32_t timeout_ms = wait.timeout_ms;
  // After every poll that did not bring our answer the events run; false on a stop request.
  auto let_events_run = [&] {
    program.ProcessEvents();
    return !program.state.StopRequested();
  };
  const auto deadline = wait.sent + std::chrono::milliseconds(timeout_ms);
  while (true) {
    const auto now = Clock::now();
    if (now >= deadline) return Failed(kIcmpRequestTimedOut, timeout_ms);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    pollfd p{s, POLLIN, 0};
    const int rc = ::poll(&p, 1, int(std::min(left, kPingPause).count()));
    if (rc < 0 && errno != EINTR) return Failed(kIcmpGeneralFailure, timeout_ms);
    if (rc <= 0) {
      if (!let_events_run()) return Failed(kIcmpStopped, timeout_ms);
      continue;
    }
    Answer answer;
    if ((p.revents & POLLERR) != 0 && !wait.raw) {
      answer = ReadErrorQueue(s);
    } else if ((p.revents & POLLIN) != 0) {
      uint8_t buffer[1500];
      const ssize_t n = ::recv(s, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0) {
        if (!let_events_run()) return Failed(kIcmpStopped, timeout_ms);
        continue;
      }
      answer = wait.raw ? ParseRaw(buffer, size_t(n), wait.address, wait.id, wait.sequence)
                        : ParseDatagram(buffer, size_t(n), wait.sequence);
    }
    if (!answer.ours) {
      if (!let_events_run()) return Failed(kIcmpStopped, timeout_ms);
      continue;
    }
    if (answer.status != kIcmpSuccess) return Failed(answer.status, timeout_ms);
    const int32_t rtt = int32_t(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - wait.sent).count());
    if (rtt > timeout_ms) return Failed(kIcmpRequestTimedOut, timeout_ms);
    return PingResult{"   OK : completato in " + std::to_string(rtt) + "ms.", rtt, false,
                      kIcmpSuccess};
  }
}

bool Tcp_Risponde(Program& program, uint32_t address, int32_t port, int32_t timeout_ms) {
  using Clock = std::chrono::steady_clock;
  if (port < 1 || port > 65535) return false;
  Fd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (s.get() < 0) return false;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(port));
  to.sin_addr.s_addr = address;
  if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return true;
  if (errno == ECONNREFUSED) return true;
  if (errno != EINPROGRESS && errno != EINTR) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeout_ms, 0));
  while (Clock::now() < deadline) {
    pollfd p{s.get(), POLLOUT, 0};
    const int rc = ::poll(&p, 1, int(kPingPause.count()));
    if (rc > 0) {
      int error = 0;
      socklen_t size = sizeof error;
      if (getsockopt(s.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return false;
      return error == 0 || error == ECONNREFUSED;
    }
    if (rc < 0 && errno != EINTR) return false;
    program.ProcessEvents();
    if (program.state.StopRequested()) return false;
  }
  return false;
}

}  // namespace torvan::hostlink
