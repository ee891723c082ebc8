#include <cstdlib>
#include <string>
#include <string_view>

#include "hostsim/ftp_session.h"
#include "hostsim/fuzz/fuzz_targets.h"
#include "platform/fuzz_check.h"

namespace torvan::hostsim::fuzz {

namespace {

using platform::fuzz::Check;

// RCMD as torvan-host runs it: the one command shape, a port within range.
RemoteCommandResult RemoteCommand(const std::string& command) {
  std::string library, program;
  int port = -1;
  if (!ParseCallCommand(command, &library, &program, &port)) return {false, "Command not valid."};
  Check(!library.empty() && !program.empty() && port >= 0 && port <= 99999);
  Check(library.find(' ') == std::string::npos && program.find(' ') == std::string::npos);
  return {program == "TNM_121" && port >= 1024 && port <= 65535, "Command CALL done."};
}

// Every reply is lines "nnn text" (or "nnn-text" within the greeting), each ending CR LF.
void CheckReplies(std::string_view out) {
  while (!out.empty()) {
    const size_t end = out.find("\r\n");
    Check(end != std::string_view::npos && end >= 4);
    const std::string_view line = out.substr(0, end);
    for (size_t i = 0; i < 3; ++i) Check(line[i] >= '0' && line[i] <= '9');
    Check(line[3] == ' ');
    Check(line.find('\n') == std::string_view::npos);
    out.remove_prefix(end + 2);
  }
}

}  // namespace

int FuzzFtpCommands(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  FtpSession::Hooks hooks;
  hooks.login = [](const std::string& user, const std::string& password) {
    return user == "UTENTE" && password == "Torvan1";
  };
  hooks.remote_command = RemoteCommand;
  FtpSession session(hooks);
  const size_t segment = 1 + size_t(data[0]) * 8;
  const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string out;
  bool open = true;
  for (size_t at = 0; open && at < stream.size(); at += segment) {
    open = session.Receive(stream.substr(at, segment), &out);
    // What waits for its line end never grows beyond a command line and a segment.
    Check(session.pending() <= 1024 + segment);
  }
  CheckReplies(out);
  // The connection closes after QUIT or a line too long, and only then.
  if (!open) {
    Check(out.size() >= 2);
    const size_t last = out.rfind("\r\n", out.size() - 3);
    const std::string_view line =
        std::string_view(out).substr(last == std::string::npos ? 0 : last + 2);
    Check(line.rfind("221 ", 0) == 0 || line == "500 Command line too long.\r\n");
  }
  return 0;
}

}  // namespace torvan::hostsim::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::hostsim::fuzz::FuzzFtpCommands(data, size);
}
#endif
