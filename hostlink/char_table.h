// Character tables between the host's EBCDIC code and the PC's Windows-1252 code, and the
// packed-digit table of the field decoder.
//
// The socket layer loads the tables at link start from "TnC_TBL1.Tbl" (layout in
// host_format.h); torvan-host loads the same file so both ends speak one code. The
// tables are plain values: copy them freely.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "hostlink/host_format.h"
#include "platform/status.h"

namespace torvan::hostlink {

class CharTables {
 public:
  // All host-to-PC entries 0 (no table loaded), as an unreadable table file leaves them:
  // every host byte reads as PC code 0, PC code 0 is sent as host byte 255 and every
  // other PC character as host byte 0.
  CharTables();
  // Tables from a host-to-PC table; the PC-to-host table is derived from it.
  explicit CharTables(const std::array<uint8_t, kCharTableLength>& host_to_pc);

  // `HostToPcTable`[b]: the PC code of host byte b.
  uint8_t HostToPc(uint8_t host) const { return host_to_pc_[host]; }
  // `PcToHostTable`[c]: the host byte of PC code c; 0 for a code no host byte maps to.
  uint8_t PcToHost(uint8_t pc) const { return pc_to_host_[pc]; }

  // Whole texts, byte by byte, same length.
  std::string ToPc(std::string_view host_bytes) const;
  std::string ToHost(std::string_view pc_text) const;

  const std::array<uint8_t, kCharTableLength>& host_to_pc() const { return host_to_pc_; }
  const std::array<uint8_t, kCharTableLength>& pc_to_host() const { return pc_to_host_; }

 private:
  std::array<uint8_t, kCharTableLength> host_to_pc_{};
  std::array<uint8_t, kCharTableLength> pc_to_host_{};
};

// The PC-to-host table of a host-to-PC table: all entries 0, then for b = 0..255 in this
// order entry host_to_pc[b] = b, so when several host bytes map to one PC code the
// highest of them wins.
std::array<uint8_t, kCharTableLength> DerivePcToHost(
    const std::array<uint8_t, kCharTableLength>& host_to_pc);

// Reads a table file and checks it (CheckCharTableFile). The table bytes that the file
// does not hold (missing file, short file) stay 0 and the tables are built from what was
// read, so `*tables` is always usable; a Status that is not ok says what is wrong, as
// "<path>: <fault>" in Italian for the operator: NotFound for a missing file, IoError for
// a short or unreadable one, InvalidArgument for a file that is not a character table.
Status LoadCharTables(const std::string& path, CharTables* tables);

// The same from the bytes of a table file; the fault is not prefixed with a path.
Status CharTablesFromFileBytes(std::string_view file_bytes, CharTables* tables);

// Whether `file_bytes`, with `tables` built from them, is a character table: its length and
// the characters that must map both ways (the rules in host_format.h). The six header
// bytes are not looked at: every site's table file has its own.
// The first rule broken is named in Italian ("la cifra \"3\" non corrisponde al byte host
// F3"); IoError for a short file, InvalidArgument otherwise.
Status CheckCharTableFile(std::string_view file_bytes, const CharTables& tables);

// The bytes of a table file for `host_to_pc`, with Torvan's own header naming the two
// codes ("T1", CCSID, code page: what the generator writes; no reader depends on it).
std::string CharTableFileBytes(const std::array<uint8_t, kCharTableLength>& host_to_pc,
                               uint16_t host_ccsid = kHostCcsidItalian,
                               uint16_t pc_code_page = kPcCodePageWindows1252);

// `PackedDigitTable`: the two characters of each packed byte 0x00..0x9F. For high
// half-byte h and low half-byte l: digit h and digit l when l is 0..9, digit h and a
// space when l is a sign (10..15). Bytes of 0xA0 and above have no entry.
class PackedDigitTable {
 public:
  static constexpr size_t kEntries = kFirstNonPackedByte;

  constexpr PackedDigitTable() {
    for (size_t i = 0; i < kEntries; ++i) {
      const size_t low = i & 0x0F;
      entries_[i][0] = char('0' + (i >> 4));
      entries_[i][1] = low <= 9 ? char('0' + low) : ' ';
    }
  }
  // The two characters of byte `b`; `b` must be below 0xA0.
  constexpr std::string_view operator[](uint8_t b) const {
    return std::string_view(entries_[b].data(), 2);
  }

 private:
  std::array<std::array<char, 2>, kEntries> entries_{};
};

inline constexpr PackedDigitTable kPackedDigitTable{};

}  // namespace torvan::hostlink
