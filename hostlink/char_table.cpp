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

Status CharTablesFromFileBytes(std::string_view file_bytes, CharTables* tables) {
  std::array<uint8_t, kCharTableLength> host_to_pc{};
  std::string_view table =
      file_bytes.size() > kCharTableHeaderLength ? file_bytes.substr(kCharTableHeaderLength) : "";
  const size_t have = std::min(table.size(), kCharTableLength);
  for (size_t i = 0; i < have; ++i) host_to_pc[i] = uint8_t(table[i]);
  *tables = CharTables(host_to_pc);
  if (file_bytes.size() < kCharTableFileLength) {
    return Status::IoError("character table: " + std::to_string(file_bytes.size()) + " of " +
                           std::to_string(kCharTableFileLength) +
                           " bytes; the missing table entries are 0");
  }
  return Status::Ok();
}

Status LoadCharTables(const std::string& path, CharTables* tables) {
  std::string bytes;
  Status read = platform::ReadFile(path, &bytes);
  if (!read.ok()) {
    *tables = CharTables();
    return read.code() == Status::Code::kNotFound
               ? Status::NotFound("character table " + path + " not found; all entries are 0")
               : Status::IoError(read.message() + "; all character table entries are 0");
  }
  Status s = CharTablesFromFileBytes(bytes, tables);
  if (!s.ok()) return Status::IoError(path + ": " + s.message());
  return s;
}

std::string CharTableFileBytes(const std::array<uint8_t, kCharTableLength>& host_to_pc,
                               uint16_t host_ccsid, uint16_t pc_code_page) {
  std::string out;
  out.reserve(kCharTableFileLength);
  out += kCharTableMagic[0];
  out += kCharTableMagic[1];
  out += char(host_ccsid >> 8);
  out += char(host_ccsid & 0xFF);
  out += char(pc_code_page >> 8);
  out += char(pc_code_page & 0xFF);
  for (uint8_t b : host_to_pc) out += char(b);
  return out;
}

}  // namespace torvan::hostlink
