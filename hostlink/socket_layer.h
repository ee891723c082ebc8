// The socket layer: Torvan's only use of TCP, for the two conversations with the host
// that never overlap (the FTP command that starts the host's server program, then the
// message link with that program).
//
// One SocketLayer lives beside the Program for the whole process; the link start/stop
// routines, the FTP client, the message exchange, the catalogue load and the replication
// steps call it, on the one thread. It owns three socket slots (callers use slot 1), one
// ReceiveBuffer shared by all slots (it belongs to the conversation in progress), the
// MessageBuffer that holds the last message part read, and the character tables.
//
// Every wait is a poll followed by the program's events, so the windows stay responsive
// and a reply is taken the moment it arrives: a connect polls in steps of 10 ms for at
// most PollLimits::connect (20 s), a read polls for up to `Attesa_Sincronizz`
// milliseconds (10 ms for lines), a send that finds the socket full waits like a read. A
// wait that ends without data is an "empty poll": the reads count them in the caller's
// counter and give up after their limit (60000 for messages and awaited lines, 50 for
// lines not awaited). A stop request seen after the events of an empty poll ends a wait
// (platform/event_pump.h, rule 2): the program's end (Fine_Richiesta) at once, the
// operator's stop (Stop_Richiesto) once the wait has gone kStopGrace without data, so an
// exchange under way with a host that answers is not cut.
//
// A connection the host closed (recv gives 0, or an error such as ECONNRESET) is known
// at once: the read fails without waiting and the slot is marked closed (connected()
// is false, every later read or send on it fails at once). Bytes received before the
// close stay in the ReceiveBuffer until the slot is closed or connected again.
//
// No routine shows a message: results are booleans (and Status or ReadEnd where a cause
// helps); the callers write the messages.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/program.h"
#include "hostlink/char_table.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"
#include "platform/status.h"

namespace torvan::hostlink {

class SocketLayer {
 public:
  static constexpr int kSlots = 3;
  static constexpr int kLinkSlot = 1;  // the slot of the FTP conversation and the link

  // How long the waits keep polling. Production values; tests shorten them.
  struct PollLimits {
    int32_t read = 60000;                      // empty polls of Sock_Read and Sock_ReadText
    int32_t line_wait = 60000;                 // empty polls of Sock_ReadLine awaiting a reply
    int32_t line_no_wait = 50;                 // empty polls of Sock_ReadLine not awaiting one
    std::chrono::milliseconds line_pause{10};  // one poll of Sock_ReadLine
    // The longest wait of Sock_Connect for the connection, in real time: a host that
    // drops connection requests costs this instead of the system's two minutes.
    std::chrono::milliseconds connect{20000};
  };
  // One poll of Sock_Connect.
  static constexpr std::chrono::milliseconds kConnectPause{10};

  // How a line read ended.
  enum class ReadEnd {
    kDone,     // the line was taken
    kLimit,    // more empty polls than the limit
    kClosed,   // the connection was closed (by the host, by an event), or the slot is empty
    kStopped,  // a stop request ended the wait
    kTooLong,  // a line filled the whole ReceiveBuffer without its CR LF (bytes dropped)
  };

  // `program` must outlive the layer; its settings and pump are read at every wait.
  explicit SocketLayer(Program& program);
  ~SocketLayer();  // closes every open slot
  SocketLayer(const SocketLayer&) = delete;
  SocketLayer& operator=(const SocketLayer&) = delete;

  // Starts the layer and reads the character tables from `table_path`. When the layer is
  // already started it returns true at once and reads nothing. A table file that is
  // missing, of the wrong length or not a character table (LoadCharTables) does not fail
  // the start, but table_status() says so, naming the file and the fault; callers must
  // not open the link then. `description`, when given, receives a text naming the socket
  // interface.
  bool Sock_Start(const std::string& table_path, std::string* description = nullptr);
  // Closes every slot and marks the layer stopped; the next Sock_Start rereads the tables.
  void Sock_Stop();
  bool started() const { return started_; }
  // What reading the table file at the last Sock_Start gave.
  const Status& table_status() const { return table_status_; }

  // Connects `slot` to `host` (name or dotted IPv4) on `port`: empties the ReceiveBuffer,
  // sets linger on with 0 seconds (a close resets the connection at once) and makes the
  // socket non-blocking. The connection is awaited in polls of kConnectPause that let
  // events run; false when it is refused, when PollLimits::connect passes without an
  // answer (a host that drops the request) or when a stop is requested. On success
  // `*address_text` = "<address>:<port>"; it is left unchanged when the host cannot be
  // resolved or the port is not within 1..65534. A slot that still held a socket is
  // closed first.
  bool Sock_Connect(int slot, std::string_view host, int32_t port, std::string* address_text);
  // Closes the slot's socket, if any, and discards what the ReceiveBuffer holds: the
  // conversation is over.
  void Sock_Close(int slot);
  // The slot holds an open socket (false once the host closed the connection).
  bool connected(int slot) const;

  // Sends exactly n bytes: the first min(n, text length) characters of `text` and then
  // blanks, each translated to the host code. Every byte is sent (a partial send is
  // continued; a full socket is waited for like a read, a stop request ends the wait);
  // the Status tells whether it went, callers may ignore it. A connection found closed
  // marks the slot closed.
  Status Sock_Send(int slot, std::string_view text, int32_t n);
  // Sends the bytes as they are (the FTP conversation), every one of them.
  Status Sock_SendRaw(int slot, std::string_view bytes);

  // Takes the next n bytes (1..8192) into the start of MessageBuffer. False when n is out
  // of range (nothing is read and no buffer touched), when the connection is closed and
  // the bytes held are fewer than n (at once, with no empty poll), after more than the
  // read limit of empty polls, or on a stop request; each empty poll adds 1 to `counter`.
  bool Sock_Read(int slot, int32_t n, int32_t& counter);
  // The same, handing the n bytes to `*bytes` untranslated; MessageBuffer is left alone.
  bool Sock_ReadText(int slot, int32_t n, int32_t& counter, std::string* bytes);
  // Takes the next line ended by CR LF, without the CR LF and untranslated. With `wait`
  // (a reply is awaited) it gives up after the awaited-line limit and sets the line to
  // "?"; without, after the not-awaited limit (50 polls of 10 ms) with the line ">". A
  // closed connection, a stop request and a line that fills the whole ReceiveBuffer
  // (16384 bytes) without its CR LF end it the same way at once.
  bool Sock_ReadLine(int slot, std::string* line, bool wait);
  // The same with the cause; `*line` is empty unless kDone.
  ReadEnd ReadLine(int slot, std::string* line, bool wait);
  // Discards what the ReceiveBuffer holds (bytes that came after a complete reply).
  void DiscardReceived() { fill_ = 0; }

  // Told, after every empty poll of a read, how long the read has waited without data, so
  // that a caller can say what it waits for; empty by default. Set it for one conversation
  // and clear it after (SilenceWatch).
  std::function<void(std::chrono::milliseconds silent)> on_silence;

  // IPv4 address of a dotted text or host name, network order; 255.255.255.255 (all
  // ones) when it cannot be resolved.
  static uint32_t Sock_Resolve(std::string_view host);
  // Dotted text of an IPv4 address in network order.
  static std::string Sock_AddressText(uint32_t address);
  // Linger on/off with `seconds` on socket `fd`; 0 on success, -1 on failure.
  static int Sock_SetLinger(int fd, bool on, int seconds);

  // Field_Decode and Field_DecodeAmount over MessageBuffer (position 1 = its first byte,
  // all 16384 bytes addressable).
  FieldText Field_Decode(char type, int32_t start, int32_t length, int32_t digits,
                         int32_t decimals) const;
  FieldText Field_DecodeAmount(int32_t start) const;

  // All of MessageBuffer, and the bytes of the last message part Sock_Read took.
  std::string_view MessageBuffer() const;
  std::string_view MessageData() const;
  // Bytes received and not yet taken.
  size_t ReceiveFill() const { return fill_; }
  const CharTables& tables() const { return tables_; }

  // For tests, fuzzing and benchmarks: makes the connected stream socket `fd` the slot's
  // socket (non-blocking, owned by the layer from now on) and empties the ReceiveBuffer.
  Status Sock_Adopt(int slot, int fd);
  void SetPollLimitsForTesting(const PollLimits& limits) { limits_ = limits; }
  const PollLimits& poll_limits() const { return limits_; }

 private:
  // True when a stop request ends the wait in progress (empty since empty_since_).
  bool StopEndsWait() const;
  static constexpr std::chrono::milliseconds kStopGrace{1000};
  std::chrono::steady_clock::time_point empty_since_{};

  bool ValidSlot(int slot) const { return slot >= 0 && slot < kSlots; }
  int Fd(int slot) const { return ValidSlot(slot) ? sockets_[slot] : -1; }
  std::chrono::milliseconds Attesa() const;
  // One wait for data: true when `fd` became readable within `pause`.
  bool WaitForData(int fd, std::chrono::milliseconds pause);
  // The outcome of one poll: kData (something came, or may have), kEmpty (nothing came
  // within the pause), kFull (the ReceiveBuffer has no room), or how the read ends.
  enum class Poll { kData, kEmpty, kFull, kLimit, kClosed, kStopped };
  // One receive into the ReceiveBuffer. When nothing came it is an empty poll: the wait is
  // made, it is counted (in `empty_polls` and `*counter`) and events run; kLimit when the
  // count passes `limit`, kStopped when a stop was requested meanwhile. A connection found
  // closed (or a slot without a socket) is kClosed at once.
  Poll PollOnce(int slot, std::chrono::milliseconds pause, int32_t limit, int32_t& empty_polls,
                int32_t* counter);
  // Receives until the ReceiveBuffer holds n bytes.
  ReadEnd Fill(int slot, size_t n, int32_t& counter);
  // Waits for a connection under way on `fd`; true when it was made.
  bool AwaitConnection(int fd);
  // Closes the slot's socket after the host closed the connection; the bytes received
  // before stay in the ReceiveBuffer.
  void MarkClosed(int slot);
  // Removes the first n bytes of the ReceiveBuffer, copying them to `to` unless null.
  void Take(size_t n, char* to);
  Status SendAll(int slot, const char* bytes, size_t n);

  Program& program_;
  PollLimits limits_;
  bool started_ = false;
  Status table_status_;
  CharTables tables_;
  std::array<int, kSlots> sockets_{-1, -1, -1};
  std::array<char, kReceiveBufferSize> receive_{};
  size_t fill_ = 0;
  std::array<char, kMessageBufferSize> message_{};
  size_t message_length_ = 0;
};

}  // namespace torvan::hostlink
