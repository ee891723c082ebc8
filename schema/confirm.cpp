#include "schema/confirm.h"

#include <clocale>

#include "core/text.h"

namespace torvan {

std::string RefusalText(std::string_view db, std::string_view table) {
  return "manca il permesso alla cancellazione\rdel file " + std::string(db) + "/" +
         std::string(table) + "\r";
}

std::string QuestionText(std::string_view db, std::string_view table, std::string_view count) {
  return "il file " + std::string(db) + "/" + std::string(table) + " contiene " +
         std::string(count) +
         "\rrecord(s) \r\r\rpremere 'OK' per cancellare\rpremere 'Annulla' per NON cancellare\r";
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
