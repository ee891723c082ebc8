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

MessageLog::MessageLog(Program& program) : program_(program) {}

void MessageLog::Scrivi_Messaggio(std::string_view testo) {
  try {
    platform::LocalDateTime now = program_.clock->Now();
    std::string line = TimeText(now) + " - " + VisibleText(testo);
    program_.stats.Stat_Testi[kStatusLine] = line;
    if (on_status_line) on_status_line(line);
    if (program_.state.Finestra_Messaggi_Aperta) AppendWindowLine(line);
    if (program_.settings.parametri.Log_Su_File) {
      // A failing log file loses this line only.
      (void)log_file_.Append(program_.paths.message_log,
                             Cp1252ToUtf8(DateText(now) + " " + line) + "\r\n");
    }
  } catch (...) {
    // Reporting must never fail its caller.
  }
}

Status MessageLog::Scrivi_Log_PC_AS(std::string_view testo) {
  platform::LocalDateTime now = program_.clock->Now();
  Status s = pc_as_file_.Append(
      program_.paths.pc_as_log,
      Cp1252ToUtf8(DateText(now) + " " + TimeText(now) + " " + VisibleText(testo)) + "\r\n");
  if (program_.state.Finestra_Messaggi_Aperta) {
    std::string line = TimeText(now) + " - " + VisibleText(testo.substr(0, 85));
    if (testo.size() > 85) line += " ...";
    AppendWindowLine(line);
  }
  return s;
}

void MessageLog::WindowOpened() {
  window_text_.clear();
  for (int i = 0; i < kWindowLines; ++i) window_text_ += " \r\n";
  if (on_window_text) on_window_text();
}

void MessageLog::AppendWindowLine(std::string_view line) {
  if (window_text_.empty()) {
    for (int i = 0; i < kWindowLines; ++i) window_text_ += " \r\n";
  }
  size_t first_end = window_text_.find("\r\n");
  window_text_.erase(0, first_end == std::string::npos ? window_text_.size() : first_end + 2);
  window_text_.append(line);
  window_text_.append("\r\n");
  if (on_window_text) on_window_text();
}

}  // namespace torvan
