// The generator of the character table file "TnC_TBL1.Tbl" from the system's iconv
// conversions between the host's EBCDIC code and Windows-1252.
//
// Used by the torvan-chartable tool, which wrote the shipped data/TnC_TBL1.Tbl, and by
// the test that keeps the shipped file equal to what the generator makes.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "hostlink/host_format.h"
#include "platform/status.h"

namespace torvan::tools {

// The host-to-PC table for host code `host_charset` and PC code `pc_charset` (iconv
// names, "IBM280" and "CP1252" for Torvan's table). Each host byte becomes the PC byte of
// the same character. The control characters U+0080..U+009F that the host code has and
// Windows-1252 lacks keep their code as the PC byte (the round-trip mapping IBM's own
// conversion tables use), so every host byte has its own PC byte and text survives a trip
// to the host and back. Fails when iconv lacks a code or the result is not one-to-one.
Status GenerateHostToPc(const std::string& host_charset, const std::string& pc_charset,
                        std::array<uint8_t, hostlink::kCharTableLength>* host_to_pc);

// The whole table file for Italian EBCDIC (CCSID 280) against Windows-1252.
Status GenerateItalianTableFile(std::string* file_bytes);

}  // namespace torvan::tools
