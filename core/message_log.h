// The message log: the one way every part of Torvan reports what it does.
//
// Scrivi_Messaggio stamps a message with the time, makes it the status line, keeps it among
// the last 16 lines that the message window shows (also while it is closed, so that it
// opens on the latest lines) and appends it to TnC.Log when the operator asked for a log
// file. Scrivi_Log_PC_AS serves the SQL-to-host direction: it appends to TnC_PC_AS.Log and
// echoes a shortened line among those 16.
//
// Log files are UTF-8 text with CR LF line ends, appended to line by line and kept open for
// at most a second between lines (platform::AppendingFile), so that a log removed or
// rotated is made again within a second. A log file that cannot be written never disturbs
// a caller of Scrivi_Messaggio.
//
// Messages carry names and texts from the host and the SQL side. Both writers show their
// control characters as "\xNN" (VisibleText, core/text.h) in every line they make (status
// line, message window, both log files, the console through on_status_line), so no such
// text can break a line or forge one.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "platform/status.h"

namespace torvan {

struct Program;

class MessageLog {
 public:
  static constexpr int kWindowLines = 16;

  explicit MessageLog(Program& program);

  // Never fails towards the caller.
  void Scrivi_Messaggio(std::string_view testo);

  // From GatherFileLines to WriteGatheredLines the lines for TnC.Log are kept and written
  // together, in order, with one write (the lines of a batch of changes); the status line
  // and the window get each line at once.
  void GatherFileLines() { gathering_ = true; }
  void WriteGatheredLines();

  // Appends "dd/mm/yyyy hh:nn:ss " + testo to TnC_PC_AS.Log; the caller tests Log_PC_AS.
  // A failing file is reported to the caller (its error handling applies).
  Status Scrivi_Log_PC_AS(std::string_view testo);

  // The message window was opened: it shows the last 16 lines (on_window_text runs).
  void WindowOpened();
  // The last 16 lines, each ended by CR LF, oldest first; " " for a line not yet written.
  std::string WindowText() const;

  // Called with every time-stamped status line (the console prints it, the main window
  // redraws). Empty by default.
  std::function<void(std::string_view line)> on_status_line;
  // Called after the last 16 lines changed. It runs for every line: a window redraws at
  // its own pace, not here.
  std::function<void()> on_window_text;

 private:
  void AppendWindowLine(std::string line);

  Program& program_;
  std::array<std::string, kWindowLines> window_lines_;  // a ring: next_ is the oldest
  size_t next_ = 0;
  platform::AppendingFile log_file_, pc_as_file_;
  bool gathering_ = false;
  std::string gathered_;  // TnC.Log's bytes since GatherFileLines
};

}  // namespace torvan
