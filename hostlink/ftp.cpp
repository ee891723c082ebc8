#include "hostlink/ftp.h"

#include "core/text.h"

namespace torvan::hostlink {

namespace {

constexpr size_t kMaxLine = 256;  // one send of a command line with its CR LF

// One step of the conversation: the line sent (none for the greeting), the reply code
// that lets it go on and the two messages of its failures.
struct Step {
  FtpState state;
  std::string line;
  const char* verb;
  const char* expected;
  const char* no_reply;
  const char* refused;
};

}  // namespace

const char* FtpStateName(FtpState state) {
  switch (state) {
    case FtpState::kConnect:
      return "CONNECT";
    case FtpState::kGreeting:
      return "GREETING";
    case FtpState::kUser:
      return "USER";
    case FtpState::kPass:
      return "PASS";
    case FtpState::kRcmd:
      return "RCMD";
    case FtpState::kQuit:
      return "QUIT";
    case FtpState::kDone:
      return "DONE";
    case FtpState::kFailed:
      return "FAILED";
  }
  return "?";
}

bool Ftp_RemoteCommand(SocketLayer& socket, int slot, std::string_view host, int32_t port,
                       std::string_view user, std::string_view password, std::string_view command,
                       std::string* message, const std::function<void(FtpState)>& on_state) {
  auto enter = [&](FtpState s) {
    if (on_state) on_state(s);
  };
  message->clear();
  enter(FtpState::kConnect);
  std::string address;
  if (!socket.Sock_Connect(slot, host, port, &address)) {
    *message = "Apertura della porta " + std::to_string(port) + " non riuscita";
    enter(FtpState::kFailed);
    return false;
  }

  const Step steps[] = {
      {FtpState::kGreeting, "", "", "220", "Il server FTP non risponde",
       "Il server FTP non \xE8 pronto"},
      {FtpState::kUser, "USER " + Trim(user), "USER", "331", "Il server FTP non risponde (USER)",
       "Utente errato"},
      {FtpState::kPass, "PASS " + Trim(password), "PASS", "230",
       "Il server FTP non risponde (PASS)", "Password errata"},
      {FtpState::kRcmd, "RCMD " + Trim(command), "RCMD", "250", "Il server FTP non risponde (RCMD)",
       "Comando non eseguito"},
  };
  auto send_line = [&](const std::string& text, const char* verb) {
    const std::string line = text + "\r\n";
    if (line.size() > kMaxLine) {
      *message = std::string("Riga FTP troppo lunga (") + verb + ")";
      return false;
    }
    (void)socket.Sock_SendRaw(slot, line);  // a lost line shows as a missing reply
    return true;
  };

  bool ok = true;
  for (const Step& step : steps) {
    enter(step.state);
    if (!step.line.empty() && !send_line(step.line, step.verb)) {
      ok = false;
      break;
    }
    std::string reply;
    if (!socket.Sock_ReadLine(slot, &reply, true)) {
      *message = step.no_reply;
      ok = false;
      break;
    }
    if (reply.compare(0, 3, step.expected) != 0) {
      *message = step.refused;
      ok = false;
      break;
    }
    // Further lines of a multi-line reply, read without waiting until none comes.
    std::string further;
    while (socket.Sock_ReadLine(slot, &further, false)) {
    }
  }
  if (ok) {
    enter(FtpState::kQuit);
    send_line("QUIT", "QUIT");
  }
  socket.Sock_Close(slot);
  enter(ok ? FtpState::kDone : FtpState::kFailed);
  return ok;
}

}  // namespace torvan::hostlink
