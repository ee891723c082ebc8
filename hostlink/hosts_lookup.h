// Name to IPv4 address through the hosts file only (Torvan does not ask DNS here).
// Used by the settings reader for the presence check's address and by the server checks.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/status.h"

namespace torvan {

// Returns the IPv4 address of `name` in network byte order (as inet_addr gives it), or 0.
//
// The hosts file is read line by line; the first line that contains the name (compared
// without regard to case) decides: when the name stands at the first character the text to
// parse is the name itself, otherwise the part of the line before the name. When no line
// contains the name, the name itself is parsed. The text must be four decimal parts joined
// by "." (each read as its leading number, 0..255, blanks around it ignored); anything
// else gives 0.
//
// A hosts file that cannot be read is taken as empty (so a dotted address still gives
// itself); when `status` is given, the reason is left there.
uint32_t Hosts_Lookup(std::string_view name, Status* status = nullptr);

// Parses "a.b.c.d" (blanks around each part ignored); 0 when it is not such a text.
uint32_t ParseDottedAddress(std::string_view text);

// "a.b.c.d" for an address in network byte order.
std::string AddressText(uint32_t address);

}  // namespace torvan
