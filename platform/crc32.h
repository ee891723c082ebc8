// CRC-32 (IEEE 802.3, the zlib polynomial) of a byte string: how Torvan's state files
// tell a whole record from a torn one.
#pragma once

#include <cstdint>
#include <string_view>

namespace torvan::platform {

uint32_t Crc32(std::string_view bytes);

}  // namespace torvan::platform
