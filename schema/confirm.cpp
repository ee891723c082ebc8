#include "schema/confirm.h"

#include "schema/row_count.h"

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

std::string UnsentText(int64_t unsent) {
  if (unsent == 1) {
    return "1 modifica non ancora inviata al sistema origine andr\xE0 persa";
  }
  return FormatRowCount(unsent) + " modifiche non ancora inviate al sistema origine andranno perse";
}

}  // namespace torvan
