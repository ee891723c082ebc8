#include "core/message_log.h"

#include <cstdio>

#include "core/program.h"
#include "core/text.h"
#include "platform/file.h"

namespace torvan {

namespace {

std::string TimeText(const platform::LocalDateTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

std::string DateText(const platform::LocalDateTime& t) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.day, t.month, t.year);
  return buf;
}

}  // namespace

MessageLog::MessageLog(Program& program) : program_(program) { window_lines_.fill(" "); }

void MessageLog::Scrivi_Messaggio(std::string_view testo) {
  try {
    platform::LocalDateTime now = program_.clock->Now();
    std::string line = TimeText(now) + " - " + VisibleText(testo);
    program_.stats.Stat_Testi[kStatusLine] = line;
    if (on_status_line) on_status_line(line);
    AppendWindowLine(line);
    if (program_.settings.parametri.Log_Su_File) {
      const std::string bytes = Cp1252ToUtf8(DateText(now) + " " + line) + "\r\n";
      if (gathering_) {
        gathered_ += bytes;
      } else {
        // A failing log file loses this line only.
        (void)log_file_.Append(program_.paths.message_log, bytes);
      }
    }
  } catch (...) {
    // Reporting must never fail its caller.
  }
}

void MessageLog::WriteGatheredLines() {
  gathering_ = false;
  if (gathered_.empty()) return;
  // A failing log file loses these lines only.
  (void)log_file_.Append(program_.paths.message_log, gathered_);
  gathered_.clear();
}

Status MessageLog::Scrivi_Log_PC_AS(std::string_view testo) {
  platform::LocalDateTime now = program_.clock->Now();
  Status s = pc_as_file_.Append(
      program_.paths.pc_as_log,
      Cp1252ToUtf8(DateText(now) + " " + TimeText(now) + " " + VisibleText(testo)) + "\r\n");
  std::string line = TimeText(now) + " - " + VisibleText(testo.substr(0, 85));
  if (testo.size() > 85) line += " ...";
  AppendWindowLine(std::move(line));
  return s;
}

void MessageLog::WindowOpened() {
  if (on_window_text) on_window_text();
}

std::string MessageLog::WindowText() const {
  std::string text;
  for (size_t i = 0; i < window_lines_.size(); ++i) {
    text += window_lines_[(next_ + i) % window_lines_.size()];
    text += "\r\n";
  }
  return text;
}

void MessageLog::AppendWindowLine(std::string line) {
  window_lines_[next_] = std::move(line);
  next_ = (next_ + 1) % window_lines_.size();
  if (on_window_text) on_window_text();
}

}  // namespace torvan
