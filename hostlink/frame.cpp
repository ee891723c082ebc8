#include "hostlink/frame.h"

#include <algorithm>
#include <iterator>

namespace torvan::hostlink {

namespace {

std::string Printable(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : bytes) {
    const uint8_t b = uint8_t(c);
    if (!out.empty()) out += ' ';
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
  }
  return out;
}

}  // namespace

bool IsRequestCode(char code) {
  return std::find(std::begin(kRequestCodes), std::end(kRequestCodes), code) !=
         std::end(kRequestCodes);
}

Status BuildRequest(char code, std::string_view data, std::string* frame) {
  if (data.size() > size_t(kMaxRequestData)) {
    return Status::InvalidArgument(std::string("request ") + code + " of " +
                                   std::to_string(data.size()) + " bytes of data cannot be framed");
  }
  std::string out;
  out.reserve(kFrameHeaderLength + data.size());
  out += code;
  std::string digits = std::to_string(data.size());
  out.append(kFrameLengthDigits - digits.size(), '0');
  out += digits;
  out += data;
  *frame = std::move(out);
  return Status::Ok();
}

Status BuildReplyHeader(const CharTables& tables, char outcome, int32_t length,
                        std::string* header) {
  if (length < 0 || length > kMaxReplyData) {
    return Status::InvalidArgument("reply length " + std::to_string(length) + " out of range");
  }
  std::string out(kFrameHeaderLength, '\0');
  out[0] = char(tables.PcToHost(uint8_t(outcome)));
  int32_t rest = length;
  for (size_t i = kFrameHeaderLength; i-- > 1;) {
    out[i] = char(kZoneDigit | (rest % 10));
    rest /= 10;
  }
  *header = std::move(out);
  return Status::Ok();
}

Status ParseLengthDigits(std::string_view five, int32_t max, int32_t* length) {
  bool digits = five.size() == kFrameLengthDigits;
  int32_t value = 0;
  for (size_t i = 0; digits && i < five.size(); ++i) {
    digits = five[i] >= '0' && five[i] <= '9';
    value = value * 10 + (five[i] - '0');
  }
  if (!digits) {
    return Status::InvalidArgument(std::string("length \"").append(five) + "\" is not five digits");
  }
  if (value > max) {
    return Status::InvalidArgument("length " + std::to_string(value) + " above " +
                                   std::to_string(max));
  }
  *length = value;
  return Status::Ok();
}

Status ParseZonedLength(std::string_view five_host_bytes, int32_t* length) {
  bool digits = five_host_bytes.size() == kFrameLengthDigits;
  int32_t value = 0;
  for (size_t i = 0; digits && i < five_host_bytes.size(); ++i) {
    const uint8_t b = uint8_t(five_host_bytes[i]);
    const uint8_t zone = b >> 4;
    const bool last = i + 1 == five_host_bytes.size();
    const bool zone_ok = zone == 0x0F || (last && (zone == 0x0A || zone == 0x0C || zone == 0x0E));
    digits = zone_ok && (b & 0x0F) <= 9;
    value = value * 10 + (b & 0x0F);
  }
  if (!digits) {
    return Status::InvalidArgument("reply length " + Printable(five_host_bytes) +
                                   " is not five zoned digits");
  }
  if (value > kMaxReplyData) {
    return Status::InvalidArgument("reply length " + std::to_string(value) + " above " +
                                   std::to_string(kMaxReplyData));
  }
  *length = value;
  return Status::Ok();
}

}  // namespace torvan::hostlink
