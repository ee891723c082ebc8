#include "hostlink/ftp.h"

#include <cctype>

#include "core/text.h"

namespace torvan::hostlink {

namespace {

constexpr size_t kMaxLine = 256;  // one send of a command line with its CR LF

// One step of the conversation: the line sent (none for the greeting), the reply code
// that lets it go on and the messages of its failures.
struct Step {
  FtpState state;
  std::string line;
  const char* verb;
  const char* expected;
  const char* no_reply;
  const char* refused;
  const char* unbounded;
};

enum class ReplyEnd { kComplete, kMissing, kUnbounded };

// "NNN-": the first line of a multi-line reply with code NNN.
bool OpensMultiLine(std::string_view line) {
  return line.size() >= 4 && std::isdigit(uint8_t(line[0])) && std::isdigit(uint8_t(line[1])) &&
         std::isdigit(uint8_t(line[2])) && line[3] == '-';
}

// "NNN " (or "NNN" alone) with the code of the first line: the last line of the reply.
bool ClosesMultiLine(std::string_view line, std::string_view code) {
  return line.substr(0, 3) == code && (line.size() == 3 || line[3] == ' ');
}

// Reads one reply and ends it where RFC 959 does: a first line "NNN-..." opens a
// multi-line reply that ends at the first later line "NNN ..." with the same code, each
// line awaited however late it comes; any other first line is the whole reply. Nothing
// more is awaited after it; what has already come after it is discarded. kMissing when a
// line does not come (time-out, connection closed, stop request); kUnbounded when the
// reply goes past kMaxFtpReplyLines lines or kMaxFtpReplyBytes bytes.
ReplyEnd ReadReply(SocketLayer& socket, int slot, std::string* first_line) {
  std::string line;
  size_t bytes = 0;
  for (int32_t lines = 1;; ++lines) {
    const SocketLayer::ReadEnd end = socket.ReadLine(slot, &line, true);
    if (end == SocketLayer::ReadEnd::kTooLong) return ReplyEnd::kUnbounded;
    if (end != SocketLayer::ReadEnd::kDone) return ReplyEnd::kMissing;
    bytes += line.size() + 2;
    if (lines > kMaxFtpReplyLines || bytes > kMaxFtpReplyBytes) return ReplyEnd::kUnbounded;
    if (lines == 1) {
      *first_line = line;
      if (!OpensMultiLine(line)) break;
    } else if (ClosesMultiLine(line, std::string_view(*first_line).substr(0, 3))) {
      break;
    }
  }
  socket.DiscardReceived();
  return ReplyEnd::kComplete;
}

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
                       std::string* message, const std::function<void(FtpState)>& on_state,
                       const std::function<void(FtpState, int seconds)>& on_silence) {
  FtpState current = FtpState::kConnect;
  auto enter = [&](FtpState s) {
    current = s;
    if (on_state) on_state(s);
  };
  // The socket layer tells every empty poll; the caller hears each whole second once.
  int told = 0;
  socket.on_silence = [&](std::chrono::milliseconds silent) {
    const int seconds = int(silent.count() / 1000);
    if (seconds <= told) {
      if (seconds == 0) told = 0;
      return;
    }
    told = seconds;
    if (on_silence) on_silence(current, seconds);
  };
  struct Unwatch {
    SocketLayer& s;
    ~Unwatch() { s.on_silence = nullptr; }
  } unwatch{socket};
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
       "Il server FTP non \xE8 pronto", "Il server FTP non risponde correttamente"},
      {FtpState::kUser, "USER " + Trim(user), "USER", "331", "Il server FTP non risponde (USER)",
       "Utente errato", "Il server FTP non risponde correttamente (USER)"},
      {FtpState::kPass, "PASS " + Trim(password), "PASS", "230",
       "Il server FTP non risponde (PASS)", "Password errata",
       "Il server FTP non risponde correttamente (PASS)"},
      {FtpState::kRcmd, "RCMD " + Trim(command), "RCMD", "250", "Il server FTP non risponde (RCMD)",
       "Comando non eseguito", "Il server FTP non risponde correttamente (RCMD)"},
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
    const ReplyEnd end = ReadReply(socket, slot, &reply);
    if (end != ReplyEnd::kComplete) {
      *message = end == ReplyEnd::kMissing ? step.no_reply : step.unbounded;
      ok = false;
      break;
    }
    if (reply.compare(0, 3, step.expected) != 0) {
      *message = step.refused;
      ok = false;
      break;
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
