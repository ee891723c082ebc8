// For the tests that run torvan as an operator runs it: looking into what it printed.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/file.h"

namespace torvan::testing {

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The parts that `text` lacks, one a line: "" when it has them all.
inline std::string Missing(const std::string& text, std::initializer_list<std::string> parts) {
  std::string missing;
  for (const std::string& part : parts) {
    if (!Has(text, part)) missing += part + "\n";
  }
  return missing;
}

// The messages of an output, without their "hh:nn:ss - " stamps.
inline std::vector<std::string> Messages(const std::string& out) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < out.size();) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    if (line.size() > 11 && line[2] == ':' && line.compare(8, 3, " - ") == 0) {
      lines.push_back(line.substr(11));
    }
    start = end + 1;
  }
  return lines;
}

inline int Count(const std::vector<std::string>& lines, const std::string& line) {
  return int(std::count(lines.begin(), lines.end(), line));
}

// The file's contents; "" when it cannot be read.
inline std::string ReadText(const std::string& path) {
  std::string text;
  (void)platform::ReadFile(path, &text);
  return text;
}

}  // namespace torvan::testing
