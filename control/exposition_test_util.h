// For tests: a plain client of a server on 127.0.0.1; and reads Prometheus's text exposition format
// back, strictly, as a collector would: every sample under its family's # HELP and # TYPE lines,
// names and label names of the allowed characters, label values with their escapes undone, values
// that are numbers, no sample twice.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace torvan {

struct Exposition {
  // "name" or "name{a=\"x\",b=\"y\"}" with the labels sorted and their values unescaped.
  std::map<std::string, double> samples;
  std::map<std::string, std::string> types;  // family -> counter, gauge, untyped
  std::map<std::string, std::string> help;   // family -> text
};

inline bool ExpositionName(const std::string& n, bool label) {
  if (n.empty() || std::isdigit(static_cast<unsigned char>(n[0]))) return false;
  for (char c : n) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && (label || c != ':')) {
      return false;
    }
  }
  return true;
}

// "" when `text` is well formed (and `*e` holds it), else what is wrong and where.
inline std::string ParseExposition(const std::string& text, Exposition* e) {
  if (!text.empty() && text.back() != '\n') return "the text does not end with a line feed";
  std::istringstream in(text);
  std::string line;
  std::set<std::string> seen_samples_of;
  std::string last_family;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    const std::string where = "line " + std::to_string(n) + " \"" + line + "\": ";
    if (line.empty()) continue;
    if (line[0] == '#') {
      std::istringstream words(line);
      std::string hash, kind, name;
      words >> hash >> kind >> name;
      if (kind != "HELP" && kind != "TYPE") continue;  // a comment
      if (!ExpositionName(name, false)) return where + "bad metric name";
      std::string rest;
      std::getline(words, rest);
      if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
      if (seen_samples_of.count(name)) return where + kind + " after samples of " + name;
      if (kind == "TYPE") {
        if (rest != "counter" && rest != "gauge" && rest != "untyped") return where + "bad type";
        if (!e->types.emplace(name, rest).second) return where + "second TYPE of " + name;
      } else {
        if (rest.empty()) return where + "empty HELP";
        if (!e->help.emplace(name, rest).second) return where + "second HELP of " + name;
      }
      continue;
    }
    size_t i = 0;
    while (i < line.size() && line[i] != '{' && line[i] != ' ') ++i;
    const std::string name = line.substr(0, i);
    if (!ExpositionName(name, false)) return where + "bad metric name";
    if (!e->types.count(name) || !e->help.count(name)) return where + "no HELP and TYPE before it";
    std::map<std::string, std::string> labels;
    if (i < line.size() && line[i] == '{') {
      ++i;
      while (i < line.size() && line[i] != '}') {
        size_t eq = line.find('=', i);
        if (eq == std::string::npos) return where + "label without =";
        const std::string label = line.substr(i, eq - i);
        if (!ExpositionName(label, true)) return where + "bad label name";
        if (eq + 1 >= line.size() || line[eq + 1] != '"') return where + "label value not quoted";
        std::string value;
        size_t j = eq + 2;
        for (; j < line.size() && line[j] != '"'; ++j) {
          if (line[j] != '\\') {
            value += line[j];
            continue;
          }
          if (++j >= line.size()) return where + "escape at the end";
          if (line[j] == 'n') {
            value += '\n';
          } else if (line[j] == '\\' || line[j] == '"') {
            value += line[j];
          } else {
            return where + "unknown escape";
          }
        }
        if (j >= line.size()) return where + "label value not closed";
        if (!labels.emplace(label, value).second) return where + "label twice";
        i = j + 1;
        if (i < line.size() && line[i] == ',') ++i;
      }
      if (i >= line.size()) return where + "labels not closed";
      ++i;
    }
    if (i >= line.size() || line[i] != ' ') return where + "no value";
    const std::string value = line.substr(i + 1);
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0') return where + "value is not a number";
    std::string key = name;
    if (!labels.empty()) {
      key += "{";
      bool first = true;
      for (const auto& [k, v2] : labels) {
        key += (first ? "" : ",") + k + "=\"" + v2 + "\"";
        first = false;
      }
      key += "}";
    }
    if (!e->samples.emplace(key, v).second) return where + "sample twice";
    if (name != last_family && seen_samples_of.count(name)) {
      return where + "samples of " + name + " not together";
    }
    seen_samples_of.insert(name);
    last_family = name;
  }
  return "";
}

// What Prometheus's own checker, `promtool check metrics`, says of `text`: "" when it
// passes. promtool comes with Debian's prometheus package (scripts/install-deps installs
// it); without it the check fails, saying so, rather than passing unseen.
inline std::string PromtoolCheckMetrics(const std::string& text) {
  if (std::system("command -v promtool >/dev/null 2>&1") != 0) {
    return "promtool not found: scripts/install-deps installs it (Debian package prometheus)";
  }
  char name[] = "/tmp/torvan-metrics-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) return "mkstemp failed";
  const bool written = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
  ::close(fd);
  std::string said;
  if (written) {
    const std::string cmd = std::string("promtool check metrics <") + name + " 2>&1";
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[512];
    for (size_t n; p != nullptr && (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
      said.append(buf, n);
    const int status = p != nullptr ? ::pclose(p) : -1;
    if (status == 0) said.clear();
    if (status != 0 && said.empty()) said = "promtool failed";
  } else {
    said = "the metrics could not be written for promtool";
  }
  ::unlink(name);
  return said;
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

}  // namespace torvan
