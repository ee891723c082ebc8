#include "tools/char_table_gen.h"

#include <errno.h>
#include <iconv.h>

#include <vector>

#include "hostlink/char_table.h"

namespace torvan::tools {

namespace {

class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The conversion of one input byte; false when the character has no form in the target.
  bool Convert(uint8_t byte, std::string* out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    char in[1] = {char(byte)};
    char buffer[16];
    char* in_ptr = in;
    size_t in_left = 1;
    char* out_ptr = buffer;
    size_t out_left = sizeof buffer;
    if (iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left) == size_t(-1)) return false;
    out->assign(buffer, sizeof buffer - out_left);
    return in_left == 0;
  }

 private:
  iconv_t cd_;
};

}  // namespace

Status GenerateHostToPc(const std::string& host_charset, const std::string& pc_charset,
                        std::array<uint8_t, hostlink::kCharTableLength>* host_to_pc) {
  Converter to_pc(pc_charset, host_charset);
  Converter to_unicode("UTF-32BE", host_charset);
  if (!to_pc.ok() || !to_unicode.ok()) {
    return PosixError("iconv " + host_charset + " to " + pc_charset, errno);
  }
  std::array<uint8_t, hostlink::kCharTableLength> table{};
  std::vector<int> owner(hostlink::kCharTableLength, -1);
  for (size_t b = 0; b < table.size(); ++b) {
    std::string pc;
    if (!to_pc.Convert(uint8_t(b), &pc)) {
      std::string u;
      if (!to_unicode.Convert(uint8_t(b), &u) || u.size() != 4) {
        return Status::InvalidArgument(host_charset + " byte " + std::to_string(b) +
                                       " has no character");
      }
      const uint32_t cp = uint32_t(uint8_t(u[0])) << 24 | uint32_t(uint8_t(u[1])) << 16 |
                          uint32_t(uint8_t(u[2])) << 8 | uint32_t(uint8_t(u[3]));
      if (cp < 0x80 || cp > 0x9F) {
        return Status::InvalidArgument(host_charset + " byte " + std::to_string(b) + " has no " +
                                       pc_charset + " character");
      }
      pc = std::string(1, char(cp));
    }
    if (pc.size() != 1) {
      return Status::InvalidArgument(host_charset + " byte " + std::to_string(b) + " is not one " +
                                     pc_charset + " byte");
    }
    const uint8_t code = uint8_t(pc[0]);
    if (owner[code] >= 0) {
      return Status::InvalidArgument(host_charset + " bytes " + std::to_string(owner[code]) +
                                     " and " + std::to_string(b) + " share " + pc_charset +
                                     " byte " + std::to_string(code));
    }
    owner[code] = int(b);
    table[b] = code;
  }
  *host_to_pc = table;
  return Status::Ok();
}

Status GenerateItalianTableFile(std::string* file_bytes) {
  std::array<uint8_t, hostlink::kCharTableLength> host_to_pc{};
  Status s = GenerateHostToPc("IBM280", "CP1252", &host_to_pc);
  if (!s.ok()) return s;
  *file_bytes = hostlink::CharTableFileBytes(host_to_pc, hostlink::kHostCcsidItalian,
                                             hostlink::kPcCodePageWindows1252);
  return Status::Ok();
}

}  // namespace torvan::tools
