// The command line's side of the program: a Program working in a base folder, with the
// real clock, an event pump that has no windows to serve, and every status line printed on
// standard output. The settings are read when the session starts.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "core/program.h"

namespace torvan {

class ConsoleSession {
 public:
  // `folder` is the base folder; empty means the current working directory. `pump` is the
  // event pump of the Program (none with windows by default; `torvan run` pumps Qt's loop).
  ConsoleSession(const std::string& folder, std::ostream& out,
                 platform::EventPump* pump = platform::ConsolePump());

  Program& program() { return *program_; }
  // Prints a Windows-1252 text as a UTF-8 line.
  void Print(std::string_view cp1252_line);

 private:
  std::ostream& out_;
  std::unique_ptr<Program> program_;
};

}  // namespace torvan
