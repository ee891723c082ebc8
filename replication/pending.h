// Pending: the pending file of the base folder (pending_file.h), opened on first use, and
// the state it holds. The state in memory is the truth for this process; the file is what
// survives it. A state that could not be written is written again before the next change
// moves on, so nothing that depends on it (the next S request, the next R request) happens
// before it is on file.
#pragma once

#include <memory>

#include "core/program.h"
#include "replication/conflicts.h"
#include "replication/pending_file.h"

namespace torvan {

class Pending {
 public:
  explicit Pending(Program& program) : program_(program), conflicts_(program, state_) {}

  // Opens and reads the file when not yet done, and writes a state left unwritten. False,
  // after one message line, when the file cannot be opened or written: no change may move
  // until it can.
  bool Ready();
  PendingState& state() { return state_; }
  // Both sides changing one row (conflicts.h); its memory is part of the state.
  Conflicts& conflicts() { return conflicts_; }
  // Writes the state; false after a message line when it could not be written.
  bool Save();

 private:
  Program& program_;
  std::unique_ptr<PendingFile> file_;
  PendingState state_;
  Conflicts conflicts_;
  bool unsaved_ = false;
  std::string last_error_;  // the last error reported, so that a lasting fault logs once
};

}  // namespace torvan
