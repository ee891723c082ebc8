#include "hostsim/ftp_session.h"

#include "core/text.h"

namespace torvan::hostsim {

namespace {

// A command line longer than this is not a command of any client Torvan knows.
constexpr size_t kMaxLine = 1024;

std::string PlainReply(int code, const std::string& text) {
  return std::to_string(code) + " " + text + "\r\n";
}

}  // namespace

std::string FtpSession::Reply(int code, const std::string& text) {
  // The RCMD reply names the port the program took, for whoever reads it; the PC reads
  // only the codes, so the other texts are free.
  if (vary_ == nullptr || code == 250) return PlainReply(code, text);
  return vary_->FtpReply(code, text);
}

std::string FtpSession::Greeting() {
  return "220-QTCP at TORVAN.\r\n"
         "220 Connection will close if idle more than 5 minutes.\r\n";
}

std::string FtpSession::IdleGoodbye() {
  return PlainReply(421, "Connection closed: idle time-out.");
}

bool FtpSession::Receive(std::string_view bytes, std::string* out, size_t budget) {
  input_.append(bytes);
  const size_t start = out->size();
  size_t answered = 0;
  bool keep = true;
  while (keep && out->size() - start < budget) {
    size_t end = input_.find('\n', answered);
    if (end == std::string::npos) break;
    std::string line = input_.substr(answered, end - answered);
    answered = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kMaxLine) {
      *out += Reply(500, "Command line too long.");
      keep = false;
    } else {
      keep = Command(line, out);
    }
  }
  // Answered lines leave the buffer in one go: erasing each line would copy the rest of
  // a segment full of short lines once per line.
  input_.erase(0, answered);
  if (keep && input_.size() > kMaxLine && input_.find('\n') == std::string::npos) {
    *out += Reply(500, "Command line too long.");
    keep = false;
  }
  return keep;
}

bool FtpSession::Command(const std::string& line, std::string* out) {
  size_t blank = line.find(' ');
  const std::string verb = UpperCp1252(Trim(line.substr(0, blank)));
  const std::string arg = blank == std::string::npos ? "" : Trim(line.substr(blank + 1));
  if (verb == "USER") {
    user_ = arg;
    user_given_ = true;
    logged_in_ = false;
    *out += Reply(331, "Enter password.");
  } else if (verb == "PASS") {
    logged_in_ = user_given_ && hooks_.login(user_, arg);
    *out += logged_in_ ? Reply(230, user_ + " logged on.")
                       : Reply(530, "Log on attempt by user " + user_ + " rejected.");
  } else if (verb == "RCMD") {
    if (!logged_in_) {
      *out += Reply(530, "Not logged in.");
    } else {
      RemoteCommandResult r = hooks_.remote_command(arg);
      *out += Reply(r.accepted ? 250 : 550, r.text);
    }
  } else if (verb == "QUIT") {
    *out += Reply(221, "QUIT subcommand received.");
    return false;
  } else {
    *out += Reply(500, "Subcommand " + verb + " not valid.");
  }
  return true;
}

bool ParseCallCommand(std::string_view command, std::string* library, std::string* program,
                      int* port) {
  std::string c = UpperCp1252(Trim(command));
  if (c.rfind("CALL ", 0) != 0) return false;
  c = Trim(c.substr(5));
  size_t slash = c.find('/');
  size_t open = c.find('(');
  if (slash == std::string::npos || open == std::string::npos || slash > open) return false;
  *library = Trim(c.substr(0, slash));
  *program = Trim(c.substr(slash + 1, open - slash - 1));
  std::string param;
  for (char ch : c.substr(open + 1)) {
    if (ch != ' ') param.push_back(ch);
  }
  // 'P04200')
  if (param.size() != 9 || param.substr(0, 2) != "'P" || param.substr(7) != "')") return false;
  int value = 0;
  for (size_t i = 2; i < 7; ++i) {
    if (param[i] < '0' || param[i] > '9') return false;
    value = value * 10 + (param[i] - '0');
  }
  if (library->empty() || program->empty() || library->find(' ') != std::string::npos ||
      program->find(' ') != std::string::npos) {
    return false;
  }
  *port = value;
  return true;
}

}  // namespace torvan::hostsim
