// For the tests of the metrics (the text, the server, a running Torvan's): a plain client of
// a server on 127.0.0.1, Prometheus's own check of the text exposition format, and the
// samples of a text by what a collector files them under.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

namespace torvan {

// The samples of an exposition by name and labels exactly as written
// (`torvan_x{a="v\"w"}`); the comment lines left out.
inline std::map<std::string, double> Samples(const std::string& text) {
  std::map<std::string, double> samples;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t space = line.rfind(' ');
    if (line.empty() || line[0] == '#' || space == std::string::npos) continue;
    samples[line.substr(0, space)] = std::strtod(line.c_str() + space + 1, nullptr);
  }
  return samples;
}

// What Prometheus's own checker, `promtool check metrics`, says of `text`: "" when it
// passes (HELP and TYPE before the samples of each family, names, escapes, numbers, no
// sample twice). promtool comes with Debian's prometheus package (scripts/install-deps
// installs it); without it the check fails, saying so, rather than passing unseen.
inline std::string PromtoolCheckMetrics(const std::string& text) {
  if (std::system("command -v promtool >/dev/null 2>&1") != 0) {
    return "promtool not found: scripts/install-deps installs it (Debian package prometheus)";
  }
  char name[] = "/tmp/torvan-metrics-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) return "mkstemp failed";
  const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  ::close(fd);
  const std::string said_path = std::string(name) + ".said";
  const int status = written ? std::system(("promtool check metrics <" + std::string(name) + " >" +
                                            said_path + " 2>&1")
                                               .c_str())
                             : -1;
  std::ifstream in(said_path);
  std::string said((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ::unlink(name);
  ::unlink(said_path.c_str());
  if (!written) return "the metrics could not be written for promtool";
  return status == 0 ? "" : said.empty() ? "promtool failed" : said;
}

// A blocking connection to 127.0.0.1:`port` whose reads give up after `seconds` of
// silence; -1 when it cannot connect.
inline int ConnectLocal(int port, int seconds) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval t{seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Everything the peer sends until it closes (or its reads give up).
inline std::string ReadToEnd(int fd) {
  std::string got;
  char buf[4096];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) got.append(buf, size_t(n));
  return got;
}

// `request` sent to 127.0.0.1:`port`, and the whole answer; "connect failed" when nothing
// listens there.
inline std::string AskLocal(int port, const std::string& request, int seconds = 5) {
  const int fd = ConnectLocal(port, seconds);
  if (fd < 0) return "connect failed";
  (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string got = ReadToEnd(fd);
  ::close(fd);
  return got;
}

// The body of an HTTP answer: what follows the blank line ("" when there is none).
inline std::string HttpBody(const std::string& answer) {
  const size_t blank = answer.find("\r\n\r\n");
  return blank == std::string::npos ? "" : answer.substr(blank + 4);
}

}  // namespace torvan
