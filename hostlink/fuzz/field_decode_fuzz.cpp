#include <cstdlib>
#include <string_view>

#include "hostlink/field.h"
#include "hostlink/fuzz/fuzz_targets.h"
#include "platform/fuzz_check.h"

namespace torvan::hostlink::fuzz {

namespace {

using platform::fuzz::Check;

CharTables FuzzTables() {
  std::array<uint8_t, kCharTableLength> host_to_pc{};
  for (size_t i = 0; i < host_to_pc.size(); ++i) host_to_pc[i] = uint8_t(i ^ 0x5A);
  return CharTables(host_to_pc);
}

// Text lengths a decoded field must have.
void CheckShape(char type, int32_t length, int32_t decimals, const std::string& text) {
  const size_t n = size_t(length);
  const size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
  switch (type) {
    case 'A':
      Check(text.size() == n);
      break;
    case 'S':
      Check(text.size() == n + sign + (decimals > 0 && size_t(decimals) <= n ? 1 : 0));
      break;
    case 'P':
      Check(text.size() == 2 * n + sign + (decimals > 0 ? 1 : 0));
      Check(text.back() == ' ' || (text.back() >= '0' && text.back() <= '9'));
      break;
    case 'B':
      // A sign, at most 20 digits (19 for 64 bits, or the zeros before a point), a point.
      Check(!text.empty() && text.size() <= 22);
      break;
    default:
      Check(text.empty());
  }
}

}  // namespace

int FuzzFieldDecode(const uint8_t* data, size_t size) {
  static const CharTables tables = FuzzTables();
  if (size < 6) return 0;
  static constexpr char kTypes[] = {'A', 'S', 'P', 'B', 'X'};
  const char type = kTypes[data[0] % sizeof kTypes];
  const std::string_view message(reinterpret_cast<const char*>(data + 6), size - 6);
  const int32_t span = int32_t(message.size()) + 4;
  // Positions and lengths as a catalogue would give them, a little beyond the message too.
  int32_t start = int32_t((data[1] << 8 | data[2]) % span) - 1;
  int32_t length = int32_t((data[3] << 8 | data[4]) % 24) - 1;
  const int32_t decimals = int8_t(data[5]) % 20;
  if (data[0] & 0x80) {  // now and then the extremes
    start = (data[1] & 1) ? INT32_MAX : INT32_MIN;
    length = (data[2] & 1) ? INT32_MAX : -length;
  }

  const FieldText f = Field_Decode(tables, message, type, start, length, 9, decimals);
  const bool inside =
      start >= 1 && length >= 1 && int64_t(start) + length - 1 <= int64_t(message.size());
  if (type == 'X') {
    Check(f.ok() && f.text.empty());
  } else if (!inside) {
    Check(!f.ok() && f.text.empty());
  }
  if (f.ok()) {
    CheckShape(type, length, decimals, f.text);
    // What the encoder accepts of a decoded text must decode to the same text (packed
    // fields only when their last half-byte was a sign, as the encoder writes one).
    std::string host;
    const bool signed_field = type != 'P' || f.text.back() == ' ';
    if (type != 'A' && signed_field &&
        Field_Encode(tables, type, f.text, length, 0, decimals, &host).ok()) {
      Check(host.size() == size_t(length));
      const FieldText again = Field_Decode(tables, host, type, 1, length, 0, decimals);
      // The encoder writes zero as positive; the host may hold a negative zero.
      const bool negative_zero =
          f.text[0] == '-' && f.text.find_first_of("123456789") == std::string::npos;
      Check(again.ok() && again.text == (negative_zero ? f.text.substr(1) : f.text));
    }
  } else {
    Check(f.status.code() == Status::Code::kFault && f.text.empty());
  }

  const FieldText amount = Field_DecodeAmount(message, start);
  if (amount.ok()) {
    Check(amount.text.size() == kAmountTextLength);
    Check(amount.text[0] == ' ' || amount.text[0] == '-');
    Check(amount.text[15] == '.');
    Check(amount.text[19] == ' ' || (amount.text[19] >= '0' && amount.text[19] <= '9'));
  }
  return 0;
}

}  // namespace torvan::hostlink::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::hostlink::fuzz::FuzzFieldDecode(data, size);
}
#endif
