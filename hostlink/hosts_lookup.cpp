#include "hostlink/hosts_lookup.h"

#include <string>

#include "platform/file.h"
#include "platform/hosts_file.h"

namespace torvan {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

size_t FindNoCase(std::string_view hay, std::string_view needle) {
  if (needle.empty() || needle.size() > hay.size()) return std::string_view::npos;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i) {
    size_t j = 0;
    while (j < needle.size() && Lower(hay[i + j]) == Lower(needle[j])) ++j;
    if (j == needle.size()) return i;
  }
  return std::string_view::npos;
}

}  // namespace

uint32_t ParseDottedAddress(std::string_view text) {
  uint32_t result = 0;
  int parts = 0;
  size_t start = 0;
  while (true) {
    size_t dot = text.find('.', start);
    std::string_view part =
        text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
    while (!part.empty() && (part.front() == ' ' || part.front() == '\t')) part.remove_prefix(1);
    while (!part.empty() && (part.back() == ' ' || part.back() == '\t')) part.remove_suffix(1);
    // Each part is read as its leading number, so the blank and whatever follows the
    // address on a hosts line ("10.0.0.6 sys" before a longer name) do not matter.
    if (parts == 4) return 0;
    size_t digits = 0;
    uint32_t value = 0;
    while (digits < part.size() && part[digits] >= '0' && part[digits] <= '9' && value <= 255) {
      value = value * 10 + uint32_t(part[digits] - '0');
      ++digits;
    }
    if (digits == 0) return 0;
    if (value > 255) return 0;
    result |= value << (8 * parts);  // first part in the lowest byte: network order in memory
    ++parts;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts == 4 ? result : 0;
}

std::string AddressText(uint32_t a) {
  return std::to_string(a & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) + "." +
         std::to_string((a >> 16) & 0xFF) + "." + std::to_string(a >> 24);
}

uint32_t Hosts_Lookup(std::string_view name, Status* status) {
  std::string contents;
  Status s = platform::ReadFile(platform::Hosts_FilePath(), &contents);
  if (status != nullptr) *status = s;
  // An unreadable hosts file holds no lines: a dotted address still resolves to itself.
  if (!s.ok()) contents.clear();
  std::string_view text = name;
  std::string_view all = contents;
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find('\n', pos);
    std::string_view line = all.substr(pos, end == all.npos ? all.npos : end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t at = FindNoCase(line, name);
    if (at != std::string_view::npos) {
      if (at > 0) text = line.substr(0, at);
      break;
    }
    if (end == all.npos) break;
    pos = end + 1;
  }
  return ParseDottedAddress(text);
}

}  // namespace torvan
