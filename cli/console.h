// The command line's side of the program: a Program working in a base folder, with the
// real clock, an event pump and every status line printed on a stream (standard output for
// the commands whose output the messages are, standard error for those that print a table).
// The settings are read when the session starts.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "cli/stop_signals.h"
#include "core/program.h"

namespace torvan {

class ConsoleSession {
 public:
  // `folder` is the base folder; empty means the current working directory. `pump` is the
  // event pump of the Program: `torvan run` pumps Qt's loop; by default (nullptr) no window
  // is served and a SIGINT or SIGTERM ends every wait (StopPump).
  ConsoleSession(const std::string& folder, std::ostream& out, platform::EventPump* pump = nullptr);

  Program& program() { return *program_; }
  // Prints a Windows-1252 text as a UTF-8 line.
  void Print(std::string_view cp1252_line);

 private:
  std::ostream& out_;
  StopPump stop_pump_{platform::ConsolePump()};
  std::unique_ptr<Program> program_;
};

}  // namespace torvan
