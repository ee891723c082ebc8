// Host field decoding and encoding: a field in its stored host form (EBCDIC text, zoned
// decimal, packed decimal, big-endian integer) to the PC text that reaches the SQL
// statements, and back.
//
// Torvan decodes every field of every replicated record and every catalogue entry with
// `Field_Decode`; torvan-host encodes its records with `Field_Encode`. The functions work
// on any byte buffer (the socket layer passes its `MessageBuffer`) and never read outside
// it: a position, a length or a value they cannot decode is a fault in the result, which
// the caller's error handling takes, never a crash.
//
// Field types, as the catalogue records them:
//   'A' text, one byte per character: translated, same length, not trimmed; a NUL byte
//       shows as "Ø".
//   'S' zoned decimal: digits, a "." before the last `decimals` digits when
//       0 < decimals <= length, "-" in front when negative ("012.34", "-012.34").
//   'P' packed decimal: 2 x length - 1 digits, a "." before the last `decimals` digits
//       when decimals > 0, then a space for the sign half-byte, "-" in front when negative
//       ("123.45 ", "-123.45 ").
//   'B' big-endian two's-complement integer of up to 64 bits, decimal without leading
//       zeros ("256", "-2"); with decimals > 0 it holds the value times 10^decimals, and
//       the text has a "." before the last `decimals` digits ("1.25", "-0.05").
//   any other type: empty text.
// Signs: half-bytes B and D are negative, every other one positive (the host writes F
// and D).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hostlink/char_table.h"
#include "platform/status.h"

namespace torvan::hostlink {

// The field types, as the catalogue and torvan-host's data folder write them: one letter.
enum class FieldType : char { kText = 'A', kZoned = 'S', kPacked = 'P', kBinary = 'B' };

// The type `letter` names: exactly one of "A", "S", "P", "B"; nullopt for any other text.
std::optional<FieldType> ParseFieldType(std::string_view letter);

// Whether a field is text ("A"): translated, not a number.
inline bool IsTextField(FieldType type) { return type == FieldType::kText; }
inline bool IsTextField(std::string_view tipo) { return ParseFieldType(tipo) == FieldType::kText; }

// The letter Field_Decode and Field_Encode take for the catalogue's type `tipo`: its first
// character, ' ' (no type: empty text) when it is empty.
inline char TypeLetter(std::string_view tipo) { return tipo.empty() ? ' ' : tipo[0]; }

// The bytes a field of `type` with `digits` digits takes on the host: text one a
// character (up to a record's kMaxRecordLength), zoned one a digit and packed digits / 2 +
// 1 (up to 31 digits), binary 2 up to 4 digits, 4 up to 9 and 8 up to 19 (SQL's SMALLINT,
// INTEGER and BIGINT). 0 when `digits` is out of the type's range.
int32_t FieldBytes(FieldType type, int32_t digits);

// Whether a field of `type` and `digits` may take `bytes` bytes in a record the host
// writes: a binary field 2, 4 or 8 whatever its digits (a SMALLINT's 5 digits take 2), any
// other type exactly FieldBytes. Field_Decode reads more layouts than these (a binary
// field of any length while its value fits 64 bits), as a catalogue may describe them.
bool HostFieldLayout(FieldType type, int32_t digits, int32_t bytes);

// The most decimals a binary field may have: the digits of the widest decimal an SQL column
// holds. A value with more could reach no column, and its text would be padded with as
// many zeros as a damaged catalogue entry asks for.
inline constexpr int32_t kMaxBinaryDecimals = 38;

// A decoded field: the text when status is ok; on a fault the status says why (a Fault)
// and the text is empty.
struct FieldText {
  Status status;
  std::string text;
  bool ok() const { return status.ok(); }
};

// Decodes the field of `length` bytes at 1-based position `start` of `message`.
// `digits` is the declared number of digits (not used to decode); `decimals` the number
// of decimal places. Faults: the field not wholly inside `message` (start below 1, length
// below 1), a packed byte of 0xA0 or more, more packed decimals than digits, a type B
// value beyond the signed 64-bit range or with more than kMaxBinaryDecimals decimals.
FieldText Field_Decode(const CharTables& tables, std::string_view message, char type, int32_t start,
                       int32_t length, int32_t digits, int32_t decimals);

// The same, appending the text to `*out` (left as it was on a fault), for callers that
// build a longer text from many fields.
Status Field_DecodeAppend(const CharTables& tables, std::string_view message, char type,
                          int32_t start, int32_t length, int32_t digits, int32_t decimals,
                          std::string* out);

// An amount: the packed field of 9 bytes (17 digits, 3 decimals) at `start`, as exactly
// 20 characters: " " or "-", fourteen digits, ".", three digits, a space
// ("-00000000000123.456 "). Faults as for type P.
FieldText Field_DecodeAmount(std::string_view message, int32_t start);

// Encodes the PC text `value` as a host field of `bytes` bytes, the inverse of
// Field_Decode (its output is accepted back):
//   'A' the text translated, padded with host blanks; a text longer than the field is
//       refused unless the excess is blanks.
//   'S', 'P' an optional sign, digits, an optional "." and digits, blanks around it;
//       positive values get sign F, negative ones D; a value with more integer digits than
//       the field holds (bytes for S, 2 x bytes - 1 for P, fewer when `digits` says so),
//       or with significant decimals beyond `decimals`, is refused.
//   'B' a number with at most `decimals` significant decimals whose value times
//       10^decimals fits in `bytes` bytes and in 64 bits.
// On success `*host_bytes` holds exactly `bytes` bytes; on refusal it is untouched and the
// Status (InvalidArgument) says why.
Status Field_Encode(const CharTables& tables, char type, std::string_view value, int32_t bytes,
                    int32_t digits, int32_t decimals, std::string* host_bytes);

}  // namespace torvan::hostlink
