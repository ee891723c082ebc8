// Reachability: one ICMP echo to a server, reported as a text, before Torvan tries to use
// it. The server checks (presence check of the host and of the SQL machines) and the
// start of the links call Ping_Host; Hosts_Lookup (hosts_lookup.h) gives the address and
// platform::Hosts_FilePath (platform/hosts_file.h) the hosts file.
//
// On Linux the echo goes through an ICMP datagram socket when the system allows it
// (net.ipv4.ping_group_range) and through a raw socket otherwise. Every failure, a
// missing permission included, is a failed result with a status text; nothing is thrown.
// The answer is awaited like every wait of the host link: in polls of kPingPause that
// let the program's events run, and a stop request (RunState::StopRequested) ends it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "core/program.h"

namespace torvan::hostlink {

// The outcome of one echo.
struct PingResult {
  std::string message;       // "   OK : completato in <n>ms." or "*** errore : <status text>"
  int32_t milliseconds = 0;  // the round trip on success, otherwise the time-out
  bool failed = true;
  int32_t status = 0;  // IcmpStatus: kIcmpSuccess, or why it failed
};

// Status codes of an echo, as the ICMP service numbers them.
enum IcmpStatus : int32_t {
  kIcmpSuccess = 0,
  kIcmpDestinationNetUnreachable = 11002,
  kIcmpDestinationHostUnreachable = 11003,
  kIcmpDestinationProtocolUnreachable = 11004,
  kIcmpDestinationPortUnreachable = 11005,
  kIcmpNoResources = 11006,
  kIcmpPacketTooBig = 11009,
  kIcmpRequestTimedOut = 11010,
  kIcmpBadRoute = 11012,
  kIcmpTtlExpiredTransit = 11013,
  kIcmpTtlExpiredReassembly = 11014,
  kIcmpParameterProblem = 11015,
  kIcmpSourceQuench = 11016,
  kIcmpGeneralFailure = 11050,
  // Not one of the service's codes: this process may open no ICMP socket.
  kIcmpNoPermission = -1,
  // Not one of the service's codes: a stop request ended the wait.
  kIcmpStopped = -2,
};

// One poll of the wait for the answer.
inline constexpr std::chrono::milliseconds kPingPause{10};

// The text of a status code ("Success", "Requested IP timed out", ...; "Unindentified"
// for a code the table does not know; "No permission to ping" for kIcmpNoPermission,
// "Attesa interrotta" for kIcmpStopped).
std::string Icmp_StatusText(int32_t status);

// Sends one echo carrying "Echo this string of data" with time to live `ttl` to `address`
// (IPv4, network byte order) and waits up to `timeout_ms` for the answer, letting the
// events of `program` run after every poll. A reply later than the time-out counts as
// timed out; a stop request gives "*** errore : Attesa interrotta" with the time-out.
PingResult Ping_Host(Program& program, int32_t ttl, int32_t timeout_ms, uint32_t address);

// The wait of Ping_Host for the answer to an echo already sent, on its own for tests
// (which give it any datagram socket): polls of kPingPause on `fd` until the answer, an
// ICMP error about the echo, the time-out after `sent`, or a stop request.
struct EchoWait {
  int fd = -1;           // ICMP datagram socket (raw: a raw ICMP socket); not owned
  bool raw = false;      // replies come with their IP header and from everybody
  uint32_t address = 0;  // the echo's destination, network order (raw only)
  uint16_t id = 0;       // identifier and sequence of the echo, network order
  uint16_t sequence = 0;
  std::chrono::steady_clock::time_point sent;
  int32_t timeout_ms = 0;
};
PingResult AwaitEcho(Program& program, const EchoWait& wait);

// Whether the machine at `address` (IPv4, network order) answers a TCP connection to `port`
// within `timeout_ms`: it accepts it, or refuses it (a machine that refuses answers). The
// presence check's way when this process may not ping (kIcmpNoPermission). Waits in polls
// of kPingPause that let the events of `program` run; a stop request ends it with false.
bool Tcp_Risponde(Program& program, uint32_t address, int32_t port, int32_t timeout_ms);

}  // namespace torvan::hostlink
