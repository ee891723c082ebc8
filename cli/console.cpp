#include "cli/console.h"

#include <ostream>

#include "config/settings.h"
#include "core/text.h"

namespace torvan {

ConsoleSession::ConsoleSession(const std::string& folder, std::ostream& out,
                               platform::EventPump* pump)
    : out_(out),
      program_(std::make_unique<Program>(
          folder.empty() ? Paths::InWorkingDirectory() : Paths::InFolder(folder),
          platform::SystemClock(), pump != nullptr ? pump : &stop_pump_)) {
  stop_pump_.Attach(program_.get());
  program_->log.on_status_line = [this](std::string_view line) { Print(line); };
  Leggi_Parametri(*program_);  // as the main window does when it loads
}

void ConsoleSession::Print(std::string_view cp1252_line) {
  out_ << Cp1252ToUtf8(cp1252_line) << '\n' << std::flush;
}

}  // namespace torvan
