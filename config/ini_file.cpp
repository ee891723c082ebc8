#include "config/ini_file.h"

#include <vector>

#include "platform/file.h"

namespace torvan {

namespace {

std::string_view Strip(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool SameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x + 32);
    if (y >= 'A' && y <= 'Z') y = char(y + 32);
    if (x != y) return false;
  }
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return lines;
}

// The section name of a "[name]" line, or false.
bool SectionName(std::string_view line, std::string_view* name) {
  line = Strip(line);
  if (line.size() < 2 || line.front() != '[') return false;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  *name = Strip(line.substr(1, close - 1));
  return true;
}

// The key and value of a "key=value" line, or false.
bool KeyValue(std::string_view line, std::string_view* key, std::string_view* value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *key = Strip(line.substr(0, eq));
  *value = Strip(line.substr(eq + 1));
  return true;
}

}  // namespace

Status CheckProfileFile(const std::string& path) {
  std::string text;
  Status read = platform::ReadFile(path, &text);
  if (read.code() == Status::Code::kNotFound) return Status::Ok();
  if (!read.ok()) return read;
  bool blank = true;
  for (const std::string& line : SplitLines(text)) {
    std::string_view name;
    if (SectionName(line, &name)) return Status::Ok();
    blank = blank && Strip(line).empty();
  }
  if (blank) return Status::Ok();
  return Status::InvalidArgument("non \xE8 un file di impostazioni");
}

bool SurvivesProfileFile(std::string_view value) {
  if (value.empty()) return true;
  if (Strip(value).size() != value.size()) return false;
  return !(value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
           value.back() == value.front());
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, const std::string& path) {
  std::string text;
  if (!platform::ReadFile(path, &text).ok()) return std::string(default_value);
  bool in_section = false;
  for (const std::string& line : SplitLines(text)) {
    std::string_view name, k, v;
    if (SectionName(line, &name)) {
      in_section = SameNoCase(name, section);
      continue;
    }
    if (in_section && KeyValue(line, &k, &v) && SameNoCase(k, key)) {
      // A value written in quotes is read without them, as the profile functions do.
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
      }
      return std::string(v.substr(0, kProfileValueMax));
    }
  }
  return std::string(default_value);
}

Status WritePrivateProfileString(std::string_view section, std::string_view key,
                                 std::string_view value, const std::string& path) {
  if (value.find_first_of("\r\n") != std::string_view::npos ||
      key.find_first_of("\r\n=[") != std::string_view::npos) {
    return Status::InvalidArgument("settings: a key or value holds a line break");
  }
  std::string text;
  Status read = platform::ReadFile(path, &text);
  if (!read.ok() && read.code() != Status::Code::kNotFound) return read;
  std::vector<std::string> lines = SplitLines(text);
  std::string entry = std::string(key) + "=" + std::string(value);

  int section_at = -1, last_in_section = -1, key_at = -1;
  for (int i = 0; i < int(lines.size()); ++i) {
    std::string_view name, k, v;
    if (SectionName(lines[i], &name)) {
      if (section_at >= 0) break;  // the section ended
      if (SameNoCase(name, section)) section_at = last_in_section = i;
      continue;
    }
    if (section_at < 0) continue;
    if (!Strip(lines[i]).empty()) last_in_section = i;
    if (KeyValue(lines[i], &k, &v) && SameNoCase(k, key)) {
      key_at = i;
      break;
    }
  }
  if (key_at >= 0) {
    lines[size_t(key_at)] = entry;
  } else if (section_at >= 0) {
    lines.insert(lines.begin() + last_in_section + 1, entry);
  } else {
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(entry);
  }
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return platform::WriteFileAtomic(path, out, 0600);
}

}  // namespace torvan
