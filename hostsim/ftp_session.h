// The host's FTP control conversation, as far as Torvan uses it: log in, run the remote
// command that starts the host server program, quit. No data connection exists.
//
//   on connect  220 (two lines, as an IBM i greets)
//   USER name   331
//   PASS word   230 when user and password are right, 530 otherwise
//   RCMD CALL <library>/TNM_121 ('Pnnnnn')   250 when the program runs on port nnnnn,
//               530 before a login, 550 for any other command, a port outside
//               1024-65535 (00000: any free port) or a port that cannot open
//   QUIT        221, then the connection closes
//   anything else  500
//   idle too long  421, then the connection closes (the server keeps the time)
//
// FtpSession is only the conversation: bytes in, reply bytes out. The server owns the
// socket and decides, through Hooks, whether a login is right and what RCMD does.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "hostsim/variation.h"

namespace torvan::hostsim {

// What RCMD did.
struct RemoteCommandResult {
  bool accepted = false;
  std::string text;  // the reply text after the code ("Command ... successful.")
};

class FtpSession {
 public:
  struct Hooks {
    // True when `user` may log in with `password` (Windows-1252 texts as received).
    std::function<bool(const std::string& user, const std::string& password)> login;
    // Runs the remote command of RCMD.
    std::function<RemoteCommandResult(const std::string& command)> remote_command;
  };

  // `vary`, when given, varies the reply texts after their codes (variation.h).
  explicit FtpSession(Hooks hooks, Variation* vary = nullptr)
      : hooks_(std::move(hooks)), vary_(vary) {}

  // The greeting sent when the connection opens.
  static std::string Greeting();
  // The last words to a client whose connection closes because it stayed idle.
  static std::string IdleGoodbye();

  // Takes bytes received from the client and appends the replies to `out`. Commands are
  // answered only while the replies appended by this call total less than `budget`
  // bytes; the lines left wait, buffered, for a later call (`bytes` may then be empty).
  // Returns false when the connection must close once `out` has been sent (QUIT, or a
  // line too long to be a command).
  bool Receive(std::string_view bytes, std::string* out, size_t budget = SIZE_MAX);

  // Bytes received and not yet answered.
  size_t pending() const { return input_.size(); }

 private:
  bool Command(const std::string& line, std::string* out);
  std::string Reply(int code, const std::string& text);

  Hooks hooks_;
  Variation* vary_;
  std::string input_;
  std::string user_;
  bool user_given_ = false;
  bool logged_in_ = false;
};

// Reads "CALL <library>/<program> ('Pnnnnn')" (blanks free, case ignored). Returns false
// when the command has another shape.
bool ParseCallCommand(std::string_view command, std::string* library, std::string* program,
                      int* port);

}  // namespace torvan::hostsim
