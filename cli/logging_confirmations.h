// The answers of an unattended run: no box can wait for an operator. A refusal box is
// answered with its only button and its text written to the message log; a question
// (never asked by replication, which rebuilds cleared files with the force flag) is
// answered Annulla, and said so.
#pragma once

#include "core/program.h"
#include "schema/confirm.h"

namespace torvan {

class LoggingConfirmations final : public Confirmations {
 public:
  explicit LoggingConfirmations(Program& program) : program_(program) {}
  void ShowRefusal(Owner owner, std::string_view title, std::string_view text) override;
  bool AskOkCancel(Owner owner, std::string_view title, std::string_view text,
                   int64_t unsent) override;

 private:
  void Log(std::string_view title, std::string_view text, std::string_view answer);
  Program& program_;
};

}  // namespace torvan
