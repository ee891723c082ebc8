#include "cli/logging_confirmations.h"

#include "core/text.h"

namespace torvan {

void LoggingConfirmations::Log(std::string_view title, std::string_view text,
                               std::string_view answer) {
  std::string line = "[" + Trim(title) + "] ";
  for (char c : text) line += c == '\r' ? ' ' : c;
  program_.Scrivi_Messaggio(TrimRight(line) + " (" + std::string(answer) + ")");
}

void LoggingConfirmations::ShowRefusal(Owner, std::string_view title, std::string_view text) {
  Log(title, text, "OK");
}

bool LoggingConfirmations::AskOkCancel(Owner, std::string_view title, std::string_view text,
                                       int64_t) {
  Log(title, text, "Annulla: nessun operatore");
  return false;
}

}  // namespace torvan
