// The message exchange with the host's server program: one request frame, one reply.
//
// Every caller of the link (link start, catalogue load, replication in both directions,
// image transfer) runs its requests through these functions on the link slot, so the
// frames, the reads and the wording of the messages are the same everywhere. An exchange
// that fails writes its one message to the message log and reports; the request is not
// repeated.
//
// A read that fails (the header or the data part did not come whole: time-out, a
// connection the host closed, a stop request; or a length that cannot be read) leaves the
// link out of step: the host may still send the answer, which would then be taken as
// the answer to the next request. So such an exchange closes the link slot
// (SocketLayer::Sock_Close) before it returns, and every later exchange on it fails at
// once with its own "Errore Sock_Read" message, until the link is opened again. The
// callers (link start, catalogue load, replication steps) see a closed link through
// SocketLayer::connected(kLinkSlot). A refused outcome (not "0") is a whole reply: the
// link stays open and in step.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/program.h"
#include "hostlink/socket_layer.h"

namespace torvan::hostlink {

struct ExchangeReply {
  enum class Outcome {
    kServed,      // outcome "0" and the data part read
    kRefused,     // the host answered with another outcome: refused, or nothing (more)
    kReadFailed,  // the header or the data part could not be read (or the length was
                  // bad): the link slot is closed
  };
  Outcome outcome = Outcome::kReadFailed;
  int32_t length = 0;  // length of the data part when served
  std::string raw;     // code I: the data part, untranslated; MessageBuffer is left alone

  bool served() const { return outcome == Outcome::kServed; }
};

// Sends "<code><5-digit length><data>" on the link slot and reads the reply. When served,
// the data part is at the start of MessageBuffer (code I: in `raw`) and its fields are
// read with SocketLayer::Field_Decode by position. Empty polls of both reads count in
// `delay_counter`.
//
// Messages, with routine R and code C:
//   header not read            "[R] Errore Sock_Read {C}(1)"   (none for I)
//   outcome not "0", P and T   "[R] Errore Esito {C}"          (none for S, I, 3, 1, 2)
//   length not 0..8192 digits,
//   or data part not read      "[R] Errore Sock_Read {C}(2)"   (none for I)
// Code R is served by ExchangeStatement, with its own wording.
ExchangeReply Exchange(SocketLayer& socket, Program& program, std::string_view routine, char code,
                       std::string_view data, int32_t& delay_counter);

// Exchange in two halves, for a caller that works while the reply travels: SendRequest
// sends the frame (false, after its message, when the frame cannot be made: then there is
// no reply to read), ReadReply reads the reply as Exchange does, with the same messages.
// Nothing else may use the link slot between the two.
bool SendRequest(SocketLayer& socket, Program& program, std::string_view routine, char code,
                 std::string_view data);
ExchangeReply ReadReply(SocketLayer& socket, Program& program, std::string_view routine, char code,
                        int32_t& delay_counter);

// The R exchange of an SQL statement for the host. The header read counts its empty
// polls in `header_counter`, the data read in `data_counter`. Messages:
//   header not read            "[R] Errore Sock_Read {R}(1)", or "{R}(2)" for the
//                              `repeated` second statement of an update
//   outcome not "0"            "[R] Errore stato"
//   length bad / data not read "[R] Errore lettura stato"
// When served, position 1 of the data part is the statement's status.
ExchangeReply ExchangeStatement(SocketLayer& socket, Program& program, std::string_view routine,
                                std::string_view statement, bool repeated, int32_t& header_counter,
                                int32_t& data_counter);

// The host's greeting at link start: a bare 6-byte reply header whose outcome is "0"
// (its length is not looked at, no data part follows). False, with no message, when it
// cannot be read (the slot is then closed) or its outcome is another.
bool ReadGreeting(SocketLayer& socket, int32_t& delay_counter);

}  // namespace torvan::hostlink
