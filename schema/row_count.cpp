#include "schema/row_count.h"

#include <clocale>

#include "core/text.h"

namespace torvan {

namespace {

std::string TextOf(const RowCount& c, const std::string& formatted) {
  switch (c.state()) {
    case RowCount::State::kAbsent:
      return "non esiste";
    case RowCount::State::kNoPermission:
      return "no permesso";
    case RowCount::State::kCounted:
      break;
  }
  return formatted;
}

}  // namespace

std::string RowCount::Text() const { return TextOf(*this, FormatRowCount(rows_)); }

std::string RowCount::Text(std::string_view separator) const {
  return TextOf(*this, FormatRowCount(rows_, separator));
}

std::string FormatRowCount(long long count, std::string_view separator) {
  std::string digits = std::to_string(count < 0 ? -count : count);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return count < 0 ? "-" + out : out;
}

std::string FormatRowCount(long long count) {
  const lconv* lc = std::localeconv();
  // The locale's separator is UTF-8 (a narrow no-break space in some); texts are Windows-1252.
  std::string sep = (lc != nullptr && lc->thousands_sep != nullptr) ? lc->thousands_sep : "";
  return FormatRowCount(count, Utf8ToCp1252(sep));
}

}  // namespace torvan
