// Reachability: one ICMP echo to a server, reported as a text, before Torvan tries to use
// it. The server checks (presence check of the host and of the SQL machines) and the
// start of the links call Ping_Host; Hosts_Lookup (hosts_lookup.h) gives the address and
// platform::Hosts_FilePath (platform/hosts_file.h) the hosts file.
//
// On Linux the echo goes through an ICMP datagram socket when the system allows it
// (net.ipv4.ping_group_range) and through a raw socket otherwise. Every failure, a
// missing permission included, is a failed result with a status text; nothing is thrown.
#pragma once

#include <cstdint>
#include <string>

namespace torvan::hostlink {

// The outcome of one echo.
struct PingResult {
  std::string message;       // "   OK : completato in <n>ms." or "*** errore : <status text>"
  int32_t milliseconds = 0;  // the round trip on success, otherwise the time-out
  bool failed = true;
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
};

// The text of a status code ("Success", "Requested IP timed out", ...; "Unindentified"
// for a code the table does not know; "No permission to ping" for kIcmpNoPermission).
std::string Icmp_StatusText(int32_t status);

// Sends one echo carrying "Echo this string of data" with time to live `ttl` to `address`
// (IPv4, network byte order) and waits up to `timeout_ms` for the answer. A reply later
// than the time-out counts as timed out.
PingResult Ping_Host(int32_t ttl, int32_t timeout_ms, uint32_t address);

}  // namespace torvan::hostlink
