#include <cstdlib>
#include <string>
#include <string_view>

#include "core/text.h"
#include "hostsim/fuzz/fuzz_targets.h"
#include "hostsim/statement.h"
#include "platform/fuzz_check.h"

namespace torvan::hostsim::fuzz {

namespace {

using platform::fuzz::Check;

bool IsNumber(std::string_view t) {
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) t.remove_prefix(1);
  size_t digits = 0, points = 0;
  for (char c : t) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return false;
    }
  }
  return digits > 0 && points <= 1;
}

std::string Value(const StatementValue& v) {
  if (!v.quoted) return v.text;
  std::string out = "'";
  for (char c : v.text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

// The statement written back in the form Torvan sends it.
std::string Render(const Statement& s) {
  const std::string target = s.library + "/" + s.file;
  std::string where = s.where_rrn ? "WHERE RRN(a)=" + std::to_string(s.rrn)
                                  : "WHERE " + s.where_field + "=" + Value(s.where_value);
  switch (s.kind) {
    case Statement::Kind::kInsert: {
      std::string names, values;
      for (const auto& [name, value] : s.values) {
        names += (names.empty() ? "" : ",") + name;
        values += (values.empty() ? "" : ", ") + Value(value);
      }
      return "INSERT INTO " + target + " (" + names + ") VALUES(" + values + ")";
    }
    case Statement::Kind::kUpdate: {
      std::string set;
      for (const auto& [name, value] : s.values) {
        set += (set.empty() ? "" : ", ") + name + "=" + Value(value);
      }
      return " UPDATE " + target + " a SET " + set + " " + where;
    }
    default:
      return " DELETE FROM " + target + " a " + where;
  }
}

bool Same(const Statement& a, const Statement& b) {
  auto same_value = [](const StatementValue& x, const StatementValue& y) {
    return x.quoted == y.quoted && x.text == y.text;
  };
  if (a.kind != b.kind || a.library != b.library || a.file != b.file ||
      a.values.size() != b.values.size() || a.where_rrn != b.where_rrn) {
    return false;
  }
  for (size_t i = 0; i < a.values.size(); ++i) {
    if (a.values[i].first != b.values[i].first ||
        !same_value(a.values[i].second, b.values[i].second)) {
      return false;
    }
  }
  if (a.kind == Statement::Kind::kInsert) return true;
  return a.where_rrn ? a.rrn == b.rrn
                     : a.where_field == b.where_field && same_value(a.where_value, b.where_value);
}

}  // namespace

int FuzzHostStatement(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Statement st;
  const Status s = ParseStatement(text, &st);
  if (!s.ok()) {
    Check(s.code() == Status::Code::kInvalidArgument && s.message().rfind("expected ", 0) == 0);
    return 0;
  }
  Check(!st.library.empty() && !st.file.empty());
  Check(st.library == UpperCp1252(st.library) && st.file == UpperCp1252(st.file));
  Check(st.values.empty() == (st.kind == Statement::Kind::kDelete));
  for (const auto& [name, value] : st.values) {
    Check(!name.empty() && name == UpperCp1252(name));
    Check(value.quoted || IsNumber(value.text));
  }
  if (st.kind != Statement::Kind::kInsert && !st.where_rrn) {
    Check(!st.where_field.empty() && (st.where_value.quoted || IsNumber(st.where_value.text)));
  }
  // What was read is all the statement says: written back, it reads the same.
  Statement again;
  Check(ParseStatement(Render(st), &again).ok());
  Check(Same(st, again));
  return 0;
}

}  // namespace torvan::hostsim::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::hostsim::fuzz::FuzzHostStatement(data, size);
}
#endif
