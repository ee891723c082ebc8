#include "cli/terminal_confirmations.h"

#include <istream>
#include <ostream>
#include <string>

#include "core/text.h"

namespace torvan {

void TerminalConfirmations::ShowBox(std::string_view title, std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    if (c == '\r') c = '\n';  // a box breaks lines at lone carriage returns
  }
  out_ << "[" << Cp1252ToUtf8(Trim(title)) << "]\n" << Cp1252ToUtf8(shown) << std::flush;
}

void TerminalConfirmations::ShowRefusal(Owner, std::string_view title, std::string_view text) {
  ShowBox(title, text);
  out_ << "OK\n" << std::flush;
  ++refused_;
}

bool TerminalConfirmations::AskOkCancel(Owner, std::string_view title, std::string_view text,
                                        int64_t unsent) {
  ShowBox(title, text);
  if (assume_yes_ && unsent > 0 && !discard_unsent_) {
    out_ << "OK/Annulla? Annulla (--yes da solo non cancella modifiche non ancora inviate: "
            "serve anche --discard-unsent)\n"
         << std::flush;
    ++refused_;
    return false;
  }
  if (assume_yes_) {
    out_ << "OK/Annulla? OK (--yes)\n" << std::flush;
    return true;
  }
  if (!interactive_) {
    out_ << "OK/Annulla? Annulla (nessun terminale a cui chiedere; --yes risponde OK)\n"
         << std::flush;
    ++unanswered_;
    return false;
  }
  out_ << "OK/Annulla? " << std::flush;
  std::string answer;
  if (!std::getline(in_, answer)) return false;
  answer = UpperCp1252(Trim(answer));
  return answer == "OK" || answer == "O";
}

}  // namespace torvan
