// For the status tests: a snapshot with every figure set, samples, promtool, a local client.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "control/status_file.h"
#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan::testing {

inline StatusSnapshot Sample() {
  StatusSnapshot s;
  s.pid = 4242;
  s.front_end = "torvan run";
  s.started = "05/12/2026 14:00:00";
  s.written = "05/12/2026 14:05:09";
  s.written_ms = 1796566709000;
  s.stato = 4;
  s.link_up = true;
  s.collegato_sql = true;
  s.host_stop_time = "20261205220000";
  s.host_restart_time = "20261205230000";
  s.activity = "in attesa del lock su GESTIONALE/CLIENTI: modifica DATI/CLIENTI codice 1 RRN 7";
  s.held = true;
  s.held_lines = {"Modifica trattenuta: DATI/CLIENTI codice 1 RRN 7 IDX 0",
                  "  ricevuta il 05/12/2026 14:04:00, tentativi 3",
                  "  ultimo errore: valore = non valido"};
  s.in_flight = 1;
  s.journal_depth = 40;
  s.journal_lag = 2.5;
  s.conflicts = 2;
  s.databases = {{1, "GESTIONALE", 3, 12.5, 0.4, ""}, {3, "ARCHIVIO", -1, -1, -1, "no such table"}};
  s.last_applied = "05/12/2026 14:05:01";
  s.last_applied_age = 8;
  s.host_lag = 95;
  s.host_queue_seen_empty = true;
  s.counters = {12, 3, 5, 0};
  s.times = {1.25f, 104.167f, 0.5f, 100.0f};
  s.texts = {{"DATI", "CLIENTI", "DATI", "CONTATTI", "", "", "05/12/26  22:00", "05/12/26  23:00",
              "14:05:01 - AS--> DATI/CLIENTI ADD RRN:7 IDX:0"}};
  return s;
}

}  // namespace torvan::testing

namespace torvan {

// The samples of an exposition by name and labels exactly as written; no comment lines.
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

// What `promtool check metrics` says of `text`: "" when it passes (no promtool: a failure;
// scripts/install-deps installs it, Debian package prometheus).
inline std::string PromtoolCheckMetrics(const std::string& text) {
  platform::TempFolder folder("torvan-metrics");
  const std::string in = folder / "metrics", said = folder / "said";
  if (!platform::WriteFileAtomic(in, text, 0600).ok()) return "the metrics could not be written";
  if (std::system(("promtool check metrics <" + in + " >" + said + " 2>&1").c_str()) == 0)
    return "";
  return "promtool: " + testing::ReadText(said);
}

// A blocking connection to 127.0.0.1:`port`, reads giving up after `seconds`; -1: none.
inline int ConnectLocal(int port, int seconds) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval t{seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  ::close(fd);
  return -1;
}

// Everything the peer sends until it closes (or its reads give up).
inline std::string ReadToEnd(int fd) {
  std::string got;
  char buf[4096];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) got.append(buf, size_t(n));
  return got;
}

// `request` sent to 127.0.0.1:`port`, the whole answer; "connect failed" when none listens.
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
