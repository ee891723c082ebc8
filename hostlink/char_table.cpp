#include "hostlink/char_table.h"

#include <algorithm>

#include "platform/file.h"

namespace torvan::hostlink {

std::array<uint8_t, kCharTableLength> DerivePcToHost(
    const std::array<uint8_t, kCharTableLength>& host_to_pc) {
  std::array<uint8_t, kCharTableLength> pc_to_host{};
  for (size_t b = 0; b < kCharTableLength; ++b) pc_to_host[host_to_pc[b]] = uint8_t(b);
  return pc_to_host;
}

CharTables::CharTables() : pc_to_host_(DerivePcToHost(host_to_pc_)) {}

CharTables::CharTables(const std::array<uint8_t, kCharTableLength>& host_to_pc)
    : host_to_pc_(host_to_pc), pc_to_host_(DerivePcToHost(host_to_pc)) {}

std::string CharTables::ToPc(std::string_view host_bytes) const {
  std::string out(host_bytes.size(), '\0');
  for (size_t i = 0; i < host_bytes.size(); ++i) {
    out[i] = char(host_to_pc_[uint8_t(host_bytes[i])]);
  }
  return out;
}

std::string CharTables::ToHost(std::string_view pc_text) const {
  std::string out(pc_text.size(), '\0');
  for (size_t i = 0; i < pc_text.size(); ++i) out[i] = char(pc_to_host_[uint8_t(pc_text[i])]);
  return out;
}

namespace {

// The PC characters every host text Torvan reads or writes is made of: request codes,
// names, flags, the reserved index field "\xA7_T_IDX___".
bool MustRoundTrip(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ' || c == 0xA7;
}

std::string Quoted(uint8_t c) { return "\"" + std::string(1, char(c)) + "\""; }

}  // namespace

Status CheckCharTableFile(std::string_view file_bytes, const CharTables& tables) {
  if (file_bytes.size() != kCharTableFileLength) {
    std::string fault = "lunga " + std::to_string(file_bytes.size()) + " byte invece di " +
                        std::to_string(kCharTableFileLength);
    if (file_bytes.size() < kCharTableFileLength) {
      return Status::IoError(fault + ": le voci mancanti valgono 0");
    }
    return Status::InvalidArgument(fault + ": non \xE8 una tabella caratteri");
  }
  for (uint8_t d = 0; d <= 9; ++d) {
    const uint8_t host = uint8_t(kZoneDigit | d);
    const uint8_t pc = uint8_t('0' + d);
    if (tables.HostToPc(host) != pc || tables.PcToHost(pc) != host) {
      return Status::InvalidArgument("la cifra " + Quoted(pc) + " non corrisponde al byte host " +
                                     "F" + std::to_string(d));
    }
  }
  for (int c = 0; c < 256; ++c) {
    if (MustRoundTrip(uint8_t(c)) && tables.HostToPc(tables.PcToHost(uint8_t(c))) != c) {
      return Status::InvalidArgument("nessun byte host corrisponde al carattere " +
                                     Quoted(uint8_t(c)));
    }
  }
  return Status::Ok();
}

Status CharTablesFromFileBytes(std::string_view file_bytes, CharTables* tables) {
  std::array<uint8_t, kCharTableLength> host_to_pc{};
  std::string_view table =
      file_bytes.size() > kCharTableHeaderLength ? file_bytes.substr(kCharTableHeaderLength) : "";
  const size_t have = std::min(table.size(), kCharTableLength);
  for (size_t i = 0; i < have; ++i) host_to_pc[i] = uint8_t(table[i]);
  *tables = CharTables(host_to_pc);
  return CheckCharTableFile(file_bytes, *tables);
}

Status LoadCharTables(const std::string& path, CharTables* tables) {
  std::string bytes;
  Status read = platform::ReadFile(path, &bytes);
  if (!read.ok()) {
    *tables = CharTables();
    return read.code() == Status::Code::kNotFound ? Status::NotFound(path + ": file non trovato")
                                                  : Status::IoError(path + ": " + read.message());
  }
  Status s = CharTablesFromFileBytes(bytes, tables);
  if (s.code() == Status::Code::kIoError) return Status::IoError(path + ": " + s.message());
  if (!s.ok()) return Status::InvalidArgument(path + ": " + s.message());
  return s;
}

std::string CharTableFileBytes(const std::array<uint8_t, kCharTableLength>& host_to_pc,
                               uint16_t host_ccsid, uint16_t pc_code_page) {
  std::string out;
  out.reserve(kCharTableFileLength);
  out += kCharTableMagic[0];
  out += kCharTableMagic[1];
  static_assert(kCharTableHostCcsidOffset == 2 && kCharTablePcCodePageOffset == 4);
  out += char(host_ccsid >> 8);
  out += char(host_ccsid & 0xFF);
  out += char(pc_code_page >> 8);
  out += char(pc_code_page & 0xFF);
  for (uint8_t b : host_to_pc) out += char(b);
  return out;
}

}  // namespace torvan::hostlink
