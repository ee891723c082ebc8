#include "core/text.h"

#include <array>
#include <climits>

namespace torvan {

namespace {

// Unicode code points of Windows-1252 0x80..0x9F.
constexpr std::array<uint16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint32_t CodePoint(unsigned char c) { return (c >= 0x80 && c < 0xA0) ? kHigh[c - 0x80] : c; }

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

int ToCp1252(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return int(cp);
  for (size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == cp) return int(0x80 + i);
  }
  return -1;
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size() + cp1252.size() / 4);
  for (char c : cp1252) AppendUtf8(out, CodePoint(static_cast<unsigned char>(c)));
  return out;
}

std::string VisibleText(std::string_view cp1252) {
  auto control = [](unsigned char c) {
    return c < 0x20 || c == 0x7F || c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
  };
  std::string out;
  out.reserve(cp1252.size());
  for (char ch : cp1252) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (!control(c)) {
      out += ch;
      continue;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
  }
  return out;
}

std::string Utf8ToCp1252(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp;
    size_t extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else {
      out += '?';
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j <= extra; ++j) {
      if (i + j >= utf8.size() || (static_cast<unsigned char>(utf8[i + j]) & 0xC0) != 0x80) break;
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + j]) & 0x3F);
    }
    if (j <= extra) {  // truncated or malformed sequence
      out += '?';
      i += j;
      continue;
    }
    int b = ToCp1252(cp);
    out += b < 0 ? '?' : char(b);
    i += extra + 1;
  }
  return out;
}

std::string Trim(std::string_view s) { return TrimLeft(TrimRight(s)); }

std::string TrimRight(std::string_view s) {
  size_t end = s.size();
  while (end > 0 && s[end - 1] == ' ') --end;
  return std::string(s.substr(0, end));
}

std::string TrimLeft(std::string_view s) {
  size_t start = 0;
  while (start < s.size() && s[start] == ' ') ++start;
  return std::string(s.substr(start));
}

std::string PadRight(std::string_view s, size_t width) {
  std::string out(s.substr(0, width));
  out.resize(width, ' ');
  return out;
}

std::string KeepRight(std::string_view s, size_t width) {
  return std::string(s.size() <= width ? s : s.substr(s.size() - width));
}

std::string ZeroPad(int64_t value, int digits) {
  bool negative = value < 0;
  uint64_t magnitude = negative ? uint64_t(0) - uint64_t(value) : uint64_t(value);
  std::string d = std::to_string(magnitude);
  if (int(d.size()) < digits) d.insert(0, size_t(digits) - d.size(), '0');
  return negative ? "-" + d : d;
}

std::string UpperCp1252(std::string_view s) {
  std::string out(s);
  for (char& ch : out) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c >= 'a' && c <= 'z') {
      c -= 0x20;
    } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
      c -= 0x20;
    } else if (c == 0x9A || c == 0x9C || c == 0x9E) {
      c -= 0x10;
    } else if (c == 0xFF) {
      c = 0x9F;
    }
    ch = char(c);
  }
  return out;
}

int32_t NumericValue(std::string_view s) {
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  };
  skip_blanks();
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    negative = s[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < s.size(); ++i) {
    if (s[i] == ' ' || s[i] == '\t') continue;  // blanks between digits are skipped too
    if (s[i] < '0' || s[i] > '9') break;
    if (value <= int64_t(INT32_MAX) + 1) value = value * 10 + (s[i] - '0');
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return int32_t(value);
}

std::string_view Mid(std::string_view s, size_t pos, size_t len) {
  if (pos == 0 || pos > s.size()) return {};
  return s.substr(pos - 1, len);
}

}  // namespace torvan
