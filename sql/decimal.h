// Exact decimal texts for numeric(p,s) values.
//
// SQL Server's numeric(p,s) keeps every digit; so must Torvan's SQLite engine, whose REAL
// type keeps only about 15. The engine stores decimals as canonical text and whole numbers
// of up to 18 digits as 64-bit integers; these helpers parse the values written in
// statements ("0001234.50 ", " 00000000000123.456 ", "-12"), round and check them the way
// SQL Server converts to numeric(p,s), and write the canonical text that recordsets show.
//
// Canonical text: "-" when negative, the integer digits without leading zeros ("0" when
// there are none), and with scale > 0 a "." and exactly `scale` decimals: "1234.50",
// "-0.50", "0.00", "12345678901234.567", "15". Zero is never negative.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace torvan::sql {

struct Decimal {
  bool negative = false;
  std::string integer;   // digits, no leading zeros, empty for 0
  std::string fraction;  // digits, no trailing zeros
};

// Parses blanks, an optional sign, digits with an optional "." (at least one digit in
// all), an optional exponent ("e" or "E", optional sign, digits), blanks. nullopt for
// anything else.
std::optional<Decimal> ParseDecimal(std::string_view text);

enum class Rounding {
  kHalfAwayFromZero,  // SQL Server's conversion to numeric(p,s)
  kDown,              // towards minus infinity: the largest value of the scale not above
  kUp,                // towards plus infinity: the smallest value of the scale not below
};

// The value rounded to `scale` decimals, as canonical text.
std::string DecimalText(const Decimal& value, int scale,
                        Rounding rounding = Rounding::kHalfAwayFromZero);

// The number of decimals the value needs to be written exactly.
inline int SignificantDecimals(const Decimal& value) { return int(value.fraction.size()); }

// Converts a value text to numeric(precision, scale) as SQL Server does on assignment:
// rounded to `scale` decimals, then refused when it needs more than precision - scale
// integer digits. `*canonical` receives the canonical text. Failures: InvalidArgument
// "Error converting data type varchar to numeric." for a text that is not a number,
// Fault "Arithmetic overflow error converting numeric to data type numeric." for a value
// that does not fit.
Status ToNumeric(std::string_view text, int precision, int scale, std::string* canonical);

// The text form of a stored value of a numeric column with `scale` decimals: canonical
// text when the stored text is a number (whatever wrote it: an integer, "12.5", a REAL's
// "1.5e+20"), else the stored text unchanged.
std::string NumericDisplayText(std::string_view stored, int scale);

// The canonical text as a 64-bit integer, for whole numbers of at most 18 digits.
std::optional<int64_t> CanonicalToInt64(std::string_view canonical);

// The value as a 64-bit integer when it is whole and within the 64-bit range.
std::optional<int64_t> WholeInt64(const Decimal& value);

// The number of significant digits: from the first non-zero digit to the last ("0.0050"
// and "5" have 1, "1200.5" has 5; 0 has none).
int SignificantDigits(const Decimal& value);

// The shortest decimal text that reads back as exactly `value` ("12.5", "0.1",
// "1.2345678901234567e+16"), for reading a stored double.
std::string DoubleText(double value);

}  // namespace torvan::sql
