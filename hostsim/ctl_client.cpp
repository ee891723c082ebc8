#include "hostsim/ctl_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

#include "hostsim/data_folder.h"

namespace torvan::hostsim {

std::string EncodeCtlRequest(const std::vector<std::string>& args) {
  std::string bytes = std::to_string(args.size()) + "\n";
  for (const std::string& a : args) {
    bytes += a;
    bytes.push_back('\0');
  }
  return bytes;
}

CtlDecode DecodeCtlRequest(std::string_view bytes, std::vector<std::string>* args) {
  args->clear();
  // The count takes at most kMaxCountDigits characters, whether its line end has come
  // or not, so that a request reads the same in pieces as whole.
  constexpr size_t kMaxCountDigits = 8;
  size_t nl = bytes.find('\n');
  if (nl == std::string_view::npos) {
    return bytes.size() > kMaxCountDigits ? CtlDecode::kMalformed : CtlDecode::kIncomplete;
  }
  if (nl > kMaxCountDigits) return CtlDecode::kMalformed;
  size_t count = 0;
  auto [end, ec] = std::from_chars(bytes.data(), bytes.data() + nl, count);
  if (ec != std::errc() || end != bytes.data() + nl || count > kMaxCtlArgs) {
    return CtlDecode::kMalformed;
  }
  size_t pos = nl + 1;
  while (args->size() < count) {
    size_t zero = bytes.find('\0', pos);
    if (zero == std::string_view::npos) {
      return bytes.size() > kMaxCtlRequest ? CtlDecode::kMalformed : CtlDecode::kIncomplete;
    }
    args->emplace_back(bytes.substr(pos, zero - pos));
    pos = zero + 1;
  }
  return pos == bytes.size() ? CtlDecode::kComplete : CtlDecode::kMalformed;
}

std::string EncodeCtlReply(const CtlResult& result) {
  return std::to_string(result.exit_code) + "\n" + result.text;
}

Status CtlCall(const std::string& data_dir, const std::vector<std::string>& args, int timeout_ms,
               CtlResult* result) {
  const std::string path = DataFolder{data_dir}.CtlSocket();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    return Status::InvalidArgument("the path " + path + " is too long for a local socket");
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return PosixError("socket", errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    return Status::Closed("no torvan-host is serving " + data_dir + " (" + path + ": " +
                          std::strerror(errno) + ")");
  }
  const std::string request = EncodeCtlRequest(args);
  for (size_t sent = 0; sent < request.size();) {
    ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return PosixError("send to " + path, errno);
    sent += size_t(n);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string reply;
  char buf[65536];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return Status::TimedOut("torvan-host did not answer in time");
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, int(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return PosixError("poll", errno);
    if (r == 0) continue;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return PosixError("recv from " + path, errno);
    if (n == 0) break;
    reply.append(buf, size_t(n));
  }
  size_t nl = reply.find('\n');
  int code = 0;
  if (nl == std::string::npos ||
      std::from_chars(reply.data(), reply.data() + nl, code).ec != std::errc()) {
    return Status::IoError("torvan-host closed the control connection without an answer");
  }
  result->exit_code = code;
  result->text = reply.substr(nl + 1);
  return Status::Ok();
}

}  // namespace torvan::hostsim
