#include "hostlink/socket_layer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace torvan::hostlink {

namespace {

constexpr uint32_t kNoAddress = 0xFFFFFFFFu;

void CountEmptyPoll(int32_t& counter) {
  if (counter < INT32_MAX) ++counter;
}

Status SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    return PosixError("fcntl O_NONBLOCK", errno);
  }
  return Status::Ok();
}

void CloseFd(int fd) {
  if (fd >= 0) ::close(fd);  // EINTR on close: the descriptor is gone anyway on Linux
}

}  // namespace

SocketLayer::SocketLayer(Program& program) : program_(program) {}

SocketLayer::~SocketLayer() {
  for (int slot = 0; slot < kSlots; ++slot) Sock_Close(slot);
}

bool SocketLayer::Sock_Start(const std::string& table_path, std::string* description) {
  if (started_) return true;
  started_ = true;
  if (description != nullptr) *description = "POSIX sockets (TCP/IPv4)";
  table_status_ = LoadCharTables(table_path, &tables_);
  return true;
}

void SocketLayer::Sock_Stop() {
  for (int slot = 0; slot < kSlots; ++slot) Sock_Close(slot);
  started_ = false;
}

std::chrono::milliseconds SocketLayer::Attesa() const {
  const int32_t ms = program_.settings.parametri.Attesa_Sincronizz;
  return std::chrono::milliseconds(ms > 0 ? ms : 0);
}

uint32_t SocketLayer::Sock_Resolve(std::string_view host) {
  const std::string name(host);
  in_addr dotted{};
  if (inet_pton(AF_INET, name.c_str(), &dotted) == 1) return dotted.s_addr;
  if (name.empty()) return kNoAddress;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    return kNoAddress;
  }
  uint32_t address = kNoAddress;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
      address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
      break;
    }
  }
  freeaddrinfo(found);
  return address;
}

std::string SocketLayer::Sock_AddressText(uint32_t address) {
  in_addr a{};
  a.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &a, text, sizeof text) == nullptr) return "255.255.255.255";
  return text;
}

int SocketLayer::Sock_SetLinger(int fd, bool on, int seconds) {
  linger set{};
  set.l_onoff = on ? 1 : 0;
  set.l_linger = seconds;
  if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &set, sizeof set) != 0) return -1;
  linger got{};
  socklen_t size = sizeof got;
  if (getsockopt(fd, SOL_SOCKET, SO_LINGER, &got, &size) != 0) return -1;
  return 0;
}

bool SocketLayer::Sock_Connect(int slot, std::string_view host, int32_t port,
                               std::string* address_text) {
  if (!ValidSlot(slot)) return false;
  fill_ = 0;
  if (port < 1 || port > 65534) return false;
  const uint32_t address = Sock_Resolve(host);
  if (address == kNoAddress) return false;
  if (address_text != nullptr)
    *address_text = Sock_AddressText(address) + ":" + std::to_string(port);

  Sock_Close(slot);
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd < 0) return false;
  if (Sock_SetLinger(fd, true, 0) != 0) {
    CloseFd(fd);
    return false;
  }
  // Requests are small and answered at once: send each without waiting to fill a segment.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(uint16_t(port));
  to.sin_addr.s_addr = address;
  // The socket is non-blocking: the connection goes on in the background (EINPROGRESS,
  // or EINTR) and is awaited in polls that let events run.
  const int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  const bool connected =
      rc == 0 || ((errno == EINPROGRESS || errno == EINTR) && AwaitConnection(fd));
  if (!connected) {
    CloseFd(fd);
    return false;
  }
  // Events ran meanwhile: whatever they left in the slot or the buffer is not this
  // conversation's.
  MarkClosed(slot);
  fill_ = 0;
  sockets_[slot] = fd;
  return true;
}

bool SocketLayer::AwaitConnection(int fd) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + limits_.connect;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLOUT, 0};
    const int rc = ::poll(&p, 1, int(std::clamp<int64_t>(left, 0, kConnectPause.count())));
    if (rc > 0) {
      // Writable: the connection was made or refused; SO_ERROR tells which.
      int error = 0;
      socklen_t size = sizeof error;
      return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
    }
    if (rc < 0 && errno != EINTR) return false;
    program_.pump->ProcessEvents();
    if (program_.state.StopRequested() || Clock::now() >= deadline) return false;
  }
}

Status SocketLayer::Sock_Adopt(int slot, int fd) {
  if (!ValidSlot(slot)) return Status::InvalidArgument("slot " + std::to_string(slot));
  Status s = SetNonBlocking(fd);
  if (!s.ok()) return s;
  Sock_Close(slot);
  sockets_[slot] = fd;
  fill_ = 0;
  return Status::Ok();
}

void SocketLayer::Sock_Close(int slot) {
  if (!ValidSlot(slot)) return;
  MarkClosed(slot);
  fill_ = 0;
}

void SocketLayer::MarkClosed(int slot) {
  CloseFd(sockets_[slot]);
  sockets_[slot] = -1;
}

bool SocketLayer::connected(int slot) const { return Fd(slot) >= 0; }

bool SocketLayer::StopEndsWait() const {
  const RunState& state = program_.state;
  if (state.Fine_Richiesta) return true;
  // The operator's stop lets an exchange that is under way finish; it ends the wait for a
  // host that has stayed silent a while.
  return state.Stop_Richiesto && std::chrono::steady_clock::now() - empty_since_ >= kStopGrace;
}

Status SocketLayer::SendAll(int slot, const char* bytes, size_t n) {
  int32_t waits = 0;
  size_t sent = 0;
  while (sent < n) {
    const int fd = Fd(slot);
    if (fd < 0) return Status::Closed("send on slot " + std::to_string(slot) + ": no socket");
    // MSG_NOSIGNAL: a host that closed the connection is an error here, not a SIGPIPE
    // that ends Torvan.
    const ssize_t r = ::send(fd, bytes + sent, n - sent, MSG_NOSIGNAL);
    if (r > 0) {
      sent += size_t(r);
      continue;
    }
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      const int error = errno;
      MarkClosed(slot);  // the connection is gone: every later read fails at once
      return PosixError("send", error);
    }
    // The socket's send buffer is full: wait for room like a read waits for data.
    if (++waits > limits_.read) {
      return Status::TimedOut("send: " + std::to_string(n - sent) + " bytes not taken");
    }
    pollfd p{fd, POLLOUT, 0};
    const auto pause = std::max(Attesa(), std::chrono::milliseconds(1));
    ::poll(&p, 1, int(pause.count()));
    if (waits == 1) empty_since_ = std::chrono::steady_clock::now();
    program_.pump->ProcessEvents();
    if (StopEndsWait()) {
      return Status::TimedOut("send: stopped with " + std::to_string(n - sent) +
                              " bytes not taken");
    }
  }
  return Status::Ok();
}

Status SocketLayer::Sock_Send(int slot, std::string_view text, int32_t n) {
  if (!ValidSlot(slot)) return Status::InvalidArgument("slot " + std::to_string(slot));
  if (n <= 0) return Status::Ok();
  const size_t length = size_t(n);
  const size_t m = std::min(text.size(), length);
  std::string frame(length, char(tables_.PcToHost(' ')));
  for (size_t i = 0; i < m; ++i) frame[i] = char(tables_.PcToHost(uint8_t(text[i])));
  return SendAll(slot, frame.data(), frame.size());
}

Status SocketLayer::Sock_SendRaw(int slot, std::string_view bytes) {
  if (!ValidSlot(slot)) return Status::InvalidArgument("slot " + std::to_string(slot));
  return SendAll(slot, bytes.data(), bytes.size());
}

bool SocketLayer::WaitForData(int fd, std::chrono::milliseconds pause) {
  pollfd p{fd, POLLIN, 0};
  const int rc = ::poll(&p, 1, int(pause.count()));
  // EINTR: a signal cut the wait short; poll again without counting an empty poll.
  if (rc < 0) return errno == EINTR;
  return rc > 0;
}

SocketLayer::Poll SocketLayer::PollOnce(int slot, std::chrono::milliseconds pause, int32_t limit,
                                        int32_t& empty_polls, int32_t* counter) {
  const int fd = Fd(slot);
  if (fd < 0) return Poll::kClosed;  // never connected, closed by the host or by an event
  if (fill_ == receive_.size()) return Poll::kFull;
  const ssize_t r = ::recv(fd, receive_.data() + fill_, receive_.size() - fill_, 0);
  if (r > 0) {
    fill_ += size_t(r);
    return Poll::kData;
  }
  if (r < 0 && errno == EINTR) return Poll::kData;
  if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
    // The host closed the connection (or reset it): nothing more will come.
    MarkClosed(slot);
    return Poll::kClosed;
  }
  // Nothing yet: wait for it, but no longer than one pause.
  if (WaitForData(fd, pause)) {
    program_.pump->ProcessEvents();
    return Poll::kData;
  }
  if (counter != nullptr) CountEmptyPoll(*counter);
  if (++empty_polls == 1) empty_since_ = std::chrono::steady_clock::now();
  if (empty_polls > limit) return Poll::kLimit;
  if (on_silence) {
    on_silence(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - empty_since_));
  }
  program_.pump->ProcessEvents();
  if (StopEndsWait()) return Poll::kStopped;
  return Poll::kEmpty;
}

SocketLayer::ReadEnd SocketLayer::Fill(int slot, size_t n, int32_t& counter) {
  int32_t empty_polls = 0;
  while (fill_ < n) {
    switch (PollOnce(slot, Attesa(), limits_.read, empty_polls, &counter)) {
      case Poll::kLimit:
        return ReadEnd::kLimit;
      case Poll::kClosed:
        return ReadEnd::kClosed;
      case Poll::kStopped:
        return ReadEnd::kStopped;
      case Poll::kData:
      case Poll::kEmpty:
      case Poll::kFull:  // cannot happen: n is at most half the buffer
        break;
    }
  }
  return ReadEnd::kDone;
}

void SocketLayer::Take(size_t n, char* to) {
  if (to != nullptr) std::memcpy(to, receive_.data(), n);
  std::memmove(receive_.data(), receive_.data() + n, fill_ - n);
  fill_ -= n;
}

bool SocketLayer::Sock_Read(int slot, int32_t n, int32_t& counter) {
  if (n < 1 || n > kMaxReplyData || !ValidSlot(slot)) return false;
  if (Fill(slot, size_t(n), counter) != ReadEnd::kDone) return false;
  Take(size_t(n), message_.data());
  message_length_ = size_t(n);
  return true;
}

bool SocketLayer::Sock_ReadText(int slot, int32_t n, int32_t& counter, std::string* bytes) {
  if (n < 1 || n > kMaxReplyData || !ValidSlot(slot)) return false;
  if (Fill(slot, size_t(n), counter) != ReadEnd::kDone) return false;
  bytes->resize(size_t(n));
  Take(size_t(n), bytes->data());
  return true;
}

SocketLayer::ReadEnd SocketLayer::ReadLine(int slot, std::string* line, bool wait) {
  line->clear();
  if (!ValidSlot(slot)) return ReadEnd::kClosed;
  const int32_t limit = wait ? limits_.line_wait : limits_.line_no_wait;
  int32_t empty_polls = 0;
  for (;;) {
    const std::string_view held(receive_.data(), fill_);
    const size_t end = held.find("\r\n");
    if (end != std::string_view::npos) {
      line->assign(held.substr(0, end));
      Take(end + 2, nullptr);
      return ReadEnd::kDone;
    }
    switch (PollOnce(slot, limits_.line_pause, limit, empty_polls, nullptr)) {
      case Poll::kLimit:
        return ReadEnd::kLimit;
      case Poll::kClosed:
        return ReadEnd::kClosed;
      case Poll::kStopped:
        return ReadEnd::kStopped;
      case Poll::kFull:
        // A whole buffer without a line end is no line of any protocol Torvan speaks.
        fill_ = 0;
        return ReadEnd::kTooLong;
      case Poll::kData:
      case Poll::kEmpty:
        break;
    }
  }
}

bool SocketLayer::Sock_ReadLine(int slot, std::string* line, bool wait) {
  if (ReadLine(slot, line, wait) == ReadEnd::kDone) return true;
  line->assign(1, wait ? '?' : '>');
  return false;
}

FieldText SocketLayer::Field_Decode(char type, int32_t start, int32_t length, int32_t digits,
                                    int32_t decimals) const {
  return hostlink::Field_Decode(tables_, MessageBuffer(), type, start, length, digits, decimals);
}

FieldText SocketLayer::Field_DecodeAmount(int32_t start) const {
  return hostlink::Field_DecodeAmount(MessageBuffer(), start);
}

std::string_view SocketLayer::MessageBuffer() const {
  return std::string_view(message_.data(), message_.size());
}

std::string_view SocketLayer::MessageData() const {
  return std::string_view(message_.data(), message_length_);
}

}  // namespace torvan::hostlink
