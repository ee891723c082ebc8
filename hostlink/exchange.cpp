#include "hostlink/exchange.h"

#include "hostlink/frame.h"

namespace torvan::hostlink {

namespace {

constexpr int kSlot = SocketLayer::kLinkSlot;

// The texts of one kind of exchange; an empty text means no message.
struct Wording {
  std::string send_failed;
  std::string header_failed;
  std::string refused;
  std::string data_failed;
};

std::string Routine(std::string_view routine) {
  std::string r(1, '[');
  r += routine;
  r += "] ";
  return r;
}

Wording WordingFor(std::string_view routine, char code) {
  const std::string r = Routine(routine);
  std::string c(1, '{');
  c += code;
  c += '}';
  Wording w;
  w.send_failed = r + "Errore Sock_Send " + c;
  if (code == kRequestImage) return w;  // the image transfer ends its part silently
  w.header_failed = r + "Errore Sock_Read " + c + "(1)";
  w.data_failed = r + "Errore Sock_Read " + c + "(2)";
  if (code == kRequestTime || code == kRequestRestartWait) w.refused = r + "Errore Esito " + c;
  return w;
}

void Say(Program& program, const std::string& text) {
  if (!text.empty()) program.Scrivi_Messaggio(text);
}

bool Send(SocketLayer& socket, Program& program, char code, std::string_view data,
          const Wording& wording) {
  std::string frame;
  if (!BuildRequest(code, data, &frame).ok()) {
    Say(program, wording.send_failed);
    return false;
  }
  // A failed send shows as a header that never comes: the read reports it.
  (void)socket.Sock_Send(kSlot, frame, int32_t(frame.size()));
  return true;
}

ExchangeReply Read(SocketLayer& socket, Program& program, char code, const Wording& wording,
                   int32_t& header_counter, int32_t& data_counter) {
  ExchangeReply reply;
  if (!socket.Sock_Read(kSlot, int32_t(kFrameHeaderLength), header_counter)) {
    socket.Sock_Close(kSlot);  // a late answer must not be taken for the next one
    Say(program, wording.header_failed);
    return reply;
  }
  if (socket.Field_Decode('A', 1, 1, 1, 0).text != std::string(1, kOutcomeServed)) {
    reply.outcome = ExchangeReply::Outcome::kRefused;
    Say(program, wording.refused);
    return reply;
  }
  int32_t length = 0;
  const std::string_view digits = socket.MessageData().substr(1, kFrameLengthDigits);
  const bool read =
      ParseZonedLength(digits, &length).ok() &&
      (code == kRequestImage ? socket.Sock_ReadText(kSlot, length, data_counter, &reply.raw)
                             : socket.Sock_Read(kSlot, length, data_counter));
  if (!read) {
    socket.Sock_Close(kSlot);  // the rest of this reply may still come
    reply.raw.clear();
    Say(program, wording.data_failed);
    return reply;
  }
  reply.outcome = ExchangeReply::Outcome::kServed;
  reply.length = length;
  return reply;
}

ExchangeReply Run(SocketLayer& socket, Program& program, char code, std::string_view data,
                  const Wording& wording, int32_t& header_counter, int32_t& data_counter) {
  if (!Send(socket, program, code, data, wording)) return ExchangeReply{};
  return Read(socket, program, code, wording, header_counter, data_counter);
}

}  // namespace

ExchangeReply Exchange(SocketLayer& socket, Program& program, std::string_view routine, char code,
                       std::string_view data, int32_t& delay_counter) {
  return Run(socket, program, code, data, WordingFor(routine, code), delay_counter, delay_counter);
}

bool SendRequest(SocketLayer& socket, Program& program, std::string_view routine, char code,
                 std::string_view data) {
  return Send(socket, program, code, data, WordingFor(routine, code));
}

ExchangeReply ReadReply(SocketLayer& socket, Program& program, std::string_view routine, char code,
                        int32_t& delay_counter) {
  return Read(socket, program, code, WordingFor(routine, code), delay_counter, delay_counter);
}

ExchangeReply ExchangeStatement(SocketLayer& socket, Program& program, std::string_view routine,
                                std::string_view statement, bool repeated, int32_t& header_counter,
                                int32_t& data_counter) {
  const std::string r = Routine(routine);
  Wording w;
  w.send_failed = r + "Errore Sock_Send {R}";
  w.header_failed = r + "Errore Sock_Read {R}(" + (repeated ? "2" : "1") + ")";
  w.refused = r + "Errore stato";
  w.data_failed = r + "Errore lettura stato";
  return Run(socket, program, kRequestStatement, statement, w, header_counter, data_counter);
}

bool ReadGreeting(SocketLayer& socket, int32_t& delay_counter) {
  if (!socket.Sock_Read(kSlot, int32_t(kFrameHeaderLength), delay_counter)) {
    socket.Sock_Close(kSlot);
    return false;
  }
  return socket.Field_Decode('A', 1, 1, 1, 0).text == std::string(1, kOutcomeServed);
}

}  // namespace torvan::hostlink
