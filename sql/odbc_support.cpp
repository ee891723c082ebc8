#include "sql/odbc_support.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <type_traits>

#include "core/text.h"

namespace torvan::sql {

namespace {

// Whether a diagnostic of a SQL Server driver carries the server's own message number:
// one with a number, outside the classes of the client side (connection "08", driver
// manager "IM", driver "HY", warnings "01"). FreeTDS names even its own failures
// "[FreeTDS][SQL Server]...", so the text cannot tell.
bool FromServer(const SqlError& e) {
  if (e.native_error == 0 || e.sql_state.size() != 5) return false;
  const std::string cls = e.sql_state.substr(0, 2);
  return cls != "08" && cls != "IM" && cls != "HY" && cls != "01";
}

std::string ToUtf8(const SQLWCHAR* text, size_t n) { return WideToUtf8(text, n); }
std::string ToUtf8(const SQLCHAR* text, size_t n) {
  return std::string(reinterpret_cast<const char*>(text), n);
}

// Record `i` of the handle through SQLGetDiagRecW (SQLWCHAR) or SQLGetDiagRec (SQLCHAR);
// false when there is none. A message longer than the buffer is asked for again, whole.
template <class Char>
bool DiagRecord(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT i, SqlError* e) {
  Char state[6] = {};
  std::vector<Char> message(1024);
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  auto get = [&] {
    if constexpr (std::is_same_v<Char, SQLWCHAR>) {
      return SQLGetDiagRecW(type, handle, i, state, &native, message.data(),
                            SQLSMALLINT(message.size()), &length);
    } else {
      return SQLGetDiagRec(type, handle, i, state, &native, message.data(),
                           SQLSMALLINT(message.size()), &length);
    }
  };
  SQLRETURN rc = get();
  if (rc == SQL_SUCCESS_WITH_INFO && size_t(length) >= message.size()) {
    message.resize(size_t(length) + 1);
    rc = get();
  }
  if (!SQL_SUCCEEDED(rc)) return false;
  e->sql_state = ToUtf8(state, 5);
  e->description = Utf8ToCp1252(ToUtf8(
      message.data(), std::min(size_t(std::max<SQLSMALLINT>(length, 0)), message.size() - 1)));
  e->number = native;
  e->native_error = native;
  return true;
}

}  // namespace

WideString Utf8ToWide(std::string_view utf8) {
  WideString out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    uint32_t cp = 0xFFFD;
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + len <= utf8.size()) {
      cp = len == 1 ? (c < 0x80 ? c : 0xFFFD) : c & (0x7F >> len);
      for (size_t k = 1; k < len; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += SQLWCHAR(0xD800 + (cp >> 10));
      out += SQLWCHAR(0xDC00 + (cp & 0x3FF));
    } else {
      out += SQLWCHAR(cp);
    }
  }
  return out;
}

std::string WideToUtf8(const SQLWCHAR* w, size_t n) {
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = w[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[++i] - 0xDC00);
    }
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

WideString Cp1252ToWide(std::string_view cp1252) { return Utf8ToWide(Cp1252ToUtf8(cp1252)); }

std::vector<SqlError> Diagnostics(SQLSMALLINT type, SQLHANDLE handle, bool wide,
                                  const std::string& source) {
  std::vector<SqlError> errors;
  if (handle == SQL_NULL_HANDLE) return errors;
  for (SQLSMALLINT i = 1;; ++i) {
    SqlError e;
    if (!(wide ? DiagRecord<SQLWCHAR>(type, handle, i, &e)
               : DiagRecord<SQLCHAR>(type, handle, i, &e)))
      break;
    e.source = source;
    e.origin = wide && FromServer(e) ? ErrorOrigin::kSqlServer : ErrorOrigin::kOdbc;
    errors.push_back(std::move(e));
  }
  return errors;
}

std::string Braced(std::string_view value) {
  const bool plain = value.find_first_of(";{}") == std::string_view::npos &&
                     (value.empty() || (value.front() != ' ' && value.back() != ' '));
  if (plain) return std::string(value);
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

bool NamesSqliteDriver(std::string_view driver) {
  std::string lower(driver);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("sqlite") != std::string::npos;
}

}  // namespace torvan::sql
