#include "hostlink/field.h"

#include <limits>

#include "hostlink/host_format.h"

namespace torvan::hostlink {

namespace {

std::string Where(int64_t start, int64_t length) {
  return "position " + std::to_string(start) + " length " + std::to_string(length);
}

// The field's bytes, or a fault when they are not wholly inside the message.
Status FieldSpan(std::string_view message, int32_t start, int32_t length, std::string_view* bytes) {
  const int64_t first = start;
  const int64_t last = int64_t(start) + int64_t(length) - 1;
  if (first < 1 || length < 1 || last > int64_t(message.size())) {
    return Status::Fault("field at " + Where(start, length) + " outside the " +
                         std::to_string(message.size()) + " bytes of the message");
  }
  *bytes = message.substr(size_t(first - 1), size_t(length));
  return Status::Ok();
}

Status PackedFault(int64_t start, size_t index, uint8_t b) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex = {kHex[b >> 4], kHex[b & 0x0F]};
  return Status::Fault("packed byte " + hex + " at position " +
                       std::to_string(start + int64_t(index)) + " is not two digits");
}

void DecodeText(const CharTables& tables, std::string_view bytes, std::string* out) {
  for (char c : bytes) {
    const uint8_t b = uint8_t(c);
    *out += b == 0 ? kNulCharacter : char(tables.HostToPc(b));
  }
}

void DecodeZoned(std::string_view bytes, int32_t decimals, std::string* out) {
  const uint8_t last = uint8_t(bytes.back());
  if (IsNegativeSign(last >> 4)) *out += '-';
  const size_t length = bytes.size();
  const bool point = decimals > 0 && size_t(decimals) <= length;
  const size_t integer_digits = point ? length - size_t(decimals) : length;
  for (size_t i = 0; i < length; ++i) {
    if (point && i == integer_digits) *out += '.';
    // A half-byte above 9 gives the characters after "9" (":" to "?"), as the host's data
    // says; it is not a fault.
    *out += char('0' + (uint8_t(bytes[i]) & 0x0F));
  }
}

Status DecodePacked(std::string_view bytes, int32_t start, int32_t decimals, std::string* out) {
  const size_t digits = 2 * bytes.size() - 1;
  if (decimals > 0 && size_t(decimals) > digits) {
    return Status::Fault("packed field at " + Where(start, int64_t(bytes.size())) + " has " +
                         std::to_string(decimals) + " decimals but " + std::to_string(digits) +
                         " digits");
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (uint8_t(bytes[i]) >= kFirstNonPackedByte) return PackedFault(start, i, uint8_t(bytes[i]));
  }
  if (IsNegativeSign(uint8_t(bytes.back()) & 0x0F)) *out += '-';
  const size_t point_at = decimals > 0 ? digits - size_t(decimals) : SIZE_MAX;
  size_t written = 0;
  for (char c : bytes) {
    std::string_view pair = kPackedDigitTable[uint8_t(c)];
    for (char d : pair) {
      if (written == point_at) *out += '.';
      *out += d;
      ++written;
    }
  }
  return Status::Ok();
}

Status DecodeBinary(std::string_view bytes, int32_t start, int32_t decimals, std::string* out) {
  if (decimals > kMaxBinaryDecimals) {
    return Status::Fault("binary field at " + Where(start, int64_t(bytes.size())) + " has " +
                         std::to_string(decimals) + " decimals (at most " +
                         std::to_string(kMaxBinaryDecimals) + ")");
  }
  // The value must fit in 64 bits: every byte before the last eight only repeats the sign.
  const bool negative = (uint8_t(bytes.front()) & 0x80) != 0;
  const uint8_t extension = negative ? 0xFF : 0x00;
  const size_t lead = bytes.size() > 8 ? bytes.size() - 8 : 0;
  bool fits = true;
  for (size_t i = 0; i < lead; ++i) fits = fits && uint8_t(bytes[i]) == extension;
  if (lead > 0) fits = fits && ((uint8_t(bytes[lead]) & 0x80) != 0) == negative;
  if (!fits) {
    return Status::Fault("binary field at " + Where(start, int64_t(bytes.size())) +
                         " does not fit in 64 bits");
  }
  uint64_t u = negative ? ~uint64_t(0) : 0;
  for (size_t i = lead; i < bytes.size(); ++i) u = u << 8 | uint8_t(bytes[i]);
  // The magnitude of the two's-complement value, also for the lowest one.
  const uint64_t magnitude = negative ? ~u + 1 : u;
  std::string digits = std::to_string(magnitude);
  if (negative) *out += '-';
  if (decimals > 0) {
    // A binary field with decimals holds its value times 10^decimals, as the host keeps it.
    if (digits.size() <= size_t(decimals))
      digits.insert(0, size_t(decimals) + 1 - digits.size(), '0');
    digits.insert(digits.size() - size_t(decimals), 1, '.');
  }
  *out += digits;
  return Status::Ok();
}

}  // namespace

std::optional<FieldType> ParseFieldType(std::string_view letter) {
  if (letter.size() != 1) return std::nullopt;
  switch (letter[0]) {
    case 'A':
    case 'S':
    case 'P':
    case 'B':
      return FieldType(letter[0]);
    default:
      return std::nullopt;
  }
}

int32_t FieldBytes(FieldType type, int32_t digits) {
  if (digits < 1) return 0;
  switch (type) {
    case FieldType::kText:
      return digits <= change_record::kMaxRecordLength ? digits : 0;
    case FieldType::kZoned:
      return digits <= 31 ? digits : 0;
    case FieldType::kPacked:
      return digits <= 31 ? digits / 2 + 1 : 0;
    case FieldType::kBinary:
      return digits <= 4 ? 2 : digits <= 9 ? 4 : digits <= 19 ? 8 : 0;
  }
  return 0;
}

bool HostFieldLayout(FieldType type, int32_t digits, int32_t bytes) {
  if (FieldBytes(type, digits) == 0) return false;
  if (type == FieldType::kBinary) return bytes == 2 || bytes == 4 || bytes == 8;
  return bytes == FieldBytes(type, digits);
}

Status Field_DecodeAppend(const CharTables& tables, std::string_view message, char type,
                          int32_t start, int32_t length, int32_t /*digits*/, int32_t decimals,
                          std::string* out) {
  if (type != 'A' && type != 'S' && type != 'P' && type != 'B') return Status::Ok();
  std::string_view bytes;
  Status s = FieldSpan(message, start, length, &bytes);
  if (!s.ok()) return s;
  switch (type) {
    case 'A':
      DecodeText(tables, bytes, out);
      return Status::Ok();
    case 'S':
      DecodeZoned(bytes, decimals, out);
      return Status::Ok();
    case 'P': {
      const size_t before = out->size();
      s = DecodePacked(bytes, start, decimals, out);
      if (!s.ok()) out->resize(before);
      return s;
    }
    default:
      return DecodeBinary(bytes, start, decimals, out);
  }
}

FieldText Field_Decode(const CharTables& tables, std::string_view message, char type, int32_t start,
                       int32_t length, int32_t digits, int32_t decimals) {
  FieldText result;
  result.status =
      Field_DecodeAppend(tables, message, type, start, length, digits, decimals, &result.text);
  return result;
}

FieldText Field_DecodeAmount(std::string_view message, int32_t start) {
  FieldText result;
  std::string_view bytes;
  result.status = FieldSpan(message, start, kAmountBytes, &bytes);
  if (!result.ok()) return result;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (uint8_t(bytes[i]) >= kFirstNonPackedByte) {
      result.status = PackedFault(start, i, uint8_t(bytes[i]));
      return result;
    }
  }
  std::string& text = result.text;
  text.reserve(kAmountTextLength);
  text += IsNegativeSign(uint8_t(bytes.back()) & 0x0F) ? '-' : ' ';
  for (size_t i = 0; i < 7; ++i) text += kPackedDigitTable[uint8_t(bytes[i])];
  text += '.';
  text += kPackedDigitTable[uint8_t(bytes[7])];
  text += kPackedDigitTable[uint8_t(bytes[8])];
  return result;
}

// ---- Encoding --------------------------------------------------------------------------

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Quoted(std::string_view value) {
  std::string q(1, '"');
  q += value;
  q += '"';
  return q;
}

struct Number {
  bool negative = false;
  std::string integer;   // without leading zeros
  std::string fraction;  // without trailing zeros
};

Status ParseNumber(std::string_view value, bool allow_fraction, Number* n) {
  std::string_view s = TrimBlanks(value);
  const std::string quoted = Quoted(value);
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    n->negative = s.front() == '-';
    s.remove_prefix(1);
  }
  size_t i = 0;
  while (i < s.size() && IsDigit(s[i])) ++i;
  std::string_view integer = s.substr(0, i);
  std::string_view fraction;
  if (i < s.size() && s[i] == '.' && allow_fraction) {
    size_t j = i + 1;
    while (j < s.size() && IsDigit(s[j])) ++j;
    fraction = s.substr(i + 1, j - i - 1);
    i = j;
  }
  if (i != s.size() || (integer.empty() && fraction.empty())) {
    return Status::InvalidArgument(quoted + " is not a number");
  }
  while (!integer.empty() && integer.front() == '0') integer.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  n->integer = std::string(integer);
  n->fraction = std::string(fraction);
  if (n->integer.empty() && n->fraction.empty()) n->negative = false;  // no negative zero
  return Status::Ok();
}

// The value's digits, exactly `capacity` of them with `decimals` after the point.
Status DecimalDigits(std::string_view value, size_t capacity, size_t limit, size_t decimals,
                     Number* n, std::string* digits) {
  Status s = ParseNumber(value, true, n);
  if (!s.ok()) return s;
  const size_t integer_room = std::min(capacity, limit) - decimals;
  if (n->integer.size() > integer_room || n->fraction.size() > decimals) {
    return Status::InvalidArgument(Quoted(value) + " does not fit in " +
                                   std::to_string(integer_room) + " integer digits and " +
                                   std::to_string(decimals) + " decimals");
  }
  *digits = std::string(capacity - decimals - n->integer.size(), '0') + n->integer + n->fraction +
            std::string(decimals - n->fraction.size(), '0');
  return Status::Ok();
}

}  // namespace

Status Field_Encode(const CharTables& tables, char type, std::string_view value, int32_t bytes,
                    int32_t digits, int32_t decimals, std::string* host_bytes) {
  if (bytes < 1 || bytes > int32_t(kMaxReplyData)) {
    return Status::InvalidArgument("field length " + std::to_string(bytes) + " out of range");
  }
  const size_t length = size_t(bytes);
  switch (type) {
    case 'A': {
      std::string_view text = value;
      if (text.size() > length) {
        if (TrimBlanks(text.substr(length)).size() > 0) {
          return Status::InvalidArgument("text of " + std::to_string(text.size()) +
                                         " characters does not fit in " + std::to_string(length));
        }
        text = text.substr(0, length);
      }
      std::string out = tables.ToHost(text);
      out.append(length - text.size(), char(tables.PcToHost(' ')));
      *host_bytes = std::move(out);
      return Status::Ok();
    }
    case 'S':
    case 'P': {
      const size_t capacity = type == 'S' ? length : 2 * length - 1;
      size_t places = decimals > 0 ? size_t(decimals) : 0;
      // Zoned fields with more decimals than bytes are read without a point.
      if (type == 'S' && places > length) places = 0;
      if (places > capacity) {
        return Status::InvalidArgument(std::to_string(decimals) + " decimals in a field of " +
                                       std::to_string(capacity) + " digits");
      }
      const size_t limit = digits > 0 && size_t(digits) >= places ? size_t(digits) : capacity;
      Number n;
      std::string d;
      Status s = DecimalDigits(value, capacity, limit, places, &n, &d);
      if (!s.ok()) return s;
      const uint8_t sign = n.negative ? kSignNegative : kSignPositive;
      std::string out(length, '\0');
      if (type == 'S') {
        for (size_t i = 0; i < length; ++i) out[i] = char(kZoneDigit | (d[i] - '0'));
        out[length - 1] = char((sign << 4) | (d[length - 1] - '0'));
      } else {
        d += char('0' + sign);  // the sign takes the last half-byte
        for (size_t i = 0; i < length; ++i) {
          out[i] = char(((d[2 * i] - '0') << 4) | (d[2 * i + 1] - '0'));
        }
      }
      *host_bytes = std::move(out);
      return Status::Ok();
    }
    case 'B': {
      const size_t places = decimals > 0 ? size_t(decimals) : 0;
      Number n;
      Status s = ParseNumber(value, true, &n);
      if (!s.ok()) return s;
      // The value times 10^decimals, as a whole number of the field's bytes (at most 64
      // bits; the bytes before the last eight repeat the sign).
      const std::string whole =
          n.integer + n.fraction + std::string(places - std::min(places, n.fraction.size()), '0');
      const size_t bits = std::min<size_t>(length * 8, 64);
      const uint64_t highest = (uint64_t(1) << (bits - 1)) - 1;  // the lowest is -highest - 1
      uint64_t magnitude = 0;
      bool fits = n.fraction.size() <= places && whole.size() <= 20;
      for (char c : whole) {
        if (!fits) break;
        const uint64_t digit = uint64_t(c - '0');
        fits = magnitude <= (UINT64_MAX - digit) / 10;
        magnitude = magnitude * 10 + digit;
      }
      fits = fits && magnitude <= highest + (n.negative ? 1 : 0);
      if (!fits) {
        return Status::InvalidArgument(Quoted(value) + " does not fit in a " +
                                       std::to_string(length) + "-byte binary field with " +
                                       std::to_string(places) + " decimals");
      }
      uint64_t u = n.negative ? ~magnitude + 1 : magnitude;
      const char extension = n.negative && magnitude != 0 ? '\xFF' : '\0';
      std::string out(length, extension);
      for (size_t i = length; i-- > (length > 8 ? length - 8 : 0);) {
        out[i] = char(u & 0xFF);
        u >>= 8;
      }
      *host_bytes = std::move(out);
      return Status::Ok();
    }
    default:
      return Status::InvalidArgument(std::string("field type \"") + type + "\" cannot be encoded");
  }
}

}  // namespace torvan::hostlink
