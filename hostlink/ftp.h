// The FTP remote command: a minimal FTP client that logs in to the host's FTP server and
// has it run one command with RCMD (the CALL that starts the host's server program).
//
// Called by the link start on the link slot before the message link is opened. No data
// connection is ever opened. Lines go out untranslated with CR LF. A reply ends where
// RFC 959 ends it: a first line "NNN-..." opens a multi-line reply that ends at the next
// line beginning "NNN " (each of its lines awaited, however late it comes); any other
// first line is the whole reply. Of each reply only the first three characters of its
// first line are looked at. After a complete reply nothing more is awaited, and what has
// already come after it is discarded. A reply is bounded: more than kMaxFtpReplyLines
// lines or kMaxFtpReplyBytes bytes (CR LF included), or one line that does not fit the
// ReceiveBuffer, ends the conversation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "hostlink/socket_layer.h"

namespace torvan::hostlink {

// The bounds of one reply: what a real server sends is a handful of lines.
inline constexpr int32_t kMaxFtpReplyLines = 100;
inline constexpr size_t kMaxFtpReplyBytes = 16384;

// The conversation's states, in order; every failure goes to kFailed.
enum class FtpState { kConnect, kGreeting, kUser, kPass, kRcmd, kQuit, kDone, kFailed };
const char* FtpStateName(FtpState state);

// Connects `slot` to `host`:`port`, reads the greeting (220), sends "USER " + trimmed user
// (331), "PASS " + trimmed password (230), "RCMD " + trimmed command (250), then "QUIT"
// without waiting for its reply, and closes the slot. True when the command was accepted;
// `*message` is then empty, otherwise it holds the reason, one of:
//   "Apertura della porta <port> non riuscita"            connect failed
//   "Il server FTP non risponde" / "... non è pronto"     no greeting / not 220
//   "Il server FTP non risponde (USER)" / "Utente errato"       no reply / not 331
//   "Il server FTP non risponde (PASS)" / "Password errata"     no reply / not 230
//   "Il server FTP non risponde (RCMD)" / "Comando non eseguito" no reply / not 250
//   "Il server FTP non risponde correttamente" + " (USER)", " (PASS)" or " (RCMD)" after
//                              the greeting, a reply past the bounds above
// A reply is missing when one of its lines does not come within the awaited-line limit
// of the socket layer (about ten minutes), when the server closes the connection before
// the reply is whole, or when a stop is requested.
//   "Riga FTP troppo lunga (<verb>)"   a line over 256 bytes with its CR LF (not sent)
// `on_state`, when given, is told every state the conversation enters; `on_silence`, every
// whole second a reply has been awaited without a byte coming (1, 2, ...), with the state
// whose reply it is: a server that accepts the connection and never answers is waited for
// ten minutes, and the caller can say so meanwhile.
bool Ftp_RemoteCommand(SocketLayer& socket, int slot, std::string_view host, int32_t port,
                       std::string_view user, std::string_view password, std::string_view command,
                       std::string* message, const std::function<void(FtpState)>& on_state = {},
                       const std::function<void(FtpState, int seconds)>& on_silence = {});

}  // namespace torvan::hostlink
