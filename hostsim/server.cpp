#include "hostsim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <unordered_map>

#include "core/paths.h"
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
// Ports an RCMD may name (besides 0, any free port): the privileged ones are not the
// host server program's to take.
constexpr int kMinProgramPort = 1024;
constexpr int kMaxPort = 65535;
// Pause between the segments of a split reply, so each leaves as a segment of its own.
constexpr auto kSplitGap = std::chrono::milliseconds(2);
constexpr size_t kReadChunk = 65536;
// The longest reply: every budget leaves room for one.
constexpr size_t kMaxReplyFrame = hostlink::kFrameHeaderLength + hostlink::kMaxReplyData;
// Acknowledgements reach the journal in batches: at this size or after this time.
constexpr size_t kAckBatchBytes = 64 << 10;
constexpr auto kAckBatchTime = std::chrono::milliseconds(50);
// Descriptors below the process's limit that client connections never take.
constexpr int kDescriptorHeadroom = 8;
// Connections taken from one listener per turn of the loop, so a flood of them cannot
// keep the loop from the others (and from a stop).
constexpr int kAcceptBatch = 32;
// Out of descriptors, a listener rests this long (doubling up to the maximum while it
// lasts), or until a connection closes.
constexpr auto kBackoffMin = std::chrono::milliseconds(50);
constexpr auto kBackoffMax = std::chrono::seconds(1);
// A control command at work (generate) gets this much of every turn of the loop.
constexpr auto kJobSlice = std::chrono::milliseconds(2);
constexpr int kJobSteps = 32;

void Log(const std::string& line) {
  std::fprintf(stderr, "torvan-host: %s\n", line.c_str());
  std::fflush(stderr);
}

std::string Seconds(std::chrono::milliseconds d) {
  return d.count() % 1000 == 0 ? std::to_string(d.count() / 1000) + " s"
                               : std::to_string(d.count()) + " ms";
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
  std::unique_ptr<CtlJob> job;  // a control command still at work

  std::string out;  // bytes being sent now
  size_t out_pos = 0;
  bool close_after_out = false;  // `out` is the last segment before closing
  std::deque<Segment> later;     // replies shaped by faults, in order
  size_t later_bytes = 0;
  bool has_held = false;  // a reply held to go out with the next one
  std::string held;
  SteadyClock::time_point held_due;

  bool cut = false;              // a reply was cut short: nothing more is sent
  bool reading = true;           // the socket is still read
  bool answering = true;         // requests are still answered
  bool paused = false;           // requests wait unanswered: no room for their replies
  bool close_when_sent = false;  // close once everything queued is sent
  bool write_armed = false;      // EPOLLOUT registered
  bool read_armed = true;        // EPOLLIN registered
  bool closed = false;

  size_t counted = 0;     // Unsent() as last added to the server's total
  bool over_cap = false;  // its own replies fill its cap
  SteadyClock::time_point over_cap_since;
  SteadyClock::time_point last_active;  // last request answered or reply byte sent

  bool Timed() const { return !later.empty() || has_held; }
  size_t Unsent() const { return out.size() - out_pos + later_bytes + held.size(); }
  // Bytes received and not answered yet.
  size_t Buffered() const {
    return host != nullptr ? host->pending() : ftp != nullptr ? ftp->pending() : 0;
  }
};

}  // namespace

std::string DefaultTablePath() {
  // Installed (the .deb, `cmake --install`), the source tree's table is not there: the one
  // installed beside the program is.
  if (platform::FileExists(TORVAN_DEFAULT_CHAR_TABLE)) return TORVAN_DEFAULT_CHAR_TABLE;
  const std::string installed = InstalledDataFile("TnC_TBL1.Tbl");
  return installed.empty() ? std::string(TORVAN_DEFAULT_CHAR_TABLE) : installed;
}

Status WritePcCharTable(const std::string& table, const std::string& out, uint64_t seed) {
  const std::string path = table.empty() ? DefaultTablePath() : table;
  hostlink::CharTables tables;
  Status s = hostlink::LoadCharTables(path, &tables);
  if (!s.ok()) return s;
  std::string bytes;
  if (!(s = platform::ReadFile(path, &bytes)).ok()) return s;
  if (seed != 0)
    bytes.replace(0, hostlink::kCharTableHeaderLength,
                  Variation(seed).Bytes(hostlink::kCharTableHeaderLength));
  return platform::WriteFileAtomic(out, bytes, 0644);
}

class Server::Impl {
 public:
  explicit Impl(ServerOptions options) : opt_(std::move(options)) {
    folder_.dir = opt_.data_dir;
    while (folder_.dir.size() > 1 && folder_.dir.back() == '/') folder_.dir.pop_back();
    clock_ = opt_.clock != nullptr ? opt_.clock : platform::SystemClock();
    // A cap must hold at least one reply, or a connection at it could never go on.
    opt_.max_unsent = std::max(opt_.max_unsent, 2 * kMaxReplyFrame);
    opt_.max_unsent_total = std::max(opt_.max_unsent_total, opt_.max_unsent);
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
  void Accept(int listen_fd, Kind kind);
  void AddConn(int fd, Kind kind, const sockaddr_storage& addr, int listen_fd);
  void OutOfDescriptors(int listen_fd, Kind kind, int error);
  void Refused(const std::string& cause);
  void PauseListener(int listen_fd);
  // epoll_ctl through the options' seam; its errno when it failed, 0 otherwise.
  int Ctl(int op, int fd, uint32_t events);
  Status Watch(int fd, uint32_t events);
  // A failure of the system's kind that is said once until it stops (`key` tells them
  // apart), then said again when it happens again.
  void LogOnce(const std::string& key, const std::string& line);
  void ResumeListeners();
  void CloseListener(int listen_fd);
  void Feed(Conn* c);
  void FeedCtl(Conn* c);
  bool Answer(Conn* c, std::string_view bytes);
  size_t Budget(const Conn* c) const;
  void Account(Conn* c);
  void ResumePaused();
  void Queue(Conn* c, std::string reply, const Faults::Shape& shape);
  void Pump(Conn* c);
  void Send(Conn* c);
  void UpdateEvents(Conn* c);
  void Close(Conn* c, const std::string& reason = "");
  void Reap();
  void Sweep(SteadyClock::time_point now);
  void RunJobs();
  void SendTouched();
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
  Variation vary_{opt_.vary_seed};
  HostContext host_context_;
  CtlContext ctl_context_;

  int epoll_fd_ = -1, wake_fd_ = -1, lock_fd_ = -1, ctl_fd_ = -1;
  // The reserve descriptor: given up to refuse a connection when none is left.
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
  // Closed connections keep their descriptors until the end of the turn, so that no new
  // connection of the same turn takes their number while pointers to them are about.
  std::vector<int> dead_;
  std::vector<Conn*> paused_;  // connections whose requests wait for room
  std::vector<Conn*> jobs_;    // control connections whose command is at work
  size_t total_unsent_ = 0;
  SteadyClock::time_point next_sweep_ = SteadyClock::now();
  // Client connections are not taken on descriptors from here up (Start).
  int fd_ceiling_ = INT_MAX;
  // Out of descriptors: the episode, its refusals and the listeners resting.
  bool exhausted_ = false;
  int64_t refused_ = 0, refused_total_ = 0;
  std::chrono::milliseconds backoff_ = kBackoffMin;
  std::vector<int> resting_;
  SteadyClock::time_point rest_until_;
  std::vector<std::string> said_;  // the failures said and not yet over
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
  host_context_ = {store_.get(), &tables_, clock_, &faults_, opt_.verbose, &vary_};
  ctl_context_.store = store_.get();
  ctl_context_.faults = &faults_;
  ctl_context_.status = [this] { return StatusText(); };
  ctl_context_.shutdown = [this] { stopping_ = true; };

  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    fd_ceiling_ = int(std::min<rlim_t>(limit.rlim_cur, INT_MAX)) - kDescriptorHeadroom;
  }
  if (opt_.fd_ceiling > 0) fd_ceiling_ = opt_.fd_ceiling;

  epoll_fd_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll_fd_ < 0) return PosixError("epoll_create1", errno);
  wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wake_fd_ < 0) return PosixError("eventfd", errno);
  if (Status w = Watch(wake_fd_, EPOLLIN); !w.ok()) return w;

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
  // The lowest free descriptor is where the next connection would land.
  const int lowest = ::fcntl(epoll_fd_, F_DUPFD_CLOEXEC, 0);
  if (lowest >= 0) ::close(lowest);
  if (lowest >= 0 && lowest >= fd_ceiling_) {
    *notes += "torvan-host: the descriptor limit (" +
              std::to_string(fd_ceiling_ + kDescriptorHeadroom) +
              ") leaves no room for client connections; raise it (ulimit -n)\n";
  }
  started_ = true;
  return WritePorts();
}

Status Server::Impl::Listen(Kind kind, int port, int* bound_port) {
  // The resolver would take 99999 and bind its low 16 bits.
  if (port < 0 || port > kMaxPort) {
    return Status::InvalidArgument("port " + std::to_string(port) + " is not a port number");
  }
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
  Status s;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
    s = PosixError("setsockopt SO_REUSEADDR " + where, errno);
  } else if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
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
  if (s.ok()) s = Watch(fd, EPOLLIN);
  if (!s.ok()) {
    ::close(fd);
    return s;
  }
  *bound_port = ntohs(addr.sin_port);
  listeners_[fd] = {kind, *bound_port};
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
  return Watch(ctl_fd_, EPOLLIN);
}

Status Server::Impl::WritePorts() {
  std::string text;
  if (ftp_port_ >= 0) text += "ftp " + std::to_string(ftp_port_) + "\n";
  for (int p : host_ports()) text += "host " + std::to_string(p) + "\n";
  return platform::WriteFileAtomic(folder_.Ports(), text, 0644);
}

int Server::Impl::Ctl(int op, int fd, uint32_t events) {
  epoll_event ev{};
  ev.events = events;
  ev.data.fd = fd;
  const int rc = opt_.epoll_ctl
                     ? opt_.epoll_ctl(epoll_fd_, op, fd, op == EPOLL_CTL_DEL ? nullptr : &ev)
                     : ::epoll_ctl(epoll_fd_, op, fd, op == EPOLL_CTL_DEL ? nullptr : &ev);
  return rc == 0 ? 0 : errno;
}

Status Server::Impl::Watch(int fd, uint32_t events) {
  const int error = Ctl(EPOLL_CTL_ADD, fd, events);
  return error == 0 ? Status::Ok() : PosixError("epoll_ctl", error);
}

void Server::Impl::LogOnce(const std::string& key, const std::string& line) {
  if (std::find(said_.begin(), said_.end(), key) != said_.end()) return;
  said_.push_back(key);
  Log(line);
}

void Server::Impl::Accept(int listen_fd, Kind kind) {
  bool refused = false;
  for (int i = 0; i < kAcceptBatch; ++i) {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    int fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&addr), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd >= 0) {
      // Descriptors are handed out lowest first: every one below `fd` is in use. The last
      // few are kept for the server's own work (image files, the data folder, control
      // commands), so a client is not taken on them.
      if (kind != Kind::kCtl && fd >= fd_ceiling_) {
        ::close(fd);
        Refused("descriptors nearly used up (" + std::to_string(kDescriptorHeadroom) +
                " kept for the server's own work)");
        refused = true;
        continue;
      }
      if (exhausted_ && kind != Kind::kCtl) {
        Log("accepting connections again; " + std::to_string(refused_) +
            " were refused for want of descriptors");
        exhausted_ = false;
        backoff_ = kBackoffMin;
      }
      AddConn(fd, kind, addr, listen_fd);
      continue;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) break;
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      OutOfDescriptors(listen_fd, kind, errno);
      return;
    }
    // Anything else concerns the one connection the system has dropped (EINTR,
    // ECONNABORTED, a network error already pending on it): the next may be fine.
    if (errno != EINTR && errno != ECONNABORTED) Log("accept: " + std::string(strerror(errno)));
  }
  // Refusing a flood as fast as it comes would be a busy loop of its own.
  if (refused) PauseListener(listen_fd);
}

void Server::Impl::Refused(const std::string& cause) {
  if (!exhausted_) {
    exhausted_ = true;
    refused_ = 0;
    Log("accept: " + cause + ": connections are refused until descriptors free up");
  }
  ++refused_;
  ++refused_total_;
}

void Server::Impl::AddConn(int fd, Kind kind, const sockaddr_storage& addr, int listen_fd) {
  auto c = std::make_unique<Conn>();
  c->fd = fd;
  c->kind = kind;
  c->last_active = SteadyClock::now();
  if (kind != Kind::kCtl) {
    int one = 1;
    // Without it replies are only slower: said once, the connection served all the same.
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
      LogOnce("nodelay", "setsockopt TCP_NODELAY: " + std::string(strerror(errno)) +
                             " (replies may leave later)");
    }
    char text[INET_ADDRSTRLEN] = "?";
    const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    c->peer = std::string(text) + ":" + std::to_string(ntohs(in->sin_port));
  }
  if (kind == Kind::kHost) {
    c->host = std::make_unique<HostSession>(&host_context_);
    c->out = HostSession::Greeting(tables_, &vary_);
    auto l = listeners_.find(listen_fd);
    Log("host connection from " + c->peer + " on port " +
        std::to_string(l != listeners_.end() ? l->second.port : 0));
  } else if (kind == Kind::kFtp) {
    c->ftp = std::make_unique<FtpSession>(
        FtpSession::Hooks{
            [this](const std::string& u, const std::string& p) { return Login(u, p); },
            [this](const std::string& cmd) { return RemoteCommand(cmd); }},
        &vary_);
    c->out = FtpSession::Greeting();
  }
  // A connection the loop cannot watch would never be served: it is closed at once, so its
  // client hears it and tries again.
  if (Status w = Watch(fd, EPOLLIN | EPOLLRDHUP); !w.ok()) {
    LogOnce("watch connection", w.message() + ": connections are closed until it works again");
    ::close(fd);
    return;
  }
  said_.erase(std::remove(said_.begin(), said_.end(), "watch connection"), said_.end());
  Conn* raw = c.get();
  conns_[fd] = std::move(c);
  touched_.push_back(raw);
}

void Server::Impl::OutOfDescriptors(int listen_fd, Kind kind, int error) {
  // Something else took the descriptors kept aside (a lower limit, the system's table
  // full): the reserve descriptor makes room to take the waiting connections, each closed
  // at once so its client hears at once and the listener stops reporting it.
  const std::string cause = strerror(error);
  if (!exhausted_) {
    exhausted_ = true;
    refused_ = 0;
    Log("accept: " + cause + ": connections are refused until descriptors free up");
  }
  if ((error == EMFILE || error == ENFILE) && spare_fd_ >= 0) {
    ::close(spare_fd_);
    spare_fd_ = -1;
    bool lent = false;
    for (int i = 0; i < kAcceptBatch && !lent; ++i) {
      sockaddr_storage addr{};
      socklen_t len = sizeof addr;
      int fd = ::accept4(listen_fd, reinterpret_cast<sockaddr*>(&addr), &len,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) break;
      if (kind == Kind::kCtl) {
        // A control connection keeps the reserve's place (a new reserve is taken when a
        // descriptor frees up): status and shutdown still work.
        AddConn(fd, kind, addr, listen_fd);
        lent = true;
      } else {
        ::close(fd);
        Refused(cause);
      }
    }
    if (!lent) spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  PauseListener(listen_fd);
}

void Server::Impl::PauseListener(int listen_fd) {
  if (std::find(resting_.begin(), resting_.end(), listen_fd) == resting_.end()) {
    // Not taken out, it would go on reporting what it cannot accept: said, and retried
    // when it rests again.
    if (const int error = Ctl(EPOLL_CTL_DEL, listen_fd, 0); error != 0) {
      LogOnce("rest", "epoll_ctl: " + std::string(strerror(error)) + ": a listener cannot rest");
      return;
    }
    resting_.push_back(listen_fd);
  }
  rest_until_ = SteadyClock::now() + backoff_;
  backoff_ = std::min<std::chrono::milliseconds>(backoff_ * 2, kBackoffMax);
}

void Server::Impl::ResumeListeners() {
  // A listener that cannot be watched again would stay deaf: it rests on and is tried again
  // after the next rest, said once until it works.
  std::vector<int> deaf;
  for (int fd : resting_) {
    if (Status w = Watch(fd, EPOLLIN); !w.ok()) {
      auto l = listeners_.find(fd);
      LogOnce("resume", w.message() + ": the listener on port " +
                            std::to_string(l != listeners_.end() ? l->second.port : 0) +
                            " does not take connections yet; tried again");
      deaf.push_back(fd);
    }
  }
  if (deaf.empty()) said_.erase(std::remove(said_.begin(), said_.end(), "resume"), said_.end());
  resting_ = std::move(deaf);
  if (!resting_.empty()) rest_until_ = SteadyClock::now() + backoff_;
}

void Server::Impl::CloseListener(int listen_fd) {
  auto rest = std::find(resting_.begin(), resting_.end(), listen_fd);
  if (rest != resting_.end()) {
    resting_.erase(rest);
  } else {
    (void)Ctl(EPOLL_CTL_DEL, listen_fd, 0);  // closed right after: epoll forgets it then
  }
  listeners_.erase(listen_fd);
  // Closed at once, so the port refuses connections before the RCMD is answered. An
  // event of this turn for its number finds no listener, or a connection that has
  // nothing to read.
  ::close(listen_fd);
}

size_t Server::Impl::Budget(const Conn* c) const {
  const size_t own = c->Unsent();
  if (own + kMaxReplyFrame >= opt_.max_unsent) return 0;
  size_t budget = opt_.max_unsent - kMaxReplyFrame - own;
  const size_t total = total_unsent_ - c->counted + own;
  if (total + kMaxReplyFrame < opt_.max_unsent_total) {
    return std::min(budget, opt_.max_unsent_total - kMaxReplyFrame - total);
  }
  // Over the total, a client that has taken all its replies still gets one at a time:
  // those that read are not held up by those that do not.
  return own == 0 ? 1 : 0;
}

void Server::Impl::Account(Conn* c) {
  if (c->kind == Kind::kCtl) return;
  const size_t unsent = c->closed ? 0 : c->Unsent();
  total_unsent_ = total_unsent_ - c->counted + unsent;
  c->counted = unsent;
  const bool over = !c->closed && unsent + kMaxReplyFrame >= opt_.max_unsent;
  if (over && !c->over_cap) {
    c->over_cap_since = SteadyClock::now();
    next_sweep_ = std::min(next_sweep_, c->over_cap_since + opt_.stall_timeout);
  }
  c->over_cap = over;
}

bool Server::Impl::Answer(Conn* c, std::string_view bytes) {
  if (!c->answering || (bytes.empty() && c->Buffered() == 0)) return false;
  const size_t budget = Budget(c);
  bool keep = true, answered = false;
  if (c->kind == Kind::kHost) {
    replies_.clear();
    keep = c->host->Receive(bytes, &replies_, budget);
    answered = !replies_.empty();
    for (std::string& r : replies_) Queue(c, std::move(r), faults_.TakeReplyShape());
  } else {
    const size_t before = c->out.size();
    keep = c->ftp->Receive(bytes, &c->out, budget);
    answered = c->out.size() != before;
  }
  if (!keep) {
    c->answering = false;
    c->reading = false;
  }
  return answered;
}

void Server::Impl::Feed(Conn* c) {
  if (c->closed) return;
  if (c->kind == Kind::kCtl) {
    FeedCtl(c);
    return;
  }
  // What waits in the session's buffer goes first, then the socket while there is room.
  bool answered = Answer(c, {});
  char buf[kReadChunk];
  while (c->reading && c->answering && Budget(c) > 0) {
    ssize_t n = ::recv(c->fd, buf, sizeof buf, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) {
        Close(c);
        return;
      }
      break;
    }
    if (n == 0) {
      // The client is done sending: what it asked is still answered, then the connection
      // closes. An unacknowledged change stays queued.
      c->reading = false;
      break;
    }
    answered |= Answer(c, std::string_view(buf, size_t(n)));
    // epoll reports the socket again while more is waiting; a read that filled the buffer
    // is likely to have more behind it.
    if (size_t(n) < sizeof buf) break;
  }
  if (answered) c->last_active = SteadyClock::now();
  const bool paused = c->answering && (c->reading || c->Buffered() > 0) && Budget(c) == 0;
  if (paused && !c->paused) paused_.push_back(c);
  c->paused = paused;
  if (!c->answering || (!c->reading && !paused)) c->close_when_sent = true;
  Account(c);
  touched_.push_back(c);
}

void Server::Impl::FeedCtl(Conn* c) {
  char buf[kReadChunk];
  while (c->reading) {
    ssize_t n = ::recv(c->fd, buf, sizeof buf, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) Close(c);
      return;
    }
    c->reading = n > 0;
    c->close_when_sent = n == 0;
    if (n == 0) break;
    c->ctl_input.append(buf, size_t(n));
    std::vector<std::string> args;
    CtlDecode d = DecodeCtlRequest(c->ctl_input, &args);
    if (d == CtlDecode::kIncomplete) continue;
    c->reading = false;
    c->close_when_sent = true;
    c->last_active = SteadyClock::now();
    CtlResult r = d == CtlDecode::kComplete ? RunCtl(ctl_context_, args)
                                            : CtlResult{2, "malformed control request\n"};
    if (r.job != nullptr) {
      c->job = std::move(r.job);
      jobs_.push_back(c);
    } else {
      c->out += EncodeCtlReply(r);
    }
  }
  touched_.push_back(c);
}

void Server::Impl::ResumePaused() {
  for (size_t i = 0; i < paused_.size();) {
    Conn* c = paused_[i];
    if (!c->closed && Budget(c) == 0) {
      ++i;
      continue;
    }
    paused_[i] = paused_.back();
    paused_.pop_back();
    c->paused = false;
    // Feed pauses it again, at the back, only when there is no room for a reply.
    Feed(c);
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
    c->answering = false;
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
    c->later_bytes += s.bytes.size();
    c->later.push_back(std::move(s));
    due += kSplitGap;
  } while (pos < reply.size());
}

void Server::Impl::Pump(Conn* c) {
  if (c->closed) return;
  Send(c);
  if (c->closed) return;
  Account(c);
  UpdateEvents(c);
}

void Server::Impl::Send(Conn* c) {
  const auto now = SteadyClock::now();
  for (;;) {
    while (c->out_pos < c->out.size()) {
      ssize_t n =
          ::send(c->fd, c->out.data() + c->out_pos, c->out.size() - c->out_pos, MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) Close(c);
        return;
      }
      c->out_pos += size_t(n);
      c->last_active = now;
    }
    c->out.clear();
    c->out_pos = 0;
    if (c->close_after_out) {
      Close(c);
      return;
    }
    if (c->later.empty() || c->later.front().due > now) break;
    c->out = std::move(c->later.front().bytes);
    c->later_bytes -= c->out.size();
    c->close_after_out = c->later.front().close_after;
    c->later.pop_front();
  }
  if (c->close_when_sent && !c->Timed() && c->job == nullptr) Close(c);
}

void Server::Impl::UpdateEvents(Conn* c) {
  const bool want_write = c->out_pos < c->out.size();
  const bool want_read = c->reading && !c->paused;
  if (want_write == c->write_armed && want_read == c->read_armed) return;
  const uint32_t events =
      (want_read ? uint32_t(EPOLLIN | EPOLLRDHUP) : 0u) | (want_write ? uint32_t(EPOLLOUT) : 0u);
  if (const int error = Ctl(EPOLL_CTL_MOD, c->fd, events); error != 0) {
    // Its replies would never leave, or its requests never be read.
    Close(c, "epoll_ctl: " + std::string(strerror(error)));
    return;
  }
  c->write_armed = want_write;
  c->read_armed = want_read;
}

void Server::Impl::Close(Conn* c, const std::string& reason) {
  if (c->closed) return;
  c->closed = true;
  (void)Ctl(EPOLL_CTL_DEL, c->fd, 0);  // closed at the end of the turn: epoll forgets it then
  if (c->kind == Kind::kHost) {
    Log("host connection from " + c->peer + " closed" + (reason.empty() ? "" : ": " + reason));
  } else if (!reason.empty()) {
    Log(std::string(c->kind == Kind::kFtp ? "FTP connection from " + c->peer
                                          : "control connection") +
        " closed: " + reason);
  }
  if (c->job != nullptr) {
    Log("a control command was left unfinished: its client went away");
    c->job.reset();
    jobs_.erase(std::find(jobs_.begin(), jobs_.end(), c));
  }
  if (c->paused) paused_.erase(std::find(paused_.begin(), paused_.end(), c));
  c->paused = false;
  Account(c);
  dead_.push_back(c->fd);
}

void Server::Impl::Reap() {
  if (dead_.empty()) return;
  for (int fd : dead_) {
    conns_.erase(fd);
    ::close(fd);
  }
  dead_.clear();
  // Descriptors are free again: the reserve first, then the listeners that rested.
  if (spare_fd_ < 0) spare_fd_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ResumeListeners();
}

void Server::Impl::Sweep(SteadyClock::time_point now) {
  const bool idle_ends = opt_.idle_timeout.count() > 0;
  // A connection opened after this sweep is not idle before the next one.
  auto next = now + (idle_ends ? opt_.idle_timeout : std::chrono::hours(1));
  for (auto& [fd, conn] : conns_) {
    Conn* c = conn.get();
    if (c->closed) continue;
    if (c->over_cap) {
      const auto deadline = c->over_cap_since + opt_.stall_timeout;
      if (now >= deadline) {
        Close(c, "its replies have waited unread for more than " + Seconds(opt_.stall_timeout));
        continue;
      }
      next = std::min(next, deadline);
    }
    if (!idle_ends) continue;
    // Replies the server itself still holds back, or a command at work, are not the
    // client's idleness.
    if ((!c->later.empty() && c->later.front().due > now) || (c->has_held && c->held_due > now) ||
        c->job != nullptr) {
      c->last_active = now;
    }
    const auto deadline = c->last_active + opt_.idle_timeout;
    if (now < deadline) {
      next = std::min(next, deadline);
      continue;
    }
    if (c->kind == Kind::kFtp && c->Unsent() == 0) {
      const std::string bye = FtpSession::IdleGoodbye();
      // Best effort: a client that went silent may not take it.
      [[maybe_unused]] ssize_t n = ::send(c->fd, bye.data(), bye.size(), MSG_NOSIGNAL);
    }
    Close(c, "idle for more than " + Seconds(opt_.idle_timeout));
  }
  next_sweep_ = next;
}

void Server::Impl::RunJobs() {
  if (jobs_.empty()) return;
  const auto until = SteadyClock::now() + kJobSlice;
  for (size_t i = 0; i < jobs_.size();) {
    Conn* c = jobs_[i];
    CtlResult r;
    bool done = false;
    do {
      done = c->job->Step(kJobSteps, &r);
    } while (!done && SteadyClock::now() < until);
    if (!done) {
      ++i;
      continue;
    }
    c->job.reset();
    c->out += EncodeCtlReply(r);
    touched_.push_back(c);
    jobs_.erase(jobs_.begin() + std::ptrdiff_t(i));
  }
}

void Server::Impl::SendTouched() {
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
}

int Server::Impl::TimeoutMs() {
  if (!jobs_.empty()) return 0;
  SteadyClock::time_point next = next_sweep_;
  for (auto& [fd, c] : conns_) {
    if (!c->later.empty()) next = std::min(next, c->later.front().due);
    if (c->has_held) next = std::min(next, c->held_due);
  }
  if (store_->UnflushedBytes() > 0) next = std::min(next, last_flush_ + kAckBatchTime);
  if (!resting_.empty()) next = std::min(next, rest_until_);
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - SteadyClock::now()).count();
  return int(std::clamp<int64_t>(ms, 0, 60000));
}

void Server::Impl::ReleaseTimed() {
  const auto now = SteadyClock::now();
  for (auto& [fd, c] : conns_) {
    if (c->closed) continue;
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
  // User names in any case, passwords exactly as typed: an IBM i at password level 2 or 3,
  // as most FTP servers, tells "Torvan1" from "TORVAN1".
  bool ok = UpperCp1252(user) == UpperCp1252(config.user) && password == config.password;
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
  if (port != 0 && (port < kMinProgramPort || port > kMaxPort)) {
    Log("RCMD refused, port outside " + std::to_string(kMinProgramPort) + "-" +
        std::to_string(kMaxPort) + ": " + shown);
    return {false, "Command " + shown + " not accepted: port " + std::to_string(port) +
                       " outside " + std::to_string(kMinProgramPort) + "-" +
                       std::to_string(kMaxPort) + "."};
  }
  int old_fd = -1, old_port = -1;
  for (const auto& [fd, l] : listeners_) {
    if (l.kind == Kind::kHost) {
      old_fd = fd;
      old_port = l.port;
    }
  }
  // Any port will do for 'P00000', the one already open included.
  if (old_fd >= 0 && (port == 0 || port == old_port)) {
    const std::string where = " already active on port " + std::to_string(old_port);
    Log("RCMD: " + std::string(kServerProgram) + where);
    return {true, "Command " + shown + " successful: " + kServerProgram + where + "."};
  }
  // One program, one port: it moves to the new port once that is open; when the new port
  // cannot be opened it stays where it is.
  int bound = 0;
  Status s = Listen(Kind::kHost, port, &bound);
  if (!s.ok()) {
    Log("RCMD failed: " + s.message());
    return {false, "Command " + shown + " failed: " + s.message()};
  }
  std::string moved;
  if (old_fd >= 0) {
    CloseListener(old_fd);
    moved = " (no longer on port " + std::to_string(old_port) + ")";
  }
  s = WritePorts();
  if (!s.ok()) Log("cannot write " + folder_.Ports() + ": " + s.message());
  const std::string where = " started on port " + std::to_string(bound) + moved;
  Log("RCMD: " + std::string(kServerProgram) + where);
  return {true, "Command " + shown + " successful: " + kServerProgram + where + "."};
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
  text += "unsent " + std::to_string(total_unsent_) + "\n";
  text += "refused " + std::to_string(refused_total_) + "\n";
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
      if ((e & (EPOLLHUP | EPOLLERR)) && (!c->reading || c->paused)) {
        Close(c);  // the peer is gone and nothing more will be read: stop waiting for it
        continue;
      }
      if (e & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) Feed(c);
      if (e & EPOLLOUT) touched_.push_back(c);
    }
    const auto now = SteadyClock::now();
    if (!resting_.empty() && now >= rest_until_) ResumeListeners();
    if (now >= next_sweep_) Sweep(now);
    ReleaseTimed();
    RunJobs();
    SendTouched();
    // Replies that left make room: requests that waited for it are answered now.
    if (!paused_.empty()) {
      ResumePaused();
      SendTouched();
    }
    Reap();
  }
  // Commands at work answer how far they went; last words (the answer to "shutdown")
  // go out if the socket takes them at once.
  for (Conn* c : jobs_) {
    c->out += EncodeCtlReply(c->job->Interrupted());
    c->job.reset();
  }
  jobs_.clear();
  for (auto& [fd, c] : conns_) Pump(c.get());
  // The connections close before the files are written: out of descriptors, writing
  // them needs some back.
  for (auto& [fd, c] : conns_) Close(c.get());
  Reap();
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
