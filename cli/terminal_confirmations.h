// The command line's answers to the schema operations' questions: the box text on the
// terminal and an OK/Annulla prompt, OK for every question with --yes, and Cancel when
// there is no terminal to ask.
#pragma once

#include <iosfwd>

#include "schema/confirm.h"

namespace torvan {

class TerminalConfirmations final : public Confirmations {
 public:
  // `in` is read only when `interactive`; `assume_yes` answers OK without asking.
  TerminalConfirmations(std::istream& in, std::ostream& out, bool interactive, bool assume_yes)
      : in_(in), out_(out), interactive_(interactive), assume_yes_(assume_yes) {}

  void ShowRefusal(Owner owner, std::string_view title, std::string_view text) override;
  bool AskOkCancel(Owner owner, std::string_view title, std::string_view text) override;

 private:
  void ShowBox(std::string_view title, std::string_view text);

  std::istream& in_;
  std::ostream& out_;
  bool interactive_;
  bool assume_yes_;
};

}  // namespace torvan
