// CRC-32 (IEEE 802.3, the zlib polynomial) of a byte string: how Torvan's state files
// tell a whole record from a torn one.
#pragma once

#include <cstdint>
#include <string_view>

namespace torvan::platform {

uint32_t Crc32(std::string_view bytes);
// The CRC of the bytes `crc` was computed over followed by `bytes`:
// Crc32Extend(Crc32(a), b) == Crc32(a + b), and Crc32Extend(0, b) == Crc32(b).
uint32_t Crc32Extend(uint32_t crc, std::string_view bytes);

}  // namespace torvan::platform
