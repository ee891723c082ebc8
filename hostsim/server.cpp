// The server's glue over the reactor (reactor.h), the reply queues (reply_queue.h) and the
// host program's texts (host_program.h): reading requests, answering them, sending, the
// caps, idleness and stalls, control commands at work. It stays one file of about 700
// lines because every routine here works on the same connections and the same lists of
// one turn of the loop (touched, paused, at work, closed); split, they would share those
// through an interface wider than the file.
#include "hostsim/server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "core/paths.h"
#include "hostlink/char_table.h"
#include "hostsim/ctl_client.h"
#include "hostsim/ctl_command.h"
#include "hostsim/ftp_session.h"
#include "hostsim/host_program.h"
#include "hostsim/host_session.h"
#include "hostsim/log.h"
#include "hostsim/reactor.h"
#include "hostsim/reply_queue.h"
#include "platform/file.h"

#ifndef TORVAN_DEFAULT_CHAR_TABLE
#define TORVAN_DEFAULT_CHAR_TABLE "data/TnC_TBL1.Tbl"
#endif

namespace torvan::hostsim {

namespace {

constexpr size_t kReadChunk = 65536;
// The longest reply: every budget leaves room for one.
constexpr size_t kMaxReplyFrame = hostlink::kFrameHeaderLength + hostlink::kMaxReplyData;
// Acknowledgements reach the journal in batches: at this size or after this time.
constexpr size_t kAckBatchBytes = 64 << 10;
constexpr auto kAckBatchTime = std::chrono::milliseconds(50);
// A control command at work (generate) gets this much of every turn of the loop.
constexpr auto kJobSlice = std::chrono::milliseconds(2);
constexpr int kJobSteps = 32;

std::string Seconds(std::chrono::milliseconds d) {
  return d.count() % 1000 == 0 ? std::to_string(d.count() / 1000) + " s"
                               : std::to_string(d.count()) + " ms";
}

struct Conn {
  explicit Conn(ReplyCaps* caps) : replies(caps) {}

  int fd = -1;
  Kind kind = Kind::kHost;
  std::string peer;
  std::unique_ptr<HostSession> host;
  std::unique_ptr<FtpSession> ftp;
  std::string ctl_input;
  std::unique_ptr<CtlJob> job;  // a control command still at work
  ReplyQueue replies;

  bool reading = true;           // the socket is still read
  bool answering = true;         // requests are still answered
  bool paused = false;           // requests wait unanswered: no room for their replies
  bool close_when_sent = false;  // close once everything queued is sent
  bool write_armed = false;      // EPOLLOUT registered
  bool read_armed = true;        // EPOLLIN registered
  bool closed = false;

  bool over_cap = false;  // its own replies fill its cap
  SteadyClock::time_point over_cap_since;
  SteadyClock::time_point last_active;  // last request answered or reply byte sent

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
  explicit Impl(ServerOptions options)
      : opt_(std::move(options)),
        caps_(kMaxReplyFrame, opt_.max_unsent, opt_.max_unsent_total),
        reactor_(opt_.fd_ceiling, opt_.epoll_ctl,
                 [this](int fd, Kind kind, const sockaddr_storage& addr, int port) {
                   AddConn(fd, kind, addr, port);
                 }) {
    folder_.dir = opt_.data_dir;
    while (folder_.dir.size() > 1 && folder_.dir.back() == '/') folder_.dir.pop_back();
    clock_ = opt_.clock != nullptr ? opt_.clock : platform::SystemClock();
  }

  ~Impl() {
    for (auto& [fd, conn] : conns_) ::close(fd);
    if (listening_ctl_) ::unlink(folder_.CtlSocket().c_str());
    if (started_) ::unlink(folder_.Ports().c_str());
    if (lock_fd_ >= 0) ::close(lock_fd_);
  }

  Status Start(std::string* notes);
  Status Run();
  void Stop() { reactor_.Wake(); }
  int ftp_port() const { return ftp_port_; }
  std::vector<int> host_ports() const {
    std::vector<int> ports;
    for (const Reactor::Port& p : reactor_.Ports(Kind::kHost)) ports.push_back(p.port);
    return ports;
  }

 private:
  // A listener through the reactor, its port printed when the options say so.
  Status Listen(Kind kind, int port, int* bound_port);
  Status WritePorts();
  void AddConn(int fd, Kind kind, const sockaddr_storage& addr, int port);
  void Event(int fd, uint32_t events);
  void Feed(Conn* c);
  void FeedCtl(Conn* c);
  bool Answer(Conn* c, std::string_view bytes);
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
  RemoteCommandResult RemoteCommand(const std::string& command);
  std::string StatusNow();

  ServerOptions opt_;
  ReplyCaps caps_;
  Reactor reactor_;
  DataFolder folder_;
  platform::Clock* clock_;
  hostlink::CharTables tables_;
  std::unique_ptr<RecordCodec> codec_;
  std::unique_ptr<HostStore> store_;
  Faults faults_;
  Variation vary_{opt_.vary_seed};
  HostContext host_context_;
  CtlContext ctl_context_;

  int lock_fd_ = -1;
  int ftp_port_ = -1;
  std::string listen_address_;
  bool listening_ctl_ = false;
  bool started_ = false;
  bool stopping_ = false;
  SteadyClock::time_point last_flush_ = SteadyClock::now();
  std::unordered_map<int, std::unique_ptr<Conn>> conns_;
  std::vector<Conn*> touched_;
  std::vector<std::string> replies_;  // kept to spare an allocation per read
  std::string ftp_replies_;           // likewise
  // Closed connections keep their descriptors until the end of the turn, so that no new
  // connection of the same turn takes their number while pointers to them are about.
  std::vector<int> dead_;
  std::vector<Conn*> paused_;  // connections whose requests wait for room
  std::vector<Conn*> jobs_;    // control connections whose command is at work
  SteadyClock::time_point next_sweep_ = SteadyClock::now();
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
  ctl_context_.status = [this] { return StatusNow(); };
  ctl_context_.shutdown = [this] { stopping_ = true; };

  if (s = reactor_.Open(); !s.ok()) return s;
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
  listening_ctl_ = true;
  s = reactor_.ListenLocal(folder_.CtlSocket());
  if (!s.ok()) return s;
  *notes += reactor_.CeilingAdvice();
  started_ = true;
  return WritePorts();
}

Status Server::Impl::Listen(Kind kind, int port, int* bound_port) {
  Status s = reactor_.Listen(kind, listen_address_, port, bound_port);
  if (s.ok() && opt_.print_ports) {
    std::printf("torvan-host: %s %s:%d\n", kind == Kind::kFtp ? "ftp" : "host",
                listen_address_.c_str(), *bound_port);
    std::fflush(stdout);
  }
  return s;
}

Status Server::Impl::WritePorts() {
  return platform::WriteFileAtomic(folder_.Ports(), PortsText(ftp_port_, host_ports()), 0644);
}

void Server::Impl::AddConn(int fd, Kind kind, const sockaddr_storage& addr, int port) {
  auto c = std::make_unique<Conn>(kind == Kind::kCtl ? nullptr : &caps_);
  c->fd = fd;
  c->kind = kind;
  c->last_active = SteadyClock::now();
  if (kind != Kind::kCtl) {
    int one = 1;
    // Without it replies are only slower: said once, the connection served all the same.
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
      reactor_.LogOnce("nodelay", "setsockopt TCP_NODELAY: " + std::string(strerror(errno)) +
                                      " (replies may leave later)");
    }
    char text[INET_ADDRSTRLEN] = "?";
    const auto* in = reinterpret_cast<const sockaddr_in*>(&addr);
    ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    c->peer = std::string(text) + ":" + std::to_string(ntohs(in->sin_port));
  }
  if (kind == Kind::kHost) {
    c->host = std::make_unique<HostSession>(&host_context_);
    c->replies.Append(HostSession::Greeting(tables_, &vary_));
    Log("host connection from " + c->peer + " on port " + std::to_string(port));
  } else if (kind == Kind::kFtp) {
    c->ftp = std::make_unique<FtpSession>(
        FtpSession::Hooks{[this](const std::string& u, const std::string& p) {
                            return CheckLogin(store_->data().config, &faults_, u, p);
                          },
                          [this](const std::string& cmd) { return RemoteCommand(cmd); }},
        &vary_);
    c->replies.Append(FtpSession::Greeting());
  }
  // A connection the loop cannot watch would never be served: it is closed at once, so its
  // client hears it and tries again.
  if (Status w = reactor_.Watch(fd, EPOLLIN | EPOLLRDHUP); !w.ok()) {
    reactor_.LogOnce("watch connection",
                     w.message() + ": connections are closed until it works again");
    ::close(fd);
    return;
  }
  reactor_.Over("watch connection");
  Conn* raw = c.get();
  conns_[fd] = std::move(c);
  touched_.push_back(raw);
}

void Server::Impl::Event(int fd, uint32_t e) {
  auto it = conns_.find(fd);
  if (it == conns_.end() || it->second->closed) return;
  Conn* c = it->second.get();
  if ((e & (EPOLLHUP | EPOLLERR)) && (!c->reading || c->paused)) {
    Close(c);  // the peer is gone and nothing more will be read: stop waiting for it
    return;
  }
  if (e & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) Feed(c);
  if (e & EPOLLOUT) touched_.push_back(c);
}

void Server::Impl::Account(Conn* c) {
  if (c->kind == Kind::kCtl) return;
  bool over = false;
  if (c->closed) {
    c->replies.Release();
  } else {
    over = c->replies.Account();
  }
  if (over && !c->over_cap) {
    c->over_cap_since = SteadyClock::now();
    next_sweep_ = std::min(next_sweep_, c->over_cap_since + opt_.stall_timeout);
  }
  c->over_cap = over;
}

bool Server::Impl::Answer(Conn* c, std::string_view bytes) {
  if (!c->answering || (bytes.empty() && c->Buffered() == 0)) return false;
  const size_t budget = c->replies.Budget();
  bool keep = true, answered = false;
  if (c->kind == Kind::kHost) {
    replies_.clear();
    keep = c->host->Receive(bytes, &replies_, budget);
    answered = !replies_.empty();
    for (std::string& r : replies_) Queue(c, std::move(r), faults_.TakeReplyShape());
  } else {
    ftp_replies_.clear();
    keep = c->ftp->Receive(bytes, &ftp_replies_, budget);
    answered = !ftp_replies_.empty();
    c->replies.Append(ftp_replies_);
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
  while (c->reading && c->answering && c->replies.Budget() > 0) {
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
  const bool paused = c->answering && (c->reading || c->Buffered() > 0) && c->replies.Budget() == 0;
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
      c->replies.Append(EncodeCtlReply(r));
    }
  }
  touched_.push_back(c);
}

void Server::Impl::ResumePaused() {
  for (size_t i = 0; i < paused_.size();) {
    Conn* c = paused_[i];
    if (!c->closed && c->replies.Budget() == 0) {
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
  if (c->replies.cut()) return;
  if (shape.corrupt_length && reply.size() >= 6) {
    for (size_t i = 1; i < 6; ++i) reply[i] = char(tables_.PcToHost('X'));
  }
  c->replies.Add(std::move(reply), shape, SteadyClock::now());
  if (c->replies.cut()) {
    c->reading = false;
    c->answering = false;
    c->close_when_sent = true;
  }
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
  ReplyQueue& q = c->replies;
  for (;;) {
    while (!q.sending().empty()) {
      const std::string_view bytes = q.sending();
      ssize_t n = ::send(c->fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) Close(c);
        return;
      }
      q.Sent(size_t(n));
      c->last_active = now;
    }
    if (q.ends()) {
      Close(c);
      return;
    }
    if (!q.Next(now)) break;
  }
  if (c->close_when_sent && !q.timed() && c->job == nullptr) Close(c);
}

void Server::Impl::UpdateEvents(Conn* c) {
  const bool want_write = !c->replies.sending().empty();
  const bool want_read = c->reading && !c->paused;
  if (want_write == c->write_armed && want_read == c->read_armed) return;
  const uint32_t events =
      (want_read ? uint32_t(EPOLLIN | EPOLLRDHUP) : 0u) | (want_write ? uint32_t(EPOLLOUT) : 0u);
  if (const int error = reactor_.Ctl(EPOLL_CTL_MOD, c->fd, events); error != 0) {
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
  // Closed at the end of the turn: epoll forgets it then.
  (void)reactor_.Ctl(EPOLL_CTL_DEL, c->fd, 0);
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
  reactor_.Released();
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
    if (c->replies.HoldsBack(now) || c->job != nullptr) c->last_active = now;
    const auto deadline = c->last_active + opt_.idle_timeout;
    if (now < deadline) {
      next = std::min(next, deadline);
      continue;
    }
    if (c->kind == Kind::kFtp && c->replies.unsent() == 0) {
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
    c->replies.Append(EncodeCtlReply(r));
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
  for (auto& [fd, c] : conns_) next = c->replies.NextDue(next);
  if (store_->UnflushedBytes() > 0) next = std::min(next, last_flush_ + kAckBatchTime);
  if (auto rest = reactor_.RestUntil()) next = std::min(next, *rest);
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - SteadyClock::now()).count();
  return int(std::clamp<int64_t>(ms, 0, 60000));
}

void Server::Impl::ReleaseTimed() {
  const auto now = SteadyClock::now();
  for (auto& [fd, c] : conns_) {
    if (c->closed) continue;
    if (c->replies.ReleaseHeld(now)) touched_.push_back(c.get());
    if (c->replies.NextDue(SteadyClock::time_point::max()) <= now) touched_.push_back(c.get());
    if (c->close_when_sent) touched_.push_back(c.get());
  }
}

RemoteCommandResult Server::Impl::RemoteCommand(const std::string& command) {
  const std::vector<Reactor::Port> ports = reactor_.Ports(Kind::kHost);
  const int old_fd = ports.empty() ? -1 : ports.back().fd;
  const int old_port = ports.empty() ? -1 : ports.back().port;
  return RunRemoteCommand(command, store_->data().config.server_library, old_port,
                          [&](int port, int* bound) {
                            Status s = Listen(Kind::kHost, port, bound);
                            if (!s.ok()) return s;
                            if (old_fd >= 0) reactor_.CloseListener(old_fd);
                            if (Status w = WritePorts(); !w.ok()) {
                              Log("cannot write " + folder_.Ports() + ": " + w.message());
                            }
                            return Status::Ok();
                          });
}

std::string Server::Impl::StatusNow() {
  ServerCounts counts;
  for (const auto& [fd, c] : conns_) {
    if (c->closed) continue;
    counts.host_connections += c->kind == Kind::kHost;
    counts.ftp_connections += c->kind == Kind::kFtp;
  }
  counts.unsent = caps_.total_unsent();
  counts.refused = reactor_.refused_total();
  return StatusText(ftp_port_, host_ports(), counts);
}

Status Server::Impl::Run() {
  Status result;
  while (!stopping_) {
    bool woken = false;
    result =
        reactor_.Wait(TimeoutMs(), &woken, [this](int fd, uint32_t events) { Event(fd, events); });
    if (!result.ok()) break;
    if (woken) stopping_ = true;
    const auto now = SteadyClock::now();
    reactor_.Tick(now);
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
    c->replies.Append(EncodeCtlReply(c->job->Interrupted()));
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
