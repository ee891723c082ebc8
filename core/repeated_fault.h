// A fault met again at every try (a lock another program holds, a table that is missing,
// a change that cannot be applied) is written when it starts, counted while it lasts and
// written once more when it ends, instead of a block of lines per try. While it lasts,
// what Torvan waits for is part of RunState::Attivita, which the status file, the window
// and the service manager show.
//
// One RepeatedFault follows one subject (the host change held, the events of one
// database): a fault of another kind on the same subject ends the first run silently and
// starts its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/program.h"

namespace torvan {

class RepeatedFault {
 public:
  explicit RepeatedFault(Program& program) : program_(program) {}
  ~RepeatedFault() { Forget(); }
  RepeatedFault(const RepeatedFault&) = delete;
  RepeatedFault& operator=(const RepeatedFault&) = delete;

  // A try failed with a fault of `kind` (a short key that tells faults apart: "lock",
  // "manca CLIENTI", the reason). True when this starts a run of faults: the caller writes
  // what failed then, and only then. `activity`, when given, is what Torvan waits for while
  // the run lasts ("in attesa del lock su GESTIONALE/CLIENTI ...").
  bool Failed(std::string_view kind, std::string_view activity = {});
  // A try worked. When a run of faults was under way, writes `line` followed by how long
  // it lasted and how many tries failed (" dopo 20 s, 5 tentativi") and returns true.
  bool Ended(std::string_view line);
  // Ends a run without a line (its subject is gone).
  void Forget();

  bool active() const { return run_.has_value(); }
  // The kind of the run under way, "" when none.
  const std::string& kind() const {
    static const std::string kNone;
    return run_ ? run_->kind : kNone;
  }
  int tries() const { return run_ ? run_->tries : 0; }

 private:
  struct Run {
    std::string kind;
    std::string activity;
    platform::MonotonicTime since;
    int tries = 0;
  };

  Program& program_;
  std::optional<Run> run_;
};

// RunState::Attivita holds one text per thing under way, joined by "; ".
void AddActivity(RunState& state, std::string_view text);
void RemoveActivity(RunState& state, std::string_view text);

// "20 s", "3 min 5 s", "2 h 10 min".
std::string DurationText(double seconds);

}  // namespace torvan
