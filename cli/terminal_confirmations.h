// The command line's answers to the schema operations' questions: the box text on the
// terminal and an OK/Annulla prompt, OK for every question with --yes, and Cancel when
// there is no terminal to ask. Changes not yet sent to the host are only thrown away with
// --discard-unsent beside --yes: --yes alone answers Annulla to a question that would lose
// them, and the refusal is counted.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "schema/confirm.h"

namespace torvan {

class TerminalConfirmations final : public Confirmations {
 public:
  // `in` is read only when `interactive`; `assume_yes` answers OK without asking, and with
  // `discard_unsent` also to questions that lose changes not yet sent.
  TerminalConfirmations(std::istream& in, std::ostream& out, bool interactive, bool assume_yes,
                        bool discard_unsent = false)
      : in_(in),
        out_(out),
        interactive_(interactive),
        assume_yes_(assume_yes),
        discard_unsent_(discard_unsent) {}

  void ShowRefusal(Owner owner, std::string_view title, std::string_view text) override;
  bool AskOkCancel(Owner owner, std::string_view title, std::string_view text,
                   int64_t unsent) override;

  // Tables Torvan refused to release: refusal boxes shown, and questions --yes could not
  // answer because changes not yet sent would be lost.
  int refused() const { return refused_; }
  // Questions answered Annulla because there was no terminal to ask and no --yes.
  int unanswered() const { return unanswered_; }

 private:
  void ShowBox(std::string_view title, std::string_view text);

  std::istream& in_;
  std::ostream& out_;
  bool interactive_;
  bool assume_yes_;
  bool discard_unsent_;
  int refused_ = 0;
  int unanswered_ = 0;
};

}  // namespace torvan
