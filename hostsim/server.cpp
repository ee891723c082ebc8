#include "hostsim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <unordered_map>

#include "core/text.h"
#include "hostlink/char_table.h"
#include "hostsim/ctl_client.h"
#include "hostsim/ctl_command.h"
#include "hostsim/ftp_session.h"
#include "hostsim/host_session.h"
#include "platform/file.h"

#ifndef TORVAN_DEFAULT_CHAR_TABLE
#define TORVAN_DEFAULT_CHAR_TABLE "data/TnC_TBL1.Tbl"
#endif

namespace torvan::hostsim {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr char kServerProgram[] = "TNM_121";
// Pause between the segments of a split reply, so each leaves as a segment of its own.
constexpr auto kSplitGap = std::chrono::milliseconds(2);
// A connection whose replies pile up unread is not read until they drain.
constexpr size_t kMaxUnsent = 4 << 20;
constexpr size_t kReadChunk = 65536;
// Acknowledgements reach the journal in batches: at this size or after this time.
constexpr size_t kAckBatchBytes = 64 << 10;
constexpr auto kAckBatchTime = std::chrono::milliseconds(50);

void Log(const std::string& line) {
  std::fprintf(stderr, "torvan-host: %s\n", line.c_str());
  std::fflush(stderr);
}

enum class Kind { kFtp, kHost, kCtl };

struct Segment {
  std::string bytes;
  SteadyClock::time_point due;
  bool close_after = false;
};

struct Conn {
  int fd = -1;
  Kind kind = Kind::kHost;
  std::string peer;
  std::unique_ptr<HostSession> host;
  std::unique_ptr<FtpSession> ftp;
  std::string ctl_input;

  std::string out;  // bytes being sent now
  size_t out_pos = 0;
  bool close_after_out = false;  // `out` is the last segment before closing
  std::deque<Segment> later;     // replies shaped by faults, in order
  bool has_held = false;         // a reply held to go out with the next one
  std::string held;
  SteadyClock::time_point held_due;

  bool cut = false;              // a reply was cut short: nothing more is sent
  bool reading = true;           // input is still read and answered
  bool close_when_sent = false;  // close once everything queued is sent
  bool write_armed = false;      // EPOLLOUT registered
  bool read_armed = true;        // EPOLLIN registered
  bool closed = false;

  bool Timed() const { return !later.empty() || has_held; }
};

}  // namespace

std::string DefaultTablePath() { return TORVAN_DEFAULT_CHAR_TABLE; }

class Server::Impl {
 public:
  explicit Impl(ServerOptions options) : opt_(std::move(options)) {
    folder_.dir = opt_.data_dir;
    while (folder_.dir.size() > 1 && folder_.dir.back() == '/') folder_.dir.pop_back();
    clock_ = opt_.clock != nullptr ? opt_.clock : platform::SystemClock();
  }

  ~Impl() {
    for (auto& [fd, conn] : conns_) ::close(fd);
    for (auto& [fd, l] : listeners_) ::close(fd);
    if (ctl_fd_ >= 0) {
      ::close(ctl_fd_);
      ::unlink(folder_.CtlSocket().c_str());
    }
    if (started_) ::unlink(folder_.Ports().c_str());
    if (epoll_fd_ >= 0) ::close(epoll_fd_);
    if (wake_fd_ >= 0) ::close(wake_fd_);
    if (lock_fd_ >= 0) ::close(lock_fd_);
    if (spare_fd_ >= 0) ::close(spare_fd_);
  }

  Status Start(std::string* notes);
  Status Run();
  void Stop() {
    uint64_t one = 1;
    // Nothing to do when it fails: the counter is already non-zero.
    [[maybe_unused]] ssize_t n = ::write(wake_fd_, &one, sizeof one);
  }
  int ftp_port() const { return ftp_port_; }
  std::vector<int> host_ports() const {
    std::vector<int> ports;
    for (const auto& [fd, l] : listeners_) {
      if (l.kind == Kind::kHost) ports.push_back(l.port);
    }
    std::sort(ports.begin(), ports.end());
    return ports;
  }

 private:
  struct Listener {
    Kind kind;
    int port;
  };

  Status Listen(Kind kind, int port, int* bound_port);
  Status ListenCtl();
  Status WritePorts();
  void Watch(int fd, uint32_t events);
  void Accept(int listen_fd, Kind kind);
  void Read(Conn* c);
  void Queue(Conn* c, std::string reply, const Faults::Shape& shape);
  void Pump(Conn* c);
  void UpdateEvents(Conn* c);
  void Close(Conn* c);
  int TimeoutMs();
  void ReleaseTimed();
  bool Login(const std::string& user, const std::string& password);
  RemoteCommandResult RemoteCommand(const std::string& command);
  std::string StatusText();

  ServerOptions opt_;
  DataFolder folder_;
  platform::Clock* clock_;
  hostlink::CharTables tables_;
  std::unique_ptr<RecordCodec> codec_;
  std::unique_ptr<HostStore> store_;
  Faults faults_;
  HostContext host_context_;
  CtlContext ctl_context_;

  int epoll_fd_ = -1, wake_fd_ = -1, lock_fd_ = -1, ctl_fd_ = -1;
  int spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  int ftp_port_ = -1;
  std::string listen_address_;
  bool started_ = false;
  bool stopping_ = false;
  SteadyClock::time_point last_flush_ = SteadyClock::now();
  std::unordered_map<int, Listener> listeners_;
  std::unordered_map<int, std::unique_ptr<Conn>> conns_;
  std::vector<Conn*> touched_;
  std::vector<std::string> replies_;  // kept to spare an allocation per read
  std::vector<int> dead_;
};

Status Server::Impl::Start(std::string* notes) {
  if (folder_.dir.empty()) return Status::InvalidArgument("no data folder given");
  lock_fd_ = ::open(folder_.Lock().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock_fd_ < 0) return PosixError("open " + folder_.Lock(), errno);
  if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
    return Status::IoError("another torvan-host is serving " + folder_.dir);
  }

  std::string table = opt_.table_path;
  if (table.empty()) {
    table = folder_.dir + "/" + hostlink::kCharTableFileName;
    if (!platform::FileExists(table)) table = DefaultTablePath();
  }
  Status s = hostlink::LoadCharTables(table, &tables_);
  if (!s.ok()) return Status::IoError("character table: " + s.message());
  codec_ = std::make_unique<RecordCodec>(tables_);

  s = HostStore::Open(folder_, *codec_, clock_, &store_, notes);
  if (!s.ok()) return s;
  const HostConfig& config = store_->data().config;
  host_context_ = {store_.get(), &tables_, clock_, &faults_, opt_.verbose};
  ctl_context_.store = store_.get();
  ctl_context_.faults = &faults_;
  ctl_context_.status = [this] { return StatusText(); };
  ctl_context_.shutdown = [this] { stopping_ = true; };

  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd_ < 0) return PosixError("epoll_create1", errno);
  wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd_ < 0) return PosixError("eventfd", errno);
  Watch(wake_fd_, EPOLLIN);

  listen_address_ = opt_.listen.empty() ? config.listen : opt_.listen;
  const int ftp_port = opt_.ftp_port == -2 ? config.ftp_port : opt_.ftp_port;
  const int port = opt_.port == -2 ? config.port : opt_.port;
  if (ftp_port >= 0) {
    s = Listen(Kind::kFtp, ftp_port, &ftp_port_);
    if (!s.ok()) return s;
  }
  if (port >= 0) {
    int bound = 0;
    s = Listen(Kind::kHost, port, &bound);
    if (!s.ok()) return s;
  }
  s = ListenCtl();
  if (!s.ok()) return s;
  started_ = true;
  return WritePorts();
}

Status Server::Impl::Listen(Kind kind, int port, int* bound_port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string port_text = std::to_string(port);
  int rc = ::getaddrinfo(listen_address_.c_str(), port_text.c_str(), &hints, &found);
  if (rc != 0 || found == nullptr) {
    return Status::InvalidArgument("listen address " + listen_address_ + ": " + ::gai_strerror(rc));
  }
  const std::string where = listen_address_ + ":" + port_text;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ::freeaddrinfo(found);
    return PosixError("socket", errno);
  }
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  Status s;
  if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
    s = PosixError("bind " + where, errno);
  } else if (::listen(fd, 64) != 0) {
    s = PosixError("listen " + where, errno);
  }
  ::freeaddrinfo(found);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (s.ok() && ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    s = PosixError("getsockname", errno);
  }
  if (!s.ok()) {
    ::close(fd);
    return s;
  }
  *bound_port = ntohs(addr.sin_port);
  listeners_[fd] = {kind, *bound_port};
  Watch(fd, EPOLLIN);
  if (opt_.print_ports) {
    std::printf("torvan-host: %s %s:%d\n", kind == Kind::kFtp ? "ftp" : "host",
                listen_address_.c_str(), *bound_port);
    std::fflush(stdout);
  }
  return Status::Ok();
}

Status Server::Impl::ListenCtl() {
  const std::string path = folder_.CtlSocket();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    return Status::InvalidArgument("the data folder's path is too long for " + path);
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  // The lock is ours, so a socket file left here belongs to a server that is gone.
  ::unlink(path.c_str());
  ctl_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (ctl_fd_ < 0) return PosixError("socket", errno);
  if (::bind(ctl_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    return PosixError("bind " + path, errno);
  }
  if (::listen(ctl_fd_, 16) != 0) return PosixError("listen " + path, errno);
  Watch(ctl_fd_, EPOLLIN);
  return Status::Ok();
}

Status Server::Impl::WritePorts() {
  std::string text;
  if (ftp_port_ >= 0) text += "ftp " + std::to_string(ftp_port_) + "\n";
  for (int p : host_ports()) text += "host " + std::to_string(p) + "\n";
  return platform::WriteFileAtomic(folder_.Ports(), text, 0644);
}

void Server::Impl::Watch(int fd, uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.fd = fd;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
}

void Server::Impl::Accept(int listen_fd, Kind kind) {
  for (;;) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    int fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&addr), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if ((errno == EMFILE || errno == ENFILE) && spare_fd_ >= 0) {
        // Out of descriptors: take the connection with the spare one and close it at once,
        // or the listener would stay readable and the loop would spin.
        Log("accept: " + std::string(strerror(errno)) + ": a connection was refused");
        ::close(spare_fd_);
        int refused = ::accept(listen_fd, nullptr, nullptr);
        if (refused >= 0) ::close(refused);
        spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        continue;
      }
      if (errno != EAGAIN && errno != EWOULDBLOCK) Log("accept: " + std::string(strerror(errno)));
      return;
    }
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    c->kind = kind;
    if (kind != Kind::kCtl) {
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      char text[INET_ADDRSTRLEN] = "?";
      auto* in = reinterpret_cast<sockaddr_in*>(&addr);
      ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
      c->peer = std::string(text) + ":" + std::to_string(ntohs(in->sin_port));
    }
    if (kind == Kind::kHost) {
      c->host = std::make_unique<HostSession>(&host_context_);
      c->out = HostSession::Greeting(tables_);
      Log("host connection from " + c->peer + " on port " +
          std::to_string(listeners_[listen_fd].port));
    } else if (kind == Kind::kFtp) {
      c->ftp = std::make_unique<FtpSession>(FtpSession::Hooks{
          [this](const std::string& u, const std::string& p) { return Login(u, p); },
          [this](const std::string& cmd) { return RemoteCommand(cmd); }});
      c->out = FtpSession::Greeting();
    }
    Conn* raw = c.get();
    conns_[fd] = std::move(c);
    Watch(fd, EPOLLIN | EPOLLRDHUP);
    touched_.push_back(raw);
  }
}

void Server::Impl::Read(Conn* c) {
  char buf[kReadChunk];
  while (c->reading && !c->closed) {
    ssize_t n = ::recv(c->fd, buf, sizeof buf, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) Close(c);
      return;
    }
    if (n == 0) {
      // The client is done sending: what it asked is still answered, then the connection
      // closes. An unacknowledged change stays queued.
      c->reading = false;
      c->close_when_sent = true;
      touched_.push_back(c);
      return;
    }
    std::string_view bytes(buf, size_t(n));
    bool keep = true;
    if (c->kind == Kind::kHost) {
      replies_.clear();
      keep = c->host->Receive(bytes, &replies_);
      for (std::string& r : replies_) Queue(c, std::move(r), faults_.TakeReplyShape());
    } else if (c->kind == Kind::kFtp) {
      keep = c->ftp->Receive(bytes, &c->out);
    } else {
      c->ctl_input.append(bytes);
      std::vector<std::string> args;
      CtlDecode d = DecodeCtlRequest(c->ctl_input, &args);
      if (d == CtlDecode::kIncomplete) continue;
      c->out +=
          EncodeCtlReply(d == CtlDecode::kComplete ? RunCtl(ctl_context_, args)
                                                   : CtlResult{2, "malformed control request\n"});
      keep = false;
    }
    if (!keep) {
      c->reading = false;
      c->close_when_sent = true;
    }
    touched_.push_back(c);
    // epoll reports the socket again while more is waiting; a read that filled the buffer
    // is likely to have more behind it.
    if (size_t(n) < sizeof buf || c->out.size() - c->out_pos > kMaxUnsent) break;
  }
}

void Server::Impl::Queue(Conn* c, std::string reply, const Faults::Shape& shape) {
  if (c->cut) return;
  if (shape.corrupt_length && reply.size() >= 6) {
    for (size_t i = 1; i < 6; ++i) reply[i] = char(tables_.PcToHost('X'));
  }
  const auto now = SteadyClock::now();
  if (c->has_held) {
    reply = std::move(c->held) + reply;
    c->held.clear();
    c->has_held = false;
  }
  if (shape.pair_hold_ms >= 0) {
    c->held = std::move(reply);
    c->has_held = true;
    c->held_due = now + std::chrono::milliseconds(shape.pair_hold_ms);
    return;
  }
  const bool cut = shape.close_after >= 0;
  if (cut) {
    reply.resize(std::min(reply.size(), size_t(shape.close_after)));
    c->cut = true;
    c->reading = false;
    c->close_when_sent = true;
  }
  if (!cut && shape.split == 0 && shape.delay_ms == 0 && c->later.empty()) {
    if (c->out.empty()) {
      c->out = std::move(reply);
    } else {
      c->out += reply;
    }
    return;
  }
  auto due = now + std::chrono::milliseconds(shape.delay_ms);
  if (!c->later.empty()) due = std::max(due, c->later.back().due);
  const size_t piece = shape.split > 0 ? size_t(shape.split) : std::max<size_t>(reply.size(), 1);
  size_t pos = 0;
  do {
    Segment s;
    s.bytes = reply.substr(pos, piece);
    s.due = due;
    pos += piece;
    s.close_after = cut && pos >= reply.size();
    c->later.push_back(std::move(s));
    due += kSplitGap;
  } while (pos < reply.size());
}

void Server::Impl::Pump(Conn* c) {
  if (c->closed) return;
  const auto now = SteadyClock::now();
  for (;;) {
    while (c->out_pos < c->out.size()) {
      ssize_t n =
          ::send(c->fd, c->out.data() + c->out_pos, c->out.size() - c->out_pos, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          UpdateEvents(c);
          return;
        }
        Close(c);
        return;
      }
      c->out_pos += size_t(n);
    }
    c->out.clear();
    c->out_pos = 0;
    if (c->close_after_out) {
      Close(c);
      return;
    }
    if (c->later.empty() || c->later.front().due > now) break;
    c->out = std::move(c->later.front().bytes);
    c->close_after_out = c->later.front().close_after;
    c->later.pop_front();
  }
  if (c->close_when_sent && !c->Timed()) {
    Close(c);
    return;
  }
  UpdateEvents(c);
}

void Server::Impl::UpdateEvents(Conn* c) {
  const bool want_write = c->out_pos < c->out.size();
  const bool want_read = c->reading && c->out.size() - c->out_pos <= kMaxUnsent;
  if (want_write == c->write_armed && want_read == c->read_armed) return;
  epoll_event ev{};
  ev.events =
      (want_read ? uint32_t(EPOLLIN | EPOLLRDHUP) : 0u) | (want_write ? uint32_t(EPOLLOUT) : 0u);
  ev.data.fd = c->fd;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, c->fd, &ev);
  c->write_armed = want_write;
  c->read_armed = want_read;
}

void Server::Impl::Close(Conn* c) {
  if (c->closed) return;
  c->closed = true;
  ::epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, c->fd, nullptr);
  ::close(c->fd);
  if (c->kind == Kind::kHost) Log("host connection from " + c->peer + " closed");
  dead_.push_back(c->fd);
}

int Server::Impl::TimeoutMs() {
  std::optional<SteadyClock::time_point> next;
  for (auto& [fd, c] : conns_) {
    if (!c->later.empty() && (!next || c->later.front().due < *next)) next = c->later.front().due;
    if (c->has_held && (!next || c->held_due < *next)) next = c->held_due;
  }
  if (store_->UnflushedBytes() > 0) {
    const auto flush_at = last_flush_ + kAckBatchTime;
    if (!next || flush_at < *next) next = flush_at;
  }
  if (!next) return -1;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next - SteadyClock::now()).count();
  return int(std::clamp<int64_t>(ms, 0, 60000));
}

void Server::Impl::ReleaseTimed() {
  const auto now = SteadyClock::now();
  for (auto& [fd, c] : conns_) {
    if (c->has_held && c->held_due <= now) {
      // No further reply came to pair it with: it goes alone.
      c->has_held = false;
      Faults::Shape plain;
      Queue(c.get(), std::move(c->held), plain);
      c->held.clear();
      touched_.push_back(c.get());
    }
    if (!c->later.empty() && c->later.front().due <= now) touched_.push_back(c.get());
    if (c->close_when_sent) touched_.push_back(c.get());
  }
}

bool Server::Impl::Login(const std::string& user, const std::string& password) {
  const HostConfig& config = store_->data().config;
  if (faults_.TakeLoginRefusal()) {
    Log("FTP login of " + Cp1252ToUtf8(user) + " refused by an injected fault");
    return false;
  }
  // The host takes user names and passwords in any case, as an IBM i at password level 0.
  bool ok = UpperCp1252(user) == UpperCp1252(config.user) &&
            UpperCp1252(password) == UpperCp1252(config.password);
  Log("FTP login of " + Cp1252ToUtf8(user) + (ok ? " accepted" : " rejected"));
  return ok;
}

RemoteCommandResult Server::Impl::RemoteCommand(const std::string& command) {
  std::string library, program;
  int port = 0;
  const std::string shown = Cp1252ToUtf8(command);
  if (!ParseCallCommand(command, &library, &program, &port) ||
      library != UpperCp1252(store_->data().config.server_library) || program != kServerProgram) {
    Log("RCMD refused: " + shown);
    return {false, "Command " + shown + " not accepted."};
  }
  for (int p : host_ports()) {
    if (p == port) {
      Log("RCMD: " + std::string(kServerProgram) + " already active on port " + std::to_string(p));
      return {true, "Command " + shown + " successful: " + kServerProgram +
                        " already active on port " + std::to_string(p) + "."};
    }
  }
  int bound = 0;
  Status s = Listen(Kind::kHost, port, &bound);
  if (s.ok()) s = WritePorts();
  if (!s.ok()) {
    Log("RCMD failed: " + s.message());
    return {false, "Command " + shown + " failed: " + s.message()};
  }
  Log("RCMD: " + std::string(kServerProgram) + " started on port " + std::to_string(bound));
  return {true, "Command " + shown + " successful: " + kServerProgram + " started on port " +
                    std::to_string(bound) + "."};
}

std::string Server::Impl::StatusText() {
  std::string text;
  if (ftp_port_ >= 0) text += "ftp " + std::to_string(ftp_port_) + "\n";
  for (int p : host_ports()) text += "host " + std::to_string(p) + "\n";
  int host = 0, ftp = 0;
  for (const auto& [fd, c] : conns_) {
    if (c->closed) continue;
    host += c->kind == Kind::kHost;
    ftp += c->kind == Kind::kFtp;
  }
  text += "connections host " + std::to_string(host) + " ftp " + std::to_string(ftp) + "\n";
  return text;
}

Status Server::Impl::Run() {
  epoll_event events[64];
  Status result;
  while (!stopping_) {
    int n = ::epoll_wait(epoll_fd_, events, 64, TimeoutMs());
    if (n < 0) {
      if (errno == EINTR) continue;
      result = PosixError("epoll_wait", errno);
      break;
    }
    for (int i = 0; i < n; ++i) {
      const int fd = events[i].data.fd;
      if (fd == wake_fd_) {
        stopping_ = true;
        continue;
      }
      if (fd == ctl_fd_) {
        Accept(fd, Kind::kCtl);
        continue;
      }
      auto l = listeners_.find(fd);
      if (l != listeners_.end()) {
        Accept(fd, l->second.kind);
        continue;
      }
      auto it = conns_.find(fd);
      if (it == conns_.end() || it->second->closed) continue;
      Conn* c = it->second.get();
      const uint32_t e = events[i].events;
      if ((e & (EPOLLHUP | EPOLLERR)) && !c->reading) {
        Close(c);  // the peer is gone and nothing more will be read: stop waiting for it
        continue;
      }
      if (e & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) Read(c);
      if (events[i].events & EPOLLOUT) touched_.push_back(c);
    }
    ReleaseTimed();
    // The journal holds every change before any reply that depends on it leaves.
    const auto now = SteadyClock::now();
    if (store_->MustFlush() || store_->UnflushedBytes() > kAckBatchBytes ||
        (store_->UnflushedBytes() > 0 && now - last_flush_ >= kAckBatchTime)) {
      Status s = store_->Flush(false);
      if (!s.ok()) Log("cannot write the journal: " + s.message());
      last_flush_ = now;
    }
    for (Conn* c : touched_) Pump(c);
    touched_.clear();
    for (int fd : dead_) conns_.erase(fd);
    dead_.clear();
  }
  // Last words (the answer to "shutdown") go out if the socket takes them at once.
  for (auto& [fd, c] : conns_) Pump(c.get());
  Status s = store_->Compact();
  if (!s.ok()) Log("cannot write the data folder: " + s.message());
  return result.ok() ? s : result;
}

Server::Server(ServerOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}
Server::~Server() = default;
Status Server::Start(std::string* notes) { return impl_->Start(notes); }
Status Server::Run() { return impl_->Run(); }
void Server::Stop() { impl_->Stop(); }
int Server::ftp_port() const { return impl_->ftp_port(); }
std::vector<int> Server::host_ports() const { return impl_->host_ports(); }

}  // namespace torvan::hostsim
